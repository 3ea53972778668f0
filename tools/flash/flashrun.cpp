#include "tools/flash/flashrun.h"

#include <QFileInfo>
#include <QTimer>

#include <quazip/quazip.h>

#include "tools/flash/progressmeter.h"

namespace {

const char kZipSuffix[] = ".zip";
constexpr qint64 kMonitorVerifyOffset = 0xB000;
constexpr qint64 kMainVerifyOffset = 0x17FE8;

QString withoutTrailingBreaks(QString line)
{
    while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r')))
        line.chop(1);
    return line;
}

bool isReadableArchive(const QString &path)
{
    QuaZip archive(path);
    if (!archive.open(QuaZip::mdUnzip))
        return false;
    archive.close();
    return true;
}

QString hexBytes(const quint8 *bytes, int count)
{
    return QByteArray(reinterpret_cast<const char *>(bytes), count).toHex(' ');
}

} // namespace

flashRun::flashRun(FILE *log, FILE *errors, progressMeter *meter, QObject *parent)
    : QObject(parent)
    , package(this)
    , updater(this)
    , serial(this)
    , engine(&serial, this)
    , engine1(&serial, this)
    , m_log(log)
    , m_errors(errors)
    , m_meter(meter)
{
    serial.setWarningPresenter([this](const QString &text) { onWarning(text); });
    connect(&updater, &filesUpdate::sendMessage, this, &flashRun::onLogLine);
    connect(&updater, &filesUpdate::runEnded, this, &flashRun::onRunEnded);
    connect(&engine, &progress::sendMessage, this, &flashRun::onLogLine);
    connect(&engine1, &progress1::sendMessage, this, &flashRun::onLogLine);
}

// The extraction directory follows the window: the package path cut before
// its first ".zip".
int flashRun::openPackage(const QString &packagePath, const QStringList &only)
{
    const QFileInfo info(packagePath);
    const QString path = info.absoluteFilePath();
    if (!info.isFile() || !isReadableArchive(path)) {
        printError(tr("cannot read the package %1").arg(packagePath));
        return UsageError;
    }
    const int cut = path.indexOf(QLatin1String(kZipSuffix));
    m_extractDir = cut < 0 ? path : path.left(cut);
    if (m_extractDir == path) {
        printError(tr("the package name must contain \".zip\": %1").arg(packagePath));
        return UsageError;
    }
    if (m_extractDir.indexOf(QStringLiteral("5-10k")) == -1
        && m_extractDir.indexOf(QStringLiteral("15-20k")) == -1)
        printError(tr("the package path names neither \"5-10k\" nor \"15-20k\"; taking model 0"));
    package.extract(path, m_extractDir);
    if (!listImages(only) || !checkTickedImagesIntact())
        return UsageError;
    return Success;
}

bool flashRun::listImages(const QStringList &only)
{
    package.clearChecked();
    QStringList unmatched = only;
    int row = 0;
    for (int i = 0; i < package.entryCount(); ++i) {
        const QString name = package.entryName(i);
        if (!package.isImage(name))
            continue;
        listedImage image{row, name, m_extractDir + QLatin1Char('/') + name, only.isEmpty()};
        for (const QString &wanted : only) {
            if (name.contains(wanted)) {
                image.ticked = true;
                unmatched.removeAll(wanted);
            }
        }
        if (image.ticked)
            package.addChecked(row, name);
        m_meter->setImageName(row, name);
        m_images.append(image);
        ++row;
    }
    for (const QString &wanted : qAsConst(unmatched))
        printError(tr("no image of the package matches %1").arg(wanted));
    if (package.checkedFiles().isEmpty()) {
        printError(tr("no image to send"));
        return false;
    }
    return unmatched.isEmpty();
}

// An image that fails its digest check is removed by the package object but
// stays listed; sending it could only fail half way, so nothing is sent.
bool flashRun::checkTickedImagesIntact()
{
    bool intact = true;
    for (const listedImage &image : qAsConst(m_images)) {
        if (image.ticked && !QFileInfo(image.path).isFile()) {
            printError(tr("%1 failed its digest check").arg(image.name));
            intact = false;
        }
    }
    return intact;
}

void flashRun::start(const QString &portName)
{
    connect(&updater, &filesUpdate::sendParm, &engine, &progress::initParm);
    connect(&engine, &progress::finish, &updater, &filesUpdate::updateFinish);
    connect(&serial, &serialport::receive, &engine, &progress::receiveData);
    connect(&engine, &progress::sendprogressBar, m_meter, &progressMeter::onProgress);
    connect(&engine, &progress::jobFailed, this, &flashRun::onJobFailed);
    connect(&updater, &filesUpdate::sendParm1, &engine1, &progress1::initParm);
    connect(&engine1, &progress1::finish, &updater, &filesUpdate::updateFinish);
    connect(&serial, &serialport::receive1, &engine1, &progress1::receiveData);
    connect(&engine1, &progress1::sendprogressBar, m_meter, &progressMeter::onProgress);
    connect(&engine1, &progress1::jobFailed, this, &flashRun::onJobFailed);
    updater.start(package.modelId(), package.checkedFiles(), portName);
}

// The queue runs as for a real unit, translations included, but each job
// only passes the engine's own image test and is then reported done.
void flashRun::startDryRun()
{
    m_dryRun = true;
    connect(&updater, &filesUpdate::sendParm, this, &flashRun::onDryRunJob);
    connect(&updater, &filesUpdate::sendParm1, this, &flashRun::onDryRunJob);
    updater.start(package.modelId(), package.checkedFiles(), QString());
}

void flashRun::onDryRunJob(updateParm job)
{
    const QString engineName = job.modelId == 0 ? tr("first board engine")
                                                : tr("second board engine");
    std::fputs(tr("would send %1 (%2 bytes) to the %3, image %4, row %5\n")
                       .arg(job.imagePath)
                       .arg(QFileInfo(job.imagePath).size())
                       .arg(engineName)
                       .arg(job.imageIndex)
                       .arg(job.row)
                       .toUtf8()
                       .constData(),
               m_log);
    std::fflush(m_log);
    if (!checkDryRunJob(job)) {
        end(JobFailed);
        return;
    }
    m_lastDryRunPath = job.imagePath;
    QTimer::singleShot(0, &updater, [this] { updater.updateFinish(true); });
}

bool flashRun::checkDryRunJob(const updateParm &job)
{
    if (job.modelId != 0)
        return engine1.verifyImage(job.imageIndex, job.imagePath);
    // Where the first board's boot loader takes the verify code from.
    const qint64 offset = job.imageIndex == 0 ? kMonitorVerifyOffset : kMainVerifyOffset;
    quint8 code[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    const bool complete = common::readFileData(job.imagePath, code, offset, 4) == 4;
    onLogLine(complete ? tr("verify code %1").arg(hexBytes(code, 4)) : progress::tr("verify code error!"));
    return complete;
}

void flashRun::onLogLine(QString line)
{
    if (m_ended)
        return;
    // A dry run reports each job done without sending it; the queue's
    // success lines would claim otherwise.
    if (m_dryRun
        && (line == m_lastDryRunPath + filesUpdate::tr("updating success!")
            || line == filesUpdate::tr("update finished!")))
        return;
    m_meter->hideLine();
    std::fputs((withoutTrailingBreaks(line) + QLatin1Char('\n')).toUtf8().constData(), m_log);
    std::fflush(m_log);
    m_meter->showLine();
}

void flashRun::onWarning(const QString &text)
{
    printError(QStringLiteral("warn: ") + text);
}

void flashRun::onRunEnded(bool success)
{
    end(success ? Success : JobFailed);
}

void flashRun::onJobFailed()
{
    end(JobFailed);
}

void flashRun::onInterrupt()
{
    if (m_ended)
        return;
    printError(tr("interrupted: the unit stays in its boot loader; run the update again to flash it"));
    end(Interrupted);
}

void flashRun::printError(const QString &text)
{
    m_meter->hideLine();
    std::fputs((text + QLatin1Char('\n')).toUtf8().constData(), m_errors);
    std::fflush(m_errors);
    m_meter->showLine();
}

void flashRun::end(int exitStatus)
{
    if (m_ended)
        return;
    m_meter->endLine();
    m_ended = true;
    emit finished(exitStatus);
}
