#include "package/zip.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QTemporaryFile>
#include <QBuffer>

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <quazip/quazipfileinfo.h>

#include "model/modelregistry.h"
#include "util/modeltable.h"
#include "util/places.h"
#include "util/printable.h"
#include "util/regularfile.h"

#include <algorithm>
#include <limits>
#include <optional>

namespace {

constexpr qint64 kReadChunk = 64 * 1024;
const char kZipSuffix[] = ".zip";

enum class ReadResult { Ok, Damaged, TooLarge };

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

// Tried rather than judged from permission bits: a read-only mount or a
// share says no only when asked to write.
bool canWriteInto(const QString &dir)
{
    QTemporaryFile probe(dir + QStringLiteral("/.ups-probe-XXXXXX"));
    return probe.open();
}

// The target with its directory resolved but its own name kept: a symlink
// at the target itself is replaced, so it must not be followed here.
QString resolvedParent(const QString &target)
{
    const QFileInfo info(target);
    return QFileInfo(info.absolutePath()).canonicalFilePath() + QLatin1Char('/') + info.fileName();
}

// The last 32 bytes must be the SHA-256 of the (at least one) bytes before
// them; on success the member is cut to its payload, in place, and DIGEST
// holds the payload's digest.
bool stripTrailer(QByteArray &member, QByteArray *digest)
{
    if (member.size() <= zip::kTrailerLength)
        return false;
    const QByteArray trailer = member.right(zip::kTrailerLength);
    *digest = QCryptographicHash::hash(QByteArray::fromRawData(member.constData(), member.size() - zip::kTrailerLength),
                                       QCryptographicHash::Sha256);
    if (trailer != *digest)
        return false;
    member.chop(zip::kTrailerLength);
    return true;
}

zip::ImageProblem problemOf(ReadResult result)
{
    switch (result) {
    case ReadResult::Damaged:
        return zip::Damaged;
    case ReadResult::TooLarge:
        return zip::TooLarge;
    case ReadResult::Ok:
        break;
    }
    return zip::NoProblem;
}

} // namespace

struct zip::unpacking
{
    explicit unpacking(const QByteArray &packageBytes)
        : bytes(packageBytes)
        , buffer(&bytes)
        , archive(&buffer)
    {
    }

    QByteArray bytes; // the package, read once: everything works on these
    QBuffer buffer;
    QuaZip archive;
    QuaZipFileInfo64 info;           // the member in hand
    QString root;                    // absolute extraction folder
    QString packagePath;             // canonical path of the package itself
    std::optional<ownFiles> written; // what this tool wrote in root
    qint64 budget = kMaxPackageSize; // bytes the package may still unpack
    QSet<int> ambiguous;             // image indexes matched by several members

    bool fitsBounds(qint64 size) const { return size <= kMaxMemberSize && size <= budget; }

    // Reads the member in hand whole, within the bounds; the CRC is checked
    // on close.
    ReadResult readMember(QByteArray *out)
    {
        out->clear();
        QuaZipFile member(&archive);
        if (!member.open(QIODevice::ReadOnly))
            return ReadResult::Damaged;
        const qint64 limit = std::min(kMaxMemberSize, budget);
        out->reserve(int(std::min(declaredSize(info), limit)));
        ReadResult result = ReadResult::Ok;
        for (;;) {
            const QByteArray chunk = member.read(kReadChunk);
            if (chunk.isEmpty())
                break;
            if (out->size() + chunk.size() > limit) {
                result = ReadResult::TooLarge;
                break;
            }
            out->append(chunk);
        }
        member.close();
        budget -= std::min<qint64>(out->size(), budget);
        if (result == ReadResult::Ok && (out->size() != declaredSize(info) || member.getZipError() != UNZ_OK))
            result = ReadResult::Damaged;
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
    return modelRegistry::imageIndexOf(modelId, fileName);
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
    return tr("%1 cannot be sent: %2").arg(printableText(name), problemText(problem));
}

packageBytes packageBytes::read(const QString &path)
{
    packageBytes package;
    package.path = path;
    regularFile::read(path, zip::kMaxPackageSize, &package.bytes, &package.problem);
    package.digest = package.sha256();
    return package;
}

QString packageBytes::sha256() const
{
    if (!problem.isEmpty())
        return QString();
    if (!digest.isEmpty())
        return digest;
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

void zip::extract(const QString &zipPath, const QString &dir)
{
    if (!QFileInfo(zipPath).isDir()) {
        extract(packageBytes::read(zipPath), dir);
        return;
    }
    entries.clear(); // a remembered folder, not a package: nothing to list
    sha256.clear();
    signature = signatureVerdict::Unsigned;
}

void zip::extract(const packageBytes &package, const QString &dir)
{
    const QString &zipPath = package.path;
    entries.clear();
    sha256.clear();
    signature = signatureVerdict::Unsigned;
    const QFileInfo info(zipPath);
    if (dir.isEmpty()) {
        emit sendRefusal(tr("package refused: its file name leaves no folder to unpack into: %1").arg(zipPath));
        return;
    }
    if (!package.problem.isEmpty()) {
        emit sendRefusal(tr("cannot read the package %1: %2").arg(zipPath, package.problem));
        return;
    }
    unpacking state(package.bytes);
    if (!state.archive.open(QuaZip::mdUnzip)) {
        emit sendRefusal(tr("cannot read the package %1").arg(zipPath));
        return;
    }
    chooseModel(zipPath, dir);
    if (!passesSignatureCheck(state))
        return;
    const QString target = unpackingFolder(dir, package);
    if (target.isEmpty())
        return;
    sha256 = package.sha256();
    state.root = QDir(target).absolutePath();
    state.packagePath = info.canonicalFilePath();
    state.written.emplace(state.root);
    findAmbiguous(state);
    for (bool more = state.archive.goToFirstFile(); more; more = state.archive.goToNextFile())
        unpackMember(state);
    state.archive.close();
    std::stable_sort(entries.begin(), entries.end(),
                     [](const entry &a, const entry &b) { return a.name.compare(b.name, Qt::CaseInsensitive) < 0; });
    reportProblems();
}

// A package on a read-only folder (a share, a locked stick) is unpacked
// into the user's cache instead, in a folder of its name and digest.
QString zip::unpackingFolder(const QString &dir, const packageBytes &package)
{
    if (prepareFolder(dir) && canWriteInto(dir))
        return dir;
    const QString cached = places::packageCacheFolder(QFileInfo(dir).fileName(), package.sha256());
    if (!prepareFolder(cached) || !canWriteInto(cached)) {
        emit sendRefusal(tr("cannot unpack into %1 nor into %2").arg(dir, cached));
        return QString();
    }
    emit sendMessage(tr("%1 cannot be written: unpacking into %2").arg(dir, cached));
    return cached;
}

// The model comes from the package's own name first: folders above it may
// name anything.
void zip::chooseModel(const QString &zipPath, const QString &dir)
{
    int model = modelRegistry::modelNamedBy(QFileInfo(zipPath).fileName());
    if (model < 0)
        model = modelRegistry::modelNamedBy(dir);
    if (model >= 0)
        modelIndex = model;
}

// Checked before anything is unpacked, on the same open archive that is
// then unpacked, so that what was checked is what gets written.
bool zip::passesSignatureCheck(unpacking &state)
{
    for (const QString &problem : trust.problems())
        emit sendRefusal(problem);
    const signatureVerdict verdict = checkPackageSignature(state.archive, modelIndex, trust);
    signature = verdict.kind;
    switch (verdict.kind) {
    case signatureVerdict::Refused:
        emit sendRefusal(tr("package refused: %1").arg(printableText(verdict.reason)));
        return false;
    case signatureVerdict::Valid:
        emit sendMessage(tr("signed by %1").arg(printableText(verdict.keyId)));
        break;
    case signatureVerdict::Unchecked:
        emit sendMessage(tr("signed by %1 (not checked: no key is trusted)").arg(printableText(verdict.keyId)));
        break;
    case signatureVerdict::Unsigned:
        if (!verdict.reason.isEmpty())
            emit sendMessage(tr("SIGNATURE ignored: %1").arg(printableText(verdict.reason)));
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
        if (parts.size() == 1 && modelRegistry::imageMatches(modelIndex, parts.first(), &first) == 1)
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
    const int matches = parts.size() == 1 ? modelRegistry::imageMatches(modelIndex, parts.first(), &first) : 0;
    if (matches == 0) {
        unpackOther(state);
        return;
    }
    entry item {parts.first(), state.root + QLatin1Char('/') + parts.first(), declaredSize(state.info), NoProblem,
                QByteArray()};
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

// An image is kept only whole and with a matching digest, and then without
// its trailer; its copy on disk never replaces a file this tool did not write.
void zip::unpackImage(unpacking &state, entry &item)
{
    if (!state.fitsBounds(item.size)) {
        item.problem = TooLarge;
        return;
    }
    item.problem = problemOf(state.readMember(&item.bytes));
    QByteArray digest;
    if (item.problem == NoProblem && !stripTrailer(item.bytes, &digest))
        item.problem = DigestMismatch;
    if (item.problem != NoProblem) {
        item.bytes.clear();
        return;
    }
    item.size = item.bytes.size();
    if (writeOwnFile(state, item.name, item.bytes, digest) == ownFiles::Outcome::Failed) {
        item.bytes.clear();
        item.problem = NotWritten;
    }
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
    const QString relativePath = parts.join(QLatin1Char('/'));
    const QString target = state.root + QLatin1Char('/') + relativePath;
    QByteArray bytes;
    if (resolvedParent(target) == state.packagePath || !state.fitsBounds(declaredSize(info))
        || state.readMember(&bytes) != ReadResult::Ok)
        return; // never replace the package we are reading
    if (writeOwnFile(state, relativePath, bytes) == ownFiles::Outcome::Written && parts.size() == 1)
        entries.append(entry {fileName, target, bytes.size(), NoProblem, QByteArray()});
}

// Writes a member's bytes through a temporary name; a file that this tool
// did not write is left alone. Either way, or a failure, gets a line.
ownFiles::Outcome zip::writeOwnFile(unpacking &state, const QString &relativePath, const QByteArray &bytes,
                                    const QByteArray &sha256)
{
    QString problem;
    const ownFiles::Outcome outcome = state.written->write(relativePath, bytes, &problem, sha256);
    const QString target = printableText(state.root + QLatin1Char('/') + relativePath);
    if (outcome == ownFiles::Outcome::LeftAlone)
        emit sendMessage(ownFiles::leftAloneLine(target));
    else if (outcome == ownFiles::Outcome::Failed)
        emit sendMessage(ownFiles::writeFailedLine(target, problem));
    return outcome;
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
    return modelRegistry::imageMatches(modelIndex, modelTable::ownName(name), nullptr) > 0;
}

QList<zip::listedImage> zip::listing() const
{
    QList<listedImage> images;
    for (const entry &item : entries) {
        if (isImage(item.name))
            images.append(listedImage {int(images.size()), item.name, item.size});
    }
    return images;
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
        checkedList.append(checkedFile {row, found->path, found->bytes});
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
    sha256 = other.sha256;
    signature = other.signature;
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
