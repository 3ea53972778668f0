// The simulated units' common ground: the fault grammar KIND[:STEP][@N] of
// both models, which answers a fault hits, and the wire time of paced bytes.
#include "tools/unitsim/firstunit.h"
#include "tools/unitsim/secondunit.h"

#include <QtTest>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numeric>
#include <memory>

#include "serial/serialport.h"
#include "tools/unitsim/pacetimer.h"
#include "util/timescale.h"

namespace {
using Kind = simulatedUnit::FaultKind;

// A unit with two steps, a and b, to watch which answers a fault hits.
class probeUnit : public simulatedUnit
{
public:
    probeUnit()
        : simulatedUnit(grammar(), nullptr)
    {
    }
    QByteArray flashedImage() const override { return QByteArray(); }
    QString target() const override { return QString(); }
    bool silenced(QChar step) { return faultsOnAnswer(step == QLatin1Char('a') ? 0 : 1).contains(Silence); }
    using simulatedUnit::enqueue;
    // Answers each request with REPLY after working on it for WORKNS.
    void answerWith(const QByteArray &reply, qint64 workNs)
    {
        m_reply = reply;
        m_workNs = workNs;
    }

protected:
    void receive(const QByteArray &request) override
    {
        if (m_reply.isEmpty())
            return;
        const qint64 until = paceTimer::nowNs() + m_workNs;
        while (paceTimer::nowNs() < until) { }
        enqueue(m_reply, 0, request.size());
    }

private:
    QByteArray m_reply;
    qint64 m_workNs = 0;

    static const Grammar &grammar()
    {
        static const Grammar g = {{{Silence, "no reply"}}, {{"a", nullptr, "step a"}, {"b", nullptr, "step b"}}};
        return g;
    }
};

struct scaleGuard
{
    explicit scaleGuard(double factor) { timeScale::set(factor); }
    ~scaleGuard() { timeScale::set(1.0); }
};

// Starts COUNT exchanges one after another with START (which returns when
// it started) and gives how much after START + DUENS each of the unit's
// pieces left.
QVector<qint64> lateness(const simulatedUnit &unit, int count, qint64 dueNs, const std::function<void()> &start)
{
    QVector<qint64> lateNs;
    qint64 startedNs = 0;
    const auto next = [&] {
        startedNs = paceTimer::nowNs();
        start();
    };
    QEventLoop loop;
    QObject::connect(unit.line(), &ptyLine::sent, &loop, [&] {
        lateNs.append(paceTimer::nowNs() - startedNs - dueNs);
        if (lateNs.size() < count)
            next();
        else
            loop.quit();
    });
    next();
    loop.exec();
    return lateNs;
}

double meanMs(const QVector<qint64> &ns)
{
    return double(std::accumulate(ns.begin(), ns.end(), qint64(0))) / ns.size() / 1e6;
}

std::unique_ptr<simulatedUnit> unitOf(int model)
{
    if (model == 0)
        return std::make_unique<firstUnit>();
    return std::make_unique<secondUnit>();
}
} // namespace

class TestUnitSim : public QObject
{
    Q_OBJECT

private slots:
    void grammar_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("occurrence");
        const int every = simulatedUnit::kEveryStep;
        auto ok = [](const char *name, int model, const char *text, Kind kind, int step, int n) {
            QTest::newRow(name) << model << QString(text) << true << int(kind) << step << n;
        };
        auto bad = [](const char *name, int model, const char *text) {
            QTest::newRow(name) << model << QString(text) << false << 0 << 0 << 0;
        };
        ok("first: kind and step", 0, "silence:shakehand", simulatedUnit::Silence, firstUnit::ShakeHand, 0);
        ok("first: N-th block", 0, "nak:write@3", simulatedUnit::Nak, firstUnit::Write, 3);
        ok("first: step alias", 0, "badstatus:block@2", simulatedUnit::BadStatus, firstUnit::Write, 2);
        ok("first: kind alone", 0, "drip", simulatedUnit::Drip, every, 0);
        ok("first: case and blanks", 0, " Close:Jump@1 ", simulatedUnit::Close, firstUnit::Jump, 1);
        ok("second: kind alone", 1, "long13", simulatedUnit::Long13, every, 0);
        ok("second: N-th answer of every step", 1, "silence@2", simulatedUnit::Silence, every, 2);
        ok("second: N-th frame", 1, "double:data@3", simulatedUnit::Double, secondUnit::Data, 3);
        ok("second: wrong reply to an unframed command", 1, "nak:start", simulatedUnit::Nak, secondUnit::Start, 0);
        bad("unknown kind: other model's", 0, "long12:write");
        bad("unknown kind: other model's (second)", 1, "unknown:data");
        bad("unknown step: other model's", 0, "silence:data");
        bad("unknown step: other model's alias", 1, "silence:block");
        bad("model rule: NAK to the preamble", 0, "nak:preamble");
        bad("model rule: extra frame on every step", 0, "badstatus");
        bad("bad count: zero", 0, "silence:write@0");
        bad("bad count: overflow", 1, "silence:data@99999999999");
        bad("bad count: negative", 1, "silence:data@-1");
        bad("malformed: empty", 0, "");
        bad("malformed: empty step", 1, "silence:");
        bad("malformed: two steps", 1, "drip:data:erase");
        bad("malformed: trailing junk", 0, "drip:write@3x");
    }

    void grammar()
    {
        QFETCH(int, model);
        QFETCH(QString, text);
        QFETCH(bool, valid);
        const std::unique_ptr<simulatedUnit> unit = unitOf(model);
        QString error;
        QCOMPARE(unit->addFault(text, &error), valid);
        QCOMPARE(error.isEmpty(), valid);
        if (!valid) {
            QVERIFY(unit->faults().isEmpty()); // nothing half added
            return;
        }
        QCOMPARE(unit->faults().size(), 1);
        const simulatedUnit::Fault fault = unit->faults().first();
        QTEST(int(fault.kind), "kind");
        QTEST(fault.step, "step");
        QTEST(fault.occurrence, "occurrence");
    }

    // Each letter of answers is one answer to that step; hits marks with 1
    // the answers the faults silence.
    void hits_data()
    {
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<QString>("answers");
        QTest::addColumn<QString>("hits");
        QTest::newRow("every answer of every step") << QStringList {"silence"} << "abab"
                                                    << "1111";
        QTest::newRow("every answer of one step") << QStringList {"silence:b"} << "abab"
                                                  << "0101";
        QTest::newRow("N-th answer of each step") << QStringList {"silence@2"} << "aabbab"
                                                  << "010100";
        QTest::newRow("N-th answer of one step") << QStringList {"silence:a@3"} << "ababaa"
                                                 << "000010";
        QTest::newRow("faults add up") << QStringList {"silence:a@1", "silence:b@2"} << "abab"
                                       << "1001";
    }

    void hits()
    {
        QFETCH(QStringList, faults);
        QFETCH(QString, answers);
        probeUnit unit;
        for (const QString &fault : faults)
            QVERIFY2(unit.addFault(fault), qPrintable(fault));
        QString hits;
        for (const QChar step : answers)
            hits += unit.silenced(step) ? QLatin1Char('1') : QLatin1Char('0');
        QTEST(hits, "hits");
    }

    // A paced byte never leaves before its last bit could have crossed.
    void wireTime_data()
    {
        QTest::addColumn<int>("bytes");
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("ms");
        QTest::newRow("rounded up: one byte at 2400") << 1 << 2400 << 5;      // 4.17 ms
        QTest::newRow("rounded up: one byte at 9600") << 1 << 9600 << 2;      // 1.04 ms
        QTest::newRow("rounded up: a block at 9600") << 1031 << 9600 << 1074; // 1073.96 ms
        QTest::newRow("exact: whole milliseconds") << 24 << 2400 << 100;
        QTest::newRow("unknown speed: unpaced") << 10 << 0 << 0;
    }

    void wireTime()
    {
        QFETCH(int, bytes);
        QFETCH(int, baud);
        QTEST(simulatedUnit::wireMs(bytes, baud), "ms");
    }

    // Replies paced to the microsecond: none leaves before its request and
    // itself have crossed the line (and the adapter's latency has run out),
    // and over a few thousand of them the wait is late by no more than
    // 0.2 ms on average. Time is scaled to make each wait 0.5 ms.
    void pacedRepliesDoNotAddUp_data()
    {
        QTest::addColumn<int>("bytes");
        QTest::addColumn<int>("baud");
        QTest::addColumn<double>("latencyMs");
        QTest::newRow("early or late: long data frames at 9600") << 130 + 4 << 9600 << 0.0;
        QTest::newRow("early or late: short data frames at 9600") << 34 + 4 << 9600 << 0.0;
        QTest::newRow("early or late: replies at 2400") << 7 << 2400 << 0.0;
        QTest::newRow("adapter latency: 16 ms on each ack") << 4 << 9600 << 16.0;
    }

    void pacedRepliesDoNotAddUp()
    {
        QFETCH(int, bytes);
        QFETCH(int, baud);
        QFETCH(double, latencyMs);
        const int requestBytes = 4;
        const qint64 unscaledNs = simulatedUnit::wireNs(requestBytes + bytes, baud) + qint64(latencyMs * 1e6);
        const scaleGuard scale(500000.0 / double(unscaledNs));
        const qint64 dueNs = qint64(std::ceil(double(unscaledNs) * timeScale::factor()));
        probeUnit unit;
        unit.setLineRate(true);
        unit.setReplyLatencyMs(latencyMs);
        QVERIFY(unit.open());
        serialport tool; // sets the line's speed and drains what the unit sends
        QVERIFY(tool.openSerialPort(1, unit.portName(), baud));
        const QByteArray reply(bytes, '\x55');
        const QVector<qint64> lateNs = lateness(unit, 1000, dueNs, [&] { unit.enqueue(reply, 0, requestBytes); });
        QVERIFY2(*std::min_element(lateNs.begin(), lateNs.end()) >= 0, "a reply left early");
        QVERIFY2(meanMs(lateNs) <= 0.2, qPrintable(QString::number(meanMs(lateNs))));
    }

    // A reply's wait counts from its request's arrival: the time the unit
    // spends on a request is the instrument's, not the line's. Measured from
    // the tool's write, a reply is never early and, over a few hundred of
    // them, late by far less than the unit's work.
    void replyCountsFromItsRequest_data()
    {
        QTest::addColumn<int>("workUs");
        QTest::newRow("unit's work: none") << 0;
        QTest::newRow("unit's work: 1 ms on each request") << 1000;
    }

    void replyCountsFromItsRequest()
    {
        QFETCH(int, workUs);
        const QByteArray request(34, '\x11');
        const QByteArray reply(4, '\x55');
        const int baud = 9600;
        const qint64 unscaledNs = simulatedUnit::wireNs(request.size() + reply.size(), baud);
        const scaleGuard scale(2000000.0 / double(unscaledNs)); // a 2 ms wait, longer than the work
        const qint64 dueNs = qint64(std::ceil(double(unscaledNs) * timeScale::factor()));
        probeUnit unit;
        unit.setLineRate(true);
        unit.answerWith(reply, qint64(workUs) * 1000);
        QVERIFY(unit.open());
        serialport tool;
        QVERIFY(tool.openSerialPort(1, unit.portName(), baud));
        const QVector<qint64> lateNs = lateness(unit, 300, dueNs, [&] {
            tool.sendCmdData(reinterpret_cast<const quint8 *>(request.constData()), ushort(request.size()));
        });
        QVERIFY2(*std::min_element(lateNs.begin(), lateNs.end()) >= 0, "a reply left early");
        QVERIFY2(meanMs(lateNs) <= 0.5, qPrintable(QString::number(meanMs(lateNs))));
    }
};

QTEST_GUILESS_MAIN(TestUnitSim)
#include "test_unitsim.moc"
