// Dataset deletion. A dataset is never cut out of its file: its index line
// is retired (status 'N') and its three format bytes are overwritten with a
// deletion mark that keeps its byte order and length-field size, so that
// searches, copies and index rebuilds step over it.
#include "io_files.h"
#include "vrn_platform.h"

#include <stdio_ext.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool isLevelDigit(char c) { return c >= '1' && c <= '9'; }

// The mark written over a dataset's format bytes.
void deletionMark(const char *format, char mark[3]) {
    char letter = format[0], level = format[1];
    bool digit = isLevelDigit(level);
    mark[2] = '\n';
    switch (letter) {
    case 'F':
        mark[0] = 'D';
        mark[1] = 'F';
        break;
    case 'U':
        mark[0] = 'D';
        mark[1] = digit ? level : 'U';
        break;
    case 'u':
        mark[0] = 'D';
        mark[1] = digit ? (char)(level | 0x80) : 'u';
        break;
    case 'L':
        mark[0] = 'X';
        mark[1] = digit ? level : 'L';
        break;
    default:  // 'l'
        mark[0] = 'x';
        mark[1] = digit ? (char)(level | 0x80) : 'l';
        break;
    }
}

// Reads the three format bytes of the dataset at location.
int readFormatAt(IO_error_routine routine, FILE *stream, int64_t location, char format[3]) {
    if (kwxSeek64(stream, location, 0) != 0) {
        kwxsystemErr(routine, "delete_process_sub: can't go to the dataset location syserr:");
        return IO_ERR_SEEK;
    }
    if (fread(format, 1, 3, stream) != 3) {
        kwxIoError(routine, "delete_process_sub: error reading format tag");
        return IO_ERR_READ;
    }
    return IO_OK;
}

}  // namespace

extern "C" int delete_process_sub(IO_error_routine routine, FILE *stream, int64_t location) {
    if (!stream) return IO_ERR_NOFILE;
    char format[3];
    if (int rc = readFormatAt(routine, stream, location, format)) return rc;
    char c = format[0];
    if (iofmt_is_deleted(c)) return IO_OK;
    if (!iofmt_is_live(c)) {
        kwxIoError(routine, "delete_process_sub: invalid format tag or dataset already deleted");
        return IO_ERR_FORMAT;
    }
    char mark[3];
    deletionMark(format, mark);
    if (kwxSeek64(stream, location, 0) != 0) {
        kwxsystemErr(routine, "delete_process_sub: can't go to the dataset location syserr:");
        return IO_ERR_SEEK;
    }
    if (fwrite(mark, 1, 3, stream) != 3 || fflush(stream) != 0) {
        kwxsystemErr(routine, "delete_process_sub: (can't write the delete tag) syserr:");
        return IO_ERR_WRITE;
    }
    return IO_OK;
}

namespace {

int quietRoutine(const char *, int) { return 0; }

// Whether a name read from a header of the format is the name of an index
// line (its first n characters). Text headers come back without trailing
// white space; the other formats hold a name byte for byte.
bool sameName(char letter, const char *read, const char *line, size_t n) {
    size_t lr = strnlen(read, n), ll = strnlen(line, n);
    if (letter == 'F')
        while (ll > 0 && isspace(static_cast<unsigned char>(line[ll - 1]))) --ll;
    return lr == ll && memcmp(read, line, lr) == 0;
}

// Whether the stream, standing at the start of a dataset, holds the dataset
// that the index line names: its start block and a header of that WHAT,
// WHERE and WHEN. *whole tells whether the start block and header could be
// read at all.
bool startsNamedDataset(FILE *stream, const IO_location &loc, bool *whole = nullptr) {
    IO_file rec;
    memset(&rec, 0, sizeof rec);
    rec.stream = stream;
    char format[3];
    if (whole) *whole = false;
    if (read_located_dataset_start(quietRoutine, format, &rec) != IO_OK) return false;
    char what[IO_WHAT_SIZE], where[IO_WHERE_SIZE], datatype[IO_DATATYPE_SIZE];
    char attributes[IO_MAXATTRIB * IO_ATTRIB_LEN];
    int32_t when = 0, numattrb = 0, number = 0, blockfactor = 0;
    IO_header h = {what, where, &when, &numattrb, attributes, &number, datatype, &blockfactor};
    if (read_header(quietRoutine, format, stream, &h) != IO_OK) return false;
    if (whole) *whole = true;
    return kwxHeaderNamesLine(format[0], what, where, when, &loc) != 0;
}

// The same, read from the first bytes at the location taken with one
// positioned read: the stream and its buffer are left alone (a stream of
// the C runtime drops its buffer at every seek). False when those bytes do
// not hold the whole start and header (the file itself is read then).
bool startReadAtOnce(FILE *stream, const IO_location &loc, bool &holds) {
    const int fd = vrnPlatform_streamFd(stream);
    // Bytes the stream holds for the file go there first.
    if (fd < 0 || loc.location < 0 || (__fpending(stream) > 0 && fflush(stream) != 0)) return false;
    char bytes[4096];
    ssize_t got;
    do {
        got = pread(fd, bytes, sizeof bytes, loc.location);
    } while (got < 0 && errno == EINTR);
    if (got <= 0) return false;
    FILE *start = fmemopen(bytes, static_cast<size_t>(got), "rb");
    if (!start) return false;
    bool whole = false;
    holds = startsNamedDataset(start, loc, &whole);
    fclose(start);
    // A start cut by the end of the bytes read is read from the file.
    return whole || static_cast<size_t>(got) < sizeof bytes;
}


// Binary search of lines first..last, sorted by the part of each line that
// partOf picks, for the line whose part is exactly key; lineAt(i) gives
// line i, or null where the search cannot go on. Null when no line matches.
template <typename LineAt>
char *findSortedLine(int first, int last, const char *key, const char *(*partOf)(const char *),
                     LineAt lineAt) {
    int low = first, high = last;
    while (low <= high) {
        int middle = low + (high - low) / 2;
        char *line = lineAt(middle);
        if (!line) return nullptr;
        int c = strcmp(partOf(line), key);
        if (c == 0) return line;
        if (c < 0)
            low = middle + 1;
        else
            high = middle - 1;
    }
    return nullptr;
}

}  // namespace

extern "C" int kwxHeaderNamesLine(char letter, const char *what, const char *where, int32_t when,
                                  const IO_location *loc) {
    return when == loc->when && sameName(letter, what, loc->what, sizeof loc->what - 1) &&
           sameName(letter, where, loc->where, sizeof loc->where - 1);
}

extern "C" int kwxHoldsNamedDataset(FILE *stream, const IO_location *loc) {
    if (!stream || !loc) return 0;
    bool holds = false;
    if (startReadAtOnce(stream, *loc, holds)) return holds ? 1 : 0;
    // The stream is left where it stood: a search may come between the
    // pieces of a dataset that a caller writes request by request.
    int64_t here = kwxTell64(stream);
    holds = kwxSeek64(stream, loc->location, 0) == 0 && startsNamedDataset(stream, *loc);
    // The seek above wrote out what the stream held: going back writes
    // nothing. (A write of it that failed there is left on the stream.)
    if (here >= 0) (void)kwxSeek64(stream, here, 0);
    return holds ? 1 : 0;
}

extern "C" int delete_process_named(IO_error_routine routine, FILE *stream,
                                    const IO_location *loc) {
    if (!stream || !loc) return IO_ERR_NOFILE;
    char format[3];
    if (int rc = readFormatAt(routine, stream, loc->location, format)) return rc;
    // Only a live dataset of the line's own name gets the mark: a damaged
    // index line must never have it written over another dataset, or into
    // the middle of one. Its line is retired either way.
    if (iofmt_is_live(format[0]) && !kwxHoldsNamedDataset(stream, loc)) {
        kwxIoError(routine,
                   "delete_process_sub: the dataset at %" PRId64
                   " is not %s:%s:%d, its index line is wrong; the file is left unchanged\n",
                   loc->location, loc->what, loc->where, loc->when);
        return IO_OK;
    }
    return delete_process_sub(routine, stream, loc->location);
}

// Retires the line and marks its dataset. A line whose location does not
// hold a live dataset of its name is wrong: it is left as it is and
// KWX_LINE_WRONG answered, so that the index is mended rather than the
// line dropped (with whatever dataset is really there). A dataset already
// marked is accepted.
extern "C" int delete_process(IO_error_routine routine, char *line, char openmode, FILE *stream) {
    IO_location loc;
    int rc = parseindex(routine, line, &loc);
    if (rc != IO_OK) {
        kwxIoError(routine, "delete_process: parseindex failed");
        return rc;
    }
    if (openmode == 'r' || !stream) {
        line[0] = 'N';
        return IO_OK;
    }
    char format[3];
    if ((rc = readFormatAt(routine, stream, loc.location, format))) return rc;
    if (iofmt_is_live(format[0]) && !kwxHoldsNamedDataset(stream, &loc)) return KWX_LINE_WRONG;
    line[0] = 'N';
    return delete_process_sub(routine, stream, loc.location);
}

// Binary search of the WHAT-sorted table for the line whose text after its
// status is exactly key; that line is retired and its dataset marked.
// IO_ERR_NOTLOCATED, without a message, when there is no such line.
extern "C" int delete_bywhat(IO_error_routine routine, char *table, int first, int last,
                             const char *key, char openmode, FILE *stream) {
    char *line = findSortedLine(first, last, key, kwxIndexWhatPart,
                                [table](int i) { return IO_INDEX_LINE(table, i); });
    if (!line) return IO_ERR_NOTLOCATED;
    int rc = delete_process(routine, line, openmode, stream);
    if (rc == KWX_LINE_WRONG) return rc;
    if (rc != IO_OK) {
        kwxIoError(routine, "delete_bywhat: delete_process failed\n");
        return rc;
    }
    return IO_OK;
}

// The WHERE view holds line numbers of the table itself, so the line that
// delete_bywhat retired is already retired here; the search only confirms it.
extern "C" int delete_bywhere(const char *key, IO_file *record, int first, int last) {
    if (!record || !record->wheretable || !key) return IO_OK;
    int covered = kwxWhereViewCount(record);
    if (last >= covered) last = covered - 1;
    char *line = findSortedLine(first, last, key, kwxIndexWherePart, [record](int i) -> char * {
        int32_t lineNo = kwxWhereViewLine(record, i);
        if (lineNo < 0 || lineNo >= record->nlines) return nullptr;
        return IO_INDEX_LINE(record->indextable, lineNo);
    });
    if (line) line[0] = 'N';
    return IO_OK;
}

extern "C" int delete_ds_entry(IO_error_routine routine, const char *what, const char *where,
                               int32_t when, int64_t location, int64_t dslength,
                               IO_file *record) {
    char *key = kwxFormatAlloc("%s%c%s%c%d%c%" PRId64 "%c%" PRId64, what, IO_ESC, where, IO_ESC,
                               when, IO_ESC, dslength, IO_ESC, location);
    if (!key) return IO_ERR_MEMORY;
    // The binary search needs the whole table in order, lines appended since
    // the last search included.
    int rc = kwxIndexSettle(routine, record);
    if (rc != IO_OK) {
        free(key);
        return rc;
    }
    rc = delete_bywhat(routine, record->indextable, 0, record->nlines - 1, key,
                           record->openmode, record->stream);
    if (rc == IO_ERR_WRITE || rc == IO_ERR_SEEK) {
        // The mark did not reach the file (or only part of it did) while the
        // line is retired: the record owes it, and writes it before the
        // file's next change and before its index is stored. The delete
        // answers the failure.
        char *line = findSortedLine(0, record->nlines - 1, key, kwxIndexWhatPart,
                                    [record](int i) { return IO_INDEX_LINE(record->indextable, i); });
        if (line && line[0] == 'N') {
            IO_location loc;
            if (parseindex(routine, line, &loc) != IO_OK || kwxIndexOweMark(routine, record, &loc) != IO_OK)
                line[0] = 'Y';
        }
    }
    free(key);
    if (rc == KWX_LINE_WRONG) return rc;
    if (rc == IO_ERR_NOTLOCATED) {
        // A search of this table handed out the dataset: a line that cannot
        // be found again by its text is not in the form the library writes
        // it. Nothing is deleted, and the delete must not pass for done.
        kwxIoError(routine,
                   "delete_ds: the index line of %s:%s:%d at %" PRId64
                   " is not in the library's form; nothing is deleted\n",
                   what, where, when, location);
        return IO_ERR_PARSE;
    }
    if (rc != IO_OK) {
        kwxIoError(routine, "delete_ds: delete_bywhat failed\n");
        return rc;
    }
    if (record->wheretable) {
        key = kwxFormatAlloc("%s%c%d%c%" PRId64 "%c%" PRId64, where, IO_ESC, when, IO_ESC,
                             dslength, IO_ESC, location);
        if (!key) return IO_ERR_MEMORY;
        rc = delete_bywhere(key, record, 0, record->nlines - 1);
        free(key);
        if (rc != IO_OK) {
            kwxIoError(routine, "delete_ds: delete_bywhere failed\n");
            return rc;
        }
    }
    return IO_OK;
}

namespace {

// delete_ds once: every match whose line is right is deleted; *wrong counts
// the matches whose line was found wrong (left as they are).
[[nodiscard]]
int deleteOnce(IO_error_routine routine, IO_header *header, IO_file *record, int exact, int *wrong) {
    *wrong = 0;
    int32_t nstrings = 0, nints = 0, noffsets = 0;
    std::vector<char> strings(IO_STRING_LEN);
    std::vector<int32_t> ints(1);
    std::vector<int64_t> offsets(1);
    IO_data result;
    memset(&result, 0, sizeof result);
    result.strings = strings.data();
    result.nstrings = &nstrings;
    result.ints = ints.data();
    result.nints = &nints;
    result.offsets = offsets.data();
    result.noffsets = &noffsets;

    int rc = locate_dataset(routine, header, &result, record, exact);
    if (rc == IO_ERR_NOTLOCATED) return IO_OK;
    if (rc == IO_ERR_MEMORY && nints > 0) {
        try {
            kwxIoCountAllocation();
            strings.assign((size_t)nstrings * IO_STRING_LEN, '\0');
            ints.assign((size_t)nints, 0);
            offsets.assign((size_t)noffsets, 0);
        } catch (const std::bad_alloc &) {
            return kwxIoNoMemory(routine, IO_ERR_MEMORY, "delete_ds: (malloc failed) syserr:", IO_NO_SIZE);
        }
        result.strings = strings.data();
        result.ints = ints.data();
        result.offsets = offsets.data();
        rc = locate_dataset(routine, header, &result, record, exact);
        if (rc == IO_ERR_NOTLOCATED) return IO_OK;
    }
    if (rc != IO_OK) {
        kwxIoError(routine, "delete_ds: locate_dataset failed\n");
        return rc;
    }
    int n = nints;
    for (int k = 0; k < n; ++k) {
        char what[IO_STRING_LEN + 1], where[IO_STRING_LEN + 1];
        memcpy(what, &strings[(size_t)(2 * k) * IO_STRING_LEN], IO_STRING_LEN);
        memcpy(where, &strings[(size_t)(2 * k + 1) * IO_STRING_LEN], IO_STRING_LEN);
        what[IO_STRING_LEN] = where[IO_STRING_LEN] = '\0';
        rc = delete_ds_entry(routine, what, where, ints[(size_t)k], offsets[(size_t)(2 * k)],
                             offsets[(size_t)(2 * k + 1)], record);
        if (rc == KWX_LINE_WRONG) {
            ++*wrong;
            continue;
        }
        if (rc != IO_OK) return rc;
    }
    return IO_OK;
}

}  // namespace

// A match whose index line does not name the dataset at its location (a
// damaged stored line) has the index mended from the datasets themselves,
// and the deletion is made again in the mended table: the dataset that is
// really there is neither marked nor dropped from the index.
namespace {

// delete_ds: a line found wrong is mended by a rebuild and the delete done
// again in it.
[[nodiscard]]
int deleteMending(IO_error_routine routine, IO_header *header, IO_file *record, int exact) {
    // A table read from the stored index is checked against the datasets
    // before its first delete (and rebuilt when a line is found wrong): a
    // damaged name or status in the stored line of another copy of the name
    // would hide that copy, which the delete would then leave live, to be
    // found again by this session's next search or by any rebuild.
    int changed = 0;
    if (int rc = kwxIndexRecheck(routine, record, &changed)) return rc;
    int wrong = 0;
    int rc = deleteOnce(routine, header, record, exact, &wrong);
    if (rc != IO_OK || wrong == 0) return rc;
    if ((rc = kwxIndexMendWrongLine(routine, record, &changed))) return rc;
    if (changed && ((rc = deleteOnce(routine, header, record, exact, &wrong)) != IO_OK || wrong == 0))
        return rc;
    kwxIoError(routine,
               "delete_ds: %d index line(s) of %s:%s:%d do not name the dataset at their location; "
               "those datasets are left as they are\n",
               wrong, header->what, header->where, *header->when);
    return IO_OK;
}

}  // namespace

extern "C" int delete_ds(IO_error_routine routine, IO_header *header, IO_file *record, int exact) {
    if (!record || !header) return IO_ERR_MEMORY;
    const int64_t pieces = kwxIoPiecesPosition(record);
    return kwxIoBackToPieces(record, pieces, deleteMending(routine, header, record, exact));
}
