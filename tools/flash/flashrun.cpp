#include "tools/flash/flashrun.h"

#include <QFileInfo>

#include <quazip/quazip.h>

#include "tools/flash/progressmeter.h"
#include "util/modeltable.h"

namespace {

QString withoutTrailingBreaks(QString line)
{
    while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r')))
        line.chop(1);
    return line;
}

bool isReadableArchive(const QString &path)
{
    QuaZip archive(path);
    if (!archive.open(QuaZip::mdUnzip))
        return false;
    archive.close();
    return true;
}

} // namespace

flashRun::flashRun(FILE *log, FILE *errors, progressMeter *meter, QObject *parent)
    : QObject(parent)
    , core(this)
    , m_log(log)
    , m_errors(errors)
    , m_meter(meter)
{
    connect(&core, &updateCore::logLine, this, &flashRun::onLogLine);
    connect(&core, &updateCore::warning, this, &flashRun::onWarning);
    connect(&core, &updateCore::runEnded, this, &flashRun::onRunEnded);
    connect(&core, &updateCore::progressChanged, m_meter, &progressMeter::onProgress);
    connect(&core, &updateCore::jobEnded, this, &flashRun::onJobEnded);
}

// The package unpacks where the window unpacks it: beside itself, into the
// folder named like it without ".zip".
int flashRun::openPackage(const QString &packagePath, const QStringList &only)
{
    const QFileInfo info(packagePath);
    const QString path = info.absoluteFilePath();
    if (!info.isFile() || !isReadableArchive(path)) {
        printError(tr("cannot read the package %1").arg(packagePath));
        return UsageError;
    }
    m_extractDir = zip::extractionDir(path);
    if (m_extractDir.isEmpty()) {
        printError(tr("the package name must end in \".zip\" after a name: %1").arg(packagePath));
        return UsageError;
    }
    if (modelTable::modelNamedBy(info.fileName()) < 0 && modelTable::modelNamedBy(m_extractDir) < 0)
        printError(tr("the package path names neither \"5-10k\" nor \"15-20k\"; taking model 0"));
    core.package().extract(path, m_extractDir);
    if (!listImages(only) || !checkTickedImagesSendable())
        return UsageError;
    return Success;
}

void flashRun::adoptPackage(const flashRun &opened)
{
    core.package().copyListing(opened.core.package());
    m_extractDir = opened.m_extractDir;
    m_images = opened.m_images;
    for (const listedImage &image : qAsConst(m_images))
        m_meter->setImageName(image.row, image.name);
}

void flashRun::setLabel(const QString &label)
{
    m_prefix = label.isEmpty() ? QString() : QStringLiteral("[%1] ").arg(label);
    m_meter->setPrefix(m_prefix);
}

bool flashRun::listImages(const QStringList &only)
{
    core.package().clearChecked();
    QStringList unmatched = only;
    int row = 0;
    for (int i = 0; i < core.package().entryCount(); ++i) {
        const QString name = core.package().entryName(i);
        if (!core.package().isImage(name))
            continue;
        listedImage image {row, name, core.package().entryPath(i), only.isEmpty()};
        for (const QString &wanted : only) {
            if (name.contains(wanted)) {
                image.ticked = true;
                unmatched.removeAll(wanted);
            }
        }
        if (image.ticked)
            core.package().addChecked(row, name);
        m_meter->setImageName(row, name);
        m_images.append(image);
        ++row;
    }
    for (const QString &wanted : qAsConst(unmatched))
        printError(tr("no image of the package matches %1").arg(wanted));
    if (core.package().checkedFiles().isEmpty()) {
        printError(tr("no image to send"));
        return false;
    }
    return unmatched.isEmpty();
}

// Half a set would leave the unit's processors on different releases, so a
// ticked image that cannot be sent stops the run before the port is opened.
bool flashRun::checkTickedImagesSendable()
{
    const QStringList problems = core.package().checkedProblems();
    for (const QString &problem : problems)
        printError(problem);
    if (!problems.isEmpty())
        printError(tr("nothing was sent"));
    return problems.isEmpty();
}

void flashRun::start(const QString &portName)
{
    core.start(portName);
}

// Each job only passes its engine's own image test; nothing is sent.
void flashRun::startDryRun()
{
    connect(&core, &updateCore::jobStarted, this, &flashRun::onDryRunJob);
    core.startDryRun();
}

void flashRun::onDryRunJob(updateParm job)
{
    const QString engineName = job.modelId == 0 ? tr("first board engine") : tr("second board engine");
    std::fputs(tr("would send %1 (%2 bytes) to the %3, image %4, row %5\n")
                   .arg(job.imagePath)
                   .arg(QFileInfo(job.imagePath).size())
                   .arg(engineName)
                   .arg(job.imageIndex)
                   .arg(job.row)
                   .toUtf8()
                   .constData(),
               m_log);
    std::fflush(m_log);
}

void flashRun::onJobEnded(updateParm, bool success, int)
{
    if (success)
        ++m_sent;
}

void flashRun::onLogLine(QString line)
{
    if (m_ended)
        return;
    put(m_log, withoutTrailingBreaks(line));
}

void flashRun::onWarning(const QString &text)
{
    printError(QStringLiteral("warn: ") + text);
}

void flashRun::onRunEnded(bool success)
{
    end(success ? Success : JobFailed);
}

void flashRun::onInterrupt()
{
    if (m_ended)
        return;
    printError(tr("interrupted: the unit stays in its boot loader; run the update again to flash it"));
    end(Interrupted);
    // After the end, so that what stopping reports is no longer shown and
    // cannot end the run a second time with another status.
    core.stop();
}

void flashRun::printError(const QString &text)
{
    put(m_errors, text);
}

void flashRun::put(FILE *stream, const QString &line)
{
    m_meter->hideLine();
    std::fputs((m_prefix + line + QLatin1Char('\n')).toUtf8().constData(), stream);
    std::fflush(stream);
    m_meter->showLine();
}

void flashRun::end(int exitStatus)
{
    if (m_ended)
        return;
    m_meter->endLine();
    m_ended = true;
    emit finished(exitStatus);
}
