#include "tools/support/hostileinput.h"

#include "package/zip.h"
#include "protocol/first/progress.h"
#include "protocol/second/progress1.h"
#include "serial/serialport.h"
#include "tools/support/packagewriter.h"
#include "update/common.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sodium.h>

namespace {
// Image sizes an engine may be in the middle of: a single byte, one block,
// a part block, and past both verify-code offsets.
constexpr qint64 kImageSizes[] = {1, 1024, 2500, 0x18000};
constexpr int kImageSizeCount = int(sizeof kImageSizes / sizeof kImageSizes[0]);
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

QString hostileInput::scratchDir()
{
    static QTemporaryDir dir;
    return dir.path();
}

QString hostileInput::imageFile(int sizeIndex)
{
    const qint64 size = kImageSizes[sizeIndex % kImageSizeCount];
    const QString path = scratchDir() + QStringLiteral("/image-%1.bin").arg(size);
    if (QFileInfo(path).size() != size) {
        QByteArray bytes(int(size), '\0');
        for (int i = 0; i < bytes.size(); ++i)
            bytes[i] = char((i * 31 + 7) & 0xFF);
        writeAll(path, bytes);
    }
    return path;
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

QString hostileInput::feedFirstBoard(const QByteArray &bytes)
{
    if (bytes.size() < 2)
        return QString();
    const quint8 mode = quint8(bytes.at(0));
    const quint8 job = quint8(bytes.at(1));
    serialport port;
    quietPort(port);
    progress engine(&port);

    const int step = (mode & 0x0F) % (progress::StepDone + 1);
    engine.m_imageIndex = job & 1;
    engine.m_imagePath = imageFile(job >> 1);
    engine.m_image = readAll(engine.m_imagePath);
    engine.m_fileSize = engine.m_image.size();
    engine.m_writtenSize = (job >> 4) % 2 ? engine.m_fileSize / 2 : 0;
    engine.m_row = 1;
    switch (step) {
    case progress::StepPreambleStart:
        engine.buildPreambleStart();
        break;
    case progress::StepPreambleConfirm:
        engine.buildPreambleConfirm();
        break;
    case progress::StepPreambleTarget:
        engine.buildPreambleTarget(engine.m_imageIndex);
        break;
    case progress::StepShakeHand:
        engine.buildShakeHand();
        break;
    case progress::StepErase:
        engine.buildErase();
        break;
    case progress::StepJump:
        engine.buildJump();
        break;
    default:
        break;
    }
    engine.m_frame.step = step;
    engine.m_preambleMode = (mode & 0x80) != 0;
    if (mode & 0x40)
        engine.m_timer->start(60000);

    for (const Arrival &arrival : splitArrivals(bytes, 2)) {
        if (arrival.timeout)
            engine.timeout();
        else
            engine.receiveData(arrival.bytes);
        if (engine.m_frame.receivedata.size() > kFirstReceiveBound)
            return QStringLiteral("reply buffer grew to %1").arg(engine.m_frame.receivedata.size());
        if (engine.m_frame.sendlen > progress::kSendBufferSize)
            return QStringLiteral("frame length %1 past its buffer").arg(engine.m_frame.sendlen);
        if (engine.m_writtenSize > engine.m_fileSize)
            return QStringLiteral("wrote past the image");
    }
    return QString();
}

// ---- second board -------------------------------------------------------------

QString hostileInput::feedSecondBoard(const QByteArray &bytes)
{
    if (bytes.size() < 2)
        return QString();
    const quint8 mode = quint8(bytes.at(0));
    const quint8 job = quint8(bytes.at(1));
    serialport port;
    quietPort(port);
    progress1 engine(&port);

    engine.m_state = (mode & 0x0F) % (progress1::Finishing + 1);
    engine.m_running = (mode & 0x80) != 0;
    engine.m_lastBlockSent = (mode & 0x20) != 0;
    engine.m_imageIndex = job & 3;
    engine.m_blockMode = (job >> 2) & 1;
    engine.m_imagePath = imageFile(job >> 3);
    engine.m_image = readAll(engine.m_imagePath);
    if (engine.m_state >= progress1::Updating) {
        engine.m_fileSize = engine.m_image.size();
        engine.m_bytesTotal = engine.m_fileSize;
    }
    if (mode & 0x40)
        engine.m_timer->start(60000);

    for (const Arrival &arrival : splitArrivals(bytes, 2)) {
        if (arrival.timeout)
            engine.onTimer();
        else
            engine.receiveData(arrival.bytes);
        if (engine.m_rxCount >= progress1::kMaxReplyLength)
            return QStringLiteral("reply buffer holds %1 bytes").arg(engine.m_rxCount);
        if (engine.m_state < progress1::Handshake || engine.m_state > progress1::Finishing)
            return QStringLiteral("state %1 out of range").arg(engine.m_state);
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

// Derived from a fixed seed: every run, and every seed file, agrees on it.
static void fuzzKeyPair(QByteArray *publicKey, QByteArray *secretKey)
{
    const QByteArray seed(crypto_sign_SEEDBYTES, '\x5a');
    publicKey->resize(crypto_sign_PUBLICKEYBYTES);
    secretKey->resize(crypto_sign_SECRETKEYBYTES);
    if (::sodium_init() < 0)
        return;
    ::crypto_sign_seed_keypair(reinterpret_cast<unsigned char *>(publicKey->data()),
                               reinterpret_cast<unsigned char *>(secretKey->data()),
                               reinterpret_cast<const unsigned char *>(seed.constData()));
}

QByteArray hostileInput::fuzzSecretKey()
{
    QByteArray publicKey, secretKey;
    fuzzKeyPair(&publicKey, &secretKey);
    return secretKey;
}

QByteArray hostileInput::fuzzPublicKey()
{
    QByteArray publicKey, secretKey;
    fuzzKeyPair(&publicKey, &secretKey);
    return publicKey;
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
    const QList<packageMemberCheck> members = packageWriter::verify(zipPath, &readable);
    const QString inMemory = checkImagesInMemory(package, members);
    return inMemory.isEmpty() ? checkKeptImages(package, dir, members) : inMemory;
}
