#include "utilities/uuid.h"

#include <cstdio>
#include <cstring>

#include "support/memory.h"
#include "system_state.h"
#include "utilities/base64.h"
#include "utilities/md5.h"
#include "vrn_platform.h"

namespace {

/* 100-ns intervals from 1582-10-15 (the UUID epoch) to 1601-01-01. */
constexpr uint64_t kUuidEpochToFileTime = 0x146BF33E42C000ull;

/* At most this many timestamps are issued per reading of the clock. */
constexpr uint64_t kPerTick = 1024;

struct SavedState {
    uint64_t timestamp;
    uint8_t node[6];
    uint16_t clockSequence;
};

/* Everything the generator keeps for the process. */
struct Generator {
    vrn::UuidClock clock = nullptr;
    int owner = 0;              // the process the state below belongs to; 0 none yet

    bool haveReading = false;
    uint64_t lastReading = 0;   // last raw clock value, UUID epoch
    uint64_t adjustment = 0;    // sum of the clock's backward steps
    bool anyIssued = false;
    uint64_t lastIssued = 0;

    bool stateLoaded = false;
    bool savedDropped = false;  // forked: the next UUID draws its own sequence
    SavedState saved{};

    bool nodeKnown = false;
    bool nodeFromFile = false;
    uint8_t node[6] = {};

    bool randomSeeded = false;
    uint64_t randomState = 0;
};

Generator g;

/* A forked child starts with a copy of its parent's generator; were it to
 * go on from that copy, parent and child would issue the same UUIDs in the
 * same tick. The first UUID of another process therefore starts afresh: a
 * new random node (a node from the "nodeid" file stays), a new random
 * state, a newly drawn clock sequence (neither the parent's nor that of the
 * state file the parent read) and a fresh run of timestamps. */
void claimForThisProcess() {
    const int pid = vrnPlatform_getpid();
    if (pid == g.owner) return;
    if (g.owner != 0) {
        Generator fresh;
        fresh.clock = g.clock;
        if (g.nodeKnown && g.nodeFromFile) {
            fresh.nodeKnown = fresh.nodeFromFile = true;
            std::memcpy(fresh.node, g.node, 6);
        }
        /* A state file the parent read stays read, its sequence unused. */
        fresh.stateLoaded = g.stateLoaded;
        fresh.savedDropped = g.stateLoaded;
        g = fresh;
    }
    g.owner = pid;
}

uint64_t readClock() {
    const uint64_t fileTime = g.clock ? g.clock() : vrnSystem_getSystemTimeAsFileTime();
    return fileTime + kUuidEpochToFileTime;
}

/* The clock with its backward steps taken out: should the system time be set
 * back, the generator goes on from where it was rather than reissuing
 * timestamps it has already used. */
uint64_t readMonotonicClock() {
    const uint64_t now = readClock();
    if (g.haveReading && now < g.lastReading) g.adjustment += g.lastReading - now;
    g.lastReading = now;
    g.haveReading = true;
    return now + g.adjustment;
}

/* A timestamp above every one issued before in this process. On a coarse
 * clock, successive UUIDs of one tick count up from the clock's value; after
 * kPerTick of them the generator waits for the clock to move. */
uint64_t vrnUUID_getCurrentTime() {
    for (;;) {
        const uint64_t now = readMonotonicClock();
        const uint64_t next = g.anyIssued && g.lastIssued >= now ? g.lastIssued + 1 : now;
        if (next - now < kPerTick) {
            g.lastIssued = next;
            g.anyIssued = true;
            return next;
        }
    }
}

/* splitmix64: small, fast and good enough for clock sequences; private to
 * the generator so that the host's rand() sequence is left alone. */
uint64_t nextRandom() {
    uint64_t z = (g.randomState += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

uint16_t vrnUUID_trueRandom() {
    if (!g.randomSeeded) {
        /* The time, folded as the UUID tradition has it, plus whatever the
         * kernel and the counter add, so that two processes started in the
         * same instant still draw different sequences. */
        const uint64_t t = (vrnSystem_getSystemTimeAsFileTime() + kUuidEpochToFileTime) >> 10;
        uint64_t entropy = 0;
        vrnSystem_getEntropy(&entropy, sizeof entropy);
        g.randomState = ((t >> 32) ^ (t & 0xffffffffu)) ^ entropy ^
                        (vrnSystem_queryPerformanceCounter() << 32);
        g.randomSeeded = true;
    }
    return static_cast<uint16_t>(nextRandom() >> 48);
}

/* MD5 of a snapshot of the machine and process state. */
void vrnUUID_getRandomInfo(unsigned char seed[16]) {
    vrnSystemState state;
    vrnSystem_getState(&state);
    vrn::MD5 context;
    vrn::MD5Init(&context);
    vrn::MD5Update(&context, &state, sizeof state);
    vrn::MD5Final(seed, &context);
}

/* The node, fixed for the process at the first call: the first 6 bytes of
 * the file "nodeid" in the working directory, or a random node with the
 * multicast bit set so that it cannot be taken for a network address. */
void vrnUUID_getNodeIdentifier(uint8_t node[6]) {
    if (!g.nodeKnown) {
        bool fromFile = false;
        if (FILE* f = std::fopen("nodeid", "rbe")) {
            uint8_t bytes[6];
            fromFile = std::fread(bytes, 1, sizeof bytes, f) == sizeof bytes;
            std::fclose(f);
            if (fromFile) std::memcpy(g.node, bytes, 6);
        }
        g.nodeFromFile = fromFile;
        if (!fromFile) {
            unsigned char seed[16];
            vrnUUID_getRandomInfo(seed);
            std::memcpy(g.node, seed, 6);
            g.node[0] |= 0x80;
        }
        g.nodeKnown = true;
    }
    std::memcpy(node, g.node, 6);
}

/* Loads the 16-byte file "state" of the working directory once: timestamp
 * (u64), node (6 bytes), clock sequence (u16), little-endian. Returns whether
 * a saved state is known; a missing or short file is tried again next time. */
bool vrnUUID_readState() {
    if (g.stateLoaded) return true;
    FILE* f = std::fopen("state", "rbe");
    if (!f) return false;
    unsigned char b[16];
    const bool complete = std::fread(b, 1, sizeof b, f) == sizeof b;
    std::fclose(f);
    if (!complete) return false;
    g.saved.timestamp = 0;
    for (int i = 7; i >= 0; --i) g.saved.timestamp = g.saved.timestamp << 8 | b[i];
    std::memcpy(g.saved.node, b + 8, 6);
    g.saved.clockSequence = static_cast<uint16_t>(b[14] | b[15] << 8);
    g.stateLoaded = true;
    return true;
}

/* Keeps the last UUID's values in memory; the file is never written. */
void vrnUUID_writeState(uint16_t clockSequence, uint64_t timestamp, const uint8_t node[6]) {
    g.saved.timestamp = timestamp;
    std::memcpy(g.saved.node, node, 6);
    g.saved.clockSequence = clockSequence;
    g.savedDropped = false;
}

void vrnUUID_formatV1(vrnUUID* uuid, uint16_t clockSequence, uint64_t timestamp,
                      const uint8_t node[6]) {
    uuid->time_low = static_cast<uint32_t>(timestamp);
    uuid->time_mid = static_cast<uint16_t>(timestamp >> 32);
    uuid->time_hi_and_version = static_cast<uint16_t>(((timestamp >> 48) & 0x0fff) | 0x1000);
    uuid->clock_seq_hi_and_reserved = static_cast<uint8_t>(((clockSequence >> 8) & 0x3f) | 0x80);
    uuid->clock_seq_low = static_cast<uint8_t>(clockSequence);
    std::memcpy(uuid->node, node, 6);
}

bool isAlphabet(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           c == '+' || c == '/';
}

}  // namespace

extern "C" {

void vrnUUID_create(vrnUUID* uuid) {
    if (!uuid) return;
    claimForThisProcess();
    const uint64_t timestamp = vrnUUID_getCurrentTime();
    uint8_t node[6];
    vrnUUID_getNodeIdentifier(node);

    uint16_t clockSequence;
    if (!vrnUUID_readState() || g.savedDropped || std::memcmp(g.saved.node, node, 6) != 0) {
        clockSequence = vrnUUID_trueRandom();
    } else {
        clockSequence = g.saved.clockSequence;
        if (timestamp < g.saved.timestamp) ++clockSequence;
    }
    vrnUUID_formatV1(uuid, clockSequence, timestamp, node);
    vrnUUID_writeState(clockSequence, timestamp, node);
}

vrnUUID* vrnUUID_new(void) {
    auto* uuid = static_cast<vrnUUID*>(vrnCalloc(sizeof(vrnUUID), 0, "vrnUUID_new"));
    vrnUUID_create(uuid);
    return uuid;
}

vrnUUID* vrnUUID_newFromBase64(const char* text) {
    if (!text || text[0] == '_') return nullptr;
    vrnUUID parsed;
    if (!vrnUUID_parseBase64(&parsed, text)) return nullptr;
    auto* uuid = static_cast<vrnUUID*>(vrnMalloc(sizeof(vrnUUID), "vrnUUID_newFromBase64"));
    *uuid = parsed;
    return uuid;
}

void vrnUUID_delete(vrnUUID* uuid) { vrnFree(uuid, "vrnUUID_delete"); }

void vrnUUID_toBase64(const vrnUUID* uuid, char* buffer) {
    if (!buffer) return;
    if (!uuid) {
        std::memcpy(buffer, VRN_NULL_UUID_STRING, sizeof VRN_NULL_UUID_STRING);
        return;
    }
    unsigned char bytes[16];
    vrnUUID_toBytes(uuid, bytes);
    char text[25];
    vrnBase64_encode(bytes, 16, text, sizeof text);
    std::memcpy(buffer, text, 22);  // the text drops the "==" padding
    buffer[22] = '\0';
}

int vrnUUID_isNullString(const char* text) {
    return text && std::strcmp(text, VRN_NULL_UUID_STRING) == 0 ? 1 : 0;
}

int vrnUUID_parseBase64(vrnUUID* uuid, const char* text) {
    if (!uuid || !text || text[0] == '_') return 0;
    /* Checked one character at a time, so that a short text stops at its
     * NUL and nothing past it is read. */
    char padded[25];
    for (int i = 0; i < 22; ++i) {
        if (!isAlphabet(static_cast<unsigned char>(text[i]))) return 0;
        padded[i] = text[i];
    }
    padded[22] = '=';
    padded[23] = '=';
    padded[24] = '\0';
    unsigned char bytes[16];
    if (vrnBase64_decode(padded, bytes, sizeof bytes) != 16) return 0;
    vrnUUID_fromBytes(uuid, bytes);
    return 1;
}

void vrnUUID_toBytes(const vrnUUID* uuid, unsigned char bytes[16]) {
    if (!uuid || !bytes) return;
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(uuid->time_low >> (8 * i));
    bytes[4] = static_cast<unsigned char>(uuid->time_hi_and_version);
    bytes[5] = static_cast<unsigned char>(uuid->time_hi_and_version >> 8);
    bytes[6] = static_cast<unsigned char>(uuid->time_mid);
    bytes[7] = static_cast<unsigned char>(uuid->time_mid >> 8);
    bytes[8] = uuid->node[1];
    bytes[9] = uuid->node[0];
    bytes[10] = uuid->clock_seq_low;
    bytes[11] = uuid->clock_seq_hi_and_reserved;
    bytes[12] = uuid->node[5];
    bytes[13] = uuid->node[4];
    bytes[14] = uuid->node[3];
    bytes[15] = uuid->node[2];
}

void vrnUUID_fromBytes(vrnUUID* uuid, const unsigned char bytes[16]) {
    if (!uuid || !bytes) return;
    uuid->time_low = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                     static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
    uuid->time_hi_and_version = static_cast<uint16_t>(bytes[4] | bytes[5] << 8);
    uuid->time_mid = static_cast<uint16_t>(bytes[6] | bytes[7] << 8);
    uuid->node[1] = bytes[8];
    uuid->node[0] = bytes[9];
    uuid->clock_seq_low = bytes[10];
    uuid->clock_seq_hi_and_reserved = bytes[11];
    uuid->node[5] = bytes[12];
    uuid->node[4] = bytes[13];
    uuid->node[3] = bytes[14];
    uuid->node[2] = bytes[15];
}

}  // extern "C"

namespace vrn {

UuidClock setUuidClock(UuidClock clock) {
    UuidClock previous = g.clock;
    g.clock = clock;
    return previous;
}

void resetUuidGenerator() {
    const UuidClock clock = g.clock;
    g = Generator();
    g.clock = clock;
}

}  // namespace vrn
