#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "support/memory.h"
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

    vrnUUID back;
    std::memset(&back, 0, sizeof back);
    vrnUUID_fromBytes(&back, expected);
    EXPECT_TRUE(sameFields(back, u));

    vrnUUID* parsed = vrnUUID_newFromBase64("Z0UjAd4cq4kiETSSZlVEMw");
    ASSERT_NE(parsed, nullptr);
    EXPECT_TRUE(sameFields(*parsed, u));
    vrnUUID_delete(parsed);
}

TEST(UuidText, ZeroBytesAndThePlusAndSlashCharacters) {
    vrnUUID zero;
    std::memset(&zero, 0, sizeof zero);
    EXPECT_EQ(text(&zero), "AAAAAAAAAAAAAAAAAAAAAA");

    const unsigned char bytes[16] = {0xfb, 0xff, 0xbf, 0xfb, 0xff, 0xbf, 0xfb, 0xff,
                                     0xbf, 0xfb, 0xff, 0xbf, 0xfb, 0xff, 0xbf, 0xfe};
    vrnUUID u;
    vrnUUID_fromBytes(&u, bytes);
    EXPECT_EQ(text(&u), "+/+/+/+/+/+/+/+/+/+//g");
    vrnUUID back;
    ASSERT_EQ(vrnUUID_parseBase64(&back, "+/+/+/+/+/+/+/+/+/+//g"), 1);
    EXPECT_TRUE(sameFields(back, u));
}

TEST(UuidText, NullTextStandsForNoObject) {
    EXPECT_EQ(text(nullptr), "__NULL_UUID__");
    EXPECT_EQ(vrnUUID_newFromBase64("__NULL_UUID__"), nullptr);
    EXPECT_EQ(vrnUUID_newFromBase64(nullptr), nullptr);
    EXPECT_EQ(vrnUUID_isNullString("__NULL_UUID__"), 1);
    EXPECT_EQ(vrnUUID_isNullString("__NULL_UUID__x"), 0);
    EXPECT_EQ(vrnUUID_isNullString("__NULL_UUID_"), 0);
    EXPECT_EQ(vrnUUID_isNullString(""), 0);
    EXPECT_EQ(vrnUUID_isNullString(nullptr), 0);
    vrnUUID u = knownFields();
    EXPECT_EQ(vrnUUID_parseBase64(&u, "__NULL_UUID__"), 0);
    EXPECT_EQ(vrnUUID_parseBase64(&u, "_AAAAAAAAAAAAAAAAAAAAAA"), 0);
    EXPECT_TRUE(sameFields(u, knownFields()));
}

// A text shorter than 22 characters or holding a character outside the
// alphabet is refused, the target is left alone, and nothing past the
// text's NUL is read.
TEST(UuidText, ShortOrForeignTextRefusedWithoutReadingPastItsEnd) {
    const std::string good = "Z0UjAd4cq4kiETSSZlVEMw";
    for (size_t length = 0; length < 22; ++length) {
        auto cut = exact(good.substr(0, length));
        vrnUUID u = knownFields();
        EXPECT_EQ(vrnUUID_parseBase64(&u, cut.get()), 0) << "length " << length;
        EXPECT_TRUE(sameFields(u, knownFields()));
        EXPECT_EQ(vrnUUID_newFromBase64(cut.get()), nullptr);
    }
    for (size_t at = 0; at < 22; ++at) {
        for (char bad : {'=', '-', '_', '.', ' ', '\n', '\x80'}) {
            if (at == 0 && bad == '_') continue;  // that is the null text
            std::string s = good;
            s[at] = bad;
            auto p = exact(s);
            vrnUUID u = knownFields();
            EXPECT_EQ(vrnUUID_parseBase64(&u, p.get()), 0) << "at " << at << " char " << int(bad);
            EXPECT_TRUE(sameFields(u, knownFields()));
        }
    }
    vrnUUID u;
    EXPECT_EQ(vrnUUID_parseBase64(&u, nullptr), 0);
    EXPECT_EQ(vrnUUID_parseBase64(nullptr, good.c_str()), 0);
}

// Only the first 22 characters count, so a text taken from inside a longer
// name still parses.
TEST(UuidText, CharactersAfterTheFirst22AreIgnored) {
    vrnUUID u;
    ASSERT_EQ(vrnUUID_parseBase64(&u, "Z0UjAd4cq4kiETSSZlVEMw==.tmp"), 1);
    EXPECT_TRUE(sameFields(u, knownFields()));
}

TEST(UuidText, GeneratedUuidsRoundTripThroughText) {
    for (int i = 0; i < 1000; ++i) {
        vrnUUID* u = vrnUUID_new();
        const std::string t = text(u);
        ASSERT_EQ(t.size(), 22u);
        vrnUUID* back = vrnUUID_newFromBase64(t.c_str());
        ASSERT_NE(back, nullptr);
        EXPECT_TRUE(sameFields(*u, *back)) << t;
        vrnUUID_delete(back);
        vrnUUID_delete(u);
    }
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
    }
    // In the stored order the version sits in the high half of byte 5 and
    // the variant in the top bits of byte 11.
    EXPECT_EQ(all[0][5] >> 4, 1);
    EXPECT_EQ(all[0][11] >> 6, 2);
    std::sort(all.begin(), all.end());
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
}

TEST(UuidGenerator, TimestampIsFileTimePlusGregorianOffset) {
    useClock({kBase}, kBase);
    const vrnUUID u = make();
    EXPECT_EQ(timestampOf(u), kBase + kUuidEpochToFileTime);
    EXPECT_EQ(u.time_hi_and_version >> 12, 1);
}

TEST(UuidGenerator, SameTickCountsUpByOneThenWaitsForTheClock) {
    // 1024 UUIDs may come from one reading; the 1025th waits for the next.
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
    const uint64_t expected[] = {t0, t0 + 1, t0 + 2, t0 + 3, t0 + 4, t0 + 5, t0 + 10};
    for (uint64_t e : expected) EXPECT_EQ(timestampOf(make()), e);
}

TEST(UuidGenerator, ClockSetBackGoesOnAboveTheLastTimestamp) {
    const uint64_t hour = 36000000000ull;
    useClock({kBase + hour, kBase, kBase + 1, kBase + 5}, kBase + 100, 1);
    const uint64_t t0 = kBase + kUuidEpochToFileTime + hour;
    uint64_t previous = 0;
    for (int i = 0; i < 6; ++i) {
        const uint64_t t = timestampOf(make());
        if (i > 0) {
            EXPECT_GT(t, previous);
        }
        EXPECT_LT(t, t0 + 1024 + 200) << "ran far ahead at " << i;
        previous = t;
    }
}

TEST(UuidGenerator, RandomNodeHasTheMulticastBitAndStaysFixed) {
    vrntest::TempDir dir;
    auto r = vrntest::runInChild(
        [] {
            const vrnUUID a = make();
            const vrnUUID b = make();
            if (!(a.node[0] & 0x80)) return 2;
            if (std::memcmp(a.node, b.node, 6) != 0) return 3;
            return 0;
        },
        {{}, dir.path()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
}

TEST(UuidGenerator, NodeIdFileGivesTheNodeAndIsNeverWritten) {
    vrntest::TempDir dir;
    vrntest::writeFile(dir.file("nodeid"), std::string("\x01\x02\x03\x04\x05\x06\x07", 7));
    auto r = vrntest::runInChild(
        [] {
            const vrnUUID u = make();
            const uint8_t node[6] = {1, 2, 3, 4, 5, 6};
            return std::memcmp(u.node, node, 6) == 0 ? 0 : 1;
        },
        {{}, dir.path()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(vrntest::readFile(dir.file("nodeid")), std::string("\x01\x02\x03\x04\x05\x06\x07", 7));
}

// A node file too short to hold a node is not used: the node would
// otherwise be partly whatever the buffer held.
TEST(UuidGenerator, ShortNodeIdFileFallsBackToARandomNode) {
    vrntest::TempDir dir;
    vrntest::writeFile(dir.file("nodeid"), std::string("\x01\x02\x03", 3));
    auto r = vrntest::runInChild(
        [] {
            const vrnUUID u = make();
            return (u.node[0] & 0x80) ? 0 : 1;
        },
        {{}, dir.path()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
}

TEST(UuidGenerator, SavedStateGivesTheClockSequenceAndIsNeverWritten) {
    vrntest::TempDir dir;
    const uint8_t node[6] = {1, 2, 3, 4, 5, 6};
    vrntest::writeFile(dir.file("nodeid"), std::string(reinterpret_cast<const char*>(node), 6));
    const std::string past = stateFile(kUuidEpochToFileTime + kBase - 1000, node, 0x1234);
    vrntest::writeFile(dir.file("state"), past);
    auto r = vrntest::runInChild(
        [] {
            useClock({kBase}, kBase);
            for (int i = 0; i < 3; ++i)
                if (clockSequenceOf(make()) != 0x1234) return 1 + i;
            return 0;
        },
        {{}, dir.path()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(vrntest::readFile(dir.file("state")), past);
}

// A saved timestamp above the clock means the clock went back since the
// state was saved: the sequence moves on by one, once.
TEST(UuidGenerator, SavedTimestampAboveTheClockBumpsTheSequenceOnce) {
    vrntest::TempDir dir;
    const uint8_t node[6] = {1, 2, 3, 4, 5, 6};
    vrntest::writeFile(dir.file("nodeid"), std::string(reinterpret_cast<const char*>(node), 6));
    vrntest::writeFile(dir.file("state"), stateFile(kUuidEpochToFileTime + kBase + 1000000, node, 0x3fff));
    auto r = vrntest::runInChild(
        [] {
            useClock({kBase}, kBase);
            const vrnUUID first = make();
            const vrnUUID second = make();
            // 0x3fff + 1 keeps only its low 14 bits in the UUID
            if (clockSequenceOf(first) != 0x0000) return 1;
            if (clockSequenceOf(second) != 0x0000) return 2;
            if (first.clock_seq_hi_and_reserved != 0x80) return 3;
            return 0;
        },
        {{}, dir.path()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
}

TEST(UuidGenerator, StateOfAnotherNodeOrMissingGivesRandomSequences) {
    vrntest::TempDir dir;
    const uint8_t node[6] = {1, 2, 3, 4, 5, 6};
    const uint8_t other[6] = {9, 9, 9, 9, 9, 9};
    vrntest::writeFile(dir.file("nodeid"), std::string(reinterpret_cast<const char*>(node), 6));
    vrntest::writeFile(dir.file("state"), stateFile(kUuidEpochToFileTime + kBase, other, 0x1234));
    auto r = vrntest::runInChild(
        [] {
            // The first UUID takes a random sequence; from then on the state
            // in memory holds this node and the sequence stays.
            const uint16_t first = clockSequenceOf(make());
            for (int i = 0; i < 10; ++i)
                if (clockSequenceOf(make()) != first) return 1;
            return 0;
        },
        {{}, dir.path()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;

    vrntest::TempDir empty;
    r = vrntest::runInChild(
        [] {
            // Without a state file every UUID draws a fresh sequence.
            std::set<uint16_t> seen;
            for (int i = 0; i < 64; ++i) seen.insert(clockSequenceOf(make()));
            return seen.size() > 1 ? 0 : 1;
        },
        {{}, empty.path()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
}

// The state file is loaded once it can be, and never re-read after that; a
// short file counts as no state.
TEST(UuidGenerator, StateFileLoadedOnceAndShortFileIgnored) {
    vrntest::TempDir dir;
    const uint8_t node[6] = {1, 2, 3, 4, 5, 6};
    vrntest::writeFile(dir.file("nodeid"), std::string(reinterpret_cast<const char*>(node), 6));
    const std::string full = stateFile(kUuidEpochToFileTime, node, 0x0abc);
    vrntest::writeFile(dir.file("state"), full.substr(0, 15));
    auto r = vrntest::runInChild(
        [&] {
            std::set<uint16_t> seen;
            for (int i = 0; i < 64; ++i) seen.insert(clockSequenceOf(make()));
            if (seen.size() == 1 && *seen.begin() == 0x0abc) return 1;
            vrntest::writeFile("state", full);
            if (clockSequenceOf(make()) != 0x0abc) return 2;
            vrntest::writeFile("state", stateFile(kUuidEpochToFileTime, node, 0x0123));
            if (clockSequenceOf(make()) != 0x0abc) return 3;
            return 0;
        },
        {{}, dir.path()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
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
