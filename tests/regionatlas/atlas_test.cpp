#include "atlas_fixture.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace regiontest;

namespace {

std::string mapText(RegionMap* map)
{
    char* text = nullptr;
    RegionStatus* s = RegionMap_getORV(map, 1, &text);
    std::string out = RegionStatus_isError(s) ? "error " + std::to_string(RegionStatus_getCode(s)) : text;
    RegionMap_freeORV(map);
    return out;
}

int flagOf(RegionStatus* (*query)(const RegionName*, RegionMap*, int*), RegionName* name, RegionMap* map)
{
    int out = 0;
    query(name, map, &out);
    return out;
}

}  // namespace

TEST(Atlas, AddingMapsChecksSlotsAndLevels)
{
    ThreeMaps t;
    RegionMap* extra = newMap("Extra");
    EXPECT_CODE(RegionAtlas_addMap(t.atlas, extra, 0), 100002);
    EXPECT_CODE(RegionAtlas_addMap(t.atlas, extra, 4), 100002);
    EXPECT_CODE(RegionAtlas_addMap(t.atlas, extra, REGION_MAP_VRN), 400002);
    EXPECT_CODE(RegionAtlas_addMap(t.atlas, extra, REGION_MAP_PRIMARY), 400003);
    EXPECT_CODE(RegionAtlas_addMap(t.atlas, extra, REGION_MAP_SECONDARY), 400004);
    EXPECT_CODE(RegionAtlas_addMap(nullptr, extra, 1), 100000);
    EXPECT_CODE(RegionAtlas_addMap(t.atlas, nullptr, 1), 100001);
    RegionAtlas* other = nullptr;
    ASSERT_OK(RegionAtlas_new(&other, "Other"));
    EXPECT_CODE(RegionAtlas_addMap(other, t.primary, REGION_MAP_PRIMARY), 400000);
    EXPECT_CODE(RegionAtlas_removeMap(other, t.primary), 400001);
    EXPECT_CODE(RegionAtlas_detachMap(other, REGION_MAP_VRN), 400005);
    EXPECT_CODE(RegionAtlas_detachMap(other, REGION_MAP_PRIMARY), 400006);
    EXPECT_CODE(RegionAtlas_detachMap(other, REGION_MAP_SECONDARY), 400007);
    RegionMap* got = nullptr;
    EXPECT_CODE(RegionAtlas_getMap(other, REGION_MAP_VRN, &got), 400005);
    EXPECT_OK(RegionAtlas_getMap(t.atlas, REGION_MAP_SECONDARY, &got));
    EXPECT_EQ(got, t.secondary);
    // Level order is VRN < Primary < Secondary.
    EXPECT_EQ(RegionAtlas_getHigherMap(t.atlas, REGION_MAP_VRN), t.primary);
    EXPECT_EQ(RegionAtlas_getHigherMap(t.atlas, REGION_MAP_PRIMARY), t.secondary);
    EXPECT_EQ(RegionAtlas_getLowerMap(t.atlas, REGION_MAP_SECONDARY), t.primary);
    EXPECT_EQ(RegionAtlas_getLowerMap(t.atlas, REGION_MAP_VRN), nullptr);
    RegionAtlas_delete(other, 1);
    RegionMap_delete(&extra, 1);
}

TEST(Atlas, MapsThatClashWithTheAtlasAreRefused)
{
    ThreeMaps t;
    ASSERT_OK(define(t.primary, "R", RC_UNION, {"p"}));
    ASSERT_OK(define(t.secondary, "S", RC_UNION, {"s"}));
    ASSERT_OK(define(t.vrn, "V", RC_UNION, {"W"}));
    RegionAtlas_detachMap(t.atlas, REGION_MAP_SECONDARY);
    RegionMap* dup = newMap("Dup");
    ASSERT_OK(define(dup, "R", RC_UNION, {"q"}));
    RegionStatus* s = RegionAtlas_addMap(t.atlas, dup, REGION_MAP_SECONDARY);
    EXPECT_CODE(s, 800006);
    EXPECT_EQ(lines(s), (std::vector<std::string>{
                            "Region Atlas already defines Region (R) that is also defined in Region Map.\n",
                            "Cannot add Region Map to Region Atlas (VRN atlas).\n"}));
    ASSERT_OK(RegionAtlas_addMap(t.atlas, t.secondary, REGION_MAP_SECONDARY));

    // A Primary map under a Secondary map that defines one of its primitives.
    RegionAtlas_detachMap(t.atlas, REGION_MAP_PRIMARY);
    RegionMap* low = newMap("Low");
    ASSERT_OK(define(low, "L", RC_UNION, {"S"}));
    s = RegionAtlas_addMap(t.atlas, low, REGION_MAP_PRIMARY);
    EXPECT_CODE(s, 600004);
    EXPECT_EQ(message(s), "Primitive (S) in Region Map is alreaady defined in a higher Region Map");
    // A Primary map defining what the VRN map uses.
    RegionMap* uses = newMap("Uses");
    ASSERT_OK(define(uses, "W", RC_UNION, {"w"}));
    s = RegionAtlas_addMap(t.atlas, uses, REGION_MAP_PRIMARY);
    EXPECT_CODE(s, 600005);
    EXPECT_EQ(message(s), "VRN Region Map already uses Region (W) that is defined in Primary Region Map.");
    EXPECT_EQ(uses->atlas, nullptr);
    for (RegionMap* m : {dup, low, uses, t.primary})
        RegionMap_delete(&m, 1);
}

TEST(Atlas, LevelRulesHoldAcrossAllThreeMaps)
{
    ThreeMaps t;
    ASSERT_OK(define(t.vrn, "A", RC_UNION, {"X", "p"}));
    ASSERT_OK(define(t.primary, "C", RC_UNION, {"A", "r"}));
    ASSERT_OK(define(t.secondary, "E", RC_UNION, {"C", "s"}));
    EXPECT_EQ(resolveIn(t.atlas, "E"), "X, p, r, s");
    // What the VRN map uses is inherited upward.
    RegionName* p = RegionAtlas_findByKey(t.atlas, RegionName_getKey(RegionMap_findByText(t.vrn, 0, "p")));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(flagOf(RegionName_isInheritedIn, p, t.primary), 1);
    EXPECT_EQ(flagOf(RegionName_isInheritedIn, p, t.secondary), 1);

    // A name used below cannot be defined above.
    RegionStatus* s = define(t.secondary, "X", RC_UNION, {"x"});
    EXPECT_CODE(s, 600005);
    EXPECT_EQ(message(s), "Cannot add Region Definitionto Region Map because Region Definition(X) is referenced "
                          "from a lower Region Map.");
    EXPECT_CODE(define(t.primary, "X", RC_UNION, {"x"}), 600005);
    // So is a name a lower map declares explicitly primitive, used or not:
    // the atlas text could not be read back.
    ASSERT_OK(RegionMap_addExplicitPrimitive(t.vrn, "Q"));
    EXPECT_CODE(define(t.primary, "Q", RC_UNION, {"x"}), 600005);
    EXPECT_CODE(define(t.secondary, "Q", RC_UNION, {"x"}), 600005);
    // A lower map cannot use what a higher one defines, whichever is above.
    s = define(t.vrn, "V", RC_UNION, {"E"});
    EXPECT_CODE(s, 600004);
    EXPECT_EQ(message(s), "Cannot add Region Definitionto Region Map because Region Definition(E) is defined in "
                          "a higher.");
    EXPECT_CODE(define(t.vrn, "V", RC_UNION, {"C"}), 600004);
    EXPECT_CODE(define(t.primary, "P", RC_UNION, {"E"}), 600004);
    EXPECT_OK(define(t.secondary, "F", RC_UNION, {"A", "C"}));
    // A region is defined in one map of the atlas only.
    EXPECT_CODE(define(t.primary, "E", RC_UNION, {"z"}), 800004);
    EXPECT_CODE(define(t.vrn, "C", RC_UNION, {"z"}), 800004);
    EXPECT_EQ(resolveIn(t.atlas, "F"), "X, p, r");
}

TEST(Atlas, CyclesThroughNamesOfDifferentLevelsAreRefused)
{
    {
        ThreeMaps t;
        ASSERT_OK(define(t.primary, "B", RC_UNION, {"X"}));
        EXPECT_CODE(define(t.vrn, "X", RC_UNION, {"B"}), 700000);
        EXPECT_EQ(resolveIn(t.atlas, "B"), "X");
    }
    {
        ThreeMaps t;
        ASSERT_OK(define(t.vrn, "X", RC_UNION, {"B"}));
        EXPECT_CODE(define(t.primary, "B", RC_UNION, {"X"}), 700000);
        EXPECT_CODE(define(t.secondary, "B", RC_UNION, {"X"}), 700000);
        EXPECT_EQ(resolveIn(t.atlas, "X"), "B");
    }
    {
        // A rename that would close a ring through two maps.
        ThreeMaps t;
        ASSERT_OK(define(t.vrn, "X", RC_UNION, {"W"}));
        ASSERT_OK(define(t.primary, "B", RC_UNION, {"X"}));
        RegionDefinition* b = nullptr;
        ASSERT_OK(RegionMap_getDefinitionByText(t.primary, "B", &b));
        EXPECT_CODE(RegionDefinition_rename(b, "W"), 700000);
        EXPECT_EQ(std::string(RegionName_getText(b->name)), "B");
        EXPECT_EQ(resolveIn(t.atlas, "B"), "W");
    }
}

TEST(Atlas, DefinitionsByKeyAndTextAndExportedNames)
{
    ThreeMaps t;
    ASSERT_OK(define(t.vrn, "A", RC_UNION, {"p"}));
    ASSERT_OK(define(t.secondary, "E", RC_UNION, {"A", "s"}));
    RegionDefinition* def = nullptr;
    EXPECT_OK(RegionAtlas_getDefinitionByText(t.atlas, "E", &def));
    EXPECT_EQ(def->map, t.secondary);
    RegionStatus* s = RegionAtlas_getDefinitionByText(t.atlas, "p", &def);
    EXPECT_CODE(s, 800003);
    EXPECT_EQ(message(s), "Cannot locate Region Definition (p) in Region Atlas,");
    EXPECT_EQ(def, nullptr);
    EXPECT_CODE(RegionAtlas_getDefinitionByText(t.atlas, "  ", &def), 300000);
    EXPECT_CODE(RegionAtlas_getDefinitionByKey(t.atlas, 1, nullptr), 8);
    RegionStringList* names = nullptr;
    ASSERT_OK(RegionAtlas_getExportedNames(t.atlas, 3, &names));
    RegionStringList_sort(names, 0);
    EXPECT_EQ(joinedList(names), "p, A, s, E");
    RegionStringList_delete(&names);
    EXPECT_CODE(RegionAtlas_getExportedNames(t.atlas, 3, nullptr), 3);
    int found = 0;
    RegionName* held = nullptr;
    EXPECT_OK(RegionAtlas_findName(t.atlas, "never interned here", &found, &held));
    EXPECT_EQ(found, 0);
    EXPECT_OK(RegionAtlas_findName(t.atlas, "A", &found, &held));
    EXPECT_EQ(found, 1);
    EXPECT_EQ(held->definition, RegionAtlas_findByKey(t.atlas, held->key)->definition);
}

TEST(Atlas, ExplicitPrimitivesHoldThreeMapsAndShiftUp)
{
    ThreeMaps t;
    ASSERT_OK(RegionMap_addExplicitPrimitive(t.vrn, "Q"));
    ASSERT_OK(RegionMap_addExplicitPrimitive(t.primary, "Q"));
    ASSERT_OK(RegionMap_addExplicitPrimitive(t.secondary, "Q"));
    RegionName* q = RegionMap_findByText(t.vrn, 0, "Q");
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q->explicitMaps[0], t.vrn);
    EXPECT_EQ(q->explicitMaps[2], t.secondary);
    RegionMap* fourth = newMap("Fourth");
    EXPECT_CODE(RegionName_addExplicitMap(q, fourth), 600003);
    ASSERT_OK(RegionMap_removeExplicitPrimitive(t.vrn, "Q"));
    // The VRN map gave the name up: the maps above hold it on a new object.
    q = RegionMap_findByText(t.primary, 0, "Q");
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q, RegionMap_findByText(t.secondary, 0, "Q"));
    EXPECT_EQ(RegionMap_findByText(t.vrn, 0, "Q"), nullptr);
    EXPECT_EQ(RegionAtlas_findByKey(t.atlas, q->key), q);
    EXPECT_EQ(q->explicitMaps[0], t.primary);
    EXPECT_EQ(q->explicitMaps[1], t.secondary);
    EXPECT_EQ(q->explicitMaps[2], nullptr);
    EXPECT_EQ(q->explicitFlag, 1);
    RegionMap_delete(&fourth, 1);
}

TEST(Atlas, TextOfAnEmptyAtlasAndWriting)
{
    RegionAtlas* atlas = nullptr;
    ASSERT_OK(RegionAtlas_new(&atlas, "Empty atlas"));
    EXPECT_EQ(atlasText(atlas), "REGION ATLAS: Empty atlas\nEND # REGION ATLAS\n");
    EXPECT_CODE(RegionAtlas_write(atlas, nullptr), 3);
    char* stale = reinterpret_cast<char*>(&stale);
    EXPECT_CODE(RegionAtlas_getORV(nullptr, &stale), 100000);
    EXPECT_EQ(stale, nullptr);
    FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    EXPECT_OK(RegionAtlas_write(atlas, f));
    EXPECT_EQ(std::ftell(f), 45L);
    std::fclose(f);
    RegionAtlas_delete(atlas, 1);
    RegionAtlas* none = nullptr;
    EXPECT_CODE(RegionAtlas_new(&none, " \t"), 300000);
    EXPECT_CODE(RegionAtlas_new(&none, "a # b"), 100007);
    EXPECT_EQ(none, nullptr);

    // A name ORV cannot hold in a header travels as the real name.
    ASSERT_OK(RegionAtlas_new(&atlas, "1st: atlas"));
    const std::string text = atlasText(atlas);
    EXPECT_EQ(text, "REGION ATLAS: st atlas\n  Real Name = 1st: atlas\nEND # REGION ATLAS\n");
    RegionAtlas* back = nullptr;
    ASSERT_OK(readAtlas(text, &back));
    EXPECT_EQ(std::string(back->name), "1st: atlas");
    RegionAtlas_delete(back, 1);
    RegionAtlas_delete(atlas, 1);
}

TEST(Atlas, ThreeMapsWriteAndReadBack)
{
    ThreeMaps t;
    ASSERT_OK(define(t.vrn, "A", RC_UNION, {"p", "q"}));
    ASSERT_OK(define(t.vrn, "Dq", RC_DIFFERENCE, {"A"}, {"q"}));
    ASSERT_OK(define(t.primary, "C", RC_INTERSECTION, {"A", "r"}));
    ASSERT_OK(define(t.secondary, "E", RC_SYMMETRIC_DIFFERENCE, {"C", "s"}, {"Dq"}));
    ASSERT_OK(RegionMap_addExplicitPrimitive(t.primary, "Lonely"));
    ASSERT_OK(RegionMap_setOwner(t.primary, "owner"));
    const std::string text = atlasText(t.atlas);
    EXPECT_EQ(text.rfind("REGION ATLAS: VRN atlas\n  REGION MAP: Secondary map\n", 0), 0u) << text;
    EXPECT_LT(text.find("REGION MAP: Primary map"), text.find("REGION MAP: VRN map"));

    RegionAtlas* back = nullptr;
    ASSERT_OK(readAtlas(text, &back));
    EXPECT_EQ(atlasText(back), text);
    EXPECT_EQ(resolveIn(back, "E"), resolveIn(t.atlas, "E"));
    RegionAtlas_delete(back, 1);

    RegionAtlas* bad = nullptr;
    EXPECT_CODE(readAtlas("REGION ATLAS: a\nEND\nREGION ATLAS: b\nEND\n", &bad), 6);
    EXPECT_CODE(readAtlas("REGION ATLAS: a\n  REGION MAP: m\n  Type = LOW\n  END\nEND\n", &bad), 6);
    EXPECT_CODE(readAtlas("REGION ATLAS: a\nEND\nEND\n", &bad), 6);
    EXPECT_EQ(bad, nullptr);
}

TEST(Atlas, FailedJoinLeavesAtlasAndMapAsTheyWere)
{
    ThreeMaps t;
    RegionAtlas_detachMap(t.atlas, REGION_MAP_PRIMARY);
    ASSERT_OK(define(t.vrn, "X", RC_UNION, {"k"}));
    RegionMap* m = t.primary;
    ASSERT_OK(define(m, "A", RC_UNION, {"p"}));
    ASSERT_OK(define(m, "B", RC_UNION, {"q", "X"}));
    ASSERT_OK(define(m, "D", RC_UNION, {"X"}));
    ASSERT_OK(RegionMap_addExplicitPrimitive(m, "Alone"));
    // X's definition in the VRN map names D behind the map's back, so that
    // D closes a ring only once its map is in the atlas.
    RegionDefinition* x = nullptr;
    ASSERT_OK(RegionMap_getDefinitionByText(t.vrn, "X", &x));
    ASSERT_OK(RegionStringList_addText(x->sideA, "D"));

    const std::string atlasBefore = atlasText(t.atlas);
    const std::string mapBefore = mapText(m);
    unsigned regionsBefore = 0, regionsAfter = 0;
    RegionAtlas_countRegions(t.atlas, &regionsBefore);
    EXPECT_CODE(RegionAtlas_addMap(t.atlas, m, REGION_MAP_PRIMARY), 700000);
    EXPECT_EQ(m->atlas, nullptr);
    EXPECT_EQ(t.atlas->primaryMap, nullptr);
    EXPECT_EQ(atlasText(t.atlas), atlasBefore);
    EXPECT_EQ(mapText(m), mapBefore);
    RegionAtlas_countRegions(t.atlas, &regionsAfter);
    EXPECT_EQ(regionsAfter, regionsBefore);
    EXPECT_EQ(resolveIn(m, "B"), "q, X");
    RegionStringList_removeText(x->sideA, "D");
    RegionMap_delete(&m, 1);
}

TEST(Atlas, DeletingWithAndWithoutMaps)
{
    ThreeMaps kept;
    ASSERT_OK(define(kept.vrn, "A", RC_UNION, {"p"}));
    ASSERT_OK(define(kept.primary, "C", RC_UNION, {"A", "q"}));
    RegionMap* maps[] = {kept.vrn, kept.primary, kept.secondary};
    EXPECT_OK(RegionAtlas_delete(kept.atlas, 0));
    kept.atlas = nullptr;
    for (RegionMap* m : maps)
        EXPECT_EQ(m->atlas, nullptr);
    EXPECT_EQ(resolveIn(kept.primary, "C"), "A, q");
    for (RegionMap* m : maps)
        RegionMap_delete(&m, 1);

    ThreeMaps gone;
    ASSERT_OK(define(gone.vrn, "A", RC_UNION, {"p"}));
    ASSERT_OK(define(gone.secondary, "E", RC_UNION, {"A", "s"}));
    // Removing a definition that another still names keeps that one whole.
    RegionDefinition* a = nullptr;
    ASSERT_OK(RegionMap_getDefinitionByText(gone.vrn, "A", &a));
    ASSERT_OK(RegionDefinition_delete(&a));
    EXPECT_EQ(resolveIn(gone.atlas, "E"), "A, s");
    EXPECT_EQ(RegionAtlas_delete(nullptr, 1)->code, 100000);
}

TEST(Atlas, SecondaryMapDefiningWhatTheVrnMapAloneUsesIsRefusedByTheAtlas)
{
    // Only a VRN map below: the atlas's own check answers, before the map's
    // definitions are moved, with its own message.
    RegionAtlas* atlas = nullptr;
    ASSERT_OK(RegionAtlas_new(&atlas, "Two levels"));
    RegionMap* vrn = newMap("VRN map");
    ASSERT_OK(define(vrn, "V", RC_UNION, {"W"}));
    ASSERT_OK(RegionAtlas_addMap(atlas, vrn, REGION_MAP_VRN));
    RegionMap* secondary = newMap("Secondary map");
    ASSERT_OK(define(secondary, "W", RC_UNION, {"w"}));
    const std::string before = mapText(secondary);
    RegionStatus* s = RegionAtlas_addMap(atlas, secondary, REGION_MAP_SECONDARY);
    EXPECT_CODE(s, 600005);
    EXPECT_EQ(message(s), "Lower Region Map already uses Region (W) that is defined in Secondary Region Map.");
    EXPECT_EQ(secondary->atlas, nullptr);
    EXPECT_EQ(atlas->secondaryMap, nullptr);
    EXPECT_EQ(mapText(secondary), before);
    EXPECT_EQ(resolveIn(atlas, "V"), "W");
    if (!secondary->atlas)
        RegionMap_delete(&secondary, 1);
    RegionAtlas_delete(atlas, 1);
}

TEST(Atlas, VrnMapJoiningUnderASecondaryMapThatDefinesItsPrimitiveIsRefused)
{
    // The Secondary map is asked whether or not a Primary map stands between,
    // for explicit primitives as for the components of definitions.
    for (bool withPrimary : {false, true}) {
        for (bool explicitOnly : {false, true}) {
            SCOPED_TRACE(std::string(withPrimary ? "with" : "without") + " a Primary map, " +
                         (explicitOnly ? "explicit primitive" : "component"));
            RegionAtlas* atlas = nullptr;
            ASSERT_OK(RegionAtlas_new(&atlas, "Order"));
            RegionMap* secondary = newMap("Secondary map");
            ASSERT_OK(define(secondary, "S", RC_UNION, {"s"}));
            ASSERT_OK(RegionAtlas_addMap(atlas, secondary, REGION_MAP_SECONDARY));
            if (withPrimary) {
                RegionMap* primary = newMap("Primary map");
                ASSERT_OK(define(primary, "P", RC_UNION, {"p"}));
                ASSERT_OK(RegionAtlas_addMap(atlas, primary, REGION_MAP_PRIMARY));
            }
            RegionMap* vrn = newMap("VRN map");
            if (explicitOnly)
                ASSERT_OK(RegionMap_addExplicitPrimitive(vrn, "S"));
            else
                ASSERT_OK(define(vrn, "L", RC_UNION, {"S", "l"}));
            const std::string before = mapText(vrn);
            RegionStatus* s = RegionAtlas_addMap(atlas, vrn, REGION_MAP_VRN);
            EXPECT_CODE(s, 600004);
            EXPECT_EQ(message(s), "Primitive (S) in Region Map is alreaady defined in a higher Region Map");
            EXPECT_EQ(vrn->atlas, nullptr);
            EXPECT_EQ(atlas->vrnMap, nullptr);
            EXPECT_EQ(mapText(vrn), before);
            if (!vrn->atlas)
                RegionMap_delete(&vrn, 1);
            RegionAtlas_delete(atlas, 1);
        }
    }
}
