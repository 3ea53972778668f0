#ifndef PLACES_H
#define PLACES_H

#include <QString>
#include <QStringList>

// Where the programs keep and find what is theirs, so that an installed copy
// works from any working folder for any user. On Linux:
//   settings       ./ups.ini when one is there, else ~/.config/ups/ups.ini
//   trusted keys   /etc/ups/trusted-keys, ~/.config/ups/trusted-keys, and
//                  trusted-keys beside ./ups.ini when that file is there
//   unpacked       beside the package, else ~/.cache/ups/NAME-DIGEST
//   translation    ups_zh.qm beside the program (a build or a Windows
//                  folder), else ../share/ups/translations from it
//   events.md      ../share/doc/ups-flash from the program, else beside it
// On Windows the per-user folders are in the roaming application data
// folder and the system's trusted keys sit beside the program.
namespace places {

// The settings file in the working folder that keeps being used when present.
constexpr char kWorkingSettingsFile[] = "ups.ini";
constexpr char kTrustedKeysFolder[] = "trusted-keys";
// The setting that refuses every package no trusted key signed.
constexpr char kRequireSignatureKey[] = "require-signature";

// ./ups.ini (absolute) when it exists, else ups.ini in the user's folder.
QString settingsFile();
// The user's configuration folder of this tool (made by the first write).
QString userFolder();
// The system's folder of trusted keys.
QString systemTrustedKeys();
// Every folder of trusted keys, in the order they are read: the system's,
// the user's, then the one beside a ./ups.ini that exists.
QStringList trustedKeyFolders();
// The per-user cache folder a package is unpacked into when its own folder
// cannot be written: named after the package (without ".zip") and the first
// 16 hex digits of its SHA-256.
QString packageCacheFolder(const QString &packageName, const QString &sha256Hex);
// The Chinese translation of the programs; empty when none is found.
QString translationFile();
// The description of ups-flash's JSON events (events.md): in the doc folder
// of an installed copy (../share/doc/ups-flash from the program) or beside
// the program (a Windows folder); empty when neither is there (a build tree:
// it is docs/events.md in the source).
QString eventsDocument();

} // namespace places

#endif // PLACES_H
