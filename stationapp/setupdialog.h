#ifndef SETUPDIALOG_H
#define SETUPDIALOG_H

#include <QDialog>
#include <QString>

#include "station/stationprofile.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QSpinBox;

// The engineer's side: every key of a station profile in one form, written
// only when the profile it makes reads back whole.
class setupDialog : public QDialog
{
    Q_OBJECT

public:
    explicit setupDialog(const QString &path, QWidget *parent = nullptr);

    // What the form holds, as the profile's text.
    QString profileText() const;

public slots:
    void accept() override;

private:
    void fill(const stationProfile &profile);
    void choosePackage();

    QString m_path;
    QLineEdit *m_package;
    QLineEdit *m_report;
    QLineEdit *m_keys;
    QSpinBox *m_retries;
    QCheckBox *m_requireSignature;
    QComboBox *m_start;
    QComboBox *m_serial;
    QPlainTextEdit *m_ports;
};

#endif // SETUPDIALOG_H
