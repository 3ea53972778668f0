#include "tools/support/hostileinput.h"

#include "package/packagesignature.h"
#include "package/zip.h"
#include "protocol/first/firstcodec.h"
#include "protocol/first/progress.h"
#include "protocol/second/progress1.h"
#include "protocol/second/secondcodec.h"
#include "serial/serialport.h"
#include "tools/support/memoryinput.h"
#include "tools/support/packagewriter.h"
#include "tools/unitsim/ptyline.h"
#include "update/common.h"
#include "util/modeltable.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMetaObject>
#include <QTemporaryDir>
#include <QTimer>

#include <cstring>

namespace {
// The largest a reply buffer may grow to before the engine drops it.
constexpr int kFirstReceiveBound = 64 * 1024 + 64 * 1024;
constexpr qint64 kFlatImageBound = qint64(common::kMaxSections) * 2 * 262144;
const QByteArray kVictim("must stay as it is");

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

void discardMessage(QtMsgType, const QMessageLogContext &, const QString &) { }

void quietPort(serialport &port)
{
    port.setWarningPresenter([](const QString &) {});
}

// Made once per size for a whole run: the engines share them, as jobs
// share an image in memory.
QByteArray imageBytes(qint64 size)
{
    static QHash<qint64, QByteArray> made;
    QByteArray &bytes = made[size];
    if (bytes.isEmpty()) {
        bytes.resize(int(size));
        for (int i = 0; i < bytes.size(); ++i)
            bytes[i] = char((i * 31 + 7) & 0xFF);
    }
    return bytes;
}

// The engine's step timer runs out: its timeout is delivered as the timer
// would deliver it.
void expire(QObject &engine)
{
    for (QTimer *timer : engine.findChildren<QTimer *>()) {
        if (timer->objectName().isEmpty())
            QMetaObject::invokeMethod(timer, "timeout", Qt::DirectConnection);
    }
}

void endTargetPause(QObject &engine)
{
    if (QTimer *pause = engine.findChild<QTimer *>(QStringLiteral("targetPause")))
        QMetaObject::invokeMethod(pause, "timeout", Qt::DirectConnection);
}

// The first board's acknowledgement of a command, as the line carries it.
QByteArray firstAck(quint8 code)
{
    const quint8 payload[] = {0x01, firstCodec::kAck};
    const QByteArray plain = firstCodec::command(code, payload, sizeof payload);
    QByteArray wire(plain.size() * 2, '\0');
    std::memcpy(wire.data(), plain.constData(), size_t(plain.size()));
    quint16 length = quint16(plain.size());
    firstCodec::stuff(reinterpret_cast<quint8 *>(wire.data()), &length);
    wire.resize(length);
    return wire;
}

QByteArray secondReply(const QByteArray &head)
{
    QByteArray reply = head;
    reply.append(char(secondCodec::xorCheck(reinterpret_cast<const quint8 *>(head.constData()), quint32(head.size()))));
    return reply;
}
} // namespace

QList<hostileInput::Arrival> hostileInput::splitArrivals(const QByteArray &bytes, int from)
{
    QList<Arrival> arrivals;
    int at = from;
    while (at < bytes.size()) {
        const quint8 length = quint8(bytes.at(at++));
        Arrival arrival;
        if (length == kTimerExpires) {
            arrival.timeout = true;
        } else if (length == kRestOfInput) {
            arrival.bytes = bytes.mid(at);
            at = bytes.size();
        } else {
            arrival.bytes = bytes.mid(at, length);
            at += length;
        }
        arrivals.append(arrival);
    }
    return arrivals;
}

QByteArray hostileInput::joinArrivals(const QList<QByteArray> &arrivals)
{
    QByteArray out;
    for (const QByteArray &arrival : arrivals) {
        for (int at = 0; at < arrival.size(); at += kTimerExpires - 1) {
            const QByteArray piece = arrival.mid(at, kTimerExpires - 1);
            out.append(char(piece.size()));
            out.append(piece);
        }
    }
    return out;
}

void hostileInput::silenceDebugOutput()
{
    qInstallMessageHandler(discardMessage);
}

// In memory when the system offers a memory-backed folder: a fuzz run
// unpacks thousands of packages a second.
QString hostileInput::scratchDir()
{
    static QTemporaryDir dir(QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                                 ? QStringLiteral("/dev/shm/ups-hostile-XXXXXX")
                                 : QDir::tempPath() + QStringLiteral("/ups-hostile-XXXXXX"));
    return dir.path();
}

// The tool's end of a virtual line that stays open for the whole run: the
// engines open it as they would a unit's port.
QString hostileInput::linePath()
{
    static ptyLine line;
    if (!line.isOpen())
        line.open();
    return line.slavePath();
}

// ---- object files -----------------------------------------------------------

QString hostileInput::translateObjectFile(const QByteArray &bytes)
{
    const QString dir = scratchDir() + QStringLiteral("/translate");
    QDir(dir).removeRecursively();
    QDir().mkpath(dir);
    const QString inPath = dir + QStringLiteral("/dsp.out");
    const QString outPath = dir + QStringLiteral("/dsp.bin");
    if (!writeAll(inPath, bytes))
        return QStringLiteral("cannot write the object file");

    common util;
    const QString result = util.translateFile(inPath);
    if (readAll(inPath) != bytes)
        return QStringLiteral("the object file was changed");
    if (result.isEmpty())
        return QString();
    if (result != outPath)
        return QStringLiteral("flat image written elsewhere: ") + result;
    const qint64 size = QFileInfo(outPath).size();
    if (size % 2 != 0 || size > kFlatImageBound)
        return QStringLiteral("flat image of impossible size %1").arg(size);
    // The object file, the flat image and the record of what was written.
    if (QDir(dir).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden).size() != 3)
        return QStringLiteral("stray files beside the flat image");
    return QString();
}

// ---- first board -------------------------------------------------------------

namespace {
// Image sizes an engine may be in the middle of: a single byte, one block,
// a part block, and past both verify-code offsets.
constexpr qint64 kFirstImageSizes[] = {1, 1024, 2500, 0x18000};

// Walks a job to `step` by the replies a unit gives; false when the engine
// took another way.
bool firstBoardTo(progress &engine, int step, bool halfWritten, const qint64 &written, qint64 size)
{
    using P = progress;
    const auto ack = [&engine](quint8 code) { engine.receiveData(firstAck(code)); };
    while (engine.frame().step != step) {
        switch (engine.frame().step) {
        case P::StepPreambleStart:
            if (step == P::StepPreambleConfirm || step == P::StepPreambleTarget)
                engine.receiveData(firstCodec::preambleStartReply());
            else
                expire(engine); // no answer: on without the processor choice
            break;
        case P::StepPreambleConfirm:
            engine.receiveData(firstCodec::preambleConfirmReply());
            endTargetPause(engine);
            break;
        case P::StepShakeHand:
            ack(P::CmdShakeHand);
            break;
        case P::StepVerify:
            ack(P::CmdVerify);
            break;
        case P::StepErase:
            ack(P::CmdErase);
            break;
        case P::StepWriteFlash:
            ack(P::CmdWriteFlash);
            break;
        case P::StepJump:
            ack(P::CmdJump);
            break;
        default:
            return false;
        }
    }
    while (step == P::StepWriteFlash && halfWritten && written < size / 2 && engine.frame().step == step)
        ack(P::CmdWriteFlash);
    return engine.frame().step == step;
}
} // namespace

QString hostileInput::feedFirstBoard(const QByteArray &bytes)
{
    if (bytes.size() < 2)
        return QString();
    const quint8 mode = quint8(bytes.at(0));
    const quint8 job = quint8(bytes.at(1));
    serialport port;
    quietPort(port);
    progress engine(&port);
    qint64 written = 0;
    qint64 total = 0;
    QObject::connect(&engine, &progress::sendprogressBar, [&](int, qlonglong bytesWritten, qlonglong bytesTotal) {
        written = bytesWritten;
        total = bytesTotal;
    });

    const int step = (mode & 0x0F) % (progress::StepDone + 1);
    updateParm parm;
    parm.modelId = 0;
    parm.row = 1;
    parm.imageIndex = job & 1;
    parm.portName = linePath();
    parm.imagePath = QStringLiteral("image.bin");
    parm.image = imageBytes(kFirstImageSizes[(job >> 1) % 4]);
    engine.initParm(parm);
    if (!firstBoardTo(engine, step, (job >> 4) & 1, written, parm.image.size()))
        return QStringLiteral("step %1 not reached").arg(step);
    if (!(mode & 0x40))
        engine.stop();

    for (const Arrival &arrival : splitArrivals(bytes, 2)) {
        if (arrival.timeout)
            expire(engine);
        else
            engine.receiveData(arrival.bytes);
        if (engine.pendingReplyBytes() > kFirstReceiveBound)
            return QStringLiteral("reply buffer grew to %1").arg(engine.pendingReplyBytes());
        if (engine.frame().sendlen > progress::kSendBufferSize)
            return QStringLiteral("frame length %1 past its buffer").arg(engine.frame().sendlen);
        if (written > total)
            return QStringLiteral("wrote past the image");
    }
    return QString();
}

// ---- second board -------------------------------------------------------------

namespace {
constexpr qint64 kSecondImageExtra[] = {1, 1024, 2500, 40000};

bool secondBoardTo(progress1 &engine, int state, bool lastBlock, const bool &lastSent)
{
    using P = progress1;
    const auto reply = [&engine](const char *hex) { engine.receiveData(secondReply(QByteArray::fromHex(hex))); };
    // Only long-frame images announce their size.
    int guard = 0;
    while (engine.state() != state && ++guard < 64) {
        switch (engine.state()) {
        case P::Handshake:
            expire(engine);
            reply("0455AA");
            break;
        case P::FileSizeSent:
            reply("04AA55");
            break;
        case P::ChangePortSent:
            engine.receiveData(QByteArray::fromHex("01069CA700001679"));
            break;
        case P::Erasing:
            reply("04AA55");
            break;
        case P::Updating:
            reply("04AA55");
            if (!lastSent)
                --guard;
            break;
        case P::Finishing:
            return false;
        default: // the pauses and the dues go on by their timer
            expire(engine);
            break;
        }
        if (!engine.isRunning())
            return false;
    }
    while (state == P::Updating && lastBlock && !lastSent && engine.isRunning())
        reply("04AA55");
    return engine.state() == state;
}
} // namespace

QString hostileInput::feedSecondBoard(const QByteArray &bytes)
{
    if (bytes.size() < 2)
        return QString();
    const quint8 mode = quint8(bytes.at(0));
    const quint8 job = quint8(bytes.at(1));
    serialport port;
    quietPort(port);
    progress1 engine(&port);
    bool lastSent = false;
    QObject::connect(&engine, &progress1::sendMessage, [&lastSent](const QString &line) {
        lastSent = lastSent || line == QStringLiteral("updating finished!");
    });

    const int imageIndex = job & 3;
    const modelTable::secondImage *kind = modelTable::secondImageKind(imageIndex);
    int state = (mode & 0x0F) % (progress1::Finishing + 1);
    if (kind->blockMode == 0 && (state == progress1::FileSizeDue || state == progress1::FileSizeSent))
        state = progress1::ChangePortDue;
    updateParm parm;
    parm.modelId = 1;
    parm.row = 1;
    parm.imageIndex = imageIndex;
    parm.portName = linePath();
    parm.imagePath = QStringLiteral("image.bin");
    static QHash<int, QByteArray> signedImages;
    const int imageKey = imageIndex * 4 + (job >> 3) % 4;
    if (!signedImages.contains(imageKey)) {
        QByteArray image =
            imageBytes(kind->signatureOffset + kind->signatureLength + kSecondImageExtra[(job >> 3) % 4]);
        image.replace(int(kind->signatureOffset), kind->signatureLength,
                      QByteArray(kind->signature, kind->signatureLength));
        signedImages.insert(imageKey, image);
    }
    parm.image = signedImages.value(imageKey);
    engine.initParm(parm);
    if (!secondBoardTo(engine, state, (mode & 0x20) != 0, lastSent))
        return QStringLiteral("state %1 not reached").arg(state);
    if (!(mode & 0x80))
        engine.stop();

    for (const Arrival &arrival : splitArrivals(bytes, 2)) {
        if (arrival.timeout)
            expire(engine);
        else
            engine.receiveData(arrival.bytes);
        if (engine.pendingReplyBytes() >= progress1::kMaxReplyLength)
            return QStringLiteral("reply buffer holds %1 bytes").arg(engine.pendingReplyBytes());
        if (engine.state() < progress1::Handshake || engine.state() > progress1::Finishing)
            return QStringLiteral("state %1 out of range").arg(engine.state());
    }
    return QString();
}

// ---- packages -------------------------------------------------------------------

// Every file that stayed in dir after the checks is either empty or the
// payload of a member whose trailer matched.
static QString checkKeptImages(const zip &package, const QString &dir, const QList<packageMemberCheck> &members)
{
    const QFileInfoList kept = QDir(dir).entryInfoList(QDir::Files | QDir::Hidden);
    for (const QFileInfo &file : kept) {
        if (!package.isImage(file.filePath()) || file.size() == 0)
            continue;
        const QByteArray content = readAll(file.filePath());
        bool vouched = false;
        for (const packageMemberCheck &member : members) {
            vouched = vouched
                || (member.intact && member.trailerOk && QFileInfo(member.name).fileName() == file.fileName()
                    && member.size - 32 == content.size());
        }
        if (!vouched)
            return QStringLiteral("image kept without a matching digest: ") + file.fileName();
    }
    return QString();
}

// Every image kept in memory for sending is the payload of a whole member
// of its name whose trailer matched.
static QString checkImagesInMemory(zip &package, const QList<packageMemberCheck> &members)
{
    for (int i = 0; i < package.entryCount(); ++i) {
        const QString name = package.entryName(i);
        if (!package.isImage(name) || package.entryProblem(i) != zip::NoProblem)
            continue;
        package.clearChecked();
        package.addChecked(0, name);
        const QByteArray bytes = package.checkedFiles().value(0).bytes;
        bool vouched = false;
        for (const packageMemberCheck &member : members) {
            vouched = vouched
                || (member.intact && member.trailerOk && QFileInfo(member.name).fileName() == name
                    && member.size - 32 == bytes.size());
        }
        if (!vouched || bytes.isEmpty())
            return QStringLiteral("image kept in memory without a matching digest: ") + name;
    }
    return QString();
}

// Nothing but the package, the untouched victim and the unpacked directory
// may exist under root, and no symlink anywhere.
static QString checkNothingOutside(const QString &root, const QString &zipPath, const QString &dir,
                                   const QString &victim)
{
    if (readAll(victim) != kVictim)
        return QStringLiteral("a file outside the package directory was changed");
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (it.fileInfo().isSymLink())
            return QStringLiteral("symlink written: ") + path;
        const bool inside = path == dir || path.startsWith(dir + QLatin1Char('/'));
        const bool known = path == zipPath || path == victim || path == QFileInfo(victim).path();
        if (!inside && !known)
            return QStringLiteral("written outside the package directory: ") + path;
    }
    return QString();
}

QByteArray hostileInput::fuzzSecretKey()
{
    return memoryInput::fuzzSecretKey();
}

QByteArray hostileInput::fuzzPublicKey()
{
    return memoryInput::fuzzPublicKey();
}

QString hostileInput::unpackPackage(const QByteArray &bytes)
{
    const QString root = scratchDir() + QStringLiteral("/unpack");
    QDir(root).removeRecursively();
    QDir().mkpath(root + QStringLiteral("/outside"));
    const QString victim = root + QStringLiteral("/outside/arm.bin");
    writeAll(victim, kVictim);
    const QString base = bytes.size() % 2 ? QStringLiteral("/fw-15-20k") : QStringLiteral("/fw-5-10k");
    const QString zipPath = root + base + QStringLiteral(".zip");
    const QString dir = root + base;
    if (!writeAll(zipPath, bytes))
        return QStringLiteral("cannot write the package");

    zip package;
    const bool trusting = bytes.size() % 4 >= 2;
    if (trusting)
        package.setTrustedKeys(trustedKeys::fromPublicKeys({fuzzPublicKey()}));
    bool refused = false;
    QObject::connect(&package, &zip::sendRefusal, [&refused](const QString &line) {
        refused = refused || line.startsWith(QStringLiteral("package refused"));
    });
    package.extract(zipPath, dir);
    if (refused && (package.entryCount() != 0 || QFileInfo::exists(dir)))
        return QStringLiteral("a refused package was unpacked");
    if (refused && !trusting)
        return QStringLiteral("refused with no key trusted");
    for (int i = 0; i < package.entryCount(); ++i) {
        if (package.entrySize(i) < 0 || package.entryName(i).isEmpty())
            return QStringLiteral("entry %1 listed without a name or size").arg(i);
    }
    if (readAll(zipPath) != bytes)
        return QStringLiteral("the package itself was changed");
    const QString outside = checkNothingOutside(root, zipPath, dir, victim);
    if (!outside.isEmpty())
        return outside;
    bool readable = false;
    const QList<packageMemberCheck> members = packageWriter::verifyBytes(bytes, &readable);
    const QString inMemory = checkImagesInMemory(package, members);
    return inMemory.isEmpty() ? checkKeptImages(package, dir, members) : inMemory;
}
