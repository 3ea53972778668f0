#include "protocol/first/firstcodec.h"

#include "util/logging.h"

namespace {
constexpr quint8 kPreambleLead[] = {0x23, 0x04, 0x00, 0x05, 0xAF};
constexpr quint8 kCmdJump = 0x04;
constexpr quint8 kCmdShakeHand = 0x11;
constexpr quint8 kCmdWriteFlash = 0x12;
constexpr quint8 kCmdVerify = 0x13;
constexpr quint8 kCmdErase = 0x14;

bool needsStuffing(quint8 byte)
{
    return byte == firstCodec::kStx || byte == firstCodec::kEtx || byte == firstCodec::kDle;
}
} // namespace

namespace firstCodec {

quint16 crc16(const quint8 *data, quint32 length)
{
    quint16 crc = 0xFFFF;
    for (quint32 i = 0; i < length; ++i) {
        crc ^= quint16(data[i]) << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? quint16((crc << 1) ^ 0x1021) : quint16(crc << 1);
    }
    return crc;
}

QByteArray preamble(const quint8 data[4])
{
    QByteArray frame(reinterpret_cast<const char *>(kPreambleLead), sizeof kPreambleLead);
    frame.append(reinterpret_cast<const char *>(data), 4);
    quint8 sum = 0;
    for (char byte : qAsConst(frame))
        sum = quint8(sum + quint8(byte));
    frame.append(char(sum));
    return frame;
}

QByteArray command(quint8 code, const quint8 *payload, int payloadLength)
{
    const int n = 1 + payloadLength;
    QByteArray frame;
    frame.reserve(n + 6);
    frame.append(char(kStx));
    frame.append(char(quint8(n >> 8)));
    frame.append(char(quint8(n & 0xFF)));
    frame.append(char(code));
    frame.append(reinterpret_cast<const char *>(payload), payloadLength);
    const quint16 crc = crc16(reinterpret_cast<const quint8 *>(frame.constData()) + 3, quint32(n));
    frame.append(char(quint8(crc >> 8)));
    frame.append(char(quint8(crc & 0xFF)));
    frame.append(char(kEtx));
    return frame;
}

void stuff(quint8 *frame, quint16 *length)
{
    const int len = *length;
    if (len < 3)
        return;
    int stuffedLength = len;
    for (int i = 1; i + 1 < len; ++i)
        stuffedLength += needsStuffing(frame[i]) ? 1 : 0;
    if (stuffedLength > 0xFFFF)
        return; // the length could not be written back
    // Rewrite from the end: the write position never falls behind the read
    // position, so no byte is overwritten before it has been read.
    int out = stuffedLength - 1;
    frame[out--] = frame[len - 1];
    for (int i = len - 2; i >= 1; --i) {
        const quint8 byte = frame[i];
        if (needsStuffing(byte)) {
            frame[out--] = quint8(byte + kStuffOffset);
            frame[out--] = kDle;
        } else {
            frame[out--] = byte;
        }
    }
    *length = quint16(stuffedLength);
}

void unstuff(QByteArray &data, bool *pendingEscape)
{
    bool escaped = pendingEscape ? *pendingEscape : false;
    if (data.isEmpty())
        return;
    const QByteArray copy = data;
    data.clear();
    for (char c : copy) {
        const quint8 byte = quint8(c);
        if (byte == kDle) {
            escaped = true;
            continue;
        }
        if (escaped) {
            escaped = false;
            qCDebug(lcFirstProtocol, "recover :%02x ", byte);
            data.append(char(quint8(byte - kStuffOffset)));
        } else {
            data.append(c);
        }
    }
    if (pendingEscape)
        *pendingEscape = escaped;
}

QByteArray preambleStartReply()
{
    return QByteArray::fromHex("23020003afaa55d6");
}

QByteArray preambleConfirmReply()
{
    return QByteArray::fromHex("23020003af4f4b71");
}

bool isKnownCommand(quint8 code)
{
    switch (code) {
    case kCmdJump:
    case kCmdShakeHand:
    case kCmdWriteFlash:
    case kCmdVerify:
    case kCmdErase:
        return true;
    default:
        return false;
    }
}

bool Reply::understood() const
{
    return isKnownCommand(code) && count >= 1 && (status == kAck || status == kNak);
}

// Room for the longest reply, kept across clear(): a decoder allocates once.
decoder::decoder()
{
    m_held.reserve(512);
}

void decoder::clear()
{
    m_held.resize(0);
    m_pendingEscape = false;
}

// As unstuff() with a pending escape, straight into what is held.
void decoder::appendUnstuffed(const char *bytes, int size)
{
    const int from = m_held.size();
    m_held.resize(from + size);
    char *out = m_held.data() + from;
    for (int i = 0; i < size; ++i) {
        const char c = bytes[i];
        const quint8 byte = quint8(c);
        if (byte == kDle) {
            m_pendingEscape = true;
        } else if (m_pendingEscape) {
            m_pendingEscape = false;
            qCDebug(lcFirstProtocol, "recover :%02x ", byte);
            *out++ = char(quint8(byte - kStuffOffset));
        } else {
            *out++ = c;
        }
    }
    m_held.resize(int(out - m_held.constData()));
}

Received decoder::feed(const char *bytes, int size)
{
    Received got;
    appendUnstuffed(bytes, size);
    const int stx = m_held.indexOf(char(kStx));
    if (stx < 0 || m_held.size() > kMaxHeld) {
        clear();
        got.kind = Received::Rejected;
        got.error = stx < 0 ? ReceiveError::NoStart : ReceiveError::Overflow;
        return got;
    }
    const int available = m_held.size() - stx;
    if (available < kMinReplyLength)
        return got;
    const int n = quint8(m_held.at(stx + 4));
    if (available < n + kReplyOverhead)
        return got;
    if (quint8(m_held.at(stx + n + 7)) != kEtx) {
        got.error = ReceiveError::MisplacedEnd;
        return got;
    }
    got.kind = Received::Complete;
    got.reply.frame = m_held.mid(stx, n + kReplyOverhead);
    got.reply.code = quint8(got.reply.frame.at(3));
    got.reply.count = quint8(got.reply.frame.at(4));
    got.reply.status = quint8(got.reply.frame.at(5));
    clear();
    return got;
}

PreambleHeld decoder::scanPreamble()
{
    static const QByteArray start = preambleStartReply();
    static const QByteArray confirm = preambleConfirmReply();
    PreambleHeld found;
    if (m_held.size() > kMaxHeld) {
        clear();
        found.error = ReceiveError::Overflow;
        return found;
    }
    if (m_held.size() < start.size())
        return found;
    found.start = m_held.contains(start);
    found.confirm = m_held.contains(confirm);
    return found;
}

} // namespace firstCodec
