#ifndef CHUNKINGS_H
#define CHUNKINGS_H

#include <QByteArray>
#include <QList>

// The ways a line may hand over a stream: whole, cut once at every point,
// and byte by byte. A long stream is only cut in its middle (every cut of
// 64 KiB would take minutes).
inline QList<QList<QByteArray>> chunkings(const QByteArray &stream)
{
    QList<QList<QByteArray>> all = {{stream}};
    if (stream.size() > 512) {
        all.append({stream.left(stream.size() / 2), stream.mid(stream.size() / 2)});
        return all;
    }
    for (int cut = 1; cut < stream.size(); ++cut)
        all.append({stream.left(cut), stream.mid(cut)});
    QList<QByteArray> bytes;
    for (int at = 0; at < stream.size(); ++at)
        bytes.append(stream.mid(at, 1));
    all.append(bytes);
    return all;
}

#endif // CHUNKINGS_H
