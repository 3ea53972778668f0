#ifndef LOWLATENCY_H
#define LOWLATENCY_H

#include <QString>

#include <functional>

// Asks a serial driver to hand on each byte as it arrives. A USB adapter
// otherwise holds what the unit sends until its latency timer runs out
// (16 ms by default on common adapters), and every reply of thousands waits
// for it. Linux only; elsewhere the adapter's driver holds the setting.
// Where the driver has no such setting (a pty, some adapters) nothing
// changes, and the byte-trace category says so once.
class lowLatency
{
public:
    // The driver call: ioctl(2), unless a test stands in for the driver.
    using Control = std::function<int(int fd, unsigned long request, void *argument)>;

    explicit lowLatency(Control control = Control());

    // Asks for low latency on the port behind FD; false when the driver
    // refuses or the system has no such request.
    bool request(int fd, const QString &portName);
    // Puts the flag back as request() found it, through any descriptor of
    // the same port, if request() changed it.
    void restore(int fd);

private:
    int control(int fd, unsigned long request, void *argument) const;
    void refused(const QString &portName, int error);

    Control m_control;
    bool m_changed = false;
    bool m_refusalTold = false;
};

#endif // LOWLATENCY_H
