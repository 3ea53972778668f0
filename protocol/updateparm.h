#ifndef UPDATEPARM_H
#define UPDATEPARM_H

#include <QByteArray>
#include <QMetaType>
#include <QString>

// One update job, handed by value from the queue to an engine.
struct updateParm
{
    int modelId = 0;
    int imageIndex = 0;
    int row = 0;
    QString imagePath;
    QString portName;
    // The checked bytes to send, taken from the package before any port
    // opened: what happens to files on disk later cannot change them.
    QByteArray image;
};

Q_DECLARE_METATYPE(updateParm)

#endif // UPDATEPARM_H
