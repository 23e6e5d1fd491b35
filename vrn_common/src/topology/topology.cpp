#include "topology/topology.h"

#include <string.h>

#include <string>
#include <vector>

#include "database/orv_name.h"
#include "errors/error.h"
#include "support/cstring.h"
#include "support/hash_set.h"
#include "support/memory.h"
#include "support/set.h"
#include "topology/model_fields.h"
#include "topology/name_manager.h"

using vrnmodel::Guard;

namespace {

// Re-entry flags, one per two-way setter.
int addAssemblyBusy, removeAssemblyBusy, addRegionBusy, removeRegionBusy;
int setAssemblyTopologyBusy, unsetAssemblyTopologyBusy;
int assemblyAddRegionBusy, assemblyRemoveRegionBusy;
int setRegionAssemblyBusy, unsetRegionAssemblyBusy;
int setRegionTopologyBusy, unsetRegionTopologyBusy;

HashSet* dimensionSet(Topology* t, const Region* r) {
    if (!t || !r || r->dimensionality < 0 || r->dimensionality > 3) return nullptr;
    return t->regions[r->dimensionality];
}

bool destroying(vrnObject* o) { return !vrnObject_isNotBeingDestroyed(o); }

void releaseBaseName(Region* r) {
    if (r->baseName != r->originalName) vrnCString_free(r->baseName);
    r->baseName = nullptr;
}

// Takes name out of the topology's name manager when it names this very
// object there: an object of another topology may carry the same text, and
// removing it must not take the name of the object named so here. The text
// is copied first, as removing the name may free the object's own.
void removeNameHere(Topology* t, const char* name, vrnObject* object) {
    if (!t->nameManager || !name || NameManager_getObject(t->nameManager, name, nullptr) != object)
        return;
    std::string copy = name;
    NameManager_removeName(t->nameManager, copy.c_str());
}

std::vector<Region*> regionsOf(const Set* set) {
    std::vector<Region*> out;
    if (set)
        for (int i = 0; i < set->count; ++i) out.push_back(static_cast<Region*>(set->members[i]));
    return out;
}

// Two-way unset of a child's owner: clears the child's link (field, stored
// under key), then takes the child out of the old owner with remove. A call
// that comes back here through remove does nothing.
template <class Child, class Owner>
int unsetOwner(Child* child, int& busy, Owner* Child::*field, const char* key,
               int (*remove)(Owner*, Child*)) {
    if (!child) return 0;
    Guard guard(busy);
    if (guard.reentered()) return 1;
    Owner* old = child->*field;
    child->*field = nullptr;
    vrnObject_setPointer(&child->header, key, nullptr);
    if (old) remove(old, child);
    return 1;
}

}  // namespace

extern "C" {

/* ---- Topology ---------------------------------------------------------- */

int Topology_size(void) { return static_cast<int>(sizeof(Topology)); }

Topology* Topology_new(void) {
    Topology* t = reinterpret_cast<Topology*>(vrnObject_new("Topology"));
    if (!t) return nullptr;
    t->assemblies = HashSet_new(100);
    const int sizes[4] = {0, 0, 1000, 100};
    for (int d = 0; d < 4; ++d) t->regions[d] = HashSet_new(sizes[d]);
    vrnObject_markModified(&t->header);
    t->nameManager = NameManager_new();
    vrnObject_setPointer(&t->header, "nameManager", &t->nameManager->header);
    return t;
}

static const char* const kRegionKeys[4] = {"0D regions", "1D regions", "2D regions", "3D regions"};

void Topology_dump(vrnObject* o) {
    Topology* t = reinterpret_cast<Topology*>(o);
    vrnObject_setHashSet(o, "assemblies", t->assemblies);
    for (int d = 0; d < 4; ++d) vrnObject_setHashSet(o, kRegionKeys[d], t->regions[d]);
}

void Topology_restore(vrnObject* o, int onlyIfChanged) {
    Topology* t = reinterpret_cast<Topology*>(o);
    vrnmodel::getTyped(o, onlyIfChanged, "nameManager", "NameManager", &t->nameManager);
    vrnmodel::getTypedSet(o, onlyIfChanged, "assemblies", "Assembly", &t->assemblies);
    for (int d = 0; d < 4; ++d)
        vrnmodel::getTypedSet(o, onlyIfChanged, kRegionKeys[d], "Region", &t->regions[d]);
}

// The members of a topology that is deleted outlive it: they no longer
// point at it (in memory and stored, so that an undo brings the link back).
static void releaseMembers(Topology* t, HashSet* set) {
    void** members = nullptr;
    int n = set ? HashSet_toArray(set, &members) : 0;
    for (int i = 0; i < n; ++i) {
        vrnObject* o = static_cast<vrnObject*>(members[i]);
        Topology** link = vrnmodel::isA(o, "Region")     ? &reinterpret_cast<Region*>(o)->topology
                          : vrnmodel::isA(o, "Assembly") ? &reinterpret_cast<Assembly*>(o)->topology
                                                         : nullptr;
        if (link && *link == t) {
            *link = nullptr;
            vrnObject_setPointer(o, "topology", nullptr);
        }
    }
    vrnFree(members, "Topology_delete");
}

void Topology_destroy(vrnObject* o) {
    Topology* t = reinterpret_cast<Topology*>(o);
    if (!destroying(o)) {
        if (t->nameManager) vrnObject_destroy(&t->nameManager->header);
        releaseMembers(t, t->assemblies);
        for (HashSet* s : t->regions) releaseMembers(t, s);
    }
    if (t->assemblies) HashSet_delete(t->assemblies);
    for (HashSet* s : t->regions)
        if (s) HashSet_delete(s);
    vrnObject_delete(o);
}

void Topology_delete(Topology* t) {
    if (t) Topology_destroy(&t->header);
}

int Topology_addAssembly(Topology* t, Assembly* a) {
    if (!t || !a) return 0;
    Guard guard(addAssemblyBusy);
    if (guard.reentered()) return 1;
    if (a->topology == t && a->uniqueName) return 1;
    // Its name in another topology goes before it is named here.
    if (a->topology && a->topology != t) Assembly_unsetTopology(a);
    if (t->nameManager) NameManager_registerAssemblyName(t->nameManager, a);
    vrnmodel::hashSetAdd(t->assemblies, a);
    vrnObject_markModified(&t->header);
    Assembly_setTopology(a, t);
    return 1;
}

int Topology_removeAssembly(Topology* t, Assembly* a) {
    if (!t || !a) return 0;
    Guard guard(removeAssemblyBusy);
    if (guard.reentered()) return 1;
    removeNameHere(t, a->uniqueName, &a->header);
    HashSet_remove(t->assemblies, a);
    vrnObject_markModified(&t->header);
    Assembly_unsetTopology(a);
    return 1;
}

int Topology_addRegion(Topology* t, Region* r, const char* name) {
    if (!t || !r) return 0;
    Guard guard(addRegionBusy);
    if (guard.reentered()) return 1;
    HashSet* set = dimensionSet(t, r);
    if (!set) {
        vrnmodel::raise(VRN_U_INVALID_INPUT, "Topology_addRegion", "vrn_common/src/topology/Topology",
                        __LINE__, "A region of dimensionality %d cannot join a topology.\n",
                        r->dimensionality);
        return 0;
    }
    if (r->topology == t && r->name) return 1;
    if (r->topology && r->topology != t) Region_unsetTopology(r);
    if (t->nameManager && (!name || !NameManager_useRegionName(t->nameManager, r, name)))
        NameManager_registerRegionName(t->nameManager, r);
    vrnmodel::hashSetAdd(set, r);
    vrnObject_markModified(&t->header);
    Region_setTopology(r, t, name);
    return 1;
}

int Topology_removeRegion(Topology* t, Region* r) {
    if (!t || !r) return 0;
    Guard guard(removeRegionBusy);
    if (guard.reentered()) return 1;
    removeNameHere(t, r->name, &r->header);
    // Every dimension set: a damaged file may hold a region in a set other
    // than that of its dimensionality, and none may keep a deleted region.
    for (HashSet* set : t->regions)
        if (set) HashSet_remove(set, r);
    vrnObject_markModified(&t->header);
    Region_unsetTopology(r);
    return 1;
}

/* ---- Assembly ---------------------------------------------------------- */

int Assembly_size(void) { return static_cast<int>(sizeof(Assembly)); }

Assembly* Assembly_new(Topology* topology, const char* name) {
    Assembly* a = reinterpret_cast<Assembly*>(vrnObject_new("Assembly"));
    if (!a) return nullptr;
    a->baseName = vrnCString_clone(name);
    a->regions = Set_new(10);
    if (topology) Assembly_setTopology(a, topology);
    vrnObject_markModified(&a->header);
    return a;
}

// The unique name's decoded form without a trailing run of digits and
// blanks, cut at the leftmost blank of that run: Inlet 12 gives Inlet,
// Inlet12 stays whole.
void Assembly_setUniqueName(Assembly* a, char* name) {
    if (!a) return;
    a->uniqueName = name;
    if (!name) return;
    char* decoded = orvUnencodeName(name);
    std::string base = decoded ? decoded : name;
    vrnCString_free(decoded);
    size_t cut = base.size();
    for (size_t i = base.size(); i > 0; --i) {
        char c = base[i - 1];
        if (c == ' ') cut = i - 1;
        else if (c < '0' || c > '9') break;
    }
    vrnCString_free(a->baseName);
    a->baseName = vrnCString_clone(base.substr(0, cut).c_str());
}

int Assembly_setID(Assembly* a, int id) {
    if (!a) return 0;
    a->id = id;
    return vrnObject_setInt(&a->header, "id", id);
}

const char* Assembly_getName(const Assembly* a) { return a ? a->baseName : nullptr; }

int Assembly_setTopology(Assembly* a, Topology* t) {
    if (!a) return 0;
    if (!t) return Assembly_unsetTopology(a);
    Guard guard(setAssemblyTopologyBusy);
    if (guard.reentered() || a->topology == t) return 1;
    if (a->topology) Assembly_unsetTopology(a);
    a->topology = t;
    vrnObject_setPointer(&a->header, "topology", &t->header);
    Topology_addAssembly(t, a);
    return 1;
}

int Assembly_unsetTopology(Assembly* a) {
    return unsetOwner(a, unsetAssemblyTopologyBusy, &Assembly::topology, "topology", Topology_removeAssembly);
}

int Assembly_addRegion(Assembly* a, Region* r) {
    if (!a || !r) return 0;
    Guard guard(assemblyAddRegionBusy);
    if (guard.reentered()) return 1;
    if (Region_setAssembly(r, a)) {
        Set_add(a->regions, r);
        vrnObject_markModified(&a->header);
    }
    if (a->topology) Region_setTopology(r, a->topology, nullptr);
    else Region_unsetTopology(r);
    return 1;
}

int Assembly_removeRegion(Assembly* a, Region* r) {
    if (!a || !r) return 0;
    Guard guard(assemblyRemoveRegionBusy);
    if (guard.reentered()) return 1;
    if (r->assembly == a) Region_unsetAssembly(r);
    Set_remove(a->regions, r);
    vrnObject_markModified(&a->header);
    return 1;
}

// Each region's neighbours in the order the close takes them: the other
// side of its connection, its glued neighbours, the region bounded by its
// shell's boundary, its component regions.
static std::vector<Region*> neighboursOf(Region* r) {
    std::vector<Region*> out;
    out.push_back(Region_getGlueOpposite(r));
    Region** glued = nullptr;
    int n = Region_getGluedNeighbour(r, &glued);
    for (int i = 0; i < n; ++i) out.push_back(glued[i]);
    vrnFree(glued, "Assembly_close");
    out.push_back(Region_getShellBoundary(r));
    Set* components = Set_new(4);
    Region_getComponentRegions(r, components);
    for (Region* c : regionsOf(components)) out.push_back(c);
    Set_delete(components);
    return out;
}

int Assembly_close(Assembly* a) {
    if (!a) return 0;
    int before = a->regions->count;
    std::vector<Region*> frontier = regionsOf(a->regions);
    while (!frontier.empty()) {
        std::vector<Region*> next;
        for (Region* r : frontier)
            for (Region* c : neighboursOf(r))
                if (c && !c->assembly) {
                    Assembly_addRegion(a, c);
                    next.push_back(c);
                }
        frontier.swap(next);
    }
    return a->regions->count - before;
}

int Assembly_closeAndTake(Assembly* a, Set* candidates) {
    int added = Assembly_close(a);
    if (added > 0)
        for (Region* r : regionsOf(a->regions)) Set_remove(candidates, r);
    return added;
}

// A new error is kept by the error manager from the start; these are left
// there without being published (shown).
static void record(vrnError*) {}

int Assembly_split(Assembly* a, Region* regionA, Region* regionB) {
    static const char* const fn = "Assembly_split";
    static const char* const source = "vrn_common/src/topology/Assembly";
    if (!a || !regionA || !regionB) return 0;
    const char* uniqueName = a->uniqueName ? a->uniqueName : "";
    if (!Set_contains(a->regions, regionA) || !Set_contains(a->regions, regionB)) {
        vrnError* e = vrnError_new(VRN_U_INVALID_INPUT, fn, source, __LINE__);
        for (Region* r : {regionA, regionB})
            if (!Set_contains(a->regions, r))
                vrnError_addMessage(e, "Region A (\"%s\")\nis not in assembly \"%s\".\n",
                                    Region_getDisplayName(r), uniqueName);
        vrnError_publish(e);
        return 0;
    }
    Set* candidates = Set_newCopy(a->regions);
    for (Region* r : regionsOf(candidates)) Assembly_removeRegion(a, r);
    Assembly_addRegion(a, regionA);
    Assembly_closeAndTake(a, candidates);
    // A region that reaches nothing is still reached by itself.
    Set_remove(candidates, regionA);
    int result = 1;
    if (candidates->count > 0) {
        if (!Set_contains(candidates, regionB)) {
            vrnError* e = vrnError_new(VRN_I_INTERNAL_ERROR, fn, source, __LINE__);
            vrnError_addMessage(e, "Region B (\"%s\") does not\nappear in the list of candidate regions.\n",
                                Region_getDisplayName(regionB));
            record(e);
            result = 0;
        } else {
            Assembly* other = Assembly_new(a->topology, nullptr);
            Assembly_addRegion(other, regionB);
            Assembly_closeAndTake(other, candidates);
            Set_remove(candidates, regionB);
            if (candidates->count > 0) {
                vrnError* e = vrnError_new(VRN_U_INVALID_INPUT, fn, source, __LINE__);
                vrnError_addMessage(e,
                                    "Assembly %s contains regions that are\nnot connected to either "
                                    "region A (\"%s\")\nor region B (\"%s\")\n",
                                    a->uniqueName ? a->uniqueName : "", Region_getDisplayName(regionA),
                                    Region_getDisplayName(regionB));
                record(e);
                result = 0;
            }
        }
    }
    Set_delete(candidates);
    return result;
}

void Assembly_dump(vrnObject* o) {
    vrnObject_setSet(o, "regions", reinterpret_cast<Assembly*>(o)->regions);
}

void Assembly_restore(vrnObject* o, int onlyIfChanged) {
    Assembly* a = reinterpret_cast<Assembly*>(o);
    vrnmodel::getTypedSet(o, onlyIfChanged, "regions", "Region", &a->regions);
    vrnmodel::getTyped(o, onlyIfChanged, "topology", "Topology", &a->topology);
    vrnObject_getInt(o, onlyIfChanged, "id", &a->id);
}

void Assembly_destroy(vrnObject* o) {
    Assembly* a = reinterpret_cast<Assembly*>(o);
    if (!destroying(o)) {
        Assembly_unsetTopology(a);
        for (Region* r : regionsOf(a->regions))
            if (r->assembly == a) Region_unsetAssembly(r);
    }
    vrnCString_free(a->baseName);
    Set_delete(a->regions);
    vrnObject_delete(o);
}

void Assembly_delete(Assembly* a) {
    if (a) Assembly_destroy(&a->header);
}

/* ---- Region ------------------------------------------------------------ */

int Region_size(void) { return static_cast<int>(sizeof(Region)); }

Region* Region_new(int dimensionality, const char* originalName) {
    if (dimensionality < 0 || dimensionality > 3) {
        vrnmodel::raise(VRN_U_INVALID_INPUT, "Region_new", "vrn_common/src/topology/Region", __LINE__,
                        "A region's dimensionality must be 0, 1, 2 or 3, not %d.\n", dimensionality);
        return nullptr;
    }
    Region* r = reinterpret_cast<Region*>(vrnObject_new("Region"));
    if (!r) return nullptr;
    r->dimensionality = dimensionality;
    vrnObject_setInt(&r->header, "dimensionality", dimensionality);
    if (originalName) Region_setNames(r, originalName, originalName);
    return r;
}

int Region_setNames(Region* r, const char* originalName, const char* baseName) {
    if (!r) return 0;
    bool same = baseName && (baseName == originalName || baseName == r->originalName);
    // A stored text cannot tell none from empty: an empty original name is
    // none, here and when read back.
    if (originalName && !*originalName) originalName = nullptr;
    // Both copies are taken before the old texts go: either argument may be
    // one of them.
    char* base = same || !baseName ? nullptr : vrnCString_clone(baseName);
    bool newOriginal = originalName != r->originalName;
    char* copy = newOriginal ? vrnCString_clone(originalName) : nullptr;
    releaseBaseName(r);
    if (newOriginal) {
        vrnCString_free(r->originalName);
        r->originalName = copy;
    }
    int strategy = !baseName ? 0 : same ? 1 : 2;
    r->baseName = strategy == 1 ? r->originalName : base;
    int ok = vrnObject_setString(&r->header, "originalName", r->originalName);
    ok = vrnObject_setInt(&r->header, "namingStrategy", strategy) && ok;
    if (strategy == 2) ok = vrnObject_setString(&r->header, "baseName", r->baseName) && ok;
    return ok;
}

int Region_setPriority(Region* r, int priority) {
    if (!r) return 0;
    r->priority = priority;
    return vrnObject_setInt(&r->header, "priority", priority);
}

int Region_setAssembly(Region* r, Assembly* a) {
    if (!r) return 0;
    if (!a) return Region_unsetAssembly(r);
    Guard guard(setRegionAssemblyBusy);
    if (guard.reentered()) return 1;
    // A region belongs to one assembly: it leaves the old one first, so
    // that both ends of every link agree.
    if (r->assembly && r->assembly != a) Assembly_removeRegion(r->assembly, r);
    if (r->assembly != a) {
        r->assembly = a;
        vrnObject_setPointer(&r->header, "assembly", &a->header);
    }
    Assembly_addRegion(a, r);
    return 1;
}

int Region_unsetAssembly(Region* r) {
    return unsetOwner(r, unsetRegionAssemblyBusy, &Region::assembly, "assembly", Assembly_removeRegion);
}

int Region_setTopology(Region* r, Topology* t, const char* name) {
    if (!r) return 0;
    if (!t) return Region_unsetTopology(r);
    Guard guard(setRegionTopologyBusy);
    if (guard.reentered() || r->topology == t) return 1;
    if (r->topology) Region_unsetTopology(r);
    r->topology = t;
    vrnObject_setPointer(&r->header, "topology", &t->header);
    return Topology_addRegion(t, r, name);
}

int Region_unsetTopology(Region* r) {
    return unsetOwner(r, unsetRegionTopologyBusy, &Region::topology, "topology", Topology_removeRegion);
}

int Region_unsetShell(Region* r) {
    if (!r) return 0;
    r->shell = nullptr;
    return vrnObject_setPointer(&r->header, "shell", nullptr);
}

int Region_setBoundary(Region* r, Boundary* b) {
    if (!r) return 0;
    // A region has one boundary and a boundary bounds one region: the old
    // partners of either end let go, so none keeps a link to the other.
    Boundary* old = r->boundary;
    if (old && old != b && old->boundedRegion == r) {
        old->boundedRegion = nullptr;
        vrnObject_setPointer(&old->header, "boundedRegion", nullptr);
    }
    Region* previous = b ? b->boundedRegion : nullptr;
    if (previous && previous != r && previous->boundary == b) {
        previous->boundary = nullptr;
        vrnObject_setPointer(&previous->header, "boundary", nullptr);
    }
    r->boundary = b;
    int ok = vrnObject_setPointer(&r->header, "boundary", b ? &b->header : nullptr);
    if (b && b->boundedRegion != r) {
        b->boundedRegion = r;
        ok = vrnObject_setPointer(&b->header, "boundedRegion", &r->header) && ok;
    }
    return ok;
}

int Region_setID(Region* r, int id) {
    if (!r) return 0;
    r->id = id;
    return vrnObject_setInt(&r->header, "id", id);
}

const char* Region_getName(const Region* r) { return r ? r->name : nullptr; }

const char* Region_getDisplayName(const Region* r) {
    if (r && r->name) return r->name;
    if (r && r->baseName) return r->baseName;
    if (r && r->originalName) return r->originalName;
    return "*** No name - region not in topology ***";
}

Region* Region_getGlueOpposite(const Region* r) {
    return r && r->connection ? Connection_getOtherSide(r->connection, r) : nullptr;
}

int Region_getGluedNeighbour(Region* r, Region*** array) {
    *array = nullptr;
    if (!r || !r->gluings) return 0;
    if (r->gluings->count == 0) {
        Set_delete(r->gluings);
        r->gluings = nullptr;
        return 0;
    }
    int n = r->gluings->count;
    *array = static_cast<Region**>(
        vrnMalloc(static_cast<int>(sizeof(Region*)) * n, "Region_getGluedNeighbour"));
    for (int i = 0; i < n; ++i)
        (*array)[i] = Connection_getOtherSide(static_cast<Connection*>(r->gluings->members[i]), r);
    return n;
}

Region* Region_getShellBoundary(const Region* r) {
    return r && r->shell ? Shell_getBoundary(r->shell) : nullptr;
}

int Region_getComponentRegions(Region* r, Set* set) {
    if (!r || !set || !Set_add(set, r)) return 0;
    int added = 1;
    if (r->boundary) {
        Region** bounding = nullptr;
        int n = Boundary_getBoundingRegions(r->boundary, &bounding);
        for (int i = 0; i < n; ++i) added += Region_getComponentRegions(bounding[i], set);
        vrnFree(bounding, "Region_getComponentRegions");
    }
    return added;
}

Connection* Region_connect(Region* a, Region* b, int type) {
    if (!a || !b || a->connection || b->connection || a == b) {
        vrnmodel::raise(VRN_U_INVALID_INPUT, "Region_connect", "vrn_common/src/topology/Region",
                        __LINE__, "Only two distinct regions without a connection can be connected.\n");
        return nullptr;
    }
    Connection* c = Connection_new(a, b, type);
    for (Region* r : {a, b}) {
        r->connection = c;
        vrnObject_setPointer(&r->header, "connection", &c->header);
    }
    return c;
}

Connection* Region_glue(Region* a, Region* b, int type) {
    if (!a || !b || a == b) return nullptr;
    Connection* c = Connection_new(a, b, type);
    for (Region* r : {a, b}) {
        if (!r->gluings) r->gluings = Set_new(4);
        Set_add(r->gluings, c);
        vrnObject_markModified(&r->header);
    }
    return c;
}

static void dropEmptyGluings(Region* r) {
    if (r->gluings && r->gluings->count == 0) {
        Set_delete(r->gluings);
        r->gluings = nullptr;
    }
}

int Region_unglue(Region* a, Region* b) {
    if (!a || !b || !a->gluings) return 0;
    Connection* found = nullptr;
    for (int i = 0; i < a->gluings->count && !found; ++i) {
        Connection* c = static_cast<Connection*>(a->gluings->members[i]);
        if (Connection_getOtherSide(c, a) == b) found = c;
    }
    if (!found) return 0;
    Set_remove(a->gluings, found);
    if (b->gluings) Set_remove(b->gluings, found);
    vrnObject_markModified(&a->header);
    vrnObject_markModified(&b->header);
    vrnObject_delete(&found->header);
    dropEmptyGluings(a);
    dropEmptyGluings(b);
    // Only a gluing within one assembly can have held it together.
    if (a->assembly && a->assembly == b->assembly) return Assembly_split(a->assembly, a, b);
    return 1;
}

void Region_breakLinks(Region* r, int all) {
    if (!r) return;
    if (Connection* c = r->connection) {
        Region* other = Connection_getOtherSide(c, r);
        if (all || (other && other->assembly != r->assembly)) {
            for (Region* side : {r, other}) {
                if (!side || side->connection != c) continue;
                side->connection = nullptr;
                vrnObject_setPointer(&side->header, "connection", nullptr);
                vrnObject_setPointer(&side->header, "neighbour", nullptr);
            }
            vrnObject_delete(&c->header);
        }
    }
    Region** glued = nullptr;
    int n = Region_getGluedNeighbour(r, &glued);
    for (int i = 0; i < n; ++i)
        if (glued[i] && (all || glued[i]->assembly != r->assembly)) Region_unglue(r, glued[i]);
    vrnFree(glued, "Region_breakLinks");
}

void Region_dump(vrnObject* o) {
    Region* r = reinterpret_cast<Region*>(o);
    vrnObject_setSet(o, "gluings", r->gluings);
}

void Region_restore(vrnObject* o, int onlyIfChanged) {
    Region* r = reinterpret_cast<Region*>(o);
    if (vrnObject_shouldRead(o, onlyIfChanged, "baseName") ||
        vrnObject_shouldRead(o, onlyIfChanged, "originalName") ||
        vrnObject_shouldRead(o, onlyIfChanged, "namingStrategy")) {
        releaseBaseName(r);
        vrnObject_getString(o, 0, "originalName", &r->originalName);
        if (r->originalName && !*r->originalName) {
            vrnCString_free(r->originalName);
            r->originalName = nullptr;
        }
        int strategy = 0;
        vrnObject_getInt(o, 0, "namingStrategy", &strategy);
        if (strategy == 1) r->baseName = r->originalName;
        else if (strategy == 2) vrnObject_getString(o, 0, "baseName", &r->baseName);
    }
    vrnObject_getInt(o, onlyIfChanged, "dimensionality", &r->dimensionality);
    vrnObject_getInt(o, onlyIfChanged, "id", &r->id);
    if (vrnObject_shouldRead(o, onlyIfChanged, "priority") &&
        !vrnObject_getInt(o, 0, "priority", &r->priority))
        r->priority = 0;
    vrnmodel::getTyped(o, onlyIfChanged, "topology", "Topology", &r->topology);
    vrnmodel::getTyped(o, onlyIfChanged, "assembly", "Assembly", &r->assembly);
    vrnmodel::getTyped(o, onlyIfChanged, "shell", "Shell", &r->shell);
    vrnmodel::getTyped(o, onlyIfChanged, "boundary", "Boundary", &r->boundary);
    vrnmodel::getTyped(o, onlyIfChanged, "connection", "Connection", &r->connection);
    if (vrnObject_shouldRead(o, onlyIfChanged, "gluings")) {
        vrnObject_getSet(o, 0, "gluings", &r->gluings);
        vrnmodel::keepType(r->gluings, "Connection");
        dropEmptyGluings(r);
    }
}

void Region_destroy(vrnObject* o) {
    Region* r = reinterpret_cast<Region*>(o);
    if (!destroying(o)) {
        Region_unsetAssembly(r);
        Region_unsetTopology(r);
        if (r->shell) Shell_removeRegion(r->shell, r);
        if (r->boundary) Boundary_destroy(r->boundary, 1, 0);
        Region_breakLinks(r, 1);
        vrnmodel::forgetLinks(o);
    }
    releaseBaseName(r);
    vrnCString_free(r->originalName);
    Set_delete(r->gluings);
    vrnObject_delete(o);
}

void Region_delete(Region* r) {
    if (r) Region_destroy(&r->header);
}

}  // extern "C"
