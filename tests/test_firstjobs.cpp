// Whole first-board jobs over a pty against the simulated unit, with protocol
// time turned down: the good road through the queue, then every failure road.
#include "package/zip.h"
#include "protocol/first/progress.h"
#include "serial/serialport.h"
#include "tools/support/coffwriter.h"
#include "tools/unitsim/firstunit.h"
#include "update/filesupdate.h"
#include "update/common.h"
#include "support/testfiles.h"
#include "support/testtime.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {
constexpr double kTimeScale = testTimeScale(0.05);
constexpr int kJobTimeoutMs = testWaitMs(5000);
// After a job ends, this long must pass without any further log or finish.
constexpr int kQuietMs = 300;

const QString kNotChosen = QStringLiteral("the processor was not chosen: the unit did not answer the preamble, so its "
                                          "boot loader decides by the verify code");
const QString kNoAnswer = QStringLiteral(
    "the unit does not answer: check the port, the cable, the power and that the package is for this unit's model");
const QString kRefused =
    QStringLiteral("the unit refuses it: check that the package is for this unit's model and processor");
const QString kNotUnderstood = QStringLiteral(
    "the unit's replies make no sense here: check the cable and that the package is for this unit's model");

QString stoppedAt(const QString &step, const QString &check)
{
    return QStringLiteral("arm.bin: stopped at the %1: %2").arg(step, check);
}

const QStringList kGoodJob = {"updating...",    "shake hand success!",   "verify success!",  "erea success!",
                              "writing flash!", "flash writed success!", "updating success!"};

QByteArray padded(const QByteArray &image)
{
    const int blocks = (image.size() + 1023) / 1024;
    return image + QByteArray(blocks * 1024 - image.size(), char(0xFF));
}

QByteArray armImage()
{
    // Long enough to hold the verify code at 0xB000, and not block-aligned.
    QByteArray bytes(0xB000 + 1500, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char((i * 13 + i / 509) & 0xFF);
    return bytes;
}

int countCommand(const QList<QByteArray> &frames, quint8 code)
{
    int count = 0;
    for (const QByteArray &frame : frames) {
        if (frame.size() > 4 && quint8(frame.at(0)) == 0x02 && quint8(frame.at(4)) == code)
            ++count;
    }
    return count;
}

int countPreamble(const QList<QByteArray> &frames)
{
    int count = 0;
    for (const QByteArray &frame : frames)
        count += frame.startsWith('#') ? 1 : 0;
    return count;
}
} // namespace

// The window's wiring of queue, transport and first engine, with the unit on
// the far end of a pty and the warning box replaced by a recorder.
struct rig
{
    firstUnit unit;
    serialport serial;
    progress engine {&serial};
    filesUpdate queue;
    QStringList engineLog;
    QStringList queueLog;
    QStringList warnings;
    QList<qlonglong> bars;
    QList<QPair<QString, QByteArray>> flashed;
    int finishes = 0;
    int failures = 0;

    rig()
    {
        // The warning's first words: what follows names a temporary path.
        serial.setWarningPresenter([this](const QString &text) { warnings.append(text.section(' ', 0, 1)); });
        QObject::connect(&queue, &filesUpdate::sendParm, &engine, &progress::initParm);
        QObject::connect(&engine, &progress::finish, &queue, &filesUpdate::updateFinish);
        QObject::connect(&serial, &serialport::receive, &engine, &progress::receiveData);
        QObject::connect(&engine, &progress::sendMessage, [this](const QString &m) { engineLog.append(m); });
        QObject::connect(&queue, &filesUpdate::sendMessage, [this](const QString &m) { queueLog.append(m); });
        QObject::connect(&engine, &progress::sendprogressBar,
                         [this](int, qlonglong written, qlonglong) { bars.append(written); });
        QObject::connect(&engine, &progress::finish, [this](bool) { ++finishes; });
        QObject::connect(&engine, &progress::jobFailed, [this] { ++failures; });
        QObject::connect(&unit, &firstUnit::jobCompleted, [this](const QString &target, const QByteArray &image) {
            flashed.append({target, image});
        });
    }

    void startJob(const QString &path, int imageIndex, const QString &port)
    {
        updateParm job;
        job.modelId = 0;
        job.imageIndex = imageIndex;
        job.row = 1;
        job.imagePath = path;
        job.image = testFiles::read(path);
        job.portName = port;
        engine.initParm(job);
    }

    // Runs a real event loop: the polling waits of the test library sleep
    // between rounds, which would slow every reply down.
    bool waitEnded(int jobs = 1)
    {
        QEventLoop loop;
        QTimer limit;
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
        auto check = [&] {
            if (finishes + failures >= jobs)
                loop.quit();
        };
        QObject::connect(&engine, &progress::finish, &loop, check, Qt::QueuedConnection);
        QObject::connect(&engine, &progress::jobFailed, &loop, check, Qt::QueuedConnection);
        limit.start(kJobTimeoutMs);
        if (finishes + failures < jobs)
            loop.exec();
        return finishes + failures >= jobs;
    }
};

class TestFirstJobs : public QObject
{
    Q_OBJECT

private slots:
    void init() { common::setTimeScale(kTimeScale); }
    void cleanup() { common::setTimeScale(1.0); }

    void bothImagesThroughTheQueue();
    void failures_data();
    void failures();
    void stepIntervalsUnscaled();
};

void TestFirstJobs::bothImagesThroughTheQueue()
{
    QTemporaryDir dir;
    const QByteArray arm = armImage();
    QByteArray dsp;
    QVERIFY(testFiles::write(dir.filePath("arm.bin"), arm));
    QVERIFY(testFiles::write(dir.filePath("dsp.out"), coffWriter::sampleObjectFile(&dsp)));
    rig r;
    QVERIFY(r.unit.open());

    // Table order puts dsp first; the name order sends arm first.
    r.queue.start(0, {testFiles::checked(0, dir.filePath("dsp.out")), testFiles::checked(1, dir.filePath("arm.bin"))},
                  r.unit.portName());
    QVERIFY(r.waitEnded(2));
    QTRY_VERIFY_WITH_TIMEOUT(r.queueLog.contains("update finished!"), kJobTimeoutMs);
    QTest::qWait(kQuietMs);

    QCOMPARE(r.engineLog, kGoodJob + kGoodJob);
    QCOMPARE(r.finishes, 2);
    QCOMPARE(r.failures, 0);
    QCOMPARE(r.warnings, QStringList());
    QCOMPARE(r.unit.violations(), QStringList());
    QCOMPARE(r.flashed.size(), 2);
    QCOMPARE(r.flashed.at(0).first, QString("arm"));
    QCOMPARE(r.flashed.at(0).second, padded(arm));
    QCOMPARE(r.flashed.at(1).first, QString("dsp"));
    QCOMPARE(r.flashed.at(1).second, padded(dsp));
    QCOMPARE(r.unit.jobsCompleted(), 2);
    QCOMPARE(r.unit.verifyCode(), QByteArray::fromHex("11223344"));

    const QString armPath = dir.filePath("arm.bin");
    const QString dspBin = dir.filePath("dsp.bin");
    const QStringList order = {"begin to start updating monitor progress...",
                               "prepare for updating file:" + armPath,
                               armPath + "updating success!",
                               "begin to start updating main progress...",
                               "prepare for updating file:" + dspBin,
                               dspBin + "updating success!",
                               "update finished!"};
    int at = 0;
    for (const QString &line : r.queueLog)
        at += (at < order.size() && line == order.at(at)) ? 1 : 0;
    QVERIFY2(at == order.size(), qPrintable(r.queueLog.join('|')));

    // Progress: start, erase, one value per block, for each image in turn.
    QList<qlonglong> expected;
    for (qlonglong size : {qlonglong(arm.size()), qlonglong(dsp.size())}) {
        expected << 0 << 0;
        for (qlonglong done = 1024; done < size + 1024; done += 1024)
            expected << qMin(done, size);
    }
    QCOMPARE(r.bars, expected);
}

void TestFirstJobs::failures_data()
{
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<QString>("image"); // "arm", "missing", "empty"
    QTest::addColumn<bool>("badPort");
    QTest::addColumn<QStringList>("logs");
    QTest::addColumn<bool>("success");
    QTest::addColumn<int>("shakeHands"); // -1: not counted
    QTest::addColumn<int>("preambles");  // -1: not counted
    QTest::addColumn<QStringList>("warnings");

    const QStringList head = {"updating...", "shake hand success!"};
    const QStringList upToWrite = head + QStringList {"verify success!", "erea success!", "writing flash!"};
    const QStringList tail = {"flash writed success!", "updating success!"};
    QStringList nineSilences;
    for (int n = 2; n <= 10; ++n)
        nineSilences << QString("silence:shakehand@%1").arg(n);

    auto row = [](const char *name, const QStringList &faults, const QStringList &logs, bool success,
                  int shakeHands = -1, int preambles = -1) {
        QTest::newRow(name) << faults << QString("arm") << false << logs << success << shakeHands << preambles
                            << QStringList();
    };
    row("good job", {}, kGoodJob, true, 1, 3);
    QStringList notChosen = kGoodJob;
    notChosen.insert(1, kNotChosen);
    row("silent preamble: straight to shake hand", {"silence:preamble"}, notChosen, true, 1, 1);
    row("silent confirm: straight to shake hand", {"silence:confirm"}, notChosen, true, 1, 2);
    row("shake hand never answered", {"silence:shakehand"},
        {"updating...", "shake hand failed!", stoppedAt("shake hand", kNoAnswer)}, false, 10);
    row("shake hand NAKs count as silences", {"nak:shakehand"},
        {"updating...", "shake hand failed!", stoppedAt("shake hand", kRefused)}, false, 10);
    row("tenth shake hand answered", QStringList {"silence:shakehand@1"} + nineSilences.mid(0, 8), kGoodJob, true, 10);
    row("verify NAK", {"nak:verify"}, head + QStringList {"verify failed!", stoppedAt("verify", kRefused)}, false);
    row("verify silence", {"silence:verify"}, head + QStringList {"verify failed!", stoppedAt("verify", kNoAnswer)},
        false);
    row("unknown code instead of the verify reply", {"silence:verify", "unknown:verify"},
        head + QStringList {"verify failed!", stoppedAt("verify", kNotUnderstood)}, false);
    row("erase NAK: back to shake hand", {"nak:erase@1"},
        head + QStringList {"verify success!", "erea failed!", "shake hand...", "shake hand success!"}
            + kGoodJob.mid(2),
        true, 2);
    row("erase NAK: shake hand gets a fresh count of ten", QStringList {"nak:erase@1"} + nineSilences,
        head + QStringList {"verify success!", "erea failed!", "shake hand...", "shake hand success!"}
            + kGoodJob.mid(2),
        true, 11);
    row("write NAK: erase and rewrite from byte 0", {"nak:write@2"},
        upToWrite + QStringList {"flash send failed!", "erea success!", "writing flash!"} + tail, true);
    row("write silence: erase and rewrite", {"silence:write@40"},
        upToWrite + QStringList {"flash send failed!", "erea success!", "writing flash!"} + tail, true);
    row("jump silence", {"silence:jump"},
        upToWrite + QStringList {"flash writed success!", "jump failed!", stoppedAt("jump", kNoAnswer)}, false);
    row("jump NAK", {"nak:jump"},
        upToWrite + QStringList {"flash writed success!", "jump failed!", stoppedAt("jump", kRefused)}, false);
    row("unknown code while waiting after the jump", {"unknown:jump"}, kGoodJob, true);
    row("unknown status while waiting after the jump", {"badstatus:jump"}, kGoodJob, true);
    row("unknown status to a block: rewritten, its late reply ignored", {"badstatus:write@5"},
        upToWrite + QStringList {"flash send failed!", "erea success!", "writing flash!"} + tail, true);
    row("garbage before replies",
        {"garbage:preamble", "garbage:confirm", "garbage:shakehand", "garbage:verify", "garbage:erase", "garbage:write",
         "garbage:jump"},
        kGoodJob, true, 1, 3);
    row("replies dripped byte by byte", {"drip"}, kGoodJob, true, 1, 3);
    row("replies split after a DLE", {"split"}, kGoodJob, true, 1, 3);
    row("line closed mid-transfer", {"close:write@3"},
        upToWrite
            + QStringList {"flash send failed!", "erea failed!", "shake hand...", "shake hand failed!",
                           stoppedAt("shake hand", kNoAnswer)},
        false);

    QTest::newRow("port cannot be opened")
        << QStringList() << QString("arm") << true << QStringList {"port opening failed!"} << false << 0 << 0
        << QStringList {"opening failed!"};
    QTest::newRow("image missing") << QStringList() << QString("missing") << false << QStringList {"reading failed!"}
                                   << false << 0 << 0 << QStringList();
    QTest::newRow("image empty") << QStringList() << QString("empty") << false << QStringList {"reading failed!"}
                                 << false << 0 << 0 << QStringList();
}

void TestFirstJobs::failures()
{
    QFETCH(QStringList, faults);
    QFETCH(QString, image);
    QFETCH(bool, badPort);
    QFETCH(QStringList, logs);
    QFETCH(bool, success);
    QFETCH(int, shakeHands);
    QFETCH(int, preambles);
    QFETCH(QStringList, warnings);

    QTemporaryDir dir;
    const QByteArray arm = armImage();
    const QString path = dir.filePath("arm.bin");
    if (image == "arm")
        QVERIFY(testFiles::write(path, arm));
    else if (image == "empty")
        QVERIFY(testFiles::write(path, QByteArray()));
    rig r;
    QVERIFY(r.unit.open());
    for (const QString &fault : faults) {
        QString error;
        QVERIFY2(r.unit.addFault(fault, &error), qPrintable(error));
    }

    r.startJob(path, 0, badPort ? dir.filePath("no-such-tty") : r.unit.portName());
    QVERIFY(r.waitEnded());
    QTest::qWait(kQuietMs);

    QVERIFY2(r.engineLog == logs, qPrintable(r.engineLog.join(QLatin1Char('|'))));
    QCOMPARE(r.finishes, success ? 1 : 0);
    QCOMPARE(r.failures, success ? 0 : 1);
    QCOMPARE(r.warnings, warnings);
    QCOMPARE(r.unit.violations(), QStringList());
    const QList<QByteArray> frames = r.unit.frames();
    if (shakeHands >= 0)
        QCOMPARE(countCommand(frames, 0x11), shakeHands);
    if (preambles >= 0)
        QCOMPARE(countPreamble(frames), preambles);
    if (success) {
        QCOMPARE(r.flashed.size(), 1);
        QCOMPARE(r.flashed.first().second, padded(arm));
        QCOMPARE(r.bars.last(), qlonglong(arm.size()));
    } else {
        QCOMPARE(r.unit.jobsCompleted(), 0);
    }
    // A rewrite starts again from byte 0: each write failure drops the bar
    // from a block's value to 0, and nothing else does.
    int drops = 0;
    for (int i = 1; i < r.bars.size(); ++i)
        drops += (r.bars.at(i - 1) > 0 && r.bars.at(i) == 0) ? 1 : 0;
    QCOMPARE(drops, int(r.engineLog.count("flash send failed!")));
    if (drops > 0 && success)
        QCOMPARE(r.bars.value(r.bars.indexOf(0, 2) + 1), qlonglong(1024));
}

// The one check at full protocol time: each step's timer is read right after
// the step starts, and the engine is driven by replies fed straight in.
void TestFirstJobs::stepIntervalsUnscaled()
{
    common::setTimeScale(1.0);
    QTemporaryDir dir;
    QVERIFY(testFiles::write(dir.filePath("arm.bin"), armImage()));
    rig r;
    QVERIFY(r.unit.open());
    QVERIFY(r.unit.addFault("silence:preamble"));
    QVERIFY(r.unit.addFault("silence:confirm"));
    QVERIFY(r.unit.addFault("silence:shakehand"));
    QVERIFY(r.unit.addFault("silence:verify"));
    QVERIFY(r.unit.addFault("silence:erase"));
    QVERIFY(r.unit.addFault("silence:jump"));
    auto *timer = r.engine.findChild<QTimer *>();
    QVERIFY(timer);
    auto interval = [timer] { return timer->isActive() ? timer->interval() : -1; };
    auto ack = [&r](quint8 code) { r.engine.receiveData(firstUnit::buildReply(code, 0x06)); };

    r.startJob(dir.filePath("arm.bin"), 0, r.unit.portName());
    QCOMPARE(interval(), 5000);
    r.engine.receiveData(QByteArray::fromHex("23020003afaa55d6"));
    QCOMPARE(interval(), 5000);
    QElapsedTimer pause;
    pause.start();
    r.engine.receiveData(QByteArray::fromHex("23020003af4f4b71"));
    QVERIFY(QTest::qWaitFor([&] { return interval() == 3000; }, 2000)); // after the pause, as a step
    QVERIFY(pause.elapsed() >= 500);
    QCOMPARE(interval(), 3000);
    QVERIFY(QMetaObject::invokeMethod(&r.engine, "timeout"));
    QCOMPARE(r.serial.baudRate(), 9600);
    QCOMPARE(interval(), 2000);
    ack(0x11);
    QCOMPARE(interval(), 7000);
    ack(0x13);
    QCOMPARE(interval(), 7000);
    ack(0x14);
    QCOMPARE(r.engine.frame().step, int(progress::StepWriteFlash));
    QCOMPARE(interval(), 7000);
    for (int guard = 0; guard < 100 && r.engine.frame().step == progress::StepWriteFlash; ++guard)
        ack(0x12);
    QCOMPARE(r.engine.frame().step, int(progress::StepJump));
    QCOMPARE(interval(), 7000);
    ack(0x04);
    QCOMPARE(r.engine.frame().step, int(progress::StepDone));
    QCOMPARE(interval(), 3000);
}

QTEST_GUILESS_MAIN(TestFirstJobs)
#include "test_firstjobs.moc"
