// Checksums, frame stuffing and un-stuffing, image reads, the time scale and
// the settings routines of common.
#include "update/common.h"
#include "support/checksumvectors.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <climits>
#include <cmath>
#include <cstring>

namespace {
enum Checksum { Crc16, Modbus, Xor };

const quint8 *bytesOf(const QByteArray &a)
{
    return reinterpret_cast<const quint8 *>(a.constData());
}

QByteArray hex(const char *h)
{
    return QByteArray::fromHex(h);
}

// An unstuffed command frame: STX, length, command, payload, CRC, ETX.
QByteArray commandFrame(quint8 command, const QByteArray &payload)
{
    QByteArray body(1, char(command));
    body.append(payload);
    const quint16 crc = common::calcCrc16(bytesOf(body), quint32(body.size()));
    QByteArray frame(1, '\x02');
    frame.append(char(body.size() >> 8)).append(char(body.size() & 0xFF)).append(body);
    frame.append(char(crc >> 8)).append(char(crc & 0xFF)).append('\x03');
    return frame;
}

QByteArray stuffed(const QByteArray &frame)
{
    QByteArray buffer = frame;
    buffer.resize(2 * frame.size());
    quint16 length = quint16(frame.size());
    common::escapeFrame(reinterpret_cast<quint8 *>(buffer.data()), &length);
    return buffer.left(length);
}
} // namespace

class TestProtocolRoutines : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void checksums_data();
    void checksums();
    void wireFrames_data();
    void wireFrames();
    void escape_data();
    void escape();
    void escapeWorstCaseFits();
    void recover_data();
    void recover();
    void recoverCarryAcrossEmptyPiece();
    void readFile_data();
    void readFile();
    void scaledMs_data();
    void scaledMs();
    void refusedFactorKeepsPrevious_data();
    void refusedFactorKeepsPrevious();
    void timeScaleOption_data();
    void timeScaleOption();
    void delayProcessesEvents();
    void settings_data();
    void settings();
    void settingsOfEitherQt_data();
    void settingsOfEitherQt();
};

void TestProtocolRoutines::initTestCase()
{
    // Nothing has touched the knob yet: protocol time is exact.
    QCOMPARE(common::timeScale(), 1.0);
    QCOMPARE(common::scaledMs(7000), 7000);
    QCOMPARE(common::scaledMs(25000), 25000);
}

void TestProtocolRoutines::cleanup()
{
    common::setTimeScale(1.0);
}

void TestProtocolRoutines::checksums_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<uint>("expected");

    const struct
    {
        Checksum kind;
        const char *prefix;
        QVector<checksumVector> vectors;
    } tables[] = {{Crc16, "crc16", checksumVectors::crc16()},
                  {Modbus, "modbus", checksumVectors::modbus()},
                  {Xor, "xor", checksumVectors::xorCheck()}};
    for (const auto &table : tables) {
        for (const checksumVector &v : table.vectors)
            QTest::addRow("%s: %s", table.prefix, v.name) << int(table.kind) << v.input << v.value;
    }
}

void TestProtocolRoutines::checksums()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, data);
    QFETCH(uint, expected);

    // A null pointer with length 0 must not be touched.
    const quint8 *p = data.isEmpty() ? nullptr : bytesOf(data);
    const quint32 n = quint32(data.size());
    const uint got = kind == Crc16 ? common::calcCrc16(p, n)
        : kind == Modbus           ? common::modbusCrc16(p, n)
                                   : common::xorCheck(p, n);
    QCOMPARE(got, expected);
}

void TestProtocolRoutines::wireFrames_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QByteArray>("wire");

    QTest::newRow("fixed: shake hand") << 0x11 << hex("0101") << hex("02001023110101 9BDF03");
    QTest::newRow("fixed: erase") << 0x14 << hex("00") << hex("0200102214 00D2B803");
    QTest::newRow("fixed: jump") << 0x04 << hex("00") << hex("0200102204 00D1CB03");
    QTest::newRow("verify: code from file 44 33 22 11")
        << 0x13 << hex("0411223344") << stuffed(commandFrame(0x13, hex("0411223344")));
}

void TestProtocolRoutines::wireFrames()
{
    QFETCH(int, command);
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, wire);

    QCOMPARE(stuffed(commandFrame(quint8(command), payload)).toHex(' '), wire.toHex(' '));
}

void TestProtocolRoutines::escape_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("stuffed: payload 02 03 10") << hex("0241020310 4203") << hex("0241102210231030 4203");
    QTest::newRow("stuffed: CRC bytes before ETX") << hex("02111003 03") << hex("0211103010 23 03");
    QTest::newRow("stuffed: length field") << hex("02000311 03") << hex("0200102311 03");
    QTest::newRow("kept: first and last bytes") << hex("101010") << hex("10103010");
    QTest::newRow("kept: shortest stuffed frame") << hex("021003") << hex("02103003");
    QTest::newRow("kept: no special bytes") << hex("0241424303") << hex("0241424303");
    QTest::newRow("short: two bytes untouched") << hex("0203") << hex("0203");
    QTest::newRow("short: one byte untouched") << hex("10") << hex("10");
    QTest::newRow("short: empty") << QByteArray() << QByteArray();
}

void TestProtocolRoutines::escape()
{
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, expected);

    QCOMPARE(stuffed(frame).toHex(' '), expected.toHex(' '));
}

void TestProtocolRoutines::escapeWorstCaseFits()
{
    // A write frame of 1031 bytes where every byte needs stuffing, in a
    // buffer of 2 x 1031 bytes followed by a guard.
    const int frameLength = 1031;
    QByteArray buffer(2 * frameLength + 16, char(0x5A));
    std::memset(buffer.data(), 0x10, frameLength);
    quint16 length = frameLength;
    common::escapeFrame(reinterpret_cast<quint8 *>(buffer.data()), &length);
    QCOMPARE(int(length), 1 + 2 * (frameLength - 2) + 1);
    QVERIFY(length <= 2 * frameLength);
    QCOMPARE(buffer.at(0), char(0x10));
    QCOMPARE(buffer.at(length - 1), char(0x10));
    for (int i = 1; i + 1 < length; i += 2)
        QVERIFY(buffer.at(i) == char(0x10) && buffer.at(i + 1) == char(0x30));
    QCOMPARE(buffer.mid(2 * frameLength), QByteArray(16, char(0x5A)));
}

void TestProtocolRoutines::recover_data()
{
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("plain: nothing stuffed") << hex("02410303") << hex("02410303");
    QTest::newRow("escaped: 02 03 10") << hex("102210231030") << hex("020310");
    QTest::newRow("escaped: shake hand reply") << hex("02001023110106AABB03") << hex("020003110106AABB03");
    QTest::newRow("escaped: byte below 0x20 wraps") << hex("1005") << hex("E5");
    QTest::newRow("DLE DLE: both dropped, next byte escaped") << hex("41101022") << hex("4102");
    QTest::newRow("trailing DLE: dropped") << hex("4110") << hex("41");
    QTest::newRow("empty") << QByteArray() << QByteArray();
}

// Fed whole, and in pieces of every size with the carried DLE: a reply split
// anywhere, even between a DLE and its byte, comes out the same.
void TestProtocolRoutines::recover()
{
    QFETCH(QByteArray, received);
    QFETCH(QByteArray, expected);

    QByteArray whole = received;
    common::recoverData(whole);
    QCOMPARE(whole.toHex(' '), expected.toHex(' '));

    for (int chunk = 1; chunk <= received.size(); ++chunk) {
        bool carry = false;
        QByteArray out;
        for (int at = 0; at < received.size(); at += chunk) {
            QByteArray piece = received.mid(at, chunk);
            common::recoverData(piece, &carry);
            out.append(piece);
        }
        QVERIFY2(out == expected, qPrintable(QString("chunk %1: %2").arg(chunk).arg(QString(out.toHex(' ')))));
        QCOMPARE(carry, received.endsWith('\x10'));
    }
}

void TestProtocolRoutines::recoverCarryAcrossEmptyPiece()
{
    bool carry = false;
    QByteArray first = hex("4110"), empty, last = hex("22");
    common::recoverData(first, &carry);
    common::recoverData(empty, &carry);
    common::recoverData(last, &carry);
    QCOMPARE(first + empty + last, hex("4102"));
    QVERIFY(!carry);
}

void TestProtocolRoutines::readFile_data()
{
    QTest::addColumn<QString>("file"); // "image" (10 bytes 00..09) or "empty"
    QTest::addColumn<bool>("nullBuffer");
    QTest::addColumn<qint64>("offset");
    QTest::addColumn<qint64>("maxCount");
    QTest::addColumn<qint64>("result");
    QTest::addColumn<QByteArray>("buffer"); // the first maxCount bytes after the call

    const QString image = "image", empty = "empty";
    QTest::newRow("read: inside the file") << image << false << 2ll << 4ll << 4ll << hex("02030405");
    QTest::newRow("read: whole file exactly") << image << false << 0ll << 10ll << 10ll << hex("00010203040506070809");
    QTest::newRow("fill: file ends inside") << image << false << 8ll << 4ll << 2ll << hex("0809FFFF");
    QTest::newRow("fill: offset at end") << image << false << 10ll << 4ll << 0ll << hex("FFFFFFFF");
    QTest::newRow("fill: offset after end") << image << false << 45056ll << 4ll << 0ll << hex("FFFFFFFF");
    QTest::newRow("fill: zero count") << image << false << 0ll << 0ll << 0ll << QByteArray();
    QTest::newRow("fill: empty image") << empty << false << 0ll << 4ll << 0ll << hex("FFFFFFFF");
    QTest::newRow("fail: null buffer") << image << true << 0ll << 4ll << -1ll << QByteArray();
    QTest::newRow("fail: negative offset") << image << false << -1ll << 4ll << -1ll << hex("AAAAAAAA");
    QTest::newRow("fail: negative count") << image << false << 0ll << -4ll << -1ll << QByteArray();
}

void TestProtocolRoutines::readFile()
{
    QFETCH(QString, file);
    QFETCH(bool, nullBuffer);
    QFETCH(qint64, offset);
    QFETCH(qint64, maxCount);
    QFETCH(qint64, result);
    QFETCH(QByteArray, buffer);

    const QByteArray image = file == "image" ? hex("00010203040506070809") : QByteArray();
    // Guard bytes after maxCount must stay as they are.
    QByteArray out(int(qMax<qint64>(maxCount, 0)) + 8, char(0xAA));
    quint8 *target = nullBuffer ? nullptr : reinterpret_cast<quint8 *>(out.data());
    QCOMPARE(common::readFileData(image, target, offset, maxCount), result);
    QCOMPARE(out.left(buffer.size()).toHex(' '), buffer.toHex(' '));
    QCOMPARE(out.right(8), QByteArray(8, char(0xAA)));
}

void TestProtocolRoutines::scaledMs_data()
{
    QTest::addColumn<double>("factor");
    QTest::addColumn<int>("ms");
    QTest::addColumn<int>("expected");

    QTest::newRow("exact: factor 1") << 1.0 << 5000 << 5000;
    QTest::newRow("scaled: 0.01") << 0.01 << 7000 << 70;
    QTest::newRow("scaled: rounds to nearest") << 0.01 << 2049 << 20;
    QTest::newRow("scaled: half rounds up") << 0.001 << 500 << 1;
    QTest::newRow("scaled: slower line") << 2.0 << 3000 << 6000;
    QTest::newRow("clamped: huge factor") << 1e12 << 25000 << INT_MAX;
    QTest::newRow("scaled: largest factor the programs take") << 100.0 << 25000 << 2500000;
    QTest::newRow("clamped: longest wait at the largest factor") << 100.0 << INT_MAX << INT_MAX;
    QTest::newRow("ignored: zero factor") << 0.0 << 5000 << 5000;
    QTest::newRow("ignored: negative factor") << -0.5 << 5000 << 5000;
    QTest::newRow("ignored: not a number") << std::nan("") << 5000 << 5000;
    QTest::newRow("ignored: infinity") << HUGE_VAL << 5000 << 5000;
}

void TestProtocolRoutines::scaledMs()
{
    QFETCH(double, factor);
    QFETCH(int, ms);
    QFETCH(int, expected);

    common::setTimeScale(factor);
    QCOMPARE(common::scaledMs(ms), expected);
}

void TestProtocolRoutines::refusedFactorKeepsPrevious_data()
{
    QTest::addColumn<double>("factor");
    QTest::newRow("not a number") << std::nan("");
    QTest::newRow("infinity") << HUGE_VAL;
    QTest::newRow("negative infinity") << -HUGE_VAL;
    QTest::newRow("zero") << 0.0;
    QTest::newRow("negative zero") << -0.0;
    QTest::newRow("negative") << -1.0;
}

void TestProtocolRoutines::refusedFactorKeepsPrevious()
{
    QFETCH(double, factor);
    common::setTimeScale(0.25);
    common::setTimeScale(factor);
    QCOMPARE(common::timeScale(), 0.25);
    QCOMPARE(common::scaledMs(4000), 1000);
}

void TestProtocolRoutines::timeScaleOption_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<double>("factor");

    QTest::newRow("accepted: small") << "0.01" << true << 0.01;
    QTest::newRow("accepted: upper bound") << "100" << true << 100.0;
    QTest::newRow("accepted: exponent") << "1e2" << true << 100.0;
    QTest::newRow("refused: above the bound") << "100.5" << false << 0.0;
    QTest::newRow("refused: zero") << "0" << false << 0.0;
    QTest::newRow("refused: negative") << "-1" << false << 0.0;
    QTest::newRow("refused: not a number") << "nan" << false << 0.0;
    QTest::newRow("refused: infinity") << "inf" << false << 0.0;
    QTest::newRow("refused: too large for a double") << "1e400" << false << 0.0;
    QTest::newRow("refused: words") << "fast" << false << 0.0;
    QTest::newRow("refused: empty") << "" << false << 0.0;
}

void TestProtocolRoutines::timeScaleOption()
{
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    QFETCH(double, factor);
    double parsed = -7.0;
    QCOMPARE(common::parseTimeScale(text, &parsed), accepted);
    QCOMPARE(parsed, accepted ? factor : -7.0);
}

void TestProtocolRoutines::delayProcessesEvents()
{
    common::setTimeScale(0.01);
    bool fired = false;
    QTimer::singleShot(0, this, [&fired] { fired = true; });
    QElapsedTimer clock;
    clock.start();
    common::delayMs(500);
    QVERIFY(clock.elapsed() >= 5);
    QVERIFY(clock.elapsed() < 2000);
    QVERIFY(fired);
}

void TestProtocolRoutines::settings_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("written"); // invalid: nothing written
    QTest::addColumn<bool>("found");

    QTest::newRow("missing: key never written") << "language" << QVariant() << false;
    QTest::newRow("round trip: language") << "language" << QVariant(QStringLiteral("zh")) << true;
    QTest::newRow("round trip: directory path")
        << "filePath" << QVariant(QStringLiteral("C:/Users/x/My packages")) << true;
    QTest::newRow("round trip: empty string") << "filePath" << QVariant(QString("")) << true;
    QTest::newRow("round trip: Chinese folder")
        << "filePath" << QVariant(QStringLiteral("/home/u/\u56fa\u4ef6\u5305/ups 5-10k")) << true;
}

void TestProtocolRoutines::settings()
{
    QFETCH(QString, key);
    QFETCH(QVariant, written);
    QFETCH(bool, found);

    QTemporaryDir dir;
    const QString file = dir.filePath("ups.ini");
    common util;
    if (written.isValid())
        util.writeSetting(file, key, written);
    util.writeSetting(file, "other", 1);

    QVariant out(QStringLiteral("stale"));
    QCOMPARE(util.readSetting(file, key, out), found);
    QCOMPARE(out.isNull(), !found);
    if (found)
        QCOMPARE(out.toString(), written.toString());
    QVERIFY(QFile::exists(file));
}

// The Qt 5 and the Qt 6 build share ups.ini: each reads what either wrote.
void TestProtocolRoutines::settingsOfEitherQt_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("path");

    const QString chinese = QStringLiteral("/home/u/\u56fa\u4ef6\u5305/ups 5-10k");
    QTest::newRow("Qt 5 without a codec: escapes")
        << QByteArray("[General]\nfilePath=/home/u/\\x56fa\\x4ef6\\x5305/ups 5-10k\nlanguage=Chinese\n") << chinese;
    QTest::newRow("UTF-8: Qt 6, and Qt 5 told so")
        << ("[General]\nfilePath=" + chinese.toUtf8() + "\nlanguage=Chinese\n") << chinese;
}

void TestProtocolRoutines::settingsOfEitherQt()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, path);

    QTemporaryDir dir;
    const QString name = dir.filePath("ups.ini");
    QFile ini(name);
    QVERIFY(ini.open(QIODevice::WriteOnly) && ini.write(file) == file.size());
    ini.close();
    common util;
    QVariant out;
    QVERIFY(util.readSetting(name, "filePath", out));
    QCOMPARE(out.toString(), path);
    QVERIFY(util.readSetting(name, "language", out));
    QCOMPARE(out.toString(), QStringLiteral("Chinese"));
}

QTEST_GUILESS_MAIN(TestProtocolRoutines)
#include "test_protocolroutines.moc"
