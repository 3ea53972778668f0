#ifndef PACKAGESIGNATURE_H
#define PACKAGESIGNATURE_H

#include <QByteArray>
#include <QCoreApplication>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

class QuaZip;

// One member of a package as its maker signed it.
struct signedMember
{
    QString name;
    qint64 size = 0;
    QByteArray sha256; // raw, 32 bytes
};

// The SIGNATURE member of a package: its maker's Ed25519 signature over a
// text listing the format version, the signing key's id, the model and
// every other member's SHA-256, size and name:
//
//   ups-package-signature 1
//   key 3f2a9c0d11e4b7a8
//   model 0
//   member <sha256 hex> <size> <name>      (one per member, sorted by name)
//   signature <base64 of 64 bytes>
//
// The signature covers every byte before its own line. Text, so that a
// person can read what a package claims to hold.
class packageSignature
{
    Q_DECLARE_TR_FUNCTIONS(packageSignature)

public:
    static constexpr char kMemberName[] = "SIGNATURE";
    static constexpr int kFormatVersion = 1;
    static constexpr int kPublicKeyLength = 32;
    static constexpr int kSecretKeyLength = 64;
    static constexpr qint64 kMaxLength = 1024 * 1024;

    QString keyId;
    int model = 0;
    QList<signedMember> members;

    // The short fingerprint of a public key: 16 hex digits of its SHA-256.
    static QString keyIdOf(const QByteArray &publicKey);
    // The id of the key pair a 64-byte secret key belongs to; empty when
    // it is no such key.
    static QString keyIdOfSecret(const QByteArray &secretKey);
    // The whole member, signed with a 64-byte secret key. Members are sorted
    // here; a name with a line break cannot be listed and fails it (empty).
    static QByteArray build(const QByteArray &secretKey, int model, QList<signedMember> members);
    // Reads a SIGNATURE member; false with a reason when it is not one.
    bool parse(const QByteArray &text, QString *problem);
    bool isSignedBy(const QByteArray &publicKey) const;

private:
    static QByteArray listing(const QString &keyId, int model, const QList<signedMember> &members);

    QByteArray m_signedText;
    QByteArray m_signature;
};

// Key files. NAME.pub holds one line "ups-ed25519-public BASE64"; NAME.key
// "ups-ed25519-secret BASE64" and is readable by its owner only.
namespace signingKeys {

// Writes NAME.key and NAME.pub, never over existing files; the key id, or
// empty with *problem set.
QString generate(const QString &name, QString *problem);
QByteArray readPublic(const QString &path, QString *problem);
QByteArray readSecret(const QString &path, QString *problem);

} // namespace signingKeys

// The public keys a reader trusts. Checking is on as soon as key files are
// given, even when none of them can be read: someone meant to trust a key,
// so an unsigned package must not slip through because the key file broke.
class trustedKeys
{
    Q_DECLARE_TR_FUNCTIONS(trustedKeys)

public:
    static trustedKeys fromFiles(const QStringList &paths);
    // The ".pub" files of a folder; a missing folder trusts nothing. An
    // entry so named that is no regular file (a folder, a FIFO, a device,
    // a dangling link) is a problem, as an unreadable key file is.
    static trustedKeys fromFolder(const QString &dir);
    // Several folders, in order. A folder that is not there is skipped; one
    // that is there but cannot be read (a link to nothing, a file, no
    // permission) is a problem and keeps checking on.
    static trustedKeys fromFolders(const QStringList &dirs);
    // Keys already in hand (32 bytes each); a key of another length is a
    // problem, as an unreadable file is.
    static trustedKeys fromPublicKeys(const QList<QByteArray> &keys);

    // Adds the keys of a folder to those already trusted.
    void addFolder(const QString &dir);
    // With a signature required, checking is on even with no key: every
    // unsigned package is refused, and so is every signed one (no key
    // can vouch for it).
    void setRequired(bool required) { m_active = m_active || required; }

    bool isActive() const { return m_active; }
    int count() const { return m_keys.size(); }
    // One line per key file that could not be read.
    QStringList problems() const { return m_problems; }
    QByteArray keyFor(const QString &keyId) const { return m_keys.value(keyId); }

private:
    void add(const QString &path);

    QHash<QString, QByteArray> m_keys; // by key id
    QStringList m_problems;
    bool m_active = false;
};

// What checking a package's signature found.
struct signatureVerdict
{
    enum Kind {
        Unsigned,  // no SIGNATURE, and no key to trust: as before signing
        Valid,     // signed by a trusted key, every member as signed
        Unchecked, // signed, but no key is trusted: only the key id is told
        Refused,   // checking is on and the package fails it
    };
    Kind kind = Unsigned;
    QString keyId;
    QString reason; // why it was refused
};

// Reads every member of an open archive and checks it against its
// SIGNATURE, for the model the reader chose. Nothing is written.
signatureVerdict checkPackageSignature(QuaZip &archive, int model, const trustedKeys &trust);

#endif // PACKAGESIGNATURE_H
