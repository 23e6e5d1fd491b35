// The name manager's default and unique names, and the topology classes'
// two-way links, closing and splitting.
#include <limits.h>

#include <cstdio>

#include "database/orv_name.h"
#include "model_describe.h"

using modeltest::RepositoryFixture;

namespace {

std::string nameOf(Region* r) { return r && r->name ? r->name : "<none>"; }

}  // namespace

TEST_F(RepositoryFixture, DefaultRegionNamesAndBaseNames) {
    Region* a = region(2);
    Region* b = region(2);
    Region* c = region(2);
    EXPECT_EQ(nameOf(a), "Region 2.1");
    EXPECT_EQ(nameOf(b), "Region 2.2");
    EXPECT_EQ(nameOf(c), "Region 2.3");
    EXPECT_EQ(c->id, 3);
    EXPECT_EQ(nameOf(region(3)), "Region 3.1");
    EXPECT_EQ(nameOf(region(2, "Inlet")), "Inlet");
    EXPECT_EQ(nameOf(region(2, "Inlet")), "Inlet 2");
    // A caller's name is taken as given when it is free.
    Region* own = Region_new(1, nullptr);
    Topology_addRegion(topology, own, "Edge (left)");
    EXPECT_EQ(nameOf(own), "Edge (left)");
    Region* taken = Region_new(1, nullptr);
    Topology_addRegion(topology, taken, "Edge (left)");
    EXPECT_EQ(nameOf(taken), "Region 1.2");
}

// A stored name manager that holds no strategy (as older files have) comes
// back with exactly the defaults a new one starts with, whether names are
// encoded or not. The encoding switch is read once per process, so each
// case runs in a child of its own.
TEST(NameManagerDefaults, RestoredWithoutStrategyMatchesNewWithEncodingOnOrOff) {
    for (bool encode : {false, true}) {
        vrntest::TempDir dir;
        vrntest::ChildOptions options;
        options.env.push_back({"VRN_ENCODE_NAMES", encode ? std::optional<std::string>("") : std::nullopt});
        std::string file = dir.file("older.vrn");
        auto child = vrntest::runInChild(
            [&] {
                orvResetEncodeNamesSetting();
                vrnModelClasses_install();
                vrnStateManager* m = vrnStateManager_new();
                vrnStateManager_setGlobal(m);
                if (!vrnStateManager_openDatabase(m, file.c_str())) return 2;
                // A bare manager object: nothing marks its strategy, so only
                // its type is stored.
                std::string stored = modeltest::id(vrnObject_new("NameManager"));
                vrnStateManager_closeDatabase(m, -1);
                vrnStateManager_delete(m);
                m = vrnStateManager_new();
                vrnStateManager_setGlobal(m);
                if (!vrnStateManager_openDatabase(m, file.c_str())) return 3;
                auto* restored = static_cast<NameManager*>(Dictionary_contains(m->objects, stored.c_str()));
                if (!restored) return 4;
                NameManager* fresh = NameManager_new();
                for (NameManager* names : {fresh, restored}) {
                    Region* r = Region_new(2, nullptr);
                    NameManager_registerRegionName(names, r);
                    printf("%s|%s|%s|%d %d %d %d|%s\n", names->defaultAssemblyName, names->defaultRegionName,
                           names->spacedRegionBase, names->strategy[0], names->strategy[1], names->strategy[2],
                           names->reserveFirst, r->name ? r->name : "-");
                }
                return 0;
            },
            options);
        ASSERT_EQ(child.exitStatus, 0) << child.err;
        const std::string expected = encode ? "Assembly|%52egion|%52egion|1 2 1 0|%52egion 2.1\n"
                                            : "Assembly|Region|Region|1 2 1 0|Region 2.1\n";
        EXPECT_EQ(child.out, expected + expected) << (encode ? "encoded" : "plain");
    }
}

TEST_F(RepositoryFixture, StoredCountsThatCannotGrowNameNothing) {
    const int full[4] = {INT_MAX, INT_MAX, INT_MAX, INT_MAX};
    vrnObject_setInts(&names->header, "noOfCreatedRegions", full, 4);
    vrnObject_setInt(&names->header, "noOfCreatedAssemblies", INT_MAX);
    reopen();
    commontest::takeErrors();
    Region* r = region(2);
    EXPECT_EQ(r->name, nullptr);
    EXPECT_EQ(Assembly_new(topology, "Wall")->uniqueName, nullptr);
    EXPECT_EQ(names->noOfCreatedRegions[2], INT_MAX);
    EXPECT_EQ(commontest::takeErrors().size(), 2u);
}

TEST_F(RepositoryFixture, StrategyFormsAndRefusedStrategies) {
    EXPECT_FALSE(NameManager_setRegionNameStrategy(names, "Zone", 3, 2));
    EXPECT_FALSE(NameManager_setRegionNameStrategy(names, "Zone", 1, 5));
    EXPECT_STREQ(names->defaultRegionName, "Region");
    EXPECT_EQ(names->strategy[0], 1);
    ASSERT_TRUE(NameManager_setRegionNameStrategy(names, nullptr, 2, 0));
    EXPECT_EQ(nameOf(region(3)), "Region3.1");
    // Reserving the first name: Inlet 2 even when Inlet is free.
    ASSERT_TRUE(NameManager_setRegionNameStrategy(names, nullptr, 0, 4));
    EXPECT_EQ(names->strategy[0], 2);
    EXPECT_EQ(nameOf(region(3, "Inlet")), "Inlet 2");
    ASSERT_TRUE(NameManager_setRegionNameStrategy(names, "  Zone  ", 2, 1));
    EXPECT_STREQ(names->defaultRegionName, "Zone ");
    EXPECT_EQ(nameOf(region(3, "Inlet")), "Zone 3.3");
    EXPECT_FALSE(NameManager_setCompositeNameStrategy(names, 3));
    EXPECT_TRUE(NameManager_setCompositeNameStrategy(names, 0));
    EXPECT_EQ(names->strategy[2], 1);
    EXPECT_FALSE(NameManager_setDefaultAssemblyName(names, "   "));
}

TEST_F(RepositoryFixture, AssemblyNamesAndRemoval) {
    Assembly* wall = Assembly_new(topology, "Wall");
    Assembly* wall2 = Assembly_new(topology, "Wall");
    Assembly* unnamed = Assembly_new(topology, nullptr);
    EXPECT_STREQ(wall->uniqueName, "Wall");
    EXPECT_STREQ(wall2->uniqueName, "Wall 2");
    EXPECT_STREQ(unnamed->uniqueName, "Assembly");
    EXPECT_STREQ(Assembly_getName(wall2), "Wall");
    EXPECT_EQ(wall2->id, 2);
    ASSERT_TRUE(NameManager_removeName(names, "Wall"));
    EXPECT_EQ(wall->uniqueName, nullptr);
    EXPECT_EQ(wall->id, 0);
    EXPECT_TRUE(NameManager_isNameUsed(names, "Wall 2"));
    EXPECT_FALSE(NameManager_isNameUsed(names, "Wall"));
    EXPECT_FALSE(NameManager_removeName(names, "Wall"));

    // Base names drop a trailing run of digits and blanks at its leftmost
    // blank only.
    char wall3[] = "Wall 3", glued[] = "Wall3", two[] = "Wall 1 2";
    Assembly_setUniqueName(wall, wall3);
    EXPECT_STREQ(Assembly_getName(wall), "Wall");
    // Every digit counts, the two ends of the range included.
    char wall9[] = "Wall 9", inlet19[] = "Inlet 19", inlet10[] = "Inlet 10", wall0[] = "Wall 0";
    Assembly_setUniqueName(wall, wall9);
    EXPECT_STREQ(Assembly_getName(wall), "Wall");
    Assembly_setUniqueName(wall, inlet19);
    EXPECT_STREQ(Assembly_getName(wall), "Inlet");
    Assembly_setUniqueName(wall, inlet10);
    EXPECT_STREQ(Assembly_getName(wall), "Inlet");
    Assembly_setUniqueName(wall, wall0);
    EXPECT_STREQ(Assembly_getName(wall), "Wall");
    Assembly_setUniqueName(wall, glued);
    EXPECT_STREQ(Assembly_getName(wall), "Wall3");
    Assembly_setUniqueName(wall, two);
    EXPECT_STREQ(Assembly_getName(wall), "Wall");
    Assembly_setUniqueName(wall, nullptr);
}

TEST_F(RepositoryFixture, TwoWayLinksAgreeFromEitherEnd) {
    Assembly* a = Assembly_new(topology, "A");
    Assembly* b = Assembly_new(topology, "B");
    Region* r = region(2);
    Assembly_addRegion(a, r);
    EXPECT_EQ(r->assembly, a);
    EXPECT_TRUE(Set_contains(a->regions, r));
    // Moving the region from its side leaves the old assembly.
    Region_setAssembly(r, b);
    EXPECT_EQ(r->assembly, b);
    EXPECT_FALSE(Set_contains(a->regions, r));
    EXPECT_TRUE(Set_contains(b->regions, r));
    Region_unsetAssembly(r);
    EXPECT_FALSE(Set_contains(b->regions, r));
    Topology_removeRegion(topology, r);
    EXPECT_EQ(r->topology, nullptr);
    EXPECT_EQ(r->name, nullptr);
    EXPECT_STREQ(Region_getDisplayName(r), "*** No name - region not in topology ***");
    Region_delete(r);

    // A boundary given to another region, or a region given another
    // boundary, leaves no link at its old partner.
    Region* solid = region(3);
    Region* other = region(3);
    Boundary* first = Boundary_new(solid);
    Boundary* second = Boundary_new(solid);
    EXPECT_EQ(first->boundedRegion, nullptr);
    Region_setBoundary(other, second);
    EXPECT_EQ(solid->boundary, nullptr);
    EXPECT_EQ(second->boundedRegion, other);
    Region_delete(other);
    Boundary_destroy(first, 1, 0);
    // A shell or boundary deleted by itself lets go of its partners too.
    Region* face = region(2);
    Boundary* around = Boundary_new(solid);
    Shell* shell = Shell_new(around);
    Shell_addRegion(shell, face);
    vrnObject_destroy(&shell->header);
    EXPECT_EQ(face->shell, nullptr);
    EXPECT_EQ(Set_contains(around->shells, shell), 0);
    vrnObject_destroy(&around->header);
    EXPECT_EQ(solid->boundary, nullptr);
    // So does a connection.
    Connection* joint = Region_connect(face, solid, 0);
    Connection* glue = Region_glue(face, solid, 0);
    vrnObject_destroy(&joint->header);
    vrnObject_destroy(&glue->header);
    EXPECT_EQ(face->connection, nullptr);
    EXPECT_EQ(solid->gluings, nullptr);
    Region_delete(face);
    Region_delete(solid);
}

TEST_F(RepositoryFixture, MembersOutliveADeletedTopology) {
    Topology* t = Topology_new();
    Region* r = Region_new(2, "Inlet");
    Topology_addRegion(t, r, nullptr);
    Assembly* a = Assembly_new(t, "Wall");
    Assembly_addRegion(a, r);
    vrnStateManager_closeState(m);
    Topology_delete(t);
    vrnStateManager_closeState(m);
    EXPECT_EQ(r->topology, nullptr);
    EXPECT_EQ(a->topology, nullptr);
    EXPECT_EQ(r->name, nullptr);
    // Undo brings the topology back and the members point at it again.
    ASSERT_EQ(vrnStateManager_changeState(m, 1, -1), 1);
    ASSERT_NE(r->topology, nullptr);
    EXPECT_EQ(a->topology, r->topology);
    EXPECT_STREQ(r->name, "Inlet");
    ASSERT_EQ(vrnStateManager_changeState(m, 1, 1), 1);
    EXPECT_EQ(r->topology, nullptr);
    // A new original name may be the region's own base name text.
    Region_setNames(r, "Original", "Base");
    Region_setNames(r, r->baseName, nullptr);
    EXPECT_STREQ(r->originalName, "Base");
    EXPECT_EQ(r->baseName, nullptr);
    Region_delete(r);
    Assembly_delete(a);
}

TEST_F(RepositoryFixture, ShellsBoundariesAndConnections) {
    Region* solid = region(3);
    Boundary* boundary = Boundary_new(solid);
    Shell* outer = Shell_new(boundary);
    Shell* inner = Shell_new(boundary);
    std::vector<Region*> faces;
    for (int i = 0; i < 5; ++i) {
        faces.push_back(region(2));
        Shell_addRegion(i < 3 ? outer : inner, faces.back());
    }
    EXPECT_EQ(Boundary_countRegions(boundary), 5);
    Region** bounding = nullptr;
    ASSERT_EQ(Boundary_getBoundingRegions(boundary, &bounding), 5);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(bounding[i], faces[i]);
    vrnFree(bounding, "test");
    EXPECT_EQ(Region_getShellBoundary(faces[4]), solid);
    EXPECT_EQ(Shell_removeRegion(inner, faces[0]), 0);
    EXPECT_EQ(faces[0]->shell, outer);

    Connection* c = Region_connect(faces[0], faces[1], 7);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(Region_getGlueOpposite(faces[1]), faces[0]);
    EXPECT_EQ(Connection_getOtherSide(c, faces[2]), nullptr);
    EXPECT_EQ(Region_connect(faces[0], faces[2], 1), nullptr);
    EXPECT_EQ(commontest::takeErrors().size(), 1u);

    // Deleting the solid destroys its boundary and shells, not the faces.
    Region_delete(solid);
    EXPECT_EQ(faces[0]->shell, nullptr);
    EXPECT_EQ(faces[4]->shell, nullptr);
    Region_breakLinks(faces[0], 1);
    EXPECT_EQ(faces[1]->connection, nullptr);
}

TEST_F(RepositoryFixture, SplitStaysWholeThroughGluingsOrReportsLeftovers) {
    Assembly* a = Assembly_new(topology, "Body");
    Region* r1 = region(2);
    Region* r2 = region(2);
    Region* r3 = region(2);
    for (Region* r : {r1, r2, r3}) Assembly_addRegion(a, r);
    Region_glue(r1, r2, 0);
    Region_glue(r2, r3, 0);
    Region_glue(r1, r3, 0);
    // r1 and r3 stay joined through r2: one assembly with all regions.
    EXPECT_EQ(Region_unglue(r1, r3), 1);
    EXPECT_EQ(a->regions->count, 3);
    EXPECT_EQ(r3->assembly, a);
    EXPECT_TRUE(commontest::takeErrors().empty());

    // Cutting r2 from r3 leaves two assemblies.
    EXPECT_EQ(Region_unglue(r2, r3), 1);
    EXPECT_EQ(a->regions->count, 2);
    ASSERT_NE(r3->assembly, nullptr);
    EXPECT_NE(r3->assembly, a);
    EXPECT_STREQ(r3->assembly->uniqueName, "Assembly");

    // B reached from A while a region is left: B is no candidate.
    Region* lone = region(2);
    Region* lone2 = region(2);
    Assembly_addRegion(a, lone);
    EXPECT_EQ(Assembly_split(a, r1, r2), 0);
    auto errors = commontest::takeErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].code, VRN_I_INTERNAL_ERROR);
    // A region reaching neither side is left over.
    Assembly_addRegion(a, lone);
    Assembly_addRegion(a, lone2);
    EXPECT_EQ(Assembly_split(a, r1, lone), 0);
    errors = commontest::takeErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].code, VRN_U_INVALID_INPUT);
    EXPECT_NE(errors[0].message.find("contains regions that are\nnot connected to either region A"),
              std::string::npos);

    EXPECT_EQ(Assembly_split(a, r1, r3), 0);
    errors = commontest::takeErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].message, "Region A (\"" + std::string(r3->name) + "\")\nis not in assembly \"Body\".\n");
}

TEST_F(RepositoryFixture, CloseTakesConnectedFreeRegions) {
    Assembly* a = Assembly_new(topology, "Body");
    Region* r1 = region(3);
    Region* r2 = region(3);
    Region* face = region(2);
    Region* edge = region(1);
    Assembly_addRegion(a, r1);
    Region_connect(r1, r2, 0);
    Boundary* b = Boundary_new(r2);
    Shell_addRegion(Shell_new(b), face);
    Region_glue(face, edge, 0);
    EXPECT_EQ(Assembly_close(a), 3);
    EXPECT_EQ(edge->assembly, a);
    EXPECT_EQ(Assembly_close(a), 0);
}

TEST_F(RepositoryFixture, ARegionMovedToAnotherTopologyIsNamedThereOnly) {
    Region* r = region(2);
    Topology* other = Topology_new();
    Region* stay = Region_new(2, nullptr);
    Topology_addRegion(other, stay, nullptr);
    ASSERT_STREQ(stay->name, "Region 2.1");
    Region_setTopology(r, other, nullptr);
    EXPECT_EQ(r->topology, other);
    EXPECT_STREQ(r->name, "Region 2.2");
    EXPECT_FALSE(NameManager_isNameUsed(names, "Region 2.1"));
    EXPECT_STREQ(stay->name, "Region 2.1");
    // Binding it again changes nothing.
    Region_setTopology(r, other, nullptr);
    EXPECT_EQ(r->id, 2);
    // Removing from one topology a region (or an assembly) of another that
    // carries the same name text leaves the name of the one named here.
    Region* here = region(2);
    ASSERT_STREQ(here->name, "Region 2.2");
    Topology_removeRegion(topology, r);
    EXPECT_EQ(NameManager_getObject(names, "Region 2.2", nullptr), &here->header);
    EXPECT_STREQ(here->name, "Region 2.2");
    Assembly* mine = Assembly_new(topology, "Wall");
    Assembly* theirs = Assembly_new(other, "Wall");
    Topology_removeAssembly(topology, theirs);
    EXPECT_STREQ(mine->uniqueName, "Wall");
    EXPECT_TRUE(NameManager_isNameUsed(names, "Wall"));
}
