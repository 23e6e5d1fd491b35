/* The atlas bridge: a persistent object that holds the model's region
 * atlas with its one Primary map, stores that map as its ORV text under
 * "map - primary", rebuilds the map from the stored text on restore, undo
 * and redo (the old map is deleted only once the new one is in the atlas),
 * and turns every failed region-library call into a published error 20006. */
#ifndef VRN_TOPOLOGY_ATLAS_H
#define VRN_TOPOLOGY_ATLAS_H

#include <stdio.h>

#include "database/object.h"
#include "region_atlas.h"
#include "region_map.h"
#include "region_status.h"

#ifdef __cplusplus
extern "C" {
#endif

struct NameManager;

typedef struct Atlas {
    vrnObject header;
    RegionAtlas* regionAtlas; /* "VRN atlas" */
    RegionMap* primaryMap;    /* "Primary map", at level 3 in the atlas */
    struct NameManager* nameManager;
} Atlas;

/* NULL when the region atlas cannot be made. */
Atlas* Atlas_new(struct NameManager* nameManager);
int Atlas_create(Atlas* atlas);
/* 1 (and a published error 20006 naming both routines) when status is an
 * error, else 0. regionName may be NULL. */
int Atlas_reportError(RegionStatus* status, const char* callerName, const char* calledName,
                      const char* regionName);
/* Reads the lines of text into *map; NULL text changes nothing. 1 or 0. */
int RegionMap_readFromString(RegionMap** map, const char* text);
/* Replaces the Primary map by one read from text; on any failure the
 * previous map stays in the atlas. 1 or 0. */
int Atlas_resetRegionAtlasPrimaryMap(Atlas* atlas, const char* text);
/* Marks the bridge modified, so that the Primary map's text is stored at
 * the next flush (after the host changed the map). */
void Atlas_markModified(Atlas* atlas);
void Atlas_printMap(Atlas* atlas, FILE* stream);
/* Prints and frees (free()) the count names. */
void Atlas_printNames(RegionStatus* status, const char* title, char** names, int count, FILE* stream);

int Atlas_size(void);
void Atlas_dump(vrnObject* object);
void Atlas_restore(vrnObject* object, int onlyIfChanged);
void Atlas_delete(vrnObject* object);

#ifdef __cplusplus
}
#endif

#endif
