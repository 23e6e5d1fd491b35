#include "orv_test_util.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <set>
#include <string>

using namespace orvtest;

namespace {

// The hash written out plainly in 64-bit arithmetic, wrapped to 32 bits.
uint32_t referenceHash(uint32_t m, const std::string& key)
{
    if (key.empty())
        return 0;
    int32_t h = 0, a = 31415;
    for (unsigned char byte : key) {
        int32_t c = static_cast<signed char>(byte);
        if (c >= 126)
            c = 0;
        int32_t t = static_cast<int32_t>(static_cast<uint32_t>(int64_t(a) * h + c));
        h = t % int32_t(m);
        if (h < 0)
            h = -h;
        a = static_cast<int32_t>(static_cast<uint32_t>(int64_t(a) * 27183)) % int32_t(m - 1);
    }
    return uint32_t(h);
}

}  // namespace

TEST(OrvHash, TableSizesFollowThePrimeScale)
{
    testing::internal::CaptureStderr();
    EXPECT_EQ(orvHashTableSize(1), 41u);
    EXPECT_EQ(orvHashTableSize(41), 41u);
    EXPECT_EQ(orvHashTableSize(42), 127u);
    EXPECT_EQ(orvHashTableSize(12351968), 12351967u);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    testing::internal::CaptureStderr();
    EXPECT_EQ(orvHashTableSize(2000000000u), 12351967u);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("WARNING: requested table size is much larger"),
              std::string::npos);
    OrvHash* t = orvHashCreate(1);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->size, 41u);
    orvHashDestroy(t);
}

TEST(OrvHash, SizeWarningOnlyAboveAHundredTimesTheLargest)
{
    const uint32_t largest = 12351967;
    testing::internal::CaptureStderr();
    EXPECT_EQ(orvHashTableSize(100 * largest), largest);
    EXPECT_EQ(orvHashTableSize(101 * largest - 1), largest);  // quotient still 100
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    testing::internal::CaptureStderr();
    EXPECT_EQ(orvHashTableSize(101 * largest), largest);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "WARNING: requested table size is much larger than the maximum-sized available table, "
              "forcing poor hash table performance.  Please increase the orvPrimeScale[] table.\n");
}

// A table grows when a third of its entries (with those reserved) exceeds
// its size, to the smallest prime not below twice that third.
TEST(OrvHash, GrowsAboveThreeEntriesPerBucketToTwiceTheThird)
{
    OrvHash* t = orvHashCreate(1);
    ASSERT_TRUE(t);
    // 123 / 3 = 41 = size: not yet.
    ASSERT_EQ(orvHashReserve(t, 125), 1);
    EXPECT_EQ(t->size, 41u);
    // 192 / 3 = 64 > 41: twice 64 is 128, whose prime is 163 (211 for three
    // times 64).
    ASSERT_EQ(orvHashReserve(t, 192), 1);
    EXPECT_EQ(t->size, 163u);
    // Reserving again what is already there changes nothing.
    ASSERT_EQ(orvHashReserve(t, 192), 1);
    EXPECT_EQ(t->size, 163u);
    orvHashDestroy(t);

    // Inserting: the 127th key finds 126 entries, 42 per third, and grows
    // the table to the prime of 84; every key stays reachable.
    t = orvHashCreate(1);
    std::vector<std::string> keys;
    for (int i = 0; i < 127; ++i) {
        keys.push_back("/T:n" + std::to_string(i));
        ASSERT_EQ(orvHashInsert(t, keys.back().c_str(), &keys), 1);
        EXPECT_EQ(t->size, i < 126 ? 41u : 127u) << i;
    }
    for (const std::string& k : keys)
        EXPECT_EQ(orvHashLookup(t, k.c_str()), &keys) << k;
    orvHashDestroy(t);
}

TEST(OrvHash, HashValuesMatchTheDefinition)
{
    EXPECT_EQ(orvHashString(41, "abc"), 19u);
    EXPECT_EQ(orvHashString(41, "/"), 6u);
    EXPECT_EQ(orvHashString(41, ""), 0u);
    // 0xE9 is the signed char -23: |(-23) rem 41| = 23.
    EXPECT_EQ(orvHashString(41, "\xE9"), 23u);
    // 126 and 127 count as 0.
    EXPECT_EQ(orvHashString(41, "\x7e"), 0u);
    EXPECT_EQ(orvHashString(41, "a\x7f"), orvHashString(41, "a\x7e"));
    std::mt19937 rng(7);
    const uint32_t sizes[] = {41, 127, 9739, 1060991, 12351967};
    for (uint32_t m : sizes)
        for (int i = 0; i < 2000; ++i) {
            std::string key(1 + rng() % 60, ' ');
            for (char& c : key)
                c = static_cast<char>(1 + rng() % 255);
            ASSERT_EQ(orvHashString(m, key.c_str()), referenceHash(m, key)) << m;
        }
}

TEST(OrvHash, ManyInsertsWithHeadAndMiddleRemovalsKeepSurvivors)
{
    OrvHash* t = orvHashCreate(1);
    ASSERT_TRUE(t);
    const int n = 50000;
    std::vector<std::string> keys;
    for (int i = 0; i < n; ++i) {
        keys.push_back("/REGION:r" + std::to_string(i) + "/k");
        ASSERT_EQ(orvHashInsert(t, keys.back().c_str(), reinterpret_cast<void*>(intptr_t(i + 1))), 1);
    }
    EXPECT_EQ(t->numEntries, uint32_t(n));
    EXPECT_GT(t->size, uint32_t(n) / 6);  // grown while inserting
    // Remove the head of every bucket and a middle entry of every chain of
    // three or more.
    std::set<std::string> removed;
    for (uint32_t b = 0; b < t->size; ++b) {
        OrvHashEntry* head = &t->buckets[b];
        if (!head->key)
            continue;
        std::string headKey = head->key;
        std::string middle = head->next && head->next->key && head->next->next && head->next->next->key
                                 ? head->next->key
                                 : "";
        void* v = nullptr;
        ASSERT_EQ(orvHashRemove(t, headKey.c_str(), &v), 1);
        removed.insert(headKey);
        if (!middle.empty()) {
            ASSERT_EQ(orvHashRemove(t, middle.c_str(), &v), 1);
            removed.insert(middle);
        }
    }
    EXPECT_EQ(t->numEntries, uint32_t(n - removed.size()));
    for (int i = 0; i < n; ++i) {
        void* v = orvHashLookup(t, keys[i].c_str());
        if (removed.count(keys[i]))
            EXPECT_EQ(v, nullptr);
        else
            ASSERT_EQ(v, reinterpret_cast<void*>(intptr_t(i + 1))) << keys[i];
    }
    void* v = nullptr;
    EXPECT_EQ(orvHashRemove(t, removed.begin()->c_str(), &v), 0);
    orvHashDestroy(t);
}

TEST(OrvHash, PresentKeyReplacesValueAndChainOfThreeSurvivesHeadRemoval)
{
    OrvHash* t = orvHashCreate(1);
    // Three keys of one bucket.
    std::vector<std::string> same;
    for (int i = 0; same.size() < 3; ++i) {
        std::string k = "k" + std::to_string(i);
        if (orvHashString(41, k.c_str()) == 5)
            same.push_back(k);
    }
    int a = 1, b = 2, c = 3, d = 4;
    orvHashInsert(t, same[0].c_str(), &a);
    orvHashInsert(t, same[1].c_str(), &b);
    orvHashInsert(t, same[2].c_str(), &c);
    EXPECT_EQ(t->buckets[5].chainCount, 3u);
    orvHashInsert(t, same[1].c_str(), &d);
    EXPECT_EQ(t->numEntries, 3u);
    EXPECT_EQ(orvHashLookup(t, same[1].c_str()), &d);
    void* out = nullptr;
    ASSERT_EQ(orvHashRemove(t, same[0].c_str(), &out), 1);
    EXPECT_EQ(out, &a);
    EXPECT_EQ(orvHashLookup(t, same[1].c_str()), &d);
    EXPECT_EQ(orvHashLookup(t, same[2].c_str()), &c);
    EXPECT_EQ(t->buckets[5].chainCount, 2u);
    EXPECT_EQ(orvHashLookup(nullptr, "x"), nullptr);
    orvHashDestroy(t);
}

TEST(OrvSplit, ItemsEndAtCommasOutsideParentheses)
{
    auto split = [](const char* text) {
        char** items = nullptr;
        int n = -1;
        EXPECT_EQ(splitStringString(text, &items, &n), nullptr);
        auto out = take(items);
        EXPECT_EQ(int(out.size()), n);
        return out;
    };
    EXPECT_EQ(split("a, b"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(split("f(a, b), c"), (std::vector<std::string>{"f(a, b)", "c"}));
    EXPECT_EQ(split("a,,b"), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(split(")a,b"), (std::vector<std::string>{")a,b"}));
    EXPECT_EQ(split("  "), (std::vector<std::string>{""}));
}

TEST(OrvSplit, FailureLeavesTheCallersArrayAlone)
{
    OrvArray* arr = orvArrayCreate(ORV_ARRAY_STRINGS);
    orvArrayAppendCopy(arr, "keep");
    int n = 0;
    ASSERT_EQ(splitString(arr, "x, y", &n), nullptr);
    EXPECT_EQ(n, 2);
    EXPECT_EQ(orvArrayCount(arr), 3);
    // A refused split (wrong kind) must not free anything of the caller's.
    OrvArray* ints = orvArrayCreate(ORV_ARRAY_INTS);
    EXPECT_STREQ(splitString(ints, "a", &n), "splitString: failure to store string.\n");
    orvArrayDestroy(ints);
    orvArrayDestroy(arr);
}

TEST(OrvArray, CapacityDoublesWhenFull)
{
    for (int kind : {ORV_ARRAY_CHARS, ORV_ARRAY_STRINGS, ORV_ARRAY_INTS, ORV_ARRAY_POINTERS}) {
        OrvArray* a = orvArrayCreate(kind);
        ASSERT_TRUE(a);
        std::vector<int> capacities;
        for (int i = 0; i < 81; ++i) {
            int ok = 0;
            switch (kind) {
            case ORV_ARRAY_CHARS: ok = orvArrayAppendChar(a, 'c'); break;
            case ORV_ARRAY_STRINGS: ok = orvArrayAppendCopy(a, "s"); break;
            case ORV_ARRAY_INTS: ok = orvArrayAppendInt(a, i); break;
            default: ok = orvArenaAlloc(a, 8) != nullptr; break;
            }
            ASSERT_EQ(ok, 1);
            if (capacities.empty() || capacities.back() != a->capacity)
                capacities.push_back(a->capacity);
            // Full, a character array still has its spare slot closing the text.
            if (kind == ORV_ARRAY_CHARS && a->count == a->capacity) {
                EXPECT_EQ(std::strlen(static_cast<char*>(a->storage)), size_t(a->count));
            }
        }
        EXPECT_EQ(capacities, (std::vector<int>{10, 20, 40, 80, 160})) << kind;
        EXPECT_EQ(orvArrayCount(a), 81);

        orvArrayDestroy(a);
    }
}

TEST(OrvArray, KindsGrowDetachCopyAndArena)
{
    OrvArray* chars = orvArrayCreate(ORV_ARRAY_CHARS);
    for (char c : std::string(25, 'x'))
        ASSERT_EQ(orvArrayAppendChar(chars, c), 1);
    EXPECT_EQ(std::string(static_cast<char*>(chars->storage)), std::string(25, 'x'));
    EXPECT_EQ(orvArrayAppendCopy(chars, "no"), 0);  // wrong kind
    orvArrayDestroy(chars);

    OrvArray* ints = orvArrayCreate(ORV_ARRAY_INTS);
    for (int i = 0; i < 100; ++i)
        orvArrayAppendInt(ints, i);
    EXPECT_EQ(static_cast<int32_t*>(ints->storage)[99], 99);
    orvArrayDestroy(ints);

    OrvArray* s = orvArrayCreate(ORV_ARRAY_STRINGS);
    EXPECT_EQ(s->capacity, 10);
    for (int i = 0; i < 12; ++i)
        orvArrayAppendCopy(s, i == 3 ? nullptr : "ab");
    EXPECT_EQ(orvArrayCount(s), 12);
    EXPECT_EQ(s->totalLength, 22u);
    char** copies = orvArrayCopyStrings(s);
    EXPECT_EQ(copies[3], nullptr);
    EXPECT_STREQ(copies[11], "ab");
    orvFreeStringArrayN(copies, 12);
    for (int i = 12; i < 20; ++i)
        orvArrayAppendCopy(s, "ab");  // full: 20 of 20
    char** detached = orvArrayDetach(s);
    EXPECT_EQ(detached[20], nullptr);
    EXPECT_EQ(orvArrayCount(s), 0);
    EXPECT_EQ(orvArrayAppendCopy(s, "again"), 1);  // still usable
    orvFreeStringArrayN(detached, 20);
    orvArrayDestroy(s);

    OrvArray* arena = orvArrayCreate(ORV_ARRAY_POINTERS);
    for (int i = 0; i < 30; ++i)
        ASSERT_TRUE(orvArenaAlloc(arena, 64));
    orvArrayDestroy(arena);  // frees every block (checked by the leak checker)
}
