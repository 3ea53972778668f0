#include "package/zip.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QTemporaryFile>

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <quazip/quazipfileinfo.h>

#include "util/modeltable.h"

#include <algorithm>
#include <limits>

namespace {

constexpr qint64 kCopyChunk = 64 * 1024;
const char kZipSuffix[] = ".zip";

enum class CopyResult { Ok, Damaged, TooLarge, WriteFailed };

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
    return !name.split(QLatin1Char('/')).contains(QStringLiteral(".."));
}

// The path components of a name, without empty and "." parts.
QStringList nameParts(const QString &name)
{
    QStringList parts = name.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    parts.removeAll(QStringLiteral("."));
    return parts;
}

bool isDirectoryEntry(const QString &name)
{
    return name.endsWith(QLatin1Char('/'));
}

qint64 declaredSize(const QuaZipFileInfo64 &info)
{
    const quint64 most = quint64(std::numeric_limits<qint64>::max());
    return qint64(std::min(info.uncompressedSize, most));
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

// The extraction folder must be a real folder: one that is a link would
// carry every member somewhere else.
bool prepareFolder(const QString &dir)
{
    if (QFileInfo(dir).isSymLink())
        return false;
    return QDir().mkpath(dir) && QFileInfo(dir).isDir();
}

// The target with its directory resolved but its own name kept: a symlink
// at the target itself is replaced, so it must not be followed here.
QString resolvedParent(const QString &target)
{
    const QFileInfo info(target);
    return QFileInfo(info.absolutePath()).canonicalFilePath() + QLatin1Char('/') + info.fileName();
}

// Streams the file: the last 32 bytes must be the SHA-256 of the (at least
// one) bytes before them. On success the file is cut to its payload.
bool stripTrailer(QFile &file)
{
    const qint64 size = file.size();
    if (size <= zip::kTrailerLength || !file.seek(0))
        return false;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (qint64 left = size - zip::kTrailerLength; left > 0;) {
        const QByteArray chunk = file.read(std::min(left, kCopyChunk));
        if (chunk.isEmpty())
            return false;
        hash.addData(chunk);
        left -= chunk.size();
    }
    return file.read(zip::kTrailerLength) == hash.result() && file.resize(size - zip::kTrailerLength);
}

// Renames a whole temporary file into place. A symlink at the target is
// removed, never followed.
bool placeFile(QTemporaryFile &temp, const QString &target)
{
    if (!temp.flush())
        return false;
    temp.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    const QFileInfo existing(target);
    if (existing.isSymLink() || existing.isFile())
        QFile::remove(target);
    if (!temp.rename(target))
        return false;
    // After the rename the temporary object would remove the file under its
    // new name, unless told otherwise.
    temp.setAutoRemove(false);
    return true;
}

QString temporaryBeside(const QString &target)
{
    return QFileInfo(target).absolutePath() + QStringLiteral("/.unpack-XXXXXX");
}

zip::ImageProblem problemOf(CopyResult result)
{
    switch (result) {
    case CopyResult::Damaged:
        return zip::Damaged;
    case CopyResult::TooLarge:
        return zip::TooLarge;
    case CopyResult::WriteFailed:
        return zip::NotWritten;
    case CopyResult::Ok:
        break;
    }
    return zip::NoProblem;
}

} // namespace

struct zip::unpacking
{
    explicit unpacking(const QString &zipPath)
        : archive(zipPath)
    {
    }

    QuaZip archive;
    QuaZipFileInfo64 info;           // the member in hand
    QString root;                    // absolute extraction folder
    QString packagePath;             // canonical path of the package itself
    qint64 budget = kMaxPackageSize; // bytes the package may still unpack
    QSet<int> ambiguous;             // image indexes matched by several members

    bool fitsBounds(qint64 size) const { return size <= kMaxMemberSize && size <= budget; }

    // Copies the member in hand into an open file; the CRC is checked on close.
    CopyResult copyTo(QFile &out)
    {
        QuaZipFile member(&archive);
        if (!member.open(QIODevice::ReadOnly))
            return CopyResult::Damaged;
        const qint64 limit = std::min(kMaxMemberSize, budget);
        qint64 total = 0;
        CopyResult result = CopyResult::Ok;
        while (result == CopyResult::Ok) {
            const QByteArray chunk = member.read(kCopyChunk);
            if (chunk.isEmpty())
                break;
            total += chunk.size();
            if (total > limit)
                result = CopyResult::TooLarge;
            else if (out.write(chunk) != chunk.size())
                result = CopyResult::WriteFailed;
        }
        member.close();
        budget -= std::min(total, budget);
        if (result == CopyResult::Ok && (total != declaredSize(info) || member.getZipError() != UNZ_OK))
            result = CopyResult::Damaged;
        if (result == CopyResult::Ok && !out.flush())
            result = CopyResult::WriteFailed;
        return result;
    }
};

zip::zip(QObject *parent)
    : QObject(parent)
    , modelIndex(0)
{
}

QString zip::extractionDir(const QString &zipPath)
{
    const QFileInfo info(zipPath);
    const QString name = info.fileName();
    const int suffixLength = int(sizeof kZipSuffix) - 1;
    if (!name.endsWith(QLatin1String(kZipSuffix), Qt::CaseInsensitive) || name.size() == suffixLength)
        return QString();
    return info.path() + QLatin1Char('/') + name.left(name.size() - suffixLength);
}

int zip::imageIndexOf(int modelId, const QString &fileName)
{
    return modelTable::imageIndexOf(modelId, fileName);
}

QString zip::problemText(ImageProblem problem)
{
    switch (problem) {
    case DigestMismatch:
        return tr("its digest check failed");
    case Damaged:
        return tr("it could not be unpacked whole");
    case NotAFile:
        return tr("it is a folder or a link in the package");
    case TooLarge:
        return tr("it is larger than any image can be");
    case NotWritten:
        return tr("it could not be written to the disk");
    case Ambiguous:
        return tr("more than one file of the package matches its image name");
    case SeveralNames:
        return tr("its name matches more than one image name");
    case NoProblem:
        break;
    }
    return QString();
}

QString zip::problemLine(const QString &name, ImageProblem problem)
{
    return tr("%1 cannot be sent: %2").arg(name, problemText(problem));
}

void zip::extract(const QString &zipPath, const QString &dir)
{
    entries.clear();
    const QFileInfo package(zipPath);
    if (package.isDir())
        return; // a remembered folder, not a package: nothing to list
    if (dir.isEmpty()) {
        emit sendMessage(tr("package refused: its file name leaves no folder to unpack into: %1").arg(zipPath));
        return;
    }
    unpacking state(zipPath);
    if (!package.isFile() || !state.archive.open(QuaZip::mdUnzip)) {
        emit sendMessage(tr("cannot read the package %1").arg(zipPath));
        return;
    }
    chooseModel(zipPath, dir);
    if (!passesSignatureCheck(state))
        return;
    if (!prepareFolder(dir)) {
        emit sendMessage(tr("cannot unpack into %1").arg(dir));
        return;
    }
    state.root = QDir(dir).absolutePath();
    state.packagePath = package.canonicalFilePath();
    findAmbiguous(state);
    for (bool more = state.archive.goToFirstFile(); more; more = state.archive.goToNextFile())
        unpackMember(state);
    state.archive.close();
    std::stable_sort(entries.begin(), entries.end(),
                     [](const entry &a, const entry &b) { return a.name.compare(b.name, Qt::CaseInsensitive) < 0; });
    reportProblems();
}

// The model comes from the package's own name first: folders above it may
// name anything.
void zip::chooseModel(const QString &zipPath, const QString &dir)
{
    int model = modelTable::modelNamedBy(QFileInfo(zipPath).fileName());
    if (model < 0)
        model = modelTable::modelNamedBy(dir);
    if (model >= 0)
        modelIndex = model;
}

// Checked before anything is unpacked, on the same open archive that is
// then unpacked, so that what was checked is what gets written.
bool zip::passesSignatureCheck(unpacking &state)
{
    for (const QString &problem : trust.problems())
        emit sendMessage(problem);
    const signatureVerdict verdict = checkPackageSignature(state.archive, modelIndex, trust);
    switch (verdict.kind) {
    case signatureVerdict::Refused:
        emit sendMessage(tr("package refused: %1").arg(verdict.reason));
        return false;
    case signatureVerdict::Valid:
        emit sendMessage(tr("signed by %1").arg(verdict.keyId));
        break;
    case signatureVerdict::Unchecked:
        emit sendMessage(tr("signed by %1 (not checked: no key is trusted)").arg(verdict.keyId));
        break;
    case signatureVerdict::Unsigned:
        if (!verdict.reason.isEmpty())
            emit sendMessage(tr("SIGNATURE ignored: %1").arg(verdict.reason));
        break;
    }
    return true;
}

// An image name that several top-level members match is ambiguous: which
// of them the maker meant cannot be known, so none of them is sent.
void zip::findAmbiguous(unpacking &state) const
{
    QHash<int, int> members;
    for (bool more = state.archive.goToFirstFile(); more; more = state.archive.goToNextFile()) {
        const QStringList parts = nameParts(state.archive.getCurrentFileName());
        int first = -1;
        if (parts.size() == 1 && modelTable::imageMatches(modelIndex, parts.first(), &first) == 1)
            ++members[first];
    }
    for (auto it = members.cbegin(); it != members.cend(); ++it) {
        if (it.value() > 1)
            state.ambiguous.insert(it.key());
    }
}

void zip::unpackMember(unpacking &state)
{
    if (!state.archive.getCurrentFileInfo(&state.info))
        return;
    const QStringList parts = nameParts(state.info.name);
    int first = -1;
    const int matches = parts.size() == 1 ? modelTable::imageMatches(modelIndex, parts.first(), &first) : 0;
    if (matches == 0) {
        unpackOther(state);
        return;
    }
    entry item {parts.first(), state.root + QLatin1Char('/') + parts.first(), declaredSize(state.info), NoProblem};
    if (matches > 1)
        item.problem = SeveralNames;
    else if (state.ambiguous.contains(first))
        item.problem = Ambiguous;
    else if (state.info.isSymbolicLink() || isDirectoryEntry(state.info.name))
        item.problem = NotAFile;
    else if (!isSafeEntryName(state.info.name) || resolvedParent(item.path) == state.packagePath)
        item.problem = NotWritten;
    else
        unpackImage(state, item);
    entries.append(item);
}

// An image reaches its place only whole and with a matching digest, and
// then without its trailer; otherwise whatever was there stays untouched.
void zip::unpackImage(unpacking &state, entry &item)
{
    if (!state.fitsBounds(item.size)) {
        item.problem = TooLarge;
        return;
    }
    QTemporaryFile temp(temporaryBeside(item.path));
    if (!temp.open()) {
        item.problem = NotWritten;
        return;
    }
    item.problem = problemOf(state.copyTo(temp));
    if (item.problem != NoProblem)
        return;
    if (!stripTrailer(temp)) {
        item.problem = DigestMismatch;
        return;
    }
    const qint64 payloadSize = temp.size();
    if (placeFile(temp, item.path))
        item.size = payloadSize;
    else
        item.problem = NotWritten;
}

// Members that are no image of the model are unpacked as they are, where
// their name is safe; top-level files are listed.
void zip::unpackOther(unpacking &state)
{
    const QuaZipFileInfo64 &info = state.info;
    QStringList parts = nameParts(info.name);
    if (info.isSymbolicLink() || !isSafeEntryName(info.name) || parts.isEmpty())
        return;
    if (isDirectoryEntry(info.name)) {
        makeSubdirectories(state.root, parts);
        return;
    }
    const QString fileName = parts.takeLast();
    if (!makeSubdirectories(state.root, parts))
        return;
    parts << fileName;
    const QString target = state.root + QLatin1Char('/') + parts.join(QLatin1Char('/'));
    if (resolvedParent(target) == state.packagePath || !state.fitsBounds(declaredSize(info)))
        return; // never replace the package we are reading
    QTemporaryFile temp(temporaryBeside(target));
    if (!temp.open() || state.copyTo(temp) != CopyResult::Ok || !placeFile(temp, target))
        return;
    if (parts.size() == 1)
        entries.append(entry {fileName, target, QFileInfo(target).size(), NoProblem});
}

void zip::reportProblems()
{
    for (const entry &item : qAsConst(entries)) {
        if (item.problem != NoProblem)
            emit sendMessage(problemLine(item.name, item.problem));
    }
}

int zip::entryCount() const
{
    return entries.size();
}

QString zip::entryName(int i) const
{
    return entries.value(i).name;
}

qint64 zip::entrySize(int i) const
{
    return entries.value(i).size;
}

QString zip::entryPath(int i) const
{
    return entries.value(i).path;
}

zip::ImageProblem zip::entryProblem(int i) const
{
    return entries.value(i).problem;
}

bool zip::isImage(const QString &name) const
{
    return modelTable::imageMatches(modelIndex, modelTable::ownName(name), nullptr) > 0;
}

const zip::entry *zip::entryAt(const QString &path) const
{
    for (const entry &item : entries) {
        if (item.path == path)
            return &item;
    }
    return nullptr;
}

// Exact names only: a longer name that holds this one is another file.
bool zip::addChecked(int row, const QString &name)
{
    const entry *found = nullptr;
    for (const entry &item : qAsConst(entries)) {
        if (item.name == name) {
            found = &item;
            break;
        }
    }
    for (const checkedFile &file : qAsConst(checkedList)) {
        if (file.row == row)
            return false;
        // Same-named duplicates share one path; each ticked row keeps its
        // record so that the refusal to send them follows every tick.
        if (found && file.path == found->path && found->problem != Ambiguous)
            return false;
    }
    if (found)
        checkedList.append(checkedFile {row, found->path});
    return true;
}

bool zip::removeChecked(const QString &name)
{
    for (int i = 0; i < checkedList.size(); ++i) {
        if (modelTable::ownName(checkedList.at(i).path) == name) {
            checkedList.removeAt(i);
            return true;
        }
    }
    return false;
}

void zip::copyListing(const zip &other)
{
    entries = other.entries;
    modelIndex = other.modelIndex;
    checkedList = other.checkedList;
}

void zip::clearChecked()
{
    checkedList.clear();
}

QList<checkedFile> zip::checkedFiles() const
{
    return checkedList;
}

QStringList zip::checkedProblems() const
{
    QStringList lines;
    for (const checkedFile &file : checkedList) {
        const entry *item = entryAt(file.path);
        if (item && item->problem != NoProblem)
            lines << problemLine(item->name, item->problem);
    }
    return lines;
}

int zip::modelId() const
{
    return modelIndex;
}
