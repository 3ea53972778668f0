#include "app/dialog.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QTextBrowser>
#include <QTranslator>
#include <QVBoxLayout>

// Placeholder, being written.
Dialog::Dialog(QWidget *parent)
    : QDialog(parent), tableView(new QTableView(this)), tableModel(new QStandardItemModel),
      logBrowser(new QTextBrowser(this)), fileLabel(new QLabel(this)), pathEdit(new QLineEdit(this)),
      selectButton(new QPushButton(this)), fileRow(new QHBoxLayout), languageBox(new QComboBox(this)),
      portRow(new QHBoxLayout), portLabel(new QLabel(this)), portBox(new QComboBox(this)),
      updateButton(new QPushButton(this)), bottomRow(new QHBoxLayout), mainLayout(new QVBoxLayout(this)),
      package(this), updater(this), serial(this), engine(&serial, this), engine1(&serial, this),
      translator(new QTranslator(this)), util(this)
{
}
Dialog::~Dialog() { delete tableModel; }
void Dialog::selectFiles() {}
void Dialog::checkButtonSlot(int) {}
void Dialog::setProgressBar(int, qlonglong, qlonglong) {}
void Dialog::showInfo(QString) {}
void Dialog::updating() {}
void Dialog::language(int) {}
void Dialog::loadSettings() {}
void Dialog::loadChinese() {}
void Dialog::retranslate() {}
void Dialog::fillTable() {}
void Dialog::connectSignals() {}
