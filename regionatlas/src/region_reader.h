/* The frame through which region maps and definitions are read from ORV
 * text, and small routines their readers and writers share. */
#pragma once

#include "region_status.h"
#include "region_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Reader callback: (object holder, ORV handle, object path or none). */
typedef RegionStatus* (*RegionORVReader)(void** object, OrvHandle* handle, const char* name);

RegionStatus* RegionReader_readORV(const char* className, void** object, int lineCount, char** lines,
                                   const char* name, RegionORVReader reader);
const char* RegionReader_formatError(const char* className, const char* reason);
int RegionReader_hasType(const char* type, const char* entry);
RegionStatus* RegionArray_delete(void** holder);
/* A new text of the dictionary texts of the keys joined with ", "; none for
 * no keys or when memory runs out. */
char* RegionNames_join(const unsigned* keys, unsigned n);

#ifdef __cplusplus
}
#endif
