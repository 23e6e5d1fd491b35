// A small host of the model database. "write FILE" builds a model (regions,
// an assembly, names, a region definition in the atlas) in a new file,
// saves states, undoes and redoes one and closes; "read FILE", run as a
// second process, opens the file again and prints what it finds, changing
// nothing: the file is left byte for byte as it was (a state that a writer
// killed while writing it left unfinished is left out of what is read, not
// dropped from the file), and a file that holds no complete model is
// refused. The model file is FILE
// when its name ends in a model ending (".vrn", say), else FILE.vrn; the
// example touches no other file.
#include <stdio.h>
#include <string.h>

#include <string>

#include "database/database.h"
#include "model/repository.h"
#include "errors/error.h"
#include "errors/error_manager.h"
#include "region_definition.h"
#include "support/cstring.h"
#include "support/hash_set.h"
#include "support/memory.h"
#include "support/set.h"
#include "topology/atlas.h"
#include "topology/name_manager.h"
#include "topology/topology.h"

namespace {

int printErrors() {
    int count = 0;
    vrnError** errors = nullptr;
    vrnApp_getErrors(&count, &errors);
    for (int i = 0; i < count; ++i) fprintf(stderr, "error %d: %s", errors[i]->code, vrnError_getMessage(errors[i]));
    vrnFree(errors, "main");
    vrnApp_clearErrors();
    return count;
}

// Closes the open state as a checkpoint; returns its state number.
int checkpoint(Repository* repository) {
    return repository->checkpoints[Repository_externalCheckpoint(repository)];
}

// The name of the model file for FILE; false (with a message) when there
// is a file of that name and there should not be, or none and there should.
bool modelFile(const char* file, bool shouldExist, std::string* path) {
    char* completed = Database_buildFileName(file);
    *path = completed;
    vrnCString_free(completed);
    bool exists = Database_fileExists(path->c_str()) != 0;
    if (exists == shouldExist) return true;
    if (exists)
        fprintf(stderr, "model_database: the model file \"%s\" exists already; write makes a new one "
                        "(remove it or name another)\n", path->c_str());
    else
        fprintf(stderr, "model_database: no model database file \"%s\"\n", path->c_str());
    return false;
}

int write(const char* file) {
    // A new model in a new file: an existing file is never replaced.
    std::string path;
    if (!modelFile(file, false, &path)) return 1;
    printf("writing the model file \"%s\"\n", path.c_str());
    Repository* repository = Repository_new(file);
    if (!repository) return printErrors(), 1;
    vrnStateManager* manager = repository->stateManager;
    Topology* topology = repository->primaryModel->topology;

    Assembly* body = Assembly_new(topology, "Body");
    const char* faces[] = {"Inlet", "Outlet", "Wall", "Wall"};
    for (const char* face : faces) {
        Region* region = Region_new(2, face);
        Topology_addRegion(topology, region, nullptr);
        Assembly_addRegion(body, region);
    }
    Region* fluid = Region_new(3, nullptr);
    Topology_addRegion(topology, fluid, nullptr);
    printf("state %d: %d regions in assembly \"%s\"\n", checkpoint(repository), body->regions->count,
           body->uniqueName);

    // A composite region in the Primary map of the model's atlas.
    Atlas* atlas = topology->nameManager->atlas;
    const char* walls[] = {"Wall", "Wall 2"};
    RegionDefinition* definition = nullptr;
    RegionDefinition_new(&definition, "Walls", 1, const_cast<char**>(walls), nullptr, 2, 0);
    RegionMap_addDefinition(atlas->primaryMap, definition);
    Atlas_markModified(atlas);
    Model_setRealParameter(repository->primaryModel, 0.01);
    printf("state %d: region definition \"Walls\" added\n", checkpoint(repository));

    vrnStateManager_changeState(manager, 1, -1);
    printf("undone to state %d: the model's parameter is %g\n", manager->current,
           repository->primaryModel->parameter);
    vrnStateManager_changeState(manager, 1, 1);
    printf("redone to state %d: the model's parameter is %g\n", manager->current,
           repository->primaryModel->parameter);
    vrnStateManager_closeDatabase(manager, -1);
    vrnStateManager_delete(manager);
    return printErrors() ? 1 : 0;
}

int read(const char* file) {
    // Opening a missing file would make an empty model database: refused.
    std::string path;
    if (!modelFile(file, true, &path)) return 1;
    // A reader never creates or completes a model: a file whose first
    // state never closed (its writer ended while creating it) holds none,
    // and opening it as a repository would make one in it.
    Database* database = Database_new(path.c_str());
    if (!database) return printErrors(), 1;
    int stored = 0, last = 0;
    const bool counted = Database_getInteger(database, 0, nullptr, "State - current", &stored);
    Database_getInteger(database, 0, nullptr, "State - last", &last);
    Database_deleteUnchanged(database);
    // A host that undid every state before closing left state 0 current
    // with its states still in the file, for redo.
    const int closedForRedo = last < 0 ? -last - 1 : last;
    if (counted && stored == 0 && closedForRedo > 0) {
        fprintf(stderr,
                "model_database: the file \"%s\" has no current state to read: its writer undid every "
                "state before closing, and the file holds states 1 to %d after it; the file is left as it "
                "was\n",
                path.c_str(), closedForRedo);
        return 1;
    }
    if ((stored < 0 ? -stored - 1 : stored) < 1) {
        // Without its state counter the file either never closed a state or
        // lost its end; with it, it never closed one.
        fprintf(stderr, "model_database: the file \"%s\" holds no complete model (%s); the file is left as it was\n",
                path.c_str(),
                counted ? "its writer ended before the first state was closed"
                        : "its writer ended before the first state was closed, or the file was cut short");
        return 1;
    }
    if (stored < 0)
        printf("reading the model file \"%s\" (read only: the state its writer left unfinished is left "
               "out, and the file is left as it was)\n", path.c_str());
    else
        printf("reading the model file \"%s\" (read only: the file is left as it was)\n", path.c_str());
    Repository* repository = Repository_new(file);
    if (!repository) return printErrors(), 1;
    Model* model = repository->primaryModel;
    vrnStateManager* manager = repository->stateManager;
    // The open refuses a model whose names or atlas were not restored; a
    // model that still lacks one is reported, not followed.
    NameManager* names = model && model->topology ? model->topology->nameManager : nullptr;
    if (!names || !names->atlas) {
        fprintf(stderr, "model_database: the model in \"%s\" has no topology, names or atlas to read; "
                        "the file is left as it was\n", path.c_str());
        vrnStateManager_closeDatabase(manager, -1);
        vrnStateManager_delete(manager);
        printErrors();
        return 1;
    }
    printf("reopened at state %d with %d checkpoint(s); parameter %g\n", manager->current, repository->count,
           model->parameter);
    char** texts = nullptr;
    vrnObject** objects = nullptr;
    int n = NameManager_getNames(names, &texts, &objects);
    for (int i = 0; i < n; ++i)
        printf("  name \"%s\": %s\n", texts[i], objects[i] ? vrnObject_getTypeName(objects[i]) : "composite");
    char* text = nullptr;
    if (RegionMap* primary = names->atlas->primaryMap) {
        RegionMap_getORV(primary, 0, &text);
        printf("Primary map:\n%s", text ? text : "");
        RegionMap_freeORV(primary);
    } else {
        printf("Primary map: none\n");
    }
    // Nothing is changed, so closing writes nothing: the file stays as it
    // was. Closing frees every object of the model, the repository included.
    vrnStateManager_closeDatabase(manager, -1);
    vrnStateManager_delete(manager);
    return printErrors() ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], "write") == 0) return write(argv[2]);
    if (argc == 3 && strcmp(argv[1], "read") == 0) return read(argv[2]);
    fprintf(stderr, "usage: %s write|read FILE\n", argv[0]);
    return 2;
}
