#include "region_atlas.h"
#include "region_definition.h"
#include "region_map.h"
#include "region_test_util.h"

#include <string>
#include <vector>

using namespace regiontest;

namespace {

std::string list(RegionStatus* (*getter)(RegionMap*, int, ...), RegionMap* map)
{
    char* text = nullptr;
    RegionStatus* s = getter(map, 4, &text);
    EXPECT_FALSE(RegionStatus_isError(s)) << regiontest::message(s);
    return take(text);
}

// A map M holding D = Union(a, b) and E = Difference(D; c).
struct SampleMap : testing::Test {
    RegionMap* map = nullptr;
    RegionDefinition* d = nullptr;
    RegionDefinition* e = nullptr;
    void SetUp() override
    {
        ASSERT_OK(RegionMap_new(&map, "M"));
        d = define("D", RC_UNION, {"a", "b"});
        e = define("E", RC_DIFFERENCE, {"D"}, {"c"});
        ASSERT_OK(RegionMap_addDefinition(map, d));
        ASSERT_OK(RegionMap_addDefinition(map, e));
    }
    void TearDown() override
    {
        if (map) {
            roundTrip(map, 1);
            RegionMap_delete(&map, 1);
        }
    }
};

}  // namespace

TEST(RegionMap, CreationRefusesBlankNamesAndEmptyMapsListNothing)
{
    RegionMap* m = nullptr;
    EXPECT_CODE(RegionMap_new(&m, "   "), 300000);
    EXPECT_EQ(m, nullptr);
    ASSERT_OK(RegionMap_new(&m, "Empty"));
    RegionStringList* l = reinterpret_cast<RegionStringList*>(1);
    EXPECT_OK(RegionMap_getComposites(m, 3, &l));
    EXPECT_EQ(l, nullptr);
    unsigned* keys = nullptr;
    int n = 7;
    EXPECT_OK(RegionMap_getComposites(m, 1, &keys, &n));
    EXPECT_EQ(keys, nullptr);
    EXPECT_EQ(n, 0);
    char** texts = nullptr;
    EXPECT_OK(RegionMap_getPrimitives(m, 2, &texts, &n));
    EXPECT_EQ(texts, nullptr);
    RegionStatus* s = RegionMap_getPrimitives(m, 3, nullptr);
    EXPECT_EQ(s->code, 8);
    EXPECT_STREQ(s->message, "Unable to return list of primitives");
    s = RegionMap_getImplicitPrimitives(m, 1, &keys, nullptr);
    EXPECT_STREQ(s->message, "Unable to return list of implicit primitives");
    roundTrip(m);
    int type = 5;
    EXPECT_CODE(RegionMap_getType(m, &type), 400001);
    EXPECT_EQ(type, 0);
    RegionMap_delete(&m, 1);
    EXPECT_EQ(m, nullptr);
}

TEST_F(SampleMap, ListsInEveryForm)
{
    EXPECT_EQ(list(RegionMap_getPrimitives, map), "a, b, c");
    EXPECT_EQ(list(RegionMap_getComposites, map), "D, E");
    EXPECT_EQ(list(RegionMap_getImplicitPrimitives, map), "a, b, D, c");
    EXPECT_EQ(list(RegionMap_getExportedNames, map), "a, b, D, c, E");
    EXPECT_EQ(list(RegionMap_getExplicitPrimitives, map), "");
    char** texts = nullptr;
    int n = 0;
    ASSERT_OK(RegionMap_getComposites(map, 2, &texts, &n));
    ASSERT_EQ(n, 2);
    EXPECT_EQ(take(texts[0]), "D");
    EXPECT_EQ(take(texts[1]), "E");
    std::free(texts);
    unsigned count = 0;
    RegionMap_countNames(map, &count);
    EXPECT_EQ(count, 6u);  // D stands in both tables
    RegionDefinition* got = nullptr;
    EXPECT_OK(RegionMap_getDefinitionByText(map, "E", &got));
    EXPECT_EQ(got, e);
    RegionStatus* s = RegionMap_getDefinitionByText(map, "a", &got);
    EXPECT_EQ(s->code, 800002);
    EXPECT_STREQ(s->message, "Region Definition (a) is not defined in the Region Map.");
}

TEST_F(SampleMap, ExplicitPrimitives)
{
    RegionStatus* s = RegionMap_addExplicitPrimitive(map, "D");
    EXPECT_EQ(s->code, 600003);
    EXPECT_STREQ(s->message, "Region cannot be made explicitly primitive in the Region Map that defines it.");
    EXPECT_OK(RegionMap_addExplicitPrimitive(map, "x"));
    EXPECT_OK(RegionMap_addExplicitPrimitive(map, "a"));
    EXPECT_EQ(list(RegionMap_getExplicitPrimitives, map), "a, x");
    EXPECT_EQ(list(RegionMap_getPrimitives, map), "a, b, c, x");
    EXPECT_OK(RegionMap_removeExplicitPrimitive(map, "x"));
    EXPECT_OK(RegionMap_removeExplicitPrimitive(map, "a"));
    EXPECT_EQ(list(RegionMap_getPrimitives, map), "a, b, c");
    s = RegionMap_removeExplicitPrimitive(map, "b");
    EXPECT_EQ(s->code, 600002);
    EXPECT_STREQ(s->message, "Region b is not an explicit primtitive of Region Map (M)");
}

TEST_F(SampleMap, RemovingReleasesUnusedComponents)
{
    RegionMap* other = nullptr;
    RegionMap_new(&other, "Other");
    RegionStatus* s = RegionMap_removeDefinition(other, d);
    EXPECT_EQ(s->code, 800002);
    EXPECT_STREQ(s->message, "Region not declared in Region Map (Other).");
    RegionMap_delete(&other, 1);

    // D is still used by E: it becomes a primitive of the map.
    ASSERT_OK(RegionMap_removeDefinition(map, d));
    EXPECT_EQ(d->map, nullptr);
    EXPECT_EQ(list(RegionMap_getPrimitives, map), "D, c");
    EXPECT_EQ(list(RegionMap_getComposites, map), "E");
    ASSERT_OK(RegionMap_removeDefinitionByName(map, "E"));
    EXPECT_EQ(list(RegionMap_getPrimitives, map), "");
    ASSERT_OK(RegionMap_addDefinition(map, e));
    ASSERT_OK(RegionMap_addDefinition(map, d));
    EXPECT_EQ(list(RegionMap_getComposites, map), "D, E");
    EXPECT_EQ(list(RegionMap_getPrimitives, map), "a, b, c");
}

TEST_F(SampleMap, FailedAdditionLeavesTheGuardsClear)
{
    RegionDefinition* twin = define("D", RC_UNION, {"z"});
    EXPECT_CODE(RegionMap_addDefinition(map, twin), 800004);
    RegionDefinition* loop = define("a", RC_UNION, {"E"});
    EXPECT_CODE(RegionMap_addDefinition(map, loop), 700000);
    RegionDefinition* fine = define("F", RC_UNION, {"z"});
    ASSERT_OK(RegionMap_addDefinition(map, fine));
    EXPECT_EQ(fine->map, map);
    EXPECT_EQ(list(RegionMap_getComposites, map), "D, E, F");
    RegionDefinition_delete(&twin);
    RegionDefinition_delete(&loop);
}

TEST_F(SampleMap, DeletingKeepsOrDeletesDefinitions)
{
    RegionMap_delete(&map, 0);
    EXPECT_EQ(map, nullptr);
    EXPECT_EQ(d->map, nullptr);
    EXPECT_EQ(e->map, nullptr);
    EXPECT_STREQ(RegionName_getText(d->name), "D");
    RegionDefinition_delete(&d);
    RegionDefinition_delete(&e);
}

TEST(RegionMapInAtlas, NamesAreInheritedUpwardAndGivenUpOnLeaving)
{
    RegionAtlas* atlas = nullptr;
    ASSERT_OK(RegionAtlas_new(&atlas, "VRN atlas"));
    RegionMap* vrn = nullptr;
    RegionMap* primary = nullptr;
    RegionMap_new(&vrn, "Low");
    RegionMap_new(&primary, "Primary map");
    ASSERT_OK(RegionMap_addDefinition(vrn, define("Lobe", RC_UNION, {"p", "q"})));
    ASSERT_OK(RegionMap_addDefinition(primary, define("Top", RC_UNION, {"p", "r"})));
    ASSERT_OK(RegionAtlas_addMap(atlas, vrn, REGION_MAP_VRN));
    ASSERT_OK(RegionAtlas_addMap(atlas, primary, REGION_MAP_PRIMARY));
    EXPECT_EQ(primary->type, REGION_MAP_PRIMARY);
    roundTrip(vrn, 1);
    roundTrip(primary, 1);
    RegionName* p = nullptr;
    int found = 0;
    RegionAtlas_findName(atlas, "q", &found, &p);
    ASSERT_EQ(found, 1);
    int inherited = 0;
    RegionName_isInheritedIn(p, primary, &inherited);
    EXPECT_EQ(inherited, 1);
    int uses = 0;
    RegionMap_usesText(vrn, "q", &uses);
    EXPECT_EQ(uses, 1);
    RegionMap_usesText(vrn, "r", &uses);
    EXPECT_EQ(uses, 0);
    RegionMap_usesText(primary, "anything", &uses);
    EXPECT_EQ(uses, 1);
    RegionMap_usesText(primary, "Top", &uses);
    EXPECT_EQ(uses, 0);

    RegionStatus* s = RegionMap_addExplicitPrimitive(vrn, "Top");
    EXPECT_EQ(s->code, 600003);
    EXPECT_STREQ(s->message, "Region cannot be made explicitly primitive in a lower Region Map than it is defined in.");
    EXPECT_CODE(RegionAtlas_addMap(atlas, primary, REGION_MAP_SECONDARY), 400000);
    RegionDefinition* again = define("Lobe", RC_UNION, {"r"});
    EXPECT_CODE(RegionMap_addDefinition(primary, again), 800004);
    RegionDefinition_delete(&again);
    RegionDefinition* lowerUsed = define("q", RC_UNION, {"r"});
    s = RegionMap_addDefinition(primary, lowerUsed);
    EXPECT_EQ(s->code, 600005);
    EXPECT_STREQ(s->message,
                 "Cannot add Region Definitionto Region Map because Region Definition(q) is referenced from a lower "
                 "Region Map.");
    RegionDefinition_delete(&lowerUsed);
    RegionDefinition* usesHigher = define("Low2", RC_UNION, {"Top"});
    s = RegionMap_addDefinition(vrn, usesHigher);
    EXPECT_EQ(s->code, 600004);
    EXPECT_STREQ(s->message, "Cannot add Region Definitionto Region Map because Region Definition(Top) is defined in a higher.");
    RegionDefinition_delete(&usesHigher);

    ASSERT_OK(RegionAtlas_removeMap(atlas, primary));
    EXPECT_EQ(primary->atlas, nullptr);
    EXPECT_EQ(list(RegionMap_getPrimitives, primary), "p, r");
    EXPECT_EQ(list(RegionMap_getComposites, primary), "Top");
    RegionAtlas_findName(atlas, "Top", &found, nullptr);
    EXPECT_EQ(found, 0);
    EXPECT_CODE(RegionAtlas_removeMap(atlas, primary), 400001);
    roundTrip(primary, 1);
    RegionAtlas_delete(atlas, 1);
    RegionMap_delete(&primary, 1);
}

TEST(RegionMapInAtlas, LevelChecksRefuseMapsThatDoNotFit)
{
    RegionAtlas* atlas = nullptr;
    RegionAtlas_new(&atlas, "Checks");
    RegionMap* secondary = nullptr;
    RegionMap* primary = nullptr;
    RegionMap* twin = nullptr;
    RegionMap_new(&secondary, "High");
    RegionMap_new(&primary, "Mid");
    RegionMap_new(&twin, "Twin");
    RegionMap_addDefinition(secondary, define("Hi", RC_UNION, {"s1"}));
    RegionMap_addDefinition(primary, define("Mi", RC_UNION, {"Hi"}));
    RegionMap_addDefinition(twin, define("Hi", RC_UNION, {"t1"}));
    EXPECT_CODE(RegionAtlas_addMap(atlas, primary, 0), 100002);
    EXPECT_CODE(RegionAtlas_addMap(atlas, primary, 4), 100002);
    ASSERT_OK(RegionAtlas_addMap(atlas, secondary, REGION_MAP_SECONDARY));
    EXPECT_CODE(RegionAtlas_addMap(atlas, twin, REGION_MAP_SECONDARY), 400004);
    RegionStatus* s = RegionAtlas_addMap(atlas, primary, REGION_MAP_PRIMARY);
    EXPECT_EQ(s->code, 600004);
    EXPECT_STREQ(s->message, "Primitive (Hi) in Region Map is alreaady defined in a higher Region Map");
    EXPECT_EQ(primary->atlas, nullptr);
    s = RegionAtlas_addMap(atlas, twin, REGION_MAP_PRIMARY);
    EXPECT_EQ(s->code, 800006);
    EXPECT_EQ(lines(s), (std::vector<std::string>{
                            "Region Atlas already defines Region (Hi) that is also defined in Region Map.\n",
                            "Cannot add Region Map to Region Atlas (Checks).\n"}));
    EXPECT_CODE(RegionAtlas_detachMap(atlas, REGION_MAP_VRN), 400005);
    RegionMap* got = nullptr;
    EXPECT_CODE(RegionAtlas_getMap(atlas, REGION_MAP_PRIMARY, &got), 400006);
    RegionAtlas_delete(atlas, 0);
    EXPECT_EQ(secondary->atlas, nullptr);
    EXPECT_EQ(list(RegionMap_getComposites, secondary), "Hi");
    for (RegionMap** m : {&secondary, &primary, &twin})
        RegionMap_delete(m, 1);
}

TEST_F(SampleMap, ComponentEditsAndRenamesKeepTheMapInStep)
{
    char z[] = "z", a[] = "a", b[] = "b";
    char* add[] = {z};
    char* both[] = {a, b};
    ASSERT_OK(RegionDefinition_modifyComponents(d, RO_ADD, 1, add, 1));
    EXPECT_EQ(list(RegionMap_getPrimitives, map), "a, b, c, z");
    EXPECT_CODE(RegionDefinition_modifyComponents(d, RO_CLEAR, 1, nullptr, 0), 700001);
    char* az[] = {a, b, z};
    EXPECT_CODE(RegionDefinition_modifyComponents(d, RO_REMOVE, 1, az, 3), 700003);
    ASSERT_OK(RegionDefinition_modifyComponents(d, RO_REMOVE, 1, both, 2));
    EXPECT_EQ(list(RegionMap_getPrimitives, map), "c, z");
    EXPECT_EQ(d->map, map);
    ASSERT_OK(RegionDefinition_rename(e, "E2"));
    EXPECT_EQ(list(RegionMap_getComposites, map), "D, E2");
    RegionStatus* s = RegionDefinition_rename(e, "D");
    EXPECT_EQ(s->code, 700000);
    EXPECT_STREQ(s->message, "Region Definition (D) references itself.");
    EXPECT_EQ(list(RegionMap_getComposites, map), "D, E2");
}
