#include "topology/model_fields.h"

#include <stdarg.h>
#include <string.h>

#include <vector>

#include "errors/error.h"
#include "support/hash_set.h"
#include "support/memory.h"
#include "support/set.h"

namespace vrnmodel {

bool isA(const vrnObject* object, const char* typeName) {
    const char* name = vrnObject_getTypeName(object);
    return name && strcmp(name, typeName) == 0;
}

void raise(int code, const char* function, const char* source, int line, const char* format, ...) {
    vrnError* e = vrnError_new(code, function, source, line);
    va_list args;
    va_start(args, format);
    char text[512];
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    vrnError_addMessage(e, "%s", text);
    vrnError_publish(e);
}

int getRef(vrnObject* object, int onlyIfChanged, const char* key, const char* typeName,
           vrnObject** field) {
    if (!vrnObject_shouldRead(object, onlyIfChanged, key)) return 1;
    vrnObject* target = nullptr;
    int ok = vrnObject_getPointer(object, 0, key, &target);
    if (target && !isA(target, typeName)) {
        char self[VRN_UUID_STRING_SIZE];
        vrnObject_getUUIDString(object, self);
        raise(VRN_I_INTERNAL_ERROR, "vrnObject_getPointer", "vrn_common/src/topology/model_fields",
              __LINE__, "The reference \"%s\" of object %s is not a %s.\n", key, self, typeName);
        target = nullptr;
    }
    *field = target;
    return ok;
}

void keepType(Set* set, const char* typeName) {
    if (!set) return;
    std::vector<void*> wrong;
    for (int i = 0; i < set->count; ++i)
        if (!isA(static_cast<vrnObject*>(set->members[i]), typeName)) wrong.push_back(set->members[i]);
    for (void* w : wrong) Set_remove(set, w);
}

void keepType(HashSet* set, const char* typeName) {
    if (!set) return;
    void** keys = nullptr;
    int n = HashSet_toArray(set, &keys);
    for (int i = 0; i < n; ++i)
        if (!isA(static_cast<vrnObject*>(keys[i]), typeName)) HashSet_remove(set, keys[i]);
    vrnFree(keys, "keepType");
}

void getTypedSet(vrnObject* object, int onlyIfChanged, const char* key, const char* typeName,
                 Set** field) {
    if (*field && !vrnObject_shouldRead(object, onlyIfChanged, key)) return;
    vrnObject_getSet(object, 0, key, field);
    keepType(*field, typeName);
}

void getTypedSet(vrnObject* object, int onlyIfChanged, const char* key, const char* typeName,
                 HashSet** field) {
    if (*field && !vrnObject_shouldRead(object, onlyIfChanged, key)) return;
    vrnObject_getHashSet(object, 0, key, field);
    keepType(*field, typeName);
}

void hashSetAdd(HashSet* set, void* member) {
    if (!set || !member) return;
    HashSet_remove(set, member);
    HashSet_newHashEntry(set, member);
}

}  // namespace vrnmodel
