#ifndef MODELTABLE_H
#define MODELTABLE_H

#include <QString>
#include <QStringList>

// The boards' boot-loader facts that the engines, the simulated units and the
// sample maker share (what differs between models above that is in the
// model registry), and the one rule for a file's own name.
class modelTable
{
public:
    // The file's own name: folders and the package path may hold any name,
    // so only this part of a path tells which image a file is.
    static QString ownName(const QString &path);

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
