#ifndef FAILUREWORDS_H
#define FAILUREWORDS_H

#include <QCoreApplication>
#include <QString>

#include "station/outcome.h"

// A failure as an operator reads it at the bench: what went wrong, in plain
// words, and what to do about it.
class failureWords
{
    Q_DECLARE_TR_FUNCTIONS(failureWords)

public:
    static QString what(failReason reason);
    static QString todo(failReason reason);
};

#endif // FAILUREWORDS_H
