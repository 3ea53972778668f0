#ifndef SECONDUNIT_H
#define SECONDUNIT_H

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

#include "tools/unitsim/ptyline.h"

class QTimer;

// A simulated second-board unit on the master side of a pty: answers the
// start command at 2400 baud, the file-size command, echoes the change-port
// command, then expects 9600 baud for the erase and the data frames.
//
// The image is kept as received: flashedImage() holds the payload of every
// accepted data frame, 0xFF fill included. A job is complete when the unit has
// the announced size (kind 0) or its whole flash region (the other kinds);
// flashedImage() is trimmed to that size. A smaller image of the other kinds
// leaves the job incomplete but flashedImage() still holds what came.
class secondUnit : public QObject
{
    Q_OBJECT

public:
    enum Step { Start, FileSize, ChangePort, Erase, Data, StepCount };

    explicit secondUnit(QObject *parent = nullptr);

    bool open();
    QString portName() const;
    ptyLine *line();

    bool addFault(const QString &faultText, QString *error = nullptr);
    void clearFaults();
    static QString faultHelp();

    QList<QByteArray> frames() const { return m_frames; }
    QStringList violations() const { return m_violations; }
    QByteArray flashedImage() const;
    QString target() const { return m_target; }
    int jobsCompleted() const { return m_jobsCompleted; }
    qint64 announcedSize() const { return m_announced; }
    void reset();

    void setLineRate(bool on) { m_lineRate = on; }

    static constexpr int kDripPauseMs = 20;

signals:
    void jobCompleted(QString target, QByteArray image);
    void frameReceived(QByteArray frame);

private slots:
    void onReceived(QByteArray bytes);
    void onOutputDue();

private:
    enum Phase { WaitStart, WaitFileSize, WaitChangePort, WaitErase, Receiving };
    enum FaultKind { Silence, Nak, Long12, Long13, Garbage, Double, Drip, Split, Close };
    struct Fault
    {
        FaultKind kind;
        int step;       // -1: every step
        int occurrence; // 0: every occurrence
    };

    bool restartPending();
    bool takeFrame();
    int expectedLength() const;
    void handleFrame(const QByteArray &frame);
    void onStart(const QByteArray &frame);
    void onFileSize(const QByteArray &frame);
    void onChangePort(const QByteArray &frame);
    void onErase(const QByteArray &frame);
    void onData(const QByteArray &frame);
    void storePayload(const QByteArray &frame);
    void checkSpeed(Step step, int wanted);
    void violation(const QString &text);
    void reply(Step step, const QByteArray &bytes);
    QList<FaultKind> faultsFor(Step step, int occurrence) const;
    void queueWrite(const QByteArray &bytes, int delayMs);
    int lineDelayMs(int bytes) const;

    ptyLine *m_line;
    QTimer *m_outTimer;
    QList<QPair<int, QByteArray>> m_outQueue;
    QByteArray m_input;
    Phase m_phase = WaitStart;
    QList<Fault> m_faults;
    int m_occurrences[StepCount] = {};
    QList<QByteArray> m_frames;
    QStringList m_violations;
    QByteArray m_image;
    QByteArray m_lastFrame;
    QString m_target;
    int m_frameLength = 34;
    quint8 m_expectedSeq = 0;
    qint64 m_announced = 0;
    qint64 m_imageLimit = 0;
    bool m_jobDone = false;
    int m_jobsCompleted = 0;
    bool m_lineRate = false;
};

#endif // SECONDUNIT_H
