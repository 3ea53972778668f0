#include "package/packagesignature.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>

#include <sodium.h>

#include <algorithm>

#include "package/zip.h"
#include "util/regularfile.h"

namespace {

const char kHeader[] = "ups-package-signature";
const char kPublicTag[] = "ups-ed25519-public";
const char kSecretTag[] = "ups-ed25519-secret";
constexpr qint64 kChunk = 64 * 1024;
constexpr qint64 kMaxKeyFileLength = 4096;

bool sodiumReady()
{
    static const bool ready = ::sodium_init() >= 0;
    return ready;
}

bool byName(const signedMember &a, const signedMember &b)
{
    return a.name.toUtf8() < b.name.toUtf8();
}

bool isListable(const QString &name)
{
    return !name.isEmpty() && !name.contains(QLatin1Char('\n')) && !name.contains(QLatin1Char('\r'));
}

// "TAG BASE64\n" holding exactly `length` bytes. Only a regular file is
// read: a FIFO or a device named as a key must not stall the caller.
QByteArray readKeyFile(const QString &path, const char *tag, int length, QString *problem)
{
    QByteArray bytes;
    if (!regularFile::read(path, kMaxKeyFileLength, &bytes, problem))
        return QByteArray();
    const QList<QByteArray> words = bytes.trimmed().split(' ');
    const QByteArray key =
        words.size() == 2 ? QByteArray::fromBase64(words.at(1), QByteArray::AbortOnBase64DecodingErrors) : QByteArray();
    if (words.size() != 2 || words.at(0) != tag || key.size() != length) {
        *problem = trustedKeys::tr("not a key file of this tool");
        return QByteArray();
    }
    return key;
}

// A key file is put in place whole, never over another one. The temporary
// file is created readable by its owner only, before a byte is written.
bool writeKeyFile(const QString &path, const char *tag, const QByteArray &key, bool secret, QString *problem)
{
    QTemporaryFile temp(QFileInfo(path).absolutePath() + QStringLiteral("/.key-XXXXXX"));
    const QByteArray line = QByteArray(tag) + ' ' + key.toBase64() + '\n';
    if (!temp.open() || temp.write(line) != line.size() || !temp.flush()) {
        *problem = temp.errorString();
        return false;
    }
    if (!secret)
        temp.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    if (!temp.rename(path)) {
        *problem = temp.errorString();
        return false;
    }
    temp.setAutoRemove(false);
    return true;
}

// Every member but SIGNATURE as it is in the archive, read whole.
// Without `hashAll` only SIGNATURE is read.
bool readMembers(QuaZip &archive, bool hashAll, QList<signedMember> *members, QByteArray *signature, int *signatures,
                 QString *problem)
{
    qint64 budget = zip::kMaxPackageSize;
    for (bool more = archive.goToFirstFile(); more; more = archive.goToNextFile()) {
        const QString name = archive.getCurrentFileName();
        if (!hashAll && name != QLatin1String(packageSignature::kMemberName))
            continue;
        QuaZipFile member(&archive);
        if (!member.open(QIODevice::ReadOnly)) {
            *problem = packageSignature::tr("%1 cannot be read").arg(name);
            return false;
        }
        QCryptographicHash hash(QCryptographicHash::Sha256);
        QByteArray kept;
        qint64 size = 0;
        for (QByteArray chunk = member.read(kChunk); !chunk.isEmpty(); chunk = member.read(kChunk)) {
            size += chunk.size();
            if (size > zip::kMaxMemberSize || size > budget) {
                *problem = packageSignature::tr("%1 is larger than any member can be").arg(name);
                return false;
            }
            hash.addData(chunk);
            if (name == QLatin1String(packageSignature::kMemberName))
                kept += chunk;
        }
        member.close();
        budget -= size;
        if (member.getZipError() != UNZ_OK) {
            *problem = packageSignature::tr("%1 cannot be read").arg(name);
            return false;
        }
        if (name == QLatin1String(packageSignature::kMemberName)) {
            *signature = kept;
            ++*signatures;
        } else {
            members->append(signedMember {name, size, hash.result()});
        }
    }
    return true;
}

// The first difference between what was signed and what the package holds.
QString firstDifference(QList<signedMember> signedList, QList<signedMember> actual)
{
    std::stable_sort(actual.begin(), actual.end(), byName);
    std::stable_sort(signedList.begin(), signedList.end(), byName);
    for (int i = 0; i < qMax(signedList.size(), actual.size()); ++i) {
        if (i >= actual.size())
            return packageSignature::tr("%1 was signed but is missing").arg(signedList.at(i).name);
        if (i >= signedList.size() || actual.at(i).name != signedList.at(i).name) {
            const bool added = i >= signedList.size() || byName(actual.at(i), signedList.at(i));
            return added ? packageSignature::tr("%1 was not signed").arg(actual.at(i).name)
                         : packageSignature::tr("%1 was signed but is missing").arg(signedList.at(i).name);
        }
        if (actual.at(i).size != signedList.at(i).size || actual.at(i).sha256 != signedList.at(i).sha256)
            return packageSignature::tr("%1 is not the file that was signed").arg(actual.at(i).name);
    }
    return QString();
}

signatureVerdict refused(const QString &reason, const QString &keyId = QString())
{
    return signatureVerdict {signatureVerdict::Refused, keyId, reason};
}

} // namespace

QString packageSignature::keyIdOf(const QByteArray &publicKey)
{
    return QString::fromLatin1(QCryptographicHash::hash(publicKey, QCryptographicHash::Sha256).left(8).toHex());
}

QString packageSignature::keyIdOfSecret(const QByteArray &secretKey)
{
    if (!sodiumReady() || secretKey.size() != kSecretKeyLength)
        return QString();
    QByteArray publicKey(kPublicKeyLength, '\0');
    ::crypto_sign_ed25519_sk_to_pk(reinterpret_cast<unsigned char *>(publicKey.data()),
                                   reinterpret_cast<const unsigned char *>(secretKey.constData()));
    return keyIdOf(publicKey);
}

QByteArray packageSignature::listing(const QString &keyId, int model, const QList<signedMember> &members)
{
    QByteArray text = QByteArray(kHeader) + ' ' + QByteArray::number(kFormatVersion) + '\n';
    text += "key " + keyId.toLatin1() + '\n';
    text += "model " + QByteArray::number(model) + '\n';
    for (const signedMember &m : members)
        text += "member " + m.sha256.toHex() + ' ' + QByteArray::number(m.size) + ' ' + m.name.toUtf8() + '\n';
    return text;
}

QByteArray packageSignature::build(const QByteArray &secretKey, int model, QList<signedMember> members)
{
    if (!sodiumReady() || secretKey.size() != kSecretKeyLength)
        return QByteArray();
    for (const signedMember &m : qAsConst(members)) {
        if (!isListable(m.name) || m.name == QLatin1String(kMemberName) || m.sha256.size() != 32)
            return QByteArray();
    }
    std::stable_sort(members.begin(), members.end(), byName);
    const QByteArray text = listing(keyIdOfSecret(secretKey), model, members);
    QByteArray signature(crypto_sign_BYTES, '\0');
    ::crypto_sign_detached(reinterpret_cast<unsigned char *>(signature.data()), nullptr,
                           reinterpret_cast<const unsigned char *>(text.constData()), quint64(text.size()),
                           reinterpret_cast<const unsigned char *>(secretKey.constData()));
    return text + "signature " + signature.toBase64() + '\n';
}

// The text after "PREFIX " on a line that starts with it; false otherwise.
static bool valueAfter(const QByteArray &line, const char *prefix, QByteArray *value)
{
    const int length = int(qstrlen(prefix));
    *value = line.mid(length + 1);
    return line.size() > length && line.startsWith(prefix) && line.at(length) == ' ';
}

// "member <64 hex> <size> <name>": the name is the rest, spaces and all.
static bool parseMember(const QByteArray &line, signedMember *member)
{
    QByteArray rest;
    const int shaEnd = line.indexOf(' ', 7);
    const int sizeEnd = line.indexOf(' ', shaEnd + 1);
    if (!valueAfter(line, "member", &rest) || shaEnd != 7 + 64 || sizeEnd < 0)
        return false;
    bool sizeOk = false;
    member->sha256 = QByteArray::fromHex(line.mid(7, 64));
    member->size = line.mid(shaEnd + 1, sizeEnd - shaEnd - 1).toLongLong(&sizeOk);
    member->name = QString::fromUtf8(line.mid(sizeEnd + 1));
    return member->sha256.size() == 32 && sizeOk && member->size >= 0;
}

// Strict: every line as written by build(), so that two readers can never
// disagree on what a signature lists.
bool packageSignature::parse(const QByteArray &text, QString *problem)
{
    const int signatureLine = text.lastIndexOf("\nsignature ");
    const auto fail = [problem](const QString &why) {
        *problem = why;
        return false;
    };
    if (text.size() > kMaxLength || signatureLine < 0 || !text.endsWith('\n'))
        return fail(tr("it is cut short or not a signature"));
    QList<QByteArray> lines = text.left(signatureLine + 1).split('\n');
    lines.removeLast(); // after the last line break
    if (lines.size() < 3)
        return fail(tr("it is cut short or not a signature"));
    if (lines.at(0) != QByteArray(kHeader) + ' ' + QByteArray::number(kFormatVersion))
        return fail(tr("its format is not version %1").arg(kFormatVersion));
    QByteArray key, modelText;
    bool modelOk = false;
    if (!valueAfter(lines.at(1), "key", &key) || key.size() != 16 || !valueAfter(lines.at(2), "model", &modelText))
        return fail(tr("its key or model line is damaged"));
    keyId = QString::fromLatin1(key.constData(), key.size()); // every byte, a NUL too
    model = modelText.toInt(&modelOk);
    if (!modelOk)
        return fail(tr("its key or model line is damaged"));
    members.clear();
    for (int i = 3; i < lines.size(); ++i) {
        signedMember member;
        if (!parseMember(lines.at(i), &member))
            return fail(tr("member line %1 is damaged").arg(i - 2));
        members.append(member);
    }
    QByteArray signature;
    valueAfter(text.mid(signatureLine + 1).trimmed(), "signature", &signature);
    m_signedText = text.left(signatureLine + 1);
    m_signature = QByteArray::fromBase64(signature, QByteArray::AbortOnBase64DecodingErrors);
    if (m_signature.size() != crypto_sign_BYTES)
        return fail(tr("its signature line is damaged"));
    return true;
}

bool packageSignature::isSignedBy(const QByteArray &publicKey) const
{
    if (!sodiumReady() || publicKey.size() != kPublicKeyLength || m_signature.size() != crypto_sign_BYTES)
        return false;
    return ::crypto_sign_verify_detached(reinterpret_cast<const unsigned char *>(m_signature.constData()),
                                         reinterpret_cast<const unsigned char *>(m_signedText.constData()),
                                         quint64(m_signedText.size()),
                                         reinterpret_cast<const unsigned char *>(publicKey.constData()))
        == 0;
}

namespace signingKeys {

QString generate(const QString &name, QString *problem)
{
    const QString secretPath = name + QStringLiteral(".key");
    const QString publicPath = name + QStringLiteral(".pub");
    if (QFileInfo::exists(secretPath) || QFileInfo::exists(publicPath) || QFileInfo(secretPath).isSymLink()
        || QFileInfo(publicPath).isSymLink()) {
        *problem = trustedKeys::tr("%1 or %2 exists already; a key is never overwritten").arg(secretPath, publicPath);
        return QString();
    }
    if (!sodiumReady()) {
        *problem = trustedKeys::tr("the cryptography library cannot start");
        return QString();
    }
    QByteArray publicKey(packageSignature::kPublicKeyLength, '\0');
    QByteArray secretKey(packageSignature::kSecretKeyLength, '\0');
    ::crypto_sign_keypair(reinterpret_cast<unsigned char *>(publicKey.data()),
                          reinterpret_cast<unsigned char *>(secretKey.data()));
    const bool written = writeKeyFile(secretPath, kSecretTag, secretKey, true, problem)
        && writeKeyFile(publicPath, kPublicTag, publicKey, false, problem);
    ::sodium_memzero(secretKey.data(), size_t(secretKey.size()));
    return written ? packageSignature::keyIdOf(publicKey) : QString();
}

QByteArray readPublic(const QString &path, QString *problem)
{
    return readKeyFile(path, kPublicTag, packageSignature::kPublicKeyLength, problem);
}

QByteArray readSecret(const QString &path, QString *problem)
{
    return readKeyFile(path, kSecretTag, packageSignature::kSecretKeyLength, problem);
}

} // namespace signingKeys

trustedKeys trustedKeys::fromFiles(const QStringList &paths)
{
    trustedKeys keys;
    for (const QString &path : paths)
        keys.add(path);
    return keys;
}

trustedKeys trustedKeys::fromFolder(const QString &dir)
{
    return fromFolders({dir});
}

trustedKeys trustedKeys::fromFolders(const QStringList &dirs)
{
    trustedKeys keys;
    for (const QString &dir : dirs)
        keys.addFolder(dir);
    return keys;
}

// Every entry named like a key is tried, whatever it is: a folder, a FIFO
// or a dangling link in its place is a problem to be told, and keeps
// checking on, rather than a key silently missing.
void trustedKeys::addFolder(const QString &dir)
{
    const QFileInfo folder(dir);
    if (!folder.exists() && !folder.isSymLink())
        return; // nobody put keys there
    QString problem;
    if (!folder.exists())
        problem = tr("it is a link to nothing");
    else if (!folder.isDir())
        problem = tr("it is not a folder");
    else if (!folder.isReadable() || !folder.isExecutable())
        problem = tr("it cannot be read");
    if (!problem.isEmpty()) {
        m_active = true;
        m_problems << tr("the trusted keys folder %1 cannot be used: %2").arg(dir, problem);
        return;
    }
    const QDir::Filters everyKind = QDir::Files | QDir::Dirs | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot;
    const QFileInfoList files = QDir(dir).entryInfoList({QStringLiteral("*.pub")}, everyKind, QDir::Name);
    for (const QFileInfo &file : files)
        add(file.filePath());
}

trustedKeys trustedKeys::fromPublicKeys(const QList<QByteArray> &keys)
{
    trustedKeys trust;
    trust.m_active = !keys.isEmpty();
    for (const QByteArray &key : keys) {
        if (key.size() == packageSignature::kPublicKeyLength)
            trust.m_keys.insert(packageSignature::keyIdOf(key), key);
        else
            trust.m_problems << tr("the trusted key %1 cannot be used: %2")
                                    .arg(QString::fromLatin1(key.toHex()), tr("not a key file of this tool"));
    }
    return trust;
}

void trustedKeys::add(const QString &path)
{
    m_active = true;
    QString problem;
    const QByteArray key = signingKeys::readPublic(path, &problem);
    if (key.isEmpty())
        m_problems << tr("the trusted key %1 cannot be used: %2").arg(path, problem);
    else
        m_keys.insert(packageSignature::keyIdOf(key), key);
}

signatureVerdict checkPackageSignature(QuaZip &archive, int model, const trustedKeys &trust)
{
    QList<signedMember> actual;
    QByteArray text;
    int signatures = 0;
    QString problem;
    const bool whole = readMembers(archive, trust.isActive(), &actual, &text, &signatures, &problem);
    packageSignature signature;
    const bool parsed = signatures == 1 && signature.parse(text, &problem);
    if (!trust.isActive()) {
        // Nothing to check against: the key id is told for what it is worth.
        if (signatures == 0)
            return signatureVerdict {};
        if (!parsed)
            return signatureVerdict {signatureVerdict::Unsigned, QString(), problem};
        return signatureVerdict {signatureVerdict::Unchecked, signature.keyId, QString()};
    }
    if (!whole)
        return refused(problem);
    if (signatures == 0)
        return refused(packageSignature::tr("it is not signed"));
    if (signatures > 1)
        return refused(packageSignature::tr("it holds more than one SIGNATURE"));
    if (!parsed)
        return refused(packageSignature::tr("its SIGNATURE is damaged: %1").arg(problem));
    const QByteArray key = trust.keyFor(signature.keyId);
    if (key.isEmpty())
        return refused(packageSignature::tr("it is signed by %1, a key that is not trusted").arg(signature.keyId),
                       signature.keyId);
    if (!signature.isSignedBy(key))
        return refused(packageSignature::tr("its SIGNATURE was not made by key %1").arg(signature.keyId),
                       signature.keyId);
    if (signature.model != model)
        return refused(packageSignature::tr("it was signed for model %1, its name makes it model %2")
                           .arg(signature.model)
                           .arg(model),
                       signature.keyId);
    const QString difference = firstDifference(signature.members, actual);
    if (!difference.isEmpty())
        return refused(difference, signature.keyId);
    return signatureVerdict {signatureVerdict::Valid, signature.keyId, QString()};
}
