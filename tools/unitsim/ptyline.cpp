#include "tools/unitsim/ptyline.h"

#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {
int baudOf(speed_t speed)
{
    switch (speed) {
    case B1200:
        return 1200;
    case B2400:
        return 2400;
    case B4800:
        return 4800;
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B57600:
        return 57600;
    case B115200:
        return 115200;
    default:
        return 0;
    }
}
} // namespace

ptyLine::ptyLine(QObject *parent)
    : QObject(parent)
{
}

ptyLine::~ptyLine()
{
    close();
}

bool ptyLine::open()
{
    if (isOpen())
        return true;
    int master = -1;
    int slave = -1;
    char name[256] = {0};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return false;
    termios settings {};
    if (::tcgetattr(master, &settings) == 0) {
        ::cfmakeraw(&settings);
        ::tcsetattr(master, TCSANOW, &settings);
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    m_master = master;
    // Holding a slave descriptor keeps the line up while the tool closes and
    // reopens its port (to change speed); nothing is ever read from it.
    m_slaveKeeper = slave;
    m_slavePath = QString::fromLocal8Bit(name);
    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ptyLine::onReadable);
    return true;
}

void ptyLine::close()
{
    if (!isOpen())
        return;
    delete m_notifier;
    m_notifier = nullptr;
    ::close(m_master);
    ::close(m_slaveKeeper);
    m_master = -1;
    m_slaveKeeper = -1;
}

int ptyLine::baud() const
{
    termios settings {};
    if (!isOpen() || ::tcgetattr(m_master, &settings) != 0)
        return 0;
    return baudOf(::cfgetospeed(&settings));
}

bool ptyLine::write(const QByteArray &bytes)
{
    if (!isOpen())
        return false;
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            ::usleep(1000);
            continue;
        }
        if (n <= 0)
            return false;
        done += n;
    }
    emit sent(bytes);
    return true;
}

void ptyLine::onReadable()
{
    char buffer[4096];
    QByteArray bytes;
    for (;;) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n > 0) {
            bytes.append(buffer, int(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    if (!bytes.isEmpty())
        emit received(bytes);
}
