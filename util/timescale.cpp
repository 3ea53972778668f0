#include "util/timescale.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace {
double g_factor = 1.0;
} // namespace

namespace timeScale {

void set(double factor)
{
    if (std::isfinite(factor) && factor > 0)
        g_factor = factor;
}

double factor()
{
    return g_factor;
}

int scaledMs(int ms)
{
    if (g_factor == 1.0)
        return ms;
    // A large factor must not push the product out of int range.
    const double scaled = std::round(ms * g_factor);
    return int(std::clamp(scaled, double(INT_MIN), double(INT_MAX)));
}

bool parse(const QString &text, double *factor)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value) || !(value > 0) || value > kMax)
        return false;
    *factor = value;
    return true;
}

} // namespace timeScale
