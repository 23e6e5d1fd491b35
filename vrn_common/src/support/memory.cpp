#include "support/memory.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

MemoryMonitor* g_monitor = nullptr;
int g_initialised = 0;
int g_exiting = 0;
// Initialised and no monitor installed: the wrappers go straight to the
// system allocator after one test of this flag.
bool g_plain = false;

void setMonitor(MemoryMonitor* m) {
    g_monitor = m;
    g_plain = g_initialised && !g_monitor;
}

void initialise() {
    g_initialised = 1;
    const char* path = std::getenv("VRN_MEMORY_LOG");
    if (path && !g_monitor) g_monitor = MemoryMonitor_new(path);
    setMonitor(g_monitor);
}

inline void ensureInitialised() {
    if (!g_initialised) initialise();
}

[[noreturn]] void outOfMemory(const char* function, int size) {
    std::fprintf(stderr, "  Unable to allocate enough memory in function\n\n%s\n\n",
                 function ? function : "");
    std::fprintf(stderr, "  Requested number of bytes was %d.\n\n", size);
    std::fflush(stderr);
    if (g_exiting) _exit(1);
    std::exit(1);
}

void logLine(MemoryMonitor* m, const char* function, int delta, int total, char kind,
             const void* a) {
    std::fprintf(m->log, "%-35s %12d %12d %c %p\n", function ? function : "", delta, total,
                 kind, a);
    std::fflush(m->log);
}

// Blocks are looked up by address value: after a resize the old address may
// no longer point at anything, but it still names the block that moved.
MemoryBlock** findBlock(MemoryMonitor* m, std::uintptr_t address) {
    for (MemoryBlock** link = &m->blocks; *link; link = &(*link)->next) {
        if (reinterpret_cast<std::uintptr_t>((*link)->ptr) == address) return link;
    }
    return nullptr;
}

// The running total wraps round instead of overflowing when the monitor has
// seen more than 2 GiB live (the log shows 32-bit values).
inline int addToTotal(int total, int delta) {
    return static_cast<int>(static_cast<unsigned>(total) + static_cast<unsigned>(delta));
}

void recordAllocation(MemoryMonitor* m, void* p, int size, const char* function) {
    auto* block = static_cast<MemoryBlock*>(std::malloc(sizeof(MemoryBlock)));
    m->total = addToTotal(m->total, size);
    std::fprintf(m->log, "%-35s %12d %12d A %p\n", function ? function : "", size, m->total, p);
    std::fflush(m->log);
    if (!block) return;  // the monitor is a diagnostic: losing track is not fatal
    block->ptr = p;
    block->size = size;
    block->next = m->blocks;
    m->blocks = block;
}

void recordRelease(MemoryMonitor* m, void* p, const char* function) {
    MemoryBlock** link = findBlock(m, reinterpret_cast<std::uintptr_t>(p));
    if (!link) {
        std::fprintf(m->log, "%-35s            ?            ? F %p\n", function ? function : "", p);
        std::fflush(m->log);
        return;
    }
    MemoryBlock* block = *link;
    m->total = addToTotal(m->total, -block->size);
    logLine(m, function, -block->size, m->total, 'F', p);
    *link = block->next;
    std::free(block);
}

// The old address of a resize is only printed and compared as a number
// after the block has moved, which is what the compiler warns about here.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ >= 12
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuse-after-free"
#define VRN_END_OLD_ADDRESS_USE _Pragma("GCC diagnostic pop")
#else
#define VRN_END_OLD_ADDRESS_USE
#endif

void recordResize(MemoryMonitor* m, std::uintptr_t oldAddress, void* newPtr, int size,
                  const char* function) {
    void* oldPtr = reinterpret_cast<void*>(oldAddress);  // printed, never used
    MemoryBlock* block = nullptr;
    if (oldAddress) {
        MemoryBlock** link = findBlock(m, oldAddress);
        if (!link) {
            std::fprintf(m->log, "%-35s            ?            ? R %p %p\n",
                         function ? function : "", newPtr, oldPtr);
            std::fflush(m->log);
            return;
        }
        block = *link;
    } else {
        block = static_cast<MemoryBlock*>(std::malloc(sizeof(MemoryBlock)));
        if (!block) return;
        block->ptr = nullptr;
        block->size = 0;
        block->next = m->blocks;
        m->blocks = block;
    }
    m->total = addToTotal(m->total, size - block->size);
    std::fprintf(m->log, "%-35s %12d %12d R %p %p\n", function ? function : "", size - block->size,
                 m->total, newPtr, oldPtr);
    std::fflush(m->log);
    block->size = size;
    block->ptr = newPtr;
}

// The slow paths of vrnMalloc and vrnFree: first call, monitor, size 0 or
// below, allocation failure. Kept out of line so that the plain paths need
// no stack frame.
[[gnu::noinline]] void* monitoredMalloc(int size, const char* function) {
    ensureInitialised();
    if (size == 0) return nullptr;
    if (size < 0) outOfMemory(function, size);
    void* p = std::malloc(static_cast<size_t>(size));
    if (!p) outOfMemory(function, size);
    if (g_monitor) recordAllocation(g_monitor, p, size, function);
    return p;
}

[[gnu::noinline]] void monitoredFree(void* p, const char* function) {
    ensureInitialised();
    if (!p) return;
    if (g_monitor) recordRelease(g_monitor, p, function);
    std::free(p);
}

}  // namespace

extern "C" {

void* vrnMalloc(int size, const char* function) {
    if (__builtin_expect(g_plain && size > 0, 1)) {
        if (void* p = std::malloc(static_cast<size_t>(size))) return p;
    }
    return monitoredMalloc(size, function);
}

void* vrnCalloc(int size, unsigned char fill, const char* function) {
    void* p = vrnMalloc(size, function);
    if (p) std::memset(p, fill, static_cast<size_t>(size));
    return p;
}

void* vrnRealloc(void* p, int size, const char* function) {
    ensureInitialised();
    if (size == 0) {
        vrnFree(p, function);
        return nullptr;
    }
    if (size < 0) outOfMemory(function, size);
    const std::uintptr_t oldAddress = reinterpret_cast<std::uintptr_t>(p);
    void* q = std::realloc(p, static_cast<size_t>(size));
    if (!q) outOfMemory(function, size);
    if (g_monitor) recordResize(g_monitor, oldAddress, q, size, function);
    return q;
}
VRN_END_OLD_ADDRESS_USE

void vrnFree(void* p, const char* function) {
    if (__builtin_expect(g_plain, 1)) {
        std::free(p);
        return;
    }
    monitoredFree(p, function);
}

void vrnFreeAndClear(void** pp, const char* function) {
    if (!pp) return;
    vrnFree(*pp, function);
    *pp = nullptr;
}

void vrnFreeExternal(void* p, const char* /*function*/) { std::free(p); }

MemoryMonitor* vrnMemory_setMonitor(MemoryMonitor* m) {
    MemoryMonitor* previous = g_monitor;
    setMonitor(m);
    return previous;
}

MemoryMonitor* MemoryMonitor_new(const char* path) {
    auto* m = static_cast<MemoryMonitor*>(std::calloc(1, sizeof(MemoryMonitor)));
    if (!m) {
        std::fprintf(stderr, "\n\nERROR: Unable to allocate enough memory for memory logging.\n");
        std::fprintf(stderr, "       Memory logging has not been activated.\n\n");
        return nullptr;
    }
    m->log = path ? std::fopen(path, "we") : nullptr;  // close-on-exec
    if (!m->log) {
        std::fprintf(stderr, "\n\nERROR: Unable to open memory logging file %s.\n",
                     path ? path : "");
        std::fprintf(stderr, "       Memory logging has not been activated.\n\n");
        std::free(m);
        return nullptr;
    }
    // The record is three 32-bit words on the platform the log format was
    // made for; the first line always shows 12 so that logs compare.
    recordAllocation(m, m, 12, "MemoryMonitor_new");
    return m;
}

void MemoryMonitor_delete(MemoryMonitor* m) {
    if (!m) return;
    while (MemoryBlock* block = m->blocks) {
        m->total = addToTotal(m->total, -block->size);
        std::fprintf(m->log, "%-35s %12d %12d F %p\n", "MemoryMonitor_delete", -block->size,
                     m->total, block->ptr);
        m->blocks = block->next;
        std::free(block);
    }
    std::fflush(m->log);
    std::fclose(m->log);
    if (g_monitor == m) setMonitor(nullptr);
    std::free(m);
}

void vrnMemory_markExiting(void) { g_exiting = 1; }

int vrnMemory_isExiting(void) { return g_exiting; }

}  // extern "C"
