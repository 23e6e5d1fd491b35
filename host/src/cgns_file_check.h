// A cheap look at a file before the CGNS library opens it, for the inputs
// on which the library misbehaves instead of failing cleanly.
#pragma once

#include <cstddef>
#include <string>

namespace ylt {
namespace VRNUtilities {
namespace detail {

// Why `file` must not be handed to the CGNS library, or "" when it may be.
//
// The library's ADF layer keeps its state across files: a failed open of a
// file shorter than the ADF file header leaves that state broken, so that
// the next ADF file opened in the process ends it with an assertion; and a
// truncated ADF file is read past its end from a buffer that still holds
// the previous file's data, so that it can list another file's bases. A
// file shorter than any CGNS file, and an ADF file shorter than its header
// says, are therefore refused here, as is a name with a NUL in it (the
// library would open the file named by the part before the NUL) and one
// that is not a regular file (a folder, FIFO or device, which the library
// would call "not found"). A file that is there but cannot be opened for
// reading (no permission for it or for a folder on its way, say) is refused
// with the system's reason, which the library would not give; a file that is
// not there is left to the library, which reports it as "not found".
std::string cgnsFileProblem(const std::string& file);

// A file on its way to the CGNS library: the look above, and the name that
// the library is given.
//
// The library writes its error texts into a fixed buffer of 200 bytes with
// no bound, and some of them hold the file name ("The file <name> was
// written with a more recent version...", "Error opening file: '<name>'
// not found!"); a long name overflows it and ends the process. A name
// longer than kLongestNameForLibrary is therefore handed over as a short
// alias: "/proc/self/fd/<n>" for a descriptor opened here on the file, or
// "/proc/self/fd/-1" (which never exists) for a name that does not. The
// alias is put back to the file's own name in the library's reason, so a
// caller sees the same text whatever the name's length.
class CgnsFileForLibrary {
public:
    // The longest name passed to the library as it stands: the longest text
    // holding it then still fits the library's buffer.
    static constexpr std::size_t kLongestNameForLibrary = 60;

    explicit CgnsFileForLibrary(const std::string& file);
    ~CgnsFileForLibrary();
    CgnsFileForLibrary(const CgnsFileForLibrary&) = delete;
    CgnsFileForLibrary& operator=(const CgnsFileForLibrary&) = delete;

    // Why the file must not be handed to the library, or "" when it may be.
    const std::string& problem() const { return problem_; }
    // The name to give the library.
    const char* libraryName() const { return libraryName_.c_str(); }
    // The library's reason for a failure, naming the file as the caller did.
    std::string reason(const char* libraryReason) const;

private:
    std::string file_;
    std::string libraryName_;
    std::string problem_;
    int fd_ = -1;
};

}  // namespace detail
}  // namespace VRNUtilities
}  // namespace ylt
