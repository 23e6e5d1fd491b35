// Data files damaged on disk, opened and searched through the dispatcher:
// whatever the damage, the datasets that are still whole stay reachable and
// nothing good is overwritten.
#include "file_fixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace iotest;
using vrntest::TempDir;

namespace {

const std::string E(1, '\x1b');

// A file with the integer datasets a:x:1 {1, 2, 3} and b:x:2 {4}.
void writeTwo(const std::string &name) {
    Client c;
    ASSERT_EQ(IO_OK, c.open(name));
    ASSERT_EQ(IO_OK, c.writeInts("a", "x", 1, {1, 2, 3}));
    ASSERT_EQ(IO_OK, c.writeInts("b", "x", 2, {4}));
    ASSERT_EQ(IO_OK, c.close());
}

// Replaces the last field of the stored index line that starts with prefix
// by bytes of the same length.
void damageIndexLine(const std::string &name, const std::string &prefix, char fill) {
    std::string bytes = vrntest::readFile(name);
    size_t at = bytes.find(prefix, bytes.find("*INDEX\n"));
    ASSERT_NE(std::string::npos, at);
    size_t end = bytes.find('\n', at);
    size_t last = bytes.rfind('\x1b', end) + 1;
    bytes.replace(last, end - last, std::string(end - last, fill));
    vrntest::writeFile(name, bytes);
}

}  // namespace

TEST(DamagedStoredIndex, ALineCutShortIsRebuiltFromTheDatasets) {
    // A line that lost its location field, and one with a NUL in it: either
    // used to stay in the table and make every wildcard search answer 12.
    for (char fill : {'\x1b', '\0'}) {
        TempDir dir;
        std::string name = dir.file("d.kwx");
        writeTwo(name);
        damageIndexLine(name, "Y" + E + "b" + E, fill);
        Client c;
        ASSERT_EQ(IO_OK, c.open(name));
        EXPECT_EQ((std::vector<int32_t>{2, 1}), c.whens("*", "*", -1));
        std::vector<int32_t> v;
        ASSERT_EQ(IO_OK, c.readInts("b", "x", 2, v));
        EXPECT_EQ(std::vector<int32_t>{4}, v);
        ASSERT_EQ(IO_OK, c.readInts("a", "x", 1, v));
        EXPECT_EQ((std::vector<int32_t>{1, 2, 3}), v);
    }
}

TEST(DamagedStoredIndex, DeletionNeverMarksBytesThatAreNotTheNamedDataset) {
    // Integers whose bytes are all 'u', a letter that starts a live dataset:
    // an index line pointing into them must not get "Du" written there.
    const int32_t uuuu = 0x75757575;
    for (bool intoData : {true, false}) {
        TempDir dir;
        std::string name = dir.file("d.kwx");
        {
            Client c;
            ASSERT_EQ(IO_OK, c.open(name));
            ASSERT_EQ(IO_OK, c.writeInts("a", "x", 1, std::vector<int32_t>(50, uuuu)));
            ASSERT_EQ(IO_OK, c.writeInts("b", "x", 2, {4}));
            ASSERT_EQ(IO_OK, c.close());
        }
        std::string bytes = vrntest::readFile(name);
        // Point b's index line at a's data, or at a's start (another dataset).
        int64_t target = intoData ? int64_t(bytes.find("uuuu", bytes.find("*DATA", 40) + 5)) : 36;
        size_t at = bytes.find("Y" + E + "b" + E, bytes.find("*INDEX\n"));
        ASSERT_NE(std::string::npos, at);
        size_t end = bytes.find('\n', at);
        size_t last = bytes.rfind('\x1b', end) + 1;
        bytes.replace(last, end - last, std::to_string(target));
        // The size in the info block follows, so that the stored index is used.
        std::string size = std::to_string(bytes.size());
        bytes.replace(6, 20, std::string(20 - size.size(), ' ') + size);
        vrntest::writeFile(name, bytes);

        Client c;
        ASSERT_EQ(IO_OK, c.open(name));
        Header h("b", "x", 2);
        Data none;
        EXPECT_EQ(IO_OK, c.request(IO_DELETE_DS, h, none));
        EXPECT_EQ(std::vector<int32_t>{}, c.whens("b", "x", 2)) << "the line is retired";
        std::vector<int32_t> v;
        ASSERT_EQ(IO_OK, c.readInts("a", "x", 1, v));
        EXPECT_EQ(std::vector<int32_t>(50, uuuu), v);
        ASSERT_EQ(IO_OK, c.close());
        // The damaged index was not believed: b itself was deleted, a kept.
        forceRebuild(name);
        Client d;
        ASSERT_EQ(IO_OK, d.open(name));
        EXPECT_EQ((std::vector<int32_t>{1}), d.whens("*", "x", -1));
    }
}

TEST(DamagedStoredIndex, ALineClaimingANewerDatasetOfANameRetiresNothingThatIsThere) {
    // b's index line renamed a:x:1: the index then claims a newer a at b's
    // location. Searches and compaction keep the real a, and neither a nor b
    // gets a deletion mark.
    for (bool compact : {false, true}) {
        TempDir dir;
        std::string name = dir.file("d.kwx");
        writeTwo(name);
        std::string bytes = vrntest::readFile(name);
        size_t at = bytes.find("Y" + E + "b" + E + "x" + E + "2" + E, bytes.find("*INDEX\n"));
        ASSERT_NE(std::string::npos, at);
        bytes.replace(at, 8, "Y" + E + "a" + E + "x" + E + "1" + E);
        vrntest::writeFile(name, bytes);
        std::vector<int32_t> v;
        if (compact) {
            std::string copy = dir.file("c.kwx");
            Client c;
            ASSERT_EQ(IO_OK, c.copyFile(name, copy, IO_COPY_ALLVALID_DS));
            Client d;
            ASSERT_EQ(IO_OK, d.open(copy));
            ASSERT_EQ(IO_OK, d.readInts("a", "x", 1, v));
            EXPECT_EQ((std::vector<int32_t>{1, 2, 3}), v);
        } else {
            Client c;
            ASSERT_EQ(IO_OK, c.open(name));
            ASSERT_EQ(IO_OK, c.readInts("a", "x", 1, v));
            EXPECT_EQ((std::vector<int32_t>{1, 2, 3}), v);
            ASSERT_EQ(IO_OK, c.close());
        }
        forceRebuild(name);
        Client d;
        ASSERT_EQ(IO_OK, d.open(name));
        EXPECT_EQ((std::vector<int32_t>{2, 1}), d.whens("*", "x", -1)) << "no deletion marks";
    }
}
