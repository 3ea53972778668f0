#include "util/places.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

const char kToolName[] = "ups";
const char kTranslationName[] = "ups_zh.qm";
const char kInstalledTranslations[] = "/../share/ups/translations/";
const char kInstalledEventsDocument[] = "/../share/doc/ups-flash/events.md";
const char kEventsDocumentName[] = "events.md";
const int kCacheDigestLength = 16;

// The first of the candidates that is a file, cleaned; empty when none is.
QString firstFile(const QStringList &candidates)
{
    for (const QString &candidate : candidates) {
        if (QFileInfo(candidate).isFile())
            return QDir::cleanPath(candidate);
    }
    return QString();
}

// Every program of the tool shares one folder whatever its own name is
// (ups, ups-flash): the location is asked for under the tool's name.
QString locationOfTool(QStandardPaths::StandardLocation location)
{
    const QString program = QCoreApplication::applicationName();
    const QString organisation = QCoreApplication::organizationName();
    QCoreApplication::setApplicationName(QString::fromLatin1(kToolName));
    QCoreApplication::setOrganizationName(QString());
    const QString path = QStandardPaths::writableLocation(location);
    QCoreApplication::setApplicationName(program);
    QCoreApplication::setOrganizationName(organisation);
    return path;
}

} // namespace

namespace places {

QString settingsFile()
{
    const QFileInfo working(QString::fromLatin1(kWorkingSettingsFile));
    if (working.exists())
        return working.absoluteFilePath();
    return userFolder() + QLatin1Char('/') + QLatin1String(kWorkingSettingsFile);
}

QString userFolder()
{
#ifdef Q_OS_WIN
    return locationOfTool(QStandardPaths::AppDataLocation); // roaming
#else
    return locationOfTool(QStandardPaths::AppConfigLocation);
#endif
}

QString systemTrustedKeys()
{
#ifdef Q_OS_WIN
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(kTrustedKeysFolder);
#else
    return QStringLiteral("/etc/ups/") + QLatin1String(kTrustedKeysFolder);
#endif
}

QStringList trustedKeyFolders()
{
    QStringList folders {systemTrustedKeys(), userFolder() + QLatin1Char('/') + QLatin1String(kTrustedKeysFolder)};
    const QFileInfo working(QString::fromLatin1(kWorkingSettingsFile));
    if (working.exists())
        folders << working.absolutePath() + QLatin1Char('/') + QLatin1String(kTrustedKeysFolder);
    return folders;
}

QString packageCacheFolder(const QString &packageName, const QString &sha256Hex)
{
    return locationOfTool(QStandardPaths::CacheLocation) + QLatin1Char('/') + packageName + QLatin1Char('-')
        + sha256Hex.left(kCacheDigestLength);
}

QString translationFile()
{
    const QString programFolder = QCoreApplication::applicationDirPath();
    return firstFile({programFolder + QLatin1Char('/') + QLatin1String(kTranslationName),
                      programFolder + QLatin1String(kInstalledTranslations) + QLatin1String(kTranslationName)});
}

QString eventsDocument()
{
    const QString programFolder = QCoreApplication::applicationDirPath();
    return firstFile({programFolder + QLatin1String(kInstalledEventsDocument),
                      programFolder + QLatin1Char('/') + QLatin1String(kEventsDocumentName)});
}

} // namespace places
