// The model on real files: every class written, closed and rebuilt by a new
// manager; undo and redo across states that change topology and names,
// with memory matching the stored model at each step.
#include <random>

#include "model_describe.h"
#include "region_definition.h"

using modeltest::describe;
using modeltest::RepositoryFixture;

namespace {

// One object of every class, with every stored field set.
void buildEverything(Model* model) {
    Topology* t = model->topology;
    NameManager_setDefaultAssemblyName(t->nameManager, "Part");
    NameManager_setCompositeNameStrategy(t->nameManager, 2);
    NameManager_addCompositeName(t->nameManager, "Walls");
    Assembly* body = Assembly_new(t, "Body");
    Assembly_setID(body, 4);
    Region* solid = Region_new(3, "Solid");
    Region* faceA = Region_new(2, "Face");
    Region* faceB = Region_new(2, nullptr);
    Region_setNames(faceB, "Original", "Base");
    Region* edge = Region_new(1, nullptr);
    Region* point = Region_new(0, nullptr);
    Region_setPriority(faceA, 3);
    for (Region* r : {solid, faceA, faceB, edge, point}) Topology_addRegion(t, r, nullptr);
    Assembly_addRegion(body, solid);
    Assembly_addRegion(body, faceA);
    Shell* shell = Shell_new(Boundary_new(solid));
    Shell_addRegion(shell, faceA);
    Shell_addRegion(shell, faceB);
    Connection* own = Region_connect(faceA, faceB, 2);
    Region_glue(edge, point, 5);

    int ints[] = {1, 2, 3};
    double xyz[] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    vrnBlob* coordinates = vrnBlob_new(BLOB_DOUBLES, xyz, 9);
    vrnBlob* connectivity = vrnBlob_new(BLOB_INTS, ints, 3);
    vrnObject* refs[] = {&solid->header, &faceA->header};
    vrnBlob* references = vrnBlob_new(BLOB_REFERENCES, refs, 2);
    vrnBlob_addUse(connectivity);
    Vertices* vertices = Vertices_new(3, coordinates, "mm", 6, 3);
    double A[9] = {0, 1, 0, -1, 0, 0, 0, 0, 1}, v[3] = {1, 2, 3};
    Vertices_setTransform(vertices, A, v, "mm");
    Vertices_setSplitVertices(vertices, ints, 2);
    ElementMesh* elements = ElementMesh_new(solid, vertices);
    ElementSet* set = ElementSet_new(elements, 4, 1, connectivity);
    ElementMesh_addElementSet(elements, set);
    FaceMesh* facesA = FaceMesh_new(faceA, elements);
    FaceMesh* facesB = FaceMesh_new(faceB, elements);
    FaceMesh_addFaceSet(facesA, FaceSet_new(facesA, set, 1, connectivity, references));
    InterfaceMap* map = InterfaceMap_new(own, facesA, facesB);
    InterfaceMap_setMatches(map, 3, 1, ints, 3);
    Mesh_addLink(model->mesh, MESH_ELEMENT_MESHES_BIT, &solid->header, &elements->header);
    Mesh_addLink(model->mesh, MESH_FACE_MESHES_BIT, &faceA->header, &facesA->header);
    Mesh_addLink(model->mesh, MESH_INTERFACE_MAPS_BIT, &own->header, &map->header);
    Visual* visual = Visual_new(faceA, Vertices_new(3, coordinates, "m", 2, 2), 1, 0, connectivity);
    Representation_addVisual(model->representation, faceA, visual);

    Projection* p = Projection_new();
    int counts[6] = {1, 2, 3, 4, 5, 6};
    Projection_setCounts(p, counts, 7);
    for (int i = 0; i < PROJECTION_ARRAYS; ++i) {
        if (i == PROJECTION_KUVEN || i == PROJECTION_KUVFN || i == PROJECTION_CRDVX)
            Projection_setArray(p, i, xyz, i % 4 + 1);
        else
            Projection_setArray(p, i, ints, i % 3 + 1);
    }
    Projection_setStrings(p, "m", "cad.db");
    Model_setRealParameter(model, 0.25);
}

}  // namespace

TEST_F(RepositoryFixture, EveryClassSurvivesCloseAndReopen) {
    buildEverything(model);
    vrnStateManager_closeState(m);
    std::string before = describe(m);
    EXPECT_GT(std::count(before.begin(), before.end(), '\n'), 25);
    reopen();
    EXPECT_EQ(describe(m), before);
    // The purge to one state keeps the live model too.
    reopen(1);
    EXPECT_EQ(describe(m), before);
    EXPECT_TRUE(commontest::takeErrors().empty());
}

TEST_F(RepositoryFixture, UndoAndRedoMatchTheStoredModelAtEveryStep) {
    std::vector<std::string> states;
    auto close = [&] {
        vrnStateManager_closeState(m);
        states.push_back(describe(m));
    };
    close();  // state 1: the new model
    Assembly* body = Assembly_new(topology, "Body");
    Region* a = region(2, "Inlet");
    Region* b = region(2, "Inlet");
    Region* c = region(2);
    for (Region* r : {a, b, c}) Assembly_addRegion(body, r);
    Region_glue(a, b, 0);
    Region_glue(b, c, 0);
    close();  // state 2
    Region_unglue(b, c);  // splits c off into a new assembly
    NameManager_removeName(names, "Inlet");
    Topology_addRegion(topology, Region_new(3, nullptr), "Inlet");
    NameManager_setRegionNameStrategy(names, "Zone", 2, 0);
    const char* parts[] = {"Inlet", "Inlet 2"};
    RegionDefinition* both = nullptr;
    RegionDefinition_new(&both, "Inlets", 1, const_cast<char**>(parts), nullptr, 2, 0);
    RegionMap_addDefinition(names->atlas->primaryMap, both);
    Atlas_markModified(names->atlas);
    close();  // state 3
    Region_delete(b);
    region(2);
    close();  // state 4
    ASSERT_EQ(m->current, 4);

    for (int s = 3; s >= 1; --s) {
        ASSERT_EQ(vrnStateManager_changeState(m, 1, -1), 1);
        EXPECT_EQ(describe(m), states[s - 1]) << "undo to state " << s;
    }
    for (int s = 2; s <= 4; ++s) {
        ASSERT_EQ(vrnStateManager_changeState(m, 1, 1), 1);
        EXPECT_EQ(describe(m), states[s - 1]) << "redo to state " << s;
    }
    // And a new manager finds the last state.
    reopen();
    EXPECT_EQ(describe(m), states[3]);
    EXPECT_TRUE(commontest::takeErrors().empty());
}

TEST_F(RepositoryFixture, RestoreKeepsNamesThatObjectsStillUse) {
    Region* a = region(2, "Left");
    vrnStateManager_closeState(m);
    Region* b = region(2, "Right");
    vrnStateManager_closeState(m);
    // Undo drops "Right" from the dictionary; the live region a keeps its
    // name text valid and b is gone.
    ASSERT_EQ(vrnStateManager_changeState(m, 1, -1), 1);
    ASSERT_NE(a->name, nullptr);
    EXPECT_STREQ(a->name, "Left");
    EXPECT_EQ(NameManager_getObject(names, "Right", nullptr), nullptr);
    (void)b;
    // A live region whose name a redone state removed keeps no pointer
    // into the freed name texts.
    ASSERT_EQ(vrnStateManager_changeState(m, 1, 1), 1);
    NameManager_removeName(names, "Left");
    vrnStateManager_closeState(m);
    ASSERT_EQ(vrnStateManager_changeState(m, 1, -1), 1);
    EXPECT_STREQ(a->name, "Left");
    ASSERT_EQ(vrnStateManager_changeState(m, 1, 1), 1);
    EXPECT_EQ(a->name, nullptr);
    // A damaged list (fewer objects than names, an unknown object) is cut
    // at the shorter array and skips what is missing.
    char left[] = "Left", extra[] = "Extra";
    char* list[] = {left, extra};
    vrnObject_setStrings(&names->header, "names - primitive", list, 2);
    vrnObject* objects[] = {&a->header};
    vrnObject_setPointers(&names->header, "objects", objects, 1);
    vrnStateManager_closeState(m);
    NameManager_restore(&names->header, 0);
    EXPECT_STREQ(a->name, "Left");
    EXPECT_FALSE(NameManager_isNameUsed(names, "Extra"));
}

TEST_F(RepositoryFixture, EveryReferenceMadeToPointAtTheWrongClassIsSurvived) {
    buildEverything(model);
    vrnStateManager_closeState(m);
    static const char* const keys[] = {
        "topology", "assembly", "shell", "boundary", "connection", "gluings", "regions", "nameManager",
        "assemblies", "2D regions", "3D regions", "atlas", "objects", "boundedRegion", "shells", "sides",
        "elementMeshes", "faceMeshes", "interfaceMaps", "visuals", "vertices", "faceVertices", "region",
        "faceSets", "elementMesh", "elementSets", "elementSet", "kvxel", "kelfc", "krffc", "xyz",
        "representation", "mesh", "repository", "primaryModel", "data"};
    // Every reference of every object names the one projection, a class
    // that no reference may name.
    vrnObject* wrong = vrnStateManager_getSingletonByTypeName(m, "Projection");
    ASSERT_NE(wrong, nullptr);
    std::vector<vrnObject*> all;
    DictionaryIterator* it = DictionaryIterator_new(m->objects);
    for (Pair* p = DictionaryIterator_first(it); p; p = DictionaryIterator_next(it))
        all.push_back(static_cast<vrnObject*>(p->second));
    DictionaryIterator_delete(it);
    vrnObject* two[] = {wrong, wrong};
    for (vrnObject* o : all)
        for (const char* key : keys) {
            if (strcmp(key, "sides") && strcmp(key, "faceMeshes")) vrnObject_setPointer(o, key, wrong);
            else vrnObject_setPointers(o, key, two, 2);
        }
    vrnStateManager_closeState(m);
    ASSERT_EQ(vrnStateManager_changeState(m, 1, -1), 1);
    ASSERT_EQ(vrnStateManager_changeState(m, 1, 1), 1);
    vrnStateManager_closeDatabase(m, -1);
    vrnStateManager_delete(m);
    m = nullptr;
    // No repository without its model; the objects still open, and an
    // undo among them is survived.
    EXPECT_EQ(Repository_new(name.c_str()), nullptr);
    m = vrnStateManager_new();
    vrnStateManager_setGlobal(m);
    ASSERT_TRUE(vrnStateManager_openDatabase(m, name.c_str()));
    EXPECT_EQ(vrnStateManager_changeState(m, 1, -1), 1);
    EXPECT_FALSE(commontest::takeErrors().empty());
}

TEST_F(RepositoryFixture, ARegionStoredWithAnotherDimensionalityLeavesItsSetOnDelete) {
    Region* r = region(2, "Inlet");
    vrnStateManager_closeState(m);
    vrnObject_setInt(&r->header, "dimensionality", 3);
    reopen();
    auto held = [](HashSet* set, void* member) {
        void** members = nullptr;
        int n = HashSet_toArray(set, &members);
        bool found = std::find(members, members + n, member) != members + n;
        vrnFree(members, "test");
        return found;
    };
    Region* back = reinterpret_cast<Region*>(NameManager_getObject(names, "Inlet", nullptr));
    ASSERT_NE(back, nullptr);
    ASSERT_EQ(back->dimensionality, 3);
    ASSERT_TRUE(held(topology->regions[2], back));
    Region_delete(back);
    EXPECT_FALSE(held(topology->regions[2], back));
    vrnStateManager_closeState(m);
}

TEST_F(RepositoryFixture, ARegionWithoutAnOriginalNameReopensWithout) {
    Region* r = region(2, "Inlet");
    Region_setNames(r, nullptr, nullptr);
    Region* empty = region(2, "");
    EXPECT_EQ(empty->originalName, nullptr);
    vrnStateManager_closeState(m);
    std::string before = modeltest::describe(m);
    reopen();
    EXPECT_EQ(modeltest::describe(m), before);
}

// References held one way (nobody points back) follow the object they name:
// none once it is deleted, the re-created object after an undo, none again
// after the redo.
TEST_F(RepositoryFixture, OneWayReferencesFollowADeletedObjectThroughUndoAndRedo) {
    Region* face = region(2, "Face");
    Region* other = region(2);
    Connection* joint = Region_connect(face, other, 0);
    Visual* visual = Visual_new(face, nullptr, 0, 0, nullptr);
    FaceMesh* faces = FaceMesh_new(face, nullptr);
    ElementMesh* elements = ElementMesh_new(face, nullptr);
    InterfaceMap* map = InterfaceMap_new(joint, faces, faces);
    vrnStateManager_closeState(m);
    const std::string before = describe(m);
    const std::string faceId = modeltest::id(face), jointId = modeltest::id(joint);

    Region_delete(face);  // takes its connection along
    vrnObject_delete(&face->header);  // deleting either again does nothing
    vrnObject_destroy(&joint->header);
    vrnStateManager_closeState(m);
    const std::string deleted = describe(m);
    EXPECT_EQ(visual->region, nullptr);
    EXPECT_EQ(faces->region, nullptr);
    EXPECT_EQ(elements->region, nullptr);
    EXPECT_EQ(map->connection, nullptr);

    ASSERT_EQ(vrnStateManager_changeState(m, 1, -1), 1);
    vrnObject* back = vrnStateManager_pointerFromUUIDString(m, faceId.c_str());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(&visual->region->header, back);
    EXPECT_EQ(&faces->region->header, back);
    EXPECT_EQ(&elements->region->header, back);
    EXPECT_EQ(&map->connection->header, vrnStateManager_pointerFromUUIDString(m, jointId.c_str()));
    EXPECT_EQ(describe(m), before);

    ASSERT_EQ(vrnStateManager_changeState(m, 1, 1), 1);
    EXPECT_EQ(visual->region, nullptr);
    EXPECT_EQ(map->connection, nullptr);
    EXPECT_EQ(describe(m), deleted);
    // Deleting the holders afterwards touches nothing freed.
    vrnObject_destroy(&visual->header);
    vrnObject_destroy(&map->header);
    vrnStateManager_closeState(m);
    EXPECT_TRUE(commontest::takeErrors().empty());
}

// A seeded walk of edits (links, deletions from every end, names, link
// maps) with states closed, undone and redone at random: memory matches
// what was recorded at each state and what a new manager reads at the end.
TEST_F(RepositoryFixture, RandomEditsUndoAndRedoMatchTheStoredModel) {
    for (unsigned seed = 1; seed <= 4; ++seed) {
        std::mt19937 rng(seed);
        auto pick = [&](size_t n) { return static_cast<int>(rng() % n); };
        auto members = [](HashSet* set) {
            void** keys = nullptr;
            int n = HashSet_toArray(set, &keys);
            std::vector<void*> out(keys, keys + n);
            vrnFree(keys, "test");
            return out;
        };
        auto live = [&](const char* type) {
            int n = 0;
            vrnObject** objects = nullptr;
            vrnStateManager_getObjectsByTypeName(m, type, &n, &objects);
            vrnObject* one = n ? objects[pick(n)] : nullptr;
            vrnFree(objects, "test");
            return one;
        };
        std::vector<std::string> states;
        const int base = vrnStateManager_closeState(m);
        auto record = [&] {
            vrnStateManager_closeState(m);
            states.resize(m->current - base);
            states.push_back(describe(m));
        };
        record();
        for (int step = 0; step < 30; ++step) {
            std::vector<Region*> rs;
            for (HashSet* set : topology->regions)
                for (void* r : members(set)) rs.push_back(static_cast<Region*>(r));
            std::vector<void*> as = members(topology->assemblies);
            Region* a = rs.empty() ? nullptr : rs[pick(rs.size())];
            Region* b = rs.empty() ? nullptr : rs[pick(rs.size())];
            Assembly* asm1 = as.empty() ? nullptr : static_cast<Assembly*>(as[pick(as.size())]);
            switch (rs.size() < 2 ? 0 : pick(14)) {
                case 0: region(pick(4), pick(2) ? "Inlet" : nullptr); break;
                case 1: Assembly_new(topology, pick(2) ? "Wall" : nullptr); break;
                case 2: if (asm1) Assembly_addRegion(asm1, a); break;
                case 3: if (a != b) Region_glue(a, b, 0); break;
                case 4: if (a->gluings) Region_unglue(a, Connection_getOtherSide(static_cast<Connection*>(a->gluings->members[0]), a)); break;
                case 5: Region_delete(a); break;
                case 6: if (asm1) Assembly_delete(asm1); break;
                case 7: if (a != b && !a->connection && !b->connection) Region_connect(a, b, 0); break;
                case 8: Shell_addRegion(Shell_new(a->boundary ? a->boundary : Boundary_new(a)), b); break;
                case 9: if (vrnObject* o = live(pick(2) ? "Shell" : "Connection")) vrnObject_destroy(o); break;
                case 10: Region_setNames(a, pick(2) ? "Orig" : nullptr, pick(2) ? "Base" : a->originalName); break;
                case 11: Representation_addVisual(model->representation, a, Visual_new(pick(2) ? b : nullptr, nullptr, 0, 0, nullptr)); break;
                case 12: Mesh_addLink(model->mesh, MESH_ELEMENT_MESHES_BIT, &a->header, &ElementMesh_new(pick(2) ? b : nullptr, nullptr)->header); break;
                default: if (vrnObject* o = live("Visual")) vrnObject_destroy(o); break;
            }
            if (pick(3) == 0) record();
            if (pick(5) == 0 && m->current > base + 1) {
                record();
                int back = 1 + pick(std::min(3, m->current - base));
                ASSERT_EQ(vrnStateManager_changeState(m, 1, -back), 1);
                ASSERT_EQ(describe(m), states[m->current - base]) << "seed " << seed << " step " << step;
                if (pick(2)) {
                    ASSERT_EQ(vrnStateManager_changeState(m, 1, back), 1);
                    ASSERT_EQ(describe(m), states[m->current - base]) << "seed " << seed << " step " << step;
                }
            }
        }
        record();
        std::string last = describe(m);
        reopen();
        ASSERT_EQ(describe(m), last) << "seed " << seed;
        commontest::takeErrors();
    }
}
