// Errors created, given messages, published and cleared, at 10^3 to 10^5
// errors per round: the time per error must stay flat (appending to the
// list or a message and clearing the list never copy the whole each time).
#include <benchmark/benchmark.h>

#include "errors/error.h"
#include "errors/error_manager.h"
#include "support/memory.h"

namespace {

void BM_ErrorsRaisedAndCleared(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    for (auto _ : state) {
        for (int i = 0; i < n; ++i) {
            vrnError* e = vrnError_new(VRN_U_INVALID_RESULT, "BM_Errors", __FILE__, __LINE__);
            vrnError_addMessage(e, "Problem number %d.\n", i);
            vrnError_addMessage(e, "%s", "A second line.\n");
            vrnError_publish(e);
        }
        int count = 0;
        vrnError** errors = nullptr;
        vrnApp_getErrors(&count, &errors);
        benchmark::DoNotOptimize(errors);
        vrnFree(errors, "BM_Errors");
        vrnApp_clearErrors();
    }
    state.SetComplexityN(n);
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_ErrorsRaisedAndCleared)
    ->RangeMultiplier(10)
    ->Range(1000, 100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

// One message grown from n small pieces.
void BM_MessageAppend(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    for (auto _ : state) {
        vrnError* e = vrnError_new(VRN_W_INVALID_RESULT_IGNORED, "BM_Message", __FILE__, __LINE__);
        for (int i = 0; i < n; ++i) vrnError_addMessage(e, "warning line %d\n", i);
        benchmark::DoNotOptimize(e->message);
        vrnError_delete(e);
    }
    state.SetComplexityN(n);
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_MessageAppend)
    ->RangeMultiplier(10)
    ->Range(1000, 100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace
