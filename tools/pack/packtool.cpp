#include "tools/pack/packtool.h"

#include <QFile>
#include <QFileInfo>

#include "package/zip.h"
#include "tools/pack/samplemaker.h"
#include "tools/support/packagewriter.h"
#include "util/modeltable.h"

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
    const int named = modelTable::modelNamedBy(QFileInfo(path).fileName());
    return named >= 0 ? named : modelTable::modelNamedBy(zip::extractionDir(path));
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
    const QStringList &names = modelTable::packagedNames(model);
    for (const QString &path : imagePaths) {
        const QString name = QFileInfo(path).fileName();
        if (modelTable::imageIndexOf(model, name) < 0)
            say(m_errors,
                tr("warning: %1 is not an image name of this model (%2)").arg(name, names.join(QStringLiteral(", "))));
    }
}

int packTool::build(const QString &outPath, const QStringList &imagePaths)
{
    warnAboutNames(outPath, imagePaths);
    const QString temporary = outPath + QStringLiteral(".part");
    packageWriter writer(temporary);
    if (!writer.open()) {
        say(m_errors, tr("cannot create %1").arg(outPath));
        return UsageError;
    }
    for (const QString &path : imagePaths) {
        QFile image(path);
        if (!image.open(QIODevice::ReadOnly)) {
            say(m_errors, tr("cannot read %1").arg(path));
            writer.close();
            QFile::remove(temporary);
            return UsageError;
        }
        if (!writer.addImage(QFileInfo(path).fileName(), image.readAll())) {
            say(m_errors, tr("cannot add %1").arg(path));
            writer.close();
            QFile::remove(temporary);
            return UsageError;
        }
    }
    // The package appears only when complete: a half-written one must never
    // be mistaken for a good one.
    if (!writer.close() || (QFile::exists(outPath) && !QFile::remove(outPath)) || !QFile::rename(temporary, outPath)) {
        say(m_errors, tr("cannot write %1").arg(outPath));
        QFile::remove(temporary);
        return UsageError;
    }
    say(m_out, tr("%1: %2 images").arg(outPath).arg(imagePaths.size()));
    return Success;
}

int packTool::verify(const QString &packagePath)
{
    bool readable = false;
    const QList<packageMemberCheck> members = packageWriter::verify(packagePath, &readable);
    if (!readable) {
        say(m_errors, tr("cannot read the package %1").arg(packagePath));
        return UsageError;
    }
    int bad = 0;
    for (const packageMemberCheck &m : members) {
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
    return bad == 0 ? Success : BadMember;
}

int packTool::makeSample(const QString &dir)
{
    QString error;
    if (!sampleMaker::writeAll(dir, &error)) {
        say(m_errors, error);
        return UsageError;
    }
    for (int model = 0; model < 2; ++model) {
        QStringList names;
        for (const sampleMaker::sampleImage &image : sampleMaker::modelImages(model))
            names << QStringLiteral("%1 (%2 bytes)").arg(image.name).arg(image.packaged.size());
        say(m_out, tr("%1/%2: %3").arg(dir, sampleMaker::packageName(model), names.join(QStringLiteral(", "))));
    }
    say(m_out, tr("%1/expected: the flat images each unit must hold").arg(dir));
    return Success;
}
