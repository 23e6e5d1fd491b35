/* Dictionary: a map from C-string keys to pointer-sized values over a
 * HashTable of 509 buckets, optionally owning copies of its keys. Values are
 * never owned. Iteration follows the table (see hash_set.h). */
#ifndef VRN_SUPPORT_DICTIONARY_H
#define VRN_SUPPORT_DICTIONARY_H

#include "support/hash_table.h"
#include "support/set.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct Dictionary {
    HashTable* table;
    int copyKeys; /* non-zero: the dictionary stores and frees its own key copies */
    int replace;  /* 1: adding an existing key replaces its entry */
} Dictionary;

typedef struct DictionaryIterator {
    HashTableIterator* iterator;
} DictionaryIterator;

Dictionary* Dictionary_new(int copyKeys);
/* Frees the copied keys (when copyKeys), the table and the dictionary. */
void Dictionary_delete(Dictionary* dict);
/* Replaces any entry with an equal key, then stores key (a fresh copy when
 * copyKeys) with value. Returns the entry count. */
int Dictionary_add(Dictionary* dict, const char* key, void* value);
/* 1 when the entry was removed (its copied key freed), 0 when absent. */
int Dictionary_remove(Dictionary* dict, const char* key);
/* Empties the dictionary onto a fresh 509-bucket table. Returns 1. */
int Dictionary_clear(Dictionary* dict);
/* The value stored for key, or NULL. A key stored with a NULL value also
 * gives NULL: use Dictionary_find to test presence. */
void* Dictionary_contains(Dictionary* dict, const char* key);
/* 1 and both outputs (either may be NULL) when key is present, else 0. */
int Dictionary_find(Dictionary* dict, const char* key, char** storedKey, void** value);
int Dictionary_getSize(const Dictionary* dict);
/* Makes *key unique within the dictionary: while the candidate is present,
 * it becomes the given key followed by " %d" with counter, counting up
 * (Region, Region 1, Region 2, ...). When reserveKey is set the given key
 * itself never counts as unique. A changed key replaces *key, whose old
 * string is freed with vrnFree; the caller owns both and adds the result.
 * Returns 1 (0 for missing arguments). */
int Dictionary_makeKeyUnique(Dictionary* dict, char** key, int reserveKey, int counter);

DictionaryIterator* DictionaryIterator_new(Dictionary* dict);
void DictionaryIterator_delete(DictionaryIterator* iterator);
/* The Pair (key, value) of the first / next entry, or NULL at the end; the
 * Pair belongs to the iterator. */
Pair* DictionaryIterator_first(DictionaryIterator* iterator);
Pair* DictionaryIterator_next(DictionaryIterator* iterator);

#ifdef __cplusplus
}
#endif

#endif
