#include "tools/unitsim/simulatedunit.h"

#include "tools/unitsim/pacetimer.h"
#include "tools/unitsim/ptyline.h"
#include "util/timescale.h"
#include "update/common.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTimer>

#include <cmath>

namespace {
// Indexed by simulatedUnit::FaultKind.
const char *const kKindNames[] = {"silence", "nak",    "garbage", "unknown", "badstatus", "long12",
                                  "long13",  "double", "drip",    "split",   "close"};

int kindIndex(const QString &name)
{
    const int count = int(sizeof kKindNames / sizeof kKindNames[0]);
    for (int kind = 0; kind < count; ++kind) {
        if (name == QLatin1String(kKindNames[kind]))
            return kind;
    }
    return -1;
}

QString helpLine(const QString &name, const QString &help)
{
    return QStringLiteral("  %1 %2\n").arg(name, -22).arg(help);
}
} // namespace

simulatedUnit::simulatedUnit(const Grammar &grammar, QObject *parent)
    : QObject(parent)
    , m_grammar(grammar)
    , m_line(new ptyLine(this))
    , m_sendTimer(new paceTimer(this))
    , m_msTimer(new QTimer(this))
{
    m_msTimer->setSingleShot(true);
    m_msTimer->setTimerType(Qt::PreciseTimer);
    connect(m_msTimer, &QTimer::timeout, this, &simulatedUnit::onSendTimer);
    connect(m_sendTimer, &paceTimer::timeout, this, &simulatedUnit::onSendTimer);
    connect(m_line, &ptyLine::received, this, &simulatedUnit::onReceived);
}

simulatedUnit::~simulatedUnit() = default;

bool simulatedUnit::open()
{
    return m_line->open();
}

QString simulatedUnit::portName() const
{
    return m_line->slavePath();
}

void simulatedUnit::reset()
{
    m_sendTimer->stop();
    m_msTimer->stop();
    m_out.clear();
    m_replyEndNs = 0;
    m_requestInNs = 0;
    m_answers.clear();
    m_frames.clear();
    m_violations.clear();
    m_jobsCompleted = 0;
}

// ---- faults ---------------------------------------------------------------

QString simulatedUnit::grammarHelp()
{
    return tr("KIND[:STEP][@N]: KIND alone hits every answer of every step, :STEP only the\n"
              "answers to that step, @N only the N-th answer to the step (to each step without\n"
              "STEP), counted from the unit's start or reset, resends included.");
}

QString simulatedUnit::kindName(FaultKind kind)
{
    return QLatin1String(kKindNames[kind]);
}

QString simulatedUnit::faultHelp(const Grammar &grammar)
{
    QString text = QStringLiteral("KIND:\n");
    for (const KindHelp &kind : grammar.kinds)
        text += helpLine(kindName(kind.kind), tr(kind.help));
    text += QStringLiteral("STEP:\n");
    for (const StepName &step : grammar.steps) {
        const QString name = step.alias ? tr("%1 (or %2)").arg(QLatin1String(step.name), QLatin1String(step.alias))
                                        : QLatin1String(step.name);
        text += helpLine(name, tr(step.help));
    }
    text.chop(1);
    return text;
}

bool simulatedUnit::addFault(const QString &faultText, QString *error)
{
    Fault fault {Silence, kEveryStep, kEveryOccurrence};
    QString problem = parseFault(faultText, &fault);
    if (problem.isEmpty())
        problem = faultProblem(fault);
    if (!problem.isEmpty()) {
        if (error)
            *error = problem;
        return false;
    }
    m_faults.append(fault);
    return true;
}

QString simulatedUnit::parseFault(const QString &faultText, Fault *fault) const
{
    static const QRegularExpression pattern(QStringLiteral("^([a-z0-9]+)(?::([a-z]+))?(?:@([0-9]+))?$"));
    const QRegularExpressionMatch match = pattern.match(faultText.trimmed().toLower());
    if (!match.hasMatch())
        return tr("'%1' is not KIND[:STEP][@N]").arg(faultText);
    const int kind = kindIndex(match.captured(1));
    bool known = false;
    for (const KindHelp &help : m_grammar.kinds)
        known = known || help.kind == kind;
    if (!known)
        return tr("unknown fault '%1'").arg(match.captured(1));
    const QString step = match.captured(2);
    fault->kind = FaultKind(kind);
    fault->step = step.isEmpty() ? kEveryStep : stepIndex(step);
    if (!step.isEmpty() && fault->step < 0)
        return tr("unknown step '%1'").arg(step);
    const QString count = match.captured(3);
    bool ok = true;
    fault->occurrence = count.isEmpty() ? kEveryOccurrence : count.toInt(&ok);
    if (!ok || (!count.isEmpty() && fault->occurrence < 1))
        return tr("bad count '%1'").arg(count);
    return QString();
}

QString simulatedUnit::faultProblem(const Fault &) const
{
    return QString();
}

int simulatedUnit::stepIndex(const QString &name) const
{
    for (int step = 0; step < m_grammar.steps.size(); ++step) {
        const StepName &known = m_grammar.steps.at(step);
        if (name == QLatin1String(known.name) || (known.alias && name == QLatin1String(known.alias)))
            return step;
    }
    return -1;
}

QString simulatedUnit::stepName(int step) const
{
    return step >= 0 && step < m_grammar.steps.size() ? QLatin1String(m_grammar.steps.at(step).name) : QString();
}

QList<simulatedUnit::FaultKind> simulatedUnit::faultsOnAnswer(int step)
{
    const int occurrence = ++m_answers[step];
    QList<FaultKind> kinds;
    for (const Fault &fault : qAsConst(m_faults)) {
        if ((fault.step == kEveryStep || fault.step == step)
            && (fault.occurrence == kEveryOccurrence || fault.occurrence == occurrence))
            kinds.append(fault.kind);
    }
    return kinds;
}

// ---- input and jobs -------------------------------------------------------

void simulatedUnit::onReceived(QByteArray bytes)
{
    m_requestInNs = paceTimer::nowNs();
    if (m_replyEndNs > 0)
        emit turnaround(m_requestInNs - m_replyEndNs);
    m_replyEndNs = 0;
    receive(bytes);
}

void simulatedUnit::recordFrame(const QByteArray &frame)
{
    m_frames.append(frame);
    emit frameReceived(frame);
}

void simulatedUnit::checkSpeed(int expectedBaud, const QString &what)
{
    const int baud = m_line->baud();
    if (baud != expectedBaud)
        violation(tr("%1 at %2 baud, expected %3").arg(what).arg(baud).arg(expectedBaud));
}

void simulatedUnit::completeJob(const QString &target, const QByteArray &image)
{
    ++m_jobsCompleted;
    m_savedAs = save(target, image);
    emit jobCompleted(target, image);
}

QString simulatedUnit::saveName(const QString &target, int repeat)
{
    const QString base = target.isEmpty() ? QStringLiteral("image") : target;
    return repeat <= 1 ? base + QStringLiteral(".bin") : QStringLiteral("%1-%2.bin").arg(base).arg(repeat);
}

QString simulatedUnit::save(const QString &target, const QByteArray &image)
{
    if (m_saveDir.isEmpty())
        return QString();
    const int repeat = ++m_saved[target];
    const QString path = QDir(m_saveDir).filePath(saveName(target, repeat));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(image) != image.size())
        return tr("(not saved: %1)").arg(file.errorString());
    return path;
}

// ---- output ---------------------------------------------------------------

int simulatedUnit::wireMs(int bytes, int baud)
{
    return int((wireNs(bytes, baud) + 999999) / 1000000);
}

qint64 simulatedUnit::wireNs(int bytes, int baud)
{
    if (baud <= 0 || bytes <= 0)
        return 0;
    return (qint64(bytes) * kBitsPerByte * 1000000000 + baud - 1) / baud;
}

void simulatedUnit::enqueue(const QByteArray &bytes, int pauseMs, int requestBytes, int minimumMs)
{
    const qint64 wire = m_lineRate ? wireNs(requestBytes + bytes.size(), m_line->baud()) : 0;
    const qint64 latency = requestBytes > 0 ? m_replyLatencyNs : 0;
    // Rounded up: a reply scaled down must still never come early.
    const qint64 delayNs = qint64(std::ceil(double(qint64(pauseMs) * 1000000 + wire + latency) * timeScale::factor()));
    m_out.append({bytes, qMax(qint64(minimumMs) * 1000000, delayNs)});
    m_replyEndNs = 0;
    // A reply's wait counts from the request's arrival, so that the unit's
    // own work on the request does not lengthen the line.
    const qint64 fromNs = requestBytes > 0 ? m_requestInNs : 0;
    if (requestBytes > 0)
        m_requestInNs = 0;
    if (!m_sendTimer->isActive() && !m_msTimer->isActive())
        scheduleNext(fromNs);
}

void simulatedUnit::scheduleNext(qint64 fromNs)
{
    if (m_out.isEmpty())
        return;
    // Unpaced, the gaps are the fault scripts' whole milliseconds, on the
    // event loop's own timer as the tool's are: the order in which a reply
    // and the tool's next read meet is then that of a real line at speed.
    if (m_lineRate) {
        m_dueNs = (fromNs > 0 ? fromNs : paceTimer::nowNs()) + m_out.first().delayNs;
        m_sendTimer->startAt(m_dueNs);
    } else {
        m_msTimer->start(int((m_out.first().delayNs + 999999) / 1000000));
    }
}

void simulatedUnit::onSendTimer()
{
    if (m_out.isEmpty())
        return;
    const Chunk chunk = m_out.takeFirst();
    m_line->write(chunk.bytes);
    if (m_lineRate)
        m_pacedLateNs += paceTimer::nowNs() - m_dueNs;
    if (m_out.isEmpty())
        m_replyEndNs = paceTimer::nowNs();
    scheduleNext();
}

void simulatedUnit::closeLine()
{
    m_sendTimer->stop();
    m_msTimer->stop();
    m_out.clear();
    m_replyEndNs = 0;
    m_line->close();
}
