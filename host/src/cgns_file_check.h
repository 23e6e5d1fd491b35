// A cheap look at a file before the CGNS library opens it, for the inputs
// on which the library misbehaves instead of failing cleanly.
#pragma once

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
// library would open the file named by the part before the NUL). Files
// that cannot be opened or are not regular files are left to the library,
// which reports them cleanly.
std::string cgnsFileProblem(const std::string& file);

}  // namespace detail
}  // namespace VRNUtilities
}  // namespace ylt
