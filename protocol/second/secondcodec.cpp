#include "protocol/second/secondcodec.h"

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
