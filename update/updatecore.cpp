#include "update/updatecore.h"

#include <QFileInfo>
#include <QTimer>

#include "model/modelregistry.h"
#include "util/modeltable.h"
#include "util/printable.h"

namespace {
// Beside the engines' reasons: an object file that could not be translated.
const int kTranslationFailed = -1;
} // namespace

updateCore::updateCore(QObject *parent)
    : QObject(parent)
    , m_package(this)
    , m_queue(this)
    , m_line(this)
{
    makeEngines();
    connect(&m_package, &zip::sendMessage, this, &updateCore::logLine);
    connect(&m_package, &zip::sendRefusal, this, &updateCore::errorLine);
    connect(&m_queue, &filesUpdate::preparationFailed, this, &updateCore::preparationFailed);
    connect(&m_queue, &filesUpdate::preparationFailed, this,
            [this](int row) { setOutcome(row, Outcome::Failed, kTranslationFailed); });
    connect(&m_queue, &filesUpdate::sendMessage, this, &updateCore::logLine);
    connect(&m_queue, &filesUpdate::jobReady, this, &updateCore::onJob);
    connect(&m_queue, &filesUpdate::runEnded, this, &updateCore::onRunEnded);
    connect(&m_line, &serialport::received, this, &updateCore::onReceived);
    connect(&m_line, &serialport::warning, this, &updateCore::warning);
}

void updateCore::makeEngines()
{
    for (const modelRow *model : modelRegistry::rows()) {
        updateEngine *engine = model->makeEngine(&m_line, this);
        m_engines.append(engine);
        m_engineModels.append(model->id);
        connectEngine(*engine);
    }
}

void updateCore::connectEngine(updateEngine &engine)
{
    connect(&engine, &updateEngine::sendMessage, this, &updateCore::logLine);
    connect(&engine, &updateEngine::sendprogressBar, this, &updateCore::progressChanged);
    connect(&engine, &updateEngine::finish, this, &updateCore::onJobFinished);
    connect(&engine, &updateEngine::jobFailed, this, &updateCore::onJobFailed);
}

updateEngine *updateCore::engine(int modelId) const
{
    const int index = m_engineModels.indexOf(modelId);
    return index < 0 ? nullptr : m_engines.at(index);
}

// The bytes go to the engine of the model that opened the line.
void updateCore::onReceived(const QByteArray &data)
{
    if (updateEngine *target = engine(m_line.modelId()))
        target->receiveData(data);
}

void updateCore::stopEngines(const updateEngine *except)
{
    for (updateEngine *each : qAsConst(m_engines)) {
        if (each != except)
            each->stop();
    }
}

bool updateCore::refuseUnsendable()
{
    const QStringList problems = m_package.checkedProblems();
    for (const QString &line : problems)
        emit errorLine(line);
    return !problems.isEmpty();
}

bool updateCore::listPackage(const QString &zipPath, const trustedKeys &keys)
{
    m_package.setTrustedKeys(keys);
    m_package.extract(zipPath, zip::extractionDir(zipPath));
    if (m_package.packageSha256().isEmpty())
        return false; // refused and said why, or a remembered folder: nothing to list
    const int images = m_package.listing().size();
    emit logLine(tr("listed %1: model %2, images: %3, %4; trusted keys: %5")
                     .arg(printableText(QFileInfo(zipPath).fileName()), modelRegistry::pathTag(m_package.modelId()))
                     .arg(images)
                     .arg(signatureState(m_package.signatureKind()))
                     .arg(keys.count()));
    return true;
}

QString updateCore::signatureState(signatureVerdict::Kind kind)
{
    switch (kind) {
    case signatureVerdict::Valid:
        return tr("signature checked");
    case signatureVerdict::Unchecked:
        return tr("signed, not checked: no key is trusted");
    case signatureVerdict::Unsigned:
    case signatureVerdict::Refused:
        break;
    }
    return tr("unsigned");
}

bool updateCore::start(const QString &portName)
{
    if (refuseUnsendable())
        return false;
    // Nothing ticked sends nothing, not what an earlier run left queued.
    if (m_package.checkedFiles().isEmpty())
        m_queue.stop();
    m_dryRun = false;
    m_running = true;
    startResults();
    m_queue.start(m_package.modelId(), m_package.checkedFiles(), portName);
    return true;
}

bool updateCore::startDryRun()
{
    if (refuseUnsendable())
        return false;
    m_dryRun = true;
    m_running = true;
    m_queue.start(m_package.modelId(), m_package.checkedFiles(), QString());
    return true;
}

bool updateCore::resume(const QString &portName)
{
    stopEngines();
    m_line.closeSerialPort();
    if (m_queue.pending().isEmpty())
        return false;
    m_dryRun = false;
    m_running = true;
    for (imageResult &image : m_results) {
        if (image.outcome != Outcome::Done && image.outcome != Outcome::Unticked)
            image.outcome = Outcome::Waiting;
    }
    m_queue.retryFailed(portName);
    return true;
}

void updateCore::stop()
{
    stopEngines();
    m_queue.stop();
    m_line.closeSerialPort();
    if (m_running && !m_dryRun)
        endResults();
    m_running = false;
}

void updateCore::onJob(updateParm job)
{
    // One engine on the line at a time: a job for one stops the others.
    updateEngine *target = engine(job.modelId);
    stopEngines(target);
    m_job = job;
    setOutcome(job.row, Outcome::Sending);
    emit jobStarted(job);
    if (m_dryRun)
        checkDryRunJob(job);
    else if (target)
        target->initParm(job);
}

// The job passes the engine's own image test and is then taken as done;
// the queue carries on with the next image as after a real success.
void updateCore::checkDryRunJob(const updateParm &job)
{
    updateEngine *target = engine(job.modelId);
    if (!target || !target->checkImage(job.imageIndex, job.image)) {
        onJobFailed(updateEngine::ImageRejected);
        return;
    }
    emit jobEnded(job, true, updateEngine::NoFailure);
    QTimer::singleShot(0, &m_queue, [this] {
        if (m_running)
            m_queue.advance();
    });
}

void updateCore::onJobFinished(bool result)
{
    if (result) {
        setOutcome(m_job.row, Outcome::Done);
        emit jobEnded(m_job, true, updateEngine::NoFailure);
    }
    m_queue.updateFinish(result);
}

void updateCore::onJobFailed(int reason)
{
    setOutcome(m_job.row, Outcome::Failed, reason);
    emit jobEnded(m_job, false, reason);
    m_queue.jobFailed();
}

void updateCore::onRunEnded(bool success)
{
    m_running = false;
    if (!m_dryRun)
        endResults();
    emit runEnded(success);
}

// Every listed image, in listing order, ticked or not.
void updateCore::startResults()
{
    m_results.clear();
    const QList<checkedFile> ticked = m_package.checkedFiles();
    for (const zip::listedImage &listed : m_package.listing()) {
        imageResult image;
        image.name = listed.name;
        for (const checkedFile &file : ticked) {
            if (modelTable::ownName(file.path) == image.name) {
                image.row = file.row;
                image.outcome = Outcome::Waiting;
            }
        }
        m_results.append(image);
    }
}

void updateCore::setOutcome(int row, Outcome outcome, int reason)
{
    for (imageResult &image : m_results) {
        if (image.row == row) {
            image.outcome = outcome;
            image.reason = reason;
        }
    }
}

// A job still sending when the run ends was cut short.
void updateCore::endResults()
{
    for (imageResult &image : m_results) {
        if (image.outcome == Outcome::Sending)
            image.outcome = Outcome::Stopped;
    }
    emit runSummary(summaryLine());
}

QString updateCore::summaryLine() const
{
    QStringList parts;
    for (const imageResult &image : m_results)
        parts << resultText(image);
    return tr("update result: %1").arg(parts.join(QStringLiteral("; ")));
}

QString updateCore::resultText(const imageResult &image)
{
    const QString name = printableText(image.name);
    switch (image.outcome) {
    case Outcome::Unticked:
        return tr("%1 not ticked").arg(name);
    case Outcome::Done:
        return tr("%1 done").arg(name);
    case Outcome::Failed:
        return tr("%1 failed (%2)").arg(name, reasonText(image.reason));
    case Outcome::Stopped:
        return tr("%1 stopped part way").arg(name);
    case Outcome::Waiting:
    case Outcome::Sending:
        break;
    }
    return tr("%1 not sent").arg(name);
}

// The step that failed and what to look at before trying again.
QString updateCore::reasonText(int reason)
{
    switch (reason) {
    case kTranslationFailed:
        return tr("translating the object file: check the package");
    case updateEngine::PortUnavailable:
        return tr("opening the port: check the port name and that no other program uses it");
    case updateEngine::ImageUnreadable:
        return tr("reading the image: choose the package again");
    case updateEngine::ImageRejected:
        return tr("checking the image: the board does not take it, check that the package is for this model");
    case updateEngine::HandshakeFailed:
        return tr("shaking hands: the unit did not answer, check the cable, the port and that the unit is on");
    case updateEngine::VerifyFailed:
        return tr("verifying: the unit did not take the image, check that the package is for this unit");
    case updateEngine::EraseFailed:
        return tr("erasing: the unit did not confirm the erase, start the update again");
    case updateEngine::TransferFailed:
        return tr("sending data: the unit stopped answering, check the cable and start the update again");
    case updateEngine::JumpFailed:
        return tr("starting the new firmware: the unit did not confirm it, start the update again");
    case updateEngine::LineSpeedFailed:
        return tr("changing the line speed: the unit did not confirm it, check the cable and the adapter");
    default:
        return tr("%1: see the lines above").arg(QString::fromLatin1(updateEngine::reasonCode(reason)));
    }
}
