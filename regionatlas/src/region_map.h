/* Region maps: named collections of region definitions with every name
 * those definitions use, standing alone or at one level of an atlas. */
#pragma once

#include "region_hash.h"
#include "region_list.h"
#include "region_name.h"
#include "region_status.h"
#include "region_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define REGION_MAP_BUCKETS 25007

struct RegionMap {
    char* name;
    char* owner;
    RegionAtlas* atlas;
    int type;
    RegionHash* definitions; /* name objects of the regions the map defines */
    RegionHash* names;       /* name objects the map uses without defining */
    RegionName* probe;
    RegionString* orvText;
};

const char* RegionMap_className(void);
int RegionMap_check(const RegionMap* map, RegionStatus** status);
int RegionMap_checkType(int type, RegionStatus** status);

RegionStatus* RegionMap_new(RegionMap** out, const char* name);
RegionStatus* RegionMap_delete(RegionMap** holder, int deleteDefinitions);
RegionStatus* RegionMap_setName(RegionMap* map, const char* text);
RegionStatus* RegionMap_setOwner(RegionMap* map, const char* text);
RegionStatus* RegionMap_getName(const RegionMap* map, char** out);
/* The owner (owned by the map), none when unset. */
RegionStatus* RegionMap_getOwner(const RegionMap* map, char** out);
RegionStatus* RegionMap_getType(const RegionMap* map, int* out);
RegionStatus* RegionMap_getAtlas(const RegionMap* map, RegionAtlas** out);
RegionStatus* RegionMap_countNames(const RegionMap* map, unsigned* out);
RegionStatus* RegionMap_resetAtlasCache(RegionMap* map);

RegionStatus* RegionMap_addDefinition(RegionMap* map, RegionDefinition* definition);
RegionStatus* RegionMap_attachDefinition(RegionMap* map, RegionDefinition* definition, RegionName* name);
RegionStatus* RegionMap_addComponent(RegionMap* map, unsigned key, RegionDefinition* definition, int side);
RegionStatus* RegionMap_removeDefinition(RegionMap* map, RegionDefinition* definition);
RegionStatus* RegionMap_removeDefinitionByName(RegionMap* map, const char* text);
RegionStatus* RegionMap_getDefinitionByKey(RegionMap* map, unsigned key, RegionDefinition** out);
RegionStatus* RegionMap_getDefinitionByText(RegionMap* map, const char* text, RegionDefinition** out);
RegionStatus* RegionMap_getDefinitions(RegionMap* map, RegionDefinition*** array, unsigned* count);
RegionStatus* RegionMap_definesText(RegionMap* map, const char* text, int* out);
RegionStatus* RegionMap_usesText(RegionMap* map, const char* text, int* out);
RegionStatus* RegionMap_findName(RegionMap* map, const char* text, int* found, RegionName** out);
RegionStatus* RegionMap_findNameByText(const char* text, RegionMap* map, int* found, RegionName** out);
RegionName* RegionMap_findByKey(RegionMap* map, int inDefinitions, unsigned key);
RegionName* RegionMap_findByText(RegionMap* map, int inDefinitions, const char* text);
int RegionMap_isNameInUse(RegionMap* map, RegionName* name);

RegionStatus* RegionMap_registerName(RegionMap* map, RegionName* name);
RegionStatus* RegionMap_registerDefinedName(RegionMap* map, RegionName* name);
RegionStatus* RegionMap_unregisterName(RegionMap* map, RegionName* name);
RegionStatus* RegionMap_unregisterDefinedName(RegionMap* map, RegionName* name);
RegionStatus* RegionMap_inheritName(RegionMap* higher, RegionName* name);
/* 1 when the higher map gave the name up, else 0. */
int RegionMap_disinheritName(RegionMap* higher, RegionName* name, int transfer);
RegionStatus* RegionMap_releaseName(RegionMap* map, RegionName* name);
RegionName* RegionMap_createName(RegionMap* map, const char* text);
RegionStatus* RegionMap_replaceName(void* map, RegionName* oldName, RegionName* newName);
void RegionMap_notifyNameManager(RegionDefinition* definition, RegionMap* map, int operation, const char* text);

RegionStatus* RegionMap_addExplicitPrimitive(RegionMap* map, const char* text);
RegionStatus* RegionMap_removeExplicitPrimitive(RegionMap* map, const char* text);

/* List getters. Outputs after the mode:
 *   1 (unsigned** keys, int* count)   2 (char*** texts, int* count)
 *   3 (RegionStringList** list)       4 (char** text)                   */
RegionStatus* RegionMap_getImplicitPrimitives(RegionMap* map, int mode, ...);
RegionStatus* RegionMap_getExplicitPrimitives(RegionMap* map, int mode, ...);
RegionStatus* RegionMap_getPrimitives(RegionMap* map, int mode, ...);
RegionStatus* RegionMap_getComposites(RegionMap* map, int mode, ...);
RegionStatus* RegionMap_getExportedNames(RegionMap* map, int mode, ...);
RegionStatus* RegionMap_addExportedNames(RegionMap* map, RegionStringList* exclude, RegionStringList* target);

RegionStatus* RegionMap_joinAtlas(RegionMap* map, RegionAtlas* atlas, int level);
RegionStatus* RegionMap_leaveAtlas(RegionMap* map);

/* ORV text of a map. */
RegionStatus* RegionMap_getORV(RegionMap* map, int withPrimitives, char** out);
RegionStatus* RegionMap_freeORV(RegionMap* map);
RegionStatus* RegionMap_readFromStrings(RegionMap** map, int count, char** lines, const char* path);
RegionStatus* RegionMap_fromORV(RegionMap** map, OrvHandle* handle, const char* path);
/* The ORV-safe substitute for a region name, in a buffer of the library
 * valid until the next call. */
const char* RegionName_toORVName(const char* text);

#ifdef __cplusplus
}
#endif
