// Settings access of common, and its object-file translation, which is the
// object file's own (package/objectfile). The protocol routines' old names
// are in protocolroutines.cpp.
#include "update/common.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include "util/qtcompat.h"

common::common(QObject *parent)
    : QObject(parent)
    , objects(this)
{
    connect(&objects, &objectFile::sendMessage, this, &common::sendMessage);
}

QString common::translateFile(const QString &inPath)
{
    return objects.translateFile(inPath);
}

QString common::translateImage(const QString &inPath, const QByteArray &object, QByteArray *flat)
{
    return objects.translateImage(inPath, object, flat);
}

bool common::parseOutFile(const QByteArray &object)
{
    return objects.parseOutFile(object);
}

bool common::buildBinFile(const QByteArray &object, QByteArray *flat)
{
    return objects.buildBinFile(object, flat);
}

bool common::appendFile(const QString &path, const quint8 *data, quint32 length)
{
    QFile file(path);
    if (!file.open(QIODevice::Append))
        return false;
    // A short write (full disk) would leave a cut image behind a success.
    const qint64 written = length ? file.write(reinterpret_cast<const char *>(data), length) : 0;
    file.close();
    return written == qint64(length) && file.error() == QFileDevice::NoError;
}

bool common::readSetting(const QString &fileName, const QString &key, QVariant &out)
{
    QSettings settings(fileName, QSettings::IniFormat);
    qtcompat::useUtf8(settings);
    out = settings.value(key, QVariant());
    return !out.isNull();
}

bool common::readSwitch(const QString &fileName, const QString &key)
{
    QVariant value;
    if (!readSetting(fileName, key, value))
        return false;
    const QString text = value.toString().trimmed().toLower();
    return !QStringList {QStringLiteral("false"), QStringLiteral("0"), QStringLiteral("no"), QStringLiteral("off")}
                .contains(text);
}

bool common::writeSetting(const QString &fileName, const QString &key, const QVariant &value, QString *problem)
{
    QSettings settings(fileName, QSettings::IniFormat);
    qtcompat::useUtf8(settings);
    settings.setValue(key, value);
    settings.sync();
    if (settings.status() == QSettings::NoError)
        return true;
    if (problem)
        *problem = settingsProblem(fileName, settings.status());
    return false;
}

// QSettings tells only that it failed; the file and its folder tell why.
QString common::settingsProblem(const QString &fileName, int status)
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
