// Example host: lists what each mesh file named on the command line holds.
// A file whose name ends in ".cgns" is a CGNS file and its bases are listed;
// any other file is a TOLV meshing-database file and its models are listed
// through the reader program (found through KWX5EXECDIR, KWX5BINDIR or
// KWX5_KWXTOLVREADER_EXEC). On failure the exception's class, method and
// message are printed and the exit status is 1. Without a file name it
// prints its usage and exits with 2.
#include <iostream>
#include <string>
#include <vector>

#include "VRNUtilities.h"

namespace {

// UTF-16 back to UTF-8 for printing.
std::string toUtf8(const std::basic_string<unsigned short>& w) {
    std::string out;
    for (std::size_t i = 0; i < w.size(); ++i) {
        unsigned long cp = w[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < w.size() && w[i + 1] >= 0xDC00 &&
            w[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (w[i + 1] - 0xDC00);
            ++i;
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

void listBases(const std::string& file) {
    int count = 0;
    std::vector<int> indices;
    std::vector<std::basic_string<unsigned short> > names;
    ylt::VRNUtilities::getBasesFromCGNSFile(file, count, indices, names);
    std::cout << file << ": " << count << " base(s)\n";
    for (std::size_t b = 0; b < indices.size(); ++b)
        std::cout << "  " << indices[b] << " " << toUtf8(names[b]) << "\n";
}

void listModels(const std::string& file) {
    int count = 0;
    std::vector<int> ids1, ids2;
    std::vector<std::basic_string<unsigned short> > names1, names2;
    ylt::VRNUtilities::getModelsFromTOLVFile(file, count, ids1, ids2, names1, names2);
    std::cout << file << ": " << count << " model(s)\n";
    for (std::size_t m = 0; m < ids1.size(); ++m)
        std::cout << "  " << ids1[m] << " " << toUtf8(names1[m]) << " / " << ids2[m] << " "
                  << toUtf8(names2[m]) << "\n";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: vrn_list FILE...\n"
                     "  lists the bases of each CGNS file (name ending in .cgns) and the models of\n"
                     "  each other file, a TOLV meshing-database file read by kwxtolvreader.exe\n";
        return 2;
    }
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string file = argv[i];
        try {
            if (endsWith(file, ".cgns")) listBases(file);
            else listModels(file);
        } catch (const ylt::vrnutilities::error& e) {
            std::cout << file << ": " << e.getClass() << "::" << e.getMethod() << " failed: "
                      << e.getMessage() << "\n";
            status = 1;
        }
    }
    return status;
}
