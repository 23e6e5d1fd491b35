// Chained hash tables whose chains are kept in ascending order.
#include "region_hash.h"
#include "region_internal.h"

#include <cstdio>
#include <cstdlib>

using namespace regionatlas;

namespace {

unsigned bucketOf(const RegionHash* table, const void* item)
{
    return table->hash(table->bucketCount, item) % table->bucketCount;
}

// The entry whose item compares equal, or null; caches it.
RegionHashEntry* locate(RegionHash* table, const void* item)
{
    if (table->cachedEntry && table->cachedEntry->item &&
        table->compare(table->cachedEntry->item, item) == 0)
        return table->cachedEntry;
    unsigned b = bucketOf(table, item);
    for (RegionHashEntry* e = table->buckets[b]; e; e = e->next) {
        if (!e->item)
            continue;
        int c = table->compare(e->item, item);
        if (c == 0) {
            table->cachedBucket = b;
            table->cachedEntry = e;
            return e;
        }
        if (c > 0)
            break;
    }
    return nullptr;
}

void unlink(RegionHash* table, unsigned bucket, RegionHashEntry* e)
{
    if (e->previous)
        e->previous->next = e->next;
    else
        table->buckets[bucket] = e->next;
    if (e->next)
        e->next->previous = e->previous;
    if (table->cachedEntry == e)
        table->cachedEntry = nullptr;
    std::free(e);
    table->count--;
}

}  // namespace

extern "C" {

RegionStatus* RegionHash_new(RegionHash** out, unsigned buckets, RegionHashFunction hash,
                             RegionCompareFunction compare)
{
    if (!out)
        return failText(8, "Invalid object pointer - cannot create new object");
    if (buckets == 0)
        return failText(2, "Size of hash table is invalid");
    if (!hash || !compare)
        return failText(3, "Function is missing");
    RegionHash* t = static_cast<RegionHash*>(std::calloc(1, sizeof(RegionHash)));
    if (!t)
        return RegionStatus_outOfMemory("hash table");
    t->buckets = static_cast<RegionHashEntry**>(std::calloc(buckets, sizeof(RegionHashEntry*)));
    if (!t->buckets) {
        std::free(t);
        return RegionStatus_outOfMemory("hash table");
    }
    t->bucketCount = buckets;
    t->hash = hash;
    t->compare = compare;
    *out = t;
    return ok();
}

RegionStatus* RegionHash_delete(RegionHash** table)
{
    if (!table || !*table)
        return ok();
    RegionHash* t = *table;
    for (unsigned b = 0; b < t->bucketCount; ++b) {
        RegionHashEntry* e = t->buckets[b];
        while (e) {
            RegionHashEntry* next = e->next;
            std::free(e);
            e = next;
        }
    }
    std::free(t->buckets);
    std::free(t);
    *table = nullptr;
    return ok();
}

RegionStatus* RegionHash_insert(RegionHash* table, void* item)
{
    if (!table)
        return failText(2, "Invalid Hash Table");
    if (!item)
        return failText(100007, "Invalid Entry.");
    unsigned b = bucketOf(table, item);
    RegionHashEntry* after = nullptr;
    for (RegionHashEntry* e = table->buckets[b]; e; e = e->next) {
        int c = e->item ? table->compare(item, e->item) : 1;
        if (c == 0) {
            std::fputs("Found duplicate\n", stdout);
            return ok();
        }
        if (c < 0)
            break;
        after = e;
    }
    RegionHashEntry* n = static_cast<RegionHashEntry*>(std::calloc(1, sizeof(RegionHashEntry)));
    if (!n)
        return RegionStatus_outOfMemory("hash element");
    n->item = item;
    if (after) {
        n->next = after->next;
        n->previous = after;
        if (after->next)
            after->next->previous = n;
        after->next = n;
    } else {
        n->next = table->buckets[b];
        if (n->next)
            n->next->previous = n;
        table->buckets[b] = n;
    }
    table->count++;
    table->cachedEntry = nullptr;
    return ok();
}

RegionStatus* RegionHash_remove(RegionHash* table, const void* item)
{
    if (!table)
        return failText(100007, "Invalid Hash Table");
    if (!item)
        return failText(100007, "Invalid Entry.");
    RegionHashEntry* e = locate(table, item);
    if (!e)
        return failText(800000, "No match");
    unlink(table, bucketOf(table, e->item), e);
    table->cachedEntry = nullptr;
    return ok();
}

void* RegionHash_find(RegionHash* table, const void* item, RegionStatus** status)
{
    RegionStatus* s;
    void* found = nullptr;
    if (!table)
        s = failText(2, "Invalid hash table");
    else if (!item)
        s = failText(100007, "Invalid Entry.");
    else {
        RegionHashEntry* e = locate(table, item);
        if (e) {
            found = e->item;
            s = ok();
        } else {
            s = failText(800000, "No match");
        }
    }
    if (status)
        *status = s;
    return found;
}

unsigned RegionHash_count(const RegionHash* table, RegionStatus** status)
{
    if (!table) {
        RegionStatus* s = failText(2, "Invalid hash table");
        if (status)
            *status = s;
        return 0;
    }
    if (status)
        *status = ok();
    return table->count;
}

// Visits bucket by bucket in chain order. A visitor drops an element by
// clearing the item of the entry it is given; such entries are freed here,
// and the cached entry is forgotten with them.
RegionStatus* RegionHash_forEach(RegionHash* table, RegionHashVisitor visit, void* argument)
{
    if (!table)
        return failText(2, "Invalid hash table");
    if (!visit)
        return failText(3, "Function is missing");
    for (unsigned b = 0; b < table->bucketCount; ++b) {
        RegionHashEntry* e = table->buckets[b];
        while (e) {
            if (!e->item) {
                RegionHashEntry* next = e->next;
                unlink(table, b, e);
                e = next;
                continue;
            }
            RegionStatus* s = visit(e, &argument);
            RegionHashEntry* next = e->next;
            if (!e->item)
                unlink(table, b, e);
            if (isError(s))
                return s;
            e = next;
        }
    }
    return ok();
}

}  // extern "C"
