// The state manager on real files: numbered states, undo and redo, purges,
// reopening, and failed opens.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "model_fixture.h"
#include "debug/session_file.h"
#include "support/system.h"

#include <vector>

using modeltest::Blob;
using modeltest::ModelFixture;
using modeltest::uuidText;

namespace {

// Closes states 1 to 3 with one blob "a" valued 1, 2 and 3 in them; returns
// its uuid.
std::string closeThreeStatesOfA(ModelFixture& f) {
    Blob* a = f.make(1, "a");
    vrnStateManager_closeState(f.m);
    std::string aId = uuidText(&a->header);
    for (int v = 2; v <= 3; ++v) {
        a->value = v;
        vrnObject_markModified(&a->header);
        vrnStateManager_closeState(f.m);
    }
    return aId;
}

}  // namespace

TEST_F(ModelFixture, WritesBeforeCloseLandInOneState) {
    Blob* a = make(1, "a");
    vrnObject_setInt(&a->header, "x", 1);
    vrnObject_setInt(&a->header, "x", 2);
    EXPECT_EQ(m->current, -1);
    EXPECT_EQ(vrnStateManager_closeState(m), 1);
    EXPECT_EQ(m->last, 1);
    int stored = 0;
    ASSERT_TRUE(Database_getInteger(m->database, 0, nullptr, "State - current", &stored));
    EXPECT_EQ(stored, 1);
    EXPECT_EQ(vrnStateManager_changeState(m, 1, -2), 0);
    EXPECT_EQ(vrnStateManager_changeState(m, 1, 1), 0);
    EXPECT_EQ(m->current, 1);
}

TEST_F(ModelFixture, UndoAndRedoRebuildMemoryFromTheStoredModel) {
    Blob* b = make(10, "b");
    Blob* c = make(1, "c");
    b->ref = &c->header;
    c->ref = &b->header;
    vrnStateManager_closeState(m);
    std::string bId = uuidText(&b->header), cId = uuidText(&c->header);

    // State 2: create A, delete B, change C, create and delete D.
    Blob* a = make(5, "a");
    a->ref = &c->header;
    std::string aId = uuidText(&a->header);
    c->value = 2;
    c->ref = nullptr;
    vrnObject_markModified(&c->header);
    modeltest::blobDestroy(&b->header);
    Blob* d = make(7, "d");
    std::string dId = uuidText(&d->header);
    vrnStateManager_flushCache(m);
    modeltest::blobDestroy(&d->header);
    ASSERT_EQ(vrnStateManager_closeState(m), 2);

    ASSERT_EQ(vrnStateManager_changeState(m, 1, -1), 1);
    EXPECT_EQ(m->current, 1);
    EXPECT_EQ(live(), 2);
    EXPECT_EQ(find(aId), nullptr);
    EXPECT_EQ(find(dId), nullptr);
    Blob* b2 = find(bId);
    ASSERT_NE(b2, nullptr);
    c = find(cId);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(b2->value, 10);
    EXPECT_STREQ(b2->name, "b");
    EXPECT_EQ(b2->ref, &c->header);
    EXPECT_EQ(c->value, 1);
    EXPECT_EQ(c->ref, &b2->header);

    ASSERT_EQ(vrnStateManager_changeState(m, 1, 1), 1);
    EXPECT_EQ(m->current, 2);
    EXPECT_EQ(live(), 2);
    EXPECT_EQ(find(bId), nullptr);
    a = find(aId);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->value, 5);
    EXPECT_EQ(a->ref, &find(cId)->header);
    EXPECT_EQ(find(cId)->value, 2);
    EXPECT_EQ(find(cId)->ref, nullptr);
    EXPECT_TRUE(commontest::takeErrors().empty());
}

TEST_F(ModelFixture, WriteAfterUndoDiscardsTheRedoStates) {
    std::string aId = closeThreeStatesOfA(*this);
    ASSERT_EQ(vrnStateManager_changeState(m, 0, 1), 1);
    Blob* a = find(aId);
    EXPECT_EQ(a->value, 1);
    vrnObject_setInt(&a->header, "other", 9);
    EXPECT_EQ(m->current, -2);
    EXPECT_EQ(m->last, -2);
    int value = 0;
    EXPECT_FALSE(Database_getInteger(m->database, -3, a->header.uuid, "value", &value));
    EXPECT_FALSE(Database_getInteger(m->database, -2, a->header.uuid, "value", &value));
    vrnStateManager_closeState(m);
    EXPECT_EQ(vrnStateManager_changeState(m, 1, 1), 0);
}

TEST_F(ModelFixture, PurgeToOneStateKeepsEveryLiveObject) {
    Blob* keep = make(1, "keep");
    Blob* gone = make(2, "gone");
    gone->ref = &keep->header;
    vrnStateManager_closeState(m);
    std::string keepId = uuidText(&keep->header), goneId = uuidText(&gone->header);
    for (int s = 2; s <= 4; ++s) {
        keep->value = s * 10;
        vrnObject_markModified(&keep->header);
        if (s == 3) modeltest::blobDestroy(&gone->header);
        vrnStateManager_closeState(m);
    }
    vrnStateManager_closeDatabase(m, 1);
    vrnStateManager_delete(m);
    // The reduced file holds each state counter once: a dataset and its
    // index line, no superseded copy.
    const std::string bytes = vrntest::readFile(name);
    size_t copies = 0;
    for (size_t at = 0; (at = bytes.find("State - current", at)) != std::string::npos; ++at) ++copies;
    EXPECT_EQ(copies, 2u);
    open();
    EXPECT_EQ(m->first, 0);
    EXPECT_EQ(m->current, 1);
    EXPECT_EQ(m->last, 1);
    EXPECT_EQ(live(), 1);
    ASSERT_NE(find(keepId), nullptr);
    EXPECT_EQ(find(keepId)->value, 40);
    EXPECT_STREQ(find(keepId)->name, "keep");
    EXPECT_EQ(find(goneId), nullptr);
    int records = 0;
    char** uuids = nullptr;
    int* starts = nullptr;
    char** keys = nullptr;
    int* whens = nullptr;
    Database_match(m->database, 2, -1, "*", "*", &records, &uuids, &starts, &keys, &whens);
    EXPECT_EQ(records, 0);
    Database_freeMatch(records, uuids, starts, keys, whens);
    Database_match(m->database, -1, -1, goneId.c_str(), "*", &records, &uuids, &starts, &keys, &whens);
    EXPECT_EQ(records, 0);
    Database_freeMatch(records, uuids, starts, keys, whens);
    EXPECT_EQ(vrnStateManager_changeState(m, 1, 1), 0);
}

TEST_F(ModelFixture, ObjectsByTypeAndTheTypeListCheck) {
    Blob* a = make(1, "a");
    Blob* b = make(2, "b");
    vrnStateManager_closeState(m);
    modeltest::blobDestroy(&b->header);
    vrnStateManager_closeState(m);
    int count = 0;
    vrnObject** objects = nullptr;
    ASSERT_TRUE(vrnStateManager_getObjectsByTypeName(m, "vrnBlob", &count, &objects));
    ASSERT_EQ(count, 1);
    EXPECT_EQ(objects[0], &a->header);
    vrnFree(objects, "test");
    EXPECT_EQ(vrnStateManager_getSingletonByTypeName(m, "vrnBlob"), &a->header);
    EXPECT_EQ(vrnStateManager_getSingletonByTypeName(m, "Model"), nullptr);
    EXPECT_FALSE(vrnStateManager_getObjectsByTypeName(m, "Nothing", &count, &objects));
    EXPECT_EQ(vrnStateManager_checkTypes(m), 1);
}

TEST_F(ModelFixture, DeleteFromInsideADestroyRoutineIsReportedAndLeavesNoMark) {
    Blob* parent = make(1, "parent");
    Blob* child = make(2, "child");
    vrnStateManager_closeState(m);
    std::string childId = uuidText(&child->header);
    m->destroying = &parent->header;
    testing::internal::CaptureStdout();
    modeltest::blobDestroy(&child->header);
    std::string out = testing::internal::GetCapturedStdout();
    m->destroying = nullptr;
    EXPECT_EQ(out, "ERROR: Trying to delete and object from a destroy function.\n"
                   "Deleting:   " + childId + " [vrnBlob]\n"
                   "Destroying: " + uuidText(&parent->header) + " [vrnBlob]\n");
    int mark = 0;
    vrnUUID* id = vrnUUID_newFromBase64(childId.c_str());
    EXPECT_FALSE(Database_getInteger(m->database, 9, id, "__DELETED__", &mark));
    vrnUUID_delete(id);
}

TEST(StateManagerOpen, FailedOpensLeaveNoLockAndNoWrites) {
    vrntest::TempDir dir;
    std::string name = dir.file("bad.vrn");
    // A file that lists a type this build does not know.
    Database* db = Database_new(name.c_str());
    ASSERT_NE(db, nullptr);
    char model[] = "Model";
    char* names[] = {model};
    int ids[] = {99};
    Database_setStringArray(db, 0, nullptr, "Type - names", names, 1);
    Database_setIntegerArray(db, 0, nullptr, "Type - ids", ids, 1);
    Database_delete(db);
    std::string before = vrntest::readFile(name);

    vrnStateManager* previous = vrnStateManager_new();
    vrnStateManager_setGlobal(previous);
    vrnStateManager* m = vrnStateManager_new();
    EXPECT_FALSE(vrnStateManager_openDatabase(m, name.c_str()));
    EXPECT_EQ(m->database, nullptr);
    EXPECT_EQ(vrnStateManager_get(), previous);
    EXPECT_FALSE(vrnFileExists((name + ".lck").c_str()));
    EXPECT_EQ(vrntest::readFile(name), before);
    auto errors = commontest::takeErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].code, VRN_I_INTERNAL_ERROR);
    EXPECT_EQ(errors[0].message, "Unable to recognise some of the types of object in the VRN database:\n\n" +
                                     name + "\n\n");

    // Stored counters beyond reach fail the state change the same way.
    std::string odd = dir.file("odd.vrn");
    db = Database_new(odd.c_str());
    Database_setInteger(db, 0, nullptr, "State - current", 5);
    Database_setInteger(db, 0, nullptr, "State - last", 2);
    Database_delete(db);
    before = vrntest::readFile(odd);
    EXPECT_FALSE(vrnStateManager_openDatabase(m, odd.c_str()));
    EXPECT_FALSE(vrnFileExists((odd + ".lck").c_str()));
    EXPECT_EQ(vrntest::readFile(odd), before);
    errors = commontest::takeErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].code, VRN_U_INVALID_DATA);
    EXPECT_EQ(errors[0].message, "The stored states of the VRN database\n\n" + odd + "\n\ndo not fit together.\n");
    // So do state numbers beyond any edit count.
    db = Database_new(odd.c_str());
    Database_setInteger(db, 0, nullptr, "State - current", -2147483647 - 1);
    Database_delete(db);
    EXPECT_FALSE(vrnStateManager_openDatabase(m, odd.c_str()));
    EXPECT_EQ(commontest::takeErrors().size(), 1u);
    EXPECT_EQ(vrnStateManager_changeState(m, 1, 2147483647), 0);
    vrnStateManager_delete(m);
    vrnStateManager_delete(previous);
}

TEST(StateManagerCrash, KilledWriterKeepsEveryClosedState) {
    vrntest::TempDir dir;
    std::string name = dir.file("crash.vrn");
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(ready[0]);
        modeltest::installBlob();
        vrnStateManager* m = vrnStateManager_new();
        vrnStateManager_setGlobal(m);
        if (!vrnStateManager_openDatabase(m, name.c_str())) _exit(2);
        Blob* b = reinterpret_cast<Blob*>(vrnObject_new("vrnBlob"));
        for (int s = 1; s <= 3; ++s) {
            vrnObject_setInt(&b->header, "value", s);
            vrnStateManager_closeState(m);
        }
        vrnObject_setInt(&b->header, "value", 4);  // state 4 stays open
        char byte = 1;
        if (write(ready[1], &byte, 1) != 1) _exit(3);
        for (;;) pause();
    }
    close(ready[1]);
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    close(ready[0]);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);

    // The writer's lock outlives it; the user removes it as the message says.
    modeltest::installBlob();
    vrnStateManager* m = vrnStateManager_new();
    EXPECT_FALSE(vrnStateManager_openDatabase(m, name.c_str()));
    EXPECT_EQ(commontest::takeErrors().at(0).code, VRN_U_DATABASE_IS_LOCKED);
    ASSERT_TRUE(vrnRemoveFile((name + ".lck").c_str()));
    vrnStateManager_setGlobal(m);
    ASSERT_TRUE(vrnStateManager_openDatabase(m, name.c_str()));
    ASSERT_EQ(Dictionary_getSize(m->objects), 1);
    auto only = [&] {
        DictionaryIterator* it = DictionaryIterator_new(m->objects);
        Blob* b = static_cast<Blob*>(DictionaryIterator_first(it)->second);
        DictionaryIterator_delete(it);
        return b;
    };
    // The state open at the kill was never closed: it is gone whole.
    EXPECT_EQ(m->current, 3);
    EXPECT_EQ(m->last, 3);
    EXPECT_EQ(only()->value, 3);
    EXPECT_EQ(vrnStateManager_changeState(m, 1, 1), 0);
    EXPECT_EQ(vrnStateManager_closeState(m), 3);
    for (int s = 3; s >= 1; --s) {
        ASSERT_EQ(vrnStateManager_changeState(m, 0, s), 1);
        EXPECT_EQ(only()->value, s);
    }
    vrnStateManager_delete(m);
}

namespace {
std::vector<int> truncations;
void recordTruncation(void*, int state) { truncations.push_back(state); }
}  // namespace

TEST_F(ModelFixture, RedoStatesSurviveReopenAndTruncateOnlyARegisteredRepository) {
    vrnStateManager_setTruncateRoutine(recordTruncation);
    std::string aId = closeThreeStatesOfA(*this);
    ASSERT_EQ(vrnStateManager_changeState(m, 1, -2), 1);
    reopen(-1);
    EXPECT_EQ(m->current, 1);
    EXPECT_EQ(m->last, 3);
    EXPECT_EQ(find(aId)->value, 1);
    EXPECT_TRUE(truncations.empty());
    ASSERT_EQ(vrnStateManager_changeState(m, 0, 3), 1);
    EXPECT_EQ(find(aId)->value, 3);
    ASSERT_EQ(vrnStateManager_changeState(m, 0, 2), 1);
    int repository = 0;
    vrnStateManager_setRepository(m, &repository);
    vrnObject_setInt(&find(aId)->header, "value", 7);
    EXPECT_EQ(truncations, std::vector<int>({2}));
    vrnStateManager_setTruncateRoutine(nullptr);
}

TEST_F(ModelFixture, UndoSkipsAnObjectThatIsNotLive) {
    Blob* a = make(1, "a");
    vrnStateManager_closeState(m);
    a->value = 2;
    vrnObject_markModified(&a->header);
    vrnStateManager_closeState(m);
    // The object drops out of memory behind the manager's back.
    std::string aId = uuidText(&a->header);
    Dictionary_remove(m->objects, aId.c_str());
    ASSERT_EQ(vrnStateManager_changeState(m, 1, -1), 1);
    auto errors = commontest::takeErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].code, VRN_I_INTERNAL_ERROR);
    EXPECT_EQ(errors[0].message, "Unable to determine in memory version of object " + aId + ".\n");
    modeltest::blobDestroy(&a->header);
}

TEST(StateManagerJournal, SessionJournalAsksAManagerForItsState) {
    vrnStateManager* m = vrnStateManager_new();
    SessionFile_StateQuery query = SessionFile_setStateQuery(nullptr);
    ASSERT_NE(query, nullptr);
    m->current = -3;
    EXPECT_EQ(query(m), -3);
    vrnStateManager_delete(m);
}

TEST(StateManagerExit, ProcessEndClosesTheProcessWideDatabase) {
    vrntest::TempDir dir;
    std::string name = dir.file("exit.vrn");
    auto child = vrntest::runInChild([&] {
        modeltest::installBlob();
        vrnStateManager* m = vrnStateManager_new();
        vrnStateManager_setGlobal(m);
        if (!vrnStateManager_openDatabase(m, name.c_str())) return 1;
        vrnObject_setInt(vrnObject_new("vrnBlob"), "value", 5);
        return 0;  // no close: the exit handler does it
    });
    ASSERT_EQ(child.exitStatus, 0) << child.err;
    EXPECT_FALSE(vrnFileExists((name + ".lck").c_str()));
    modeltest::installBlob();
    vrnStateManager* m = vrnStateManager_new();
    vrnStateManager_setGlobal(m);
    ASSERT_TRUE(vrnStateManager_openDatabase(m, name.c_str()));
    EXPECT_EQ(m->current, 1);
    EXPECT_EQ(Dictionary_getSize(m->objects), 1);
    vrnStateManager_delete(m);
}

TEST_F(ModelFixture, AWhereThatOnlyStartsWithAUuidTextIsNoObject) {
    Blob* a = make(1, "a");
    vrnStateManager_closeState(m);
    std::string alias = uuidText(&a->header) + "zz";
    // A damaged file: a second record whose Where starts with a's UUID text.
    ASSERT_TRUE(DefFile_writeInt(m->database->file, "__TYPE__", alias.c_str(), 1,
                                 vrnTypeManager_getIdOfName("vrnBlob")));
    reopen(-1);
    EXPECT_EQ(live(), 1);
    auto errors = commontest::takeErrors();
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.back().message, "Unable to determine type of restored object " + alias + ".\n");
    EXPECT_EQ(vrnStateManager_changeState(m, 1, -1), 1);
    EXPECT_EQ(live(), 0);
}
