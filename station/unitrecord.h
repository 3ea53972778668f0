#ifndef UNITRECORD_H
#define UNITRECORD_H

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

#include "station/outcome.h"

// What one attempt at one unit did, image by image: the report's line and
// the events are both made from it.
struct imageOutcome
{
    QString name;   // the package member's own file name
    QString sha256; // of the flat image sent; empty until its job starts
    qint64 bytes = 0;
    imageResult result = imageResult::NotSent;
    failReason reason = failReason::None;
    // Whether the unit was told which processor the image is for; none
    // while its job has not got that far.
    std::optional<bool> processorChosen;
};

struct unitAttempt
{
    int model = 0;
    int unit = 1;    // the slot's unit count: grows with every unit in a loop
    int attempt = 1; // 1, then one more for each retry of the same unit
    QDateTime start;
    QDateTime end;
    QList<imageOutcome> images;
    unitResult result = unitResult::None; // None until the attempt ends
    failReason reason = failReason::None; // the failed image's
    QString lastLine;                     // the engine's last log line
    QString unitSerial;                   // typed or scanned by the operator; empty when not asked
    bool retrying = false;                // another attempt follows

    int imagesPassed() const;
};

// Facts that hold for every line of one run.
struct runFacts
{
    QString tool = QStringLiteral("ups-flash");
    QString version;
    QString host;
    QString station;
    QString packageName;
    QString packageSha256; // empty when the package cannot be read
};

// The USB adapter behind a serial port, where the system says: its serial
// number and its place on the bus ("1-1.4"). Empty for other lines.
struct adapterFacts
{
    QString serialNumber;
    QString location;

    static adapterFacts of(const QString &portName);
};

namespace unitRecord {

constexpr int kSchemaVersion = 1;

QString timeText(const QDateTime &utc);
// An empty text is written as null: "not known" or "none", never "".
QJsonValue textOrNull(const QString &text);
QJsonObject imageJson(const imageOutcome &image);
// SLOT is the name the front end gives the port's place on the bench.
QJsonObject reportJson(const runFacts &run, const QString &port, const QString &slot, const adapterFacts &adapter,
                       const unitAttempt &attempt);

// Appends one line to a report that other runs may be appending to at the
// same time. Under an exclusive lock on the report, the line goes out on a
// descriptor opened for appending and is synced; when the file takes only
// part of it (a full disk, a size limit) the report is cut back to what it
// was, so the line is there whole or not at all. A torn tail left by a
// power cut is closed with a line break first, so that it can never glue
// itself to this line. Empty on success, else the system's reason.
QString appendLine(const QString &path, const QByteArray &line);
// Whether a report can be appended to, before anything is sent.
QString checkAppendable(const QString &path);

} // namespace unitRecord

#endif // UNITRECORD_H
