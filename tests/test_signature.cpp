// Signed packages: a package altered after its maker signed it is refused
// before anything is unpacked, as soon as one key is trusted; with no key
// trusted every package reads as before.
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

#include "package/packagesignature.h"
#include "package/zip.h"
#include "tools/support/packagewriter.h"
#include "support/programs.h"
#include "support/testfiles.h"
#include "support/testtime.h"

namespace {

using memberList = QList<QPair<QString, QByteArray>>; // name, stored bytes

memberList honestMembers(char fill)
{
    return {{"arm.bin", packageWriter::withTrailer(QByteArray(3000, fill))},
            {"dsp.out", packageWriter::withTrailer(QByteArray(2000, char(fill + 1)))}};
}

QList<signedMember> listed(const memberList &members)
{
    QList<signedMember> list;
    for (const auto &m : members)
        list.append(
            signedMember {m.first, m.second.size(), QCryptographicHash::hash(m.second, QCryptographicHash::Sha256)});
    return list;
}

bool writePackage(const QString &path, const memberList &members)
{
    packageWriter writer(path);
    if (!writer.open())
        return false;
    for (const auto &m : members) {
        if (!writer.addRaw(m.first, m.second))
            return false;
    }
    return writer.close();
}

// What a key file's name may turn out to be besides a key: made at `path`;
// the name to give instead when the thing cannot be made there.
QString makeNonKey(const QString &kind, const QString &path)
{
    if (kind == "fifo")
        ::mkfifo(QFile::encodeName(path).constData(), 0644);
    else if (kind == "device")
        return QStringLiteral("/dev/zero");
    else if (kind == "link to a device")
        QFile::link(QStringLiteral("/dev/zero"), path);
    else if (kind == "folder")
        QDir().mkdir(path);
    else if (kind == "dangling link")
        QFile::link(path + QStringLiteral(".gone"), path);
    return path;
}

// A run of one of the programs that must end within a second: a hang
// shows as a status of -1. What it said on either stream goes to *said.
int runBriefly(const char *program, const QStringList &args, QString *said)
{
    QProcess p;
    p.start(testPrograms::path(program), args);
    if (!p.waitForFinished(testWaitMs(1000))) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    *said = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

} // namespace

class TestSignature : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir keys;
    QByteArray makerSecret;
    QString makerId;

    // The package after `change`, signed as the maker signed the honest one.
    memberList tampered(const QString &change)
    {
        memberList members = honestMembers('a');
        QByteArray signature = packageSignature::build(makerSecret, 0, listed(members));
        if (change == "one byte of an image, trailer rewritten") {
            QByteArray payload = members[0].second.left(3000);
            payload[1500] = char(payload.at(1500) ^ 1);
            members[0].second = packageWriter::withTrailer(payload);
        } else if (change == "member added") {
            members.append(qMakePair(QString("notes.txt"), QByteArray("added later")));
        } else if (change == "member removed") {
            members.removeLast();
        } else if (change == "member renamed") {
            members[1].first = "dsp_v2.out";
        } else if (change == "signature of another package") {
            signature = packageSignature::build(makerSecret, 0, listed(honestMembers('x')));
        } else if (change == "signature cut short") {
            signature.chop(signature.size() / 2);
        } else if (change == "signature garbled") {
            signature.replace("model 0", "model 7");
        } else if (change == "two signatures") {
            members.append(qMakePair(QString(packageSignature::kMemberName), signature));
        }
        if (change != "unsigned")
            members.append(qMakePair(QString(packageSignature::kMemberName), signature));
        return members;
    }

    QString keyFolder(const QString &trust, QTemporaryDir &work)
    {
        const QString folder = work.filePath("trusted-keys");
        QDir().mkpath(folder);
        if (trust.contains("maker"))
            QFile::copy(keys.filePath("maker.pub"), folder + "/maker.pub");
        if (trust.contains("other"))
            QFile::copy(keys.filePath("other.pub"), folder + "/other.pub");
        if (trust.contains("damaged"))
            testFiles::write(folder + "/broken.pub", "ups-ed25519-public not-base64!");
        return folder;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(keys.isValid());
        QString problem;
        makerId = signingKeys::generate(keys.filePath("maker"), &problem);
        QVERIFY2(!makerId.isEmpty(), qPrintable(problem));
        QVERIFY(!signingKeys::generate(keys.filePath("other"), &problem).isEmpty());
        makerSecret = signingKeys::readSecret(keys.filePath("maker.key"), &problem);
        QCOMPARE(makerSecret.size(), packageSignature::kSecretKeyLength);
        QCOMPARE(QFile(keys.filePath("maker.key")).permissions() & (QFile::ReadGroup | QFile::ReadOther),
                 QFileDevice::Permissions());
        QVERIFY(signingKeys::generate(keys.filePath("maker"), &problem).isEmpty()); // never overwritten
    }

    void packageChecked_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("trust"); // the keys in the trusted-keys folder
        QTest::addColumn<QString>("package");
        QTest::addColumn<bool>("listed");
        QTest::addColumn<QString>("line"); // a log line, MAKER standing for the maker's key id
        const QString name = "p_5-10k.zip";
        QTest::newRow("valid") << "none"
                               << "maker" << name << true << "signed by MAKER";
        QTest::newRow("valid, an unusable key beside the maker's")
            << "none"
            << "maker damaged" << name << true << "signed by MAKER";
        QTest::newRow("one byte of an image changed, trailer rewritten")
            << "one byte of an image, trailer rewritten"
            << "maker" << name << false << "package refused: arm.bin is not the file that was signed";
        QTest::newRow("member added") << "member added"
                                      << "maker" << name << false << "package refused: notes.txt was not signed";
        QTest::newRow("member removed") << "member removed"
                                        << "maker" << name << false
                                        << "package refused: dsp.out was signed but is missing";
        QTest::newRow("member renamed") << "member renamed"
                                        << "maker" << name << false
                                        << "package refused: dsp.out was signed but is missing";
        QTest::newRow("the signature of another package copied in")
            << "signature of another package"
            << "maker" << name << false << "package refused: arm.bin is not the file that was signed";
        QTest::newRow("signed by a key that is not trusted")
            << "none"
            << "other" << name << false << "package refused: it is signed by MAKER, a key that is not trusted";
        QTest::newRow("SIGNATURE cut short") << "signature cut short"
                                             << "maker" << name << false
                                             << "package refused: its SIGNATURE is damaged: it is cut short or not a "
                                                "signature";
        QTest::newRow("SIGNATURE garbled")
            << "signature garbled"
            << "maker" << name << false << "package refused: its SIGNATURE was not made by key MAKER";
        QTest::newRow("two SIGNATUREs") << "two signatures"
                                        << "maker" << name << false
                                        << "package refused: it holds more than one SIGNATURE";
        QTest::newRow("renamed to the other model") << "none"
                                                    << "maker"
                                                    << "p_15-20k.zip" << false
                                                    << "package refused: it was signed for model 0, its name makes it "
                                                       "model 1";
        QTest::newRow("unsigned, a key trusted") << "unsigned"
                                                 << "maker" << name << false << "package refused: it is not signed";
        QTest::newRow("unsigned, no key trusted") << "unsigned"
                                                  << "" << name << true << "";
        QTest::newRow("signed, no key trusted: its id is told")
            << "none"
            << "" << name << true << "signed by MAKER (not checked: no key is trusted)";
        QTest::newRow("tampered, no key trusted: read as before")
            << "member added"
            << "" << name << true << "signed by MAKER (not checked: no key is trusted)";
        QTest::newRow("only an unusable key: checking stays on")
            << "none"
            << "damaged" << name << false << "package refused: it is signed by MAKER, a key that is not trusted";
    }

    void packageChecked()
    {
        QFETCH(QString, change);
        QFETCH(QString, trust);
        QFETCH(QString, package);
        QFETCH(bool, listed);
        QFETCH(QString, line);
        QTemporaryDir work;
        const QString path = work.filePath(package);
        QVERIFY(writePackage(path, tampered(change)));

        zip reader;
        QStringList lines;
        const auto keep = [&lines](const QString &line) { lines << line; };
        QObject::connect(&reader, &zip::sendMessage, keep);
        QObject::connect(&reader, &zip::sendRefusal, keep);
        reader.setTrustedKeys(trust.isEmpty() ? trustedKeys() : trustedKeys::fromFolder(keyFolder(trust, work)));
        const QString dir = zip::extractionDir(path);
        reader.extract(path, dir);

        if (!line.isEmpty())
            QVERIFY2(lines.contains(QString(line).replace("MAKER", makerId)), qPrintable(lines.join('\n')));
        else
            QVERIFY2(lines.filter("sign", Qt::CaseInsensitive).isEmpty(), qPrintable(lines.join('\n')));
        QCOMPARE(lines.filter("cannot be used").size(), trust.contains("damaged") ? 1 : 0);
        if (!listed) {
            // Refused before anything was unpacked: not even the folder exists.
            QCOMPARE(reader.entryCount(), 0);
            QVERIFY(!QFileInfo::exists(dir));
            return;
        }
        int images = 0;
        for (int i = 0; i < reader.entryCount(); ++i)
            images += reader.isImage(reader.entryName(i)) ? 1 : 0;
        QCOMPARE(images, 2);
        QVERIFY(reader.checkedProblems().isEmpty());
        QCOMPARE(testFiles::read(dir + "/arm.bin"), QByteArray(3000, 'a'));
    }

    // A name that is no key file is refused at once with a line naming it,
    // never read from (a FIFO would block, /dev/zero never end), and the
    // key beside it still counts: checking stays on.
    void nonKeyRefusedAtOnce_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("inFolder"); // in the trusted-keys folder, or given as --trust is
        for (const char *kind : {"fifo", "device", "link to a device", "folder", "dangling link"}) {
            QTest::addRow("%s given", kind) << QString(kind) << false;
            if (QByteArray(kind) != "device")
                QTest::addRow("%s in the folder", kind) << QString(kind) << true;
        }
    }

    void nonKeyRefusedAtOnce()
    {
        QFETCH(QString, kind);
        QFETCH(bool, inFolder);
        QTemporaryDir work;
        const QString folder = work.filePath("trusted-keys");
        QVERIFY(QDir().mkdir(folder));
        QVERIFY(QFile::copy(keys.filePath("maker.pub"), folder + "/maker.pub"));
        const QString entry = makeNonKey(kind, folder + "/x.pub");

        QElapsedTimer clock;
        clock.start();
        const trustedKeys trust =
            inFolder ? trustedKeys::fromFolder(folder) : trustedKeys::fromFiles({folder + "/maker.pub", entry});
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(trust.isActive());
        QCOMPARE(trust.count(), 1);
        QCOMPARE(trust.problems().size(), 1);
        QVERIFY2(trust.problems().first().startsWith("the trusted key " + entry + " cannot be used: "),
                 qPrintable(trust.problems().first()));
    }

    // ups-flash trusts the user's folder and one beside ./ups.ini besides
    // --trust. A folder or key entry that cannot be read, or
    // --require-signed, keeps checking on with no key at all.
    void standingTrust_data()
    {
        QTest::addColumn<QString>("place"); // where the maker's key is, or what is there instead
        QTest::addColumn<bool>("required");
        QTest::addColumn<bool>("signedPackage");
        // 2: refused before anything; 1: accepted, then the filler image
        // fails the dry run's check of its verify code.
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("line"); // MAKER stands for the maker's key id
        QTest::newRow("no key: an unsigned package as before") << "none" << false << false << 1 << "would send";
        QTest::newRow("a key in the user's folder: signed, sent")
            << "user folder" << false << true << 1 << "signed by MAKER";
        QTest::newRow("a key in the user's folder: unsigned, refused")
            << "user folder" << false << false << 2 << "package refused: it is not signed";
        QTest::newRow("a key beside ./ups.ini: unsigned, refused")
            << "beside ups.ini" << false << false << 2 << "package refused: it is not signed";
        QTest::newRow("signature required, no key: unsigned, refused")
            << "none" << true << false << 2 << "package refused: it is not signed";
        QTest::newRow("signature required, no key: signed, refused")
            << "none" << true << true << 2 << "package refused: it is signed by MAKER, a key that is not trusted";
        QTest::newRow("require-signature in ./ups.ini, no key: unsigned, refused")
            << "required in ups.ini" << false << false << 2 << "package refused: it is not signed";
        QTest::newRow("require-signature=no in ./ups.ini: unsigned, as before")
            << "not required in ups.ini" << false << false << 1 << "would send";
        QTest::newRow("folder a link to nothing: unsigned, refused")
            << "folder a link to nothing" << false << false << 2 << "cannot be used: it is a link to nothing";
        QTest::newRow("only a dangling key: unsigned, refused")
            << "only a dangling key" << false << false << 2 << "package refused: it is not signed";
        QTest::newRow("folder unreadable: unsigned, refused")
            << "unreadable folder" << false << false << 2 << "cannot be used: it cannot be read";
    }

    void standingTrust()
    {
        QFETCH(QString, place);
        QFETCH(bool, required);
        QFETCH(bool, signedPackage);
        QFETCH(int, status);
        QFETCH(QString, line);
        if (place == "unreadable folder" && ::geteuid() == 0)
            QSKIP("root reads every folder");
        QTemporaryDir work;
        const QString user = qEnvironmentVariable("XDG_CONFIG_HOME") + "/ups/trusted-keys";
        QVERIFY(QDir().mkpath(QFileInfo(user).path()) && !QFileInfo::exists(user));
        if (place == "user folder" || place == "unreadable folder")
            QVERIFY(QDir().mkpath(user) && QFile::copy(keys.filePath("maker.pub"), user + "/maker.pub"));
        if (place == "unreadable folder")
            QVERIFY(QFile::setPermissions(user, QFileDevice::Permissions()));
        if (place.endsWith("required in ups.ini"))
            testFiles::write(work.filePath("ups.ini"),
                             place.startsWith("not") ? "[General]\nrequire-signature=no\n"
                                                     : "[General]\nrequire-signature=true\n");
        if (place == "beside ups.ini") {
            testFiles::write(work.filePath("ups.ini"), "");
            keyFolder("maker", work);
        } else if (place == "folder a link to nothing") {
            QVERIFY(QFile::link(work.filePath("gone"), user));
        } else if (place == "only a dangling key") {
            QVERIFY(QDir().mkpath(user) && QFile::link(work.filePath("gone.pub"), user + "/maker.pub"));
        }
        const QString path = work.filePath("p_5-10k.zip");
        QVERIFY(writePackage(path, tampered(signedPackage ? "none" : "unsigned")));

        QProcess flash;
        flash.setWorkingDirectory(work.path());
        QStringList args {"--dry-run", "--only", "arm.bin", path}; // dsp.out is filler, no object file
        if (required)
            args.prepend("--require-signed");
        flash.start(testPrograms::path("ups-flash"), args);
        QVERIFY(flash.waitForFinished(testWaitMs(5000)));
        const QString said = QString::fromUtf8(flash.readAllStandardOutput() + flash.readAllStandardError());
        QFile::setPermissions(user, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QFile::remove(user);
        QDir(user).removeRecursively();
        QVERIFY2(flash.exitCode() == status, qPrintable(said));
        QVERIFY2(said.contains(QString(line).replace("MAKER", makerId)), qPrintable(said));
    }

    void flashRefusesNonKeyTrust()
    {
        QTemporaryDir work;
        const QString fifo = makeNonKey("fifo", work.filePath("maker.pub"));
        QString said;
        QCOMPARE(runBriefly("ups-flash", {"--dry-run", "--trust", fifo, work.filePath("p_5-10k.zip")}, &said), 2);
        QVERIFY2(said.contains(fifo + " cannot be used"), qPrintable(said));
    }

    // A secret key that others may read is said once, and used all the same.
    void signWarnsOfAnOpenKey_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("warned");
        QTest::newRow("readable by everyone") << 0644 << true;
        QTest::newRow("writable by its group") << 0620 << true;
        QTest::newRow("owner only") << 0600 << false;
    }

    void signWarnsOfAnOpenKey()
    {
        QFETCH(int, mode);
        QFETCH(bool, warned);
        QTemporaryDir work;
        const QString key = work.filePath("maker.key");
        QVERIFY(QFile::copy(keys.filePath("maker.key"), key));
        QVERIFY(::chmod(QFile::encodeName(key).constData(), mode_t(mode)) == 0);
        const QString image = testFiles::writeIn(work, "arm.bin", QByteArray(100, 'a'));
        QString said;
        QCOMPARE(runBriefly("ups-pack", {"--sign", key, work.filePath("p_5-10k.zip"), image}, &said), 0);
        QCOMPARE(said.count("chmod 600 " + key), warned ? 1 : 0);
        QVERIFY2(said.contains("signed by " + makerId), qPrintable(said));
    }

    // What a listing holds is what was signed, byte for byte; a name that a
    // line break would split cannot be signed at all.
    void buildAndParse()
    {
        memberList members = honestMembers('q');
        members.append(qMakePair(QString("folder/with space.txt"), QByteArray("x")));
        const QByteArray text = packageSignature::build(makerSecret, 1, listed(members));
        packageSignature parsed;
        QString problem;
        QVERIFY2(parsed.parse(text, &problem), qPrintable(problem));
        QCOMPARE(parsed.keyId, makerId);
        QCOMPARE(parsed.model, 1);
        QCOMPARE(parsed.members.size(), 3);
        QCOMPARE(parsed.members.at(2).name, QString("folder/with space.txt"));
        QString unused;
        QVERIFY(parsed.isSignedBy(signingKeys::readPublic(keys.filePath("maker.pub"), &unused)));
        QVERIFY(!parsed.isSignedBy(signingKeys::readPublic(keys.filePath("other.pub"), &unused)));
        QVERIFY(packageSignature::build(makerSecret, 0, listed({qMakePair(QString("a\nb.bin"), QByteArray("x"))}))
                    .isEmpty());
        for (int cut = 0; cut < text.size(); cut += 7) {
            packageSignature partial;
            QVERIFY(!partial.parse(text.left(cut), &problem)
                    || !partial.isSignedBy(signingKeys::readPublic(keys.filePath("maker.pub"), &unused)));
        }
    }
};

QTEST_GUILESS_MAIN(TestSignature)
#include "test_signature.moc"
