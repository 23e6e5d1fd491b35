// What a writer killed part way leaves behind must open with every closed
// state intact; refused writes and refused files must never pass for
// stored ones. Cuts are written here directly into the file, as a killed
// process would have left it.
#include <functional>
#include <string>

#include "../handed_over.h"
#include "model_fixture.h"
#include "test_support.h"
#include "support/system.h"

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
        ASSERT_TRUE(DefFile_erase(db->file, "*", a.c_str(), 4));
        ASSERT_TRUE(DefFile_erase(db->file, "value", x.c_str(), 3));
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
    // A state whose writes all reached the file closes as usual.
    Database_delete(other);
    b->value = 3;
    vrnObject_markModified(&b->header);
    EXPECT_EQ(vrnStateManager_closeState(m), 3);
    EXPECT_TRUE(commontest::takeErrors().empty());
}
