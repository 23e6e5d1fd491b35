// Region name objects, their definition link, references and map marks.
#include "region_definition.h"
#include "region_hash.h"
#include "region_internal.h"
#include "region_map.h"
#include "region_name.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_map>
#include <unordered_set>

using namespace regionatlas;

namespace {

bool gSettingDefinition = false;
bool gAddingReference = false;

// Names used by many definitions keep an index beside their list of users:
// where each user sits in the list, so that one leaves in constant time,
// and the map each user joined with, so that a map's question is answered
// from its own users first. The index is keyed by the list, so it follows
// the list when a name object hands its users to another. A name without
// an index (few users, or memory ran out) is served from the list alone.
struct UserIndex {
    std::unordered_map<unsigned, unsigned> position;
    std::unordered_map<unsigned, RegionMap*> joinedWith;
    std::unordered_map<RegionMap*, std::unordered_set<unsigned>> byMap;
};

const unsigned kUserIndexThreshold = 32;

std::unordered_map<const RegionStringList*, std::unique_ptr<UserIndex>>& userIndexes()
{
    static auto* indexes = new std::unordered_map<const RegionStringList*, std::unique_ptr<UserIndex>>();
    return *indexes;
}

UserIndex* userIndexOf(const RegionStringList* list)
{
    if (!list)
        return nullptr;
    auto& all = userIndexes();
    auto it = all.find(list);
    return it == all.end() ? nullptr : it->second.get();
}

void dropUserIndex(const RegionStringList* list)
{
    if (list)
        userIndexes().erase(list);
}

// Records a user just appended to the list (or, once the list is long
// enough, indexes the whole list). On running out of memory the index is
// dropped: the list alone still answers everything.
void indexNewUser(RegionStringList* list, unsigned key, RegionMap* map)
{
    try {
        UserIndex* index = userIndexOf(list);
        if (!index) {
            if (list->count < kUserIndexThreshold)
                return;
            auto fresh = std::make_unique<UserIndex>();
            for (unsigned i = 0; i < list->count; ++i)
                fresh->position[list->items[i]] = i;
            index = fresh.get();
            userIndexes()[list] = std::move(fresh);
        } else {
            index->position[key] = list->count - 1;
        }
        if (map) {
            index->joinedWith[key] = map;
            index->byMap[map].insert(key);
        }
    } catch (const std::bad_alloc&) {
        dropUserIndex(list);
    }
}

// Takes a user out of an indexed list in constant time; false when the
// list has no index or the user is not in it.
bool removeIndexedUser(RegionStringList* list, unsigned key)
{
    UserIndex* index = userIndexOf(list);
    if (!index)
        return false;
    auto at = index->position.find(key);
    if (at == index->position.end())
        return false;
    const unsigned i = at->second;
    index->position.erase(at);
    removeAtUnordered(list, i);
    if (i < list->count)
        index->position[list->items[i]] = i;
    auto joined = index->joinedWith.find(key);
    if (joined != index->joinedWith.end()) {
        auto bucket = index->byMap.find(joined->second);
        if (bucket != index->byMap.end()) {
            bucket->second.erase(key);
            if (bucket->second.empty())
                index->byMap.erase(bucket);
        }
        index->joinedWith.erase(joined);
    }
    return true;
}

bool definedInMap(RegionMap* map, unsigned key)
{
    RegionName* user = RegionMap_findByKey(map, 1, key);
    return user && user->definition;
}

RegionStatus* definitionCheck(const RegionDefinition* d)
{
    return d ? ok() : fail(100003, "Invalid %s.", kDefinitionClass);
}

// Adds the map to the first free slot unless a slot already holds it.
// Returns 1 when it is held afterwards, 0 when all slots hold other maps.
int addToSlots(RegionMap* slots[3], RegionMap* map)
{
    for (int i = 0; i < 3; ++i) {
        if (slots[i] == map)
            return 1;
        if (!slots[i]) {
            slots[i] = map;
            return 1;
        }
    }
    return 0;
}

// Empties the first slot holding the map; later slots move up.
void removeFromSlots(RegionMap* slots[3], RegionMap* map)
{
    for (int i = 0; i < 3; ++i) {
        if (slots[i] == map) {
            for (int j = i; j < 2; ++j)
                slots[j] = slots[j + 1];
            slots[2] = nullptr;
            return;
        }
    }
}

bool slotsHold(RegionMap* const slots[3], const RegionMap* map)
{
    return map && (slots[0] == map || slots[1] == map || slots[2] == map);
}

// Reports a bad name, then a bad map.
bool nameAndMapValid(const RegionName* name, const RegionMap* map, RegionStatus** s)
{
    return RegionName_check(name, s) && RegionMap_check(map, s);
}

// Clears *out, then reports a missing out-parameter, a bad name or (for
// the queries about a map) a bad map.
bool queryStart(const RegionName* name, int* out, const char* missing, RegionStatus** s, bool aboutMap = false,
                const RegionMap* map = nullptr)
{
    if (!out) {
        *s = fail(8, missing, kNameClass, kMapClass);
        return false;
    }
    *out = 0;
    return aboutMap ? nameAndMapValid(name, map, s) : RegionName_check(name, s) != 0;
}

}  // namespace

extern "C" {

const char* RegionName_className(void) { return kNameClass; }

unsigned RegionKey_hash(unsigned buckets, const void* item)
{
    if (!buckets || !item)
        return 0;
    return static_cast<const RegionName*>(item)->key % buckets;
}

int RegionKey_compare(const void* a, const void* b)
{
    unsigned ka = static_cast<const RegionName*>(a)->key;
    unsigned kb = static_cast<const RegionName*>(b)->key;
    return ka == kb ? 0 : (ka > kb ? 1 : -1);
}

int RegionName_isBlank(const char* text, RegionStatus** status)
{
    bool blank = true;
    if (text)
        for (const char* p = text; *p && blank; ++p)
            if (!std::isspace(static_cast<unsigned char>(*p)))
                blank = false;
    RegionStatus* s = blank ? failText(300000, "Invalid name - cannot be blank.") : ok();
    if (status)
        *status = s;
    return blank ? 1 : 0;
}

// Names travel through ORV text as parameter values and list items, where
// control bytes end or corrupt the line, '#' starts a comment, ',' splits
// a list, unbalanced parentheses join items, a trailing backslash joins the
// next line and blanks are trimmed or collapsed. Such names are refused
// where they enter, so that whatever is stored reads back the same.
int RegionName_isStorable(const char* text, RegionStatus** status)
{
    const char* reason = nullptr;
    if (!text) {
        reason = "Invalid name - none given.";
    } else {
        size_t n = std::strlen(text);
        int depth = 0;
        for (size_t i = 0; i < n && !reason; ++i) {
            unsigned char c = static_cast<unsigned char>(text[i]);
            if (c < 32 || c == 127)
                reason = "Invalid name - cannot hold control characters.";
            else if (c == '#')
                reason = "Invalid name - cannot hold '#'.";
            else if (c == ',')
                reason = "Invalid name - cannot hold ','.";
            else if (c == '(')
                ++depth;
            else if (c == ')' && --depth < 0)
                reason = "Invalid name - parentheses are unbalanced.";
            else if (c == ' ' && (i == 0 || i + 1 == n || text[i + 1] == ' '))
                reason = "Invalid name - cannot begin or end with a blank or hold two blanks in a row.";
        }
        if (!reason && depth != 0)
            reason = "Invalid name - parentheses are unbalanced.";
        if (!reason && n > 0 && text[n - 1] == '\\')
            reason = "Invalid name - cannot end in a backslash.";
    }
    RegionStatus* s = reason ? failText(100007, reason) : ok();
    if (status)
        *status = s;
    return reason ? 0 : 1;
}

int RegionName_check(const RegionName* name, RegionStatus** status)
{
    return checkObject(name, 100007, "Invalid %s name.", kNameClass, status);
}

RegionStatus* RegionName_new(RegionName** out, const char* text)
{
    if (!out)
        return failText(8, "Invalid object pointer - cannot create new object");
    *out = nullptr;
    RegionStatus* s = nullptr;
    if (RegionName_isBlank(text, &s) || !RegionName_isStorable(text, &s))
        return s;
    unsigned key = 0;
    if (isError(RegionDictionary_intern(text, &key)))
        return RegionStatus_outOfMemory(kNameClass);
    RegionName* n = static_cast<RegionName*>(std::calloc(1, sizeof(RegionName)));
    if (!n)
        return RegionStatus_outOfMemory(kNameClass);
    n->key = key;
    *out = n;
    return ok();
}

RegionStatus* RegionName_delete(RegionName** holder)
{
    if (!holder || !*holder)
        return ok();
    RegionName* n = *holder;
    if (n->referencedBy) {
        dropUserIndex(n->referencedBy);
        RegionStringList_delete(&n->referencedBy);
    }
    n->definition = nullptr;
    std::free(n);
    *holder = nullptr;
    return ok();
}

const char* RegionName_getText(const RegionName* name)
{
    if (!name)
        return nullptr;
    char* text = nullptr;
    if (name->key == 0 || name->key > RegionDictionary_count())
        return nullptr;
    RegionDictionary_getText(name->key, &text);
    return text;
}

unsigned RegionName_getKey(const RegionName* name) { return name ? name->key : 0; }

RegionStatus* RegionName_setKey(RegionName* name, unsigned key)
{
    char* text = nullptr;
    RegionStatus* s = RegionDictionary_getText(key, &text);
    if (isError(s))
        return s;
    if (!RegionName_check(name, &s))
        return s;
    name->key = key;
    return ok();
}

RegionStatus* RegionName_rename(RegionName* name, const char* text)
{
    RegionStatus* s = nullptr;
    if (!RegionName_check(name, &s))
        return s;
    unsigned key = 0;
    if (RegionName_isBlank(text, &s) || !RegionName_isStorable(text, &s))
        return s;
    s = RegionDictionary_lookup(text, &key);
    if (isError(s))
        return s;
    s = RegionDictionary_intern(text, &key);
    if (isError(s))
        return s;
    name->key = key;
    return ok();
}

// Gives the name's identity a fresh object. When the callback fails, the
// old object gets its references and definition back, so nothing is lost.
RegionStatus* RegionName_transfer(RegionName* name, void* context, RegionNameReplace replace)
{
    RegionStatus* s = nullptr;
    if (!RegionName_check(name, &s))
        return s;
    if (!replace)
        return failText(3, "Function is missing");
    RegionName* fresh = nullptr;
    s = RegionName_new(&fresh, RegionName_getText(name));
    if (isError(s))
        return s;
    fresh->referencedBy = name->referencedBy;
    name->referencedBy = nullptr;
    if (name->definition) {
        fresh->definition = name->definition;
        RegionDefinition_replaceName(name->definition, fresh);
    }
    fresh->explicitFlag = name->explicitFlag;
    std::memcpy(fresh->explicitMaps, name->explicitMaps, sizeof fresh->explicitMaps);
    std::memcpy(fresh->inheritingMaps, name->inheritingMaps, sizeof fresh->inheritingMaps);
    s = replace(context, name, fresh);
    if (isError(s)) {
        StatusCopy saved(s);
        name->referencedBy = fresh->referencedBy;
        fresh->referencedBy = nullptr;
        if (fresh->definition)
            RegionDefinition_replaceName(fresh->definition, name);
        RegionName_delete(&fresh);
        return saved.restore();
    }
    // The old object is given up: the definition now stands with the new.
    name->definition = nullptr;
    return ok();
}

RegionStatus* RegionName_setDefinition(RegionName* name, RegionDefinition* definition)
{
    if (gSettingDefinition)
        return ok();
    FlagGuard guard(gSettingDefinition);
    RegionStatus* s = nullptr;
    if (!RegionName_check(name, &s))
        return s;
    s = definitionCheck(definition);
    if (isError(s))
        return s;
    if (name->definition)
        return fail(800004, "%s (%s) is already defined.", kNameClass, RegionName_getText(name));
    char* text = nullptr;
    RegionName* current = nullptr;
    s = RegionDefinition_getName(definition, &text, &current);
    if (!isError(s) && current == name) {
        name->definition = definition;
        return ok();
    }
    // The other name object loses the link first: taking this name may
    // free it.
    RegionName* other = !isError(s) ? current : nullptr;
    if (other)
        other->definition = nullptr;
    s = RegionDefinition_setName(definition, name);
    if (isError(s)) {
        if (other && definition->name == other)
            other->definition = definition;
        return s;
    }
    name->definition = definition;
    return ok();
}

RegionStatus* RegionName_getDefinition(const RegionName* name, RegionDefinition** out)
{
    RegionStatus* s = nullptr;
    if (!out)
        return fail(8, "Cannot return the definition of the %s.", kNameClass);
    *out = nullptr;
    if (!RegionName_check(name, &s))
        return s;
    if (!name->definition)
        return fail(800001, "%s is primitive.", kNameClass);
    *out = name->definition;
    return ok();
}

RegionStatus* RegionName_addReference(RegionName* name, RegionDefinition* definition, int side)
{
    return addReferenceIn(name, definition, side, definition ? definition->map : nullptr);
}

}  // extern "C"

RegionStatus* regionatlas::addReferenceIn(RegionName* name, RegionDefinition* definition, int side, RegionMap* map)
{
    RegionStatus* s = nullptr;
    if (!RegionName_check(name, &s))
        return s;
    s = definitionCheck(definition);
    if (isError(s))
        return s;
    if (side != 1) {
        int combination = 0;
        RegionDefinition_getCombination(definition, &combination);
        if (side != 2 || (combination != RC_DIFFERENCE && combination != RC_SYMMETRIC_DIFFERENCE))
            return failText(100006, "Invalid side on which to perform operation");
    }
    char* defText = nullptr;
    s = RegionDefinition_getName(definition, &defText, nullptr);
    if (isError(s))
        return s;
    if (!name->referencedBy && isError(RegionStringList_new(&name->referencedBy, 10)))
        return RegionStatus_outOfMemory(kNameClass);
    if (!gAddingReference) {
        FlagGuard guard(gAddingReference);
        char* own = const_cast<char*>(RegionName_getText(name));
        s = RegionDefinition_modifyComponents(definition, RO_ADD, side, &own, 1);
        if (isError(s))
            return s;
    }
    const unsigned before = name->referencedBy->count;
    if (isError(RegionStringList_addText(name->referencedBy, defText)))
        return RegionStatus_outOfMemory(kNameClass);
    if (name->referencedBy->count != before)
        indexNewUser(name->referencedBy, name->referencedBy->items[before], map);
    return ok();
}

extern "C" {

RegionStatus* RegionName_removeReference(RegionName* name, RegionDefinition* definition)
{
    RegionStatus* s = nullptr;
    if (!RegionName_check(name, &s))
        return s;
    s = definitionCheck(definition);
    if (isError(s))
        return s;
    if (name->definition == definition) {
        name->definition = nullptr;
        return ok();
    }
    char* defText = nullptr;
    s = RegionDefinition_getName(definition, &defText, nullptr);
    if (isError(s))
        return s;
    if (!name->referencedBy)
        return fail(900000, "String \"%s\" is not in the list", defText);
    unsigned key = 0;
    if (!defText || isError(RegionDictionary_lookup(defText, &key)) || !removeIndexedUser(name->referencedBy, key)) {
        s = RegionStringList_removeText(name->referencedBy, defText);
        if (isError(s))
            return s;
    }
    if (name->referencedBy->count == 0) {
        dropUserIndex(name->referencedBy);
        RegionStringList_delete(&name->referencedBy);
    }
    return ok();
}

RegionStatus* RegionName_addExplicitMap(RegionName* name, RegionMap* map)
{
    RegionStatus* s = nullptr;
    if (!nameAndMapValid(name, map, &s))
        return s;
    if (!addToSlots(name->explicitMaps, map))
        return failText(600003, "Name is already an explicit primitive in three maps");
    name->explicitFlag = 1;
    return ok();
}

RegionStatus* RegionName_removeExplicitMap(RegionName* name, RegionMap* map)
{
    RegionStatus* s = nullptr;
    if (!nameAndMapValid(name, map, &s))
        return s;
    if (!name->explicitFlag)
        return ok();
    removeFromSlots(name->explicitMaps, map);
    if (!name->explicitMaps[0] && !name->explicitMaps[1] && !name->explicitMaps[2])
        name->explicitFlag = 0;
    return ok();
}

RegionStatus* RegionName_addInheritingMap(RegionName* name, RegionMap* map)
{
    RegionStatus* s = nullptr;
    if (!nameAndMapValid(name, map, &s))
        return s;
    if (!addToSlots(name->inheritingMaps, map))
        return failText(2, "Name is already an inherited by three maps");
    return ok();
}

RegionStatus* RegionName_removeInheritingMap(RegionName* name, RegionMap* map)
{
    RegionStatus* s = nullptr;
    if (!nameAndMapValid(name, map, &s))
        return s;
    removeFromSlots(name->inheritingMaps, map);
    return ok();
}

RegionStatus* RegionName_isPrimitive(const RegionName* name, int* out)
{
    RegionStatus* s = nullptr;
    if (!queryStart(name, out, "Cannot return whether the %s is a primitive.", &s))
        return s;
    *out = name->definition ? 0 : 1;
    return ok();
}

RegionStatus* RegionName_isDefined(const RegionName* name, int* out)
{
    RegionStatus* s = nullptr;
    if (!queryStart(name, out, "Cannot return whether the %s is a defined.", &s))
        return s;
    *out = name->definition ? 1 : 0;
    return ok();
}

RegionStatus* RegionName_isDefinedInMap(const RegionName* name, RegionMap* map, int* out)
{
    RegionStatus* s = nullptr;
    if (!queryStart(name, out, "Cannot return whether the %s is a defined.", &s, true, map))
        return s;
    const char* text = RegionName_getText(name);
    if (!text)
        return failText(2, "Internal Error.");
    int defines = 0;
    s = RegionMap_definesText(map, text, &defines);
    if (isError(s))
        return s;
    *out = defines;
    return ok();
}

RegionStatus* RegionName_isReferenced(const RegionName* name, int* out)
{
    RegionStatus* s = nullptr;
    if (!queryStart(name, out, "Cannot return whether the %s is referenced.", &s))
        return s;
    *out = name->referencedBy && name->referencedBy->count > 0;
    return ok();
}

RegionStatus* RegionName_isReferencedByMap(const RegionName* name, RegionMap* map, int* out)
{
    RegionStatus* s = nullptr;
    if (!queryStart(name, out, "Cannot return whether the %s is referenced by a %s.", &s, true, map))
        return s;
    const RegionStringList* refs = name->referencedBy;
    // The users that joined with this map are asked first; every answer is
    // checked against the map, and the whole list is asked when none holds.
    if (const UserIndex* index = userIndexOf(refs)) {
        auto bucket = index->byMap.find(map);
        if (bucket != index->byMap.end())
            for (unsigned key : bucket->second)
                if (definedInMap(map, key)) {
                    *out = 1;
                    return ok();
                }
    }
    for (unsigned i = 0; refs && i < refs->count; ++i) {
        if (definedInMap(map, refs->items[i])) {
            *out = 1;
            break;
        }
    }
    return ok();
}

RegionStatus* RegionName_isExplicitPrimitive(const RegionName* name, int* out)
{
    RegionStatus* s = nullptr;
    if (!queryStart(name, out, "Cannot return whether the %s is an explicit primitive.", &s))
        return s;
    *out = name->explicitFlag;
    return ok();
}

RegionStatus* RegionName_isExplicitPrimitiveIn(const RegionName* name, RegionMap* map, int* out)
{
    RegionStatus* s = nullptr;
    if (!queryStart(name, out, "Cannot return whether the %s is an explicit primitive.", &s, true, map))
        return s;
    *out = name->explicitFlag == 1 && slotsHold(name->explicitMaps, map);
    return ok();
}

RegionStatus* RegionName_isInheritedIn(const RegionName* name, RegionMap* map, int* out)
{
    RegionStatus* s = nullptr;
    if (!queryStart(name, out, "Cannot return whether the %s is inherited in a %s.", &s, true, map))
        return s;
    *out = slotsHold(name->inheritingMaps, map);
    return ok();
}

}  // extern "C"
