/* ORV API: the command-language store.
 *
 * A handle holds one parsed ORV document: a tree of objects ("Type: Name"
 * blocks closed by END), singletons ("Type:" blocks) and parameters
 * ("name = value") under the root "/", every node also reachable by its full
 * path. Lines are fed through the line parser; the tree is then queried and
 * changed by path, and the client hears of changes through handler lists.
 *
 * Conventions of every call:
 * - Failure is reported by returning a message text; NULL means success.
 *   A message stays valid until the next error on the same handle or the
 *   handle's destruction. It is never freed by the caller.
 * - Texts handed out (values, paths) are new and freed with free(); string
 *   lists are NULL-closed arrays freed with orvFreeStringArray.
 * - No call throws and no call keeps a lock; a handle belongs to one thread
 *   at a time.
 */
#ifndef ORVAPI_H
#define ORVAPI_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct OrvHandle OrvHandle;
typedef struct OrvNode OrvNode;

/* ------------------------------------------------------------------------
 * Level flags (stored in every node a line creates or updates)
 * ---------------------------------------------------------------------- */
#define ORV_FLAG_HIDDEN  0x1u   /* hides an object and its subtree from getObjectsByTypeH */
#define ORV_FLAG_VALID1  0x100u /* first validity bit */
#define ORV_FLAG_REPLACE 0x200u /* block opened by "&replace", or inside one */
#define ORV_FLAG_VALID2  0x400u /* second validity bit */

/* Longest full path a document may create: a line whose path would be
 * longer is refused with "path longer than 4096 characters". Writers of
 * ORV text keep their paths within it so that the text reads back. */
#define ORV_MAX_PATH_LENGTH 4096

/* Node kinds. */
#define ORV_KIND_PARAM     1
#define ORV_KIND_OBJECT    2
#define ORV_KIND_SINGLETON 3

/* Change codes handed to change handlers. */
#define ORV_CHANGE_VALUE   0 /* value set, or parameter removed (new value NULL) */
#define ORV_CHANGE_CREATED 1
#define ORV_CHANGE_DELETED 2

/* ------------------------------------------------------------------------
 * Hash table: full path -> node (values are not owned)
 * ---------------------------------------------------------------------- */
typedef struct OrvHashEntry {
    char* key;                  /* owned copy; NULL marks the empty end of a chain */
    void* value;
    struct OrvHashEntry* next;
    uint32_t chainCount;        /* entries from this one to the end of the chain */
    uint32_t check;             /* a second hash of the key, compared before the key */
} OrvHashEntry;

typedef struct OrvHash {
    OrvHashEntry* buckets;      /* one head entry per bucket */
    uint32_t size;              /* number of buckets, a prime of the table scale */
    uint32_t (*hash)(uint32_t size, const char* key);
    uint32_t numEntries;
} OrvHash;

/* The path hash: bytes taken as signed chars, 32-bit wrapping arithmetic. */
uint32_t orvHashString(uint32_t size, const char* key);
/* The smallest table size not below the request, capped at the largest (with
 * a warning on standard error when the request is far above it). */
uint32_t orvHashTableSize(uint32_t requested);

OrvHash* orvHashCreate(uint32_t requestedSize);
int   orvHashInsert(OrvHash* table, const char* key, void* value);     /* 1 or 0 */
void* orvHashLookup(const OrvHash* table, const char* key);             /* value or NULL */
int   orvHashRemove(OrvHash* table, const char* key, void** valueOut);  /* 1, or 0 when absent */
int   orvHashReserve(OrvHash* table, uint32_t extraEntries);            /* 1, or 0 when a rebuild failed (table kept) */
void  orvHashDestroy(OrvHash* table);

/* ------------------------------------------------------------------------
 * Typed growable arrays
 * ---------------------------------------------------------------------- */
#define ORV_ARRAY_CHARS    0
#define ORV_ARRAY_STRINGS  1 /* owned texts */
#define ORV_ARRAY_INTS     2
#define ORV_ARRAY_POINTERS 3 /* owned blocks */

typedef struct OrvArray {
    int kind;
    int count;
    int capacity;
    size_t totalLength;  /* total length of the texts appended (kind 1) */
    void* storage;       /* zero-filled beyond count */
} OrvArray;

OrvArray* orvArrayCreate(int kind);
/* Empties array's storage (its elements are not freed), or makes a new array
 * when array is NULL. */
OrvArray* orvArrayInit(OrvArray* array, int kind);
int  orvArrayAppendString(OrvArray* array, char* text);       /* takes text (NULL allowed) */
int  orvArrayAppendCopy(OrvArray* array, const char* text);
int  orvArrayAppendPointer(OrvArray* array, void* block);     /* takes block */
int  orvArrayAppendChar(OrvArray* array, char c);             /* kind 0; storage stays NUL-terminated */
int  orvArrayAppendInt(OrvArray* array, int32_t value);       /* kind 2 */
void orvArrayDestroy(OrvArray* array);         /* frees owned elements too */
void orvArrayDestroyShallow(OrvArray* array);  /* storage and array only */
/* Kind 1: hands the storage (count texts, then a closing NULL) to the caller,
 * who frees it with orvFreeStringArrayN; the array is left empty and usable. */
char** orvArrayDetach(OrvArray* array);
/* Kind 1: a new array of copies of the count elements (NULL stays NULL). */
char** orvArrayCopyStrings(const OrvArray* array);
int    orvArrayCount(const OrvArray* array);
char** orvArrayStrings(const OrvArray* array);
/* Allocates a zeroed block recorded in the kind-3 array, so a group of
 * blocks goes with orvArrayDestroy (or stays with orvArrayDestroyShallow). */
void*  orvArenaAlloc(OrvArray* array, size_t size);

/* Splits text at commas outside parentheses, each item trimmed, appending
 * copies to array; *count receives the number of items appended. On failure
 * the array is left as it was. */
const char* splitString(OrvArray* array, const char* text, int* count);
/* Same, into a new NULL-closed array of copies (orvFreeStringArray). */
const char* splitStringString(const char* text, char*** items, int* count);

/* ------------------------------------------------------------------------
 * Handles, errors and loading
 * ---------------------------------------------------------------------- */
OrvHandle* orvCreateHandle(void);
int orvDestroyHandle(OrvHandle* handle);

/* Client data kept with the handle; destroy (if set) is called with it when
 * the handle is destroyed. */
void  orvSetUserDataH(OrvHandle* handle, void* userData, void (*destroy)(void* userData));
void* orvGetUserDataH(const OrvHandle* handle);

/* Formats "%s", "%d", "%c" and "%%"; '%' before any other character copies
 * both and consumes one int argument. Returns a new text (free()). */
char* orvFormatMessage(const char* format, ...);

const char* getORVStateH(OrvHandle* handle, int* depth);
/* Closes open blocks down to depth, popping one current path per level. */
const char* orvUnwindToStateH(OrvHandle* handle, int depth);

/* Feeds every line to the parser. lines is a kind-1 array. previousDigest and
 * digestOut are 16-byte buffers or NULL; with an equal previous digest the
 * flags get both validity bits. On error, open blocks are unwound. */
const char* parseORVData(OrvHandle* handle, const OrvArray* lines, uint32_t flags,
                         const unsigned char* previousDigest, unsigned char* digestOut);
const char* loadORVData(OrvHandle* handle, char** lines, int count,
                        const unsigned char* previousDigest, unsigned char* digestOut);
const char* loadORVDataH(OrvHandle* handle, char** lines, int count);

/* ------------------------------------------------------------------------
 * Line parser and name rules
 * ---------------------------------------------------------------------- */
const char* parseORVLineH(OrvHandle* handle, const char* line, uint32_t flags);

const char* orvCheckName(OrvHandle* handle, const char* label, const char* name);
const char* orvCheckParamName(OrvHandle* handle, const char* name);
const char* orvCheckParamValue(OrvHandle* handle, const char* value);
const char* orvCheckObjectType(OrvHandle* handle, const char* type);
const char* orvCheckObjectName(OrvHandle* handle, const char* name);

/* In place on a NUL-terminated buffer. */
void orvTrim(char* text);
void orvCollapseSpace(char* text);
void orvStripComment(char* text);

/* ------------------------------------------------------------------------
 * Object tree, paths and queries
 * ---------------------------------------------------------------------- */
/* Resolves path (full, or relative to the current path): "..", "." and
 * blanks around separators. Returns a new text (free()) or NULL. */
char* orvFullPath(OrvHandle* handle, const char* path);
void  orvNormalisePath(char* path);
/* Path of node below parentPath ("/" counts as empty). New text or NULL. */
char* makeChildPath(const char* parentPath, const OrvNode* node);
/* Parent of the resolved path; NULL when it has none. New text. */
char* orvParentPath(OrvHandle* handle, const char* path);
int   orvPathExistsH(OrvHandle* handle, const char* fullPath);

const char* pushPath(OrvHandle* handle, const char* path);
const char* popPath(OrvHandle* handle);
const char* orvPushPath(OrvHandle* handle, const char* fullPath);

/* Applies one parameter (kind 1, value) or object/singleton (kind 2/3) below
 * parent (NULL: the node of the current path). Returns the parent for a
 * parameter, the node for an object (which becomes current), NULL on failure. */
OrvNode* orvUpdateObject(OrvHandle* handle, OrvNode* parent, const char* type,
                         const char* name, const char* value, int kind, uint32_t flags);

const char* getObjectsByTypeH(OrvHandle* handle, const char* type, char*** paths);
const char* getPartialORVH(OrvHandle* handle, const char* match, int byType, const char* path,
                           OrvArray* result, uint32_t requireMask, uint32_t excludeMask);
const char* getStringValue(OrvHandle* handle, const char* name, char** value);
const char* getStringList(OrvHandle* handle, const char* name, char*** items, int* count);
const char* getChildObjectList(OrvHandle* handle, const char* path, int includeObjects,
                               int includeParams, int* count, char*** list);
const char* getChildObjectsH(OrvHandle* handle, const char* path, int* count, char*** list);
const char* getChildParamsH(OrvHandle* handle, const char* path, int* count, char*** list);

/* mode 1 sets the first validity bit, 2 the second, anything else clears. */
const char* setValid(OrvHandle* handle, const char* path, int mode, int propagate);
const char* setValidPropagateH(OrvHandle* handle, const char* path, int mode);
/* -1 unknown path, else bit 0 = first validity bit, bit 1 = second. */
int getValidH(OrvHandle* handle, const char* path);

const char* deleteParamH(OrvHandle* handle, const char* path);
const char* deleteObjH(OrvHandle* handle, const char* path);
const char* orvRemoveObjectH(OrvHandle* handle, const char* path);

void orvFreeStringArray(char** array);
void orvFreeStringArrayN(char** array, int count);

/* ------------------------------------------------------------------------
 * Handlers and action lines
 * ---------------------------------------------------------------------- */
typedef void (*OrvChangeCallback)(const char* path, int code, const char* newValue,
                                  const char* oldValue, void* userData);
typedef void (*OrvReplaceCallback)(const char* path, void* userData);
/* Returns non-zero for success. argv is {argument, NULL} or NULL. */
typedef int (*OrvActionCallback)(OrvHandle* handle, const char* action, char** argv,
                                 void* userData);

const char* orvAddChangeHandler(OrvHandle* handle, OrvChangeCallback callback, void* userData);
const char* orvAddReplaceHandler(OrvHandle* handle, OrvReplaceCallback callback, void* userData);
/* name NULL registers a default handler (the last one added wins). */
const char* orvAddActionHandler(OrvHandle* handle, OrvActionCallback callback, const char* name,
                                void* userData);

void orvNotifyChange(OrvHandle* handle, const char* path, int code, const char* newValue,
                     const char* oldValue);
void orvNotifyReplace(OrvHandle* handle, const char* path);

const char* orvRunActionLine(OrvHandle* handle, const char* line);
const char* orvInvokeAction(OrvHandle* handle, const char* action, char** argv);

/* Change handler that prints each event on standard output; its user data is
 * the handle. */
void orvDebugChangePrinter(const char* path, int code, const char* newValue,
                           const char* oldValue, void* userData);

#ifdef __cplusplus
}
#endif

#endif
