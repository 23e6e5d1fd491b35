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

// A mutex this process made whose file could not be removed: it is still
// this process's own. The next lock of the same file takes it as held (it
// would otherwise wait for itself); a lock of any other file first tries
// again to remove it.
std::string g_leftMutex;

// The lock files and mutexes that unlocks could not remove, a line each,
// until kwxIoTakeLocksLeft hands them out. Bounded: only failures add to it.
std::string g_locksLeft;
const size_t kLocksLeftLimit = 8192;

int createExclusive(const std::string &name) {
    return vrnPlatform_open(name.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0600);
}

// Removes the mutex this process holds. False, errno set, when its file
// could not be removed: it is then kept as g_leftMutex.
[[nodiscard]] bool releaseMutex() {
    if (g_mutexName.empty()) return true;
    // The name stays in the slot until the file is gone: a lock taken in
    // between (from a file-change hook) first releases the mutex held.
    std::string name = g_mutexName;
    const int rc = vrnPlatform_unlink(name.c_str());
    const int error = errno;
    g_mutexName.clear();
    if (rc == 0 || error == ENOENT) return true;
    if (!g_leftMutex.empty())
        kwxIoTrace("iif_set_lock: lock mutex %s could not be removed", g_leftMutex.c_str());
    g_leftMutex.swap(name);
    errno = error;
    return false;
}

enum class MutexState {
    Held,      // this process holds the mutex
    Without,   // the lock goes on without it (a stale one could not be taken over)
    CantMake,  // its file cannot be made (the error says why)
};

// Takes the mutex of a lock file. A mutex that outlives the whole wait was
// left behind by a process that died holding it: it is taken over, so that
// later locks do not wait again. CantMake, with error set, when the mutex's
// file cannot be made (its name too long, no permission or no room in the
// folder): readers then go on without it, a writer is refused, since no
// change of the lock file could be kept from another process's.
MutexState takeMutex(const std::string &lockName, int &error) {
    (void)releaseMutex();
    std::string name = lockName + ".lck";
    if (!g_leftMutex.empty()) {
        std::string left;
        left.swap(g_leftMutex);
        if (left == name && access(name.c_str(), F_OK) == 0) {
            g_mutexName = name;
            return MutexState::Held;
        }
        if (left != name && vrnPlatform_unlink(left.c_str()) != 0 && errno != ENOENT) g_leftMutex.swap(left);
    }
    for (int attempt = 0;; ++attempt) {
        int fd = createExclusive(name);
        if (fd >= 0) {
            close(fd);
            g_mutexName = name;
            return MutexState::Held;
        }
        if (errno != EEXIST) {
            error = errno;
            return MutexState::CantMake;
        }
        if (attempt >= g_waitTries) {
            kwxIoTrace("iif_set_lock: lock mutex %s is stale, taking it over", name.c_str());
            vrnPlatform_unlink(name.c_str());
            fd = createExclusive(name);
            if (fd < 0) return MutexState::Without;
            close(fd);
            g_mutexName = name;
            return MutexState::Held;
        }
        vrnPlatform_sleepMilliseconds(g_waitStepMs);
    }
}

struct MutexHold {
    explicit MutexHold(const std::string &lockName) : state(takeMutex(lockName, error)) {}
    // The end of a lock step. A mutex that stays would have every other
    // process's lock wait for it, so a failed removal is tried once more at
    // once; a mutex still left is this process's to remove at its next lock
    // step.
    ~MutexHold() {
        if (given || releaseMutex()) return;
        if (vrnPlatform_unlink(g_leftMutex.c_str()) == 0 || errno == ENOENT) g_leftMutex.clear();
    }
    // Gives the mutex back now: false, errno set, when its file could not
    // be removed.
    [[nodiscard]] bool release() {
        given = true;
        return state != MutexState::Held || releaseMutex();
    }
    int error = 0;
    const MutexState state;
    bool given = false;
    MutexHold(const MutexHold &) = delete;
    MutexHold &operator=(const MutexHold &) = delete;
};

// Keeps the name of a lock file or mutex that an unlock could not remove
// (errno says why) for kwxIoTakeLocksLeft, and reports it through the
// record's routine (unless the record is null: reported already).
void noteLeft(IO_file *record, const char *what, const std::string &name, const char *dataName) {
    const int error = errno;
    if (record) kwxIoSysError(record, "iif_set_lock: can't remove the %s %s of %s", what, name.c_str(), dataName);
    if (g_locksLeft.size() < kLocksLeftLimit)
        g_locksLeft += name + " (" + strerror(error) + ")\n";
}

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

// Refuses the write lock because its lock file, or the mutex that guards
// it, could not be made or written (error says why), reporting that when
// report is set: going on without one would let two writers in at once.
// (Readers go on without a lock file, whatever the reason.) A name too long
// is refused with 21, naming the limit, which leaves room for the mutex,
// "<name>.lck.lck"; a folder that takes no new file with 6 (no permission)
// or 4 (no room); anything else with 11.
int refuseWriteLock(IO_error_routine routine, bool report, const char *caller,
                    const std::string &fileName, const char *dataName, int error) {
    const char *what = fileName.size() > strlen(dataName) + 4 ? "lock mutex" : "lock file";
    if (error != ENAMETOOLONG) {
        if (report)
            kwxIoError(routine, "%s: file %s cannot be locked for writing: its %s %s cannot be %s: %s\n",
                       caller, dataName, what, fileName.c_str(),
                       access(fileName.c_str(), F_OK) == 0 ? "written" : "made", strerror(error));
        switch (error) {
        case EACCES:
        case EPERM:
        case EROFS: return IO_ERR_PERMISSION;
        case ENOSPC:
        case EDQUOT: return IO_ERR_DISKFULL;
        default: return IO_ERR_WRITE;
        }
    }
    if (!report) return IO_ERR_LOCKED;
    size_t slash = fileName.rfind('/');
    std::string folder = slash == std::string::npos ? "." : fileName.substr(0, slash + 1);
    size_t length = fileName.size() - (slash == std::string::npos ? 0 : slash + 1);
    long limit = pathconf(folder.c_str(), _PC_NAME_MAX);
    if (limit <= 0) limit = NAME_MAX;
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
    return IO_ERR_LOCKED;
}

}  // namespace

extern "C" void kwxIoSetLockWait(int step_ms, int tries) {
    g_waitStepMs = step_ms < 0 ? 0 : step_ms;
    g_waitTries = tries < 0 ? 0 : tries;
}

extern "C" char *kwxIoTakeLocksLeft(void) {
    if (g_locksLeft.empty()) return nullptr;
    char *text = kwxIoStrdup(g_locksLeft.c_str());
    if (text) g_locksLeft.clear();
    return text;
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
    // An unlock leaves the record unlocked whatever happens; it fails when
    // the lock file or the mutex stays behind (each reported), since every
    // later open is then refused, or waits for the mutex, until it goes.
    bool removed = true;
    auto unlocked = [&](int rc) {
        record->openmode = 0;
        record->locklevel = 0;
        if (!mutex.release()) {
            noteLeft(record, "lock mutex", lockName + ".lck", dataName.c_str());
            removed = false;
        }
        return rc == IO_OK && !removed ? IO_ERR_LOCKED : rc;
    };
    if (mutex.state == MutexState::CantMake) {
        // A writer is refused; readers and unlocks go on without the mutex.
        if (level > 0) {
            (void)refuseWriteLock(routine, true, "iif_set_lock", lockName + ".lck", dataName.c_str(), mutex.error);
            return IO_ERR_LOCKED;
        }
        // No lock file is kept for a name that leaves no room for its
        // mutex: a reader goes on without one (and so has none to give
        // back).
        if (mutex.error == ENAMETOOLONG) {
            if (level == 0)
                kwxIoTrace("warning: unable to lock file %s for reading, continuing anyway", dataName.c_str());
            else
                return unlocked(IO_OK);
            return IO_OK;
        }
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
            if (!mine) return unlocked(IO_OK);
            value = value <= 0 ? 0 : value - 1;
        }
    } else {
        if (level < 0) {
            kwxIoTrace("iif_set_lock: not unlocking already-unlocked file");
            return unlocked(IO_OK);
        }
        value = level == 0 ? 1 : -1;
    }

    if (level <= 0 && value == 0) {
        if (vrnPlatform_unlink(lockName.c_str()) != 0 && errno != ENOENT) {
            noteLeft(record, "lock file", lockName, dataName.c_str());
            removed = false;
        }
    } else {
        LockWrite written = writeLockFile(lockName, value);
        if (written == LockWrite::CantOpen) {
            if (level > 0 && errno == ENAMETOOLONG) {
                (void)refuseWriteLock(routine, true, "iif_set_lock", lockName, dataName.c_str(), errno);
                return IO_ERR_LOCKED;
            }
            if (level == 0) {
                kwxIoTrace("warning: unable to lock file %s for reading, continuing anyway",
                           dataName.c_str());
                return IO_OK;
            }
            const int error = errno;
            kwxIoSysError(record, "iif_set_lock: error opening lockfile %s for %s",
                          lockName.c_str(), dataName.c_str());
            if (level > 0) return IO_ERR_LOCKED;
            errno = error;
            // This handle's share stays counted in the lock file.
            noteLeft(nullptr, "lock file", lockName, dataName.c_str());
            removed = false;
            return unlocked(IO_OK);
        }
        if (written == LockWrite::CantWrite) {
            kwxIoSysError(record, "iif_set_lock: error writing to lock file %s", lockName.c_str());
            if (vrnPlatform_unlink(lockName.c_str()) != 0 && errno != ENOENT && level < 0) {
                noteLeft(record, "lock file", lockName, dataName.c_str());
                removed = false;
            }
            return level < 0 ? unlocked(IO_OK) : IO_ERR_WRITE;
        }
    }
    if (level < 0) return unlocked(IO_OK);
    record->openmode = level > 0 ? 'w' : 'r';
    record->locklevel = value;
    return IO_OK;
}

namespace {

// Turns the record's read lock into the write lock. Under the mutex the lock
// file is read again: the upgrade is allowed only while it still counts this
// record as the one reader, so that two processes can never both write.
// Without a lock file that holds the write lock (a folder where none can be
// made, a mutex that cannot be made), the write lock is refused: two
// processes could otherwise both go on as the writer.
int takeWriteLock(IO_error_routine routine, IO_file *record, bool quiet) {
    if (record->locklevel < 0) return IO_OK;
    std::string lockName = lockNameOf(record);
    MutexHold mutex(lockName);
    if (mutex.state == MutexState::CantMake)
        return refuseWriteLock(routine, !quiet, "setfilebusyflag", lockName + ".lck", record->filename, mutex.error);
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
    if (written == LockWrite::CantOpen)
        return refuseWriteLock(routine, !quiet, "setfilebusyflag", lockName, record->filename, errno);
    if (written == LockWrite::CantWrite) {
        if (!quiet)
            kwxIoError(routine,
                       "setfilebusyflag: can't write the file information to the lock file\n");
        vrnPlatform_unlink(lockName.c_str());
        return IO_ERR_WRITE;
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
