#include "crash_points.h"

#include "test_support.h"
#include "vrn_platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fcntl.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace vrntest {

namespace {

// Reads everything the child writes to fd until it closes its end.
std::string drain(int fd) {
    std::string text;
    char buffer[4096];
    for (;;) {
        long n = vrnPlatform_read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    return text;
}

int waitFor(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

void silenceOutput() {
    int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0) return;
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    close(null);
}

// Forks; the child runs body with the write end of a pipe and ends through
// _exit(0) (so neither the parent's exit handlers nor its stdio buffers run
// twice). Answers the child's wait status and what it wrote.
int forkWithPipe(const std::function<void(int fd)>& body, std::string& written) {
    int fds[2];
    if (vrnPlatform_pipe(fds) != 0) throw std::runtime_error("pipe failed");
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        vrnPlatform_close(fds[0]);
        try {
            body(fds[1]);
        } catch (const std::exception& e) {
            std::string text = std::string("uncaught exception: ") + e.what() + "\n";
            vrnPlatform_write(fds[1], text.data(), text.size());
            _exit(124);
        } catch (...) {
            _exit(124);
        }
        _exit(0);
    }
    vrnPlatform_close(fds[1]);
    written = drain(fds[0]);
    vrnPlatform_close(fds[0]);
    return waitFor(pid);
}

}  // namespace

long long countFileChanges(const std::function<void()>& workload) {
    std::string written;
    int status = forkWithPipe(
        [&](int fd) {
            silenceOutput();
            vrnPlatform_setCrashPoint(0, -1);
            long long before = vrnPlatform_fileChangeCount();
            workload();
            std::string count = std::to_string(vrnPlatform_fileChangeCount() - before);
            vrnPlatform_write(fd, count.data(), count.size());
        },
        written);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || written.empty()) return -1;
    return std::atoll(written.c_str());
}

bool runUntilCrash(const std::function<void()>& workload, long long n, long long keepBytes) {
    std::string written;
    int status = forkWithPipe(
        [&](int) {
            silenceOutput();
            vrnPlatform_setCrashPoint(n, keepBytes);
            workload();
        },
        written);
    return WIFEXITED(status) && WEXITSTATUS(status) == VRN_CRASH_POINT_STATUS;
}

FailedRun runWithFailure(const std::function<void(const Report& report)>& workload, long long failAt,
                         long long keepBytes, long long crashAt) {
    FailedRun run;
    std::string written;
    int status = forkWithPipe(
        [&](int fd) {
            silenceOutput();
            // Each report goes as a tagged record: 'r', its length, its text.
            const Report report = [fd](const std::string& text) {
                std::string record = "r" + std::to_string(text.size()) + ":" + text;
                vrnPlatform_write(fd, record.data(), record.size());
            };
            const long long before = vrnPlatform_fileChangeCount();
            vrnPlatform_setCrashPoint(crashAt, -1);
            vrnPlatform_setFailurePoint(failAt, keepBytes);
            workload(report);
            const char reached = vrnPlatform_fileChangeCount() - before >= failAt ? 'y' : 'n';
            vrnPlatform_write(fd, &reached, 1);
        },
        written);
    run.crashed = WIFEXITED(status) && WEXITSTATUS(status) == VRN_CRASH_POINT_STATUS;
    if (!run.crashed && (!WIFEXITED(status) || WEXITSTATUS(status) != 0))
        throw std::runtime_error("workload with a failure point died (status " + std::to_string(status) + "): " +
                                 written);
    size_t at = 0;
    while (at < written.size() && written[at] == 'r') {
        const size_t colon = written.find(':', at);
        if (colon == std::string::npos) break;
        const size_t length = std::stoul(written.substr(at + 1, colon - at - 1));
        run.reported += written.substr(colon + 1, length);
        at = colon + 1 + length;
    }
    run.reachedFailure = run.crashed ? crashAt > failAt : at < written.size() && written[at] == 'y';
    return run;
}

std::string runInFreshProcess(const std::function<void(std::string& failures)>& check) {
    std::string written;
    int status = forkWithPipe(
        [&](int fd) {
            std::string failures;
            check(failures);
            // A final mark tells a finished check from one that died.
            failures += '\1';
            vrnPlatform_write(fd, failures.data(), failures.size());
        },
        written);
    std::string failures = written;
    const bool finished = !failures.empty() && failures.back() == '\1';
    if (finished) failures.pop_back();
    if (WIFSIGNALED(status))
        failures += "check process ended by signal " + std::to_string(WTERMSIG(status)) + "\n";
    else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        failures += "check process exited with status " + std::to_string(WEXITSTATUS(status)) + "\n";
    else if (!finished)
        failures += "check process ended without reporting\n";
    return failures;
}

std::vector<long long> crashPointsToTry(long long total, long long cap) {
    std::vector<long long> points;
    if (cap < 2) cap = 2;
    if (total <= cap) {
        for (long long n = 1; n <= total; ++n) points.push_back(n);
        return points;
    }
    for (long long i = 0; i < cap; ++i) {
        long long n = 1 + i * (total - 1) / (cap - 1);
        if (points.empty() || points.back() != n) points.push_back(n);
    }
    return points;
}

long long crashPointCap(long long total, long long cap) {
    return kAddressSanitizer ? std::min(cap, std::max(2LL, (total + 1) / 2)) : cap;
}

void removeDeadWriterLock(const std::string& dataFile) {
    std::remove((dataFile + ".lck.lck").c_str());
    std::remove((dataFile + ".lck").c_str());
}

}  // namespace vrntest
