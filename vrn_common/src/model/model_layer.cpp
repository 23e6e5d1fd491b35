#include "model/model_layer.h"

#include "database/object.h"
#include "database/state_manager.h"
#include "database/type_manager.h"
#include "model/repository.h"
#include "topology/atlas.h"
#include "topology/mesh.h"
#include "topology/name_manager.h"
#include "topology/topology.h"

namespace {

void openChanges(void) { Repository_new("_changes"); }

// The registration runs before main in every program that links the model
// database (its library makes the linker keep this file), so the classes'
// routines and the first-use repository are there before any object is.
const bool registered = (vrnModel_register(), true);

}  // namespace

extern "C" {

void vrnModelClasses_install(void) {
    struct Row {
        const char* name;
        vrnTypeSizeFunction size;
        vrnTypeDumpFunction dump;
        vrnTypeRestoreFunction restore;
        vrnTypeDestroyFunction destroy;
    };
    static const Row rows[] = {
        {"Repository", Repository_size, nullptr, Repository_restore, Repository_delete},
        {"vrnBlob", vrnBlob_size, nullptr, vrnBlob_restore, vrnBlob_destroy},
        {"Assembly", Assembly_size, Assembly_dump, Assembly_restore, Assembly_destroy},
        {"Atlas", Atlas_size, Atlas_dump, Atlas_restore, Atlas_delete},
        {"Boundary", Boundary_size, Boundary_dump, Boundary_restore, Boundary_free},
        {"Connection", Connection_size, nullptr, Connection_restore, Connection_destroy},
        {"ElementMesh", ElementMesh_size, ElementMesh_dump, ElementMesh_restore, ElementMesh_destroy},
        {"ElementSet", ElementSet_size, nullptr, ElementSet_restore, ElementSet_destroy},
        {"FaceMesh", FaceMesh_size, FaceMesh_dump, FaceMesh_restore, Boundary_free},
        {"FaceSet", FaceSet_size, nullptr, FaceSet_restore, FaceSet_destroy},
        {"InterfaceMap", InterfaceMap_size, nullptr, InterfaceMap_restore, InterfaceMap_destroy},
        {"Mesh", Mesh_size, Mesh_dump, Mesh_restore, Mesh_destroy},
        {"Model", Model_size, Model_dumpParameters, Model_restoreParameters, Model_delete},
        {"NameManager", NameManager_size, NameManager_dump, NameManager_restore, NameManager_delete},
        {"Region", Region_size, Region_dump, Region_restore, Region_destroy},
        {"Representation", Representation_size, Representation_dump, Representation_restore,
         Representation_destroy},
        {"Shell", Shell_size, Shell_dump, Shell_restore, Boundary_free},
        {"Topology", Topology_size, Topology_dump, Topology_restore, Topology_destroy},
        {"Vertices", Vertices_size, nullptr, Vertices_restore, Vertices_destroy},
        {"Visual", Visual_size, nullptr, Visual_restore, Visual_destroy},
        {"Projection", Projection_size, nullptr, Projection_restore, Projection_destroy},
    };
    for (const Row& row : rows)
        vrnTypeManager_setRoutines(vrnTypeManager_getIndexOfName(row.name), row.size, row.dump, row.restore,
                                   row.destroy);
}

void vrnModel_register(void) {
    vrnModelClasses_install();
    vrnStateManager_setFirstUseRoutine(openChanges);
}

}  // extern "C"
