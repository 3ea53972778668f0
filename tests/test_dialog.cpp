// The main window on the offscreen platform: layout and fixed settings,
// progress cells, the log, package selection and the table, the check boxes,
// the hand-over to the queue, settings across lifetimes and the language;
// then whole runs against simulated units on a pty: the lock while a run
// goes on, the two questions, the port box, one engine on the line at a
// time, the user's own files, and images that cannot be sent.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDirIterator>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>
#include <QTranslator>
#include <QVBoxLayout>
#include <QtTest>

#include <functional>
#include <limits>
#include <memory>

#include "app/dialog.h"
#include "tests/support/modalanswerer.h"
#include "tests/support/testtime.h"
#include "tools/support/coffwriter.h"
#include "tools/support/packagewriter.h"
#include "tools/unitsim/firstunit.h"
#include "tools/unitsim/ptyline.h"
#include "tools/unitsim/secondunit.h"

// Reaches the window's private parts for the tests.
class DialogTestAccess
{
public:
    explicit DialogTestAccess(Dialog &dialog) : d(dialog) {}

    QTableView *view() const { return d.tableView; }
    QStandardItemModel *model() const { return d.tableModel; }
    QTextBrowser *log() const { return d.logBrowser; }
    QLineEdit *path() const { return d.pathEdit; }
    QComboBox *languages() const { return d.languageBox; }
    QComboBox *ports() const { return d.portBox; }
    QPushButton *selectButton() const { return d.selectButton; }
    QPushButton *updateButton() const { return d.updateButton; }
    zip &package() const { return d.package; }
    filesUpdate &updater() const { return d.updater; }
    serialport &serial() const { return d.serial; }
    progress &engine() const { return d.engine; }
    progress1 &engine1() const { return d.engine1; }
    bool running() const { return d.running; }
    QVBoxLayout *mainLayout() const { return d.mainLayout; }
    QHBoxLayout *fileRow() const { return d.fileRow; }
    QHBoxLayout *bottomRow() const { return d.bottomRow; }
    QHBoxLayout *portRow() const { return d.portRow; }

    QString text(const QString &which) const
    {
        if (which == QLatin1String("fileLabel"))
            return d.fileLabel->text();
        if (which == QLatin1String("portLabel"))
            return d.portLabel->text();
        if (which == QLatin1String("selectButton"))
            return d.selectButton->text();
        if (which == QLatin1String("updateButton"))
            return d.updateButton->text();
        if (which.startsWith(QLatin1String("header")))
            return d.tableModel->headerData(which.mid(6).toInt(), Qt::Horizontal).toString();
        if (which.startsWith(QLatin1String("language")))
            return d.languageBox->itemText(which.mid(8).toInt());
        return QStringLiteral("<unknown>");
    }

    void setProgressBar(int row, qlonglong written, qlonglong total) { d.setProgressBar(row, written, total); }
    void showInfo(const QString &text) { d.showInfo(text); }
    void selectFiles() { d.selectFiles(); }
    void fillTable() { d.fillTable(); }
    static QString sizeText(qint64 bytes) { return Dialog::sizeText(bytes); }

    QCheckBox *checkBox(int row) const
    {
        return qobject_cast<QCheckBox *>(d.tableView->indexWidget(d.tableModel->index(row, 2)));
    }
    QProgressBar *progressBar(int row) const
    {
        return qobject_cast<QProgressBar *>(d.tableView->indexWidget(d.tableModel->index(row, 3)));
    }
    QStringList names() const
    {
        QStringList all;
        for (int r = 0; r < d.tableModel->rowCount(); ++r)
            all << d.tableModel->item(r, 0)->text();
        return all;
    }
    QStringList logLines() const { return d.logBrowser->toPlainText().split(QLatin1Char('\n')); }
    // The disabled controls in a fixed order, "" when none is.
    QString disabledControls() const
    {
        QStringList off;
        if (!d.selectButton->isEnabled())
            off << QStringLiteral("select");
        if (!d.languageBox->isEnabled())
            off << QStringLiteral("language");
        if (!d.portBox->isEnabled())
            off << QStringLiteral("port");
        for (int r = 0; r < d.tableModel->rowCount(); ++r) {
            QCheckBox *box = checkBox(r);
            if (!box || !box->isEnabled())
                off << QStringLiteral("row%1").arg(r);
        }
        if (!d.updateButton->isEnabled())
            off << QStringLiteral("update");
        return off.join(QLatin1Char(' '));
    }
    // What disabledControls() says while a run holds the window.
    QString lockedControls() const
    {
        QStringList off{QStringLiteral("select"), QStringLiteral("language"), QStringLiteral("port")};
        for (int r = 0; r < d.tableModel->rowCount(); ++r)
            off << QStringLiteral("row%1").arg(r);
        return off.join(QLatin1Char(' '));
    }
    QStringList checkedNames() const
    {
        QStringList all;
        const auto files = d.package.checkedFiles();
        for (const checkedFile &file : files)
            all << QStringLiteral("%1:%2").arg(file.row).arg(QFileInfo(file.path).fileName());
        return all;
    }

private:
    Dialog &d;
};

namespace {
const QString kSettingsFile = QStringLiteral("ups.ini");

// Payload sizes whose listed kilobytes are the same with and without trailer.
QByteArray payloadOf(char fill, int kilobytes)
{
    return QByteArray(kilobytes * 1024 + 100, fill);
}

QString readIni(const QString &key)
{
    QSettings settings(kSettingsFile, QSettings::IniFormat);
    return settings.value(key).toString();
}

QString translated(const char *context, const char *source)
{
    QTranslator chinese;
    if (!chinese.load(QCoreApplication::applicationDirPath() + QStringLiteral("/ups_zh.qm")))
        return QString();
    return chinese.translate(context, source);
}

// Protocol time of the runs below: a first-board image takes about 6.5 s
// unscaled, the second board repeats its start command every 3 s.
constexpr double kTimeScale = testTimeScale(0.05);
// The longest a scaled run may take here (two first-board images: under 1 s).
constexpr int kRunMs = testWaitMs(8000);
// Several resend intervals of either engine at kTimeScale (100 and 150 ms):
// a stopped line stays silent this long.
constexpr int kQuietMs = testWaitMs(600);
// Bytes written just before the port closed may still be on their way.
constexpr int kSettleMs = testWaitMs(40);

const QString kNoSuchPort = QStringLiteral("/nonexistent/ttyUPS");
const QString kStopQuestion = QStringLiteral(
    "An update is running. Stop it now? The unit stays in its boot loader until it is updated again.");
const QString kCloseQuestion = QStringLiteral(
    "An update is running. Close the program now? The unit stays in its boot loader until it is updated again.");

// Runs a real event loop until done() holds: the polling waits of the test
// library sleep between rounds, which would stretch every reply.
bool waitUntil(const std::function<bool()> &done, int ms)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    poll.start();
    limit.start(ms);
    loop.exec();
    return done();
}

void spin(int ms)
{
    waitUntil([] { return false; }, ms);
}

// A monitor image the second engine accepts: its signature at 0x4000.
QByteArray signedMonitor()
{
    QByteArray image(0x4000 + 8 + 300, 'm');
    image.replace(0x4000, 8, "QJX-MONI");
    return image;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Every file under dir, by relative path, with its bytes.
QMap<QString, QByteArray> snapshot(const QString &dir)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        files.insert(QDir(dir).relativeFilePath(path), file.open(QIODevice::ReadOnly) ? file.readAll()
                                                                                        : QByteArray("<unreadable>"));
    }
    return files;
}

QStringList systemPorts()
{
    QStringList names;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports)
        names << info.portName();
    return names;
}

// A simulated unit of either board at the far end of a pty, counting every
// byte the tool puts on the line.
class farUnit
{
public:
    explicit farUnit(int board)
    {
        if (board == 0)
            first = std::make_unique<firstUnit>();
        else
            second = std::make_unique<secondUnit>();
        QObject::connect(line(), &ptyLine::received, line(), [this](const QByteArray &bytes) {
            received += bytes.size();
            ++arrivals;
        });
    }

    bool open(const QStringList &faults)
    {
        for (const QString &fault : faults) {
            if (!(first ? first->addFault(fault) : second->addFault(fault)))
                return false;
        }
        return first ? first->open() : second->open();
    }
    ptyLine *line() { return first ? first->line() : second->line(); }
    QString port() const { return first ? first->portName() : second->portName(); }
    QList<QByteArray> frames() const { return first ? first->frames() : second->frames(); }
    QStringList violations() const { return first ? first->violations() : second->violations(); }
    int jobsCompleted() const { return first ? first->jobsCompleted() : second->jobsCompleted(); }
    void reset() { first ? first->reset() : second->reset(); }
    // Framed commands: after the preamble, all a first board gets; every
    // frame for the second board.
    int commands() const
    {
        int count = 0;
        for (const QByteArray &frame : frames())
            count += second || frame.startsWith('\x02') ? 1 : 0;
        return count;
    }
    int preambles() const { return frames().size() - commands(); }

    qint64 received = 0;
    int arrivals = 0;

private:
    std::unique_ptr<firstUnit> first;
    std::unique_ptr<secondUnit> second;
};
} // namespace

class TestDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void fixedWindowSettings();
    void layoutLines();
    void englishTexts_data();
    void englishTexts();
    void progressCell_data();
    void progressCell();
    void progressForMissingRowShowsNothing_data();
    void progressForMissingRowShowsNothing();
    void logAppendsParagraphs();
    void sizeText_data();
    void sizeText();
    void selectingPackageListsModelImages_data();
    void selectingPackageListsModelImages();
    void fileDialogStartsAtRememberedPlace_data();
    void fileDialogStartsAtRememberedPlace();
    void checkBoxesEditCheckedList_data();
    void checkBoxesEditCheckedList();
    void cancelRebuildsTable();
    void updateButtonHandsOverToQueue_data();
    void updateButtonHandsOverToQueue();
    void settingsRestoredAtStart_data();
    void settingsRestoredAtStart();
    void settingsSurviveTwoLifetimes();
    void chineseRetranslatesButKeepsLanguageItems();
    void lockDuringRun_data();
    void lockDuringRun();
    void questionDuringRun_data();
    void questionDuringRun();
    void stopDuringTargetPause();
    void typedPortUsedAndRemembered();
    void portListReadAgainOnOpening_data();
    void portListReadAgainOnOpening();
    void oneEngineOnTheLine_data();
    void oneEngineOnTheLine();
    void secondJobStopsFirstEngine();
    void userFilesUntouched_data();
    void userFilesUntouched();
    void unsendableImageBlocksUpdate_data();
    void unsendableImageBlocksUpdate();
    void screenshots();

private:
    QString makePackage(const QString &name, const QStringList &images, bool realObjects = false);
    QString makeMembers(const QString &name, const QStringList &members);

    QTemporaryDir workDir;
};

void TestDialog::initTestCase()
{
    QVERIFY(workDir.isValid());
    QVERIFY(QDir::setCurrent(workDir.path()));
    // A home of our own, with a desktop, so the file dialog's start is known.
    const QString home = workDir.filePath(QStringLiteral("home"));
    QVERIFY(QDir().mkpath(home + QStringLiteral("/Desktop")));
    qputenv("HOME", home.toLocal8Bit());
    qunsetenv("XDG_CONFIG_HOME");
}

void TestDialog::init()
{
    QFile::remove(kSettingsFile);
    common::setTimeScale(kTimeScale);
}

void TestDialog::cleanup()
{
    common::setTimeScale(1.0);
    // A box left open would take the input of every later test.
    QWidget *modal = QApplication::activeModalWidget();
    if (modal)
        modal->close();
    QVERIFY2(!modal, "a modal box was left open");
}

// Images are filler of a known size; with realObjects the ".out" images are
// object files that translate, so a run can hand them over.
QString TestDialog::makePackage(const QString &name, const QStringList &images, bool realObjects)
{
    const QString path = workDir.filePath(name);
    QDir(path.left(path.indexOf(QLatin1String(".zip")))).removeRecursively();
    QFile::remove(path);
    packageWriter writer(path);
    if (!writer.open())
        return QString();
    char fill = 'a';
    int kilobytes = 1;
    for (const QString &image : images) {
        QByteArray payload = payloadOf(fill++, kilobytes++);
        if (realObjects && image.endsWith(QLatin1String(".out")))
            payload = coffWriter::sampleObjectFile(nullptr);
        writer.addImage(image, payload);
    }
    return writer.close() ? path : QString();
}

// Members as "NAME[:KIND]": filler with a good trailer by default; "wrong"
// flips a bit of the trailer, "damaged" spoils the stored CRC, "object" is
// an object file that translates, "signed" a monitor image with its
// signature.
QString TestDialog::makeMembers(const QString &name, const QStringList &members)
{
    const QString path = workDir.filePath(name);
    QDir(zip::extractionDir(path)).removeRecursively();
    QFile::remove(path);
    QStringList damaged;
    {
        packageWriter writer(path);
        if (!writer.open())
            return QString();
        char fill = 'a';
        int kilobytes = 1;
        for (const QString &member : members) {
            const QString memberName = member.section(QLatin1Char(':'), 0, 0);
            const QString kind = member.section(QLatin1Char(':'), 1);
            QByteArray payload = payloadOf(fill++, kilobytes++);
            if (kind == QLatin1String("object"))
                payload = coffWriter::sampleObjectFile(nullptr);
            else if (kind == QLatin1String("signed"))
                payload = signedMonitor();
            else if (kind == QLatin1String("damaged"))
                damaged << memberName;
            if (!writer.addImage(memberName, payload, kind == QLatin1String("wrong")))
                return QString();
        }
        if (!writer.close())
            return QString();
    }
    for (const QString &member : damaged) {
        if (!packageWriter::damageCrc(path, member))
            return QString();
    }
    return path;
}

void TestDialog::fixedWindowSettings()
{
    Dialog dialog;
    DialogTestAccess access(dialog);
    // Only the close button is asked for; the platform adds title and menu.
    const Qt::WindowFlags unwanted = Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint
            | Qt::WindowContextHelpButtonHint | Qt::WindowStaysOnTopHint | Qt::FramelessWindowHint;
    QVERIFY(dialog.windowFlags() & Qt::WindowCloseButtonHint);
    QCOMPARE(dialog.windowFlags() & unwanted, Qt::WindowFlags());
    QCOMPARE(dialog.size(), QSize(580, 300));
    QCOMPARE(dialog.minimumSize(), QSize(580, 300));
    QCOMPARE(dialog.maximumSize(), QSize(580, 300));
    QVERIFY(dialog.windowTitle().isEmpty());
    QVERIFY(!dialog.windowIcon().isNull());
    QCOMPARE(access.view()->horizontalHeader()->sectionResizeMode(0), QHeaderView::ResizeToContents);
    QVERIFY(access.view()->horizontalHeader()->stretchLastSection());
    QCOMPARE(access.view()->editTriggers(), QAbstractItemView::NoEditTriggers);
    QCOMPARE(access.view()->model(), access.model());
    QVERIFY(access.path()->isReadOnly());
    QCOMPARE(access.model()->rowCount(), 0);
    QCOMPARE(access.model()->columnCount(), 4);
}

void TestDialog::layoutLines()
{
    Dialog dialog;
    DialogTestAccess access(dialog);
    QCOMPARE(dialog.layout(), access.mainLayout());
    QVBoxLayout *main = access.mainLayout();
    QCOMPARE(main->count(), 4);
    QCOMPARE(main->itemAt(0)->widget(), access.view());
    QCOMPARE(main->itemAt(1)->widget(), access.log());
    QCOMPARE(main->itemAt(2)->layout(), access.fileRow());
    QCOMPARE(main->itemAt(3)->layout(), access.bottomRow());
    QCOMPARE(access.fileRow()->count(), 3);
    QCOMPARE(access.fileRow()->itemAt(1)->widget(), access.path());
    QCOMPARE(access.fileRow()->itemAt(2)->widget(), access.selectButton());
    QCOMPARE(access.bottomRow()->count(), 3);
    QCOMPARE(access.bottomRow()->itemAt(0)->widget(), access.languages());
    QCOMPARE(access.bottomRow()->itemAt(1)->layout(), access.portRow());
    QCOMPARE(access.bottomRow()->itemAt(2)->widget(), access.updateButton());
    QCOMPARE(access.portRow()->count(), 2);
    QCOMPARE(access.portRow()->itemAt(1)->widget(), access.ports());
    for (QLayout *line : {static_cast<QLayout *>(main), static_cast<QLayout *>(access.bottomRow())})
        for (int i = 0; i < line->count(); ++i)
            QCOMPARE(line->itemAt(i)->alignment(), Qt::Alignment());
    QCOMPARE(main->stretch(0) + main->stretch(1) + main->stretch(2) + main->stretch(3), 0);
}

void TestDialog::englishTexts_data()
{
    QTest::addColumn<QString>("which");
    QTest::addColumn<QString>("text");

    QTest::newRow("file label") << "fileLabel" << "updating file:";
    QTest::newRow("port label keeps its seven spaces") << "portLabel" << "       port:";
    QTest::newRow("select button") << "selectButton" << "select";
    QTest::newRow("update button") << "updateButton" << "updating";
    QTest::newRow("header name") << "header0" << "fileName";
    QTest::newRow("header size") << "header1" << "fileSize";
    QTest::newRow("header keeps its own spelling") << "header2" << "opration";
    QTest::newRow("header progress") << "header3" << "progress";
    QTest::newRow("first language item") << "language0" << "English";
    QTest::newRow("second language item") << "language1" << "Chinese";
}

void TestDialog::englishTexts()
{
    QFETCH(QString, which);
    QFETCH(QString, text);
    Dialog dialog;
    QCOMPARE(DialogTestAccess(dialog).text(which), text);
}

void TestDialog::progressCell_data()
{
    QTest::addColumn<qlonglong>("written");
    QTest::addColumn<qlonglong>("total");
    QTest::addColumn<int>("percent");

    QTest::newRow("start") << 0LL << 4096LL << 0;
    QTest::newRow("half") << 512LL << 1024LL << 50;
    QTest::newRow("rounds down") << 2LL << 3LL << 66;
    QTest::newRow("just below the end") << 999LL << 1000LL << 99;
    QTest::newRow("exact end") << 1000LL << 1000LL << 100;
    QTest::newRow("overshoot clamps") << 5000LL << 1000LL << 100;
    QTest::newRow("zero total shows zero") << 10LL << 0LL << 0;
    QTest::newRow("negative total shows zero") << 10LL << -5LL << 0;
    QTest::newRow("negative written shows zero") << -10LL << 100LL << 0;
    const qlonglong big = std::numeric_limits<qlonglong>::max();
    QTest::newRow("huge sizes do not overflow") << big / 2 << big << 50;
    QTest::newRow("huge overshoot clamps") << big << big / 2 << 100;
}

void TestDialog::progressCell()
{
    QFETCH(qlonglong, written);
    QFETCH(qlonglong, total);
    QFETCH(int, percent);
    Dialog dialog;
    DialogTestAccess access(dialog);
    access.model()->setRowCount(3);
    access.setProgressBar(1, 1, 3);
    QProgressBar *before = access.progressBar(1);
    access.setProgressBar(1, written, total);
    QProgressBar *bar = access.progressBar(1);
    QVERIFY(bar);
    QVERIFY(bar != before);
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 100);
    QCOMPARE(bar->value(), percent);
    QVERIFY(!access.progressBar(0));
    QVERIFY(!access.progressBar(2));
}

void TestDialog::progressForMissingRowShowsNothing_data()
{
    QTest::addColumn<int>("row");
    QTest::newRow("negative row") << -1;
    QTest::newRow("row past the end") << 2;
    QTest::newRow("far row") << 1000000;
}

void TestDialog::progressForMissingRowShowsNothing()
{
    QFETCH(int, row);
    Dialog dialog;
    DialogTestAccess access(dialog);
    access.model()->setRowCount(2);
    access.setProgressBar(row, 50, 100);
    QCOMPARE(access.view()->findChildren<QProgressBar *>().size(), 0);
}

void TestDialog::logAppendsParagraphs()
{
    Dialog dialog;
    DialogTestAccess access(dialog);
    access.showInfo(QStringLiteral("first"));
    access.showInfo(QStringLiteral("translating success!\n"));
    access.showInfo(QStringLiteral("C:/fw/pack_5-10k/arm.bin & more"));
    QCOMPARE(access.log()->document()->blockCount(), 4);
    QCOMPARE(access.log()->toPlainText(),
             QStringLiteral("first\ntranslating success!\n\nC:/fw/pack_5-10k/arm.bin & more"));
}

void TestDialog::sizeText_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("text");

    QTest::newRow("empty") << qint64(0) << "0.00KB";
    QTest::newRow("below one kilobyte") << qint64(1023) << "0.00KB";
    QTest::newRow("one kilobyte") << qint64(1024) << "1.00KB";
    QTest::newRow("remainder dropped, not rounded") << qint64(1536) << "1.00KB";
    QTest::newRow("one megabyte") << qint64(1048576) << "1024.00KB";
    QTest::newRow("just below a megabyte") << qint64(1048575) << "1023.00KB";
    QTest::newRow("beyond 32 bits") << qint64(5) * 1024 * 1024 * 1024 << "5242880.00KB";
}

void TestDialog::sizeText()
{
    QFETCH(qint64, bytes);
    QFETCH(QString, text);
    QCOMPARE(DialogTestAccess::sizeText(bytes), text);
}

void TestDialog::selectingPackageListsModelImages_data()
{
    QTest::addColumn<QString>("packageName");
    QTest::addColumn<QStringList>("images");
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<QStringList>("sizes");
    QTest::addColumn<int>("model");

    QTest::newRow("model 0 lists only its images")
        << "pack_5-10k.zip" << QStringList{"dsp.out", "readme.txt", "arm.bin", "Inv_power33.out"}
        << QStringList{"arm.bin", "dsp.out"} << QStringList{"3.00KB", "1.00KB"} << 0;
    QTest::newRow("model 1 lists its three images")
        << "pack_15-20k.zip" << QStringList{"Rec_power33.out", "arm.bin", "2U_20K_MONITOR.bin", "Inv_power33.out"}
        << QStringList{"2U_20K_MONITOR.bin", "Inv_power33.out", "Rec_power33.out"}
        << QStringList{"3.00KB", "4.00KB", "1.00KB"} << 1;
    QTest::newRow("a name that only holds an image name is no image")
        << "more_5-10k.zip" << QStringList{"arm.bin", "dsp.out.bak"} << QStringList{"arm.bin"}
        << QStringList{"1.00KB"} << 0;
    QTest::newRow("a folder name holding an image name makes no image")
        << "dsp.out_5-10k.zip" << QStringList{"arm.bin", "notes.bin"} << QStringList{"arm.bin"}
        << QStringList{"1.00KB"} << 0;
    QTest::newRow("package without images lists nothing")
        << "empty_5-10k.zip" << QStringList{"notes.txt"} << QStringList{} << QStringList{} << 0;
}

void TestDialog::selectingPackageListsModelImages()
{
    QFETCH(QString, packageName);
    QFETCH(QStringList, images);
    QFETCH(QStringList, listed);
    QFETCH(QStringList, sizes);
    QFETCH(int, model);

    const QString zipPath = makePackage(packageName, images);
    QVERIFY(!zipPath.isEmpty());
    Dialog dialog;
    DialogTestAccess access(dialog);
    modalAnswerer answerer;
    answerer.setFileAnswer(zipPath);
    answerer.start();
    access.selectButton()->click();
    answerer.stop();

    QCOMPARE(answerer.fileDialogs().size(), 1);
    QCOMPARE(access.path()->text(), zipPath);
    QCOMPARE(readIni(QStringLiteral("filePath")), workDir.path());
    QCOMPARE(access.package().modelId(), model);
    QCOMPARE(access.names(), listed);
    QStringList expectedChecked;
    for (int row = 0; row < listed.size(); ++row) {
        QCOMPARE(access.model()->item(row, 1)->text(), sizes.at(row));
        QCheckBox *box = access.checkBox(row);
        QVERIFY(box);
        QVERIFY(box->isChecked());
        QCOMPARE(box->property("row").toInt(), row);
        QCOMPARE(box->property("fileName").toString(), listed.at(row));
        QVERIFY(access.progressBar(row));
        QCOMPARE(access.progressBar(row)->value(), 0);
        expectedChecked << QStringLiteral("%1:%2").arg(row).arg(listed.at(row));
    }
    QCOMPARE(access.checkedNames(), expectedChecked);
    const QString dir = zipPath.left(zipPath.indexOf(QLatin1String(".zip")));
    for (const checkedFile &file : access.package().checkedFiles())
        QCOMPARE(QFileInfo(file.path).absolutePath(), dir);
}

void TestDialog::fileDialogStartsAtRememberedPlace_data()
{
    QTest::addColumn<QString>("remembered");
    QTest::addColumn<bool>("desktop");

    QTest::newRow("nothing remembered starts on the desktop") << QString() << true;
    QTest::newRow("remembered directory") << QStringLiteral("/tmp") << false;
}

void TestDialog::fileDialogStartsAtRememberedPlace()
{
    QFETCH(QString, remembered);
    QFETCH(bool, desktop);
    if (!remembered.isEmpty()) {
        QSettings settings(kSettingsFile, QSettings::IniFormat);
        settings.setValue(QStringLiteral("filePath"), remembered);
    }
    Dialog dialog;
    DialogTestAccess access(dialog);
    modalAnswerer answerer;
    answerer.start();
    access.selectFiles();
    answerer.stop();

    QCOMPARE(answerer.fileDialogs().size(), 1);
    const modalAnswerer::FileDialogSeen seen = answerer.fileDialogs().first();
    QCOMPARE(seen.title, QStringLiteral("select zip file"));
    QCOMPARE(seen.nameFilters, QStringList{QStringLiteral("Firmware Files(*.zip)")});
    const QStringList desktops = QStandardPaths::standardLocations(QStandardPaths::DesktopLocation);
    const QString start = desktop ? (desktops.isEmpty() ? QDir::homePath() : desktops.first()) : remembered;
    QCOMPARE(QDir(seen.directory).canonicalPath(), QDir(start).canonicalPath());
    QCOMPARE(access.path()->text(), remembered);
    QCOMPARE(access.model()->rowCount(), 0);
}

void TestDialog::checkBoxesEditCheckedList_data()
{
    QTest::addColumn<QList<int>>("toggles"); // row to flip, in order
    QTest::addColumn<QStringList>("checked");

    QTest::newRow("untick removes that image") << QList<int>{0} << QStringList{"1:dsp.out"};
    QTest::newRow("tick again appends it with its row") << QList<int>{0, 0} << QStringList{"1:dsp.out", "0:arm.bin"};
    QTest::newRow("untick all empties the list") << QList<int>{1, 0} << QStringList{};
    QTest::newRow("order follows the clicks") << QList<int>{1, 0, 1, 0}
                                              << QStringList{"1:dsp.out", "0:arm.bin"};
}

void TestDialog::checkBoxesEditCheckedList()
{
    QFETCH(QList<int>, toggles);
    QFETCH(QStringList, checked);

    const QString zipPath = makePackage(QStringLiteral("ticks_5-10k.zip"), {"arm.bin", "dsp.out"});
    Dialog dialog;
    DialogTestAccess access(dialog);
    access.path()->setText(zipPath);
    access.fillTable();
    QCOMPARE(access.checkedNames(), (QStringList{"0:arm.bin", "1:dsp.out"}));
    for (int row : toggles) {
        QVERIFY(access.checkBox(row));
        access.checkBox(row)->click();
    }
    QCOMPARE(access.checkedNames(), checked);
}

void TestDialog::cancelRebuildsTable()
{
    const QString zipPath = makePackage(QStringLiteral("cancel_5-10k.zip"), {"arm.bin", "dsp.out"});
    Dialog dialog;
    DialogTestAccess access(dialog);
    access.path()->setText(zipPath);
    access.fillTable();
    QVERIFY(access.checkBox(0));
    access.checkBox(0)->click();
    access.setProgressBar(1, 70, 100);
    {
        QSettings settings(kSettingsFile, QSettings::IniFormat);
        settings.setValue(QStringLiteral("filePath"), QStringLiteral("marker"));
    }

    modalAnswerer answerer; // no file set: the dialog is cancelled
    answerer.start();
    access.selectFiles();
    answerer.stop();

    QCOMPARE(answerer.fileDialogs().size(), 1);
    QCOMPARE(access.path()->text(), zipPath);
    QCOMPARE(readIni(QStringLiteral("filePath")), QStringLiteral("marker"));
    QVERIFY(access.checkBox(0) && access.checkBox(0)->isChecked());
    QVERIFY(access.progressBar(1));
    QCOMPARE(access.progressBar(1)->value(), 0);
    QCOMPARE(access.checkedNames(), (QStringList{"0:arm.bin", "1:dsp.out"}));
}

void TestDialog::updateButtonHandsOverToQueue_data()
{
    QTest::addColumn<QString>("packageName");
    QTest::addColumn<QStringList>("images");
    QTest::addColumn<QList<int>>("untick");
    QTest::addColumn<QString>("port");
    QTest::addColumn<int>("model");
    QTest::addColumn<QString>("firstImage");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("warning");

    QTest::newRow("model 0, empty port box warns no port")
        << "go_5-10k.zip" << QStringList{"arm.bin", "dsp.out"} << QList<int>{} << QString() << 0 << "arm.bin" << 0
        << "no port";
    QTest::newRow("model 0, unticked image is not sent")
        << "go_5-10k.zip" << QStringList{"arm.bin", "dsp.out"} << QList<int>{0} << "/nonexistent/ttyUPS" << 0
        << "dsp.bin" << 1 << "opening failed!";
    QTest::newRow("model 1 goes to the second engine")
        << "go_15-20k.zip" << QStringList{"Rec_power33.out", "2U_20K_MONITOR.bin"} << QList<int>{}
        << "/nonexistent/ttyUPS" << 1 << "2U_20K_MONITOR.bin" << 0 << QString();
    QTest::newRow("nothing ticked sends nothing")
        << "go_5-10k.zip" << QStringList{"arm.bin"} << QList<int>{0} << QString() << -1 << QString() << -1
        << QString();
}

void TestDialog::updateButtonHandsOverToQueue()
{
    QFETCH(QString, packageName);
    QFETCH(QStringList, images);
    QFETCH(QList<int>, untick);
    QFETCH(QString, port);
    QFETCH(int, model);
    QFETCH(QString, firstImage);
    QFETCH(int, row);
    QFETCH(QString, warning);

    const QString zipPath = makePackage(packageName, images, true);
    Dialog dialog;
    DialogTestAccess access(dialog);
    access.ports()->clear();
    if (!port.isEmpty())
        access.ports()->addItem(port);
    access.path()->setText(zipPath);
    access.fillTable();
    for (int r : untick) {
        QVERIFY(access.checkBox(r));
        access.checkBox(r)->click();
    }

    QSignalSpy first(&access.updater(), &filesUpdate::sendParm);
    QSignalSpy second(&access.updater(), &filesUpdate::sendParm1);
    modalAnswerer answerer;
    answerer.start(3000);
    access.updateButton()->click();
    answerer.stop();

    if (model < 0) {
        QCOMPARE(first.count() + second.count(), 0);
        QVERIFY(access.log()->toPlainText().contains(QStringLiteral("no file updating!")));
        return;
    }
    QSignalSpy &sent = model == 0 ? first : second;
    QCOMPARE(sent.count(), 1);
    QCOMPARE((model == 0 ? second : first).count(), 0);
    const updateParm job = sent.first().at(0).value<updateParm>();
    QCOMPARE(job.modelId, model);
    QCOMPARE(job.row, row);
    QCOMPARE(QFileInfo(job.imagePath).fileName(), firstImage);
    QCOMPARE(job.portName, port);
    if (!warning.isEmpty()) {
        QCOMPARE(answerer.boxes().size(), 1);
        QCOMPARE(answerer.boxes().first().text, warning);
    }
}

void TestDialog::settingsRestoredAtStart_data()
{
    QTest::addColumn<QString>("storedLanguage"); // "-" leaves the key out
    QTest::addColumn<QString>("storedPath");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("languageAfter");
    QTest::addColumn<bool>("chineseTexts");
    QTest::addColumn<QString>("storedPort"); // empty leaves the key out

    QTest::newRow("first start writes English") << "-" << QString() << 0 << "English" << false << QString();
    QTest::newRow("English") << "English" << "/some/dir" << 0 << "English" << false << QString();
    QTest::newRow("Chinese installs the translation") << "Chinese" << "/some/dir" << 1 << "Chinese" << true
                                                      << QString();
    QTest::newRow("unknown value counts as English, kept") << "Klingon" << QString() << 0 << "Klingon" << false
                                                            << QString();
    QTest::newRow("remembered port back in the box") << "English" << "/some/dir" << 0 << "English" << false
                                                     << "/dev/pts/no-such-ups-line";
    QTest::newRow("remembered port survives the translation") << "Chinese" << QString() << 1 << "Chinese" << true
                                                              << "/dev/pts/no-such-ups-line";
}

void TestDialog::settingsRestoredAtStart()
{
    QFETCH(QString, storedLanguage);
    QFETCH(QString, storedPath);
    QFETCH(int, index);
    QFETCH(QString, languageAfter);
    QFETCH(bool, chineseTexts);
    QFETCH(QString, storedPort);
    {
        QSettings settings(kSettingsFile, QSettings::IniFormat);
        if (storedLanguage != QLatin1String("-"))
            settings.setValue(QStringLiteral("language"), storedLanguage);
        if (!storedPath.isEmpty())
            settings.setValue(QStringLiteral("filePath"), storedPath);
        if (!storedPort.isEmpty())
            settings.setValue(QStringLiteral("port"), storedPort);
    }
    Dialog dialog;
    DialogTestAccess access(dialog);
    QCOMPARE(access.languages()->currentIndex(), index);
    QCOMPARE(readIni(QStringLiteral("language")), languageAfter);
    QCOMPARE(access.path()->text(), storedPath);
    QCOMPARE(access.model()->rowCount(), 0);
    const QString english = QStringLiteral("updating file:");
    const QString expected = chineseTexts ? translated("Dialog", "updating file:") : english;
    QVERIFY(!expected.isEmpty());
    QCOMPARE(access.text(QStringLiteral("fileLabel")), expected);
    const QString port = access.ports()->currentText();
    if (storedPort.isEmpty()) // nothing remembered: nothing, or what the system offers
        QVERIFY2(port.isEmpty() || systemPorts().contains(port), qPrintable(port));
    else
        QCOMPARE(port, storedPort);
}

void TestDialog::settingsSurviveTwoLifetimes()
{
    const QString zipPath = makePackage(QStringLiteral("life_5-10k.zip"), {"arm.bin"});
    {
        Dialog dialog;
        DialogTestAccess access(dialog);
        QCOMPARE(access.path()->text(), QString());
        modalAnswerer answerer;
        answerer.setFileAnswer(zipPath);
        answerer.start();
        access.selectFiles();
        answerer.stop();
        access.languages()->setCurrentIndex(1);
    }
    QCOMPARE(QCoreApplication::translate("Dialog", "select"), QStringLiteral("select")); // translator gone
    {
        Dialog dialog;
        DialogTestAccess access(dialog);
        QCOMPARE(access.languages()->currentIndex(), 1);
        QCOMPARE(access.path()->text(), workDir.path());
        QCOMPARE(access.text(QStringLiteral("selectButton")), translated("Dialog", "select"));
        access.languages()->setCurrentIndex(0);
        QCOMPARE(access.text(QStringLiteral("selectButton")), QStringLiteral("select"));
    }
    QCOMPARE(readIni(QStringLiteral("language")), QStringLiteral("English"));
}

void TestDialog::chineseRetranslatesButKeepsLanguageItems()
{
    const QString zipPath = makePackage(QStringLiteral("zh_5-10k.zip"), {"arm.bin", "dsp.out"});
    Dialog dialog;
    DialogTestAccess access(dialog);
    access.path()->setText(zipPath);
    access.fillTable();
    QVERIFY(access.checkBox(1));
    access.checkBox(1)->click();

    access.languages()->setCurrentIndex(1);
    const QStringList sources{"fileLabel", "portLabel", "selectButton", "updateButton",
                              "header0", "header1", "header2", "header3"};
    const QStringList english{"updating file:", "       port:", "select", "updating",
                              "fileName", "fileSize", "opration", "progress"};
    for (int i = 0; i < sources.size(); ++i) {
        const QString chinese = translated("Dialog", english.at(i).toLatin1().constData());
        QVERIFY2(!chinese.isEmpty() && chinese != english.at(i), qPrintable(english.at(i)));
        QCOMPARE(access.text(sources.at(i)), chinese);
    }
    QCOMPARE(access.text(QStringLiteral("language0")), QStringLiteral("English"));
    QCOMPARE(access.text(QStringLiteral("language1")), QStringLiteral("Chinese"));
    QCOMPARE(readIni(QStringLiteral("language")), QStringLiteral("Chinese"));
    QCOMPARE(access.checkedNames(), (QStringList{"0:arm.bin", "1:dsp.out"})); // table refilled

    access.languages()->setCurrentIndex(0);
    for (int i = 0; i < sources.size(); ++i)
        QCOMPARE(access.text(sources.at(i)), english.at(i));
    QCOMPARE(readIni(QStringLiteral("language")), QStringLiteral("English"));
    QCOMPARE(access.names(), (QStringList{"arm.bin", "dsp.out"}));
}

void TestDialog::lockDuringRun_data()
{
    QTest::addColumn<int>("board"); // simulated unit at the far end; -1: none
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("packageName");
    QTest::addColumn<QStringList>("members");
    QTest::addColumn<bool>("untickAll");
    QTest::addColumn<QString>("endLine"); // %1: the extraction folder
    QTest::addColumn<bool>("outlivesPress");

    QTest::newRow("run completes")
        << 0 << QString() << "lock_5-10k.zip" << QStringList{"arm.bin", "dsp.out:object"} << false
        << "update finished!" << true;
    QTest::newRow("silent unit: the engine gives up")
        << 0 << "silence:verify" << "lock_5-10k.zip" << QStringList{"arm.bin"} << false
        << "%1/arm.binupdating failed!" << true;
    QTest::newRow("port cannot be opened")
        << -1 << QString() << "lock_5-10k.zip" << QStringList{"arm.bin"} << false << "%1/arm.binupdating failed!"
        << false;
    QTest::newRow("object file does not translate")
        << 0 << QString() << "lock_5-10k.zip" << QStringList{"dsp.out"} << false << "%1/dsp.outupdating failed!"
        << false;
    QTest::newRow("second board refuses the image")
        << 1 << QString() << "lock_15-20k.zip" << QStringList{"2U_20K_MONITOR.bin"} << false
        << "%1/2U_20K_MONITOR.binupdating failed!" << false;
    QTest::newRow("nothing to send")
        << 0 << QString() << "lock_5-10k.zip" << QStringList{"arm.bin"} << true << "no file updating!" << false;
}

void TestDialog::lockDuringRun()
{
    QFETCH(int, board);
    QFETCH(QString, fault);
    QFETCH(QString, packageName);
    QFETCH(QStringList, members);
    QFETCH(bool, untickAll);
    QFETCH(QString, endLine);
    QFETCH(bool, outlivesPress);

    std::unique_ptr<farUnit> unit;
    if (board >= 0) {
        unit = std::make_unique<farUnit>(board);
        QVERIFY(unit->open(fault.isEmpty() ? QStringList() : QStringList{fault}));
    }
    const QString zipPath = makeMembers(packageName, members);
    QVERIFY(!zipPath.isEmpty());
    Dialog dialog;
    DialogTestAccess access(dialog);
    access.ports()->setEditText(unit ? unit->port() : kNoSuchPort);
    access.path()->setText(zipPath);
    access.fillTable();
    QCOMPARE(access.model()->rowCount(), members.size());
    for (int row = 0; untickAll && row < members.size(); ++row)
        access.checkBox(row)->click();
    const QString locked = access.lockedControls();
    QCOMPARE(access.disabledControls(), QString());

    // The lock as it stands at every log line, up to the one that ends the run.
    QStringList seen;
    auto sample = [&](const QString &) { seen << access.disabledControls(); };
    QObject::connect(&access.updater(), &filesUpdate::sendMessage, &dialog, sample);
    QObject::connect(&access.engine(), &progress::sendMessage, &dialog, sample);
    QObject::connect(&access.engine1(), &progress1::sendMessage, &dialog, sample);
    QSignalSpy ended(&access.updater(), &filesUpdate::runEnded);

    modalAnswerer answerer; // the warning of a port that cannot be opened
    answerer.start(kRunMs);
    access.updateButton()->click();
    QCOMPARE(access.running(), outlivesPress);
    QCOMPARE(access.disabledControls(), outlivesPress ? locked : QString());
    QVERIFY(waitUntil([&] { return !ended.isEmpty(); }, kRunMs));
    answerer.stop();

    QCOMPARE(ended.count(), 1);
    QVERIFY(!access.running());
    QCOMPARE(access.disabledControls(), QString());
    const QString end = endLine.contains(QLatin1String("%1")) ? endLine.arg(zip::extractionDir(zipPath)) : endLine;
    QVERIFY2(access.logLines().contains(end), qPrintable(access.logLines().join(QLatin1Char('|'))));
    QVERIFY(!seen.isEmpty());
    for (const QString &state : qAsConst(seen))
        QCOMPARE(state, locked);
}

void TestDialog::questionDuringRun_data()
{
    QTest::addColumn<int>("board"); // unit kept waiting at the far end; -1: no run
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("stops");
    QTest::addColumn<bool>("closes");

    QTest::newRow("escape, no: window and run go on") << 1 << "escape" << "no" << false << false;
    QTest::newRow("close button, no: window and run go on") << 0 << "close" << "no" << false << false;
    QTest::newRow("escape, yes: run stopped, window closed") << 0 << "escape" << "yes" << true << true;
    QTest::newRow("close button, yes: run stopped, window closed") << 1 << "close" << "yes" << true << true;
    QTest::newRow("update, no: first board job goes on, not restarted") << 0 << "update" << "no" << false << false;
    QTest::newRow("update, no: second board job goes on, not restarted") << 1 << "update" << "no" << false << false;
    QTest::newRow("update, yes: first board line silent") << 0 << "update" << "yes" << true << false;
    QTest::newRow("update, yes: second board line silent") << 1 << "update" << "yes" << true << false;
    QTest::newRow("escape outside a run asks nothing") << -1 << "escape" << QString() << false << true;
    QTest::newRow("close button outside a run asks nothing") << -1 << "close" << QString() << false << true;
}

void TestDialog::questionDuringRun()
{
    QFETCH(int, board);
    QFETCH(QString, action);
    QFETCH(QString, answer);
    QFETCH(bool, stops);
    QFETCH(bool, closes);

    // Each board kept in a step it repeats: shake hands, start commands.
    std::unique_ptr<farUnit> unit;
    QString zipPath;
    if (board >= 0) {
        unit = std::make_unique<farUnit>(board);
        QVERIFY(unit->open({board == 0 ? QStringLiteral("silence:shakehand") : QStringLiteral("silence:start")}));
        zipPath = board == 0 ? makeMembers(QStringLiteral("ask_5-10k.zip"), {"arm.bin"})
                             : makeMembers(QStringLiteral("ask_15-20k.zip"), {"2U_20K_MONITOR.bin:signed"});
        QVERIFY(!zipPath.isEmpty());
    }
    Dialog dialog;
    DialogTestAccess access(dialog);
    dialog.show();
    QSignalSpy jobs(&access.updater(), &filesUpdate::sendParm);
    QSignalSpy jobs1(&access.updater(), &filesUpdate::sendParm1);
    if (unit) {
        access.ports()->setEditText(unit->port());
        access.path()->setText(zipPath);
        access.fillTable();
        access.updateButton()->click();
        QVERIFY(access.running());
        QVERIFY(waitUntil([&] { return unit->commands() >= 2; }, kRunMs));
    }
    const int commandsBefore = unit ? unit->commands() : 0;
    const int preamblesBefore = unit ? unit->preambles() : 0;

    modalAnswerer answerer;
    answerer.setButtonText(answer);
    answerer.start();
    if (action == QLatin1String("escape"))
        QTest::keyClick(&dialog, Qt::Key_Escape);
    else if (action == QLatin1String("close"))
        dialog.close();
    else
        access.updateButton()->click();
    answerer.stop();

    if (!unit) {
        QCOMPARE(answerer.boxes().size(), 0);
        QCOMPARE(dialog.isVisible(), false);
        return;
    }
    QCOMPARE(answerer.boxes().size(), 1);
    const modalAnswerer::Box box = answerer.boxes().first();
    QCOMPARE(box.title, QStringLiteral("updating"));
    QCOMPARE(box.text, action == QLatin1String("update") ? kStopQuestion : kCloseQuestion);
    QCOMPARE(box.buttons, (QStringList{"yes", "no"}));
    QCOMPARE(box.defaultButton, QStringLiteral("no"));
    QCOMPARE(box.escapeButton, QStringLiteral("no"));
    QCOMPARE(dialog.isVisible(), !closes);
    QCOMPARE(access.running(), !stops);
    QCOMPARE(access.logLines().count(QStringLiteral("update stopped!")), stops ? 1 : 0);
    QCOMPARE(jobs.count() + jobs1.count(), 1);

    if (!stops) {
        // The same job goes on: more of its waiting step, no new start.
        QCOMPARE(access.disabledControls(), access.lockedControls());
        QVERIFY(waitUntil([&] { return unit->commands() > commandsBefore; }, kRunMs));
        QCOMPARE(unit->preambles(), preamblesBefore);
        QCOMPARE(jobs.count() + jobs1.count(), 1);
        const QString image = access.package().checkedFiles().value(0).path;
        QCOMPARE(access.logLines().count(QStringLiteral("prepare for updating file:") + image), 1);
        return;
    }
    QCOMPARE(access.disabledControls(), QString());
    QVERIFY(!access.serial().isOpen());
    QVERIFY(!access.engine().isBusy());
    QVERIFY(!access.engine1().isBusy());
    spin(kSettleMs);
    const qint64 received = unit->received;
    spin(kQuietMs);
    QCOMPARE(unit->received, received);
    QCOMPARE(access.logLines().last(), QStringLiteral("update stopped!"));
    QVERIFY(!access.serial().isOpen()); // and nothing opened it again
}

// The first engine waits before its target preamble in a nested event loop;
// a stop answered there must hold when that wait ends.
void TestDialog::stopDuringTargetPause()
{
    farUnit unit(0);
    QVERIFY(unit.open({}));
    const QString zipPath = makeMembers(QStringLiteral("pause_5-10k.zip"), {"arm.bin"});
    QVERIFY(!zipPath.isEmpty());
    Dialog dialog;
    DialogTestAccess access(dialog);
    access.ports()->setEditText(unit.port());
    access.path()->setText(zipPath);
    access.fillTable();

    modalAnswerer answerer;
    answerer.setButtonText(QStringLiteral("yes"));
    bool clicked = false;
    bool inPause = false;
    // The press comes a third of the pause after the confirm reply left the unit.
    QObject::connect(unit.line(), &ptyLine::sent, &dialog, [&](const QByteArray &) {
        if (clicked || unit.preambles() != 2)
            return;
        clicked = true;
        QTimer::singleShot(common::scaledMs(progress::kTargetDelayMs) / 3, &dialog, [&] {
            inPause = access.engine().frame().step == progress::StepPreambleTarget && !access.engine().isBusy();
            answerer.start();
            access.updateButton()->click();
            answerer.stop();
        });
    });
    access.updateButton()->click();
    QVERIFY(waitUntil([&] { return clicked && !access.running(); }, kRunMs));
    QCOMPARE(answerer.boxes().size(), 1);
    if (!inPause)
        QSKIP("the press came after the pause on this machine");
    spin(kSettleMs);
    const qint64 received = unit.received;
    spin(kQuietMs);
    QCOMPARE(unit.received, received);
    QCOMPARE(unit.preambles(), 2); // no target preamble
    QCOMPARE(unit.commands(), 0);
    QVERIFY(!access.engine().isBusy());
    QVERIFY(!access.serial().isOpen());
    QCOMPARE(access.logLines().last(), QStringLiteral("update stopped!"));
}

void TestDialog::typedPortUsedAndRemembered()
{
    farUnit unit(0);
    QVERIFY(unit.open({}));
    const QString zipPath = makeMembers(QStringLiteral("port_5-10k.zip"), {"arm.bin"});
    QVERIFY(!zipPath.isEmpty());
    {
        Dialog dialog;
        DialogTestAccess access(dialog);
        access.path()->setText(zipPath);
        access.fillTable();
        QLineEdit *edit = access.ports()->lineEdit();
        QVERIFY(edit);
        edit->clear();
        QTest::keyClicks(edit, unit.port());
        QSignalSpy jobs(&access.updater(), &filesUpdate::sendParm);
        access.updateButton()->click();
        QVERIFY(waitUntil([&] { return !access.running(); }, kRunMs));
        QCOMPARE(jobs.count(), 1);
        QCOMPARE(jobs.first().at(0).value<updateParm>().portName, unit.port());
        QVERIFY2(access.logLines().contains(QStringLiteral("update finished!")),
                 qPrintable(access.logLines().join(QLatin1Char('|'))));
        QCOMPARE(unit.jobsCompleted(), 1);
        QCOMPARE(readIni(QStringLiteral("port")), unit.port());
    }
    Dialog dialog;
    QCOMPARE(DialogTestAccess(dialog).ports()->currentText(), unit.port());
}

void TestDialog::portListReadAgainOnOpening_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("typed name not in the system list stays") << "typed";
    QTest::newRow("remembered name stays") << "remembered";
    QTest::newRow("an item the system no longer has is dropped") << "stale";
    QTest::newRow("a system port stays selected") << "system";
    QTest::newRow("nothing chosen yet: the first system port is offered") << "none";
}

void TestDialog::portListReadAgainOnOpening()
{
    QFETCH(QString, how);
    const QString name = QStringLiteral("/dev/pts/no-such-ups-line"); // only text: never opened
    const QStringList system = systemPorts();
    if ((how == QLatin1String("system") || how == QLatin1String("none")) && system.isEmpty())
        QSKIP("this machine lists no serial port");
    if (how == QLatin1String("remembered")) {
        QSettings settings(kSettingsFile, QSettings::IniFormat);
        settings.setValue(QStringLiteral("port"), name);
    }
    Dialog dialog;
    DialogTestAccess access(dialog);
    QComboBox *box = access.ports();
    if (how == QLatin1String("typed")) {
        box->lineEdit()->clear();
        QTest::keyClicks(box->lineEdit(), name);
    } else if (how == QLatin1String("stale")) {
        box->addItem(QStringLiteral("ttyGONE"));
        box->setCurrentIndex(box->count() - 1);
    } else if (how == QLatin1String("system")) {
        box->setCurrentIndex(box->findText(system.last()));
    }
    const QString before = box->currentText();
    if (how == QLatin1String("none"))
        QCOMPARE(before, system.first());
    QVERIFY(!before.isEmpty());

    box->showPopup();
    box->hidePopup();
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    QCOMPARE(items, system);
    if (how == QLatin1String("stale"))
        QCOMPARE(box->currentText(), system.value(0));
    else
        QCOMPARE(box->currentText(), before);
}

void TestDialog::oneEngineOnTheLine_data()
{
    QTest::addColumn<bool>("userStops");
    QTest::newRow("user stops the waiting job, then updates") << true;
    QTest::newRow("queue hands the line to the first engine") << false;
}

// A model-1 job left waiting on a line whose far end is a first board: the
// second engine repeats its start command and "timeout!". Then a model-0 run
// on the same line must go out clean.
void TestDialog::oneEngineOnTheLine()
{
    QFETCH(bool, userStops);
    farUnit unit(0);
    QVERIFY(unit.open({}));
    const QString model1 = makeMembers(QStringLiteral("line_15-20k.zip"), {"2U_20K_MONITOR.bin:signed"});
    const QString model0 = makeMembers(QStringLiteral("line_5-10k.zip"), {"arm.bin", "dsp.out:object"});
    QVERIFY(!model1.isEmpty() && !model0.isEmpty());
    Dialog dialog;
    DialogTestAccess access(dialog);
    access.ports()->setEditText(unit.port());
    access.path()->setText(model1);
    access.fillTable();
    if (userStops)
        access.updateButton()->click();
    else
        access.updater().start(1, access.package().checkedFiles(), unit.port());

    const QString timeoutLine = QStringLiteral("timeout!");
    QVERIFY(waitUntil([&] { return access.logLines().contains(timeoutLine); }, kRunMs));
    // The start command of that round reaches the unit as stray bytes; the
    // next round is a whole interval away.
    const int arrivals = unit.arrivals;
    QVERIFY(waitUntil([&] { return unit.arrivals > arrivals; }, kRunMs));
    QVERIFY(!unit.violations().isEmpty());

    if (userStops) {
        modalAnswerer answerer;
        answerer.setButtonText(QStringLiteral("yes"));
        answerer.start();
        access.updateButton()->click();
        answerer.stop();
        QCOMPARE(answerer.boxes().size(), 1);
        QCOMPARE(access.logLines().count(QStringLiteral("update stopped!")), 1);
        spin(kSettleMs);
    }
    access.path()->setText(model0);
    access.fillTable();
    unit.reset();
    const int linesBefore = access.logLines().size();
    if (userStops)
        access.updateButton()->click();
    else
        access.updater().start(0, access.package().checkedFiles(), unit.port());
    const QString finished = QStringLiteral("update finished!");
    QVERIFY(waitUntil([&] { return access.logLines().mid(linesBefore).contains(finished); }, kRunMs));

    const QStringList runLines = access.logLines().mid(linesBefore);
    QCOMPARE(runLines.count(timeoutLine), 0);
    QCOMPARE(unit.violations(), QStringList());
    QCOMPARE(unit.jobsCompleted(), 2);
    QVERIFY(!access.engine1().isBusy());
}

// The other way round: a first-board job in hand when the queue hands a
// model-1 job to the second engine; the first engine sends nothing more.
void TestDialog::secondJobStopsFirstEngine()
{
    farUnit unit(0);
    QVERIFY(unit.open({QStringLiteral("silence:shakehand")}));
    const QString model0 = makeMembers(QStringLiteral("hand_5-10k.zip"), {"arm.bin"});
    const QString model1 = makeMembers(QStringLiteral("hand_15-20k.zip"), {"2U_20K_MONITOR.bin:signed"});
    QVERIFY(!model1.isEmpty() && !model0.isEmpty());
    Dialog dialog;
    DialogTestAccess access(dialog);
    access.path()->setText(model0);
    access.fillTable();
    access.updater().start(0, access.package().checkedFiles(), unit.port());
    QVERIFY(waitUntil([&] { return unit.commands() >= 1; }, kRunMs));

    access.path()->setText(model1);
    access.fillTable();
    const int linesBefore = access.logLines().size();
    const int framesBefore = unit.frames().size();
    access.updater().start(1, access.package().checkedFiles(), unit.port());
    QVERIFY(!access.engine().isBusy());
    spin(kQuietMs);
    QCOMPARE(unit.frames().size(), framesBefore); // the start commands are no frames to it
    QVERIFY(!access.engine().isBusy());
    QVERIFY(access.engine1().isBusy());
    const QStringList after = access.logLines().mid(linesBefore);
    for (const QString &line : after)
        QVERIFY2(!line.endsWith(QLatin1String("failed!")), qPrintable(line));
}

void TestDialog::userFilesUntouched_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QStringList>("listed");

    QTest::newRow("remembered folder, language switch") << "remembered" << "language" << QStringList{};
    QTest::newRow("remembered folder, cancelled chooser") << "remembered" << "cancel" << QStringList{};
    QTest::newRow("remembered folder named like a package") << "folder.zip" << "language" << QStringList{};
    QTest::newRow("extraction folder holds other files, language switch")
        << "strangers" << "language" << QStringList{"arm.bin"};
    QTest::newRow("extraction folder holds other files, cancelled chooser")
        << "strangers" << "cancel" << QStringList{"arm.bin"};
    QTest::newRow("package moved away after listing") << "moved" << "language" << QStringList{};
}

void TestDialog::userFilesUntouched()
{
    QFETCH(QString, setup);
    QFETCH(QString, action);
    QFETCH(QStringList, listed);

    const QByteArray user = payloadOf('u', 2);
    const bool remembered = setup == QLatin1String("remembered") || setup == QLatin1String("folder.zip");
    QString zipPath;
    QString watched; // the folder whose files must come through byte for byte
    QMap<QString, QByteArray> planted;
    if (remembered) {
        watched = workDir.filePath(setup == QLatin1String("remembered") ? "kept" : "kept_5-10k.zip");
        // Images of both boards, with a good and a wrong trailer, and others.
        planted = {{"arm.bin", packageWriter::withTrailer(user)},
                   {"dsp.out", packageWriter::withTrailer(user, true)},
                   {"2U_20K_MONITOR.bin", packageWriter::withTrailer(user)},
                   {"dsp.bin", user},
                   {"notes.txt", "mine"}};
    } else {
        zipPath = makeMembers(QStringLiteral("own_5-10k.zip"), {"arm.bin"});
        QVERIFY(!zipPath.isEmpty());
        watched = zip::extractionDir(zipPath);
        planted = {{"dsp.out", packageWriter::withTrailer(user)},
                   {"dsp.bin", user},
                   {"arm.bin.orig", packageWriter::withTrailer(user)},
                   {"sub/arm.bin", packageWriter::withTrailer(user)},
                   {"notes.txt", "mine"}};
    }
    QDir(watched).removeRecursively();
    for (auto it = planted.cbegin(); it != planted.cend(); ++it)
        QVERIFY(writeFile(watched + QLatin1Char('/') + it.key(), it.value()));
    QCOMPARE(snapshot(watched), planted);
    if (remembered) {
        QSettings settings(kSettingsFile, QSettings::IniFormat);
        settings.setValue(QStringLiteral("filePath"), watched);
    }
    Dialog dialog;
    DialogTestAccess access(dialog);
    if (remembered) {
        QCOMPARE(access.path()->text(), watched);
    } else {
        access.path()->setText(zipPath);
        access.fillTable();
        QCOMPARE(access.names(), QStringList{"arm.bin"});
        QMap<QString, QByteArray> withMember = planted;
        withMember.insert(QStringLiteral("arm.bin"), payloadOf('a', 1));
        QCOMPARE(snapshot(watched), withMember);
    }
    const QMap<QString, QByteArray> before = snapshot(watched);
    const QStringList siblings = QDir(workDir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    if (setup == QLatin1String("moved"))
        QVERIFY(QFile::rename(zipPath, workDir.filePath(QStringLiteral("away.zip"))));

    if (action == QLatin1String("language")) {
        access.languages()->setCurrentIndex(1);
        QCOMPARE(access.names(), listed);
        access.languages()->setCurrentIndex(0);
    } else {
        modalAnswerer answerer; // no file set: the chooser is cancelled
        answerer.start();
        access.selectFiles();
        answerer.stop();
        QCOMPARE(answerer.fileDialogs().size(), 1);
    }
    QCOMPARE(access.names(), listed);
    QCOMPARE(access.package().checkedFiles().size(), listed.size());
    QCOMPARE(snapshot(watched), before);
    if (setup != QLatin1String("moved")) // nothing unpacked beside the folder
        QCOMPARE(QDir(workDir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), siblings);
    if (setup == QLatin1String("moved"))
        QVERIFY(QFile::remove(workDir.filePath(QStringLiteral("away.zip"))));
}

void TestDialog::unsendableImageBlocksUpdate_data()
{
    QTest::addColumn<QString>("packageName");
    QTest::addColumn<QStringList>("members");
    QTest::addColumn<QList<int>>("badRows");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("goodImage");

    const QString ambiguous = QStringLiteral("more than one file of the package matches its image name");
    QTest::newRow("digest mismatch")
        << "bad_5-10k.zip" << QStringList{"arm.bin", "dsp.out:wrong"} << QList<int>{1}
        << "its digest check failed" << "arm.bin";
    QTest::newRow("damaged member")
        << "bad_5-10k.zip" << QStringList{"arm.bin", "dsp.out:damaged"} << QList<int>{1}
        << "it could not be unpacked whole" << "arm.bin";
    QTest::newRow("ambiguous duplicate")
        << "bad_5-10k.zip" << QStringList{"arm.bin", "dsp.out", "new_dsp.out"} << QList<int>{1, 2} << ambiguous
        << "arm.bin";
    QTest::newRow("same name twice")
        << "bad_5-10k.zip" << QStringList{"arm.bin", "arm.bin", "dsp.out:object"} << QList<int>{0, 1} << ambiguous
        << "dsp.bin";
    QTest::newRow("name of two images")
        << "bad_5-10k.zip" << QStringList{"arm.bin", "dsp.out.arm.bin"} << QList<int>{1}
        << "its name matches more than one image name" << "arm.bin";
    QTest::newRow("second board, digest mismatch")
        << "bad_15-20k.zip" << QStringList{"2U_20K_MONITOR.bin:signed", "Inv_power33.out:wrong"} << QList<int>{1}
        << "its digest check failed" << "2U_20K_MONITOR.bin";
}

void TestDialog::unsendableImageBlocksUpdate()
{
    QFETCH(QString, packageName);
    QFETCH(QStringList, members);
    QFETCH(QList<int>, badRows);
    QFETCH(QString, reason);
    QFETCH(QString, goodImage);

    const QString zipPath = makeMembers(packageName, members);
    QVERIFY(!zipPath.isEmpty());
    Dialog dialog;
    DialogTestAccess access(dialog);
    access.ports()->setEditText(kNoSuchPort);
    access.path()->setText(zipPath);
    access.fillTable();
    QCOMPARE(access.model()->rowCount(), members.size());
    for (int row = 0; row < members.size(); ++row)
        QVERIFY(access.checkBox(row) && access.checkBox(row)->isChecked());
    QStringList problemLines;
    for (int row : badRows)
        problemLines << QStringLiteral("%1 cannot be sent: %2").arg(access.names().at(row), reason);
    // One line per listed image that cannot be sent, at listing and at the press.
    for (const QString &line : problemLines)
        QVERIFY2(access.logLines().count(line) == problemLines.count(line),
                 qPrintable(access.logLines().join(QLatin1Char('|'))));

    QSignalSpy jobs(&access.updater(), &filesUpdate::sendParm);
    QSignalSpy jobs1(&access.updater(), &filesUpdate::sendParm1);
    modalAnswerer refused; // a job sent by mistake would warn about the port
    refused.start();
    access.updateButton()->click();
    refused.stop();
    QCOMPARE(refused.boxes().size(), 0);
    QCOMPARE(jobs.count() + jobs1.count(), 0);
    for (const QString &line : problemLines)
        QCOMPARE(access.logLines().count(line), 2 * problemLines.count(line));
    QCOMPARE(access.logLines().count(QStringLiteral("nothing was sent!")), 1);
    QVERIFY(!access.running());
    QCOMPARE(access.disabledControls(), QString());

    // Without the image that cannot be sent, the others go.
    for (int row : badRows)
        access.checkBox(row)->click();
    modalAnswerer answerer; // the warning of a port that cannot be opened
    answerer.start();
    access.updateButton()->click();
    answerer.stop();
    QCOMPARE(jobs.count() + jobs1.count(), 1);
    const updateParm job = (jobs.isEmpty() ? jobs1 : jobs).first().at(0).value<updateParm>();
    QCOMPARE(QFileInfo(job.imagePath).fileName(), goodImage);
    QCOMPARE(access.logLines().count(QStringLiteral("nothing was sent!")), 1);
}

// Not a check: writes the pictures of the window for the documentation when
// UPS_SCREENSHOT_DIR is set (run on a real display server).
void TestDialog::screenshots()
{
    const QString out = qEnvironmentVariable("UPS_SCREENSHOT_DIR");
    if (out.isEmpty())
        QSKIP("UPS_SCREENSHOT_DIR not set");
    // A stable, readable path for the pictures instead of a random one.
    QDir stage(QDir::tempPath() + QStringLiteral("/ups-screenshot"));
    stage.removeRecursively();
    QVERIFY(QDir().mkpath(stage.filePath(QStringLiteral("firmware"))));
    const QString zipPath = stage.filePath(QStringLiteral("firmware/ups_5-10k.zip"));
    QVERIFY(QFile::rename(makePackage(QStringLiteral("ups_5-10k.zip"), {"arm.bin", "dsp.out"}), zipPath));
    const struct {
        const char *file;
        int language;
        bool filled;
    } shots[] = {{"window-empty.png", 0, false}, {"window-en.png", 0, true}, {"window-zh.png", 1, true}};
    for (const auto &shot : shots) {
        QFile::remove(kSettingsFile);
        Dialog dialog;
        DialogTestAccess access(dialog);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        if (shot.filled) {
            access.path()->setText(zipPath);
            access.languages()->setCurrentIndex(shot.language);
            access.fillTable();
            const QString image = access.package().checkedFiles().value(0).path;
            access.showInfo(QCoreApplication::translate("filesUpdate", "begin to start updating monitor progress..."));
            access.showInfo(QCoreApplication::translate("filesUpdate", "prepare for updating file:") + image);
            access.setProgressBar(0, 37, 100);
        }
        access.ports()->clear(); // the same port list on every machine
        access.ports()->addItems({QStringLiteral("COM3"), QStringLiteral("COM4")});
        QTest::qWait(200);
        QVERIFY(dialog.grab().save(QDir(out).filePath(QString::fromLatin1(shot.file))));
        access.languages()->setCurrentIndex(0);
    }
    stage.removeRecursively();
}

QTEST_MAIN(TestDialog)
#include "test_dialog.moc"
