#include "app/warningbox.h"

#include <QMessageBox>

#include "serial/serialport.h"

void warningBox::show(const QString &text)
{
    // One button, the default and (being the only one) the escape button.
    QMessageBox box(QMessageBox::Warning, serialport::tr("warn"), text, QMessageBox::NoButton);
    box.setDefaultButton(box.addButton(serialport::tr("sure"), QMessageBox::ActionRole));
    box.exec();
}
