#ifndef MODALANSWERER_H
#define MODALANSWERER_H

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

class QTimer;

// Answers the modal boxes that code under test opens with its own event loop.
// Every 10 ms it looks at the active modal widget: a visible message box is
// recorded and its button clicked; a file dialog gets the chosen file (or is
// cancelled when none was set). Polling stops after the time-out so that a
// test never hangs on a box nobody expected. Told only to watch, it records
// each message box once and leaves it open, closing it only at the time-out.
class modalAnswerer : public QObject
{
    Q_OBJECT

public:
    struct Box
    {
        QString title;
        QString text;
        QStringList buttons;
        QString defaultButton; // text of the button Return presses, if any
        QString escapeButton;  // text of the button Escape presses, if any
    };

    explicit modalAnswerer(QObject *parent = nullptr);

    void start(int giveUpMs = 5000);
    void stop();
    bool isActive() const;

    // The message box button to click, by its text; empty clicks the first.
    void setButtonText(const QString &text) { m_buttonText = text; }
    // The file handed to a file dialog; empty cancels it.
    void setFileAnswer(const QString &path) { m_filePath = path; }
    // Message boxes are recorded and left for the code under test to close.
    void setWatchOnly(bool on) { m_watchOnly = on; }
    // The time ran out with a box still open.
    bool gaveUp() const { return m_gaveUp; }

    struct FileDialogSeen
    {
        QString title;
        QString directory;
        QStringList nameFilters;
        QStringList selected; // what the dialog offers before anyone chose
    };

    QList<Box> boxes() const { return m_boxes; }
    QList<FileDialogSeen> fileDialogs() const { return m_fileDialogs; }
    // Processes events until count boxes were answered or the time is up.
    bool waitForBoxes(int count, int timeoutMs = 3000);

private slots:
    void onPoll();

private:
    bool answerMessageBox(QWidget *modal);
    bool answerFileDialog(QWidget *modal);

    QTimer *m_timer;
    QElapsedTimer m_clock;
    int m_giveUpMs = 5000;
    QString m_buttonText;
    QString m_filePath;
    bool m_watchOnly = false;
    bool m_gaveUp = false;
    QPointer<QWidget> m_watched;
    QPointer<QWidget> m_answered; // a file dialog told to accept, not yet closed
    QList<Box> m_boxes;
    QList<FileDialogSeen> m_fileDialogs;
};

#endif // MODALANSWERER_H
