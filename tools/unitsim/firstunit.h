#ifndef FIRSTUNIT_H
#define FIRSTUNIT_H

#include "tools/unitsim/simulatedunit.h"

// A simulated first-board unit: answers the preamble at 2400 baud and the
// stuffed commands at 9600 baud, checks what it receives and keeps the
// flashed bytes.
class firstUnit : public simulatedUnit
{
    Q_OBJECT

public:
    enum Step { Preamble, Confirm, Target, ShakeHand, Verify, Erase, Write, Jump };
    static constexpr int kPreambleBaud = 2400;
    static constexpr int kCommandBaud = 9600;
    static constexpr int kBlockSize = 1024;
    static constexpr int kDripPauseMs = 20;       // between bytes of a dripped reply
    static constexpr int kSplitPauseMs = 100;     // between the halves of a split reply
    static constexpr int kGapMs = 100;            // between garbage or extra frames and a reply
    static constexpr int kExtraFrameFloorMs = 20; // real time, never scaled
    static constexpr quint8 kUnknownCode = 0x7E;
    static constexpr quint8 kUnknownStatus = 0x42;

    explicit firstUnit(QObject *parent = nullptr);

    static QString faultHelp();

    QByteArray flashedImage() const override { return m_image; }
    QString target() const override { return m_target; }
    QByteArray verifyCode() const { return m_verifyCode; }
    void reset() override;

    // A boot loader left running for PROCESSOR ("arm" or "dsp"): it does not
    // hear the preamble, flashes every job into PROCESSOR and refuses (NAK)
    // every verify code but CODE, 4 bytes as the verify command carries them.
    void setRunningFor(const QString &processor, const QByteArray &code);
    // Reads PROCESSOR:CODE, CODE in 8 hex digits; empty, or why not.
    static QString parseRunning(const QString &text, QString *processor, QByteArray *code);

    // A reply as the unit sends it: STX, length, code, n, status, data, CRC, ETX, stuffed.
    static QByteArray buildReply(quint8 code, quint8 status, const QByteArray &data = QByteArray());

protected:
    QString faultProblem(const Fault &fault) const override;
    void receive(const QByteArray &bytes) override;

private:
    void parseInput();
    void handlePreamble(const QByteArray &frame);
    void handleCommand(const QByteArray &frame);
    bool unstuff(const QByteArray &frame, QByteArray *body);
    bool checkPayload(quint8 code, const QByteArray &payload, Step *step);
    void applyCommand(quint8 code, const QByteArray &payload);
    // Sends the reply of one step through the fault switches; false when the
    // unit stays silent or the line is gone, so the step has no effect.
    bool respond(Step step, const QByteArray &reply, quint8 code, int requestBytes);
    void queueReply(const QByteArray &reply, int pauseMs, int requestBytes, const QList<FaultKind> &faults);
    void beginJob();
    bool refusesVerifyCode(const QByteArray &payload) const;

    QByteArray m_rx;
    QByteArray m_image;
    QByteArray m_verifyCode;
    QString m_target;
    bool m_erased = false;
    QString m_runningFor; // empty: the boot loader starts on the preamble
    QByteArray m_runningCode;
};

#endif // FIRSTUNIT_H
