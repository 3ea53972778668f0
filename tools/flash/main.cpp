// ups-flash: the window's update without the window, for scripts and
// production lines.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QSocketNotifier>
#include <QSysInfo>
#include <QTimer>
#include <QTranslator>

#include <cstdio>
#include <memory>
#include <unistd.h>

#include "station/flashfleet.h"
#include "station/flashrun.h"
#include "station/standingtrust.h"
#include "tools/flash/jsonoutput.h"
#include "tools/flash/textoutput.h"
#include "tools/support/signalwatcher.h"
#include "upsversion.h"
#include "update/common.h"
#include "util/places.h"

// The texts of the command line and of the run as a whole.
class flashCommand
{
    Q_DECLARE_TR_FUNCTIONS(flashCommand)
};

namespace {

constexpr int kMaxRetries = 100;

// The parser's own texts in --help and in its errors. Qt's translations are
// not shipped, so ours carry them.
[[maybe_unused]] const char *const kParserTexts[] = {
    QT_TRANSLATE_NOOP("QCommandLineParser", "Usage: %1"),
    QT_TRANSLATE_NOOP("QCommandLineParser", "[options]"),
    QT_TRANSLATE_NOOP("QCommandLineParser", "Options:"),
    QT_TRANSLATE_NOOP("QCommandLineParser", "Arguments:"),
    QT_TRANSLATE_NOOP("QCommandLineParser", "Displays help on commandline options."),
    QT_TRANSLATE_NOOP("QCommandLineParser", "Displays help including Qt specific options."),
    QT_TRANSLATE_NOOP("QCommandLineParser", "Displays version information."),
    QT_TRANSLATE_NOOP("QCommandLineParser", "Unknown option '%1'."),
    QT_TRANSLATE_NOOP("QCommandLineParser", "Unknown options: %1."),
    QT_TRANSLATE_NOOP("QCommandLineParser", "Missing value after '%1'."),
    QT_TRANSLATE_NOOP("QCommandLineParser", "Unexpected value after '%1'.")};

void say(FILE *stream, const QString &line)
{
    std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), stream);
    std::fflush(stream);
}

struct flashOptions
{
    QString packagePath;
    QStringList ports;
    QStringList only;
    bool dryRun = false;
    bool json = false;
    QString language = QStringLiteral("en");
    double timeScale = 1.0;
    QString station;
    trustedKeys trust;
    flashFleet::options fleet;
};

// The language must be known before the help text is built, so it is read
// from the raw arguments first.
QString requestedLanguage(const QStringList &arguments)
{
    for (int i = 0; i < arguments.size(); ++i) {
        if (arguments.at(i) == QLatin1String("--lang") && i + 1 < arguments.size())
            return arguments.at(i + 1);
        if (arguments.at(i).startsWith(QLatin1String("--lang=")))
            return arguments.at(i).mid(7);
    }
    return QStringLiteral("en");
}

bool loadChinese(QTranslator &translator)
{
    if (!translator.load(places::translationFile()))
        return false;
    QCoreApplication::installTranslator(&translator);
    return true;
}

// Where the events are described on this machine: the installed (or Windows
// folder's) events.md, else the source's.
QString eventsDocument()
{
    const QString document = places::eventsDocument();
    return document.isEmpty() ? QStringLiteral("docs/events.md") : QDir::toNativeSeparators(document);
}

void describe(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        flashCommand::tr("Unpacks and checks a firmware package and sends its images to a unit's boot loader.\n"
                         "With several --port, every unit gets the package at once, each line carries\n"
                         "the port's name, and a summary table ends the run.\n"
                         "Exit status: 0 every unit passed, 1 a unit failed after its retries (or its\n"
                         "report line could not be written), 2 usage error, unreadable package or no\n"
                         "image to send (nothing sent), 129 hung up (the terminal closed: SIGHUP) or\n"
                         "130 interrupted (Ctrl-C, SIGTERM); either way a unit was cut short.\n"
                         "The byte trace of the line and the engines shows with\n"
                         "QT_LOGGING_RULES=\"ups.*.debug=true\"."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(
        {QStringLiteral("port"),
         flashCommand::tr(
             "Serial device to use (e.g. /dev/ttyUSB0, COM3, a pty); repeat it to flash several units at once."),
         QStringLiteral("PORT")});
    parser.addOption({QStringLiteral("only"),
                      flashCommand::tr("Send only the images whose file name contains NAME (repeatable)."),
                      QStringLiteral("NAME")});
    parser.addOption({QStringLiteral("dry-run"),
                      flashCommand::tr("Unpack, check and translate, list what would be sent, open no port.")});
    parser.addOption({QStringLiteral("lang"), flashCommand::tr("Language of the log: en or zh."),
                      QStringLiteral("LANG"), QStringLiteral("en")});
    parser.addOption(
        {QStringLiteral("time-scale"),
         flashCommand::tr("Scale every protocol pause and timeout by F (above 0, at most 100). For simulated "
                          "units only: a real unit needs the exact timing (1.0)."),
         QStringLiteral("F"), QStringLiteral("1.0")});
    parser.addOption({QStringLiteral("trust"),
                      flashCommand::tr("Send only packages signed by the key in FILE.pub (repeatable). The keys "
                                       "in %1 are trusted as well.")
                          .arg(places::trustedKeyFolders().join(QStringLiteral(", "))),
                      QStringLiteral("FILE.pub")});
    parser.addOption({QStringLiteral("require-signed"),
                      flashCommand::tr("Refuse every package that no trusted key signed, even when no key is "
                                       "trusted at all (then every package is refused); as require-signature=true "
                                       "in %1.")
                          .arg(places::settingsFile())});
    parser.addOption(
        {QStringLiteral("json"),
         flashCommand::tr("Write JSON Lines events on stdout instead of text (see %1).").arg(eventsDocument())});
    parser.addOption({QStringLiteral("report"),
                      flashCommand::tr("Append one JSON line per unit and attempt to FILE (not with --dry-run)."),
                      QStringLiteral("FILE")});
    parser.addOption({QStringLiteral("station"),
                      flashCommand::tr("Station name in the report (default: the host name)."),
                      QStringLiteral("NAME")});
    parser.addOption(
        {QStringLiteral("retries"),
         flashCommand::tr("Start a failed unit again from the image that failed, up to N more times (0 to %1).")
             .arg(kMaxRetries),
         QStringLiteral("N"), QStringLiteral("0")});
    parser.addOption(
        {QStringLiteral("wait"), flashCommand::tr("Wait for a port that does not exist yet (an adapter to plug in).")});
    parser.addOption(
        {QStringLiteral("loop"),
         flashCommand::tr("Station mode: flash unit after unit on each port until Ctrl-C. The next unit starts "
                          "when its port goes away and comes back, or on Enter (type a port's name or number "
                          "first to start only that one). Implies --wait.")});
    parser.addPositionalArgument(QStringLiteral("PACKAGE.zip"), flashCommand::tr("The firmware package."));
}

// Two spellings of one device (a link and its target) are one port.
QString repeatedPort(const QStringList &ports)
{
    QSet<QString> seen;
    for (const QString &port : ports) {
        const QFileInfo info(port);
        const QString canonical = info.canonicalFilePath();
        const QString key = canonical.isEmpty() ? info.absoluteFilePath() : canonical;
        if (seen.contains(key))
            return port;
        seen.insert(key);
    }
    return QString();
}

// Fills options; returns -1 to go on, otherwise the exit status. Keys given
// with --trust must all be readable (a usage error otherwise); the standing
// trust of the machine and the user is added as for the window.
int parseOptions(QCommandLineParser &parser, flashOptions &options)
{
    if (!parser.parse(QCoreApplication::arguments())) {
        say(stderr, parser.errorText());
        return flashRun::UsageError;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        say(stdout, parser.helpText());
        return flashRun::Success;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        say(stdout, QCoreApplication::applicationName() + QLatin1Char(' ') + QCoreApplication::applicationVersion());
        return flashRun::Success;
    }
    const QStringList positional = parser.positionalArguments();
    options.dryRun = parser.isSet(QStringLiteral("dry-run"));
    options.ports = parser.values(QStringLiteral("port"));
    options.only = parser.values(QStringLiteral("only"));
    options.language = parser.value(QStringLiteral("lang"));
    options.json = parser.isSet(QStringLiteral("json"));
    options.station = parser.value(QStringLiteral("station"));
    options.fleet.reportPath = parser.value(QStringLiteral("report"));
    options.fleet.waitForPort = parser.isSet(QStringLiteral("wait"));
    options.fleet.loop = parser.isSet(QStringLiteral("loop"));
    options.trust = trustedKeys::fromFiles(parser.values(QStringLiteral("trust")));
    bool retriesOk = false;
    options.fleet.retries = parser.value(QStringLiteral("retries")).toInt(&retriesOk);
    retriesOk = retriesOk && options.fleet.retries >= 0 && options.fleet.retries <= kMaxRetries;
    const bool scaleOk = common::parseTimeScale(parser.value(QStringLiteral("time-scale")), &options.timeScale);
    const QString reportProblem =
        options.fleet.reportPath.isEmpty() ? QString() : unitRecord::checkAppendable(options.fleet.reportPath);
    QString problem;
    if (positional.size() != 1)
        problem = flashCommand::tr("give exactly one package");
    else if (options.language != QLatin1String("en") && options.language != QLatin1String("zh"))
        problem = flashCommand::tr("--lang takes en or zh");
    else if (!scaleOk)
        problem = flashCommand::tr("--time-scale takes a number above 0 and at most %1").arg(common::kMaxTimeScale);
    else if (!options.dryRun && (options.ports.isEmpty() || options.ports.contains(QString())))
        problem = flashCommand::tr("--port is needed (or --dry-run)");
    else if (!repeatedPort(options.ports).isEmpty())
        problem = flashCommand::tr("--port %1 is given twice").arg(repeatedPort(options.ports));
    else if (!options.trust.problems().isEmpty())
        problem = options.trust.problems().join(QLatin1Char('\n'));
    else if (!retriesOk)
        problem = flashCommand::tr("--retries takes a whole number from 0 to %1").arg(kMaxRetries);
    else if (options.dryRun && (options.fleet.loop || parser.isSet(QStringLiteral("report"))))
        problem = flashCommand::tr("--loop and --report flash units; a dry run flashes none");
    else if (parser.isSet(QStringLiteral("report")) && options.fleet.reportPath.isEmpty())
        problem = flashCommand::tr("--report needs a file name");
    else if (parser.isSet(QStringLiteral("station")) && options.station.trimmed().isEmpty())
        problem = flashCommand::tr("--station needs a name");
    else if (!reportProblem.isEmpty())
        problem = flashCommand::tr("cannot append to the report %1: %2").arg(options.fleet.reportPath, reportProblem);
    if (!problem.isEmpty()) {
        say(stderr, problem);
        say(stderr, flashCommand::tr("try --help"));
        return flashRun::UsageError;
    }
    options.packagePath = positional.first();
    addStandingTrust(options.trust, parser.isSet(QStringLiteral("require-signed")));
    return -1;
}

runFacts factsOf(const flashOptions &options, const packageBytes &package)
{
    runFacts facts;
    facts.version = QCoreApplication::applicationVersion();
    facts.host = QSysInfo::machineHostName();
    facts.station = options.station.isEmpty() ? facts.host : options.station;
    facts.packageName = QFileInfo(options.packagePath).fileName();
    facts.packageSha256 = package.sha256();
    return facts;
}

std::unique_ptr<flashOutput> makeOutput(const flashOptions &options)
{
    if (options.json)
        return std::make_unique<jsonOutput>(stdout);
    textOutput::options how;
    how.terminal = ::isatty(STDERR_FILENO) == 1;
    how.summary = options.ports.size() > 1 || options.fleet.loop;
    how.loop = options.fleet.loop;
    how.maxAttempts = 1 + options.fleet.retries;
    return std::make_unique<textOutput>(stdout, stderr, how);
}

// A dry run sends nothing, so one run stands for every port; its lines
// belong to the run as a whole.
int runDry(QCoreApplication &app, flashOutput &out, const flashOptions &options, const packageBytes &package)
{
    flashRun run(&out);
    const int opened = run.openPackage(package, options.only, options.trust);
    if (opened != flashRun::Success) {
        out.runEnded(opened, {});
        return opened;
    }
    signalWatcher watcher;
    watcher.install();
    QObject::connect(&watcher, &signalWatcher::caught, &run, &flashRun::interrupt);
    QObject::connect(&run, &flashRun::finished, &app, [&](int status) {
        if (status == flashRun::Success)
            out.logLine(-1, flashOutput::Level::Info, flashCommand::tr("dry run: nothing was sent"));
        out.runEnded(status, {});
        QCoreApplication::exit(status);
    });
    QTimer::singleShot(0, &run, &flashRun::startDryRun);
    return app.exec();
}

// The operator's typed lines in a station loop, each a request to start
// the next unit (see flashFleet::startNextOnRequest).
void listenToOperator(flashFleet &fleet)
{
#ifndef Q_OS_WIN
    auto *notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, &fleet);
    auto typed = std::make_shared<QByteArray>();
    QObject::connect(notifier, &QSocketNotifier::activated, &fleet, [notifier, typed, &fleet] {
        char buffer[256];
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) {
            notifier->setEnabled(false); // end of input: only the ports decide
            return;
        }
        typed->append(buffer, int(got));
        int end;
        while ((end = typed->indexOf('\n')) >= 0) {
            fleet.startNextOnRequest(QString::fromUtf8(typed->left(end)).trimmed());
            typed->remove(0, end + 1);
        }
    });
#else
    Q_UNUSED(fleet)
#endif
}

int runStation(QCoreApplication &app, flashOutput &out, const flashOptions &options, const runFacts &facts,
               const packageBytes &package)
{
    flashFleet fleet(&out, options.ports, options.fleet);
    fleet.setRunFacts(facts);
    const int opened = fleet.openPackage(package, options.only, options.trust);
    if (opened != flashRun::Success) {
        out.runEnded(opened, {});
        return opened;
    }
    signalWatcher watcher;
    watcher.install();
    QObject::connect(&watcher, &signalWatcher::caught, &fleet, &flashFleet::onInterrupt);
    QObject::connect(&fleet, &flashFleet::finished, &app, [](int status) { QCoreApplication::exit(status); });
    QTimer::singleShot(0, &fleet, [&fleet, loop = options.fleet.loop] {
        if (loop)
            listenToOperator(fleet);
        fleet.start();
    });
    return app.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(UPS_VERSION));
    QTranslator translator;
    if (requestedLanguage(app.arguments()) == QLatin1String("zh") && !loadChinese(translator))
        say(stderr, flashCommand::tr("warn: no Chinese translation beside the program; the log stays in English"));

    QCommandLineParser parser;
    describe(parser);
    flashOptions options;
    const int early = parseOptions(parser, options);
    if (early >= 0)
        return early;
    common::setTimeScale(options.timeScale);
    const std::unique_ptr<flashOutput> out = makeOutput(options);
    // Read once: the run's facts, the signature check and every image sent
    // come from these bytes.
    const packageBytes package = packageBytes::read(options.packagePath);
    const runFacts facts = factsOf(options, package);
    out->runStarted(facts, options.dryRun ? QStringList() : options.ports);
    if (options.dryRun)
        return runDry(app, *out, options, package);
    return runStation(app, *out, options, facts, package);
}
