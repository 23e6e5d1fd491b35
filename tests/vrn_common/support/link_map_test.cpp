#include "support/link_map.h"

#include <gtest/gtest.h>

#include <set>
#include <tuple>
#include <vector>

#include "support/memory.h"

namespace {

void* word(long v) { return reinterpret_cast<void*>(v); }

using LinkTuple = std::tuple<void*, void*, int>;

std::vector<LinkTuple> iterated(LinkMap* map) {
    std::vector<LinkTuple> out;
    LinkMapIterator* it = LinkMapIterator_new(map);
    for (Link* l = LinkMapIterator_first(it); l; l = LinkMapIterator_next(it))
        out.emplace_back(l->object, l->other, l->id);
    LinkMapIterator_delete(it);
    return out;
}

void* stored(LinkMap* map, void* object, int id) {
    LinkPair probe = {object, id};
    return HashTable_get(map->table, &probe);
}

TEST(LinkMap, LinkIsStoredBothWays) {
    LinkMap* map = LinkMap_new(4);
    EXPECT_EQ(map->table->n, 13);
    EXPECT_EQ(LinkMap_addLink(map, word(0x100), word(0x200), 7), 1);
    EXPECT_EQ(map->table->count, 2);
    EXPECT_EQ(LinkMap_getCount(map), 1);
    EXPECT_EQ(stored(map, word(0x100), 7), word(0x200));   // a -> b
    EXPECT_EQ(stored(map, word(0x200), -7), word(0x100));  // and back
    EXPECT_EQ(stored(map, word(0x200), 7), nullptr);

    void** firsts = nullptr;
    void** seconds = nullptr;
    int* ids = nullptr;
    ASSERT_EQ(LinkMap_toArray(map, &firsts, &seconds, &ids), 1);
    EXPECT_EQ(firsts[0], word(0x100));
    EXPECT_EQ(seconds[0], word(0x200));
    EXPECT_EQ(ids[0], 7);
    vrnFree(firsts, "test");
    vrnFree(seconds, "test");
    vrnFree(ids, "test");
    LinkMap_delete(map);
}

TEST(LinkMap, IdsBelowOneStoreNothing) {
    LinkMap* map = LinkMap_new(4);
    EXPECT_EQ(LinkMap_addLink(map, word(1), word(2), 0), 0);
    EXPECT_EQ(LinkMap_addLink(map, word(1), word(2), -3), 0);
    EXPECT_EQ(map->table->count, 0);
    void** firsts = reinterpret_cast<void**>(word(1));
    void** seconds = reinterpret_cast<void**>(word(1));
    int* ids = reinterpret_cast<int*>(word(1));
    EXPECT_EQ(LinkMap_toArray(map, &firsts, &seconds, &ids), 0);
    EXPECT_EQ(firsts, nullptr);
    EXPECT_EQ(seconds, nullptr);
    EXPECT_EQ(ids, nullptr);
    LinkMapIterator* it = LinkMapIterator_new(map);
    EXPECT_EQ(LinkMapIterator_first(it), nullptr);
    LinkMapIterator_delete(it);
    LinkMap_delete(map);
}

TEST(LinkMap, ManyLinksCountIterateAndListAlike) {
    LinkMap* map = LinkMap_new(2);
    std::set<LinkTuple> added;
    for (int k = 1; k <= 100; ++k) {
        void* a = word(8 * k);
        void* b = word(8 * (k % 17) + 4096);
        LinkMap_addLink(map, a, b, k);
        added.emplace(a, b, k);
    }
    EXPECT_EQ(LinkMap_getCount(map), 100);
    EXPECT_GT(map->table->n, 13);
    std::vector<LinkTuple> walk = iterated(map);
    EXPECT_EQ(std::set<LinkTuple>(walk.begin(), walk.end()), added);

    void** firsts = nullptr;
    void** seconds = nullptr;
    int* ids = nullptr;
    ASSERT_EQ(LinkMap_toArray(map, &firsts, &seconds, &ids), 100);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(LinkTuple(firsts[i], seconds[i], ids[i]), walk[i]);
    vrnFree(firsts, "test");
    vrnFree(seconds, "test");
    vrnFree(ids, "test");
    LinkMap_delete(map);  // the sanitizer run checks every LinkPair is freed
}

TEST(LinkMap, RemovalTakesBothEntriesOfExactlyThatLink) {
    LinkMap* map = LinkMap_new(4);
    LinkMap_addLink(map, word(1), word(2), 5);
    LinkMap_addLink(map, word(1), word(3), 5);  // same end and id, other target
    LinkMap_addLink(map, word(4), word(2), 6);
    EXPECT_EQ(LinkMap_getCount(map), 3);

    EXPECT_EQ(LinkMap_removeLink(map, word(1), word(9), 5), 0);
    EXPECT_EQ(LinkMap_removeLink(map, word(1), word(2), 0), 0);
    EXPECT_EQ(LinkMap_removeLink(map, word(1), word(2), 5), 1);
    EXPECT_EQ(LinkMap_getCount(map), 2);
    EXPECT_EQ(map->table->count, 4);
    EXPECT_EQ(stored(map, word(1), 5), word(3));
    EXPECT_EQ(stored(map, word(3), -5), word(1));
    EXPECT_EQ(stored(map, word(2), -5), nullptr);
    EXPECT_EQ(stored(map, word(2), -6), word(4));

    EXPECT_EQ(LinkMap_removeLink(map, word(1), word(2), 5), 0);
    EXPECT_EQ(LinkMap_removeLink(map, word(1), word(3), 5), 1);
    EXPECT_EQ(LinkMap_removeLink(map, word(4), word(2), 6), 1);
    EXPECT_EQ(LinkMap_getCount(map), 0);
    EXPECT_TRUE(iterated(map).empty());
    LinkMap_delete(map);
}

}  // namespace
