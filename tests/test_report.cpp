// The station report: a line that the file system cannot take whole leaves
// the report as it was, with the system's reason, and the next append works.
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include "support/testfiles.h"
#include "station/unitrecord.h"
#include "util/regularfile.h"

namespace {

// A file size limit for this process while in scope: a write past it
// fails with EFBIG instead of raising SIGXFSZ.
struct fileSizeLimit
{
    rlimit saved {};
    void (*handler)(int) = std::signal(SIGXFSZ, SIG_IGN);

    fileSizeLimit() { ::getrlimit(RLIMIT_FSIZE, &saved); }
    bool set(qint64 bytes)
    {
        const rlimit limit = {rlim_t(bytes), saved.rlim_max};
        return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~fileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, handler);
    }
};

// A 16 KiB tmpfs on `dir`, seen by this process only; empty when mounted,
// else why not.
QString mountTinyDisk(const QString &dir)
{
    if (::geteuid() != 0 || ::unshare(CLONE_NEWNS) != 0)
        return QStringLiteral("needs root and a mount namespace");
    // Private first, so that the mount never shows outside this process.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
        || ::mount("tmpfs", QFile::encodeName(dir).constData(), "tmpfs", 0, "size=16k") != 0)
        return QStringLiteral("cannot mount a tmpfs: ") + regularFile::systemError(errno);
    return QString();
}

struct unmountOnExit
{
    QString dir;
    ~unmountOnExit() { ::umount2(QFile::encodeName(dir).constData(), MNT_DETACH); }
};

// Takes every free page of the disk holding `path`.
void fillDisk(const QString &path)
{
    constexpr int kMaxPages = 64; // far more than the tiny disk holds
    QFile filler(path);
    filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    int pages = 0;
    while (pages < kMaxPages && filler.write(QByteArray(4096, 'f')) == 4096)
        ++pages;
}

// A report line of exactly `size` bytes.
QByteArray reportLine(int unit, int size = 200)
{
    const QByteArray empty = QJsonDocument(QJsonObject {{"unit", unit}, {"pad", ""}}).toJson(QJsonDocument::Compact);
    return QJsonDocument(QJsonObject {{"unit", unit}, {"pad", QString(size - empty.size(), QLatin1Char('.'))}})
        .toJson(QJsonDocument::Compact);
}

bool wholeLinesParse(const QByteArray &report)
{
    const QList<QByteArray> lines = report.split('\n');
    for (int i = 0; i + 1 < lines.size(); ++i) {
        if (!QJsonDocument::fromJson(lines.at(i)).isObject())
            return false;
    }
    return true;
}

} // namespace

class TestReport : public QObject
{
    Q_OBJECT

private slots:
    // The room runs out at several points of the line: none of it stays
    // behind, and the reason is the system's.
    void fullDiskLeavesReportAsItWas_data()
    {
        QTest::addColumn<bool>("tmpfs"); // a real full disk instead of a size limit
        QTest::addColumn<int>("room");   // bytes of the append that fit under the limit
        QTest::addColumn<bool>("tornTail");
        QTest::addColumn<int>("errorNumber");
        QTest::newRow("size limit reached before the line") << false << 0 << false << EFBIG;
        QTest::newRow("size limit in the middle of the line") << false << 100 << false << EFBIG;
        QTest::newRow("size limit one byte before the line's end") << false << 200 << false << EFBIG;
        QTest::newRow("torn tail: room for its closing line break only") << false << 1 << true << EFBIG;
        QTest::newRow("a full tmpfs in the middle of the line") << true << 0 << false << ENOSPC;
    }

    void fullDiskLeavesReportAsItWas()
    {
        QFETCH(bool, tmpfs);
        QFETCH(int, room);
        QFETCH(bool, tornTail);
        QFETCH(int, errorNumber);
        QTemporaryDir dir;
        std::unique_ptr<unmountOnExit> mounted; // gone before the folder
        const QString folder = dir.filePath("disk");
        QVERIFY(QDir().mkdir(folder));
        // On the tiny disk the report ends 20 bytes short of a full page.
        QByteArray before = reportLine(1) + '\n' + reportLine(2, tmpfs ? 4096 - 20 - 202 : 200) + '\n';
        if (tmpfs) {
            const QString why = mountTinyDisk(folder);
            if (!why.isEmpty())
                QSKIP(qPrintable(why));
            mounted.reset(new unmountOnExit {folder});
        }
        if (tornTail)
            before += "{\"unit\":3,\"pa";
        const QString path = folder + "/report.jsonl";
        QVERIFY(testFiles::write(path, before));
        if (tmpfs)
            fillDisk(folder + "/filler");

        QString problem;
        {
            fileSizeLimit limit;
            QVERIFY(tmpfs || limit.set(before.size() + room));
            problem = unitRecord::appendLine(path, reportLine(3));
        }
        QCOMPARE(problem, regularFile::systemError(errorNumber));
        QCOMPARE(testFiles::read(path), before);
        QVERIFY(wholeLinesParse(testFiles::read(path)));

        QFile::remove(folder + "/filler");
        QCOMPARE(unitRecord::appendLine(path, reportLine(3)), QString());
        QCOMPARE(testFiles::read(path), before + (tornTail ? "\n" : "") + reportLine(3) + '\n');
    }

    // A report another station holds is not written under its line: the
    // append waits a bounded time, then gives up and says so.
    void heldReportIsNotWrittenTo()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("report.jsonl");
        QVERIFY(testFiles::write(path, reportLine(1) + '\n'));
        const int other = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(other >= 0 && ::flock(other, LOCK_EX) == 0);
        const QString problem = unitRecord::appendLine(path, reportLine(2));
        ::close(other);
        QVERIFY2(problem.contains("locked"), qPrintable(problem));
        QCOMPARE(testFiles::read(path), reportLine(1) + '\n');
        QCOMPARE(unitRecord::appendLine(path, reportLine(2)), QString());
    }
};

QTEST_GUILESS_MAIN(TestReport)
#include "test_report.moc"
