// Crash safety and index recovery: writers that die, interrupted writes,
// deleted datasets, old indexes in the middle of a file, and damaged files
// that must give error codes rather than crashes.
#include "io_test_util.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cinttypes>
#include <random>
#include <string>

using namespace kwxtest;
using vrntest::TempDir;

namespace {

int64_t locationOf(const std::string &line) {
    const char *sep = strrchr(line.c_str(), 27);
    return sep ? kwx_atoi64(sep + 1) : -1;
}

int writeNamed(DataFile &f, const char *fmt, const std::string &what, int when, int n = 10) {
    Data in;
    in.size(0, 0, 0, n, 0, 0, 0);
    for (int i = 0; i < n; ++i) in.ints[size_t(i)] = i + when;
    Header h(what, "where", when, "INTR", n);
    return f.write(fmt, h.get(), in.get());
}

std::vector<std::string> whats(const IO_file &rec) {
    std::vector<std::string> out;
    for (const auto &l : indexLines(rec)) {
        if (l[0] != 'Y') continue;
        size_t a = l.find('\x1b') + 1;
        out.push_back(l.substr(a, l.find('\x1b', a) - a));
    }
    return out;
}

// Writes the deletion mark of a dataset over its format bytes.
void markDeleted(const std::string &path, int64_t at, char c0, char c1) {
    std::string bytes = vrntest::readFile(path);
    bytes[size_t(at)] = c0;
    bytes[size_t(at) + 1] = c1;
    vrntest::writeFile(path, bytes);
}

}  // namespace

TEST(Recovery, WriterKilledWithoutClosingLosesNothing) {
    TempDir dir;
    std::string path = dir.file("crash.kwx");
    auto child = vrntest::runInChild([&] {
        DataFile f(path);
        for (int i = 0; i < 3; ++i)
            if (writeNamed(f, i == 1 ? "F" : "u5", "ds" + std::to_string(i), i, 200) != 0) return 1;
        raise(SIGKILL);
        return 2;
    });
    ASSERT_EQ(SIGKILL, child.termSignal);
    std::string before = vrntest::readFile(path);
    ASSERT_EQ("*CRASH", before.substr(before.size() - 6)) << "a dataset is followed by the crash tag";
    messages().clear();
    {
        DataFile f(path, false);
        ASSERT_EQ(0, f.openResult());
        EXPECT_TRUE(anyMessageContains("file was not closed correctly"));
        EXPECT_EQ((std::vector<std::string>{"ds0", "ds1", "ds2"}), whats(f.rec()));
        EXPECT_EQ(int64_t(before.size() - 6), f.rec().indexpos) << "next write goes over *CRASH";
        for (const auto &line : indexLines(f.rec())) {
            Header h("", "", 0, "", 0);
            Data d;
            d.size(0, 0, 0, 200, 0, 0, 0);
            ASSERT_EQ(0, readAt(f.rec(), locationOf(line), h.get(), d.get()));
            EXPECT_EQ(*h.h.when + 199, d.ints[199]);
        }
        ASSERT_EQ(0, writeNamed(f, "u", "ds3", 3));
        ASSERT_EQ(0, f.flush());
    }
    std::string after = vrntest::readFile(path);
    EXPECT_EQ(std::string::npos, after.find("*CRASH")) << "overwritten, then replaced by the index";
    DataFile g(path, false);
    ASSERT_EQ(0, g.openResult());
    EXPECT_EQ(4, g.rec().nlines);
}

TEST(Recovery, WriteInterruptedAfterItsFormatBytesLeavesNothingVisible) {
    TempDir dir;
    std::string path = dir.file("int.kwx");
    DataFile f(path);
    ASSERT_EQ(0, writeNamed(f, "u5", "first", 1));
    int64_t next = f.rec().indexpos;
    messages().clear();
    // A name too long for its header record fails after the format bytes
    // and the length are written.
    EXPECT_EQ(IO_ERR_WRITE, writeNamed(f, "u5", std::string(76, 'n'), 2));
    EXPECT_EQ(next, f.rec().indexpos);
    EXPECT_EQ(1, f.rec().nlines);
    std::string bytes = vrntest::readFile(path);
    EXPECT_EQ("*CRASH", bytes.substr(size_t(next), 6)) << "the partial dataset is cut off";
    {
        IO_file rec{};
        rec.stream = fopen(path.c_str(), "rb");
        rec.offsetwidth = 20;
        ASSERT_EQ(0, recreate_indextable(captureRoutine, &rec));
        EXPECT_EQ(std::vector<std::string>{"first"}, whats(rec));
        EXPECT_EQ(next, rec.indexpos);
        filerec_release(&rec);
    }
    ASSERT_EQ(0, writeNamed(f, "u5", "second", 2));
    EXPECT_EQ(next, locationOf(indexLines(f.rec())[1])) << "the next write lands at the same offset";
}

TEST(Recovery, ZeroLeadingLengthEndsTheScanOnlyAtTheEndOfWhatWasWritten) {
    // b's length 0: whole datasets follow, so it is damage and c is found;
    // c's length 0: nothing follows, an interrupted write that ends the scan.
    for (bool last : {false, true}) {
        TempDir dir;
        std::string path = dir.file("zero.kwx");
        int64_t second = 0, third = 0;
        {
            DataFile f(path);
            ASSERT_EQ(0, writeNamed(f, "F", "a", 1));
            second = f.rec().indexpos;
            ASSERT_EQ(0, writeNamed(f, "F", "b", 2));
            third = f.rec().indexpos;
            ASSERT_EQ(0, writeNamed(f, "F", "c", 3));
        }
        std::string bytes = vrntest::readFile(path);
        bytes.replace(size_t(last ? third : second) + 3, 20, std::string(19, ' ') + "0");
        if (last) bytes.resize(bytes.find("*ENDDATASET", size_t(third)));
        vrntest::writeFile(path, bytes);
        messages().clear();
        IO_file rec{};
        rec.stream = fopen(path.c_str(), "rb");
        rec.offsetwidth = 20;
        ASSERT_EQ(0, recreate_indextable(captureRoutine, &rec));
        if (last) {
            EXPECT_EQ((std::vector<std::string>{"a", "b"}), whats(rec));
            EXPECT_EQ(third, rec.indexpos);
            EXPECT_TRUE(anyMessageContains("dataset length of zero in dataset c:where:3 at offset"));
        } else {
            EXPECT_EQ((std::vector<std::string>{"a", "c"}), whats(rec));
            EXPECT_TRUE(anyMessageContains("damage, not an interrupted write"));
        }
        filerec_release(&rec);
    }
}

TEST(Recovery, WriteCutShortInsideItsLengthFieldEndsTheScan) {
    // A dataset write that stopped inside its leading length field (the disk
    // filled up, or the writer died half way through its first write) leaves
    // the file ending there: the datasets before it are all kept.
    TempDir dir;
    for (const char *fmt : {"F", "u5", "l"}) {
        char fieldFormat[3] = {fmt[0], fmt[1], 0};
        char zero[IO_OFFSET_FIELD_MAX];
        int fieldBytes = 0;
        ASSERT_EQ(0, kwxEncodeOffset(captureRoutine, fieldFormat, 0, 20, zero, &fieldBytes));
        for (int cut = 0; cut < fieldBytes; ++cut) {
            std::string path = dir.file(std::string("cut") + fmt + std::to_string(cut) + ".kwx");
            int64_t end = 0;
            {
                DataFile f(path);
                ASSERT_EQ(0, writeNamed(f, fmt, "a", 1));
                ASSERT_EQ(0, writeNamed(f, fmt, "b", 2));
                end = f.rec().indexpos;
            }
            std::string bytes = vrntest::readFile(path).substr(0, size_t(end));
            bytes += std::string{fmt[0], fmt[1] ? fmt[1] : '\0', '\n'} + std::string(zero, size_t(cut));
            vrntest::writeFile(path, bytes);
            messages().clear();
            IO_file rec{};
            rec.stream = fopen(path.c_str(), "rb");
            rec.offsetwidth = 20;
            EXPECT_EQ(0, recreate_indextable(captureRoutine, &rec)) << fmt << " cut " << cut;
            EXPECT_EQ((std::vector<std::string>{"a", "b"}), whats(rec)) << fmt << " cut " << cut;
            EXPECT_EQ(end, rec.indexpos) << fmt << " cut " << cut;
            filerec_release(&rec);
        }
    }
}

TEST(Recovery, DeletedDatasetsOfEveryMarkAreSkipped) {
    TempDir dir;
    std::string path = dir.file("del.kwx");
    std::vector<int64_t> at;
    {
        DataFile f(path);
        const char *fmts[] = {"F", "u5", "l", "l5", "u", "F", "u"};
        for (int i = 0; i < 7; ++i) {
            at.push_back(f.rec().indexpos);
            ASSERT_EQ(0, writeNamed(f, fmts[i], "d" + std::to_string(i), i, 150));
        }
        at.push_back(f.rec().indexpos);
    }
    // A big-endian L dataset without level, appended by hand.
    std::string bytes = vrntest::readFile(path);
    bytes.resize(size_t(at.back()));
    BinBuilder d(true, 8);
    d.i32(7);
    bytes += BinBuilder::dataset('L', 0, "d7", "where", 7, "INTR", 1, d.s);
    at.push_back(int64_t(bytes.size()));
    bytes += BinBuilder::dataset('U', 0, "d8", "where", 8, "INTR", 1, BinBuilder(true, 4).s + std::string("\0\0\0\1", 4));
    vrntest::writeFile(path, bytes);
    markDeleted(path, at[0], 'D', 'F');
    markDeleted(path, at[1], 'D', char('5' | 0x80));
    markDeleted(path, at[2], 'x', 'l');
    markDeleted(path, at[3], 'x', char('5' | 0x80));
    markDeleted(path, at[4], 'D', 0);   // old-style mark on a u dataset
    markDeleted(path, at[5], 'D', 0);   // old-style mark on an F dataset
    markDeleted(path, at[7], 'X', 'L');
    IO_file rec{};
    rec.stream = fopen(path.c_str(), "rb");
    rec.offsetwidth = 20;
    ASSERT_EQ(0, recreate_indextable(captureRoutine, &rec));
    EXPECT_EQ((std::vector<std::string>{"d6", "d8"}), whats(rec));
    filerec_release(&rec);
    // A deleted dataset whose two lengths disagree in every layout cannot be
    // stepped over by its lengths: the scan goes on at the next whole
    // dataset after it and says so.
    std::string broken = vrntest::readFile(path);
    broken[size_t(at[6]) + 3] ^= 1;
    broken[size_t(at[6])] = 'D';
    broken[size_t(at[6]) + 1] = 'u';
    vrntest::writeFile(path, broken);
    rec = IO_file{};
    rec.stream = fopen(path.c_str(), "rb");
    rec.offsetwidth = 20;
    messages().clear();
    EXPECT_EQ(0, recreate_indextable(captureRoutine, &rec));
    EXPECT_EQ((std::vector<std::string>{"d8"}), whats(rec));
    EXPECT_TRUE(anyMessageContains("to the next whole dataset at offset " + std::to_string(at[7])));
    filerec_release(&rec);
}

TEST(Recovery, OldIndexInTheMiddleIsSkipped) {
    TempDir dir;
    std::string path = dir.file("old.kwx");
    {
        DataFile f(path);
        ASSERT_EQ(0, writeNamed(f, "u", "a", 1));
        ASSERT_EQ(0, f.flush());
        ASSERT_EQ(0, kwxSeek64(f.rec().stream, 0, 2));
        f.rec().indexpos = kwxTell64(f.rec().stream);
        ASSERT_EQ(0, writeNamed(f, "u", "b", 2));
    }
    IO_file rec{};
    rec.stream = fopen(path.c_str(), "rb");
    rec.offsetwidth = 20;
    ASSERT_EQ(0, recreate_indextable(captureRoutine, &rec));
    EXPECT_EQ((std::vector<std::string>{"a", "b"}), whats(rec));
    filerec_release(&rec);
}

TEST(Recovery, ALineEndDamagedInATextLengthNeverTakesTheWalkPastAWholeDataset) {
    // a, b, an old index, c, x (deleted) and d, all text. A trailing length
    // or position line whose line end is damaged was read on into the next
    // item's format bytes, and the walk went on inside it, past its start.
    TempDir dir;
    std::string path = dir.file("nl.kwx");
    std::vector<int64_t> end;   // where a, the old index, x end
    {
        DataFile f(path);
        ASSERT_EQ(0, writeNamed(f, "F", "a", 1));
        end.push_back(f.rec().indexpos);
        ASSERT_EQ(0, writeNamed(f, "F", "b", 2));
        ASSERT_EQ(0, f.flush());
        ASSERT_EQ(0, kwxSeek64(f.rec().stream, 0, 2));
        f.rec().indexpos = kwxTell64(f.rec().stream);
        end.push_back(f.rec().indexpos);
        ASSERT_EQ(0, writeNamed(f, "F", "c", 3));
        const int64_t x = f.rec().indexpos;
        ASSERT_EQ(0, writeNamed(f, "F", "x", 4));
        end.push_back(f.rec().indexpos);
        ASSERT_EQ(0, writeNamed(f, "F", "d", 5));
        markDeleted(path, x, 'D', 'F');
    }
    const std::string good = vrntest::readFile(path);
    const std::vector<std::string> kept[] = {{"b", "c", "d"}, {"a", "b", "c", "d"}, {"a", "b", "c", "d"}};
    for (size_t k = 0; k < end.size(); ++k) {
        for (char to : {'x', '\xff'}) {
            std::string bytes = good;
            ASSERT_EQ('\n', bytes[size_t(end[k]) - 1]);
            bytes[size_t(end[k]) - 1] = to;
            vrntest::writeFile(path, bytes);
            IO_file rec{};
            rec.stream = fopen(path.c_str(), "rb");
            rec.offsetwidth = 20;
            EXPECT_EQ(0, recreate_indextable(captureRoutine, &rec));
            EXPECT_EQ(kept[k], whats(rec)) << k;
            filerec_release(&rec);
        }
    }
}

// Opens a damaged file as a reader would and reads every dataset its index
// lists; returns false when something could not be done without an error
// code. The checks that matter here are those of the sanitizers: no crash,
// no hang, no bad memory access.
static void openAndReadAll(const std::string &path) {
    DataFile f(path, false);
    if (f.openResult() != 0 || !f.rec().stream) return;
    for (const auto &line : indexLines(f.rec())) {
        Header h("", "", 0, "", 0);
        Data d;
        d.size(4, 64, 512, 512, 512, 512, 512);
        int rc = readAt(f.rec(), locationOf(line), h.get(), d.get());
        EXPECT_GE(rc, 0);
        EXPECT_LE(rc, 28);
    }
}

TEST(Recovery, DatasetsWhoseNamesCannotBeIndexedAreLeftOut) {
    // Binary headers can hold any byte. A name with ESC or a line end, or an
    // empty one, would split into the wrong fields of its index line (its
    // location read from another field), so the rebuild leaves it out and
    // goes on.
    TempDir dir;
    std::string path = dir.file("names.kwx");
    std::string file = infoBlock();
    std::vector<int64_t> at;
    BinBuilder one(false, 4);
    one.i32(7);
    for (const std::string &what : {std::string("a\x1b" "b"), std::string("c"), std::string("d\ne"),
                                    std::string(""), std::string("f")}) {
        at.push_back(int64_t(file.size()));
        file += BinBuilder::dataset('u', 0, what, "x", 1, "INTR", 1, one.s);
    }
    vrntest::writeFile(path, file);
    IO_file rec{};
    rec.stream = fopen(path.c_str(), "rb");
    rec.offsetwidth = 20;
    messages().clear();
    ASSERT_EQ(0, recreate_indextable(captureRoutine, &rec));
    EXPECT_EQ((std::vector<std::string>{"c", "f"}), whats(rec));
    std::vector<int64_t> locations;
    for (const auto &l : indexLines(rec)) locations.push_back(locationOf(l));
    EXPECT_EQ((std::vector<int64_t>{at[1], at[4]}), locations);
    EXPECT_TRUE(anyMessageContains("recreate_indextable: dataset at offset 36 has an empty name or one holding "
                                   "a line end or ESC, not indexed"));
    EXPECT_EQ(int64_t(file.size()), rec.indexpos);
    filerec_release(&rec);

    // The index stored after such a rebuild, which leaves out datasets whose
    // WHERE is empty or holds a line end, is believed by the next open: what
    // no rebuild indexes is no line that it lacks.
    std::string wheres = infoBlock();
    for (const auto &name : {std::make_pair("c", ""), std::make_pair("d", "x\ry"), std::make_pair("f", "x")})
        wheres += BinBuilder::dataset('u', 0, name.first, name.second, 1, "INTR", 1, one.s);
    vrntest::writeFile(path, wheres);
    {
        DataFile rebuilt(path, false);
        ASSERT_EQ(0, rebuilt.openResult());
        ASSERT_EQ(0, rebuilt.flush());
    }
    IO_file stored{};
    stored.stream = fopen(path.c_str(), "rb");
    stored.offsetwidth = 20;
    EXPECT_EQ(0, create_indextable(captureRoutine, &stored));
    EXPECT_EQ(std::vector<std::string>{"f"}, whats(stored));
    filerec_release(&stored);
}

TEST(Robustness, MalformedFilesGiveErrorCodes) {
    TempDir dir;
    std::string path = dir.file("m.kwx");
    {
        DataFile f(path);
        ASSERT_EQ(0, writeNamed(f, "u", "a", 1));
        ASSERT_EQ(0, f.flush());
    }
    const std::string good = vrntest::readFile(path);
    auto reread = [&](const std::string &bytes) {
        vrntest::writeFile(path, bytes);
        IO_file rec{};
        rec.stream = fopen(path.c_str(), "rb");
        rec.offsetwidth = 20;
        rec.routine = captureRoutine;
        Header h("", "", 0, "", 0);
        Data d;
        d.size(0, 0, 0, 10, 0, 0, 0);
        int rc = readAt(rec, 36, h.get(), d.get());
        int rebuild = recreate_indextable(captureRoutine, &rec);
        filerec_release(&rec);
        return std::make_pair(rc, rebuild);
    };
    EXPECT_EQ(0, reread(good).first);
    auto patchRecord = [&](const std::string &key, const std::string &value) {
        std::string b = good;
        size_t at = b.find(key + "\x1b");
        int32_t oldLen;
        memcpy(&oldLen, &b[at - 4], 4);
        std::string rec = key + "\x1b" + value;
        int32_t len = int32_t(rec.size());
        b.replace(at - 4, size_t(oldLen) + 4, std::string(reinterpret_cast<char *>(&len), 4) + rec);
        return b;
    };
    EXPECT_EQ(IO_ERR_PARSE, reread(patchRecord("NUMATTRB", "21")).first) << "attribute count above 20";
    EXPECT_EQ(IO_ERR_PARSE, reread(patchRecord("NUMATTRB", "-1")).first);
    // Header string lengths that are negative or run past the file.
    for (int32_t bad : {-1, 1 << 30, 81}) {
        std::string b = good;
        size_t at = b.find("WHAT\x1b") - 4;
        memcpy(&b[at], &bad, 4);
        EXPECT_NE(0, reread(b).first) << bad;
    }
    // Leading lengths that are negative or beyond the file.
    for (int32_t bad : {-100, INT32_MAX}) {
        std::string b = good;
        memcpy(&b[39], &bad, 4);
        auto r = reread(b);
        EXPECT_EQ(IO_ERR_BADFILE, r.first) << bad;
        EXPECT_EQ(0, r.second) << bad << ": the rebuild stops there";
    }
    // A record count far beyond the data and the caller's arrays.
    EXPECT_EQ(IO_ERR_MEMORY, reread(patchRecord("NUMBER", "2000000000")).first);
    // Unknown tags and truncation.
    std::string tag = good;
    tag.replace(43, 8, "*DATAXXX");
    EXPECT_EQ(IO_ERR_BADFILE, reread(tag).first);
    EXPECT_EQ(0, reread(tag).second);
    for (size_t cut : {size_t(37), size_t(45), good.size() / 2}) EXPECT_NE(0, reread(good.substr(0, cut)).first);
}

TEST(Robustness, RandomSingleByteCorruptionsNeverCrash) {
    TempDir dir;
    std::string path = dir.file("fuzz.kwx");
    {
        DataFile f(path);
        ASSERT_EQ(0, writeNamed(f, "F", "text", 1, 20));
        ASSERT_EQ(0, writeNamed(f, "u5", "packed", 2, 300));
        ASSERT_EQ(0, writeNamed(f, "l", "wide", 3, 5));
        Data s;
        s.size(0, 8, 0, 8, 0, 8, 0);
        for (int i = 0; i < 8; ++i) s.setString(i, "s" + std::to_string(i));
        Header h("struct", "where", 4, "STRC{INTR:1 STRI:6 DBLE:1}", 8);
        ASSERT_EQ(0, f.write("u5", h.get(), s.get()));
        Header t("struct", "text", 5, "STRC{INTR:1 STRI:6 DBLE:1}", 8);
        ASSERT_EQ(0, f.write("F", t.get(), s.get()));
        ASSERT_EQ(0, f.flush());
    }
    const std::string good = vrntest::readFile(path);
    std::mt19937 rng(12345);
    for (int iter = 0; iter < 2500; ++iter) {
        std::string bytes = good;
        size_t at = rng() % bytes.size();
        switch (iter % 4) {
        case 0: bytes[at] = static_cast<char>(rng()); break;
        case 1: bytes[at] ^= static_cast<char>(1u << (rng() % 8)); break;
        case 2: bytes[at] = "0123456789-* \n\x1b" "FuUlLDX"[rng() % 22]; break;
        default: bytes.resize(at); break;
        }
        vrntest::writeFile(path, bytes);
        openAndReadAll(path);
        if (HasFailure()) {
            ADD_FAILURE() << "iteration " << iter << " byte " << at;
            break;
        }
    }
}
