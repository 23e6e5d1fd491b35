#include "support/hash_set.h"

#include <stdint.h>
#include <string.h>

#include "support/hash_chain.h"
#include "support/memory.h"

namespace vrn {
namespace hashchain {

int initialIndex(int size) {
    for (int i = 0; i <= kLastInitialIndex; ++i)
        if (kPrimes[i] > size) return i;
    return kLastInitialIndex;
}

int maxIndex() {
    static const int top = [] {
        int i = kLastIndex;
        while (i > 0 && static_cast<long long>(kPrimes[i] + 1LL) * sizeof(void*) > INT_MAX) --i;
        return i;
    }();
    return top;
}

}  // namespace hashchain
}  // namespace vrn

using namespace vrn::hashchain;

static const Names kSetNames = {"HashSet_new",
                                "HashSet_newHashEntry",
                                "HashSet_resize",
                                "HashSet_delete",
                                "Increase or decrease the size of a hash set.",
                                "Resizing hash set %p from %d to %d.\n"};

int HashSet_hashPointer(const void* key, int n) {
    return static_cast<int>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(key)) %
                            static_cast<uint32_t>(n));
}

int HashSet_identityEquals(const void* storedKey, const void* key) { return storedKey == key; }

HashSet* HashSet_new(int size) {
    HashSet* set = static_cast<HashSet*>(vrnCalloc(sizeof(HashSet), 0, "HashSet_new"));
    set->hash = HashSet_hashPointer;
    set->equals = HashSet_identityEquals;
    initialise<HashSet, HashSetEntry>(set, size, "HashSet_new");
    return set;
}

HashSet* HashSet_newFromArray(int k, void* const* keys) {
    if (k < 1 || !keys) return HashSet_new(5);
    HashSet* set = HashSet_new(k);
    for (int i = 0; i < k; ++i) HashSet_newHashEntry(set, keys[i]);
    return set;
}

int HashSet_newHashEntry(HashSet* set, void* key) {
    if (!set) return 0;
    insert<HashSet, HashSetEntry>(set, key, kSetNames.entryTag,
                                  [](HashSet* s) { HashSet_resize(s, 1); });
    return set->count;
}

int HashSet_remove(HashSet* set, const void* key) {
    if (!set) return 0;
    return remove<HashSet, HashSetEntry>(set, key, [](HashSet* s) { HashSet_resize(s, -1); });
}

int HashSet_toArray(const HashSet* set, void*** array) {
    if (!array) return 0;
    *array = NULL;
    if (!set || set->count == 0) return 0;
    void** out = static_cast<void**>(vrnMalloc(set->count * (int)sizeof(void*), "HashSet_toArray"));
    int i = 0;
    for (int b = 0; b < set->n; ++b)
        for (HashSetEntry* e = set->buckets[b]; e; e = e->next) out[i++] = e->key;
    *array = out;
    return set->count;
}

int HashSet_resize(HashSet* set, int step) {
    static vrnDebugPreamble debug;
    if (!set) return 0;
    return resize<HashSet, HashSetEntry>(set, step, debug, kSetNames);
}

void HashSet_delete(HashSet* set) {
    if (!set) return;
    destroy<HashSet, HashSetEntry>(set, kSetNames.deleteTag);
}
