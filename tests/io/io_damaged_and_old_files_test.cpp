// Files the writers of this library never produce: damaged text headers,
// deletion marks with impossible lengths, and binary datasets with the level
// byte '0' of older writers.
#include "io_test_util.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <sys/resource.h>

#include <cinttypes>
#include <string>
#include <vector>

using namespace kwxtest;
using vrntest::TempDir;

namespace {

const std::string E(1, '\x1b');

std::string textRecord(const std::string &s, size_t cap) {
    return s.size() >= cap ? s + "\n" : s + std::string(cap - s.size(), ' ') + "\n";
}

std::string field20(int64_t v) {
    char b[32];
    snprintf(b, sizeof b, "%20" PRId64 "\n", v);
    return b;
}

// A text dataset of NUMBER 0 whose header records are given whole.
std::string textDataset(const std::string &what, const std::string &datatype) {
    std::string body = "*DATASET\n" + textRecord("*HEADER", 7) + textRecord(what, 80) +
                       textRecord("WHERE" + E + "b", 80) + textRecord("WHEN" + E + "0", 80) +
                       textRecord("NUMATTRB" + E + "0", 80) + textRecord(datatype, 256) +
                       textRecord("NUMBER" + E + "0", 80) + textRecord("BLOCKFACTOR" + E + "1", 80) +
                       "*ENDDATASET\n";
    return std::string("F\0\n", 3) + field20(int64_t(body.size())) + body + field20(int64_t(body.size()));
}

int readFirst(const std::string &path, IO_header *h) {
    IO_file rec{};
    rec.stream = fopen(path.c_str(), "rb");
    rec.offsetwidth = 20;
    rec.routine = captureRoutine;
    Data d;
    d.size(0, 0, 0, 4, 0, 0, 0);
    int rc = readAt(rec, 36, h, d.get());
    filerec_release(&rec);
    return rc;
}

int rebuild(const std::string &path, IO_file &rec) {
    rec = IO_file{};
    rec.stream = fopen(path.c_str(), "rb");
    rec.offsetwidth = 20;
    return recreate_indextable(captureRoutine, &rec);
}

}  // namespace

TEST(DamagedHeaders, TextRecordsLongerThanTheirBuffersAreReadErrors) {
    TempDir dir;
    std::string path = dir.file("h.kwx");
    vrntest::writeFile(path, infoBlock() + textDataset("WHAT" + E + "a", "DATATYPE" + E + "INTR"));
    {
        Header h("", "", 0, "", 0);
        ASSERT_EQ(0, readFirst(path, h.get()));
        EXPECT_STREQ("a", h.h.what);
    }
    // Records that fill the whole 82- or 258-byte record buffer, with no
    // room left for a terminator: refused, never read past their end.
    for (auto bad : {textDataset("WHAT" + E + std::string(77, 'w'), "DATATYPE" + E + "INTR"),
                     textDataset("WHAT" + E + "a", "DATATYPE" + E + std::string(249, 'D'))}) {
        vrntest::writeFile(path, infoBlock() + bad);
        Header h("", "", 0, "", 0);
        EXPECT_EQ(IO_ERR_READ, readFirst(path, h.get()));
        // The rebuild stops at the unreadable dataset, keeping nothing of it;
        // new data goes after the bytes its length claims.
        IO_file rec;
        EXPECT_EQ(0, rebuild(path, rec));
        EXPECT_EQ(0, rec.nlines);
        EXPECT_EQ(int64_t(36 + bad.size()), rec.indexpos);
        filerec_release(&rec);
    }
}

TEST(DamagedDeletionMarks, ImpossibleLengthsEndTheScanThereWithTheirMessages) {
    TempDir dir;
    std::string path = dir.file("d.kwx");
    BinBuilder one(false, 4);
    one.i32(7);
    const std::string ds = BinBuilder::dataset('u', 0, "a", "b", 1, "INTR", 1, one.s);
    auto withMark = [&](char c0, char c1, int32_t leading) {
        std::string b = ds;
        b[0] = c0;
        b[1] = c1;
        memcpy(&b[3], &leading, 4);
        return infoBlock() + b;
    };
    IO_file rec;
    // A leading length of 0 (or below) cannot be skipped: the scan ends at
    // the mark, which the next dataset overwrites.
    messages().clear();
    vrntest::writeFile(path, withMark('D', 'u', 0));
    EXPECT_EQ(0, rebuild(path, rec));
    EXPECT_EQ(36, rec.indexpos);
    EXPECT_TRUE(anyMessageContains("Bad file: final dataset length field 0 is bad, or differs from original "
                                   "dataset length field 0 in deleted dataset with byte-order-specific format u"));
    filerec_release(&rec);
    // A length that runs past the end leaves no trailing length to read.
    messages().clear();
    vrntest::writeFile(path, withMark('D', 'u', 1 << 20));
    EXPECT_EQ(0, rebuild(path, rec));
    EXPECT_EQ(36, rec.indexpos);
    EXPECT_TRUE(anyMessageContains("Bad file: final dataset length field 0 is bad, or differs from original "
                                   "dataset length field 1048576 in deleted dataset with byte-order-specific format u"));
    filerec_release(&rec);
    // An old-style mark whose bytes read as the largest text length: every
    // guess fails without arithmetic overflow.
    messages().clear();
    vrntest::writeFile(path, infoBlock() + std::string("D\0\n", 3) + "99999999999999999999\n" + "*DATASET\n");
    EXPECT_EQ(0, rebuild(path, rec));
    EXPECT_EQ(36, rec.indexpos);
    EXPECT_TRUE(anyMessageContains("in deleted dataset with old-style format"));
    filerec_release(&rec);
}

TEST(OldLevelZeroFiles, BinaryDatasetsWithLevelByteZeroReadBack) {
    // Older writers put a BLOCKFACTOR record in every binary dataset with a
    // level digit, '0' included; they stored single arrays plain and
    // structure blocks of 100 bytes or more compressed.
    TempDir dir;
    std::string path = dir.file("zero.kwx");
    std::string file = infoBlock();
    std::vector<int64_t> at;
    {
        BinBuilder d(false, 4);
        for (int i = 0; i < 150; ++i) d.i32(i * 5 - 3);
        at.push_back(int64_t(file.size()));
        file += BinBuilder::dataset('u', '0', "ints", "old", 1, "INTR", 150, d.s);
    }
    {
        BinBuilder block(false, 4);
        for (int r = 0; r < 10; ++r) {
            block.i32(r);
            block.f64(r * 0.25);
        }
        std::vector<Bytef> z(compressBound(uLong(block.s.size())));
        uLongf zl = uLongf(z.size());
        ASSERT_EQ(Z_OK, compress2(z.data(), &zl, reinterpret_cast<const Bytef *>(block.s.data()),
                                  uLong(block.s.size()), 5));
        BinBuilder d(false, 4);
        d.i32(int32_t(zl));
        d.bytes(std::string(reinterpret_cast<char *>(z.data()), zl));
        at.push_back(int64_t(file.size()));
        file += BinBuilder::dataset('u', '0', "struct", "old", 2, "STRC{INTR:1 DBLE:1}", 10, d.s);
    }
    at.push_back(int64_t(file.size()));
    file += BinBuilder::dataset('l', '0', "empty", "old", 3, "INTR", 0, "");
    vrntest::writeFile(path, file);

    DataFile f(path, false);
    ASSERT_EQ(0, f.openResult());
    ASSERT_EQ(3, f.rec().nlines);
    Header h("", "", 0, "", 0);
    Data d;
    d.size(0, 0, 0, 150, 0, 10, 0);
    ASSERT_EQ(0, readAt(f.rec(), at[0], h.get(), d.get()));
    for (int i = 0; i < 150; ++i) ASSERT_EQ(i * 5 - 3, d.ints[size_t(i)]) << i;
    d.size(0, 0, 0, 10, 0, 10, 0);
    ASSERT_EQ(0, readAt(f.rec(), at[1], h.get(), d.get()));
    EXPECT_EQ(100000, *h.h.blockfactor);
    for (int r = 0; r < 10; ++r) {
        EXPECT_EQ(r, d.ints[size_t(r)]);
        EXPECT_EQ(r * 0.25, d.doubles[size_t(r)]);
    }
    ASSERT_EQ(0, readAt(f.rec(), at[2], h.get(), d.get()));
    EXPECT_STREQ("empty", h.h.what);
}

TEST(OldTextLayout, StringArraysAreBlankPaddedAndStillRoundTripExactly) {
    TempDir dir;
    std::string path = dir.file("s.kwx");
    DataFile f(path);
    Data in;
    in.size(0, 4, 0, 0, 0, 0, 0);
    in.setString(0, "hello");
    in.setString(1, "");
    in.setString(2, "end ");
    in.setString(3, "two\nlines");
    Header h("s", "w", 1, "STRI:12", 4);
    ASSERT_EQ(0, f.write("F", h.get(), in.get()));
    std::string bytes = vrntest::readFile(path);
    size_t data = bytes.find("*DATA\n");
    ASSERT_NE(std::string::npos, data);
    // The layout older readers know: the text blank-padded to the count.
    EXPECT_EQ("hello       \n", bytes.substr(data + 6, 13));
    // Strings that blank padding would change keep NUL padding.
    EXPECT_EQ(std::string(12, '\0') + "\n", bytes.substr(data + 19, 13));
    EXPECT_EQ(std::string("end ") + std::string(8, '\0') + "\n", bytes.substr(data + 32, 13));
    Header back("", "", 0, "", 0);
    Data out;
    out.size(0, 4, 0, 0, 0, 0, 0);
    ASSERT_EQ(0, readAt(f.rec(), 36, back.get(), out.get()));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(in.string(i), out.string(i)) << i;
}

TEST(Compression, InputBeyondOneDeflateCallIsRefusedSoTheDataIsStoredPlain) {
    // 600 million doubles are more bytes than zlib takes in one call: the
    // compressor must say so (-1) rather than compress a truncated count.
    std::vector<double> in(16, 1.0), out(16);
    int result = 7;
    io_gzip('d', 5, 600000000, in.data(), 600000000, out.data(), &result);
    EXPECT_EQ(-1, result);
}

TEST(Conversion, OneMessageNamesTheLastMismatch) {
    int flag = 0;
    Data src, dst;
    src.size(0, 0, 0, 4, 6, 0, 0);
    dst.size(0, 0, 2, 0, 8, 0, 0);
    messages().clear();
    EXPECT_EQ(IO_ERR_CONVERT, convert_data(captureRoutine, 2, "STRC{INTR:2 REAL:3}", "STRC{CHAR:2 REAL:4}", &flag,
                                           src.get(), dst.get()));
    ASSERT_EQ(1u, messages().size());
    EXPECT_EQ("convert_data: cannot convert from STRC{INTR:2 REAL:3} to STRC{CHAR:2 REAL:4}: counts differ for item 1\n",
              messages()[0]);
}

TEST(DamagedDatatypes, HugeTextRecordsCostOnlyTheMemoryTheFileFills) {
    // A text structure whose datatype claims two entries of 4,000,000
    // doubles per record, with one short line of data. The reader needs the
    // caller's arrays (64 MB), but must not set aside the 670 MB line that
    // such a record could take if the file really held it.
    TempDir dir;
    std::string path = dir.file("big.kwx");
    std::string body = "*DATASET\n" + textRecord("*HEADER", 7) + textRecord("WHAT" + E + "a", 80) +
                       textRecord("WHERE" + E + "b", 80) + textRecord("WHEN" + E + "0", 80) +
                       textRecord("NUMATTRB" + E + "0", 80) +
                       textRecord("DATATYPE" + E + "STRC{DBLE:4000000 DBLE:4000000}", 256) +
                       textRecord("NUMBER" + E + "1", 80) + textRecord("BLOCKFACTOR" + E + "1", 80) +
                       "*DATA\n1.5" + E + "2.5" + E + "\n*ENDDATASET\n";
    vrntest::writeFile(path, infoBlock() + std::string("F\0\n", 3) + field20(int64_t(body.size())) + body +
                                 field20(int64_t(body.size())));
    auto result = vrntest::runInChild([&] {
        Data d;
        d.size(0, 0, 0, 0, 0, 8000000, 0);
        Header h("", "", 0, "", 0);
        IO_file rec{};
        rec.stream = fopen(path.c_str(), "rb");
        rec.offsetwidth = 20;
        struct rusage before, after;
        getrusage(RUSAGE_SELF, &before);
        int rc = readAt(rec, 36, h.get(), d.get());
        getrusage(RUSAGE_SELF, &after);
        filerec_release(&rec);
        long grownMb = (after.ru_maxrss - before.ru_maxrss) / 1024;
        printf("%d %ld %g %g\n", rc, grownMb, d.doubles[0], d.doubles[1]);
        return 0;
    });
    ASSERT_EQ(0, result.exitStatus) << result.err;
    int rc = -1;
    long grownMb = -1;
    double first = 0, second = 0;
    ASSERT_EQ(4, sscanf(result.out.c_str(), "%d %ld %lg %lg", &rc, &grownMb, &first, &second)) << result.out;
    EXPECT_EQ(0, rc);
    EXPECT_EQ(1.5, first);
    EXPECT_EQ(2.5, second);
    EXPECT_LT(grownMb, 200) << "memory grown while reading one short line, in MB";
}
