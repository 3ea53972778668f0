#include "util/modeltable.h"

namespace {

constexpr qint64 kArmVerifyOffset = 0xB000;
constexpr qint64 kDspVerifyOffset = 0x17FE8;

const modelTable::secondImage kSecondImages[] = {
    {0x4000, "QJX-MONI", 8, 0xAD, 1},
    {0x27FEC, "NI0V", 4, 0xAA, 0},
    {0x17FEC, "ER0C", 4, 0x55, 0},
    {0x17FEC, "CE0U", 4, 0xAB, 0},
};
constexpr int kSecondImageCount = int(sizeof kSecondImages / sizeof kSecondImages[0]);

constexpr qint64 kLongPayload = modelTable::kLongFrameLength - 2;
constexpr qint64 kFillFrames = 17;

} // namespace

QString modelTable::ownName(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

qint64 modelTable::verifyCodeOffset(int imageIndex)
{
    return imageIndex == 0 ? kArmVerifyOffset : kDspVerifyOffset;
}

const modelTable::secondImage *modelTable::secondImageKind(int imageIndex)
{
    if (imageIndex < 0 || imageIndex >= kSecondImageCount)
        return nullptr;
    return &kSecondImages[imageIndex];
}

int modelTable::frameLength(int blockMode)
{
    return blockMode != 0 ? kLongFrameLength : kShortFrameLength;
}

qint64 modelTable::announcedSize(qint64 fileSize)
{
    return fileSize - (fileSize % kLongPayload) + kFillFrames * kLongPayload;
}
