#include "app/portcombobox.h"

portComboBox::portComboBox(QWidget *parent)
    : QComboBox(parent)
{
}

void portComboBox::showPopup()
{
    emit aboutToShowPopup();
    QComboBox::showPopup();
}
