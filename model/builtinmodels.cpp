#include "model/builtinmodels.h"

#include <QCoreApplication>

#include "protocol/first/progress.h"
#include "protocol/second/progress1.h"

namespace {

template<typename Engine>
updateEngine *makeEngine(serialport *line, QObject *parent)
{
    return new Engine(line, parent);
}

} // namespace

QList<modelRow> builtinModels()
{
    modelRow first;
    first.id = 0;
    first.pathTag = QStringLiteral("5-10k");
    first.imageNames = QStringList {QStringLiteral("arm.bin"), QStringLiteral("dsp.out")};
    first.packagedNames = first.imageNames;
    first.engineName = QT_TRANSLATE_NOOP("flashRun", "first board engine");
    first.announcesProcessor = true;
    first.usesFirstSignals = true;
    first.makeEngine = &makeEngine<progress>;

    modelRow second;
    second.id = 1;
    second.pathTag = QStringLiteral("15-20k");
    second.imageNames =
        QStringList {QStringLiteral("2U_20K_MONITOR"), QStringLiteral("Inv_power33"), QStringLiteral("Rec_power33")};
    second.packagedNames = QStringList {QStringLiteral("2U_20K_MONITOR.bin"), QStringLiteral("Inv_power33.out"),
                                        QStringLiteral("Rec_power33.out")};
    second.engineName = QT_TRANSLATE_NOOP("flashRun", "second board engine");
    second.makeEngine = &makeEngine<progress1>;
    return {first, second};
}
