#ifndef SIGNALWATCHER_H
#define SIGNALWATCHER_H

#include <QObject>

class QSocketNotifier;

// Turns SIGINT, SIGTERM and SIGHUP into a Qt signal in the event loop. The handler
// only writes the signal number into a pipe; everything else happens in the
// loop, where it is safe to log, close ports and quit.
class signalWatcher : public QObject
{
    Q_OBJECT

public:
    explicit signalWatcher(QObject *parent = nullptr);
    ~signalWatcher() override;

    // Installs the handlers; false when the pipe cannot be made. Only one
    // watcher can be installed at a time.
    bool install();

signals:
    void caught(int signalNumber);

private slots:
    void onPipeReadable();

private:
    void restoreHandlers();

    QSocketNotifier *m_notifier = nullptr;
    bool m_installed = false;
};

#endif // SIGNALWATCHER_H
