// Names long enough to bring the paths of ORV text to the reader's limit:
// whatever a definition, map or atlas accepts must read back.
#include "atlas_fixture.h"
#include "orvapi.h"
#include "region_reader.h"

#include <cstring>
#include <string>
#include <vector>

using namespace regiontest;

namespace {

const size_t kLimit = ORV_MAX_PATH_LENGTH;

// The longest lines each block can write, as paths from the block.
const size_t kDefinitionLine = std::strlen("/Region List A");
const size_t kMapLine = std::strlen("/PRIMITIVE REGIONS/Primitive Region List");

std::string orvOf(RegionDefinition* def)
{
    char* text = nullptr;
    RegionStatus* s = RegionDefinition_getORV(def, &text);
    return RegionStatus_isError(s) ? "error " + std::to_string(RegionStatus_getCode(s)) : text;
}

RegionStatus* readDefinition(const std::string& text, RegionDefinition** def)
{
    std::vector<std::string> l = splitLines(text);
    std::vector<char*> raw;
    for (std::string& line : l)
        raw.push_back(&line[0]);
    return RegionReader_readORV(RegionDefinition_className(), reinterpret_cast<void**>(def),
                                static_cast<int>(raw.size()), raw.data(), nullptr,
                                [](void** object, OrvHandle* handle, const char* path) {
                                    return RegionDefinition_fromORV(reinterpret_cast<RegionDefinition**>(object),
                                                                    handle, path);
                                });
}

std::string nameOf(RegionDefinition* def) { return RegionName_getText(def->name); }

std::string tooLong(const std::string& what, size_t length)
{
    return "Invalid name - " + what + " would make a path of " + std::to_string(length) +
           " characters in ORV text, more than the " + std::to_string(kLimit) + " it can hold.";
}

RegionDefinition* definitionIn(RegionMap* map, const std::string& name)
{
    RegionDefinition* def = nullptr;
    RegionMap_getDefinitionByText(map, name.c_str(), &def);
    return def;
}

}  // namespace

TEST(LongNames, DefinitionNameAsLongAsItsOwnTextHoldsReadsBackAndOneMoreIsRefused)
{
    // A two-sided definition writes the longest line a block has.
    const size_t longest = kLimit - std::strlen("/REGION:") - kDefinitionLine;
    const std::string name(longest, 'D');
    RegionDefinition* def = nullptr;
    ASSERT_OK(makeDefinition(&def, name.c_str(), RC_DIFFERENCE, {"a"}, {"b"}));
    const std::string text = orvOf(def);
    RegionDefinition* back = nullptr;
    ASSERT_OK(readDefinition(text, &back));
    EXPECT_EQ(nameOf(back), name);
    EXPECT_EQ(orvOf(back), text);
    RegionDefinition_delete(&back);

    const std::string over(longest + 1, 'E');
    RegionDefinition* refused = nullptr;
    RegionStatus* s = makeDefinition(&refused, over.c_str(), RC_DIFFERENCE, {"a"}, {"b"});
    EXPECT_CODE(s, 100007);
    EXPECT_EQ(message(s), tooLong("a Region Definition name of " + std::to_string(over.size()) + " characters",
                                  kLimit + 1));
    EXPECT_EQ(refused, nullptr);
    RegionDefinition_delete(&refused);
    EXPECT_CODE(RegionDefinition_rename(def, over.c_str()), 100007);
    EXPECT_EQ(nameOf(def), name);
    // A name object of that text (as a component may have) cannot name it
    // either.
    RegionName* object = nullptr;
    ASSERT_OK(RegionName_new(&object, over.c_str()));
    EXPECT_CODE(RegionDefinition_setName(def, object), 100007);
    EXPECT_EQ(nameOf(def), name);
    if (def->name != object)
        RegionName_delete(&object);
    RegionDefinition_delete(&def);

    // As a component the same name is a value, not a path.
    ASSERT_OK(makeDefinition(&def, "Uses it", RC_UNION, {over.c_str()}));
    ASSERT_OK(readDefinition(orvOf(def), &back));
    EXPECT_EQ(orvOf(back), orvOf(def));
    RegionDefinition_delete(&back);
    RegionDefinition_delete(&def);
}

TEST(LongNames, DefinitionInAMapReadsBackAtThePathLimitAndOneMoreIsRefused)
{
    RegionMap* map = newMap("Primary map");
    const size_t longest = kLimit - std::strlen("/REGION MAP:Primary map") - std::strlen("/REGION:") - kDefinitionLine;
    const std::string name(longest, 'D');
    ASSERT_OK(define(map, name.c_str(), RC_DIFFERENCE, {"a"}, {"b"}));
    ASSERT_OK(define(map, "Short", RC_UNION, {"c"}));
    roundTrip(map, 1);

    // One byte more: a definition of its own, but not in this map.
    const std::string over(longest + 1, 'E');
    RegionDefinition* def = nullptr;
    ASSERT_OK(makeDefinition(&def, over.c_str(), RC_DIFFERENCE, {"a"}, {"b"}));
    RegionStatus* s = RegionMap_addDefinition(map, def);
    EXPECT_CODE(s, 100007);
    EXPECT_EQ(message(s), tooLong("Region Definition (" + over + ") in Region Map (Primary map)", kLimit + 1));
    EXPECT_EQ(def->map, nullptr);
    RegionDefinition_delete(&def);

    // Nor by renaming a definition of the map.
    RegionDefinition* shortDef = definitionIn(map, "Short");
    ASSERT_NE(shortDef, nullptr);
    EXPECT_CODE(RegionDefinition_rename(shortDef, over.c_str()), 100007);
    EXPECT_EQ(nameOf(shortDef), "Short");
    EXPECT_EQ(shortDef->map, map);

    // Nor by giving the map a longer name while it holds the longest.
    s = RegionMap_setName(map, "Primary map2");
    EXPECT_CODE(s, 100007);
    EXPECT_EQ(message(s), tooLong("Region Map (Primary map2) with its definitions", kLimit + 1));
    EXPECT_EQ(std::string(map->name), "Primary map");
    ASSERT_OK(RegionMap_setName(map, "Primary mp2"));
    roundTrip(map, 1);
    RegionMap_delete(&map, 1);
}

TEST(LongNames, MapNameAsLongAsItsOwnTextHoldsReadsBackAndOneMoreIsRefused)
{
    const size_t longest = kLimit - std::strlen("/REGION MAP:") - kMapLine;
    const std::string name(longest, 'M');
    RegionMap* map = newMap(name.c_str());
    ASSERT_NE(map, nullptr);
    // Its primitives block writes the longest line of the map's own.
    ASSERT_OK(define(map, "U", RC_UNION, {"p"}));
    roundTrip(map, 1);

    const std::string over(longest + 1, 'N');
    RegionMap* refused = nullptr;
    RegionStatus* s = RegionMap_new(&refused, over.c_str());
    EXPECT_CODE(s, 100007);
    EXPECT_EQ(message(s),
              tooLong("a Region Map name of " + std::to_string(over.size()) + " characters", kLimit + 1));
    EXPECT_EQ(refused, nullptr);
    EXPECT_CODE(RegionMap_setName(map, over.c_str()), 100007);
    EXPECT_EQ(std::string(map->name), name);
    RegionMap_delete(&map, 1);
}

TEST(LongNames, MapJoinedToAnAtlasReadsBackAtThePathLimitAndOneMoreIsRefused)
{
    // Atlas, map and definition names share one path.
    const size_t room = kLimit - std::strlen("/REGION ATLAS:") - std::strlen("/REGION MAP:") -
                        std::strlen("/REGION:") - kDefinitionLine;
    const std::string mapName(1500, 'M');
    const std::string defName(1500, 'D');
    const std::string over(1501, 'E');
    const std::string atlasName(room - mapName.size() - defName.size(), 'A');
    for (bool definedFirst : {true, false}) {
        SCOPED_TRACE(definedFirst ? "defined before the map joins" : "defined after the map joins");
        RegionAtlas* atlas = nullptr;
        ASSERT_OK(RegionAtlas_new(&atlas, atlasName.c_str()));
        RegionMap* map = newMap(mapName.c_str());
        RegionStatus* s = nullptr;
        if (definedFirst) {
            ASSERT_OK(define(map, over.c_str(), RC_DIFFERENCE, {"a"}, {"b"}));
            const std::string before = write(map, 1);
            s = RegionAtlas_addMap(atlas, map, REGION_MAP_PRIMARY);
            EXPECT_CODE(s, 100007);
            EXPECT_EQ(message(s), tooLong("Region Map (" + mapName + ") with its definitions in Region Atlas (" +
                                              atlasName + ")",
                                          kLimit + 1));
            EXPECT_EQ(map->atlas, nullptr);
            EXPECT_EQ(atlas->primaryMap, nullptr);
            EXPECT_EQ(write(map, 1), before);
            RegionDefinition* def = definitionIn(map, over);
            ASSERT_NE(def, nullptr);
            ASSERT_OK(RegionDefinition_delete(&def));
            ASSERT_OK(define(map, defName.c_str(), RC_DIFFERENCE, {"a"}, {"b"}));
            ASSERT_OK(RegionAtlas_addMap(atlas, map, REGION_MAP_PRIMARY));
        } else {
            ASSERT_OK(RegionAtlas_addMap(atlas, map, REGION_MAP_PRIMARY));
            s = define(map, over.c_str(), RC_DIFFERENCE, {"a"}, {"b"});
            EXPECT_CODE(s, 100007);
            EXPECT_EQ(message(s), tooLong("Region Definition (" + over + ") in Region Map (" + mapName +
                                              ") in Region Atlas (" + atlasName + ")",
                                          kLimit + 1));
            EXPECT_EQ(definitionIn(map, over), nullptr);
            ASSERT_OK(define(map, defName.c_str(), RC_DIFFERENCE, {"a"}, {"b"}));
        }
        const std::string text = atlasText(atlas);
        RegionAtlas* back = nullptr;
        ASSERT_OK(readAtlas(text, &back));
        EXPECT_EQ(atlasText(back), text);
        RegionAtlas_delete(back, 1);

        // Neither the atlas nor the map can take a longer name now.
        const std::string longerAtlas(atlasName.size() + 1, 'B');
        s = RegionAtlas_setName(atlas, longerAtlas.c_str());
        EXPECT_CODE(s, 100007);
        EXPECT_EQ(message(s), tooLong("Region Map (" + mapName + ") with its definitions in Region Atlas (" +
                                          longerAtlas + ")",
                                      kLimit + 1));
        EXPECT_EQ(std::string(atlas->name), atlasName);
        const std::string longerMap(mapName.size() + 1, 'N');
        EXPECT_CODE(RegionMap_setName(map, longerMap.c_str()), 100007);
        EXPECT_EQ(std::string(map->name), mapName);
        EXPECT_EQ(atlasText(atlas), text);
        RegionAtlas_delete(atlas, 1);
    }
}

TEST(LongNames, AtlasNameAsLongAsItsOwnTextHoldsReadsBackAndOneMoreIsRefused)
{
    const size_t longest = kLimit - std::strlen("/REGION ATLAS:");
    const std::string name(longest, 'A');
    RegionAtlas* atlas = nullptr;
    ASSERT_OK(RegionAtlas_new(&atlas, name.c_str()));
    const std::string text = atlasText(atlas);
    RegionAtlas* back = nullptr;
    ASSERT_OK(readAtlas(text, &back));
    EXPECT_EQ(std::string(back->name), name);
    RegionAtlas_delete(back, 1);

    const std::string over(longest + 1, 'B');
    RegionAtlas* refused = nullptr;
    EXPECT_CODE(RegionAtlas_new(&refused, over.c_str()), 100007);
    EXPECT_EQ(refused, nullptr);
    EXPECT_CODE(RegionAtlas_setName(atlas, over.c_str()), 100007);
    EXPECT_EQ(std::string(atlas->name), name);
    // And no map fits under it.
    RegionMap* map = newMap("m");
    EXPECT_CODE(RegionAtlas_addMap(atlas, map, REGION_MAP_PRIMARY), 100007);
    EXPECT_EQ(map->atlas, nullptr);
    RegionMap_delete(&map, 1);
    RegionAtlas_delete(atlas, 1);
}

TEST(LongNames, NameWrittenUnderASubstituteIsNotRefusedForItsLength)
{
    // A name that cannot stand in a header is written under a short
    // substitute, with the name itself as a value: its length makes no path.
    const std::string name = "x" + std::string(kLimit, '-');
    RegionAtlas* atlas = nullptr;
    ASSERT_OK(RegionAtlas_new(&atlas, ("Atlas " + name).c_str()));
    RegionMap* map = newMap(("Map " + name).c_str());
    ASSERT_NE(map, nullptr);
    ASSERT_OK(define(map, name.c_str(), RC_DIFFERENCE, {"a"}, {"b"}));
    roundTrip(map, 1);
    ASSERT_OK(RegionAtlas_addMap(atlas, map, REGION_MAP_PRIMARY));
    const std::string text = atlasText(atlas);
    RegionAtlas* back = nullptr;
    ASSERT_OK(readAtlas(text, &back));
    EXPECT_EQ(atlasText(back), text);
    RegionAtlas_delete(back, 1);
    RegionAtlas_delete(atlas, 1);
}

TEST(LongNames, RealNameThatWouldStandInTooLongAPathIsRefusedOnReading)
{
    // A text can carry in a value a plain name that, written back as a
    // header, would make the path too long: such a map must not be read, or
    // it could not be read again.
    const size_t longest = kLimit - std::strlen("/REGION MAP:m") - std::strlen("/REGION:") - kDefinitionLine;
    for (size_t length : {longest, longest + 1}) {
        SCOPED_TRACE(length);
        const std::string text = "REGION MAP: m\n  REGION: r\n    Real Name = " + std::string(length, 'R') +
                                 "\n    Combination = Difference\n    Region List A = a\n"
                                 "    Region List B = b\n  END\nEND\n";
        RegionMap* map = nullptr;
        RegionStatus* s = read(text, &map);
        if (length == longest) {
            ASSERT_OK(s);
            roundTrip(map, 1);
        } else {
            EXPECT_CODE(s, 100007);
            ASSERT_NE(map, nullptr);
            EXPECT_EQ(definitionsOf(map).size(), 0u);
        }
        if (map)
            RegionMap_delete(&map, 1);
    }
}
