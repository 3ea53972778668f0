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
namespace firstCodec {

constexpr quint8 kStx = 0x02;
constexpr quint8 kEtx = 0x03;
constexpr quint8 kDle = 0x10;
constexpr quint8 kStuffOffset = 0x20;
constexpr int kPreambleLength = 10;

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

} // namespace firstCodec

#endif // FIRSTCODEC_H
