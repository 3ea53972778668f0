#ifndef FLASHFLEET_H
#define FLASHFLEET_H

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <vector>

#include "package/packagesignature.h"
#include "package/zip.h"
#include "station/flashoutput.h"
#include "station/unitrecord.h"

class flashRun;

// The same package flashed into the units on several ports at once: one
// run, and so one update core and one line, per port, all in one event
// loop. The package is unpacked and checked once, before any port opens;
// every other run takes over that listing. A unit that fails ends only its
// own run. Around each unit: waiting for its port, retries from the image
// that failed, a report line per attempt, and in a station loop the next
// unit on the same port.
class flashFleet : public QObject
{
    Q_OBJECT

public:
    struct options
    {
        int retries = 0;
        bool waitForPort = false;
        bool loop = false;
        QString reportPath; // empty: no report
        // A slot starts only on the operator's request, never when its
        // port appears.
        bool startOnRequest = false;
        // A slot does not start without its unit's serial number.
        bool serialRequired = false;
        QStringList slotNames; // the report's "slot"; empty: the port labels
    };

    flashFleet(flashOutput *out, const QStringList &ports, const options &how, QObject *parent = nullptr);
    ~flashFleet() override;

    // Success, or flashRun::UsageError after saying why (nothing opened).
    int openPackage(const packageBytes &package, const QStringList &only, const trustedKeys &trust);
    void setRunFacts(const runFacts &facts) { m_facts = facts; }
    void start();
    // The serial number of the slot's next unit; it is spent when that
    // unit ends.
    void setUnitSerial(int slot, const QString &serial);
    signatureVerdict::Kind signatureKind() const;

    // Whether a serial port is there now: a device path exists, or the
    // system lists the port name.
    static bool portPresent(const QString &port);
    // The name each port's lines carry: the file name of its path, or the
    // whole path where two ports share a file name.
    static QStringList portLabels(const QStringList &ports);

public slots:
    void onInterrupt(int signalNumber);
    // The operator's request in a station loop: empty starts every port
    // waiting for its next unit; a port's label, name or number (from 1)
    // starts that one only.
    void startNextOnRequest(const QString &request);

signals:
    void finished(int exitStatus);

private:
    enum class State { Idle, WaitingPort, Running, RetryPause, WaitingNext, Done };

    struct slot
    {
        QString port;
        QString label;
        QString name;
        QString unitSerial;
        flashRun *run = nullptr;
        State state = State::Idle;
        int unit = 0;
        bool portWentAway = false;
        adapterFacts adapter;
        QElapsedTimer clock;
        slotTally tally;
    };

    void beginUnit(int index);
    void awaitRequest(int index);
    void launchUnit(int index);
    bool mayStart(const slot &s) const;
    void onAttemptEnded(int index, int status);
    void retryUnit(int index);
    void unitDone(int index, unitResult result);
    void recordInterruptedRetry(int index);
    void record(int index, const unitAttempt &attempt);
    void pollPorts();
    void finishIfDone();
    int exitStatus() const;

    flashOutput *m_out;
    options m_how;
    runFacts m_facts;
    std::vector<slot> m_slots;
    QTimer m_poll;
    bool m_interrupted = false;
    int m_interruptStatus = 0; // the exit status the signal asks for
    bool m_unitInterrupted = false;
    bool m_reportFailed = false;
    bool m_ended = false;
};

#endif // FLASHFLEET_H
