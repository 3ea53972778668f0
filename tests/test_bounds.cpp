// Every retry cycle of both engines ends: a unit that refuses, ignores or
// garbles a step for ever, and a package sent to a unit of the other model,
// make the job fail within the step's bound, with its reason and a last line
// that names the image, the step and what to check.
#include "protocol/first/progress.h"
#include "protocol/second/progress1.h"
#include "serial/serialport.h"
#include "tools/unitsim/firstunit.h"
#include "tools/unitsim/secondunit.h"
#include "update/common.h"
#include "support/testfiles.h"
#include "support/testtime.h"

#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {
constexpr double kScale = testTimeScale(0.02);
constexpr int kDeadlineMs = testWaitMs(20000); // real time, far beyond every bound scaled
constexpr int kQuietMs = 200;

using Engine = updateEngine;

const QString kNoAnswer = QStringLiteral(
    "the unit does not answer: check the port, the cable, the power and that the package is for this unit's model");
const QString kRefused =
    QStringLiteral("the unit refuses it: check that the package is for this unit's model and processor");
const QString kNotUnderstood = QStringLiteral(
    "the unit's replies make no sense here: check the cable and that the package is for this unit's model");

const QString kArm = QStringLiteral("arm.bin");
const QString kMonitor = QStringLiteral("2U_20K_MONITOR.bin");

QString stoppedAt(const QString &image, const QString &step, const QString &check)
{
    return QStringLiteral("%1: stopped at the %2: %3").arg(image, step, check);
}

QByteArray pattern(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 13 + i / 509) & 0xFF);
    return bytes;
}

// An image for each engine: the arm image holds its verify code at 0xB000,
// the monitor image its signature at 0x4000.
QByteArray imageFor(int engineModel)
{
    if (engineModel == 0)
        return pattern(0xB000 + 1500);
    QByteArray monitor = pattern(0x4008 + 3000);
    monitor.replace(0x4000, 8, "QJX-MONI");
    return monitor;
}

// Both engines on one line, wired as the update core wires them, and a
// simulated unit of either model at its far end.
struct rig
{
    serialport serial;
    progress first {&serial};
    progress1 second {&serial};
    std::unique_ptr<simulatedUnit> unit;
    QStringList log;
    QList<int> reasons;
    int finishes = 0;

    explicit rig(int unitModel)
    {
        if (unitModel == 0)
            unit = std::make_unique<firstUnit>();
        else
            unit = std::make_unique<secondUnit>();
        serial.setWarningPresenter([](const QString &) {});
        QObject::connect(&serial, &serialport::receive, &first, &progress::receiveData);
        QObject::connect(&serial, &serialport::receive1, &second, &progress1::receiveData);
        for (updateEngine *engine : {static_cast<updateEngine *>(&first), static_cast<updateEngine *>(&second)}) {
            QObject::connect(engine, &updateEngine::sendMessage, [this](const QString &line) { log << line; });
            QObject::connect(engine, &updateEngine::jobFailed, [this](int reason) { reasons << reason; });
            QObject::connect(engine, &updateEngine::finish, [this](bool) { ++finishes; });
        }
    }

    bool ended() const { return finishes + reasons.size() > 0; }
};
} // namespace

class TestBounds : public QObject
{
    Q_OBJECT

private slots:
    void init() { common::setTimeScale(kScale); }
    void cleanup() { common::setTimeScale(1.0); }

    void everyCycleEnds_data();
    void everyCycleEnds();
};

void TestBounds::everyCycleEnds_data()
{
    QTest::addColumn<int>("engineModel"); // the package's model
    QTest::addColumn<int>("unitModel");
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<int>("reason");
    QTest::addColumn<QString>("repeated"); // the line of each attempt
    QTest::addColumn<int>("times");
    QTest::addColumn<QString>("lastLine");

    const auto first = [](const char *name, const QStringList &faults, Engine::FailReason reason, const char *repeated,
                          int times, const char *step, const QString &check) {
        QTest::newRow(name) << 0 << 0 << faults << int(reason) << QString(repeated) << times
                            << stoppedAt(kArm, step, check);
    };
    first("first: erase refused for ever", {"nak:erase"}, Engine::EraseFailed, "erea failed!",
          progress::kMaxFailedErases, "erase", kRefused);
    first("first: erase unanswered for ever", {"silence:erase"}, Engine::EraseFailed, "erea failed!",
          progress::kMaxFailedErases, "erase", kNoAnswer);
    first("first: write refused for ever", {"nak:write"}, Engine::TransferFailed, "flash send failed!",
          progress::kMaxRewrites + 1, "flash write", kRefused);
    first("first: write unanswered for ever", {"silence:write"}, Engine::TransferFailed, "flash send failed!",
          progress::kMaxRewrites + 1, "flash write", kNoAnswer);
    first("first: unknown frame after every erase", {"unknown:erase"}, Engine::TransferFailed, "flash send failed!",
          progress::kMaxRewrites + 1, "flash write", kNotUnderstood);
    first("first: bad status after every write", {"badstatus:write"}, Engine::TransferFailed, "flash send failed!",
          progress::kMaxRewrites + 1, "flash write", kNotUnderstood);
    first("first: unknown frame after every shake hand", {"unknown:shakehand"}, Engine::VerifyFailed, "verify failed!",
          1, "verify", kNotUnderstood);
    first("first: silent unit", {"silence"}, Engine::HandshakeFailed, "shake hand failed!", 1, "shake hand", kNoAnswer);
    first("first: shake hand refused for ever", {"nak:shakehand"}, Engine::HandshakeFailed, "shake hand failed!", 1,
          "shake hand", kRefused);
    first("first: verify unanswered", {"silence:verify"}, Engine::VerifyFailed, "verify failed!", 1, "verify",
          kNoAnswer);
    first("first: jump unanswered", {"silence:jump"}, Engine::JumpFailed, "jump failed!", 1, "jump", kNoAnswer);

    const auto second = [](const char *name, const QStringList &faults, Engine::FailReason reason, const char *repeated,
                           int times, const char *step, const QString &check) {
        QTest::newRow(name) << 1 << 1 << faults << int(reason) << QString(repeated) << times
                            << stoppedAt(kMonitor, step, check);
    };
    // Five quiet sendings, five with a line each, and one after the last wait.
    const int startTimeouts = progress1::kMaxStartSendings - progress1::kHandshakeQuietSendings + 1;
    second("second: start unanswered for ever", {"silence:start"}, Engine::HandshakeFailed, "timeout!", startTimeouts,
           "start command", kNoAnswer);
    second("second: start refused for ever", {"nak:start"}, Engine::HandshakeFailed, "verify failed!",
           progress1::kMaxStartSendings, "start command", kRefused);
    second("second: file size unanswered for ever", {"silence:filesize"}, Engine::HandshakeFailed, "timeout!",
           progress1::kMaxFileSizeWaits, "file-size command", kNoAnswer);
    second("second: change port unanswered", {"silence:changeport"}, Engine::LineSpeedFailed, "change the port!", 1,
           "change-port command", kNoAnswer);
    second("second: erase unanswered", {"silence:erase"}, Engine::EraseFailed, "timeout!", 1, "erase command",
           kNoAnswer);
    second("second: erase refused", {"nak:erase"}, Engine::EraseFailed, "erase failed!", 1, "erase command", kRefused);
    second("second: data unanswered for ever", {"silence:data"}, Engine::TransferFailed, "timeout, retry 6...\n", 1,
           "data frames", kNoAnswer);
    second("second: data refused for ever", {"nak:data"}, Engine::TransferFailed, "updating failed!",
           progress1::kMaxFrameRetries + 1, "data frames", kRefused);

    QTest::newRow("model-1 package to a model-0 unit")
        << 1 << 0 << QStringList() << int(Engine::HandshakeFailed) << "timeout!" << startTimeouts
        << stoppedAt(kMonitor, "start command", kNoAnswer);
    QTest::newRow("model-0 package to a model-1 unit")
        << 0 << 1 << QStringList() << int(Engine::HandshakeFailed) << "shake hand failed!" << 1
        << stoppedAt(kArm, "shake hand", kNoAnswer);
}

void TestBounds::everyCycleEnds()
{
    QFETCH(int, engineModel);
    QFETCH(int, unitModel);
    QFETCH(QStringList, faults);
    QFETCH(int, reason);
    QFETCH(QString, repeated);
    QFETCH(int, times);
    QFETCH(QString, lastLine);

    QTemporaryDir dir;
    const QString path = dir.filePath(engineModel == 0 ? kArm : kMonitor);
    QVERIFY(testFiles::write(path, imageFor(engineModel)));
    rig r(unitModel);
    QVERIFY(r.unit->open());
    for (const QString &fault : faults)
        QVERIFY2(r.unit->addFault(fault), qPrintable(fault));

    updateParm job;
    job.modelId = engineModel;
    job.imageIndex = 0;
    job.row = 1;
    job.imagePath = path;
    job.image = testFiles::read(path);
    job.portName = r.unit->portName();
    updateEngine &engine = engineModel == 0 ? static_cast<updateEngine &>(r.first) : r.second;
    engine.initParm(job);
    QTRY_VERIFY_WITH_TIMEOUT(r.ended(), kDeadlineMs);
    QTest::qWait(kQuietMs);

    const QString seen = r.log.join(QLatin1Char('|'));
    QCOMPARE(r.finishes, 0);
    QVERIFY2(r.reasons == QList<int> {reason}, qPrintable(seen));
    QVERIFY2(r.log.last() == lastLine, qPrintable(seen));
    QVERIFY2(r.log.count(repeated) == times, qPrintable(seen));
    QVERIFY(!engine.isBusy());
    QCOMPARE(r.unit->jobsCompleted(), 0);
}

QTEST_GUILESS_MAIN(TestBounds)
#include "test_bounds.moc"
