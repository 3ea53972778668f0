// Frames of the second board engine as they reach the line, the cutting of
// replies out of the received stream, and the image signature test.
#include "protocol/second/progress1.h"
#include "serial/serialport.h"
#include "tools/unitsim/ptyline.h"
#include "tools/unitsim/secondunit.h"
#include "update/common.h"
#include "protocol/second/secondcodec.h"
#include "support/checksumvectors.h"
#include "support/chunkings.h"
#include "support/testfiles.h"
#include "support/testtime.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const QByteArray kSignatures[] = {"QJX-MONI", "NI0V", "ER0C", "CE0U"};
const qint64 kSignatureOffsets[] = {0x4000, 0x27FEC, 0x17FEC, 0x17FEC};

QByteArray imageBytes(int index, int size)
{
    QByteArray image(size, '\0');
    for (int i = 0; i < size; ++i)
        image[i] = char((i * 7 + i / 251) & 0xFF);
    if (index >= 0 && index < 4 && kSignatureOffsets[index] + kSignatures[index].size() <= size)
        image.replace(int(kSignatureOffsets[index]), kSignatures[index].size(), kSignatures[index]);
    return image;
}

QByteArray dataFrame(quint8 seq, const QByteArray &payload, int length)
{
    QByteArray frame(1, char(seq));
    frame.append(payload.left(length - 2));
    frame.append(QByteArray(length - frame.size() - 1, char(0xFF)));
    frame.append(char(common::xorCheck(reinterpret_cast<const quint8 *>(frame.constData()), quint32(frame.size()))));
    return frame;
}
} // namespace

class TestSecondFrames : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    ptyLine *m_line = nullptr;
    serialport *m_serial = nullptr;
    progress1 *m_engine = nullptr;
    QStringList m_log;
    QByteArray m_wire;

    // Starts a job on the bare line (nobody answers) so that the engine has
    // its port, its file name and, for a valid image, m_running set.
    bool startJob(int index, const QString &path)
    {
        updateParm job;
        job.modelId = 1;
        job.imageIndex = index;
        job.row = 0;
        job.imagePath = path;
        job.image = testFiles::read(path);
        job.portName = m_line->slavePath();
        m_log.clear();
        m_engine->initParm(job);
        return m_engine->isRunning();
    }

    QByteArray takeWire(int count)
    {
        QElapsedTimer clock;
        clock.start();
        while (m_wire.size() < count && clock.elapsed() < 2000)
            QTest::qWait(2);
        const QByteArray out = m_wire.left(count);
        m_wire.remove(0, count);
        return out;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_line = new ptyLine(this);
        QVERIFY(m_line->open());
        m_serial = new serialport(this);
        m_serial->setWarningPresenter([](const QString &) {});
        m_engine = new progress1(m_serial, this);
        connect(m_serial, &serialport::receive1, m_engine, &progress1::receiveData);
        connect(m_engine, &progress1::sendMessage, this, [this](const QString &text) { m_log << text; });
        connect(m_line, &ptyLine::received, this, [this](const QByteArray &bytes) { m_wire.append(bytes); });
    }

    void init()
    {
        common::setTimeScale(1.0); // no timer fires during these tests
        m_wire.clear();
        m_log.clear();
    }

    void startCommand_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("monitor") << 0 << QByteArray::fromHex("0107ade38d");
        QTest::newRow("inverter") << 1 << QByteArray::fromHex("0107aaa24f");
        QTest::newRow("rectifier") << 2 << QByteArray::fromHex("010755e20f");
        QTest::newRow("kind3") << 3 << QByteArray::fromHex("0107ab638f");
        const quint8 unknown[3] = {0x01, 0x07, 0x00};
        const quint16 crc = common::modbusCrc16(unknown, 3);
        QTest::newRow("outOfRangeCodeZero") << 4 << QByteArray::fromHex("010700") + char(crc & 0xFF) + char(crc >> 8);
    }

    void startCommand()
    {
        QFETCH(int, index);
        QFETCH(QByteArray, frame);
        QVERIFY(m_serial->openSerialPort(1, m_line->slavePath(), 2400));
        m_engine->sendUpdateCmd(index);
        QCOMPARE(takeWire(5).toHex(' '), frame.toHex(' '));
    }

    void fixedCommands_data()
    {
        QTest::addColumn<int>("which");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("changePort") << 0 << QByteArray::fromHex("01069ca70000167953");
        QTest::newRow("erase") << 1 << QByteArray::fromHex("040000ffff00aa55fb");
    }

    void fixedCommands()
    {
        QFETCH(int, which);
        QFETCH(QByteArray, frame);
        QVERIFY(m_serial->openSerialPort(1, m_line->slavePath(), 9600));
        if (which == 0)
            m_engine->sendChangePortCmd();
        else
            m_engine->sendEraseCmd();
        QCOMPARE(takeWire(9).toHex(' '), frame.toHex(' '));
        QCOMPARE(common::xorCheck(reinterpret_cast<const quint8 *>(frame.constData()), 8), quint8(frame[8]));
    }

    void fileSizeCommand_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("specimen100000") << 100000 << QByteArray::fromHex("aa00018f0024");
        QTest::newRow("wholeFrames") << 16512 << QByteArray::fromHex("aa00004900e3");
        QTest::newRow("minimumImage") << 16392 << QByteArray::fromHex("aa0000488062");
    }

    void fileSizeCommand()
    {
        QFETCH(int, size);
        QFETCH(QByteArray, frame);
        const QString path = testFiles::writeIn(m_dir, QStringLiteral("size%1").arg(size), imageBytes(0, size));
        QVERIFY(startJob(0, path));
        m_wire.clear();
        m_engine->sendFileSizeCmd();
        QCOMPARE(takeWire(6).toHex(' '), frame.toHex(' '));
        QCOMPARE(m_engine->state(), int(progress1::FileSizeSent));
    }

    void checksums_data()
    {
        QTest::addColumn<bool>("isXor");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("expected");
        for (const checksumVector &v : checksumVectors::modbus())
            QTest::addRow("modbus: %s", v.name) << false << v.input << int(v.value);
        for (const checksumVector &v : checksumVectors::xorCheck())
            QTest::addRow("xor: %s", v.name) << true << v.input << int(v.value);
    }

    void checksums()
    {
        QFETCH(bool, isXor);
        QFETCH(QByteArray, input);
        QFETCH(int, expected);
        const auto *p = reinterpret_cast<const quint8 *>(input.constData());
        const quint32 n = quint32(input.size());
        QCOMPARE(isXor ? int(common::xorCheck(p, n)) : int(common::modbusCrc16(p, n)), expected);
    }

    void replyFraming_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<bool>("running");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<int>("pending");
        const QByteArray garbage = QByteArray::fromHex("102030405060708090a0b0c0d0");
        const QByteArray long12 = QByteArray::fromHex("0455aa0000000000000000fb");
        const QByteArray long13 = QByteArray::fromHex("0455aa000000000000000000fb");
        const QString ok = QStringLiteral("prepare for updating!");
        const QString other = QStringLiteral("verify failed!");
        QTest::newRow("startAck") << QByteArray::fromHex("0455aafb") << true << QStringList {ok} << 0;
        QTest::newRow("wrongAck") << QByteArray::fromHex("04aa55fb") << true << QStringList {other} << 0;
        QTest::newRow("echoNeverFourByteReply")
            << QByteArray::fromHex("01069ca700001679") << true << QStringList {other} << 0;
        QTest::newRow("twelveByteAck") << long12 << true << QStringList {ok} << 0;
        QTest::newRow("thirteenByteAck") << long13 << true << QStringList {ok} << 0;
        QTest::newRow("garbageDroppedAt13")
            << garbage + QByteArray::fromHex("0455aafb") << true << QStringList {ok} << 0;
        QTest::newRow("badXorKeptThenDropped")
            << QByteArray::fromHex("0455aa00") + garbage.left(9) + QByteArray::fromHex("0455aafb") << true
            << QStringList {ok} << 0;
        QTest::newRow("twoRepliesInOneCall")
            << QByteArray::fromHex("04aa55fb0455aafb") << true << QStringList {other, ok} << 0;
        QTest::newRow("partialKept") << QByteArray::fromHex("0455aa") << true << QStringList {} << 3;
        QTest::newRow("idleDropsReply") << QByteArray::fromHex("0455aafb") << false << QStringList {} << 0;
    }

    // Every input is fed whole, byte by byte and in growing chunks: the
    // result must not depend on how the line cut it.
    void replyFraming()
    {
        QFETCH(QByteArray, input);
        QFETCH(bool, running);
        QFETCH(QStringList, expected);
        QFETCH(int, pending);
        const QString path = testFiles::writeIn(m_dir, QStringLiteral("rec"), imageBytes(2, 98300));
        for (int pattern = 0; pattern < 3; ++pattern) {
            QVERIFY(startJob(2, path)); // a started job begins with an empty reply buffer
            if (!running)
                QVERIFY(!startJob(7, path));
            m_log.clear();
            int at = 0;
            for (int chunk = 1; at < input.size(); chunk += (pattern == 2)) {
                const int n = pattern == 0 ? input.size() : qMin(chunk, input.size() - at);
                m_engine->receiveData(input.mid(at, n));
                at += n;
            }
            QCOMPARE(m_log, expected);
            QCOMPARE(m_engine->pendingReplyBytes(), pending);
        }
    }

    // The receive side alone, cut every way the line may cut it. Kinds:
    // S start acknowledged, C command acknowledged, O any other reply.
    void decoder_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QString>("kinds");
        QTest::addColumn<int>("drops"); // 13 bytes without a reply
        QTest::addColumn<int>("pending");
        const QByteArray garbage = QByteArray::fromHex("102030405060708090a0b0c0d0");
        auto row = [](const char *name, const QByteArray &stream, const char *kinds, int drops, int pending) {
            QTest::newRow(name) << stream << QString(kinds) << drops << pending;
        };
        row("start acknowledged", QByteArray::fromHex("0455aafb"), "S", 0, 0);
        row("command acknowledged", QByteArray::fromHex("04aa55fb"), "C", 0, 0);
        row("change-port echo", QByteArray::fromHex("01069ca700001679"), "O", 0, 0);
        row("12-byte reply", QByteArray::fromHex("0455aa0000000000000000fb"), "S", 0, 0);
        row("13-byte reply", QByteArray::fromHex("04aa55000000000000000000fb"), "C", 0, 0);
        row("two replies back to back", QByteArray::fromHex("04aa55fb0455aafb"), "CS", 0, 0);
        row("garbage dropped at 13", garbage + QByteArray::fromHex("0455aafb"), "S", 1, 0);
        row("bad check kept, then dropped", QByteArray::fromHex("0455aa00") + garbage.left(9), "", 1, 0);
        row("part of a reply kept", QByteArray::fromHex("0455aa"), "", 0, 3);
    }

    void decoder()
    {
        QFETCH(QByteArray, stream);
        QFETCH(QString, kinds);
        QFETCH(int, drops);
        QFETCH(int, pending);
        for (const QList<QByteArray> &pieces : chunkings(stream)) {
            secondCodec::decoder decoder;
            QString seen;
            int dropped = 0;
            for (const QByteArray &piece : pieces) {
                for (char byte : piece) {
                    const secondCodec::decoder::Outcome outcome = decoder.push(quint8(byte));
                    dropped += outcome == secondCodec::decoder::Dropped ? 1 : 0;
                    if (outcome != secondCodec::decoder::Complete)
                        continue;
                    const secondCodec::Reply &reply = decoder.reply();
                    seen += reply.isStartAck() ? 'S' : reply.isCommandAck() ? 'C' : 'O';
                    decoder.clear();
                }
            }
            const QString where = QString("%1 pieces").arg(pieces.size());
            QVERIFY2(seen == kinds, qPrintable(where + ": " + seen));
            QVERIFY2(dropped == drops, qPrintable(where));
            QVERIFY2(decoder.pending() == pending, qPrintable(where));
        }
    }

    void signature_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("expected");
        QTest::addColumn<QStringList>("log");
        for (int i = 0; i < 4; ++i)
            QTest::addRow("kind%d", i) << i << imageBytes(i, int(kSignatureOffsets[i]) + 20) << true << QStringList {};
        QTest::newRow("shortMonitor") << 0 << imageBytes(0, 16392).left(16391) << false << QStringList {};
        QTest::newRow("wrongKindSignature") << 2 << imageBytes(3, 98300) << false << QStringList {};
        QTest::newRow("emptyFile") << 1 << QByteArray() << false << QStringList {};
        QTest::newRow("indexOutOfRange") << 4 << imageBytes(2, 98300) << false << QStringList {};
        QTest::newRow("negativeIndex") << -1 << imageBytes(2, 98300) << false << QStringList {};
    }

    void signature()
    {
        QFETCH(int, index);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, expected);
        QFETCH(QStringList, log);
        QCOMPARE(m_engine->verifyImage(index, bytes), expected);
        QCOMPARE(m_log, log);
    }

    // Data frames of whole jobs against the simulated unit: the specimen
    // 98300-byte rectifier image and a monitor image with one resend.
    void dataFrames_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("fault");
        QTest::newRow("rectifierSpecimen") << 2 << 98300 << QString();
        QTest::newRow("monitorWithResend") << 0 << 16500 << QStringLiteral("silence:data@10");
        QTest::newRow("shortFramesWithResend") << 3 << 98300 << QStringLiteral("silence:data@17");
    }

    void dataFrames()
    {
        QFETCH(int, index);
        QFETCH(int, size);
        QFETCH(QString, fault);
        common::setTimeScale(testTimeScale(0.02));
        const QByteArray image = imageBytes(index, size);
        const QString path = testFiles::writeIn(m_dir, QStringLiteral("data%1").arg(index), image);
        secondUnit unit;
        QVERIFY(unit.open());
        QVERIFY(fault.isEmpty() || unit.addFault(fault));
        QSignalSpy finished(m_engine, &progress1::finish);
        updateParm job;
        job.modelId = 1;
        job.imageIndex = index;
        job.imagePath = path;
        job.image = testFiles::read(path);
        job.portName = unit.portName();
        m_engine->initParm(job);
        QVERIFY(finished.wait(20000));

        const int length = index == 0 ? 130 : 34;
        const int payload = length - 2;
        const int count = index == 0 ? size / 128 + 17 : (size + 31) / 32;
        QList<QByteArray> frames = unit.frames();
        frames.erase(frames.begin(), frames.begin() + (index == 0 ? 4 : 3));
        QCOMPARE(frames.size(), count + (fault.isEmpty() ? 0 : 1));
        int resendAt = -1;
        if (!fault.isEmpty()) {
            resendAt = fault.section('@', 1).toInt() - 1;
            QCOMPARE(frames.at(resendAt + 1), frames.at(resendAt)); // resend: byte for byte the original
            frames.removeAt(resendAt + 1);
        }
        for (int k = 0; k < count; ++k) {
            const QByteArray expected = dataFrame(quint8(k & 0x0F), image.mid(k * payload, payload), length);
            QCOMPARE(frames.at(k).toHex(), expected.toHex());
        }
        if (index == 2) {
            const QByteArray last = frames.last();
            QCOMPARE(quint8(last[0]), quint8(15));
            QCOMPARE(last.mid(1, 28), image.mid(98272, 28));
            QCOMPARE(last.mid(29, 4), QByteArray(4, char(0xFF)));
        }
        QCOMPARE(quint8(frames.at(16)[0]), quint8(0)); // sequence wraps after 15
        QVERIFY2(unit.violations().isEmpty(), qPrintable(unit.violations().join('\n')));
    }
};

QTEST_GUILESS_MAIN(TestSecondFrames)
#include "test_secondframes.moc"
