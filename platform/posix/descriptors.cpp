// Descriptors and pipes: close-on-exec, EINTR retried, no SIGPIPE.
#include "vrn_platform.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <pthread.h>

namespace {

// Holds SIGPIPE blocked for the life of the object; a SIGPIPE that the
// guarded write raised is taken off the pending set before the old mask is
// restored, so it is never delivered. One that was pending before is left.
class SigpipeGuard {
public:
    SigpipeGuard() {
        sigemptyset(&pipeSet_);
        sigaddset(&pipeSet_, SIGPIPE);
        sigset_t pending;
        sigemptyset(&pending);
        sigpending(&pending);
        pendingBefore_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipeSet_, &old_);
    }
    ~SigpipeGuard() {
        if (raised_ && !pendingBefore_) {
            const timespec zero = {0, 0};
            int saved = errno;
            while (sigtimedwait(&pipeSet_, nullptr, &zero) < 0 && errno == EINTR) {
            }
            errno = saved;
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    void noteEpipe() { raised_ = true; }

private:
    sigset_t pipeSet_;
    sigset_t old_;
    bool pendingBefore_ = false;
    bool raised_ = false;
};

}  // namespace

extern "C" {

int vrnPlatform_pipe(int fds[2]) { return pipe2(fds, O_CLOEXEC); }

int vrnPlatform_close(int fd) {
    if (fd < 0) return 0;
    int r = close(fd);
    if (r < 0 && errno == EINTR) return 0;
    return r;
}

long vrnPlatform_read(int fd, void* buffer, size_t n) {
    ssize_t r;
    do {
        r = read(fd, buffer, n);
    } while (r < 0 && errno == EINTR);
    return static_cast<long>(r);
}

long vrnPlatform_write(int fd, const void* buffer, size_t n) {
    SigpipeGuard guard;
    const char* p = static_cast<const char*>(buffer);
    size_t done = 0;
    while (done < n) {
        ssize_t r = write(fd, p + done, n - done);
        if (r < 0) {
            if (errno == EINTR) continue;
            if (errno == EPIPE) guard.noteEpipe();
            return -1;
        }
        done += static_cast<size_t>(r);
    }
    return static_cast<long>(done);
}

int vrnPlatform_openFile(const char* path, int mode) {
    switch (mode) {
    case 0: return vrnPlatform_open(path, O_RDONLY, 0666);
    case 1: return vrnPlatform_open(path, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    case 2: return vrnPlatform_open(path, O_WRONLY | O_CREAT | O_APPEND, 0666);
    default: errno = EINVAL; return -1;
    }
}

int vrnPlatform_waitReadable(int fd, int milliseconds) {
    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        int left = milliseconds;
        if (milliseconds >= 0) {
            timespec now;
            clock_gettime(CLOCK_MONOTONIC, &now);
            long spent = (now.tv_sec - start.tv_sec) * 1000L + (now.tv_nsec - start.tv_nsec) / 1000000L;
            left = spent >= milliseconds ? 0 : milliseconds - static_cast<int>(spent);
        }
        pollfd p = {fd, POLLIN, 0};
        int r = poll(&p, 1, left);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        return r > 0 ? 1 : 0;
    }
}

long vrnPlatform_readWhileRunning(int fd, int exitFd, void* buffer, size_t n) {
    if (exitFd < 0) return vrnPlatform_read(fd, buffer, n);
    // Once the child has ended, everything it wrote is in the pipe: one more
    // look that does not wait tells whether anything is left. The pipe is
    // looked at again after the end is seen, as the child may have written
    // and ended between poll's look at the pipe and its look at the child.
    bool ended = false;
    for (;;) {
        pollfd p[2] = {{fd, POLLIN, 0}, {exitFd, POLLIN, 0}};
        const int r = poll(p, ended ? 1 : 2, ended ? 0 : -1);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        if (p[0].revents) return vrnPlatform_read(fd, buffer, n);  // data, its end or an error
        if (ended) return 0;
        if (p[1].revents) ended = true;
    }
}

void vrnPlatform_sleepMilliseconds(int milliseconds) {
    if (milliseconds <= 0) return;
    timespec left = {milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) < 0 && errno == EINTR) {
    }
}

int vrnPlatform_getpid(void) { return static_cast<int>(getpid()); }

}  // extern "C"
