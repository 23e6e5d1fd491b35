/* Persistent objects: the common header of every persistent class and its
 * field-access layer. A class's dump routine writes its fields with the
 * setters here, its restore routine reads them back with the getters. Every
 * call goes to the process-wide state manager: setters write at the open
 * state (opening one if needed), getters read at the current state.
 *
 * Getters take onlyIfChanged: with 1 they read only when the key changed in
 * the states being applied by an undo or redo, and otherwise return 1 and
 * leave their outputs untouched. Stored forms:
 *   reference        the target's UUID text ("__NULL_UUID__" for none)
 *   references, Set, HashSet   a UUID array in iteration order
 *   transform under K          K " - A" (9 doubles), K " - v" (3 doubles),
 *                              K " - units" (string) */
#ifndef VRN_DATABASE_OBJECT_H
#define VRN_DATABASE_OBJECT_H

#include "utilities/uuid.h"

#ifdef __cplusplus
extern "C" {
#endif

struct Set;
struct HashSet;
struct vrnAffineTransform3D;

/* The first two fields of every persistent class. */
typedef struct vrnObject {
    vrnUUID* uuid;
    int typeIndex;
} vrnObject;

/* A zeroed block of the registry size of typeIndex holding uuid (owned from
 * now on; NULL: a new one). */
vrnObject* vrnObject_createMemory(vrnUUID* uuid, int typeIndex);
void vrnObject_destroyMemory(vrnObject* object);
vrnObject* vrnObject_new(const char* typeName);
void vrnObject_delete(vrnObject* object);
void vrnObject_markModified(vrnObject* object);
void vrnObject_dump(vrnObject* object);
void vrnObject_restore(vrnObject* object, int onlyIfChanged);
void vrnObject_destroy(vrnObject* object);
int vrnObject_getPersistentTypeID(const vrnObject* object);
const char* vrnObject_getTypeName(const vrnObject* object);
/* Writes the UUID text (buffer of VRN_UUID_STRING_SIZE) and returns 1; a
 * NULL object writes "<UNKNOWN>" and returns 0. */
int vrnObject_getUUIDString(const vrnObject* object, char* buffer);
int vrnObject_isNotBeingDestroyed(const vrnObject* object);
int vrnObject_isManagerMode(const vrnObject* object);

int vrnObject_setInt(vrnObject* object, const char* key, int value);
int vrnObject_setInts(vrnObject* object, const char* key, const int* values, int count);
int vrnObject_setDoubles(vrnObject* object, const char* key, const double* values, int count);
int vrnObject_setString(vrnObject* object, const char* key, const char* string);
int vrnObject_setStrings(vrnObject* object, const char* key, char* const* strings, int count);
int vrnObject_setPointer(vrnObject* object, const char* key, const vrnObject* target);
/* 0 when an entry is NULL. */
int vrnObject_setPointers(vrnObject* object, const char* key, vrnObject* const* objects, int count);
int vrnObject_setSet(vrnObject* object, const char* key, const struct Set* set);
int vrnObject_setHashSet(vrnObject* object, const char* key, const struct HashSet* set);

int vrnObject_shouldRead(vrnObject* object, int onlyIfChanged, const char* key);
int vrnObject_getInt(vrnObject* object, int onlyIfChanged, const char* key, int* value);
int vrnObject_getInts(vrnObject* object, int onlyIfChanged, const char* key, int** array, int* count);
int vrnObject_getIntArray(vrnObject* object, int onlyIfChanged, const char* key, int* array,
                          int capacity);
int vrnObject_getFloats(vrnObject* object, int onlyIfChanged, const char* key, float** array,
                        int* count);
int vrnObject_getDoubles(vrnObject* object, int onlyIfChanged, const char* key, double** array,
                         int* count);
int vrnObject_getChars(vrnObject* object, int onlyIfChanged, const char* key, char** array,
                       int* count);
int vrnObject_getString(vrnObject* object, int onlyIfChanged, const char* key, char** string);
int vrnObject_getStrings(vrnObject* object, int onlyIfChanged, const char* key, char*** array,
                         int* count);
int vrnObject_getStringArray(vrnObject* object, int onlyIfChanged, const char* key, char** array,
                             int capacity);
int vrnObject_getPointer(vrnObject* object, int onlyIfChanged, const char* key, vrnObject** target);
int vrnObject_getPointers(vrnObject* object, int onlyIfChanged, const char* key,
                          vrnObject*** array, int* count);
/* Fills the caller's array only when exactly `expected` references are
 * stored. */
int vrnObject_getPointerArray(vrnObject* object, int onlyIfChanged, const char* key,
                              vrnObject** array, int expected);
/* Replace *set by a new Set / HashSet of the stored references. Return 1. */
int vrnObject_getSet(vrnObject* object, int onlyIfChanged, const char* key, struct Set** set);
int vrnObject_getHashSet(vrnObject* object, int onlyIfChanged, const char* key,
                         struct HashSet** set);
/* Replaces *transform (deleted first) by the stored one, NULL when the
 * three keys are not all there (or, with onlyIfChanged, unchanged). A
 * stored array shorter than 9 (matrix) or 3 (vector) fails (0, NULL).
 * Stored units that the current mode does not know report error 10013 and
 * keep every stored value, the units text included. */
int vrnObject_getAffineTransform3D(vrnObject* object, int onlyIfChanged, const char* key,
                                   struct vrnAffineTransform3D** transform);
int vrnObject_hasAffineTransform3D(vrnObject* object, int onlyIfChanged, const char* key);
int vrnObject_getSignature(vrnObject* object, const char* key, int* ints, int* floats,
                           int* doubles, int* chars, int* strings, int* uuids);
int vrnObject_isParameterChanged(vrnObject* object, const char* key);

#ifdef __cplusplus
}
#endif

#endif
