/* Error objects. A routine that fails creates a vrnError with a code of the
 * table below, its own name, source file and line, adds message text and
 * publishes it to the error manager, then returns 0:
 *
 *     vrnError* e = vrnError_new(VRN_U_INVALID_INPUT, "Thing_read", __FILE__, __LINE__);
 *     vrnError_addMessage(e, "Bad count \"%s\".\n", text);
 *     vrnError_publish(e);   // e must not be touched afterwards
 *     return 0;
 *
 * The manager keeps published errors until the host fetches them with
 * vrnApp_getErrors and discards them with vrnApp_clearErrors. */
#ifndef VRN_ERRORS_ERROR_H
#define VRN_ERRORS_ERROR_H

#ifdef __cplusplus
extern "C" {
#endif

/* The error-code table. The class follows from the code: 0 no error, 1 to
 * 10000 warning, 10001 to 20000 user error, 20001 to 30000 internal error,
 * above 30000 resource error. */
enum {
    VRN_OK = 0,
    VRN_W_USER_DEFINED = 1,
    VRN_W_INFORMATION = 2,
    VRN_W_INVALID_INPUT_IGNORED = 3,
    VRN_W_INVALID_DATA_IGNORED = 4,
    VRN_W_INVALID_RESULT_IGNORED = 5,
    VRN_W_MESHING_WARNING = 6,
    VRN_U_USER_DEFINED = 10001,
    VRN_U_BAD_HANDLE = 10002,
    VRN_U_UNABLE_TO_OPEN_DATABASE = 10003,
    VRN_U_UNABLE_TO_CLOSE_DATABASE = 10004,
    VRN_U_UNABLE_TO_COPY_DATABASE = 10005,
    VRN_U_UNABLE_TO_COMPACT_DATABASE = 10006,
    VRN_U_UNABLE_TO_UPGRADE_DATABASE = 10007,
    VRN_U_UNABLE_TO_OVERWRITE_DATABASE = 10008,
    VRN_U_UNABLE_TO_READ_DATASET = 10009,
    VRN_U_UNABLE_TO_WRITE_DATASET = 10010,
    VRN_U_UNABLE_TO_DELETE_DATASET = 10011,
    VRN_U_DATABASE_IS_LOCKED = 10012,
    VRN_U_INVALID_LENGTH_UNITS = 10013,
    VRN_U_INVALID_ANGLE_UNITS = 10014,
    VRN_U_ZERO_LENGTH_VECTOR = 10015,
    VRN_U_SINGULAR_MATRIX = 10016,
    VRN_U_INVALID_PORT_NUMBER = 10017,
    VRN_U_COMMAND_NOT_FOUND = 10018,
    VRN_U_ENVIRONMENT_VARIABLE_NOT_SET = 10019,
    VRN_U_INVALID_INPUT = 10020,
    VRN_U_INVALID_DATA = 10021,
    VRN_U_INVALID_RESULT = 10022,
    VRN_U_MISSING_DATA = 10023,
    VRN_U_ID_ALREADY_IN_USE = 10024,
    VRN_U_UNABLE_TO_IDENTIFY_OBJECT = 10025,
    VRN_U_FILE_DOES_NOT_EXIST = 10026,
    VRN_U_FILE_ALREADY_EXISTS = 10027,
    VRN_U_DIRECTORY_DOES_NOT_EXIST = 10028,
    VRN_U_DIRECTORY_ALREADY_EXISTS = 10029,
    VRN_U_UNABLE_TO_MODIFY_NAME = 10030,
    VRN_U_UNABLE_TO_OPEN_FILE = 10031,
    VRN_U_UNABLE_TO_IMPORT_MESH = 10032,
    VRN_U_UNABLE_TO_EXPORT_MESH = 10033,
    VRN_U_UNEXPECTED_END_OF_FILE = 10034,
    VRN_U_INVALID_FILE_FORMAT = 10035,
    VRN_U_NOT_A_PRIMITIVE_REGION = 10036,
    VRN_U_NOT_AN_ASSEMBLY = 10037,
    VRN_U_EMPTY_LOCATION = 10038,
    VRN_U_UNRECOGNISED_NAME = 10039,
    VRN_U_UNRESOLVED_NAME = 10040,
    VRN_U_INVALID_ORV = 10041,
    VRN_U_INVALID_TOPOLOGY = 10042,
    VRN_U_INVALID_CHECKPOINT = 10043,
    VRN_U_MESHING_ERROR = 10044,
    VRN_U_UNABLE_TO_SPAWN_PROCESS = 10045,
    VRN_U_UNABLE_TO_DELETE_FILE = 10046,
    VRN_U_UNABLE_TO_DELETE_DIRECTORY = 10047,
    VRN_U_CHILD_PROCESS_CRASHED = 10048,
    VRN_U_UNABLE_TO_IMPORT_GEOMETRY = 10049,
    VRN_I_USER_DEFINED = 20001,
    VRN_I_FAILED_ASSERTION = 20002,
    VRN_I_NOT_IMPLEMENTED_YET = 20003,
    VRN_I_UNRECOGNISED_ERROR_CODE = 20004,
    VRN_I_ALGORITHMIC_FAILURE = 20005,
    VRN_I_INTERNAL_ERROR = 20006,
    VRN_I_MISSING_SINGLETON = 20007,
    VRN_I_MULTIPLE_SINGLETON = 20008,
    VRN_I_NO_UNIT_DEFINITIONS = 20009,
    VRN_I_MESHING_INTERNAL_ERROR = 20010,
    VRN_R_USER_DEFINED = 30001,
    VRN_R_INSUFFICIENT_MEMORY_SUPPLIED = 30002,
    VRN_R_INSUFFICIENT_MEMORY_AVAILABLE = 30003,
    VRN_R_INSUFFICIENT_DISKSPACE_AVAILABLE = 30004,
    VRN_R_RESOURCE_LEAK = 30005
};

/* Error classes (vrnError_getClass). */
enum {
    VRN_CLASS_OK = 0,
    VRN_CLASS_WARNING = 1,
    VRN_CLASS_USER_ERROR = 2,
    VRN_CLASS_INTERNAL_ERROR = 3,
    VRN_CLASS_RESOURCE_ERROR = 4
};

/* Mesh element types, indexed by type number. */
enum {
    VRN_ELEMENT_NODE = 0,
    VRN_ELEMENT_BAR_2 = 1,
    VRN_ELEMENT_TRI_3 = 2,
    VRN_ELEMENT_QUAD_4 = 3,
    VRN_ELEMENT_TETRA_4 = 4,
    VRN_ELEMENT_PYRA_5 = 5,
    VRN_ELEMENT_PENTA_6 = 6,
    VRN_ELEMENT_HEXA_8 = 7
};

typedef struct vrnErrorManager vrnErrorManager;

/* A pair of CAD entity ids: id1 the body or domain, id2 the entity. */
typedef struct CadPair {
    int id1;
    int id2;
    struct CadPair* next;
} CadPair;

/* A mesh element attached to an error: x, y, z of up to eight nodes. */
typedef struct ErrorElement {
    double nodes[8][3];
    int type;
    int id;
    struct ErrorElement* next;
} ErrorElement;

/* Strings are owned by the error and may be NULL. Read them through the
 * getters; the fields are public for the displays. */
typedef struct vrnError {
    int code;             /* always a code of the table */
    char* message;        /* accumulated text, NULL until text is added */
    char* program;
    char* function;
    char* context;        /* nothing sets it; shown when present */
    char* sourceFile;
    char* description;    /* custom description; NULL: the table's text */
    int line;
    int displayed;        /* 1 once shown on the displays */
    char* date;
    char* time;
    int fatal;            /* 1 for internal errors */
    CadPair* cadPairs[4]; /* per dimension 0..3, newest first */
    ErrorElement* elements; /* in the order they were added */
    vrnErrorManager* manager;
    int identity;         /* 0, 1, 2, ... in creation order per process */
    /* private: length and room of message, so that appending stays linear */
    int messageLength;
    int messageCapacity;
    ErrorElement* lastElement;
} vrnError;

vrnError* vrnError_new(int code, const char* function, const char* sourceFile, int line);
/* Appends the formatted text to the message. */
void vrnError_addMessage(vrnError* error, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
/* Replaces the description with a copy of text; NULL does nothing. */
void vrnError_addDescription(vrnError* error, const char* text);
/* The message itself (not a copy), or NULL. */
const char* vrnError_getMessage(const vrnError* error);
/* The custom description, else the table's text of the code. */
const char* vrnError_getDescription(const vrnError* error);
int vrnError_getClass(const vrnError* error);
int vrnError_getIdentity(const vrnError* error);
/* Shows the error on the displays when its class level asks for it, then
 * gives it to the manager's handler, which may delete it: the caller must
 * not touch the error afterwards. */
void vrnError_publish(vrnError* error);
/* Shows the error on every display whatever its class level. */
void vrnError_display(vrnError* error);
/* Shows the error unless already shown and ends the process (status 1). */
void vrnError_die(vrnError* error)
#if defined(__GNUC__)
    __attribute__((noreturn))
#endif
    ;
/* Frees the error and takes it out of its manager's list. */
void vrnError_delete(vrnError* error);

/* Attaches a CAD pair of dimension 0..3; 0 for another dimension. */
int vrnError_addCadPair(vrnError* error, int dimension, int id1, int id2);
/* Attaches a mesh element; nodes holds x, y, z of the type's node count.
 * 0 for a type outside 0..7. */
int vrnError_addElement(vrnError* error, int type, int id, const double* nodes);
/* The pairs of one dimension as a new array (vrnFree) of 2n ints, id1 then
 * id2 of each, in the order they were added. A dimension outside 0..3
 * returns 0 and leaves *pairs untouched; no pairs give 0 and NULL. */
int vrnError_getCadPairs(const vrnError* error, int dimension, int** pairs);
/* The elements as new arrays (vrnFree): x, y, z with room for eight nodes per
 * element, filled packed; types and ids one entry per element. No elements
 * give 0 and five NULLs. */
int vrnError_getElements(const vrnError* error, double** x, double** y, double** z, int** types,
                         int** ids);

/* The row's name or text (constant strings), NULL for an unknown code. */
const char* vrnErrorCode_getName(int code);
const char* vrnErrorCode_getDescription(int code);
/* Node count of an element type; 0 for a type outside 0..7. */
int ElementTopology_getNoOfNodes(int type);

#ifdef __cplusplus
}
#endif

#endif
