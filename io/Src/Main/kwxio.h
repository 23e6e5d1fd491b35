/* Public interface of the data-file IO library ("KWX-5.x format" files).
 *
 * A data file holds datasets named by WHAT, WHERE and WHEN, each with a
 * header and typed data, followed by a text index. Every operation goes
 * through the request dispatcher iocntc with a numbered request; the
 * result is an IO error code (0 success, see kwxIoErrorText). Usable
 * from C. Not safe to call from two threads at once.
 */
#ifndef KWXIO_H
#define KWXIO_H

#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Receives every message of the library (always ending in a newline) and
 * its length including that newline. */
typedef int (*IO_error_routine)(const char *message, int length);

/* One data file or plain text file. */
typedef struct IO_file {
    char *indextable;      /* index lines in 256-byte slots; end slot starts with ESC */
    char *wheretable;      /* copy sorted by WHERE, or NULL */
    int32_t nlines;        /* index lines in use */
    FILE *stream;          /* NULL while closed */
    char *filename;
    int32_t locklevel;     /* -1 writer; n >= 1 reader count at lock time; 0 nothing to flush */
    int64_t indexpos;      /* where the next dataset, and at flush the index, goes */
    char openmode;         /* 'w', 'r' or 0 */
    int32_t sorted;        /* -1 table sorted by WHAT, 0 unsorted */
    int32_t offsetwidth;   /* width of text offset fields: 10 or 20 */
    IO_error_routine routine;
    char format[3];        /* letter, level digit or NUL, NUL */
    int32_t indexdirty;    /* 1 when the in-memory index differs from the stored one */
    int32_t sortedhead;    /* while sorted is -1: lines [0, sortedhead) are in WHAT order and
                              the few lines after them were appended since, in no order */
    char *whentable;       /* line numbers ordered by WHEN, or NULL (dropped with wheretable) */
    char *tailtable;       /* the lines after the sorted head in WHAT order, or NULL */
} IO_file;

/* Per-handle state of the dispatcher. Allocate with iocontrol_alloc. */
typedef struct IO_control {
    IO_file primary;
    IO_file secondary;
    IO_file text;
    IO_file *current;
    int32_t initialised;
    char *defaultformat;
} IO_control;

/* Dataset header argument: eight pointers to caller-owned buffers. */
typedef struct IO_header {
    char *what;            /* 82 bytes */
    char *where;           /* 82 bytes */
    int32_t *when;
    int32_t *numattrb;     /* 0 to 20 */
    char *attributes;      /* numattrb records of 80 characters */
    int32_t *number;       /* record count */
    char *datatype;        /* up to 256 characters */
    int32_t *blockfactor;  /* records per compressed block */
} IO_header;

/* Data argument: seven typed arrays, each with a pointer to its count. */
typedef struct IO_data {
    int64_t *offsets;  int32_t *noffsets;
    char *strings;     int32_t *nstrings;   /* 80-character slots */
    char *chars;       int32_t *nchars;
    int32_t *ints;     int32_t *nints;
    float *reals;      int32_t *nreals;
    double *doubles;   int32_t *ndoubles;
    char *logicals;    int32_t *nlogicals;
} IO_data;

/* Sizes of the header buffers. */
#define IO_WHAT_SIZE 82
#define IO_WHERE_SIZE 82
#define IO_ATTRIB_LEN 80
#define IO_MAXATTRIB 20
#define IO_DATATYPE_SIZE 256
#define IO_STRING_LEN 80
#define IO_MAXENT 40

/* IO error codes (index into kwxIoErrorText). */
enum {
    IO_OK = 0,
    IO_ERR_OPEN = 1,
    IO_ERR_NOFILE = 2,
    IO_ERR_NOTFOUND = 3,
    IO_ERR_DISKFULL = 4,
    IO_ERR_EOF = 5,
    IO_ERR_PERMISSION = 6,
    IO_ERR_CLOSE = 7,
    IO_ERR_SEEK = 8,
    IO_ERR_TELL = 9,
    IO_ERR_READ = 10,
    IO_ERR_WRITE = 11,
    IO_ERR_PARSE = 12,
    IO_ERR_NODATASET = 13,
    IO_ERR_MEMORY = 14,
    IO_ERR_FORMAT = 15,
    IO_ERR_MULTIPLE = 16,
    IO_ERR_NOTLOCATED = 17,
    IO_ERR_STRING = 18,
    IO_ERR_ROUTINE = 19,
    IO_ERR_BADFILE = 20,
    IO_ERR_LOCKED = 21,
    IO_ERR_REQUEST = 22,
    IO_ERR_COMPRESS = 23,
    IO_ERR_NOEXIST = 24,
    IO_ERR_ATTRIBUTE = 25,
    IO_ERR_UNKNOWN = 26,
    IO_ERR_CONVERT = 27,
    IO_ERR_ALLOC = 28,
    IO_NUM_ERRORS = 29
};

/* The fixed message of each code. */
extern const char *const kwxIoErrorText[IO_NUM_ERRORS];
/* Message of a code, or "An unknown error has occurred." outside 0..28. */
const char *kwxIoErrorMessage(int code);

/* Request codes of iocntc. */
enum {
    IO_OPEN_PRIMARY = 0,
    IO_CLOSE_ALL = 1,
    IO_OPEN_SECONDARY = 2,
    IO_CLOSE_SECONDARY = 3,
    IO_SET_FORMAT = 4,
    IO_DELETE_DS = 5,
    IO_WRITE_DS = 6,
    IO_LOCATE_DS = 7,
    IO_LOCATE_PRIMARY_DS = 8,
    IO_DELETE_PRIMARY_DS = 9,
    IO_READ_DS = 10,
    IO_READ_HEADER = 11,
    IO_WRITE_HEADER = 12,
    IO_READ_DATA = 13,
    IO_WRITE_DATA = 14,
    IO_INDEX_COUNT = 15,
    IO_COPY_DATASET = 16,
    IO_COPY_ALLVALID_DS = 17,
    IO_READ_PRIMARY_DS = 18,
    IO_WRITE_ENDTAG = 19,
    IO_TELL = 20,
    IO_WRITE_LENGTH = 21,
    IO_SEEK = 22,
    IO_SET_INDEX_POSITION = 23,
    IO_INSERT_INDEX = 24,
    IO_INDEX_POSITION = 25,
    IO_READ_DATATAG = 26,
    IO_WRITE_DATATAG = 27,
    IO_USE_PRIMARY = 28,
    IO_USE_SECONDARY = 29,
    IO_OPEN_TEXT = 30,
    IO_CLOSE_TEXT = 31,
    IO_READ_TEXT_LINE = 32,
    IO_WRITE_TEXT_LINE = 33,
    IO_READ_TEXT_INTS = 34,
    IO_WRITE_TEXT_INTS = 35,
    IO_READ_TEXT_REALS = 36,
    IO_WRITE_TEXT_REALS = 37,
    IO_FILE_EXISTS = 38,
    IO_COPY_WHEN0_DS = 39,
    IO_INSERT_INDEX_NOSORT = 40,
    IO_UPDATE_INDEX = 41,
    IO_RECREATE_INDEX = 42,
    IO_READ_DS_AS = 43,
    IO_READ_PRIMARY_DS_AS = 44,
    IO_COPY_DS_COMPRESS_WHEN = 45,
    IO_SET_DEFAULT_FORMAT = 46,
    IO_WRITE_COMPRESSED_DATA = 47,
    IO_CURRENT_HANDLE = 48
};

/* Control blocks: zero-filled on creation; free after closing (request 1). */
IO_control *iocontrol_alloc(void);
void iocontrol_free(IO_control *control);

/* Checks the arguments of a request and runs it. */
int iocntc(int request, IO_error_routine routine, IO_header *header, IO_data *data,
           IO_control *control);
/* The dispatcher behind iocntc, without the argument checks. */
int iocnt(int request, IO_error_routine routine, IO_header *header, IO_data *data,
          IO_control *control);
/* As request IO_COPY_DS_COMPRESS_WHEN, but only the datasets at the locations
   in data's offsets array (*noffsets of them), from the primary file to the
   current one, in one call: later times are written as 1, and a location
   that holds no live dataset refuses the whole copy before anything is
   written. Not a request code, so that the codes past IO_CURRENT_HANDLE stay
   unknown requests. */
int iocnt_copychosen(IO_error_routine routine, IO_data *data, IO_control *control);
/* As iocnt for the requests that take names as patterns (IO_LOCATE_DS,
   IO_LOCATE_PRIMARY_DS, IO_DELETE_DS, IO_DELETE_PRIMARY_DS), but WHAT and
   WHERE are compared exactly: '*', '?', '[' and ']' are plain characters.
   WHEN keeps its meaning (negative: every time). The arguments are checked
   as iocntc checks them. Any other request: IO_ERR_REQUEST. Not a request
   code, so that codes past IO_CURRENT_HANDLE stay unknown requests. */
int iocnt_exact(int request, IO_error_routine routine, IO_header *header, IO_data *data,
                IO_control *control);

/* Header buffers of the library's own sizes; ioheader_alloc gives 0 or 28. */
int ioheader_alloc(IO_header *header);
void ioheader_free(IO_header *header);

/* IO_data objects whose count pointers point at counters kept with them. */
IO_data *iodata_alloc(void);
void iodata_init(IO_data *data);
void iodata_delete(IO_data *data);
void iodata_freeArrays(IO_data *data);
int iodata_alloc_arrays(IO_error_routine routine, IO_data *data);
int64_t iodata_totalSize(const IO_data *data);
/* Number of IO_data objects made by iodata_alloc and not yet deleted. */
int iodata_liveCount(void);

/* The default error routine: prints "IO: <message>" to standard error. */
int kwxIoDefaultErrorRoutine(const char *message, int length);

#ifdef __cplusplus
}
#endif

#endif /* KWXIO_H */
