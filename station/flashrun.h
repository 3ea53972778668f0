#ifndef FLASHRUN_H
#define FLASHRUN_H

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include "station/flashoutput.h"
#include "station/unitrecord.h"
#include "update/updatecore.h"
#include "protocol/updateparm.h"

// One port's update without a window: the window's update core, with what
// it reports passed on to an output, each attempt kept as a record, and the
// end of an attempt turned into an exit status.
class flashRun : public QObject
{
    Q_OBJECT

public:
    // A stop by signal exits as a shell expects: 128 + the signal's number
    // for a hang-up (the terminal went away), 130 for Ctrl-C and a request
    // to terminate alike.
    enum ExitStatus { Success = 0, JobFailed = 1, UsageError = 2, HungUp = 129, Interrupted = 130 };

    explicit flashRun(flashOutput *out, QObject *parent = nullptr);

    // Which port the output names this run's lines after (-1: the run as a
    // whole, as while the package is opened for every port).
    void setSlot(int slot) { m_slot = slot; }

    // Unpacks and checks the package and ticks the images to send (all, or
    // those whose name contains one of `only`). Success, or UsageError after
    // saying why.
    int openPackage(const packageBytes &package, const QStringList &only, const trustedKeys &trust = trustedKeys());
    // Takes over the package another run opened and checked, without
    // unpacking it again: both send the same unpacked files.
    void adoptPackage(const flashRun &opened);
    int modelId() const { return core.package().modelId(); }
    int imagesTicked() const { return core.package().checkedFiles().size(); }
    const unitAttempt &attempt() const { return m_attempt; }
    signatureVerdict::Kind signatureKind() const { return core.package().signatureKind(); }
    // The serial number every later attempt is recorded with.
    void setUnitSerial(const QString &serial) { m_unitSerial = serial; }

    // A new unit: every ticked image, attempt 1.
    void start(const QString &portName, int unit);
    // The same unit again, from the image that failed. False when nothing
    // is left to send.
    bool retry(const QString &portName);
    void startDryRun();
    // Stops the core and closes the port, whatever state the run is in.
    void close() { core.stop(); }

    // The exit status of a run stopped by a signal, and whether a status
    // is one.
    static int interruptStatus(int signalNumber);
    static bool isInterruption(int exitStatus) { return exitStatus == HungUp || exitStatus == Interrupted; }

public slots:
    // Ends the attempt as interrupted by the signal: the engines stop, the
    // port closes.
    void interrupt(int signalNumber);

signals:
    // The attempt's end; attempt() holds its record.
    void finished(int exitStatus);

private slots:
    void onLogLine(QString line);
    void onEngineLine(const QString &line);
    void onWarning(const QString &text);
    void onProgress(int row, qlonglong written, qlonglong total);
    void onRunEnded(bool success);
    void onPreparationFailed(int row);
    void onJobStarted(updateParm job);
    void onJobEnded(updateParm job, bool success, int reason);
    void printError(const QString &text);

private:
    bool tickImages(const QStringList &only);
    bool checkTickedImagesSendable();
    void beginAttempt(int unit, int attemptNumber, const QList<checkedFile> &files);
    imageOutcome *imageOfRow(int row);
    std::optional<bool> processorChosen(int modelId);
    void describeDryRunJob(const updateParm &job);
    void end(int exitStatus);

    updateCore core;

    flashOutput *m_out;
    int m_slot = -1;
    QList<int> m_attemptRows; // the table row of each image of the attempt
    unitAttempt m_attempt;
    QString m_extractDir;
    QString m_unitSerial;
    bool m_active = false;
    bool m_quiet = false; // after an attempt's end, until the next start
    bool m_dryRun = false;
};

#endif // FLASHRUN_H
