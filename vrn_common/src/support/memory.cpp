#include "support/memory.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

MemoryMonitor* g_monitor = nullptr;
int g_initialised = 0;
int g_exiting = 0;

void initialise() {
    g_initialised = 1;
    const char* path = std::getenv("VRN_MEMORY_LOG");
    if (path && !g_monitor) g_monitor = MemoryMonitor_new(path);
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

void logLine(const char* function, int delta, int total, char kind, const void* a) {
    std::fprintf(g_monitor->log, "%-35s %12d %12d %c %p\n", function ? function : "", delta, total,
                 kind, a);
    std::fflush(g_monitor->log);
}

MemoryBlock** findBlock(MemoryMonitor* m, const void* p) {
    for (MemoryBlock** link = &m->blocks; *link; link = &(*link)->next) {
        if ((*link)->ptr == p) return link;
    }
    return nullptr;
}

void recordAllocation(MemoryMonitor* m, void* p, int size, const char* function) {
    auto* block = static_cast<MemoryBlock*>(std::malloc(sizeof(MemoryBlock)));
    m->total += size;
    std::fprintf(m->log, "%-35s %12d %12d A %p\n", function ? function : "", size, m->total, p);
    std::fflush(m->log);
    if (!block) return;  // the monitor is a diagnostic: losing track is not fatal
    block->ptr = p;
    block->size = size;
    block->next = m->blocks;
    m->blocks = block;
}

void recordRelease(MemoryMonitor* m, void* p, const char* function) {
    MemoryBlock** link = findBlock(m, p);
    if (!link) {
        std::fprintf(m->log, "%-35s            ?            ? F %p\n", function ? function : "", p);
        std::fflush(m->log);
        return;
    }
    MemoryBlock* block = *link;
    m->total -= block->size;
    logLine(function, -block->size, m->total, 'F', p);
    *link = block->next;
    std::free(block);
}

void recordResize(MemoryMonitor* m, void* oldPtr, void* newPtr, int size, const char* function) {
    MemoryBlock* block = nullptr;
    if (oldPtr) {
        MemoryBlock** link = findBlock(m, oldPtr);
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
    m->total += size - block->size;
    std::fprintf(m->log, "%-35s %12d %12d R %p %p\n", function ? function : "", size - block->size,
                 m->total, newPtr, oldPtr);
    std::fflush(m->log);
    block->size = size;
    block->ptr = newPtr;
}

}  // namespace

extern "C" {

void* vrnMalloc(int size, const char* function) {
    ensureInitialised();
    if (size == 0) return nullptr;
    if (size < 0) outOfMemory(function, size);
    void* p = std::malloc(static_cast<size_t>(size));
    if (!p) outOfMemory(function, size);
    if (g_monitor) recordAllocation(g_monitor, p, size, function);
    return p;
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
    void* q = std::realloc(p, static_cast<size_t>(size));
    if (!q) outOfMemory(function, size);
    if (g_monitor) recordResize(g_monitor, p, q, size, function);
    return q;
}

void vrnFree(void* p, const char* function) {
    ensureInitialised();
    if (!p) return;
    if (g_monitor) recordRelease(g_monitor, p, function);
    std::free(p);
}

void vrnFreeAndClear(void** pp, const char* function) {
    if (!pp) return;
    vrnFree(*pp, function);
    *pp = nullptr;
}

void vrnFreeExternal(void* p, const char* /*function*/) { std::free(p); }

MemoryMonitor* vrnMemory_setMonitor(MemoryMonitor* m) {
    MemoryMonitor* previous = g_monitor;
    g_monitor = m;
    return previous;
}

MemoryMonitor* MemoryMonitor_new(const char* path) {
    auto* m = static_cast<MemoryMonitor*>(std::calloc(1, sizeof(MemoryMonitor)));
    if (!m) {
        std::fprintf(stderr, "\n\nERROR: Unable to allocate enough memory for memory logging.\n");
        std::fprintf(stderr, "       Memory logging has not been activated.\n\n");
        return nullptr;
    }
    m->log = path ? std::fopen(path, "w") : nullptr;
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
        m->total -= block->size;
        std::fprintf(m->log, "%-35s %12d %12d F %p\n", "MemoryMonitor_delete", -block->size,
                     m->total, block->ptr);
        m->blocks = block->next;
        std::free(block);
    }
    std::fflush(m->log);
    std::fclose(m->log);
    if (g_monitor == m) g_monitor = nullptr;
    std::free(m);
}

void vrnMemory_markExiting(void) { g_exiting = 1; }

int vrnMemory_isExiting(void) { return g_exiting; }

}  // extern "C"
