#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "test_support.h"
#include "utilities/uuid.h"

namespace {

constexpr uint64_t kUuidEpochToFileTime = 0x146BF33E42C000ull;
constexpr uint64_t kBase = 130000000000000000ull;  // a file time in 2012

// A scripted clock: returns the listed readings in turn, then keeps
// advancing by step per reading so that nothing can wait for ever.
std::vector<uint64_t> g_readings;
size_t g_next = 0;
uint64_t g_after = 0;
uint64_t g_step = 0;

uint64_t scriptedClock() {
    if (g_next < g_readings.size()) return g_readings[g_next++];
    g_after += g_step;
    return g_after;
}

void useClock(std::vector<uint64_t> readings, uint64_t after, uint64_t step = 10000000) {
    g_readings = std::move(readings);
    g_next = 0;
    g_after = after;
    g_step = step;
    vrn::setUuidClock(scriptedClock);
    vrn::resetUuidGenerator();
}

uint64_t timestampOf(const vrnUUID& u) {
    return (static_cast<uint64_t>(u.time_hi_and_version & 0x0fff) << 48) |
           static_cast<uint64_t>(u.time_mid) << 32 | u.time_low;
}

uint16_t clockSequenceOf(const vrnUUID& u) {
    return static_cast<uint16_t>((u.clock_seq_hi_and_reserved & 0x3f) << 8 | u.clock_seq_low);
}

vrnUUID make() {
    vrnUUID u;
    vrnUUID_create(&u);
    return u;
}

vrnUUID knownFields() {
    vrnUUID u;
    u.time_low = 0x01234567;
    u.time_mid = 0x89ab;
    u.time_hi_and_version = 0x1cde;
    u.clock_seq_hi_and_reserved = 0x92;
    u.clock_seq_low = 0x34;
    const uint8_t node[6] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
    std::memcpy(u.node, node, 6);
    return u;
}

bool sameFields(const vrnUUID& a, const vrnUUID& b) {
    return a.time_low == b.time_low && a.time_mid == b.time_mid &&
           a.time_hi_and_version == b.time_hi_and_version &&
           a.clock_seq_hi_and_reserved == b.clock_seq_hi_and_reserved &&
           a.clock_seq_low == b.clock_seq_low && std::memcmp(a.node, b.node, 6) == 0;
}

std::string text(const vrnUUID* u) {
    char buffer[VRN_UUID_STRING_SIZE];
    vrnUUID_toBase64(u, buffer);
    return buffer;
}

// A heap copy of s with nothing after its NUL, so that reading past the end
// is caught by the address sanitizer.
std::unique_ptr<char[]> exact(const std::string& s) {
    std::unique_ptr<char[]> p(new char[s.size() + 1]);
    std::memcpy(p.get(), s.c_str(), s.size() + 1);
    return p;
}

std::string stateFile(uint64_t timestamp, const uint8_t node[6], uint16_t clockSequence) {
    std::string b;
    for (int i = 0; i < 8; ++i) b += static_cast<char>(timestamp >> (8 * i));
    b.append(reinterpret_cast<const char*>(node), 6);
    b += static_cast<char>(clockSequence & 0xff);
    b += static_cast<char>(clockSequence >> 8);
    return b;
}

// Runs body in a fresh process whose working directory holds the given
// files; returns the body's exit status.
int inFolder(const std::vector<std::pair<std::string, std::string>>& files,
             const std::function<int()>& body) {
    vrntest::TempDir dir;
    for (const auto& f : files) vrntest::writeFile(dir.file(f.first), f.second);
    auto r = vrntest::runInChild(body, {{}, dir.path()});
    for (const auto& f : files) EXPECT_EQ(vrntest::readFile(dir.file(f.first)), f.second) << f.first;
    EXPECT_EQ(r.err, "");
    return r.exitStatus;
}

const uint8_t kNode[6] = {1, 2, 3, 4, 5, 6};
const std::string kNodeFile(reinterpret_cast<const char*>(kNode), 6);

}  // namespace

// ---- text form and stored byte order ----

TEST(UuidText, KnownFieldsGiveTheTextOfTheStoredByteOrder) {
    const vrnUUID u = knownFields();
    unsigned char bytes[16];
    vrnUUID_toBytes(&u, bytes);
    const unsigned char expected[16] = {0x67, 0x45, 0x23, 0x01, 0xde, 0x1c, 0xab, 0x89,
                                        0x22, 0x11, 0x34, 0x92, 0x66, 0x55, 0x44, 0x33};
    EXPECT_EQ(0, std::memcmp(bytes, expected, 16));
    EXPECT_EQ(text(&u), "Z0UjAd4cq4kiETSSZlVEMw");
    vrnUUID* parsed = vrnUUID_newFromBase64("Z0UjAd4cq4kiETSSZlVEMw");
    ASSERT_NE(parsed, nullptr);
    EXPECT_TRUE(sameFields(*parsed, u));
    vrnUUID_delete(parsed);

    vrnUUID zero;
    std::memset(&zero, 0, sizeof zero);
    EXPECT_EQ(text(&zero), "AAAAAAAAAAAAAAAAAAAAAA");

    // Bytes whose text holds the two non-alphanumeric characters.
    const unsigned char high[16] = {0xfb, 0xff, 0xbf, 0xfb, 0xff, 0xbf, 0xfb, 0xff,
                                    0xbf, 0xfb, 0xff, 0xbf, 0xfb, 0xff, 0xbf, 0xfe};
    vrnUUID h, back;
    vrnUUID_fromBytes(&h, high);
    EXPECT_EQ(text(&h), "+/+/+/+/+/+/+/+/+/+//g");
    ASSERT_EQ(vrnUUID_parseBase64(&back, "+/+/+/+/+/+/+/+/+/+//g"), 1);
    EXPECT_TRUE(sameFields(back, h));
    // Only the first 22 characters count, so a text inside a longer name parses.
    ASSERT_EQ(vrnUUID_parseBase64(&back, "Z0UjAd4cq4kiETSSZlVEMw==.tmp"), 1);
    EXPECT_TRUE(sameFields(back, u));
}

TEST(UuidText, NullTextStandsForNoObject) {
    EXPECT_EQ(text(nullptr), "__NULL_UUID__");
    EXPECT_EQ(vrnUUID_newFromBase64("__NULL_UUID__"), nullptr);
    EXPECT_EQ(vrnUUID_newFromBase64(nullptr), nullptr);
    EXPECT_EQ(vrnUUID_isNullString("__NULL_UUID__"), 1);
    for (const char* other : {"__NULL_UUID__x", "__NULL_UUID_", "", (const char*)nullptr})
        EXPECT_EQ(vrnUUID_isNullString(other), 0);
    vrnUUID u = knownFields();
    EXPECT_EQ(vrnUUID_parseBase64(&u, "__NULL_UUID__"), 0);
    EXPECT_EQ(vrnUUID_parseBase64(&u, "_AAAAAAAAAAAAAAAAAAAAAA"), 0);
    EXPECT_TRUE(sameFields(u, knownFields()));
}

// A text shorter than 22 characters or holding a character outside the
// alphabet is refused, the target is left alone, and nothing past the
// text's NUL is read (the copies are exactly sized for the sanitizer).
TEST(UuidText, ShortOrForeignTextRefusedWithoutReadingPastItsEnd) {
    const std::string good = "Z0UjAd4cq4kiETSSZlVEMw";
    std::vector<std::string> bad;
    for (size_t length = 0; length < 22; ++length) bad.push_back(good.substr(0, length));
    for (size_t at = 0; at < 22; ++at) {
        for (char c : {'=', '-', '.', ' ', '\n', '\x80'}) {
            bad.push_back(good);
            bad.back()[at] = c;
        }
    }
    for (const std::string& s : bad) {
        auto p = exact(s);
        vrnUUID u = knownFields();
        EXPECT_EQ(vrnUUID_parseBase64(&u, p.get()), 0) << '"' << s << '"';
        EXPECT_TRUE(sameFields(u, knownFields()));
        EXPECT_EQ(vrnUUID_newFromBase64(p.get()), nullptr);
    }
    vrnUUID u;
    EXPECT_EQ(vrnUUID_parseBase64(&u, nullptr), 0);
    EXPECT_EQ(vrnUUID_parseBase64(nullptr, good.c_str()), 0);
}

// ---- generator ----

TEST(UuidGenerator, MillionUuidsOfOneProcessAllDifferentWithVersionAndVariant) {
    const size_t count = 1000000;
    std::vector<std::array<unsigned char, 16>> all(count);
    for (size_t i = 0; i < count; ++i) {
        vrnUUID u;
        vrnUUID_create(&u);
        ASSERT_EQ(u.time_hi_and_version & 0xf000, 0x1000) << i;
        ASSERT_EQ(u.clock_seq_hi_and_reserved & 0xc0, 0x80) << i;
        vrnUUID_toBytes(&u, all[i].data());
        if (i % 1000 == 0) {
            vrnUUID back;
            ASSERT_EQ(vrnUUID_parseBase64(&back, text(&u).c_str()), 1);
            ASSERT_TRUE(sameFields(back, u)) << text(&u);
        }
    }
    // In the stored order the version sits in the high half of byte 5 and
    // the variant in the top bits of byte 11.
    EXPECT_EQ(all[0][5] >> 4, 1);
    EXPECT_EQ(all[0][11] >> 6, 2);
    std::sort(all.begin(), all.end());
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
}

// The timestamp is the file time plus the offset to 1582; 1024 UUIDs may
// come from one reading, counting up by one, and the next waits for the clock.
TEST(UuidGenerator, SameTickCountsUpByOneThenWaitsForTheClock) {
    std::vector<uint64_t> readings(1026, kBase);
    readings.push_back(kBase + 156250);
    useClock(readings, kBase + 156250);
    const uint64_t t0 = kBase + kUuidEpochToFileTime;
    for (uint64_t i = 0; i < 1024; ++i) ASSERT_EQ(timestampOf(make()), t0 + i) << i;
    EXPECT_EQ(timestampOf(make()), t0 + 156250);
    EXPECT_EQ(g_next, 1027u);  // it read the unmoved clock again before going on
}

// On a fine clock a reading may fall inside the run of timestamps already
// handed out for the reading before; none may be issued twice.
TEST(UuidGenerator, FineClockNeverRepeatsATimestamp) {
    useClock({kBase, kBase, kBase, kBase + 1, kBase + 2, kBase + 2, kBase + 10}, kBase + 10);
    const uint64_t t0 = kBase + kUuidEpochToFileTime;
    for (uint64_t e : {t0, t0 + 1, t0 + 2, t0 + 3, t0 + 4, t0 + 5, t0 + 10})
        EXPECT_EQ(timestampOf(make()), e);
}

// A clock set back goes on above the last timestamp, without waiting for
// the clock to catch up and without running far ahead.
TEST(UuidGenerator, ClockSetBackGoesOnAboveTheLastTimestamp) {
    const uint64_t hour = 36000000000ull;
    useClock({kBase + hour, kBase, kBase + 1, kBase + 5}, kBase + 100, 1);
    const uint64_t t0 = kBase + kUuidEpochToFileTime + hour;
    uint64_t previous = 0;
    for (int i = 0; i < 6; ++i) {
        const uint64_t t = timestampOf(make());
        EXPECT_GT(t, previous) << i;
        EXPECT_LT(t, t0 + 1024 + 200) << "ran far ahead at " << i;
        previous = t;
    }
}

// The node comes from the first 6 bytes of "nodeid" (never written); with no
// file, or one too short to hold a node, it is random with the 0x80 bit, and
// fixed for the process.
TEST(UuidGenerator, NodeFromNodeIdFileElseRandomWithTheMulticastBit) {
    EXPECT_EQ(inFolder({{"nodeid", kNodeFile + "\x07"}},
                       [] { return std::memcmp(make().node, kNode, 6) == 0 ? 0 : 1; }),
              0);
    auto randomNode = [] {
        const vrnUUID a = make();
        const vrnUUID b = make();
        if (!(a.node[0] & 0x80)) return 1;
        return std::memcmp(a.node, b.node, 6) == 0 ? 0 : 2;
    };
    EXPECT_EQ(inFolder({}, randomNode), 0);
    EXPECT_EQ(inFolder({{"nodeid", kNodeFile.substr(0, 3)}}, randomNode), 0);
}

// A saved state of this node gives the clock sequence, moved on by one when
// the saved timestamp lies above the clock; the file is never written.
TEST(UuidGenerator, SavedStateOfThisNodeGivesTheClockSequence) {
    const uint64_t past = kUuidEpochToFileTime + kBase - 1000;
    EXPECT_EQ(inFolder({{"nodeid", kNodeFile}, {"state", stateFile(past, kNode, 0x1234)}},
                       [] {
                           useClock({kBase}, kBase);
                           for (int i = 0; i < 3; ++i)
                               if (clockSequenceOf(make()) != 0x1234) return 1 + i;
                           return 0;
                       }),
              0);
    const uint64_t future = kUuidEpochToFileTime + kBase + 1000000;
    EXPECT_EQ(inFolder({{"nodeid", kNodeFile}, {"state", stateFile(future, kNode, 0x3fff)}},
                       [] {
                           useClock({kBase}, kBase);
                           // 0x3fff + 1 keeps only its low 14 bits, once.
                           const vrnUUID first = make();
                           if (first.clock_seq_hi_and_reserved != 0x80 || first.clock_seq_low != 0)
                               return 1;
                           return clockSequenceOf(make()) == 0 ? 0 : 2;
                       }),
              0);
}

TEST(UuidGenerator, StateOfAnotherNodeShortOrMissingGivesRandomSequences) {
    const uint8_t other[6] = {9, 9, 9, 9, 9, 9};
    // The first UUID draws a random sequence; from then on the state in
    // memory holds this node and the sequence stays.
    EXPECT_EQ(inFolder({{"nodeid", kNodeFile}, {"state", stateFile(kBase, other, 0x1234)}},
                       [] {
                           const uint16_t first = clockSequenceOf(make());
                           for (int i = 0; i < 10; ++i)
                               if (clockSequenceOf(make()) != first) return 1;
                           return 0;
                       }),
              0);
    // Without a usable state file every UUID draws a fresh sequence; the file
    // is read once it becomes complete, and not read again after that.
    const std::string full = stateFile(kBase, kNode, 0x0abc);
    EXPECT_EQ(inFolder({{"nodeid", kNodeFile}, {"state", full.substr(0, 15)}},
                       [&] {
                           std::set<uint16_t> seen;
                           for (int i = 0; i < 64; ++i) seen.insert(clockSequenceOf(make()));
                           if (seen.size() < 2) return 1;
                           vrntest::writeFile("state", full);
                           if (clockSequenceOf(make()) != 0x0abc) return 2;
                           vrntest::writeFile("state", stateFile(kBase, kNode, 0x0123));
                           if (clockSequenceOf(make()) != 0x0abc) return 3;
                           vrntest::writeFile("state", full.substr(0, 15));
                           return 0;
                       }),
              0);
}

// A forked child starts the generator afresh: with the clock standing still,
// the parent's UUID, the child's and the parent's next all differ. A node
// from "nodeid" stays the file's in the child, and the child takes neither
// the parent's clock sequence nor the one in the state file.
TEST(UuidGenerator, ForkedChildNeverRepeatsItsParentsUuids) {
    auto parentChildParent = [](bool nodeFromFile) {
        useClock({}, kBase, 0);
        const vrnUUID before = make();
        auto child = vrntest::runInChild([&] {
            const vrnUUID u = make();
            std::fputs(text(&u).c_str(), stdout);
            return nodeFromFile && std::memcmp(u.node, kNode, 6) != 0 ? 1 : 0;
        });
        const vrnUUID after = make();
        if (child.exitStatus != 0 || !child.err.empty()) return 10 + child.exitStatus;
        const std::set<std::string> all = {text(&before), child.out, text(&after)};
        return all.size() == 3 && child.out.size() == 22 ? 0 : 2;
    };
    EXPECT_EQ(parentChildParent(false), 0);
    const uint64_t past = kUuidEpochToFileTime + kBase - 1000;
    EXPECT_EQ(inFolder({{"nodeid", kNodeFile}, {"state", stateFile(past, kNode, 0x1234)}},
                       [&] { return parentChildParent(true); }),
              0);
    vrn::setUuidClock(nullptr);
    vrn::resetUuidGenerator();
}

// The host's own rand() sequence is not disturbed by making UUIDs.
TEST(UuidGenerator, LeavesTheHostRandomSequenceAlone) {
    std::srand(42);
    const int expected = std::rand();
    std::srand(42);
    for (int i = 0; i < 10; ++i) make();
    EXPECT_EQ(std::rand(), expected);
}

TEST(UuidGenerator, NewAndDeleteGoThroughTaggedMemory) {
    vrntest::TempDir dir;
    auto r = vrntest::runInChild(
        [] {
            vrnUUID* u = vrnUUID_new();
            vrnUUID* v = vrnUUID_newFromBase64("Z0UjAd4cq4kiETSSZlVEMw");
            vrnUUID_delete(u);
            vrnUUID_delete(v);
            vrnUUID_delete(nullptr);
            return 0;
        },
        {{{"VRN_MEMORY_LOG", dir.file("memory.log")}}, dir.path()});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    const std::string log = vrntest::readFile(dir.file("memory.log"));
    EXPECT_NE(log.find("vrnUUID_new                                   16           28 A"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("vrnUUID_newFromBase64"), std::string::npos) << log;
    EXPECT_NE(log.find("vrnUUID_delete                               -16"), std::string::npos) << log;
    EXPECT_EQ(log.find("?"), std::string::npos) << log;
}
