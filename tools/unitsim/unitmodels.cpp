#include "tools/unitsim/unitmodels.h"

#include <deque>

#include "tools/unitsim/firstunit.h"
#include "tools/unitsim/secondunit.h"

namespace {

template<typename Unit>
simulatedUnit *makeUnit(QObject *parent)
{
    return new Unit(parent);
}

// A deque keeps every row where it is while rows are added.
std::deque<unitModel> &table()
{
    static std::deque<unitModel> rows {
        {0, &makeUnit<firstUnit>, &firstUnit::faultHelp, true, &sampleMaker::firstImages},
        {1, &makeUnit<secondUnit>, &secondUnit::faultHelp, false, &sampleMaker::secondImages},
    };
    return rows;
}

} // namespace

QList<const unitModel *> unitModels::rows()
{
    QList<const unitModel *> all;
    for (const unitModel &row : table())
        all.append(&row);
    return all;
}

const unitModel *unitModels::find(int modelId)
{
    for (const unitModel &row : table()) {
        if (row.modelId == modelId)
            return &row;
    }
    return nullptr;
}

bool unitModels::add(const unitModel &row)
{
    if (find(row.modelId) || !row.makeUnit || !row.faultHelp)
        return false;
    table().push_back(row);
    return true;
}
