#include "util/common.h"

// Placeholder: the object-file translation and settings routines are being
// written in this file.
common::common(QObject *parent)
    : QObject(parent)
    , sectionCount(0)
    , sections()
    , startAddressA(0x3E8000)
    , endAddressA(0x3F3FFF)
    , startAddressB(0x3E0000)
    , endAddressB(0x3F3FFF)
{
}

QString common::translateFile(const QString &) { return QString(); }
bool common::parseOutFile(const QString &) { return false; }
bool common::buildBinFile(const QString &, const QString &) { return false; }
bool common::appendFile(const QString &, const quint8 *, quint32) { return false; }
bool common::readSetting(const QString &, const QString &, QVariant &) { return false; }
void common::writeSetting(const QString &, const QString &, const QVariant &) {}
