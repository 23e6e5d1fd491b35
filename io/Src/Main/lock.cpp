// Lock files: "<name>.lck" beside each open file holds -1 while a writer has
// the file and the number of readers otherwise; it is removed when nobody
// holds the file. Processes read and rewrite it under a lock mutex, the file
// "<name>.lck.lck" created exclusively for the few moments that takes.
#include "io_files.h"
#include "vrn_platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <climits>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

// How long to wait for another process's mutex.
int g_waitStepMs = 5000;
int g_waitTries = 12;

// Name of the mutex file this process holds, empty when none (one slot for
// the process: the library runs on one thread).
std::string g_mutexName;

int createExclusive(const std::string &name) {
    return vrnPlatform_open(name.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0600);
}

void releaseMutex() {
    if (g_mutexName.empty()) return;
    vrnPlatform_unlink(g_mutexName.c_str());
    g_mutexName.clear();
}

// Takes the mutex of a lock file. Without permission to create it, the lock
// goes on without. A mutex that outlives the whole wait was left behind by a
// process that died holding it: it is taken over, so that later locks do not
// wait again. False when the mutex's name is too long to be made: then no
// change of the lock file can be kept from another process's.
bool takeMutex(const std::string &lockName) {
    releaseMutex();
    std::string name = lockName + ".lck";
    for (int attempt = 0;; ++attempt) {
        int fd = createExclusive(name);
        if (fd >= 0) {
            close(fd);
            g_mutexName = name;
            return true;
        }
        if (errno == ENAMETOOLONG) return false;
        if (errno != EEXIST) return true;
        if (attempt >= g_waitTries) {
            kwxIoTrace("iif_set_lock: lock mutex %s is stale, taking it over", name.c_str());
            vrnPlatform_unlink(name.c_str());
            fd = createExclusive(name);
            if (fd >= 0) {
                close(fd);
                g_mutexName = name;
            }
            return true;
        }
        vrnPlatform_sleepMilliseconds(g_waitStepMs);
    }
}

struct MutexHold {
    explicit MutexHold(const std::string &lockName) : nameTooLong(!takeMutex(lockName)) {}
    ~MutexHold() { releaseMutex(); }
    const bool nameTooLong;
    MutexHold(const MutexHold &) = delete;
    MutexHold &operator=(const MutexHold &) = delete;
};

enum class LockRead { Missing, Value, Bad };

// Reads the value of a lock file: Missing when there is none.
LockRead readLockFile(const std::string &lockName, int &value) {
    // A lock file that cannot be opened counts as none: where no lock file
    // can be made, readers go on without one.
    FILE *f = vrnPlatform_fopen(lockName.c_str(), "r");
    if (!f) return LockRead::Missing;
    char text[64];
    size_t n = fread(text, 1, sizeof text - 1, f);
    fclose(f);
    text[n] = '\0';
    char *end = nullptr;
    errno = 0;
    long v = strtol(text, &end, 10);
    if (end == text || errno != 0 || v < -1 || v > 1000000) {
        if (errno == 0) errno = EINVAL;
        return LockRead::Bad;
    }
    while (*end == ' ' || *end == '\n' || *end == '\r' || *end == '\t') ++end;
    if (*end) {
        errno = EINVAL;
        return LockRead::Bad;
    }
    value = (int)v;
    return LockRead::Value;
}

enum class LockWrite { Ok, CantOpen, CantWrite };

// Writes a lock value in the integer text form: right-justified in 10
// characters and a newline.
LockWrite writeLockFile(const std::string &lockName, int value) {
    FILE *f = vrnPlatform_fopen(lockName.c_str(), "w");
    if (!f) return LockWrite::CantOpen;
    char text[32];
    int n = snprintf(text, sizeof text, "%10d\n", value);
    bool ok = fwrite(text, 1, (size_t)n, f) == (size_t)n;
    if (fclose(f) != 0) ok = false;
    return ok ? LockWrite::Ok : LockWrite::CantWrite;
}

std::string lockNameOf(const IO_file *record) { return std::string(record->filename) + ".lck"; }

// A lock file, or the mutex that guards it, that could not be made because
// its name is too long: the write lock is refused, naming the limit, since
// going on without one would let two writers in at once. (Readers go on
// without a lock file, as for any other reason that one cannot be made.)
// The limit named leaves room for the mutex, "<name>.lck.lck".
bool refusedForItsName(IO_error_routine routine, bool report, const char *caller,
                       const std::string &fileName, const char *dataName) {
    if (errno != ENAMETOOLONG) return false;
    if (!report) return true;
    size_t slash = fileName.rfind('/');
    std::string folder = slash == std::string::npos ? "." : fileName.substr(0, slash + 1);
    size_t length = fileName.size() - (slash == std::string::npos ? 0 : slash + 1);
    long limit = pathconf(folder.c_str(), _PC_NAME_MAX);
    if (limit <= 0) limit = NAME_MAX;
    const char *what = fileName.size() > strlen(dataName) + 4 ? "lock mutex" : "lock file";
    if ((long)length > limit)
        kwxIoError(routine,
                   "%s: file %s cannot be locked for writing: the name of its %s %s is %zu "
                   "bytes long, over the limit of %ld bytes for a file name.  Give the file a name "
                   "of at most %ld bytes.\n",
                   caller, dataName, what, fileName.c_str(), length, limit, limit - 8);
    else
        kwxIoError(routine,
                   "%s: file %s cannot be locked for writing: the path of its %s %s is "
                   "%zu bytes long, over the limit of %d bytes for a path.\n",
                   caller, dataName, what, fileName.c_str(), fileName.size(), PATH_MAX);
    return true;
}

}  // namespace

extern "C" void kwxIoSetLockWait(int step_ms, int tries) {
    g_waitStepMs = step_ms < 0 ? 0 : step_ms;
    g_waitTries = tries < 0 ? 0 : tries;
}

extern "C" int iif_set_lock(IO_file *record, int level) {
    if (!record) return IO_ERR_OPEN;
    IO_error_routine routine = kwxIoRoutine(record);
    // Nothing to do for the lock the record already holds. (A file opened for
    // reading and writing holds a read lock until its first write.)
    if ((level > 0 && record->locklevel == -1) || (level == 0 && record->locklevel != 0))
        return IO_OK;
    // Unlocking a record that holds no lock must not touch another
    // process's lock file.
    if (level < 0 && (record->openmode == 0 || record->locklevel == 0)) {
        record->openmode = 0;
        record->locklevel = 0;
        return IO_OK;
    }
    if (!record->filename) {
        kwxIoError(routine, "iif_set_lock: no file name\n");
        return IO_ERR_OPEN;
    }
    std::string lockName, dataName;
    try {
        kwxIoCountAllocation();
        dataName = record->filename;
        lockName = lockNameOf(record);
    } catch (const std::bad_alloc &) {
        return kwxIoNoMemory(routine, IO_ERR_ALLOC, "iif_set_lock", (int64_t)strlen(record->filename) + 5);
    }

    MutexHold mutex(lockName);
    if (mutex.nameTooLong) {
        // No lock file is kept for such a name: a writer is refused, a
        // reader goes on without one (and so has none to give back).
        if (level > 0) {
            errno = ENAMETOOLONG;
            refusedForItsName(routine, true, "iif_set_lock", lockName + ".lck", dataName.c_str());
            return IO_ERR_LOCKED;
        }
        if (level == 0)
            kwxIoTrace("warning: unable to lock file %s for reading, continuing anyway", dataName.c_str());
        else {
            record->openmode = 0;
            record->locklevel = 0;
        }
        return IO_OK;
    }
    int value = 0;
    LockRead state = readLockFile(lockName, value);
    if (state == LockRead::Bad) {
        kwxIoSysError(record, "iif_set_lock: error reading lock file %s", lockName.c_str());
        return IO_ERR_READ;
    }
    if (state == LockRead::Value) {
        if (level > 0) {
            // Only the sole reader, this very record, may become the writer.
            if (record->openmode != 0 && record->locklevel >= 1 && value == 1) {
                value = -1;
            } else if (value >= 0) {
                kwxIoError(routine,
                           "iif_set_lock: file %s is currently locked for reading at level %d, "
                           "and cannot be locked for write access.  Either another program is "
                           "using this file, or the lock file %s is bad.",
                           dataName.c_str(), value, lockName.c_str());
                return IO_ERR_LOCKED;
            } else {
                kwxIoError(routine,
                           "iif_set_lock: file %s is already locked for write access.  Either "
                           "another program is using this file, or the lock file %s is bad.",
                           dataName.c_str(), lockName.c_str());
                return IO_ERR_LOCKED;
            }
        } else if (level == 0) {
            if (value < 0) {
                kwxIoError(routine,
                           "iif_set_lock: file %s is currently locked for writing, and cannot be "
                           "locked for read access.  Either another program is using this file, "
                           "or the lock file %s is bad.",
                           dataName.c_str(), lockName.c_str());
                return IO_ERR_LOCKED;
            }
            value = value + 1;
        } else {
            // A reader never releases a writer's mark, nor a writer a count
            // of readers: such a lock file belongs to someone else.
            bool mine = value < 0 ? record->locklevel < 0 : record->locklevel > 0;
            if (!mine) {
                record->openmode = 0;
                record->locklevel = 0;
                return IO_OK;
            }
            value = value <= 0 ? 0 : value - 1;
        }
    } else {
        if (level < 0) {
            kwxIoTrace("iif_set_lock: not unlocking already-unlocked file");
            record->openmode = 0;
            record->locklevel = 0;
            return IO_OK;
        }
        value = level == 0 ? 1 : -1;
    }

    if (level <= 0 && value == 0) {
        // A lock file that stays would refuse the file to everyone.
        if (vrnPlatform_unlink(lockName.c_str()) != 0 && errno != ENOENT) {
            kwxIoSysError(record, "iif_set_lock: can't remove the lock file %s", lockName.c_str());
            return IO_ERR_WRITE;
        }
    } else {
        LockWrite written = writeLockFile(lockName, value);
        if (written == LockWrite::CantOpen) {
            if (level > 0 && refusedForItsName(routine, true, "iif_set_lock", lockName, dataName.c_str()))
                return IO_ERR_LOCKED;
            if (level == 0) {
                kwxIoTrace("warning: unable to lock file %s for reading, continuing anyway",
                           dataName.c_str());
                return IO_OK;
            }
            kwxIoSysError(record, "iif_set_lock: error opening lockfile %s for %s",
                          lockName.c_str(), dataName.c_str());
            return IO_ERR_LOCKED;
        }
        if (written == LockWrite::CantWrite) {
            kwxIoSysError(record, "iif_set_lock: error writing to lock file %s", lockName.c_str());
            vrnPlatform_unlink(lockName.c_str());
            return IO_ERR_WRITE;
        }
    }
    if (level < 0) {
        record->openmode = 0;
        record->locklevel = 0;
    } else {
        record->openmode = level > 0 ? 'w' : 'r';
        record->locklevel = value;
    }
    return IO_OK;
}

namespace {

// Turns the record's read lock into the write lock. Under the mutex the lock
// file is read again: the upgrade is allowed only while it still counts this
// record as the one reader, so that two processes can never both write.
// Without a lock file to hold (a folder where none can be made), the record
// goes on as the writer, as the open did.
int takeWriteLock(IO_error_routine routine, IO_file *record, bool quiet) {
    if (record->locklevel < 0) return IO_OK;
    std::string lockName = lockNameOf(record);
    MutexHold mutex(lockName);
    if (mutex.nameTooLong) {
        errno = ENAMETOOLONG;
        refusedForItsName(routine, !quiet, "setfilebusyflag", lockName + ".lck", record->filename);
        return IO_ERR_LOCKED;
    }
    int value = 0;
    LockRead state = readLockFile(lockName, value);
    if (state == LockRead::Bad) {
        if (!quiet) kwxsystemErr(routine, "setfilebusyflag: can't read the lock file syserr:");
        return IO_ERR_READ;
    }
    if (state == LockRead::Value && !(value == 1 && record->locklevel >= 1)) {
        if (!quiet)
            kwxIoError(routine,
                       "setfilebusyflag: more than one user is reading %s or the wrong lock file "
                       "%s exists\n",
                       record->filename, lockName.c_str());
        return IO_ERR_LOCKED;
    }
    LockWrite written = writeLockFile(lockName, -1);
    if (written == LockWrite::CantOpen &&
        refusedForItsName(routine, !quiet, "setfilebusyflag", lockName, record->filename))
        return IO_ERR_LOCKED;
    if (written == LockWrite::CantWrite) {
        if (!quiet)
            kwxIoError(routine,
                       "setfilebusyflag: can't write the file information to the lock file\n");
        vrnPlatform_unlink(lockName.c_str());
        return IO_ERR_WRITE;
    }
    if (written == LockWrite::CantOpen && state == LockRead::Value) {
        if (!quiet)
            kwxIoError(routine,
                       "setfilebusyflag: can't write the file information to the lock file\n");
        return IO_ERR_LOCKED;
    }
    record->locklevel = -1;
    return IO_OK;
}

}  // namespace

extern "C" int setfilebusyflag(IO_error_routine routine, IO_file *record) {
    if (!record || !record->stream) {
        kwxIoError(routine, "setfilebusyflag: no file is open\n");
        return IO_ERR_NOFILE;
    }
    if (record->openmode == 'r') {
        kwxIoError(routine, "setfilebusyflag: permission denied for %s\n",
                   record->filename ? record->filename : "");
        return IO_ERR_PERMISSION;
    }
    int rc = takeWriteLock(routine, record, false);
    if (rc != IO_OK) return rc;
    record->indexdirty = 1;
    return kwxIoStartChanging(routine, record);
}

// For the flush: the write lock without messages.
extern "C" int kwxIoTryWriteLock(IO_file *record) {
    if (!record || !record->stream || record->openmode != 'w' || !record->filename)
        return IO_ERR_PERMISSION;
    return takeWriteLock(kwxIoRoutine(record), record, true);
}
