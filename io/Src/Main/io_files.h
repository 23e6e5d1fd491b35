/* Internal interface of the data-file IO library: opening, closing and
 * locking files, dataset location, deletion and copy. Not for callers of
 * iocntc. */
#ifndef KWXIO_FILES_H
#define KWXIO_FILES_H

#include "io_internal.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Open, close and locks (open_close.cpp, lock.cpp) ------------------ */

/* Opens the record's file with access 'r', 'w', 'a' or 'd' (first character
 * of access) under the lock file "<name>.lck". 0, 1, 21 or 28. */
KWX_MUST_USE
int iif_open(IO_file *record, const char *name, const char *access);
/* iif_open, then the start checks and index loading of a data file. */
KWX_MUST_USE
int iif_open_data(IO_file *record, const char *name, const char *access);
/* iif_open for a plain text file. */
KWX_MUST_USE
int iif_open_text(IO_file *record, const char *name, const char *access);
/* Start checks and index loading of an opened data file. */
KWX_MUST_USE
int openfile(IO_file *record);
/* Writes the start of a new, empty data file. */
KWX_MUST_USE
int iif_create_empty(IO_file *record);
/* level > 0 write lock, 0 read lock, < 0 unlock. An unlock always leaves
 * the record unlocked; it answers 21 when the lock file, or its mutex,
 * could not be removed (or this handle's share taken out of it): each is
 * reported and kept for kwxIoTakeLocksLeft. */
KWX_MUST_USE
int iif_set_lock(IO_file *record, int level);
/* The lock files and lock mutexes that unlocks (closes) could not remove
 * since the last call, one line each, "<name> (<reason>)": a new malloc'ed
 * string the caller frees, NULL when there were none. */
char *kwxIoTakeLocksLeft(void);
/* Called before every write: 0 when the record may write (it then holds
 * the write lock), 6 for a read-only file, 21 when others hold the file or
 * the name leaves no room for a lock file. Where the lock file or its mutex
 * cannot be made the write lock is refused too, saying why: 6 without
 * permission, 4 without room in the folder, 11 otherwise. */
KWX_MUST_USE
int setfilebusyflag(IO_error_routine routine, IO_file *record);
/* The write lock for a reader that is the file's only user, without
 * messages; 0 when the record now holds it. */
KWX_MUST_USE
int kwxIoTryWriteLock(IO_file *record);
/* Writes the index and the file size when the index changed and the record
 * holds (or can take) the write lock; flushes the stream. */
KWX_MUST_USE
int iif_flush(IO_file *record);
/* Close a data file (flushing its index) or a text file, release the lock
 * and the record. 0, or 7 when the index could not be written or the
 * stream could not be closed, else 21 when the lock file or its mutex
 * could not be removed (the clean-up is done either way). */
KWX_MUST_USE
int iif_close(IO_file *record);
KWX_MUST_USE
int iif_close_text(IO_file *record);
FILE *iif_get_stream(IO_file *record);

/* How long a lock waits for the lock mutex of another process: tries
 * sleeps of step_ms milliseconds (5000 ms and 12 tries by default). */
void kwxIoSetLockWait(int step_ms, int tries);

/* ---- Location (locate.cpp) ---------------------------------------------- */

/* Sorts the record's index table by WHAT (no work when it already is). */
int kwxIndexSortWhat(IO_error_routine routine, IO_file *record);

/* ---- Deletion (delete.cpp) ---------------------------------------------- */

/* Deletes the datasets that header names, as patterns or, with exact not 0,
 * as plain names. */
KWX_MUST_USE
int delete_ds(IO_error_routine routine, IO_header *header, IO_file *record, int exact);
KWX_MUST_USE
int delete_ds_entry(IO_error_routine routine, const char *what, const char *where, int32_t when,
                    int64_t location, int64_t dslength, IO_file *record);
KWX_MUST_USE
int delete_bywhat(IO_error_routine routine, char *table, int first, int last, const char *key,
                  char openmode, FILE *stream);
KWX_MUST_USE
int delete_bywhere(const char *key, IO_file *record, int first, int last);
KWX_MUST_USE
int delete_process(IO_error_routine routine, char *line, char openmode, FILE *stream);

/* ---- Copy (copy.cpp) ---------------------------------------------------- */

KWX_MUST_USE
int copy_dataset(IO_error_routine routine, const char *what, const char *where, int32_t when,
                 IO_file *destination, IO_file *source);
KWX_MUST_USE
int copy_all_ds(IO_error_routine routine, IO_file *source, IO_file *destination, int mode);
KWX_MUST_USE
int copy_allvalid_ds(IO_error_routine routine, IO_file *destination, IO_file *source);
KWX_MUST_USE
int copy_when0_ds(IO_error_routine routine, IO_file *destination, IO_file *source);
KWX_MUST_USE
int copy_all_ds_compress_when(IO_error_routine routine, IO_file *destination, IO_file *source);
/* As copy_all_ds_compress_when, but only the datasets at the count given
   locations; a location that holds no live dataset fails the whole copy. */
KWX_MUST_USE
int copy_chosen_ds_compress_when(IO_error_routine routine, IO_file *destination, IO_file *source,
                                 const int64_t *locations, int32_t count);

#ifdef __cplusplus
}
#endif

#endif /* KWXIO_FILES_H */
