// The model query through the test reader against popen + getline + the
// same parse of the same output, a long reader warning, and the query and a
// bare process start inside a host that holds gigabytes.
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>

#include <fstream>
#include <string>

#include <benchmark/benchmark.h>

#include "errors/error.h"
#include "errors/error_manager.h"
#include "process/process.h"
#include "process/tolv_query.h"
#include "support/cstring.h"
#include "support/memory.h"
#include "reader_outputs.h"

extern char** environ;

namespace {

void freeResult(int n, int* a, int* b, char** c, char** d) {
    vrnCStringArray_free(c, n);
    vrnCStringArray_free(d, n);
    vrnFree(a, "bench");
    vrnFree(b, "bench");
}

// The messages of the errors the library recorded, which are cleared.
std::string recordedErrors() {
    int count = 0;
    vrnError** errors = nullptr;
    std::string text;
    if (vrnApp_getErrors(&count, &errors) == 1) {
        for (int i = 0; i < count; ++i)
            if (const char* m = vrnError_getMessage(errors[i])) text += m;
        vrnFree(errors, "bench");
    }
    vrnApp_clearErrors();
    return text;
}

// Runs the query on the reader output `file`: true when it listed `expected`
// models, else false with the benchmark stopped on the failure's message.
bool listModels(benchmark::State& state, const std::string& file, int expected) {
    int n = 0;
    int *a = nullptr, *b = nullptr;
    char **c = nullptr, **d = nullptr;
    const int rc = vrnTOLVQuery_getModels(file.c_str(), &n, &a, &b, &c, &d);
    freeResult(n, a, b, c, d);
    if (rc == 1 && n == expected) return true;
    state.SkipWithError(("the query failed: " + (rc == 1 ? "it listed " + std::to_string(n) + " models"
                                                          : recordedErrors())).c_str());
    return false;
}

void BM_QueryThroughReader(benchmark::State& state) {
    const std::string file = vrnbench::modelsOutput(static_cast<int>(state.range(0)));
    for (auto _ : state)
        if (!listModels(state, file, static_cast<int>(state.range(0)))) break;
}
// No complexity fit: the Google Benchmark of Debian 12 ends the program when
// every run of a family it fits has stopped on an error.
BENCHMARK(BM_QueryThroughReader)->Arg(1)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

// The baseline: the same reader through popen, lines from getline, and a
// parse of the models block into the same four arrays.
void BM_PopenGetline(benchmark::State& state) {
    const std::string file = vrnbench::modelsOutput(static_cast<int>(state.range(0)));
    const std::string command = std::string(VRN_TEST_READER) + " -list '" + file + "' -server_mode 2>&1";
    for (auto _ : state) {
        FILE* p = popen(command.c_str(), "r");
        if (!p) {
            state.SkipWithError("popen failed");
            break;
        }
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
                    a = static_cast<int*>(vrnRealloc(a, capacity * static_cast<int>(sizeof(int)), "bench"));
                    b = static_cast<int*>(vrnRealloc(b, capacity * static_cast<int>(sizeof(int)), "bench"));
                    c = static_cast<char**>(vrnRealloc(c, capacity * static_cast<int>(sizeof(char*)), "bench"));
                    d = static_cast<char**>(vrnRealloc(d, capacity * static_cast<int>(sizeof(char*)), "bench"));
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
        freeResult(index, a, b, c, d);
        if (index != state.range(0)) {
            state.SkipWithError("the parse listed too few models");
            break;
        }
    }
}
BENCHMARK(BM_PopenGetline)->Arg(1)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

// A reader warning of many lines: appending each line to the warning's
// message must not copy the message so far.
void BM_LongWarning(benchmark::State& state) {
    std::string text = "<WARNING_BEG>\n";
    for (int i = 0; i < state.range(0); ++i) text += "warning line number " + std::to_string(i) + "\n";
    text += "<WARNING_END>\n";
    const std::string file = vrnbench::writeReaderOutput("warning." + std::to_string(state.range(0)), text);
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

// ---- Inside a large host ---------------------------------------------------
//
// The benchmark process holds 0, 1 or 4 GB, allocated and every page
// touched, as an engineering host would, and then runs the query, a bare
// process start and posix_spawn of the same program; a start that copied
// the host would grow with it. BM_HostMemoryWritePass/1 writes every page of
// 1 GB after a query, /0 without one: a start that left the host's pages
// copy-on-write would make that pass dearer.
//
// Most of a start's time is the child's, so these count wall-clock time.
// They take gigabytes of the machine, so they are registered only when the
// benchmark filter names them:
//   vrn_common_bench --benchmark_filter=HostMemory

char* g_held = nullptr;
size_t g_heldBytes = 0;

void holdGigabytes(long gb) {
    const size_t bytes = static_cast<size_t>(gb) << 30;
    if (bytes == g_heldBytes) return;
    free(g_held);
    g_held = nullptr;
    g_heldBytes = 0;
    if (bytes == 0) return;
    g_held = static_cast<char*>(malloc(bytes));
    if (!g_held) return;
    for (size_t at = 0; at < bytes; at += 4096) g_held[at] = 1;
    g_heldBytes = bytes;
}

bool holding(benchmark::State& state, long gb) {
    holdGigabytes(gb);
    if (g_heldBytes == static_cast<size_t>(gb) << 30) return true;
    state.SkipWithError("cannot hold that much memory");
    return false;
}

void BM_HostMemoryQuery(benchmark::State& state) {
    const std::string file = vrnbench::modelsOutput(10);
    if (!holding(state, state.range(0))) return;
    for (auto _ : state)
        if (!listModels(state, file, 10)) break;
}

void BM_HostMemoryProcessStart(benchmark::State& state) {
    if (!holding(state, state.range(0))) return;
    Command* command = Command_new(nullptr, VRN_TEST_READER, VRN_COMMAND_AS_GIVEN);
    for (auto _ : state) {
        Process* p = Process_new(command, nullptr, nullptr);
        if (!p) {
            state.SkipWithError("start failed");
            break;
        }
        Process_wait(p);
        Process_delete(p);
    }
    Command_delete(command);
}

// The same program through posix_spawn, its streams on /dev/null too.
void BM_HostMemoryPosixSpawn(benchmark::State& state) {
    if (!holding(state, state.range(0))) return;
    std::string path = VRN_TEST_READER;
    char* argv[] = {path.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd = 0; fd < 3; ++fd)
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
    for (auto _ : state) {
        pid_t pid = 0;
        if (posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ) != 0) {
            state.SkipWithError("posix_spawn failed");
            break;
        }
        waitpid(pid, nullptr, 0);
    }
    posix_spawn_file_actions_destroy(&actions);
}

void BM_HostMemoryWritePass(benchmark::State& state) {
    const std::string file = vrnbench::modelsOutput(10);
    if (!holding(state, 1)) return;
    for (auto _ : state) {
        if (state.range(0)) {
            state.PauseTiming();
            int n = 0;
            int *a = nullptr, *b = nullptr;
            char **c = nullptr, **d = nullptr;
            vrnTOLVQuery_getModels(file.c_str(), &n, &a, &b, &c, &d);
            freeResult(n, a, b, c, d);
            state.ResumeTiming();
        }
        for (size_t at = 0; at < g_heldBytes; at += 4096) ++g_held[at];
        benchmark::ClobberMemory();
    }
}

// Whether the program's --benchmark_filter= argument holds the word.
bool filterNames(const std::string& word) {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    const std::string option = "--benchmark_filter=";
    for (std::string arg; std::getline(in, arg, '\0');)
        if (arg.compare(0, option.size(), option) == 0 && arg.find(word, option.size()) != std::string::npos)
            return true;
    return false;
}

const bool g_hostMemoryRegistered = [] {
    if (!filterNames("HostMemory")) return false;
    for (auto* b : {benchmark::RegisterBenchmark("BM_HostMemoryQuery", BM_HostMemoryQuery),
                    benchmark::RegisterBenchmark("BM_HostMemoryProcessStart", BM_HostMemoryProcessStart),
                    benchmark::RegisterBenchmark("BM_HostMemoryPosixSpawn", BM_HostMemoryPosixSpawn)})
        b->Arg(0)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark("BM_HostMemoryWritePass", BM_HostMemoryWritePass)
        ->Arg(0)
        ->Arg(1)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    return true;
}();

}  // namespace
