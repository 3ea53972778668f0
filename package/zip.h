#ifndef ZIP_H
#define ZIP_H

#include <QObject>
#include <QList>
#include <QString>
#include <QStringList>

#include "package/packagesignature.h"
#include "util/ownfiles.h"

// One image ticked for the update: its table row and full unpacked path.
struct checkedFile
{
    int row = 0;
    QString path;
    QByteArray bytes; // the checked image, as unpacked from the package
};

// A package file as read from the disk, once: everything done with the
// package (its digest, the signature check, the unpacking) works on these
// bytes, so a file rewritten meanwhile cannot change what is checked.
struct packageBytes
{
    QString path;
    QByteArray bytes;
    QString problem; // why it could not be read; empty when it was
    QString digest;  // hex SHA-256 of the bytes, taken once by read()

    // A regular file (after following links), within the package bound.
    static packageBytes read(const QString &path);
    // Hex SHA-256 of the bytes; empty when the file could not be read.
    QString sha256() const;
};

// A firmware package: unpacks it, checks its images, chooses the model and
// keeps the list of ticked images. Only the files that this unpacking wrote
// are ever checked, cut, listed or offered; a file that was in the folder
// before is never touched.
class zip : public QObject
{
    Q_OBJECT

public:
    // Why an image of the package cannot be sent.
    enum ImageProblem {
        NoProblem = 0,
        DigestMismatch, // the last 32 bytes are not the SHA-256 of at least one byte before them
        Damaged,        // the member could not be read whole (CRC, truncation)
        NotAFile,       // a folder or a link entry of that name
        TooLarge,       // declared or actual unpacked size over the bound
        NotWritten,     // the file could not be written (no space, a folder in the way)
        Ambiguous,      // several members match the same image name
        SeveralNames,   // the name matches more than one image name
    };

    // Far above any real image (the largest flat image is 256 KiB).
    static constexpr qint64 kMaxMemberSize = 16LL * 1024 * 1024;
    static constexpr qint64 kMaxPackageSize = 256LL * 1024 * 1024;
    static constexpr int kTrailerLength = 32;

    explicit zip(QObject *parent = nullptr);

    // The package's own folder plus its file name without a final ".zip"
    // (any case); empty when nothing is left of the name.
    static QString extractionDir(const QString &zipPath);
    // The image index of a file name (never a path: folders play no part)
    // in the model's name order, -1 when it names no image of the model.
    // Only names ending in ".bin" or ".out" are images.
    static int imageIndexOf(int modelId, const QString &fileName);
    // The translated reason text of a problem.
    static QString problemText(ImageProblem problem);

    // The public keys whose signature a package must carry from now on; as
    // long as none are given, a package is read as before signing existed.
    void setTrustedKeys(const trustedKeys &keys) { trust = keys; }

    // Reads zipPath once (a regular file within the bounds), checks its
    // signature and its images on those bytes, keeps the checked images in
    // memory and writes them into dir (into the user's cache when dir cannot
    // be written, with a line saying where). A path that is not a readable package
    // lists nothing and touches nothing.
    void extract(const QString &zipPath, const QString &dir);
    void extract(const packageBytes &package, const QString &dir);
    // Takes over what other unpacked and checked: its entries, model and
    // ticked list. The files themselves stay where other wrote them, so
    // several units can be sent one package that was unpacked once.
    void copyListing(const zip &other);

    int entryCount() const;
    QString entryName(int i) const;
    qint64 entrySize(int i) const;
    QString entryPath(int i) const;
    ImageProblem entryProblem(int i) const;
    bool isImage(const QString &name) const;

    // An image of the package as the window's table and the flasher list
    // it: its row (the rows count images only, in package order), name and
    // unpacked size.
    struct listedImage
    {
        int row = 0;
        QString name;
        qint64 size = 0;
    };
    QList<listedImage> listing() const;

    bool addChecked(int row, const QString &name);
    bool removeChecked(const QString &name);
    void clearChecked();
    QList<checkedFile> checkedFiles() const;
    // One log line per ticked image that cannot be sent, naming it and why.
    QStringList checkedProblems() const;
    int modelId() const;
    // SHA-256 (hex) of the package bytes that were read and checked; empty
    // when none were.
    QString packageSha256() const { return sha256; }
    // What the signature check of the last package found.
    signatureVerdict::Kind signatureKind() const { return signature; }

signals:
    void sendMessage(QString message);
    // Why the package as a whole is refused: nothing of it is listed.
    void sendRefusal(QString message);

private:
    struct entry
    {
        QString name;
        QString path;
        qint64 size = 0;
        ImageProblem problem = NoProblem;
        QByteArray bytes; // an image's checked payload
    };
    struct unpacking;

    QString unpackingFolder(const QString &dir, const packageBytes &package);
    void chooseModel(const QString &zipPath, const QString &dir);
    bool passesSignatureCheck(unpacking &state);
    void findAmbiguous(unpacking &state) const;
    void unpackMember(unpacking &state);
    void unpackImage(unpacking &state, entry &item);
    void unpackOther(unpacking &state);
    // SHA256: the bytes' digest when already taken (an image's checked trailer).
    ownFiles::Outcome writeOwnFile(unpacking &state, const QString &relativePath, const QByteArray &bytes,
                                   const QByteArray &sha256 = QByteArray());
    void reportProblems();
    static QString problemLine(const QString &name, ImageProblem problem);
    const entry *entryAt(const QString &path) const;

    QList<entry> entries;
    int modelIndex;
    QList<checkedFile> checkedList;
    trustedKeys trust;
    QString sha256;
    signatureVerdict::Kind signature = signatureVerdict::Unsigned;
};

#endif // ZIP_H
