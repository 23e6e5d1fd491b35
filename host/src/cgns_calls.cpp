#include "cgns_calls.h"

#include <cgns_io.h>
#include <cgnslib.h>

namespace ylt {
namespace VRNUtilities {
namespace detail {

namespace {

// cg_open takes its file name as a plain pointer in some releases and as a
// pointer to const in others; the wrapper fixes the table's signature.
int libraryOpen(const char* file, int mode, int* fileNumber) { return cg_open(file, mode, fileNumber); }
int libraryNbases(int fileNumber, int* baseCount) { return cg_nbases(fileNumber, baseCount); }
int libraryBaseRead(int fileNumber, int base, char* name, int* cellDim, int* physDim) {
    return cg_base_read(fileNumber, base, name, cellDim, physDim);
}
int libraryClose(int fileNumber) { return cg_close(fileNumber); }
const char* libraryGetError() { return cg_get_error(); }
void libraryReleaseFailedOpen(int fileNumber) {
    int cgio = 0;
    if (cg_get_cgio(fileNumber, &cgio) == 0 && cgio > 0) cgio_close_file(cgio);
}

const CgnsCalls kLibraryCalls = {libraryOpen,  libraryNbases,   libraryBaseRead,
                                 libraryClose, libraryGetError, libraryReleaseFailedOpen};

const CgnsCalls* active = &kLibraryCalls;

}  // namespace

const CgnsCalls& libraryCgnsCalls() { return kLibraryCalls; }

const CgnsCalls& cgnsCalls() { return *active; }

const CgnsCalls* setCgnsCalls(const CgnsCalls* calls) {
    const CgnsCalls* previous = active;
    active = calls ? calls : &kLibraryCalls;
    return previous;
}

}  // namespace detail
}  // namespace VRNUtilities
}  // namespace ylt
