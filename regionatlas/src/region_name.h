/* Region names: one object per region known to a map or an atlas, holding
 * the name's dictionary key, its definition (none for a primitive), the
 * definitions that use it and its per-map marks. */
#pragma once

#include "region_list.h"
#include "region_status.h"
#include "region_types.h"

#ifdef __cplusplus
extern "C" {
#endif

struct RegionName {
    unsigned key;
    RegionDefinition* definition;
    RegionStringList* referencedBy; /* texts of the definitions using the name */
    int explicitFlag;
    RegionMap* explicitMaps[3];
    RegionMap* inheritingMaps[3];
};

/* Transfer callback: replaces the old object by the new one wherever the
 * context holds it. */
typedef RegionStatus* (*RegionNameReplace)(void* context, RegionName* oldName, RegionName* newName);

const char* RegionName_className(void);
unsigned RegionKey_hash(unsigned buckets, const void* item);
int RegionKey_compare(const void* a, const void* b);

int RegionName_isBlank(const char* text, RegionStatus** status);
/* 1 when the text can be stored as a name and read back from ORV text:
 * no control bytes, '#' or ',', balanced parentheses, no leading or
 * trailing blank, no run of blanks and no trailing backslash. Else 0 and
 * code 100007. */
int RegionName_isStorable(const char* text, RegionStatus** status);
int RegionName_check(const RegionName* name, RegionStatus** status);

RegionStatus* RegionName_new(RegionName** out, const char* text);
RegionStatus* RegionName_delete(RegionName** holder);
const char* RegionName_getText(const RegionName* name);
unsigned RegionName_getKey(const RegionName* name);
RegionStatus* RegionName_setKey(RegionName* name, unsigned key);
RegionStatus* RegionName_rename(RegionName* name, const char* text);
RegionStatus* RegionName_transfer(RegionName* name, void* context, RegionNameReplace replace);

RegionStatus* RegionName_setDefinition(RegionName* name, RegionDefinition* definition);
RegionStatus* RegionName_getDefinition(const RegionName* name, RegionDefinition** out);
RegionStatus* RegionName_addReference(RegionName* name, RegionDefinition* definition, int side);
RegionStatus* RegionName_removeReference(RegionName* name, RegionDefinition* definition);

RegionStatus* RegionName_addExplicitMap(RegionName* name, RegionMap* map);
RegionStatus* RegionName_removeExplicitMap(RegionName* name, RegionMap* map);
RegionStatus* RegionName_addInheritingMap(RegionName* name, RegionMap* map);
RegionStatus* RegionName_removeInheritingMap(RegionName* name, RegionMap* map);

RegionStatus* RegionName_isPrimitive(const RegionName* name, int* out);
RegionStatus* RegionName_isDefined(const RegionName* name, int* out);
RegionStatus* RegionName_isDefinedInMap(const RegionName* name, RegionMap* map, int* out);
RegionStatus* RegionName_isReferenced(const RegionName* name, int* out);
RegionStatus* RegionName_isReferencedByMap(const RegionName* name, RegionMap* map, int* out);
RegionStatus* RegionName_isExplicitPrimitive(const RegionName* name, int* out);
RegionStatus* RegionName_isExplicitPrimitiveIn(const RegionName* name, RegionMap* map, int* out);
RegionStatus* RegionName_isInheritedIn(const RegionName* name, RegionMap* map, int* out);

#ifdef __cplusplus
}
#endif
