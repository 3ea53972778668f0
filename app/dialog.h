#ifndef DIALOG_H
#define DIALOG_H

#include <QDialog>
#include <QHash>
#include <QPointer>

#include "app/portcombobox.h"
#include "update/updatecore.h"
#include "update/common.h"

class QTableView;
class QStandardItemModel;
class QTextBrowser;
class QLabel;
class QLineEdit;
class QPushButton;
class QHBoxLayout;
class QComboBox;
class QVBoxLayout;
class QTranslator;
class QFileDialog;
class QMenu;
class QMessageBox;
class QProgressBar;

// The one window: image table, log pane, package path, language and port
// choice; owns every other object of the tool and wires them together.
class Dialog : public QDialog
{
    Q_OBJECT

public:
    explicit Dialog(QWidget *parent = nullptr);
    ~Dialog() override;

public slots:
    // Escape and the close button: during an update, only after a question.
    void reject() override;

private slots:
    void selectFiles();
    void checkButtonSlot(int state);
    void setProgressBar(int row, qlonglong bytesWritten, qlonglong bytesTotal);
    void showInfo(QString message);
    void updating();
    void language(int index);
    void refreshPorts();
    void runEnded(bool success);
    void jobEnded(updateParm job, bool success, int reason);
    void rowFailed(int row);
    void showLogMenu(const QPoint &pos);
    void saveLog();

private:
    friend class DialogTestAccess;

    // What a row's bar says besides its share sent.
    enum class barMark { Share, Failed, NotSent };
    // A row as the person left it, kept when the same package is listed again.
    struct keptRow
    {
        bool ticked = true;
        barMark mark = barMark::Share;
        int percent = 0;
    };
    using keptRows = QHash<QString, keptRow>; // by file name

    void loadSettings();
    void loadChinese(const keptRows &rows);
    void retranslate();
    void fillTable(const keptRows &rows = keptRows());
    void connectSignals();

    void setHeaders();
    void fitTableToRows();
    void setRunning(bool on);
    void stopUpdate();
    bool askYesNo(const QString &text);
    void addImageRow(int row, const QString &name, qint64 bytes, const keptRow &kept);
    keptRows currentRows() const;
    void resetBars();
    void placeBar(int row, barMark mark, int percent);
    QProgressBar *barAt(int row) const;
    void aimChooser(QFileDialog &dialog) const;
    QMenu *newLogMenu(const QPoint &pos);
    bool writeLog(const QString &path);
    static QProgressBar *newBar(barMark mark, int percent);
    static QString sizeText(qint64 bytes);
    static QString translationPath();
    trustedKeys currentTrust();
    void saveSetting(const char *key, const QVariant &value);

    QTableView *tableView;
    QStandardItemModel *tableModel;
    QTextBrowser *logBrowser;
    QLabel *fileLabel;
    QLineEdit *pathEdit;
    QPushButton *selectButton;
    QHBoxLayout *fileRow;
    QComboBox *languageBox;
    QHBoxLayout *portRow;
    QLabel *portLabel;
    portComboBox *portBox;
    QPushButton *updateButton;
    QHBoxLayout *bottomRow;
    QVBoxLayout *mainLayout;
    // The package, the queue, the line and an engine per model, wired as one.
    updateCore core;
    QTranslator *translator;
    common util;
    const QString settingsFile; // chosen once: ./ups.ini when there, else the user's
    bool settingsProblemTold = false;
    bool running = false;
    QString listedPath;             // the package the table shows
    QPointer<QMessageBox> question; // the stop or close question while open
};

#endif // DIALOG_H
