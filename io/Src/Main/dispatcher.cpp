// The request dispatcher: iocntc checks the arguments of a numbered request
// and iocnt carries it out on the control block's primary, secondary or
// plain text file. Each request is one row of kRequests: the file it works
// on, what it reads of the header and of the data arrays, and its handler.
#include "io_files.h"
#include "vrn_platform.h"

#include <algorithm>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

int argError(IO_error_routine routine, const char *message) {
    kwxIoError(routine, message);
    return IO_ERR_MEMORY;
}

// How a request's chars name something: the message when they name
// nothing, whether an empty text counts, and what a failed copy answers.
struct NameRule {
    const char *missing;
    bool emptyAllowed;
    int allocCode;
    const char *allocWho;
};

const NameRule kFileName = {"iocntc: file name is missing\n", false, IO_ERR_ALLOC,
                            "iocnt: error allocating space for file name"};
const NameRule kProbedName = {"iocntc: file name is missing\n", true, IO_ERR_MEMORY,
                              "iocnt: check file state (malloc failed) syserr:"};
const NameRule kFormatText = {"iocntc: character array input is wrong\n", true, IO_ERR_ALLOC,
                              "iocnt: error allocating space for the default format"};

// The text a request carries in its chars: the first count characters when
// the count is not 0, else the array as a NUL-terminated string. A negative
// count names nothing, and the array is then no terminated string either.
int takeName(IO_error_routine routine, const IO_data *data, const NameRule &rule,
             std::string &name) {
    int32_t count = data->nchars ? *data->nchars : 0;
    if (!data->chars || count < 0) return argError(routine, rule.missing);
    size_t n = count != 0 ? strnlen(data->chars, (size_t)count) : strlen(data->chars);
    try {
        kwxIoCountAllocation();
        name.assign(data->chars, n);
    } catch (const std::bad_alloc &) {
        return kwxIoNoMemory(routine, rule.allocCode, rule.allocWho,
                             rule.allocCode == IO_ERR_ALLOC ? (int64_t)n + 1 : IO_NO_SIZE);
    }
    if (name.empty() && !rule.emptyAllowed) return argError(routine, rule.missing);
    return IO_OK;
}

// Runs a request on the primary file and puts the current file back,
// whatever the outcome.
class UsePrimary {
public:
    explicit UsePrimary(IO_control *control) : control_(control), saved_(control->current) {
        control->current = &control->primary;
    }
    ~UsePrimary() { control_->current = saved_; }
    UsePrimary(const UsePrimary &) = delete;
    UsePrimary &operator=(const UsePrimary &) = delete;

private:
    IO_control *control_;
    IO_file *saved_;
};

[[nodiscard]]
int seekTo(IO_error_routine routine, IO_file *file, int64_t offset, const char *message) {
    if (kwxSeek64(file->stream, offset, 0) != 0) {
        kwxsystemErr(routine, message);
        return IO_ERR_SEEK;
    }
    return IO_OK;
}

// The stream's position becomes the file's index position: where the next
// dataset goes and the index is written.
int indexPositionHere(IO_error_routine routine, IO_file *file) {
    int64_t pos = kwxTell64(file->stream);
    if (pos < 0) {
        kwxsystemErr(routine, "iocnt: (can't go to the index location) syserr:");
        return IO_ERR_TELL;
    }
    file->indexpos = pos;
    return IO_OK;
}

[[nodiscard]]
int busy(IO_error_routine routine, IO_file *file, const char *message) {
    int rc = setfilebusyflag(routine, file);
    if (rc != IO_OK) kwxIoError(routine, message);
    return rc;
}

int fmt(IO_error_routine routine, IO_control *control, IO_file *file) {
    return iofmt_default(routine, file->format, control->defaultformat);
}

// Reports an inner failure with the dispatcher's line and hands its code on.
int failed(IO_error_routine routine, int rc, const char *message) {
    if (rc != IO_OK) kwxIoError(routine, message);
    return rc;
}

int openData(IO_error_routine routine, IO_file *file, const std::string &name, bool secondary) {
    // A record that is still open is closed properly first, so that its
    // index is written and its lock given back.
    if (file->stream && iif_close(file) != IO_OK)
        kwxIoError(routine, "iocnt: the file the record held before could not be closed properly\n");
    filerec_reset(file);
    file->routine = routine;
    int rc = iif_open_data(file, name.c_str(), "d");
    if (rc != IO_OK) {
        kwxIoError(routine, secondary ? "iocnt: open the secondary file failed\n"
                                      : "iocnt: open the primary file failed\n");
        // Only the record this request opened is released.
        filerec_free(routine, file);
    }
    return rc;
}

// Messages of a read that may be done again, held until it is known
// whether they stand.
std::vector<std::string> &heldMessages() {
    static std::vector<std::string> *held = new std::vector<std::string>();
    return *held;
}

int holdMessage(const char *message, int length) {
    heldMessages().emplace_back(message, static_cast<size_t>(length > 0 ? length : 0));
    return 0;
}

int readOnce(IO_error_routine routine, IO_header *header, IO_data *data, IO_file *file, bool as) {
    int rc = seekTo(routine, file, data->offsets[0], "iocnt: (can't go to dataset location) syserr:");
    if (rc != IO_OK) return rc;
    rc = read_located_dataset(routine, file->format, header, data, as ? header->datatype : nullptr,
                              file);
    if (rc == IO_OK || rc == IO_ERR_MEMORY) return rc;
    kwxIoError(routine, as ? "iocnt: read_located_dataset_as failed\n"
                           : "iocnt: read_located_dataset failed\n");
    return rc;
}

// Reads at the location the caller found. A table read from the
// stored index is checked against the file when what is there is not the
// dataset its line names (a damaged location, name or status, or bytes that
// are no dataset): rebuilt if need be, and the dataset that line names is
// read from where the file really holds it.
// read(routine) reads at data->offsets[0] into header (and data).
template <typename Read>
int readChecked(IO_error_routine routine, IO_header *header, IO_data *data, IO_file *file, Read read) {
    if (!kwxIndexFromStore(file)) return read(routine);
    const int64_t at = data->offsets[0];
    heldMessages().clear();
    int rc = read(holdMessage);
    std::vector<std::string> held;
    held.swap(heldMessages());
    // Memory that runs out for the check is no request for room (which
    // IO_ERR_MEMORY means to a reader).
    auto release = [&](int code) {
        for (const std::string &m : held) routine(m.data(), static_cast<int>(m.size()));
        return code;
    };
    auto failedCheck = [&](int code) { return release(code == IO_ERR_MEMORY ? IO_ERR_ALLOC : code); };
    if (rc == IO_OK || rc == IO_ERR_MEMORY) {
        int names = 0;
        if (int check = kwxIndexNamesDataset(routine, file, header, at, file->format[0], &names))
            return failedCheck(check);
        if (names) return release(rc);
    }
    IO_location wanted;
    const bool named = kwxIndexLineAt(file, at, &wanted) != 0;
    int changed = 0;
    if (int check = kwxIndexRecheck(routine, file, &changed)) return failedCheck(check);
    if (!changed || !named) return release(rc);
    std::vector<IO_location> found;
    IO_header key = *header;
    char what[sizeof wanted.what + 1], where[sizeof wanted.where + 1];
    int32_t when = wanted.when;
    snprintf(what, sizeof what, "%s", wanted.what);
    snprintf(where, sizeof where, "%s", wanted.where);
    key.what = what;
    key.where = where;
    key.when = &when;
    if (int search = kwxIndexSearch(routine, IO_SORT_NAME, &key, file, found)) return failedCheck(search);
    const IO_location *newest = nullptr;
    for (const IO_location &loc : found)
        if (!newest || loc.location > newest->location) newest = &loc;
    if (!newest) {
        kwxIoError(routine, "iocnt: the file holds no dataset %s:%s:%d", what, where, when);
        return IO_ERR_NOTLOCATED;
    }
    data->offsets[0] = newest->location;
    if (data->noffsets && *data->noffsets >= 2) data->offsets[1] = newest->dslength;
    return read(routine);
}

int readLocated(IO_error_routine routine, IO_header *header, IO_data *data, IO_file *file,
                bool as) {
    return readChecked(routine, header, data, file,
                       [&](IO_error_routine r) { return readOnce(r, header, data, file, as); });
}

int locate(IO_error_routine routine, IO_header *header, IO_data *data, IO_file *file, bool exact) {
    int rc = locate_dataset(routine, header, data, file, exact);
    if (rc == IO_OK || rc == IO_ERR_MEMORY || rc == IO_ERR_NOTLOCATED) return rc;
    kwxIoError(routine, "iocnt: _locate_dataset failed\n");
    return rc;
}

int insertLine(IO_error_routine routine, IO_header *header, IO_data *data, IO_file *file,
               bool sorted) {
    // An index line is split at ESC and stored one per text line: names that
    // hold either, empty names and negative times would corrupt the index.
    auto badName = [](const char *name) {
        size_t n = strnlen(name, IO_WHAT_SIZE);
        return n == 0 || n >= IO_WHAT_SIZE || memchr(name, IO_ESC, n) || memchr(name, '\n', n);
    };
    if (badName(header->what) || badName(header->where) || *header->when < 0 ||
        data->offsets[0] < 0 || data->offsets[1] < 0) {
        kwxIoError(routine, "iocnt: invalid index entry %.*s:%.*s:%d\n", IO_WHAT_SIZE - 1,
                   header->what, IO_WHERE_SIZE - 1, header->where, *header->when);
        return failed(routine, IO_ERR_PARSE,
                      sorted ? "iocnt: can't insert index\n"
                             : "iocnt: can't insert index without sorting\n");
    }
    char line[IO_INDEX_SLOT];
    int rc = kwxMakeIndexLine(line, "Y", header->what, header->where, *header->when,
                              data->offsets[0], data->offsets[1]);
    if (rc == IO_OK)
        rc = sorted ? insert_index(routine, file, line) : insert_index_nosort(routine, file, line);
    return failed(routine, rc,
                  sorted ? "iocnt: can't insert index\n" : "iocnt: can't insert index without sorting\n");
}

int textCheck(IO_error_routine routine, IO_file *text, bool write) {
    if (!text->stream || !text->filename) {
        kwxIoError(routine, "iocnt: no plain text file is opened\n");
        return write ? IO_ERR_WRITE : IO_ERR_READ;
    }
    return IO_OK;
}

// Before any write to the plain text file: it must be open, and it is taken
// for writing (marked busy).
int textWriteCheck(IO_error_routine routine, IO_file *text) {
    int rc = textCheck(routine, text, true);
    if (rc) return rc;
    return busy(routine, text, "iocnt: setfilebusyflag failed when writing a plain text file\n");
}

// Requests 34 to 37: numbers read from or written to the plain text file in
// the text form of the data files, one failure message each.
int textNumbers(IO_error_routine routine, IO_file *text, bool write, void *items, int32_t n,
                int type, const char *failure) {
    int rc = write ? textWriteCheck(routine, text) : textCheck(routine, text, false);
    if (rc) return rc;
    rc = write ? kwxWriteItems(routine, "F", type, items, n, text->stream)
               : kwxReadItems(routine, "F", type, items, n, text->stream);
    if (rc != IO_OK) {
        kwxIoError(routine, failure);
        return write ? IO_ERR_WRITE : IO_ERR_READ;
    }
    return IO_OK;
}

// Request 32: one line into a blank-padded field of count characters.
int readTextLine(IO_error_routine routine, IO_file *text, IO_data *data) {
    int32_t count = *data->nchars;
    std::string line;
    int c;
    bool any = false;
    while ((c = getc(text->stream)) != EOF) {
        any = true;
        if (c == '\n') break;
        line += (char)c;
    }
    if (!any) {
        kwxIoError(routine, "iocnt: read from the plain text file failed\n");
        return IO_ERR_READ;
    }
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\t'))
        line.pop_back();
    size_t n = std::min(line.size(), (size_t)count);
    memcpy(data->chars, line.data(), n);
    memset(data->chars + n, ' ', (size_t)count - n);
    for (size_t i = 0; i < n; ++i)
        if (data->chars[i] == '\0' || data->chars[i] == '\n') data->chars[i] = ' ';
    return IO_OK;
}

// Request 33: count characters (up to a NUL) as one blank-padded line.
int writeTextLine(IO_error_routine routine, IO_file *text, IO_data *data) {
    int32_t count = *data->nchars;
    size_t n = strnlen(data->chars, (size_t)count);
    std::string line(data->chars, n);
    line.append((size_t)count - n, ' ');
    line += '\n';
    if (fwrite(line.data(), 1, line.size(), text->stream) != line.size()) {
        kwxIoError(routine, "iocnt: write to the plain text file failed\n");
        return IO_ERR_WRITE;
    }
    return IO_OK;
}

// ---- the requests ------------------------------------------------------------

// Everything one request works with: its arguments and the control block's
// records (P primary, S secondary, T text, cur the current one).
struct Call {
    IO_error_routine routine;
    IO_header *header;
    IO_data *data;
    IO_control *control;
    IO_file *P, *S, *T, *cur;
    bool exact;   // names of a locate or delete are plain names, not patterns
};

int openPrimary(Call &c) {
    c.control->current = c.P;
    std::string name;
    if (int rc = takeName(c.routine, c.data, kFileName, name)) return rc;
    return openData(c.routine, c.P, name, false);
}

int closeAll(Call &c) {
    c.control->current = nullptr;
    int rs = c.S->stream ? iif_close(c.S) : IO_OK;
    int rp = c.P->stream ? iif_close(c.P) : IO_OK;
    return rs != IO_OK ? rs : rp;
}

int openSecondary(Call &c) {
    std::string name;
    if (int rc = takeName(c.routine, c.data, kFileName, name)) return rc;
    int rc = openData(c.routine, c.S, name, true);
    if (rc == IO_OK) c.control->current = c.S;
    return rc;
}

int closeSecondary(Call &c) {
    int rc = c.S->stream ? iif_close(c.S) : IO_OK;
    c.control->current = c.P;
    return rc;
}

int setFormat(Call &c) {
    char letter = c.data->chars[0];
    char *format = c.cur->format;
    format[0] = letter;
    format[1] = (letter == 'U' || letter == 'u' || letter == 'L' || letter == 'l') ? '5' : '\0';
    format[2] = '\0';
    iofmt_make_native(c.routine, format);
    return IO_OK;
}

int deleteDataset(Call &c) {
    if (int rc = busy(c.routine, c.cur, "iocnt: setfilebusyflag failed when deleting a data set\n"))
        return rc;
    return failed(c.routine, delete_ds(c.routine, c.header, c.cur, c.exact),
                  "iocnt: delete a dataset failed\n");
}

// A name that the file's format cannot hold as it is is refused before the
// file is touched, in the words of the header writer that would refuse it.
int checkName(Call &c) {
    return kwxCheckDatasetName(c.routine, c.cur->format, c.header->what, c.header->where,
                               *c.header->when, "write_header");
}

int writeDataset(Call &c) {
    fmt(c.routine, c.control, c.cur);
    if (int rc = checkName(c)) return rc;
    if (int rc = busy(c.routine, c.cur, "iocnt: setfilebusyflag failed when writing a data set\n"))
        return rc;
    // write_dataset goes to the index position itself.
    int rc = write_dataset(c.routine, c.cur->format, c.header, c.data, c.cur);
    if (rc != IO_OK) return failed(c.routine, rc, "iocnt: write dataset failed\n");
    return indexPositionHere(c.routine, c.cur);
}

int locateDataset(Call &c) { return locate(c.routine, c.header, c.data, c.cur, c.exact); }

int locatePrimaryDataset(Call &c) { return locate(c.routine, c.header, c.data, c.P, c.exact); }

int deletePrimaryDataset(Call &c) {
    if (int rc = busy(c.routine, c.P, "iocnt: setfilebusyflag failed when req =IO_DELETE_PRIMARY_DS\n"))
        return rc;
    return failed(c.routine, delete_ds(c.routine, c.header, c.P, c.exact), "iocnt: delete_ds failed\n");
}

int readDataset(Call &c) { return readLocated(c.routine, c.header, c.data, c.cur, false); }

int readHeader(Call &c) {
    IO_file *cur = c.cur;
    return readChecked(c.routine, c.header, c.data, cur, [&](IO_error_routine routine) {
        if (int rc = seekTo(routine, cur, c.data->offsets[0], "iocnt: (can't go to the dataset location) syserr:"))
            return rc;
        if (int rc = read_located_dataset_start(routine, cur->format, cur))
            return failed(routine, rc, "iocnt: read dataset start block failed\n");
        return failed(routine, read_header(routine, cur->format, cur->stream, c.header),
                      "iocnt: read dataset header failed\n");
    });
}

// The position of the stream into *pos; 8 with the message when it is lost.
int tellInto(IO_error_routine routine, IO_file *file, int64_t *pos) {
    *pos = kwxTell64(file->stream);
    if (*pos < 0) {
        kwxsystemErr(routine, "iocnt: (can't tell file pointer location) syserr:");
        return IO_ERR_SEEK;
    }
    return IO_OK;
}

int writeHeader(Call &c) {
    IO_error_routine routine = c.routine;
    IO_file *cur = c.cur;
    int rc;
    fmt(routine, c.control, cur);
    if ((rc = checkName(c))) return rc;
    if ((rc = busy(routine, cur, "iocnt: setfilebusyflag failed when writing a data set header\n")))
        return rc;
    if ((rc = seekTo(routine, cur, cur->indexpos, "iocnt: (can't go to the dataset location) syserr:")))
        return rc;
    // From here on a write of the stream that fails marks it: the dataset
    // is then not indexed (see insertPiecesLine).
    clearerr(cur->stream);
    kwxIoSetPiecesUnderWay(cur, 1);
    char bytes[3] = {cur->format[0], cur->format[1], '\n'};
    if (fwrite(bytes, 1, 3, cur->stream) != 3) {
        kwxsystemErr(routine, "iocnt: (can't write the dataset format) syserr:");
        return IO_ERR_WRITE;
    }
    if ((rc = tellInto(routine, cur, &c.data->offsets[0]))) return rc;
    int64_t zero = 0;
    if (kwxwriteOffset(routine, cur->format, &zero, cur->offsetwidth, cur->stream)) {
        kwxIoError(routine, "iocnt: can't write dataset length\n");
        return IO_ERR_WRITE;
    }
    if ((rc = tellInto(routine, cur, &c.data->offsets[1]))) return rc;
    if ((rc = kwxwriteTag(routine, cur->format, "*DATASET", cur->stream)))
        return failed(routine, rc, "iocnt: can't write dataset tag\n");
    return failed(routine, write_header(routine, cur->format, cur->stream, c.header),
                  "iocnt: write header failed\n");
}

int readData(Call &c) {
    if (*c.header->number < 1) return IO_OK;
    return failed(c.routine,
                  read_data(c.routine, c.cur->format, c.cur->stream, *c.header->number,
                            c.header->datatype, c.data),
                  "iocnt: read data failed\n");
}

// The piecewise writes take the write lock like every other write: their
// bytes must not change a file that others are reading, and the index must
// be written again at close over whatever they wrote where it stood.
int writeData(Call &c) {
    if (int rc = busy(c.routine, c.cur, "iocnt: setfilebusyflag failed when req =IO_WRITE_DATA\n"))
        return rc;
    fmt(c.routine, c.control, c.cur);
    return failed(c.routine,
                  write_data(c.routine, c.cur->format, c.cur->stream, *c.header->number,
                             c.header->datatype, c.data),
                  "iocnt: write data failed\n");
}

int indexCount(Call &c) {
    c.data->ints[0] = c.cur->nlines;
    return IO_OK;
}

int copyDataset(Call &c) {
    if (int rc = busy(c.routine, c.cur, "iocnt: setfilebusyflag failed when req =IO_COPY_DATASET\n"))
        return rc;
    if (int rc = seekTo(c.routine, c.P, c.data->offsets[0],
                        "iocnt: (can't go to the dataset location) syserr:"))
        return rc;
    IO_header *h = c.header;
    return failed(c.routine, copy_dataset(c.routine, h->what, h->where, *h->when, c.cur, c.P),
                  "iocnt: copy_dataset failed\n");
}

int copyAllValid(Call &c) {
    if (int rc = busy(c.routine, c.cur, "iocnt: setfilebusyflag failed when req =IO_COPY_ALLVALID_DS\n"))
        return rc;
    return failed(c.routine, copy_allvalid_ds(c.routine, c.cur, c.P), "iocnt: copy_allvalid_ds failed\n");
}

int readPrimaryDataset(Call &c) {
    UsePrimary use(c.control);
    return readLocated(c.routine, c.header, c.data, c.P, false);
}

int writeEndTag(Call &c) {
    if (int rc = busy(c.routine, c.cur, "iocnt: setfilebusyflag failed when req =IO_WRITE_ENDTAG\n"))
        return rc;
    fmt(c.routine, c.control, c.cur);
    return failed(c.routine, kwxwriteTag(c.routine, c.cur->format, "*ENDDATASET", c.cur->stream),
                  "iocnt: can't write dataset end tag\n");
}

int tell(Call &c) {
    int64_t pos = kwxTell64(c.cur->stream);
    if (pos < 0) {
        kwxsystemErr(c.routine, "iocnt: (can't tell the current position for the dataset) syserr:");
        return IO_ERR_TELL;
    }
    c.data->offsets[0] = pos;
    *c.data->noffsets = 1;
    return IO_OK;
}

int writeLength(Call &c) {
    if (int rc = busy(c.routine, c.cur, "iocnt: setfilebusyflag failed when req =IO_WRITE_LENGTH\n"))
        return rc;
    fmt(c.routine, c.control, c.cur);
    return failed(c.routine,
                  kwxwriteOffset(c.routine, c.cur->format, &c.data->offsets[0], c.cur->offsetwidth,
                                 c.cur->stream),
                  "iocnt: can't write dataset length\n");
}

int seek(Call &c) {
    return seekTo(c.routine, c.cur, c.data->offsets[0],
                  "iocnt: (can't go to the offset position for the dataset) syserr:");
}

int setIndexPosition(Call &c) { return indexPositionHere(c.routine, c.cur); }

// Before the line of the dataset under way is inserted, every byte of it
// goes to the file. A write of its pieces that failed, here or in any
// request since its header (the stream carries the error; a stream whose
// write fails drops the bytes it held), leaves it short of bytes while its
// lengths may frame: it is cut off with "*CRASH" and left out of the index,
// and the next dataset, or the index at close, goes where it began.
[[nodiscard]]
int piecesWritten(IO_error_routine routine, IO_file *file, int64_t start) {
    if (fflush(file->stream) == 0 && !ferror(file->stream)) return IO_OK;
    kwxsystemErr(routine, "iocnt: (a write of the dataset written request by request failed) syserr:");
    kwxIoError(routine, "iocnt: the dataset at offset %" PRId64 " is not whole; it is cut off and not indexed", start);
    clearerr(file->stream);
    const int fd = vrnPlatform_streamFd(file->stream);
    if (fd < 0 || vrnPlatform_pwrite(fd, "*CRASH", 6, start) < 0)
        kwxIoTrace("iocnt: can't write the end tag over the dataset at %" PRId64, start);
    file->indexpos = start;
    kwxIoSetPiecesUnderWay(file, 0);
    return IO_ERR_WRITE;
}

// Inserting its index line ends a dataset written request by request.
int insertPiecesLine(Call &c, bool sorted) {
    const int64_t start = kwxIoPiecesStart(c.cur);
    if (start >= 0 && c.data->offsets[1] == start) {
        if (int rc = piecesWritten(c.routine, c.cur, start))
            return failed(c.routine, rc, sorted ? "iocnt: can't insert index\n" : "iocnt: can't insert index without sorting\n");
    }
    int rc = insertLine(c.routine, c.header, c.data, c.cur, sorted);
    if (rc == IO_OK) kwxIoSetPiecesUnderWay(c.cur, 0);
    return rc;
}

int insertIndex(Call &c) { return insertPiecesLine(c, true); }

int indexPosition(Call &c) {
    c.data->offsets[0] = c.cur->indexpos;
    return IO_OK;
}

int readDataTag(Call &c) {
    return failed(c.routine, read_datatag(c.routine, c.cur->format, c.cur->stream),
                  "iocnt: can't read datatag length\n");
}

int writeDataTag(Call &c) {
    if (int rc = busy(c.routine, c.cur, "iocnt: setfilebusyflag failed when req =IO_WRITE_DATATAG\n"))
        return rc;
    fmt(c.routine, c.control, c.cur);
    return failed(c.routine, write_datatag(c.routine, c.cur->format, c.cur->stream),
                  "iocnt: can't write datatag length\n");
}

int usePrimary(Call &c) {
    c.control->current = c.P;
    return IO_OK;
}

int useSecondary(Call &c) {
    c.control->current = c.S;
    return IO_OK;
}

int openText(Call &c) {
    std::string name;
    if (int rc = takeName(c.routine, c.data, kFileName, name)) return rc;
    if (c.T->stream && iif_close_text(c.T) != IO_OK)
        kwxIoError(c.routine, "iocnt: the plain text file open before could not be closed properly\n");
    filerec_reset(c.T);
    int rc = iif_open_text(c.T, name.c_str(), "d");
    if (rc != IO_OK) {
        kwxIoError(c.routine, "iocnt: opening the plain file failed\n");
        filerec_free(c.routine, c.T);
    }
    return rc;
}

int closeText(Call &c) { return iif_close_text(c.T); }

int readTextLineRequest(Call &c) {
    if (int rc = textCheck(c.routine, c.T, false)) return rc;
    return readTextLine(c.routine, c.T, c.data);
}

int writeTextLineRequest(Call &c) {
    if (int rc = textWriteCheck(c.routine, c.T)) return rc;
    return writeTextLine(c.routine, c.T, c.data);
}

int readTextInts(Call &c) {
    return textNumbers(c.routine, c.T, false, c.data->ints, *c.data->nints, IO_INTR,
                       "iocnt: fail to read integers from the plain text file\n");
}

int writeTextInts(Call &c) {
    return textNumbers(c.routine, c.T, true, c.data->ints, *c.data->nints, IO_INTR,
                       "iocnt: fail to write integers to the plain text file\n");
}

int readTextReals(Call &c) {
    return textNumbers(c.routine, c.T, false, c.data->reals, *c.data->nreals, IO_REAL,
                       "iocnt: fail to read real numbers from the plain text file\n");
}

int writeTextReals(Call &c) {
    return textNumbers(c.routine, c.T, true, c.data->reals, *c.data->nreals, IO_REAL,
                       "iocnt: fail to write real numbers to the plain text file\n");
}

int fileExists(Call &c) {
    std::string name;
    if (int rc = takeName(c.routine, c.data, kProbedName, name)) return rc;
    FILE *f = fopen(name.c_str(), "rbe");
    if (!f) return IO_ERR_NOEXIST;
    fclose(f);
    return IO_OK;
}

int copyWhen0(Call &c) {
    if (int rc = busy(c.routine, c.cur, "iocnt: setfilebusyflag failed when req =IO_COPY_WHEN0_DS\n"))
        return rc;
    return failed(c.routine, copy_when0_ds(c.routine, c.cur, c.P), "iocnt: copy_when0_ds failed\n");
}

int insertIndexNoSort(Call &c) { return insertPiecesLine(c, false); }

int updateIndex(Call &c) {
    return failed(c.routine, update_index(c.routine, c.cur), "iocnt: can not update the index\n");
}

// The rebuilt index is written at flush by a handle that holds, or can
// take, the write lock; the request itself takes no lock. A rebuild that
// fails leaves the record as it was: the index it had still finds every
// dataset, where the one cut short at the failure would lose those after
// it, and would be written over the stored index at close.
int recreateIndex(Call &c) {
    IO_file *cur = c.cur;
    size_t bytes = cur->indextable ? (size_t)cur->nlines * IO_INDEX_SLOT : 0;
    std::unique_ptr<char, decltype(&free)> lines(nullptr, free);
    if (bytes > 0) {
        lines.reset(static_cast<char *>(kwxIoMalloc(bytes)));
        if (!lines) return kwxIoNoMemory(c.routine, IO_ERR_ALLOC, "iocnt: recreate index", (int64_t)bytes);
        memcpy(lines.get(), cur->indextable, bytes);
    }
    const bool hadTable = cur->indextable != nullptr;
    const int32_t nlines = cur->nlines, sorted = cur->sorted, head = cur->sortedhead,
                  dirty = cur->indexdirty;
    const int64_t indexpos = cur->indexpos;
    cur->indexdirty = 1;
    int rc = recreate_indextable(c.routine, cur);
    // What this record retired stays retired: the rebuild lists those
    // datasets live until the marks it owes reach the file.
    if (rc == IO_OK) rc = kwxIndexRetireOwed(c.routine, cur);
    if (rc != IO_OK && hadTable) {
        const int32_t partial = cur->nlines;
        cur->nlines = nlines;
        if (indextable_alloc(cur) == IO_OK) {
            if (bytes > 0) memcpy(cur->indextable, lines.get(), bytes);
            cur->sorted = sorted;
            cur->sortedhead = head;
            cur->indexdirty = dirty;
            cur->indexpos = indexpos;
        } else {
            cur->nlines = partial;
        }
    }
    return failed(c.routine, rc, "iocnt: cannot recreate index\n");
}

int readDatasetAs(Call &c) { return readLocated(c.routine, c.header, c.data, c.cur, true); }

int readPrimaryDatasetAs(Call &c) {
    UsePrimary use(c.control);
    return readLocated(c.routine, c.header, c.data, c.P, true);
}

int copyCompressWhen(Call &c) {
    if (int rc = busy(c.routine, c.cur, "iocnt: setfilebusyflag failed when req =IO_COPY_DS_COMPRESS_WHEN\n"))
        return rc;
    return failed(c.routine, copy_all_ds_compress_when(c.routine, c.cur, c.P),
                  "iocnt: copy_all_ds_compress_when failed\n");
}

int copyChosen(Call &c) {
    if (int rc = busy(c.routine, c.cur, "iocnt: setfilebusyflag failed when copying chosen datasets\n"))
        return rc;
    const bool given = c.data && c.data->offsets && c.data->noffsets;
    return failed(c.routine,
                  copy_chosen_ds_compress_when(c.routine, c.cur, c.P,
                                               given ? c.data->offsets : nullptr,
                                               given ? *c.data->noffsets : 0),
                  "iocnt: copy_chosen_ds_compress_when failed\n");
}

int setDefaultFormat(Call &c) {
    std::string text;
    if (int rc = takeName(c.routine, c.data, kFormatText, text)) return rc;
    char *copy = kwxIoStrdup(text.c_str());
    if (!copy)
        return kwxIoNoMemory(c.routine, IO_ERR_ALLOC, kFormatText.allocWho, (int64_t)text.size() + 1);
    free(c.control->defaultformat);
    c.control->defaultformat = copy;
    return IO_OK;
}

int writeCompressedData(Call &c) {
    if (int rc = busy(c.routine, c.cur, "iocnt: setfilebusyflag failed when req =IO_WRITE_COMPRESSED_DATA\n"))
        return rc;
    fmt(c.routine, c.control, c.cur);
    return failed(c.routine,
                  write_compressed_data(c.routine, c.cur->format, c.cur->stream, *c.header->number,
                                        c.data->chars),
                  "iocnt: write compressed data failed\n");
}

int currentHandle(Call &c) {
    c.data->offsets[0] = (int64_t)(intptr_t)c.cur;
    return IO_OK;
}

// ---- the request table ---------------------------------------------------------

// Which file a request works on: the current, the primary or the text one;
// None for requests that open, close or need no open file.
enum class Target : unsigned char { None, Current, Primary, Text };

// What a request reads of the header: nothing, the count and datatype of
// the data, or the whole header.
enum class HeaderUse : unsigned char { None, Data, Full };

// The arrays a request reads or fills besides the offsets, checked before
// it runs.
enum class Arrays : unsigned char {
    None,
    Locate,        // strings and ints with their counts for the results
    Count,         // one int for the line count
    Chars,         // a character array
    TextChars,     // a character array with a count of 0 or more
    TextInts,      // at least one int
    TextReals,     // at least one real
    Compressed,    // the header's count of bytes in the character array
};

struct RequestRow {
    Target target;
    HeaderUse header;
    bool offsetArray;    // the offsets array must be given
    int8_t offsetsUsed;  // offsets read or written: the array must hold them
    Arrays arrays;
    bool fromPrimary;    // copies from the primary file, which must be open too
    int (*run)(Call &);
};

using T = Target;
using H = HeaderUse;
using A = Arrays;

// One row per request, in code order.
const RequestRow kRequests[] = {
    /* IO_OPEN_PRIMARY          */ {T::None, H::None, false, 0, A::None, false, openPrimary},
    /* IO_CLOSE_ALL             */ {T::None, H::None, false, 0, A::None, false, closeAll},
    /* IO_OPEN_SECONDARY        */ {T::None, H::None, false, 0, A::None, false, openSecondary},
    /* IO_CLOSE_SECONDARY       */ {T::None, H::None, false, 0, A::None, false, closeSecondary},
    /* IO_SET_FORMAT            */ {T::Current, H::None, false, 0, A::Chars, false, setFormat},
    /* IO_DELETE_DS             */ {T::Current, H::Full, false, 0, A::None, false, deleteDataset},
    /* IO_WRITE_DS              */ {T::Current, H::Full, false, 0, A::None, false, writeDataset},
    /* IO_LOCATE_DS             */ {T::Current, H::Full, true, 0, A::Locate, false, locateDataset},
    /* IO_LOCATE_PRIMARY_DS     */ {T::Primary, H::Full, true, 0, A::Locate, false, locatePrimaryDataset},
    /* IO_DELETE_PRIMARY_DS     */ {T::Primary, H::Full, false, 0, A::None, false, deletePrimaryDataset},
    /* IO_READ_DS               */ {T::Current, H::Full, true, 1, A::None, false, readDataset},
    /* IO_READ_HEADER           */ {T::Current, H::Full, true, 1, A::None, false, readHeader},
    /* IO_WRITE_HEADER          */ {T::Current, H::Full, true, 2, A::None, false, writeHeader},
    /* IO_READ_DATA             */ {T::Current, H::Data, false, 0, A::None, false, readData},
    /* IO_WRITE_DATA            */ {T::Current, H::Data, false, 0, A::None, false, writeData},
    /* IO_INDEX_COUNT           */ {T::Current, H::None, false, 0, A::Count, false, indexCount},
    /* IO_COPY_DATASET          */ {T::Current, H::Full, true, 1, A::None, true, copyDataset},
    /* IO_COPY_ALLVALID_DS      */ {T::Current, H::None, false, 0, A::None, true, copyAllValid},
    /* IO_READ_PRIMARY_DS       */ {T::Primary, H::Full, true, 1, A::None, false, readPrimaryDataset},
    /* IO_WRITE_ENDTAG          */ {T::Current, H::Full, false, 0, A::None, false, writeEndTag},
    /* IO_TELL                  */ {T::Current, H::Full, false, 1, A::None, false, tell},
    /* IO_WRITE_LENGTH          */ {T::Current, H::Full, false, 1, A::None, false, writeLength},
    /* IO_SEEK                  */ {T::Current, H::Full, false, 1, A::None, false, seek},
    /* IO_SET_INDEX_POSITION    */ {T::Current, H::Full, false, 0, A::None, false, setIndexPosition},
    /* IO_INSERT_INDEX          */ {T::Current, H::Full, false, 2, A::None, false, insertIndex},
    /* IO_INDEX_POSITION        */ {T::Current, H::Full, false, 1, A::None, false, indexPosition},
    /* IO_READ_DATATAG          */ {T::Current, H::Full, false, 0, A::None, false, readDataTag},
    /* IO_WRITE_DATATAG         */ {T::Current, H::Full, false, 0, A::None, false, writeDataTag},
    /* IO_USE_PRIMARY           */ {T::None, H::Full, false, 0, A::None, false, usePrimary},
    /* IO_USE_SECONDARY         */ {T::None, H::Full, false, 0, A::None, false, useSecondary},
    /* IO_OPEN_TEXT             */ {T::None, H::Full, false, 0, A::None, false, openText},
    /* IO_CLOSE_TEXT            */ {T::None, H::Full, false, 0, A::None, false, closeText},
    /* IO_READ_TEXT_LINE        */ {T::Text, H::Full, false, 0, A::TextChars, false, readTextLineRequest},
    /* IO_WRITE_TEXT_LINE       */ {T::Text, H::Full, false, 0, A::TextChars, false, writeTextLineRequest},
    /* IO_READ_TEXT_INTS        */ {T::Text, H::Full, false, 0, A::TextInts, false, readTextInts},
    /* IO_WRITE_TEXT_INTS       */ {T::Text, H::Full, false, 0, A::TextInts, false, writeTextInts},
    /* IO_READ_TEXT_REALS       */ {T::Text, H::Full, false, 0, A::TextReals, false, readTextReals},
    /* IO_WRITE_TEXT_REALS      */ {T::Text, H::Full, false, 0, A::TextReals, false, writeTextReals},
    /* IO_FILE_EXISTS           */ {T::None, H::Full, false, 0, A::None, false, fileExists},
    /* IO_COPY_WHEN0_DS         */ {T::Current, H::None, false, 0, A::None, true, copyWhen0},
    /* IO_INSERT_INDEX_NOSORT   */ {T::Current, H::Full, false, 2, A::None, false, insertIndexNoSort},
    /* IO_UPDATE_INDEX          */ {T::Current, H::Full, false, 0, A::None, false, updateIndex},
    /* IO_RECREATE_INDEX        */ {T::Current, H::Full, false, 0, A::None, false, recreateIndex},
    /* IO_READ_DS_AS            */ {T::Current, H::Full, true, 1, A::None, false, readDatasetAs},
    /* IO_READ_PRIMARY_DS_AS    */ {T::Primary, H::Full, true, 1, A::None, false, readPrimaryDatasetAs},
    /* IO_COPY_DS_COMPRESS_WHEN */ {T::Current, H::None, false, 0, A::None, true, copyCompressWhen},
    /* IO_SET_DEFAULT_FORMAT    */ {T::None, H::None, false, 0, A::Chars, false, setDefaultFormat},
    /* IO_WRITE_COMPRESSED_DATA */ {T::Current, H::Full, false, 0, A::Compressed, false, writeCompressedData},
    /* IO_CURRENT_HANDLE        */ {T::Current, H::Full, false, 1, A::None, false, currentHandle},
};
static_assert(sizeof kRequests / sizeof kRequests[0] == IO_CURRENT_HANDLE + 1,
              "one row per request code");

// The row of a request code, or null for an unknown code (negative ones too).
const RequestRow *rowOf(int request) {
    return (unsigned)request <= IO_CURRENT_HANDLE ? &kRequests[request] : nullptr;
}

// Whether the file a request works on is open (always true for requests
// that open, close or need no file).
bool fileOpenFor(const RequestRow &row, const IO_control *control) {
    const IO_file *file = nullptr;
    switch (row.target) {
    case Target::Current: file = control->current; break;
    case Target::Primary: file = &control->primary; break;
    default: return true;
    }
    return file && file->stream && (!row.fromPrimary || control->primary.stream);
}

int checkHeader(const RequestRow &row, IO_error_routine routine, const IO_header *header) {
    if (row.header == HeaderUse::None) return IO_OK;
    if (!header) return argError(routine, "iocntc: IO_header structure is null\n");
    bool complete = row.header == HeaderUse::Data
                        ? header->number && header->datatype
                        : header->what && header->where && header->when && header->numattrb &&
                              header->number && header->datatype && header->blockfactor &&
                              (header->attributes || *header->numattrb == 0);
    return complete ? IO_OK : argError(routine, "iocntc: header input is wrong\n");
}

int checkArrays(const RequestRow &row, IO_error_routine routine, const IO_header *header,
                const IO_data *d) {
    bool offsetsGiven = d->offsets && d->noffsets;
    if ((row.offsetArray && !offsetsGiven) ||
        (row.offsetsUsed > 0 && (!offsetsGiven || *d->noffsets < row.offsetsUsed)))
        return argError(routine, "iocntc: offset array input is wrong\n");
    switch (row.arrays) {
    case Arrays::None: break;
    case Arrays::Locate:
        if (!d->strings || !d->nstrings || !d->ints || !d->nints)
            return argError(routine, "iocntc: stringarray or intrarray is wrong\n");
        break;
    case Arrays::Count:
    case Arrays::TextInts:
        if (!d->ints || !d->nints || *d->nints < 1)
            return argError(routine, "iocntc: integer array input is wrong\n");
        break;
    case Arrays::Chars:
        if (!d->chars) return argError(routine, "iocntc: character array input is wrong\n");
        break;
    case Arrays::TextChars:
        if (!d->chars || !d->nchars || *d->nchars < 0)
            return argError(routine, "iocntc: character array input is wrong\n");
        break;
    case Arrays::TextReals:
        if (!d->reals || !d->nreals || *d->nreals < 1)
            return argError(routine, "iocntc: real array input is wrong\n");
        break;
    case Arrays::Compressed:
        if (!d->chars || !d->nchars || *header->number < 0 || *d->nchars < *header->number)
            return argError(routine, "iocntc: character array input is wrong\n");
        break;
    }
    return IO_OK;
}

// Runs a request whose row is known. Called directly, without the checks of
// iocntc, a request on a closed file still answers instead of reaching into
// a record that is not there.
int runRow(const RequestRow &row, int request, IO_error_routine routine, IO_header *header,
           IO_data *data, IO_control *control, bool exact = false) {
    if (!fileOpenFor(row, control)) {
        kwxIoError(routine, "iocnt: no file is open for request %d\n", request);
        return IO_ERR_NOFILE;
    }
    Call call = {routine, header, data, control, &control->primary, &control->secondary,
                 &control->text, control->current, exact};
    try {
        return row.run(call);
    } catch (const std::bad_alloc &) {
        return kwxIoNoMemory(routine, IO_ERR_ALLOC, "iocnt", 0);
    }
}

}  // namespace

extern "C" IO_control *iocontrol_alloc(void) {
    return static_cast<IO_control *>(kwxIoCalloc(1, sizeof(IO_control)));
}

extern "C" void iocontrol_free(IO_control *control) {
    if (!control) return;
    // The caller closes with request 1 first, but request 1 leaves the text
    // file open: whatever is still open is closed properly here, so that no
    // lock file outlives its handle and keeps the file locked for others.
    // Nothing answers here: a close that fails reports through the record's
    // routine.
    if (control->text.stream) (void)iif_close_text(&control->text);
    if (control->secondary.stream) (void)iif_close(&control->secondary);
    if (control->primary.stream) (void)iif_close(&control->primary);
    filerec_release(&control->primary);
    filerec_release(&control->secondary);
    filerec_release(&control->text);
    free(control->defaultformat);
    free(control);
}

extern "C" int iocntc(int request, IO_error_routine routine, IO_header *header, IO_data *data,
                      IO_control *control) {
    if (!routine) return IO_ERR_ROUTINE;
    if (!data) return argError(routine, "iocntc: IO_data structure is null\n");
    if (!control) return argError(routine, "iocntc: IO_control structure is null\n");
    const RequestRow *row = rowOf(request);
    if (!row) return iocnt(request, routine, header, data, control);
    if (int rc = checkHeader(*row, routine, header)) return rc;
    if (int rc = checkArrays(*row, routine, header, data)) return rc;
    // A request on a file that is not open answers so instead of failing
    // somewhere inside.
    if (!fileOpenFor(*row, control)) {
        kwxIoError(routine, "iocntc: no file is open for request %d\n", request);
        return IO_ERR_NOFILE;
    }
    return iocnt(request, routine, header, data, control);
}

namespace {

// A control block's records take format U5 until a request sets another.
void initialise(IO_control *control) {
    if (control->initialised) return;
    control->initialised = 1;
    memcpy(control->primary.format, "U5", 3);
    memcpy(control->secondary.format, "U5", 3);
    memcpy(control->text.format, "U5", 3);
}

}  // namespace

extern "C" int iocnt(int request, IO_error_routine routine, IO_header *header, IO_data *data,
                     IO_control *control) {
    if (!routine) routine = kwxIoDefaultErrorRoutine;
    if (!control) return IO_ERR_MEMORY;
    initialise(control);
    const RequestRow *row = rowOf(request);
    if (!row) {
        kwxIoError(routine, "iocnt: unknown request\n");
        return IO_ERR_REQUEST;
    }
    return runRow(*row, request, routine, header, data, control);
}

extern "C" int iocnt_copychosen(IO_error_routine routine, IO_data *data, IO_control *control) {
    if (!routine) routine = kwxIoDefaultErrorRoutine;
    if (!control) return IO_ERR_MEMORY;
    if (!data) return argError(routine, "iocnt_copychosen: IO_data structure is null\n");
    static const RequestRow kCopyChosen = {T::Current, H::None, true, 0, A::None, true, copyChosen};
    if (int rc = checkArrays(kCopyChosen, routine, nullptr, data)) return rc;
    return runRow(kCopyChosen, IO_COPY_DS_COMPRESS_WHEN, routine, nullptr, data, control);
}

extern "C" int iocnt_exact(int request, IO_error_routine routine, IO_header *header, IO_data *data,
                           IO_control *control) {
    if (!routine) return IO_ERR_ROUTINE;
    if (!data) return argError(routine, "iocnt_exact: IO_data structure is null\n");
    if (!control) return argError(routine, "iocnt_exact: IO_control structure is null\n");
    if (request != IO_LOCATE_DS && request != IO_LOCATE_PRIMARY_DS && request != IO_DELETE_DS &&
        request != IO_DELETE_PRIMARY_DS) {
        kwxIoError(routine, "iocnt_exact: request %d takes no names\n", request);
        return IO_ERR_REQUEST;
    }
    const RequestRow &row = kRequests[request];
    if (int rc = checkHeader(row, routine, header)) return rc;
    if (int rc = checkArrays(row, routine, header, data)) return rc;
    if (!fileOpenFor(row, control)) {
        kwxIoError(routine, "iocnt_exact: no file is open for request %d\n", request);
        return IO_ERR_NOFILE;
    }
    initialise(control);
    return runRow(row, request, routine, header, data, control, true);
}
