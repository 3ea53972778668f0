#ifndef UPDATEPARM_H
#define UPDATEPARM_H

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
};

Q_DECLARE_METATYPE(updateParm)

#endif // UPDATEPARM_H
