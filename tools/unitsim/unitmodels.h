#ifndef UNITMODELS_H
#define UNITMODELS_H

#include <QList>
#include <QString>

#include "tools/pack/samplemaker.h"

class QObject;
class simulatedUnit;

// The tools' side of a model: its simulated unit, the help on its faults
// and its sample images. The rest of the model is its row in the model
// registry.
struct unitModel
{
    int modelId = -1;
    simulatedUnit *(*makeUnit)(QObject *parent) = nullptr;
    QString (*faultHelp)() = nullptr;
    // The unit can be told which firmware it runs (--running).
    bool takesRunning = false;
    // Null for a model without a sample package.
    QList<sampleMaker::sampleImage> (*sampleImages)() = nullptr;
};

class unitModels
{
public:
    static QList<const unitModel *> rows();
    // Null for a model without a simulated unit.
    static const unitModel *find(int modelId);
    // Adds a model's unit at start-up; false when the id is taken or the
    // row cannot make a unit.
    static bool add(const unitModel &row);
};

#endif // UNITMODELS_H
