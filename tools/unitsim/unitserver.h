#ifndef UNITSERVER_H
#define UNITSERVER_H

#include <QByteArray>
#include <QObject>
#include <QString>

class QFile;
class simulatedUnit;

// Serves one simulated unit of either model as a program does: counts the
// traffic at each line speed, passes on each new violation and sums up each
// job in one line (the unit saves the flashed image).
class unitServer : public QObject
{
    Q_OBJECT

public:
    explicit unitServer(int model, QObject *parent = nullptr);

    bool open();
    QString portName() const;
    bool addFault(const QString &faultText, QString *error);
    void setLineRate(bool on);
    void setReplyLatencyMs(double ms);
    void setSaveDir(const QString &dir);
    // Writes the tool's turnaround of each exchange to PATH, in whole
    // microseconds, one a line; false when PATH cannot be written.
    bool setTurnaroundFile(const QString &path);
    // A first-board unit whose boot loader already runs for one processor
    // (see firstUnit::setRunningFor); false for a second-board unit.
    bool setRunningFor(const QString &processor, const QByteArray &code);
    static QString grammarHelp();
    static QString faultHelp(int model);

    // One program can serve several units of a model at once.
    static constexpr int kMaxUnits = 64;
    static constexpr int kEveryUnit = 0;
    // Splits a fault written [UNIT/]FAULT for a program serving COUNT units:
    // the unit it is meant for (kEveryUnit without a prefix) and the fault
    // itself. False, with ERROR set, when UNIT is not one of 1..COUNT.
    static bool splitUnitFault(const QString &text, int count, int *unit, QString *fault, QString *error);

    // Bytes seen on the line during the current job, by direction and speed.
    struct traffic
    {
        qint64 inSlow = 0, outSlow = 0, inFast = 0, outFast = 0, other = 0;
        qint64 lateNs = -1; // paced replies' lateness in all; -1 unpaced
    };
    traffic currentTraffic() const { return m_traffic; }

    static QString summaryLine(int job, const QString &target, qint64 size, const traffic &t, const QString &savedAs);

signals:
    void jobSummary(QString line);
    void violationSeen(QString text);

private slots:
    void onJobCompleted(QString target, QByteArray image);
    void onReceived(QByteArray bytes);
    void onSent(QByteArray bytes);
    void onTurnaround(qint64 ns);

private:
    void count(qint64 bytes, bool incoming);
    void reportNewViolations();

    simulatedUnit *m_unit;
    QFile *m_turnarounds = nullptr;
    traffic m_traffic;
    qint64 m_lateCountedNs = 0; // the unit's lateness up to the last job
    int m_violationsShown = 0;
    int m_jobs = 0;
};

#endif // UNITSERVER_H
