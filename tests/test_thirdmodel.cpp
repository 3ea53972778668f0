// A model is one registry row, one protocol and one simulated unit: a model
// made up here, with a protocol of its own (a start frame with the size, then
// 64-byte blocks, each answered 0x06), runs through the update core end to
// end, from the package to the unit, beside the built-in models.
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "model/modelregistry.h"
#include "protocol/updateengine.h"
#include "serial/serialport.h"
#include "support/testtime.h"
#include "tools/support/packagewriter.h"
#include "tools/unitsim/simulatedunit.h"
#include "tools/unitsim/unitmodels.h"
#include "tools/unitsim/unitserver.h"
#include "update/common.h"
#include "update/updatecore.h"

namespace {

constexpr int kModel = 7;
constexpr int kBaud = 19200;
constexpr int kBlock = 64;
constexpr char kAck = 0x06;
constexpr int kAnswerMs = 2000;
constexpr double kTimeScale = testTimeScale(0.05);
constexpr int kRunTimeoutMs = testWaitMs(20000);

QByteArray sizeFrame(int size)
{
    QByteArray frame("S");
    for (int shift = 0; shift < 32; shift += 8)
        frame.append(char((size >> shift) & 0xFF));
    return frame;
}

// The tool's side: sends the size, then the blocks, each after the unit's ack.
class blockEngine : public updateEngine
{
public:
    blockEngine(serialport *line, QObject *parent)
        : updateEngine(parent)
        , m_line(line)
    {
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, [this] { fail(HandshakeFailed); });
    }

    bool checkImage(int, const QByteArray &image) override { return !image.isEmpty(); }
    bool isBusy() const override { return m_busy; }

    void initParm(updateParm job) override
    {
        m_job = job;
        m_sent = 0;
        if (!m_line->openSerialPort(job.modelId, job.portName, kBaud))
            return fail(PortUnavailable);
        m_busy = true;
        send(sizeFrame(job.image.size()));
    }

    void receiveData(QByteArray data) override
    {
        if (!m_busy || data != QByteArray(1, kAck))
            return;
        if (m_sent >= m_job.image.size()) {
            stop();
            emit finish(true);
            return;
        }
        const QByteArray block = m_job.image.mid(m_sent, kBlock);
        m_sent += block.size();
        emit sendprogressBar(m_job.row, m_sent, m_job.image.size());
        send(block);
    }

    void stop() override
    {
        m_busy = false;
        m_timer.stop();
    }

private:
    void send(const QByteArray &bytes)
    {
        m_line->sendCmdData(reinterpret_cast<const quint8 *>(bytes.constData()), ushort(bytes.size()));
        m_timer.start(common::scaledMs(kAnswerMs));
    }

    void fail(FailReason reason)
    {
        stop();
        emit jobFailed(reason);
    }

    serialport *m_line;
    QTimer m_timer;
    updateParm m_job;
    qint64 m_sent = 0;
    bool m_busy = false;
};

// The unit's side: takes the size, acks it and every block, keeps the image.
class blockUnit : public simulatedUnit
{
public:
    explicit blockUnit(QObject *parent)
        : simulatedUnit(grammar(), parent)
    {
    }

    static QString faultHelp() { return simulatedUnit::faultHelp(grammar()); }
    QByteArray flashedImage() const override { return m_image; }
    QString target() const override { return QStringLiteral("block"); }

protected:
    void receive(const QByteArray &bytes) override
    {
        m_rx += bytes;
        if (m_size < 0 && m_rx.size() >= 5) {
            checkSpeed(kBaud, QStringLiteral("size frame"));
            m_size = qFromLittleEndian<qint32>(m_rx.constData() + 1);
            m_rx.remove(0, 5);
            m_image.clear();
            enqueue(QByteArray(1, kAck), 0);
        }
        while (m_size >= 0 && !m_rx.isEmpty() && (m_rx.size() >= kBlock || m_image.size() + m_rx.size() >= m_size)) {
            const QByteArray block = m_rx.left(int(qMin<qint64>(kBlock, m_size - m_image.size())));
            m_rx.remove(0, block.size());
            m_image += block;
            enqueue(QByteArray(1, kAck), 0);
            if (m_image.size() == m_size) {
                m_size = -1;
                completeJob(target(), m_image);
            }
        }
    }

private:
    static const Grammar &grammar()
    {
        static const Grammar none;
        return none;
    }

    QByteArray m_rx;
    QByteArray m_image;
    qint64 m_size = -1;
};

updateEngine *makeBlockEngine(serialport *line, QObject *parent)
{
    return new blockEngine(line, parent);
}

simulatedUnit *makeBlockUnit(QObject *parent)
{
    return new blockUnit(parent);
}

QByteArray payload(int size, int seed)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * seed + 3) & 0xFF);
    return bytes;
}

} // namespace

class TestThirdModel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        modelRow row;
        row.id = kModel;
        row.pathTag = QStringLiteral("bench-3k");
        row.imageNames = QStringList {QStringLiteral("loader"), QStringLiteral("app")};
        row.packagedNames = QStringList {QStringLiteral("loader.bin"), QStringLiteral("app.bin")};
        row.engineName = "block engine";
        row.makeEngine = &makeBlockEngine;
        QVERIFY(modelRegistry::add(row));
        QVERIFY2(!modelRegistry::add(row), "a taken id is refused");
        QVERIFY(unitModels::add({kModel, &makeBlockUnit, &blockUnit::faultHelp, false, nullptr}));
    }
    void init() { common::setTimeScale(kTimeScale); }
    void cleanup() { common::setTimeScale(1.0); }

    void unknownIdsAreRefused_data()
    {
        QTest::addColumn<int>("id");
        QTest::newRow("one past the rows") << kModel + 1;
        QTest::newRow("negative") << -1;
    }

    void unknownIdsAreRefused()
    {
        QFETCH(int, id);
        QVERIFY(!modelRegistry::find(id));
        QCOMPARE(modelRegistry::pathTag(id), QString());
        QCOMPARE(modelRegistry::imageIndexOf(id, QStringLiteral("arm.bin")), -1);
        updateCore core;
        QVERIFY(!core.engine(id));
    }

    // Both images reach the unit whole, in the row's order (app.bin is
    // packaged first), through the registry's engine and unit only.
    void runsThroughTheCore()
    {
        QTemporaryDir dir;
        const QString zipPath = dir.filePath(QStringLiteral("ups_bench-3k.zip"));
        const QByteArray loader = payload(200, 5);
        const QByteArray app = payload(333, 11);
        packageWriter writer(zipPath);
        QVERIFY(writer.open() && writer.addImage(QStringLiteral("app.bin"), app)
                && writer.addImage(QStringLiteral("loader.bin"), loader) && writer.close());

        unitServer unit(kModel);
        QVERIFY(unit.open());
        const QString saved = dir.filePath(QStringLiteral("unit"));
        QVERIFY(QDir().mkpath(saved));
        unit.setSaveDir(saved);
        updateCore core;
        QCOMPARE(core.engines().size(), modelRegistry::rows().size());
        QVERIFY(core.listPackage(zipPath, trustedKeys()));
        QCOMPARE(core.package().modelId(), kModel);
        QVERIFY(core.package().addChecked(0, QStringLiteral("app.bin")));
        QVERIFY(core.package().addChecked(1, QStringLiteral("loader.bin")));
        QStringList order;
        connect(&core, &updateCore::jobStarted, this, [&](updateParm job) { order << job.imagePath.section('/', -1); });
        QSignalSpy ended(&core, &updateCore::runEnded);

        QVERIFY(core.start(unit.portName()));
        QVERIFY(ended.count() > 0 || ended.wait(kRunTimeoutMs));
        QCOMPARE(ended.first().first().toBool(), true);
        QCOMPARE(order, (QStringList {QStringLiteral("loader.bin"), QStringLiteral("app.bin")}));
        QFile first(saved + QStringLiteral("/block.bin"));
        QFile second(saved + QStringLiteral("/block-2.bin"));
        QVERIFY(first.open(QIODevice::ReadOnly) && second.open(QIODevice::ReadOnly));
        QCOMPARE(first.readAll(), loader);
        QCOMPARE(second.readAll(), app);
    }
};

QTEST_GUILESS_MAIN(TestThirdModel)
#include "test_thirdmodel.moc"
