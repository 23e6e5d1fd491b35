/* The chained-bucket machinery shared by HashSet and HashTable (C++ only,
 * internal). Both records have the same fields and their entries end in a
 * `next` link, so the prime steps, find, insert, remove and resize exist once
 * here and each container instantiates them with its own entry type, memory
 * tags and trace texts. */
#ifndef VRN_SUPPORT_HASH_CHAIN_H
#define VRN_SUPPORT_HASH_CHAIN_H

#include <limits.h>
#include <stdio.h>

#include "debug/debug_manager.h"
#include "support/memory.h"

namespace vrn {
namespace hashchain {

/* The largest prime below 2^k for k = 4..31. */
constexpr int kPrimes[28] = {13,        31,        61,        127,       251,        509,
                             1021,      2039,      4093,      8191,      16381,      32749,
                             65521,     131071,    262139,    524287,    1048573,    2097143,
                             4194301,   8388593,   16777213,  33554393,  67108859,   134217689,
                             268435399, 536870909, 1073741789, 2147483647};
constexpr int kLastIndex = 27;
/* A new container takes its size from the first 24 primes only. */
constexpr int kLastInitialIndex = 23;

/* Index of the first of the first 24 primes above size; a size beyond them
 * is clamped to the 24th. */
int initialIndex(int size);

/* The highest index whose bucket array (n + 1 pointers) the int-sized
 * allocator can hold. Beyond it a container behaves as at its maximum. */
int maxIndex();

/* Names that differ between the two containers. */
struct Names {
    const char* newTag;    /* allocation of the record and first buckets */
    const char* entryTag;  /* allocation of an entry */
    const char* resizeTag; /* routine name of resize */
    const char* deleteTag;
    const char* resizeDescription;
    const char* resizeTrace; /* "Resizing hash ... %p from %d to %d.\n" */
};

/* Bucket of key: the hash routine's result, brought into 0..n-1 in case a
 * caller-supplied routine strays outside it. */
template <class Table>
int bucketOf(const Table* t, const void* key) {
    unsigned b = static_cast<unsigned>(t->hash(key, t->n));
    if (b >= static_cast<unsigned>(t->n)) b %= static_cast<unsigned>(t->n);
    return static_cast<int>(b);
}

template <class Entry>
Entry** allocateBuckets(int n, const char* tag) {
    return static_cast<Entry**>(
        vrnCalloc(static_cast<int>((n + 1) * sizeof(Entry*)), 0, tag));
}

template <class Table, class Entry>
void initialise(Table* t, int size, const char* tag) {
    t->index = initialIndex(size);
    if (t->index > maxIndex()) t->index = maxIndex();
    t->n = kPrimes[t->index];
    t->count = 0;
    t->shrinkAt = t->n / 2;
    t->growAt = 3 * t->n;
    t->buckets = allocateBuckets<Entry>(t->n, tag);
}

/* Moves n step places along the prime table and re-links every entry: old
 * buckets from 0 upward, each chain from its head, each entry pushed on the
 * head of its new chain. The free list moves to the new last slot. */
template <class Table, class Entry>
int resize(Table* t, int step, vrnDebugPreamble& debug, const Names& names) {
    debug.enter(names.resizeTag, names.resizeDescription);
    const int top = maxIndex();
    const int oldIndex = t->index;
    long long index = static_cast<long long>(t->index) + step;
    if (index < 0) {
        if (oldIndex == 0) {
            if (debug.tracing())
                fprintf(vrnDebug_getStream(), "No action already minimum size (%d entries).\n",
                        kPrimes[0]);
            return 0;
        }
        index = 0;
    }
    if (index > top) {
        if (oldIndex >= top) {
            if (debug.tracing())
                fprintf(vrnDebug_getStream(), "No action already maximum size (%d entries).\n",
                        kPrimes[top]);
            return 0;
        }
        index = top;
    }
    const int oldN = t->n;
    Entry** oldBuckets = reinterpret_cast<Entry**>(t->buckets);
    t->index = static_cast<int>(index);
    t->n = kPrimes[t->index];
    t->count = 0;
    t->shrinkAt = t->n / 2;
    t->growAt = 3 * t->n;
    if (debug.tracing())
        fprintf(vrnDebug_getStream(), names.resizeTrace, static_cast<void*>(t), oldN, t->n);

    Entry** buckets = allocateBuckets<Entry>(t->n, names.resizeTag);
    t->buckets = buckets;
    for (int b = 0; b < oldN; ++b) {
        Entry* e = oldBuckets[b];
        while (e) {
            Entry* next = e->next;
            int nb = bucketOf(t, e->key);
            e->next = buckets[nb];
            buckets[nb] = e;
            ++t->count;
            e = next;
        }
    }
    buckets[t->n] = oldBuckets[oldN];
    vrnFree(oldBuckets, names.resizeTag);
    return 1;
}

/* The first entry of key's chain that equals key, or NULL. */
template <class Table, class Entry>
Entry* find(const Table* t, const void* key) {
    for (Entry* e = t->buckets[bucketOf(t, key)]; e; e = e->next)
        if (t->equals(e->key, key)) return e;
    return nullptr;
}

/* Grows when needed, then links a recycled or new zeroed entry at the head
 * of key's chain. The caller fills in anything beyond the key. */
template <class Table, class Entry, class GrowFn>
Entry* insert(Table* t, void* key, const char* entryTag, GrowFn grow) {
    if (t->count > t->growAt && t->index < maxIndex()) grow(t);
    int b = bucketOf(t, key);
    Entry* e = t->buckets[t->n];
    if (e) {
        t->buckets[t->n] = e->next;
        *e = Entry{};
    } else {
        e = static_cast<Entry*>(vrnCalloc(sizeof(Entry), 0, entryTag));
    }
    e->key = key;
    e->next = t->buckets[b];
    t->buckets[b] = e;
    ++t->count;
    return e;
}

/* Shrinks first when the container is sparse (so it can shrink even when
 * key is absent), then moves the first entry equal to key for which
 * match(entry) holds to the free list. Returns that entry, whose fields stay
 * readable until the next insert, or NULL. */
template <class Table, class Entry, class ShrinkFn, class MatchFn>
Entry* unlink(Table* t, const void* key, ShrinkFn shrink, MatchFn match) {
    if (t->count < t->shrinkAt && t->index != 0) shrink(t);
    int b = bucketOf(t, key);
    Entry* prev = nullptr;
    for (Entry* e = t->buckets[b]; e; prev = e, e = e->next) {
        if (!t->equals(e->key, key) || !match(e)) continue;
        if (prev)
            prev->next = e->next;
        else
            t->buckets[b] = e->next;
        e->next = t->buckets[t->n];
        t->buckets[t->n] = e;
        --t->count;
        return e;
    }
    return nullptr;
}

template <class Table, class Entry, class ShrinkFn>
int remove(Table* t, const void* key, ShrinkFn shrink) {
    return unlink<Table, Entry>(t, key, shrink, [](const Entry*) { return true; }) ? 1 : 0;
}

/* Frees the entries of every chain and of the free list, then the buckets
 * and the record. */
template <class Table, class Entry>
void destroy(Table* t, const char* tag) {
    for (int b = 0; b <= t->n; ++b) {
        Entry* e = t->buckets[b];
        while (e) {
            Entry* next = e->next;
            vrnFree(e, tag);
            e = next;
        }
    }
    vrnFree(t->buckets, tag);
    vrnFree(t, tag);
}

}  // namespace hashchain
}  // namespace vrn

#endif
