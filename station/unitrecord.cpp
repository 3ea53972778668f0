#include "station/unitrecord.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QRegularExpression>
#include <QSerialPortInfo>

#include "util/regularfile.h"

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_WIN
bool syncToDisk(QFile &file)
{
    return ::_commit(file.handle()) == 0;
}
#else
// Another station holds the report only for its own append, a few
// milliseconds; a lock held longer than this is given up on, not waited
// for without end while the other units' transfers wait too.
constexpr int kLockTries = 200;
constexpr unsigned long kLockPauseMs = 10;
// A write cut short by a signal is tried again, but not for ever.
constexpr int kMaxInterruptedWrites = 100;

// The report opened for appending, never blocking on what it turns out to
// be; -1 with *problem set.
int openReport(const QString &path, QString *problem)
{
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDWR | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        *problem = errno == EISDIR ? QCoreApplication::translate("unitRecord", "it is a folder")
                                   : regularFile::systemError(errno);
        return -1;
    }
    struct stat facts = {};
    if (::fstat(fd, &facts) != 0 || !S_ISREG(facts.st_mode)) {
        *problem = QCoreApplication::translate("unitRecord", "it is not a regular file");
        ::close(fd);
        return -1;
    }
    return fd;
}

bool lockReport(int fd)
{
    for (int tries = 0; tries < kLockTries; ++tries) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return false;
        QThread::msleep(kLockPauseMs);
    }
    errno = EWOULDBLOCK;
    return false;
}

// False with errno set when the file took only part of the bytes.
bool writeWhole(int fd, const QByteArray &bytes)
{
    qint64 done = 0;
    int interruptions = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR && ++interruptions < kMaxInterruptedWrites)
            continue;
        if (n < 0)
            return false;
        if (n == 0) {
            errno = EIO;
            return false;
        }
        done += n;
    }
    return true;
}

// A line that did not go out whole is taken back: a torn line would stay
// in the report for good, unparsable, under every later one.
QString cutBack(int fd, off_t length, const QString &problem)
{
    if (::ftruncate(fd, length) != 0)
        return QCoreApplication::translate("unitRecord", "%1; what was written of the line could not be taken back: %2")
            .arg(problem, regularFile::systemError(errno));
    ::fsync(fd);
    return problem;
}

// With the report locked: the line, after a line break that closes a
// torn tail, in full or not at all.
QString appendLocked(int fd, const QByteArray &line)
{
    struct stat facts = {};
    if (::fstat(fd, &facts) != 0)
        return regularFile::systemError(errno);
    const off_t before = facts.st_size;
    QByteArray whole = line + '\n';
    char last = '\n';
    if (before > 0 && ::pread(fd, &last, 1, before - 1) < 0)
        return regularFile::systemError(errno);
    if (last != '\n')
        whole.prepend('\n');
    if (!writeWhole(fd, whole))
        return cutBack(fd, before, regularFile::systemError(errno));
    if (::fsync(fd) != 0)
        return cutBack(fd, before,
                       QCoreApplication::translate("unitRecord", "the line could not be synced to the disk: %1")
                           .arg(regularFile::systemError(errno)));
    return QString();
}
#endif

// The USB device folder in sysfs behind a tty: ".../usb1/1-1/1-1.4/1-1.4:1.0/
// ttyUSB0" is the adapter's interface, "1-1.4" its place on the bus and the
// folder before it the device with its "serial". Read straight from sysfs:
// listing every port of the system would block the event loop that the
// other units' transfers run in.
adapterFacts usbFactsFromSysfs(const QString &ttyName)
{
    static const QRegularExpression usbInterface(QStringLiteral("^(\\d+-[\\d.]+):\\d+\\.\\d+$"));
    const QString device = QFileInfo(QStringLiteral("/sys/class/tty/%1/device").arg(ttyName)).canonicalFilePath();
    QStringList parts = device.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    adapterFacts facts;
    for (int i = parts.size() - 1; i > 0; --i) {
        const QRegularExpressionMatch match = usbInterface.match(parts.at(i));
        if (!match.hasMatch())
            continue;
        facts.location = match.captured(1);
        QFile serial(QLatin1Char('/') + parts.mid(0, i).join(QLatin1Char('/')) + QStringLiteral("/serial"));
        if (serial.open(QIODevice::ReadOnly))
            facts.serialNumber = QString::fromUtf8(serial.readAll()).trimmed();
        break;
    }
    return facts;
}

} // namespace

int unitAttempt::imagesPassed() const
{
    int passed = 0;
    for (const imageOutcome &image : images)
        passed += image.result == imageResult::Passed ? 1 : 0;
    return passed;
}

adapterFacts adapterFacts::of(const QString &portName)
{
    const QString canonical = QFileInfo(portName).canonicalFilePath();
#ifdef Q_OS_LINUX
    return usbFactsFromSysfs(QFileInfo(canonical.isEmpty() ? portName : canonical).fileName());
#else
    const QSerialPortInfo info(canonical.isEmpty() ? portName : canonical);
    adapterFacts facts;
    if (!info.isNull() && info.hasVendorIdentifier())
        facts.serialNumber = info.serialNumber(); // the bus position is not told here
    return facts;
#endif
}

namespace unitRecord {

QJsonValue textOrNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

QString timeText(const QDateTime &utc)
{
    return utc.isValid() ? utc.toUTC().toString(Qt::ISODateWithMs) : QString();
}

QJsonObject imageJson(const imageOutcome &image)
{
    return QJsonObject {
        {QStringLiteral("name"), image.name},
        {QStringLiteral("sha256"), textOrNull(image.sha256)},
        {QStringLiteral("bytes"), image.bytes},
        {QStringLiteral("result"), codeOf(image.result)},
        {QStringLiteral("reason"), textOrNull(codeOf(image.reason))},
        {QStringLiteral("processor_chosen"),
         image.processorChosen.has_value() ? QJsonValue(*image.processorChosen) : QJsonValue(QJsonValue::Null)}};
}

QJsonObject reportJson(const runFacts &run, const QString &port, const QString &slot, const adapterFacts &adapter,
                       const unitAttempt &attempt)
{
    QJsonArray images;
    for (const imageOutcome &image : attempt.images)
        images.append(imageJson(image));
    return QJsonObject {{QStringLiteral("schema"), kSchemaVersion},
                        {QStringLiteral("tool"), run.tool},
                        {QStringLiteral("version"), run.version},
                        {QStringLiteral("host"), run.host},
                        {QStringLiteral("station"), run.station},
                        {QStringLiteral("package"), run.packageName},
                        {QStringLiteral("package_sha256"), textOrNull(run.packageSha256)},
                        {QStringLiteral("model"), attempt.model},
                        {QStringLiteral("port"), port},
                        {QStringLiteral("slot"), slot},
                        {QStringLiteral("unit_serial"), textOrNull(attempt.unitSerial)},
                        {QStringLiteral("usb_serial"), textOrNull(adapter.serialNumber)},
                        {QStringLiteral("usb_location"), textOrNull(adapter.location)},
                        {QStringLiteral("unit"), attempt.unit},
                        {QStringLiteral("attempt"), attempt.attempt},
                        {QStringLiteral("start"), timeText(attempt.start)},
                        {QStringLiteral("end"), timeText(attempt.end)},
                        {QStringLiteral("images"), images},
                        {QStringLiteral("result"), codeOf(attempt.result)},
                        {QStringLiteral("reason"), textOrNull(codeOf(attempt.reason))},
                        {QStringLiteral("last_line"), textOrNull(attempt.lastLine)}};
}

#ifdef Q_OS_WIN
QString checkAppendable(const QString &path)
{
    if (QFileInfo(path).isDir())
        return QCoreApplication::translate("unitRecord", "it is a folder");
    QFile file(path);
    return file.open(QIODevice::ReadWrite | QIODevice::Append) ? QString() : file.errorString();
}

QString appendLine(const QString &path, const QByteArray &line)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered))
        return file.errorString();
    QByteArray whole = line + '\n';
    char last = '\n';
    if (file.size() > 0 && (!file.seek(file.size() - 1) || !file.getChar(&last)))
        return file.errorString();
    if (last != '\n')
        whole.prepend('\n');
    if (file.write(whole) != whole.size())
        return file.errorString();
    if (!syncToDisk(file))
        return QCoreApplication::translate("unitRecord", "the line could not be synced to the disk");
    return QString();
}
#else
QString checkAppendable(const QString &path)
{
    QString problem;
    const int fd = openReport(path, &problem);
    if (fd >= 0)
        ::close(fd);
    return problem;
}

// Stations that share a report take turns through an exclusive lock, so
// that one station's cut-back never takes away another's line.
QString appendLine(const QString &path, const QByteArray &line)
{
    QString problem;
    const int fd = openReport(path, &problem);
    if (fd < 0)
        return problem;
    if (lockReport(fd))
        problem = appendLocked(fd, line);
    else if (errno == EWOULDBLOCK)
        problem = QCoreApplication::translate("unitRecord", "another program has held the report locked for %1 s")
                      .arg(kLockTries * kLockPauseMs / 1000.0);
    else
        problem = regularFile::systemError(errno);
    ::close(fd); // and with it the lock
    return problem;
}
#endif

} // namespace unitRecord
