#include "topology/name_manager.h"

#include <ctype.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <unordered_set>
#include <vector>

#include "database/orv_name.h"
#include "database/state_manager.h"
#include "errors/error.h"
#include "support/cstring.h"
#include "support/memory.h"
#include "topology/atlas.h"
#include "topology/model_fields.h"
#include "topology/topology.h"

namespace {

char compositeMarker;

const int kDefaultForm = 1, kDefaultSource = 2, kDefaultComposite = 1;

void freeCache(NameManager* m) {
    vrnFree(m->cacheNames, "NameManager_freeCache");
    vrnFree(m->cacheObjects, "NameManager_freeCache");
    m->cacheNames = nullptr;
    m->cacheObjects = nullptr;
    m->cacheCount = 0;
    m->cacheValid = 0;
}

void markNamesChanged(NameManager* m) {
    BitField_setBit(&m->dirty, NAMES_CHANGED_BIT);
    vrnObject_markModified(&m->header);
    freeCache(m);
}

void markStrategyChanged(NameManager* m) {
    BitField_setBit(&m->dirty, STRATEGY_CHANGED_BIT);
    vrnObject_markModified(&m->header);
}

void respace(NameManager* m) {
    vrnCString_free(m->spacedRegionBase);
    m->spacedRegionBase = vrnCString_normaliseSpace(m->defaultRegionName);
}

// Replaces the text in *slot with the normal form of name (trailing blanks
// kept when asked); a name that normalises to nothing leaves it as it was.
bool setNormalName(char** slot, const char* name, int keepTrailing) {
    char* normal = NameManager_normaliseName(name, 0, keepTrailing);
    if (!normal || !*normal) {
        vrnCString_free(normal);
        return false;
    }
    vrnCString_free(*slot);
    *slot = normal;
    return true;
}

// Takes a region name strategy without marking anything: a given name is
// stored in its normal form with a trailing blank kept, a non-zero form and
// source replace the current ones. False (and no change) for values out of
// range or a name that normalises to nothing.
bool takeRegionStrategy(NameManager* m, const char* name, int defaultForm, int nameSource) {
    if (defaultForm < 0 || defaultForm > 2 || nameSource < 0 || nameSource > 4) return false;
    if (name && !setNormalName(&m->defaultRegionName, name, 1)) return false;
    if (defaultForm) m->strategy[0] = defaultForm;
    if (nameSource) m->strategy[1] = nameSource;
    m->reserveFirst = m->strategy[1] > 2;
    respace(m);
    return true;
}

// The default strategy and names, without marking anything. A new manager
// and a restore of one stored without a strategy both come here, so that
// their defaults agree (the region name in its normal, possibly encoded,
// form).
void applyDefaults(NameManager* m) {
    m->strategy[2] = kDefaultComposite;
    vrnCString_reassign(&m->defaultAssemblyName, "Assembly");
    takeRegionStrategy(m, "Region", kDefaultForm, kDefaultSource);
}

// The dictionary's own copy of key (which it owns).
char* storedKey(NameManager* m, const char* key) {
    char* stored = nullptr;
    Dictionary_find(m->names, key, &stored, nullptr);
    return stored;
}

bool validDimension(const Region* r) { return r->dimensionality >= 0 && r->dimensionality <= 3; }

// Adds the region under name (not yet in use), gives it the name and the id
// n, and writes the id.
void registerRegion(NameManager* m, Region* r, const char* name, int n) {
    Dictionary_add(m->names, name, r);
    r->name = storedKey(m, name);
    Region_setID(r, n);
    markNamesChanged(m);
}

// Objects that still point at a name text of the dictionary lose it before
// the dictionary's texts are freed. Only live objects are touched (a state
// change may have freed others already).
void detachNames(NameManager* m) {
    if (!m->names) return;
    vrnStateManager* sm = vrnStateManager_get();
    if (!sm) return;  // the process is ending: nothing reads names any more
    std::unordered_set<void*> live;
    DictionaryIterator* all = DictionaryIterator_new(sm->objects);
    for (Pair* p = DictionaryIterator_first(all); p; p = DictionaryIterator_next(all)) live.insert(p->second);
    DictionaryIterator_delete(all);
    DictionaryIterator* it = DictionaryIterator_new(m->names);
    for (Pair* p = DictionaryIterator_first(it); p; p = DictionaryIterator_next(it)) {
        if (p->second == &compositeMarker || !live.count(p->second)) continue;
        vrnObject* o = static_cast<vrnObject*>(p->second);
        if (vrnmodel::isA(o, "Assembly")) {
            Assembly* a = reinterpret_cast<Assembly*>(o);
            if (a->uniqueName == p->first) a->uniqueName = nullptr;
        } else if (vrnmodel::isA(o, "Region")) {
            Region* r = reinterpret_cast<Region*>(o);
            if (r->name == p->first) r->name = nullptr;
        }
    }
    DictionaryIterator_delete(it);
}

// Counts the next assembly or region of a counter. A damaged file may hold
// a count that cannot grow; it is reported and nothing is counted.
bool countNext(int* counter, const char* what) {
    if (*counter == INT_MAX) {
        vrnmodel::raise(VRN_I_INTERNAL_ERROR, "NameManager_count", "vrn_common/src/topology/NameManager", __LINE__,
                        "The count of created %s cannot grow past %d.\n", what, INT_MAX);
        return false;
    }
    ++*counter;
    return true;
}

bool validStrategy(const int* s) {
    return s[0] >= 0 && s[0] <= 2 && s[1] >= 0 && s[1] <= 4 && s[2] >= 0 && s[2] <= 2;
}

}  // namespace

extern "C" {

int NameManager_size(void) { return static_cast<int>(sizeof(NameManager)); }

void* NameManager_compositeMarker(void) { return &compositeMarker; }

NameManager* NameManager_new(void) {
    NameManager* m = reinterpret_cast<NameManager*>(vrnObject_new("NameManager"));
    if (!m) return nullptr;
    m->names = Dictionary_new(1);
    NameManager_setDefaults(m);
    m->atlas = Atlas_new(m);
    vrnObject_setPointer(&m->header, "atlas", m->atlas ? &m->atlas->header : nullptr);
    markNamesChanged(m);
    return m;
}

void NameManager_setDefaults(NameManager* m) {
    if (!m) return;
    applyDefaults(m);
    markStrategyChanged(m);
}

char* NameManager_normaliseName(const char* name, int keepLeading, int keepTrailing) {
    if (!name) return nullptr;
    char* encoded = orvEncodeName(name);
    size_t n = strlen(name);
    bool lead = keepLeading && n > 0 && isspace(static_cast<unsigned char>(name[0]));
    bool trail = keepTrailing && n > 0 && isspace(static_cast<unsigned char>(name[n - 1]));
    if (!lead && !trail) return encoded;
    std::string text = encoded ? encoded : "";
    vrnCString_free(encoded);
    if (text.empty()) return vrnCString_clone(" ");
    if (lead) text.insert(0, " ");
    if (trail) text += ' ';
    return vrnCString_clone(text.c_str());
}

int NameManager_registerAssemblyName(NameManager* m, Assembly* a) {
    if (!m || !a) return 0;
    if (!countNext(&m->noOfCreatedAssemblies, "assemblies")) return 0;
    int id = m->noOfCreatedAssemblies;
    char* candidate = NameManager_normaliseName(Assembly_getName(a), 0, 0);
    if (!candidate || !*candidate) {
        vrnCString_free(candidate);
        candidate = vrnCString_clone(m->defaultAssemblyName);
    }
    Dictionary_makeKeyUnique(m->names, &candidate, 0, 2);
    Dictionary_add(m->names, candidate, a);
    Assembly_setUniqueName(a, storedKey(m, candidate));
    Assembly_setID(a, id);
    vrnCString_free(candidate);
    markNamesChanged(m);
    return 1;
}

int NameManager_registerRegionName(NameManager* m, Region* r) {
    if (!m || !r || !validDimension(r)) return 0;
    int source = m->strategy[1];
    const char* offered = source != 1 && source != 3 ? r->baseName : nullptr;
    if (!countNext(&m->noOfCreatedRegions[r->dimensionality], "regions")) return 0;
    int n = m->noOfCreatedRegions[r->dimensionality];
    char* candidate = nullptr;
    if (source == 2 || source == 4) candidate = NameManager_normaliseName(offered, 0, 0);
    if (candidate && !*candidate) {
        vrnCString_free(candidate);
        candidate = nullptr;
    }
    if (!candidate) {
        char number[32];
        snprintf(number, sizeof number, "%d.%d", r->dimensionality, n);
        if (m->strategy[0] == 1) candidate = vrnCString_merge(m->spacedRegionBase, " ", number, nullptr);
        else if (m->strategy[0] == 2) candidate = vrnCString_merge(m->defaultRegionName, number, nullptr);
    }
    if (!candidate) {
        Region_setID(r, n);
        return 0;
    }
    Dictionary_makeKeyUnique(m->names, &candidate, m->reserveFirst, 2);
    registerRegion(m, r, candidate, n);
    vrnCString_free(candidate);
    return 1;
}

int NameManager_useRegionName(NameManager* m, Region* r, const char* name) {
    if (!m || !r || !name || !validDimension(r) || Dictionary_find(m->names, name, nullptr, nullptr))
        return 0;
    if (!countNext(&m->noOfCreatedRegions[r->dimensionality], "regions")) return 0;
    registerRegion(m, r, name, m->noOfCreatedRegions[r->dimensionality]);
    return 1;
}

int NameManager_addCompositeName(NameManager* m, const char* name) {
    if (!m || !name || Dictionary_find(m->names, name, nullptr, nullptr)) return 0;
    Dictionary_add(m->names, name, &compositeMarker);
    ++m->compositeCount;
    markNamesChanged(m);
    return 1;
}

int NameManager_removeName(NameManager* m, const char* name) {
    if (!m || !name) return 0;
    void* value = nullptr;
    char* stored = nullptr;
    if (!Dictionary_find(m->names, name, &stored, &value)) return 0;
    std::string key = stored;
    vrnObject* o = static_cast<vrnObject*>(value);
    if (value == &compositeMarker) {
        --m->compositeCount;
    } else if (vrnmodel::isA(o, "Assembly")) {
        Assembly* a = reinterpret_cast<Assembly*>(o);
        Assembly_setUniqueName(a, nullptr);
        Assembly_setID(a, 0);
    } else if (vrnmodel::isA(o, "Region")) {
        Region* r = reinterpret_cast<Region*>(o);
        r->name = nullptr;
        Region_setID(r, 0);
    }
    Dictionary_remove(m->names, key.c_str());
    markNamesChanged(m);
    return 1;
}

int NameManager_isNameUsed(NameManager* m, const char* name) {
    return m && name && Dictionary_find(m->names, name, nullptr, nullptr);
}

vrnObject* NameManager_getObject(NameManager* m, const char* name, int* composite) {
    void* value = nullptr;
    if (composite) *composite = 0;
    if (!m || !name || !Dictionary_find(m->names, name, nullptr, &value)) return nullptr;
    if (value == &compositeMarker) {
        if (composite) *composite = 1;
        return nullptr;
    }
    return static_cast<vrnObject*>(value);
}

int NameManager_getNames(NameManager* m, char*** names, vrnObject*** objects) {
    if (!m) return 0;
    if (!m->cacheValid) {
        freeCache(m);
        int n = Dictionary_getSize(m->names);
        if (n > 0) {
            m->cacheNames = static_cast<char**>(vrnMalloc(static_cast<int>(sizeof(char*)) * n, "NameManager_getNames"));
            m->cacheObjects =
                static_cast<vrnObject**>(vrnMalloc(static_cast<int>(sizeof(vrnObject*)) * n, "NameManager_getNames"));
        }
        DictionaryIterator* it = DictionaryIterator_new(m->names);
        for (Pair* p = DictionaryIterator_first(it); p; p = DictionaryIterator_next(it)) {
            m->cacheNames[m->cacheCount] = static_cast<char*>(p->first);
            m->cacheObjects[m->cacheCount++] =
                p->second == &compositeMarker ? nullptr : static_cast<vrnObject*>(p->second);
        }
        DictionaryIterator_delete(it);
        m->cacheValid = 1;
    }
    if (names) *names = m->cacheNames;
    if (objects) *objects = m->cacheObjects;
    return m->cacheCount;
}

int NameManager_setDefaultAssemblyName(NameManager* m, const char* name) {
    if (!m) return 0;
    if (!setNormalName(&m->defaultAssemblyName, name, 0)) return 0;
    markStrategyChanged(m);
    return 1;
}

int NameManager_setRegionNameStrategy(NameManager* m, const char* name, int defaultForm,
                                      int nameSource) {
    if (!m || !takeRegionStrategy(m, name, defaultForm, nameSource)) return 0;
    markStrategyChanged(m);
    return 1;
}

int NameManager_setCompositeNameStrategy(NameManager* m, int value) {
    if (!m || value < 0 || value > 2) return 0;
    if (value == 0) return 1;
    m->strategy[2] = value;
    markStrategyChanged(m);
    return 1;
}

void NameManager_dump(vrnObject* o) {
    NameManager* m = reinterpret_cast<NameManager*>(o);
    if (BitField_isSet(&m->dirty, NAMES_CHANGED_BIT)) {
        std::vector<char*> primitive, composite;
        std::vector<vrnObject*> objects;
        DictionaryIterator* it = DictionaryIterator_new(m->names);
        for (Pair* p = DictionaryIterator_first(it); p; p = DictionaryIterator_next(it)) {
            if (p->second == &compositeMarker) {
                composite.push_back(static_cast<char*>(p->first));
            } else {
                primitive.push_back(static_cast<char*>(p->first));
                objects.push_back(static_cast<vrnObject*>(p->second));
            }
        }
        DictionaryIterator_delete(it);
        int n = static_cast<int>(primitive.size());
        vrnObject_setStrings(o, "names - primitive", primitive.data(), n);
        vrnObject_setPointers(o, "objects", objects.data(), n);
        vrnObject_setStrings(o, "names - composite", composite.data(), static_cast<int>(composite.size()));
        vrnObject_setInt(o, "noOfCreatedAssemblies", m->noOfCreatedAssemblies);
        vrnObject_setInts(o, "noOfCreatedRegions", m->noOfCreatedRegions, 4);
    }
    if (BitField_isSet(&m->dirty, STRATEGY_CHANGED_BIT)) {
        vrnObject_setInts(o, "strategy", m->strategy, 3);
        char* names[2] = {m->defaultAssemblyName, m->defaultRegionName};
        vrnObject_setStrings(o, "defaultNames", names, 2);
    }
    BitField_clearAll(&m->dirty);
}

void NameManager_restore(vrnObject* o, int onlyIfChanged) {
    NameManager* m = reinterpret_cast<NameManager*>(o);
    vrnmodel::getTyped(o, onlyIfChanged, "atlas", "Atlas", &m->atlas);
    bool fresh = !m->defaultRegionName;
    if (fresh) applyDefaults(m);

    if (fresh || vrnObject_shouldRead(o, onlyIfChanged, "strategy")) {
        int stored[3] = {0, 0, 0};
        int* values = nullptr;
        int count = 0;
        if (vrnObject_getInts(o, 0, "strategy", &values, &count) && count >= 3)
            memcpy(stored, values, sizeof stored);
        else
            count = 0;
        vrnFree(values, "NameManager_restore");
        if (count == 0 || !validStrategy(stored)) {
            applyDefaults(m);
        } else {
            memcpy(m->strategy, stored, sizeof stored);
            m->reserveFirst = m->strategy[1] > 2;
            char* names[2] = {nullptr, nullptr};
            if ((fresh || vrnObject_shouldRead(o, onlyIfChanged, "defaultNames")) &&
                vrnObject_getStringArray(o, 0, "defaultNames", names, 2)) {
                if (names[0] && *names[0]) vrnCString_reassign(&m->defaultAssemblyName, names[0]);
                if (names[1] && *names[1]) vrnCString_reassign(&m->defaultRegionName, names[1]);
                respace(m);
            }
            vrnCString_free(names[0]);
            vrnCString_free(names[1]);
        }
    }

    if (!m->names || vrnObject_shouldRead(o, onlyIfChanged, "names - vrn") ||
        vrnObject_shouldRead(o, onlyIfChanged, "names - primary") ||
        vrnObject_shouldRead(o, onlyIfChanged, "objects")) {
        char** primitive = nullptr;
        int nPrimitive = 0;
        vrnObject** objects = nullptr;
        int nObjects = 0;
        char** composite = nullptr;
        int nComposite = 0;
        vrnObject_getStrings(o, 0, "names - primitive", &primitive, &nPrimitive);
        vrnObject_getPointers(o, 0, "objects", &objects, &nObjects);
        vrnObject_getStrings(o, 0, "names - composite", &composite, &nComposite);
        detachNames(m);
        if (m->names) Dictionary_delete(m->names);
        m->names = Dictionary_new(1);
        freeCache(m);
        // The two arrays are parallel: a damaged file may hold fewer of one,
        // and names of missing objects are left out.
        int n = nPrimitive < nObjects ? nPrimitive : nObjects;
        for (int i = 0; i < n; ++i) {
            vrnObject* target = objects[i];
            if (!target || !primitive[i] || Dictionary_find(m->names, primitive[i], nullptr, nullptr)) continue;
            if (vrnmodel::isA(target, "Assembly")) {
                Dictionary_add(m->names, primitive[i], target);
                Assembly_setUniqueName(reinterpret_cast<Assembly*>(target), storedKey(m, primitive[i]));
            } else if (vrnmodel::isA(target, "Region")) {
                Dictionary_add(m->names, primitive[i], target);
                reinterpret_cast<Region*>(target)->name = storedKey(m, primitive[i]);
            }
        }
        m->compositeCount = 0;
        for (int i = 0; i < nComposite; ++i) {
            if (!composite[i] || Dictionary_find(m->names, composite[i], nullptr, nullptr)) continue;
            Dictionary_add(m->names, composite[i], &compositeMarker);
            ++m->compositeCount;
        }
        vrnCStringArray_free(primitive, nPrimitive);
        vrnCStringArray_free(composite, nComposite);
        vrnFree(objects, "NameManager_restore");
    }
    vrnObject_getInt(o, onlyIfChanged, "noOfCreatedAssemblies", &m->noOfCreatedAssemblies);
    if (vrnObject_shouldRead(o, onlyIfChanged, "noOfCreatedRegions")) {
        int* counts = nullptr;
        int n = 0;
        if (vrnObject_getInts(o, 0, "noOfCreatedRegions", &counts, &n) && n >= 4)
            memcpy(m->noOfCreatedRegions, counts, sizeof m->noOfCreatedRegions);
        vrnFree(counts, "NameManager_restore");
    }
}

void NameManager_delete(vrnObject* o) {
    NameManager* m = reinterpret_cast<NameManager*>(o);
    if (vrnObject_isNotBeingDestroyed(o) && m->atlas) vrnObject_destroy(&m->atlas->header);
    detachNames(m);
    if (m->names) Dictionary_delete(m->names);
    vrnCString_free(m->defaultAssemblyName);
    vrnCString_free(m->defaultRegionName);
    vrnCString_free(m->spacedRegionBase);
    freeCache(m);
    vrnObject_delete(o);
}

}  // extern "C"
