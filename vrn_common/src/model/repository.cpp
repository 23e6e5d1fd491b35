#include "model/repository.h"

#include <string.h>

#include <string>

#include "errors/error.h"
#include "support/cstring.h"
#include "support/memory.h"
#include "topology/mesh.h"
#include "topology/model_fields.h"
#include "topology/name_manager.h"
#include "topology/topology.h"

namespace {

// The source its errors name, as hosts have always seen it.
const char* const kSource = "vrn_common/src/database/Repository";
const int kCheckpointCapacity = 50;
const double kDefaultParameter = 0.005;

void truncateHook(void* repository, int state) {
    Repository_truncateCheckpoints(static_cast<Repository*>(repository), state);
}

void growTo(Repository* r, int capacity) {
    r->checkpoints = static_cast<int*>(
        vrnRealloc(r->checkpoints, static_cast<int>(sizeof(int)) * capacity, "Repository_externalCheckpoint"));
    memset(r->checkpoints + r->capacity, 0, sizeof(int) * static_cast<size_t>(capacity - r->capacity));
    r->capacity = capacity;
}

// Gives up a repository that could not be made: its manager goes without
// writing to the file (and without a lock left behind), and the previous
// one is the process-wide one again.
Repository* fail(vrnStateManager* m, vrnStateManager* previous) {
    vrnStateManager_setGlobal(m);
    vrnStateManager_releaseDatabase(m);
    vrnStateManager_delete(m);
    vrnStateManager_setGlobal(previous);
    return nullptr;
}

// True when the model's stored reference to its repository is the null
// reference (a model written without one), not a reference that is
// damaged or names an object that could not be restored.
bool namesNoRepository(Model* model) {
    char* text = nullptr;
    int n = 0;
    bool none = vrnObject_getChars(&model->header, 0, "repository", &text, &n) && text && n > 0 &&
                vrnUUID_isNullString(std::string(text, static_cast<size_t>(n)).c_str());
    vrnFree(text, "Repository_new");
    return none;
}

// True when the model and the parts every host of it reaches were restored:
// its topology, the topology's name manager (all names of the model) and
// the name manager's atlas (the region definitions). Without one of them
// the model would open with its names or definitions missing, and the next
// checkpoint would store it so.
bool restoredWhole(const Model* model) {
    if (!model || !model->topology) return false;
    const NameManager* names = model->topology->nameManager;
    return names && names->atlas;
}

}  // namespace

extern "C" {

int Repository_size(void) { return static_cast<int>(sizeof(Repository)); }
int Model_size(void) { return static_cast<int>(sizeof(Model)); }

Repository* Repository_new(const char* fileName) {
    static const char* const fn = "Repository_new";
    vrnStateManager* m = vrnStateManager_new();
    vrnStateManager* previous = vrnStateManager_setGlobal(m);
    if (!vrnStateManager_openDatabase(m, fileName)) {
        vrnError* e = vrnError_new(VRN_U_UNABLE_TO_OPEN_DATABASE, fn, kSource, __LINE__);
        vrnError_addMessage(e, "Unable to open the requested database\n");
        if (fileName) vrnError_addMessage(e, "\"%s\"", fileName);
        vrnError_addMessage(e, ".\n");
        vrnError_publish(e);
        return fail(m, previous);
    }
    Repository* r = nullptr;
    // Whether the model is new is told by what the open found, not by
    // whether the file was there before it: another process may have
    // created and closed the model in between. A file just made, and one
    // whose first state never closed, hold no model yet.
    if (m->current == 0 && m->last == 0) {
        r = reinterpret_cast<Repository*>(vrnObject_new("Repository"));
        r->primaryModel = Model_new(r);
        vrnObject_setPointer(&r->header, "primaryModel", &r->primaryModel->header);
    } else {
        r = reinterpret_cast<Repository*>(vrnStateManager_getSingletonByTypeName(m, "Repository"));
        Model* model = r ? r->primaryModel : nullptr;
        // A model without a repository is adopted only when it names none:
        // one that names a repository which could not be restored comes
        // from a damaged file.
        if (!r) {
            model = reinterpret_cast<Model*>(vrnStateManager_getSingletonByTypeName(m, "Model"));
            if (model && !namesNoRepository(model)) model = nullptr;
        }
        // A repository whose reference to its model is damaged (or names
        // a damaged model, or one whose topology could not be restored
        // whole) is no repository a host can follow. It is refused before
        // anything is written: the file stays as it was.
        if (!restoredWhole(model)) {
            vrnError* e = vrnError_new(VRN_I_INTERNAL_ERROR, fn, kSource, __LINE__);
            vrnError_addMessage(e, "Unable to locate the primary model in the database\n\"%s\".\n",
                                fileName ? fileName : "");
            vrnError_publish(e);
            return fail(m, previous);
        }
        if (!r) {
            r = reinterpret_cast<Repository*>(vrnObject_new("Repository"));
            r->primaryModel = model;
            vrnObject_setPointer(&r->header, "primaryModel", &model->header);
            Model_setRepository(model, r);
        }
    }
    r->stateManager = m;
    vrnStateManager_setRepository(m, r);
    vrnStateManager_setTruncateRoutine(truncateHook);

    vrnFree(r->checkpoints, fn);
    r->checkpoints =
        static_cast<int*>(vrnCalloc(static_cast<int>(sizeof(int)) * kCheckpointCapacity, 0, fn));
    r->capacity = kCheckpointCapacity;
    r->count = 0;
    int* stored = nullptr;
    int n = 0;
    if (Database_getIntegerArray(m->database, 0, r->header.uuid, "checkpoints", &stored, &n) && n > 0) {
        if (n > r->capacity) growTo(r, 2 * n);
        memcpy(r->checkpoints, stored, sizeof(int) * static_cast<size_t>(n));
        r->count = n;
    } else if (Repository_externalCheckpoint(r) < 0) {
        // Its first state could not be stored: it was dropped with the
        // objects made in it, the repository among them.
        vrnFree(stored, fn);
        return fail(m, previous);
    }
    vrnFree(stored, fn);
    return r;
}

int Repository_externalCheckpoint(Repository* r) {
    if (!r) return -1;
    vrnStateManager* m = r->stateManager ? r->stateManager : vrnStateManager_get();
    if (!m) return -1;
    int s = vrnStateManager_closeState(m);
    if (s < 0) return -1;  // the state was not stored
    if (r->capacity < 1) growTo(r, kCheckpointCapacity);
    if (r->count >= r->capacity) growTo(r, 2 * r->capacity);
    for (int i = r->count - 1; i >= 0; --i)
        if (r->checkpoints[i] == s) return i;
    r->checkpoints[r->count] = s;
    return r->count++;
}

void Repository_truncateCheckpoints(Repository* r, int state) {
    if (!r) return;
    while (r->count > 0 && r->checkpoints[r->count - 1] > state) --r->count;
}

int Repository_getCurrentState(Repository* r) {
    return r && r->stateManager ? r->stateManager->current : 0;
}

void Repository_restore(vrnObject* o, int onlyIfChanged) {
    Repository* r = reinterpret_cast<Repository*>(o);
    vrnmodel::getTyped(o, onlyIfChanged, "primaryModel", "Model", &r->primaryModel);
    if (!r->stateManager) r->stateManager = vrnStateManager_get();
}

void Repository_delete(vrnObject* o) {
    Repository* r = reinterpret_cast<Repository*>(o);
    // The manager must not truncate the checkpoints of a freed repository.
    if (r->stateManager && r->stateManager->repository == r) vrnStateManager_setRepository(r->stateManager, nullptr);
    vrnFree(r->checkpoints, "Repository_delete");
    vrnObject_delete(o);
}

Model* Model_new(Repository* repository) {
    Model* m = reinterpret_cast<Model*>(vrnObject_new("Model"));
    if (!m) return nullptr;
    m->repository = repository;
    m->topology = Topology_new();
    m->representation = Representation_new(m->topology);
    m->mesh = Mesh_new(m->topology);
    vrnObject* o = &m->header;
    vrnObject_setPointer(o, "repository", repository ? &repository->header : nullptr);
    vrnObject_setPointer(o, "topology", m->topology ? &m->topology->header : nullptr);
    vrnObject_setPointer(o, "representation", m->representation ? &m->representation->header : nullptr);
    vrnObject_setPointer(o, "mesh", m->mesh ? &m->mesh->header : nullptr);
    Model_setRealParameter(m, kDefaultParameter);
    return m;
}

int Model_setRepository(Model* m, Repository* repository) {
    if (!m) return 0;
    m->repository = repository;
    vrnObject_setPointer(&m->header, "repository", repository ? &repository->header : nullptr);
    return 1;
}

void Model_setRealParameter(Model* m, double value) {
    if (!m) return;
    m->parameter = value;
    vrnObject_markModified(&m->header);
}

void Model_dumpParameters(vrnObject* o) {
    vrnObject_setDoubles(o, "dParameters", &reinterpret_cast<Model*>(o)->parameter, 1);
}

void Model_restoreParameters(vrnObject* o, int onlyIfChanged) {
    Model* m = reinterpret_cast<Model*>(o);
    vrnmodel::getTyped(o, onlyIfChanged, "repository", "Repository", &m->repository);
    vrnmodel::getTyped(o, onlyIfChanged, "topology", "Topology", &m->topology);
    vrnmodel::getTyped(o, onlyIfChanged, "representation", "Representation", &m->representation);
    vrnmodel::getTyped(o, onlyIfChanged, "mesh", "Mesh", &m->mesh);
    if (!vrnObject_shouldRead(o, onlyIfChanged, "dParameters")) return;
    double* values = nullptr;
    int count = 0;
    if (!vrnObject_getDoubles(o, 0, "dParameters", &values, &count)) m->parameter = kDefaultParameter;
    else if (count > 0) m->parameter = values[0];
    vrnFree(values, "Model_restoreParameters");
}

void Model_delete(vrnObject* o) {
    Model* m = reinterpret_cast<Model*>(o);
    if (vrnObject_isNotBeingDestroyed(o)) {
        if (m->topology) vrnObject_destroy(&m->topology->header);
        if (m->representation) vrnObject_destroy(&m->representation->header);
        if (m->mesh) vrnObject_destroy(&m->mesh->header);
    }
    vrnObject_delete(o);
}

}  // extern "C"
