// The POSIX layer under processes, pipes and sockets.
#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"
#include "vrn_platform.h"

namespace {

using vrntest::noChildLeft;
using vrntest::splitNul;

std::string readAll(int fd) {
    std::string out;
    char buf[4096];
    long n;
    while ((n = vrnPlatform_read(fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    return out;
}

// Spawns the test reader with its output on a pipe; returns the output.
std::string runReader(std::vector<std::string> args, int* pidOut = nullptr,
                      vrnExitStatus* status = nullptr) {
    std::vector<char*> argv;
    std::string path = VRN_TEST_READER;
    args.insert(args.begin(), path);
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int fds[2];
    EXPECT_EQ(0, vrnPlatform_pipe(fds));
    vrnSpawnRequest req{};
    req.path = path.c_str();
    req.argv = argv.data();
    req.stdinFd = -1;
    req.stdoutFd = fds[1];
    req.stderrFd = fds[1];
    req.hidden = 1;
    int pid = 0;
    EXPECT_EQ(0, vrnPlatform_spawn(&req, &pid));
    vrnPlatform_close(fds[1]);
    std::string out = readAll(fds[0]);
    vrnPlatform_close(fds[0]);
    vrnExitStatus st{};
    EXPECT_EQ(0, vrnPlatform_wait(pid, &st));
    if (pidOut) *pidOut = pid;
    if (status) *status = st;
    return out;
}

}  // namespace

TEST(PosixSpawn, ChildOutputReachesThePipeAndEndsWithTheChild) {
    vrntest::TempDir dir;
    vrntest::writeFile(dir.file("in"), "line one\r\nline two");
    EXPECT_EQ("line one\r\nline two", runReader({"-list", dir.file("in"), "-server_mode"}));
    EXPECT_TRUE(noChildLeft());
}

TEST(PosixSpawn, ArgumentsArriveAsSeparateUnchangedElements) {
    vrntest::TempDir dir;
    std::string record = dir.file("args");
    setenv("TESTREADER_ARGS_FILE", record.c_str(), 1);
    setenv("TESTREADER_SILENT", "1", 1);
    runReader({"a b", "\"q\"", "'s'", "<in", ">out", "", "2>&1", "$HOME *"});
    unsetenv("TESTREADER_ARGS_FILE");
    unsetenv("TESTREADER_SILENT");
    std::vector<std::string> expected = {VRN_TEST_READER, "a b", "\"q\"", "'s'", "<in",
                                         ">out", "", "2>&1", "$HOME *"};
    EXPECT_EQ(expected, splitNul(vrntest::readFile(record)));
}

TEST(PosixSpawn, MissingOrNonExecutableProgramIsAFailedStartWithNothingLeftBehind) {
    vrntest::TempDir dir;
    vrntest::writeFile(dir.file("plain"), "#!/bin/sh\necho hi\n");
    chmod(dir.file("plain").c_str(), 0644);
    const int before = vrntest::openDescriptorCount();
    for (const std::string& path : {dir.file("missing"), dir.file("plain"), dir.path()}) {
        std::string p = path;
        char* argv[] = {p.data(), nullptr};
        vrnSpawnRequest req{};
        req.path = p.c_str();
        req.argv = argv;
        req.stdinFd = req.stdoutFd = req.stderrFd = -1;
        int pid = -7;
        errno = 0;
        EXPECT_EQ(-1, vrnPlatform_spawn(&req, &pid)) << path;
        EXPECT_NE(0, errno);
        EXPECT_EQ(-7, pid);
    }
    EXPECT_EQ(before, vrntest::openDescriptorCount());
    EXPECT_TRUE(noChildLeft());
}

namespace {

// A descriptor of the host opened without close-on-exec, at a high number.
int hostDescriptorWithoutCloseOnExec(int atLeast) {
    int plain = open("/dev/null", O_RDONLY);  // no O_CLOEXEC: the fault's case
    int high = fcntl(plain, F_DUPFD, atLeast);
    close(plain);
    return high;
}

// Starts the test reader with the given descriptors inherited and returns
// the descriptor numbers the child found open, one a line.
std::string descriptorsSeenByChild(const std::vector<int>& inherit) {
    vrntest::TempDir dir;
    std::string record = dir.file("fds");
    setenv("TESTREADER_FDS_FILE", record.c_str(), 1);
    std::string path = VRN_TEST_READER;
    char* argv[] = {path.data(), nullptr};
    vrnSpawnRequest req{};
    req.path = path.c_str();
    req.argv = argv;
    req.stdinFd = req.stdoutFd = req.stderrFd = -1;
    req.hidden = 1;
    req.inheritFds = inherit.empty() ? nullptr : inherit.data();
    req.inheritCount = static_cast<int>(inherit.size());
    int pid = 0;
    EXPECT_EQ(0, vrnPlatform_spawn(&req, &pid));
    EXPECT_EQ(0, vrnPlatform_wait(pid, nullptr));
    unsetenv("TESTREADER_FDS_FILE");
    return "\n" + vrntest::readFile(record);
}

bool listed(const std::string& seen, int fd) {
    return seen.find("\n" + std::to_string(fd) + "\n") != std::string::npos;
}

}  // namespace

TEST(PosixSpawn, ChildInheritsOnlyItsStandardStreamsAndWhatItIsGiven) {
    int extra[2];
    ASSERT_EQ(0, vrnPlatform_pipe(extra));
    int given[2];
    ASSERT_EQ(0, vrnPlatform_pipe(given));
    const int host = hostDescriptorWithoutCloseOnExec(40);
    ASSERT_GE(host, 40);
    const int hostGiven = hostDescriptorWithoutCloseOnExec(host + 1);
    ASSERT_GT(hostGiven, host);

    // A plain start: the child holds its standard streams and nothing else,
    // not even the host's descriptor that is not close-on-exec.
    std::string seen = descriptorsSeenByChild({});
    EXPECT_TRUE(listed(seen, 0) && listed(seen, 1) && listed(seen, 2)) << seen;
    EXPECT_FALSE(listed(seen, host)) << seen;
    EXPECT_EQ(3u, static_cast<size_t>(std::count(seen.begin(), seen.end(), '\n')) - 1) << seen;

    // A start that passes descriptors: those are there under their numbers,
    // the host's other descriptors are not.
    seen = descriptorsSeenByChild({given[1], hostGiven});
    EXPECT_TRUE(listed(seen, 0) && listed(seen, 1) && listed(seen, 2)) << seen;
    EXPECT_TRUE(listed(seen, given[1]) && listed(seen, hostGiven)) << seen;
    EXPECT_FALSE(listed(seen, extra[0]) || listed(seen, extra[1]) || listed(seen, given[0]) ||
                 listed(seen, host))
        << seen;
    EXPECT_EQ(5u, static_cast<size_t>(std::count(seen.begin(), seen.end(), '\n')) - 1) << seen;

    // The inherited descriptor stays close-on-exec in the parent, and the
    // host's own descriptors stay open and as they were.
    EXPECT_NE(0, fcntl(given[1], F_GETFD) & FD_CLOEXEC);
    EXPECT_EQ(0, fcntl(host, F_GETFD));
    EXPECT_EQ(0, fcntl(hostGiven, F_GETFD));
    for (int fd : {extra[0], extra[1], given[0], given[1], host, hostGiven}) vrnPlatform_close(fd);
}

TEST(PosixSpawn, ChildClosesTheHostsDescriptorsWhereTheKernelLacksCloseRange) {
    // The child of this test refuses close_range as an older kernel would, so
    // the start closes the host's descriptors by walking the open ones.
    auto r = vrntest::runInChild([] {
        if (!vrntest::refuseSystemCalls({{__NR_close_range, ENOSYS}})) return 10;
        if (syscall(__NR_close_range, 1000U, 1001U, 0U) == 0 || errno != ENOSYS) return 11;
        const int host = hostDescriptorWithoutCloseOnExec(40);
        const int hostGiven = hostDescriptorWithoutCloseOnExec(host + 1);
        const int higher = hostDescriptorWithoutCloseOnExec(hostGiven + 1);
        std::string seen = descriptorsSeenByChild({hostGiven});
        std::printf("%s", seen.c_str());
        if (!listed(seen, 0) || !listed(seen, 1) || !listed(seen, 2) || !listed(seen, hostGiven))
            return 1;
        if (listed(seen, host) || listed(seen, higher)) return 2;
        return std::count(seen.begin(), seen.end(), '\n') == 5 ? 0 : 3;
    });
    if (r.exitStatus == 10) GTEST_SKIP() << "this machine does not let a process install a seccomp filter";
    EXPECT_EQ(0, r.exitStatus) << r.out << r.err;
}

TEST(PosixSpawn, StartRunsInTheHostsMemoryInsteadOfCopyingIt) {
    // Here a clone without CLONE_VM, the copy that fork makes, is refused.
    auto r = vrntest::runInChild([] {
        if (!vrntest::refuseSystemCalls({{__NR_clone3, ENOSYS}, {__NR_clone, EPERM, CLONE_VM, false}}))
            return 10;
        vrntest::TempDir dir;
        vrntest::writeFile(dir.file("in"), "started\n");
        return runReader({"-list", dir.file("in")}) == "started\n" ? 0 : 1;
    });
    if (r.exitStatus == 10) GTEST_SKIP() << "this machine does not let a process install a seccomp filter";
    EXPECT_EQ(0, r.exitStatus) << r.out << r.err;
}

TEST(PosixSpawn, HiddenChildWritesToNullUnlessAStreamIsGiven) {
    vrntest::TempDir dir;
    vrntest::writeFile(dir.file("in"), "visible\n");
    std::string file = dir.file("in");
    for (int hidden : {0, 1}) {
        auto r = vrntest::runInChild([&] {
            std::string path = VRN_TEST_READER;
            std::string list = "-list";
            char* argv[] = {path.data(), list.data(), file.data(), nullptr};
            vrnSpawnRequest req{};
            req.path = path.c_str();
            req.argv = argv;
            req.stdinFd = req.stdoutFd = req.stderrFd = -1;
            req.hidden = hidden;
            int pid;
            if (vrnPlatform_spawn(&req, &pid) != 0) return 1;
            return vrnPlatform_wait(pid, nullptr) == 0 ? 0 : 2;
        });
        EXPECT_EQ(0, r.exitStatus);
        EXPECT_EQ(hidden ? "" : "visible\n", r.out);
    }
}

TEST(PosixSpawn, WaitReportsExitStatusAndSignal) {
    vrnExitStatus st{};
    setenv("TESTREADER_EXIT", "7", 1);
    runReader({}, nullptr, &st);
    EXPECT_EQ(1, st.exited);
    EXPECT_EQ(7, st.code);
    EXPECT_EQ(0, st.signal);
    unsetenv("TESTREADER_EXIT");
    setenv("TESTREADER_SIGNAL", "9", 1);
    runReader({}, nullptr, &st);
    unsetenv("TESTREADER_SIGNAL");
    EXPECT_EQ(0, st.exited);
    EXPECT_EQ(SIGKILL, st.signal);
}

namespace {
void onAlarm(int) {}
}  // namespace

TEST(PosixSpawn, ChildStartsWithNoSignalBlockedOrIgnoredWhateverTheHostSet) {
    auto r = vrntest::runInChild([] {
        sigset_t block;
        sigemptyset(&block);
        sigaddset(&block, SIGTERM);
        sigaddset(&block, SIGUSR1);
        sigprocmask(SIG_BLOCK, &block, nullptr);
        signal(SIGINT, SIG_IGN);
        signal(SIGHUP, SIG_IGN);
        struct sigaction sa {};
        sa.sa_handler = onAlarm;
        sigaction(SIGUSR2, &sa, nullptr);
        vrntest::TempDir dir;
        setenv("TESTREADER_SIGNALS_FILE", dir.file("signals").c_str(), 1);
        runReader({});
        // The standard signals only: glibc keeps two real-time signals of
        // its own ignored in every child it spawns.
        unsigned long long blocked = ~0ULL, ignored = ~0ULL;
        std::sscanf(vrntest::readFile(dir.file("signals")).c_str(), "SigBlk: %llx SigIgn: %llx", &blocked,
                    &ignored);
        std::printf("%llx %llx", blocked & 0x7fffffff, ignored & 0x7fffffff);
        return 0;
    });
    EXPECT_EQ("0 0", r.out);
}

TEST(PosixDescriptors, ReadsAreRetriedWhenASignalInterrupts) {
    struct sigaction sa {};
    sa.sa_handler = onAlarm;  // no SA_RESTART: a blocked read fails with EINTR
    struct sigaction old {};
    sigaction(SIGALRM, &sa, &old);
    itimerval t{};
    t.it_interval.tv_usec = 2000;
    t.it_value.tv_usec = 2000;
    setitimer(ITIMER_REAL, &t, nullptr);
    vrntest::TempDir dir;
    vrntest::writeFile(dir.file("in"), "slow output\n");
    setenv("TESTREADER_CHUNK", "2", 1);
    setenv("TESTREADER_DELAY_US", "20000", 1);
    std::string out = runReader({"-list", dir.file("in")});
    itimerval off{};
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &old, nullptr);
    EXPECT_EQ("slow output\n", out);
}

TEST(PosixDescriptors, WritingToAPipeWithoutReaderFailsWithoutSignal) {
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &dfl, nullptr);
    int fds[2];
    ASSERT_EQ(0, vrnPlatform_pipe(fds));
    vrnPlatform_close(fds[0]);
    errno = 0;
    EXPECT_EQ(-1, vrnPlatform_write(fds[1], "x", 1));
    EXPECT_EQ(EPIPE, errno);
    sigset_t pending;
    sigpending(&pending);
    EXPECT_EQ(0, sigismember(&pending, SIGPIPE));
    vrnPlatform_close(fds[1]);
}

TEST(PosixDescriptors, PipesAndFilesAreCloseOnExec) {
    int fds[2];
    ASSERT_EQ(0, vrnPlatform_pipe(fds));
    EXPECT_NE(0, fcntl(fds[0], F_GETFD) & FD_CLOEXEC);
    EXPECT_NE(0, fcntl(fds[1], F_GETFD) & FD_CLOEXEC);
    vrntest::TempDir dir;
    int f = vrnPlatform_openFile(dir.file("x").c_str(), 1);
    ASSERT_GE(f, 0);
    EXPECT_NE(0, fcntl(f, F_GETFD) & FD_CLOEXEC);
    EXPECT_EQ(-1, vrnPlatform_openFile(dir.file("none").c_str(), 0));
    for (int fd : {fds[0], fds[1], f}) vrnPlatform_close(fd);
}

TEST(PosixSockets, InetServerOnPortZeroTalksToAClientAndSurvivesAGonePeer) {
    int server = vrnPlatform_socket(VRN_SOCKET_INET, VRN_SOCKET_STREAM);
    ASSERT_GE(server, 0);
    EXPECT_NE(0, fcntl(server, F_GETFD) & FD_CLOEXEC);
    vrnInetAddress a{};
    a.family = VRN_SOCKET_INET;
    ASSERT_EQ(0, vrnPlatform_resolveHost("127.0.0.1", &a.address));
    ASSERT_EQ(0, vrnPlatform_bindInet(server, &a));
    ASSERT_EQ(0, vrnPlatform_getInetName(server, &a));
    EXPECT_NE(0, vrnPlatform_ntohs(a.port));
    ASSERT_EQ(0, vrnPlatform_listen(server, 5));
    int client = vrnPlatform_socket(VRN_SOCKET_INET, VRN_SOCKET_STREAM);
    ASSERT_EQ(0, vrnPlatform_connectInet(client, &a));
    int accepted = vrnPlatform_accept(server);
    ASSERT_GE(accepted, 0);
    EXPECT_NE(0, fcntl(accepted, F_GETFD) & FD_CLOEXEC);
    EXPECT_EQ(5, vrnPlatform_send(client, "hello", 5, 0));
    char buf[8] = {};
    EXPECT_EQ(5, vrnPlatform_recv(accepted, buf, sizeof buf, 0));
    EXPECT_STREQ("hello", buf);
    vrnPlatform_close(accepted);
    // The peer has gone: sending fails (at once or on a later send) and the
    // process lives on.
    long r = 0;
    for (int i = 0; i < 100 && r >= 0; ++i) r = vrnPlatform_send(client, "x", 1, 0);
    EXPECT_EQ(-1, r);
    vrnPlatform_close(client);
    vrnPlatform_close(server);
}

TEST(PosixSockets, UnixDomainAndUnknownFamilies) {
    vrntest::TempDir dir{vrntest::ShortPath{}};
    vrnPathAddress p{};
    p.family = VRN_SOCKET_UNIX;
    std::string path = dir.file("s");
    std::snprintf(p.path, sizeof p.path, "%s", path.c_str());
    int server = vrnPlatform_socket(VRN_SOCKET_UNIX, VRN_SOCKET_STREAM);
    ASSERT_GE(server, 0);
    ASSERT_EQ(0, vrnPlatform_bindPath(server, &p));
    ASSERT_EQ(0, vrnPlatform_listen(server, 1));
    int client = vrnPlatform_socket(VRN_SOCKET_UNIX, VRN_SOCKET_STREAM);
    ASSERT_EQ(0, vrnPlatform_connectPath(client, &p));
    int accepted = vrnPlatform_accept(server);
    EXPECT_EQ(2, vrnPlatform_send(accepted, "ok", 2, 0));
    char buf[4] = {};
    EXPECT_EQ(2, vrnPlatform_recv(client, buf, sizeof buf, 0));
    EXPECT_STREQ("ok", buf);
    for (int fd : {accepted, client, server}) vrnPlatform_close(fd);

    errno = 0;
    EXPECT_EQ(-1, vrnPlatform_socket(10, VRN_SOCKET_STREAM));
    EXPECT_EQ(EAFNOSUPPORT, errno);
    unsigned int addr;
    EXPECT_EQ(-1, vrnPlatform_resolveHost("no-such-host.invalid", &addr));
}

TEST(PosixSpawn, FailedStartIsSeenByAHostWhoseStandardStreamsAreClosed) {
    // With 0, 1 and 2 closed the start's own report pipe gets those numbers;
    // the child's standard streams must not overwrite it.
    auto r = vrntest::runInChild([] {
        close(0);
        close(1);
        close(2);
        std::string path = "/nonexistent/program";
        char* argv[] = {path.data(), nullptr};
        vrnSpawnRequest req{};
        req.path = path.c_str();
        req.argv = argv;
        req.stdinFd = req.stdoutFd = req.stderrFd = -1;
        req.hidden = 1;
        int pid = 0;
        if (vrnPlatform_spawn(&req, &pid) == 0) {
            vrnPlatform_wait(pid, nullptr);
            return 1;
        }
        return errno == ENOENT && noChildLeft() ? 0 : 2;
    });
    EXPECT_EQ(0, r.exitStatus);
}

TEST(PosixSpawn, ReapingNeverBlocksAndTakesAnEndedChild) {
    std::string path = VRN_TEST_READER;
    char* argv[] = {path.data(), nullptr};
    int stdinPipe[2];
    ASSERT_EQ(0, vrnPlatform_pipe(stdinPipe));
    vrnSpawnRequest req{};
    req.path = path.c_str();
    req.argv = argv;
    req.stdinFd = stdinPipe[0];
    req.stdoutFd = req.stderrFd = -1;
    req.hidden = 1;
    int pid = 0;
    ASSERT_EQ(0, vrnPlatform_spawn(&req, &pid));
    vrnPlatform_close(stdinPipe[0]);
    vrnPlatform_close(stdinPipe[1]);
    // Wait for the end without reaping, then reap.
    siginfo_t info{};
    ASSERT_EQ(0, waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT));
    EXPECT_EQ(1, vrnPlatform_reap(pid));
    EXPECT_TRUE(noChildLeft());
    EXPECT_EQ(-1, vrnPlatform_reap(pid));  // nothing left to reap
}

TEST(PosixDescriptors, OpenedFilesAreCloseOnExecAndPositionedWritesLeaveTheOffset) {
    vrntest::TempDir dir;
    std::string path = dir.file("f");
    int fd = vrnPlatform_open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
    EXPECT_EQ(-1, vrnPlatform_open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600));
    EXPECT_EQ(EEXIST, errno);
    ASSERT_EQ(6, vrnPlatform_write(fd, "abcdef", 6));
    EXPECT_EQ(2, vrnPlatform_pwrite(fd, "XY", 2, 1));
    EXPECT_EQ(3, vrnPlatform_pwrite(fd, "123", 3, 8));  // past the end: a hole before it
    EXPECT_EQ(6, lseek(fd, 0, SEEK_CUR));
    vrnPlatform_close(fd);
    EXPECT_EQ(std::string("aXYdef\0\0" "123", 11), vrntest::readFile(path));
}
