#include "app/warningbox.h"

#include <QMessageBox>

#include "serial/serialport.h"

void warningBox::show(const QString &text)
{
    QMessageBox::warning(nullptr, serialport::tr("warn"), text, serialport::tr("sure"), QString(), QString(), 0, -1);
}
