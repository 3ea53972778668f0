// The station report: a line that the file system cannot take whole leaves
// the report as it was, with the system's reason, and the next append works.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <memory>
#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include "support/testfiles.h"
#include "tools/flash/unitrecord.h"
#include "util/regularfile.h"

namespace {

using signalHandler = void (*)(int);

// A file size limit for this process, lifted again when it goes out of
// scope; writing past it fails with EFBIG instead of raising SIGXFSZ.
class fileSizeLimit
{
public:
    explicit fileSizeLimit(qint64 bytes)
    {
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        rlimit limit = m_saved;
        limit.rlim_cur = rlim_t(bytes);
        m_set = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~fileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_handler);
    }
    bool isSet() const { return m_set; }

private:
    rlimit m_saved {};
    signalHandler m_handler = SIG_DFL;
    bool m_set = false;
};

// A tmpfs of a few pages on `dir`, seen only by this process; empty when
// mounted, else why not (not root, no mount namespace...).
QString mountTinyDisk(const QString &dir)
{
    if (::geteuid() != 0)
        return QStringLiteral("needs root");
    if (::unshare(CLONE_NEWNS) != 0)
        return QStringLiteral("no mount namespace: ") + regularFile::systemError(errno);
    // Private first, so that nothing mounted here shows outside this process.
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

// Fills what is left of the disk holding `path`.
void fillDisk(const QString &path)
{
    constexpr int kMaxChunks = 64; // far more than a 16 KiB disk holds
    QFile filler(path);
    if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return;
    const QByteArray chunk(4096, 'f');
    int chunks = 0;
    while (chunks < kMaxChunks && filler.write(chunk) == chunk.size())
        ++chunks;
    filler.write(QByteArray(1, 'f')); // a part page that may be left
}

QByteArray reportLine(int unit, int padding = 0)
{
    unitAttempt attempt;
    attempt.unit = unit;
    attempt.result = QStringLiteral("passed");
    attempt.images = {imageOutcome {QStringLiteral("arm.bin"), QString(64, QLatin1Char('a')), 49000,
                                    QStringLiteral("passed"), QString()}};
    attempt.lastLine = QString(padding, QLatin1Char('.'));
    return QJsonDocument(unitRecord::reportJson(runFacts(), QStringLiteral("/dev/ttyUSB0"), adapterFacts(), attempt))
        .toJson(QJsonDocument::Compact);
}

// Every whole line of the report (all but a torn tail) is a JSON object.
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
    // The line meets the end of the room at several points: none of it
    // stays behind, and the reason is the system's.
    void fullDiskLeavesReportAsItWas_data()
    {
        QTest::addColumn<bool>("tmpfs");
        QTest::addColumn<int>("room"); // bytes of the append that fit, -1: a full tmpfs
        QTest::addColumn<bool>("tornTail");
        QTest::addColumn<int>("errorNumber");
        const int whole = reportLine(3).size() + 1;
        QTest::newRow("size limit reached before the line") << false << 0 << false << EFBIG;
        QTest::newRow("size limit in the middle of the line") << false << whole / 2 << false << EFBIG;
        QTest::newRow("size limit one byte before the line's end") << false << whole - 1 << false << EFBIG;
        QTest::newRow("torn tail: room for its closing line break only") << false << 1 << true << EFBIG;
        QTest::newRow("a full tmpfs in the middle of the line") << true << -1 << false << ENOSPC;
    }

    void fullDiskLeavesReportAsItWas()
    {
        QFETCH(bool, tmpfs);
        QFETCH(int, room);
        QFETCH(bool, tornTail);
        QFETCH(int, errorNumber);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        std::unique_ptr<unmountOnExit> mounted; // before the folder goes
        QString folder = dir.path();
        QByteArray before = reportLine(1) + '\n' + reportLine(2) + '\n';
        if (tmpfs) {
            folder = dir.filePath("disk");
            QVERIFY(QDir().mkdir(folder));
            const QString why = mountTinyDisk(folder);
            if (!why.isEmpty())
                QSKIP(qPrintable(why));
            mounted.reset(new unmountOnExit {folder});
            // The report ends 20 bytes short of a page and no page is free.
            before = reportLine(1) + '\n';
            const int lineTwo = 4096 - 20 - before.size() - 1;
            before += reportLine(2, lineTwo - reportLine(2, 1).size() + 1) + '\n';
            QCOMPARE(before.size(), 4096 - 20);
        }
        if (tornTail)
            before += "{\"attempt\":1,\"end\":\"2026-";
        const QString path = folder + "/report.jsonl";
        testFiles::write(path, before);
        if (tmpfs)
            fillDisk(folder + "/filler");
        const QByteArray line = reportLine(3);

        QString problem;
        {
            std::unique_ptr<fileSizeLimit> limit;
            if (!tmpfs)
                limit = std::make_unique<fileSizeLimit>(before.size() + room);
            QVERIFY(!limit || limit->isSet());
            problem = unitRecord::appendLine(path, line);
        }
        QCOMPARE(problem, regularFile::systemError(errorNumber));
        QCOMPARE(testFiles::read(path), before);
        QVERIFY(wholeLinesParse(testFiles::read(path)));

        if (tmpfs)
            QVERIFY(QFile::remove(folder + "/filler"));
        QCOMPARE(unitRecord::appendLine(path, line), QString());
        QCOMPARE(testFiles::read(path), before + (tornTail ? "\n" : "") + line + '\n');
    }

    // A station that holds the report does not get a line put under its
    // own: the append waits a bounded time, then gives up and says so.
    void heldReportIsNotWrittenTo()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("report.jsonl");
        const QByteArray before = reportLine(1) + '\n';
        testFiles::write(path, before);
        const int other = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(other >= 0 && ::flock(other, LOCK_EX) == 0);
        QElapsedTimer clock;
        clock.start();
        const QString problem = unitRecord::appendLine(path, reportLine(2));
        const qint64 waited = clock.elapsed();
        ::close(other);
        QVERIFY2(problem.contains("locked"), qPrintable(problem));
        QVERIFY2(waited >= 1000 && waited < 10000, qPrintable(QString::number(waited)));
        QCOMPARE(testFiles::read(path), before);
        QCOMPARE(unitRecord::appendLine(path, reportLine(2)), QString());
    }
};

QTEST_GUILESS_MAIN(TestReport)
#include "test_report.moc"
