/* Placeholder until the debug control file reader lands: debugging is off,
 * no log files are named, every level is unset. */
#include "debug/debug_manager.h"

extern "C" {

vrnDebugManager* vrnDebugManager_get(void) { return nullptr; }

void vrnDebugManager_getLevels(vrnDebugManager*, const char*, int levels[4]) {
    for (int i = 0; i < 4; ++i) levels[i] = VRN_DEBUG_LEVEL_UNSET;
}

FILE* vrnDebugManager_getStream(vrnDebugManager*) { return nullptr; }
int vrnDebugManager_getDisplayErrors(vrnDebugManager*) { return 0; }
const char* vrnDebugManager_getErrorLogName(vrnDebugManager*) { return nullptr; }
const char* vrnDebugManager_getSessionFileName(vrnDebugManager*) { return nullptr; }
int vrnDebug_isActive(void) { return 0; }
FILE* vrnDebug_getStream(void) { return nullptr; }
void vrnDebug_printFunctionHeader(const char*, const char*, const int*, int) {}

}  // extern "C"
