#ifndef PTYLINE_H
#define PTYLINE_H

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;
class QTimer;

// The unit's end of a virtual serial line: the master side of a raw
// pseudo-terminal pair, served in the caller's event loop. The tool opens
// slavePath() like any serial device. The line speed that the tool set can be
// read here, because both sides of a pty share one set of terminal settings.
class ptyLine : public QObject
{
    Q_OBJECT

public:
    explicit ptyLine(QObject *parent = nullptr);
    ~ptyLine() override;

    bool open();
    void close(); // the cable is pulled: the tool's port sees the line vanish
    bool isOpen() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }

    // Line speed in baud currently set on the line (0 when unknown).
    int baud() const;
    bool write(const QByteArray &bytes);

signals:
    void received(QByteArray bytes);
    // Bytes that write() has put on the line; lets a program count the
    // traffic in both directions.
    void sent(QByteArray bytes);

private slots:
    void onReadable();

private:
    int m_master = -1;
    int m_slaveKeeper = -1;
    QString m_slavePath;
    QSocketNotifier *m_notifier = nullptr;
};

#endif // PTYLINE_H
