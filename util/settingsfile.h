#ifndef SETTINGSFILE_H
#define SETTINGSFILE_H

#include <QCoreApplication>
#include <QString>
#include <QVariant>

// Settings in an INI file (where it lives: places::settingsFile()); every
// call opens and drops its own QSettings, so that two programs sharing the
// file see each other's writes.
class settingsFile
{
    Q_DECLARE_TR_FUNCTIONS(settingsFile)

public:
    static bool read(const QString &fileName, const QString &key, QVariant &out);
    // A switch: on when the key is there and does not read as off ("false",
    // "0", "no", "off"), so that a misspelt value errs on the careful side.
    static bool readSwitch(const QString &fileName, const QString &key);
    // False, with the reason in *problem when given, when the file could
    // not be written (its folder is made on the first write).
    static bool write(const QString &fileName, const QString &key, const QVariant &value, QString *problem = nullptr);

private:
    static QString problemText(const QString &fileName, int status);
};

#endif // SETTINGSFILE_H
