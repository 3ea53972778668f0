#include "protocol/updateengine.h"

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
