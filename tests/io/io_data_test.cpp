// Data sections: round trips of every element type and structure in every
// written format, compression of arrays and blocks, capacity checks and
// datatype conversion.
#include "io_test_util.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cfloat>
#include <clocale>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>

using namespace kwxtest;
using vrntest::TempDir;

namespace {

const char *const kFormats[] = {"F", "u", "l", "u5", "l5"};

// Writes one dataset of the given datatype and reads it back into fresh
// arrays of the same sizes.
struct RoundTrip {
    TempDir dir;
    DataFile file{dir.file("rt.kwx")};
    Data out;
    int write(const char *format, const std::string &datatype, int number, Data &in, int bf = 1) {
        Header h("w", "here", 1, datatype, number, bf);
        int rc = file.write(format, h.get(), in.get());
        if (rc) return rc;
        Header back("", "", 0, "", 0);
        out.size(in.counts[0], in.counts[1], in.counts[2], in.counts[3], in.counts[4], in.counts[5],
                 in.counts[6]);
        int64_t loc = kwx_atoi64(strrchr(IO_INDEX_LINE(file.rec().indextable, file.rec().nlines - 1), 27) + 1);
        return readAt(file.rec(), loc, back.get(), out.get());
    }
};

bool sameBits(double a, double b) { return memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

TEST(DataRoundTrip, IntegersWithExtremesInEveryFormat) {
    for (const char *fmt : kFormats) {
        RoundTrip rt;
        Data in;
        in.size(0, 0, 0, 300, 0, 0, 0);
        for (int i = 0; i < 300; ++i) in.ints[size_t(i)] = i * 7919 - 1000000;
        in.ints[0] = INT_MIN;
        in.ints[1] = INT_MAX;
        in.ints[2] = 1234567890;
        ASSERT_EQ(0, rt.write(fmt, "INTR", 300, in)) << fmt;
        EXPECT_EQ(in.ints, rt.out.ints) << fmt;
        EXPECT_EQ(300, rt.out.counts[3]);
    }
}

TEST(DataRoundTrip, RealsDoublesAndNaNInEveryFormat) {
    for (const char *fmt : kFormats) {
        RoundTrip rt;
        Data in;
        in.size(0, 0, 0, 0, 0, 120, 0);
        for (int i = 0; i < 120; ++i) in.doubles[size_t(i)] = std::sin(i) * std::pow(10.0, i % 50);
        in.doubles[0] = 1e300;
        in.doubles[1] = -DBL_MIN;
        in.doubles[2] = NAN;
        in.doubles[3] = -INFINITY;
        ASSERT_EQ(0, rt.write(fmt, "DBLE", 120, in)) << fmt;
        bool text = fmt[0] == 'F';
        for (int i = 0; i < 120; ++i) {
            double want = in.doubles[size_t(i)], got = rt.out.doubles[size_t(i)];
            if (std::isnan(want)) {
                EXPECT_TRUE(std::isnan(got)) << fmt;
            } else if (std::isinf(want)) {
                EXPECT_EQ(want, got) << fmt;
            } else if (!text) {
                EXPECT_TRUE(sameBits(want, got)) << fmt << " " << i;
            } else if (std::isfinite(want) && std::fabs(want) > FLT_MAX) {
                EXPECT_NEAR(want, got, std::fabs(want) * 1e-11) << "kept beyond float range";
            } else {
                EXPECT_NEAR(static_cast<float>(want), got, std::fabs(want) * 1e-7 + 1e-45) << fmt << " " << i;
            }
        }
        RoundTrip rr;
        Data rin;
        rin.size(0, 0, 0, 0, 130, 0, 0);
        for (int i = 0; i < 130; ++i) rin.reals[size_t(i)] = static_cast<float>(i) / 3.0f - 20.0f;
        rin.reals[0] = FLT_MAX;
        rin.reals[1] = -FLT_MIN;
        ASSERT_EQ(0, rr.write(fmt, "REAL", 130, rin)) << fmt;
        for (int i = 0; i < 130; ++i)
            EXPECT_FLOAT_EQ(rin.reals[size_t(i)], rr.out.reals[size_t(i)]) << fmt << " " << i;
    }
}

TEST(DataRoundTrip, CharactersWithNulAndNewlineSurviveEveryFormat) {
    for (const char *fmt : kFormats) {
        RoundTrip rt;
        Data in;
        in.size(0, 0, 200, 0, 0, 0, 0);
        static const char lit[] = "line one\nline two\0third\r\n\x1b end";
        std::string text(lit, sizeof lit - 1);
        for (size_t i = 0; i < 200; ++i) in.chars[i] = text[i % text.size()];
        in.chars[199] = '\0';
        in.chars[198] = ' ';
        ASSERT_EQ(0, rt.write(fmt, "CHAR", 200, in)) << fmt;
        EXPECT_EQ(in.chars, rt.out.chars) << fmt;
    }
}

TEST(DataRoundTrip, StringListsAndLogicalsInEveryFormat) {
    for (const char *fmt : kFormats) {
        RoundTrip rt;
        Data in;
        in.size(0, 150, 0, 0, 0, 0, 0);
        for (int i = 0; i < 150; ++i) in.setString(i, i % 3 ? "name" + std::to_string(i) : "with\nnewline");
        in.setString(5, "");
        in.setString(6, std::string(79, 'z'));
        ASSERT_EQ(0, rt.write(fmt, "STRI", 150, in)) << fmt;
        for (int i = 0; i < 150; ++i) EXPECT_EQ(in.string(i), rt.out.string(i)) << fmt << " " << i;

        RoundTrip rl;
        Data lin;
        lin.size(0, 0, 0, 0, 0, 0, 256);
        for (int i = 0; i < 256; ++i) lin.logicals[size_t(i)] = static_cast<char>(i);
        ASSERT_EQ(0, rl.write(fmt, "LOGL", 256, lin)) << fmt;
        EXPECT_EQ(lin.logicals, rl.out.logicals) << fmt;
    }
}

TEST(DataRoundTrip, StructuresWithEveryTypeInEveryFormat) {
    const std::string dt = "STRC{INTR:2 STRI:10 CHAR:6 REAL:1 DBLE:2 LOGL:3 STRI:5}";
    const int n = 37;
    for (const char *fmt : kFormats) {
        RoundTrip rt;
        Data in;
        in.size(0, 2 * n, 6 * n, 2 * n, n, 2 * n, 3 * n);
        for (int r = 0; r < n; ++r) {
            in.ints[size_t(2 * r)] = r == 0 ? INT_MIN : r;
            in.ints[size_t(2 * r + 1)] = -r * 1000;
            in.setString(2 * r, r % 2 ? "str" + std::to_string(r) : "");
            in.setString(2 * r + 1, "x\x1by");
            for (int k = 0; k < 6; ++k) in.chars[size_t(6 * r + k)] = k == 2 ? '\0' : static_cast<char>('a' + k);
            in.reals[size_t(r)] = r * 0.25f;
            in.doubles[size_t(2 * r)] = 1e300 / (r + 1);
            in.doubles[size_t(2 * r + 1)] = -0.5 * r;
            in.logicals[size_t(3 * r)] = 'T';
            in.logicals[size_t(3 * r + 1)] = '\0';
            in.logicals[size_t(3 * r + 2)] = '\n';
        }
        ASSERT_EQ(0, rt.write(fmt, dt, n, in)) << fmt;
        const Data &o = rt.out;
        EXPECT_EQ(in.ints, o.ints) << fmt;
        EXPECT_EQ(in.chars, o.chars) << fmt;
        EXPECT_EQ(in.logicals, o.logicals) << fmt;
        EXPECT_EQ(in.reals, o.reals) << fmt;
        for (int i = 0; i < 2 * n; ++i) {
            EXPECT_EQ(in.string(i), o.string(i)) << fmt << " " << i;
            EXPECT_NEAR(in.doubles[size_t(i)], o.doubles[size_t(i)], std::fabs(in.doubles[size_t(i)]) * 1e-11)
                << fmt << " " << i;
        }
    }
}

TEST(DataRoundTrip, HundredThousandElementArray) {
    for (const char *fmt : {"F", "u", "u5", "l5"}) {
        RoundTrip rt;
        Data in;
        in.size(0, 0, 0, 100000, 0, 0, 0);
        for (int i = 0; i < 100000; ++i) in.ints[size_t(i)] = (i * 2654435761u) >> 3;
        ASSERT_EQ(0, rt.write(fmt, "INTR", 100000, in)) << fmt;
        EXPECT_EQ(in.ints, rt.out.ints) << fmt;
    }
}

// Bytes of the data section of the last dataset written: from after the
// "*DATA" tag to the "*ENDDATASET" tag.
static std::string dataSection(const std::string &file) {
    size_t a = file.rfind("*DATA");
    while (a != std::string::npos && file.compare(a, 8, "*DATASET") == 0) a = file.rfind("*DATA", a - 1);
    size_t b = file.rfind("*ENDDATASET");
    return file.substr(a + 5, b - a - 5);
}

TEST(Compression, NinetyNineItemsPlainHundredCompressed) {
    TempDir dir;
    for (int n : {99, 100}) {
        std::string path = dir.file("c" + std::to_string(n));
        {
            DataFile f(path);
            Data in;
            in.size(0, 0, 0, n, 0, 0, 0);
            Header h("a", "b", 0, "INTR", n);
            ASSERT_EQ(0, f.write("u5", h.get(), in.get()));
            ASSERT_EQ(0, f.flush());
        }
        std::string sec = dataSection(vrntest::readFile(path));
        if (n == 99) {
            EXPECT_EQ(size_t(99 * 4), sec.size());
        } else {
            int32_t len;
            memcpy(&len, sec.data(), 4);
            ASSERT_GT(len, 0);
            ASSERT_LT(len, 400);
            EXPECT_EQ(size_t(4 + len), sec.size());
            std::vector<unsigned char> out(400);
            uLongf outLen = 400;
            EXPECT_EQ(Z_OK, uncompress(out.data(), &outLen, reinterpret_cast<const Bytef *>(sec.data() + 4), uLong(len)));
            EXPECT_EQ(400u, outLen);
        }
    }
}

TEST(Compression, IncompressibleArrayTakesTheMinusOneForm) {
    TempDir dir;
    std::string path = dir.file("rand");
    Data in;
    in.size(0, 0, 0, 100, 0, 0, 0);
    std::mt19937 rng(7);
    for (auto &v : in.ints) v = static_cast<int32_t>(rng());
    {
        DataFile f(path);
        Header h("a", "b", 0, "INTR", 100);
        ASSERT_EQ(0, f.write("u5", h.get(), in.get()));
        Data out;
        out.size(0, 0, 0, 100, 0, 0, 0);
        Header back("", "", 0, "", 0);
        ASSERT_EQ(0, readAt(f.rec(), 36, back.get(), out.get()));
        EXPECT_EQ(in.ints, out.ints);
    }
    std::string sec = dataSection(vrntest::readFile(path));
    ASSERT_EQ(size_t(404), sec.size());
    int32_t len;
    memcpy(&len, sec.data(), 4);
    EXPECT_EQ(-1, len);
    EXPECT_EQ(0, memcmp(sec.data() + 4, in.ints.data(), 400));
}

namespace {

// Random structure records (INTR:1 DBLE:1, 12 bytes each) that zlib cannot
// shrink.
void randomRecords(Data &in, int number, uint64_t seed) {
    in.size(0, 0, 0, number, 0, number, 0);
    std::mt19937_64 rng(seed);
    for (auto &v : in.ints) v = static_cast<int32_t>(rng());
    for (auto &v : in.doubles) {
        uint64_t bits = rng();
        memcpy(&v, &bits, 8);
    }
}

// Walks the compressed blocks of a data section (each a length field and a
// zlib stream) and inflates each one; returns the block lengths.
std::vector<int64_t> walkBlocks(const std::string &sec, int lenBytes, const std::vector<size_t> &blockSizes) {
    std::vector<int64_t> lens;
    size_t at = 0;
    for (size_t want : blockSizes) {
        int64_t len = 0;
        if (lenBytes == 4) {
            int32_t l32;
            memcpy(&l32, sec.data() + at, 4);
            len = l32;
        } else {
            memcpy(&len, sec.data() + at, 8);
        }
        at += size_t(lenBytes);
        lens.push_back(len);
        if (len <= 0 || at + size_t(len) > sec.size()) return lens;
        std::vector<unsigned char> out(want);
        uLongf outLen = uLongf(want);
        EXPECT_EQ(Z_OK, uncompress(out.data(), &outLen, reinterpret_cast<const Bytef *>(sec.data() + at), uLong(len)));
        EXPECT_EQ(want, size_t(outLen));
        at += size_t(len);
    }
    EXPECT_EQ(sec.size(), at) << "nothing after the last block";
    return lens;
}

}  // namespace

TEST(Compression, IncompressibleStructureBlocksStayZlibStreamsAndReadBack) {
    for (const char *fmt : {"u5", "l5", "u9", "l1"}) {
        TempDir dir;
        std::string path = dir.file("s");
        Data in;
        randomRecords(in, 250, 3);
        {
            DataFile f(path);
            // Blocks of 100, 100 and 50 records: 1200, 1200 and 600 bytes.
            Header h("a", "b", 0, "STRC{INTR:1 DBLE:1}", 250, 100);
            ASSERT_EQ(0, f.write(fmt, h.get(), in.get())) << fmt;
            Data out;
            out.size(0, 0, 0, 250, 0, 250, 0);
            Header back("", "", 0, "", 0);
            ASSERT_EQ(0, readAt(f.rec(), 36, back.get(), out.get())) << fmt;
            EXPECT_EQ(in.ints, out.ints) << fmt;
            EXPECT_EQ(0, memcmp(in.doubles.data(), out.doubles.data(), 250 * 8)) << fmt;
            ASSERT_EQ(0, f.flush());
        }
        std::string sec = dataSection(vrntest::readFile(path));
        std::vector<int64_t> lens = walkBlocks(sec, fmt[0] == 'u' ? 4 : 8, {1200, 1200, 600});
        ASSERT_EQ(3u, lens.size()) << fmt;
        for (size_t i = 0; i < lens.size(); ++i) {
            size_t block = i < 2 ? 1200 : 600;
            EXPECT_GT(lens[i], int64_t(block)) << fmt << " block " << i << " did not shrink";
            EXPECT_LE(lens[i], int64_t(compressBound(uLong(block)))) << fmt;
        }
        // Reopened from disk, through the stored index.
        DataFile again(path, false);
        ASSERT_EQ(0, again.openResult());
        Data out;
        out.size(0, 0, 0, 250, 0, 250, 0);
        Header back("", "", 0, "", 0);
        ASSERT_EQ(0, readAt(again.rec(), 36, back.get(), out.get())) << fmt;
        EXPECT_EQ(in.ints, out.ints) << fmt;
    }
}

namespace {

// A hand-built file with one compressed structure dataset whose first block
// carries the given length field in front of the given stream bytes.
std::string structureFile(char letter, const std::string &blockStream, int64_t length, int number) {
    bool big = letter == 'U' || letter == 'L';
    BinBuilder d(big, (letter == 'U' || letter == 'u') ? 4 : 8);
    d.len(length);
    d.bytes(blockStream);
    return infoBlock() + BinBuilder::dataset(letter, '5', "s", "w", 1, "STRC{INTR:1 DBLE:1}", number, d.s);
}

std::string deflateBytes(const std::string &plain, int level) {
    std::vector<Bytef> z(compressBound(uLong(plain.size())));
    uLongf zl = uLongf(z.size());
    EXPECT_EQ(Z_OK, compress2(z.data(), &zl, reinterpret_cast<const Bytef *>(plain.data()), uLong(plain.size()), level));
    return std::string(reinterpret_cast<char *>(z.data()), zl);
}

}  // namespace

TEST(Compression, BigEndianIncompressibleStructureBlocksRead) {
    // Other writers of the big-endian forms store a block that does not
    // shrink the same way: a zlib stream longer than the block.
    std::mt19937_64 rng(11);
    std::vector<int32_t> ints(20);
    std::vector<double> dbles(20);
    for (char letter : {'U', 'L'}) {
        BinBuilder block(true, 4);
        for (int r = 0; r < 20; ++r) {
            ints[size_t(r)] = int32_t(rng());
            uint64_t bits = rng();
            memcpy(&dbles[size_t(r)], &bits, 8);
            block.i32(ints[size_t(r)]);
            block.f64(dbles[size_t(r)]);
        }
        std::string z = deflateBytes(block.s, 5);
        ASSERT_GT(z.size(), block.s.size());
        TempDir dir;
        std::string path = dir.file("be");
        vrntest::writeFile(path, structureFile(letter, z, int64_t(z.size()), 20));
        DataFile f(path, false);
        ASSERT_EQ(0, f.openResult());
        ASSERT_EQ(1, f.rec().nlines);
        Data out;
        out.size(0, 0, 0, 20, 0, 20, 0);
        Header back("", "", 0, "", 0);
        ASSERT_EQ(0, readAt(f.rec(), 36, back.get(), out.get())) << letter;
        EXPECT_EQ(ints, out.ints) << letter;
        EXPECT_EQ(0, memcmp(dbles.data(), out.doubles.data(), 20 * 8)) << letter;
    }
}

TEST(Compression, StructureBlockLengthsOutsideTheStreamBoundGive23) {
    std::mt19937_64 rng(5);
    std::string plain;
    for (int i = 0; i < 240; ++i) plain += char(rng());
    std::string z = deflateBytes(plain, 5);
    int64_t bound = int64_t(compressBound(uLong(plain.size())));
    for (char letter : {'u', 'l', 'U', 'L'}) {
        // The right length reads; 0, -1 (a plain block after it), another
        // negative and anything beyond the bound are refused.
        for (int64_t len : {int64_t(z.size()), int64_t(0), int64_t(-1), int64_t(-5), bound + 1,
                            int64_t(1) << 30}) {
            std::string stream = len == -1 ? plain : z;
            if (len > int64_t(z.size())) stream.append(size_t(len > 100000 ? 100 : len - int64_t(z.size())), '\0');
            TempDir dir;
            std::string path = dir.file("bad");
            vrntest::writeFile(path, structureFile(letter, stream, len, 20));
            DataFile f(path, false);
            ASSERT_EQ(0, f.openResult());
            Data out;
            out.size(0, 0, 0, 20, 0, 20, 0);
            Header back("", "", 0, "", 0);
            messages().clear();
            int rc = readAt(f.rec(), 36, back.get(), out.get());
            if (len == int64_t(z.size())) {
                EXPECT_EQ(0, rc) << letter;
            } else {
                EXPECT_EQ(IO_ERR_COMPRESS, rc) << letter << " length " << len;
                EXPECT_TRUE(anyMessageContains("read_unfmt_structure: invalid input or output buffer too small"));
            }
        }
    }
}

TEST(Compression, CorruptTruncatedOrWrongSizeStreamsGive23) {
    std::vector<int32_t> items(200);
    for (size_t i = 0; i < items.size(); ++i) items[i] = int32_t(i % 10);
    std::vector<unsigned char> z(800);
    int result = 0;
    io_gzip('i', 5, 200, items.data(), 200, z.data(), &result);
    ASSERT_GT(result, 0);
    size_t zlen = size_t(result) * 4;
    std::vector<int32_t> out(200);
    EXPECT_EQ(0, io_gunzip(captureRoutine, int64_t(zlen), z.data(), 800, out.data()));
    EXPECT_EQ(items, out);
    std::vector<unsigned char> bad(z.begin(), z.begin() + zlen);
    bad[zlen / 2] ^= 0x55;
    bad[2] ^= 0xff;
    EXPECT_EQ(IO_ERR_COMPRESS, io_gunzip(captureRoutine, int64_t(zlen), bad.data(), 800, out.data()));
    EXPECT_EQ(IO_ERR_COMPRESS, io_gunzip(captureRoutine, int64_t(zlen / 2), z.data(), 800, out.data()));
    messages().clear();
    EXPECT_EQ(IO_ERR_COMPRESS, io_gunzip(captureRoutine, int64_t(zlen), z.data(), 400, out.data()));
    EXPECT_EQ(IO_ERR_COMPRESS, io_gunzip(captureRoutine, int64_t(zlen), z.data(), 1200, out.data()));
    EXPECT_TRUE(anyMessageContains("too little"));

    // The same faults inside a file are reported by the dataset reader.
    TempDir dir;
    DataFile f(dir.file("z"));
    Data in;
    in.size(0, 0, 0, 200, 0, 0, 0);
    in.ints = items;
    in.d.ints = in.ints.data();
    Header h("a", "b", 0, "INTR", 200);
    ASSERT_EQ(0, f.write("u5", h.get(), in.get()));
    FILE *fp = f.rec().stream;
    std::string bytes = vrntest::readFile(dir.file("z"));
    size_t tag = bytes.find("*DATA", bytes.find("*DATASET") + 8);
    int64_t lenAt = int64_t(tag + 5);
    for (int32_t bogus : {int32_t(zlen) - 3, 0, -7, 1 << 30}) {
        fseek(fp, long(lenAt), SEEK_SET);
        fwrite(&bogus, 4, 1, fp);
        fflush(fp);
        Data o;
        o.size(0, 0, 0, 200, 0, 0, 0);
        Header back("", "", 0, "", 0);
        EXPECT_EQ(IO_ERR_COMPRESS, readAt(f.rec(), 36, back.get(), o.get())) << bogus;
    }
    int32_t good = int32_t(zlen);
    fseek(fp, long(lenAt), SEEK_SET);
    fwrite(&good, 4, 1, fp);
    fseek(fp, long(lenAt + 4 + 10), SEEK_SET);
    fputc(0x00, fp);
    fputc(0xff, fp);
    fflush(fp);
    Data o;
    o.size(0, 0, 0, 200, 0, 0, 0);
    Header back("", "", 0, "", 0);
    EXPECT_EQ(IO_ERR_COMPRESS, readAt(f.rec(), 36, back.get(), o.get()));
}

TEST(Compression, TextIsNeverCompressedAndLevelZeroIsNoLevel) {
    TempDir dir;
    DataFile f(dir.file("t"));
    Data in;
    in.size(0, 0, 0, 500, 0, 0, 0);
    Header h("a", "b", 0, "INTR", 500);
    ASSERT_EQ(0, f.write("F5", h.get(), in.get()));
    Header h0("a", "c", 0, "INTR", 500);
    ASSERT_EQ(0, f.write("u0", h0.get(), in.get()));
    std::string bytes = vrntest::readFile(dir.file("t"));
    EXPECT_NE(std::string::npos, bytes.find(std::string("u\0\n", 3))) << "level 0 written as no level";
    for (int64_t loc : {int64_t(36), int64_t(bytes.find(std::string("u\0\n", 3)))}) {
        Data o;
        o.size(0, 0, 0, 500, 0, 0, 0);
        Header back("", "", 0, "", 0);
        EXPECT_EQ(0, readAt(f.rec(), loc, back.get(), o.get()));
    }
}

TEST(Capacity, TooSmallArraysGive14WithTheNeededCounts) {
    int32_t ints[4];
    int32_t nints = 4;
    IO_data d{};
    d.ints = ints;
    d.nints = &nints;
    EXPECT_EQ(IO_ERR_MEMORY, check_memory(captureRoutine, "u", 10, "INTR", &d));
    EXPECT_EQ(10, nints);
    // Two string entries need two slots per record.
    char strings[80 * 4];
    int32_t nstr = 3;
    IO_data s{};
    s.strings = strings;
    s.nstrings = &nstr;
    EXPECT_EQ(IO_ERR_MEMORY, check_memory(captureRoutine, "u", 2, "STRC{STRI:4 STRI:4}", &s));
    EXPECT_EQ(4, nstr);
    EXPECT_EQ(0, check_memory(captureRoutine, "u", 2, "STRC{STRI:4 STRI:4}", &s));
}

TEST(Conversion, RealAndDoubleConvertOtherChangesAreRefused) {
    int flag = 0;
    Data src, dst;
    src.size(0, 0, 0, 4, 6, 0, 0);
    for (int i = 0; i < 6; ++i) src.reals[size_t(i)] = i + 0.5f;
    for (int i = 0; i < 4; ++i) src.ints[size_t(i)] = i;
    dst.size(0, 0, 0, 4, 0, 6, 0);
    ASSERT_EQ(0, convert_data(captureRoutine, 2, "STRC{INTR:2 REAL:3}", "STRC{INTR:2 DBLE:3}", &flag, src.get(), dst.get()));
    EXPECT_EQ(1, flag);
    EXPECT_EQ(src.ints, dst.ints);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(double(src.reals[size_t(i)]), dst.doubles[size_t(i)]);
    messages().clear();
    EXPECT_EQ(IO_ERR_CONVERT, convert_data(captureRoutine, 2, "STRC{INTR:2 REAL:3}", "STRC{INTR:2 DBLE:2}", &flag, src.get(), dst.get()));
    EXPECT_TRUE(anyMessageContains("counts differ for item 1"));
    EXPECT_EQ(IO_ERR_CONVERT, convert_data(captureRoutine, 2, "INTR", "REAL", &flag, src.get(), dst.get()));
    EXPECT_EQ(IO_ERR_CONVERT, convert_data(captureRoutine, 2, "STRC{INTR:2 REAL:3}", "INTR", &flag, src.get(), dst.get()));
}

TEST(Conversion, DatasetReadAsAnotherTypeInBlocks) {
    TempDir dir;
    DataFile f(dir.file("conv"));
    Data in;
    in.size(0, 0, 0, 250, 250, 0, 0);
    for (int i = 0; i < 250; ++i) {
        in.ints[size_t(i)] = i;
        in.reals[size_t(i)] = i * 1.5f;
    }
    Header h("a", "b", 0, "STRC{INTR:1 REAL:1}", 250, 100);
    ASSERT_EQ(0, f.write("u5", h.get(), in.get()));
    Data out;
    out.size(0, 0, 0, 250, 0, 250, 0);
    Header back("", "", 0, "", 0);
    ASSERT_EQ(0, readAt(f.rec(), 36, back.get(), out.get(), "STRC{INTR:1 DBLE:1}"));
    EXPECT_EQ(in.ints, out.ints);
    for (int i = 0; i < 250; ++i) EXPECT_EQ(i * 1.5, out.doubles[size_t(i)]);
    Data wrong;
    wrong.size(0, 0, 0, 250, 0, 0, 0);
    const int live = iodata_liveCount();
    EXPECT_EQ(IO_ERR_CONVERT, readAt(f.rec(), 36, back.get(), wrong.get(), "INTR"));
    EXPECT_EQ(live, iodata_liveCount()) << "the temporary arrays of a conversion are freed on failure too";
}

TEST(IoDataObjects, ArraysFollowTheirCountsAndAreCountedWhileAlive) {
    const int live = iodata_liveCount();
    IO_data *d = iodata_alloc();
    ASSERT_NE(nullptr, d);
    EXPECT_EQ(live + 1, iodata_liveCount());
    int32_t *counts[] = {d->noffsets, d->nstrings, d->nchars, d->nints, d->nreals, d->ndoubles, d->nlogicals};
    for (int32_t *c : counts) {
        ASSERT_NE(nullptr, c);
        EXPECT_EQ(0, *c);
    }
    EXPECT_EQ(0, iodata_totalSize(d));
    for (int i = 0; i < 7; ++i) *counts[i] = i + 1;
    ASSERT_EQ(0, iodata_alloc_arrays(captureRoutine, d));
    EXPECT_EQ(1 * 8 + 2 * 80 + 3 + 4 * 4 + 5 * 4 + 6 * 8 + 7, iodata_totalSize(d));
    d->ints[3] = 42;
    *d->nints = 1000;  // grown, keeping what it held
    *d->nstrings = 0;  // freed
    ASSERT_EQ(0, iodata_alloc_arrays(captureRoutine, d));
    EXPECT_EQ(42, d->ints[3]);
    d->ints[999] = 7;
    EXPECT_EQ(nullptr, d->strings);
    EXPECT_EQ(1 * 8 + 3 + 1000 * 4 + 5 * 4 + 6 * 8 + 7, iodata_totalSize(d));
    iodata_freeArrays(d);
    EXPECT_EQ(nullptr, d->ints);
    for (int32_t *c : counts) EXPECT_EQ(0, *c);
    EXPECT_EQ(0, iodata_totalSize(d));
    iodata_delete(d);
    EXPECT_EQ(live, iodata_liveCount());
    iodata_delete(nullptr);
}

namespace {

// Writes text-form reals, doubles and a structure holding both.
int writeTextNumbers(const std::string &path) {
    DataFile f(path);
    const char *const types[] = {"DBLE", "REAL", "STRC{REAL:1 DBLE:1}"};
    for (int i = 0; i < 3; ++i) {
        Data d;
        d.size(0, 0, 0, 0, 3, 3, 0);
        const float reals[] = {1.5f, -0.25f, 3e30f};
        const double doubles[] = {2.5, -1e-7, 1e300};
        std::copy(reals, reals + 3, d.reals.begin());
        std::copy(doubles, doubles + 3, d.doubles.begin());
        Header h("numbers", std::to_string(i), 1, types[i], 3);
        if (f.write("F", h.get(), d.get())) return i + 1;
    }
    return f.flush() ? 4 : 0;
}

// Reads back what writeTextNumbers wrote: 0 when every value is right.
int readTextNumbers(const std::string &path) {
    DataFile f(path, false);
    if (f.openResult()) return 10;
    std::vector<std::string> lines = indexLines(f.rec());
    if (lines.size() != 3) return 11;
    for (const std::string &line : lines) {
        Header h("", "", 0, "", 0);
        Data d;
        d.size(0, 0, 0, 0, 3, 3, 0);
        if (readAt(f.rec(), kwx_atoi64(strrchr(line.c_str(), 27) + 1), h.get(), d.get())) return 12;
        bool reals = std::string(h.h.datatype) != "DBLE";
        bool doubles = std::string(h.h.datatype) != "REAL";
        if (reals && (d.reals[0] != 1.5f || d.reals[1] != -0.25f || d.reals[2] != 3e30f)) return 13;
        if (doubles && (d.doubles[0] != 2.5 || std::fabs(d.doubles[1] + 1e-7) > 1e-14 ||
                        std::fabs(d.doubles[2] - 1e300) > 1e290))
            return 14;
    }
    return 0;
}

}  // namespace

TEST(DataRoundTrip, TextNumbersAreTheSameBytesWhateverTheHostsLocale) {
    TempDir dir;
    const std::string plain = dir.file("c.kwx"), local = dir.file("de.kwx");
    ASSERT_EQ(0, writeTextNumbers(plain));
    ASSERT_EQ(0, readTextNumbers(plain));
    // A locale that writes a decimal comma, made here so that the test does
    // not depend on the locales installed.
    const std::string make = "localedef -i de_DE -f UTF-8 '" + dir.path() + "/de_DE.UTF-8' >/dev/null 2>&1";
    if (std::system(make.c_str()) != 0) GTEST_SKIP() << "no locale with a decimal comma can be made here";
    vrntest::ChildOptions options;
    options.env.push_back({"LOCPATH", dir.path()});
    auto child = vrntest::runInChild(
        [&] {
            if (!setlocale(LC_ALL, "de_DE.UTF-8") || std::string(localeconv()->decimal_point) != ",")
                return 100;
            if (int rc = readTextNumbers(plain)) return rc;
            return writeTextNumbers(local);
        },
        options);
    if (child.exitStatus == 100) GTEST_SKIP() << "the decimal-comma locale could not be set";
    ASSERT_EQ(0, child.exitStatus) << child.err;
    EXPECT_EQ(vrntest::readFile(plain), vrntest::readFile(local));
}
