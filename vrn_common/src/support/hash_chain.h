/* The chained-bucket machinery shared by HashSet and HashTable (C++ only,
 * internal). Both records have the same fields and their entries end in a
 * `next` link, so the prime steps, find, insert, remove and resize exist once
 * here and each container instantiates them with its own entry type, memory
 * tags and trace texts. The default hash and equality routines are computed
 * inline here, without division instructions; they give exactly the buckets
 * of the public routines. */
#ifndef VRN_SUPPORT_HASH_CHAIN_H
#define VRN_SUPPORT_HASH_CHAIN_H

#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "debug/debug_manager.h"
#include "support/hash_set.h"
#include "support/hash_table.h"
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

/* Remainder by a divisor fixed in advance, without a division instruction:
 * with magic = ceil(2^64 / d), x mod d is the high word of
 * (magic * x mod 2^64) * d. This is exact for every 32-bit x and every
 * divisor d >= 1 (for d = 1 the magic wraps to 0, and so does the result). */
__extension__ typedef unsigned __int128 Wide;

constexpr uint64_t modMagic(uint32_t d) { return UINT64_MAX / d + 1; }

inline uint32_t modBy(uint32_t x, uint64_t magic, uint32_t d) {
    const uint64_t low = magic * x;
    return static_cast<uint32_t>((static_cast<Wide>(low) * d) >> 64);
}

/* The two moduli of the string hash over n buckets (n and n - 1, n >= 2)
 * with their magics. */
struct Divisors {
    uint32_t n;
    uint32_t n1;
    uint64_t magicN;
    uint64_t magicN1;
};

constexpr Divisors divisorsFor(uint32_t n) { return {n, n - 1, modMagic(n), modMagic(n - 1)}; }

/* The string hash's multiplier depends only on n and the byte's position:
 * a(0) = 31415, a(i+1) = a(i) * 27183 mod (n - 1). Each prime keeps the
 * multipliers of the first kStoredMultipliers positions, which covers most
 * keys; longer keys go on computing them. */
constexpr int kStoredMultipliers = 31;

struct PrimeHashing {
    Divisors divisors[kLastIndex + 1];
    uint32_t multipliers[kLastIndex + 1][kStoredMultipliers + 1];
};

constexpr PrimeHashing makePrimeHashing() {
    PrimeHashing table{};
    for (int i = 0; i <= kLastIndex; ++i) {
        const uint32_t n = static_cast<uint32_t>(kPrimes[i]);
        table.divisors[i] = divisorsFor(n);
        uint32_t a = 31415;
        for (int k = 0; k <= kStoredMultipliers; ++k) {
            table.multipliers[i][k] = a;
            a = (a * 27183u) % (n - 1);
        }
    }
    return table;
}

/* Divisors and multipliers of every bucket count a container can have, by
 * prime index. */
inline constexpr PrimeHashing kPrimeHashing = makePrimeHashing();

/* The prime index of n, or -1 when n is not a prime of the table. Each
 * prime is the largest below 2^k for k = 4..31, so its bit length names its
 * index. */
inline int primeIndexOf(uint32_t n) {
    if (n < static_cast<uint32_t>(kPrimes[0]) || n > static_cast<uint32_t>(kPrimes[kLastIndex]))
        return -1;
    const int i = 28 - __builtin_clz(n);
    return kPrimeHashing.divisors[i].n == n ? i : -1;
}

/* One step of the hash: h = (a*h + c) mod n, c a byte taken as signed. */
inline uint32_t hashStep(uint32_t h, uint32_t a, signed char byte, const Divisors& d) {
    const uint32_t c = static_cast<uint32_t>(static_cast<int32_t>(byte));
    return modBy(a * h + c, d.magicN, d.n);
}

/* The system's string hash, division-free, from byte p on with hash h and
 * multiplier a: for each byte c (as a signed char) h = (a*h + c) mod n and
 * a = (a*27183) mod (n - 1), all in wrapping 32-bit arithmetic. */
inline uint32_t stringHashFrom(const signed char* p, uint32_t h, uint32_t a, const Divisors& d,
                               const char** end) {
    for (; *p; ++p) {
        h = hashStep(h, a, *p, d);
        a = modBy(a * 27183u, d.magicN1, d.n1);
    }
    *end = reinterpret_cast<const char*>(p);
    return h;
}

/* The string hash over a bucket count that is not a prime of the table. */
inline uint32_t stringHash(const char* key, const Divisors& d) {
    const char* end;
    return stringHashFrom(reinterpret_cast<const signed char*>(key), 0, 31415, d, &end);
}

/* The string hash over the prime at index, with stored multipliers. Sets
 * *end to the key's terminating NUL. */
inline uint32_t stringHashAt(const char* key, int index, const char** end) {
    const Divisors& d = kPrimeHashing.divisors[index];
    const uint32_t* a = kPrimeHashing.multipliers[index];
    const signed char* p = reinterpret_cast<const signed char*>(key);
    uint32_t h = 0;
#pragma GCC unroll 32
    for (int i = 0; i < kStoredMultipliers; ++i, ++p) {
        if (!*p) {
            *end = reinterpret_cast<const char*>(p);
            return h;
        }
        h = hashStep(h, a[i], *p, d);
    }
    return stringHashFrom(p, h, a[kStoredMultipliers], d, end);
}

inline uint32_t stringHashAt(const char* key, int index) {
    const char* end;
    return stringHashAt(key, index, &end);
}

/* A digest of a text from its length and its last four bytes: texts with
 * different digests differ, so a search compares the stored digest before
 * reading a stored key. Names that share a prefix usually differ at the
 * end. */
inline uint32_t keyDigest(const char* key, const char* end) {
    const size_t length = static_cast<size_t>(end - key);
    uint32_t tail = 0;
    if (length >= 4)
        memcpy(&tail, end - 4, 4);
    else
        for (const char* p = key; p < end; ++p) tail = (tail << 8) | static_cast<unsigned char>(*p);
    return tail ^ static_cast<uint32_t>(length) * 0x9E3779B1u;
}

/* The prime index of a container whose n is the prime at its index (always
 * so for containers made by the constructors), else -1. */
template <class Table>
int tableIndex(const Table* t) {
    if (static_cast<unsigned>(t->index) > static_cast<unsigned>(kLastIndex)) return -1;
    return kPrimeHashing.divisors[t->index].n == static_cast<uint32_t>(t->n) ? t->index : -1;
}

/* Bucket of key: the hash routine's result, brought into 0..n-1 in case a
 * caller-supplied routine strays outside it. The default routines are
 * computed inline, giving the same bucket without the call and the
 * divisions. */
template <class Table>
int callerBucket(const Table* t, const void* key) {
    unsigned b = static_cast<unsigned>(t->hash(key, t->n));
    if (b >= static_cast<unsigned>(t->n)) b %= static_cast<unsigned>(t->n);
    return static_cast<int>(b);
}

inline int bucketOf(const HashTable* t, const void* key) {
    if (t->hash == HashTable_hashString && key) {
        const int index = tableIndex(t);
        if (index >= 0) return static_cast<int>(stringHashAt(static_cast<const char*>(key), index));
    }
    return callerBucket(t, key);
}

inline int bucketOf(const HashSet* t, const void* key) {
    if (t->hash == HashSet_hashPointer) {
        const int index = tableIndex(t);
        if (index >= 0) {
            const Divisors& d = kPrimeHashing.divisors[index];
            return static_cast<int>(
                modBy(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(key)), d.magicN, d.n));
        }
    }
    return callerBucket(t, key);
}

/* One search of a container for a key: the key's bucket and the test of a
 * chain's entries, with the default routines inline. Equal string pointers
 * are equal texts; an entry whose digest differs is passed without reading
 * its key. */
class TableSearch {
public:
    TableSearch(const HashTable* t, const void* key)
        : key_(key), equals_(t->equals), strings_(t->equals == HashTable_stringEquals) {
        const char* text = static_cast<const char*>(key);
        const int index = t->hash == HashTable_hashString && key ? tableIndex(t) : -1;
        if (index >= 0) {
            const char* end;
            bucket_ = static_cast<int>(stringHashAt(text, index, &end));
            if (strings_) digest_ = keyDigest(text, end);
        } else {
            bucket_ = callerBucket(t, key);
            if (strings_ && key) digest_ = keyDigest(text, text + strlen(text));
        }
    }

    int bucket() const { return bucket_; }

    bool matches(const HashTableEntry* e) const {
        if (!strings_) return equals_(e->key, key_) != 0;
        if (e->key == key_) return true;
        if (e->keyDigest != digest_ || !e->key || !key_) return false;
        return strcmp(static_cast<const char*>(e->key), static_cast<const char*>(key_)) == 0;
    }

    /* Prepares a new entry for later searches. */
    void stamp(HashTableEntry* e) const { e->keyDigest = digest_; }

private:
    const void* key_;
    int (*equals_)(const void* storedKey, const void* key);
    bool strings_;
    int bucket_ = 0;
    uint32_t digest_ = 0;
};

class SetSearch {
public:
    SetSearch(const HashSet* t, const void* key)
        : key_(key),
          equals_(t->equals),
          identity_(t->equals == HashSet_identityEquals),
          bucket_(bucketOf(t, key)) {}

    int bucket() const { return bucket_; }
    bool matches(const HashSetEntry* e) const {
        return identity_ ? e->key == key_ : equals_(e->key, key_) != 0;
    }
    void stamp(HashSetEntry*) const {}

private:
    const void* key_;
    int (*equals_)(const void* storedKey, const void* key);
    bool identity_;
    int bucket_;
};

inline TableSearch searchFor(const HashTable* t, const void* key) { return TableSearch(t, key); }
inline SetSearch searchFor(const HashSet* t, const void* key) { return SetSearch(t, key); }

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

inline void prefetchKey(const HashTableEntry* e) { __builtin_prefetch(e->key); }
inline void prefetchKey(const HashSetEntry*) {}

/* Re-links every entry of the old chains into t's new buckets in the order
 * of the plain walk (old buckets from 0 upward, each chain from its head,
 * each entry pushed on the head of its new chain), but in three passes over
 * a scratch list so that the memory of entries, keys and buckets some steps
 * ahead is fetched while the current one is worked on. Large tables spend
 * most of a resize waiting for that memory. Returns false, having changed
 * nothing, when the table is small or the scratch list cannot be had; the
 * caller then walks plainly. */
template <class Table, class Entry>
bool relinkPipelined(Table* t, Entry** oldBuckets, int oldN, int entries) {
    constexpr int kAhead = 16;
    if (entries < 4 * kAhead) return false;
    struct Step {
        Entry* entry;
        int bucket;
    };
    /* A working list that lives only during this call: taken from the C
     * library directly, outside the tagged allocations of the containers. */
    Step* steps = static_cast<Step*>(malloc(static_cast<size_t>(entries) * sizeof(Step)));
    if (!steps) return false;
    int k = 0;
    for (int b = 0; b < oldN; ++b) {
        if (b + kAhead < oldN) __builtin_prefetch(oldBuckets[b + kAhead]);
        for (Entry* e = oldBuckets[b]; e; e = e->next) {
            if (k == entries) { /* more entries than counted: walk plainly */
                free(steps);
                return false;
            }
            steps[k++].entry = e;
        }
    }
    for (int i = 0; i < k; ++i) {
        if (i + 2 * kAhead < k) __builtin_prefetch(steps[i + 2 * kAhead].entry);
        if (i + kAhead < k) prefetchKey(steps[i + kAhead].entry);
        steps[i].bucket = bucketOf(t, steps[i].entry->key);
    }
    Entry** buckets = reinterpret_cast<Entry**>(t->buckets);
    for (int i = 0; i < k; ++i) {
        if (i + kAhead < k) {
            __builtin_prefetch(&buckets[steps[i + kAhead].bucket], 1);
            __builtin_prefetch(steps[i + kAhead].entry, 1);
        }
        Entry* e = steps[i].entry;
        e->next = buckets[steps[i].bucket];
        buckets[steps[i].bucket] = e;
    }
    t->count = k;
    free(steps);
    return true;
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
    const int oldCount = t->count;
    Entry** oldBuckets = reinterpret_cast<Entry**>(t->buckets);
    t->index = static_cast<int>(index);
    t->n = kPrimes[t->index];
    t->count = 0;
    t->shrinkAt = t->n / 2;
    t->growAt = 3 * t->n;
    if (debug.tracing())
        fprintf(vrnDebug_getStream(), names.resizeTrace, static_cast<void*>(t), oldN, t->n);

    const int entries = oldCount;
    Entry** buckets = allocateBuckets<Entry>(t->n, names.resizeTag);
    t->buckets = buckets;
    if (!relinkPipelined(t, oldBuckets, oldN, entries)) {
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
    }
    buckets[t->n] = oldBuckets[oldN];
    vrnFree(oldBuckets, names.resizeTag);
    return 1;
}

/* The first entry of key's chain that equals key, or NULL. */
template <class Table, class Entry>
Entry* find(const Table* t, const void* key) {
    const auto search = searchFor(t, key);
    for (Entry* e = t->buckets[search.bucket()]; e; e = e->next)
        if (search.matches(e)) return e;
    return nullptr;
}

/* Grows when needed, then links a recycled or new zeroed entry at the head
 * of key's chain. The caller fills in anything beyond the key. */
template <class Table, class Entry, class GrowFn>
Entry* insert(Table* t, void* key, const char* entryTag, GrowFn grow) {
    if (t->count > t->growAt && t->index < maxIndex()) grow(t);
    const auto search = searchFor(t, key);
    const int b = search.bucket();
    Entry* e = t->buckets[t->n];
    if (e) {
        t->buckets[t->n] = e->next;
        *e = Entry{};
    } else {
        e = static_cast<Entry*>(vrnCalloc(sizeof(Entry), 0, entryTag));
    }
    e->key = key;
    search.stamp(e);
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
    const auto search = searchFor(t, key);
    const int b = search.bucket();
    Entry* prev = nullptr;
    for (Entry* e = t->buckets[b]; e; prev = e, e = e->next) {
        if (!search.matches(e) || !match(e)) continue;
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
