/* Error displays: each renders the errors that the error manager shows on
 * a stream, a conduit or a text buffer, in the format of its kind. */
#ifndef VRN_ERRORS_ERROR_DISPLAY_H
#define VRN_ERRORS_ERROR_DISPLAY_H

#include <stdio.h>

#include "errors/error.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Kinds. */
enum {
    VRN_DISPLAY_ASSERTION = -1,
    VRN_DISPLAY_BUILD = 0,
    VRN_DISPLAY_BUILD_MARKED = 1,
    VRN_DISPLAY_RAW = 2,
    VRN_DISPLAY_XML = 3,
    VRN_DISPLAY_ORV = 4
};

/* Sinks. */
enum { VRN_DISPLAY_SINK_STREAM = 0, VRN_DISPLAY_SINK_CONDUIT = 1, VRN_DISPLAY_SINK_TEXT = 2 };

struct Conduit;

typedef struct ErrorDisplay {
    vrnErrorManager* manager;
    int kind;
    int sink;
    int handle;
    FILE* stream;            /* sink 0 */
    struct Conduit* conduit; /* sink 1 */
    char* text;              /* sink 2: collected text */
    void (*flushRoutine)(const char* text);
} ErrorDisplay;

/* A display of the kind, registered with the error manager; NULL for a kind
 * outside -1..4. */
ErrorDisplay* ErrorDisplay_new(int kind);
ErrorDisplay* ErrorDisplay_newForStream(int kind, FILE* stream);
/* Detaches the display, closes its stream unless it is standard output or
 * error, frees it. */
void ErrorDisplay_delete(ErrorDisplay* display);
void ErrorDisplay_display(ErrorDisplay* display, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
void ErrorDisplay_flush(ErrorDisplay* display);
/* Renders one error in the display's format. */
void ErrorDisplay_displayError(ErrorDisplay* display, vrnError* error);

#ifdef __cplusplus
}
#endif

#endif
