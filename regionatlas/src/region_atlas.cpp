// Region atlases: map slots by level with the checks that fit a new map's
// regions to the levels already present, the region table and the
// name-manager hook. The resolution cache comes with primitive resolution.
#include "region_atlas.h"
#include "region_definition.h"
#include "region_internal.h"
#include "region_map.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace regionatlas;

namespace {

bool gAddingMap = false;
bool gDetachingMap = false;

RegionMap** slotOf(RegionAtlas* atlas, int level)
{
    switch (level) {
    case REGION_MAP_VRN:
        return &atlas->vrnMap;
    case REGION_MAP_PRIMARY:
        return &atlas->primaryMap;
    case REGION_MAP_SECONDARY:
        return &atlas->secondaryMap;
    default:
        return nullptr;
    }
}

RegionStatus* missingMap(int level)
{
    switch (level) {
    case REGION_MAP_VRN:
        return fail(400005, "VRN %s doesn't exist in the %s.", kMapClass, kAtlasClass);
    case REGION_MAP_PRIMARY:
        return fail(400006, "Primary %s doesn't exist in the %s.", kMapClass, kAtlasClass);
    default:
        return fail(400007, "Secondary %s doesn't exist in the %s.", kMapClass, kAtlasClass);
    }
}

// The composites of a map joining at the level must not be defined in the
// atlas already, nor used by a lower map where the level forbids it.
RegionStatus* checkComposites(RegionAtlas* atlas, RegionMap* map, int level)
{
    RegionStringList* composites = nullptr;
    RegionStatus* s = RegionMap_getComposites(map, 3, &composites);
    if (isError(s) || !composites)
        return s;
    s = ok();
    for (unsigned i = 0; i < composites->count && !isError(s); ++i) {
        RegionName* held = RegionAtlas_findByKey(atlas, composites->items[i]);
        if (!held)
            continue;
        const char* text = RegionName_getText(held);
        if (held->definition) {
            s = fail(800006, "%s already defines %s (%s) that is also defined in %s.", kAtlasClass, kNameClass, text,
                     kMapClass);
            std::string more = std::string("Cannot add ") + kMapClass + " to " + kAtlasClass + " (" +
                               (atlas->name ? atlas->name : "") + ")";
            RegionStatus_appendMessage(s, more.c_str());
        } else if (level == REGION_MAP_SECONDARY) {
            int referenced = 0;
            RegionName_isReferenced(held, &referenced);
            if ((atlas->vrnMap || atlas->primaryMap) && referenced)
                s = fail(600005, "Lower %s already uses %s (%s) that is defined in Secondary %s.", kMapClass,
                         kNameClass, text, kMapClass);
        } else if (level == REGION_MAP_PRIMARY && atlas->vrnMap) {
            int uses = 0;
            RegionMap_usesText(atlas->vrnMap, text, &uses);
            if (uses)
                s = fail(600005, "VRN %s already uses %s (%s) that is defined in Primary %s.", kMapClass, kNameClass,
                         text, kMapClass);
        }
    }
    StatusCopy saved(s);
    RegionStringList_delete(&composites);
    return saved.restore();
}

// The primitives of a map joining below others must not be defined higher.
RegionStatus* checkPrimitives(RegionAtlas* atlas, RegionMap* map, int level)
{
    std::vector<RegionMap*> higher;
    if (level == REGION_MAP_PRIMARY && atlas->secondaryMap)
        higher = {atlas->secondaryMap};
    else if (level == REGION_MAP_VRN)
        for (RegionMap* m : {atlas->primaryMap, atlas->secondaryMap})
            if (m)
                higher.push_back(m);
    if (higher.empty())
        return ok();
    RegionStringList* primitives = nullptr;
    RegionStatus* s = RegionMap_getPrimitives(map, 3, &primitives);
    if (isError(s) || !primitives)
        return s;
    for (RegionMap* m : higher) {
        s = RegionStringList_forEach(primitives, RegionAtlas_checkPrimitive, m);
        if (isError(s))
            break;
    }
    StatusCopy saved(s);
    RegionStringList_delete(&primitives);
    return saved.restore();
}

}  // namespace

extern "C" {

RegionStatus* RegionAtlas_checkPrimitive(const char* text, void** argument)
{
    RegionMap* higher = argument ? static_cast<RegionMap*>(*argument) : nullptr;
    int defines = 0;
    RegionStatus* s = RegionMap_definesText(higher, text, &defines);
    if (!isError(s) && defines)
        return fail(600004, "Primitive (%s) in %s is alreaady defined in a higher %s", text, kMapClass, kMapClass);
    return s;
}

const char* RegionAtlas_className(void) { return kAtlasClass; }

int RegionAtlas_check(const RegionAtlas* atlas, RegionStatus** status)
{
    RegionStatus* s = atlas ? ok() : fail(100000, "Invalid %s.", kAtlasClass);
    if (status)
        *status = s;
    return atlas ? 1 : 0;
}

RegionStatus* RegionAtlas_new(RegionAtlas** out, const char* name)
{
    if (!out)
        return failText(8, "Invalid object pointer - cannot create new object");
    RegionStatus* s = nullptr;
    if (RegionName_isBlank(name, &s) || !RegionName_isStorable(name, &s))
        return s;
    *out = nullptr;
    RegionAtlas* a = static_cast<RegionAtlas*>(std::calloc(1, sizeof(RegionAtlas)));
    bool built = a && (a->name = copyText(name)) &&
                 !isError(RegionHash_new(&a->regions, REGION_ATLAS_BUCKETS, RegionKey_hash, RegionKey_compare)) &&
                 !isError(RegionName_new(&a->probe, "DummyName"));
    if (!built) {
        if (a) {
            std::free(a->name);
            RegionHash_delete(&a->regions);
            RegionName_delete(&a->probe);
            std::free(a);
        }
        return fail(7, "Unable to allocate memory for new %s.", kAtlasClass);
    }
    *out = a;
    return ok();
}

RegionStatus* RegionAtlas_delete(RegionAtlas* atlas, int deleteMaps)
{
    RegionStatus* s = nullptr;
    if (!RegionAtlas_check(atlas, &s))
        return s;
    std::free(atlas->name);
    atlas->name = nullptr;
    for (int level : {REGION_MAP_VRN, REGION_MAP_PRIMARY, REGION_MAP_SECONDARY}) {
        RegionMap* map = *slotOf(atlas, level);
        if (!map)
            continue;
        RegionAtlas_detachMap(atlas, level);
        if (deleteMaps == 1)
            RegionMap_delete(&map, 1);
        atlas->nameManagerContext = nullptr;
        atlas->nameManager = nullptr;
    }
    atlas->nameManagerContext = nullptr;
    atlas->nameManager = nullptr;
    RegionName_delete(&atlas->probe);
    RegionHash_delete(&atlas->regions);
    if (atlas->orvText)
        RegionString_delete(atlas->orvText, 1);
    std::free(atlas);
    return ok();
}

RegionStatus* RegionAtlas_addMap(RegionAtlas* atlas, RegionMap* map, int level)
{
    if (gAddingMap) {
        RegionAtlas_resetCache(atlas);
        return ok();
    }
    RegionStatus* s = nullptr;
    if (!RegionAtlas_check(atlas, &s) || !RegionMap_check(map, &s) || !RegionMap_checkType(level, &s))
        return s;
    if (map->atlas)
        return fail(400000, "%s is already in a %s", kMapClass, kAtlasClass);
    RegionMap** slot = slotOf(atlas, level);
    if (*slot) {
        if (level == REGION_MAP_VRN)
            return fail(400002, "%s already contains a VRN %s.", kAtlasClass, kMapClass);
        if (level == REGION_MAP_PRIMARY)
            return fail(400003, "%s already contains a primary %s.", kAtlasClass, kMapClass);
        return fail(400004, "%s already contains a secondary %s.", kAtlasClass, kMapClass);
    }
    if (isError(s = checkComposites(atlas, map, level)) || isError(s = checkPrimitives(atlas, map, level)))
        return s;
    *slot = map;
    {
        FlagGuard guard(gAddingMap);
        s = RegionMap_joinAtlas(map, atlas, level);
    }
    if (isError(s)) {
        StatusCopy saved(s);
        if (map->atlas)
            RegionAtlas_detachMap(atlas, level);
        *slot = nullptr;
        RegionAtlas_resetCache(atlas);
        return saved.restore();
    }
    RegionAtlas_resetCache(atlas);
    return ok();
}

RegionStatus* RegionAtlas_removeMap(RegionAtlas* atlas, RegionMap* map)
{
    RegionStatus* s = nullptr;
    if (!RegionAtlas_check(atlas, &s) || !RegionMap_check(map, &s))
        return s;
    for (int level : {REGION_MAP_VRN, REGION_MAP_SECONDARY, REGION_MAP_PRIMARY})
        if (*slotOf(atlas, level) == map)
            return RegionAtlas_detachMap(atlas, level);
    return fail(400001, "%s is not present in %s.", kMapClass, kAtlasClass);
}

RegionStatus* RegionAtlas_detachMap(RegionAtlas* atlas, int level)
{
    if (gDetachingMap)
        return ok();
    RegionStatus* s = nullptr;
    if (!RegionAtlas_check(atlas, &s) || !RegionMap_checkType(level, &s))
        return s;
    RegionMap** slot = slotOf(atlas, level);
    if (!*slot)
        return missingMap(level);
    {
        FlagGuard guard(gDetachingMap);
        s = RegionMap_leaveAtlas(*slot);
    }
    if (!isError(s) || !(*slot)->atlas)
        *slot = nullptr;
    StatusCopy saved(s);
    RegionAtlas_resetCache(atlas);
    return saved.restore();
}

RegionStatus* RegionAtlas_getMap(RegionAtlas* atlas, int level, RegionMap** out)
{
    if (!out)
        return fail(8, "Invalid object pointer - cannot create return %s", kMapClass);
    *out = nullptr;
    RegionStatus* s = nullptr;
    if (!RegionAtlas_check(atlas, &s) || !RegionMap_checkType(level, &s))
        return s;
    *out = *slotOf(atlas, level);
    return *out ? ok() : missingMap(level);
}

RegionMap* RegionAtlas_getHigherMap(RegionAtlas* atlas, int level)
{
    if (!atlas)
        return nullptr;
    switch (level) {
    case REGION_MAP_VRN:
        return atlas->primaryMap ? atlas->primaryMap : atlas->secondaryMap;
    case REGION_MAP_PRIMARY:
        return atlas->secondaryMap;
    default:
        return nullptr;
    }
}

RegionMap* RegionAtlas_getLowerMap(RegionAtlas* atlas, int level)
{
    if (!atlas)
        return nullptr;
    switch (level) {
    case REGION_MAP_SECONDARY:
        return atlas->primaryMap ? atlas->primaryMap : atlas->vrnMap;
    case REGION_MAP_PRIMARY:
        return atlas->vrnMap;
    default:
        return nullptr;
    }
}

int RegionAtlas_getNameManager(RegionAtlas* atlas, void** context, RegionNameManagerHook* function)
{
    bool set = atlas && atlas->nameManagerContext && atlas->nameManager;
    if (context)
        *context = set ? atlas->nameManagerContext : nullptr;
    if (function)
        *function = set ? atlas->nameManager : nullptr;
    return set && context && function ? 1 : 0;
}

RegionStatus* RegionAtlas_addRegion(RegionAtlas* atlas, RegionName* name)
{
    RegionStatus* s = nullptr;
    if (!RegionAtlas_check(atlas, &s) || !RegionName_check(name, &s))
        return s;
    if (RegionAtlas_findByKey(atlas, name->key))
        return failText(800004, nullptr);
    if (isError(s = RegionHash_insert(atlas->regions, name)))
        return s;
    return RegionAtlas_resetCache(atlas);
}

RegionStatus* RegionAtlas_removeRegion(RegionAtlas* atlas, RegionName* name)
{
    RegionStatus* s = nullptr;
    if (!RegionAtlas_check(atlas, &s) || !RegionName_check(name, &s))
        return s;
    if (RegionAtlas_findByKey(atlas, name->key) != name)
        return ok();
    if (isError(s = RegionHash_remove(atlas->regions, name)))
        return s;
    return RegionAtlas_resetCache(atlas);
}

RegionName* RegionAtlas_findByKey(RegionAtlas* atlas, unsigned key)
{
    if (!atlas || !atlas->probe || key == 0 || key > RegionDictionary_count())
        return nullptr;
    atlas->probe->key = key;
    RegionStatus* s = nullptr;
    return static_cast<RegionName*>(RegionHash_find(atlas->regions, atlas->probe, &s));
}

RegionStatus* RegionAtlas_findName(RegionAtlas* atlas, const char* text, int* found, RegionName** out)
{
    if (!found)
        return failText(8, nullptr);
    *found = 0;
    if (out)
        *out = nullptr;
    RegionStatus* s = nullptr;
    if (!RegionAtlas_check(atlas, &s))
        return s;
    unsigned key = 0;
    if (!text || isError(RegionDictionary_lookup(text, &key)))
        return ok();
    RegionName* n = RegionAtlas_findByKey(atlas, key);
    *found = n != nullptr;
    if (out)
        *out = n;
    return ok();
}

RegionStatus* RegionAtlas_replaceName(void* context, RegionName* oldName, RegionName* newName)
{
    RegionAtlas* atlas = static_cast<RegionAtlas*>(context);
    RegionStatus* s = nullptr;
    if (!RegionAtlas_check(atlas, &s))
        return s;
    // The maps replace the old object wherever they hold it, also when the
    // region table holds another object of the same key.
    if (RegionAtlas_findByKey(atlas, oldName->key) == oldName &&
        (isError(s = RegionHash_remove(atlas->regions, oldName)) ||
         isError(s = RegionHash_insert(atlas->regions, newName))))
        return s;
    RegionAtlas_resetCache(atlas);
    for (RegionMap* m : {atlas->vrnMap, atlas->primaryMap, atlas->secondaryMap}) {
        if (m && isError(s = RegionMap_replaceName(m, oldName, newName)))
            return s;
    }
    return ok();
}

RegionStatus* RegionAtlas_countRegions(RegionAtlas* atlas, unsigned* out)
{
    RegionStatus* s = nullptr;
    if (!RegionAtlas_check(atlas, &s))
        return s;
    if (!out)
        return failText(8, nullptr);
    *out = atlas->regions->count;
    return ok();
}

RegionStatus* RegionAtlas_resetCache(RegionAtlas* atlas)
{
    RegionStatus* s = nullptr;
    if (!RegionAtlas_check(atlas, &s))
        return s;
    return ok();
}

}  // extern "C"
