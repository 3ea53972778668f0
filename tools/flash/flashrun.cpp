#include "tools/flash/flashrun.h"

#include <QFileInfo>
#include <QTimer>

#include <quazip/quazip.h>

#include "tools/flash/progressmeter.h"

namespace {

constexpr qint64 kMonitorVerifyOffset = 0xB000;
constexpr qint64 kMainVerifyOffset = 0x17FE8;

QString withoutTrailingBreaks(QString line)
{
    while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r')))
        line.chop(1);
    return line;
}

bool namesModel(const QString &text)
{
    return text.contains(QLatin1String("5-10k")) || text.contains(QLatin1String("15-20k"));
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
    connect(&package, &zip::sendMessage, this, &flashRun::onLogLine);
}

// The package unpacks where the window unpacks it: beside itself, into the
// folder named like it without ".zip".
int flashRun::openPackage(const QString &packagePath, const QStringList &only)
{
    const QFileInfo info(packagePath);
    const QString path = info.absoluteFilePath();
    if (!info.isFile() || !isReadableArchive(path)) {
        printError(tr("cannot read the package %1").arg(packagePath));
        return UsageError;
    }
    m_extractDir = zip::extractionDir(path);
    if (m_extractDir.isEmpty()) {
        printError(tr("the package name must end in \".zip\" after a name: %1").arg(packagePath));
        return UsageError;
    }
    if (!namesModel(info.fileName()) && !namesModel(m_extractDir))
        printError(tr("the package path names neither \"5-10k\" nor \"15-20k\"; taking model 0"));
    package.extract(path, m_extractDir);
    if (!listImages(only) || !checkTickedImagesSendable())
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
        listedImage image{row, name, package.entryPath(i), only.isEmpty()};
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

// Half a set would leave the unit's processors on different releases, so a
// ticked image that cannot be sent stops the run before the port is opened.
bool flashRun::checkTickedImagesSendable()
{
    const QStringList problems = package.checkedProblems();
    for (const QString &problem : problems)
        printError(problem);
    if (!problems.isEmpty())
        printError(tr("nothing was sent"));
    return problems.isEmpty();
}

void flashRun::start(const QString &portName)
{
    // One engine on the line at a time: a job for one stops the other's.
    connect(&updater, &filesUpdate::sendParm, &engine1, &progress1::stop);
    connect(&updater, &filesUpdate::sendParm1, &engine, &progress::stop);
    connect(&updater, &filesUpdate::sendParm, &engine, &progress::initParm);
    connect(&engine, &progress::finish, &updater, &filesUpdate::updateFinish);
    connect(&serial, &serialport::receive, &engine, &progress::receiveData);
    connect(&engine, &progress::sendprogressBar, m_meter, &progressMeter::onProgress);
    connect(&engine, &progress::jobFailed, &updater, &filesUpdate::jobFailed);
    connect(&updater, &filesUpdate::sendParm1, &engine1, &progress1::initParm);
    connect(&engine1, &progress1::finish, &updater, &filesUpdate::updateFinish);
    connect(&serial, &serialport::receive1, &engine1, &progress1::receiveData);
    connect(&engine1, &progress1::sendprogressBar, m_meter, &progressMeter::onProgress);
    connect(&engine1, &progress1::jobFailed, &updater, &filesUpdate::jobFailed);
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
