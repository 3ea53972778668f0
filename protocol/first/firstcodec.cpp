#include "protocol/first/firstcodec.h"

namespace {
constexpr quint8 kPreambleLead[] = {0x23, 0x04, 0x00, 0x05, 0xAF};

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

QByteArray stuffed(const QByteArray &frame)
{
    if (frame.size() < 3)
        return frame;
    QByteArray out;
    out.reserve(frame.size() * 2);
    out.append(frame.front());
    for (int i = 1; i + 1 < frame.size(); ++i) {
        const quint8 byte = quint8(frame.at(i));
        if (needsStuffing(byte)) {
            out.append(char(kDle));
            out.append(char(quint8(byte + kStuffOffset)));
        } else {
            out.append(char(byte));
        }
    }
    out.append(frame.back());
    return out;
}

} // namespace firstCodec
