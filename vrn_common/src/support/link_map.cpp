#include "support/link_map.h"

#include <limits.h>
#include <stdint.h>

#include "support/hash_chain.h"
#include "support/memory.h"

LinkPair* LinkPair_new(void* object, int id) {
    LinkPair* pair = static_cast<LinkPair*>(vrnCalloc(sizeof(LinkPair), 0, "LinkPair_new"));
    pair->object = object;
    pair->id = id;
    return pair;
}

void LinkPair_delete(LinkPair* pair) { vrnFree(pair, "LinkPair_delete"); }

int LinkPair_hash(const void* pair, int n) {
    if (!pair || n < 1) return 0;
    uintptr_t object = reinterpret_cast<uintptr_t>(static_cast<const LinkPair*>(pair)->object);
    return static_cast<int>(static_cast<uint32_t>(object) % static_cast<uint32_t>(n));
}

int LinkPair_compare(const void* storedPair, const void* pair) {
    const LinkPair* a = static_cast<const LinkPair*>(storedPair);
    const LinkPair* b = static_cast<const LinkPair*>(pair);
    if (!a || !b) return a == b;
    return a->object == b->object && a->id == b->id;
}

LinkMap* LinkMap_new(int expectedLinks) {
    LinkMap* map = static_cast<LinkMap*>(vrnCalloc(sizeof(LinkMap), 0, "LinkMap_new"));
    int size = expectedLinks > INT_MAX / 2 ? INT_MAX : 2 * expectedLinks;
    map->table = HashTable_new(size, LinkPair_hash, LinkPair_compare);
    return map;
}

void LinkMap_delete(LinkMap* map) {
    if (!map) return;
    HashTable* t = map->table;
    for (int b = 0; b < t->n; ++b)
        for (HashTableEntry* e = t->buckets[b]; e; e = e->next)
            LinkPair_delete(static_cast<LinkPair*>(e->key));
    HashTable_delete(t);
    vrnFree(map, "LinkMap_delete");
}

int LinkMap_addLink(LinkMap* map, void* a, void* b, int id) {
    if (!map || id < 1) return 0;
    HashTable_newHashEntry(map->table, LinkPair_new(b, -id), a);
    HashTable_newHashEntry(map->table, LinkPair_new(a, id), b);
    return 1;
}

/* Unlinks the entry {object, id} -> value and frees its pair. */
static int removeEntry(LinkMap* map, void* object, int id, void* value) {
    LinkPair probe = {object, id};
    HashTableEntry* e = vrn::hashchain::unlink<HashTable, HashTableEntry>(
        map->table, &probe, [](HashTable* t) { HashTable_resize(t, -1); },
        [value](const HashTableEntry* entry) { return entry->value == value; });
    if (!e) return 0;
    LinkPair_delete(static_cast<LinkPair*>(e->key));
    e->key = NULL;
    return 1;
}

int LinkMap_removeLink(LinkMap* map, void* a, void* b, int id) {
    if (!map || id < 1) return 0;
    if (!removeEntry(map, a, id, b)) return 0;
    removeEntry(map, b, -id, a);
    return 1;
}

int LinkMap_getCount(const LinkMap* map) { return map ? map->table->count / 2 : 0; }

int LinkMap_toArray(LinkMap* map, void*** firsts, void*** seconds, int** ids) {
    if (firsts) *firsts = NULL;
    if (seconds) *seconds = NULL;
    if (ids) *ids = NULL;
    int m = LinkMap_getCount(map);
    if (m < 1 || !firsts || !seconds || !ids) return m;
    void** a = static_cast<void**>(vrnMalloc(m * (int)sizeof(void*), "LinkMap_toArray"));
    void** b = static_cast<void**>(vrnMalloc(m * (int)sizeof(void*), "LinkMap_toArray"));
    int* k = static_cast<int*>(vrnMalloc(m * (int)sizeof(int), "LinkMap_toArray"));
    int i = 0;
    HashTable* t = map->table;
    for (int bucket = 0; bucket < t->n; ++bucket)
        for (HashTableEntry* e = t->buckets[bucket]; e; e = e->next) {
            const LinkPair* pair = static_cast<const LinkPair*>(e->key);
            if (pair->id < 1 || i >= m) continue;
            a[i] = pair->object;
            b[i] = e->value;
            k[i] = pair->id;
            ++i;
        }
    /* Only a table changed behind the map's back can hold fewer positive
     * entries than half its count; the rest stays zeroed rather than unset. */
    for (; i < m; ++i) {
        a[i] = b[i] = NULL;
        k[i] = 0;
    }
    *firsts = a;
    *seconds = b;
    *ids = k;
    return m;
}

LinkMapIterator* LinkMapIterator_new(LinkMap* map) {
    LinkMapIterator* it = static_cast<LinkMapIterator*>(
        vrnCalloc(sizeof(LinkMapIterator), 0, "LinkMapIterator_new"));
    it->iterator = HashTableIterator_new(map ? map->table : NULL);
    return it;
}

void LinkMapIterator_delete(LinkMapIterator* iterator) {
    if (!iterator) return;
    HashTableIterator_delete(iterator->iterator);
    vrnFree(iterator, "LinkMapIterator_delete");
}

/* Skips the back entries (negative ids) and fills the iterator's record. */
static Link* positive(LinkMapIterator* it, Pair* p) {
    for (; p; p = HashTableIterator_next(it->iterator)) {
        const LinkPair* pair = static_cast<const LinkPair*>(p->first);
        if (pair->id < 1) continue;
        it->link.object = pair->object;
        it->link.other = p->second;
        it->link.id = pair->id;
        return &it->link;
    }
    return NULL;
}

Link* LinkMapIterator_first(LinkMapIterator* iterator) {
    return iterator ? positive(iterator, HashTableIterator_first(iterator->iterator)) : NULL;
}

Link* LinkMapIterator_next(LinkMapIterator* iterator) {
    return iterator ? positive(iterator, HashTableIterator_next(iterator->iterator)) : NULL;
}
