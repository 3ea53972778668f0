#include "tools/unitsim/pacetimer.h"

#include <QSocketNotifier>

#include <ctime>
#include <sys/timerfd.h>
#include <unistd.h>

namespace {
constexpr qint64 kNsPerSecond = 1000000000;

timespec timespecOf(qint64 ns)
{
    timespec at {};
    at.tv_sec = time_t(ns / kNsPerSecond);
    at.tv_nsec = long(ns % kNsPerSecond);
    return at;
}
} // namespace

paceTimer::paceTimer(QObject *parent)
    : QObject(parent)
    , m_fd(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC))
{
    if (m_fd < 0)
        return;
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &paceTimer::onExpired);
}

paceTimer::~paceTimer()
{
    delete m_notifier;
    if (m_fd >= 0)
        ::close(m_fd);
}

qint64 paceTimer::nowNs()
{
    timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * kNsPerSecond + now.tv_nsec;
}

void paceTimer::startAt(qint64 deadlineNs)
{
    itimerspec setting {};
    // Zero would disarm the timer: a deadline at or before the clock's start
    // is simply due.
    setting.it_value = timespecOf(qMax<qint64>(deadlineNs, 1));
    m_active = m_fd >= 0 && ::timerfd_settime(m_fd, TFD_TIMER_ABSTIME, &setting, nullptr) == 0;
}

void paceTimer::stop()
{
    const itimerspec disarmed {};
    if (m_fd >= 0)
        ::timerfd_settime(m_fd, TFD_TIMER_ABSTIME, &disarmed, nullptr);
    m_active = false;
}

void paceTimer::onExpired()
{
    quint64 expirations = 0;
    if (::read(m_fd, &expirations, sizeof expirations) != ssize_t(sizeof expirations) || !m_active)
        return;
    m_active = false;
    emit timeout();
}
