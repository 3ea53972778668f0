#ifndef TESTTIME_H
#define TESTTIME_H

// Tests run protocol time scaled down. A sanitized build runs the code several
// times slower, so there the scale is raised: the scaled reply timeouts must
// stay well above one round trip on a loaded machine, or an exact frame count
// turns into a resend.
#if defined(__SANITIZE_ADDRESS__)
#define UPS_TEST_SLOW_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define UPS_TEST_SLOW_BUILD 1
#endif
#endif

constexpr double testTimeScale(double base)
{
#ifdef UPS_TEST_SLOW_BUILD
    return base * 3;
#else
    return base;
#endif
}

// A real-time wait for a scaled job grows with the scale.
constexpr int testWaitMs(int ms)
{
    return int(testTimeScale(1.0) * ms);
}

#endif // TESTTIME_H
