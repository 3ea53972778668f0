#ifndef FIRSTCODEC_H
#define FIRSTCODEC_H

#include <QByteArray>
#include <QtGlobal>

// The first board's frames as plain code: no QObject, no line, no timer.
//
// Preamble (2400 baud): 23 04 00 05 AF, four data bytes, the byte sum of
// the nine before it.
// Command (9600 baud): STX, length (2 bytes, big-endian: code and payload),
// code, payload, CRC-16 of code and payload (big-endian), ETX; every byte
// between STX and ETX that is STX, ETX or DLE goes as DLE, byte + 0x20.
// A reply is framed the same way: STX, length (2 bytes), code, count n,
// n bytes starting with the status (ACK or NAK), CRC (2 bytes), ETX; the
// preamble's replies are fixed 8-byte strings.
namespace firstCodec {

constexpr quint8 kStx = 0x02;
constexpr quint8 kEtx = 0x03;
constexpr quint8 kDle = 0x10;
constexpr quint8 kStuffOffset = 0x20;
constexpr quint8 kAck = 0x06;
constexpr quint8 kNak = 0x15;
constexpr int kPreambleLength = 10;
constexpr int kMinReplyLength = 9;
constexpr int kReplyOverhead = 8; // STX, length(2), code, n, CRC(2), ETX
// No reply is longer than 263 bytes; a buffer this long without one is noise.
constexpr int kMaxHeld = 64 * 1024;

// CRC-16: polynomial 0x1021, initial value 0xFFFF, no reflection.
quint16 crc16(const quint8 *data, quint32 length);
// The preamble frame carrying `data`.
QByteArray preamble(const quint8 data[4]);
// The command frame before stuffing.
QByteArray command(quint8 code, const quint8 *payload, int payloadLength);
// Stuffs frame[1 .. length-2] in place; frame must hold 2 * length bytes.
// A frame whose stuffed length would not fit 16 bits is left as it is.
void stuff(quint8 *frame, quint16 *length);
// Undoes the stuffing in place. With pendingEscape, a DLE that ends this
// piece is remembered there and applied to the first byte of the next.
void unstuff(QByteArray &data, bool *pendingEscape = nullptr);

// The preamble's two replies: to the start frame, and to the confirm frame.
QByteArray preambleStartReply();
QByteArray preambleConfirmReply();
// Whether the boot loader knows the command code (jump, shake hand, write,
// verify, erase).
bool isKnownCommand(quint8 code);

// One framed reply, un-stuffed. Its CRC is not checked: the boot loader's
// replies are acted on by code and status alone.
struct Reply
{
    quint8 code = 0;
    quint8 count = 0;  // the n of the frame: status byte and what follows
    quint8 status = 0; // ACK or NAK, when the reply means something
    QByteArray frame;  // STX to ETX
    // A known code with a count and an ACK or NAK status.
    bool understood() const;
};

// Why received bytes were dropped or held without a reply.
enum class ReceiveError {
    None,
    NoStart,      // nothing held starts a reply (no STX): dropped
    Overflow,     // more than kMaxHeld bytes held: dropped
    MisplacedEnd, // no ETX where the length puts it: held until cleared
};

// What one arrival completed.
struct Received
{
    enum Kind { Incomplete, Complete, Rejected };
    Kind kind = Incomplete;
    ReceiveError error = ReceiveError::None;
    Reply reply; // when complete
};

// Which preamble replies the bytes held so far contain.
struct PreambleHeld
{
    bool start = false;
    bool confirm = false;
    ReceiveError error = ReceiveError::None; // Overflow: dropped
};

// The receive side: takes the line's bytes in whatever pieces they arrive
// and gives the reply they complete. Each arrival is un-stuffed as it comes
// (a DLE ending one escapes the first byte of the next); the first reply
// found is taken and everything else held goes with it.
class decoder
{
public:
    decoder();
    Received feed(const char *bytes, int size);
    Received feed(const QByteArray &bytes) { return feed(bytes.constData(), bytes.size()); }
    // Preamble replies are raw bytes found anywhere in what was held.
    void feedPreamble(const char *bytes, int size) { m_held.append(bytes, size); }
    void feedPreamble(const QByteArray &bytes) { feedPreamble(bytes.constData(), bytes.size()); }
    PreambleHeld scanPreamble();
    void clear();
    const QByteArray &held() const { return m_held; }

private:
    void appendUnstuffed(const char *bytes, int size);

    QByteArray m_held;
    bool m_pendingEscape = false;
};

} // namespace firstCodec

#endif // FIRSTCODEC_H
