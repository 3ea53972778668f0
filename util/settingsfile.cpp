#include "util/settingsfile.h"

#include <QFileInfo>
#include <QSettings>
#include <QStringList>

#include "util/qtcompat.h"

bool settingsFile::read(const QString &fileName, const QString &key, QVariant &out)
{
    QSettings settings(fileName, QSettings::IniFormat);
    qtcompat::useUtf8(settings);
    out = settings.value(key, QVariant());
    return !out.isNull();
}

bool settingsFile::readSwitch(const QString &fileName, const QString &key)
{
    QVariant value;
    if (!read(fileName, key, value))
        return false;
    const QString text = value.toString().trimmed().toLower();
    return !QStringList {QStringLiteral("false"), QStringLiteral("0"), QStringLiteral("no"), QStringLiteral("off")}
                .contains(text);
}

bool settingsFile::write(const QString &fileName, const QString &key, const QVariant &value, QString *problem)
{
    QSettings settings(fileName, QSettings::IniFormat);
    qtcompat::useUtf8(settings);
    settings.setValue(key, value);
    settings.sync();
    if (settings.status() == QSettings::NoError)
        return true;
    if (problem)
        *problem = problemText(fileName, settings.status());
    return false;
}

// QSettings tells only that it failed; the file and its folder tell why.
QString settingsFile::problemText(const QString &fileName, int status)
{
    if (status == QSettings::FormatError)
        return tr("it is not a settings file");
    const QFileInfo file(fileName);
    if (file.exists())
        return file.isWritable() ? tr("it cannot be written") : tr("it is read-only");
    const QFileInfo folder(file.absolutePath());
    if (!folder.isDir())
        return tr("its folder %1 cannot be made").arg(folder.filePath());
    return tr("its folder %1 is read-only").arg(folder.filePath());
}
