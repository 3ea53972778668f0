#include "protocol/first/progress.h"

#include <cstring>
#include <utility>

#include "protocol/first/firstcodec.h"
#include "util/timescale.h"
#include "util/logging.h"
#include "util/modeltable.h"

namespace {
constexpr quint8 kArmTarget = 0x01;
constexpr quint8 kDspTarget = 0x02;

// The command whose reply a framed step waits for; 0 for none.
quint8 awaitedCommand(int step)
{
    switch (step) {
    case progress::StepShakeHand:
        return progress::CmdShakeHand;
    case progress::StepVerify:
        return progress::CmdVerify;
    case progress::StepErase:
        return progress::CmdErase;
    case progress::StepWriteFlash:
        return progress::CmdWriteFlash;
    case progress::StepJump:
        return progress::CmdJump;
    default:
        return 0;
    }
}
} // namespace

progress::progress(serialport *port, QObject *parent)
    : updateEngine(parent)
    , m_modelId(0)
    , m_imageIndex(0)
    , m_row(0)
    , m_fileSize(0)
    , m_writtenSize(0)
    , m_frame()
    , m_preambleMode(false)
    , m_timer(new QTimer(this))
    , m_targetPause(new QTimer(this))
    , m_port(port)
{
    connect(m_timer, &QTimer::timeout, this, &progress::timeout);
    // Some of its expiries are protocol pauses: a coarse timer may end them
    // up to 5 % early.
    m_timer->setTimerType(Qt::PreciseTimer);
    m_targetPause->setObjectName(QStringLiteral("targetPause"));
    m_targetPause->setSingleShot(true);
    m_targetPause->setTimerType(Qt::PreciseTimer); // never early, as the unit demands
    connect(m_targetPause, &QTimer::timeout, this, &progress::onTargetPauseOver);
}

// ---- builders -------------------------------------------------------------

void progress::buildPreambleStart()
{
    const quint8 data[4] = {0xFE, 0xFE, 0x00, 0x00};
    setFrame(firstCodec::preamble(data), StepPreambleStart);
}

void progress::buildPreambleConfirm()
{
    const quint8 data[4] = {0x55, 0xAA, 0x00, 0x00};
    setFrame(firstCodec::preamble(data), StepPreambleConfirm);
}

void progress::buildPreambleTarget(int imageIndex)
{
    const quint8 data[4] = {imageIndex == 0 ? kArmTarget : kDspTarget, 0x00, 0x00, 0x00};
    setFrame(firstCodec::preamble(data), StepPreambleTarget);
}

void progress::buildCommand(int step, quint8 code, const quint8 *payload, int payloadLength)
{
    setFrame(firstCodec::command(code, payload, payloadLength), step);
}

// The frame goes into the send buffer, where it is stuffed in place.
void progress::setFrame(const QByteArray &frame, int step)
{
    std::memcpy(m_frame.senddata, frame.constData(), size_t(frame.size()));
    m_frame.sendlen = quint16(frame.size());
    m_frame.step = step;
}

void progress::buildShakeHand()
{
    const quint8 payload[] = {0x01, 0x01};
    buildCommand(StepShakeHand, CmdShakeHand, payload, sizeof payload);
}

void progress::buildVerify(const quint8 code[4])
{
    // A little-endian word in the image goes out most significant byte first.
    const quint8 payload[] = {0x04, code[3], code[2], code[1], code[0]};
    buildCommand(StepVerify, CmdVerify, payload, sizeof payload);
}

void progress::buildErase()
{
    const quint8 payload[] = {0x00};
    buildCommand(StepErase, CmdErase, payload, sizeof payload);
}

void progress::buildJump()
{
    const quint8 payload[] = {0x00};
    buildCommand(StepJump, CmdJump, payload, sizeof payload);
}

int progress::buildNextBlock()
{
    if (m_writtenSize >= m_fileSize)
        return 2;
    const qint64 wanted = qMin<qint64>(kBlockSize, m_fileSize - m_writtenSize);
    quint8 block[kBlockSize];
    std::memset(block, 0xFF, sizeof block);
    const qint64 count = readImage(m_image, block, m_writtenSize, wanted);
    if (count <= 0) {
        emit sendMessage(tr("reading failed!"));
        return 0;
    }
    m_writtenSize += count;
    emit sendprogressBar(m_row, m_writtenSize, m_fileSize);
    buildCommand(StepWriteFlash, CmdWriteFlash, block, kBlockSize);
    return 1;
}

bool progress::readVerifyCode(quint8 code[4], int imageIndex)
{
    return readVerifyCodeOf(m_image, code, imageIndex);
}

bool progress::readVerifyCodeOf(const QByteArray &image, quint8 code[4], int imageIndex)
{
    std::memset(code, 0xFF, 4);
    const qint64 offset = modelTable::verifyCodeOffset(imageIndex);
    if (readImage(image, code, offset, 4) == 4)
        return true;
    emit sendMessage(tr("verify code error!"));
    return false;
}

// The boot loader takes the verify code from inside the image: an image too
// short to hold it cannot go.
bool progress::checkImage(int imageIndex, const QByteArray &image)
{
    quint8 code[4];
    return readVerifyCodeOf(image, code, imageIndex);
}

// ---- sending --------------------------------------------------------------

void progress::clearReceived()
{
    m_decoder.clear();
}

void progress::sendFrame(int timeoutMs, bool preambleMode, int retry)
{
    m_preambleMode = preambleMode;
    clearReceived();
    m_port->sendCmdData(m_frame.senddata, m_frame.sendlen);
    m_timer->start(timeScale::scaledMs(timeoutMs));
    m_frame.retry = retry;
}

void progress::stuffFrame()
{
    firstCodec::stuff(m_frame.senddata, &m_frame.sendlen);
}

void progress::sendCommand(int timeoutMs, int retry)
{
    stuffFrame();
    sendFrame(timeoutMs, false, retry);
}

void progress::sendShakeHand(int retry)
{
    buildShakeHand();
    sendCommand(kShakeHandTimeoutMs, retry);
}

void progress::sendErase()
{
    buildErase();
    sendCommand(kCommandTimeoutMs, 1);
}

void progress::failJob(FailReason reason, const QString &line)
{
    m_timer->stop();
    if (!line.isEmpty())
        emit sendMessage(line);
    emit jobFailed(reason);
}

void progress::giveUp(FailReason reason, const QString &step, Trouble trouble)
{
    failJob(reason, giveUpLine(m_imagePath, step, trouble));
}

// ---- job start --------------------------------------------------------------

void progress::initParm(updateParm data)
{
    // A new job replaces the one in hand.
    m_timer->stop();
    m_targetPause->stop();
    const quint32 serial = ++m_jobSerial;
    m_row = data.row;
    m_modelId = data.modelId;
    m_imageIndex = data.imageIndex;
    m_portName = data.portName;
    m_imagePath = data.imagePath;
    m_image = data.image;
    m_fileSize = m_image.size();
    m_writtenSize = 0;
    m_failedErases = 0;
    m_rewrites = 0;
    m_trouble = NoAnswer;
    setProcessorChoice(ChoiceNotMade);
    emit sendprogressBar(m_row, 0, m_fileSize);

    // Erasing the unit with nothing to write would leave it without firmware.
    if (m_fileSize <= 0) {
        failJob(ImageUnreadable, tr("reading failed!"));
        return;
    }
    const bool opened = m_port->openSerialPort(m_modelId, m_portName, kPreambleBaud);
    if (serial != m_jobSerial)
        return;
    if (!opened) {
        failJob(PortUnavailable, tr("port opening failed!"));
        return;
    }
    emit sendMessage(tr("updating..."));
    buildPreambleStart();
    sendFrame(kPreambleTimeoutMs, true, 1);
}

// Another job takes the line, or the user stopped the update.
void progress::stop()
{
    m_timer->stop();
    m_targetPause->stop();
    ++m_jobSerial;
    clearReceived();
}

// ---- receiving ------------------------------------------------------------

void progress::receiveData(QByteArray data)
{
    if (data.isEmpty())
        return;
    if (m_preambleMode) {
        m_decoder.feedPreamble(data);
        parsePreamble();
        return;
    }
    const firstCodec::Received got = m_decoder.feed(data);
    if (got.kind == firstCodec::Received::Complete)
        handleReply(got.reply);
}

void progress::parsePreamble()
{
    qCDebug(lcFirstProtocol) << "received" << m_decoder.held().toHex(' ');
    const firstCodec::PreambleHeld held = m_decoder.scanPreamble();
    // Only a step that waits for its reply acts on one.
    if (!m_timer->isActive())
        return;
    if (m_frame.step == StepPreambleStart && held.start)
        onPreambleStartAnswered();
    else if (m_frame.step == StepPreambleConfirm && held.confirm)
        onPreambleConfirmAnswered();
}

void progress::handleReply(const firstCodec::Reply &reply)
{
    if (!m_timer->isActive())
        return;
    // The code tells which step a reply answers. A late reply to a step
    // given up on is let pass: acting on it would put a second frame on its
    // way while the step in hand waits for its own.
    if (firstCodec::isKnownCommand(reply.code) && reply.code != awaitedCommand(m_frame.step))
        return;
    const bool understood = reply.understood();
    m_timer->stop();
    // A refusal, and a reply that means nothing, end the wait as its
    // timeout would: the step's own bound then counts it.
    if (!understood || reply.status == NAK) {
        m_trouble = understood ? Refused : NotUnderstood;
        timeout();
        return;
    }
    switch (reply.code) {
    case CmdShakeHand:
        onShakeHandAcknowledged();
        break;
    case CmdVerify:
        onVerifyAcknowledged();
        break;
    case CmdErase:
        onEraseAcknowledged();
        break;
    case CmdWriteFlash:
        onBlockAcknowledged();
        break;
    case CmdJump:
        onJumpAcknowledged();
        break;
    default:
        break;
    }
}

// ---- reactions ------------------------------------------------------------

void progress::onPreambleStartAnswered()
{
    clearReceived();
    m_timer->stop();
    buildPreambleConfirm();
    sendFrame(kPreambleTimeoutMs, true, 1);
}

void progress::onPreambleConfirmAnswered()
{
    m_timer->stop();
    buildPreambleTarget(m_imageIndex);
    clearReceived(); // what comes during the pause is dropped at its end too
    m_targetPause->start(timeScale::scaledMs(kTargetDelayMs));
}

void progress::onTargetPauseOver()
{
    sendFrame(kTargetTimeoutMs, true, 1);
    setProcessorChoice(ProcessorChosen);
    clearReceived();
}

// A unit already in its boot loader does not hear the preamble; the verify
// code alone then tells it which processor the image is for.
void progress::goOnWithoutChoice()
{
    setProcessorChoice(ProcessorNotChosen);
    emit sendMessage(tr("the processor was not chosen: the unit did not answer the preamble, so its boot loader "
                        "decides by the verify code"));
    reopenForCommands();
}

void progress::reopenForCommands()
{
    const quint32 serial = m_jobSerial;
    const bool opened = m_port->openSerialPort(m_modelId, m_portName, kCommandBaud);
    if (serial != m_jobSerial)
        return;
    if (!opened) {
        failJob(PortUnavailable, tr("port open failed!"));
        return;
    }
    sendShakeHand(1);
}

void progress::onShakeHandAcknowledged()
{
    emit sendMessage(tr("shake hand success!"));
    quint8 code[4];
    readVerifyCode(code, m_imageIndex);
    buildVerify(code);
    sendCommand(kCommandTimeoutMs, 1);
}

void progress::onVerifyAcknowledged()
{
    emit sendMessage(tr("verify success!"));
    sendErase();
    m_writtenSize = 0;
    emit sendprogressBar(m_row, 0, m_fileSize);
}

void progress::onEraseAcknowledged()
{
    emit sendMessage(tr("erea success!"));
    const int result = buildNextBlock();
    if (result == 1) {
        sendCommand(kCommandTimeoutMs, 1);
        emit sendMessage(tr("writing flash!"));
    } else if (result == 0) {
        failJob(ImageUnreadable, QString());
    }
}

void progress::onBlockAcknowledged()
{
    const int result = buildNextBlock();
    if (result == 1) {
        sendCommand(kCommandTimeoutMs, 1);
    } else if (result == 2) {
        buildJump();
        sendCommand(kCommandTimeoutMs, 1);
        emit sendMessage(tr("flash writed success!"));
    } else {
        failJob(ImageUnreadable, QString());
    }
}

void progress::onJumpAcknowledged()
{
    m_frame.step = StepDone;
    m_frame.sendlen = 0;
    sendFrame(kDoneWaitMs, false, 1);
}

void progress::onEraseFailed(Trouble trouble)
{
    emit sendMessage(tr("erea failed!"));
    if (++m_failedErases >= kMaxFailedErases) {
        giveUp(EraseFailed, tr("erase"), trouble);
        return;
    }
    emit sendMessage(tr("shake hand..."));
    sendShakeHand(m_frame.retry);
}

// The image goes again from its first byte, after a new erase.
void progress::onWriteFailed(Trouble trouble)
{
    emit sendMessage(tr("flash send failed!"));
    if (m_rewrites >= kMaxRewrites) {
        giveUp(TransferFailed, tr("flash write"), trouble);
        return;
    }
    ++m_rewrites;
    sendErase();
    m_writtenSize = 0;
    emit sendprogressBar(m_row, 0, m_fileSize);
}

void progress::timeout()
{
    m_timer->stop();
    const Trouble trouble = std::exchange(m_trouble, NoAnswer);
    switch (m_frame.step) {
    case StepPreambleStart:
    case StepPreambleConfirm:
        goOnWithoutChoice();
        break;
    case StepPreambleTarget:
        reopenForCommands();
        break;
    case StepShakeHand:
        if (++m_frame.retry > kMaxShakeHands) {
            emit sendMessage(tr("shake hand failed!"));
            giveUp(HandshakeFailed, tr("shake hand"), trouble);
        } else {
            sendShakeHand(m_frame.retry);
        }
        break;
    case StepVerify:
        emit sendMessage(tr("verify failed!"));
        giveUp(VerifyFailed, tr("verify"), trouble);
        break;
    case StepErase:
        onEraseFailed(trouble);
        break;
    case StepWriteFlash:
        onWriteFailed(trouble);
        break;
    case StepJump:
        emit sendMessage(tr("jump failed!"));
        giveUp(JumpFailed, tr("jump"), trouble);
        break;
    case StepDone:
        emit sendMessage(tr("updating success!"));
        emit finish(true);
        break;
    default:
        break;
    }
}
