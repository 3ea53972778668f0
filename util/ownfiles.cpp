#include "util/ownfiles.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <filesystem>
#include <system_error>

#include "util/regularfile.h"

namespace {

const char kRecordHeader[] = "ups-written 1";
// The record lists a package's own files; far below what could hurt.
constexpr qint64 kMaxRecordSize = 4 * 1024 * 1024;
// Far above any file a package may hold.
constexpr qint64 kMaxOwnFileSize = 256LL * 1024 * 1024;
// A temporary file is private to its owner; what is put in place gets the
// usual mode.
constexpr QFileDevice::Permissions kFilePermissions =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;

QByteArray sha256Hex(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

std::filesystem::path fsPath(const QString &path)
{
#ifdef Q_OS_WIN
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

// Renames in one step, replacing the file at 'to' (QFile::rename refuses an
// existing target).
bool replaceEntry(const QString &from, const QString &to, QString *problem)
{
    std::error_code error;
    std::filesystem::rename(fsPath(from), fsPath(to), error);
    if (error)
        *problem = QString::fromLocal8Bit(error.message().c_str());
    return !error;
}

} // namespace

QString ownFiles::writeFailedLine(const QString &path, const QString &problem)
{
    return tr("cannot write %1: %2").arg(path, problem);
}

ownFiles::ownFiles(const QString &dir)
    : m_dir(dir)
{
    load();
}

QString ownFiles::leftAloneLine(const QString &path)
{
    return tr("%1 was left as it is: this tool did not write it").arg(path);
}

// A record that cannot be read vouches for nothing: every file in the
// folder is then someone else's.
void ownFiles::load()
{
    QByteArray text;
    QString problem;
    const QString path = m_dir + QLatin1Char('/') + QLatin1String(kRecordName);
    if (QFileInfo(path).isSymLink() || !regularFile::read(path, kMaxRecordSize, &text, &problem))
        return;
    const QList<QByteArray> lines = text.split('\n');
    if (lines.value(0) != kRecordHeader)
        return;
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray &line = lines.at(i);
        const int first = line.indexOf(' ');
        const int second = first < 0 ? -1 : line.indexOf(' ', first + 1);
        if (second < 0)
            continue;
        bool sizeOk = false;
        written file;
        file.sha256 = line.left(first);
        file.size = line.mid(first + 1, second - first - 1).toLongLong(&sizeOk);
        if (sizeOk && file.sha256.size() == 64)
            m_files.insert(QString::fromUtf8(line.mid(second + 1)), file);
    }
}

bool ownFiles::save(QString *problem) const
{
    QByteArray text = QByteArray(kRecordHeader) + '\n';
    for (auto it = m_files.cbegin(); it != m_files.cend(); ++it)
        text += it->sha256 + ' ' + QByteArray::number(it->size) + ' ' + it.key().toUtf8() + '\n';
    return placeFile(m_dir + QLatin1Char('/') + QLatin1String(kRecordName), text, problem);
}

bool ownFiles::isOwn(const QString &relativePath) const
{
    const auto found = m_files.constFind(relativePath);
    const QString path = m_dir + QLatin1Char('/') + relativePath;
    const QFileInfo info(path);
    if (found == m_files.cend() || info.isSymLink() || !info.isFile() || info.size() != found->size)
        return false;
    QByteArray digest;
    QString problem;
    return regularFile::sha256(path, kMaxOwnFileSize, &digest, &problem) && digest.toHex() == found->sha256;
}

ownFiles::Outcome ownFiles::write(const QString &relativePath, const QByteArray &bytes, QString *problem,
                                  const QByteArray &sha256)
{
    const QString target = m_dir + QLatin1Char('/') + relativePath;
    const QFileInfo existing(target);
    if ((existing.exists() || existing.isSymLink()) && !isOwn(relativePath))
        return Outcome::LeftAlone;
    // Recorded before the file is in place: a record naming a file that is
    // not there, or not as recorded, vouches for nothing.
    m_files.insert(relativePath, written {bytes.size(), sha256.isEmpty() ? sha256Hex(bytes) : sha256.toHex()});
    if (!save(problem) || !placeFile(target, bytes, problem))
        return Outcome::Failed;
    return Outcome::Written;
}

bool ownFiles::placeFile(const QString &target, const QByteArray &bytes, QString *problem)
{
    QTemporaryFile temp(QFileInfo(target).absolutePath() + QStringLiteral("/.ups-XXXXXX"));
    if (!temp.open()) {
        *problem = temp.errorString();
        return false;
    }
    if (temp.write(bytes) != bytes.size() || !temp.flush()) {
        *problem = temp.errorString();
        return false;
    }
    temp.setPermissions(kFilePermissions);
    if (!replaceEntry(temp.fileName(), target, problem))
        return false;
    temp.setAutoRemove(false); // it now lives under the target's name
    return true;
}
