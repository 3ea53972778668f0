#include "protocol/updateengine.h"

#include <cstring>

#include <QFileInfo>

const char *updateEngine::reasonCode(int reason)
{
    switch (reason) {
    case NoFailure:
        return "none";
    case PortUnavailable:
        return "port-unavailable";
    case ImageUnreadable:
        return "image-unreadable";
    case ImageRejected:
        return "image-rejected";
    case HandshakeFailed:
        return "handshake-failed";
    case VerifyFailed:
        return "verify-failed";
    case EraseFailed:
        return "erase-failed";
    case TransferFailed:
        return "transfer-failed";
    case JumpFailed:
        return "jump-failed";
    case LineSpeedFailed:
        return "line-speed-failed";
    default:
        return "unknown";
    }
}

QString updateEngine::giveUpLine(const QString &imagePath, const QString &step, Trouble trouble)
{
    QString check;
    switch (trouble) {
    case NoAnswer:
        check = tr("the unit does not answer: check the port, the cable, the power and that the package is for "
                   "this unit's model");
        break;
    case Refused:
        check = tr("the unit refuses it: check that the package is for this unit's model and processor");
        break;
    case NotUnderstood:
        check = tr("the unit's replies make no sense here: check the cable and that the package is for this "
                   "unit's model");
        break;
    case PortLost:
        check = tr("the port could not be opened again: check the port and the cable");
        break;
    }
    return tr("%1: stopped at the %2: %3").arg(QFileInfo(imagePath).fileName(), step, check);
}

qint64 updateEngine::readImage(const QByteArray &image, quint8 *buffer, qint64 offset, qint64 maxCount)
{
    if (!buffer || maxCount < 0 || offset < 0)
        return -1;
    const qint64 count = offset < image.size() ? qMin(maxCount, qint64(image.size()) - offset) : 0;
    if (count > 0)
        std::memcpy(buffer, image.constData() + offset, size_t(count));
    std::memset(buffer + count, 0xFF, size_t(maxCount - count));
    return count;
}
