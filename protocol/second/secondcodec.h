#ifndef SECONDCODEC_H
#define SECONDCODEC_H

#include <QtGlobal>

// The second board's checks as plain code: no QObject, no line, no timer.
namespace secondCodec {

// CRC-16 as the start command carries it: polynomial 0xA001 (reflected
// 0x8005), initial value 0xFFFF.
quint16 modbusCrc16(const quint8 *data, quint32 length);
// XOR of every byte: the check byte of every other frame.
quint8 xorCheck(const quint8 *data, quint32 length);

} // namespace secondCodec

#endif // SECONDCODEC_H
