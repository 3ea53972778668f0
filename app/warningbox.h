#ifndef WARNINGBOX_H
#define WARNINGBOX_H

#include <QString>

// The serial line's warnings as the window shows them: a modal box titled
// "warn" with the one button "sure". Its own event loop keeps serial and
// timer events running while it is open.
class warningBox
{
public:
    static void show(const QString &text);
};

#endif // WARNINGBOX_H
