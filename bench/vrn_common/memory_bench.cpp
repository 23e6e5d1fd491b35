// Tagged memory without a monitor against the system allocator: 10^6 small
// allocate/release pairs each. The wrappers should cost within 10% of
// malloc/free (one flag test and one pointer test more).
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "support/memory.h"

namespace {

constexpr int kPairs = 1000000;

void BM_vrnMallocFree(benchmark::State& state) {
    const int size = static_cast<int>(state.range(0));
    for (auto _ : state) {
        for (int i = 0; i < kPairs; ++i) {
            void* p = vrnMalloc(size, "BM_vrnMallocFree");
            benchmark::DoNotOptimize(p);
            vrnFree(p, "BM_vrnMallocFree");
        }
    }
    state.SetItemsProcessed(state.iterations() * kPairs);
}
BENCHMARK(BM_vrnMallocFree)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond);

void BM_mallocFree(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        for (int i = 0; i < kPairs; ++i) {
            void* p = std::malloc(size);
            benchmark::DoNotOptimize(p);
            std::free(p);
        }
    }
    state.SetItemsProcessed(state.iterations() * kPairs);
}
BENCHMARK(BM_mallocFree)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond);

}  // namespace
