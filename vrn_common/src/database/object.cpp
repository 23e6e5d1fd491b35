#include "database/object.h"

#include <string.h>

#include <string>
#include <vector>

#include "database/state_manager.h"
#include "database/type_manager.h"
#include "maths/vrnAffineTransform3D.h"
#include "support/cstring.h"
#include "support/hash_set.h"
#include "support/memory.h"
#include "support/set.h"

namespace {

vrnStateManager* manager() { return vrnStateManager_get(); }

// Live objects of a UUID array (unknown ones read as NULL and are
// reported); frees the UUIDs and the array.
std::vector<vrnObject*> takeObjects(vrnUUID** uuids, int count) {
    std::vector<vrnObject*> objects;
    for (int i = 0; i < count; ++i) {
        objects.push_back(vrnStateManager_pointerFromUUID(manager(), uuids[i]));
        vrnUUID_delete(uuids[i]);
    }
    vrnFree(uuids, "vrnObject_getPointers");
    return objects;
}

// Writes the members as a UUID array in the given order.
int writeMembers(vrnObject* object, const char* key, void** members, int count) {
    std::vector<vrnUUID*> uuids;
    for (int i = 0; i < count; ++i) uuids.push_back(static_cast<vrnObject*>(members[i])->uuid);
    return vrnStateManager_writeUUIDs(manager(), object->uuid, key, uuids.data(), count);
}

// Reads the references of key without the onlyIfChanged test; NULL
// entries (unknown objects) are dropped.
std::vector<void*> readMembers(vrnObject* object, const char* key) {
    vrnUUID** uuids = nullptr;
    int count = 0;
    std::vector<void*> members;
    if (vrnStateManager_readUUIDs(manager(), object->uuid, key, &uuids, &count) && count > 0)
        for (vrnObject* o : takeObjects(uuids, count))
            if (o) members.push_back(o);
    return members;
}

// Array getter: when the value is to be read, the caller's old array (if
// any) is freed and a new one read in its place.
template <typename T, typename Reader>
int getArray(vrnObject* o, int onlyIfChanged, const char* key, T** array, int* count, Reader read,
             const char* fn) {
    if (!o || !key) return 0;
    if (!vrnObject_shouldRead(o, onlyIfChanged, key)) return 1;
    vrnFree(*array, fn);
    return read(manager(), o->uuid, key, array, count);
}

}  // namespace

extern "C" {

vrnObject* vrnObject_createMemory(vrnUUID* uuid, int typeIndex) {
    vrnTypeSizeFunction size = vrnTypeManager_getSizeFunction(typeIndex);
    int bytes = size ? size() : 0;
    if (bytes < static_cast<int>(sizeof(vrnObject))) bytes = static_cast<int>(sizeof(vrnObject));
    vrnObject* o = static_cast<vrnObject*>(vrnCalloc(bytes, 0, "vrnObject_createMemory"));
    o->uuid = uuid ? uuid : vrnUUID_new();
    o->typeIndex = typeIndex;
    return o;
}

void vrnObject_destroyMemory(vrnObject* object) {
    if (!object) return;
    vrnUUID_delete(object->uuid);
    vrnFree(object, "vrnObject_destroyMemory");
}

vrnObject* vrnObject_new(const char* typeName) {
    return vrnStateManager_createObject(manager(), typeName);
}

void vrnObject_delete(vrnObject* object) { vrnStateManager_deleteObject(manager(), object); }

void vrnObject_markModified(vrnObject* object) { vrnStateManager_markModified(manager(), object); }

void vrnObject_dump(vrnObject* object) {
    if (!object) return;
    if (vrnTypeDumpFunction f = vrnTypeManager_getDumpFunction(object->typeIndex)) f(object);
}

void vrnObject_restore(vrnObject* object, int onlyIfChanged) {
    if (!object) return;
    if (vrnTypeRestoreFunction f = vrnTypeManager_getRestoreFunction(object->typeIndex))
        f(object, onlyIfChanged);
}

void vrnObject_destroy(vrnObject* object) {
    // An object deleted already has released what it held.
    if (!object || vrnStateManager_isDeletedObject(object)) return;
    if (vrnTypeDestroyFunction f = vrnTypeManager_getDestroyFunction(object->typeIndex)) f(object);
}

int vrnObject_getPersistentTypeID(const vrnObject* object) {
    return object ? vrnTypeManager_getIdOfIndex(object->typeIndex) : -1;
}

const char* vrnObject_getTypeName(const vrnObject* object) {
    return object ? vrnTypeManager_getNameOfIndex(object->typeIndex) : nullptr;
}

int vrnObject_getUUIDString(const vrnObject* object, char* buffer) {
    if (!object) {
        strcpy(buffer, "<UNKNOWN>");
        return 0;
    }
    vrnUUID_toBase64(object->uuid, buffer);
    return 1;
}

int vrnObject_isNotBeingDestroyed(const vrnObject*) {
    return vrnStateManager_isNotDestroying(manager());
}

int vrnObject_isManagerMode(const vrnObject*) { return vrnStateManager_isChanging(manager()); }

int vrnObject_setInt(vrnObject* o, const char* key, int value) {
    if (!o || !key) return 0;
    return vrnStateManager_writeInt(manager(), o->uuid, key, value);
}

int vrnObject_setInts(vrnObject* o, const char* key, const int* values, int count) {
    if (!o || !key) return 0;
    return vrnStateManager_writeInts(manager(), o->uuid, key, values, count);
}

int vrnObject_setDoubles(vrnObject* o, const char* key, const double* values, int count) {
    if (!o || !key) return 0;
    return vrnStateManager_writeDoubles(manager(), o->uuid, key, values, count);
}

int vrnObject_setString(vrnObject* o, const char* key, const char* string) {
    if (!o || !key) return 0;
    return vrnStateManager_writeString(manager(), o->uuid, key, string);
}

int vrnObject_setStrings(vrnObject* o, const char* key, char* const* strings, int count) {
    if (!o || !key) return 0;
    return vrnStateManager_writeStrings(manager(), o->uuid, key, strings, count);
}

int vrnObject_setPointer(vrnObject* o, const char* key, const vrnObject* target) {
    if (!o || !key) return 0;
    return vrnStateManager_writeUUID(manager(), o->uuid, key, target ? target->uuid : nullptr);
}

int vrnObject_setPointers(vrnObject* o, const char* key, vrnObject* const* objects, int count) {
    if (!o || !key) return 0;
    for (int i = 0; i < count; ++i)
        if (!objects || !objects[i]) return 0;
    return writeMembers(o, key, reinterpret_cast<void**>(const_cast<vrnObject**>(objects)), count);
}

int vrnObject_setSet(vrnObject* o, const char* key, const Set* set) {
    if (!o || !key) return 0;
    writeMembers(o, key, set ? set->members : nullptr, set ? set->count : 0);
    return 1;
}

int vrnObject_setHashSet(vrnObject* o, const char* key, const HashSet* set) {
    if (!o || !key) return 0;
    void** keys = nullptr;
    int n = set ? HashSet_toArray(set, &keys) : 0;
    writeMembers(o, key, keys, n);
    vrnFree(keys, "vrnObject_setHashSet");
    return 1;
}

int vrnObject_isParameterChanged(vrnObject* o, const char* key) {
    if (!o || !key) return 0;
    int changed = 0;
    vrnStateManager_isParameterChanged(manager(), o->uuid, key, &changed);
    return changed;
}

int vrnObject_shouldRead(vrnObject* o, int onlyIfChanged, const char* key) {
    if (!o || !key) return 0;
    return !onlyIfChanged || vrnObject_isParameterChanged(o, key);
}

int vrnObject_getInt(vrnObject* o, int onlyIfChanged, const char* key, int* value) {
    if (!o || !key) return 0;
    if (!vrnObject_shouldRead(o, onlyIfChanged, key)) return 1;
    return vrnStateManager_readInt(manager(), o->uuid, key, value);
}

int vrnObject_getInts(vrnObject* o, int onlyIfChanged, const char* key, int** array, int* count) {
    return getArray(o, onlyIfChanged, key, array, count, vrnStateManager_readInts,
                    "vrnObject_getInts");
}

int vrnObject_getIntArray(vrnObject* o, int onlyIfChanged, const char* key, int* array,
                          int capacity) {
    if (!o || !key) return 0;
    if (!vrnObject_shouldRead(o, onlyIfChanged, key)) return 1;
    return vrnStateManager_readIntArray(manager(), o->uuid, key, array, capacity);
}

int vrnObject_getFloats(vrnObject* o, int onlyIfChanged, const char* key, float** array,
                        int* count) {
    return getArray(o, onlyIfChanged, key, array, count, vrnStateManager_readFloats,
                    "vrnObject_getFloats");
}

int vrnObject_getDoubles(vrnObject* o, int onlyIfChanged, const char* key, double** array,
                         int* count) {
    return getArray(o, onlyIfChanged, key, array, count, vrnStateManager_readDoubles,
                    "vrnObject_getDoubles");
}

int vrnObject_getChars(vrnObject* o, int onlyIfChanged, const char* key, char** array, int* count) {
    return getArray(o, onlyIfChanged, key, array, count, vrnStateManager_readChars,
                    "vrnObject_getChars");
}

int vrnObject_getString(vrnObject* o, int onlyIfChanged, const char* key, char** string) {
    if (!o || !key) return 0;
    if (!vrnObject_shouldRead(o, onlyIfChanged, key)) return 1;
    vrnCString_free(*string);
    *string = nullptr;
    return vrnStateManager_readString(manager(), o->uuid, key, string);
}

int vrnObject_getStrings(vrnObject* o, int onlyIfChanged, const char* key, char*** array,
                         int* count) {
    if (!o || !key) return 0;
    if (!vrnObject_shouldRead(o, onlyIfChanged, key)) return 1;
    vrnCStringArray_free(*array, *count);
    return vrnStateManager_readStrings(manager(), o->uuid, key, array, count);
}

int vrnObject_getStringArray(vrnObject* o, int onlyIfChanged, const char* key, char** array,
                             int capacity) {
    if (!o || !key) return 0;
    if (!vrnObject_shouldRead(o, onlyIfChanged, key)) return 1;
    return vrnStateManager_readStringArray(manager(), o->uuid, key, array, capacity);
}

int vrnObject_getPointer(vrnObject* o, int onlyIfChanged, const char* key, vrnObject** target) {
    if (!o || !key) return 0;
    if (!vrnObject_shouldRead(o, onlyIfChanged, key)) return 1;
    vrnUUID* uuid = nullptr;
    int ok = vrnStateManager_readUUID(manager(), o->uuid, key, &uuid);
    *target = ok ? vrnStateManager_pointerFromUUID(manager(), uuid) : nullptr;
    vrnUUID_delete(uuid);
    return ok;
}

int vrnObject_getPointers(vrnObject* o, int onlyIfChanged, const char* key, vrnObject*** array,
                          int* count) {
    if (!o || !key) return 0;
    if (!vrnObject_shouldRead(o, onlyIfChanged, key)) return 1;
    vrnFree(*array, "vrnObject_getPointers");
    *array = nullptr;
    vrnUUID** uuids = nullptr;
    int n = 0;
    int ok = vrnStateManager_readUUIDs(manager(), o->uuid, key, &uuids, &n);
    if (!ok || n < 1) {
        for (int i = 0; i < n; ++i) vrnUUID_delete(uuids[i]);
        vrnFree(uuids, "vrnObject_getPointers");
        *count = 0;
        return ok;
    }
    std::vector<vrnObject*> objects = takeObjects(uuids, n);
    *array = static_cast<vrnObject**>(
        vrnMalloc(static_cast<int>(sizeof(vrnObject*)) * n, "vrnObject_getPointers"));
    memcpy(*array, objects.data(), sizeof(vrnObject*) * objects.size());
    *count = n;
    return 1;
}

int vrnObject_getPointerArray(vrnObject* o, int onlyIfChanged, const char* key, vrnObject** array,
                              int expected) {
    if (!o || !key) return 0;
    if (!vrnObject_shouldRead(o, onlyIfChanged, key)) return expected == 0;
    vrnObject** read = nullptr;
    int n = 0;
    int ok = vrnObject_getPointers(o, 0, key, &read, &n);
    if (ok && n == expected && n > 0) memcpy(array, read, sizeof(vrnObject*) * static_cast<size_t>(n));
    vrnFree(read, "vrnObject_getPointerArray");
    if (!ok) return ok;
    return n == expected;
}

int vrnObject_getSet(vrnObject* o, int onlyIfChanged, const char* key, Set** set) {
    if (!o || !key) return 0;
    if (!vrnObject_shouldRead(o, onlyIfChanged, key)) return 1;
    std::vector<void*> members = readMembers(o, key);
    Set_delete(*set);
    *set = Set_newFromArray(static_cast<int>(members.size()), members.data());
    return 1;
}

int vrnObject_getHashSet(vrnObject* o, int onlyIfChanged, const char* key, HashSet** set) {
    if (!o || !key) return 0;
    if (!vrnObject_shouldRead(o, onlyIfChanged, key)) return 1;
    std::vector<void*> members = readMembers(o, key);
    if (*set) HashSet_delete(*set);
    *set = HashSet_newFromArray(static_cast<int>(members.size()), members.data());
    return 1;
}

int vrnObject_getSignature(vrnObject* o, const char* key, int* ints, int* floats, int* doubles,
                           int* chars, int* strings, int* uuids) {
    if (!o || !key) return 0;
    return vrnStateManager_readSignature(manager(), o->uuid, key, ints, floats, doubles, chars,
                                         strings, uuids);
}

int vrnObject_hasAffineTransform3D(vrnObject* o, int onlyIfChanged, const char* key) {
    if (!o || !key) return 0;
    if (!onlyIfChanged) return 1;
    std::string k(key);
    return vrnObject_isParameterChanged(o, (k + " - A").c_str()) ||
           vrnObject_isParameterChanged(o, (k + " - v").c_str()) ||
           vrnObject_isParameterChanged(o, (k + " - units").c_str());
}

int vrnObject_getAffineTransform3D(vrnObject* o, int onlyIfChanged, const char* key,
                                   vrnAffineTransform3D** transform) {
    if (!o || !key) return 0;
    const char* fn = "vrnObject_getAffineTransform3D";
    std::string k(key);
    vrnAffineTransform3D_delete(*transform);
    *transform = nullptr;
    double* A = nullptr;
    double* v = nullptr;
    char* units = nullptr;
    int nA = 0, nv = 0;
    int okA = vrnObject_getDoubles(o, onlyIfChanged, (k + " - A").c_str(), &A, &nA);
    int okV = vrnObject_getDoubles(o, onlyIfChanged, (k + " - v").c_str(), &v, &nv);
    int okU = vrnObject_getString(o, onlyIfChanged, (k + " - units").c_str(), &units);
    int result = 1;
    if (okA == 1 && okV == 1 && okU == 1 && A && v && units) {
        if (nA < 9 || nv < 3) {
            // Too few values to make a matrix and a vector from.
            result = 0;
        } else {
            vrnAffineTransform3D* t = vrnAffineTransform3D_new();
            if (!vrnAffineTransform3D_set(t, A, v, units)) {
                // Units this mode does not know (10013 is published): the
                // stored values are kept, so that nothing is lost when the
                // object is written again.
                memcpy(t->A, A, sizeof t->A);
                memcpy(t->v, v, sizeof t->v);
                vrnCString_reassign(&t->units, units);
            }
            *transform = t;
        }
    }
    vrnFree(A, fn);
    vrnFree(v, fn);
    vrnCString_free(units);
    return result;
}

}  // extern "C"
