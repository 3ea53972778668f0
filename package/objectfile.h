#ifndef OBJECTFILE_H
#define OBJECTFILE_H

#include <QByteArray>
#include <QObject>
#include <QString>

// The signal processor's object files (TI COFF for the C28x, ".out") and
// their flat images: the sections that are loaded, in address order, gaps
// filled with 0xFF, from the start address up to the end bound.
class objectFile : public QObject
{
    Q_OBJECT

public:
    struct SectionEntry
    {
        quint32 address;    // load address, in 16-bit words
        quint32 dataOffset; // byte offset of the raw data in the object file
        quint32 size;       // length in 16-bit words
    };
    static constexpr int kMaxSections = 48;
    // Far above any object file of the unit's processor.
    static constexpr qint64 kMaxObjectFileSize = 16LL * 1024 * 1024;

    explicit objectFile(QObject *parent = nullptr);

    // ".out" in, flat ".bin" beside it out: the file is read once, then
    // translated as translateImage does.
    QString translateFile(const QString &inPath);
    // Translates the bytes of the object file inPath into *flat, in memory,
    // and writes the flat image beside inPath unless a file this tool did not
    // write is in the way (then left alone, with a line). The flat image's
    // path, or empty on any failure.
    QString translateImage(const QString &inPath, const QByteArray &object, QByteArray *flat);
    bool parseOutFile(const QByteArray &object);
    bool buildBinFile(const QByteArray &object, QByteArray *flat);

    quint32 selectedSectionCount() const { return sectionCount; }
    const SectionEntry &section(int i) const { return sections[i]; }

signals:
    void sendMessage(QString message);

private:
    bool writeBeside(const QString &outPath, const QByteArray &flat);
    bool readSection(const QByteArray &object, quint16 index);
    bool isBeyondEnd(quint32 address) const;

    quint32 sectionCount;
    SectionEntry sections[kMaxSections];
    const quint32 startAddressA;
    const quint32 endAddressA;
    const quint32 startAddressB;
    const quint32 endAddressB;
};

#endif // OBJECTFILE_H
