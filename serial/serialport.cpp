#include "serial/serialport.h"

#include "util/logging.h"

serialport::serialport(QObject *parent)
    : QObject(parent)
    , m_serialPort(new QSerialPort(this))
    , m_modelId(0)
{
    connect(m_serialPort, &QIODevice::readyRead, this, &serialport::receiveData);
    connect(m_serialPort, &QSerialPort::errorOccurred, this, &serialport::onErrorOccurred);
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
    const QString shown = tr(text);
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

    if (m_serialPort->open(QIODevice::ReadWrite))
        return true;
    warn(QT_TR_NOOP("opening failed!"));
    return false;
}

void serialport::sendCmdData(const quint8 *cmd, ushort size)
{
    if (!m_serialPort->isOpen())
        return;
    qCDebug(lcSerial) << "sent" << QByteArray::fromRawData(reinterpret_cast<const char *>(cmd), size).toHex(' ');
    m_serialPort->write(reinterpret_cast<const char *>(cmd), qint64(size));
}

void serialport::closeSerialPort()
{
    if (m_serialPort->isOpen())
        m_serialPort->close();
}

void serialport::receiveData()
{
    const QByteArray data = m_serialPort->readAll();
    qCDebug(lcSerial) << "received" << data.toHex(' ');
    if (m_modelId != 0)
        emit receive1(data);
    else
        emit receive(data);
}

// A vanished device or adapter makes the port report ReadError or
// ResourceError without end while it stays open; closing it once calms the
// event loop and lets the engines' own timers run their failure rules.
void serialport::onErrorOccurred(QSerialPort::SerialPortError error)
{
    if ((error == QSerialPort::ReadError || error == QSerialPort::ResourceError) && m_serialPort->isOpen())
        m_serialPort->close();
}
