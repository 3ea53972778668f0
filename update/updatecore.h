#ifndef UPDATECORE_H
#define UPDATECORE_H

#include <QList>
#include <QObject>
#include <QString>

#include "package/zip.h"
#include "protocol/updateengine.h"
#include "serial/serialport.h"
#include "update/filesupdate.h"
#include "protocol/updateparm.h"

// One unit's update: the package, the queue, the serial line and an engine
// for every model, wired once. The window and the headless flasher drive
// it and show what it reports; several cores, each with its own line, can
// run side by side in one process.
class updateCore : public QObject
{
    Q_OBJECT

public:
    explicit updateCore(QObject *parent = nullptr);

    zip &package() { return m_package; }
    const zip &package() const { return m_package; }
    filesUpdate &queue() { return m_queue; }
    serialport &line() { return m_line; }
    // The engine of a model; null for an id the registry does not know.
    updateEngine *engine(int modelId) const;
    // One per model, in the registry's order.
    const QList<updateEngine *> &engines() const { return m_engines; }

    bool isRunning() const { return m_running; }

    // Reads, checks and unpacks the package at zipPath beside itself (or in
    // the user's cache when its folder is read-only), with the keys a
    // signature must come from, and logs one line on what was listed and
    // how many keys are trusted. False, with the refusal logged, when nothing was listed.
    bool listPackage(const QString &zipPath, const trustedKeys &keys);

    // Sends the ticked images through portName. Refused, with a log line
    // for each and false, while a ticked image cannot be sent.
    bool start(const QString &portName);
    // Runs the queue, translations included, with each job only checked as
    // its engine would check it; nothing is sent and no port is opened.
    bool startDryRun();
    // Carries on after a failed run, on a freshly opened line, with the
    // image that failed and those after it. False when nothing is left.
    bool resume(const QString &portName);
    // Half a set would leave the unit's processors on different releases:
    // an error line for each ticked image that cannot be sent, and true
    // when there is one.
    bool refuseUnsendable();
    // Ends the run where it stands: every engine stops, the queue forgets
    // the rest and the port closes.
    void stop();

signals:
    void logLine(QString line);
    // A refusal before anything is sent: the package, or a ticked image.
    void errorLine(QString line);
    // An object file could not be translated; the run ends with nothing sent.
    void preparationFailed(int row);
    void progressChanged(int row, qlonglong bytesWritten, qlonglong bytesTotal);
    void jobStarted(updateParm job);
    // One job's end; reason is an updateEngine::FailReason.
    void jobEnded(updateParm job, bool success, int reason);
    void runEnded(bool success);
    // The end of every run, a stop included, in one line: each listed
    // image's result and, for a failure, the step and what to check.
    void runSummary(QString line);
    void warning(QString text);

private slots:
    void onJob(updateParm job);
    void onJobFinished(bool result);
    void onJobFailed(int reason);
    void onRunEnded(bool success);

private:
    enum class Outcome { Unticked, Waiting, Sending, Done, Failed, Stopped };
    struct imageResult
    {
        QString name;
        int row = -1; // -1: not ticked
        Outcome outcome = Outcome::Unticked;
        int reason = 0;
    };

    void makeEngines();
    void connectEngine(updateEngine &engine);
    void stopEngines(const updateEngine *except = nullptr);
    void onReceived(const QByteArray &data);
    void startResults();
    void setOutcome(int row, Outcome outcome, int reason = 0);
    void endResults();
    QString summaryLine() const;
    static QString signatureState(signatureVerdict::Kind kind);
    static QString resultText(const imageResult &image);
    static QString reasonText(int reason);
    void checkDryRunJob(const updateParm &job);

    zip m_package;
    filesUpdate m_queue;
    serialport m_line;
    QList<updateEngine *> m_engines;
    QList<int> m_engineModels; // the model id of each engine
    updateParm m_job;
    QList<imageResult> m_results; // listing order
    bool m_running = false;
    bool m_dryRun = false;
};

#endif // UPDATECORE_H
