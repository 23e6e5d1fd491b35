#include "errors/error_manager.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "debug/debug_manager.h"
#include "debug/session_file.h"
#include "errors/error_display.h"
#include "support/cstring.h"
#include "support/exit_handler.h"
#include "support/memory.h"
#include "support/set.h"
#include "support/system.h"

namespace {

vrnErrorManager* g_manager = nullptr;

void releaseAtExit() {
    vrnErrorManager* m = g_manager;
    g_manager = nullptr;
    if (m) vrnErrorManager_delete(m);
}

// Once it has run the manager stays off.
using AtExit = vrnExitHandler<releaseAtExit>;

// A copy of the first n pointers, so that a list can be walked while the
// routines called for its members change it.
template <typename T>
T** snapshot(T* const* items, int n, const char* tag) {
    if (n <= 0) return nullptr;
    auto** copy = static_cast<T**>(vrnMalloc(static_cast<int>(sizeof(T*)) * n, tag));
    std::memcpy(copy, items, sizeof(T*) * static_cast<size_t>(n));
    return copy;
}

// Deletes every error of the list. The list is emptied first, so that each
// deletion finds nothing to take out and the whole stays linear.
void deleteAllErrors(vrnErrorManager* m, const char* tag) {
    const int n = m->count;
    vrnError** errors = snapshot(m->errors, n, tag);
    m->count = 0;
    for (int i = 0; i < n; ++i) vrnError_delete(errors[i]);
    vrnFree(errors, tag);
}

void writeHeader(vrnErrorManager* m) {
    ErrorLog* log = m->log;
    const std::string banner = vrnStartBanner({"", "Started:", 16, nullptr, nullptr});
    ErrorLog_write(log, "%s", banner.c_str());
    ErrorLog_writeBanner(log, "vrnErrorManager_new");
    for (int i = 0; i < 5; ++i) ErrorLog_write(log, "m_errorLevel[%d] = %d\n", i, m->errorLevel[i]);
}

}  // namespace

extern "C" {

vrnErrorManager* vrnErrorManager_get(void) {
    if (g_manager || AtExit::hasRun()) return g_manager;
    // The debug manager first: the warnings it raises about its control file
    // are published once it exists and make this manager on the way, complete
    // and with the file's settings.
    vrnDebugManager_get();
    if (g_manager || AtExit::hasRun()) return g_manager;
    vrnErrorManager* m = vrnErrorManager_new();
    AtExit::ensureRegistered();
    const int displayErrors = vrnDebugManager_getDisplayErrors(vrnDebugManager_get());
    int handle = -1;
    if (displayErrors == 1) vrnErrorManager_addStreamDisplay(m, VRN_DISPLAY_RAW, stdout, &handle);
    else if (displayErrors == 2) vrnErrorManager_addStreamDisplay(m, VRN_DISPLAY_RAW, stderr, &handle);
    return m;
}

vrnErrorManager* vrnErrorManager_new(void) {
    auto* m = static_cast<vrnErrorManager*>(
        vrnCalloc(sizeof(vrnErrorManager), 0, "vrnErrorManager_new"));
    m->capacity = 10;
    m->errors = static_cast<vrnError**>(
        vrnMalloc(static_cast<int>(sizeof(vrnError*)) * m->capacity, "vrnErrorManager_new"));
    m->displays = Set_new(5);
    for (int& level : m->errorLevel) level = VRN_LEVEL_DISPLAY_AND_RECORD;

    // The manager is complete enough to take errors before anything else is
    // consulted: reading the settings below may make the debug manager,
    // which reports bad control files as errors.
    if (!g_manager && !AtExit::hasRun()) g_manager = m;

    char* logName = vrnReadEnvironmentVariable("VRN_ERROR_LOG", nullptr);
    if (!logName) logName = vrnCString_clone(vrnDebugManager_getErrorLogName(vrnDebugManager_get()));
    if (logName) {
        m->logging = 1;
        m->log = ErrorLog_new(logName);
        vrnCString_free(logName);
    }
    if (vrnIsEnvironmentVariableSet("VRN_SUPPRESS_WARNINGS"))
        m->errorLevel[VRN_CLASS_WARNING] = VRN_LEVEL_DROP;
    if (m->log) writeHeader(m);
    return m;
}

void vrnErrorManager_delete(vrnErrorManager* m) {
    if (!m) return;
    if (g_manager == m) g_manager = nullptr;
    deleteAllErrors(m, "vrnErrorManager_delete");
    vrnFree(m->errors, "vrnErrorManager_delete");
    m->errors = nullptr;
    if (m->displays) {
        const int n = m->displays->count;
        ErrorDisplay** displays = snapshot(
            reinterpret_cast<ErrorDisplay* const*>(m->displays->members), n, "vrnErrorManager_delete");
        for (int i = 0; i < n; ++i) ErrorDisplay_delete(displays[i]);
        vrnFree(displays, "vrnErrorManager_delete");
        Set_delete(m->displays);
    }
    ErrorLog_delete(m->log);
    vrnFree(m, "vrnErrorManager_delete");
}

int vrnErrorManager_addError(vrnErrorManager* m, vrnError* e, int* identity) {
    if (!m || !e) return 0;
    if (m->count == m->capacity) {
        m->capacity *= 2;
        m->errors = static_cast<vrnError**>(vrnRealloc(
            m->errors, static_cast<int>(sizeof(vrnError*)) * m->capacity, "vrnErrorManager_addError"));
    }
    m->errors[m->count++] = e;
    if (identity) *identity = m->nextIdentity;
    ++m->nextIdentity;
    return 1;
}

int vrnErrorManager_removeError(vrnErrorManager* m, vrnError* e) {
    if (!m) return 0;
    int kept = 0;
    for (int i = 0; i < m->count; ++i) {
        if (m->errors[i] != e) m->errors[kept++] = m->errors[i];
    }
    m->count = kept;
    return 1;
}

int vrnErrorManager_displayError(vrnErrorManager* m, vrnError* e, int forced, int* shown) {
    if (shown) *shown = 0;
    if (!m || !e) return 0;
    if (!forced) {
        const int level = m->errorLevel[vrnError_getClass(e)];
        if (level != VRN_LEVEL_DISPLAY && level != VRN_LEVEL_DISPLAY_AND_RECORD) return 1;
    }
    if (shown) *shown = 1;
    const int n = m->displays ? m->displays->count : 0;
    if (n == 0) return 1;
    ErrorDisplay** displays = snapshot(
        reinterpret_cast<ErrorDisplay* const*>(m->displays->members), n, "vrnErrorManager_displayError");
    for (int i = 0; i < n; ++i) ErrorDisplay_displayError(displays[i], e);
    vrnFree(displays, "vrnErrorManager_displayError");
    return 1;
}

void vrnErrorManager_handleError(vrnErrorManager* m, vrnError* e) {
    if (!m || !m->handler) return;
    vrnErrorHandler handler = m->handler;
    const int status = handler(e);
    if (status == 1) vrnError_delete(e);
    if (m->log) {
        ErrorLog_writeBanner(m->log, "vrnErrorManager_handleError");
        ErrorLog_write(m->log, "Handler = %p\n", reinterpret_cast<void*>(handler));
        ErrorLog_write(m->log, "Status  = %d\n", status);
    }
}

int vrnErrorManager_getErrors(vrnErrorManager* m, int* count, vrnError*** errors) {
    if (count) *count = 0;
    if (errors) *errors = nullptr;
    if (!m || !count || !errors || m->count == 0) return 1;
    auto** out = static_cast<vrnError**>(
        vrnMalloc(static_cast<int>(sizeof(vrnError*)) * m->count, "vrnErrorManager_getErrors"));
    int n = 0;
    for (int i = 0; i < m->count; ++i) {
        vrnError* e = m->errors[i];
        if (m->errorLevel[vrnError_getClass(e)] > VRN_LEVEL_DISPLAY) out[n++] = e;
    }
    if (n == 0) {
        vrnFree(out, "vrnErrorManager_getErrors");
        return 1;
    }
    *count = n;
    *errors = out;
    return 1;
}

int vrnErrorManager_clearErrors(vrnErrorManager* m) {
    if (!m) return 0;
    deleteAllErrors(m, "vrnErrorManager_clearErrors");
    return 1;
}

int vrnErrorManager_addDisplay(vrnErrorManager* m, ErrorDisplay* display, int* handle) {
    if (!m || !display) return 0;
    const int added = Set_add(m->displays, display);
    if (handle) *handle = added ? m->nextDisplayHandle : -1;
    if (added) ++m->nextDisplayHandle;
    return 1;
}

int vrnErrorManager_detachDisplay(vrnErrorManager* m, ErrorDisplay* display) {
    if (!m) return 0;
    Set_remove(m->displays, display);
    return 1;
}

int vrnErrorManager_addStreamDisplay(vrnErrorManager* m, int format, FILE* stream, int* handle) {
    ErrorDisplay* display = ErrorDisplay_newForStream(format, stream);
    if (!display) {
        vrnError* e = vrnError_new(VRN_U_INVALID_INPUT, "vrnErrorManager_addStreamDisplay", __FILE__,
                                   __LINE__);
        vrnError_addMessage(e, "format = %d\n", format);
        vrnError_publish(e);
        return 0;
    }
    if (handle) *handle = display->handle;
    if (m && m->log) {
        ErrorLog_writeBanner(m->log, "vrnErrorManager_addStreamDisplay");
        ErrorLog_write(m->log, "Format = %d\n", format);
        ErrorLog_write(m->log, "Handle = %d\n", display->handle);
    }
    return 1;
}

ErrorLog* vrnErrorManager_getErrorLog(vrnErrorManager* m) { return m ? m->log : nullptr; }

int vrnApp_getErrors(int* count, vrnError*** errors) {
    vrnErrorManager* m = vrnErrorManager_get();
    int localCount = 0;
    vrnError** localErrors = nullptr;
    if (count) *count = 0;
    if (errors) *errors = nullptr;
    const int status = vrnErrorManager_getErrors(m, &localCount, &localErrors);
    if (count && errors) {
        *count = localCount;
        *errors = localErrors;
    } else {
        vrnFree(localErrors, "vrnApp_getErrors");  // nowhere to hand it
    }
    if (SessionFile_record(nullptr, status)) SessionFile_write("vrnApp_getErrors");
    return 1;
}

int vrnApp_clearErrors(void) {
    vrnErrorManager* m = vrnErrorManager_get();
    const int status = m ? vrnErrorManager_clearErrors(m) : 1;
    if (SessionFile_record(nullptr, status)) SessionFile_write("vrnApp_clearErrors");
    return 1;
}

void assert_flagError(const char* function, const char* sourceFile, int line,
                      const char* expression) {
    if (!function) function = "";
    if (!sourceFile) sourceFile = "";
    if (!expression) expression = "";
    vrnError* e = vrnError_new(VRN_I_FAILED_ASSERTION, function, sourceFile, line);
    std::string description = std::string("Assertion failed: ") + expression;
    vrnError_addDescription(e, description.c_str());
    vrnError_addMessage(e, "\nAssertion:   %s\nFunction:    %s\nFile:        %s\nLine number: %d\n\n",
                        expression, function, sourceFile, line);
    ErrorDisplay* display = ErrorDisplay_newForStream(VRN_DISPLAY_ASSERTION, stderr);
    if (!e->manager) {
        // Past the manager's release at process end: show it here directly.
        ErrorDisplay_displayError(display, e);
        e->displayed = 1;
    }
    vrnError_die(e);
}

}  // extern "C"
