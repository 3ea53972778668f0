// The old names of the settings access (util/settingsfile) and of the
// object-file translation (package/objectfile). The protocol routines' old
// names are in protocolroutines.cpp.
#include "update/common.h"

#include <QFile>
#include <QFileInfo>

#include "util/settingsfile.h"

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
    return settingsFile::read(fileName, key, out);
}

bool common::readSwitch(const QString &fileName, const QString &key)
{
    return settingsFile::readSwitch(fileName, key);
}

bool common::writeSetting(const QString &fileName, const QString &key, const QVariant &value, QString *problem)
{
    return settingsFile::write(fileName, key, value, problem);
}
