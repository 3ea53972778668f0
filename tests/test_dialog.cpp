// The main window on the offscreen platform: layout and fixed settings,
// progress cells, the log, package selection and the table, the check boxes,
// the hand-over to the queue, settings across lifetimes and the language.
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTranslator>
#include <QVBoxLayout>
#include <QtTest>

#include <limits>
#include <memory>

#include "app/dialog.h"
#include "tests/support/modalanswerer.h"
#include "tools/support/coffwriter.h"
#include "tools/support/packagewriter.h"

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
} // namespace

class TestDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

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
    void screenshots();

private:
    QString makePackage(const QString &name, const QStringList &images, bool realObjects = false);

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
    QTest::newRow("names match by containment")
        << "more_5-10k.zip" << QStringList{"arm.bin", "dsp.out.bak"} << QStringList{"arm.bin", "dsp.out.bak"}
        << QStringList{"1.00KB", "2.00KB"} << 0;
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

    QTest::newRow("first start writes English") << "-" << QString() << 0 << "English" << false;
    QTest::newRow("English") << "English" << "/some/dir" << 0 << "English" << false;
    QTest::newRow("Chinese installs the translation") << "Chinese" << "/some/dir" << 1 << "Chinese" << true;
    QTest::newRow("unknown value counts as English, kept") << "Klingon" << QString() << 0 << "Klingon" << false;
}

void TestDialog::settingsRestoredAtStart()
{
    QFETCH(QString, storedLanguage);
    QFETCH(QString, storedPath);
    QFETCH(int, index);
    QFETCH(QString, languageAfter);
    QFETCH(bool, chineseTexts);
    {
        QSettings settings(kSettingsFile, QSettings::IniFormat);
        if (storedLanguage != QLatin1String("-"))
            settings.setValue(QStringLiteral("language"), storedLanguage);
        if (!storedPath.isEmpty())
            settings.setValue(QStringLiteral("filePath"), storedPath);
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
