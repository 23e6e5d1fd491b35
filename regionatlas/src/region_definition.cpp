// Region definitions: creation, component edits, renaming, the map hooks
// (join, admission, leave) and the ORV REGION block.
#include "region_atlas.h"
#include "region_definition.h"
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

// Re-entry guards: a component edit, a join and a leave can each come back
// into this module through the map and name hooks; the nested call does
// nothing and answers no error.
bool gEditing = false;
bool gJoining = false;
bool gLeaving = false;
// Set while RegionDefinition_setName waits for the name object to link
// back; the nested call only records the new name.
bool gNaming = false;
// Set while a definition goes back into the map it was just taken out of:
// admitted before, it is checked only for a name taken meanwhile.
bool gReadmitting = false;

struct CombinationRow {
    int code;
    const char* name;
};

const CombinationRow kCombinations[] = {
    {RC_UNION, "Union"},
    {RC_INTERSECTION, "Intersection"},
    {RC_COMPLEMENT, "Complement"},
    {RC_DIFFERENCE, "Difference"},
    {RC_SYMMETRIC_DIFFERENCE, "Symmetric Difference"},
    {RC_MERGE, "Merge"},
    {RC_ALIAS, "Alias"},
    {0, nullptr},
};

bool twoSided(int code) { return code == RC_DIFFERENCE || code == RC_SYMMETRIC_DIFFERENCE; }

// Complement and Merge have names and sides but no definition is made with
// them.
bool accepted(int code)
{
    return code == RC_UNION || code == RC_INTERSECTION || code == RC_ALIAS || twoSided(code);
}

RegionStatus* checkDefinition(const RegionDefinition* def)
{
    return def ? ok() : fail(100003, "Invalid %s.", kDefinitionClass);
}

const char* textOf(const RegionDefinition* def)
{
    const char* t = def->name ? RegionName_getText(def->name) : nullptr;
    return t ? t : "";
}

RegionStringList*& sideList(RegionDefinition* def, int side) { return side == 2 ? def->sideB : def->sideA; }

bool holds(const std::vector<unsigned>& keys, unsigned key)
{
    for (unsigned k : keys)
        if (k == key)
            return true;
    return false;
}

bool sidesHold(const RegionDefinition* def, unsigned key)
{
    return holds(listKeys(def->sideA), key) || holds(listKeys(def->sideB), key);
}

// Replaces a side's keys; an empty side B is released.
RegionStatus* setSide(RegionDefinition* def, int side, const std::vector<unsigned>& keys)
{
    RegionStringList*& list = sideList(def, side);
    forgetUses(def, side);
    if (side == 2 && keys.empty()) {
        if (list)
            RegionStringList_delete(&list);
        return ok();
    }
    if (!list) {
        RegionStringList* fresh = nullptr;
        RegionStatus* s = RegionStringList_new(&fresh, static_cast<unsigned>(keys.size()));
        if (isError(s))
            return s;
        list = fresh;
    } else {
        RegionStringList_clear(list);
    }
    RegionStatus* s = ok();
    for (unsigned k : keys) {
        s = RegionStringList_addKey(list, k);
        if (isError(s))
            break;
    }
    recordUses(def, side);
    return s;
}

void dropSideB(RegionDefinition* def)
{
    forgetUses(def, 2);
    if (def->sideB)
        RegionStringList_delete(&def->sideB);
}

// Only for a definition about to be freed.
void dropSides(RegionDefinition* def)
{
    forgetDefinition(def);
    if (def->sideA)
        RegionStringList_delete(&def->sideA);
    if (def->sideB)
        RegionStringList_delete(&def->sideB);
}

// Every component name must be given, not blank and storable in ORV text.
RegionStatus* checkNames(char** names, unsigned count)
{
    if (count > 0 && !names)
        return failText(300000, "Invalid name - cannot be blank.");
    RegionStatus* s = ok();
    for (unsigned i = 0; i < count; ++i)
        if (RegionName_isBlank(names[i], &s) || !RegionName_isStorable(names[i], &s))
            return s;
    return ok();
}

// Interns the names, keeping the first of repeated ones.
RegionStatus* internNames(char** names, unsigned count, std::vector<unsigned>& keys)
{
    for (unsigned i = 0; i < count; ++i) {
        unsigned key = 0;
        RegionStatus* s = RegionDictionary_intern(names[i], &key);
        if (isError(s))
            return s;
        if (!holds(keys, key))
            keys.push_back(key);
    }
    return ok();
}

RegionStatus* renamedMemoryFailure(RegionStatus* s, const char* format, const char* name)
{
    if (RegionStatus_getCode(s) == 7)
        return fail(7, format, kDefinitionClass, name);
    return s;
}

// Takes a definition out of its map, applies `change` and adds it back. When
// the change or the adding fails, `undo` restores the definition and it
// goes back in as it was admitted before; the caller learns the first
// failure, and a definition that cannot be put back is a fatal internal
// error.
template <class Change, class Undo>
RegionStatus* withinMap(RegionDefinition* def, Change change, Undo undo)
{
    RegionMap* map = def->map;
    RegionStatus* s = RegionMap_removeDefinition(map, def);
    if (isError(s))
        return s;
    s = change();
    if (!isError(s)) {
        s = RegionMap_addDefinition(map, def);
        if (!isError(s))
            return s;
    }
    StatusCopy first(s);
    undo();
    if (def->map != map && isError(readmit(map, def)))
        return failText(2, "Fatal Internal Error: Unable to recover.");
    return first.restore();
}

void freeItems(char** items) { orvFreeStringArray(items); }

// The definition's name object still serves others when it is an explicit
// primitive or some definition uses it.
bool nameShared(const RegionName* name)
{
    int isExplicit = 0, referenced = 0;
    RegionName_isExplicitPrimitive(name, &isExplicit);
    RegionName_isReferenced(name, &referenced);
    return isExplicit || referenced;
}

// Whether the map still needs a name once a definition stopped using it.
bool neededInMap(RegionMap* map, const RegionName* name)
{
    int inherited = 0, usedHere = 0, explicitHere = 0;
    RegionName_isInheritedIn(name, map, &inherited);
    RegionName_isReferencedByMap(name, map, &usedHere);
    RegionName_isExplicitPrimitiveIn(name, map, &explicitHere);
    return inherited || usedHere || explicitHere;
}

bool mapDefines(RegionMap* map, const char* text)
{
    int defines = 0;
    return map && !isError(RegionMap_definesText(map, text, &defines)) && defines;
}

// Whether the definition's sides can be written as a REGION block under
// the combination: a two-sided one needs a side B, an alias one component.
RegionStatus* writableAs(const RegionDefinition* def, int code)
{
    if (twoSided(code) && listKeys(def->sideB).empty())
        return fail(700002, "%s requires at least one component in second list.", kDefinitionClass);
    if (code == RC_ALIAS && listKeys(def->sideA).size() > 1)
        return fail(200003, "ALIAS %s requires at most one component.", kDefinitionClass);
    return ok();
}

std::string cannotAdd(const char* name, const char* phrase)
{
    return std::string("Cannot add ") + kDefinitionClass + "to " + kMapClass + " because " + kDefinitionClass +
           "(" + name + ") " + phrase;
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
    if (RegionName_isBlank(name, &s) || !RegionName_isStorable(name, &s) ||
        isError(s = checkNameLength(definitionPathLength(name), kDefinitionClass, name)))
        return s;
    if (!accepted(combination))
        return failText(100004, "Invalid combination.");
    const bool two = twoSided(combination);
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
    s = checkNames(namesA, countA);
    if (!isError(s) && two)
        s = checkNames(namesB, countB);
    if (isError(s))
        return s;

    std::vector<unsigned> keysA, keysB;
    unsigned self = 0;
    s = internNames(namesA, countA, keysA);
    if (!isError(s) && two)
        s = internNames(namesB, countB, keysB);
    if (!isError(s))
        s = RegionDictionary_intern(name, &self);
    if (isError(s))
        return RegionStatus_outOfMemory(kDefinitionClass);
    if (holds(keysA, self) || holds(keysB, self))
        return fail(700000, "%s (%s) references itself.", kDefinitionClass, name);

    auto* def = static_cast<RegionDefinition*>(std::calloc(1, sizeof(RegionDefinition)));
    if (!def)
        return RegionStatus_outOfMemory(kDefinitionClass);
    def->combination = combination;
    s = setSide(def, 1, keysA);
    if (!isError(s) && two)
        s = setSide(def, 2, keysB);
    RegionName* object = nullptr;
    if (!isError(s))
        s = RegionName_new(&object, name);
    if (!isError(s)) {
        s = RegionName_setDefinition(object, def);
        if (!isError(s))
            def->name = object;
    }
    if (isError(s)) {
        StatusCopy failure(s);
        RegionName_delete(&object);
        dropSides(def);
        std::free(def);
        return failure.code() == 7 ? RegionStatus_outOfMemory(kDefinitionClass) : failure.restore();
    }
    *out = def;
    return ok();
}

RegionStatus* RegionDefinition_delete(RegionDefinition** holder)
{
    if (!holder)
        return checkDefinition(nullptr);
    RegionDefinition* def = *holder;
    RegionStatus* s = checkDefinition(def);
    if (isError(s))
        return s;
    // A definition its map cannot let go of stays whole rather than leaving
    // the map pointing at freed memory.
    RegionMap* map = def->map;
    if (map) {
        s = RegionMap_removeDefinition(map, def);
        if (isError(s))
            return s;
        def->map = nullptr;
    }
    // The name object stays when a table of the map (or of its atlas) still
    // holds it, as a primitive.
    if (def->name) {
        def->name->definition = nullptr;
        if (map)
            deleteNameIfLoose(map, def->name);
        else
            RegionName_delete(&def->name);
        def->name = nullptr;
    }
    dropSides(def);
    RegionStringList_delete(&def->tags);
    if (def->orvText)
        RegionString_delete(def->orvText, 1);
    std::free(def);
    *holder = nullptr;
    return ok();
}

RegionStatus* RegionDefinition_getName(const RegionDefinition* def, char** text, RegionName** name)
{
    RegionStatus* s = checkDefinition(def);
    if (isError(s))
        return s;
    if (!text && !name)
        return fail(8, "Name of %s cannot be returned.", kDefinitionClass);
    if (name)
        *name = def->name;
    if (text)
        *text = def->name ? const_cast<char*>(RegionName_getText(def->name)) : nullptr;
    return ok();
}

RegionStatus* RegionDefinition_getCombination(const RegionDefinition* def, int* code)
{
    if (!code)
        return failText(8, "Combination cannot be returned.");
    *code = 0;
    RegionStatus* s = checkDefinition(def);
    if (isError(s))
        return s;
    *code = def->combination;
    return ok();
}

RegionStatus* RegionDefinition_setCombination(RegionDefinition* def, int code)
{
    RegionStatus* s = checkDefinition(def);
    if (isError(s))
        return s;
    if (!accepted(code))
        return failText(100004, "Invalid combination.");
    if (code == def->combination)
        return ok();
    // In a map or out of one the definition must stay writable, so that a
    // map can take it and store it.
    if (isError(s = writableAs(def, code)))
        return s;
    const int oldCode = def->combination;
    if (!def->map) {
        if (twoSided(oldCode) && !twoSided(code))
            dropSideB(def);
        def->combination = code;
        return ok();
    }
    // Side B goes with a two-sided combination, and its names stop being
    // components: the definition leaves the map and comes back.
    const std::vector<unsigned> oldB = listKeys(def->sideB);
    return withinMap(
        def,
        [&] {
            if (twoSided(oldCode) && !twoSided(code))
                dropSideB(def);
            def->combination = code;
            return ok();
        },
        [&] {
            def->combination = oldCode;
            if (!oldB.empty())
                setSide(def, 2, oldB);
        });
}

RegionStatus* RegionDefinition_getComponents(const RegionDefinition* def, int side, int mode, ...)
{
    RegionStatus* s = checkDefinition(def);
    if (isError(s))
        return s;
    if (side != 1 && side != 2)
        return failText(100006, "Invalid side on which to perform operation.");
    if (side == 2 && !twoSided(def->combination))
        return fail(700001, "Invalid side for type of %s", kDefinitionClass);
    va_list args;
    va_start(args, mode);
    s = RegionStringList_export(side == 2 ? def->sideB : def->sideA, mode, args);
    va_end(args);
    return s;
}

RegionStatus* RegionDefinition_getComponentEntries(const RegionDefinition* def, int side, unsigned** entries,
                                                   unsigned* count)
{
    RegionStatus* s = checkDefinition(def);
    if (isError(s))
        return s;
    if (!entries || !count)
        return failText(8, "Components cannot be returned.");
    *entries = nullptr;
    *count = 0;
    return RegionDefinition_getComponents(def, side, 1, entries, count);
}

RegionStatus* RegionDefinition_getMap(const RegionDefinition* def, RegionMap** map)
{
    RegionStatus* s = checkDefinition(def);
    if (isError(s))
        return s;
    if (!map)
        return fail(8, "%s of which %s is a member cannot be returned.", kMapClass, kDefinitionClass);
    *map = def->map;
    if (!def->map)
        return fail(800002, "%s not in a %s.", kDefinitionClass, kMapClass);
    return ok();
}

RegionStatus* RegionDefinition_setMap(RegionDefinition* def, RegionMap* map)
{
    RegionStatus* s = checkDefinition(def);
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
    RegionStatus* s = checkDefinition(def);
    if (isError(s))
        return s;
    if (side != 1 && side != 2)
        return failText(100006, "Invalid side on which to perform operation.");
    if (operation != RO_ADD && operation != RO_REMOVE && operation != RO_CLEAR)
        return failText(100005, "Invalid operation.");
    if (side == 2 && !twoSided(def->combination))
        return fail(100006, "Invalid side for type of %s.", kDefinitionClass);
    if (operation != RO_CLEAR) {
        s = checkNames(names, count);
        if (isError(s))
            return s;
    }
    FlagGuard guard(gEditing);
    const std::vector<unsigned> current = listKeys(sideList(def, side));
    std::vector<unsigned> result;
    if (operation == RO_ADD) {
        result = current;
        s = internNames(names, count, result);
        if (isError(s))
            return failText(7, "Insufficient memory to modify components.");
        if (holds(result, RegionName_getKey(def->name)))
            return fail(700000, "%s (%s) references itself.", kDefinitionClass, textOf(def));
        if (def->combination == RC_ALIAS && result.size() > 1)
            return fail(700001, "Invalid operation (RO_ADD) for an valid RC_ALIAS %s.", kDefinitionClass);
        if (result.size() == current.size())
            return ok();
    } else if (operation == RO_REMOVE) {
        std::vector<unsigned> removed;
        for (unsigned i = 0; i < count; ++i) {
            unsigned key = 0;
            if (isError(RegionDictionary_lookup(names[i], &key)) || !holds(current, key))
                return fail(800000, "Component \"%s\" is not in the component list", names[i]);
            removed.push_back(key);
        }
        for (unsigned k : current)
            if (!holds(removed, k))
                result.push_back(k);
        // Counting distinct names, so that a repeated name cannot empty a side.
        if (result.empty())
            return failText(700003, "Component list cannot be empty.");
        if (result.size() == current.size())
            return ok();
    } else if (def->map) {
        return fail(700001, "Invalid operation (RO_CLEAR) for a %s in a %s.", kDefinitionClass, kMapClass);
    }

    if (def->map)
        s = withinMap(
            def, [&] { return setSide(def, side, result); }, [&] { setSide(def, side, current); });
    else
        s = setSide(def, side, result);
    if (RegionStatus_getCode(s) == 7)
        return failText(7, "Insufficient memory to modify components.");
    return s;
}

RegionStatus* RegionDefinition_rename(RegionDefinition* def, const char* text)
{
    RegionStatus* s = checkDefinition(def);
    if (isError(s))
        return s;
    if (RegionName_isBlank(text, &s) || !RegionName_isStorable(text, &s) ||
        isError(s = checkNameLength(definitionPathLength(text), kDefinitionClass, text)))
        return s;
    const std::string oldText = textOf(def);
    const char* noMemory = "Unable to allocate memory while renaming %s %s";
    unsigned key = 0;
    s = RegionDictionary_intern(text, &key);
    if (isError(s))
        return renamedMemoryFailure(s, noMemory, oldText.c_str());
    if (sidesHold(def, key))
        return fail(700000, "%s (%s) references itself.", kDefinitionClass, text);
    if (key == RegionName_getKey(def->name))
        return ok();
    if (!def->map)
        return renamedMemoryFailure(RegionName_rename(def->name, text), noMemory, oldText.c_str());
    // Out of its map the name object belongs to the definition alone, so it
    // can take the new text; the map then sees the renamed definition
    // arrive, with every admission rule applied.
    s = withinMap(
        def, [&] { return RegionName_rename(def->name, text); },
        [&] { RegionName_rename(def->name, oldText.c_str()); });
    return renamedMemoryFailure(s, noMemory, oldText.c_str());
}

RegionStatus* RegionDefinition_setName(RegionDefinition* def, RegionName* name)
{
    RegionStatus* s = checkDefinition(def);
    if (isError(s))
        return s;
    if (gNaming) {
        // Called back by RegionName_setDefinition: record the new name.
        def->name = name;
        return ok();
    }
    if (!RegionName_check(name, &s))
        return s;
    if (name == def->name)
        return ok();
    const char* given = RegionName_getText(name);
    if (given && isError(s = checkNameLength(definitionPathLength(given), kDefinitionClass, given)))
        return s;
    if (sidesHold(def, RegionName_getKey(name)))
        return fail(700000, "%s (%s) references itself.", kDefinitionClass, RegionName_getText(name));
    const std::string newText = RegionName_getText(name);
    const char* noMemory = "Unable to allocate memory while renaming %s %s";

    // Links the object both ways; the name object it replaces is deleted
    // when it belonged to the definition alone.
    auto link = [def](RegionName* to, bool dropOld) {
        RegionName* old = def->name;
        RegionStatus* r;
        {
            FlagGuard naming(gNaming);
            r = RegionName_setDefinition(to, def);
        }
        if (isError(r))
            return r;
        def->name = to;
        if (dropOld && old && old != to)
            RegionName_delete(&old);
        return ok();
    };

    if (!def->map || gLeaving)
        return renamedMemoryFailure(link(name, !def->map), noMemory, newText.c_str());

    RegionName* before = nullptr;
    s = withinMap(
        def,
        [&] {
            before = def->name;
            return link(name, false);
        },
        [&] {
            if (before && def->name != before)
                link(before, false);
        });
    if (!isError(s) && before && before != def->name) {
        RegionName_delete(&before);
        s = ok();
    }
    return renamedMemoryFailure(s, noMemory, newText.c_str());
}

RegionStatus* RegionDefinition_addTag(RegionDefinition* def, const char* tag)
{
    RegionStatus* s = checkDefinition(def);
    if (isError(s))
        return s;
    if (!tag || !*tag)
        return ok();
    if (RegionName_isBlank(tag, &s) || !RegionName_isStorable(tag, &s))
        return s;
    unsigned key = 0;
    s = RegionDictionary_intern(tag, &key);
    if (isError(s))
        return s;
    if (!def->tags) {
        s = RegionStringList_new(&def->tags, 1);
        if (isError(s))
            return s;
    }
    return RegionStringList_addKey(def->tags, key);
}

RegionStatus* RegionDefinition_getORV(RegionDefinition* def, char** text)
{
    return definitionORV(def, nullptr, text);
}

RegionStatus* RegionDefinition_freeORV(RegionDefinition* def)
{
    RegionStatus* s = checkDefinition(def);
    if (isError(s))
        return s;
    if (def->orvText) {
        RegionString_delete(def->orvText, 1);
        def->orvText = nullptr;
    }
    return ok();
}

RegionStatus* RegionDefinition_fromORV(RegionDefinition** holder, OrvHandle* handle, const char* path)
{
    if (!holder || *holder)
        return failText(8, "Invalid object pointer - cannot create new object");
    if (!handle)
        return failText(3, "Unable to read definition: Invalid ORV handle.");
    std::string name;
    bool named = false;
    int pushes = 0;
    if (path) {
        const char* slash = std::strrchr(path, '/');
        const char* last = slash ? slash + 1 : path;
        if (RegionReader_hasType("REGION", last)) {
            name = last + std::strlen("REGION") + 1;
            named = true;
        }
        // Reading from another object would mix two definitions, so a path
        // that cannot be entered ends the reading.
        if (pushPath(handle, path))
            return failText(6, "Unable to read definition: Definition not found.");
        ++pushes;
    }
    RegionStatus* s = ok();
    if (!named) {
        char** found = nullptr;
        int n = 0;
        if (!getObjectsByTypeH(handle, "REGION", &found))
            while (found && found[n])
                ++n;
        if (n >= 2) {
            s = failText(6, "Unable to read definition: Multiple Definition entries found.");
        } else if (n == 1) {
            const char* colon = std::strrchr(found[0], ':');
            name = colon ? colon + 1 : found[0];
            named = true;
            if (!pushPath(handle, found[0]))
                ++pushes;
        }
        orvFreeStringArray(found);
    }

    int combination = RC_ALIAS;
    if (!isError(s)) {
        char* value = nullptr;
        if (!getStringValue(handle, "Combination", &value) && value) {
            combination = 0;
            for (const CombinationRow* r = kCombinations; r->name; ++r)
                if (std::strcmp(r->name, value) == 0)
                    combination = r->code;
            if (!combination)
                s = failText(6, "Unable to read definition: Unrecognised Combination.");
        }
        std::free(value);
    }

    char** itemsA = nullptr;
    char** itemsB = nullptr;
    int countA = 0, countB = 0;
    auto readList = [&](const char* key, char*** items, int* count) {
        if (getStringList(handle, key, items, count))
            return fail(6, "Unable to read definition: Missing '%s' for definition", key);
        if (*count == 1 && (*items)[0] && !(*items)[0][0])
            *count = 0;
        return ok();
    };
    if (!isError(s)) {
        if (twoSided(combination)) {
            s = readList("Region List A", &itemsA, &countA);
            if (!isError(s))
                s = readList("Region List B", &itemsB, &countB);
        } else {
            s = readList("Region List", &itemsA, &countA);
        }
    }
    // The real name, when a substitute header stands in for it, is the name
    // the definition is made with: the header never becomes a name, so the
    // headers chosen when the text is written again stay the same.
    if (!isError(s)) {
        char* real = nullptr;
        if (!getStringValue(handle, "Real Name", &real) && real && *real) {
            name = real;
            named = true;
        }
        std::free(real);
    }
    RegionDefinition* def = nullptr;
    if (!isError(s))
        s = RegionDefinition_new(&def, named && !name.empty() ? name.c_str() : "New Definition", combination,
                                 itemsA, itemsB, static_cast<unsigned>(countA), static_cast<unsigned>(countB));
    freeItems(itemsA);
    freeItems(itemsB);

    if (!isError(s)) {
        char** tags = nullptr;
        int tagCount = 0;
        if (!getStringList(handle, "Tags", &tags, &tagCount)) {
            for (int i = 0; i < tagCount && !isError(s); ++i)
                s = RegionDefinition_addTag(def, tags[i]);
            freeItems(tags);
        }
    }
    while (pushes-- > 0)
        popPath(handle);
    if (isError(s)) {
        StatusCopy failure(s);
        if (def)
            RegionDefinition_delete(&def);
        return failure.restore();
    }
    *holder = def;
    return ok();
}

RegionStatus* RegionDefinition_joinMap(RegionDefinition* def, RegionMap* map)
{
    if (gJoining)
        return ok();
    RegionStatus* s = checkDefinition(def);
    if (isError(s))
        return s;
    if (!RegionMap_check(map, &s))
        return s;
    {
        FlagGuard joining(gJoining);
        s = RegionMap_addDefinition(map, def);
    }
    if (!isError(s))
        def->map = map;
    return s;
}

int RegionDefinition_canJoinMap(RegionDefinition* def, RegionMap* map, RegionStatus** status)
{
    RegionStatus* spare = nullptr;
    RegionStatus*& out = status ? *status : spare;
    out = checkDefinition(def);
    if (isError(out))
        return 0;
    if (!RegionMap_check(map, &out))
        return 0;
    // A map holds only what it can write: a definition emptied outside a
    // map (or made unwritable behind its back) stays out.
    if (listKeys(def->sideA).empty()) {
        out = fail(700002, "%s requires at least one component.", kDefinitionClass);
        return 0;
    }
    if (isError(out = writableAs(def, def->combination)))
        return 0;
    const char* text = textOf(def);
    int found = 0;
    RegionName* held = nullptr;
    RegionMap_findName(map, text, &found, &held);
    if (found && held && held->definition && held->definition != def) {
        out = fail(800004, "%s (%s) is already defined.", kDefinitionClass, text);
        return 0;
    }
    // Another map of the atlas may define the region: its name object must
    // not be taken over.
    if (map->atlas && (!found || !held || !held->definition)) {
        RegionName* elsewhere = RegionAtlas_findByKey(map->atlas, RegionName_getKey(def->name));
        if (elsewhere && elsewhere->definition && elsewhere->definition != def) {
            out = fail(800004, "%s (%s) is already defined.", kDefinitionClass, text);
            return 0;
        }
    }

    if (gReadmitting) {
        out = ok();
        return 1;
    }

    // The map's text, and the atlas's, must be able to hold the block.
    RegionAtlas* home = map->atlas;
    const size_t path =
        (home ? atlasPrefixLength(home->name) : 0) + mapPrefixLength(map->name) + definitionPathLength(text);
    out = checkPathLength(path, [&] {
        return named(kDefinitionClass, text) + " in " + named(kMapClass, map->name) +
               (home ? " in " + named(kAtlasClass, home->name) : "");
    });
    if (isError(out))
        return 0;

    // A cycle, also one through names of other maps of the atlas, would make
    // resolution endless: it is refused before the level rules are asked.
    RegionAtlas* atlas = map->atlas;
    out = RegionPrimitives_findCycle(def, map, atlas);
    if (isError(out))
        return 0;

    if (!atlas) {
        out = ok();
        return 1;
    }
    const int level = map->type;
    // Both level rules hold whether or not the new name is in use yet: a
    // name the lower map declares explicitly primitive (or inherits as one)
    // cannot be defined above it, as the atlas could then not be read back
    // from its own text; the higher-map rule holds for every component.
    RegionMap* lower = RegionAtlas_getLowerMap(atlas, level);
    if (found && held && lower) {
        int usedBelow = 0, explicitBelow = 0, inheritedBelow = 0;
        RegionName_isReferencedByMap(held, lower, &usedBelow);
        RegionName_isExplicitPrimitiveIn(held, lower, &explicitBelow);
        RegionName_isInheritedIn(held, lower, &inheritedBelow);
        if (usedBelow || explicitBelow || inheritedBelow) {
            out = failText(600005, cannotAdd(text, (std::string("is referenced from a lower ") + kMapClass + ".")
                                                       .c_str())
                                       .c_str());
            return 0;
        }
    }
    std::vector<unsigned> components = listKeys(def->sideA);
    if (twoSided(def->combination)) {
        std::vector<unsigned> b = listKeys(def->sideB);
        components.insert(components.end(), b.begin(), b.end());
    }
    RegionMap* higher = RegionAtlas_getHigherMap(atlas, level);
    for (unsigned key : components) {
        if (!higher || !RegionAtlas_findByKey(atlas, key))
            continue;
        char* comp = nullptr;
        RegionDictionary_getText(key, &comp);
        bool above = mapDefines(higher, comp);
        if (!above && level == REGION_MAP_VRN && higher == atlas->primaryMap)
            above = mapDefines(atlas->secondaryMap, comp);
        if (above) {
            out = failText(600004, cannotAdd(comp, "is defined in a higher.").c_str());
            return 0;
        }
    }
    out = ok();
    return 1;
}

RegionStatus* RegionDefinition_leaveMap(RegionDefinition* def)
{
    RegionStatus* s = checkDefinition(def);
    if (isError(s))
        return s;
    if (!def->map)
        return fail(800002, "%s not in a %s.", kDefinitionClass, kMapClass);
    if (gLeaving) {
        def->map = nullptr;
        return ok();
    }
    RegionMap* map = def->map;
    FlagGuard leaving(gLeaving);
    // A name object that others still hold stays with the map; the
    // definition leaves with a fresh object of the same text.
    RegionName* shared = def->name;
    if (nameShared(shared)) {
        RegionName* fresh = nullptr;
        s = RegionName_new(&fresh, textOf(def));
        if (!isError(s))
            s = RegionDefinition_setName(def, fresh);
        if (isError(s)) {
            StatusCopy failure(s);
            RegionName_delete(&fresh);
            return failure.restore();
        }
    }
    s = RegionMap_removeDefinition(map, def);
    if (isError(s)) {
        if (def->name != shared) {
            StatusCopy failure(s);
            RegionName* fresh = def->name;
            RegionDefinition_setName(def, shared);
            RegionName_delete(&fresh);
            return failure.restore();
        }
        return s;
    }
    std::vector<unsigned> components = listKeys(def->sideA);
    std::vector<unsigned> b = listKeys(def->sideB);
    components.insert(components.end(), b.begin(), b.end());
    for (unsigned key : components) {
        RegionName* component = RegionMap_findByKey(map, 0, key);
        if (!component)
            component = RegionMap_findByKey(map, 1, key);
        if (!component)
            continue;
        RegionName_removeReference(component, def);
        // A name the map no longer needs leaves its tables; the object is
        // freed unless a table still holds it.
        if (!neededInMap(map, component) && !component->definition &&
            !isError(RegionMap_releaseName(map, component)))
            deleteNameIfLoose(map, component);
    }
    def->map = nullptr;
    return ok();
}

RegionStatus* RegionDefinition_replaceName(RegionDefinition* def, RegionName* name)
{
    RegionStatus* s = checkDefinition(def);
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
    RegionStatus* s = checkDefinition(def);
    if (isError(s))
        return s;
    RegionDefinition_freeORV(def);
    const char* name = def->name ? RegionName_getText(def->name) : nullptr;
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
