#include "region_hash.h"
#include "region_test_util.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

unsigned oneBucket(unsigned, const void*) { return 0; }
int byValue(const void* a, const void* b)
{
    auto x = reinterpret_cast<uintptr_t>(a), y = reinterpret_cast<uintptr_t>(b);
    return x == y ? 0 : (x < y ? -1 : 1);
}
void* item(uintptr_t v) { return reinterpret_cast<void*>(v); }

std::vector<uintptr_t> chain(const RegionHash* t)
{
    std::vector<uintptr_t> out;
    for (RegionHashEntry* e = t->buckets[0]; e; e = e->next)
        out.push_back(reinterpret_cast<uintptr_t>(e->item));
    return out;
}

}  // namespace

TEST(RegionHash, ChainsStaySortedAndDuplicatesAreKeptOut)
{
    RegionHash* t = nullptr;
    ASSERT_OK(RegionHash_new(&t, 1, oneBucket, byValue));
    for (uintptr_t v : {3, 1, 2})
        EXPECT_OK(RegionHash_insert(t, item(v)));
    EXPECT_EQ(chain(t), (std::vector<uintptr_t>{1, 2, 3}));
    testing::internal::CaptureStdout();
    EXPECT_OK(RegionHash_insert(t, item(2)));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Found duplicate\n");
    EXPECT_EQ(RegionHash_count(t, nullptr), 3u);
    RegionStatus* s = nullptr;
    EXPECT_EQ(RegionHash_find(t, item(2), &s), item(2));
    EXPECT_CODE(RegionHash_remove(t, item(9)), 800000);
    EXPECT_OK(RegionHash_remove(t, item(2)));
    EXPECT_EQ(RegionHash_find(t, item(2), &s), nullptr);
    EXPECT_CODE(s, 800000);
    EXPECT_EQ(chain(t), (std::vector<uintptr_t>{1, 3}));
    EXPECT_CODE(RegionHash_insert(nullptr, item(1)), 2);
    EXPECT_CODE(RegionHash_new(&t, 0, oneBucket, byValue), 2);
    RegionHash_delete(&t);
    EXPECT_EQ(t, nullptr);
}

TEST(RegionHash, VisitorDropsEntriesAndTheCacheForgetsThem)
{
    RegionHash* t = nullptr;
    ASSERT_OK(RegionHash_new(&t, 1, oneBucket, byValue));
    for (uintptr_t v = 1; v <= 6; ++v)
        RegionHash_insert(t, item(v));
    RegionStatus* s = nullptr;
    RegionHash_find(t, item(2), &s);  // caches the entry of 2
    int n = 0;
    auto dropEverySecond = [](RegionHashEntry* e, void** arg) -> RegionStatus* {
        int* count = static_cast<int*>(*arg);
        if ((*count)++ % 2)
            e->item = nullptr;
        return nullptr;
    };
    EXPECT_OK(RegionHash_forEach(t, dropEverySecond, &n));
    EXPECT_EQ(RegionHash_count(t, nullptr), 3u);
    EXPECT_EQ(chain(t), (std::vector<uintptr_t>{1, 3, 5}));
    EXPECT_EQ(RegionHash_find(t, item(2), &s), nullptr);
    EXPECT_CODE(RegionHash_forEach(t, nullptr, nullptr), 3);
    int visits = 0;
    auto stopAtThree = [](RegionHashEntry* e, void** arg) -> RegionStatus* {
        ++*static_cast<int*>(*arg);
        RegionStatus* s = nullptr;
        RegionStatus_set(&s, reinterpret_cast<uintptr_t>(e->item) == 3 ? 1 : 0, 900002, nullptr);
        return s;
    };
    EXPECT_CODE(RegionHash_forEach(t, stopAtThree, &visits), 900002);
    EXPECT_EQ(visits, 2);
    RegionHash_delete(&t);
}

TEST(RegionDictionary, KeysFollowInterningOrderThroughGrowth)
{
    unsigned key = 0;
    EXPECT_CODE(RegionDictionary_getText(1, nullptr), 8);
    std::vector<std::string> texts;
    for (int i = 0; i < 25000; ++i)
        texts.push_back("name " + std::to_string(i));
    for (size_t i = 0; i < texts.size(); ++i) {
        ASSERT_OK(RegionDictionary_intern(texts[i].c_str(), &key));
        ASSERT_EQ(key, i + 1);
        if (i == 10021) {
            EXPECT_EQ(RegionDictionary_capacity(), 10023u);
        }
        if (i == 10022) {
            EXPECT_EQ(RegionDictionary_capacity(), 20046u);
        }
    }
    EXPECT_EQ(RegionDictionary_capacity(), 30069u);
    for (size_t i = 0; i < texts.size(); ++i) {
        char* text = nullptr;
        ASSERT_OK(RegionDictionary_getText(static_cast<unsigned>(i + 1), &text));
        ASSERT_EQ(texts[i], text);
    }
    EXPECT_OK(RegionDictionary_intern("name 7", &key));
    EXPECT_EQ(key, 8u);
    EXPECT_EQ(RegionDictionary_count(), 25000u);
    char* text = nullptr;
    EXPECT_CODE(RegionDictionary_getText(0, &text), 800000);
    EXPECT_CODE(RegionDictionary_getText(25001, &text), 800000);
    EXPECT_CODE(RegionDictionary_lookup("never", &key), 800000);
    EXPECT_CODE(RegionDictionary_lookup("  ", &key), 800000);
    EXPECT_OK(RegionDictionary_lookup("name 24999", &key));
    EXPECT_EQ(key, 25000u);
    EXPECT_OK(RegionDictionary_intern("\xC3\x84rm", &key));
    EXPECT_EQ(key, 25001u);
}

TEST(RegionString, AppendsGrowTheText)
{
    RegionString* s = nullptr;
    ASSERT_OK(RegionString_new(&s, "a"));
    EXPECT_OK(RegionString_append(s, "bc"));
    EXPECT_OK(RegionString_append(s, ""));
    EXPECT_CODE(RegionString_append(s, nullptr), 3);
    EXPECT_STREQ(s->text, "abc");
    EXPECT_OK(RegionString_append(s, s->text));
    EXPECT_OK(RegionString_append(s, s->text + 4));
    EXPECT_STREQ(s->text, "abcabcbc");
    EXPECT_CODE(RegionString_append(nullptr, "x"), 100010);
    RegionString_delete(s, 1);
    ASSERT_OK(RegionString_new(&s, nullptr));
    EXPECT_OK(RegionString_append(s, "x"));
    EXPECT_STREQ(s->text, "x");
    RegionString_delete(s, 1);
}

TEST(RegionDictionary, HashFollowsItsFormulaForEveryTableSize)
{
    auto reference = [](unsigned m, const std::string& text) {
        uint32_t h = 0, a = 31415;
        if (m <= 1)
            return 0u;
        for (char ch : text) {
            uint32_t c = static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(ch)));
            h = (a * h + c) % m;
            a = (a * 27183u) % (m - 1);
        }
        return h;
    };
    std::vector<std::string> texts = {"a", "Lung", "\xC3\x84rm \xFF", std::string(5000, 'x') + "tail"};
    unsigned key = 0;
    for (const std::string& t : texts)
        RegionDictionary_intern(t.c_str(), &key);
    for (unsigned m : {2u, 3u, 10023u, 20046u, 65537u, 4294967291u}) {
        for (unsigned k = 1; k <= texts.size(); ++k) {
            void* slot = reinterpret_cast<void*>(static_cast<uintptr_t>(k));
            EXPECT_EQ(RegionDictionary_hash(m, slot), reference(m, texts[k - 1])) << m << " " << k;
            EXPECT_EQ(RegionDictionary_hash(m, slot), reference(m, texts[k - 1])) << "cached " << m;
        }
    }
    // Items that are no slot hash like an empty text.
    EXPECT_EQ(RegionDictionary_hash(10023, nullptr), 0u);
    EXPECT_EQ(RegionDictionary_hash(10023, reinterpret_cast<void*>(uintptr_t{1} << 40)), 0u);
}
