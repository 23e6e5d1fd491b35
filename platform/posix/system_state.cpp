#include "system_state.h"

#include <errno.h>
#include <sys/random.h>
#include <sys/sysinfo.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

namespace {

/* 100-ns intervals from 1601-01-01 to 1970-01-01. */
constexpr uint64_t kFileTimeAtUnixEpoch = 116444736000000000ull;

uint64_t nanoseconds(clockid_t clock) {
    struct timespec ts;
    if (clock_gettime(clock, &ts) != 0) return 0;
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

}  // namespace

extern "C" {

uint64_t vrnSystem_getSystemTimeAsFileTime(void) {
    struct timespec ts;
    if (clock_gettime(CLOCK_REALTIME, &ts) != 0) return kFileTimeAtUnixEpoch;
    /* Times before 1970 do not occur on a running machine; clamp rather than
     * wrap should the clock be set that far back. */
    if (ts.tv_sec < 0) return kFileTimeAtUnixEpoch;
    return kFileTimeAtUnixEpoch + static_cast<uint64_t>(ts.tv_sec) * 10000000ull +
           static_cast<uint64_t>(ts.tv_nsec) / 100;
}

uint64_t vrnSystem_queryPerformanceCounter(void) { return nanoseconds(CLOCK_MONOTONIC); }

uint32_t vrnSystem_getTickCount(void) {
    return static_cast<uint32_t>(nanoseconds(CLOCK_BOOTTIME) / 1000000ull);
}

void vrnSystem_getState(vrnSystemState* state) {
    std::memset(state, 0, sizeof *state);
    struct sysinfo info;
    if (sysinfo(&info) == 0) {
        const uint64_t unit = info.mem_unit ? info.mem_unit : 1;
        state->memoryTotal = info.totalram * unit;
        state->memoryFree = info.freeram * unit;
        state->memoryShared = info.sharedram * unit;
        state->memoryBuffers = info.bufferram * unit;
        state->swapTotal = info.totalswap * unit;
        state->swapFree = info.freeswap * unit;
        state->uptime = static_cast<uint64_t>(info.uptime);
        for (int i = 0; i < 3; ++i) state->loads[i] = info.loads[i];
        state->processes = info.procs;
    }
    long processors = sysconf(_SC_NPROCESSORS_ONLN);
    state->processors = processors > 0 ? static_cast<uint32_t>(processors) : 0;
    long page = sysconf(_SC_PAGESIZE);
    state->pageSize = page > 0 ? static_cast<uint32_t>(page) : 0;
    state->processId = static_cast<uint32_t>(getpid());
    state->fileTime = vrnSystem_getSystemTimeAsFileTime();
    state->performanceCounter = vrnSystem_queryPerformanceCounter();
    state->tickCount = vrnSystem_getTickCount();

    /* gethostname may leave a cut name without its NUL; the buffer is one
     * byte longer than what it is told, and that byte stays zero. */
    char name[sizeof state->hostName + 1] = {0};
    if (gethostname(name, sizeof state->hostName) == 0) {
        name[sizeof state->hostName] = '\0';
        const size_t length = std::strlen(name);
        std::memcpy(state->hostName, name, length < sizeof state->hostName ? length : sizeof state->hostName);
        state->hostNameLength = static_cast<uint32_t>(length);
    }
}

int vrnSystem_getEntropy(void* buffer, size_t length) {
    auto* out = static_cast<unsigned char*>(buffer);
    while (length > 0) {
        ssize_t n = getrandom(out, length, GRND_NONBLOCK);
        if (n < 0) {
            if (errno == EINTR) continue;
            return 0;
        }
        out += n;
        length -= static_cast<size_t>(n);
    }
    return 1;
}

}  // extern "C"
