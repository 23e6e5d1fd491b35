/* HashSet: a chained hash set of pointer-sized keys compared by identity.
 *
 * The bucket count is always a prime of a fixed table (13, 31, 61, ...) and
 * moves one step at a time: up when an insert finds more than 3 entries per
 * bucket, down when a removal finds fewer than one per two buckets. Iteration
 * (HashSet_toArray) runs over the buckets in order, each chain from its head,
 * so the most recently inserted entry of a bucket comes first; sequences
 * written to files keep this order, which is why the hash, the primes and the
 * resize order must never change. Keys are never owned. */
#ifndef VRN_SUPPORT_HASH_SET_H
#define VRN_SUPPORT_HASH_SET_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct HashSetEntry {
    void* key;
    struct HashSetEntry* next;
} HashSetEntry;

typedef struct HashSet {
    HashSetEntry** buckets; /* n + 1 slots: the chains, then the free list */
    int n;                  /* bucket count, a prime of the table */
    int index;              /* index of n in the prime table */
    int (*hash)(const void* key, int n);
    int (*equals)(const void* storedKey, const void* key);
    int count;
    int shrinkAt; /* n / 2 */
    int growAt;   /* 3 * n */
} HashSet;

/* (unsigned 32-bit) key mod n. */
int HashSet_hashPointer(const void* key, int n);
int HashSet_identityEquals(const void* storedKey, const void* key);

/* An empty set whose bucket count is the smallest prime above size (sizes
 * beyond the table's range get its largest usable prime). */
HashSet* HashSet_new(int size);
/* k < 1: HashSet_new(5). Else HashSet_new(k) holding every key, in order. */
HashSet* HashSet_newFromArray(int k, void* const* keys);
/* Inserts key without looking for an equal one; returns the new count. */
int HashSet_newHashEntry(HashSet* set, void* key);
/* 1 when an entry equal to key was removed, 0 when none was found. */
int HashSet_remove(HashSet* set, const void* key);
/* Returns the count and a new array (freed with vrnFree) of the keys in
 * iteration order; an empty set gives NULL and 0. */
int HashSet_toArray(const HashSet* set, void*** array);
/* Moves the bucket count step places along the prime table (+1 grow, -1
 * shrink) and re-hashes; returns 1 when it did, 0 when already at the end. */
int HashSet_resize(HashSet* set, int step);
/* Frees every entry, the buckets and the set (not the keys). */
void HashSet_delete(HashSet* set);

#ifdef __cplusplus
}
#endif

#endif
