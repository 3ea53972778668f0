#include "tools/support/memoryinput.h"

#include "package/objectfile.h"
#include "package/packagesignature.h"
#include "protocol/first/firstcodec.h"
#include "protocol/second/secondcodec.h"
#include "tools/support/hostileinput.h"

#include <sodium.h>

#include <cstring>

namespace {
// The largest a reply buffer may grow to before the decoder drops it.
constexpr int kFirstReceiveBound = 64 * 1024 + 64 * 1024;
constexpr qint64 kFlatImageBound = qint64(objectFile::kMaxSections) * 2 * 262144;

// Walks the arrival coding of splitArrivals in place, without a copy: the
// codec targets run hundreds of thousands of times a second.
class arrivalCursor
{
public:
    arrivalCursor(const QByteArray &bytes, int from)
        : m_bytes(bytes)
        , m_at(from)
    {
    }
    // False at the end; otherwise an expiry, or the bytes of an arrival.
    bool next(bool *timeout, const char **data, int *size)
    {
        if (m_at >= m_bytes.size())
            return false;
        const quint8 length = quint8(m_bytes.at(m_at++));
        *timeout = length == hostileInput::kTimerExpires;
        const int count = *timeout                 ? 0
            : length == hostileInput::kRestOfInput ? m_bytes.size() - m_at
                                                   : qMin(int(length), m_bytes.size() - m_at);
        *data = m_bytes.constData() + m_at;
        *size = count;
        m_at += count;
        return true;
    }

private:
    const QByteArray &m_bytes;
    int m_at;
};

// A reply, stuffed again and sent alone, reads back the same. A reply of
// count 0 is 8 bytes long and is taken only once a ninth byte has come.
QString checkFirstReply(const firstCodec::Reply &reply)
{
    const QByteArray &frame = reply.frame;
    if (frame.size() != reply.count + firstCodec::kReplyOverhead || frame.at(0) != firstCodec::kStx
        || quint8(frame.at(frame.size() - 1)) != firstCodec::kEtx || quint8(frame.at(3)) != reply.code)
        return QStringLiteral("reply framed wrongly: ") + QString::fromLatin1(frame.toHex(' '));
    QByteArray wire(frame.size() * 2 + 1, '\0');
    std::memcpy(wire.data(), frame.constData(), size_t(frame.size()));
    quint16 length = quint16(frame.size());
    firstCodec::stuff(reinterpret_cast<quint8 *>(wire.data()), &length);
    wire.resize(length + (reply.count == 0 ? 1 : 0));
    firstCodec::decoder fresh;
    const firstCodec::Received again = fresh.feed(wire);
    if (again.kind != firstCodec::Received::Complete || again.reply.frame != frame)
        return QStringLiteral("reply does not survive stuffing: ") + QString::fromLatin1(frame.toHex(' '));
    return QString();
}

// A fresh decoder given a reply's bytes completes at its last.
bool readsAlone(const secondCodec::Reply &reply)
{
    secondCodec::decoder fresh;
    for (int i = 0; i < reply.length; ++i) {
        if ((fresh.push(reply.bytes[i]) == secondCodec::decoder::Complete) != (i + 1 == reply.length))
            return false;
    }
    return true;
}

// Derived from a fixed seed: every run, and every seed file, agrees on it.
void fuzzKeyPair(QByteArray *publicKey, QByteArray *secretKey)
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

} // namespace

QByteArray memoryInput::fuzzSecretKey()
{
    QByteArray publicKey, secretKey;
    fuzzKeyPair(&publicKey, &secretKey);
    return secretKey;
}

QByteArray memoryInput::fuzzPublicKey()
{
    QByteArray publicKey, secretKey;
    fuzzKeyPair(&publicKey, &secretKey);
    return publicKey;
}

QString memoryInput::readObjectFile(const QByteArray &bytes)
{
    // One reader and one image buffer for a whole run, as a long-lived
    // translator would keep them.
    static objectFile reader;
    static QByteArray flat;
    if (flat.capacity() == 0)
        flat.reserve(1 << 20);
    const bool parsed = reader.parseOutFile(bytes);
    if (parsed && reader.selectedSectionCount() > quint32(objectFile::kMaxSections))
        return QStringLiteral("%1 sections selected").arg(reader.selectedSectionCount());
    if (parsed && reader.buildBinFile(bytes, &flat) && (flat.size() % 2 != 0 || flat.size() > kFlatImageBound))
        return QStringLiteral("flat image of impossible size %1").arg(flat.size());
    return QString();
}

QString memoryInput::decodeFirstBoard(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return QString();
    static const QByteArray startReply = firstCodec::preambleStartReply();
    static const QByteArray confirmReply = firstCodec::preambleConfirmReply();
    const bool preamble = bytes.at(0) & 1;
    firstCodec::PreambleHeld found;
    // One decoder for the whole run, as an engine keeps one for its life.
    static firstCodec::decoder decoder;
    decoder.clear();
    arrivalCursor cursor(bytes, 1);
    bool timeout = false;
    const char *arrival = nullptr;
    int size = 0;
    while (cursor.next(&timeout, &arrival, &size)) {
        if (timeout) {
            decoder.clear();
            found = firstCodec::PreambleHeld();
        } else if (preamble) {
            decoder.feedPreamble(arrival, size);
            // A reply found is really held; one found before stays found.
            const firstCodec::PreambleHeld held = decoder.scanPreamble();
            if ((held.start && !decoder.held().contains(startReply))
                || (held.confirm && !decoder.held().contains(confirmReply)))
                return QStringLiteral("preamble reply invented");
            if (held.error == firstCodec::ReceiveError::None
                && ((found.start && !held.start) || (found.confirm && !held.confirm)))
                return QStringLiteral("preamble reply lost");
            found = held;
        } else {
            const firstCodec::Received got = decoder.feed(arrival, size);
            const QString broken = got.kind == firstCodec::Received::Complete ? checkFirstReply(got.reply) : QString();
            if (!broken.isEmpty())
                return broken;
        }
        if (decoder.held().size() > kFirstReceiveBound)
            return QStringLiteral("reply buffer grew to %1").arg(decoder.held().size());
    }
    return QString();
}

QString memoryInput::decodeSecondBoard(const QByteArray &bytes)
{
    secondCodec::decoder decoder;
    arrivalCursor cursor(bytes, 0);
    bool timeout = false;
    const char *arrival = nullptr;
    int size = 0;
    while (cursor.next(&timeout, &arrival, &size)) {
        if (timeout)
            decoder.clear();
        for (int i = 0; i < size; ++i) {
            const char byte = arrival[i];
            const int before = decoder.pending();
            const secondCodec::decoder::Outcome outcome = decoder.push(quint8(byte));
            if (outcome == secondCodec::decoder::Dropped && before + 1 != secondCodec::kMaxReplyLength)
                return QStringLiteral("dropped after %1 bytes").arg(before + 1);
            if (decoder.pending() > secondCodec::kMaxReplyLength)
                return QStringLiteral("holds %1 bytes").arg(decoder.pending());
            if (outcome != secondCodec::decoder::Complete)
                continue;
            if (!readsAlone(decoder.reply()))
                return QStringLiteral("a %1-byte reply read differently alone").arg(decoder.reply().length);
            decoder.clear();
        }
    }
    return QString();
}

bool memoryInput::s_signingRoundTrip = false;

QString memoryInput::parseSignature(const QByteArray &bytes)
{
    static const QByteArray publicKey = fuzzPublicKey();
    static const QByteArray secretKey = fuzzSecretKey();
    static const QString keyId = packageSignature::keyIdOf(publicKey);
    packageSignature signature;
    QString problem;
    if (!signature.parse(bytes, &problem))
        return problem.isEmpty() ? QStringLiteral("refused without a reason") : QString();
    if (signature.keyId.size() != 16)
        return QStringLiteral("key id of %1 characters").arg(signature.keyId.size());
    // What the fuzz key signed reads back as what it was built from. Two
    // signature operations cost more than the parse many times over: only
    // the replay of seeds and findings takes them.
    const int signedLength = bytes.lastIndexOf("\nsignature ") + 1;
    if (s_signingRoundTrip && signature.keyId == keyId && signature.isSignedBy(publicKey)
        && packageSignature::build(secretKey, signature.model, signature.members).left(signedLength)
            != bytes.left(signedLength))
        return QStringLiteral("a signed listing reads back differently");
    return QString();
}
