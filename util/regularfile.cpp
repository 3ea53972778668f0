#include "util/regularfile.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

QString tooLarge(qint64 maxBytes)
{
    return regularFile::tr("it is larger than %1 bytes").arg(maxBytes);
}

#ifndef Q_OS_WIN
// Opened without blocking (a FIFO with no writer would wait for ever), then
// judged by what the descriptor is, so that nothing swapped in between the
// test and the open is read.
bool readDescriptor(int fd, qint64 maxBytes, QByteArray *bytes, QString *problem)
{
    struct stat facts = {};
    if (::fstat(fd, &facts) != 0) {
        *problem = regularFile::systemError(errno);
        return false;
    }
    if (!S_ISREG(facts.st_mode)) {
        *problem = S_ISDIR(facts.st_mode) ? regularFile::tr("it is a folder") : regularFile::tr("it is not a regular file");
        return false;
    }
    if (facts.st_size > maxBytes) {
        *problem = tooLarge(maxBytes);
        return false;
    }
    QByteArray data;
    data.resize(int(facts.st_size));
    qint64 got = 0;
    for (;;) {
        if (got == data.size()) // the file may have grown since fstat
            data.resize(int(std::min<qint64>(maxBytes + 1, qint64(data.size()) + 65536)));
        if (got == data.size())
            break;
        const ssize_t n = ::read(fd, data.data() + got, size_t(data.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *problem = regularFile::systemError(errno);
            return false;
        }
        if (n == 0)
            break;
        got += n;
    }
    if (got > maxBytes) {
        *problem = tooLarge(maxBytes);
        return false;
    }
    data.resize(int(got));
    *bytes = data;
    return true;
}
#endif

} // namespace

bool regularFile::read(const QString &path, qint64 maxBytes, QByteArray *bytes, QString *problem)
{
    bytes->clear();
    problem->clear();
#ifndef Q_OS_WIN
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *problem = systemError(errno);
        return false;
    }
    const bool ok = readDescriptor(fd, maxBytes, bytes, problem);
    ::close(fd);
    return ok;
#else
    const QFileInfo info(path);
    if (!info.isFile()) {
        *problem = info.isDir() ? tr("it is a folder") : tr("it is not a regular file");
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = file.errorString();
        return false;
    }
    const QByteArray data = file.read(maxBytes + 1);
    if (data.size() > maxBytes) {
        *problem = tooLarge(maxBytes);
        return false;
    }
    *bytes = data;
    return true;
#endif
}

QString regularFile::systemError(int errorNumber)
{
    return QString::fromLocal8Bit(std::strerror(errorNumber));
}
