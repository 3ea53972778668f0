#ifndef CHECKSUMVECTORS_H
#define CHECKSUMVECTORS_H

#include <QByteArray>
#include <QVector>

// Known answers for the three checksums of the protocols, kept in one table
// so that every test that checks a checksum checks the same values. The
// frame bodies are ones the engines really send.
struct checksumVector
{
    const char *name;
    QByteArray input;
    uint value;
};

namespace checksumVectors {

// The first board's CRC-16 (CCITT, initial value 0xFFFF).
inline QVector<checksumVector> crc16()
{
    return {
        {"check value", QByteArray("123456789"), 0x29B1u},
        {"empty is initial value", QByteArray(), 0xFFFFu},
        {"shake hand body", QByteArray::fromHex("110101"), 0x9BDFu},
        {"erase body", QByteArray::fromHex("1400"), 0xD2B8u},
        {"jump body", QByteArray::fromHex("0400"), 0xD1CBu},
    };
}

// The second board's Modbus CRC-16 (initial value 0xFFFF, sent low byte first).
inline QVector<checksumVector> modbus()
{
    return {
        {"check value", QByteArray("123456789"), 0x4B37u},
        {"abc", QByteArray("abc"), 0x5749u},
        {"empty is initial value", QByteArray(), 0xFFFFu},
        {"start-update index 0", QByteArray::fromHex("0107AD"), 0x8DE3u},
        {"start-update index 2", QByteArray::fromHex("010755"), 0x0FE2u},
        {"change-port request", QByteArray::fromHex("01069CA70000"), 0x7916u},
    };
}

// The second board's XOR of every byte.
inline QVector<checksumVector> xorCheck()
{
    return {
        {"check value", QByteArray("123456789"), 0x31u ^ 0x32u ^ 0x33u ^ 0x34u ^ 0x35u ^ 0x36u ^ 0x37u ^ 0x38u ^ 0x39u},
        {"abc", QByteArray("abc"), 0x60u},
        {"empty is zero", QByteArray(), 0u},
        {"change-port frame", QByteArray::fromHex("01069CA700001679"), 0x53u},
        {"erase frame", QByteArray::fromHex("040000FFFF00AA55"), 0xFBu},
        {"file-size frame", QByteArray::fromHex("AA00018F00"), 0x24u},
    };
}

} // namespace checksumVectors

#endif // CHECKSUMVECTORS_H
