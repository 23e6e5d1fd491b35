/* Definition files: the model database's handle on one data file. It opens
 * the file as the IO library's primary file, offers one typed read or write
 * per kind of value addressed by What, Where and When, erases and finds
 * datasets, and compacts the file through a secondary file.
 *
 * A failed read, write, erase or close publishes nothing: the handle keeps
 * the last failure (what was asked, a code, a text and the IO library's
 * messages) for its owner. Opening failures (with reporting) and a blank
 * file name are published at once. */
#ifndef VRN_DATABASE_DEF_FILE_H
#define VRN_DATABASE_DEF_FILE_H

#include "database/dataset.h"
#include "kwxio.h"
#include "utilities/uuid.h"

#ifdef __cplusplus
extern "C" {
#endif

enum {
    DEFFILE_PRIMARY_OPEN = 1,
    DEFFILE_SECONDARY_OPEN = 2
};

typedef struct DefFile {
    char* primaryName;
    char* secondaryName;
    char* errorWhat;   /* What and Where of the last failure, NULL when it had none */
    char* errorWhere;
    int errorWhen;
    char* errorText;
    char* ioMessage;   /* the IO messages at the time of the last failure */
    int errorCode;
    int modified;      /* 1 after any write, successful erase or compaction */
    int openFlags;     /* DEFFILE_PRIMARY_OPEN | DEFFILE_SECONDARY_OPEN */
    IO_control* ioControl;
    Dataset* dataset;
    char* locksLeft;   /* lock files its closes could not remove, a line each; NULL while none */
} DefFile;

/* NULL (and a published error) for a blank name or a file that cannot be
 * opened as the primary file. */
DefFile* DefFile_new(const char* fileName);
/* The same; with report 0 a file that cannot be opened fails silently. */
DefFile* DefFile_newReporting(const char* fileName, int report);
/* Closes the files and frees the handle; a lock file left behind is
 * published (DefFile_reportLocksLeft). */
/* The same, a failure published as one of shownName: for a file made
 * under a temporary name that is to take shownName. */
DefFile* DefFile_newReportedAs(const char* fileName, const char* shownName);
void DefFile_delete(DefFile* file);
/* Deletes a handle whose files were only read, leaving them as they were
 * found: an index that an open had to rebuild in memory is dropped, not
 * stored. For a file refused after a look at its content. */
void DefFile_deleteUnchanged(DefFile* file);

int DefFile_openAsPrimaryFile(DefFile* file, const char* name, int report);
int DefFile_openAsSecondaryFile(DefFile* file, const char* name, int report);
int DefFile_closePrimaryFile(DefFile* file);
int DefFile_closeSecondaryFile(DefFile* file);
/* Closes both; 1 only when both closes succeed. A lock file or lock mutex
 * that a close (of either file) could not remove does not fail it: it is
 * kept in locksLeft until DefFile_reportLocksLeft (or the delete) says so. */
int DefFile_close(DefFile* file);
/* Publishes error 10046 naming each lock file and lock mutex that the
 * handle's closes could not remove since the last report: 1 when there was
 * any (the caller's close then failed), else 0. */
int DefFile_reportLocksLeft(DefFile* file)
#if defined(__GNUC__)
    __attribute__((warn_unused_result))
#endif
    ;

/* Readers and writers: 1 on success, 0 on failure (recorded). Allocating
 * readers hand out new arrays (vrnFree; string and UUID arrays with their
 * elements); readers into caller storage take its capacity. */
int DefFile_readInt(DefFile* file, const char* what, const char* where, int when, int* value);
int DefFile_writeInt(DefFile* file, const char* what, const char* where, int when, int value);
int DefFile_readInts(DefFile* file, const char* what, const char* where, int when, int** array,
                     int* count);
int DefFile_readIntArray(DefFile* file, const char* what, const char* where, int when, int* array,
                         int capacity);
int DefFile_writeIntArray(DefFile* file, const char* what, const char* where, int when,
                          const int* values, int count, int records);
int DefFile_readFloats(DefFile* file, const char* what, const char* where, int when, float** array,
                       int* count);
int DefFile_readDoubles(DefFile* file, const char* what, const char* where, int when,
                        double** array, int* count);
int DefFile_writeDoubleArray(DefFile* file, const char* what, const char* where, int when,
                             const double* values, int count, int records);
int DefFile_readChars(DefFile* file, const char* what, const char* where, int when, char** array,
                      int* count);
int DefFile_readString(DefFile* file, const char* what, const char* where, int when, char** string);
int DefFile_writeString(DefFile* file, const char* what, const char* where, int when,
                        const char* string);
int DefFile_readStrings(DefFile* file, const char* what, const char* where, int when,
                        char*** array, int* count);
int DefFile_readStringArray(DefFile* file, const char* what, const char* where, int when,
                            char** array, int capacity);
int DefFile_writeStringArray(DefFile* file, const char* what, const char* where, int when,
                             char* const* strings, int count);
int DefFile_readUUID(DefFile* file, const char* what, const char* where, int when, vrnUUID** uuid);
int DefFile_writeUUID(DefFile* file, const char* what, const char* where, int when,
                      const vrnUUID* uuid);
int DefFile_readUUIDs(DefFile* file, const char* what, const char* where, int when,
                      vrnUUID*** array, int* count);
int DefFile_writeUUIDArray(DefFile* file, const char* what, const char* where, int when,
                           vrnUUID* const* uuids, int count);
/* Takes the write lock of the primary file for the writes to come; 0 (with
   the failure recorded: code 10012 when another process has the file or no
   lock file can be named for it) when refused. */
int DefFile_lockForWriting(DefFile* file);
/* Erases the datasets of (what, where, when): with exact those of exactly
 * these names, else every dataset whose names match the patterns. */
int DefFile_erase(DefFile* file, const char* what, const char* where, int when, int exact);

/* The matches of (what, where, when), What and Where patterns, in *count;
 * unless countOnly three new parallel arrays (What and Where copies,
 * Whens). Returns 1, or 0 (the failure recorded, a count of 0) when the
 * search failed: nothing found and a search that could not be made are
 * never taken for one another. */
int DefFile_match(DefFile* file, const char* what, const char* where, int when, int countOnly,
                  int* count, char*** whats, char*** wheres, int** whens);
/* Rewrites the file through a temporary copy beside it (with compressWhen
 * every When above 0 becomes 1), which then replaces the file in one
 * rename: the name always holds a whole file. */
int DefFile_compact(DefFile* file, int compressWhen);
/* Writes into a compaction's copy before it takes the file's place: the
 * handle's writes go into the copy while it runs. 0 fails the compaction. */
typedef int (*DefFile_FillRoutine)(void* context);
/* Compacts with When compression as DefFile_compact (file, 1) does, the
 * copy receiving only the datasets that choose keeps
 * (Dataset_copyChosenDatasets), then whatever fill writes (fill may be
 * NULL). A failure leaves the file as it was. */
int DefFile_compactChosen(DefFile* file, Dataset_ChooseRoutine choose, DefFile_FillRoutine fill,
                          void* context);
/* A new name "<prefix>.<UUID text>.tmp" in the folder of path (same file
 * system, so that a rename can put it in place); the caller frees it. */
char* DefFile_temporaryNameBeside(const char* path, const char* prefix);
int DefFile_readSignature(DefFile* file, const char* what, const char* where, int when, int* ints,
                          int* floats, int* doubles, int* chars, int* fixedStrings, int* strings,
                          int* uuids);
/* Records a failure (what NULL: one with no dataset name). */
void DefFile_setError(DefFile* file, const char* what, const char* where, int when, int code,
                      const char* text);

#ifdef __cplusplus
}
#endif

#endif
