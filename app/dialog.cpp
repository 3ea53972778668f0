#include "app/dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QSerialPortInfo>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QTableView>
#include <QTextBrowser>
#include <QTranslator>
#include <QUrl>
#include <QVBoxLayout>

#include <limits>

#include "app/warningbox.h"
#include "util/places.h"
#include "upsversion.h"

// The icon lives in the core library's resources; a static library drops
// them unless they are initialised by name, outside any namespace.
static void initIconResource()
{
    Q_INIT_RESOURCE(resources);
}

namespace {
const char kLanguageKey[] = "language";
const char kPathKey[] = "filePath";
const char kPortKey[] = "port";
const char kEnglish[] = "English";
const char kChinese[] = "Chinese";
const char kZipFilter[] = "Firmware Files(*.zip)";
const char kLogFile[] = "ups-log.txt";
const char kSizeTemplate[] = "%1KB";
const char kMarkProperty[] = "mark";
const char kFailedStyle[] = "QProgressBar { color: white; font-weight: bold; text-align: center; }"
                            "QProgressBar::chunk { background-color: #c0392b; }";
const int kColumnCount = 4;
const int kCheckColumn = 2;
const int kProgressColumn = 3;
const int kMinimumWidth = 580;
const int kMinimumHeight = 300;
const int kDefaultWidth = 720;
const int kDefaultHeight = 420;
// The most images a package of any model has.
const int kShownRows = 3;
// Enough of a device path to tell adapters apart by their serial number.
const int kPortCharacters = 32;

// Whole percent of a written share; never divides by zero, never overflows,
// always within 0..100.
int percentOf(qlonglong written, qlonglong total)
{
    if (total <= 0 || written <= 0)
        return 0;
    if (written >= total)
        return 100;
    if (written <= std::numeric_limits<qlonglong>::max() / 100)
        return int(written * 100 / total);
    return int(double(written) / double(total) * 100.0);
}

QString desktopFolder()
{
    const QStringList desktops = QStandardPaths::standardLocations(QStandardPaths::DesktopLocation);
    return desktops.isEmpty() ? QDir::homePath() : desktops.first();
}
} // namespace

Dialog::Dialog(QWidget *parent)
    : QDialog(parent, Qt::WindowFlags())
    , tableView(new QTableView(this))
    , tableModel(new QStandardItemModel)
    , logBrowser(new QTextBrowser(this))
    , fileLabel(new QLabel(this))
    , pathEdit(new QLineEdit(this))
    , selectButton(new QPushButton(this))
    , fileRow(new QHBoxLayout)
    , languageBox(new QComboBox(this))
    , portRow(new QHBoxLayout)
    , portLabel(new QLabel(this))
    , portBox(new portComboBox(this))
    , updateButton(new QPushButton(this))
    , bottomRow(new QHBoxLayout)
    , mainLayout(new QVBoxLayout(this))
    , core(this)
    , translator(new QTranslator(this))
    , util(this)
    , settingsFile(places::settingsFile())
{
    initIconResource();
    setWindowIcon(QIcon(QStringLiteral(":/icons/ups.png")));

    setWindowFlags(Qt::WindowCloseButtonHint);
    // Which release talks to the unit matters when a report comes back.
    setWindowTitle(QStringLiteral("ups " UPS_VERSION));
    // Wider on demand, for a long port path or log line.
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    resize(kDefaultWidth, kDefaultHeight);
    tableView->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    tableView->horizontalHeader()->setStretchLastSection(true);
    tableView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tableView->setTabKeyNavigation(false); // Tab moves on to the next control
    tableView->setModel(tableModel);
    pathEdit->setReadOnly(true);
    logBrowser->setContextMenuPolicy(Qt::CustomContextMenu);
    // A port the system does not enumerate (a virtual line) can be typed.
    portBox->setEditable(true);
    portBox->setInsertPolicy(QComboBox::NoInsert);
    portBox->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    portBox->setMinimumContentsLength(kPortCharacters);
    portBox->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // Enter never presses a button the person did not focus.
    for (QPushButton *button : {selectButton, updateButton}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }

    fileRow->addWidget(fileLabel);
    fileRow->addWidget(pathEdit);
    fileRow->addWidget(selectButton);
    portRow->addWidget(portLabel);
    portRow->addWidget(portBox, 1);

    languageBox->addItem(tr("English"));
    languageBox->addItem(tr("Chinese"));

    bottomRow->addWidget(languageBox);
    bottomRow->addLayout(portRow, 1);
    bottomRow->addWidget(updateButton);
    mainLayout->addWidget(tableView);
    mainLayout->addWidget(logBrowser, 1);
    mainLayout->addLayout(fileRow);
    mainLayout->addLayout(bottomRow);

    loadSettings();
    retranslate();
    connectSignals();
}

Dialog::~Dialog()
{
    // The view goes with the QDialog base; let it drop the model first.
    tableView->setModel(nullptr);
    delete tableModel;
}

void Dialog::showInfo(QString message)
{
    logBrowser->append(message);
}

void Dialog::setProgressBar(int row, qlonglong bytesWritten, qlonglong bytesTotal)
{
    placeBar(row, barMark::Share, percentOf(bytesWritten, bytesTotal));
}

void Dialog::placeBar(int row, barMark mark, int percent)
{
    const QModelIndex cell = tableModel->index(row, kProgressColumn);
    // A bar offered to a missing cell would be refused by the view and leak.
    if (!cell.isValid())
        return;
    tableView->setIndexWidget(cell, newBar(mark, percent));
}

QProgressBar *Dialog::barAt(int row) const
{
    return qobject_cast<QProgressBar *>(tableView->indexWidget(tableModel->index(row, kProgressColumn)));
}

// A failed row is red all along its bar, whatever share it had reached.
QProgressBar *Dialog::newBar(barMark mark, int percent)
{
    auto *bar = new QProgressBar;
    bar->setRange(0, 100);
    bar->setValue(mark == barMark::Failed ? 100 : percent);
    bar->setProperty(kMarkProperty, int(mark));
    if (mark == barMark::Failed) {
        bar->setFormat(tr("failed"));
        bar->setStyleSheet(QString::fromLatin1(kFailedStyle));
    } else if (mark == barMark::NotSent) {
        bar->setFormat(tr("not sent"));
    }
    return bar;
}

// At the start of a run every ticked row starts again from nothing; an
// unticked one says it is left out.
void Dialog::resetBars()
{
    for (int row = 0; row < tableModel->rowCount(); ++row) {
        const auto *box = qobject_cast<QCheckBox *>(tableView->indexWidget(tableModel->index(row, kCheckColumn)));
        placeBar(row, box && box->isChecked() ? barMark::Share : barMark::NotSent, 0);
    }
}

void Dialog::jobEnded(updateParm job, bool success, int reason)
{
    Q_UNUSED(reason) // the run's summary line words it
    if (success)
        placeBar(job.row, barMark::Share, 100);
    else
        placeBar(job.row, barMark::Failed, 0);
}

void Dialog::rowFailed(int row)
{
    placeBar(row, barMark::Failed, 0);
}

void Dialog::setHeaders()
{
    tableModel->setColumnCount(kColumnCount);
    tableModel->setHeaderData(0, Qt::Horizontal, tr("fileName"), Qt::EditRole);
    tableModel->setHeaderData(1, Qt::Horizontal, tr("fileSize"), Qt::EditRole);
    tableModel->setHeaderData(2, Qt::Horizontal, tr("opration"), Qt::EditRole);
    tableModel->setHeaderData(3, Qt::Horizontal, tr("progress"), Qt::EditRole);
}

void Dialog::retranslate()
{
    fileLabel->setText(tr("updating file:"));
    portLabel->setText(tr("       port:"));
    selectButton->setText(tr("select"));
    updateButton->setText(running ? tr("stop") : tr("updating"));

    tableModel->clear();
    setHeaders();
    fitTableToRows();
    refreshPorts();
}

// Every row of any package shows without scrolling; the log takes the rest.
void Dialog::fitTableToRows()
{
    tableView->setFixedHeight(tableView->horizontalHeader()->sizeHint().height()
                              + kShownRows * tableView->verticalHeader()->defaultSectionSize()
                              + 2 * tableView->frameWidth());
}

// The selected or typed port stays chosen while it exists; a port that
// went away gives way to the first one found.
void Dialog::refreshPorts()
{
    const QString current = portBox->currentText();
    const bool typed = !current.isEmpty() && portBox->findText(current) < 0;
    QStringList names;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports)
        names << info.portName();
    portBox->clear();
    portBox->addItems(names);
    const int found = portBox->findText(current);
    if (found >= 0)
        portBox->setCurrentIndex(found);
    else if (typed)
        portBox->setEditText(current);
}

void Dialog::connectSignals()
{
    connect(selectButton, &QPushButton::clicked, this, &Dialog::selectFiles);
    connect(updateButton, &QPushButton::clicked, this, &Dialog::updating);
    connect(languageBox, SIGNAL(currentIndexChanged(int)), this, SLOT(language(int)));
    connect(&core, &updateCore::logLine, this, &Dialog::showInfo);
    connect(&core, &updateCore::errorLine, this, &Dialog::showInfo);
    connect(&core, &updateCore::progressChanged, this, &Dialog::setProgressBar);
    connect(&core, &updateCore::runEnded, this, &Dialog::runEnded);
    connect(&core, &updateCore::runSummary, this, &Dialog::showInfo);
    connect(&core, &updateCore::jobEnded, this, &Dialog::jobEnded);
    connect(&core, &updateCore::preparationFailed, this, &Dialog::rowFailed);
    connect(&core, &updateCore::warning, this, &warningBox::show);
    connect(portBox, &portComboBox::aboutToShowPopup, this, &Dialog::refreshPorts);
    connect(logBrowser, &QWidget::customContextMenuRequested, this, &Dialog::showLogMenu);
}

// The package's own folder, with the package chosen in it, so that a newer
// release beside it is at hand; the desktop only before any was chosen.
void Dialog::aimChooser(QFileDialog &dialog) const
{
    const QString field = pathEdit->text();
    const QFileInfo info(field);
    if (field.isEmpty()) {
        dialog.setDirectoryUrl(QUrl::fromLocalFile(desktopFolder()));
    } else if (info.isDir()) {
        dialog.setDirectoryUrl(QUrl::fromLocalFile(info.absoluteFilePath()));
    } else {
        dialog.setDirectoryUrl(QUrl::fromLocalFile(info.absolutePath()));
        dialog.selectFile(info.fileName());
    }
}

// A cancelled chooser changes nothing. A package chosen, even the one on
// show, is listed afresh with every image ticked.
void Dialog::selectFiles()
{
    QFileDialog dialog;
    aimChooser(dialog);
    dialog.setWindowTitle(tr("select zip file"));
    dialog.setNameFilter(QString::fromLatin1(kZipFilter));
    if (dialog.exec() == 0 || dialog.selectedFiles().isEmpty())
        return;
    const QString path = dialog.selectedFiles().first();
    pathEdit->setText(path);
    saveSetting(kPathKey, path.left(path.lastIndexOf(QLatin1Char('/'))));
    fillTable();
}

void Dialog::fillTable(const keptRows &rows)
{
    const QString zipPath = pathEdit->text();
    if (zipPath.isEmpty())
        return;
    core.listPackage(zipPath, currentTrust());
    listedPath = zipPath;

    tableModel->clear();
    setHeaders();
    core.package().clearChecked();
    for (const zip::listedImage &image : core.package().listing())
        addImageRow(image.row, image.name, image.size, rows.value(image.name));
}

// The rows of the package on show, for listing it again; none when the
// path field names something else.
Dialog::keptRows Dialog::currentRows() const
{
    keptRows rows;
    if (pathEdit->text() != listedPath)
        return rows;
    for (int row = 0; row < tableModel->rowCount(); ++row) {
        keptRow kept;
        const auto *box = qobject_cast<QCheckBox *>(tableView->indexWidget(tableModel->index(row, kCheckColumn)));
        kept.ticked = !box || box->isChecked();
        if (const QProgressBar *bar = barAt(row)) {
            kept.mark = barMark(bar->property(kMarkProperty).toInt());
            kept.percent = bar->value();
        }
        rows.insert(tableModel->item(row, 0)->text(), kept);
    }
    return rows;
}

QString Dialog::sizeText(qint64 bytes)
{
    const double kilobytes = double(bytes / 1024);
    return QString::fromLocal8Bit(kSizeTemplate).arg(QString::number(kilobytes, 'f', 2), 0, QLatin1Char(' '));
}

void Dialog::addImageRow(int row, const QString &name, qint64 bytes, const keptRow &kept)
{
    tableModel->setItem(row, 0, new QStandardItem(name));
    tableModel->setItem(row, 1, new QStandardItem(sizeText(bytes)));

    auto *box = new QCheckBox;
    box->setProperty("row", row);
    box->setProperty("fileName", name);
    box->setChecked(kept.ticked);
    if (kept.ticked)
        core.package().addChecked(row, name);
    connect(box, SIGNAL(stateChanged(int)), this, SLOT(checkButtonSlot(int)));

    const int lastRow = tableModel->rowCount() - 1;
    tableView->setIndexWidget(tableModel->index(lastRow, kCheckColumn), box);
    tableView->setIndexWidget(tableModel->index(lastRow, kProgressColumn), newBar(kept.mark, kept.percent));
}

void Dialog::checkButtonSlot(int state)
{
    const QObject *box = sender();
    if (!box)
        return;
    const QString fileName = box->property("fileName").toString();
    const int row = box->property("row").toInt();
    if (state != 0)
        core.package().addChecked(row, fileName);
    else
        core.package().removeChecked(fileName);
}

void Dialog::updating()
{
    if (running) {
        if (askYesNo(tr("An update is running. Stop it now? The unit stays in its boot loader "
                        "until it is updated again."))
            && running)
            stopUpdate();
        return;
    }
    const QString portName = portBox->currentText();
    resetBars();
    // Locked first: a run with nothing to send ends inside start().
    setRunning(true);
    if (!core.start(portName)) {
        setRunning(false);
        showInfo(tr("nothing was sent!"));
        return;
    }
    saveSetting(kPortKey, portName);
}

void Dialog::runEnded(bool success)
{
    Q_UNUSED(success)
    setRunning(false);
    // A question about a run that is over has nothing left to decide.
    if (question)
        question->reject();
}

// While an update runs, nothing that would change what is being sent, or
// where, can be touched; the update button stays, to stop it.
void Dialog::setRunning(bool on)
{
    running = on;
    updateButton->setText(on ? tr("stop") : tr("updating"));
    selectButton->setEnabled(!on);
    languageBox->setEnabled(!on);
    portBox->setEnabled(!on);
    for (int row = 0; row < tableModel->rowCount(); ++row) {
        if (QWidget *box = tableView->indexWidget(tableModel->index(row, kCheckColumn)))
            box->setEnabled(!on);
    }
}

void Dialog::stopUpdate()
{
    showInfo(tr("update stopped!"));
    core.stop(); // and the run's summary line
    setRunning(false);
}

// No is the default: the unit stays in its boot loader when an update is
// cut short.
bool Dialog::askYesNo(const QString &text)
{
    QMessageBox box(QMessageBox::Question, tr("updating"), text, QMessageBox::NoButton, this);
    QPushButton *yes = box.addButton(tr("yes"), QMessageBox::YesRole);
    QPushButton *no = box.addButton(tr("no"), QMessageBox::NoRole);
    box.setDefaultButton(no);
    box.setEscapeButton(no);
    question = &box;
    box.exec();
    return box.clickedButton() == yes;
}

void Dialog::reject()
{
    if (running) {
        if (!askYesNo(tr("An update is running. Close the program now? The unit stays in its boot "
                         "loader until it is updated again.")))
            return;
        if (running)
            stopUpdate();
    }
    QDialog::reject();
}

// Read again for every package, so that a key put into a folder or taken
// out of it, or the setting changed, counts from the next package on.
trustedKeys Dialog::currentTrust()
{
    trustedKeys trust = trustedKeys::fromFolders(places::trustedKeyFolders());
    trust.setRequired(util.readSwitch(settingsFile, QString::fromLatin1(places::kRequireSignatureKey)));
    return trust;
}

// One line for the first write that fails: the window goes on with what it
// has, and every later write would fail for the same reason.
void Dialog::saveSetting(const char *key, const QVariant &value)
{
    QString problem;
    if (util.writeSetting(settingsFile, QString::fromLatin1(key), value, &problem) || settingsProblemTold)
        return;
    settingsProblemTold = true;
    showInfo(tr("the settings cannot be saved in %1: %2").arg(settingsFile, problem));
}

QString Dialog::translationPath()
{
    return places::translationFile();
}

void Dialog::loadSettings()
{
    const QString &file = settingsFile;
    const QString languageKey = QString::fromLatin1(kLanguageKey);
    QVariant value;
    int index = 0;
    if (util.readSetting(file, languageKey, value)) {
        if (value.toString() == QLatin1String(kChinese)) {
            if (translator->load(translationPath(), QString(), QString(), QString()))
                QCoreApplication::installTranslator(translator);
            index = 1;
        }
    } else {
        saveSetting(kLanguageKey, QString::fromLatin1(kEnglish));
    }
    languageBox->setCurrentIndex(index);

    QVariant path;
    if (util.readSetting(file, QString::fromLatin1(kPathKey), path))
        pathEdit->setText(path.toString());
    QVariant port;
    if (util.readSetting(file, QString::fromLatin1(kPortKey), port))
        portBox->setEditText(port.toString());
}

void Dialog::loadChinese(const keptRows &rows)
{
    if (!translator->load(translationPath(), QString(), QString(), QString()))
        return;
    // Never listed twice, so one removal always takes it out again.
    QCoreApplication::removeTranslator(translator);
    QCoreApplication::installTranslator(translator);
    retranslate();
    fillTable(rows);
}

// The package is listed again in the new language, each row as it was.
void Dialog::language(int index)
{
    if (index == 0) {
        const keptRows rows = currentRows();
        QCoreApplication::removeTranslator(translator);
        retranslate();
        fillTable(rows);
        saveSetting(kLanguageKey, QString::fromLatin1(kEnglish));
    } else if (index == 1) {
        loadChinese(currentRows());
        saveSetting(kLanguageKey, QString::fromLatin1(kChinese));
    }
}

void Dialog::showLogMenu(const QPoint &pos)
{
    QMenu *menu = newLogMenu(pos);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(logBrowser->viewport()->mapToGlobal(pos));
}

QMenu *Dialog::newLogMenu(const QPoint &pos)
{
    QMenu *menu = logBrowser->createStandardContextMenu(pos);
    menu->addSeparator();
    menu->addAction(tr("Save log…"), this, &Dialog::saveLog);
    return menu;
}

void Dialog::saveLog()
{
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setWindowTitle(tr("Save log"));
    dialog.setNameFilter(tr("Text files (*.txt)"));
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    aimChooser(dialog);
    dialog.selectFile(QString::fromLatin1(kLogFile));
    if (dialog.exec() == 0 || dialog.selectedFiles().isEmpty())
        return;
    writeLog(dialog.selectedFiles().first());
}

// Whole or not at all: a file of that name is replaced only once the new
// one is complete.
bool Dialog::writeLog(const QString &path)
{
    QSaveFile file(path);
    const QByteArray text = logBrowser->toPlainText().toUtf8() + '\n';
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text) || file.write(text) != text.size() || !file.commit()) {
        showInfo(tr("the log could not be saved to %1: %2").arg(path, file.errorString()));
        return false;
    }
    showInfo(tr("log saved to %1").arg(path));
    return true;
}
