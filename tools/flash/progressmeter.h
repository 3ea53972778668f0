#ifndef PROGRESSMETER_H
#define PROGRESSMETER_H

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>

#include <cstdio>

// Shows the engines' progress on stderr. On a terminal one line per image is
// redrawn in place (percent, bytes, rate, time left); otherwise, as in a log
// file or a pipe, a plain line is written each time another tenth is done.
class progressMeter : public QObject
{
    Q_OBJECT

public:
    progressMeter(FILE *out, bool terminal, QObject *parent = nullptr);

    void setImageName(int row, const QString &name);
    // Put before every progress line, e.g. "[ttyUSB0] " when several units
    // share the stream.
    void setPrefix(const QString &prefix) { m_prefix = prefix; }
    // Around a log line written to the same terminal: the line in progress is
    // wiped first and drawn again below the log line.
    void hideLine();
    void showLine();
    void endLine();

    static QString formatLive(const QString &name, qint64 written, qint64 total, double bytesPerSecond);
    static QString formatStep(const QString &name, int percent, qint64 written, qint64 total);
    static int percentOf(qint64 written, qint64 total);

public slots:
    void onProgress(int row, qlonglong written, qlonglong total);

private:
    void beginRow(int row);
    void drawLive();
    void writeStep();
    void put(const QString &text);

    FILE *m_out;
    bool m_terminal;
    QHash<int, QString> m_names;
    QString m_prefix;
    int m_row = -1;
    qint64 m_written = 0;
    qint64 m_total = 0;
    int m_lastTenth = 0;
    bool m_lineShown = false;
    QElapsedTimer m_clock;
};

#endif // PROGRESSMETER_H
