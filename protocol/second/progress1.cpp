#include "protocol/second/progress1.h"

#include <cstring>

#include "protocol/second/secondcodec.h"
#include "util/timescale.h"
#include "util/logging.h"
#include "util/modeltable.h"

namespace {
constexpr quint8 kStartCmdLength = 5;
constexpr quint8 kFileSizeCmdLength = 6;
constexpr quint8 kChangePortLength = 9;
constexpr quint8 kEraseLength = 9;
constexpr quint8 kFileSizePrefix = 0xAA;
constexpr quint8 kStartFunction = 0x07;
const quint8 kChangePortCmd[kChangePortLength] = {0x01, 0x06, 0x9C, 0xA7, 0x00, 0x00, 0x16, 0x79, 0x53};
const quint8 kEraseCmd[kEraseLength] = {0x04, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0xAA, 0x55, 0xFB};

using ImageKind = modelTable::secondImage;

const ImageKind *imageKind(int imageIndex)
{
    return modelTable::secondImageKind(imageIndex);
}
} // namespace

progress1::progress1(serialport *port, QObject *parent)
    : updateEngine(parent)
    , m_deviceAddress(1)
    , m_timer(new QTimer(this))
    , m_blockSeq(0)
    , m_bytesSent(0)
    , m_bytesTotal(0)
    , m_fileSize(0)
    , m_retryCount(0)
    , m_lastShortFrame()
    , m_lastLongFrame()
    , m_blockMode(0)
    , m_state(0)
    , m_running(false)
    , m_lastBlockSent(false)
    , m_modelId(0)
    , m_imageIndex(0)
    , m_row(0)
    , m_port(port)
{
    // Most of its expiries are protocol pauses (after the start command, the
    // change of speed, the last frame): a coarse timer may end them up to
    // 5 % early.
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &progress1::onTimer);
}

progress1::~progress1() = default;

void progress1::armTimer(int ms)
{
    m_timer->start(timeScale::scaledMs(ms));
}

void progress1::send(const quint8 *frame, int length)
{
    m_port->sendCmdData(frame, ushort(length));
}

// ---- frames -------------------------------------------------------------

bool progress1::verifyImage(int imageIndex, const QByteArray &image)
{
    const ImageKind *kind = imageKind(imageIndex);
    return kind
        && image.mid(int(kind->signatureOffset), kind->signatureLength)
        == QByteArray(kind->signature, kind->signatureLength);
}

void progress1::sendUpdateCmd(int imageIndex)
{
    quint8 frame[kStartCmdLength] = {m_deviceAddress, kStartFunction, 0, 0, 0};
    if (const ImageKind *kind = imageKind(imageIndex)) {
        frame[2] = kind->code;
        m_blockMode = kind->blockMode;
    }
    const quint16 crc = secondCodec::modbusCrc16(frame, 3);
    frame[3] = quint8(crc & 0xFF);
    frame[4] = quint8(crc >> 8);
    send(frame, kStartCmdLength);
}

void progress1::sendFileSizeCmd()
{
    // Four bytes on the line: the size is sent modulo 2^32.
    const quint32 announced = quint32(modelTable::announcedSize(m_image.size()));
    quint8 frame[kFileSizeCmdLength] = {kFileSizePrefix,        quint8(announced >> 24), quint8(announced >> 16),
                                        quint8(announced >> 8), quint8(announced),       0};
    frame[5] = secondCodec::xorCheck(frame, 5);
    send(frame, kFileSizeCmdLength);
    armTimer(kFileSizeTimeoutMs);
    m_state = FileSizeSent;
}

void progress1::sendChangePortCmd()
{
    send(kChangePortCmd, kChangePortLength);
}

void progress1::sendEraseCmd()
{
    send(kEraseCmd, kEraseLength);
    armTimer(kEraseTimeoutMs);
}

void progress1::sendData()
{
    const bool longFrames = m_blockMode != 0;
    const int length = modelTable::frameLength(m_blockMode);
    const int payload = length - 2;
    quint8 frame[kLongFrameLength];
    std::memset(frame, 0xFF, sizeof frame);
    frame[0] = m_blockSeq;
    m_blockSeq = quint8((m_blockSeq + 1) & 0x0F);
    // Past the image's end the 0xFF fill stays in place.
    readImage(m_image, frame + 1, qint64(m_bytesSent), payload);
    frame[length - 1] = secondCodec::xorCheck(frame, quint32(length - 1));
    send(frame, length);
    std::memcpy(longFrames ? m_lastLongFrame : m_lastShortFrame, frame, size_t(length));
    m_bytesSent += quint32(payload);
    afterFrameSent();
}

void progress1::resendData()
{
    if (m_blockMode == 0)
        send(m_lastShortFrame, kShortFrameLength);
    else
        send(m_lastLongFrame, kLongFrameLength);
}

void progress1::parseData(const char *data, int size)
{
    for (int i = 0; i < size; ++i) {
        if (m_decoder.push(quint8(data[i])) != secondCodec::decoder::Complete)
            continue;
        // A copy: a nested event loop in handleResponse may feed more bytes.
        const secondCodec::Reply reply = m_decoder.reply();
        if (m_running)
            handleResponse(reply);
        m_decoder.clear();
    }
}

void progress1::receiveData(QByteArray data)
{
    if (data.isEmpty())
        return;
    qCDebug(lcSecondProtocol) << "received" << data.toHex(' ');
    parseData(data.constData(), data.size());
}

// ---- sequence -----------------------------------------------------------

void progress1::initParm(updateParm data)
{
    m_modelId = data.modelId;
    m_imageIndex = data.imageIndex;
    m_row = data.row;
    m_imagePath = data.imagePath;
    m_portName = data.portName;
    stopUpdate();
    setProcessorChoice(ChoiceNotMade);
    emit sendprogressBar(m_row, 0, 100);
    if (!m_port->openSerialPort(m_modelId, m_portName, kHandshakeBaud)) {
        emit sendMessage(tr("port opening failed!"));
        emit jobFailed(PortUnavailable);
        return;
    }
    m_image = data.image;
    if (!verifyImage(m_imageIndex, m_image)) {
        emit sendMessage(tr("verify failed!"));
        emit jobFailed(ImageRejected);
        return;
    }
    emit sendMessage(tr("verify success!"));
    armTimer(kHandshakeIntervalMs);
    m_trouble = NoAnswer;
    m_decoder.clear();
    m_state = Handshake;
    m_running = true;
}

void progress1::stop()
{
    stopUpdate();
    m_decoder.clear();
}

void progress1::handleResponse(const secondCodec::Reply &reply)
{
    switch (m_state) {
    case Handshake:
        onHandshakeReply(reply);
        break;
    case FileSizeSent:
        if (reply.isCommandAck()) {
            m_trouble = NoAnswer;
            emit sendMessage(tr("get file size!"));
            m_state = ChangePortDue;
            armTimer(kCommandPauseMs);
        } else {
            wrongReply(tr("file size get failed!"));
        }
        break;
    case ChangePortSent:
        onChangePortReply();
        break;
    case Erasing:
        if (reply.isCommandAck()) {
            m_trouble = NoAnswer;
            emit sendMessage(tr("erase successs!"));
            m_state = Updating;
            beginUpdating();
        } else {
            wrongReply(tr("erase failed!"));
        }
        break;
    case Updating:
        onUpdatingReply(reply);
        break;
    default:
        break; // pauses and the final wait take no replies
    }
}

void progress1::onHandshakeReply(const secondCodec::Reply &reply)
{
    if (!reply.isStartAck()) {
        wrongReply(tr("verify failed!"));
        return;
    }
    // The start command names the image's kind, and so its processor.
    setProcessorChoice(ProcessorChosen);
    m_trouble = NoAnswer;
    m_state = m_blockMode == 1 ? FileSizeDue : ChangePortDue;
    emit sendMessage(tr("prepare for updating!"));
    armTimer(kCommandPauseMs);
}

void progress1::onChangePortReply()
{
    emit sendMessage(tr("port change success!"));
    if (m_port->openSerialPort(m_modelId, m_portName, kDataBaud)) {
        m_trouble = NoAnswer;
        m_state = PortChanged;
        armTimer(kPortChangedPauseMs);
    } else {
        // The change-port expiries go on and end the job with "timeout!".
        m_trouble = PortLost;
        emit sendMessage(tr("port opening failed!"));
    }
}

void progress1::onUpdatingReply(const secondCodec::Reply &reply)
{
    if (m_lastBlockSent) {
        emit sendMessage(tr("updating success!"));
        armTimer(kFinishWaitMs);
        m_state = Finishing;
    } else if (reply.isCommandAck()) {
        m_trouble = NoAnswer;
        m_retryCount = 0;
        sendData();
    } else {
        wrongReply(tr("updating failed!"));
    }
}

void progress1::onTimer()
{
    switch (m_state) {
    case Handshake:
        onStartExpired();
        break;
    case ChangePortDue:
        m_retryCount = 0;
        sendChangePortCmd();
        armTimer(kChangePortIntervalMs);
        m_state = ChangePortSent;
        emit sendMessage(tr("change the port!"));
        break;
    case FileSizeDue:
        m_retryCount = 0;
        sendFileSizeCmd();
        break;
    case FileSizeSent:
        onFileSizeExpired();
        break;
    case ChangePortSent:
        onChangePortExpired();
        break;
    case PortChanged:
        sendEraseCmd();
        armTimer(kEraseTimeoutMs);
        m_state = Erasing;
        m_decoder.clear();
        emit sendMessage(tr("begin to erase!"));
        break;
    case Erasing:
        emit sendMessage(tr("timeout!"));
        giveUp(EraseFailed, tr("erase command"));
        break;
    case Updating:
        onFrameExpired();
        break;
    case Finishing:
        stopUpdate();
        emit finish(true);
        break;
    default:
        break;
    }
}

// From the sixth sending on each one is followed by "timeout!"; one wait
// after the last sending the job ends.
void progress1::onStartExpired()
{
    if (m_retryCount >= kMaxStartSendings) {
        emit sendMessage(tr("timeout!"));
        giveUp(HandshakeFailed, tr("start command"));
        return;
    }
    ++m_retryCount;
    m_decoder.clear();
    sendUpdateCmd(m_imageIndex);
    setProcessorChoice(ProcessorNotChosen); // until the unit takes it
    if (m_retryCount > kHandshakeQuietSendings)
        emit sendMessage(tr("timeout!"));
}

void progress1::onFileSizeExpired()
{
    emit sendMessage(tr("timeout!"));
    if (++m_retryCount >= kMaxFileSizeWaits)
        giveUp(HandshakeFailed, tr("file-size command"));
}

void progress1::onChangePortExpired()
{
    ++m_retryCount;
    if (m_retryCount < kChangePortSendings) {
        sendChangePortCmd();
        return;
    }
    emit sendMessage(tr("timeout!"));
    giveUp(LineSpeedFailed, tr("change-port command"));
}

void progress1::onFrameExpired()
{
    ++m_retryCount;
    emit sendMessage(tr("timeout, retry %1...\n").arg(m_retryCount));
    if (m_retryCount >= kMaxFrameRetries) {
        emit sendMessage(tr("updating failed!"));
        giveUp(TransferFailed, tr("data frames"));
        return;
    }
    resendData();
}

void progress1::beginUpdating()
{
    m_fileSize = m_image.size();
    m_bytesTotal = m_blockMode == 1 ? modelTable::announcedSize(m_fileSize) : m_fileSize;
    emit sendMessage(tr("begin to updating!"));
    sendData();
}

void progress1::afterFrameSent()
{
    if (qint64(m_bytesSent) < m_bytesTotal) {
        emit sendprogressBar(m_row, m_bytesSent, m_bytesTotal);
        armTimer(kFrameTimeoutMs);
        return;
    }
    // The last frame's reply can be lost like any other: without its timer
    // the job would wait for it for ever, neither done nor failed.
    armTimer(kFrameTimeoutMs);
    m_lastBlockSent = true;
    emit sendprogressBar(m_row, m_bytesTotal, m_bytesTotal);
    emit sendMessage(tr("updating finished!"));
}

void progress1::stopUpdate()
{
    m_state = Handshake;
    m_running = false;
    m_lastBlockSent = false;
    m_retryCount = 0;
    m_bytesSent = 0;
    m_blockSeq = 0;
    m_timer->stop();
}

void progress1::failJob(FailReason reason)
{
    stopUpdate();
    emit jobFailed(reason);
}

void progress1::giveUp(FailReason reason, const QString &step)
{
    emit sendMessage(giveUpLine(m_imagePath, step, m_trouble));
    failJob(reason);
}

// The step goes on to its own bound; the line it ends with says the unit
// answered, but not as it should.
void progress1::wrongReply(const QString &line)
{
    m_trouble = Refused;
    emit sendMessage(line);
}
