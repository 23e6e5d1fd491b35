// A host built only from the installed headers and libraries: lists the
// bases of the file given as its first argument, expecting the names given
// after it, then lists a missing file and catches the exception as either
// class. With HOST_MODELS_FILE set it also lists the models of that file
// through the installed reader, expecting two models (1 "A" 10 "B" and
// 2 "C" 20 "D"), and then fails to start a reader that is not there.
// Prints "ok" and exits 0 when everything is as expected.
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "VRNUtilities.h"

namespace {

int failures = 0;

void check(bool ok, const std::string& what) {
    if (!ok) {
        std::cout << "FAILED: " << what << "\n";
        ++failures;
    }
}

void throwFor(const std::string& file) {
    int count = 0;
    std::vector<int> indices;
    std::vector<std::basic_string<unsigned short> > names;
    ylt::VRNUtilities::getBasesFromCGNSFile(file, count, indices, names);
}

void checkThrown(const ylt::Error& e, const std::string& file) {
    check(e.getClass() == "VRNUtilities", "class " + e.getClass());
    check(e.getMethod() == "getBasesFromCGNSFile", "method " + e.getMethod());
    const std::string prefix = "Can't open " + file + " for reading.\nReason: ";
    check(e.getMessage().compare(0, prefix.size(), prefix) == 0, "message " + e.getMessage());
    check(static_cast<int>(e.getType()) == 4, "type");
}

std::string narrow(const std::basic_string<unsigned short>& s) { return std::string(s.begin(), s.end()); }

void listModels(const std::string& file) {
    int count = 0;
    std::vector<int> ids1, ids2;
    std::vector<std::basic_string<unsigned short> > names1, names2;
    try {
        check(ylt::VRNUtilities::getModelsFromTOLVFile(file, count, ids1, ids2, names1, names2), "models result");
        check(count == 2 && ids1.size() == 2 && ids2.size() == 2 && names1.size() == 2 && names2.size() == 2,
              "model count " + std::to_string(count));
        if (ids1.size() == 2 && ids2.size() == 2 && names1.size() == 2 && names2.size() == 2) {
            check(ids1[0] == 1 && ids1[1] == 2 && ids2[0] == 10 && ids2[1] == 20, "model ids");
            check(narrow(names1[0]) == "A" && narrow(names2[0]) == "B" && narrow(names1[1]) == "C" &&
                      narrow(names2[1]) == "D",
                  "model names");
        }
    } catch (const ylt::Error& e) {
        check(false, "listing models of " + file + ": " + e.getMessage());
    }

    setenv("KWX5_KWXTOLVREADER_EXEC", (file + ".no-reader").c_str(), 1);
    bool thrown = false;
    try {
        ylt::VRNUtilities::getModelsFromTOLVFile(file, count, ids1, ids2, names1, names2);
    } catch (const ylt::vrnutilities::error& e) {
        thrown = true;
        check(e.getMethod() == "getModelsFromTOLVFile", "models method " + e.getMethod());
        check(e.getMessage() ==
                  "Unable to run kwxtolvreader. Are you sure that the appropriate\nexecutable exists?\n"
                  "Path tried: " + file + ".no-reader\nReason: No such file or directory\n",
              "models message " + e.getMessage());
    }
    check(thrown, "a missing reader throws");
    unsetenv("KWX5_KWXTOLVREADER_EXEC");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cout << "usage: host file.cgns name...\n";
        return 2;
    }
    int count = 0;
    std::vector<int> indices;
    std::vector<std::basic_string<unsigned short> > names;
    try {
        check(ylt::VRNUtilities::getBasesFromCGNSFile(argv[1], count, indices, names), "result");
        check(count == argc - 2, "count " + std::to_string(count));
        for (int i = 2; i < argc && static_cast<std::size_t>(i - 2) < names.size(); ++i) {
            const std::basic_string<unsigned short>& n = names[i - 2];
            check(std::string(n.begin(), n.end()) == argv[i], std::string("name ") + argv[i]);
            check(indices[i - 2] == i - 1, "index");
        }
    } catch (const ylt::Error& e) {
        check(false, "listing " + std::string(argv[1]) + ": " + e.getMessage());
    }

    const std::string missing = std::string(argv[1]) + ".missing";
    bool derived = false;
    try {
        throwFor(missing);
    } catch (const ylt::vrnutilities::error& e) {
        derived = true;
        checkThrown(e, missing);
        const ylt::vrnutilities::error copy(e);
        check(copy.getMessage() == e.getMessage(), "copy");
    }
    check(derived, "caught as ylt::vrnutilities::error");

    bool base = false;
    try {
        throwFor(missing);
    } catch (const ylt::Error& e) {
        base = true;
        checkThrown(e, missing);
        check(dynamic_cast<const ylt::vrnutilities::error*>(&e) != nullptr, "dynamic type");
    }
    check(base, "caught as ylt::Error");

    if (const char* models = std::getenv("HOST_MODELS_FILE")) listModels(models);

    if (failures == 0) std::cout << "ok\n";
    return failures == 0 ? 0 : 1;
}
