#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "tools/support/coffwriter.h"
#include "update/filesupdate.h"
#include "support/testfiles.h"

namespace {

const char *const kPort = "/dev/ttyTEST";

QByteArray validObjectFile()
{
    coffWriter writer;
    writer.addSection(coffWriter::loaded(".text", 0x3E8000, coffWriter::pattern(16, 1)));
    return writer.build();
}

} // namespace

class TestQueue : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void jobOrder_data();
    void jobOrder();
    void logLines_data();
    void logLines();
    void falseResultRepeatsSameJob();
    void failedTranslationKeepsSelection();
    void retryStartsAtFailedImage();

private:
    // "row:name" items become checkedFile records under the temporary dir.
    QList<checkedFile> files(const QStringList &items) const;
    QStringList expand(QStringList lines) const;

    QScopedPointer<QTemporaryDir> tmp;
};

void TestQueue::initTestCase()
{
    qRegisterMetaType<updateParm>();
}

void TestQueue::init()
{
    tmp.reset(new QTemporaryDir);
    QVERIFY(tmp->isValid());
    const QString d = tmp->path() + '/';
    for (const char *flat : {"arm.bin", "2U_20K_MONITOR.bin", "readme.txt"})
        QVERIFY(testFiles::write(d + flat, "flat image bytes"));
    for (const char *object : {"dsp.out", "Inv_power33.out", "Rec_power33.out"})
        QVERIFY(testFiles::write(d + object, validObjectFile()));
    QVERIFY(QDir().mkpath(d + "bad"));
    QVERIFY(testFiles::write(d + "bad/dsp.out", "not an object file, far too short"));
    QVERIFY(testFiles::write(d + "bad/Inv_power33.out", "not an object file, far too short"));
}

QList<checkedFile> TestQueue::files(const QStringList &items) const
{
    QList<checkedFile> list;
    for (const QString &item : items) {
        const int colon = item.indexOf(':');
        list.append(testFiles::checked(item.left(colon).toInt(), tmp->path() + '/' + item.mid(colon + 1)));
    }
    return list;
}

QStringList TestQueue::expand(QStringList lines) const
{
    lines.replaceInStrings("%d", tmp->path());
    return lines;
}

void TestQueue::jobOrder_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<QStringList>("table");
    QTest::addColumn<QStringList>("jobs"); // "imageIndex:row:file sent"

    QTest::newRow("model 0, main image first in table")
        << 0 << QStringList {"0:dsp.out", "1:arm.bin"} << QStringList {"0:1:arm.bin", "1:0:dsp.bin"};
    QTest::newRow("model 1, reversed table")
        << 1 << QStringList {"0:Rec_power33.out", "1:Inv_power33.out", "2:2U_20K_MONITOR.bin"}
        << QStringList {"0:2:2U_20K_MONITOR.bin", "1:1:Inv_power33.bin", "2:0:Rec_power33.bin"};
    QTest::newRow("model 1, shuffled table")
        << 1 << QStringList {"0:Inv_power33.out", "1:2U_20K_MONITOR.bin", "2:Rec_power33.out"}
        << QStringList {"0:1:2U_20K_MONITOR.bin", "1:0:Inv_power33.bin", "2:2:Rec_power33.bin"};
    QTest::newRow("path matching no name never sent")
        << 0 << QStringList {"0:readme.txt", "1:arm.bin"} << QStringList {"0:1:arm.bin"};
    QTest::newRow("other model's image never sent")
        << 1 << QStringList {"0:arm.bin", "1:Rec_power33.out"} << QStringList {"2:1:Rec_power33.bin"};
}

void TestQueue::jobOrder()
{
    QFETCH(int, model);
    QFETCH(QStringList, table);
    QFETCH(QStringList, jobs);

    filesUpdate queue;
    QSignalSpy first(&queue, &filesUpdate::sendParm);
    QSignalSpy second(&queue, &filesUpdate::sendParm1);
    QSignalSpy ended(&queue, &filesUpdate::runEnded);
    queue.start(model, files(table), kPort);
    for (int i = 0; i < jobs.size() && ended.isEmpty(); ++i)
        queue.updateFinish(true);

    QSignalSpy &sent = model == 0 ? first : second;
    QCOMPARE((model == 0 ? second : first).count(), 0);
    QStringList got;
    for (const QList<QVariant> &args : sent) {
        const updateParm job = args.at(0).value<updateParm>();
        QCOMPARE(job.modelId, model);
        QCOMPARE(job.portName, QString(kPort));
        got << QStringLiteral("%1:%2:%3").arg(job.imageIndex).arg(job.row).arg(QFileInfo(job.imagePath).fileName());
    }
    QCOMPARE(got, jobs);
    QCOMPARE(ended.count(), 1);
}

void TestQueue::logLines_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<QStringList>("table");
    QTest::addColumn<QString>("results"); // engine results, 't' or 'f'
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("jobsSent");
    QTest::addColumn<QString>("runEnd"); // "" none, "t" success, "f" stopped

    QTest::newRow("model 0 success chain") << 0 << QStringList {"0:dsp.out", "1:arm.bin"} << "tt"
                                           << QStringList {"translating success!\n",
                                                           "begin to start updating monitor progress...",
                                                           "prepare for updating file:%d/arm.bin",
                                                           "%d/arm.binupdating success!",
                                                           "begin to start updating main progress...",
                                                           "prepare for updating file:%d/dsp.bin",
                                                           "%d/dsp.binupdating success!",
                                                           "update finished!"}
                                           << 2 << "t";
    QTest::newRow("model 1 has no processor lines")
        << 1 << QStringList {"0:2U_20K_MONITOR.bin"} << "t"
        << QStringList {"prepare for updating file:%d/2U_20K_MONITOR.bin", "%d/2U_20K_MONITOR.binupdating success!",
                        "update finished!"}
        << 1 << "t";
    QTest::newRow("nothing selected") << 0 << QStringList {} << "" << QStringList {"no file updating!"} << 0 << "f";
    QTest::newRow("no name of the model matches")
        << 0 << QStringList {"0:readme.txt"} << "" << QStringList {"no file updating!"} << 0 << "f";
    QTest::newRow("unknown model 2") << 2 << QStringList {"0:arm.bin"} << "" << QStringList {"no file updating!"} << 0
                                     << "f";
    QTest::newRow("false result repeats the image")
        << 0 << QStringList {"0:arm.bin"} << "f"
        << QStringList {"begin to start updating monitor progress...", "prepare for updating file:%d/arm.bin",
                        "%d/arm.binupdating failed!", "updating again!%d/arm.bin"}
        << 2 << "";
    QTest::newRow("failed translation stops the run")
        << 0 << QStringList {"0:bad/dsp.out"} << ""
        << QStringList {"file format error!\n", "file format error!\n", "%d/bad/dsp.outupdating failed!"} << 0 << "f";
    QTest::newRow("half a set: failed translation sends not even the image before it")
        << 0 << QStringList {"0:bad/dsp.out", "1:arm.bin"} << ""
        << QStringList {"file format error!\n", "file format error!\n", "%d/bad/dsp.outupdating failed!"} << 0 << "f";
    QTest::newRow("only unmatched images left")
        << 0 << QStringList {"0:readme.txt", "1:arm.bin"} << "t"
        << QStringList {"begin to start updating monitor progress...", "prepare for updating file:%d/arm.bin",
                        "%d/arm.binupdating success!"}
        << 1 << "f";
}

void TestQueue::logLines()
{
    QFETCH(int, model);
    QFETCH(QStringList, table);
    QFETCH(QString, results);
    QFETCH(QStringList, lines);
    QFETCH(int, jobsSent);
    QFETCH(QString, runEnd);

    filesUpdate queue;
    QSignalSpy log(&queue, &filesUpdate::sendMessage);
    QSignalSpy first(&queue, &filesUpdate::sendParm);
    QSignalSpy second(&queue, &filesUpdate::sendParm1);
    QSignalSpy ended(&queue, &filesUpdate::runEnded);
    queue.start(model, files(table), kPort);
    for (const QChar result : results)
        queue.updateFinish(result == 't');

    QStringList got;
    for (const QList<QVariant> &args : log)
        got << args.at(0).toString();
    QCOMPARE(got, expand(lines));
    QCOMPARE(first.count() + second.count(), jobsSent);
    QString end;
    for (const QList<QVariant> &args : ended)
        end += args.at(0).toBool() ? 't' : 'f';
    QCOMPARE(end, runEnd);
}

void TestQueue::falseResultRepeatsSameJob()
{
    filesUpdate queue;
    QSignalSpy second(&queue, &filesUpdate::sendParm1);
    queue.start(1, files({"3:Rec_power33.out", "4:Inv_power33.out"}), kPort);
    queue.updateFinish(false);
    queue.updateFinish(false);
    QCOMPARE(second.count(), 3);
    const updateParm a = second.at(0).at(0).value<updateParm>();
    for (int i = 1; i < second.count(); ++i) {
        const updateParm b = second.at(i).at(0).value<updateParm>();
        QCOMPARE(b.modelId, a.modelId);
        QCOMPARE(b.imageIndex, a.imageIndex);
        QCOMPARE(b.row, a.row);
        QCOMPARE(b.imagePath, a.imagePath);
        QCOMPARE(b.portName, a.portName);
    }
    QCOMPARE(a.imagePath, tmp->path() + "/Inv_power33.bin");
}

// Nothing is sent while one object file of the selection cannot be
// translated, also on the next press; a new selection replaces it.
void TestQueue::failedTranslationKeepsSelection()
{
    filesUpdate queue;
    QSignalSpy second(&queue, &filesUpdate::sendParm1);
    QSignalSpy failed(&queue, &filesUpdate::preparationFailed);
    queue.start(1, files({"0:Rec_power33.out", "1:bad/Inv_power33.out"}), kPort);
    QCOMPARE(second.count(), 0);
    QCOMPARE(queue.pending().size(), 2);

    queue.start(1, {}, "/dev/ttyOTHER"); // an empty selection carries on with the same images
    QCOMPARE(second.count(), 0);
    QCOMPARE(failed.count(), 2);
    QCOMPARE(failed.at(1).at(0).toInt(), 1);

    queue.start(1, files({"5:2U_20K_MONITOR.bin"}), kPort); // a new selection replaces it
    queue.updateFinish(true);
    QCOMPARE(second.count(), 1);
    QCOMPARE(second.at(0).at(0).value<updateParm>().row, 5);
}

// A retry sends the image that failed again, then the rest; the window's
// start with no files still carries on after it.
void TestQueue::retryStartsAtFailedImage()
{
    filesUpdate queue;
    QSignalSpy jobs(&queue, &filesUpdate::sendParm1);
    queue.start(1, files({"0:Rec_power33.out", "1:Inv_power33.out", "2:2U_20K_MONITOR.bin"}), kPort);
    queue.updateFinish(true); // the monitor image passed
    queue.jobFailed();        // the inverter image failed
    QCOMPARE(jobs.count(), 2);
    QCOMPARE(queue.pending().size(), 2);
    QCOMPARE(queue.pending().at(0).row, 1);

    queue.retryFailed("/dev/ttyOTHER");
    QCOMPARE(jobs.count(), 3);
    const updateParm again = jobs.at(2).at(0).value<updateParm>();
    QCOMPARE(again.row, 1);
    QCOMPARE(again.imagePath, tmp->path() + "/Inv_power33.bin");
    QCOMPARE(again.portName, QString("/dev/ttyOTHER"));

    queue.jobFailed();
    queue.start(1, {}, kPort);
    QCOMPARE(jobs.at(3).at(0).value<updateParm>().row, 0); // past the failed image
    QVERIFY(queue.pending().isEmpty());
}

QTEST_GUILESS_MAIN(TestQueue)
#include "test_queue.moc"
