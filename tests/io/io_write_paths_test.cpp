// Dataset writing takes one of three roads: small datasets are put together
// in memory and written with positioned writes, large ones go through the
// stream, and a stream without a file descriptor is written through stdio
// alone. Every road must leave the same bytes, the stream on "*CRASH" and
// the same recovery behaviour.
#include "io_test_util.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

using namespace kwxtest;
using vrntest::TempDir;

namespace {

int64_t locationOf(const std::string &line) { return kwx_atoi64(strrchr(line.c_str(), 27) + 1); }

// Writes a mix of formats, types and sizes, reading each dataset back right
// after it is written, with one write that fails part-way in the middle.
// Returns the index lines.
std::vector<std::string> writeMix(IO_file &rec) {
    std::vector<std::string> lines;
    std::mt19937 rng(17);
    auto put = [&](const char *fmt, Header &h, Data &in, int expect = 0) {
        int rc = write_dataset(captureRoutine, fmt, h.get(), in.get(), &rec);
        EXPECT_EQ(expect, rc) << fmt << " " << h.h.what;
        if (rc) return;
        int64_t pos = kwxTell64(rec.stream);
        // The stream stands on "*CRASH", where the next dataset goes.
        char tag[7] = {0};
        EXPECT_EQ(0, kwxSeek64(rec.stream, pos, 0));
        EXPECT_EQ(6u, fread(tag, 1, 6, rec.stream));
        EXPECT_STREQ("*CRASH", tag) << fmt << " " << h.h.what;
        rec.indexpos = pos;
        // Read it back before the next write.
        Header back("", "", 0, "", 0);
        Data out;
        out.size(0, in.counts[1], in.counts[2], in.counts[3], in.counts[4], in.counts[5], in.counts[6]);
        EXPECT_EQ(0, readAt(rec, locationOf(indexLines(rec).back()), back.get(), out.get()));
        EXPECT_STREQ(h.h.what, back.h.what);
        EXPECT_EQ(in.ints, out.ints);
        EXPECT_EQ(in.strings, out.strings);
    };
    {
        Data in;
        in.size(0, 0, 0, 10, 0, 0, 0);
        for (int i = 0; i < 10; ++i) in.ints[size_t(i)] = i * 1000003;
        Header h("text", "here", 1, "INTR", 10);
        *h.h.numattrb = 2;
        snprintf(h.h.attributes, 80, "units=m");
        snprintf(h.h.attributes + 80, 80, "second attribute");
        put("F", h, in);
    }
    {
        Data in;
        in.size(0, 0, 0, 250, 0, 0, 0);
        for (int i = 0; i < 250; ++i) in.ints[size_t(i)] = i % 13;
        Header h("blocks", "here", 2, "INTR", 250, 100);
        put("u5", h, in);
    }
    {
        Data in;
        in.size(0, 30, 0, 30, 0, 30, 0);
        for (int r = 0; r < 30; ++r) {
            in.ints[size_t(r)] = -r;
            in.doubles[size_t(r)] = r * 0.5;
            in.setString(r, "s" + std::to_string(r));
        }
        Header h("struct", "there", 3, "STRC{INTR:1 DBLE:1 STRI:4}", 30);
        put("l", h, in);
    }
    {
        // Fails after its format bytes: the name does not fit its record.
        Data in;
        in.size(0, 0, 0, 10, 0, 0, 0);
        Header h(std::string(76, 'n'), "here", 4, "INTR", 10);
        put("u", h, in, IO_ERR_WRITE);
    }
    {
        Data in;
        in.size(0, 5, 0, 0, 0, 0, 0);
        for (int r = 0; r < 5; ++r) in.setString(r, "string " + std::to_string(r));
        Header h("strings", "here", 5, "STRI:12", 5);
        put("u", h, in);
    }
    {
        Data in;
        in.size(0, 0, 0, 0, 0, 300, 0);
        for (auto &v : in.doubles) {
            uint64_t bits = (uint64_t(rng()) << 32) | rng();
            memcpy(&v, &bits, 8);
        }
        Header h("random", "here", 6, "DBLE", 300);
        put("l5", h, in);
    }
    {
        Data in;
        Header h("empty", "here", 7, "INTR", 0);
        put("F", h, in);
    }
    {
        Data in;
        in.size(0, 0, 0, 60, 0, 60, 0);
        for (auto &v : in.ints) v = int32_t(rng());
        for (auto &v : in.doubles) {
            uint64_t bits = (uint64_t(rng()) << 32) | rng();
            memcpy(&v, &bits, 8);
        }
        Header h("zstruct", "here", 8, "STRC{INTR:1 DBLE:1}", 60, 25);
        put("u5", h, in);
    }
    return indexLines(rec);
}

std::string writeMixToFile(const std::string &path) {
    std::vector<std::string> lines;
    {
        DataFile f(path);
        lines = writeMix(f.rec());
        EXPECT_EQ(7u, lines.size());
    }
    return vrntest::readFile(path);
}

}  // namespace

TEST(WritePaths, MemoryStreamAndStdioOnlyWritesLeaveTheSameBytes) {
    TempDir dir;
    std::string assembled = writeMixToFile(dir.file("memory.kwx"));
    kwxIoSetAssembleLimit(-1);
    std::string streamed = writeMixToFile(dir.file("stream.kwx"));
    kwxIoSetAssembleLimit(4 << 20);
    EXPECT_EQ(assembled.size(), streamed.size());
    EXPECT_TRUE(assembled == streamed) << "the stream road writes other bytes";

    // A stream with no descriptor of its own.
    std::vector<char> buffer(1 << 20);
    IO_file rec{};
    rec.routine = captureRoutine;
    rec.offsetwidth = 20;
    rec.openmode = 'w';
    rec.stream = fmemopen(buffer.data(), buffer.size(), "w+");
    ASSERT_NE(nullptr, rec.stream);
    ASSERT_LT(fileno(rec.stream), 0);
    std::string info = infoBlock();
    ASSERT_EQ(info.size(), fwrite(info.data(), 1, info.size(), rec.stream));
    rec.indexpos = int64_t(info.size());
    ASSERT_EQ(0, indextable_alloc(&rec));
    writeMix(rec);
    ASSERT_EQ(0, fseek(rec.stream, 0, SEEK_END));
    long size = ftell(rec.stream);
    fflush(rec.stream);
    std::string viaStdio(buffer.data(), size_t(size));
    filerec_release(&rec);
    EXPECT_EQ(assembled.size(), viaStdio.size());
    EXPECT_TRUE(assembled == viaStdio) << "the stdio road writes other bytes";

    // The abort left "*CRASH" at its start, which the next dataset overwrote.
    EXPECT_EQ(std::string::npos, assembled.find(std::string(76, 'n')));
    EXPECT_EQ("*CRASH", assembled.substr(assembled.size() - 6));
}

TEST(WritePaths, KilledWriterKeepsDatasetsOfEveryRoad) {
    TempDir dir;
    std::string path = dir.file("kill.kwx");
    const int big = 1200000;   // 4.8 MB of integers: written through the stream
    auto child = vrntest::runInChild([&] {
        DataFile f(path);
        Data small, large;
        small.size(0, 0, 0, 10, 0, 0, 0);
        large.size(0, 0, 0, big, 0, 0, 0);
        for (int i = 0; i < big; ++i) large.ints[size_t(i)] = i;
        Header a("small", "w", 1, "INTR", 10), b("large", "w", 2, "INTR", big), c("last", "w", 3, "INTR", 10);
        if (f.write("u", a.get(), small.get()) || f.write("u", b.get(), large.get()) ||
            f.write("F", c.get(), small.get()))
            return 1;
        raise(SIGKILL);
        return 2;
    });
    ASSERT_EQ(SIGKILL, child.termSignal);
    DataFile f(path, false);
    ASSERT_EQ(0, f.openResult());
    std::vector<std::string> lines = indexLines(f.rec());
    ASSERT_EQ(3u, lines.size());
    Header h("", "", 0, "", 0);
    Data d;
    d.size(0, 0, 0, big, 0, 0, 0);
    ASSERT_EQ(0, readAt(f.rec(), locationOf(lines[1]), h.get(), d.get()));
    EXPECT_STREQ("large", h.h.what);
    EXPECT_EQ(big - 1, d.ints[size_t(big - 1)]);
    ASSERT_EQ(0, readAt(f.rec(), locationOf(lines[2]), h.get(), d.get()));
    EXPECT_STREQ("last", h.h.what);
}
