#include "test_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace vrntest {

namespace {

std::string makeTempDir(const std::string& base) {
    std::string pattern = base + "/vrntest.XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        throw std::runtime_error("mkdtemp failed: " + std::string(std::strerror(errno)));
    return buf.data();
}

}  // namespace

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    path_ = makeTempDir(base && *base ? base : "/tmp");
}

TempDir::TempDir(ShortPath) : path_(makeTempDir("/tmp")) {}

TempDir::TempDir(InMemory) {
    std::string pattern = "/dev/shm/vrntest.XXXXXX";
    if (mkdtemp(pattern.data())) {
        path_ = pattern;
        return;
    }
    const char* base = std::getenv("TMPDIR");
    path_ = makeTempDir(base && *base ? base : "/tmp");
}

TempDir::~TempDir() {
    std::error_code ec;
    // Make everything writable again first, so that tests which remove
    // permissions do not leave folders behind.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    }
    std::filesystem::remove_all(path_, ec);
}

std::string TempDir::file(const std::string& name) const { return path_ + "/" + name; }

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

ChildResult runInChild(const std::function<int()>& body, const ChildOptions& options) {
    TempDir capture;
    const std::string outPath = capture.file("stdout");
    const std::string errPath = capture.file("stderr");
    std::fflush(nullptr);

    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        int outFd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int errFd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (outFd < 0 || errFd < 0) _exit(126);
        dup2(outFd, STDOUT_FILENO);
        dup2(errFd, STDERR_FILENO);
        close(outFd);
        close(errFd);
        for (const auto& [name, value] : options.env) {
            if (value) setenv(name.c_str(), value->c_str(), 1);
            else unsetenv(name.c_str());
        }
        if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(125);
        int rc = 0;
        try {
            rc = body();
        } catch (...) {
            std::fputs("runInChild: uncaught exception\n", stderr);
            rc = 124;
        }
        std::exit(rc);
    }

    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ChildResult result;
    if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.termSignal = WTERMSIG(status);
    result.out = readFile(outPath);
    result.err = readFile(errPath);
    return result;
}

std::string testDataDir() {
    std::error_code ec;
    const char* env = std::getenv("VRN_TESTDATA_DIR");
    const std::string dir = env && *env ? env : VRN_TESTDATA_DIR;
    if (std::filesystem::is_directory(dir, ec)) return dir;
    static bool told = false;
    if (!told) {
        told = true;
        std::fprintf(stderr,
                     "note: the sample-data folder %s is not there (set VRN_TESTDATA_DIR or the "
                     "CMake option VRN_TESTDATA_DIR); tests of sample files are skipped\n",
                     dir.c_str());
    }
    return "";
}

std::vector<std::string> listDir(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

int openDescriptorCount() {
    int count = 0;
    DIR* d = opendir("/proc/self/fd");
    if (!d) return -1;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] != '.') ++count;
    }
    closedir(d);
    return count - 1;  // the descriptor of the listing itself
}

std::vector<std::string> splitNul(const std::string& s) {
    std::vector<std::string> out;
    size_t at = 0;
    while (at < s.size()) {
        size_t end = s.find('\0', at);
        out.push_back(s.substr(at, end - at));
        at = end + 1;
    }
    return out;
}

bool noChildLeft() {
    int status;
    return waitpid(-1, &status, WNOHANG) == -1 && errno == ECHILD;
}

bool refuseSystemCalls(const std::vector<Refusal>& refusals) {
    std::vector<sock_filter> filter;
    for (const Refusal& r : refusals) {
        const auto call = static_cast<unsigned>(r.call);
        const sock_filter refuse = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | static_cast<unsigned>(r.error));
        filter.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)));
        if (!r.flags) {
            filter.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, call, 0, 1));
            filter.push_back(refuse);
            continue;
        }
        // The low word of the first argument (this is a little-endian machine).
        filter.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, call, 0, 3));
        filter.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])));
        const unsigned char toRefusal = r.whenSet ? 0 : 1;
        const unsigned char pastIt = r.whenSet ? 1 : 0;
        filter.push_back(BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, r.flags, toRefusal, pastIt));
        filter.push_back(refuse);
    }
    filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    sock_fprog program{static_cast<unsigned short>(filter.size()), filter.data()};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

}  // namespace vrntest
