#ifndef FLASHRUN_H
#define FLASHRUN_H

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdio>

#include "update/updatecore.h"
#include "update/updateparm.h"

class progressMeter;

// One update without a window: the window's update core, with the log on a
// stream and the end of the run turned into an exit status.
class flashRun : public QObject
{
    Q_OBJECT

public:
    enum ExitStatus { Success = 0, JobFailed = 1, UsageError = 2, Interrupted = 130 };

    struct listedImage
    {
        int row = 0;
        QString name;
        QString path;
        bool ticked = false;
    };

    flashRun(FILE *log, FILE *errors, progressMeter *meter, QObject *parent = nullptr);

    // Unpacks and checks the package and ticks the images to send (all, or
    // those whose name contains one of `only`). Success, or UsageError after
    // saying why.
    int openPackage(const QString &packagePath, const QStringList &only);
    // Takes over the package another run opened and checked, without
    // unpacking it again: both send the same unpacked files.
    void adoptPackage(const flashRun &opened);
    // Prefixes every log and error line with "[label] " (none by default).
    void setLabel(const QString &label);
    QList<listedImage> images() const { return m_images; }
    int modelId() const { return core.package().modelId(); }
    int imagesSent() const { return m_sent; }
    int imagesTicked() const { return core.package().checkedFiles().size(); }
    bool hasEnded() const { return m_ended; }

    void start(const QString &portName);
    void startDryRun();
    // Stops the core and closes the port, whatever state the run is in.
    void close() { core.stop(); }

public slots:
    void onInterrupt();

signals:
    void finished(int exitStatus);

private slots:
    void onLogLine(QString line);
    void onWarning(const QString &text);
    void onRunEnded(bool success);
    void onDryRunJob(updateParm job);
    void onJobEnded(updateParm job, bool success, int reason);

private:
    bool listImages(const QStringList &only);
    bool checkTickedImagesSendable();
    void printError(const QString &text);
    void put(FILE *stream, const QString &line);
    void end(int exitStatus);

    updateCore core;

    FILE *m_log;
    FILE *m_errors;
    progressMeter *m_meter;
    QList<listedImage> m_images;
    QString m_extractDir;
    QString m_prefix;
    int m_sent = 0;
    bool m_ended = false;
};

#endif // FLASHRUN_H
