// The whole in-memory model as canonical text, one line per live object
// (by UUID text), references as UUID texts and sets sorted, so that two
// models can be compared field by field whatever the addresses.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "../handed_over.h"
#include "model/model_layer.h"
#include "model/repository.h"
#include "database/state_manager.h"
#include "maths/vrnAffineTransform3D.h"
#include "support/hash_set.h"
#include "support/link_map.h"
#include "support/set.h"
#include "test_support.h"
#include "topology/atlas.h"
#include "topology/mesh.h"
#include "topology/name_manager.h"
#include "topology/topology.h"

namespace modeltest {

inline std::string id(const void* object) {
    if (!object) return "-";
    char text[VRN_UUID_STRING_SIZE];
    vrnObject_getUUIDString(static_cast<const vrnObject*>(object), text);
    return text;
}

inline std::string str(const char* s) { return s ? std::string("\"") + s + "\"" : "-"; }

inline std::string sorted(std::vector<std::string> items) {
    std::sort(items.begin(), items.end());
    std::string out = "{";
    for (const std::string& i : items) out += i + " ";
    return out + "}";
}

inline std::string ids(const Set* set) {
    std::vector<std::string> items;
    if (set)
        for (int i = 0; i < set->count; ++i) items.push_back(id(set->members[i]));
    return sorted(items);
}

inline std::string ids(const HashSet* set) {
    void** keys = nullptr;
    int n = set ? HashSet_toArray(set, &keys) : 0;
    std::vector<std::string> items;
    for (int i = 0; i < n; ++i) items.push_back(id(keys[i]));
    vrnFree(keys, "test");
    return sorted(items);
}

inline std::string links(LinkMap* map) {
    void** a = nullptr;
    void** b = nullptr;
    int* k = nullptr;
    int n = map ? LinkMap_toArray(map, &a, &b, &k) : 0;
    std::vector<std::string> items;
    for (int i = 0; i < n; ++i) items.push_back(id(a[i]) + ">" + id(b[i]) + ":" + std::to_string(k[i]));
    vrnFree(a, "test");
    vrnFree(b, "test");
    vrnFree(k, "test");
    return sorted(items);
}

template <class T>
std::string numbers(const T* values, int n) {
    std::ostringstream out;
    out << "[";
    for (int i = 0; i < n && values; ++i) out << values[i] << " ";
    out << "]";
    return out.str();
}

inline std::string describe(vrnObject* o) {
    std::ostringstream out;
    std::string type = vrnObject_getTypeName(o);
    out << type << " ";
    if (type == "Repository") {
        auto* r = reinterpret_cast<Repository*>(o);
        out << id(r->primaryModel);
    } else if (type == "Model") {
        auto* m = reinterpret_cast<Model*>(o);
        out << id(m->topology) << id(m->representation) << id(m->mesh) << id(m->repository) << m->parameter;
    } else if (type == "Topology") {
        auto* t = reinterpret_cast<Topology*>(o);
        out << ids(t->assemblies);
        for (HashSet* s : t->regions) out << ids(s);
        out << id(t->nameManager);
    } else if (type == "Assembly") {
        auto* a = reinterpret_cast<Assembly*>(o);
        out << str(a->uniqueName) << id(a->topology) << ids(a->regions) << a->id << str(a->baseName);
    } else if (type == "Region") {
        auto* r = reinterpret_cast<Region*>(o);
        out << str(r->originalName) << str(r->baseName) << (r->baseName && r->baseName == r->originalName)
            << str(r->name) << r->dimensionality << " " << r->id << " " << r->priority << id(r->topology)
            << id(r->assembly) << id(r->shell) << id(r->boundary) << id(r->connection) << ids(r->gluings);
    } else if (type == "Boundary") {
        auto* b = reinterpret_cast<Boundary*>(o);
        out << id(b->boundedRegion) << ids(b->shells);
    } else if (type == "Shell") {
        auto* s = reinterpret_cast<Shell*>(o);
        out << id(s->boundary) << ids(s->regions);
    } else if (type == "Connection") {
        auto* c = reinterpret_cast<Connection*>(o);
        out << id(c->sides[0]) << id(c->sides[1]) << c->type;
    } else if (type == "NameManager") {
        auto* m = reinterpret_cast<NameManager*>(o);
        char** names = nullptr;
        vrnObject** objects = nullptr;
        int n = NameManager_getNames(m, &names, &objects);
        std::vector<std::string> items;
        for (int i = 0; i < n; ++i) items.push_back(std::string(names[i]) + "=" + id(objects[i]));
        out << sorted(items) << id(m->atlas) << m->compositeCount << " " << m->noOfCreatedAssemblies << " "
            << numbers(m->noOfCreatedRegions, 4) << str(m->defaultAssemblyName) << str(m->defaultRegionName)
            << numbers(m->strategy, 3) << m->reserveFirst << str(m->spacedRegionBase);
    } else if (type == "Atlas") {
        auto* a = reinterpret_cast<Atlas*>(o);
        out << id(a->nameManager) << (a->regionAtlas != nullptr);
        char* text = nullptr;
        if (a->primaryMap && !RegionStatus_isError(RegionMap_getORV(a->primaryMap, 0, &text))) {
            out << (text ? text : "");
            RegionMap_freeORV(a->primaryMap);
        }
    } else if (type == "Mesh") {
        auto* m = reinterpret_cast<Mesh*>(o);
        out << links(m->elementMeshes) << links(m->faceMeshes) << links(m->interfaceMaps) << id(m->topology);
    } else if (type == "Representation") {
        auto* r = reinterpret_cast<Representation*>(o);
        out << links(r->links) << id(r->topology);
    } else if (type == "vrnBlob") {
        auto* b = reinterpret_cast<vrnBlob*>(o);
        out << b->kind << " " << b->byteSize << " " << b->useCount << " ";
        if (b->kind == BLOB_INTS) out << numbers(static_cast<int*>(b->data), static_cast<int>(b->byteSize / 4));
        if (b->kind == BLOB_DOUBLES) out << numbers(static_cast<double*>(b->data), static_cast<int>(b->byteSize / 8));
        if (b->kind == BLOB_REFERENCES)
            for (size_t i = 0; i < b->byteSize / sizeof(void*); ++i) out << id(static_cast<void**>(b->data)[i]);
    } else if (type == "InterfaceMap") {
        auto* m = reinterpret_cast<InterfaceMap*>(o);
        out << id(m->connection) << id(m->faceMeshes[0]) << id(m->faceMeshes[1]) << m->noOfMatchedVertices << " "
            << m->noOfMatchedFaces << numbers(m->vertexPermutation, m->permutationCount);
    } else if (type == "Vertices") {
        auto* v = reinterpret_cast<Vertices*>(o);
        if (v->transform)
            out << numbers(v->transform->A, 9) << numbers(v->transform->v, 3) << v->transform->units;
        out << v->noOfVertices << id(v->xyz) << str(v->units) << v->precision << " " << v->dimensionality
            << numbers(v->splitVertices, v->noOfSplitVertices);
    } else if (type == "Visual") {
        auto* v = reinterpret_cast<Visual*>(o);
        out << id(v->vertices) << v->noOfTriangles << " " << v->noOfQuadrilaterals << id(v->faceVertices)
            << id(v->region);
    } else if (type == "FaceMesh") {
        auto* f = reinterpret_cast<FaceMesh*>(o);
        out << id(f->region) << ids(f->faceSets) << id(f->elementMesh);
    } else if (type == "ElementMesh") {
        auto* e = reinterpret_cast<ElementMesh*>(o);
        out << ids(e->elementSets) << id(e->vertices) << id(e->region);
    } else if (type == "ElementSet") {
        auto* s = reinterpret_cast<ElementSet*>(o);
        out << id(s->elementMesh) << s->type << " " << s->nel << id(s->kvxel);
    } else if (type == "FaceSet") {
        auto* s = reinterpret_cast<FaceSet*>(o);
        out << id(s->faceMesh) << id(s->elementSet) << s->nfc << id(s->kelfc) << id(s->krffc);
    } else if (type == "Projection") {
        auto* p = reinterpret_cast<Projection*>(o);
        out << p->NCB << p->NCF << p->NCE << p->NCX << p->NEN << p->NFN << " " << p->NVX;
        for (int i = 0; i < PROJECTION_ARRAYS; ++i) {
            const ProjectionArray& a = p->arrays[i];
            if (i == PROJECTION_KUVEN || i == PROJECTION_KUVFN || i == PROJECTION_CRDVX)
                out << numbers(static_cast<double*>(a.values), a.count);
            else
                out << numbers(static_cast<int*>(a.values), a.count);
        }
        out << str(p->units) << str(p->database);
    }
    return out.str();
}

// Every live object of the manager, in UUID order.
inline std::string describe(vrnStateManager* m) {
    std::map<std::string, std::string> lines;
    DictionaryIterator* it = DictionaryIterator_new(m->objects);
    for (Pair* p = DictionaryIterator_first(it); p; p = DictionaryIterator_next(it))
        lines[static_cast<char*>(p->first)] = describe(static_cast<vrnObject*>(p->second));
    DictionaryIterator_delete(it);
    std::string out;
    for (auto& l : lines) out += l.first + " " + l.second + "\n";
    return out;
}

// A fresh repository in a temporary folder.
struct RepositoryFixture : ::testing::Test {
    vrntest::TempDir dir;
    std::string name = dir.file("model.vrn");
    Repository* repo = nullptr;
    vrnStateManager* m = nullptr;
    Model* model = nullptr;
    Topology* topology = nullptr;
    NameManager* names = nullptr;

    // Other suites of this executable put a test class in the "vrnBlob"
    // row; the model classes' own routines come back first.
    void SetUp() override {
        vrnModelClasses_install();
        open();
    }
    void TearDown() override {
        if (m) vrnStateManager_delete(m);
        commontest::takeErrors();
    }
    void open() {
        repo = Repository_new(name.c_str());
        ASSERT_NE(repo, nullptr);
        m = repo->stateManager;
        model = repo->primaryModel;
        ASSERT_NE(model, nullptr);
        topology = model->topology;
        names = topology ? topology->nameManager : nullptr;
    }
    // Closes (mode -1 keeps every state) and opens the file again with a
    // new manager.
    void reopen(int mode = -1) {
        vrnStateManager_closeDatabase(m, mode);
        vrnStateManager_delete(m);
        m = nullptr;
        open();
    }
    Region* region(int dimension, const char* name = nullptr) {
        Region* r = Region_new(dimension, name);
        Topology_addRegion(topology, r, nullptr);
        return r;
    }
};

}  // namespace modeltest
