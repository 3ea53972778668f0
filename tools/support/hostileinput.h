#ifndef HOSTILEINPUT_H
#define HOSTILEINPUT_H

#include <QByteArray>
#include <QList>
#include <QString>

// Feeds arbitrary bytes through the code that meets outside input: object
// files, the replies of both boards and firmware packages. The fuzz targets
// and the regression test share it, so a finding replays exactly as found.
// Each feed returns an empty string when every invariant held, otherwise a
// description of the broken one. Needs a QCoreApplication.
class hostileInput
{
public:
    // One arrival per length byte: N (< 0xFE) takes the next N bytes,
    // 0xFF takes the rest, 0xFE lets the step timer run out instead.
    static constexpr quint8 kRestOfInput = 0xFF;
    static constexpr quint8 kTimerExpires = 0xFE;
    struct Arrival
    {
        bool timeout = false;
        QByteArray bytes;
    };
    static QList<Arrival> splitArrivals(const QByteArray &bytes, int from);
    static QByteArray joinArrivals(const QList<QByteArray> &arrivals);

    // The bytes as a ".out" file, translated into a flat image beside it
    // (memoryInput reads them in memory only).
    static QString translateObjectFile(const QByteArray &bytes);
    // The engines are driven through their public interface over a virtual
    // line, to the step named, by the replies a unit would give; then the
    // arrivals follow. An expiry stands for the step timer running out.
    // bytes[0]: step (low nibble), timer running (0x40; else stopped);
    // bytes[1]: image index (bit 0), size (bits 1-3), half written (bit 4).
    static QString feedFirstBoard(const QByteArray &bytes);
    // bytes[0]: state (low nibble), running (0x80), last block sent (0x20);
    // bytes[1]: image index (bits 0-1), size (bits 3-4).
    static QString feedSecondBoard(const QByteArray &bytes);
    // The bytes as a ".zip" package, unpacked and checked; when the size
    // leaves 2 or 3 over 4, with the fuzz key trusted, so that a refused
    // package can be seen to leave nothing behind.
    static QString unpackPackage(const QByteArray &bytes);
    // The fixed key pair the fuzz seeds are signed with (memoryInput's).
    static QByteArray fuzzSecretKey();
    static QByteArray fuzzPublicKey();

    // Silences the engines' byte dumps for long runs.
    static void silenceDebugOutput();

private:
    static QString scratchDir();
    static QString linePath();
};

#endif // HOSTILEINPUT_H
