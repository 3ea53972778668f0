// The station library without ups-flash: two simulated units in this
// process, an output that keeps what it is told, the record of every
// attempt and a retry from the image that failed.
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

#include "station/flashfleet.h"
#include "station/flashrun.h"
#include "support/testfiles.h"
#include "support/testtime.h"
#include "tools/support/coffwriter.h"
#include "tools/support/packagewriter.h"
#include "tools/unitsim/unitserver.h"
#include "update/common.h"

namespace {

constexpr double kTimeScale = testTimeScale(0.05);
constexpr int kRunTimeoutMs = testWaitMs(30000);

// Each attempt that ended, per port: "unit/attempt result reason: image
// result, ...", in the codes the events and the report carry.
struct recordingOutput : flashOutput
{
    QList<QStringList> attempts;
    int status = -1;
    QList<slotTally> tallies;

    void runStarted(const runFacts &, const QStringList &ports) override
    {
        for (int i = 0; i < ports.size(); ++i)
            attempts << QStringList();
    }
    void waiting(int, Wait) override { }
    void unitStarted(int, const unitAttempt &) override { }
    void logLine(int, Level, const QString &) override { }
    void progress(int, const QString &, qint64, qint64) override { }
    void imageEnded(int, const imageOutcome &) override { }
    void unitEnded(int slot, const unitAttempt &attempt) override
    {
        QStringList images;
        for (const imageOutcome &image : attempt.images)
            images << image.name + QLatin1Char(' ') + codeOf(image.result);
        const QString result = (codeOf(attempt.result) + QLatin1Char(' ') + codeOf(attempt.reason)).trimmed();
        attempts[slot] << QStringLiteral("%1/%2 %3: %4")
                              .arg(attempt.unit)
                              .arg(attempt.attempt)
                              .arg(result, images.join(QStringLiteral(", ")));
    }
    void runEnded(int exitStatus, const QList<slotTally> &endTallies) override
    {
        status = exitStatus;
        tallies = endTallies;
    }
};

// A first-board package whose object file is listed before the flat image:
// the record must still follow the send order.
QString writePackage(const QTemporaryDir &dir)
{
    const QString path = dir.filePath(QStringLiteral("ups_5-10k.zip"));
    QByteArray arm(0xB000 + 1500, '\0');
    for (int i = 0; i < arm.size(); ++i)
        arm[i] = char((i * 7 + i / 251) & 0xFF);
    QByteArray flatDsp;
    packageWriter writer(path);
    const bool written = writer.open()
        && writer.addImage(QStringLiteral("dsp.out"), coffWriter::sampleObjectFile(&flatDsp))
        && writer.addImage(QStringLiteral("arm.bin"), arm) && writer.close();
    return written ? path : QString();
}

} // namespace

class TestStationLib : public QObject
{
    Q_OBJECT

private slots:
    void init() { common::setTimeScale(kTimeScale); }
    void cleanup() { common::setTimeScale(1.0); }

    void attemptsAreRecorded_data()
    {
        QTest::addColumn<QString>("secondUnitFault");
        QTest::addColumn<int>("retries");
        QTest::addColumn<QStringList>("secondUnitAttempts");
        QTest::addColumn<int>("status");

        QTest::newRow("both pass") << QString() << 0 << QStringList {"1/1 passed: arm.bin passed, dsp.out passed"} << 0;
        QTest::newRow("lost reply, retried from the failed image")
            << "silence:verify@1" << 1
            << QStringList {"1/1 failed verify-failed: arm.bin failed, dsp.out not-sent",
                            "1/2 passed: arm.bin passed, dsp.out passed"}
            << 0;
        QTest::newRow("silent unit, retries run out")
            << "silence:shakehand" << 1
            << QStringList {"1/1 failed handshake-failed: arm.bin failed, dsp.out not-sent",
                            "1/2 failed handshake-failed: arm.bin failed, dsp.out not-sent"}
            << int(flashRun::JobFailed);
    }

    // Each port's unit ends with its own attempts; a failing unit neither
    // stops nor changes the other's, and the run's status follows the units.
    void attemptsAreRecorded()
    {
        QFETCH(QString, secondUnitFault);
        QFETCH(int, retries);
        QFETCH(QStringList, secondUnitAttempts);
        QFETCH(int, status);

        QTemporaryDir dir;
        const QString package = writePackage(dir);
        QVERIFY(!package.isEmpty());
        std::vector<std::unique_ptr<unitServer>> units;
        QStringList ports;
        for (int i = 0; i < 2; ++i) {
            units.emplace_back(new unitServer(0));
            QVERIFY(units.back()->open());
            ports << units.back()->portName();
        }
        QString error;
        if (!secondUnitFault.isEmpty())
            QVERIFY2(units.at(1)->addFault(secondUnitFault, &error), qPrintable(error));

        recordingOutput out;
        flashFleet::options how;
        how.retries = retries;
        how.reportPath = dir.filePath(QStringLiteral("report.jsonl"));
        flashFleet fleet(&out, ports, how);
        out.runStarted(runFacts(), ports);
        QCOMPARE(fleet.openPackage(packageBytes::read(package), {}, trustedKeys()), int(flashRun::Success));
        QSignalSpy finished(&fleet, &flashFleet::finished);
        fleet.start();
        QVERIFY(finished.count() > 0 || finished.wait(kRunTimeoutMs));

        QCOMPARE(out.attempts.at(0), QStringList {"1/1 passed: arm.bin passed, dsp.out passed"});
        QCOMPARE(out.attempts.at(1), secondUnitAttempts);
        QCOMPARE(out.status, status);
        QCOMPARE(finished.first().first().toInt(), status);
        QCOMPARE(out.tallies.at(1).attempts, int(secondUnitAttempts.size()));
        const QByteArray report = testFiles::read(how.reportPath);
        QCOMPARE(report.count('\n'), 1 + secondUnitAttempts.size());
    }
};

QTEST_GUILESS_MAIN(TestStationLib)
#include "test_stationlib.moc"
