// The model query as a host pays for it: the exported call, vectors of
// UTF-16 names included, against popen + getline + the same parse filling
// the same four vectors with the same widening. The reader is the test
// reader in both, writing a models block of 1, 10, 1,000 or 100,000 models.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "VRNUtilities.h"
#include "reader_outputs.h"
#include "ylt/EncodingUtilities.h"

namespace {

using WString = std::basic_string<unsigned short>;

void BM_ExportedModelQuery(benchmark::State& state) {
    const std::string file = vrnbench::modelsOutput(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        int count = 0;
        std::vector<int> ids1, ids2;
        std::vector<WString> names1, names2;
        try {
            ylt::VRNUtilities::getModelsFromTOLVFile(file, count, ids1, ids2, names1, names2);
        } catch (const ylt::Error& e) {
            state.SkipWithError(("the query failed: " + e.getMessage()).c_str());
            break;
        }
        if (count != state.range(0) || names2.size() != static_cast<size_t>(count)) {
            state.SkipWithError("the query listed too few models");
            break;
        }
        benchmark::DoNotOptimize(names2.data());
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ExportedModelQuery)->Arg(1)->Arg(10)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

// The baseline: the same reader through popen, lines from getline, the
// models block parsed into the same four vectors, names widened once each.
void BM_PopenGetlineVectors(benchmark::State& state) {
    const std::string file = vrnbench::modelsOutput(static_cast<int>(state.range(0)));
    const std::string command = std::string(VRN_TEST_READER) + " -list '" + file + "' -server_mode 2>&1";
    for (auto _ : state) {
        int count = 0;
        std::vector<int> ids1, ids2;
        std::vector<WString> names1, names2;
        FILE* p = popen(command.c_str(), "r");
        if (!p) {
            state.SkipWithError(("popen failed: " + std::string(strerror(errno))).c_str());
            break;
        }
        char* line = nullptr;
        size_t cap = 0;
        ssize_t len;
        int index = -1, field = 0, inModels = 0;
        while ((len = getline(&line, &cap, p)) >= 0) {
            if (len > 0 && line[len - 1] == '\n') line[--len] = '\0';
            if (len > 0 && line[len - 1] == '\r') line[--len] = '\0';
            if (!inModels) {
                if (strncmp(line, "<MODELS_BEG>", 12) == 0) inModels = 1;
            } else if (strncmp(line, "<MODELS_END>", 12) == 0) {
                inModels = 0;
            } else if (index == -1) {
                index = 0;
                sscanf(line, "%d", &count);
                ids1.reserve(count);
                ids2.reserve(count);
                names1.reserve(count);
                names2.reserve(count);
            } else {
                int value = 0;
                switch (field) {
                case 0: sscanf(line, "%d", &value); ids1.push_back(value); break;
                case 1: names1.push_back(ylt::EncodingUtilities::MakeWStringU(line)); break;
                case 2: sscanf(line, "%d", &value); ids2.push_back(value); break;
                default: names2.push_back(ylt::EncodingUtilities::MakeWStringU(line)); break;
                }
                if (++field == 4) field = 0, ++index;
            }
        }
        free(line);
        pclose(p);
        if (index != state.range(0) || names2.size() != static_cast<size_t>(count)) {
            state.SkipWithError("the parse listed too few models");
            break;
        }
        benchmark::DoNotOptimize(names2.data());
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_PopenGetlineVectors)->Arg(1)->Arg(10)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
