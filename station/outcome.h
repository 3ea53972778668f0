#ifndef OUTCOME_H
#define OUTCOME_H

#include <QString>

#include "protocol/updateengine.h"

// What an image, an attempt and a unit came to, and why a job failed. The
// codes that events and report lines carry come from codeOf() alone; front
// ends word them for people as they like.
enum class imageResult { NotSent, Passed, Failed, Interrupted, Checked };

// None: no unit has ended on the port yet.
enum class unitResult { None, Passed, Failed, Interrupted };

// The engines' reasons, plus an object file that could not be translated
// and so never reached an engine.
enum class failReason {
    None = updateEngine::NoFailure,
    PortUnavailable = updateEngine::PortUnavailable,
    ImageUnreadable = updateEngine::ImageUnreadable,
    ImageRejected = updateEngine::ImageRejected,
    HandshakeFailed = updateEngine::HandshakeFailed,
    VerifyFailed = updateEngine::VerifyFailed,
    EraseFailed = updateEngine::EraseFailed,
    TransferFailed = updateEngine::TransferFailed,
    JumpFailed = updateEngine::JumpFailed,
    LineSpeedFailed = updateEngine::LineSpeedFailed,
    TranslationFailed = 1000,
};

// An engine's reason as it reported it (updateEngine::FailReason).
inline failReason reasonOfEngine(int engineReason)
{
    return static_cast<failReason>(engineReason);
}

QString codeOf(imageResult result);
// Empty for None: no unit, nothing to tell.
QString codeOf(unitResult result);
// Empty for None.
QString codeOf(failReason reason);

#endif // OUTCOME_H
