#ifndef MODELTABLE_H
#define MODELTABLE_H

#include <QString>
#include <QStringList>

// What differs between the two unit models, in one place: the package, the
// queue, the engines, the flasher and the package builder all read it here.
class modelTable
{
public:
    static constexpr int kModelCount = 2;

    // The model a package's name or path names: "5-10k" (model 0) before
    // "15-20k" (model 1); -1 for neither.
    static int modelNamedBy(const QString &text);
    static QString pathTag(int modelId);

    // The image names of a model in the order they are sent; an image file
    // holds one of them in its own name and ends in ".bin" or ".out".
    static const QStringList &imageNames(int modelId);
    // The file names a package builder gives a model's images.
    static const QStringList &packagedNames(int modelId);
    // How many image names a file name holds; the first one's index goes to
    // `first` (when not null).
    static int imageMatches(int modelId, const QString &fileName, int *first);
    // The file's own name: folders and the package path may hold any name,
    // so only this part of a path tells which image a file is.
    static QString ownName(const QString &path);
    // The image index of a file name, -1 when it names no image.
    static int imageIndexOf(int modelId, const QString &fileName);

    // First board: where the boot loader takes an image's 4-byte verify code.
    static qint64 verifyCodeOffset(int imageIndex);

    // Second board: the signature an image must carry, the code that
    // announces it and whether it travels in long frames.
    struct secondImage
    {
        qint64 signatureOffset;
        const char *signature;
        int signatureLength;
        quint8 code;
        int blockMode; // 1: 128-byte frames, with the size announced first
    };
    static const secondImage *secondImageKind(int imageIndex);
    static constexpr int kShortFrameLength = 34; // sequence, 32 bytes, XOR
    static constexpr int kLongFrameLength = 130; // sequence, 128 bytes, XOR
    static int frameLength(int blockMode);
    // Long-frame images are announced rounded down to whole frames, plus the
    // seventeen frames of fill that the unit expects after the image.
    static qint64 announcedSize(qint64 fileSize);
};

#endif // MODELTABLE_H
