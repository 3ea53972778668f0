#include "package/zip.h"

// Placeholder, being written.
zip::zip(QObject *parent) : QObject(parent), imageNameCount{2, 3}, modelIndex(0) {}
void zip::extract(const QString &, const QString &) {}
int zip::entryCount() const { return entries.size(); }
QString zip::entryName(int i) const { return entries.value(i).fileName(); }
qint64 zip::entrySize(int i) const { return entries.value(i).size(); }
bool zip::isImage(const QString &) const { return false; }
bool zip::addChecked(int, const QString &) { return false; }
bool zip::removeChecked(const QString &) { return false; }
void zip::clearChecked() { checkedList.clear(); }
QList<checkedFile> zip::checkedFiles() const { return checkedList; }
int zip::modelId() const { return modelIndex; }
void zip::scanDir(const QString &) {}
void zip::checkImage(const QString &) {}
