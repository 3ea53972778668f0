#include "package/zip.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <quazip/quazipfileinfo.h>

namespace {

constexpr int kTrailerLength = 32;
constexpr qint64 kCopyChunk = 64 * 1024;

// An entry name is written only when it stays inside the extraction
// directory on every platform: relative, no "..", no backslash, no drive
// letter or stream separator, no control characters.
bool isSafeEntryName(const QString &name)
{
    if (name.isEmpty() || name.startsWith(QLatin1Char('/')))
        return false;
    for (const QChar c : name) {
        if (c == QLatin1Char('\\') || c == QLatin1Char(':') || c.unicode() < 0x20)
            return false;
    }
    const QStringList parts = name.split(QLatin1Char('/'));
    return !parts.contains(QStringLiteral(".."));
}

// The path components of a safe name, without empty and "." parts.
QStringList nameParts(const QString &name)
{
    QStringList parts = name.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    parts.removeAll(QStringLiteral("."));
    return parts;
}

// Creates dir/parts[0]/... as real directories. A component that exists as
// a symlink or as a file stops it: writing through it could leave dir.
bool makeSubdirectories(const QString &dir, const QStringList &parts)
{
    QString path = dir;
    for (const QString &part : parts) {
        path += QLatin1Char('/') + part;
        const QFileInfo info(path);
        if (info.isSymLink())
            return false;
        if (info.exists()) {
            if (!info.isDir())
                return false;
            continue;
        }
        if (!QDir().mkdir(path))
            return false;
    }
    return true;
}

// Copies the current entry of the opened archive into an open file and
// tells whether the whole entry arrived intact (CRC checked on close).
bool copyCurrentEntry(QuaZip &archive, qint64 expectedSize, QFile &out)
{
    QuaZipFile entry(&archive);
    if (!entry.open(QIODevice::ReadOnly))
        return false;
    qint64 total = 0;
    bool ok = true;
    QByteArray chunk;
    while (ok) {
        chunk = entry.read(kCopyChunk);
        if (chunk.isEmpty())
            break;
        total += chunk.size();
        ok = out.write(chunk) == chunk.size();
    }
    entry.close();
    return ok && total == expectedSize && entry.getZipError() == UNZ_OK;
}

// Writes the current entry to target through a temporary file in the same
// directory, renamed into place only when complete. An existing symlink at
// target is removed, never followed.
void writeEntryFile(QuaZip &archive, const QuaZipFileInfo64 &info, const QString &target)
{
    QTemporaryFile temp(QFileInfo(target).absolutePath() + QStringLiteral("/.unpack-XXXXXX"));
    if (!temp.open())
        return;
    if (!copyCurrentEntry(archive, qint64(info.uncompressedSize), temp) || !temp.flush())
        return; // the temporary file removes itself
    temp.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup
                        | QFile::ReadOther);
    const QFileInfo existing(target);
    if (existing.isSymLink() || existing.exists())
        QFile::remove(target);
    // After the rename the temporary object would remove the file under
    // its new name, unless told otherwise.
    if (temp.rename(target))
        temp.setAutoRemove(false);
}

// The target with its directory resolved but its own name kept: a symlink
// at the target itself is replaced, so it must not be followed here.
QString resolvedParent(const QString &target)
{
    const QFileInfo info(target);
    return QFileInfo(info.absolutePath()).canonicalFilePath() + QLatin1Char('/') + info.fileName();
}

bool isDirectoryEntry(const QString &name)
{
    return name.endsWith(QLatin1Char('/'));
}

void extractEntry(QuaZip &archive, const QString &dir, const QString &packagePath)
{
    QuaZipFileInfo64 info;
    if (!archive.getCurrentFileInfo(&info) || info.isSymbolicLink())
        return;
    if (!isSafeEntryName(info.name))
        return;
    QStringList parts = nameParts(info.name);
    if (parts.isEmpty())
        return;
    if (isDirectoryEntry(info.name)) {
        makeSubdirectories(dir, parts);
        return;
    }
    const QString fileName = parts.takeLast();
    if (!makeSubdirectories(dir, parts))
        return;
    const QString target = dir + QLatin1Char('/')
            + (parts.isEmpty() ? fileName : parts.join(QLatin1Char('/')) + QLatin1Char('/') + fileName);
    if (resolvedParent(target) == packagePath)
        return; // never replace the package we are reading
    writeEntryFile(archive, info, target);
}

// Unpacks every safe entry of zipPath under dir; failures are silent.
void unpackSafely(const QString &zipPath, const QString &dir)
{
    if (dir.isEmpty())
        return; // an empty name would mean the working directory
    QuaZip archive(zipPath);
    if (!archive.open(QuaZip::mdUnzip))
        return;
    if (!QDir().mkpath(dir)) {
        archive.close();
        return;
    }
    const QString packagePath = QFileInfo(zipPath).canonicalFilePath();
    const QString root = QDir(dir).absolutePath();
    for (bool more = archive.goToFirstFile(); more; more = archive.goToNextFile())
        extractEntry(archive, root, packagePath);
    archive.close();
}

} // namespace

zip::zip(QObject *parent)
    : QObject(parent)
    , imageNameCount{2, 3}
    , modelIndex(0)
{
    imageNames[0] << QStringLiteral("arm.bin") << QStringLiteral("dsp.out");
    imageNames[1] << QStringLiteral("2U_20K_MONITOR.bin") << QStringLiteral("Inv_power33.out")
                  << QStringLiteral("Rec_power33.out");
}

void zip::extract(const QString &zipPath, const QString &dir)
{
    unpackSafely(zipPath, dir);
    scanDir(dir);
}

int zip::entryCount() const
{
    return entries.size();
}

QString zip::entryName(int i) const
{
    return entries.value(i).fileName();
}

qint64 zip::entrySize(int i) const
{
    return entries.value(i).size();
}

bool zip::isImage(const QString &name) const
{
    for (int i = 0; i < imageNameCount[modelIndex]; ++i) {
        if (name.indexOf(imageNames[modelIndex].at(i)) != -1)
            return true;
    }
    return false;
}

bool zip::addChecked(int row, const QString &name)
{
    for (const checkedFile &file : qAsConst(checkedList)) {
        if (file.path.indexOf(name) != -1)
            return false;
    }
    for (const QFileInfo &entry : qAsConst(entries)) {
        if (entry.fileName().indexOf(name) != -1)
            checkedList.append(checkedFile{row, entry.filePath()});
    }
    return true;
}

bool zip::removeChecked(const QString &name)
{
    for (int i = 0; i < checkedList.size(); ++i) {
        if (checkedList.at(i).path.indexOf(name) != -1) {
            checkedList.removeAt(i);
            return true;
        }
    }
    return false;
}

void zip::clearChecked()
{
    checkedList.clear();
}

QList<checkedFile> zip::checkedFiles() const
{
    return checkedList;
}

int zip::modelId() const
{
    return modelIndex;
}

// The model comes from the new path before the checks, so that every
// package is checked against its own model's image names.
void zip::scanDir(const QString &dir)
{
    entries = QDir(dir).entryInfoList(QDir::Files);
    chooseModel(dir);
    for (const QFileInfo &entry : qAsConst(entries)) {
        if (isImage(entry.filePath()))
            checkImage(entry.filePath());
    }
}

void zip::chooseModel(const QString &dir)
{
    if (dir.indexOf(QStringLiteral("5-10k")) != -1)
        modelIndex = 0;
    else if (dir.indexOf(QStringLiteral("15-20k")) != -1)
        modelIndex = 1;
}

// Strips the SHA-256 trailer of an image that passes; an image that fails
// is removed, so that it can never be flashed.
void zip::checkImage(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return;
    const QByteArray content = file.readAll();
    file.close();
    if (!QFile::remove(path))
        return; // rewriting in place would keep the trailer: leave it as it is

    const int payloadLength = qMax(0, content.size() - kTrailerLength);
    const QByteArray payload = content.left(payloadLength);
    const QByteArray trailer = content.mid(payloadLength);
    const QByteArray digest = QCryptographicHash::hash(payload, QCryptographicHash::Sha256);
    if (digest.indexOf(trailer) == -1)
        return;

    QFile stripped(path);
    if (!stripped.open(QIODevice::ReadWrite))
        return;
    const bool written = stripped.write(payload) == payload.size();
    stripped.close();
    if (!written)
        QFile::remove(path); // a cut image must not reach the unit
}
