#ifndef PROGRESS_H
#define PROGRESS_H

#include <QByteArray>
#include <QString>
#include <QTimer>

#include "protocol/first/firstcodec.h"
#include "protocol/updateengine.h"

#include "serial/serialport.h"
#include "protocol/updateparm.h"

// First board engine: preamble at 2400 baud, then stuffed STX/ETX commands
// with a CRC-16 at 9600 baud (shake hand, verify, erase, blocks, jump).
class progress : public updateEngine
{
    Q_OBJECT

public:
    enum Step {
        StepPreambleStart = 0,
        StepPreambleConfirm = 1,
        StepPreambleTarget = 2,
        StepShakeHand = 3,
        StepVerify = 4,
        StepErase = 5,
        StepWriteFlash = 6,
        StepJump = 7,
        StepDone = 8,
    };

    enum ControlByte : quint8 {
        STX = 0x02, // start of a framed command or reply
        ETX = 0x03, // end of a framed command or reply
        DLE = 0x10, // stuffing escape: DLE, value + 0x20
        ACK = 0x06, // reply status: done
        NAK = 0x15, // reply status: refused, handled as a timeout
    };

    enum Command : quint8 {
        CmdJump = 0x04,       // start the flashed firmware
        CmdShakeHand = 0x11,  // are you there
        CmdWriteFlash = 0x12, // one 1024-byte block
        CmdVerify = 0x13,     // 4-byte verify code of the image
        CmdErase = 0x14,      // erase the flash
    };

    static constexpr int kPreambleBaud = 2400;
    static constexpr int kCommandBaud = 9600;
    static constexpr int kPreambleTimeoutMs = 5000;
    static constexpr int kTargetDelayMs = 500;
    static constexpr int kTargetTimeoutMs = 3000;
    static constexpr int kShakeHandTimeoutMs = 2000;
    static constexpr int kCommandTimeoutMs = 7000;
    static constexpr int kDoneWaitMs = 3000;
    static constexpr int kMaxShakeHands = 10;
    // Per job: a unit that refuses or ignores its erase this often, or
    // loses a block of every rewrite, will not take the image.
    static constexpr int kMaxFailedErases = 5;
    static constexpr int kMaxRewrites = 5;
    static constexpr int kBlockSize = 1024;
    // Worst case: a write frame of 1031 bytes with every inner byte stuffed.
    static constexpr int kSendBufferSize = 2 * (kBlockSize + 7);

    struct Frame
    {
        quint8 senddata[kSendBufferSize];
        int step;
        quint16 sendlen;
        int retry;
    };

    progress(serialport *port, QObject *parent = nullptr);

    // Frame builders: each writes step, the frame from offset 0 and sendlen.
    void buildPreambleStart();
    void buildPreambleConfirm();
    void buildPreambleTarget(int imageIndex);
    void buildShakeHand();
    void buildVerify(const quint8 code[4]);
    void buildErase();
    void buildJump();
    int buildNextBlock(); // 0 read failure, 1 frame built, 2 nothing left
    bool readVerifyCode(quint8 code[4], int imageIndex);
    bool readVerifyCodeOf(const QByteArray &image, quint8 code[4], int imageIndex);

    const Frame &frame() const { return m_frame; }
    // Received bytes held towards a reply.
    int pendingReplyBytes() const { return m_decoder.held().size(); }
    bool isBusy() const override { return m_timer->isActive() || m_targetPause->isActive(); }
    bool checkImage(int imageIndex, const QByteArray &image) override;

public slots:
    void initParm(updateParm data) override;
    void receiveData(QByteArray data) override;
    void stop() override;

private slots:
    void timeout();
    void onTargetPauseOver();

private:
    void sendFrame(int timeoutMs, bool preambleMode, int retry);
    void buildCommand(int step, quint8 code, const quint8 *payload, int payloadLength);
    void setFrame(const QByteArray &frame, int step);
    void stuffFrame();
    void sendCommand(int timeoutMs, int retry);
    void sendShakeHand(int retry);
    void sendErase();
    void clearReceived();
    void failJob(FailReason reason, const QString &line); // empty line: already logged
    void giveUp(FailReason reason, const QString &step, Trouble trouble);
    void goOnWithoutChoice();
    void onEraseFailed(Trouble trouble);
    void onWriteFailed(Trouble trouble);
    void onShakeHandAcknowledged();
    void onVerifyAcknowledged();
    void onEraseAcknowledged();
    void onBlockAcknowledged();
    void onJumpAcknowledged();
    void onPreambleStartAnswered();
    void onPreambleConfirmAnswered();
    void reopenForCommands();
    void parsePreamble();
    void handleReply(const firstCodec::Reply &reply);

    int m_modelId;
    int m_imageIndex;
    int m_row;
    QString m_imagePath;
    QByteArray m_image;
    QString m_portName;
    qint64 m_fileSize;
    qint64 m_writtenSize;
    Frame m_frame;
    bool m_preambleMode;
    QTimer *m_timer;
    // The pause before the processor choice, a step of its own: the event
    // loop runs on, and stop() or a new job simply ends it.
    QTimer *m_targetPause;
    serialport *m_port;
    firstCodec::decoder m_decoder;
    // Counts jobs so that a job replaced while the port's warning is shown
    // stops there.
    quint32 m_jobSerial = 0;
    int m_failedErases = 0;
    int m_rewrites = 0;
    // Why timeout() runs: its timer, unless a reply stood in for it.
    Trouble m_trouble = NoAnswer;
};

#endif // PROGRESS_H
