// Fault soak: seeded random jobs per model against the simulated units, each
// with random faults on the line (silence, refusals, noise, drips, splits,
// wrong replies, the line cut at a random byte, a new job started in the
// middle). Every job must end in a success whose flashed image is the source,
// or in a failure whose last log line says why; never a false success, never
// a job left without a timer or waiting past every bound, no flood of
// messages, no memory growth.
#include "protocol/first/progress.h"
#include "protocol/second/progress1.h"
#include "serial/serialport.h"
#include "tools/unitsim/firstunit.h"
#include "tools/unitsim/ptyline.h"
#include "tools/unitsim/secondunit.h"
#include "update/common.h"
#include "support/testfiles.h"
#include "support/testtime.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QPointer>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>
#include <unistd.h>

namespace {
constexpr double kTimeScale = testTimeScale(0.01);
constexpr int kJobsPerModel = 50;
constexpr int kJobDeadlineMs = testWaitMs(6000); // real time; far beyond any retry chain
constexpr int kStuckGraceMs = 150;               // real time without a timer and without an end
constexpr int kQuietMs = 40;                     // after the end, nothing more may happen
constexpr int kMaxLogLines = 400;
constexpr int kMaxWarnings = 6;
constexpr qint64 kMaxRssGrowth = 40 * 1024 * 1024;
const QString kSuccess = QStringLiteral("updating success!");
// AddressSanitizer keeps freed memory in quarantine, so the resident size
// grows with the traffic there; LeakSanitizer watches for leaks instead.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kRssMeaningful = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kRssMeaningful = false;
#else
constexpr bool kRssMeaningful = true;
#endif
#else
constexpr bool kRssMeaningful = true;
#endif

qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields.at(1).toLongLong() * sysconf(_SC_PAGESIZE) : 0;
}

QByteArray pattern(int size, quint32 seed)
{
    QByteArray bytes(size, '\0');
    QRandomGenerator random(seed);
    for (int i = 0; i < size; ++i)
        bytes[i] = char(random.bounded(256));
    return bytes;
}

// What the soak asks of one model: its unit, its engine, its faults and the
// lines its engine ends a failed job with.
struct Model
{
    QString name;
    QStringList failLines;    // besides the line of a job given up at a step
    QStringList singleFaults; // faults without a step
    QStringList steppedKinds; // KIND:STEP@N
    QStringList steps;
    QStringList unframedSteps; // steps that take no framed faults
    QStringList framedKinds;   // kinds only a framed step can have
    QString dataStep;
    std::function<int(int imageSize)> dataFrames; // frames of the data step
    std::function<std::unique_ptr<simulatedUnit>()> makeUnit;
    std::function<QByteArray(QRandomGenerator &, int *index)> makeImage;
};

struct JobReport
{
    QString outcome; // "success", "failed", or a fault of the tool
    QStringList faults;
    QString detail;
};

// One engine of each model with its transport, wired as the window wires it.
struct Rig
{
    serialport serial;
    progress first {&serial};
    progress1 second {&serial};
    QStringList log;
    QStringList warnings;
    int finishes = 0;
    int failures = 0;
    int modelId = 0;

    Rig()
    {
        serial.setWarningPresenter([this](const QString &t) { warnings << t; });
        QObject::connect(&serial, &serialport::receive, &first, &progress::receiveData);
        QObject::connect(&serial, &serialport::receive1, &second, &progress1::receiveData);
        QObject::connect(&first, &progress::sendMessage, [this](const QString &t) { log << t; });
        QObject::connect(&second, &progress1::sendMessage, [this](const QString &t) { log << t; });
        QObject::connect(&first, &progress::finish, [this](bool) { ++finishes; });
        QObject::connect(&second, &progress1::finish, [this](bool) { ++finishes; });
        QObject::connect(&first, &progress::jobFailed, [this] { ++failures; });
        QObject::connect(&second, &progress1::jobFailed, [this] { ++failures; });
    }

    void clear()
    {
        log.clear();
        warnings.clear();
        finishes = failures = 0;
    }

    bool busy() const { return modelId == 0 ? first.isBusy() : second.isBusy(); }

    void start(int imageIndex, const QString &path, const QString &port)
    {
        updateParm job;
        job.modelId = modelId;
        job.imageIndex = imageIndex;
        job.row = 1;
        job.imagePath = path;
        job.image = testFiles::read(path);
        job.portName = port;
        if (modelId == 0)
            first.initParm(job);
        else
            second.initParm(job);
    }
};

Model firstModel()
{
    Model m;
    m.name = QStringLiteral("first");
    m.failLines = QStringList {"reading failed!", "port opening failed!", "port open failed!"};
    m.singleFaults = QStringList {"drip", "split"};
    m.steppedKinds = QStringList {"silence", "nak", "garbage", "unknown", "badstatus", "close"};
    m.steps = QStringList {"preamble", "confirm", "target", "shakehand", "verify", "erase", "write", "jump"};
    m.unframedSteps = QStringList {"preamble", "confirm", "target"};
    m.framedKinds = QStringList {"nak", "unknown", "badstatus"};
    m.dataStep = QStringLiteral("write");
    m.makeUnit = [] { return std::unique_ptr<simulatedUnit>(new firstUnit); };
    m.dataFrames = [](int size) { return (size + 1023) / 1024; };
    m.makeImage = [](QRandomGenerator &random, int *index) {
        *index = 0; // the verify code sits at 0xB000
        return pattern(0xB004 + random.bounded(3000), random.generate());
    };
    return m;
}

Model secondModel()
{
    Model m;
    m.name = QStringLiteral("second");
    m.failLines = QStringList {"port opening failed!", "verify failed!"};
    m.singleFaults = QStringList {"drip", "split"};
    m.steppedKinds = QStringList {"silence", "nak", "long12", "long13", "garbage", "double", "drip", "split", "close"};
    m.steps = QStringList {"start", "filesize", "changeport", "erase", "data"};
    m.dataStep = QStringLiteral("data");
    m.makeUnit = [] { return std::unique_ptr<simulatedUnit>(new secondUnit); };
    m.dataFrames = [](int size) { return size / 128 + 17; };
    m.makeImage = [](QRandomGenerator &random, int *index) {
        *index = 0; // long frames, signature at 0x4000
        QByteArray image = pattern(0x4008 + random.bounded(2000), random.generate());
        image.replace(0x4000, 8, "QJX-MONI");
        return image;
    };
    return m;
}

bool isFlashedCopy(const QByteArray &flashed, const QByteArray &source)
{
    if (!flashed.startsWith(source))
        return false;
    return flashed.mid(source.size()).count(char(0xFF)) == flashed.size() - source.size();
}
} // namespace

class TestSoak : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    // Picks 0 to 2 faults of the model; may add a cut of the line at a
    // random byte and a second job started part way.
    QStringList pickFaults(const Model &m, QRandomGenerator &random, int imageSize)
    {
        QStringList faults;
        const int count = random.bounded(3);
        for (int i = 0; i < count; ++i) {
            if (random.bounded(5) == 0) {
                faults << m.singleFaults.at(random.bounded(m.singleFaults.size()));
                continue;
            }
            const QString step = m.steps.at(random.bounded(m.steps.size()));
            QString kind = m.steppedKinds.at(random.bounded(m.steppedKinds.size()));
            if (m.unframedSteps.contains(step) && m.framedKinds.contains(kind))
                kind = QStringLiteral("silence");
            // A quarter of the data faults hit one of the last frames.
            const int frames = m.dataFrames(imageSize);
            const int nth = step != m.dataStep ? 1 + random.bounded(2)
                : random.bounded(4) == 0       ? frames - random.bounded(qMin(frames, 2))
                                               : 1 + random.bounded(frames);
            faults << QStringLiteral("%1:%2@%3").arg(kind, step).arg(nth);
        }
        if (random.bounded(8) == 0)
            faults << QStringLiteral("cut@%1").arg(random.bounded(30000));
        if (random.bounded(8) == 0)
            faults << QStringLiteral("restart@%1").arg(1 + random.bounded(60));
        return faults;
    }

    // Runs the job until it ends, is stuck, or the deadline passes.
    QString waitForEnd(Rig &rig)
    {
        QElapsedTimer clock;
        clock.start();
        QElapsedTimer idle;
        bool idling = false;
        while (clock.elapsed() < kJobDeadlineMs) {
            QTest::qWait(2);
            if (rig.finishes + rig.failures > 0) {
                QTest::qWait(kQuietMs);
                return QString();
            }
            if (rig.busy()) {
                idling = false;
                continue;
            }
            if (!idling) {
                idle.start();
                idling = true;
            } else if (idle.elapsed() > kStuckGraceMs) {
                return QStringLiteral("stuck");
            }
        }
        return QStringLiteral("hung");
    }

    // Random faults from the seed, or the given ones with LAST standing for
    // the last frame of the data step.
    JobReport runJob(Rig &rig, const Model &m, quint32 seed, const QStringList &given = QStringList())
    {
        QRandomGenerator random(seed);
        JobReport report;
        int index = 0;
        const QByteArray source = m.makeImage(random, &index);
        report.faults = pickFaults(m, random, source.size());
        if (!given.isEmpty()) {
            report.faults = given;
            report.faults.replaceInStrings(QStringLiteral("LAST"), QString::number(m.dataFrames(source.size())));
        }
        const QString path = m_dir.filePath(QStringLiteral("%1-%2.bin").arg(m.name).arg(seed));
        testFiles::write(path, source);

        const std::unique_ptr<simulatedUnit> owned = m.makeUnit();
        simulatedUnit &unit = *owned;
        if (!unit.open())
            return JobReport {QStringLiteral("no pty"), report.faults, QString()};
        int restartAfter = -1;
        int cutAt = -1;
        QString port = unit.portName();
        for (const QString &fault : qAsConst(report.faults)) {
            if (fault == QLatin1String("noport"))
                port = m_dir.filePath(QStringLiteral("no-such-tty"));
            else if (fault.startsWith(QLatin1String("cut@")))
                cutAt = fault.mid(4).toInt();
            else if (fault.startsWith(QLatin1String("restart@")))
                restartAfter = fault.mid(8).toInt();
            else if (!unit.addFault(fault))
                return JobReport {QStringLiteral("bad fault"), report.faults, fault};
        }
        int bytesIn = 0;
        int framesIn = 0;
        bool restarted = false;
        QObject::connect(unit.line(), &ptyLine::received, unit.line(), [&](const QByteArray &bytes) {
            bytesIn += bytes.size();
            if (cutAt >= 0 && bytesIn >= cutAt) {
                cutAt = -1;
                // Not inside the line's own notification.
                QTimer::singleShot(0, unit.line(), [&unit] { unit.line()->close(); });
            }
            if (restartAfter >= 0 && ++framesIn >= restartAfter && !restarted) {
                restarted = true;
                QTimer::singleShot(0, &rig.serial, [&rig, index, path, &unit] {
                    rig.clear();
                    rig.start(index, path, unit.portName());
                });
            }
        });

        rig.clear();
        rig.start(index, path, port);
        const QString end = waitForEnd(rig);
        report.outcome = judge(rig, m, unit, source, end, QFileInfo(path).fileName(), &report.detail);
        if (report.faults.isEmpty() && !unit.violations().isEmpty() && report.outcome == "success")
            report.outcome = QStringLiteral("protocol violation");
        if (report.detail.isEmpty() && !unit.violations().isEmpty())
            report.detail = unit.violations().first();
        // Whatever is still running stops before the unit goes away.
        rig.start(index, QString(), QString());
        QTest::qWait(1);
        return report;
    }

    QString judge(const Rig &rig, const Model &m, const simulatedUnit &unit, const QByteArray &source,
                  const QString &end, const QString &imageName, QString *detail)
    {
        const int successLines = rig.log.count(kSuccess);
        const bool flashed = unit.jobsCompleted() > 0 && isFlashedCopy(unit.flashedImage(), source);
        *detail = rig.log.mid(qMax(0, rig.log.size() - 3)).join(QLatin1Char('|'));
        if (rig.log.size() > kMaxLogLines || rig.warnings.size() > kMaxWarnings)
            return QStringLiteral("flood");
        if (successLines > 0 && !flashed)
            return QStringLiteral("false success");
        if (!end.isEmpty())
            return successLines > 0 && end != "stuck" ? QStringLiteral("hung") : end;
        if (rig.finishes + rig.failures > 1)
            return QStringLiteral("ended twice");
        if (rig.finishes == 1)
            return successLines == 1 && flashed ? QStringLiteral("success") : QStringLiteral("false success");
        if (successLines > 0)
            return QStringLiteral("false success");
        const bool givenUp = !rig.log.isEmpty() && rig.log.last().startsWith(imageName + ": stopped at the ");
        if (rig.log.isEmpty() || !(givenUp || m.failLines.contains(rig.log.last())))
            return QStringLiteral("failed without its line");
        return QStringLiteral("failed");
    }

private slots:
    void initTestCase()
    {
        common::setTimeScale(kTimeScale);
        QVERIFY(m_dir.isValid());
    }

    void cleanupTestCase() { common::setTimeScale(1.0); }

    void soak_data()
    {
        QTest::addColumn<int>("modelId");
        QTest::newRow("first board") << 0;
        QTest::newRow("second board") << 1;
    }

    void soak()
    {
        QFETCH(int, modelId);
        const Model m = modelId == 0 ? firstModel() : secondModel();
        Rig rig;
        rig.modelId = modelId;
        QMap<QString, int> outcomes;
        QMap<QString, int> faultKinds;
        QStringList problems;
        qint64 rssAfterWarmUp = 0;
        QElapsedTimer clock;
        clock.start();
        for (int job = 0; job < kJobsPerModel; ++job) {
            const quint32 seed = quint32(1000 * (modelId + 1) + job);
            const JobReport report = runJob(rig, m, seed);
            ++outcomes[report.outcome];
            for (const QString &fault : report.faults)
                ++faultKinds[fault.section(QLatin1Char(':'), 0, 0).section(QLatin1Char('@'), 0, 0)];
            if (report.faults.isEmpty())
                ++faultKinds[QStringLiteral("none")];
            const bool acceptable = report.outcome == "success" || report.outcome == "failed";
            if (!acceptable) {
                problems << QStringLiteral("seed %1 [%2]: %3 (%4)")
                                .arg(seed)
                                .arg(report.faults.join(QLatin1Char(' ')), report.outcome, report.detail);
            }
            if (job == 9)
                rssAfterWarmUp = residentBytes();
        }
        const qint64 growth = residentBytes() - rssAfterWarmUp;

        QStringList summary;
        for (auto it = outcomes.cbegin(); it != outcomes.cend(); ++it)
            summary << QStringLiteral("%1 %2").arg(it.value()).arg(it.key());
        QStringList faults;
        for (auto it = faultKinds.cbegin(); it != faultKinds.cend(); ++it)
            faults << QStringLiteral("%1 %2").arg(it.key()).arg(it.value());
        qInfo("soak %s board: %d jobs in %.1f s; outcomes: %s; faults: %s; RSS growth after job 10: %lld KiB",
              qPrintable(m.name), kJobsPerModel, clock.elapsed() / 1000.0, qPrintable(summary.join(", ")),
              qPrintable(faults.join(", ")), growth / 1024);
        for (const QString &problem : qAsConst(problems))
            qWarning("%s", qPrintable(problem));
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join('\n')));
        QVERIFY2(!kRssMeaningful || growth < kMaxRssGrowth, qPrintable(QString::number(growth)));
    }

    // The ends of a job, where a lost reply weighs most.
    void edges_data()
    {
        QTest::addColumn<int>("modelId");
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<bool>("mustFail");
        QTest::newRow("first: last block unanswered") << 0 << QStringList {"silence:write@LAST"} << false;
        QTest::newRow("first: last block refused") << 0 << QStringList {"nak:write@LAST"} << false;
        QTest::newRow("first: line closed at last block") << 0 << QStringList {"close:write@LAST"} << true;
        QTest::newRow("first: jump unanswered") << 0 << QStringList {"silence:jump"} << true;
        QTest::newRow("first: jump with unknown status") << 0 << QStringList {"badstatus:jump@1"} << false;
        QTest::newRow("first: line cut at first byte") << 0 << QStringList {"cut@1"} << true;
        QTest::newRow("second: last frame unanswered") << 1 << QStringList {"silence:data@LAST"} << false;
        QTest::newRow("second: last frame refused") << 1 << QStringList {"nak:data@LAST"} << false;
        QTest::newRow("second: line closed at last frame") << 1 << QStringList {"close:data@LAST"} << true;
        QTest::newRow("second: erase refused") << 1 << QStringList {"nak:erase"} << true;
        QTest::newRow("second: line cut at first byte") << 1 << QStringList {"cut@1"} << true;
        QTest::newRow("first: no such port") << 0 << QStringList {"noport"} << true;
        QTest::newRow("second: no such port") << 1 << QStringList {"noport"} << true;
    }

    void edges()
    {
        QFETCH(int, modelId);
        QFETCH(QStringList, faults);
        QFETCH(bool, mustFail);
        Rig rig;
        rig.modelId = modelId;
        const JobReport report = runJob(rig, modelId == 0 ? firstModel() : secondModel(), 7, faults);
        qInfo("%s: %s (%s)", qPrintable(report.faults.join(' ')), qPrintable(report.outcome),
              qPrintable(report.detail));
        QVERIFY2(QStringList({"success", "failed"}).contains(report.outcome),
                 qPrintable(report.outcome + ": " + report.detail));
        if (mustFail)
            QCOMPARE(report.outcome, QStringLiteral("failed"));
    }
};

QTEST_GUILESS_MAIN(TestSoak)
#include "test_soak.moc"
