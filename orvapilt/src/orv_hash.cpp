// Path hash table: string keys to node pointers, chained buckets whose head
// entries live in the bucket array itself.
#include "orv_internal.h"

#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const uint32_t orvPrimeScale[] = {
    41,      127,     163,     211,     263,     331,     419,     523,     653,
    821,     1031,    1289,    1613,    2017,    2521,    3163,    3967,    4967,
    6211,    7789,    9739,    12197,   15259,   19073,   23857,   29833,   37307,
    46633,   58309,   72889,   91121,   113903,  142381,  177979,  222493,  278119,
    347651,  434563,  543203,  679033,  848791,  1060991, 1326239, 1657801, 2072267,
    2590349, 3237947, 4047469, 5059363, 6324203, 7905253, 9881569, 12351967};
const size_t kPrimeCount = sizeof orvPrimeScale / sizeof orvPrimeScale[0];
const uint32_t kLargest = orvPrimeScale[kPrimeCount - 1];

// x mod d for any 32-bit x, by one multiplication with the reciprocal
// m = ceil(2^64 / d) (the hash takes two remainders per byte).
inline uint64_t reciprocal(uint32_t d) { return UINT64_MAX / d + 1; }
inline uint32_t fastMod(uint32_t x, uint64_t m, uint32_t d)
{
    uint64_t low = m * x;
    return static_cast<uint32_t>((static_cast<unsigned __int128>(low) * d) >> 64);
}

inline uint32_t magnitude(int32_t x)
{
    uint32_t mask = static_cast<uint32_t>(x >> 31);
    return (static_cast<uint32_t>(x) ^ mask) - mask;
}

// Signed remainder with truncation toward zero, as the hash is defined;
// without branches, as the sign follows the data.
inline int32_t signedRem(int32_t x, uint64_t m, uint32_t d)
{
    uint32_t mask = static_cast<uint32_t>(x >> 31);
    return static_cast<int32_t>((fastMod(magnitude(x), m, d) ^ mask) - mask);
}

// FNV-1a of the key: entries whose check differs are passed over without
// reading their key, which in a large table costs a cache miss each.
uint32_t checkOf(const char* key)
{
    uint32_t x = 2166136261u;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(key); *p; ++p)
        x = (x ^ *p) * 16777619u;
    return x;
}

OrvHashEntry* findAt(const OrvHash* table, const char* key, uint32_t index, uint32_t check)
{
    for (OrvHashEntry* e = &table->buckets[index]; e && e->key; e = e->next)
        if (e->check == check && std::strcmp(e->key, key) == 0)
            return e;
    return nullptr;
}

OrvHashEntry* findEntry(const OrvHash* table, const char* key)
{
    return findAt(table, key, table->hash(table->size, key), checkOf(key));
}

// Moves every entry into a new bucket array of newSize. Every allocation is
// made before anything moves, so a failure leaves the table as it was.
bool rebuild(OrvHash* table, uint32_t newSize)
{
    OrvHashEntry* fresh = static_cast<OrvHashEntry*>(std::calloc(newSize, sizeof(OrvHashEntry)));
    if (!fresh)
        return false;
    // Count per new bucket, to know how many chain entries the move needs.
    uint32_t needed = 0;
    for (uint32_t b = 0; b < table->size; ++b)
        for (OrvHashEntry* e = &table->buckets[b]; e && e->key; e = e->next) {
            OrvHashEntry& head = fresh[table->hash(newSize, e->key)];
            if (head.chainCount++ > 0)
                ++needed;
        }
    OrvHashEntry* pool = nullptr;
    for (uint32_t i = 0; i < needed; ++i) {
        OrvHashEntry* e = static_cast<OrvHashEntry*>(std::calloc(1, sizeof(OrvHashEntry)));
        if (!e) {
            while (pool) {
                OrvHashEntry* next = pool->next;
                std::free(pool);
                pool = next;
            }
            std::free(fresh);
            return false;
        }
        e->next = pool;
        pool = e;
    }
    for (uint32_t b = 0; b < newSize; ++b)
        fresh[b].chainCount = 0;

    uint32_t moved = 0;
    for (uint32_t b = 0; b < table->size; ++b) {
        OrvHashEntry* e = &table->buckets[b];
        while (e) {
            OrvHashEntry* next = e->next;
            if (e->key) {
                OrvHashEntry* head = &fresh[table->hash(newSize, e->key)];
                if (!head->key) {
                    head->key = e->key;
                    head->value = e->value;
                    head->check = e->check;
                    head->chainCount = 1;
                } else {
                    OrvHashEntry* n = pool;
                    pool = pool->next;
                    n->key = e->key;
                    n->value = e->value;
                    n->check = e->check;
                    n->next = head->next;
                    n->chainCount = head->chainCount;
                    head->next = n;
                    head->chainCount++;
                }
                ++moved;
            }
            if (e != &table->buckets[b])
                std::free(e);
            e = next;
        }
    }
    assert(table->numEntries == moved && "table->numEntries == newTable.numEntries");
    (void)moved;
    std::free(table->buckets);
    table->buckets = fresh;
    table->size = newSize;
    return true;
}

}  // namespace

namespace orv {

void hashBegin(HashState& state, uint32_t m)
{
    state.m = m;
    state.h = 0;
    state.a = 31415;
    state.recipM = reciprocal(m);
    state.recipM1 = reciprocal(m - 1);
    state.check = 2166136261u;
}

void hashFeed(HashState& state, const char* bytes, size_t n)
{
    const uint32_t m = state.m;
    int32_t h = state.h, a = state.a;
    uint32_t check = state.check;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes), *end = p + n; p < end; ++p) {
        check = (check ^ *p) * 16777619u;
        int32_t c = static_cast<signed char>(*p);
        if (c >= 126)
            c = 0;
        int32_t t = static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(h) +
                                         static_cast<uint32_t>(c));
        h = static_cast<int32_t>(fastMod(magnitude(t), state.recipM, m));  // |t rem m| = |t| mod m
        a = signedRem(static_cast<int32_t>(static_cast<uint32_t>(a) * 27183u), state.recipM1, m - 1);
    }
    state.h = h;
    state.a = a;
    state.check = check;
}

OrvHashEntry* hashFind(const OrvHash* table, const char* key, uint32_t index, uint32_t check)
{
    return findAt(table, key, index, check);
}

uint32_t hashCheck(const char* key) { return checkOf(key); }


// A key known to be absent goes to the bucket's head entry when that is
// empty, else into a new entry directly behind the head.
bool hashInsertNew(OrvHash* table, const char* key, void* value, uint32_t index, uint32_t check)
{
    OrvHashEntry* head = &table->buckets[index];
    char* copy = orv::copyText(key);
    if (!copy)
        return false;
    if (!head->key) {
        head->key = copy;
        head->value = value;
        head->check = check;
        head->chainCount = 1;
    } else {
        OrvHashEntry* e = static_cast<OrvHashEntry*>(std::malloc(sizeof(OrvHashEntry)));
        if (!e) {
            std::free(copy);
            return false;
        }
        e->key = copy;
        e->value = value;
        e->check = check;
        e->next = head->next;
        e->chainCount = head->chainCount;
        head->next = e;
        head->chainCount++;
    }
    table->numEntries++;
    return true;
}

}  // namespace orv

extern "C" {

uint32_t orvHashTableSize(uint32_t requested)
{
    if (requested > kLargest && requested / kLargest > 100)
        std::fputs("WARNING: requested table size is much larger than the maximum-sized available "
                   "table, forcing poor hash table performance.  Please increase the "
                   "orvPrimeScale[] table.\n",
                   stderr);
    for (size_t i = 0; i < kPrimeCount; ++i)
        if (orvPrimeScale[i] >= requested)
            return orvPrimeScale[i];
    return kLargest;
}

// h = |(a*h + c) rem m|, a = (a*27183) rem (m-1), over the key's bytes as
// signed chars (126 and 127 count as 0), in wrapping 32-bit arithmetic.
uint32_t orvHashString(uint32_t size, const char* key)
{
    if (!key || !*key || size < 2)
        return 0;
    orv::HashState state;
    orv::hashBegin(state, size);
    orv::hashFeed(state, key, std::strlen(key));
    return static_cast<uint32_t>(state.h);
}

OrvHash* orvHashCreate(uint32_t requestedSize)
{
    OrvHash* table = static_cast<OrvHash*>(std::calloc(1, sizeof(OrvHash)));
    if (!table)
        return nullptr;
    table->size = orvHashTableSize(requestedSize);
    table->hash = orvHashString;
    table->buckets = static_cast<OrvHashEntry*>(std::calloc(table->size, sizeof(OrvHashEntry)));
    if (!table->buckets) {
        std::free(table);
        return nullptr;
    }
    return table;
}

int orvHashReserve(OrvHash* table, uint32_t extraEntries)
{
    if (!table)
        return 0;
    uint64_t n = (static_cast<uint64_t>(table->numEntries) + extraEntries) / 3;
    if (n <= table->size)
        return 1;
    uint64_t want = 2 * n;
    uint32_t newSize = orvHashTableSize(want > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(want));
    if (newSize == table->size)
        return 1;  // already the largest table
    return rebuild(table, newSize) ? 1 : 0;
}

int orvHashInsert(OrvHash* table, const char* key, void* value)
{
    if (!table || !key)
        return 0;
    orvHashReserve(table, 0);  // a failed rebuild leaves longer chains, not a broken table
    const uint32_t index = table->hash(table->size, key);
    const uint32_t check = checkOf(key);
    if (OrvHashEntry* e = findAt(table, key, index, check)) {
        char* copy = orv::copyText(key);
        if (!copy)
            return 0;
        std::free(e->key);
        e->key = copy;
        e->value = value;
        return 1;
    }
    return orv::hashInsertNew(table, key, value, index, check) ? 1 : 0;
}

void* orvHashLookup(const OrvHash* table, const char* key)
{
    if (!table || !key)
        return nullptr;
    OrvHashEntry* e = findEntry(table, key);
    return e ? e->value : nullptr;
}

// The entry's place is taken by a copy of the next entry of its chain, so
// head entries never move out of the bucket array.
int orvHashRemove(OrvHash* table, const char* key, void** valueOut)
{
    if (!table || !key)
        return 0;
    OrvHashEntry* head = &table->buckets[table->hash(table->size, key)];
    const uint32_t check = checkOf(key);
    OrvHashEntry* e = head;
    for (; e && e->key; e = e->next)
        if (e->check == check && std::strcmp(e->key, key) == 0)
            break;
    if (!e || !e->key)
        return 0;
    for (OrvHashEntry* p = head; p != e; p = p->next)
        p->chainCount--;
    if (valueOut)
        *valueOut = e->value;
    std::free(e->key);
    if (OrvHashEntry* next = e->next) {
        *e = *next;
        std::free(next);
    } else {
        e->key = nullptr;
        e->value = nullptr;
        e->chainCount = 0;
        e->check = 0;
    }
    table->numEntries--;
    return 1;
}

void orvHashDestroy(OrvHash* table)
{
    if (!table)
        return;
    for (uint32_t b = 0; b < table->size; ++b) {
        OrvHashEntry* head = &table->buckets[b];
        std::free(head->key);
        for (OrvHashEntry* e = head->next; e;) {
            OrvHashEntry* next = e->next;
            std::free(e->key);
            std::free(e);
            e = next;
        }
    }
    std::free(table->buckets);
    std::free(table);
}

}  // extern "C"
