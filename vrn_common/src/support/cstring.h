/* C strings and string arrays. Every string handed out here is new, comes
 * from the tagged allocator under the routine's own name, and is owned by the
 * receiver, who frees it with vrnCString_free; arrays travel with their count
 * and are freed with vrnCStringArray_free. None of these routines reports an
 * error: a failed allocation ends the process. */
#ifndef VRN_SUPPORT_CSTRING_H
#define VRN_SUPPORT_CSTRING_H

#include <stdarg.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Flags of vrnCString_trimBlankLines. */
#define VRN_TRIM_LEADING_BLANK_LINES 1
#define VRN_TRIM_TRAILING_BLANK_LINES 2

/* A copy; NULL gives NULL. */
char* vrnCString_clone(const char* s);
/* A tagged copy of a string allocated outside the wrappers; s itself is
 * released with the plain system allocator. NULL gives NULL. */
char* vrnCString_import(char* s);
/* first followed by every further argument up to the first NULL one. The
 * list must end with NULL; first must not be NULL (NULL is taken as ""). */
char* vrnCString_merge(const char* first, ...);
/* As merge, but a NULL first counts as "" and first is freed afterwards, so
 * that s = vrnCString_cat(s, "more", NULL) grows s in place of itself. */
char* vrnCString_cat(char* first, ...);
/* The formatted text (printf rules), allocated to its exact length. */
char* vrnCString_build(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
char* vrnCString_vbuild(const char* format, va_list args);
/* The characters from index `from` up to, not including, `to`. Both indices
 * are clamped to the string; `to` not after `from` gives "". NULL gives NULL. */
char* vrnCString_substring(const char* s, int from, int to);
/* Frees *target and stores a copy of value (NULL stays NULL). */
void vrnCString_reassign(char** target, const char* value);
/* 1 for NULL, "" or whitespace only; else 0. */
int vrnCString_isBlank(const char* s);
/* A copy without leading and trailing whitespace, every inner run of
 * whitespace replaced by one blank. NULL gives NULL. */
char* vrnCString_normaliseSpace(const char* s);
/* A copy without the blank lines at the start (flag 1) and/or the end
 * (flag 2). Whitespace that is not followed (at the start) or preceded (at
 * the end) by a newline stays. Flags below 1 give a plain copy. */
char* vrnCString_trimBlankLines(const char* s, int flags);
void vrnCString_free(char* s);

/* Frees the n strings and then the array; a NULL array does nothing. */
void vrnCStringArray_free(char** array, int n);
/* The same with the plain system allocator, for arrays made outside. */
void vrnCStringArray_free_external(char** array, int n);
/* Splits s at every separator into a new array of *n strings. An empty field
 * gives "", a separator at the very end opens no further field; NULL or ""
 * gives NULL and 0. Returns 1. */
int vrnCStringArray_newFromPackedString(const char* s, char separator, char*** array, int* n);

#ifdef __cplusplus
}
#endif

#endif
