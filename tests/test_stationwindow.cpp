// The operator's station window over simulated units in this process: units
// plugged in one after another, a faulty unit, the serial number gate and a
// window closed in the middle of a flash, each checked on the tiles and in
// the report.
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

#include <memory>
#include <vector>

#include "stationapp/failurewords.h"
#include "stationapp/slottile.h"
#include "stationapp/stationwindow.h"
#include "support/modalanswerer.h"
#include "support/programs.h"
#include "support/testfiles.h"
#include "support/testtime.h"
#include "tools/support/coffwriter.h"
#include "tools/support/packagewriter.h"
#include "tools/unitsim/unitserver.h"
#include "update/common.h"
#include "util/places.h"

namespace {

constexpr double kTimeScale = testTimeScale(0.05);
constexpr int kRunTimeoutMs = testWaitMs(30000);
// Longer than a few polls for a port (a fifth of a second each).
constexpr int kSeveralPollsMs = 700;

// Units on the bench: each plugged in by making its slot's port, a link
// in the test's folder, point at the unit's pty.
struct bench
{
    QTemporaryDir dir;
    QByteArray arm;
    QByteArray flatDsp;
    std::vector<std::unique_ptr<unitServer>> units;

    bool make(int count)
    {
        arm = QByteArray(0x3000, '\0');
        for (int i = 0; i < arm.size(); ++i)
            arm[i] = char((i * 7 + i / 251) & 0xFF);
        packageWriter writer(dir.filePath(QStringLiteral("ups_5-10k.zip")));
        if (!writer.open() || !writer.addImage(QStringLiteral("dsp.out"), coffWriter::sampleObjectFile(&flatDsp))
            || !writer.addImage(QStringLiteral("arm.bin"), arm) || !writer.close())
            return false;
        for (int i = 0; i < count; ++i) {
            units.emplace_back(new unitServer(0));
            const QString saved = dir.filePath(QStringLiteral("unit%1").arg(i + 1));
            if (!units.back()->open() || !QDir().mkpath(saved))
                return false;
            units.back()->setSaveDir(saved);
        }
        return true;
    }
    QString port(int i) const { return dir.filePath(QStringLiteral("ttySlot%1").arg(i + 1)); }
    bool plugIn(int i) const { return QFile::link(units.at(size_t(i))->portName(), port(i)); }
    QString profile(const QString &keys) const
    {
        QString text = QStringLiteral("package = ups_5-10k.zip\nreport = report.jsonl\n") + keys;
        for (size_t i = 0; i < units.size(); ++i)
            text += QStringLiteral("slot.%1 = %2\n").arg(i + 1).arg(port(int(i)));
        const QString path = dir.filePath(QStringLiteral("bench.ini"));
        return testFiles::write(path, text.toUtf8()) ? path : QString();
    }
    QList<QJsonObject> report() const
    {
        QList<QJsonObject> lines;
        for (const QByteArray &line : testFiles::read(dir.filePath(QStringLiteral("report.jsonl"))).split('\n')) {
            if (!line.isEmpty())
                lines << QJsonDocument::fromJson(line).object();
        }
        return lines;
    }
    // Whether unit I holds exactly the package's images (the boot loader
    // pads the last block with 0xFF).
    bool holdsPackage(int i) const
    {
        const QDir saved(dir.filePath(QStringLiteral("unit%1").arg(i + 1)));
        return testPrograms::sameImage(testFiles::read(saved.filePath(QStringLiteral("arm.bin"))), arm)
            && testPrograms::sameImage(testFiles::read(saved.filePath(QStringLiteral("dsp.bin"))), flatDsp);
    }
};

bool openWindow(stationWindow &window, const QString &profilePath)
{
    stationProfile profile;
    QString problem;
    if (!stationProfile::load(profilePath, &profile, &problem) || !window.open(profile, profilePath, &problem)) {
        qWarning("%s", qPrintable(problem));
        return false;
    }
    window.show();
    window.start();
    return true;
}

} // namespace

class TestStationWindow : public QObject
{
    Q_OBJECT

private slots:
    void init() { common::setTimeScale(kTimeScale); }
    void cleanup() { common::setTimeScale(1.0); }

    void unitsPluggedInOneAfterAnother_data()
    {
        QTest::addColumn<QString>("secondUnitFault");
        QTest::addColumn<QStringList>("results");
        QTest::newRow("every unit passes") << QString() << QStringList {"passed", "passed", "passed"};
        QTest::newRow("a unit that does not answer")
            << QStringLiteral("silence:shakehand") << QStringList {"passed", "failed", "passed"};
    }

    // Each unit is recorded with its slot and its serial; a faulty unit
    // fails on its own tile with its reason, the others pass exact.
    void unitsPluggedInOneAfterAnother()
    {
        QFETCH(QString, secondUnitFault);
        QFETCH(QStringList, results);
        bench units;
        QVERIFY(units.make(3));
        QString error;
        if (!secondUnitFault.isEmpty())
            QVERIFY2(units.units.at(1)->addFault(secondUnitFault, &error), qPrintable(error));
        stationWindow window;
        QVERIFY(openWindow(window, units.profile(QStringLiteral("start = on-connect\nserial = optional\n"))));
        for (int i = 0; i < 3; ++i) {
            window.tile(i)->serialField()->setText(QStringLiteral("SN-%1").arg(i + 1));
            QVERIFY(units.plugIn(i));
            QTRY_VERIFY_WITH_TIMEOUT(window.tile(i)->isBusy() || units.report().size() > i, kRunTimeoutMs);
        }
        QTRY_COMPARE_WITH_TIMEOUT(int(units.report().size()), 3, kRunTimeoutMs);

        QStringList recorded;
        for (const QJsonObject &line : units.report()) {
            const int slot = line.value("slot").toString().toInt();
            QCOMPARE(line.value("unit_serial").toString(), QStringLiteral("SN-%1").arg(slot));
            QCOMPARE(line.value("tool").toString(), QStringLiteral("ups-station"));
            recorded << QString::number(slot) + QLatin1Char(' ') + line.value("result").toString();
        }
        recorded.sort();
        QCOMPARE(recorded, (QStringList {"1 " + results.at(0), "2 " + results.at(1), "3 " + results.at(2)}));
        for (int i = 0; i < 3; ++i) {
            const bool passed = results.at(i) == QLatin1String("passed");
            QCOMPARE(window.tile(i)->stateText(), passed ? QStringLiteral("PASS") : QStringLiteral("FAIL"));
            if (passed)
                QVERIFY(units.holdsPackage(i));
            else
                QVERIFY2(window.tile(i)->detailText().startsWith(failureWords::what(failReason::HandshakeFailed)),
                         qPrintable(window.tile(i)->detailText()));
        }
        QVERIFY(window.totalsText().contains(secondUnitFault.isEmpty() ? "100.0%" : "66.7%"));
    }

    void requiredSerialGatesTheStart_data()
    {
        QTest::addColumn<QString>("start");
        QTest::newRow("started by Enter") << QStringLiteral("manual");
        QTest::newRow("started by its port") << QStringLiteral("on-connect");
    }

    // With its port there all along, a slot waits for the serial number.
    void requiredSerialGatesTheStart()
    {
        QFETCH(QString, start);
        bench units;
        QVERIFY(units.make(1));
        QVERIFY(units.plugIn(0));
        stationWindow window;
        QVERIFY(openWindow(window, units.profile("serial = required\nstart = " + start + "\n")));
        QLineEdit *serial = window.tile(0)->serialField();
        QTest::keyClick(serial, Qt::Key_Return);
        QTest::qWait(kSeveralPollsMs);
        QVERIFY(!window.tile(0)->isBusy());
        QVERIFY(units.report().isEmpty());

        QTest::keyClicks(serial, QStringLiteral("A1234"));
        QTest::keyClick(serial, Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(int(units.report().size()), 1, kRunTimeoutMs);
        QCOMPARE(units.report().first().value("unit_serial").toString(), QStringLiteral("A1234"));
        QCOMPARE(units.report().first().value("result").toString(), QStringLiteral("passed"));
    }

    // Closing asks first; the unit cut short is on record.
    void closedMidFlashIsRecordedInterrupted()
    {
        bench units;
        QVERIFY(units.make(1));
        QVERIFY(units.plugIn(0));
        stationWindow window;
        QVERIFY(openWindow(window, units.profile(QString())));
        QTRY_VERIFY_WITH_TIMEOUT(window.tile(0)->detailText().contains('%'), kRunTimeoutMs);
        modalAnswerer answerer;
        answerer.setButtonText(QStringLiteral("&Yes"));
        answerer.start();
        QVERIFY(window.close());
        QCOMPARE(int(answerer.boxes().size()), 1);
        QCOMPARE(int(units.report().size()), 1);
        QCOMPARE(units.report().first().value("result").toString(), QStringLiteral("interrupted"));
    }

    // Not a test: draws docs/station-en.png and docs/station-zh.png
    // (scripts/screenshot): a pass, a fail, a flash under way, a slot waiting.
    void screenshots_data()
    {
        QTest::addColumn<QString>("language");
        QTest::newRow("en") << QStringLiteral("en");
        QTest::newRow("zh") << QStringLiteral("zh");
    }

    void screenshots()
    {
        QFETCH(QString, language);
        const QString out = qEnvironmentVariable("UPS_SCREENSHOT_DIR");
        if (out.isEmpty())
            QSKIP("UPS_SCREENSHOT_DIR not set");
        QTranslator chinese;
        if (language == QLatin1String("zh"))
            QVERIFY(chinese.load(places::translationFile()) && QCoreApplication::installTranslator(&chinese));
        bench units;
        QVERIFY(units.make(4));
        QString error;
        QVERIFY(units.units.at(1)->addFault(QStringLiteral("silence:shakehand"), &error));
        units.units.at(2)->setLineRate(true);
        stationWindow window;
        QVERIFY(openWindow(window, units.profile(QStringLiteral("serial = optional\n"))));
        window.resize(1400, 820);
        for (int i = 0; i < 3; ++i) {
            window.tile(i)->serialField()->setText(QStringLiteral("UPS24-%1").arg(1041 + i));
            QVERIFY(units.plugIn(i));
            if (i < 2)
                QTRY_COMPARE_WITH_TIMEOUT(int(units.report().size()), i + 1, kRunTimeoutMs);
        }
        QTRY_VERIFY_WITH_TIMEOUT(window.tile(2)->percent() > 40 && window.tile(2)->isBusy(), kRunTimeoutMs);
        QVERIFY(window.grab().save(QDir(out).filePath(QStringLiteral("station-%1.png").arg(language))));
        QCoreApplication::removeTranslator(&chinese);
        modalAnswerer answerer;
        answerer.setButtonText(QStringLiteral("&Yes"));
        answerer.start();
        window.close();
    }
};

QTEST_MAIN(TestStationWindow)
#include "test_stationwindow.moc"
