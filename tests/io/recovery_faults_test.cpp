// Data files after a crash or damage: what the index retires is marked in
// the file so that no rebuild brings it back; a damaged stored index or a
// file cut inside a dataset still opens with every whole dataset; torn
// writes (a new file's start, a deletion mark) never make a file unopenable.
#include "file_fixture.h"
#include "io_test_util.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using iotest::Client;
using iotest::Data;
using iotest::Header;
using iotest::messages;
using iotest::missing;
using vrntest::TempDir;

int deleteName(Client &c, const std::string &what, const std::string &where, int32_t when) {
    Header h(what, where, when);
    Data d;
    return c.request(IO_DELETE_DS, h, d);
}

// Location and length of the dataset of a name.
std::pair<int64_t, int64_t> placeOf(Client &c, const std::string &what, const std::string &where, int32_t when) {
    Data found;
    if (c.locate(what, where, when, found) != IO_OK) return {-1, -1};
    return {found.offsets[0], found.offsets[1]};
}

// The position of the stored index: the number on the file's last line.
size_t storedIndexAt(const std::string &bytes) {
    size_t end = bytes.size() - 1;
    size_t start = bytes.rfind('\n', end - 1) + 1;
    return std::stoul(bytes.substr(start, end - start));
}

// A file holding a:w:1 written twice (1, then 2) and k:w:1 (5).
void writeATwiceAndK(const std::string &name) {
    Client c;
    ASSERT_EQ(IO_OK, c.open(name));
    ASSERT_EQ(IO_OK, c.writeInts("a", "w", 1, {1}));
    ASSERT_EQ(IO_OK, c.writeInts("a", "w", 1, {2}));
    ASSERT_EQ(IO_OK, c.writeInts("k", "w", 1, {5}));
}

TEST(RetiredDatasets, ACopyRetiredUnderAReadLockStaysDeletedAfterARebuild) {
    TempDir dir;
    const std::string name = dir.file("f.kwx");
    ASSERT_NO_FATAL_FAILURE(writeATwiceAndK(name));
    {
        // Opened for reading: the lookup retires the older copy while the
        // handle holds only a read lock; then the name is deleted.
        Client c;
        ASSERT_EQ(IO_OK, c.open(name));
        EXPECT_EQ((std::vector<int32_t>{1}), c.whens("a", "w", 1));
        ASSERT_EQ(IO_OK, deleteName(c, "a", "w", 1));
        ASSERT_EQ(IO_OK, c.close());
    }
    iotest::forceRebuild(name);
    Client c;
    ASSERT_EQ(IO_OK, c.open(name));
    std::vector<int32_t> v;
    EXPECT_EQ(IO_ERR_NOTLOCATED, c.readInts("a", "w", 1, v)) << "an older copy came back";
    EXPECT_EQ(IO_OK, c.readInts("k", "w", 1, v));
}

TEST(RetiredDatasets, FileAndStoredIndexAgreeOnEverySupersededCopy) {
    TempDir dir;
    const std::string name = dir.file("f.kwx");
    {
        Client c;
        ASSERT_EQ(IO_OK, c.open(name));
        for (int32_t v : {1, 2, 3}) ASSERT_EQ(IO_OK, c.writeInts("a", "w", 1, {v}));
    }
    int32_t liveInStoredIndex = 0;
    {
        // A reader's lookup retires two copies; a write makes it the writer.
        Client c;
        ASSERT_EQ(IO_OK, c.open(name));
        EXPECT_EQ((std::vector<int32_t>{1}), c.whens("a", "w", 1));
        ASSERT_EQ(IO_OK, c.writeInts("b", "w", 1, {7}));
        ASSERT_EQ(IO_OK, c.close());
    }
    {
        std::string bytes = vrntest::readFile(name);
        std::string index = bytes.substr(storedIndexAt(bytes));
        for (size_t at = index.find("\nY\x1b"); at != std::string::npos; at = index.find("\nY\x1b", at + 1))
            ++liveInStoredIndex;
    }
    EXPECT_EQ(2, liveInStoredIndex);
    // A rebuild from the datasets finds exactly what the stored index lists.
    iotest::forceRebuild(name);
    Client c;
    ASSERT_EQ(IO_OK, c.open(name));
    EXPECT_EQ(liveInStoredIndex, c.control()->primary.nlines);
    std::vector<int32_t> v;
    ASSERT_EQ(IO_OK, c.readInts("a", "w", 1, v));
    EXPECT_EQ((std::vector<int32_t>{3}), v);
}

TEST(RetiredDatasets, AnIndexRebuiltOnRequestKeepsWhatTheSessionRetired) {
    TempDir dir;
    const std::string name = dir.file("f.kwx");
    ASSERT_NO_FATAL_FAILURE(writeATwiceAndK(name));
    {
        // A lookup retires the older copy before anything is written (its
        // mark is owed), then the index is rebuilt from the datasets.
        Client c;
        ASSERT_EQ(IO_OK, c.open(name));
        EXPECT_EQ((std::vector<int32_t>{1}), c.whens("a", "w", 1));
        Header h;
        Data none;
        ASSERT_EQ(IO_OK, c.request(IO_RECREATE_INDEX, h, none));
        ASSERT_EQ(IO_OK, c.close());
    }
    // The stored index lists what the file holds: a search for a missing
    // name finds nothing wrong with it.
    Client c;
    ASSERT_EQ(IO_OK, c.open(name));
    messages().clear();
    Data found;
    EXPECT_EQ(IO_ERR_NOTLOCATED, c.locate("zz", "w", 1, found));
    EXPECT_EQ("", messages());
    std::vector<int32_t> v;
    ASSERT_EQ(IO_OK, c.readInts("a", "w", 1, v));
    EXPECT_EQ((std::vector<int32_t>{2}), v);
}

TEST(RetiredDatasets, ADeleteThatReachedTheFileIsNotUndoneByTheStoredIndexAfterACrash) {
    TempDir dir;
    const std::string name = dir.file("f.kwx");
    {
        Client c;
        ASSERT_EQ(IO_OK, c.open(name));
        ASSERT_EQ(IO_OK, c.writeInts("a", "w", 1, {1}));
        ASSERT_EQ(IO_OK, c.writeInts("b", "w", 1, {2}));
    }
    // A writer deletes a and dies before closing: only the mark reached the
    // file, the stored index still lists a.
    auto child = vrntest::runInChild([&] {
        Client c;
        if (c.open(name) != IO_OK || deleteName(c, "a", "w", 1) != IO_OK) _exit(1);
        _exit(0);
        return 1;
    });
    ASSERT_EQ(0, child.exitStatus);
    unlink((name + ".lck").c_str());
    Client c;
    ASSERT_EQ(IO_OK, c.open(name));
    std::vector<int32_t> v;
    EXPECT_EQ(IO_ERR_NOTLOCATED, c.readInts("a", "w", 1, v)) << "a deleted dataset is readable again";
    EXPECT_EQ(IO_OK, c.readInts("b", "w", 1, v));
}

TEST(RetiredDatasets, ASearchThatFindsNothingAfterARetirementReportsNoDamage) {
    // A session retires the older copy of a, in a file that holds a deleted
    // dataset too, then searches a name the file never held: nothing is
    // reported and nothing but what the retirement owes the file is written
    // (the index is not rebuilt from the datasets).
    for (const char *format : {"u5", "F", "l"}) {
        TempDir dir;
        std::string sizes[2];
        for (int search = 0; search < 2; ++search) {
            const std::string name = dir.file("f" + std::to_string(search) + ".kwx");
            {
                Client c;
                ASSERT_EQ(IO_OK, c.open(name));
                ASSERT_EQ(IO_OK, iotest::setFormat(c, format));
                for (const char *n : {"a", "b", "c"}) ASSERT_EQ(IO_OK, c.writeInts(n, "w", 1, {1}));
                ASSERT_EQ(IO_OK, c.close());
            }
            {
                Client c;
                ASSERT_EQ(IO_OK, c.open(name));
                ASSERT_EQ(IO_OK, iotest::setFormat(c, format));
                ASSERT_EQ(IO_OK, c.writeInts("a", "w", 1, {2}));
                ASSERT_EQ(IO_OK, deleteName(c, "c", "w", 1));
                ASSERT_EQ(IO_OK, c.close());
            }
            Client c;
            ASSERT_EQ(IO_OK, c.open(name));
            messages().clear();
            EXPECT_EQ((std::vector<int32_t>{1}), c.whens("a", "w", 1));
            if (search) {
                Data found;
                EXPECT_EQ(IO_ERR_NOTLOCATED, c.locate("zz", "w", 1, found)) << format;
            }
            ASSERT_EQ(IO_OK, c.close());
            EXPECT_EQ("", messages()) << format;
            sizes[search] = std::to_string(vrntest::readFile(name).size());
        }
        EXPECT_EQ(sizes[0], sizes[1]) << format << ": the search had the index rebuilt";
    }
}

TEST(RetiredDatasets, ASearchThatFindsNothingAfterTwoRetirementsOwedOutOfOrderReportsNoDamage) {
    // A name written three times: a session that writes nothing retires the
    // two older copies at its first lookup, the newer of them first, and
    // owes the file their marks. A search for a name the file never held
    // then checks the table against the file: both retired lines are the
    // session's own, so nothing is reported and the index is not rebuilt.
    TempDir dir;
    const std::string name = dir.file("f.kwx");
    {
        Client c;
        ASSERT_EQ(IO_OK, c.open(name));
        for (int32_t v : {1, 2, 3}) ASSERT_EQ(IO_OK, c.writeInts("a", "w", 1, {v}));
        ASSERT_EQ(IO_OK, c.close());
    }
    Client c;
    ASSERT_EQ(IO_OK, c.open(name));
    messages().clear();
    std::vector<int32_t> v;
    ASSERT_EQ(IO_OK, c.readInts("a", "w", 1, v));
    EXPECT_EQ(std::vector<int32_t>{3}, v);
    Data found;
    EXPECT_EQ(IO_ERR_NOTLOCATED, c.locate("zz", "w", 1, found));
    EXPECT_EQ("", messages());
    EXPECT_EQ((std::vector<int32_t>{1}), c.whens("a", "w", 1));
}

// Datasets a, b, c, ... (n of them) of the format given.
void writeLetters(const std::string &name, int n, const char *format = "F") {
    Client c;
    ASSERT_EQ(IO_OK, c.open(name));
    ASSERT_EQ(IO_OK, iotest::setFormat(c, format));
    for (int k = 0; k < n; ++k) ASSERT_EQ(IO_OK, iotest::writeLetter(c, char('a' + k)));
    ASSERT_EQ(IO_OK, c.close());
}

TEST(DamagedFiles, AReadThroughADamagedStoredNameFindsNoOtherDataset) {
    // The damage sweep covers what open and close keep; here a read through
    // the damaged line finds dataset c at its location: not what the line
    // names, and no error either. The line's WHAT made z, its WHEN 7 or its
    // WHERE "*" (beside a newer c:w5:1); an exact locate of the name the
    // line gives and a read at the location it answers find nothing. A read
    // that asks for room first and one given room up front are both checked.
    struct Damage {
        size_t at;   // the byte of the line "Y" ESC "c" ESC "w" ESC "1" changed
        char to;
        const char *what, *where;
        int32_t when;
    };
    for (const Damage &damage : {Damage{2, 'z', "z", "w", 1}, Damage{6, '7', "c", "w", 7},
                                 Damage{4, '*', "c", "*", 1}}) {
        for (bool room : {false, true}) {
            TempDir dir;
            const std::string name = dir.file("f.kwx");
            writeLetters(name, 5);
            {
                Client c;
                ASSERT_EQ(IO_OK, c.open(name));
                ASSERT_EQ(IO_OK, c.writeInts("c", "w5", 1, {99}));
                ASSERT_EQ(IO_OK, c.close());
            }
            std::string bytes = vrntest::readFile(name);
            const size_t count = bytes.find("*INDEX\n", storedIndexAt(bytes)) + 7;
            bytes[bytes.find("Y\x1b" "c\x1b" "w\x1b" "1\x1b", count) + damage.at] = damage.to;
            vrntest::writeFile(name, bytes);
            Client c;
            ASSERT_EQ(IO_OK, c.open(name));
            Header h(damage.what, damage.where, damage.when);
            Data found;
            found.sizeForLocate(1);
            ASSERT_EQ(IO_OK, c.exact(IO_LOCATE_DS, h, found)) << damage.to;
            Data d;
            iotest::offsetsOf(d, {found.offsets[0], found.offsets[1]});
            if (room) d.setInts(std::vector<int32_t>(8, 0));
            EXPECT_EQ(IO_ERR_NOTLOCATED, c.request(IO_READ_DS, h, d)) << damage.to << room;
            Header again(damage.what, damage.where, damage.when);
            EXPECT_EQ(IO_ERR_NOTLOCATED, c.exact(IO_LOCATE_DS, again, found)) << damage.to << room;
            EXPECT_EQ("", missing(c, "abcde"));
        }
    }
}

TEST(DamagedFiles, AZeroLengthWithWholeDatasetsAfterItIsSteppedOverAndNothingIsCut) {
    // Four zero bytes inserted after c's format bytes, in a file whose size
    // was cleared as a killed writer leaves it: the rebuild used to stop at
    // c, and the next write and close cut d and e off.
    TempDir dir;
    const std::string name = dir.file("f.kwx");
    writeLetters(name, 5, "u");
    std::string bytes = vrntest::readFile(name);
    // Its format bytes, length, "*DATASET", "*HEADER" and WHAT records.
    const size_t c = bytes.find("WHAT\x1b" "c") - 4 - 7 - 4 - 8 - 4 - 3;
    ASSERT_EQ('u', bytes[c]);
    bytes.insert(c + 3, std::string(4, '\0'));
    bytes.replace(6, 20, std::string(19, ' ') + "0");
    vrntest::writeFile(name, bytes);
    iotest::expectKeptAfterOneMoreWrite(name, "abde", 'f');
    std::string after = vrntest::readFile(name);
    EXPECT_EQ(bytes.substr(36, storedIndexAt(bytes) - 36), after.substr(36, storedIndexAt(bytes) - 36));
}

TEST(DamagedFiles, AFileClosedCleanlyKeepsTheBytesWhereItsRebuildStopped) {
    // One byte inserted inside the last dataset: the next write went over it.
    TempDir dir;
    const std::string name = dir.file("f.kwx");
    writeLetters(name, 5);
    std::string bytes = vrntest::readFile(name);
    bytes.insert(bytes.rfind("*ENDDATASET", storedIndexAt(bytes)) - 4, "7");
    vrntest::writeFile(name, bytes);
    iotest::expectKeptAfterOneMoreWrite(name, "abcd", 'f');
    EXPECT_EQ(bytes.substr(36), vrntest::readFile(name).substr(36, bytes.size() - 36));
}

TEST(DamagedFiles, ADamagedStoredIndexLengthStillOpensWithEveryDataset) {
    TempDir dir;
    const std::string name = dir.file("f.kwx");
    {
        Client c;
        ASSERT_EQ(IO_OK, c.open(name));
        ASSERT_EQ(IO_OK, c.writeInts("a", "w", 1, {1}));
        ASSERT_EQ(IO_OK, c.writeInts("b", "w", 1, {2, 2}));
        ASSERT_EQ(IO_OK, c.writeInts("c", "w", 1, {3, 3, 3}));
    }
    std::string bytes = vrntest::readFile(name);
    // The index dataset's leading length: after its three format bytes.
    size_t field = storedIndexAt(bytes) + 3;
    bytes.replace(field, 20, "99999999999999999999");
    vrntest::writeFile(name, bytes);
    {
        Client c;
        messages().clear();
        ASSERT_EQ(IO_OK, c.open(name)) << messages();
        std::vector<int32_t> v;
        for (auto what : {"a", "b", "c"}) EXPECT_EQ(IO_OK, c.readInts(what, "w", 1, v)) << what;
        EXPECT_EQ((std::vector<int32_t>{3, 3, 3}), v);
        EXPECT_NE(std::string::npos, messages().find("bad dataset length")) << messages();
        ASSERT_EQ(IO_OK, c.writeInts("d", "w", 1, {4}));
    }
    // The damaged index was written over: the file opens from its new
    // stored index and from a rebuild alike.
    for (bool rebuild : {false, true}) {
        if (rebuild) iotest::forceRebuild(name);
        Client c;
        messages().clear();
        ASSERT_EQ(IO_OK, c.open(name));
        EXPECT_EQ(4, c.control()->primary.nlines);
        EXPECT_EQ(std::string::npos, messages().find("bad dataset length")) << messages();
    }
}

TEST(DamagedFiles, AFileCutInsideADatasetKeepsTheDatasetsBeforeTheCut) {
    TempDir dir;
    const std::string name = dir.file("f.kwx");
    std::pair<int64_t, int64_t> third;
    {
        Client c;
        ASSERT_EQ(IO_OK, c.open(name));
        ASSERT_EQ(IO_OK, c.writeInts("a", "w", 1, {1}));
        ASSERT_EQ(IO_OK, c.writeInts("b", "w", 1, {2, 2}));
        std::vector<int32_t> many(300);
        for (size_t i = 0; i < many.size(); ++i) many[i] = int32_t(i * 7);
        ASSERT_EQ(IO_OK, c.writeInts("c", "w", 1, many));
        third = placeOf(c, "c", "w", 1);
    }
    ASSERT_GT(third.second, 40);
    std::string bytes = vrntest::readFile(name);
    bytes.resize(size_t(third.first + third.second / 2));
    vrntest::writeFile(name, bytes);
    {
        Client c;
        messages().clear();
        ASSERT_EQ(IO_OK, c.open(name)) << messages();
        EXPECT_NE(std::string::npos,
                  messages().find("the file ends inside the dataset at offset " + std::to_string(third.first)))
            << messages();
        std::vector<int32_t> v;
        EXPECT_EQ(IO_OK, c.readInts("a", "w", 1, v));
        EXPECT_EQ(IO_OK, c.readInts("b", "w", 1, v));
        EXPECT_EQ((std::vector<int32_t>{2, 2}), v);
        EXPECT_EQ(IO_ERR_NOTLOCATED, c.readInts("c", "w", 1, v));
        // The file was closed cleanly: the cut dataset is damage, kept as
        // it is, and a later dataset goes past the bytes its length claims.
        ASSERT_EQ(IO_OK, c.writeInts("d", "w", 1, {4}));
        ASSERT_EQ('u', bytes[size_t(third.first)]);   // two lengths of 4 bytes
        EXPECT_EQ(third.first + 3 + 8 + third.second, placeOf(c, "d", "w", 1).first);
    }
    EXPECT_EQ(bytes.substr(36), vrntest::readFile(name).substr(36, bytes.size() - 36));
    // Nothing of the cut dataset passes for data.
    iotest::forceRebuild(name);
    Client c;
    messages().clear();
    ASSERT_EQ(IO_OK, c.open(name));
    EXPECT_EQ(3, c.control()->primary.nlines);
    std::vector<int32_t> v;
    EXPECT_EQ(IO_ERR_NOTLOCATED, c.readInts("c", "w", 1, v));
    EXPECT_EQ(IO_OK, c.readInts("d", "w", 1, v));
}

TEST(DamagedFiles, ADatasetWrittenAfterACutIsFoundByEveryLaterOpen) {
    // A text dataset cut one byte before its end (its trailing length lost
    // its line end), and the first or a middle one cut so that the next
    // dataset's length field stands where the cut one's trailing length
    // was, with the same value: the next dataset written was read as part
    // of the cut one, or the cut one across it.
    TempDir dir;
    const std::string name = dir.file("f.kwx");
    writeLetters(name, 5);
    const std::string good = vrntest::readFile(name);
    std::pair<int64_t, int64_t> a, c;
    {
        Client r;
        ASSERT_EQ(IO_OK, r.open(name));
        a = placeOf(r, "a", "w", 1);
        c = placeOf(r, "c", "w", 1);
    }
    const size_t endOfA = size_t(a.first + 3 + 42 + a.second), endOfC = size_t(c.first + 3 + 42 + c.second);
    // The same file with c deleted: a deleted dataset cut there claims its
    // bytes just as well.
    std::string deletedC;
    {
        Client w;
        ASSERT_EQ(IO_OK, w.open(name));
        ASSERT_EQ(IO_OK, deleteName(w, "c", "w", 1));
        ASSERT_EQ(IO_OK, w.close());
        deletedC = vrntest::readFile(name);
    }
    struct Cut {
        size_t at;
        std::string whole;
        char like;   // the next dataset is as long as this one
        bool deleted = false;
    };
    for (const Cut &cut : {Cut{endOfC - 1, "ab", 'c'}, Cut{endOfA - 24, "", 'a'}, Cut{endOfC - 24, "ab", 'c'},
                           Cut{endOfC - 24, "ab", 'c', true}}) {
        vrntest::writeFile(name, (cut.deleted ? deletedC : good).substr(0, cut.at));
        {
            Client w;
            messages().clear();
            ASSERT_EQ(IO_OK, w.open(name)) << messages();
            ASSERT_EQ(IO_OK, iotest::setFormat(w, "F"));
            ASSERT_EQ(IO_OK, w.writeInts("z", "w", 1, iotest::letterValues(cut.like)));
            ASSERT_EQ(IO_OK, w.close());
        }
        for (bool rebuild : {false, true}) {
            if (rebuild) iotest::forceRebuild(name);
            Client r;
            messages().clear();
            ASSERT_EQ(IO_OK, r.open(name));
            std::vector<int32_t> v;
            EXPECT_EQ(IO_OK, r.readInts("z", "w", 1, v))
                << cut.at << " " << cut.deleted << " " << rebuild << ": " << messages();
            EXPECT_EQ(iotest::letterValues(cut.like), v);
            EXPECT_EQ("", missing(r, cut.whole)) << cut.at;
        }
    }
    // A big-endian binary dataset cut before the last byte of its trailing
    // length, a zero (the length is a multiple of 256): whole with the zero
    // that the next write leaves, it is found in the session that writes
    // past it, and by every later one.
    std::string be, bigName;
    std::vector<int32_t> values;
    for (size_t l = 1; l <= 4 && bigName.empty(); ++l) {
        for (int n = 1; n <= 64 && bigName.empty(); ++n) {
            kwxtest::BinBuilder items(true, 4);
            values.assign(size_t(n), n);
            for (int32_t v : values) items.i32(v);
            be = kwxtest::BinBuilder::dataset('U', 0, std::string(l, 'B'), "w", 1, "INTR", n, items.s);
            if ((be.size() - 11) % 256 == 0) bigName.assign(l, 'B');
        }
    }
    ASSERT_FALSE(bigName.empty());
    vrntest::writeFile(name, kwxtest::infoBlock() + be.substr(0, be.size() - 1));
    for (int session = 0; session < 2; ++session) {
        Client w;
        ASSERT_EQ(IO_OK, w.open(name));
        std::vector<int32_t> v;
        EXPECT_EQ(IO_OK, w.readInts(bigName, "w", 1, v)) << session;
        EXPECT_EQ(values, v) << session;
        if (session == 0) {
            ASSERT_EQ(IO_OK, iotest::writeLetter(w, 'z'));
        }
        EXPECT_EQ(IO_OK, w.readInts(bigName, "w", 1, v)) << session;
        EXPECT_EQ("", missing(w, "z")) << session;
        ASSERT_EQ(IO_OK, w.close());
    }
}

TEST(DamagedFiles, AShortenedInfoBlockIsNeverWrittenAndEveryOpenRebuilds) {
    // The size was written over the first dataset, or the open failed. In a
    // file of size field width 20, and one of width 10 (block of 26 bytes).
    TempDir dir;
    const std::string name = dir.file("f.kwx");
    // Bytes gone from the block (two of them from its "*ENDINFO" line), and
    // in a file of width 10 the stored index cut too, so that only the
    // first dataset's lengths show the width.
    struct Gone {
        size_t first, second, indexCut;
    };
    for (int width : {20, 10}) {
        if (width == 10) vrntest::writeFile(name, "*INFO\n" + std::string(9, ' ') + "0\n*ENDINFO\n");
        writeLetters(name, 5);
        const std::string good = vrntest::readFile(name);
        const std::vector<Gone> cuts = width == 20
                                           ? std::vector<Gone>{{24, 12, 0}, {14, 22, 0}, {8, 19, 0}, {15, 19, 0}, {32, 2, 0}}
                                           : std::vector<Gone>{{14, 12, 0}, {8, 9, 0}, {14, 12, 5}};
        for (const Gone &gone : cuts) {
            std::string bytes = good.substr(0, good.size() - gone.indexCut);
            bytes.erase(gone.first, gone.second);
            const size_t datasets = storedIndexAt(good) - gone.second;
            vrntest::writeFile(name, bytes);
            size_t size = 0;
            for (int session = 0; session < 2; ++session) {
                Client c;
                ASSERT_EQ(IO_OK, c.open(name));
                ASSERT_EQ(IO_OK, c.close());
                // Each open rebuilds; the file does not grow by an index.
                if (session == 1) {
                    EXPECT_EQ(size, vrntest::readFile(name).size());
                }
                size = vrntest::readFile(name).size();
            }
            EXPECT_EQ(bytes.substr(0, datasets), vrntest::readFile(name).substr(0, datasets)) << gone.first;
            iotest::expectKeptAfterOneMoreWrite(name, "abcde", 'f');
            EXPECT_NE(std::string::npos, messages().find("info block")) << messages();
            EXPECT_EQ(bytes.substr(0, datasets), vrntest::readFile(name).substr(0, datasets)) << gone.first;
        }
        vrntest::writeFile(name, "");
    }
}

TEST(DamagedFiles, ARebuildRequestOnAShortenedInfoBlockWithNoWholeDatasetAfterItKeepsTheBlock) {
    // A file cut inside its first dataset, its info block shortened: the
    // rebuild that request 42 asks for left new data to go at offset 0.
    TempDir dir;
    const std::string name = dir.file("f.kwx");
    writeLetters(name, 1);
    std::string bytes = vrntest::readFile(name).substr(0, 60);
    bytes.erase(24, 12);
    vrntest::writeFile(name, bytes);
    {
        Client c;
        ASSERT_EQ(IO_OK, c.open(name));
        Header h;
        Data none;
        ASSERT_EQ(IO_OK, c.request(IO_RECREATE_INDEX, h, none));
        ASSERT_EQ(IO_OK, iotest::writeLetter(c, 'b'));
        ASSERT_EQ(IO_OK, c.close());
    }
    EXPECT_EQ(bytes, vrntest::readFile(name).substr(0, bytes.size()));
    Client c;
    ASSERT_EQ(IO_OK, c.open(name));
    EXPECT_EQ("", missing(c, "b"));
}

TEST(DamagedFiles, AnOldIndexWhoseLengthReachesTheLastIndexKeepsTheDatasetsBetween) {
    // An old index left between b and c, its leading length damaged to end
    // where the trailing length of the index that ends the file starts: the
    // rebuild stepped over c and d, and the next write went over them.
    TempDir dir;
    const std::string name = dir.file("f.kwx");
    writeLetters(name, 4);
    const std::string good = vrntest::readFile(name);
    size_t c = 0;
    {
        Client r;
        ASSERT_EQ(IO_OK, r.open(name));
        c = size_t(placeOf(r, "c", "w", 1).first);
    }
    std::string bytes = good.substr(0, c) + good.substr(storedIndexAt(good)) + good.substr(c);
    const std::string reach = std::to_string(bytes.size() - 2 * 21 - (c + 3 + 21));
    bytes.replace(c + 3, 20, std::string(20 - reach.size(), ' ') + reach);
    vrntest::writeFile(name, bytes);
    iotest::expectKeptAfterOneMoreWrite(name, "abcd", 'e');
}

TEST(DamagedFiles, AFileWhoseInfoBlockIsDamagedDoesNotGrowInSessionsThatWriteNoData) {
    // "*ENDINFO" made "*ENDINFX", so that every open rebuilds, in files that
    // end in damage: bytes after the stored index, a killed writer's
    // "*CRASH" in its place, and a file with no dataset. Each session that
    // wrote nothing appended a whole index; one that deleted a dataset
    // appended one after the index the session before had appended.
    TempDir dir;
    const std::string name = dir.file("f.kwx");
    writeLetters(name, 5);
    const std::string good = vrntest::readFile(name);
    const std::string empty = "*INFO\n" + std::string(19, ' ') + "0\n*ENDINFO\n";
    for (int tail = 0; tail < 4; ++tail) {
        std::string bytes = tail == 3 ? empty : good;
        bytes[33] = 'X';
        if (tail == 0 || tail == 3) bytes += "Q";
        if (tail == 1) bytes += std::string(50, '\xff');
        if (tail == 2) bytes = bytes.substr(0, storedIndexAt(bytes)) + "*CRASH\n";
        vrntest::writeFile(name, bytes);
        for (int session = 0; session < 3; ++session) {
            Client c;
            ASSERT_EQ(IO_OK, c.open(name));
            Data found;
            c.locate("*", "w", 1, found);
            ASSERT_EQ(IO_OK, c.close());
            EXPECT_EQ(bytes, vrntest::readFile(name)) << tail << " " << session;
        }
        if (tail == 3) continue;
        size_t before = bytes.size() + good.size();
        for (const char *what : {"a", "b", "c"}) {
            Client c;
            ASSERT_EQ(IO_OK, c.open(name));
            ASSERT_EQ(IO_OK, deleteName(c, what, "w", 1));
            ASSERT_EQ(IO_OK, c.close());
            const size_t size = vrntest::readFile(name).size();
            EXPECT_LT(size, before) << tail << " " << what;
            before = size;
        }
        Client c;
        ASSERT_EQ(IO_OK, c.open(name));
        EXPECT_EQ("abc", missing(c, "abcde")) << tail;
    }
    // The datasets themselves end in damage (e's trailing length): the next
    // write goes where the index that ends the file was, and no byte before
    // it is written over.
    const std::string damaged = dir.file("g.kwx");
    writeLetters(damaged, 5);
    std::pair<int64_t, int64_t> e;
    {
        Client r;
        ASSERT_EQ(IO_OK, r.open(damaged));
        e = placeOf(r, "e", "w", 1);
    }
    std::string bytes = vrntest::readFile(damaged);
    bytes[33] = 'X';
    bytes[size_t(e.first + 3 + 21 + e.second + 19)] ^= 1;
    vrntest::writeFile(damaged, bytes);
    const size_t index = storedIndexAt(bytes);
    {
        Client w;
        ASSERT_EQ(IO_OK, w.open(damaged));
        ASSERT_EQ(IO_OK, iotest::writeLetter(w, 'f'));
        EXPECT_EQ(int64_t(index), placeOf(w, "f", "w", 1).first);
        ASSERT_EQ(IO_OK, w.close());
    }
    EXPECT_EQ(bytes.substr(0, index), vrntest::readFile(damaged).substr(0, index));
    iotest::expectKeptAfterOneMoreWrite(damaged, "abcdf", 'g');
}

TEST(DamagedFiles, AnInfoBlockWholeAtTheOtherWidthIsNotBelieved) {
    // Ten blanks gone from a size line of width 20 leave a block whole at
    // width 10: read at it, no text length framed and every text dataset
    // was lost. Ten blanks added to one of width 10 do the opposite.
    TempDir dir;
    const std::string name = dir.file("f.kwx");
    for (int width : {20, 10}) {
        for (size_t at : {size_t(8), size_t(13)}) {
            vrntest::writeFile(name, width == 20 ? "" : "*INFO\n" + std::string(9, ' ') + "0\n*ENDINFO\n");
            writeLetters(name, 5);
            std::string bytes = vrntest::readFile(name);
            if (width == 20)
                bytes.erase(at, 10);
            else
                bytes.insert(at, std::string(10, ' '));
            vrntest::writeFile(name, bytes);
            iotest::expectKeptAfterOneMoreWrite(name, "abcde", 'f');
            EXPECT_EQ(bytes.substr(0, 40), vrntest::readFile(name).substr(0, 40)) << width << " " << at;
        }
    }
    // The same in a width-20 file whose first text dataset is damaged too:
    // a's trailing length changed, a blank gone from its leading length, or
    // the file cut inside its only dataset. A read-only session leaves the
    // file as it was.
    for (int damage : {0, 1, 2}) {
        const bool cut = damage == 2;
        vrntest::writeFile(name, "");
        writeLetters(name, cut ? 1 : 2);
        std::string bytes = vrntest::readFile(name);
        Client r;
        ASSERT_EQ(IO_OK, r.open(name));
        const std::pair<int64_t, int64_t> a = placeOf(r, "a", "w", 1);
        ASSERT_EQ(IO_OK, r.close());
        if (cut)
            bytes.resize(size_t(a.first + a.second / 2));
        else if (damage == 1)
            bytes.erase(size_t(a.first + 3), 1);
        else
            bytes[size_t(a.first + 3 + 21 + a.second + 19)] ^= 1;
        bytes.erase(6, 10);
        vrntest::writeFile(name, bytes);
        {
            Client c;
            ASSERT_EQ(IO_OK, c.open(name));
            EXPECT_EQ("", missing(c, cut ? "" : "b")) << damage;
            ASSERT_EQ(IO_OK, c.close());
        }
        EXPECT_EQ(bytes, vrntest::readFile(name)) << damage;
        iotest::expectKeptAfterOneMoreWrite(name, cut ? "" : "b", 'f');
    }
    // Binary datasets first, then the only text one, c, damaged in its
    // trailing length, and no stored index ending the file: the width is
    // shown by c's leading length line, found by stepping over a and b.
    {
        vrntest::writeFile(name, "");
        Client w;
        ASSERT_EQ(IO_OK, w.open(name));
        for (char l : {'a', 'b', 'c', 'd'}) {
            ASSERT_EQ(IO_OK, iotest::setFormat(w, l == 'c' ? "F" : "u"));
            ASSERT_EQ(IO_OK, iotest::writeLetter(w, l));
        }
        const std::pair<int64_t, int64_t> c = placeOf(w, "c", "w", 1);
        ASSERT_EQ(IO_OK, w.close());
        std::string bytes = vrntest::readFile(name);
        bytes[size_t(c.first + 3 + 21 + c.second + 19)] ^= 1;
        bytes.resize(storedIndexAt(bytes));
        bytes.erase(6, 10);
        vrntest::writeFile(name, bytes);
        {
            Client r;
            ASSERT_EQ(IO_OK, r.open(name));
            EXPECT_EQ("", missing(r, "abd")) << messages();
            ASSERT_EQ(IO_OK, r.close());
        }
        EXPECT_EQ(bytes, vrntest::readFile(name));
        iotest::expectKeptAfterOneMoreWrite(name, "abd", 'f');
    }
}

TEST(DamagedFiles, ACrashTagWithWholeDatasetsAfterItEndsNothing) {
    // A killed writer's file (its size cleared) with "*CRASH" where a middle
    // dataset starts: a rebuild that ended there would let the next write
    // go over c, d and e.
    TempDir dir;
    const std::string name = dir.file("f.kwx");
    writeLetters(name, 5);
    std::string bytes = vrntest::readFile(name);
    Client r;
    ASSERT_EQ(IO_OK, r.open(name));
    const std::pair<int64_t, int64_t> c = placeOf(r, "c", "w", 1);
    ASSERT_EQ(IO_OK, r.close());
    bytes.insert(size_t(c.first), "*CRASH\n");
    bytes.replace(6, 20, std::string(19, ' ') + "0");
    vrntest::writeFile(name, bytes);
    iotest::expectKeptAfterOneMoreWrite(name, "abcde", 'f');
}

TEST(DamagedFiles, ADatasetDamagedOnlyInItsTrailingLengthIsKeptAcrossSessions) {
    // Binary lengths; d's header tag damaged (its lengths are whole), so
    // that reading d through the stored index rebuilds the index in the
    // session. b's and e's trailing lengths zeroed (e is followed by the
    // stored index): the stored index lists them with their leading
    // lengths, which end where the next item begins, so the rebuild keeps
    // them. The index stored at close lists them, and not d, which no
    // rebuild indexes either: the next open takes that index. A leading
    // length grown to end at c's trailing length is not the one the stored
    // index lists: it would step over c.
    for (bool spanning : {false, true}) {
        TempDir dir;
        const std::string name = dir.file("f.kwx");
        writeLetters(name, 5, "u");
        std::string bytes = vrntest::readFile(name);
        Client r;
        ASSERT_EQ(IO_OK, r.open(name));
        const std::pair<int64_t, int64_t> b = placeOf(r, "b", "w", 1), c = placeOf(r, "c", "w", 1),
                                          e = placeOf(r, "e", "w", 1);
        ASSERT_EQ(IO_OK, r.close());
        bytes[bytes.rfind("*HEADER", bytes.find("WHAT\x1b" "d")) + 6] = 'X';
        if (spanning) {
            const uint32_t length = uint32_t(b.second + 4 + 3 + 4 + c.second);
            ASSERT_EQ(uint32_t(b.second), uint32_t(uint8_t(bytes[size_t(b.first) + 3])));
            for (int k = 0; k < 4; ++k) bytes[size_t(b.first) + 3 + k] = char(length >> (8 * k));
        } else {
            for (auto d : {b, e}) bytes.replace(size_t(d.first + 3 + 4 + d.second), 4, std::string(4, '\0'));
        }
        vrntest::writeFile(name, bytes);
        const std::string kept = spanning ? "ace" : "abce";
        {
            Client w;
            messages().clear();
            ASSERT_EQ(IO_OK, w.open(name));
            EXPECT_EQ("d", missing(w, "d"));
            EXPECT_NE(std::string::npos, messages().find("is rebuilt")) << messages();
            EXPECT_EQ("", missing(w, kept)) << spanning << messages();
            ASSERT_EQ(IO_OK, writeLetter(w, 'f'));
            ASSERT_EQ(IO_OK, w.close());
        }
        Client w;
        ASSERT_EQ(IO_OK, w.open(name));
        EXPECT_EQ("", missing(w, kept + "f")) << spanning;
    }
}

TEST(DamagedFiles, ANewFileWhoseStartWasCutShortOpensAsANewFile) {
    TempDir dir;
    const std::string name = dir.file("f.kwx");
    const std::string start = std::string("*INFO\n") + std::string(19, ' ') + "0\n*ENDINFO\n";
    for (size_t cut : {size_t(1), size_t(5), size_t(6), size_t(20), size_t(35)}) {
        vrntest::writeFile(name, start.substr(0, cut));
        Client c;
        messages().clear();
        ASSERT_EQ(IO_OK, c.open(name)) << cut << ": " << messages();
        ASSERT_EQ(IO_OK, c.writeInts("a", "w", 1, {1}));
        ASSERT_EQ(IO_OK, c.close());
        EXPECT_EQ(start.substr(0, 6), vrntest::readFile(name).substr(0, 6));
    }
    // A short file that is not the start of a new one is still refused.
    vrntest::writeFile(name, "*INFX\n   ");
    Client c;
    EXPECT_EQ(IO_ERR_BADFILE, c.open(name));
    EXPECT_EQ("*INFX\n   ", vrntest::readFile(name));
}

TEST(DamagedFiles, ADeletionMarkTornAfterItsFirstByteIsSteppedOver) {
    // Binary datasets whose mark names their byte order in its second byte:
    // with only the first byte written, the second still holds the level.
    for (char letter : {'u', 'l'}) {
        TempDir dir;
        const std::string name = dir.file("f.kwx");
        std::pair<int64_t, int64_t> first;
        {
            Client c;
            ASSERT_EQ(IO_OK, c.open(name));
            Header h;
            Data d;
            d.setName(letter == 'u' ? "U5" : "L5");
            ASSERT_EQ(IO_OK, c.request(IO_SET_DEFAULT_FORMAT, h, d));
            ASSERT_EQ(IO_OK, c.writeInts("a", "w", 1, {1, 2, 3}));
            ASSERT_EQ(IO_OK, c.writeInts("b", "w", 1, {4}));
            first = placeOf(c, "a", "w", 1);
        }
        std::string bytes = vrntest::readFile(name);
        ASSERT_EQ(letter, bytes[size_t(first.first)]);
        ASSERT_EQ('5', bytes[size_t(first.first) + 1]);
        bytes[size_t(first.first)] = letter == 'u' ? 'D' : 'x';
        vrntest::writeFile(name, bytes);
        iotest::forceRebuild(name);
        Client c;
        messages().clear();
        ASSERT_EQ(IO_OK, c.open(name)) << messages();
        std::vector<int32_t> v;
        EXPECT_EQ(IO_ERR_NOTLOCATED, c.readInts("a", "w", 1, v)) << letter;
        EXPECT_EQ(IO_OK, c.readInts("b", "w", 1, v)) << letter;
        EXPECT_EQ(std::string::npos, messages().find("skipping")) << messages();
    }
}

}  // namespace
