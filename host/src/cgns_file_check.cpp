#include "cgns_file_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace ylt {
namespace VRNUtilities {
namespace detail {

namespace {

// The ADF file header: a fixed 186-byte block of text fields. Every CGNS
// file is longer than this, whichever back end wrote it.
constexpr std::size_t kAdfHeaderSize = 186;
constexpr std::size_t kAdfWhatOffset = 4;  // after the four bytes of "@(#)" with their top bit set
constexpr char kAdfWhat[] = "ADF Database Version";
// "AdF4" precedes four disk pointers (root node, end of file, free chunks,
// extra), each 8 hex digits of block and 4 of offset; "AdF5" follows them.
constexpr std::size_t kAdfPointersTag = 0x82;
constexpr std::size_t kAdfEndOfFile = 0x86 + 12;
constexpr std::size_t kAdfPointersEndTag = 0xB6;
constexpr std::int64_t kAdfBlockSize = 4096;

// Closes a descriptor however the check is left.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

bool parseHex(const char* text, std::size_t length, std::int64_t* value) {
    std::int64_t v = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const char c = text[i];
        int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else return false;
        v = v * 16 + digit;
    }
    *value = v;
    return true;
}

// Reads up to `size` bytes from the start of the file; the count read, or
// -1 on a read error.
ssize_t readStart(int fd, char* buffer, std::size_t size) {
    std::size_t got = 0;
    while (got < size) {
        ssize_t n = ::pread(fd, buffer + got, size - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

// Why the regular file open on `fd` must not be handed to the library, or "".
std::string problemOfOpenFile(int fd, const struct stat& st) {
    const std::int64_t size = static_cast<std::int64_t>(st.st_size);
    char text[160];
    if (size < static_cast<std::int64_t>(kAdfHeaderSize)) {
        std::snprintf(text, sizeof text,
                      "The file is too short to be a CGNS file (%" PRId64 " bytes).", size);
        return text;
    }

    char header[kAdfHeaderSize];
    if (readStart(fd, header, sizeof header) != static_cast<ssize_t>(sizeof header)) return "";
    if (std::memcmp(header + kAdfWhatOffset, kAdfWhat, sizeof kAdfWhat - 1) != 0 ||
        std::memcmp(header + kAdfPointersTag, "AdF4", 4) != 0 ||
        std::memcmp(header + kAdfPointersEndTag, "AdF5", 4) != 0)
        return "";  // not an ADF file: HDF5 checks its own length

    std::int64_t block = 0;
    std::int64_t offset = 0;
    if (!parseHex(header + kAdfEndOfFile, 8, &block) || !parseHex(header + kAdfEndOfFile + 8, 4, &offset))
        return "";  // a damaged header is the ADF layer's to report
    // The pointer addresses the last byte in use.
    const std::int64_t needed = block * kAdfBlockSize + offset + 1;
    if (size < needed) {
        std::snprintf(text, sizeof text,
                      "The ADF file is truncated: it holds %" PRId64 " bytes of %" PRId64 ".",
                      size, needed);
        return text;
    }
    return "";
}

constexpr char kDescriptorFolder[] = "/proc/self/fd/";
constexpr char kNotRegular[] = "The file is not a regular file.";

}  // namespace

CgnsFileForLibrary::CgnsFileForLibrary(const std::string& file) : file_(file), libraryName_(file) {
    // The library takes a C string: it would open the file named by the part
    // before the NUL, a file other than the one asked for.
    if (file.find('\0') != std::string::npos) {
        problem_ = "The file name holds a NUL character.";
        return;
    }
    const bool longName = file.size() > kLongestNameForLibrary;

    // Only regular files go to the library: for a folder, a FIFO or a
    // device it would report "not found". Opening non-blocking keeps a FIFO
    // put in the file's place meanwhile from stopping the caller.
    struct stat st;
    if (::stat(file.c_str(), &st) != 0) {
        // A file that is not there the library reports as "not found"; any
        // other cause (a folder on the way the user may not search, say) it
        // would report as "not found" too, so the system's reason is given.
        if (errno != ENOENT && errno != ENOTDIR) {
            problem_ = std::strerror(errno);
            return;
        }
        // The library reports a name that it cannot reach by that name.
        if (longName) libraryName_ = std::string(kDescriptorFolder) + "-1";
        return;
    }
    if (!S_ISREG(st.st_mode)) {
        problem_ = kNotRegular;
        return;
    }
    do {
        fd_ = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    } while (fd_ < 0 && errno == EINTR);
    // A file the user may not read the library would refuse without a
    // cause ("error opening file for reading").
    if (fd_ < 0) {
        problem_ = std::strerror(errno);
        return;
    }
    if (::fstat(fd_, &st) != 0) return;
    if (!S_ISREG(st.st_mode)) {
        problem_ = kNotRegular;
        return;
    }

    problem_ = problemOfOpenFile(fd_, st);
    if (!problem_.empty() || !longName) return;
    libraryName_ = kDescriptorFolder + std::to_string(fd_);
    // Without /proc the long name cannot be handed over safely.
    if (::access(libraryName_.c_str(), F_OK) != 0) {
        problem_ = "The file name is too long for the CGNS library (" + std::to_string(file.size()) +
                   " characters).";
        libraryName_ = file;
    }
}

CgnsFileForLibrary::~CgnsFileForLibrary() {
    if (fd_ >= 0) ::close(fd_);
}

std::string CgnsFileForLibrary::reason(const char* libraryReason) const {
    std::string text = libraryReason ? libraryReason : "";
    if (libraryName_ == file_) return text;
    std::string named;
    std::size_t from = 0;
    std::size_t at = 0;
    while ((at = text.find(libraryName_, at)) != std::string::npos) {
        const std::size_t end = at + libraryName_.size();
        // "/proc/self/fd/1" must not match the start of "/proc/self/fd/12".
        if (end < text.size() && text[end] >= '0' && text[end] <= '9') {
            at = end;
            continue;
        }
        named.append(text, from, at - from).append(file_);
        from = at = end;
    }
    text = named.append(text, from, std::string::npos);
    return text;
}

std::string cgnsFileProblem(const std::string& file) { return CgnsFileForLibrary(file).problem(); }

}  // namespace detail
}  // namespace VRNUtilities
}  // namespace ylt
