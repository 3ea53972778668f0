#include "protocol/updateengine.h"

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
