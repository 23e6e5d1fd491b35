// Locating datasets by WHAT, WHERE and WHEN: order by WHEN, the clean-up of
// names written twice, wildcards on either name, the protocol for result
// arrays that are too small.
#include "file_fixture.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

using namespace iotest;
using vrntest::readFile;
using vrntest::runInChild;
using vrntest::TempDir;

namespace {

std::vector<std::string> whatsFound(Client &c, const std::string &what, const std::string &where,
                                    int32_t when) {
    Data d;
    std::vector<std::string> out;
    if (c.locate(what, where, when, d) != IO_OK) return out;
    for (int k = 0; k < d.nints; ++k) out.push_back(d.stringAt(2 * k) + ":" + d.stringAt(2 * k + 1));
    std::sort(out.begin(), out.end());
    return out;
}

using Names = std::vector<std::string>;

}  // namespace

TEST(Locate, AllTimesComeBackLatestFirst) {
    TempDir dir;
    Client c;
    ASSERT_EQ(IO_OK, c.open(dir.file("f.kwx")));
    for (int when : {3, 1, 2}) ASSERT_EQ(IO_OK, c.writeInts("a", "b", when, {when}));
    ASSERT_EQ(IO_OK, c.writeInts("a", "other", 7, {7}));
    EXPECT_EQ((std::vector<int32_t>{3, 2, 1}), c.whens("a", "b", -1));
    EXPECT_EQ((std::vector<int32_t>{3, 2, 1}), c.whens("a", "b", -2));
    EXPECT_EQ((std::vector<int32_t>{2}), c.whens("a", "b", 2));
    // WHEN is compared as a number, not as text.
    ASSERT_EQ(IO_OK, c.writeInts("a", "b", 10, {10}));
    EXPECT_EQ((std::vector<int32_t>{10, 3, 2, 1}), c.whens("a", "b", -1));
    // The same after the index went through the file.
    ASSERT_EQ(IO_OK, c.close());
    ASSERT_EQ(IO_OK, c.open(dir.file("f.kwx")));
    EXPECT_EQ((std::vector<int32_t>{10, 3, 2, 1}), c.whens("a", "b", -1));
    std::vector<int32_t> values;
    ASSERT_EQ(IO_OK, c.readInts("a", "b", 3, values));
    EXPECT_EQ((std::vector<int32_t>{3}), values);
}

TEST(Locate, NameWrittenTwiceKeepsOnlyTheLaterDataset) {
    TempDir dir;
    std::string name = dir.file("f.kwx");
    Client c;
    ASSERT_EQ(IO_OK, c.open(name));
    ASSERT_EQ(IO_OK, c.writeInts("a", "b", 1, {1, 1}));
    ASSERT_EQ(IO_OK, c.writeInts("a", "b", 1, {2, 2}));
    Data d;
    ASSERT_EQ(IO_OK, c.locate("a", "b", 1, d));
    EXPECT_EQ(1, d.nints);
    int64_t kept = d.offsets[0];
    std::vector<int32_t> values;
    ASSERT_EQ(IO_OK, c.readInts("a", "b", 1, values));
    EXPECT_EQ((std::vector<int32_t>{2, 2}), values);
    ASSERT_EQ(IO_OK, c.close());
    // The writer marked the older dataset deleted in the file.
    std::string bytes = readFile(name);
    EXPECT_EQ('D', bytes[36]);
    EXPECT_EQ('u', bytes[(size_t)kept]);
    ASSERT_EQ(IO_OK, c.open(name));
    EXPECT_EQ((std::vector<int32_t>{1}), c.whens("a", "b", -1));
}

TEST(Locate, WildcardsOnWhatWhereOrBoth) {
    TempDir dir;
    Client c;
    ASSERT_EQ(IO_OK, c.open(dir.file("f.kwx")));
    for (const char *what : {"]", "a*", "ax", "bx", "cx", "dx", "abc"})
        ASSERT_EQ(IO_OK, c.writeInts(what, "w", 1, {1}));
    ASSERT_EQ(IO_OK, c.writeInts("ax", "v", 5, {1}));
    ASSERT_EQ(IO_OK, c.writeInts("dx", "v", 5, {1}));

    EXPECT_EQ((Names{"]:w"}), whatsFound(c, "[]]", "w", -1));
    EXPECT_EQ((Names{"a*:w"}), whatsFound(c, "a\\*", "w", -1));
    EXPECT_EQ((Names{"dx:w"}), whatsFound(c, "[^a-c]x", "w", 1));
    EXPECT_EQ((Names{"ax:w", "bx:w", "cx:w"}), whatsFound(c, "[a-c]x", "w", -1));
    EXPECT_EQ((Names{"a*:w", "abc:w", "ax:w"}), whatsFound(c, "a*", "w", -1));
    EXPECT_EQ((Names{"abc:w"}), whatsFound(c, "a?c", "w", -1));
    // WHERE as a pattern, WHAT exact.
    EXPECT_EQ((Names{"ax:v", "ax:w"}), whatsFound(c, "ax", "*", -1));
    EXPECT_EQ((Names{"ax:v"}), whatsFound(c, "ax", "[uv]", 5));
    // Both patterns: a scan of every line.
    EXPECT_EQ((Names{"ax:v", "dx:v"}), whatsFound(c, "*", "*", 5));
    EXPECT_EQ(9u, whatsFound(c, "*", "*", -1).size());
    Data d;
    EXPECT_EQ(IO_ERR_NOTLOCATED, c.locate("z*", "w", -1, d));
    EXPECT_EQ(IO_ERR_NOTLOCATED, c.locate("ax", "q*", -1, d));
}

// iocnt_exact takes '*', '?', '[' and ']' in WHAT and WHERE as themselves,
// for both files' locates and deletes; WHEN still may be every time.
TEST(Locate, ExactNamesTakePatternCharactersAsThemselves) {
    TempDir dir;
    Client c;
    ASSERT_EQ(IO_OK, c.open(dir.file("f.kwx")));
    ASSERT_EQ(IO_OK, c.writeInts("a*", "w", 1, {1}));
    ASSERT_EQ(IO_OK, c.writeInts("ab", "w", 1, {2}));
    ASSERT_EQ(IO_OK, c.writeInts("t", "z[1]", 1, {3}));
    ASSERT_EQ(IO_OK, c.writeInts("t", "zA", 1, {4}));
    ASSERT_EQ(IO_OK, c.writeInts("t", "z[1]", 2, {5}));
    auto exact = [&c](int code, const char *what, const char *where, int32_t when) {
        Header h(what, where, when);
        Data d;
        d.sizeForLocate(8);
        std::vector<std::string> out;
        int rc = c.exact(code, h, d);
        bool located = code == IO_LOCATE_DS || code == IO_LOCATE_PRIMARY_DS;
        for (int k = 0; rc == IO_OK && located && k < d.nints; ++k)
            out.push_back(d.stringAt(2 * k) + ":" + d.stringAt(2 * k + 1) + ":" + std::to_string(d.ints[k]));
        return std::make_pair(rc, out);
    };
    using Found = std::pair<int, Names>;
    EXPECT_EQ((Found{IO_OK, {"a*:w:1"}}), exact(IO_LOCATE_DS, "a*", "w", -1));
    EXPECT_EQ((Found{IO_OK, {"t:z[1]:2", "t:z[1]:1"}}), exact(IO_LOCATE_PRIMARY_DS, "t", "z[1]", -1));
    EXPECT_EQ((Found{IO_OK, {"t:z[1]:1"}}), exact(IO_LOCATE_DS, "t", "z[1]", 1));
    EXPECT_EQ((Found{IO_ERR_NOTLOCATED, {}}), exact(IO_LOCATE_DS, "?b", "w", -1));
    EXPECT_EQ((Found{IO_OK, {}}), exact(IO_DELETE_DS, "a*", "w", -1));
    EXPECT_EQ((Found{IO_OK, {}}), exact(IO_DELETE_PRIMARY_DS, "t", "z[1]", 1));
    EXPECT_EQ((Names{"ab:w", "t:zA", "t:z[1]"}), whatsFound(c, "*", "*", -1));
    EXPECT_EQ((Found{IO_ERR_REQUEST, {}}), exact(IO_READ_DS, "ab", "w", 1));
    EXPECT_EQ((Found{IO_ERR_REQUEST, {}}), exact(IO_CURRENT_HANDLE + 1, "ab", "w", 1));
}

TEST(Locate, WildcardSearchesFollowNewDatasetsAndDeletions) {
    TempDir dir;
    Client c;
    ASSERT_EQ(IO_OK, c.open(dir.file("f.kwx")));
    ASSERT_EQ(IO_OK, c.writeInts("p1", "w", 1, {1}));
    EXPECT_EQ((Names{"p1:w"}), whatsFound(c, "p*", "w", -1));
    ASSERT_EQ(IO_OK, c.writeInts("p2", "w", 1, {1}));
    EXPECT_EQ((Names{"p1:w", "p2:w"}), whatsFound(c, "p*", "w", -1));
    Header h("p1", "w", -1);
    Data none;
    ASSERT_EQ(IO_OK, c.request(IO_DELETE_DS, h, none));
    EXPECT_EQ((Names{"p2:w"}), whatsFound(c, "p*", "w", -1));
    // Written again after deletion, and a duplicate found through WHERE.
    ASSERT_EQ(IO_OK, c.writeInts("p1", "w", 1, {5}));
    ASSERT_EQ(IO_OK, c.writeInts("p2", "w", 1, {6}));
    EXPECT_EQ((Names{"p1:w", "p2:w"}), whatsFound(c, "p*", "w", -1));
    std::vector<int32_t> values;
    ASSERT_EQ(IO_OK, c.readInts("p2", "w", 1, values));
    EXPECT_EQ((std::vector<int32_t>{6}), values);
}

// Searches by one WHEN with both names patterns go through an index of the
// lines by WHEN that follows appends (also of older WHENs), rewrites,
// deletions and the reordering of the table: they must find exactly the
// lines a search of all WHENs finds with that WHEN.
TEST(Locate, OneWhenFindsWhatAllWhensFindThroughWritesAndDeletions) {
    TempDir dir;
    Client c;
    ASSERT_EQ(IO_OK, c.open(dir.file("f.kwx")));
    auto found = [&c](int32_t when) {
        Data d;
        std::vector<std::string> out;
        if (c.locate("*", "*", when, d) != IO_OK) return out;
        for (int k = 0; k < d.nints; ++k)
            if (when < 0 || d.ints[k] == when)
                out.push_back(d.stringAt(2 * k) + ":" + d.stringAt(2 * k + 1) + ":" +
                              std::to_string(d.ints[k]) + ":" + std::to_string(d.offsets[2 * k]));
        std::sort(out.begin(), out.end());
        return out;
    };
    auto check = [&]() {
        Names all = found(-1);
        for (int32_t w = 0; w < 7; ++w) {
            Names expected;
            std::string tag = ":" + std::to_string(w) + ":";
            for (const std::string &e : all)
                if (e.find(tag) != std::string::npos) expected.push_back(e);
            EXPECT_EQ(expected, found(w)) << "when " << w;
        }
    };
    // The WHENs stored under each name, for the searches by exact name,
    // which find lines appended since the last reordering through a view too.
    std::map<std::string, std::set<int32_t>> stored;
    for (int i = 0; i < 300; ++i) {
        std::string what = "f" + std::to_string(i % 23), where = "o" + std::to_string(i % 5);
        ASSERT_EQ(IO_OK, c.writeInts(what, where, (i * 3) % 7, {i}));
        stored[what + ":" + where].insert((i * 3) % 7);
        if (i % 37 == 0) check();
        if (i % 50 == 49) {
            Header h("f3", "*", -1);
            Data none;
            c.request(IO_DELETE_DS, h, none);
            for (auto &entry : stored)
                if (entry.first.rfind("f3:", 0) == 0) entry.second.clear();
        }
        int j = (i * 7) % (i + 1);
        std::string name = "f" + std::to_string(j % 23) + ":o" + std::to_string(j % 5);
        const std::set<int32_t> &whens = stored[name];
        std::vector<int32_t> got = c.whens("f" + std::to_string(j % 23), "o" + std::to_string(j % 5), -1);
        EXPECT_EQ(std::vector<int32_t>(whens.rbegin(), whens.rend()), got) << name;
    }
    check();
    ASSERT_EQ(IO_OK, c.close());
    ASSERT_EQ(IO_OK, c.open(dir.file("f.kwx")));
    check();
    ASSERT_EQ(IO_OK, c.writeInts("late", "o1", 2, {1}));
    check();
}

TEST(Locate, SmallArraysGet14AndTheCountsNeeded) {
    TempDir dir;
    Client c;
    ASSERT_EQ(IO_OK, c.open(dir.file("f.kwx")));
    for (int when = 0; when < 3; ++when) ASSERT_EQ(IO_OK, c.writeInts("a", "b", when, {when}));
    Header h("a", "b", -1);
    Data d;
    d.sizeForLocate(0);
    messages().clear();
    EXPECT_EQ(IO_ERR_MEMORY, c.request(IO_LOCATE_DS, h, d));
    EXPECT_TRUE(messages().empty());
    EXPECT_EQ(6, d.nstrings);
    EXPECT_EQ(3, d.nints);
    EXPECT_EQ(6, d.noffsets);
    d.sizeForLocate(2);  // still one short
    EXPECT_EQ(IO_ERR_MEMORY, c.request(IO_LOCATE_DS, h, d));
    // Any one array short, the others with room: 14, the counts needed, and
    // nothing written past the short array (each is sized exactly).
    for (int shortOne = 0; shortOne < 3; ++shortOne) {
        d.sizeForLocate(3);
        if (shortOne == 0) {
            d.strings.assign(5 * IO_STRING_LEN, 0);
            d.nstrings = 5;
        } else if (shortOne == 1) {
            d.ints.assign(2, 0);
            d.nints = 2;
        } else {
            d.offsets.assign(5, 0);
            d.noffsets = 5;
        }
        d.bind();
        EXPECT_EQ(IO_ERR_MEMORY, c.request(IO_LOCATE_DS, h, d)) << "array " << shortOne;
        EXPECT_EQ(6, d.nstrings);
        EXPECT_EQ(3, d.nints);
        EXPECT_EQ(6, d.noffsets);
    }
    d.sizeForLocate(3);
    EXPECT_EQ(IO_OK, c.request(IO_LOCATE_DS, h, d));
    EXPECT_EQ("a", d.stringAt(0));
    EXPECT_EQ("b", d.stringAt(1));
    EXPECT_EQ(2, d.ints[0]);
    EXPECT_GT(d.offsets[1], 0);
}

TEST(Locate, EmptyIndexAndNoMatchAnswer17Quietly) {
    TempDir dir;
    Client c;
    ASSERT_EQ(IO_OK, c.open(dir.file("f.kwx")));
    Header h("a", "b", -1);
    Data d;
    d.sizeForLocate(1);
    messages().clear();
    EXPECT_EQ(IO_ERR_NOTLOCATED, c.request(IO_LOCATE_DS, h, d));
    EXPECT_EQ(0, d.nints);
    EXPECT_EQ(0, d.nstrings);
    EXPECT_EQ(0, d.noffsets);
    ASSERT_EQ(IO_OK, c.writeInts("a", "c", 1, {1}));
    d.sizeForLocate(1);
    EXPECT_EQ(IO_ERR_NOTLOCATED, c.request(IO_LOCATE_DS, h, d));
    EXPECT_TRUE(messages().empty());
}

TEST(Locate, SharedReaderWritesNoDeletionMarks) {
    TempDir dir;
    std::string name = dir.file("f.kwx");
    {
        // Two datasets of one name, both still listed as live.
        IO_control *control = iocontrol_alloc();
        Header h("a", "b", 1);
        snprintf(h.datatype, sizeof h.datatype, "INTR");
        h.number = 1;
        Data d;
        d.setName(name);
        ASSERT_EQ(IO_OK, iocntc(IO_OPEN_PRIMARY, catchMessage, &h.h, &d.d, control));
        d.setInts({1});
        ASSERT_EQ(IO_OK, iocntc(IO_WRITE_DS, catchMessage, &h.h, &d.d, control));
        d.setInts({2});
        ASSERT_EQ(IO_OK, iocntc(IO_WRITE_DS, catchMessage, &h.h, &d.d, control));
        ASSERT_EQ(IO_OK, iocntc(IO_CLOSE_ALL, catchMessage, &h.h, &d.d, control));
        iocontrol_free(control);
    }
    std::string before = readFile(name);
    Client reader;
    ASSERT_EQ(IO_OK, reader.open(name));
    // Another process reads the file at the same time (and dies holding it).
    auto other = otherReaderDiesHoldingIt(name);
    ASSERT_EQ(0, other.exitStatus) << other.err;
    std::vector<int32_t> values;
    ASSERT_EQ(IO_OK, reader.readInts("a", "b", 1, values));
    EXPECT_EQ((std::vector<int32_t>{2}), values);
    EXPECT_EQ((std::vector<int32_t>{1}), reader.whens("a", "b", -1));
    EXPECT_EQ(IO_OK, reader.close());
    EXPECT_EQ(before, readFile(name));
    EXPECT_EQ(1, lockValue(name));
}
