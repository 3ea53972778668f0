#ifndef OWNFILES_H
#define OWNFILES_H

#include <QByteArray>
#include <QCoreApplication>
#include <QHash>
#include <QString>

// The files this tool wrote in one folder, kept in a hidden record there
// (name, size and SHA-256 of each). A file is written through a temporary
// name renamed into place, and only where nothing is, or where the record
// says the tool wrote exactly what is there now: a file someone kept or
// changed in that folder, a link or a folder at that name, is left alone.
class ownFiles
{
    Q_DECLARE_TR_FUNCTIONS(ownFiles)

public:
    enum class Outcome { Written, LeftAlone, Failed };

    static constexpr char kRecordName[] = ".ups-written";

    explicit ownFiles(const QString &dir);

    // Writes bytes at dir/relativePath (its folders must exist). On
    // Failed, *problem says why. SHA256: the bytes' raw digest when the
    // caller has already taken it, else it is taken here.
    Outcome write(const QString &relativePath, const QByteArray &bytes, QString *problem,
                  const QByteArray &sha256 = QByteArray());
    // Whether the file at relativePath is one this tool wrote, unchanged.
    bool isOwn(const QString &relativePath) const;

    // The log lines for a file that was left alone, or not written.
    static QString leftAloneLine(const QString &path);
    static QString writeFailedLine(const QString &path, const QString &problem);

private:
    struct written
    {
        qint64 size = 0;
        QByteArray sha256; // hex
    };

    void load();
    bool save(QString *problem) const;
    static bool placeFile(const QString &target, const QByteArray &bytes, QString *problem);

    QString m_dir;
    QHash<QString, written> m_files;
};

#endif // OWNFILES_H
