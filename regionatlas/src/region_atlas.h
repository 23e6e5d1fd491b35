/* Region atlases: up to three maps at fixed levels and one table of the
 * name objects of every region their maps use. */
#pragma once

#include "region_hash.h"
#include "region_list.h"
#include "region_name.h"
#include "region_status.h"
#include "region_types.h"

#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

#define REGION_ATLAS_BUCKETS 100007

typedef void (*RegionNameManagerHook)(void* context, int operation, const char* text);

struct RegionAtlas {
    char* name;
    RegionMap* vrnMap;
    RegionMap* primaryMap;
    RegionMap* secondaryMap;
    void* nameManagerContext;
    RegionNameManagerHook nameManager;
    RegionHash* regions;
    void* cache; /* resolution cache */
    RegionName* probe;
    RegionString* orvText;
};

const char* RegionAtlas_className(void);
int RegionAtlas_check(const RegionAtlas* atlas, RegionStatus** status);

RegionStatus* RegionAtlas_new(RegionAtlas** out, const char* name);
RegionStatus* RegionAtlas_delete(RegionAtlas* atlas, int deleteMaps);
RegionStatus* RegionAtlas_addMap(RegionAtlas* atlas, RegionMap* map, int level);
RegionStatus* RegionAtlas_removeMap(RegionAtlas* atlas, RegionMap* map);
RegionStatus* RegionAtlas_detachMap(RegionAtlas* atlas, int level);
RegionStatus* RegionAtlas_getMap(RegionAtlas* atlas, int level, RegionMap** out);
RegionMap* RegionAtlas_getHigherMap(RegionAtlas* atlas, int level);
RegionMap* RegionAtlas_getLowerMap(RegionAtlas* atlas, int level);
/* String-list visitor: 600004 when the higher map given as argument
 * defines the text. */
RegionStatus* RegionAtlas_checkPrimitive(const char* text, void** argument);
int RegionAtlas_getNameManager(RegionAtlas* atlas, void** context, RegionNameManagerHook* function);

RegionStatus* RegionAtlas_addRegion(RegionAtlas* atlas, RegionName* name);
RegionStatus* RegionAtlas_removeRegion(RegionAtlas* atlas, RegionName* name);
RegionName* RegionAtlas_findByKey(RegionAtlas* atlas, unsigned key);
RegionStatus* RegionAtlas_findName(RegionAtlas* atlas, const char* text, int* found, RegionName** out);
RegionStatus* RegionAtlas_replaceName(void* atlas, RegionName* oldName, RegionName* newName);
RegionStatus* RegionAtlas_countRegions(RegionAtlas* atlas, unsigned* out);
RegionStatus* RegionAtlas_resetCache(RegionAtlas* atlas);

RegionStatus* RegionAtlas_setName(RegionAtlas* atlas, const char* text);
/* RegionAtlas_findName with the text first (a lookup callback). */
RegionStatus* RegionAtlas_findNameByText(const char* text, RegionAtlas* atlas, int* found, RegionName** out);

/* Definitions by key or text, and the names the highest map exports
 * (outputs after the mode as for the map list getters). */
RegionStatus* RegionAtlas_getDefinitionByKey(RegionAtlas* atlas, unsigned key, RegionDefinition** out);
RegionStatus* RegionAtlas_getDefinitionByText(RegionAtlas* atlas, const char* text, RegionDefinition** out);
RegionStatus* RegionAtlas_getExportedNames(RegionAtlas* atlas, int mode, ...);
RegionStatus* RegionAtlas_addExportedNames(RegionAtlas* atlas, RegionStringList* exclude, RegionStringList* target);

/* The atlas's ORV text (owned by the atlas until freed or rebuilt), writing
 * it to a stream, and reading an atlas with its maps back from ORV lines. */
RegionStatus* RegionAtlas_getORV(RegionAtlas* atlas, char** out);
RegionStatus* RegionAtlas_freeORV(RegionAtlas* atlas);
RegionStatus* RegionAtlas_write(RegionAtlas* atlas, FILE* stream);
RegionStatus* RegionAtlas_readFromStrings(RegionAtlas** atlas, int count, char** lines);

#ifdef __cplusplus
}
#endif
