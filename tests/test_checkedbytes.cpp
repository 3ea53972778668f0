// What a unit receives is what was checked: the package is read once and
// its images are kept in memory from the check to the last block, so files
// changed on disk during a run, a package changed between two reads, things
// that are no package at all and a user's own files in the extraction
// folder change nothing that is sent. An object file that cannot be made a
// flat image stops the run before anything is sent.
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>

#include "package/packagesignature.h"
#include "package/zip.h"
#include "tools/support/coffwriter.h"
#include "tools/support/packagewriter.h"
#include "update/filesupdate.h"
#include "support/programs.h"
#include "support/testfiles.h"
#include "support/testtime.h"

namespace {

using testPrograms::run;
using testPrograms::runResult;
using testPrograms::sameImage;
using testPrograms::simProcess;

const QString kScale = QString::number(testTimeScale(0.01));

QString sha256Hex(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QList<QJsonObject> jsonLines(const QString &text)
{
    QList<QJsonObject> objects;
    for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        objects << QJsonDocument::fromJson(line.toUtf8()).object();
    return objects;
}

// A model-0 package other than the sample, with images of other bytes.
bool writeOtherPackage(const QString &path)
{
    QByteArray flat;
    packageWriter writer(path);
    return writer.open() && writer.addImage(QStringLiteral("arm.bin"), QByteArray(49000, char(0x5A)))
        && writer.addImage(QStringLiteral("dsp.out"), coffWriter::sampleObjectFile(&flat, 0x55667788))
        && writer.close();
}

// Writes through a temporary name and renames it into place, as another
// flasher or a download would.
bool replaceByRename(const QString &path, const QByteArray &bytes)
{
    return testFiles::write(path + ".new", bytes) && ::rename(qPrintable(path + ".new"), qPrintable(path)) == 0;
}

// A file system that is full beyond `bytes` for this process, until
// destroyed: writes past it fail instead of killing the process.
class fileSizeLimit
{
public:
    explicit fileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~fileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_handler);
    }

private:
    rlimit m_saved {};
    void (*m_handler)(int) = nullptr;
};

} // namespace

class TestCheckedBytes : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir samples;
    QTemporaryDir keys;

    QString samplePackage() const { return samples.filePath(QStringLiteral("ups_5-10k.zip")); }
    QByteArray expected(const QString &name) const
    {
        return testFiles::read(samples.filePath(QStringLiteral("expected/") + name));
    }
    QByteArray flashed(const QTemporaryDir &work, const QString &name) const
    {
        return testFiles::read(work.filePath(QStringLiteral("flashed/") + name));
    }

    // Runs ups-flash --json with a report; once, at the first progress of
    // arm.bin, runs `change`. The events, the status and the report.
    int flashWhile(const QStringList &args, const std::function<void()> &change, QList<QJsonObject> *events)
    {
        QProcess flash;
        flash.start(testPrograms::path("ups-flash"), QStringList {"--json", "--time-scale", kScale} + args);
        QString out;
        bool changed = false;
        QElapsedTimer clock;
        clock.start();
        while (flash.state() != QProcess::NotRunning && clock.elapsed() < testPrograms::kRunTimeoutMs) {
            flash.waitForReadyRead(50);
            out += QString::fromUtf8(flash.readAllStandardOutput());
            if (!changed && out.contains(QStringLiteral("\"image\":\"arm.bin\""))
                && out.contains(QStringLiteral("\"event\":\"progress\""))) {
                change();
                changed = true;
            }
        }
        if (!flash.waitForFinished(testPrograms::kRunTimeoutMs))
            flash.kill();
        out += QString::fromUtf8(flash.readAllStandardOutput());
        *events = jsonLines(out);
        return changed && flash.exitStatus() == QProcess::NormalExit ? flash.exitCode() : -1;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(samples.isValid() && keys.isValid());
        QCOMPARE(run("ups-pack", {QStringLiteral("--make-sample"), samples.path()}).status, 0);
    }

    // Each row changes files on disk at the first progress line of arm.bin:
    // the unit must still receive the checked bytes, and the report must
    // name the package that was checked and the digests of what was sent.
    void midRunChanges_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("extraction folder: image rewritten in place") << "image in place";
        QTest::newRow("extraction folder: image replaced by a rename") << "image renamed";
        QTest::newRow("extraction folder: translated image rewritten before its turn") << "translation";
        QTest::newRow("package replaced at the same path") << "package";
        QTest::newRow("a second flasher unpacks another package into the same folder") << "second flasher";
    }

    void midRunChanges()
    {
        QFETCH(QString, change);
        QTemporaryDir work;
        const QString package = work.filePath("ups_5-10k.zip");
        QVERIFY(QFile::copy(samplePackage(), package));
        const QByteArray packageBytes = testFiles::read(package);
        const QString other = work.filePath("other/ups_5-10k.ZIP");
        QVERIFY(QDir().mkpath(work.filePath("other")) && writeOtherPackage(other));
        simProcess sim;
        QVERIFY(sim.start(0, work.path(), {}));

        const QString folder = work.filePath("ups_5-10k/");
        const auto apply = [&] {
            if (change == "image in place")
                QVERIFY(testFiles::write(folder + "arm.bin", QByteArray(49000, char(0x5A))));
            else if (change == "image renamed")
                QVERIFY(replaceByRename(folder + "arm.bin", QByteArray(49000, char(0x5A))));
            else if (change == "translation")
                QVERIFY(testFiles::write(folder + "dsp.bin", QByteArray(98284, char(0x5A))));
            else if (change == "package")
                QVERIFY(replaceByRename(package, testFiles::read(other)));
            else if (change == "second flasher") {
                QVERIFY(QFile::copy(other, work.filePath("ups_5-10k.ZIP")));
                QCOMPARE(run("ups-flash", {"--dry-run", work.filePath("ups_5-10k.ZIP")}).status, 0);
            }
        };
        QList<QJsonObject> events;
        const QString report = work.filePath("report.jsonl");
        const int status = flashWhile({"--port", sim.link, "--report", report, package}, apply, &events);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(status, 0);

        QVERIFY(sameImage(flashed(work, "arm.bin"), expected("arm.bin")));
        QVERIFY(sameImage(flashed(work, "dsp.bin"), expected("dsp.bin")));
        const QList<QJsonObject> lines = jsonLines(QString::fromUtf8(testFiles::read(report)));
        QCOMPARE(lines.size(), 1);
        QCOMPARE(lines.first().value("package_sha256").toString(), sha256Hex(packageBytes));
        const QJsonArray images = lines.first().value("images").toArray();
        QCOMPARE(images.size(), 2);
        QCOMPARE(images.at(0).toObject().value("sha256").toString(), sha256Hex(expected("arm.bin")));
        QCOMPARE(images.at(1).toObject().value("sha256").toString(), sha256Hex(expected("dsp.bin")));
        QCOMPARE(events.first().value("package_sha256").toString(), sha256Hex(packageBytes));
    }

    // The package is read once: whatever the file holds after that read, the
    // signature check and the images kept are those of the bytes read.
    void packageChangedAfterItsRead_data()
    {
        QTest::addColumn<bool>("readSigned"); // the bytes read are the signed package
        QTest::newRow("signed when read, tampered afterwards: the signed images") << true;
        QTest::newRow("tampered when read, signed afterwards: refused") << false;
    }

    void packageChangedAfterItsRead()
    {
        QFETCH(bool, readSigned);
        QTemporaryDir work;
        QString problem;
        const QString keyId = signingKeys::generate(keys.filePath(QStringLiteral("maker%1").arg(readSigned)), &problem);
        QVERIFY2(!keyId.isEmpty(), qPrintable(problem));
        const QString keyPath = keys.filePath(QStringLiteral("maker%1").arg(readSigned));
        const QByteArray secret = signingKeys::readSecret(keyPath + ".key", &problem);
        const QByteArray good = packageWriter::withTrailer(QByteArray(3000, 'g'));
        const QByteArray bad = packageWriter::withTrailer(QByteArray(3000, 'b'));
        const QByteArray signature = packageSignature::build(
            secret, 0,
            {signedMember {"arm.bin", good.size(), QCryptographicHash::hash(good, QCryptographicHash::Sha256)}});
        const auto write = [&](const QByteArray &arm) {
            packageWriter writer(work.filePath("fw_5-10k.zip"));
            return writer.open() && writer.addRaw("arm.bin", arm) && writer.addRaw("SIGNATURE", signature)
                && writer.close();
        };
        QVERIFY(write(readSigned ? good : bad));
        const packageBytes read = packageBytes::read(work.filePath("fw_5-10k.zip"));
        QVERIFY(write(readSigned ? bad : good));

        zip pkg;
        QStringList lines;
        connect(&pkg, &zip::sendMessage, this, [&lines](const QString &line) { lines << line; });
        connect(&pkg, &zip::sendRefusal, this, [&lines](const QString &line) { lines << "refused: " + line; });
        pkg.setTrustedKeys(trustedKeys::fromFiles({keyPath + ".pub"}));
        pkg.extract(read, work.filePath("fw_5-10k"));
        if (readSigned) {
            QCOMPARE(pkg.packageSha256(), read.sha256());
            QCOMPARE(lines, QStringList {"signed by " + keyId});
            QVERIFY(pkg.addChecked(0, "arm.bin"));
            QCOMPARE(pkg.checkedFiles().value(0).bytes, QByteArray(3000, 'g'));
            QCOMPARE(testFiles::read(work.filePath("fw_5-10k/arm.bin")), QByteArray(3000, 'g'));
        } else {
            QCOMPARE(lines.size(), 1);
            QVERIFY2(lines.first().startsWith("refused: package refused: "), qPrintable(lines.first()));
            QCOMPARE(pkg.entryCount(), 0);
            QVERIFY(!QFileInfo::exists(work.filePath("fw_5-10k")));
        }
    }

    // What is no regular file is refused at once, never read until it ends.
    void notAPackage_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("a FIFO named like a package") << "fifo";
        QTest::newRow("/dev/zero itself") << "zero";
        QTest::newRow("a link to /dev/zero") << "link";
        QTest::newRow("a folder named like a package") << "folder";
    }

    void notAPackage()
    {
        QFETCH(QString, kind);
        QTemporaryDir work;
        QString path = work.filePath("fw_5-10k.zip");
        if (kind == "fifo")
            QCOMPARE(::mkfifo(qPrintable(path), 0600), 0);
        else if (kind == "zero")
            path = QStringLiteral("/dev/zero");
        else if (kind == "link")
            QVERIFY(QFile::link("/dev/zero", path));
        else
            QVERIFY(QDir().mkpath(path));

        QElapsedTimer clock;
        clock.start();
        const runResult r = run("ups-flash", {"--dry-run", path});
        QVERIFY2(clock.elapsed() < testWaitMs(1000), qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(r.status, 2);
        const QString why = kind == "folder" ? "it is a folder" : "it is not a regular file";
        QVERIFY2(r.err.contains("cannot read the package " + path + ": " + why), qPrintable(r.err));
        QVERIFY(!QFileInfo::exists(work.filePath("fw_5-10k/")) || kind == "folder");
    }

    // A file the user kept in the extraction folder is never replaced, by a
    // dry run or a flash; the unit gets the package's image all the same.
    void userFileLeftAlone_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("saved"); // what the unit saves it as
        QTest::newRow("the user's dsp.bin beside the object file") << "dsp.bin"
                                                                   << "dsp.bin";
        QTest::newRow("the user's own arm.bin") << "arm.bin"
                                                << "arm.bin";
    }

    void userFileLeftAlone()
    {
        QFETCH(QString, name);
        QFETCH(QString, saved);
        QTemporaryDir work;
        const QString package = work.filePath("ups_5-10k.zip");
        QVERIFY(QFile::copy(samplePackage(), package));
        const QString kept = work.filePath("ups_5-10k/") + name;
        QVERIFY(QDir().mkpath(work.filePath("ups_5-10k")));
        QVERIFY(testFiles::write(kept, "the user's own file"));

        const runResult dry = run("ups-flash", {"--dry-run", package});
        QVERIFY2(dry.status == 0, qPrintable(dry.out + dry.err));
        QVERIFY2(dry.out.contains(kept + " was left as it is: this tool did not write it"), qPrintable(dry.out));

        simProcess sim;
        QVERIFY(sim.start(0, work.path(), {}));
        const runResult flash = run("ups-flash", {"--port", sim.link, "--time-scale", kScale, package});
        QVERIFY2(flash.status == 0, qPrintable(flash.out + flash.err));
        QVERIFY(sameImage(flashed(work, saved), expected(saved)));
        QCOMPARE(testFiles::read(kept), QByteArray("the user's own file"));
    }

    // An object file that passes its digest check but is no C28x image: the
    // run fails before the port opens, the image before it is not sent either.
    void untranslatableObjectFileSendsNothing()
    {
        QTemporaryDir work;
        const QString package = work.filePath("fw_5-10k.zip");
        packageWriter writer(package);
        QVERIFY(writer.open() && writer.addImage("arm.bin", expected("arm.bin"))
                && writer.addImage("dsp.out", QByteArray(4000, 'x')) && writer.close());
        simProcess sim;
        QVERIFY(sim.start(0, work.path(), {}));

        const QString report = work.filePath("report.jsonl");
        const runResult r = run("ups-flash", {"--port", sim.link, "--time-scale", kScale, "--report", report, package});
        QCOMPARE(r.status, 1);
        QStringList images;
        for (const QJsonObject &line : jsonLines(QString::fromUtf8(testFiles::read(report)))) {
            for (const QJsonValue &image : line.value("images").toArray())
                images << image.toObject().value("name").toString() + ':' + image.toObject().value("result").toString()
                        + ':' + image.toObject().value("reason").toString();
        }
        QCOMPARE(images, QStringList({"arm.bin:not-sent:", "dsp.out:failed:translation-failed"}));
        sim.process.waitForReadyRead(200);
        QVERIFY(!sim.process.readAllStandardOutput().contains("job"));
        QVERIFY(QDir(work.filePath("flashed")).entryList(QDir::Files).isEmpty());
    }

    // The disk fills while the flat image is written beside the object file:
    // no job is handed to an engine, and no part image or temporary is left.
    void fullDiskWhileTranslatingSendsNothing()
    {
        QTemporaryDir work;
        QByteArray flat;
        const QString dir = work.filePath("fw_5-10k/");
        QVERIFY(QDir().mkpath(dir));
        QVERIFY(testFiles::write(dir + "arm.bin", expected("arm.bin")));
        QVERIFY(testFiles::write(dir + "dsp.out", coffWriter::sampleObjectFile(&flat)));
        filesUpdate queue;
        QSignalSpy jobs(&queue, &filesUpdate::sendParm);
        QSignalSpy failed(&queue, &filesUpdate::preparationFailed);
        QStringList log;
        connect(&queue, &filesUpdate::sendMessage, this, [&log](const QString &line) { log << line; });
        {
            const fileSizeLimit full(4096);
            queue.start(0, {testFiles::checked(0, dir + "arm.bin"), testFiles::checked(1, dir + "dsp.out")}, "ttyX");
        }
        QCOMPARE(jobs.count(), 0);
        QCOMPARE(failed.count(), 1);
        QVERIFY2(log.filter("cannot write " + dir + "dsp.bin: ").size() == 1, qPrintable(log.join('\n')));
        QCOMPARE(log.last(), dir + "dsp.outupdating failed!");
        QStringList left = QDir(dir).entryList(QDir::Files | QDir::Hidden);
        left.removeAll(QStringLiteral(".ups-written"));
        QCOMPARE(left, QStringList({"arm.bin", "dsp.out"}));
    }

    // A refusal before anything is sent is an error event, and what it
    // quotes from the package cannot cut or redraw the line.
    void refusalsAreWholeErrorLines()
    {
        QTemporaryDir work;
        QString problem;
        const QString keyPath = keys.filePath("names");
        QVERIFY(!signingKeys::generate(keyPath, &problem).isEmpty());
        const QByteArray secret = signingKeys::readSecret(keyPath + ".key", &problem);
        const QByteArray arm = packageWriter::withTrailer(QByteArray(3000, 'a'));
        const QString hostileName = QStringLiteral("dsp\x07\x1b[2J.out");
        const QList<signedMember> listed {
            {"arm.bin", arm.size(), QCryptographicHash::hash(arm, QCryptographicHash::Sha256)},
            {hostileName, 10, QByteArray(32, 'h')}};
        packageWriter writer(work.filePath("fw_5-10k.zip"));
        QVERIFY(writer.open() && writer.addRaw("arm.bin", arm)
                && writer.addRaw("SIGNATURE", packageSignature::build(secret, 0, listed)) && writer.close());

        const QStringList args {"--dry-run", "--trust", keyPath + ".pub", work.filePath("fw_5-10k.zip")};
        const QString line = "package refused: dsp\\x07\\x1b[2J.out was signed but is missing";
        const runResult json = run("ups-flash", QStringList {"--json"} + args);
        QCOMPARE(json.status, 2);
        QStringList errors;
        for (const QJsonObject &event : jsonLines(json.out)) {
            if (event.value("event") == "log" && event.value("level") == "error")
                errors << event.value("text").toString();
        }
        QCOMPARE(errors, QStringList {line});
        const runResult text = run("ups-flash", args);
        QCOMPARE(text.status, 2);
        QCOMPARE(text.err, line + '\n');
    }
};

QTEST_GUILESS_MAIN(TestCheckedBytes)
#include "test_checkedbytes.moc"
