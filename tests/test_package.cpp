#include <algorithm>

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

#include "package/zip.h"
#include "tools/support/coffwriter.h"
#include "tools/support/packagewriter.h"
#include "update/filesupdate.h"
#include "util/ownfiles.h"
#include "support/testfiles.h"

namespace {

const QByteArray kPayload = QByteArray("\x01\x02"
                                       "firmware image payload\xFF\x00",
                                       26)
                                .repeated(40);
// What an absent file reads as here, so that a file that should exist but
// does not never compares equal to an empty one.
const QByteArray kMissing("<missing>");

// Every path under root (symlinks not followed) with what it is: a link
// target, a file digest or a directory. Paths under `skip` are left out, and
// so are the exact paths in `skipExactly` (a skipped folder's contents are
// still compared).
QMap<QString, QString> snapshot(const QString &root, const QString &skip, const QSet<QString> &skipExactly = {})
{
    QMap<QString, QString> seen;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if ((!skip.isEmpty() && (path == skip || path.startsWith(skip + QLatin1Char('/'))))
            || skipExactly.contains(path))
            continue;
        const QFileInfo info(path);
        if (info.isSymLink())
            seen[path] = QStringLiteral("link:") + info.symLinkTarget();
        else if (info.isDir())
            seen[path] = QStringLiteral("dir");
        else
            seen[path] = QString::fromLatin1(
                QCryptographicHash::hash(testFiles::read(path, kMissing), QCryptographicHash::Sha256).toHex());
    }
    return seen;
}

// Regular files under dir, relative, hidden ones included; "@" marks a symlink.
// Files and links under dir, but for the record of what the tool wrote there.
QStringList filesUnder(const QString &dir)
{
    QStringList found;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString rel = QDir(dir).relativeFilePath(path);
        if (rel == QLatin1String(ownFiles::kRecordName))
            continue;
        found << (QFileInfo(path).isSymLink() ? QLatin1Char('@') + rel : rel);
    }
    found.sort();
    return found;
}

QString problemName(zip::ImageProblem problem)
{
    static const char *const names[] = {"NoProblem", "DigestMismatch", "Damaged",   "NotAFile",
                                        "TooLarge",  "NotWritten",     "Ambiguous", "SeveralNames"};
    const int i = int(problem);
    return i >= 0 && i < int(sizeof names / sizeof *names) ? QLatin1String(names[i]) : QStringLiteral("?%1").arg(i);
}

// What the window lists of a package: "name:Problem" per image entry.
QStringList listing(const zip &pkg)
{
    QStringList seen;
    for (int i = 0; i < pkg.entryCount(); ++i) {
        if (pkg.isImage(pkg.entryName(i)))
            seen << pkg.entryName(i) + QLatin1Char(':') + problemName(pkg.entryProblem(i));
    }
    return seen;
}

QString cannotBeSent(const QString &name, zip::ImageProblem problem)
{
    return QStringLiteral("%1 cannot be sent: %2").arg(name, zip::problemText(problem));
}

// One member of a package built on disk. Specs: "NAME" an image with its
// trailer, "NAME=KIND" with KIND one of: obj (an object file image), crc (its
// CRC damaged), lie (its declared size over the bound), big (17 MiB of zeros),
// raw:N (N bytes, no trailer), bare (a digest of nothing), t33 (1 byte and its
// digest), dir (a folder entry), link (a symlink entry to a victim outside).
struct member
{
    QString name;
    QString kind;
    QByteArray stored;  // the bytes in the archive
    QByteArray payload; // what a passing image becomes
    qint64 declared = 0;
};

constexpr quint32 kLyingSize = 20u * 1024 * 1024;

member makeMember(const QString &description, int index, const QString &victim, QByteArray *flat)
{
    member m;
    const int eq = description.lastIndexOf(QLatin1Char('='));
    m.name = eq < 0 ? description : description.left(eq);
    m.kind = eq < 0 ? QString() : description.mid(eq + 1);
    // Same-named duplicates get contents of the same size but not the same bytes.
    m.payload = kPayload + m.name.toUtf8() + char('0' + index % 10);
    if (m.kind == QLatin1String("obj"))
        m.payload = coffWriter::sampleObjectFile(flat);
    else if (m.kind == QLatin1String("big"))
        m.payload = QByteArray(int(zip::kMaxMemberSize + 1024 * 1024), '\0');
    else if (m.kind == QLatin1String("t33"))
        m.payload = QByteArray("Z");
    else if (m.kind == QLatin1String("bare"))
        m.payload.clear();
    m.stored = packageWriter::withTrailer(m.payload);
    if (m.kind.startsWith(QLatin1String("raw:"))) {
        m.stored = QByteArray(m.kind.mid(4).toInt(), 'r');
        m.payload = m.stored;
    } else if (m.kind == QLatin1String("dir")) {
        m.stored.clear();
    } else if (m.kind == QLatin1String("link")) {
        m.stored = victim.toUtf8();
    }
    m.declared = m.kind == QLatin1String("lie") ? qint64(kLyingSize) : qint64(m.stored.size());
    return m;
}

bool writePackage(const QString &path, const QList<member> &members)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    packageWriter writer(path);
    if (!writer.open())
        return false;
    for (const member &m : members) {
        const bool added = m.kind == QLatin1String("dir") ? writer.addDirectory(m.name)
            : m.kind == QLatin1String("link")             ? writer.addSymlink(m.name, QString::fromUtf8(m.stored))
                                                          : writer.addRaw(m.name, m.stored);
        if (!added)
            return false;
    }
    if (!writer.close())
        return false;
    for (const member &m : members) {
        if (m.kind == QLatin1String("crc") && !packageWriter::damageCrc(path, m.name))
            return false;
        if (m.kind == QLatin1String("lie") && !packageWriter::setDeclaredSize(path, m.name, kLyingSize))
            return false;
    }
    return true;
}

// What was there before the package: "file:REL" a user's file, "image:REL" a
// user's image with a valid trailer, "link:REL" a symlink to a victim outside.
bool placeBefore(const QString &root, const QString &description, int index)
{
    const int colon = description.indexOf(QLatin1Char(':'));
    const QString kind = description.left(colon);
    const QString path = root + QLatin1Char('/') + description.mid(colon + 1);
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    if (kind == QLatin1String("file"))
        return testFiles::write(path, "a user's own file, no trailer: " + path.toUtf8());
    if (kind == QLatin1String("image"))
        return testFiles::write(path, packageWriter::withTrailer("a user's own image " + path.toUtf8()));
    const QString victim = root + QStringLiteral("/outside/victim-%1.txt").arg(index);
    return kind == QLatin1String("link") && testFiles::write(victim, "victim " + victim.toUtf8())
        && QFile::link(victim, path);
}

// What a file the row expects written must hold: a member's payload when it
// passed as an image, the member whole when it is no image, the flat image
// when it is the translation of an object file.
QByteArray expectedContent(const QList<member> &members, const QStringList &listed, const QString &rel,
                           const QByteArray &flat)
{
    for (int i = members.size() - 1; i >= 0; --i) {
        if (members.at(i).name == rel)
            return listed.contains(rel + QStringLiteral(":NoProblem")) ? members.at(i).payload : members.at(i).stored;
    }
    const QString object = rel.left(rel.size() - 4) + QStringLiteral(".out");
    for (const member &m : members) {
        if (rel.endsWith(QLatin1String(".bin")) && m.name == object && m.kind == QLatin1String("obj"))
            return flat;
    }
    return QByteArray("<no expectation for " + rel.toUtf8() + '>');
}

// The queue run dry over the ticked images that passed (what goes out once
// the failed ones are unticked): "engine:image:row:file" per job, engine 0 or
// 1 for the first or second board; `folders` gets each job's folder.
QStringList dryRun(const zip &pkg, QStringList *folders)
{
    QList<checkedFile> intact;
    for (const checkedFile &file : pkg.checkedFiles()) {
        for (int i = 0; i < pkg.entryCount(); ++i) {
            if (pkg.entryPath(i) == file.path) {
                if (pkg.entryProblem(i) == zip::NoProblem)
                    intact << file;
                break;
            }
        }
    }
    filesUpdate queue;
    QStringList jobs;
    bool ended = false;
    const auto record = [&](int engine, const updateParm &job) {
        jobs << QStringLiteral("%1:%2:%3:%4")
                    .arg(engine)
                    .arg(job.imageIndex)
                    .arg(job.row)
                    .arg(QFileInfo(job.imagePath).fileName());
        *folders << QFileInfo(job.imagePath).absolutePath();
    };
    QObject::connect(&queue, &filesUpdate::sendParm, [&](updateParm job) { record(0, job); });
    QObject::connect(&queue, &filesUpdate::sendParm1, [&](updateParm job) { record(1, job); });
    QObject::connect(&queue, &filesUpdate::runEnded, [&](bool) { ended = true; });
    queue.start(pkg.modelId(), intact, QStringLiteral("/dev/null"));
    for (int i = 0; i < 8 && !ended; ++i)
        queue.updateFinish(true);
    return jobs;
}

enum Hostile {
    DotDotNames,
    AbsoluteName,
    BackslashName,
    DriveLetter,
    SymlinkThenFileThroughIt,
    SymlinkOntoExistingFile,
    ExistingSymlinkAtDestination,
    ExistingSymlinkedSubfolder,
    CrcDamagedEntry,
    Truncated,
    NotAZip,
    EmptyZip
};

} // namespace

Q_DECLARE_METATYPE(Hostile)

class TestPackage : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void modelChoice_data();
    void modelChoice();
    void integrityCheck_data();
    void integrityCheck();
    void modelOnePackageFirstIsChecked();
    void reextractionReplacesOnlyOwnFiles();
    void honestPackageUnpacksWhole();
    void checkedList_data();
    void checkedList();
    void hostileArchive_data();
    void hostileArchive();
    void packageVerify_data();
    void packageVerify();
    void imageNameRules_data();
    void imageNameRules();
    void packageOnDisk_data();
    void packageOnDisk();

private:
    QString base() const { return tmp->path(); }
    QString makeImagePackage(const QString &name, const QStringList &images);

    QScopedPointer<QTemporaryDir> tmp;
};

void TestPackage::init()
{
    tmp.reset(new QTemporaryDir);
    QVERIFY(tmp->isValid());
}

QString TestPackage::makeImagePackage(const QString &name, const QStringList &images)
{
    const QString path = base() + QLatin1Char('/') + name;
    packageWriter writer(path);
    if (!writer.open())
        return QString();
    for (const QString &image : images)
        writer.addImage(image, kPayload + image.toUtf8());
    return writer.close() ? path : QString();
}

void TestPackage::modelChoice_data()
{
    QTest::addColumn<QString>("earlierPackage");
    QTest::addColumn<QString>("package");
    QTest::addColumn<int>("model");
    QTest::addColumn<QStringList>("listed");

    const QStringList model0 {"arm.bin", "dsp.out"};
    const QStringList model1 {"2U_20K_MONITOR.bin", "Inv_power33.out", "Rec_power33.out"};
    QTest::newRow("5-10k path") << ""
                                << "fw_5-10k.zip" << 0 << model0;
    QTest::newRow("15-20k path") << ""
                                 << "fw_15-20k.zip" << 1 << model1;
    QTest::newRow("both strings, 5-10k wins") << ""
                                              << "fw_15-20k_5-10k.zip" << 0 << model0;
    QTest::newRow("neither keeps model 1") << "old_15-20k.zip"
                                           << "plain.zip" << 1 << model1;
    QTest::newRow("neither, first package") << ""
                                            << "plain.zip" << 0 << model0;
}

void TestPackage::modelChoice()
{
    QFETCH(QString, earlierPackage);
    QFETCH(QString, package);
    QFETCH(int, model);
    QFETCH(QStringList, listed);

    const QStringList all {"2U_20K_MONITOR.bin", "Inv_power33.out", "Rec_power33.out", "arm.bin", "dsp.out",
                           "notes.txt"};
    zip pkg;
    if (!earlierPackage.isEmpty()) {
        const QString earlier = makeImagePackage(earlierPackage, all);
        pkg.extract(earlier, earlier.left(earlier.indexOf(".zip")));
    }
    const QString path = makeImagePackage(package, all);
    const QString dir = path.left(path.indexOf(".zip"));
    pkg.extract(path, dir);

    QCOMPARE(pkg.modelId(), model);
    QStringList images;
    for (int i = 0; i < pkg.entryCount(); ++i) {
        if (pkg.isImage(pkg.entryName(i)))
            images << pkg.entryName(i);
    }
    listed.sort(Qt::CaseInsensitive);
    QCOMPARE(images, listed);
    for (const QString &name : qAsConst(listed))
        QCOMPARE(testFiles::read(dir + "/" + name, kMissing), kPayload + name.toUtf8());
}

void TestPackage::integrityCheck_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QByteArray>("expected"); // "<missing>" when removed
    QTest::addColumn<QStringList>("listed");

    const QByteArray good = packageWriter::withTrailer(kPayload);
    const QByteArray missing("<missing>");
    QTest::newRow("good trailer stripped") << "arm.bin" << good << kPayload << QStringList {"arm.bin:NoProblem"};
    QTest::newRow("wrong trailer removed")
        << "arm.bin" << packageWriter::withTrailer(kPayload, true) << missing << QStringList {"arm.bin:DigestMismatch"};
    QTest::newRow("empty image fails") << "arm.bin" << QByteArray() << missing
                                       << QStringList {"arm.bin:DigestMismatch"};
    QTest::newRow("bare digest of nothing fails")
        << "arm.bin" << packageWriter::withTrailer(QByteArray()) << missing << QStringList {"arm.bin:DigestMismatch"};
    QTest::newRow("longer name is no image, left whole") << "dsp.out.bak" << good << good << QStringList {};
    QTest::newRow("other model's name untouched") << "Inv_power33.out" << good << good << QStringList {};
    QTest::newRow("non-image untouched") << "readme.txt" << good << good << QStringList {};
}

void TestPackage::integrityCheck()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, stored);
    QFETCH(QByteArray, expected);
    QFETCH(QStringList, listed);

    const QString path = base() + "/fw_5-10k.zip";
    packageWriter writer(path);
    QVERIFY(writer.open());
    QVERIFY(writer.addRaw(name, stored));
    QVERIFY(writer.close());

    zip pkg;
    pkg.extract(path, base() + "/fw_5-10k");
    QCOMPARE(listing(pkg), listed); // a removed image is still listed
    QCOMPARE(testFiles::read(base() + "/fw_5-10k/" + name, kMissing), expected);
}

void TestPackage::modelOnePackageFirstIsChecked()
{
    const QString path = makeImagePackage("fw_15-20k.zip", {"Inv_power33.out"});
    zip pkg;
    pkg.extract(path, base() + "/fw_15-20k");
    QCOMPARE(pkg.modelId(), 1);
    QCOMPARE(testFiles::read(base() + "/fw_15-20k/Inv_power33.out", kMissing), kPayload + "Inv_power33.out");
}

// The tool's own image is written again; one changed since is no longer
// the tool's and is left alone, while the image sent is the checked one.
void TestPackage::reextractionReplacesOnlyOwnFiles()
{
    const QString path = makeImagePackage("fw_5-10k.zip", {"arm.bin", "dsp.out"});
    const QString arm = base() + "/fw_5-10k/arm.bin";
    const QString dsp = base() + "/fw_5-10k/dsp.out";
    zip pkg;
    QSignalSpy log(&pkg, &zip::sendMessage);
    pkg.extract(path, base() + "/fw_5-10k");
    QVERIFY(testFiles::write(arm, "changed after the first check"));
    pkg.extract(path, base() + "/fw_5-10k");
    QCOMPARE(testFiles::read(arm, kMissing), QByteArray("changed after the first check"));
    QCOMPARE(testFiles::read(dsp, kMissing), kPayload + "dsp.out");
    QCOMPARE(log.count(), 1);
    QCOMPARE(log.at(0).at(0).toString(), ownFiles::leftAloneLine(arm));
    QVERIFY(pkg.addChecked(0, "arm.bin"));
    QCOMPARE(pkg.checkedFiles().value(0).bytes, kPayload + "arm.bin");
    QVERIFY(pkg.checkedProblems().isEmpty());
}

void TestPackage::honestPackageUnpacksWhole()
{
    const QString path = base() + "/fw_5-10k.zip";
    const QString dir = base() + "/fw_5-10k";
    packageWriter writer(path);
    QVERIFY(writer.open());
    QVERIFY(writer.addImage("arm.bin", kPayload));
    QVERIFY(writer.addDirectory("empty"));
    QVERIFY(writer.addRaw("docs/readme.txt", "new notes"));
    QVERIFY(writer.addRaw("./sub//deeper/x.dat", "deep"));
    QVERIFY(writer.close());
    QVERIFY(QDir().mkpath(dir + "/docs"));
    QVERIFY(testFiles::write(dir + "/docs/readme.txt", "old notes that are longer"));

    zip pkg;
    pkg.extract(path, dir);
    QCOMPARE(filesUnder(dir), QStringList({"arm.bin", "docs/readme.txt", "sub/deeper/x.dat"}));
    QVERIFY(QFileInfo(dir + "/empty").isDir());
    // Someone's notes were there before: this tool did not write them.
    QCOMPARE(testFiles::read(dir + "/docs/readme.txt", kMissing), QByteArray("old notes that are longer"));
    QCOMPARE(testFiles::read(dir + "/arm.bin", kMissing), kPayload);
    QCOMPARE(pkg.entryCount(), 1); // subfolders are unpacked, never scanned
}

// Operations: "+row:name" adds, "-name" removes, "0" clears, "=" goes on with
// a second package that took over the listing. Results and the final list
// ("row:fileName" per record) are compared.
void TestPackage::checkedList_data()
{
    QTest::addColumn<QStringList>("operations");
    QTest::addColumn<QString>("results");
    QTest::addColumn<QStringList>("finalList");

    QTest::newRow("adds in call order") << QStringList {"+1:dsp.out", "+0:arm.bin"} << "11"
                                        << QStringList {"1:dsp.out", "0:arm.bin"};
    QTest::newRow("duplicate refused") << QStringList {"+0:arm.bin", "+5:arm.bin"} << "10" << QStringList {"0:arm.bin"};
    QTest::newRow("same row refused") << QStringList {"+0:arm.bin", "+0:dsp.out"} << "10" << QStringList {"0:arm.bin"};
    QTest::newRow("contained name ticks nothing")
        << QStringList {"+0:arm.bin", "+3:arm"} << "11" << QStringList {"0:arm.bin"};
    QTest::newRow("one name, one entry, not the longer name")
        << QStringList {"+2:dsp.out"} << "1" << QStringList {"2:dsp.out"};
    QTest::newRow("name matching no entry") << QStringList {"+4:Rec_power33"} << "1" << QStringList {};
    QTest::newRow("remove absent") << QStringList {"+0:arm.bin", "-dsp.out"} << "10" << QStringList {"0:arm.bin"};
    QTest::newRow("remove needs the exact name")
        << QStringList {"+2:dsp.out", "-dsp", "-sp.out"} << "100" << QStringList {"2:dsp.out"};
    QTest::newRow("remove takes that name only")
        << QStringList {"+2:dsp.out", "+0:arm.bin", "-dsp.out"} << "111" << QStringList {"0:arm.bin"};
    QTest::newRow("re-add after remove keeps new row")
        << QStringList {"+0:arm.bin", "-arm.bin", "+7:arm.bin"} << "111" << QStringList {"7:arm.bin"};
    QTest::newRow("clear empties") << QStringList {"+0:arm.bin", "0"} << "1" << QStringList {};
    QTest::newRow("taken-over listing keeps ticks and entries")
        << QStringList {"+2:dsp.out", "=", "+0:arm.bin", "-dsp.out", "+5:dsp.out"} << "1111"
        << QStringList {"0:arm.bin", "5:dsp.out"};
}

void TestPackage::checkedList()
{
    QFETCH(QStringList, operations);
    QFETCH(QString, results);
    QFETCH(QStringList, finalList);

    const QString path = makeImagePackage("fw_5-10k.zip", {"arm.bin", "dsp.out", "dsp.out.bak"});
    zip original;
    original.extract(path, base() + "/fw_5-10k");
    zip taker;
    zip *pkg = &original;
    QString got;
    for (const QString &op : qAsConst(operations)) {
        if (op.startsWith('+')) {
            const int colon = op.indexOf(':');
            got += pkg->addChecked(op.mid(1, colon - 1).toInt(), op.mid(colon + 1)) ? '1' : '0';
        } else if (op.startsWith('-')) {
            got += pkg->removeChecked(op.mid(1)) ? '1' : '0';
        } else if (op == QLatin1String("=")) {
            taker.copyListing(original);
            pkg = &taker;
        } else {
            pkg->clearChecked();
        }
    }
    QCOMPARE(got, results);
    QCOMPARE(pkg->entryCount(), original.entryCount());
    QCOMPARE(pkg->modelId(), original.modelId());
    QStringList list;
    for (const checkedFile &file : pkg->checkedFiles()) {
        QCOMPARE(QFileInfo(file.path).absolutePath(), base() + "/fw_5-10k");
        list << QString::number(file.row) + ':' + QFileInfo(file.path).fileName();
    }
    QCOMPARE(list, finalList);
}

void TestPackage::hostileArchive_data()
{
    QTest::addColumn<Hostile>("kind");
    QTest::addColumn<QStringList>("inside"); // regular files left under the extraction dir
    QTest::addColumn<QStringList>("listed");

    const QStringList honest {"arm.bin"};
    const QStringList armListed {"arm.bin:NoProblem"};
    QTest::newRow("dot-dot names") << DotDotNames << honest << armListed;
    QTest::newRow("absolute name") << AbsoluteName << honest << armListed;
    QTest::newRow("backslash name") << BackslashName << honest << armListed;
    QTest::newRow("drive letter") << DriveLetter << honest << armListed;
    QTest::newRow("symlink entry, then file through it")
        << SymlinkThenFileThroughIt << QStringList {"arm.bin", "lnk/victim.txt"} << armListed;
    QTest::newRow("symlink onto existing file")
        << SymlinkOntoExistingFile << QStringList {"arm.bin", "evil"} << armListed;
    // Left alone, never followed; the checked image is still sendable.
    QTest::newRow("existing symlink at destination")
        << ExistingSymlinkAtDestination << QStringList {"@arm.bin"} << armListed;
    QTest::newRow("existing symlinked subfolder") << ExistingSymlinkedSubfolder << honest << armListed;
    // A damaged image is not written but stays listed, failed.
    QTest::newRow("crc-damaged entry") << CrcDamagedEntry << QStringList {"dsp.out"}
                                       << QStringList {"arm.bin:Damaged", "dsp.out:NoProblem"};
    QTest::newRow("truncated") << Truncated << QStringList {} << QStringList {};
    QTest::newRow("not a zip") << NotAZip << QStringList {} << QStringList {};
    QTest::newRow("empty zip") << EmptyZip << QStringList {} << QStringList {};
}

void TestPackage::hostileArchive()
{
    QFETCH(Hostile, kind);
    QFETCH(QStringList, inside);
    QFETCH(QStringList, listed);

    const QString outside = base() + "/outside";
    const QString victim = outside + "/victim.txt";
    const QString pkgPath = base() + "/fw_5-10k.zip";
    const QString dir = base() + "/fw_5-10k";
    QVERIFY(QDir().mkpath(outside));
    QVERIFY(testFiles::write(victim, "original"));

    packageWriter writer(pkgPath);
    QVERIFY(writer.open());
    switch (kind) {
    case DotDotNames:
        writer.addRaw("../outside/victim.txt", "hacked");
        writer.addRaw("a/../../escape.txt", "hacked");
        break;
    case AbsoluteName:
        writer.addRaw(victim, "hacked");
        break;
    case BackslashName:
        writer.addRaw("..\\outside\\victim.txt", "hacked");
        break;
    case DriveLetter:
        writer.addRaw("C:escape.txt", "hacked");
        writer.addRaw("C:/escape.txt", "hacked");
        break;
    case SymlinkThenFileThroughIt:
        writer.addSymlink("lnk", outside);
        writer.addRaw("lnk/victim.txt", "hacked");
        break;
    case SymlinkOntoExistingFile:
        writer.addSymlink("evil", victim);
        writer.addRaw("evil", "hacked");
        break;
    case ExistingSymlinkAtDestination:
        QVERIFY(QDir().mkpath(dir));
        QVERIFY(QFile::link(victim, dir + "/arm.bin"));
        break;
    case ExistingSymlinkedSubfolder:
        QVERIFY(QDir().mkpath(dir));
        QVERIFY(QFile::link(outside, dir + "/sub"));
        writer.addRaw("sub/victim.txt", "hacked");
        break;
    case CrcDamagedEntry:
        writer.addImage("dsp.out", kPayload);
        break;
    default:
        break;
    }
    if (kind != EmptyZip && kind != CrcDamagedEntry)
        QVERIFY(writer.addImage("arm.bin", kPayload));
    if (kind == CrcDamagedEntry)
        QVERIFY(writer.addImage("arm.bin", kPayload));
    QVERIFY(writer.close());

    if (kind == CrcDamagedEntry)
        QVERIFY(packageWriter::damageCrc(pkgPath, "arm.bin"));
    if (kind == Truncated) {
        const QByteArray whole = testFiles::read(pkgPath, kMissing);
        QVERIFY(testFiles::write(pkgPath, whole.left(whole.size() - 30)));
    }
    if (kind == NotAZip)
        QVERIFY(testFiles::write(pkgPath, "this is plain text, not an archive"));

    const QMap<QString, QString> before = snapshot(base(), dir);
    zip pkg;
    pkg.extract(pkgPath, dir);

    QCOMPARE(snapshot(base(), dir), before); // nothing outside changed or added
    QCOMPARE(testFiles::read(victim, kMissing), QByteArray("original"));
    QCOMPARE(filesUnder(dir).join(QLatin1Char(',')), inside.join(QLatin1Char(',')));
    QCOMPARE(listing(pkg), listed);
    if (inside.contains("arm.bin"))
        QCOMPARE(testFiles::read(dir + "/arm.bin", kMissing), kPayload);
    if (listed.contains("arm.bin:NoProblem")) {
        QVERIFY(pkg.addChecked(0, "arm.bin"));
        QCOMPARE(pkg.checkedFiles().value(0).bytes, kPayload);
    }
}

// The reader behind the package tool's verification: every member is judged
// on its CRC and its trailer; symlinks and folders are not members.
void TestPackage::packageVerify_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("verdict"); // "name:intact:trailerOk" per member, or "unreadable"

    QTest::newRow("honest image") << ""
                                  << "arm.bin:1:1";
    QTest::newRow("wrong trailer") << "wrong"
                                   << "arm.bin:1:0";
    QTest::newRow("file shorter than a trailer") << "short"
                                                 << "arm.bin:1:0";
    QTest::newRow("damaged crc") << "crc"
                                 << "arm.bin:0:0";
    QTest::newRow("symlink and folder skipped") << "extras"
                                                << "arm.bin:1:1";
    QTest::newRow("not a zip") << "text"
                               << "unreadable";
}

void TestPackage::packageVerify()
{
    QFETCH(QString, fault);
    QFETCH(QString, verdict);

    const QString path = base() + "/p.zip";
    packageWriter writer(path);
    QVERIFY(writer.open());
    if (fault == "short")
        QVERIFY(writer.addRaw("arm.bin", "tiny"));
    else
        QVERIFY(writer.addImage("arm.bin", kPayload, fault == "wrong"));
    if (fault == "extras") {
        QVERIFY(writer.addSymlink("lnk", "/etc"));
        QVERIFY(writer.addDirectory("docs"));
    }
    QVERIFY(writer.close());
    if (fault == "crc")
        QVERIFY(packageWriter::damageCrc(path, "arm.bin"));
    if (fault == "text")
        QVERIFY(testFiles::write(path, "plain text"));

    bool readable = false;
    const QList<packageMemberCheck> members = packageWriter::verify(path, &readable);
    QStringList got;
    for (const packageMemberCheck &m : members)
        got << QStringLiteral("%1:%2:%3").arg(m.name).arg(int(m.intact)).arg(int(m.trailerOk));
    QCOMPARE(readable ? got.join(' ') : QStringLiteral("unreadable"), verdict);
}

// Which file names are images of a model: containment of the name and an
// exact ".bin"/".out" ending, never folders.
void TestPackage::imageNameRules_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("index"); // imageIndexOf; -2: a path, not asked
    QTest::addColumn<bool>("image");

    QTest::newRow("exact name: arm.bin") << 0 << "arm.bin" << 0 << true;
    QTest::newRow("exact name: dsp.out") << 0 << "dsp.out" << 1 << true;
    QTest::newRow("exact name: monitor") << 1 << "2U_20K_MONITOR.bin" << 0 << true;
    QTest::newRow("exact name: rectifier") << 1 << "Rec_power33.out" << 2 << true;
    QTest::newRow("longer name: Inv_power33_v2.out") << 1 << "Inv_power33_v2.out" << 1 << true;
    QTest::newRow("longer name: xarm.bin") << 0 << "xarm.bin" << 0 << true;
    QTest::newRow("leading space") << 0 << " arm.bin" << 0 << true;
    QTest::newRow("trailing space") << 0 << "arm.bin " << -1 << false;
    QTest::newRow("text after the extension: arm.bin.old") << 0 << "arm.bin.old" << -1 << false;
    QTest::newRow("text after the extension: dsp.out.bak") << 0 << "dsp.out.bak" << -1 << false;
    QTest::newRow("case: name") << 0 << "ARM.bin" << -1 << false;
    QTest::newRow("case: extension") << 1 << "Inv_power33.OUT" << -1 << false;
    QTest::newRow("other extension") << 1 << "Inv_power33.txt" << -1 << false;
    QTest::newRow("other model's name, model 0") << 0 << "Inv_power33.out" << -1 << false;
    QTest::newRow("other model's name, model 1") << 1 << "arm.bin" << -1 << false;
    QTest::newRow("several names: the first counts") << 0 << "arm.bin_dsp.out" << 0 << true;
    QTest::newRow("empty name") << 0 << "" << -1 << false;
    QTest::newRow("path: folder named like an image") << 0 << "arm.bin/notes.bin" << -2 << false;
    QTest::newRow("path: file name after such folders") << 1 << "x/Inv_power33.out/Rec_power33.out" << -2 << true;
}

void TestPackage::imageNameRules()
{
    QFETCH(int, model);
    QFETCH(QString, name);
    QFETCH(int, index);
    QFETCH(bool, image);

    if (index != -2)
        QCOMPARE(zip::imageIndexOf(model, name), index);
    zip pkg;
    if (model == 1) {
        const QString path = base() + "/m_15-20k.zip";
        packageWriter writer(path);
        QVERIFY(writer.open() && writer.addRaw("readme.txt", "no images") && writer.close());
        pkg.extract(path, base() + "/m_15-20k");
        QCOMPARE(pkg.modelId(), 1);
    }
    QCOMPARE(pkg.isImage(name), image);
}

// Real packages on disk, each in its own folder: what is listed (and why an
// image fails), what the ticked list says, what the queue would send to which
// engine, which files are written, and that nothing else changed.
void TestPackage::packageOnDisk_data()
{
    QTest::addColumn<QString>("package");     // under the row's folder
    QTest::addColumn<QStringList>("members"); // see makeMember
    QTest::addColumn<QStringList>("before");  // see placeBefore
    QTest::addColumn<QString>("scenario");    // "", moved, folder
    QTest::addColumn<QString>("dir");         // the extraction folder; "" when refused
    QTest::addColumn<int>("model");
    QTest::addColumn<QStringList>("listed");  // "name:Problem" per image entry
    QTest::addColumn<QStringList>("sent");    // "engine:image:row:file" per job
    QTest::addColumn<QStringList>("written"); // under the extraction folder; "x/": a folder may appear

    const auto row = [](const char *name, const QString &package, const QStringList &members, const QStringList &before,
                        const QString &dir, int model, const QStringList &listed, const QStringList &sent,
                        const QStringList &written, const QString &scenario = QString()) {
        QTest::newRow(name) << package << members << before << scenario << dir << model << listed << sent << written;
    };
    const QStringList m0 {"arm.bin", "dsp.out=obj"};
    const QStringList m0Listed {"arm.bin:NoProblem", "dsp.out:NoProblem"};
    const QStringList m0Sent {"0:0:0:arm.bin", "0:1:1:dsp.bin"};
    const QStringList m0Written {"arm.bin", "dsp.out", "dsp.bin"};
    const QStringList dspOnly {"0:1:1:dsp.bin"};
    const QStringList dspWritten {"dsp.out", "dsp.bin"};

    row("image name in package name: arm.bin_5-10k.zip", "arm.bin_5-10k.zip", m0, {}, "arm.bin_5-10k", 0, m0Listed,
        m0Sent, m0Written);
    row("image name in package name, model 1: 2U_20K_MONITOR_15-20k.zip", "2U_20K_MONITOR_15-20k.zip",
        {"Inv_power33.out=obj", "Rec_power33.out=obj"}, {}, "2U_20K_MONITOR_15-20k", 1,
        {"Inv_power33.out:NoProblem", "Rec_power33.out:NoProblem"}, {"1:1:0:Inv_power33.bin", "1:2:1:Rec_power33.bin"},
        {"Inv_power33.out", "Inv_power33.bin", "Rec_power33.out", "Rec_power33.bin"});
    row("image name in folder name: dsp.out/", "dsp.out/fw_5-10k.zip", m0, {}, "dsp.out/fw_5-10k", 0, m0Listed, m0Sent,
        m0Written);
    row("image name in folder name: arm.bin/", "arm.bin/fw_5-10k.zip", m0, {}, "arm.bin/fw_5-10k", 0, m0Listed, m0Sent,
        m0Written);
    row("image name in folder name, model 1: Inv_power33.out/", "Inv_power33.out/fw_15-20k.zip",
        {"2U_20K_MONITOR.bin", "Rec_power33.out=obj"}, {}, "Inv_power33.out/fw_15-20k", 1,
        {"2U_20K_MONITOR.bin:NoProblem", "Rec_power33.out:NoProblem"},
        {"1:0:0:2U_20K_MONITOR.bin", "1:2:1:Rec_power33.bin"},
        {"2U_20K_MONITOR.bin", "Rec_power33.out", "Rec_power33.bin"});

    row("longer names: arm.bin.old and dsp.out.bak are no images", "fw_5-10k.zip",
        m0 + QStringList {"arm.bin.old", "dsp.out.bak"}, {}, "fw_5-10k", 0, m0Listed, m0Sent,
        m0Written + QStringList {"arm.bin.old", "dsp.out.bak"});
    row("longer names: Inv_power33_v2.out is the inverter", "fw_15-20k.zip",
        {"2U_20K_MONITOR.bin", "Inv_power33_v2.out=obj"}, {}, "fw_15-20k", 1,
        {"2U_20K_MONITOR.bin:NoProblem", "Inv_power33_v2.out:NoProblem"},
        {"1:0:0:2U_20K_MONITOR.bin", "1:1:1:Inv_power33_v2.bin"},
        {"2U_20K_MONITOR.bin", "Inv_power33_v2.out", "Inv_power33_v2.bin"});
    row("several names in one: arm.bin_dsp.out", "fw_5-10k.zip", {"arm.bin_dsp.out"}, {}, "fw_5-10k", 0,
        {"arm.bin_dsp.out:SeveralNames"}, {}, {});

    row("duplicate: same member name twice, an earlier file at the target", "fw_5-10k.zip",
        {"arm.bin", "arm.bin", "dsp.out=obj"}, {"file:fw_5-10k/arm.bin"}, "fw_5-10k", 0,
        {"arm.bin:Ambiguous", "arm.bin:Ambiguous", "dsp.out:NoProblem"}, {"0:1:2:dsp.bin"}, dspWritten);
    row("duplicate: arm.bin and xarm.bin", "fw_5-10k.zip", {"arm.bin", "xarm.bin", "dsp.out=obj"}, {}, "fw_5-10k", 0,
        {"arm.bin:Ambiguous", "dsp.out:NoProblem", "xarm.bin:Ambiguous"}, dspOnly, dspWritten);
    row("duplicate, model 1: Rec_power33.out and Rec_power33_b.out", "fw_15-20k.zip",
        {"2U_20K_MONITOR.bin", "Rec_power33.out=obj", "Rec_power33_b.out=obj"}, {}, "fw_15-20k", 1,
        {"2U_20K_MONITOR.bin:NoProblem", "Rec_power33.out:Ambiguous", "Rec_power33_b.out:Ambiguous"},
        {"1:0:0:2U_20K_MONITOR.bin"}, {"2U_20K_MONITOR.bin"});
    row("spaces: leading space beside the plain name", "fw_5-10k.zip", {" arm.bin", "arm.bin", "dsp.out=obj"}, {},
        "fw_5-10k", 0, {" arm.bin:Ambiguous", "arm.bin:Ambiguous", "dsp.out:NoProblem"}, {"0:1:2:dsp.bin"}, dspWritten);
    row("spaces: leading space alone is the ARM image", "fw_5-10k.zip", {" arm.bin", "dsp.out=obj"}, {}, "fw_5-10k", 0,
        {" arm.bin:NoProblem", "dsp.out:NoProblem"}, {"0:0:0: arm.bin", "0:1:1:dsp.bin"},
        {" arm.bin", "dsp.out", "dsp.bin"});
    row("spaces: trailing space is no image", "fw_5-10k.zip", {"arm.bin ", "dsp.out=obj"}, {}, "fw_5-10k", 0,
        {"dsp.out:NoProblem"}, {"0:1:0:dsp.bin"}, {"arm.bin ", "dsp.out", "dsp.bin"});

    row("damaged member: CRC error, an earlier file at the target", "fw_5-10k.zip", {"arm.bin=crc", "dsp.out=obj"},
        {"file:fw_5-10k/arm.bin"}, "fw_5-10k", 0, {"arm.bin:Damaged", "dsp.out:NoProblem"}, dspOnly, dspWritten);
    row("not a file: folder entry named like an image", "fw_5-10k.zip", {"arm.bin=dir", "dsp.out=obj"}, {}, "fw_5-10k",
        0, {"arm.bin:NotAFile", "dsp.out:NoProblem"}, dspOnly, dspWritten + QStringList {"arm.bin/"});
    row("not a file: link entry named like an image", "fw_5-10k.zip", {"arm.bin=link", "dsp.out=obj"}, {}, "fw_5-10k",
        0, {"arm.bin:NotAFile", "dsp.out:NoProblem"}, dspOnly, dspWritten);
    // What is in the way was not written by this tool: it stays, and the
    // checked image is sent from memory.
    row("left alone: a folder in the way at the target", "fw_5-10k.zip", m0, {"file:fw_5-10k/arm.bin/keep.txt"},
        "fw_5-10k", 0, m0Listed, m0Sent, dspWritten);
    row("too large: 17 MiB image", "fw_5-10k.zip", {"arm.bin=big", "dsp.out=obj"}, {}, "fw_5-10k", 0,
        {"arm.bin:TooLarge", "dsp.out:NoProblem"}, dspOnly, dspWritten);
    row("too large: declared size over the bound, few bytes inside", "fw_5-10k.zip", {"arm.bin=lie", "dsp.out=obj"}, {},
        "fw_5-10k", 0, {"arm.bin:TooLarge", "dsp.out:NoProblem"}, dspOnly, dspWritten);
    for (const int size : {0, 1, 2, 31, 32})
        row(qPrintable(QStringLiteral("short image: %1 bytes").arg(size)), "fw_5-10k.zip",
            {QStringLiteral("arm.bin=raw:%1").arg(size)}, {}, "fw_5-10k", 0, {"arm.bin:DigestMismatch"}, {}, {});
    row("short image: a digest of nothing", "fw_5-10k.zip", {"arm.bin=bare"}, {}, "fw_5-10k", 0,
        {"arm.bin:DigestMismatch"}, {}, {});
    row("short image: 1 byte and its digest passes", "fw_5-10k.zip", {"arm.bin=t33"}, {}, "fw_5-10k", 0,
        {"arm.bin:NoProblem"}, {"0:0:0:arm.bin"}, {"arm.bin"});

    row("link at the output left alone: unpacked member", "fw_5-10k.zip", m0 + QStringList {"notes.txt"},
        {"link:fw_5-10k/notes.txt"}, "fw_5-10k", 0, m0Listed, m0Sent, m0Written);
    row("link at the output left alone: stripped images", "fw_5-10k.zip", m0,
        {"link:fw_5-10k/arm.bin", "link:fw_5-10k/dsp.out"}, "fw_5-10k", 0, m0Listed, m0Sent, {"dsp.bin"});
    row("link at the output left alone: translated image", "fw_5-10k.zip", m0, {"link:fw_5-10k/dsp.bin"}, "fw_5-10k", 0,
        m0Listed, m0Sent, {"arm.bin", "dsp.out"});
    row("user files: an ARM image beside a package of dsp.out only", "fw_5-10k.zip", {"dsp.out=obj"},
        {"image:fw_5-10k/arm.bin", "file:fw_5-10k/readme.txt"}, "fw_5-10k", 0, {"dsp.out:NoProblem"}, {"0:1:0:dsp.bin"},
        dspWritten);
    row("user files, model 1: monitor and rectifier beside a package of the inverter only", "fw_15-20k.zip",
        {"Inv_power33.out=obj"}, {"image:fw_15-20k/2U_20K_MONITOR.bin", "image:fw_15-20k/Rec_power33.out"}, "fw_15-20k",
        1, {"Inv_power33.out:NoProblem"}, {"1:1:0:Inv_power33.bin"}, {"Inv_power33.out", "Inv_power33.bin"});
    row("not a package: moved away after a first opening", "fw_5-10k.zip", m0, {}, "fw_5-10k", 0, m0Listed, m0Sent,
        m0Written, "moved");
    row("not a package: the remembered folder", "fw_5-10k.zip", {}, {"image:fw_5-10k/arm.bin", "file:fw_5-10k/dsp.out"},
        "fw_5-10k", 0, {}, {}, {}, "folder");

    row("package name: .zip in a folder name", "dl.zip.d/pack_5-10k.zip", m0, {}, "dl.zip.d/pack_5-10k", 0, m0Listed,
        m0Sent, m0Written);
    row("package name: upper-case .ZIP", "a/PACK_5-10k.ZIP", m0, {}, "a/PACK_5-10k", 0, m0Listed, m0Sent, m0Written);
    row("package name: only .zip", "pkgs/.zip", m0, {}, "", 0, {}, {}, {});
    row("package name: not ending in .zip", "fw_5-10k.zip.part", m0, {}, "", 0, {}, {}, {});
    row("model: from the folder when the file name names none", "15-20k/fw.zip", {"2U_20K_MONITOR.bin"}, {},
        "15-20k/fw", 1, {"2U_20K_MONITOR.bin:NoProblem"}, {"1:0:0:2U_20K_MONITOR.bin"}, {"2U_20K_MONITOR.bin"});
    row("model: the file name before the folder", "old_5-10k/pack_15-20k.zip",
        {"2U_20K_MONITOR.bin", "Inv_power33.out=obj", "arm.bin"}, {}, "old_5-10k/pack_15-20k", 1,
        {"2U_20K_MONITOR.bin:NoProblem", "Inv_power33.out:NoProblem"},
        {"1:0:0:2U_20K_MONITOR.bin", "1:1:1:Inv_power33.bin"},
        {"2U_20K_MONITOR.bin", "Inv_power33.out", "Inv_power33.bin", "arm.bin"});
}

void TestPackage::packageOnDisk()
{
    QFETCH(QString, package);
    QFETCH(QStringList, members);
    QFETCH(QStringList, before);
    QFETCH(QString, scenario);
    QFETCH(QString, dir);
    QFETCH(int, model);
    QFETCH(QStringList, listed);
    QFETCH(QStringList, sent);
    QFETCH(QStringList, written);

    const QString victim = base() + "/outside/victim.txt";
    QVERIFY(QDir().mkpath(base() + "/outside"));
    QVERIFY(testFiles::write(victim, "original"));
    QByteArray flat;
    QList<member> parts;
    for (int i = 0; i < members.size(); ++i)
        parts << makeMember(members.at(i), i, victim, &flat);
    const QString path = base() + '/' + package;
    if (scenario == "folder")
        QVERIFY(QDir().mkpath(path));
    else
        QVERIFY(writePackage(path, parts));
    for (int i = 0; i < before.size(); ++i)
        QVERIFY2(placeBefore(base(), before.at(i), i), qPrintable(before.at(i)));

    const QString target = dir.isEmpty() ? QString() : base() + '/' + dir;
    QCOMPARE(zip::extractionDir(path), target);
    // Everything but the files this row writes (and the folder they go to)
    // must come out of the opening and the dry run as it was.
    QSet<QString> own;
    if (!target.isEmpty())
        own << target << target + '/' + ownFiles::kRecordName;
    for (const QString &rel : qAsConst(written))
        own << target + '/' + (rel.endsWith('/') ? rel.chopped(1) : rel);
    const QMap<QString, QString> untouched = snapshot(base(), QString(), own);

    zip pkg;
    QStringList log;
    connect(&pkg, &zip::sendMessage, this, [&log](const QString &line) { log << line; });
    connect(&pkg, &zip::sendRefusal, this, [&log](const QString &line) { log << line; });
    pkg.extract(path, target);

    QCOMPARE(pkg.modelId(), model);
    QCOMPARE(listing(pkg), listed);
    QStringList names;
    QStringList failures;
    for (int i = 0; i < pkg.entryCount(); ++i) {
        const QString name = pkg.entryName(i);
        if (!pkg.isImage(name))
            continue;
        names << name;
        QCOMPARE(pkg.entryPath(i), target + '/' + name);
        const auto m = std::find_if(parts.cbegin(), parts.cend(),
                                    [&](const member &p) { return p.name == name || p.name == name + '/'; });
        QVERIFY(m != parts.cend());
        const bool passed = pkg.entryProblem(i) == zip::NoProblem;
        QCOMPARE(pkg.entrySize(i), passed ? qint64(m->payload.size()) : m->declared);
        if (!passed)
            failures << cannotBeSent(name, pkg.entryProblem(i));
    }
    QStringList said = log.filter(QStringLiteral(" cannot be sent: "));
    said.sort();
    failures.sort();
    QCOMPARE(said, failures);
    if (scenario == "folder")
        QCOMPARE(log, QStringList());
    if (dir.isEmpty())
        QVERIFY2(log.size() > said.size(), "a refused package says so");

    // Everything listed is ticked, the failed ones with a line saying why.
    for (int row = 0; row < names.size(); ++row)
        pkg.addChecked(row, names.at(row));
    QStringList ticked;
    for (const checkedFile &file : pkg.checkedFiles())
        ticked << QFileInfo(file.path).fileName();
    ticked.removeDuplicates();
    names.removeDuplicates();
    QCOMPARE(ticked, names);
    QStringList problems = pkg.checkedProblems();
    problems.removeDuplicates();
    problems.sort();
    failures.removeDuplicates();
    QCOMPARE(problems, failures);

    QStringList folders;
    QCOMPARE(dryRun(pkg, &folders), sent);
    for (const QString &folder : qAsConst(folders))
        QCOMPARE(folder, target);

    for (const QString &rel : qAsConst(written)) {
        const QFileInfo file(target + '/' + (rel.endsWith('/') ? rel.chopped(1) : rel));
        if (rel.endsWith('/')) {
            QVERIFY2(!file.exists() || (file.isDir() && !file.isSymLink()), qPrintable(rel));
            continue;
        }
        QVERIFY2(file.isFile() && !file.isSymLink(), qPrintable(rel));
        QCOMPARE(testFiles::read(file.filePath(), kMissing), expectedContent(parts, listed, rel, flat));
    }
    QCOMPARE(snapshot(base(), QString(), own), untouched);
    QCOMPARE(testFiles::read(victim, kMissing), QByteArray("original"));

    if (scenario == "moved") {
        QVERIFY(QDir().mkpath(base() + "/elsewhere"));
        QVERIFY(QFile::rename(path, base() + "/elsewhere/" + QFileInfo(path).fileName()));
        const QMap<QString, QString> earlier = snapshot(base(), QString());
        log.clear();
        pkg.extract(path, target);
        QCOMPARE(pkg.entryCount(), 0);
        QVERIFY2(!log.isEmpty(), "a package that is gone is reported");
        QCOMPARE(snapshot(base(), QString()), earlier);
    }
}

QTEST_GUILESS_MAIN(TestPackage)
#include "test_package.moc"
