// Frames of the first board engine, byte for byte, and its receive path fed
// in every possible split.
#include "protocol/first/progress.h"
#include "serial/serialport.h"
#include "tools/unitsim/ptyline.h"
#include "update/common.h"
#include "protocol/first/firstcodec.h"
#include "support/checksumvectors.h"
#include "support/chunkings.h"
#include "support/testfiles.h"

#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {
QByteArray sent(const progress &engine)
{
    return QByteArray(reinterpret_cast<const char *>(engine.frame().senddata), engine.frame().sendlen);
}

QByteArray stuffed(progress &engine)
{
    auto &frame = const_cast<progress::Frame &>(engine.frame());
    common::escapeFrame(frame.senddata, &frame.sendlen);
    return sent(engine);
}

// A job started on a virtual line: the engine takes it as from the queue.
void startJob(progress &engine, const ptyLine &line, const QByteArray &image)
{
    updateParm job;
    job.row = 3;
    job.portName = line.slavePath();
    job.imagePath = QStringLiteral("arm.bin");
    job.image = image;
    engine.initParm(job);
}

// The step timer runs out.
void expire(progress &engine)
{
    for (QTimer *timer : engine.findChildren<QTimer *>()) {
        if (timer->objectName().isEmpty())
            QMetaObject::invokeMethod(timer, "timeout", Qt::DirectConnection);
    }
}

// Every byte the engine put on its line, written out or still queued.
struct lineCount
{
    explicit lineCount(serialport &port)
        : device(port.findChild<QSerialPort *>())
    {
        QObject::connect(device, &QSerialPort::bytesWritten, [this](qint64 n) { written += n; });
    }
    qint64 total() const { return written + device->bytesToWrite(); }
    QSerialPort *device;
    qint64 written = 0;
};

// An image of 'size' bytes whose every byte differs from its neighbours.
QByteArray image(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 251) & 0xFF);
    return bytes;
}
} // namespace

class TestFirstFrames : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { common::setTimeScale(0.01); }
    void cleanupTestCase() { common::setTimeScale(1.0); }

    void crcCheckValue_data();
    void crcCheckValue();
    void fixedFrames_data();
    void fixedFrames();
    void verifyFrame_data();
    void verifyFrame();
    void verifyCode_data();
    void verifyCode();
    void blocks_data();
    void blocks();
    void worstCaseBlockFits();
    void receivePath_data();
    void receivePath();
    void decoder_data();
    void decoder();
    void preambleDecoder_data();
    void preambleDecoder();
};

void TestFirstFrames::crcCheckValue_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("crc");
    for (const checksumVector &v : checksumVectors::crc16())
        QTest::newRow(v.name) << v.input << int(v.value);
}

void TestFirstFrames::crcCheckValue()
{
    QFETCH(QByteArray, input);
    QFETCH(int, crc);
    QCOMPARE(int(common::calcCrc16(reinterpret_cast<const quint8 *>(input.constData()), quint32(input.size()))), crc);
}

void TestFirstFrames::fixedFrames_data()
{
    QTest::addColumn<QString>("builder");
    QTest::addColumn<bool>("framed");
    QTest::addColumn<int>("step");
    QTest::addColumn<QByteArray>("wire");
    auto row = [](const char *name, const char *builder, bool framed, int step, const char *wire) {
        QTest::newRow(name) << QString(builder) << framed << step << QByteArray::fromHex(wire);
    };
    row("shake hand, stuffed length", "shake", true, 3, "02 00 10 23 11 01 01 9B DF 03");
    row("erase, stuffed length", "erase", true, 5, "02 00 10 22 14 00 D2 B8 03");
    row("jump, stuffed length", "jump", true, 7, "02 00 10 22 04 00 D1 CB 03");
    row("preamble start", "start", false, 0, "23 04 00 05 AF FE FE 00 00 D7");
    row("preamble confirm", "confirm", false, 1, "23 04 00 05 AF 55 AA 00 00 DA");
    row("target arm", "target0", false, 2, "23 04 00 05 AF 01 00 00 00 DC");
    row("target dsp", "target1", false, 2, "23 04 00 05 AF 02 00 00 00 DD");
    row("target any other index", "target7", false, 2, "23 04 00 05 AF 02 00 00 00 DD");
}

void TestFirstFrames::fixedFrames()
{
    QFETCH(QString, builder);
    QFETCH(bool, framed);
    QFETCH(int, step);
    QFETCH(QByteArray, wire);
    serialport port;
    progress engine(&port);
    if (builder == "shake")
        engine.buildShakeHand();
    else if (builder == "erase")
        engine.buildErase();
    else if (builder == "jump")
        engine.buildJump();
    else if (builder == "start")
        engine.buildPreambleStart();
    else if (builder == "confirm")
        engine.buildPreambleConfirm();
    else
        engine.buildPreambleTarget(builder.mid(6).toInt());
    QCOMPARE(engine.frame().step, step);
    QCOMPARE(framed ? stuffed(engine) : sent(engine), wire);
}

void TestFirstFrames::verifyFrame_data()
{
    QTest::addColumn<QByteArray>("fileBytes");
    QTest::addColumn<QByteArray>("unstuffed");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("byte order reversed") << QByteArray::fromHex("44332211")
                                         << QByteArray::fromHex("02 00 06 13 04 11 22 33 44 8E 41 03")
                                         << QByteArray::fromHex("02 00 06 13 04 11 22 33 44 8E 41 03");
    QTest::newRow("payload bytes stuffed")
        << QByteArray::fromHex("10030244") << QByteArray::fromHex("02 00 06 13 04 44 02 03 10 DE 1D 03")
        << QByteArray::fromHex("02 00 06 13 04 44 10 22 10 23 10 30 DE 1D 03");
    QTest::newRow("CRC byte stuffed, ETX not")
        << QByteArray::fromHex("00000007") << QByteArray::fromHex("02 00 06 13 04 07 00 00 00 02 5F 03")
        << QByteArray::fromHex("02 00 06 13 04 07 00 00 00 10 22 5F 03");
}

void TestFirstFrames::verifyFrame()
{
    QFETCH(QByteArray, fileBytes);
    QFETCH(QByteArray, unstuffed);
    QFETCH(QByteArray, wire);
    serialport port;
    progress engine(&port);
    engine.buildVerify(reinterpret_cast<const quint8 *>(fileBytes.constData()));
    QCOMPARE(engine.frame().step, int(progress::StepVerify));
    QCOMPARE(sent(engine), unstuffed);
    QCOMPARE(stuffed(engine), wire);
}

void TestFirstFrames::verifyCode_data()
{
    QTest::addColumn<int>("fileSize"); // -1: no file
    QTest::addColumn<int>("imageIndex");
    QTest::addColumn<QByteArray>("code");
    QTest::addColumn<bool>("error");
    const QByteArray none = QByteArray::fromHex("FFFFFFFF");
    QTest::newRow("arm reads at B000") << 0xB000 + 64 << 0 << QByteArray::fromHex("B3BAC1C8") << false;
    QTest::newRow("dsp reads at 17FE8") << 0x17FE8 + 4 << 1 << QByteArray::fromHex("DFE6EDF4") << false;
    QTest::newRow("short file, partly filled") << 0xB002 << 0 << QByteArray::fromHex("B3BAFFFF") << true;
    QTest::newRow("short file, none read") << 0x17FE8 << 1 << none << true;
    QTest::newRow("arm offset beyond a dsp-sized read") << 100 << 0 << none << true;
    QTest::newRow("missing file") << -1 << 0 << none << true;
}

void TestFirstFrames::verifyCode()
{
    QFETCH(int, fileSize);
    QFETCH(int, imageIndex);
    QFETCH(QByteArray, code);
    QFETCH(bool, error);
    QTemporaryDir dir;
    QByteArray bytes = image(qMax(fileSize, 0));
    const QString path = fileSize < 0 ? dir.filePath("absent.bin") : testFiles::writeIn(dir, "img.bin", bytes);
    serialport port;
    progress engine(&port);
    QSignalSpy log(&engine, &progress::sendMessage);
    quint8 out[4] = {0, 0, 0, 0};
    QCOMPARE(engine.readVerifyCodeOf(testFiles::read(path), out, imageIndex), !error);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(out), 4), code);
    QCOMPARE(log.count(), error ? 1 : 0);
    if (error)
        QCOMPARE(log.at(0).at(0).toString(), QString("verify code error!"));
}

void TestFirstFrames::blocks_data()
{
    QTest::addColumn<int>("fileSize");
    QTest::addColumn<int>("actualSize"); // bytes in the file once the job has started; -1: removed
    QTest::addColumn<QList<int>>("progressValues");
    QTest::addColumn<int>("lastResult");
    QTest::addColumn<bool>("readError");
    QTest::newRow("1500 bytes: last block padded") << 1500 << 1500 << QList<int> {1024, 1500} << 2 << false;
    QTest::newRow("2048 bytes: exactly two blocks") << 2048 << 2048 << QList<int> {1024, 2048} << 2 << false;
    QTest::newRow("one byte") << 1 << 1 << QList<int> {1} << 2 << false;
    // The blocks come from the image the job was handed, whatever the file does.
    QTest::newRow("file shrank during the job") << 2048 << 1100 << QList<int> {1024, 2048} << 2 << false;
    QTest::newRow("file grew during the job") << 1500 << 3000 << QList<int> {1024, 1500} << 2 << false;
    QTest::newRow("file vanished") << 1500 << -1 << QList<int> {1024, 1500} << 2 << false;
    QTest::newRow("empty image refused") << 0 << 0 << QList<int> {} << 2 << true;
}

void TestFirstFrames::blocks()
{
    QFETCH(int, fileSize);
    QFETCH(int, actualSize);
    QFETCH(QList<int>, progressValues);
    QFETCH(int, lastResult);
    QFETCH(bool, readError);
    QTemporaryDir dir;
    const QByteArray bytes = image(fileSize);
    const QString path = testFiles::writeIn(dir, "img.bin", bytes);
    ptyLine line;
    QVERIFY(line.open());
    serialport port;
    progress engine(&port);
    QSignalSpy log(&engine, &progress::sendMessage);
    startJob(engine, line, testFiles::read(path));
    if (actualSize < 0)
        QVERIFY(QFile::remove(path));
    else
        QVERIFY(testFiles::write(path, image(actualSize)));
    QSignalSpy bar(&engine, &progress::sendprogressBar);

    for (int i = 0; i < progressValues.size(); ++i) {
        QCOMPARE(engine.buildNextBlock(), 1);
        const QByteArray frame = sent(engine);
        QCOMPARE(frame.size(), 1031);
        QCOMPARE(frame.left(4), QByteArray::fromHex("02 04 01 12"));
        QCOMPARE(quint8(frame.at(1030)), quint8(0x03));
        const int from = i * 1024;
        const int count = progressValues.at(i) - from;
        QCOMPARE(frame.mid(4, count), bytes.mid(from, count));
        QCOMPARE(frame.mid(4 + count, 1024 - count), QByteArray(1024 - count, char(0xFF)));
        QCOMPARE(bar.at(i).at(0).toInt(), 3);
        QCOMPARE(bar.at(i).at(1).toLongLong(), qlonglong(progressValues.at(i)));
        QCOMPARE(bar.at(i).at(2).toLongLong(), qlonglong(fileSize));
    }
    QCOMPARE(engine.buildNextBlock(), lastResult);
    QCOMPARE(bar.count(), progressValues.size());
    QStringList lines;
    for (const QList<QVariant> &args : qAsConst(log))
        lines.append(args.at(0).toString());
    lines.removeAll(QStringLiteral("updating..."));
    QCOMPARE(lines, readError ? QStringList {"reading failed!"} : QStringList());
}

// A block of nothing but bytes that need stuffing nearly doubles the frame;
// it must fit the buffer and come back intact.
void TestFirstFrames::worstCaseBlockFits()
{
    QTemporaryDir dir;
    const QByteArray bytes(1024, char(0x10));
    ptyLine line;
    QVERIFY(line.open());
    serialport port;
    progress engine(&port);
    startJob(engine, line, testFiles::read(testFiles::writeIn(dir, "dle.bin", bytes)));
    QCOMPARE(engine.buildNextBlock(), 1);
    const QByteArray plain = sent(engine);
    const QByteArray wire = stuffed(engine);
    QVERIFY(wire.size() >= 1031 + 1024);
    QVERIFY(wire.size() <= progress::kSendBufferSize);
    QByteArray inner = wire.mid(1, wire.size() - 2);
    common::recoverData(inner);
    QCOMPARE(inner, plain.mid(1, plain.size() - 2));
}

void TestFirstFrames::receivePath_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<bool>("preamble");
    QTest::addColumn<int>("step");
    QTest::addColumn<bool>("waiting");
    QTest::addColumn<QStringList>("logs");
    QTest::addColumn<int>("stepAfter");
    QTest::addColumn<int>("held");  // received bytes left towards a reply
    QTest::addColumn<int>("sends"); // 1 once a frame went out
    const QStringList acked = {"shake hand success!", "verify code error!"};
    auto row = [](const char *name, const char *hex, bool preamble, int step, bool waiting, const QStringList &logs,
                  int stepAfter, int held, int sends = 0) {
        QTest::newRow(name) << QByteArray::fromHex(hex) << preamble << step << waiting << logs << stepAfter << held
                            << sends;
    };
    row("stuffed ACK", "02 00 10 23 11 01 06 9B DF 03", false, 3, true, acked, 4, 0, 1);
    row("stuffed CRC byte in ACK", "02 00 10 23 11 01 06 10 30 55 03", false, 3, true, acked, 4, 0, 1);
    row("garbage before ACK", "AA 55 7E 02 00 10 23 11 01 06 9B DF 03", false, 3, true, acked, 4, 0, 1);
    row("garbage without STX dropped", "AA 55 7E 81 23", false, 3, true, {}, 3, 0);
    row("bad ETX held", "02 00 10 23 11 01 06 9B DF 04", false, 3, true, {}, 3, 9);
    row("count byte 0x90 waits", "02 00 10 23 11 90 06 9B DF 03", false, 3, true, {}, 3, 9);
    row("NAK retries the step", "02 00 10 23 11 01 15 9B DF 03", false, 3, true, {}, 3, 0, 1);
    row("unknown code retries the step", "02 00 10 23 7E 01 06 9B DF 03", false, 3, true, {}, 3, 0, 1);
    row("unknown status retries the step", "02 00 10 23 11 01 42 9B DF 03", false, 3, true, {}, 3, 0, 1);
    row("late reply of another step ignored", "02 00 10 22 14 01 06 9B DF 03", false, 3, true, {}, 3, 0);
    row("late refusal of another step ignored", "02 00 10 22 12 01 15 9B DF 03", false, 3, true, {}, 3, 0);
    row("late unknown status of another step ignored", "02 00 10 22 12 01 42 9B DF 03", false, 3, true, {}, 3, 0);
    row("idle engine ignores ACK", "02 00 10 23 11 01 06 9B DF 03", false, 3, false, {}, 3, 0);
    row("preamble start reply", "23 02 00 03 AF AA 55 D6", true, 0, true, {}, 1, 0, 1);
    row("preamble reply after noise", "00 7E 23 02 00 03 AF AA 55 D6", true, 0, true, {}, 1, 0, 1);
    row("preamble OK reply", "23 02 00 03 AF 4F 4B 71", true, 1, true, {}, 2, 0, 1);
    row("preamble reply of the other step", "23 02 00 03 AF 4F 4B 71", true, 0, true, {}, 0, 8);
    row("preamble reply while idle", "23 02 00 03 AF AA 55 D6", true, 0, false, {}, 0, 8);
}

void TestFirstFrames::receivePath()
{
    QFETCH(QByteArray, stream);
    QFETCH(bool, preamble);
    QFETCH(int, step);
    QFETCH(bool, waiting);
    QFETCH(QStringList, logs);
    QFETCH(int, stepAfter);
    QFETCH(int, held);
    QFETCH(int, sends);

    // Every cut into two pieces, then every chunk size from 1 byte upward.
    QList<QList<QByteArray>> feeds;
    for (int cut = 1; cut < stream.size(); ++cut)
        feeds.append({stream.left(cut), stream.mid(cut)});
    for (int chunk = 1; chunk <= stream.size(); ++chunk) {
        QList<QByteArray> pieces;
        for (int at = 0; at < stream.size(); at += chunk)
            pieces.append(stream.mid(at, chunk));
        feeds.append(pieces);
    }
    // The pause before the target frame is 50 ms, its reply's wait 300 ms.
    common::setTimeScale(0.1);
    const auto restore = qScopeGuard([] { common::setTimeScale(1.0); });
    ptyLine line;
    QVERIFY(line.open());
    for (const QList<QByteArray> &pieces : qAsConst(feeds)) {
        serialport port;
        port.setWarningPresenter([](const QString &) {});
        progress engine(&port);
        // Too short for a verify code: its reading fails with a line.
        startJob(engine, line, QByteArray(16, 'x'));
        if (step == progress::StepPreambleConfirm)
            engine.receiveData(QByteArray::fromHex("23 02 00 03 AF AA 55 D6"));
        else if (step == progress::StepShakeHand)
            expire(engine); // no preamble answer: on to the shake hand
        QCOMPARE(engine.frame().step, step);
        QCOMPARE(step <= progress::StepPreambleTarget, preamble); // the steps that read raw preamble bytes
        if (!waiting)
            engine.stop();
        const lineCount onLine(port);
        const qint64 before = onLine.total();
        QSignalSpy log(&engine, &progress::sendMessage);
        for (const QByteArray &piece : pieces)
            engine.receiveData(piece);
        // The pause before the target frame is a step of its own: let it end.
        const QTimer *pause = engine.findChild<QTimer *>(QStringLiteral("targetPause"));
        QVERIFY(pause && QTest::qWaitFor([pause] { return !pause->isActive(); }, 2000));
        QStringList seen;
        for (const QList<QVariant> &args : qAsConst(log))
            seen.append(args.at(0).toString());
        const QString where = QString("pieces of %1").arg(pieces.first().size());
        QVERIFY2(seen == logs, qPrintable(where + ": " + seen.join('|')));
        QVERIFY2(engine.frame().step == stepAfter, qPrintable(where));
        QVERIFY2(engine.pendingReplyBytes() == held, qPrintable(where));
        QVERIFY2((onLine.total() > before ? 1 : 0) == sends, qPrintable(where));
    }
}

// The receive side alone, cut every way the line may cut it: replies come
// out whole and the same, noise is dropped or held with its reason.
void TestFirstFrames::decoder_data()
{
    using E = firstCodec::ReceiveError;
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QByteArray>("reply"); // un-stuffed; empty: none
    QTest::addColumn<int>("error");        // of the last arrival
    QTest::addColumn<int>("held");
    auto row = [](const char *name, const QByteArray &stream, const char *reply, E error, int held) {
        QTest::newRow(name) << stream << QByteArray::fromHex(reply) << int(error) << held;
    };
    auto hex = [](const char *h) { return QByteArray::fromHex(h); };
    row("shake hand ACK", hex("02 00 10 23 11 01 06 9B DF 03"), "02 00 03 11 01 06 9B DF 03", E::None, 0);
    row("verify ACK", hex("02 00 10 23 13 01 06 00 00 03"), "02 00 03 13 01 06 00 00 03", E::None, 0);
    row("erase NAK", hex("02 00 10 23 14 01 15 00 00 03"), "02 00 03 14 01 15 00 00 03", E::None, 0);
    row("write ACK, stuffed CRC byte", hex("02 00 10 23 12 01 06 10 30 55 03"), "02 00 03 12 01 06 10 55 03", E::None,
        0);
    row("jump ACK, longer status", hex("02 00 10 24 04 02 06 AA 00 00 03"), "02 00 04 04 02 06 AA 00 00 03", E::None,
        0);
    row("noise before the reply", hex("AA 55 7E 02 00 10 23 11 01 06 9B DF 03"), "02 00 03 11 01 06 9B DF 03", E::None,
        0);
    row("noise without STX", hex("AA 55 7E 81 23"), "", E::NoStart, 0);
    row("ETX out of place", hex("02 00 10 23 11 01 06 9B DF 04"), "", E::MisplacedEnd, 9);
    row("count past what came", hex("02 00 10 23 11 90 06 9B DF 03"), "", E::None, 9);
    row("endless frame dropped", hex("02 00 10 23 11 01") + QByteArray(64 * 1024, '\x55'), "", E::Overflow, 0);
}

void TestFirstFrames::decoder()
{
    QFETCH(QByteArray, stream);
    QFETCH(QByteArray, reply);
    QFETCH(int, error);
    QFETCH(int, held);
    for (const QList<QByteArray> &pieces : chunkings(stream)) {
        firstCodec::decoder decoder;
        QList<QByteArray> replies;
        firstCodec::Received got;
        for (const QByteArray &piece : pieces) {
            got = decoder.feed(piece);
            if (got.kind == firstCodec::Received::Complete)
                replies.append(got.reply.frame);
        }
        const QString where = QString("%1 pieces").arg(pieces.size());
        QVERIFY2(replies == (reply.isEmpty() ? QList<QByteArray>() : QList<QByteArray> {reply}), qPrintable(where));
        QVERIFY2(int(got.error) == error, qPrintable(where));
        QVERIFY2(decoder.held().size() == held, qPrintable(where));
        if (!reply.isEmpty()) {
            QCOMPARE(got.reply.code, quint8(reply.at(3)));
            QCOMPARE(got.reply.status, quint8(reply.at(5)));
        }
    }
}

void TestFirstFrames::preambleDecoder_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<bool>("start");
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<int>("held");
    const QByteArray start = QByteArray::fromHex("23 02 00 03 AF AA 55 D6");
    const QByteArray confirm = QByteArray::fromHex("23 02 00 03 AF 4F 4B 71");
    QTest::newRow("start reply") << start << true << false << 8;
    QTest::newRow("confirm reply after noise") << QByteArray::fromHex("00 7E") + confirm << false << true << 10;
    QTest::newRow("one byte short") << start.left(7) << false << false << 7;
    QTest::newRow("a byte changed") << QByteArray::fromHex("23 02 00 03 AF AA 55 D7") << false << false << 8;
    QTest::newRow("noise past 64 KiB dropped") << QByteArray(64 * 1024 + 1, '\x23') << false << false << 0;
}

void TestFirstFrames::preambleDecoder()
{
    QFETCH(QByteArray, stream);
    QFETCH(bool, start);
    QFETCH(bool, confirm);
    QFETCH(int, held);
    for (const QList<QByteArray> &pieces : chunkings(stream)) {
        firstCodec::decoder decoder;
        firstCodec::PreambleHeld found;
        for (const QByteArray &piece : pieces) {
            decoder.feedPreamble(piece);
            found = decoder.scanPreamble();
        }
        const QString where = QString("%1 pieces").arg(pieces.size());
        QVERIFY2(found.start == start && found.confirm == confirm, qPrintable(where));
        QVERIFY2(decoder.held().size() == held, qPrintable(where));
        QVERIFY2((found.error == firstCodec::ReceiveError::Overflow) == (held == 0), qPrintable(where));
    }
}

QTEST_GUILESS_MAIN(TestFirstFrames)
#include "test_firstframes.moc"
