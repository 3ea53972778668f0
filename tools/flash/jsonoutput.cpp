#include "tools/flash/jsonoutput.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>

namespace {

QString levelName(flashOutput::Level level)
{
    switch (level) {
    case flashOutput::Level::Warning:
        return QStringLiteral("warning");
    case flashOutput::Level::Error:
        return QStringLiteral("error");
    case flashOutput::Level::Info:
        break;
    }
    return QStringLiteral("info");
}

double seconds(qint64 ms)
{
    return double(ms) / 1000.0;
}

using unitRecord::textOrNull;

} // namespace

jsonOutput::jsonOutput(FILE *out)
    : m_out(out)
{
    m_clock.start();
}

void jsonOutput::runStarted(const runFacts &facts, const QStringList &ports)
{
    m_ports = ports;
    emitEvent("run-start", -1,
              {{QStringLiteral("tool"), facts.tool},
               {QStringLiteral("version"), facts.version},
               {QStringLiteral("host"), facts.host},
               {QStringLiteral("station"), facts.station},
               {QStringLiteral("package"), facts.packageName},
               {QStringLiteral("package_sha256"), textOrNull(facts.packageSha256)},
               {QStringLiteral("ports"), QJsonArray::fromStringList(ports)}});
}

void jsonOutput::waiting(int slot, Wait why)
{
    emitEvent("wait", slot,
              {{QStringLiteral("why"),
                why == Wait::PortAbsent ? QStringLiteral("port-absent") : QStringLiteral("next-unit")}});
}

void jsonOutput::unitStarted(int slot, const unitAttempt &attempt)
{
    QJsonArray images;
    for (const imageOutcome &image : attempt.images)
        images.append(image.name);
    m_percent.remove(slot);
    emitEvent("unit-start", slot,
              {{QStringLiteral("unit"), attempt.unit},
               {QStringLiteral("attempt"), attempt.attempt},
               {QStringLiteral("model"), attempt.model},
               {QStringLiteral("images"), images}});
}

void jsonOutput::logLine(int slot, Level level, const QString &text)
{
    emitEvent("log", slot, {{QStringLiteral("level"), levelName(level)}, {QStringLiteral("text"), text}});
}

// One event per whole percent: enough to draw a bar, few enough to read.
void jsonOutput::progress(int slot, const QString &image, qint64 written, qint64 total)
{
    const int percent = total > 0 ? int(qBound<qint64>(0, written, total) * 100 / total) : 0;
    if (m_percent.value(slot, -1) == percent)
        return;
    m_percent.insert(slot, percent);
    emitEvent("progress", slot,
              {{QStringLiteral("image"), image},
               {QStringLiteral("bytes"), written},
               {QStringLiteral("total"), total},
               {QStringLiteral("percent"), percent}});
}

void jsonOutput::imageEnded(int slot, const imageOutcome &image)
{
    m_percent.remove(slot);
    QJsonObject fields = unitRecord::imageJson(image);
    fields.insert(QStringLiteral("image"), fields.take(QStringLiteral("name")));
    emitEvent("image-end", slot, fields);
}

void jsonOutput::unitEnded(int slot, const unitAttempt &attempt)
{
    emitEvent("unit-end", slot,
              {{QStringLiteral("unit"), attempt.unit},
               {QStringLiteral("attempt"), attempt.attempt},
               {QStringLiteral("result"), codeOf(attempt.result)},
               {QStringLiteral("reason"), textOrNull(codeOf(attempt.reason))},
               {QStringLiteral("last_line"), textOrNull(attempt.lastLine)},
               {QStringLiteral("images_passed"), attempt.imagesPassed()},
               {QStringLiteral("images_total"), attempt.images.size()},
               {QStringLiteral("seconds"), seconds(attempt.start.msecsTo(attempt.end))},
               {QStringLiteral("retrying"), attempt.retrying}});
}

void jsonOutput::runEnded(int exitStatus, const QList<slotTally> &tallies)
{
    QJsonArray units;
    for (int i = 0; i < tallies.size(); ++i) {
        units.append(QJsonObject {{QStringLiteral("port"), m_ports.value(i)},
                                  {QStringLiteral("passed"), tallies.at(i).passed},
                                  {QStringLiteral("failed"), tallies.at(i).failed}});
    }
    emitEvent("run-end", -1,
              {{QStringLiteral("status"), exitStatus},
               {QStringLiteral("seconds"), seconds(m_clock.elapsed())},
               {QStringLiteral("units"), units}});
}

void jsonOutput::emitEvent(const char *name, int slot, QJsonObject fields)
{
    fields.insert(QStringLiteral("schema"), unitRecord::kSchemaVersion);
    fields.insert(QStringLiteral("time"), unitRecord::timeText(QDateTime::currentDateTimeUtc()));
    fields.insert(QStringLiteral("event"), QLatin1String(name));
    fields.insert(QStringLiteral("port"), slot >= 0 ? QJsonValue(m_ports.value(slot)) : QJsonValue());
    const QByteArray line = QJsonDocument(fields).toJson(QJsonDocument::Compact) + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), m_out);
    std::fflush(m_out);
}
