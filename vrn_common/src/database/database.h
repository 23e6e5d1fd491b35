/* Database: typed, versioned access to one model database file. Every value
 * is addressed by an object (its UUID; NULL means the file as a whole,
 * stored as "GLOBAL"), a key and a state number, and is stored as one
 * dataset named (key, UUID text or "GLOBAL", state).
 *
 * A read at state s sees the version with the largest When not above s; a
 * state at or below 0 reads exactly When = -state. Getters answer 0 when no
 * version is active, without recording an error. */
#ifndef VRN_DATABASE_DATABASE_H
#define VRN_DATABASE_DATABASE_H

#include "database/def_file.h"
#include "utilities/uuid.h"

#ifdef __cplusplus
extern "C" {
#endif

#define DATABASE_GLOBAL "GLOBAL"

typedef struct Database {
    vrnUUID* uuid;     /* made at each opening, never stored */
    char keyText[40];  /* Where of the current request */
    char* fileName;    /* the completed name */
    DefFile* file;
    int modified;      /* 1 once anything was written, erased or compacted */
} Database;

/* NULL (error published) for a blank name, a file that cannot be opened or
 * an existing file that is no model database. */
Database* Database_new(const char* fileName);
/* Closes the file (stamping "Date - modified" when something was written;
 * a database into which nothing was written is left as it was found): 1,
 * or 0 when a lock file or lock mutex of the model, or of a copy made
 * beside it, could not be removed, which is published (error 10046) naming
 * each. Database_delete then frees what is left. */
int Database_close(Database* db)
#if defined(__GNUC__)
    __attribute__((warn_unused_result))
#endif
    ;
/* Closes and frees; a database into which nothing was written is left as
 * it was found, as by Database_deleteUnchanged. */
void Database_delete(Database* db);
/* Deletes a database refused after its open, leaving the file as it was
 * found: no "Date - modified" stamp, and an index the open had to rebuild
 * is not stored. */
void Database_deleteUnchanged(Database* db);

/* name unchanged when it ends in ".vrn", ".vrn.bak", ".kwx" or ".kwx.bak",
 * else with ".vrn" appended (NULL: ".vrn"). New string. */
char* Database_buildFileName(const char* name);
int Database_fileExists(const char* name);
/* Publishes the refusal of an existing file that is no (longer a) model
 * database, error 10020 "... exists but is not a valid VRN database.",
 * in the name of function. */
void Database_refuseNotAModel(const char* function, const char* fileName);
const char* Database_getFileName(Database* db);
/* The When a read at state sees for key of keyText's object, or -1. */
int Database_findActiveWhen(Database* db, int state, const char* key);

int Database_getInteger(Database* db, int state, const vrnUUID* object, const char* key, int* value);
int Database_setInteger(Database* db, int state, const vrnUUID* object, const char* key, int value);
int Database_getIntegerArray(Database* db, int state, const vrnUUID* object, const char* key,
                             int** array, int* count);
int Database_getIntegerArrayInto(Database* db, int state, const vrnUUID* object, const char* key,
                                 int* array, int capacity);
int Database_setIntegerArray(Database* db, int state, const vrnUUID* object, const char* key,
                             const int* values, int count);
int Database_getFloatArray(Database* db, int state, const vrnUUID* object, const char* key,
                           float** array, int* count);
int Database_getDoubleArray(Database* db, int state, const vrnUUID* object, const char* key,
                            double** array, int* count);
int Database_setDoubleArray(Database* db, int state, const vrnUUID* object, const char* key,
                            const double* values, int count);
int Database_getCharArray(Database* db, int state, const vrnUUID* object, const char* key,
                          char** array, int* count);
int Database_getString(Database* db, int state, const vrnUUID* object, const char* key,
                       char** string);
int Database_setString(Database* db, int state, const vrnUUID* object, const char* key,
                       const char* string);
int Database_getStringArray(Database* db, int state, const vrnUUID* object, const char* key,
                            char*** array, int* count);
int Database_getStringArrayInto(Database* db, int state, const vrnUUID* object, const char* key,
                                char** array, int capacity);
int Database_setStringArray(Database* db, int state, const vrnUUID* object, const char* key,
                            char* const* strings, int count);
int Database_getUUID(Database* db, int state, const vrnUUID* object, const char* key,
                     vrnUUID** uuid);
int Database_setUUID(Database* db, int state, const vrnUUID* object, const char* key,
                     const vrnUUID* uuid);
int Database_getUUIDArray(Database* db, int state, const vrnUUID* object, const char* key,
                          vrnUUID*** array, int* count);
int Database_setUUIDArray(Database* db, int state, const vrnUUID* object, const char* key,
                          vrnUUID* const* uuids, int count);

int Database_readSignature(Database* db, int state, const vrnUUID* object, const char* key,
                           int* ints, int* floats, int* doubles, int* chars, int* fixedStrings,
                           int* strings, int* uuids);
/* Erases every dataset of the object. */
int Database_erase(Database* db, const vrnUUID* object);
/* Takes the write lock of the file before a group of writes: 1 when held
   (until the database closes), 0 when refused. */
int Database_lockForWriting(Database* db);
/* 0 when the file may not be written at all: it was opened for reading
 * only (the user may not write it), or its folder takes no new file (no
 * lock file can be made there); 1 otherwise. */
int Database_mayBeWritten(Database* db);
/* Erases every dataset with When above state; 0 when a search or an
 * erase failed. */
int Database_rollback(Database* db, int state);
/* The datasets with When in [from, to] (-1: open bound) whose Where and What
 * match the patterns, ordered by Where, What, When and grouped by Where:
 * recordCount records; uuids (one Where per record); starts (recordCount+1
 * indexes into keys/whens, the last one the total). The caller frees all
 * (starts also when there is no record). Returns 1, or 0 when a search
 * failed (no record handed out, the failure recorded in the file's
 * handle): a failed search never passes for one that found nothing. */
int Database_match(Database* db, int from, int to, const char* uuidPattern, const char* keyPattern,
                   int* recordCount, char*** uuids, int** starts, char*** keys, int** whens);
int Database_isParameterChanged(Database* db, int from, int to, const char* uuidText,
                                const char* key, int* changed);
int Database_purgeMarkedObjects(Database* db, int to, const char* keyPattern);
int Database_purgeModifiedData(Database* db, int state);
/* Reduces the file to the model a read at state sees, as state 1 (When 0
 * stays 0): the version of each key that is active at state, except those
 * of every object with a key named exactly markKey (a deletion mark; it
 * holds no pattern character) at a state in [0, state]; the "GLOBAL"
 * integers named in keys then take the
 * given values. It is built in a copy that replaces the file in one
 * rename, so that whenever the process dies the file holds either the
 * whole model as it was or the whole reduced one. */
int Database_keepOneState(Database* db, int state, const char* markKey, int count,
                          const char* const* keys, const int* values);
int Database_compact(Database* db);
void Database_writeVersion(Database* db);
int Database_timeStamp(Database* db, const vrnUUID* object, const char* key);

/* Frees what Database_match handed out. */
void Database_freeMatch(int recordCount, char** uuids, int* starts, char** keys, int* whens);

#ifdef __cplusplus
}
#endif

#endif
