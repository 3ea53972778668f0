#ifndef SIMULATEDUNIT_H
#define SIMULATEDUNIT_H

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include "tools/unitsim/ptyline.h"

class paceTimer;
class QTimer;

// What every simulated unit shares, whatever its boot-loader protocol: the
// unit's end of the virtual line, replies paced on their way out, faults
// asked for as KIND[:STEP][@N], the frames seen, the protocol violations
// found (line speed included) and the flashed images saved on completion.
// A model adds its protocol: how frames are cut, checked and answered.
class simulatedUnit : public QObject
{
    Q_OBJECT

public:
    enum FaultKind { Silence, Nak, Garbage, UnknownCode, BadStatus, Long12, Long13, Double, Drip, Split, Close };
    static constexpr int kEveryStep = -1;
    static constexpr int kEveryOccurrence = 0;
    static constexpr int kBitsPerByte = 10; // start, 8 data, stop

    struct Fault
    {
        FaultKind kind;
        int step;       // index into the model's steps, or kEveryStep
        int occurrence; // N-th answer to the step, or kEveryOccurrence
    };
    // The names a model's faults can use, with a line of help each (marked
    // for translation in the context "simulatedUnit").
    struct KindHelp
    {
        FaultKind kind;
        const char *help;
    };
    struct StepName
    {
        const char *name;
        const char *alias; // another accepted name, or nullptr
        const char *help;
    };
    struct Grammar
    {
        QList<KindHelp> kinds;
        QList<StepName> steps;
    };

    ~simulatedUnit() override;

    bool open();
    QString portName() const;
    ptyLine *line() const { return m_line; }

    bool addFault(const QString &faultText, QString *error = nullptr);
    void clearFaults() { m_faults.clear(); }
    QList<Fault> faults() const { return m_faults; }
    static QString grammarHelp();
    static QString kindName(FaultKind kind);

    // Pacing: each byte leaves no sooner than it could cross the line at the
    // speed in effect, and a reply waits for its request to have crossed.
    void setLineRate(bool on) { m_lineRate = on; }
    bool lineRate() const { return m_lineRate; }
    // Whole milliseconds that BYTES take on the line, rounded up so that a
    // byte never arrives before its last bit could have.
    static int wireMs(int bytes, int baud);
    // The same to the nanosecond, rounded up.
    static qint64 wireNs(int bytes, int baud);
    // What a USB adapter adds to each reply: it holds received bytes until
    // its latency timer runs out. In unit time, scaled like the wire time.
    void setReplyLatencyMs(double ms) { m_replyLatencyNs = qint64(ms * 1e6); }
    // How much later than due the paced pieces left, in all: the share of
    // the unit's own wake-ups in a run's time.
    qint64 pacedLateNs() const { return m_pacedLateNs; }

    void setSaveDir(const QString &dir) { m_saveDir = dir; }
    // Where the image of the last completed job went (or why it did not);
    // empty without a save dir.
    QString savedAs() const { return m_savedAs; }
    static QString saveName(const QString &target, int repeat);

    QList<QByteArray> frames() const { return m_frames; }
    QStringList violations() const { return m_violations; }
    int jobsCompleted() const { return m_jobsCompleted; }
    virtual QByteArray flashedImage() const = 0;
    virtual QString target() const = 0;
    // Forgets the traffic and the jobs; faults stay.
    virtual void reset();

signals:
    void jobCompleted(QString target, QByteArray image);
    void frameReceived(QByteArray frame);
    // From the last byte of a reply leaving to the first byte of whatever
    // the tool sends next: the tool's own turnaround, line time excluded.
    void turnaround(qint64 ns);

protected:
    simulatedUnit(const Grammar &grammar, QObject *parent);

    static QString faultHelp(const Grammar &grammar);
    // Why a well-formed fault makes no sense for the model; empty when it does.
    virtual QString faultProblem(const Fault &fault) const;
    // Counts one more answer to STEP and returns the kinds of fault that hit it.
    QList<FaultKind> faultsOnAnswer(int step);
    QString stepName(int step) const;

    virtual void receive(const QByteArray &bytes) = 0;
    void recordFrame(const QByteArray &frame);
    void violation(const QString &text) { m_violations.append(text); }
    void checkSpeed(int expectedBaud, const QString &what);
    void completeJob(const QString &target, const QByteArray &image);

    // Queues BYTES to leave PAUSEMS of unscaled unit time after what is
    // queued before them. When paced they also wait for their own wire time
    // and that of the REQUESTBYTES they answer; a piece that answers a
    // request (REQUESTBYTES above 0) also waits for the reply latency, all
    // counted from the request's arrival when nothing is queued before it. The
    // scaled wait is at least MINIMUMMS, so that the pieces of a reply can
    // be kept apart.
    void enqueue(const QByteArray &bytes, int pauseMs, int requestBytes = 0, int minimumMs = 0);
    // The cable is pulled: nothing queued goes out any more.
    void closeLine();

private slots:
    void onReceived(QByteArray bytes);
    void onSendTimer();

private:
    struct Chunk
    {
        QByteArray bytes;
        qint64 delayNs; // scaled, after the chunk before
    };

    QString parseFault(const QString &faultText, Fault *fault) const;
    int stepIndex(const QString &name) const;
    // FROMNS: when the wait starts (the request's arrival); 0 is now.
    void scheduleNext(qint64 fromNs = 0);
    QString save(const QString &target, const QByteArray &image);

    const Grammar &m_grammar;
    ptyLine *m_line;
    paceTimer *m_sendTimer; // paced replies
    QTimer *m_msTimer;      // unpaced ones
    QList<Chunk> m_out;
    QList<Fault> m_faults;
    QHash<int, int> m_answers;
    QList<QByteArray> m_frames;
    QStringList m_violations;
    QString m_saveDir;
    QHash<QString, int> m_saved;
    QString m_savedAs;
    int m_jobsCompleted = 0;
    bool m_lineRate = false;
    qint64 m_replyLatencyNs = 0;
    qint64 m_replyEndNs = 0;  // when the last reply left, until the tool speaks
    qint64 m_requestInNs = 0; // when the last request came, until answered
    qint64 m_dueNs = 0;       // when the paced piece on its way is due
    qint64 m_pacedLateNs = 0;
};

#endif // SIMULATEDUNIT_H
