// Timing a map joining an atlas, shared by the region atlas benchmarks.
#pragma once

#include <benchmark/benchmark.h>

#include "region_atlas.h"

// Times only the join of map to the atlas at level; the map is taken out
// again, untimed, after each join.
inline void timeJoining(benchmark::State& state, RegionAtlas* atlas, RegionMap* map, int level)
{
    for (auto _ : state) {
        RegionAtlas_addMap(atlas, map, level);
        state.PauseTiming();
        RegionAtlas_detachMap(atlas, level);
        state.ResumeTiming();
    }
}
