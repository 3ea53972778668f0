#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QTemporaryDir>
#include <QtTest>

#include "package/zip.h"
#include "tools/support/packagewriter.h"

namespace {

const QByteArray kPayload = QByteArray("\x01\x02" "firmware image payload\xFF\x00", 26).repeated(40);

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Every path under root (symlinks not followed) with what it is: a link
// target, a file digest or a directory. Paths under `skip` are left out.
QMap<QString, QString> snapshot(const QString &root, const QString &skip)
{
    QMap<QString, QString> seen;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path == skip || path.startsWith(skip + QLatin1Char('/')))
            continue;
        const QFileInfo info(path);
        if (info.isSymLink())
            seen[path] = QStringLiteral("link:") + info.symLinkTarget();
        else if (info.isDir())
            seen[path] = QStringLiteral("dir");
        else
            seen[path] = QString::fromLatin1(
                    QCryptographicHash::hash(readFile(path), QCryptographicHash::Sha256).toHex());
    }
    return seen;
}

// Regular files under dir, relative, hidden ones included; "@" marks a symlink.
QStringList filesUnder(const QString &dir)
{
    QStringList found;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString rel = QDir(dir).relativeFilePath(path);
        found << (QFileInfo(path).isSymLink() ? QLatin1Char('@') + rel : rel);
    }
    found.sort();
    return found;
}

enum Hostile {
    DotDotNames, AbsoluteName, BackslashName, DriveLetter, SymlinkThenFileThroughIt,
    SymlinkOntoExistingFile, ExistingSymlinkAtDestination, ExistingSymlinkedSubfolder,
    CrcDamagedEntry, Truncated, NotAZip, EmptyZip
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
    void reextractionChecksAgain();
    void honestPackageUnpacksWhole();
    void checkedList_data();
    void checkedList();
    void hostileArchive_data();
    void hostileArchive();
    void packageVerify_data();
    void packageVerify();

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

    const QStringList model0{"arm.bin", "dsp.out"};
    const QStringList model1{"2U_20K_MONITOR.bin", "Inv_power33.out", "Rec_power33.out"};
    QTest::newRow("5-10k path") << "" << "fw_5-10k.zip" << 0 << model0;
    QTest::newRow("15-20k path") << "" << "fw_15-20k.zip" << 1 << model1;
    QTest::newRow("both strings, 5-10k wins") << "" << "fw_15-20k_5-10k.zip" << 0 << model0;
    QTest::newRow("neither keeps model 1") << "old_15-20k.zip" << "plain.zip" << 1 << model1;
    QTest::newRow("neither, first package") << "" << "plain.zip" << 0 << model0;
}

void TestPackage::modelChoice()
{
    QFETCH(QString, earlierPackage);
    QFETCH(QString, package);
    QFETCH(int, model);
    QFETCH(QStringList, listed);

    const QStringList all{"2U_20K_MONITOR.bin", "Inv_power33.out", "Rec_power33.out",
                          "arm.bin", "dsp.out", "notes.txt"};
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
        QCOMPARE(readFile(dir + "/" + name), kPayload + name.toUtf8());
}

void TestPackage::integrityCheck_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QByteArray>("expected"); // "<missing>" when removed

    const QByteArray good = packageWriter::withTrailer(kPayload);
    QTest::newRow("good trailer stripped") << "arm.bin" << good << kPayload;
    QTest::newRow("wrong trailer removed") << "arm.bin" << packageWriter::withTrailer(kPayload, true)
                                           << QByteArray("<missing>");
    QTest::newRow("empty image kept empty") << "arm.bin" << QByteArray() << QByteArray();
    QTest::newRow("bare digest gives empty image")
            << "arm.bin" << packageWriter::withTrailer(QByteArray()) << QByteArray();
    QTest::newRow("containment name checked") << "dsp.out.bak" << good << kPayload;
    QTest::newRow("other model's name untouched") << "Inv_power33.out" << good << good;
    QTest::newRow("non-image untouched") << "readme.txt" << good << good;
}

void TestPackage::integrityCheck()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, stored);
    QFETCH(QByteArray, expected);

    const QString path = base() + "/fw_5-10k.zip";
    packageWriter writer(path);
    QVERIFY(writer.open());
    QVERIFY(writer.addRaw(name, stored));
    QVERIFY(writer.close());

    zip pkg;
    pkg.extract(path, base() + "/fw_5-10k");
    QCOMPARE(pkg.entryCount(), 1); // a removed image is still counted
    QCOMPARE(pkg.entryName(0), name);
    QCOMPARE(readFile(base() + "/fw_5-10k/" + name), expected);
}

void TestPackage::modelOnePackageFirstIsChecked()
{
    const QString path = makeImagePackage("fw_15-20k.zip", {"Inv_power33.out"});
    zip pkg;
    pkg.extract(path, base() + "/fw_15-20k");
    QCOMPARE(pkg.modelId(), 1);
    QCOMPARE(readFile(base() + "/fw_15-20k/Inv_power33.out"), kPayload + "Inv_power33.out");
}

void TestPackage::reextractionChecksAgain()
{
    const QString path = makeImagePackage("fw_5-10k.zip", {"arm.bin"});
    const QString image = base() + "/fw_5-10k/arm.bin";
    zip pkg;
    pkg.extract(path, base() + "/fw_5-10k");
    QVERIFY(writeFile(image, "tampered after the first check"));
    pkg.extract(path, base() + "/fw_5-10k");
    QCOMPARE(readFile(image), kPayload + "arm.bin");
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
    QVERIFY(writeFile(dir + "/docs/readme.txt", "old notes that are longer"));

    zip pkg;
    pkg.extract(path, dir);
    QCOMPARE(filesUnder(dir), QStringList({"arm.bin", "docs/readme.txt", "sub/deeper/x.dat"}));
    QVERIFY(QFileInfo(dir + "/empty").isDir());
    QCOMPARE(readFile(dir + "/docs/readme.txt"), QByteArray("new notes"));
    QCOMPARE(readFile(dir + "/arm.bin"), kPayload);
    QCOMPARE(pkg.entryCount(), 1); // subfolders are unpacked, never scanned
}

// Operations: "+row:name" adds, "-name" removes, "0" clears. Results and the
// final list ("row:fileName" per record) are compared.
void TestPackage::checkedList_data()
{
    QTest::addColumn<QStringList>("operations");
    QTest::addColumn<QString>("results");
    QTest::addColumn<QStringList>("finalList");

    QTest::newRow("adds in call order") << QStringList{"+1:dsp.out", "+0:arm.bin"} << "11"
                                        << QStringList{"1:dsp.out", "1:dsp.out.bak", "0:arm.bin"};
    QTest::newRow("duplicate refused") << QStringList{"+0:arm.bin", "+5:arm.bin"} << "10"
                                       << QStringList{"0:arm.bin"};
    QTest::newRow("contained name refused") << QStringList{"+0:arm.bin", "+3:arm"} << "10"
                                            << QStringList{"0:arm.bin"};
    QTest::newRow("one name, several entries") << QStringList{"+2:dsp.out"} << "1"
                                               << QStringList{"2:dsp.out", "2:dsp.out.bak"};
    QTest::newRow("name matching no entry") << QStringList{"+4:Rec_power33"} << "1" << QStringList{};
    QTest::newRow("remove absent") << QStringList{"+0:arm.bin", "-dsp.out"} << "10"
                                   << QStringList{"0:arm.bin"};
    QTest::newRow("remove takes first match only")
            << QStringList{"+2:dsp.out", "-dsp.out"} << "11" << QStringList{"2:dsp.out.bak"};
    QTest::newRow("re-add after remove keeps new row")
            << QStringList{"+0:arm.bin", "-arm.bin", "+7:arm.bin"} << "111"
            << QStringList{"7:arm.bin"};
    QTest::newRow("clear empties") << QStringList{"+0:arm.bin", "0"} << "1" << QStringList{};
}

void TestPackage::checkedList()
{
    QFETCH(QStringList, operations);
    QFETCH(QString, results);
    QFETCH(QStringList, finalList);

    const QString path = makeImagePackage("fw_5-10k.zip", {"arm.bin", "dsp.out", "dsp.out.bak"});
    zip pkg;
    pkg.extract(path, base() + "/fw_5-10k");
    QString got;
    for (const QString &op : qAsConst(operations)) {
        if (op.startsWith('+')) {
            const int colon = op.indexOf(':');
            got += pkg.addChecked(op.mid(1, colon - 1).toInt(), op.mid(colon + 1)) ? '1' : '0';
        } else if (op.startsWith('-')) {
            got += pkg.removeChecked(op.mid(1)) ? '1' : '0';
        } else {
            pkg.clearChecked();
        }
    }
    QCOMPARE(got, results);
    QStringList list;
    for (const checkedFile &file : pkg.checkedFiles()) {
        QCOMPARE(QFileInfo(file.path).absolutePath(), base() + "/fw_5-10k");
        list << QString::number(file.row) + ':' + QFileInfo(file.path).fileName();
    }
    QCOMPARE(list, finalList);
}

void TestPackage::hostileArchive_data()
{
    QTest::addColumn<Hostile>("kind");
    QTest::addColumn<QStringList>("inside"); // regular files left under the extraction dir

    const QStringList honest{"arm.bin"};
    QTest::newRow("dot-dot names") << DotDotNames << honest;
    QTest::newRow("absolute name") << AbsoluteName << honest;
    QTest::newRow("backslash name") << BackslashName << honest;
    QTest::newRow("drive letter") << DriveLetter << honest;
    QTest::newRow("symlink entry, then file through it")
            << SymlinkThenFileThroughIt << QStringList{"arm.bin", "lnk/victim.txt"};
    QTest::newRow("symlink onto existing file") << SymlinkOntoExistingFile
                                               << QStringList{"arm.bin", "evil"};
    QTest::newRow("existing symlink at destination") << ExistingSymlinkAtDestination << honest;
    QTest::newRow("existing symlinked subfolder") << ExistingSymlinkedSubfolder
                                                  << honest;
    QTest::newRow("crc-damaged entry") << CrcDamagedEntry << QStringList{"dsp.out"};
    QTest::newRow("truncated") << Truncated << QStringList{};
    QTest::newRow("not a zip") << NotAZip << QStringList{};
    QTest::newRow("empty zip") << EmptyZip << QStringList{};
}

void TestPackage::hostileArchive()
{
    QFETCH(Hostile, kind);
    QFETCH(QStringList, inside);

    const QString outside = base() + "/outside";
    const QString victim = outside + "/victim.txt";
    const QString pkgPath = base() + "/fw_5-10k.zip";
    const QString dir = base() + "/fw_5-10k";
    QVERIFY(QDir().mkpath(outside));
    QVERIFY(writeFile(victim, "original"));

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
        const QByteArray whole = readFile(pkgPath);
        QVERIFY(writeFile(pkgPath, whole.left(whole.size() - 30)));
    }
    if (kind == NotAZip)
        QVERIFY(writeFile(pkgPath, "this is plain text, not an archive"));

    const QMap<QString, QString> before = snapshot(base(), dir);
    zip pkg;
    pkg.extract(pkgPath, dir);

    QCOMPARE(snapshot(base(), dir), before); // nothing outside changed or added
    QCOMPARE(readFile(victim), QByteArray("original"));
    QCOMPARE(filesUnder(dir).join(QLatin1Char(',')), inside.join(QLatin1Char(',')));
    if (inside.contains("arm.bin"))
        QCOMPARE(readFile(dir + "/arm.bin"), kPayload);
}

// The reader behind the package tool's verification: every member is judged
// on its CRC and its trailer; symlinks and folders are not members.
void TestPackage::packageVerify_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("verdict"); // "name:intact:trailerOk" per member, or "unreadable"

    QTest::newRow("honest image") << "" << "arm.bin:1:1";
    QTest::newRow("wrong trailer") << "wrong" << "arm.bin:1:0";
    QTest::newRow("file shorter than a trailer") << "short" << "arm.bin:1:0";
    QTest::newRow("damaged crc") << "crc" << "arm.bin:0:0";
    QTest::newRow("symlink and folder skipped") << "extras" << "arm.bin:1:1";
    QTest::newRow("not a zip") << "text" << "unreadable";
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
        QVERIFY(writeFile(path, "plain text"));

    bool readable = false;
    const QList<packageMemberCheck> members = packageWriter::verify(path, &readable);
    QStringList got;
    for (const packageMemberCheck &m : members)
        got << QStringLiteral("%1:%2:%3").arg(m.name).arg(int(m.intact)).arg(int(m.trailerOk));
    QCOMPARE(readable ? got.join(' ') : QStringLiteral("unreadable"), verdict);
}

QTEST_GUILESS_MAIN(TestPackage)
#include "test_package.moc"
