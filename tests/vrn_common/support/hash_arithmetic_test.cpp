// The hash containers compute their default hashes without division
// instructions. These tests hold that arithmetic to the plain rule with `%`:
// any difference would move keys to other buckets and so change iteration
// orders that stored files keep.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "support/hash_chain.h"
#include "support/hash_set.h"
#include "support/hash_table.h"
#include "support/memory.h"

namespace {

using vrn::hashchain::kPrimes;

// The string hash as written down: wrapping 32-bit arithmetic, two
// remainders per byte, bytes taken as signed.
int referenceHash(const std::string& key, int n) {
    if (n < 1) return 0;
    const uint32_t un = static_cast<uint32_t>(n);
    if (un == 1) return 0;
    uint32_t h = 0, a = 31415;
    for (char ch : key) {
        const uint32_t c = static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(ch)));
        h = (a * h + c) % un;
        a = (a * 27183u) % (un - 1);
    }
    return static_cast<int>(h);
}

// Distinct keys of 0 to 80 bytes (past the multipliers kept per prime),
// every byte 1..255 so that half of them are negative as signed chars.
std::vector<std::string> randomKeys(int count, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> length(0, 80);
    std::uniform_int_distribution<int> byte(1, 255);
    // Runs of the highest and lowest bytes drive the products to their limits.
    std::vector<std::string> keys = {"", std::string(40, '\xFF'), std::string(40, '\x80'),
                                     std::string(40, '\x7F'), std::string(40, '\x01')};
    std::set<std::string> seen(keys.begin(), keys.end());
    while (static_cast<int>(keys.size()) < count) {
        std::string key(static_cast<size_t>(length(random)), ' ');
        for (char& ch : key) ch = static_cast<char>(byte(random));
        if (seen.insert(key).second) keys.push_back(key);
    }
    return keys;
}

TEST(HashArithmetic, RemainderByReciprocalIsExactForEveryPrimeAndItsPredecessor) {
    using namespace vrn::hashchain;
    std::mt19937 random(7);
    std::uniform_int_distribution<uint32_t> any;
    std::vector<uint32_t> divisors = {1, 2, 3, 7, 65536, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu};
    for (int p : kPrimes) {
        divisors.push_back(static_cast<uint32_t>(p));
        divisors.push_back(static_cast<uint32_t>(p) - 1);
    }
    for (uint32_t d : divisors) {
        const uint64_t magic = modMagic(d);
        std::vector<uint32_t> xs = {0, 1, d - 1, d, 0xFFFFFFFFu, 0xFFFFFFFEu, 0x80000000u};
        for (uint64_t m = d; m <= 0xFFFFFFFFull; m += (0xFFFFFFFFull / d / 64 + 1) * d) {
            xs.push_back(static_cast<uint32_t>(m - 1));
            xs.push_back(static_cast<uint32_t>(m));
            if (m + 1 <= 0xFFFFFFFFull) xs.push_back(static_cast<uint32_t>(m + 1));
        }
        for (int i = 0; i < 20000; ++i) xs.push_back(any(random));
        for (uint32_t x : xs) ASSERT_EQ(modBy(x, magic, d), x % d) << x << " mod " << d;
    }
}

TEST(HashArithmetic, StringHashMatchesThePlainRuleOverEveryPrimeAndOtherSizes) {
    const std::vector<std::string> keys = randomKeys(3000, 11);
    std::vector<int> sizes(std::begin(kPrimes), std::end(kPrimes));
    // Sizes that are no prime of the table take the general path.
    for (int n : {1, 2, 3, 4, 12, 14, 100, 65536, 1000003, 2147483646, 1073741824}) sizes.push_back(n);
    for (int n : sizes)
        for (const std::string& key : keys)
            ASSERT_EQ(HashTable_hashString(key.c_str(), n), referenceHash(key, n))
                << "n = " << n << ", key length " << key.size();
    EXPECT_EQ(HashTable_hashString("abc", 0), 0);
    EXPECT_EQ(HashTable_hashString("abc", -13), 0);
}

// Inserts go through the containers' inline hashing, not the public routine:
// after growth and shrinking every entry must sit in the bucket the plain rule
// gives for the current size.
TEST(HashArithmetic, TableEntriesSitInThePlainRulesBucketAtEverySize) {
    const std::vector<std::string> keys = randomKeys(2500, 23);
    HashTable* table = HashTable_new(0, nullptr, nullptr);
    auto check = [&] {
        int seen = 0;
        for (int b = 0; b < table->n; ++b)
            for (HashTableEntry* e = table->buckets[b]; e; e = e->next, ++seen)
                ASSERT_EQ(b, referenceHash(static_cast<const char*>(e->key), table->n));
        ASSERT_EQ(seen, table->count);
    };
    std::vector<int> sizesSeen;
    for (size_t i = 0; i < keys.size(); ++i) {
        HashTable_newHashEntry(table, const_cast<char*>(keys[i].c_str()),
                               reinterpret_cast<void*>(i + 1));
        if (sizesSeen.empty() || sizesSeen.back() != table->n) {
            sizesSeen.push_back(table->n);
            check();
        }
    }
    check();
    for (size_t i = 0; i < keys.size(); ++i) {
        // A copy of the text, so that equality cannot rest on the pointer.
        const std::string copy = keys[i];
        void* stored = nullptr;
        ASSERT_EQ(HashTable_lookup(table, copy.c_str(), &stored, nullptr), 1);
        ASSERT_EQ(std::string(static_cast<const char*>(stored)), keys[i]);
        ASSERT_EQ(HashTable_get(table, keys[i].c_str()), reinterpret_cast<void*>(i + 1));
    }
    EXPECT_EQ(HashTable_get(table, "a key that was never stored"), nullptr);
    for (const std::string& key : keys) {
        const std::string copy = key;
        ASSERT_EQ(HashTable_remove(table, copy.c_str()), 1);
        if (sizesSeen.back() != table->n) {
            sizesSeen.push_back(table->n);
            check();
        }
    }
    EXPECT_EQ(table->count, 0);
    EXPECT_GE(sizesSeen.size(), 5u);  // 13, 31, 61, ... and back down
    HashTable_delete(table);
}

TEST(HashArithmetic, SetEntriesSitAtTheirAddressModuloTheSize) {
    HashSet* set = HashSet_new(0);
    std::mt19937_64 random(5);
    std::vector<uintptr_t> keys;
    for (int i = 0; i < 2000; ++i) keys.push_back(static_cast<uintptr_t>(random()) | 1u);
    keys.push_back(UINTPTR_MAX);
    for (uintptr_t key : keys) HashSet_newHashEntry(set, reinterpret_cast<void*>(key));
    EXPECT_EQ(set->n, 1021);
    for (int b = 0; b < set->n; ++b)
        for (HashSetEntry* e = set->buckets[b]; e; e = e->next)
            ASSERT_EQ(static_cast<uint32_t>(b), static_cast<uint32_t>(reinterpret_cast<uintptr_t>(e->key)) %
                                                     static_cast<uint32_t>(set->n));
    for (uintptr_t key : keys) ASSERT_EQ(HashSet_remove(set, reinterpret_cast<void*>(key)), 1);
    EXPECT_EQ(set->count, 0);
    HashSet_delete(set);
}

// Searches pass stored keys whose digest (length and last bytes) differs
// without reading them; keys with equal digests must still be told apart,
// whichever routines the table was given.
int firstByteHash(const void* key, int n) { return *static_cast<const char*>(key) % n; }
int sameFirstByte(const void* storedKey, const void* key) {
    return *static_cast<const char*>(storedKey) == *static_cast<const char*>(key);
}

TEST(HashArithmetic, KeysWithEqualDigestsAreToldApartUnderEveryRoutineChoice) {
    std::vector<std::string> keys = {"", "a", "ab", "abc", "\x80", "\x80\x80"};
    for (char c = 'a'; c <= 'z'; ++c) keys.push_back(std::string(1, c) + "-same-tail");
    struct Choice {
        HashTable_HashFunction hash;
        HashTable_EqualsFunction equals;
    };
    for (Choice choice : {Choice{nullptr, nullptr}, Choice{firstByteHash, nullptr}}) {
        HashTable* table = HashTable_new(0, choice.hash, choice.equals);
        for (size_t i = 0; i < keys.size(); ++i)
            HashTable_newHashEntry(table, const_cast<char*>(keys[i].c_str()),
                                   reinterpret_cast<void*>(i + 1));
        for (size_t i = 0; i < keys.size(); ++i) {
            const std::string copy = keys[i];
            ASSERT_EQ(HashTable_get(table, copy.c_str()), reinterpret_cast<void*>(i + 1)) << i;
        }
        EXPECT_EQ(HashTable_get(table, "0-same-tail"), nullptr);
        EXPECT_EQ(HashTable_get(table, "b-same-tai"), nullptr);
        EXPECT_EQ(HashTable_remove(table, std::string("q-same-tail").c_str()), 1);
        EXPECT_EQ(HashTable_get(table, "q-same-tail"), nullptr);
        EXPECT_EQ(HashTable_get(table, "r-same-tail"), reinterpret_cast<void*>(6 + 18));
        HashTable_delete(table);
    }
    // A caller's equality decides alone: here any key with the same first
    // byte is equal, whatever its digest.
    HashTable* table = HashTable_new(0, firstByteHash, sameFirstByte);
    HashTable_newHashEntry(table, const_cast<char*>("k-one"), reinterpret_cast<void*>(1));
    EXPECT_EQ(HashTable_get(table, "k-a-much-longer-key"), reinterpret_cast<void*>(1));
    HashTable_delete(table);
}

// Resizing re-links large sets in several passes; the order must stay that
// of the plain walk: old buckets upward, each chain from its head, every
// entry pushed on its new chain's head.
TEST(HashArithmetic, LargeSetKeepsThePlainReLinkOrderThroughResizes) {
    struct SetModel {
        int index = 0;
        std::vector<std::vector<uintptr_t>> buckets = std::vector<std::vector<uintptr_t>>(13);
        int n() const { return kPrimes[index]; }
        size_t bucket(uintptr_t key) const {
            return static_cast<uint32_t>(key) % static_cast<uint32_t>(n());
        }
        void rehash(int step) {
            auto old = std::move(buckets);
            index += step;
            buckets.assign(static_cast<size_t>(n()), {});
            for (auto& chain : old)
                for (auto it = chain.rbegin(); it != chain.rend(); ++it)  // head is at the back
                    buckets[bucket(*it)].push_back(*it);
        }
        std::vector<uintptr_t> order() const {
            std::vector<uintptr_t> out;
            for (auto& chain : buckets) out.insert(out.end(), chain.rbegin(), chain.rend());
            return out;
        }
    } model;
    HashSet* set = HashSet_new(0);
    std::mt19937 random(3);
    int count = 0;
    for (int i = 0; i < 5000; ++i) {
        const uintptr_t key = random();
        if (count > 3 * model.n()) model.rehash(+1);
        model.buckets[model.bucket(key)].push_back(key);
        ++count;
        HashSet_newHashEntry(set, reinterpret_cast<void*>(key));
    }
    ASSERT_EQ(set->n, model.n());
    void** array = nullptr;
    ASSERT_EQ(HashSet_toArray(set, &array), count);
    std::vector<uintptr_t> got;
    for (int i = 0; i < count; ++i) got.push_back(reinterpret_cast<uintptr_t>(array[i]));
    vrnFree(array, "test");
    EXPECT_EQ(got, model.order());
    HashSet_delete(set);
}

}  // namespace
