#include "station/flashrun.h"

#include <QFileInfo>

#include <csignal>

#include <QCryptographicHash>

#include "model/modelregistry.h"
#include "util/modeltable.h"

namespace {

QString withoutTrailingBreaks(QString line)
{
    while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r')))
        line.chop(1);
    return line;
}

} // namespace

flashRun::flashRun(flashOutput *out, QObject *parent)
    : QObject(parent)
    , core(this)
    , m_out(out)
{
    connect(&core, &updateCore::logLine, this, &flashRun::onLogLine);
    connect(&core, &updateCore::errorLine, this, &flashRun::printError);
    connect(&core, &updateCore::preparationFailed, this, &flashRun::onPreparationFailed);
    connect(&core, &updateCore::warning, this, &flashRun::onWarning);
    connect(&core, &updateCore::runEnded, this, &flashRun::onRunEnded);
    connect(&core, &updateCore::progressChanged, this, &flashRun::onProgress);
    connect(&core, &updateCore::jobStarted, this, &flashRun::onJobStarted);
    connect(&core, &updateCore::jobEnded, this, &flashRun::onJobEnded);
    for (updateEngine *engine : core.engines())
        connect(engine, &updateEngine::sendMessage, this, &flashRun::onEngineLine);
}

// The package unpacks where the window unpacks it: beside itself, into the
// folder named like it without ".zip".
int flashRun::openPackage(const packageBytes &package, const QStringList &only, const trustedKeys &trust)
{
    const QString &packagePath = package.path;
    if (!package.problem.isEmpty()) {
        printError(tr("cannot read the package %1: %2").arg(packagePath, package.problem));
        return UsageError;
    }
    const QFileInfo info(packagePath);
    const QString path = info.absoluteFilePath();
    m_extractDir = zip::extractionDir(path);
    if (m_extractDir.isEmpty()) {
        printError(tr("the package name must end in \".zip\" after a name: %1").arg(packagePath));
        return UsageError;
    }
    if (modelRegistry::modelNamedBy(info.fileName()) < 0 && modelRegistry::modelNamedBy(m_extractDir) < 0)
        printError(tr("the package path names neither \"5-10k\" nor \"15-20k\"; taking model 0"));
    core.package().setTrustedKeys(trust);
    core.package().extract(packageBytes {path, package.bytes, package.problem, package.digest}, m_extractDir);
    if (core.package().packageSha256().isEmpty())
        return UsageError; // refused, and said why
    if (!tickImages(only) || !checkTickedImagesSendable())
        return UsageError;
    return Success;
}

void flashRun::adoptPackage(const flashRun &opened)
{
    core.package().copyListing(opened.core.package());
    m_extractDir = opened.m_extractDir;
}

// Ticks every listed image, or those whose name contains one of `only`.
bool flashRun::tickImages(const QStringList &only)
{
    core.package().clearChecked();
    QStringList unmatched = only;
    for (const zip::listedImage &image : core.package().listing()) {
        bool ticked = only.isEmpty();
        for (const QString &wanted : only) {
            if (image.name.contains(wanted)) {
                ticked = true;
                unmatched.removeAll(wanted);
            }
        }
        if (ticked)
            core.package().addChecked(image.row, image.name);
    }
    for (const QString &wanted : qAsConst(unmatched))
        printError(tr("no image of the package matches %1").arg(wanted));
    if (core.package().checkedFiles().isEmpty()) {
        printError(tr("no image to send"));
        return false;
    }
    return unmatched.isEmpty();
}

// A ticked image that cannot be sent stops the run before the port opens.
bool flashRun::checkTickedImagesSendable()
{
    if (!core.refuseUnsendable())
        return true;
    printError(tr("nothing was sent"));
    return false;
}

// The record lists the attempt's images in the order the queue sends them.
void flashRun::beginAttempt(int unit, int attemptNumber, const QList<checkedFile> &files)
{
    const QList<checkedFile> ordered = filesUpdate::sendOrder(modelId(), files);
    m_attempt = unitAttempt();
    m_attempt.model = modelId();
    m_attempt.unit = unit;
    m_attempt.attempt = attemptNumber;
    m_attempt.unitSerial = m_unitSerial;
    m_attempt.start = QDateTime::currentDateTimeUtc();
    m_attemptRows.clear();
    for (const checkedFile &file : qAsConst(ordered)) {
        imageOutcome image;
        image.name = modelTable::ownName(file.path);
        m_attempt.images.append(image);
        m_attemptRows.append(file.row);
    }
    m_active = true;
    m_quiet = false;
    m_out->unitStarted(m_slot, m_attempt);
}

void flashRun::start(const QString &portName, int unit)
{
    beginAttempt(unit, 1, core.package().checkedFiles());
    if (!core.start(portName))
        end(JobFailed);
}

bool flashRun::retry(const QString &portName)
{
    const QList<checkedFile> rest = core.queue().pending();
    if (rest.isEmpty())
        return false;
    beginAttempt(m_attempt.unit, m_attempt.attempt + 1, rest);
    core.resume(portName);
    return true;
}

// Each job only passes its engine's own image test; nothing is sent.
void flashRun::startDryRun()
{
    m_dryRun = true;
    beginAttempt(1, 1, core.package().checkedFiles());
    if (!core.startDryRun())
        end(JobFailed);
}

imageOutcome *flashRun::imageOfRow(int row)
{
    const int i = m_attemptRows.indexOf(row);
    return i < 0 ? nullptr : &m_attempt.images[i];
}

void flashRun::onJobStarted(updateParm job)
{
    if (m_dryRun)
        describeDryRunJob(job);
}

void flashRun::describeDryRunJob(const updateParm &job)
{
    const modelRow *model = modelRegistry::find(job.modelId);
    const QString engineName = model ? tr(model->engineName) : QString();
    m_out->logLine(m_slot, flashOutput::Level::Info,
                   tr("would send %1 (%2 bytes) to the %3, image %4, row %5")
                       .arg(job.imagePath)
                       .arg(job.image.size())
                       .arg(engineName)
                       .arg(job.imageIndex)
                       .arg(job.row));
}

// The digest is that of the bytes the engine was given: for an object file,
// its translation.
void flashRun::onJobEnded(updateParm job, bool success, int reason)
{
    imageOutcome *image = imageOfRow(job.row);
    if (!image || !m_active)
        return;
    image->sha256 = QString::fromLatin1(QCryptographicHash::hash(job.image, QCryptographicHash::Sha256).toHex());
    image->bytes = job.image.size();
    image->result = success ? (m_dryRun ? imageResult::Checked : imageResult::Passed) : imageResult::Failed;
    image->reason = success ? failReason::None : reasonOfEngine(reason);
    if (!m_dryRun)
        image->processorChosen = processorChosen(job.modelId);
    m_out->imageEnded(m_slot, *image);
}

// What the engine of the job in hand did about the choice of processor.
std::optional<bool> flashRun::processorChosen(int modelId)
{
    const updateEngine *engine = core.engine(modelId);
    switch (engine ? engine->processorChoice() : updateEngine::ChoiceNotMade) {
    case updateEngine::ProcessorChosen:
        return true;
    case updateEngine::ProcessorNotChosen:
        return false;
    case updateEngine::ChoiceNotMade:
        break;
    }
    return std::nullopt;
}

void flashRun::onLogLine(QString line)
{
    if (!m_quiet)
        m_out->logLine(m_slot, flashOutput::Level::Info, withoutTrailingBreaks(line));
}

void flashRun::onEngineLine(const QString &line)
{
    if (m_active)
        m_attempt.lastLine = withoutTrailingBreaks(line);
}

void flashRun::onWarning(const QString &text)
{
    if (!m_quiet)
        m_out->logLine(m_slot, flashOutput::Level::Warning, tr("warn: %1").arg(text));
}

void flashRun::onProgress(int row, qlonglong written, qlonglong total)
{
    const imageOutcome *image = imageOfRow(row);
    if (image && m_active)
        m_out->progress(m_slot, image->name, written, total);
}

void flashRun::onRunEnded(bool success)
{
    if (m_active)
        end(success ? Success : JobFailed);
}

// The run ends before anything is sent; the record names the object file.
void flashRun::onPreparationFailed(int row)
{
    imageOutcome *image = imageOfRow(row);
    if (!image || !m_active)
        return;
    image->result = imageResult::Failed;
    image->reason = failReason::TranslationFailed;
    m_out->imageEnded(m_slot, *image);
}

int flashRun::interruptStatus(int signalNumber)
{
#ifdef SIGHUP
    return signalNumber == SIGHUP ? HungUp : Interrupted;
#else
    Q_UNUSED(signalNumber)
    return Interrupted;
#endif
}

void flashRun::interrupt(int signalNumber)
{
    if (!m_active)
        return;
    printError(tr("interrupted: the unit stays in its boot loader; run the update again to flash it"));
    for (imageOutcome &image : m_attempt.images) {
        if (image.result == imageResult::NotSent && image.sha256.isEmpty()) {
            image.result = imageResult::Interrupted;
            image.processorChosen = processorChosen(modelId());
            break; // the image in hand; the rest were never started
        }
    }
    end(interruptStatus(signalNumber));
    // After the end, so that what stopping reports is no longer shown and
    // cannot end the attempt a second time with another status.
    core.stop();
}

void flashRun::printError(const QString &text)
{
    m_out->logLine(m_slot, flashOutput::Level::Error, text);
}

void flashRun::end(int exitStatus)
{
    if (!m_active)
        return;
    m_active = false;
    m_quiet = true;
    m_attempt.end = QDateTime::currentDateTimeUtc();
    m_attempt.result = exitStatus == Success ? unitResult::Passed
        : isInterruption(exitStatus)         ? unitResult::Interrupted
                                             : unitResult::Failed;
    for (const imageOutcome &image : qAsConst(m_attempt.images)) {
        if (image.reason != failReason::None) {
            m_attempt.reason = image.reason;
            break;
        }
    }
    emit finished(exitStatus);
}
