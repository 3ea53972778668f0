// ups-station: the operator's window of a production or repair bench, over
// the station library; its set-up comes from a profile an engineer wrote.
#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <QTimer>
#include <QTranslator>

#include <cstdio>
#include <cstring>

#include "station/flashrun.h"
#include "stationapp/setupdialog.h"
#include "stationapp/stationwindow.h"
#include "update/common.h"
#include "upsversion.h"
#include "util/places.h"

// The texts of the station's command line.
class stationCommand
{
    Q_DECLARE_TR_FUNCTIONS(stationCommand)
};

namespace {

void say(const QString &line)
{
    std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), stderr);
}

// The language is known before any text is made: read from the raw
// arguments.
bool wantsChinese(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--lang=zh") == 0
            || (std::strcmp(argv[i], "--lang") == 0 && i + 1 < argc && std::strcmp(argv[i + 1], "zh") == 0))
            return true;
    }
    return false;
}

// --help and --version are answered without a display.
bool asksForText(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        for (const char *text : {"--help", "-h", "--help-all", "--version", "-v"}) {
            if (std::strcmp(argv[i], text) == 0)
                return true;
        }
    }
    return false;
}

void describe(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        stationCommand::tr("The operator's window of a flashing station: a tile per slot with PASS or FAIL,\n"
                           "counters and yield, over the profile an engineer prepared (see --setup).\n"
                           "Every attempt is one line in the profile's report, as with ups-flash."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("profile"), stationCommand::tr("Open the station profile FILE.ini."),
                      QStringLiteral("FILE.ini")});
    parser.addOption({QStringLiteral("setup"),
                      stationCommand::tr("Open the set-up dialog that writes the station profile FILE.ini."),
                      QStringLiteral("FILE.ini")});
    parser.addOption({QStringLiteral("lang"), stationCommand::tr("Language of the window: en or zh."),
                      QStringLiteral("LANG"), QStringLiteral("en")});
    parser.addOption(
        {QStringLiteral("time-scale"),
         stationCommand::tr("Scale every protocol pause and timeout by F (above 0, at most 100). For simulated "
                            "units only: a real unit needs the exact timing (1.0)."),
         QStringLiteral("F"), QStringLiteral("1.0")});
}

int refuse(const QString &problem, bool window)
{
    say(problem);
    if (window)
        QMessageBox::critical(nullptr, stationCommand::tr("UPS station"), problem);
    return flashRun::UsageError;
}

int runStation(const QString &path)
{
    stationProfile profile;
    QString problem;
    if (!stationProfile::load(path, &profile, &problem))
        return refuse(problem, true);
    stationWindow window;
    if (!window.open(profile, path, &problem))
        return refuse(problem, true);
    window.resize(1280, 800);
    window.show();
    QTimer::singleShot(0, &window, &stationWindow::start);
    return QApplication::exec();
}

} // namespace

int main(int argc, char *argv[])
{
    const bool textOnly = asksForText(argc, argv);
    QScopedPointer<QCoreApplication> app(textOnly ? new QCoreApplication(argc, argv) : new QApplication(argc, argv));
    QCoreApplication::setApplicationVersion(QStringLiteral(UPS_VERSION));
    QTranslator translator;
    if (wantsChinese(argc, argv) && translator.load(places::translationFile()))
        QCoreApplication::installTranslator(&translator);
    QCommandLineParser parser;
    describe(parser);
    if (!parser.parse(QCoreApplication::arguments()))
        return refuse(parser.errorText(), false);
    const bool help = parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"));
    if (help || parser.isSet(QStringLiteral("version"))) {
        const QString text = help ? parser.helpText()
                                  : QCoreApplication::applicationName() + QLatin1Char(' ')
                + QCoreApplication::applicationVersion() + QLatin1Char('\n');
        std::fputs(text.toUtf8().constData(), stdout);
        return 0;
    }
    double scale = 1.0;
    const QString language = parser.value(QStringLiteral("lang"));
    if (language != QLatin1String("en") && language != QLatin1String("zh"))
        return refuse(stationCommand::tr("--lang takes en or zh"), false);
    if (!common::parseTimeScale(parser.value(QStringLiteral("time-scale")), &scale))
        return refuse(
            stationCommand::tr("--time-scale takes a number above 0 and at most %1").arg(common::kMaxTimeScale), false);
    common::setTimeScale(scale);
    if (parser.isSet(QStringLiteral("setup")))
        return setupDialog(parser.value(QStringLiteral("setup"))).exec() == QDialog::Accepted ? 0 : 1;
    if (!parser.isSet(QStringLiteral("profile")))
        return refuse(stationCommand::tr("give --profile FILE.ini (or --setup FILE.ini to write one)"), false);
    return runStation(parser.value(QStringLiteral("profile")));
}
