// Writes CGNS files for the host tests through the CGNS library itself.
#pragma once

#include <string>
#include <vector>

namespace vrntest {

enum class CgnsBackEnd { Adf, Hdf5 };

// Writes `file` with one base per name, in order (base 1 first), in the
// given back end's form. Throws std::runtime_error with the library's
// reason when it cannot.
void writeCgnsFile(const std::string& file, CgnsBackEnd backEnd, const std::vector<std::string>& baseNames);

// Names "<prefix>1" to "<prefix><count>".
std::vector<std::string> numberedNames(const std::string& prefix, int count);

const char* backEndName(CgnsBackEnd backEnd);

}  // namespace vrntest
