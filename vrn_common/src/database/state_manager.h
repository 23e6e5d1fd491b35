/* The state manager: turns the versioned database into an object database
 * with undo and redo. It keeps the live objects of one open database,
 * numbers the states (each a group of changes that undo and redo treat as
 * one step), sends every field write to the open state and every read to
 * the current one, and on undo or redo destroys, re-creates and re-reads
 * objects so that memory matches the stored model at the new state.
 *
 * current is negative (-n) while state n is open for writing; the first
 * write after a closed state opens the next one and discards any redo
 * states above it. */
#ifndef VRN_DATABASE_STATE_MANAGER_H
#define VRN_DATABASE_STATE_MANAGER_H

#include "database/database.h"
#include "database/object.h"
#include "support/dictionary.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct vrnStateManager {
    int first;             /* lowest state undo may reach */
    int current;           /* negative while that state is open */
    int last;              /* highest state redo may reach; negative while open */
    Dictionary* objects;   /* UUID text -> live object */
    int applyFrom, applyTo;
    int applying;          /* 1 while a state change restores objects */
    Dictionary* modified;  /* UUID text -> object to dump at the next flush */
    Database* database;
    void* repository;      /* whose checkpoints follow the states */
    vrnObject* destroying; /* object whose destroy routine runs */
    int changing;          /* tested for 1; nothing sets it */
    int quiet;             /* 1: a state change does not store "State - current" */
} vrnStateManager;

/* Drops the repository's checkpoints above state when redo states are
 * discarded. The repository registers it. */
typedef void (*vrnStateManager_TruncateRoutine)(void* repository, int state);

vrnStateManager* vrnStateManager_new(void);
/* Closes an open database (purge mode -1), frees the manager and, when it
 * is the process-wide one, forgets it. */
void vrnStateManager_delete(vrnStateManager* manager);
/* The process-wide manager: that of the latest repository; when none has
 * been made, the one of a "_changes" repository made in the working folder
 * (a manager without a database when that fails); NULL once the process has begun to end (its exit handler then
 * closed the database, keeping every state, and freed it). */
vrnStateManager* vrnStateManager_get(void);
/* Makes manager the process-wide one; returns the previous one. */
vrnStateManager* vrnStateManager_setGlobal(vrnStateManager* manager);
vrnStateManager_TruncateRoutine vrnStateManager_setTruncateRoutine(
    vrnStateManager_TruncateRoutine routine);

/* Opens the repository that a first use without one needs, its manager
 * becoming the process-wide one. The model level registers it; without it
 * a first use gets a manager without a database. */
typedef void (*vrnStateManager_FirstUseRoutine)(void);
vrnStateManager_FirstUseRoutine vrnStateManager_setFirstUseRoutine(
    vrnStateManager_FirstUseRoutine routine);

int vrnStateManager_newState(vrnStateManager* manager);
/* Flushes and closes the open state; the current state, or -1 (and a
 * published error) when some write of the state did not reach the file. */
int vrnStateManager_closeState(vrnStateManager* manager);
int vrnStateManager_flushCache(vrnStateManager* manager);
/* Records that a dump routine could not store what changed in key of the
 * object (text says why): the state is opened as by a write, and its close
 * fails as when a write did not reach the file. */
void vrnStateManager_noteFailedDump(vrnStateManager* manager, const vrnUUID* uuid, const char* key,
                                    const char* text);
void vrnStateManager_markModified(vrnStateManager* manager, vrnObject* object);
vrnObject* vrnStateManager_createObject(vrnStateManager* manager, const char* typeName);
void vrnStateManager_deleteObject(vrnStateManager* manager, vrnObject* object);
/* Undo (n < 0) or redo (n > 0) relative to the current state, or to state n
 * when relative is 0. 1 done, 0 refused: out of bounds, or a change that
 * could not be stored (published), memory then left at the stored state.
 * A model that may not be written at all is browsed in memory. */
int vrnStateManager_changeState(vrnStateManager* manager, int relative, int n);
/* 1 for an object deleted whose block is kept until the holders of
 * references to it have let go (the next flush or state change of its
 * manager); deleting or destroying it again does nothing. */
int vrnStateManager_isDeletedObject(const vrnObject* object);
vrnObject* vrnStateManager_pointerFromUUIDString(vrnStateManager* manager, const char* text);
vrnObject* vrnStateManager_pointerFromUUID(vrnStateManager* manager, const vrnUUID* uuid);
int vrnStateManager_getTypeOfUUIDString(vrnStateManager* manager, const char* text);
int vrnStateManager_isParameterChanged(vrnStateManager* manager, const vrnUUID* uuid,
                                       const char* key, int* changed);
int vrnStateManager_getObjectsByTypeID(vrnStateManager* manager, int id, int* count,
                                       vrnObject*** objects);
int vrnStateManager_getObjectsByTypeName(vrnStateManager* manager, const char* typeName,
                                         int* count, vrnObject*** objects);
vrnObject* vrnStateManager_getSingletonByTypeName(vrnStateManager* manager, const char* typeName);
int vrnStateManager_isNotDestroying(vrnStateManager* manager);
int vrnStateManager_isChanging(vrnStateManager* manager);
void vrnStateManager_setRepository(vrnStateManager* manager, void* repository);
int vrnStateManager_recordTypes(vrnStateManager* manager);
int vrnStateManager_checkTypes(vrnStateManager* manager);
/* Opens the model at its stored current state. A state that was still
 * open when a writer died is dropped whole, with anything stored above the
 * last state, so that only closed states are reached. */
int vrnStateManager_openDatabase(vrnStateManager* manager, const char* fileName);
/* mode -1 keeps everything, 1 reduces the file to one state, any other
 * value compacts it. 0 when a state still open could not be stored. */
int vrnStateManager_closeDatabase(vrnStateManager* manager, int mode);
/* Gives up the open database without writing anything (not even an index
 * its open rebuilt): for a file found unfit after it opened. Live objects
 * go without a trace and the lock is released. */
void vrnStateManager_releaseDatabase(vrnStateManager* manager);
int vrnStateManager_purge(vrnStateManager* manager, int mode);

int vrnStateManager_writeInt(vrnStateManager* m, const vrnUUID* uuid, const char* key, int value);
int vrnStateManager_writeInts(vrnStateManager* m, const vrnUUID* uuid, const char* key,
                              const int* values, int count);
int vrnStateManager_writeDoubles(vrnStateManager* m, const vrnUUID* uuid, const char* key,
                                 const double* values, int count);
int vrnStateManager_writeString(vrnStateManager* m, const vrnUUID* uuid, const char* key,
                                const char* string);
int vrnStateManager_writeStrings(vrnStateManager* m, const vrnUUID* uuid, const char* key,
                                 char* const* strings, int count);
int vrnStateManager_writeUUID(vrnStateManager* m, const vrnUUID* uuid, const char* key,
                              const vrnUUID* value);
int vrnStateManager_writeUUIDs(vrnStateManager* m, const vrnUUID* uuid, const char* key,
                               vrnUUID* const* values, int count);

int vrnStateManager_readInt(vrnStateManager* m, const vrnUUID* uuid, const char* key, int* value);
int vrnStateManager_readInts(vrnStateManager* m, const vrnUUID* uuid, const char* key, int** array,
                             int* count);
int vrnStateManager_readIntArray(vrnStateManager* m, const vrnUUID* uuid, const char* key,
                                 int* array, int capacity);
int vrnStateManager_readFloats(vrnStateManager* m, const vrnUUID* uuid, const char* key,
                               float** array, int* count);
int vrnStateManager_readDoubles(vrnStateManager* m, const vrnUUID* uuid, const char* key,
                                double** array, int* count);
int vrnStateManager_readChars(vrnStateManager* m, const vrnUUID* uuid, const char* key,
                              char** array, int* count);
int vrnStateManager_readString(vrnStateManager* m, const vrnUUID* uuid, const char* key,
                               char** string);
int vrnStateManager_readStrings(vrnStateManager* m, const vrnUUID* uuid, const char* key,
                                char*** array, int* count);
int vrnStateManager_readStringArray(vrnStateManager* m, const vrnUUID* uuid, const char* key,
                                    char** array, int capacity);
int vrnStateManager_readUUID(vrnStateManager* m, const vrnUUID* uuid, const char* key,
                             vrnUUID** value);
int vrnStateManager_readUUIDs(vrnStateManager* m, const vrnUUID* uuid, const char* key,
                              vrnUUID*** array, int* count);
int vrnStateManager_readSignature(vrnStateManager* m, const vrnUUID* uuid, const char* key,
                                  int* ints, int* floats, int* doubles, int* chars, int* strings,
                                  int* uuids);

#ifdef __cplusplus
}
#endif

#endif
