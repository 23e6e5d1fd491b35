// The request dispatcher: iocntc checks the arguments of a numbered request
// and iocnt carries it out on the control block's primary, secondary or
// plain text file.
#include "io_files.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

// Requests that need no dataset header.
bool needsNoHeader(int request) {
    switch (request) {
    case IO_OPEN_PRIMARY:
    case IO_CLOSE_ALL:
    case IO_OPEN_SECONDARY:
    case IO_CLOSE_SECONDARY:
    case IO_SET_FORMAT:
    case IO_READ_DATA:
    case IO_WRITE_DATA:
    case IO_INDEX_COUNT:
    case IO_COPY_ALLVALID_DS:
    case IO_COPY_WHEN0_DS:
    case IO_COPY_DS_COMPRESS_WHEN:
    case IO_SET_DEFAULT_FORMAT:
        return true;
    default:
        return false;
    }
}

bool needsOffsets(int request) {
    switch (request) {
    case IO_LOCATE_DS:
    case IO_LOCATE_PRIMARY_DS:
    case IO_READ_DS:
    case IO_READ_HEADER:
    case IO_WRITE_HEADER:
    case IO_COPY_DATASET:
    case IO_READ_PRIMARY_DS:
    case IO_READ_DS_AS:
    case IO_READ_PRIMARY_DS_AS:
        return true;
    default:
        return false;
    }
}

// Offsets that a request reads or writes beyond the locate results: the
// array must hold at least this many.
int offsetsUsed(int request) {
    switch (request) {
    case IO_READ_DS:
    case IO_READ_HEADER:
    case IO_COPY_DATASET:
    case IO_READ_PRIMARY_DS:
    case IO_TELL:
    case IO_WRITE_LENGTH:
    case IO_SEEK:
    case IO_INDEX_POSITION:
    case IO_READ_DS_AS:
    case IO_READ_PRIMARY_DS_AS:
    case IO_CURRENT_HANDLE:
        return 1;
    case IO_WRITE_HEADER:
    case IO_INSERT_INDEX:
    case IO_INSERT_INDEX_NOSORT:
        return 2;
    default:
        return 0;
    }
}

// Which file a request works on.
enum class Target { None, Current, Primary, Text };

Target targetOf(int request) {
    switch (request) {
    case IO_OPEN_PRIMARY:
    case IO_CLOSE_ALL:
    case IO_OPEN_SECONDARY:
    case IO_CLOSE_SECONDARY:
    case IO_USE_PRIMARY:
    case IO_USE_SECONDARY:
    case IO_OPEN_TEXT:
    case IO_CLOSE_TEXT:
    case IO_FILE_EXISTS:
    case IO_SET_DEFAULT_FORMAT:
        return Target::None;
    case IO_LOCATE_PRIMARY_DS:
    case IO_DELETE_PRIMARY_DS:
    case IO_READ_PRIMARY_DS:
    case IO_READ_PRIMARY_DS_AS:
        return Target::Primary;
    case IO_READ_TEXT_LINE:
    case IO_WRITE_TEXT_LINE:
    case IO_READ_TEXT_INTS:
    case IO_WRITE_TEXT_INTS:
    case IO_READ_TEXT_REALS:
    case IO_WRITE_TEXT_REALS:
        return Target::Text;
    default:
        return Target::Current;
    }
}

// Whether the file a request works on is open (always true for requests
// that open, close or need no file).
bool fileOpenFor(int request, const IO_control *control) {
    const IO_file *file = nullptr;
    switch (targetOf(request)) {
    case Target::Current: file = control->current; break;
    case Target::Primary: file = &control->primary; break;
    default: return true;
    }
    bool copyFromPrimary = request == IO_COPY_DATASET || request == IO_COPY_ALLVALID_DS ||
                           request == IO_COPY_WHEN0_DS || request == IO_COPY_DS_COMPRESS_WHEN;
    return file && file->stream && (!copyFromPrimary || control->primary.stream);
}

int argError(IO_error_routine routine, const char *message) {
    kwxIoError(routine, message);
    return IO_ERR_MEMORY;
}

// The file name a request carries in its chars: the first count characters
// when the count is not 0, else the array as a NUL-terminated string.
int takeName(IO_error_routine routine, const IO_data *data, std::string &name) {
    if (!data->chars) return argError(routine, "iocntc: file name is missing\n");
    int32_t count = data->nchars ? *data->nchars : 0;
    if (count < 0) return argError(routine, "iocntc: file name is missing\n");
    try {
        if (count != 0)
            name.assign(data->chars, strnlen(data->chars, (size_t)count));
        else
            name.assign(data->chars);
    } catch (const std::bad_alloc &) {
        kwxIoMallocFailed(routine, "iocnt: error allocating space for file name",
                          (int64_t)count + 1);
        return IO_ERR_ALLOC;
    }
    if (name.empty()) return argError(routine, "iocntc: file name is missing\n");
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
    if (file->stream) iif_close(file);
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

int readLocated(IO_error_routine routine, IO_header *header, IO_data *data, IO_file *file,
                bool as) {
    int rc = seekTo(routine, file, data->offsets[0], "iocnt: (can't go to dataset location) syserr:");
    if (rc != IO_OK) return rc;
    rc = read_located_dataset(routine, file->format, header, data, as ? header->datatype : nullptr,
                              file);
    if (rc == IO_OK || rc == IO_ERR_MEMORY) return rc;
    kwxIoError(routine, as ? "iocnt: read_located_dataset_as failed\n"
                           : "iocnt: read_located_dataset failed\n");
    return rc;
}

int locate(IO_error_routine routine, IO_header *header, IO_data *data, IO_file *file) {
    int rc = locate_dataset(routine, header, data, file);
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
template <typename Item, typename Codec>
int textNumbers(IO_error_routine routine, IO_file *text, bool write, Codec codec, Item *items,
                int32_t n, int perline, int width, const char *failure) {
    int rc = write ? textWriteCheck(routine, text) : textCheck(routine, text, false);
    if (rc) return rc;
    if (codec(routine, "F", items, n, perline, width, text->stream) != IO_OK) {
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

}  // namespace

extern "C" IO_control *iocontrol_alloc(void) {
    return static_cast<IO_control *>(calloc(1, sizeof(IO_control)));
}

extern "C" void iocontrol_free(IO_control *control) {
    if (!control) return;
    // The caller closes with request 1 first, but request 1 leaves the text
    // file open: whatever is still open is closed properly here, so that no
    // lock file outlives its handle and keeps the file locked for others.
    if (control->text.stream) iif_close_text(&control->text);
    if (control->secondary.stream) iif_close(&control->secondary);
    if (control->primary.stream) iif_close(&control->primary);
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
    if ((unsigned)request > IO_CURRENT_HANDLE) return iocnt(request, routine, header, data, control);

    if (!needsNoHeader(request)) {
        if (!header) return argError(routine, "iocntc: IO_header structure is null\n");
        if (!header->what || !header->where || !header->when || !header->numattrb ||
            !header->number || !header->datatype || !header->blockfactor ||
            (!header->attributes && *header->numattrb != 0))
            return argError(routine, "iocntc: header input is wrong\n");
    } else if (request == IO_READ_DATA || request == IO_WRITE_DATA) {
        // Reading and writing data go by the header's count and datatype.
        if (!header) return argError(routine, "iocntc: IO_header structure is null\n");
        if (!header->number || !header->datatype)
            return argError(routine, "iocntc: header input is wrong\n");
    }
    if (needsOffsets(request) && (!data->offsets || !data->noffsets))
        return argError(routine, "iocntc: offset array input is wrong\n");
    int used = offsetsUsed(request);
    if (used > 0 && (!data->offsets || !data->noffsets || *data->noffsets < used))
        return argError(routine, "iocntc: offset array input is wrong\n");
    if ((request == IO_LOCATE_DS || request == IO_LOCATE_PRIMARY_DS) &&
        (!data->strings || !data->nstrings || !data->ints || !data->nints))
        return argError(routine, "iocntc: stringarray or intrarray is wrong\n");
    if (request == IO_INDEX_COUNT && (!data->ints || !data->nints || *data->nints < 1))
        return argError(routine, "iocntc: integer array input is wrong\n");
    switch (request) {
    case IO_SET_FORMAT:
    case IO_SET_DEFAULT_FORMAT:
        if (!data->chars) return argError(routine, "iocntc: character array input is wrong\n");
        break;
    case IO_READ_TEXT_LINE:
    case IO_WRITE_TEXT_LINE:
        if (!data->chars || !data->nchars || *data->nchars < 0)
            return argError(routine, "iocntc: character array input is wrong\n");
        break;
    case IO_READ_TEXT_INTS:
    case IO_WRITE_TEXT_INTS:
        if (!data->ints || !data->nints || *data->nints < 1)
            return argError(routine, "iocntc: integer array input is wrong\n");
        break;
    case IO_READ_TEXT_REALS:
    case IO_WRITE_TEXT_REALS:
        if (!data->reals || !data->nreals || *data->nreals < 1)
            return argError(routine, "iocntc: real array input is wrong\n");
        break;
    case IO_WRITE_COMPRESSED_DATA:
        if (!data->chars || !data->nchars || *header->number < 0 || *data->nchars < *header->number)
            return argError(routine, "iocntc: character array input is wrong\n");
        break;
    default:
        break;
    }

    // A request on a file that is not open answers so instead of failing
    // somewhere inside.
    if (!fileOpenFor(request, control)) {
        kwxIoError(routine, "iocntc: no file is open for request %d\n", request);
        return IO_ERR_NOFILE;
    }
    return iocnt(request, routine, header, data, control);
}

extern "C" int iocnt(int request, IO_error_routine routine, IO_header *header, IO_data *data,
                     IO_control *control) {
    if (!routine) routine = kwxIoDefaultErrorRoutine;
    if (!control) return IO_ERR_MEMORY;
    if (!control->initialised) {
        control->initialised = 1;
        memcpy(control->primary.format, "U5", 3);
        memcpy(control->secondary.format, "U5", 3);
        memcpy(control->text.format, "U5", 3);
    }
    if ((unsigned)request > IO_CURRENT_HANDLE) {
        kwxIoError(routine, "iocnt: unknown request\n");
        return IO_ERR_REQUEST;
    }
    // Called directly, without the checks of iocntc, a request on a closed
    // file still answers instead of reaching into a record that is not there.
    if (!fileOpenFor(request, control)) {
        kwxIoError(routine, "iocnt: no file is open for request %d\n", request);
        return IO_ERR_NOFILE;
    }
    IO_file *P = &control->primary, *S = &control->secondary, *T = &control->text;
    IO_file *cur = control->current;
    int rc = IO_OK;

    try {
        switch (request) {
        case IO_OPEN_PRIMARY: {
            control->current = P;
            std::string name;
            if ((rc = takeName(routine, data, name)) != IO_OK) return rc;
            return openData(routine, P, name, false);
        }
        case IO_CLOSE_ALL: {
            control->current = nullptr;
            int rs = S->stream ? iif_close(S) : IO_OK;
            int rp = P->stream ? iif_close(P) : IO_OK;
            return rs != IO_OK ? rs : rp;
        }
        case IO_OPEN_SECONDARY: {
            std::string name;
            if ((rc = takeName(routine, data, name)) != IO_OK) return rc;
            rc = openData(routine, S, name, true);
            if (rc == IO_OK) control->current = S;
            return rc;
        }
        case IO_CLOSE_SECONDARY:
            if (S->stream) rc = iif_close(S);
            control->current = P;
            return rc;
        case IO_SET_FORMAT: {
            if (!cur) return IO_ERR_NOFILE;
            char c = data->chars[0];
            cur->format[0] = c;
            cur->format[1] = (c == 'U' || c == 'u' || c == 'L' || c == 'l') ? '5' : '\0';
            cur->format[2] = '\0';
            iofmt_make_native(routine, cur->format);
            return IO_OK;
        }
        case IO_DELETE_DS:
            if ((rc = busy(routine, cur, "iocnt: setfilebusyflag failed when deleting a data set\n")))
                return rc;
            return failed(routine, delete_ds(routine, header, cur), "iocnt: delete a dataset failed\n");
        case IO_WRITE_DS: {
            fmt(routine, control, cur);
            if ((rc = busy(routine, cur, "iocnt: setfilebusyflag failed when writing a data set\n")))
                return rc;
            // write_dataset goes to the index position itself.
            rc = write_dataset(routine, cur->format, header, data, cur);
            if (rc != IO_OK) return failed(routine, rc, "iocnt: write dataset failed\n");
            return indexPositionHere(routine, cur);
        }
        case IO_LOCATE_DS:
            return locate(routine, header, data, cur);
        case IO_LOCATE_PRIMARY_DS:
            return locate(routine, header, data, P);
        case IO_DELETE_PRIMARY_DS:
            if ((rc = busy(routine, P, "iocnt: setfilebusyflag failed when req =IO_DELETE_PRIMARY_DS\n")))
                return rc;
            return failed(routine, delete_ds(routine, header, P), "iocnt: delete_ds failed\n");
        case IO_READ_DS:
            return readLocated(routine, header, data, cur, false);
        case IO_READ_HEADER:
            if ((rc = seekTo(routine, cur, data->offsets[0],
                             "iocnt: (can't go to the dataset location) syserr:")))
                return rc;
            if ((rc = read_located_dataset_start(routine, cur->format, cur)))
                return failed(routine, rc, "iocnt: read dataset start block failed\n");
            return failed(routine, read_header(routine, cur->format, cur->stream, header),
                          "iocnt: read dataset header failed\n");
        case IO_WRITE_HEADER: {
            if ((rc = busy(routine, cur, "iocnt: setfilebusyflag failed when writing a data set header\n")))
                return rc;
            if ((rc = seekTo(routine, cur, cur->indexpos,
                             "iocnt: (can't go to the dataset location) syserr:")))
                return rc;
            fmt(routine, control, cur);
            char bytes[3] = {cur->format[0], cur->format[1], '\n'};
            if (fwrite(bytes, 1, 3, cur->stream) != 3) {
                kwxsystemErr(routine, "iocnt: (can't write the dataset format) syserr:");
                return IO_ERR_WRITE;
            }
            int64_t pos = kwxTell64(cur->stream);
            if (pos < 0) {
                kwxsystemErr(routine, "iocnt: (can't tell file pointer location) syserr:");
                return IO_ERR_SEEK;
            }
            data->offsets[0] = pos;
            int64_t zero = 0;
            if (kwxwriteOffset(routine, cur->format, &zero, cur->offsetwidth, cur->stream)) {
                kwxIoError(routine, "iocnt: can't write dataset length\n");
                return IO_ERR_WRITE;
            }
            pos = kwxTell64(cur->stream);
            if (pos < 0) {
                kwxsystemErr(routine, "iocnt: (can't tell file pointer location) syserr:");
                return IO_ERR_SEEK;
            }
            data->offsets[1] = pos;
            if ((rc = kwxwriteTag(routine, cur->format, "*DATASET", cur->stream)))
                return failed(routine, rc, "iocnt: can't write dataset tag\n");
            return failed(routine, write_header(routine, cur->format, cur->stream, header),
                          "iocnt: write header failed\n");
        }
        case IO_READ_DATA:
            if (*header->number < 1) return IO_OK;
            return failed(routine,
                          read_data(routine, cur->format, cur->stream, *header->number,
                                    header->datatype, data),
                          "iocnt: read data failed\n");
        // The piecewise writes take the write lock like every other write:
        // their bytes must not change a file that others are reading, and
        // the index must be written again at close over whatever they wrote
        // where it stood.
        case IO_WRITE_DATA:
            if ((rc = busy(routine, cur, "iocnt: setfilebusyflag failed when req =IO_WRITE_DATA\n")))
                return rc;
            fmt(routine, control, cur);
            return failed(routine,
                          write_data(routine, cur->format, cur->stream, *header->number,
                                     header->datatype, data),
                          "iocnt: write data failed\n");
        case IO_INDEX_COUNT:
            data->ints[0] = cur->nlines;
            return IO_OK;
        case IO_COPY_DATASET:
            if ((rc = busy(routine, cur, "iocnt: setfilebusyflag failed when req =IO_COPY_DATASET\n")))
                return rc;
            if ((rc = seekTo(routine, P, data->offsets[0],
                             "iocnt: (can't go to the dataset location) syserr:")))
                return rc;
            return failed(routine, copy_dataset(routine, header->what, header->where, *header->when, cur, P),
                          "iocnt: copy_dataset failed\n");
        case IO_COPY_ALLVALID_DS:
            if ((rc = busy(routine, cur, "iocnt: setfilebusyflag failed when req =IO_COPY_ALLVALID_DS\n")))
                return rc;
            return failed(routine, copy_allvalid_ds(routine, cur, P), "iocnt: copy_allvalid_ds failed\n");
        case IO_READ_PRIMARY_DS: {
            UsePrimary use(control);
            return readLocated(routine, header, data, P, false);
        }
        case IO_WRITE_ENDTAG:
            if ((rc = busy(routine, cur, "iocnt: setfilebusyflag failed when req =IO_WRITE_ENDTAG\n")))
                return rc;
            fmt(routine, control, cur);
            return failed(routine, kwxwriteTag(routine, cur->format, "*ENDDATASET", cur->stream),
                          "iocnt: can't write dataset end tag\n");
        case IO_TELL: {
            int64_t pos = kwxTell64(cur->stream);
            if (pos < 0) {
                kwxsystemErr(routine, "iocnt: (can't tell the current position for the dataset) syserr:");
                return IO_ERR_TELL;
            }
            data->offsets[0] = pos;
            *data->noffsets = 1;
            return IO_OK;
        }
        case IO_WRITE_LENGTH:
            if ((rc = busy(routine, cur, "iocnt: setfilebusyflag failed when req =IO_WRITE_LENGTH\n")))
                return rc;
            fmt(routine, control, cur);
            return failed(routine,
                          kwxwriteOffset(routine, cur->format, &data->offsets[0], cur->offsetwidth,
                                         cur->stream),
                          "iocnt: can't write dataset length\n");
        case IO_SEEK:
            return seekTo(routine, cur, data->offsets[0],
                          "iocnt: (can't go to the offset position for the dataset) syserr:");
        case IO_SET_INDEX_POSITION:
            return indexPositionHere(routine, cur);
        case IO_INSERT_INDEX:
            return insertLine(routine, header, data, cur, true);
        case IO_INDEX_POSITION:
            data->offsets[0] = cur->indexpos;
            return IO_OK;
        case IO_READ_DATATAG:
            return failed(routine, read_datatag(routine, cur->format, cur->stream),
                          "iocnt: can't read datatag length\n");
        case IO_WRITE_DATATAG:
            if ((rc = busy(routine, cur, "iocnt: setfilebusyflag failed when req =IO_WRITE_DATATAG\n")))
                return rc;
            fmt(routine, control, cur);
            return failed(routine, write_datatag(routine, cur->format, cur->stream),
                          "iocnt: can't write datatag length\n");
        case IO_USE_PRIMARY:
            control->current = P;
            return IO_OK;
        case IO_USE_SECONDARY:
            control->current = S;
            return IO_OK;
        case IO_OPEN_TEXT: {
            std::string name;
            if ((rc = takeName(routine, data, name)) != IO_OK) return rc;
            if (T->stream) iif_close_text(T);
            filerec_reset(T);
            rc = iif_open_text(T, name.c_str(), "d");
            if (rc != IO_OK) {
                kwxIoError(routine, "iocnt: opening the plain file failed\n");
                filerec_free(routine, T);
            }
            return rc;
        }
        case IO_CLOSE_TEXT:
            return iif_close_text(T);
        case IO_READ_TEXT_LINE:
            if ((rc = textCheck(routine, T, false))) return rc;
            return readTextLine(routine, T, data);
        case IO_WRITE_TEXT_LINE:
            if ((rc = textWriteCheck(routine, T))) return rc;
            return writeTextLine(routine, T, data);
        case IO_READ_TEXT_INTS:
            return textNumbers(routine, T, false, kwxreadIntr, data->ints, *data->nints, 8, 10,
                               "iocnt: fail to read integers from the plain text file\n");
        case IO_WRITE_TEXT_INTS:
            return textNumbers(routine, T, true, kwxwriteIntr, data->ints, *data->nints, 8, 10,
                               "iocnt: fail to write integers to the plain text file\n");
        case IO_READ_TEXT_REALS:
            return textNumbers(routine, T, false, kwxreadReal, data->reals, *data->nreals, 4, 20,
                               "iocnt: fail to read real numbers from the plain text file\n");
        case IO_WRITE_TEXT_REALS:
            return textNumbers(routine, T, true, kwxwriteReal, data->reals, *data->nreals, 4, 20,
                               "iocnt: fail to write real numbers to the plain text file\n");
        case IO_FILE_EXISTS: {
            int32_t count = data->nchars ? *data->nchars : 0;
            // A negative count names no characters; the array is not a
            // terminated string either.
            if (!data->chars || count < 0) return argError(routine, "iocntc: file name is missing\n");
            std::string name = count > 0 ? std::string(data->chars, strnlen(data->chars, (size_t)count))
                                         : std::string(data->chars);
            FILE *f = fopen(name.c_str(), "rbe");
            if (!f) return IO_ERR_NOEXIST;
            fclose(f);
            return IO_OK;
        }
        case IO_COPY_WHEN0_DS:
            if ((rc = busy(routine, cur, "iocnt: setfilebusyflag failed when req =IO_COPY_WHEN0_DS\n")))
                return rc;
            return failed(routine, copy_when0_ds(routine, cur, P), "iocnt: copy_when0_ds failed\n");
        case IO_INSERT_INDEX_NOSORT:
            return insertLine(routine, header, data, cur, false);
        case IO_UPDATE_INDEX:
            return failed(routine, update_index(routine, cur), "iocnt: can not update the index\n");
        case IO_RECREATE_INDEX: {
            // The rebuilt index is written at flush by a handle that holds,
            // or can take, the write lock; the request itself takes no lock.
            // A rebuild that fails leaves the record as it was: the index it
            // had still finds every dataset, where the one cut short at the
            // failure would lose those after it, and would be written over
            // the stored index at close.
            std::vector<char> lines(cur->indextable ? (size_t)cur->nlines * IO_INDEX_SLOT : 0);
            if (!lines.empty()) memcpy(lines.data(), cur->indextable, lines.size());
            const bool hadTable = cur->indextable != nullptr;
            const int32_t nlines = cur->nlines, sorted = cur->sorted, head = cur->sortedhead,
                          dirty = cur->indexdirty;
            const int64_t indexpos = cur->indexpos;
            cur->indexdirty = 1;
            rc = recreate_indextable(routine, cur);
            if (rc != IO_OK && hadTable) {
                const int32_t partial = cur->nlines;
                cur->nlines = nlines;
                if (indextable_alloc(cur) == IO_OK) {
                    if (!lines.empty()) memcpy(cur->indextable, lines.data(), lines.size());
                    cur->sorted = sorted;
                    cur->sortedhead = head;
                    cur->indexdirty = dirty;
                    cur->indexpos = indexpos;
                } else {
                    cur->nlines = partial;
                }
            }
            return failed(routine, rc, "iocnt: cannot recreate index\n");
        }
        case IO_READ_DS_AS:
            return readLocated(routine, header, data, cur, true);
        case IO_READ_PRIMARY_DS_AS: {
            UsePrimary use(control);
            return readLocated(routine, header, data, P, true);
        }
        case IO_COPY_DS_COMPRESS_WHEN:
            if ((rc = busy(routine, cur, "iocnt: setfilebusyflag failed when req =IO_COPY_DS_COMPRESS_WHEN\n")))
                return rc;
            return failed(routine, copy_all_ds_compress_when(routine, cur, P),
                          "iocnt: copy_all_ds_compress_when failed\n");
        case IO_SET_DEFAULT_FORMAT: {
            int32_t count = data->nchars ? *data->nchars : 0;
            if (!data->chars || count < 0)
                return argError(routine, "iocntc: character array input is wrong\n");
            size_t n = count > 0 ? strnlen(data->chars, (size_t)count) : strlen(data->chars);
            char *copy = static_cast<char *>(malloc(n + 1));
            if (!copy) {
                kwxIoMallocFailed(routine, "iocnt: default format", (int64_t)n + 1);
                return IO_ERR_ALLOC;
            }
            memcpy(copy, data->chars, n);
            copy[n] = '\0';
            free(control->defaultformat);
            control->defaultformat = copy;
            return IO_OK;
        }
        case IO_WRITE_COMPRESSED_DATA:
            if ((rc = busy(routine, cur,
                           "iocnt: setfilebusyflag failed when req =IO_WRITE_COMPRESSED_DATA\n")))
                return rc;
            fmt(routine, control, cur);
            return failed(routine,
                          write_compressed_data(routine, cur->format, cur->stream, *header->number,
                                                data->chars),
                          "iocnt: write compressed data failed\n");
        case IO_CURRENT_HANDLE:
            data->offsets[0] = (int64_t)(intptr_t)cur;
            return IO_OK;
        default:
            break;
        }
    } catch (const std::bad_alloc &) {
        kwxIoMallocFailed(routine, "iocnt", 0);
        return IO_ERR_ALLOC;
    }
    kwxIoError(routine, "iocnt: unknown request\n");
    return IO_ERR_REQUEST;
}
