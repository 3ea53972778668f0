#ifndef JSONOUTPUT_H
#define JSONOUTPUT_H

#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>

#include <cstdio>

#include "station/flashoutput.h"

// JSON Lines for programs: one object per event on one stream, each with
// the schema version, the time (UTC, milliseconds), the event's name and
// its port (null for the run as a whole). docs/events.md describes them.
class jsonOutput : public flashOutput
{
public:
    explicit jsonOutput(FILE *out);

    void runStarted(const runFacts &facts, const QStringList &ports) override;
    void waiting(int slot, Wait why) override;
    void unitStarted(int slot, const unitAttempt &attempt) override;
    void logLine(int slot, Level level, const QString &text) override;
    void progress(int slot, const QString &image, qint64 written, qint64 total) override;
    void imageEnded(int slot, const imageOutcome &image) override;
    void unitEnded(int slot, const unitAttempt &attempt) override;
    void runEnded(int exitStatus, const QList<slotTally> &tallies) override;

private:
    void emitEvent(const char *name, int slot, QJsonObject fields);

    FILE *m_out;
    QStringList m_ports;
    QHash<int, int> m_percent; // the last percent told, per slot
    QElapsedTimer m_clock;
};

#endif // JSONOUTPUT_H
