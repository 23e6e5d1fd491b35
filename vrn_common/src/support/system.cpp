#include "support/system.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "debug/debug_manager.h"
#include "support/cstring.h"
#include "support/memory.h"
#include "utilities/uuid.h"
#include "vrn_platform.h"

namespace {

// Local time now, formatted; NULL when the time or the formatting fails.
char* formatNow(const char* format, const char* tag) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    if (now == static_cast<std::time_t>(-1) || !localtime_r(&now, &local)) return nullptr;
    char buffer[256];
    size_t len = std::strftime(buffer, sizeof buffer, format, &local);
    if (len == 0) return nullptr;
    char* r = static_cast<char*>(vrnMalloc(static_cast<int>(len + 1), tag));
    std::memcpy(r, buffer, len + 1);
    return r;
}

// No operation of this library sets it; hosts that embed the library may
// one day, and every reader already copes with its absence.
const char* g_programName = nullptr;

}  // namespace

extern "C" {

int vrnFileExists(const char* path) {
    struct stat st;
    return path && ::stat(path, &st) == 0 ? 1 : 0;
}

int vrnIsRegularFile(const char* path) {
    struct stat st;
    return path && ::stat(path, &st) == 0 && S_ISREG(st.st_mode) ? 1 : 0;
}

int vrnRemoveFile(const char* path) {
    if (!vrnIsRegularFile(path)) return 0;
    return ::unlink(path) == 0 ? 1 : 0;
}

int vrnRenameFile(const char* from, const char* to) {
    if (!from || !to) return 0;
    return std::rename(from, to) == 0 ? 1 : 0;
}

char* vrnGetWorkingDirectory(void) {
    // Only a buffer that is too small is worth a second try; any other
    // failure (a removed directory, no permission) stays a failure.
    for (size_t room = 512; room <= (static_cast<size_t>(1) << 30); room *= 2) {
        char* buffer = static_cast<char*>(vrnMalloc(static_cast<int>(room), "vrnGetWorkingDirectory"));
        if (::getcwd(buffer, room)) {
            char* r = vrnCString_clone(buffer);
            vrnFree(buffer, "vrnGetWorkingDirectory");
            return r;
        }
        int error = errno;
        vrnFree(buffer, "vrnGetWorkingDirectory");
        if (error != ERANGE) return nullptr;
    }
    return nullptr;
}

char* vrnGetDate(void) { return formatNow("%a %b %d %Y", "vrnGetDate"); }

char* vrnGetTime(void) { return formatNow("%X %Z", "vrnGetTime"); }

char* vrnGetHostname(void) {
    char buffer[1025];
    if (::gethostname(buffer, 1024) != 0) return nullptr;
    buffer[1024] = '\0';
    return vrnCString_clone(buffer);
}

}  // extern "C"

namespace {

void appendLine(std::string& out, const vrnBannerStyle& style, const char* label, const char* value) {
    out += style.prefix;
    size_t start = out.size();
    out += label;
    size_t used = out.size() - start;
    if (used < static_cast<size_t>(style.width)) out.append(static_cast<size_t>(style.width) - used, ' ');
    out += value;
    out += '\n';
}

// An identity line for a value handed over by its getter (freed here).
void appendOwned(std::string& out, const vrnBannerStyle& style, const char* label, char* value) {
    if (value) appendLine(out, style, label, value);
    vrnCString_free(value);
}

}  // namespace

std::string vrnStartBanner(const vrnBannerStyle& style) {
    std::string out;
    if (style.rule) out += style.rule;
    char* date = vrnGetDate();
    char* time = vrnGetTime();
    if (date && time) appendLine(out, style, style.startLabel, (std::string(date) + " " + time).c_str());
    else if (style.unknownStart) appendLine(out, style, style.startLabel, style.unknownStart);
    vrnCString_free(date);
    vrnCString_free(time);
    if (style.rule) out += style.rule;
    appendOwned(out, style, "Application:", vrnLibrary_getProgramName());
    appendOwned(out, style, "VRN build:", vrnLibrary_getBuild());
    appendOwned(out, style, "Release number:", vrnLibrary_getReleaseNumber());
    appendOwned(out, style, "Running on:", vrnGetHostname());
    appendOwned(out, style, "Running in:", vrnGetWorkingDirectory());
    if (style.rule) out += style.rule;
    return out;
}

extern "C" {

void vrnSleep(int seconds) {
    // In steps that fit the milliseconds of one platform sleep.
    const int step = 1000000;
    for (; seconds > 0; seconds -= step)
        vrnPlatform_sleepMilliseconds((seconds < step ? seconds : step) * 1000);
}

char* vrnGetTemporaryFileName(const char* prefix) {
    return vrnGetTemporaryFileNameIn(nullptr, prefix);
}

char* vrnGetTemporaryFileNameIn(const char* folder, const char* prefix) {
    static vrnDebugPreamble debug;
    debug.enter("vrnGetTemporaryFileName", "Generate a unique name for a temporary file.");

    char* name = nullptr;
    for (int attempt = 0; attempt < 10; ++attempt) {
        vrnCString_free(name);
        vrnUUID* uuid = vrnUUID_new();
        char text[23];
        vrnUUID_toBase64(uuid, text);
        vrnUUID_delete(uuid);
        for (char* c = text; *c; ++c) {
            if (*c == '/') *c = '=';  // a name, not a path
        }
        const char* in = folder ? folder : "";
        name = prefix ? vrnCString_merge(in, prefix, ".", text, ".tmp", nullptr)
                      : vrnCString_merge(in, text, ".tmp", nullptr);
        if (debug.tracing()) std::fprintf(vrnDebug_getStream(), "Filename = %s\n", name);
        if (!vrnIsRegularFile(name)) break;
    }
    return name;
}

int vrnIsEnvironmentVariableSet(const char* name) {
    return name && std::getenv(name) ? 1 : 0;
}

char* vrnReadEnvironmentVariable(const char* name, const char* defaultValue) {
    static vrnDebugPreamble debug;
    debug.enter("vrnReadEnvironmentVariable", "Read an environment variable.");

    const char* value = name ? std::getenv(name) : nullptr;
    char* result = vrnCString_clone(value ? value : defaultValue);
    if (debug.tracing()) {
        FILE* out = vrnDebug_getStream();
        const char* shownName = name ? name : "";
        std::fputs("Environment variable: ", out);
        if (value) {
            std::fprintf(out, "[Set]     %s = %s\n", shownName, value);
        } else if (defaultValue) {
            std::fprintf(out, "[Default] %s = %s\n", shownName, defaultValue);
        } else {
            std::fprintf(out, "[Unset]   %s = \n", shownName);
        }
    }
    return result;
}

const char* vrnBuildInfo_get(int selector) {
    switch (selector) {
    case 1: return "KWX-14.0 build 2011.10.10-23.02";
    case 2: return "Licensed software. All rights reserved.";
    case 3: return "14.0";
    case 4: return "2011.10.10-23.02";
    case 5:
    case 9: return "Mon Oct 10 23:02:13 GMTST 2011";
    case 6: return "2011";
    case 7: return "kwxs";
    case 8: return "product";
    default: return "(KWX-14.0 build 2011.10.10-23.02)";
    }
}

char* vrnLibrary_getBuild(void) { return vrnCString_clone(vrnBuildInfo_get(4)); }

char* vrnLibrary_getReleaseNumber(void) { return vrnCString_clone(vrnBuildInfo_get(3)); }

char* vrnLibrary_getVersionString(void) {
    return vrnCString_merge(vrnBuildInfo_get(3), " (", vrnBuildInfo_get(4), ")", nullptr);
}

char* vrnLibrary_getProgramName(void) { return vrnCString_clone(g_programName); }

}  // extern "C"
