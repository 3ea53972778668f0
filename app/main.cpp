#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLocale>
#include <QTranslator>

#include <cstdio>
#include <cstring>

#include "app/dialog.h"
#include "upsversion.h"
#include "util/places.h"

// The texts of the window's command line.
class windowCommand
{
    Q_DECLARE_TR_FUNCTIONS(windowCommand)
};

namespace {

// --help and --version are answered without a display: they are looked for in
// the raw arguments, before a QApplication (which needs one) is made.
bool asksForText(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const char *argument = argv[i];
        if (std::strcmp(argument, "--") == 0)
            return false;
        for (const char *text : {"--help", "-h", "-?", "--help-all", "--version", "-v"}) {
            if (std::strcmp(argument, text) == 0)
                return true;
        }
    }
    return false;
}

// The window keeps its language in its settings; its command line follows
// the language of the session (LANGUAGE, LC_ALL, LC_MESSAGES, LANG).
bool sessionIsChinese()
{
    const QStringList languages = QLocale::system().uiLanguages();
    return !languages.isEmpty() && languages.first().startsWith(QLatin1String("zh"));
}

int answerText(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(UPS_VERSION));
    QTranslator translator;
    if (sessionIsChinese() && translator.load(places::translationFile()))
        QCoreApplication::installTranslator(&translator);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        windowCommand::tr("Opens the window of the UPS firmware updater: pick a firmware package, tick the\n"
                          "images to send, choose the serial port and start the update. The window takes\n"
                          "no other arguments and needs a display. For scripts, production lines and\n"
                          "machines without a display, ups-flash does the same update on the command line."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.parse(QCoreApplication::arguments()); // only --help and --version are answered here
    QString text;
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all")))
        text = parser.helpText();
    else if (parser.isSet(version))
        text = QCoreApplication::applicationName() + QLatin1Char(' ') + QCoreApplication::applicationVersion()
            + QLatin1Char('\n');
    std::fputs(text.toUtf8().constData(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (asksForText(argc, argv))
        return answerText(argc, argv);
    QApplication app(argc, argv);
    int code = 0;
    {
        Dialog window;
        window.show();
        code = app.exec();
    }
    return code;
}
