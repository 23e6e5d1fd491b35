#include "atlas_fixture.h"
#include "orvapi.h"

#include <string>
#include <vector>

using namespace regiontest;

namespace {

std::string orvOf(RegionDefinition* def)
{
    char* text = nullptr;
    RegionStatus* s = RegionDefinition_getORV(def, &text);
    if (RegionStatus_isError(s))
        return "error " + std::to_string(RegionStatus_getCode(s));
    return text;
}

std::string sideText(RegionDefinition* def, int side)
{
    char* text = nullptr;
    RegionStatus* s = RegionDefinition_getComponents(def, side, 4, &text);
    if (RegionStatus_isError(s))
        return "error " + std::to_string(RegionStatus_getCode(s));
    return take(text);
}

// Reads one definition from ORV lines; returns the status code.
int readDefinition(std::vector<const char*> lines, RegionDefinition** def)
{
    OrvHandle* h = orvCreateHandle();
    const char* err = loadORVDataH(h, const_cast<char**>(lines.data()), static_cast<int>(lines.size()));
    EXPECT_EQ(err, nullptr) << err;
    int code = RegionStatus_getCode(RegionDefinition_fromORV(def, h, nullptr));
    orvDestroyHandle(h);
    return code;
}

}  // namespace

TEST(Definition, CreationRefusesBadRequests)
{
    RegionDefinition* def = nullptr;
    RegionStatus* s = makeDefinition(&def, "Zone", RC_UNION, {"Zone"});
    EXPECT_CODE(s, 700000);
    EXPECT_EQ(message(s), "Region Definition (Zone) references itself.");
    EXPECT_CODE(makeDefinition(&def, "C", RC_COMPLEMENT, {"a"}), 100004);
    EXPECT_CODE(makeDefinition(&def, "M", RC_MERGE, {"a"}), 100004);
    EXPECT_CODE(makeDefinition(&def, "A", RC_ALIAS, {"a", "b"}), 200003);
    EXPECT_CODE(makeDefinition(&def, "U", RC_UNION, {}), 700002);
    EXPECT_CODE(makeDefinition(&def, "D", RC_DIFFERENCE, {"a"}), 700002);
    EXPECT_CODE(makeDefinition(&def, "U", RC_UNION, {"a", nullptr}), 300000);
    EXPECT_CODE(makeDefinition(&def, "U", RC_UNION, {"a", " \t"}), 300000);
    EXPECT_CODE(makeDefinition(&def, "U", RC_UNION, {"a,b"}), 100007);
    EXPECT_CODE(makeDefinition(&def, " ", RC_UNION, {"a"}), 300000);
    EXPECT_CODE(makeDefinition(nullptr, "U", RC_UNION, {"a"}), 8);
    EXPECT_EQ(def, nullptr);
}

TEST(Definition, ComponentEditsOutsideAMap)
{
    RegionDefinition* def = nullptr;
    ASSERT_OK(makeDefinition(&def, "U", RC_UNION, {"A", "B"}));
    const char* b[] = {"B"};
    EXPECT_OK(RegionDefinition_modifyComponents(def, RO_ADD, 1, const_cast<char**>(b), 1));
    EXPECT_EQ(sideText(def, 1), "A, B");
    const char* twice[] = {"A", "B", "A"};
    EXPECT_CODE(RegionDefinition_modifyComponents(def, RO_REMOVE, 1, const_cast<char**>(twice), 3), 700003);
    const char* c[] = {"C"};
    RegionStatus* s = RegionDefinition_modifyComponents(def, RO_REMOVE, 1, const_cast<char**>(c), 1);
    EXPECT_CODE(s, 800000);
    EXPECT_EQ(message(s), "Component \"C\" is not in the component list");
    const char* self[] = {"U"};
    EXPECT_CODE(RegionDefinition_modifyComponents(def, RO_ADD, 1, const_cast<char**>(self), 1), 700000);
    EXPECT_CODE(RegionDefinition_modifyComponents(def, RO_ADD, 1, nullptr, 1), 300000);
    EXPECT_CODE(RegionDefinition_modifyComponents(def, RO_ADD, 2, const_cast<char**>(c), 1), 100006);
    EXPECT_CODE(RegionDefinition_modifyComponents(def, 9, 1, const_cast<char**>(c), 1), 100005);
    EXPECT_EQ(sideText(def, 1), "A, B");
    // A cleared side cannot be written.
    EXPECT_OK(RegionDefinition_modifyComponents(def, RO_CLEAR, 1, nullptr, 0));
    EXPECT_EQ(orvOf(def), "error 3");
    EXPECT_EQ(def->orvText, nullptr);
    RegionDefinition_delete(&def);

    ASSERT_OK(makeDefinition(&def, "D", RC_DIFFERENCE, {"A"}, {"B"}));
    EXPECT_OK(RegionDefinition_modifyComponents(def, RO_CLEAR, 2, nullptr, 0));
    EXPECT_EQ(def->sideB, nullptr);
    RegionDefinition_delete(&def);

    ASSERT_OK(makeDefinition(&def, "X", RC_ALIAS, {"A"}));
    EXPECT_CODE(RegionDefinition_modifyComponents(def, RO_ADD, 1, const_cast<char**>(c), 1), 700001);
    RegionDefinition_delete(&def);
}

TEST(Definition, AnUnwritableDefinitionIsRefusedWhereItIsMadeOrAdded)
{
    RegionMap* map = newMap("Writable");
    RegionDefinition* def = nullptr;
    // Outside a map as inside one: no two-sided combination without a
    // side B, no alias of several components.
    ASSERT_OK(makeDefinition(&def, "U", RC_UNION, {"a"}));
    EXPECT_CODE(RegionDefinition_setCombination(def, RC_DIFFERENCE), 700002);
    EXPECT_CODE(RegionDefinition_setCombination(def, RC_SYMMETRIC_DIFFERENCE), 700002);
    RegionDefinition* three = nullptr;
    ASSERT_OK(makeDefinition(&three, "T", RC_UNION, {"a", "b", "c"}));
    EXPECT_CODE(RegionDefinition_setCombination(three, RC_ALIAS), 200003);
    // A side emptied outside a map keeps the definition out of one.
    RegionDefinition* d = nullptr;
    ASSERT_OK(makeDefinition(&d, "D", RC_DIFFERENCE, {"a"}, {"b"}));
    EXPECT_OK(RegionDefinition_modifyComponents(d, RO_CLEAR, 2, nullptr, 0));
    EXPECT_CODE(RegionMap_addDefinition(map, d), 700002);
    EXPECT_OK(RegionDefinition_modifyComponents(three, RO_CLEAR, 1, nullptr, 0));
    EXPECT_CODE(RegionMap_addDefinition(map, three), 700002);
    ASSERT_OK(RegionMap_addDefinition(map, def));
    EXPECT_EQ(def->combination, RC_UNION);
    char* text = nullptr;
    EXPECT_OK(RegionMap_getORV(map, 0, &text));
    RegionDefinition_delete(&d);
    RegionDefinition_delete(&three);
    RegionMap_delete(&map, 1);
}

TEST(Definition, WritesItsRegionBlock)
{
    RegionDefinition* def = nullptr;
    ASSERT_OK(makeDefinition(&def, "D", RC_DIFFERENCE, {"A"}, {"B"}));
    EXPECT_EQ(orvOf(def), "    REGION: D\n"
                          "      Combination = Difference\n"
                          "      Region List A = A\n"
                          "      Region List B = B\n"
                          "    END # REGION\n\n");
    ASSERT_OK(RegionDefinition_addTag(def, "a"));
    ASSERT_OK(RegionDefinition_addTag(def, "b"));
    ASSERT_OK(RegionDefinition_addTag(def, "a"));
    EXPECT_NE(orvOf(def).find("      Tags = a, b\n"), std::string::npos);
    EXPECT_CODE(RegionDefinition_addTag(def, "x#y"), 100007);
    RegionDefinition_delete(&def);

    ASSERT_OK(makeDefinition(&def, "\xC3\xA9Lung", RC_UNION, {"p"}));
    EXPECT_EQ(orvOf(def), "    REGION: Lung\n"
                          "      Real Name = \xC3\xA9Lung\n"
                          "      Combination = Union\n"
                          "      Region List = p\n"
                          "    END # REGION\n\n");
    RegionDefinition_delete(&def);
}

TEST(Definition, ReadsRegionBlocks)
{
    RegionDefinition* def = nullptr;
    EXPECT_EQ(readDefinition({"REGION: R", "Region List = a", "END"}, &def), 0);
    ASSERT_NE(def, nullptr);
    EXPECT_EQ(def->combination, RC_ALIAS);
    RegionDefinition_delete(&def);
    EXPECT_EQ(readDefinition({"REGION: R", "Region List = a, b", "END"}, &def), 200003);
    EXPECT_EQ(readDefinition({"REGION: R", "Combination = Complement", "Region List = a", "END"}, &def), 100004);
    EXPECT_EQ(readDefinition({"REGION: R", "Combination = Merge", "Region List = a", "END"}, &def), 100004);
    EXPECT_EQ(readDefinition({"REGION: R", "Combination = Sum", "Region List = a", "END"}, &def), 6);
    EXPECT_EQ(readDefinition({"REGION: R", "Combination = Union", "Region List = ", "END"}, &def), 700002);
    EXPECT_EQ(readDefinition({"REGION: R", "Combination = Union", "Region List = a, , b", "END"}, &def), 300000);
    EXPECT_EQ(readDefinition({"REGION: R", "Combination = Difference", "Region List A = a", "END"}, &def), 6);
    EXPECT_EQ(readDefinition({"REGION: R", "Region List = a", "END", "REGION: S", "Region List = a", "END"}, &def), 6);
    EXPECT_EQ(def, nullptr);

    // What a definition writes reads back as the same definition.
    RegionDefinition* original = nullptr;
    ASSERT_OK(makeDefinition(&original, "\xC3\xA9Heart", RC_SYMMETRIC_DIFFERENCE, {"a", "b(1)"}, {"c"}));
    ASSERT_OK(RegionDefinition_addTag(original, "t1"));
    std::string text = orvOf(original);
    std::vector<std::string> lines;
    for (size_t at = 0, nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1)
        lines.push_back(text.substr(at, nl - at));
    std::vector<const char*> raw;
    for (const std::string& l : lines)
        raw.push_back(l.c_str());
    ASSERT_EQ(readDefinition(raw, &def), 0);
    EXPECT_EQ(orvOf(def), orvOf(original));
    RegionDefinition_delete(&def);
    RegionDefinition_delete(&original);
}

TEST(Definition, ChangesInsideAMapKeepItWritable)
{
    RegionMap* map = newMap("Edits");
    ASSERT_OK(define(map, "U", RC_UNION, {"a", "b"}));
    ASSERT_OK(define(map, "B", RC_UNION, {"p"}));
    RegionDefinition* u = nullptr;
    ASSERT_OK(RegionMap_getDefinitionByText(map, "U", &u));
    EXPECT_CODE(RegionDefinition_setCombination(u, RC_DIFFERENCE), 700002);
    EXPECT_CODE(RegionDefinition_setCombination(u, RC_ALIAS), 200003);
    EXPECT_CODE(RegionDefinition_setCombination(u, RC_MERGE), 100004);
    EXPECT_OK(RegionDefinition_setCombination(u, RC_INTERSECTION));
    EXPECT_OK(RegionDefinition_setCombination(u, RC_UNION));
    EXPECT_CODE(RegionDefinition_modifyComponents(u, RO_CLEAR, 1, nullptr, 0), 700001);

    // A component added inside the map passes the admission rules.
    const char* added[] = {"B", "c"};
    EXPECT_OK(RegionDefinition_modifyComponents(u, RO_ADD, 1, const_cast<char**>(added), 2));
    EXPECT_EQ(sideText(u, 1), "a, b, B, c");
    EXPECT_EQ(u->map, map);
    const char* removed[] = {"a"};
    EXPECT_OK(RegionDefinition_modifyComponents(u, RO_REMOVE, 1, const_cast<char**>(removed), 1));
    EXPECT_EQ(resolveIn(map, "U"), "b, p, c");

    // A rename that the map refuses reports that refusal and changes nothing.
    RegionDefinition* b = nullptr;
    ASSERT_OK(RegionMap_getDefinitionByText(map, "B", &b));
    const char* u_[] = {"U"};
    EXPECT_CODE(RegionDefinition_modifyComponents(b, RO_ADD, 1, const_cast<char**>(u_), 1), 700000);
    RegionStatus* s = RegionDefinition_rename(u, "p");
    EXPECT_CODE(s, 700000);
    EXPECT_EQ(std::string(RegionName_getText(u->name)), "U");
    EXPECT_EQ(u->map, map);
    EXPECT_EQ(resolveIn(map, "U"), "b, p, c");
    RegionMap_delete(&map, 1);
}

TEST(Definition, AnEditTheMapRefusesLeavesTheDefinitionAsItWas)
{
    RegionMap* map = newMap("Broken");
    ASSERT_OK(define(map, "X", RC_UNION, {"k"}));
    ASSERT_OK(define(map, "B", RC_UNION, {"X"}));
    RegionDefinition* x = nullptr;
    RegionDefinition* b = nullptr;
    ASSERT_OK(RegionMap_getDefinitionByText(map, "X", &x));
    ASSERT_OK(RegionMap_getDefinitionByText(map, "B", &b));
    // X names B behind the map's back: B, once out, would no longer pass
    // admission, yet an edit that fails must not lose it.
    ASSERT_OK(RegionStringList_addText(x->sideA, "B"));
    const char* c[] = {"c"};
    EXPECT_CODE(RegionDefinition_modifyComponents(b, RO_ADD, 1, const_cast<char**>(c), 1), 700000);
    EXPECT_EQ(b->map, map);
    EXPECT_EQ(sideText(b, 1), "X");
    RegionStringList_removeText(x->sideA, "B");
    RegionMap_delete(&map, 1);
}
