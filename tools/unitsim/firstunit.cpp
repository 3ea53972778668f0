#include "tools/unitsim/firstunit.h"

#include "update/common.h"

#include <QRegularExpression>

#include <vector>

namespace {
constexpr quint8 kStx = 0x02;
constexpr quint8 kEtx = 0x03;
constexpr quint8 kDle = 0x10;
constexpr quint8 kAck = 0x06;
constexpr quint8 kNak = 0x15;
constexpr quint8 kPreambleLead = 0x23;
constexpr int kPreambleLength = 10;
// Longest stuffed command (a write frame with every inner byte stuffed).
constexpr int kMaxStuffedFrame = 2 * (firstUnit::kBlockSize + 7);

const QByteArray kRequestLead = QByteArray::fromHex("23040005af");
const QByteArray kStartData = QByteArray::fromHex("fefe0000");
const QByteArray kConfirmData = QByteArray::fromHex("55aa0000");
const QByteArray kStartReply = QByteArray::fromHex("23020003afaa55d6");
const QByteArray kConfirmReply = QByteArray::fromHex("23020003af4f4b71");
// Noise without STX, ETX or DLE, so it cannot be taken for part of a reply.
const QByteArray kGarbage = QByteArray::fromHex("aa5500ff7e2381");

const simulatedUnit::Grammar kGrammar = {
    {{simulatedUnit::Silence, QT_TRANSLATE_NOOP("simulatedUnit", "no reply")},
     {simulatedUnit::Nak, QT_TRANSLATE_NOOP("simulatedUnit", "reply NAK (framed steps only)")},
     {simulatedUnit::Garbage, QT_TRANSLATE_NOOP("simulatedUnit", "noise without STX before the reply")},
     {simulatedUnit::UnknownCode,
      QT_TRANSLATE_NOOP("simulatedUnit", "an extra frame with an unknown code after the reply (framed steps only)")},
     {simulatedUnit::BadStatus,
      QT_TRANSLATE_NOOP("simulatedUnit",
                        "an extra frame with the step's code and an unknown status (framed steps only)")},
     {simulatedUnit::Drip, QT_TRANSLATE_NOOP("simulatedUnit", "the reply byte by byte")},
     {simulatedUnit::Split, QT_TRANSLATE_NOOP("simulatedUnit", "the reply in two pieces, cut right after a DLE")},
     {simulatedUnit::Close, QT_TRANSLATE_NOOP("simulatedUnit", "close the line instead of replying")}},
    {{"preamble", nullptr, QT_TRANSLATE_NOOP("simulatedUnit", "the start request at 2400 baud")},
     {"confirm", nullptr, QT_TRANSLATE_NOOP("simulatedUnit", "the confirm request at 2400 baud")},
     {"target", nullptr, QT_TRANSLATE_NOOP("simulatedUnit", "the choice of processor, which gets no reply")},
     {"shakehand", nullptr, QT_TRANSLATE_NOOP("simulatedUnit", "the framed shake hand at 9600 baud")},
     {"verify", nullptr, QT_TRANSLATE_NOOP("simulatedUnit", "the verify code")},
     {"erase", nullptr, QT_TRANSLATE_NOOP("simulatedUnit", "the erase of the flash")},
     {"write", "block", QT_TRANSLATE_NOOP("simulatedUnit", "a block of the image (@N: the N-th block)")},
     {"jump", nullptr, QT_TRANSLATE_NOOP("simulatedUnit", "the jump into the new firmware")}}};

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' '));
}

quint8 additiveSum(const QByteArray &bytes, int count)
{
    quint8 sum = 0;
    for (int i = 0; i < count; ++i)
        sum = quint8(sum + quint8(bytes.at(i)));
    return sum;
}

// The framed step a command code stands for; false for an unknown code.
bool stepOfCode(quint8 code, firstUnit::Step *step)
{
    switch (code) {
    case 0x11:
        *step = firstUnit::ShakeHand;
        return true;
    case 0x13:
        *step = firstUnit::Verify;
        return true;
    case 0x14:
        *step = firstUnit::Erase;
        return true;
    case 0x12:
        *step = firstUnit::Write;
        return true;
    case 0x04:
        *step = firstUnit::Jump;
        return true;
    default:
        return false;
    }
}
} // namespace

firstUnit::firstUnit(QObject *parent)
    : simulatedUnit(kGrammar, parent)
{
}

QString firstUnit::faultHelp()
{
    return simulatedUnit::faultHelp(kGrammar);
}

QString firstUnit::faultProblem(const Fault &fault) const
{
    const bool framedOnly = fault.kind == Nak || fault.kind == UnknownCode || fault.kind == BadStatus;
    if (framedOnly && fault.step < ShakeHand)
        return tr("%1 needs a framed step").arg(kindName(fault.kind));
    return QString();
}

void firstUnit::reset()
{
    simulatedUnit::reset();
    m_rx.clear();
    m_image.clear();
    m_verifyCode.clear();
    m_target = m_runningFor;
    m_erased = false;
}

void firstUnit::beginJob()
{
    m_image.clear();
    m_verifyCode.clear();
    m_target = m_runningFor;
    m_erased = false;
}

void firstUnit::setRunningFor(const QString &processor, const QByteArray &code)
{
    m_runningFor = processor;
    m_runningCode = code;
    m_target = processor;
}

QString firstUnit::parseRunning(const QString &text, QString *processor, QByteArray *code)
{
    static const QRegularExpression pattern(QStringLiteral("^(arm|dsp):([0-9a-fA-F]{8})$"));
    const QRegularExpressionMatch match = pattern.match(text.trimmed());
    if (!match.hasMatch())
        return tr("'%1' is not arm:CODE or dsp:CODE with CODE in 8 hex digits").arg(text);
    *processor = match.captured(1);
    *code = QByteArray::fromHex(match.captured(2).toLatin1());
    return QString();
}

bool firstUnit::refusesVerifyCode(const QByteArray &payload) const
{
    return !m_runningFor.isEmpty() && payload.mid(1) != m_runningCode;
}

// ---- input ----------------------------------------------------------------

void firstUnit::receive(const QByteArray &bytes)
{
    m_rx.append(bytes);
    parseInput();
}

void firstUnit::parseInput()
{
    while (!m_rx.isEmpty()) {
        const quint8 lead = quint8(m_rx.at(0));
        if (lead == kPreambleLead) {
            if (m_rx.size() < kPreambleLength)
                return;
            const QByteArray frame = m_rx.left(kPreambleLength);
            m_rx.remove(0, kPreambleLength);
            handlePreamble(frame);
            continue;
        }
        if (lead == kStx) {
            // Inside a stuffed frame a raw ETX can only be its end.
            const int end = m_rx.indexOf(char(kEtx), 1);
            if (end < 0) {
                if (m_rx.size() > 2 * kMaxStuffedFrame) {
                    violation(tr("frame without ETX, %1 bytes dropped").arg(m_rx.size()));
                    m_rx.clear();
                }
                return;
            }
            const QByteArray frame = m_rx.left(end + 1);
            m_rx.remove(0, end + 1);
            handleCommand(frame);
            continue;
        }
        int next = 1;
        while (next < m_rx.size() && quint8(m_rx.at(next)) != kStx && quint8(m_rx.at(next)) != kPreambleLead)
            ++next;
        violation(tr("stray bytes: %1").arg(hex(m_rx.left(next))));
        m_rx.remove(0, next);
    }
}

void firstUnit::handlePreamble(const QByteArray &frame)
{
    recordFrame(frame);
    checkSpeed(kPreambleBaud, tr("preamble"));
    if (!frame.startsWith(kRequestLead)) {
        violation(tr("bad preamble header: %1").arg(hex(frame)));
        return;
    }
    if (additiveSum(frame, kPreambleLength - 1) != quint8(frame.at(kPreambleLength - 1))) {
        violation(tr("bad preamble checksum: %1").arg(hex(frame)));
        return;
    }
    if (!m_runningFor.isEmpty())
        return; // a boot loader already running listens at 9600 baud only
    const QByteArray data = frame.mid(kRequestLead.size(), 4);
    if (data == kStartData) {
        beginJob();
        respond(Preamble, kStartReply, 0, frame.size());
    } else if (data == kConfirmData) {
        respond(Confirm, kConfirmReply, 0, frame.size());
    } else if ((data.at(0) == 0x01 || data.at(0) == 0x02) && data.mid(1) == QByteArray(3, '\0')) {
        m_target = data.at(0) == 0x01 ? QStringLiteral("arm") : QStringLiteral("dsp");
        respond(Target, QByteArray(), 0, frame.size());
    } else {
        violation(tr("unknown preamble data: %1").arg(hex(data)));
    }
}

bool firstUnit::unstuff(const QByteArray &frame, QByteArray *body)
{
    body->clear();
    bool escaped = false;
    for (int i = 1; i + 1 < frame.size(); ++i) {
        const quint8 byte = quint8(frame.at(i));
        if (escaped) {
            escaped = false;
            if (byte != 0x22 && byte != 0x23 && byte != 0x30) {
                violation(tr("bad stuffing 10 %1 in %2").arg(byte, 2, 16, QLatin1Char('0')).arg(hex(frame.left(16))));
                return false;
            }
            body->append(char(byte - 0x20));
        } else if (byte == kDle) {
            escaped = true;
        } else if (byte == kStx) {
            violation(tr("unstuffed STX inside a frame"));
            return false;
        } else {
            body->append(char(byte));
        }
    }
    if (escaped) {
        violation(tr("DLE right before ETX"));
        return false;
    }
    return true;
}

void firstUnit::handleCommand(const QByteArray &frame)
{
    recordFrame(frame);
    checkSpeed(kCommandBaud, tr("command"));
    QByteArray body; // length(2), code, payload, CRC(2)
    if (!unstuff(frame, &body))
        return;
    if (body.size() < 5) {
        violation(tr("frame too short: %1").arg(hex(frame)));
        return;
    }
    const int n = (quint8(body.at(0)) << 8) | quint8(body.at(1));
    if (n != body.size() - 4) {
        violation(tr("length field %1, frame carries %2").arg(n).arg(body.size() - 4));
        return;
    }
    const quint16 crc = common::calcCrc16(reinterpret_cast<const quint8 *>(body.constData()) + 2, quint32(n));
    const quint16 sent = quint16((quint8(body.at(2 + n)) << 8) | quint8(body.at(3 + n)));
    if (crc != sent) {
        violation(tr("bad CRC %1, expected %2").arg(sent, 4, 16).arg(crc, 4, 16));
        return;
    }
    const quint8 code = quint8(body.at(2));
    const QByteArray payload = body.mid(3, n - 1);
    Step step = ShakeHand;
    if (!checkPayload(code, payload, &step))
        return;
    if (step == Verify && refusesVerifyCode(payload)) {
        respond(step, buildReply(code, kNak), code, frame.size());
        return;
    }
    if (respond(step, buildReply(code, kAck), code, frame.size()))
        applyCommand(code, payload);
}

bool firstUnit::checkPayload(quint8 code, const QByteArray &payload, Step *step)
{
    if (!stepOfCode(code, step)) {
        violation(tr("unknown command %1").arg(code, 2, 16, QLatin1Char('0')));
        return false;
    }
    QByteArray expected;
    int expectedSize = 1;
    switch (code) {
    case 0x11:
        expected = QByteArray::fromHex("0101");
        expectedSize = 2;
        break;
    case 0x13:
        expected = QByteArray::fromHex("04");
        expectedSize = 5;
        break;
    case 0x12:
        expectedSize = kBlockSize;
        break;
    default:
        expected = QByteArray(1, '\0');
        break;
    }
    if (payload.size() != expectedSize || !payload.startsWith(expected)) {
        violation(tr("%1 payload of %2 bytes: %3").arg(stepName(*step)).arg(payload.size()).arg(hex(payload.left(8))));
        return false;
    }
    return true;
}

void firstUnit::applyCommand(quint8 code, const QByteArray &payload)
{
    switch (code) {
    case 0x13:
        m_verifyCode = payload.mid(1);
        break;
    case 0x14:
        m_image.clear();
        m_erased = true;
        break;
    case 0x12:
        if (!m_erased)
            violation(tr("block written without an erase"));
        m_image.append(payload);
        break;
    case 0x04:
        completeJob(m_target, m_image);
        break;
    default:
        break;
    }
}

// ---- output ---------------------------------------------------------------

QByteArray firstUnit::buildReply(quint8 code, quint8 status, const QByteArray &data)
{
    const int n = 1 + data.size();
    const int length = n + 2; // code, n, status and data
    std::vector<quint8> frame(size_t(2 * (length + 6)), 0);
    frame[0] = kStx;
    frame[1] = quint8(length >> 8);
    frame[2] = quint8(length & 0xFF);
    frame[3] = code;
    frame[4] = quint8(n);
    frame[5] = status;
    for (int i = 0; i < data.size(); ++i)
        frame[size_t(6 + i)] = quint8(data.at(i));
    const quint16 crc = common::calcCrc16(&frame[3], quint32(length));
    frame[size_t(3 + length)] = quint8(crc >> 8);
    frame[size_t(4 + length)] = quint8(crc & 0xFF);
    frame[size_t(5 + length)] = kEtx;
    quint16 size = quint16(length + 6);
    common::escapeFrame(frame.data(), &size);
    return QByteArray(reinterpret_cast<const char *>(frame.data()), size);
}

bool firstUnit::respond(Step step, const QByteArray &reply, quint8 code, int requestBytes)
{
    const QList<FaultKind> faults = faultsOnAnswer(step);
    if (faults.contains(Close)) {
        closeLine();
        return false;
    }
    const bool garbage = faults.contains(Garbage);
    if (garbage)
        enqueue(kGarbage, 0, requestBytes);
    const bool silent = faults.contains(Silence);
    const bool nak = faults.contains(Nak);
    // The gap only separates noise from the reply; a plain reply follows the
    // request as soon as it has crossed the line.
    if (!silent && !reply.isEmpty())
        queueReply(nak ? buildReply(code, kNak) : reply, garbage ? kGapMs : 0, garbage ? 0 : requestBytes, faults);
    // An extra frame must reach the tool after the reply, not in the same
    // read (the tool drops what follows a reply it has taken): the gap has
    // a floor however far time is scaled down.
    if (faults.contains(UnknownCode))
        enqueue(buildReply(kUnknownCode, kAck), kGapMs, 0, kExtraFrameFloorMs);
    if (faults.contains(BadStatus))
        enqueue(buildReply(code, kUnknownStatus), kGapMs, 0, kExtraFrameFloorMs);
    return !silent && !nak;
}

void firstUnit::queueReply(const QByteArray &reply, int pauseMs, int requestBytes, const QList<FaultKind> &faults)
{
    if (faults.contains(Drip)) {
        enqueue(reply.left(1), pauseMs, requestBytes);
        for (int i = 1; i < reply.size(); ++i)
            enqueue(reply.mid(i, 1), kDripPauseMs);
        return;
    }
    if (faults.contains(Split) && reply.size() > 1) {
        const int dle = reply.indexOf(char(kDle));
        const int cut = dle >= 0 && dle + 1 < reply.size() ? dle + 1 : reply.size() / 2;
        enqueue(reply.left(cut), pauseMs, requestBytes);
        enqueue(reply.mid(cut), kSplitPauseMs);
        return;
    }
    enqueue(reply, pauseMs, requestBytes);
}
