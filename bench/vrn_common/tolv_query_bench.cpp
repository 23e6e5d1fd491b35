// The model query through the test reader against popen + getline + the
// same parse of the same output, and a long reader warning.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include <benchmark/benchmark.h>

#include "errors/error_manager.h"
#include "process/tolv_query.h"
#include "support/cstring.h"
#include "support/memory.h"

namespace {

// A folder of reader outputs, made once per program.
const std::string& benchDir() {
    static std::string dir = [] {
        char pattern[] = "/tmp/vrnbench.XXXXXX";
        std::string d = mkdtemp(pattern);
        setenv("KWX5BINDIR", d.c_str(), 1);
        setenv("KWX5EXECDIR", d.c_str(), 1);
        setenv("KWX5_KWXTOLVREADER_EXEC", VRN_TEST_READER, 1);
        return d;
    }();
    return dir;
}

std::string writeOutput(const std::string& name, const std::string& text) {
    std::string path = benchDir() + "/" + name;
    FILE* f = fopen(path.c_str(), "wb");
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
    return path;
}

std::string modelsFile(int n) {
    std::string text = "<MODELS_BEG>\n" + std::to_string(n) + "\n";
    for (int i = 0; i < n; ++i) {
        text += std::to_string(i) + "\nmodel number " + std::to_string(i) + "\n" +
                std::to_string(i * 10) + "\nmesh of model " + std::to_string(i) + "\n";
    }
    text += "<MODELS_END>\n";
    return writeOutput("models." + std::to_string(n), text);
}

void freeResult(int n, int* a, int* b, char** c, char** d) {
    vrnCStringArray_free(c, n);
    vrnCStringArray_free(d, n);
    vrnFree(a, "bench");
    vrnFree(b, "bench");
}

void BM_QueryThroughReader(benchmark::State& state) {
    const std::string file = modelsFile(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        int n = 0;
        int *a = nullptr, *b = nullptr;
        char **c = nullptr, **d = nullptr;
        if (vrnTOLVQuery_getModels(file.c_str(), &n, &a, &b, &c, &d) != 1 || n != state.range(0))
            state.SkipWithError("query failed");
        freeResult(n, a, b, c, d);
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_QueryThroughReader)->Arg(1)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond)->Complexity();

// The baseline: the same reader through popen, lines from getline, and a
// parse of the models block into the same four arrays.
void BM_PopenGetline(benchmark::State& state) {
    const std::string file = modelsFile(static_cast<int>(state.range(0)));
    const std::string command = std::string(VRN_TEST_READER) + " -list '" + file + "' -server_mode 2>&1";
    for (auto _ : state) {
        FILE* p = popen(command.c_str(), "r");
        char* line = nullptr;
        size_t cap = 0;
        ssize_t len;
        int n = 0, index = -1, field = 0, inModels = 0, capacity = 0;
        int *a = nullptr, *b = nullptr;
        char **c = nullptr, **d = nullptr;
        while ((len = getline(&line, &cap, p)) >= 0) {
            if (len > 0 && line[len - 1] == '\n') line[--len] = '\0';
            if (len > 0 && line[len - 1] == '\r') line[--len] = '\0';
            if (!inModels) {
                if (strncmp(line, "<MODELS_BEG>", 12) == 0) inModels = 1;
            } else if (strncmp(line, "<MODELS_END>", 12) == 0) {
                inModels = 0;
            } else if (index == -1) {
                index = 0;
                sscanf(line, "%d", &n);
            } else {
                if (index >= capacity) {
                    capacity = capacity ? capacity * 2 : 16;
                    a = static_cast<int*>(vrnRealloc(a, capacity * 4, "bench"));
                    b = static_cast<int*>(vrnRealloc(b, capacity * 4, "bench"));
                    c = static_cast<char**>(vrnRealloc(c, capacity * 8, "bench"));
                    d = static_cast<char**>(vrnRealloc(d, capacity * 8, "bench"));
                }
                switch (field) {
                case 0: sscanf(line, "%d", &a[index]); break;
                case 1: c[index] = vrnCString_clone(line); break;
                case 2: sscanf(line, "%d", &b[index]); break;
                default: d[index] = vrnCString_clone(line); break;
                }
                if (++field == 4) field = 0, ++index;
            }
        }
        free(line);
        pclose(p);
        if (index != state.range(0)) state.SkipWithError("parse failed");
        freeResult(index, a, b, c, d);
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_PopenGetline)->Arg(1)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond)->Complexity();

// A reader warning of many lines: appending each line to the warning's
// message must not copy the message so far.
void BM_LongWarning(benchmark::State& state) {
    std::string text = "<WARNING_BEG>\n";
    for (int i = 0; i < state.range(0); ++i) text += "warning line number " + std::to_string(i) + "\n";
    text += "<WARNING_END>\n";
    const std::string file = writeOutput("warning." + std::to_string(state.range(0)), text);
    for (auto _ : state) {
        int n = 0;
        int *a = nullptr, *b = nullptr;
        char **c = nullptr, **d = nullptr;
        vrnTOLVQuery_getModels(file.c_str(), &n, &a, &b, &c, &d);
        freeResult(n, a, b, c, d);
        vrnApp_clearErrors();
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_LongWarning)->Arg(10000)->Arg(20000)->Arg(40000)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

}  // namespace
