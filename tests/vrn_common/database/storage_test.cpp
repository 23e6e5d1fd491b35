// Storage layers of the model database: dataset requests, definition files
// and the versioned database, on real files.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "../handed_over.h"
#include "database/database.h"
#include "database/dataset.h"
#include "database/def_file.h"
#include "support/system.h"
#include "test_support.h"
#include "vrn_platform.h"

using commontest::takeErrors;

namespace {

using vrntest::listDir;

struct FileFixture : ::testing::Test {
    vrntest::TempDir dir;
    std::string name = dir.file("m.vrn");
    DefFile* file = nullptr;
    void SetUp() override {
        file = DefFile_new(name.c_str());
        ASSERT_NE(file, nullptr);
    }
    void TearDown() override {
        DefFile_delete(file);
        takeErrors();
    }
    Dataset* ds() { return file->dataset; }
};

}  // namespace

TEST_F(FileFixture, LatestReadPicksLargestWhenAndMatchBuffersGrow) {
    int v3 = 3, v7 = 7, v5 = 5;
    ASSERT_TRUE(DefFile_writeInt(file, "k", "w", 3, v3));
    ASSERT_TRUE(DefFile_writeInt(file, "k", "w", 7, v7));
    ASSERT_TRUE(DefFile_writeInt(file, "k", "w", 5, v5));
    int value = 0;
    ASSERT_TRUE(DefFile_readInt(file, "k", "w", -2, &value));
    EXPECT_EQ(value, 7);

    for (int i = 1; i <= 15; ++i) ASSERT_TRUE(DefFile_writeInt(file, "many", "w", i, i));
    int n = 0;
    char** whats = nullptr;
    char** wheres = nullptr;
    int* whens = nullptr;
    ASSERT_TRUE(DefFile_match(file, "many", "w", -1, 0, &n, &whats, &wheres, &whens));
    ASSERT_EQ(n, 15);
    EXPECT_GT(ds()->capacity, 20);
    EXPECT_STREQ(whats[14], "many");
    EXPECT_STREQ(wheres[0], "w");
    vrnCStringArray_free(whats, n);
    vrnCStringArray_free(wheres, n);
    vrnFree(whens, "test");
}

TEST_F(FileFixture, EraseAfterFindingTheActiveVersionErasesOnlyThatVersion) {
    for (int w = 1; w <= 3; ++w) ASSERT_TRUE(DefFile_writeInt(file, "k", "w", w, w));
    int when = -1;
    ASSERT_TRUE(Dataset_locateActive(ds(), "k", "w", 2, &when));
    ASSERT_EQ(when, 2);
    ASSERT_TRUE(DefFile_erase(file, "k", "w", 2, 1));
    int n = 0;
    int* whens = nullptr;
    ASSERT_TRUE(DefFile_match(file, "k", "w", -1, 0, &n, nullptr, nullptr, &whens));
    ASSERT_EQ(n, 2);
    EXPECT_EQ(whens[0] + whens[1], 4);
    vrnFree(whens, "test");
}

TEST(DefFileDamage, AStoredWhenOfMinusTwoEndsALatestRead) {
    vrntest::TempDir dir;
    std::string name = dir.file("d.vrn");
    DefFile* f = DefFile_new(name.c_str());
    ASSERT_NE(f, nullptr);
    char abc[] = "abc";
    char* list[] = {abc};
    ASSERT_TRUE(DefFile_writeStringArray(f, "s", "w", 17, list, 1));
    DefFile_delete(f);
    // The When in the dataset header and in the index line becomes -2.
    std::string bytes = vrntest::readFile(name);
    auto swap = [&](const std::string& from, const std::string& to) {
        size_t at = bytes.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        bytes.replace(at, from.size(), to);
    };
    swap("WHEN\x1b" "17", "WHEN\x1b" "-2");
    swap("\x1bw\x1b" "17\x1b", "\x1bw\x1b" "-2\x1b");
    vrntest::writeFile(name, bytes);
    f = DefFile_new(name.c_str());
    ASSERT_NE(f, nullptr);
    char* one = nullptr;
    ASSERT_TRUE(DefFile_readString(f, "s", "w", -2, &one));
    EXPECT_STREQ(one, "abc");
    vrnCString_free(one);
    DefFile_delete(f);
    takeErrors();
}

TEST_F(FileFixture, StringListsKeepEmptyEntriesAndEmptyListsReadBackEmpty) {
    char x[] = "x";
    char* list[] = {x, nullptr};
    ASSERT_TRUE(DefFile_writeStringArray(file, "s", "w", 1, list, 2));
    int chars = 0, strings = 0, uuids = 0;
    ASSERT_TRUE(DefFile_readSignature(file, "s", "w", 1, nullptr, nullptr, nullptr, &chars, nullptr,
                                      &strings, &uuids));
    EXPECT_EQ(strings, 2);
    EXPECT_EQ(chars, 0);
    char** back = nullptr;
    int count = 0;
    ASSERT_TRUE(DefFile_readStrings(file, "s", "w", 1, &back, &count));
    ASSERT_EQ(count, 2);
    EXPECT_STREQ(back[0], "x");
    EXPECT_STREQ(back[1], "");
    vrnCStringArray_free(back, count);

    // A scalar read of two strings fails and records 10009.
    char* one = reinterpret_cast<char*>(1);
    EXPECT_FALSE(DefFile_readString(file, "s", "w", 1, &one));
    EXPECT_EQ(one, nullptr);
    EXPECT_EQ(file->errorCode, VRN_U_UNABLE_TO_READ_DATASET);
    EXPECT_STREQ(file->errorText, "Unable to read the requested scalar string data set.");

    ASSERT_TRUE(DefFile_writeStringArray(file, "empty", "w", 1, nullptr, 0));
    back = reinterpret_cast<char**>(1);
    count = 7;
    EXPECT_TRUE(DefFile_readStrings(file, "empty", "w", 1, &back, &count));
    EXPECT_EQ(back, nullptr);
    EXPECT_EQ(count, 0);
    EXPECT_FALSE(DefFile_readString(file, "empty", "w", 1, &one));
    EXPECT_EQ(one, nullptr);

}

TEST_F(FileFixture, TextWithoutTerminatorReadsAsZeroStrings) {
    // Bytes without a single NUL hold no string: zero strings, whether read
    // into a new array or into the caller's; a scalar read finds none.
    vrnUUID* u = vrnUUID_new();
    ASSERT_TRUE(DefFile_writeUUID(file, "u", "w", 1, u));
    vrnUUID_delete(u);
    char** back = reinterpret_cast<char**>(1);
    int count = 7;
    file->errorCode = 0;
    EXPECT_TRUE(DefFile_readStrings(file, "u", "w", 1, &back, &count));
    EXPECT_EQ(back, nullptr);
    EXPECT_EQ(count, 0);
    char* slots[2] = {nullptr, nullptr};
    EXPECT_TRUE(DefFile_readStringArray(file, "u", "w", 1, slots, 2));
    EXPECT_EQ(slots[0], nullptr);
    EXPECT_TRUE(DefFile_readStringArray(file, "u", "w", 1, slots, 0));
    EXPECT_EQ(file->errorCode, 0);
    char* one = reinterpret_cast<char*>(1);
    EXPECT_FALSE(DefFile_readString(file, "u", "w", 1, &one));
    EXPECT_EQ(one, nullptr);
    EXPECT_EQ(file->errorCode, VRN_U_UNABLE_TO_READ_DATASET);
}

TEST_F(FileFixture, UuidArraysHoldNullReferencesAsPaddedText) {
    vrnUUID* a = vrnUUID_new();
    vrnUUID* list[] = {a, nullptr};
    ASSERT_TRUE(DefFile_writeUUIDArray(file, "refs", "w", 1, list, 2));
    char* bytes = nullptr;
    int n = 0;
    ASSERT_TRUE(DefFile_readChars(file, "refs", "w", 1, &bytes, &n));
    ASSERT_EQ(n, 44);
    EXPECT_EQ(std::string(bytes + 22, 22), std::string("__NULL_UUID__") + std::string(9, '\0'));
    vrnFree(bytes, "test");
    int uuids = 0;
    ASSERT_TRUE(DefFile_readSignature(file, "refs", "w", 1, nullptr, nullptr, nullptr, nullptr,
                                      nullptr, nullptr, &uuids));
    EXPECT_EQ(uuids, 2);
    vrnUUID** back = nullptr;
    ASSERT_TRUE(DefFile_readUUIDs(file, "refs", "w", 1, &back, &n));
    ASSERT_EQ(n, 2);
    EXPECT_EQ(memcmp(back[0], a, sizeof(vrnUUID)), 0);
    EXPECT_EQ(back[1], nullptr);
    vrnUUID_delete(back[0]);
    vrnFree(back, "test");
    vrnUUID_delete(a);
}

TEST_F(FileFixture, ADatasetReadAsAnotherKindFails) {
    int three[3] = {1, 2, 3};
    ASSERT_TRUE(DefFile_writeIntArray(file, "ints", "w", 1, three, 3, 0));
    char* chars = nullptr;
    double* doubles = nullptr;
    char** strings = nullptr;
    int n = 0;
    EXPECT_FALSE(DefFile_readChars(file, "ints", "w", 1, &chars, &n));
    vrnFree(chars, "test");
    EXPECT_FALSE(DefFile_readDoubles(file, "ints", "w", 1, &doubles, &n));
    vrnFree(doubles, "test");
    EXPECT_FALSE(DefFile_readStrings(file, "ints", "w", 1, &strings, &n));
    EXPECT_EQ(strings, nullptr);
    int* ints = nullptr;
    ASSERT_TRUE(DefFile_readInts(file, "ints", "w", 1, &ints, &n));
    EXPECT_EQ(n, 3);
    vrnFree(ints, "test");
}

TEST_F(FileFixture, SinglePrecisionDataReadsAsDoubles) {
    // Written straight through the request call: this system writes no REAL.
    Dataset* b = ds();
    float values[2] = {1.5f, -2.25f};
    int32_t count = 2, number = 2, when = 4, attributes = 0, factor = 1;
    char what[IO_WHAT_SIZE] = "reals", where[IO_WHERE_SIZE] = "w", type[IO_DATATYPE_SIZE] = "REAL";
    IO_header h{what, where, &when, &attributes, nullptr, &number, type, &factor};
    int32_t zero = 0;
    IO_data d{};
    d.noffsets = d.nstrings = d.nchars = d.nints = d.ndoubles = d.nlogicals = &zero;
    d.reals = values;
    d.nreals = &count;
    ASSERT_EQ(iocntc(IO_WRITE_DS, io_msg, &h, &d, b->ioControl), 0);
    double* back = nullptr;
    int n = 0;
    ASSERT_TRUE(DefFile_readDoubles(file, "reals", "w", 4, &back, &n));
    ASSERT_EQ(n, 2);
    EXPECT_EQ(back[0], 1.5);
    EXPECT_EQ(back[1], -2.25);
    vrnFree(back, "test");
}

TEST_F(FileFixture, AttributesSplitAndOversizedTextsAreRefused) {
    std::string n40(40, 'n'), v39(39, 'v'), v40(40, 'v');
    EXPECT_FALSE(Dataset_addAttribute(ds(), n40.c_str(), v40.c_str()));
    ASSERT_TRUE(Dataset_addAttribute(ds(), n40.c_str(), v39.c_str()));
    ASSERT_TRUE(Dataset_addAttribute(ds(), "  t ", " u"));
    int one = 1;
    ASSERT_TRUE(Dataset_writeInts(ds(), "a", "w", 1, 1, 0, &one));
    ds()->pendingCount = 0;
    int count = 0;
    char** names = nullptr;
    char** values = nullptr;
    ASSERT_TRUE(Dataset_readAttributes(ds(), "a", "w", 1, &count, &names, &values));
    ASSERT_EQ(count, 2);
    EXPECT_EQ(names[0], n40);
    EXPECT_EQ(values[0], v39);
    EXPECT_STREQ(names[1], "t ");
    EXPECT_STREQ(values[1], "u");
    vrnCStringArray_free(names, count);
    vrnCStringArray_free(values, count);

    std::string long80(80, 'k');
    EXPECT_FALSE(Dataset_writeInts(ds(), long80.c_str(), "w", 1, 1, 0, &one));
    EXPECT_FALSE(Dataset_writeInts(ds(), "k", long80.c_str(), 1, 1, 0, &one));
    int value = 0;
    EXPECT_FALSE(DefFile_readInt(file, long80.c_str(), "w", 1, &value));
    EXPECT_EQ(Dataset_match(ds(), "k", long80.c_str(), -1, 0, 1, nullptr, nullptr, nullptr), 0);
}

TEST_F(FileFixture, FailuresAreRecordedAndMessagesStayBounded) {
    file->modified = 0;
    EXPECT_FALSE(DefFile_erase(file, "none", "w", 1, 1));
    EXPECT_EQ(file->modified, 0);
    EXPECT_EQ(file->errorCode, VRN_U_UNABLE_TO_DELETE_DATASET);
    // A failed allocating read hands out no array and a count of 0.
    char** strings = reinterpret_cast<char**>(1);
    int n = 7;
    EXPECT_FALSE(DefFile_readStrings(file, "none", "w", 1, &strings, &n));
    EXPECT_EQ(strings, nullptr);
    EXPECT_EQ(n, 0);
    // A What the IO library refuses (76 characters) fails the write but
    // still marks the file modified, and the library's messages are kept.
    std::string what76(76, 'w');
    for (int i = 0; i < 1500; ++i) EXPECT_FALSE(DefFile_writeInt(file, what76.c_str(), "w", 1, 1));
    EXPECT_EQ(file->modified, 1);
    EXPECT_EQ(file->errorCode, VRN_U_UNABLE_TO_WRITE_DATASET);
    ASSERT_NE(file->ioMessage, nullptr);
    EXPECT_LT(strlen(file->ioMessage), static_cast<size_t>(DATASET_MESSAGE_LIMIT));
    EXPECT_GT(strlen(file->ioMessage), 60000u);
}

TEST_F(FileFixture, CompactionReplacesTheFileAndLeavesNoTemporaries) {
    for (int w = 1; w <= 3; ++w) ASSERT_TRUE(DefFile_writeInt(file, "k", "w", w, w * 10));
    ASSERT_TRUE(DefFile_compact(file, 1));
    EXPECT_EQ(listDir(dir.path()), std::vector<std::string>({"m.vrn", "m.vrn.lck"}));
    int value = 0;
    ASSERT_TRUE(DefFile_readInt(file, "k", "w", 1, &value));
    EXPECT_EQ(value, 30);
    EXPECT_FALSE(DefFile_readInt(file, "k", "w", 3, &value));
}

// Compacts a file in a folder that has turned read-only; 0 when the
// original is left in place, open and intact, with no temporary file.
int compactInReadOnlyFolder(const std::string& folder) {
    std::string name = folder + "/m.vrn";
    DefFile* f = DefFile_new(name.c_str());
    if (!f) return 1;
    if (!DefFile_writeInt(f, "k", "w", 1, 42)) return 2;
    chmod(folder.c_str(), 0555);
    int ok = DefFile_compact(f, 0);
    chmod(folder.c_str(), 0755);
    int value = 0;
    int result = ok ? 3
                 : f->errorCode != VRN_U_UNABLE_TO_COMPACT_DATABASE ? 4
                 : listDir(folder) != std::vector<std::string>({"m.vrn", "m.vrn.lck"}) ? 5
                 : !DefFile_readInt(f, "k", "w", 1, &value) || value != 42 ? 6
                 : 0;
    DefFile_delete(f);
    vrnApp_clearErrors();
    return result;
}

TEST(DefFileCompaction, FailedCompactionKeepsTheOriginalOpen) {
    vrntest::TempDir dir;
    if (geteuid() != 0) {
        ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0755), 0);
        EXPECT_EQ(compactInReadOnlyFolder(dir.file("sub")), 0);
        return;
    }
    // Permissions do not bind root: the compaction runs as "nobody".
    ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    auto child = vrntest::runInChild([&] {
        if (setgid(65534) != 0 || setuid(65534) != 0) return 10;
        if (mkdir(dir.file("sub").c_str(), 0755) != 0) return 11;
        return compactInReadOnlyFolder(dir.file("sub"));
    });
    EXPECT_EQ(child.exitStatus, 0) << child.err;
}

// A compaction whose copy cannot be closed (its index finds no room: a
// file-size limit stops the copy growing once its datasets are in) keeps
// the original under the name and fails, instead of renaming a copy
// without its index into place.
TEST(DefFileCompaction, ACopyWhoseCloseFailsIsNeverRenamedIn) {
    vrntest::TempDir dir;
    std::string name = dir.file("m.vrn");
    DefFile* f = DefFile_new(name.c_str());
    ASSERT_NE(f, nullptr);
    for (int w = 1; w <= 200; ++w) ASSERT_TRUE(DefFile_writeInt(f, "k", "w", w, w));
    DefFile_delete(f);
    const std::string before = vrntest::readFile(name);
    auto child = vrntest::runInChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        DefFile* g = DefFile_new(name.c_str());
        if (!g) return 10;
        auto keepAll = [](void*, Dataset_Choice* d, int n) {
            for (int i = 0; i < n; ++i) d[i].keep = 1;
        };
        // Once the datasets are copied, no file may grow past the copy.
        auto limitToCopy = [](void* folder) {
            for (const std::string& e : listDir(*static_cast<std::string*>(folder))) {
                struct stat st;
                std::string path = *static_cast<std::string*>(folder) + "/" + e;
                if (e.rfind("compact.", 0) != 0 || stat(path.c_str(), &st) != 0) continue;
                struct rlimit limit = {static_cast<rlim_t>(st.st_size), RLIM_INFINITY};
                return setrlimit(RLIMIT_FSIZE, &limit) == 0 ? 1 : 0;
            }
            return 0;
        };
        std::string folder = dir.path();
        int compacted = DefFile_compactChosen(g, keepAll, limitToCopy, &folder);
        struct rlimit none = {RLIM_INFINITY, RLIM_INFINITY};
        setrlimit(RLIMIT_FSIZE, &none);
        int value = 0;
        int result = compacted ? 1
                     : g->errorCode != VRN_U_UNABLE_TO_COMPACT_DATABASE ? 2
                     : vrntest::readFile(name) != before ? 3
                     : listDir(dir.path()) != std::vector<std::string>({"m.vrn", "m.vrn.lck"}) ? 4
                     : !DefFile_readInt(g, "k", "w", 200, &value) || value != 200 ? 5
                     : 0;
        DefFile_delete(g);
        return result;
    });
    EXPECT_EQ(child.exitStatus, 0) << child.err;
    EXPECT_TRUE(vrntest::readFile(name) == before);
}

TEST(DatabaseOpen, BadFilesAreRefusedUnchangedAndUnlocked) {
    vrntest::TempDir dir;
    EXPECT_EQ(Database_new(nullptr), nullptr);
    EXPECT_EQ(Database_new("   "), nullptr);
    auto errors = takeErrors();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].code, VRN_U_INVALID_INPUT);
    EXPECT_EQ(errors[0].message, "The supplied file name is blank.\n");

    std::string locked = dir.file("locked.vrn");
    vrntest::writeFile(locked + ".lck", "        -1\n");
    EXPECT_EQ(Database_new(locked.c_str()), nullptr);
    errors = takeErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].code, VRN_U_DATABASE_IS_LOCKED);
    EXPECT_EQ(errors[0].message,
              "The supplied file name, " + locked + ", can not\nbe opened as a lock file, " + locked +
                  ".lck,\nexists.\n\nIf this is the result of a previous failed run then try deleting "
                  "the\nlock file and repeating the operation.\nThe lock file may be removed when no "
                  "program has " + locked + " open.\n");
    EXPECT_EQ(vrntest::readFile(locked + ".lck"), "        -1\n");

    std::string text = dir.file("text.vrn");
    vrntest::writeFile(text, "just some text\n");
    EXPECT_EQ(Database_new(text.c_str()), nullptr);
    errors = takeErrors();
    ASSERT_GE(errors.size(), 1u);
    EXPECT_EQ(errors.back().code, VRN_U_INVALID_INPUT);
    EXPECT_EQ(vrntest::readFile(text), "just some text\n");
    EXPECT_FALSE(vrnFileExists((text + ".lck").c_str()));

    // A file that cannot be opened or made: the fixed text, then the reason.
    auto refusal = [](const std::string& name, const std::string& reason) {
        return "The supplied file name, " + name + ", can not\nbe opened as a KWX data file.\n\nThis "
               "could be because it has the wrong format or because you\ndon't have write "
               "permissions in the requested directory.\nReason: " + reason + "\n";
    };
    ASSERT_EQ(mkdir(dir.file("folder.vrn").c_str(), 0755), 0);
    const std::string longName = dir.file(std::string(300, 'n') + ".vrn");
    for (const auto& [name, reason] : std::vector<std::pair<std::string, std::string>>{
             {dir.file("none/m.vrn"), "No such file or directory (the folder " + dir.file("none") +
                                          " does not exist)"},
             {dir.file("folder.vrn"), "Is a directory (" + dir.file("folder.vrn") + " is a folder, not a file)"},
             {text + "/m.vrn", "Not a directory (" + text + " is a file, not a folder)"},
             {longName, "File name too long (a folder or file name in it is longer than the system's "
                        "limit of 255 bytes)"}}) {
        EXPECT_EQ(Database_new(name.c_str()), nullptr);
        errors = takeErrors();
        ASSERT_FALSE(errors.empty());
        EXPECT_EQ(errors[0].message, refusal(name, reason));
    }
    EXPECT_EQ(DefFile_new(text.c_str()), nullptr);
    errors = takeErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].message, refusal(text, "the file is not in KWX-5.x format"));
    // A new model whose lock mutex's name would be over the limit could
    // never be written: it is not made.
    const std::string noRoom = dir.file(std::string(244, 'n') + ".vrn");
    EXPECT_EQ(Database_new(noRoom.c_str()), nullptr);
    errors = takeErrors();
    ASSERT_FALSE(errors.empty());
    EXPECT_NE(errors[0].message.find("would have a name of 256 bytes, over the limit of 255 bytes"), std::string::npos)
        << errors[0].message;
    EXPECT_FALSE(vrnFileExists(noRoom.c_str()));
    // An existing model under such a name opens for reading, without a lock
    // file.
    Database* made = Database_new(dir.file("made.vrn").c_str());
    ASSERT_NE(made, nullptr);
    ASSERT_TRUE(Database_setInteger(made, 1, nullptr, "kept", 7));
    Database_delete(made);
    ASSERT_EQ(rename(dir.file("made.vrn").c_str(), noRoom.c_str()), 0);
    made = Database_new(noRoom.c_str());
    ASSERT_NE(made, nullptr);
    int kept = 0;
    EXPECT_TRUE(Database_getInteger(made, 1, nullptr, "kept", &kept));
    EXPECT_EQ(kept, 7);
    Database_delete(made);
    EXPECT_TRUE(takeErrors().empty());
    EXPECT_FALSE(vrnFileExists((noRoom + ".lck").c_str()));
    // A folder the user may not write to (as "nobody" where the test runs as root).
    const std::string readOnly = dir.file("read-only");
    ASSERT_EQ(mkdir(readOnly.c_str(), 0555), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    auto child = vrntest::runInChild([&] {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 10;
        Database* db = Database_new((readOnly + "/m.vrn").c_str());
        auto published = takeErrors();
        if (db || published.empty()) return 11;
        fputs(published[0].message.c_str(), stderr);
        return published[0].message == refusal(readOnly + "/m.vrn", "Permission denied (no permission to "
                                                                     "make a file in the folder " + readOnly + ")")
                   ? 0 : 12;
    });
    EXPECT_EQ(child.exitStatus, 0) << child.err;

    // A data file that holds no "Version" is no model database.
    std::string plain = dir.file("plain.kwx");
    DefFile* f = DefFile_new(plain.c_str());
    ASSERT_NE(f, nullptr);
    ASSERT_TRUE(DefFile_writeInt(f, "k", "w", 1, 1));
    DefFile_delete(f);
    std::string before = vrntest::readFile(plain);
    EXPECT_EQ(Database_new(plain.c_str()), nullptr);
    errors = takeErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].code, VRN_U_INVALID_INPUT);
    EXPECT_EQ(errors[0].message,
              "The requested file\n\n" + plain + "\n\nexists but is not a valid VRN database.\n");
    EXPECT_EQ(vrntest::readFile(plain), before);
    EXPECT_FALSE(vrnFileExists((plain + ".lck").c_str()));
}

namespace {

// Another process's step put between two file changes of a create of
// `model`: just before the change that gives the model its name, or just
// after it (before the next change). It runs once, in this process: locks
// are held by file, so another handle here stands for another process.
struct Interleave {
    std::string model;
    bool afterPlacing;
    std::function<void()> step;
    bool placed = false;
};
Interleave* g_interleave = nullptr;

void interleaveStep(const char* path) {
    Interleave* i = g_interleave;
    if (!i) return;
    const bool placing = i->model == path;
    if (placing && !i->afterPlacing) i->placed = true;
    if (i->placed) {
        g_interleave = nullptr;
        i->step();
    }
    if (placing) i->placed = true;
}

// Database_new(model) with step put in as Interleave says.
Database* createWith(Interleave interleave) {
    g_interleave = &interleave;
    vrnPlatform_setFileChangeHook(interleaveStep);
    Database* db = Database_new(interleave.model.c_str());
    vrnPlatform_setFileChangeHook(nullptr);
    g_interleave = nullptr;
    return db;
}

}  // namespace

// Another process opens the model a create has just put in place and
// writes into it; the create's own open is then refused by its lock. The
// model stays with what the other process stored.
TEST(DatabaseOpen, ACreateRefusedAfterPlacingItsModelLeavesWhatAnotherHandleWroteThere) {
    vrntest::TempDir dir;
    std::string name = dir.file("model.vrn");
    Database* other = nullptr;
    Database* db = createWith({name, true, [&] {
                                   other = Database_new(name.c_str());
                                   ASSERT_NE(other, nullptr);
                                   EXPECT_EQ(Database_setInteger(other, 1, nullptr, "a", 1), 1);
                                   EXPECT_EQ(Database_setInteger(other, 1, nullptr, "b", 1), 1);
                               }});
    EXPECT_EQ(db, nullptr);
    auto errors = takeErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].code, VRN_U_DATABASE_IS_LOCKED);
    Database_delete(other);
    db = Database_new(name.c_str());
    ASSERT_NE(db, nullptr);
    int a = 0, b = 0;
    EXPECT_TRUE(Database_getInteger(db, 1, nullptr, "a", &a) && Database_getInteger(db, 1, nullptr, "b", &b));
    EXPECT_EQ(a + b, 2);
    Database_delete(db);
}

// Another process makes, writes and closes the model after a create found
// the name free and before it puts its own file there: the create opens
// that model and leaves nothing of its own beside it.
TEST(DatabaseOpen, ACreateOpensAModelMadeUnderItsNameMeanwhileInsteadOfReplacingIt) {
    vrntest::TempDir dir;
    std::string name = dir.file("model.vrn");
    Database* db = createWith({name, false, [&] {
                                   Database* other = Database_new(name.c_str());
                                   ASSERT_NE(other, nullptr);
                                   Database_setInteger(other, 1, nullptr, "answer", 2);
                                   Database_delete(other);
                               }});
    ASSERT_NE(db, nullptr);
    int answer = 0;
    EXPECT_TRUE(Database_getInteger(db, 1, nullptr, "answer", &answer));
    EXPECT_EQ(answer, 2);
    Database_delete(db);
    EXPECT_TRUE(takeErrors().empty());
    EXPECT_EQ(listDir(dir.path()), std::vector<std::string>{"model.vrn"});
}

// Another process puts a data file that is no model under the name after
// a create found it free: the create refuses it and never stamps it as a
// new model.
TEST(DatabaseOpen, ACreateRefusesAFileThatIsNoModelPutUnderItsNameMeanwhile) {
    vrntest::TempDir dir;
    std::string name = dir.file("model.vrn");
    std::string theirs;
    Database* db = createWith({name, false, [&] {
                                   DefFile* other = DefFile_new(name.c_str());
                                   ASSERT_NE(other, nullptr);
                                   ASSERT_TRUE(DefFile_writeInt(other, "theirs", "here", 0, 1));
                                   DefFile_delete(other);
                                   theirs = vrntest::readFile(name);
                               }});
    EXPECT_EQ(db, nullptr);
    auto errors = takeErrors();
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.back().code, VRN_U_INVALID_INPUT);
    EXPECT_FALSE(theirs.empty());
    EXPECT_TRUE(vrntest::readFile(name) == theirs) << "the file was stamped as a model";
    EXPECT_EQ(listDir(dir.path()), std::vector<std::string>{"model.vrn"});
}

TEST(DatabaseNames, EndingsAreKeptOrCompleted) {
    auto build = [](const char* n) { return commontest::take(Database_buildFileName(n)); };
    EXPECT_EQ(build("a.kwx.bak"), "a.kwx.bak");
    EXPECT_EQ(build("a.vrn"), "a.vrn");
    EXPECT_EQ(build("a.VRN"), "a.VRN.vrn");
    EXPECT_EQ(build("a"), "a.vrn");
}

struct DatabaseFixture : ::testing::Test {
    vrntest::TempDir dir;
    Database* db = nullptr;
    vrnUUID* obj = nullptr;
    void SetUp() override {
        db = Database_new(dir.file("d").c_str());
        ASSERT_NE(db, nullptr);
        obj = vrnUUID_new();
    }
    void TearDown() override {
        Database_delete(db);
        vrnUUID_delete(obj);
        takeErrors();
    }
    int count(int from, int to, const char* uuids = "*", const char* keys = "*") {
        int records = 0;
        char** u = nullptr;
        int* starts = nullptr;
        char** k = nullptr;
        int* w = nullptr;
        Database_match(db, from, to, uuids, keys, &records, &u, &starts, &k, &w);
        int n = starts[records];
        Database_freeMatch(records, u, starts, k, w);
        return n;
    }
};

TEST_F(DatabaseFixture, ReadsSeeTheVersionActiveAtEachState) {
    ASSERT_TRUE(Database_setInteger(db, 2, obj, "k", 20));
    ASSERT_TRUE(Database_setInteger(db, 5, obj, "k", 50));
    const int expected[] = {-1, -1, 20, 20, 20, 50, 50};
    for (int s = 0; s <= 6; ++s) {
        int v = -1;
        int ok = Database_getInteger(db, s, obj, "k", &v);
        EXPECT_EQ(ok, expected[s] != -1) << s;
        EXPECT_EQ(v, expected[s]) << s;
    }
    int v = 0;
    ASSERT_TRUE(Database_getInteger(db, -2, obj, "k", &v));
    EXPECT_EQ(v, 20);
    ASSERT_TRUE(Database_getInteger(db, -5, obj, "k", &v));
    EXPECT_EQ(v, 50);
    EXPECT_FALSE(Database_getInteger(db, -4, obj, "k", &v));
}

TEST_F(DatabaseFixture, AKeyHoldingPatternCharactersHasItsOwnActiveWhenAndChanges) {
    ASSERT_TRUE(Database_setInteger(db, 1, obj, "w[12]", 10));
    ASSERT_TRUE(Database_setInteger(db, 1, obj, "w1", 1));
    ASSERT_TRUE(Database_setInteger(db, 4, obj, "w1", 4));
    // The last write named obj: the active When is looked up for it.
    EXPECT_EQ(Database_findActiveWhen(db, 5, "w[12]"), 1);
    char text[VRN_UUID_STRING_SIZE];
    vrnUUID_toBase64(obj, text);
    int changed = -1;
    ASSERT_TRUE(Database_isParameterChanged(db, 3, 5, text, "w[12]", &changed));
    EXPECT_EQ(changed, 0);
}

TEST_F(DatabaseFixture, APurgeOfMarkedObjectsErasesNothingUnderAMarkWhoseWhereIsAPattern) {
    // A deletion mark written through the definition file under a WHERE
    // that no UUID text has, but that as a pattern would name every object.
    ASSERT_TRUE(Database_setInteger(db, 1, obj, "k", 7));
    ASSERT_TRUE(DefFile_writeInt(db->file, "__DELETED__", "*", 2, 0));
    ASSERT_TRUE(Database_purgeMarkedObjects(db, 5, "__DELETED__"));
    int v = 0;
    EXPECT_TRUE(Database_getInteger(db, 5, obj, "k", &v));
    EXPECT_EQ(v, 7);
    EXPECT_EQ(count(-1, -1, "GLOBAL", "Version"), 1);
}

TEST_F(DatabaseFixture, NewFileHoldsOnlyItsStampsUntilWritten) {
    EXPECT_EQ(count(-1, -1), 2);
    EXPECT_EQ(count(-1, -1, "GLOBAL", "Version"), 1);
    EXPECT_EQ(count(-1, -1, "GLOBAL", "Date - created"), 1);
    std::string name = Database_getFileName(db);
    Database_delete(db);
    db = Database_new(name.c_str());
    ASSERT_NE(db, nullptr);
    EXPECT_EQ(count(-1, -1), 2);
    Database_setInteger(db, 1, obj, "k", 1);
    Database_delete(db);
    db = Database_new(name.c_str());
    ASSERT_NE(db, nullptr);
    EXPECT_EQ(count(-1, -1, "GLOBAL", "Date - modified"), 1);
}

TEST_F(DatabaseFixture, MatchOrdersGroupsAndBoundsByState) {
    vrnUUID* other = vrnUUID_new();
    for (int s = 1; s <= 5; ++s) {
        Database_setInteger(db, s, obj, "b", s);
        Database_setInteger(db, s, other, "a", s);
    }
    EXPECT_EQ(count(4, -1, "*", "*"), 4);
    EXPECT_EQ(count(-1, 2, "*", "?"), 4);
    int records = 0;
    char** uuids = nullptr;
    int* starts = nullptr;
    char** keys = nullptr;
    int* whens = nullptr;
    ASSERT_TRUE(Database_match(db, 1, 5, "*", "*", &records, &uuids, &starts, &keys, &whens));
    ASSERT_EQ(records, 2);
    EXPECT_LT(strcmp(uuids[0], uuids[1]), 0);
    EXPECT_EQ(starts[1], 5);
    EXPECT_EQ(starts[2], 10);
    for (int i = 1; i < 5; ++i) EXPECT_EQ(whens[i], whens[i - 1] + 1);
    Database_freeMatch(records, uuids, starts, keys, whens);

    ASSERT_TRUE(Database_rollback(db, 3));
    EXPECT_EQ(count(4, -1), 0);
    EXPECT_EQ(count(0, 0), 2);

    ASSERT_TRUE(Database_purgeModifiedData(db, 2));
    EXPECT_EQ(count(-1, -1, "*", "?"), 2);
    int v = 0;
    ASSERT_TRUE(Database_getInteger(db, 1, obj, "b", &v));
    EXPECT_EQ(v, 2);
    ASSERT_TRUE(Database_erase(db, other));
    EXPECT_EQ(count(-1, -1, "*", "?"), 1);
    vrnUUID_delete(other);
}
