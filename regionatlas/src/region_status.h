/* Status records of the region atlas library.
 *
 * Every operation of the library answers with a pointer to one of two
 * process-wide records: the no-error record, which never changes, and the
 * error record, which each new error overwrites. Callers read (and copy) a
 * status before calling the library again. */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define REGION_STATUS_ERROR 0x01
#define REGION_STATUS_FATAL 0x02

typedef struct RegionStatus {
    int32_t code;
    char* message; /* owned; lines joined with "\n" */
    uint8_t flags;
} RegionStatus;

void RegionStatus_init(void);
int RegionStatus_set(RegionStatus** out, int isError, int code, const char* message);
int RegionStatus_appendMessage(RegionStatus* status, const char* text);
int RegionStatus_markFatal(RegionStatus* status);
int RegionStatus_isError(const RegionStatus* status);
int RegionStatus_getCode(const RegionStatus* status);
const char* RegionStatus_getCodeText(const RegionStatus* status);
/* The message cut into lines, each ending in '\n'; the caller frees each
 * line and the array with free(). */
int RegionStatus_getMessageLines(const RegionStatus* status, char*** lines, int* count);
RegionStatus* RegionStatus_outOfMemory(const char* what);

#ifdef __cplusplus
}
#endif
