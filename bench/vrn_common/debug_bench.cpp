// vrnDebug_isActive with no control file: after the first call it is one
// flag test, so a traced routine costs next to nothing while debugging is off.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>

#include "debug/debug_manager.h"

namespace {

void BM_DebugIsActiveWithoutControlFile(benchmark::State& state) {
    static const bool prepared = [] {
        unsetenv("VRN_DEBUG_CONTROL");
        // No "vrn.debug" can be found in a folder that has none.
        if (chdir("/") != 0) std::abort();
        return vrnDebug_isActive() == 0;
    }();
    if (!prepared) {
        state.SkipWithError("debugging is on in this environment");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(vrnDebug_isActive());
}
BENCHMARK(BM_DebugIsActiveWithoutControlFile);

}  // namespace
