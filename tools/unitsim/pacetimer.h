#ifndef PACETIMER_H
#define PACETIMER_H

#include <QObject>

class QSocketNotifier;

// A single-shot timer to the nanosecond on the monotonic clock. A QTimer
// counts whole milliseconds, and an event loop may wake up to a millisecond
// off; a paced reply must leave neither early nor a millisecond late.
class paceTimer : public QObject
{
    Q_OBJECT

public:
    explicit paceTimer(QObject *parent = nullptr);
    ~paceTimer() override;

    static qint64 nowNs();
    // Fires once, at DEADLINENS on nowNs()'s clock or as soon after as the
    // system wakes; a deadline already past fires at the next loop turn.
    void startAt(qint64 deadlineNs);
    void stop();
    bool isActive() const { return m_active; }

signals:
    void timeout();

private slots:
    void onExpired();

private:
    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    bool m_active = false;
};

#endif // PACETIMER_H
