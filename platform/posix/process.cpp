// Starting and waiting for child programs with posix_spawn.
//
// posix_spawn starts the child inside the parent's memory (glibc clones with
// CLONE_VM | CLONE_VFORK and the parent waits until the exec), so a start
// costs the same whatever the host holds. fork would copy the host's page
// tables and mark every page copy-on-write: the start would grow with the
// host's size, double its committed memory while the child lives, and leave
// the host's next pass over its own memory paying for copies.
//
// What the child gets is said by file actions, carried out in the child
// before the exec:
//   - its standard streams: the descriptors the request gives, /dev/null
//     for the others when it is hidden;
//   - the descriptors the request names, under their own numbers (their
//     close-on-exec flag is cleared in the child alone);
//   - nothing else: every other descriptor from 3 up is closed, close-on-exec
//     or not (glibc uses close_range, or walks /proc/self/fd where the kernel
//     lacks it).
// Every signal starts at its default action with none blocked, so nothing
// the host set runs in the child or reaches the program; only the two
// signals glibc keeps for itself (32 and 33) it leaves ignored.
//
// A program that cannot be executed is a failed start: posix_spawn returns
// the exec's errno, and glibc has already reaped the child.
//
// A child's end can be watched through a pidfd, which tells the parent that
// the child has ended even when another process keeps its pipes open, and
// even when the host reaps its children itself.
#include "vrn_platform.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <vector>

extern char** environ;

extern "C" {

namespace {

// The file actions and attributes of one start, released however it ends.
class SpawnSetup {
public:
    SpawnSetup() {
        actionsMade_ = posix_spawn_file_actions_init(&actions_) == 0;
        attributesMade_ = posix_spawnattr_init(&attributes_) == 0;
    }
    ~SpawnSetup() {
        if (actionsMade_) posix_spawn_file_actions_destroy(&actions_);
        if (attributesMade_) posix_spawnattr_destroy(&attributes_);
        for (int fd : copies_) vrnPlatform_close(fd);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    // Describes the child's descriptors and signals; 0 or an error number.
    int prepare(const vrnSpawnRequest* request) {
        if (!actionsMade_ || !attributesMade_) return ENOMEM;
        int err = 0;
        // The named descriptors, under their own numbers.
        std::vector<int> kept;
        for (int i = 0; i < request->inheritCount && !err; ++i) {
            const int fd = request->inheritFds[i];
            if (fd < 0) continue;
            err = posix_spawn_file_actions_adddup2(&actions_, fd, fd);
            if (fd > 2) kept.push_back(fd);
        }
        // The standard streams, in the order 0, 1, 2. A source below the
        // stream it feeds would already have been replaced by then: it is
        // given to the child through a copy above 2.
        const int given[3] = {request->stdinFd, request->stdoutFd, request->stderrFd};
        for (int i = 0; i < 3 && !err; ++i) {
            int source = given[i];
            if (source >= 0 && source < i) {
                source = fcntl(source, F_DUPFD_CLOEXEC, 3);
                if (source < 0) return errno;
                copies_.push_back(source);
            }
            if (source >= 0)
                err = posix_spawn_file_actions_adddup2(&actions_, source, i);
            else if (request->hidden)
                err = posix_spawn_file_actions_addopen(&actions_, i, "/dev/null",
                                                       i == 0 ? O_RDONLY : O_WRONLY, 0);
        }
        if (!err) err = closeTheRest(kept);
        if (!err) err = startWithDefaultSignals();
        return err;
    }

    const posix_spawn_file_actions_t* actions() const { return &actions_; }
    const posix_spawnattr_t* attributes() const { return &attributes_; }

private:
    // Closes every descriptor from 3 up but the kept ones: each in the gaps
    // below the highest kept one, open or not (another thread may open one
    // there before the start; the child's close of one that is not open is
    // no error), everything above it at once.
    int closeTheRest(std::vector<int>& kept) {
        std::sort(kept.begin(), kept.end());
        kept.erase(std::unique(kept.begin(), kept.end()), kept.end());
        const int top = kept.empty() ? 2 : kept.back();
        for (int fd = 3; fd < top; ++fd) {
            if (std::binary_search(kept.begin(), kept.end(), fd)) continue;
            if (int err = posix_spawn_file_actions_addclose(&actions_, fd)) return err;
        }
        return posix_spawn_file_actions_addclosefrom_np(&actions_, top + 1);
    }

    int startWithDefaultSignals() {
        sigset_t none;
        sigset_t all;
        sigemptyset(&none);
        sigfillset(&all);
        int err = posix_spawnattr_setsigmask(&attributes_, &none);
        if (!err) err = posix_spawnattr_setsigdefault(&attributes_, &all);
        if (!err)
            err = posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        return err;
    }

    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attributes_;
    bool actionsMade_ = false;
    bool attributesMade_ = false;
    std::vector<int> copies_;  // parent copies of sources moved above 2
};

std::atomic<void (*)(int)> g_spawnHook{nullptr};

}  // namespace

int vrnPlatform_spawn(const vrnSpawnRequest* request, int* pid) {
    if (!request || !request->path || !request->argv || !request->argv[0] ||
        request->inheritCount < 0 || (request->inheritCount > 0 && !request->inheritFds)) {
        errno = EINVAL;
        return -1;
    }
    int err;
    pid_t child = 0;
    {
        SpawnSetup setup;
        err = setup.prepare(request);
        if (!err) {
            err = request->searchPath
                      ? posix_spawnp(&child, request->path, setup.actions(), setup.attributes(),
                                     request->argv, environ)
                      : posix_spawn(&child, request->path, setup.actions(), setup.attributes(),
                                    request->argv, environ);
        }
    }
    if (err) {
        errno = err;
        return -1;
    }
    if (void (*hook)(int) = g_spawnHook.load(std::memory_order_relaxed)) hook(static_cast<int>(child));
    if (pid) *pid = static_cast<int>(child);
    return 0;
}

void vrnPlatform_setSpawnHook(void (*hook)(int pid)) { g_spawnHook.store(hook, std::memory_order_relaxed); }

int vrnPlatform_watchExit(int pid) {
#ifdef SYS_pidfd_open
    // Through syscall(): older C libraries have no wrapper. A pidfd is
    // always close-on-exec.
    return static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0));
#else
    (void)pid;
    errno = ENOSYS;
    return -1;
#endif
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
