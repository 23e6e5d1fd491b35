// The process-wide dictionary of region-name texts and growable strings.
//
// The dictionary's index holds slot numbers, not slot addresses, so that
// growing the texts array never invalidates the index: growth can only
// fail as a whole, leaving every key and text as it was.
#include "region_hash.h"
#include "region_internal.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

using namespace regionatlas;

namespace {

const unsigned kStartCapacity = 10023;

RegionDictionary* gDict = nullptr;
// The text a lookup searches for, reached through kProbeItem.
const char* gProbeText = nullptr;
void* const kProbeItem = reinterpret_cast<void*>(~static_cast<uintptr_t>(0));

void* itemOf(unsigned slot) { return reinterpret_cast<void*>(static_cast<uintptr_t>(slot) + 1); }

// The text an index item stands for; "" for an item that is no slot.
const char* textOf(const void* item)
{
    if (item == kProbeItem)
        return gProbeText;
    uintptr_t slot = reinterpret_cast<uintptr_t>(item) - 1;
    if (!gDict || !item || slot >= gDict->count)
        return "";
    return gDict->texts[slot];
}

int compareSlots(const void* a, const void* b) { return std::strcmp(textOf(a), textOf(b)); }

bool isBlank(const char* text)
{
    if (!text)
        return true;
    for (; *text; ++text)
        if (!std::isspace(static_cast<unsigned char>(*text)))
            return false;
    return true;
}

// Hashing a text takes the multipliers a0 = 31415, a(i+1) = a(i)·27183
// mod (m - 1), which depend only on the bucket count m; they are kept, and
// so is each slot's hash for the index's bucket count, so that a text is
// hashed once when it is interned, not once to look it up and again to
// insert it.
const uint32_t kNoHash = 0xFFFFFFFFu;
struct HashMemo {
    uint32_t multiplierBuckets = 0;
    std::vector<uint32_t> multipliers;
    uint32_t buckets = 0;
    std::vector<uint32_t> slots;
    uint32_t probe = 0;
    uint32_t probeBuckets = 0;
    uint32_t modBuckets = 0;
    uint64_t modInverse = 0;
} gHashes;

uint32_t multiplier(uint32_t m, size_t i)
{
    if (gHashes.multiplierBuckets != m) {
        gHashes.multipliers.clear();
        gHashes.multiplierBuckets = m;
    }
    std::vector<uint32_t>& a = gHashes.multipliers;
    if (i < a.size())
        return a[i];
    uint32_t next = a.empty() ? 31415u : (a.back() * 27183u) % (m - 1);
    if (i == a.size() && i < 4096) {
        try {
            a.push_back(next);
        } catch (const std::bad_alloc&) {
        }
        return next;
    }
    // Past the kept ones: walk on from the last one kept.
    uint32_t v = a.empty() ? 31415u : a.back();
    for (size_t k = a.empty() ? 0 : a.size() - 1; k < i; ++k)
        v = (v * 27183u) % (m - 1);
    return v;
}

// Key of an interned text, or 0.
unsigned find(const char* text)
{
    if (!gDict || !gDict->index || gDict->count == 0)
        return 0;
    gProbeText = text;
    RegionStatus* s = nullptr;
    void* found = RegionHash_find(gDict->index, kProbeItem, &s);
    gProbeText = nullptr;
    if (!found || found == kProbeItem)
        return 0;
    return static_cast<unsigned>(reinterpret_cast<uintptr_t>(found));
}

// A fresh index of the given size holding every slot, or null.
RegionHash* buildIndex(unsigned buckets)
{
    RegionHash* index = nullptr;
    if (isError(RegionHash_new(&index, buckets, RegionDictionary_hash, compareSlots)))
        return nullptr;
    for (unsigned i = 0; i < gDict->count; ++i) {
        if (isError(RegionHash_insert(index, itemOf(i)))) {
            RegionHash_delete(&index);
            return nullptr;
        }
    }
    return index;
}

}  // namespace

extern "C" {

unsigned RegionDictionary_hash(unsigned buckets, const void* slot)
{
    const char* text = textOf(slot);
    if (!text || !*text || buckets <= 1)
        return 0;
    bool isSlot = slot != kProbeItem;
    size_t index = isSlot ? reinterpret_cast<uintptr_t>(slot) - 1 : 0;
    if (isSlot && gHashes.buckets == buckets && index < gHashes.slots.size() && gHashes.slots[index] != kNoHash)
        return gHashes.slots[index];
    uint32_t m = buckets;
    // x mod m by multiplication (Lemire's method), exact for 32-bit x.
    if (gHashes.modBuckets != m) {
        gHashes.modBuckets = m;
        gHashes.modInverse = ~static_cast<uint64_t>(0) / m + 1;
    }
    const uint64_t inverse = gHashes.modInverse;
    uint32_t h = 0;
    size_t i = 0;
    for (const char* p = text; *p; ++p, ++i) {
        uint32_t c = static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(*p)));
        uint32_t x = multiplier(m, i) * h + c;
        h = static_cast<uint32_t>((static_cast<unsigned __int128>(inverse * x) * m) >> 64);
    }
    if (isSlot) {
        if (gHashes.buckets != buckets) {
            gHashes.slots.clear();
            gHashes.buckets = buckets;
        }
        try {
            if (index >= gHashes.slots.size())
                gHashes.slots.resize(index + 1, kNoHash);
            gHashes.slots[index] = h;
        } catch (const std::bad_alloc&) {
        }
    } else {
        gHashes.probe = h;
        gHashes.probeBuckets = buckets;
    }
    return h;
}

RegionStatus* RegionDictionary_grow(unsigned capacity)
{
    if (!gDict)
        return failText(800000, nullptr);
    if (capacity <= gDict->capacity)
        return ok();
    char** grown = static_cast<char**>(std::realloc(gDict->texts, sizeof(char*) * capacity));
    if (!grown)
        return RegionStatus_outOfMemory("Dictionary");
    std::memset(grown + gDict->capacity, 0, sizeof(char*) * (capacity - gDict->capacity));
    gDict->texts = grown;
    gDict->capacity = capacity;
    // A wider index keeps the chains short; when it cannot be made, the
    // old one still answers correctly, only more slowly.
    if (RegionHash* wider = buildIndex(capacity)) {
        RegionHash_delete(&gDict->index);
        gDict->index = wider;
    }
    return ok();
}

RegionStatus* RegionDictionary_intern(const char* text, unsigned* key)
{
    if (!key)
        return failText(8, "Invalid object pointer - cannot return key");
    if (!text)
        return failText(3, "Invalid string.");
    bool looked = false;
    if (!gDict || gDict->capacity == 0) {
        if (!gDict) {
            gDict = static_cast<RegionDictionary*>(std::calloc(1, sizeof(RegionDictionary)));
            if (!gDict)
                return RegionStatus_outOfMemory("Dictionary");
        }
        gDict->texts = static_cast<char**>(std::calloc(kStartCapacity, sizeof(char*)));
        if (!gDict->texts)
            return RegionStatus_outOfMemory("Dictionary");
        if (isError(RegionHash_new(&gDict->index, kStartCapacity, RegionDictionary_hash, compareSlots))) {
            std::free(gDict->texts);
            gDict->texts = nullptr;
            return RegionStatus_outOfMemory("Dictionary");
        }
        gDict->capacity = kStartCapacity;
    } else if (gDict->count > 0) {
        if (unsigned found = find(text)) {
            *key = found;
            return ok();
        }
        looked = true;
    }
    if (gDict->count + 1 >= gDict->capacity) {
        looked = false;
        unsigned cap = gDict->capacity;
        uint64_t planned = cap < 10024 ? 2ull * cap : cap + cap / 2ull;
        if (planned > 0xFFFFFFF0ull)
            planned = 0xFFFFFFF0ull;
        if (planned <= cap)
            return RegionStatus_outOfMemory("Dictionary");
        if (isError(RegionDictionary_grow(static_cast<unsigned>(planned)))) {
            uint64_t smaller = cap + 9168ull;
            if (smaller >= planned || isError(RegionDictionary_grow(static_cast<unsigned>(smaller))))
                return RegionStatus_outOfMemory("Dictionary");
        }
    }
    unsigned slot = gDict->count;
    char* copy = copyText(text);
    if (!copy)
        return RegionStatus_outOfMemory("Dictionary Entry");
    gDict->texts[slot] = copy;
    gDict->count++;
    // The lookup above hashed this very text for the index as it is.
    if (looked && gHashes.probeBuckets == gDict->index->bucketCount && gHashes.buckets == gHashes.probeBuckets) {
        try {
            if (slot >= gHashes.slots.size())
                gHashes.slots.resize(slot + 1, kNoHash);
            gHashes.slots[slot] = gHashes.probe;
        } catch (const std::bad_alloc&) {
        }
    }
    if (isError(RegionHash_insert(gDict->index, itemOf(slot)))) {
        gDict->count--;
        gDict->texts[slot] = nullptr;
        std::free(copy);
        return RegionStatus_outOfMemory("Dictionary Entry");
    }
    *key = slot + 1;
    return ok();
}

RegionStatus* RegionDictionary_lookup(const char* text, unsigned* key)
{
    if (!key)
        return failText(8, "Invalid object pointer - cannot return key");
    *key = 0;
    if (isBlank(text))
        return failText(800000, nullptr);
    unsigned found = find(text);
    if (!found)
        return failText(800000, nullptr);
    *key = found;
    return ok();
}

RegionStatus* RegionDictionary_getText(unsigned key, char** text)
{
    if (!text)
        return failText(8, "Invalid object pointer - cannot return text");
    *text = nullptr;
    if (!gDict || key == 0 || key > gDict->count)
        return failText(800000, nullptr);
    *text = gDict->texts[key - 1];
    return ok();
}

unsigned RegionDictionary_capacity(void) { return gDict ? gDict->capacity : 0; }
unsigned RegionDictionary_count(void) { return gDict ? gDict->count : 0; }

RegionStatus* RegionString_new(RegionString** out, const char* text)
{
    if (!out)
        return fail(8, "Cannot return the created %s.", "String");
    RegionString* s = static_cast<RegionString*>(std::calloc(1, sizeof(RegionString)));
    if (!s)
        return RegionStatus_outOfMemory("string");
    if (text) {
        s->length = std::strlen(text);
        s->capacity = s->length + 1;
        s->text = static_cast<char*>(std::malloc(s->capacity));
        if (!s->text) {
            std::free(s);
            return RegionStatus_outOfMemory("string");
        }
        std::memcpy(s->text, text, s->capacity);
    }
    *out = s;
    return ok();
}

RegionStatus* RegionString_append(RegionString* string, const char* text)
{
    if (!string)
        return failText(100010, "Invalid string.");
    if (!text)
        return failText(3, "Invalid string.");
    size_t add = std::strlen(text);
    if (add == 0)
        return ok();
    if (string->text && string->capacity == 0) {
        string->length = std::strlen(string->text);
        string->capacity = string->length + 1;
    }
    // The text may be the string's own (or a part of it), which growing
    // moves: it is copied first.
    std::string own;
    auto at = reinterpret_cast<uintptr_t>(text);
    auto start = reinterpret_cast<uintptr_t>(string->text);
    if (string->text && at >= start && at <= start + string->length) {
        try {
            own = text;
        } catch (const std::bad_alloc&) {
            return RegionStatus_outOfMemory("string");
        }
        text = own.c_str();
    }
    size_t need = string->length + add + 1;
    if (need > string->capacity) {
        size_t cap = string->capacity * 2;
        if (cap < need)
            cap = need;
        char* grown = static_cast<char*>(std::realloc(string->text, cap));
        if (!grown)
            return RegionStatus_outOfMemory("string");
        string->text = grown;
        string->capacity = cap;
    }
    std::memcpy(string->text + string->length, text, add + 1);
    string->length += add;
    return ok();
}

RegionStatus* RegionString_delete(RegionString* string, int freeText)
{
    if (!string)
        return failText(100010, "Invalid string.");
    if (freeText)
        std::free(string->text);
    std::free(string);
    return ok();
}

}  // extern "C"
