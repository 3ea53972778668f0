#ifndef DIALOG_H
#define DIALOG_H

#include <QDialog>

#include "app/portcombobox.h"
#include "update/updatecore.h"
#include "util/common.h"

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

private:
    friend class DialogTestAccess;

    void loadSettings();
    void loadChinese();
    void retranslate();
    void fillTable();
    void connectSignals();

    void setHeaders();
    void setRunning(bool on);
    void stopUpdate();
    bool askYesNo(const QString &text);
    void addImageRow(int row, const QString &name, qint64 bytes);
    QString startDirectory() const;
    static QString sizeText(qint64 bytes);
    static QString translationPath();

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
    // The package, the queue, the line and both engines, wired as one.
    updateCore core;
    QTranslator *translator;
    common util;
    bool running = false;
};

#endif // DIALOG_H
