#include "modalanswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

namespace {
const int kPollMs = 10;
}

modalAnswerer::modalAnswerer(QObject *parent)
    : QObject(parent)
    , m_timer(new QTimer(this))
{
    m_timer->setInterval(kPollMs);
    connect(m_timer, &QTimer::timeout, this, &modalAnswerer::onPoll);
}

void modalAnswerer::start(int giveUpMs)
{
    m_giveUpMs = giveUpMs;
    m_clock.start();
    m_timer->start();
}

void modalAnswerer::stop()
{
    m_timer->stop();
}

bool modalAnswerer::isActive() const
{
    return m_timer->isActive();
}

bool modalAnswerer::waitForBoxes(int count, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (m_boxes.size() < count && clock.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, kPollMs);
    return m_boxes.size() >= count;
}

void modalAnswerer::onPoll()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (m_clock.elapsed() > m_giveUpMs) {
        stop();
        if (m_watchOnly && qobject_cast<QMessageBox *>(modal)) {
            m_gaveUp = true;
            modal->close();
        }
        return;
    }
    if (!modal || !modal->isVisible())
        return;
    if (!answerMessageBox(modal))
        answerFileDialog(modal);
}

bool modalAnswerer::answerMessageBox(QWidget *modal)
{
    auto *box = qobject_cast<QMessageBox *>(modal);
    if (!box)
        return false;
    if (m_watchOnly && m_watched == box)
        return true;
    const QAbstractButton *escape = box->escapeButton();
    Box seen {box->windowTitle(),
              box->text(),
              {},
              box->defaultButton() ? box->defaultButton()->text() : QString(),
              escape ? escape->text() : QString()};
    QAbstractButton *target = nullptr;
    const auto buttons = box->buttons();
    for (QAbstractButton *button : buttons) {
        seen.buttons << button->text();
        if (!target && (m_buttonText.isEmpty() || button->text() == m_buttonText))
            target = button;
    }
    m_boxes << seen;
    if (m_watchOnly) {
        m_watched = box;
        return true;
    }
    if (target)
        target->click();
    else
        box->reject();
    return true;
}

bool modalAnswerer::answerFileDialog(QWidget *modal)
{
    auto *dialog = qobject_cast<QFileDialog *>(modal);
    if (!dialog)
        return false;
    if (dialog == m_answered)
        return true;
    m_fileDialogs << FileDialogSeen {dialog->windowTitle(), dialog->directoryUrl().toLocalFile(), dialog->nameFilters(),
                                     dialog->selectedFiles()};
    if (m_filePath.isEmpty()) {
        dialog->reject();
        return true;
    }
    dialog->selectFile(m_filePath);
    // selectFile leaves the name field alone while it has the focus; type
    // the path there as a user would, or the dialog may open a directory.
    if (auto *nameField = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
        nameField->setText(m_filePath);
    // Validates like the Open or Save button, from the dialog's own loop: a
    // question it asks then (replace the file?) is answered by a later poll.
    QMetaObject::invokeMethod(
        dialog, [dialog] { static_cast<QDialog *>(dialog)->accept(); }, Qt::QueuedConnection);
    m_answered = dialog;
    return true;
}
