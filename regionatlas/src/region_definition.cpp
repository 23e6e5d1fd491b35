// Region definitions: creation, components, names, tags, the map hooks and
// the REGION block of ORV text.
#include "region_atlas.h"
#include "region_definition.h"
#include "region_internal.h"
#include "region_map.h"
#include "region_name.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

using namespace regionatlas;

namespace {

bool gEditing = false;
bool gJoining = false;
bool gLeaving = false;
bool gReadmitting = false;

struct CombinationRow {
    int code;
    const char* name;
    int twoSided;
};

const CombinationRow kCombinations[] = {
    {RC_UNION, "Union", 0},
    {RC_INTERSECTION, "Intersection", 0},
    {RC_COMPLEMENT, "Complement", 0},
    {RC_DIFFERENCE, "Difference", 1},
    {RC_SYMMETRIC_DIFFERENCE, "Symmetric Difference", 1},
    {RC_MERGE, "Merge", 0},
    {RC_ALIAS, "Alias", 0},
    {0, nullptr, 0},
};

RegionStatus* check(const RegionDefinition* d)
{
    return d ? ok() : fail(100003, "Invalid %s.", kDefinitionClass);
}

bool twoSided(int combination)
{
    return combination == RC_DIFFERENCE || combination == RC_SYMMETRIC_DIFFERENCE;
}

// Combinations a definition may be created with or changed to.
RegionStatus* creatableCombination(int combination)
{
    switch (combination) {
    case RC_UNION:
    case RC_INTERSECTION:
    case RC_DIFFERENCE:
    case RC_SYMMETRIC_DIFFERENCE:
    case RC_ALIAS:
        return ok();
    default:
        return failText(100004, "Invalid combination.");
    }
}

const char* nameOf(const RegionDefinition* d) { return RegionName_getText(d->name); }

bool listHolds(RegionStringList* list, unsigned key)
{
    int found = 0;
    return list && !isError(RegionStringList_findKey(list, key, &found)) && found;
}

RegionStatus* memoryAs(RegionStatus* s, const char* what)
{
    return RegionStatus_getCode(s) == 7 ? RegionStatus_outOfMemory(what) : s;
}

// Whether the name is reached from the components through definitions of
// the map (or of the atlas holding it).
bool reaches(RegionMap* map, const RegionDefinition* def, unsigned target)
{
    std::vector<unsigned> pending;
    std::unordered_set<unsigned> seen;
    auto push = [&](const RegionStringList* l) {
        for (unsigned i = 0; l && i < l->count; ++i)
            if (seen.insert(l->items[i]).second)
                pending.push_back(l->items[i]);
    };
    push(def->sideA);
    push(def->sideB);
    while (!pending.empty()) {
        unsigned key = pending.back();
        pending.pop_back();
        if (key == target)
            return true;
        RegionName* n = nullptr;
        if (map->atlas)
            n = RegionAtlas_findByKey(map->atlas, key);
        if (!n || !n->definition)
            n = RegionMap_findByKey(map, 1, key);
        if (n && n->definition && n->definition != def) {
            push(n->definition->sideA);
            push(n->definition->sideB);
        }
    }
    return false;
}

// Puts the keys into the side list (made when absent), replacing its keys.
RegionStatus* fillSide(RegionStringList** side, const RegionStringList* keys)
{
    if (!*side) {
        if (!keys || keys->count == 0)
            return ok();
        return RegionStringList_copy(side, keys);
    }
    RegionStringList_clear(*side);
    for (unsigned i = 0; keys && i < keys->count; ++i) {
        RegionStatus* s = RegionStringList_addKey(*side, keys->items[i]);
        if (isError(s))
            return s;
    }
    return ok();
}

// The lower-map and higher-map rules of a map in an atlas.
RegionStatus* levelRules(RegionDefinition* def, RegionMap* map, RegionName* held)
{
    RegionAtlas* atlas = map->atlas;
    RegionMap* lower = nullptr;
    if (map->type == REGION_MAP_PRIMARY)
        lower = atlas->vrnMap;
    else if (map->type == REGION_MAP_SECONDARY)
        lower = atlas->primaryMap ? atlas->primaryMap : atlas->vrnMap;
    if (lower && held) {
        int used = 0, explicitThere = 0, inherited = 0;
        RegionName_isReferencedByMap(held, lower, &used);
        RegionName_isExplicitPrimitiveIn(held, lower, &explicitThere);
        RegionName_isInheritedIn(held, lower, &inherited);
        if (used || explicitThere || inherited) {
            std::string m = std::string("Cannot add ") + kDefinitionClass + "to " + kMapClass + " because " +
                            kDefinitionClass + "(" + nameOf(def) + ") " + "is referenced from a lower " + kMapClass +
                            ".";
            return failText(600005, m.c_str());
        }
    }
    std::vector<RegionMap*> higher;
    if (map->type == REGION_MAP_VRN) {
        for (RegionMap* h : {atlas->primaryMap, atlas->secondaryMap})
            if (h)
                higher.push_back(h);
    } else if (map->type == REGION_MAP_PRIMARY && atlas->secondaryMap) {
        higher.push_back(atlas->secondaryMap);
    }
    for (RegionStringList* side : {def->sideA, def->sideB}) {
        for (unsigned i = 0; side && i < side->count; ++i) {
            for (RegionMap* h : higher) {
                if (!RegionMap_findByKey(h, 1, side->items[i]))
                    continue;
                char* text = nullptr;
                RegionDictionary_getText(side->items[i], &text);
                std::string m = std::string("Cannot add ") + kDefinitionClass + "to " + kMapClass + " because " +
                                kDefinitionClass + "(" + (text ? text : "") + ") " + "is defined in a higher.";
                return failText(600004, m.c_str());
            }
        }
    }
    return ok();
}

// Whether the definition may join the map: its region is not defined there
// (or elsewhere in the atlas) already, the atlas's level rules hold, and it
// does not reach itself through the definitions it uses.
RegionStatus* admission(RegionDefinition* def, RegionMap* map, bool allRules)
{
    RegionName* held = RegionMap_findByKey(map, 1, def->name->key);
    if (!held)
        held = RegionMap_findByKey(map, 0, def->name->key);
    RegionName* own = held;
    // In an atlas the region may be defined by another of its maps.
    if ((!held || !held->definition) && map->atlas)
        held = RegionAtlas_findByKey(map->atlas, def->name->key);
    if (held && held != def->name && held->definition && held->definition != def)
        return fail(800004, "%s (%s) is already defined.", kDefinitionClass, nameOf(def));
    if (!allRules)
        return ok();
    if (map->atlas) {
        RegionStatus* s = levelRules(def, map, own && own->referencedBy && own->referencedBy->count ? own : nullptr);
        if (isError(s))
            return s;
    }
    if (reaches(map, def, def->name->key))
        return fail(700000, "%s (%s) cannot reference itself.", kDefinitionClass, nameOf(def));
    return ok();
}

}  // namespace

extern "C" {

const char* RegionDefinition_className(void) { return kDefinitionClass; }

const char* RegionCombination_getName(int combination)
{
    for (const CombinationRow* r = kCombinations; r->name; ++r)
        if (r->code == combination)
            return r->name;
    return nullptr;
}

int RegionCombination_check(int combination, RegionStatus** status)
{
    RegionStatus* s = ok();
    int result = 0;
    if (combination >= 1 && combination <= 7)
        result = twoSided(combination) ? 1 : 0;
    else
        s = failText(100004, "Invalid combination.");
    if (status)
        *status = s;
    return result;
}

RegionStatus* RegionDefinition_new(RegionDefinition** out, const char* name, int combination, char** namesA,
                                   char** namesB, unsigned countA, unsigned countB)
{
    if (!out)
        return failText(8, "Invalid object pointer - cannot create new object");
    *out = nullptr;
    RegionStatus* s = nullptr;
    if (RegionName_isBlank(name, &s) || !RegionName_isStorable(name, &s))
        return s;
    if (isError(s = creatableCombination(combination)))
        return s;
    bool two = twoSided(combination);
    if (!two) {
        if (countA < 1 || !namesA)
            return fail(700002, "%s requires at least one component.", kDefinitionClass);
        if (combination == RC_ALIAS && countA > 1)
            return fail(200003, "ALIAS %s requires at most one component.", kDefinitionClass);
    } else {
        if (countA < 1 || !namesA)
            return fail(700002, "%s requires at least one component in first list.", kDefinitionClass);
        if (countB < 1 || !namesB)
            return fail(700002, "%s requires at least one component in second list.", kDefinitionClass);
    }
    RegionDefinition* d = static_cast<RegionDefinition*>(std::calloc(1, sizeof(RegionDefinition)));
    if (!d)
        return RegionStatus_outOfMemory(kDefinitionClass);
    d->combination = combination;
    auto failed = [&](RegionStatus* st) {
        StatusCopy saved(memoryAs(st, kDefinitionClass));
        RegionStringList_delete(&d->sideA);
        if (d->sideB)
            RegionStringList_delete(&d->sideB);
        RegionName_delete(&d->name);
        std::free(d);
        return saved.restore();
    };
    if (isError(s = RegionStringList_new(&d->sideA, countA)) ||
        isError(s = RegionStringList_addTexts(d->sideA, namesA, countA)))
        return failed(s);
    if (two && (isError(s = RegionStringList_new(&d->sideB, countB)) ||
                isError(s = RegionStringList_addTexts(d->sideB, namesB, countB))))
        return failed(s);
    unsigned key = 0;
    if (isError(s = RegionDictionary_intern(name, &key)))
        return failed(s);
    if (listHolds(d->sideA, key) || listHolds(d->sideB, key))
        return failed(fail(700000, "%s (%s) references itself.", kDefinitionClass, name));
    if (isError(s = RegionName_new(&d->name, name)))
        return failed(s);
    if (isError(s = RegionName_setDefinition(d->name, d)))
        return failed(s);
    *out = d;
    return ok();
}

RegionStatus* RegionDefinition_delete(RegionDefinition** holder)
{
    if (!holder)
        return fail(100003, "Invalid %s.", kDefinitionClass);
    RegionDefinition* d = *holder;
    RegionStatus* s = check(d);
    if (isError(s))
        return s;
    RegionMap* map = d->map;
    if (map) {
        // A definition its map cannot let go of stays whole rather than
        // leaving the map pointing at freed memory.
        s = RegionMap_removeDefinition(map, d);
        if (isError(s))
            return s;
        d->map = nullptr;
    }
    StatusCopy saved(s);
    if (d->name) {
        d->name->definition = nullptr;
        if (map)
            deleteNameIfLoose(map, d->name);
        else
            RegionName_delete(&d->name);
        d->name = nullptr;
    }
    if (d->sideA)
        RegionStringList_delete(&d->sideA);
    if (d->sideB)
        RegionStringList_delete(&d->sideB);
    if (d->tags)
        RegionStringList_delete(&d->tags);
    if (d->orvText)
        RegionString_delete(d->orvText, 1);
    std::free(d);
    *holder = nullptr;
    return saved.restore();
}

RegionStatus* RegionDefinition_getName(const RegionDefinition* def, char** text, RegionName** name)
{
    if (!text && !name)
        return fail(8, "Name of %s cannot be returned.", kDefinitionClass);
    if (text)
        *text = nullptr;
    if (name)
        *name = nullptr;
    RegionStatus* s = check(def);
    if (isError(s))
        return s;
    if (text)
        *text = const_cast<char*>(nameOf(def));
    if (name)
        *name = def->name;
    return ok();
}

RegionStatus* RegionDefinition_getCombination(const RegionDefinition* def, int* code)
{
    if (!code)
        return failText(8, "Combination cannot be returned.");
    *code = 0;
    RegionStatus* s = check(def);
    if (isError(s))
        return s;
    *code = def->combination;
    return ok();
}

RegionStatus* RegionDefinition_setCombination(RegionDefinition* def, int code)
{
    RegionStatus* s = check(def);
    if (isError(s) || isError(s = creatableCombination(code)))
        return s;
    if (twoSided(def->combination) && !twoSided(code) && def->sideB)
        RegionStringList_delete(&def->sideB);
    def->combination = code;
    if (def->map)
        RegionMap_resetAtlasCache(def->map);
    return ok();
}

static RegionStatus* sideList(const RegionDefinition* def, int side, RegionStringList** list)
{
    RegionStatus* s = check(def);
    if (isError(s))
        return s;
    if (side != 1 && side != 2)
        return failText(100006, "Invalid side on which to perform operation.");
    if (side == 2 && !twoSided(def->combination))
        return fail(700001, "Invalid side for type of %s", kDefinitionClass);
    *list = side == 1 ? def->sideA : def->sideB;
    return ok();
}

RegionStatus* RegionDefinition_getComponents(const RegionDefinition* def, int side, int mode, ...)
{
    RegionStringList* list = nullptr;
    RegionStatus* s = sideList(def, side, &list);
    if (isError(s))
        return s;
    va_list ap;
    va_start(ap, mode);
    s = RegionStringList_export(list, mode, ap);
    va_end(ap);
    return s;
}

RegionStatus* RegionDefinition_getComponentEntries(const RegionDefinition* def, int side, unsigned** entries,
                                                   unsigned* count)
{
    if (!entries || !count)
        return failText(8, "Components cannot be returned.");
    *entries = nullptr;
    *count = 0;
    RegionStringList* list = nullptr;
    RegionStatus* s = sideList(def, side, &list);
    if (isError(s))
        return s;
    return RegionStringList_exportArgs(list, 1, entries, count);
}

RegionStatus* RegionDefinition_getMap(const RegionDefinition* def, RegionMap** map)
{
    if (!map)
        return fail(8, "%s of which %s is a member cannot be returned.", kMapClass, kDefinitionClass);
    *map = nullptr;
    RegionStatus* s = check(def);
    if (isError(s))
        return s;
    if (!def->map)
        return fail(800002, "%s not in a %s.", kDefinitionClass, kMapClass);
    *map = def->map;
    return ok();
}

RegionStatus* RegionDefinition_setMap(RegionDefinition* def, RegionMap* map)
{
    RegionStatus* s = check(def);
    if (isError(s))
        return s;
    def->map = map;
    return ok();
}

RegionStatus* RegionDefinition_modifyComponents(RegionDefinition* def, int operation, int side, char** names,
                                                unsigned count)
{
    if (gEditing)
        return ok();
    RegionStatus* s = check(def);
    if (isError(s))
        return s;
    if (side != 1 && side != 2)
        return failText(100006, "Invalid side on which to perform operation.");
    if (operation != RO_ADD && operation != RO_REMOVE && operation != RO_CLEAR)
        return failText(100005, "Invalid operation.");
    if (side == 2 && !twoSided(def->combination))
        return fail(100006, "Invalid side for type of %s.", kDefinitionClass);
    if (operation != RO_CLEAR && count > 0 && !names)
        return fail(8, "Unable to modify %s components.", kDefinitionClass);

    RegionStringList* current = side == 1 ? def->sideA : def->sideB;
    RegionStringList* result = nullptr;
    if (current)
        s = RegionStringList_copy(&result, current);
    else
        s = RegionStringList_new(&result, 0);
    if (isError(s))
        return failText(7, "Insufficient memory to modify components.");
    struct Drop {
        RegionStringList*& l;
        ~Drop() { if (l) RegionStringList_delete(&l); }
    } drop{result};

    unsigned before = result->count;
    if (operation == RO_ADD) {
        for (unsigned i = 0; i < count; ++i) {
            s = RegionStringList_addText(result, names[i]);
            if (isError(s))
                return RegionStatus_getCode(s) == 7 ? failText(7, "Insufficient memory to modify components.") : s;
        }
        if (result->count == before)
            return ok();
        if (listHolds(result, def->name->key))
            return fail(700000, "%s (%s) references itself.", kDefinitionClass, nameOf(def));
        if (def->combination == RC_ALIAS && result->count > 1)
            return fail(700001, "Invalid operation (RO_ADD) for an valid RC_ALIAS %s.", kDefinitionClass);
    } else if (operation == RO_REMOVE) {
        for (unsigned i = 0; i < count; ++i) {
            int found = 0;
            RegionStringList_findText(result, names[i], &found);
            if (!found)
                return fail(800000, "Component \"%s\" is not in the component list", names[i] ? names[i] : "");
        }
        std::unordered_set<std::string> distinct(names, names + count);
        if (distinct.size() >= result->count)
            return failText(700003, "Component list cannot be empty.");
        for (const std::string& n : distinct)
            RegionStringList_removeText(result, n.c_str());
    } else {
        if (def->map)
            return fail(700001, "Invalid operation (RO_CLEAR) for a %s in a %s.", kDefinitionClass, kMapClass);
        RegionStringList_clear(result);
    }

    FlagGuard guard(gEditing);
    RegionStringList** target = side == 1 ? &def->sideA : &def->sideB;
    // The side as it was, put back when the map does not take the result.
    RegionStringList* previous = nullptr;
    if (*target && isError(RegionStringList_copy(&previous, *target)))
        return failText(7, "Insufficient memory to modify components.");
    struct DropPrevious {
        RegionStringList*& l;
        ~DropPrevious() { if (l) RegionStringList_delete(&l); }
    } dropPrevious{previous};
    RegionMap* map = def->map;
    if (map) {
        s = RegionMap_removeDefinition(map, def);
        if (isError(s))
            return s;
    }
    if (side == 2 && result->count == 0) {
        if (*target)
            RegionStringList_delete(target);
    } else {
        s = fillSide(target, result);
        if (isError(s)) {
            fillSide(target, previous);
            if (map)
                readmit(map, def);
            return failText(7, "Insufficient memory to modify components.");
        }
    }
    if (!map)
        return ok();
    // Taking components away cannot break the map's rules: no admission.
    s = operation == RO_ADD ? RegionMap_addDefinition(map, def) : readmit(map, def);
    if (isError(s)) {
        // Refused by the map (a cycle, a level rule): the definition goes
        // back with its old components rather than being left outside.
        StatusCopy saved(s);
        fillSide(target, previous);
        if (isError(readmit(map, def)))
            return failText(2, "Fatal Internal Error: Unable to recover.");
        return saved.restore();
    }
    return ok();
}

RegionStatus* RegionDefinition_rename(RegionDefinition* def, const char* text)
{
    RegionStatus* s = check(def);
    if (isError(s))
        return s;
    if (RegionName_isBlank(text, &s) || !RegionName_isStorable(text, &s))
        return s;
    std::string oldText = nameOf(def) ? nameOf(def) : "";
    unsigned key = 0;
    if (isError(s = RegionDictionary_intern(text, &key)))
        return fail(7, "Unable to allocate memory while renaming %s %s", kDefinitionClass, oldText.c_str());
    if (listHolds(def->sideA, key) || listHolds(def->sideB, key))
        return fail(700000, "%s (%s) references itself.", kDefinitionClass, text);
    RegionMap* map = def->map;
    if (!map)
        return RegionName_rename(def->name, text);
    if (isError(s = RegionMap_removeDefinition(map, def)))
        return s;
    RegionName_rename(def->name, text);
    s = RegionMap_addDefinition(map, def);
    if (isError(s)) {
        // The first failure is the answer: the rename did not happen.
        StatusCopy saved(s);
        RegionName_rename(def->name, oldText.c_str());
        if (isError(readmit(map, def)))
            return failText(2, "Fatal Internal Error: Unable to recover.");
        return saved.restore();
    }
    return ok();
}

RegionStatus* RegionDefinition_setName(RegionDefinition* def, RegionName* name)
{
    RegionStatus* s = check(def);
    if (isError(s) || !RegionName_check(name, &s))
        return s;
    if (name == def->name)
        return ok();
    if (listHolds(def->sideA, name->key) || listHolds(def->sideB, name->key))
        return fail(700000, "%s (%s) references itself.", kDefinitionClass, RegionName_getText(name));
    RegionMap* map = def->map;
    if (!map) {
        // Outside a map the definition alone holds its name object.
        RegionName* old = def->name;
        s = RegionName_setDefinition(name, def);
        if (isError(s))
            return s;
        def->name = name;
        name->definition = def;
        if (old && old != name) {
            old->definition = nullptr;
            RegionName_delete(&old);
        }
        return ok();
    }
    if (isError(s = RegionMap_removeDefinition(map, def)))
        return s;
    RegionName* current = def->name;
    def->name = name;
    name->definition = def;
    s = RegionMap_addDefinition(map, def);
    if (isError(s)) {
        StatusCopy saved(s);
        name->definition = nullptr;
        def->name = current;
        if (isError(readmit(map, def)))
            return failText(2, "Fatal Internal Error: Unable to recover.");
        return saved.restore();
    }
    if (current != name) {
        current->definition = nullptr;
        deleteNameIfLoose(map, current);
    }
    return ok();
}

RegionStatus* RegionDefinition_addTag(RegionDefinition* def, const char* tag)
{
    RegionStatus* s = check(def);
    if (isError(s) || !tag || !*tag)
        return s;
    if (!RegionName_isStorable(tag, &s))
        return s;
    if (!def->tags && isError(s = RegionStringList_new(&def->tags, 1)))
        return s;
    return RegionStringList_addText(def->tags, tag);
}

RegionStatus* RegionDefinition_getORV(RegionDefinition* def, char** text)
{
    return definitionORV(def, nullptr, text);
}

RegionStatus* RegionDefinition_freeORV(RegionDefinition* def)
{
    RegionStatus* s = check(def);
    if (isError(s))
        return s;
    if (def->orvText) {
        RegionString_delete(def->orvText, 1);
        def->orvText = nullptr;
    }
    return ok();
}

RegionStatus* RegionDefinition_joinMap(RegionDefinition* def, RegionMap* map)
{
    if (gJoining)
        return ok();
    RegionStatus* s = check(def);
    if (isError(s) || !RegionMap_check(map, &s))
        return s;
    {
        FlagGuard guard(gJoining);
        s = RegionMap_addDefinition(map, def);
    }
    if (!isError(s))
        def->map = map;
    return s;
}

int RegionDefinition_canJoinMap(RegionDefinition* def, RegionMap* map, RegionStatus** status)
{
    RegionStatus* s = check(def);
    if (!isError(s) && RegionMap_check(map, &s))
        s = admission(def, map, !gReadmitting);
    if (status)
        *status = s;
    return isError(s) ? 0 : 1;
}

RegionStatus* RegionDefinition_leaveMap(RegionDefinition* def)
{
    RegionStatus* s = check(def);
    if (isError(s))
        return s;
    RegionMap* map = def->map;
    if (!map)
        return fail(800002, "%s not in a %s.", kDefinitionClass, kMapClass);
    if (gLeaving) {
        def->map = nullptr;
        return ok();
    }
    FlagGuard guard(gLeaving);
    // A name object that others still use stays with the map; the
    // definition takes a fresh one of the same text.
    RegionName* own = def->name;
    if (own->explicitFlag || (own->referencedBy && own->referencedBy->count > 0)) {
        RegionName* fresh = nullptr;
        if (isError(s = RegionName_new(&fresh, RegionName_getText(own))))
            return s;
        fresh->definition = def;
        own->definition = nullptr;
        def->name = fresh;
    }
    for (RegionStringList* side : {def->sideA, def->sideB}) {
        for (unsigned i = 0; side && i < side->count; ++i) {
            RegionName* n = RegionMap_findByKey(map, 0, side->items[i]);
            if (!n)
                n = RegionMap_findByKey(map, 1, side->items[i]);
            if (!n)
                continue;
            RegionName_removeReference(n, def);
            int inherited = 0, used = 0, expl = 0;
            RegionName_isInheritedIn(n, map, &inherited);
            RegionName_isReferencedByMap(n, map, &used);
            RegionName_isExplicitPrimitiveIn(n, map, &expl);
            if (!inherited && !used && !expl && !n->definition &&
                !RegionMap_findByKey(map, 1, n->key)) {
                if (!isError(RegionMap_releaseName(map, n)))
                    deleteNameIfLoose(map, n);
            }
        }
    }
    def->map = nullptr;
    return ok();
}

RegionStatus* RegionDefinition_replaceName(RegionDefinition* def, RegionName* name)
{
    RegionStatus* s = check(def);
    if (isError(s))
        return s;
    def->name = name;
    return ok();
}

RegionStatus* RegionDefinition_freeText(char** holder)
{
    if (holder && *holder) {
        std::free(*holder);
        *holder = nullptr;
    }
    return ok();
}

}  // extern "C"

namespace regionatlas {

RegionStatus* readmit(RegionMap* map, RegionDefinition* def)
{
    FlagGuard guard(gReadmitting);
    return RegionMap_addDefinition(map, def);
}

RegionStatus* definitionORV(RegionDefinition* def, HeaderSet* used, char** text)
{
    if (!text)
        return fail(8, "Cannot return the ORV describing the %s.", kDefinitionClass);
    *text = nullptr;
    RegionStatus* s = check(def);
    if (isError(s))
        return s;
    RegionDefinition_freeORV(def);
    const char* name = nameOf(def);
    if (!name)
        return failText(2, "Internal Error.");
    std::string header;
    bool realName = false;
    if (isPlainORVName(name, "REGION") && !(used && used->count(name))) {
        header = name;
    } else {
        header = substituteName(name, "Region", true, used, "REGION");
        realName = true;
    }
    RegionString* out = nullptr;
    if (isError(s = RegionString_new(&out, "    ")))
        return s;
    char* tags = nullptr;
    char* sideA = nullptr;
    char* sideB = nullptr;
    auto cleanup = [&]() {
        std::free(tags);
        std::free(sideA);
        std::free(sideB);
    };
    if (def->tags)
        RegionStringList_toJoinedText(def->tags, &tags);
    if (def->sideA)
        RegionStringList_toJoinedText(def->sideA, &sideA);
    if (def->sideB)
        RegionStringList_toJoinedText(def->sideB, &sideB);
    const char* combination = RegionCombination_getName(def->combination);
    std::vector<const char*> pieces = {"REGION", ": ", header.c_str(), "\n"};
    if (realName)
        pieces.insert(pieces.end(), {"      ", "Real Name", " = ", name, "\n"});
    if (tags)
        pieces.insert(pieces.end(), {"      ", "Tags", " = ", tags, "\n"});
    pieces.insert(pieces.end(), {"      ", "Combination", " = ", combination, "\n"});
    if (twoSided(def->combination)) {
        pieces.insert(pieces.end(), {"      ", "Region List A", " = ", sideA, "\n"});
        pieces.insert(pieces.end(), {"      ", "Region List B", " = ", sideB, "\n"});
    } else {
        pieces.insert(pieces.end(), {"      ", "Region List", " = ", sideA, "\n"});
    }
    pieces.insert(pieces.end(), {"    ", "END", " # ", "REGION", "\n", "\n"});
    for (const char* piece : pieces) {
        s = RegionString_append(out, piece);
        if (isError(s)) {
            StatusCopy saved(s);
            cleanup();
            RegionString_delete(out, 1);
            return saved.restore();
        }
    }
    cleanup();
    if (used)
        used->insert(collapsed(header));
    def->orvText = out;
    *text = out->text;
    return ok();
}

}  // namespace regionatlas
