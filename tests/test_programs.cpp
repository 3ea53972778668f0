// The three programs run as processes, as a script or a production line
// would run them: flashing through the real serial code into simulated
// units, exit statuses, the dry run and the package builder; and the
// window's own command line.
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>
#include <memory>
#include <vector>

#include "package/zip.h"
#include "tools/support/packagewriter.h"
#include "tools/unitsim/ptyline.h"
#include "support/programs.h"
#include "support/testfiles.h"
#include "support/testtime.h"

namespace {

const QString kScale = QString::number(testTimeScale(0.01));
using testPrograms::kRunTimeoutMs;

QString program(const char *name)
{
    return testPrograms::path(name);
}

using testPrograms::run;
using testPrograms::runResult;
using testPrograms::sameImage;
using testPrograms::simProcess;

} // namespace

namespace {

// Several simulated units for one ups-flash run, each in a folder of its own
// and reached through a link named after it, so that each port has its own
// label ("[ttyUPS1] ...").
struct unitGroup
{
    bool start(const QString &dir, const QStringList &faults)
    {
        for (int i = 0; i < faults.size(); ++i) {
            const QString home = dir + QStringLiteral("/unit%1").arg(i + 1);
            units.push_back(std::make_unique<simProcess>());
            said.emplace_back();
            if (!QDir().mkpath(home)
                || !units.back()->start(0, home, faults.at(i).isEmpty() ? QStringList() : QStringList {faults.at(i)}))
                return false;
            labels << QStringLiteral("ttyUPS%1").arg(i + 1);
            ports << dir + QLatin1Char('/') + labels.last();
            if (!QFile::link(units.back()->link, ports.last()))
                return false;
            flashed << home + QStringLiteral("/flashed");
        }
        return true;
    }
    // What the units have said and saved so far.
    QString state()
    {
        QString seen;
        for (size_t i = 0; i < units.size(); ++i) {
            units[i]->process.waitForReadyRead(50);
            said[i] += QString::fromUtf8(units[i]->process.readAllStandardOutput());
            seen += said[i] + QDir(flashed.at(int(i))).entryList(QDir::Files).join(QLatin1Char(',')) + QLatin1Char('|');
        }
        return seen;
    }
    std::vector<std::unique_ptr<simProcess>> units;
    std::vector<QString> said;
    QStringList ports;
    QStringList labels;
    QStringList flashed;
};

// The translation source read back for the Chinese runs: the English of
// every text the programs pass through tr(), and the Chinese each becomes.
struct textCatalogue
{
    QStringList englishPieces;          // source texts cut at their placeholders, those with a word
    QSet<QString> keptWords;            // Latin words that Chinese translations keep on purpose
    QHash<QString, QString> translated; // "CONTEXT|SOURCE" -> Chinese

    bool load(const QString &path);
};

// A run of letters, digits and the marks of paths, options and codes
// ("verify-failed", "/dev/ttyUSB0", "--port", "arm.bin").
const QRegularExpression kToken(QStringLiteral("[A-Za-z0-9_./=*@~+-]+"));
const QRegularExpression kPlaceholder(QStringLiteral("%\\d+"));

bool isTokenChar(QChar c)
{
    return c.unicode() < 0x80 && (c.isLetterOrNumber() || QStringLiteral("_./=*@~+-").contains(c));
}

// Words of plain text: three letters or more, nothing else in the token,
// not all capitals (those are names: PORT, SIGHUP, CRC).
QStringList plainWordsOf(const QString &text)
{
    static const QRegularExpression word(QStringLiteral("^[A-Za-z]{3,}$"));
    QStringList words;
    for (auto it = kToken.globalMatch(text); it.hasNext();) {
        const QString token = it.next().captured();
        if (word.match(token).hasMatch() && token != token.toUpper())
            words << token;
    }
    return words;
}

bool textCatalogue::load(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QXmlStreamReader xml(&file);
    QString context;
    QString source;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (xml.name() == QLatin1String("source")) {
            source = xml.readElementText();
            for (const QString &piece : source.split(kPlaceholder)) {
                if (!plainWordsOf(piece).isEmpty())
                    englishPieces << piece.trimmed();
            }
        } else if (xml.name() == QLatin1String("translation")) {
            const QString chinese = xml.readElementText();
            translated.insert(context + QLatin1Char('|') + source, chinese);
            for (const QString &word : plainWordsOf(chinese))
                keptWords.insert(word);
        }
    }
    return !xml.hasError() && !englishPieces.isEmpty();
}

// Whether PIECE stands in TEXT on its own, not as part of a longer token
// ("failed" is not found in "verify-failed").
bool standsIn(const QString &text, const QString &piece)
{
    for (int at = text.indexOf(piece); at >= 0; at = text.indexOf(piece, at + 1)) {
        const bool openStart = at == 0 || !isTokenChar(piece.front()) || !isTokenChar(text.at(at - 1));
        const int end = at + piece.size();
        const bool openEnd = end == text.size() || !isTokenChar(piece.back()) || !isTokenChar(text.at(end));
        if (openStart && openEnd)
            return true;
    }
    return false;
}

// The English a Chinese run let through: a piece of a translatable text, or
// a plain word that no translation keeps (a text never put through tr()).
QStringList englishIn(const QString &output, const textCatalogue &texts)
{
    QStringList found;
    for (const QString &piece : texts.englishPieces) {
        if (standsIn(output, piece))
            found << piece;
    }
    for (const QString &word : plainWordsOf(output)) {
        if (!texts.keptWords.contains(word))
            found << word;
    }
    found.removeDuplicates();
    return found;
}

// Waits until the running flasher has shown progress for every label, and
// returns what it wrote on stderr by then.
QString waitForProgressOfAll(QProcess &flash, const QStringList &labels)
{
    QString err;
    QElapsedTimer clock;
    clock.start();
    const auto allShown = [&] {
        for (const QString &label : labels) {
            if (!err.contains(QStringLiteral("[%1] arm.bin: 10%").arg(label)))
                return false;
        }
        return true;
    };
    while (!allShown() && clock.elapsed() < kRunTimeoutMs) {
        flash.waitForReadyRead(100);
        err += QString::fromUtf8(flash.readAllStandardError());
    }
    return err;
}

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

    // Starts the simulated unit: accepted (refusal empty), it prints its
    // device; refused, it exits 2 and says why on stderr.
    static void checkSimStart(const QStringList &args, const QString &refusal)
    {
        QProcess sim;
        sim.start(program("ups-unit-sim"), args);
        if (refusal.isEmpty()) {
            QVERIFY(sim.waitForReadyRead(10000));
            QVERIFY(sim.readLine().startsWith("/dev/"));
            sim.terminate();
            QVERIFY(sim.waitForFinished(5000));
            return;
        }
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitCode(), 2);
        const QByteArray err = sim.readAllStandardError();
        QVERIFY2(err.contains(refusal.toUtf8()), err.constData());
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
        const auto usage = [](const char *name, const QStringList &options, const char *said) {
            QTest::newRow(name) << -1 << QStringList() << "sample" << QStringList {"--port", "/dev/null"} + options << 2
                                << said;
        };
        usage("usage: retries not a number", {"--retries", "two"}, "--retries takes a whole number from 0 to 100");
        usage("usage: retries above 100", {"--retries", "101"}, "--retries takes a whole number from 0 to 100");
        usage("usage: a loop is no dry run", {"--loop", "--dry-run"}, "a dry run flashes none");
        usage("usage: a report that cannot be appended to", {"--report", "/"}, "cannot append to the report /");
        usage("usage: a trusted key that is no key", {"--trust", "/dev/null"},
              "the trusted key /dev/null cannot be used: it is not a regular file");
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
    // sending it for half a minute (a few seconds at this scale); Ctrl-C
    // in the meantime must end the run cleanly and say so.
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
        flash.start(program("ups-flash"),
                    {"--port", sim.link, "--time-scale", QString::number(testTimeScale(0.1)), path});
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

    // A package whose own folder cannot be written is unpacked into the
    // user's cache, said in one line; nothing is written beside it.
    void readOnlyPackageFolder_data()
    {
        QTest::addColumn<QString>("blocker");
        QTest::newRow("the folder's name taken by a file") << "file in the way";
        QTest::newRow("a read-only folder") << "read-only folder";
        QTest::newRow("a read-only unpacking folder already there") << "read-only unpacking folder";
    }

    void readOnlyPackageFolder()
    {
        QFETCH(QString, blocker);
        if (blocker != "file in the way" && ::geteuid() == 0)
            QSKIP("root writes into every folder");
        QTemporaryDir work;
        const QString share = work.filePath("share");
        const QString path = share + "/ups_5-10k.zip";
        QVERIFY(QDir().mkpath(share) && QFile::copy(samplePackage(0), path));
        const QString besides = share + "/ups_5-10k";
        if (blocker == "file in the way")
            testFiles::write(besides, "in the way");
        if (blocker == "read-only unpacking folder")
            QVERIFY(QDir().mkpath(besides) && QFile::setPermissions(besides, QFile::ReadOwner | QFile::ExeOwner));
        else if (blocker == "read-only folder")
            QVERIFY(QFile::setPermissions(share, QFile::ReadOwner | QFile::ExeOwner));
        const QStringList before = QDir(share).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);

        const runResult r = run("ups-flash", {"--dry-run", path});
        QFile::setPermissions(share, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile::setPermissions(besides, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(r.status, 0);
        const QString digest =
            QCryptographicHash::hash(testFiles::read(path), QCryptographicHash::Sha256).toHex().left(16);
        const QString cache = qEnvironmentVariable("XDG_CACHE_HOME") + "/ups/ups_5-10k-" + digest;
        QCOMPARE(r.out.count(" cannot be written: unpacking into " + cache), 1);
        QVERIFY2(r.out.contains("would send " + cache + "/arm.bin"), qPrintable(r.out));
        QCOMPARE(QDir(share).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), before);
        QCOMPARE(QDir(besides).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
        QVERIFY(QDir(cache).removeRecursively());
    }

    // A port the user may not open says why and how to get access, on a
    // real line: root is run as nobody for it.
    void portWithoutAccessSaysTheFix()
    {
        ptyLine line;
        QVERIFY(line.open());
        QTemporaryDir work;
        QVERIFY(QFile::setPermissions(work.path(), QFileDevice::Permissions(0x7777)));
        const QString path = work.filePath("ups_5-10k.zip");
        QVERIFY(QFile::copy(samplePackage(0), path));
        QProcess flash;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *variable : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "HOME"})
            env.insert(variable, work.path());
        flash.setProcessEnvironment(env);
        QStringList args {program("ups-flash"), "--port", line.slavePath(), path};
        if (::geteuid() == 0)
            args = QStringList {"--reuid=nobody", "--regid=nogroup", "--clear-groups"} + args;
        else
            QVERIFY(QFile::setPermissions(line.slavePath(), QFileDevice::Permissions()));
        flash.start(::geteuid() == 0 ? QStringLiteral("setpriv") : args.takeFirst(), args);
        QVERIFY(flash.waitForFinished(kRunTimeoutMs));
        const QString said = QString::fromUtf8(flash.readAllStandardOutput() + flash.readAllStandardError());
        QVERIFY2(flash.exitCode() != 0, qPrintable(said));
        QVERIFY2(said.contains("opening failed! " + line.slavePath() + ": Permission denied"), qPrintable(said));
        QVERIFY2(said.contains("unplug the adapter and plug it in again"), qPrintable(said));
        QVERIFY2(said.contains("sudo usermod -aG dialout $USER"), qPrintable(said));
    }

    // What is no regular file is refused as an image at once, and no
    // package is left behind.
    void packRefusesNonFiles_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("why");
        QTest::newRow("a FIFO") << "fifo"
                                << "it is not a regular file";
        QTest::newRow("/dev/zero") << "zero"
                                   << "it is not a regular file";
        QTest::newRow("a folder") << "folder"
                                  << "it is a folder";
    }

    void packRefusesNonFiles()
    {
        QFETCH(QString, kind);
        QFETCH(QString, why);
        QTemporaryDir work;
        QString image = work.filePath("arm.bin");
        if (kind == "fifo")
            QCOMPARE(::mkfifo(qPrintable(image), 0600), 0);
        else if (kind == "zero")
            image = "/dev/zero";
        else
            QVERIFY(QDir().mkpath(image));
        QElapsedTimer clock;
        clock.start();
        const runResult r = run("ups-pack", {work.filePath("fw_5-10k.zip"), image});
        QVERIFY(clock.elapsed() < testWaitMs(1000));
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains("cannot read " + image + ": " + why), qPrintable(r.err));
        QVERIFY(!QFileInfo::exists(work.filePath("fw_5-10k.zip")));
        QVERIFY(!QFileInfo::exists(work.filePath("fw_5-10k.zip.part")));
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

    // ups-pack signs with a key it made and checks what it signed.
    void packSigning_data()
    {
        QTest::addColumn<QString>("packageName");
        QTest::addColumn<QString>("trust"); // the key --verify trusts; empty: none
        QTest::addColumn<int>("buildStatus");
        QTest::addColumn<int>("verifyStatus");
        QTest::addColumn<QString>("said");
        QTest::newRow("checked with its own key") << "fw_5-10k.zip"
                                                  << "maker" << 0 << 0 << "SIGNATURE: good, signed by ";
        QTest::newRow("checked with another key") << "fw_5-10k.zip"
                                                  << "other" << 0 << 1 << "SIGNATURE: bad: it is signed by ";
        QTest::newRow("no key to check with: the id is told") << "fw_15-20k.zip"
                                                              << "" << 0 << 0 << "not checked (give --trust KEY.pub)";
        QTest::newRow("a package that names no model is not signed")
            << "firmware.zip"
            << "maker" << 2 << 2 << "a signed package must name its model";
    }

    void packSigning()
    {
        QFETCH(QString, packageName);
        QFETCH(QString, trust);
        QFETCH(int, buildStatus);
        QFETCH(int, verifyStatus);
        QFETCH(QString, said);
        QTemporaryDir work;
        for (const char *name : {"maker", "other"})
            QCOMPARE(run("ups-pack", {"--keygen", work.filePath(name)}).status, 0);
        const QString out = work.filePath(packageName);
        const runResult built =
            run("ups-pack", {"--sign", work.filePath("maker.key"), out, samples.filePath("images/arm.bin")});
        QCOMPARE(built.status, buildStatus);
        QStringList args {"--verify", out};
        if (!trust.isEmpty())
            args << "--trust" << work.filePath(trust + ".pub");
        const runResult verified = run("ups-pack", args);
        QCOMPARE(verified.status, verifyStatus);
        QVERIFY2((built.out + built.err + verified.out + verified.err).contains(said),
                 qPrintable(verified.out + built.err));
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
        checkSimStart({"--model", "0", "--time-scale", scale}, accepted ? QString() : "above 0 and at most 100");
    }

    // A boot loader already running for one processor: a first-board unit,
    // a processor it has and a whole verify code, or the simulator refuses.
    void unitSimRefusesBadRunning_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<QString>("running");
        QTest::addColumn<QString>("said"); // empty: accepted
        QTest::newRow("usage: a processor the unit does not have") << 0 << "cpu:12345678"
                                                                   << "is not arm:CODE";
        QTest::newRow("usage: a verify code short of 8 hex digits") << 0 << "arm:123456"
                                                                    << "is not arm:CODE";
        QTest::newRow("usage: no verify code") << 0 << "dsp"
                                               << "is not arm:CODE";
        QTest::newRow("usage: a second-board unit") << 1 << "arm:12345678"
                                                    << "model 0 only";
        QTest::newRow("accepted: the sample DSP's code") << 0 << "dsp:87654321"
                                                         << "";
    }

    void unitSimRefusesBadRunning()
    {
        QFETCH(int, model);
        QFETCH(QString, running);
        QFETCH(QString, said);
        checkSimStart({"--model", QString::number(model), "--running", running}, said);
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

    // One simulator serving several units: each flashed through its own
    // link into its own folder, and a fault aimed at one unit only.
    void unitSimServesSeveralUnits_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<QList<int>>("flashStatus"); // ups-flash exit per unit; empty: the simulator refuses
        QTest::addColumn<QString>("said");
        QTest::newRow("fault on one unit: unit 2 silent at shake hand, 1 and 3 flash")
            << 3 << QStringList {"2/silence:shakehand"} << QList<int> {0, 1, 0} << QString();
        QTest::newRow("usage: count zero") << 0 << QStringList() << QList<int>() << "--count";
        QTest::newRow("usage: count above 64") << 65 << QStringList() << QList<int>() << "--count";
        QTest::newRow("usage: fault for a unit past the count")
            << 3 << QStringList {"4/silence"} << QList<int>() << "bad fault 4/silence";
        QTest::newRow("usage: fault for unit zero") << 3 << QStringList {"0/silence"} << QList<int>() << "not a unit";
    }

    void unitSimServesSeveralUnits()
    {
        QFETCH(int, count);
        QFETCH(QStringList, faults);
        QFETCH(QList<int>, flashStatus);
        QFETCH(QString, said);
        QTemporaryDir work;
        QVERIFY(work.isValid());
        const QString package = work.filePath(QFileInfo(samplePackage(0)).fileName());
        QVERIFY(QFile::copy(samplePackage(0), package));
        const QString link = work.filePath(QStringLiteral("tty"));
        QStringList args {"--model",      "0",   "--count",    QString::number(count),
                          "--link",       link,  "--save-dir", work.filePath("flashed"),
                          "--time-scale", kScale};
        for (const QString &f : faults)
            args << QStringLiteral("--fault") << f;
        QProcess sim;
        sim.start(program("ups-unit-sim"), args);
        if (flashStatus.isEmpty()) {
            QVERIFY(sim.waitForFinished(5000));
            QCOMPARE(sim.exitCode(), 2);
            QVERIFY(sim.readAllStandardError().contains(said.toUtf8()));
            QVERIFY(!QFileInfo(link + QStringLiteral("-1")).isSymLink() && !QFileInfo(link).isSymLink());
            return;
        }

        // A device line per unit, in unit order, each linked as PATH-K.
        QStringList devices;
        while (devices.size() < count && (sim.canReadLine() || sim.waitForReadyRead(10000))) {
            while (sim.canReadLine())
                devices << QString::fromUtf8(sim.readLine()).trimmed();
        }
        QCOMPARE(devices.size(), count);
        QCOMPARE(QSet<QString>(devices.begin(), devices.end()).size(), count);
        for (int unit = 1; unit <= count; ++unit)
            QCOMPARE(QFileInfo(link + QStringLiteral("-%1").arg(unit)).symLinkTarget(), devices.at(unit - 1));

        QString lastJob;
        for (int unit = 1; unit <= count; ++unit) {
            const QString port = link + QStringLiteral("-%1").arg(unit);
            const runResult r = run("ups-flash", {"--port", port, "--time-scale", kScale, package});
            QVERIFY2(r.status == flashStatus.at(unit - 1), qPrintable(port + r.out + r.err));
            const QDir saved(work.filePath(QStringLiteral("flashed/%1").arg(unit)));
            if (r.status != 0) {
                QVERIFY(saved.entryList(QDir::Files).isEmpty());
                continue;
            }
            for (const QString name : {"arm.bin", "dsp.bin"}) {
                QVERIFY2(sameImage(testFiles::read(saved.filePath(name)),
                                   testFiles::read(samples.filePath(QStringLiteral("expected/") + name))),
                         qPrintable(saved.filePath(name)));
            }
            lastJob = QStringLiteral("[%1] job 2: dsp flashed").arg(unit);
        }
        QVERIFY(QDir(work.filePath(QStringLiteral("flashed"))).entryList(QDir::Files).isEmpty());

        // Each job line names its unit; the failed unit finished none.
        QString jobs;
        QElapsedTimer clock;
        clock.start();
        while (!jobs.contains(lastJob) && clock.elapsed() < 10000) {
            sim.waitForReadyRead(200);
            jobs += QString::fromUtf8(sim.readAllStandardOutput());
        }
        for (int unit = 1; unit <= count; ++unit) {
            const QString mark = QStringLiteral("[%1] job ").arg(unit);
            QCOMPARE(jobs.count(mark), flashStatus.at(unit - 1) == 0 ? 2 : 0);
        }
        QVERIFY2(!jobs.contains(QRegularExpression(QStringLiteral("^job "), QRegularExpression::MultilineOption)),
                 qPrintable(jobs));
        sim.terminate();
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitCode(), 0);
        QVERIFY2(!sim.readAllStandardError().contains("violation"), "a unit saw a protocol violation");
        for (int unit = 1; unit <= count; ++unit)
            QVERIFY(!QFileInfo(link + QStringLiteral("-%1").arg(unit)).isSymLink());
    }

    // With --lang zh every line the flasher itself prints is Chinese: the
    // texts it passes through tr() and those it was never meant to keep.
    void chineseRunHoldsNoEnglish_data()
    {
        QTest::addColumn<QStringList>("faults");  // one a simulated unit; empty: no unit
        QTest::addColumn<QStringList>("options"); // besides --lang zh, the ports and the package
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("shown"); // CONTEXT|SOURCE whose Chinese the output holds
        QTest::newRow("dry run: the images it would send")
            << QStringList() << QStringList {"--dry-run"} << 0
            << QStringList {"flashCommand|dry run: nothing was sent", "flashRun|first board engine"};
        QTest::newRow("failed run: unit silent at shake hand")
            << QStringList {"silence:shakehand"} << QStringList() << 1 << QStringList {"progress|shake hand failed!"};
        QTest::newRow("usage error: retries not a number")
            << QStringList() << QStringList {"--port", "/dev/null", "--retries", "two"} << 2
            << QStringList {"flashCommand|--retries takes a whole number from 0 to %1", "flashCommand|try --help"};
        QTest::newRow("help: the options and the parser's own headings")
            << QStringList() << QStringList {"--help"} << 0
            << QStringList {"QCommandLineParser|Options:", "flashCommand|The firmware package."};
        QTest::newRow("station: two ports, a retry and the summary table")
            << QStringList {"", "silence:verify@1"} << QStringList {"--retries", "1"} << 0
            << QStringList {"textOutput|attempt %1 %2: trying again", "textOutput|attempts", "textOutput|time (s)"};
    }

    void chineseRunHoldsNoEnglish()
    {
        QFETCH(QStringList, faults);
        QFETCH(QStringList, options);
        QFETCH(int, status);
        QFETCH(QStringList, shown);
        textCatalogue texts;
        QVERIFY(texts.load(QStringLiteral(UPS_TS_FILE)));
        QTemporaryDir work;
        const QString package = work.filePath(QFileInfo(samplePackage(0)).fileName());
        QVERIFY(QFile::copy(samplePackage(0), package));
        unitGroup group;
        QVERIFY(group.start(work.path(), faults));
        QStringList args = QStringList {"--lang", "zh"} + options;
        for (const QString &port : qAsConst(group.ports))
            args << "--port" << port;
        if (!group.ports.isEmpty())
            args << "--time-scale" << kScale;
        const runResult r = run("ups-flash", args << package);
        const QString output = r.out + r.err;
        QVERIFY2(r.status == status, qPrintable(QString::number(r.status) + output));
        for (const QString &key : shown) {
            const QString chinese = texts.translated.value(key);
            QVERIFY2(!chinese.isEmpty(), qPrintable(key));
            for (const QString &piece : chinese.split(kPlaceholder, Qt::SkipEmptyParts))
                QVERIFY2(output.contains(piece.trimmed()), qPrintable(key + QLatin1Char('\n') + output));
        }
        const QStringList english = englishIn(output, texts);
        QVERIFY2(english.isEmpty(), qPrintable(english.join(QStringLiteral(" | ")) + QLatin1Char('\n') + output));
    }

    // The window's --help and --version need no display: with none set, a
    // QApplication would abort instead of answering.
    void windowAnswersWithoutDisplay_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("language"); // LANGUAGE of the session; empty: none
        QTest::addColumn<QString>("expected"); // a regular expression on stdout
        QTest::newRow("help: the window's only usage")
            << QStringList {"--help"} << QString() << "needs a display.*--version";
        QTest::newRow("version") << QStringList {"--version"} << QString() << "^ups \\d+\\.\\d+\\.\\d+\n$";
        QTest::newRow("help in a Chinese session") << QStringList {"-h"} << "zh_CN"
                                                   << "windowCommand";
    }

    void windowAnswersWithoutDisplay()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, language);
        QFETCH(QString, expected);
        if (expected == QLatin1String("windowCommand")) { // the Chinese of the window's description
            textCatalogue texts;
            QVERIFY(texts.load(QStringLiteral(UPS_TS_FILE)));
            for (auto it = texts.translated.cbegin(); it != texts.translated.cend(); ++it) {
                if (it.key().startsWith(expected + QLatin1Char('|')))
                    expected = QRegularExpression::escape(it.value().section(QLatin1Char('\n'), 0, 0));
            }
        }
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "LC_ALL", "LC_MESSAGES", "LANG"})
            environment.remove(QLatin1String(name));
        environment.insert(QStringLiteral("LANGUAGE"), language);
        QProcess window;
        window.setProcessEnvironment(environment);
        window.start(program("ups"), args);
        QVERIFY(window.waitForFinished(kRunTimeoutMs));
        const QString out = QString::fromUtf8(window.readAllStandardOutput());
        QVERIFY2(window.exitStatus() == QProcess::NormalExit && window.exitCode() == 0,
                 qPrintable(QString::fromUtf8(window.readAllStandardError())));
        QVERIFY2(QRegularExpression(expected, QRegularExpression::DotMatchesEverythingOption).match(out).hasMatch(),
                 qPrintable(out));
    }

    // One package into several units at once, one line each: a failing
    // unit leaves the others exact, a repeated port opens nothing, and an
    // interrupt stops every unit with no byte sent after it.
    void flashSeveralUnits_data()
    {
        QTest::addColumn<QStringList>("faults"); // one a unit, empty for none
        QTest::addColumn<bool>("repeatPort");
        QTest::addColumn<double>("flashScale"); // the interrupt needs a reply wait long enough to land in
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("results"); // the summary's result a unit; empty: no summary
        QTest::newRow("one unit failing: silent at shake hand")
            << QStringList {"", "silence:shakehand", ""} << false << 0.01 << 1
            << QStringList {"passed", "failed", "passed"};
        QTest::newRow("usage: a port given twice") << QStringList {"", ""} << true << 0.01 << 2 << QStringList();
        QTest::newRow("interrupted: Ctrl-C while every unit waits for a block reply")
            << QStringList {"silence:write@6", "silence:write@6", "silence:write@6"} << false << 0.1 << 130
            << QStringList {"interrupted", "interrupted", "interrupted"};
    }

    void flashSeveralUnits()
    {
        QFETCH(QStringList, faults);
        QFETCH(bool, repeatPort);
        QFETCH(double, flashScale);
        QFETCH(int, status);
        QFETCH(QStringList, results);
        QTemporaryDir work;
        const QString package = work.filePath(QFileInfo(samplePackage(0)).fileName());
        QVERIFY(QFile::copy(samplePackage(0), package));
        unitGroup group;
        QVERIFY(group.start(work.path(), faults));
        QStringList args {"--time-scale", QString::number(testTimeScale(flashScale)), package};
        for (int i = 0; i < group.ports.size(); ++i)
            args << "--port" << group.ports.at(repeatPort ? 0 : i);

        QProcess flash;
        flash.start(program("ups-flash"), args);
        QString err;
        if (status == 130) {
            err = waitForProgressOfAll(flash, group.labels);
            QVERIFY(::kill(pid_t(flash.processId()), SIGINT) == 0);
        }
        QVERIFY(flash.waitForFinished(kRunTimeoutMs));
        const QString out = QString::fromUtf8(flash.readAllStandardOutput());
        err += QString::fromUtf8(flash.readAllStandardError());
        QVERIFY2(flash.exitCode() == status, qPrintable(out + err));
        const QString unitsNow = group.state();
        QTest::qWait(testWaitMs(300));
        QCOMPARE(group.state(), unitsNow); // nothing reached a unit after the end

        if (results.isEmpty()) {
            QVERIFY2(err.contains("given twice") && out.isEmpty(), qPrintable(out + err));
            QVERIFY(!unitsNow.contains("job "));
            return;
        }
        // Every log line carries its port, and the summary ends the output.
        const QStringList lines = out.split(QLatin1Char('\n'));
        const int header =
            lines.indexOf(QRegularExpression(QStringLiteral("^port +result +images +time \\(s\\) +attempts$")));
        QVERIFY2(header > 0, qPrintable(out));
        for (int i = 0; i < header - 1; ++i)
            QVERIFY2(lines.at(i).contains(QRegularExpression(QStringLiteral("^\\[ttyUPS[1-3]\\] "))),
                     qPrintable(lines.at(i)));
        for (int i = 0; i < group.labels.size(); ++i) {
            const QStringList cells = lines.value(header + 1 + i).split(QLatin1Char(' '), Qt::SkipEmptyParts);
            QVERIFY2(cells.size() == 7, qPrintable(lines.value(header + 1 + i))); // "n of m" is three
            QCOMPARE(cells.at(0), group.labels.at(i));
            QCOMPARE(cells.at(1), results.at(i));
            QCOMPARE(cells.at(2) + " of " + cells.at(4), QString(results.at(i) == "passed" ? "2 of 2" : "0 of 2"));
            QCOMPARE(cells.at(6), QStringLiteral("1"));
            if (results.at(i) != QLatin1String("passed")) {
                QVERIFY(QDir(group.flashed.at(i)).entryList(QDir::Files).isEmpty());
                continue;
            }
            for (const QString name : {"arm.bin", "dsp.bin"}) {
                QVERIFY2(sameImage(testFiles::read(group.flashed.at(i) + QLatin1Char('/') + name),
                                   testFiles::read(samples.filePath(QStringLiteral("expected/") + name))),
                         qPrintable(group.flashed.at(i) + name));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestPrograms)
#include "test_programs.moc"
