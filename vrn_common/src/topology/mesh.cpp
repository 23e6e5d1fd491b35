#include "topology/mesh.h"

#include <string.h>

#include <string>
#include <unordered_set>
#include <vector>

#include "errors/error.h"
#include "maths/vrnAffineTransform3D.h"
#include "support/cstring.h"
#include "support/hash_table.h"
#include "support/link_map.h"
#include "support/memory.h"
#include "support/set.h"
#include "topology/model_fields.h"
#include "topology/topology.h"

namespace {

const char* const kSource = "vrn_common/src/topology/Mesh";

bool destroying(vrnObject* o) { return !vrnObject_isNotBeingDestroyed(o); }

void* copyOf(const void* values, size_t bytes, const char* fn) {
    if (!values || bytes == 0) return nullptr;
    void* copy = vrnMalloc(static_cast<int>(bytes), fn);
    memcpy(copy, values, bytes);
    return copy;
}

// A link map as 2n references, each link as (second, first).
void writeLinks(vrnObject* o, const char* key, LinkMap* map) {
    void** firsts = nullptr;
    void** seconds = nullptr;
    int* ids = nullptr;
    int n = map ? LinkMap_toArray(map, &firsts, &seconds, &ids) : 0;
    std::vector<vrnObject*> refs;
    for (int i = 0; i < n; ++i) {
        refs.push_back(static_cast<vrnObject*>(seconds[i]));
        refs.push_back(static_cast<vrnObject*>(firsts[i]));
    }
    vrnObject_setPointers(o, key, refs.data(), static_cast<int>(refs.size()));
    vrnFree(firsts, "writeLinks");
    vrnFree(seconds, "writeLinks");
    vrnFree(ids, "writeLinks");
}

// A new link map of the stored links; entries that name no live object are
// left out.
LinkMap* readLinks(vrnObject* o, const char* key) {
    vrnObject** refs = nullptr;
    int count = 0;
    vrnObject_getPointers(o, 0, key, &refs, &count);
    int n = count / 2;
    LinkMap* map = LinkMap_new(n + 50);
    for (int i = 0; i < n; ++i)
        if (refs[2 * i] && refs[2 * i + 1]) LinkMap_addLink(map, refs[2 * i + 1], refs[2 * i], 1);
    vrnFree(refs, "readLinks");
    return map;
}

// The live meshes and representations, whose link maps may name any object
// (never freed: objects may still leave them at process end).
std::unordered_set<vrnObject*>& linkHolders() {
    static auto* holders = new std::unordered_set<vrnObject*>;
    return *holders;
}

// Removes the links that have object at either end; true when one went.
bool dropLinks(LinkMap* map, void* object) {
    bool dropped = false;
    for (int side : {1, -1}) {
        LinkPair key = {object, side};
        void* other = nullptr;
        while (map && HashTable_lookup(map->table, &key, nullptr, &other)) {
            if (!(side > 0 ? LinkMap_removeLink(map, object, other, 1) : LinkMap_removeLink(map, other, object, 1)))
                break;
            dropped = true;
        }
    }
    return dropped;
}

void releaseBlob(vrnBlob* blob) {
    if (blob) vrnBlob_delete(blob);
}

}  // namespace

void vrnmodel::forgetLinks(vrnObject* object) {
    if (!object || destroying(object)) return;
    for (vrnObject* holder : linkHolders()) {
        if (vrnmodel::isA(holder, "Representation")) {
            if (dropLinks(reinterpret_cast<Representation*>(holder)->links, object)) vrnObject_markModified(holder);
        } else if (vrnmodel::isA(holder, "Mesh")) {
            Mesh* m = reinterpret_cast<Mesh*>(holder);
            LinkMap* maps[3] = {m->elementMeshes, m->faceMeshes, m->interfaceMaps};
            for (int bit = 1; bit <= 3; ++bit)
                if (dropLinks(maps[bit - 1], object)) {
                    BitField_setBit(&m->dirty, bit);
                    vrnObject_markModified(holder);
                }
        }
    }
}

extern "C" {

/* ---- Mesh -------------------------------------------------------------- */

static const char* const kMeshKeys[3] = {"elementMeshes", "faceMeshes", "interfaceMaps"};

int Mesh_size(void) { return static_cast<int>(sizeof(Mesh)); }

static LinkMap** meshMap(Mesh* m, int which) {
    switch (which) {
        case MESH_ELEMENT_MESHES_BIT: return &m->elementMeshes;
        case MESH_FACE_MESHES_BIT: return &m->faceMeshes;
        case MESH_INTERFACE_MAPS_BIT: return &m->interfaceMaps;
        default: return nullptr;
    }
}

Mesh* Mesh_new(Topology* topology) {
    Mesh* m = reinterpret_cast<Mesh*>(vrnObject_new("Mesh"));
    if (!m) return nullptr;
    m->topology = topology;
    vrnObject_setPointer(&m->header, "topology", topology ? &topology->header : nullptr);
    for (int bit = 1; bit <= 3; ++bit) {
        *meshMap(m, bit) = LinkMap_new(100);
        BitField_setBit(&m->dirty, bit);
    }
    vrnObject_markModified(&m->header);
    linkHolders().insert(&m->header);
    return m;
}

int Mesh_addLink(Mesh* m, int which, vrnObject* first, vrnObject* second) {
    LinkMap** map = m ? meshMap(m, which) : nullptr;
    if (!map || !first || !second) return 0;
    LinkMap_addLink(*map, first, second, 1);
    BitField_setBit(&m->dirty, which);
    vrnObject_markModified(&m->header);
    return 1;
}

void Mesh_dump(vrnObject* o) {
    Mesh* m = reinterpret_cast<Mesh*>(o);
    for (int bit = 1; bit <= 3; ++bit)
        if (BitField_isSet(&m->dirty, bit)) writeLinks(o, kMeshKeys[bit - 1], *meshMap(m, bit));
    BitField_clearAll(&m->dirty);
}

void Mesh_restore(vrnObject* o, int onlyIfChanged) {
    Mesh* m = reinterpret_cast<Mesh*>(o);
    for (int bit = 1; bit <= 3; ++bit) {
        LinkMap** map = meshMap(m, bit);
        if (*map && !vrnObject_shouldRead(o, onlyIfChanged, kMeshKeys[bit - 1])) continue;
        LinkMap* read = readLinks(o, kMeshKeys[bit - 1]);
        if (*map) LinkMap_delete(*map);
        *map = read;
    }
    vrnmodel::getTyped(o, onlyIfChanged, "topology", "Topology", &m->topology);
    BitField_clearAll(&m->dirty);
    linkHolders().insert(o);
}

void Mesh_destroy(vrnObject* o) {
    Mesh* m = reinterpret_cast<Mesh*>(o);
    linkHolders().erase(o);
    for (int bit = 1; bit <= 3; ++bit)
        if (LinkMap* map = *meshMap(m, bit)) LinkMap_delete(map);
    vrnObject_delete(o);
}

void Mesh_delete(Mesh* m) {
    if (m) Mesh_destroy(&m->header);
}

/* ---- Representation ---------------------------------------------------- */

int Representation_size(void) { return static_cast<int>(sizeof(Representation)); }

Representation* Representation_new(Topology* topology) {
    Representation* r = reinterpret_cast<Representation*>(vrnObject_new("Representation"));
    if (!r) return nullptr;
    r->links = LinkMap_new(200);
    r->topology = topology;
    vrnObject_setPointer(&r->header, "topology", topology ? &topology->header : nullptr);
    vrnObject_markModified(&r->header);
    linkHolders().insert(&r->header);
    return r;
}

int Representation_addVisual(Representation* r, Region* region, Visual* visual) {
    if (!r || !region || !visual) return 0;
    LinkMap_addLink(r->links, region, visual, 1);
    vrnObject_markModified(&r->header);
    return 1;
}

void Representation_dump(vrnObject* o) {
    Representation* r = reinterpret_cast<Representation*>(o);
    void** firsts = nullptr;
    void** seconds = nullptr;
    int* ids = nullptr;
    int n = LinkMap_toArray(r->links, &firsts, &seconds, &ids);
    vrnObject_setPointers(o, "regions", reinterpret_cast<vrnObject**>(firsts), n);
    vrnObject_setPointers(o, "visuals", reinterpret_cast<vrnObject**>(seconds), n);
    vrnFree(firsts, "Representation_dump");
    vrnFree(seconds, "Representation_dump");
    vrnFree(ids, "Representation_dump");
}

void Representation_restore(vrnObject* o, int onlyIfChanged) {
    Representation* r = reinterpret_cast<Representation*>(o);
    linkHolders().insert(o);
    vrnmodel::getTyped(o, onlyIfChanged, "topology", "Topology", &r->topology);
    if (r->links && !vrnObject_shouldRead(o, onlyIfChanged, "regions") &&
        !vrnObject_shouldRead(o, onlyIfChanged, "visuals"))
        return;
    vrnObject** regions = nullptr;
    vrnObject** visuals = nullptr;
    int nRegions = 0, nVisuals = 0;
    vrnObject_getPointers(o, 0, "regions", &regions, &nRegions);
    vrnObject_getPointers(o, 0, "visuals", &visuals, &nVisuals);
    int n = nRegions < nVisuals ? nRegions : nVisuals;
    if (r->links) LinkMap_delete(r->links);
    r->links = LinkMap_new(n + 50);
    for (int i = 0; i < n; ++i)
        if (regions[i] && visuals[i]) LinkMap_addLink(r->links, regions[i], visuals[i], 1);
    vrnFree(regions, "Representation_restore");
    vrnFree(visuals, "Representation_restore");
}

void Representation_destroy(vrnObject* o) {
    Representation* r = reinterpret_cast<Representation*>(o);
    linkHolders().erase(o);
    if (r->links) LinkMap_delete(r->links);
    vrnObject_delete(o);
}

void Representation_delete(Representation* r) {
    if (r) Representation_destroy(&r->header);
}

/* ---- vrnBlob ----------------------------------------------------------- */

int vrnBlob_size(void) { return static_cast<int>(sizeof(vrnBlob)); }

vrnBlob* vrnBlob_new(int kind, const void* values, int count) {
    static const char* const fn = "vrnBlob_new";
    if ((kind != BLOB_INTS && kind != BLOB_DOUBLES && kind != BLOB_REFERENCES) || count < 0 ||
        (count > 0 && !values)) {
        vrnmodel::raise(VRN_U_INVALID_INPUT, fn, kSource, __LINE__,
                        "A blob holds ints, doubles or references; kind %d with %d values cannot be "
                        "stored.\n",
                        kind, count);
        return nullptr;
    }
    if (kind == BLOB_REFERENCES)
        for (int i = 0; i < count; ++i)
            if (!static_cast<vrnObject* const*>(values)[i]) {
                vrnmodel::raise(VRN_U_INVALID_INPUT, fn, kSource, __LINE__,
                                "Reference %d of a blob is none.\n", i);
                return nullptr;
            }
    vrnBlob* b = reinterpret_cast<vrnBlob*>(vrnObject_new("vrnBlob"));
    if (!b) return nullptr;
    size_t element = kind == BLOB_INTS ? sizeof(int) : kind == BLOB_DOUBLES ? sizeof(double) : sizeof(void*);
    b->kind = kind;
    b->byteSize = element * static_cast<size_t>(count);
    b->data = copyOf(values, b->byteSize, fn);
    b->useCount = 1;
    if (kind == BLOB_INTS) vrnObject_setInts(&b->header, "data", static_cast<const int*>(values), count);
    else if (kind == BLOB_DOUBLES)
        vrnObject_setDoubles(&b->header, "data", static_cast<const double*>(values), count);
    else vrnObject_setPointers(&b->header, "data", static_cast<vrnObject* const*>(values), count);
    vrnObject_setInt(&b->header, "useCount", 1);
    return b;
}

int vrnBlob_addUse(vrnBlob* b) {
    if (!b) return 0;
    ++b->useCount;
    return vrnObject_setInt(&b->header, "useCount", b->useCount);
}

void vrnBlob_restore(vrnObject* o, int onlyIfChanged) {
    vrnBlob* b = reinterpret_cast<vrnBlob*>(o);
    int ints = 0, floats = 0, doubles = 0, chars = 0, strings = 0, uuids = 0;
    vrnObject_getSignature(o, "data", &ints, &floats, &doubles, &chars, &strings, &uuids);
    int kind = ints > 0 ? BLOB_INTS : floats > 0 ? BLOB_FLOATS : doubles > 0 ? BLOB_DOUBLES
             : chars > 0 ? BLOB_CHARS : strings > 0 ? -1 : uuids > 0 ? BLOB_REFERENCES : -2;
    if (kind >= 0 && (!b->data || vrnObject_shouldRead(o, onlyIfChanged, "data"))) {
        void* data = nullptr;
        int count = 0;
        size_t element = 0;
        switch (kind) {
            case BLOB_INTS:
                vrnObject_getInts(o, 0, "data", reinterpret_cast<int**>(&data), &count);
                element = sizeof(int);
                break;
            case BLOB_FLOATS:
                vrnObject_getFloats(o, 0, "data", reinterpret_cast<float**>(&data), &count);
                element = sizeof(float);
                break;
            case BLOB_DOUBLES:
                vrnObject_getDoubles(o, 0, "data", reinterpret_cast<double**>(&data), &count);
                element = sizeof(double);
                break;
            case BLOB_CHARS:
                vrnObject_getChars(o, 0, "data", reinterpret_cast<char**>(&data), &count);
                element = 1;
                break;
            default:
                vrnObject_getPointers(o, 0, "data", reinterpret_cast<vrnObject***>(&data), &count);
                element = sizeof(void*);
                break;
        }
        vrnFree(b->data, "vrnBlob_restore");
        b->data = data;
        b->byteSize = data ? element * static_cast<size_t>(count) : 0;
    }
    if (kind >= 0) b->kind = kind;
    vrnObject_getInt(o, onlyIfChanged, "useCount", &b->useCount);
}

void vrnBlob_destroy(vrnObject* o) {
    vrnBlob* b = reinterpret_cast<vrnBlob*>(o);
    // A shared blob only loses one user; a blob with a damaged count of 0
    // or less goes like one with a single user.
    if (!destroying(o) && b->useCount > 1) {
        --b->useCount;
        vrnObject_setInt(o, "useCount", b->useCount);
        return;
    }
    vrnFree(b->data, "vrnBlob_delete");
    vrnObject_delete(o);
}

void vrnBlob_delete(vrnBlob* b) {
    if (b) vrnBlob_destroy(&b->header);
}

/* ---- InterfaceMap ------------------------------------------------------ */

int InterfaceMap_size(void) { return static_cast<int>(sizeof(InterfaceMap)); }

static void releaseDerived(InterfaceMap* m) {
    if (m->inversePermutation != m->vertexPermutation) vrnFree(m->inversePermutation, "InterfaceMap");
    vrnFree(m->matchedFaces, "InterfaceMap");
    vrnFree(m->faceOffsets, "InterfaceMap");
    m->inversePermutation = m->matchedFaces = m->faceOffsets = nullptr;
    m->derivedVertices = m->derivedFaces = 0;
}

InterfaceMap* InterfaceMap_new(Connection* connection, FaceMesh* first, FaceMesh* second) {
    InterfaceMap* m = reinterpret_cast<InterfaceMap*>(vrnObject_new("InterfaceMap"));
    if (!m) return nullptr;
    m->connection = connection;
    m->faceMeshes[0] = first;
    m->faceMeshes[1] = second;
    vrnObject_setPointer(&m->header, "connection", connection ? &connection->header : nullptr);
    if (first && second) {
        vrnObject* sides[2] = {&first->header, &second->header};
        vrnObject_setPointers(&m->header, "faceMeshes", sides, 2);
    }
    return m;
}

int InterfaceMap_setMatches(InterfaceMap* m, int vertices, int faces, const int* permutation, int count) {
    if (!m || count < 0 || (count > 0 && !permutation)) return 0;
    releaseDerived(m);
    vrnFree(m->vertexPermutation, "InterfaceMap_setMatches");
    m->noOfMatchedVertices = vertices;
    m->noOfMatchedFaces = faces;
    m->vertexPermutation = static_cast<int*>(copyOf(permutation, sizeof(int) * count, "InterfaceMap_setMatches"));
    m->permutationCount = count;
    int ok = vrnObject_setInt(&m->header, "noOfMatchedVertices", vertices);
    ok = vrnObject_setInt(&m->header, "noOfMatchedFaces", faces) && ok;
    return vrnObject_setInts(&m->header, "vertexPermutation", permutation, count) && ok;
}

void InterfaceMap_restore(vrnObject* o, int onlyIfChanged) {
    InterfaceMap* m = reinterpret_cast<InterfaceMap*>(o);
    bool changed = !onlyIfChanged || vrnObject_isParameterChanged(o, "noOfMatchedVertices") ||
                   vrnObject_isParameterChanged(o, "noOfMatchedFaces") ||
                   vrnObject_isParameterChanged(o, "faceMeshes");
    vrnmodel::getTyped(o, onlyIfChanged, "connection", "Connection", &m->connection);
    vrnObject* sides[2] = {nullptr, nullptr};
    if (vrnObject_shouldRead(o, onlyIfChanged, "faceMeshes")) {
        vrnObject_getPointerArray(o, 0, "faceMeshes", sides, 2);
        for (int i = 0; i < 2; ++i)
            m->faceMeshes[i] = vrnmodel::isA(sides[i], "FaceMesh") ? reinterpret_cast<FaceMesh*>(sides[i]) : nullptr;
    }
    vrnObject_getInt(o, onlyIfChanged, "noOfMatchedVertices", &m->noOfMatchedVertices);
    vrnObject_getInt(o, onlyIfChanged, "noOfMatchedFaces", &m->noOfMatchedFaces);
    if (vrnObject_shouldRead(o, onlyIfChanged, "vertexPermutation")) {
        if (m->inversePermutation == m->vertexPermutation) m->inversePermutation = nullptr;
        vrnObject_getInts(o, 0, "vertexPermutation", &m->vertexPermutation, &m->permutationCount);
        // One stored value stands for the identity.
        if (m->permutationCount == 1 && m->noOfMatchedVertices > 0 && m->noOfMatchedVertices <= (1 << 24)) {
            vrnFree(m->vertexPermutation, "InterfaceMap_restore");
            m->permutationCount = m->noOfMatchedVertices;
            m->vertexPermutation = static_cast<int*>(
                vrnMalloc(static_cast<int>(sizeof(int)) * m->permutationCount, "InterfaceMap_restore"));
            for (int i = 0; i < m->permutationCount; ++i) m->vertexPermutation[i] = i;
        }
    }
    if (changed) releaseDerived(m);
}

void InterfaceMap_destroy(vrnObject* o) {
    InterfaceMap* m = reinterpret_cast<InterfaceMap*>(o);
    vrnmodel::forgetLinks(o);
    releaseDerived(m);
    vrnFree(m->vertexPermutation, "InterfaceMap_delete");
    vrnObject_delete(o);
}

/* ---- Vertices ---------------------------------------------------------- */

int Vertices_size(void) { return static_cast<int>(sizeof(Vertices)); }

Vertices* Vertices_new(int noOfVertices, vrnBlob* xyz, const char* units, int precision, int dimensionality) {
    Vertices* v = reinterpret_cast<Vertices*>(vrnObject_new("Vertices"));
    if (!v) return nullptr;
    v->noOfVertices = noOfVertices;
    v->xyz = xyz;
    v->units = vrnCString_clone(units);
    v->precision = precision;
    v->dimensionality = dimensionality;
    vrnObject* o = &v->header;
    vrnObject_setInt(o, "noOfVertices", noOfVertices);
    vrnObject_setPointer(o, "xyz", xyz ? &xyz->header : nullptr);
    vrnObject_setString(o, "units", units);
    vrnObject_setInt(o, "precision", precision);
    vrnObject_setInt(o, "dimensionality", dimensionality);
    return v;
}

int Vertices_setTransform(Vertices* v, const double A[9], const double t[3], const char* units) {
    if (!v) return 0;
    vrnAffineTransform3D* transform = vrnAffineTransform3D_new();
    if (!vrnAffineTransform3D_set(transform, A, t, units)) {
        vrnAffineTransform3D_delete(transform);
        return 0;
    }
    vrnAffineTransform3D_delete(v->transform);
    v->transform = transform;
    v->extent = 0;
    v->placed = 0;
    int ok = vrnObject_setDoubles(&v->header, "transform - A", transform->A, 9);
    ok = vrnObject_setDoubles(&v->header, "transform - v", transform->v, 3) && ok;
    return vrnObject_setString(&v->header, "transform - units", transform->units) && ok;
}

int Vertices_setSplitVertices(Vertices* v, const int* values, int count) {
    if (!v || count < 0 || (count > 0 && !values)) return 0;
    vrnFree(v->splitVertices, "Vertices_setSplitVertices");
    v->splitVertices = static_cast<int*>(copyOf(values, sizeof(int) * count, "Vertices_setSplitVertices"));
    v->noOfSplitVertices = count;
    return vrnObject_setInts(&v->header, "splitVertices", values, count);
}

void Vertices_restore(vrnObject* o, int onlyIfChanged) {
    Vertices* v = reinterpret_cast<Vertices*>(o);
    bool transformChanged = vrnObject_hasAffineTransform3D(o, onlyIfChanged, "transform");
    if (transformChanged) vrnObject_getAffineTransform3D(o, 0, "transform", &v->transform);
    vrnObject_getInt(o, onlyIfChanged, "noOfVertices", &v->noOfVertices);
    bool xyzChanged = vrnObject_shouldRead(o, onlyIfChanged, "xyz");
    vrnmodel::getTyped(o, onlyIfChanged, "xyz", "vrnBlob", &v->xyz);
    vrnObject_getString(o, onlyIfChanged, "units", &v->units);
    vrnObject_getInt(o, onlyIfChanged, "precision", &v->precision);
    vrnObject_getInt(o, onlyIfChanged, "dimensionality", &v->dimensionality);
    vrnObject_getInts(o, onlyIfChanged, "splitVertices", &v->splitVertices, &v->noOfSplitVertices);
    if (xyzChanged || transformChanged) {
        v->extent = 0;
        v->placed = 0;
    }
}

void Vertices_destroy(vrnObject* o) {
    Vertices* v = reinterpret_cast<Vertices*>(o);
    if (!destroying(o)) releaseBlob(v->xyz);
    vrnCString_free(v->units);
    vrnFree(v->splitVertices, "Vertices_delete");
    vrnAffineTransform3D_delete(v->transform);
    vrnObject_delete(o);
}

/* ---- Visual ------------------------------------------------------------ */

int Visual_size(void) { return static_cast<int>(sizeof(Visual)); }

static void releaseVisualDerived(Visual* v) {
    vrnFree(v->triangles, "Visual");
    vrnFree(v->quadrilaterals, "Visual");
    v->triangles = v->quadrilaterals = nullptr;
    BitField_clearAll(&v->derived);
}

Visual* Visual_new(Region* region, Vertices* vertices, int triangles, int quadrilaterals, vrnBlob* faceVertices) {
    Visual* v = reinterpret_cast<Visual*>(vrnObject_new("Visual"));
    if (!v) return nullptr;
    v->region = region;
    v->vertices = vertices;
    v->noOfTriangles = triangles;
    v->noOfQuadrilaterals = quadrilaterals;
    v->faceVertices = faceVertices;
    vrnObject* o = &v->header;
    vrnObject_setPointer(o, "vertices", vertices ? &vertices->header : nullptr);
    vrnObject_setInt(o, "noOfTriangles", triangles);
    vrnObject_setInt(o, "noOfQuadrilaterals", quadrilaterals);
    vrnObject_setPointer(o, "faceVertices", faceVertices ? &faceVertices->header : nullptr);
    vrnObject_setPointer(o, "region", region ? &region->header : nullptr);
    return v;
}

void Visual_restore(vrnObject* o, int onlyIfChanged) {
    Visual* v = reinterpret_cast<Visual*>(o);
    bool changed = vrnObject_shouldRead(o, onlyIfChanged, "vertices") ||
                   vrnObject_shouldRead(o, onlyIfChanged, "noOfTriangles") ||
                   vrnObject_shouldRead(o, onlyIfChanged, "noOfQuadrilaterals") ||
                   vrnObject_shouldRead(o, onlyIfChanged, "faceVertices");
    vrnmodel::getTyped(o, onlyIfChanged, "vertices", "Vertices", &v->vertices);
    vrnObject_getInt(o, onlyIfChanged, "noOfTriangles", &v->noOfTriangles);
    vrnObject_getInt(o, onlyIfChanged, "noOfQuadrilaterals", &v->noOfQuadrilaterals);
    vrnmodel::getTyped(o, onlyIfChanged, "faceVertices", "vrnBlob", &v->faceVertices);
    vrnmodel::getTyped(o, onlyIfChanged, "region", "Region", &v->region);
    if (changed && BitField_isSet(&v->derived, 0)) releaseVisualDerived(v);
    BitField_clearAll(&v->derived);
}

void Visual_destroy(vrnObject* o) {
    Visual* v = reinterpret_cast<Visual*>(o);
    vrnmodel::forgetLinks(o);
    if (!destroying(o)) {
        if (v->vertices) vrnObject_destroy(&v->vertices->header);
        releaseBlob(v->faceVertices);
    }
    releaseVisualDerived(v);
    vrnObject_delete(o);
}

/* ---- FaceMesh ---------------------------------------------------------- */

int FaceMesh_size(void) { return static_cast<int>(sizeof(FaceMesh)); }

FaceMesh* FaceMesh_new(Region* region, ElementMesh* elementMesh) {
    FaceMesh* f = reinterpret_cast<FaceMesh*>(vrnObject_new("FaceMesh"));
    if (!f) return nullptr;
    f->region = region;
    f->elementMesh = elementMesh;
    f->faceSets = Set_new(4);
    f->noOfFaces = f->noOfVertices = -1;
    vrnObject_setPointer(&f->header, "region", region ? &region->header : nullptr);
    vrnObject_setPointer(&f->header, "elementMesh", elementMesh ? &elementMesh->header : nullptr);
    vrnObject_markModified(&f->header);
    return f;
}

int FaceMesh_addFaceSet(FaceMesh* f, FaceSet* s) {
    if (!f || !s) return 0;
    Set_add(f->faceSets, s);
    vrnObject_markModified(&f->header);
    return 1;
}

void FaceMesh_dump(vrnObject* o) { vrnObject_setSet(o, "faceSets", reinterpret_cast<FaceMesh*>(o)->faceSets); }

void FaceMesh_restore(vrnObject* o, int onlyIfChanged) {
    FaceMesh* f = reinterpret_cast<FaceMesh*>(o);
    vrnmodel::getTyped(o, onlyIfChanged, "region", "Region", &f->region);
    vrnmodel::getTyped(o, onlyIfChanged, "elementMesh", "ElementMesh", &f->elementMesh);
    vrnmodel::getTypedSet(o, onlyIfChanged, "faceSets", "FaceSet", &f->faceSets);
    f->noOfFaces = f->noOfVertices = -1;
    BitField_clearAll(&f->derived);
}

/* ---- ElementMesh ------------------------------------------------------- */

int ElementMesh_size(void) { return static_cast<int>(sizeof(ElementMesh)); }

ElementMesh* ElementMesh_new(Region* region, Vertices* vertices) {
    ElementMesh* e = reinterpret_cast<ElementMesh*>(vrnObject_new("ElementMesh"));
    if (!e) return nullptr;
    e->region = region;
    e->vertices = vertices;
    e->elementSets = Set_new(4);
    e->noOfElements = -1;
    vrnObject_setPointer(&e->header, "vertices", vertices ? &vertices->header : nullptr);
    vrnObject_setPointer(&e->header, "region", region ? &region->header : nullptr);
    vrnObject_markModified(&e->header);
    return e;
}

int ElementMesh_addElementSet(ElementMesh* e, ElementSet* s) {
    if (!e || !s) return 0;
    Set_add(e->elementSets, s);
    vrnObject_markModified(&e->header);
    return 1;
}

void ElementMesh_dump(vrnObject* o) {
    vrnObject_setSet(o, "elementSets", reinterpret_cast<ElementMesh*>(o)->elementSets);
}

void ElementMesh_restore(vrnObject* o, int onlyIfChanged) {
    ElementMesh* e = reinterpret_cast<ElementMesh*>(o);
    vrnmodel::getTypedSet(o, onlyIfChanged, "elementSets", "ElementSet", &e->elementSets);
    vrnmodel::getTyped(o, onlyIfChanged, "vertices", "Vertices", &e->vertices);
    vrnmodel::getTyped(o, onlyIfChanged, "region", "Region", &e->region);
    e->noOfElements = -1;
}

void ElementMesh_destroy(vrnObject* o) {
    ElementMesh* e = reinterpret_cast<ElementMesh*>(o);
    vrnmodel::forgetLinks(o);
    if (!destroying(o) && e->vertices) vrnObject_destroy(&e->vertices->header);
    Set_delete(e->elementSets);
    vrnObject_delete(o);
}

/* ---- ElementSet and FaceSet -------------------------------------------- */

int ElementSet_size(void) { return static_cast<int>(sizeof(ElementSet)); }

ElementSet* ElementSet_new(ElementMesh* elementMesh, int type, int nel, vrnBlob* kvxel) {
    ElementSet* s = reinterpret_cast<ElementSet*>(vrnObject_new("ElementSet"));
    if (!s) return nullptr;
    s->elementMesh = elementMesh;
    s->type = type;
    s->nel = nel;
    s->kvxel = kvxel;
    vrnObject_setPointer(&s->header, "elementMesh", elementMesh ? &elementMesh->header : nullptr);
    vrnObject_setInt(&s->header, "type", type);
    vrnObject_setInt(&s->header, "nel", nel);
    vrnObject_setPointer(&s->header, "kvxel", kvxel ? &kvxel->header : nullptr);
    return s;
}

void ElementSet_restore(vrnObject* o, int onlyIfChanged) {
    ElementSet* s = reinterpret_cast<ElementSet*>(o);
    vrnmodel::getTyped(o, onlyIfChanged, "elementMesh", "ElementMesh", &s->elementMesh);
    vrnObject_getInt(o, onlyIfChanged, "type", &s->type);
    vrnObject_getInt(o, onlyIfChanged, "nel", &s->nel);
    vrnmodel::getTyped(o, onlyIfChanged, "kvxel", "vrnBlob", &s->kvxel);
}

void ElementSet_destroy(vrnObject* o) {
    ElementSet* s = reinterpret_cast<ElementSet*>(o);
    if (!destroying(o)) releaseBlob(s->kvxel);
    vrnObject_delete(o);
}

int FaceSet_size(void) { return static_cast<int>(sizeof(FaceSet)); }

FaceSet* FaceSet_new(FaceMesh* faceMesh, ElementSet* elementSet, int nfc, vrnBlob* kelfc, vrnBlob* krffc) {
    FaceSet* s = reinterpret_cast<FaceSet*>(vrnObject_new("FaceSet"));
    if (!s) return nullptr;
    s->faceMesh = faceMesh;
    s->elementSet = elementSet;
    s->nfc = nfc;
    s->kelfc = kelfc;
    s->krffc = krffc;
    s->derivedFirst = s->derivedLast = -1;
    vrnObject* o = &s->header;
    vrnObject_setPointer(o, "faceMesh", faceMesh ? &faceMesh->header : nullptr);
    vrnObject_setPointer(o, "elementSet", elementSet ? &elementSet->header : nullptr);
    vrnObject_setInt(o, "nfc", nfc);
    vrnObject_setPointer(o, "kelfc", kelfc ? &kelfc->header : nullptr);
    vrnObject_setPointer(o, "krffc", krffc ? &krffc->header : nullptr);
    return s;
}

void FaceSet_restore(vrnObject* o, int onlyIfChanged) {
    FaceSet* s = reinterpret_cast<FaceSet*>(o);
    vrnmodel::getTyped(o, onlyIfChanged, "faceMesh", "FaceMesh", &s->faceMesh);
    vrnmodel::getTyped(o, onlyIfChanged, "elementSet", "ElementSet", &s->elementSet);
    vrnmodel::getTyped(o, onlyIfChanged, "kelfc", "vrnBlob", &s->kelfc);
    vrnmodel::getTyped(o, onlyIfChanged, "krffc", "vrnBlob", &s->krffc);
    vrnObject_getInt(o, onlyIfChanged, "nfc", &s->nfc);
    s->derivedFirst = s->derivedLast = -1;
}

void FaceSet_destroy(vrnObject* o) {
    FaceSet* s = reinterpret_cast<FaceSet*>(o);
    if (!destroying(o)) {
        releaseBlob(s->kelfc);
        releaseBlob(s->krffc);
    }
    vrnObject_delete(o);
}

/* ---- Projection -------------------------------------------------------- */

int Projection_size(void) { return static_cast<int>(sizeof(Projection)); }

static const char* const kCountKeys[6] = {"NCB", "NCF", "NCE", "NCX", "NEN", "NFN"};
static const char* const kArrayKeys[PROJECTION_ARRAYS] = {
    "KCBCF", "KCBCE", "KCBCX", "KCVCB", "KCSCF", "KCCCE", "KCPCX", "KCEEN",
    "KENEN", "KVXEN", "KUVEN", "KCFFN", "KVXFN", "KUVFN", "CRDVX"};

static bool holdsDoubles(int which) {
    return which == PROJECTION_KUVEN || which == PROJECTION_KUVFN || which == PROJECTION_CRDVX;
}

static int* countField(Projection* p, int i) {
    int* fields[6] = {&p->NCB, &p->NCF, &p->NCE, &p->NCX, &p->NEN, &p->NFN};
    return fields[i];
}

Projection* Projection_new(void) { return reinterpret_cast<Projection*>(vrnObject_new("Projection")); }

int Projection_setCounts(Projection* p, const int counts[6], int NVX) {
    if (!p || !counts) return 0;
    int ok = 1;
    for (int i = 0; i < 6; ++i) {
        *countField(p, i) = counts[i];
        ok = vrnObject_setInt(&p->header, kCountKeys[i], counts[i]) && ok;
    }
    p->NVX = NVX;
    return vrnObject_setInt(&p->header, "NVX", NVX) && ok;
}

int Projection_setArray(Projection* p, int which, const void* values, int count) {
    if (!p || which < 0 || which >= PROJECTION_ARRAYS || count < 0 || (count > 0 && !values)) return 0;
    ProjectionArray& a = p->arrays[which];
    vrnFree(a.values, "Projection_setArray");
    size_t element = holdsDoubles(which) ? sizeof(double) : sizeof(int);
    a.values = copyOf(values, element * count, "Projection_setArray");
    a.count = count;
    if (holdsDoubles(which))
        return vrnObject_setDoubles(&p->header, kArrayKeys[which], static_cast<const double*>(values), count);
    return vrnObject_setInts(&p->header, kArrayKeys[which], static_cast<const int*>(values), count);
}

int Projection_setStrings(Projection* p, const char* units, const char* database) {
    if (!p) return 0;
    vrnCString_reassign(&p->units, units);
    vrnCString_reassign(&p->database, database);
    int ok = vrnObject_setString(&p->header, "units", units);
    return vrnObject_setString(&p->header, "database", database) && ok;
}

void Projection_restore(vrnObject* o, int onlyIfChanged) {
    Projection* p = reinterpret_cast<Projection*>(o);
    vrnObject_getInt(o, onlyIfChanged, "NCB", &p->NCB);
    for (int i = 0; i < 6; ++i) vrnObject_getInt(o, onlyIfChanged, kCountKeys[i], countField(p, i));
    for (int which = 0; which < PROJECTION_ARRAYS; ++which) {
        ProjectionArray& a = p->arrays[which];
        if (which == PROJECTION_CRDVX) vrnObject_getInt(o, onlyIfChanged, "NVX", &p->NVX);
        if (holdsDoubles(which))
            vrnObject_getDoubles(o, onlyIfChanged, kArrayKeys[which], reinterpret_cast<double**>(&a.values),
                                 &a.count);
        else
            vrnObject_getInts(o, onlyIfChanged, kArrayKeys[which], reinterpret_cast<int**>(&a.values), &a.count);
    }
    vrnObject_getString(o, onlyIfChanged, "units", &p->units);
    vrnObject_getString(o, onlyIfChanged, "database", &p->database);
}

void Projection_destroy(vrnObject* o) {
    Projection* p = reinterpret_cast<Projection*>(o);
    for (ProjectionArray& a : p->arrays) vrnFree(a.values, "Projection_delete");
    vrnCString_free(p->units);
    vrnCString_free(p->database);
    vrnObject_delete(o);
}

}  // extern "C"
