// Traces of the containers under a debug control file, each run in a process
// of its own since the control file is read once per process.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/dictionary.h"
#include "support/hash_chain.h"
#include "support/hash_set.h"
#include "support/hash_table.h"
#include "support/memory.h"
#include "test_support.h"

namespace {

vrntest::ChildResult runTraced(const std::string& rules, const std::function<int()>& body) {
    vrntest::TempDir dir;
    vrntest::writeFile(dir.file("control"), "<DEBUG>\n" + rules + "</DEBUG>\n");
    vrntest::ChildOptions options;
    options.env = {{"VRN_DEBUG_CONTROL", dir.file("control")}, {"VRN_DEBUG_LOG", "stdout"}};
    options.cwd = dir.path();
    return vrntest::runInChild(body, options);
}

size_t occurrences(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

TEST(ContainerTrace, ResizesAreTracedWithBothSizes) {
    auto r = runTraced("HashTable_resize = 1\nHashSet_resize = 1\n", [] {
        HashTable* table = HashTable_new(0, nullptr, nullptr);
        static char keys[41][8];
        for (int i = 0; i < 41; ++i) {
            snprintf(keys[i], sizeof keys[i], "k%d", i);
            HashTable_newHashEntry(table, keys[i], nullptr);
        }
        std::printf("[table %p]\n", static_cast<void*>(table));
        HashTable_delete(table);
        HashSet* set = HashSet_new(0);
        HashSet_resize(set, -1);
        // A set that stands at the last prime: growing it does nothing. The
        // record is set there by hand, since growing a set that far takes
        // gigabytes; its buckets are untouched by a resize that does nothing.
        const int index = set->index;
        set->index = vrn::hashchain::maxIndex();
        HashSet_resize(set, 1);
        HashSet_resize(set, 100);
        set->index = index;
        HashSet_delete(set);
        return 0;
    });
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    size_t mark = r.out.find("[table ");
    ASSERT_NE(mark, std::string::npos) << r.out;
    std::string address = r.out.substr(mark + 7, r.out.find(']', mark) - mark - 7);
    EXPECT_NE(r.out.find("HashTable_resize:\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Increase or decrease the size of a hash table.\n"), std::string::npos);
    EXPECT_NE(r.out.find("Resizing hash table " + address + " from 13 to 31.\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Increase or decrease the size of a hash set.\n"), std::string::npos);
    EXPECT_NE(r.out.find("No action already minimum size (13 entries).\n"), std::string::npos);
    const std::string atTop = "No action already maximum size (" +
                              std::to_string(vrn::hashchain::kPrimes[vrn::hashchain::maxIndex()]) +
                              " entries).\n";
    EXPECT_EQ(occurrences(r.out, atTop), 2u) << r.out;
    EXPECT_EQ(occurrences(r.out, "Resizing hash set "), 0u) << r.out;
    // The levels are printed with the first header only.
    EXPECT_EQ(occurrences(r.out, "Debug level        = 1\n"), 2u) << r.out;
}

TEST(ContainerTrace, MakeKeyUniqueTracesDuplicatesAndTheResult) {
    auto r = runTraced("Dictionary_makeKeyUnique = 1\n", [] {
        Dictionary* dict = Dictionary_new(1);
        Dictionary_add(dict, "Box", nullptr);
        char* key = static_cast<char*>(vrnMalloc(4, "test"));
        std::strcpy(key, "Box");
        Dictionary_makeKeyUnique(dict, &key, 0, 1);
        char* other = static_cast<char*>(vrnMalloc(5, "test"));
        std::strcpy(other, "Cone");
        Dictionary_makeKeyUnique(dict, &other, 0, 1);
        vrnFree(key, "test");
        vrnFree(other, "test");
        Dictionary_delete(dict);
        return 0;
    });
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find("Modify a key to make it unique within a dictionary.\n"),
              std::string::npos);
    EXPECT_NE(r.out.find("Duplicate - Box\n\"Box\" -> \"Box 1\"\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"Cone\" is unique.\n"), std::string::npos) << r.out;
}

TEST(ContainerTrace, UnlistedRoutinesWriteNothing) {
    auto r = runTraced("Dictionary_add = 1\n", [] {
        HashTable* table = HashTable_new(0, nullptr, nullptr);
        HashTable_resize(table, 1);
        HashTable_delete(table);
        return 0;
    });
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out.find("HashTable_resize"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Resizing"), std::string::npos);
}

}  // namespace
