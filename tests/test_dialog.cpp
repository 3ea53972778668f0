// The main window on the offscreen platform: layout and fixed settings,
// progress cells, the log, package selection and the table, the check boxes,
// the hand-over to the queue, settings across lifetimes and the language;
// then whole runs against simulated units on a pty: the lock while a run
// goes on, the two questions, the port box, one engine on the line at a
// time, a package moved away, images that cannot be sent, and what each row
// and the last log line say when a run ends; the person's ticks kept, the
// log saved.
#include <QApplication>
#include <QCheckBox>
#include <QCryptographicHash>
#include <QComboBox>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
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
#include "package/packagesignature.h"
#include "protocol/first/progress.h"
#include "protocol/second/progress1.h"
#include "upsversion.h"
#include "support/modalanswerer.h"
#include "support/testfiles.h"
#include "support/testtime.h"
#include "tools/support/coffwriter.h"
#include "tools/support/packagewriter.h"
#include "tools/unitsim/firstunit.h"
#include "tools/unitsim/ptyline.h"
#include "tools/unitsim/secondunit.h"

// Reaches the window's private parts for the tests.
class DialogTestAccess
{
public:
    explicit DialogTestAccess(Dialog &dialog)
        : d(dialog)
    {
    }

    QTableView *view() const { return d.tableView; }
    QStandardItemModel *model() const { return d.tableModel; }
    QTextBrowser *log() const { return d.logBrowser; }
    QLineEdit *path() const { return d.pathEdit; }
    QComboBox *languages() const { return d.languageBox; }
    QComboBox *ports() const { return d.portBox; }
    QPushButton *selectButton() const { return d.selectButton; }
    QPushButton *updateButton() const { return d.updateButton; }
    zip &package() const { return d.core.package(); }
    filesUpdate &updater() const { return d.core.queue(); }
    serialport &serial() const { return d.core.line(); }
    progress &engine() const { return *qobject_cast<progress *>(d.core.engine(0)); }
    progress1 &engine1() const { return *qobject_cast<progress1 *>(d.core.engine(1)); }
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
    // What each row's bar says: its share, "failed" or "not sent".
    QStringList barTexts() const
    {
        QStringList texts;
        for (int r = 0; r < d.tableModel->rowCount(); ++r)
            texts << (progressBar(r) ? progressBar(r)->text() : QStringLiteral("<none>"));
        return texts;
    }
    std::unique_ptr<QMenu> logMenu() { return std::unique_ptr<QMenu>(d.newLogMenu(QPoint())); }
    bool writeLog(const QString &path) { return d.writeLog(path); }
    // '1' for each disabled control: select, language, port, the rows' boxes,
    // then the update button.
    QString disabledControls() const
    {
        QList<QWidget *> all {d.selectButton, d.languageBox, d.portBox};
        for (int r = 0; r < d.tableModel->rowCount(); ++r)
            all << checkBox(r);
        all << d.updateButton;
        QString off;
        for (QWidget *w : all)
            off += QLatin1Char(w && w->isEnabled() ? '0' : '1');
        return off;
    }
    // A run holds everything but the update button, which stops it.
    QString lockedControls() const { return QString(d.tableModel->rowCount() + 3, QLatin1Char('1')) + '0'; }
    QString freeControls() const { return QString(d.tableModel->rowCount() + 4, QLatin1Char('0')); }
    QStringList checkedNames() const
    {
        QStringList all;
        const auto files = d.core.package().checkedFiles();
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

// A first-board image takes about 6.5 s unscaled; scaled, two take under 1 s.
constexpr double kTimeScale = testTimeScale(0.05);
constexpr int kRunMs = testWaitMs(8000);
// Several resend intervals of either engine at kTimeScale (100 and 150 ms).
constexpr int kQuietMs = testWaitMs(600);
// Bytes written just before the port closed may still be on their way.
constexpr int kSettleMs = testWaitMs(40);

const QString kNoSuchPort = QStringLiteral("/nonexistent/ttyUPS");

// Runs a real event loop until done() holds: the polling waits of the test
// library sleep between rounds, which would stretch every reply.
bool waitUntil(const std::function<bool()> &done, int ms)
{
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    poll.start();
    loop.exec();
    return done();
}

// Every file directly in dir with its bytes.
QMap<QString, QByteArray> filesIn(const QString &dir)
{
    QMap<QString, QByteArray> files;
    const QFileInfoList entries = QDir(dir).entryInfoList(QDir::Files | QDir::Hidden);
    for (const QFileInfo &info : entries)
        files[info.fileName()] = testFiles::read(info.filePath(), QByteArray("<unreadable>"));
    return files;
}

// A failed row's bar is red where no text is drawn.
bool looksRed(QProgressBar *bar)
{
    if (!bar)
        return false;
    const QImage image = bar->grab().toImage();
    const QColor colour = image.pixelColor(image.width() / 8, image.height() / 2);
    return colour.red() > 150 && colour.green() < 100 && colour.blue() < 100;
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
        QObject::connect(line(), &ptyLine::received, line(),
                         [this](const QByteArray &bytes) { received += bytes.size(); });
    }
    bool open(const QString &fault)
    {
        if (!fault.isEmpty() && !(first ? first->addFault(fault) : second->addFault(fault)))
            return false;
        return first ? first->open() : second->open();
    }
    ptyLine *line() { return first ? first->line() : second->line(); }
    QString port() const { return first ? first->portName() : second->portName(); }
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
    // Nothing arrives over several resend intervals, once what was written
    // before the port closed is in.
    bool staysQuiet()
    {
        const auto never = [] { return false; };
        waitUntil(never, kSettleMs);
        const qint64 before = received;
        waitUntil(never, kQuietMs);
        return received == before;
    }

    qint64 received = 0;

private:
    QList<QByteArray> frames() const { return first ? first->frames() : second->frames(); }
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

    void windowSettings();
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
    void personsChoiceKept_data();
    void personsChoiceKept();
    void tabLeavesTable();
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
    void portListReadAgainOnOpening();
    void oneEngineOnTheLine_data();
    void oneEngineOnTheLine();
    void userFilesUntouched_data();
    void userFilesUntouched();
    void unsendableImageBlocksUpdate_data();
    void unsendableImageBlocksUpdate();
    void trustedKeysFolder_data();
    void trustedKeysFolder();
    void settingsFileChosen_data();
    void settingsFileChosen();
    void runEndsReadAtAGlance_data();
    void runEndsReadAtAGlance();
    void questionClosesWhenRunEnds_data();
    void questionClosesWhenRunEnds();
    void saveLog_data();
    void saveLog();
    void defaultSizeShowsRowsAndPort();
    void screenshots();

private:
    QString makePackage(const QString &name, const QStringList &images, bool realObjects = false);
    static QString makePackageIn(const QString &dir, const QString &name, const QStringList &images,
                                 bool realObjects = false);

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
    // A ups.ini in the working folder is the one used: each test starts
    // with an empty one there.
    QFile::remove(kSettingsFile);
    QVERIFY(QFile(kSettingsFile).open(QIODevice::WriteOnly));
    common::setTimeScale(kTimeScale);
}

void TestDialog::cleanup()
{
    common::setTimeScale(1.0);
    // Keys, or a broken folder, left for later tests would refuse their packages.
    for (const QString &folder : {workDir.filePath("trusted-keys"), workDir.filePath("home/.config/ups")}) {
        QDir(folder).removeRecursively();
        QFile::remove(folder);
    }
    // A box left open would take the input of every later test.
    QWidget *modal = QApplication::activeModalWidget();
    if (modal)
        modal->close();
    QVERIFY2(!modal, "a modal box was left open");
}

// Images are filler of a known size; with realObjects the ".out" images are
// object files that translate, so a run can hand them over. A ":object"
// suffix does that for one image, ":signed" makes a monitor image the second
// engine accepts, ":wrong" flips a bit of the trailer.
// The keys in trusted-keys beside ups.ini and in the user's folder decide
// which packages are listed; the folders are read again for each package. A
// folder that cannot be read, or a signature required by ups.ini, keeps
// checking on with no key at all.
void TestDialog::trustedKeysFolder_data()
{
    QTest::addColumn<QString>("keys"); // "none", "beside ups.ini", "user folder", "dangling folder link"
    QTest::addColumn<bool>("required");
    QTest::addColumn<bool>("signedPackage");
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("listing"); // the last line; none when refused
    const QStringList both {"arm.bin", "dsp.out"};
    const QString listed = QStringLiteral("listed keyed_5-10k.zip: model 5-10k, images: 2, ");
    QTest::newRow("no key: an unsigned package as before")
        << "none" << false << false << both << "" << listed + "unsigned; trusted keys: 0";
    QTest::newRow("no key: a signed package, its key told")
        << "none" << false << true << both << "(not checked: no key is trusted)"
        << listed + "signed, not checked: no key is trusted; trusted keys: 0";
    QTest::newRow("a key beside ups.ini: an unsigned package refused")
        << "beside ups.ini" << false << false << QStringList() << "package refused: it is not signed"
        << "";
    QTest::newRow("a key beside ups.ini: its signed package listed")
        << "beside ups.ini" << false << true << both << "signed by " << listed + "signature checked; trusted keys: 1";
    QTest::newRow("a key in the user's folder: an unsigned package refused")
        << "user folder" << false << false << QStringList() << "package refused: it is not signed"
        << "";
    QTest::newRow("a key in the user's folder: its signed package listed")
        << "user folder" << false << true << both << "signed by " << listed + "signature checked; trusted keys: 1";
    QTest::newRow("signature required, no key: an unsigned package refused")
        << "none" << true << false << QStringList() << "package refused: it is not signed"
        << "";
    QTest::newRow("signature required, no key: a signed package refused")
        << "none" << true << true << QStringList() << ", a key that is not trusted"
        << "";
    QTest::newRow("folder a link to nothing: an unsigned package refused")
        << "dangling folder link" << false << false << QStringList() << "cannot be used: it is a link to nothing"
        << "";
}

void TestDialog::trustedKeysFolder()
{
    QFETCH(QString, keys);
    QFETCH(bool, required);
    QFETCH(bool, signedPackage);
    QFETCH(QStringList, listed);
    QFETCH(QString, line);
    QFETCH(QString, listing);
    QTemporaryDir keyPair;
    QString problem;
    QVERIFY(!signingKeys::generate(keyPair.filePath("maker"), &problem).isEmpty());
    const QString beside = workDir.filePath("trusted-keys");
    const QString user = workDir.filePath("home/.config/ups/trusted-keys");
    if (keys == "beside ups.ini" || keys == "user folder") {
        const QString folder = keys == "user folder" ? user : beside;
        QVERIFY(QDir().mkpath(folder) && QFile::copy(keyPair.filePath("maker.pub"), folder + "/maker.pub"));
    } else if (keys == "dangling folder link") {
        QVERIFY(QFile::link(workDir.filePath("gone"), beside));
    }
    if (required)
        QSettings(kSettingsFile, QSettings::IniFormat).setValue("require-signature", true);
    const QString zipPath = workDir.filePath("keyed_5-10k.zip");
    QDir(workDir.filePath("keyed_5-10k")).removeRecursively();
    QFile::remove(zipPath);
    QList<signedMember> members;
    packageWriter writer(zipPath);
    QVERIFY(writer.open());
    for (const QString &name : {QStringLiteral("arm.bin"), QStringLiteral("dsp.out")}) {
        const QByteArray stored = packageWriter::withTrailer(payloadOf('k', 2));
        QVERIFY(writer.addRaw(name, stored));
        members.append(
            signedMember {name, stored.size(), QCryptographicHash::hash(stored, QCryptographicHash::Sha256)});
    }
    if (signedPackage) {
        const QByteArray secret = signingKeys::readSecret(keyPair.filePath("maker.key"), &problem);
        QVERIFY(writer.addRaw(packageSignature::kMemberName, packageSignature::build(secret, 0, members)));
    }
    QVERIFY(writer.close());

    Dialog dialog;
    DialogTestAccess access(dialog);
    access.path()->setText(zipPath);
    access.fillTable();
    QCOMPARE(access.names(), listed);
    QVERIFY2(line.isEmpty() ? access.logLines().filter("signed by").isEmpty()
                            : !access.logLines().filter(line).isEmpty(),
             qPrintable(access.logLines().join('\n')));
    // The listing is the last line: nothing stale sits under a filled table.
    QCOMPARE(access.logLines().filter(QStringLiteral("listed ")).size(), listing.isEmpty() ? 0 : 1);
    if (!listing.isEmpty())
        QCOMPARE(access.logLines().last(), listing);
}

// The settings go to ./ups.ini when one is there (files users have keep
// working), else to the user's folder, made by the first write. A file that
// cannot be written costs one line, and the window goes on.
void TestDialog::settingsFileChosen_data()
{
    QTest::addColumn<QString>("place"); // "working folder", "user folder", "blocked"
    QTest::newRow("ups.ini in the working folder: used") << "working folder";
    QTest::newRow("none: the user's folder, made on first write") << "user folder";
    QTest::newRow("the user's folder cannot be made: one line") << "blocked";
}

void TestDialog::settingsFileChosen()
{
    QFETCH(QString, place);
    const QString userFile = workDir.filePath("home/.config/ups/ups.ini");
    if (place != "working folder")
        QVERIFY(QFile::remove(kSettingsFile));
    if (place == "blocked") // a file where the folder would go: even root cannot write there
        testFiles::write(workDir.filePath("home/.config/ups"), "in the way");
    {
        Dialog dialog;
        DialogTestAccess access(dialog);
        access.languages()->setCurrentIndex(1);
        access.languages()->setCurrentIndex(0);
        const QStringList told = access.logLines().filter("the settings cannot be saved");
        QCOMPARE(told.size(), place == "blocked" ? 1 : 0);
        if (place == "blocked")
            QCOMPARE(told.first(),
                     "the settings cannot be saved in " + userFile + ": its folder "
                         + workDir.filePath("home/.config/ups") + " cannot be made");
        QCOMPARE(access.languages()->currentIndex(), 0);
    }
    QCOMPARE(QFileInfo::exists(kSettingsFile), place == "working folder");
    QCOMPARE(QFileInfo(userFile).isFile(), place == "user folder");
    const QString used = place == "working folder" ? kSettingsFile : userFile;
    if (place != "blocked")
        QCOMPARE(QSettings(used, QSettings::IniFormat).value("language").toString(), QStringLiteral("English"));
}

QString TestDialog::makePackage(const QString &name, const QStringList &images, bool realObjects)
{
    return makePackageIn(workDir.path(), name, images, realObjects);
}

QString TestDialog::makePackageIn(const QString &dir, const QString &name, const QStringList &images, bool realObjects)
{
    const QString path = dir + QLatin1Char('/') + name;
    QDir(path.left(path.indexOf(QLatin1String(".zip")))).removeRecursively();
    QFile::remove(path);
    packageWriter writer(path);
    if (!writer.open())
        return QString();
    char fill = 'a';
    int kilobytes = 1;
    for (const QString &member : images) {
        const QString image = member.section(QLatin1Char(':'), 0, 0);
        const QString kind = member.section(QLatin1Char(':'), 1);
        QByteArray payload = payloadOf(fill++, kilobytes++);
        if (kind == QLatin1String("object") || (realObjects && image.endsWith(QLatin1String(".out"))))
            payload = coffWriter::sampleObjectFile(nullptr);
        if (kind == QLatin1String("signed"))
            payload = QByteArray(0x4000 + 8 + 300, 'm').replace(0x4000, 8, "QJX-MONI");
        writer.addImage(image, payload, kind == QLatin1String("wrong"));
    }
    return writer.close() ? path : QString();
}

void TestDialog::windowSettings()
{
    Dialog dialog;
    DialogTestAccess access(dialog);
    // Only the close button is asked for; the platform adds title and menu.
    const Qt::WindowFlags unwanted = Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint
        | Qt::WindowContextHelpButtonHint | Qt::WindowStaysOnTopHint | Qt::FramelessWindowHint;
    QVERIFY(dialog.windowFlags() & Qt::WindowCloseButtonHint);
    QCOMPARE(dialog.windowFlags() & unwanted, Qt::WindowFlags());
    QCOMPARE(dialog.size(), QSize(720, 420));
    QCOMPARE(dialog.minimumSize(), QSize(580, 300));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("ups " UPS_VERSION));
    QVERIFY(!dialog.windowIcon().isNull());
    QCOMPARE(access.view()->horizontalHeader()->sectionResizeMode(0), QHeaderView::ResizeToContents);
    QVERIFY(access.view()->horizontalHeader()->stretchLastSection());
    QCOMPARE(access.view()->editTriggers(), QAbstractItemView::NoEditTriggers);
    QCOMPARE(access.view()->model(), access.model());
    QVERIFY(access.path()->isReadOnly());
    QCOMPARE(access.model()->rowCount(), 0);
    QCOMPARE(access.model()->columnCount(), 4);
    // No button is a default one, for Enter to press from anywhere.
    for (const QPushButton *button : dialog.findChildren<QPushButton *>())
        QVERIFY2(!button->autoDefault() && !button->isDefault(), qPrintable(button->text()));
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
    // Only the log grows with the window; the table holds every row as it is.
    QCOMPARE(main->stretch(0) + main->stretch(2) + main->stretch(3), 0);
    QCOMPARE(main->stretch(1), 1);
}

void TestDialog::englishTexts_data()
{
    QTest::addColumn<QString>("which");
    QTest::addColumn<QString>("text");

    QTest::newRow("file label") << "fileLabel"
                                << "updating file:";
    QTest::newRow("port label keeps its seven spaces") << "portLabel"
                                                       << "       port:";
    QTest::newRow("select button") << "selectButton"
                                   << "select";
    QTest::newRow("update button") << "updateButton"
                                   << "updating";
    QTest::newRow("header name") << "header0"
                                 << "fileName";
    QTest::newRow("header size") << "header1"
                                 << "fileSize";
    QTest::newRow("header keeps its own spelling") << "header2"
                                                   << "opration";
    QTest::newRow("header progress") << "header3"
                                     << "progress";
    QTest::newRow("first language item") << "language0"
                                         << "English";
    QTest::newRow("second language item") << "language1"
                                          << "Chinese";
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
        << "pack_5-10k.zip" << QStringList {"dsp.out", "readme.txt", "arm.bin", "Inv_power33.out"}
        << QStringList {"arm.bin", "dsp.out"} << QStringList {"3.00KB", "1.00KB"} << 0;
    QTest::newRow("model 1 lists its three images")
        << "pack_15-20k.zip" << QStringList {"Rec_power33.out", "arm.bin", "2U_20K_MONITOR.bin", "Inv_power33.out"}
        << QStringList {"2U_20K_MONITOR.bin", "Inv_power33.out", "Rec_power33.out"}
        << QStringList {"3.00KB", "4.00KB", "1.00KB"} << 1;
    QTest::newRow("a name that only holds an image name is no image")
        << "more_5-10k.zip" << QStringList {"arm.bin", "dsp.out.bak"} << QStringList {"arm.bin"}
        << QStringList {"1.00KB"} << 0;
    QTest::newRow("a folder name holding an image name makes no image")
        << "dsp.out_5-10k.zip" << QStringList {"arm.bin", "notes.bin"} << QStringList {"arm.bin"}
        << QStringList {"1.00KB"} << 0;
    QTest::newRow("package without images lists nothing")
        << "empty_5-10k.zip" << QStringList {"notes.txt"} << QStringList {} << QStringList {} << 0;
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
    QTest::addColumn<QString>("field"); // what the path field holds when the chooser opens
    QTest::addColumn<QString>("start"); // "desktop", "field" or "package folder"
    QTest::addColumn<QString>("selected");

    QTest::newRow("empty field starts on the desktop") << ""
                                                       << "desktop"
                                                       << "";
    QTest::newRow("remembered folder starts there") << "folder"
                                                    << "field"
                                                    << "";
    QTest::newRow("first start, a package chosen: its folder, the package offered") << "package"
                                                                                    << "package folder"
                                                                                    << "pick_5-10k.zip";
}

void TestDialog::fileDialogStartsAtRememberedPlace()
{
    QFETCH(QString, field);
    QFETCH(QString, start);
    QFETCH(QString, selected);
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("remembered"));
    QVERIFY(QDir().mkpath(folder));
    if (field == QLatin1String("folder")) {
        QSettings settings(kSettingsFile, QSettings::IniFormat);
        settings.setValue(QStringLiteral("filePath"), folder);
    }
    Dialog dialog;
    DialogTestAccess access(dialog);
    modalAnswerer answerer;
    if (field == QLatin1String("package")) {
        const QString zipPath = makePackageIn(folder, QStringLiteral("pick_5-10k.zip"), {"arm.bin"});
        answerer.setFileAnswer(zipPath);
        answerer.start();
        access.selectFiles();
        answerer.stop();
        QCOMPARE(access.path()->text(), zipPath);
        answerer.setFileAnswer(QString());
    }
    const QString before = access.path()->text();
    const int rows = access.model()->rowCount();
    answerer.start();
    access.selectFiles();
    answerer.stop();

    QCOMPARE(answerer.fileDialogs().size(), field == QLatin1String("package") ? 2 : 1);
    const modalAnswerer::FileDialogSeen seen = answerer.fileDialogs().last();
    QCOMPARE(seen.title, QStringLiteral("select zip file"));
    QCOMPARE(seen.nameFilters, QStringList {QStringLiteral("Firmware Files(*.zip)")});
    const QStringList desktops = QStandardPaths::standardLocations(QStandardPaths::DesktopLocation);
    const QString expected =
        start == QLatin1String("desktop") ? (desktops.isEmpty() ? QDir::homePath() : desktops.first()) : folder;
    QCOMPARE(QDir(seen.directory).canonicalPath(), QDir(expected).canonicalPath());
    QStringList offered; // with nothing offered, a dialog names its folder
    for (const QString &path : seen.selected) {
        if (!QFileInfo(path).isDir())
            offered << QFileInfo(path).fileName();
    }
    QCOMPARE(offered, selected.isEmpty() ? QStringList() : QStringList {selected});
    QCOMPARE(access.path()->text(), before);
    QCOMPARE(access.model()->rowCount(), rows);
}

void TestDialog::checkBoxesEditCheckedList_data()
{
    QTest::addColumn<QList<int>>("toggles"); // row to flip, in order
    QTest::addColumn<QStringList>("checked");

    QTest::newRow("untick removes that image") << QList<int> {0} << QStringList {"1:dsp.out"};
    QTest::newRow("tick again appends it with its row") << QList<int> {0, 0} << QStringList {"1:dsp.out", "0:arm.bin"};
    QTest::newRow("untick all empties the list") << QList<int> {1, 0} << QStringList {};
    QTest::newRow("order follows the clicks") << QList<int> {1, 0, 1, 0} << QStringList {"1:dsp.out", "0:arm.bin"};
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
    QCOMPARE(access.checkedNames(), (QStringList {"0:arm.bin", "1:dsp.out"}));
    for (int row : toggles) {
        QVERIFY(access.checkBox(row));
        access.checkBox(row)->click();
    }
    QCOMPARE(access.checkedNames(), checked);
}

void TestDialog::personsChoiceKept_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("choosers"); // file dialogs that opened
    QTest::addColumn<QStringList>("ticked");
    QTest::addColumn<QStringList>("bars");

    const QStringList kept {"0:arm.bin"};
    const QStringList keptBars {"0%", "70%"};
    const QStringList all {"0:arm.bin", "1:dsp.out"};
    const QStringList fresh {"0%", "0%"};
    QTest::newRow("Enter in the port box presses no button") << "enter port" << 0 << kept << keptBars;
    QTest::newRow("Enter in the path field presses no button") << "enter path" << 0 << kept << keptBars;
    QTest::newRow("cancelled chooser lists nothing again") << "cancel" << 1 << kept << keptBars;
    QTest::newRow("language switch lists again, rows as they were") << "language" << 0 << kept << keptBars;
    QTest::newRow("another package: every image ticked") << "other" << 1 << all << fresh;
    QTest::newRow("the same package chosen again: listed afresh") << "same" << 1 << all << fresh;
}

// What the person ticked stays ticked until they choose a package.
void TestDialog::personsChoiceKept()
{
    QFETCH(QString, action);
    QFETCH(int, choosers);
    QFETCH(QStringList, ticked);
    QFETCH(QStringList, bars);

    QTemporaryDir dir;
    const QString zipPath = makePackageIn(dir.path(), QStringLiteral("keep_5-10k.zip"), {"arm.bin", "dsp.out"});
    const QString otherPath = makePackageIn(dir.path(), QStringLiteral("other_5-10k.zip"), {"arm.bin", "dsp.out"});
    QVERIFY(!zipPath.isEmpty() && !otherPath.isEmpty());
    Dialog dialog;
    DialogTestAccess access(dialog);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    access.ports()->setEditText(kNoSuchPort);
    access.path()->setText(zipPath);
    access.fillTable();
    access.checkBox(1)->click();
    access.setProgressBar(1, 70, 100);
    {
        QSettings settings(kSettingsFile, QSettings::IniFormat);
        settings.setValue(QStringLiteral("filePath"), QStringLiteral("marker"));
    }

    modalAnswerer answerer; // without a file set, a chooser is cancelled
    answerer.setFileAnswer(action == QLatin1String("other")      ? otherPath
                               : action == QLatin1String("same") ? zipPath
                                                                 : QString());
    answerer.start();
    if (action == QLatin1String("enter port"))
        QTest::keyClick(access.ports(), Qt::Key_Return);
    else if (action == QLatin1String("enter path"))
        QTest::keyClick(access.path(), Qt::Key_Return);
    else if (action == QLatin1String("language"))
        access.languages()->setCurrentIndex(1);
    else
        access.selectFiles();
    answerer.stop();

    QCOMPARE(answerer.fileDialogs().size(), choosers);
    QVERIFY(!access.running());
    QCOMPARE(access.checkedNames(), ticked);
    QCOMPARE(access.checkBox(1)->isChecked(), ticked.size() == 2);
    QCOMPARE(access.barTexts(), bars);
    QCOMPARE(access.ports()->currentText(), kNoSuchPort);
    if (choosers == 0 || action == QLatin1String("cancel")) {
        QCOMPARE(access.path()->text(), zipPath);
        QCOMPARE(readIni(QStringLiteral("filePath")), QStringLiteral("marker"));
    }
}

void TestDialog::tabLeavesTable()
{
    QTemporaryDir dir;
    const QString zipPath = makePackageIn(dir.path(), QStringLiteral("tab_5-10k.zip"), {"arm.bin", "dsp.out"});
    Dialog dialog;
    DialogTestAccess access(dialog);
    access.path()->setText(zipPath);
    access.fillTable();
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    access.view()->setFocus();
    QVERIFY(access.view()->hasFocus());
    QTest::keyClick(access.view(), Qt::Key_Tab);
    const QWidget *focus = QApplication::focusWidget();
    QVERIFY(focus);
    QVERIFY2(focus != access.view() && !access.view()->isAncestorOf(focus), focus->metaObject()->className());
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
        << "go_5-10k.zip" << QStringList {"arm.bin", "dsp.out"} << QList<int> {} << QString() << 0 << "arm.bin" << 0
        << "no port";
    QTest::newRow("model 0, unticked image is not sent")
        << "go_5-10k.zip" << QStringList {"arm.bin", "dsp.out"} << QList<int> {0} << "/nonexistent/ttyUPS" << 0
        << "dsp.bin" << 1 << "opening failed! /nonexistent/ttyUPS: No such file or directory";
    QTest::newRow("model 1 goes to the second engine")
        << "go_15-20k.zip" << QStringList {"Rec_power33.out", "2U_20K_MONITOR.bin"} << QList<int> {}
        << "/nonexistent/ttyUPS" << 1 << "2U_20K_MONITOR.bin" << 0 << QString();
    QTest::newRow("nothing ticked sends nothing") << "go_5-10k.zip" << QStringList {"arm.bin"} << QList<int> {0}
                                                  << QString() << -1 << QString() << -1 << QString();
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
    QTest::newRow("English") << "English"
                             << "/some/dir" << 0 << "English" << false << QString();
    QTest::newRow("Chinese installs the translation") << "Chinese"
                                                      << "/some/dir" << 1 << "Chinese" << true << QString();
    QTest::newRow("unknown value counts as English, kept")
        << "Klingon" << QString() << 0 << "Klingon" << false << QString();
    QTest::newRow("remembered port back in the box")
        << "English"
        << "/some/dir" << 0 << "English" << false << "/dev/pts/no-such-ups-line";
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
    if (!storedPort.isEmpty())
        QCOMPARE(access.ports()->currentText(), storedPort);
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
    const QStringList sources {"fileLabel", "portLabel", "selectButton", "updateButton",
                               "header0",   "header1",   "header2",      "header3"};
    const QStringList english {"updating file:", "       port:", "select",   "updating",
                               "fileName",       "fileSize",     "opration", "progress"};
    for (int i = 0; i < sources.size(); ++i) {
        const QString chinese = translated("Dialog", english.at(i).toLatin1().constData());
        QVERIFY2(!chinese.isEmpty() && chinese != english.at(i), qPrintable(english.at(i)));
        QCOMPARE(access.text(sources.at(i)), chinese);
    }
    QCOMPARE(access.text(QStringLiteral("language0")), QStringLiteral("English"));
    QCOMPARE(access.text(QStringLiteral("language1")), QStringLiteral("Chinese"));
    QCOMPARE(readIni(QStringLiteral("language")), QStringLiteral("Chinese"));
    QCOMPARE(access.checkedNames(), QStringList {"0:arm.bin"}); // listed again, the tick kept

    access.languages()->setCurrentIndex(0);
    for (int i = 0; i < sources.size(); ++i)
        QCOMPARE(access.text(sources.at(i)), english.at(i));
    QCOMPARE(readIni(QStringLiteral("language")), QStringLiteral("English"));
    QCOMPARE(access.names(), (QStringList {"arm.bin", "dsp.out"}));
}

void TestDialog::lockDuringRun_data()
{
    QTest::addColumn<int>("board"); // simulated unit at the far end; -1: none
    QTest::addColumn<QStringList>("members");
    QTest::addColumn<bool>("outlivesPress");

    QTest::newRow("run completes") << 0 << QStringList {"arm.bin", "dsp.out:object"} << true;
    QTest::newRow("port cannot be opened: the run ends inside the press") << -1 << QStringList {"arm.bin"} << false;
    QTest::newRow("second board refuses the image") << 1 << QStringList {"2U_20K_MONITOR.bin"} << false;
}

// The lock holds while a run goes on and is gone at every end; the port the
// run used is remembered.
void TestDialog::lockDuringRun()
{
    QFETCH(int, board);
    QFETCH(QStringList, members);
    QFETCH(bool, outlivesPress);

    std::unique_ptr<farUnit> unit;
    if (board >= 0) {
        unit = std::make_unique<farUnit>(board);
        QVERIFY(unit->open(QString()));
    }
    const QString zipPath = makePackage(board == 1 ? "lock_15-20k.zip" : "lock_5-10k.zip", members);
    QVERIFY(!zipPath.isEmpty());
    Dialog dialog;
    DialogTestAccess access(dialog);
    const QString port = unit ? unit->port() : kNoSuchPort;
    access.ports()->setEditText(port);
    access.path()->setText(zipPath);
    access.fillTable();
    QCOMPARE(access.model()->rowCount(), members.size());
    QCOMPARE(access.disabledControls(), access.freeControls());
    QSignalSpy ended(&access.updater(), &filesUpdate::runEnded);

    modalAnswerer answerer; // the warning of a port that cannot be opened
    answerer.start(kRunMs);
    access.updateButton()->click();
    QCOMPARE(access.running(), outlivesPress);
    QCOMPARE(access.disabledControls(), outlivesPress ? access.lockedControls() : access.freeControls());
    QVERIFY(waitUntil([&] { return !ended.isEmpty(); }, kRunMs));
    answerer.stop();
    QCOMPARE(ended.first().at(0).toBool(), outlivesPress);
    QVERIFY(!access.running());
    QCOMPARE(access.disabledControls(), access.freeControls());
    QCOMPARE(readIni(QStringLiteral("port")), port);
}

void TestDialog::questionDuringRun_data()
{
    QTest::addColumn<int>("board"); // unit at the far end
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("stops");

    QTest::newRow("close, no: window and run go on") << 0 << "close"
                                                     << "no" << false;
    QTest::newRow("escape, yes: run stopped, window closed") << 1 << "escape"
                                                             << "yes" << true;
    QTest::newRow("update, no: the job goes on, not restarted") << 1 << "update"
                                                                << "no" << false;
    QTest::newRow("update, yes: line silent, nothing left queued") << 0 << "update"
                                                                   << "yes" << true;
    // The first engine waits before its target preamble in a nested event
    // loop; a stop answered there must hold when that wait ends.
    QTest::newRow("update in the target pause, yes: no target preamble") << 0 << "pause"
                                                                         << "yes" << true;
}

void TestDialog::questionDuringRun()
{
    QFETCH(int, board);
    QFETCH(QString, action);
    QFETCH(QString, answer);
    QFETCH(bool, stops);

    // Each board kept in a step it repeats, shake hands or start commands,
    // unless the press comes in the pause. The first board's package holds a
    // second image that stays queued.
    const bool pause = action == QLatin1String("pause");
    farUnit unit(board);
    QVERIFY(unit.open(pause ? QString() : board == 0 ? "silence:shakehand" : "silence:start"));
    const QString zipPath = board == 0 ? makePackage(QStringLiteral("ask_5-10k.zip"), {"arm.bin", "dsp.out:object"})
                                       : makePackage(QStringLiteral("ask_15-20k.zip"), {"2U_20K_MONITOR.bin:signed"});
    QVERIFY(!zipPath.isEmpty());
    Dialog dialog;
    DialogTestAccess access(dialog);
    dialog.show();
    QSignalSpy jobs(&access.updater(), &filesUpdate::sendParm);
    QSignalSpy jobs1(&access.updater(), &filesUpdate::sendParm1);
    access.ports()->setEditText(unit.port());
    access.path()->setText(zipPath);
    access.fillTable();

    modalAnswerer answerer;
    answerer.setButtonText(answer);
    bool inPause = false;
    bool scheduled = false;
    const auto act = [&] {
        inPause = access.engine().frame().step == progress::StepPreambleTarget && !access.engine().isBusy();
        answerer.start();
        if (action == QLatin1String("escape"))
            QTest::keyClick(&dialog, Qt::Key_Escape);
        else if (action == QLatin1String("close"))
            dialog.close();
        else
            access.updateButton()->click();
        answerer.stop();
    };
    // In the pause: a third of it after the confirm reply left the unit.
    QObject::connect(unit.line(), &ptyLine::sent, &dialog, [&](const QByteArray &) {
        if (!pause || scheduled || unit.preambles() != 2)
            return;
        scheduled = true;
        QTimer::singleShot(common::scaledMs(progress::kTargetDelayMs) / 3, &dialog, act);
    });
    access.updateButton()->click();
    QVERIFY(access.running());
    QVERIFY(waitUntil([&] { return pause ? !access.running() : unit.commands() >= 2; }, kRunMs));
    const int commandsBefore = unit.commands();
    const int preamblesBefore = unit.preambles();
    if (!pause)
        act();
    else if (!inPause)
        QSKIP("the press came after the pause on this machine");

    QCOMPARE(answerer.boxes().size(), 1);
    const modalAnswerer::Box box = answerer.boxes().first();
    QVERIFY(box.text.contains(action == QLatin1String("close") || action == QLatin1String("escape")
                                  ? "Close the program now?"
                                  : "Stop it now?"));
    QCOMPARE(box.buttons, (QStringList {"yes", "no"}));
    QCOMPARE(box.defaultButton, QStringLiteral("no"));
    QCOMPARE(dialog.isVisible(), !(stops && action == QLatin1String("escape")));
    QCOMPARE(access.running(), !stops);
    QCOMPARE(jobs.count() + jobs1.count(), 1);

    if (!stops) {
        // The same job goes on: more of its waiting step, no new start.
        QCOMPARE(access.disabledControls(), access.lockedControls());
        QVERIFY(waitUntil([&] { return unit.commands() > commandsBefore; }, kRunMs));
        QCOMPARE(unit.preambles(), preamblesBefore);
        QCOMPARE(jobs.count() + jobs1.count(), 1);
        return;
    }
    QCOMPARE(access.disabledControls(), access.freeControls());
    QVERIFY(!access.engine().isBusy() && !access.engine1().isBusy());
    QVERIFY(unit.staysQuiet());
    QVERIFY(!access.serial().isOpen());
    const QStringList lines = access.logLines();
    QCOMPARE(lines.at(lines.size() - 2), QStringLiteral("update stopped!"));
    QVERIFY2(lines.last().startsWith(QStringLiteral("update result: ")), qPrintable(lines.last()));
    QVERIFY(!pause || (unit.preambles() == 2 && unit.commands() == 0)); // no target preamble
    if (action == QLatin1String("escape"))
        return;
    // What the stopped run had queued is gone: with nothing ticked, nothing goes.
    for (int row = 0; row < access.model()->rowCount(); ++row)
        access.checkBox(row)->click();
    access.updateButton()->click();
    QCOMPARE(access.logLines().filter(QStringLiteral("no file updating!")).size(), 1);
    QVERIFY(access.logLines().last().contains(QStringLiteral(" not ticked")));
    QCOMPARE(jobs.count() + jobs1.count(), 1);
}

// Opening the list reads the system's ports again: a port that went away is
// dropped, a typed name stays.
void TestDialog::portListReadAgainOnOpening()
{
    Dialog dialog;
    DialogTestAccess access(dialog);
    QComboBox *box = access.ports();
    const auto listed = [box] {
        box->showPopup();
        box->hidePopup();
        QStringList items;
        for (int i = 0; i < box->count(); ++i)
            items << box->itemText(i);
        return items;
    };
    box->addItem(QStringLiteral("ttyGONE"));
    box->setCurrentIndex(box->count() - 1);
    QCOMPARE(listed(), systemPorts());
    QCOMPARE(box->currentText(), systemPorts().value(0));

    const QString typed = QStringLiteral("/dev/pts/no-such-ups-line"); // only text: never opened
    box->lineEdit()->clear();
    QTest::keyClicks(box->lineEdit(), typed);
    QCOMPARE(listed(), systemPorts());
    QCOMPARE(box->currentText(), typed);
}

void TestDialog::oneEngineOnTheLine_data()
{
    QTest::addColumn<int>("firstModel");
    QTest::newRow("first-board job stops the second engine") << 1;
    QTest::newRow("second-board job stops the first engine") << 0;
}

// A job of one model is going on a line that never answers it; a job of the
// other model takes the line and the engine of the first one is stopped.
void TestDialog::oneEngineOnTheLine()
{
    QFETCH(int, firstModel);
    farUnit unit(0);
    QVERIFY(unit.open(QStringLiteral("silence:shakehand")));
    const QString packages[] = {makePackage(QStringLiteral("line_5-10k.zip"), {"arm.bin"}),
                                makePackage(QStringLiteral("line_15-20k.zip"), {"2U_20K_MONITOR.bin:signed"})};
    QVERIFY(!packages[0].isEmpty() && !packages[1].isEmpty());
    Dialog dialog;
    DialogTestAccess access(dialog);
    const auto busy = [&](int model) { return model == 0 ? access.engine().isBusy() : access.engine1().isBusy(); };
    const auto startJob = [&](int model) {
        access.path()->setText(packages[model]);
        access.fillTable();
        access.updater().start(model, access.package().checkedFiles(), unit.port());
    };
    startJob(firstModel);
    QVERIFY(waitUntil([&] { return unit.received > 0 && busy(firstModel); }, kRunMs));

    startJob(1 - firstModel);
    QVERIFY(!busy(firstModel));
    QVERIFY(busy(1 - firstModel));
}

// A package moved away after listing leaves nothing to tick or send.
// Where the path field names something that is not a readable package (the
// folder remembered at start-up, a package moved away), or the extraction
// folder holds files of the user's, a fill lists nothing of theirs and leaves
// every byte as it was.
void TestDialog::userFilesUntouched_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<bool>("cancelChooser"); // otherwise a language switch fills
    QTest::addColumn<QStringList>("listed");

    QTest::newRow("remembered folder, language switch") << "folder" << false << QStringList();
    QTest::newRow("remembered folder, cancelled chooser") << "folder" << true << QStringList();
    QTest::newRow("user files in the extraction folder") << "beside" << false << QStringList {"dsp.out"};
    QTest::newRow("package moved away, language switch") << "moved" << false << QStringList();
}

void TestDialog::userFilesUntouched()
{
    QFETCH(QString, situation);
    QFETCH(bool, cancelChooser);
    QFETCH(QStringList, listed);

    const QString zipPath = makePackage(QStringLiteral("own_5-10k.zip"), {"dsp.out"});
    const QString folder = zipPath.left(zipPath.size() - 4);
    QVERIFY(QDir().mkpath(folder));
    const QByteArray image = packageWriter::withTrailer(payloadOf('u', 2));
    for (const QString &name : {QStringLiteral("arm.bin"), QStringLiteral("notes.txt")})
        QVERIFY(testFiles::write(folder + QLatin1Char('/') + name, image));
    Dialog dialog;
    DialogTestAccess access(dialog);
    access.path()->setText(situation == QLatin1String("folder") ? folder : zipPath);
    if (situation == QLatin1String("moved")) {
        access.fillTable();
        QVERIFY(QFile::rename(zipPath, workDir.filePath(QStringLiteral("away.zip"))));
    }
    const QMap<QString, QByteArray> before = filesIn(folder);
    if (cancelChooser) {
        modalAnswerer answerer;
        answerer.start();
        access.selectFiles();
        answerer.stop();
    } else {
        access.languages()->setCurrentIndex(1);
    }
    QCOMPARE(access.names(), listed);
    QCOMPARE(access.package().checkedFiles().size(), listed.size());
    const QMap<QString, QByteArray> after = filesIn(folder);
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        QCOMPARE(after.value(it.key()), it.value());
    QVERIFY(!access.logLines().join('\n').contains(QStringLiteral("refused")));
}

void TestDialog::unsendableImageBlocksUpdate_data()
{
    QTest::addColumn<QString>("packageName");
    QTest::addColumn<QStringList>("members");
    QTest::addColumn<QList<int>>("badRows");
    QTest::addColumn<QString>("goodImage");

    QTest::newRow("digest mismatch") << "bad_5-10k.zip" << QStringList {"arm.bin", "dsp.out:wrong"} << QList<int> {1}
                                     << "arm.bin";
    QTest::newRow("ambiguous duplicate, second board")
        << "bad_15-20k.zip" << QStringList {"2U_20K_MONITOR.bin:signed", "Inv_power33.out", "new_Inv_power33.out"}
        << QList<int> {1, 2} << "2U_20K_MONITOR.bin";
}

// Ticked images that cannot be sent hold back the whole press; unticked, the
// others go.
void TestDialog::unsendableImageBlocksUpdate()
{
    QFETCH(QString, packageName);
    QFETCH(QStringList, members);
    QFETCH(QList<int>, badRows);
    QFETCH(QString, goodImage);

    const QString zipPath = makePackage(packageName, members);
    QVERIFY(!zipPath.isEmpty());
    Dialog dialog;
    DialogTestAccess access(dialog);
    access.ports()->setEditText(kNoSuchPort);
    access.path()->setText(zipPath);
    access.fillTable();
    QCOMPARE(access.model()->rowCount(), members.size());
    const auto problems = [&] { return access.logLines().filter(QStringLiteral(" cannot be sent: ")).size(); };
    QCOMPARE(problems(), badRows.size()); // one line per image at listing

    QSignalSpy jobs(&access.updater(), &filesUpdate::sendParm);
    QSignalSpy jobs1(&access.updater(), &filesUpdate::sendParm1);
    modalAnswerer answerer; // the warning of a port that cannot be opened
    answerer.start();
    access.updateButton()->click();
    QCOMPARE(jobs.count() + jobs1.count(), 0);
    QCOMPARE(problems(), 2 * badRows.size()); // and again at the press
    QCOMPARE(access.logLines().last(), QStringLiteral("nothing was sent!"));
    QVERIFY(!access.running());

    for (int row : badRows)
        access.checkBox(row)->click();
    access.updateButton()->click();
    answerer.stop();
    QCOMPARE(jobs.count() + jobs1.count(), 1);
    const updateParm job = (jobs.isEmpty() ? jobs1 : jobs).first().at(0).value<updateParm>();
    QCOMPARE(QFileInfo(job.imagePath).fileName(), goodImage);
}

void TestDialog::runEndsReadAtAGlance_data()
{
    QTest::addColumn<int>("board"); // unit at the far end; -1: none
    QTest::addColumn<QStringList>("members");
    QTest::addColumn<QList<int>>("untick");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("stopIt");
    QTest::addColumn<QStringList>("bars");
    QTest::addColumn<QString>("summary");

    const QStringList pair {"arm.bin", "dsp.out:object"};
    QTest::newRow("success: a bar left from the last run says not sent")
        << 0 << pair << QList<int> {1} << "" << false << QStringList {"100%", "not sent"}
        << "update result: arm.bin done; dsp.out not ticked";
    QTest::newRow("unit refuses: failed in red, the rest waits at zero")
        << 0 << pair << QList<int> {} << "silence:verify" << false << QStringList {"failed", "0%"}
        << "update result: arm.bin failed (verifying: the unit did not take the image, check that the package is "
           "for this unit); dsp.out not sent";
    QTest::newRow("port cannot be opened")
        << -1 << QStringList {"arm.bin"} << QList<int> {} << "" << false << QStringList {"failed"}
        << "update result: arm.bin failed (opening the port: check the port name "
           "and that no other program uses it)";
    QTest::newRow("object file that cannot be translated")
        << -1 << QStringList {"arm.bin", "dsp.out"} << QList<int> {} << "" << false << QStringList {"0%", "failed"}
        << "update result: arm.bin not sent; dsp.out failed (translating the object file: check the package)";
    QTest::newRow("second board refuses the image")
        << 1 << QStringList {"2U_20K_MONITOR.bin"} << QList<int> {} << "" << false << QStringList {"failed"}
        << "update result: 2U_20K_MONITOR.bin failed (checking the image: the board does not take it, check that the "
           "package is for this model)";
    QTest::newRow("stopped by the person: cut short, not failed")
        << 0 << pair << QList<int> {} << "silence:shakehand" << true << QStringList {"0%", "0%"}
        << "update result: arm.bin stopped part way; dsp.out not sent";
}

// Every bar is reset at the start; at the end each row and one summary line
// say what became of each image.
void TestDialog::runEndsReadAtAGlance()
{
    QFETCH(int, board);
    QFETCH(QStringList, members);
    QFETCH(QList<int>, untick);
    QFETCH(QString, fault);
    QFETCH(bool, stopIt);
    QFETCH(QStringList, bars);
    QFETCH(QString, summary);

    std::unique_ptr<farUnit> unit;
    if (board >= 0) {
        unit = std::make_unique<farUnit>(board);
        QVERIFY(unit->open(fault));
    }
    QTemporaryDir dir;
    const QString zipPath = makePackageIn(dir.path(), board == 1 ? "end_15-20k.zip" : "end_5-10k.zip", members);
    QVERIFY(!zipPath.isEmpty());
    Dialog dialog;
    DialogTestAccess access(dialog);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    access.ports()->setEditText(unit ? unit->port() : kNoSuchPort);
    access.path()->setText(zipPath);
    access.fillTable();
    for (int row : untick)
        access.checkBox(row)->click();
    for (int row = 0; row < members.size(); ++row)
        access.setProgressBar(row, 100, 100); // as the last run left them

    modalAnswerer answerer; // the warning of a port that cannot be opened, the stop question
    answerer.setButtonText(stopIt ? QStringLiteral("yes") : QString());
    answerer.start(kRunMs);
    access.updateButton()->click();
    if (stopIt) {
        QVERIFY(waitUntil([&] { return unit->commands() >= 2; }, kRunMs));
        QCOMPARE(access.updateButton()->text(), QStringLiteral("stop"));
        access.updateButton()->click();
    }
    QVERIFY(waitUntil([&] { return !access.running(); }, kRunMs));
    answerer.stop();

    QCOMPARE(access.barTexts(), bars);
    for (int row = 0; row < bars.size(); ++row)
        QCOMPARE(looksRed(access.progressBar(row)), bars.at(row) == QLatin1String("failed"));
    const QStringList lines = access.logLines();
    QCOMPARE(lines.filter(QStringLiteral("update result: ")).size(), 1);
    QCOMPARE(lines.last(), summary);
    if (stopIt)
        QCOMPARE(lines.at(lines.size() - 2), QStringLiteral("update stopped!"));
    QCOMPARE(access.updateButton()->text(), QStringLiteral("updating"));
}

void TestDialog::questionClosesWhenRunEnds_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("summary");

    QTest::newRow("stop question, the run completes") << "update"
                                                      << ""
                                                      << "update result: arm.bin done; dsp.out done";
    QTest::newRow("close question, the run fails") << "escape"
                                                   << "silence:verify"
                                                   << "update result: arm.bin failed (verifying: the unit did not "
                                                      "take the image, check that the package is for this unit); "
                                                      "dsp.out not sent";
}

// A question about a run that ends first goes away by itself and decides
// nothing: the window stays, nothing is stopped twice.
void TestDialog::questionClosesWhenRunEnds()
{
    QFETCH(QString, action);
    QFETCH(QString, fault);
    QFETCH(QString, summary);

    farUnit unit(0);
    QVERIFY(unit.open(fault));
    QTemporaryDir dir;
    const QString zipPath = makePackageIn(dir.path(), QStringLiteral("asked_5-10k.zip"), {"arm.bin", "dsp.out:object"});
    QVERIFY(!zipPath.isEmpty());
    Dialog dialog;
    DialogTestAccess access(dialog);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    access.ports()->setEditText(unit.port());
    access.path()->setText(zipPath);
    access.fillTable();
    access.updateButton()->click();
    QVERIFY(waitUntil([&] { return unit.commands() >= 1; }, kRunMs));
    QVERIFY(access.running());

    modalAnswerer watcher;
    watcher.setWatchOnly(true);
    watcher.start(kRunMs);
    if (action == QLatin1String("escape"))
        QTest::keyClick(&dialog, Qt::Key_Escape);
    else
        access.updateButton()->click();
    watcher.stop();

    QCOMPARE(watcher.boxes().size(), 1);
    QVERIFY(!watcher.gaveUp());
    QVERIFY(!access.running());
    QVERIFY(dialog.isVisible());
    QCOMPARE(access.disabledControls(), access.freeControls());
    QCOMPARE(access.logLines().last(), summary);
    QVERIFY(access.logLines().filter(QStringLiteral("update stopped!")).isEmpty());
}

void TestDialog::saveLog_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("saved");

    QTest::newRow("a new file") << "new" << true;
    QTest::newRow("an older log replaced whole") << "older" << true;
    QTest::newRow("a folder in the way: said in the log") << "folder" << false;
}

// The log pane's menu writes what the pane shows into a file of the
// person's choice.
void TestDialog::saveLog()
{
    QFETCH(QString, target);
    QFETCH(bool, saved);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("session.txt"));
    const QByteArray older = QByteArray("an older, longer log\n").repeated(100);
    if (target == QLatin1String("older"))
        QVERIFY(testFiles::write(path, older));
    if (target == QLatin1String("folder"))
        QVERIFY(QDir().mkpath(path));
    Dialog dialog;
    DialogTestAccess access(dialog);
    access.showInfo(QStringLiteral("first line"));
    access.showInfo(QStringLiteral("升级包：second line"));

    if (saved) {
        const std::unique_ptr<QMenu> menu = access.logMenu();
        QAction *save = nullptr;
        for (QAction *action : menu->actions())
            save = action->text() == QStringLiteral("Save log…") ? action : save;
        QVERIFY(save);
        modalAnswerer answerer;
        answerer.setFileAnswer(path);
        answerer.start();
        save->trigger();
        answerer.stop();
        QCOMPARE(answerer.fileDialogs().size(), 1);
    } else {
        QVERIFY(!access.writeLog(path));
    }

    const QString last = access.logLines().last();
    if (!saved) {
        QVERIFY2(last.startsWith(QStringLiteral("the log could not be saved to ") + path), qPrintable(last));
        QVERIFY(QFileInfo(path).isDir());
        return;
    }
    QCOMPARE(last, QStringLiteral("log saved to ") + path);
    QCOMPARE(QString::fromUtf8(testFiles::read(path)), QStringLiteral("first line\n升级包：second line\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList {"session.txt"});
}

// At the size the window opens with, a model-1 package's three rows show
// without scrolling, and the port box reads the distinctive end of a long
// device path.
void TestDialog::defaultSizeShowsRowsAndPort()
{
    QTemporaryDir dir;
    const QString zipPath = makePackageIn(dir.path(), QStringLiteral("rows_15-20k.zip"),
                                          {"2U_20K_MONITOR.bin", "Inv_power33.out", "Rec_power33.out"});
    Dialog dialog;
    DialogTestAccess access(dialog);
    access.path()->setText(zipPath);
    access.fillTable();
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(access.model()->rowCount(), 3);
    QTableView *view = access.view();
    QVERIFY(!view->verticalScrollBar()->isVisible());
    QVERIFY(!view->horizontalScrollBar()->isVisible());
    QVERIFY2(view->rowViewportPosition(2) + view->rowHeight(2) <= view->viewport()->height(),
             qPrintable(QString::number(view->viewport()->height())));

    const QString port = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10KXYZ1-if00-port0");
    access.ports()->setEditText(port);
    QLineEdit *edit = access.ports()->lineEdit();
    QCOMPARE(edit->cursorPosition(), port.size());                             // the end is what shows
    const QString end = QStringLiteral("FT232R_USB_UART_A10KXYZ1-if00-port0"); // adapter and serial number
    QVERIFY2(edit->fontMetrics().horizontalAdvance(end) < edit->width(), qPrintable(QString::number(edit->width())));
    QCOMPARE(access.ports()->toolTip(), port);
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
    QVERIFY(QFile::rename(makePackage(QStringLiteral("ups_5-10k.zip"), {"arm.bin", "dsp.out"}, true), zipPath));
    const struct
    {
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
            // The end of a real run: the first image sent, the second refused.
            farUnit unit(0);
            QVERIFY(unit.open(QStringLiteral("silence:verify@2")));
            access.ports()->setEditText(unit.port());
            access.updateButton()->click();
            QVERIFY(waitUntil([&] { return !access.running(); }, kRunMs));
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
