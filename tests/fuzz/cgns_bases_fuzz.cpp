// Files of any content through the exported base query, in a child process:
// the CGNS library keeps state across files, so each input starts from a
// fresh copy of it. The harness fails when the child does not end normally
// (a crash, an abort, a sanitizer report), or when a listing's count and
// vectors disagree. The host sources are linked in directly, to reach the
// file check that runs before the library.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "VRNUtilities.h"
#include "cgns_file_check.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string file = vrnfuzz::writeInput("input.cgns", data, size);
    // The look the query takes at a file before the library sees it, here
    // as well, where the fuzzer sees what it reaches.
    ylt::VRNUtilities::detail::cgnsFileProblem(file);
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) {
        std::perror("fork");
        abort();
    }
    if (child == 0) {
        // The library's own chatter goes nowhere; sanitizer reports still
        // reach standard error.
        const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) dup2(null, 1);
        int count = -1;
        std::vector<int> indices;
        std::vector<std::basic_string<unsigned short> > names;
        int status = 0;
        try {
            ylt::VRNUtilities::getBasesFromCGNSFile(file, count, indices, names);
            if (indices.size() != names.size() || static_cast<size_t>(count) != names.size()) status = 3;
        } catch (const ylt::Error&) {
        }
        _exit(status);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) abort();
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "the base query's child ended with %s %d\n",
                     WIFSIGNALED(status) ? "signal" : "status",
                     WIFSIGNALED(status) ? WTERMSIG(status) : WEXITSTATUS(status));
        abort();
    }
    return 0;
}
