/* Region string lists: sets of region names held as dictionary keys, with
 * set operations, iteration and four export forms. */
#pragma once

#include "region_status.h"

#include <stdarg.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define REGION_LIST_ASCENDING 0x01
#define REGION_LIST_DESCENDING 0x02
#define REGION_LIST_ITERATING 0x04

typedef struct RegionStringList {
    unsigned* items;
    uint8_t flags;
    unsigned capacity;
    unsigned count;
    unsigned cursor;
    void* membership; /* private: a key index that keeps additions to long unsorted lists fast */
    void* watcher;    /* private: the definition whose side this is, told of every change */
} RegionStringList;

typedef RegionStatus* (*RegionStringVisitor)(const char* text, void** argument);

RegionStatus* RegionStringList_new(RegionStringList** out, unsigned capacity);
int RegionStringList_check(const RegionStringList* list, RegionStatus** status);
RegionStatus* RegionStringList_delete(RegionStringList** list);
RegionStatus* RegionStringList_clear(RegionStringList* list);
RegionStatus* RegionStringList_count(const RegionStringList* list, unsigned* n);
RegionStatus* RegionStringList_findKey(RegionStringList* list, unsigned key, int* found);
RegionStatus* RegionStringList_findText(RegionStringList* list, const char* text, int* found);
RegionStatus* RegionStringList_addKey(RegionStringList* list, unsigned key);
RegionStatus* RegionStringList_addText(RegionStringList* list, const char* text);
RegionStatus* RegionStringList_addTexts(RegionStringList* list, char** texts, unsigned n);
RegionStatus* RegionStringList_removeText(RegionStringList* list, const char* text);
RegionStatus* RegionStringList_sort(RegionStringList* list, int descending);
RegionStatus* RegionStringList_union(RegionStringList* a, RegionStringList* b);
RegionStatus* RegionStringList_intersection(RegionStringList* a, RegionStringList* b);
RegionStatus* RegionStringList_difference(RegionStringList* a, RegionStringList* b);
RegionStatus* RegionStringList_symmetricDifference(RegionStringList* a, RegionStringList* b);
RegionStatus* RegionStringList_copy(RegionStringList** out, const RegionStringList* list);
RegionStatus* RegionStringList_first(RegionStringList* list, char** text);
RegionStatus* RegionStringList_next(RegionStringList* list, char** text);
RegionStatus* RegionStringList_forEach(RegionStringList* list, RegionStringVisitor visit, void* argument);

/* Export forms:
 *   1 (unsigned** keys, unsigned* n): with *keys none a new array is made;
 *     else *n gives the capacity of the caller's array (code 8 when short);
 *   2 (char*** texts, unsigned* n): a new array of new copies;
 *   3 (RegionStringList** copy);
 *   4 (char** text): the texts joined with ", ".
 * Everything handed out is freed with free() (form 3 with
 * RegionStringList_delete). */
RegionStatus* RegionStringList_export(const RegionStringList* list, int mode, va_list outputs);
RegionStatus* RegionStringList_exportArgs(const RegionStringList* list, int mode, ...);
RegionStatus* RegionStringList_toJoinedText(const RegionStringList* list, char** text);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
namespace regionatlas {
// Takes out the item at index by moving the last item into its place: the
// order of the list is not kept, so it is no longer marked sorted.
void removeAtUnordered(RegionStringList* list, unsigned index);

// Tells the definition watching the list (if any) that its contents change.
void noteListChange(RegionStringList* list);
}  // namespace regionatlas
#endif
