/* The error log: a text file (or standard output or error) to which the
 * error layer writes a trace of everything that happens to errors. Every
 * line opens with "date (time): ". */
#ifndef VRN_ERRORS_ERROR_LOG_H
#define VRN_ERRORS_ERROR_LOG_H

#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ErrorLog {
    int active; /* 1 from creation */
    FILE* stream;
} ErrorLog;

/* NULL or "stderr": standard error; "stdout": standard output; any other
 * name is a file opened for writing with truncation. NULL when the file
 * cannot be opened. */
ErrorLog* ErrorLog_new(const char* name);
/* Closes the file unless it is standard output or error; frees the log. */
void ErrorLog_delete(ErrorLog* log);
/* Writes the formatted text with the "date (time): " prefix before every
 * line; the text is written as it stands and ends with a newline. */
void ErrorLog_write(ErrorLog* log, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
/* The operation's name between two rules of 53 dashes. */
void ErrorLog_writeBanner(ErrorLog* log, const char* name);

#ifdef __cplusplus
}
#endif

#endif
