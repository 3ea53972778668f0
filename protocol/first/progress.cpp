#include "protocol/first/progress.h"

// Placeholder, being written.
progress::progress(serialport *port, QObject *parent)
    : QObject(parent), m_util(this), m_modelId(0), m_imageIndex(0), m_row(0), m_fileSize(0),
      m_writtenSize(0), m_frame(), m_preambleMode(false), m_timer(new QTimer(this)), m_port(port)
{
    connect(m_timer, &QTimer::timeout, this, &progress::timeout);
}
void progress::buildPreambleStart() {}
void progress::buildPreambleConfirm() {}
void progress::buildPreambleTarget(int) {}
void progress::buildShakeHand() {}
void progress::buildVerify(const quint8 *) {}
void progress::buildErase() {}
void progress::buildJump() {}
int progress::buildNextBlock() { return 0; }
bool progress::readVerifyCode(quint8 *, int) { return false; }
void progress::initParm(updateParm) {}
void progress::receiveData(QByteArray) {}
void progress::timeout() {}
void progress::sendFrame(int, bool, int) {}
void progress::parsePreamble() {}
void progress::parseFrame() {}
void progress::handleFrame(QByteArray) {}
