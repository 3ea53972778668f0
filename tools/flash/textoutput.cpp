#include "tools/flash/textoutput.h"

#include "station/flashfleet.h"
#include "util/printable.h"

#ifndef Q_OS_WIN
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace {

// A terminal is redrawn at most this often; the log lines and the end of
// an image always redraw at once.
constexpr qint64 kRedrawMs = 100;

const char kClearBelow[] = "\r\033[J";

// A status line longer than the terminal is wide would wrap, and the
// block could no longer be wiped by moving up one row per line.
int terminalColumns(FILE *stream)
{
#ifndef Q_OS_WIN
    winsize size {};
    if (::ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 1)
        return size.ws_col;
#else
    Q_UNUSED(stream);
#endif
    return 80;
}

// Terminal columns: two for a wide character (Chinese text), one for the
// rest, so that translated tables and status lines keep their width.
int columnsOf(QChar c)
{
    const ushort u = c.unicode();
    const bool wide = (u >= 0x1100 && u <= 0x115F) || (u >= 0x2E80 && u <= 0xA4CF) || (u >= 0xAC00 && u <= 0xD7A3)
        || (u >= 0xF900 && u <= 0xFAFF) || (u >= 0xFE30 && u <= 0xFE4F) || (u >= 0xFF00 && u <= 0xFF60)
        || (u >= 0xFFE0 && u <= 0xFFE6);
    return wide ? 2 : 1;
}

int columnsOf(const QString &text)
{
    int columns = 0;
    for (const QChar c : text)
        columns += columnsOf(c);
    return columns;
}

QString padded(const QString &text, int columns)
{
    return text + QString(qMax(0, columns - columnsOf(text)), QLatin1Char(' '));
}

QString clipped(const QString &text, int columns)
{
    int used = 0;
    int length = 0;
    while (length < text.size() && used + columnsOf(text.at(length)) <= columns)
        used += columnsOf(text.at(length++));
    return text.left(length);
}

QString resultText(imageResult result)
{
    switch (result) {
    case imageResult::Passed:
        return textOutput::tr("passed");
    case imageResult::Checked:
        return textOutput::tr("checked");
    case imageResult::Interrupted:
        return textOutput::tr("interrupted");
    case imageResult::NotSent:
    case imageResult::Failed:
        break;
    }
    return textOutput::tr("failed");
}

QString resultText(unitResult result)
{
    switch (result) {
    case unitResult::Passed:
        return textOutput::tr("passed");
    case unitResult::Interrupted:
        return textOutput::tr("interrupted");
    case unitResult::None:
        return textOutput::tr("no unit");
    case unitResult::Failed:
        break;
    }
    return textOutput::tr("failed");
}

} // namespace

textOutput::textOutput(FILE *log, FILE *errors, const options &how)
    : m_log(log)
    , m_errors(errors)
    , m_how(how)
{
    m_sinceDraw.start();
}

void textOutput::runStarted(const runFacts &, const QStringList &ports)
{
    m_ports = ports;
    m_labels = flashFleet::portLabels(ports);
    m_meters.resize(ports.size());
    m_counts.fill({0, 0}, ports.size());
    m_status.clear();
    for (int i = 0; i < ports.size(); ++i)
        m_status << QString();
    if (m_how.loop) {
        say(m_log, -1,
            tr("station: each port flashes unit after unit until Ctrl-C. Next unit: unplug the adapter and plug "
               "it in again, or press Enter (with several ports type the port's name or number first; Enter "
               "alone starts every waiting port)."));
    }
}

void textOutput::waiting(int slot, Wait why)
{
    if (why == Wait::PortAbsent) {
        say(m_log, slot, tr("waiting for %1 to appear").arg(m_ports.value(slot)));
        setStatus(slot, tr("waiting for the port"), true);
        return;
    }
    say(m_log, slot, tr("waiting for the next unit"));
    setStatus(slot, tr("waiting for the next unit"), true);
}

void textOutput::unitStarted(int slot, const unitAttempt &attempt)
{
    if (attempt.attempt > 1) {
        say(m_log, slot,
            tr("attempt %1 of %2: starting again from %3")
                .arg(attempt.attempt)
                .arg(m_how.maxAttempts)
                .arg(attempt.images.value(0).name));
    } else if (m_how.loop) {
        say(m_log, slot, tr("unit %1").arg(attempt.unit));
    }
    setStatus(slot, tr("starting"), true);
}

void textOutput::logLine(int slot, Level level, const QString &text)
{
    say(level == Level::Info ? m_log : m_errors, slot, text);
}

void textOutput::progress(int slot, const QString &image, qint64 written, qint64 total)
{
    if (slot < 0 || slot >= m_meters.size())
        return;
    progressMeter &meter = m_meters[slot];
    const QString step = meter.update(image, written, total);
    if (m_how.terminal)
        setStatus(slot, meter.liveText(), false);
    else if (!step.isEmpty())
        say(m_errors, slot, step);
}

void textOutput::imageEnded(int slot, const imageOutcome &image)
{
    if (m_how.terminal && slot >= 0 && slot < m_meters.size())
        setStatus(slot, m_meters[slot].liveText() + QLatin1String("  ") + resultText(image.result), true);
}

void textOutput::unitEnded(int slot, const unitAttempt &attempt)
{
    //: A unit's result and the code of what failed
    const QString outcome = attempt.reason == failReason::None
        ? resultText(attempt.result)
        : tr("%1 (%2)").arg(resultText(attempt.result), codeOf(attempt.reason));
    if (attempt.retrying) {
        say(m_log, slot, tr("attempt %1 %2: trying again").arg(attempt.attempt).arg(outcome));
        setStatus(slot, outcome, true);
        return;
    }
    if (slot >= 0 && slot < m_counts.size()) {
        m_counts[slot].first += attempt.result == unitResult::Passed ? 1 : 0;
        m_counts[slot].second += attempt.result == unitResult::Failed ? 1 : 0;
    }
    const QString counts =
        tr("this port: %1 passed, %2 failed").arg(m_counts.value(slot).first).arg(m_counts.value(slot).second);
    if (m_how.loop)
        say(m_log, slot, tr("unit %1 %2; %3").arg(attempt.unit).arg(outcome, counts));
    setStatus(slot, m_how.loop ? tr("unit %1 %2; %3").arg(attempt.unit).arg(outcome, counts) : outcome, true);
}

void textOutput::runEnded(int, const QList<slotTally> &tallies)
{
    hideBlock();
    m_status.clear(); // the table says the rest
    if (m_how.summary && !tallies.isEmpty())
        printSummary(tallies);
}

QString textOutput::prefix(int slot) const
{
    if (slot < 0 || m_labels.size() < 2)
        return QString();
    return QStringLiteral("[%1] ").arg(m_labels.value(slot));
}

void textOutput::say(FILE *stream, int slot, const QString &text)
{
    hideBlock();
    put(stream, prefix(slot) + printableText(text) + QLatin1Char('\n'));
    drawBlock();
}

void textOutput::setStatus(int slot, const QString &text, bool now)
{
    if (!m_how.terminal || slot < 0 || slot >= m_status.size())
        return;
    m_status[slot] = prefix(slot) + text;
    if (!now && m_sinceDraw.elapsed() < kRedrawMs)
        return;
    hideBlock();
    drawBlock();
}

void textOutput::hideBlock()
{
    if (m_shownLines == 0)
        return;
    put(m_errors, QStringLiteral("\033[%1A").arg(m_shownLines) + QLatin1String(kClearBelow));
    m_shownLines = 0;
}

void textOutput::drawBlock()
{
    if (!m_how.terminal)
        return;
    QString block;
    const int width = terminalColumns(m_errors) - 1;
    for (const QString &line : qAsConst(m_status)) {
        if (!line.isEmpty()) {
            block += clipped(line, width) + QLatin1Char('\n');
            ++m_shownLines;
        }
    }
    if (!block.isEmpty())
        put(m_errors, block);
    m_sinceDraw.restart();
}

void textOutput::put(FILE *stream, const QString &text)
{
    std::fputs(text.toUtf8().constData(), stream);
    std::fflush(stream);
}

void textOutput::printSummary(const QList<slotTally> &tallies)
{
    int width = columnsOf(tr("port"));
    for (const QString &label : qAsConst(m_labels))
        width = qMax(width, columnsOf(label));
    const auto row = [&](const QStringList &cells) {
        QString line = padded(cells.at(0), width + 2) + padded(cells.at(1), 13) + padded(cells.at(2), 10)
            + padded(cells.at(3), 10) + cells.at(4);
        if (m_how.loop)
            line = padded(line, width + 2 + 13 + 10 + 10 + 10) + padded(cells.at(5), 8) + cells.at(6);
        return line + QLatin1Char('\n');
    };
    QString table = QStringLiteral("\n")
        + row({tr("port"), tr("result"), tr("images"), tr("time (s)"), tr("attempts"), tr("passed"), tr("failed")});
    for (int i = 0; i < tallies.size() && i < m_labels.size(); ++i) {
        const slotTally &t = tallies.at(i);
        table += row({m_labels.at(i), resultText(t.lastResult), tr("%1 of %2").arg(t.imagesSent).arg(t.imagesTicked),
                      QString::number(double(t.elapsedMs) / 1000.0, 'f', 1), QString::number(t.attempts),
                      QString::number(t.passed), QString::number(t.failed)});
    }
    put(m_log, table);
}
