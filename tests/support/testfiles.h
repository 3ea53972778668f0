#ifndef TESTFILES_H
#define TESTFILES_H

#include <QByteArray>
#include <QString>

#include "package/zip.h"

class QTemporaryDir;

// Whole-file reads and writes for tests that set up or inspect files.
namespace testFiles {

// Writes bytes to path, replacing what was there; true when every byte was written.
bool write(const QString &path, const QByteArray &bytes);

// Writes bytes to name inside dir; the path written, or an empty string when
// the file could not be written whole.
QString writeIn(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes);

// The bytes of path, or whenMissing when it cannot be opened. A test that
// must tell an absent file from an empty one passes a marker.
QByteArray read(const QString &path, const QByteArray &whenMissing = QByteArray());

// A ticked image as the package hands it over: its row, path and bytes.
checkedFile checked(int row, const QString &path);

} // namespace testFiles

#endif // TESTFILES_H
