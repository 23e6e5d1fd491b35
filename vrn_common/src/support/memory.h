/* Tagged memory: every heap block of VRN common is allocated, resized and
 * released through these wrappers, which take the calling routine's name so
 * that the memory log (VRN_MEMORY_LOG) can name the routine behind each
 * block. A failed allocation is never returned to the caller: it prints a
 * message on standard error and ends the process with status 1. */
#ifndef VRN_SUPPORT_MEMORY_H
#define VRN_SUPPORT_MEMORY_H

#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct MemoryBlock {
    void* ptr;
    int size;
    struct MemoryBlock* next;
} MemoryBlock;

typedef struct MemoryMonitor {
    int total;            /* bytes currently held, as far as the monitor saw */
    MemoryBlock* blocks;  /* newest first */
    FILE* log;
} MemoryMonitor;

void* vrnMalloc(int size, const char* function);
void* vrnCalloc(int size, unsigned char fill, const char* function);
void* vrnRealloc(void* p, int size, const char* function);
void vrnFree(void* p, const char* function);
void vrnFreeAndClear(void** pp, const char* function);
void vrnFreeExternal(void* p, const char* function);

/* Installs m as the current monitor (NULL: none); returns the previous one. */
MemoryMonitor* vrnMemory_setMonitor(MemoryMonitor* m);
MemoryMonitor* MemoryMonitor_new(const char* path);
void MemoryMonitor_delete(MemoryMonitor* m);

/* Called first by every exit handler of the system: from then on a failed
 * allocation ends the process with _exit(1), since calling exit() from
 * inside an exit handler is undefined. */
void vrnMemory_markExiting(void);
/* 1 once vrnMemory_markExiting has been called. */
int vrnMemory_isExiting(void);

#ifdef __cplusplus
}
#endif

#endif
