/* Chained hash tables with sorted chains, the process-wide name dictionary
 * and growable strings of the region atlas library. */
#pragma once

#include "region_status.h"

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef unsigned (*RegionHashFunction)(unsigned buckets, const void* item);
typedef int (*RegionCompareFunction)(const void* a, const void* b);

typedef struct RegionHashEntry {
    void* item; /* not owned; a visitor clears it to have the entry dropped */
    struct RegionHashEntry* next;
    struct RegionHashEntry* previous;
} RegionHashEntry;

typedef struct RegionHash {
    RegionHashEntry** buckets;
    unsigned count;
    unsigned bucketCount;
    unsigned cachedBucket;
    RegionHashEntry* cachedEntry; /* the last entry found */
    RegionHashFunction hash;
    RegionCompareFunction compare;
} RegionHash;

typedef RegionStatus* (*RegionHashVisitor)(RegionHashEntry* entry, void** argument);

RegionStatus* RegionHash_new(RegionHash** out, unsigned buckets, RegionHashFunction hash,
                             RegionCompareFunction compare);
RegionStatus* RegionHash_delete(RegionHash** table);
RegionStatus* RegionHash_insert(RegionHash* table, void* item);
RegionStatus* RegionHash_remove(RegionHash* table, const void* item);
void* RegionHash_find(RegionHash* table, const void* item, RegionStatus** status);
unsigned RegionHash_count(const RegionHash* table, RegionStatus** status);
RegionStatus* RegionHash_forEach(RegionHash* table, RegionHashVisitor visit, void* argument);

/* The process-wide dictionary of region-name texts. Keys start at 1 and
 * follow interning order; texts are never removed. */
typedef struct RegionDictionary {
    unsigned capacity;
    unsigned count;
    char** texts;      /* slot i holds the text of key i + 1 */
    RegionHash* index; /* items are slot numbers plus one */
} RegionDictionary;

unsigned RegionDictionary_hash(unsigned buckets, const void* slot);
RegionStatus* RegionDictionary_intern(const char* text, unsigned* key);
RegionStatus* RegionDictionary_lookup(const char* text, unsigned* key);
RegionStatus* RegionDictionary_getText(unsigned key, char** text);
RegionStatus* RegionDictionary_grow(unsigned capacity);
/* The dictionary's capacity and count (0 before the first interning). */
unsigned RegionDictionary_capacity(void);
unsigned RegionDictionary_count(void);

typedef struct RegionString {
    char* text;
    size_t length;   /* bytes of text held, kept so that appends stay linear */
    size_t capacity; /* bytes allocated */
} RegionString;

RegionStatus* RegionString_new(RegionString** out, const char* text);
RegionStatus* RegionString_append(RegionString* string, const char* text);
RegionStatus* RegionString_delete(RegionString* string, int freeText);

#ifdef __cplusplus
}
#endif
