#include "errors/error_display.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "errors/error_display_formats.h"
#include "errors/error_manager.h"
#include "interprocess/conduit.h"
#include "support/cstring.h"
#include "support/memory.h"
#include "support/system.h"

namespace {

void displayAssertion(ErrorDisplay* d, vrnError* e) {
    ErrorDisplay_display(d, "%s",
                         "========================================================================\n"
                         "*************************** Assertion failure **************************\n"
                         "========================================================================\n");
    const char* message = vrnError_getMessage(e);
    ErrorDisplay_display(d, "\n%s\n", message ? message : "");
    char* build = vrnLibrary_getBuild();
    ErrorDisplay_display(d, "Build number: %s\n", build ? build : "");
    vrnCString_free(build);
    ErrorDisplay_display(d, "%s",
                         "========================================================================\n");
}

}  // namespace

extern "C" {

ErrorDisplay* ErrorDisplay_new(int kind) {
    if (kind < VRN_DISPLAY_ASSERTION || kind > VRN_DISPLAY_ORV) return nullptr;
    auto* d = static_cast<ErrorDisplay*>(vrnCalloc(sizeof(ErrorDisplay), 0, "ErrorDisplay_new"));
    d->kind = kind;
    d->handle = -1;
    d->manager = vrnErrorManager_get();
    if (d->manager) vrnErrorManager_addDisplay(d->manager, d, &d->handle);
    return d;
}

ErrorDisplay* ErrorDisplay_newForStream(int kind, FILE* stream) {
    ErrorDisplay* d = ErrorDisplay_new(kind);
    if (!d) return nullptr;
    d->sink = VRN_DISPLAY_SINK_STREAM;
    d->stream = stream;
    return d;
}

void ErrorDisplay_delete(ErrorDisplay* d) {
    if (!d) return;
    if (d->manager) vrnErrorManager_detachDisplay(d->manager, d);
    if (d->stream && d->stream != stdout && d->stream != stderr) std::fclose(d->stream);
    vrnCString_free(d->text);
    vrnFree(d, "ErrorDisplay_delete");
}

void ErrorDisplay_display(ErrorDisplay* d, const char* format, ...) {
    if (!d) return;
    va_list args;
    va_start(args, format);
    if (d->sink == VRN_DISPLAY_SINK_STREAM) {
        if (d->stream) {
            std::vfprintf(d->stream, format, args);
            std::fflush(d->stream);
        }
    } else if (d->sink == VRN_DISPLAY_SINK_CONDUIT) {
        if (d->conduit) Conduit_vprintf(d->conduit, format, args);
    } else if (d->sink == VRN_DISPLAY_SINK_TEXT) {
        char* more = vrnCString_vbuild(format, args);
        d->text = vrnCString_cat(d->text, more, nullptr);
        vrnCString_free(more);
    }
    va_end(args);
}

void ErrorDisplay_flush(ErrorDisplay* d) {
    if (!d) return;
    if (d->sink == VRN_DISPLAY_SINK_STREAM) {
        if (d->stream) std::fflush(d->stream);
    } else if (d->sink == VRN_DISPLAY_SINK_TEXT) {
        if (d->flushRoutine) d->flushRoutine(d->text ? d->text : "");
        vrnCString_free(d->text);
        d->text = nullptr;
    }
}

void ErrorDisplay_displayError(ErrorDisplay* d, vrnError* e) {
    if (!d || !e) return;
    switch (d->kind) {
    case VRN_DISPLAY_ASSERTION: displayAssertion(d, e); break;
    case VRN_DISPLAY_ORV: ErrorDisplay_display(d, "%s", "ORV error display is not implemented yet.\n"); break;
    case VRN_DISPLAY_BUILD:
    case VRN_DISPLAY_BUILD_MARKED: ErrorDisplay_displayBuildBlock(d, e); break;
    case VRN_DISPLAY_RAW: ErrorDisplay_displayRawBlock(d, e); break;
    case VRN_DISPLAY_XML: ErrorDisplay_displayXml(d, e); break;
    default: break;
    }
    ErrorDisplay_flush(d);
}

}  // extern "C"
