#include "tools/flash/flashfleet.h"

#include <QFileInfo>

#include "tools/flash/flashrun.h"
#include "tools/flash/progressmeter.h"

flashFleet::flashFleet(FILE *log, FILE *errors, const QStringList &ports, QObject *parent)
    : QObject(parent)
    , m_log(log)
{
    const QStringList names = labels(ports);
    m_units.resize(size_t(ports.size()));
    m_pending = ports.size();
    for (int i = 0; i < ports.size(); ++i) {
        unit &u = m_units[size_t(i)];
        u.port = ports.at(i);
        u.label = names.at(i);
        u.clock.start();
        // Redrawing one line in place cannot show several units, so each
        // unit writes a plain line per tenth, terminal or not.
        auto *meter = new progressMeter(errors, false, this);
        u.run = new flashRun(log, errors, meter, this);
        connect(u.run, &flashRun::finished, this, [this, i](int status) { onUnitFinished(i, status); });
    }
}

QStringList flashFleet::labels(const QStringList &ports)
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
int flashFleet::openPackage(const QString &packagePath, const QStringList &only)
{
    const int opened = m_units.front().run->openPackage(packagePath, only);
    if (opened != flashRun::Success)
        return opened;
    for (unit &u : m_units) {
        if (u.run != m_units.front().run)
            u.run->adoptPackage(*m_units.front().run);
        u.run->setLabel(u.label);
    }
    return flashRun::Success;
}

void flashFleet::start()
{
    for (unit &u : m_units) {
        if (u.run->hasEnded())
            continue; // interrupted before the start
        u.clock.restart();
        u.run->start(u.port);
    }
}

// Every unit still running is stopped and its port closed before the exit.
void flashFleet::onInterrupt()
{
    m_interrupted = true;
    for (unit &u : m_units) {
        if (!u.run->hasEnded())
            u.run->onInterrupt();
    }
}

void flashFleet::onUnitFinished(int index, int status)
{
    unit &u = m_units[size_t(index)];
    u.status = status;
    u.elapsedMs = u.clock.elapsed();
    if (--m_pending > 0)
        return;
    for (unit &each : m_units)
        each.run->close();
    printSummary();
    emit finished(exitStatus());
}

int flashFleet::exitStatus() const
{
    if (m_interrupted)
        return flashRun::Interrupted;
    for (const unit &u : m_units) {
        if (u.status != flashRun::Success)
            return flashRun::JobFailed;
    }
    return flashRun::Success;
}

QString flashFleet::resultText(int status)
{
    if (status == flashRun::Success)
        return tr("passed");
    if (status == flashRun::Interrupted)
        return tr("interrupted");
    return tr("failed");
}

void flashFleet::printSummary()
{
    int width = tr("port").size();
    for (const unit &u : m_units)
        width = qMax(width, u.label.size());
    const auto row = [&](const QString &port, const QString &result, const QString &images, const QString &time,
                         const QString &attempts) {
        return port.leftJustified(width + 2) + result.leftJustified(13) + images.leftJustified(10)
            + time.leftJustified(10) + attempts + QLatin1Char('\n');
    };
    QString table = QStringLiteral("\n") + row(tr("port"), tr("result"), tr("images"), tr("time (s)"), tr("attempts"));
    for (const unit &u : m_units) {
        table += row(u.label, resultText(u.status), tr("%1 of %2").arg(u.run->imagesSent()).arg(u.run->imagesTicked()),
                     QString::number(double(u.elapsedMs) / 1000.0, 'f', 1), QStringLiteral("1"));
    }
    std::fputs(table.toUtf8().constData(), m_log);
    std::fflush(m_log);
}
