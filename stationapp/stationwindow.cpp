#include "stationapp/stationwindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSysInfo>
#include <QVBoxLayout>

#include <csignal>

#include "station/standingtrust.h"
#include "station/flashrun.h"
#include "stationapp/slottile.h"

namespace {

// Tiles per row: eight slots fit two rows of a common screen.
constexpr int kTilesPerRow = 4;

} // namespace

stationWindow::stationWindow(QWidget *parent)
    : QWidget(parent)
{
    setWindowTitle(tr("UPS station"));
    QFont base = font();
    base.setPointSize(14);
    setFont(base);
    m_package = new QLabel(this);
    m_package->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_totals = new QLabel(this);
    QFont large = base;
    large.setPointSize(24);
    large.setBold(true);
    m_totals->setFont(large);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_totals);
    layout->addWidget(m_package);
}

// The fleet goes first: what its runs say while they stop still finds the
// tiles.
stationWindow::~stationWindow()
{
    m_fleet.reset();
}

bool stationWindow::open(const stationProfile &profile, const QString &profilePath, QString *problem)
{
    if (!makeFleet(profile, problem))
        return false;
    const packageBytes package = packageBytes::read(profile.package);
    runFacts facts;
    facts.tool = QStringLiteral("ups-station");
    facts.version = QCoreApplication::applicationVersion();
    facts.host = QSysInfo::machineHostName();
    facts.station = QFileInfo(profilePath).completeBaseName();
    facts.packageName = QFileInfo(profile.package).fileName();
    facts.packageSha256 = package.sha256();
    m_fleet->setRunFacts(facts);
    trustedKeys trust = profile.trustedKeys.isEmpty() ? trustedKeys() : trustedKeys::fromFolder(profile.trustedKeys);
    if (!trust.problems().isEmpty()) {
        *problem = tr("trusted-keys: %1").arg(trust.problems().join(QLatin1Char('\n')));
        return false;
    }
    // A profile adds to what the machine requires, never takes it away.
    addStandingTrust(trust, profile.requireSignature);
    buildTiles(profile);
    if (m_fleet->openPackage(package, {}, trust) != flashRun::Success) {
        *problem = tr("package: %1").arg(m_runErrors.join(QLatin1Char('\n')));
        return false;
    }
    showPackage(profile, facts.packageSha256);
    showTotals();
    return true;
}

// The report must take lines before any unit is flashed: a unit without
// its record is worse than a unit not flashed.
bool stationWindow::makeFleet(const stationProfile &profile, QString *problem)
{
    const QString reportProblem = unitRecord::checkAppendable(profile.report);
    if (!reportProblem.isEmpty()) {
        *problem = tr("report: cannot append to %1: %2").arg(profile.report, reportProblem);
        return false;
    }
    flashFleet::options how;
    how.retries = profile.retries;
    how.loop = true;
    how.reportPath = profile.report;
    how.startOnRequest = profile.start == stationProfile::Start::Manual;
    how.serialRequired = profile.serial == stationProfile::Serial::Required;
    QStringList ports;
    for (const stationProfile::slot &each : profile.slotList) {
        ports << each.port;
        how.slotNames << QString::number(each.number);
    }
    m_fleet = std::make_unique<flashFleet>(this, ports, how);
    return true;
}

void stationWindow::buildTiles(const stationProfile &profile)
{
    auto *grid = new QGridLayout;
    for (int i = 0; i < profile.slotList.size(); ++i) {
        const stationProfile::slot &each = profile.slotList.at(i);
        auto *tile = new slotTile(QString::number(each.number), each.port, profile, this);
        grid->addWidget(tile, i / kTilesPerRow, i % kTilesPerRow);
        grid->setColumnStretch(i % kTilesPerRow, 1);
        connect(tile, &slotTile::serialChanged, this,
                [this, i](const QString &serial) { m_fleet->setUnitSerial(i, serial); });
        connect(tile, &slotTile::startRequested, this,
                [this, i] { m_fleet->startNextOnRequest(QString::number(i + 1)); });
        connect(tile, &slotTile::serialEntered, this, [this, i] {
            if (slotTile *next = m_tiles.value(i + 1))
                next->serialField()->setFocus();
        });
        m_tiles << tile;
    }
    static_cast<QVBoxLayout *>(layout())->addLayout(grid, 1);
    if (!m_tiles.isEmpty())
        m_tiles.first()->serialField()->setFocus();
}

void stationWindow::showPackage(const stationProfile &profile, const QString &sha256)
{
    m_package->setText(tr("Package %1 · %2\nSHA-256 %3\nReport %4")
                           .arg(QFileInfo(profile.package).fileName(), signatureText(), sha256, profile.report));
}

QString stationWindow::signatureText() const
{
    switch (m_fleet->signatureKind()) {
    case signatureVerdict::Valid:
        return tr("signed by a trusted key");
    case signatureVerdict::Unchecked:
        return tr("signed, but no key is trusted: not checked");
    case signatureVerdict::Refused:
        return tr("signature refused");
    case signatureVerdict::Unsigned:
        break;
    }
    return tr("not signed");
}

void stationWindow::start()
{
    m_fleet->start();
}

QString stationWindow::totalsText() const
{
    return m_totals->text();
}

void stationWindow::showTotals()
{
    int passed = 0;
    int failed = 0;
    for (const slotTile *tile : m_tiles) {
        passed += tile->passed();
        failed += tile->failed();
    }
    const int total = passed + failed;
    const QString yield = total > 0 ? QString::number(100.0 * passed / total, 'f', 1) + QLatin1Char('%') : tr("–");
    m_totals->setText(tr("Units %1 · passed %2 · failed %3 · yield %4").arg(total).arg(passed).arg(failed).arg(yield));
}

void stationWindow::runStarted(const runFacts &, const QStringList &) { }

void stationWindow::waiting(int slot, Wait why)
{
    if (slotTile *tile = m_tiles.value(slot))
        tile->showWaiting(why == Wait::PortAbsent);
}

void stationWindow::unitStarted(int slot, const unitAttempt &attempt)
{
    if (slotTile *tile = m_tiles.value(slot))
        tile->showStarted(attempt);
}

void stationWindow::logLine(int slot, Level, const QString &text)
{
    if (slotTile *tile = m_tiles.value(slot))
        tile->addLog(text);
    else
        m_runErrors << text;
}

void stationWindow::progress(int slot, const QString &image, qint64 written, qint64 total)
{
    if (slotTile *tile = m_tiles.value(slot))
        tile->showProgress(image, written, total);
}

void stationWindow::imageEnded(int, const imageOutcome &) { }

void stationWindow::unitEnded(int slot, const unitAttempt &attempt)
{
    if (slotTile *tile = m_tiles.value(slot))
        tile->showEnded(attempt);
    showTotals();
}

void stationWindow::runEnded(int, const QList<slotTally> &)
{
    m_ended = true;
}

bool stationWindow::anyBusy() const
{
    for (const slotTile *tile : m_tiles) {
        if (tile->isBusy())
            return true;
    }
    return false;
}

bool stationWindow::confirmStop()
{
    return QMessageBox::question(this, tr("Stop the station?"),
                                 tr("A unit is being flashed. Closing now cuts it short: it stays in its boot "
                                    "loader and is recorded as interrupted. Close anyway?"),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
        == QMessageBox::Yes;
}

// Every slot ends as ups-flash ends on Ctrl-C: a unit cut short is on
// record as interrupted.
void stationWindow::closeEvent(QCloseEvent *event)
{
    if (anyBusy() && !confirmStop()) {
        event->ignore();
        return;
    }
    if (m_fleet && !m_ended)
        m_fleet->onInterrupt(SIGINT);
    event->accept();
}
