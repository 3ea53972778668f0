#include "protocol/second/progress1.h"

// Placeholder, being written.
progress1::progress1(serialport *port, QObject *parent)
    : QObject(parent), m_deviceAddress(1), m_rxBuffer(), m_rxCount(0), m_timer(new QTimer(this)),
      m_blockSeq(0), m_bytesSent(0), m_bytesTotal(0), m_fileSize(0), m_retryCount(0),
      m_lastShortFrame(), m_lastLongFrame(), m_blockMode(0), m_state(0), m_running(false),
      m_lastBlockSent(false), m_util(this), m_modelId(0), m_imageIndex(0), m_row(0), m_port(port)
{
    connect(m_timer, &QTimer::timeout, this, &progress1::onTimer);
}
progress1::~progress1() = default;
bool progress1::verifyImage(int, const QString &) { return false; }
void progress1::sendUpdateCmd(int) {}
void progress1::sendFileSizeCmd() {}
void progress1::sendChangePortCmd() {}
void progress1::sendEraseCmd() {}
void progress1::sendData() {}
void progress1::resendData() {}
void progress1::parseData(const char *, int) {}
void progress1::initParm(updateParm) {}
void progress1::receiveData(QByteArray) {}
void progress1::onTimer() {}
void progress1::handleResponse() {}
void progress1::stopUpdate() {}
void progress1::beginUpdating() {}
