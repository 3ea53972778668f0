#include "tools/pack/samplemaker.h"

#include "model/modelregistry.h"
#include "tools/unitsim/unitmodels.h"

#include <QDir>
#include <QFile>

#include "tools/support/packagewriter.h"
#include "util/modeltable.h"

namespace {

void place(QByteArray &image, quint32 start, quint32 wordAddress, const QByteArray &data)
{
    image.replace(int(2 * (wordAddress - start)), data.size(), data);
}

QByteArray littleEndian32(quint32 value)
{
    QByteArray bytes;
    for (int i = 0; i < 4; ++i)
        bytes.append(char((value >> (8 * i)) & 0xFF));
    return bytes;
}

} // namespace

QByteArray sampleMaker::flatImage(int size, quint32 seed)
{
    return coffWriter::pattern(quint32(size + 1) / 2, seed).left(size);
}

QByteArray sampleMaker::objectFile(quint32 start, const QByteArray &signature, quint32 seed, QByteArray *expectedImage)
{
    using S = coffWriter;
    const QByteArray text = S::pattern(0x1800, seed);
    const QByteArray ramfuncs = S::pattern(0x100, seed + 1);
    const QByteArray econst = S::pattern(0x300, seed + 2);
    const QByteArray cinit = S::pattern(0x40, seed + 3);
    const QByteArray tables = S::pattern(0x800, seed + 4);
    const QByteArray tail = littleEndian32(0xA5000000u | seed) + signature;

    coffWriter w;
    w.addSection(S::loaded("codestart", 0x3F7FF6, S::pattern(2, seed + 5)));
    w.addSection(S::loaded(".econst", start + 0x2000, econst, S::kFlagData));
    w.addSection(S::loaded(".text", start, text));
    w.addSection(S::uninitialised(".ebss", 0x00C000, 0x0800));
    S::Section ram = S::loaded("ramfuncs", start + 0x1800, ramfuncs);
    ram.runAddress = 0x008000; // copied to RAM at start-up
    w.addSection(ram);
    w.addSection(S::loaded(".cinit", start + 0x2400, cinit, S::kFlagData));
    w.addSection(S::loaded("tables", start + 0x6000, tables, S::kFlagData));
    w.addSection(S::uninitialised(".stack", 0x000400, 0x0200));
    w.addSection(S::loaded("verifysig", kSignatureWord - 2, tail, S::kFlagData));
    w.addSection(S::loaded("csmpasswd", 0x3F7FF8, QByteArray(16, char(0xFF)), S::kFlagData));

    if (expectedImage) {
        QByteArray image(int(2 * (kSignatureWord + 2 - start)), char(0xFF));
        place(image, start, start, text);
        place(image, start, start + 0x1800, ramfuncs);
        place(image, start, start + 0x2000, econst);
        place(image, start, start + 0x2400, cinit);
        place(image, start, start + 0x6000, tables);
        place(image, start, kSignatureWord - 2, tail);
        *expectedImage = image;
    }
    return w.build();
}

QList<sampleMaker::sampleImage> sampleMaker::modelImages(int model)
{
    const unitModel *row = unitModels::find(model);
    return row && row->sampleImages ? row->sampleImages() : QList<sampleImage>();
}

QList<sampleMaker::sampleImage> sampleMaker::firstImages()
{
    QList<sampleImage> images;
    QByteArray arm = flatImage(kArmSize, 11);
    arm.replace(int(modelTable::verifyCodeOffset(0)), 4, littleEndian32(0x12345678));
    images.append({QStringLiteral("arm.bin"), arm, QStringLiteral("arm.bin"), arm});
    QByteArray dsp;
    const QByteArray dspObject = coffWriter::sampleObjectFile(&dsp, 0x87654321);
    images.append({QStringLiteral("dsp.out"), dspObject, QStringLiteral("dsp.bin"), dsp});
    return images;
}

QList<sampleMaker::sampleImage> sampleMaker::secondImages()
{
    QList<sampleImage> images;
    QByteArray monitor = flatImage(kMonitorSize, 21);
    const modelTable::secondImage *kind = modelTable::secondImageKind(0);
    monitor.replace(int(kind->signatureOffset), kind->signatureLength,
                    QByteArray(kind->signature, kind->signatureLength));
    images.append({QStringLiteral("2U_20K_MONITOR.bin"), monitor, QStringLiteral("2U_20K_MONITOR.bin"), monitor});
    QByteArray inv;
    const QByteArray invObject = objectFile(kStartB, QByteArrayLiteral("NI0V"), 31, &inv);
    images.append({QStringLiteral("Inv_power33.out"), invObject, QStringLiteral("Inv_power33.bin"), inv});
    QByteArray rec;
    const QByteArray recObject = objectFile(kStartA, QByteArrayLiteral("ER0C"), 41, &rec);
    images.append({QStringLiteral("Rec_power33.out"), recObject, QStringLiteral("Rec_power33.bin"), rec});
    return images;
}

QString sampleMaker::packageName(int model)
{
    return QStringLiteral("ups_%1.zip").arg(modelRegistry::pathTag(model));
}

bool sampleMaker::writeFile(const QString &path, const QByteArray &bytes, QString *error)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size())
        return true;
    *error = path + QStringLiteral(": ") + file.errorString();
    return false;
}

bool sampleMaker::writeAll(const QString &dir, QString *error)
{
    const QDir root(dir);
    if (!root.mkpath(QStringLiteral("images")) || !root.mkpath(QStringLiteral("expected"))) {
        *error = tr("%1: cannot create directories").arg(dir);
        return false;
    }
    for (const unitModel *unit : unitModels::rows()) {
        const QList<sampleImage> images = modelImages(unit->modelId);
        if (images.isEmpty())
            continue;
        const int model = unit->modelId;
        packageWriter writer(root.filePath(packageName(model)));
        if (!writer.open()) {
            *error = tr("%1: cannot create").arg(root.filePath(packageName(model)));
            return false;
        }
        for (const sampleImage &image : images) {
            if (!writeFile(root.filePath(QStringLiteral("images/") + image.name), image.packaged, error)
                || !writeFile(root.filePath(QStringLiteral("expected/") + image.expectedName), image.expected, error))
                return false;
            if (!writer.addImage(image.name, image.packaged)) {
                *error = tr("%1: cannot add to the package").arg(image.name);
                return false;
            }
        }
        if (!writer.close()) {
            *error = tr("%1: cannot write").arg(root.filePath(packageName(model)));
            return false;
        }
    }
    return true;
}
