#include "update/filesupdate.h"

// Placeholder, being written.
filesUpdate::filesUpdate(QObject *parent) : QObject(parent), converter(this) {}
void filesUpdate::start(int, QList<checkedFile>, QString) {}
void filesUpdate::updateFinish(bool) {}
void filesUpdate::showInfo(QString message) { emit sendMessage(message); }
bool filesUpdate::takeNext() { return false; }
void filesUpdate::prepare(QString) {}
