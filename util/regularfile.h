#ifndef REGULARFILE_H
#define REGULARFILE_H

#include <QByteArray>
#include <QCoreApplication>
#include <QString>

// Whole-file reads of what the tool is handed (packages, key files): only a
// regular file (after following links) is read, once, and never more than
// a bound. A FIFO, a device such as /dev/zero or a folder is refused at
// once instead of blocking or filling the memory.
class regularFile
{
    Q_DECLARE_TR_FUNCTIONS(regularFile)

public:
    // The bytes of the file, or false with *problem set to why not (the
    // system's own words where it has them).
    static bool read(const QString &path, qint64 maxBytes, QByteArray *bytes, QString *problem);
    // The SHA-256 of the file, streamed; the same refusals as read().
    static bool sha256(const QString &path, qint64 maxBytes, QByteArray *digest, QString *problem);
    // The system's text for an errno value, e.g. "No space left on device".
    static QString systemError(int errorNumber);
};

#endif // REGULARFILE_H
