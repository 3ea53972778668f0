#include "util/logging.h"

// Debug messages of these categories are off by default; warnings stay on.
Q_LOGGING_CATEGORY(lcFirstProtocol, "ups.protocol.first", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSecondProtocol, "ups.protocol.second", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSerial, "ups.serial", QtInfoMsg)
