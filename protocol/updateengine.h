#ifndef UPDATEENGINE_H
#define UPDATEENGINE_H

#include <QByteArray>
#include <QObject>
#include <QString>

#include "protocol/updateparm.h"

// What both boards' engines offer: a job is started with initParm, fed
// with the bytes the line receives, and ends with finish(true) or, on a
// failure, with jobFailed and the reason. stop() ends it without a word.
class updateEngine : public QObject
{
    Q_OBJECT

public:
    // Why a job ended without finish().
    enum FailReason {
        NoFailure = 0,
        PortUnavailable, // the port could not be opened (at either speed)
        ImageUnreadable, // the image file is missing, empty or cannot be read
        ImageRejected,   // the image is not the kind this board takes
        HandshakeFailed, // the unit never took the start of the job (nor, second board, the size)
        VerifyFailed,    // the unit did not take the image's verify code
        EraseFailed,     // the erase was not confirmed
        TransferFailed,  // data frames went unanswered too often
        JumpFailed,      // the start of the new firmware was not confirmed
        LineSpeedFailed, // the switch of the line speed was not confirmed
    };
    Q_ENUM(FailReason)

    // Whether the job told the unit which processor its image is for.
    enum ProcessorChoice {
        ChoiceNotMade = 0,  // the job never got that far, or nothing was sent
        ProcessorChosen,    // the unit took the choice
        ProcessorNotChosen, // the job went on without it: the boot loader decides
    };
    Q_ENUM(ProcessorChoice)

    // What kept a step from going on, for the line a job ends with.
    enum Trouble {
        NoAnswer,      // nothing came back
        Refused,       // the unit said no, or answered for another step
        NotUnderstood, // a reply that means nothing here
        PortLost,      // the port could not be opened again
    };

    using QObject::QObject;

    // A stable code for a reason, for logs and records read by programs.
    static const char *reasonCode(int reason);
    // Reads up to maxCount bytes of an image at offset, fills the rest of the
    // buffer up to maxCount with 0xFF; returns the count read, or -1 for no
    // buffer or a negative offset or count.
    static qint64 readImage(const QByteArray &image, quint8 *buffer, qint64 offset, qint64 maxCount);

    // Checks an image as the engine would before sending it, without the
    // line: true when it could go out. Lines saying why go to sendMessage.
    virtual bool checkImage(int imageIndex, const QByteArray &image) = 0;
    virtual bool isBusy() const = 0;
    // For the job in hand or the one that ended last.
    ProcessorChoice processorChoice() const { return m_processorChoice; }

    // The last line of a job given up at STEP: the image, the step and what
    // to check.
    static QString giveUpLine(const QString &imagePath, const QString &step, Trouble trouble);

signals:
    void sendMessage(QString message);
    void sendprogressBar(int row, qlonglong bytesWritten, qlonglong bytesTotal);
    void finish(bool result);
    void jobFailed(int reason);

public slots:
    virtual void initParm(updateParm data) = 0;
    virtual void receiveData(QByteArray data) = 0;
    virtual void stop() = 0;

protected:
    void setProcessorChoice(ProcessorChoice choice) { m_processorChoice = choice; }

private:
    ProcessorChoice m_processorChoice = ChoiceNotMade;
};

#endif // UPDATEENGINE_H
