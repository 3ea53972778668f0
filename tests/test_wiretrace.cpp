// The bytes on the line for a whole set of each model, both ways, against a
// trace recorded from an earlier release: a change of structure must not
// change one byte the unit receives or one byte it answers. To record the
// traces afresh (after a deliberate change of the protocol only), run with
// UPS_RECORD_TRACES=1: they are written into tests/traces/ of the source.
#include <QCryptographicHash>
#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include "support/programs.h"
#include "support/testfiles.h"
#include "support/testtime.h"
#include "tools/unitsim/firstunit.h"
#include "tools/unitsim/ptyline.h"
#include "tools/unitsim/secondunit.h"
#include "update/updatecore.h"
#include "update/common.h"
#include "model/modelregistry.h"
#include "util/modeltable.h"

namespace {

constexpr double kTimeScale = testTimeScale(0.05); // as the other whole-job tests: no timeout on a loaded machine
constexpr int kRunTimeoutMs = testWaitMs(60000);

// Each direction as one hex stream; a change of line speed shows as a
// marker line, so that bytes sent at the wrong speed differ too.
struct wireTrace
{
    QByteArray toUnit;
    QByteArray toTool;
    int lastBaud = -1;

    void note(QByteArray &stream, const QByteArray &bytes, int baud)
    {
        if (baud != lastBaud)
            stream += "\n@" + QByteArray::number(baud) + "\n";
        lastBaud = baud;
        stream += bytes.toHex(); // how the line cut the bytes into reads plays no part
    }
};

// The first offset where two streams part, or -1.
int firstDifference(const QByteArray &a, const QByteArray &b)
{
    const int common = int(qMin(a.size(), b.size()));
    for (int i = 0; i < common; ++i) {
        if (a.at(i) != b.at(i))
            return i;
    }
    return a.size() == b.size() ? -1 : common;
}

QString tracePath(int model, const char *direction)
{
    return QStringLiteral(UPS_SOURCE_DIR "/tests/traces/model%1-%2.z").arg(model).arg(direction);
}

} // namespace

class TestWireTrace : public QObject
{
    Q_OBJECT

    QTemporaryDir samples;

private slots:
    void initTestCase()
    {
        QVERIFY(samples.isValid());
        QCOMPARE(testPrograms::run("ups-pack", {"--make-sample", samples.path()}).status, 0);
    }

    void init() { common::setTimeScale(kTimeScale); }
    void cleanup() { common::setTimeScale(1.0); }

    void wholeSetUnchanged_data()
    {
        QTest::addColumn<int>("model");
        QTest::newRow("first board: arm.bin and dsp.out") << 0;
        QTest::newRow("second board: monitor and both power images") << 1;
    }

    void wholeSetUnchanged()
    {
        QFETCH(int, model);
        std::unique_ptr<simulatedUnit> unit;
        if (model == 0)
            unit.reset(new firstUnit);
        else
            unit.reset(new secondUnit);
        QVERIFY(unit->open());
        wireTrace trace;
        connect(unit->line(), &ptyLine::received, this,
                [&](const QByteArray &bytes) { trace.note(trace.toUnit, bytes, unit->line()->baud()); });
        connect(unit->line(), &ptyLine::sent, this,
                [&](const QByteArray &bytes) { trace.note(trace.toTool, bytes, unit->line()->baud()); });

        QTemporaryDir work;
        const QString name = QStringLiteral("ups_%1.zip").arg(modelRegistry::pathTag(model));
        QVERIFY(QFile::copy(samples.filePath(name), work.filePath(name)));
        updateCore core;
        core.package().extract(work.filePath(name), zip::extractionDir(work.filePath(name)));
        int row = 0;
        for (int i = 0; i < core.package().entryCount(); ++i) {
            if (core.package().isImage(core.package().entryName(i)))
                QVERIFY(core.package().addChecked(row++, core.package().entryName(i)));
        }
        QSignalSpy ended(&core, &updateCore::runEnded);
        QVERIFY(core.start(unit->portName()));
        QVERIFY(ended.wait(kRunTimeoutMs));
        QCOMPARE(ended.first().first().toBool(), true);
        QVERIFY2(unit->violations().isEmpty(), qPrintable(unit->violations().join('\n')));

        const QList<QPair<const char *, const QByteArray *>> directions {{"to-unit", &trace.toUnit},
                                                                         {"to-tool", &trace.toTool}};
        for (const auto &direction : directions) {
            const QString path = tracePath(model, direction.first);
            if (qEnvironmentVariableIntValue("UPS_RECORD_TRACES") == 1) {
                QVERIFY(testFiles::write(path, qCompress(*direction.second, 9)));
                continue;
            }
            const QByteArray recorded = qUncompress(testFiles::read(path));
            const int at = firstDifference(*direction.second, recorded);
            QVERIFY2(at < 0,
                     qPrintable(QStringLiteral("%1 differs from %2 at byte %3 of the trace: %4 instead of %5")
                                    .arg(QLatin1String(direction.first), path)
                                    .arg(at)
                                    .arg(QString::fromLatin1(direction.second->mid(at, 40)),
                                         QString::fromLatin1(recorded.mid(at, 40)))));
        }
    }
};

QTEST_GUILESS_MAIN(TestWireTrace)
#include "test_wiretrace.moc"
