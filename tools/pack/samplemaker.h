#ifndef SAMPLEMAKER_H
#define SAMPLEMAKER_H

#include <QByteArray>
#include <QCoreApplication>
#include <QList>
#include <QString>

#include "tools/support/coffwriter.h"

// Realistic sample images and packages for both unit models: flat images
// that carry the verify codes and signatures where the boot loaders look,
// and object files laid out as a flash build is (sections out of order,
// gaps, code run from RAM, uninitialised data, sections above the end
// bound). Each image comes with the flat image the unit must end up with.
class sampleMaker
{
    Q_DECLARE_TR_FUNCTIONS(sampleMaker)

public:
    struct sampleImage
    {
        QString name;         // member name in the package
        QByteArray packaged;  // what goes into the package (before the trailer)
        QString expectedName; // file name of the expected flat image
        QByteArray expected;  // the flat image the unit must hold
    };

    static constexpr quint32 kStartA = 0x3E8000;
    static constexpr quint32 kStartB = 0x3E0000;
    static constexpr quint32 kSignatureWord = 0x3F3FF6; // last words below the end bound
    static constexpr int kArmSize = 49000;              // past the verify code, not a block multiple
    static constexpr int kMonitorSize = 65600;          // past the signature, not a frame multiple

    // A model's sample images; none for a model without a sample.
    static QList<sampleImage> modelImages(int model);
    static QList<sampleImage> firstImages();
    static QList<sampleImage> secondImages();
    static QString packageName(int model);

    // Writes DIR/<package> for every model with a sample, DIR/images/<member> (payloads)
    // and DIR/expected/<flat image>. False with a reason on failure.
    static bool writeAll(const QString &dir, QString *error);

    // An object file whose flat image starts at `start` and ends with the
    // 4-byte verify code and the 4-byte signature at kSignatureWord.
    static QByteArray objectFile(quint32 start, const QByteArray &signature, quint32 seed, QByteArray *expectedImage);

private:
    static QByteArray flatImage(int size, quint32 seed);
    static bool writeFile(const QString &path, const QByteArray &bytes, QString *error);
};

#endif // SAMPLEMAKER_H
