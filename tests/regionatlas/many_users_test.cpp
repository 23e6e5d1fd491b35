// Names used by many definitions: users come and go in any order, and each
// map's question about the name follows exactly the users it still holds.
#include "region_atlas.h"
#include "region_definition.h"
#include "region_map.h"
#include "region_name.h"
#include "region_test_util.h"

#include <string>
#include <vector>

using regiontest::define;

namespace {

const int kUsers = 40;

int referencedBy(RegionName* name, RegionMap* map)
{
    int out = -1;
    EXPECT_OK(RegionName_isReferencedByMap(name, map, &out));
    return out;
}

}  // namespace

TEST(ManyUsers, EachMapSeesOnlyTheUsersItStillHolds)
{
    RegionAtlas* atlas = nullptr;
    ASSERT_OK(RegionAtlas_new(&atlas, "Many users"));
    RegionMap* vrn = nullptr;
    RegionMap* primary = nullptr;
    RegionMap_new(&vrn, "VRN");
    RegionMap_new(&primary, "Primary");
    ASSERT_OK(RegionAtlas_addMap(atlas, vrn, REGION_MAP_VRN));
    ASSERT_OK(RegionAtlas_addMap(atlas, primary, REGION_MAP_PRIMARY));
    for (int i = 0; i < kUsers; ++i) {
        std::string v = "V" + std::to_string(i), vp = "v" + std::to_string(i);
        ASSERT_OK(RegionMap_addDefinition(vrn, define(v.c_str(), RC_UNION, {"Shared", vp.c_str()})));
    }
    for (int i = 0; i < kUsers; ++i) {
        std::string p = "P" + std::to_string(i), pp = "p" + std::to_string(i);
        ASSERT_OK(RegionMap_addDefinition(primary, define(p.c_str(), RC_UNION, {"Shared", pp.c_str()})));
    }
    RegionName* shared = RegionMap_findByText(vrn, 0, "Shared");
    ASSERT_NE(shared, nullptr);
    ASSERT_NE(shared->referencedBy, nullptr);
    EXPECT_EQ(shared->referencedBy->count, 2u * kUsers);
    EXPECT_EQ(referencedBy(shared, primary), 1);

    // The Primary map's users leave in a scrambled order.
    for (int n = 0; n < kUsers; ++n) {
        std::string p = "P" + std::to_string((n * 7) % kUsers);
        RegionDefinition* leaving = nullptr;
        ASSERT_OK(RegionMap_getDefinitionByText(primary, p.c_str(), &leaving));
        ASSERT_OK(RegionDefinition_delete(&leaving));
        shared = RegionMap_findByText(vrn, 0, "Shared");
        ASSERT_NE(shared, nullptr);
        EXPECT_EQ(shared->referencedBy->count, static_cast<unsigned>(2 * kUsers - n - 1));
        EXPECT_EQ(referencedBy(shared, primary), n + 1 < kUsers ? 1 : 0) << n;
        EXPECT_EQ(referencedBy(shared, vrn), 1);
    }
    // A VRN user renamed leaves and comes back under its new name.
    RegionDefinition* v3 = nullptr;
    ASSERT_OK(RegionMap_getDefinitionByText(vrn, "V3", &v3));
    ASSERT_OK(RegionDefinition_rename(v3, "V3 renamed"));
    shared = RegionMap_findByText(vrn, 0, "Shared");
    EXPECT_EQ(shared->referencedBy->count, static_cast<unsigned>(kUsers));
    EXPECT_EQ(referencedBy(shared, vrn), 1);
    RegionAtlas_delete(atlas, 1);
}

TEST(ManyUsers, DirectReferencesComeAndGoInAnyOrder)
{
    RegionName* name = nullptr;
    ASSERT_OK(RegionName_new(&name, "Direct"));
    std::vector<RegionDefinition*> users;
    for (int i = 0; i < kUsers; ++i) {
        std::string u = "DirectUser" + std::to_string(i);
        users.push_back(define(u.c_str(), RC_UNION, {"Other"}));
        ASSERT_OK(RegionName_addReference(name, users.back(), 1));
        ASSERT_OK(RegionName_addReference(name, users.back(), 1));
    }
    EXPECT_EQ(name->referencedBy->count, static_cast<unsigned>(kUsers));
    RegionDefinition* stranger = define("Stranger", RC_UNION, {"Other"});
    EXPECT_CODE(RegionName_removeReference(name, stranger), 900000);
    for (int n = 0; n < kUsers; ++n) {
        RegionDefinition* u = users[(n * 13) % kUsers];
        ASSERT_OK(RegionName_removeReference(name, u));
        EXPECT_CODE(RegionName_removeReference(name, u), 900000);
        int referenced = 0;
        RegionName_isReferenced(name, &referenced);
        EXPECT_EQ(referenced, n + 1 < kUsers ? 1 : 0);
    }
    EXPECT_EQ(name->referencedBy, nullptr);
    for (RegionDefinition* u : users)
        RegionDefinition_delete(&u);
    RegionDefinition_delete(&stranger);
    RegionName_delete(&name);
}
