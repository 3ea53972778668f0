#ifndef PORTCOMBOBOX_H
#define PORTCOMBOBOX_H

#include <QComboBox>

class QKeyEvent;

// The port box: says when the user opens its list, so that the list can be
// read again first (adapters come and go while the window is open). Enter
// takes the typed port and goes no further.
class portComboBox : public QComboBox
{
    Q_OBJECT

public:
    explicit portComboBox(QWidget *parent = nullptr);

    void showPopup() override;

signals:
    void aboutToShowPopup();

protected:
    void keyPressEvent(QKeyEvent *event) override;
};

#endif // PORTCOMBOBOX_H
