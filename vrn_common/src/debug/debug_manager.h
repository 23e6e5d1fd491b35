/* The debug manager: reads the debug control file once per process and tells
 * each routine its trace levels, and names the other log files. */
#ifndef VRN_DEBUG_DEBUG_MANAGER_H
#define VRN_DEBUG_DEBUG_MANAGER_H

#include <limits.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A level that no rule sets. */
#define VRN_DEBUG_LEVEL_UNSET INT_MIN

typedef struct vrnDebugManager vrnDebugManager;

/* The process-wide manager, made on first use. NULL once its exit handler
 * has run. */
vrnDebugManager* vrnDebugManager_get(void);
/* levels: debug, self-testing, display, timing; VRN_DEBUG_LEVEL_UNSET when
 * no rule gives the routine a non-zero level. */
void vrnDebugManager_getLevels(vrnDebugManager* manager, const char* routineName, int levels[4]);
FILE* vrnDebugManager_getStream(vrnDebugManager* manager);
int vrnDebugManager_getDisplayErrors(vrnDebugManager* manager);
const char* vrnDebugManager_getErrorLogName(vrnDebugManager* manager);
const char* vrnDebugManager_getSessionFileName(vrnDebugManager* manager);

int vrnDebug_isActive(void);
FILE* vrnDebug_getStream(void);
void vrnDebug_printFunctionHeader(const char* routineName, const char* description,
                                  const int levels[4], int printLevels);

#ifdef __cplusplus
}

/* The debug preamble of a tracing routine, as one helper:
 *
 *     static vrnDebugPreamble debug;
 *     debug.enter("HashSet_resize", "Resize a hash set.");
 *     if (debug.tracing()) fprintf(vrnDebug_getStream(), "...");
 *
 * The routine's levels are looked up once per process, at its first traced
 * call; the function header is printed on every call while debugging is on
 * and the routine has a level. */
struct vrnDebugPreamble {
    int levels[4] = {VRN_DEBUG_LEVEL_UNSET, VRN_DEBUG_LEVEL_UNSET, VRN_DEBUG_LEVEL_UNSET,
                     VRN_DEBUG_LEVEL_UNSET};
    bool first = true;

    void enter(const char* name, const char* description) {
        if (!vrnDebug_isActive()) return;
        if (first) {
            vrnDebugManager_getLevels(vrnDebugManager_get(), name, levels);
            first = false;
            vrnDebug_printFunctionHeader(name, description, levels, 1);
        } else {
            vrnDebug_printFunctionHeader(name, description, levels, 0);
        }
    }
    /* Trace lines are written only at debug level 1 or more. */
    bool tracing() const {
        return levels[0] != VRN_DEBUG_LEVEL_UNSET && levels[0] >= 1 && vrnDebug_isActive();
    }
    int level(int which) const { return levels[which]; }
};
#endif

#endif
