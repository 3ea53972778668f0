// Translation of object files into flat images, with files made by the
// object-file writer; every expected image is spelled out byte for byte.
#include "tools/support/coffwriter.h"
#include "update/common.h"
#include "util/ownfiles.h"
#include "support/testfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {
using Section = coffWriter::Section;
using Sections = QVector<Section>;

constexpr quint32 kA = 0x3E8000;   // first start address
constexpr quint32 kB = 0x3E0000;   // second start address
constexpr quint32 kEnd = 0x3F3FFF; // end bound

const QString kFormatError = QStringLiteral("file format error!\n");
const QString kTranslatingFail = QStringLiteral("translating fail!\n");
const QString kSuccess = QStringLiteral("translating success!\n");
const QString kStartError = QStringLiteral("start address error!\n");

Section sec(quint32 address, const char *hex, quint32 flags = coffWriter::kFlagText)
{
    return coffWriter::loaded("s", address, QByteArray::fromHex(hex), flags);
}

Section withRun(Section s, quint32 run)
{
    s.runAddress = run;
    return s;
}

Section withLoad(Section s, quint32 load)
{
    s.loadAddress = load;
    return s;
}

Section withSize(Section s, quint32 words)
{
    s.sizeWords = words;
    return s;
}

Section withOffset(Section s, qint64 offset)
{
    s.dataOffsetOverride = offset;
    return s;
}

Section withoutData(Section s)
{
    s.hasRawData = false;
    return s;
}

QByteArray hex(const char *h)
{
    return QByteArray::fromHex(h);
}

QByteArray ff(int bytes)
{
    return QByteArray(bytes, char(0xFF));
}

QByteArray objectFileBytes(const Sections &sections)
{
    coffWriter w;
    for (const Section &s : sections)
        w.addSection(s);
    return w.build();
}

QStringList messagesOf(const QSignalSpy &spy)
{
    QStringList out;
    for (const QList<QVariant> &args : spy)
        out << args.at(0).toString();
    return out;
}

QStringList lines(std::initializer_list<QString> l)
{
    return QStringList(l);
}

// Every entry of a folder, hidden ones too: a leftover temporary shows here.
QStringList entriesOf(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}
} // namespace

class TestObjectFile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void image_data();
    void image();
    void headerCut_data();
    void headerCut();
    void outputName_data();
    void outputName();
    void sampleFlashBuild();
    void outputReplacedOnlyWhenOwn_data();
    void outputReplacedOnlyWhenOwn();
    void inputNamedLikeOutputKept();
    void emptyPath();
    void missingInput();
    void appendFailures_data();
    void appendFailures();

private:
    struct Outcome
    {
        QString result;
        QStringList messages;
        QByteArray output;
        QStringList entries; // of the folder afterwards
    };
    Outcome translate(const QByteArray &object);

    QScopedPointer<QTemporaryDir> m_dir;
};

void TestObjectFile::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
}

TestObjectFile::Outcome TestObjectFile::translate(const QByteArray &object)
{
    const QString in = m_dir->filePath("dsp.out");
    testFiles::write(in, object);
    common util;
    QSignalSpy spy(&util, &common::sendMessage);
    Outcome o;
    o.result = util.translateFile(in);
    o.messages = messagesOf(spy);
    o.output = testFiles::read(m_dir->filePath("dsp.bin"));
    o.entries = entriesOf(m_dir->path());
    return o;
}

// Each row: an object file, the log lines, and the flat image left on disk
// (the whole image on success, nothing on failure).
void TestObjectFile::image_data()
{
    QTest::addColumn<QByteArray>("object");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QByteArray>("output");

    const auto ok = lines({kSuccess});
    const auto formatError = lines({kFormatError});
    const auto buildFail = lines({kTranslatingFail});
    const auto startFail = lines({kStartError, kTranslatingFail});
    const auto add = [](const char *name, const Sections &s, const QStringList &m, const QByteArray &out) {
        QTest::newRow(name) << objectFileBytes(s) << m << out;
    };

    add("order: file order reversed", {sec(kA + 3, "5566"), sec(kA + 1, "3344"), sec(kA, "1122")}, ok,
        hex("11223344ffff5566"));
    add("order: start section last in file", {sec(kA + 2, "7788"), sec(kA, "11223344")}, ok, hex("112233447788"));
    add("gap: exact 0xFF fill", {sec(kA, "1122"), sec(kA + 5, "3344")}, ok, hex("1122") + ff(8) + hex("3344"));
    add("gap: adjacent sections have none", {sec(kA, "11223344"), sec(kA + 2, "5566")}, ok, hex("112233445566"));
    add("gap: data bytes copied unchanged", {sec(kA, "00ff10020300")}, ok, hex("00ff10020300"));

    add("unselected: BSS flags", {sec(kA, "1122"), sec(kA + 1, "7788", coffWriter::kFlagBss), sec(kA + 2, "3344")}, ok,
        hex("1122ffff3344"));
    add("unselected: no flags", {sec(kA, "1122"), sec(kA + 1, "7788", 0), sec(kA + 2, "3344")}, ok,
        hex("1122ffff3344"));
    add("unselected: zero run address", {sec(kA, "1122"), withRun(sec(kA + 1, "7788"), 0), sec(kA + 2, "3344")}, ok,
        hex("1122ffff3344"));
    add("unselected: zero load address", {sec(kA, "1122"), withLoad(sec(kA + 1, "7788"), 0), sec(kA + 2, "3344")}, ok,
        hex("1122ffff3344"));
    add("unselected: zero raw-data offset", {sec(kA, "1122"), withOffset(sec(kA + 1, "7788"), 0), sec(kA + 2, "3344")},
        ok, hex("1122ffff3344"));
    add("unselected: no raw data", {sec(kA, "1122"), withoutData(sec(kA + 1, "7788")), sec(kA + 2, "3344")}, ok,
        hex("1122ffff3344"));
    add("unselected: run elsewhere still placed by load address",
        {withRun(sec(kA + 1, "3344"), 0x008000), sec(kA, "1122")}, ok, hex("11223344"));

    add("start: second start address", {sec(kB + 1, "3344"), sec(kB, "1122")}, ok, hex("11223344"));
    add("start: section at first start inside second image", {sec(kA, "3344"), sec(kB, "1122")}, ok,
        hex("1122") + ff(2 * int(kA - kB - 1)) + hex("3344"));
    {
        const QByteArray big = coffWriter::pattern(kA - kB + 1, 9);
        add("start: second-start section overlapping first start",
            {coffWriter::loaded("big", kB, big), sec(kA, "3344")}, buildFail, QByteArray());
    }
    add("start: neither start address", {sec(kA + 1, "1122")}, startFail, QByteArray());
    add("start: below both", {sec(kB - 1, "1122"), sec(kA, "3344")}, startFail, QByteArray());
    add("start: no selected section", {withoutData(sec(kA, "1122"))}, startFail, QByteArray());
    add("start: no sections at all", {}, startFail, QByteArray());

    add("end bound: adjacent section at the bound", {sec(kA, "1122"), sec(kEnd - 1, "3344"), sec(kEnd, "5566")}, ok,
        hex("1122") + ff(2 * int(kEnd - 1 - kA - 1)) + hex("3344"));
    add("end bound: gap before a section above it ends the image", {sec(kA, "1122"), sec(kEnd + 0x10, "5566")}, ok,
        hex("1122"));
    add("end bound: every later section dropped",
        {sec(0x3F7FF8, "9999"), sec(kA, "1122"), sec(kEnd, "3344"), sec(kEnd + 1, "5566")}, ok, hex("1122"));
    add("end bound: highest possible address", {sec(kA, "1122"), sec(0xFFFFFFFF, "3344")}, ok, hex("1122"));

    add("overlap: second starts inside first", {sec(kA, "11223344"), sec(kA + 1, "5566")}, buildFail, QByteArray());
    add("overlap: equal addresses keep file order", {sec(kA, "1122"), sec(kA, "3344")}, buildFail, QByteArray());
    add("zero size: at the start then a section there", {withSize(sec(kA, ""), 0), sec(kA, "3344")}, ok, hex("3344"));
    add("zero size: counts for the gap test", {sec(kA, "1122"), withSize(sec(kA + 2, ""), 0), sec(kA + 2, "3344")}, ok,
        hex("1122ffff3344"));
    add("zero size: inside the previous section is an overlap", {sec(kA, "11223344"), withSize(sec(kA + 1, ""), 0)},
        buildFail, QByteArray());

    add("data: raw data past the end of the file", {withOffset(sec(kA, "1122"), 0xFFFFFFF0)}, formatError,
        QByteArray());
    add("data: size field longer than the file", {withSize(sec(kA, "1122"), 2)}, buildFail, QByteArray());
    add("data: size field beyond test buffer", {withSize(sec(kA, "1122"), 65537)}, formatError, QByteArray());
    add("data: size field at 2^32 - 1", {withSize(sec(kA, "1122"), 0xFFFFFFFF)}, formatError, QByteArray());
    {
        const QByteArray max = coffWriter::pattern(65536, 3);
        add("data: size field at the test buffer limit", {coffWriter::loaded("max", kA, max)}, ok, max);
    }

    Sections table48;
    QByteArray image48;
    for (int i = 0; i < 48; ++i) {
        table48.append(coffWriter::loaded("s", kA + quint32(i), QByteArray(2, char(i))));
        image48.append(QByteArray(2, char(i)));
    }
    add("table: 48 selected sections", table48, ok, image48);
    Sections table48plusBss = table48;
    table48plusBss.append(coffWriter::uninitialised(".bss", 0x8000, 4));
    add("table: 48 selected plus unselected", table48plusBss, ok, image48);
    Sections table49 = table48;
    table49.append(sec(kA + 48, "4949"));
    add("table: 49 selected sections", table49, formatError, QByteArray());

    coffWriter wrongTarget;
    wrongTarget.addSection(sec(kA, "1122"));
    wrongTarget.setTargetId(0x0099);
    QTest::newRow("target: another processor")
        << wrongTarget.build() << lines({kFormatError, kFormatError}) << QByteArray();
    coffWriter elf;
    elf.addSection(sec(kA, "1122"));
    elf.setElf(true);
    QTest::newRow("target: ELF file named .out") << elf.build() << lines({kFormatError, kFormatError}) << QByteArray();
    coffWriter moreHeaders;
    moreHeaders.addSection(sec(kA, "1122"));
    moreHeaders.setHeaderSectionCount(1000);
    QTest::newRow("header: count beyond the headers in the file") << moreHeaders.build() << formatError << QByteArray();
}

void TestObjectFile::image()
{
    QFETCH(QByteArray, object);
    QFETCH(QStringList, messages);
    QFETCH(QByteArray, output);

    const Outcome o = translate(object);
    QCOMPARE(o.messages, messages);
    const bool success = messages == QStringList {kSuccess};
    QCOMPARE(o.result, success ? m_dir->filePath("dsp.bin") : QString());
    QCOMPARE(o.output.size(), output.size());
    QCOMPARE(o.output, output);
    QCOMPARE(o.entries, success ? lines({QString(ownFiles::kRecordName), "dsp.bin", "dsp.out"}) : lines({"dsp.out"}));
}

// A file cut at every byte of the headers and the raw data of one section.
void TestObjectFile::headerCut_data()
{
    QTest::addColumn<int>("cutAt");
    QTest::addColumn<QStringList>("messages");

    const int rawData = 22 + 28 + 48; // the single section's data starts here
    for (int n = 0; n < rawData + 4; ++n) {
        QStringList m;
        if (n < 22)
            m = lines({"file reading failed!\n", kFormatError});
        else if (n < 50)
            m = lines({"file reading error!\n", kFormatError});
        else if (n < rawData + 2)
            m = lines({kFormatError}); // header or data test short
        else
            m = lines({kTranslatingFail}); // second half of the data missing
        if (n < 22)
            QTest::addRow("file header cut at %d", n) << n << m;
        else if (n < 50)
            QTest::addRow("optional header cut at %d", n) << n << m;
        else if (n < rawData)
            QTest::addRow("section header cut at %d", n) << n << m;
        else
            QTest::addRow("raw data cut at %d", n) << n << m;
    }
}

void TestObjectFile::headerCut()
{
    QFETCH(int, cutAt);
    QFETCH(QStringList, messages);

    coffWriter w;
    w.addSection(sec(kA, "11223344"));
    w.setTruncateAt(cutAt);
    const Outcome o = translate(w.build());
    QCOMPARE(o.messages, messages);
    QVERIFY(o.result.isEmpty());
    QCOMPARE(o.entries, lines({"dsp.out"}));
}

void TestObjectFile::outputName_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("output");
    QTest::addColumn<bool>("relative");

    QTest::newRow("extension: .out") << "dsp.out"
                                     << "dsp.bin" << false;
    QTest::newRow("extension: longer") << "a.outx"
                                       << "a.binx" << false;
    QTest::newRow("extension: shorter") << "a.o"
                                        << "a.bin" << false;
    QTest::newRow("extension: last dot counts") << "x.y.out"
                                                << "x.y.bin" << false;
    QTest::newRow("no dot: first three replaced") << "image"
                                                  << "binge" << false;
    QTest::newRow("no dot: dot only in directory") << "d.d/file"
                                                   << "d.d/bine" << false;
    QTest::newRow("no slash: bare name") << "dsp.out"
                                         << "dsp.bin" << true;
}

void TestObjectFile::outputName()
{
    QFETCH(QString, input);
    QFETCH(QString, output);
    QFETCH(bool, relative);

    QVERIFY(QDir(m_dir->path()).mkpath("d.d"));
    const QString dirPrefix = relative ? QString() : m_dir->path() + '/';
    const QString previous = QDir::currentPath();
    if (relative)
        QDir::setCurrent(m_dir->path());
    QVERIFY(testFiles::write(m_dir->filePath(input), objectFileBytes({sec(kA, "1122")})));

    common util;
    const QString result = util.translateFile(dirPrefix + input);
    QDir::setCurrent(previous);
    QCOMPARE(result, dirPrefix + output);
    QCOMPARE(testFiles::read(m_dir->filePath(output)), hex("1122"));
}

void TestObjectFile::sampleFlashBuild()
{
    QByteArray expected;
    const QByteArray object = coffWriter::sampleObjectFile(&expected, 0x11223344);
    QCOMPARE(expected.size(), 98284);
    QCOMPARE(expected.mid(0x17FE8, 4), hex("44332211"));

    const Outcome o = translate(object);
    QCOMPARE(o.messages, QStringList {kSuccess});
    QCOMPARE(o.output.size(), expected.size());
    QVERIFY(o.output == expected);
}

// What sits at the output name before a translation ("none", an "older"
// file someone kept there, an "own" image of an earlier translation, a
// "link" to a file outside the folder, a "dangling" link, a "directory")
// and what must be there after it: only the tool's own image, or nothing,
// is replaced, and only by a whole image. A victim file beside the folder
// must never change.
void TestObjectFile::outputReplacedOnlyWhenOwn_data()
{
    QTest::addColumn<QByteArray>("object");
    QTest::addColumn<QString>("before");
    QTest::addColumn<bool>("success");
    QTest::addColumn<bool>("replaced");

    const QByteArray good = objectFileBytes({sec(kA, "1122"), sec(kA + 2, "3344")});
    coffWriter wrongTarget;
    wrongTarget.addSection(sec(kA, "1122"));
    wrongTarget.setTargetId(0x0099);
    coffWriter dataCut; // the header test passes, the copy runs short
    dataCut.addSection(sec(kA, "11223344"));
    dataCut.setTruncateAt(22 + 28 + 48 + 2);
    const QByteArray overlap = objectFileBytes({sec(kA, "11223344"), sec(kA + 1, "5566")});
    const QByteArray notObject(10, 'z');

    const auto row = [](const char *name, const QByteArray &o, const char *b, bool ok, bool replaced) {
        QTest::newRow(name) << o << QString::fromLatin1(b) << ok << replaced;
    };
    row("nothing before: success writes the image", good, "none", true, true);
    row("nothing before: wrong target leaves no image", wrongTarget.build(), "none", false, false);
    row("nothing before: data cut leaves no image", dataCut.build(), "none", false, false);
    row("nothing before: overlap leaves no part image", overlap, "none", false, false);
    row("own image: success replaces it", good, "own", true, true);
    row("own image: data cut keeps it", dataCut.build(), "own", false, false);
    row("someone's file: success leaves it alone", good, "older", true, false);
    row("someone's file: not an object file keeps it", notObject, "older", false, false);
    row("someone's file: overlap keeps it", overlap, "older", false, false);
    row("link: success leaves the link and its target alone", good, "link", true, false);
    row("link: wrong target keeps the link", wrongTarget.build(), "link", false, false);
    row("dangling link: success creates nothing at its target", good, "dangling", true, false);
    row("directory at output name: left alone", good, "directory", true, false);
}

void TestObjectFile::outputReplacedOnlyWhenOwn()
{
    QFETCH(QByteArray, object);
    QFETCH(QString, before);
    QFETCH(bool, success);
    QFETCH(bool, replaced);

    const QString folder = m_dir->filePath("pkg");
    const QString victim = m_dir->filePath("victim.bin");
    const QString dangling = m_dir->filePath("missing.bin");
    const QString linkTarget = before == "link" ? victim : dangling;
    const QString out = folder + "/dsp.bin";
    const QByteArray older(5000, 'x');
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(testFiles::write(victim, "victim bytes"));
    if (before == "own") {
        QVERIFY(testFiles::write(folder + "/dsp.out", objectFileBytes({sec(kA, "5566")})));
        common earlier;
        QCOMPARE(earlier.translateFile(folder + "/dsp.out"), out);
    }
    const QByteArray previous = testFiles::read(out);
    QVERIFY(testFiles::write(folder + "/dsp.out", object));
    if (before == "older")
        QVERIFY(testFiles::write(out, older));
    else if (before == "link" || before == "dangling")
        QVERIFY(QFile::link(linkTarget, out));
    else if (before == "directory")
        QVERIFY(QDir().mkpath(out));

    common util;
    QSignalSpy spy(&util, &common::sendMessage);
    QCOMPARE(util.translateFile(folder + "/dsp.out"), success ? out : QString());

    QCOMPARE(testFiles::read(victim), QByteArray("victim bytes"));
    QVERIFY(!QFileInfo::exists(dangling));
    const bool leftAlone = success && !replaced;
    QCOMPARE(messagesOf(spy).contains(ownFiles::leftAloneLine(out)), leftAlone);
    const QFileInfo left(out);
    if (replaced) {
        QVERIFY(left.isFile() && !left.isSymLink());
        QCOMPARE(testFiles::read(out), hex("1122ffff3344"));
        const auto modeBits = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
            | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
        QCOMPARE(int(left.permissions() & modeBits),
                 int(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
    } else if (before == "none") {
        QVERIFY(!left.exists());
    } else if (before == "own") {
        QCOMPARE(testFiles::read(out), previous);
    } else if (before == "older") {
        QCOMPARE(testFiles::read(out), older);
    } else if (before == "link" || before == "dangling") {
        QCOMPARE(left.symLinkTarget(), linkTarget);
    } else if (before == "directory") {
        QVERIFY(left.isDir());
    }
    for (const QString &entry : entriesOf(folder))
        QVERIFY2(!entry.startsWith(".ups-") || entry == ownFiles::kRecordName, qPrintable(entry)); // no temporary left
}

void TestObjectFile::inputNamedLikeOutputKept()
{
    const QByteArray object = objectFileBytes({sec(kA, "1122")});
    const QString in = m_dir->filePath("dsp.bin");
    QVERIFY(testFiles::write(in, object));
    common util;
    QSignalSpy spy(&util, &common::sendMessage);
    QCOMPARE(util.translateFile(in), QString());
    QCOMPARE(messagesOf(spy), QStringList {kTranslatingFail});
    QCOMPARE(testFiles::read(in), object);
}

void TestObjectFile::emptyPath()
{
    const QString previous = QDir::currentPath();
    QDir::setCurrent(m_dir->path());
    common util;
    QSignalSpy spy(&util, &common::sendMessage);
    const QString result = util.translateFile(QString());
    QDir::setCurrent(previous);
    QCOMPARE(result, QString());
    QCOMPARE(messagesOf(spy), QStringList {"no translating file:"});
    QVERIFY(QDir(m_dir->path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
}

void TestObjectFile::missingInput()
{
    common util;
    QSignalSpy spy(&util, &common::sendMessage);
    QCOMPARE(util.translateFile(m_dir->filePath("dsp.out")), QString());
    QCOMPARE(messagesOf(spy), lines({"file reading failed!\n", kFormatError}));
    QVERIFY(entriesOf(m_dir->path()).isEmpty());
    QCOMPARE(util.selectedSectionCount(), 0u);
}

void TestObjectFile::appendFailures_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("expected");

    QTest::newRow("ok: new file") << QStringLiteral("new.bin") << true;
    QTest::newRow("open fails: missing directory") << QStringLiteral("none/x.bin") << false;
    if (QFile::exists("/dev/full"))
        QTest::newRow("write fails: device full") << QStringLiteral("/dev/full") << false;
}

void TestObjectFile::appendFailures()
{
    QFETCH(QString, path);
    QFETCH(bool, expected);

    const QString full = path.startsWith('/') ? path : m_dir->filePath(path);
    const quint8 bytes[] = {1, 2, 3, 4};
    common util;
    QCOMPARE(util.appendFile(full, bytes, 4), expected);
    if (expected)
        QCOMPARE(testFiles::read(full), hex("01020304"));
}

QTEST_GUILESS_MAIN(TestObjectFile)
#include "test_objectfile.moc"
