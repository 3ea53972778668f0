#include "station/stationprofile.h"

#include <QDir>

#include <algorithm>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>
#include <QStringList>

#include "util/regularfile.h"

namespace {

const QString kPackage = QStringLiteral("package");
const QString kReport = QStringLiteral("report");
const QString kRetries = QStringLiteral("retries");
const QString kRequireSignature = QStringLiteral("require-signature");
const QString kTrustedKeys = QStringLiteral("trusted-keys");
const QString kStart = QStringLiteral("start");
const QString kSerial = QStringLiteral("serial");
const QString kSlotPrefix = QStringLiteral("slot.");

const QStringList kStartNames {QStringLiteral("on-connect"), QStringLiteral("manual")};
const QStringList kSerialNames {QStringLiteral("none"), QStringLiteral("optional"), QStringLiteral("required")};
const QStringList kOn {QStringLiteral("true"), QStringLiteral("yes"), QStringLiteral("on"), QStringLiteral("1")};
const QStringList kOff {QStringLiteral("false"), QStringLiteral("no"), QStringLiteral("off"), QStringLiteral("0")};

QString absoluteIn(const QString &folder, const QString &path)
{
    return QDir::cleanPath(QDir(folder).absoluteFilePath(path));
}

// Two spellings of one device (a by-id link and the node) are one port.
QString deviceOf(const QString &port)
{
    const QString target = QFileInfo(port).canonicalFilePath();
    return target.isEmpty() ? port : target;
}

} // namespace

bool stationProfile::load(const QString &path, stationProfile *profile, QString *problem)
{
    QByteArray bytes;
    QString why;
    if (!regularFile::read(path, kMaxFileBytes, &bytes, &why)) {
        *problem = tr("the profile %1 cannot be read: %2").arg(path, why);
        return false;
    }
    stationProfile read;
    const QString folder = QFileInfo(path).absolutePath();
    QSet<QString> seen;
    const QStringList lines = QString::fromUtf8(bytes).split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines.at(i).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')) || line.startsWith(QLatin1Char(';'))
            || line == QLatin1String("[station]"))
            continue;
        const int equals = line.indexOf(QLatin1Char('='));
        const QString key = line.left(equals).trimmed();
        if (equals <= 0) {
            *problem = tr("%1, line %2: not KEY = VALUE").arg(path).arg(i + 1);
            return false;
        }
        if (seen.contains(key)) {
            *problem = tr("%1: %2 is given twice").arg(path, key);
            return false;
        }
        seen.insert(key);
        QString reason;
        if (!read.take(key, line.mid(equals + 1).trimmed(), folder, &reason)) {
            *problem = tr("%1: %2: %3").arg(path, key, reason);
            return false;
        }
    }
    QString reason;
    if (!read.check(&reason)) {
        *problem = tr("%1: %2").arg(path, reason);
        return false;
    }
    std::sort(read.slotList.begin(), read.slotList.end(),
              [](const slot &a, const slot &b) { return a.number < b.number; });
    *profile = read;
    return true;
}

bool stationProfile::take(const QString &key, const QString &value, const QString &folder, QString *problem)
{
    if (key.startsWith(kSlotPrefix))
        return takeSlot(key, value, problem);
    if (value.isEmpty() && key != kTrustedKeys) {
        *problem = tr("has no value");
        return false;
    }
    if (key == kPackage) {
        package = absoluteIn(folder, value);
    } else if (key == kReport) {
        report = absoluteIn(folder, value);
    } else if (key == kTrustedKeys) {
        trustedKeys = value.isEmpty() ? QString() : absoluteIn(folder, value);
    } else if (key == kRetries) {
        bool ok = false;
        retries = value.toInt(&ok);
        if (!ok || retries < 0 || retries > kMaxRetries) {
            *problem = tr("\"%1\" is not a whole number from 0 to %2").arg(value).arg(kMaxRetries);
            return false;
        }
    } else if (key == kRequireSignature) {
        const QString word = value.toLower();
        if (!kOn.contains(word) && !kOff.contains(word)) {
            *problem = tr("\"%1\" is neither true nor false").arg(value);
            return false;
        }
        requireSignature = kOn.contains(word);
    } else if (key == kStart || key == kSerial) {
        const QStringList &names = key == kStart ? kStartNames : kSerialNames;
        const int index = names.indexOf(value.toLower());
        if (index < 0) {
            *problem = tr("\"%1\" is not one of %2").arg(value, names.join(QStringLiteral(", ")));
            return false;
        }
        if (key == kStart)
            start = Start(index);
        else
            serial = Serial(index);
    } else {
        *problem =
            tr("unknown key (the keys are %1, slot.N)")
                .arg(QStringList {kPackage, kReport, kRetries, kRequireSignature, kTrustedKeys, kStart, kSerial}.join(
                    QStringLiteral(", ")));
        return false;
    }
    return true;
}

bool stationProfile::takeSlot(const QString &key, const QString &value, QString *problem)
{
    bool ok = false;
    const int number = key.mid(kSlotPrefix.size()).toInt(&ok);
    if (!ok || number < 1 || number > kMaxSlots || key != kSlotPrefix + QString::number(number)) {
        *problem = tr("a slot is slot.N, N from 1 to %1").arg(kMaxSlots);
        return false;
    }
    if (value.isEmpty()) {
        *problem = tr("names no port");
        return false;
    }
    slotList.append({number, value});
    return true;
}

// What only the whole profile tells: what must be there, and one device per slot.
bool stationProfile::check(QString *problem) const
{
    if (package.isEmpty() || report.isEmpty() || slotList.isEmpty()) {
        const QString missing = package.isEmpty() ? kPackage : report.isEmpty() ? kReport : QStringLiteral("slot.1");
        *problem = tr("%1 is missing").arg(missing);
        return false;
    }
    if (!QFileInfo(package).isFile()) {
        *problem = tr("package: %1 is not there").arg(package);
        return false;
    }
    if (!trustedKeys.isEmpty() && !QFileInfo(trustedKeys).isDir()) {
        *problem = tr("trusted-keys: %1 is not a folder").arg(trustedKeys);
        return false;
    }
    for (int i = 0; i < slotList.size(); ++i) {
        for (int j = 0; j < i; ++j) {
            if (deviceOf(slotList.at(i).port) == deviceOf(slotList.at(j).port)) {
                *problem = tr("slot.%1 and slot.%2 name the same port %3")
                               .arg(slotList.at(j).number)
                               .arg(slotList.at(i).number)
                               .arg(slotList.at(i).port);
                return false;
            }
        }
    }
    return true;
}

QString stationProfile::text() const
{
    QStringList lines {QStringLiteral("[station]"),
                       kPackage + QStringLiteral(" = ") + package,
                       kReport + QStringLiteral(" = ") + report,
                       kRetries + QStringLiteral(" = ") + QString::number(retries),
                       kRequireSignature + QStringLiteral(" = ")
                           + (requireSignature ? QStringLiteral("true") : QStringLiteral("false")),
                       kStart + QStringLiteral(" = ") + kStartNames.at(int(start)),
                       kSerial + QStringLiteral(" = ") + kSerialNames.at(int(serial))};
    if (!trustedKeys.isEmpty())
        lines << kTrustedKeys + QStringLiteral(" = ") + trustedKeys;
    for (const slot &each : slotList)
        lines << kSlotPrefix + QString::number(each.number) + QStringLiteral(" = ") + each.port;
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

bool stationProfile::save(const QString &path, QString *problem) const
{
    QSaveFile file(path);
    const QByteArray bytes = text().toUtf8();
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    *problem = tr("the profile %1 cannot be written: %2").arg(path, file.errorString());
    return false;
}
