// Datasets: the crash-safe writing of one dataset, its header records, the
// reading of a located dataset, and the buffers of IO_header and IO_data.
#include "io_internal.h"
#include "vrn_platform.h"

#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstdlib>
#include <charconv>
#include <cstring>
#include <string>

namespace {

const int kHdrCap = 80;
const int kDatatypeCap = 256;

struct CountedData {
    IO_data data;
    int32_t counts[7];
};

int g_liveData = 0;

int64_t fileSize(FILE *stream) {
    struct stat st;
    if (fstat(vrnPlatform_streamFd(stream), &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
}

// A view of caller data whose pointers can be advanced block by block
// without touching the caller's arrays or counts. Its counts always give the
// room left after the records already passed.
struct DataView {
    IO_data view;
    IO_data base;
    int32_t orig[7];
    int32_t counts[7];
    explicit DataView(const IO_data *src) {
        view = *src;
        base = *src;
        int32_t *const srcCounts[7] = {src->noffsets, src->nstrings, src->nchars, src->nints,
                                       src->nreals, src->ndoubles, src->nlogicals};
        int32_t **dst[7] = {&view.noffsets, &view.nstrings, &view.nchars, &view.nints,
                            &view.nreals, &view.ndoubles, &view.nlogicals};
        for (int i = 0; i < 7; ++i) {
            orig[i] = srcCounts[i] ? *srcCounts[i] : 0;
            counts[i] = orig[i];
            *dst[i] = srcCounts[i] ? &counts[i] : nullptr;
        }
    }
    DataView(const DataView &) = delete;
    DataView &operator=(const DataView &) = delete;
};

// Advances the view past records records and sets its counts to the room left.
int advanceView(IO_error_routine routine, const char *datatype, int records, DataView &v) {
    int rc = move_datapoints(routine, datatype, records, &v.view);
    if (rc) return rc;
    auto left = [](int32_t &cnt, int32_t orig, int64_t used) {
        cnt = orig > used ? static_cast<int32_t>(orig - used) : 0;
    };
    left(v.counts[0], v.orig[0], 0);
    left(v.counts[1], v.orig[1], (v.view.strings - v.base.strings) / IO_STRING_LEN);
    left(v.counts[2], v.orig[2], v.view.chars - v.base.chars);
    left(v.counts[3], v.orig[3], v.view.ints - v.base.ints);
    left(v.counts[4], v.orig[4], v.view.reals - v.base.reals);
    left(v.counts[5], v.orig[5], v.view.doubles - v.base.doubles);
    left(v.counts[6], v.orig[6], v.view.logicals - v.base.logicals);
    return 0;
}

// The dataset name as the header reader knows it so far.
std::string context(const char *fmt, int64_t pos, const IO_header *h, int level) {
    char f0 = fmt[0] ? fmt[0] : '?';
    char f1 = fmt[1] ? fmt[1] : ' ';
    char *s = nullptr;
    switch (level) {
    case 0: s = kwxFormatAlloc("dataset of format %c%c at %" PRId64, f0, f1, pos); break;
    case 1: s = kwxFormatAlloc("dataset %s:?:? of format %c%c at %" PRId64, h->what, f0, f1, pos); break;
    case 2:
        s = kwxFormatAlloc("dataset %s:%s:? of format %c%c at %" PRId64, h->what, h->where, f0, f1, pos);
        break;
    default:
        s = kwxFormatAlloc("dataset %s:%s:%d of format %c%c", h->what, h->where, *h->when, f0, f1);
        break;
    }
    std::string out = s ? s : "dataset";
    free(s);
    return out;
}

void copyField(char *dst, size_t size, const char *src) {
    size_t n = strnlen(src, size - 1);
    memcpy(dst, src, n);
    dst[n] = '\0';
}

bool validName(const char *s) {
    if (!s || !*s) return false;
    for (; *s; ++s)
        if (*s == '\n' || *s == '\r' || *s == IO_ESC) return false;
    return true;
}

// Whether a name ends in what a text header loses when it is read back.
bool endsInWhiteSpace(const char *s) {
    size_t n = strlen(s);
    return n > 0 && isspace(static_cast<unsigned char>(s[n - 1]));
}

// Header records put together in memory, byte for byte as
// kwxwriteHdrString writes them: in F the text (up to a NUL or a line end)
// blank-padded to the capacity and a newline; in binary an int32 length in
// the letter's byte order and the bytes.
class HeaderOut {
public:
    explicit HeaderOut(const char *format) : format_(format) { bytes_.reserve(400); }
    // One record of len bytes (its text holds no NUL).
    int add(IO_error_routine routine, const char *text, size_t len, int capacity) {
        if (len > static_cast<size_t>(capacity)) {
            kwxIoError(routine, "kwxwriteHdrString: string too long for format (%d > %d)",
                       static_cast<int>(len), capacity);
            return IO_ERR_WRITE;
        }
        if (format_[0] == 'F') {
            size_t keep = 0;
            while (keep < len && text[keep] != '\n') ++keep;
            bytes_.append(text, keep);
            bytes_.append(static_cast<size_t>(capacity) - keep, ' ');
            bytes_ += '\n';
            return 0;
        }
        int32_t n = static_cast<int32_t>(len);
        if (iofmt_is_swapped(format_[0])) kwxSwapBytes(&n, 4);
        bytes_.append(reinterpret_cast<const char *>(&n), 4);
        bytes_.append(text, len);
        return 0;
    }
    // A "KEY" ESC value record.
    int key(IO_error_routine routine, const char *key, const char *value, int capacity) {
        rec_.assign(key);
        rec_ += static_cast<char>(IO_ESC);
        rec_ += value;
        return add(routine, rec_.data(), rec_.size(), capacity);
    }
    bool writeTo(FILE *stream) {
        bool ok = bytes_.empty() || fwrite(bytes_.data(), 1, bytes_.size(), stream) == bytes_.size();
        bytes_.clear();
        return ok;
    }

private:
    const char *format_;
    std::string bytes_;
    std::string rec_;
};

// Writes n bytes at offset of the file without moving its offset, retrying
// after signals and short writes. 0, or -1 with errno set.
[[nodiscard]]
int pwriteAll(int fd, const char *bytes, int n, int64_t offset) {
    return vrnPlatform_pwrite(fd, bytes, static_cast<size_t>(n), offset) < 0 ? -1 : 0;
}

// Datasets whose data takes at most this many bytes are put together in
// memory before they go to the file.
int64_t g_assembleLimit = 4 << 20;

// A stream that collects bytes in memory.
struct MemoryOut {
    char *buffer = nullptr;
    size_t size = 0;
    FILE *stream = nullptr;
    bool open() {
        stream = open_memstream(&buffer, &size);
        return stream != nullptr;
    }
    ~MemoryOut() {
        if (stream) fclose(stream);
        free(buffer);
    }
};

}  // namespace

// ---- positions ---------------------------------------------------------------

extern "C" void kwxIoSetAssembleLimit(int64_t bytes) { g_assembleLimit = bytes; }

extern "C" int64_t kwxTell64(FILE *stream) {
    if (!stream) return -1;
    off_t p = ftello(stream);
    return p < 0 ? -1 : static_cast<int64_t>(p);
}

extern "C" int kwxSeek64(FILE *stream, int64_t offset, int mode) {
    if (!stream) return -1;
    if (mode == 2) {
        // Take the size from the file system so that data still buffered by
        // another stream on the same file is counted after the flush. Data
        // of this stream that cannot be written (the disk is full) fails the
        // seek: the stream drops it, and nothing later would tell.
        if (fflush(stream) != 0) return -1;
        struct stat st;
        if (fstat(vrnPlatform_streamFd(stream), &st) == 0 && S_ISREG(st.st_mode)) {
            int64_t target = static_cast<int64_t>(st.st_size) + offset;
            if (target < 0) return -1;
            return fseeko(stream, static_cast<off_t>(target), SEEK_SET) == 0 ? 0 : -1;
        }
        return fseeko(stream, static_cast<off_t>(offset), SEEK_END) == 0 ? 0 : -1;
    }
    if (mode == 0 && offset < 0) return -1;
    return fseeko(stream, static_cast<off_t>(offset), mode == 1 ? SEEK_CUR : SEEK_SET) == 0 ? 0 : -1;
}

extern "C" void kwxSwapBytes(void *buffer, int n) {
    unsigned char *b = static_cast<unsigned char *>(buffer);
    for (int i = 0, j = n - 1; i < j; ++i, --j) {
        unsigned char t = b[i];
        b[i] = b[j];
        b[j] = t;
    }
}

// ---- tags ------------------------------------------------------------------

extern "C" int kwxwriteTag(IO_error_routine routine, const char *format, const char *tag,
                           FILE *stream) {
    if (!format || !tag || !stream) return IO_ERR_MEMORY;
    size_t n = strlen(tag);
    if (format[0] == 'F') {
        if (fwrite(tag, 1, n, stream) != n || fputc('\n', stream) == EOF) {
            kwxsystemErr(routine, "kwxwriteString: (fputs failed) syserr:");
            return IO_ERR_WRITE;
        }
        return 0;
    }
    if (fwrite(tag, 1, n, stream) != n) {
        kwxsystemErr(routine, "kwxwriteString: (fwrite failed) syserr:");
        return IO_ERR_WRITE;
    }
    return 0;
}

extern "C" int kwxreadTag(IO_error_routine routine, const char *format, char *buffer, int n,
                          FILE *stream) {
    if (!format || !buffer || !stream || n < 1) return IO_ERR_MEMORY;
    if (format[0] == 'F') {
        char line[96];
        if (kwxReadLine(line, sizeof line, stream) <= 0) return IO_ERR_READ;
        size_t len = strcspn(line, "\r\n");
        if (len > static_cast<size_t>(n)) len = static_cast<size_t>(n);
        memcpy(buffer, line, len);
        buffer[len] = '\0';
        return 0;
    }
    size_t got = fread(buffer, 1, static_cast<size_t>(n), stream);
    buffer[got] = '\0';
    if (got != static_cast<size_t>(n)) {
        (void)routine;
        return IO_ERR_READ;
    }
    return 0;
}

// ---- header buffers --------------------------------------------------------

extern "C" int ioheader_alloc(IO_header *h) {
    if (!h) return IO_ERR_MEMORY;
    h->what = static_cast<char *>(kwxIoCalloc(IO_WHAT_SIZE, 1));
    h->where = static_cast<char *>(kwxIoCalloc(IO_WHERE_SIZE, 1));
    h->when = static_cast<int32_t *>(kwxIoCalloc(1, sizeof(int32_t)));
    h->numattrb = static_cast<int32_t *>(kwxIoCalloc(1, sizeof(int32_t)));
    h->attributes = static_cast<char *>(kwxIoCalloc(IO_MAXATTRIB * IO_ATTRIB_LEN, 1));
    h->number = static_cast<int32_t *>(kwxIoCalloc(1, sizeof(int32_t)));
    h->datatype = static_cast<char *>(kwxIoCalloc(IO_DATATYPE_SIZE, 1));
    h->blockfactor = static_cast<int32_t *>(kwxIoCalloc(1, sizeof(int32_t)));
    if (!h->what || !h->where || !h->when || !h->numattrb || !h->attributes || !h->number ||
        !h->datatype || !h->blockfactor) {
        ioheader_free(h);
        return IO_ERR_ALLOC;
    }
    return 0;
}

extern "C" void ioheader_free(IO_header *h) {
    if (!h) return;
    free(h->what);
    free(h->where);
    free(h->when);
    free(h->numattrb);
    free(h->attributes);
    free(h->number);
    free(h->datatype);
    free(h->blockfactor);
    h->what = h->where = h->attributes = h->datatype = nullptr;
    h->when = h->numattrb = h->number = h->blockfactor = nullptr;
}

// ---- IO_data buffers -------------------------------------------------------

extern "C" void iodata_init(IO_data *d) {
    if (!d) return;
    memset(d, 0, sizeof *d);
}

extern "C" IO_data *iodata_alloc(void) {
    CountedData *cd = static_cast<CountedData *>(kwxIoCalloc(1, sizeof(CountedData)));
    if (!cd) return nullptr;
    IO_data *d = &cd->data;
    d->noffsets = &cd->counts[0];
    d->nstrings = &cd->counts[1];
    d->nchars = &cd->counts[2];
    d->nints = &cd->counts[3];
    d->nreals = &cd->counts[4];
    d->ndoubles = &cd->counts[5];
    d->nlogicals = &cd->counts[6];
    ++g_liveData;
    return d;
}

extern "C" void iodata_freeArrays(IO_data *d) {
    if (!d) return;
    free(d->offsets);
    free(d->strings);
    free(d->chars);
    free(d->ints);
    free(d->reals);
    free(d->doubles);
    free(d->logicals);
    d->offsets = nullptr;
    d->strings = d->chars = d->logicals = nullptr;
    d->ints = nullptr;
    d->reals = nullptr;
    d->doubles = nullptr;
    int32_t *counts[7] = {d->noffsets, d->nstrings, d->nchars, d->nints,
                          d->nreals, d->ndoubles, d->nlogicals};
    for (int32_t *c : counts)
        if (c) *c = 0;
}

extern "C" void iodata_delete(IO_data *d) {
    if (!d) return;
    iodata_freeArrays(d);
    --g_liveData;
    // The object is the first member of the block made by iodata_alloc.
    free(reinterpret_cast<CountedData *>(d));
}

extern "C" int iodata_liveCount(void) { return g_liveData; }

extern "C" int iodata_alloc_arrays(IO_error_routine routine, IO_data *d) {
    if (!d) return IO_ERR_MEMORY;
    int rc = 0;
    auto size = [&](void **array, int32_t *count, size_t itemsize) {
        int64_t n = count && *count > 0 ? *count : 0;
        if (n == 0) {
            free(*array);
            *array = nullptr;
            return;
        }
        size_t bytes = static_cast<size_t>(n) * itemsize;
        void *p = kwxIoRealloc(*array, bytes);
        if (!p) {
            rc = kwxIoNoMemory(routine, IO_ERR_ALLOC, "iodata_alloc_arrays", static_cast<int64_t>(bytes));
            return;
        }
        *array = p;
    };
    size(reinterpret_cast<void **>(&d->offsets), d->noffsets, 8);
    size(reinterpret_cast<void **>(&d->strings), d->nstrings, IO_STRING_LEN);
    size(reinterpret_cast<void **>(&d->chars), d->nchars, 1);
    size(reinterpret_cast<void **>(&d->ints), d->nints, 4);
    size(reinterpret_cast<void **>(&d->reals), d->nreals, 4);
    size(reinterpret_cast<void **>(&d->doubles), d->ndoubles, 8);
    size(reinterpret_cast<void **>(&d->logicals), d->nlogicals, 1);
    return rc;
}

extern "C" int64_t iodata_totalSize(const IO_data *d) {
    if (!d) return 0;
    int64_t total = 0;
    auto add = [&](const void *array, const int32_t *count, int64_t itemsize) {
        if (array && count && *count > 0) total += *count * itemsize;
    };
    add(d->offsets, d->noffsets, 8);
    add(d->strings, d->nstrings, IO_STRING_LEN);
    add(d->chars, d->nchars, 1);
    add(d->ints, d->nints, 4);
    add(d->reals, d->nreals, 4);
    add(d->doubles, d->ndoubles, 8);
    add(d->logicals, d->nlogicals, 1);
    return total;
}

// ---- header records --------------------------------------------------------

extern "C" int kwxCheckDatasetName(IO_error_routine routine, const char *format, const char *what,
                                   const char *where, int32_t when, const char *who) {
    // Names become fields of text index lines: they must be non-empty and
    // hold no line end or separator.
    if (!validName(what) || !validName(where) || when < 0) {
        kwxIoError(routine, "%s: invalid dataset name %s:%s:%d", who, what ? what : "",
                   where ? where : "", when);
        return IO_ERR_PARSE;
    }
    if (format && format[0] == 'F' && (endsInWhiteSpace(what) || endsInWhiteSpace(where))) {
        kwxIoError(routine,
                   "%s: format F cannot hold the dataset name \"%s\":\"%s\":%d, whose %s ends in "
                   "white space; nothing is written",
                   who, what, where, when, endsInWhiteSpace(what) ? "WHAT" : "WHERE");
        return IO_ERR_PARSE;
    }
    return 0;
}

extern "C" int write_header(IO_error_routine routine, const char *format, FILE *stream,
                            IO_header *h) {
    if (!format || !stream || !h || !h->what || !h->where || !h->when || !h->numattrb ||
        !h->number || !h->datatype || !h->blockfactor) {
        kwxIoError(routine, "write_header: passing parameters are wrong\n");
        return IO_ERR_MEMORY;
    }
    if (int rc = kwxCheckDatasetName(routine, format, h->what, h->where, *h->when, "write_header"))
        return rc;
    int nattr = *h->numattrb;
    if (nattr < 0 || nattr > IO_MAXATTRIB || (nattr > 0 && !h->attributes)) {
        kwxIoError(routine, "write_header: bad number of attributes %d", nattr);
        return IO_ERR_PARSE;
    }
    if (!iofmt_is_letter(format[0])) {
        // Reported by the record writer, which refuses the format.
        (void)kwxwriteHdrString(routine, format, "*HEADER", 7, stream);
        kwxIoError(routine, "write_header: fail to write header tag\n");
        return IO_ERR_WRITE;
    }
    // The records are put together and written at once; when one is refused,
    // those before it are still written, as record by record writing would.
    HeaderOut out(format);
    auto fail = [&](const char *message) {
        out.writeTo(stream);
        kwxIoError(routine, message);
        return IO_ERR_WRITE;
    };
    auto num = [](int32_t v, char *buf) {
        *std::to_chars(buf, buf + 15, v).ptr = '\0';
        return buf;
    };
    char nbuf[16];
    if (out.add(routine, "*HEADER", 7, 7)) return fail("write_header: fail to write header tag\n");
    if (out.key(routine, "WHAT", h->what, kHdrCap)) return fail("write_header: fail to write what\n");
    if (out.key(routine, "WHERE", h->where, kHdrCap)) return fail("write_header: fail to write where\n");
    if (out.key(routine, "WHEN", num(*h->when, nbuf), kHdrCap))
        return fail("write_header: fail to write when\n");
    if (out.key(routine, "NUMATTRB", num(nattr, nbuf), kHdrCap))
        return fail("write_header: fail to write number of attributes\n");
    for (int i = 0; i < nattr; ++i) {
        const char *attr = h->attributes + static_cast<size_t>(i) * IO_ATTRIB_LEN;
        if (out.add(routine, attr, strnlen(attr, IO_ATTRIB_LEN), IO_ATTRIB_LEN))
            return fail("write_header: fail to write attributes\n");
    }
    char dt[IO_DATATYPE_SIZE + 1];
    memcpy(dt, h->datatype, IO_DATATYPE_SIZE);
    dt[IO_DATATYPE_SIZE] = '\0';
    if (out.key(routine, "DATATYPE", dt, kDatatypeCap)) return fail("write_header: fail to write data type\n");
    if (out.key(routine, "NUMBER", num(*h->number, nbuf), kHdrCap))
        return fail("write_header: fail to write data number\n");
    if (format[0] == 'F' || iofmt_is_compressed(format)) {
        if (out.key(routine, "BLOCKFACTOR", num(*h->blockfactor, nbuf), kHdrCap))
            return fail("write_header: fail to write blockfactor\n");
    }
    if (!out.writeTo(stream)) {
        kwxsystemErr(routine, "kwxwriteString: (fwrite failed) syserr:");
        kwxIoError(routine, "write_header: fail to write header tag\n");
        return IO_ERR_WRITE;
    }
    return 0;
}

extern "C" int read_header(IO_error_routine routine, const char *format, FILE *stream,
                           IO_header *h) {
    if (!format || !stream || !h || !h->what || !h->where || !h->when || !h->numattrb ||
        !h->attributes || !h->number || !h->datatype || !h->blockfactor) {
        kwxIoError(routine, "read_header: passing parameters are wrong\n");
        return IO_ERR_MEMORY;
    }
    if (!iofmt_is_letter(format[0])) {
        kwxIoError(routine, "read_header: bad format string %c%c", format[0] ? format[0] : '?',
                   format[1] ? format[1] : ' ');
        return IO_ERR_FORMAT;
    }
    *h->blockfactor = 1;
    h->what[0] = h->where[0] = '\0';
    int64_t start = kwxTell64(stream);
    char rec[IO_DATATYPE_SIZE + 4];
    auto readRec = [&](int size) {
        rec[0] = '\0';
        return kwxreadHdrString(routine, format, rec, size, stream);
    };
    auto ctx = [&](int level) { return context(format, start, h, level); };
    // Reads a "KEY value" record: 0, or IO_ERR_READ after reporting readMsg
    // (record unreadable) or badMsg (another key, or no value after it).
    auto readKeyed = [&](int size, const char *key, int level, const char *readMsg,
                         const char *badMsg) -> int {
        if (readRec(size)) {
            kwxIoError(routine, readMsg, ctx(level).c_str());
            return IO_ERR_READ;
        }
        size_t n = strlen(key);
        if (strncmp(rec, key, n) != 0 || strlen(rec) < n + 1) {
            kwxIoError(routine, badMsg, rec, ctx(level).c_str());
            return IO_ERR_READ;
        }
        return 0;
    };

    if (readRec(82)) {
        kwxIoError(routine, "read_header: fail to read header tag for %s\n", ctx(0).c_str());
        return IO_ERR_READ;
    }
    if (strncmp(rec, "*HEADER", 7) != 0) {
        kwxIoError(routine, "read_header: bad header tag %s in %s\n", rec, ctx(0).c_str());
        return IO_ERR_READ;
    }
    if (int rc = readKeyed(82, "WHAT", 0, "read_header: fail to read what for %s\n",
                           "read_header: bad what record %s in %s\n"))
        return rc;
    copyField(h->what, IO_WHAT_SIZE, rec + 5);
    if (int rc = readKeyed(82, "WHERE", 1, "read_header: fail to read where for %s\n",
                           "read_header: bad where record %s in %s\n"))
        return rc;
    copyField(h->where, IO_WHERE_SIZE, rec + 6);
    if (int rc = readKeyed(82, "WHEN", 2, "read_header: fail to read when for %s\n",
                           "read_header: bad when record %s in %s\n"))
        return rc;
    *h->when = atoi(rec + 5);
    if (int rc = readKeyed(82, "NUMATTRB", 3, "read_header: fail to read numattrb record for %s\n",
                           "read_header: bad numattrb record %s in %s\n"))
        return rc;
    int nattr = atoi(rec + 9);
    if (nattr < 0 || nattr > IO_MAXATTRIB) {
        kwxIoError(routine, "read_header: bad numattrb record %s in %s\n", rec, ctx(3).c_str());
        return IO_ERR_PARSE;
    }
    *h->numattrb = nattr;
    for (int i = 0; i < nattr; ++i) {
        if (readRec(82)) {
            kwxIoError(routine, "read_header: fail to read attribute %d for %s\n", i, ctx(3).c_str());
            return IO_ERR_READ;
        }
        char *slot = h->attributes + static_cast<size_t>(i) * IO_ATTRIB_LEN;
        memset(slot, 0, IO_ATTRIB_LEN);
        // A text record of blanks only is an empty attribute.
        if (format[0] == 'F' && strcmp(rec, " ") == 0) rec[0] = '\0';
        memcpy(slot, rec, strnlen(rec, IO_ATTRIB_LEN));
    }
    if (int rc = readKeyed(kDatatypeCap + 2, "DATATYPE", 3,
                           "read_header: fail to read DATATYPE (istrct) record for %s\n",
                           "read_header: bad DATATYPE (istrct) record %s in %s\n"))
        return rc;
    copyField(h->datatype, IO_DATATYPE_SIZE, rec + 9);
    if (int rc = readKeyed(82, "NUMBER", 3, "read_header: fail to read NUMBER record for %s",
                           "read_header: bad number record %s in %s"))
        return rc;
    *h->number = atoi(rec + 7);
    bool compressed = iofmt_is_blocked(format);
    if (format[0] == 'F' || compressed) {
        int64_t mark = kwxTell64(stream);
        if (mark < 0) {
            kwxIoError(routine, "read_header: fail to tell the blockfactor location in the file for %s\n",
                       ctx(3).c_str());
            return IO_ERR_TELL;
        }
        int rc = readRec(82);
        if (rc == 0 && strncmp(rec, "BLOCKFACTOR", 11) == 0) {
            *h->blockfactor = atoi(rec + 12);
        } else if (compressed) {
            if (rc)
                kwxIoError(routine, "read_header: fail to read blockfactor at %" PRId64 " in %s\n", mark,
                           ctx(3).c_str());
            else
                kwxIoError(routine, "read_header: blockfactor missing for compressed dataset in %s",
                           ctx(3).c_str());
            return IO_ERR_READ;
        } else if (kwxSeek64(stream, mark, 0) != 0) {
            kwxIoError(routine, "read_header: fail to go back to the data tag location %" PRId64 " for %s",
                       mark, ctx(3).c_str());
            return IO_ERR_SEEK;
        }
    }
    return 0;
}

// ---- writing a dataset -----------------------------------------------------

// Writes one dataset at the record's index position, crash-safe: the leading
// length is written as 0 and patched last, "*CRASH" follows the dataset, and
// a failure part-way writes "*CRASH" at the dataset's start so that a later
// index rebuild stops there and the next write overwrites it.
extern "C" int write_dataset(IO_error_routine routine, const char *format, IO_header *h,
                             IO_data *data, IO_file *record) {
    if (!format || !h || !data || !record || !record->stream || !h->number || !h->datatype ||
        !h->blockfactor || !h->what || !h->where || !h->when) {
        kwxIoError(routine, "write_dataset: passing parameters are wrong\n");
        return IO_ERR_MEMORY;
    }
    FILE *fp = record->stream;
    char fmt[3] = {format[0], format[0] ? format[1] : '\0', '\0'};
    if (!(fmt[1] >= '1' && fmt[1] <= '9')) fmt[1] = '\0';
    if ((fmt[0] == 'U' || fmt[0] == 'u') && iodata_totalSize(data) > 0x60000000LL) fmt[0] = 'L';
    if (int rc = iofmt_make_native(routine, fmt)) return rc;
    if (fmt[0] == 'D' || fmt[0] == 'x') {
        kwxIoError(routine, "write_dataset: can't write a dataset in deleted format %c", fmt[0]);
        return IO_ERR_FORMAT;
    }
    bool compressed = iofmt_is_compressed(fmt);
    if (compressed && *h->blockfactor < 2) *h->blockfactor = 100000;
    int number = *h->number;
    if (number < 0) {
        kwxIoError(routine, "write_dataset: bad record count %d", number);
        return IO_ERR_PARSE;
    }
    if (number > 0) {
        if (int rc = check_memory(routine, fmt, number, h->datatype, data)) return rc;
    }
    const int64_t start = record->indexpos;
    const int width = record->offsetwidth ? record->offsetwidth : 20;
    const bool text = fmt[0] == 'F';
    const char *const crashTag = text ? "*CRASH\n" : "*CRASH";
    const int crashBytes = text ? 7 : 6;
    const int fd = vrnPlatform_streamFd(fp);

    // A dataset of modest size is put together in memory and goes to the
    // file with positioned writes: the whole dataset with its leading length
    // 0 and "*CRASH" after it, then the length. Larger ones are written
    // through the stream.
    MemoryOut mem;
    const bool inMemory = fd >= 0 && start >= 0 && iodata_totalSize(data) <= g_assembleLimit && mem.open();
    if (inMemory) {
        // What the stream still buffers goes out first, and it drops what it
        // has read; the positioned writes below go around it, and a seek
        // sets it on where the next dataset goes.
        if (fflush(fp) != 0) {
            kwxsystemErr(routine, "write_dataset: (can't go to the dataset location) syserr:");
            return IO_ERR_SEEK;
        }
    } else if (!(__fwriting(fp) && kwxTell64(fp) == start) && kwxSeek64(fp, start, 0) != 0) {
        // (A stream whose last operation was a write at the index position
        // needs no seek.)
        kwxsystemErr(routine, "write_dataset: (can't go to the dataset location) syserr:");
        return IO_ERR_SEEK;
    }
    FILE *out = inMemory ? mem.stream : fp;

    // Positions follow from start and the bytes written.
    int rc = 0;
    const int64_t lenpos = start + 3;
    int64_t p1 = -1, end = -1, dslength = 0;
    char lenField[IO_OFFSET_FIELD_MAX];
    int lenBytes = 0;
    const char fb[3] = {fmt[0], fmt[1], '\n'};
    do {
        if (fwrite(fb, 1, 3, out) != 3) {
            kwxsystemErr(routine, "write_dataset: (can't write the format string) syserr:");
            rc = IO_ERR_WRITE;
            break;
        }
        if ((rc = kwxEncodeOffset(routine, fmt, 0, width, lenField, &lenBytes)) == 0 &&
            fwrite(lenField, 1, static_cast<size_t>(lenBytes), out) != static_cast<size_t>(lenBytes)) {
            kwxsystemErr(routine, "kwxwriteOffset: (fwrite failed) syserr:");
            rc = IO_ERR_WRITE;
        }
        if (rc) {
            kwxIoError(routine, "write_dataset: can't write dataset length\n");
            break;
        }
        p1 = lenpos + lenBytes;
        if ((rc = kwxwriteTag(routine, fmt, "*DATASET", out))) {
            kwxIoError(routine, "write_dataset: can't write dataset tag\n");
            break;
        }
        if ((rc = write_header(routine, fmt, out, h))) {
            kwxIoError(routine, "write_dataset: can't write dataset header\n");
            break;
        }
        if (number > 0) {
            if ((rc = write_datatag(routine, fmt, out))) {
                kwxIoError(routine, "write_dataset: can't write datatag\n");
                break;
            }
            int bf = *h->blockfactor;
            if (compressed && number > bf) {
                DataView v(data);
                int blocks = number / bf, rest = number % bf;
                for (int b = 0; b < blocks && !rc; ++b) {
                    rc = write_data(routine, fmt, out, bf, h->datatype, &v.view);
                    if (!rc) rc = advanceView(routine, h->datatype, bf, v);
                }
                if (!rc && rest) rc = write_data(routine, fmt, out, rest, h->datatype, &v.view);
            } else {
                rc = write_data(routine, fmt, out, number, h->datatype, data);
            }
            if (rc) {
                kwxIoError(routine, "write_dataset: can't write dataset data\n");
                break;
            }
        }
        if ((rc = kwxwriteTag(routine, fmt, "*ENDDATASET", out))) {
            kwxIoError(routine, "write_dataset: can't write dataset end tag\n");
            break;
        }
        end = kwxTell64(out);
        if (inMemory && end >= 0) end += start;
        if (end < p1) {
            kwxsystemErr(routine, "write_dataset: (can't tell the ending  position for the dataset) syserr:");
            rc = IO_ERR_TELL;
            break;
        }
        dslength = end - p1;
        if ((rc = kwxEncodeOffset(routine, fmt, dslength, width, lenField, &lenBytes)) == 0 &&
            fwrite(lenField, 1, static_cast<size_t>(lenBytes), out) != static_cast<size_t>(lenBytes)) {
            kwxsystemErr(routine, "kwxwriteOffset: (fwrite failed) syserr:");
            rc = IO_ERR_WRITE;
        }
        if (rc) {
            kwxIoError(routine, "write_dataset: can't write dataset length\n");
            break;
        }
    } while (false);

    if (rc) {
        // "*CRASH" at the dataset's start cuts the partial dataset off.
        kwxIoTrace("write_dataset aborting");
        if (inMemory) {
            // The partial dataset as far as it got, with "*CRASH" over its start.
            fflush(mem.stream);
            std::string partial(mem.buffer ? mem.buffer : "", mem.buffer ? mem.size : 0);
            if (partial.size() < static_cast<size_t>(crashBytes)) partial.resize(static_cast<size_t>(crashBytes));
            memcpy(&partial[0], crashTag, static_cast<size_t>(crashBytes));
            if (pwriteAll(fd, partial.data(), static_cast<int>(partial.size()), start) != 0)
                kwxIoTrace("write_dataset abort: can't write file end tag\n");
            if (kwxSeek64(fp, start, 0) != 0) kwxIoTrace("write_dataset abort: second fseek failed");
            return rc;
        }
        if (kwxSeek64(fp, start, 0) != 0) {
            kwxIoTrace("write_dataset abort: fseek failed");
        } else if (kwxwriteTag(routine, fmt, "*CRASH", fp) != 0) {
            kwxIoTrace("write_dataset abort: can't write file end tag\n");
        }
        if (kwxSeek64(fp, start, 0) != 0) kwxIoTrace("write_dataset abort: second fseek failed");
        fflush(fp);
        return rc;
    }

    const int64_t crash = end + lenBytes;
    if (inMemory) {
        if (fwrite(crashTag, 1, static_cast<size_t>(crashBytes), mem.stream) != static_cast<size_t>(crashBytes) ||
            fflush(mem.stream) != 0 || !mem.buffer) {
            kwxIoError(routine, "write_dataset: can't write file end tag\n");
            return IO_ERR_WRITE;
        }
        // The dataset with length 0 and "*CRASH", then the length, then the
        // stream is set on "*CRASH", where the next dataset goes.
        if (pwriteAll(fd, mem.buffer, static_cast<int>(mem.size), start) != 0) {
            kwxsystemErr(routine, "write_dataset: (can't go to the begining of the dataset) syserr:");
            return IO_ERR_SEEK;
        }
        if (pwriteAll(fd, lenField, lenBytes, lenpos) != 0) {
            kwxsystemErr(routine, "kwxwriteOffset: (pwrite failed) syserr:");
            kwxIoError(routine, "write_dataset: can't write dataset length\n");
            return IO_ERR_WRITE;
        }
        if (kwxSeek64(fp, crash, 0) != 0) {
            kwxsystemErr(routine, "write_dataset: (can't go to the end of the dataset) syserr:");
            return IO_ERR_SEEK;
        }
    } else if (fd < 0) {
        // A stream without a descriptor of its own: all through the stream.
        if (kwxwriteTag(routine, fmt, "*CRASH", fp) != 0) {
            kwxIoError(routine, "write_dataset: can't write file end tag\n");
            return IO_ERR_WRITE;
        }
        if (kwxSeek64(fp, lenpos, 0) != 0) {
            kwxsystemErr(routine, "write_dataset: (can't go to the begining of the dataset) syserr:");
            return IO_ERR_SEEK;
        }
        if (fwrite(lenField, 1, static_cast<size_t>(lenBytes), fp) != static_cast<size_t>(lenBytes)) {
            kwxsystemErr(routine, "kwxwriteOffset: (fwrite failed) syserr:");
            kwxIoError(routine, "write_dataset: can't write dataset length\n");
            return IO_ERR_WRITE;
        }
        if (kwxSeek64(fp, crash, 0) != 0) {
            kwxsystemErr(routine, "write_dataset: (can't go to the end of the dataset) syserr:");
            return IO_ERR_SEEK;
        }
    } else {
        // The dataset goes out with its length 0, then "*CRASH" after it and
        // the length, by positioned writes that leave the stream on "*CRASH".
        if (fflush(fp) != 0) {
            kwxsystemErr(routine, "write_dataset: (can't go to the begining of the dataset) syserr:");
            return IO_ERR_SEEK;
        }
        if (pwriteAll(fd, crashTag, crashBytes, crash) != 0) {
            kwxsystemErr(routine, "kwxwriteString: (fwrite failed) syserr:");
            kwxIoError(routine, "write_dataset: can't write file end tag\n");
            return IO_ERR_WRITE;
        }
        if (pwriteAll(fd, lenField, lenBytes, lenpos) != 0) {
            kwxsystemErr(routine, "kwxwriteOffset: (pwrite failed) syserr:");
            kwxIoError(routine, "write_dataset: can't write dataset length\n");
            return IO_ERR_WRITE;
        }
    }
    char line[IO_INDEX_SLOT];
    if ((rc = kwxMakeIndexLine(line, "Y", h->what, h->where, *h->when, dslength, start))) {
        kwxIoError(routine, "write_dataset: index line too long for %s:%s:%d", h->what, h->where, *h->when);
        return rc;
    }
    return insert_index(routine, record, line);
}

// ---- reading a located dataset -----------------------------------------------

extern "C" int read_located_dataset_start_len(IO_error_routine routine, char *format,
                                              int64_t *dslength, IO_file *record) {
    if (!format || !record || !record->stream) return IO_ERR_MEMORY;
    FILE *fp = record->stream;
    unsigned char fb[3];
    size_t got = fread(fb, 1, 3, fp);
    if (got != 3) {
        char *msg = kwxFormatAlloc("read_located_dataset_start: short read %d reading dataset format",
                                   static_cast<int>(got));
        kwxsystemErr(routine, msg ? msg : "read_located_dataset_start: short read");
        free(msg);
        return IO_ERR_READ;
    }
    if (!iofmt_is_letter(fb[0])) {
        kwxIoError(routine,
                   "read_located_dataset_start: the data set location is incorrect (invalid format char '%c'\n",
                   fb[0] ? fb[0] : '?');
        return IO_ERR_READ;
    }
    format[0] = static_cast<char>(fb[0]);
    format[1] = static_cast<char>(fb[1]);
    format[2] = '\0';
    int64_t len = 0;
    if (int rc = kwxreadOffset(routine, format, &len, fp)) {
        kwxIoError(routine, "read_located_dataset_start: can't read data set length\n");
        return rc;
    }
    int64_t size = fileSize(fp);
    if (len <= 0 || (size >= 0 && len > size)) {
        kwxIoError(routine, "read_located_dataset_start: bad dataset length %" PRId64, len);
        return IO_ERR_BADFILE;
    }
    if (dslength) *dslength = len;
    char tag[16];
    if (kwxreadTag(routine, format, tag, 8, fp) != 0) {
        kwxIoError(routine, "read_located_dataset_start: can't read data set tag\n");
        return IO_ERR_READ;
    }
    if (strcmp(tag, "*DATASET") != 0) {
        kwxIoError(routine, "read_located_dataset_start: bad data set tag %s\n", tag);
        return IO_ERR_BADFILE;
    }
    return 0;
}

extern "C" int read_located_dataset_start(IO_error_routine routine, char *format, IO_file *record) {
    return read_located_dataset_start_len(routine, format, nullptr, record);
}

extern "C" int read_located_dataset(IO_error_routine routine, char *format, IO_header *h,
                                    IO_data *data, const char *target, IO_file *record) {
    if (!format || !h || !record || !record->stream) return IO_ERR_MEMORY;
    FILE *fp = record->stream;
    bool convert = false;
    char want[IO_DATATYPE_SIZE + 1] = {0};
    if (target && target[0]) {
        snprintf(want, sizeof want, "%s", target);
        convert = true;
    }
    int64_t dslength = 0;
    if (int rc = read_located_dataset_start_len(routine, format, &dslength, record)) {
        kwxIoError(routine, "read_located_dataset: can't read data set start block\n");
        return rc;
    }
    // The dataset's bytes end, with its end tag, where its leading length
    // says: a read that runs past that was steered by a damaged header
    // into the datasets after it.
    const int64_t framedEnd = kwxTell64(fp) + dslength;
    if (int rc = read_header(routine, format, fp, h)) {
        kwxIoError(routine, "read_located_dataset: can't read data set header\n");
        return rc;
    }
    int number = *h->number;
    if (number < 1) return 0;
    if (!data) return IO_ERR_MEMORY;
    if (!convert) {
        snprintf(want, sizeof want, "%s", h->datatype);
    } else if (strcmp(want, h->datatype) == 0) {
        convert = false;
    } else {
        int needed = 0;
        int rc = convert_data(routine, 0, h->datatype, want, &needed, nullptr, nullptr);
        if (rc) {
            kwxIoError(routine, "read_located_dataset_as: data not compatible with conversion");
            return rc;
        }
        if (!needed) {
            kwxIoTrace("read_located_dataset_as: convert_data says not to convert %s to %s", h->datatype, want);
            convert = false;
        }
    }
    if (int rc = check_memory(routine, format, number, want, data)) {
        kwxIoTrace("Not enough memory to read %d records of %s\n", number, want);
        return rc;
    }
    // Blocks are split exactly where the writer split them: only compressed
    // binary data (and binary data with the level byte '0' of older writers)
    // was written in BLOCKFACTOR pieces, and a block factor of 1 stands for
    // 100000 there.
    int bf = *h->blockfactor == 1 ? 100000 : *h->blockfactor;
    if (iofmt_is_blocked(format) && bf < 1) {
        kwxIoError(routine, "read_located_dataset: bad blockfactor %d for %s:%s:%d", *h->blockfactor,
                   h->what, h->where, *h->when);
        return IO_ERR_FORMAT;
    }
    bool blocks = iofmt_is_blocked(format) && number > bf;
    int chunk = blocks ? bf : number;
    IO_data *temp = nullptr;
    if (convert) {
        int types[IO_MAXENT], counts[IO_MAXENT], n = 0;
        if (parseStructure(routine, h->datatype, &n, types, counts) != 0) {
            kwxIoError(routine, "read_located_dataset_as: parse of actual structure failed\n");
            return IO_ERR_PARSE;
        }
        temp = iodata_alloc();
        if (!temp)
            return kwxIoNoMemory(routine, IO_ERR_ALLOC, "read_located_dataset_as",
                                 (int64_t)sizeof(IO_data) + 7 * sizeof(int32_t));
        for (int e = 0; e < n; ++e) {
            int64_t add = types[e] == IO_STRI ? chunk : static_cast<int64_t>(counts[e]) * chunk;
            int32_t *cnt = temp->*kwxItemTypes[types[e]].count;
            if (*cnt + add > INT32_MAX) {
                iodata_delete(temp);
                return IO_ERR_MEMORY;
            }
            *cnt += static_cast<int32_t>(add);
        }
        if (iodata_alloc_arrays(routine, temp) != 0) {
            kwxIoError(routine, "read_located_dataset_as: error allocating temporary storage for conversion");
            iodata_delete(temp);
            return IO_ERR_ALLOC;
        }
    }
    kwxIoTrace("Reading %s:%s:%d data in format %s, destination format %s", h->what, h->where, *h->when,
               h->datatype, want);
    int rc = read_datatag(routine, format, fp);
    if (rc) {
        kwxIoError(routine, "read_located_dataset: read_datatag failed\n");
        iodata_delete(temp);
        return rc;
    }
    DataView v(data);
    int left = number;
    while (left > 0 && !rc) {
        int n = left < chunk ? left : chunk;
        if (convert) {
            IO_data tv = *temp;
            int32_t saved[7] = {*temp->noffsets, *temp->nstrings, *temp->nchars, *temp->nints,
                                *temp->nreals, *temp->ndoubles, *temp->nlogicals};
            rc = read_data(routine, format, fp, n, h->datatype, &tv);
            if (rc) {
                kwxIoError(routine, "read_located_dataset_as: read_data failed");
            } else {
                int flag = 0;
                rc = convert_data(routine, n, h->datatype, want, &flag, temp, &v.view);
                if (rc) kwxIoError(routine, "read_located_dataset_as: convert_data failed");
            }
            *temp->noffsets = saved[0];
            *temp->nstrings = saved[1];
            *temp->nchars = saved[2];
            *temp->nints = saved[3];
            *temp->nreals = saved[4];
            *temp->ndoubles = saved[5];
            *temp->nlogicals = saved[6];
        } else {
            rc = read_data(routine, format, fp, n, want, &v.view);
            if (rc) kwxIoError(routine, "read_located_dataset: read_data failed\n");
        }
        left -= n;
        if (!rc && left > 0) rc = advanceView(routine, want, n, v);
    }
    iodata_delete(temp);
    if (rc) return rc;
    char tag[16];
    rc = kwxreadTag(routine, format, tag, 11, fp);
    if (rc) {
        kwxIoError(routine, "read_located_dataset: can't read data set end tag, error %d\n", rc);
        return rc;
    }
    if (strcmp(tag, "*ENDDATASET") != 0) {
        kwxIoError(routine, "read_located_dataset: bad data set end tag: expected *ENDDATASET got \"%s\"\n", tag);
        return IO_ERR_PARSE;
    }
    if (kwxTell64(fp) > framedEnd) {
        kwxIoError(routine, "read_located_dataset: the data of %s:%s:%d run past the end the dataset's length gives",
                   h->what, h->where, *h->when);
        return IO_ERR_PARSE;
    }
    return 0;
}

extern "C" int read_located_dataset_plain(IO_error_routine routine, char *format, IO_header *h,
                                          IO_data *data, IO_file *record) {
    return read_located_dataset(routine, format, h, data, nullptr, record);
}

extern "C" int move_datapoints(IO_error_routine routine, const char *datatype, int records,
                               IO_data *data) {
    int types[IO_MAXENT], counts[IO_MAXENT], n = 0;
    int rc = parseStructure(routine, datatype, &n, types, counts);
    if (rc) {
        kwxIoError(routine, "move_datapoints: parseStructure failed\n");
        return rc;
    }
    if (!data || records < 0) return IO_ERR_MEMORY;
    size_t r = static_cast<size_t>(records);
    for (int e = 0; e < n; ++e) {
        size_t c = static_cast<size_t>(counts[e]);
        switch (types[e]) {
        case IO_STRI: if (data->strings) data->strings += r * IO_STRING_LEN; break;
        case IO_CHAR: if (data->chars) data->chars += c * r; break;
        case IO_INTR: if (data->ints) data->ints += c * r; break;
        case IO_REAL: if (data->reals) data->reals += c * r; break;
        case IO_DBLE: if (data->doubles) data->doubles += c * r; break;
        case IO_LOGL: if (data->logicals) data->logicals += c * r; break;
        }
    }
    return 0;
}
