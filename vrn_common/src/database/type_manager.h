/* The object type registry: the fixed table of the 21 persistent object
 * types. Each row binds a persistent id and a type name, both part of the
 * stored format and never changed, to the class's size, dump, restore and
 * delete routines. Objects carry their row number (type index). */
#ifndef VRN_DATABASE_TYPE_MANAGER_H
#define VRN_DATABASE_TYPE_MANAGER_H

#ifdef __cplusplus
extern "C" {
#endif

struct vrnObject;

/* Block size of the class's record (at least the object header). */
typedef int (*vrnTypeSizeFunction)(void);
/* Writes the object's fields at a flush. */
typedef void (*vrnTypeDumpFunction)(struct vrnObject* object);
/* Reads the fields back; with onlyIfChanged only those changed in the
 * states being applied. */
typedef void (*vrnTypeRestoreFunction)(struct vrnObject* object, int onlyIfChanged);
/* Frees the object and, unless a state change is destroying it, its owned
 * children. */
typedef void (*vrnTypeDestroyFunction)(struct vrnObject* object);

typedef struct vrnTypeRow {
    int id;
    const char* typeName;
    vrnTypeSizeFunction size;
    vrnTypeDumpFunction dump;       /* NULL: nothing to write at a flush */
    vrnTypeRestoreFunction restore; /* NULL: nothing to read */
    vrnTypeDestroyFunction destroy;
} vrnTypeRow;

#define VRN_TYPE_CAPACITY 31

typedef struct vrnTypeManager {
    int count;    /* 21 */
    int capacity; /* 31 */
    vrnTypeRow rows[VRN_TYPE_CAPACITY];
} vrnTypeManager;

/* The process-wide registry, built on first use. */
vrnTypeManager* vrnTypeManager_new(void);

int vrnTypeManager_getIndexOfId(int id);
int vrnTypeManager_getIdOfIndex(int index);
/* The stored name (not a copy), NULL outside the rows. */
const char* vrnTypeManager_getNameOfIndex(int index);
int vrnTypeManager_getIndexOfName(const char* name);
int vrnTypeManager_getIdOfName(const char* name);
/* The row's routines; NULL for an index outside the rows. */
vrnTypeSizeFunction vrnTypeManager_getSizeFunction(int index);
vrnTypeDumpFunction vrnTypeManager_getDumpFunction(int index);
vrnTypeRestoreFunction vrnTypeManager_getRestoreFunction(int index);
vrnTypeDestroyFunction vrnTypeManager_getDestroyFunction(int index);
/* New arrays (vrnFree; the names with vrnCStringArray_free) of copies of
 * every name and id, in row order. Returns the count. */
int vrnTypeManager_getKnownTypes(char*** names, int** ids);
/* A file's stored types against the registry: 0 an unknown name, an id
 * that differs or more types than known; 1 the same types; 2 the registry
 * knows types the file does not list. */
int vrnTypeManager_checkTypes(int count, char* const* names, const int* ids);

/* Installs a class's routines in its row (any NULL keeps the row's current
 * one). 0 for an index outside the rows. Classes call it when they are
 * linked in; until then a row stores only the object header. */
int vrnTypeManager_setRoutines(int index, vrnTypeSizeFunction size, vrnTypeDumpFunction dump,
                               vrnTypeRestoreFunction restore, vrnTypeDestroyFunction destroy);

#ifdef __cplusplus
}
#endif

#endif
