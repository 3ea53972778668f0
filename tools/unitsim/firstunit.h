#ifndef FIRSTUNIT_H
#define FIRSTUNIT_H

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class QTimer;
class ptyLine;

// A simulated first-board unit on the master side of a pty: answers the
// preamble at 2400 baud and the stuffed commands at 9600 baud, checks what it
// receives, keeps the flashed bytes and misbehaves on request.
class firstUnit : public QObject
{
    Q_OBJECT

public:
    static constexpr int kPreambleBaud = 2400;
    static constexpr int kCommandBaud = 9600;
    static constexpr int kBlockSize = 1024;
    static constexpr int kDripPauseMs = 20;  // between bytes of a dripped reply
    static constexpr int kSplitPauseMs = 100; // between the halves of a split reply
    static constexpr int kGapMs = 100;        // between garbage or extra frames and a reply
    static constexpr quint8 kUnknownCode = 0x7E;
    static constexpr quint8 kUnknownStatus = 0x42;

    explicit firstUnit(QObject *parent = nullptr);

    bool open();
    QString portName() const;
    ptyLine *line();

    bool addFault(const QString &faultText, QString *error = nullptr);
    void clearFaults();
    static QString faultHelp();

    QList<QByteArray> frames() const { return m_frames; }
    QStringList violations() const { return m_violations; }
    QByteArray flashedImage() const { return m_image; }
    QString target() const { return m_target; }
    int jobsCompleted() const { return m_jobsCompleted; }
    QByteArray verifyCode() const { return m_verifyCode; }
    void reset();

    void setLineRate(bool on) { m_lineRate = on; }

    // A reply as the unit sends it: STX, length, code, n, status, data, CRC, ETX, stuffed.
    static QByteArray buildReply(quint8 code, quint8 status, const QByteArray &data = QByteArray());

signals:
    void jobCompleted(QString target, QByteArray image);
    void frameReceived(QByteArray frame);

private slots:
    void onReceived(QByteArray bytes);
    void onSendTimer();

private:
    enum class FaultKind { Silence, Nak, Garbage, Unknown, BadStatus, Close };
    struct Fault
    {
        FaultKind kind;
        QString step;
        int occurrence; // 0: every occurrence
    };
    struct Chunk
    {
        QByteArray bytes;
        int pauseMs; // unscaled pause before the chunk goes out
    };

    void parseInput();
    void handlePreamble(const QByteArray &frame);
    void handleCommand(const QByteArray &frame);
    bool unstuff(const QByteArray &frame, QByteArray *body);
    bool checkPayload(quint8 code, const QByteArray &payload, QString *step);
    void applyCommand(quint8 code, const QByteArray &payload);
    // Sends the reply of one step through the fault switches; false when the
    // unit stays silent or the line is gone, so the step has no effect.
    bool respond(const QString &step, const QByteArray &reply, quint8 code, int requestBytes);
    bool hasFault(FaultKind kind, const QString &step, int occurrence) const;
    void checkSpeed(int expected, const char *what);
    void violation(const QString &text);
    void enqueue(const QByteArray &bytes, int pauseMs);
    void queueReply(const QByteArray &reply, int pauseMs);
    void scheduleNext();
    int wireMs(int bytes) const;
    void beginJob();

    ptyLine *m_line = nullptr;
    QTimer *m_sendTimer = nullptr;
    QByteArray m_rx;
    QList<Chunk> m_out;
    QList<Fault> m_faults;
    bool m_drip = false;
    bool m_split = false;
    bool m_lineRate = false;
    QHash<QString, int> m_seen;
    QList<QByteArray> m_frames;
    QStringList m_violations;
    QByteArray m_image;
    QByteArray m_verifyCode;
    QString m_target;
    bool m_erased = false;
    int m_jobsCompleted = 0;
};

#endif // FIRSTUNIT_H
