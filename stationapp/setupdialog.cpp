#include "stationapp/setupdialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryFile>

setupDialog::setupDialog(const QString &path, QWidget *parent)
    : QDialog(parent)
    , m_path(path)
{
    setWindowTitle(tr("Station set-up: %1").arg(path));
    m_package = new QLineEdit(this);
    auto *browse = new QPushButton(tr("Choose…"), this);
    auto *packageRow = new QHBoxLayout;
    packageRow->addWidget(m_package, 1);
    packageRow->addWidget(browse);
    m_report = new QLineEdit(this);
    m_keys = new QLineEdit(this);
    m_keys->setPlaceholderText(tr("a folder of .pub keys; empty for none"));
    m_retries = new QSpinBox(this);
    m_retries->setRange(0, stationProfile::kMaxRetries);
    m_requireSignature = new QCheckBox(tr("refuse a package no trusted key signed"), this);
    m_start = new QComboBox(this);
    m_start->addItems({tr("when its port appears (an adapter per unit)"), tr("on its button or Enter")});
    m_serial = new QComboBox(this);
    m_serial->addItems({tr("not asked"), tr("optional"), tr("required before a start")});
    m_ports = new QPlainTextEdit(this);
    m_ports->setPlaceholderText(tr("one port per line: slot 1, slot 2, …"));
    auto *form = new QFormLayout;
    form->addRow(tr("Package"), packageRow);
    form->addRow(tr("Report"), m_report);
    form->addRow(tr("Trusted keys"), m_keys);
    form->addRow(tr("Retries"), m_retries);
    form->addRow(tr("Signature"), m_requireSignature);
    form->addRow(tr("A slot starts"), m_start);
    form->addRow(tr("Unit serial number"), m_serial);
    form->addRow(tr("Ports"), m_ports);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, this);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    connect(browse, &QPushButton::clicked, this, &setupDialog::choosePackage);
    connect(buttons, &QDialogButtonBox::accepted, this, &setupDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &setupDialog::reject);
    stationProfile existing;
    QString ignored;
    if (QFileInfo::exists(path) && stationProfile::load(path, &existing, &ignored))
        fill(existing);
}

void setupDialog::fill(const stationProfile &profile)
{
    m_package->setText(profile.package);
    m_report->setText(profile.report);
    m_keys->setText(profile.trustedKeys);
    m_retries->setValue(profile.retries);
    m_requireSignature->setChecked(profile.requireSignature);
    m_start->setCurrentIndex(int(profile.start));
    m_serial->setCurrentIndex(int(profile.serial));
    QStringList ports;
    for (const stationProfile::slot &each : profile.slotList)
        ports << each.port;
    m_ports->setPlainText(ports.join(QLatin1Char('\n')));
}

void setupDialog::choosePackage()
{
    const QString chosen =
        QFileDialog::getOpenFileName(this, tr("Firmware package"), m_package->text(), tr("Packages (*.zip)"));
    if (!chosen.isEmpty())
        m_package->setText(chosen);
}

QString setupDialog::profileText() const
{
    static const char *const kStart[] = {"on-connect", "manual"};
    static const char *const kSerial[] = {"none", "optional", "required"};
    QStringList lines {QStringLiteral("[station]"),
                       QStringLiteral("package = ") + m_package->text().trimmed(),
                       QStringLiteral("report = ") + m_report->text().trimmed(),
                       QStringLiteral("retries = %1").arg(m_retries->value()),
                       QStringLiteral("require-signature = ")
                           + QLatin1String(m_requireSignature->isChecked() ? "true" : "false"),
                       QStringLiteral("start = ") + QLatin1String(kStart[m_start->currentIndex()]),
                       QStringLiteral("serial = ") + QLatin1String(kSerial[m_serial->currentIndex()])};
    if (!m_keys->text().trimmed().isEmpty())
        lines << QStringLiteral("trusted-keys = ") + m_keys->text().trimmed();
    int number = 0;
    for (const QString &port : m_ports->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (!port.trimmed().isEmpty())
            lines << QStringLiteral("slot.%1 = %2").arg(++number).arg(port.trimmed());
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

// The form is read back through the profile reader from beside the real
// file (relative paths mean the same there) before the file is replaced.
void setupDialog::accept()
{
    QTemporaryFile trial(QFileInfo(m_path).absoluteDir().filePath(QStringLiteral("profile-XXXXXX.ini")));
    stationProfile profile;
    QString problem;
    if (!trial.open() || trial.write(profileText().toUtf8()) < 0 || !trial.flush())
        problem = tr("the profile %1 cannot be written: %2").arg(m_path, trial.errorString());
    else if (stationProfile::load(trial.fileName(), &profile, &problem))
        problem = profile.save(m_path, &problem) ? QString() : problem;
    if (!problem.isEmpty()) {
        QMessageBox::warning(this, tr("Station set-up"), problem.replace(trial.fileName(), m_path));
        return;
    }
    QDialog::accept();
}
