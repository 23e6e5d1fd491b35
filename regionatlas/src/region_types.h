/* The object types of the region atlas library. */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

typedef struct RegionName RegionName;
typedef struct RegionMap RegionMap;
typedef struct RegionAtlas RegionAtlas;
typedef struct RegionDefinition RegionDefinition;
typedef struct OrvHandle OrvHandle;

/* Levels of a map in an atlas, lowest first: VRN, Primary, Secondary. */
#define REGION_MAP_VRN 1
#define REGION_MAP_SECONDARY 2
#define REGION_MAP_PRIMARY 3

#ifdef __cplusplus
}
#endif
