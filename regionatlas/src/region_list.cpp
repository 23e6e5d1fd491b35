// Region string lists. Keys are dictionary keys, so "sorted" means in
// interning order. Set operations work on sorted copies or merges, so none
// of them is quadratic in the list length.
#include "region_hash.h"
#include "region_internal.h"
#include "region_list.h"
#include "region_name.h"
#include "region_reader.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unordered_set>
#include <vector>

using namespace regionatlas;

namespace {

const char* const kListClass = "String List";
const unsigned kMembershipThreshold = 32;

using Membership = std::unordered_set<unsigned>;

Membership* membershipOf(const RegionStringList* list)
{
    return static_cast<Membership*>(list->membership);
}

void dropMembership(RegionStringList* list)
{
    delete membershipOf(list);
    list->membership = nullptr;
}

bool isAscending(const RegionStringList* l) { return l->flags & REGION_LIST_ASCENDING; }
bool isDescending(const RegionStringList* l) { return l->flags & REGION_LIST_DESCENDING; }

RegionStatus* invalidList() { return fail(100009, "Invalid %s.", kListClass); }

// The opening of every operation on two lists: each list that a definition
// watches reports the change, then both must be present.
bool startPairOperation(RegionStringList* a, RegionStringList* b)
{
    if (a && a->watcher)
        noteListChange(a);
    if (b && b->watcher)
        noteListChange(b);
    return a && b;
}

bool keyIsInterned(unsigned key)
{
    return key != 0 && key <= RegionDictionary_count();
}

// Index of the key, or -1. Binary search in a list marked sorted.
long indexOf(const RegionStringList* list, unsigned key)
{
    const unsigned* b = list->items;
    const unsigned* e = list->items + list->count;
    if (isAscending(list)) {
        const unsigned* it = std::lower_bound(b, e, key);
        return (it != e && *it == key) ? it - b : -1;
    }
    if (isDescending(list)) {
        const unsigned* it = std::lower_bound(b, e, key, std::greater<unsigned>());
        return (it != e && *it == key) ? it - b : -1;
    }
    const unsigned* it = std::find(b, e, key);
    return it != e ? it - b : -1;
}

// Whether the key is present, without moving the cursor; long unsorted
// lists answer from their key index.
bool contains(RegionStringList* list, unsigned key)
{
    if (list->count == 0)
        return false;
    unsigned last = list->items[list->count - 1];
    if (isAscending(list) && key > last)
        return false;
    if (isDescending(list) && key < last)
        return false;
    if (isAscending(list) || isDescending(list) || list->count < kMembershipThreshold)
        return indexOf(list, key) >= 0;
    if (!list->membership) {
        try {
            list->membership = new Membership(list->items, list->items + list->count);
        } catch (const std::bad_alloc&) {
            return indexOf(list, key) >= 0;
        }
    }
    return membershipOf(list)->count(key) != 0;
}

// Replaces the keys of the list with those given (capacity grows as needed).
bool assign(RegionStringList* list, const std::vector<unsigned>& keys)
{
    if (keys.size() > list->capacity) {
        unsigned* grown = static_cast<unsigned*>(std::realloc(list->items, keys.size() * sizeof(unsigned)));
        if (!grown)
            return false;
        list->items = grown;
        list->capacity = static_cast<unsigned>(keys.size());
    }
    if (!keys.empty())
        std::memcpy(list->items, keys.data(), keys.size() * sizeof(unsigned));
    list->count = static_cast<unsigned>(keys.size());
    dropMembership(list);
    return true;
}

// Empties the list, keeping its storage.
void empty(RegionStringList* list)
{
    list->count = 0;
    dropMembership(list);
}

// Replaces the keys of the list with those given, a subset of its own in
// its order, so its sorted marks stay true.
RegionStatus* keepOnly(RegionStringList* list, const std::vector<unsigned>& keys)
{
    uint8_t flags = list->flags;
    if (!assign(list, keys))
        return RegionStatus_outOfMemory(kListClass);
    list->flags = flags;
    return ok();
}

std::vector<unsigned> keysOf(const RegionStringList* list)
{
    return std::vector<unsigned>(list->items, list->items + list->count);
}

std::vector<unsigned> sortedKeysOf(const RegionStringList* list)
{
    std::vector<unsigned> k = keysOf(list);
    if (isDescending(list))
        std::reverse(k.begin(), k.end());
    else if (!isAscending(list))
        std::sort(k.begin(), k.end());
    return k;
}

// a minus the keys of b, in a's order.
std::vector<unsigned> minus(const std::vector<unsigned>& a, const std::vector<unsigned>& sortedB)
{
    std::vector<unsigned> out;
    out.reserve(a.size());
    if (std::is_sorted(a.begin(), a.end())) {
        std::set_difference(a.begin(), a.end(), sortedB.begin(), sortedB.end(), std::back_inserter(out));
        return out;
    }
    for (unsigned k : a)
        if (!std::binary_search(sortedB.begin(), sortedB.end(), k))
            out.push_back(k);
    return out;
}

}  // namespace

extern "C" {

RegionStatus* RegionStringList_new(RegionStringList** out, unsigned capacity)
{
    if (!out)
        return failText(8, "Invalid object pointer - cannot create new object");
    RegionStringList* l = static_cast<RegionStringList*>(std::calloc(1, sizeof(RegionStringList)));
    if (!l)
        return RegionStatus_outOfMemory(kListClass);
    if (capacity) {
        l->items = static_cast<unsigned*>(std::malloc(capacity * sizeof(unsigned)));
        if (!l->items) {
            std::free(l);
            return RegionStatus_outOfMemory(kListClass);
        }
        l->capacity = capacity;
    }
    *out = l;
    return ok();
}

int RegionStringList_check(const RegionStringList* list, RegionStatus** status)
{
    return checkObject(list, 100009, "Invalid %s.", kListClass, status);
}

RegionStatus* RegionStringList_delete(RegionStringList** list)
{
    if (!list || !*list)
        return invalidList();
    dropMembership(*list);
    std::free((*list)->items);
    std::free(*list);
    *list = nullptr;
    return ok();
}

RegionStatus* RegionStringList_clear(RegionStringList* list)
{
    if (list && list->watcher)
        noteListChange(list);
    if (!list)
        return invalidList();
    list->count = 0;
    list->cursor = 0;
    list->flags &= static_cast<uint8_t>(~REGION_LIST_ITERATING);
    dropMembership(list);
    return ok();
}

RegionStatus* RegionStringList_count(const RegionStringList* list, unsigned* n)
{
    if (!n)
        return failText(8, "Invalid object pointer - cannot return size of list");
    *n = list ? list->count : 0;
    return list ? ok() : invalidList();
}

RegionStatus* RegionStringList_findKey(RegionStringList* list, unsigned key, int* found)
{
    if (!found)
        return failText(8, "Invalid object pointer - cannot return result");
    *found = 0;
    if (!list)
        return invalidList();
    long i = indexOf(list, key);
    if (i >= 0) {
        *found = 1;
        list->cursor = static_cast<unsigned>(i);
    }
    return ok();
}

RegionStatus* RegionStringList_findText(RegionStringList* list, const char* text, int* found)
{
    if (!found)
        return failText(8, "Invalid object pointer - cannot return result");
    *found = 0;
    if (!list)
        return invalidList();
    RegionStatus* s = nullptr;
    if (RegionName_isBlank(text, &s))
        return s;
    unsigned key = 0;
    if (isError(RegionDictionary_lookup(text, &key)))
        return ok();
    return RegionStringList_findKey(list, key, found);
}

RegionStatus* RegionStringList_addKey(RegionStringList* list, unsigned key)
{
    if (list && list->watcher)
        noteListChange(list);
    if (!list)
        return invalidList();
    if (!keyIsInterned(key))
        return failText(800000, nullptr);
    if (contains(list, key))
        return ok();
    if (list->count == list->capacity) {
        unsigned cap = list->capacity == 0 ? 10 : list->capacity * 2;
        unsigned* grown = static_cast<unsigned*>(std::realloc(list->items, cap * sizeof(unsigned)));
        if (!grown) {
            cap = list->capacity + 1;
            grown = static_cast<unsigned*>(std::realloc(list->items, cap * sizeof(unsigned)));
            if (!grown)
                return RegionStatus_outOfMemory(kListClass);
        }
        list->items = grown;
        list->capacity = cap;
    }
    if (list->membership) {
        try {
            membershipOf(list)->insert(key);
        } catch (const std::bad_alloc&) {
            dropMembership(list);
        }
    }
    if (list->count == 0) {
        list->flags = static_cast<uint8_t>((list->flags & REGION_LIST_ITERATING) | REGION_LIST_ASCENDING);
    } else {
        unsigned last = list->items[list->count - 1];
        if ((isAscending(list) && key < last) || (isDescending(list) && key > last))
            list->flags = 0;
    }
    list->items[list->count++] = key;
    return ok();
}

RegionStatus* RegionStringList_addText(RegionStringList* list, const char* text)
{
    if (!list)
        return invalidList();
    RegionStatus* s = nullptr;
    if (RegionName_isBlank(text, &s) || !RegionName_isStorable(text, &s))
        return s;
    unsigned key = 0;
    if (isError(RegionDictionary_intern(text, &key)))
        return RegionStatus_outOfMemory(kListClass);
    return RegionStringList_addKey(list, key);
}

RegionStatus* RegionStringList_addTexts(RegionStringList* list, char** texts, unsigned n)
{
    if (!list)
        return invalidList();
    if (!texts && n)
        return failText(3, "Invalid string.");
    for (unsigned i = 0; i < n; ++i) {
        RegionStatus* s = RegionStringList_addText(list, texts[i]);
        if (isError(s))
            return s;
    }
    return ok();
}

RegionStatus* RegionStringList_removeText(RegionStringList* list, const char* text)
{
    if (list && list->watcher)
        noteListChange(list);
    if (!list)
        return invalidList();
    RegionStatus* s = nullptr;
    if (RegionName_isBlank(text, &s))
        return s;
    unsigned key = 0;
    long i = -1;
    if (!isError(RegionDictionary_lookup(text, &key)))
        i = indexOf(list, key);
    if (i < 0)
        return fail(900000, "String \"%s\" is not in the list", text);
    std::memmove(list->items + i, list->items + i + 1, (list->count - i - 1) * sizeof(unsigned));
    list->count--;
    if (list->membership)
        membershipOf(list)->erase(key);
    if (list->count != 0 && (list->capacity < 1000 || list->count + 1000 <= list->capacity)) {
        unsigned* shrunk = static_cast<unsigned*>(std::realloc(list->items, list->count * sizeof(unsigned)));
        if (shrunk) {
            list->items = shrunk;
            list->capacity = list->count;
        }
    }
    return ok();
}

}  // extern "C"

namespace regionatlas {

void removeAtUnordered(RegionStringList* list, unsigned index)
{
    if (!list || index >= list->count)
        return;
    if (list->watcher)
        noteListChange(list);
    const unsigned key = list->items[index];
    const unsigned last = --list->count;
    if (index != last) {
        list->items[index] = list->items[last];
        list->flags = static_cast<uint8_t>(list->flags & REGION_LIST_ITERATING);
    }
    if (list->membership)
        membershipOf(list)->erase(key);
    // Storage shrinks by halves, so that a long run of removals stays linear.
    if (list->capacity > 64 && list->count * 4 < list->capacity) {
        unsigned cap = list->capacity / 2;
        unsigned* shrunk = static_cast<unsigned*>(std::realloc(list->items, cap * sizeof(unsigned)));
        if (shrunk) {
            list->items = shrunk;
            list->capacity = cap;
        }
    }
}

}  // namespace regionatlas

extern "C" {

RegionStatus* RegionStringList_sort(RegionStringList* list, int descending)
{
    if (!list)
        return invalidList();
    if (descending) {
        if (!isDescending(list)) {
            if (isAscending(list))
                std::reverse(list->items, list->items + list->count);
            else
                std::sort(list->items, list->items + list->count, std::greater<unsigned>());
        }
        list->flags = static_cast<uint8_t>((list->flags & REGION_LIST_ITERATING) | REGION_LIST_DESCENDING);
    } else {
        if (!isAscending(list)) {
            if (isDescending(list))
                std::reverse(list->items, list->items + list->count);
            else
                std::sort(list->items, list->items + list->count);
        }
        list->flags = static_cast<uint8_t>((list->flags & REGION_LIST_ITERATING) | REGION_LIST_ASCENDING);
    }
    return ok();
}

RegionStatus* RegionStringList_union(RegionStringList* a, RegionStringList* b)
{
    if (!startPairOperation(a, b))
        return invalidList();
    if (b->count == 0)
        return ok();
    if (a == b)
        return RegionStringList_sort(a, 0);
    try {
        if (!a->items) {
            if (!assign(a, keysOf(b)))
                return RegionStatus_outOfMemory(kListClass);
            a->flags = static_cast<uint8_t>(b->flags & REGION_LIST_ASCENDING);
            return ok();
        }
        if (isAscending(a) && isAscending(b)) {
            // Both sorted: one merge into a fresh array that a then takes.
            size_t room = static_cast<size_t>(a->count) + b->count;
            unsigned* merged = static_cast<unsigned*>(std::malloc(room * sizeof(unsigned)));
            if (!merged)
                return RegionStatus_outOfMemory(kListClass);
            unsigned* end = std::set_union(a->items, a->items + a->count, b->items, b->items + b->count, merged);
            std::free(a->items);
            a->items = merged;
            a->capacity = static_cast<unsigned>(room);
            a->count = static_cast<unsigned>(end - merged);
            dropMembership(a);
            a->flags = static_cast<uint8_t>((a->flags & REGION_LIST_ITERATING) | REGION_LIST_ASCENDING);
            return ok();
        }
        std::vector<unsigned> sa = sortedKeysOf(a);
        std::vector<unsigned> sb = sortedKeysOf(b);
        std::vector<unsigned> out;
        out.reserve(sa.size() + sb.size());
        std::set_union(sa.begin(), sa.end(), sb.begin(), sb.end(), std::back_inserter(out));
        if (!assign(a, out))
            return RegionStatus_outOfMemory(kListClass);
    } catch (const std::bad_alloc&) {
        return RegionStatus_outOfMemory(kListClass);
    }
    a->flags = static_cast<uint8_t>((a->flags & REGION_LIST_ITERATING) | REGION_LIST_ASCENDING);
    return ok();
}

// Both lists end sorted (ascending unless already marked sorted); a keeps,
// in its order, the keys that b also holds. An empty operand empties a.
RegionStatus* RegionStringList_intersection(RegionStringList* a, RegionStringList* b)
{
    if (!startPairOperation(a, b))
        return invalidList();
    if (a->count == 0 || b->count == 0) {
        empty(a);
        return ok();
    }
    if (a == b)
        return ok();
    if (!isAscending(a) && !isDescending(a))
        RegionStringList_sort(a, 0);
    if (!isAscending(b) && !isDescending(b))
        RegionStringList_sort(b, 0);
    try {
        if (isAscending(a) && isAscending(b)) {
            // Both sorted: a is filtered in place by one merge; the write
            // position never passes the read position.
            unsigned kept = 0, j = 0;
            for (unsigned i = 0; i < a->count && j < b->count;) {
                if (a->items[i] < b->items[j]) {
                    ++i;
                } else if (b->items[j] < a->items[i]) {
                    ++j;
                } else {
                    a->items[kept++] = a->items[i++];
                    ++j;
                }
            }
            a->count = kept;
            dropMembership(a);
            return ok();
        }
        std::vector<unsigned> kept;
        kept.reserve(std::min(a->count, b->count));
        {
            for (unsigned i = 0; i < a->count; ++i)
                if (indexOf(b, a->items[i]) >= 0)
                    kept.push_back(a->items[i]);
        }
        return keepOnly(a, kept);
    } catch (const std::bad_alloc&) {
        return RegionStatus_outOfMemory(kListClass);
    }
}

RegionStatus* RegionStringList_difference(RegionStringList* a, RegionStringList* b)
{
    if (!startPairOperation(a, b))
        return invalidList();
    if (a == b) {
        empty(a);
        return ok();
    }
    if (a->count == 0 || b->count == 0)
        return ok();
    try {
        return keepOnly(a, minus(keysOf(a), sortedKeysOf(b)));
    } catch (const std::bad_alloc&) {
        return RegionStatus_outOfMemory(kListClass);
    }
}

// a becomes (a - b) united with (b - a); b keeps what a did not hold. On a
// failure both lists are put back as they were.
RegionStatus* RegionStringList_symmetricDifference(RegionStringList* a, RegionStringList* b)
{
    if (!startPairOperation(a, b))
        return invalidList();
    if (a == b) {
        empty(a);
        return ok();
    }
    try {
        std::vector<unsigned> oldA = keysOf(a), oldB = keysOf(b);
        uint8_t flagsA = a->flags, flagsB = b->flags;
        std::vector<unsigned> newA = minus(oldA, sortedKeysOf(b));
        std::vector<unsigned> newB = minus(oldB, sortedKeysOf(a));
        bool done = assign(a, newA) && assign(b, newB);
        RegionStatus* s = done ? RegionStringList_union(a, b) : RegionStatus_outOfMemory(kListClass);
        if (isError(s)) {
            StatusCopy saved(s);
            assign(a, oldA);
            assign(b, oldB);
            a->flags = flagsA;
            b->flags = flagsB;
            return saved.restore();
        }
    } catch (const std::bad_alloc&) {
        return RegionStatus_outOfMemory(kListClass);
    }
    return ok();
}

RegionStatus* RegionStringList_copy(RegionStringList** out, const RegionStringList* list)
{
    if (!out)
        return failText(8, "Invalid object pointer - cannot create new object");
    if (!list)
        return invalidList();
    RegionStringList* c = nullptr;
    RegionStatus* s = RegionStringList_new(&c, list->count);
    if (isError(s))
        return s;
    if (list->count)
        std::memcpy(c->items, list->items, list->count * sizeof(unsigned));
    c->count = list->count;
    c->flags = static_cast<uint8_t>(list->flags & (REGION_LIST_ASCENDING | REGION_LIST_DESCENDING));
    *out = c;
    return ok();
}

RegionStatus* RegionStringList_first(RegionStringList* list, char** text)
{
    if (!list)
        return invalidList();
    if (!text)
        return failText(8, "Invalid object pointer - cannot return first in list");
    *text = nullptr;
    if (list->count == 0)
        return failText(900002, "StringList is empty - cannot go to first string");
    list->cursor = 0;
    list->flags |= REGION_LIST_ITERATING;
    return RegionDictionary_getText(list->items[0], text);
}

RegionStatus* RegionStringList_next(RegionStringList* list, char** text)
{
    if (!list)
        return invalidList();
    if (!text)
        return failText(8, "Invalid object pointer - cannot return next in list");
    if (!(list->flags & REGION_LIST_ITERATING))
        return RegionStringList_first(list, text);
    *text = nullptr;
    if (list->cursor + 1 >= list->count)
        return failText(900002, "No more strings in list");
    list->cursor++;
    return RegionDictionary_getText(list->items[list->cursor], text);
}

// Visits with an index of its own over the keys present when it started,
// so a visitor that adds keys (or iterates the list itself) cannot keep it
// going for ever.
RegionStatus* RegionStringList_forEach(RegionStringList* list, RegionStringVisitor visit, void* argument)
{
    if (!list)
        return invalidList();
    if (!visit)
        return failText(3, "Iterate Function not supplied.");
    unsigned n = list->count;
    for (unsigned i = 0; i < n && i < list->count; ++i) {
        char* text = nullptr;
        RegionStatus* s = RegionDictionary_getText(list->items[i], &text);
        if (isError(s))
            return s;
        s = visit(text, &argument);
        if (isError(s))
            return s;
    }
    return ok();
}

RegionStatus* RegionStringList_export(const RegionStringList* list, int mode, va_list outputs)
{
    bool usable = list && list->count > 0;
    switch (mode) {
    case 1: {
        unsigned** keys = va_arg(outputs, unsigned**);
        unsigned* n = va_arg(outputs, unsigned*);
        if (!keys || !n)
            return failText(8, "Unable to return list of names");
        if (!usable) {
            *n = 0;
            return ok();
        }
        if (*keys) {
            if (*n < list->count)
                return fail(8, "Unable to return list of names: room for %u names, %u needed", *n, list->count);
        } else {
            *keys = static_cast<unsigned*>(std::malloc(list->count * sizeof(unsigned)));
            if (!*keys) {
                *n = 0;
                return RegionStatus_outOfMemory("contents");
            }
        }
        std::memcpy(*keys, list->items, list->count * sizeof(unsigned));
        *n = list->count;
        return ok();
    }
    case 2: {
        char*** texts = va_arg(outputs, char***);
        unsigned* n = va_arg(outputs, unsigned*);
        if (!texts || !n)
            return failText(8, "Unable to return list of names");
        *texts = nullptr;
        *n = 0;
        if (!usable)
            return ok();
        char** out = static_cast<char**>(std::calloc(list->count, sizeof(char*)));
        if (!out)
            return RegionStatus_outOfMemory("contents");
        for (unsigned i = 0; i < list->count; ++i) {
            char* text = nullptr;
            RegionDictionary_getText(list->items[i], &text);
            out[i] = copyText(text ? text : "");
            if (!out[i]) {
                for (unsigned j = 0; j < i; ++j)
                    std::free(out[j]);
                std::free(out);
                return RegionStatus_outOfMemory("contents");
            }
        }
        *texts = out;
        *n = list->count;
        return ok();
    }
    case 3: {
        RegionStringList** copy = va_arg(outputs, RegionStringList**);
        if (!copy)
            return failText(8, "Unable to return list of names");
        *copy = nullptr;
        if (!list)
            return ok();
        RegionStatus* s = RegionStringList_copy(copy, list);
        return isError(s) ? RegionStatus_outOfMemory("contents") : s;
    }
    case 4: {
        char** text = va_arg(outputs, char**);
        if (!text)
            return failText(8, "Unable to return list of names");
        if (!usable)
            return ok();
        char* joined = RegionNames_join(list->items, list->count);
        if (!joined)
            return RegionStatus_outOfMemory("contents");
        *text = joined;
        return ok();
    }
    default:
        return fail(3, "Unknown form (%d) in which to return list of names", mode);
    }
}

RegionStatus* RegionStringList_exportArgs(const RegionStringList* list, int mode, ...)
{
    va_list ap;
    va_start(ap, mode);
    RegionStatus* s = RegionStringList_export(list, mode, ap);
    va_end(ap);
    return s;
}

RegionStatus* RegionStringList_toJoinedText(const RegionStringList* list, char** text)
{
    if (!list)
        return invalidList();
    return RegionStringList_exportArgs(list, 4, text);
}

}  // extern "C"
