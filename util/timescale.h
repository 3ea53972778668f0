#ifndef TIMESCALE_H
#define TIMESCALE_H

#include <QString>

// The one knob over protocol time. Every protocol duration passes through
// scaledMs; the factor is 1.0 (exact protocol time) unless a test, the
// simulated unit or the headless flasher turns it down for a simulated line.
namespace timeScale {

// The programs' --time-scale takes at most this.
constexpr double kMax = 100.0;

// Ignored unless a finite number above 0.
void set(double factor);
double factor();
int scaledMs(int ms);
// A finite number above 0 and at most kMax; sets *factor only then.
bool parse(const QString &text, double *factor);

} // namespace timeScale

#endif // TIMESCALE_H
