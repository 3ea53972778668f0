#include "package/objectfile.h"

#include <QFileInfo>

#include <algorithm>
#include <cstring>

#include "util/ownfiles.h"
#include "util/regularfile.h"

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

// Copies exactly 'length' bytes at 'offset' of the object file, so that no
// header field is ever taken from bytes that were not in the file.
bool readExactly(const QByteArray &object, qint64 offset, char *buffer, qint64 length)
{
    if (offset < 0 || length < 0 || offset > object.size() || length > object.size() - offset)
        return false;
    if (length > 0)
        std::memcpy(buffer, object.constData() + offset, size_t(length));
    return true;
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

} // namespace

objectFile::objectFile(QObject *parent)
    : QObject(parent)
    , sectionCount(0)
    , sections()
    , startAddressA(0x3E8000)
    , endAddressA(0x3F3FFF)
    , startAddressB(0x3E0000)
    , endAddressB(0x3F3FFF)
{
}

QString objectFile::translateFile(const QString &inPath)
{
    if (inPath.isEmpty()) {
        emit sendMessage(tr("no translating file:"));
        return QString();
    }
    QByteArray object;
    QString problem;
    if (!regularFile::read(inPath, kMaxObjectFileSize, &object, &problem)) {
        sectionCount = 0;
        emit sendMessage(tr("file reading failed!\n"));
        emit sendMessage(tr("file format error!\n"));
        return QString();
    }
    QByteArray flat;
    return translateImage(inPath, object, &flat);
}

QString objectFile::translateImage(const QString &inPath, const QByteArray &object, QByteArray *flat)
{
    flat->clear();
    const QString outPath = flatImagePath(inPath);
    if (outPath == inPath) {
        // The image would take the place of the object file it is made from.
        emit sendMessage(tr("translating fail!\n"));
        return QString();
    }
    if (!parseOutFile(object)) {
        emit sendMessage(tr("file format error!\n"));
        return QString();
    }
    if (!buildBinFile(object, flat) || !writeBeside(outPath, *flat)) {
        flat->clear();
        emit sendMessage(tr("translating fail!\n"));
        return QString();
    }
    emit sendMessage(tr("translating success!\n"));
    return outPath;
}

// The image is written whole through a temporary name, and never over a
// file this tool did not write: what is sent comes from memory anyway.
bool objectFile::writeBeside(const QString &outPath, const QByteArray &flat)
{
    const QFileInfo out(outPath);
    ownFiles folder(out.absolutePath());
    QString problem;
    switch (folder.write(out.fileName(), flat, &problem)) {
    case ownFiles::Outcome::Written:
        return true;
    case ownFiles::Outcome::LeftAlone:
        emit sendMessage(ownFiles::leftAloneLine(outPath));
        return true;
    case ownFiles::Outcome::Failed:
        break;
    }
    emit sendMessage(ownFiles::writeFailedLine(outPath, problem));
    return false;
}

bool objectFile::parseOutFile(const QByteArray &object)
{
    sectionCount = 0;
    char fileHeader[kFileHeaderSize];
    if (!readExactly(object, kFileHeaderOffset, fileHeader, kFileHeaderSize)) {
        emit sendMessage(tr("file reading failed!\n"));
        return false;
    }
    if (le16(fileHeader + 20) != kTargetC28x) {
        emit sendMessage(tr("file format error!\n"));
        return false;
    }
    char optionalHeader[kOptionalHeaderSize];
    if (!readExactly(object, kOptionalHeaderOffset, optionalHeader, kOptionalHeaderSize)) {
        emit sendMessage(tr("file reading error!\n"));
        return false;
    }
    const quint16 headerCount = le16(fileHeader + 2);
    for (quint16 i = 0; i < headerCount; ++i) {
        if (!readSection(object, i))
            return false;
    }
    return true;
}

// Reads section header i and, when the section is selected, tests its raw
// data and stores it. False ends the parse without a message of its own.
bool objectFile::readSection(const QByteArray &object, quint16 index)
{
    char header[kSectionHeaderSize];
    const qint64 offset = kSectionHeadersOffset + kSectionHeaderSize * qint64(index);
    if (!readExactly(object, offset, header, kSectionHeaderSize))
        return false;
    const SectionHeader s = decodeSectionHeader(header);
    if (!isSelected(s))
        return true;
    if (qint64(s.size) > kTestBufferSize || sectionCount >= quint32(kMaxSections))
        return false;
    // The raw data must hold as many bytes as the size field says.
    if (qint64(s.dataOffset) + qint64(s.size) > object.size())
        return false;
    sections[sectionCount++] = SectionEntry {s.loadAddress, s.dataOffset, s.size};
    return true;
}

bool objectFile::buildBinFile(const QByteArray &object, QByteArray *flat)
{
    flat->clear();
    SectionEntry *const first = sections;
    SectionEntry *const last = sections + std::min<quint32>(sectionCount, kMaxSections);
    std::stable_sort(first, last, [](const SectionEntry &a, const SectionEntry &b) { return a.address < b.address; });
    if (first == last || (first->address != startAddressA && first->address != startAddressB)) {
        emit sendMessage(tr("start address error!\n"));
        return false;
    }
    for (const SectionEntry *entry = first; entry != last; ++entry) {
        if (entry != first) {
            const qint64 reached = qint64((entry - 1)->address) + (entry - 1)->size;
            if (reached > qint64(entry->address))
                return false; // overlap
            if (isBeyondEnd(entry->address))
                return true; // the image ends with the last section below the bound
            flat->append(QByteArray(int(2 * (qint64(entry->address) - reached)), kFillByte));
        }
        // A section whose data ends early would leave stale bytes in the image.
        const qint64 byteCount = 2 * qint64(entry->size);
        if (byteCount > kDataBufferSize || qint64(entry->dataOffset) + byteCount > object.size())
            return false;
        flat->append(object.constData() + entry->dataOffset, int(byteCount));
    }
    return true;
}

bool objectFile::isBeyondEnd(quint32 address) const
{
    return address >= endAddressA || address >= endAddressB;
}
