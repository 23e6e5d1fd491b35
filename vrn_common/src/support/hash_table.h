/* HashTable: a chained hash map from pointer-sized keys to pointer-sized
 * values, on the same design, prime table, growth, shrink and iteration order
 * as HashSet (see hash_set.h). By default keys are C strings hashed with
 * HashTable_hashString and compared with strcmp; callers may pass their own
 * hash and equality routines. Keys and values are never owned. */
#ifndef VRN_SUPPORT_HASH_TABLE_H
#define VRN_SUPPORT_HASH_TABLE_H

#include "support/set.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct HashTableEntry {
    void* key;
    void* value;
    struct HashTableEntry* next;
    /* Kept by the table for string keys (length and last bytes), so that a
     * search passes unequal keys without reading them. */
    unsigned int keyDigest;
} HashTableEntry;

typedef struct HashTable {
    HashTableEntry** buckets; /* n + 1 slots: the chains, then the free list */
    int n;
    int index;
    int (*hash)(const void* key, int n);
    int (*equals)(const void* storedKey, const void* key);
    int count;
    int shrinkAt;
    int growAt;
} HashTable;

/* Walks a table in iteration order: buckets in order, each chain from its
 * head. The table must not change while an iterator walks it. */
typedef struct HashTableIterator {
    HashTable* table; /* not owned */
    Pair* pair;       /* handed out by first/next, overwritten each time */
    int bucket;       /* bucket of entry; n once the walk has ended */
    HashTableEntry* entry;
} HashTableIterator;

typedef int (*HashTable_HashFunction)(const void* key, int n);
typedef int (*HashTable_EqualsFunction)(const void* storedKey, const void* key);

/* The system's string hash over n buckets, in wrapping 32-bit arithmetic:
 * h = 0, a = 31415; for each byte c (as a signed char):
 * h = (a*h + c) mod n, a = (a*27183) mod (n-1). NULL hashes to 0. */
int HashTable_hashString(const void* key, int n);
/* strcmp(storedKey, key) == 0; two NULLs are equal. */
int HashTable_stringEquals(const void* storedKey, const void* key);

/* As HashSet_new; a NULL hash or equals takes the string default. */
HashTable* HashTable_new(int size, HashTable_HashFunction hash, HashTable_EqualsFunction equals);
/* Inserts without looking for an equal key; returns the new count. */
int HashTable_newHashEntry(HashTable* table, void* key, void* value);
/* The value stored for key, or NULL. */
void* HashTable_get(HashTable* table, const void* key);
/* 1 and both outputs (either may be NULL) when key is found; else 0 and the
 * outputs untouched. */
int HashTable_lookup(HashTable* table, const void* key, void** storedKey, void** value);
int HashTable_remove(HashTable* table, const void* key);
int HashTable_resize(HashTable* table, int step);
void HashTable_delete(HashTable* table);

HashTableIterator* HashTableIterator_new(HashTable* table);
/* The Pair (key, value) of the first entry, or NULL for an empty table. The
 * Pair belongs to the iterator. */
Pair* HashTableIterator_first(HashTableIterator* iterator);
/* The Pair of the next entry (the first one when the walk has not begun),
 * or NULL at the end and from then on. */
Pair* HashTableIterator_next(HashTableIterator* iterator);
void HashTableIterator_delete(HashTableIterator* iterator);

#ifdef __cplusplus
}
#endif

#endif
