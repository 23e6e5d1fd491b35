#include <ctype.h>
#include <string.h>

#include <string>

#include "errors/error.h"
#include "process/command.h"
#include "support/cstring.h"
#include "support/memory.h"
#include "support/system.h"

namespace {

std::string upper(const char* s, size_t n) {
    std::string out(s, n);
    for (char& c : out) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

extern "C" {

Environment* Environment_new(const char* prefix) {
    auto* env = static_cast<Environment*>(vrnCalloc(sizeof(Environment), 0, "Environment_new"));
    env->prefix = vrnCString_clone(prefix ? prefix : "KWX5");
    env->binDirVar = vrnCString_merge(env->prefix, "BINDIR", nullptr);
    env->execDirVar = vrnCString_merge(env->prefix, "EXECDIR", nullptr);
    env->tmpDirVar = vrnCString_clone("TMPDIR");
    env->binDir = vrnReadEnvironmentVariable(env->binDirVar, nullptr);
    env->execDir = vrnReadEnvironmentVariable(env->execDirVar, nullptr);
    if (env->binDir && env->execDir) {
        env->tmpDir = vrnReadEnvironmentVariable(env->tmpDirVar, ".");
        return env;
    }
    vrnError* e =
        vrnError_new(VRN_U_ENVIRONMENT_VARIABLE_NOT_SET, "Environment_new", __FILE__, __LINE__);
    if (!env->binDir && !env->execDir) {
        vrnError_addMessage(e,
                            "The environment variables:\n\n%s\n%s\n\nhave not been set. These "
                            "must be set for the program to operate correctly.\n",
                            env->binDirVar, env->execDirVar);
    } else {
        vrnError_addMessage(e,
                            "The environment variable:\n\n%s\n\nhas not been set. This must be "
                            "set for the program to operate correctly.\n",
                            env->binDir ? env->execDirVar : env->binDirVar);
    }
    vrnError_publish(e);
    Environment_delete(env);
    return nullptr;
}

void Environment_delete(Environment* env) {
    if (!env) return;
    vrnCString_free(env->prefix);
    vrnCString_free(env->binDir);
    vrnCString_free(env->execDir);
    vrnCString_free(env->tmpDir);
    vrnCString_free(env->binDirVar);
    vrnCString_free(env->execDirVar);
    vrnCString_free(env->tmpDirVar);
    vrnFree(env, "Environment_delete");
}

char* Environment_buildVariable(Environment* env, const char* command, int isExe) {
    std::string name;
    const char* prefix = env && env->prefix ? env->prefix : "";
    if (*prefix) name = upper(prefix, strlen(prefix)) + "_";
    size_t n = strlen(command);
    if (isExe && n >= 4) n -= 4;
    name += upper(command, n);
    name += isExe ? "_EXEC" : "_COMMAND";
    return vrnCString_clone(name.c_str());
}

char* Environment_findCommand(Environment* env, const char* command) {
    const size_t n = strlen(command);
    const int isExe = n > 3 && strcmp(command + n - 4, ".exe") == 0;
    char* variable = Environment_buildVariable(env, command, isExe);
    char* override = vrnReadEnvironmentVariable(variable, nullptr);
    vrnCString_free(variable);
    // An empty override names no program: the folders are searched.
    if (override && *override) return override;
    vrnCString_free(override);
    const char* binDir = env->binDir ? env->binDir : "";
    const char* execDir = env->execDir ? env->execDir : "";
    if (!isExe) return vrnCString_merge(binDir, "/", command, nullptr);
    char* inExec = vrnCString_merge(execDir, "/", command, nullptr);
    if (vrnFileExists(inExec)) return inExec;
    char* inBin = vrnCString_merge(binDir, "/", command, nullptr);
    if (vrnFileExists(inBin)) {
        vrnCString_free(inExec);
        return inBin;
    }
    vrnCString_free(inBin);
    return inExec;
}

}  // extern "C"
