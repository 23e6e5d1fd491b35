// Calls that change files, counted so that a test can end the process at
// any one of them, and stdio streams whose writes reach the kernel only
// through those calls.
#include "vrn_platform.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <new>
#include <vector>

namespace {

long long g_changeCount = 0;
long long g_crashAt = 0;        // 0: no crash point
long long g_crashKeepBytes = -1;

// Writes the first n bytes directly, ignoring failures: the process is
// about to end, and the bytes are all a tail lost in a crash would leave.
void writePrefix(int fd, const void* buffer, size_t n, long long offset) {
    const char* p = static_cast<const char*>(buffer);
    size_t done = 0;
    while (done < n) {
        ssize_t r = offset >= 0
                        ? pwrite(fd, p + done, n - done, static_cast<off_t>(offset + static_cast<long long>(done)))
                        : write(fd, p + done, n - done);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return;
        done += static_cast<size_t>(r);
    }
}

// Ends the process as SIGKILL would: no exit handlers, no stdio flush.
[[noreturn]] void crashNow() { _exit(VRN_CRASH_POINT_STATUS); }

// Counts one change; true when this one is the crash point.
inline bool countChange() { return ++g_changeCount == g_crashAt; }

// A write at the crash point: keeps the first keepBytes of it, then ends.
[[noreturn]] void crashInWrite(int fd, const void* buffer, size_t n, long long offset) {
    if (g_crashKeepBytes > 0)
        writePrefix(fd, buffer, std::min(n, static_cast<size_t>(g_crashKeepBytes)), offset);
    crashNow();
}

// ---- streams over counted writes -------------------------------------------

// What a stream made by vrnPlatform_fopen holds: its descriptor, and the
// stream itself so that vrnPlatform_streamFd can find it.
struct Cookie {
    int fd;
    FILE* stream;
};

// The streams open now. A process has a handful at a time, so a short list
// searched from the newest is quicker than any table.
std::vector<Cookie*>& liveStreams() {
    static std::vector<Cookie*>* list = new std::vector<Cookie*>();
    return *list;
}

ssize_t cookieRead(void* c, char* buffer, size_t n) {
    return static_cast<ssize_t>(vrnPlatform_read(static_cast<Cookie*>(c)->fd, buffer, n));
}

ssize_t cookieWrite(void* c, const char* buffer, size_t n) {
    // stdio takes 0 as failure for a write function; -1 with errno is kept.
    long r = vrnPlatform_writeFile(static_cast<Cookie*>(c)->fd, buffer, n);
    return r < 0 ? -1 : static_cast<ssize_t>(r);
}

int cookieSeek(void* c, off64_t* offset, int whence) {
    off64_t r = lseek64(static_cast<Cookie*>(c)->fd, *offset, whence);
    if (r < 0) return -1;
    *offset = r;
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
FILE* streamOver(int fd, const char* streamMode) {
    Cookie* cookie = new (std::nothrow) Cookie{fd, nullptr};
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

long long vrnPlatform_fileChangeCount(void) { return g_changeCount; }

long vrnPlatform_writeFile(int fd, const void* buffer, size_t n) {
    if (countChange()) crashInWrite(fd, buffer, n, -1);
    const char* p = static_cast<const char*>(buffer);
    size_t done = 0;
    while (done < n) {
        ssize_t r = write(fd, p + done, n - done);
        if (r < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (r == 0) {
            errno = EIO;
            return -1;
        }
        done += static_cast<size_t>(r);
    }
    return static_cast<long>(done);
}

long vrnPlatform_pwrite(int fd, const void* buffer, size_t n, long long offset) {
    if (countChange()) crashInWrite(fd, buffer, n, offset);
    const char* p = static_cast<const char*>(buffer);
    size_t done = 0;
    while (done < n) {
        ssize_t r = pwrite(fd, p + done, n - done, static_cast<off_t>(offset + static_cast<long long>(done)));
        if (r < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (r == 0) {
            errno = EIO;
            return -1;
        }
        done += static_cast<size_t>(r);
    }
    return static_cast<long>(done);
}

int vrnPlatform_open(const char* path, int flags, int permissions) {
    if ((flags & (O_CREAT | O_TRUNC)) && countChange()) crashNow();
    int fd;
    do {
        fd = open(path, flags | O_CLOEXEC, static_cast<mode_t>(permissions));
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int vrnPlatform_ftruncate(int fd, long long length) {
    if (countChange()) crashNow();
    int r;
    do {
        r = ftruncate(fd, static_cast<off_t>(length));
    } while (r < 0 && errno == EINTR);
    return r;
}

int vrnPlatform_rename(const char* from, const char* to) {
    if (countChange()) crashNow();
    return rename(from, to);
}

int vrnPlatform_unlink(const char* path) {
    if (countChange()) crashNow();
    return unlink(path);
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
    FILE* f = streamOver(fd, streamMode);
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
    if (position >= 0 && lseek(copy, position, SEEK_SET) < 0) {
        int e = errno;
        vrnPlatform_close(copy);
        errno = e;
        return nullptr;
    }
    FILE* counted = streamOver(copy, streamMode);
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
