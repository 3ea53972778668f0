// Replays every input the fuzzers ever broke something with, and every seed
// they start from, through the very code the fuzz targets drive: a fixed
// finding stays fixed in the normal and the sanitized suite alike.
#include "tools/support/hostileinput.h"
#include "tools/support/memoryinput.h"
#include "update/common.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <functional>

namespace {
using Feed = std::function<QString(const QByteArray &)>;

const QList<QPair<QString, Feed>> &feeds()
{
    static const QList<QPair<QString, Feed>> all = {
        {QStringLiteral("translation"), &hostileInput::translateObjectFile},
        {QStringLiteral("translation/in memory"), &memoryInput::readObjectFile},
        {QStringLiteral("firstcodec"), &memoryInput::decodeFirstBoard},
        {QStringLiteral("secondcodec"), &memoryInput::decodeSecondBoard},
        {QStringLiteral("signature"), &memoryInput::parseSignature},
        {QStringLiteral("firstreceive"), &hostileInput::feedFirstBoard},
        {QStringLiteral("secondreceive"), &hostileInput::feedSecondBoard},
        {QStringLiteral("package"), &hostileInput::unpackPackage},
    };
    return all;
}

// One row per file of root/<target>/, named "<kind>/<feed>/<file>"; a feed
// named "<target>/<how>" reads the target's files another way.
int addRows(const QString &kind, const QString &root)
{
    int rows = 0;
    for (int i = 0; i < feeds().size(); ++i) {
        const QString target = feeds().at(i).first;
        const QDir dir(root + QLatin1Char('/') + target.section(QLatin1Char('/'), 0, 0));
        for (const QString &name : dir.entryList(QDir::Files, QDir::Name)) {
            QTest::newRow(qPrintable(kind + '/' + target + '/' + name)) << i << dir.filePath(name);
            ++rows;
        }
    }
    return rows;
}
} // namespace

class TestRegress : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        hostileInput::silenceDebugOutput();
        memoryInput::setSigningRoundTrip(true);
        common::setTimeScale(0.0001);
    }

    void replay_data()
    {
        QTest::addColumn<int>("feed");
        QTest::addColumn<QString>("path");
        const int findings = addRows(QStringLiteral("finding"), QFINDTESTDATA("regress"));
        const int seeds = addRows(QStringLiteral("seed"), QFINDTESTDATA("../fuzz/corpus"));
        QVERIFY2(seeds > 0, "no seed corpus found");
        Q_UNUSED(findings)
    }

    void replay()
    {
        QFETCH(int, feed);
        QFETCH(QString, path);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString broken = feeds().at(feed).second(file.readAll());
        QVERIFY2(broken.isEmpty(), qPrintable(broken));
    }

    // The arrival coding the fuzzers and the seeds share must round-trip,
    // or the seeds would not mean what the generator recorded.
    void arrivals_data()
    {
        QTest::addColumn<QList<QByteArray>>("arrivals");
        QTest::newRow("single") << QList<QByteArray> {QByteArray("\x02\x05\x00\x11", 4)};
        QTest::newRow("several") << QList<QByteArray> {"a", "bc", QByteArray(40, 'x')};
        QTest::newRow("longer than a length byte") << QList<QByteArray> {QByteArray(700, '\x10')};
        QTest::newRow("control values as data") << QList<QByteArray> {QByteArray("\xFE\xFF\xFE", 3)};
    }

    void arrivals()
    {
        QFETCH(QList<QByteArray>, arrivals);
        const QByteArray joined = hostileInput::joinArrivals(arrivals);
        QByteArray back;
        for (const hostileInput::Arrival &a : hostileInput::splitArrivals(joined, 0)) {
            QVERIFY(!a.timeout);
            back += a.bytes;
        }
        QByteArray expected;
        for (const QByteArray &a : arrivals)
            expected += a;
        QCOMPARE(back, expected);
    }

    void codes_data()
    {
        QTest::addColumn<QByteArray>("coded");
        QTest::addColumn<int>("timeouts");
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("timer expiry") << QByteArray("\xFE\x01z\xFE", 4) << 2 << QByteArray("z");
        QTest::newRow("rest of input") << QByteArray("\xFFwhole\xFE", 7) << 0 << QByteArray("whole\xFE");
        QTest::newRow("length past the end") << QByteArray("\x09"
                                                           "ab",
                                                           3)
                                             << 0 << QByteArray("ab");
        QTest::newRow("empty arrival") << QByteArray("\x00", 1) << 0 << QByteArray();
    }

    void codes()
    {
        QFETCH(QByteArray, coded);
        QFETCH(int, timeouts);
        QFETCH(QByteArray, data);
        int seen = 0;
        QByteArray bytes;
        for (const hostileInput::Arrival &a : hostileInput::splitArrivals(coded, 0)) {
            seen += a.timeout ? 1 : 0;
            bytes += a.bytes;
        }
        QCOMPARE(seen, timeouts);
        QCOMPARE(bytes, data);
    }
};

QTEST_GUILESS_MAIN(TestRegress)
#include "test_regress.moc"
