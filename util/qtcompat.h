#ifndef QTCOMPAT_H
#define QTCOMPAT_H

// The few places where Qt 5 and Qt 6 differ in a way that matters here; the
// rest of the tree is written in the API both share.

#include <QLibraryInfo>
#include <QSettings>
#include <QString>
#include <QtGlobal>

namespace qtcompat {

// Settings files are UTF-8 in both builds, so one written by either is read
// alike by the other. Qt 6 always reads and writes INI files as UTF-8 (and
// still takes the \x escapes that Qt 5 wrote without a codec); Qt 5 must be
// told, or it writes non-ASCII text as escapes and reads UTF-8 as Latin-1.
inline void useUtf8(QSettings &settings)
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    settings.setIniCodec("UTF-8");
#else
    Q_UNUSED(settings)
#endif
}

// Where Qt's own programs (lupdate, lrelease) are installed.
inline QString qtBinariesPath()
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    return QLibraryInfo::location(QLibraryInfo::BinariesPath);
#else
    return QLibraryInfo::path(QLibraryInfo::BinariesPath);
#endif
}

} // namespace qtcompat

#endif // QTCOMPAT_H
