#include "station/flashfleet.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QSerialPortInfo>
#include <QTimer>

#include "station/flashrun.h"
#include "update/common.h"

namespace {

// How often a port that is awaited is looked for: an adapter being
// plugged in shows within a fifth of a second.
constexpr int kPortPollMs = 200;
// A unit that failed is given this long (scaled like the protocol pauses)
// before its next attempt, so that its boot loader drops the broken frame.
constexpr int kRetryPauseMs = 1000;

} // namespace

flashFleet::flashFleet(flashOutput *out, const QStringList &ports, const options &how, QObject *parent)
    : QObject(parent)
    , m_out(out)
    , m_how(how)
{
    const QStringList names = portLabels(ports);
    m_slots.resize(size_t(ports.size()));
    for (int i = 0; i < ports.size(); ++i) {
        slot &s = m_slots[size_t(i)];
        s.port = ports.at(i);
        s.label = names.at(i);
        s.name = i < how.slotNames.size() ? how.slotNames.at(i) : s.label;
        s.run = new flashRun(out, this);
        connect(s.run, &flashRun::finished, this, [this, i](int status) { onAttemptEnded(i, status); });
    }
    m_poll.setInterval(kPortPollMs);
    connect(&m_poll, &QTimer::timeout, this, &flashFleet::pollPorts);
}

flashFleet::~flashFleet() = default;

// Looked up without listing every port of the system where a device file
// tells: a listing would stall the loop the other units' transfers run in.
bool flashFleet::portPresent(const QString &port)
{
    if (port.contains(QLatin1Char('/')))
        return QFileInfo::exists(port);
#ifndef Q_OS_WIN
    return QFileInfo::exists(QStringLiteral("/dev/") + port);
#else
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        if (info.portName().compare(port, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
#endif
}

QStringList flashFleet::portLabels(const QStringList &ports)
{
    QStringList names;
    for (const QString &port : ports)
        names << QFileInfo(port).fileName();
    for (int i = 0; i < names.size(); ++i) {
        if (names.at(i).isEmpty() || names.count(names.at(i)) > 1)
            names[i] = ports.at(i);
    }
    return names;
}

// The package's own errors name no port: they hold for every unit.
int flashFleet::openPackage(const packageBytes &package, const QStringList &only, const trustedKeys &trust)
{
    flashRun *first = m_slots.front().run;
    const int opened = first->openPackage(package, only, trust);
    if (opened != flashRun::Success)
        return opened;
    for (size_t i = 0; i < m_slots.size(); ++i) {
        if (m_slots[i].run != first)
            m_slots[i].run->adoptPackage(*first);
        m_slots[i].run->setSlot(int(i));
        m_slots[i].tally.imagesTicked = first->imagesTicked();
    }
    return flashRun::Success;
}

void flashFleet::start()
{
    for (size_t i = 0; i < m_slots.size(); ++i) {
        if (m_slots[i].state != State::Idle)
            continue;
        if (m_how.startOnRequest)
            awaitRequest(int(i));
        else
            beginUnit(int(i));
    }
    finishIfDone();
}

void flashFleet::setUnitSerial(int index, const QString &serial)
{
    if (index >= 0 && size_t(index) < m_slots.size())
        m_slots[size_t(index)].unitSerial = serial;
}

signatureVerdict::Kind flashFleet::signatureKind() const
{
    return m_slots.front().run->signatureKind();
}

bool flashFleet::mayStart(const slot &s) const
{
    return !m_how.serialRequired || !s.unitSerial.trimmed().isEmpty();
}

void flashFleet::awaitRequest(int index)
{
    slot &s = m_slots[size_t(index)];
    s.state = State::WaitingNext;
    s.portWentAway = false;
    m_out->waiting(index, flashOutput::Wait::NextUnit);
}

// A port that is not there yet is waited for when asked, and always in a
// station loop, where adapters come and go with their units.
void flashFleet::beginUnit(int index)
{
    slot &s = m_slots[size_t(index)];
    if (((m_how.waitForPort || m_how.loop) && !portPresent(s.port)) || !mayStart(s)) {
        s.state = State::WaitingPort;
        m_out->waiting(index, flashOutput::Wait::PortAbsent);
        m_poll.start();
        return;
    }
    launchUnit(index);
}

void flashFleet::launchUnit(int index)
{
    slot &s = m_slots[size_t(index)];
    s.state = State::Running;
    s.unit += 1;
    s.tally.attempts = 1;
    s.tally.imagesSent = 0;
    s.adapter = adapterFacts::of(s.port);
    s.clock.start();
    s.run->setUnitSerial(s.unitSerial.trimmed());
    s.run->start(s.port, s.unit);
}

void flashFleet::onAttemptEnded(int index, int status)
{
    slot &s = m_slots[size_t(index)];
    unitAttempt attempt = s.run->attempt();
    s.tally.imagesSent += attempt.imagesPassed();
    attempt.retrying = status == flashRun::JobFailed && !m_interrupted && s.tally.attempts <= m_how.retries;
    record(index, attempt);
    m_out->unitEnded(index, attempt);
    if (attempt.retrying) {
        s.state = State::RetryPause;
        QTimer::singleShot(common::scaledMs(kRetryPauseMs), this, [this, index] { retryUnit(index); });
        return;
    }
    unitDone(index, attempt.result);
}

void flashFleet::retryUnit(int index)
{
    slot &s = m_slots[size_t(index)];
    if (s.state != State::RetryPause)
        return; // interrupted during the pause
    s.state = State::Running;
    s.tally.attempts += 1;
    if (!s.run->retry(s.port))
        unitDone(index, unitResult::Failed);
}

void flashFleet::unitDone(int index, unitResult result)
{
    slot &s = m_slots[size_t(index)];
    s.tally.lastResult = result;
    s.tally.elapsedMs = s.clock.elapsed();
    if (result == unitResult::Passed)
        s.tally.passed += 1;
    else if (result == unitResult::Failed)
        s.tally.failed += 1;
    else
        m_unitInterrupted = true;
    s.run->close();
    s.unitSerial.clear();
    if (m_how.loop && !m_interrupted) {
        awaitRequest(index);
        if (!m_how.startOnRequest)
            m_poll.start();
        return;
    }
    s.state = State::Done;
    finishIfDone();
}

// Writes the attempt's line to the report; a line that cannot be written
// turns a passing run into a failing one, since the unit has no record.
void flashFleet::record(int index, const unitAttempt &attempt)
{
    if (m_how.reportPath.isEmpty())
        return;
    const slot &s = m_slots[size_t(index)];
    const QJsonObject line = unitRecord::reportJson(m_facts, s.port, s.name, s.adapter, attempt);
    const QString problem =
        unitRecord::appendLine(m_how.reportPath, QJsonDocument(line).toJson(QJsonDocument::Compact));
    if (problem.isEmpty())
        return;
    m_reportFailed = true;
    m_out->logLine(index, flashOutput::Level::Error,
                   tr("cannot write to the report %1: %2").arg(m_how.reportPath, problem));
}

// An interrupt between two attempts leaves the unit unfinished too: it is
// on record with what it had left to send.
void flashFleet::recordInterruptedRetry(int index)
{
    slot &s = m_slots[size_t(index)];
    unitAttempt attempt = s.run->attempt();
    attempt.attempt += 1;
    attempt.start = attempt.end = QDateTime::currentDateTimeUtc();
    QList<imageOutcome> left;
    for (imageOutcome image : qAsConst(attempt.images)) {
        if (image.result == imageResult::Passed)
            continue;
        imageOutcome untouched;
        untouched.name = image.name;
        image = untouched;
        left.append(image);
    }
    attempt.images = left;
    attempt.result = unitResult::Interrupted;
    attempt.reason = failReason::None;
    attempt.retrying = false;
    record(index, attempt);
    m_out->unitEnded(index, attempt);
    unitDone(index, attempt.result);
}

void flashFleet::onInterrupt(int signalNumber)
{
    if (m_interrupted)
        return;
    m_interrupted = true;
    m_interruptStatus = flashRun::interruptStatus(signalNumber);
    m_poll.stop();
    for (size_t i = 0; i < m_slots.size(); ++i) {
        slot &s = m_slots[i];
        if (s.state == State::Running)
            s.run->interrupt(signalNumber); // ends the attempt, which records it
        else if (s.state == State::RetryPause)
            recordInterruptedRetry(int(i));
        else if (s.state != State::Done)
            s.state = State::Done;
    }
    finishIfDone();
}

void flashFleet::pollPorts()
{
    bool awaiting = false;
    for (size_t i = 0; i < m_slots.size(); ++i) {
        slot &s = m_slots[i];
        const bool present = (s.state == State::WaitingPort || s.state == State::WaitingNext) && portPresent(s.port);
        if (s.state == State::WaitingPort && present && mayStart(s)) {
            launchUnit(int(i));
        } else if (s.state == State::WaitingNext && !m_how.startOnRequest) {
            s.portWentAway = s.portWentAway || !present;
            if (present && s.portWentAway && mayStart(s))
                launchUnit(int(i)); // the adapter of the next unit
        }
        awaiting = awaiting || s.state == State::WaitingPort || s.state == State::WaitingNext;
    }
    if (!awaiting)
        m_poll.stop();
}

void flashFleet::startNextOnRequest(const QString &request)
{
    for (size_t i = 0; i < m_slots.size(); ++i) {
        const slot &s = m_slots[i];
        const bool named =
            request.isEmpty() || request == s.label || request == s.port || request == QString::number(i + 1);
        if (named && s.state == State::WaitingNext)
            beginUnit(int(i));
    }
}

void flashFleet::finishIfDone()
{
    if (m_ended)
        return;
    for (const slot &s : m_slots) {
        if (s.state != State::Done)
            return;
    }
    m_ended = true;
    m_poll.stop();
    for (slot &s : m_slots)
        s.run->close();
    QList<slotTally> tallies;
    for (const slot &s : m_slots)
        tallies << s.tally;
    const int status = exitStatus();
    m_out->runEnded(status, tallies);
    emit finished(status);
}

// In a station loop an interrupt is how a shift ends: it counts as one only
// when it cut a unit short.
int flashFleet::exitStatus() const
{
    if (m_interrupted && (!m_how.loop || m_unitInterrupted))
        return m_interruptStatus;
    for (const slot &s : m_slots) {
        if (s.tally.failed > 0)
            return flashRun::JobFailed;
    }
    return m_reportFailed ? flashRun::JobFailed : flashRun::Success;
}
