#ifndef COFFWRITER_H
#define COFFWRITER_H

#include <QByteArray>
#include <QString>
#include <QVector>

// Writes object files of the signal processor's tool chain (COFF version 2,
// target C28x): a 22-byte file header, a 28-byte optional header, 48-byte
// section headers, then the raw data of the sections in header order. It can
// also spoil a file in the ways a tool must survive: another target, an ELF
// file under the same name, a cut file, offsets that point nowhere.
class coffWriter
{
public:
    static constexpr quint16 kVersion = 0x00C2;
    static constexpr quint16 kTargetC28x = 0x009D;
    static constexpr quint32 kFlagText = 0x0020;
    static constexpr quint32 kFlagData = 0x0040;
    static constexpr quint32 kFlagBss = 0x0080;
    static constexpr int kFileHeaderSize = 22;
    static constexpr int kOptionalHeaderSize = 28;
    static constexpr int kSectionHeaderSize = 48;

    struct Section
    {
        QByteArray name;         // at most 8 bytes are written
        quint32 runAddress = 0;  // word address the code runs at
        quint32 loadAddress = 0; // word address the data is loaded at
        quint32 sizeWords = 0;   // the header's size field
        QByteArray data;         // raw data written to the file
        bool hasRawData = true;  // false: no data, raw-data offset 0
        quint32 flags = kFlagText;
        qint64 dataOffsetOverride = -1; // >= 0: header points here instead
    };

    // A section loaded and run at 'address' whose raw data is 'data'
    // (its size field is data.size() / 2).
    static Section loaded(const QByteArray &name, quint32 address, const QByteArray &data, quint32 flags = kFlagText);
    // An uninitialised section: no raw data, BSS flag.
    static Section uninitialised(const QByteArray &name, quint32 address, quint32 sizeWords);
    // 2 * words bytes of deterministic non-0xFF content, different per seed.
    static QByteArray pattern(quint32 words, quint32 seed);

    void addSection(const Section &section) { m_sections.append(section); }
    int sectionCount() const { return m_sections.size(); }

    void setTargetId(quint16 target) { m_targetId = target; }
    void setElf(bool elf) { m_elf = elf; }
    // Written into the header instead of the real count (< 0: real count).
    void setHeaderSectionCount(int count) { m_headerSectionCount = count; }
    // Cuts the file after this many bytes (< 0: whole file).
    void setTruncateAt(qint64 size) { m_truncateAt = size; }

    QByteArray build() const;
    bool write(const QString &path) const;

    // A flash build as the tool chain lays it out: sections out of address
    // order, gaps, code loaded in flash but run at 0x008000, uninitialised
    // sections, the verify code at byte 0x17FE8 of the flat image, and code
    // start and passwords above the end bound. Returns the object file and
    // sets 'expectedImage' to the flat image the tool must make of it.
    static QByteArray sampleObjectFile(QByteArray *expectedImage, quint32 verifyCode = 0x11223344);

private:
    QByteArray fileHeader() const;
    QByteArray sectionHeader(const Section &section, quint32 dataOffset) const;

    QVector<Section> m_sections;
    quint16 m_targetId = kTargetC28x;
    bool m_elf = false;
    int m_headerSectionCount = -1;
    qint64 m_truncateAt = -1;
};

#endif // COFFWRITER_H
