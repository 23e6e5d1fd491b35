// Deletion marks that survive an index rebuild, copies of one dataset and of
// whole files, and compaction through copy.
#include "file_fixture.h"
#include "io_test_util.h"

#include <gtest/gtest.h>

#include <map>

using namespace iotest;
using vrntest::readFile;
using vrntest::TempDir;
using vrntest::writeFile;

namespace {

int deleteDs(Client &c, const std::string &what, const std::string &where, int32_t when) {
    Header h(what, where, when);
    Data d;
    return c.request(IO_DELETE_DS, h, d);
}

// The bytes of a located dataset: format bytes, both lengths, header, data
// and end tag.
std::string datasetBytes(const std::string &file, int64_t location, int64_t dslength) {
    std::string bytes = readFile(file);
    // u format: 3 format bytes and 4-byte lengths around dslength bytes.
    return bytes.substr((size_t)location, (size_t)(3 + 4 + dslength + 4));
}

std::vector<int32_t> series(int n, int seed) {
    std::vector<int32_t> v((size_t)n);
    for (int i = 0; i < n; ++i) v[(size_t)i] = seed * 1000 + i;
    return v;
}

// Every live dataset of the current file ("WHAT|WHERE") with its integers,
// found by a locate of every name and read at the locations it gives.
std::map<std::string, std::vector<int32_t>> contents(Client &c) {
    std::map<std::string, std::vector<int32_t>> out;
    Data all;
    for (int k = 0; c.locate("*", "*", -1, all) == IO_OK && k < all.nints; ++k) {
        Header h;
        Data d;
        offsetsOf(d, {all.offsets[2 * k], all.offsets[2 * k + 1]}).setInts({0, 0});
        if (c.request(IO_READ_DS, h, d) == IO_OK) out[all.stringAt(2 * k) + "|" + all.stringAt(2 * k + 1)] = d.ints;
    }
    return out;
}

}  // namespace

// Names holding pattern characters (and, where the format holds them,
// trailing blanks) are written twice, found through a pattern (which retires
// the older copies) and exactly, deleted and copied: each request touches
// its own datasets alone.
TEST(Delete, NamesHoldingPatternCharactersAndBlanksAreKeptApartByEveryRequest) {
    const std::vector<std::pair<std::string, std::string>> held = {
        {"a", "w"}, {"a*", "w"}, {"a?", "w"}, {"[a]", "w"}, {"a", "w*"}, {"a", "[w]"}, {"a ", "w"}, {"a", "w "}};
    for (const char *format : {"F", "u5"}) {
        TempDir dir;
        const std::string src = dir.file("s.kwx"), dst = dir.file("d.kwx");
        std::map<std::string, std::vector<int32_t>> expected;
        Client c;
        ASSERT_EQ(IO_OK, c.open(src));
        ASSERT_EQ(IO_OK, setFormat(c, format));
        std::vector<std::pair<std::string, std::string>> names;
        for (const auto &n : held)
            if (format[0] != 'F' || (n.first.back() != ' ' && n.second.back() != ' ')) names.push_back(n);
        for (int copy = 0; copy < 2; ++copy)
            for (size_t i = 0; i < names.size(); ++i) {
                ASSERT_EQ(IO_OK, c.writeInts(names[i].first, names[i].second, 0, {int32_t(i), copy}));
                expected[names[i].first + "|" + names[i].second] = {int32_t(i), copy};
            }
        EXPECT_EQ(expected, contents(c)) << format;
        for (const auto &name : names) {
            Header h(name.first, name.second, -1);
            Data d;
            d.sizeForLocate(2);
            EXPECT_TRUE(c.exact(IO_LOCATE_DS, h, d) == IO_OK && d.nints == 1) << format << name.first << name.second;
        }
        Header h("a", "w*", 0);
        Data none;
        ASSERT_EQ(IO_OK, c.exact(IO_DELETE_DS, h, none));
        expected.erase("a|w*");
        EXPECT_EQ(expected, contents(c)) << format;
        ASSERT_EQ(IO_OK, c.close());
        ASSERT_EQ(IO_OK, c.copyFile(src, dst, IO_COPY_ALLVALID_DS));
        for (const std::string &file : {src, dst}) {
            Client again;
            ASSERT_EQ(IO_OK, again.open(file));
            EXPECT_EQ(expected, contents(again)) << format << file;
        }
    }
}

TEST(Delete, MarksSurviveFlushAndRebuild) {
    TempDir dir;
    std::string name = dir.file("f.kwx");
    Client c;
    ASSERT_EQ(IO_OK, c.open(name));
    ASSERT_EQ(IO_OK, c.writeInts("a", "b", 1, {1}));
    ASSERT_EQ(IO_OK, c.writeInts("a", "c", 2, {2}));
    ASSERT_EQ(IO_OK, c.writeInts("x", "b", 1, {3}));
    Data found;
    ASSERT_EQ(IO_OK, c.locate("a", "b", 1, found));
    int64_t first = found.offsets[0];

    EXPECT_EQ(IO_OK, deleteDs(c, "a", "*", -1));
    EXPECT_EQ(IO_OK, deleteDs(c, "nothing", "here", -1));
    Data d;
    EXPECT_EQ(IO_ERR_NOTLOCATED, c.locate("a", "*", -1, d));
    ASSERT_EQ(IO_OK, c.close());

    std::string bytes = readFile(name);
    EXPECT_EQ('D', bytes[(size_t)first]);
    EXPECT_EQ((char)('5' | 0x80), bytes[(size_t)first + 1]);
    EXPECT_EQ('\n', bytes[(size_t)first + 2]);

    forceRebuild(name);
    ASSERT_EQ(IO_OK, c.open(name));
    EXPECT_EQ(IO_ERR_NOTLOCATED, c.locate("a", "*", -1, d));
    std::vector<int32_t> values;
    ASSERT_EQ(IO_OK, c.readInts("x", "b", 1, values));
    EXPECT_EQ((std::vector<int32_t>{3}), values);
    // Deleting twice writes nothing and succeeds.
    std::string before = readFile(name);
    EXPECT_EQ(IO_OK, deleteDs(c, "a", "b", 1));
}

TEST(Delete, ByWherePatternByWhatPatternAndThroughThePrimary) {
    TempDir dir;
    Client c;
    ASSERT_EQ(IO_OK, c.open(dir.file("f.kwx")));
    for (const char *what : {"m1", "m2", "n1"})
        for (const char *where : {"r1", "r2"}) ASSERT_EQ(IO_OK, c.writeInts(what, where, 0, {1}));
    EXPECT_EQ(IO_OK, deleteDs(c, "m*", "r1", 0));
    Data d;
    EXPECT_EQ(IO_ERR_NOTLOCATED, c.locate("m*", "r1", -1, d));
    EXPECT_EQ(IO_OK, c.locate("*", "*", -1, d));
    EXPECT_EQ(4, d.nints);
    Header h("n1", "r?", 0);
    Data none;
    EXPECT_EQ(IO_OK, c.request(IO_DELETE_PRIMARY_DS, h, none));
    EXPECT_EQ(IO_OK, c.locate("*", "*", -1, d));
    EXPECT_EQ(2, d.nints);
}

TEST(Copy, CompactionShrinksTheFileAndKeepsEveryLiveDataset) {
    TempDir dir;
    std::string oldName = dir.file("old.kwx"), newName = dir.file("new.kwx");
    {
        Client c;
        ASSERT_EQ(IO_OK, c.open(oldName));
        for (int i = 0; i < 40; ++i)
            ASSERT_EQ(IO_OK, c.writeInts("w" + std::to_string(i), "loc", i % 3, series(i * 7, i)));
        // Rewritten names leave older copies behind.
        for (int i = 0; i < 40; i += 5)
            ASSERT_EQ(IO_OK, c.writeInts("w" + std::to_string(i), "loc", i % 3, series(150, i + 1)));
        for (int i = 1; i < 40; i += 2) ASSERT_EQ(IO_OK, deleteDs(c, "w" + std::to_string(i), "loc", -1));
        ASSERT_EQ(IO_OK, c.close());
    }
    {
        Client c;
        ASSERT_EQ(IO_OK, c.open(oldName));
        ASSERT_EQ(IO_OK, c.open(newName, IO_OPEN_SECONDARY));
        Header h;
        Data d;
        ASSERT_EQ(IO_OK, c.request(IO_COPY_ALLVALID_DS, h, d));
        ASSERT_EQ(IO_OK, c.close());
    }
    EXPECT_LT(readFile(newName).size(), readFile(oldName).size() * 2 / 3);
    Client a, b;
    ASSERT_EQ(IO_OK, a.open(oldName));
    ASSERT_EQ(IO_OK, b.open(newName));
    Data all;
    ASSERT_EQ(IO_OK, b.locate("*", "*", -1, all));
    EXPECT_EQ(20, all.nints);
    for (int i = 0; i < 40; ++i) {
        std::string what = "w" + std::to_string(i);
        Data x, y;
        if (i % 2 == 1) {
            EXPECT_EQ(IO_ERR_NOTLOCATED, b.locate(what, "loc", -1, y)) << what;
            continue;
        }
        ASSERT_EQ(IO_OK, a.locate(what, "loc", -1, x)) << what;
        ASSERT_EQ(IO_OK, b.locate(what, "loc", -1, y)) << what;
        ASSERT_EQ(1, y.nints);
        EXPECT_EQ(x.ints[0], y.ints[0]);
        EXPECT_EQ(x.offsets[1], y.offsets[1]);
        EXPECT_EQ(datasetBytes(oldName, x.offsets[0], x.offsets[1]),
                  datasetBytes(newName, y.offsets[0], y.offsets[1]))
            << what;
        std::vector<int32_t> v;
        ASSERT_EQ(IO_OK, b.readInts(what, "loc", -1, v));
        EXPECT_EQ(i % 5 == 0 ? series(150, i + 1) : series(i * 7, i), v) << what;
    }
}

TEST(Copy, OneDatasetUnderANewName) {
    TempDir dir;
    std::string src = dir.file("src.kwx"), dst = dir.file("dst.kwx");
    Client c;
    ASSERT_EQ(IO_OK, c.open(src));
    ASSERT_EQ(IO_OK, c.writeInts("a", "b", 4, series(10, 1)));
    Data found;
    ASSERT_EQ(IO_OK, c.locate("a", "b", 4, found));
    ASSERT_EQ(IO_OK, c.open(dst, IO_OPEN_SECONDARY));
    Header h("a longer name", "elsewhere", 9);
    Data d;
    offsetsOf(d, {found.offsets[0]});
    ASSERT_EQ(IO_OK, c.request(IO_COPY_DATASET, h, d));
    // Like a written dataset, the copy is followed by the end tag until
    // the index is written.
    Data pos;
    offsetsOf(pos, {0});
    ASSERT_EQ(IO_OK, c.request(IO_INDEX_POSITION, h, pos));
    fflush(c.control()->secondary.stream);
    EXPECT_EQ("*CRASH", readFile(dst).substr((size_t)pos.offsets[0], 6));

    std::vector<int32_t> v;
    ASSERT_EQ(IO_OK, c.readInts("a longer name", "elsewhere", 9, v));
    EXPECT_EQ(series(10, 1), v);
    Data y;
    ASSERT_EQ(IO_OK, c.locate("a longer name", "elsewhere", 9, y));
    EXPECT_EQ(found.offsets[1] + 12 + 8, y.offsets[1]);  // longer WHAT and WHERE
    ASSERT_EQ(IO_OK, c.close());
    Client again;
    ASSERT_EQ(IO_OK, again.open(dst));
    ASSERT_EQ(IO_OK, again.readInts("a longer name", "elsewhere", 9, v));
    EXPECT_EQ(series(10, 1), v);
}

TEST(Copy, SourceThatIsNoDatasetAnswers20AndAddsNothing) {
    TempDir dir;
    std::string src = dir.file("src.kwx"), dst = dir.file("dst.kwx");
    {
        Client c;
        ASSERT_EQ(IO_OK, c.open(src));
        ASSERT_EQ(IO_OK, c.writeInts("a", "b", 1, {1}));
        ASSERT_EQ(IO_OK, c.close());
    }
    Client c;
    ASSERT_EQ(IO_OK, c.open(src));
    Header h("copy", "b", 1);
    Data pos;
    offsetsOf(pos, {0});
    // The primary's index position: the stored index, an F dataset whose
    // tag is "*INDEX".
    ASSERT_EQ(IO_OK, c.request(IO_INDEX_POSITION, h, pos));
    ASSERT_EQ(IO_OK, c.open(dst, IO_OPEN_SECONDARY));
    ASSERT_EQ(IO_OK, c.writeInts("kept", "b", 1, {7}));
    Data before;
    before.setInts({0});
    ASSERT_EQ(IO_OK, c.request(IO_INDEX_COUNT, h, before));
    messages().clear();
    EXPECT_EQ(IO_ERR_BADFILE, c.request(IO_COPY_DATASET, h, pos));
    EXPECT_NE(std::string::npos, messages().find("copy_dataset: bad data set tag"));
    Data after;
    after.setInts({0});
    ASSERT_EQ(IO_OK, c.request(IO_INDEX_COUNT, h, after));
    EXPECT_EQ(before.ints[0], after.ints[0]);
    // What the failed copy wrote is overwritten by the next dataset.
    ASSERT_EQ(IO_OK, c.writeInts("next", "b", 1, {8}));
    ASSERT_EQ(IO_OK, c.close());
    forceRebuild(dst);
    Client d;
    ASSERT_EQ(IO_OK, d.open(dst));
    Data all;
    ASSERT_EQ(IO_OK, d.locate("*", "*", -1, all));
    EXPECT_EQ(2, all.nints);
    std::vector<int32_t> v;
    ASSERT_EQ(IO_OK, d.readInts("next", "b", 1, v));
    EXPECT_EQ((std::vector<int32_t>{8}), v);
}

TEST(Copy, DeletedDatasetIsSkippedAndAFileIsNeverCopiedOntoItself) {
    TempDir dir;
    std::string src = dir.file("src.kwx"), dst = dir.file("dst.kwx");
    Client c;
    ASSERT_EQ(IO_OK, c.open(src));
    ASSERT_EQ(IO_OK, c.writeInts("a", "b", 1, {1}));
    Data found;
    ASSERT_EQ(IO_OK, c.locate("a", "b", 1, found));
    ASSERT_EQ(IO_OK, deleteDs(c, "a", "b", 1));
    Header h;
    Data none;
    ASSERT_EQ(IO_OK, c.request(IO_USE_PRIMARY, h, none));
    messages().clear();
    EXPECT_EQ(IO_ERR_PERMISSION, c.request(IO_COPY_ALLVALID_DS, h, none));
    EXPECT_NE(std::string::npos, messages().find("into itself"));

    ASSERT_EQ(IO_OK, c.open(dst, IO_OPEN_SECONDARY));
    Header named("a", "b", 1);
    Data at;
    offsetsOf(at, {found.offsets[0]});
    EXPECT_EQ(IO_OK, c.request(IO_COPY_DATASET, named, at));
    Data count;
    count.setInts({0});
    ASSERT_EQ(IO_OK, c.request(IO_INDEX_COUNT, named, count));
    EXPECT_EQ(0, count.ints[0]);
}

TEST(Copy, TimeModesKeepWhenZeroOrFoldLaterTimesIntoOne) {
    TempDir dir;
    std::string src = dir.file("src.kwx");
    {
        Client c;
        ASSERT_EQ(IO_OK, c.open(src));
        for (int when : {9, 10, 0, 2}) ASSERT_EQ(IO_OK, c.writeInts("a", "b", when, {when}));
        ASSERT_EQ(IO_OK, c.writeInts("z", "b", 0, {100}));
        ASSERT_EQ(IO_OK, c.close());
    }
    for (int mode : {IO_COPY_WHEN0_DS, IO_COPY_DS_COMPRESS_WHEN}) {
        std::string dst = dir.file("dst" + std::to_string(mode) + ".kwx");
        Client c;
        ASSERT_EQ(IO_OK, c.copyFile(src, dst, mode));
        Client r;
        ASSERT_EQ(IO_OK, r.open(dst));
        std::vector<int32_t> v;
        if (mode == IO_COPY_WHEN0_DS) {
            EXPECT_EQ((std::vector<int32_t>{0}), r.whens("a", "b", -1));
        } else {
            EXPECT_EQ((std::vector<int32_t>{1, 0}), r.whens("a", "b", -1));
            // WHEN 10 is the latest of the folded times, not 9.
            ASSERT_EQ(IO_OK, r.readInts("a", "b", 1, v));
            EXPECT_EQ((std::vector<int32_t>{10}), v);
        }
        ASSERT_EQ(IO_OK, r.readInts("z", "b", 0, v));
        EXPECT_EQ((std::vector<int32_t>{100}), v);
        ASSERT_EQ(IO_OK, r.readInts("a", "b", 0, v));
        EXPECT_EQ((std::vector<int32_t>{0}), v);
    }
}

TEST(Copy, ChosenLocationsAreCopiedInOneRequestWithLaterTimesAsOne) {
    TempDir dir;
    std::string src = dir.file("src.kwx"), dst = dir.file("dst.kwx");
    Client c;
    ASSERT_EQ(IO_OK, c.open(src));
    for (int when : {0, 3}) ASSERT_EQ(IO_OK, c.writeInts("a", "b", when, {when}));
    ASSERT_EQ(IO_OK, c.writeInts("c", "d", 5, {5}));
    ASSERT_EQ(IO_OK, c.writeInts("z", "b", 0, {100}));
    Data a3, z0;
    ASSERT_EQ(IO_OK, c.locate("a", "b", 3, a3));
    ASSERT_EQ(IO_OK, c.locate("z", "b", 0, z0));
    ASSERT_EQ(IO_OK, c.open(dst, IO_OPEN_SECONDARY));
    Data chosen;
    // A location inside a dataset names none: the copy is refused whole.
    offsetsOf(chosen, {a3.offsets[0], z0.offsets[0] + 1});
    EXPECT_EQ(IO_ERR_NOTLOCATED, c.copyChosen(chosen));
    // So is one whose dataset the file marks deleted while its line is live.
    Data c5;
    ASSERT_EQ(IO_OK, c.locate("c", "d", 5, c5, IO_LOCATE_PRIMARY_DS));
    ASSERT_EQ(IO_OK, delete_process_sub(catchMessage, c.control()->primary.stream, c5.offsets[0]));
    offsetsOf(chosen, {c5.offsets[0]});
    EXPECT_EQ(IO_ERR_NOTLOCATED, c.copyChosen(chosen));
    offsetsOf(chosen, {z0.offsets[0], a3.offsets[0]});
    ASSERT_EQ(IO_OK, c.copyChosen(chosen));
    ASSERT_EQ(IO_OK, c.close());
    Client r;
    ASSERT_EQ(IO_OK, r.open(dst));
    EXPECT_EQ((std::vector<int32_t>{1}), r.whens("a", "b", -1));
    EXPECT_TRUE(r.whens("c", "d", -1).empty());
    std::vector<int32_t> v;
    ASSERT_EQ(IO_OK, r.readInts("a", "b", 1, v));
    EXPECT_EQ((std::vector<int32_t>{3}), v);
    ASSERT_EQ(IO_OK, r.readInts("z", "b", 0, v));
    EXPECT_EQ((std::vector<int32_t>{100}), v);
}

TEST(Delete, EveryFormatGetsItsOwnMarkAndAMarkIsNeverWrittenTwice) {
    TempDir dir;
    struct Case {
        std::string format, mark;
    } cases[] = {
        {std::string("F\0\n", 3), "DF\n"},   {"U5\n", "D5\n"},
        {std::string("U\0\n", 3), "DU\n"},   {"u7\n", std::string("D\xb7\n")},
        {std::string("u\0\n", 3), "Du\n"},   {"L3\n", "X3\n"},
        {std::string("L\0\n", 3), "XL\n"},   {"l9\n", std::string("x\xb9\n")},
        {std::string("l\0\n", 3), "xl\n"},   {"u0\n", "Du\n"},
    };
    for (const Case &k : cases) {
        std::string name = dir.file("marks");
        writeFile(name, "0123456789" + k.format + "rest");
        FILE *f = fopen(name.c_str(), "r+b");
        ASSERT_NE(nullptr, f);
        EXPECT_EQ(IO_OK, delete_process_sub(catchMessage, f, 10));
        // Already deleted: left as it is.
        EXPECT_EQ(IO_OK, delete_process_sub(catchMessage, f, 10));
        fclose(f);
        EXPECT_EQ("0123456789" + k.mark + "rest", readFile(name)) << k.format;
    }
    std::string name = dir.file("marks");
    writeFile(name, "0123456789Q5\nrest");
    FILE *f = fopen(name.c_str(), "r+b");
    messages().clear();
    EXPECT_EQ(IO_ERR_FORMAT, delete_process_sub(catchMessage, f, 10));
    EXPECT_EQ(IO_ERR_READ, delete_process_sub(catchMessage, f, 1000));
    fclose(f);
    EXPECT_EQ("0123456789Q5\nrest", readFile(name));
}

TEST(Copy, DatasetDeletedOnlyInTheFileDoesNotMisplaceTheCopiesAfterIt) {
    // The source index still lists a dataset whose bytes carry the deletion
    // mark (its writer died before writing the index). Copying skips it; the
    // next copy must still go to the destination's index position, even when
    // a read has moved the destination's stream elsewhere.
    TempDir dir;
    std::string src = dir.file("src.kwx"), dst = dir.file("dst.kwx");
    int64_t first = 0;
    {
        Client c;
        ASSERT_EQ(IO_OK, c.open(src));
        ASSERT_EQ(IO_OK, c.writeInts("a", "w", 0, {1}));
        ASSERT_EQ(IO_OK, c.writeInts("b", "w", 0, {2, 2}));
        Data found;
        ASSERT_EQ(IO_OK, c.locate("a", "w", 0, found));
        first = found.offsets[0];
        ASSERT_EQ(IO_OK, c.close());
    }
    {
        Client c;
        ASSERT_EQ(IO_OK, c.open(dst));
        ASSERT_EQ(IO_OK, c.writeInts("z", "w", 0, {9}));
        ASSERT_EQ(IO_OK, c.close());
    }
    std::string bytes = readFile(src);
    bytes[(size_t)first] = 'D';
    writeFile(src, bytes);

    Client c;
    ASSERT_EQ(IO_OK, c.open(src));
    ASSERT_EQ(IO_OK, c.open(dst, IO_OPEN_SECONDARY));
    std::vector<int32_t> v;
    ASSERT_EQ(IO_OK, c.readInts("z", "w", 0, v));
    Header h;
    Data none;
    ASSERT_EQ(IO_OK, c.request(IO_COPY_ALLVALID_DS, h, none));
    ASSERT_EQ(IO_OK, c.close());

    Client r;
    ASSERT_EQ(IO_OK, r.open(dst));
    Data all;
    ASSERT_EQ(IO_OK, r.locate("*", "*", -1, all));
    EXPECT_EQ(2, all.nints);
    ASSERT_EQ(IO_OK, r.readInts("b", "w", 0, v));
    EXPECT_EQ((std::vector<int32_t>{2, 2}), v);
    ASSERT_EQ(IO_OK, r.readInts("z", "w", 0, v));
    EXPECT_EQ((std::vector<int32_t>{9}), v);
}

TEST(Copy, MissingRecordsAreRefusedWithoutACrash) {
    IO_file source = freshRecord();
    messages().clear();
    EXPECT_EQ(IO_ERR_NOFILE, copy_dataset(catchMessage, "a", "b", 1, nullptr, &source));
    EXPECT_EQ(IO_ERR_NOFILE, copy_dataset(catchMessage, "a", "b", 1, &source, nullptr));
    EXPECT_EQ(IO_ERR_NOFILE, copy_all_ds(catchMessage, &source, nullptr, 0));
    EXPECT_NE(std::string::npos, messages().find("no open file to copy from or to"));
}

TEST(Copy, BigEndianSourceKeepsItsFormatAndByteOrder) {
    // A dataset of an older big-endian writer copied into a file of this
    // platform stays U: lengths and header records are written byte-reversed.
    TempDir dir;
    std::string src = dir.file("be.kwx"), dst = dir.file("copy.kwx");
    kwxtest::BinBuilder values(true, 4);
    for (int32_t v : {1, -2, 0x01020304}) values.i32(v);
    writeFile(src, kwxtest::infoBlock() +
                       kwxtest::BinBuilder::dataset('U', 0, "ints", "here", 1, "INTR", 3, values.s));
    Client c;
    ASSERT_EQ(IO_OK, c.open(src));
    Data found;
    ASSERT_EQ(IO_OK, c.locate("ints", "here", 1, found));
    ASSERT_EQ(IO_OK, c.open(dst, IO_OPEN_SECONDARY));
    Header none;
    Data nothing;
    ASSERT_EQ(IO_OK, c.request(IO_COPY_ALLVALID_DS, none, nothing));
    Header renamed("longer name", "there", 2);
    Data at;
    offsetsOf(at, {found.offsets[0]});
    ASSERT_EQ(IO_OK, c.request(IO_COPY_DATASET, renamed, at));
    ASSERT_EQ(IO_OK, c.close());

    Client r;
    ASSERT_EQ(IO_OK, r.open(dst));
    std::string bytes = readFile(dst);
    for (auto name : {std::make_pair(std::string("ints"), std::string("here")),
                      std::make_pair(std::string("longer name"), std::string("there"))}) {
        Data y;
        ASSERT_EQ(IO_OK, r.locate(name.first, name.second, -1, y)) << name.first;
        size_t start = (size_t)y.offsets[0];
        EXPECT_EQ(std::string("U\0\n", 3), bytes.substr(start, 3)) << name.first;
        std::string lead = bytes.substr(start + 3, 4);
        std::string trail = bytes.substr(start + 7 + (size_t)y.offsets[1], 4);
        EXPECT_EQ(lead, trail) << name.first;
        int32_t big = (int32_t)(((uint32_t)(unsigned char)lead[0] << 24) |
                                ((uint32_t)(unsigned char)lead[1] << 16) |
                                ((uint32_t)(unsigned char)lead[2] << 8) | (unsigned char)lead[3]);
        EXPECT_EQ(y.offsets[1], big) << name.first;
        std::vector<int32_t> v;
        ASSERT_EQ(IO_OK, r.readInts(name.first, name.second, -1, v)) << name.first;
        EXPECT_EQ((std::vector<int32_t>{1, -2, 0x01020304}), v) << name.first;
    }
}
