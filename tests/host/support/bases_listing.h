// What one call of the base query gave: the names (ASCII-narrowed) or the
// message of the exception it threw. Header-only, so that it serves both the
// tests through the shared library and those linked with the host sources.
#pragma once

#include <string>
#include <vector>

#include "VRNUtilities.h"

namespace vrntest {

struct Listing {
    bool threw = false;
    std::string message;
    std::vector<std::string> names;
};

inline Listing listBases(const std::string& file) {
    Listing l;
    int count = 0;
    std::vector<int> indices;
    std::vector<std::basic_string<unsigned short> > names;
    try {
        ylt::VRNUtilities::getBasesFromCGNSFile(file, count, indices, names);
        for (const auto& n : names) l.names.push_back(std::string(n.begin(), n.end()));
    } catch (const ylt::vrnutilities::error& e) {
        l.threw = true;
        l.message = e.getMessage();
    }
    return l;
}

}  // namespace vrntest
