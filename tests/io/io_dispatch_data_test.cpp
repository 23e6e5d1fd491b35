// The data-file layout and crash recovery as a caller of iocntc sees them.
#include "file_fixture.h"
#include "io_test_util.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>

using vrntest::TempDir;

TEST(DispatchLayout, NewFileStartsWithTheInfoBlockAndDefaultsToU5) {
    TempDir dir;
    std::string path = dir.file("new.kwx");
    iotest::Client c;
    ASSERT_EQ(0, c.open(path));
    EXPECT_EQ(kwxtest::infoBlock(), vrntest::readFile(path));
    EXPECT_EQ(36u, kwxtest::infoBlock().size());
    unsetenv("KWX_FORMAT");
    ASSERT_EQ(0, c.writeInts("a", "b", 0, std::vector<int32_t>(150, 7)));
    EXPECT_EQ(std::string("u5\n"), vrntest::readFile(path).substr(36, 3));
    setenv("KWX_FORMAT", "X5", 1);
    int64_t next = int64_t(vrntest::readFile(path).rfind("*CRASH"));
    ASSERT_EQ(0, c.writeInts("a", "c", 0, {1, 2, 3}));
    EXPECT_EQ(std::string("F\0\n", 3), vrntest::readFile(path).substr(size_t(next), 3))
        << "a deletion letter in KWX_FORMAT falls back to text";
    unsetenv("KWX_FORMAT");
    ASSERT_EQ(0, c.close());
    iotest::Client r;
    ASSERT_EQ(0, r.open(path));
    std::vector<int32_t> v;
    ASSERT_EQ(0, r.readInts("a", "c", 0, v));
    EXPECT_EQ((std::vector<int32_t>{1, 2, 3}), v);
}

TEST(DispatchRecovery, KilledWriterLeavesDataThatReopeningFinds) {
    TempDir dir;
    std::string path = dir.file("crash.kwx");
    auto child = vrntest::runInChild([&] {
        iotest::Client c;
        if (c.open(path) != 0) return 1;
        for (int i = 0; i < 3; ++i)
            if (c.writeInts("ds" + std::to_string(i), "where", i, std::vector<int32_t>(120, i)) != 0) return 2;
        raise(SIGKILL);
        return 3;
    });
    ASSERT_EQ(SIGKILL, child.termSignal);
    EXPECT_EQ(-1, iotest::lockValue(path)) << "the dead writer still holds the file";
    ASSERT_EQ(0, std::remove((path + ".lck").c_str()));
    {
        iotest::Client c;
        ASSERT_EQ(0, c.open(path));
        for (int i = 0; i < 3; ++i) {
            std::vector<int32_t> v;
            ASSERT_EQ(0, c.readInts("ds" + std::to_string(i), "where", i, v)) << i;
            EXPECT_EQ(std::vector<int32_t>(120, i), v);
        }
        size_t crashAt = vrntest::readFile(path).rfind("*CRASH");
        ASSERT_NE(std::string::npos, crashAt);
        ASSERT_EQ(0, c.writeInts("ds3", "where", 3, {3}));
        iotest::Data found;
        ASSERT_EQ(0, c.locate("ds3", "where", 3, found));
        EXPECT_EQ(int64_t(crashAt), found.offsets[0]) << "the next write overwrites *CRASH";
        ASSERT_EQ(0, c.close());
    }
    EXPECT_EQ(std::string::npos, vrntest::readFile(path).find("*CRASH"));
    iotest::Client again;
    ASSERT_EQ(0, again.open(path));
    EXPECT_EQ((std::vector<int32_t>{0}), again.whens("ds0", "where", -1));
    EXPECT_EQ((std::vector<int32_t>{3}), again.whens("ds3", "*", -1));
}

TEST(DispatchRobustness, DamagedFilesOpenLocateAndReadWithErrorCodesOnly) {
    TempDir dir;
    std::string path = dir.file("fuzz.kwx");
    {
        iotest::Client c;
        ASSERT_EQ(0, c.open(path));
        for (int i = 0; i < 4; ++i)
            ASSERT_EQ(0, c.writeInts("w" + std::to_string(i), "x", i, std::vector<int32_t>(i * 60 + 1, i)));
        ASSERT_EQ(0, c.close());
    }
    const std::string good = vrntest::readFile(path);
    unsigned state = 2463534242u;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    for (int iter = 0; iter < 600; ++iter) {
        std::string bytes = good;
        size_t at = next() % bytes.size();
        if (iter % 5 == 4)
            bytes.resize(at);
        else
            bytes[at] = static_cast<char>(next());
        vrntest::writeFile(path, bytes);
        std::remove((path + ".lck").c_str());
        iotest::Client c;
        int rc = c.open(path);
        ASSERT_GE(rc, 0);
        ASSERT_LE(rc, 28);
        if (rc != 0) continue;
        iotest::Data found;
        rc = c.locate("*", "*", -1, found);
        ASSERT_GE(rc, 0);
        ASSERT_LE(rc, 28);
        if (rc != 0) continue;
        for (int k = 0; k < found.nints; ++k) {
            iotest::Header h;
            iotest::Data d;
            d.offsets = {found.offsets[size_t(2 * k)], found.offsets[size_t(2 * k + 1)]};
            d.noffsets = 2;
            d.ints.assign(400, 0);
            d.nints = 400;
            d.bind();
            rc = c.request(IO_READ_DS, h, d);
            ASSERT_GE(rc, 0) << iter;
            ASSERT_LE(rc, 28) << iter;
        }
    }
}
