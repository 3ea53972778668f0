#ifndef ZIP_H
#define ZIP_H

#include <QObject>
#include <QFileInfoList>
#include <QList>
#include <QString>
#include <QStringList>

// One image ticked for the update: its table row and full unpacked path.
struct checkedFile
{
    int row = 0;
    QString path;
};

// A firmware package: unpacks it, scans and checks its images, chooses the
// model from the path and keeps the list of ticked images.
class zip : public QObject
{
    Q_OBJECT

public:
    explicit zip(QObject *parent = nullptr);

    void extract(const QString &zipPath, const QString &dir);

    int entryCount() const;
    QString entryName(int i) const;
    qint64 entrySize(int i) const;
    bool isImage(const QString &name) const;

    bool addChecked(int row, const QString &name);
    bool removeChecked(const QString &name);
    void clearChecked();
    QList<checkedFile> checkedFiles() const;
    int modelId() const;

private:
    void scanDir(const QString &dir);
    void chooseModel(const QString &dir);
    void checkImage(const QString &path);

    QFileInfoList entries;
    QStringList imageNames[2];
    int imageNameCount[2];
    int modelIndex;
    QList<checkedFile> checkedList;
};

#endif // ZIP_H
