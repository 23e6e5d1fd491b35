#include "support/hash_table.h"

#include <gtest/gtest.h>

#include <climits>
#include <deque>
#include <string>
#include <vector>

#include "support/hash_chain.h"
#include "support/hash_set.h"
#include "support/memory.h"

namespace {

void* word(long v) { return reinterpret_cast<void*>(v); }

const int kPrimes[] = {13,       31,        61,        127,       251,        509,       1021,
                       2039,     4093,      8191,      16381,     32749,      65521,     131071,
                       262139,   524287,    1048573,   2097143,   4194301,    8388593,   16777213,
                       33554393, 67108859,  134217689, 268435399, 536870909, 1073741789,
                       2147483647};

// A plain model of the chained table: buckets as deques (front = chain
// head), growth when an insert finds count > 3n, shrink when a removal finds
// count < n/2, re-hash walking old buckets upward and each chain from its
// head, pushing on the new chain's head.
struct Model {
    int index;
    int count = 0;
    std::vector<std::deque<std::string>> buckets;

    explicit Model(int index_) : index(index_), buckets(kPrimes[index_]) {}
    int n() const { return kPrimes[index]; }
    int bucket(const std::string& key) const { return HashTable_hashString(key.c_str(), n()); }

    void rehash(int step) {
        int next = index + step;
        if (next < 0 || next > 27) return;
        std::vector<std::deque<std::string>> old;
        old.swap(buckets);
        index = next;
        buckets.assign(n(), {});
        for (auto& chain : old)
            for (auto& key : chain) buckets[bucket(key)].push_front(key);
    }
    void insert(const std::string& key) {
        if (count > 3 * n()) rehash(+1);
        buckets[bucket(key)].push_front(key);
        ++count;
    }
    bool remove(const std::string& key) {
        if (count < n() / 2 && index != 0) rehash(-1);
        auto& chain = buckets[bucket(key)];
        for (auto it = chain.begin(); it != chain.end(); ++it)
            if (*it == key) {
                chain.erase(it);
                --count;
                return true;
            }
        return false;
    }
    std::vector<std::string> order() const {
        std::vector<std::string> out;
        for (auto& chain : buckets) out.insert(out.end(), chain.begin(), chain.end());
        return out;
    }
};

std::vector<std::string> tableOrder(HashTable* table) {
    std::vector<std::string> out;
    HashTableIterator* it = HashTableIterator_new(table);
    for (Pair* p = HashTableIterator_first(it); p; p = HashTableIterator_next(it))
        out.push_back(static_cast<const char*>(p->first));
    HashTableIterator_delete(it);
    return out;
}

TEST(StringHash, KnownVectorsIncludingWrapAroundAndSignedBytes) {
    EXPECT_EQ(HashTable_hashString("abc", 13), 9);
    EXPECT_EQ(HashTable_hashString("abc", 31), 20);
    // With 2147483647 buckets the products overflow 32 bits and must wrap.
    EXPECT_EQ(HashTable_hashString("abc", 2147483647), 1353546566);
    EXPECT_EQ(HashTable_hashString("", 13), 0);
    EXPECT_EQ(HashTable_hashString("", 2147483647), 0);
    // U+00E9 in UTF-8 is C3 A9: both bytes enter the hash as negative values.
    EXPECT_EQ(HashTable_hashString("\xC3\xA9", 31), 23);
    EXPECT_EQ(HashTable_hashString("\xC3\xA9", 509), 17);
    EXPECT_EQ(HashTable_hashString("\xC3\xA9", 2147483647), 302370766);
    EXPECT_EQ(HashTable_hashString("\xC3\x9Cnit", 509), 109);
}

TEST(StringHash, NullKeysAndEqualityAreSafe) {
    EXPECT_EQ(HashTable_hashString(nullptr, 13), 0);
    EXPECT_TRUE(HashTable_stringEquals("x", "x"));
    EXPECT_FALSE(HashTable_stringEquals("x", "y"));
    EXPECT_FALSE(HashTable_stringEquals("x", nullptr));
    EXPECT_TRUE(HashTable_stringEquals(nullptr, nullptr));
}

TEST(HashSizes, FirstPrimeAboveTheRequestedSize) {
    HashSet* a = HashSet_new(0);
    HashSet* b = HashSet_new(12);
    HashSet* c = HashSet_new(13);
    HashTable* d = HashTable_new(500, nullptr, nullptr);
    HashTable* e = HashTable_new(-4, nullptr, nullptr);
    EXPECT_EQ(a->n, 13);
    EXPECT_EQ(b->n, 13);
    EXPECT_EQ(c->n, 31);
    EXPECT_EQ(c->index, 1);
    EXPECT_EQ(d->n, 509);
    EXPECT_EQ(d->shrinkAt, 254);
    EXPECT_EQ(d->growAt, 1527);
    EXPECT_EQ(e->n, 13);
    HashSet_delete(a);
    HashSet_delete(b);
    HashSet_delete(c);
    HashTable_delete(d);
    HashTable_delete(e);
}

TEST(HashSizes, SizeBeyondThePrimeSearchIsClampedNotOverrun) {
    using namespace vrn::hashchain;
    EXPECT_EQ(initialIndex(134217688), 23);
    EXPECT_EQ(initialIndex(134217689), 23);
    EXPECT_EQ(initialIndex(INT_MAX), 23);
    EXPECT_GE(maxIndex(), 23);
    EXPECT_LE((static_cast<long long>(kPrimes[maxIndex()]) + 1) * sizeof(void*),
              static_cast<long long>(INT_MAX));
}

TEST(HashSet, GrowsOnThe41stInsertInto13Buckets) {
    HashSet* set = HashSet_new(0);
    for (long i = 1; i <= 40; ++i) HashSet_newHashEntry(set, word(i));
    EXPECT_EQ(set->n, 13);
    EXPECT_EQ(HashSet_newHashEntry(set, word(41)), 41);
    EXPECT_EQ(set->n, 31);
    EXPECT_EQ(set->count, 41);
    HashSet_delete(set);
}

TEST(HashSet, ShrinksBeforeTheSearchOnRemove) {
    HashSet* set = HashSet_new(13);  // 31 buckets
    for (long i = 1; i <= 14; ++i) HashSet_newHashEntry(set, word(i));
    EXPECT_EQ(HashSet_remove(set, word(999)), 0);  // absent, yet the set shrinks
    EXPECT_EQ(set->n, 13);
    EXPECT_EQ(set->count, 14);
    HashSet_delete(set);

    HashSet* kept = HashSet_new(13);
    for (long i = 1; i <= 15; ++i) HashSet_newHashEntry(kept, word(i));
    EXPECT_EQ(HashSet_remove(kept, word(15)), 1);
    EXPECT_EQ(kept->n, 31);
    EXPECT_EQ(kept->count, 14);
    HashSet_delete(kept);
}

TEST(HashSet, DuplicateKeysAreStoredTwiceAndRemovedOneAtATime) {
    HashSet* set = HashSet_new(0);
    EXPECT_EQ(HashSet_newHashEntry(set, word(7)), 1);
    EXPECT_EQ(HashSet_newHashEntry(set, word(7)), 2);
    EXPECT_EQ(HashSet_remove(set, word(7)), 1);
    EXPECT_EQ(set->count, 1);
    EXPECT_EQ(HashSet_remove(set, word(7)), 1);
    EXPECT_EQ(HashSet_remove(set, word(7)), 0);
    HashSet_delete(set);
}

TEST(HashSet, ToArrayFollowsBucketsThenNewestFirst) {
    // Keys 1, 14, 2 over 13 buckets: 1 and 14 share bucket 1, 14 is newer.
    void* keys[] = {word(1), word(14), word(2)};
    HashSet* set = HashSet_newFromArray(3, keys);
    void** array = nullptr;
    ASSERT_EQ(HashSet_toArray(set, &array), 3);
    EXPECT_EQ(array[0], word(14));
    EXPECT_EQ(array[1], word(1));
    EXPECT_EQ(array[2], word(2));
    vrnFree(array, "test");
    HashSet_remove(set, word(1));
    HashSet_remove(set, word(14));
    HashSet_remove(set, word(2));
    array = reinterpret_cast<void**>(word(1));
    EXPECT_EQ(HashSet_toArray(set, &array), 0);
    EXPECT_EQ(array, nullptr);
    HashSet_delete(set);
}

TEST(HashSet, ResizeStopsAtBothEndsOfThePrimeTable) {
    HashSet* set = HashSet_new(0);
    HashSet_newHashEntry(set, word(5));
    EXPECT_EQ(HashSet_resize(set, -1), 0);
    EXPECT_EQ(set->n, 13);
    EXPECT_EQ(HashSet_resize(set, 3), 1);
    EXPECT_EQ(set->n, 127);
    EXPECT_EQ(HashSet_resize(set, -10), 1);  // clamped to the first prime
    EXPECT_EQ(set->n, 13);
    EXPECT_EQ(set->count, 1);
    EXPECT_EQ(HashSet_remove(set, word(5)), 1);
    HashSet_delete(set);
}

TEST(HashTable, LookupGetAndRemove) {
    HashTable* table = HashTable_new(0, nullptr, nullptr);
    char keyA[] = "alpha";
    HashTable_newHashEntry(table, keyA, word(1));
    std::string probe = "alpha";  // equal text, other address
    EXPECT_EQ(HashTable_get(table, probe.c_str()), word(1));
    void* storedKey = word(9);
    void* value = word(9);
    EXPECT_EQ(HashTable_lookup(table, probe.c_str(), &storedKey, &value), 1);
    EXPECT_EQ(storedKey, keyA);
    EXPECT_EQ(value, word(1));
    storedKey = value = word(9);
    EXPECT_EQ(HashTable_lookup(table, "beta", &storedKey, &value), 0);
    EXPECT_EQ(storedKey, word(9));
    EXPECT_EQ(value, word(9));
    EXPECT_EQ(HashTable_get(table, "beta"), nullptr);
    EXPECT_EQ(HashTable_remove(table, "alpha"), 1);
    EXPECT_EQ(HashTable_remove(table, "alpha"), 0);
    EXPECT_EQ(table->count, 0);
    HashTable_delete(table);
}

TEST(HashTable, RemovedEntriesAreRecycledThroughTheFreeList) {
    HashTable* table = HashTable_new(0, nullptr, nullptr);
    HashTable_newHashEntry(table, const_cast<char*>("a"), word(1));
    HashTableEntry* entry = table->buckets[HashTable_hashString("a", 13)];
    HashTable_remove(table, "a");
    EXPECT_EQ(table->buckets[13], entry);
    HashTable_newHashEntry(table, const_cast<char*>("b"), word(2));
    EXPECT_EQ(table->buckets[13], nullptr);
    EXPECT_EQ(table->buckets[HashTable_hashString("b", 13)], entry);
    EXPECT_EQ(entry->value, word(2));
    HashTable_delete(table);  // the sanitizer run checks that nothing leaks
}

TEST(HashTable, CallerHashAndEqualityAreUsedAndOutOfRangeHashesAreContained) {
    auto badHash = [](const void* key, int n) -> int {
        return static_cast<int>(reinterpret_cast<long>(key)) * 1000 + n;
    };
    auto sameParity = [](const void* a, const void* b) -> int {
        return (reinterpret_cast<long>(a) & 1) == (reinterpret_cast<long>(b) & 1);
    };
    HashTable* table = HashTable_new(0, badHash, sameParity);
    for (long i = 1; i <= 50; ++i) HashTable_newHashEntry(table, word(i), word(i * 10));
    EXPECT_EQ(table->n, 31);
    void* stored = nullptr;
    EXPECT_EQ(HashTable_lookup(table, word(1), &stored, nullptr), 1);
    EXPECT_EQ(reinterpret_cast<long>(stored) & 1, 1);
    EXPECT_NE(HashTable_get(table, word(2)), nullptr);
    HashTable_delete(table);
}

TEST(HashTableIterator, EmptyTableAndEndedWalksGiveNull) {
    HashTable* table = HashTable_new(0, nullptr, nullptr);
    HashTableIterator* it = HashTableIterator_new(table);
    EXPECT_EQ(HashTableIterator_first(it), nullptr);
    EXPECT_EQ(HashTableIterator_next(it), nullptr);
    HashTable_newHashEntry(table, const_cast<char*>("k"), word(3));
    Pair* p = HashTableIterator_first(it);
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(static_cast<const char*>(p->first), "k");
    EXPECT_EQ(p->second, word(3));
    EXPECT_EQ(HashTableIterator_next(it), nullptr);
    EXPECT_EQ(HashTableIterator_next(it), nullptr);
    EXPECT_EQ(HashTableIterator_first(it), p);  // the same Pair, refilled
    HashTableIterator_delete(it);
    HashTable_delete(table);
}

TEST(HashTableIterator, OrderMatchesTheModelThroughGrowthAndShrink) {
    HashTable* table = HashTable_new(0, nullptr, nullptr);
    Model model(0);
    std::vector<std::string> keys;
    for (int i = 0; i < 700; ++i) keys.push_back("key" + std::to_string(i * 7919 % 1000));
    for (auto& k : keys) {
        HashTable_newHashEntry(table, const_cast<char*>(k.c_str()), nullptr);
        model.insert(k);
        if (model.count % 97 == 0) {
            ASSERT_EQ(table->n, model.n());
            ASSERT_EQ(tableOrder(table), model.order());
        }
    }
    EXPECT_EQ(table->n, 251);  // 13 -> 31 -> 61 -> 127 -> 251
    EXPECT_EQ(tableOrder(table), model.order());

    // Remove most keys again, in another order, shrinking step by step.
    for (size_t i = 0; i < keys.size(); i += 1) {
        const std::string& k = keys[(i * 331) % keys.size()];
        EXPECT_EQ(HashTable_remove(table, k.c_str()) == 1, model.remove(k));
        if (model.count < 40) break;
    }
    EXPECT_EQ(table->n, model.n());
    EXPECT_LT(table->n, 251);
    EXPECT_EQ(tableOrder(table), model.order());

    // Grow again: recycled entries must not disturb the order.
    for (int i = 0; i < 300; ++i) {
        keys.push_back("again" + std::to_string(i));
        HashTable_newHashEntry(table, const_cast<char*>(keys.back().c_str()), nullptr);
        model.insert(keys.back());
    }
    EXPECT_EQ(table->n, model.n());
    EXPECT_EQ(table->count, model.count);
    EXPECT_EQ(tableOrder(table), model.order());
    HashTable_delete(table);
}

}  // namespace

