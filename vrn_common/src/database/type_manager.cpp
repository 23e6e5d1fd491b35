#include "database/type_manager.h"

#include <string.h>

#include "database/object.h"
#include "support/cstring.h"
#include "support/memory.h"

namespace {

int headerSize() { return static_cast<int>(sizeof(vrnObject)); }

// Until a class installs its own routine, deleting an object frees its
// record through the state manager (which writes the deletion mark unless a
// state change is destroying it).
void deleteObject(vrnObject* object) { vrnObject_delete(object); }

#define ROW(id, name) {id, name, headerSize, nullptr, nullptr, deleteObject}

const vrnTypeRow kRows[] = {
    ROW(0, "Repository"),   ROW(1, "vrnBlob"),      ROW(2, "Assembly"),
    ROW(3, "Atlas"),        ROW(4, "Boundary"),     ROW(5, "Connection"),
    ROW(6, "ElementMesh"),  ROW(7, "ElementSet"),   ROW(8, "FaceMesh"),
    ROW(9, "FaceSet"),      ROW(10, "InterfaceMap"), ROW(11, "Mesh"),
    ROW(12, "Model"),       ROW(13, "NameManager"), ROW(14, "Region"),
    ROW(15, "Representation"), ROW(16, "Shell"),    ROW(17, "Topology"),
    ROW(18, "Vertices"),    ROW(19, "Visual"),      ROW(100, "Projection"),
};

#undef ROW

vrnTypeManager* registry = nullptr;

vrnTypeManager* get() { return registry ? registry : vrnTypeManager_new(); }

bool valid(int index) { return index >= 0 && index < get()->count; }

}  // namespace

extern "C" {

vrnTypeManager* vrnTypeManager_new(void) {
    if (registry) return registry;
    // One process-wide table, never freed: it lives in static storage.
    static vrnTypeManager table;
    table.count = static_cast<int>(sizeof kRows / sizeof kRows[0]);
    table.capacity = VRN_TYPE_CAPACITY;
    for (int i = 0; i < table.count; ++i) table.rows[i] = kRows[i];
    registry = &table;
    return registry;
}

int vrnTypeManager_getIndexOfId(int id) {
    vrnTypeManager* m = get();
    for (int i = 0; i < m->count; ++i)
        if (m->rows[i].id == id) return i;
    return -1;
}

int vrnTypeManager_getIdOfIndex(int index) { return valid(index) ? get()->rows[index].id : -1; }

const char* vrnTypeManager_getNameOfIndex(int index) {
    return valid(index) ? get()->rows[index].typeName : nullptr;
}

int vrnTypeManager_getIndexOfName(const char* name) {
    if (!name) return -1;
    vrnTypeManager* m = get();
    for (int i = 0; i < m->count; ++i)
        if (strcmp(m->rows[i].typeName, name) == 0) return i;
    return -1;
}

int vrnTypeManager_getIdOfName(const char* name) {
    return vrnTypeManager_getIdOfIndex(vrnTypeManager_getIndexOfName(name));
}

vrnTypeSizeFunction vrnTypeManager_getSizeFunction(int index) {
    return valid(index) ? get()->rows[index].size : nullptr;
}

vrnTypeDumpFunction vrnTypeManager_getDumpFunction(int index) {
    return valid(index) ? get()->rows[index].dump : nullptr;
}

vrnTypeRestoreFunction vrnTypeManager_getRestoreFunction(int index) {
    return valid(index) ? get()->rows[index].restore : nullptr;
}

vrnTypeDestroyFunction vrnTypeManager_getDestroyFunction(int index) {
    return valid(index) ? get()->rows[index].destroy : nullptr;
}

int vrnTypeManager_getKnownTypes(char*** names, int** ids) {
    const char* fn = "vrnTypeManager_getKnownTypes";
    vrnTypeManager* m = get();
    *names = static_cast<char**>(vrnMalloc(static_cast<int>(sizeof(char*)) * m->count, fn));
    *ids = static_cast<int*>(vrnMalloc(static_cast<int>(sizeof(int)) * m->count, fn));
    for (int i = 0; i < m->count; ++i) {
        (*names)[i] = vrnCString_clone(m->rows[i].typeName);
        (*ids)[i] = m->rows[i].id;
    }
    return m->count;
}

int vrnTypeManager_checkTypes(int count, char* const* names, const int* ids) {
    vrnTypeManager* m = get();
    if (count > m->count || count < 0 || (count > 0 && (!names || !ids))) return 0;
    for (int i = 0; i < count; ++i) {
        int index = vrnTypeManager_getIndexOfName(names[i]);
        if (index < 0 || m->rows[index].id != ids[i]) return 0;
    }
    return m->count <= count ? 1 : 2;
}

int vrnTypeManager_setRoutines(int index, vrnTypeSizeFunction size, vrnTypeDumpFunction dump,
                               vrnTypeRestoreFunction restore, vrnTypeDestroyFunction destroy) {
    if (!valid(index)) return 0;
    vrnTypeRow& row = get()->rows[index];
    if (size) row.size = size;
    if (dump) row.dump = dump;
    if (restore) row.restore = restore;
    if (destroy) row.destroy = destroy;
    return 1;
}

}  // extern "C"
