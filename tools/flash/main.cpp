// ups-flash: the window's update without the window, for scripts and
// production lines.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QSet>
#include <QTimer>
#include <QTranslator>

#include <cstdio>
#include <unistd.h>

#include "tools/flash/flashfleet.h"
#include "tools/flash/flashrun.h"
#include "tools/flash/progressmeter.h"
#include "tools/support/signalwatcher.h"
#include "upsversion.h"
#include "util/common.h"

namespace {

const char kContext[] = "ups-flash";

QString text(const char *source)
{
    return QCoreApplication::translate(kContext, source);
}

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
    QString language = QStringLiteral("en");
    double timeScale = 1.0;
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
    const QString qm = QCoreApplication::applicationDirPath() + QStringLiteral("/ups_zh.qm");
    if (!translator.load(qm))
        return false;
    QCoreApplication::installTranslator(&translator);
    return true;
}

void describe(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        text("Unpacks and checks a firmware package and sends its images to a unit's boot loader.\n"
             "With several --port, every unit gets the package at once, each line carries\n"
             "the port's name, and a summary table ends the run.\n"
             "Exit status: 0 update finished (on every unit), 1 an image failed (on any\n"
             "unit), 2 usage error, unreadable package or no image to send, 130 interrupted.\n"
             "The byte trace of the line and the engines shows with\n"
             "QT_LOGGING_RULES=\"ups.*.debug=true\"."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(
        {QStringLiteral("port"),
         text("Serial device to use (e.g. /dev/ttyUSB0, COM3, a pty); repeat it to flash several units at once."),
         QStringLiteral("PORT")});
    parser.addOption({QStringLiteral("only"), text("Send only the images whose file name contains NAME (repeatable)."),
                      QStringLiteral("NAME")});
    parser.addOption(
        {QStringLiteral("dry-run"), text("Unpack, check and translate, list what would be sent, open no port.")});
    parser.addOption(
        {QStringLiteral("lang"), text("Language of the log: en or zh."), QStringLiteral("LANG"), QStringLiteral("en")});
    parser.addOption({QStringLiteral("time-scale"),
                      text("Scale every protocol pause and timeout by F (above 0, at most 100). For simulated "
                           "units only: a real unit needs the exact timing (1.0)."),
                      QStringLiteral("F"), QStringLiteral("1.0")});
    parser.addPositionalArgument(QStringLiteral("PACKAGE.zip"), text("The firmware package."));
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

// Fills options; returns -1 to go on, otherwise the exit status.
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
    const bool scaleOk = common::parseTimeScale(parser.value(QStringLiteral("time-scale")), &options.timeScale);
    QString problem;
    if (positional.size() != 1)
        problem = text("give exactly one package");
    else if (options.language != QLatin1String("en") && options.language != QLatin1String("zh"))
        problem = text("--lang takes en or zh");
    else if (!scaleOk)
        problem = text("--time-scale takes a number above 0 and at most %1").arg(common::kMaxTimeScale);
    else if (!options.dryRun && (options.ports.isEmpty() || options.ports.contains(QString())))
        problem = text("--port is needed (or --dry-run)");
    else if (!repeatedPort(options.ports).isEmpty())
        problem = text("--port %1 is given twice").arg(repeatedPort(options.ports));
    if (!problem.isEmpty()) {
        say(stderr, problem);
        say(stderr, text("try --help"));
        return flashRun::UsageError;
    }
    options.packagePath = positional.first();
    return -1;
}

// One unit, or a dry run: the ports, if any, stay unused.
int runOne(QCoreApplication &app, const flashOptions &options)
{
    progressMeter meter(stderr, ::isatty(STDERR_FILENO) == 1);
    flashRun run(stdout, stderr, &meter);
    const int opened = run.openPackage(options.packagePath, options.only);
    if (opened != flashRun::Success)
        return opened;

    signalWatcher watcher;
    watcher.install();
    QObject::connect(&watcher, &signalWatcher::caught, &run, &flashRun::onInterrupt);
    QObject::connect(&run, &flashRun::finished, &app, [&](int status) {
        if (options.dryRun && status == flashRun::Success)
            say(stdout, text("dry run: nothing was sent"));
        QCoreApplication::exit(status);
    });
    QTimer::singleShot(0, &run, [&] {
        if (options.dryRun)
            run.startDryRun();
        else
            run.start(options.ports.value(0));
    });
    return app.exec();
}

int runSeveral(QCoreApplication &app, const flashOptions &options)
{
    flashFleet fleet(stdout, stderr, options.ports);
    const int opened = fleet.openPackage(options.packagePath, options.only);
    if (opened != flashRun::Success)
        return opened;

    signalWatcher watcher;
    watcher.install();
    QObject::connect(&watcher, &signalWatcher::caught, &fleet, &flashFleet::onInterrupt);
    QObject::connect(&fleet, &flashFleet::finished, &app, [](int status) { QCoreApplication::exit(status); });
    QTimer::singleShot(0, &fleet, &flashFleet::start);
    return app.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(UPS_VERSION));
    QTranslator translator;
    if (requestedLanguage(app.arguments()) == QLatin1String("zh") && !loadChinese(translator))
        say(stderr, text("warn: no Chinese translation beside the program; the log stays in English"));

    QCommandLineParser parser;
    describe(parser);
    flashOptions options;
    const int early = parseOptions(parser, options);
    if (early >= 0)
        return early;
    common::setTimeScale(options.timeScale);
    // A dry run sends nothing, so one run stands for every port.
    if (options.ports.size() > 1 && !options.dryRun)
        return runSeveral(app, options);
    return runOne(app, options);
}
