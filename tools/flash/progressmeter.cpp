#include "tools/flash/progressmeter.h"

namespace {

const char kWipeLine[] = "\r\033[K";

QString clockText(qint64 seconds)
{
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

progressMeter::progressMeter(FILE *out, bool terminal, QObject *parent)
    : QObject(parent)
    , m_out(out)
    , m_terminal(terminal)
{
}

void progressMeter::setImageName(int row, const QString &name)
{
    m_names.insert(row, name);
}

int progressMeter::percentOf(qint64 written, qint64 total)
{
    if (total <= 0 || written <= 0)
        return 0;
    if (written >= total)
        return 100;
    return int(written * 100 / total);
}

QString progressMeter::formatLive(const QString &name, qint64 written, qint64 total, double bytesPerSecond)
{
    const QString left = bytesPerSecond > 0
        ? clockText(qint64(double(qMax<qint64>(0, total - written)) / bytesPerSecond))
        : QStringLiteral("-:--");
    return tr("%1 %2% %3/%4 bytes %5 B/s %6 left")
        .arg(name)
        .arg(percentOf(written, total), 3)
        .arg(written)
        .arg(total)
        .arg(qint64(bytesPerSecond))
        .arg(left);
}

QString progressMeter::formatStep(const QString &name, int percent, qint64 written, qint64 total)
{
    return tr("%1: %2% (%3 of %4 bytes)").arg(name).arg(percent).arg(written).arg(total);
}

void progressMeter::onProgress(int row, qlonglong written, qlonglong total)
{
    if (row != m_row)
        beginRow(row);
    if (written < m_written || written == 0) {
        m_lastTenth = 0; // a new start of the image, or the engine starts it again
        m_clock.restart();
    }
    m_written = written;
    m_total = total;
    if (m_terminal)
        drawLive();
    else
        writeStep();
}

void progressMeter::beginRow(int row)
{
    endLine();
    m_row = row;
    m_written = 0;
    m_total = 0;
    m_lastTenth = 0;
    m_clock.start();
}

void progressMeter::drawLive()
{
    const double seconds = double(m_clock.elapsed()) / 1000.0;
    const double rate = seconds > 0 ? double(m_written) / seconds : 0.0;
    put(QLatin1String(kWipeLine) + m_prefix + formatLive(m_names.value(m_row), m_written, m_total, rate));
    m_lineShown = true;
}

// A plain line each time another tenth of the image is done; the engines'
// first report of a job (0 of a nominal total) prints nothing.
void progressMeter::writeStep()
{
    const int tenth = percentOf(m_written, m_total) / 10;
    if (tenth <= m_lastTenth)
        return;
    m_lastTenth = tenth;
    put(m_prefix + formatStep(m_names.value(m_row), tenth * 10, m_written, m_total) + QLatin1Char('\n'));
}

void progressMeter::hideLine()
{
    if (m_terminal && m_lineShown)
        put(QLatin1String(kWipeLine));
}

void progressMeter::showLine()
{
    if (m_terminal && m_lineShown)
        drawLive();
}

void progressMeter::endLine()
{
    if (m_terminal && m_lineShown)
        put(QStringLiteral("\n"));
    m_lineShown = false;
}

void progressMeter::put(const QString &text)
{
    std::fputs(text.toUtf8().constData(), m_out);
    std::fflush(m_out);
}
