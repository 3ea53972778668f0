#include "tools/pack/packtool.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

#include <quazip/quazip.h>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

#include "package/zip.h"
#include "tools/pack/samplemaker.h"
#include "tools/support/packagewriter.h"
#include "model/modelregistry.h"
#include "tools/unitsim/unitmodels.h"
#include "util/modeltable.h"
#include "util/regularfile.h"

namespace {

// Whether others than its owner may read or change a file. Windows file
// modes say nothing about that, so it is never claimed there.
bool openToOthers(const QString &path)
{
#ifdef Q_OS_WIN
    Q_UNUSED(path)
    return false;
#else
    struct stat facts = {};
    return ::stat(QFile::encodeName(path).constData(), &facts) == 0 && (facts.st_mode & 077) != 0;
#endif
}

} // namespace

packTool::packTool(FILE *out, FILE *errors, QObject *parent)
    : QObject(parent)
    , m_out(out)
    , m_errors(errors)
{
}

// Same rule as the package reader: the package's own name first, then the
// folder it unpacks into.
int packTool::modelOfPackage(const QString &path)
{
    const int named = modelRegistry::modelNamedBy(QFileInfo(path).fileName());
    return named >= 0 ? named : modelRegistry::modelNamedBy(zip::extractionDir(path));
}

void packTool::say(FILE *stream, const QString &line)
{
    std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), stream);
    std::fflush(stream);
}

void packTool::warnAboutNames(const QString &outPath, const QStringList &imagePaths)
{
    const int model = modelOfPackage(QFileInfo(outPath).absoluteFilePath());
    if (model < 0) {
        say(m_errors,
            tr("warning: %1 names neither model (\"5-10k\" or \"15-20k\"); the tool will take "
               "the model of the package opened before")
                .arg(outPath));
        return;
    }
    const QStringList names = modelRegistry::find(model)->packagedNames;
    for (const QString &path : imagePaths) {
        const QString name = QFileInfo(path).fileName();
        if (modelRegistry::imageIndexOf(model, name) < 0)
            say(m_errors,
                tr("warning: %1 is not an image name of this model (%2)").arg(name, names.join(QStringLiteral(", "))));
    }
}

int packTool::build(const QString &outPath, const QStringList &imagePaths, const QString &secretKeyPath)
{
    warnAboutNames(outPath, imagePaths);
    const int model = modelOfPackage(QFileInfo(outPath).absoluteFilePath());
    QByteArray secretKey;
    if (!secretKeyPath.isEmpty()) {
        QString problem;
        secretKey = signingKeys::readSecret(secretKeyPath, &problem);
        if (secretKey.isEmpty() || model < 0) {
            say(m_errors,
                model < 0 ? tr("a signed package must name its model (\"5-10k\" or \"15-20k\")")
                          : tr("cannot use the key %1: %2").arg(secretKeyPath, problem));
            return UsageError;
        }
        if (openToOthers(secretKeyPath))
            say(m_errors,
                tr("warning: the secret key %1 can be read or changed by others than its owner; "
                   "keep it private: chmod 600 %1")
                    .arg(secretKeyPath));
    }
    const QString temporary = outPath + QStringLiteral(".part");
    packageWriter writer(temporary);
    if (!writer.open()) {
        say(m_errors, tr("cannot create %1").arg(outPath));
        return UsageError;
    }
    const auto fail = [&](const QString &line) {
        say(m_errors, line);
        writer.close();
        QFile::remove(temporary);
        return int(UsageError);
    };
    QList<signedMember> members;
    for (const QString &path : imagePaths) {
        // A FIFO or a device given as an image would be read for ever.
        QByteArray payload;
        QString problem;
        if (!regularFile::read(path, zip::kMaxMemberSize - zip::kTrailerLength, &payload, &problem))
            return fail(tr("cannot read %1: %2").arg(path, problem));
        const QByteArray stored = packageWriter::withTrailer(payload);
        const QString name = QFileInfo(path).fileName();
        if (!writer.addRaw(name, stored))
            return fail(tr("cannot add %1").arg(path));
        members.append(
            signedMember {name, stored.size(), QCryptographicHash::hash(stored, QCryptographicHash::Sha256)});
    }
    QString keyId;
    if (!secretKey.isEmpty()) {
        const QByteArray signature = packageSignature::build(secretKey, model, members);
        if (signature.isEmpty() || !writer.addRaw(QLatin1String(packageSignature::kMemberName), signature))
            return fail(tr("cannot sign %1 (an image name holds a line break or is SIGNATURE)").arg(outPath));
        keyId = packageSignature::keyIdOfSecret(secretKey);
    }
    // The package appears only when complete: a half-written one must never
    // be mistaken for a good one.
    if (!writer.close() || (QFile::exists(outPath) && !QFile::remove(outPath)) || !QFile::rename(temporary, outPath)) {
        say(m_errors, tr("cannot write %1").arg(outPath));
        QFile::remove(temporary);
        return UsageError;
    }
    say(m_out,
        keyId.isEmpty() ? tr("%1: %2 images").arg(outPath).arg(imagePaths.size())
                        : tr("%1: %2 images, signed by %3").arg(outPath).arg(imagePaths.size()).arg(keyId));
    return Success;
}

int packTool::makeKeys(const QString &name)
{
    QString problem;
    const QString keyId = signingKeys::generate(name, &problem);
    if (keyId.isEmpty()) {
        say(m_errors, tr("cannot make the key pair %1: %2").arg(name, problem));
        return UsageError;
    }
    say(m_out,
        tr("%1.key (secret: keep it off shared disks) and %1.pub (give it to the stations), key id %2")
            .arg(name, keyId));
    return Success;
}

int packTool::verify(const QString &packagePath, const QStringList &trustedKeyPaths)
{
    bool readable = false;
    const QList<packageMemberCheck> members = packageWriter::verify(packagePath, &readable);
    if (!readable) {
        say(m_errors, tr("cannot read the package %1").arg(packagePath));
        return UsageError;
    }
    int bad = 0;
    for (const packageMemberCheck &m : members) {
        if (m.name == QLatin1String(packageSignature::kMemberName))
            continue; // no image: checked below
        QString verdict = tr("good");
        if (!m.intact)
            verdict = tr("bad (damaged member)");
        else if (!m.trailerOk)
            verdict = tr("bad (digest trailer does not match)");
        if (!m.intact || !m.trailerOk)
            ++bad;
        say(m_out, tr("%1: %2 (%3 bytes)").arg(m.name, verdict).arg(m.size));
    }
    if (members.isEmpty()) {
        say(m_errors, tr("the package holds no member"));
        return BadMember;
    }
    const int signature = verifySignature(packagePath, trustedKeyPaths);
    return signature != Success ? signature : bad == 0 ? Success : BadMember;
}

int packTool::verifySignature(const QString &packagePath, const QStringList &trustedKeyPaths)
{
    const trustedKeys trust = trustedKeys::fromFiles(trustedKeyPaths);
    for (const QString &problem : trust.problems())
        say(m_errors, problem);
    if (!trust.problems().isEmpty())
        return UsageError;
    QuaZip archive(packagePath);
    if (!archive.open(QuaZip::mdUnzip)) {
        say(m_errors, tr("cannot read the package %1").arg(packagePath));
        return UsageError;
    }
    const int named = modelOfPackage(QFileInfo(packagePath).absoluteFilePath());
    const signatureVerdict verdict = checkPackageSignature(archive, named < 0 ? 0 : named, trust);
    switch (verdict.kind) {
    case signatureVerdict::Valid:
        say(m_out, tr("SIGNATURE: good, signed by %1 (trusted)").arg(verdict.keyId));
        return Success;
    case signatureVerdict::Unchecked:
        say(m_out, tr("SIGNATURE: signed by %1, not checked (give --trust KEY.pub)").arg(verdict.keyId));
        return Success;
    case signatureVerdict::Refused:
        say(m_out, tr("SIGNATURE: bad: %1").arg(verdict.reason));
        return BadMember;
    case signatureVerdict::Unsigned:
        say(m_out,
            verdict.reason.isEmpty() ? tr("SIGNATURE: none (the package is not signed)")
                                     : tr("SIGNATURE: unreadable: %1").arg(verdict.reason));
        break;
    }
    return verdict.reason.isEmpty() ? Success : BadMember;
}

int packTool::makeSample(const QString &dir)
{
    QString error;
    if (!sampleMaker::writeAll(dir, &error)) {
        say(m_errors, error);
        return UsageError;
    }
    for (const unitModel *unit : unitModels::rows()) {
        const int model = unit->modelId;
        const QList<sampleMaker::sampleImage> images = sampleMaker::modelImages(model);
        if (images.isEmpty())
            continue;
        QStringList names;
        for (const sampleMaker::sampleImage &image : images)
            names << tr("%1 (%2 bytes)").arg(image.name).arg(image.packaged.size());
        say(m_out, tr("%1/%2: %3").arg(dir, sampleMaker::packageName(model), names.join(QStringLiteral(", "))));
    }
    say(m_out, tr("%1/expected: the flat images each unit must hold").arg(dir));
    return Success;
}
