#ifndef BUILTINMODELS_H
#define BUILTINMODELS_H

#include <QList>

#include "model/modelregistry.h"

// The models this tool ships with.
QList<modelRow> builtinModels();

#endif // BUILTINMODELS_H
