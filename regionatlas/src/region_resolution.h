/* Primitive resolution: expands a region name into the primitive names it
 * stands for, following definitions through a map or across an atlas, and
 * the atlas's resolution cache. Results accumulate in a caller's string
 * list; a name already in it is not added twice. */
#pragma once

#include "region_list.h"
#include "region_status.h"
#include "region_types.h"

#ifdef __cplusplus
#include <string>
#include <vector>
extern "C" {
#endif

RegionStatus* RegionPrimitives_resolveKeyInMap(unsigned key, RegionMap* map, RegionStringList* result);
RegionStatus* RegionPrimitives_resolveKeyInAtlas(unsigned key, RegionAtlas* atlas, RegionStringList* result);
RegionStatus* RegionPrimitives_resolveTextInMap(const char* text, RegionMap* map, RegionStringList* result);
RegionStatus* RegionPrimitives_resolveTextInAtlas(const char* text, RegionAtlas* atlas, RegionStringList* result);
RegionStatus* RegionPrimitives_resolveDefinitionInMap(RegionDefinition* definition, RegionMap* map,
                                                      RegionStringList* result);
RegionStatus* RegionPrimitives_resolveDefinitionInAtlas(RegionDefinition* definition, RegionAtlas* atlas,
                                                        RegionStringList* result);
/* The cache's resolver: (key, owning atlas, result list). */
RegionStatus* RegionPrimitives_resolveForCache(unsigned key, void* atlas, RegionStringList* result);

/* No error when none of the definition's components leads back to its own
 * name through the definitions of the atlas (or of the map alone when it is
 * in no atlas); else 700000. Only the names that resolution expands are
 * followed, so exactly the cycles that would make it endless are found. */
RegionStatus* RegionPrimitives_findCycle(RegionDefinition* definition, RegionMap* map, RegionAtlas* atlas);

typedef RegionStatus* (*RegionResolver)(unsigned key, void* owner, RegionStringList* result);

typedef struct RegionCache {
    struct RegionHash* entries; /* RegionCacheEntry items keyed by dictionary key */
    void* owner;
    RegionResolver resolver;
} RegionCache;

/* One cached resolution; the key comes first so that the key hash and
 * comparison of region names apply. */
typedef struct RegionCacheEntry {
    unsigned key;
    RegionStringList* primitives;
} RegionCacheEntry;

RegionStatus* RegionCache_new(RegionCache** out, unsigned buckets, void* owner, RegionResolver resolver);
RegionStatus* RegionCache_invalidate(RegionCache* cache);
RegionStatus* RegionCache_delete(RegionCache** cache);

#ifdef __cplusplus
}

namespace regionatlas {
// The keys of a list in list order (empty for a list of none).
std::vector<unsigned> listKeys(const RegionStringList* list);

// The index of which definitions use each name: a side's names are filed
// when the side is set and taken out before it changes or goes.
void recordUses(RegionDefinition* def, int side);
void forgetUses(RegionDefinition* def, int side);
// Takes a definition that is about to be freed out of the index.
void forgetDefinition(RegionDefinition* def);

// The cycle check done as one full walk over everything the definition
// expands to (the fast check must always agree with it).
RegionStatus* findCycleByWalk(RegionDefinition* definition, RegionMap* map, RegionAtlas* atlas);
}  // namespace regionatlas
#endif
