#ifndef MEMORYINPUT_H
#define MEMORYINPUT_H

#include <QByteArray>
#include <QString>

// Arbitrary bytes through the code that reads outside input in memory: the
// boards' receive sides, the SIGNATURE member, object files. No file, no
// line, no event loop and no application object, so that a fuzz target
// linking only this and the code under test runs at full speed. The fuzz
// targets and the regression replay share it; each returns an empty string
// when every invariant held, otherwise the broken one.
class memoryInput
{
public:
    // bytes[0] bit 0 chooses the first board's preamble replies over its
    // framed ones; then arrivals coded as hostileInput::splitArrivals reads
    // them, an expiry clearing what is held as a new sending does.
    static QString decodeFirstBoard(const QByteArray &bytes);
    // Arrivals from bytes[0] on.
    static QString decodeSecondBoard(const QByteArray &bytes);
    static QString parseSignature(const QByteArray &bytes);
    // Whether a listing the fuzz key signed is built again and compared
    // (off by default: signing is slow next to parsing).
    static void setSigningRoundTrip(bool on) { s_signingRoundTrip = on; }
    // Read and flattened, nothing written.
    static QString readObjectFile(const QByteArray &bytes);

    // The fixed key pair the fuzz seeds are signed with (64 and 32 bytes).
    static QByteArray fuzzSecretKey();
    static QByteArray fuzzPublicKey();

private:
    static bool s_signingRoundTrip;
};

#endif // MEMORYINPUT_H
