#include "support/dictionary.h"

#include <stdio.h>
#include <string.h>

#include <string>

#include "debug/debug_manager.h"
#include "support/hash_chain.h"
#include "support/memory.h"

namespace {

const int kTableSize = 500; /* 509 buckets */

char* cloneKey(const char* key, const char* function) {
    size_t length = strlen(key) + 1;
    char* copy = static_cast<char*>(vrnMalloc(static_cast<int>(length), function));
    memcpy(copy, key, length);
    return copy;
}

bool present(Dictionary* dict, const char* key) {
    return HashTable_lookup(dict->table, key, NULL, NULL) == 1;
}

/* Unlinks the entry for key (the one whose stored key is exactly `only` when
 * given) and frees its key when the dictionary owns it. */
int removeEntry(Dictionary* dict, const char* key, const void* only, bool freeKey,
                const char* function) {
    HashTableEntry* e = vrn::hashchain::unlink<HashTable, HashTableEntry>(
        dict->table, key, [](HashTable* t) { HashTable_resize(t, -1); },
        [only](const HashTableEntry* entry) { return !only || entry->key == only; });
    if (!e) return 0;
    if (freeKey) vrnFree(e->key, function);
    e->key = NULL;
    return 1;
}

void freeOwnedKeys(Dictionary* dict, const char* function) {
    if (!dict->copyKeys) return;
    HashTable* t = dict->table;
    for (int b = 0; b < t->n; ++b)
        for (HashTableEntry* e = t->buckets[b]; e; e = e->next) vrnFree(e->key, function);
}

}  // namespace

Dictionary* Dictionary_new(int copyKeys) {
    Dictionary* dict = static_cast<Dictionary*>(vrnCalloc(sizeof(Dictionary), 0, "Dictionary_new"));
    dict->table = HashTable_new(kTableSize, NULL, NULL);
    dict->copyKeys = copyKeys;
    dict->replace = 1;
    return dict;
}

void Dictionary_delete(Dictionary* dict) {
    if (!dict) return;
    freeOwnedKeys(dict, "Dictionary_delete");
    HashTable_delete(dict->table);
    vrnFree(dict, "Dictionary_delete");
}

int Dictionary_add(Dictionary* dict, const char* key, void* value) {
    if (!dict || !key) return dict ? dict->table->count : 0;
    /* Only a key that is present is removed: a removal attempt on an absent
     * key could shrink the table and so change the iteration order. */
    /* The copy is taken first: the caller may pass the very key this
     * dictionary stores (from find or an iterator), which the removal frees. */
    char* stored = dict->copyKeys ? cloneKey(key, "Dictionary_add") : const_cast<char*>(key);
    if (dict->replace && present(dict, stored))
        removeEntry(dict, stored, NULL, dict->copyKeys != 0, "Dictionary_add");
    return HashTable_newHashEntry(dict->table, stored, value);
}

int Dictionary_remove(Dictionary* dict, const char* key) {
    if (!dict || !key) return 0;
    return removeEntry(dict, key, NULL, dict->copyKeys != 0, "Dictionary_remove");
}

int Dictionary_clear(Dictionary* dict) {
    if (!dict) return 0;
    freeOwnedKeys(dict, "Dictionary_clear");
    HashTable_delete(dict->table);
    dict->table = HashTable_new(kTableSize, NULL, NULL);
    return 1;
}

void* Dictionary_contains(Dictionary* dict, const char* key) {
    if (!dict || !key) return NULL;
    return HashTable_get(dict->table, key);
}

int Dictionary_find(Dictionary* dict, const char* key, char** storedKey, void** value) {
    if (!dict || !key) return 0;
    void* k = NULL;
    void* v = NULL;
    if (!HashTable_lookup(dict->table, key, &k, &v)) return 0;
    if (storedKey) *storedKey = static_cast<char*>(k);
    if (value) *value = v;
    return 1;
}

int Dictionary_getSize(const Dictionary* dict) { return dict ? dict->table->count : 0; }

/* Presence is tested by key, never by value: a reserved key (or any key
 * stored with a NULL value) counts as taken. */
int Dictionary_makeKeyUnique(Dictionary* dict, char** key, int reserveKey, int counter) {
    static const char* const name = "Dictionary_makeKeyUnique";
    static vrnDebugPreamble debug;
    debug.enter(name, "Modify a key to make it unique within a dictionary.");
    if (!dict || !key || !*key) return 0;

    char* given = *key;
    char* reserved = NULL;
    if (reserveKey && !present(dict, given)) {
        reserved = cloneKey(given, name);
        HashTable_newHashEntry(dict->table, reserved, NULL);
    }

    char* candidate = given;
    std::string text;
    /* Counted wide: a caller may start near INT_MAX, and the names must go on
     * rising past it rather than overflow. */
    long long next = counter;
    while (present(dict, candidate)) {
        if (debug.tracing()) fprintf(vrnDebug_getStream(), "Duplicate - %s\n", candidate);
        if (candidate != given) vrnFree(candidate, name);
        text = given;
        text += ' ';
        text += std::to_string(next);
        candidate = cloneKey(text.c_str(), name);
        ++next;
    }

    if (reserved) {
        removeEntry(dict, reserved, reserved, false, name);
        vrnFree(reserved, name);
    }

    if (debug.tracing()) {
        if (candidate == given)
            fprintf(vrnDebug_getStream(), "\"%s\" is unique.\n", given);
        else
            fprintf(vrnDebug_getStream(), "\"%s\" -> \"%s\"\n", given, candidate);
    }
    if (candidate != given) {
        vrnFree(given, name);
        *key = candidate;
    }
    return 1;
}

DictionaryIterator* DictionaryIterator_new(Dictionary* dict) {
    DictionaryIterator* it = static_cast<DictionaryIterator*>(
        vrnCalloc(sizeof(DictionaryIterator), 0, "DictionaryIterator_new"));
    it->iterator = HashTableIterator_new(dict ? dict->table : NULL);
    return it;
}

void DictionaryIterator_delete(DictionaryIterator* iterator) {
    if (!iterator) return;
    HashTableIterator_delete(iterator->iterator);
    vrnFree(iterator, "DictionaryIterator_delete");
}

Pair* DictionaryIterator_first(DictionaryIterator* iterator) {
    return iterator ? HashTableIterator_first(iterator->iterator) : NULL;
}

Pair* DictionaryIterator_next(DictionaryIterator* iterator) {
    return iterator ? HashTableIterator_next(iterator->iterator) : NULL;
}
