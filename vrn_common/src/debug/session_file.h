/* The session journal: an optional text file to which the library's public
 * calls append one line each, between a start header and a stop line. It is
 * switched on by VRN_SESSION_FILE (or the LOGS "SESSION" entry of the debug
 * control file) and filtered by VRN_SESSION_FILE_LEVEL (default 2):
 *
 *     level 0   nothing but the header and the stop line
 *     level 1,2 successful calls (status 1)
 *     level 3   every call
 *
 * A public routine journals itself with
 *
 *     if (SessionFile_record(handle, status)) SessionFile_write("vrnApp_getErrors");
 *
 * A journal file that cannot be opened leaves the journal off (a message on
 * standard error says so) and SessionFile_record returns 0. */
#ifndef VRN_DEBUG_SESSION_FILE_H
#define VRN_DEBUG_SESSION_FILE_H

#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

struct HashTable;

/* Writes lines to a stream: standard output at creation, none once stopped. */
typedef struct Session {
    FILE* stream;
} Session;

typedef struct SessionFile {
    Session* session;
    int level;
    FILE* file;                /* the journal, opened for appending */
    struct HashTable* handles; /* database handle -> its last seen state (an int) */
} SessionFile;

/* Asks the model database for the current state of a database handle. The
 * model database registers it; the core services never link against it. */
typedef int (*SessionFile_StateQuery)(void* handle);
/* Registers the state query (NULL: none); returns the previous one. */
SessionFile_StateQuery SessionFile_setStateQuery(SessionFile_StateQuery query);

/* 1 when the current call, with its result status, is to be journalled.
 * The first call opens the journal when one is configured. */
int SessionFile_record(void* handle, int status);
/* Writes the name as one line of the open journal (an empty line for NULL). */
void SessionFile_write(const char* name);
/* Opens path for appending as the process-wide journal, replacing an open
 * one, and writes the header; NULL (journal off) when it cannot be opened. */
SessionFile* SessionFile_new(const char* path, int level);
/* Writes the stop line, closes the file and frees the journal. */
void SessionFile_delete(SessionFile* journal);
/* The open journal or NULL. */
SessionFile* SessionFile_get(void);

Session* Session_new(void);
void Session_delete(Session* session);
/* Records on stream from now on: writes the header lines. Returns 1. */
int Session_startRecording(Session* session, FILE* stream);
/* Writes the stop line and drops the stream. Returns 1. */
int Session_stopRecording(Session* session);
/* Writes text and a newline (only the newline for NULL), flushed. */
void Session_writeLine(Session* session, const char* text);

#ifdef __cplusplus
}
#endif

#endif
