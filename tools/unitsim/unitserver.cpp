#include "tools/unitsim/unitserver.h"

#include <QDir>
#include <QFile>

#include "tools/unitsim/firstunit.h"
#include "tools/unitsim/ptyline.h"
#include "tools/unitsim/secondunit.h"

namespace {

constexpr int kSlowBaud = 2400;
constexpr int kFastBaud = 9600;

} // namespace

unitServer::unitServer(int model, QObject *parent)
    : QObject(parent)
{
    if (model == 0)
        m_first = new firstUnit(this);
    else
        m_second = new secondUnit(this);
}

// Both units offer the same calls; this runs one on whichever is served.
template <typename F> auto unitServer::visit(F &&f) const
{
    return m_first ? f(m_first) : f(m_second);
}

bool unitServer::open()
{
    if (!visit([](auto *unit) { return unit->open(); }))
        return false;
    ptyLine *line = visit([](auto *unit) { return unit->line(); });
    // Connected after the unit's own connection, so the unit has already
    // taken in the bytes when they are counted and checked here.
    connect(line, &ptyLine::received, this, &unitServer::onReceived);
    connect(line, &ptyLine::sent, this, &unitServer::onSent);
    if (m_first)
        connect(m_first, &firstUnit::jobCompleted, this, &unitServer::onJobCompleted);
    else
        connect(m_second, &secondUnit::jobCompleted, this, &unitServer::onJobCompleted);
    return true;
}

QString unitServer::portName() const
{
    return visit([](auto *unit) { return unit->portName(); });
}

bool unitServer::addFault(const QString &faultText, QString *error)
{
    return visit([&](auto *unit) { return unit->addFault(faultText, error); });
}

void unitServer::setLineRate(bool on)
{
    visit([on](auto *unit) { unit->setLineRate(on); });
}

QString unitServer::faultHelp(int model)
{
    return model == 0 ? firstUnit::faultHelp() : secondUnit::faultHelp();
}

void unitServer::count(qint64 bytes, bool incoming)
{
    const int baud = visit([](auto *unit) { return unit->line()->baud(); });
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
    const QStringList all = visit([](auto *unit) { return unit->violations(); });
    for (int i = m_violationsShown; i < all.size(); ++i)
        emit violationSeen(all.at(i));
    m_violationsShown = all.size();
}

QString unitServer::saveName(const QString &target, int repeat)
{
    const QString base = target.isEmpty() ? QStringLiteral("image") : target;
    return repeat <= 1 ? base + QStringLiteral(".bin")
                       : QStringLiteral("%1-%2.bin").arg(base).arg(repeat);
}

QString unitServer::save(const QString &target, const QByteArray &image)
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

QString unitServer::summaryLine(int job, const QString &target, qint64 size, const traffic &t,
                                const QString &savedAs)
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
    if (!savedAs.isEmpty())
        line += tr("; saved as %1").arg(savedAs);
    return line;
}

void unitServer::onJobCompleted(QString target, QByteArray image)
{
    reportNewViolations();
    const QString savedAs = save(target, image);
    emit jobSummary(summaryLine(++m_jobs, target, image.size(), m_traffic, savedAs));
    m_traffic = traffic();
}
