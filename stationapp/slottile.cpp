#include "stationapp/slottile.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "stationapp/failurewords.h"

namespace {

// A long shift's log stays bounded.
constexpr int kMaxLogLines = 5000;
const QString kGrey = QStringLiteral("#5f6b73");
const QString kBlue = QStringLiteral("#1f5fbf");
const QString kGreen = QStringLiteral("#1b8a2f");
const QString kRed = QStringLiteral("#c62828");
const QString kAmber = QStringLiteral("#b26a00");

QLabel *largeLabel(int pointSize, bool bold, QWidget *parent)
{
    auto *label = new QLabel(parent);
    QFont font = label->font();
    font.setPointSize(pointSize);
    font.setBold(bold);
    label->setFont(font);
    label->setWordWrap(true);
    return label;
}

} // namespace

slotTile::slotTile(const QString &name, const QString &port, const stationProfile &profile, QWidget *parent)
    : QFrame(parent)
    , m_startMode(profile.start)
    , m_serialMode(profile.serial)
{
    setFrameShape(QFrame::StyledPanel);
    setLineWidth(2);
    auto *title = largeLabel(20, true, this);
    title->setText(tr("Slot %1").arg(name));
    auto *portLabel = largeLabel(12, false, this);
    portLabel->setText(port);
    m_serial = new QLineEdit(this);
    m_serial->setPlaceholderText(tr("unit serial number"));
    m_serial->setFont(title->font());
    m_serial->setVisible(m_serialMode != stationProfile::Serial::None);
    m_state = largeLabel(34, true, this);
    m_state->setAlignment(Qt::AlignCenter);
    m_detail = largeLabel(15, false, this);
    m_detail->setAlignment(Qt::AlignCenter);
    m_progress = new QProgressBar(this);
    m_progress->setMinimumHeight(28);
    m_counts = largeLabel(16, false, this);
    m_start = new QPushButton(tr("Start"), this);
    m_start->setVisible(m_startMode == stationProfile::Start::Manual);
    auto *logButton = new QPushButton(tr("Log"), this);
    logButton->setFocusPolicy(Qt::NoFocus);

    m_logDialog = new QDialog(this);
    m_logDialog->setWindowTitle(tr("Slot %1: log").arg(name));
    m_log = new QPlainTextEdit(m_logDialog);
    m_log->setReadOnly(true);
    m_log->setMaximumBlockCount(kMaxLogLines);
    (new QVBoxLayout(m_logDialog))->addWidget(m_log);
    m_logDialog->resize(720, 480);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_counts, 1);
    buttons->addWidget(m_start);
    buttons->addWidget(logButton);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(title);
    layout->addWidget(portLabel);
    layout->addWidget(m_serial);
    layout->addWidget(m_state, 1);
    layout->addWidget(m_detail);
    layout->addWidget(m_progress);
    layout->addLayout(buttons);

    connect(m_serial, &QLineEdit::textChanged, this, &slotTile::serialChanged);
    connect(m_serial, &QLineEdit::returnPressed, this, &slotTile::onEnter);
    connect(m_start, &QPushButton::clicked, this, &slotTile::onEnter);
    connect(logButton, &QPushButton::clicked, m_logDialog, &QDialog::show);
    showCounts();
    showWaiting(true);
}

QString slotTile::serial() const
{
    return m_serial->text().trimmed();
}

QString slotTile::stateText() const
{
    return m_state->text();
}

QString slotTile::detailText() const
{
    return m_detail->text();
}

int slotTile::percent() const
{
    return m_progress->value();
}

bool slotTile::serialMissing() const
{
    return m_serialMode == stationProfile::Serial::Required && serial().isEmpty();
}

// A scanner types the serial and Enter: in manual mode that starts the
// slot; otherwise the unit starts when it is plugged in.
void slotTile::onEnter()
{
    if (m_busy)
        return;
    if (serialMissing()) {
        setState(tr("SERIAL?"), kAmber, tr("Scan or type the unit's serial number first."));
        m_serial->setFocus();
        return;
    }
    emit serialEntered();
    if (m_startMode == stationProfile::Start::Manual)
        emit startRequested();
}

void slotTile::showWaiting(bool portAbsent)
{
    m_busy = false;
    m_serial->setEnabled(true);
    m_start->setEnabled(true);
    const QString next = m_startMode == stationProfile::Start::Manual ? tr("Connect the unit, then press Start.")
                                                                      : tr("Plug in the next unit.");
    const QString detail = serialMissing() ? tr("Scan the unit's serial number.") + QLatin1Char(' ') + next : next;
    if (portAbsent || stateText().isEmpty())
        setState(tr("WAITING"), kGrey, detail);
    else
        m_detail->setText(m_detail->text() + QLatin1Char('\n') + detail);
}

void slotTile::showStarted(const unitAttempt &attempt)
{
    m_busy = true;
    m_serial->setEnabled(false);
    m_start->setEnabled(false);
    m_image.clear();
    m_imageIndex = 0;
    m_imageCount = int(attempt.images.size());
    m_progress->setValue(0);
    setState(tr("FLASHING"), kBlue, attempt.attempt > 1 ? tr("attempt %1").arg(attempt.attempt) : tr("starting"));
}

void slotTile::showProgress(const QString &image, qint64 written, qint64 total)
{
    if (image != m_image) {
        m_image = image;
        m_imageIndex += 1;
        m_imageClock.start();
    }
    const int percent = total > 0 ? int(written * 100 / total) : 0;
    m_progress->setValue(percent);
    const qint64 spent = m_imageClock.elapsed();
    QString left;
    if (written > 0 && written < total)
        left = tr(", %1 s left").arg((spent * (total - written) / written + 999) / 1000);
    m_detail->setText(tr("%1 (%2 of %3): %4%%5").arg(image).arg(m_imageIndex).arg(m_imageCount).arg(percent).arg(left));
}

void slotTile::showEnded(const unitAttempt &attempt)
{
    if (attempt.retrying) {
        setState(tr("RETRYING"), kAmber, failureWords::what(attempt.reason));
        return;
    }
    m_busy = false;
    if (attempt.result == unitResult::Passed) {
        m_passed += 1;
        m_progress->setValue(100);
        setState(tr("PASS"), kGreen, tr("Unplug the unit."));
    } else if (attempt.result == unitResult::Failed) {
        m_failed += 1;
        setState(tr("FAIL"), kRed,
                 failureWords::what(attempt.reason) + QLatin1Char('\n') + failureWords::todo(attempt.reason));
    } else {
        setState(tr("STOPPED"), kAmber, tr("The unit was cut short; flash it again."));
    }
    m_serial->clear();
    showCounts();
}

void slotTile::addLog(const QString &line)
{
    m_log->appendPlainText(line);
}

void slotTile::setState(const QString &text, const QString &colour, const QString &detail)
{
    m_state->setText(text);
    m_state->setStyleSheet(QStringLiteral("color: %1;").arg(colour));
    m_detail->setText(detail);
}

void slotTile::showCounts()
{
    m_counts->setText(tr("passed %1 · failed %2").arg(m_passed).arg(m_failed));
}
