// The simulated units' common ground: the fault grammar KIND[:STEP][@N] of
// both models, which answers a fault hits, and the wire time of paced bytes.
#include "tools/unitsim/firstunit.h"
#include "tools/unitsim/secondunit.h"

#include <QtTest>

#include <memory>

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

protected:
    void receive(const QByteArray &) override { }

private:
    static const Grammar &grammar()
    {
        static const Grammar g = {{{Silence, "no reply"}}, {{"a", nullptr, "step a"}, {"b", nullptr, "step b"}}};
        return g;
    }
};

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

    // Thousands of paced replies take their exact line time in all, not a
    // millisecond more each; none of them leaves more than 1 ms early.
    void pacedRepliesDoNotAddUp_data()
    {
        QTest::addColumn<int>("bytes");
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("count");
        QTest::newRow("long data frames at 9600") << 130 + 4 << 9600 << 3000;
        QTest::newRow("short data frames at 9600") << 34 + 4 << 9600 << 9000;
        QTest::newRow("replies at 2400") << 7 << 2400 << 500;
    }

    void pacedRepliesDoNotAddUp()
    {
        QFETCH(int, bytes);
        QFETCH(int, baud);
        QFETCH(int, count);
        firstUnit unit;
        const qint64 exactUs = qint64(count) * bytes * simulatedUnit::kBitsPerByte * 1000000 / baud;
        qint64 waitedMs = 0;
        for (int i = 0; i < count; ++i) {
            waitedMs += unit.pacedWireMs(bytes, baud);
            const qint64 dueUs = qint64(i + 1) * bytes * simulatedUnit::kBitsPerByte * 1000000 / baud;
            QVERIFY2(waitedMs * 1000 >= dueUs - 1000, qPrintable(QString::number(i)));
        }
        QVERIFY(waitedMs * 1000 >= exactUs);
        QVERIFY(waitedMs * 1000 <= exactUs + 1000);
    }
};

QTEST_GUILESS_MAIN(TestUnitSim)
#include "test_unitsim.moc"
