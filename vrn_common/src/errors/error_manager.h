/* The error manager: the process-wide keeper of error objects. Every error
 * registers with it when created; publishing shows it on the displays when
 * the level of its class asks for display; the errors stay until the host
 * fetches them with vrnApp_getErrors and discards them with
 * vrnApp_clearErrors. */
#ifndef VRN_ERRORS_ERROR_MANAGER_H
#define VRN_ERRORS_ERROR_MANAGER_H

#include <stdio.h>

#include "errors/error.h"
#include "errors/error_log.h"

#ifdef __cplusplus
extern "C" {
#endif

struct Set;
typedef struct ErrorDisplay ErrorDisplay;

/* Levels of an error class. */
enum {
    VRN_LEVEL_DROP = 0,
    VRN_LEVEL_DISPLAY = 1,
    VRN_LEVEL_RECORD = 2,
    VRN_LEVEL_DISPLAY_AND_RECORD = 3
};

/* Returns 1 when it has dealt with the error, which is then deleted. */
typedef int (*vrnErrorHandler)(vrnError* error);

struct vrnErrorManager {
    int errorLevel[5];    /* per class 0..4; 3 at creation */
    vrnError** errors;    /* every living error, in creation order */
    int count;
    int capacity;         /* 10 at creation, doubled when full */
    ErrorLog* log;        /* NULL when none */
    int logging;          /* 1 when a log name was found at creation */
    int nextIdentity;
    int nextDisplayHandle;
    struct Set* displays; /* of ErrorDisplay* */
    vrnErrorHandler handler;
};

/* The manager, made on first use. NULL once the process has begun to end
 * and the manager has been released. */
vrnErrorManager* vrnErrorManager_get(void);
/* Makes a manager; the first one made becomes the process-wide manager
 * before anything else is consulted. Callers use vrnErrorManager_get. */
vrnErrorManager* vrnErrorManager_new(void);
void vrnErrorManager_delete(vrnErrorManager* manager);

int vrnErrorManager_addError(vrnErrorManager* manager, vrnError* error, int* identity);
int vrnErrorManager_removeError(vrnErrorManager* manager, vrnError* error);
/* *shown = 1 when the error went to the displays: always when forced, else
 * when the level of its class is 1 or 3. */
int vrnErrorManager_displayError(vrnErrorManager* manager, vrnError* error, int forced, int* shown);
/* Gives the error to the handler, if any; a handler status of 1 deletes it. */
void vrnErrorManager_handleError(vrnErrorManager* manager, vrnError* error);
/* A new array (free the array only, with vrnFree) of the errors whose class
 * level records them, in creation order; none gives 0 and NULL. */
int vrnErrorManager_getErrors(vrnErrorManager* manager, int* count, vrnError*** errors);
/* Deletes every error. */
int vrnErrorManager_clearErrors(vrnErrorManager* manager);
int vrnErrorManager_addDisplay(vrnErrorManager* manager, ErrorDisplay* display, int* handle);
int vrnErrorManager_detachDisplay(vrnErrorManager* manager, ErrorDisplay* display);
/* A display of kind `format` on the stream; 0 (and error 10020) for a kind
 * that has no display. */
int vrnErrorManager_addStreamDisplay(vrnErrorManager* manager, int format, FILE* stream,
                                     int* handle);
ErrorLog* vrnErrorManager_getErrorLog(vrnErrorManager* manager);

/* Public: the recorded errors (see vrnErrorManager_getErrors). Returns 1. */
int vrnApp_getErrors(int* count, vrnError*** errors);
/* Public: deletes every error. Returns 1. */
int vrnApp_clearErrors(void);

/* Raises an assertion failure (20002) from the given routine, file and line,
 * shows it on standard error and ends the process with status 1. */
void assert_flagError(const char* function, const char* sourceFile, int line,
                      const char* expression)
#if defined(__GNUC__)
    __attribute__((noreturn))
#endif
    ;

/* VRN_ASSERT("Routine_name", condition): fails the assertion when the
 * condition is false. */
#define VRN_ASSERT(function, expression) \
    ((expression) ? (void)0 : assert_flagError((function), __FILE__, __LINE__, #expression))

#ifdef __cplusplus
}
#endif

#endif
