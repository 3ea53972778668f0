// The stateless protocol routines of common, under their old names: the
// checksums and the stuffing live with each board's frames, the image reads
// with the engines, the time scale in its own header; only the delay loop is
// here.
#include "update/common.h"

#include "protocol/first/firstcodec.h"
#include "protocol/second/secondcodec.h"
#include "protocol/updateengine.h"

#include <QCoreApplication>
#include <QElapsedTimer>

quint16 common::calcCrc16(const quint8 *data, quint32 length)
{
    return firstCodec::crc16(data, length);
}

void common::escapeFrame(quint8 *frame, quint16 *length)
{
    firstCodec::stuff(frame, length);
}

void common::recoverData(QByteArray &data, bool *pendingEscape)
{
    firstCodec::unstuff(data, pendingEscape);
}

qint64 common::readFileData(const QByteArray &image, quint8 *buffer, qint64 offset, qint64 maxCount)
{
    return updateEngine::readImage(image, buffer, offset, maxCount);
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
    return secondCodec::modbusCrc16(data, length);
}

quint8 common::xorCheck(const quint8 *data, quint32 length)
{
    return secondCodec::xorCheck(data, length);
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
