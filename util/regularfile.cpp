#include "util/regularfile.h"

#include <QCryptographicHash>
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
// A read cut short by a signal is tried again, but not for ever.
constexpr int kMaxInterruptedReads = 100;

// Opened without blocking (a FIFO with no writer would wait for ever), then
// judged by what the descriptor is, so that nothing swapped in between the
// test and the open is read. Each piece read goes to take(); false with
// *problem set on a refusal.
template<typename Take>
bool readRegular(const QString &path, qint64 maxBytes, QString *problem, qint64 *size, Take take)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *problem = regularFile::systemError(errno);
        return false;
    }
    struct stat facts = {};
    bool ok = ::fstat(fd, &facts) == 0;
    if (!ok)
        *problem = regularFile::systemError(errno);
    else if (!S_ISREG(facts.st_mode))
        *problem =
            S_ISDIR(facts.st_mode) ? regularFile::tr("it is a folder") : regularFile::tr("it is not a regular file");
    else if (facts.st_size > maxBytes)
        *problem = tooLarge(maxBytes);
    ok = problem->isEmpty();
    *size = ok ? qint64(facts.st_size) : 0;
    char piece[65536];
    int interruptions = 0;
    for (qint64 total = 0; ok;) {
        const ssize_t n = ::read(fd, piece, sizeof piece);
        if (n < 0 && errno == EINTR && ++interruptions < kMaxInterruptedReads)
            continue;
        if (n <= 0) {
            ok = n == 0;
            if (!ok)
                *problem = regularFile::systemError(errno);
            break;
        }
        total += n;
        ok = total <= maxBytes; // the file may have grown since fstat
        if (!ok)
            *problem = tooLarge(maxBytes);
        else
            take(piece, n);
    }
    ::close(fd);
    return ok;
}
#endif

#ifdef Q_OS_WIN
bool opensRegular(QFile &file, QString *problem)
{
    const QFileInfo info(file.fileName());
    if (!info.isFile()) {
        *problem = info.isDir() ? regularFile::tr("it is a folder") : regularFile::tr("it is not a regular file");
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = file.errorString();
        return false;
    }
    return true;
}
#endif

} // namespace

bool regularFile::read(const QString &path, qint64 maxBytes, QByteArray *bytes, QString *problem)
{
    bytes->clear();
    problem->clear();
#ifndef Q_OS_WIN
    QByteArray data;
    qint64 size = 0;
    const bool ok = readRegular(path, maxBytes, problem, &size, [&data, &size](const char *piece, qint64 n) {
        if (data.isEmpty())
            data.reserve(int(size)); // the size told by the system: one allocation
        data.append(piece, int(n));
    });
    if (ok)
        *bytes = data;
    return ok;
#else
    QFile file(path);
    if (!opensRegular(file, problem))
        return false;
    const QByteArray data = file.read(maxBytes + 1);
    if (data.size() > maxBytes) {
        *problem = tooLarge(maxBytes);
        return false;
    }
    *bytes = data;
    return true;
#endif
}

bool regularFile::sha256(const QString &path, qint64 maxBytes, QByteArray *digest, QString *problem)
{
    digest->clear();
    problem->clear();
    QCryptographicHash hash(QCryptographicHash::Sha256);
#ifndef Q_OS_WIN
    qint64 size = 0;
    if (!readRegular(path, maxBytes, problem, &size,
                     [&hash](const char *piece, qint64 n) { hash.addData(QByteArray::fromRawData(piece, int(n))); }))
        return false;
#else
    QFile file(path);
    if (!opensRegular(file, problem))
        return false;
    if (file.size() > maxBytes) {
        *problem = tooLarge(maxBytes);
        return false;
    }
    hash.addData(&file);
#endif
    *digest = hash.result();
    return true;
}

QString regularFile::systemError(int errorNumber)
{
    return QString::fromLocal8Bit(std::strerror(errorNumber));
}
