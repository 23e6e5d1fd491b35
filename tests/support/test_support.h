// Helpers shared by the test suites.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vrntest {

// Whether this build runs under AddressSanitizer (g++ or clang).
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

// A folder made fresh under $TMPDIR (or /tmp) and removed with everything in
// it when the object goes.
// Asks TempDir for a folder with a short path: under /tmp whatever TMPDIR
// says, as Unix-domain socket paths must fit in about 100 bytes.
struct ShortPath {};
// Asks TempDir for a folder in memory: under /dev/shm where that can be
// written, else where TempDir() makes it. For tests that open and close a
// file thousands of times: each open and close makes and removes the lock
// files, which on a disk file system (ext4 without a journal in particular)
// costs more kernel time than the test itself.
struct InMemory {};

class TempDir {
public:
    TempDir();
    explicit TempDir(ShortPath);
    explicit TempDir(InMemory);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + name
    std::string file(const std::string& name) const;

private:
    std::string path_;
};

// What a body run in a child process left behind.
struct ChildResult {
    int exitStatus = -1;   // status passed to exit(), or -1 when killed
    int termSignal = 0;    // signal that ended the child, or 0
    std::string out;       // everything written to standard output
    std::string err;       // everything written to standard error
};

// How to set up the child before the body runs.
struct ChildOptions {
    // Variables to set (a value) or remove (std::nullopt), applied in order.
    std::vector<std::pair<std::string, std::optional<std::string>>> env;
    std::string cwd;       // working directory; empty keeps the parent's
};

// Runs body() in a forked child with standard output and standard error
// captured, then ends the child with exit(body()) so that exit handlers run
// exactly as at the end of a real process. Settings that a process reads
// once (environment variables, control files) are therefore seen fresh.
ChildResult runInChild(const std::function<int()>& body, const ChildOptions& options = {});

// Whole-file helpers.
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);

// The folder of sample files written by other programs ($VRN_TESTDATA_DIR,
// else the folder the build was configured with), or "" when it is not
// there; a note on standard error then says so.
std::string testDataDir();

// The names in a folder but those that start with a dot, sorted.
std::vector<std::string> listDir(const std::string& dir);

// Number of open descriptors of this process (entries of /proc/self/fd).
int openDescriptorCount();

// Splits bytes recorded as NUL-terminated fields (an argument list, say).
std::vector<std::string> splitNul(const std::string& s);

// True when this process has no child left, running or unreaped.
bool noChildLeft();

// A system call for a seccomp filter to refuse with the error number; with
// flags, only when the call's first argument has one of those bits set
// (whenSet) or none of them (!whenSet).
struct Refusal {
    long call;
    int error;
    unsigned flags = 0;
    bool whenSet = true;
};

// Installs a seccomp filter that refuses the calls in this process and its
// children for good: for a body run by runInChild. False where the machine
// does not let a process install one; the test then skips, saying so.
bool refuseSystemCalls(const std::vector<Refusal>& refusals);

}  // namespace vrntest
