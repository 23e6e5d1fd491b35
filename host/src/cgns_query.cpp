// getBasesFromCGNSFile: the bases of a CGNS file through the CGNS library.
#include "VRNUtilities.h"

#include <cgnslib.h>

#include "ylt/EncodingUtilities.h"

namespace ylt {
namespace VRNUtilities {

bool getBasesFromCGNSFile(const std::string& file, int& count, std::vector<int>& baseIndices,
                          std::vector<std::basic_string<unsigned short> >& baseNames) {
    std::string message;
    baseIndices.clear();
    baseNames.clear();
    if (file.empty()) return true;

    int fn = 0;
    int nbases = 0;
    if (cg_open(file.c_str(), CG_MODE_READ, &fn) != 0) {
        message = "Can't open " + file + " for reading.\nReason: " + cg_get_error();
    } else if (cg_nbases(fn, &nbases) != 0 || nbases < 1) {
        message = "CGNS file doesn't contain a Base Index.";
        cg_close(fn);
    } else {
        for (int b = 1; b <= nbases; ++b) {
            char name[33] = {0};
            int cellDim = 0;
            int physDim = 0;
            if (cg_base_read(fn, b, name, &cellDim, &physDim) == 0) {
                baseIndices.push_back(b);
                baseNames.push_back(ylt::EncodingUtilities::MakeWStringU(name));
            }
        }
        count = static_cast<int>(baseNames.size());
        cg_close(fn);
    }
    if (message.empty()) return true;
    throw ylt::vrnutilities::error("VRNUtilities", "getBasesFromCGNSFile", message,
                                   static_cast<ylt::errorType>(4));
}

}  // namespace VRNUtilities
}  // namespace ylt
