// The update core as the window and the flasher use it: several cores side
// by side in one process, each with its own line and unit, the end of every
// job with its reason, and the dry run.
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include "support/testtime.h"
#include "tools/support/packagewriter.h"
#include "tools/unitsim/firstunit.h"
#include "tools/unitsim/secondunit.h"
#include "update/updatecore.h"
#include "update/common.h"
#include "model/modelregistry.h"
#include "util/modeltable.h"

namespace {

constexpr double kTimeScale = testTimeScale(0.05);
constexpr int kRunTimeoutMs = testWaitMs(20000);

// A flat image that carries what the model's boot loader looks for.
QByteArray flatImage(int model, int size, int seed)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * seed + i / 251) & 0xFF);
    if (model == 1) {
        const modelTable::secondImage *kind = modelTable::secondImageKind(0);
        bytes.replace(int(kind->signatureOffset), kind->signatureLength,
                      QByteArray(kind->signature, kind->signatureLength));
    }
    return bytes;
}

// One unit of a model on its own line, with its own core and package.
struct station
{
    explicit station(int model)
        : model(model)
    {
        if (model == 0)
            unit.reset(new firstUnit);
        else
            unit.reset(new secondUnit);
        QObject::connect(&core, &updateCore::logLine, &core, [this](const QString &l) { log << l; });
        QObject::connect(&core, &updateCore::warning, &core, [this](const QString &w) { warnings << w; });
        QObject::connect(&core, &updateCore::jobEnded, &core, [this](updateParm job, bool ok, int reason) {
            ends << QStringLiteral("%1:%2:%3").arg(job.row).arg(ok).arg(updateEngine::reasonCode(reason));
        });
    }

    // Lists a package holding one image and ticks it.
    bool listPackage(const QString &dir, const QByteArray &image)
    {
        const QString zipPath = dir + QStringLiteral("/unit_%1.zip").arg(modelRegistry::pathTag(model));
        const QString name = model == 0 ? QStringLiteral("arm.bin") : QStringLiteral("2U_20K_MONITOR.bin");
        packageWriter writer(zipPath);
        if (!writer.open() || !writer.addImage(name, image) || !writer.close())
            return false;
        core.package().extract(zipPath, zip::extractionDir(zipPath));
        return core.package().addChecked(0, name) && core.package().checkedFiles().size() == 1;
    }

    int model;
    updateCore core;
    std::unique_ptr<simulatedUnit> unit;
    QStringList log;
    QStringList warnings;
    QStringList ends;
};

} // namespace

class TestUpdateCore : public QObject
{
    Q_OBJECT

private slots:
    void init() { common::setTimeScale(kTimeScale); }
    void cleanup() { common::setTimeScale(1.0); }

    void coresSideBySide_data()
    {
        QTest::addColumn<QList<int>>("models");
        QTest::newRow("two first-board units") << QList<int> {0, 0};
        QTest::newRow("a first-board and a second-board unit") << QList<int> {0, 1};
    }

    // Each core talks to its own unit only, and each unit ends with exactly
    // the image its core sent.
    void coresSideBySide()
    {
        QFETCH(QList<int>, models);
        QTemporaryDir dir;
        std::vector<std::unique_ptr<station>> stations;
        QList<QByteArray> images;
        for (int i = 0; i < models.size(); ++i) {
            stations.emplace_back(new station(models.at(i)));
            station &s = *stations.back();
            QVERIFY(s.unit->open());
            const QString own = dir.filePath(QString::number(i));
            QVERIFY(QDir().mkpath(own));
            images << flatImage(s.model, s.model == 0 ? 0xB000 + 1500 : 0x4000 + 900, 7 + i);
            QVERIFY(s.listPackage(own, images.last()));
        }
        QSignalSpy first(&stations.at(0)->core, &updateCore::runEnded);
        QSignalSpy second(&stations.at(1)->core, &updateCore::runEnded);
        for (auto &s : stations)
            QVERIFY(s->core.start(s->unit->portName()));
        QVERIFY(first.count() > 0 || first.wait(kRunTimeoutMs));
        QVERIFY(second.count() > 0 || second.wait(kRunTimeoutMs));

        for (int i = 0; i < models.size(); ++i) {
            station &s = *stations.at(i);
            QCOMPARE((i == 0 ? first : second).first().first().toBool(), true);
            QCOMPARE(s.ends, QStringList {QStringLiteral("0:1:none")});
            QCOMPARE(s.log.count(QStringLiteral("update finished!")), 1);
            QVERIFY2(s.unit->flashedImage().startsWith(images.at(i)), qPrintable(s.unit->target()));
            QVERIFY2(s.unit->violations().isEmpty(), qPrintable(s.unit->violations().join('|')));
            QVERIFY(!s.core.isRunning());
        }
    }

    void jobEndReasons_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<QString>("port");  // "unit" for the unit's line
        QTest::addColumn<QString>("fault"); // for the unit, or "nosignature"
        QTest::addColumn<QString>("end");
        QTest::addColumn<QString>("warning");

        QTest::newRow("no port name") << 0 << ""
                                      << ""
                                      << "0:0:port-unavailable"
                                      << "no port";
        QTest::newRow("port that does not exist") << 1 << "/nonexistent/ttyUPS"
                                                  << ""
                                                  << "0:0:port-unavailable"
                                                  << "opening failed! /nonexistent/ttyUPS: No such file or directory";
        QTest::newRow("unit silent at shake hand") << 0 << "unit"
                                                   << "silence:shakehand"
                                                   << "0:0:handshake-failed"
                                                   << "";
        QTest::newRow("second-board image without its signature") << 1 << "unit"
                                                                  << "nosignature"
                                                                  << "0:0:image-rejected"
                                                                  << "";
    }

    // A failed job ends with its reason code, the run ends failed, and the
    // transport's warning comes out as a signal, never as a box.
    void jobEndReasons()
    {
        QFETCH(int, model);
        QFETCH(QString, port);
        QFETCH(QString, fault);
        QFETCH(QString, end);
        QFETCH(QString, warning);

        QTemporaryDir dir;
        station s(model);
        QVERIFY(s.unit->open());
        if (!fault.isEmpty() && fault != QLatin1String("nosignature"))
            QVERIFY(s.unit->addFault(fault));
        QByteArray image = flatImage(model, 0xB000 + 1500, 3);
        if (fault == QLatin1String("nosignature"))
            image.fill('\x5A');
        QVERIFY(s.listPackage(dir.path(), image));
        QSignalSpy ended(&s.core, &updateCore::runEnded);
        QVERIFY(s.core.start(port == QLatin1String("unit") ? s.unit->portName() : port));
        QVERIFY(ended.count() > 0 || ended.wait(kRunTimeoutMs));
        QCOMPARE(ended.first().first().toBool(), false);
        QCOMPARE(s.ends, QStringList {end});
        QCOMPARE(s.warnings, warning.isEmpty() ? QStringList() : QStringList {warning});
        QVERIFY(s.log.last().endsWith(QStringLiteral("updating failed!")));
    }

    // The dry run checks each job as its engine would and opens no port.
    void dryRunOpensNoPort()
    {
        QTemporaryDir dir;
        station s(1);
        QVERIFY(s.unit->open());
        QVERIFY(s.listPackage(dir.path(), flatImage(1, 0x4000 + 900, 5)));
        QSignalSpy ended(&s.core, &updateCore::runEnded);
        QSignalSpy started(&s.core, &updateCore::jobStarted);
        QVERIFY(s.core.startDryRun());
        QVERIFY(ended.count() > 0 || ended.wait(kRunTimeoutMs));
        QCOMPARE(ended.first().first().toBool(), true);
        QCOMPARE(started.count(), 1);
        QCOMPARE(s.ends, QStringList {QStringLiteral("0:1:none")});
        QVERIFY(!s.core.line().isOpen());
        QVERIFY(s.unit->frames().isEmpty());
        QVERIFY(!s.log.join('\n').contains(QStringLiteral("updating success!")));
        QVERIFY(!s.log.contains(QStringLiteral("update finished!")));
    }
};

QTEST_GUILESS_MAIN(TestUpdateCore)
#include "test_updatecore.moc"
