#include "tools/flash/unitrecord.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QRegularExpression>
#include <QSerialPortInfo>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

bool syncToDisk(QFile &file)
{
#ifdef Q_OS_WIN
    return ::_commit(file.handle()) == 0;
#else
    return ::fsync(file.handle()) == 0;
#endif
}

// The USB device folder in sysfs behind a tty: ".../usb1/1-1/1-1.4/1-1.4:1.0/
// ttyUSB0" is the adapter's interface, "1-1.4" its place on the bus and the
// folder before it the device with its "serial". Read straight from sysfs:
// listing every port of the system would block the event loop that the
// other units' transfers run in.
adapterFacts usbFactsFromSysfs(const QString &ttyName)
{
    static const QRegularExpression usbInterface(QStringLiteral("^(\\d+-[\\d.]+):\\d+\\.\\d+$"));
    const QString device = QFileInfo(QStringLiteral("/sys/class/tty/%1/device").arg(ttyName)).canonicalFilePath();
    QStringList parts = device.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    adapterFacts facts;
    for (int i = parts.size() - 1; i > 0; --i) {
        const QRegularExpressionMatch match = usbInterface.match(parts.at(i));
        if (!match.hasMatch())
            continue;
        facts.location = match.captured(1);
        QFile serial(QLatin1Char('/') + parts.mid(0, i).join(QLatin1Char('/')) + QStringLiteral("/serial"));
        if (serial.open(QIODevice::ReadOnly))
            facts.serialNumber = QString::fromUtf8(serial.readAll()).trimmed();
        break;
    }
    return facts;
}

} // namespace

int unitAttempt::imagesPassed() const
{
    int passed = 0;
    for (const imageOutcome &image : images)
        passed += image.result == QLatin1String("passed") ? 1 : 0;
    return passed;
}

adapterFacts adapterFacts::of(const QString &portName)
{
    const QString canonical = QFileInfo(portName).canonicalFilePath();
#ifdef Q_OS_LINUX
    return usbFactsFromSysfs(QFileInfo(canonical.isEmpty() ? portName : canonical).fileName());
#else
    const QSerialPortInfo info(canonical.isEmpty() ? portName : canonical);
    adapterFacts facts;
    if (!info.isNull() && info.hasVendorIdentifier())
        facts.serialNumber = info.serialNumber(); // the bus position is not told here
    return facts;
#endif
}

namespace unitRecord {

QJsonValue textOrNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

QString timeText(const QDateTime &utc)
{
    return utc.isValid() ? utc.toUTC().toString(Qt::ISODateWithMs) : QString();
}

QJsonObject imageJson(const imageOutcome &image)
{
    return QJsonObject {{QStringLiteral("name"), image.name},
                        {QStringLiteral("sha256"), textOrNull(image.sha256)},
                        {QStringLiteral("bytes"), image.bytes},
                        {QStringLiteral("result"), image.result},
                        {QStringLiteral("reason"), textOrNull(image.reason)}};
}

QJsonObject reportJson(const runFacts &run, const QString &port, const adapterFacts &adapter,
                       const unitAttempt &attempt)
{
    QJsonArray images;
    for (const imageOutcome &image : attempt.images)
        images.append(imageJson(image));
    return QJsonObject {{QStringLiteral("schema"), kSchemaVersion},
                        {QStringLiteral("tool"), run.tool},
                        {QStringLiteral("version"), run.version},
                        {QStringLiteral("host"), run.host},
                        {QStringLiteral("station"), run.station},
                        {QStringLiteral("package"), run.packageName},
                        {QStringLiteral("package_sha256"), textOrNull(run.packageSha256)},
                        {QStringLiteral("model"), attempt.model},
                        {QStringLiteral("port"), port},
                        {QStringLiteral("usb_serial"), textOrNull(adapter.serialNumber)},
                        {QStringLiteral("usb_location"), textOrNull(adapter.location)},
                        {QStringLiteral("unit"), attempt.unit},
                        {QStringLiteral("attempt"), attempt.attempt},
                        {QStringLiteral("start"), timeText(attempt.start)},
                        {QStringLiteral("end"), timeText(attempt.end)},
                        {QStringLiteral("images"), images},
                        {QStringLiteral("result"), attempt.result},
                        {QStringLiteral("reason"), textOrNull(attempt.reason)},
                        {QStringLiteral("last_line"), textOrNull(attempt.lastLine)}};
}

QString fileSha256(const QString &path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return QString();
    return QString::fromLatin1(hash.result().toHex());
}

QString checkAppendable(const QString &path)
{
    if (QFileInfo(path).isDir())
        return QStringLiteral("it is a folder");
    QFile file(path);
    return file.open(QIODevice::ReadWrite | QIODevice::Append) ? QString() : file.errorString();
}

QString appendLine(const QString &path, const QByteArray &line)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered))
        return file.errorString();
    QByteArray whole = line + '\n';
    char last = '\n';
    if (file.size() > 0 && (!file.seek(file.size() - 1) || !file.getChar(&last)))
        return file.errorString();
    if (last != '\n')
        whole.prepend('\n');
    if (file.write(whole) != whole.size())
        return file.errorString();
    if (!syncToDisk(file))
        return QStringLiteral("the line could not be synced to the disk");
    return QString();
}

} // namespace unitRecord
