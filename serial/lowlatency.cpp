#include "serial/lowlatency.h"

#include "util/logging.h"

#include <cstring>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

lowLatency::lowLatency(Control control)
    : m_control(std::move(control))
{
}

void lowLatency::refused(const QString &portName, int error)
{
    if (m_refusalTold)
        return;
    m_refusalTold = true;
    qCDebug(lcSerial).noquote() << QStringLiteral("%1: no low latency (%2); replies may wait for the driver's timer")
                                       .arg(portName, QString::fromLocal8Bit(std::strerror(error)));
}

#ifdef Q_OS_LINUX
int lowLatency::control(int fd, unsigned long request, void *argument) const
{
    return m_control ? m_control(fd, request, argument) : ::ioctl(fd, request, argument);
}

bool lowLatency::request(int fd, const QString &portName)
{
    m_changed = false;
    serial_struct settings {};
    if (control(fd, TIOCGSERIAL, &settings) != 0) {
        refused(portName, errno);
        return false;
    }
    if (settings.flags & ASYNC_LOW_LATENCY)
        return true;
    settings.flags |= ASYNC_LOW_LATENCY;
    if (control(fd, TIOCSSERIAL, &settings) != 0) {
        refused(portName, errno);
        return false;
    }
    m_changed = true;
    return true;
}

// Read again rather than written back whole: only the flag is ours.
void lowLatency::restore(int fd)
{
    if (!m_changed)
        return;
    m_changed = false;
    serial_struct settings {};
    if (control(fd, TIOCGSERIAL, &settings) != 0)
        return; // the adapter is gone, and its setting with it
    settings.flags &= ~ASYNC_LOW_LATENCY;
    control(fd, TIOCSSERIAL, &settings);
}
#else
int lowLatency::control(int, unsigned long, void *) const
{
    return -1;
}

bool lowLatency::request(int, const QString &)
{
    return false;
}

void lowLatency::restore(int) { }
#endif
