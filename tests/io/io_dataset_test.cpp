// The data-file layout byte for byte, header records, and the index table.
#include "io_test_util.h"
#include "file_fixture.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cinttypes>
#include <climits>
#include <string>

using namespace kwxtest;
using vrntest::TempDir;

namespace {

const std::string E(1, '\x1b');

std::string textRecord(const std::string &s, size_t cap) { return s + std::string(cap - s.size(), ' ') + "\n"; }
std::string field20(int64_t v) {
    char b[32];
    snprintf(b, sizeof b, "%20" PRId64 "\n", v);
    return b;
}

// Reads binary values from a string in this machine's order.
struct Reader {
    const std::string &s;
    size_t p = 0;
    int32_t i32() {
        int32_t v;
        memcpy(&v, s.data() + p, 4);
        p += 4;
        return v;
    }
    std::string take(size_t n) {
        std::string r = s.substr(p, n);
        p += n;
        return r;
    }
    std::string record() { return take(size_t(i32())); }
};

}  // namespace

TEST(Layout, TextDatasetWithNumberZeroByteForByte) {
    TempDir dir;
    std::string path = dir.file("f.kwx");
    {
        DataFile f(path);
        Header h("a", "b", 0, "INTR", 0);
        Data none;
        ASSERT_EQ(0, f.write("F", h.get(), none.get()));
    }
    std::string body = "*DATASET\n" + textRecord("*HEADER", 7) + textRecord("WHAT" + E + "a", 80) +
                       textRecord("WHERE" + E + "b", 80) + textRecord("WHEN" + E + "0", 80) +
                       textRecord("NUMATTRB" + E + "0", 80) + textRecord("DATATYPE" + E + "INTR", 256) +
                       textRecord("NUMBER" + E + "0", 80) + textRecord("BLOCKFACTOR" + E + "1", 80) +
                       "*ENDDATASET\n";
    ASSERT_EQ(772u, body.size());
    std::string expected = infoBlock() + std::string("F\0\n", 3) + field20(772) + body + field20(772) + "*CRASH\n";
    EXPECT_EQ(expected, vrntest::readFile(path));
}

TEST(Layout, CompressedDatasetIsWrittenInBlocksOfTheBlockFactor) {
    TempDir dir;
    std::string path = dir.file("u5.kwx");
    Data in;
    in.size(0, 0, 0, 250, 0, 0, 0);
    for (int i = 0; i < 250; ++i) in.ints[size_t(i)] = i;
    {
        DataFile f(path);
        Header h("what", "where", 3, "INTR", 250, 100);
        ASSERT_EQ(0, f.write("u5", h.get(), in.get()));
        EXPECT_EQ(1, f.rec().nlines);
    }
    std::string bytes = vrntest::readFile(path);
    Reader r{bytes, 36};
    EXPECT_EQ(std::string("u5\n"), r.take(3));
    int32_t dslength = r.i32();
    size_t start = r.p;
    EXPECT_EQ("*DATASET", r.take(8));
    EXPECT_EQ("*HEADER", r.record());
    EXPECT_EQ("WHAT" + E + "what", r.record());
    EXPECT_EQ("WHERE" + E + "where", r.record());
    EXPECT_EQ("WHEN" + E + "3", r.record());
    EXPECT_EQ("NUMATTRB" + E + "0", r.record());
    EXPECT_EQ("DATATYPE" + E + "INTR", r.record());
    EXPECT_EQ("NUMBER" + E + "250", r.record());
    EXPECT_EQ("BLOCKFACTOR" + E + "100", r.record());
    EXPECT_EQ(5, r.i32());
    EXPECT_EQ("*DATA", r.take(5));
    for (int block = 0; block < 2; ++block) {
        int32_t len = r.i32();
        ASSERT_GT(len, 0);
        std::string z = r.take(size_t(len));
        std::vector<int32_t> out(100);
        uLongf n = 400;
        ASSERT_EQ(Z_OK, uncompress(reinterpret_cast<Bytef *>(out.data()), &n, reinterpret_cast<const Bytef *>(z.data()), uLong(len)));
        EXPECT_EQ(400u, n);
        EXPECT_EQ(block * 100 + 99, out[99]);
    }
    std::string plain = r.take(200);
    EXPECT_EQ(0, memcmp(plain.data(), in.ints.data() + 200, 200)) << "the last 50 records are below the threshold";
    EXPECT_EQ("*ENDDATASET", r.take(11));
    EXPECT_EQ(int32_t(r.p - start), dslength);
    EXPECT_EQ(dslength, r.i32());
    EXPECT_EQ("*CRASH", r.take(6));
}

TEST(Layout, BigEndianDatasetsBuiltByHandReadRight) {
    TempDir dir;
    std::string path = dir.file("be.kwx");
    std::string file = infoBlock();
    std::vector<int64_t> at;
    {  // U integers
        BinBuilder d(true, 4);
        for (int32_t v : {1, -2, 0x01020304}) d.i32(v);
        at.push_back(int64_t(file.size()));
        file += BinBuilder::dataset('U', 0, "ints", "here", 1, "INTR", 3, d.s);
    }
    {  // L floats
        BinBuilder d(true, 8);
        d.f32(1.5f);
        d.f32(-2.25f);
        at.push_back(int64_t(file.size()));
        file += BinBuilder::dataset('L', 0, "reals", "here", 2, "REAL", 2, d.s);
    }
    {  // U doubles
        BinBuilder d(true, 4);
        d.f64(3.5);
        d.f64(1e300);
        at.push_back(int64_t(file.size()));
        file += BinBuilder::dataset('U', 0, "dbles", "here", 3, "DBLE", 2, d.s);
    }
    {  // L structure, plain: records packed then zero-filled to 2 x 332 bytes
        BinBuilder d(true, 8);
        for (int r = 0; r < 2; ++r) {
            d.i32(10 + r);
            d.f64(0.5 + r);
            d.bytes(r ? std::string("xy\0\0", 4) : std::string("abcd"));
        }
        d.s.append(2 * 332 - d.s.size(), '\0');
        at.push_back(int64_t(file.size()));
        file += BinBuilder::dataset('L', 0, "struct", "here", 4, "STRC{INTR:1 DBLE:1 STRI:4}", 2, d.s);
    }
    std::vector<int32_t> ints(150);
    for (int i = 0; i < 150; ++i) ints[size_t(i)] = i * 3 - 7;
    {  // U5 compressed integers: the stream holds big-endian items
        BinBuilder items(true, 4);
        for (int32_t v : ints) items.i32(v);
        std::vector<Bytef> z(compressBound(uLong(items.s.size())));
        uLongf zl = uLongf(z.size());
        ASSERT_EQ(Z_OK, compress2(z.data(), &zl, reinterpret_cast<const Bytef *>(items.s.data()), uLong(items.s.size()), 5));
        BinBuilder d(true, 4);
        d.i32(int32_t(zl));
        d.bytes(std::string(reinterpret_cast<char *>(z.data()), zl));
        at.push_back(int64_t(file.size()));
        file += BinBuilder::dataset('U', '5', "zints", "here", 5, "INTR", 150, d.s);
    }
    {  // L5 compressed doubles with a 64-bit length
        BinBuilder items(true, 8);
        for (int i = 0; i < 120; ++i) items.f64(i * 0.125);
        std::vector<Bytef> z(compressBound(uLong(items.s.size())));
        uLongf zl = uLongf(z.size());
        ASSERT_EQ(Z_OK, compress2(z.data(), &zl, reinterpret_cast<const Bytef *>(items.s.data()), uLong(items.s.size()), 5));
        BinBuilder d(true, 8);
        d.i64(int64_t(zl));
        d.bytes(std::string(reinterpret_cast<char *>(z.data()), zl));
        at.push_back(int64_t(file.size()));
        file += BinBuilder::dataset('L', '5', "zdbles", "here", 6, "DBLE", 120, d.s);
    }
    vrntest::writeFile(path, file);
    DataFile f(path, false);
    ASSERT_EQ(0, f.openResult());
    ASSERT_EQ(6, f.rec().nlines) << "rebuilt from the datasets";
    Header h("", "", 0, "", 0);
    Data d;
    // Each read sets the counts to what it needed, so the arrays are
    // sized afresh before every read.
    auto readAt = [&](IO_file &rec, int64_t loc, IO_header *hp, IO_data *) {
        d.size(0, 2, 0, 150, 2, 120, 0);
        return kwxtest::readAt(rec, loc, hp, d.get());
    };
    ASSERT_EQ(0, readAt(f.rec(), at[0], h.get(), d.get()));
    EXPECT_STREQ("ints", h.h.what);
    EXPECT_EQ(1, d.ints[0]);
    EXPECT_EQ(-2, d.ints[1]);
    EXPECT_EQ(0x01020304, d.ints[2]);
    ASSERT_EQ(0, readAt(f.rec(), at[1], h.get(), d.get()));
    EXPECT_EQ(1.5f, d.reals[0]);
    EXPECT_EQ(-2.25f, d.reals[1]);
    ASSERT_EQ(0, readAt(f.rec(), at[2], h.get(), d.get()));
    EXPECT_EQ(3.5, d.doubles[0]);
    EXPECT_EQ(1e300, d.doubles[1]);
    ASSERT_EQ(0, readAt(f.rec(), at[3], h.get(), d.get()));
    EXPECT_EQ(10, d.ints[0]);
    EXPECT_EQ(11, d.ints[1]);
    EXPECT_EQ(0.5, d.doubles[0]);
    EXPECT_EQ(1.5, d.doubles[1]);
    EXPECT_EQ("abcd", d.string(0)) << "structure strings keep all their characters";
    EXPECT_EQ("xy", d.string(1));
    ASSERT_EQ(0, readAt(f.rec(), at[4], h.get(), d.get()));
    EXPECT_EQ(ints, std::vector<int32_t>(d.ints.begin(), d.ints.begin() + 150));
    ASSERT_EQ(0, readAt(f.rec(), at[5], h.get(), d.get()));
    for (int i = 0; i < 120; ++i) EXPECT_EQ(i * 0.125, d.doubles[size_t(i)]);
}

TEST(Headers, NameLimitsAndInvalidNames) {
    TempDir dir;
    DataFile f(dir.file("h"));
    Data none;
    {
        Header h(std::string(75, 'w'), std::string(74, 'x'), 0, "INTR", 0);
        EXPECT_EQ(0, f.write("F", h.get(), none.get()));
    }
    messages().clear();
    {
        Header h(std::string(76, 'w'), "x", 0, "INTR", 0);
        EXPECT_EQ(IO_ERR_WRITE, f.write("F", h.get(), none.get()));
        EXPECT_TRUE(anyMessageContains("write_header: fail to write what\n"));
    }
    {
        Header h("w", std::string(75, 'x'), 0, "INTR", 0);
        EXPECT_EQ(IO_ERR_WRITE, f.write("u", h.get(), none.get()));
    }
    messages().clear();
    {
        Header h("w", "x", -1, "INTR", 0);
        EXPECT_EQ(IO_ERR_PARSE, f.write("F", h.get(), none.get()));
        EXPECT_TRUE(anyMessageContains("write_header: invalid dataset name w:x:-1"));
    }
    for (const char *bad : {"", "a\nb", "a\x1b" "b"}) {
        Header h(bad, "x", 0, "INTR", 0);
        EXPECT_EQ(IO_ERR_PARSE, f.write("u", h.get(), none.get())) << bad;
    }
    {
        Header h("w", "x", 0, "INTR", 0);
        *h.h.numattrb = 21;
        EXPECT_EQ(IO_ERR_PARSE, f.write("u", h.get(), none.get()));
    }
    EXPECT_EQ(1, f.rec().nlines) << "failed writes add no index line";
}

// Text headers are read back without trailing white space: format F refuses
// such a name before anything is written (a dataset, a header or a copy);
// u5 keeps it.
TEST(Headers, FormatFRefusesANameEndingInWhiteSpaceAndU5KeepsIt) {
    TempDir dir;
    const std::string text = dir.file("f.kwx"), binary = dir.file("u.kwx");
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"temp", "zone "}, {"temp\t", "zone"}, {"temp\v", "zone"}, {"temp", "zone\f"}};
    iotest::Client c;
    ASSERT_EQ(IO_OK, c.open(text));
    ASSERT_EQ(IO_OK, iotest::setFormat(c, "F"));
    ASSERT_EQ(IO_OK, c.writeInts("temp", "zone", 0, {1, 1001}));
    iotest::Data found;
    ASSERT_EQ(IO_OK, c.locate("temp", "zone", 0, found));
    ASSERT_EQ(IO_OK, c.open(binary, IO_OPEN_SECONDARY));
    const std::string before = vrntest::readFile(text), empty = vrntest::readFile(binary);
    for (const auto &name : bad) {
        iotest::Header h(name.first, name.second, 0);
        iotest::Data d;
        iotest::offsetsOf(d, {found.offsets[0], 0});
        EXPECT_EQ(IO_ERR_PARSE, c.request(IO_COPY_DATASET, h, d));
        ASSERT_EQ(IO_OK, c.request(IO_USE_PRIMARY, h, d));
        EXPECT_EQ(IO_ERR_PARSE, c.request(IO_WRITE_HEADER, h, d));
        EXPECT_EQ(IO_ERR_PARSE, c.writeInts(name.first, name.second, 0, {2, 1002}));
        EXPECT_NE(std::string::npos, iotest::messages().find("format F cannot hold")) << iotest::messages();
        ASSERT_EQ(IO_OK, c.request(IO_USE_SECONDARY, h, d));
    }
    EXPECT_EQ(before, vrntest::readFile(text));
    EXPECT_EQ(empty, vrntest::readFile(binary));
    ASSERT_EQ(IO_OK, iotest::setFormat(c, "u5"));
    for (const auto &name : bad) ASSERT_EQ(IO_OK, c.writeInts(name.first, name.second, 0, {2, 1002}));
    ASSERT_EQ(IO_OK, c.close());
    iotest::forceRebuild(text);
    std::vector<int32_t> v;
    ASSERT_EQ(IO_OK, c.open(text));
    ASSERT_EQ(IO_OK, c.readInts("temp", "zone", 0, v));
    EXPECT_EQ((std::vector<int32_t>{1, 1001}), v);
    ASSERT_EQ(IO_OK, c.open(binary));
    for (const auto &name : bad) {
        ASSERT_EQ(IO_OK, c.readInts(name.first, name.second, 0, v));
        EXPECT_EQ((std::vector<int32_t>{2, 1002}), v);
    }
}

TEST(Headers, AttributesAndBlockFactorRoundTrip) {
    TempDir dir;
    DataFile f(dir.file("a"));
    Data in;
    in.size(0, 0, 0, 300, 0, 0, 0);
    Header h("w", "x", 2, "INTR", 300, 1);
    *h.h.numattrb = 3;
    memcpy(h.h.attributes, std::string(80, 'A').data(), 80);
    strcpy(h.h.attributes + 80, "second");
    strcpy(h.h.attributes + 160, "");
    for (const char *fmt : {"u5", "F", "l"}) {
        int64_t at = f.rec().indexpos;
        *h.h.blockfactor = 1;
        ASSERT_EQ(0, f.write(fmt, h.get(), in.get())) << fmt;
        Header back("", "", 0, "", 0);
        Data out;
        out.size(0, 0, 0, 300, 0, 0, 0);
        ASSERT_EQ(0, readAt(f.rec(), at, back.get(), out.get())) << fmt;
        EXPECT_EQ(3, *back.h.numattrb);
        EXPECT_EQ(std::string(80, 'A'), std::string(back.h.attributes, 80)) << fmt;
        EXPECT_STREQ("second", back.h.attributes + 80);
        EXPECT_STREQ("", back.h.attributes + 160);
        if (fmt[0] == 'u') {
            EXPECT_EQ(100000, *h.h.blockfactor) << "block factor 1 becomes 100000 for compressed data";
            EXPECT_EQ(100000, *back.h.blockfactor);
        }
    }
}

TEST(Headers, UncompressedBinaryStructuresWithStringsReadBackInOnePiece) {
    TempDir dir;
    DataFile f(dir.file("s"));
    const int n = 50;
    Data in;
    in.size(0, n, 0, n, 0, 0, 0);
    for (int i = 0; i < n; ++i) {
        in.ints[size_t(i)] = i;
        in.setString(i, "s" + std::to_string(i));
    }
    Header h("w", "x", 0, "STRC{INTR:1 STRI:8}", n, 7);
    ASSERT_EQ(0, f.write("u", h.get(), in.get()));
    Header back("", "", 0, "", 0);
    Data out;
    out.size(0, n, 0, n, 0, 0, 0);
    ASSERT_EQ(0, readAt(f.rec(), 36, back.get(), out.get()));
    for (int i = 0; i < n; ++i) {
        EXPECT_EQ(i, out.ints[size_t(i)]);
        EXPECT_EQ("s" + std::to_string(i), out.string(i));
    }
}

TEST(Headers, ZeroOrOversizeLengthIsRefusedWith20) {
    TempDir dir;
    std::string path = dir.file("z");
    {
        DataFile f(path);
        Header h("w", "x", 0, "INTR", 0);
        ASSERT_EQ(0, f.write("u", h.get(), Data().get()));
    }
    for (int32_t bad : {0, -5, 1 << 30}) {
        std::string bytes = vrntest::readFile(path);
        memcpy(&bytes[39], &bad, 4);
        vrntest::writeFile(path, bytes);
        FILE *fp = fopen(path.c_str(), "rb");
        IO_file rec{};
        rec.stream = fp;
        rec.routine = captureRoutine;
        Header back("", "", 0, "", 0);
        Data d;
        EXPECT_EQ(IO_ERR_BADFILE, readAt(rec, 36, back.get(), d.get())) << bad;
        fclose(fp);
    }
}

TEST(IndexTable, GrowsPastTheFirstTenThousandLinesKeepingOrder) {
    IO_file rec{};
    ASSERT_EQ(0, indextable_alloc(&rec));
    char line[IO_INDEX_SLOT];
    for (int i = 0; i < 25001; ++i) {
        kwxMakeIndexLine(line, "Y", ("w" + std::to_string(25001 - i)).c_str(), "x", i, 10, 36 + i);
        ASSERT_EQ(0, insert_index(captureRoutine, &rec, line));
    }
    ASSERT_EQ(25001, rec.nlines);
    for (int i = 0; i < 25001; i += 997) {
        kwxMakeIndexLine(line, "Y", ("w" + std::to_string(25001 - i)).c_str(), "x", i, 10, 36 + i);
        EXPECT_STREQ(line, IO_INDEX_LINE(rec.indextable, i));
    }
    filerec_release(&rec);
}

TEST(IndexTable, SortedTableStaysSortedAndDuplicatesRetireOldest) {
    IO_file rec{};
    ASSERT_EQ(0, indextable_alloc(&rec));
    char line[IO_INDEX_SLOT];
    const char *names[] = {"m", "c", "a", "z", "c"};
    for (int i = 0; i < 5; ++i) {
        kwxMakeIndexLine(line, "Y", names[i], "b", 1, 10, 100 * (i + 1));
        ASSERT_EQ(0, insert_index(captureRoutine, &rec, line));
    }
    ASSERT_EQ(0, update_index(captureRoutine, &rec));
    EXPECT_EQ(-1, rec.sorted);
    for (const char *n : {"b", "zz", "a"}) {
        kwxMakeIndexLine(line, "Y", n, "b", 2, 10, 900);
        ASSERT_EQ(0, insert_index(captureRoutine, &rec, line));
    }
    EXPECT_EQ(-1, rec.sorted);
    ASSERT_EQ(0, kwxIndexSettle(captureRoutine, &rec));
    EXPECT_EQ(rec.nlines, kwxIndexSortedCount(&rec));
    auto lines = indexLines(rec);
    for (size_t i = 1; i < lines.size(); ++i) EXPECT_LE(strcmp(lines[i - 1].c_str() + 2, lines[i].c_str() + 2), 0);
    int live_c = 0;
    for (const auto &l : lines) {
        if (l.compare(2, 1, "c") == 0) {
            if (l[0] == 'Y') {
                ++live_c;
                EXPECT_NE(std::string::npos, l.find(E + "500")) << "the newer c survives";
            }
        }
    }
    EXPECT_EQ(1, live_c);
    filerec_release(&rec);
}

TEST(IndexTable, StoredIndexRoundTripsAndAShorterOneTruncatesTheFile) {
    TempDir dir;
    std::string path = dir.file("i");
    std::vector<std::string> before;
    {
        DataFile f(path);
        for (int i = 0; i < 3; ++i) {
            Header h("w" + std::to_string(i), "x", i, "INTR", 0);
            ASSERT_EQ(0, f.write("u", h.get(), Data().get()));
        }
        ASSERT_EQ(0, f.flush());
        before = indexLines(f.rec());
        // A second flush with one line less leaves no trace of the longer one.
        f.rec().nlines = 2;
        ASSERT_EQ(0, f.flush());
    }
    std::string bytes = vrntest::readFile(path);
    size_t lastLine = bytes.rfind('\n', bytes.size() - 2) + 1;
    int64_t indexAt = kwx_atoi64(bytes.c_str() + lastLine);
    EXPECT_EQ(std::string("F\0\n", 3), bytes.substr(size_t(indexAt), 3));
    EXPECT_EQ(std::string::npos, bytes.find(before[2].substr(2, 4), size_t(indexAt)));
    EXPECT_EQ(field20(int64_t(bytes.size())), bytes.substr(6, 21)) << "size recorded";
    // That index leaves out a dataset still in the file: it is rebuilt.
    DataFile g(path, false);
    ASSERT_EQ(0, g.openResult());
    EXPECT_EQ(before, indexLines(g.rec()));
    EXPECT_EQ(0, g.rec().sorted);
}

TEST(IndexTable, BadStoredIndexesAreRefusedWith12) {
    TempDir dir;
    std::string path = dir.file("bad");
    {
        DataFile f(path);
        Header h("w", "x", 1, "INTR", 0);
        ASSERT_EQ(0, f.write("u", h.get(), Data().get()));
        ASSERT_EQ(0, f.flush());
    }
    const std::string good = vrntest::readFile(path);
    size_t idx = good.find(std::string("F\0\n", 3), 36);
    ASSERT_NE(std::string::npos, idx);
    auto openWith = [&](const std::string &bytes) {
        vrntest::writeFile(path, bytes);
        IO_file rec{};
        rec.stream = fopen(path.c_str(), "rb");
        rec.offsetwidth = 20;
        rec.routine = captureRoutine;
        int rc = create_indextable(captureRoutine, &rec);
        filerec_release(&rec);
        return rc;
    };
    EXPECT_EQ(0, openWith(good));
    std::string u = good;
    u[idx] = 'u';
    EXPECT_EQ(IO_ERR_PARSE, openWith(u));
    std::string count = good;
    size_t countAt = good.find("*INDEX\n", idx) + 7;
    count.replace(countAt, 20, std::string(19, ' ') + "9");
    EXPECT_EQ(IO_ERR_PARSE, openWith(count)) << "count beyond the lines present";
    std::string negative = good;
    negative.replace(countAt, 20, std::string(18, ' ') + "-1");
    EXPECT_EQ(IO_ERR_PARSE, openWith(negative));
    std::string huge = good;
    huge.replace(countAt, 20, "         99999999999");
    EXPECT_EQ(IO_ERR_PARSE, openWith(huge));
    std::string length = good;
    length.replace(idx + 3, 20, "       9999999999999");
    EXPECT_NE(0, openWith(length));
    // An index line too long for a table slot.
    std::string longLine = good;
    size_t lineAt = countAt + 21;
    longLine.insert(lineAt + 3, std::string(300, 'q'));
    int64_t oldLen = kwx_atoi64(good.c_str() + idx + 3);
    char lenField[32];
    snprintf(lenField, sizeof lenField, "%20" PRId64, oldLen + 300);
    longLine.replace(idx + 3, 20, lenField);
    longLine.replace(longLine.size() - 42, 20, lenField);
    EXPECT_EQ(IO_ERR_PARSE, openWith(longLine));
}

TEST(Layout, OldWidthTenFilesStayWidthTen) {
    TempDir dir;
    std::string path = dir.file("w10.kwx");
    vrntest::writeFile(path, "*INFO\n" + std::string(9, ' ') + "0\n*ENDINFO\n");
    {
        DataFile f(path, false);
        ASSERT_EQ(0, f.openResult());
        EXPECT_EQ(10, f.rec().offsetwidth);
        f.rec().indexpos = 26;
        Data in;
        in.size(0, 0, 0, 3, 0, 0, 0);
        Header h("a", "b", 1, "INTR", 3);
        ASSERT_EQ(0, f.write("F", h.get(), in.get()));
        ASSERT_EQ(0, f.flush());
    }
    std::string bytes = vrntest::readFile(path);
    EXPECT_EQ("*INFO\n" + std::string(7, ' ') + std::to_string(bytes.size()) + "\n*ENDINFO\n", bytes.substr(0, 26));
    EXPECT_EQ(std::string("F\0\n", 3), bytes.substr(26, 3));
    EXPECT_EQ('\n', bytes[29 + 10]) << "length field of width 10";
    size_t last = bytes.rfind('\n', bytes.size() - 2) + 1;
    EXPECT_EQ(11u, bytes.size() - last) << "index position line of width 10";
    DataFile g(path, false);
    ASSERT_EQ(0, g.openResult());
    EXPECT_EQ(1, g.rec().nlines);

    // The open request takes such a file as it is: the dataset reads back, a
    // new one is written with the same width, and both read back after a
    // fresh open.
    {
        iotest::Client c;
        ASSERT_EQ(IO_OK, c.open(path)) << iotest::messages();
        std::vector<int32_t> values;
        ASSERT_EQ(IO_OK, c.readInts("a", "b", 1, values)) << iotest::messages();
        EXPECT_EQ(3u, values.size());
        ASSERT_EQ(IO_OK, c.writeInts("c", "d", 2, {7, 8}));
        ASSERT_EQ(IO_OK, c.close());
    }
    bytes = vrntest::readFile(path);
    EXPECT_EQ("*INFO\n" + std::string(10 - std::to_string(bytes.size()).size(), ' ') +
                  std::to_string(bytes.size()) + "\n*ENDINFO\n",
              bytes.substr(0, 26));
    iotest::Client again;
    ASSERT_EQ(IO_OK, again.open(path)) << iotest::messages();
    std::vector<int32_t> values;
    ASSERT_EQ(IO_OK, again.readInts("c", "d", 2, values));
    EXPECT_EQ((std::vector<int32_t>{7, 8}), values);
    ASSERT_EQ(IO_OK, again.readInts("a", "b", 1, values));
    EXPECT_EQ(3u, values.size());
}

TEST(IndexTable, LinesAppendedToASortedTableAreFoundAndMergedInOrder) {
    IO_file rec{};
    ASSERT_EQ(0, indextable_alloc(&rec));
    rec.sorted = -1;
    char line[IO_INDEX_SLOT];
    std::vector<std::string> names;
    for (int i = 0; i < 6000; ++i) {
        names.push_back("n" + std::to_string((i * 7919) % 6000));
        kwxMakeIndexLine(line, "Y", names.back().c_str(), "x", 1, 10, 36 + i);
        ASSERT_EQ(0, insert_index(captureRoutine, &rec, line));
        ASSERT_LE(rec.nlines - kwxIndexSortedCount(&rec), 1024) << "the unsorted tail stays short";
        if (i % 37 == 0) {
            // The head is in order at every moment.
            int head = kwxIndexSortedCount(&rec);
            for (int k = 1; k < head; ++k)
                ASSERT_LE(strcmp(IO_INDEX_LINE(rec.indextable, k - 1) + 2, IO_INDEX_LINE(rec.indextable, k) + 2), 0);
        }
    }
    ASSERT_EQ(0, kwxIndexSettle(captureRoutine, &rec));
    std::vector<std::string> lines = indexLines(rec);
    ASSERT_EQ(6000u, lines.size());
    for (size_t k = 1; k < lines.size(); ++k) ASSERT_LE(strcmp(lines[k - 1].c_str() + 2, lines[k].c_str() + 2), 0);
    std::sort(names.begin(), names.end());
    for (size_t k = 0; k < lines.size(); ++k) EXPECT_EQ(0u, lines[k].find("Y\x1b" + names[k] + "\x1b")) << k;
    filerec_release(&rec);
}

TEST(Headers, PiecewiseCompressedDataWithBlockFactorOneReadsAsOneBlock) {
    TempDir dir;
    DataFile f(dir.file("p"));
    FILE *fp = f.rec().stream;
    const char fmt[3] = {'u', '5', 0};
    Data in;
    in.size(0, 0, 0, 300, 0, 0, 0);
    for (int i = 0; i < 300; ++i) in.ints[size_t(i)] = i;
    Header h("w", "x", 0, "INTR", 300, 1);
    ASSERT_EQ(0, kwxSeek64(fp, 36, 0));
    ASSERT_EQ(3u, fwrite("u5\n", 1, 3, fp));
    int64_t len = 0;
    ASSERT_EQ(0, kwxwriteOffset(captureRoutine, fmt, &len, 20, fp));
    int64_t p1 = kwxTell64(fp);
    ASSERT_EQ(0, kwxwriteTag(captureRoutine, fmt, "*DATASET", fp));
    ASSERT_EQ(0, write_header(captureRoutine, fmt, fp, h.get()));
    ASSERT_EQ(0, write_datatag(captureRoutine, fmt, fp));
    ASSERT_EQ(0, write_data(captureRoutine, fmt, fp, 300, "INTR", in.get()));
    ASSERT_EQ(0, kwxwriteTag(captureRoutine, fmt, "*ENDDATASET", fp));
    len = kwxTell64(fp) - p1;
    ASSERT_EQ(0, kwxwriteOffset(captureRoutine, fmt, &len, 20, fp));
    ASSERT_EQ(0, kwxSeek64(fp, 39, 0));
    ASSERT_EQ(0, kwxwriteOffset(captureRoutine, fmt, &len, 20, fp));
    Header back("", "", 0, "", 0);
    Data out;
    out.size(0, 0, 0, 300, 0, 0, 0);
    ASSERT_EQ(0, readAt(f.rec(), 36, back.get(), out.get()));
    EXPECT_EQ(in.ints, out.ints);
}
