#ifndef PROGRESSMETER_H
#define PROGRESSMETER_H

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>

// One port's progress through its current image: the text of its live line
// (percent, bytes, rate, time left) and, for logs and pipes, a plain line
// each time another tenth of the image is done.
class progressMeter
{
    Q_DECLARE_TR_FUNCTIONS(progressMeter)

public:
    // Takes an engine's report; returns the plain line due now, if any.
    QString update(const QString &image, qint64 written, qint64 total);
    QString liveText() const;

    static QString formatLive(const QString &name, qint64 written, qint64 total, double bytesPerSecond);
    static QString formatStep(const QString &name, int percent, qint64 written, qint64 total);
    static int percentOf(qint64 written, qint64 total);

private:
    QString m_image;
    qint64 m_written = 0;
    qint64 m_total = 0;
    int m_lastTenth = 0;
    QElapsedTimer m_clock;
};

#endif // PROGRESSMETER_H
