#include "protocol/second/secondcodec.h"

#include <cstring>

namespace secondCodec {

quint16 modbusCrc16(const quint8 *data, quint32 length)
{
    quint16 crc = 0xFFFF;
    for (quint32 i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return crc;
}

quint8 xorCheck(const quint8 *data, quint32 length)
{
    quint8 x = 0;
    for (quint32 i = 0; i < length; ++i)
        x ^= data[i];
    return x;
}

} // namespace secondCodec

namespace {
constexpr quint8 kStartAck[3] = {0x04, 0x55, 0xAA};
constexpr quint8 kCommandAck[3] = {0x04, 0xAA, 0x55};
constexpr quint8 kPortEcho[8] = {0x01, 0x06, 0x9C, 0xA7, 0x00, 0x00, 0x16, 0x79};

bool startsWith(const quint8 *bytes, const quint8 *prefix)
{
    return std::memcmp(bytes, prefix, 3) == 0;
}

bool checksOut(const quint8 *bytes, int length)
{
    return bytes[length - 1] == secondCodec::xorCheck(bytes, quint32(length - 1));
}
} // namespace

namespace secondCodec {

bool Reply::isStartAck() const
{
    return startsWith(bytes, kStartAck);
}

bool Reply::isCommandAck() const
{
    return startsWith(bytes, kCommandAck);
}

bool decoder::complete() const
{
    switch (m_held.length) {
    case 4:
    case 12:
    case kMaxReplyLength:
        return checksOut(m_held.bytes, m_held.length);
    case 8:
        return std::memcmp(m_held.bytes, kPortEcho, sizeof kPortEcho) == 0;
    default:
        return false;
    }
}

decoder::Outcome decoder::push(quint8 byte)
{
    m_error = ReceiveError::None;
    // Never more than kMaxReplyLength bytes are held, whatever a caller left
    // behind between a reply and its clear().
    if (m_held.length >= kMaxReplyLength)
        m_held.length = 0;
    m_held.bytes[m_held.length++] = byte;
    if (complete())
        return Complete;
    if (m_held.length >= kMaxReplyLength) {
        m_held.length = 0;
        m_error = ReceiveError::NoReply;
        return Dropped;
    }
    return Incomplete;
}

} // namespace secondCodec
