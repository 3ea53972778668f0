#include "update/updatecore.h"

#include <QTimer>

updateCore::updateCore(QObject *parent)
    : QObject(parent)
    , m_package(this)
    , m_queue(this)
    , m_line(this)
    , m_first(&m_line, this)
    , m_second(&m_line, this)
{
    connect(&m_package, &zip::sendMessage, this, &updateCore::logLine);
    connect(&m_package, &zip::sendRefusal, this, &updateCore::errorLine);
    connect(&m_queue, &filesUpdate::preparationFailed, this, &updateCore::preparationFailed);
    connect(&m_queue, &filesUpdate::sendMessage, this, &updateCore::logLine);
    // One engine on the line at a time: a job for one stops the other's.
    connect(&m_queue, &filesUpdate::sendParm, &m_second, &progress1::stop);
    connect(&m_queue, &filesUpdate::sendParm1, &m_first, &progress::stop);
    connect(&m_queue, &filesUpdate::sendParm, this, &updateCore::onJob);
    connect(&m_queue, &filesUpdate::sendParm1, this, &updateCore::onJob);
    connect(&m_queue, &filesUpdate::runEnded, this, &updateCore::onRunEnded);
    connect(&m_line, &serialport::receive, &m_first, &progress::receiveData);
    connect(&m_line, &serialport::receive1, &m_second, &progress1::receiveData);
    connect(&m_line, &serialport::warning, this, &updateCore::warning);
    connectEngine(m_first);
    connectEngine(m_second);
}

void updateCore::connectEngine(updateEngine &engine)
{
    connect(&engine, &updateEngine::sendMessage, this, &updateCore::logLine);
    connect(&engine, &updateEngine::sendprogressBar, this, &updateCore::progressChanged);
    connect(&engine, &updateEngine::finish, this, &updateCore::onJobFinished);
    connect(&engine, &updateEngine::jobFailed, this, &updateCore::onJobFailed);
}

updateEngine &updateCore::engine(int modelId)
{
    if (modelId != 0)
        return m_second;
    return m_first;
}

// Half a set would leave the unit's processors on different releases.
bool updateCore::refuseUnsendable()
{
    const QStringList problems = m_package.checkedProblems();
    for (const QString &line : problems)
        emit errorLine(line);
    return !problems.isEmpty();
}

bool updateCore::start(const QString &portName)
{
    if (refuseUnsendable())
        return false;
    m_dryRun = false;
    m_running = true;
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
    m_first.stop();
    m_second.stop();
    m_line.closeSerialPort();
    if (m_queue.pending().isEmpty())
        return false;
    m_dryRun = false;
    m_running = true;
    m_queue.retryFailed(portName);
    return true;
}

void updateCore::stop()
{
    m_first.stop();
    m_second.stop();
    m_queue.stop();
    m_line.closeSerialPort();
    m_running = false;
}

void updateCore::onJob(updateParm job)
{
    m_job = job;
    emit jobStarted(job);
    if (m_dryRun)
        checkDryRunJob(job);
    else
        engine(job.modelId).initParm(job);
}

// The job passes the engine's own image test and is then taken as done;
// the queue carries on with the next image as after a real success.
void updateCore::checkDryRunJob(const updateParm &job)
{
    if (!engine(job.modelId).checkImage(job.imageIndex, job.image)) {
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
    if (result)
        emit jobEnded(m_job, true, updateEngine::NoFailure);
    m_queue.updateFinish(result);
}

void updateCore::onJobFailed(int reason)
{
    emit jobEnded(m_job, false, reason);
    m_queue.jobFailed();
}

void updateCore::onRunEnded(bool success)
{
    m_running = false;
    emit runEnded(success);
}
