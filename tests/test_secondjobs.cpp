// Whole second-board jobs over a pty against the simulated unit, with the
// protocol time turned down: successes frame for frame, faults the engine
// must ride out, and failures that must never end in a reported success.
#include "protocol/second/progress1.h"
#include "serial/serialport.h"
#include "tools/unitsim/ptyline.h"
#include "tools/unitsim/secondunit.h"
#include "update/filesupdate.h"
#include "update/common.h"
#include "support/testfiles.h"
#include "support/testtime.h"

#include <QDir>
#include <functional>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {
constexpr double kScale = testTimeScale(0.02);
constexpr int kRow = 3;
const QByteArray kSignatures[] = {"QJX-MONI", "NI0V", "ER0C", "CE0U"};
const qint64 kSignatureOffsets[] = {0x4000, 0x27FEC, 0x17FEC, 0x17FEC};

QByteArray imageBytes(int index, int size, int seed = 0)
{
    QByteArray image(size, '\0');
    for (int i = 0; i < size; ++i)
        image[i] = char((i * 13 + seed + i / 509) & 0xFF);
    if (kSignatureOffsets[index] + kSignatures[index].size() <= size)
        image.replace(int(kSignatureOffsets[index]), kSignatures[index].size(), kSignatures[index]);
    return image;
}

using Progress = QList<qlonglong>;

// The engine wired as the window wires it, against one simulated unit.
struct Rig
{
    serialport serial;
    progress1 engine {&serial};
    secondUnit unit;
    QStringList log;
    QStringList warnings;
    QList<Progress> progress;
    int finished = 0;
    int failed = 0;

    Rig()
    {
        QObject::connect(&serial, &serialport::receive1, &engine, &progress1::receiveData);
        QObject::connect(&engine, &progress1::sendMessage, &engine, [this](const QString &t) { log << t; });
        QObject::connect(&engine, &progress1::sendprogressBar, &engine,
                         [this](int row, qlonglong done, qlonglong total) {
                             progress << Progress {row, done, total};
                         });
        QObject::connect(&engine, &progress1::finish, &engine, [this](bool ok) { finished += ok ? 1 : 1000; });
        QObject::connect(&engine, &progress1::jobFailed, &engine, [this] { ++failed; });
        // The warning's first words: what follows names a temporary path.
        serial.setWarningPresenter([this](const QString &t) { warnings << t.section(' ', 0, 1); });
        unit.open();
    }

    updateParm job(int index, const QString &path, const QString &port = QString()) const
    {
        updateParm p;
        p.modelId = 1;
        p.imageIndex = index;
        p.row = kRow;
        p.imagePath = path;
        p.image = testFiles::read(path);
        p.portName = port.isEmpty() ? unit.portName() : port;
        return p;
    }

    bool waitEnd(int ms = 20000)
    {
        QElapsedTimer clock;
        clock.start();
        while (finished == 0 && failed == 0 && clock.elapsed() < ms)
            QTest::qWait(5);
        return finished != 0 || failed != 0;
    }

    int framesStartingWith(const QByteArray &prefix) const
    {
        int n = 0;
        for (const QByteArray &f : unit.frames())
            n += f.startsWith(prefix);
        return n;
    }
};

QStringList retryLines(int from, int to)
{
    QStringList lines;
    for (int i = from; i <= to; ++i)
        lines << QStringLiteral("timeout, retry %1...\n").arg(i);
    return lines;
}

const QString kNoAnswer = QStringLiteral(
    "the unit does not answer: check the port, the cable, the power and that the package is for this unit's model");
const QString kRefused =
    QStringLiteral("the unit refuses it: check that the package is for this unit's model and processor");

// The line a job given up ends with; images are named img<index>_<size>.
QString stoppedAt(int index, const QString &step, const QString &check)
{
    const int size = index == 0 ? 16392 + 5000 : 98300;
    return QStringLiteral("img%1_%2: stopped at the %3: %4").arg(index).arg(size).arg(step, check);
}

const QStringList kHandshakeLog = {"verify success!",      "prepare for updating!", "change the port!",
                                   "port change success!", "begin to erase!",       "erase successs!",
                                   "begin to updating!"};
const QStringList kEndLog = {"updating finished!", "updating success!"};
} // namespace

class TestSecondJobs : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString image(int index, int size, const QString &name = QString(), int seed = 0)
    {
        const QString path = m_dir.filePath(name.isEmpty() ? QStringLiteral("img%1_%2").arg(index).arg(size) : name);
        return testFiles::write(path, imageBytes(index, size, seed)) ? path : QString();
    }

    static void verifyFlashed(const secondUnit &unit, const QByteArray &source, qint64 flashSize)
    {
        const QByteArray flashed = unit.flashedImage();
        QCOMPARE(qint64(flashed.size()), flashSize);
        QVERIFY(flashed.startsWith(source));
        QCOMPARE(flashed.mid(source.size()), QByteArray(int(flashSize) - source.size(), char(0xFF)));
    }

private slots:
    void init() { common::setTimeScale(kScale); }

    void cleanupTestCase() { common::setTimeScale(1.0); }

    void specimenJob()
    {
        Rig rig;
        const QString path = image(2, 98300);
        rig.engine.initParm(rig.job(2, path));
        QVERIFY(rig.waitEnd());
        QCOMPARE(rig.finished, 1);
        QCOMPARE(rig.failed, 0);
        QCOMPARE(rig.log, kHandshakeLog + kEndLog);

        const QList<QByteArray> frames = rig.unit.frames();
        QCOMPARE(frames.size(), 3 + 3072);
        QCOMPARE(frames.at(0).toHex(' '), QByteArray("01 07 55 e2 0f"));
        QCOMPARE(frames.at(1).toHex(' '), QByteArray("01 06 9c a7 00 00 16 79 53"));
        QCOMPARE(frames.at(2).toHex(' '), QByteArray("04 00 00 ff ff 00 aa 55 fb"));
        QVERIFY2(rig.unit.violations().isEmpty(), qPrintable(rig.unit.violations().join('\n')));

        QCOMPARE(rig.progress.size(), 1 + 3072);
        QCOMPARE(rig.progress.first(), (Progress {kRow, 0, 100}));
        for (int k = 1; k < 3072; ++k)
            QCOMPARE(rig.progress.at(k), (Progress {kRow, 32 * k, 98300}));
        QCOMPARE(rig.progress.last(), (Progress {kRow, 98300, 98300}));
        verifyFlashed(rig.unit, imageBytes(2, 98300), 98304);
        QCOMPARE(rig.unit.target(), QStringLiteral("rec"));
        QCOMPARE(rig.unit.jobsCompleted(), 1);
        QVERIFY(!rig.engine.isBusy());
    }

    void monitorJob()
    {
        Rig rig;
        const int size = 20000;
        rig.engine.initParm(rig.job(0, image(0, size)));
        QVERIFY(rig.waitEnd());
        QCOMPARE(rig.finished, 1);
        QStringList expected = kHandshakeLog;
        expected.insert(2, QStringLiteral("get file size!"));
        QCOMPARE(rig.log, expected + kEndLog);
        const int frames = size / 128 + 17;
        QCOMPARE(rig.unit.frames().size(), 4 + frames);
        QCOMPARE(rig.unit.frames().at(1), QByteArray::fromHex("aa000056807c"));
        for (int k = 4; k < 4 + frames; ++k)
            QCOMPARE(rig.unit.frames().at(k).size(), 130);
        QCOMPARE(rig.progress.last(), (Progress {kRow, frames * 128, frames * 128}));
        verifyFlashed(rig.unit, imageBytes(0, size), frames * 128);
        QVERIFY(rig.unit.violations().isEmpty());
    }

    // Three images of a model-1 package through the queue, wired as the
    // window wires it, in the model's name order whatever the ticked order.
    void packageThroughQueue()
    {
        Rig rig;
        filesUpdate updater;
        QObject::connect(&updater, &filesUpdate::sendParm1, &rig.engine, &progress1::initParm);
        QObject::connect(&rig.engine, &progress1::finish, &updater, &filesUpdate::updateFinish);
        QStringList queueLog;
        QObject::connect(&updater, &filesUpdate::sendMessage, &updater, [&](const QString &t) { queueLog << t; });
        QSignalSpy ended(&updater, &filesUpdate::runEnded);
        QList<QPair<QString, QByteArray>> completed;
        QObject::connect(&rig.unit, &secondUnit::jobCompleted, &rig.unit,
                         [&](const QString &target, const QByteArray &img) { completed << qMakePair(target, img); });

        QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("pkg")));
        const QString dir = m_dir.filePath(QStringLiteral("pkg/"));
        QVERIFY(testFiles::write(dir + "Rec_power33.bin", imageBytes(2, 98300, 1)));
        QVERIFY(testFiles::write(dir + "2U_20K_MONITOR.bin", imageBytes(0, 17000, 2)));
        QVERIFY(testFiles::write(dir + "Inv_power33.bin", imageBytes(1, 163840, 3)));
        const QList<checkedFile> ticked = {testFiles::checked(0, dir + "Rec_power33.bin"),
                                           testFiles::checked(1, dir + "Inv_power33.bin"),
                                           testFiles::checked(2, dir + "2U_20K_MONITOR.bin")};
        updater.start(1, ticked, rig.unit.portName());
        QVERIFY(ended.wait(40000));
        QCOMPARE(ended.first().first().toBool(), true);
        QCOMPARE(rig.finished, 3);
        QCOMPARE(rig.failed, 0);
        QVERIFY(queueLog.contains(QStringLiteral("update finished!")));
        QCOMPARE(completed.size(), 3);
        QCOMPARE(completed.at(0).first, QStringLiteral("monitor"));
        QCOMPARE(completed.at(1).first, QStringLiteral("inv"));
        QCOMPARE(completed.at(2).first, QStringLiteral("rec"));
        QVERIFY(completed.at(0).second.startsWith(imageBytes(0, 17000, 2)));
        QCOMPARE(completed.at(1).second, imageBytes(1, 163840, 3));
        QVERIFY(completed.at(2).second.startsWith(imageBytes(2, 98300, 1)));
        QVERIFY(rig.unit.violations().isEmpty());
    }

    // Replies the engine must ride out: each job still ends in success with
    // the unit holding exactly the image.
    void survivableFaults_data()
    {
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<QStringList>("mustLog");
        QTest::addColumn<QStringList>("mustNotLog");
        // Drip and split pause at least 1 ms per piece: a coarser time scale
        // keeps the pauses well inside the 1000 ms change-port interval.
        QTest::newRow("dripEveryReply") << QStringList {"drip"} << QStringList {}
                                        << QStringList {"updating failed!", "timeout!"};
        QTest::newRow("splitEveryReply") << QStringList {"split"} << QStringList {}
                                         << QStringList {"updating failed!", "timeout!"};
        QTest::newRow("twelveByteReplies")
            << QStringList {"long12"} << QStringList {} << QStringList {"updating failed!"};
        QTest::newRow("thirteenByteReplies")
            << QStringList {"long13"} << QStringList {} << QStringList {"updating failed!"};
        QTest::newRow("garbageBeforeReplies")
            << QStringList {"garbage"} << QStringList {} << QStringList {"updating failed!"};
        QTest::newRow("twoAcksInOneWrite")
            << QStringList {"double:data@3", "double:start"} << QStringList {} << QStringList {};
        QTest::newRow("wrongStartReplyOnce")
            << QStringList {"nak:start@1"} << QStringList {"verify failed!"} << QStringList {};
        QTest::newRow("wrongDataReplyOnce")
            << QStringList {"nak:data@5"} << QStringList {"updating failed!", "timeout, retry 1...\n"}
            << QStringList {};
        QTest::newRow("silentFrameOnce") << QStringList {"silence:data@7"} << retryLines(1, 1) << retryLines(2, 2);
        QTest::newRow("changePortResendCarried")
            << QStringList {"silence:changeport@1", "silence:data@1"} << retryLines(2, 2) << retryLines(1, 1);
        QTest::newRow("startAnsweredAtTheTenthSending")
            << QStringList {"silence:start@1", "silence:start@2", "silence:start@3",
                            "silence:start@4", "silence:start@5", "silence:start@6",
                            "silence:start@7", "silence:start@8", "silence:start@9"}
            << QStringList {"timeout!", "prepare for updating!"} << QStringList {};
    }

    void survivableFaults()
    {
        QFETCH(QStringList, faults);
        QFETCH(QStringList, mustLog);
        QFETCH(QStringList, mustNotLog);
        if (faults.first() == QLatin1String("drip") || faults.first() == QLatin1String("split"))
            common::setTimeScale(testTimeScale(0.05));
        Rig rig;
        for (const QString &f : faults)
            QVERIFY2(rig.unit.addFault(f), qPrintable(f));
        const int size = 16392 + 1000;
        rig.engine.initParm(rig.job(0, image(0, size)));
        QVERIFY(rig.waitEnd());
        QCOMPARE(rig.finished, 1);
        QCOMPARE(rig.failed, 0);
        for (const QString &line : mustLog)
            QVERIFY2(rig.log.contains(line), qPrintable(line));
        for (const QString &line : mustNotLog)
            QVERIFY2(!rig.log.contains(line), qPrintable(line));
        verifyFlashed(rig.unit, imageBytes(0, size), (size / 128 + 17) * 128);
        QVERIFY2(rig.unit.violations().isEmpty(), qPrintable(rig.unit.violations().join('\n')));
    }

    // Jobs that must end on a failure: the engine goes idle with jobFailed,
    // never reports success, and the log ends with the failure's lines.
    void failures_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<bool>("signatureOk");
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<bool>("dropPortOnChange");
        QTest::addColumn<QStringList>("logTail");
        QTest::addColumn<int>("unitFrames");
        QTest::newRow("signatureMismatch")
            << 2 << false << QStringList {} << false << QStringList {"verify failed!"} << 0;
        QTest::newRow("changePortUnanswered")
            << 2 << true << QStringList {"silence:changeport"} << false
            << QStringList {"change the port!", "timeout!", stoppedAt(2, "change-port command", kNoAnswer)} << 1 + 3;
        QTest::newRow("eraseUnanswered") << 2 << true << QStringList {"silence:erase"} << false
                                         << QStringList {"begin to erase!", "timeout!",
                                                         stoppedAt(2, "erase command", kNoAnswer)}
                                         << 3;
        QTest::newRow("eraseRefused") << 2 << true << QStringList {"nak:erase"} << false
                                      << QStringList {"begin to erase!", "erase failed!", "timeout!",
                                                      stoppedAt(2, "erase command", kRefused)}
                                      << 3;
        QTest::newRow("fileSizeRefused") << 0 << true << QStringList {"nak:filesize"} << false
                                         << QStringList {"prepare for updating!",
                                                         "file size get failed!",
                                                         "timeout!",
                                                         "timeout!",
                                                         "timeout!",
                                                         stoppedAt(0, "file-size command", kRefused)}
                                         << 2;
        QTest::newRow("frameUnanswered") << 0 << true << QStringList {"silence:data"} << false
                                         << retryLines(1, 6)
                + QStringList {"updating failed!", stoppedAt(0, "data frames", kNoAnswer)}
                                         << 4 + 6;
        QTest::newRow("reopenAt9600Fails")
            << 2 << true << QStringList {} << true
            << QStringList {"change the port!", "port change success!", "port opening failed!", "timeout!",
                            stoppedAt(2, "change-port command",
                                      "the port could not be opened again: check the port and the cable")}
            << 2;
        QTest::newRow("lineClosedMidTransfer")
            << 0 << true << QStringList {"close:data@20"} << false
            << retryLines(1, 6) + QStringList {"updating failed!", stoppedAt(0, "data frames", kNoAnswer)} << 4 + 20;
    }

    void failures()
    {
        QFETCH(int, index);
        QFETCH(bool, signatureOk);
        QFETCH(QStringList, faults);
        QFETCH(bool, dropPortOnChange);
        QFETCH(QStringList, logTail);
        QFETCH(int, unitFrames);
        Rig rig;
        for (const QString &f : faults)
            QVERIFY(rig.unit.addFault(f));
        const int size = index == 0 ? 16392 + 5000 : 98300;
        const QString path = image(signatureOk ? index : (index + 1) % 4, size);
        // A link that vanishes when the unit takes the change-port command
        // makes the reopen at 9600 baud fail, the 2400 baud open work.
        const QString link = m_dir.filePath(QStringLiteral("ttyUPS"));
        QFile::remove(link);
        QVERIFY(QFile::link(rig.unit.portName(), link));
        if (dropPortOnChange) {
            QObject::connect(&rig.unit, &secondUnit::frameReceived, &rig.unit, [&](const QByteArray &frame) {
                if (frame.startsWith(QByteArray::fromHex("0106")))
                    QFile::remove(link);
            });
        }
        rig.engine.initParm(rig.job(index, path, link));
        QVERIFY(rig.waitEnd());
        QTest::qWait(common::scaledMs(progress1::kFinishWaitMs) + 50);
        QCOMPARE(rig.finished, 0);
        QCOMPARE(rig.failed, 1);
        QVERIFY(!rig.engine.isBusy());
        QCOMPARE(rig.log.mid(rig.log.size() - logTail.size()), logTail);
        if (unitFrames >= 0)
            QCOMPARE(rig.unit.frames().size(), unitFrames);
        if (faults.contains(QStringLiteral("silence:data"))) {
            const QList<QByteArray> frames = rig.unit.frames(); // the first frame and its five resends
            for (int k = 5; k < frames.size(); ++k)
                QCOMPARE(frames.at(k), frames.at(4));
        }
        QCOMPARE(rig.warnings, dropPortOnChange ? QStringList {"opening failed!"} : QStringList {});
    }

    // From the sixth sending of the start command on, each sending is
    // followed by "timeout!"; a new job ends the wait before its bound.
    void silentHandshake()
    {
        Rig rig;
        QVERIFY(rig.unit.addFault(QStringLiteral("silence:start")));
        rig.engine.initParm(rig.job(2, image(2, 98300)));
        QTRY_VERIFY_WITH_TIMEOUT(rig.log.count(QStringLiteral("timeout!")) >= 3, 5000);
        rig.engine.initParm(rig.job(2, image(3, 98300, QStringLiteral("wrongkind")))); // replaces the job, fails verify
        const int timeouts = rig.log.count(QStringLiteral("timeout!"));
        QTest::qWait(50);
        QCOMPARE(rig.unit.frames().size(), 5 + timeouts);
        QCOMPARE(rig.log.mid(0, 1), QStringList {"verify success!"});
        QCOMPARE(rig.log.mid(1, timeouts), QStringList(QVector<QString>(timeouts, "timeout!").toList()));
        QCOMPARE(rig.finished, 0);
    }

    // A second job during a transfer drops the first silently and runs to
    // its own success; only the second image ends up in the unit.
    void secondJobDuringTransfer()
    {
        Rig rig;
        const QString first = image(2, 98300);
        const QString second = image(0, 17000, QStringLiteral("second"), 9);
        bool replaced = false;
        QObject::connect(&rig.engine, &progress1::sendprogressBar, &rig.engine, [&](int, qlonglong done, qlonglong) {
            if (!replaced && done == 32 * 200) {
                replaced = true;
                QTimer::singleShot(0, &rig.engine, [&] { rig.engine.initParm(rig.job(0, second)); });
            }
        });
        rig.engine.initParm(rig.job(2, first));
        QVERIFY(rig.waitEnd());
        QVERIFY(replaced);
        QCOMPARE(rig.finished, 1);
        QCOMPARE(rig.failed, 0);
        QCOMPARE(rig.unit.target(), QStringLiteral("monitor"));
        QCOMPARE(rig.unit.jobsCompleted(), 1);
        verifyFlashed(rig.unit, imageBytes(0, 17000, 9), (17000 / 128 + 17) * 128);
        QCOMPARE(rig.log.count(QStringLiteral("verify success!")), 2);
        QCOMPARE(rig.log.count(QStringLiteral("updating success!")), 1);
        QCOMPARE(rig.progress.count(Progress {kRow, 0, 100}), 2);
    }

    // The specified intervals at full time (no wait: the engine is driven by
    // replies and by firing its timer by hand).
    void timerIntervals_data()
    {
        QTest::addColumn<int>("steps");
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("interval");
        QTest::newRow("handshake") << 0 << int(progress1::Handshake) << 3000;
        QTest::newRow("handshakeResend") << 1 << int(progress1::Handshake) << 3000;
        QTest::newRow("pauseAfterStart") << 2 << int(progress1::FileSizeDue) << 6000;
        QTest::newRow("fileSizeWait") << 3 << int(progress1::FileSizeSent) << 5000;
        QTest::newRow("pauseAfterFileSize") << 4 << int(progress1::ChangePortDue) << 6000;
        QTest::newRow("changePortResend") << 5 << int(progress1::ChangePortSent) << 1000;
        QTest::newRow("pauseAfterReopen") << 6 << int(progress1::PortChanged) << 3000;
        QTest::newRow("eraseWait") << 7 << int(progress1::Erasing) << 25000;
        QTest::newRow("frameWait") << 8 << int(progress1::Updating) << 8000;
        QTest::newRow("finishWait") << 9 << int(progress1::Finishing) << 20000;
    }

    void timerIntervals()
    {
        QFETCH(int, steps);
        QFETCH(int, state);
        QFETCH(int, interval);
        common::setTimeScale(1.0);
        ptyLine line;
        QVERIFY(line.open());
        serialport serial;
        progress1 engine(&serial);
        updateParm job;
        job.modelId = 1;
        job.imageIndex = 0;
        job.imagePath = image(0, 16392 + 500);
        job.image = testFiles::read(job.imagePath);
        job.portName = line.slavePath();
        engine.initParm(job);
        QTimer *timer = engine.findChild<QTimer *>();
        QVERIFY(timer);
        const auto fire = [&] { QMetaObject::invokeMethod(timer, "timeout"); };
        const QByteArray startAck = QByteArray::fromHex("0455aafb");
        const QByteArray commandAck = QByteArray::fromHex("04aa55fb");
        const QList<std::function<void()>> actions = {
            fire,
            [&] { engine.receiveData(startAck); },
            fire,
            [&] { engine.receiveData(commandAck); },
            fire,
            [&] { engine.receiveData(QByteArray::fromHex("01069ca700001679")); },
            fire,
            [&] { engine.receiveData(commandAck); },
            [&] {
                for (int guard = 0; engine.state() == progress1::Updating && guard < 1000; ++guard)
                    engine.receiveData(commandAck);
            }};
        for (int i = 0; i < steps; ++i)
            actions.at(i)();
        QCOMPARE(engine.state(), state);
        QVERIFY(timer->isActive());
        QCOMPARE(timer->interval(), interval);
    }
};

QTEST_GUILESS_MAIN(TestSecondJobs)
#include "test_secondjobs.moc"
