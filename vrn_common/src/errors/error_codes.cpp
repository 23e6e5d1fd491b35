// The error-code table: code, name and text of every error the library can
// raise. Searched from the first row to the last.
#include "errors/error.h"

namespace {

struct Row {
    int code;
    const char* name;
    const char* text;
};

constexpr Row kRows[] = {
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
    {10008, "VRN_U_UNABLE_TO_OVERWRITE_DATABASE", "Unable to overwrite the requested database."},
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
    {20010, "VRN_I_MESHING_INTERNAL_ERROR", "An internal error message from a meshing sub-process."},
    {30001, "VRN_R_USER_DEFINED", "A user defined resource error has been generated."},
    {30002, "VRN_R_INSUFFICIENT_MEMORY_SUPPLIED",
     "Insufficient memory has been supplied to complete the requested task."},
    {30003, "VRN_R_INSUFFICIENT_MEMORY_AVAILABLE",
     "There is insufficient memory available to complete the requested task."},
    {30004, "VRN_R_INSUFFICIENT_DISKSPACE_AVAILABLE",
     "There is insufficient disk space available to complete the requested task."},
    {30005, "VRN_R_RESOURCE_LEAK", "A resource leak has been detected."},
};

const Row* find(int code) {
    for (const Row& row : kRows) {
        if (row.code == code) return &row;
    }
    return nullptr;
}

// Node counts by element type.
constexpr int kNodes[8] = {1, 2, 3, 4, 4, 5, 6, 8};

}  // namespace

extern "C" {

const char* vrnErrorCode_getName(int code) {
    const Row* row = find(code);
    return row ? row->name : nullptr;
}

const char* vrnErrorCode_getDescription(int code) {
    const Row* row = find(code);
    return row ? row->text : nullptr;
}

int ElementTopology_getNoOfNodes(int type) {
    return type >= 0 && type < 8 ? kNodes[type] : 0;
}

}  // extern "C"
