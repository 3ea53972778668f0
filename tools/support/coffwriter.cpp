#include "tools/support/coffwriter.h"

#include <QFile>

#include <algorithm>
#include <cstring>

namespace {
constexpr quint16 kOptionalMagic = 0x0108;
constexpr quint32 kSampleStart = 0x3E8000;

void putLe16(QByteArray &out, quint16 v)
{
    out.append(char(v & 0xFF));
    out.append(char(v >> 8));
}

void putLe32(QByteArray &out, quint32 v)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.append(char((v >> shift) & 0xFF));
}

void overwriteLe(QByteArray &out, int at, quint32 v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out[at + i] = char((v >> (8 * i)) & 0xFF);
}

QByteArray littleEndianWord(quint32 v)
{
    QByteArray out;
    putLe32(out, v);
    return out;
}

// Puts a section's data at its place in an image that starts at kSampleStart.
void place(QByteArray &image, quint32 address, const QByteArray &data)
{
    std::memcpy(image.data() + 2 * (address - kSampleStart), data.constData(), size_t(data.size()));
}
} // namespace

coffWriter::Section coffWriter::loaded(const QByteArray &name, quint32 address, const QByteArray &data, quint32 flags)
{
    Section s;
    s.name = name;
    s.runAddress = address;
    s.loadAddress = address;
    s.sizeWords = quint32(data.size() / 2);
    s.data = data;
    s.flags = flags;
    return s;
}

coffWriter::Section coffWriter::uninitialised(const QByteArray &name, quint32 address, quint32 sizeWords)
{
    Section s;
    s.name = name;
    s.runAddress = address;
    s.loadAddress = address;
    s.sizeWords = sizeWords;
    s.hasRawData = false;
    s.flags = kFlagBss;
    return s;
}

QByteArray coffWriter::pattern(quint32 words, quint32 seed)
{
    QByteArray out(int(2 * words), '\0');
    quint32 state = seed * 2654435761u + 12345u;
    for (char &c : out) {
        state = state * 1103515245u + 12345u;
        c = char((state >> 16) % 0xFF); // never 0xFF, so fills stand out
    }
    return out;
}

QByteArray coffWriter::fileHeader() const
{
    const int count = m_headerSectionCount >= 0 ? m_headerSectionCount : m_sections.size();
    QByteArray h;
    putLe16(h, kVersion);
    putLe16(h, quint16(count));
    putLe32(h, 0x5F000000); // time stamp
    putLe32(h, 0);          // symbol table pointer
    putLe32(h, 0);          // symbol count
    putLe16(h, kOptionalHeaderSize);
    putLe16(h, 0x0003); // relocations stripped, executable
    putLe16(h, m_targetId);
    return h;
}

QByteArray coffWriter::sectionHeader(const Section &section, quint32 dataOffset) const
{
    QByteArray h = section.name.left(8);
    h.append(QByteArray(8 - h.size(), '\0'));
    putLe32(h, section.runAddress);
    putLe32(h, section.loadAddress);
    putLe32(h, section.sizeWords);
    putLe32(h, dataOffset);
    putLe32(h, 0); // relocation pointer
    putLe32(h, 0); // line-number pointer
    putLe32(h, 0); // relocation count
    putLe32(h, 0); // line-number count
    putLe32(h, section.flags);
    putLe16(h, 0); // reserved
    putLe16(h, 0); // memory page
    return h;
}

QByteArray coffWriter::build() const
{
    QByteArray file = fileHeader();
    QByteArray optional;
    putLe16(optional, kOptionalMagic);
    optional.append(QByteArray(kOptionalHeaderSize - optional.size(), '\0'));
    file.append(optional);

    quint32 dataOffset = quint32(kFileHeaderSize + kOptionalHeaderSize + kSectionHeaderSize * m_sections.size());
    QByteArray rawData;
    for (const Section &s : m_sections) {
        quint32 offset = s.hasRawData ? dataOffset + quint32(rawData.size()) : 0;
        if (s.dataOffsetOverride >= 0)
            offset = quint32(s.dataOffsetOverride);
        file.append(sectionHeader(s, offset));
        if (s.hasRawData)
            rawData.append(s.data);
    }
    file.append(rawData);

    if (m_elf) {
        const char ident[] = {0x7F, 'E', 'L', 'F', 1, 1, 1, 0};
        std::memcpy(file.data(), ident, sizeof ident);
        overwriteLe(file, 16, 2, 2);    // executable
        overwriteLe(file, 18, 0x8D, 2); // machine
        overwriteLe(file, 20, 1, 4);    // ELF version
    }
    if (m_truncateAt >= 0 && m_truncateAt < file.size())
        file.truncate(int(m_truncateAt));
    return file;
}

bool coffWriter::write(const QString &path) const
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray bytes = build();
    return file.write(bytes) == bytes.size();
}

QByteArray coffWriter::sampleObjectFile(QByteArray *expectedImage, quint32 verifyCode)
{
    const QByteArray text = pattern(0x1800, 1);
    const QByteArray ramfuncs = pattern(0x100, 2);
    const QByteArray cinit = pattern(0x40, 3);
    const QByteArray econst = pattern(0x80, 4);
    const QByteArray switchTable = pattern(0x20, 5);
    const QByteArray verify = littleEndianWord(verifyCode);

    coffWriter w;
    w.addSection(loaded("codestart", 0x3F7FF6, pattern(2, 6)));
    w.addSection(loaded(".text", 0x3E8000, text));
    w.addSection(uninitialised(".ebss", 0x00C000, 0x0800));
    w.addSection(loaded(".econst", 0x3EA200, econst, kFlagData));
    Section ram = loaded("ramfuncs", 0x3EA000, ramfuncs);
    ram.runAddress = 0x008000; // copied to RAM at start-up
    w.addSection(ram);
    w.addSection(loaded("csmpasswd", 0x3F7FF8, QByteArray(16, char(0xFF)), kFlagData));
    w.addSection(loaded(".cinit", 0x3EA100, cinit, kFlagData));
    w.addSection(uninitialised(".stack", 0x000400, 0x0200));
    w.addSection(loaded("verifycode", 0x3F3FF4, verify, kFlagData));
    w.addSection(loaded("csm_rsvd", 0x3F7F80, QByteArray(2 * 0x76, '\0'), kFlagData));
    w.addSection(loaded(".switch", 0x3EB000, switchTable, kFlagData));

    if (expectedImage) {
        QByteArray image(2 * (0x3F3FF6 - kSampleStart), char(0xFF));
        place(image, 0x3E8000, text);
        place(image, 0x3EA000, ramfuncs);
        place(image, 0x3EA100, cinit);
        place(image, 0x3EA200, econst);
        place(image, 0x3EB000, switchTable);
        place(image, 0x3F3FF4, verify);
        *expectedImage = image;
    }
    return w.build();
}
