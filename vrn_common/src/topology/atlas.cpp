#include "topology/atlas.h"

#include "topology/model_fields.h"
#include "topology/name_manager.h"

extern "C" {

int Atlas_size(void) { return static_cast<int>(sizeof(Atlas)); }

Atlas* Atlas_new(NameManager* nameManager) {
    Atlas* a = reinterpret_cast<Atlas*>(vrnObject_new("Atlas"));
    if (!a) return nullptr;
    if (!Atlas_create(a)) {
        vrnObject_delete(&a->header);
        return nullptr;
    }
    vrnObject_markModified(&a->header);
    a->nameManager = nameManager;
    vrnObject_setPointer(&a->header, "nameManager", nameManager ? &nameManager->header : nullptr);
    return a;
}

int Atlas_create(Atlas*) { return 1; }

void Atlas_dump(vrnObject*) {}

void Atlas_restore(vrnObject* o, int onlyIfChanged) {
    Atlas* a = reinterpret_cast<Atlas*>(o);
    vrnmodel::getTyped(o, onlyIfChanged, "nameManager", "NameManager", &a->nameManager);
}

void Atlas_delete(vrnObject* o) { vrnObject_delete(o); }

}  // extern "C"
