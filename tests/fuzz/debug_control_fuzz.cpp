// Debug control files of any content: a manager reads the file (sections,
// rules and their patterns, logs, options), is asked for the levels of a
// few routine names and for its log names, and is freed. The warnings
// raised for bad lines are discarded after each input.
#include <stdlib.h>

#include <cstdint>
#include <string>

#include "debug/debug_manager.h"
#include "errors/error_manager.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool setUp = [] {
        setenv("VRN_DEBUG_CONTROL", vrnfuzz::tempFile("vrn.debug").c_str(), 1);
        setenv("VRN_DEBUG_LOG", vrnfuzz::tempFile("debug.log").c_str(), 1);
        setenv("VRN_SUPPRESS_WARNINGS", "", 1);
        return true;
    }();
    (void)setUp;
    vrnfuzz::writeInput("vrn.debug", data, size);
    vrnDebugManager* manager = vrnDebugManager_new();
    for (const char* routine : {"HashSet_add", "vrnError_new", "readOutput", "", "^$", "a.b*c"}) {
        int levels[4];
        vrnDebugManager_getLevels(manager, routine, levels);
    }
    vrnDebugManager_getDisplayErrors(manager);
    vrnDebugManager_getErrorLogName(manager);
    vrnDebugManager_getSessionFileName(manager);
    vrnDebugManager_getMemoryLogName(manager);
    vrnDebugManager_delete(manager);
    vrnApp_clearErrors();
    return 0;
}
