// Output of the reader program, of any content, through the exported model
// query: the test reader writes the input as its output, the query parses
// it and the names are widened to UTF-16 into the caller's vectors.
//
// The query reads lines into a 256-byte buffer that grows with the line, and
// its read-ahead holds 4096 bytes: inputs must reach well past both, so the
// fuzzer's length limit is raised here unless the command line sets one (by
// default libFuzzer keeps near the largest seed). The seed long_lines
// starts it off with lines longer than both.
#include <stdlib.h>
#include <string.h>

#include <cstdint>
#include <string>
#include <vector>

#include "VRNUtilities.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    for (int i = 1; i < *argc; ++i)
        if (strncmp((*argv)[i], "-max_len=", 9) == 0) return 0;
    static std::vector<char*> args;
    static char maxLen[] = "-max_len=20000";
    args.assign(*argv, *argv + *argc);
    args.insert(args.begin() + 1, maxLen);  // before the corpus folders
    args.push_back(nullptr);
    *argc += 1;
    *argv = args.data();
    return 0;
}

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
