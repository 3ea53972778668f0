#include "stationapp/failurewords.h"

QString failureWords::what(failReason reason)
{
    switch (reason) {
    case failReason::PortUnavailable:
        return tr("The port could not be opened.");
    case failReason::ImageUnreadable:
        return tr("An image of the package could not be read.");
    case failReason::ImageRejected:
        return tr("The unit refused the image.");
    case failReason::HandshakeFailed:
        return tr("The unit did not answer.");
    case failReason::VerifyFailed:
        return tr("The unit did not accept the image's check.");
    case failReason::EraseFailed:
        return tr("The unit could not erase its flash.");
    case failReason::TransferFailed:
        return tr("The transfer broke off.");
    case failReason::JumpFailed:
        return tr("The unit did not start its new firmware.");
    case failReason::LineSpeedFailed:
        return tr("The line speed could not be changed.");
    case failReason::TranslationFailed:
        return tr("An object file of the package could not be translated.");
    case failReason::None:
        break;
    }
    return tr("The update failed.");
}

QString failureWords::todo(failReason reason)
{
    switch (reason) {
    case failReason::PortUnavailable:
    case failReason::LineSpeedFailed:
        return tr("Check the adapter and the cable, then plug the unit in again.");
    case failReason::ImageUnreadable:
    case failReason::TranslationFailed:
        return tr("Call the engineer: the package is faulty.");
    case failReason::ImageRejected:
        return tr("Check that the unit is the package's model; else call the engineer.");
    case failReason::HandshakeFailed:
        return tr("Check that the unit is powered and in its boot loader, then plug it in again.");
    case failReason::VerifyFailed:
    case failReason::TransferFailed:
        return tr("Plug the unit in again; if it fails again, set it aside for repair.");
    case failReason::EraseFailed:
        return tr("Set the unit aside for repair.");
    case failReason::JumpFailed:
        return tr("Switch the unit off and on, then plug it in again.");
    case failReason::None:
        break;
    }
    return tr("Open the log and call the engineer.");
}
