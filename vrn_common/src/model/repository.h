/* The repository: the root object of one model database file. Opening one
 * makes a new state manager the process-wide one, finds or creates the
 * primary model, and keeps the checkpoints (state numbers a host may come
 * back to). A model ties together the topology, the representation and the
 * mesh of a meshing model, and one real parameter. */
#ifndef VRN_MODEL_REPOSITORY_H
#define VRN_MODEL_REPOSITORY_H

#include "database/object.h"
#include "database/state_manager.h"

#ifdef __cplusplus
extern "C" {
#endif

struct Model;
struct Topology;
struct Representation;
struct Mesh;

typedef struct Repository {
    vrnObject header;
    struct Model* primaryModel;
    vrnStateManager* stateManager;
    int* checkpoints;
    int count;
    int capacity;
} Repository;

typedef struct Model {
    vrnObject header;
    struct Topology* topology;
    struct Representation* representation;
    struct Mesh* mesh;
    Repository* repository;
    double parameter;
} Model;

/* NULL (error published) when the file cannot be opened or holds no
 * primary model; the previous process-wide manager then stays. */
Repository* Repository_new(const char* fileName);
int Repository_externalCheckpoint(Repository* repository);
void Repository_truncateCheckpoints(Repository* repository, int state);
int Repository_getCurrentState(Repository* repository);

Model* Model_new(Repository* repository);
int Model_setRepository(Model* model, Repository* repository);
void Model_setRealParameter(Model* model, double value);

int Repository_size(void);
void Repository_restore(vrnObject* object, int onlyIfChanged);
void Repository_delete(vrnObject* object);
int Model_size(void);
void Model_dumpParameters(vrnObject* object);
void Model_restoreParameters(vrnObject* object, int onlyIfChanged);
void Model_delete(vrnObject* object);

#ifdef __cplusplus
}
#endif

#endif
