// Object-file translation and settings access of common. The stateless
// protocol routines live in protocolroutines.cpp.
#include "util/common.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryFile>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace {
constexpr qint64 kFileHeaderOffset = 0;
constexpr qint64 kFileHeaderSize = 22;
constexpr qint64 kOptionalHeaderOffset = 22;
constexpr qint64 kOptionalHeaderSize = 28;
constexpr qint64 kSectionHeadersOffset = 50;
constexpr qint64 kSectionHeaderSize = 48;
constexpr quint16 kTargetC28x = 0x009D;
constexpr quint32 kSelectableFlags = 0x0060; // text or initialised data
constexpr qint64 kTestBufferSize = 65536;    // raw-data test, in bytes
constexpr qint64 kDataBufferSize = 262144;   // one section's data, in bytes
constexpr char kFillByte = char(0xFF);
// A QTemporaryFile is private to its owner; the image gets the usual mode.
constexpr QFileDevice::Permissions kImagePermissions =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;

enum class ReadResult { Ok, OpenFailed, Short };

// Opens, seeks, reads exactly 'length' bytes into 'buffer' and closes again.
// Anything less than the full count is reported, so no header field is ever
// taken from bytes that were not in the file.
ReadResult readExactly(const QString &path, qint64 offset, char *buffer, qint64 length)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return ReadResult::OpenFailed;
    if (!file.seek(offset))
        return ReadResult::Short;
    const qint64 got = length > 0 ? file.read(buffer, length) : 0;
    return got == length ? ReadResult::Ok : ReadResult::Short;
}

quint16 le16(const char *p)
{
    return quint16(quint8(p[0]) | (quint8(p[1]) << 8));
}

quint32 le32(const char *p)
{
    return quint32(quint8(p[0])) | (quint32(quint8(p[1])) << 8) | (quint32(quint8(p[2])) << 16)
        | (quint32(quint8(p[3])) << 24);
}

struct SectionHeader
{
    quint32 runAddress;
    quint32 loadAddress;
    quint32 size;
    quint32 dataOffset;
    quint32 flags;
};

SectionHeader decodeSectionHeader(const char *h)
{
    return SectionHeader {le32(h + 8), le32(h + 12), le32(h + 16), le32(h + 20), le32(h + 40)};
}

bool isSelected(const SectionHeader &s)
{
    return s.runAddress != 0 && s.loadAddress != 0 && s.dataOffset != 0 && (s.flags & kSelectableFlags) != 0;
}

// dir/name.ext -> dir/name.bin: the three characters after the last "." of
// the name part become "bin" (the first three when there is no ".").
QString flatImagePath(const QString &inPath)
{
    const int slash = inPath.lastIndexOf(QLatin1Char('/'));
    const QString dir = inPath.left(slash + 1);
    QString name = inPath.mid(slash + 1);
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    name.replace(dot + 1, 3, QStringLiteral("bin"));
    return dir + name;
}

std::filesystem::path fsPath(const QString &path)
{
#ifdef Q_OS_WIN
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

// Renames 'from' to 'to' in one step, replacing whatever entry is at 'to'
// (QFile::rename refuses an existing target).
bool replaceEntry(const QString &from, const QString &to)
{
    std::error_code error;
    std::filesystem::rename(fsPath(from), fsPath(to), error);
    return !error;
}
} // namespace

common::common(QObject *parent)
    : QObject(parent)
    , sectionCount(0)
    , sections()
    , startAddressA(0x3E8000)
    , endAddressA(0x3F3FFF)
    , startAddressB(0x3E0000)
    , endAddressB(0x3F3FFF)
{
}

QString common::translateFile(const QString &inPath)
{
    if (inPath.isEmpty()) {
        emit sendMessage(tr("no translating file:"));
        return QString();
    }
    const QString outPath = flatImagePath(inPath);
    if (outPath == inPath) {
        // The image would take the place of the object file it is made from.
        emit sendMessage(tr("translating fail!\n"));
        return QString();
    }
    if (!parseOutFile(inPath)) {
        emit sendMessage(tr("file format error!\n"));
        return QString();
    }
    if (!buildImageAt(inPath, outPath)) {
        emit sendMessage(tr("translating fail!\n"));
        return QString();
    }
    emit sendMessage(tr("translating success!\n"));
    return outPath;
}

// The image is built under a hidden temporary name beside the output and put
// in place only when complete, so a failure never leaves a cut image and an
// older file or a link at the output name is replaced, never written through.
bool common::buildImageAt(const QString &inPath, const QString &outPath)
{
    QString temporary;
    {
        QTemporaryFile file(QFileInfo(outPath).path() + QStringLiteral("/.translate-XXXXXX"));
        file.setAutoRemove(false);
        if (!file.open())
            return false;
        temporary = file.fileName();
    }
    const bool done = buildBinFile(inPath, temporary) && QFile::setPermissions(temporary, kImagePermissions)
        && replaceEntry(temporary, outPath);
    if (!done)
        QFile::remove(temporary);
    return done;
}

bool common::parseOutFile(const QString &inPath)
{
    sectionCount = 0;
    char fileHeader[kFileHeaderSize];
    if (readExactly(inPath, kFileHeaderOffset, fileHeader, kFileHeaderSize) != ReadResult::Ok) {
        emit sendMessage(tr("file reading failed!\n"));
        return false;
    }
    if (le16(fileHeader + 20) != kTargetC28x) {
        emit sendMessage(tr("file format error!\n"));
        return false;
    }
    char optionalHeader[kOptionalHeaderSize];
    if (readExactly(inPath, kOptionalHeaderOffset, optionalHeader, kOptionalHeaderSize) != ReadResult::Ok) {
        emit sendMessage(tr("file reading error!\n"));
        return false;
    }
    const quint16 headerCount = le16(fileHeader + 2);
    for (quint16 i = 0; i < headerCount; ++i) {
        if (!readSection(inPath, i))
            return false;
    }
    return true;
}

// Reads section header i and, when the section is selected, tests its raw
// data and stores it. False ends the parse without a message of its own.
bool common::readSection(const QString &inPath, quint16 index)
{
    char header[kSectionHeaderSize];
    const qint64 offset = kSectionHeadersOffset + kSectionHeaderSize * qint64(index);
    if (readExactly(inPath, offset, header, kSectionHeaderSize) != ReadResult::Ok)
        return false;
    const SectionHeader s = decodeSectionHeader(header);
    if (!isSelected(s))
        return true;
    if (qint64(s.size) > kTestBufferSize || sectionCount >= quint32(kMaxSections))
        return false;
    QByteArray testBuffer(int(kTestBufferSize), '\0');
    if (readExactly(inPath, s.dataOffset, testBuffer.data(), s.size) != ReadResult::Ok)
        return false;
    sections[sectionCount++] = SectionEntry {s.loadAddress, s.dataOffset, s.size};
    return true;
}

bool common::buildBinFile(const QString &inPath, const QString &outPath)
{
    SectionEntry *const first = sections;
    SectionEntry *const last = sections + std::min<quint32>(sectionCount, kMaxSections);
    std::stable_sort(first, last, [](const SectionEntry &a, const SectionEntry &b) { return a.address < b.address; });
    if (first == last || (first->address != startAddressA && first->address != startAddressB)) {
        emit sendMessage(tr("start address error!\n"));
        return false;
    }
    QByteArray data(int(kDataBufferSize), '\0');
    for (const SectionEntry *entry = first; entry != last; ++entry) {
        if (entry != first) {
            const qint64 reached = qint64((entry - 1)->address) + (entry - 1)->size;
            if (reached > qint64(entry->address))
                return false; // overlap
            if (isBeyondEnd(entry->address))
                return true; // the image ends with the last section below the bound
            if (!appendFill(outPath, qint64(entry->address) - reached))
                return false;
        }
        if (!copySectionData(inPath, outPath, *entry, data))
            return false;
    }
    return true;
}

bool common::isBeyondEnd(quint32 address) const
{
    return address >= endAddressA || address >= endAddressB;
}

bool common::appendFill(const QString &outPath, qint64 words)
{
    if (words <= 0)
        return true;
    const qint64 bytes = 2 * words;
    if (bytes > kDataBufferSize)
        return false; // never reached below the end bound; guards direct callers
    const QByteArray fill(int(bytes), kFillByte);
    return appendFile(outPath, reinterpret_cast<const quint8 *>(fill.constData()), quint32(bytes));
}

// Copies one section's raw data from the object file to the end of the image,
// through the data buffer.
bool common::copySectionData(const QString &inPath, const QString &outPath, const SectionEntry &entry,
                             QByteArray &buffer)
{
    const qint64 byteCount = 2 * qint64(entry.size);
    if (byteCount > buffer.size())
        return false;
    // A section whose data ends early would leave stale bytes in the image.
    if (readExactly(inPath, entry.dataOffset, buffer.data(), byteCount) != ReadResult::Ok)
        return false;
    return appendFile(outPath, reinterpret_cast<const quint8 *>(buffer.constData()), quint32(byteCount));
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
    out = settings.value(key, QVariant());
    return !out.isNull();
}

void common::writeSetting(const QString &fileName, const QString &key, const QVariant &value)
{
    QSettings settings(fileName, QSettings::IniFormat);
    settings.setValue(key, value);
}
