#include "errors/error_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "support/cstring.h"
#include "support/memory.h"
#include "support/system.h"

namespace {

// "date (time): ", or "" when either is unavailable.
std::string linePrefix() {
    char* date = vrnGetDate();
    char* time = vrnGetTime();
    std::string prefix;
    if (date && time) prefix = std::string(date) + " (" + time + "): ";
    vrnCString_free(date);
    vrnCString_free(time);
    return prefix;
}

}  // namespace

extern "C" {

ErrorLog* ErrorLog_new(const char* name) {
    FILE* stream = nullptr;
    if (!name || std::strcmp(name, "stderr") == 0) {
        stream = stderr;
    } else if (std::strcmp(name, "stdout") == 0) {
        stream = stdout;
    } else {
        stream = std::fopen(name, "we");  // close-on-exec: children never inherit it
        if (!stream) return nullptr;
    }
    auto* log = static_cast<ErrorLog*>(vrnCalloc(sizeof(ErrorLog), 0, "ErrorLog_new"));
    log->active = 1;
    log->stream = stream;
    return log;
}

void ErrorLog_delete(ErrorLog* log) {
    if (!log) return;
    if (log->stream && log->stream != stdout && log->stream != stderr) std::fclose(log->stream);
    else if (log->stream) std::fflush(log->stream);
    vrnFree(log, "ErrorLog_delete");
}

void ErrorLog_write(ErrorLog* log, const char* format, ...) {
    if (!log || !log->active || !log->stream) return;
    va_list args;
    va_start(args, format);
    char* text = vrnCString_vbuild(format, args);
    va_end(args);

    const std::string prefix = linePrefix();
    std::string out = prefix;
    const size_t len = std::strlen(text);
    out.reserve(prefix.size() + len + 1);
    for (size_t i = 0; i < len; ++i) {
        out += text[i];
        if (text[i] == '\n' && i + 1 < len) out += prefix;
    }
    if (len == 0 || text[len - 1] != '\n') out += '\n';
    vrnCString_free(text);

    std::fwrite(out.data(), 1, out.size(), log->stream);
    std::fflush(log->stream);
}

void ErrorLog_writeBanner(ErrorLog* log, const char* name) {
    ErrorLog_write(log,
                   "-----------------------------------------------------\n%s\n"
                   "-----------------------------------------------------\n",
                   name ? name : "");
}

}  // extern "C"
