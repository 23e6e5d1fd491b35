/* Internal interface of the data-file IO library: the routines that the
 * modules of the library call in each other. Not for callers of iocntc. */
#ifndef KWXIO_INTERNAL_H
#define KWXIO_INTERNAL_H

#include "kwxio.h"

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

/* An internal routine whose answer tells whether a change reached the
 * file (or whether its caller may go on): the answer must be looked at, so
 * that a failure reaches whoever reports success. */
#ifdef __cplusplus
#define KWX_MUST_USE [[nodiscard]]
#else
#define KWX_MUST_USE __attribute__((warn_unused_result))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Index table ------------------------------------------------------ */

#define IO_ESC 27                 /* field separator of index lines and header records */
#define IO_INDEX_SLOT 256         /* bytes per index table slot */
#define IO_INDEX_GROW 10000       /* free slots added when a table is made or grown */
/* Search modes: by WHAT (a WHERE holding pattern characters is left out of
 * the key), by WHERE, both as patterns, and WHAT:WHERE as names compared
 * exactly whatever they hold (WHEN negative: every time). */
#define IO_SORT_WHAT (-1)
#define IO_SORT_WHERE (-2)
#define IO_SORT_WILD 7
#define IO_SORT_NAME (-3)

/* Index table slot i of a record. */
#define IO_INDEX_LINE(table, i) ((table) + (size_t)(i) * IO_INDEX_SLOT)

/* The text of an index line from WHAT on (its third character); an empty
 * text for a line too short to hold one. */
static inline const char *kwxIndexWhatPart(const char *line) {
    if (!line[0] || !line[1]) return line + strlen(line);
    return line + 2;
}

/* The text of an index line from WHERE on (after the second ESC). */
static inline const char *kwxIndexWherePart(const char *line) {
    const char *what = kwxIndexWhatPart(line);
    const char *esc = strchr(what, IO_ESC);
    return esc ? esc + 1 : what + strlen(what);
}

/* The WHERE view (a record's wheretable): the number of index lines it
 * covers, then their line numbers in WHERE order, each an int32_t. */

/* Number of lines the WHERE view covers, or -1 when there is none. */
static inline int kwxWhereViewCount(const IO_file *record) {
    if (!record->wheretable) return -1;
    int32_t n;
    memcpy(&n, record->wheretable, sizeof n);
    return n;
}

/* Line number of entry i of the WHERE view. */
static inline int32_t kwxWhereViewLine(const IO_file *record, int i) {
    int32_t v;
    memcpy(&v, record->wheretable + sizeof(int32_t) * (size_t)(i + 1), sizeof v);
    return v;
}

/* One located dataset. */
typedef struct IO_location {
    char what[80];
    char where[80];
    int32_t when;
    int64_t dslength;
    int64_t location;
    int32_t line;   /* line in the WHAT-sorted table; -1 deleted; -2 not yet resolved */
} IO_location;

/* ---- Errors, trace, records (errors.cpp) ------------------------------ */

/* Formats a message (printf conversions; "%I64d" is accepted as a 64-bit
 * conversion too) into a new malloc'ed string; on allocation failure a
 * plain copy of the format, or NULL. */
char *kwxVFormatAlloc(const char *format, va_list args);
char *kwxFormatAlloc(const char *format, ...);

/* Sends one message to the routine (a newline is appended when missing),
 * to the debug output, and to the trace. */
void kwxIoError(IO_error_routine routine, const char *format, ...);
void kwxIoVError(IO_error_routine routine, const char *format, va_list args);
/* One "TRACE> " line on standard output when KWX_IO_TRACE was set at the
 * first trace of the process. */
void kwxIoTrace(const char *format, ...);
int kwxIoTraceOn(void);
/* "<message>: <system error text>" through the routine. */
void kwxsystemErr(IO_error_routine routine, const char *message);
/* Formats a message, appends ": " and the system error text, and reports it
 * through the record's routine; 0, or 26 when format is NULL. */
int kwxIoSysError(IO_file *record, const char *format, ...);
/* "<name>: malloc of <bytes> bytes failed". */
void kwxIoMallocFailed(IO_error_routine routine, const char *name, int64_t bytes);
/* Every failed allocation is reported here and answers code (28, or 14 where
 * a routine's callers expect that). With a size of 0 or more the report is
 * the allocation report above for who; with IO_NO_SIZE who is the whole
 * message, sent with the system error text when it ends in "syserr:". */
#define IO_NO_SIZE (-1)
/* Bytes of the eight buffers of one ioheader_alloc. */
#define IO_HEADER_BYTES (IO_WHAT_SIZE + IO_WHERE_SIZE + IO_MAXATTRIB * IO_ATTRIB_LEN + IO_DATATYPE_SIZE + 16)
int kwxIoNoMemory(IO_error_routine routine, int code, const char *who, int64_t bytes);

/* The library's allocations: the C runtime's, except that the allocation
 * the test hook names fails. */
void *kwxIoMalloc(size_t bytes);
void *kwxIoCalloc(size_t count, size_t size);
void *kwxIoRealloc(void *old, size_t bytes);
char *kwxIoStrdup(const char *text);
/* Counts one allocation; 1 when the test hook fails it. */
int kwxIoAllocationFails(void);
/* Test hook: the n-th allocation of the library from now on fails (n >= 1);
 * 0 turns the hook off. Answers the allocations counted since the last
 * call, so that a test can tell when a request made no more of them. */
int kwxIoFailAllocation(int n);
/* Picks the format of the next dataset written (KWX_FORMAT, the default
 * format, else "U5"), made native. */
int iofmt_default(IO_error_routine routine, char *format, const char *defaultformat);

int filerec_reset(IO_file *record);
void filerec_release(IO_file *record);
void filerec_free(IO_error_routine routine, IO_file *record);
void iocnt_releaseFiles(IO_error_routine routine, IO_file *first, IO_file *second);

/* The routine to use for a record: its own, else the default one. */
IO_error_routine kwxIoRoutine(const IO_file *record);

/* ---- Locale-free numbers (numtext.cpp) -------------------------------- */

/* printf/strtod in the "C" locale whatever the process locale is. */
int kwx_snprintf(char *buffer, size_t size, const char *format, ...);
double kwx_strtod(const char *text, char **end);
double kwx_atof(const char *text);
int64_t kwx_atoi64(const char *text);

/* ---- Format letters and element codecs (codecs.cpp) ------------------- */

/* 1 when c is one of "FDdUuLlXx". */
int iofmt_is_letter(int c);
/* 1 for a live letter written by this platform or read from others:
 * F, U, u, L, l. */
int iofmt_is_live(int c);
/* 1 for the letter of a deletion mark: D, d, X, x. */
int iofmt_is_deleted(int c);
/* 1 when the letter's multi-byte items are stored byte-reversed. */
int iofmt_is_swapped(int c);
/* 1 when the format is compressed binary: one of uUlL with a level '1'-'9'. */
int iofmt_is_compressed(const char *format);
/* 1 when a stored dataset of this format carries a BLOCKFACTOR record and is
 * split into blocks: compressed binary, and binary with the level byte '0'
 * that older writers produced (their structure blocks are compressed, their
 * single arrays plain). */
int iofmt_is_blocked(const char *format);
/* Rewrites the letter to its native form (u/U -> u, l/L -> l, X/x -> x,
 * d -> D); 15 for an unknown letter. */
int iofmt_make_native(IO_error_routine routine, char *format);

KWX_MUST_USE
int kwxwriteString(IO_error_routine routine, const char *format, const char *items, int n,
                   int perline, int width, FILE *stream);
int kwxreadString(IO_error_routine routine, const char *format, char *items, int n, int perline,
                  int width, FILE *stream);
KWX_MUST_USE
int kwxwriteIntr(IO_error_routine routine, const char *format, const int32_t *items, int n,
                 int perline, int width, FILE *stream);
int kwxreadIntr(IO_error_routine routine, const char *format, int32_t *items, int n, int perline,
                int width, FILE *stream);
KWX_MUST_USE
int kwxwriteReal(IO_error_routine routine, const char *format, const float *items, int n,
                 int perline, int width, FILE *stream);
int kwxreadReal(IO_error_routine routine, const char *format, float *items, int n, int perline,
                int width, FILE *stream);
KWX_MUST_USE
int kwxwriteDble(IO_error_routine routine, const char *format, const double *items, int n,
                 int perline, int width, FILE *stream);
int kwxreadDble(IO_error_routine routine, const char *format, double *items, int n, int perline,
                int width, FILE *stream);
KWX_MUST_USE
int kwxwriteLogl(IO_error_routine routine, const char *format, const char *items, int n,
                 int perline, int width, FILE *stream);
int kwxreadLogl(IO_error_routine routine, const char *format, char *items, int n, int perline,
                int width, FILE *stream);

int kwxFormatIntField(char *destination, int width, int value);
int kwxFormatCharField(char *destination, int width, char c);
int kwxFormatDouble(char *destination, const char *printfformat, float value);

/* Length fields: F text of the offset width, u/U 4 bytes, l/L 8 bytes. */
KWX_MUST_USE
int kwxwriteOffset(IO_error_routine routine, const char *format, const int64_t *value, int width,
                   FILE *stream);
int kwxreadOffset(IO_error_routine routine, const char *format, int64_t *value, FILE *stream);
/* kwxreadOffset for a dataset's leading length: a text field that is not a
 * number is damage, refused with 12 (kwxreadOffset reads it as 0). */
int kwxreadLength(IO_error_routine routine, const char *format, int64_t *value, FILE *stream);
/* The bytes kwxwriteOffset writes, into out (IO_OFFSET_FIELD_MAX bytes);
 * *nbytes gets their number. Width 1 to 46. */
#define IO_OFFSET_FIELD_MAX 48
KWX_MUST_USE
int kwxEncodeOffset(IO_error_routine routine, const char *format, int64_t value, int width,
                    char *out, int *nbytes);

/* Header records: F blank-padded line of capacity; binary int32 length and bytes.
 * The reader's size is the buffer size (the string gets a terminator). */
KWX_MUST_USE
int kwxwriteHdrString(IO_error_routine routine, const char *format, const char *string,
                      int capacity, FILE *stream);
int kwxreadHdrString(IO_error_routine routine, const char *format, char *string, int size,
                     FILE *stream);

/* Reads the index position from the file's last line and seeks there;
 * 5 for an empty file (position 0). */
int kwxgotoIndexLocation(IO_error_routine routine, int64_t *position, int width, FILE *stream);

int kwxIoNoop(IO_error_routine routine, void *array, int count);

/* Reads one text line into buffer (at most size-1 bytes, newline kept);
 * long lines are cut and the rest of the line skipped. 0 at end of file. */
int kwxReadLine(char *buffer, int size, FILE *stream);

/* ---- Datatype strings and wildcards (datatype.cpp) -------------------- */

enum { IO_STRI = 0, IO_CHAR = 1, IO_INTR = 2, IO_REAL = 3, IO_DBLE = 4, IO_LOGL = 5 };
#define IO_NTYPES 6

int parseStructure(IO_error_routine routine, const char *datatype, int *nentries, int *types,
                   int *counts);
int kwxWildMatch(const char *text, const char *pattern);
int kwxWildMatchName(const char *text, const char *pattern);
int kwxHasWildcard(const char *name);

/* ---- Data sections and compression (data.cpp) ------------------------- */

KWX_MUST_USE
int write_datatag(IO_error_routine routine, const char *format, FILE *stream);
int read_datatag(IO_error_routine routine, const char *format, FILE *stream);
KWX_MUST_USE
int write_data(IO_error_routine routine, const char *format, FILE *stream, int number,
               const char *datatype, IO_data *data);
int read_data(IO_error_routine routine, const char *format, FILE *stream, int number,
              const char *datatype, IO_data *data);
int check_memory(IO_error_routine routine, const char *format, int number, const char *datatype,
                 IO_data *data);
int convert_data(IO_error_routine routine, int number, const char *olddatatype,
                 const char *newdatatype, int *converted, IO_data *source, IO_data *destination);
KWX_MUST_USE
int write_compressed_data(IO_error_routine routine, const char *format, FILE *stream,
                          int64_t nbytes, const char *bytes);
/* kind 'i','r','d','c' (or upper case); result: compressed size in items
 * (rounded up), 0 bad input, -1 deflate failed, -2 larger than capacity. */
int io_gzip(char kind, int level, int nitems, const void *input, int capacity, void *output,
            int *result);
int io_gunzip(IO_error_routine routine, int64_t inbytes, const void *input, int64_t outbytes,
              void *output);

/* ---- Datasets (dataset.cpp) ------------------------------------------- */

int64_t kwxTell64(FILE *stream);
KWX_MUST_USE
int kwxSeek64(FILE *stream, int64_t offset, int mode);
void kwxSwapBytes(void *buffer, int n);

KWX_MUST_USE
int write_dataset(IO_error_routine routine, const char *format, IO_header *header, IO_data *data,
                  IO_file *record);
/* write_dataset puts a dataset whose data takes at most this many bytes
 * together in memory and writes it with two positioned writes; larger ones
 * go through the stream (4 MiB by default; a negative limit sends every
 * dataset through the stream). The bytes in the file are the same. */
void kwxIoSetAssembleLimit(int64_t bytes);
KWX_MUST_USE
int write_header(IO_error_routine routine, const char *format, FILE *stream, IO_header *header);
/* 0 when a dataset of the format can be written under WHAT:WHERE:WHEN and
 * read back under that name; otherwise IO_ERR_PARSE, reported for `who`.
 * Names must be non-empty without line ends or ESC, WHEN not negative, and
 * in format F (whose header lines are read back without trailing white
 * space) WHAT and WHERE must not end in white space. */
int kwxCheckDatasetName(IO_error_routine routine, const char *format, const char *what,
                        const char *where, int32_t when, const char *who);
int read_header(IO_error_routine routine, const char *format, FILE *stream, IO_header *header);
/* Reads format bytes (into format[0..1], format[2] = NUL), leading length
 * and "*DATASET" at the record's stream position. dslength may be NULL. */
int read_located_dataset_start(IO_error_routine routine, char *format, IO_file *record);
int read_located_dataset_start_len(IO_error_routine routine, char *format, int64_t *dslength,
                                   IO_file *record);
int read_located_dataset(IO_error_routine routine, char *format, IO_header *header, IO_data *data,
                         const char *target, IO_file *record);
int read_located_dataset_plain(IO_error_routine routine, char *format, IO_header *header,
                               IO_data *data, IO_file *record);
int move_datapoints(IO_error_routine routine, const char *datatype, int records, IO_data *data);

/* Writes a tag ("*DATASET", "*ENDDATASET", "*CRASH", ...) in the format:
 * F as a line, binary as the bare bytes. */
KWX_MUST_USE
int kwxwriteTag(IO_error_routine routine, const char *format, const char *tag, FILE *stream);
/* Reads a tag of n characters written by kwxwriteTag into buffer (n+1). */
int kwxreadTag(IO_error_routine routine, const char *format, char *buffer, int n, FILE *stream);

/* ---- Index (index.cpp) ------------------------------------------------ */

/* A fresh table with room for nlines + 10000 lines; drops the WHERE copy. 0 or 14. */
KWX_MUST_USE
int indextable_alloc(IO_file *record);
/* A table marked sorted keeps its lines [0, n) in WHAT order, n being this
 * count; the lines after them (a few hundred at most) were appended since and
 * must be scanned. Searches binary-search the head and scan the tail. */
int kwxIndexSortedCount(const IO_file *record);
/* Merges the appended lines of a sorted table into its order, so that the
 * whole table is in WHAT order (drops the WHERE view when lines move). */
KWX_MUST_USE
int kwxIndexSettle(IO_error_routine routine, IO_file *record);
/* Drops the WHERE and WHEN views of the table, and the line numbers kept
 * for its retired stored lines; every change that moves, adds or removes
 * lines calls it. */
void kwxIndexDropViews(IO_file *record);
/* Keeps the WHEN view of the table whole after line number line was
 * appended (the WHERE view is rebuilt by its next search). */
void kwxIndexWhenViewAppend(IO_file *record, int line);
/* The same for the view of the unsorted tail (in WHAT order). */
void kwxIndexTailViewAppend(IO_file *record, int line);
KWX_MUST_USE
int insert_index(IO_error_routine routine, IO_file *record, const char *line);
KWX_MUST_USE
int insert_index_nosort(IO_error_routine routine, IO_file *record, const char *line);
KWX_MUST_USE
int write_index(IO_error_routine routine, IO_file *record, int nlines, const char *table);
KWX_MUST_USE
int create_indextable(IO_error_routine routine, IO_file *record);
KWX_MUST_USE
int recreate_indextable(IO_error_routine routine, IO_file *record);
/* recreate_indextable, also keeping each dataset whose trailing length alone
 * is damaged when the table of held (one read from the stored index) lists
 * it live at its location with its name and length; held may be NULL. */
KWX_MUST_USE
int kwxIndexRebuildHeld(IO_error_routine routine, IO_file *record, const IO_file *held);
KWX_MUST_USE
int update_index(IO_error_routine routine, IO_file *record);
KWX_MUST_USE
int update_subindex(IO_error_routine routine, IO_file *record, int n, int *removed,
                    IO_location *located);
int kwxIoFailWithHeader(IO_error_routine routine, const char *message, int code,
                        IO_header *header);
/* Builds an index line "Y" ESC what ESC where ESC when ESC dslength ESC location
 * into line (IO_INDEX_SLOT bytes); 0, or 12 when it does not fit. */
int kwxMakeIndexLine(char *line, const char *status, const char *what, const char *where,
                     int32_t when, int64_t dslength, int64_t location);

/* ---- Provided by the location, deletion and lock modules ---------------- */

int parseindex(IO_error_routine routine, const char *line, IO_location *location);
int get_ds_location(IO_error_routine routine, int mode, IO_header *key, IO_file *record,
                    int *count, IO_location *located);
/* Locates key's datasets into result: WHAT and WHERE are patterns, or with
 * exact not 0 plain names. */
int locate_dataset(IO_error_routine routine, IO_header *key, IO_data *result, IO_file *record,
                   int exact);
int index_sortWhat(const void *a, const void *b);
int index_sortWhere(const void *a, const void *b);
int dsloc_sortWhen(const void *a, const void *b);
int dsloc_sortLocation(const void *a, const void *b);
KWX_MUST_USE
int delete_process_sub(IO_error_routine routine, FILE *stream, int64_t location);
/* delete_process_sub for the dataset an index line names: the mark is
 * written only when the bytes at its location start a dataset of that WHAT,
 * WHERE and WHEN (else a message, and 0 with the file unchanged). */
KWX_MUST_USE
int delete_process_named(IO_error_routine routine, FILE *stream, const IO_location *loc);
/* 1 when the bytes at loc->location start a live dataset whose header has
 * loc's WHAT, WHERE and WHEN; 0 otherwise. The stream keeps its position. */
int kwxHoldsNamedDataset(FILE *stream, const IO_location *loc);
/* Whether a name read from a header of a dataset of format letter letter is
 * the name loc gives (text headers come back without trailing white space;
 * the other formats hold a name byte for byte). */
int kwxHeaderNamesLine(char letter, const char *what, const char *where, int32_t when,
                       const IO_location *loc);

/* Internal result, never handed to a caller: an index line was found not to
 * name the dataset at its location (its WHAT, WHERE, WHEN or location is
 * wrong); nothing was changed for it. See kwxIndexMendWrongLine. */
#define KWX_LINE_WRONG 31

/* ---- Changes the file owes its index (index_upkeep.cpp) ----------------- */

/* The index has just retired the dataset loc names (its line is 'N'). The
 * writer marks it deleted in the file at once; a record that only holds a
 * read lock keeps it, and the mark is written when the record becomes the
 * writer, before anything else changes and before its index can be stored.
 * So the stored index and the file always agree on what is deleted. */
KWX_MUST_USE
int kwxIndexRetired(IO_error_routine routine, IO_file *record, const IO_location *loc);
/* A deletion mark that did not reach the file although the line of its
 * dataset stays retired (the write failed, or may have written part of the
 * mark): the record keeps it owed, and it is written as those above are.
 * 0, or a code when memory runs out. */
KWX_MUST_USE
int kwxIndexOweMark(IO_error_routine routine, IO_file *record, const IO_location *loc);
/* After a rebuild of the record's own table, which lists every dataset the
 * file holds live: the datasets whose marks the record owes are retired in
 * it again, as the rebuilds behind a search do, so that the index the
 * record stores never lists live what the file has marked deleted by then.
 * 0, or a code when memory runs out. */
KWX_MUST_USE
int kwxIndexRetireOwed(IO_error_routine routine, IO_file *record);
/* Writes the marks kept for the record (it is the writer now); the stream
 * keeps its position. 0 or the first failure's code. */
KWX_MUST_USE
int kwxIndexWriteRetiredMarks(IO_error_routine routine, IO_file *record);
/* Whether the size recorded in the file's info block has been cleared since
 * the last flush (see kwxIoStartChanging), and setting it. */
int kwxIoSizeCleared(const IO_file *record);
void kwxIoSetSizeCleared(const IO_file *record, int cleared);
/* A dataset written request by request goes on at the stream's position:
 * the header request marks the record as writing one, inserting its index
 * line ends that. While it is under way, a search that marks an older copy
 * deleted, or a delete, puts the stream back where it stood:
 * kwxIoPiecesPosition gives that position (-1 when no dataset is under way)
 * and kwxIoBackToPieces goes back to it, answering rc, or the seek's failure
 * when rc is 0. */
void kwxIoSetPiecesUnderWay(const IO_file *record, int underWay);
/* Where the dataset under way starts (the index position when the header
 * request marked it under way), -1 when none is. */
int64_t kwxIoPiecesStart(const IO_file *record);
int64_t kwxIoPiecesPosition(const IO_file *record);
KWX_MUST_USE
int kwxIoBackToPieces(const IO_file *record, int64_t position, int rc);
/* Whether the record's index table was read from the stored index and not
 * yet checked against the datasets in the file (a rebuild, or a fresh file,
 * gives a table that is), and setting it. */
int kwxIndexFromStore(const IO_file *record);
void kwxIndexSetFromStore(const IO_file *record, int fromStore);
/* For a table read from the stored index (once; the table then counts as
 * checked): rebuilds the index beside it and, when the two do not list the
 * same live datasets, puts the rebuilt one in its place (*changed = 1,
 * written back at flush). The stream and the index position are kept. Used
 * when a search finds nothing or a read finds at a location something other
 * than what the index names there. 0 or the rebuild's code. */
KWX_MUST_USE
int kwxIndexRecheck(IO_error_routine routine, IO_file *record, int *changed);
/* For a table read from the stored index (looked at once, sorting it by
 * WHAT): a retired line of a name above (at a higher location than) a live
 * line of that name, which a sound file never holds, has the table checked
 * against the file as kwxIndexRecheck does (*changed = 1 when the rebuilt
 * one took its place). 0 or the check's code. */
KWX_MUST_USE
int kwxIndexCheckRetiredOrder(IO_error_routine routine, IO_file *record, int *changed);
/* Forgets the line numbers of the retired lines kept for the record's
 * table read from the store (see kwxIndexStoredRetired): its lines moved. */
void kwxIndexForgetStoredRetired(const IO_file *record);
/* The one answer to an index line found not to name the dataset at its
 * location (a damaged stored line): such a line is never retired, which
 * would drop a whole dataset from the index for good. Instead the index is
 * rebuilt beside the table from the datasets themselves and, when the two
 * do not list the same live datasets, the rebuilt one takes the table's
 * place (*changed = 1, written back at flush; what this record retired
 * stays retired), so that the caller searches again in a table whose lines
 * are taken from the datasets' own headers. The stream and the index
 * position are kept; 0 or the rebuild's code. */
KWX_MUST_USE
int kwxIndexMendWrongLine(IO_error_routine routine, IO_file *record, int *changed);
/* update_subindex, which leaves a line found wrong as it is; with mended,
 * such a line has the table mended instead, and *mended tells whether it was
 * rebuilt (the records then refer to the old table: search again). */
KWX_MUST_USE
int kwxIndexRetireDuplicates(IO_error_routine routine, IO_file *record, int n, int *removed,
                             IO_location *located, int *mended);
/* *names = 1 when a line of the table names the dataset whose header was
 * read at location (format letter letter): live, or retired under the same
 * name. 0, or the search's code. */
int kwxIndexNamesDataset(IO_error_routine routine, IO_file *record, const IO_header *read,
                         int64_t location, char letter, int *names);
/* The line whose location is location, live before retired; 0 when none. */
int kwxIndexLineAt(const IO_file *record, int64_t location, IO_location *out);
/* Forgets what was kept for a record that is released. */
void kwxIndexForgetRecord(const IO_file *record);

/* Called before a record's first change to its file after a flush (every
 * writing request calls it through setfilebusyflag): gives the record a
 * counted stream; for a data file it then clears the size recorded in the info block, so that an open after a crash
 * sees a stale size and rebuilds the index from the datasets rather than
 * trusting a stored index that no longer matches them, then writes the
 * deletion marks the index owes the file. The stream keeps its position.
 * Nothing for a record without an index (a plain text file). */
KWX_MUST_USE
int kwxIoStartChanging(IO_error_routine routine, IO_file *record);
/* Gives the record a stream whose writes the platform layer counts, over
 * the same open file at the same position (see vrnPlatform_countWrites);
 * the record's old stream pointer is then gone. Called before the first
 * write to a file opened for reading and writing. 0, or 1 with a message. */
KWX_MUST_USE
int kwxIoUseCountedStream(IO_file *record);
/* The width of the size field when the file starts with an info block whole
 * in its layout ("*INFO", a line holding only the size, "*ENDINFO", each
 * line ended); 0 otherwise. The stream is left anywhere. */
int kwxInfoBlockWidth(FILE *stream);
/* Whether the record's file has an info block that is not whole, and
 * setting it: its recorded size is then neither cleared nor set, since its
 * bytes may belong to the first dataset, and every open rebuilds the index. */
int kwxIoInfoDamaged(const IO_file *record);
void kwxIoSetInfoDamaged(const IO_file *record, int damaged);
/* The width of the text length fields of a file whose info block is not
 * whole: the one with which the first whole text dataset frames, else that
 * of the position line at the file's end, else 20. */
int kwxGuessOffsetWidth(FILE *stream, int64_t size);
/* The width of the text length fields that the datasets themselves show,
 * from the item at `first` (where the info block says they start) on: the
 * width at which the first text item's lengths frame, binary datasets
 * before it stepped over, else that of a whole stored index ending the file;
 * 0 when nothing shows one. The stream is left anywhere. */
int kwxDataOffsetWidth(FILE *stream, int64_t first, int64_t size);
/* The start of a whole index dataset of the width that ends the file (its
 * position line the last line, pointing at it, its two lengths framed and
 * equal), or -1. The stream is left anywhere. */
int64_t kwxIndexEndingFile(FILE *stream, int64_t size, int width);

#ifdef __cplusplus
}

#include <new>

/* Counts one allocation of a C++ container; throws std::bad_alloc when the
 * test hook fails it, as the container itself would. */
inline void kwxIoCountAllocation() {
    if (kwxIoAllocationFails()) throw std::bad_alloc();
}

#include <vector>

/* get_ds_location into a vector that holds exactly the records found (the
 * same records, order, messages and answer). */
int kwxIndexSearch(IO_error_routine routine, int mode, IO_header *key, IO_file *record,
                   std::vector<IO_location> &found);
/* Keeps, for a table just read from the stored index, the line numbers of
 * its retired lines (lines; known false when they could not all be kept),
 * for kwxIndexCheckRetiredOrder: with none, the table needs no look. */
void kwxIndexStoredRetired(const IO_file *record, std::vector<int32_t> &&lines, bool known);
/* Remembers the lines of a locate's answer (found[i] for i in order, the
 * first few), so that a read at one of their locations is checked against
 * its line without a search (see kwxIndexNamesDataset). */
void kwxIndexRememberLocated(const IO_file *record, const std::vector<IO_location> &found,
                             const std::vector<int32_t> &order);

/* What the library knows of one item type, in the order of the type codes. */
struct IO_itemtype {
    const char *name;       /* "string", "char", "intr", "real", "dble", "logl" */
    int textsize;           /* characters per counted item in a text structure record */
    int binsize;            /* bytes per counted item in a binary structure record */
    int itemsize;           /* bytes of one item in memory and in a binary array */
    int perline;            /* items per line of a text array (0: not written in lines) */
    int width;              /* field width of a text array item */
    char gzipkind;          /* io_gzip kind of a compressed binary array */
    int32_t *IO_data::*count;                 /* the count field in IO_data */
    void *(*array)(const IO_data *data);      /* the array in IO_data */
    /* Array codecs (null for strings and chars, which are not written in lines). */
    int (*write)(IO_error_routine, const char *, const void *, int, int, int, FILE *);
    int (*read)(IO_error_routine, const char *, void *, int, int, int, FILE *);
};
extern const IO_itemtype kwxItemTypes[IO_NTYPES];

/* An array of n items of an INTR, REAL, DBLE or LOGL type through the type's
 * codec, text arrays in the type's line layout. */
int kwxWriteItems(IO_error_routine routine, const char *format, int type, const void *items, int n,
                  FILE *stream);
int kwxReadItems(IO_error_routine routine, const char *format, int type, void *items, int n,
                 FILE *stream);
#endif

#endif /* KWXIO_INTERNAL_H */
