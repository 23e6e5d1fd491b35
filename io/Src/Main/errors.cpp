// Error reporting, trace output, the write-format rule and the upkeep of
// IO_file records: the small services every routine of the library uses.
#include "io_internal.h"

#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" const char *const kwxIoErrorText[IO_NUM_ERRORS] = {
    "Successful.",
    "Could not open file.",
    "There is no open file for this operation.",
    "File not found.",
    "Disk is full.",
    "Unexpected end-of-file.",
    "Permission denied.",
    "Could not close file.",
    "Could not seek to desired location.",
    "Could not determine location in file.",
    "Error reading from disk.",
    "Error writing to disk.",
    "Error parsing IO structures.",
    "Could not find requested dataset.  File could be invalid/corrupted.",
    "Not enough allocated memory for requested IO operation.",
    "IO dataset has incorrect format.",
    "More than one dataset matching description found.",
    "Could not find requested dataset.  File could be invalid.",
    "IO error read string information.  File could be invalid.",
    "Invalid error reporting routine passed to IO module.",
    "Invalid def/res file.  File could be corrupted.",
    "File is locked.  Remove the lock (lck) file if this shouldn't be the case.",
    "Unknown IO request made",
    "Data compression failed.",
    "File does not exist.",
    "The attribute does not exist.",
    "An unknown error has occurred.",
    "Dataset could not be converted.",
    "Unable to allocate enough memory for the requested operation.",
};

namespace {

// Trace switch: settled once per process at the first trace.
enum class TraceState { Unknown, Off, On };
TraceState g_trace = TraceState::Unknown;

// Rewrites the 64-bit conversion "%I64d" that older message texts use into
// the platform's own, so such texts still format right.
std::string portableFormat(const char *format) {
    std::string out;
    out.reserve(strlen(format) + 8);
    for (const char *p = format; *p; ++p) {
        if (p[0] == '%' && p[1] == '%') {
            out += "%%";
            ++p;
        } else if (p[0] == '%' && strncmp(p + 1, "I64", 3) == 0) {
            out += "%ll";
            p += 3;
        } else {
            out += *p;
        }
    }
    return out;
}

const char *systemErrorText(int err, const char *none) {
    if (err == 0) return none;
    const char *text = strerror(err);
    return text ? text : none;
}

}  // namespace

extern "C" const char *kwxIoErrorMessage(int code) {
    if (code < 0 || code >= IO_NUM_ERRORS) return kwxIoErrorText[IO_ERR_UNKNOWN];
    return kwxIoErrorText[code];
}

extern "C" char *kwxVFormatAlloc(const char *format, va_list args) {
    if (!format) return nullptr;
    if (!strchr(format, '%')) return strdup(format);
    std::string fmt = portableFormat(format);
    va_list copy;
    va_copy(copy, args);
    int n = vsnprintf(nullptr, 0, fmt.c_str(), copy);
    va_end(copy);
    if (n < 0) return strdup(format);
    char *buf = static_cast<char *>(malloc(static_cast<size_t>(n) + 1));
    if (!buf) return strdup(format);
    vsnprintf(buf, static_cast<size_t>(n) + 1, fmt.c_str(), args);
    return buf;
}

extern "C" char *kwxFormatAlloc(const char *format, ...) {
    va_list args;
    va_start(args, format);
    char *s = kwxVFormatAlloc(format, args);
    va_end(args);
    return s;
}

extern "C" int kwxIoDefaultErrorRoutine(const char *message, int length) {
    (void)length;
    fprintf(stderr, "IO: %s", message ? message : "");
    fflush(stderr);
    return 0;
}

extern "C" IO_error_routine kwxIoRoutine(const IO_file *record) {
    if (record && record->routine) return record->routine;
    return kwxIoDefaultErrorRoutine;
}

extern "C" int kwxIoTraceOn(void) {
    if (g_trace == TraceState::Unknown)
        g_trace = getenv("KWX_IO_TRACE") ? TraceState::On : TraceState::Off;
    return g_trace == TraceState::On;
}

extern "C" void kwxIoTrace(const char *format, ...) {
    if (!format || !kwxIoTraceOn()) return;
    va_list args;
    va_start(args, format);
    char *text = kwxVFormatAlloc(format, args);
    va_end(args);
    if (!text) return;
    size_t n = strlen(text);
    fputs("TRACE> ", stdout);
    fputs(text, stdout);
    if (n == 0 || text[n - 1] != '\n') fputc('\n', stdout);
    fflush(stdout);
    free(text);
}

extern "C" void kwxIoVError(IO_error_routine routine, const char *format, va_list args) {
    if (!format) return;
    if (!routine) routine = kwxIoDefaultErrorRoutine;
    char *text = kwxVFormatAlloc(format, args);
    if (!text) {
        routine(format, static_cast<int>(strlen(format)));
        return;
    }
    size_t n = strlen(text);
    if (n == 0 || text[n - 1] != '\n') {
        char *longer = static_cast<char *>(realloc(text, n + 2));
        if (longer) {
            text = longer;
            text[n++] = '\n';
            text[n] = '\0';
        }
    }
    routine(text, static_cast<int>(n));
    // The debugger hooks of the original platform: here the message goes to
    // standard error when error debugging is asked for.
    if (getenv("KWX_IO_DEBUG_ERRORS")) {
        fprintf(stderr, "kwxio debug: %s", text);
        if (n == 0 || text[n - 1] != '\n') fputc('\n', stderr);
        fflush(stderr);
    }
    kwxIoTrace("%s", text);
    free(text);
}

extern "C" void kwxIoError(IO_error_routine routine, const char *format, ...) {
    va_list args;
    va_start(args, format);
    kwxIoVError(routine, format, args);
    va_end(args);
}

extern "C" void kwxsystemErr(IO_error_routine routine, const char *message) {
    int err = errno;
    const char *sys = systemErrorText(err, "errno is out-of-range");
    char *text = kwxFormatAlloc("%s: %s", message ? message : "", sys);
    if (!text) {
        fputs("kwxsystemErr: malloc failed\n", stdout);
        return;
    }
    kwxIoError(routine, "%s", text);
    free(text);
}

extern "C" int kwxIoSysError(IO_file *record, const char *format, ...) {
    if (!format) return IO_ERR_UNKNOWN;
    const char *sys = systemErrorText(errno, "unknown error");
    std::string systext = sys;
    va_list args;
    va_start(args, format);
    char *text = kwxVFormatAlloc(format, args);
    va_end(args);
    std::string msg = text ? text : format;
    free(text);
    msg += ": ";
    msg += systext;
    kwxIoError(kwxIoRoutine(record), "%s", msg.c_str());
    return 0;
}

extern "C" void kwxIoMallocFailed(IO_error_routine routine, const char *name, int64_t bytes) {
    char *text = kwxFormatAlloc("%s: malloc of %" PRId64 " bytes failed", name ? name : "", bytes);
    if (!text) {
        printf("%s: malloc of %" PRId64 " bytes failed\n", name ? name : "", bytes);
        kwxIoError(routine, "memory allocation failure");
        return;
    }
    kwxIoError(routine, "%s", text);
    free(text);
}

extern "C" int kwxIoNoMemory(IO_error_routine routine, int code, const char *who, int64_t bytes) {
    if (!who) who = "";
    if (bytes >= 0) {
        kwxIoMallocFailed(routine, who, bytes);
    } else {
        size_t n = strlen(who);
        if (n >= 7 && strcmp(who + n - 7, "syserr:") == 0) {
            errno = ENOMEM;
            kwxsystemErr(routine, who);
        } else {
            kwxIoError(routine, "%s", who);
        }
    }
    return code;
}

namespace {
// Allocations left before the one the test hook fails (0: the hook is off),
// and allocations counted since the hook was last set.
int g_failCountdown = 0;
int g_allocationsCounted = 0;
}  // namespace

extern "C" int kwxIoAllocationFails(void) {
    ++g_allocationsCounted;
    if (g_failCountdown <= 0) return 0;
    if (--g_failCountdown > 0) return 0;
    errno = ENOMEM;
    return 1;
}

extern "C" int kwxIoFailAllocation(int n) {
    int counted = g_allocationsCounted;
    g_allocationsCounted = 0;
    g_failCountdown = n > 0 ? n : 0;
    return counted;
}

extern "C" void *kwxIoMalloc(size_t bytes) {
    return kwxIoAllocationFails() ? nullptr : malloc(bytes);
}

extern "C" void *kwxIoCalloc(size_t count, size_t size) {
    return kwxIoAllocationFails() ? nullptr : calloc(count, size);
}

extern "C" void *kwxIoRealloc(void *old, size_t bytes) {
    return kwxIoAllocationFails() ? nullptr : realloc(old, bytes);
}

extern "C" char *kwxIoStrdup(const char *text) {
    return kwxIoAllocationFails() ? nullptr : strdup(text);
}

// Picks the format of the next dataset: KWX_FORMAT first (a letter outside
// the live set, or a deletion mark, falls back to text so that nothing is
// ever written pre-marked deleted), then the control block's default, then
// "U5"; the result is made native.
extern "C" int iofmt_default(IO_error_routine routine, char *format, const char *defaultformat) {
    if (!format) return IO_ERR_MEMORY;
    const char *env = getenv("KWX_FORMAT");
    if (env) {
        format[0] = env[0];
        format[1] = env[0] ? env[1] : '\0';
        format[2] = '\0';
        if (!iofmt_is_live(format[0])) {
            format[0] = 'F';
            format[1] = '\0';
        }
    } else if (defaultformat && defaultformat[0]) {
        format[0] = defaultformat[0];
        format[1] = defaultformat[1];
        format[2] = '\0';
        if (!iofmt_is_live(format[0])) {
            format[0] = 'F';
            format[1] = '\0';
        }
    } else {
        format[0] = 'U';
        format[1] = '5';
        format[2] = '\0';
    }
    // One rule for compression: only a digit '1'-'9' is a level.
    if (!(format[1] >= '1' && format[1] <= '9')) format[1] = '\0';
    iofmt_make_native(routine, format);
    return 0;
}

extern "C" int filerec_reset(IO_file *record) {
    if (!record) return 0;
    kwxIndexForgetRecord(record);
    char fmt[3];
    memcpy(fmt, record->format, 3);
    memset(record, 0, sizeof *record);
    memcpy(record->format, fmt, 3);
    record->routine = kwxIoDefaultErrorRoutine;
    return 0;
}

extern "C" void filerec_release(IO_file *record) {
    if (!record) return;
    kwxIndexForgetRecord(record);
    free(record->filename);
    record->filename = nullptr;
    free(record->indextable);
    record->indextable = nullptr;
    kwxIndexDropViews(record);
    if (record->stream) fclose(record->stream);
    record->stream = nullptr;
}

extern "C" void filerec_free(IO_error_routine routine, IO_file *record) {
    (void)routine;
    if (!record) return;
    filerec_release(record);
    record->nlines = 0;
    record->indexpos = 0;
    record->openmode = 'w';
}

extern "C" void iocnt_releaseFiles(IO_error_routine routine, IO_file *first, IO_file *second) {
    if (first) filerec_free(routine, first);
    if (second) filerec_free(routine, second);
}
