#ifndef FLASHOUTPUT_H
#define FLASHOUTPUT_H

#include <QList>
#include <QString>
#include <QStringList>

#include "station/unitrecord.h"

// Per port at the end of a run: how many units passed and failed.
struct slotTally
{
    int passed = 0;
    int failed = 0;
    int attempts = 0;     // of the port's last unit
    qint64 elapsedMs = 0; // of the port's last unit, every attempt
    unitResult lastResult = unitResult::None;
    int imagesSent = 0; // of the last unit, over its attempts
    int imagesTicked = 0;
};

// Where ups-flash tells what happens: text for people, events for programs.
// The flasher decides once which one it has. A slot is the index of a port
// in the command line; -1 stands for the run as a whole (the package).
class flashOutput
{
public:
    enum class Level { Info, Warning, Error };
    enum class Wait { PortAbsent, NextUnit };

    virtual ~flashOutput() = default;

    virtual void runStarted(const runFacts &facts, const QStringList &ports) = 0;
    virtual void waiting(int slot, Wait why) = 0;
    virtual void unitStarted(int slot, const unitAttempt &attempt) = 0;
    virtual void logLine(int slot, Level level, const QString &text) = 0;
    virtual void progress(int slot, const QString &image, qint64 written, qint64 total) = 0;
    virtual void imageEnded(int slot, const imageOutcome &image) = 0;
    virtual void unitEnded(int slot, const unitAttempt &attempt) = 0;
    virtual void runEnded(int exitStatus, const QList<slotTally> &tallies) = 0;
};

#endif // FLASHOUTPUT_H
