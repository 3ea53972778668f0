// ups-unit-sim: a simulated unit on a virtual serial line.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

#include "tools/support/signalwatcher.h"
#include "tools/unitsim/unitserver.h"
#include "upsversion.h"
#include "util/common.h"

namespace {

enum ExitStatus { Success = 0, Failure = 1, UsageError = 2 };

QString text(const char *source)
{
    return QCoreApplication::translate("ups-unit-sim", source);
}

void say(FILE *stream, const QString &line)
{
    std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), stream);
    std::fflush(stream);
}

void describe(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        text("Creates a raw pseudo-terminal pair, prints the device path for the tool to open\n"
             "and answers as a unit's boot loader until SIGINT or SIGTERM.\n\n"
             "Faults (--fault, repeatable):\n%1\n\n"
             "Model 0:\n%2\n\n"
             "Model 1:\n%3")
            .arg(unitServer::grammarHelp(), unitServer::faultHelp(0), unitServer::faultHelp(1)));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(
        {QStringLiteral("model"), text("0 (\"5-10k\" units) or 1 (\"15-20k\" units)."), QStringLiteral("MODEL")});
    parser.addOption({QStringLiteral("link"), text("Also make PATH a symlink to the device."), QStringLiteral("PATH")});
    parser.addOption({QStringLiteral("save-dir"),
                      text("Save each flashed image in DIR, named after the processor (arm.bin, ...)."),
                      QStringLiteral("DIR")});
    parser.addOption(
        {QStringLiteral("line-rate"), text("Pace both directions at the line speed in effect (10 bits a byte).")});
    parser.addOption({QStringLiteral("fault"), text("Misbehave as FAULT says (see below)."), QStringLiteral("FAULT")});
    parser.addOption({QStringLiteral("time-scale"), text("Scale the unit's own pauses by F (above 0, at most 100)."),
                      QStringLiteral("F"), QStringLiteral("1.0")});
}

bool makeLink(const QString &link, const QString &target)
{
    const QFileInfo existing(link);
    if (existing.isSymLink() || existing.exists())
        QFile::remove(link);
    return QFile::link(target, link);
}

// Checks the options and sets up the unit; -1 to go on serving.
int setUp(QCommandLineParser &parser, unitServer *&server, QObject *owner)
{
    bool modelOk = false;
    const int model = parser.value(QStringLiteral("model")).toInt(&modelOk);
    double scale = 1.0;
    const bool scaleOk = common::parseTimeScale(parser.value(QStringLiteral("time-scale")), &scale);
    const QString saveDir = parser.value(QStringLiteral("save-dir"));
    if (!modelOk || (model != 0 && model != 1) || !parser.positionalArguments().isEmpty()) {
        say(stderr, text("usage: ups-unit-sim --model 0|1 [options]; try --help"));
        return UsageError;
    }
    if (!scaleOk) {
        say(stderr,
            text("usage: --time-scale takes a number above 0 and at most %1; try --help").arg(common::kMaxTimeScale));
        return UsageError;
    }
    if (!saveDir.isEmpty() && !QDir().mkpath(saveDir)) {
        say(stderr, text("cannot create %1").arg(saveDir));
        return UsageError;
    }
    common::setTimeScale(scale);
    server = new unitServer(model, owner);
    server->setSaveDir(saveDir);
    server->setLineRate(parser.isSet(QStringLiteral("line-rate")));
    for (const QString &faultText : parser.values(QStringLiteral("fault"))) {
        QString error;
        if (!server->addFault(faultText, &error)) {
            say(stderr, text("bad fault %1: %2").arg(faultText, error));
            return UsageError;
        }
    }
    return -1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(UPS_VERSION));
    QCommandLineParser parser;
    describe(parser);
    if (!parser.parse(app.arguments())) {
        say(stderr, parser.errorText());
        return UsageError;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        say(stdout, parser.helpText());
        return Success;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        say(stdout, QCoreApplication::applicationName() + QLatin1Char(' ') + QCoreApplication::applicationVersion());
        return Success;
    }
    unitServer *server = nullptr;
    const int status = setUp(parser, server, &app);
    if (status >= 0)
        return status;
    signalWatcher watcher;
    if (!watcher.install() || !server->open()) {
        say(stderr, text("cannot open a pseudo-terminal"));
        return Failure;
    }
    const QString link = parser.value(QStringLiteral("link"));
    if (!link.isEmpty() && !makeLink(link, server->portName())) {
        say(stderr, text("cannot make the link %1").arg(link));
        return Failure;
    }
    QObject::connect(&watcher, &signalWatcher::caught, &app, [] { QCoreApplication::quit(); });
    QObject::connect(server, &unitServer::jobSummary, [](const QString &line) { say(stdout, line); });
    QObject::connect(server, &unitServer::violationSeen,
                     [](const QString &line) { say(stderr, text("violation: %1").arg(line)); });
    say(stdout, server->portName());
    const int result = app.exec();
    if (!link.isEmpty())
        QFile::remove(link);
    return result;
}
