// What a writer killed part way leaves behind must open with every closed
// state intact; refused writes and refused files must never pass for
// stored ones. Cuts are written here directly into the file, as a killed
// process would have left it.
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "../handed_over.h"
#include "crash_points.h"
#include "io_files.h"
#include "model/model_layer.h"
#include "model/repository.h"
#include "model_fixture.h"
#include "test_support.h"
#include "support/system.h"
#include "topology/topology.h"
#include "vrn_platform.h"

using modeltest::Blob;
using modeltest::ModelFixture;
using modeltest::uuidText;

namespace {

struct CutFixture : ModelFixture {
    // Closes the model, changes the stored file through a plain database
    // handle, and opens the model again.
    void editStored(const std::function<void(Database*)>& edit) {
        vrnStateManager_closeDatabase(m, -1);
        vrnStateManager_delete(m);
        Database* db = Database_new(name.c_str());
        ASSERT_NE(db, nullptr);
        edit(db);
        Database_delete(db);
        open();
    }
    int value(const std::string& id) {
        Blob* b = find(id);
        return b ? b->value : -1;
    }
    // Closes states 1 to n, the blob valued s in state s.
    std::string closeStates(int n) {
        Blob* a = make(1, "a");
        vrnStateManager_closeState(m);
        for (int s = 2; s <= n; ++s) {
            a->value = s;
            vrnObject_markModified(&a->header);
            vrnStateManager_closeState(m);
        }
        return uuidText(&a->header);
    }
};

void setCounters(Database* db, int current, int last) {
    Database_setInteger(db, 0, nullptr, "State - current", current);
    Database_setInteger(db, 0, nullptr, "State - last", last);
}

}  // namespace

TEST_F(CutFixture, CounterPairsOfACutNewStateOpenWithEveryClosedState) {
    std::string a = closeStates(3);
    // An earlier build wrote "State - current" first: killed before the
    // second write it left the next state open over a closed last one.
    editStored([](Database* db) { setCounters(db, -4, 3); });
    EXPECT_EQ(m->current, 3);
    EXPECT_EQ(value(a), 3);
    for (int s = 2; s >= 1; --s) {
        ASSERT_EQ(vrnStateManager_changeState(m, 0, s), 1);
        EXPECT_EQ(value(a), s);
    }
    ASSERT_EQ(vrnStateManager_changeState(m, 0, 3), 1);
    EXPECT_EQ(value(a), 3);

    // This build writes "State - last" first: the cut leaves the last
    // state open above a closed current one.
    editStored([](Database* db) { setCounters(db, 3, -4); });
    EXPECT_EQ(m->current, 3);
    EXPECT_EQ(value(a), 3);
    ASSERT_EQ(vrnStateManager_changeState(m, 0, 1), 1);
    EXPECT_EQ(value(a), 1);
    ASSERT_EQ(vrnStateManager_changeState(m, 0, 3), 1);
    Blob* b = find(a);
    b->value = 40;
    vrnObject_markModified(&b->header);
    EXPECT_EQ(vrnStateManager_closeState(m), 4);
    ASSERT_EQ(vrnStateManager_changeState(m, 0, 2), 1);
    EXPECT_EQ(value(a), 2);
    ASSERT_EQ(vrnStateManager_changeState(m, 0, 4), 1);
    EXPECT_EQ(value(a), 40);
}

TEST_F(CutFixture, RedoStatesLeftHalfErasedAreGoneAtTheNextOpen) {
    std::string a = closeStates(2);
    Blob* extra = make(7, "extra");  // made in state 3
    std::string x = uuidText(&extra->header);
    vrnStateManager_closeState(m);
    find(a)->value = 4;
    vrnObject_markModified(&find(a)->header);
    vrnStateManager_closeState(m);
    ASSERT_EQ(vrnStateManager_changeState(m, 0, 2), 1);
    ASSERT_EQ(live(), 1);

    // A new edit was discarding states 3 and 4 when the writer died:
    // "State - last" already lowered, state 4 erased, state 3 in part.
    editStored([&](Database* db) {
        Database_setInteger(db, 0, nullptr, "State - last", 2);
        ASSERT_TRUE(DefFile_erase(db->file, "*", a.c_str(), 4, 0));
        ASSERT_TRUE(DefFile_erase(db->file, "value", x.c_str(), 3, 1));
    });
    EXPECT_EQ(m->current, 2);
    EXPECT_EQ(live(), 1);
    EXPECT_EQ(vrnStateManager_changeState(m, 1, 1), 0);  // nothing to redo

    // The new state 3 holds only what is written now.
    find(a)->value = 30;
    vrnObject_markModified(&find(a)->header);
    EXPECT_EQ(vrnStateManager_closeState(m), 3);
    ASSERT_EQ(vrnStateManager_changeState(m, 0, 2), 1);
    ASSERT_EQ(vrnStateManager_changeState(m, 0, 3), 1);
    EXPECT_EQ(live(), 1);
    EXPECT_EQ(find(x), nullptr);
    EXPECT_EQ(value(a), 30);
}

TEST_F(CutFixture, ATypeListCutBetweenItsTwoWritesOpensAndIsWrittenAgainWhole) {
    std::string a = closeStates(2);
    char** names = nullptr;
    int* ids = nullptr;
    int nNames = 0, nIds = 0;
    ASSERT_TRUE(Database_getStringArray(m->database, 0, nullptr, "Type - names", &names, &nNames));
    ASSERT_TRUE(Database_getIntegerArray(m->database, 0, nullptr, "Type - ids", &ids, &nIds));
    ASSERT_EQ(nNames, nIds);
    ASSERT_GT(nNames, 2);
    // A list one type shorter, as a build that knew one type less wrote it;
    // this build appends the type, and the writer dies after either array.
    // Or a newer build, knowing one type more, died after its names.
    std::vector<char*> newer(names, names + nNames);
    newer.push_back(const_cast<char*>("TypeOfANewerBuild"));
    int expected = 2;
    for (int cut = 0; cut < 3; ++cut) {
        editStored([&](Database* db) {
            if (cut == 0)
                Database_setIntegerArray(db, 0, nullptr, "Type - ids", ids, nIds - 1);
            else if (cut == 1)
                Database_setStringArray(db, 0, nullptr, "Type - names", names, nNames - 1);
            else
                Database_setStringArray(db, 0, nullptr, "Type - names", newer.data(), nNames + 1);
        });
        ASSERT_NE(m->database, nullptr) << "cut " << cut;
        EXPECT_EQ(value(a), expected);
        // Before the next state the list is whole again.
        find(a)->value = expected = 7 + cut;
        vrnObject_markModified(&find(a)->header);
        ASSERT_GT(vrnStateManager_closeState(m), 0);
        char** storedNames = nullptr;
        int* storedIds = nullptr;
        int n1 = 0, n2 = 0;
        ASSERT_TRUE(Database_getStringArray(m->database, 0, nullptr, "Type - names", &storedNames, &n1));
        ASSERT_TRUE(Database_getIntegerArray(m->database, 0, nullptr, "Type - ids", &storedIds, &n2));
        EXPECT_EQ(n1, nNames);
        EXPECT_EQ(n2, nIds);
        vrnCStringArray_free(storedNames, n1);
        vrnFree(storedIds, "test");
    }
    vrnCStringArray_free(names, nNames);
    vrnFree(ids, "test");
}

TEST(ModelFileOpen, FailedOpensOfAnEmptyFileLeaveItEmpty) {
    vrntest::TempDir dir;
    std::string empty = dir.file("empty.vrn");
    vrntest::writeFile(empty, "");
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_EQ(Database_new(empty.c_str()), nullptr);
        auto errors = commontest::takeErrors();
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0].code, VRN_U_INVALID_INPUT);
        EXPECT_EQ(errors[0].message,
                  "The requested file\n\n" + empty + "\n\nexists but is not a valid VRN database.\n");
        EXPECT_EQ(vrntest::readFile(empty), "");
    }
    vrnStateManager* m = vrnStateManager_new();
    EXPECT_FALSE(vrnStateManager_openDatabase(m, empty.c_str()));
    vrnStateManager_delete(m);
    commontest::takeErrors();
    EXPECT_EQ(vrntest::readFile(empty), "");
    EXPECT_FALSE(vrnFileExists((empty + ".lck").c_str()));
}

namespace {

// A data file that is not a model: datasets of another program, its index
// stored at close.
std::string foreignDataFile(const std::string& path) {
    DefFile* f = DefFile_new(path.c_str());
    EXPECT_NE(f, nullptr);
    if (!f) return std::string();
    EXPECT_TRUE(DefFile_writeInt(f, "count", "mesh", 1, 7));
    EXPECT_TRUE(DefFile_writeInt(f, "count", "mesh", 2, 8));
    EXPECT_TRUE(DefFile_writeString(f, "title", "GLOBAL", 0, "beam"));
    DefFile_delete(f);
    return vrntest::readFile(path);
}

// The same bytes with another size recorded in the info block, so that an
// open rebuilds the index by scanning the datasets.
std::string withRecordedSize(std::string bytes, const std::string& size) {
    const size_t field = 6;
    size_t end = bytes.find('\n', field);
    EXPECT_NE(end, std::string::npos);
    if (end == std::string::npos || size.size() > end - field) return bytes;
    bytes.replace(field, end - field, std::string(end - field - size.size(), ' ') + size);
    return bytes;
}

}  // namespace

TEST(ModelFileOpen, RefusedOpensOfFilesThatAreNoModelLeaveThemByteForByte) {
    vrntest::TempDir dir;
    std::string scratch = dir.file("scratch.kwx");
    std::string stored = foreignDataFile(scratch);
    ASSERT_FALSE(stored.empty());
    std::string random(300, '\0');
    unsigned seed = 12345;
    for (char& c : random) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 16);
    }
    struct Case {
        const char* name;
        std::string bytes;
        const char* message;
    };
    const char* notAModel = "exists but is not a valid VRN database.\n";
    const char* notADataFile = "can not\nbe opened as a KWX data file.\n";
    const Case cases[] = {
        {"stored-index.vrn", stored, notAModel},
        {"size-cleared.vrn", withRecordedSize(stored, "0"), notAModel},
        {"size-stale.vrn", withRecordedSize(stored, std::to_string(stored.size() - 20)), notAModel},
        {"random.vrn", random, notADataFile},
        {"notes.vrn", "Notes on the model, taken at the review\nSecond line of the notes\n",
         notADataFile},
        // The first bytes of a data file's start, as a cut creation leaves it.
        {"cut-start.vrn", "*INFO\n      ", notAModel},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir.file(c.name);
        vrntest::writeFile(path, c.bytes);
        for (int attempt = 0; attempt < 2; ++attempt) {
            EXPECT_EQ(Database_new(path.c_str()), nullptr);
            auto errors = commontest::takeErrors();
            ASSERT_EQ(errors.size(), 1u);
            EXPECT_EQ(errors[0].code, VRN_U_INVALID_INPUT);
            EXPECT_NE(errors[0].message.find(path), std::string::npos);
            EXPECT_NE(errors[0].message.find(c.message), std::string::npos) << errors[0].message;
            EXPECT_TRUE(vrntest::readFile(path) == c.bytes);
            EXPECT_FALSE(vrnFileExists((path + ".lck").c_str()));
            EXPECT_FALSE(vrnFileExists((path + ".lck.lck").c_str()));
        }
        vrnStateManager* m = vrnStateManager_new();
        EXPECT_FALSE(vrnStateManager_openDatabase(m, path.c_str()));
        vrnStateManager_delete(m);
        EXPECT_FALSE(commontest::takeErrors().empty());
        EXPECT_TRUE(vrntest::readFile(path) == c.bytes);
        EXPECT_FALSE(vrnFileExists((path + ".lck").c_str()));
    }
}

TEST(ModelFileOpen, RefusedModelsAreLeftByteForByte) {
    vrntest::TempDir dir;
    struct Case {
        const char* name;
        std::function<void(Database*)> damage;
        const char* message;
    };
    const char* names[] = {"NoSuchType"};
    const int ids[] = {999};
    const Case cases[] = {
        {"counters.vrn",
         [](Database* db) { Database_setInteger(db, 0, nullptr, "State - current", 2000000000); },
         "do not fit together"},
        {"types.vrn",
         [&](Database* db) {
             Database_setStringArray(db, 0, nullptr, "Type - names", const_cast<char**>(names), 1);
             Database_setIntegerArray(db, 0, nullptr, "Type - ids", ids, 1);
         },
         "Unable to recognise some of the types of object"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir.file(c.name);
        Database* db = Database_new(path.c_str());
        ASSERT_NE(db, nullptr);
        c.damage(db);
        Database_delete(db);
        // As a writer killed after its first change leaves it: the index
        // must be rebuilt at the next open.
        for (const std::string& bytes :
             {vrntest::readFile(path), withRecordedSize(vrntest::readFile(path), "0")}) {
            vrntest::writeFile(path, bytes);
            vrnStateManager* m = vrnStateManager_new();
            EXPECT_FALSE(vrnStateManager_openDatabase(m, path.c_str()));
            vrnStateManager_delete(m);
            auto errors = commontest::takeErrors();
            ASSERT_EQ(errors.size(), 1u);
            EXPECT_NE(errors[0].message.find(c.message), std::string::npos) << errors[0].message;
            EXPECT_TRUE(vrntest::readFile(path) == bytes);
            EXPECT_FALSE(vrnFileExists((path + ".lck").c_str()));
        }
    }
}

namespace {

// Opens the repository of path, closes a state for each region added and
// closes it, keeping every state.
void addRegionsInStates(const std::string& path, std::initializer_list<const char*> names) {
    vrnModelClasses_install();
    Repository* r = Repository_new(path.c_str());
    ASSERT_NE(r, nullptr);
    for (const char* name : names) {
        Topology_addRegion(r->primaryModel->topology, Region_new(2, name), nullptr);
        ASSERT_GE(Repository_externalCheckpoint(r), 0);
    }
    vrnStateManager* m = r->stateManager;
    vrnStateManager_closeDatabase(m, -1);
    vrnStateManager_delete(m);
    commontest::takeErrors();
}

}  // namespace

// A session marks deleted the superseded counters it read once it has
// written its own, so a model cut before the counters of the states the
// session read holds closed states but no counters (or only the "State -
// last" written just before the cut). That is no model whose first state never
// closed: it is refused, not started anew over what is left.
TEST(ModelFileOpen, AModelCutBeforeItsLastCountersIsRefusedNotStartedAnew) {
    vrntest::TempDir dir;
    std::string path = dir.file("model.vrn");
    addRegionsInStates(path, {"Inlet", "Body", "Outlet"});
    const std::string earlier = vrntest::readFile(path);
    addRegionsInStates(path, {"Edge", "Wall"});
    const std::string whole = vrntest::readFile(path);
    // From the first counters on to the last "State - current" the first
    // session stored, which the second one read and left live (the names
    // as the datasets hold them, not as the stored index lists them).
    const size_t first = whole.find("State - current");
    const size_t end = earlier.rfind("State - current", earlier.rfind("*INDEX"));
    ASSERT_NE(end, std::string::npos);
    ASSERT_LT(first, end);
    for (int k = 1; k <= 4; ++k) {
        const std::string cut = whole.substr(0, first + (end - first) * k / 4);
        SCOPED_TRACE("cut to " + std::to_string(cut.size()) + " of " + std::to_string(whole.size()) + " bytes");
        vrntest::writeFile(path, cut);
        Repository* opened = Repository_new(path.c_str());
        EXPECT_EQ(opened, nullptr);
        if (opened) {
            vrnStateManager_closeDatabase(opened->stateManager, -1);
            vrnStateManager_delete(opened->stateManager);
        }
        bool refused = false;
        for (const auto& e : commontest::takeErrors())
            refused = refused || (e.code == VRN_U_INVALID_INPUT &&
                                  e.message.find("exists but is not a valid VRN database.") != std::string::npos);
        EXPECT_TRUE(refused);
        EXPECT_TRUE(vrntest::readFile(path) == cut);
        EXPECT_FALSE(vrnFileExists((path + ".lck").c_str()));
    }
}

TEST(ModelFileOpen, AModelLeftOnlyUnderACompactionBackupIsNotReplacedByAnEmptyOne) {
    vrntest::TempDir dir;
    std::string name = dir.file("model.vrn");
    Database* db = Database_new(name.c_str());
    ASSERT_NE(db, nullptr);
    ASSERT_TRUE(Database_setInteger(db, 1, nullptr, "kept", 42));
    Database_delete(db);
    // An earlier build was killed between moving the model aside and
    // moving the compacted copy in.
    std::string backup = name + ".ABCDEFGHIJKLMNOPQRSTUV.tmp";
    ASSERT_TRUE(vrnRenameFile(name.c_str(), backup.c_str()));
    std::string before = vrntest::readFile(backup);

    EXPECT_EQ(Database_new(name.c_str()), nullptr);
    auto errors = commontest::takeErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].code, VRN_U_UNABLE_TO_OPEN_DATABASE);
    EXPECT_NE(errors[0].message.find(backup), std::string::npos);
    EXPECT_FALSE(vrnFileExists(name.c_str()));
    EXPECT_EQ(vrntest::readFile(backup), before);

    // Renamed back as the message says, the model opens whole.
    ASSERT_TRUE(vrnRenameFile(backup.c_str(), name.c_str()));
    db = Database_new(name.c_str());
    ASSERT_NE(db, nullptr);
    int value = 0;
    EXPECT_TRUE(Database_getInteger(db, 1, nullptr, "kept", &value));
    EXPECT_EQ(value, 42);
    Database_delete(db);
}

TEST_F(CutFixture, AnEditRefusedForAnotherHolderFailsTheClose) {
    std::string a = closeStates(1);
    EXPECT_EQ(m->current, 1);
    vrnStateManager_closeDatabase(m, -1);
    vrnStateManager_delete(m);
    // Another handle holds the file first; the model may read, not write.
    Database* other = Database_new(name.c_str());
    ASSERT_NE(other, nullptr);
    m = vrnStateManager_new();
    vrnStateManager_setGlobal(m);
    ASSERT_TRUE(vrnStateManager_openDatabase(m, name.c_str()));
    commontest::takeErrors();
    Blob* b = find(a);
    ASSERT_NE(b, nullptr);
    EXPECT_FALSE(vrnObject_setInt(&b->header, "value", 2));
    EXPECT_EQ(vrnStateManager_closeState(m), -1);
    auto errors = commontest::takeErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].code, VRN_U_UNABLE_TO_WRITE_DATASET);
    EXPECT_NE(errors[0].message.find("The changes of state 2 could not all be stored in the VRN database"),
              std::string::npos);
    // Why: the data-file library's reason.
    EXPECT_NE(errors[0].message.find("more than one user is reading " + name), std::string::npos)
        << errors[0].message;
    // The refused state was dropped; one whose writes all reached the
    // file closes as usual.
    EXPECT_EQ(b->value, 1);
    // An undo, which would store the state it reaches, is refused too.
    EXPECT_EQ(vrnStateManager_changeState(m, 1, -1), 0);
    EXPECT_EQ(m->current, 1);
    errors = commontest::takeErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].code, VRN_U_DATABASE_IS_LOCKED);
    // Nor does a close of the other handle's that compacts replace the file
    // under this one.
    vrnStateManager* reader = vrnStateManager_new();
    vrnStateManager_setGlobal(reader);
    ASSERT_TRUE(vrnStateManager_openDatabase(reader, name.c_str()));
    vrnStateManager_closeDatabase(reader, 1);
    vrnStateManager_delete(reader);
    vrnStateManager_setGlobal(m);
    commontest::takeErrors();
    Database_delete(other);
    b->value = 3;
    vrnObject_markModified(&b->header);
    EXPECT_EQ(vrnStateManager_closeState(m), 2);
    EXPECT_TRUE(commontest::takeErrors().empty());
    // A write refused after others of the same state reached the file.
    EXPECT_TRUE(vrnObject_setInt(&b->header, "value", 4));
    EXPECT_FALSE(vrnObject_setInt(&b->header, "bad\nkey", 5));
    EXPECT_EQ(vrnStateManager_closeState(m), -1);
    errors = commontest::takeErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].message.find("The changes of state 3 could not all be stored"), std::string::npos);
    vrnStateManager_closeDatabase(m, -1);
    vrnStateManager_delete(m);
    open();
    EXPECT_EQ(m->current, 2);
    ASSERT_NE(find(a), nullptr);
    EXPECT_EQ(find(a)->value, 3);
    // Nor can another process open the file while a compacted copy takes
    // its name (it would then write into the file replaced).
    static std::string model;
    static int opened;
    model = name;
    opened = 0;
    vrnPlatform_setFileChangeHook([](const char* path) {
        if (model != path) return;
        Database* late = Database_new(model.c_str());
        opened += late != nullptr;
        Database_delete(late);
    });
    vrnStateManager_closeDatabase(m, 1);
    vrnPlatform_setFileChangeHook(nullptr);
    EXPECT_EQ(opened, 0);
    commontest::takeErrors();
    vrnStateManager_delete(m);
    open();
    EXPECT_EQ(find(a)->value, 3);
}

namespace {

// Another process's handle on the model that closes just before this
// process's k-th file change.
struct ClosingHolder {
    long long at = 0, seen = 0;
    Database* db = nullptr;
};
ClosingHolder* g_holder = nullptr;

void closeHolderBeforeChange(const char*) {
    ClosingHolder* h = g_holder;
    if (!h || ++h->seen != h->at) return;
    g_holder = nullptr;
    Database_delete(h->db);
    h->db = nullptr;
}

// The live blobs by name: value and the name of the blob referred to.
using Blobs = std::map<std::string, std::pair<int, std::string>>;

Blob* blobNamed(vrnStateManager* m, const std::string& label) {
    Blob* found = nullptr;
    DictionaryIterator* it = DictionaryIterator_new(m->objects);
    for (Pair* p = DictionaryIterator_first(it); p; p = DictionaryIterator_next(it)) {
        vrnObject* o = static_cast<vrnObject*>(p->second);
        Blob* b = reinterpret_cast<Blob*>(o);
        if (o->typeIndex == vrnTypeManager_getIndexOfName("vrnBlob") && b->name && label == b->name) found = b;
    }
    DictionaryIterator_delete(it);
    return found;
}

Blobs blobsOf(vrnStateManager* m) {
    Blobs out;
    DictionaryIterator* it = DictionaryIterator_new(m->objects);
    for (Pair* p = DictionaryIterator_first(it); p; p = DictionaryIterator_next(it)) {
        vrnObject* o = static_cast<vrnObject*>(p->second);
        if (o->typeIndex != vrnTypeManager_getIndexOfName("vrnBlob")) continue;
        Blob* b = reinterpret_cast<Blob*>(o);
        Blob* ref = reinterpret_cast<Blob*>(b->ref);
        out[b->name ? b->name : "?"] = {b->value, ref && ref->name ? ref->name : "-"};
    }
    DictionaryIterator_delete(it);
    return out;
}

vrnStateManager* openManager(const std::string& name) {
    vrnStateManager* m = vrnStateManager_new();
    vrnStateManager_setGlobal(m);
    if (!vrnStateManager_openDatabase(m, name.c_str())) {
        vrnStateManager_delete(m);
        return nullptr;
    }
    return m;
}

void closeManager(vrnStateManager* m) {
    vrnStateManager_closeDatabase(m, -1);
    vrnStateManager_delete(m);
}

}  // namespace

// Another process holds the model open while this one edits it, and
// closes just before the k-th file change of the edit: the writes of a
// state are refused up to there and would go through after. Whatever k,
// a state reported stored is what the next open shows, and one reported
// failed leaves no trace, in the file or in the session's memory: on a new
// model, on one of closed states, and on one whose writer was killed in
// the middle of a state (which no open may ever show).
TEST_F(CutFixture, AnEditRefusedUntilAnotherHolderClosesIsStoredWholeOrNotAtAll) {
    enum Flavour { NewModel, ClosedStates, KilledWriter };
    for (Flavour flavour : {NewModel, ClosedStates, KilledWriter}) {
        bool holderOutlivedTheEdit = false;
        for (long long k = 1; !holderOutlivedTheEdit; ++k) {
            SCOPED_TRACE("flavour " + std::to_string(flavour) + ", holder closes before change " +
                         std::to_string(k));
            std::string file = dir.file("m" + std::to_string(flavour) + "_" + std::to_string(k) + ".vrn");
            Blobs expected;
            int closed = 0;
            {
                vrnStateManager* w = openManager(file);
                ASSERT_NE(w, nullptr);
                if (flavour != NewModel) {
                    make(1, "a");
                    vrnStateManager_closeState(w);
                    for (closed = 2; closed <= 4; ++closed) {
                        blobNamed(w, "a")->value = closed;
                        vrnObject_markModified(&blobNamed(w, "a")->header);
                        vrnStateManager_closeState(w);
                    }
                    closed = 4;
                    expected["a"] = {4, "-"};
                }
                std::string a = flavour == KilledWriter ? uuidText(&blobNamed(w, "a")->header) : "";
                closeManager(w);
                if (flavour == KilledWriter) {
                    Database* db = Database_new(file.c_str());
                    ASSERT_NE(db, nullptr);
                    vrnUUID* uuid = vrnUUID_newFromBase64(a.c_str());
                    setCounters(db, -5, -5);
                    Database_setInteger(db, 5, uuid, "value", 99);
                    vrnUUID_delete(uuid);
                    Database_delete(db);
                }
            }
            ClosingHolder holder;
            holder.at = k;
            holder.db = Database_new(file.c_str());
            ASSERT_NE(holder.db, nullptr);
            vrnStateManager* w = openManager(file);
            ASSERT_NE(w, nullptr);
            g_holder = &holder;
            vrnPlatform_setFileChangeHook(closeHolderBeforeChange);

            // Edit 1: a to 50, b made referring to a.
            Blob* ba = blobNamed(w, "a");
            if (!ba) ba = make(0, "a");
            ba->value = 50;
            vrnObject_markModified(&ba->header);
            Blob* bb = make(7, "b");
            bb->ref = &ba->header;
            int first = vrnStateManager_closeState(w);
            if (first > 0) {
                expected["a"] = {50, "-"};
                expected["b"] = {7, "a"};
                EXPECT_EQ(first, ++closed);
            } else {
                EXPECT_EQ(first, -1);
            }
            EXPECT_EQ(blobsOf(w), expected);

            // Edit 2: a to 60 referring to b (when there is one), c made.
            ba = blobNamed(w, "a");
            if (!ba) ba = make(0, "a");
            ba->value = 60;
            Blob* b = blobNamed(w, "b");
            ba->ref = b ? &b->header : nullptr;
            vrnObject_markModified(&ba->header);
            make(9, "c");
            int second = vrnStateManager_closeState(w);
            if (second > 0) {
                expected["a"] = {60, b ? "b" : "-"};
                expected["c"] = {9, "-"};
                EXPECT_EQ(second, ++closed);
            } else {
                EXPECT_EQ(second, -1);
            }
            EXPECT_EQ(blobsOf(w), expected);
            closeManager(w);
            vrnPlatform_setFileChangeHook(nullptr);
            g_holder = nullptr;
            if (holder.db) {
                holderOutlivedTheEdit = true;
                Database_delete(holder.db);
            }
            commontest::takeErrors();

            vrnStateManager* r = openManager(file);
            ASSERT_NE(r, nullptr);
            EXPECT_TRUE(commontest::takeErrors().empty());
            EXPECT_EQ(r->current, closed);
            EXPECT_EQ(blobsOf(r), expected);
            closeManager(r);
            vrnStateManager_setGlobal(m);
        }
    }
}

// An undo or redo out of an edit whose writes were refused: the edit is
// dropped as its close would drop it, memory shows the stored state again,
// and once the other holder has gone the next edit is stored.
TEST_F(CutFixture, AnUndoOrRedoOutOfARefusedEditShowsTheStoredStateAndEditingGoesOn) {
    std::string a = closeStates(2);
    std::string q = uuidText(&make(9, "q")->header);
    ASSERT_EQ(vrnStateManager_closeState(m), 3);
    for (int redo = 0; redo < 2; ++redo) {
        SCOPED_TRACE(redo ? "redo" : "undo");
        reopen(-1);
        Database* other = Database_new(name.c_str());
        ASSERT_NE(other, nullptr);
        commontest::takeErrors();
        modeltest::blobDestroy(&find(q)->header);
        ASSERT_EQ(find(q), nullptr);
        Database_delete(other);
        EXPECT_EQ(vrnStateManager_changeState(m, 1, redo ? 1 : -1), redo ? 0 : 1);
        auto errors = commontest::takeErrors();
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0].code, VRN_U_UNABLE_TO_WRITE_DATASET);
        EXPECT_EQ(m->current, 3 + redo);
        EXPECT_EQ(m->last, 3 + redo);
        ASSERT_NE(find(q), nullptr);
        find(a)->value = 10 + redo;
        vrnObject_markModified(&find(a)->header);
        EXPECT_EQ(vrnStateManager_closeState(m), 4 + redo);
        EXPECT_TRUE(commontest::takeErrors().empty());
    }
    reopen(-1);
    EXPECT_EQ(m->current, 5);
    EXPECT_EQ(value(a), 11);
    ASSERT_NE(find(q), nullptr);
}

// An edit refused because another process holds the model keeps what
// redo reaches: undone, closed and opened again, then held by another
// process when an edit is refused, the model still redoes to its last
// state once that process has gone.
TEST_F(CutFixture, AnEditRefusedAfterAnUndoKeepsTheStatesRedoReaches) {
    std::string a = closeStates(3);
    ASSERT_EQ(vrnStateManager_changeState(m, 0, 1), 1);
    reopen(-1);
    ASSERT_EQ(m->current, 1);
    ASSERT_EQ(m->last, 3);
    Database* other = Database_new(name.c_str());
    ASSERT_NE(other, nullptr);
    find(a)->value = 10;
    vrnObject_markModified(&find(a)->header);
    EXPECT_EQ(vrnStateManager_closeState(m), -1);
    Database_delete(other);
    commontest::takeErrors();
    EXPECT_EQ(value(a), 1);
    EXPECT_EQ(m->last, 3);
    EXPECT_EQ(vrnStateManager_changeState(m, 1, 2), 1);
    EXPECT_EQ(m->current, 3);
    EXPECT_EQ(value(a), 3);
}

// A redo out of a state whose writes were refused is refused, as out of
// any open state, even to a stored state that the open one would take
// the number of, and even once the other holder has gone; the refused
// state is dropped all the same.
TEST_F(CutFixture, ARedoOutOfARefusedOpenStateIsRefusedEvenToAStoredState) {
    std::string a = closeStates(3);
    ASSERT_EQ(vrnStateManager_changeState(m, 0, 2), 1);
    reopen(-1);
    Database* other = Database_new(name.c_str());
    ASSERT_NE(other, nullptr);
    EXPECT_FALSE(vrnObject_setInt(&find(a)->header, "value", 20));
    ASSERT_EQ(m->current, -3);
    Database_delete(other);
    EXPECT_EQ(vrnStateManager_changeState(m, 0, 3), 0);
    EXPECT_EQ(m->current, 2);
    EXPECT_EQ(value(a), 2);
    commontest::takeErrors();
    EXPECT_EQ(vrnStateManager_changeState(m, 0, 3), 1);
    EXPECT_EQ(value(a), 3);
}

// A model the user may not write (its file read-only) is still browsed:
// undo and redo go on in memory, and the file is left as it was.
TEST_F(CutFixture, AModelThatMayNotBeWrittenIsUndoneAndRedoneInMemory) {
    std::string a = closeStates(3);
    vrnStateManager_closeDatabase(m, -1);
    vrnStateManager_delete(m);
    m = nullptr;
    const std::string before = vrntest::readFile(name);
    ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    ASSERT_EQ(chmod(name.c_str(), 0444), 0);
    // Permissions do not bind root: the session runs as "nobody" there.
    auto child = vrntest::runInChild([&] {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 100;
        vrnStateManager* r = openManager(name);
        if (!r) return 1;
        int failed = 0;
        for (int target : {1, 3, 2}) {
            if (vrnStateManager_changeState(r, 0, target) != 1 || r->current != target ||
                !blobNamed(r, "a") || blobNamed(r, "a")->value != target)
                failed = 10 + target;
        }
        closeManager(r);
        return failed;
    });
    ASSERT_EQ(chmod(name.c_str(), 0644), 0);
    if (child.exitStatus == 100) GTEST_SKIP() << "no unprivileged process can be made here";
    EXPECT_EQ(child.exitStatus, 0) << child.err;
    EXPECT_TRUE(vrntest::readFile(name) == before);
    open();
    EXPECT_EQ(m->current, 3);
    EXPECT_EQ(value(a), 3);
}

// A close that reduces the model to its current state while every state
// is undone keeps the states: there is no state to keep.
TEST_F(CutFixture, ACloseKeepingOnlyTheCurrentStateWithEveryStateUndoneKeepsTheStates) {
    std::string a = closeStates(3);
    ASSERT_EQ(vrnStateManager_changeState(m, 0, 0), 1);
    commontest::takeErrors();
    vrnStateManager_closeDatabase(m, 1);
    auto errors = commontest::takeErrors();
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors[0].code, VRN_U_UNABLE_TO_COMPACT_DATABASE);
    EXPECT_NE(errors[0].message.find("every state is undone"), std::string::npos);
    vrnStateManager_delete(m);
    m = vrnStateManager_new();
    vrnStateManager_setGlobal(m);
    Database* db = Database_new(name.c_str());
    ASSERT_NE(db, nullptr);
    int current = -1, last = -1, stored = -1;
    EXPECT_TRUE(Database_getInteger(db, 0, nullptr, "State - current", &current));
    EXPECT_TRUE(Database_getInteger(db, 0, nullptr, "State - last", &last));
    vrnUUID* uuid = vrnUUID_newFromBase64(a.c_str());
    EXPECT_TRUE(Database_getInteger(db, 3, uuid, "value", &stored));
    vrnUUID_delete(uuid);
    Database_delete(db);
    EXPECT_EQ(current, 0);
    EXPECT_EQ(last, 3);
    EXPECT_EQ(stored, 3);
}

// Another process takes the model for writing in the moment between the
// compacted copy taking its name and the closing handle opening it again:
// the compaction is done, and the close says nothing else.
TEST_F(CutFixture, ACompactionWhoseCopyTookTheNameIsNotReportedFailed) {
    std::string a = closeStates(3);
    static std::string model;
    static int step;
    static Database* late;
    model = name;
    step = 0;
    late = nullptr;
    // The closing handle gives its lock up (the lock file removed, then its
    // mutex), and takes the mutex again to open the copy.
    vrnPlatform_setFileChangeHook([](const char* path) {
        if (step == 0 && model + ".lck" == path) step = 1;
        else if (step == 1 && model + ".lck.lck" == path) step = 2;
        else if (step == 2 && model + ".lck.lck" == path) {
            step = 3;
            late = Database_new(model.c_str());
            if (late && !Database_lockForWriting(late)) step = 4;
        }
    });
    commontest::takeErrors();
    EXPECT_EQ(vrnStateManager_closeDatabase(m, 1), 1);
    vrnPlatform_setFileChangeHook(nullptr);
    EXPECT_EQ(step, 3);
    ASSERT_NE(late, nullptr);
    for (const auto& e : commontest::takeErrors())
        EXPECT_EQ(e.message.find("Unable to compact"), std::string::npos) << e.message;
    Database_delete(late);
    vrnStateManager_delete(m);
    open();
    EXPECT_EQ(m->current, 1);
    EXPECT_EQ(m->last, 1);
    EXPECT_EQ(value(a), 3);
}

namespace {

// Whether the lock file or lock mutex at path awaits no change but its
// removal: a mutex that is there, a lock file that holds a writer's -1.
bool awaitsRemoval(const std::string& path) {
    if (path.size() > 8 && path.compare(path.size() - 8, 8, ".lck.lck") == 0) return vrnFileExists(path.c_str());
    FILE* f = fopen(path.c_str(), "r");
    int value = 0;
    const bool writer = f && fscanf(f, "%d", &value) == 1 && value == -1;
    if (f) fclose(f);
    return writer;
}

// Makes file changes of the chosen lock files fail (ENOSPC; EIO for an
// unlink) while it lives: with failNew those that would make a new file,
// as in a folder that takes no new file; with failOnce the removal of one
// (see awaitsRemoval), as a failing disk does once.
struct ChangesFail {
    static std::function<bool(const std::string&)>& chosen() {
        static std::function<bool(const std::string&)> f;
        return f;
    }
    static bool& failNew() {
        static bool b;
        return b;
    }
    static bool& failOnce() {
        static bool b;
        return b;
    }
    ChangesFail(std::function<bool(const std::string&)> paths, bool newFiles, bool once) {
        chosen() = std::move(paths);
        failNew() = newFiles;
        failOnce() = once;
        vrnPlatform_setFileChangeHook([](const char* path) {
            if (!chosen()(path)) return;
            if (vrnFileExists(path) ? failOnce() && awaitsRemoval(path) : failNew()) {
                if (vrnFileExists(path)) failOnce() = false;
                vrnPlatform_setFailurePoint(1, 0);
            }
        });
    }
    ~ChangesFail() {
        vrnPlatform_setFileChangeHook(nullptr);
        vrnPlatform_setFailurePoint(0, 0);
    }
};

bool endsWith(const std::string& s, const std::string& end) {
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

// Two holders of the model in a folder where no lock file can be made: each
// opens it for reading, without a lock file, and each has its edits
// refused saying why, for neither could keep the other from writing too.
TEST_F(CutFixture, TwoHoldersWhereNoLockFileCanBeMadeBothHaveTheirEditsRefused) {
    std::string a = closeStates(2);
    vrnStateManager_closeDatabase(m, -1);
    vrnStateManager_delete(m);
    m = nullptr;
    {
        ChangesFail noNewFile([&](const std::string& p) { return p.rfind(name, 0) == 0 && endsWith(p, ".lck"); },
                              true, false);
        open();
        Database* other = Database_new(name.c_str());
        ASSERT_NE(other, nullptr);
        EXPECT_FALSE(vrnFileExists((name + ".lck").c_str()));
        commontest::takeErrors();
        find(a)->value = 30;
        vrnObject_markModified(&find(a)->header);
        EXPECT_EQ(vrnStateManager_closeState(m), -1);
        auto errors = commontest::takeErrors();
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0].code, VRN_U_UNABLE_TO_WRITE_DATASET);
        EXPECT_NE(errors[0].message.find("cannot be locked for writing: its lock mutex " + name +
                                         ".lck.lck cannot be made: No space left on device"),
                  std::string::npos)
            << errors[0].message;
        EXPECT_EQ(value(a), 2);
        EXPECT_FALSE(Database_lockForWriting(other));
        EXPECT_FALSE(Database_setInteger(other, 3, nullptr, "State - current", 3));
        Database_delete(other);
        vrnStateManager_closeDatabase(m, -1);
        vrnStateManager_delete(m);
        m = nullptr;
    }
    commontest::takeErrors();
    open();
    EXPECT_EQ(m->current, 2);
    EXPECT_EQ(value(a), 2);
}

// A close that cannot remove a lock file or a lock mutex (of the model, or
// of the copy a compaction or a create makes beside it) fails, naming it:
// a lock file left keeps every later open out until it is removed.
TEST_F(CutFixture, ACloseThatCannotRemoveALockFileFailsNamingIt) {
    std::string a = closeStates(2);
    struct Case {
        const char* what;
        int mode;
        std::function<bool(const std::string&)> path;
        std::string left;  // the name reported, or what ends it
    };
    const Case cases[] = {
        {"the model's lock file", -1, [&](const std::string& p) { return p == name + ".lck"; }, name + ".lck"},
        {"its mutex", -1, [&](const std::string& p) { return p == name + ".lck.lck"; }, name + ".lck.lck"},
        {"the compaction copy's lock file", 0,
         [&](const std::string& p) { return p.find("/compact.") != std::string::npos && endsWith(p, ".tmp.lck"); },
         ".tmp.lck"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        commontest::takeErrors();
        {
            ChangesFail failedRemoval(c.path, false, true);
            EXPECT_EQ(vrnStateManager_closeDatabase(m, c.mode), 0);
        }
        vrnStateManager_delete(m);
        m = nullptr;
        auto errors = commontest::takeErrors();
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0].code, VRN_U_UNABLE_TO_DELETE_FILE);
        EXPECT_NE(errors[0].message.find(c.left + " (Input/output error)"), std::string::npos) << errors[0].message;
        if (c.mode == -1) {
            EXPECT_TRUE(vrnFileExists(c.left.c_str()));
        }
        if (c.left == name + ".lck") {
            // Every open is refused until it is removed by hand.
            vrnStateManager* refused = vrnStateManager_new();
            EXPECT_FALSE(vrnStateManager_openDatabase(refused, name.c_str()));
            vrnStateManager_delete(refused);
            errors = commontest::takeErrors();
            ASSERT_FALSE(errors.empty());
            EXPECT_EQ(errors[0].code, VRN_U_DATABASE_IS_LOCKED);
            vrnPlatform_unlink(c.left.c_str());
        }
        open();
        EXPECT_EQ(value(a), 2);
        EXPECT_TRUE(commontest::takeErrors().empty());
    }
    // A create's copy: the model is made, and the lock file left is named.
    const std::string fresh = dir.file("fresh.vrn");
    Database* db = nullptr;
    {
        ChangesFail failedRemoval(
            [&](const std::string& p) { return p.find("/fresh.vrn.create.") != std::string::npos && endsWith(p, ".tmp.lck"); },
            false, true);
        db = Database_new(fresh.c_str());
    }
    ASSERT_NE(db, nullptr);
    auto errors = commontest::takeErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].code, VRN_U_UNABLE_TO_DELETE_FILE);
    EXPECT_NE(errors[0].message.find(".tmp.lck (Input/output error)"), std::string::npos) << errors[0].message;
    EXPECT_EQ(Database_close(db), 1);
    Database_delete(db);
    db = Database_new(fresh.c_str());
    EXPECT_NE(db, nullptr);
    Database_delete(db);
}

namespace {

// The blobs of every state a manager reaches, from its first state to its
// last; the manager is left at the state it was at.
std::map<int, Blobs> statesOf(vrnStateManager* m) {
    std::map<int, Blobs> out;
    const int current = m->current;
    for (int s = abs(m->first); s <= abs(m->last); ++s)
        if (vrnStateManager_changeState(m, 0, s) == 1) out[s] = blobsOf(m);
    vrnStateManager_changeState(m, 0, current);
    return out;
}

std::string messagesOf(const std::vector<commontest::Recorded>& errors) {
    std::string text;
    for (const auto& e : errors) text += e.message + "\n";
    return text;
}

// A session on a copy of a model, whose k-th file change fails once: what
// it showed of each state undo and redo reach, what it published, and what
// the model opened again shows.
struct FailedSession {
    bool reached = false;
    std::string published;
    int current = 0;
    std::map<int, Blobs> shown;
    int storedCurrent = 0;
    std::map<int, Blobs> stored;
};

// States 1 to 6 of a model: a valued 1 to 4 in states 1 to 4, and c made
// in state 1; b made in state 5; c changed in state 6.
void sixStates(vrnStateManager* m, ModelFixture& f) {
    f.make(1, "a");
    f.make(100, "c");
    vrnStateManager_closeState(m);
    for (int s = 2; s <= 4; ++s) {
        blobNamed(m, "a")->value = s;
        vrnObject_markModified(&blobNamed(m, "a")->header);
        vrnStateManager_closeState(m);
    }
    f.make(5, "b");
    vrnStateManager_closeState(m);
    blobNamed(m, "c")->value = 66;
    vrnObject_markModified(&blobNamed(m, "c")->header);
    vrnStateManager_closeState(m);
}

// From the model of sixStates undone to state 4, three edits of a (the
// first discards states 5 and 6), the k-th file change from the undo on
// failing once.
FailedSession discardWithAFailure(const std::string& name, const std::string& base, long long k) {
    FailedSession s;
    vrntest::writeFile(name, base);
    vrntest::removeDeadWriterLock(name);
    vrnStateManager* w = openManager(name);
    if (!w) return s;
    std::map<int, Blobs> shown = statesOf(w);
    const long long before = vrnPlatform_fileChangeCount();
    vrnPlatform_setFailurePoint(k, -1);
    if (vrnStateManager_changeState(w, 0, 4) == 1) {
        for (int value : {40, 41, 42}) {
            Blob* a = blobNamed(w, "a");
            a->value = value;
            vrnObject_markModified(&a->header);
            const int closed = vrnStateManager_closeState(w);
            if (closed > 0) {
                shown.erase(shown.upper_bound(closed), shown.end());
                shown[closed] = blobsOf(w);
            }
        }
    }
    s.reached = vrnPlatform_fileChangeCount() - before >= k;
    vrnPlatform_setFailurePoint(0, -1);
    s.current = w->current;
    for (const auto& state : shown)
        if (state.first >= abs(w->first) && state.first <= abs(w->last)) s.shown.insert(state);
    s.published = messagesOf(commontest::takeErrors());
    closeManager(w);
    // A lock file whose removal failed is left for the user to remove.
    vrntest::removeDeadWriterLock(name);
    vrnStateManager* r = openManager(name);
    if (r) {
        s.storedCurrent = r->current;
        s.stored = statesOf(r);
        closeManager(r);
    }
    commontest::takeErrors();
    return s;
}

}  // namespace

// The first edit after an undo discards the redo states; a search it makes
// to find them can fail (the deletion mark it writes for an older copy of
// a dataset cannot be written). That search must fail the edit as any
// failed write does, not pass for one that found nothing: the datasets of
// the discarded states would stay, and show in the new states.
TEST_F(CutFixture, ASearchThatFailsWhileDiscardingRedoStatesFailsTheEdit) {
    sixStates(m, *this);
    vrnStateManager_closeDatabase(m, -1);
    const std::string base = vrntest::readFile(name);
    bool searchFailed = false;
    for (long long k = 1;; ++k) {
        SCOPED_TRACE("change " + std::to_string(k) + " failing");
        const FailedSession s = discardWithAFailure(name, base, k);
        if (!s.reached) break;
        // The other failures of this session are those of its writes and
        // erasures.
        if (s.published.find("Unable to search") != std::string::npos) searchFailed = true;
        else if (!s.published.empty()) continue;
        EXPECT_EQ(s.storedCurrent, s.current) << s.published;
        EXPECT_EQ(s.stored, s.shown) << s.published;
    }
    EXPECT_TRUE(searchFailed) << "no search failed";
    vrnStateManager_delete(m);
    open();
}

// The deletion mark of a dataset being discarded with its redo state can
// fail. The edit then fails, and the datasets of the discarded states
// that are still there go before a later state takes their number: none
// of them shows in the new states, in the session or once reopened.
TEST_F(CutFixture, ADeletionThatFailsWhileDiscardingRedoStatesIsDoneAgainByTheNextEdit) {
    sixStates(m, *this);
    vrnStateManager_closeDatabase(m, -1);
    const std::string base = vrntest::readFile(name);
    bool eraseFailed = false;
    for (long long k = 1;; ++k) {
        SCOPED_TRACE("change " + std::to_string(k) + " failing");
        const FailedSession s = discardWithAFailure(name, base, k);
        if (!s.reached) break;
        if (s.published.find("Unable to erase") == std::string::npos) continue;
        eraseFailed = true;
        EXPECT_EQ(s.storedCurrent, s.current) << s.published;
        EXPECT_EQ(s.stored, s.shown) << s.published;
    }
    EXPECT_TRUE(eraseFailed) << "no erasure failed";
    vrnStateManager_delete(m);
    open();
}

// An undo or redo whose new current state cannot be stored answers 0 and
// leaves memory at the state the file holds; nothing of it is charged to
// the next state, which is stored as usual.
TEST_F(CutFixture, AnUndoOrRedoThatCannotStoreItsStateIsRefusedAndChargedToNoState) {
    // A lock mutex whose removal failed is taken over at once, not waited
    // out (the default wait: 12 steps of 5 s).
    struct ShortLockWait {
        ShortLockWait() { kwxIoSetLockWait(1, 1); }
        ~ShortLockWait() { kwxIoSetLockWait(5000, 12); }
    } shortWait;
    std::string a = closeStates(3);
    vrnStateManager_closeDatabase(m, -1);
    const std::string atThree = vrntest::readFile(name);
    vrnStateManager_delete(m);
    open();
    ASSERT_EQ(vrnStateManager_changeState(m, 0, 2), 1);
    vrnStateManager_closeDatabase(m, -1);
    const std::string atTwo = vrntest::readFile(name);
    bool refused[2] = {false, false};
    for (int redo = 0; redo < 2; ++redo) {
        const int from = redo ? 2 : 3, to = redo ? 3 : 2;
        for (long long k = 1;; ++k) {
            SCOPED_TRACE(std::string(redo ? "redo" : "undo") + ", change " + std::to_string(k) + " failing");
            vrnStateManager_delete(m);
            vrntest::writeFile(name, redo ? atTwo : atThree);
            open();
            const long long before = vrnPlatform_fileChangeCount();
            vrnPlatform_setFailurePoint(k, -1);
            const int changed = vrnStateManager_changeState(m, 1, redo ? 1 : -1);
            const bool reached = vrnPlatform_fileChangeCount() - before >= k;
            vrnPlatform_setFailurePoint(0, -1);
            if (!reached) break;
            refused[redo] = refused[redo] || changed == 0;
            const int now = changed == 1 ? to : from;
            EXPECT_EQ(m->current, now);
            EXPECT_EQ(value(a), now);
            commontest::takeErrors();
            find(a)->value = 77;
            vrnObject_markModified(&find(a)->header);
            EXPECT_EQ(vrnStateManager_closeState(m), now + 1);
            EXPECT_EQ(messagesOf(commontest::takeErrors()), "");
            vrnStateManager_closeDatabase(m, -1);
            vrnStateManager_delete(m);
            // A lock file whose removal failed is left for the user to remove.
            vrntest::removeDeadWriterLock(name);
            open();
            EXPECT_EQ(m->current, now + 1);
            EXPECT_EQ(value(a), 77);
            ASSERT_EQ(vrnStateManager_changeState(m, 1, -1), 1);
            EXPECT_EQ(value(a), now);
        }
    }
    EXPECT_TRUE(refused[0] && refused[1]) << "no undo or no redo was refused";
}

// A model the user may not write (its file, or its folder and so its lock
// file) is browsed in memory: undo and redo move memory and say nothing,
// nor does the close, and the file is left as it was.
TEST_F(CutFixture, AModelThatCannotBeWrittenIsBrowsedWithoutFalseMessages) {
    std::string a = closeStates(3);
    vrnStateManager_closeDatabase(m, -1);
    vrnStateManager_delete(m);
    m = nullptr;
    const std::string before = vrntest::readFile(name);
    for (bool folder : {false, true}) {
        SCOPED_TRACE(folder ? "a folder that takes no new file" : "a file that may not be written");
        // Permissions do not bind root: the session runs as "nobody".
        ASSERT_EQ(chmod(dir.path().c_str(), folder ? 0755 : 0777), 0);
        ASSERT_EQ(chown(name.c_str(), folder ? 65534 : 0, folder ? 65534 : 0), 0);
        ASSERT_EQ(chmod(name.c_str(), folder ? 0644 : 0444), 0);
        auto child = vrntest::runInChild([&] {
            if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 10;
            vrnStateManager* w = openManager(name);
            if (!w) return 11;
            commontest::takeErrors();
            std::string wrong;
            const int steps[][2] = {{-1, 2}, {1, 3}, {-1, 2}};
            for (const auto& step : steps) {
                Blob* b = nullptr;
                if (vrnStateManager_changeState(w, 1, step[0]) != 1 || w->current != step[1] ||
                    !(b = reinterpret_cast<Blob*>(Dictionary_contains(w->objects, a.c_str()))) || b->value != step[1])
                    wrong += "the change to state " + std::to_string(step[1]) + " is not shown\n";
            }
            if (vrnStateManager_closeDatabase(w, -1) != 1) wrong += "the close failed\n";
            vrnStateManager_delete(w);
            wrong += messagesOf(commontest::takeErrors());
            fputs(wrong.c_str(), stderr);
            return wrong.empty() ? 0 : 12;
        });
        EXPECT_EQ(child.exitStatus, 0) << child.err;
        EXPECT_TRUE(vrntest::readFile(name) == before);
    }
    ASSERT_EQ(chmod(name.c_str(), 0644), 0);
    open();
}

