#include "cgns_writer.h"

#include <cgnslib.h>

#include <stdexcept>

namespace vrntest {

void writeCgnsFile(const std::string& file, CgnsBackEnd backEnd, const std::vector<std::string>& baseNames) {
    auto fail = [&](const char* step) {
        throw std::runtime_error(std::string(step) + " " + file + ": " + cg_get_error());
    };
    if (cg_set_file_type(backEnd == CgnsBackEnd::Adf ? CG_FILE_ADF : CG_FILE_HDF5) != 0) fail("cg_set_file_type");
    int fn = 0;
    if (cg_open(file.c_str(), CG_MODE_WRITE, &fn) != 0) fail("cg_open");
    for (const std::string& name : baseNames) {
        int base = 0;
        if (cg_base_write(fn, name.c_str(), 3, 3, &base) != 0) {
            cg_close(fn);
            fail("cg_base_write");
        }
    }
    if (cg_close(fn) != 0) fail("cg_close");
}

std::vector<std::string> numberedNames(const std::string& prefix, int count) {
    std::vector<std::string> names;
    for (int i = 1; i <= count; ++i) names.push_back(prefix + std::to_string(i));
    return names;
}

const char* backEndName(CgnsBackEnd backEnd) { return backEnd == CgnsBackEnd::Adf ? "ADF" : "HDF5"; }

}  // namespace vrntest
