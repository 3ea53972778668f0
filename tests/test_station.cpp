// ups-flash as a production station: several simulated units at once, the
// record of every attempt, retries, waiting for a port, the station loop and
// an interrupt. Every event and report line is checked against the schema
// as documented, so the document and the program cannot drift apart.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>

#include <csignal>
#include <functional>

#include "package/packagesignature.h"
#include "tools/support/packagewriter.h"
#include "support/programs.h"
#include "support/testfiles.h"
#include "support/testtime.h"

namespace {

const QString kScale = QString::number(testTimeScale(0.01));
constexpr int kRunTimeoutMs = 60000;

// The documented fields and their types: per event, for every event, for a
// report line and for an image object of a report line.
struct schemaDoc
{
    QHash<QString, QString> common;
    QHash<QString, QHash<QString, QString>> events;
    QHash<QString, QString> report;
    QHash<QString, QString> image;

    bool load(const QString &path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return false;
        static const QRegularExpression row(QStringLiteral("^\\| `([a-z0-9_]+)` \\| ([a-z ]+) \\|"));
        static const QRegularExpression event(QStringLiteral("^### `([a-z-]+)`"));
        QHash<QString, QString> *table = nullptr;
        for (const QString &line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
            const QRegularExpressionMatch e = event.match(line);
            if (line.startsWith(QLatin1String("## Fields of every event")))
                table = &common;
            else if (e.hasMatch())
                table = &events[e.captured(1)];
            else if (line.startsWith(QLatin1String("## Report line")))
                table = &report;
            else if (line.startsWith(QLatin1String("### Image object")))
                table = &image;
            const QRegularExpressionMatch r = row.match(line);
            if (table && r.hasMatch())
                table->insert(r.captured(1), r.captured(2).trimmed());
        }
        return !common.isEmpty() && events.size() >= 8 && !report.isEmpty() && !image.isEmpty();
    }
};

bool hasType(const QJsonValue &value, const QString &type)
{
    if (type == QLatin1String("string or null"))
        return value.isString() || value.isNull();
    if (type == QLatin1String("integer"))
        return value.isDouble() && value.toDouble() == double(qint64(value.toDouble()));
    if (type == QLatin1String("number"))
        return value.isDouble();
    if (type == QLatin1String("string"))
        return value.isString();
    if (type == QLatin1String("boolean"))
        return value.isBool();
    if (type == QLatin1String("boolean or null"))
        return value.isBool() || value.isNull();
    if (type == QLatin1String("array"))
        return value.isArray();
    return false;
}

// Empty when the object has exactly the fields, each of its type.
QString schemaProblem(const QJsonObject &object, const QHash<QString, QString> &fields)
{
    static const QRegularExpression utcMs(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$"));
    QStringList keys = object.keys();
    QStringList documented = fields.keys();
    keys.sort();
    documented.sort();
    if (keys != documented)
        return QStringLiteral("fields %1, documented %2").arg(keys.join(','), documented.join(','));
    for (const QString &key : keys) {
        if (!hasType(object.value(key), fields.value(key)))
            return QStringLiteral("%1 is not %2").arg(key, fields.value(key));
        if ((key == "time" || key == "start" || key == "end") && !utcMs.match(object.value(key).toString()).hasMatch())
            return QStringLiteral("%1 is no UTC time in ms").arg(key);
    }
    return QString();
}

QList<QJsonObject> jsonLines(const QString &text)
{
    QList<QJsonObject> objects;
    for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        objects << QJsonDocument::fromJson(line.toUtf8()).object();
    return objects;
}

// The simulated units of one test, in one process, and the ports the
// flasher uses to reach them: links the test makes and removes, so that a
// port can vanish and come back as an adapter would.
struct unitBench
{
    QString dir;
    int count = 1;
    QProcess sim;
    QStringList devices;

    // EXTRA: more options of the simulator (--running).
    bool start(const QString &home, int units, const QStringList &faults, int model = 0,
               const QStringList &extra = QStringList())
    {
        dir = home;
        count = units;
        QStringList args {"--model",    QString::number(model), "--count",      QString::number(units),
                          "--save-dir", dir + "/flashed",       "--time-scale", kScale};
        args << extra;
        for (const QString &fault : faults)
            args << "--fault" << fault;
        sim.start(testPrograms::path("ups-unit-sim"), args);
        QElapsedTimer clock;
        clock.start();
        while (devices.size() < units && clock.elapsed() < 10000) {
            sim.waitForReadyRead(100);
            while (sim.canReadLine())
                devices << QString::fromUtf8(sim.readLine()).trimmed();
        }
        return devices.size() == units;
    }
    ~unitBench()
    {
        sim.terminate();
        if (!sim.waitForFinished(5000))
            sim.kill();
        sim.waitForFinished();
    }
    QString port(int unit) const { return dir + QStringLiteral("/port%1").arg(unit); }
    bool plug(int unit) { return QFile::link(devices.value(unit - 1), port(unit)); }
    bool unplug(int unit) { return QFile::remove(port(unit)); }
    QString flashed(int unit, const QString &name) const
    {
        return count == 1 ? dir + "/flashed/" + name : dir + QStringLiteral("/flashed/%1/").arg(unit) + name;
    }
    QByteArray said()
    {
        sim.waitForReadyRead(50);
        return sim.readAllStandardOutput();
    }
};

// Reads the flasher's events until one matches, or the time is up.
bool awaitEvent(QProcess &flash, QString &out, const std::function<bool(const QJsonObject &)> &wanted)
{
    QElapsedTimer clock;
    clock.start();
    int seen = 0;
    while (clock.elapsed() < kRunTimeoutMs) {
        out += QString::fromUtf8(flash.readAllStandardOutput());
        const QList<QJsonObject> events = jsonLines(out.left(out.lastIndexOf('\n') + 1));
        for (; seen < events.size(); ++seen) {
            if (wanted(events.at(seen)))
                return true;
        }
        if (flash.state() == QProcess::NotRunning)
            return false;
        flash.waitForReadyRead(100);
    }
    return false;
}

bool isUnitEnd(const QJsonObject &event, int unit)
{
    return event.value("event") == "unit-end" && event.value("unit").toInt() == unit;
}

} // namespace

class TestStation : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir samples;
    schemaDoc schema;

    QString package(const QString &dir, int model = 0) const
    {
        const QString name = model == 0 ? QStringLiteral("ups_5-10k.zip") : QStringLiteral("ups_15-20k.zip");
        const QString copy = dir + QLatin1Char('/') + name;
        QFile::copy(samples.filePath(name), copy);
        return copy;
    }

    // Runs the flasher to its end; its events, checked, go to `events`.
    int flash(const QStringList &args, QList<QJsonObject> &events, QString *err = nullptr)
    {
        QProcess p;
        p.start(testPrograms::path("ups-flash"), QStringList {"--json", "--time-scale", kScale} + args);
        if (!p.waitForFinished(kRunTimeoutMs)) {
            p.kill();
            p.waitForFinished();
            return -1;
        }
        events = jsonLines(QString::fromUtf8(p.readAllStandardOutput()));
        if (err)
            *err = QString::fromUtf8(p.readAllStandardError());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

    void verifyEvents(const QList<QJsonObject> &events, int status)
    {
        QVERIFY(!events.isEmpty());
        QCOMPARE(events.first().value("event").toString(), QStringLiteral("run-start"));
        QCOMPARE(events.last().value("event").toString(), QStringLiteral("run-end"));
        QCOMPARE(events.last().value("status").toInt(), status);
        for (const QJsonObject &event : events) {
            const QString name = event.value("event").toString();
            QVERIFY2(schema.events.contains(name), qPrintable(name));
            QHash<QString, QString> fields = schema.common;
            fields.insert(schema.events.value(name));
            const QString problem = schemaProblem(event, fields);
            QVERIFY2(problem.isEmpty(), qPrintable(name + ": " + problem));
            QCOMPARE(event.value("schema").toInt(), 1);
        }
    }

    // The report's lines, each checked; with its images.
    QList<QJsonObject> readReport(const QString &path)
    {
        const QList<QJsonObject> lines = jsonLines(QString::fromUtf8(testFiles::read(path)));
        for (const QJsonObject &line : lines) {
            const QString problem = schemaProblem(line, schema.report);
            if (!problem.isEmpty())
                qWarning("report line: %s", qPrintable(problem));
            for (const QJsonValue &image : line.value("images").toArray()) {
                if (!schemaProblem(image.toObject(), schema.image).isEmpty())
                    return {};
            }
            if (!problem.isEmpty())
                return {};
        }
        return lines;
    }

    // "PORT:ATTEMPT:RESULT:REASON:IMAGES" for each line, PORT as numbered.
    static QStringList summarise(const QList<QJsonObject> &lines)
    {
        QStringList rows;
        for (const QJsonObject &line : lines) {
            QStringList images;
            for (const QJsonValue &image : line.value("images").toArray())
                images << image.toObject().value("name").toString();
            const int port = line.value("port").toString().right(1).toInt();
            rows << QStringLiteral("%1:%2:%3:%4:%5")
                        .arg(port)
                        .arg(line.value("attempt").toInt())
                        .arg(line.value("result").toString(), line.value("reason").toString(), images.join(' '));
        }
        rows.sort();
        return rows;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(samples.isValid());
        QVERIFY(schema.load(QStringLiteral(UPS_EVENTS_DOC)));
        QProcess pack;
        pack.start(testPrograms::path("ups-pack"), {"--make-sample", samples.path()});
        QVERIFY(pack.waitForFinished(kRunTimeoutMs) && pack.exitCode() == 0);
    }

    // Units at once with faults: who passes, who is retried from where,
    // the records, and exact images in every unit that passed.
    void unitsAndRetries_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<int>("retries");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("records"); // PORT:ATTEMPT:RESULT:REASON:IMAGES, sorted
        const QString both = "arm.bin dsp.out";
        QTest::newRow("three units, one failing: the others exact")
            << 3 << QStringList {"2/silence:shakehand"} << 0 << 1
            << QStringList {"1:1:passed::" + both, "2:1:failed:handshake-failed:" + both, "3:1:passed::" + both};
        QTest::newRow("a retry turns a failure into a pass")
            << 1 << QStringList {"silence:verify@1"} << 1 << 0
            << QStringList {"1:1:failed:verify-failed:" + both, "1:2:passed::" + both};
        QTest::newRow("a retry starts at the image that failed")
            << 2 << QStringList {"1/silence:jump@2"} << 1 << 0
            << QStringList {"1:1:failed:jump-failed:" + both, "1:2:passed::dsp.out", "2:1:passed::" + both};
        QTest::newRow("retries run out") << 1 << QStringList {"silence:shakehand"} << 2 << 1
                                         << QStringList {"1:1:failed:handshake-failed:" + both,
                                                         "1:2:failed:handshake-failed:" + both,
                                                         "1:3:failed:handshake-failed:" + both};
    }

    void unitsAndRetries()
    {
        QFETCH(int, count);
        QFETCH(QStringList, faults);
        QFETCH(int, retries);
        QFETCH(int, status);
        QFETCH(QStringList, records);
        QTemporaryDir work;
        unitBench units;
        QVERIFY(units.start(work.path(), count, faults));
        QStringList args {"--retries", QString::number(retries), "--report", work.filePath("report.jsonl"), "--station",
                          "line 3",    package(work.path())};
        for (int unit = 1; unit <= count; ++unit) {
            QVERIFY(units.plug(unit));
            args << "--port" << units.port(unit);
        }
        QList<QJsonObject> events;
        QCOMPARE(flash(args, events), status);
        verifyEvents(events, status);

        const QList<QJsonObject> report = readReport(work.filePath("report.jsonl"));
        QCOMPARE(summarise(report), records);
        int unitEnds = 0;
        for (const QJsonObject &event : events)
            unitEnds += event.value("event") == "unit-end" ? 1 : 0;
        QCOMPARE(unitEnds, records.size());
        for (const QJsonObject &line : report) {
            QCOMPARE(line.value("station").toString(), QStringLiteral("line 3"));
            QCOMPARE(line.value("package_sha256").toString(),
                     QString(QCryptographicHash::hash(testFiles::read(work.filePath("ups_5-10k.zip")),
                                                      QCryptographicHash::Sha256)
                                 .toHex()));
        }
        // A unit whose last record passed holds exactly the package's images,
        // and each record names the digest of the flat image it was sent.
        for (int unit = 1; unit <= count; ++unit) {
            const bool passed =
                records.filter(QRegularExpression(QStringLiteral("^%1:.*:passed:").arg(unit))).size() == 1;
            for (const QString name : {"arm.bin", "dsp.bin"}) {
                const QByteArray expected = testFiles::read(samples.filePath("expected/" + QString(name)));
                QCOMPARE(testPrograms::sameImage(testFiles::read(units.flashed(unit, name)), expected), passed);
            }
        }
        for (const QJsonObject &line : report) {
            for (const QJsonValue &value : line.value("images").toArray()) {
                const QJsonObject image = value.toObject();
                if (image.value("result") != "passed")
                    continue;
                const QString flat = image.value("name").toString().replace(".out", ".bin");
                QCOMPARE(image.value("sha256").toString(),
                         QString(QCryptographicHash::hash(testFiles::read(samples.filePath("expected/" + flat)),
                                                          QCryptographicHash::Sha256)
                                     .toHex()));
            }
        }
    }

    // A unit that refuses, ignores or garbles a step for ever, or a package
    // of the other model: each attempt ends within its bound, the run exits
    // 1, and the retry gives a second report line that ends the same way.
    void everyRunEnds_data()
    {
        QTest::addColumn<int>("unitModel");
        QTest::addColumn<int>("packageModel");
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("lastLine");
        const QString noAnswer = "the unit does not answer: check the port, the cable, the power and that the "
                                 "package is for this unit's model";
        QTest::newRow("first board: erase refused for ever")
            << 0 << 0 << QStringList {"nak:erase"} << "erase-failed"
            << "arm.bin: stopped at the erase: the unit refuses it: check that the package is for this unit's model "
               "and processor";
        QTest::newRow("first board: unknown frame after every erase")
            << 0 << 0 << QStringList {"unknown:erase"} << "transfer-failed"
            << "arm.bin: stopped at the flash write: the unit's replies make no sense here: check the cable and that "
               "the package is for this unit's model";
        QTest::newRow("second board: start command unanswered for ever")
            << 1 << 1 << QStringList {"silence:start"} << "handshake-failed"
            << "2U_20K_MONITOR.bin: stopped at the start command: " + noAnswer;
        QTest::newRow("second board: file size unanswered for ever")
            << 1 << 1 << QStringList {"silence:filesize"} << "handshake-failed"
            << "2U_20K_MONITOR.bin: stopped at the file-size command: " + noAnswer;
        QTest::newRow("model-1 package to a model-0 unit")
            << 0 << 1 << QStringList() << "handshake-failed"
            << "2U_20K_MONITOR.bin: stopped at the start command: " + noAnswer;
        QTest::newRow("model-0 package to a model-1 unit") << 1 << 0 << QStringList() << "handshake-failed"
                                                           << "arm.bin: stopped at the shake hand: " + noAnswer;
    }

    void everyRunEnds()
    {
        QFETCH(int, unitModel);
        QFETCH(int, packageModel);
        QFETCH(QStringList, faults);
        QFETCH(QString, reason);
        QFETCH(QString, lastLine);
        QTemporaryDir work;
        unitBench units;
        QVERIFY(units.start(work.path(), 1, faults, unitModel));
        QVERIFY(units.plug(1));
        QList<QJsonObject> events;
        QCOMPARE(flash({"--retries", "1", "--report", work.filePath("r.jsonl"), "--port", units.port(1),
                        package(work.path(), packageModel)},
                       events),
                 1);
        verifyEvents(events, 1);
        const QList<QJsonObject> report = readReport(work.filePath("r.jsonl"));
        QCOMPARE(report.size(), 2);
        for (int attempt = 1; attempt <= 2; ++attempt) {
            const QJsonObject line = report.at(attempt - 1);
            QCOMPARE(line.value("attempt").toInt(), attempt);
            QCOMPARE(line.value("result").toString(), QStringLiteral("failed"));
            QCOMPARE(line.value("reason").toString(), reason);
            QCOMPARE(line.value("last_line").toString(), lastLine);
        }
        QVERIFY(QDir(work.filePath("flashed")).entryList(QDir::Files).isEmpty());
    }

    // Whether the unit was told which processor each image is for, as the
    // report and the events say it, against what the unit did with it. A
    // boot loader already running for one processor does not answer the
    // preamble: it takes the image whose verify code it knows and refuses
    // the other processor's.
    void processorChoice_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<QStringList>("options"); // of the simulator, then of the flasher
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("images"); // NAME:RESULT:REASON:CHOSEN, in sending order
        QTest::addColumn<QStringList>("saved");  // SAVED=EXPECTED: what the unit flashed, sorted, and its image
        QTest::newRow("first board answering the preamble: each image's processor chosen")
            << 0 << QStringList() << 0 << QStringList {"arm.bin:passed::true", "dsp.out:passed::true"}
            << QStringList {"arm.bin=arm.bin", "dsp.bin=dsp.bin"};
        QTest::newRow("second board: chosen by the acknowledged start command")
            << 1 << QStringList() << 0
            << QStringList {"2U_20K_MONITOR.bin:passed::true", "Inv_power33.out:passed::true",
                            "Rec_power33.out:passed::true"}
            << QStringList {"inv.bin=Inv_power33.bin", "monitor.bin=2U_20K_MONITOR.bin", "rec.bin=Rec_power33.bin"};
        QTest::newRow("boot loader running for the ARM: arm.bin flashed into it, dsp.out refused at verify")
            << 0 << QStringList {"--running", "arm:12345678"} << 1
            << QStringList {"arm.bin:passed::false", "dsp.out:failed:verify-failed:false"}
            << QStringList {"arm.bin=arm.bin"};
        QTest::newRow("boot loader running for the DSP: arm.bin refused at verify, nothing flashed")
            << 0 << QStringList {"--running", "dsp:87654321"} << 1
            << QStringList {"arm.bin:failed:verify-failed:false", "dsp.out:not-sent::null"} << QStringList();
        QTest::newRow("boot loader running for the DSP, dsp.out alone sent: flashed into the DSP")
            << 0 << QStringList {"--running", "dsp:87654321", "--only", "dsp.out"} << 0
            << QStringList {"dsp.out:passed::false"} << QStringList {"dsp.bin=dsp.bin"};
    }

    void processorChoice()
    {
        QFETCH(int, model);
        QFETCH(QStringList, options);
        QFETCH(int, status);
        QFETCH(QStringList, images);
        QFETCH(QStringList, saved);
        QTemporaryDir work;
        unitBench units;
        QVERIFY(units.start(work.path(), 1, {}, model, options.mid(0, 2)));
        QVERIFY(units.plug(1));
        QList<QJsonObject> events;
        QCOMPARE(flash(options.mid(2)
                           + QStringList {"--report", work.filePath("r.jsonl"), "--port", units.port(1),
                                          package(work.path(), model)},
                       events),
                 status);
        verifyEvents(events, status);

        const auto chosen = [](const QJsonValue &value) {
            return value.isNull() ? QStringLiteral("null") : QString(value.toBool() ? "true" : "false");
        };
        QStringList reported;
        for (const QJsonValue &value : readReport(work.filePath("r.jsonl")).value(0).value("images").toArray()) {
            const QJsonObject image = value.toObject();
            reported << QStringLiteral("%1:%2:%3:%4")
                            .arg(image.value("name").toString(), image.value("result").toString(),
                                 image.value("reason").toString(), chosen(image.value("processor_chosen")));
        }
        QCOMPARE(reported, images);
        QStringList ended;
        int notChosenLines = 0;
        for (const QJsonObject &event : events) {
            if (event.value("event") == "image-end") {
                ended << QStringLiteral("%1:%2:%3:%4")
                             .arg(event.value("image").toString(), event.value("result").toString(),
                                  event.value("reason").toString(), chosen(event.value("processor_chosen")));
            }
            notChosenLines += event.value("text").toString().startsWith("the processor was not chosen: ") ? 1 : 0;
        }
        QCOMPARE(ended, images.filter(QRegularExpression(":(true|false)$")));
        QCOMPARE(notChosenLines, ended.filter(":false").size());

        const QDir flashed(work.filePath("flashed"));
        QStringList names;
        for (const QString &pair : saved) {
            names << pair.section('=', 0, 0);
            QVERIFY2(testPrograms::sameImage(testFiles::read(flashed.filePath(names.last())),
                                             testFiles::read(samples.filePath("expected/" + pair.section('=', 1)))),
                     qPrintable(pair));
        }
        QCOMPARE(flashed.entryList(QDir::Files), names);
    }

    // A port that appears a second after the start is waited for.
    void waitForPort()
    {
        QTemporaryDir work;
        unitBench units;
        QVERIFY(units.start(work.path(), 1, {}));
        QProcess flash;
        flash.start(testPrograms::path("ups-flash"),
                    {"--json", "--wait", "--time-scale", kScale, "--port", units.port(1), package(work.path())});
        QString out;
        QVERIFY(awaitEvent(flash, out, [](const QJsonObject &e) { return e.value("why") == "port-absent"; }));
        QTest::qWait(1000);
        QVERIFY(units.plug(1));
        QVERIFY(flash.waitForFinished(kRunTimeoutMs));
        out += QString::fromUtf8(flash.readAllStandardOutput());
        QCOMPARE(flash.exitCode(), 0);
        verifyEvents(jsonLines(out), 0);
    }

    // The station loop: two units on one port, the next one started by the
    // adapter going and coming back, or by Enter; Ctrl-C between units ends
    // the shift with every unit passed.
    void stationLoop_data()
    {
        QTest::addColumn<bool>("byEnter");
        QTest::newRow("an adapter per unit: the port disappears and reappears") << false;
        QTest::newRow("a fixed adapter: Enter starts the next unit") << true;
    }

    void stationLoop()
    {
        QFETCH(bool, byEnter);
        QTemporaryDir work;
        unitBench units;
        QVERIFY(units.start(work.path(), 1, {}));
        if (byEnter)
            QVERIFY(units.plug(1));
        QProcess flash;
        flash.start(testPrograms::path("ups-flash"),
                    {"--json", "--loop", "--report", work.filePath("r.jsonl"), "--time-scale", kScale, "--port",
                     units.port(1), package(work.path())});
        QString out;
        for (int unit = 1; unit <= 2; ++unit) {
            if (unit == 2 && byEnter) {
                flash.write("\n");
            } else if (unit == 2) {
                QVERIFY(units.unplug(1));
                QTest::qWait(500); // the flasher looks every 200 ms
                QVERIFY(units.plug(1));
            } else if (!byEnter) {
                QVERIFY(units.plug(1));
            }
            QVERIFY2(awaitEvent(flash, out, [unit](const QJsonObject &e) { return isUnitEnd(e, unit); }),
                     qPrintable(out));
        }
        QVERIFY(awaitEvent(flash, out, [](const QJsonObject &e) { return e.value("why") == "next-unit"; }));
        QVERIFY(::kill(pid_t(flash.processId()), SIGINT) == 0);
        QVERIFY(flash.waitForFinished(kRunTimeoutMs));
        out += QString::fromUtf8(flash.readAllStandardOutput());
        QCOMPARE(flash.exitCode(), 0);
        const QList<QJsonObject> events = jsonLines(out);
        verifyEvents(events, 0);
        const QJsonObject tally = events.last().value("units").toArray().at(0).toObject();
        QCOMPARE(tally.value("passed").toInt(), 2);
        QCOMPARE(tally.value("failed").toInt(), 0);
        QCOMPARE(summarise(readReport(work.filePath("r.jsonl"))),
                 QStringList({"1:1:passed::arm.bin dsp.out", "1:1:passed::arm.bin dsp.out"}));
    }

    // A signed package goes to the unit only while it is as its maker
    // signed it: one changed image and nothing is sent at all.
    void signedPackage_data()
    {
        QTest::addColumn<bool>("tampered");
        QTest::addColumn<int>("status");
        QTest::newRow("as signed: flashed") << false << 0;
        QTest::newRow("an image changed after signing, its trailer rewritten: nothing sent") << true << 2;
    }

    void signedPackage()
    {
        QFETCH(bool, tampered);
        QFETCH(int, status);
        QTemporaryDir work;
        QProcess pack;
        pack.start(testPrograms::path("ups-pack"), {"--keygen", work.filePath("maker")});
        QVERIFY(pack.waitForFinished(kRunTimeoutMs) && pack.exitCode() == 0);
        const QString package = work.filePath("signed_5-10k.zip");
        const QStringList images {samples.filePath("images/arm.bin"), samples.filePath("images/dsp.out")};
        pack.start(testPrograms::path("ups-pack"),
                   QStringList {"--sign", work.filePath("maker.key"), package} + images);
        QVERIFY(pack.waitForFinished(kRunTimeoutMs) && pack.exitCode() == 0);
        if (tampered) {
            // The same SIGNATURE beside an arm.bin with one bit changed and a
            // trailer that matches it again.
            QByteArray arm = testFiles::read(images.at(0));
            arm[100] = char(arm.at(100) ^ 0x10);
            QuaZip original(package);
            QVERIFY(original.open(QuaZip::mdUnzip) && original.setCurrentFile(packageSignature::kMemberName));
            QuaZipFile member(&original);
            QVERIFY(member.open(QIODevice::ReadOnly));
            const QByteArray signature = member.readAll();
            member.close();
            original.close();
            QVERIFY(QFile::remove(package));
            packageWriter writer(package);
            QVERIFY(writer.open() && writer.addImage("arm.bin", arm)
                    && writer.addImage("dsp.out", testFiles::read(images.at(1)))
                    && writer.addRaw(packageSignature::kMemberName, signature) && writer.close());
        }
        unitBench units;
        QVERIFY(units.start(work.path(), 1, {}));
        QVERIFY(units.plug(1));
        QList<QJsonObject> events;
        QCOMPARE(flash({"--trust", work.filePath("maker.pub"), "--port", units.port(1), package}, events), status);
        verifyEvents(events, status);
        QStringList lines;
        for (const QJsonObject &event : events)
            lines << event.value("text").toString();
        QVERIFY2(
            lines.filter(tampered ? "package refused: arm.bin is not the file that was signed" : "signed by ").size()
                == 1,
            qPrintable(lines.join('\n')));
        QCOMPARE(QFileInfo::exists(units.flashed(1, "arm.bin")), !tampered);
        QCOMPARE(QFileInfo::exists(work.filePath("signed_5-10k")), !tampered); // nothing unpacked
    }

    // One unit, two flashers naming it differently: the second is refused
    // before it writes a byte and the first flashes it exactly. The unit
    // leaves a block unanswered once, so that the first holds the line long
    // enough for the second to try; its retry then passes.
    void oneUnitOneFlasher_data()
    {
        QTest::addColumn<bool>("firstByLink");
        QTest::newRow("the first through a link, the second through the node") << true;
        QTest::newRow("the first through the node, the second through a link") << false;
    }

    void oneUnitOneFlasher()
    {
        QFETCH(bool, firstByLink);
        QTemporaryDir work;
        unitBench units;
        QVERIFY(units.start(work.path(), 1, {"silence:write@6"}));
        QVERIFY(units.plug(1));
        const QString link = units.port(1);
        const QString node = units.devices.at(0);
        QProcess first;
        first.start(testPrograms::path("ups-flash"),
                    {"--json", "--retries", "1", "--time-scale", QString::number(testTimeScale(0.2)), "--port",
                     firstByLink ? link : node, package(work.path())});
        QString out;
        QVERIFY(awaitEvent(first, out, [](const QJsonObject &e) {
            return e.value("event") == "progress" && e.value("percent").toInt() >= 10;
        }));

        QVERIFY(QDir(work.path()).mkdir("second")); // its own unpacking
        QProcess second;
        second.start(testPrograms::path("ups-flash"),
                     {"--time-scale", kScale, "--port", firstByLink ? node : link, package(work.filePath("second"))});
        QVERIFY(second.waitForFinished(kRunTimeoutMs));
        const QString said = QString::fromUtf8(second.readAllStandardOutput() + second.readAllStandardError());
        QCOMPARE(second.exitCode(), 1);
        QVERIFY2(said.contains("port opening failed!") && said.contains("is in use by another program"),
                 qPrintable(said));

        QVERIFY(first.waitForFinished(kRunTimeoutMs));
        out += QString::fromUtf8(first.readAllStandardOutput());
        QCOMPARE(first.exitCode(), 0);
        verifyEvents(jsonLines(out), 0);
        for (const QString name : {"arm.bin", "dsp.bin"}) {
            const QByteArray expected = testFiles::read(samples.filePath("expected/" + name));
            QVERIFY(testPrograms::sameImage(testFiles::read(units.flashed(1, name)), expected));
        }
    }

    // A signal while both units wait for a block's reply: its exit status,
    // a record "interrupted" for each, and no byte reaches a unit afterwards.
    void interruptMidRun_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<int>("status");
        QTest::newRow("Ctrl-C") << int(SIGINT) << 130;
        QTest::newRow("terminate") << int(SIGTERM) << 130;
        QTest::newRow("hang-up: the terminal went away") << int(SIGHUP) << 129;
    }

    void interruptMidRun()
    {
        QFETCH(int, signalNumber);
        QFETCH(int, status);
        QTemporaryDir work;
        unitBench units;
        QVERIFY(units.start(work.path(), 2, {"silence:write@6"}));
        QVERIFY(units.plug(1) && units.plug(2));
        QProcess flash;
        flash.start(testPrograms::path("ups-flash"),
                    {"--json", "--report", work.filePath("r.jsonl"), "--time-scale",
                     QString::number(testTimeScale(0.1)), "--port", units.port(1), "--port", units.port(2),
                     package(work.path())});
        QString out;
        QSet<QString> moving;
        QVERIFY(awaitEvent(flash, out, [&moving](const QJsonObject &e) {
            if (e.value("event") == "progress" && e.value("percent").toInt() >= 10)
                moving.insert(e.value("port").toString());
            return moving.size() == 2;
        }));
        QVERIFY(::kill(pid_t(flash.processId()), signalNumber) == 0);
        QVERIFY(flash.waitForFinished(kRunTimeoutMs));
        out += QString::fromUtf8(flash.readAllStandardOutput());
        QCOMPARE(flash.exitStatus(), QProcess::NormalExit);
        QCOMPARE(flash.exitCode(), status);
        verifyEvents(jsonLines(out), status);
        const QList<QJsonObject> report = readReport(work.filePath("r.jsonl"));
        QCOMPARE(summarise(report),
                 QStringList({"1:1:interrupted::arm.bin dsp.out", "2:1:interrupted::arm.bin dsp.out"}));
        for (const QJsonObject &line : report) {
            const QJsonArray images = line.value("images").toArray();
            QCOMPARE(images.at(0).toObject().value("result").toString(), QStringLiteral("interrupted"));
            QCOMPARE(images.at(1).toObject().value("result").toString(), QStringLiteral("not-sent"));
        }
        units.said();
        QTest::qWait(testWaitMs(300));
        QCOMPARE(units.said(), QByteArray()); // no job line: nothing went on
    }
};

QTEST_GUILESS_MAIN(TestStation)
#include "test_station.moc"
