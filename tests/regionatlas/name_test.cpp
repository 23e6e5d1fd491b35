#include "region_definition.h"
#include "region_map.h"
#include "region_name.h"
#include "region_test_util.h"

#include <string>

TEST(RegionName, BlankAndUnstorableTextsAreRefused)
{
    RegionName* n = reinterpret_cast<RegionName*>(1);
    EXPECT_CODE(RegionName_new(&n, " \t "), 300000);
    EXPECT_EQ(n, nullptr);
    for (const char* bad : {"a#b", "a,b", "a(b", "a)b(", "tab\there", "end\\", " lead", "two  blanks", "trail "}) {
        RegionStatus* s = RegionName_new(&n, bad);
        EXPECT_EQ(RegionStatus_getCode(s), 100007) << bad;
        EXPECT_EQ(n, nullptr);
    }
    EXPECT_OK(RegionName_new(&n, "f(a) %s-1/2:x"));
    RegionName_delete(&n);
}

TEST(RegionName, SameTextSameKeyAndRenameNeedsAnInternedText)
{
    RegionName* a = nullptr;
    RegionName* b = nullptr;
    ASSERT_OK(RegionName_new(&a, "Lung"));
    ASSERT_OK(RegionName_new(&b, "Lung"));
    EXPECT_NE(a, b);
    EXPECT_EQ(a->key, b->key);
    EXPECT_CODE(RegionName_rename(a, "never seen"), 800000);
    EXPECT_STREQ(RegionName_getText(a), "Lung");
    RegionName* c = nullptr;
    RegionName_new(&c, "Heart");
    EXPECT_OK(RegionName_rename(a, "Heart"));
    EXPECT_EQ(a->key, c->key);
    EXPECT_CODE(RegionName_setKey(a, 0), 800000);
    for (RegionName** n : {&a, &b, &c})
        RegionName_delete(n);
}

TEST(RegionName, MapSlotsFillFromTheFirstAndShiftUp)
{
    RegionName* n = nullptr;
    RegionName_new(&n, "Slot");
    RegionMap* maps[4] = {};
    for (int i = 0; i < 4; ++i)
        RegionMap_new(&maps[i], ("M" + std::to_string(i)).c_str());
    for (int i = 0; i < 3; ++i) {
        EXPECT_OK(RegionName_addExplicitMap(n, maps[i]));
        EXPECT_OK(RegionName_addInheritingMap(n, maps[i]));
    }
    EXPECT_OK(RegionName_addExplicitMap(n, maps[1]));
    EXPECT_CODE(RegionName_addExplicitMap(n, maps[3]), 600003);
    EXPECT_CODE(RegionName_addInheritingMap(n, maps[3]), 2);
    EXPECT_OK(RegionName_removeExplicitMap(n, maps[0]));
    EXPECT_OK(RegionName_removeInheritingMap(n, maps[0]));
    EXPECT_EQ(n->explicitMaps[0], maps[1]);
    EXPECT_EQ(n->explicitMaps[1], maps[2]);
    EXPECT_EQ(n->explicitMaps[2], nullptr);
    EXPECT_EQ(n->inheritingMaps[0], maps[1]);
    EXPECT_EQ(n->inheritingMaps[2], nullptr);
    int out = 0;
    EXPECT_OK(RegionName_isExplicitPrimitiveIn(n, maps[2], &out));
    EXPECT_EQ(out, 1);
    RegionName_removeExplicitMap(n, maps[1]);
    EXPECT_EQ(n->explicitFlag, 1);
    RegionName_removeExplicitMap(n, maps[2]);
    EXPECT_EQ(n->explicitFlag, 0);
    EXPECT_OK(RegionName_isInheritedIn(n, maps[2], &out));
    EXPECT_EQ(out, 1);
    RegionStatus* s = RegionName_isInheritedIn(n, maps[2], nullptr);
    EXPECT_STREQ(s->message, "Cannot return whether the Region is inherited in a Region Map.");
    EXPECT_CODE(RegionName_isInheritedIn(n, nullptr, &out), 100001);
    EXPECT_EQ(out, 0);
    RegionName_delete(&n);
    for (RegionMap*& m : maps)
        RegionMap_delete(&m, 1);
}

TEST(RegionName, DefinitionLinkAndReferences)
{
    char a[] = "Aa", b[] = "Bb";
    char* one[] = {a};
    char* other[] = {b};
    RegionDefinition* u = nullptr;
    RegionDefinition* d = nullptr;
    ASSERT_OK(RegionDefinition_new(&u, "UnionOf", RC_UNION, one, nullptr, 1, 0));
    ASSERT_OK(RegionDefinition_new(&d, "DiffOf", RC_DIFFERENCE, one, other, 1, 1));
    RegionName* n = nullptr;
    RegionName_new(&n, "Cc");
    EXPECT_CODE(RegionName_addReference(n, u, 2), 100006);
    EXPECT_OK(RegionName_addReference(n, d, 2));
    EXPECT_EQ(d->sideB->count, 2u);
    int referenced = 0;
    RegionName_isReferenced(n, &referenced);
    EXPECT_EQ(referenced, 1);
    EXPECT_OK(RegionName_removeReference(n, d));
    EXPECT_EQ(n->referencedBy, nullptr);

    RegionDefinition* got = nullptr;
    RegionStatus* s = RegionName_getDefinition(n, &got);
    EXPECT_EQ(s->code, 800001);
    EXPECT_STREQ(s->message, "Region is primitive.");
    EXPECT_OK(RegionName_getDefinition(u->name, &got));
    EXPECT_EQ(got, u);
    s = RegionName_setDefinition(u->name, d);
    EXPECT_EQ(s->code, 800004);
    EXPECT_STREQ(s->message, "Region (UnionOf) is already defined.");
    // The guard was released: a fresh name can take a definition.
    EXPECT_OK(RegionName_setDefinition(n, u));
    EXPECT_EQ(u->name, n);
    EXPECT_EQ(n->definition, u);
    RegionDefinition_delete(&d);
    RegionDefinition_delete(&u);
}

TEST(RegionName, FailedTransferLeavesTheOldObjectWhole)
{
    char a[] = "Part";
    char* one[] = {a};
    RegionDefinition* u = nullptr;
    ASSERT_OK(RegionDefinition_new(&u, "Whole", RC_UNION, one, nullptr, 1, 0));
    RegionName* part = nullptr;
    RegionName_new(&part, "Part");
    ASSERT_OK(RegionName_addReference(part, u, 1));
    RegionName* whole = u->name;
    auto refuse = [](void*, RegionName*, RegionName*) -> RegionStatus* {
        RegionStatus* s = nullptr;
        RegionStatus_set(&s, 1, 2, "refused");
        return s;
    };
    EXPECT_CODE(RegionName_transfer(part, nullptr, refuse), 2);
    ASSERT_NE(part->referencedBy, nullptr);
    EXPECT_EQ(part->referencedBy->count, 1u);
    EXPECT_CODE(RegionName_transfer(whole, nullptr, refuse), 2);
    EXPECT_EQ(u->name, whole);
    EXPECT_EQ(whole->definition, u);

    RegionName* fresh = nullptr;
    auto accept = [](void* holder, RegionName*, RegionName* n) -> RegionStatus* {
        *static_cast<RegionName**>(holder) = n;
        return nullptr;
    };
    ASSERT_OK(RegionName_transfer(whole, &fresh, accept));
    EXPECT_EQ(u->name, fresh);
    EXPECT_EQ(fresh->definition, u);
    whole->definition = nullptr;
    RegionName_delete(&whole);
    RegionName_delete(&part);
    RegionDefinition_delete(&u);
}

TEST(RegionName, MapQueries)
{
    RegionMap* map = nullptr;
    RegionMap_new(&map, "Q");
    char a[] = "Qa";
    char* one[] = {a};
    RegionDefinition* d = nullptr;
    RegionDefinition_new(&d, "Qd", RC_UNION, one, nullptr, 1, 0);
    ASSERT_OK(RegionMap_addDefinition(map, d));
    RegionName* qa = RegionMap_findByText(map, 0, "Qa");
    ASSERT_NE(qa, nullptr);
    int out = 0;
    EXPECT_OK(RegionName_isReferencedByMap(qa, map, &out));
    EXPECT_EQ(out, 1);
    EXPECT_OK(RegionName_isDefinedInMap(qa, map, &out));
    EXPECT_EQ(out, 0);
    EXPECT_OK(RegionName_isDefinedInMap(d->name, map, &out));
    EXPECT_EQ(out, 1);
    EXPECT_OK(RegionName_isPrimitive(qa, &out));
    EXPECT_EQ(out, 1);
    EXPECT_CODE(RegionName_isDefined(nullptr, &out), 100007);
    RegionMap_delete(&map, 1);
}
