// The three programs run as processes, as a script or a production line
// would run them: flashing through the real serial code into simulated
// units, exit statuses, the dry run and the package builder.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

#include "package/zip.h"
#include "tools/support/packagewriter.h"
#include "tools/unitsim/ptyline.h"
#include "support/testfiles.h"
#include "support/testtime.h"

namespace {

const QString kScale = QString::number(testTimeScale(0.01));
constexpr int kRunTimeoutMs = 60000;

QString program(const char *name)
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(name);
}

struct runResult
{
    int status = -1;
    QString out;
    QString err;
};

runResult run(const char *name, const QStringList &args)
{
    QProcess p;
    p.start(program(name), args);
    runResult r;
    if (!p.waitForFinished(kRunTimeoutMs)) {
        p.kill();
        p.waitForFinished();
        r.err = QStringLiteral("timed out");
        return r;
    }
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return r;
}

// A flashed image is exact when it is the expected image followed by
// nothing but the 0xFF fill of the last block or frame.
bool sameImage(const QByteArray &flashed, const QByteArray &expected)
{
    if (expected.isEmpty() || flashed.size() < expected.size() || !flashed.startsWith(expected))
        return false;
    for (int i = expected.size(); i < flashed.size(); ++i) {
        if (quint8(flashed.at(i)) != 0xFF)
            return false;
    }
    return true;
}

// A simulated unit program serving in the background for one test.
class simProcess
{
public:
    bool start(int model, const QString &dir, const QStringList &faults)
    {
        link = dir + QStringLiteral("/tty%1").arg(model);
        QStringList args {
            QStringLiteral("--model"),    QString::number(model),           QStringLiteral("--link"),       link,
            QStringLiteral("--save-dir"), dir + QStringLiteral("/flashed"), QStringLiteral("--time-scale"), kScale};
        for (const QString &f : faults)
            args << QStringLiteral("--fault") << f;
        process.start(program("ups-unit-sim"), args);
        return process.waitForReadyRead(10000) && process.canReadLine() && process.readLine().startsWith("/dev/");
    }
    ~simProcess()
    {
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
        process.waitForFinished();
    }
    QString link;
    QProcess process;
};

} // namespace

class TestPrograms : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir samples;

    QString samplePackage(int model) const
    {
        return samples.filePath(model == 0 ? QStringLiteral("ups_5-10k.zip") : QStringLiteral("ups_15-20k.zip"));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(samples.isValid());
        const runResult r = run("ups-pack", {QStringLiteral("--make-sample"), samples.path()});
        QCOMPARE(r.status, 0);
    }

    void flashSamplePackage_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<QStringList>("saved");    // what the unit saved, in job order
        QTest::addColumn<QStringList>("expected"); // the flat images they must equal
        QTest::addColumn<QStringList>("faults");
        QTest::newRow("model 0: monitor image and translated main object file")
            << 0 << QStringList {"arm.bin", "dsp.bin"} << QStringList {"arm.bin", "dsp.bin"} << QStringList();
        QTest::newRow("model 1: monitor, inverter and rectifier, two translated")
            << 1 << QStringList {"monitor.bin", "inv.bin", "rec.bin"}
            << QStringList {"2U_20K_MONITOR.bin", "Inv_power33.bin", "Rec_power33.bin"} << QStringList();
        QTest::newRow("model 0: replies byte by byte and a lost block reply")
            << 0 << QStringList {"arm.bin", "dsp.bin"} << QStringList {"arm.bin", "dsp.bin"}
            << QStringList {"drip", "silence:write@3"};
        QTest::newRow("model 1: replies split and noise before a data reply")
            << 1 << QStringList {"monitor.bin", "inv.bin", "rec.bin"}
            << QStringList {"2U_20K_MONITOR.bin", "Inv_power33.bin", "Rec_power33.bin"}
            << QStringList {"split", "garbage:data@7"};
    }

    void flashSamplePackage()
    {
        QFETCH(int, model);
        QFETCH(QStringList, saved);
        QFETCH(QStringList, expected);
        QFETCH(QStringList, faults);
        QTemporaryDir work;
        QVERIFY(QFile::copy(samplePackage(model), work.filePath(QFileInfo(samplePackage(model)).fileName())));
        simProcess sim;
        QVERIFY(sim.start(model, work.path(), faults));

        const runResult r = run("ups-flash",
                                {QStringLiteral("--port"), sim.link, QStringLiteral("--time-scale"), kScale,
                                 work.filePath(QFileInfo(samplePackage(model)).fileName())});
        QVERIFY2(r.status == 0, qPrintable(r.out + r.err));
        QVERIFY(r.out.trimmed().endsWith(QStringLiteral("update finished!")));
        QVERIFY2(r.err.contains(QStringLiteral("100% (")), qPrintable(r.err)); // plain progress lines
        for (int i = 0; i < saved.size(); ++i) {
            const QByteArray flashed = testFiles::read(work.filePath(QStringLiteral("flashed/") + saved.at(i)));
            const QByteArray want = testFiles::read(samples.filePath(QStringLiteral("expected/") + expected.at(i)));
            QVERIFY2(sameImage(flashed, want), qPrintable(saved.at(i)));
        }
    }

    void exitStatus_data()
    {
        QTest::addColumn<int>("unitModel"); // -1: no unit
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<QString>("package"); // sample, none, empty, garbage, badtrailer
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        QTest::newRow("job failure: silent unit at shake hand")
            << 0 << QStringList {"silence:shakehand"} << "sample" << QStringList() << 1 << "shake hand failed!";
        QTest::newRow("job failure: unit stops answering data frames")
            << 1 << QStringList {"silence:data"} << "sample" << QStringList() << 1 << "updating failed!";
        QTest::newRow("job failure: port does not exist")
            << -1 << QStringList() << "sample" << QStringList {"--port", "/nonexistent/ttyUPS"} << 1
            << "warn: opening failed!";
        QTest::newRow("no image: package without images")
            << -1 << QStringList() << "empty" << QStringList {"--port", "/dev/null"} << 2 << "no image to send";
        QTest::newRow("no image: --only matches nothing")
            << -1 << QStringList() << "sample" << QStringList {"--port", "/dev/null", "--only", "nothing"} << 2
            << "matches nothing";
        QTest::newRow("unreadable package: not a zip")
            << -1 << QStringList() << "garbage" << QStringList {"--port", "/dev/null"} << 2
            << "cannot read the package";
        QTest::newRow("unreadable package: image fails its digest check")
            << -1 << QStringList() << "badtrailer" << QStringList {"--port", "/dev/null"} << 2
            << "cannot be sent: its digest check failed";
        QTest::newRow("usage: no port") << -1 << QStringList() << "sample" << QStringList() << 2 << "--port";
        QTest::newRow("usage: no package")
            << -1 << QStringList() << "none" << QStringList {"--port", "/dev/null"} << 2 << "exactly one package";
        QTest::newRow("usage: bad time scale")
            << -1 << QStringList() << "sample" << QStringList {"--port", "/dev/null", "--time-scale", "0"} << 2
            << "--time-scale";
        const auto badScale = [](const char *name, const char *scale) {
            QTest::newRow(name) << -1 << QStringList() << "sample"
                                << QStringList {"--port", "/dev/null", "--time-scale", scale} << 2
                                << "above 0 and at most 100";
        };
        badScale("usage: time scale not a number", "nan");
        badScale("usage: time scale infinite", "inf");
        badScale("usage: time scale zero", "0");
        badScale("usage: time scale negative", "-1");
        badScale("usage: time scale above 100", "100.5");
        QTest::newRow("accepted: time scale at the bound 100")
            << -1 << QStringList() << "sample" << QStringList {"--dry-run", "--time-scale", "100"} << 0
            << "dry run: nothing was sent";
    }

    void exitStatus()
    {
        QFETCH(int, unitModel);
        QFETCH(QStringList, faults);
        QFETCH(QString, package);
        QFETCH(QStringList, extra);
        QFETCH(int, status);
        QFETCH(QString, said);
        QTemporaryDir work;
        const int model = unitModel < 0 ? 0 : unitModel;
        const QString path = work.filePath(model == 0 ? "pkg_5-10k.zip" : "pkg_15-20k.zip");
        if (package == QLatin1String("sample")) {
            QVERIFY(QFile::copy(samplePackage(model), path));
        } else if (package == QLatin1String("empty")) {
            packageWriter w(path);
            QVERIFY(w.open() && w.addImage("readme.txt", "no firmware here") && w.close());
        } else if (package == QLatin1String("garbage")) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write("PK this is not an archive") > 0);
        } else if (package == QLatin1String("badtrailer")) {
            packageWriter w(path);
            QVERIFY(w.open() && w.addImage("arm.bin", QByteArray(0xB100, 'a'), true) && w.close());
        }
        simProcess sim;
        if (unitModel >= 0) {
            QVERIFY(sim.start(unitModel, work.path(), faults));
            extra << QStringLiteral("--port") << sim.link;
        }
        QStringList args = extra;
        if (!args.contains(QStringLiteral("--time-scale")))
            args << QStringLiteral("--time-scale") << kScale;
        if (package != QLatin1String("none"))
            args << path;
        QElapsedTimer clock;
        clock.start();
        const runResult r = run("ups-flash", args);
        QVERIFY2(r.status == status, qPrintable(QString::number(r.status) + r.out + r.err));
        QVERIFY2((r.out + r.err).contains(said), qPrintable(r.out + r.err));
        QVERIFY(clock.elapsed() < 30000); // ends at the failing step, not after a long wait
    }

    // A unit that never answers the start command keeps the second engine
    // waiting for good; Ctrl-C must end the run cleanly and say so.
    void interruptEndsCleanly_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("Ctrl-C") << int(SIGINT);
        QTest::newRow("terminate") << int(SIGTERM);
    }

    void interruptEndsCleanly()
    {
        QFETCH(int, signalNumber);
        QTemporaryDir work;
        const QString path = work.filePath(QStringLiteral("pkg_15-20k.zip"));
        QVERIFY(QFile::copy(samplePackage(1), path));
        simProcess sim;
        QVERIFY(sim.start(1, work.path(), {QStringLiteral("silence:start")}));
        QProcess flash;
        flash.start(program("ups-flash"), {"--port", sim.link, "--time-scale", kScale, path});
        QVERIFY(flash.waitForReadyRead(10000));
        QTest::qWait(200);
        QVERIFY(::kill(pid_t(flash.processId()), signalNumber) == 0);
        QVERIFY(flash.waitForFinished(10000));
        QCOMPARE(flash.exitStatus(), QProcess::NormalExit);
        QCOMPARE(flash.exitCode(), 130);
        QVERIFY(QString::fromUtf8(flash.readAllStandardError()).contains(QStringLiteral("boot loader")));
    }

    void dryRunOpensNoPort_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<int>("images");
        QTest::newRow("model 0 package") << 0 << 2;
        QTest::newRow("model 1 package") << 1 << 3;
    }

    void dryRunOpensNoPort()
    {
        QFETCH(int, model);
        QFETCH(int, images);
        ptyLine line;
        QVERIFY(line.open());
        const int baudBefore = line.baud();
        QByteArray seen;
        connect(&line, &ptyLine::received, this, [&](const QByteArray &b) { seen += b; });
        QTemporaryDir work;
        const QString path = work.filePath(QFileInfo(samplePackage(model)).fileName());
        QVERIFY(QFile::copy(samplePackage(model), path));

        const runResult r = run("ups-flash", {"--dry-run", "--port", line.slavePath(), path});
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out.count(QStringLiteral("would send ")), images);
        QVERIFY(!r.out.contains(QStringLiteral("updating success!")));
        QVERIFY(!r.err.contains(QStringLiteral("warn:")));
        QTest::qWait(100);
        QVERIFY(seen.isEmpty());
        QCOMPARE(line.baud(), baudBefore);
    }

    void packRoundTrip_data()
    {
        QTest::addColumn<QString>("packageName");
        QTest::addColumn<QStringList>("members");
        QTest::addColumn<QString>("damage"); // none, trailer, crc
        QTest::addColumn<int>("verifyStatus");
        QTest::addColumn<QString>("warning");
        QTest::newRow("good: model 0 names")
            << "fw_5-10k.zip" << QStringList {"arm.bin", "dsp.out"} << "none" << 0 << QString();
        QTest::newRow("good: model 1 names")
            << "fw_15-20k.zip" << QStringList {"2U_20K_MONITOR.bin", "Rec_power33.out"} << "none" << 0 << QString();
        QTest::newRow("warning: path names no model")
            << "firmware.zip" << QStringList {"arm.bin"} << "none" << 0 << "names neither model";
        QTest::newRow("warning: foreign image name")
            << "fw_5-10k.zip" << QStringList {"Inv_power33.out"} << "none" << 0 << "not an image name";
        QTest::newRow("bad: trailer altered")
            << "fw_5-10k.zip" << QStringList {"arm.bin", "dsp.out"} << "trailer" << 1 << QString();
        QTest::newRow("bad: member damaged")
            << "fw_5-10k.zip" << QStringList {"arm.bin", "dsp.out"} << "crc" << 1 << QString();
    }

    void packRoundTrip()
    {
        QFETCH(QString, packageName);
        QFETCH(QStringList, members);
        QFETCH(QString, damage);
        QFETCH(int, verifyStatus);
        QFETCH(QString, warning);
        QTemporaryDir work;
        QStringList paths;
        QHash<QString, QByteArray> payloads;
        for (int i = 0; i < members.size(); ++i) {
            const QByteArray content = QByteArray::number(i) + QByteArray(5000 + 77 * i, char('a' + i));
            payloads.insert(members.at(i), content);
            paths << work.filePath(QStringLiteral("in/") + members.at(i));
            QVERIFY(QDir().mkpath(work.filePath("in")));
            QVERIFY(testFiles::write(paths.last(), content));
        }
        const QString out = work.filePath(packageName);
        const runResult built = run("ups-pack", QStringList {out} + paths);
        QCOMPARE(built.status, 0);
        QCOMPARE(built.err.contains(QStringLiteral("warning:")), !warning.isEmpty());
        if (!warning.isEmpty())
            QVERIFY(built.err.contains(warning));
        if (damage == QLatin1String("crc"))
            QVERIFY(packageWriter::damageCrc(out, members.first()));
        if (damage == QLatin1String("trailer")) {
            packageWriter w(out);
            QVERIFY(w.open() && w.addImage(members.first(), payloads.value(members.first()), true)
                    && w.addImage(members.last(), payloads.value(members.last())) && w.close());
        }
        const runResult verified = run("ups-pack", {"--verify", out});
        QCOMPARE(verified.status, verifyStatus);
        QCOMPARE(verified.out.count(QStringLiteral(": good")), members.size() - (verifyStatus ? 1 : 0));
        if (verifyStatus != 0 || !warning.isEmpty())
            return;
        // The window's package reader gets back exactly what went in.
        zip reader;
        const QString dir = out.left(out.indexOf(QLatin1String(".zip")));
        reader.extract(out, dir);
        for (const QString &name : members)
            QCOMPARE(testFiles::read(dir + QLatin1Char('/') + name), payloads.value(name));
    }

    void unitSimRejectsBadTimeScale_data()
    {
        QTest::addColumn<QString>("scale");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("usage: not a number") << "nan" << false;
        QTest::newRow("usage: infinite") << "inf" << false;
        QTest::newRow("usage: zero") << "0" << false;
        QTest::newRow("usage: negative") << "-1" << false;
        QTest::newRow("usage: above 100") << "100.5" << false;
        QTest::newRow("accepted: the bound 100") << "100" << true;
    }

    void unitSimRejectsBadTimeScale()
    {
        QFETCH(QString, scale);
        QFETCH(bool, accepted);
        QProcess sim;
        sim.start(program("ups-unit-sim"), {"--model", "0", "--time-scale", scale});
        if (accepted) {
            QVERIFY(sim.waitForReadyRead(10000));
            QVERIFY(sim.readLine().startsWith("/dev/"));
            sim.terminate();
            QVERIFY(sim.waitForFinished(5000));
            return;
        }
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitCode(), 2);
        QVERIFY(sim.readAllStandardError().contains("above 0 and at most 100"));
    }

    // Whole runs into a simulated unit for packages that once sent an image
    // to the wrong processor or a package with a bad image to the unit:
    // every image reaches its own processor, or nothing is sent at all.
    void flashOddPackage_data()
    {
        QTest::addColumn<QString>("packageName");
        QTest::addColumn<QStringList>("members"); // sample images by name; "NAME=crc" damages it
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("refused"); // the image named on stderr, if any
        QTest::addColumn<int>("problem");
        QTest::newRow("wrong processor: image name in the package name")
            << "arm.bin_5-10k.zip" << QStringList {"arm.bin", "dsp.out"} << 0 << QString() << int(zip::NoProblem);
        QTest::newRow("nothing sent: damaged member")
            << "pkg_5-10k.zip" << QStringList {"arm.bin=crc", "dsp.out"} << 2 << "arm.bin" << int(zip::Damaged);
        QTest::newRow("nothing sent: duplicate image")
            << "pkg_5-10k.zip" << QStringList {"arm.bin", "dsp.out", "arm.bin"} << 2 << "arm.bin"
            << int(zip::Ambiguous);
    }

    void flashOddPackage()
    {
        QFETCH(QString, packageName);
        QFETCH(QStringList, members);
        QFETCH(int, status);
        QFETCH(QString, refused);
        QFETCH(int, problem);
        QTemporaryDir work;
        const QString path = work.filePath(packageName);
        packageWriter writer(path);
        QVERIFY(writer.open());
        for (const QString &member : members) {
            const QString name = member.section(QLatin1Char('='), 0, 0);
            QVERIFY(writer.addImage(name, testFiles::read(samples.filePath(QStringLiteral("images/") + name))));
        }
        QVERIFY(writer.close());
        for (const QString &member : members) {
            if (member.endsWith(QLatin1String("=crc")))
                QVERIFY(packageWriter::damageCrc(path, member.section(QLatin1Char('='), 0, 0)));
        }
        simProcess sim;
        QVERIFY(sim.start(0, work.path(), {}));

        const runResult r =
            run("ups-flash", {QStringLiteral("--port"), sim.link, QStringLiteral("--time-scale"), kScale, path});
        QVERIFY2(r.status == status, qPrintable(QString::number(r.status) + r.out + r.err));
        if (status == 0) {
            // The unit saves each image under the processor that took it.
            QVERIFY2(sameImage(testFiles::read(work.filePath(QStringLiteral("flashed/arm.bin"))),
                               testFiles::read(samples.filePath(QStringLiteral("expected/arm.bin")))),
                     "the ARM processor got another image");
            QVERIFY2(sameImage(testFiles::read(work.filePath(QStringLiteral("flashed/dsp.bin"))),
                               testFiles::read(samples.filePath(QStringLiteral("expected/dsp.bin")))),
                     "the DSP got another image");
            return;
        }
        const QString line =
            QStringLiteral("%1 cannot be sent: %2").arg(refused, zip::problemText(zip::ImageProblem(problem)));
        QVERIFY2(r.err.contains(line), qPrintable(r.err));
        sim.process.waitForReadyRead(testWaitMs(200)); // a job line would be there by now
        const QString unitSaid = QString::fromUtf8(sim.process.readAllStandardOutput());
        QVERIFY2(!unitSaid.contains(QStringLiteral("job ")), qPrintable(unitSaid));
        QVERIFY(QDir(work.filePath(QStringLiteral("flashed"))).entryList(QDir::Files).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestPrograms)
#include "test_programs.moc"
