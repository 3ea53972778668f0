#ifndef MODELREGISTRY_H
#define MODELREGISTRY_H

#include <QList>
#include <QString>
#include <QStringList>

class QObject;
class serialport;
class updateEngine;

// Everything that differs between unit models above their boot-loader
// protocol, one row per model. A model is this row, its protocol folder and
// its simulated unit: the package, the queue, the core, the transport and
// the station find what they need here and never compare a model id with a
// number.
struct modelRow
{
    int id = -1;
    // What a package's name (or folder) holds to be taken for this model.
    QString pathTag;
    // The image names in the order they are sent; an image file holds one
    // of them in its own name and ends in ".bin" or ".out".
    QStringList imageNames;
    // The file names a package builder gives the images.
    QStringList packagedNames;
    // The engine's name in the station's lines (translated in the context
    // "flashRun").
    const char *engineName = nullptr;
    // The queue says, before each job, which processor the image is for.
    bool announcesProcessor = false;
    // Received bytes and jobs also go out through the first board's signal
    // names (serialport::receive, filesUpdate::sendParm), not the second's.
    bool usesFirstSignals = false;
    updateEngine *(*makeEngine)(serialport *line, QObject *parent) = nullptr;
};

class modelRegistry
{
public:
    // Every model, built-in ones first, in the order their engines are made.
    static QList<const modelRow *> rows();
    // The row of a model id; null for an id no row has: an unknown model
    // is refused, never taken for another.
    static const modelRow *find(int id);
    // Adds a model at start-up, before any core is made; false when its id
    // is taken or the row lacks its engine or image names.
    static bool add(const modelRow &row);

    // The model a package's name or path names, the first row first; -1 for
    // none.
    static int modelNamedBy(const QString &text);
    // How many of the model's image names a file name holds; the first
    // one's index goes to `first` (when not null). 0 for an unknown model.
    static int imageMatches(int modelId, const QString &fileName, int *first);
    // The image index of a file name, -1 when it names no image.
    static int imageIndexOf(int modelId, const QString &fileName);
    static bool usesFirstSignals(int modelId);
    // The model's path tag; empty for an unknown model.
    static QString pathTag(int modelId);
};

#endif // MODELREGISTRY_H
