#ifndef COMMON_H
#define COMMON_H

#include <QObject>
#include <QString>
#include <QVariant>
#include <QByteArray>

#include "package/objectfile.h"
#include "util/timescale.h"

// The utility class of the window and the queue, kept under its old names as
// a thin front: object-file translation (package/objectfile), settings
// access (util/settingsfile), each board's checksums and stuffing, the
// engines' image reads, the time scale, and the short delay loop.
class common : public QObject
{
    Q_OBJECT

public:
    using SectionEntry = objectFile::SectionEntry;
    static constexpr int kMaxSections = objectFile::kMaxSections;

    explicit common(QObject *parent = nullptr);

    static constexpr qint64 kMaxObjectFileSize = objectFile::kMaxObjectFileSize;

    // Object-file translation, as objectFile does it; its lines come out of
    // sendMessage here.
    QString translateFile(const QString &inPath);
    QString translateImage(const QString &inPath, const QByteArray &object, QByteArray *flat);
    bool parseOutFile(const QByteArray &object);
    bool buildBinFile(const QByteArray &object, QByteArray *flat);
    bool appendFile(const QString &path, const quint8 *data, quint32 length);

    // Settings in an INI file, as settingsFile reads and writes them.
    bool readSetting(const QString &fileName, const QString &key, QVariant &out);
    bool readSwitch(const QString &fileName, const QString &key);
    bool writeSetting(const QString &fileName, const QString &key, const QVariant &value, QString *problem = nullptr);

    // First board protocol: CRC-16 (poly 0x1021, init 0xFFFF, no reflection).
    static quint16 calcCrc16(const quint8 *data, quint32 length);
    // Stuffs frame[1 .. length-2] in place; frame must hold 2 * length bytes.
    static void escapeFrame(quint8 *frame, quint16 *length);
    // Undoes the stuffing in place. With pendingEscape, a DLE that ends this
    // piece is remembered there and applied to the first byte of the next.
    static void recoverData(QByteArray &data, bool *pendingEscape = nullptr);
    // Reads up to maxCount bytes of an image at offset, fills the rest of the
    // buffer up to maxCount with 0xFF; returns the count read or -1.
    static qint64 readFileData(const QByteArray &image, quint8 *buffer, qint64 offset, qint64 maxCount);
    // Processes events until ms (scaled) have passed.
    static void delayMs(int ms);

    // Second board protocol checksums.
    static quint16 modbusCrc16(const quint8 *data, quint32 length);
    static quint8 xorCheck(const quint8 *data, quint32 length);

    // The time scale (util/timescale.h), under the names the tests and
    // programs have always used.
    static void setTimeScale(double factor);
    static double timeScale();
    static int scaledMs(int ms);
    // The programs' --time-scale: a finite number above 0, at most
    // kMaxTimeScale. Sets 'factor' only when the text is one.
    static constexpr double kMaxTimeScale = timeScale::kMax;
    static bool parseTimeScale(const QString &text, double *factor);

    quint32 selectedSectionCount() const { return objects.selectedSectionCount(); }
    const SectionEntry &section(int i) const { return objects.section(i); }

signals:
    void sendMessage(QString message);

private:
    objectFile objects;
};

#endif // COMMON_H
