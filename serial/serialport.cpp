#include "serial/serialport.h"

#include "model/modelregistry.h"

#include "util/logging.h"

#ifdef Q_OS_UNIX
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The node QSerialPort opens for a port name: a bare name lives in /dev.
QByteArray systemLocation(const QString &portName)
{
    const bool path = portName.startsWith(QLatin1Char('/')) || portName.startsWith(QLatin1String("./"))
        || portName.startsWith(QLatin1String("../"));
    return QFile::encodeName(path ? portName : QStringLiteral("/dev/") + portName);
}

bool sameNode(int a, int b)
{
    struct stat first = {};
    struct stat second = {};
    return a >= 0 && b >= 0 && ::fstat(a, &first) == 0 && ::fstat(b, &second) == 0 && first.st_dev == second.st_dev
        && first.st_ino == second.st_ino;
}

} // namespace
#endif

serialport::serialport(QObject *parent)
    : QObject(parent)
    , m_serialPort(new QSerialPort(this))
    , m_modelId(0)
{
    connect(m_serialPort, &QIODevice::readyRead, this, &serialport::receiveData);
    connect(m_serialPort, &QSerialPort::errorOccurred, this, &serialport::onErrorOccurred);
}

serialport::~serialport()
{
    releaseDevice();
}

void serialport::setWarningPresenter(WarningPresenter presenter)
{
    m_presenter = std::move(presenter);
}

bool serialport::isOpen() const
{
    return m_serialPort->isOpen();
}

QString serialport::portName() const
{
    return m_serialPort->portName();
}

qint32 serialport::baudRate() const
{
    return m_serialPort->baudRate();
}

void serialport::warn(const char *text)
{
    present(tr(text));
}

void serialport::present(const QString &shown)
{
    if (m_presenter)
        m_presenter(shown);
    else
        emit warning(shown);
}

bool serialport::openSerialPort(int modelId, const QString &portName, int baud)
{
    if (portName.isEmpty()) {
        warn(QT_TR_NOOP("no port"));
        return false;
    }
    if (m_serialPort->isOpen())
        m_serialPort->close();

    m_serialPort->setBaudRate(baud, QSerialPort::AllDirections);
    m_serialPort->setDataBits(QSerialPort::Data8);
    m_serialPort->setFlowControl(QSerialPort::NoFlowControl);
    m_serialPort->setParity(QSerialPort::NoParity);
    m_serialPort->setStopBits(QSerialPort::OneStop);
    m_serialPort->setPortName(portName);
    m_modelId = modelId;

    if (!claimDevice(portName)) {
        present(tr("opening failed!") + QLatin1Char(' ') + tr("%1 is in use by another program").arg(portName));
        return false;
    }
    if (m_serialPort->open(QIODevice::ReadWrite))
        return true;
    releaseDevice();
    present(openFailureText(portName, m_serialPort->error(), m_serialPort->errorString()));
    return false;
}

QString serialport::openFailureText(const QString &portName, QSerialPort::SerialPortError error, const QString &reason)
{
    QString text = tr("opening failed!") + QLatin1Char(' ') + tr("%1: %2").arg(portName, reason);
#ifdef Q_OS_LINUX
    if (error == QSerialPort::PermissionError)
        text += QLatin1Char(' ')
            + tr("If the port is not in use: unplug the adapter and plug it in again (the installed rule "
                 "gives a USB adapter to the user at the desk), or add the user to the dialout group: "
                 "sudo usermod -aG dialout $USER, then log in again.");
#else
    Q_UNUSED(error)
#endif
    return text;
}

#ifdef Q_OS_UNIX
// flock() holds per open description and binds root too, unlike the
// exclusive mode of the terminal or a lock file named after the spelling
// of the path. The lock is taken on a descriptor of its own, so that it
// outlives the close and reopen that change the speed.
bool serialport::claimDevice(const QString &portName)
{
    const int fd = ::open(systemLocation(portName).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const bool busy = errno == EBUSY; // held in the terminal's exclusive mode
        releaseDevice();
        return !busy;
    }
    if (sameNode(fd, m_deviceLock)) {
        ::close(fd);
        return true;
    }
    releaseDevice();
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        ::close(fd);
        return !held;
    }
    m_deviceLock = fd;
    m_lowLatency.request(fd, portName);
    return true;
}

void serialport::releaseDevice()
{
    m_lowLatency.restore(m_deviceLock);
    if (m_deviceLock >= 0)
        ::close(m_deviceLock);
    m_deviceLock = -1;
}
#else
// A COM port is opened exclusively by the system itself.
bool serialport::claimDevice(const QString &)
{
    return true;
}

void serialport::releaseDevice() { }
#endif

void serialport::sendCmdData(const quint8 *cmd, ushort size)
{
    if (!m_serialPort->isOpen())
        return;
    qCDebug(lcSerial) << "sent" << QByteArray::fromRawData(reinterpret_cast<const char *>(cmd), size).toHex(' ');
    m_serialPort->write(reinterpret_cast<const char *>(cmd), qint64(size));
    // Out now rather than on the next turn of the event loop: every reply
    // waits for it.
    m_serialPort->flush();
}

void serialport::closeSerialPort()
{
    if (m_serialPort->isOpen())
        m_serialPort->close();
    releaseDevice();
}

void serialport::receiveData()
{
    const QByteArray data = m_serialPort->readAll();
    qCDebug(lcSerial) << "received" << data.toHex(' ');
    emit received(data);
    if (modelRegistry::usesFirstSignals(m_modelId))
        emit receive(data);
    else
        emit receive1(data);
}

// A vanished device or adapter makes the port report ReadError or
// ResourceError without end while it stays open; closing it once calms the
// event loop and lets the engines' own timers run their failure rules.
void serialport::onErrorOccurred(QSerialPort::SerialPortError error)
{
    if ((error == QSerialPort::ReadError || error == QSerialPort::ResourceError) && m_serialPort->isOpen()) {
        m_serialPort->close();
        releaseDevice();
    }
}
