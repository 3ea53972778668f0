#include "station/outcome.h"

QString codeOf(imageResult result)
{
    switch (result) {
    case imageResult::Passed:
        return QStringLiteral("passed");
    case imageResult::Failed:
        return QStringLiteral("failed");
    case imageResult::Interrupted:
        return QStringLiteral("interrupted");
    case imageResult::Checked:
        return QStringLiteral("checked");
    case imageResult::NotSent:
        break;
    }
    return QStringLiteral("not-sent");
}

QString codeOf(unitResult result)
{
    switch (result) {
    case unitResult::Passed:
        return QStringLiteral("passed");
    case unitResult::Failed:
        return QStringLiteral("failed");
    case unitResult::Interrupted:
        return QStringLiteral("interrupted");
    case unitResult::None:
        break;
    }
    return QString();
}

// The engines name their own reasons; only the translation's is the
// station's.
QString codeOf(failReason reason)
{
    switch (reason) {
    case failReason::None:
        return QString();
    case failReason::TranslationFailed:
        return QStringLiteral("translation-failed");
    default:
        return QString::fromLatin1(updateEngine::reasonCode(int(reason)));
    }
}
