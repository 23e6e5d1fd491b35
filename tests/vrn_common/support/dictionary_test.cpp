#include "support/dictionary.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "debug/debug_manager.h"
#include "support/memory.h"
#include "test_support.h"

namespace {

void* word(long v) { return reinterpret_cast<void*>(v); }

char* owned(const char* text) {
    char* copy = static_cast<char*>(vrnMalloc(static_cast<int>(std::strlen(text) + 1), "test"));
    std::strcpy(copy, text);
    return copy;
}

// Counts the bytes held through the tagged allocator while it lives, so a
// test can check that a sequence of calls gives back everything it took.
class HeldBytes {
public:
    HeldBytes() : monitor_(MemoryMonitor_new(dir_.file("memory.log").c_str())) {
        // The debug manager, made on first use by any traced call, holds its
        // record for the whole process: make it before counting starts.
        vrnDebug_isActive();
        previous_ = vrnMemory_setMonitor(monitor_);
    }
    ~HeldBytes() {
        vrnMemory_setMonitor(previous_);
        MemoryMonitor_delete(monitor_);
    }
    int total() const { return monitor_->total; }

private:
    vrntest::TempDir dir_;
    MemoryMonitor* monitor_;
    MemoryMonitor* previous_ = nullptr;
};

std::string unique(Dictionary* dict, const char* base, int reserve, int counter) {
    char* key = owned(base);
    EXPECT_EQ(Dictionary_makeKeyUnique(dict, &key, reserve, counter), 1);
    std::string result = key;
    vrnFree(key, "test");
    return result;
}

TEST(Dictionary, AddingAnExistingKeyReplacesItsEntry) {
    Dictionary* dict = Dictionary_new(1);
    char key[] = "A";
    EXPECT_EQ(Dictionary_add(dict, key, word(1)), 1);
    EXPECT_EQ(Dictionary_add(dict, "A", word(2)), 1);
    EXPECT_EQ(Dictionary_getSize(dict), 1);
    EXPECT_EQ(Dictionary_contains(dict, "A"), word(2));
    char* stored = nullptr;
    EXPECT_EQ(Dictionary_find(dict, "A", &stored, nullptr), 1);
    EXPECT_NE(stored, key);  // the dictionary keeps its own copy
    Dictionary_delete(dict);

    Dictionary* borrowed = Dictionary_new(0);
    Dictionary_add(borrowed, key, word(1));
    EXPECT_EQ(Dictionary_find(borrowed, "A", &stored, nullptr), 1);
    EXPECT_EQ(stored, key);
    Dictionary_delete(borrowed);
}

TEST(Dictionary, CopiedKeysReAddedRemovedAndClearedLeakNothing) {
    HeldBytes held;
    const int before = held.total();
    Dictionary* dict = Dictionary_new(1);
    for (int round = 0; round < 3; ++round)
        for (int i = 0; i < 600; ++i) {  // enough to grow past 509 buckets
            std::string key = "name" + std::to_string(i);
            Dictionary_add(dict, key.c_str(), word(i + 1));
        }
    EXPECT_EQ(Dictionary_getSize(dict), 600);
    EXPECT_EQ(dict->table->n, 509);
    for (int i = 0; i < 600; i += 2)
        EXPECT_EQ(Dictionary_remove(dict, ("name" + std::to_string(i)).c_str()), 1);
    EXPECT_EQ(Dictionary_remove(dict, "name0"), 0);
    EXPECT_EQ(Dictionary_getSize(dict), 300);
    EXPECT_EQ(Dictionary_clear(dict), 1);
    EXPECT_EQ(Dictionary_getSize(dict), 0);
    EXPECT_EQ(Dictionary_contains(dict, "name1"), nullptr);
    Dictionary_add(dict, "again", word(1));
    Dictionary_delete(dict);
    EXPECT_EQ(held.total(), before);
}

TEST(Dictionary, ReAddingTheStoredKeyItselfReplacesItsValue) {
    // Updating a value through the key that find or an iterator handed out:
    // with copied keys that key is the one the replacement frees.
    Dictionary* dict = Dictionary_new(1);
    Dictionary_add(dict, "Shell", word(1));
    char* stored = nullptr;
    ASSERT_EQ(Dictionary_find(dict, "Shell", &stored, nullptr), 1);
    EXPECT_EQ(Dictionary_add(dict, stored, word(2)), 1);
    void* value = nullptr;
    ASSERT_EQ(Dictionary_find(dict, "Shell", &stored, &value), 1);
    EXPECT_STREQ(stored, "Shell");
    EXPECT_EQ(value, word(2));

    DictionaryIterator* it = DictionaryIterator_new(dict);
    Pair* pair = DictionaryIterator_first(it);
    ASSERT_NE(pair, nullptr);
    char* fromIterator = static_cast<char*>(pair->first);
    DictionaryIterator_delete(it);
    EXPECT_EQ(Dictionary_add(dict, fromIterator, word(3)), 1);
    EXPECT_EQ(Dictionary_contains(dict, "Shell"), word(3));
    Dictionary_delete(dict);
}

TEST(Dictionary, FindTellsPresenceWhereContainsCannot) {
    Dictionary* dict = Dictionary_new(1);
    Dictionary_add(dict, "empty", nullptr);
    EXPECT_EQ(Dictionary_contains(dict, "empty"), nullptr);
    void* value = word(5);
    EXPECT_EQ(Dictionary_find(dict, "empty", nullptr, &value), 1);
    EXPECT_EQ(value, nullptr);
    EXPECT_EQ(Dictionary_find(dict, "missing", nullptr, nullptr), 0);
    Dictionary_delete(dict);
}

TEST(Dictionary, IteratorVisitsEveryEntryOnce) {
    Dictionary* dict = Dictionary_new(1);
    for (int i = 0; i < 40; ++i) Dictionary_add(dict, ("k" + std::to_string(i)).c_str(), word(i + 1));
    DictionaryIterator* it = DictionaryIterator_new(dict);
    std::vector<int> seen(40, 0);
    for (Pair* p = DictionaryIterator_first(it); p; p = DictionaryIterator_next(it)) {
        int i = std::stoi(static_cast<const char*>(p->first) + 1);
        EXPECT_EQ(p->second, word(i + 1));
        ++seen[i];
    }
    EXPECT_EQ(seen, std::vector<int>(40, 1));
    DictionaryIterator_delete(it);
    Dictionary_delete(dict);
}

TEST(DictionaryMakeKeyUnique, AppendsTheFirstFreeCounter) {
    Dictionary* dict = Dictionary_new(1);
    EXPECT_EQ(unique(dict, "Box", 0, 1), "Box");
    EXPECT_EQ(unique(dict, "Box", 1, 1), "Box 1");
    Dictionary_add(dict, "Box", word(1));
    Dictionary_add(dict, "Box 1", word(2));
    EXPECT_EQ(unique(dict, "Box", 0, 1), "Box 2");
    EXPECT_EQ(unique(dict, "Box", 1, 1), "Box 2");
    EXPECT_EQ(unique(dict, "Box", 0, 5), "Box 5");
    EXPECT_EQ(Dictionary_getSize(dict), 2);  // only the caller adds
    Dictionary_delete(dict);
}

TEST(DictionaryMakeKeyUnique, CounterGoesOnPastTheLargestInt) {
    // A counter started at the top of the int range must not wrap (or
    // overflow) on its way to the next free name.
    Dictionary* dict = Dictionary_new(1);
    Dictionary_add(dict, "Box", word(1));
    Dictionary_add(dict, "Box 2147483647", word(2));
    EXPECT_EQ(unique(dict, "Box", 0, 2147483647), "Box 2147483648");
    EXPECT_EQ(unique(dict, "Box", 1, 2147483647), "Box 2147483648");
    Dictionary_delete(dict);
}

TEST(DictionaryMakeKeyUnique, UnchangedKeyKeepsTheCallersString) {
    Dictionary* dict = Dictionary_new(0);
    char* key = owned("Shell");
    char* given = key;
    Dictionary_makeKeyUnique(dict, &key, 0, 1);
    EXPECT_EQ(key, given);
    vrnFree(key, "test");
    Dictionary_delete(dict);
}

TEST(DictionaryMakeKeyUnique, ReservedKeyCountsAsPresentAndIsReleased) {
    // The reservation is stored with a NULL value: presence must be judged by
    // key, or the given key would come back as unique.
    HeldBytes held;
    const int before = held.total();
    for (int copyKeys = 0; copyKeys <= 1; ++copyKeys) {
        Dictionary* dict = Dictionary_new(copyKeys);
        EXPECT_EQ(unique(dict, "Face", 1, 1), "Face 1");
        EXPECT_EQ(Dictionary_getSize(dict), 0);
        EXPECT_EQ(Dictionary_find(dict, "Face", nullptr, nullptr), 0);
        // Keys stored with NULL values count as taken as well.
        Dictionary_add(dict, "Edge", nullptr);
        EXPECT_EQ(unique(dict, "Edge", 0, 1), "Edge 1");
        Dictionary_delete(dict);
    }
    EXPECT_EQ(held.total(), before);
}

TEST(DictionaryMakeKeyUnique, RepeatedCallsOnOneBaseNameCountUp) {
    for (int reserve = 0; reserve <= 1; ++reserve) {
        Dictionary* dict = Dictionary_new(1);
        for (int i = 0; i < 60; ++i) {
            char* key = owned("Region");
            Dictionary_makeKeyUnique(dict, &key, reserve, 1);
            std::string expected =
                (i == 0 && !reserve) ? "Region" : "Region " + std::to_string(reserve ? i + 1 : i);
            EXPECT_EQ(key, expected);
            Dictionary_add(dict, key, word(i + 1));
            vrnFree(key, "test");
        }
        EXPECT_EQ(Dictionary_getSize(dict), 60);
        Dictionary_delete(dict);
    }
}

TEST(DictionaryMakeKeyUnique, MissingArgumentsAreRefused) {
    Dictionary* dict = Dictionary_new(1);
    char* key = nullptr;
    EXPECT_EQ(Dictionary_makeKeyUnique(dict, &key, 1, 1), 0);
    EXPECT_EQ(Dictionary_makeKeyUnique(dict, nullptr, 1, 1), 0);
    EXPECT_EQ(Dictionary_makeKeyUnique(nullptr, &key, 1, 1), 0);
    Dictionary_delete(dict);
}

}  // namespace
