#include "tools/support/packagewriter.h"

#include <QCryptographicHash>
#include <QBuffer>
#include <QFile>

#include <functional>

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <quazip/quazipfileinfo.h>
#include <quazip/quazipnewinfo.h>

namespace {

constexpr int kTrailerLength = 32;
constexpr quint32 kRegularFileMode = 0100644;
constexpr quint32 kDirectoryMode = 040755;
constexpr quint32 kSymlinkMode = 0120777;

constexpr quint32 kEndOfCentralSignature = 0x06054b50;
constexpr quint32 kCentralHeaderSignature = 0x02014b50;
constexpr quint32 kLocalHeaderSignature = 0x04034b50;
constexpr int kEndOfCentralLength = 22;
constexpr int kCentralHeaderLength = 46;
constexpr int kLocalHeaderLength = 30;

quint32 readLe(const QByteArray &data, qint64 at, int bytes)
{
    quint32 value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | quint8(data.at(int(at) + i));
    return value;
}

void writeLe32(QByteArray &data, qint64 at, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        data[int(at) + i] = char((value >> (8 * i)) & 0xFF);
}

bool fits(const QByteArray &data, qint64 at, qint64 length)
{
    return at >= 0 && length >= 0 && at + length <= data.size();
}

qint64 findEndOfCentral(const QByteArray &data)
{
    for (qint64 at = data.size() - kEndOfCentralLength; at >= 0; --at) {
        if (readLe(data, at, 4) == kEndOfCentralSignature)
            return at;
    }
    return -1;
}

// Offset of the central header of `name`, or -1.
qint64 findCentralHeader(const QByteArray &data, const QByteArray &name)
{
    const qint64 end = findEndOfCentral(data);
    if (end < 0)
        return -1;
    const int count = int(readLe(data, end + 10, 2));
    qint64 at = readLe(data, end + 16, 4);
    for (int i = 0; i < count && fits(data, at, kCentralHeaderLength); ++i) {
        if (readLe(data, at, 4) != kCentralHeaderSignature)
            return -1;
        const int nameLength = int(readLe(data, at + 28, 2));
        if (!fits(data, at + kCentralHeaderLength, nameLength))
            return -1;
        if (data.mid(int(at) + kCentralHeaderLength, nameLength) == name)
            return at;
        at += kCentralHeaderLength + nameLength + readLe(data, at + 30, 2) + readLe(data, at + 32, 2);
    }
    return -1;
}

QByteArray readCurrentMember(QuaZip &archive, bool *intact)
{
    QuaZipFile member(&archive);
    *intact = false;
    if (!member.open(QIODevice::ReadOnly))
        return QByteArray();
    const QByteArray content = member.readAll();
    member.close();
    *intact = member.getZipError() == UNZ_OK;
    return content;
}

bool hasGoodTrailer(const QByteArray &content)
{
    if (content.size() < kTrailerLength)
        return false;
    const QByteArray payload = content.left(content.size() - kTrailerLength);
    return QCryptographicHash::hash(payload, QCryptographicHash::Sha256) == content.right(kTrailerLength);
}

} // namespace

packageWriter::packageWriter(const QString &zipPath)
    : path(zipPath)
{
}

packageWriter::~packageWriter()
{
    close();
}

bool packageWriter::open()
{
    close();
    archive = new QuaZip(path);
    return archive->open(QuaZip::mdCreate);
}

bool packageWriter::addImage(const QString &name, const QByteArray &payload, bool wrongTrailer)
{
    return addEntry(name, withTrailer(payload, wrongTrailer), kRegularFileMode);
}

bool packageWriter::addRaw(const QString &name, const QByteArray &content)
{
    return addEntry(name, content, kRegularFileMode);
}

bool packageWriter::addSymlink(const QString &name, const QString &target)
{
    return addEntry(name, target.toUtf8(), kSymlinkMode);
}

bool packageWriter::addDirectory(const QString &name)
{
    const QString dirName = name.endsWith(QLatin1Char('/')) ? name : name + QLatin1Char('/');
    return addEntry(dirName, QByteArray(), kDirectoryMode);
}

bool packageWriter::close()
{
    if (!archive)
        return false;
    archive->close();
    const bool ok = archive->getZipError() == ZIP_OK;
    delete archive;
    archive = nullptr;
    return ok;
}

bool packageWriter::addEntry(const QString &name, const QByteArray &content, quint32 unixMode)
{
    if (!archive || !archive->isOpen())
        return false;
    QuaZipNewInfo info(name);
    info.externalAttr = unixMode << 16;
    QuaZipFile member(archive);
    if (!member.open(QIODevice::WriteOnly, info))
        return false;
    const bool written = member.write(content) == content.size();
    member.close();
    return written && member.getZipError() == ZIP_OK;
}

QByteArray packageWriter::withTrailer(const QByteArray &payload, bool wrongTrailer)
{
    QByteArray digest = QCryptographicHash::hash(payload, QCryptographicHash::Sha256);
    if (wrongTrailer)
        digest[0] = char(digest.at(0) ^ 0x01);
    return payload + digest;
}

// Rewrites the archive with a field of member `name` changed in its local
// header and in the central directory alike.
static bool patchMember(const QString &zipPath, const QString &name,
                        const std::function<void(QByteArray &, qint64, qint64)> &patch)
{
    QFile file(zipPath);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    QByteArray data = file.readAll();
    const qint64 central = findCentralHeader(data, name.toUtf8());
    if (central < 0)
        return false;
    const qint64 local = readLe(data, central + 42, 4);
    if (!fits(data, local, kLocalHeaderLength) || readLe(data, local, 4) != kLocalHeaderSignature)
        return false;
    patch(data, central, local);
    file.seek(0);
    const bool ok = file.write(data) == data.size();
    file.close();
    return ok;
}

bool packageWriter::damageCrc(const QString &zipPath, const QString &name)
{
    return patchMember(zipPath, name, [](QByteArray &data, qint64 central, qint64 local) {
        const quint32 wrongCrc = readLe(data, central + 16, 4) ^ 0xFFFFFFFFu;
        writeLe32(data, central + 16, wrongCrc);
        writeLe32(data, local + 14, wrongCrc);
    });
}

bool packageWriter::setDeclaredSize(const QString &zipPath, const QString &name, quint32 size)
{
    return patchMember(zipPath, name, [size](QByteArray &data, qint64 central, qint64 local) {
        writeLe32(data, central + 24, size);
        writeLe32(data, local + 22, size);
    });
}

QList<packageMemberCheck> packageWriter::verify(const QString &zipPath, bool *ok)
{
    QuaZip reader(zipPath);
    return verify(reader, ok);
}

QList<packageMemberCheck> packageWriter::verifyBytes(const QByteArray &zipBytes, bool *ok)
{
    QByteArray copy = zipBytes;
    QBuffer buffer(&copy);
    QuaZip reader(&buffer);
    return verify(reader, ok);
}

QList<packageMemberCheck> packageWriter::verify(QuaZip &reader, bool *ok)
{
    QList<packageMemberCheck> members;
    const bool opened = reader.open(QuaZip::mdUnzip);
    if (ok)
        *ok = opened;
    if (!opened)
        return members;
    for (bool more = reader.goToFirstFile(); more; more = reader.goToNextFile()) {
        QuaZipFileInfo64 info;
        if (!reader.getCurrentFileInfo(&info) || info.isSymbolicLink() || info.name.endsWith(QLatin1Char('/')))
            continue;
        packageMemberCheck check;
        check.name = info.name;
        const QByteArray content = readCurrentMember(reader, &check.intact);
        check.size = content.size();
        check.trailerOk = check.intact && hasGoodTrailer(content);
        members.append(check);
    }
    reader.close();
    return members;
}
