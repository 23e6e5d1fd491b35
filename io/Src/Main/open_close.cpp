// Opening and closing data files and plain text files: the start checks of
// a data file, the start of a new one, and writing the index and the file
// size back at flush.
#include "io_files.h"
#include "vrn_platform.h"

#include <cerrno>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Files are opened with the C runtime's own streams, which read fastest; a
// record's stream becomes one whose writes are counted by the platform
// layer before its first change (kwxIoStartChanging), and a new file is made
// with one from the start.

// Creates a file that does not exist yet. An existing file is never
// truncated: a file that cannot be opened for reading and writing may still
// hold data that somebody wants.
FILE *createNew(const char *name, int openErrno) {
    if (openErrno != ENOENT) {
        errno = openErrno;
        return nullptr;
    }
    FILE *f = vrnPlatform_fopen(name, "w+xb");
    // Someone made it in the meantime: take theirs as it is.
    if (!f && errno == EEXIST) return fopen(name, "r+be");
    return f;
}

// The 36 bytes a new file starts with (see iif_create_empty): "*INFO", the
// size 0 in a field of width 20, "*ENDINFO".
const char kNewFileStart[] = "*INFO\n                   0\n*ENDINFO\n";
static_assert(sizeof kNewFileStart == 37, "a new file starts with 36 bytes");

// Whether the whole file (size bytes, at most a new file's start) is the
// beginning of a new file's start: what a crash during its creation leaves,
// or, all of it, a new file closed without a dataset. The stream is left at
// the beginning.
bool isNewFileStart(FILE *f, int64_t size) {
    const int64_t full = static_cast<int64_t>(sizeof kNewFileStart - 1);
    if (size > full) return false;
    char bytes[sizeof kNewFileStart];
    bool prefix = fread(bytes, 1, static_cast<size_t>(size), f) == static_cast<size_t>(size) &&
                  memcmp(bytes, kNewFileStart, static_cast<size_t>(size)) == 0;
    return kwxSeek64(f, 0, 0) == 0 && prefix;
}

// Opens a new file's start, as iif_create_empty leaves it, without writing:
// it holds no dataset, and a session that writes none leaves it as it is.
int openNewFileStart(IO_file *record) {
    record->offsetwidth = 20;
    record->indexpos = static_cast<int64_t>(sizeof kNewFileStart - 1);
    record->nlines = 0;
    record->indexdirty = 0;
    free(record->indextable);
    record->indextable = nullptr;
    if (indextable_alloc(record) != IO_OK)
        return kwxIoNoMemory(kwxIoRoutine(record), IO_ERR_ALLOC, "iif_open",
                             (int64_t)(IO_INDEX_GROW + 1) * IO_INDEX_SLOT);
    return IO_OK;
}

// Whether an index dataset starts at `at`: F format bytes, a length field
// and the "*INDEX" tag.
bool oldIndexAt(FILE *f, int64_t at) {
    char fb[3];
    int64_t length = 0;
    char tag[8];
    auto quiet = [](const char *, int) { return 0; };
    return kwxSeek64(f, at, 0) == 0 && fread(fb, 1, 3, f) == 3 && memcmp(fb, "F\0\n", 3) == 0 &&
           kwxreadOffset(quiet, "F", &length, f) == IO_OK && kwxreadTag(quiet, "F", tag, 6, f) == IO_OK &&
           strcmp(tag, "*INDEX") == 0;
}

// An info block not whole in its layout, or of another width than the
// datasets (`width`, 0 when unknown): its size is not believed, and the
// first dataset is found wherever it starts. Its bytes may belong to that
// dataset, so the size is neither cleared nor set from now on (the flag
// holds for the record until it is released) and every open rebuilds. As
// no open reads the stored index of such a file, the rebuilt one is not
// written back: a session that changes nothing writes nothing.
int openWithDamagedInfo(IO_file *record, int64_t size, int width) {
    IO_error_routine routine = kwxIoRoutine(record);
    FILE *f = record->stream;
    kwxIoError(routine,
               "iif_open: the info block of %s is damaged: its size is neither believed nor written, "
               "and the index is rebuilt at every open",
               record->filename ? record->filename : "");
    kwxIoSetInfoDamaged(record, 1);
    if (!kwxIoInfoDamaged(record))
        return kwxIoNoMemory(routine, IO_ERR_ALLOC, "iif_open", IO_NO_SIZE);
    record->offsetwidth = width ? width : kwxGuessOffsetWidth(f, size);
    const int rc = recreate_indextable(routine, record);
    if (rc == IO_OK) record->indexdirty = 0;
    return rc;
}

void traceRecord(const char *label, const IO_file *record) {
    if (!kwxIoTraceOn()) return;
    int64_t pos = record->stream ? kwxTell64(record->stream) : -1;
    kwxIoTrace("%s: File 0x%ux \"%s\" at %" PRId64 "\n", label, (unsigned)(uintptr_t)record,
               record->filename ? record->filename : "", pos);
}

// A file that was closed cleanly and damaged since keeps every byte from the
// rebuild's stopping point on: new datasets and the index go after the end
// of the file, unless it stopped at an old index, which is written over as
// always. A file whose info block is damaged is rebuilt at every open and
// stops at the same damage every time: the index written after it at an
// earlier close, whole at the end of the file, is written over too, so
// that the file does not grow by an index at every session that changes
// its index.
int keepDamagedTail(IO_file *record, int64_t size) {
    if (record->indexpos < size && !oldIndexAt(record->stream, record->indexpos)) {
        const char *name = record->filename ? record->filename : "";
        const int64_t last = kwxIoInfoDamaged(record)
                                 ? kwxIndexEndingFile(record->stream, size, record->offsetwidth)
                                 : -1;
        if (last > record->indexpos) {
            kwxIoError(kwxIoRoutine(record),
                       "iif_open: the datasets of %s end in damage at offset %" PRId64
                       "; its bytes are kept, new datasets go over the index at offset %" PRId64,
                       name, record->indexpos, last);
            record->indexpos = last;
            return IO_OK;
        }
        kwxIoError(kwxIoRoutine(record),
                   "iif_open: the datasets of %s end in damage at offset %" PRId64
                   "; its bytes are kept, new datasets go after the end of the file",
                   name, record->indexpos);
        record->indexpos = size;
    }
    return IO_OK;
}

// Undoes what an open did when a later check refuses the file: the lock is
// given back and the stream closed; the name stays until the record is
// released.
int failOpen(IO_file *record, int code) {
    // The open answers its own failure; one of the lock's is reported.
    if (record->locklevel != 0) (void)iif_set_lock(record, -1);
    if (record->stream) fclose(record->stream);
    record->stream = nullptr;
    record->openmode = 0;
    record->locklevel = 0;
    return code;
}

}  // namespace

extern "C" int kwxInfoBlockWidth(FILE *f) {
    char block[64];
    if (kwxSeek64(f, 0, 0) != 0) return 0;
    const size_t n = fread(block, 1, sizeof block, f);
    if (n < 6 || memcmp(block, "*INFO\n", 6) != 0) return 0;
    size_t k = 6;
    while (k < n && block[k] == ' ') ++k;
    const size_t digits = k;
    while (k < n && block[k] >= '0' && block[k] <= '9') ++k;
    if (k == digits || k >= n || block[k] != '\n' || n - (k + 1) < 9 || memcmp(block + k + 1, "*ENDINFO\n", 9) != 0)
        return 0;
    return static_cast<int>(k - 6);
}

extern "C" int iif_open(IO_file *record, const char *name, const char *access) {
    if (!record) return IO_ERR_OPEN;
    IO_error_routine routine = kwxIoRoutine(record);
    if (!name) {
        kwxIoError(routine, "iif_open: filename is NULL\n");
        return IO_ERR_OPEN;
    }
    char a = access ? access[0] : '\0';
    int level;
    switch (a) {
    case 'w':
    case 'a': level = 1; break;
    case 'r':
    case 'd': level = 0; break;
    default:
        kwxIoError(routine, "iif_open: unknown access code %s\n", access ? access : "");
        return IO_ERR_OPEN;
    }
    // Nothing kept for an earlier file of this record carries over.
    kwxIndexForgetRecord(record);
    char *copy = kwxIoStrdup(name);
    if (!copy) return kwxIoNoMemory(routine, IO_ERR_ALLOC, "iif_open_file", (int64_t)strlen(name) + 1);
    free(record->filename);
    record->filename = copy;

    int rc = iif_set_lock(record, level);
    if (rc != IO_OK) return rc;

    FILE *f = nullptr;
    char mode = 0;
    int err = 0;
    if (a == 'r') {
        f = fopen(name, "rbe");
        mode = 'r';
        err = errno;
    } else if (a == 'w' || a == 'a') {
        f = fopen(name, "r+be");
        mode = 'w';
        if (!f) {
            err = errno;
            kwxIoTrace("Failed to get read/write permission");
            f = createNew(name, err);
            err = errno;
        }
    } else {
        f = fopen(name, "r+be");
        mode = 'w';
        err = f ? 0 : errno;
        // A missing file is made anew, never opened read-only: another
        // process may create it between the two opens, and a read-only
        // handle would then refuse every write of its caller.
        if (!f && err != ENOENT) {
            kwxIoTrace("Failed to get read/write permission, trying read-only");
            f = fopen(name, "rbe");
            mode = 'r';
            if (!f) err = errno;
        }
        if (!f) {
            kwxIoTrace("Failed to get read/write permission");
            f = createNew(name, err);
            err = errno;
            mode = 'w';
        }
    }
    if (!f) {
        if (record->locklevel != 0) (void)iif_set_lock(record, -1);
        record->openmode = 0;
        record->locklevel = 0;
        errno = err;
        kwxIoSysError(record, "iif_open: can't open file %s", name);
        return IO_ERR_OPEN;
    }
    record->stream = f;
    record->openmode = mode;
    kwxIoTrace("iif_open: Opened file %s", name);
    traceRecord("iif_open", record);
    return IO_OK;
}

extern "C" int iif_open_data(IO_file *record, const char *name, const char *access) {
    int rc = iif_open(record, name, access);
    if (rc != IO_OK) return rc;
    return openfile(record);
}

extern "C" int iif_open_text(IO_file *record, const char *name, const char *access) {
    return iif_open(record, name, access);
}

extern "C" FILE *iif_get_stream(IO_file *record) { return record ? record->stream : nullptr; }

extern "C" int iif_create_empty(IO_file *record) {
    if (!record || !record->stream) return IO_ERR_NOFILE;
    IO_error_routine routine = kwxIoRoutine(record);
    FILE *f = record->stream;
    if (kwxwriteTag(routine, "F", "*INFO", f) != IO_OK) {
        kwxIoError(routine, "iif_create_empty: error writing the INFO start tag");
        return IO_ERR_WRITE;
    }
    record->offsetwidth = 20;
    int64_t zero = 0;
    if (kwxwriteOffset(routine, "F", &zero, record->offsetwidth, f) != IO_OK) {
        kwxIoError(routine, "iif_create_empty: error writing the filesize\n");
        return IO_ERR_WRITE;
    }
    if (kwxwriteTag(routine, "F", "*ENDINFO", f) != IO_OK || fflush(f) != 0) {
        kwxIoError(routine, "iif_create_empty: error writing the INFO end tag");
        return IO_ERR_WRITE;
    }
    int64_t pos = kwxTell64(f);
    if (pos < 0) {
        kwxIoError(routine, "iif_create_empty: can't tell the current location\n");
        return IO_ERR_TELL;
    }
    record->indexpos = pos;
    record->nlines = 0;
    free(record->indextable);
    record->indextable = nullptr;
    if (indextable_alloc(record) != IO_OK)
        return kwxIoNoMemory(routine, IO_ERR_ALLOC, "iif_create_empty: error allocating new index",
                             (int64_t)(IO_INDEX_GROW + 1) * IO_INDEX_SLOT);
    return IO_OK;
}

extern "C" int openfile(IO_file *record) {
    if (!record || !record->stream) return IO_ERR_NOFILE;
    IO_error_routine routine = kwxIoRoutine(record);
    FILE *f = record->stream;
    const char *name = record->filename ? record->filename : "";

    if (kwxSeek64(f, 0, 2) != 0) {
        kwxIoSysError(record, "iif_open: can't go to the end of the file  %s", name);
        return failOpen(record, IO_ERR_SEEK);
    }
    int64_t size = kwxTell64(f);
    if (size < 0) {
        kwxIoSysError(record, "iif_open: can't tell the current location");
        return failOpen(record, IO_ERR_TELL);
    }
    if (kwxSeek64(f, 0, 0) != 0) {
        kwxIoSysError(record, "iif_open: can't go to the beginning of the file  %s", name);
        return failOpen(record, IO_ERR_SEEK);
    }
    const int64_t newStart = static_cast<int64_t>(sizeof kNewFileStart - 1);
    const bool cutStart = size > 0 && size <= newStart && isNewFileStart(f, size);
    if (cutStart && size == newStart) {
        int rc = openNewFileStart(record);
        return rc == IO_OK ? IO_OK : failOpen(record, rc);
    }
    if (size == 0 || cutStart) {
        // The file is about to be written.
        if (int rc = kwxIoUseCountedStream(record)) return failOpen(record, rc);
        f = record->stream;
    }
    if (cutStart) {
        // The start of a new file whose first write was cut short: nothing
        // was ever stored in it, so it is started again.
        kwxIoTrace("iif_open: file %s holds only the first %" PRId64 " bytes of a new file's start, starting it again",
                   name, size);
        if (vrnPlatform_ftruncate(vrnPlatform_streamFd(f), 0) != 0 || kwxSeek64(f, 0, 0) != 0) {
            kwxIoSysError(record, "iif_open: can't start the cut-short file %s again", name);
            return failOpen(record, IO_ERR_WRITE);
        }
        size = 0;
    }
    if (size == 0) {
        int rc = iif_create_empty(record);
        return rc == IO_OK ? IO_OK : failOpen(record, rc);
    }

    char start[8] = {0};
    if (fread(start, 1, 7, f) != 7) {
        kwxIoError(routine, "iif_open: can't read the first seven characters");
        return failOpen(record, IO_ERR_READ);
    }
    if (memcmp(start, "*INFO", 5) != 0) {
        kwxIoError(routine, "iif_open: the file is not in KWX-5.x format");
        return failOpen(record, IO_ERR_BADFILE);
    }
    if (start[5] != '\n') {
        if (start[5] == '\r' && start[6] == '\n')
            kwxIoError(routine,
                       "openfile: corrupt file: the file contains Windows-style CR-LF line "
                       "endings.  If this is a copy of the original file, please try again, "
                       "ensuring you do the copy in binary mode.");
        else if (start[5] == '\r')
            kwxIoError(routine,
                       "openfile: corrupt file: the line endings are incorrect.  If this is a "
                       "copy of the original file, please try again, ensuring you do the copy in "
                       "binary mode.");
        else
            kwxIoError(routine, "openfile: corrupt file: trailing garbage after start tag.");
        return failOpen(record, IO_ERR_BADFILE);
    }

    const bool infoWhole = kwxInfoBlockWidth(f) != 0;
    if (kwxSeek64(f, 0, 0) != 0) {
        kwxIoSysError(record, "iif_open: can't go to the beginning of the file  %s", name);
        return failOpen(record, IO_ERR_SEEK);
    }
    if (!infoWhole) {
        int rc = openWithDamagedInfo(record, size, 0);
        if (rc == IO_OK) rc = keepDamagedTail(record, size);
        return rc == IO_OK ? IO_OK : failOpen(record, rc);
    }
    char line[64];
    if (kwxReadLine(line, sizeof line, f) <= 0 || strncmp(line, "*INFO", 5) != 0) {
        kwxIoError(routine, "iif_open: fail to read the INFO tag\n");
        return failOpen(record, IO_ERR_READ);
    }
    int64_t before = kwxTell64(f);
    int64_t recorded = 0;
    if (before < 0 || kwxreadOffset(routine, "F", &recorded, f) != IO_OK) {
        kwxIoError(routine, "iif_open: fail to read the filesize\n");
        return failOpen(record, IO_ERR_READ);
    }
    int64_t after = kwxTell64(f);
    int64_t width = after - before - 1;
    if (after < 0 || (width != 10 && width != 20)) {
        kwxIoError(routine,
                   "iif_open: offset format %" PRId64
                   " is not currently supported (or bad file header)\n",
                   width);
        return failOpen(record, IO_ERR_READ);
    }
    record->offsetwidth = (int32_t)width;
    kwxIoTrace("iif_open: offset format is %d", record->offsetwidth);

    int rc = IO_OK;
    bool rebuild = recorded != size;
    if (rebuild) {
        kwxIoTrace("iif_open: filesize has changed (recorded %" PRId64 ", actual %" PRId64
                   "), recreating index\n",
                   recorded, size);
    } else {
        rc = create_indextable(routine, record);
        if (rc == IO_OK) {
            // New datasets go where the stored index starts; the index is
            // written again after them at flush.
            int64_t pos = 0;
            rc = kwxgotoIndexLocation(routine, &pos, record->offsetwidth, f);
            if (rc == IO_OK) record->indexpos = pos;
        }
        if (rc == IO_OK) kwxIndexSetFromStore(record, 1);
        if (rc != IO_OK) {
            kwxIoError(routine, "iif_open: unable to read the stored index, attempting to rebuild it");
            rebuild = true;
        }
    }
    if (rebuild) {
        // The width is a fact about the whole file: a block whose size line
        // lost or gained blanks is whole in its layout at the other width,
        // and read at it every text length would fail to frame. Where the
        // datasets show the other width, the block is damaged.
        const int shown = kwxDataOffsetWidth(f, 6 + width + 1 + 9, size);
        if (shown != 0 && shown != record->offsetwidth) {
            kwxIoError(routine,
                       "iif_open: the info block of %s gives offset width %d, its datasets %d",
                       name, record->offsetwidth, shown);
            rc = openWithDamagedInfo(record, size, shown);
            if (rc == IO_OK) rc = keepDamagedTail(record, size);
            return rc == IO_OK ? IO_OK : failOpen(record, rc);
        }
        record->indexdirty = 1;
        rc = recreate_indextable(routine, record);
    }
    // The size is cleared before a session's first change and set again at
    // flush: a file whose size is cleared was left by a killed writer, whose
    // interrupted write (where the rebuild stopped) may be written over.
    if (rc == IO_OK && rebuild && recorded != 0) rc = keepDamagedTail(record, size);
    return rc == IO_OK ? IO_OK : failOpen(record, rc);
}

extern "C" int kwxIoUseCountedStream(IO_file *record) {
    if (!record || !record->stream) return IO_ERR_NOFILE;
    FILE *counted = vrnPlatform_countWrites(record->stream);
    if (!counted) {
        kwxIoSysError(record, "iif_open: can't open file %s", record->filename ? record->filename : "");
        return IO_ERR_OPEN;
    }
    record->stream = counted;
    return IO_OK;
}

extern "C" int kwxIoStartChanging(IO_error_routine routine, IO_file *record) {
    if (!record || !record->stream) return IO_OK;
    if (int rc = kwxIoUseCountedStream(record)) return rc;
    if (!record->indextable) return IO_OK;
    if (!kwxIoSizeCleared(record)) {
        // Written beside the stream (flushed first), which keeps its
        // position: a caller may be in the middle of a dataset it writes
        // request by request. A size field that is not whole is left alone.
        const int fd = vrnPlatform_streamFd(record->stream);
        if (fd >= 0 && !kwxIoInfoDamaged(record)) {
            const int width = record->offsetwidth ? record->offsetwidth : 20;
            char field[IO_OFFSET_FIELD_MAX];
            int n = 0;
            int rc = kwxEncodeOffset(routine, "F", 0, width, field, &n);
            if (rc == IO_OK && fflush(record->stream) != 0) rc = IO_ERR_WRITE;
            if (rc == IO_OK && vrnPlatform_pwrite(fd, field, static_cast<size_t>(n), 6) < 0) rc = IO_ERR_WRITE;
            if (rc != IO_OK) {
                kwxIoSysError(record, "iif_flush: can't write filesize");
                return rc;
            }
        }
        kwxIoSetSizeCleared(record, 1);
    }
    return kwxIndexWriteRetiredMarks(routine, record);
}

extern "C" int iif_flush(IO_file *record) {
    if (!record || !record->stream) return IO_OK;
    IO_error_routine routine = kwxIoRoutine(record);
    FILE *f = record->stream;
    int rc = IO_OK;
    // A changed index is written only by the writer. A reader that is the
    // file's only user (after a rebuild at open, say) takes the write lock
    // for it; one that shares the file leaves the stored index as it is.
    if (record->indexdirty && record->indextable && record->locklevel != -1 &&
        kwxIoTryWriteLock(record) != IO_OK)
        kwxIoTrace("iif_flush: file %s is shared, index not written",
                   record->filename ? record->filename : "");
    if (record->indexdirty && record->indextable && record->locklevel == -1) {
        kwxIoTrace("iif_flush: writing final index");
        rc = kwxIoStartChanging(routine, record);
        f = record->stream;
        if (rc != IO_OK) {
            kwxIoError(routine, "iif_flush: write_index failed");
        } else if (kwxSeek64(f, record->indexpos, 0) != 0) {
            kwxIoSysError(record, "iif_flush: can't go to index location");
            rc = IO_ERR_SEEK;
        } else if ((rc = write_index(routine, record, record->nlines, record->indextable)) !=
                   IO_OK) {
            kwxIoError(routine, "iif_flush: write_index failed");
        } else if (kwxSeek64(f, 0, 2) != 0) {
            kwxIoSysError(record, "iif_flush: can't go to end of file ");
            rc = IO_ERR_SEEK;
        } else {
            int64_t size = kwxTell64(f);
            if (size < 0) {
                kwxIoSysError(record, "iif_flush: can't get the filesize");
                rc = IO_ERR_TELL;
            } else if (kwxIoInfoDamaged(record)) {
                // Its size field is not whole: the next open rebuilds.
                record->indexdirty = 0;
                kwxIoSetSizeCleared(record, 0);
            } else if (kwxSeek64(f, 6, 0) != 0) {
                kwxIoSysError(record, "iif_flush: can't skip start of INFO dataset");
                rc = IO_ERR_SEEK;
            } else if ((rc = kwxwriteOffset(routine, "F", &size, record->offsetwidth, f)) !=
                       IO_OK) {
                kwxIoError(routine, "iif_flush: can't write filesize");
            } else if (fflush(f) != 0) {
                kwxIoSysError(record, "iif_flush: can't flush the file");
                rc = IO_ERR_WRITE;
            } else {
                record->indexdirty = 0;
                kwxIoSetSizeCleared(record, 0);
            }
        }
    }
    if (fflush(f) != 0 && rc == IO_OK) {
        kwxIoSysError(record, "iif_flush: can't flush the file");
        rc = IO_ERR_WRITE;
    }
    return rc;
}

// The last steps of every close: the stream is closed (a failure makes the
// result IO_ERR_CLOSE), the lock given back (a lock file left behind makes
// it IO_ERR_LOCKED: until it is removed the file cannot be opened) and the
// record emptied.
static int closeAndRelease(IO_file *record, int rc) {
    if (record->stream) {
        if (fclose(record->stream) != 0) {
            kwxIoSysError(record, "iif_close: error closing file");
            rc = IO_ERR_CLOSE;
        }
        record->stream = nullptr;
    }
    if (record->locklevel != 0 && iif_set_lock(record, -1) != IO_OK && rc == IO_OK) rc = IO_ERR_LOCKED;
    record->openmode = 0;
    record->locklevel = 0;
    record->indexdirty = 0;
    filerec_release(record);
    return rc;
}

extern "C" int iif_close(IO_file *record) {
    if (!record) return IO_OK;
    kwxIoTrace("iif_close: Closing file %s", record->filename ? record->filename : "");
    traceRecord("closefile", record);
    int rc = IO_OK;
    if (record->stream) {
        if (iif_flush(record) != IO_OK) {
            rc = IO_ERR_CLOSE;
            // Leave the end tag where the index should have gone, so that the
            // next open rebuilds the index from the datasets.
            if (record->locklevel == -1) {
                if (kwxSeek64(record->stream, record->indexpos, 0) != 0)
                    kwxIoTrace("closefile index fail: can't go to index location");
                else if (kwxwriteTag(kwxIoRoutine(record), "F", "*CRASH", record->stream) !=
                         IO_OK)
                    kwxIoTrace("closefile index fail: can't write file end tag");
                else
                    kwxIoTrace("closefile index fail: wrote crash tag OK");
            }
        }
    }
    return closeAndRelease(record, rc);
}

extern "C" int iif_close_text(IO_file *record) {
    if (!record) return IO_OK;
    kwxIoTrace("iif_close_text: Closing file %s", record->filename ? record->filename : "");
    return closeAndRelease(record, IO_OK);
}
