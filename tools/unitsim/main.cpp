// ups-unit-sim: a simulated unit on a virtual serial line.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QStringList>

#include <cstdio>

#include "tools/support/signalwatcher.h"
#include "tools/unitsim/firstunit.h"
#include "tools/unitsim/unitmodels.h"
#include "tools/unitsim/unitserver.h"
#include "upsversion.h"
#include "update/common.h"

// The texts of the command line.
class simCommand
{
    Q_DECLARE_TR_FUNCTIONS(simCommand)
};

namespace {

enum ExitStatus { Success = 0, Failure = 1, UsageError = 2 };

constexpr int kMaxReplyLatencyMs = 1000;

void say(FILE *stream, const QString &line)
{
    std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), stream);
    std::fflush(stream);
}

void describe(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        simCommand::tr("Creates a raw pseudo-terminal pair for each unit, prints the device paths for\n"
                       "the tool to open (one a line, in unit order) and answers as the units' boot\n"
                       "loaders until SIGINT or SIGTERM. With --count N above 1, unit K is linked as\n"
                       "PATH-K, saves in DIR/K and starts its job lines with [K].\n\n"
                       "Faults (--fault, repeatable):\n%1\n\n"
                       "Model 0:\n%2\n\n"
                       "Model 1:\n%3")
            .arg(unitServer::grammarHelp(), unitServer::faultHelp(0), unitServer::faultHelp(1)));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("model"), simCommand::tr("0 (\"5-10k\" units) or 1 (\"15-20k\" units)."),
                      QStringLiteral("MODEL")});
    parser.addOption({QStringLiteral("count"),
                      simCommand::tr("Serve N units of the model at once, each on its own line (1 to %1).")
                          .arg(unitServer::kMaxUnits),
                      QStringLiteral("N"), QStringLiteral("1")});
    parser.addOption({QStringLiteral("link"),
                      simCommand::tr("Also make PATH a symlink to the device (PATH-1, PATH-2, ... with --count)."),
                      QStringLiteral("PATH")});
    parser.addOption(
        {QStringLiteral("save-dir"),
         simCommand::tr("Save each flashed image in DIR (DIR/1, DIR/2, ... with --count), named after the\n"
                        "processor (arm.bin, ...)."),
         QStringLiteral("DIR")});
    parser.addOption({QStringLiteral("line-rate"),
                      simCommand::tr("Pace both directions at the line speed in effect (10 bits a byte).")});
    parser.addOption({QStringLiteral("reply-latency"),
                      simCommand::tr("Hold each reply MS more (0 to %1, fractions allowed), as a USB adapter's "
                                     "latency timer does; scaled like the line time.")
                          .arg(kMaxReplyLatencyMs),
                      QStringLiteral("MS"), QStringLiteral("0")});
    parser.addOption({QStringLiteral("turnaround-file"),
                      simCommand::tr("Write the tool's turnaround of each exchange (from a reply's last byte out "
                                     "to the next request's first byte in) to FILE in microseconds, one a line "
                                     "(FILE-1, FILE-2, ... with --count)."),
                      QStringLiteral("FILE")});
    parser.addOption({QStringLiteral("fault"),
                      simCommand::tr("Misbehave as FAULT says (see below); UNIT/FAULT for one unit only."),
                      QStringLiteral("FAULT")});
    parser.addOption({QStringLiteral("running"),
                      simCommand::tr("Model 0: the boot loader already runs for PROCESSOR (arm or dsp), as in a unit "
                                     "left in it: it does not answer the preamble, flashes every image into PROCESSOR "
                                     "and refuses (NAK) every verify code but CODE, 8 hex digits as the verify command "
                                     "carries them (the little-endian word at 0xB000 of an arm image, at 0x17FE8 of a "
                                     "dsp image, most significant byte first: 12345678 for the sample arm.bin)."),
                      QStringLiteral("PROCESSOR:CODE")});
    parser.addOption({QStringLiteral("time-scale"),
                      simCommand::tr("Scale the unit's own pauses by F (above 0, at most 100)."), QStringLiteral("F"),
                      QStringLiteral("1.0")});
}

bool makeLink(const QString &link, const QString &target)
{
    const QFileInfo existing(link);
    if (existing.isSymLink() || existing.exists())
        QFile::remove(link);
    return QFile::link(target, link);
}

// Unit K's own link or save folder: the name itself when one unit is served,
// so that a single unit is set up exactly as before there were several.
QString unitName(const QString &base, int unit, int count, QChar separator)
{
    if (base.isEmpty() || count == 1)
        return base;
    return base + separator + QString::number(unit);
}

// The reply latency and the turnaround files; -1 to go on serving.
int setUpTiming(QCommandLineParser &parser, const QList<unitServer *> &servers)
{
    bool ok = false;
    const double latencyMs = parser.value(QStringLiteral("reply-latency")).toDouble(&ok);
    if (!ok || !(latencyMs >= 0 && latencyMs <= kMaxReplyLatencyMs)) {
        say(stderr,
            simCommand::tr("usage: --reply-latency takes a number from 0 to %1; try --help").arg(kMaxReplyLatencyMs));
        return UsageError;
    }
    const QString file = parser.value(QStringLiteral("turnaround-file"));
    for (int i = 0; i < servers.size(); ++i) {
        servers.at(i)->setReplyLatencyMs(latencyMs);
        const QString unitFile = unitName(file, i + 1, servers.size(), QLatin1Char('-'));
        if (!unitFile.isEmpty() && !servers.at(i)->setTurnaroundFile(unitFile)) {
            say(stderr, simCommand::tr("cannot write %1").arg(unitFile));
            return UsageError;
        }
    }
    return -1;
}

// Checks the options and sets up the units; -1 to go on serving.
int setUp(QCommandLineParser &parser, QList<unitServer *> &servers, QObject *owner)
{
    bool modelOk = false;
    const int model = parser.value(QStringLiteral("model")).toInt(&modelOk);
    bool countOk = false;
    const int count = parser.value(QStringLiteral("count")).toInt(&countOk);
    double scale = 1.0;
    const bool scaleOk = common::parseTimeScale(parser.value(QStringLiteral("time-scale")), &scale);
    const QString saveDir = parser.value(QStringLiteral("save-dir"));
    if (!modelOk || !unitModels::find(model) || !parser.positionalArguments().isEmpty()) {
        say(stderr, simCommand::tr("usage: ups-unit-sim --model 0|1 [options]; try --help"));
        return UsageError;
    }
    if (!countOk || count < 1 || count > unitServer::kMaxUnits) {
        say(stderr,
            simCommand::tr("usage: --count takes a whole number from 1 to %1; try --help").arg(unitServer::kMaxUnits));
        return UsageError;
    }
    if (!scaleOk) {
        say(stderr,
            simCommand::tr("usage: --time-scale takes a number above 0 and at most %1; try --help")
                .arg(common::kMaxTimeScale));
        return UsageError;
    }
    common::setTimeScale(scale);
    for (int unit = 1; unit <= count; ++unit) {
        const QString dir = unitName(saveDir, unit, count, QLatin1Char('/'));
        if (!dir.isEmpty() && !QDir().mkpath(dir)) {
            say(stderr, simCommand::tr("cannot create %1").arg(dir));
            return UsageError;
        }
        auto *server = new unitServer(model, owner);
        server->setSaveDir(dir);
        server->setLineRate(parser.isSet(QStringLiteral("line-rate")));
        servers.append(server);
    }
    if (parser.isSet(QStringLiteral("running"))) {
        QString processor;
        QByteArray code;
        const QString problem = firstUnit::parseRunning(parser.value(QStringLiteral("running")), &processor, &code);
        if (!problem.isEmpty() || !unitModels::find(model)->takesRunning) {
            say(stderr,
                simCommand::tr("bad --running: %1").arg(problem.isEmpty() ? simCommand::tr("model 0 only") : problem));
            return UsageError;
        }
        for (unitServer *server : qAsConst(servers))
            server->setRunningFor(processor, code);
    }
    for (const QString &faultText : parser.values(QStringLiteral("fault"))) {
        int unit = unitServer::kEveryUnit;
        QString fault;
        QString error;
        bool ok = unitServer::splitUnitFault(faultText, count, &unit, &fault, &error);
        for (int i = 0; ok && i < count; ++i) {
            if (unit == unitServer::kEveryUnit || unit == i + 1)
                ok = servers.at(i)->addFault(fault, &error);
        }
        if (!ok) {
            say(stderr, simCommand::tr("bad fault %1: %2").arg(faultText, error));
            return UsageError;
        }
    }
    return setUpTiming(parser, servers);
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
    QList<unitServer *> servers;
    const int status = setUp(parser, servers, &app);
    if (status >= 0)
        return status;
    signalWatcher watcher;
    if (!watcher.install()) {
        say(stderr, simCommand::tr("cannot open a pseudo-terminal"));
        return Failure;
    }
    const int count = servers.size();
    const QString link = parser.value(QStringLiteral("link"));
    QStringList links;
    const auto removeLinks = [&links] {
        for (const QString &made : links)
            QFile::remove(made);
    };
    for (int i = 0; i < count; ++i) {
        unitServer *server = servers.at(i);
        if (!server->open()) {
            say(stderr, simCommand::tr("cannot open a pseudo-terminal"));
            removeLinks();
            return Failure;
        }
        const QString unitLink = unitName(link, i + 1, count, QLatin1Char('-'));
        if (!unitLink.isEmpty()) {
            if (!makeLink(unitLink, server->portName())) {
                say(stderr, simCommand::tr("cannot make the link %1").arg(unitLink));
                removeLinks();
                return Failure;
            }
            links.append(unitLink);
        }
        // Several units write to one stdout: each line says whose it is.
        const QString prefix = count == 1 ? QString() : QStringLiteral("[%1] ").arg(i + 1);
        QObject::connect(server, &unitServer::jobSummary,
                         [prefix](const QString &line) { say(stdout, prefix + line); });
        QObject::connect(server, &unitServer::violationSeen, [prefix](const QString &line) {
            say(stderr, prefix + simCommand::tr("violation: %1").arg(line));
        });
    }
    QObject::connect(&watcher, &signalWatcher::caught, &app, [] { QCoreApplication::quit(); });
    for (const unitServer *server : servers)
        say(stdout, server->portName());
    const int result = app.exec();
    removeLinks();
    return result;
}
