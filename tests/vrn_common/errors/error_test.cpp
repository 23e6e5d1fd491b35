#include "errors/error.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "errors/error_manager.h"
#include "support/memory.h"

namespace {

vrnError* newError(int code) { return vrnError_new(code, "Test_raise", "test/raise.cpp", 12); }

}  // namespace

TEST(ErrorClass, BoundariesOfEveryClass) {
    vrnError* e = newError(VRN_OK);
    const std::vector<std::pair<int, int>> cases = {
        {-7, 0},    {0, 0},     {1, 1},     {10000, 1}, {10001, 2},
        {20000, 2}, {20001, 3}, {30000, 3}, {30001, 4}, {2000000000, 4}};
    for (auto [code, cls] : cases) {
        e->code = code;
        EXPECT_EQ(cls, vrnError_getClass(e)) << "code " << code;
    }
    vrnApp_clearErrors();
}

TEST(ErrorClass, UnknownCodeIsStoredAsUnrecognisedAndFatal) {
    for (int code : {12345, -1, 7, 10050, 30006}) {
        vrnError* e = vrnError_new(code, "Thing_read", "src/thing.cpp", 77);
        EXPECT_EQ(VRN_I_UNRECOGNISED_ERROR_CODE, e->code) << code;
        EXPECT_EQ(VRN_CLASS_INTERNAL_ERROR, vrnError_getClass(e));
        EXPECT_EQ(1, e->fatal);
        // The raiser's routine, file and line are kept.
        EXPECT_STREQ("Thing_read", e->function);
        EXPECT_STREQ("src/thing.cpp", e->sourceFile);
        EXPECT_EQ(77, e->line);
        EXPECT_STREQ("An unrecognised error code has been generated.", vrnError_getDescription(e));
    }
    EXPECT_EQ(0, newError(VRN_U_INVALID_RESULT)->fatal);
    EXPECT_EQ(0, newError(VRN_R_RESOURCE_LEAK)->fatal);
    EXPECT_EQ(1, newError(VRN_I_INTERNAL_ERROR)->fatal);
    vrnApp_clearErrors();
}

TEST(ErrorCodeTable, EveryRowHasItsCodeNameAndTextAndNoOtherRowExists) {
    struct Row {
        int code;
        const char* name;
        const char* text;
    };
    // The whole table in its order; a changed text, a renamed row or a row
    // added or lost fails here.
    const Row rows[] = {
        {0, "VRN_OK", "No error."},
        {1, "VRN_W_USER_DEFINED", "A user defined warning has been generated."},
        {2, "VRN_W_INFORMATION", "Information."},
        {3, "VRN_W_INVALID_INPUT_IGNORED", "Invalid input has been ignored."},
        {4, "VRN_W_INVALID_DATA_IGNORED", "Invalid data has been ignored."},
        {5, "VRN_W_INVALID_RESULT_IGNORED", "Invalid result has been ignored."},
        {6, "VRN_W_MESHING_WARNING", "A warning message from a meshing sub-process."},
        {10001, "VRN_U_USER_DEFINED", "A user defined error has been generated."},
        {10002, "VRN_U_BAD_HANDLE",
         "Unable to resolve the supplied handle, it does not correspond to an open VRN database."},
        {10003, "VRN_U_UNABLE_TO_OPEN_DATABASE", "Unable to open the requested database."},
        {10004, "VRN_U_UNABLE_TO_CLOSE_DATABASE", "Unable to close the requested database."},
        {10005, "VRN_U_UNABLE_TO_COPY_DATABASE", "Unable to copy the requested database."},
        {10006, "VRN_U_UNABLE_TO_COMPACT_DATABASE", "Unable to compact the requested database."},
        {10007, "VRN_U_UNABLE_TO_UPGRADE_DATABASE", "Unable to upgrade the requested database."},
        {10008, "VRN_U_UNABLE_TO_OVERWRITE_DATABASE",
         "Unable to overwrite the requested database."},
        {10009, "VRN_U_UNABLE_TO_READ_DATASET", "Unable to read the requested data set."},
        {10010, "VRN_U_UNABLE_TO_WRITE_DATASET", "Unable to write the requested data set."},
        {10011, "VRN_U_UNABLE_TO_DELETE_DATASET", "Unable to delete the requested data set."},
        {10012, "VRN_U_DATABASE_IS_LOCKED",
         "Unable to open the requested database because a lock file is present."},
        {10013, "VRN_U_INVALID_LENGTH_UNITS",
         "The supplied name for length units has not been recognised."},
        {10014, "VRN_U_INVALID_ANGLE_UNITS",
         "The supplied name for angle units has not been recognised."},
        {10015, "VRN_U_ZERO_LENGTH_VECTOR", "A vector of zero length has been encountered."},
        {10016, "VRN_U_SINGULAR_MATRIX", "A singular matrix has been encountered."},
        {10017, "VRN_U_INVALID_PORT_NUMBER", "The requested port number is invalid."},
        {10018, "VRN_U_COMMAND_NOT_FOUND", "Requested command not found."},
        {10019, "VRN_U_ENVIRONMENT_VARIABLE_NOT_SET", "Requested command not found."},
        {10020, "VRN_U_INVALID_INPUT", "Invalid input has been encountered."},
        {10021, "VRN_U_INVALID_DATA", "Invalid data has been encountered."},
        {10022, "VRN_U_INVALID_RESULT", "The requested operation has produced an invalid result."},
        {10023, "VRN_U_MISSING_DATA", "Required data is missing."},
        {10024, "VRN_U_ID_ALREADY_IN_USE", "The requested id is already in use."},
        {10025, "VRN_U_UNABLE_TO_IDENTIFY_OBJECT", "Unable to identify the requested object."},
        {10026, "VRN_U_FILE_DOES_NOT_EXIST", "The requested file does not exist."},
        {10027, "VRN_U_FILE_ALREADY_EXISTS", "The requested file already exists."},
        {10028, "VRN_U_DIRECTORY_DOES_NOT_EXIST", "The requested directory does not exist."},
        {10029, "VRN_U_DIRECTORY_ALREADY_EXISTS", "The requested directory already exists."},
        {10030, "VRN_U_UNABLE_TO_MODIFY_NAME", "Unable to modify the requested name."},
        {10031, "VRN_U_UNABLE_TO_OPEN_FILE", "Unable to open the requested file."},
        {10032, "VRN_U_UNABLE_TO_IMPORT_MESH", "Unable to import the requested mesh."},
        {10033, "VRN_U_UNABLE_TO_EXPORT_MESH", "Unable to export the requested mesh."},
        {10034, "VRN_U_UNEXPECTED_END_OF_FILE", "An unexpected end of file has been encountered."},
        {10035, "VRN_U_INVALID_FILE_FORMAT", "The file format is not valid."},
        {10036, "VRN_U_NOT_A_PRIMITIVE_REGION", "The requested region is not a primitive region."},
        {10037, "VRN_U_NOT_AN_ASSEMBLY", "The requested object is not an assembly."},
        {10038, "VRN_U_EMPTY_LOCATION", "The requested location is empty."},
        {10039, "VRN_U_UNRECOGNISED_NAME", "The supplied name has not been recognised."},
        {10040, "VRN_U_UNRESOLVED_NAME", "The supplied name could not be resolved."},
        {10041, "VRN_U_INVALID_ORV", "The supplied ORV is not valid."},
        {10042, "VRN_U_INVALID_TOPOLOGY", "The topology is not valid."},
        {10043, "VRN_U_INVALID_CHECKPOINT", "The requested checkpoint is not valid."},
        {10044, "VRN_U_MESHING_ERROR", "An error message from a meshing sub-process."},
        {10045, "VRN_U_UNABLE_TO_SPAWN_PROCESS", "Unable to spawn a sub-process."},
        {10046, "VRN_U_UNABLE_TO_DELETE_FILE", "Unable to delete the requested file."},
        {10047, "VRN_U_UNABLE_TO_DELETE_DIRECTORY", "Unable to delete the requested directory."},
        {10048, "VRN_U_CHILD_PROCESS_CRASHED", "A child process has crashed."},
        {10049, "VRN_U_UNABLE_TO_IMPORT_GEOMETRY", "Unable to import the requested geometry."},
        {20001, "VRN_I_USER_DEFINED", "A user defined internal error has been generated."},
        {20002, "VRN_I_FAILED_ASSERTION", "An assertion has failed."},
        {20003, "VRN_I_NOT_IMPLEMENTED_YET", "The requested feature has not been implemented yet."},
        {20004, "VRN_I_UNRECOGNISED_ERROR_CODE", "An unrecognised error code has been generated."},
        {20005, "VRN_I_ALGORITHMIC_FAILURE", "An algorithm has failed."},
        {20006, "VRN_I_INTERNAL_ERROR",
         "The program is unable to continue as an internal error has been encountered."},
        {20007, "VRN_I_MISSING_SINGLETON", "A required singleton object is missing."},
        {20008, "VRN_I_MULTIPLE_SINGLETON", "More than one instance of a singleton object exists."},
        {20009, "VRN_I_NO_UNIT_DEFINITIONS", "No unit definitions are available."},
        {20010, "VRN_I_MESHING_INTERNAL_ERROR",
         "An internal error message from a meshing sub-process."},
        {30001, "VRN_R_USER_DEFINED", "A user defined resource error has been generated."},
        {30002, "VRN_R_INSUFFICIENT_MEMORY_SUPPLIED",
         "Insufficient memory has been supplied to complete the requested task."},
        {30003, "VRN_R_INSUFFICIENT_MEMORY_AVAILABLE",
         "There is insufficient memory available to complete the requested task."},
        {30004, "VRN_R_INSUFFICIENT_DISKSPACE_AVAILABLE",
         "There is insufficient disk space available to complete the requested task."},
        {30005, "VRN_R_RESOURCE_LEAK", "A resource leak has been detected."},
    };
    ASSERT_EQ(71u, sizeof rows / sizeof rows[0]);
    for (const Row& row : rows) {
        EXPECT_STREQ(row.name, vrnErrorCode_getName(row.code)) << row.code;
        EXPECT_STREQ(row.text, vrnErrorCode_getDescription(row.code)) << row.code;
    }
    // No code outside the table answers, whatever its class.
    size_t next = 0;
    for (int code = -5; code < 40000; ++code) {
        if (next < sizeof rows / sizeof rows[0] && rows[next].code == code) {
            ++next;
            continue;
        }
        if (vrnErrorCode_getName(code) || vrnErrorCode_getDescription(code)) {
            ADD_FAILURE() << "code " << code << " answers but is not a row of the table";
            break;
        }
    }
    EXPECT_EQ(nullptr, vrnErrorCode_getName(12345));
    EXPECT_EQ(nullptr, vrnErrorCode_getDescription(-1));
}

TEST(Error, MessagesAppendAndDescriptionsReplace) {
    vrnError* e = newError(VRN_U_ENVIRONMENT_VARIABLE_NOT_SET);
    EXPECT_EQ(nullptr, vrnError_getMessage(e));
    vrnError_addMessage(e, "a");
    vrnError_addMessage(e, "%s", "b");
    vrnError_addMessage(e, "%d%%", 5);
    EXPECT_STREQ("ab5%", vrnError_getMessage(e));
    EXPECT_STREQ("Requested command not found.", vrnError_getDescription(e));
    vrnError_addDescription(e, nullptr);
    EXPECT_STREQ("Requested command not found.", vrnError_getDescription(e));
    vrnError_addDescription(e, "x");
    EXPECT_STREQ("x", vrnError_getDescription(e));
    vrnError_addDescription(e, "y");
    EXPECT_STREQ("y", vrnError_getDescription(e));

    // A long message built from many small pieces keeps every piece.
    std::string expected;
    for (int i = 0; i < 5000; ++i) {
        vrnError_addMessage(e, "%d,", i);
        expected += std::to_string(i) + ",";
    }
    EXPECT_EQ("ab5%" + expected, vrnError_getMessage(e));
    vrnError_delete(e);
}

TEST(Error, CreationFillsTheFields) {
    vrnError* e = newError(VRN_W_INVALID_DATA_IGNORED);
    EXPECT_EQ(nullptr, e->program);
    ASSERT_NE(nullptr, e->date);
    ASSERT_NE(nullptr, e->time);
    EXPECT_EQ(0, e->displayed);
    EXPECT_EQ(vrnErrorManager_get(), e->manager);
    const int first = vrnError_getIdentity(e);  // 0 when this test runs alone
    EXPECT_GE(first, 0);
    EXPECT_EQ(first + 1, vrnError_getIdentity(newError(VRN_OK)));
    vrnApp_clearErrors();
    // Identities keep counting after a clear.
    EXPECT_EQ(first + 2, vrnError_getIdentity(newError(VRN_OK)));
    vrnApp_clearErrors();
}

TEST(ErrorCadPairs, AddedPairsComeBackInOrderPerDimension) {
    vrnError* e = newError(VRN_U_INVALID_TOPOLOGY);
    int* pairs = reinterpret_cast<int*>(0x1);
    EXPECT_EQ(0, vrnError_getCadPairs(e, 2, &pairs));
    EXPECT_EQ(nullptr, pairs);

    EXPECT_EQ(1, vrnError_addCadPair(e, 2, 1, 10));
    EXPECT_EQ(1, vrnError_addCadPair(e, 2, 1, 11));
    EXPECT_EQ(1, vrnError_addCadPair(e, 2, 3, 12));
    EXPECT_EQ(1, vrnError_addCadPair(e, 0, 4, 5));
    EXPECT_EQ(0, vrnError_addCadPair(e, 4, 4, 5));
    EXPECT_EQ(0, vrnError_addCadPair(e, -1, 4, 5));

    ASSERT_EQ(3, vrnError_getCadPairs(e, 2, &pairs));
    EXPECT_EQ((std::vector<int>{1, 10, 1, 11, 3, 12}), std::vector<int>(pairs, pairs + 6));
    vrnFree(pairs, "test");
    ASSERT_EQ(1, vrnError_getCadPairs(e, 0, &pairs));
    EXPECT_EQ(4, pairs[0]);
    EXPECT_EQ(5, pairs[1]);
    vrnFree(pairs, "test");

    // A dimension outside 0..3 answers 0 and leaves the output untouched.
    int* untouched = reinterpret_cast<int*>(0x1);
    EXPECT_EQ(0, vrnError_getCadPairs(e, 4, &untouched));
    EXPECT_EQ(0, vrnError_getCadPairs(e, -1, &untouched));
    EXPECT_EQ(0, vrnError_getCadPairs(e, INT32_MIN, &untouched));
    EXPECT_EQ(reinterpret_cast<int*>(0x1), untouched);
    vrnError_delete(e);
}

TEST(ErrorElements, PointsArePackedByNodeCount) {
    vrnError* e = newError(VRN_U_MESHING_ERROR);
    double* x = reinterpret_cast<double*>(0x1);
    double *y = x, *z = x;
    int *types = reinterpret_cast<int*>(0x1), *ids = types;
    EXPECT_EQ(0, vrnError_getElements(e, &x, &y, &z, &types, &ids));
    EXPECT_TRUE(!x && !y && !z && !types && !ids);

    const double bar[] = {0, 1, 2, 3, 4, 5};
    const double tri[] = {10, 11, 12, 13, 14, 15, 16, 17, 18};
    EXPECT_EQ(1, vrnError_addElement(e, VRN_ELEMENT_BAR_2, 7, bar));
    EXPECT_EQ(1, vrnError_addElement(e, VRN_ELEMENT_TRI_3, 8, tri));
    EXPECT_EQ(0, vrnError_addElement(e, 8, 9, tri));
    EXPECT_EQ(0, vrnError_addElement(e, -1, 9, tri));

    ASSERT_EQ(2, vrnError_getElements(e, &x, &y, &z, &types, &ids));
    EXPECT_EQ((std::vector<double>{0, 3, 10, 13, 16}), std::vector<double>(x, x + 5));
    EXPECT_EQ((std::vector<double>{1, 4, 11, 14, 17}), std::vector<double>(y, y + 5));
    EXPECT_EQ((std::vector<double>{2, 5, 12, 15, 18}), std::vector<double>(z, z + 5));
    EXPECT_EQ((std::vector<int>{1, 2}), std::vector<int>(types, types + 2));
    EXPECT_EQ((std::vector<int>{7, 8}), std::vector<int>(ids, ids + 2));
    // Room for eight nodes per element: writing there must be in bounds.
    x[15] = y[15] = z[15] = 0;
    for (void* p : {static_cast<void*>(x), static_cast<void*>(y), static_cast<void*>(z),
                    static_cast<void*>(types), static_cast<void*>(ids)})
        vrnFree(p, "test");
    vrnError_delete(e);
}

TEST(ErrorElements, NodeCountsByType) {
    const int expected[] = {1, 2, 3, 4, 4, 5, 6, 8};
    for (int t = 0; t < 8; ++t) EXPECT_EQ(expected[t], ElementTopology_getNoOfNodes(t));
    EXPECT_EQ(0, ElementTopology_getNoOfNodes(-1));
    EXPECT_EQ(0, ElementTopology_getNoOfNodes(8));
    EXPECT_EQ(0, ElementTopology_getNoOfNodes(INT32_MAX));
}
