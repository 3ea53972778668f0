#ifndef SECONDCODEC_H
#define SECONDCODEC_H

#include <QtGlobal>

// The second board's checks and replies as plain code: no QObject, no line,
// no timer.
//
// A reply is 4, 12 or 13 bytes ending in the XOR of the bytes before it, or
// the 8-byte echo of the change-port command. Acknowledgements start
// 04 55 AA (the start command) or 04 AA 55 (any other command).
namespace secondCodec {

constexpr int kMaxReplyLength = 13;

// CRC-16 as the start command carries it: polynomial 0xA001 (reflected
// 0x8005), initial value 0xFFFF.
quint16 modbusCrc16(const quint8 *data, quint32 length);
// XOR of every byte: the check byte of every other frame.
quint8 xorCheck(const quint8 *data, quint32 length);

// One whole reply as received.
struct Reply
{
    quint8 bytes[kMaxReplyLength] = {};
    int length = 0;
    bool isStartAck() const;   // the start command taken
    bool isCommandAck() const; // any other command taken
};

// Why received bytes were dropped.
enum class ReceiveError {
    None,
    NoReply, // kMaxReplyLength bytes held and none of their prefixes is a reply
};

// The receive side: takes the line's bytes one by one, in whatever pieces
// they arrived, and says when they complete a reply. The shortest reply
// that checks wins; the caller clears after acting on it.
class decoder
{
public:
    enum Outcome { Incomplete, Complete, Dropped };
    Outcome push(quint8 byte);
    // The reply push() just completed.
    const Reply &reply() const { return m_held; }
    ReceiveError lastError() const { return m_error; }
    void clear() { m_held.length = 0; }
    int pending() const { return m_held.length; }

private:
    bool complete() const;

    Reply m_held;
    ReceiveError m_error = ReceiveError::None;
};

} // namespace secondCodec

#endif // SECONDCODEC_H
