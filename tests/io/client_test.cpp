// Whole files through iocntc alone, by several processes: a writer that
// dies, readers that share, the index written only by the writer, closing
// and reopening records.
#include "file_fixture.h"
#include "vrn_platform.h"

#include <gtest/gtest.h>
#include <cerrno>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

using namespace iotest;
using vrntest::readFile;
using vrntest::runInChild;
using vrntest::TempDir;
using vrntest::writeFile;

TEST(Client, WriterKilledWithoutClosingLeavesTheFileLockedButItsDataRecoverable) {
    TempDir dir;
    std::string name = dir.file("f.kwx");
    auto writer = runInChild([&] {
        Client c;
        if (c.open(name) != IO_OK) _exit(1);
        for (int i = 0; i < 3; ++i)
            if (c.writeInts("d" + std::to_string(i), "w", i, {i, i + 1}) != IO_OK) _exit(2);
        _exit(0);  // dies with the file open
        return 3;
    });
    ASSERT_EQ(0, writer.exitStatus) << writer.err;
    EXPECT_EQ(-1, lockValue(name));

    {
        Client c;
        messages().clear();
        EXPECT_EQ(IO_ERR_LOCKED, c.open(name));
        EXPECT_NE(std::string::npos, messages().find("is currently locked for writing"));
        EXPECT_NE(std::string::npos, messages().find("iocnt: open the primary file failed\n"));
        EXPECT_EQ(-1, lockValue(name));
    }
    ASSERT_EQ(0, unlink((name + ".lck").c_str()));
    Client c;
    ASSERT_EQ(IO_OK, c.open(name));
    for (int i = 0; i < 3; ++i) {
        std::vector<int32_t> v;
        ASSERT_EQ(IO_OK, c.readInts("d" + std::to_string(i), "w", i, v)) << i;
        EXPECT_EQ((std::vector<int32_t>{i, i + 1}), v);
    }
    // And writing goes on where the dead writer stopped.
    ASSERT_EQ(IO_OK, c.writeInts("d3", "w", 3, {3}));
    ASSERT_EQ(IO_OK, c.close());
    Client again;
    ASSERT_EQ(IO_OK, again.open(name));
    Data all;
    ASSERT_EQ(IO_OK, again.locate("*", "*", -1, all));
    EXPECT_EQ(4, all.nints);
}

TEST(Client, ReadersShareAndAWriteWhileAnotherReadsAnswers21) {
    TempDir dir;
    std::string name = dir.file("f.kwx");
    {
        Client c;
        ASSERT_EQ(IO_OK, c.open(name));
        ASSERT_EQ(IO_OK, c.writeInts("a", "b", 0, {42}));
        ASSERT_EQ(IO_OK, c.close());
    }
    EXPECT_FALSE(exists(name + ".lck"));
    Client mine;
    ASSERT_EQ(IO_OK, mine.open(name));
    auto other = runInChild([&] {
        Client c;
        if (c.open(name) != IO_OK) return 1;
        if (lockValue(name) != 2) return 2;
        std::vector<int32_t> v;
        if (c.readInts("a", "b", 0, v) != IO_OK || v != std::vector<int32_t>{42}) return 3;
        messages().clear();
        if (c.writeInts("x", "y", 0, {1}) != IO_ERR_LOCKED) return 4;
        if (messages().find("iocnt: setfilebusyflag failed when writing a data set\n") ==
            std::string::npos)
            return 5;
        Header h("a", "b", 0);
        Data none;
        if (c.request(IO_DELETE_DS, h, none) != IO_ERR_LOCKED) return 6;
        return c.close() == IO_OK && lockValue(name) == 1 ? 0 : 7;
    });
    EXPECT_EQ(0, other.exitStatus) << other.err;
    // Alone again: this reader may write.
    EXPECT_EQ(IO_OK, mine.writeInts("x", "y", 0, {1}));
    EXPECT_EQ(-1, lockValue(name));
    EXPECT_EQ(IO_OK, mine.close());
    EXPECT_FALSE(exists(name + ".lck"));
}

TEST(Client, RebuiltIndexIsWrittenOnlyByAHandleThatMayWrite) {
    TempDir dir;
    std::string name = dir.file("f.kwx");
    {
        Client c;
        ASSERT_EQ(IO_OK, c.open(name));
        ASSERT_EQ(IO_OK, c.writeInts("a", "b", 0, {1}));
        ASSERT_EQ(IO_OK, c.close());
    }
    forceRebuild(name);
    std::string stale = readFile(name);

    // Shared: the rebuild stays in memory.
    Client reader;
    ASSERT_EQ(IO_OK, reader.open(name));
    auto other = otherReaderDiesHoldingIt(name);
    ASSERT_EQ(0, other.exitStatus) << other.err;
    std::vector<int32_t> v;
    ASSERT_EQ(IO_OK, reader.readInts("a", "b", 0, v));
    // A rebuild asked for by request does not make this reader a writer.
    Header h;
    Data none;
    ASSERT_EQ(IO_OK, reader.request(IO_RECREATE_INDEX, h, none));
    EXPECT_EQ(IO_ERR_LOCKED, reader.writeInts("c", "d", 0, {2}));
    EXPECT_EQ(IO_OK, reader.close());
    EXPECT_EQ(stale, readFile(name));
    ASSERT_EQ(0, unlink((name + ".lck").c_str()));

    // Alone: the reader writes the rebuilt index back at close.
    Client alone;
    ASSERT_EQ(IO_OK, alone.open(name));
    EXPECT_EQ(IO_OK, alone.close());
    std::string fixed = readFile(name);
    EXPECT_NE(stale, fixed);
    EXPECT_EQ(std::to_string(fixed.size()), fixed.substr(6, 20).substr(fixed.substr(6, 20).find_first_not_of(' ')));
    EXPECT_FALSE(exists(name + ".lck"));
}

TEST(Client, CloseReportsAFailedFlushAfterCleaningUp) {
    TempDir dir;
    std::string name = dir.file("f.kwx");
    Client c;
    ASSERT_EQ(IO_OK, c.open(name));
    ASSERT_EQ(IO_OK, c.writeInts("a", "b", 0, {1}));
    // The descriptor goes away behind the library's back.
    FILE *stream = c.control()->primary.stream;
    ASSERT_NE(nullptr, stream);
    close(vrnPlatform_streamFd(stream));
    EXPECT_EQ(IO_ERR_CLOSE, c.close());
    EXPECT_EQ(nullptr, c.control()->primary.stream);
    EXPECT_FALSE(exists(name + ".lck"));
}

TEST(Client, ReopeningAnOpenRecordClosesItProperlyFirst) {
    TempDir dir;
    std::string first = dir.file("one.kwx"), second = dir.file("two.kwx");
    Client c;
    ASSERT_EQ(IO_OK, c.open(first));
    ASSERT_EQ(IO_OK, c.writeInts("a", "b", 0, {1}));
    ASSERT_EQ(IO_OK, c.open(second));
    EXPECT_FALSE(exists(first + ".lck"));
    EXPECT_EQ(1, lockValue(second));
    // The first file got its index and size: it opens without a rebuild.
    std::string bytes = readFile(first);
    EXPECT_EQ(std::to_string(bytes.size()),
              bytes.substr(6, 20).substr(bytes.substr(6, 20).find_first_not_of(' ')));
}

TEST(Client, FailedOpenReleasesOnlyTheRecordItOpened) {
    TempDir dir;
    std::string good = dir.file("good.kwx"), other = dir.file("other.kwx"),
                bad = dir.file("bad.txt");
    writeFile(bad, "not a data file\n");
    Client c;
    ASSERT_EQ(IO_OK, c.open(good));
    ASSERT_EQ(IO_OK, c.open(other, IO_OPEN_SECONDARY));
    ASSERT_EQ(IO_OK, c.writeInts("s", "t", 0, {5}));
    messages().clear();
    EXPECT_EQ(IO_ERR_BADFILE, c.open(bad));
    EXPECT_NE(std::string::npos, messages().find("iif_open: the file is not in KWX-5.x format"));
    EXPECT_FALSE(exists(bad + ".lck"));
    // The secondary file is still open and usable.
    Header h;
    Data none;
    ASSERT_EQ(IO_OK, c.request(IO_USE_SECONDARY, h, none));
    std::vector<int32_t> v;
    ASSERT_EQ(IO_OK, c.readInts("s", "t", 0, v));
    EXPECT_EQ((std::vector<int32_t>{5}), v);
    ASSERT_EQ(IO_OK, c.close());
    EXPECT_FALSE(exists(other + ".lck"));
    EXPECT_EQ("not a data file\n", readFile(bad));
}

TEST(Client, NewFileStartsWithItsInfoBlockAndAReadLock) {
    TempDir dir;
    std::string name = dir.file("new.kwx");
    Client c;
    ASSERT_EQ(IO_OK, c.open(name));
    EXPECT_EQ(1, lockValue(name));
    EXPECT_EQ(36, c.control()->primary.indexpos);
    EXPECT_EQ("*INFO\n" + std::string(19, ' ') + "0\n*ENDINFO\n", readFile(name));
    Data count;
    count.setInts({7});
    Header h;
    ASSERT_EQ(IO_OK, c.request(IO_INDEX_COUNT, h, count));
    EXPECT_EQ(0, count.ints[0]);
    EXPECT_EQ(IO_OK, c.close());
    EXPECT_FALSE(exists(name + ".lck"));
}

TEST(Client, CorruptStartsAreRefusedWith20) {
    TempDir dir;
    struct Case {
        std::string bytes, message;
    } cases[] = {
        {"*INFO\r\n                   0\r\n", "Windows-style CR-LF"},
        {"*INFO\rx                   0\n", "the line endings are incorrect"},
        {"*INFOx\n                  0\n", "trailing garbage after start tag"},
        {"*NOPE\nmore text\n", "not in KWX-5.x format"},
    };
    for (const Case &k : cases) {
        std::string name = dir.file("c.kwx");
        writeFile(name, k.bytes);
        Client c;
        messages().clear();
        EXPECT_EQ(IO_ERR_BADFILE, c.open(name)) << k.message;
        EXPECT_NE(std::string::npos, messages().find(k.message)) << messages();
        EXPECT_FALSE(exists(name + ".lck"));
        EXPECT_EQ(k.bytes, readFile(name));
    }
    std::string name = dir.file("w.kwx");
    writeFile(name, "*INFO\n            0\n*ENDINFO\n");
    Client c;
    messages().clear();
    EXPECT_EQ(IO_ERR_READ, c.open(name));
    EXPECT_NE(std::string::npos, messages().find("offset format 13 is not currently supported"));
}

TEST(Client, SeveralProcessesTakingTurnsNeverLoseOrMixDatasets) {
    // Four processes each append their datasets whenever they get the file
    // to themselves; readers and writers meet at random. Whatever the order,
    // every dataset must be there afterwards, whole, and no lock is left.
    TempDir dir;
    std::string name = dir.file("shared.kwx");
    const int processes = 4, each = 25;
    std::vector<pid_t> children;
    for (int p = 0; p < processes; ++p) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            kwxIoSetLockWait(1, 20000);
            // A refused process waits a random time that grows with each
            // refusal in a row, so that the others, however slow each turn
            // is, cannot keep the file shared among them for ever.
            std::mt19937 rng((unsigned)(getpid() * 7919 + p));
            int written = 0, refused = 0;
            // An unexpected answer ends the child, after giving back its
            // share of the file so that the others are not held up.
            auto fail = [](const char *step, int rc, int status) {
                fprintf(stderr, "%s answered %d: %s\n", step, rc, messages().c_str());
                _exit(status);
            };
            for (long attempt = 0; written < each && attempt < 200000; ++attempt) {
                int rc;
                messages().clear();
                {
                    Client c;
                    rc = c.open(name);
                    if (rc == IO_OK) {
                        std::string what = "p" + std::to_string(p) + "_" + std::to_string(written);
                        rc = c.writeInts(what, "w", written, {p, written, p * 1000 + written});
                        int closed = c.close();
                        if (rc == IO_OK) ++written;
                        else if (rc != IO_ERR_LOCKED) fail("write", rc, 10);
                        if (closed != IO_OK) fail("close", closed, 11);
                    } else if (rc != IO_ERR_LOCKED) {
                        fail("open", rc, 12);
                    }
                }
                refused = rc == IO_OK ? 0 : std::min(refused + 1, 8);
                usleep(200 + (useconds_t)(rng() % (200u << refused)));
            }
            _exit(written == each ? 0 : 13);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    EXPECT_FALSE(exists(name + ".lck"));
    EXPECT_FALSE(exists(name + ".lck.lck"));
    Client c;
    ASSERT_EQ(IO_OK, c.open(name));
    Data all;
    ASSERT_EQ(IO_OK, c.locate("*", "*", -1, all));
    EXPECT_EQ(processes * each, all.nints);
    for (int p = 0; p < processes; ++p)
        for (int i = 0; i < each; ++i) {
            std::vector<int32_t> v;
            std::string what = "p" + std::to_string(p) + "_" + std::to_string(i);
            ASSERT_EQ(IO_OK, c.readInts(what, "w", i, v)) << what;
            EXPECT_EQ((std::vector<int32_t>{p, i, p * 1000 + i}), v) << what;
        }
}
