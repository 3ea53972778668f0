#include "update/filesupdate.h"

#include "model/modelregistry.h"
#include "util/modeltable.h"

filesUpdate::filesUpdate(QObject *parent)
    : QObject(parent)
    , converter(this)
{
    parm.modelId = 0;
    connect(&converter, &common::sendMessage, this, &filesUpdate::showInfo);
}

void filesUpdate::start(int modelId, QList<checkedFile> files, QString portName)
{
    if (!files.isEmpty())
        queue = files;
    hasFailed = false;
    parm.modelId = modelId;
    parm.portName = portName;
    running = true;
    if (!prepareAll()) {
        stopRun(false);
        return;
    }
    if (!takeNext()) {
        emit sendMessage(tr("no file updating!"));
        stopRun(false);
        return;
    }
    logProcessorLine();
    emit sendMessage(tr("prepare for updating file:") + parm.imagePath);
    prepare();
}

void filesUpdate::updateFinish(bool result)
{
    if (!result) {
        emit sendMessage(parm.imagePath + tr("updating failed!"));
        emit sendMessage(tr("updating again!") + parm.imagePath);
        prepare();
        return;
    }
    emit sendMessage(parm.imagePath + tr("updating success!"));
    if (queue.isEmpty()) {
        emit sendMessage(tr("update finished!"));
        stopRun(true);
        return;
    }
    handOverNext();
}

// A job that was only checked, not sent, is done without claiming success.
void filesUpdate::advance()
{
    if (queue.isEmpty()) {
        stopRun(true);
        return;
    }
    handOverNext();
}

void filesUpdate::handOverNext()
{
    if (!takeNext()) {
        stopRun(false); // only images that match no name are left
        return;
    }
    logProcessorLine();
    prepare();
    emit sendMessage(tr("prepare for updating file:") + parm.imagePath);
}

// An engine gave up on its job: the run ends here, visibly, with the image
// that failed; the rest of the queue waits for the next start.
void filesUpdate::jobFailed()
{
    if (!running)
        return;
    emit sendMessage(parm.imagePath + tr("updating failed!"));
    keepFailedJob();
    stopRun(false);
}

void filesUpdate::keepFailedJob()
{
    failed = current;
    hasFailed = true;
}

QList<checkedFile> filesUpdate::pending() const
{
    return hasFailed ? QList<checkedFile> {failed} + queue : queue;
}

void filesUpdate::retryFailed(QString portName)
{
    queue = pending();
    hasFailed = false;
    start(parm.modelId, {}, portName);
}

// What the user stopped is not carried on by the next start.
void filesUpdate::stop()
{
    running = false;
    queue.clear();
    hasFailed = false;
}

void filesUpdate::showInfo(QString message)
{
    emit sendMessage(message);
}

// The file that matches the earliest name of the model's list; list order
// only breaks ties between files of the same name. -1 when none matches.
int filesUpdate::nextIndex(int modelId, const QList<checkedFile> &files)
{
    const modelRow *model = modelRegistry::find(modelId);
    if (!model)
        return -1;
    const int names = model->imageNames.size();
    for (int i = 0; i < names; ++i) {
        for (int j = 0; j < files.size(); ++j) {
            if (modelRegistry::imageIndexOf(modelId, modelTable::ownName(files.at(j).path)) == i)
                return j;
        }
    }
    return -1;
}

QList<checkedFile> filesUpdate::sendOrder(int modelId, QList<checkedFile> files)
{
    QList<checkedFile> ordered;
    for (int next = nextIndex(modelId, files); next >= 0; next = nextIndex(modelId, files))
        ordered.append(files.takeAt(next));
    return ordered;
}

bool filesUpdate::takeNext()
{
    const int next = nextIndex(parm.modelId, queue);
    if (next < 0)
        return false;
    current = queue.takeAt(next);
    parm.imageIndex = modelRegistry::imageIndexOf(parm.modelId, modelTable::ownName(current.path));
    parm.imagePath = current.path;
    parm.row = current.row;
    return true;
}

// Every object file of the run becomes a flat image before anything is
// sent: one that cannot be translated stops the run with nothing sent, so
// a unit never gets half a set, and the rest of the queue is kept.
bool filesUpdate::prepareAll()
{
    flatImages.clear();
    for (const checkedFile &file : qAsConst(queue)) {
        if (!file.path.endsWith(QStringLiteral(".out")))
            continue;
        QByteArray flat;
        const QString flatPath = converter.translateImage(file.path, file.bytes, &flat);
        if (flatPath.isEmpty()) {
            emit sendMessage(file.path + tr("updating failed!"));
            emit preparationFailed(file.row);
            return false;
        }
        flatImages.insert(file.path, checkedFile {file.row, flatPath, flat});
    }
    return true;
}

// Hands the job in hand to the engine of its model, with the bytes that
// were checked (for an object file, its translation).
void filesUpdate::prepare()
{
    const checkedFile image = flatImages.value(current.path, current);
    parm.imagePath = image.path;
    parm.image = image.bytes;
    emit jobReady(parm);
    if (modelRegistry::usesFirstSignals(parm.modelId))
        emit sendParm(parm);
    else
        emit sendParm1(parm);
}

void filesUpdate::logProcessorLine()
{
    const modelRow *model = modelRegistry::find(parm.modelId);
    if (!model || !model->announcesProcessor)
        return;
    if (parm.imageIndex != 0)
        emit sendMessage(tr("begin to start updating main progress..."));
    else
        emit sendMessage(tr("begin to start updating monitor progress..."));
}

void filesUpdate::stopRun(bool success)
{
    running = false;
    emit runEnded(success);
}
