/* Set: an ordered set of pointer-sized members kept in a growing array,
 * compared by identity; SetIterator walks it live. Pair: a record of two
 * words, the item that the hash-table iterators hand out. None of these
 * containers owns what its members point to. */
#ifndef VRN_SUPPORT_SET_H
#define VRN_SUPPORT_SET_H

#ifdef __cplusplus
extern "C" {
#endif

/* Members occupy positions 0..count-1 in insertion order; none occurs twice. */
typedef struct Set {
    void** members; /* owned array of capacity words */
    int count;
    int capacity;
} Set;

typedef struct SetIterator {
    Set* set; /* not owned */
    int position;
} SetIterator;

typedef struct Pair {
    void* first;
    void* second;
} Pair;

/* An empty set with room for capacity members. A capacity below 1 is allowed:
 * the first add gives the set room for one member. */
Set* Set_new(int capacity);
/* Same count, capacity and members; NULL for NULL. */
Set* Set_newCopy(const Set* set);
/* n < 1: an empty set of capacity 5. Else a set of capacity n holding the
 * array's elements in order, later repeats skipped. */
Set* Set_newFromArray(int n, void* const* array);
void Set_delete(Set* set);
/* 1 when added at the end (the array doubles when full), 0 when present. */
int Set_add(Set* set, void* member);
/* 1 when removed (later members move down, order kept), 0 when absent. */
int Set_remove(Set* set, void* member);
/* Empties the set; capacity and array are kept. Returns 1. */
int Set_clear(Set* set);
int Set_contains(const Set* set, const void* member);
/* Returns the count and a new array of the members in order, which the
 * caller frees with vrnFree; an empty set gives NULL and 0. */
int Set_toArray(const Set* set, void*** array);
/* 0 when newCapacity is below the count or not positive; else 1. */
int Set_resize(Set* set, int newCapacity);

/* Iterators read the set live: changes made during an iteration are seen at
 * once, and a member whose value is 0 cannot be told from the end. A new
 * iterator yields nothing from SetIterator_next before SetIterator_first. */
SetIterator* SetIterator_new(Set* set);
void SetIterator_delete(SetIterator* iterator);
/* Member 0, or 0 for an empty set. */
void* SetIterator_first(SetIterator* iterator);
/* The next member, or 0 past the last one. */
void* SetIterator_next(SetIterator* iterator);

/* A zeroed pair. */
Pair* Pair_new(void);
void Pair_delete(Pair* pair);
void Pair_set(Pair* pair, void* first, void* second);
/* The first word of any record whose first field is a word (a Pair, an
 * error display, ...); NULL for NULL. */
void* Pair_getFirst(const void* record);

#ifdef __cplusplus
}
#endif

#endif
