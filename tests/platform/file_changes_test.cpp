// The counted file changes and the crash point hook: each kind of call is
// counted, the process ends exactly at the chosen call with only the kept
// part of that write, and streams made by the platform reach the file only
// through counted writes.
#include "crash_points.h"
#include "test_support.h"
#include "vrn_platform.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using vrntest::TempDir;

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// open(create) 1, writeFile 2, pwrite 3, ftruncate 4, rename 5, unlink 6;
// a plain open for reading and vrnPlatform_write are not counted.
void sixChanges(const std::string& dir) {
    const std::string a = dir + "/a", b = dir + "/b";
    int fd = vrnPlatform_open(a.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0666);
    vrnPlatform_writeFile(fd, "0123456789", 10);
    vrnPlatform_pwrite(fd, "abcdef", 6, 2);
    vrnPlatform_ftruncate(fd, 7);
    vrnPlatform_close(fd);
    int reader = vrnPlatform_open(a.c_str(), O_RDONLY, 0);
    vrnPlatform_close(reader);
    vrnPlatform_rename(a.c_str(), b.c_str());
    vrnPlatform_unlink(b.c_str());
}

std::vector<std::string> g_pathsSeen;

TEST(FileChangeHook, CountsEveryKindOfChangeAndNothingElse) {
    TempDir dir;
    EXPECT_EQ(vrntest::countFileChanges([&] { sixChanges(dir.path()); }), 6);
    // The test hook sees each change, before it happens, under its path.
    vrnPlatform_setFileChangeHook([](const char* path) {
        std::string p = path;
        g_pathsSeen.push_back(p.substr(p.rfind('/') + 1) + (exists(path) ? "+" : "-"));
    });
    sixChanges(dir.path());
    vrnPlatform_setFileChangeHook(nullptr);
    // open(create) of a, the writes and truncation of a, rename to b,
    // unlink of b.
    EXPECT_EQ(g_pathsSeen, (std::vector<std::string>{"a-", "a+", "a+", "a+", "b-", "b+"}));
}

// Checks vrnPlatform_renameNoReplace in a folder: 0 when a free name is
// taken and a name in use refused with EEXIST, every file left as it was.
int renameWithoutReplacing(const TempDir& dir) {
    const std::string a = dir.file("a"), b = dir.file("b"), c = dir.file("c");
    vrntest::writeFile(a, "new");
    vrntest::writeFile(b, "theirs");
    if (vrnPlatform_renameNoReplace(a.c_str(), b.c_str()) == 0 || errno != EEXIST) return 1;
    if (vrntest::readFile(a) != "new" || vrntest::readFile(b) != "theirs") return 2;
    if (vrnPlatform_renameNoReplace(a.c_str(), c.c_str()) != 0) return 3;
    return exists(a) || vrntest::readFile(c) != "new" ? 4 : 0;
}

TEST(FileChangeHook, ARenameThatMayNotReplaceLeavesATakenNameAloneWhereverItIsDone) {
    TempDir dir;
    EXPECT_EQ(renameWithoutReplacing(dir), 0);
    // A kernel without renameat2, a file system without its flag: a link
    // and an unlink, both counted; and one without hard links as well.
    for (int error : {ENOSYS, EINVAL}) {
        auto r = vrntest::runInChild([&] {
            if (!vrntest::refuseSystemCalls({{__NR_renameat2, error}})) return 10;
            TempDir own;
            if (int failed = renameWithoutReplacing(own)) return 20 + failed;
            vrntest::writeFile(own.file("d"), "d");
            long long n = vrntest::countFileChanges(
                [&] { vrnPlatform_renameNoReplace(own.file("d").c_str(), own.file("e").c_str()); });
            return n == 3 ? 0 : 30;
        });
        if (r.exitStatus == 10) GTEST_SKIP() << "this machine does not let a process install a seccomp filter";
        EXPECT_EQ(r.exitStatus, 0) << error;
    }
    auto r = vrntest::runInChild([&] {
        if (!vrntest::refuseSystemCalls({{__NR_renameat2, EINVAL}, {__NR_linkat, EPERM}, {__NR_link, EPERM}}))
            return 10;
        TempDir own;
        vrntest::writeFile(own.file("a"), "new");
        if (vrnPlatform_renameNoReplace(own.file("a").c_str(), own.file("b").c_str()) == 0 || errno != EPERM)
            return 1;
        return exists(own.file("b")) || vrntest::readFile(own.file("a")) != "new" ? 2 : 0;
    });
    EXPECT_EQ(r.exitStatus, 0);
}

TEST(FileChangeHook, EndsAtTheChosenCallBeforeItHappens) {
    TempDir dir;
    const std::string a = dir.file("a"), b = dir.file("b");
    // Cut at the truncation: the pwrite happened, the truncation did not.
    ASSERT_TRUE(vrntest::runUntilCrash([&] { sixChanges(dir.path()); }, 4));
    EXPECT_EQ(vrntest::readFile(a), "01abcdef89");
    // Cut at the rename: the file is still under its first name.
    ASSERT_TRUE(vrntest::runUntilCrash([&] { sixChanges(dir.path()); }, 5));
    EXPECT_TRUE(exists(a));
    EXPECT_FALSE(exists(b));
    // Past the last call the workload finishes: no crash reported.
    EXPECT_FALSE(vrntest::runUntilCrash([&] { sixChanges(dir.path()); }, 7));
    EXPECT_FALSE(exists(a));
}

TEST(FileChangeHook, KeepsOnlyThePartOfTheCutWriteAskedFor) {
    TempDir dir;
    const std::string a = dir.file("a");
    ASSERT_TRUE(vrntest::runUntilCrash([&] { sixChanges(dir.path()); }, 2, 4));
    EXPECT_EQ(vrntest::readFile(a), "0123");
    ASSERT_TRUE(vrntest::runUntilCrash([&] { sixChanges(dir.path()); }, 3, 3));
    EXPECT_EQ(vrntest::readFile(a), "01abc56789");
    // More bytes kept than the write has: the whole write.
    ASSERT_TRUE(vrntest::runUntilCrash([&] { sixChanges(dir.path()); }, 2, 100));
    EXPECT_EQ(vrntest::readFile(a), "0123456789");
    // Nothing kept of a write when keepBytes is 0 or -1.
    ASSERT_TRUE(vrntest::runUntilCrash([&] { sixChanges(dir.path()); }, 2, 0));
    EXPECT_EQ(vrntest::readFile(a), "");
}

TEST(FileChangeHook, AFailurePointFailsOneCallOnceWithTheErrorOfAFullOrFailingDisk) {
    TempDir dir;
    const std::string a = dir.file("a"), b = dir.file("b");
    // The creating open fails with ENOSPC and creates nothing; the next
    // one goes ahead.
    vrnPlatform_setFailurePoint(1, -1);
    EXPECT_EQ(vrnPlatform_open(a.c_str(), O_RDWR | O_CREAT, 0666), -1);
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_FALSE(exists(a));
    int fd = vrnPlatform_open(a.c_str(), O_RDWR | O_CREAT, 0666);
    ASSERT_GE(fd, 0);
    // A write keeps the bytes asked for, then fails; the stream of calls
    // after it is untouched.
    vrnPlatform_setFailurePoint(2, 4);
    EXPECT_EQ(vrnPlatform_writeFile(fd, "0123", 4), 4);
    EXPECT_EQ(vrnPlatform_pwrite(fd, "abcdefgh", 8, 4), -1);
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(vrnPlatform_pwrite(fd, "xy", 2, 0), 2);
    EXPECT_EQ(vrntest::readFile(a), "xy23abcd");
    vrnPlatform_setFailurePoint(1, -1);
    EXPECT_EQ(vrnPlatform_ftruncate(fd, 2), -1);
    EXPECT_EQ(errno, EIO);
    vrnPlatform_close(fd);
    EXPECT_EQ(vrntest::readFile(a), "xy23abcd");
    vrnPlatform_setFailurePoint(1, -1);
    EXPECT_EQ(vrnPlatform_rename(a.c_str(), b.c_str()), -1);
    EXPECT_EQ(errno, ENOSPC);
    vrnPlatform_setFailurePoint(1, -1);
    EXPECT_EQ(vrnPlatform_unlink(a.c_str()), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_TRUE(exists(a));
    EXPECT_FALSE(exists(b));
    // Switched off, nothing fails.
    vrnPlatform_setFailurePoint(2, -1);
    vrnPlatform_setFailurePoint(0, -1);
    EXPECT_EQ(vrnPlatform_rename(a.c_str(), b.c_str()), 0);
    EXPECT_EQ(vrnPlatform_unlink(b.c_str()), 0);
}

TEST(FileChangeHook, AnEndedProcessFlushesNoStreamBuffer) {
    TempDir dir;
    const std::string a = dir.file("a"), marker = dir.file("m");
    ASSERT_TRUE(vrntest::runUntilCrash(
        [&] {
            FILE* f = vrnPlatform_fopen(a.c_str(), "wb");
            std::fputs("buffered", f);
            int fd = vrnPlatform_open(marker.c_str(), O_WRONLY | O_CREAT, 0666);
            vrnPlatform_close(fd);
        },
        2));
    EXPECT_EQ(vrntest::readFile(a), "");
}

TEST(FileChangeHook, StreamWritesReachTheFileOnlyThroughCountedWrites) {
    TempDir dir;
    const std::string a = dir.file("a");
    // "w" is a creating open (1); the flush writes (2); the final write at
    // fclose (3). Reading back through "r+" creates nothing.
    long long n = vrntest::countFileChanges([&] {
        FILE* f = vrnPlatform_fopen(a.c_str(), "w+b");
        std::fputs("hello", f);
        std::fflush(f);
        std::fseek(f, 0, SEEK_SET);
        char text[6] = {0};
        if (std::fread(text, 1, 5, f) != 5 || std::string(text) != "hello") return;
        std::fseek(f, 0, SEEK_END);
        std::fputs(" world", f);
        std::fclose(f);
        FILE* g = vrnPlatform_fopen(a.c_str(), "r+b");
        std::fclose(g);
    });
    EXPECT_EQ(n, 3);
    EXPECT_EQ(vrntest::readFile(a), "hello world");
    // Cut at the write of fclose: the first flush is in the file, the rest
    // is not.
    ASSERT_TRUE(vrntest::runUntilCrash(
        [&] {
            FILE* f = vrnPlatform_fopen(a.c_str(), "wb");
            std::fputs("hello", f);
            std::fflush(f);
            std::fputs(" world", f);
            std::fclose(f);
        },
        3, 2));
    EXPECT_EQ(vrntest::readFile(a), "hello w");
}

TEST(FileChangeHook, StreamKnowsItsDescriptorAndRefusesBadModes) {
    TempDir dir;
    const std::string a = dir.file("a");
    FILE* f = vrnPlatform_fopen(a.c_str(), "w+be");
    ASSERT_NE(f, nullptr);
    int fd = vrnPlatform_streamFd(f);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(vrnPlatform_pwrite(fd, "xyz", 3, 0), 3);
    EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
    std::fclose(f);
    EXPECT_EQ(vrntest::readFile(a), "xyz");
    // "x" refuses an existing file; a missing file cannot be read.
    EXPECT_EQ(vrnPlatform_fopen(a.c_str(), "wx"), nullptr);
    EXPECT_EQ(vrnPlatform_fopen(dir.file("missing").c_str(), "r"), nullptr);
    EXPECT_EQ(vrnPlatform_fopen(a.c_str(), "q"), nullptr);
    // A stream the platform did not make still answers its descriptor.
    FILE* plain = std::fopen(a.c_str(), "rb");
    EXPECT_EQ(vrnPlatform_streamFd(plain), fileno(plain));
    std::fclose(plain);
}

TEST(FileChangeHook, AStreamTurnedCountedKeepsItsPositionAndCountsItsWrites) {
    TempDir dir;
    const std::string a = dir.file("a");
    vrntest::writeFile(a, "0123456789");
    long long n = vrntest::countFileChanges([&] {
        FILE* plain = std::fopen(a.c_str(), "r+b");
        char two[2];
        if (std::fread(two, 1, 2, plain) != 2) return;
        FILE* counted = vrnPlatform_countWrites(plain);
        if (!counted || vrnPlatform_countWrites(counted) != counted) return;
        std::fputs("ab", counted);
        std::fflush(counted);
        std::fseek(counted, 0, SEEK_SET);
        if (std::fread(two, 1, 2, counted) != 2 || two[0] != '0') return;
        std::fclose(counted);
    });
    EXPECT_EQ(n, 1);
    EXPECT_EQ(vrntest::readFile(a), "01ab456789");
}

// A counted stream keeps the block it read last and serves seeks back into
// it from memory; every change through its descriptor must reach that block.
std::string readAt(FILE* f, long offset, size_t n) {
    std::string out(n, '\0');
    if (std::fseek(f, offset, SEEK_SET) != 0) return "<seek failed>";
    out.resize(std::fread(&out[0], 1, n, f));
    return out;
}

TEST(CountedStreams, ReadsAfterSeeksSeeEveryChangeMadeThroughTheDescriptor) {
    TempDir dir;
    const std::string a = dir.file("a");
    vrntest::writeFile(a, "0123456789abcdef");
    FILE* f = vrnPlatform_fopen(a.c_str(), "r+");
    ASSERT_NE(f, nullptr);
    const int fd = vrnPlatform_streamFd(f);
    EXPECT_EQ(readAt(f, 0, 4), "0123");  // the whole file is now the kept block

    // The stream's own write, inside the block.
    ASSERT_EQ(std::fseek(f, 4, SEEK_SET), 0);
    ASSERT_EQ(std::fwrite("WX", 1, 2, f), 2u);
    ASSERT_EQ(std::fflush(f), 0);
    EXPECT_EQ(readAt(f, 2, 6), "23WX67");

    // A positioned write around the stream, overlapping the block's end.
    ASSERT_EQ(vrnPlatform_pwrite(fd, "PQRS", 4, 14), 4);
    EXPECT_EQ(readAt(f, 12, 8), "cdPQRS");

    // A write at the descriptor's own offset (the stream never moves it).
    EXPECT_EQ(readAt(f, 0, 2), "01");
    ASSERT_EQ(vrnPlatform_writeFile(fd, "!", 1), 1);
    EXPECT_EQ(readAt(f, 0, 64), "!123WX6789abcdPQRS");

    // A truncation inside the block: nothing past the new end reads back.
    ASSERT_EQ(vrnPlatform_ftruncate(fd, 5), 0);
    EXPECT_EQ(readAt(f, 0, 8), "!123W");
    EXPECT_EQ(readAt(f, 6, 4), "");
    std::fclose(f);
}

TEST(CountedStreams, PositionsFollowSeeksFromEveryOriginAndAppendsGoToTheEnd) {
    TempDir dir;
    const std::string a = dir.file("a");
    vrntest::writeFile(a, "0123456789");
    FILE* f = vrnPlatform_fopen(a.c_str(), "r+");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fseek(f, -3, SEEK_END), 0);
    EXPECT_EQ(std::ftell(f), 7);
    char c = 0;
    ASSERT_EQ(std::fread(&c, 1, 1, f), 1u);
    EXPECT_EQ(c, '7');
    ASSERT_EQ(std::fseek(f, -5, SEEK_CUR), 0);
    ASSERT_EQ(std::fread(&c, 1, 1, f), 1u);
    EXPECT_EQ(c, '3');
    EXPECT_NE(std::fseek(f, -20, SEEK_CUR), 0);
    std::fclose(f);

    FILE* log = vrnPlatform_fopen(a.c_str(), "a+");
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(readAt(log, 0, 2), "01");
    ASSERT_EQ(std::fseek(log, 0, SEEK_SET), 0);
    ASSERT_GE(std::fputs("xy", log), 0);
    std::fclose(log);
    EXPECT_EQ(vrntest::readFile(a), "0123456789xy");
}

TEST(CrashPointsToTry, EveryPointUpToTheCapThenAnEvenSample) {
    EXPECT_EQ(vrntest::crashPointsToTry(3, 10), (std::vector<long long>{1, 2, 3}));
    auto sample = vrntest::crashPointsToTry(1000, 5);
    EXPECT_EQ(sample, (std::vector<long long>{1, 250, 500, 750, 1000}));
    EXPECT_TRUE(vrntest::crashPointsToTry(0, 10).empty());
}

TEST(CrashPointHelpers, FreshProcessReportsADeadCheck) {
    EXPECT_EQ(vrntest::runInFreshProcess([](std::string&) {}), "");
    EXPECT_EQ(vrntest::runInFreshProcess([](std::string& f) { f += "bad\n"; }), "bad\n");
    EXPECT_NE(vrntest::runInFreshProcess([](std::string&) { std::abort(); }), "");
}

}  // namespace
