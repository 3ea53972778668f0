#include "tools/unitsim/firstunit.h"

#include "tools/unitsim/ptyline.h"
#include "util/common.h"

#include <QRegularExpression>
#include <QTimer>

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

const QStringList kPreambleSteps = {"preamble", "confirm", "target"};
const QStringList kCommandSteps = {"shakehand", "verify", "erase", "write", "jump"};

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

QString stepOfCode(quint8 code)
{
    switch (code) {
    case 0x11: return QStringLiteral("shakehand");
    case 0x13: return QStringLiteral("verify");
    case 0x14: return QStringLiteral("erase");
    case 0x12: return QStringLiteral("write");
    case 0x04: return QStringLiteral("jump");
    default: return QString();
    }
}
} // namespace

firstUnit::firstUnit(QObject *parent)
    : QObject(parent), m_line(new ptyLine(this)), m_sendTimer(new QTimer(this))
{
    m_sendTimer->setSingleShot(true);
    connect(m_sendTimer, &QTimer::timeout, this, &firstUnit::onSendTimer);
    connect(m_line, &ptyLine::received, this, &firstUnit::onReceived);
}

bool firstUnit::open()
{
    return m_line->open();
}

QString firstUnit::portName() const
{
    return m_line->slavePath();
}

ptyLine *firstUnit::line()
{
    return m_line;
}

// ---- faults ---------------------------------------------------------------

QString firstUnit::faultHelp()
{
    return QStringLiteral(
        "steps: preamble confirm target shakehand verify erase write (alias block) jump\n"
        "@N picks the N-th occurrence of the step (the N-th block for write) since reset\n"
        "silence:STEP[@N]    no reply\n"
        "nak:STEP[@N]        reply NAK (framed steps only)\n"
        "garbage:STEP[@N]    noise without STX before the reply\n"
        "unknown:STEP[@N]    an extra frame with an unknown code after the reply\n"
        "badstatus:STEP[@N]  an extra frame with the step's code and an unknown status\n"
        "close:STEP[@N]      close the line instead of replying\n"
        "drip                every reply byte by byte\n"
        "split               every reply in two pieces, cut right after a DLE\n");
}

bool firstUnit::addFault(const QString &faultText, QString *error)
{
    auto fail = [error](const QString &text) {
        if (error)
            *error = text;
        return false;
    };
    const QString text = faultText.trimmed().toLower();
    if (text == QLatin1String("drip")) {
        m_drip = true;
        return true;
    }
    if (text == QLatin1String("split")) {
        m_split = true;
        return true;
    }
    static const QRegularExpression pattern(QStringLiteral("^([a-z]+):([a-z]+)(?:@(\\d+))?$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return fail(QStringLiteral("bad fault: %1").arg(faultText));
    static const QHash<QString, FaultKind> kinds = {
        {"silence", FaultKind::Silence}, {"nak", FaultKind::Nak},
        {"garbage", FaultKind::Garbage}, {"unknown", FaultKind::Unknown},
        {"badstatus", FaultKind::BadStatus}, {"close", FaultKind::Close}};
    if (!kinds.contains(match.captured(1)))
        return fail(QStringLiteral("unknown fault: %1").arg(match.captured(1)));
    QString step = match.captured(2);
    if (step == QLatin1String("block"))
        step = QStringLiteral("write");
    if (!kPreambleSteps.contains(step) && !kCommandSteps.contains(step))
        return fail(QStringLiteral("unknown step: %1").arg(step));
    const FaultKind kind = kinds.value(match.captured(1));
    const bool framedOnly = kind == FaultKind::Nak || kind == FaultKind::Unknown
                            || kind == FaultKind::BadStatus;
    if (framedOnly && !kCommandSteps.contains(step))
        return fail(QStringLiteral("%1 needs a framed step").arg(match.captured(1)));
    bool ok = true;
    const int occurrence = match.captured(3).isEmpty() ? 0 : match.captured(3).toInt(&ok);
    if (!ok || (!match.captured(3).isEmpty() && occurrence < 1))
        return fail(QStringLiteral("bad occurrence in %1").arg(faultText));
    m_faults.append({kind, step, occurrence});
    return true;
}

void firstUnit::clearFaults()
{
    m_faults.clear();
    m_drip = false;
    m_split = false;
}

bool firstUnit::hasFault(FaultKind kind, const QString &step, int occurrence) const
{
    for (const Fault &fault : m_faults) {
        if (fault.kind == kind && fault.step == step
            && (fault.occurrence == 0 || fault.occurrence == occurrence))
            return true;
    }
    return false;
}

void firstUnit::reset()
{
    m_rx.clear();
    m_out.clear();
    m_sendTimer->stop();
    m_seen.clear();
    m_frames.clear();
    m_violations.clear();
    m_image.clear();
    m_verifyCode.clear();
    m_target.clear();
    m_erased = false;
    m_jobsCompleted = 0;
}

void firstUnit::beginJob()
{
    m_image.clear();
    m_verifyCode.clear();
    m_target.clear();
    m_erased = false;
}

void firstUnit::violation(const QString &text)
{
    m_violations.append(text);
}

void firstUnit::checkSpeed(int expected, const char *what)
{
    const int baud = m_line->baud();
    if (baud != expected)
        violation(QStringLiteral("%1 at %2 baud, expected %3").arg(what).arg(baud).arg(expected));
}

// ---- input ----------------------------------------------------------------

void firstUnit::onReceived(QByteArray bytes)
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
                    violation(QStringLiteral("frame without ETX, %1 bytes dropped").arg(m_rx.size()));
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
        while (next < m_rx.size() && quint8(m_rx.at(next)) != kStx
               && quint8(m_rx.at(next)) != kPreambleLead)
            ++next;
        violation(QStringLiteral("stray bytes: %1").arg(hex(m_rx.left(next))));
        m_rx.remove(0, next);
    }
}

void firstUnit::handlePreamble(const QByteArray &frame)
{
    m_frames.append(frame);
    emit frameReceived(frame);
    checkSpeed(kPreambleBaud, "preamble");
    if (!frame.startsWith(kRequestLead)) {
        violation(QStringLiteral("bad preamble header: %1").arg(hex(frame)));
        return;
    }
    if (additiveSum(frame, kPreambleLength - 1) != quint8(frame.at(kPreambleLength - 1))) {
        violation(QStringLiteral("bad preamble checksum: %1").arg(hex(frame)));
        return;
    }
    const QByteArray data = frame.mid(kRequestLead.size(), 4);
    if (data == kStartData) {
        beginJob();
        respond(QStringLiteral("preamble"), kStartReply, 0, frame.size());
    } else if (data == kConfirmData) {
        respond(QStringLiteral("confirm"), kConfirmReply, 0, frame.size());
    } else if ((data.at(0) == 0x01 || data.at(0) == 0x02) && data.mid(1) == QByteArray(3, '\0')) {
        m_target = data.at(0) == 0x01 ? QStringLiteral("arm") : QStringLiteral("dsp");
        respond(QStringLiteral("target"), QByteArray(), 0, frame.size());
    } else {
        violation(QStringLiteral("unknown preamble data: %1").arg(hex(data)));
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
                violation(QStringLiteral("bad stuffing 10 %1 in %2")
                              .arg(byte, 2, 16, QLatin1Char('0')).arg(hex(frame.left(16))));
                return false;
            }
            body->append(char(byte - 0x20));
        } else if (byte == kDle) {
            escaped = true;
        } else if (byte == kStx) {
            violation(QStringLiteral("unstuffed STX inside a frame"));
            return false;
        } else {
            body->append(char(byte));
        }
    }
    if (escaped) {
        violation(QStringLiteral("DLE right before ETX"));
        return false;
    }
    return true;
}

void firstUnit::handleCommand(const QByteArray &frame)
{
    m_frames.append(frame);
    emit frameReceived(frame);
    checkSpeed(kCommandBaud, "command");
    QByteArray body; // length(2), code, payload, CRC(2)
    if (!unstuff(frame, &body))
        return;
    if (body.size() < 5) {
        violation(QStringLiteral("frame too short: %1").arg(hex(frame)));
        return;
    }
    const int n = (quint8(body.at(0)) << 8) | quint8(body.at(1));
    if (n != body.size() - 4) {
        violation(QStringLiteral("length field %1, frame carries %2").arg(n).arg(body.size() - 4));
        return;
    }
    const quint16 crc = common::calcCrc16(reinterpret_cast<const quint8 *>(body.constData()) + 2,
                                          quint32(n));
    const quint16 sent = quint16((quint8(body.at(2 + n)) << 8) | quint8(body.at(3 + n)));
    if (crc != sent) {
        violation(QStringLiteral("bad CRC %1, expected %2").arg(sent, 4, 16).arg(crc, 4, 16));
        return;
    }
    const quint8 code = quint8(body.at(2));
    const QByteArray payload = body.mid(3, n - 1);
    QString step;
    if (!checkPayload(code, payload, &step))
        return;
    if (respond(step, buildReply(code, kAck), code, frame.size()))
        applyCommand(code, payload);
}

bool firstUnit::checkPayload(quint8 code, const QByteArray &payload, QString *step)
{
    *step = stepOfCode(code);
    if (step->isEmpty()) {
        violation(QStringLiteral("unknown command %1").arg(code, 2, 16, QLatin1Char('0')));
        return false;
    }
    QByteArray expected;
    int expectedSize = 1;
    switch (code) {
    case 0x11: expected = QByteArray::fromHex("0101"); expectedSize = 2; break;
    case 0x13: expected = QByteArray::fromHex("04"); expectedSize = 5; break;
    case 0x12: expectedSize = kBlockSize; break;
    default: expected = QByteArray(1, '\0'); break;
    }
    if (payload.size() != expectedSize || !payload.startsWith(expected)) {
        violation(QStringLiteral("%1 payload of %2 bytes: %3")
                      .arg(*step).arg(payload.size()).arg(hex(payload.left(8))));
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
            violation(QStringLiteral("block written without an erase"));
        m_image.append(payload);
        break;
    case 0x04:
        ++m_jobsCompleted;
        emit jobCompleted(m_target, m_image);
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

bool firstUnit::respond(const QString &step, const QByteArray &reply, quint8 code, int requestBytes)
{
    const int occurrence = ++m_seen[step];
    if (hasFault(FaultKind::Close, step, occurrence)) {
        m_out.clear();
        m_sendTimer->stop();
        m_line->close();
        return false;
    }
    const int arrival = wireMs(requestBytes);
    const bool garbage = hasFault(FaultKind::Garbage, step, occurrence);
    if (garbage)
        enqueue(kGarbage, arrival);
    const bool silent = hasFault(FaultKind::Silence, step, occurrence);
    const bool nak = hasFault(FaultKind::Nak, step, occurrence);
    // The gap only separates noise from the reply; a plain reply follows the
    // request as soon as it has crossed the line.
    if (!silent && !reply.isEmpty())
        queueReply(nak ? buildReply(code, kNak) : reply, garbage ? kGapMs : arrival);
    if (hasFault(FaultKind::Unknown, step, occurrence))
        enqueue(buildReply(kUnknownCode, kAck), kGapMs);
    if (hasFault(FaultKind::BadStatus, step, occurrence))
        enqueue(buildReply(code, kUnknownStatus), kGapMs);
    return !silent && !nak;
}

void firstUnit::queueReply(const QByteArray &reply, int pauseMs)
{
    if (m_drip) {
        for (int i = 0; i < reply.size(); ++i)
            enqueue(reply.mid(i, 1), i == 0 ? pauseMs : kDripPauseMs);
        return;
    }
    if (m_split && reply.size() > 1) {
        const int dle = reply.indexOf(char(kDle));
        const int cut = dle >= 0 && dle + 1 < reply.size() ? dle + 1 : reply.size() / 2;
        enqueue(reply.left(cut), pauseMs);
        enqueue(reply.mid(cut), kSplitPauseMs);
        return;
    }
    enqueue(reply, pauseMs);
}

int firstUnit::wireMs(int bytes) const
{
    const int baud = m_line->baud();
    if (!m_lineRate || baud <= 0)
        return 0;
    return int((qint64(bytes) * 10 * 1000 + baud - 1) / baud);
}

void firstUnit::enqueue(const QByteArray &bytes, int pauseMs)
{
    m_out.append({bytes, pauseMs + wireMs(bytes.size())});
    if (!m_sendTimer->isActive())
        scheduleNext();
}

void firstUnit::scheduleNext()
{
    if (!m_out.isEmpty())
        m_sendTimer->start(common::scaledMs(m_out.first().pauseMs));
}

void firstUnit::onSendTimer()
{
    if (m_out.isEmpty())
        return;
    const Chunk chunk = m_out.takeFirst();
    m_line->write(chunk.bytes);
    scheduleNext();
}
