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

/* The process-wide manager, made on first use. NULL while it is being made
 * (so that what runs during its making, the error manager included, sees
 * the defaults) and once its exit handler has run. Warnings about the
 * control file are held back while the manager is made and published as
 * soon as it exists. The getters below accept NULL and then give the
 * defaults: no log names, DisplayErrors 0, no stream, every level unset. */
vrnDebugManager* vrnDebugManager_get(void);
/* levels: debug, self-testing, display, timing; VRN_DEBUG_LEVEL_UNSET when
 * no rule gives the routine a non-zero level. */
void vrnDebugManager_getLevels(vrnDebugManager* manager, const char* routineName, int levels[4]);
FILE* vrnDebugManager_getStream(vrnDebugManager* manager);
int vrnDebugManager_getDisplayErrors(vrnDebugManager* manager);
const char* vrnDebugManager_getErrorLogName(vrnDebugManager* manager);
const char* vrnDebugManager_getSessionFileName(vrnDebugManager* manager);

/* Makes a manager: locates the control file (VRN_DEBUG_CONTROL, else
 * "vrn.debug" in the working directory), reads it and, when it was read,
 * opens the debug log (VRN_DEBUG_LOG, else the LOGS "DEBUG" entry, else
 * standard output) and writes its header. Callers use vrnDebugManager_get. */
vrnDebugManager* vrnDebugManager_new(void);
/* Flushes and closes the log (unless standard output or error) and frees
 * the manager. */
void vrnDebugManager_delete(vrnDebugManager* manager);
/* 1 when the manager's control file was read, 0 when there is none or it
 * cannot be opened. */
int vrnDebugManager_readControlFile(vrnDebugManager* manager);
void vrnDebugManager_printHeader(vrnDebugManager* manager);
/* LOGS "MEMORY" and the debug log's name; NULL when not given. */
const char* vrnDebugManager_getMemoryLogName(vrnDebugManager* manager);
const char* vrnDebugManager_getLogName(vrnDebugManager* manager);

/* 1 when the debug log is open. Never makes a manager while one is being
 * made or after the process-end handler released it: then 0. */
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
