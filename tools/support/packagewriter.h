#ifndef PACKAGEWRITER_H
#define PACKAGEWRITER_H

#include <QByteArray>
#include <QList>
#include <QString>

class QuaZip;

// One member of a package as the verifying reader saw it.
struct packageMemberCheck
{
    QString name;
    qint64 size = 0;        // stored size, trailer included
    bool intact = false;    // read completely with a matching CRC
    bool trailerOk = false; // last 32 bytes are the SHA-256 of the rest
};

// Writes firmware packages: zip archives of images, each image followed by
// the SHA-256 digest of its payload. Also writes what no honest package
// holds (any entry name, symlink entries, a damaged CRC), so that the
// unpacking can be tried against hostile archives.
class packageWriter
{
public:
    explicit packageWriter(const QString &zipPath);
    ~packageWriter();
    packageWriter(const packageWriter &) = delete;
    packageWriter &operator=(const packageWriter &) = delete;

    bool open();
    // payload + trailer; a wrong trailer has one bit of the digest flipped.
    bool addImage(const QString &name, const QByteArray &payload, bool wrongTrailer = false);
    // content stored as given, under any name at all.
    bool addRaw(const QString &name, const QByteArray &content);
    // A symlink entry: Unix mode S_IFLNK in the external attributes and the
    // link target as content.
    bool addSymlink(const QString &name, const QString &target);
    bool addDirectory(const QString &name);
    bool close();

    static QByteArray withTrailer(const QByteArray &payload, bool wrongTrailer = false);
    // Changes the stored CRC of entry `name` in its local header and in the
    // central directory alike, so the archive opens but the entry fails its
    // check when read to the end. False when the entry is not found.
    static bool damageCrc(const QString &zipPath, const QString &name);
    // Writes `size` as the unpacked size of entry `name` in its local header
    // and in the central directory alike, so the archive opens but declares
    // a size its data does not hold. False when the entry is not found.
    static bool setDeclaredSize(const QString &zipPath, const QString &name, quint32 size);
    // Reads every file member in memory and checks its CRC and its trailer;
    // ok is false when the archive itself cannot be read.
    static QList<packageMemberCheck> verify(const QString &zipPath, bool *ok = nullptr);
    // The same over the package's bytes in memory.
    static QList<packageMemberCheck> verifyBytes(const QByteArray &zipBytes, bool *ok = nullptr);

private:
    static QList<packageMemberCheck> verify(QuaZip &reader, bool *ok);
    bool addEntry(const QString &name, const QByteArray &content, quint32 unixMode);

    QString path;
    QuaZip *archive = nullptr;
};

#endif // PACKAGEWRITER_H
