#include "app/portcombobox.h"

#include <QKeyEvent>

portComboBox::portComboBox(QWidget *parent)
    : QComboBox(parent)
{
    // A long device path, whole, where the box is too narrow for it.
    connect(this, &QComboBox::currentTextChanged, this, &QWidget::setToolTip);
}

void portComboBox::showPopup()
{
    emit aboutToShowPopup();
    QComboBox::showPopup();
}

// The box takes the typed port on Enter (a listed one becomes the current
// item) but leaves the key unaccepted, so it would travel on to the window.
void portComboBox::keyPressEvent(QKeyEvent *event)
{
    QComboBox::keyPressEvent(event);
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        event->accept();
}
