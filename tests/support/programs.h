#ifndef PROGRAMS_H
#define PROGRAMS_H

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

// The built programs, for tests that run them as processes.
namespace testPrograms {

// How long a program run by a test may take before it counts as hung.
constexpr int kRunTimeoutMs = 60000;

// The program's path: the programs are built beside the tests.
QString path(const char *name);
// A flashed image is exact when it is the expected image followed by
// nothing but the 0xFF fill of the last block or frame.
bool sameImage(const QByteArray &flashed, const QByteArray &expected);

struct runResult
{
    int status = -1; // -1: crashed or timed out
    QString out;
    QString err;
};

// Runs a program to its end.
runResult run(const char *name, const QStringList &args);

// A simulated unit program serving in the background for one test, with
// protocol time scaled for tests; reached through dir/ttyMODEL, saving
// what it is sent in dir/flashed.
class simProcess
{
public:
    bool start(int model, const QString &dir, const QStringList &faults);
    ~simProcess();

    QString link;
    QProcess process;
};

} // namespace testPrograms

#endif // PROGRAMS_H
