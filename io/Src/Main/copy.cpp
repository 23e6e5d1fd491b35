// Dataset copy between data files: the header is read and written again
// under the new name, the data section and end tag are copied byte for byte.
// A copy is written like any dataset: its leading length stays 0 and an end
// tag follows it until it is complete, so that a copy cut short is never
// taken for a dataset by an index rebuild.
#include "io_files.h"
#include "vrn_platform.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const int64_t kCopyBuffer = 4 * 1024 * 1024;
const int64_t kSmallCopyBuffer = 100000;

bool sameFile(const IO_file *a, const IO_file *b) {
    if (a == b) return true;
    if (!a->stream || !b->stream) return false;
    struct stat sa, sb;
    if (fstat(vrnPlatform_streamFd(a->stream), &sa) != 0 || fstat(vrnPlatform_streamFd(b->stream), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// Cuts off a copy that failed half way: "*CRASH" where it began, so that the
// next dataset overwrites it and a rebuild stops there.
void abandonCopy(IO_error_routine routine, FILE *out, int64_t start) {
    if (kwxSeek64(out, start, 0) != 0) {
        kwxIoTrace("copy_dataset abort: fseek failed");
        return;
    }
    if (kwxwriteTag(routine, "F", "*CRASH", out) != IO_OK)
        kwxIoTrace("copy_dataset abort: can't write file end tag\n");
    if (kwxSeek64(out, start, 0) != 0) kwxIoTrace("copy_dataset abort: second fseek failed");
}

// Writes bytes at a position of the stream's file without moving the
// stream; the stream holds no buffered data.
bool writeAt(FILE *stream, const std::string &bytes, int64_t position) {
    return vrnPlatform_pwrite(vrnPlatform_streamFd(stream), bytes.data(), bytes.size(), position) >= 0;
}

// The bytes of a length field, as the offset writer lays them out.
int offsetBytes(IO_error_routine routine, const char *format, int64_t value, int width,
                std::string &out) {
    char buffer[64];
    FILE *mem = fmemopen(buffer, sizeof buffer, "w");
    if (!mem) return IO_ERR_ALLOC;
    int rc = kwxwriteOffset(routine, format, &value, width, mem);
    long n = ftell(mem);
    fclose(mem);
    if (rc != IO_OK) return rc;
    if (n < 0 || n > (long)sizeof buffer) return IO_ERR_WRITE;
    out.assign(buffer, (size_t)n);
    return IO_OK;
}

// Leading lengths of copies that are still 0 in the file. They are set only
// once everything before them is written out, so that a copy cut short is
// never taken for a dataset; a run of copies shares one flush.
struct Pending {
    std::vector<std::pair<int64_t, std::string>> lengths;
    int64_t first = -1;  // start of the first of them
    int64_t end = -1;  // end of the last copy, where the end tag goes
    std::string crash;
};

// Takes back copies whose bytes may not all be in the file: the index lines
// of the destination's datasets from `from` on go, and the next dataset, or
// the index at close, goes there, "*CRASH" standing there meanwhile (a
// rebuild stops at it). What was copied before stays.
void takeBack(IO_error_routine routine, IO_file *destination, int64_t from) {
    int kept = 0;
    for (int i = 0; i < destination->nlines; ++i) {
        char *line = IO_INDEX_LINE(destination->indextable, i);
        const char *last = strrchr(line, IO_ESC);
        if (last && kwx_atoi64(last + 1) >= from) continue;
        if (kept != i) memcpy(IO_INDEX_LINE(destination->indextable, kept), line, IO_INDEX_SLOT);
        ++kept;
    }
    for (int i = kept; i < destination->nlines; ++i) IO_INDEX_LINE(destination->indextable, i)[0] = '\0';
    destination->nlines = kept;
    destination->sorted = 0;
    destination->sortedhead = 0;
    kwxIndexDropViews(destination);
    destination->indexpos = from;
    FILE *out = destination->stream;
    clearerr(out);
    if (!writeAt(out, "*CRASH", from)) kwxIoTrace("copy_dataset abort: can't write file end tag\n");
    if (kwxSeek64(out, from, 0) != 0) kwxIoTrace("copy_dataset abort: fseek failed");
    kwxIoError(routine, "copy_dataset: the copies from offset %" PRId64 " of %s on are taken back", from,
               destination->filename ? destination->filename : "");
}

// Sets the leading lengths of the pending copies, which makes them whole. A
// write of the stream that failed since they began may have lost bytes of
// them, and the stream then carries an error: they are taken back, as they
// are when their lengths cannot be set.
[[nodiscard]]
int settle(IO_error_routine routine, IO_file *destination, Pending &pending) {
    if (pending.lengths.empty()) return IO_OK;
    FILE *out = destination->stream;
    int rc = IO_OK;
    if (fflush(out) != 0 || ferror(out)) {
        kwxsystemErr(routine, "copy_dataset: write data block failed syserr:");
        rc = IO_ERR_WRITE;
    } else if (!writeAt(out, pending.crash, pending.end)) {
        kwxsystemErr(routine, "copy_dataset: can't write file end tag syserr:");
        rc = IO_ERR_WRITE;
    } else {
        for (const auto &length : pending.lengths) {
            if (!writeAt(out, length.second, length.first)) {
                kwxsystemErr(routine, "copy_dataset: (seek starting dslength location) syserr:");
                rc = IO_ERR_WRITE;
                break;
            }
        }
    }
    if (rc != IO_OK) takeBack(routine, destination, pending.first);
    pending.lengths.clear();
    pending.first = -1;
    return rc;
}

// Before a copy request writes: what the destination's stream holds goes
// out, and an error it carries from earlier work is cleared, so that the
// error seen at settle is one of this request's writes.
[[nodiscard]]
int startCopies(IO_error_routine routine, IO_file *destination) {
    if (!destination || !destination->stream) return IO_OK;
    if (fflush(destination->stream) != 0) {
        kwxsystemErr(routine, "copy_dataset: (can't write what the destination holds) syserr:");
        return IO_ERR_WRITE;
    }
    clearerr(destination->stream);
    return IO_OK;
}

void setName(char *buffer, const char *name) {
    size_t n = strnlen(name, IO_WHAT_SIZE - 1);
    memcpy(buffer, name, n);
    buffer[n] = '\0';
}

struct LocalHeader {
    IO_header h;
    bool ok = false;
    LocalHeader() {
        memset(&h, 0, sizeof h);
        ok = ioheader_alloc(&h) == IO_OK;
    }
    ~LocalHeader() { ioheader_free(&h); }
    LocalHeader(const LocalHeader &) = delete;
    LocalHeader &operator=(const LocalHeader &) = delete;
};

// The copy itself once the destination's format bytes are written; on
// failure the caller cuts the partial copy off. With sourceLine, the source's
// index line of the dataset: a header that does not have its name answers
// KWX_LINE_WRONG, and nothing is copied under a name not the dataset's.
[[nodiscard]]
int copyBody(IO_error_routine routine, const char *what, const char *where, int32_t when,
             IO_file *destination, IO_file *source, const char *format, int64_t start,
             const IO_location *sourceLine, Pending &pending) {
    FILE *in = source->stream, *out = destination->stream;
    int64_t length = 0;
    int rc = kwxreadOffset(routine, format, &length, in);
    if (rc != IO_OK) {
        kwxIoError(routine, "copy_dataset: reading data length failed\n");
        return rc;
    }
    int64_t lengthPos = kwxTell64(out);
    if (lengthPos < 0) {
        kwxIoError(routine, "copy_dataset: error telling destination file dslength position");
        return IO_ERR_TELL;
    }
    int64_t zero = 0;
    rc = kwxwriteOffset(routine, format, &zero, destination->offsetwidth, out);
    if (rc != IO_OK) {
        kwxIoError(routine, "copy_dataset: writing data length failed\n");
        return rc;
    }
    int64_t srcStart = kwxTell64(in);
    if (srcStart < 0) {
        kwxIoError(routine, "copy_dataset: error telling source file start position");
        return IO_ERR_TELL;
    }
    int64_t dstStart = kwxTell64(out);
    if (dstStart < 0) {
        kwxIoError(routine, "copy_dataset: error telling destination file start position");
        return IO_ERR_TELL;
    }
    char tag[16] = {0};
    rc = kwxreadTag(routine, format, tag, 8, in);
    if (rc != IO_OK) {
        kwxIoError(routine, "copy_dataset: can't read data set tag\n");
        return rc;
    }
    if (strcmp(tag, "*DATASET") != 0) {
        // Not a dataset: nothing may be added under its name, or a
        // compaction would replace a file by one without it.
        kwxIoError(routine, "copy_dataset: bad data set tag %s\n", tag);
        return IO_ERR_BADFILE;
    }
    rc = kwxwriteTag(routine, format, "*DATASET", out);
    if (rc != IO_OK) {
        kwxIoError(routine, "copy_dataset: can't write data set tag\n");
        return rc;
    }
    LocalHeader local;
    if (!local.ok)
        return kwxIoNoMemory(routine, IO_ERR_ALLOC, "copy_dataset: error allocating local header\n", IO_NO_SIZE);
    IO_header &h = local.h;
    rc = read_header(routine, format, in, &h);
    if (rc != IO_OK) {
        kwxIoError(routine, "copy_dataset: error reading header\n");
        return rc;
    }
    if (sourceLine && !kwxHeaderNamesLine(format[0], h.what, h.where, *h.when, sourceLine)) return KWX_LINE_WRONG;
    kwxIoTrace("Copying dataset %s:%s:%d to %s:%s:%d", h.what, h.where, *h.when, what, where,
               when);
    setName(h.what, what);
    setName(h.where, where);
    *h.when = when;
    rc = write_header(routine, format, out, &h);
    if (rc != IO_OK) {
        kwxIoError(routine, "copy_dataset: error writing header\n");
        return rc;
    }
    int64_t srcData = kwxTell64(in);
    if (srcData < 0) {
        kwxIoError(routine, "copy_dataset: error telling source file data position");
        return IO_ERR_TELL;
    }
    int64_t dstData = kwxTell64(out);
    if (dstData < 0) {
        kwxIoError(routine, "copy_dataset: error telling destination file data position");
        return IO_ERR_TELL;
    }
    int64_t rest = length - (srcData - srcStart);
    if (rest < 0) {
        kwxIoError(routine, "copy_dataset: bad data set length %" PRId64 "\n", length);
        return IO_ERR_BADFILE;
    }
    int64_t newLength = rest + (dstData - dstStart);

    if (rest > 0) {
        // Up to kCopyBuffer bytes at a time; when memory is short, a buffer
        // of kSmallCopyBuffer bytes does it in more steps.
        int64_t size = std::min(rest, kCopyBuffer);
        std::unique_ptr<char, decltype(&free)> buffer(static_cast<char *>(kwxIoMalloc((size_t)size)), free);
        if (!buffer && size > kSmallCopyBuffer) {
            size = kSmallCopyBuffer;
            buffer.reset(static_cast<char *>(kwxIoMalloc((size_t)size)));
        }
        if (!buffer) return kwxIoNoMemory(routine, IO_ERR_ALLOC, "copy_dataset", size);
        int64_t blocks = rest / size, done = 0;
        for (int64_t b = 0; b < blocks; ++b) {
            size_t got = fread(buffer.get(), 1, (size_t)size, in);
            if ((int64_t)got != size) {
                kwxIoError(routine,
                           "copy_dataset: read data block %d/%d failed: read %d bytes, expected "
                           "%d, dataset is %" PRId64 " bytes",
                           (int)(b + 1), (int)blocks, (int)got, (int)size, length);
                return IO_ERR_READ;
            }
            if (fwrite(buffer.get(), 1, (size_t)size, out) != (size_t)size) {
                kwxsystemErr(routine, "copy_dataset: write data block failed");
                return IO_ERR_WRITE;
            }
            done += size;
        }
        int64_t remaining = rest - done;
        if (remaining > 0) {
            if ((int64_t)fread(buffer.get(), 1, (size_t)remaining, in) != remaining) {
                kwxIoError(routine, "copy_dataset: read remaining data failed");
                return IO_ERR_READ;
            }
            if ((int64_t)fwrite(buffer.get(), 1, (size_t)remaining, out) != remaining) {
                kwxsystemErr(routine, "copy_dataset: write remaining data failed");
                return IO_ERR_WRITE;
            }
        }
    }
    rc = kwxwriteOffset(routine, format, &newLength, destination->offsetwidth, out);
    if (rc != IO_OK) {
        kwxIoError(routine, "copy_dataset: writing data length failed\n");
        return rc;
    }
    int64_t end = kwxTell64(out);
    if (end < 0) {
        kwxsystemErr(routine, "copy_dataset: (tell the indexlocation) syserr:");
        return IO_ERR_TELL;
    }
    // The end tag and the length go in place later, without moving the
    // stream, which stays at the end of the copy, where the next one goes.
    std::string field;
    rc = offsetBytes(routine, format, newLength, destination->offsetwidth, field);
    if (rc != IO_OK) {
        kwxIoError(routine, "copy_dataset: writing data length failed\n");
        return rc;
    }
    // The index line first: a copy that fails here is cut off at its start,
    // and its length must then not be set over that cut.
    char line[IO_INDEX_SLOT];
    rc = kwxMakeIndexLine(line, "Y", what, where, when, newLength, start);
    if (rc == IO_OK) rc = insert_index(routine, destination, line);
    if (rc != IO_OK) return rc;
    pending.lengths.emplace_back(lengthPos, field);
    if (pending.first < 0) pending.first = start;
    pending.end = end;
    pending.crash = format[0] == 'F' ? "*CRASH\n" : "*CRASH";
    destination->indexpos = end;
    return IO_OK;
}

}  // namespace

namespace {

// One copy; positioned tells that the destination stream already stands at
// its index position (the end of the previous copy).
[[nodiscard]]
int copyOne(IO_error_routine routine, const char *what, const char *where, int32_t when,
            IO_file *destination, IO_file *source, bool positioned, const IO_location *line,
            Pending &pending) {
    if (!destination || !source || !destination->stream || !source->stream) {
        kwxIoError(routine, "copy_dataset: no open file to copy from or to\n");
        return IO_ERR_NOFILE;
    }
    if (!what || !where) return IO_ERR_MEMORY;
    FILE *in = source->stream, *out = destination->stream;
    char bytes[3];
    if (fread(bytes, 1, 3, in) != 3) {
        kwxsystemErr(routine, "copy_dataset: (read format) syserr:");
        return IO_ERR_READ;
    }
    char c = bytes[0];
    if (iofmt_is_deleted(c)) return IO_OK;
    if (!iofmt_is_live(c)) {
        kwxIoError(routine,
                   "copy_dataset: the source data set location is incorrect: bad format type in "
                   "%c%c",
                   c, bytes[1] ? bytes[1] : ' ');
        return IO_ERR_READ;
    }
    char format[3] = {c, bytes[1], '\0'};
    if (int rc = kwxCheckDatasetName(routine, format, what, where, when, "copy_dataset")) return rc;
    int64_t start = destination->indexpos;
    if (!positioned && kwxSeek64(out, start, 0) != 0) {
        kwxsystemErr(routine, "copy_dataset: (seek index location) syserr:");
        return IO_ERR_SEEK;
    }
    if (fwrite(bytes, 1, 3, out) != 3) {
        kwxsystemErr(routine, "copy_dataset: (write format) syserr:");
        abandonCopy(routine, out, start);
        return IO_ERR_WRITE;
    }
    int rc = copyBody(routine, what, where, when, destination, source, format, start, line, pending);
    if (rc != IO_OK) {
        abandonCopy(routine, out, start);
        (void)settle(routine, destination, pending);   // the copy's own failure is answered
    }
    return rc;
}

}  // namespace

extern "C" int copy_dataset(IO_error_routine routine, const char *what, const char *where,
                            int32_t when, IO_file *destination, IO_file *source) {
    if (destination && source && sameFile(source, destination)) {
        kwxIoError(routine, "copy_dataset: cannot copy a dataset of %s into the same file\n",
                   source->filename ? source->filename : "");
        return IO_ERR_PERMISSION;
    }
    if (int rc = startCopies(routine, destination)) return rc;
    Pending pending;
    int rc = copyOne(routine, what, where, when, destination, source, false, nullptr, pending);
    int settled = destination ? settle(routine, destination, pending) : IO_OK;
    return rc != IO_OK ? rc : settled;
}

namespace {

// The WHEN a copy in the mode gives a dataset.
int32_t copiedWhen(int mode, int32_t when) { return (mode == 2 && when > 0) ? 1 : when; }

// The source's datasets that the copy takes, in the order it takes them:
// the index brought up to date, and with chosen only the datasets whose
// index lines have one of its nchosen locations. A chosen location that no
// live index line has is refused before anything is written, so that a
// caller never takes a copy with a dataset missing for a whole one.
[[nodiscard]]
int listToCopy(IO_error_routine routine, IO_file *source, int mode, const int64_t *chosen, int32_t nchosen,
               std::vector<IO_location> &todo) {
    todo.clear();
    int rc = update_index(routine, source);
    if (rc != IO_OK) {
        kwxIoError(routine, "copy_all_ds: update_index failed\n");
        return rc;
    }
    try {
        kwxIoCountAllocation();
        std::vector<int64_t> wanted;
        if (chosen) {
            wanted.assign(chosen, chosen + std::max(nchosen, 0));
            std::sort(wanted.begin(), wanted.end());
            wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
        }
        std::vector<bool> hit(wanted.size(), false);
        for (int i = 0; i < source->nlines; ++i) {
            const char *line = IO_INDEX_LINE(source->indextable, i);
            if (line[0] == 'N') continue;
            IO_location loc;
            rc = parseindex(routine, line, &loc);
            if (rc != IO_OK) {
                kwxIoError(routine, "copy_all_ds: parse index failed\n");
                return rc;
            }
            if (mode == 1 && loc.when != 0) continue;
            if (chosen) {
                auto at = std::lower_bound(wanted.begin(), wanted.end(), loc.location);
                if (at == wanted.end() || *at != loc.location) continue;
                hit[static_cast<size_t>(at - wanted.begin())] = true;
            }
            todo.push_back(loc);
        }
        if (const auto missed = std::count(hit.begin(), hit.end(), false)) {
            kwxIoError(routine, "copy_all_ds: %d of the chosen locations hold no dataset\n", (int)missed);
            return IO_ERR_NOTLOCATED;
        }
        // Every WHEN above 0 becomes 1, and of several datasets of one name
        // the one copied last is the one found later: each WHAT and WHERE
        // group goes in ascending numeric WHEN, so that the latest wins
        // (the table orders WHEN as text, where "10" comes before "9").
        // The other modes copy in file order, which reads the source
        // sequentially.
        if (mode != 2)
            std::sort(todo.begin(), todo.end(), [](const IO_location &a, const IO_location &b) {
                return a.location < b.location;
            });
        else
            std::stable_sort(todo.begin(), todo.end(),
                             [](const IO_location &a, const IO_location &b) {
                                 int c = strcmp(a.what, b.what);
                                 if (c != 0) return c < 0;
                                 c = strcmp(a.where, b.where);
                                 if (c != 0) return c < 0;
                                 return a.when < b.when;
                             });
    } catch (const std::bad_alloc &) {
        return kwxIoNoMemory(routine, IO_ERR_ALLOC, "copy_all_ds",
                             (int64_t)source->nlines * (int64_t)sizeof(IO_location));
    }
    return IO_OK;
}

// Of the list made again after the source's index was mended, what is left
// to copy: the datasets not copied yet (copied: their source locations,
// sorted), and in mode 2 also those that follow one of them under the same
// copied name, so that the latest still comes last.
void leftToCopy(int mode, const std::vector<int64_t> &copied, std::vector<IO_location> &todo) {
    auto sameCopiedName = [mode](const IO_location &a, const IO_location &b) {
        return mode == 2 && copiedWhen(mode, a.when) == copiedWhen(mode, b.when) && strcmp(a.what, b.what) == 0 &&
               strcmp(a.where, b.where) == 0;
    };
    size_t kept = 0;
    bool again = false;
    for (size_t i = 0; i < todo.size(); ++i) {
        if (i == 0 || !sameCopiedName(todo[i - 1], todo[i])) again = false;
        again = again || !std::binary_search(copied.begin(), copied.end(), todo[i].location);
        if (again) todo[kept++] = todo[i];
    }
    todo.resize(kept);
}

// The copy of a whole file behind copy_all_ds; with chosen, only the
// datasets whose index lines have one of its nchosen locations are copied.
// A source line found not to name its dataset has the source's index
// mended from the datasets themselves (once), and the copy goes on from
// the mended index: no dataset is copied under another's name or left out.
[[nodiscard]]
int copyAll(IO_error_routine routine, IO_file *source, IO_file *destination, int mode,
            const int64_t *chosen, int32_t nchosen) {
    if (!destination || !source || !destination->stream || !source->stream) {
        kwxIoError(routine, "copy_all_ds: no open file to copy from or to\n");
        return IO_ERR_NOFILE;
    }
    if (sameFile(source, destination)) {
        kwxIoError(routine, "copy_all_ds: cannot copy %s into itself\n",
                   source->filename ? source->filename : "");
        return IO_ERR_PERMISSION;
    }
    std::vector<IO_location> todo;
    int rc = listToCopy(routine, source, mode, chosen, nchosen, todo);
    if (rc == IO_OK) rc = startCopies(routine, destination);
    if (rc != IO_OK) return rc;
    bool mayMend = true;
    std::vector<int64_t> copied;
    bool positioned = false;
    Pending pending;
    for (size_t k = 0; k < todo.size(); ++k) {
        const IO_location &loc = todo[k];
        int32_t when = copiedWhen(mode, loc.when);
        if (kwxSeek64(source->stream, loc.location, 0) != 0) {
            kwxsystemErr(routine, "copy_all_ds: (tell the indexlocation) syserr:");
            (void)settle(routine, destination, pending);   // this failure is the one answered
            return IO_ERR_TELL;
        }
        int64_t before = destination->indexpos;
        rc = copyOne(routine, loc.what, loc.where, when, destination, source, positioned, mayMend ? &loc : nullptr,
                     pending);
        if (rc == KWX_LINE_WRONG) {
            // Cut off where it started; the stream is sought again.
            positioned = false;
            int changed = 0;
            if ((rc = kwxIndexMendWrongLine(routine, source, &changed)) == IO_OK) {
                mayMend = false;
                if (changed) {
                    try {
                        kwxIoCountAllocation();
                        std::sort(copied.begin(), copied.end());
                        if ((rc = listToCopy(routine, source, mode, chosen, nchosen, todo)) == IO_OK)
                            leftToCopy(mode, copied, todo);
                    } catch (const std::bad_alloc &) {
                        rc = kwxIoNoMemory(routine, IO_ERR_ALLOC, "copy_all_ds", IO_NO_SIZE);
                    }
                    if (rc != IO_OK) {
                        (void)settle(routine, destination, pending);
                        return rc;
                    }
                    k = static_cast<size_t>(-1);
                } else {
                    --k;   // copied as its line names it, as nothing better is known
                }
                continue;
            }
            (void)settle(routine, destination, pending);
        }
        // A dataset found deleted in the file is skipped without touching the
        // destination: the stream stands where it stood before.
        positioned = rc == IO_OK && (positioned || destination->indexpos != before);
        if (rc == IO_OK && chosen && destination->indexpos == before) {
            // A chosen dataset is copied or the whole copy refused.
            kwxIoError(routine, "copy_all_ds: the chosen dataset %s/%s/%d is marked deleted in the file\n",
                       loc.what, loc.where, loc.when);
            (void)settle(routine, destination, pending);
            return IO_ERR_NOTLOCATED;
        }
        if (rc == IO_OK && mayMend) {
            try {
                kwxIoCountAllocation();
                copied.push_back(loc.location);
            } catch (const std::bad_alloc &) {
                rc = kwxIoNoMemory(routine, IO_ERR_ALLOC, "copy_all_ds", IO_NO_SIZE);
            }
        }
        if (rc == IO_OK && pending.lengths.size() >= 4096)
            rc = settle(routine, destination, pending);
        if (rc != IO_OK) {
            kwxIoError(routine, "copy_all_ds: copy_dataset failed on %s/%s/%d", loc.what,
                       loc.where, when);
            return rc;
        }
    }
    return settle(routine, destination, pending);
}

}  // namespace

extern "C" int copy_all_ds(IO_error_routine routine, IO_file *source, IO_file *destination,
                           int mode) {
    return copyAll(routine, source, destination, mode, nullptr, 0);
}

extern "C" int copy_chosen_ds_compress_when(IO_error_routine routine, IO_file *destination,
                                            IO_file *source, const int64_t *locations,
                                            int32_t count) {
    if (!locations || count < 0) {
        kwxIoError(routine, "copy_chosen_ds_compress_when: no list of locations\n");
        return IO_ERR_MEMORY;
    }
    return copyAll(routine, source, destination, 2, locations, count);
}

extern "C" int copy_allvalid_ds(IO_error_routine routine, IO_file *destination, IO_file *source) {
    return copy_all_ds(routine, source, destination, 0);
}

extern "C" int copy_when0_ds(IO_error_routine routine, IO_file *destination, IO_file *source) {
    return copy_all_ds(routine, source, destination, 1);
}

extern "C" int copy_all_ds_compress_when(IO_error_routine routine, IO_file *destination,
                                         IO_file *source) {
    return copy_all_ds(routine, source, destination, 2);
}
