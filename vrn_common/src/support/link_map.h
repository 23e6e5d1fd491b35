/* LinkMap: numbered two-way links between pairs of objects over a HashTable.
 * A link with id k > 0 from a to b is stored as two entries, {b, -k} -> a and
 * {a, +k} -> b, so it can be found from either end; the positive entry is the
 * link itself. The objects are never owned; the LinkPair keys are. */
#ifndef VRN_SUPPORT_LINK_MAP_H
#define VRN_SUPPORT_LINK_MAP_H

#include "support/hash_table.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct LinkPair {
    void* object;
    int id;
} LinkPair;

typedef struct LinkMap {
    HashTable* table; /* LinkPair* -> object */
} LinkMap;

/* One link as the iterator hands it out. */
typedef struct Link {
    void* object; /* a */
    void* other;  /* b */
    int id;       /* k */
} Link;

typedef struct LinkMapIterator {
    HashTableIterator* iterator;
    Link link;
} LinkMapIterator;

LinkPair* LinkPair_new(void* object, int id);
void LinkPair_delete(LinkPair* pair);
/* The pair's object word (unsigned) mod n. */
int LinkPair_hash(const void* pair, int n);
/* Non-zero when both object and id are equal. */
int LinkPair_compare(const void* storedPair, const void* pair);

/* An empty map over a table sized for 2 * expectedLinks entries. */
LinkMap* LinkMap_new(int expectedLinks);
/* Frees every LinkPair, the table and the map. */
void LinkMap_delete(LinkMap* map);
/* Stores the link a -> b with id (no test for an existing link); 1, or 0
 * with nothing stored when id < 1. */
int LinkMap_addLink(LinkMap* map, void* a, void* b, int id);
/* Removes the link a -> b with id, both of its entries; 1 when it was
 * there, 0 otherwise. */
int LinkMap_removeLink(LinkMap* map, void* a, void* b, int id);
/* Number of links. */
int LinkMap_getCount(const LinkMap* map);
/* Returns the number of links m; for m > 0 three new arrays (freed with
 * vrnFree) of a, b and k per link in table order; else all three NULL. */
int LinkMap_toArray(LinkMap* map, void*** firsts, void*** seconds, int** ids);

LinkMapIterator* LinkMapIterator_new(LinkMap* map);
void LinkMapIterator_delete(LinkMapIterator* iterator);
/* The first / next link, as the iterator's own record, or NULL at the end. */
Link* LinkMapIterator_first(LinkMapIterator* iterator);
Link* LinkMapIterator_next(LinkMapIterator* iterator);

#ifdef __cplusplus
}
#endif

#endif
