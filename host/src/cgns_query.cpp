// getBasesFromCGNSFile: the bases of a CGNS file through the CGNS library.
#include <cgnslib.h>

#include "VRNUtilities.h"
#include "call_lock.h"
#include "cgns_calls.h"
#include "cgns_file_check.h"
#include "ylt/EncodingUtilities.h"

namespace ylt {
namespace VRNUtilities {

namespace {

// Closes an open CGNS file however the listing is left, so that a failure
// while the names are stored (out of memory) leaves no file open either.
struct OpenCgnsFile {
    const detail::CgnsCalls& cgns;
    int fileNumber;
    ~OpenCgnsFile() { cgns.close(fileNumber); }
};

std::string openFailure(const std::string& file, const std::string& reason) {
    return "Can't open " + file + " for reading.\nReason: " + reason;
}

}  // namespace

bool getBasesFromCGNSFile(const std::string& file, int& count, std::vector<int>& baseIndices,
                          std::vector<std::basic_string<unsigned short> >& baseNames) {
    const std::lock_guard<std::mutex> oneCallAtATime(detail::exportedCallLock());
    std::string message;
    baseIndices.clear();
    baseNames.clear();
    if (file.empty()) return true;

    const detail::CgnsCalls& cgns = detail::cgnsCalls();
    int fileNumber = 0;
    int baseCount = 0;
    const detail::CgnsFileForLibrary checked(file);
    if (!checked.problem().empty()) {
        message = openFailure(file, checked.problem());
    } else if (cgns.open(checked.libraryName(), CG_MODE_READ, &fileNumber) != 0) {
        message = openFailure(file, checked.reason(cgns.getError()));
        // The library can fail after it has given the file a number and
        // opened it (a damaged file, a file of a newer CGNS); it then keeps
        // the file open, and repeated failures use up descriptors and the
        // storage layer's table of open files. Closing the number with
        // cg_close would free the half-read contents, which can crash on a
        // damaged file; only the storage layer's file is closed.
        if (fileNumber != 0) cgns.releaseFailedOpen(fileNumber);
    } else {
        OpenCgnsFile open{cgns, fileNumber};
        if (cgns.nbases(fileNumber, &baseCount) != 0 || baseCount < 1) {
            message = "CGNS file doesn't contain a Base Index.";
        } else {
            for (int base = 1; base <= baseCount; ++base) {
                char name[33] = {0};  // 32 characters and the terminator
                int cellDim = 0;
                int physDim = 0;
                if (cgns.baseRead(fileNumber, base, name, &cellDim, &physDim) == 0) {
                    name[32] = '\0';
                    baseIndices.push_back(base);
                    baseNames.push_back(ylt::EncodingUtilities::MakeWStringU(name));
                }
            }
            count = static_cast<int>(baseNames.size());
        }
    }
    if (message.empty()) return true;
    throw ylt::vrnutilities::error("VRNUtilities", "getBasesFromCGNSFile", message,
                                   static_cast<ylt::errorType>(4));
}

}  // namespace VRNUtilities
}  // namespace ylt
