#ifndef PRINTABLE_H
#define PRINTABLE_H

#include <QString>

// Control characters (a NUL, a line break, an escape sequence) in a name
// that came from outside are shown as \xNN, so that a log line can neither
// be cut short nor redrawn by what it quotes.
inline QString printableText(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

#endif // PRINTABLE_H
