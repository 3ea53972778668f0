#ifndef SLOTTILE_H
#define SLOTTILE_H

#include <QElapsedTimer>
#include <QFrame>
#include <QString>

#include "station/stationprofile.h"
#include "station/unitrecord.h"

class QDialog;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

// One slot of the bench as the operator sees it from a distance: its name
// and port, the unit's serial number, a big state (waiting, flashing,
// PASS, FAIL with what to do), its counters and its log behind a button.
class slotTile : public QFrame
{
    Q_OBJECT

public:
    slotTile(const QString &name, const QString &port, const stationProfile &profile, QWidget *parent = nullptr);

    void showWaiting(bool portAbsent);
    void showStarted(const unitAttempt &attempt);
    void showProgress(const QString &image, qint64 written, qint64 total);
    void showEnded(const unitAttempt &attempt);
    void addLog(const QString &line);

    bool isBusy() const { return m_busy; }
    int passed() const { return m_passed; }
    int failed() const { return m_failed; }
    QString serial() const;
    QLineEdit *serialField() const { return m_serial; }
    QPushButton *startButton() const { return m_start; }
    QString stateText() const;
    QString detailText() const;
    int percent() const;

signals:
    // The operator asks for the next unit (button or Enter, serial given).
    void startRequested();
    void serialChanged(const QString &serial);
    // Enter in the serial field: the next tile's field may take the focus.
    void serialEntered();

private:
    void onEnter();
    bool serialMissing() const;
    void setState(const QString &text, const QString &colour, const QString &detail);
    void showCounts();

    stationProfile::Start m_startMode;
    stationProfile::Serial m_serialMode;
    QLabel *m_state;
    QLabel *m_detail;
    QLabel *m_counts;
    QLineEdit *m_serial;
    QPushButton *m_start;
    QProgressBar *m_progress;
    QDialog *m_logDialog;
    QPlainTextEdit *m_log;
    QElapsedTimer m_imageClock;
    QString m_image;
    int m_imageIndex = 0;
    int m_imageCount = 0;
    bool m_busy = false;
    int m_passed = 0;
    int m_failed = 0;
};

#endif // SLOTTILE_H
