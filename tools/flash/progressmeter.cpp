#include "tools/flash/progressmeter.h"

namespace {

QString clockText(qint64 seconds)
{
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

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

// The engines' first report of a job (0 of a nominal total) gives no line;
// a count that goes back is the engine starting the image again.
QString progressMeter::update(const QString &image, qint64 written, qint64 total)
{
    if (image != m_image || written < m_written || written == 0 || !m_clock.isValid()) {
        m_image = image;
        m_lastTenth = 0;
        m_clock.start();
    }
    m_written = written;
    m_total = total;
    const int tenth = percentOf(written, total) / 10;
    if (tenth <= m_lastTenth)
        return QString();
    m_lastTenth = tenth;
    return formatStep(image, tenth * 10, written, total);
}

QString progressMeter::liveText() const
{
    const double seconds = m_clock.isValid() ? double(m_clock.elapsed()) / 1000.0 : 0.0;
    const double rate = seconds > 0 ? double(m_written) / seconds : 0.0;
    return formatLive(m_image, m_written, m_total, rate);
}
