// Region atlases: the three map slots and their level order, adding and
// detaching maps, the region table with its resolution cache, and the
// atlas's ORV text.
#include "region_atlas.h"

#include "region_definition.h"
#include "region_hash.h"
#include "region_internal.h"
#include "region_map.h"
#include "region_reader.h"
#include "region_resolution.h"

#include "orvapi.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace regionatlas;

namespace {

// A map addition or detachment in progress: the nested calls that the map's
// join and leave make come back here and do nothing.
bool gAdding = false;
bool gDetaching = false;

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

RegionStatus* checkAtlas(const RegionAtlas* atlas)
{
    RegionStatus* s = ok();
    RegionAtlas_check(atlas, &s);
    return s;
}

RegionCache* cacheOf(const RegionAtlas* atlas) { return static_cast<RegionCache*>(atlas->cache); }

void resetCache(RegionAtlas* atlas)
{
    if (atlas->cache)
        RegionCache_invalidate(cacheOf(atlas));
}

RegionStatus* missingSlot(int level)
{
    const char* format = level == REGION_MAP_VRN       ? "VRN %s doesn't exist in the %s."
                         : level == REGION_MAP_PRIMARY ? "Primary %s doesn't exist in the %s."
                                                       : "Secondary %s doesn't exist in the %s.";
    int code = level == REGION_MAP_VRN ? 400005 : (level == REGION_MAP_PRIMARY ? 400006 : 400007);
    return fail(code, format, kMapClass, kAtlasClass);
}

// The highest map present: the Secondary map, else the Primary, else VRN.
RegionMap* highestMap(const RegionAtlas* atlas)
{
    if (atlas->secondaryMap)
        return atlas->secondaryMap;
    return atlas->primaryMap ? atlas->primaryMap : atlas->vrnMap;
}

// A map's composite or primitive names (mode 3), as keys.
std::vector<unsigned> mapKeys(RegionMap* map, bool composites)
{
    RegionStringList* list = nullptr;
    RegionStatus* s = composites ? RegionMap_getComposites(map, 3, &list) : RegionMap_getPrimitives(map, 3, &list);
    std::vector<unsigned> keys;
    if (!isError(s))
        keys = listKeys(list);
    if (list)
        RegionStringList_delete(&list);
    return keys;
}

const char* keyText(unsigned key)
{
    char* text = nullptr;
    RegionDictionary_getText(key, &text);
    return text ? text : "";
}

// The primitives of a map joining below another must not be defined there.
RegionStatus* primitiveDefinedAbove(RegionMap* map, RegionMap* higher)
{
    if (!higher)
        return ok();
    RegionStringList* primitives = nullptr;
    RegionStatus* s = RegionMap_getPrimitives(map, 3, &primitives);
    if (isError(s) || !primitives)
        return s;
    s = RegionStringList_forEach(primitives, RegionAtlas_checkPrimitive, higher);
    StatusCopy saved(s);
    RegionStringList_delete(&primitives);
    return saved.restore();
}

// Whether the atlas's text, under the atlas name given, can hold the map's
// block.
RegionStatus* mapFits(const char* atlasName, RegionMap* map)
{
    return checkPathLength(atlasPrefixLength(atlasName) + mapPathLength(map, map->name), [&] {
        return named(kMapClass, map->name) + " with its definitions in " + named(kAtlasClass, atlasName);
    });
}

// The admission checks of a map at a level, in order.
RegionStatus* checkNewMap(RegionAtlas* atlas, RegionMap* map, int level)
{
    RegionStatus* s = checkAtlas(atlas);
    if (isError(s) || !RegionMap_check(map, &s) || !RegionMap_checkType(level, &s))
        return s;
    if (map->atlas)
        return fail(400000, "%s is already in a %s", kMapClass, kAtlasClass);
    if (*slotOf(atlas, level)) {
        if (level == REGION_MAP_VRN)
            return fail(400002, "%s already contains a VRN %s.", kAtlasClass, kMapClass);
        if (level == REGION_MAP_PRIMARY)
            return fail(400003, "%s already contains a primary %s.", kAtlasClass, kMapClass);
        return fail(400004, "%s already contains a secondary %s.", kAtlasClass, kMapClass);
    }
    for (unsigned key : mapKeys(map, true)) {
        RegionName* held = RegionAtlas_findByKey(atlas, key);
        if (!held)
            continue;
        const char* text = keyText(key);
        if (held->definition) {
            s = fail(800006, "%s already defines %s (%s) that is also defined in %s.", kAtlasClass, kNameClass, text,
                     kMapClass);
            std::string second = std::string("Cannot add ") + kMapClass + " to " + kAtlasClass + " (" +
                                 (atlas->name ? atlas->name : "") + ")";
            RegionStatus_appendMessage(s, second.c_str());
            return s;
        }
        if (level == REGION_MAP_SECONDARY && (atlas->vrnMap || atlas->primaryMap)) {
            int used = 0;
            RegionName_isReferenced(held, &used);
            if (used)
                return fail(600005, "Lower %s already uses %s (%s) that is defined in Secondary %s.", kMapClass,
                            kNameClass, text, kMapClass);
        } else if (level == REGION_MAP_PRIMARY && atlas->vrnMap) {
            int uses = 0;
            RegionMap_usesText(atlas->vrnMap, text, &uses);
            if (uses)
                return fail(600005, "VRN %s already uses %s (%s) that is defined in Primary %s.", kMapClass,
                            kNameClass, text, kMapClass);
        }
    }
    if (level == REGION_MAP_PRIMARY)
        s = primitiveDefinedAbove(map, atlas->secondaryMap);
    else if (level == REGION_MAP_VRN) {
        s = primitiveDefinedAbove(map, atlas->primaryMap);
        if (!isError(s))
            s = primitiveDefinedAbove(map, atlas->secondaryMap);
    } else {
        s = ok();
    }
    return isError(s) ? s : mapFits(atlas->name, map);
}

// What a map holds before it joins, so that a join that fails partway can
// give the map back whole.
struct MapContents {
    std::vector<RegionDefinition*> definitions;
    std::vector<std::string> explicitPrimitives;
    int type = 0;

    explicit MapContents(RegionMap* map) : type(map->type)
    {
        RegionDefinition** defs = nullptr;
        unsigned n = 0;
        if (!isError(RegionMap_getDefinitions(map, &defs, &n)) && defs)
            definitions.assign(defs, defs + n);
        std::free(defs);
        RegionStringList* list = nullptr;
        if (!isError(RegionMap_getExplicitPrimitives(map, 3, &list)))
            for (unsigned key : listKeys(list))
                explicitPrimitives.push_back(keyText(key));
        if (list)
            RegionStringList_delete(&list);
    }

    void restore(RegionMap* map) const
    {
        map->type = type;
        for (RegionDefinition* def : definitions)
            if (def->map != map)
                RegionMap_addDefinition(map, def);
        for (const std::string& text : explicitPrimitives) {
            RegionName* name = RegionMap_findByText(map, 0, text.c_str());
            int already = 0;
            if (name)
                RegionName_isExplicitPrimitiveIn(name, map, &already);
            if (!already)
                RegionMap_addExplicitPrimitive(map, text.c_str());
        }
    }
};

// Takes a map out of its slot whatever its leaving answered, so that no map
// keeps a link to an atlas that no longer holds it.
void forgetMap(RegionAtlas* atlas, int level, RegionMap* map)
{
    RegionMap** slot = slotOf(atlas, level);
    if (*slot == map)
        *slot = nullptr;
    if (map->atlas == atlas)
        map->atlas = nullptr;
}

RegionStatus* exportedNames(RegionMap* map, int mode, va_list args)
{
    switch (mode) {
    case 1: {
        unsigned** keys = va_arg(args, unsigned**);
        int* count = va_arg(args, int*);
        if (!map) {
            if (keys)
                *keys = nullptr;
            if (count)
                *count = 0;
            return ok();
        }
        return RegionMap_getExportedNames(map, 1, keys, count);
    }
    case 2: {
        char*** texts = va_arg(args, char***);
        int* count = va_arg(args, int*);
        if (!map) {
            if (texts)
                *texts = nullptr;
            if (count)
                *count = 0;
            return ok();
        }
        return RegionMap_getExportedNames(map, 2, texts, count);
    }
    case 3: {
        RegionStringList** list = va_arg(args, RegionStringList**);
        if (!list)
            return failText(3, "Unable to return exported names.");
        *list = nullptr;
        return map ? RegionMap_getExportedNames(map, 3, list) : ok();
    }
    case 4: {
        char** text = va_arg(args, char**);
        if (!map) {
            if (text)
                *text = nullptr;
            return ok();
        }
        return RegionMap_getExportedNames(map, 4, text);
    }
    default:
        return map ? RegionMap_getExportedNames(map, mode) : ok();
    }
}

// Reads the one REGION ATLAS object of a loaded document: its maps at the
// levels their Type names, added lowest first, and the primitives they list
// that no definition brings back (explicit primitives).
RegionStatus* readAtlas(void** object, OrvHandle* handle, const char*)
{
    char** found = nullptr;
    int n = 0;
    if (!getObjectsByTypeH(handle, "REGION ATLAS", &found))
        while (found && found[n])
            ++n;
    if (n != 1) {
        orvFreeStringArray(found);
        return failText(6, n ? "Unable to read atlas: Multiple Atlas entries found."
                             : "Unable to read atlas: No Atlas entry found.");
    }
    const std::string path = found[0];
    orvFreeStringArray(found);
    std::string name = path.substr(path.rfind(':') + 1);
    char* real = nullptr;
    if (!getStringValue(handle, (path + "/Real Name").c_str(), &real) && real)
        name = real;
    std::free(real);

    RegionAtlas* atlas = nullptr;
    RegionStatus* s = RegionAtlas_new(&atlas, name.c_str());
    if (isError(s))
        return s;
    struct Pending {
        RegionMap* map = nullptr;
        std::string path;
    };
    Pending pending[4];
    auto discard = [&](RegionStatus* failure) {
        StatusCopy saved(failure);
        for (Pending& p : pending)
            if (p.map && !p.map->atlas)
                RegionMap_delete(&p.map, 1);
        RegionAtlas_delete(atlas, 1);
        return saved.restore();
    };

    char** maps = nullptr;
    n = 0;
    if (!pushPath(handle, path.c_str())) {
        if (!getObjectsByTypeH(handle, "REGION MAP", &maps))
            while (maps && maps[n])
                ++n;
        popPath(handle);
    }
    for (int i = 0; i < n && !isError(s); ++i) {
        char* type = nullptr;
        getStringValue(handle, (std::string(maps[i]) + "/Type").c_str(), &type);
        const std::string word = type ? type : "";
        std::free(type);
        const int level = word == "VRN" ? REGION_MAP_VRN
                          : word == "PRIMARY" ? REGION_MAP_PRIMARY
                          : word == "SECONDARY" ? REGION_MAP_SECONDARY : 0;
        if (!level) {
            s = failText(6, "Unable to read atlas: Unrecognised Map Type.");
        } else if (pending[level].map) {
            s = failText(6, "Unable to read atlas: Multiple Map entries found for one level.");
        } else {
            pending[level].path = maps[i];
            s = RegionMap_fromORV(&pending[level].map, handle, maps[i]);
            if (isError(s) && pending[level].map) {
                StatusCopy saved(s);
                RegionMap_delete(&pending[level].map, 1);
                s = saved.restore();
            }
        }
    }
    orvFreeStringArray(maps);
    for (int level : {REGION_MAP_VRN, REGION_MAP_PRIMARY, REGION_MAP_SECONDARY}) {
        if (isError(s) || !pending[level].map)
            continue;
        s = RegionAtlas_addMap(atlas, pending[level].map, level);
    }
    for (int level : {REGION_MAP_VRN, REGION_MAP_PRIMARY, REGION_MAP_SECONDARY}) {
        RegionMap* map = pending[level].map;
        if (isError(s) || !map)
            continue;
        char** items = nullptr;
        int count = 0;
        const std::string list = pending[level].path + "/PRIMITIVE REGIONS/Primitive Region List";
        if (getStringList(handle, list.c_str(), &items, &count))
            continue;
        for (int i = 0; i < count && !isError(s); ++i)
            if (items[i][0] && !RegionMap_findByText(map, 0, items[i]))
                s = RegionMap_addExplicitPrimitive(map, items[i]);
        orvFreeStringArray(items);
    }
    if (isError(s))
        return discard(s);
    *object = atlas;
    return ok();
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
    // The name travels in ORV text, so it must be one that text can hold.
    RegionStatus* s = nullptr;
    if (RegionName_isBlank(name, &s) || !RegionName_isStorable(name, &s) ||
        isError(s = checkNameLength(atlasPathLength(name), kAtlasClass, name)))
        return s;
    *out = nullptr;
    auto* atlas = static_cast<RegionAtlas*>(std::calloc(1, sizeof(RegionAtlas)));
    bool built = atlas != nullptr;
    if (built)
        atlas->name = copyText(name);
    built = built && atlas->name;
    built = built && !isError(RegionHash_new(&atlas->regions, REGION_ATLAS_BUCKETS, RegionKey_hash, RegionKey_compare));
    RegionCache* cache = nullptr;
    built = built && !isError(RegionCache_new(&cache, REGION_ATLAS_BUCKETS, atlas, RegionPrimitives_resolveForCache));
    if (built)
        atlas->cache = cache;
    built = built && !isError(RegionName_new(&atlas->probe, "DummyName"));
    if (!built) {
        if (atlas) {
            RegionName_delete(&atlas->probe);
            if (cache)
                RegionCache_delete(&cache);
            RegionHash_delete(&atlas->regions);
            std::free(atlas->name);
            std::free(atlas);
        }
        return fail(7, "Unable to allocate memory for new %s.", kAtlasClass);
    }
    *out = atlas;
    return ok();
}

RegionStatus* RegionAtlas_setName(RegionAtlas* atlas, const char* text)
{
    RegionStatus* s = checkAtlas(atlas);
    if (isError(s) || RegionName_isBlank(text, &s) || !RegionName_isStorable(text, &s) ||
        isError(s = checkNameLength(atlasPathLength(text), kAtlasClass, text)))
        return s;
    for (RegionMap* map : {atlas->vrnMap, atlas->primaryMap, atlas->secondaryMap})
        if (map && isError(s = mapFits(text, map)))
            return s;
    char* copy = copyText(text);
    if (!copy)
        return fail(7, "Unable to allocate memory for new %s.", kAtlasClass);
    std::free(atlas->name);
    atlas->name = copy;
    return ok();
}

RegionStatus* RegionAtlas_delete(RegionAtlas* atlas, int deleteMaps)
{
    RegionStatus* s = checkAtlas(atlas);
    if (isError(s))
        return s;
    std::free(atlas->name);
    atlas->name = nullptr;
    const int order[] = {REGION_MAP_VRN, REGION_MAP_PRIMARY, REGION_MAP_SECONDARY};
    for (int level : order) {
        RegionMap* map = *slotOf(atlas, level);
        if (map) {
            RegionAtlas_detachMap(atlas, level);
            forgetMap(atlas, level, map);
            if (deleteMaps == 1)
                RegionMap_delete(&map, 1);
        }
        if (level == REGION_MAP_VRN) {
            atlas->nameManager = nullptr;
            atlas->nameManagerContext = nullptr;
        }
    }
    RegionName_delete(&atlas->probe);
    RegionCache* cache = cacheOf(atlas);
    if (cache)
        RegionCache_delete(&cache);
    RegionHash_delete(&atlas->regions);
    if (atlas->orvText)
        RegionString_delete(atlas->orvText, 1);
    std::free(atlas);
    return ok();
}

RegionStatus* RegionAtlas_addMap(RegionAtlas* atlas, RegionMap* map, int level)
{
    if (gAdding) {
        if (atlas)
            resetCache(atlas);
        return ok();
    }
    RegionStatus* s = checkNewMap(atlas, map, level);
    if (isError(s)) {
        if (atlas)
            resetCache(atlas);
        return s;
    }
    const MapContents before(map);
    *slotOf(atlas, level) = map;
    {
        FlagGuard adding(gAdding);
        s = RegionMap_joinAtlas(map, atlas, level);
    }
    if (isError(s)) {
        // Whatever the join had moved goes back: the atlas ends as it was
        // and the map holds every definition and explicit primitive again.
        StatusCopy failure(s);
        if (map->atlas)
            RegionAtlas_detachMap(atlas, level);
        forgetMap(atlas, level, map);
        before.restore(map);
        resetCache(atlas);
        return failure.restore();
    }
    resetCache(atlas);
    return ok();
}

RegionStatus* RegionAtlas_removeMap(RegionAtlas* atlas, RegionMap* map)
{
    RegionStatus* s = checkAtlas(atlas);
    if (isError(s) || !RegionMap_check(map, &s))
        return s;
    const int order[] = {REGION_MAP_VRN, REGION_MAP_SECONDARY, REGION_MAP_PRIMARY};
    for (int level : order)
        if (*slotOf(atlas, level) == map)
            return RegionAtlas_detachMap(atlas, level);
    return fail(400001, "%s is not present in %s.", kMapClass, kAtlasClass);
}

RegionStatus* RegionAtlas_detachMap(RegionAtlas* atlas, int level)
{
    if (gDetaching)
        return ok();
    RegionStatus* s = checkAtlas(atlas);
    if (isError(s) || !RegionMap_checkType(level, &s))
        return s;
    RegionMap** slot = slotOf(atlas, level);
    if (!*slot)
        return missingSlot(level);
    {
        FlagGuard detaching(gDetaching);
        s = RegionMap_leaveAtlas(*slot);
    }
    if (!isError(s))
        *slot = nullptr;
    StatusCopy result(s);
    resetCache(atlas);
    return result.restore();
}

RegionStatus* RegionAtlas_getMap(RegionAtlas* atlas, int level, RegionMap** out)
{
    if (!out)
        return fail(8, "Invalid object pointer - cannot create return %s", kMapClass);
    RegionStatus* s = checkAtlas(atlas);
    if (isError(s) || !RegionMap_checkType(level, &s))
        return s;
    *out = *slotOf(atlas, level);
    return *out ? ok() : missingSlot(level);
}

RegionMap* RegionAtlas_getHigherMap(RegionAtlas* atlas, int level)
{
    if (!atlas)
        return nullptr;
    if (level == REGION_MAP_VRN)
        return atlas->primaryMap ? atlas->primaryMap : atlas->secondaryMap;
    if (level == REGION_MAP_PRIMARY)
        return atlas->secondaryMap;
    return nullptr;
}

RegionMap* RegionAtlas_getLowerMap(RegionAtlas* atlas, int level)
{
    if (!atlas)
        return nullptr;
    if (level == REGION_MAP_SECONDARY)
        return atlas->primaryMap ? atlas->primaryMap : atlas->vrnMap;
    if (level == REGION_MAP_PRIMARY)
        return atlas->vrnMap;
    return nullptr;
}

int RegionAtlas_getNameManager(RegionAtlas* atlas, void** context, RegionNameManagerHook* function)
{
    if (context)
        *context = nullptr;
    if (function)
        *function = nullptr;
    if (!atlas || !context || !function || !atlas->nameManager || !atlas->nameManagerContext)
        return 0;
    *context = atlas->nameManagerContext;
    *function = atlas->nameManager;
    return 1;
}

RegionStatus* RegionAtlas_addRegion(RegionAtlas* atlas, RegionName* name)
{
    RegionStatus* s = checkAtlas(atlas);
    if (isError(s) || !RegionName_check(name, &s))
        return s;
    RegionStatus* found = nullptr;
    if (RegionHash_find(atlas->regions, name, &found))
        return failText(800004, nullptr);
    s = RegionHash_insert(atlas->regions, name);
    if (isError(s))
        return s;
    resetCache(atlas);
    return ok();
}

RegionStatus* RegionAtlas_removeRegion(RegionAtlas* atlas, RegionName* name)
{
    RegionStatus* s = checkAtlas(atlas);
    if (isError(s) || !RegionName_check(name, &s))
        return s;
    RegionStatus* found = nullptr;
    if (RegionHash_find(atlas->regions, name, &found) != name)
        return ok();
    s = RegionHash_remove(atlas->regions, name);
    if (isError(s))
        return s;
    resetCache(atlas);
    return ok();
}

RegionName* RegionAtlas_findByKey(RegionAtlas* atlas, unsigned key)
{
    if (!atlas || !atlas->probe || isError(RegionName_setKey(atlas->probe, key)))
        return nullptr;
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
    RegionStatus* s = checkAtlas(atlas);
    if (isError(s))
        return s;
    unsigned key = 0;
    if (RegionName_isBlank(text, &s) || isError(RegionDictionary_lookup(text, &key)))
        return ok();
    RegionName* held = RegionAtlas_findByKey(atlas, key);
    *found = held ? 1 : 0;
    if (out)
        *out = held;
    return ok();
}

RegionStatus* RegionAtlas_findNameByText(const char* text, RegionAtlas* atlas, int* found, RegionName** out)
{
    return RegionAtlas_findName(atlas, text, found, out);
}

RegionStatus* RegionAtlas_replaceName(void* context, RegionName* oldName, RegionName* newName)
{
    auto* atlas = static_cast<RegionAtlas*>(context);
    RegionStatus* s = checkAtlas(atlas);
    if (isError(s) || !RegionName_check(oldName, &s) || !RegionName_check(newName, &s))
        return s;
    // The maps replace the old object wherever they hold it, also when the
    // region table holds another object of the same key.
    RegionStatus* found = nullptr;
    if (RegionHash_find(atlas->regions, oldName, &found) == oldName) {
        s = RegionHash_remove(atlas->regions, oldName);
        if (!isError(s))
            s = RegionHash_insert(atlas->regions, newName);
        if (isError(s))
            return s;
    }
    resetCache(atlas);
    RegionMap* maps[] = {atlas->vrnMap, atlas->primaryMap, atlas->secondaryMap};
    for (RegionMap* map : maps) {
        if (!map)
            continue;
        s = RegionMap_replaceName(map, oldName, newName);
        if (isError(s))
            return s;
    }
    return ok();
}

RegionStatus* RegionAtlas_countRegions(RegionAtlas* atlas, unsigned* out)
{
    RegionStatus* s = checkAtlas(atlas);
    if (isError(s))
        return s;
    if (!out)
        return failText(8, "Invalid object pointer - cannot return count");
    *out = RegionHash_count(atlas->regions, &s);
    return s;
}

RegionStatus* RegionAtlas_resetCache(RegionAtlas* atlas)
{
    RegionStatus* s = checkAtlas(atlas);
    if (isError(s))
        return s;
    resetCache(atlas);
    return ok();
}

RegionStatus* RegionAtlas_getDefinitionByKey(RegionAtlas* atlas, unsigned key, RegionDefinition** out)
{
    if (!out)
        return fail(8, "Cannot return %s for %s", kDefinitionClass, kNameClass);
    *out = nullptr;
    RegionStatus* s = checkAtlas(atlas);
    if (isError(s))
        return s;
    RegionName* held = RegionAtlas_findByKey(atlas, key);
    if (!held || !held->definition)
        return fail(800003, "Cannot locate %s (%u) in %s,", kDefinitionClass, key, kAtlasClass);
    *out = held->definition;
    return ok();
}

RegionStatus* RegionAtlas_getDefinitionByText(RegionAtlas* atlas, const char* text, RegionDefinition** out)
{
    if (!out)
        return fail(8, "Cannot return %s for %s", kDefinitionClass, kNameClass);
    *out = nullptr;
    RegionStatus* s = checkAtlas(atlas);
    if (isError(s) || RegionName_isBlank(text, &s))
        return s;
    unsigned key = 0;
    if (isError(RegionDictionary_lookup(text, &key)) || isError(RegionAtlas_getDefinitionByKey(atlas, key, out)))
        return fail(800003, "Cannot locate %s (%s) in %s,", kDefinitionClass, text, kAtlasClass);
    return ok();
}

RegionStatus* RegionAtlas_getExportedNames(RegionAtlas* atlas, int mode, ...)
{
    RegionStatus* s = checkAtlas(atlas);
    if (isError(s))
        return s;
    va_list args;
    va_start(args, mode);
    s = exportedNames(highestMap(atlas), mode, args);
    va_end(args);
    return s;
}

RegionStatus* RegionAtlas_addExportedNames(RegionAtlas* atlas, RegionStringList* exclude, RegionStringList* target)
{
    RegionStatus* s = checkAtlas(atlas);
    if (isError(s))
        return s;
    RegionMap* map = highestMap(atlas);
    return map ? RegionMap_addExportedNames(map, exclude, target) : ok();
}

RegionStatus* RegionAtlas_getORV(RegionAtlas* atlas, char** out)
{
    if (out)
        *out = nullptr;
    RegionStatus* s = checkAtlas(atlas);
    if (isError(s))
        return s;
    if (!out)
        return fail(8, "Cannot return the ORV describing the %s.", kAtlasClass);
    RegionAtlas_freeORV(atlas);
    // A name that ORV would not read back as itself stands in the header as
    // a substitute, with the real name beside it.
    const char* name = atlas->name ? atlas->name : "";
    std::string text = std::string("REGION ATLAS") + ": ";
    if (isPlainORVName(name, "REGION ATLAS")) {
        text += std::string(name) + "\n";
    } else {
        text += collapsed(substituteName(name, "Atlas", false, nullptr, "REGION ATLAS")) + "\n";
        text += std::string("  ") + "Real Name" + " = " + name + "\n";
    }
    RegionMap* maps[] = {atlas->secondaryMap, atlas->primaryMap, atlas->vrnMap};
    for (RegionMap* map : maps) {
        if (!map)
            continue;
        char* mapText = nullptr;
        s = RegionMap_getORV(map, 1, &mapText);
        if (isError(s))
            return s;
        text += mapText ? mapText : "";
        RegionMap_freeORV(map);
    }
    text += "END # REGION ATLAS\n";
    RegionString* held = nullptr;
    s = RegionString_new(&held, text.c_str());
    if (isError(s))
        return s;
    atlas->orvText = held;
    *out = held->text;
    return ok();
}

RegionStatus* RegionAtlas_freeORV(RegionAtlas* atlas)
{
    RegionStatus* s = checkAtlas(atlas);
    if (isError(s))
        return s;
    if (atlas->orvText) {
        RegionString_delete(atlas->orvText, 1);
        atlas->orvText = nullptr;
    }
    return ok();
}

RegionStatus* RegionAtlas_write(RegionAtlas* atlas, FILE* stream)
{
    RegionStatus* s = checkAtlas(atlas);
    if (isError(s))
        return s;
    if (!stream)
        return failText(3, "Unable to write atlas: File Descriptor is invalid.");
    char* text = nullptr;
    s = RegionAtlas_getORV(atlas, &text);
    if (isError(s))
        return s;
    const size_t n = std::strlen(text);
    const bool written = std::fwrite(text, 1, n, stream) == n && std::fflush(stream) == 0;
    RegionAtlas_freeORV(atlas);
    // A short write would otherwise pass for a stored atlas.
    return written ? ok() : failText(5, "Unable to write atlas: the stream refused the text.");
}

RegionStatus* RegionAtlas_readFromStrings(RegionAtlas** atlas, int count, char** lines)
{
    if (!atlas || *atlas)
        return failText(8, "Invalid object pointer - cannot create new object");
    void* object = nullptr;
    RegionStatus* s = RegionReader_readORV(kAtlasClass, &object, count, lines, nullptr, readAtlas);
    if (!isError(s))
        *atlas = static_cast<RegionAtlas*>(object);
    return s;
}

}  // extern "C"
