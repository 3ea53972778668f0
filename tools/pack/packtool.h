#ifndef PACKTOOL_H
#define PACKTOOL_H

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdio>

// The package builder's three jobs: write a package from images (each with
// its SHA-256 trailer), report the trailers of a package without unpacking
// it to disk, and write the sample packages. Each returns the exit status.
class packTool : public QObject
{
    Q_OBJECT

public:
    enum ExitStatus { Success = 0, BadMember = 1, UsageError = 2 };

    packTool(FILE *out, FILE *errors, QObject *parent = nullptr);

    // With a secret key file, the package also gets a SIGNATURE member.
    int build(const QString &outPath, const QStringList &imagePaths, const QString &secretKeyPath = QString());
    // Checks the trailers, then the signature against the trusted keys.
    int verify(const QString &packagePath, const QStringList &trustedKeyPaths = QStringList());
    int makeKeys(const QString &name);
    int makeSample(const QString &dir);

    // Model named by a package path (-1: neither), and the member names of
    // a model.
    static int modelOfPackage(const QString &path);

private:
    void warnAboutNames(const QString &outPath, const QStringList &imagePaths);
    int verifySignature(const QString &packagePath, const QStringList &trustedKeyPaths);
    void say(FILE *stream, const QString &line);

    FILE *m_out;
    FILE *m_errors;
};

#endif // PACKTOOL_H
