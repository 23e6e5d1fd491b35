#include <vector>

#include "support/memory.h"
#include "support/set.h"
#include "topology/model_fields.h"
#include "topology/topology.h"

using vrnmodel::Guard;

namespace {

int unsetBoundaryBusy, removeShellBusy;


template <class T>
std::vector<T*> membersOf(const Set* set) {
    std::vector<T*> out;
    if (set)
        for (int i = 0; i < set->count; ++i) out.push_back(static_cast<T*>(set->members[i]));
    return out;
}

// The records whose second field is a Set: Boundary, Shell, FaceMesh.
struct SetHolder {
    vrnObject header;
    void* first;
    Set* second;
};

}  // namespace

extern "C" {

/* ---- Connection -------------------------------------------------------- */

int Connection_size(void) { return static_cast<int>(sizeof(Connection)); }

Connection* Connection_new(Region* a, Region* b, int type) {
    Connection* c = reinterpret_cast<Connection*>(vrnObject_new("Connection"));
    if (!c) return nullptr;
    c->sides[0] = a;
    c->sides[1] = b;
    c->type = type;
    vrnObject* sides[2] = {&a->header, &b->header};
    vrnObject_setPointers(&c->header, "sides", sides, 2);
    vrnObject_setInt(&c->header, "type", type);
    return c;
}

Region* Connection_getOtherSide(const Connection* c, const Region* r) {
    if (!c || !r) return nullptr;
    if (c->sides[0] == r) return c->sides[1];
    if (c->sides[1] == r) return c->sides[0];
    return nullptr;
}

void Connection_restore(vrnObject* o, int onlyIfChanged) {
    Connection* c = reinterpret_cast<Connection*>(o);
    vrnObject* sides[2] = {nullptr, nullptr};
    if (vrnObject_shouldRead(o, onlyIfChanged, "sides") &&
        vrnObject_getPointerArray(o, 0, "sides", sides, 2))
        for (int i = 0; i < 2; ++i)
            c->sides[i] = vrnmodel::isA(sides[i], "Region") ? reinterpret_cast<Region*>(sides[i]) : nullptr;
    vrnObject_getInt(o, onlyIfChanged, "type", &c->type);
}

void Connection_destroy(vrnObject* o) {
    // Deleted by itself, it leaves both regions: as their own connection
    // (written as none) and from their gluing sets.
    if (vrnObject_isNotBeingDestroyed(o)) {
        Connection* c = reinterpret_cast<Connection*>(o);
        for (Region* side : c->sides) {
            if (!side) continue;
            if (side->connection == c) {
                side->connection = nullptr;
                vrnObject_setPointer(&side->header, "connection", nullptr);
            }
            if (side->gluings && Set_remove(side->gluings, c)) {
                vrnObject_markModified(&side->header);
                if (side->gluings->count == 0) {
                    Set_delete(side->gluings);
                    side->gluings = nullptr;
                }
            }
        }
    }
    vrnObject_delete(o);
}

/* ---- Shell ------------------------------------------------------------- */

int Shell_size(void) { return static_cast<int>(sizeof(Shell)); }

Shell* Shell_new(Boundary* boundary) {
    Shell* s = reinterpret_cast<Shell*>(vrnObject_new("Shell"));
    if (!s) return nullptr;
    s->regions = Set_new(10);
    vrnObject_markModified(&s->header);
    if (boundary) Boundary_addShell(boundary, s);
    return s;
}

int Shell_addRegion(Shell* s, Region* r) {
    if (!s || !r) return 0;
    if (r->shell && r->shell != s) Shell_removeRegion(r->shell, r);
    r->shell = s;
    vrnObject_setPointer(&r->header, "shell", &s->header);
    Set_add(s->regions, r);
    vrnObject_markModified(&s->header);
    return 1;
}

int Shell_removeRegion(Shell* s, Region* r) {
    if (!s || !r || (r->shell && r->shell != s)) return 0;
    Region_unsetShell(r);
    vrnObject_markModified(&s->header);
    Set_remove(s->regions, r);
    return 1;
}

int Shell_getRegions(Shell* s, Region*** array) {
    *array = nullptr;
    return s ? Set_toArray(s->regions, reinterpret_cast<void***>(array)) : 0;
}

int Shell_unsetBoundary(Shell* s) {
    if (!s) return 0;
    Guard guard(unsetBoundaryBusy);
    if (guard.reentered()) return 1;
    if (s->boundary) Boundary_removeShell(s->boundary, s);
    s->boundary = nullptr;
    vrnObject_setPointer(&s->header, "boundary", nullptr);
    return 1;
}

Region* Shell_getBoundary(const Shell* s) {
    return s && s->boundary ? s->boundary->boundedRegion : nullptr;
}

void Shell_destroy(Shell* s, int deleteRegions) {
    if (!s) return;
    for (Region* r : membersOf<Region>(s->regions)) {
        if (deleteRegions) Region_delete(r);
        else Shell_removeRegion(s, r);
    }
    Shell_unsetBoundary(s);
    Boundary_free(&s->header);
}

void Shell_dump(vrnObject* o) { vrnObject_setSet(o, "regions", reinterpret_cast<Shell*>(o)->regions); }

void Shell_restore(vrnObject* o, int onlyIfChanged) {
    Shell* s = reinterpret_cast<Shell*>(o);
    vrnmodel::getTyped(o, onlyIfChanged, "boundary", "Boundary", &s->boundary);
    vrnmodel::getTypedSet(o, onlyIfChanged, "regions", "Region", &s->regions);
}

/* ---- Boundary ---------------------------------------------------------- */

int Boundary_size(void) { return static_cast<int>(sizeof(Boundary)); }

Boundary* Boundary_new(Region* boundedRegion) {
    Boundary* b = reinterpret_cast<Boundary*>(vrnObject_new("Boundary"));
    if (!b) return nullptr;
    b->shells = Set_new(4);
    vrnObject_markModified(&b->header);
    if (boundedRegion) Region_setBoundary(boundedRegion, b);
    return b;
}

int Boundary_addShell(Boundary* b, Shell* s) {
    if (!b || !s) return 0;
    if (s->boundary && s->boundary != b) Shell_unsetBoundary(s);
    s->boundary = b;
    vrnObject_setPointer(&s->header, "boundary", &b->header);
    Set_add(b->shells, s);
    vrnObject_markModified(&b->header);
    return 1;
}

int Boundary_removeShell(Boundary* b, Shell* s) {
    if (!b || !s || (s->boundary && s->boundary != b)) return 0;
    Guard guard(removeShellBusy);
    if (guard.reentered()) return 1;
    Shell_unsetBoundary(s);
    vrnObject_markModified(&b->header);
    Set_remove(b->shells, s);
    return 1;
}

int Boundary_countRegions(const Boundary* b) {
    int n = 0;
    if (b)
        for (Shell* s : membersOf<Shell>(b->shells)) n += s->regions ? s->regions->count : 0;
    return n;
}

int Boundary_getBoundingRegions(const Boundary* b, Region*** array) {
    *array = nullptr;
    int n = Boundary_countRegions(b);
    if (n == 0) return 0;
    *array = static_cast<Region**>(
        vrnMalloc(static_cast<int>(sizeof(Region*)) * n, "Boundary_getBoundingRegions"));
    int k = 0;
    for (Shell* s : membersOf<Shell>(b->shells))
        for (Region* r : membersOf<Region>(s->regions)) (*array)[k++] = r;
    return n;
}

void Boundary_destroy(Boundary* b, int destroyShells, int deleteRegions) {
    if (!b) return;
    for (Shell* s : membersOf<Shell>(b->shells)) {
        if (destroyShells) Shell_destroy(s, deleteRegions);
        else Shell_unsetBoundary(s);
    }
    Boundary_free(&b->header);
}

void Boundary_free(vrnObject* o) {
    if (!o) return;
    // Deleted by itself (not through Shell_destroy or Boundary_destroy, and
    // not by a state change), its partners let go of it first.
    if (vrnObject_isNotBeingDestroyed(o)) {
        if (vrnmodel::isA(o, "FaceMesh")) {
            vrnmodel::forgetLinks(o);
        } else if (vrnmodel::isA(o, "Shell")) {
            Shell* s = reinterpret_cast<Shell*>(o);
            for (Region* r : membersOf<Region>(s->regions)) Shell_removeRegion(s, r);
            Shell_unsetBoundary(s);
        } else if (vrnmodel::isA(o, "Boundary")) {
            Boundary* b = reinterpret_cast<Boundary*>(o);
            for (Shell* s : membersOf<Shell>(b->shells)) Shell_unsetBoundary(s);
            if (b->boundedRegion && b->boundedRegion->boundary == b) Region_setBoundary(b->boundedRegion, nullptr);
        }
    }
    SetHolder* holder = reinterpret_cast<SetHolder*>(o);
    Set_delete(holder->second);
    holder->second = nullptr;
    vrnObject_delete(o);
}

void Boundary_dump(vrnObject* o) { vrnObject_setSet(o, "shells", reinterpret_cast<Boundary*>(o)->shells); }

void Boundary_restore(vrnObject* o, int onlyIfChanged) {
    Boundary* b = reinterpret_cast<Boundary*>(o);
    vrnmodel::getTyped(o, onlyIfChanged, "boundedRegion", "Region", &b->boundedRegion);
    vrnmodel::getTypedSet(o, onlyIfChanged, "shells", "Shell", &b->shells);
}

}  // extern "C"
