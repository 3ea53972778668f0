#include "testfiles.h"

#include <QFile>
#include <QTemporaryDir>

namespace testFiles {

bool write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QString writeIn(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    return write(path, bytes) ? path : QString();
}

QByteArray read(const QString &path, const QByteArray &whenMissing)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : whenMissing;
}

checkedFile checked(int row, const QString &path)
{
    return checkedFile {row, path, read(path)};
}

} // namespace testFiles
