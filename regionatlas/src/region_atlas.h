/* Region atlases: up to three maps at fixed levels and one table of the
 * name objects of every region their maps use. */
#pragma once

#include "region_hash.h"
#include "region_list.h"
#include "region_name.h"
#include "region_status.h"
#include "region_types.h"

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

#ifdef __cplusplus
}
#endif
