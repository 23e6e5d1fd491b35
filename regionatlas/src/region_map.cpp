// Region maps: the definitions and names tables, registration with upward
// inheritance through an atlas, definitions, components, explicit
// primitives, list queries, and joining and leaving an atlas.
#include "region_atlas.h"
#include "region_definition.h"
#include "region_internal.h"
#include "region_map.h"
#include "region_name.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace regionatlas;

namespace {

bool gAdding = false;
bool gRemoving = false;
bool gJoiningAtlas = false;
bool gLeavingAtlas = false;

RegionHash* tableOf(RegionMap* map, int inDefinitions)
{
    return inDefinitions ? map->definitions : map->names;
}

RegionStatus* replaceInTable(RegionHash* table, RegionName* oldName, RegionName* newName)
{
    RegionStatus* s = nullptr;
    if (RegionHash_find(table, oldName, &s) != oldName)
        return ok();
    if (isError(s = RegionHash_remove(table, oldName)))
        return s;
    return RegionHash_insert(table, newName);
}

// Whether a map's table holds the object (the map itself, or any map of
// its atlas), or it stands for a definition.
bool heldByMaps(RegionMap* map, RegionName* n)
{
    if (!n)
        return false;
    if (n->definition)
        return true;
    std::vector<RegionMap*> maps = {map};
    if (RegionAtlas* atlas = map->atlas)
        maps = {atlas->vrnMap, atlas->primaryMap, atlas->secondaryMap, map};
    for (RegionMap* m : maps) {
        if (!m)
            continue;
        if (RegionMap_findByKey(m, 0, n->key) == n || RegionMap_findByKey(m, 1, n->key) == n)
            return true;
    }
    return false;
}

// Whether any table that could still hand the object out holds it (the
// region table of the atlas too), or it stands for a definition; such an
// object must not be freed.
bool heldAnywhere(RegionMap* map, RegionName* n)
{
    if (n && map->atlas && RegionAtlas_findByKey(map->atlas, n->key) == n)
        return true;
    return heldByMaps(map, n);
}

// Frees the object unless a map holds it or it stands for a definition.
// The region table holds only objects of its maps: one left there alone is
// replaced by the object a map holds for the key, if any, before it goes.
void deleteIfLoose(RegionMap* map, RegionName* n)
{
    if (!n || heldByMaps(map, n))
        return;
    if (RegionAtlas* atlas = map->atlas) {
        if (RegionAtlas_findByKey(atlas, n->key) == n) {
            RegionAtlas_removeRegion(atlas, n);
            for (RegionMap* m : {atlas->vrnMap, atlas->primaryMap, atlas->secondaryMap}) {
                RegionName* held = m ? RegionMap_findByKey(m, 0, n->key) : nullptr;
                if (!held && m)
                    held = RegionMap_findByKey(m, 1, n->key);
                if (held) {
                    RegionAtlas_addRegion(atlas, held);
                    break;
                }
            }
        }
    }
    RegionName_delete(&n);
}

struct Capture {
    void* context;
    RegionNameReplace replace;
    RegionName* fresh;
};

RegionStatus* capturingReplace(void* context, RegionName* oldName, RegionName* newName)
{
    Capture* c = static_cast<Capture*>(context);
    c->fresh = newName;
    return c->replace(c->context, oldName, newName);
}

// Transfers the name through the atlas's replace (in an atlas) or the
// map's. A fresh object that no table took is not left floating: the old
// object gets back what it gave and the fresh one is freed.
RegionStatus* transferVia(RegionMap* map, RegionName* name, bool viaAtlas)
{
    Capture c{viaAtlas ? static_cast<void*>(map->atlas) : static_cast<void*>(map),
              viaAtlas ? RegionAtlas_replaceName : RegionMap_replaceName, nullptr};
    RegionStatus* s = RegionName_transfer(name, &c, capturingReplace);
    if (isError(s) || !c.fresh || heldByMaps(map, c.fresh))
        return s;
    // No map took the fresh object: the old one gets back what it gave.
    name->referencedBy = c.fresh->referencedBy;
    c.fresh->referencedBy = nullptr;
    deleteIfLoose(map, c.fresh);
    return s;
}

RegionStatus* transfer(RegionMap* map, RegionName* name)
{
    return transferVia(map, name, map->atlas != nullptr);
}

// Step 3 of unregistration: the atlas side of a name leaving the map.
RegionStatus* leaveAtlasTable(RegionMap* map, RegionName* name)
{
    RegionAtlas* atlas = map->atlas;
    if (!atlas)
        return ok();
    RegionMap* higher = RegionAtlas_getHigherMap(atlas, map->type);
    if (!higher || RegionMap_disinheritName(higher, name, 0)) {
        if (RegionAtlas_findByKey(atlas, name->key) == name)
            return RegionAtlas_removeRegion(atlas, name);
        return ok();
    }
    return transferVia(map, name, true);
}

RegionStatus* registerIn(RegionMap* map, RegionName* name, int inDefinitions)
{
    RegionStatus* s = RegionHash_insert(tableOf(map, inDefinitions), name);
    if (isError(s))
        return s;
    RegionAtlas* atlas = map->atlas;
    if (!atlas)
        return s;
    if (RegionMap* higher = RegionAtlas_getHigherMap(atlas, map->type))
        RegionMap_inheritName(higher, name);
    RegionName* held = RegionAtlas_findByKey(atlas, name->key);
    if (held == name)
        return ok();
    if (held)
        RegionAtlas_removeRegion(atlas, held);
    s = RegionAtlas_addRegion(atlas, name);
    if (held)
        deleteIfLoose(map, held);
    return s;
}

enum class Selection { Implicit, Explicit, Primitives, Composites, Exported };

struct Collector {
    RegionMap* map;
    Selection selection;
    RegionStringList* list;
    RegionStatus* failure;
};

RegionStatus* collectEntry(RegionHashEntry* entry, void** argument)
{
    Collector* c = static_cast<Collector*>(*argument);
    RegionName* n = static_cast<RegionName*>(entry->item);
    int take = 0;
    switch (c->selection) {
    case Selection::Implicit:
        RegionName_isReferencedByMap(n, c->map, &take);
        break;
    case Selection::Explicit:
        RegionName_isExplicitPrimitiveIn(n, c->map, &take);
        break;
    case Selection::Primitives:
        take = RegionMap_findByKey(c->map, 1, n->key) == nullptr;
        break;
    case Selection::Composites:
    case Selection::Exported:
        if (!n->definition || n->definition->map != c->map)
            return fail(800002, "%s (%s) is not defined in map %s", kDefinitionClass, RegionName_getText(n),
                        c->map->name);
        take = 1;
        break;
    }
    if (take)
        return RegionStringList_addKey(c->list, n->key);
    return ok();
}

// The selected entries as a new list sorted by key; none when the table(s)
// behind the selection are empty.
RegionStatus* collect(RegionMap* map, Selection selection, RegionStringList** out)
{
    *out = nullptr;
    RegionStatus* s = nullptr;
    if (!RegionMap_check(map, &s))
        return s;
    bool fromNames = selection != Selection::Composites;
    bool fromDefinitions = selection == Selection::Composites || selection == Selection::Exported;
    unsigned size = (fromNames ? map->names->count : 0) + (fromDefinitions ? map->definitions->count : 0);
    if (size == 0)
        return ok();
    RegionStringList* list = nullptr;
    if (isError(s = RegionStringList_new(&list, 0)))
        return s;
    Collector c{map, selection, list, nullptr};
    if (fromNames) {
        Collector names = c;
        if (selection == Selection::Exported)
            names.selection = Selection::Primitives;
        s = RegionHash_forEach(map->names, collectEntry, &names);
    }
    if (!isError(s) && fromDefinitions)
        s = RegionHash_forEach(map->definitions, collectEntry, &c);
    if (!isError(s))
        s = RegionStringList_sort(list, 0);
    if (isError(s)) {
        StatusCopy saved(s);
        RegionStringList_delete(&list);
        return saved.restore();
    }
    *out = list;
    return ok();
}

// Hands a collected list out in the requested form.
RegionStatus* deliver(RegionMap* map, Selection selection, int mode, va_list ap, const char* missing,
                      const char* what)
{
    void* first = nullptr;
    void* second = nullptr;
    if (mode >= 1 && mode <= 4)
        first = va_arg(ap, void*);
    if (mode == 1 || mode == 2)
        second = va_arg(ap, void*);
    if (mode < 1 || mode > 4)
        return fail(3, "Unknown form (%d) in which to return a list", mode);
    if (!first || ((mode == 1 || mode == 2) && !second))
        return failText(8, missing);
    RegionStringList* list = nullptr;
    RegionStatus* s = collect(map, selection, &list);
    if (isError(s))
        return RegionStatus_getCode(s) == 7 ? RegionStatus_outOfMemory(what) : s;
    if (mode == 3) {
        *static_cast<RegionStringList**>(first) = list;
        return ok();
    }
    unsigned n = 0;
    if (mode == 1) {
        unsigned** keys = static_cast<unsigned**>(first);
        *keys = nullptr;
        s = RegionStringList_exportArgs(list, 1, keys, &n);
        *static_cast<int*>(second) = static_cast<int>(n);
    } else if (mode == 2) {
        s = RegionStringList_exportArgs(list, 2, static_cast<char***>(first), &n);
        *static_cast<int*>(second) = static_cast<int>(n);
    } else {
        s = RegionStringList_exportArgs(list, 4, static_cast<char**>(first));
    }
    StatusCopy saved(s);
    if (list)
        RegionStringList_delete(&list);
    if (saved.isError())
        return saved.code() == 7 ? RegionStatus_outOfMemory(what) : saved.restore();
    return ok();
}

std::vector<RegionDefinition*> definitionsOf(RegionMap* map)
{
    RegionDefinition** array = nullptr;
    unsigned count = 0;
    std::vector<RegionDefinition*> out;
    if (!isError(RegionMap_getDefinitions(map, &array, &count)))
        out.assign(array, array + count);
    std::free(array);
    return out;
}

std::vector<std::string> textsOf(RegionStringList* list)
{
    std::vector<std::string> out;
    for (unsigned i = 0; list && i < list->count; ++i) {
        char* text = nullptr;
        RegionDictionary_getText(list->items[i], &text);
        if (text)
            out.emplace_back(text);
    }
    return out;
}

std::vector<std::string> explicitPrimitivesOf(RegionMap* map)
{
    RegionStringList* list = nullptr;
    RegionMap_getExplicitPrimitives(map, 3, &list);
    std::vector<std::string> out = textsOf(list);
    if (list)
        RegionStringList_delete(&list);
    return out;
}

std::vector<std::string> exportedOf(RegionMap* map)
{
    RegionStringList* list = nullptr;
    if (map)
        RegionMap_getExportedNames(map, 3, &list);
    std::vector<std::string> out = textsOf(list);
    if (list)
        RegionStringList_delete(&list);
    return out;
}

// A map leaving its atlas, with its definitions and explicit primitives
// already taken out, keeps no name object of the atlas: whatever its tables
// still hold (names inherited from any lower map it saw) is taken out, and
// freed only when nothing in the atlas holds it.
void dropAtlasNames(RegionMap* map, RegionAtlas* atlas)
{
    std::vector<RegionName*> rest;
    for (RegionHash* table : {map->names, map->definitions}) {
        RegionHash_forEach(table, [](RegionHashEntry* e, void** arg) -> RegionStatus* {
            static_cast<std::vector<RegionName*>*>(*arg)->push_back(static_cast<RegionName*>(e->item));
            e->item = nullptr;
            return ok();
        }, &rest);
    }
    map->atlas = atlas;
    for (RegionName* n : rest) {
        RegionName_removeInheritingMap(n, map);
        RegionName_removeExplicitMap(n, map);
        deleteIfLoose(map, n);
    }
}

}  // namespace

namespace regionatlas {
void deleteNameIfLoose(RegionMap* map, RegionName* name) { deleteIfLoose(map, name); }
}  // namespace regionatlas

extern "C" {

const char* RegionMap_className(void) { return kMapClass; }

int RegionMap_check(const RegionMap* map, RegionStatus** status)
{
    RegionStatus* s = map ? ok() : fail(100001, "Invalid %s.", kMapClass);
    if (status)
        *status = s;
    return map ? 1 : 0;
}

int RegionMap_checkType(int type, RegionStatus** status)
{
    bool valid = type == REGION_MAP_VRN || type == REGION_MAP_PRIMARY || type == REGION_MAP_SECONDARY;
    RegionStatus* s = valid ? ok() : fail(100002, "Invalid %s type.", kMapClass);
    if (status)
        *status = s;
    return valid ? 1 : 0;
}

RegionStatus* RegionMap_new(RegionMap** out, const char* name)
{
    if (!out)
        return failText(8, "Invalid object pointer - cannot create new object");
    *out = nullptr;
    RegionStatus* s = nullptr;
    if (RegionName_isBlank(name, &s) || !RegionName_isStorable(name, &s) ||
        isError(s = checkNameLength(mapPathLength(nullptr, name), kMapClass, name)))
        return s;
    RegionMap* m = static_cast<RegionMap*>(std::calloc(1, sizeof(RegionMap)));
    if (!m)
        return RegionStatus_outOfMemory(kMapClass);
    auto failed = [&](RegionStatus* st) {
        StatusCopy saved(st);
        std::free(m->name);
        RegionHash_delete(&m->definitions);
        RegionHash_delete(&m->names);
        RegionName_delete(&m->probe);
        std::free(m);
        return saved.restore();
    };
    m->name = copyText(name);
    if (!m->name)
        return failed(fail(7, "Unable to allocate memory for new %s.", "Region Map name"));
    if (isError(s = RegionHash_new(&m->definitions, REGION_MAP_BUCKETS, RegionKey_hash, RegionKey_compare)) ||
        isError(s = RegionHash_new(&m->names, REGION_MAP_BUCKETS, RegionKey_hash, RegionKey_compare)) ||
        isError(s = RegionName_new(&m->probe, "DummyName")))
        return failed(s);
    *out = m;
    return ok();
}

RegionStatus* RegionMap_delete(RegionMap** holder, int deleteDefinitions)
{
    if (!holder)
        return failText(8, "Invalid object pointer - cannot delete object");
    RegionStatus* s = nullptr;
    RegionMap* map = *holder;
    if (!RegionMap_check(map, &s))
        return s;
    if (map->atlas && isError(s = RegionMap_leaveAtlas(map)))
        return s;
    RegionStatus* result = ok();
    StatusCopy firstFailure(result);
    for (RegionDefinition* d : definitionsOf(map)) {
        s = RegionMap_removeDefinition(map, d);
        if (!isError(s) && deleteDefinitions)
            s = RegionDefinition_delete(&d);
        if (isError(s) && !firstFailure.isError())
            firstFailure = StatusCopy(s);
    }
    RegionStringList* prims = nullptr;
    RegionMap_getPrimitives(map, 3, &prims);
    for (unsigned i = 0; prims && i < prims->count; ++i) {
        RegionName* n = RegionMap_findByKey(map, 0, prims->items[i]);
        if (!n)
            continue;
        RegionName_removeExplicitMap(n, map);
        s = RegionMap_unregisterName(map, n);
        if (isError(s) && !firstFailure.isError())
            firstFailure = StatusCopy(s);
        deleteIfLoose(map, n);
    }
    if (prims)
        RegionStringList_delete(&prims);
    // Whatever is left in the tables belongs to nobody else now.
    auto dropAll = [](RegionHashEntry* e, void**) -> RegionStatus* {
        RegionName* n = static_cast<RegionName*>(e->item);
        if (!n->definition)
            RegionName_delete(&n);
        e->item = nullptr;
        return ok();
    };
    RegionHash_forEach(map->names, dropAll, nullptr);
    RegionHash_forEach(map->definitions, [](RegionHashEntry* e, void**) -> RegionStatus* {
        e->item = nullptr;
        return ok();
    }, nullptr);
    std::free(map->name);
    std::free(map->owner);
    RegionHash_delete(&map->definitions);
    RegionHash_delete(&map->names);
    RegionName_delete(&map->probe);
    if (map->orvText)
        RegionString_delete(map->orvText, 1);
    std::free(map);
    *holder = nullptr;
    return firstFailure.restore();
}

RegionStatus* RegionMap_setName(RegionMap* map, const char* text)
{
    RegionStatus* s = nullptr;
    if (!RegionMap_check(map, &s) || RegionName_isBlank(text, &s) || !RegionName_isStorable(text, &s) ||
        isError(s = checkNameLength(mapPathLength(nullptr, text), kMapClass, text)))
        return s;
    // Under the new name the map's text, and its atlas's, must still hold
    // every definition's block.
    RegionAtlas* atlas = map->atlas;
    const size_t path = mapPathLength(map, text) + (atlas ? atlasPrefixLength(atlas->name) : 0);
    s = checkPathLength(path, [&] {
        return named(kMapClass, text) + " with its definitions" +
               (atlas ? " in " + named(kAtlasClass, atlas->name) : "");
    });
    if (isError(s))
        return s;
    char* copy = copyText(text);
    if (!copy)
        return fail(7, "Unable to allocate memory for new %s.", "Region Map name");
    std::free(map->name);
    map->name = copy;
    return ok();
}

RegionStatus* RegionMap_setOwner(RegionMap* map, const char* text)
{
    RegionStatus* s = nullptr;
    if (!RegionMap_check(map, &s) || RegionName_isBlank(text, &s) || !RegionName_isStorable(text, &s))
        return s;
    char* copy = copyText(text);
    if (!copy)
        return fail(7, "Unable to allocate memory for new %s.", "Region Map owner");
    std::free(map->owner);
    map->owner = copy;
    return ok();
}

RegionStatus* RegionMap_getName(const RegionMap* map, char** out)
{
    if (!out)
        return fail(8, "Cannot return the name of the %s.", kMapClass);
    *out = nullptr;
    RegionStatus* s = nullptr;
    if (!RegionMap_check(map, &s))
        return s;
    if (!map->name || !*map->name)
        return fail(2, "%s is unnamed.", kMapClass);
    *out = map->name;
    return ok();
}

RegionStatus* RegionMap_getOwner(const RegionMap* map, char** out)
{
    if (!out)
        return fail(8, "Cannot return the owner of the %s.", kMapClass);
    *out = nullptr;
    RegionStatus* s = nullptr;
    if (!RegionMap_check(map, &s))
        return s;
    *out = map->owner;
    return ok();
}

RegionStatus* RegionMap_getType(const RegionMap* map, int* out)
{
    if (!out)
        return fail(8, "Cannot return the type of the %s.", kMapClass);
    *out = 0;
    RegionStatus* s = nullptr;
    if (!RegionMap_check(map, &s))
        return s;
    if (!map->atlas)
        return fail(400001, "%s is not in a %s", kMapClass, kAtlasClass);
    *out = map->type;
    return ok();
}

RegionStatus* RegionMap_getAtlas(const RegionMap* map, RegionAtlas** out)
{
    if (!out)
        return fail(8, "Cannot return the %s the %s is in.", kAtlasClass, kMapClass);
    *out = nullptr;
    RegionStatus* s = nullptr;
    if (!RegionMap_check(map, &s))
        return s;
    if (!map->atlas)
        return fail(400001, "%s is not in a %s", kMapClass, kAtlasClass);
    *out = map->atlas;
    return ok();
}

RegionStatus* RegionMap_countNames(const RegionMap* map, unsigned* out)
{
    RegionStatus* s = nullptr;
    if (!RegionMap_check(map, &s))
        return s;
    if (!out)
        return failText(8, "Cannot return the number of names.");
    *out = map->definitions->count + map->names->count;
    return ok();
}

RegionStatus* RegionMap_resetAtlasCache(RegionMap* map)
{
    RegionStatus* s = nullptr;
    if (!RegionMap_check(map, &s))
        return s;
    if (map->atlas)
        return RegionAtlas_resetCache(map->atlas);
    return ok();
}

RegionName* RegionMap_findByKey(RegionMap* map, int inDefinitions, unsigned key)
{
    if (!map || !map->probe || key == 0 || key > RegionDictionary_count())
        return nullptr;
    map->probe->key = key;
    RegionStatus* s = nullptr;
    return static_cast<RegionName*>(RegionHash_find(tableOf(map, inDefinitions), map->probe, &s));
}

RegionName* RegionMap_findByText(RegionMap* map, int inDefinitions, const char* text)
{
    unsigned key = 0;
    if (!map || !text || isError(RegionDictionary_lookup(text, &key)))
        return nullptr;
    return RegionMap_findByKey(map, inDefinitions, key);
}

RegionStatus* RegionMap_findName(RegionMap* map, const char* text, int* found, RegionName** out)
{
    if (!found)
        return failText(8, "Cannot return whether the name was found.");
    *found = 0;
    if (out)
        *out = nullptr;
    RegionStatus* s = nullptr;
    if (!RegionMap_check(map, &s) || RegionName_isBlank(text, &s))
        return s;
    RegionName* n = RegionMap_findByText(map, 1, text);
    if (!n)
        n = RegionMap_findByText(map, 0, text);
    *found = n != nullptr;
    if (out)
        *out = n;
    return ok();
}

RegionStatus* RegionMap_findNameByText(const char* text, RegionMap* map, int* found, RegionName** out)
{
    return RegionMap_findName(map, text, found, out);
}

RegionStatus* RegionMap_definesText(RegionMap* map, const char* text, int* out)
{
    if (!out)
        return failText(8, "Cannot return whether the text is defined.");
    *out = 0;
    RegionStatus* s = nullptr;
    if (!RegionMap_check(map, &s) || RegionName_isBlank(text, &s))
        return s;
    *out = RegionMap_findByText(map, 1, text) != nullptr;
    return ok();
}

RegionStatus* RegionMap_usesText(RegionMap* map, const char* text, int* out)
{
    if (!out)
        return failText(8, "Cannot return whether the text is used.");
    *out = 1;
    RegionStatus* s = nullptr;
    if (!RegionMap_check(map, &s) || RegionName_isBlank(text, &s))
        return s;
    if (map->type == REGION_MAP_VRN)
        *out = RegionMap_findByText(map, 0, text) != nullptr;
    else
        *out = RegionMap_findByText(map, 1, text) == nullptr;
    return ok();
}

int RegionMap_isNameInUse(RegionMap* map, RegionName* name)
{
    int referenced = 0, explicitHere = 0;
    RegionName_isReferencedByMap(name, map, &referenced);
    RegionName_isExplicitPrimitiveIn(name, map, &explicitHere);
    return referenced || explicitHere;
}

RegionStatus* RegionMap_getDefinitionByKey(RegionMap* map, unsigned key, RegionDefinition** out)
{
    if (!out)
        return fail(8, "Cannot return %s for %s", kDefinitionClass, kNameClass);
    *out = nullptr;
    RegionStatus* s = nullptr;
    if (!RegionMap_check(map, &s))
        return s;
    RegionName* n = RegionMap_findByKey(map, 1, key);
    if (!n)
        return fail(800002, "%s (%u) is not defined in the %s.", kDefinitionClass, key, kMapClass);
    if (!n->definition)
        return fail(800001, "%s is primitive.", kNameClass);
    *out = n->definition;
    return ok();
}

RegionStatus* RegionMap_getDefinitionByText(RegionMap* map, const char* text, RegionDefinition** out)
{
    if (!out)
        return fail(8, "Cannot return %s for %s", kDefinitionClass, kNameClass);
    *out = nullptr;
    RegionStatus* s = nullptr;
    if (!RegionMap_check(map, &s))
        return s;
    unsigned key = 0;
    if (isError(RegionDictionary_lookup(text, &key)) || isError(RegionMap_getDefinitionByKey(map, key, out)))
        return fail(800002, "%s (%s) is not defined in the %s.", kDefinitionClass, text ? text : "", kMapClass);
    return ok();
}

RegionStatus* RegionMap_getDefinitions(RegionMap* map, RegionDefinition*** array, unsigned* count)
{
    RegionStatus* s = nullptr;
    if (!RegionMap_check(map, &s))
        return s;
    if (!array || !count)
        return failText(8, "Cannot return the definitions.");
    *array = nullptr;
    *count = 0;
    if (map->definitions->count == 0)
        return ok();
    RegionDefinition** out =
        static_cast<RegionDefinition**>(std::calloc(map->definitions->count, sizeof(RegionDefinition*)));
    if (!out)
        return RegionStatus_outOfMemory("list of definitions");
    struct Fill {
        RegionDefinition** out;
        unsigned n;
        unsigned max;
    } fill{out, 0, map->definitions->count};
    RegionHash_forEach(map->definitions, [](RegionHashEntry* e, void** arg) -> RegionStatus* {
        Fill* f = static_cast<Fill*>(*arg);
        RegionName* n = static_cast<RegionName*>(e->item);
        if (n->definition && f->n < f->max)
            f->out[f->n++] = n->definition;
        return ok();
    }, &fill);
    if (fill.n == 0) {
        std::free(out);
        return ok();
    }
    *array = out;
    *count = fill.n;
    return ok();
}

RegionStatus* RegionMap_registerName(RegionMap* map, RegionName* name) { return registerIn(map, name, 0); }

RegionStatus* RegionMap_registerDefinedName(RegionMap* map, RegionName* name) { return registerIn(map, name, 1); }

RegionStatus* RegionMap_inheritName(RegionMap* higher, RegionName* name)
{
    RegionStatus* s = nullptr;
    if (!RegionMap_check(higher, &s) || !RegionName_check(name, &s))
        return s;
    int inherited = 0;
    RegionName_isInheritedIn(name, higher, &inherited);
    if (inherited)
        return ok();
    if (RegionMap_isNameInUse(higher, name))
        return RegionName_addInheritingMap(name, higher);
    RegionName* held = RegionMap_findByKey(higher, 0, name->key);
    if (held && held != name)
        return ok();
    if (held || !isError(RegionMap_registerName(higher, name)))
        RegionName_addInheritingMap(name, higher);
    return ok();
}

int RegionMap_disinheritName(RegionMap* higher, RegionName* name, int transferFlag)
{
    if (!higher || !name || isError(RegionName_removeInheritingMap(name, higher)))
        return 0;
    if (!RegionMap_isNameInUse(higher, name)) {
        if (RegionMap_findByKey(higher, 0, name->key) == name)
            RegionMap_unregisterName(higher, name);
        return 1;
    }
    if (transferFlag == 1 && higher->atlas)
        transferVia(higher, name, true);
    return 0;
}

RegionStatus* RegionMap_unregisterName(RegionMap* map, RegionName* name)
{
    RegionStatus* s = RegionHash_remove(map->names, name);
    if (isError(s))
        return s;
    if (RegionMap_findByKey(map, 1, name->key) == name)
        return transfer(map, name);
    return leaveAtlasTable(map, name);
}

RegionStatus* RegionMap_unregisterDefinedName(RegionMap* map, RegionName* name)
{
    RegionStatus* s = RegionHash_remove(map->definitions, name);
    if (isError(s))
        return s;
    if (RegionMap_isNameInUse(map, name))
        return transfer(map, name);
    if (RegionMap_findByKey(map, 0, name->key) == name)
        RegionHash_remove(map->names, name);
    return leaveAtlasTable(map, name);
}

RegionStatus* RegionMap_releaseName(RegionMap* map, RegionName* name)
{
    RegionStatus* s = nullptr;
    if (!RegionMap_check(map, &s) || !RegionName_check(name, &s))
        return s;
    return RegionMap_unregisterName(map, name);
}

RegionName* RegionMap_createName(RegionMap* map, const char* text)
{
    RegionName* n = nullptr;
    if (!map || isError(RegionName_new(&n, text)))
        return nullptr;
    if (isError(RegionMap_registerName(map, n))) {
        RegionName_delete(&n);
        return nullptr;
    }
    return n;
}

RegionStatus* RegionMap_replaceName(void* context, RegionName* oldName, RegionName* newName)
{
    RegionMap* map = static_cast<RegionMap*>(context);
    RegionStatus* s = nullptr;
    if (!RegionMap_check(map, &s))
        return s;
    if (isError(s = replaceInTable(map->definitions, oldName, newName)) ||
        isError(s = replaceInTable(map->names, oldName, newName)))
        return s;
    if (!RegionMap_isNameInUse(map, newName) && !RegionMap_findByKey(map, 1, newName->key) && map->atlas) {
        if (RegionMap* higher = RegionAtlas_getHigherMap(map->atlas, map->type))
            RegionMap_disinheritName(higher, newName, 0);
    }
    return ok();
}

void RegionMap_notifyNameManager(RegionDefinition* definition, RegionMap* map, int operation, const char* text)
{
    if (!definition || !text)
        return;
    RegionMap* m = definition->map ? definition->map : map;
    if (!m || !m->atlas || m->type == REGION_MAP_VRN)
        return;
    void* context = nullptr;
    RegionNameManagerHook hook = nullptr;
    if (RegionAtlas_getNameManager(m->atlas, &context, &hook))
        hook(context, operation, text);
}

RegionStatus* RegionMap_addDefinition(RegionMap* map, RegionDefinition* definition)
{
    if (gAdding)
        return ok();
    RegionStatus* s = nullptr;
    if (!RegionMap_check(map, &s))
        return s;
    if (!RegionDefinition_canJoinMap(definition, map, &s))
        return s;
    if (definition->map) {
        if (isError(s = RegionMap_removeDefinition(definition->map, definition)))
            return s;
    }
    FlagGuard guard(gAdding);
    return RegionMap_attachDefinition(map, definition, definition->name);
}

RegionStatus* RegionMap_attachDefinition(RegionMap* map, RegionDefinition* definition, RegionName* name)
{
    RegionStatus* s = nullptr;
    if (!RegionMap_check(map, &s) || !RegionName_check(name, &s))
        return s;
    unsigned key = name->key;
    RegionName* target = nullptr;
    if (map->atlas)
        target = RegionAtlas_findByKey(map->atlas, key);
    else
        target = RegionMap_findByKey(map, 0, key);
    if (!target)
        target = name;
    if (target != name) {
        definition->name = target;
        target->definition = definition;
    }
    if (RegionMap_findByKey(map, 1, key) != target)
        s = RegionMap_registerDefinedName(map, target);
    if (isError(s)) {
        StatusCopy saved(s);
        if (target != name) {
            target->definition = nullptr;
            definition->name = name;
        }
        return saved.restore();
    }
    for (int side = 1; side <= 2 && !isError(s); ++side) {
        RegionStringList* list = side == 1 ? definition->sideA : definition->sideB;
        for (unsigned i = 0; list && i < list->count && !isError(s); ++i)
            s = RegionMap_addComponent(map, list->items[i], definition, side);
    }
    if (isError(s)) {
        // Take back what was done, then give the definition its name back.
        StatusCopy saved(s);
        definition->map = map;
        {
            bool wasAdding = gAdding;
            gAdding = false;
            RegionMap_removeDefinition(map, definition);
            gAdding = wasAdding;
        }
        definition->map = nullptr;
        if (target != name) {
            if (definition->name == target)
                target->definition = nullptr;
            definition->name = name;
            name->definition = definition;
        }
        return saved.restore();
    }
    if (target != name) {
        name->definition = nullptr;
        deleteIfLoose(map, name);
    }
    definition->map = map;
    RegionMap_resetAtlasCache(map);
    RegionMap_notifyNameManager(definition, map, 1, RegionName_getText(definition->name));
    return ok();
}

RegionStatus* RegionMap_addComponent(RegionMap* map, unsigned key, RegionDefinition* definition, int side)
{
    RegionStatus* s = nullptr;
    if (!RegionMap_check(map, &s))
        return s;
    // The object the names table holds comes first, so that a table never
    // receives a second object of one key.
    RegionName* n = RegionMap_findByKey(map, 0, key);
    if (!n)
        n = RegionMap_findByKey(map, 1, key);
    if (!n && map->atlas)
        n = RegionAtlas_findByKey(map->atlas, key);
    if (!n) {
        char* text = nullptr;
        RegionDictionary_getText(key, &text);
        n = RegionMap_createName(map, text);
        if (!n)
            return fail(7, "Unable to allocate memory for new %s.", kNameClass);
    } else if (RegionMap_findByKey(map, 0, key) != n) {
        int inherited = 0;
        RegionName_isInheritedIn(n, map, &inherited);
        if (!RegionMap_isNameInUse(map, n) && !inherited && isError(s = RegionMap_registerName(map, n)))
            return s;
    }
    if (isError(s = addReferenceIn(n, definition, side, map)))
        return s;
    if (map->atlas) {
        if (RegionMap* higher = RegionAtlas_getHigherMap(map->atlas, map->type))
            RegionMap_inheritName(higher, n);
        RegionName* held = RegionAtlas_findByKey(map->atlas, key);
        if (held != n) {
            if (held)
                RegionAtlas_removeRegion(map->atlas, held);
            s = RegionAtlas_addRegion(map->atlas, n);
            if (held)
                deleteIfLoose(map, held);
        }
    }
    return s;
}

RegionStatus* RegionMap_removeDefinition(RegionMap* map, RegionDefinition* definition)
{
    if (gRemoving)
        return ok();
    RegionStatus* s = nullptr;
    if (!RegionMap_check(map, &s))
        return s;
    if (!definition)
        return fail(100003, "Invalid %s.", kDefinitionClass);
    if (definition->map != map)
        return fail(800002, "%s not declared in %s (%s).", kNameClass, kMapClass, map->name);
    RegionName* name = definition->name;
    std::string text = RegionName_getText(name) ? RegionName_getText(name) : "";
    {
        FlagGuard guard(gRemoving);
        s = RegionDefinition_leaveMap(definition);
    }
    if (isError(s))
        return s;
    if (RegionMap_findByKey(map, 1, name->key) == name)
        s = RegionMap_unregisterDefinedName(map, name);
    StatusCopy saved(s);
    if (map->atlas)
        RegionMap_notifyNameManager(definition, map, 0, text.c_str());
    RegionMap_resetAtlasCache(map);
    if (definition->name != name) {
        deleteIfLoose(map, name);
    } else {
        // A name object some table still holds stays there as a primitive;
        // the definition leaves with an object of its own.
        name->definition = nullptr;
        RegionName* fresh = nullptr;
        if (heldAnywhere(map, name) && !isError(RegionName_new(&fresh, text.c_str()))) {
            fresh->definition = definition;
            definition->name = fresh;
        } else {
            name->definition = definition;
        }
    }
    return saved.restore();
}

RegionStatus* RegionMap_removeDefinitionByName(RegionMap* map, const char* text)
{
    RegionStatus* s = nullptr;
    if (!RegionMap_check(map, &s) || RegionName_isBlank(text, &s))
        return s;
    RegionDefinition* d = nullptr;
    if (isError(s = RegionMap_getDefinitionByText(map, text, &d)))
        return s;
    return RegionMap_removeDefinition(map, d);
}

RegionStatus* RegionMap_addExplicitPrimitive(RegionMap* map, const char* text)
{
    RegionStatus* s = nullptr;
    if (!RegionMap_check(map, &s) || RegionName_isBlank(text, &s))
        return s;
    if (RegionMap_findByText(map, 1, text))
        return fail(600003, "%s cannot be made explicitly primitive in the %s that defines it.", kNameClass,
                    kMapClass);
    RegionName* n = RegionMap_findByText(map, 0, text);
    if (!n && map->atlas) {
        unsigned key = 0;
        if (!isError(RegionDictionary_lookup(text, &key)))
            n = RegionAtlas_findByKey(map->atlas, key);
        if (n) {
            bool refused = false;
            if (map->type == REGION_MAP_VRN) {
                refused = n->definition != nullptr;
            } else if (map->type == REGION_MAP_PRIMARY) {
                int defines = 0;
                if (map->atlas->secondaryMap)
                    RegionMap_definesText(map->atlas->secondaryMap, text, &defines);
                refused = defines != 0;
            }
            if (refused)
                return fail(600003, "%s cannot be made explicitly primitive in a lower %s than it is defined in.",
                            kNameClass, kMapClass);
            if (isError(s = RegionMap_registerName(map, n)))
                return s;
        }
    }
    if (!n) {
        if (isError(s = RegionName_new(&n, text)))
            return s;
        if (isError(s = RegionMap_registerName(map, n))) {
            StatusCopy saved(s);
            RegionName_delete(&n);
            return saved.restore();
        }
    }
    return RegionName_addExplicitMap(n, map);
}

RegionStatus* RegionMap_removeExplicitPrimitive(RegionMap* map, const char* text)
{
    RegionStatus* s = nullptr;
    if (!RegionMap_check(map, &s) || RegionName_isBlank(text, &s))
        return s;
    RegionName* n = RegionMap_findByText(map, 0, text);
    int here = 0;
    if (n)
        RegionName_isExplicitPrimitiveIn(n, map, &here);
    if (!here)
        return fail(600002, "%s %s is not an explicit primtitive of %s (%s)", kNameClass, text, kMapClass,
                    map->name);
    RegionName_removeExplicitMap(n, map);
    int inherited = 0;
    RegionName_isInheritedIn(n, map, &inherited);
    if (!RegionMap_isNameInUse(map, n) && !inherited) {
        if (isError(s = RegionMap_unregisterName(map, n)))
            return s;
        deleteIfLoose(map, n);
    }
    RegionMap_resetAtlasCache(map);
    return ok();
}

RegionStatus* RegionMap_getImplicitPrimitives(RegionMap* map, int mode, ...)
{
    va_list ap;
    va_start(ap, mode);
    RegionStatus* s = deliver(map, Selection::Implicit, mode, ap, "Unable to return list of implicit primitives",
                              "list of implicit primitives");
    va_end(ap);
    return s;
}

RegionStatus* RegionMap_getExplicitPrimitives(RegionMap* map, int mode, ...)
{
    va_list ap;
    va_start(ap, mode);
    RegionStatus* s = deliver(map, Selection::Explicit, mode, ap, "Unable to return list of explicit primitives",
                              "list of explicit primitives");
    va_end(ap);
    return s;
}

RegionStatus* RegionMap_getPrimitives(RegionMap* map, int mode, ...)
{
    va_list ap;
    va_start(ap, mode);
    RegionStatus* s =
        deliver(map, Selection::Primitives, mode, ap, "Unable to return list of primitives", "list of primitives");
    va_end(ap);
    return s;
}

RegionStatus* RegionMap_getComposites(RegionMap* map, int mode, ...)
{
    va_list ap;
    va_start(ap, mode);
    RegionStatus* s =
        deliver(map, Selection::Composites, mode, ap, "Unable to return list of composites", "list of composites");
    va_end(ap);
    return s;
}

RegionStatus* RegionMap_getExportedNames(RegionMap* map, int mode, ...)
{
    va_list ap;
    va_start(ap, mode);
    RegionStatus* s = deliver(map, Selection::Exported, mode, ap, "Unable to return list of exported names",
                              "list of exported names");
    va_end(ap);
    return s;
}

RegionStatus* RegionMap_addExportedNames(RegionMap* map, RegionStringList* exclude, RegionStringList* target)
{
    RegionStringList* list = nullptr;
    RegionStatus* s = RegionMap_getExportedNames(map, 3, &list);
    if (isError(s) || !list)
        return s;
    if (exclude)
        s = RegionStringList_difference(list, exclude);
    if (!isError(s))
        s = RegionStringList_union(target, list);
    StatusCopy saved(s);
    RegionStringList_delete(&list);
    return saved.restore();
}

RegionStatus* RegionMap_joinAtlas(RegionMap* map, RegionAtlas* atlas, int level)
{
    if (gJoiningAtlas)
        return ok();
    RegionStatus* s = nullptr;
    if (!RegionMap_check(map, &s) || !RegionMap_checkType(level, &s))
        return s;
    FlagGuard guard(gJoiningAtlas);
    std::vector<RegionDefinition*> defs = definitionsOf(map);
    std::vector<std::string> explicits = explicitPrimitivesOf(map);
    for (RegionDefinition* d : defs)
        RegionMap_removeDefinition(map, d);
    for (const std::string& t : explicits)
        RegionMap_removeExplicitPrimitive(map, t.c_str());
    map->type = level;
    map->atlas = atlas;
    if (RegionMap* lower = RegionAtlas_getLowerMap(atlas, level)) {
        for (const std::string& t : exportedOf(lower)) {
            unsigned key = 0;
            RegionDictionary_lookup(t.c_str(), &key);
            if (RegionName* n = RegionAtlas_findByKey(atlas, key))
                RegionMap_inheritName(map, n);
        }
    }
    s = ok();
    for (RegionDefinition* d : defs) {
        s = RegionMap_addDefinition(map, d);
        if (isError(s))
            break;
    }
    StatusCopy saved(s);
    if (saved.isError()) {
        // The map goes back to standing alone with everything it held.
        for (RegionDefinition* d : definitionsOf(map))
            RegionMap_removeDefinition(map, d);
        std::vector<std::string> inherited = exportedOf(RegionAtlas_getLowerMap(atlas, level));
        map->atlas = nullptr;
        for (const std::string& t : inherited) {
            unsigned key = 0;
            RegionDictionary_lookup(t.c_str(), &key);
            if (RegionName* n = RegionAtlas_findByKey(atlas, key))
                RegionMap_disinheritName(map, n, 0);
        }
        dropAtlasNames(map, atlas);
        map->atlas = nullptr;
        for (RegionDefinition* d : defs)
            readmit(map, d);
    }
    for (const std::string& t : explicits)
        RegionMap_addExplicitPrimitive(map, t.c_str());
    RegionAtlas_resetCache(atlas);
    return saved.restore();
}

RegionStatus* RegionMap_leaveAtlas(RegionMap* map)
{
    if (gLeavingAtlas)
        return ok();
    RegionStatus* s = nullptr;
    if (!RegionMap_check(map, &s))
        return s;
    if (!map->atlas)
        return fail(400001, "%s (%s) is not in %s.", kMapClass, map->name ? map->name : "unnamed", kAtlasClass);
    FlagGuard guard(gLeavingAtlas);
    RegionAtlas* atlas = map->atlas;
    std::vector<RegionDefinition*> defs = definitionsOf(map);
    std::vector<std::string> explicits = explicitPrimitivesOf(map);
    std::vector<std::string> lowerNames = exportedOf(RegionAtlas_getLowerMap(atlas, map->type));
    for (RegionDefinition* d : defs)
        RegionMap_removeDefinition(map, d);
    for (const std::string& t : explicits)
        RegionMap_removeExplicitPrimitive(map, t.c_str());
    s = RegionAtlas_removeMap(atlas, map);
    StatusCopy saved(s);
    for (const std::string& t : lowerNames) {
        unsigned key = 0;
        RegionDictionary_lookup(t.c_str(), &key);
        RegionName* n = RegionAtlas_findByKey(atlas, key);
        if (!n)
            continue;
        if (!saved.isError()) {
            RegionMap* self = map;
            map->atlas = nullptr;
            RegionMap_disinheritName(self, n, 0);
            map->atlas = atlas;
        } else {
            RegionMap_inheritName(map, n);
        }
    }
    if (!saved.isError()) {
        dropAtlasNames(map, atlas);
        map->atlas = nullptr;
    }
    for (RegionDefinition* d : defs)
        readmit(map, d);
    for (const std::string& t : explicits)
        RegionMap_addExplicitPrimitive(map, t.c_str());
    RegionAtlas_resetCache(atlas);
    return saved.restore();
}

}  // extern "C"
