/* Dataset requests: the lowest layer of the persistent model database. One
 * Dataset block belongs to each open data file and carries everything the
 * data-file IO library's request call iocntc needs: the control block, a
 * header, a data block and the buffers they point into. Each operation fills
 * them for one typed read, write, search, erase or copy, issues one or more
 * requests and turns the library's answer into a plain success flag (1/0).
 *
 * Nothing here publishes errors: the owner (DefFile) records what failed and
 * takes the library's messages from Dataset_getMessage.
 *
 * When arguments: a state number, -1 for any When, -2 for the latest stored
 * When. What and Where texts longer than 79 characters and datatype texts
 * longer than 79 characters are refused (result 0). */
#ifndef VRN_DATABASE_DATASET_H
#define VRN_DATABASE_DATASET_H

#include <stdint.h>

#include "kwxio.h"
#include "utilities/uuid.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Longest What, Where or datatype text accepted (the texts travel in
 * 80-character records). */
#define DATASET_TEXT_MAX 79
#define DATASET_RECORD 80
#define DATASET_SLOTS 20
/* Bytes of one UUID text in a UUID dataset. */
#define DATASET_UUID_LENGTH 22
/* The accumulated IO messages keep at most this many of the latest bytes. */
#define DATASET_MESSAGE_LIMIT 65536

typedef struct Dataset {
    IO_control* ioControl; /* owned by the definition file */
    IO_header header;
    IO_data data;
    int64_t* matchOffsets; /* 2 x capacity: location and length of each match */
    char* matchStrings;    /* 2 x capacity records of 80: What, Where of each match */
    int32_t* matchWhens;   /* capacity: When of each match */
    int32_t capacity;      /* 20 at creation, grows only */
    int32_t offsetsCount, stringsCount, intsCount;
    int32_t charsCount, realsCount, doublesCount, logicalsCount;
    int32_t when;
    int32_t attributeCount;
    int32_t number;
    int32_t blockFactor;
    char whatBuffer[IO_WHAT_SIZE];
    char whereBuffer[IO_WHERE_SIZE];
    char attributeSlots[DATASET_SLOTS * DATASET_RECORD];
    char datatypeBuffer[IO_DATATYPE_SIZE];
    int32_t pendingCount;
    char pendingSlots[DATASET_SLOTS * DATASET_RECORD];
    char* message;         /* the library's latest messages, NULL while none */
    int32_t messageLength;
    /* Set by Dataset_locateActive: the next read of exactly this dataset
     * uses the location found instead of searching again. Any request
     * clears it. */
    int32_t located;
    int32_t locatedWhen;
    /* Searches whose request failed (the library answered neither matches
     * nor that nothing matched: a deletion mark that a search writes could
     * not be written, say), counted since the block was made. A read whose
     * search failed answers 0 as one that found nothing does; a caller
     * that must tell the two apart compares the count before and after. */
    int32_t failedSearches;
} Dataset;

Dataset* Dataset_new(IO_control* ioControl);
void Dataset_delete(Dataset* block);

/* 1 opened, 0 failed, -1 a lock file is present. */
int Dataset_openPrimaryFile(Dataset* block, const char* fileName);
int Dataset_openSecondaryFile(Dataset* block, const char* fileName);
/* Closes the primary file (and the secondary one with it): 1 when the
   files were closed whole, also when a lock file or lock mutex of theirs
   could not be removed (Dataset_takeLocksLeft names it); 0 otherwise. */
int Dataset_closePrimaryFile(Dataset* block);
/* The lock files and mutexes that closes could not remove since the last
   call, one line each, "<name> (<reason>)": a new string (vrnCString_free),
   NULL when there were none. */
char* Dataset_takeLocksLeft(void);
/* Takes the write lock on the primary file (held until it closes): 0 when
   held, else the library's code (21: another handle has the file, or no
   lock file can be named for it; 4, 6 or 11: its lock file or lock mutex
   cannot be made, for want of room, of permission or else). With
   beforeWriting, as the first write would (the library's message is kept,
   and the file is marked as being changed); without, the lock alone,
   quietly. */
int Dataset_takeWriteLock(Dataset* block, int beforeWriting);
int Dataset_closeSecondaryFile(Dataset* block);

/* Typed reads of the first match of (what, where, when), What and Where the
 * dataset's names, compared exactly (as everywhere but in Dataset_match and
 * Dataset_erase without exact, and Dataset_copyChosenDatasets, which takes
 * every dataset). A negative *count
 * sizes the result: a new array of exactly the stored count (vrnFree) is put
 * in *array; otherwise *array is the caller's storage of *count elements.
 * Afterwards *count holds the number of elements delivered. */
int Dataset_readInts(Dataset* block, const char* what, const char* where, int when, int* count,
                     int** array);
int Dataset_readFloats(Dataset* block, const char* what, const char* where, int when, int* count,
                       float** array);
/* A stored "REAL" dataset is read converted to doubles. */
int Dataset_readDoubles(Dataset* block, const char* what, const char* where, int when, int* count,
                        double** array);
int Dataset_readChars(Dataset* block, const char* what, const char* where, int when, int* count,
                      char** array);
/* A CHAR dataset split at every NUL into new strings. An empty dataset is an
 * empty list (success, no strings; a sized read sets *array NULL); bytes
 * without any NUL hold no string and fail. A caller array of fewer than the
 * stored strings fails with the needed count in *count. */
int Dataset_readStrings(Dataset* block, const char* what, const char* where, int when, int* count,
                        char*** array);
/* A CHAR dataset cut into 22-character UUID texts; the null text reads as a
 * NULL entry. Same empty-list rule as the strings. */
int Dataset_readUUIDs(Dataset* block, const char* what, const char* where, int when, int* count,
                      vrnUUID*** array);
/* Every attribute of the dataset split into new name and value strings. */
int Dataset_readAttributes(Dataset* block, const char* what, const char* where, int when,
                           int* count, char*** names, char*** values);
/* What the dataset holds, counted by kind, without reading the numbers. */
int Dataset_readSignature(Dataset* block, const char* what, const char* where, int when, int* ints,
                          int* floats, int* doubles, int* chars, int* fixedStrings, int* strings,
                          int* uuids);
/* Number of matches, or -1 when the search failed (nothing is handed out
 * then): a failed search is never taken for one that found nothing. Unless
 * countOnly, three new arrays (What copies, Where copies, Whens) that the
 * caller frees. With exact, What and Where are the names of datasets,
 * compared exactly; else patterns ('*', '?', '[...]') of the names to
 * match. */
int Dataset_match(Dataset* block, const char* what, const char* where, int when, int exact,
                  int countOnly, char*** whats, char*** wheres, int** whens);
/* Deletes every match (What and Where exact or patterns, as for
 * Dataset_match), each by its own name, stopping at the first failure. */
int Dataset_erase(Dataset* block, const char* what, const char* where, int when, int exact);
/* Copies every valid dataset of the primary file into the secondary one;
 * with compressWhen every When above 0 is written as 1. */
int Dataset_copyAllDatasets(Dataset* block, int compressWhen);
/* One valid dataset of the primary file, as a chooser sees it: keep starts
 * at 0, and the chooser sets it to 1 for each dataset to copy. */
typedef struct Dataset_Choice {
    const char* what;
    const char* where;
    int when;
    int keep;
} Dataset_Choice;
typedef void (*Dataset_ChooseRoutine)(void* context, Dataset_Choice* datasets, int count);
/* Copies the valid datasets of the primary file that choose keeps into the
 * secondary one, every When above 0 written as 1, as
 * Dataset_copyAllDatasets with compressWhen does (and by it, when choose
 * keeps them all). 0 when the datasets cannot be listed or a copy fails. */
int Dataset_copyChosenDatasets(Dataset* block, Dataset_ChooseRoutine choose, void* context);
/* Queues "name=value" for the next write; 0 when longer than 80 characters
 * or when 20 are queued. */
int Dataset_addAttribute(Dataset* block, const char* name, const char* value);

/* records < 1: "INTR" (or "DBLE") with count elements; else records of count
 * elements each. Queued attributes go with the write. */
int Dataset_writeInts(Dataset* block, const char* what, const char* where, int when, int count,
                      int records, const int* values);
int Dataset_writeDoubles(Dataset* block, const char* what, const char* where, int when, int count,
                         int records, const double* values);
/* One CHAR dataset of the strings, each followed by a NUL (NULL counts as
 * the empty string), with the attribute t=s. */
int Dataset_writeStrings(Dataset* block, const char* what, const char* where, int when, int count,
                         char* const* strings);
/* One CHAR dataset of count 22-character UUID texts, attribute t=u; a NULL
 * entry is "__NULL_UUID__" padded with NULs. */
int Dataset_writeUUIDs(Dataset* block, const char* what, const char* where, int when, int count,
                       vrnUUID* const* uuids);

/* Finds the version of (what, where) that a read at state (1 or more)
 * sees, the largest stored When not above state, in one search; *when gets
 * it. The next read of (what, where, *when) reads it without searching
 * again. 0 when no version is active. */
int Dataset_locateActive(Dataset* block, const char* what, const char* where, int state, int* when);

/* A new copy of the accumulated IO messages, NULL while none. */
char* Dataset_getMessage(Dataset* block);
/* The IO library's error routine: appends the message to the block whose
 * request is under way. */
int io_msg(const char* message, int length);

#ifdef __cplusplus
}
#endif

#endif
