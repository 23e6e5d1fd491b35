// Opens arbitrary bytes as a model database file: the database, its state
// manager (which rebuilds every stored object and runs undo and redo over
// the stored states) and the closing purge. The first byte picks the purge
// mode; the rest is the file. Everything happens in a temporary folder that
// is removed afterwards.
#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "database/state_manager.h"
#include "errors/error_manager.h"
#include "support/memory.h"

namespace {

std::string makeFolder() {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/vrnfuzzXXXXXX";
    if (!mkdtemp(&pattern[0])) return "";
    return pattern;
}

void removeFolder(const std::string& dir) {
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (strcmp(e->d_name, ".") && strcmp(e->d_name, "..")) unlink((dir + "/" + e->d_name).c_str());
        closedir(d);
    }
    rmdir(dir.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const int modes[] = {-1, 1, 0};
    int mode = modes[data[0] % 3];
    std::string dir = makeFolder();
    if (dir.empty()) return 0;
    std::string name = dir + "/input.vrn";
    if (FILE* f = fopen(name.c_str(), "wb")) {
        fwrite(data + 1, 1, size - 1, f);
        fclose(f);
    }
    vrnStateManager* m = vrnStateManager_new();
    vrnStateManager* previous = vrnStateManager_setGlobal(m);
    if (vrnStateManager_openDatabase(m, name.c_str())) {
        int count = 0;
        vrnObject** objects = nullptr;
        vrnStateManager_getObjectsByTypeName(m, "Model", &count, &objects);
        vrnFree(objects, "LLVMFuzzerTestOneInput");
        if (vrnStateManager_changeState(m, 1, -1)) vrnStateManager_changeState(m, 1, 1);
        vrnStateManager_closeDatabase(m, mode);
    }
    vrnStateManager_delete(m);
    vrnStateManager_setGlobal(previous);
    vrnApp_clearErrors();
    removeFolder(dir);
    return 0;
}
