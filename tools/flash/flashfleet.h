#ifndef FLASHFLEET_H
#define FLASHFLEET_H

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <vector>

class flashRun;
class progressMeter;

// The same package flashed into several units at once: one run, and so one
// update core and one line, per port, all in one event loop. The package is
// unpacked and checked once, before any port opens; every other run takes
// over that listing. A unit that fails ends only its own run; the exit
// status and a summary table come when every run has ended.
class flashFleet : public QObject
{
    Q_OBJECT

public:
    flashFleet(FILE *log, FILE *errors, const QStringList &ports, QObject *parent = nullptr);

    // The name each port's lines carry: the file name of its path, or the
    // whole path where two ports share a file name.
    static QStringList labels(const QStringList &ports);

    // Success, or flashRun::UsageError after saying why (nothing opened).
    int openPackage(const QString &packagePath, const QStringList &only);
    void start();

public slots:
    void onInterrupt();

signals:
    void finished(int exitStatus);

private:
    struct unit
    {
        QString port;
        QString label;
        flashRun *run = nullptr;
        QElapsedTimer clock;
        qint64 elapsedMs = 0;
        int status = -1;
    };

    void onUnitFinished(int index, int status);
    int exitStatus() const;
    void printSummary();
    static QString resultText(int status);

    FILE *m_log;
    std::vector<unit> m_units;
    int m_pending = 0;
    bool m_interrupted = false;
};

#endif // FLASHFLEET_H
