#include "atlas_fixture.h"

#include <string>

using namespace regiontest;

namespace {

struct Resolution : testing::Test {
    RegionMap* map = newMap("Resolution map");
    void TearDown() override { RegionMap_delete(&map, 1); }
};

}  // namespace

TEST_F(Resolution, NestedCombinationsGiveTheirPrimitives)
{
    ASSERT_OK(define(map, "A", RC_UNION, {"p", "q", "r"}));
    ASSERT_OK(define(map, "B", RC_UNION, {"q", "r", "s"}));
    ASSERT_OK(define(map, "C", RC_UNION, {"A", "B"}));
    ASSERT_OK(define(map, "I", RC_INTERSECTION, {"A", "B"}));
    ASSERT_OK(define(map, "S", RC_SYMMETRIC_DIFFERENCE, {"A"}, {"B"}));
    ASSERT_OK(define(map, "X", RC_ALIAS, {"C"}));
    ASSERT_OK(define(map, "N", RC_UNION, {"A", "t"}));
    EXPECT_EQ(resolveIn(map, "C"), "p, q, r, s");
    EXPECT_EQ(resolveIn(map, "I"), "q, r");
    EXPECT_EQ(resolveIn(map, "S"), "p, s");
    EXPECT_EQ(resolveIn(map, "X"), "p, q, r, s");
    EXPECT_EQ(resolveIn(map, "N"), "p, q, r, t");
    // A name with no definition is its own primitive, interned or not.
    EXPECT_EQ(resolveIn(map, "q"), "q");
    EXPECT_EQ(resolveIn(map, "never seen"), "never seen");
}

TEST_F(Resolution, UnionOfACompositeAndAPrimitive)
{
    ASSERT_OK(define(map, "A", RC_UNION, {"p", "q"}));
    ASSERT_OK(define(map, "C", RC_UNION, {"A", "B"}));
    EXPECT_EQ(resolveIn(map, "C"), "p, q, B");
}

TEST_F(Resolution, NestedDifferencesEachUseTheirOwnList)
{
    ASSERT_OK(define(map, "A", RC_UNION, {"p", "q", "r"}));
    ASSERT_OK(define(map, "D1", RC_DIFFERENCE, {"A"}, {"q"}));
    ASSERT_OK(define(map, "D2", RC_DIFFERENCE, {"D1", "u"}, {"r"}));
    EXPECT_EQ(resolveIn(map, "D1"), "p, r");
    EXPECT_EQ(resolveIn(map, "D2"), "p, u");
    // Side B is removed as it stands: a composite's name is not its
    // primitives.
    ASSERT_OK(define(map, "Q", RC_UNION, {"q"}));
    ASSERT_OK(define(map, "D3", RC_DIFFERENCE, {"A"}, {"Q"}));
    EXPECT_EQ(resolveIn(map, "D3"), "p, q, r");
}

TEST_F(Resolution, MergeAndBrokenAliasAreReported)
{
    RegionDefinition* def = nullptr;
    ASSERT_OK(makeDefinition(&def, "M", RC_UNION, {"p", "q"}));
    RegionStringList* out = nullptr;
    RegionStringList_new(&out, 0);
    def->combination = RC_MERGE;
    EXPECT_CODE(RegionPrimitives_resolveDefinitionInMap(def, map, out), 4);
    def->combination = RC_ALIAS;
    RegionStatus* s = RegionPrimitives_resolveDefinitionInMap(def, map, out);
    EXPECT_CODE(s, 2);
    EXPECT_EQ(message(s), "Invalid alias located");
    EXPECT_CODE(RegionPrimitives_resolveDefinitionInMap(def, map, nullptr), 3);
    // A complement (which no definition can be made with) takes what the
    // map exports, composites included, less its resolved side.
    ASSERT_OK(define(map, "X", RC_UNION, {"p"}));
    ASSERT_OK(define(map, "Y", RC_UNION, {"q", "r"}));
    def->combination = RC_COMPLEMENT;
    RegionStringList_removeText(def->sideA, "q");
    ASSERT_OK(RegionPrimitives_resolveDefinitionInMap(def, map, out));
    RegionStringList_sort(out, 0);
    EXPECT_EQ(joinedList(out), "q, X, r, Y");
    RegionStringList_delete(&out);
    RegionDefinition_delete(&def);
}

TEST_F(Resolution, DeepChainResolvesWithoutExhaustingTheStack)
{
    // Built from the top, so that each admission looks one step ahead.
    const int depth = 10000;
    for (int i = 0; i < depth; ++i) {
        std::string name = "L" + std::to_string(i);
        std::string next = "L" + std::to_string(i + 1);
        ASSERT_OK(define(map, name.c_str(), RC_UNION, {next.c_str()}));
    }
    EXPECT_EQ(resolveIn(map, "L0"), "L" + std::to_string(depth));
    // Closing the chain into a ring is a cycle.
    std::string last = "L" + std::to_string(depth);
    EXPECT_CODE(define(map, last.c_str(), RC_UNION, {"L0"}), 700000);
}

TEST_F(Resolution, DeletedDefinitionLeavesItsUsersResolvable)
{
    ASSERT_OK(define(map, "A", RC_UNION, {"p"}));
    ASSERT_OK(define(map, "C", RC_UNION, {"A", "q"}));
    RegionDefinition* a = nullptr;
    ASSERT_OK(RegionMap_getDefinitionByText(map, "A", &a));
    ASSERT_OK(RegionDefinition_delete(&a));
    EXPECT_EQ(resolveIn(map, "C"), "A, q");
    EXPECT_EQ(resolveIn(map, "A"), "A");
}

TEST(ResolutionCache, CreatedEmptiedAndDeleted)
{
    int owner = 0;
    RegionCache* cache = nullptr;
    EXPECT_CODE(RegionCache_new(nullptr, 0, &owner, RegionPrimitives_resolveForCache), 8);
    EXPECT_CODE(RegionCache_new(&cache, 0, nullptr, RegionPrimitives_resolveForCache), 8);
    ASSERT_OK(RegionCache_new(&cache, 0, &owner, RegionPrimitives_resolveForCache));
    EXPECT_EQ(cache->entries->bucketCount, 100u);
    EXPECT_OK(RegionCache_invalidate(cache));
    EXPECT_OK(RegionCache_delete(&cache));
    EXPECT_EQ(cache, nullptr);
    EXPECT_CODE(RegionCache_delete(&cache), 8);
    EXPECT_CODE(RegionCache_invalidate(nullptr), 8);
}

TEST_F(Resolution, OnlyExpandedNamesMakeACycleWhateverTheOrder)
{
    // Side B of a Difference is removed as it stands, so naming a user of
    // the difference there is no cycle, in either order.
    ASSERT_OK(define(map, "K", RC_UNION, {"D", "z"}));
    ASSERT_OK(define(map, "D", RC_DIFFERENCE, {"p"}, {"K"}));
    RegionMap* other = newMap("Other order");
    ASSERT_OK(define(other, "D", RC_DIFFERENCE, {"p"}, {"K"}));
    ASSERT_OK(define(other, "K", RC_UNION, {"D", "z"}));
    EXPECT_EQ(resolveIn(other, "K"), "p, z");
    RegionMap_delete(&other, 1);
    EXPECT_EQ(resolveIn(map, "K"), "p, z");
    // Both sides of a symmetric difference are expanded.
    ASSERT_OK(define(map, "S", RC_SYMMETRIC_DIFFERENCE, {"p"}, {"T"}));
    EXPECT_CODE(define(map, "T", RC_UNION, {"S"}), 700000);
}
