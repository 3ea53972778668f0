#ifndef SERIALPORT_H
#define SERIALPORT_H

#include <QObject>
#include <QByteArray>
#include <QString>
#include <QSerialPort>
#include <functional>

#include "serial/lowlatency.h"

// The only path to the serial line. The engines share one object; the model
// id of the latest open attempt decides which engine gets the received bytes.
class serialport : public QObject
{
    Q_OBJECT

public:
    // Takes a warning meant for the user. Without one, warnings go out
    // through warning(): the transport shows no UI of its own.
    using WarningPresenter = std::function<void(const QString &text)>;

    explicit serialport(QObject *parent = nullptr);
    ~serialport() override;

    void setWarningPresenter(WarningPresenter presenter);

    int modelId() const { return m_modelId; }

    // What the user is told when a port does not open: the port, the
    // system's reason and, for a permission error, how to get access.
    static QString openFailureText(const QString &portName, QSerialPort::SerialPortError error, const QString &reason);
    bool isOpen() const;
    QString portName() const;
    qint32 baudRate() const;

signals:
    // Everything read, whatever the model; the core hands it to the engine
    // of modelId().
    void received(QByteArray data);
    // The same bytes under the names the boards' engines were first wired
    // by: receive for a model on the first board's signals, receive1 for
    // any other id.
    void receive(QByteArray data);
    void receive1(QByteArray data);
    // A failed open, for the user: the window shows it in a modal box.
    void warning(QString text);

public slots:
    void receiveData();
    bool openSerialPort(int modelId, const QString &portName, int baud);
    void sendCmdData(const quint8 *cmd, ushort size);
    void closeSerialPort();

private slots:
    void onErrorOccurred(QSerialPort::SerialPortError error);

private:
    void warn(const char *text);
    void present(const QString &shown);
    // The device behind a port name is claimed with an exclusive lock on
    // its node, so that no other port object (in this or another program)
    // writes to the same unit under another spelling. False only when the
    // device is held elsewhere; a node that cannot be opened is left for
    // the open itself to report.
    bool claimDevice(const QString &portName);
    void releaseDevice();

    QSerialPort *m_serialPort;
    int m_modelId;
    WarningPresenter m_presenter;
    int m_deviceLock = -1;   // kept across reopening at another speed
    lowLatency m_lowLatency; // asked for and put back through the lock
};

#endif // SERIALPORT_H
