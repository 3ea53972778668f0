#ifndef LOGGING_H
#define LOGGING_H

#include <QLoggingCategory>

// Byte traces of the engines and the line. Off unless asked for, e.g.
// QT_LOGGING_RULES="ups.protocol.*.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcFirstProtocol)
Q_DECLARE_LOGGING_CATEGORY(lcSecondProtocol)
Q_DECLARE_LOGGING_CATEGORY(lcSerial)

#endif // LOGGING_H
