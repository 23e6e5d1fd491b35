/* The atlas bridge: a persistent object that holds the model's region
 * atlas with its one Primary map, stores that map as its ORV text under
 * "map - primary", rebuilds the map from the stored text on restore, undo
 * and redo, and turns every failed region-library call into a published
 * error 20006. */
#ifndef VRN_TOPOLOGY_ATLAS_H
#define VRN_TOPOLOGY_ATLAS_H

#include <stdio.h>

#include "database/object.h"

#ifdef __cplusplus
extern "C" {
#endif

struct NameManager;
struct RegionAtlas;
struct RegionMap;

typedef struct Atlas {
    vrnObject header;
    struct RegionAtlas* regionAtlas; /* "VRN atlas" */
    struct RegionMap* primaryMap;    /* "Primary map", at level 3 in the atlas */
    struct NameManager* nameManager;
} Atlas;

Atlas* Atlas_new(struct NameManager* nameManager);
int Atlas_create(Atlas* atlas);

int Atlas_size(void);
void Atlas_dump(vrnObject* object);
void Atlas_restore(vrnObject* object, int onlyIfChanged);
void Atlas_delete(vrnObject* object);

#ifdef __cplusplus
}
#endif

#endif
