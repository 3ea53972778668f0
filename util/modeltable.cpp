#include "util/modeltable.h"

namespace {

const char *const kPathTags[modelTable::kModelCount] = {"5-10k", "15-20k"};

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

int knownModel(int modelId)
{
    return modelId == 1 ? 1 : 0;
}

} // namespace

int modelTable::modelNamedBy(const QString &text)
{
    for (int model = 0; model < kModelCount; ++model) {
        if (text.contains(QLatin1String(kPathTags[model])))
            return model;
    }
    return -1;
}

QString modelTable::pathTag(int modelId)
{
    return QLatin1String(kPathTags[knownModel(modelId)]);
}

const QStringList &modelTable::imageNames(int modelId)
{
    static const QStringList names[kModelCount] = {
        {QStringLiteral("arm.bin"), QStringLiteral("dsp.out")},
        {QStringLiteral("2U_20K_MONITOR"), QStringLiteral("Inv_power33"), QStringLiteral("Rec_power33")}};
    return names[knownModel(modelId)];
}

const QStringList &modelTable::packagedNames(int modelId)
{
    static const QStringList names[kModelCount] = {
        {QStringLiteral("arm.bin"), QStringLiteral("dsp.out")},
        {QStringLiteral("2U_20K_MONITOR.bin"), QStringLiteral("Inv_power33.out"), QStringLiteral("Rec_power33.out")}};
    return names[knownModel(modelId)];
}

// Only the two formats an engine takes are images.
int modelTable::imageMatches(int modelId, const QString &fileName, int *first)
{
    if (!fileName.endsWith(QLatin1String(".bin")) && !fileName.endsWith(QLatin1String(".out")))
        return 0;
    const QStringList &names = imageNames(modelId);
    int count = 0;
    for (int i = 0; i < names.size(); ++i) {
        if (!fileName.contains(names.at(i)))
            continue;
        if (count++ == 0 && first)
            *first = i;
    }
    return count;
}

QString modelTable::ownName(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

int modelTable::imageIndexOf(int modelId, const QString &fileName)
{
    int first = -1;
    return imageMatches(modelId, fileName, &first) > 0 ? first : -1;
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
