#include "model/modelregistry.h"

#include <deque>

#include "model/builtinmodels.h"

namespace {

// A deque keeps every row where it is while rows are added, so the
// pointers find() hands out stay good.
std::deque<modelRow> &table()
{
    static std::deque<modelRow> rows = [] {
        const QList<modelRow> builtin = builtinModels();
        return std::deque<modelRow>(builtin.begin(), builtin.end());
    }();
    return rows;
}

} // namespace

QList<const modelRow *> modelRegistry::rows()
{
    QList<const modelRow *> all;
    for (const modelRow &row : table())
        all.append(&row);
    return all;
}

const modelRow *modelRegistry::find(int id)
{
    for (const modelRow &row : table()) {
        if (row.id == id)
            return &row;
    }
    return nullptr;
}

bool modelRegistry::add(const modelRow &row)
{
    if (find(row.id) || !row.makeEngine || row.imageNames.isEmpty() || row.pathTag.isEmpty())
        return false;
    table().push_back(row);
    return true;
}

int modelRegistry::modelNamedBy(const QString &text)
{
    for (const modelRow &row : table()) {
        if (text.contains(row.pathTag))
            return row.id;
    }
    return -1;
}

// Only the two formats an engine takes are images.
int modelRegistry::imageMatches(int modelId, const QString &fileName, int *first)
{
    const modelRow *row = find(modelId);
    if (!row || (!fileName.endsWith(QLatin1String(".bin")) && !fileName.endsWith(QLatin1String(".out"))))
        return 0;
    int count = 0;
    for (int i = 0; i < row->imageNames.size(); ++i) {
        if (!fileName.contains(row->imageNames.at(i)))
            continue;
        if (count++ == 0 && first)
            *first = i;
    }
    return count;
}

int modelRegistry::imageIndexOf(int modelId, const QString &fileName)
{
    int first = -1;
    return imageMatches(modelId, fileName, &first) > 0 ? first : -1;
}

bool modelRegistry::usesFirstSignals(int modelId)
{
    const modelRow *row = find(modelId);
    return row && row->usesFirstSignals;
}

QString modelRegistry::pathTag(int modelId)
{
    const modelRow *row = find(modelId);
    return row ? row->pathTag : QString();
}
