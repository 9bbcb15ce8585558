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
class Stopped
{
public:
    explicit Stopped(time_t at)
    {
        setenv("TZ", "UTC", 1);
        tzset();
        stoppedAt = at;
    }
    ~Stopped() { stoppedAt = 0; }
    Stopped(const Stopped &) = delete;
    Stopped &operator=(const Stopped &) = delete;
};

template<typename Function> Function next(const char *name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}
} // namespace frozenclock

extern "C" __attribute__((visibility("default"))) int clock_gettime(clockid_t clock,
                                                                    struct timespec *now) noexcept
{
    if (frozenclock::stoppedAt != 0 && clock == CLOCK_REALTIME) {
        now->tv_sec = frozenclock::stoppedAt;
        now->tv_nsec = 0;
        return 0;
    }
    static const auto real
            = frozenclock::next<int (*)(clockid_t, struct timespec *)>("clock_gettime");
    return real(clock, now);
}

extern "C" __attribute__((visibility("default"))) int gettimeofday(struct timeval *now,
                                                                   void *zone) noexcept
{
    if (frozenclock::stoppedAt != 0) {
        now->tv_sec = frozenclock::stoppedAt;
        now->tv_usec = 0;
        return 0;
    }
    static const auto real = frozenclock::next<int (*)(struct timeval *, void *)>("gettimeofday");
    return real(now, zone);
}

#endif // DROVIK_TESTS_FROZEN_CLOCK_H
