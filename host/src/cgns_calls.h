// The CGNS library calls that the base query makes, gathered in one table
// so that tests can put their own in place and reach paths that no real
// file produces (a base that cannot be read, a count that fails).
// Internal to the library: nothing here is exported.
#pragma once

namespace ylt {
namespace VRNUtilities {
namespace detail {

struct CgnsCalls {
    int (*open)(const char* file, int mode, int* fileNumber);
    int (*nbases)(int fileNumber, int* baseCount);
    int (*baseRead)(int fileNumber, int base, char* name, int* cellDim, int* physDim);
    int (*close)(int fileNumber);
    const char* (*getError)();
    // After `open` failed but gave out `fileNumber`: closes the file that
    // the library's storage layer still holds open for it, without freeing
    // what the library half read (cg_close would, and can crash on it).
    void (*releaseFailedOpen)(int fileNumber);
};

// The calls into the CGNS library itself.
const CgnsCalls& libraryCgnsCalls();

// The table the base query uses: the library's unless a test replaced it.
const CgnsCalls& cgnsCalls();

// Puts `calls` in place (nullptr puts the library's back) and returns the
// table that was in use. The table is not copied: it must outlive its use.
const CgnsCalls* setCgnsCalls(const CgnsCalls* calls);

}  // namespace detail
}  // namespace VRNUtilities
}  // namespace ylt
