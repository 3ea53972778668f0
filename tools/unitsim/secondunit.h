#ifndef SECONDUNIT_H
#define SECONDUNIT_H

#include "tools/unitsim/simulatedunit.h"

// A simulated second-board unit: answers the start command at 2400 baud, the
// file-size command, echoes the change-port command, then expects 9600 baud
// for the erase and the data frames.
//
// The image is kept as received: flashedImage() holds the payload of every
// accepted data frame, 0xFF fill included. A job is complete when the unit has
// the announced size (kind 0) or its whole flash region (the other kinds);
// flashedImage() is trimmed to that size. A smaller image of the other kinds
// leaves the job incomplete but flashedImage() still holds what came.
class secondUnit : public simulatedUnit
{
    Q_OBJECT

public:
    enum Step { Start, FileSize, ChangePort, Erase, Data };
    static constexpr int kDripPauseMs = 20; // between the pieces of a dripped or split reply

    explicit secondUnit(QObject *parent = nullptr);

    static QString faultHelp();

    QByteArray flashedImage() const override;
    QString target() const override { return m_target; }
    qint64 announcedSize() const { return m_announced; }
    void reset() override;

protected:
    void receive(const QByteArray &bytes) override;

private:
    enum Phase { WaitStart, WaitFileSize, WaitChangePort, WaitErase, Receiving };

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
    void reply(Step step, const QByteArray &bytes);
    void queuePieces(const QByteArray &bytes, const QList<FaultKind> &faults);

    QByteArray m_input;
    Phase m_phase = WaitStart;
    QByteArray m_image;
    QByteArray m_lastFrame;
    QString m_target;
    int m_frameLength = 34;
    quint8 m_expectedSeq = 0;
    qint64 m_announced = 0;
    qint64 m_imageLimit = 0;
    bool m_jobDone = false;
};

#endif // SECONDUNIT_H
