#include "tools/unitsim/unitserver.h"

#include "tools/unitsim/firstunit.h"
#include "tools/unitsim/unitmodels.h"

#include <QFile>

namespace {

constexpr int kSlowBaud = 2400;
constexpr int kFastBaud = 9600;

} // namespace

unitServer::unitServer(int model, QObject *parent)
    : QObject(parent)
{
    const unitModel *row = unitModels::find(model);
    Q_ASSERT(row); // the caller checks the id
    m_unit = row->makeUnit(this);
}

bool unitServer::open()
{
    if (!m_unit->open())
        return false;
    // Connected after the unit's own connection, so the unit has already
    // taken in the bytes when they are counted and checked here.
    connect(m_unit->line(), &ptyLine::received, this, &unitServer::onReceived);
    connect(m_unit->line(), &ptyLine::sent, this, &unitServer::onSent);
    connect(m_unit, &simulatedUnit::jobCompleted, this, &unitServer::onJobCompleted);
    return true;
}

QString unitServer::portName() const
{
    return m_unit->portName();
}

bool unitServer::addFault(const QString &faultText, QString *error)
{
    return m_unit->addFault(faultText, error);
}

void unitServer::setLineRate(bool on)
{
    m_unit->setLineRate(on);
}

void unitServer::setReplyLatencyMs(double ms)
{
    m_unit->setReplyLatencyMs(ms);
}

bool unitServer::setTurnaroundFile(const QString &path)
{
    m_turnarounds = new QFile(path, this);
    if (!m_turnarounds->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return false;
    connect(m_unit, &simulatedUnit::turnaround, this, &unitServer::onTurnaround);
    return true;
}

void unitServer::onTurnaround(qint64 ns)
{
    m_turnarounds->write(QByteArray::number((ns + 500) / 1000) + '\n');
}

void unitServer::setSaveDir(const QString &dir)
{
    m_unit->setSaveDir(dir);
}

bool unitServer::setRunningFor(const QString &processor, const QByteArray &code)
{
    auto *first = qobject_cast<firstUnit *>(m_unit);
    if (!first)
        return false;
    first->setRunningFor(processor, code);
    return true;
}

QString unitServer::grammarHelp()
{
    return simulatedUnit::grammarHelp() + QLatin1Char('\n')
        + tr("UNIT/KIND[:STEP][@N]: the same for unit UNIT alone (1 to --count); without\n"
             "UNIT/ a fault hits every unit.");
}

bool unitServer::splitUnitFault(const QString &text, int count, int *unit, QString *fault, QString *error)
{
    const int slash = text.indexOf(QLatin1Char('/'));
    if (slash < 0) {
        *unit = kEveryUnit;
        *fault = text;
        return true;
    }
    // Digits only, as toInt() would also take a sign; two at most, as no more
    // than kMaxUnits units are ever served.
    const QString number = text.left(slash).trimmed();
    bool ok = !number.isEmpty() && number.size() <= 2;
    for (const QChar c : number)
        ok = ok && c >= QLatin1Char('0') && c <= QLatin1Char('9');
    const int value = ok ? number.toInt() : 0;
    if (value < 1 || value > count) {
        *error = count == 1 ? tr("'%1' is not a unit; only unit 1 is served").arg(number)
                            : tr("'%1' is not a unit; units 1 to %2 are served").arg(number).arg(count);
        return false;
    }
    *unit = value;
    *fault = text.mid(slash + 1);
    return true;
}

QString unitServer::faultHelp(int model)
{
    const unitModel *row = unitModels::find(model);
    return row ? row->faultHelp() : QString();
}

void unitServer::count(qint64 bytes, bool incoming)
{
    const int baud = m_unit->line()->baud();
    if (baud == kSlowBaud)
        (incoming ? m_traffic.inSlow : m_traffic.outSlow) += bytes;
    else if (baud == kFastBaud)
        (incoming ? m_traffic.inFast : m_traffic.outFast) += bytes;
    else
        m_traffic.other += bytes;
}

void unitServer::onReceived(QByteArray bytes)
{
    count(bytes.size(), true);
    reportNewViolations();
}

void unitServer::onSent(QByteArray bytes)
{
    count(bytes.size(), false);
}

void unitServer::reportNewViolations()
{
    const QStringList all = m_unit->violations();
    for (int i = m_violationsShown; i < all.size(); ++i)
        emit violationSeen(all.at(i));
    m_violationsShown = all.size();
}

QString unitServer::summaryLine(int job, const QString &target, qint64 size, const traffic &t, const QString &savedAs)
{
    QString line = tr("job %1: %2 flashed, %3 bytes; line 2400 baud in %4 out %5, 9600 baud in %6 out %7")
                       .arg(job)
                       .arg(target)
                       .arg(size)
                       .arg(t.inSlow)
                       .arg(t.outSlow)
                       .arg(t.inFast)
                       .arg(t.outFast);
    if (t.other > 0)
        line += tr(", other speeds %1").arg(t.other);
    if (t.lateNs >= 0)
        line += tr("; replies late by %1 ms in all").arg(double(t.lateNs) / 1e6, 0, 'f', 1);
    if (!savedAs.isEmpty())
        line += tr("; saved as %1").arg(savedAs);
    return line;
}

void unitServer::onJobCompleted(QString target, QByteArray image)
{
    reportNewViolations();
    // Whoever reads the job's line finds its exchanges on disk.
    if (m_turnarounds)
        m_turnarounds->flush();
    // The unit's own share of the time above the line's: how late its
    // timer let the paced replies go.
    if (m_unit->lineRate()) {
        m_traffic.lateNs = m_unit->pacedLateNs() - m_lateCountedNs;
        m_lateCountedNs = m_unit->pacedLateNs();
    }
    emit jobSummary(summaryLine(++m_jobs, target, image.size(), m_traffic, m_unit->savedAs()));
    m_traffic = traffic();
}
