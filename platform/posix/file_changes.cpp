// Calls that change files, counted so that a test can end the process at
// any one of them, and stdio streams whose writes reach the kernel only
// through those calls.
#include "vrn_platform.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <new>
#include <vector>

namespace {

long long g_changeCount = 0;
long long g_crashAt = 0;        // 0: no crash point
long long g_crashKeepBytes = -1;
long long g_failAt = 0;         // 0: no failure point
long long g_failKeepBytes = -1;
void (*g_changeHook)(const char* path) = nullptr;

// Writes all n bytes at offset, or at the descriptor's own offset when
// offset is negative, retrying short writes and EINTR: n, or -1 with errno.
long writeAll(int fd, const void* buffer, size_t n, long long offset) {
    const char* p = static_cast<const char*>(buffer);
    size_t done = 0;
    while (done < n) {
        ssize_t r = offset >= 0
                        ? pwrite(fd, p + done, n - done, static_cast<off_t>(offset + static_cast<long long>(done)))
                        : write(fd, p + done, n - done);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) {
            if (r == 0) errno = EIO;
            return -1;
        }
        done += static_cast<size_t>(r);
    }
    return static_cast<long>(done);
}

// Ends the process as SIGKILL would: no exit handlers, no stdio flush.
[[noreturn]] void crashNow() { _exit(VRN_CRASH_POINT_STATUS); }

// What happens to a counted change: it goes ahead, the process ends there,
// or it fails once as a full or failing disk would.
enum Fate { Proceed, Crash, Fail };

// Counts one change and answers its fate.
inline Fate countChange() {
    ++g_changeCount;
    if (g_changeCount == g_crashAt) return Crash;
    if (g_changeCount == g_failAt) {
        g_failAt = 0;
        return Fail;
    }
    return Proceed;
}

// Counts one change of the file at path, after the test hook has seen it.
inline Fate countChangeOf(const char* path) {
    if (g_changeHook) g_changeHook(path);
    return countChange();
}

// Counts one change through a descriptor. A test hook sees it under the
// path the descriptor has now (looked up only while a hook is set).
inline Fate countChangeOfFd(int fd) {
    if (g_changeHook) {
        char link[64], path[PATH_MAX + 1];
        snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        ssize_t n = readlink(link, path, sizeof path - 1);
        path[n > 0 ? n : 0] = '\0';
        g_changeHook(path);
    }
    return countChange();
}

void noteWrite(int fd, const void* bytes, size_t n, long long offset);

// A write at the crash point: keeps the first keepBytes of it, then ends.
[[noreturn]] void crashInWrite(int fd, const void* buffer, size_t n, long long offset) {
    if (g_crashKeepBytes > 0)
        // The process is about to end: the kept bytes are all a tail lost
        // in a crash would leave, whether or not they all got there.
        (void)writeAll(fd, buffer, std::min(n, static_cast<size_t>(g_crashKeepBytes)), offset);
    crashNow();
}

// A write at the failure point: keeps the first keepBytes of it, as a disk
// that fills up part way through does, then fails with ENOSPC.
long failInWrite(int fd, const void* buffer, size_t n, long long offset) {
    if (g_failKeepBytes > 0) {
        const size_t kept = std::min(n, static_cast<size_t>(g_failKeepBytes));
        if (writeAll(fd, buffer, kept, offset) >= 0) noteWrite(fd, buffer, kept, offset);
    }
    errno = ENOSPC;
    return -1;
}

// A failed change of any other kind: -1 with errno set, nothing changed.
inline int failWith(int error) {
    errno = error;
    return -1;
}

// ---- streams over counted writes -------------------------------------------

// What a stream made by vrnPlatform_fopen holds: its descriptor, the stream
// itself so that vrnPlatform_streamFd can find it, the stream's position,
// and the block it read last.
//
// stdio drops a cookie stream's buffer at every seek, where a stream of its
// own keeps it when the seek lands inside. Readers of data files seek back
// and forth within a few kilobytes all the time, so the stream keeps its
// last block itself and serves such reads from it, and it reads and writes
// at its own position (pread/pwrite) so that a seek costs no system call.
// Every counted change through the descriptor updates or drops that block.
struct Cookie {
    int fd;
    FILE* stream;
    bool append;              // writes go to the end of the file
    long long position = 0;
    std::vector<char> block;  // bytes of the file from blockStart on
    long long blockStart = 0;
};

// Reads larger than this go straight to the caller and are not kept.
constexpr size_t kBlockLimit = 64 * 1024;

// The streams open now. A process has a handful at a time, so a short list
// searched from the newest is quicker than any table.
std::vector<Cookie*>& liveStreams() {
    static std::vector<Cookie*>* list = new std::vector<Cookie*>();
    return *list;
}

// n bytes written at offset (negative: somewhere unknown) through fd reach
// the blocks that streams over fd keep.
void noteWrite(int fd, const void* bytes, size_t n, long long offset) {
    for (Cookie* c : liveStreams()) {
        if (c->fd != fd || c->block.empty()) continue;
        const long long blockEnd = c->blockStart + static_cast<long long>(c->block.size());
        if (offset < 0) {
            c->block.clear();
            continue;
        }
        const long long from = std::max(offset, c->blockStart);
        const long long to = std::min(offset + static_cast<long long>(n), blockEnd);
        if (from < to)
            memcpy(c->block.data() + (from - c->blockStart), static_cast<const char*>(bytes) + (from - offset),
                   static_cast<size_t>(to - from));
    }
}

// The file behind fd was cut to length: what the blocks hold past it is gone.
void noteTruncate(int fd, long long length) {
    for (Cookie* c : liveStreams()) {
        if (c->fd != fd || c->block.empty()) continue;
        if (length <= c->blockStart)
            c->block.clear();
        else if (length < c->blockStart + static_cast<long long>(c->block.size()))
            c->block.resize(static_cast<size_t>(length - c->blockStart));
    }
}

ssize_t cookieRead(void* v, char* buffer, size_t n) {
    Cookie* c = static_cast<Cookie*>(v);
    const long long blockEnd = c->blockStart + static_cast<long long>(c->block.size());
    if (c->position >= c->blockStart && c->position < blockEnd) {
        const size_t k = std::min(n, static_cast<size_t>(blockEnd - c->position));
        memcpy(buffer, c->block.data() + (c->position - c->blockStart), k);
        c->position += static_cast<long long>(k);
        return static_cast<ssize_t>(k);
    }
    ssize_t r;
    do {
        r = pread(c->fd, buffer, n, static_cast<off_t>(c->position));
    } while (r < 0 && errno == EINTR);
    if (r < 0) return -1;
    if (r > 0 && static_cast<size_t>(r) <= kBlockLimit) {
        c->block.assign(buffer, buffer + r);
        c->blockStart = c->position;
    }
    c->position += r;
    return r;
}

ssize_t cookieWrite(void* v, const char* buffer, size_t n) {
    Cookie* c = static_cast<Cookie*>(v);
    // stdio takes 0 as failure for a write function; -1 with errno is kept.
    if (c->append) {
        if (vrnPlatform_writeFile(c->fd, buffer, n) < 0) return -1;
        const off_t end = lseek(c->fd, 0, SEEK_CUR);
        if (end < 0) return -1;
        c->position = end;
        return static_cast<ssize_t>(n);
    }
    if (vrnPlatform_pwrite(c->fd, buffer, n, c->position) < 0) return -1;
    c->position += static_cast<long long>(n);
    return static_cast<ssize_t>(n);
}

int cookieSeek(void* v, off64_t* offset, int whence) {
    Cookie* c = static_cast<Cookie*>(v);
    long long base = 0;
    switch (whence) {
    case SEEK_SET: break;
    case SEEK_CUR: base = c->position; break;
    case SEEK_END: {
        struct stat st;
        if (fstat(c->fd, &st) != 0) return -1;
        base = static_cast<long long>(st.st_size);
        break;
    }
    default: errno = EINVAL; return -1;
    }
    const long long target = base + static_cast<long long>(*offset);
    if (target < 0) {
        errno = EINVAL;
        return -1;
    }
    c->position = target;
    *offset = static_cast<off64_t>(target);
    return 0;
}

int cookieClose(void* c) {
    Cookie* cookie = static_cast<Cookie*>(c);
    auto& list = liveStreams();
    auto it = std::find(list.begin(), list.end(), cookie);
    if (it != list.end()) list.erase(it);
    int r = vrnPlatform_close(cookie->fd);
    delete cookie;
    return r;
}

// Open flags of an fopen mode: r, w or a, then any of + b e x.
bool flagsOfMode(const char* mode, int& flags, bool& plus) {
    plus = strchr(mode, '+') != nullptr;
    const bool exclusive = strchr(mode, 'x') != nullptr;
    switch (mode[0]) {
    case 'r': flags = plus ? O_RDWR : O_RDONLY; break;
    case 'w': flags = (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC; break;
    case 'a': flags = (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND; break;
    default: return false;
    }
    if (exclusive) flags |= O_EXCL;
    return true;
}

// A counted stream over fd (which it then owns), with fopen's stream mode
// ("r", "r+", "w", "w+", "a", "a+"); NULL with errno set, fd left open.
FILE* streamOver(int fd, const char* streamMode, long long position) {
    Cookie* cookie = new (std::nothrow) Cookie{fd, nullptr, streamMode[0] == 'a', position, {}, 0};
    if (!cookie) {
        errno = ENOMEM;
        return nullptr;
    }
    cookie_io_functions_t functions = {cookieRead, cookieWrite, cookieSeek, cookieClose};
    FILE* f = fopencookie(cookie, streamMode, functions);
    if (!f) {
        int e = errno;
        delete cookie;
        errno = e;
        return nullptr;
    }
    cookie->stream = f;
    liveStreams().push_back(cookie);
    return f;
}

bool isCounted(FILE* stream) {
    for (const Cookie* c : liveStreams())
        if (c->stream == stream) return true;
    return false;
}

}  // namespace

extern "C" {

void vrnPlatform_setCrashPoint(long long call, long long keepBytes) {
    g_crashAt = call > 0 ? g_changeCount + call : 0;
    g_crashKeepBytes = keepBytes;
}

void vrnPlatform_setFailurePoint(long long call, long long keepBytes) {
    g_failAt = call > 0 ? g_changeCount + call : 0;
    g_failKeepBytes = keepBytes;
}

long long vrnPlatform_fileChangeCount(void) { return g_changeCount; }

void vrnPlatform_setFileChangeHook(void (*hook)(const char* path)) { g_changeHook = hook; }

long vrnPlatform_writeFile(int fd, const void* buffer, size_t n) {
    switch (countChangeOfFd(fd)) {
    case Crash: crashInWrite(fd, buffer, n, -1);
    case Fail: return failInWrite(fd, buffer, n, -1);
    case Proceed: break;
    }
    long r = writeAll(fd, buffer, n, -1);
    noteWrite(fd, buffer, n, -1);
    return r;
}

long vrnPlatform_pwrite(int fd, const void* buffer, size_t n, long long offset) {
    if (offset < 0) {
        errno = EINVAL;
        return -1;
    }
    switch (countChangeOfFd(fd)) {
    case Crash: crashInWrite(fd, buffer, n, offset);
    case Fail: return failInWrite(fd, buffer, n, offset);
    case Proceed: break;
    }
    long r = writeAll(fd, buffer, n, offset);
    noteWrite(fd, buffer, n, r < 0 ? -1 : offset);
    return r;
}

int vrnPlatform_open(const char* path, int flags, int permissions) {
    if (flags & (O_CREAT | O_TRUNC)) {
        switch (countChangeOf(path)) {
        case Crash: crashNow();
        case Fail: return failWith(ENOSPC);
        case Proceed: break;
        }
    }
    int fd;
    do {
        fd = open(path, flags | O_CLOEXEC, static_cast<mode_t>(permissions));
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int vrnPlatform_ftruncate(int fd, long long length) {
    switch (countChangeOfFd(fd)) {
    case Crash: crashNow();
    case Fail: return failWith(EIO);
    case Proceed: break;
    }
    int r;
    do {
        r = ftruncate(fd, static_cast<off_t>(length));
    } while (r < 0 && errno == EINTR);
    if (r == 0) noteTruncate(fd, length);
    return r;
}

int vrnPlatform_rename(const char* from, const char* to) {
    switch (countChangeOf(to)) {
    case Crash: crashNow();
    case Fail: return failWith(ENOSPC);
    case Proceed: break;
    }
    return rename(from, to);
}

int vrnPlatform_unlink(const char* path) {
    switch (countChangeOf(path)) {
    case Crash: crashNow();
    case Fail: return failWith(EIO);
    case Proceed: break;
    }
    return unlink(path);
}

int vrnPlatform_renameNoReplace(const char* from, const char* to) {
    switch (countChangeOf(to)) {
    case Crash: crashNow();
    case Fail: return failWith(ENOSPC);
    case Proceed: break;
    }
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
    // EINVAL: a file system without the flag; ENOSYS: a kernel without the
    // call. Anything else (EEXIST among them) is the answer.
    if (errno != EINVAL && errno != ENOSYS) return -1;
    switch (countChangeOf(to)) {
    case Crash: crashNow();
    case Fail: return failWith(ENOSPC);
    case Proceed: break;
    }
    if (linkat(AT_FDCWD, from, AT_FDCWD, to, 0) != 0) return -1;
    // The file is in place; a `from` that cannot be unlinked stays beside it.
    vrnPlatform_unlink(from);
    return 0;
}

FILE* vrnPlatform_fopen(const char* path, const char* mode) {
    int flags = 0;
    bool plus = false;
    if (!path || !mode || !flagsOfMode(mode, flags, plus)) {
        errno = EINVAL;
        return nullptr;
    }
    int fd = vrnPlatform_open(path, flags, 0666);
    if (fd < 0) return nullptr;
    // The stream's own mode: appending is the descriptor's business.
    const char* streamMode = mode[0] == 'r' ? (plus ? "r+" : "r") : (plus ? "w+" : "w");
    if (mode[0] == 'a') streamMode = plus ? "a+" : "a";
    FILE* f = streamOver(fd, streamMode, 0);
    if (!f) {
        int e = errno;
        vrnPlatform_close(fd);
        errno = e;
    }
    return f;
}

FILE* vrnPlatform_countWrites(FILE* stream) {
    if (!stream) {
        errno = EBADF;
        return nullptr;
    }
    if (isCounted(stream)) return stream;
    if (fflush(stream) != 0) return nullptr;
    const off_t position = ftello(stream);
    const int fd = fileno(stream);
    const int access = fd >= 0 ? fcntl(fd, F_GETFL) : -1;
    if (access < 0) {
        errno = EBADF;
        return nullptr;
    }
    const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) return nullptr;
    const bool append = (access & O_APPEND) != 0;
    const char* streamMode;
    switch (access & O_ACCMODE) {
    case O_RDONLY: streamMode = "r"; break;
    case O_WRONLY: streamMode = append ? "a" : "w"; break;
    default: streamMode = append ? "a+" : "r+"; break;
    }
    FILE* counted = streamOver(copy, streamMode, position >= 0 ? position : 0);
    if (!counted) {
        int e = errno;
        vrnPlatform_close(copy);
        errno = e;
        return nullptr;
    }
    // Nothing is buffered any more: closing writes nothing.
    fclose(stream);
    return counted;
}

int vrnPlatform_streamFd(FILE* stream) {
    if (!stream) {
        errno = EBADF;
        return -1;
    }
    const auto& list = liveStreams();
    for (auto it = list.rbegin(); it != list.rend(); ++it)
        if ((*it)->stream == stream) return (*it)->fd;
    return fileno(stream);
}

}  // extern "C"
