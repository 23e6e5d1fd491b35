/* Region definitions: a combination applied to one list of component names
 * (side A) or, for Difference and Symmetric Difference, to two (A and B). */
#pragma once

#include "region_hash.h"
#include "region_list.h"
#include "region_status.h"
#include "region_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define RC_UNION 1
#define RC_INTERSECTION 2
#define RC_COMPLEMENT 3
#define RC_DIFFERENCE 4
#define RC_SYMMETRIC_DIFFERENCE 5
#define RC_MERGE 6
#define RC_ALIAS 7

#define RO_ADD 1
#define RO_REMOVE 2
#define RO_CLEAR 3

struct RegionDefinition {
    RegionName* name;
    RegionMap* map;
    int combination;
    RegionStringList* sideA;
    RegionStringList* sideB;
    RegionString* orvText;
    RegionStringList* tags;
};

const char* RegionDefinition_className(void);
/* The table name of a combination code, or none. */
const char* RegionCombination_getName(int combination);
/* 0 for a one-sided combination, 1 for a two-sided one; else 0 and 100004. */
int RegionCombination_check(int combination, RegionStatus** status);

RegionStatus* RegionDefinition_new(RegionDefinition** out, const char* name, int combination, char** namesA,
                                   char** namesB, unsigned countA, unsigned countB);
RegionStatus* RegionDefinition_delete(RegionDefinition** holder);
RegionStatus* RegionDefinition_getName(const RegionDefinition* def, char** text, RegionName** name);
RegionStatus* RegionDefinition_getCombination(const RegionDefinition* def, int* code);
RegionStatus* RegionDefinition_setCombination(RegionDefinition* def, int code);
RegionStatus* RegionDefinition_getComponents(const RegionDefinition* def, int side, int mode, ...);
RegionStatus* RegionDefinition_getComponentEntries(const RegionDefinition* def, int side, unsigned** entries,
                                                   unsigned* count);
RegionStatus* RegionDefinition_getMap(const RegionDefinition* def, RegionMap** map);
RegionStatus* RegionDefinition_modifyComponents(RegionDefinition* def, int operation, int side, char** names,
                                                unsigned count);
RegionStatus* RegionDefinition_rename(RegionDefinition* def, const char* text);
RegionStatus* RegionDefinition_setName(RegionDefinition* def, RegionName* name);
RegionStatus* RegionDefinition_addTag(RegionDefinition* def, const char* tag);
/* Builds the definition's REGION block; the text stays owned by the
 * definition. */
RegionStatus* RegionDefinition_getORV(RegionDefinition* def, char** text);
RegionStatus* RegionDefinition_freeORV(RegionDefinition* def);
RegionStatus* RegionDefinition_fromORV(RegionDefinition** holder, OrvHandle* handle, const char* path);
RegionStatus* RegionDefinition_joinMap(RegionDefinition* def, RegionMap* map);
int RegionDefinition_canJoinMap(RegionDefinition* def, RegionMap* map, RegionStatus** status);
RegionStatus* RegionDefinition_leaveMap(RegionDefinition* def);
RegionStatus* RegionDefinition_replaceName(RegionDefinition* def, RegionName* name);
RegionStatus* RegionDefinition_freeText(char** holder);
/* Records the map the definition belongs to (none when it leaves). */
RegionStatus* RegionDefinition_setMap(RegionDefinition* def, RegionMap* map);

#ifdef __cplusplus
}
#endif
