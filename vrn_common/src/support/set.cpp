#include "support/set.h"

#include <limits.h>
#include <string.h>

#include "support/memory.h"

/* Bytes for n members. A count whose size the allocator cannot express
 * gives -1, which takes the allocator's failure path instead of wrapping
 * round to a small block that later adds would overrun. */
static int memberBytes(int n) {
    return n <= INT_MAX / (int)sizeof(void*) ? n * (int)sizeof(void*) : -1;
}

/* The array for capacity members, or NULL when capacity is not positive. */
static void** allocateMembers(int capacity, const char* function) {
    if (capacity < 1) return NULL;
    return static_cast<void**>(vrnMalloc(memberBytes(capacity), function));
}

static int indexOf(const Set* set, const void* member) {
    for (int i = 0; i < set->count; ++i)
        if (set->members[i] == member) return i;
    return -1;
}

Set* Set_new(int capacity) {
    Set* set = static_cast<Set*>(vrnCalloc(sizeof(Set), 0, "Set_new"));
    if (capacity < 0) capacity = 0;
    set->members = allocateMembers(capacity, "Set_new");
    set->count = 0;
    set->capacity = capacity;
    return set;
}

Set* Set_newCopy(const Set* set) {
    if (!set) return NULL;
    Set* copy = static_cast<Set*>(vrnCalloc(sizeof(Set), 0, "Set_newCopy"));
    copy->members = allocateMembers(set->capacity, "Set_newCopy");
    if (set->count > 0) memcpy(copy->members, set->members, set->count * sizeof(void*));
    copy->count = set->count;
    copy->capacity = set->capacity;
    return copy;
}

Set* Set_newFromArray(int n, void* const* array) {
    if (n < 1 || !array) return Set_new(5);
    Set* set = Set_new(n);
    for (int i = 0; i < n; ++i) Set_add(set, array[i]);
    return set;
}

void Set_delete(Set* set) {
    if (!set) return;
    vrnFree(set->members, "Set_delete");
    vrnFree(set, "Set_delete");
}

int Set_add(Set* set, void* member) {
    if (!set || indexOf(set, member) >= 0) return 0;
    if (set->count == set->capacity) {
        /* Doubling alone would leave a set of capacity 0 unable to grow. */
        int grown = set->capacity > 0 ? 2 * set->capacity : 1;
        Set_resize(set, grown);
    }
    set->members[set->count++] = member;
    return 1;
}

int Set_remove(Set* set, void* member) {
    if (!set) return 0;
    int i = indexOf(set, member);
    if (i < 0) return 0;
    memmove(set->members + i, set->members + i + 1, (set->count - i - 1) * sizeof(void*));
    --set->count;
    return 1;
}

int Set_clear(Set* set) {
    if (!set) return 0;
    set->count = 0;
    return 1;
}

int Set_contains(const Set* set, const void* member) {
    return set && indexOf(set, member) >= 0 ? 1 : 0;
}

int Set_toArray(const Set* set, void*** array) {
    if (!array) return 0;
    *array = NULL;
    if (!set || set->count == 0) return 0;
    *array = static_cast<void**>(vrnMalloc(memberBytes(set->count), "Set_toArray"));
    memcpy(*array, set->members, set->count * sizeof(void*));
    return set->count;
}

int Set_resize(Set* set, int newCapacity) {
    if (!set || newCapacity < set->count || newCapacity < 1) return 0;
    set->members = static_cast<void**>(
        vrnRealloc(set->members, memberBytes(newCapacity), "Set_resize"));
    set->capacity = newCapacity;
    return 1;
}

SetIterator* SetIterator_new(Set* set) {
    SetIterator* iterator =
        static_cast<SetIterator*>(vrnCalloc(sizeof(SetIterator), 0, "SetIterator_new"));
    iterator->set = set;
    iterator->position = set ? set->count : 0;
    return iterator;
}

void SetIterator_delete(SetIterator* iterator) { vrnFree(iterator, "SetIterator_delete"); }

void* SetIterator_first(SetIterator* iterator) {
    if (!iterator || !iterator->set || iterator->set->count == 0) return NULL;
    iterator->position = 0;
    return iterator->set->members[0];
}

void* SetIterator_next(SetIterator* iterator) {
    if (!iterator || !iterator->set || iterator->position >= iterator->set->count - 1)
        return NULL;
    return iterator->set->members[++iterator->position];
}

Pair* Pair_new(void) { return static_cast<Pair*>(vrnCalloc(sizeof(Pair), 0, "Pair_new")); }

void Pair_delete(Pair* pair) { vrnFree(pair, "Pair_delete"); }

void Pair_set(Pair* pair, void* first, void* second) {
    if (!pair) return;
    pair->first = first;
    pair->second = second;
}

void* Pair_getFirst(const void* record) {
    return record ? *static_cast<void* const*>(record) : NULL;
}
