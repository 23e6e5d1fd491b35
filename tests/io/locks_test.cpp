// Lock files shared between processes: readers count up and down, a writer
// excludes everybody, the last close removes the lock, the upgrade from
// reader to writer rechecks the lock file, a stale mutex is waited out.
#include "file_fixture.h"
#include "vrn_platform.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <csignal>
#include <functional>
#include <unistd.h>

using namespace iotest;
using vrntest::runInChild;
using vrntest::TempDir;
using vrntest::writeFile;

namespace {

std::string plainFile(const TempDir &dir) {
    std::string name = dir.file("plain.txt");
    writeFile(name, "some text\n");
    return name;
}

}  // namespace

TEST(LockFiles, TwoReaderProcessesShareTheFileAndTheLastCloseRemovesTheLock) {
    TempDir dir;
    std::string name = plainFile(dir);
    IO_file a = freshRecord();
    ASSERT_EQ(IO_OK, iif_open_text(&a, name.c_str(), "d"));
    EXPECT_EQ(1, lockValue(name));
    EXPECT_EQ(1, a.locklevel);

    auto child = runInChild([&] {
        IO_file b = freshRecord();
        if (iif_open_text(&b, name.c_str(), "d") != IO_OK) return 1;
        if (lockValue(name) != 2 || b.locklevel != 2) return 2;
        // Another process reads too: no writing.
        if (setfilebusyflag(catchMessage, &b) != IO_ERR_LOCKED) return 3;
        if (lockValue(name) != 2) return 4;
        if (iif_close_text(&b) != IO_OK) return 5;
        return lockValue(name) == 1 ? 0 : 6;
    });
    EXPECT_EQ(0, child.exitStatus) << child.err;

    EXPECT_EQ(1, lockValue(name));
    EXPECT_EQ(IO_OK, iif_close_text(&a));
    EXPECT_FALSE(exists(name + ".lck"));
}

TEST(LockFiles, UpgradeIsRefusedWhileAnotherProcessStillReads) {
    // The upgrade must not trust the count seen at open: this handle was
    // the only reader then, but another process has joined since.
    TempDir dir;
    std::string name = plainFile(dir);
    IO_file a = freshRecord();
    ASSERT_EQ(IO_OK, iif_open_text(&a, name.c_str(), "d"));
    ASSERT_EQ(1, a.locklevel);

    auto child = runInChild([&] {
        IO_file b = freshRecord();
        // Dies without closing: its read lock stays counted.
        _exit(iif_open_text(&b, name.c_str(), "d") == IO_OK ? 0 : 1);
        return 1;
    });
    ASSERT_EQ(0, child.exitStatus) << child.err;
    ASSERT_EQ(2, lockValue(name));

    messages().clear();
    EXPECT_EQ(IO_ERR_LOCKED, setfilebusyflag(catchMessage, &a));
    EXPECT_NE(std::string::npos, messages().find("more than one user is reading"));
    EXPECT_EQ(2, lockValue(name));
    EXPECT_EQ(1, a.locklevel);

    EXPECT_EQ(IO_OK, iif_close_text(&a));
    EXPECT_EQ(1, lockValue(name));  // the other reader's share
}

TEST(LockFiles, ReaderThatBecameTheOnlyOneMayWrite) {
    TempDir dir;
    std::string name = plainFile(dir);
    IO_file a = freshRecord(), b = freshRecord();
    ASSERT_EQ(IO_OK, iif_open_text(&a, name.c_str(), "d"));
    ASSERT_EQ(IO_OK, iif_open_text(&b, name.c_str(), "d"));
    ASSERT_EQ(2, b.locklevel);
    ASSERT_EQ(IO_OK, iif_close_text(&a));
    // b was the second reader at open, but is alone now.
    EXPECT_EQ(IO_OK, setfilebusyflag(catchMessage, &b));
    EXPECT_EQ(-1, lockValue(name));
    EXPECT_EQ(-1, b.locklevel);
    EXPECT_EQ(IO_OK, iif_close_text(&b));
    EXPECT_FALSE(exists(name + ".lck"));
}

TEST(LockFiles, WriterKeepsOtherProcessesOut) {
    TempDir dir;
    std::string name = plainFile(dir);
    IO_file w = freshRecord();
    ASSERT_EQ(IO_OK, iif_open_text(&w, name.c_str(), "w"));
    EXPECT_EQ(-1, lockValue(name));

    auto child = runInChild([&] {
        messages().clear();
        IO_file r = freshRecord();
        if (iif_open_text(&r, name.c_str(), "d") != IO_ERR_LOCKED) return 1;
        if (messages().find("is currently locked for writing, and cannot be locked for read "
                            "access") == std::string::npos)
            return 2;
        messages().clear();
        IO_file x = freshRecord();
        if (iif_open_text(&x, name.c_str(), "w") != IO_ERR_LOCKED) return 3;
        if (messages().find("is already locked for write access") == std::string::npos) return 4;
        filerec_release(&r);
        filerec_release(&x);
        return lockValue(name) == -1 ? 0 : 5;
    });
    EXPECT_EQ(0, child.exitStatus) << child.err;

    EXPECT_EQ(IO_OK, iif_close_text(&w));
    EXPECT_FALSE(exists(name + ".lck"));
}

TEST(LockFiles, WriteLockAtOpenIsRefusedWhileReadersHoldTheFile) {
    TempDir dir;
    std::string name = plainFile(dir);
    IO_file r = freshRecord();
    ASSERT_EQ(IO_OK, iif_open_text(&r, name.c_str(), "r"));
    auto child = runInChild([&] {
        messages().clear();
        IO_file w = freshRecord();
        int rc = iif_open_text(&w, name.c_str(), "w");
        filerec_release(&w);
        if (rc != IO_ERR_LOCKED) return 1;
        return messages().find("is currently locked for reading at level 1") != std::string::npos
                   ? 0
                   : 2;
    });
    EXPECT_EQ(0, child.exitStatus) << child.err;
    EXPECT_EQ(1, lockValue(name));
    EXPECT_EQ(IO_OK, iif_close_text(&r));
}

TEST(LockFiles, StaleMutexOfADeadProcessIsWaitedOutAndTakenOver) {
    TempDir dir;
    std::string name = plainFile(dir);
    std::string mutex = name + ".lck.lck";
    // A process dies while it holds the mutex.
    auto child = runInChild([&] {
        writeFile(mutex, "");
        _exit(0);
        return 0;
    });
    ASSERT_TRUE(exists(mutex));

    kwxIoSetLockWait(1, 3);
    IO_file a = freshRecord();
    ASSERT_EQ(IO_OK, iif_open_text(&a, name.c_str(), "d"));
    EXPECT_EQ(1, lockValue(name));
    EXPECT_FALSE(exists(mutex));
    // The next lock does not wait again.
    IO_file b = freshRecord();
    ASSERT_EQ(IO_OK, iif_open_text(&b, name.c_str(), "d"));
    EXPECT_EQ(2, lockValue(name));
    EXPECT_EQ(IO_OK, iif_close_text(&b));
    EXPECT_EQ(IO_OK, iif_close_text(&a));
    EXPECT_FALSE(exists(name + ".lck"));
}

TEST(LockFiles, WithoutRoomForALockFileReadersGoOnAndWritersAreRefusedNamingTheLimit) {
    // The lock mutex "<name>.lck.lck" of a 248-byte name, and the lock file
    // too of a 252-byte one, are over the file-name limit.
    for (size_t length : {248, 252}) {
        SCOPED_TRACE(length);
        TempDir dir;
        std::string name = dir.file(std::string(length, 'n'));
        writeFile(name, "text\n");
        IO_file a = freshRecord();
        ASSERT_EQ(IO_OK, iif_open_text(&a, name.c_str(), "d"));
        EXPECT_EQ(0, a.locklevel);
        EXPECT_EQ('w', a.openmode);
        EXPECT_FALSE(exists(name + ".lck"));
        for (int explicitLock = 0; explicitLock < 2; ++explicitLock) {
            messages().clear();
            EXPECT_EQ(IO_ERR_LOCKED, explicitLock ? iif_set_lock(&a, 1) : setfilebusyflag(catchMessage, &a));
            EXPECT_NE(std::string::npos,
                      messages().find("is " + std::to_string(length + 8) +
                                      " bytes long, over the limit of 255 bytes for a file name.  Give "
                                      "the file a name of at most 247 bytes."))
                << messages();
        }
        EXPECT_EQ(IO_OK, iif_close_text(&a));
        EXPECT_EQ("text\n", vrntest::readFile(name));
        EXPECT_FALSE(exists(name + ".lck"));
    }
}

namespace {

// Makes the file changes of the chosen lock files fail (ENOSPC, or EIO for
// an unlink) while it lives: those that create a file when failNew is set,
// as in a folder that takes no new file, or those that remove one when
// failRemoval is set.
struct LockChangesFail {
    static std::string &suffix() {
        static std::string s;
        return s;
    }
    static bool &failNew() {
        static bool b;
        return b;
    }
    static bool &failRemoval() {
        static bool b;
        return b;
    }
    LockChangesFail(const std::string &endingIn, bool newFiles, bool removals) {
        suffix() = endingIn;
        failNew() = newFiles;
        failRemoval() = removals;
        vrnPlatform_setFileChangeHook([](const char *path) {
            const std::string p = path;
            if (p.size() < suffix().size() || p.compare(p.size() - suffix().size(), suffix().size(), suffix()) != 0)
                return;
            if (exists(p) ? failRemoval() : failNew()) vrnPlatform_setFailurePoint(1, 0);
        });
    }
    ~LockChangesFail() {
        vrnPlatform_setFileChangeHook(nullptr);
        vrnPlatform_setFailurePoint(0, 0);
    }
};

}  // namespace

// Where the lock file, or its mutex, cannot be made (a folder that takes no
// new file, a create that fails once) a reader goes on without one, but a
// writer is refused saying why: two writers could otherwise both go on.
TEST(LockFiles, AWriteLockWithoutALockFileIsRefusedSayingWhy) {
    for (const char *ending : {".lck", ".lck.lck"}) {
        SCOPED_TRACE(ending);
        TempDir dir;
        std::string name = plainFile(dir);
        IO_file a = freshRecord();
        {
            LockChangesFail noNewFile(name + ending, true, false);
            ASSERT_EQ(IO_OK, iif_open_text(&a, name.c_str(), "d"));
            EXPECT_EQ('w', a.openmode);
            // Without its mutex, the reader still counts itself in.
            const int readers = ending[4] ? 1 : INT_MIN;
            EXPECT_EQ(readers, lockValue(name));
            for (int explicitLock = 0; explicitLock < 2; ++explicitLock) {
                messages().clear();
                if (explicitLock) {
                    EXPECT_EQ(IO_ERR_LOCKED, iif_set_lock(&a, 1));
                } else {
                    EXPECT_EQ(IO_ERR_DISKFULL, setfilebusyflag(catchMessage, &a));
                }
                const std::string why =
                    explicitLock && !ending[4]
                        ? "iif_set_lock: error opening lockfile " + name + ".lck for " + name
                        : std::string(explicitLock ? "iif_set_lock" : "setfilebusyflag") + ": file " + name +
                              " cannot be locked for writing: its lock " + (ending[4] ? "mutex " : "file ") + name +
                              ending + " cannot be made";
                EXPECT_NE(std::string::npos, messages().find(why + ": No space left on device")) << messages();
                EXPECT_NE(-1, a.locklevel);
                EXPECT_EQ(readers, lockValue(name));
            }
        }
        // Once the lock file can be made, the reader becomes the writer.
        EXPECT_EQ(IO_OK, setfilebusyflag(catchMessage, &a));
        EXPECT_EQ(-1, lockValue(name));
        EXPECT_EQ(IO_OK, iif_close_text(&a));
        EXPECT_FALSE(exists(name + ".lck"));
        EXPECT_FALSE(exists(name + ".lck.lck"));
    }
}

// A close that cannot remove the lock file, or its mutex, says so naming
// it and answers 21: until it is removed the file cannot be opened again.
TEST(LockFiles, ACloseThatCannotRemoveTheLockFileOrItsMutexAnswers21NamingIt) {
    for (const char *ending : {".lck", ".lck.lck"}) {
        for (bool writer : {false, true}) {
            SCOPED_TRACE(std::string(ending) + (writer ? ", writer" : ", reader"));
            TempDir dir;
            std::string name = plainFile(dir);
            free(kwxIoTakeLocksLeft());
            IO_file a = freshRecord();
            ASSERT_EQ(IO_OK, iif_open_text(&a, name.c_str(), "d"));
            if (writer) {
                ASSERT_EQ(IO_OK, setfilebusyflag(catchMessage, &a));
            }
            messages().clear();
            {
                LockChangesFail failedRemoval(name + ending, false, true);
                EXPECT_EQ(IO_ERR_LOCKED, iif_close_text(&a));
            }
            EXPECT_NE(std::string::npos, messages().find("iif_set_lock: can't remove the " +
                                                         std::string(ending[4] ? "lock mutex " : "lock file ") +
                                                         name + ending + " of " + name + ": Input/output error"))
                << messages();
            char *left = kwxIoTakeLocksLeft();
            EXPECT_EQ(name + ending + " (Input/output error)\n", left ? left : "");
            free(left);
            EXPECT_TRUE(exists(name + ending));
            unlink((name + ending).c_str());
        }
    }
}

// A lock step whose removal of its mutex fails once (an I/O error) does not
// leave the mutex for every other process's lock to wait out.
TEST(LockFiles, AMutexWhoseRemovalFailsOnceIsNotLeftForOthersToWaitOut) {
    TempDir dir;
    std::string name = plainFile(dir);
    static std::string mutex;
    static int failed;
    mutex = name + ".lck.lck";
    failed = 0;
    vrnPlatform_setFileChangeHook([](const char *path) {
        if (!failed && mutex == path && exists(path)) {
            ++failed;
            vrnPlatform_setFailurePoint(1, 0);
        }
    });
    IO_file a = freshRecord();
    const int opened = iif_open_text(&a, name.c_str(), "d");
    vrnPlatform_setFileChangeHook(nullptr);
    ASSERT_EQ(IO_OK, opened);
    EXPECT_EQ(1, failed);
    EXPECT_FALSE(exists(mutex));
    EXPECT_EQ(IO_OK, iif_close_text(&a));
}

TEST(LockFiles, UnreadableLockFileIsReportedAndNothingIsOpened) {
    TempDir dir;
    std::string name = plainFile(dir);
    writeFile(name + ".lck", "not a number\n");
    messages().clear();
    IO_file a = freshRecord();
    EXPECT_EQ(IO_ERR_READ, iif_open_text(&a, name.c_str(), "d"));
    EXPECT_NE(std::string::npos, messages().find("iif_set_lock: error reading lock file"));
    EXPECT_EQ(nullptr, a.stream);
    filerec_release(&a);
    EXPECT_FALSE(exists(name + ".lck.lck"));
}

TEST(LockFiles, ReadOnlyRecordCannotWrite) {
    TempDir dir;
    std::string name = plainFile(dir);
    IO_file a = freshRecord();
    ASSERT_EQ(IO_OK, iif_open_text(&a, name.c_str(), "r"));
    EXPECT_EQ('r', a.openmode);
    messages().clear();
    EXPECT_EQ(IO_ERR_PERMISSION, setfilebusyflag(catchMessage, &a));
    EXPECT_NE(std::string::npos, messages().find("setfilebusyflag: permission denied for"));
    EXPECT_EQ(IO_OK, iif_close_text(&a));
    EXPECT_FALSE(exists(name + ".lck"));
}

TEST(OpenClose, BadArgumentsAreRefused) {
    IO_file a = freshRecord();
    messages().clear();
    EXPECT_EQ(IO_ERR_OPEN, iif_open(&a, nullptr, "d"));
    EXPECT_NE(std::string::npos, messages().find("iif_open: filename is NULL\n"));
    messages().clear();
    EXPECT_EQ(IO_ERR_OPEN, iif_open(&a, "x", "q"));
    EXPECT_NE(std::string::npos, messages().find("iif_open: unknown access code q\n"));
    filerec_release(&a);
}

TEST(OpenClose, CloseOnAFullDiskAnswers7AndTheNextOpenFindsEveryDataset) {
    // The file may grow only a little when it is closed (a size limit in a
    // child process stands for the full disk): the index does not fit, the
    // close says so, and the next open rebuilds the index from the datasets.
    for (int room : {0, 30, 100}) {
        TempDir dir;
        std::string name = dir.file("full.kwx");
        auto child = runInChild([&] {
            signal(SIGXFSZ, SIG_IGN);
            Client c;
            if (c.open(name) != IO_OK) return 10;
            if (c.writeInts("first", "w", 0, {1, 2, 3}) != IO_OK) return 11;
            if (c.writeInts("second", "w", 0, {4, 5}) != IO_OK) return 12;
            struct stat st;
            if (stat(name.c_str(), &st) != 0) return 13;
            struct rlimit limit;
            getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = (rlim_t)st.st_size + (rlim_t)room;
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 14;
            return c.close();
        });
        EXPECT_EQ(IO_ERR_CLOSE, child.exitStatus) << room << child.err;
        EXPECT_FALSE(exists(name + ".lck")) << room;
        Client c;
        ASSERT_EQ(IO_OK, c.open(name)) << room;
        std::vector<int32_t> v;
        ASSERT_EQ(IO_OK, c.readInts("first", "w", 0, v)) << room;
        EXPECT_EQ((std::vector<int32_t>{1, 2, 3}), v);
        ASSERT_EQ(IO_OK, c.readInts("second", "w", 0, v)) << room;
        EXPECT_EQ((std::vector<int32_t>{4, 5}), v);
    }
}

TEST(OpenClose, MissingFileForReadingIsNotCreatedAndLeavesNoLock) {
    TempDir dir;
    std::string name = dir.file("absent");
    IO_file a = freshRecord();
    messages().clear();
    EXPECT_EQ(IO_ERR_OPEN, iif_open(&a, name.c_str(), "r"));
    EXPECT_NE(std::string::npos, messages().find("iif_open: can't open file"));
    EXPECT_FALSE(exists(name));
    EXPECT_FALSE(exists(name + ".lck"));
    filerec_release(&a);
}

TEST(LockFiles, ExplicitUpgradeChecksTheLockFileToo) {
    TempDir dir;
    std::string name = plainFile(dir);
    IO_file a = freshRecord(), b = freshRecord();
    ASSERT_EQ(IO_OK, iif_open_text(&a, name.c_str(), "d"));
    ASSERT_EQ('w', a.openmode);  // opened for reading and writing, read-locked
    ASSERT_EQ(IO_OK, iif_open_text(&b, name.c_str(), "d"));
    EXPECT_EQ(IO_ERR_LOCKED, iif_set_lock(&a, 1));
    EXPECT_EQ(2, lockValue(name));
    ASSERT_EQ(IO_OK, iif_close_text(&b));
    EXPECT_EQ(IO_OK, iif_set_lock(&a, 1));
    EXPECT_EQ(-1, lockValue(name));
    EXPECT_EQ(IO_OK, iif_set_lock(&a, 1));  // already the writer
    EXPECT_EQ(IO_OK, iif_close_text(&a));
    EXPECT_FALSE(exists(name + ".lck"));
}

namespace {

// Runs body in a child process without the power to pass over file
// permissions; -1 when no such process can be made here.
int runUnprivileged(const std::function<int()> &body) {
    auto child = runInChild([&] {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 100;
        return body();
    });
    return child.exitStatus == 100 ? -1 : child.exitStatus;
}

}  // namespace

TEST(OpenClose, FilesThatMayNotBeWrittenOrReadAreOpenedReadOnlyOrRefusedAndNeverChanged) {
    TempDir dir;
    chmod(dir.path().c_str(), 0777);
    std::string name = dir.file("data.kwx");
    {
        Client c;
        ASSERT_EQ(IO_OK, c.open(name));
        ASSERT_EQ(IO_OK, c.writeInts("a", "b", 1, {1, 2, 3}));
        ASSERT_EQ(IO_OK, c.close());
    }
    const std::string bytes = vrntest::readFile(name);

    // Readable only: opened read-only, read, every write refused with 6.
    chmod(name.c_str(), 0444);
    int rc = runUnprivileged([&] {
        Client c;
        if (c.open(name) != IO_OK) return 1;
        std::vector<int32_t> v;
        if (c.readInts("a", "b", 1, v) != IO_OK || v != std::vector<int32_t>{1, 2, 3}) return 2;
        if (c.writeInts("a", "b", 2, {4}) != IO_ERR_PERMISSION) return 3;
        return c.close() == IO_OK ? 0 : 4;
    });
    if (rc < 0) GTEST_SKIP() << "no unprivileged process can be made here";
    EXPECT_EQ(0, rc);
    EXPECT_EQ(bytes, vrntest::readFile(name));
    EXPECT_FALSE(exists(name + ".lck"));

    // Neither readable nor writable: refused with 1, never made anew.
    chmod(name.c_str(), 0);
    rc = runUnprivileged([&] {
        Client c;
        if (c.open(name) != IO_ERR_OPEN) return 1;
        IO_file w = freshRecord();
        int result = iif_open(&w, name.c_str(), "w") == IO_ERR_OPEN ? 0 : 2;
        filerec_release(&w);
        return result;
    });
    EXPECT_EQ(0, rc);
    chmod(name.c_str(), 0644);
    EXPECT_EQ(bytes, vrntest::readFile(name));
    EXPECT_FALSE(exists(name + ".lck"));

    // A folder where no lock file can be made: readers of a file that they
    // may not write go on, read-only. (The file's mode is set so that this
    // holds for its owner too, whoever runs the test.)
    chmod(name.c_str(), 0444);
    chmod(dir.path().c_str(), 0555);
    rc = runUnprivileged([&] {
        Client c;
        if (c.open(name) != IO_OK) return 1;
        std::vector<int32_t> v;
        if (c.readInts("a", "b", 1, v) != IO_OK || v != std::vector<int32_t>{1, 2, 3}) return 2;
        if (c.writeInts("a", "b", 2, {4}) != IO_ERR_PERMISSION) return 3;
        return c.close() == IO_OK ? 0 : 4;
    });
    chmod(dir.path().c_str(), 0755);
    chmod(name.c_str(), 0644);
    EXPECT_EQ(0, rc);
    EXPECT_EQ(bytes, vrntest::readFile(name));
    EXPECT_FALSE(exists(name + ".lck"));
}
