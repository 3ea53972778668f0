#ifndef PROGRESS1_H
#define PROGRESS1_H

#include <QByteArray>
#include <QString>
#include <QTimer>

#include "protocol/second/secondcodec.h"
#include "protocol/updateengine.h"
#include "serial/serialport.h"
#include "protocol/updateparm.h"
#include "util/modeltable.h"

// Second board engine: signature test, Modbus-style start command at 2400
// baud, switch to 9600 baud, erase, XOR-protected data frames.
class progress1 : public updateEngine
{
    Q_OBJECT

public:
    enum State {
        Handshake = 0,
        ChangePortDue = 1,
        FileSizeDue = 2,
        FileSizeSent = 3,
        ChangePortSent = 4,
        PortChanged = 5,
        Erasing = 6,
        Updating = 7,
        Finishing = 8,
    };

    static constexpr int kHandshakeBaud = 2400;
    static constexpr int kDataBaud = 9600;
    static constexpr int kHandshakeIntervalMs = 3000;
    static constexpr int kCommandPauseMs = 6000;
    static constexpr int kFileSizeTimeoutMs = 5000;
    static constexpr int kChangePortIntervalMs = 1000;
    static constexpr int kPortChangedPauseMs = 3000;
    static constexpr int kEraseTimeoutMs = 25000;
    static constexpr int kFrameTimeoutMs = 8000;
    static constexpr int kFinishWaitMs = 20000;
    static constexpr int kHandshakeQuietSendings = 5;
    // A listening boot loader answers the start command at once; ten
    // sendings leave half a minute to switch a unit on.
    static constexpr int kMaxStartSendings = 10;
    // The file-size command is not sent again: its answer is waited for
    // this many times.
    static constexpr int kMaxFileSizeWaits = 3;
    static constexpr int kChangePortSendings = 3;
    static constexpr int kMaxFrameRetries = 6;
    static constexpr int kShortFrameLength = modelTable::kShortFrameLength;
    static constexpr int kLongFrameLength = modelTable::kLongFrameLength;
    static constexpr quint8 kMaxReplyLength = secondCodec::kMaxReplyLength;

    progress1(serialport *port, QObject *parent = nullptr);
    ~progress1() override;

    bool verifyImage(int imageIndex, const QByteArray &image);
    void sendUpdateCmd(int imageIndex);
    void sendFileSizeCmd();
    void sendChangePortCmd();
    void sendEraseCmd();
    void sendData();
    void resendData();
    void parseData(const char *data, int size);

    int state() const { return m_state; }
    bool isRunning() const { return m_running; }
    int pendingReplyBytes() const { return m_decoder.pending(); }
    bool isBusy() const override { return m_running && (m_timer->isActive() || m_lastBlockSent); }
    bool checkImage(int imageIndex, const QByteArray &image) override { return verifyImage(imageIndex, image); }

public slots:
    void initParm(updateParm data) override;
    void receiveData(QByteArray data) override;
    void stop() override;

private slots:
    void onTimer();

private:
    void handleResponse(const secondCodec::Reply &reply);
    void stopUpdate();
    void beginUpdating();

    void armTimer(int ms);
    void send(const quint8 *frame, int length);
    void onHandshakeReply(const secondCodec::Reply &reply);
    void onChangePortReply();
    void onUpdatingReply(const secondCodec::Reply &reply);
    void onStartExpired();
    void onFileSizeExpired();
    void onChangePortExpired();
    void onFrameExpired();
    void afterFrameSent();
    void failJob(FailReason reason);
    void giveUp(FailReason reason, const QString &step);
    void wrongReply(const QString &line);

    quint8 m_deviceAddress;
    secondCodec::decoder m_decoder;
    QTimer *m_timer;
    QByteArray m_image;
    quint8 m_blockSeq;
    quint32 m_bytesSent;
    qint64 m_bytesTotal;
    qint64 m_fileSize;
    int m_retryCount;
    quint8 m_lastShortFrame[kShortFrameLength];
    quint8 m_lastLongFrame[kLongFrameLength];
    int m_blockMode;
    int m_state;
    bool m_running;
    bool m_lastBlockSent;
    int m_modelId;
    int m_imageIndex;
    int m_row;
    QString m_imagePath;
    QString m_portName;
    serialport *m_port;
    // What kept the step in hand from going on, for the line it ends with.
    Trouble m_trouble = NoAnswer;
};

#endif // PROGRESS1_H
