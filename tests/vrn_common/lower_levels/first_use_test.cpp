// A program that links the model database library but calls only its lower
// levels (state manager, type registry) still finds what the model level
// registers from above: the classes' routines and the repository a first
// use opens. This executable must name nothing of the topology or model
// levels itself, or it would keep them linked whatever the library does.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "database/state_manager.h"
#include "database/type_manager.h"
#include "support/system.h"
#include "test_support.h"

TEST(ModelLevelRegistration, ProgramsUsingOnlyLowerLevelsGetClassRoutinesAndFirstUseRepository) {
    vrntest::TempDir dir;
    vrntest::ChildOptions options;
    options.cwd = dir.path();
    auto child = vrntest::runInChild(
        [] {
            for (const char* type : {"Repository", "Model", "Topology", "Region", "NameManager", "Atlas", "Mesh"}) {
                int index = vrnTypeManager_getIndexOfName(type);
                if (!vrnTypeManager_getRestoreFunction(index)) {
                    printf("no restore routine for %s\n", type);
                    return 2;
                }
                if (vrnTypeManager_getSizeFunction(index)() <= static_cast<int>(sizeof(vrnObject))) {
                    printf("no size for %s\n", type);
                    return 3;
                }
            }
            vrnStateManager* m = vrnStateManager_get();
            if (!m || !m->database || !m->repository) {
                printf("no first-use repository\n");
                return 4;
            }
            return 0;
        },
        options);
    EXPECT_EQ(child.exitStatus, 0) << child.out << child.err;
    EXPECT_TRUE(vrnFileExists(dir.file("_changes.vrn").c_str()));
}
