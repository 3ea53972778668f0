#include "tools/support/signalwatcher.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int g_pipe[2] = {-1, -1};
const int kWatched[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void onSignal(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    if (g_pipe[1] >= 0)
        (void)!::write(g_pipe[1], &byte, 1);
    errno = savedErrno;
}

bool makePipe()
{
    if (::pipe(g_pipe) != 0)
        return false;
    for (int fd : g_pipe) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    return true;
}

} // namespace

signalWatcher::signalWatcher(QObject *parent)
    : QObject(parent)
{
}

signalWatcher::~signalWatcher()
{
    restoreHandlers();
}

bool signalWatcher::install()
{
    if (m_installed || g_pipe[0] >= 0 || !makePipe())
        return false;
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &signalWatcher::onPipeReadable);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : kWatched)
        ::sigaction(s, &action, nullptr);
    m_installed = true;
    return true;
}

void signalWatcher::onPipeReadable()
{
    unsigned char byte = 0;
    while (::read(g_pipe[0], &byte, 1) == 1)
        emit caught(int(byte));
}

void signalWatcher::restoreHandlers()
{
    if (!m_installed)
        return;
    for (int s : kWatched)
        ::signal(s, SIG_DFL);
    delete m_notifier;
    m_notifier = nullptr;
    for (int &fd : g_pipe) {
        ::close(fd);
        fd = -1;
    }
    m_installed = false;
}
