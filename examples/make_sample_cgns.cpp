// Writes a few small CGNS files for the example host into the folder given
// as the only argument (made when missing), in both of the CGNS library's
// file forms, and prints their names. A file already there under one of
// those names is never replaced: then nothing is written and the exit
// status is 1.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <cgnslib.h>

namespace {

struct Sample {
    const char* file;
    int type;  // CG_FILE_ADF or CG_FILE_HDF5
    std::vector<std::string> bases;
};

bool write(const std::string& path, const Sample& s) {
    int fn = 0;
    if (cg_set_file_type(s.type) != 0 || cg_open(path.c_str(), CG_MODE_WRITE, &fn) != 0) {
        std::fprintf(stderr, "make_sample_cgns: %s: %s\n", path.c_str(), cg_get_error());
        return false;
    }
    bool ok = true;
    for (const std::string& name : s.bases) {
        int base = 0;
        if (cg_base_write(fn, name.c_str(), 3, 3, &base) != 0) {
            std::fprintf(stderr, "make_sample_cgns: %s: base %s: %s\n", path.c_str(), name.c_str(),
                         cg_get_error());
            ok = false;
            break;
        }
    }
    if (cg_close(fn) != 0) ok = false;
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_sample_cgns folder\n");
        return 2;
    }
    const std::string dir = argv[1];
    if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "make_sample_cgns: %s: %s\n", dir.c_str(), std::strerror(errno));
        return 1;
    }
    const Sample samples[] = {
        {"three_bases_hdf5.cgns", CG_FILE_HDF5, {"Inlet", "Core", "Outlet"}},
        {"one_base_adf.cgns", CG_FILE_ADF, {"Wing"}},
        // "Düse ⌀ 😀": a name beyond ASCII, with a character above U+FFFF
        {"unicode_name_hdf5.cgns", CG_FILE_HDF5, {"D\xC3\xBCse \xE2\x8C\x80 \xF0\x9F\x98\x80"}},
        {"no_base_adf.cgns", CG_FILE_ADF, {}},
    };
    for (const Sample& s : samples) {
        const std::string path = dir + "/" + s.file;
        struct stat st;
        if (lstat(path.c_str(), &st) == 0) {
            std::fprintf(stderr, "make_sample_cgns: the file \"%s\" exists already; make_sample_cgns "
                                 "writes new files only (remove it or name another folder)\n",
                         path.c_str());
            return 1;
        }
    }
    int status = 0;
    for (const Sample& s : samples) {
        const std::string path = dir + "/" + s.file;
        if (write(path, s)) std::printf("%s\n", path.c_str());
        else status = 1;
    }
    return status;
}
