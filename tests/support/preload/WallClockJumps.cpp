// Preloaded into a program under test (LD_PRELOAD): its wall clock jumps as if the
// system's time were set while it runs. VX_WALL_CLOCK_JUMPS lists "after:by" pairs in
// seconds, comma-separated: `after` seconds of the steady clock since the library was
// loaded, the wall clock moves by `by` seconds (negative: back). The steady clock and
// every other clock stay as they are.
#include <dlfcn.h>
#include <sys/time.h>
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

struct TJump {
    int64_t AfterNs;
    int64_t ByNs;
};

TJump Jumps[8];
int JumpCount = 0;
int64_t LoadedNs = 0;

using TClockGetTime = int (*)(clockid_t, struct timespec*);
using TGetTimeOfDay = int (*)(struct timeval*, void*);

TClockGetTime RealClockGetTime() {
    static const auto real = reinterpret_cast<TClockGetTime>(dlsym(RTLD_NEXT, "clock_gettime"));
    return real;
}

int64_t SteadyNs() {
    struct timespec ts {};
    RealClockGetTime()(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// How far the wall clock has been moved by now.
int64_t OffsetNs() {
    const int64_t since = SteadyNs() - LoadedNs;
    int64_t offset = 0;
    for (int i = 0; i < JumpCount; ++i)
        if (since >= Jumps[i].AfterNs)
            offset += Jumps[i].ByNs;
    return offset;
}

__attribute__((constructor)) void ReadJumps() {
    LoadedNs = SteadyNs();
    const char* text = std::getenv("VX_WALL_CLOCK_JUMPS");
    double after = 0, by = 0;
    int used = 0;
    while (text && JumpCount < 8 && std::sscanf(text, "%lf:%lf%n", &after, &by, &used) == 2) {
        Jumps[JumpCount++] = {int64_t(after * 1e9), int64_t(by * 1e9)};
        text += used;
        if (*text != ',')
            break;
        ++text;
    }
}

} // namespace

extern "C" int clock_gettime(clockid_t id, struct timespec* ts) {
    const int result = RealClockGetTime()(id, ts);
    if (result != 0 || (id != CLOCK_REALTIME && id != CLOCK_REALTIME_COARSE))
        return result;
    const int64_t ns = int64_t(ts->tv_sec) * 1000000000 + ts->tv_nsec + OffsetNs();
    ts->tv_sec = time_t(ns / 1000000000);
    ts->tv_nsec = long(ns % 1000000000);
    return 0;
}

extern "C" int gettimeofday(struct timeval* tv, void* zone) {
    static const auto real = reinterpret_cast<TGetTimeOfDay>(dlsym(RTLD_NEXT, "gettimeofday"));
    const int result = real(tv, zone);
    if (result != 0 || !tv)
        return result;
    const int64_t us = int64_t(tv->tv_sec) * 1000000 + tv->tv_usec + OffsetNs() / 1000;
    tv->tv_sec = time_t(us / 1000000);
    tv->tv_usec = suseconds_t(us % 1000000);
    return 0;
}
