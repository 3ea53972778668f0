// Every text that the sources pass through tr() must have a finished Chinese
// translation, and the built translation file must carry them. The sources
// are scanned afresh with lupdate, so a new text without a translation fails
// here instead of showing up in English in a Chinese window.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTranslator>
#include <QXmlStreamReader>
#include <QtTest>

#include "util/qtcompat.h"

namespace {
struct Entry
{
    QString translation;
    bool finished = false;
};
// context -> source text -> entry
using Catalogue = QMap<QString, QMap<QString, Entry>>;

const QStringList kSourceDirs {"app",    "model",    "package", "update",     "util",
                               "serial", "protocol", "station", "stationapp", "tools"};
const QStringList kContexts {
    "Dialog", "filesUpdate", "settingsFile", "objectFile", "serialport", "progress", "progress1", "zip",
    "packageSignature", "trustedKeys", "ownFiles", "regularFile", "updateEngine",
    // the programs beside the window
    "flashCommand", "flashRun", "flashFleet", "textOutput", "progressMeter", "unitRecord", "packCommand", "packTool",
    "sampleMaker", "simCommand", "unitServer", "simulatedUnit", "firstUnit", "secondUnit", "QCommandLineParser",
    // the window's command line (--help, --version)
    "windowCommand",
    // the station window and its profile
    "stationProfile", "stationWindow", "slotTile", "setupDialog", "stationCommand", "failureWords"};

// The placeholders a text fills in (%1, %2, ...), each once.
QStringList placeholdersOf(const QString &text)
{
    static const QRegularExpression placeholder(QStringLiteral("%\\d+"));
    QStringList found;
    for (auto it = placeholder.globalMatch(text); it.hasNext();)
        found << it.next().captured();
    found.removeDuplicates();
    found.sort();
    return found;
}

QString sourceRoot()
{
    return QFileInfo(QStringLiteral(__FILE__)).absoluteDir().absoluteFilePath(QStringLiteral(".."));
}

QString findLupdate()
{
    const QString beside = qtcompat::qtBinariesPath() + QStringLiteral("/lupdate");
    if (QFileInfo(beside).isExecutable())
        return beside;
    return QStandardPaths::findExecutable(QStringLiteral("lupdate"));
}

void readMessage(QXmlStreamReader &xml, const QString &context, Catalogue &out)
{
    QString source;
    Entry entry;
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("source")) {
            source = xml.readElementText();
        } else if (xml.name() == QLatin1String("translation")) {
            const QString type = xml.attributes().value(QLatin1String("type")).toString();
            entry.finished = type.isEmpty();
            entry.translation = xml.readElementText();
        } else {
            xml.skipCurrentElement();
        }
    }
    out[context][source] = entry;
}

void readContext(QXmlStreamReader &xml, Catalogue &out)
{
    QString context;
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("name"))
            context = xml.readElementText();
        else if (xml.name() == QLatin1String("message"))
            readMessage(xml, context, out);
        else
            xml.skipCurrentElement();
    }
}

bool readCatalogue(const QString &path, Catalogue &out)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QXmlStreamReader xml(&file);
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("TS"))
        return false;
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("context"))
            readContext(xml, out);
        else
            xml.skipCurrentElement();
    }
    return !xml.hasError();
}
} // namespace

class TestTranslations : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void everySourceTextIsTranslated_data();
    void everySourceTextIsTranslated();
    void translationsKeepPlaceholdersAndLineEnds();
    void builtFileMatchesSource();
    void builtFileTranslates_data();
    void builtFileTranslates();

private:
    QTemporaryDir scratch;
    Catalogue scanned;
    Catalogue committed;
};

void TestTranslations::initTestCase()
{
    const QString lupdate = findLupdate();
    QVERIFY2(!lupdate.isEmpty(), "lupdate not found");
    QVERIFY(scratch.isValid());
    const QString scanPath = scratch.filePath(QStringLiteral("scan.ts"));

    QProcess process;
    process.setWorkingDirectory(sourceRoot());
    // With the source root on the include path lupdate sees every class.
    const QStringList options {"-I", sourceRoot(), "-no-obsolete", "-locations", "none", "-silent"};
    process.start(lupdate, options + kSourceDirs + QStringList {"-ts", scanPath});
    QVERIFY(process.waitForFinished(60000));
    QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());

    QVERIFY(readCatalogue(scanPath, scanned));
    QVERIFY(readCatalogue(sourceRoot() + QStringLiteral("/translations/ups_zh.ts"), committed));
    for (const QString &context : kContexts)
        QVERIFY2(scanned.contains(context), qPrintable(context + QStringLiteral(" has no texts")));
}

void TestTranslations::everySourceTextIsTranslated_data()
{
    QTest::addColumn<QString>("context");
    for (auto it = scanned.cbegin(); it != scanned.cend(); ++it)
        QTest::newRow(qPrintable(it.key())) << it.key();
}

void TestTranslations::everySourceTextIsTranslated()
{
    QFETCH(QString, context);
    QStringList untranslated;
    const auto sources = scanned.value(context);
    const auto translations = committed.value(context);
    for (auto it = sources.cbegin(); it != sources.cend(); ++it) {
        const Entry entry = translations.value(it.key());
        if (!translations.contains(it.key()) || !entry.finished || entry.translation.trimmed().isEmpty())
            untranslated << it.key();
    }
    QVERIFY2(untranslated.isEmpty(), qPrintable(untranslated.join(QStringLiteral(" | "))));
}

void TestTranslations::translationsKeepPlaceholdersAndLineEnds()
{
    QStringList broken;
    for (auto context = committed.cbegin(); context != committed.cend(); ++context) {
        for (auto it = context->cbegin(); it != context->cend(); ++it) {
            const QString &source = it.key();
            const QString &target = it->translation;
            const bool lineEnd = source.endsWith(QLatin1Char('\n')) == target.endsWith(QLatin1Char('\n'));
            const bool leadingSpaces = source.startsWith(QLatin1Char(' ')) == target.startsWith(QLatin1Char(' '));
            const bool placeholders = placeholdersOf(source) == placeholdersOf(target);
            const bool lines = source.count(QLatin1Char('\n')) == target.count(QLatin1Char('\n'));
            if (!lineEnd || !leadingSpaces || !placeholders || !lines)
                broken << context.key() + QLatin1Char('/') + source;
        }
    }
    QVERIFY2(broken.isEmpty(), qPrintable(broken.join(QStringLiteral(" | "))));
}

void TestTranslations::builtFileMatchesSource()
{
    QTranslator chinese;
    QVERIFY(chinese.load(QCoreApplication::applicationDirPath() + QStringLiteral("/ups_zh.qm")));
    QStringList stale;
    for (auto context = committed.cbegin(); context != committed.cend(); ++context) {
        const QByteArray name = context.key().toUtf8();
        for (auto it = context->cbegin(); it != context->cend(); ++it) {
            const QByteArray source = it.key().toUtf8();
            if (chinese.translate(name.constData(), source.constData()) != it->translation)
                stale << context.key() + QLatin1Char('/') + it.key();
        }
    }
    QVERIFY2(stale.isEmpty(), qPrintable(stale.join(QStringLiteral(" | "))));
}

void TestTranslations::builtFileTranslates_data()
{
    QTest::addColumn<QString>("context");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("expected");

    QTest::newRow("window label") << "Dialog"
                                  << "updating file:"
                                  << "升级包：";
    QTest::newRow("window header with its own spelling") << "Dialog"
                                                         << "opration"
                                                         << "勾选";
    QTest::newRow("queue end of run") << "filesUpdate"
                                      << "update finished!"
                                      << "全部升级完成！";
    QTest::newRow("translation line keeps its line feed") << "objectFile"
                                                          << "translating success!\n"
                                                          << "转换成功！\n";
    QTest::newRow("warning box title") << "serialport"
                                       << "warn"
                                       << "警告";
    QTest::newRow("warning box button") << "serialport"
                                        << "sure"
                                        << "确定";
    QTest::newRow("first engine, source typo") << "progress"
                                               << "erea success!"
                                               << "擦除成功！";
    QTest::newRow("second engine retry count") << "progress1"
                                               << "timeout, retry %1...\n"
                                               << "超时，第%1次重试...\n";
    QTest::newRow("same text, other context") << "progress1"
                                              << "updating success!"
                                              << "升级成功！";
    QTest::newRow("last frame sent is not done") << "progress1"
                                                 << "updating finished!"
                                                 << "数据发送完毕！";
    QTest::newRow("package refusal with its reason") << "zip"
                                                     << "%1 cannot be sent: %2"
                                                     << "%1 无法发送：%2";
    QTest::newRow("flasher retry line") << "textOutput"
                                        << "attempt %1 %2: trying again"
                                        << "第 %1 次尝试%2：正在重试";
    QTest::newRow("flasher help, the parser's own heading") << "QCommandLineParser"
                                                            << "Options:"
                                                            << "选项：";
}

void TestTranslations::builtFileTranslates()
{
    QFETCH(QString, context);
    QFETCH(QString, source);
    QFETCH(QString, expected);
    QTranslator chinese;
    QVERIFY(chinese.load(QCoreApplication::applicationDirPath() + QStringLiteral("/ups_zh.qm")));
    QVERIFY(QCoreApplication::installTranslator(&chinese));
    const QString shown = QCoreApplication::translate(context.toUtf8().constData(), source.toUtf8().constData());
    QCoreApplication::removeTranslator(&chinese);
    QCOMPARE(shown, expected);
}

QTEST_MAIN(TestTranslations)
#include "test_translations.moc"
