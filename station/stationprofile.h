#ifndef STATIONPROFILE_H
#define STATIONPROFILE_H

#include <QCoreApplication>
#include <QList>
#include <QString>

// What an engineer prepares for a station and an operator only opens: the
// package, the report, the trust, how a slot starts and whether the unit's
// serial number is asked for, and one port per slot. Kept as a small INI
// file (KEY = VALUE lines); a profile is taken whole or not at all.
class stationProfile
{
    Q_DECLARE_TR_FUNCTIONS(stationProfile)

public:
    enum class Start { OnConnect, Manual };
    enum class Serial { None, Optional, Required };
    struct slot
    {
        int number = 0; // N of slot.N
        QString port;
    };

    static constexpr int kMaxSlots = 64;
    static constexpr int kMaxRetries = 10;
    static constexpr qint64 kMaxFileBytes = 64 * 1024;

    QString package;     // absolute
    QString report;      // absolute
    QString trustedKeys; // a folder, absolute; empty for none
    int retries = 0;
    bool requireSignature = false;
    Start start = Start::OnConnect;
    Serial serial = Serial::None;
    QList<slot> slotList; // by number

    // Reads PATH. Relative paths in it are taken from the profile's own
    // folder. False with one line in *problem, naming the key (or the
    // line) at fault, for anything it cannot take.
    static bool load(const QString &path, stationProfile *profile, QString *problem);
    // The profile as load() reads it back.
    QString text() const;
    // Writes the text through a temporary file renamed into place.
    bool save(const QString &path, QString *problem) const;

private:
    bool take(const QString &key, const QString &value, const QString &folder, QString *problem);
    bool takeSlot(const QString &key, const QString &value, QString *problem);
    bool check(QString *problem) const;
};

#endif // STATIONPROFILE_H
