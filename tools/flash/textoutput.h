#ifndef TEXTOUTPUT_H
#define TEXTOUTPUT_H

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QVector>

#include <cstdio>

#include "station/flashoutput.h"
#include "tools/flash/progressmeter.h"

// Text for people. Log lines go to one stream, warnings, errors and
// progress to the other. With several ports every line starts with the
// port's name. On a terminal each port has one status line at the bottom,
// redrawn in place (image, percent, bytes, time left) below the log lines;
// elsewhere a port writes a plain line each time a tenth of an image is
// done. A table ends a run of several ports or of a station loop.
class textOutput : public flashOutput
{
    Q_DECLARE_TR_FUNCTIONS(textOutput)

public:
    struct options
    {
        bool terminal = false; // the progress stream is a terminal
        bool summary = false;  // end with the table
        bool loop = false;
        int maxAttempts = 1;
    };

    textOutput(FILE *log, FILE *errors, const options &how);

    void runStarted(const runFacts &facts, const QStringList &ports) override;
    void waiting(int slot, Wait why) override;
    void unitStarted(int slot, const unitAttempt &attempt) override;
    void logLine(int slot, Level level, const QString &text) override;
    void progress(int slot, const QString &image, qint64 written, qint64 total) override;
    void imageEnded(int slot, const imageOutcome &image) override;
    void unitEnded(int slot, const unitAttempt &attempt) override;
    void runEnded(int exitStatus, const QList<slotTally> &tallies) override;

private:
    QString prefix(int slot) const;
    void say(FILE *stream, int slot, const QString &text);
    void setStatus(int slot, const QString &text, bool now);
    void hideBlock();
    void drawBlock();
    void put(FILE *stream, const QString &text);
    void printSummary(const QList<slotTally> &tallies);

    FILE *m_log;
    FILE *m_errors;
    options m_how;
    QStringList m_ports;
    QStringList m_labels;
    QVector<progressMeter> m_meters;
    QStringList m_status;              // each port's line at the bottom of a terminal
    QVector<QPair<int, int>> m_counts; // units passed and failed, per port
    int m_shownLines = 0;
    QElapsedTimer m_sinceDraw;
};

#endif // TEXTOUTPUT_H
