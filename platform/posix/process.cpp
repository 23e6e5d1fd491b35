// Starting and waiting for child programs with fork and exec.
//
// The child reports a failed exec to the parent through a close-on-exec
// pipe: when the exec succeeds the pipe closes and the parent reads nothing;
// when it fails the child writes its errno and ends at once. So a missing or
// non-executable program is a failed start here, not a child that "ran".
//
// The child holds only its standard streams and the descriptors its request
// names: whatever else the host has open, close-on-exec or not, is closed
// just before the exec.
#include "vrn_platform.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

extern "C" {

namespace {

// Whether the child keeps fd across the exec: the report pipe (close-on-exec,
// so it still closes at the exec) and the descriptors the request names.
bool keptInChild(int fd, const vrnSpawnRequest* request, int reportFd) {
    if (fd < 3 || fd == reportFd) return true;
    for (int i = 0; i < request->inheritCount; ++i)
        if (request->inheritFds[i] == fd) return true;
    return false;
}

// The smallest kept descriptor at or above from, or -1 when there is none.
int nextKept(int from, const vrnSpawnRequest* request, int reportFd) {
    int best = reportFd >= from ? reportFd : -1;
    for (int i = 0; i < request->inheritCount; ++i) {
        int fd = request->inheritFds[i];
        if (fd >= from && (best < 0 || fd < best)) best = fd;
    }
    return best;
}

// Closes every descriptor from 3 up that the child does not keep. Runs
// between fork and exec, so it uses system calls only (no allocation):
// close_range over the gaps between kept descriptors; where the kernel lacks
// it, a walk of /proc/self/fd read with getdents64 into a stack buffer; and
// without /proc, every number below the descriptor limit.
void closeUnkeptDescriptors(const vrnSpawnRequest* request, int reportFd) {
#ifdef SYS_close_range
    for (int from = 3;;) {
        int kept = nextKept(from, request, reportFd);
        unsigned last = kept < 0 ? ~0U : static_cast<unsigned>(kept) - 1;
        if (static_cast<unsigned>(from) <= last &&
            syscall(SYS_close_range, static_cast<unsigned>(from), last, 0U) != 0)
            break;  // not available here: fall back to a walk
        if (kept < 0) return;
        from = kept + 1;
    }
#endif
    int dir = open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        alignas(8) char buf[4096];
        long n;
        while ((n = syscall(SYS_getdents64, dir, buf, sizeof buf)) > 0) {
            for (long at = 0; at < n;) {
                // struct linux_dirent64: ino (8), off (8), reclen (2), type (1), name
                unsigned short reclen;
                __builtin_memcpy(&reclen, buf + at + 16, sizeof reclen);
                const char* name = buf + at + 19;
                at += reclen;
                if (name[0] < '0' || name[0] > '9') continue;
                int fd = 0;
                for (const char* c = name; *c >= '0' && *c <= '9'; ++c) fd = fd * 10 + (*c - '0');
                if (fd != dir && !keptInChild(fd, request, reportFd)) close(fd);
            }
        }
        close(dir);
        if (n == 0) return;
    }
    // No descriptor reaches the limit on open files; without a finite limit,
    // the kernel's usual ceiling on descriptor numbers.
    struct rlimit limit;
    int top = 1 << 20;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        top = limit.rlim_cur < static_cast<rlim_t>(INT_MAX) ? static_cast<int>(limit.rlim_cur) : INT_MAX;
    for (int fd = 3; fd < top; ++fd)
        if (!keptInChild(fd, request, reportFd)) close(fd);
}

// Runs in the forked child: only async-signal-safe calls from here on.
[[noreturn]] void startChild(const vrnSpawnRequest* request, int reportFd) {
    int err = 0;
    // A host with closed standard streams may have handed the report pipe a
    // number from 0 to 2, which the standard streams below would overwrite.
    if (reportFd < 3) {
        int high = fcntl(reportFd, F_DUPFD_CLOEXEC, 3);
        if (high >= 0) reportFd = high;
        else err = errno;
    }
    for (int i = 0; i < request->inheritCount; ++i) {
        int fd = request->inheritFds[i];
        if (fd >= 0 && fcntl(fd, F_SETFD, 0) < 0) err = errno;
    }
    const int given[3] = {request->stdinFd, request->stdoutFd, request->stderrFd};
    int moved[3] = {-1, -1, -1};
    // First move every source above the standard numbers, so that setting
    // one standard stream never overwrites the source of another.
    for (int i = 0; i < 3 && !err; ++i) {
        int src = given[i];
        if (src < 0 && request->hidden) {
            src = open("/dev/null", (i == 0 ? O_RDONLY : O_WRONLY) | O_CLOEXEC);
            if (src < 0) {
                err = errno;
                break;
            }
            moved[i] = fcntl(src, F_DUPFD_CLOEXEC, 3);
            if (moved[i] < 0) err = errno;
            close(src);
            continue;
        }
        if (src < 0) continue;
        moved[i] = fcntl(src, F_DUPFD_CLOEXEC, 3);
        if (moved[i] < 0) err = errno;
    }
    for (int i = 0; i < 3 && !err; ++i) {
        if (moved[i] < 0) continue;
        int r;
        do {
            r = dup2(moved[i], i);  // the copy at i is not close-on-exec
        } while (r < 0 && errno == EINTR);
        if (r < 0) err = errno;
    }
    if (!err) {
        closeUnkeptDescriptors(request, reportFd);
        if (request->searchPath) execvp(request->path, request->argv);
        else execv(request->path, request->argv);
        err = errno;
    }
    ssize_t w;
    do {
        w = write(reportFd, &err, sizeof err);
    } while (w < 0 && errno == EINTR);
    _exit(127);
}

}  // namespace

int vrnPlatform_spawn(const vrnSpawnRequest* request, int* pid) {
    if (!request || !request->path || !request->argv || !request->argv[0]) {
        errno = EINVAL;
        return -1;
    }
    int report[2];
    if (vrnPlatform_pipe(report) < 0) return -1;

    pid_t child = fork();
    if (child < 0) {
        int saved = errno;
        vrnPlatform_close(report[0]);
        vrnPlatform_close(report[1]);
        errno = saved;
        return -1;
    }
    if (child == 0) startChild(request, report[1]);

    vrnPlatform_close(report[1]);
    int childErr = 0;
    long got = vrnPlatform_read(report[0], &childErr, sizeof childErr);
    vrnPlatform_close(report[0]);
    if (got == static_cast<long>(sizeof childErr)) {
        // The child never became the program: reap it now so that a failed
        // start leaves no zombie behind.
        vrnPlatform_wait(static_cast<int>(child), nullptr);
        errno = childErr ? childErr : ENOEXEC;
        return -1;
    }
    if (pid) *pid = static_cast<int>(child);
    return 0;
}

int vrnPlatform_wait(int pid, vrnExitStatus* status) {
    int raw = 0;
    pid_t r;
    do {
        r = waitpid(static_cast<pid_t>(pid), &raw, 0);
    } while (r < 0 && errno == EINTR);
    if (r < 0) return -1;
    if (status) {
        status->exited = WIFEXITED(raw) ? 1 : 0;
        status->code = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        status->signal = WIFSIGNALED(raw) ? WTERMSIG(raw) : 0;
    }
    return 0;
}

int vrnPlatform_reap(int pid) {
    int raw = 0;
    pid_t r;
    do {
        r = waitpid(static_cast<pid_t>(pid), &raw, WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r < 0) return -1;
    return r == 0 ? 0 : 1;
}

}  // extern "C"
