#include "support/programs.h"

#include <QCoreApplication>

#include "support/testtime.h"

namespace testPrograms {

QString path(const char *name)
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(name);
}

bool sameImage(const QByteArray &flashed, const QByteArray &expected)
{
    if (expected.isEmpty() || flashed.size() < expected.size() || !flashed.startsWith(expected))
        return false;
    for (int i = expected.size(); i < flashed.size(); ++i) {
        if (quint8(flashed.at(i)) != 0xFF)
            return false;
    }
    return true;
}

runResult run(const char *name, const QStringList &args)
{
    QProcess p;
    p.start(path(name), args);
    runResult r;
    if (!p.waitForFinished(kRunTimeoutMs)) {
        p.kill();
        p.waitForFinished();
        r.err = QStringLiteral("timed out");
        return r;
    }
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return r;
}

bool simProcess::start(int model, const QString &dir, const QStringList &faults)
{
    link = dir + QStringLiteral("/tty%1").arg(model);
    QStringList args {QStringLiteral("--model"),      QString::number(model),
                      QStringLiteral("--link"),       link,
                      QStringLiteral("--save-dir"),   dir + QStringLiteral("/flashed"),
                      QStringLiteral("--time-scale"), QString::number(testTimeScale(0.01))};
    for (const QString &f : faults)
        args << QStringLiteral("--fault") << f;
    process.start(path("ups-unit-sim"), args);
    return process.waitForReadyRead(10000) && process.canReadLine() && process.readLine().startsWith("/dev/");
}

simProcess::~simProcess()
{
    process.terminate();
    if (!process.waitForFinished(5000))
        process.kill();
    process.waitForFinished();
}

} // namespace testPrograms
