/* System state for making UUIDs: the wall clock in the file-time base, a
 * high-resolution counter, a millisecond tick, and a snapshot of memory,
 * processor, host and process data, read from POSIX and Linux calls. */
#ifndef VRN_PLATFORM_SYSTEM_STATE_H
#define VRN_PLATFORM_SYSTEM_STATE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Wall-clock time as 100-nanosecond intervals since 1601-01-01 00:00 UTC. */
uint64_t vrnSystem_getSystemTimeAsFileTime(void);

/* A monotonic counter in nanoseconds, for mixing into random data. */
uint64_t vrnSystem_queryPerformanceCounter(void);

/* Milliseconds since the system started, wrapping at 2^32. */
uint32_t vrnSystem_getTickCount(void);

/* A snapshot of machine and process data. Fixed-width fields without gaps, so
 * that the record can be hashed as bytes; a value that cannot be read is 0. */
typedef struct vrnSystemState {
    uint64_t memoryTotal;      /* bytes */
    uint64_t memoryFree;
    uint64_t memoryShared;
    uint64_t memoryBuffers;
    uint64_t swapTotal;
    uint64_t swapFree;
    uint64_t uptime;           /* seconds */
    uint64_t loads[3];
    uint32_t processes;        /* processes running on the machine */
    uint32_t processors;       /* processors online */
    uint32_t pageSize;
    uint32_t processId;
    uint64_t fileTime;         /* as vrnSystem_getSystemTimeAsFileTime */
    uint64_t performanceCounter;
    uint32_t tickCount;
    uint32_t hostNameLength;
    char hostName[64];         /* NUL-padded, cut to fit */
} vrnSystemState;

/* Fills state (every byte, gaps and unread fields zero). */
void vrnSystem_getState(vrnSystemState* state);

/* Fills buffer with length bytes from the kernel's random source. Returns 1 on
 * success, 0 when the source cannot deliver them. */
int vrnSystem_getEntropy(void* buffer, size_t length);

#ifdef __cplusplus
}
#endif

#endif
