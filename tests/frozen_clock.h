#ifndef DROVIK_TESTS_FROZEN_CLOCK_H
#define DROVIK_TESTS_FROZEN_CLOCK_H

// A wall clock that can be stopped: a public key is an MD5 over the local time
// and one qrand() value, so a save repeats only with both fixed. The program
// that includes this header (once) defines the C library's two wall-clock
// calls, which the dynamic linker binds Qt's calls to; the C library's own
// serve every other clock and every call made while the clock runs.

#include <dlfcn.h>
#include <stdlib.h>
#include <sys/time.h>
#include <time.h>

namespace frozenclock {
// Seconds since the epoch while stopped; 0 while the clock runs.
inline time_t stoppedAt = 0;

// Stops the wall clock for the life of the object, with the local time zone
// fixed to UTC so that the local time text is the same on every machine.
struct Stopped
{
    explicit Stopped(time_t at)
    {
        setenv("TZ", "UTC", 1);
        tzset();
        stoppedAt = at;
    }
    ~Stopped() { stoppedAt = 0; }
};
} // namespace frozenclock

extern "C" __attribute__((visibility("default"))) int clock_gettime(clockid_t clock,
                                                                    struct timespec *now) noexcept
{
    static const auto real
            = reinterpret_cast<int (*)(clockid_t, timespec *)>(dlsym(RTLD_NEXT, "clock_gettime"));
    if (frozenclock::stoppedAt == 0 || clock != CLOCK_REALTIME)
        return real(clock, now);
    *now = {frozenclock::stoppedAt, 0};
    return 0;
}

extern "C" __attribute__((visibility("default"))) int gettimeofday(struct timeval *now,
                                                                   void *zone) noexcept
{
    static const auto real
            = reinterpret_cast<int (*)(timeval *, void *)>(dlsym(RTLD_NEXT, "gettimeofday"));
    if (frozenclock::stoppedAt == 0)
        return real(now, zone);
    *now = {frozenclock::stoppedAt, 0};
    return 0;
}

#endif // DROVIK_TESTS_FROZEN_CLOCK_H
