#ifndef FILESUPDATE_H
#define FILESUPDATE_H

#include <QObject>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include "package/zip.h"
#include "protocol/updateparm.h"
#include "update/common.h"

// The queue of ticked images: takes them in the model's name order, translates
// object files and hands each job to the engine of its model.
class filesUpdate : public QObject
{
    Q_OBJECT

public:
    explicit filesUpdate(QObject *parent = nullptr);

    void start(int modelId, QList<checkedFile> files, QString portName);
    // The files in the order a run sends them: the model's name order,
    // files of one name in their given order; files that name no image of
    // the model are never sent.
    static QList<checkedFile> sendOrder(int modelId, QList<checkedFile> files);
    // After a failed run: the image that failed, then those it had not
    // reached; what retryFailed() sends.
    QList<checkedFile> pending() const;
    // Starts the failed run again with the image that failed. A start with
    // no files, as the window's, carries on after it instead.
    void retryFailed(QString portName);

signals:
    void sendMessage(QString message);
    // A job for the engine of its model.
    void jobReady(updateParm data);
    // The same job under the names the boards' engines were first wired by:
    // sendParm for a model on the first board's signals, sendParm1 for others.
    void sendParm(updateParm data);
    void sendParm1(updateParm data);
    // Not wired in the window: lets a headless caller see a run end, true
    // with "update finished!", false when the queue itself stops the run.
    void runEnded(bool success);
    // An object file could not be translated: the run ends before anything
    // is sent. row is its table row.
    void preparationFailed(int row);

public slots:
    void updateFinish(bool result);
    // An engine ended its job on a failure, without finish().
    void jobFailed();
    // The job in hand was only checked (a dry run): hand over the next one
    // without a success line, or end the run.
    void advance();
    // The run is abandoned (the user stopped it): nothing more is reported
    // and the images still queued are dropped.
    void stop();

private slots:
    void showInfo(QString message);

private:
    static int nextIndex(int modelId, const QList<checkedFile> &files);
    bool takeNext();
    void handOverNext();
    bool prepareAll();
    void prepare();
    void logProcessorLine();
    void stopRun(bool success);
    void keepFailedJob();

    common converter;
    QList<checkedFile> queue;
    QHash<QString, checkedFile> flatImages; // by the object file's path
    checkedFile current;
    checkedFile failed;
    bool hasFailed = false;
    updateParm parm;
    bool running = false;
};

#endif // FILESUPDATE_H
