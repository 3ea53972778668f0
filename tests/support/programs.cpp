#include "support/programs.h"

#include <QCoreApplication>

namespace testPrograms {

QString path(const char *name)
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(name);
}

bool sameImage(const QByteArray &flashed, const QByteArray &expected)
{
    if (expected.isEmpty() || flashed.size() < expected.size() || !flashed.startsWith(expected))
        return false;
    for (int i = expected.size(); i < flashed.size(); ++i) {
        if (quint8(flashed.at(i)) != 0xFF)
            return false;
    }
    return true;
}

} // namespace testPrograms
