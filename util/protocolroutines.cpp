// The stateless protocol routines of common: checksums, stuffing, image reads,
// the delay loop and the protocol time scale.
#include "util/common.h"

#include <QCoreApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QFile>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "util/logging.h"

namespace {
constexpr quint8 kDle = 0x10;
constexpr quint8 kStuffOffset = 0x20;

bool needsStuffing(quint8 byte)
{
    return byte == 0x02 || byte == 0x03 || byte == kDle;
}
} // namespace

quint16 common::calcCrc16(const quint8 *data, quint32 length)
{
    quint16 crc = 0xFFFF;
    for (quint32 i = 0; i < length; ++i) {
        crc ^= quint16(data[i]) << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? quint16((crc << 1) ^ 0x1021) : quint16(crc << 1);
    }
    return crc;
}

void common::escapeFrame(quint8 *frame, quint16 *length)
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

void common::recoverData(QByteArray &data, bool *pendingEscape)
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

qint64 common::readFileData(const QByteArray &image, quint8 *buffer, qint64 offset, qint64 maxCount)
{
    if (!buffer || maxCount < 0 || offset < 0)
        return -1;
    const qint64 count = offset < image.size() ? qMin(maxCount, qint64(image.size()) - offset) : 0;
    if (count > 0)
        std::memcpy(buffer, image.constData() + offset, size_t(count));
    std::memset(buffer + count, 0xFF, size_t(maxCount - count));
    return count;
}

void common::delayMs(int ms)
{
    const int wait = scaledMs(ms);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < wait)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

quint16 common::modbusCrc16(const quint8 *data, quint32 length)
{
    quint16 crc = 0xFFFF;
    for (quint32 i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return crc;
}

quint8 common::xorCheck(const quint8 *data, quint32 length)
{
    quint8 x = 0;
    for (quint32 i = 0; i < length; ++i)
        x ^= data[i];
    return x;
}

void common::setTimeScale(double factor)
{
    timeScale::set(factor);
}

bool common::parseTimeScale(const QString &text, double *factor)
{
    return timeScale::parse(text, factor);
}

double common::timeScale()
{
    return timeScale::factor();
}

int common::scaledMs(int ms)
{
    return timeScale::scaledMs(ms);
}
