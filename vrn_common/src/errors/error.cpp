#include "errors/error.h"

#include <unistd.h>

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "errors/error_log.h"
#include "errors/error_manager.h"
#include "support/cstring.h"
#include "support/memory.h"
#include "support/system.h"

namespace {

ErrorLog* logOf(const vrnError* e) { return e && e->manager ? e->manager->log : nullptr; }

const char* classLine(int errorClass) {
    switch (errorClass) {
    case VRN_CLASS_OK: return "Class       = vrnOK\n";
    case VRN_CLASS_WARNING: return "Class       = vrnWarning\n";
    case VRN_CLASS_USER_ERROR: return "Class       = vrnUserError\n";
    case VRN_CLASS_INTERNAL_ERROR: return "Class       = vrnInternalError\n";
    case VRN_CLASS_RESOURCE_ERROR: return "Class       = vrnResourceError\n";
    default: return "Class       = unknown\n";
    }
}

// Size in bytes of n items of `item` bytes for the tagged allocator; a size
// it cannot express takes its failure path instead of wrapping round.
int bytes(size_t n, size_t item) {
    return n <= static_cast<size_t>(INT_MAX) / item ? static_cast<int>(n * item) : -1;
}

void logBannerAndIdentity(const vrnError* e, const char* operation) {
    ErrorLog* log = logOf(e);
    if (!log) return;
    ErrorLog_writeBanner(log, operation);
    ErrorLog_write(log, "Identity    = %d\n", e->identity);
}

// Shows the error on the displays, forced or by its class level.
int showError(vrnError* e, int forced) {
    int shown = 0;
    if (e->manager) vrnErrorManager_displayError(e->manager, e, forced, &shown);
    if (shown) e->displayed = 1;
    return shown;
}

}  // namespace

extern "C" {

vrnError* vrnError_new(int code, const char* function, const char* sourceFile, int line) {
    auto* e = static_cast<vrnError*>(vrnCalloc(sizeof(vrnError), 0, "vrnError_new"));
    e->program = vrnLibrary_getProgramName();
    e->function = vrnCString_clone(function);
    e->sourceFile = vrnCString_clone(sourceFile);
    e->line = line;
    e->date = vrnGetDate();
    e->time = vrnGetTime();
    e->code = vrnErrorCode_getName(code) ? code : VRN_I_UNRECOGNISED_ERROR_CODE;
    e->identity = -1;
    e->manager = vrnErrorManager_get();
    if (e->manager) vrnErrorManager_addError(e->manager, e, &e->identity);
    e->fatal = vrnError_getClass(e) == VRN_CLASS_INTERNAL_ERROR ? 1 : 0;

    if (ErrorLog* log = logOf(e)) {
        ErrorLog_writeBanner(log, "vrnError_new");
        ErrorLog_write(log, "Identity    = %d\n", e->identity);
        ErrorLog_write(log, "%s", classLine(vrnError_getClass(e)));
        if (e->program) ErrorLog_write(log, "Program     = %s\n", e->program);
        if (e->function) ErrorLog_write(log, "Function    = %s\n", e->function);
        if (e->sourceFile) ErrorLog_write(log, "File        = %s\n", e->sourceFile);
        if (e->line > 0) ErrorLog_write(log, "Line number = %d\n", e->line);
        ErrorLog_write(log, "Error code  = %d\n", e->code);
        const char* text = vrnErrorCode_getDescription(e->code);
        ErrorLog_write(log, "Description = %s\n", text ? text : "");
        ErrorLog_write(log, "Fatal       = %d\n", e->fatal);
        if (e->context) ErrorLog_write(log, "Context     = %s\n", e->context);
        if (e->date) ErrorLog_write(log, "Date        = %s\n", e->date);
        if (e->time) ErrorLog_write(log, "Time        = %s\n", e->time);
    }
    return e;
}

void vrnError_addMessage(vrnError* e, const char* format, ...) {
    if (!e) return;
    va_list args;
    va_start(args, format);
    char* text = vrnCString_vbuild(format, args);
    va_end(args);

    // The message grows geometrically, so that a long message built from
    // many small pieces costs time linear in its length.
    const size_t add = std::strlen(text);
    const size_t need = static_cast<size_t>(e->messageLength) + add + 1;
    if (!e->message || need > static_cast<size_t>(e->messageCapacity)) {
        size_t room = e->messageCapacity > 0 ? static_cast<size_t>(e->messageCapacity) : 64;
        while (room < need) room *= 2;
        if (room > static_cast<size_t>(INT_MAX)) room = need;
        e->message = static_cast<char*>(vrnRealloc(e->message, bytes(room, 1), "vrnError_addMessage"));
        e->messageCapacity = static_cast<int>(room);
    }
    std::memcpy(e->message + e->messageLength, text, add + 1);
    e->messageLength += static_cast<int>(add);
    vrnCString_free(text);

    if (ErrorLog* log = logOf(e)) {
        logBannerAndIdentity(e, "vrnError_addMessage");
        ErrorLog_write(log, "Message     = \\\n%s", e->message);
    }
}

void vrnError_addDescription(vrnError* e, const char* text) {
    if (!e || !text) return;
    vrnCString_reassign(&e->description, text);
    if (ErrorLog* log = logOf(e)) {
        logBannerAndIdentity(e, "vrnError_addDescription");
        ErrorLog_write(log, "Description = %s\n", e->description);
    }
}

const char* vrnError_getMessage(const vrnError* e) { return e ? e->message : nullptr; }

const char* vrnError_getDescription(const vrnError* e) {
    if (!e) return nullptr;
    return e->description ? e->description : vrnErrorCode_getDescription(e->code);
}

int vrnError_getClass(const vrnError* e) {
    if (!e || e->code < 1) return VRN_CLASS_OK;
    if (e->code <= 10000) return VRN_CLASS_WARNING;
    if (e->code <= 20000) return VRN_CLASS_USER_ERROR;
    if (e->code <= 30000) return VRN_CLASS_INTERNAL_ERROR;
    return VRN_CLASS_RESOURCE_ERROR;
}

int vrnError_getIdentity(const vrnError* e) { return e ? e->identity : -1; }

void vrnError_publish(vrnError* e) {
    if (!e) return;
    if (!e->manager) {
        // The manager has been released at process end: nothing would ever
        // collect the error, so it goes at once.
        vrnError_delete(e);
        return;
    }
    int shown = showError(e, 0);
    if (ErrorLog* log = logOf(e)) {
        logBannerAndIdentity(e, "vrnError_publish");
        ErrorLog_write(log, "Displayed   = %d\n", shown);
    }
    vrnErrorManager_handleError(e->manager, e);
}

void vrnError_display(vrnError* e) {
    if (!e) return;
    int shown = showError(e, 1);
    if (ErrorLog* log = logOf(e)) {
        logBannerAndIdentity(e, "vrnError_display");
        ErrorLog_write(log, "Displayed   = %d\n", shown);
    }
}

void vrnError_die(vrnError* e) {
    if (e) {
        if (!e->displayed) vrnError_display(e);
        logBannerAndIdentity(e, "vrnError_die");
    }
    if (vrnMemory_isExiting()) {
        // Already inside an exit handler, where exit() may not be called.
        std::fflush(nullptr);
        _exit(1);
    }
    std::exit(1);
}

void vrnError_delete(vrnError* e) {
    if (!e) return;
    logBannerAndIdentity(e, "vrnError_delete");
    vrnFree(e->message, "vrnError_delete");
    vrnCString_free(e->program);
    vrnCString_free(e->function);
    vrnCString_free(e->context);
    vrnCString_free(e->sourceFile);
    vrnCString_free(e->description);
    vrnCString_free(e->date);
    vrnCString_free(e->time);
    for (CadPair*& list : e->cadPairs) {
        while (CadPair* pair = list) {
            list = pair->next;
            vrnFree(pair, "vrnError_delete");
        }
    }
    while (ErrorElement* element = e->elements) {
        e->elements = element->next;
        vrnFree(element, "vrnError_delete");
    }
    if (e->manager) vrnErrorManager_removeError(e->manager, e);
    vrnFree(e, "vrnError_delete");
}

int vrnError_addCadPair(vrnError* e, int dimension, int id1, int id2) {
    if (!e || dimension < 0 || dimension > 3) return 0;
    auto* pair = static_cast<CadPair*>(vrnMalloc(sizeof(CadPair), "vrnError_addCadPair"));
    pair->id1 = id1;
    pair->id2 = id2;
    pair->next = e->cadPairs[dimension];
    e->cadPairs[dimension] = pair;
    return 1;
}

int vrnError_addElement(vrnError* e, int type, int id, const double* nodes) {
    const int n = ElementTopology_getNoOfNodes(type);
    if (!e || n == 0) return 0;
    auto* element =
        static_cast<ErrorElement*>(vrnCalloc(sizeof(ErrorElement), 0, "vrnError_addElement"));
    if (nodes) std::memcpy(element->nodes, nodes, sizeof(double) * 3 * static_cast<size_t>(n));
    element->type = type;
    element->id = id;
    if (e->lastElement) e->lastElement->next = element;
    else e->elements = element;
    e->lastElement = element;
    return 1;
}

int vrnError_getCadPairs(const vrnError* e, int dimension, int** pairs) {
    if (!e || !pairs || dimension < 0 || dimension > 3) return 0;
    size_t n = 0;
    for (const CadPair* p = e->cadPairs[dimension]; p; p = p->next) ++n;
    if (n == 0) {
        *pairs = nullptr;
        return 0;
    }
    auto* out = static_cast<int*>(vrnMalloc(bytes(2 * n, sizeof(int)), "vrnError_getCadPairs"));
    // The list holds the newest pair first; the array gives them oldest first.
    size_t i = n;
    for (const CadPair* p = e->cadPairs[dimension]; p; p = p->next) {
        --i;
        out[2 * i] = p->id1;
        out[2 * i + 1] = p->id2;
    }
    *pairs = out;
    return static_cast<int>(n);
}

int vrnError_getElements(const vrnError* e, double** x, double** y, double** z, int** types,
                         int** ids) {
    size_t n = 0;
    if (e) {
        for (const ErrorElement* el = e->elements; el; el = el->next) ++n;
    }
    if (n == 0) {
        if (x) *x = nullptr;
        if (y) *y = nullptr;
        if (z) *z = nullptr;
        if (types) *types = nullptr;
        if (ids) *ids = nullptr;
        return 0;
    }
    const int pointBytes = bytes(8 * n, sizeof(double));
    auto* xs = static_cast<double*>(vrnMalloc(pointBytes, "vrnError_getElements"));
    auto* ys = static_cast<double*>(vrnMalloc(pointBytes, "vrnError_getElements"));
    auto* zs = static_cast<double*>(vrnMalloc(pointBytes, "vrnError_getElements"));
    auto* ts = static_cast<int*>(vrnMalloc(bytes(n, sizeof(int)), "vrnError_getElements"));
    auto* is = static_cast<int*>(vrnMalloc(bytes(n, sizeof(int)), "vrnError_getElements"));
    size_t point = 0, i = 0;
    for (const ErrorElement* el = e->elements; el; el = el->next, ++i) {
        const int nodes = ElementTopology_getNoOfNodes(el->type);
        for (int k = 0; k < nodes; ++k, ++point) {
            xs[point] = el->nodes[k][0];
            ys[point] = el->nodes[k][1];
            zs[point] = el->nodes[k][2];
        }
        ts[i] = el->type;
        is[i] = el->id;
    }
    auto hand = [](auto* out, auto* value, const char* tag) {
        if (out) *out = value;
        else vrnFree(value, tag);
    };
    hand(x, xs, "vrnError_getElements");
    hand(y, ys, "vrnError_getElements");
    hand(z, zs, "vrnError_getElements");
    hand(types, ts, "vrnError_getElements");
    hand(ids, is, "vrnError_getElements");
    return static_cast<int>(n);
}

}  // extern "C"
