// Repositories: new and reopened files, checkpoints, failed opens, a host
// that never closes, and the geometry records' stored forms.
#include <unistd.h>

#include <functional>
#include <vector>

#include "model_describe.h"
#include "support/system.h"
#include "vrn_platform.h"

using modeltest::describe;
using modeltest::RepositoryFixture;

namespace {

// Opens name as a repository, which is refused with an internal error and
// leaves the file byte for byte as it was, with no lock behind. The
// refusal's errors.
std::vector<commontest::Recorded> refusedLeavingTheFileAsItWas(const std::string& name) {
    commontest::takeErrors();
    const std::string before = vrntest::readFile(name);
    EXPECT_EQ(Repository_new(name.c_str()), nullptr);
    auto errors = commontest::takeErrors();
    EXPECT_FALSE(errors.empty());
    if (!errors.empty()) {
        EXPECT_EQ(errors.back().code, VRN_I_INTERNAL_ERROR);
    }
    EXPECT_TRUE(vrntest::readFile(name) == before) << "the refused open wrote into the file";
    EXPECT_FALSE(vrnFileExists((name + ".lck").c_str()));
    return errors;
}

// Where the dataset what of the object named where starts in the model
// file: the last field of its line in the file's index.
size_t datasetAt(const std::string& bytes, const std::string& what, const std::string& where) {
    const std::string line = what + '\x1b' + where + '\x1b';
    size_t at = bytes.rfind(line);
    EXPECT_NE(at, std::string::npos) << what << " of " << where;
    EXPECT_GT(at, bytes.find("*INDEX\n")) << what << " of " << where;
    if (at == std::string::npos) return 0;
    size_t end = bytes.find('\n', at);
    size_t last = bytes.rfind('\x1b', end) + 1;
    return std::stoul(bytes.substr(last, end - last));
}

// Takes a checkpoint, closes the fixture's model and returns its file's
// bytes.
std::string closedFile(RepositoryFixture& f) {
    Repository_externalCheckpoint(f.repo);
    vrnStateManager_closeDatabase(f.m, -1);
    vrnStateManager_delete(f.m);
    f.m = nullptr;
    return vrntest::readFile(f.name);
}

// Writes the damaged bytes as the model file, which is then refused as
// holding no model, and left as it was.
void refusedAsNoModel(const std::string& name, const std::string& damaged) {
    vrntest::writeFile(name, damaged);
    auto errors = refusedLeavingTheFileAsItWas(name);
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.back().message, "Unable to locate the primary model in the database\n\"" + name + "\".\n");
}

}  // namespace

TEST_F(RepositoryFixture, NewFileHasOneCheckpointAndTheDefaultParameter) {
    EXPECT_EQ(vrnStateManager_get(), m);
    EXPECT_EQ(m->repository, repo);
    ASSERT_EQ(repo->count, 1);
    EXPECT_EQ(repo->checkpoints[0], 1);
    EXPECT_EQ(repo->capacity, 50);
    EXPECT_EQ(Repository_externalCheckpoint(repo), 0);
    EXPECT_EQ(Repository_getCurrentState(repo), 1);
    reopen();
    EXPECT_DOUBLE_EQ(model->parameter, 0.005);
    ASSERT_NE(topology, nullptr);
    ASSERT_NE(names, nullptr);
    EXPECT_NE(names->atlas, nullptr);
    EXPECT_NE(model->mesh, nullptr);
}

TEST_F(RepositoryFixture, ARewrittenHistoryDropsLaterCheckpoints) {
    for (int i = 0; i < 4; ++i) {
        region(2);
        Repository_externalCheckpoint(repo);
    }
    ASSERT_EQ(repo->count, 5);  // states 1 to 5
    ASSERT_EQ(vrnStateManager_changeState(m, 0, 2), 1);
    region(2);
    EXPECT_EQ(repo->count, 2);
    EXPECT_EQ(repo->checkpoints[1], 2);
    EXPECT_EQ(Repository_externalCheckpoint(repo), 2);
    EXPECT_EQ(repo->checkpoints[2], 3);
}

TEST_F(RepositoryFixture, CheckpointListsLongerThanItsFirstCapacityAreKeptWhole) {
    // One session: more checkpoints than the list first holds.
    for (int i = 0; i < 60; ++i) {
        Model_setRealParameter(model, i);
        ASSERT_EQ(Repository_externalCheckpoint(repo), i + 1);
    }
    ASSERT_EQ(repo->count, 61);
    for (int i = 0; i < 61; ++i) EXPECT_EQ(repo->checkpoints[i], i + 1);
    // A host's own stored list of 13 to 50 states is read whole at the
    // next open, the rest of the list zeroed.
    std::vector<int> stored;
    for (int s = 2; s <= 61; s += 2) stored.push_back(s);
    ASSERT_TRUE(Database_setIntegerArray(m->database, 0, repo->header.uuid, "checkpoints", stored.data(),
                                         static_cast<int>(stored.size())));
    reopen();
    ASSERT_EQ(repo->count, 30);
    ASSERT_EQ(repo->capacity, 50);
    for (int i = 0; i < repo->capacity; ++i) EXPECT_EQ(repo->checkpoints[i], i < 30 ? 2 * (i + 1) : 0);
    Model_setRealParameter(model, 99);
    EXPECT_EQ(Repository_externalCheckpoint(repo), 30);
}

TEST_F(RepositoryFixture, ADamagedReferenceToThePrimaryModelIsRefused) {
    // One bit flipped in the stored reference; the model itself is whole.
    vrnUUID damaged;
    memcpy(&damaged, model->header.uuid, sizeof damaged);
    reinterpret_cast<unsigned char*>(&damaged)[5] ^= 0x10;
    ASSERT_TRUE(vrnStateManager_writeUUID(m, repo->header.uuid, "primaryModel", &damaged));
    vrnStateManager_closeState(m);
    vrnStateManager_closeDatabase(m, -1);
    vrnStateManager_delete(m);
    m = nullptr;
    auto errors = refusedLeavingTheFileAsItWas(name);
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.back().message, "Unable to locate the primary model in the database\n\"" + name + "\".\n");
}

TEST_F(RepositoryFixture, AModelMissingAPartEveryHostReachesIsRefusedUnwritten) {
    // Each damage leaves one part unrestored. The open used to return the
    // model without its topology (a host followed NULL), or without its
    // names and with no error (the next checkpoint stored it so), or adopt
    // a model whose repository was unreadable as one written without one,
    // and write a new state, or open without its region definitions.
    region(2, "Inlet");
    const std::string topologyId = modeltest::id(topology);
    const std::string namesId = modeltest::id(names);
    const std::string repository = modeltest::id(repo);
    const std::string bytes = closedFile(*this);
    const std::vector<std::function<void(std::string&)>> damages = {
        // One bit of the topology's UUID in the header of its type.
        [&](std::string& b) { b[b.find("WHERE\x1b", datasetAt(b, "__TYPE__", topologyId)) + 6] ^= 1; },
        // The topology's reference to its name manager: leading length zeroed.
        [&](std::string& b) { b.replace(datasetAt(b, "nameManager", topologyId) + 3, 4, 4, '\0'); },
        // The repository's type: leading length zeroed.
        [&](std::string& b) { b.replace(datasetAt(b, "__TYPE__", repository) + 3, 4, 4, '\0'); },
        // The name manager's reference to its atlas (the region
        // definitions): leading length zeroed.
        [&](std::string& b) { b.replace(datasetAt(b, "atlas", namesId) + 3, 4, 4, '\0'); },
    };
    for (size_t i = 0; i < damages.size(); ++i) {
        SCOPED_TRACE("damage " + std::to_string(i));
        std::string damaged = bytes;
        damages[i](damaged);
        refusedAsNoModel(name, damaged);
    }
}

// A host undid every state and closed: state 0 is current, with the
// states above it kept for redo. That is no new model: it is refused, and
// none of its states is erased.
TEST_F(RepositoryFixture, AModelUndoneToStateZeroIsRefusedWithItsStatesKept) {
    region(2, "Inlet");
    Repository_externalCheckpoint(repo);
    ASSERT_EQ(vrnStateManager_changeState(m, 0, 0), 1);
    vrnStateManager_closeDatabase(m, -1);
    vrnStateManager_delete(m);
    m = nullptr;
    refusedLeavingTheFileAsItWas(name);
}

TEST_F(RepositoryFixture, AnOpenAndACloseWithoutAChangeLeaveTheFileAsItWas) {
    region(2, "Inlet");
    Repository_externalCheckpoint(repo);
    vrnStateManager_closeDatabase(m, -1);
    vrnStateManager_delete(m);
    m = nullptr;
    // Files as other writers leave them: a list of types shorter than this
    // build's, a last state still marked open at the closed current one.
    const std::vector<std::function<void(Database*)>> files = {
        [](Database*) {},
        [](Database* db) {
            int* ids = nullptr;
            int n = 0;
            ASSERT_TRUE(Database_getIntegerArray(db, 0, nullptr, "Type - ids", &ids, &n));
            ASSERT_TRUE(Database_setIntegerArray(db, 0, nullptr, "Type - ids", ids, n - 2));
            vrnFree(ids, "test");
        },
        [](Database* db) {
            int current = 0;
            ASSERT_TRUE(Database_getInteger(db, 0, nullptr, "State - current", &current));
            ASSERT_TRUE(Database_setInteger(db, 0, nullptr, "State - last", -current));
        },
    };
    for (size_t i = 0; i < files.size(); ++i) {
        Database* db = Database_new(name.c_str());
        ASSERT_NE(db, nullptr);
        files[i](db);
        Database_delete(db);
        std::string before = vrntest::readFile(name);
        open();
        vrnStateManager_closeDatabase(m, -1);
        vrnStateManager_delete(m);
        m = nullptr;
        EXPECT_TRUE(vrntest::readFile(name) == before) << "file " << i << " was written";
    }
    // A state a killed writer left open is dropped in memory, and nothing
    // is written until the model changes: an open and a close leave the
    // file as it was. An undo stores the dropped state's settling before
    // its own counter: redo then reaches no part of the dropped state.
    Database* db = Database_new(name.c_str());
    ASSERT_NE(db, nullptr);
    int current = 0;
    ASSERT_TRUE(Database_getInteger(db, 0, nullptr, "State - current", &current));
    ASSERT_TRUE(Database_setInteger(db, 0, nullptr, "State - last", -(current + 1)));
    ASSERT_TRUE(Database_setInteger(db, current + 1, nullptr, "half written", 7));
    ASSERT_TRUE(Database_setInteger(db, 0, nullptr, "State - current", -(current + 1)));
    Database_delete(db);
    std::string killed = vrntest::readFile(name);
    open();
    EXPECT_EQ(m->current, current);
    vrnStateManager_closeDatabase(m, -1);
    vrnStateManager_delete(m);
    m = nullptr;
    EXPECT_TRUE(vrntest::readFile(name) == killed) << "the open settled into the file";
    open();
    ASSERT_EQ(vrnStateManager_changeState(m, 1, -1), 1);
    reopen();
    EXPECT_EQ(m->current, current - 1);
    EXPECT_EQ(m->last, current);
}

TEST(RepositoryOpen, AModelWithoutRepositoryIsAdoptedAndTwoModelsAreRefused) {
    vrntest::TempDir dir;
    std::string one = dir.file("one.vrn"), two = dir.file("two.vrn");
    // Files written with bare managers: one and two models, no repository.
    for (const std::string& name : {one, two}) {
        vrnStateManager* m = vrnStateManager_new();
        vrnStateManager* previous = vrnStateManager_setGlobal(m);
        ASSERT_TRUE(vrnStateManager_openDatabase(m, name.c_str()));
        Model_new(nullptr);
        if (name == two) Model_new(nullptr);
        vrnStateManager_closeDatabase(m, -1);
        vrnStateManager_delete(m);
        vrnStateManager_setGlobal(previous);
    }
    Repository* first = Repository_new(one.c_str());
    ASSERT_NE(first, nullptr);
    ASSERT_NE(first->primaryModel, nullptr);
    EXPECT_EQ(first->primaryModel->repository, first);

    std::string before = vrntest::readFile(two);
    EXPECT_EQ(Repository_new(two.c_str()), nullptr);
    EXPECT_EQ(vrnStateManager_get(), first->stateManager);
    EXPECT_FALSE(vrnFileExists((two + ".lck").c_str()));
    EXPECT_TRUE(vrntest::readFile(two) == before) << "the refused open wrote into the file";
    auto errors = commontest::takeErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].code, VRN_I_INTERNAL_ERROR);
    EXPECT_EQ(errors[0].message, "Unable to locate the primary model in the database\n\"" + two + "\".\n");

    // A file that is no model database: 10003 naming it.
    std::string text = dir.file("text.vrn");
    vrntest::writeFile(text, "not a data file\n");
    EXPECT_EQ(Repository_new(text.c_str()), nullptr);
    EXPECT_EQ(vrnStateManager_get(), first->stateManager);
    errors = commontest::takeErrors();
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.back().code, VRN_U_UNABLE_TO_OPEN_DATABASE);
    EXPECT_EQ(errors.back().message, "Unable to open the requested database\n\"" + text + "\".\n");
    vrnStateManager_delete(first->stateManager);
}

TEST(RepositoryOpen, ARefusedModelThatAKilledWriterLeftIsNotSettled) {
    // Two models and no repository, and a state left open by a writer
    // killed while storing it: the open settles that state in memory only,
    // and the refusal leaves every byte as it was.
    vrntest::TempDir dir;
    std::string name = dir.file("two.vrn");
    vrnStateManager* m = vrnStateManager_new();
    vrnStateManager* previous = vrnStateManager_setGlobal(m);
    ASSERT_TRUE(vrnStateManager_openDatabase(m, name.c_str()));
    Model_new(nullptr);
    Model_new(nullptr);
    vrnStateManager_closeDatabase(m, -1);
    vrnStateManager_delete(m);
    vrnStateManager_setGlobal(previous);
    Database* db = Database_new(name.c_str());
    ASSERT_NE(db, nullptr);
    ASSERT_TRUE(Database_setInteger(db, 0, nullptr, "State - last", -2));
    ASSERT_TRUE(Database_setInteger(db, 2, nullptr, "half written", 7));
    ASSERT_TRUE(Database_setInteger(db, 0, nullptr, "State - current", -2));
    Database_delete(db);
    refusedLeavingTheFileAsItWas(name);
}

namespace {

// Another process's step, run once just before the first file change that
// names the path (a create putting its model in place).
std::string g_stepPath;
std::function<void()> g_step;

void stepBeforeChangeTo(const char* path) {
    if (!g_step || g_stepPath != path) return;
    std::function<void()> step = std::move(g_step);
    g_step = nullptr;
    step();
}

}  // namespace

// Another process creates the same new model, fills it and closes it after
// this create found no file under the name and before it put its own
// there: the create opens that model and adds to it, rather than making a
// second repository over it that leaves neither model to open.
TEST(RepositoryOpen, ACreateRacedByAnotherCreateAddsToTheModelMadeMeanwhile) {
    vrntest::TempDir dir;
    std::string name = dir.file("model.vrn");
    bool made = false;
    g_stepPath = name;
    g_step = [&] {
        auto other = vrntest::runInChild([&] {
            Repository* r = Repository_new(name.c_str());
            if (!r) return 2;
            Topology_addRegion(r->primaryModel->topology, Region_new(2, "Theirs"), nullptr);
            Repository_externalCheckpoint(r);
            vrnStateManager_closeDatabase(r->stateManager, -1);
            return 0;
        });
        EXPECT_EQ(other.exitStatus, 0) << other.err;
        made = true;
    };
    vrnPlatform_setFileChangeHook(stepBeforeChangeTo);
    Repository* r = Repository_new(name.c_str());
    vrnPlatform_setFileChangeHook(nullptr);
    g_step = nullptr;
    ASSERT_TRUE(made);
    ASSERT_NE(r, nullptr);
    Topology_addRegion(r->primaryModel->topology, Region_new(2, "Ours"), nullptr);
    Repository_externalCheckpoint(r);
    vrnStateManager* m = r->stateManager;
    vrnStateManager_closeDatabase(m, -1);
    vrnStateManager_delete(m);
    EXPECT_TRUE(commontest::takeErrors().empty());

    r = Repository_new(name.c_str());
    ASSERT_NE(r, nullptr) << commontest::takeErrors().back().message;
    NameManager* names = r->primaryModel->topology->nameManager;
    EXPECT_NE(NameManager_getObject(names, "Theirs", nullptr), nullptr);
    EXPECT_NE(NameManager_getObject(names, "Ours", nullptr), nullptr);
    vrnStateManager_delete(r->stateManager);
}

// Another process opens a new model once it has its name, before the
// repository's first checkpoint is stored: the checkpoint is refused, and
// the create returns no repository. Once that process has gone the model
// opens as a new one.
TEST(RepositoryOpen, ANewRepositoryWhoseFirstCheckpointIsRefusedIsNotReturned) {
    vrntest::TempDir dir;
    std::string name = dir.file("model.vrn");
    Database* other = nullptr;
    // The create's own open of the placed model takes the lock mutex.
    g_stepPath = name + ".lck.lck";
    g_step = [&] { other = Database_new(name.c_str()); };
    vrnPlatform_setFileChangeHook(stepBeforeChangeTo);
    Repository* r = Repository_new(name.c_str());
    vrnPlatform_setFileChangeHook(nullptr);
    g_step = nullptr;
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(r, nullptr);
    auto errors = commontest::takeErrors();
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors[0].code, VRN_U_UNABLE_TO_WRITE_DATASET);
    Database_delete(other);
    r = Repository_new(name.c_str());
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->count, 1);
    EXPECT_TRUE(commontest::takeErrors().empty());
    vrnStateManager_delete(r->stateManager);
}

TEST(RepositoryOpen, AHostThatNeverClosesLeavesNoLock) {
    vrntest::TempDir dir;
    std::string name = dir.file("host.vrn");
    auto child = vrntest::runInChild([&] {
        Repository* r = Repository_new(name.c_str());
        if (!r) return 2;
        if (!vrnFileExists((name + ".lck").c_str())) return 3;  // locked while open
        Region* a = Region_new(2, "Kept");
        Topology_addRegion(r->primaryModel->topology, a, nullptr);
        vrnStateManager_closeState(r->stateManager);
        Region_setPriority(a, 9);  // left in an open state
        return 0;                  // exit without closing
    });
    ASSERT_EQ(child.exitStatus, 0) << child.err;
    EXPECT_FALSE(vrnFileExists((name + ".lck").c_str()));
    Repository* r = Repository_new(name.c_str());
    ASSERT_NE(r, nullptr);
    EXPECT_TRUE(commontest::takeErrors().empty());
    vrnObject* kept = NameManager_getObject(r->primaryModel->topology->nameManager, "Kept", nullptr);
    ASSERT_NE(kept, nullptr);
    // The state changed as far as the last closed one is there for sure.
    ASSERT_EQ(vrnStateManager_changeState(r->stateManager, 0, 2), 1);
    kept = NameManager_getObject(r->primaryModel->topology->nameManager, "Kept", nullptr);
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(reinterpret_cast<Region*>(kept)->dimensionality, 2);
    vrnStateManager_delete(r->stateManager);
}

TEST_F(RepositoryFixture, StoredFormsOfLinkMapsPermutationsAndBlobs) {
    Region* a = region(2);
    ElementMesh* b = ElementMesh_new(a, nullptr);
    Mesh_addLink(model->mesh, MESH_ELEMENT_MESHES_BIT, &a->header, &b->header);
    double tenDoubles[10] = {0};
    vrnBlob* blob = vrnBlob_new(BLOB_DOUBLES, tenDoubles, 10);
    vrnBlob* shared = vrnBlob_new(BLOB_INTS, tenDoubles, 2);
    vrnBlob_addUse(shared);
    vrnBlob_addUse(shared);
    InterfaceMap* map = InterfaceMap_new(nullptr, nullptr, nullptr);
    int one = 7;
    InterfaceMap_setMatches(map, 4, 1, &one, 1);
    vrnObject* two[] = {&a->header, &b->header};
    vrnBlob* references = vrnBlob_new(BLOB_REFERENCES, two, 2);
    EXPECT_EQ(references->byteSize, 2 * sizeof(void*));
    EXPECT_EQ(vrnBlob_new(BLOB_FLOATS, tenDoubles, 2), nullptr);
    EXPECT_EQ(commontest::takeErrors().size(), 1u);
    vrnStateManager_closeState(m);

    vrnObject** refs = nullptr;
    int n = 0;
    ASSERT_TRUE(vrnObject_getPointers(&model->mesh->header, 0, "elementMeshes", &refs, &n));
    ASSERT_EQ(n, 2);
    EXPECT_EQ(refs[0], &b->header);
    EXPECT_EQ(refs[1], &a->header);
    vrnFree(refs, "test");

    vrnBlob_delete(shared);
    EXPECT_EQ(shared->useCount, 2);
    vrnStateManager_closeState(m);
    std::string refsId = modeltest::id(references);
    std::string blobId = modeltest::id(blob), sharedId = modeltest::id(shared), mapId = modeltest::id(map);
    reopen();
    auto* again = reinterpret_cast<vrnBlob*>(Dictionary_contains(m->objects, blobId.c_str()));
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->kind, BLOB_DOUBLES);
    EXPECT_EQ(again->byteSize, 80u);
    auto* refs2 = reinterpret_cast<vrnBlob*>(Dictionary_contains(m->objects, refsId.c_str()));
    ASSERT_NE(refs2, nullptr);
    EXPECT_EQ(refs2->kind, BLOB_REFERENCES);
    EXPECT_EQ(refs2->byteSize, 2 * sizeof(void*));
    EXPECT_EQ(reinterpret_cast<vrnBlob*>(Dictionary_contains(m->objects, sharedId.c_str()))->useCount, 2);
    auto* restored = reinterpret_cast<InterfaceMap*>(Dictionary_contains(m->objects, mapId.c_str()));
    ASSERT_NE(restored, nullptr);
    ASSERT_EQ(restored->permutationCount, 4);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(restored->vertexPermutation[i], i);
    EXPECT_EQ(LinkMap_getCount(model->mesh->elementMeshes), 1);
}

TEST_F(RepositoryFixture, DeletedObjectsLeaveTheLinkMaps) {
    Region* inlet = region(2, "Inlet");
    Region* outlet = region(2, "Outlet");
    Visual* in = Visual_new(inlet, nullptr, 0, 0, nullptr);
    Visual* out = Visual_new(outlet, nullptr, 0, 0, nullptr);
    Representation_addVisual(model->representation, inlet, in);
    Representation_addVisual(model->representation, outlet, out);
    ElementMesh* mesh = ElementMesh_new(inlet, nullptr);
    Mesh_addLink(model->mesh, MESH_ELEMENT_MESHES_BIT, &outlet->header, &mesh->header);
    vrnStateManager_closeState(m);
    // Deleting a linked region, visual or element mesh takes its links out,
    // and the next dump writes only live objects.
    Region_delete(inlet);
    vrnObject_destroy(&out->header);
    vrnObject_destroy(&mesh->header);
    EXPECT_EQ(LinkMap_getCount(model->representation->links), 0);
    EXPECT_EQ(LinkMap_getCount(model->mesh->elementMeshes), 0);
    Region* third = region(2);
    Representation_addVisual(model->representation, third, Visual_new(third, nullptr, 0, 0, nullptr));
    vrnStateManager_closeState(m);
    EXPECT_EQ(LinkMap_getCount(model->representation->links), 1);
    // Undo brings every link back.
    ASSERT_EQ(vrnStateManager_changeState(m, 1, -1), 1);
    EXPECT_EQ(LinkMap_getCount(model->representation->links), 2);
    EXPECT_EQ(LinkMap_getCount(model->mesh->elementMeshes), 1);
}

TEST_F(RepositoryFixture, ReferencesToObjectsOfAnotherClassReadAsNone) {
    Assembly* a = Assembly_new(topology, "Body");
    Region* r = region(2);
    vrnStateManager_flushCache(m);
    // A damaged file: a region's topology names an assembly, its gluings
    // hold a region, and the topology's region set holds its name manager.
    vrnObject_setPointer(&r->header, "topology", &a->header);
    vrnObject* wrong[] = {&r->header};
    vrnObject_setPointers(&r->header, "gluings", wrong, 1);
    vrnObject* manager[] = {&names->header};
    vrnObject_setPointers(&topology->header, "2D regions", manager, 1);
    vrnObject_setPointer(&model->header, "mesh", &r->header);
    std::string regionId = modeltest::id(r);
    vrnStateManager_closeState(m);
    reopen();
    auto* again = reinterpret_cast<Region*>(Dictionary_contains(m->objects, regionId.c_str()));
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->topology, nullptr);
    EXPECT_EQ(again->gluings, nullptr);
    EXPECT_EQ(model->mesh, nullptr);
    void** members = nullptr;
    EXPECT_EQ(HashSet_toArray(topology->regions[2], &members), 0);
    vrnFree(members, "test");
    auto errors = commontest::takeErrors();
    ASSERT_GE(errors.size(), 2u);
    EXPECT_EQ(errors[0].code, VRN_I_INTERNAL_ERROR);
}

TEST(RepositoryOpen, FirstUseWithoutARepositoryMakesChanges) {
    vrntest::TempDir dir;
    vrntest::ChildOptions options;
    options.cwd = dir.path();
    auto child = vrntest::runInChild(
        [] {
            vrnStateManager* m = vrnStateManager_get();
            if (!m || !m->database || !m->repository) return 2;
            Region_new(1, "Edge");
            return vrnStateManager_get() == m ? 0 : 3;
        },
        options);
    ASSERT_EQ(child.exitStatus, 0) << child.err;
    EXPECT_TRUE(vrnFileExists(dir.file("_changes.vrn").c_str()));
    EXPECT_FALSE(vrnFileExists(dir.file("_changes.vrn.lck").c_str()));
}

TEST_F(RepositoryFixture, RestoreReleasesDerivedDataWhoseInputsChanged) {
    int permutation[] = {2, 0, 1};
    InterfaceMap* map = InterfaceMap_new(nullptr, nullptr, nullptr);
    InterfaceMap_setMatches(map, 3, 1, permutation, 3);
    vrnStateManager_closeState(m);
    vrnObject_setInt(&map->header, "noOfMatchedFaces", 2);
    vrnStateManager_closeState(m);
    // Derived data computed by a user: one array aliases the permutation.
    map->inversePermutation = map->vertexPermutation;
    map->matchedFaces = static_cast<int*>(vrnMalloc(8, "test"));
    map->derivedFaces = 2;
    ASSERT_EQ(vrnStateManager_changeState(m, 1, -1), 1);
    EXPECT_EQ(map->noOfMatchedFaces, 1);
    EXPECT_EQ(map->matchedFaces, nullptr);
    EXPECT_EQ(map->inversePermutation, nullptr);
    EXPECT_EQ(map->derivedFaces, 0);
    ASSERT_EQ(map->permutationCount, 3);
    EXPECT_EQ(map->vertexPermutation[0], 2);
    // An undo that does not touch the inputs keeps what was derived.
    map->matchedFaces = static_cast<int*>(vrnMalloc(8, "test"));
    vrnObject_setInt(&model->header, "unrelated", 1);
    vrnStateManager_closeState(m);
    ASSERT_EQ(vrnStateManager_changeState(m, 1, -1), 1);
    EXPECT_NE(map->matchedFaces, nullptr);
}
