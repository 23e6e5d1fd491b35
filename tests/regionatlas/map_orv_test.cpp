#include "region_atlas.h"
#include "region_definition.h"
#include "region_hash.h"
#include "region_map.h"
#include "region_reader.h"
#include "region_test_util.h"

#include <sstream>
#include <string>
#include <vector>

using namespace regiontest;

TEST(RegionMapText, SixLineExample)
{
    RegionAtlas* atlas = nullptr;
    RegionMap* map = nullptr;
    RegionAtlas_new(&atlas, "VRN atlas");
    RegionMap_new(&map, "Primary map");
    ASSERT_OK(RegionAtlas_addMap(atlas, map, REGION_MAP_PRIMARY));
    EXPECT_EQ(write(map), "  REGION MAP: Primary map\n\n    Type = PRIMARY\n\n  END # REGION MAP\n\n");
    roundTrip(map);
    RegionAtlas_delete(atlas, 1);
}

TEST(RegionMapText, DefinitionsTagsOwnerAndPrimitives)
{
    RegionMap* map = nullptr;
    RegionMap_new(&map, "Body");
    RegionMap_setOwner(map, "Surgeon");
    RegionDefinition* d = define("D", RC_DIFFERENCE, {"A"}, {"B"});
    RegionDefinition_addTag(d, "a");
    RegionDefinition_addTag(d, "b");
    ASSERT_OK(RegionMap_addDefinition(map, d));
    ASSERT_OK(RegionMap_addDefinition(map, define("S", RC_SYMMETRIC_DIFFERENCE, {"A", "C"}, {"D"})));
    ASSERT_OK(RegionMap_addDefinition(map, define("I", RC_INTERSECTION, {"A", "B", "C"})));
    ASSERT_OK(RegionMap_addDefinition(map, define("Al", RC_ALIAS, {"I"})));
    EXPECT_EQ(write(map, 1),
              "  REGION MAP: Body\n\n"
              "    Owner = Surgeon\n\n"
              "    REGION: D\n"
              "      Tags = a, b\n"
              "      Combination = Difference\n"
              "      Region List A = A\n"
              "      Region List B = B\n"
              "    END # REGION\n\n"
              "    REGION: S\n"
              "      Combination = Symmetric Difference\n"
              "      Region List A = A, C\n"
              "      Region List B = D\n"
              "    END # REGION\n\n"
              "    REGION: I\n"
              "      Combination = Intersection\n"
              "      Region List = A, B, C\n"
              "    END # REGION\n\n"
              "    REGION: Al\n"
              "      Combination = Alias\n"
              "      Region List = I\n"
              "    END # REGION\n\n"
              "    PRIMITIVE REGIONS: \n"
              "      Primitive Region List = A, B, C\n"
              "    END # PRIMITIVE REGIONS\n"
              "  END # REGION MAP\n\n");
    roundTrip(map, 1);
    roundTrip(map, 0);
    RegionMap_delete(&map, 1);
}

TEST(RegionMapText, NamesOrvCannotHoldTravelAsRealNames)
{
    RegionMap* map = nullptr;
    RegionMap_new(&map, "1st map: left/right");
    // Two names whose non-ASCII bytes give the same substitute.
    ASSERT_OK(RegionMap_addDefinition(map, define("\xC3\x84Lung", RC_UNION, {"x\xC3\xA9"})));
    ASSERT_OK(RegionMap_addDefinition(map, define("\xC3\x96Lung", RC_UNION, {"y"})));
    for (const char* odd : {"2nd", "a-b", "a/b", "a:b", "50%s", "REGION", "f(x)", "%lead"})
        ASSERT_OK(RegionMap_addDefinition(map, define(odd, RC_UNION, {"z"})));
    std::string text = write(map);
    EXPECT_NE(text.find("    REGION: Lung\n      Real Name = \xC3\x84Lung\n"), std::string::npos) << text;
    EXPECT_NE(text.find("    REGION: Lung 0\n      Real Name = \xC3\x96Lung\n"), std::string::npos) << text;
    EXPECT_NE(text.find("    REGION: %lead\n      Combination"), std::string::npos) << text;
    EXPECT_NE(text.find("  REGION MAP: st map  left right\n\n    Real Name = 1st map: left/right\n\n"),
              std::string::npos)
        << text;
    roundTrip(map);
    RegionMap_delete(&map, 1);
}

TEST(RegionMapText, LongNamesAreCutInTheSubstituteOnly)
{
    std::string longName = "\xC3\x84" + std::string(2000, 'n');
    EXPECT_EQ(std::string(RegionName_toORVName(longName.c_str())).size(), 1008u);
    RegionMap* map = nullptr;
    RegionMap_new(&map, "Long");
    ASSERT_OK(RegionMap_addDefinition(map, define(longName.c_str(), RC_UNION, {"p"})));
    roundTrip(map);
    RegionMap_delete(&map, 1);
    unsigned key;
    RegionDictionary_intern("Region", &key);
    EXPECT_STREQ(RegionName_toORVName("\xC3\x84\xC3\x96"), "Region 0");
}

TEST(RegionMapText, ReadingWithoutAMapObjectOrIntoAHeldMap)
{
    RegionMap* map = nullptr;
    ASSERT_OK(read("REGION: Top\n Combination = Union\n Region List = p, q\nEND\nOwner = one, two\n", &map));
    EXPECT_EQ(describe(map), "New Map|-\nTop 1 [p, q] [] {}\n");
    EXPECT_CODE(read("REGION MAP: Renamed\n Owner = Me\nEND\n", &map), 0);
    EXPECT_EQ(describe(map), "Renamed|Me\nTop 1 [p, q] [] {}\n");
    RegionMap_delete(&map, 1);
    ASSERT_OK(read("A: x\n REGION MAP: Inner\n END\nEND\nREGION MAP: Other\nEND\n", &map, "/A:x/REGION MAP:Inner"));
    EXPECT_STREQ(map->name, "Inner");
    RegionMap_delete(&map, 1);
}

TEST(RegionMapText, MalformedTextsGiveCodesAndMessages)
{
    struct Case {
        const char* text;
        int code;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"REGION MAP: M\nEND\nEND\n", 6,
         {"Unable to read Region Map: Unrecognised ORV.\n", "parseORVLineH: unmatched END.\n"}},
        {"REGION MAP: M\nEND\nREGION MAP: N\nEND\n", 6, {"Unable to read map: Multiple Map entries found..\n"}},
        {"REGION MAP: M\n REGION: R\n Combination = Union\n END\nEND\n", 6,
         {"Unable to read definition: Missing 'Region List' for definition.\n"}},
        {"REGION MAP: M\n REGION: R\n Combination = Difference\n Region List A = a\n END\nEND\n", 6,
         {"Unable to read definition: Missing 'Region List B' for definition.\n"}},
        {"REGION MAP: M\n REGION: R\n Region List = \n END\nEND\n", 700002,
         {"Region Definition requires at least one component..\n"}},
        {"REGION MAP: M\n REGION: R\n Region List = a, b\n END\nEND\n", 200003,
         {"ALIAS Region Definition requires at most one component..\n"}},
        {"REGION MAP: M\n REGION: R\n Combination = Merge\n Region List = a\n END\nEND\n", 100004,
         {"Invalid combination..\n"}},
        {"REGION MAP: M\n REGION: R\n Combination = Nothing\n Region List = a\n END\nEND\n", 6,
         {"Unable to read definition: Unrecognised Combination..\n"}},
        {"REGION MAP: M\n REGION: R\n Combination = Union\n Region List = a, , b\n END\nEND\n", 300000,
         {"Invalid name - cannot be blank..\n"}},
        {"REGION MAP: M\n REGION: R\n Combination = Union\n Region List = a(, b\n END\nEND\n", 100007,
         {"Invalid name - cannot hold ','..\n"}},
        {"REGION MAP: M\n REGION: R\n Combination = Union\n Region List = R\n END\nEND\n", 700000,
         {"Region Definition (R) references itself..\n"}},
        {"REGION MAP: M\n REGION: R\n Real Name = \xC3\xA9 \n Combination = Union\n Region List = x\n END\n"
         " REGION: S\n Real Name = \xC3\xA9\n Combination = Union\n Region List = y\n END\nEND\n",
         800004, {"Region Definition (\xC3\xA9) is already defined..\n"}},
    };
    for (const Case& c : cases) {
        RegionMap* map = nullptr;
        RegionStatus* s = read(c.text, &map);
        EXPECT_EQ(RegionStatus_getCode(s), c.code) << c.text;
        EXPECT_EQ(lines(s), c.lines) << c.text;
        if (map)
            RegionMap_delete(&map, 1);
    }
    RegionMap* map = nullptr;
    RegionStatus* s = RegionMap_readFromStrings(&map, 1, nullptr, nullptr);
    EXPECT_EQ(s->code, 3);
    EXPECT_STREQ(s->message, "Unable to read Region Map: Invalid string pointer.");
    EXPECT_CODE(RegionMap_readFromStrings(nullptr, 0, nullptr, nullptr), 3);
}

TEST(RegionReader, SharedRoutines)
{
    EXPECT_EQ(RegionReader_hasType("REGION", "REGION:Main"), 1);
    EXPECT_EQ(RegionReader_hasType("REGION", "REGION MAP:Main"), 0);
    EXPECT_EQ(RegionReader_hasType("REGION", "REGION"), 0);
    unsigned key = 0;
    RegionDictionary_intern("solo", &key);
    EXPECT_EQ(take(RegionNames_join(&key, 1)), "solo");
    EXPECT_EQ(RegionNames_join(&key, 0), nullptr);
    void* block = std::malloc(4);
    EXPECT_OK(RegionArray_delete(&block));
    EXPECT_EQ(block, nullptr);
    EXPECT_STREQ(RegionArray_delete(nullptr)->message, "Invalid object pointer - cannot destroy array.");
}
