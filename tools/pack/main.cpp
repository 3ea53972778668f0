// ups-pack: builds, checks and samples firmware packages.
#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

#include "tools/pack/packtool.h"
#include "upsversion.h"

// The texts of the command line.
class packCommand
{
    Q_DECLARE_TR_FUNCTIONS(packCommand)
};

namespace {

void describe(QCommandLineParser &parser)
{
    parser.setApplicationDescription(packCommand::tr(
        "ups-pack OUT.zip IMAGE...                  write a package, each image with its SHA-256 trailer\n"
        "ups-pack --sign NAME.key OUT.zip IMAGE...  the same, signed: one more member, SIGNATURE\n"
        "ups-pack --keygen NAME                     write a signing key pair NAME.key and NAME.pub\n"
        "ups-pack --verify [--trust K.pub]... PACKAGE.zip\n"
        "                                           report each member's trailer and the signature\n"
        "ups-pack --make-sample DIR                 write sample packages for both models into DIR\n"
        "Exit status: 0 done, 1 a bad member or signature, 2 usage error or unreadable input."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("verify"), packCommand::tr("Check the trailers of PACKAGE.zip in memory.")});
    parser.addOption({QStringLiteral("sign"), packCommand::tr("Sign the package with the secret key in FILE."),
                      QStringLiteral("FILE")});
    parser.addOption({QStringLiteral("keygen"), packCommand::tr("Write a new key pair NAME.key and NAME.pub.")});
    parser.addOption({QStringLiteral("trust"),
                      packCommand::tr("With --verify: a public key to check the signature with."),
                      QStringLiteral("FILE.pub")});
    parser.addOption({QStringLiteral("make-sample"),
                      packCommand::tr("Write ups_5-10k.zip, ups_15-20k.zip, images/ and expected/ into DIR.")});
    parser.addPositionalArgument(QStringLiteral("ARGS"), packCommand::tr("OUT.zip IMAGE..., PACKAGE.zip or DIR"));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(UPS_VERSION));
    QCommandLineParser parser;
    describe(parser);
    const auto usage = [&](const QString &problem) {
        std::fprintf(stderr, "%s\n%s", problem.toUtf8().constData(), parser.helpText().toUtf8().constData());
        return int(packTool::UsageError);
    };
    if (!parser.parse(app.arguments()))
        return usage(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(parser.helpText().toUtf8().constData(), stdout);
        return packTool::Success;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        const QString version = QCoreApplication::applicationName() + QLatin1Char(' ')
            + QCoreApplication::applicationVersion() + QLatin1Char('\n');
        std::fputs(version.toUtf8().constData(), stdout);
        return packTool::Success;
    }
    QStringList args = parser.positionalArguments();
    const bool verify = parser.isSet(QStringLiteral("verify"));
    const bool sample = parser.isSet(QStringLiteral("make-sample"));
    const bool keygen = parser.isSet(QStringLiteral("keygen"));
    const bool sign = parser.isSet(QStringLiteral("sign"));
    packTool tool(stdout, stderr);
    if (int(verify) + int(sample) + int(keygen) + int(sign) > 1)
        return usage(packCommand::tr("--verify, --make-sample, --keygen and --sign exclude each other"));
    if (parser.isSet(QStringLiteral("trust")) && !verify)
        return usage(packCommand::tr("--trust goes with --verify"));
    if (verify || sample || keygen) {
        if (args.size() != 1)
            return usage(packCommand::tr("give exactly one argument"));
        if (keygen)
            return tool.makeKeys(args.first());
        return verify ? tool.verify(args.first(), parser.values(QStringLiteral("trust")))
                      : tool.makeSample(args.first());
    }
    if (args.size() < 2)
        return usage(packCommand::tr("give the package and at least one image"));
    const QString out = args.takeFirst();
    return tool.build(out, args, sign ? parser.value(QStringLiteral("sign")) : QString());
}
