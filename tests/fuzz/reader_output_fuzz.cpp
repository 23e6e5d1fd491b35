// Output of the reader program, of any content, through the exported model
// query: the test reader writes the input as its output, the query parses
// it and the names are widened to UTF-16 into the caller's vectors.
#include <stdlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "VRNUtilities.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool setUp = [] {
        setenv("KWX5BINDIR", vrnfuzz::tempDir().c_str(), 1);
        setenv("KWX5EXECDIR", vrnfuzz::tempDir().c_str(), 1);
        setenv("KWX5_KWXTOLVREADER_EXEC", VRN_TEST_READER, 1);
        return true;
    }();
    (void)setUp;
    const std::string file = vrnfuzz::writeInput("model.tolv", data, size);
    int count = 0;
    std::vector<int> ids1, ids2;
    std::vector<std::basic_string<unsigned short> > names1, names2;
    try {
        ylt::VRNUtilities::getModelsFromTOLVFile(file, count, ids1, ids2, names1, names2);
        if (ids1.size() != static_cast<size_t>(count) || names2.size() != static_cast<size_t>(count))
            abort();  // the vectors and the count disagree
    } catch (const ylt::Error&) {
    }
    return 0;
}
