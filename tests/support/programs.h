#ifndef PROGRAMS_H
#define PROGRAMS_H

#include <QByteArray>
#include <QString>

// The built programs, for tests that run them as processes.
namespace testPrograms {

// The program's path: the programs are built beside the tests.
QString path(const char *name);
// A flashed image is exact when it is the expected image followed by
// nothing but the 0xFF fill of the last block or frame.
bool sameImage(const QByteArray &flashed, const QByteArray &expected);

} // namespace testPrograms

#endif // PROGRAMS_H
