#include "support/hash_table.h"

#include <stdint.h>
#include <string.h>

#include "support/hash_chain.h"
#include "support/memory.h"

using namespace vrn::hashchain;

static const Names kTableNames = {"HashTable_new",
                                  "HashTable_newHashEntry",
                                  "HashTable_resize",
                                  "HashTable_delete",
                                  "Increase or decrease the size of a hash table.",
                                  "Resizing hash table %p from %d to %d.\n"};

int HashTable_hashString(const void* key, int n) {
    if (!key || n < 1) return 0;
    const uint32_t un = static_cast<uint32_t>(n);
    /* n == 1 would make the multiplier's modulus 0; every key is bucket 0. */
    if (un == 1) return 0;
    const int index = primeIndexOf(un);
    if (index >= 0) return static_cast<int>(stringHashAt(static_cast<const char*>(key), index));
    return static_cast<int>(stringHash(static_cast<const char*>(key), divisorsFor(un)));
}

int HashTable_stringEquals(const void* storedKey, const void* key) {
    if (!storedKey || !key) return storedKey == key;
    return strcmp(static_cast<const char*>(storedKey), static_cast<const char*>(key)) == 0;
}

HashTable* HashTable_new(int size, HashTable_HashFunction hash, HashTable_EqualsFunction equals) {
    HashTable* table = static_cast<HashTable*>(vrnCalloc(sizeof(HashTable), 0, "HashTable_new"));
    table->hash = hash ? hash : HashTable_hashString;
    table->equals = equals ? equals : HashTable_stringEquals;
    initialise<HashTable, HashTableEntry>(table, size, "HashTable_new");
    return table;
}

int HashTable_newHashEntry(HashTable* table, void* key, void* value) {
    if (!table) return 0;
    HashTableEntry* e = insert<HashTable, HashTableEntry>(
        table, key, kTableNames.entryTag, [](HashTable* t) { HashTable_resize(t, 1); });
    e->value = value;
    return table->count;
}

void* HashTable_get(HashTable* table, const void* key) {
    if (!table) return NULL;
    HashTableEntry* e = find<HashTable, HashTableEntry>(table, key);
    return e ? e->value : NULL;
}

int HashTable_lookup(HashTable* table, const void* key, void** storedKey, void** value) {
    if (!table) return 0;
    HashTableEntry* e = find<HashTable, HashTableEntry>(table, key);
    if (!e) return 0;
    if (storedKey) *storedKey = e->key;
    if (value) *value = e->value;
    return 1;
}

int HashTable_remove(HashTable* table, const void* key) {
    if (!table) return 0;
    return remove<HashTable, HashTableEntry>(table, key,
                                             [](HashTable* t) { HashTable_resize(t, -1); });
}

int HashTable_resize(HashTable* table, int step) {
    static vrnDebugPreamble debug;
    if (!table) return 0;
    return resize<HashTable, HashTableEntry>(table, step, debug, kTableNames);
}

void HashTable_delete(HashTable* table) {
    if (!table) return;
    destroy<HashTable, HashTableEntry>(table, kTableNames.deleteTag);
}

HashTableIterator* HashTableIterator_new(HashTable* table) {
    HashTableIterator* it = static_cast<HashTableIterator*>(
        vrnCalloc(sizeof(HashTableIterator), 0, "HashTableIterator_new"));
    it->table = table;
    it->pair = Pair_new();
    it->bucket = -1;
    it->entry = NULL;
    return it;
}

/* Steps to the entry after the current one (the first when the walk has not
 * begun) and hands out its Pair; at the end the iterator stays ended. */
static Pair* advance(HashTableIterator* it) {
    HashTable* t = it->table;
    if (!t) return NULL;
    if (it->entry && it->entry->next) {
        it->entry = it->entry->next;
    } else {
        if (it->bucket >= t->n) return NULL;
        it->entry = NULL;
        while (++it->bucket < t->n)
            if ((it->entry = t->buckets[it->bucket]) != NULL) break;
        if (!it->entry) {
            it->bucket = t->n;
            return NULL;
        }
    }
    Pair_set(it->pair, it->entry->key, it->entry->value);
    return it->pair;
}

Pair* HashTableIterator_first(HashTableIterator* iterator) {
    if (!iterator) return NULL;
    iterator->bucket = -1;
    iterator->entry = NULL;
    return advance(iterator);
}

Pair* HashTableIterator_next(HashTableIterator* iterator) {
    return iterator ? advance(iterator) : NULL;
}

void HashTableIterator_delete(HashTableIterator* iterator) {
    if (!iterator) return;
    Pair_delete(iterator->pair);
    vrnFree(iterator, "HashTableIterator_delete");
}
