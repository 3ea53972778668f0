#include "tools/unitsim/secondunit.h"

#include "update/common.h"

namespace {
constexpr int kHandshakeBaud = 2400;
constexpr int kDataBaud = 9600;
constexpr int kStartLength = 5;
constexpr int kFileSizeLength = 6;
constexpr int kCommandLength = 9;
// A piece of a dripped or split reply waits at least this long whatever the
// time scale, so that the tool reads it on its own.
constexpr int kMinPiecePauseMs = 1;

const QByteArray kStartAck = QByteArray::fromHex("0455aafb");
const QByteArray kCommandAck = QByteArray::fromHex("04aa55fb");
const QByteArray kChangePortCmd = QByteArray::fromHex("01069ca70000167953");
const QByteArray kEraseCmd = QByteArray::fromHex("040000ffff00aa55fb");

const simulatedUnit::Grammar kGrammar = {
    {{simulatedUnit::Silence, QT_TRANSLATE_NOOP("simulatedUnit", "no reply")},
     {simulatedUnit::Nak, QT_TRANSLATE_NOOP("simulatedUnit", "a complete but wrong reply")},
     {simulatedUnit::Long12, QT_TRANSLATE_NOOP("simulatedUnit", "the reply as a 12-byte reply")},
     {simulatedUnit::Long13, QT_TRANSLATE_NOOP("simulatedUnit", "the reply as a 13-byte reply")},
     {simulatedUnit::Garbage, QT_TRANSLATE_NOOP("simulatedUnit", "13 bytes of noise before the reply")},
     {simulatedUnit::Double, QT_TRANSLATE_NOOP("simulatedUnit", "the reply twice in one write")},
     {simulatedUnit::Drip,
      QT_TRANSLATE_NOOP("simulatedUnit", "the reply byte by byte, with a short pause between bytes")},
     {simulatedUnit::Split, QT_TRANSLATE_NOOP("simulatedUnit", "the reply in two writes")},
     {simulatedUnit::Close, QT_TRANSLATE_NOOP("simulatedUnit", "close the line instead of replying")}},
    {{"start", nullptr, QT_TRANSLATE_NOOP("simulatedUnit", "the start command at 2400 baud")},
     {"filesize", nullptr, QT_TRANSLATE_NOOP("simulatedUnit", "the file-size command (monitor images)")},
     {"changeport", nullptr, QT_TRANSLATE_NOOP("simulatedUnit", "the change-port command, answered by its echo")},
     {"erase", nullptr, QT_TRANSLATE_NOOP("simulatedUnit", "the erase command at 9600 baud")},
     {"data", nullptr, QT_TRANSLATE_NOOP("simulatedUnit", "a data frame (@N: the N-th frame, resends included)")}}};

struct UnitKind
{
    quint8 code;
    const char *target;
    int frameLength;
    qint64 flashSize; // 0: the file-size command announces it
};

const UnitKind kUnitKinds[] = {
    {0xAD, "monitor", 130, 0},
    {0xAA, "inv", 34, 0x28000},
    {0x55, "rec", 34, 0x18000},
    {0xAB, "kind3", 34, 0x18000},
};

const UnitKind *unitKind(quint8 code)
{
    for (const UnitKind &kind : kUnitKinds) {
        if (kind.code == code)
            return &kind;
    }
    return nullptr;
}

quint8 xorOf(const QByteArray &bytes, int length)
{
    return common::xorCheck(reinterpret_cast<const quint8 *>(bytes.constData()), quint32(length));
}

bool isStartCommand(const QByteArray &bytes, int at)
{
    if (bytes.size() < at + kStartLength || bytes.at(at) != char(0x01) || bytes.at(at + 1) != char(0x07))
        return false;
    const auto *p = reinterpret_cast<const quint8 *>(bytes.constData()) + at;
    const quint16 crc = common::modbusCrc16(p, 3);
    return p[3] == quint8(crc & 0xFF) && p[4] == quint8(crc >> 8);
}

// Keeps the first three bytes (what the tool examines), pads with zeros and
// closes with an XOR so that only the full length completes a reply.
QByteArray lengthened(const QByteArray &reply, int length)
{
    QByteArray out = reply.left(3);
    out.append(QByteArray(length - 4, '\0'));
    out.append(char(xorOf(out, out.size())));
    return out;
}

// Thirteen bytes that complete none of the reply tests: the tool's framing
// drops them at the thirteenth byte.
QByteArray garbage()
{
    QByteArray out;
    for (int i = 1; i <= 13; ++i)
        out.append(char(i * 0x10));
    return out;
}
} // namespace

secondUnit::secondUnit(QObject *parent)
    : simulatedUnit(kGrammar, parent)
{
}

QString secondUnit::faultHelp()
{
    return simulatedUnit::faultHelp(kGrammar);
}

QByteArray secondUnit::flashedImage() const
{
    return m_imageLimit > 0 ? m_image.left(int(m_imageLimit)) : m_image;
}

void secondUnit::reset()
{
    simulatedUnit::reset();
    m_input.clear();
    m_phase = WaitStart;
    m_image.clear();
    m_lastFrame.clear();
    m_target.clear();
    m_expectedSeq = 0;
    m_announced = 0;
    m_imageLimit = 0;
    m_jobDone = false;
}

// ---- receiving ----------------------------------------------------------

void secondUnit::receive(const QByteArray &bytes)
{
    m_input.append(bytes);
    while (restartPending() || takeFrame()) { }
}

// A start command at the handshake speed begins a new job whatever the unit
// was doing: the tool drops a running job and starts over.
bool secondUnit::restartPending()
{
    if (m_phase == WaitStart || line()->baud() != kHandshakeBaud)
        return false;
    for (int at = 0; at + kStartLength <= m_input.size(); ++at) {
        if (!isStartCommand(m_input, at))
            continue;
        if (at > 0)
            violation(tr("%1 stray bytes before a start command").arg(at));
        m_input.remove(0, at);
        m_phase = WaitStart;
        return true;
    }
    return false;
}

bool secondUnit::takeFrame()
{
    if (m_phase == WaitStart) {
        while (m_input.size() >= 2 && !m_input.startsWith("\x01\x07")) {
            violation(tr("stray byte %1").arg(quint8(m_input[0]), 2, 16, QLatin1Char('0')));
            m_input.remove(0, 1);
        }
    }
    const int length = expectedLength();
    if (m_input.size() < length)
        return false;
    const QByteArray frame = m_input.left(length);
    m_input.remove(0, length);
    handleFrame(frame);
    return true;
}

int secondUnit::expectedLength() const
{
    switch (m_phase) {
    case WaitStart:
        return kStartLength;
    case WaitFileSize:
        return kFileSizeLength;
    case WaitChangePort:
    case WaitErase:
        return kCommandLength;
    case Receiving:
        return m_frameLength;
    }
    return kStartLength;
}

void secondUnit::handleFrame(const QByteArray &frame)
{
    recordFrame(frame);
    switch (m_phase) {
    case WaitStart:
        onStart(frame);
        break;
    case WaitFileSize:
        onFileSize(frame);
        break;
    case WaitChangePort:
        onChangePort(frame);
        break;
    case WaitErase:
        onErase(frame);
        break;
    case Receiving:
        onData(frame);
        break;
    }
}

void secondUnit::onStart(const QByteArray &frame)
{
    if (!isStartCommand(frame, 0)) {
        violation(tr("start command with a bad CRC"));
        return;
    }
    const UnitKind *kind = unitKind(quint8(frame[2]));
    if (!kind) {
        violation(tr("start command with unknown code %1").arg(quint8(frame[2]), 2, 16, QLatin1Char('0')));
        return;
    }
    checkSpeed(Start, kHandshakeBaud);
    m_target = QLatin1String(kind->target);
    m_frameLength = kind->frameLength;
    m_imageLimit = kind->flashSize;
    m_announced = 0;
    m_image.clear();
    m_lastFrame.clear();
    m_expectedSeq = 0;
    m_jobDone = false;
    m_phase = kind->flashSize == 0 ? WaitFileSize : WaitChangePort;
    reply(Start, kStartAck);
}

void secondUnit::onFileSize(const QByteArray &frame)
{
    if (quint8(frame[0]) != 0xAA || quint8(frame[5]) != xorOf(frame, 5)) {
        violation(tr("bad file-size command %1").arg(QString::fromLatin1(frame.toHex(' '))));
        return;
    }
    checkSpeed(FileSize, kHandshakeBaud);
    const auto *p = reinterpret_cast<const quint8 *>(frame.constData());
    m_announced = (qint64(p[1]) << 24) | (p[2] << 16) | (p[3] << 8) | p[4];
    if (m_announced % (m_frameLength - 2) != 0)
        violation(tr("announced size %1 is no whole number of frames").arg(m_announced));
    m_imageLimit = m_announced;
    m_phase = WaitChangePort;
    reply(FileSize, kCommandAck);
}

void secondUnit::onChangePort(const QByteArray &frame)
{
    if (frame != kChangePortCmd) {
        violation(tr("bad change-port command %1").arg(QString::fromLatin1(frame.toHex(' '))));
        return;
    }
    checkSpeed(ChangePort, kHandshakeBaud);
    m_phase = WaitErase;
    reply(ChangePort, kChangePortCmd.left(8));
}

void secondUnit::onErase(const QByteArray &frame)
{
    if (frame == kChangePortCmd) {
        // The tool sent the command again before our echo reached it.
        onChangePort(frame);
        return;
    }
    if (frame != kEraseCmd) {
        violation(tr("bad erase command %1").arg(QString::fromLatin1(frame.toHex(' '))));
        return;
    }
    checkSpeed(Erase, kDataBaud);
    m_phase = Receiving;
    reply(Erase, kCommandAck);
}

void secondUnit::onData(const QByteArray &frame)
{
    checkSpeed(Data, kDataBaud);
    const int last = frame.size() - 1;
    if (quint8(frame[last]) != xorOf(frame, last)) {
        violation(tr("data frame with a bad XOR"));
        return;
    }
    if (frame == m_lastFrame) {
        reply(Data, kCommandAck); // a resend: acknowledged, not stored twice
        return;
    }
    const quint8 seq = quint8(frame[0]);
    if (seq != m_expectedSeq) {
        violation(tr("data frame %1, expected %2").arg(seq).arg(m_expectedSeq));
        return;
    }
    m_expectedSeq = quint8((m_expectedSeq + 1) & 0x0F);
    m_lastFrame = frame;
    storePayload(frame);
    reply(Data, kCommandAck);
    if (!m_jobDone && m_imageLimit > 0 && m_image.size() >= m_imageLimit) {
        m_jobDone = true;
        completeJob(m_target, flashedImage());
    }
}

void secondUnit::storePayload(const QByteArray &frame)
{
    if (m_jobDone)
        violation(tr("data frame beyond the end of the image"));
    m_image.append(frame.mid(1, frame.size() - 2));
}

void secondUnit::checkSpeed(Step step, int wanted)
{
    simulatedUnit::checkSpeed(wanted, tr("%1 frame").arg(stepName(step)));
}

// ---- replying -----------------------------------------------------------

void secondUnit::reply(Step step, const QByteArray &bytes)
{
    const QList<FaultKind> faults = faultsOnAnswer(step);
    if (faults.contains(Close)) {
        closeLine();
        return;
    }
    if (faults.contains(Silence))
        return;
    QByteArray out = bytes;
    if (faults.contains(Nak))
        out = step == Start ? kCommandAck : kStartAck;
    if (faults.contains(Long12))
        out = lengthened(out, 12);
    if (faults.contains(Long13))
        out = lengthened(out, 13);
    if (faults.contains(Garbage))
        out.prepend(garbage());
    if (faults.contains(Double))
        out.append(out);
    queuePieces(out, faults);
}

void secondUnit::queuePieces(const QByteArray &bytes, const QList<FaultKind> &faults)
{
    const QList<QByteArray> seen = frames();
    const int request = seen.isEmpty() ? 0 : seen.last().size(); // the frame answered
    if (faults.contains(Drip)) {
        enqueue(bytes.left(1), 0, request);
        for (int i = 1; i < bytes.size(); ++i)
            enqueue(bytes.mid(i, 1), kDripPauseMs, 0, kMinPiecePauseMs);
    } else if (faults.contains(Split)) {
        enqueue(bytes.left(bytes.size() / 2), 0, request);
        enqueue(bytes.mid(bytes.size() / 2), kDripPauseMs, 0, kMinPiecePauseMs);
    } else {
        enqueue(bytes, 0, request);
    }
}
