// Steps whose cost must grow with the number of definitions, not with its
// square: a deep chain built from the bottom up, that chain's map joining an
// atlas, and a map deleted while one name is used by every definition.
#include "region_atlas.h"
#include "region_definition.h"
#include "region_map.h"

#include "joining.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

void define(RegionMap* map, const std::string& name, const std::vector<std::string>& parts)
{
    std::vector<const char*> raw;
    for (const std::string& p : parts)
        raw.push_back(p.c_str());
    RegionDefinition* def = nullptr;
    RegionDefinition_new(&def, name.c_str(), RC_UNION, const_cast<char**>(raw.data()), nullptr,
                         static_cast<unsigned>(raw.size()), 0);
    if (RegionStatus_isError(RegionMap_addDefinition(map, def)))
        RegionDefinition_delete(&def);
}

// C0 = Union(base); Ci = Union(Ci-1), added from C0 upwards, so that every
// new definition sits on top of the whole chain.
RegionMap* bottomUpChain(const std::string& prefix, int depth)
{
    RegionMap* map = nullptr;
    RegionMap_new(&map, "Chain map");
    define(map, prefix + "C0", {prefix + "base"});
    for (int i = 1; i < depth; ++i)
        define(map, prefix + "C" + std::to_string(i), {prefix + "C" + std::to_string(i - 1)});
    return map;
}

void BM_BuildChainBottomUp(benchmark::State& state)
{
    const int depth = static_cast<int>(state.range(0));
    int round = 0;
    for (auto _ : state) {
        RegionMap* map = bottomUpChain("b" + std::to_string(depth) + "r" + std::to_string(round++) + "_", depth);
        state.PauseTiming();
        RegionMap_delete(&map, 1);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_BuildChainBottomUp)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_JoinChainMap(benchmark::State& state)
{
    const int depth = static_cast<int>(state.range(0));
    RegionMap* map = bottomUpChain("j" + std::to_string(depth) + "_", depth);
    RegionAtlas* atlas = nullptr;
    RegionAtlas_new(&atlas, "Chain atlas");
    timeJoining(state, atlas, map, REGION_MAP_VRN);
    RegionMap_delete(&map, 1);
    RegionAtlas_delete(atlas, 1);
}
BENCHMARK(BM_JoinChainMap)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// n definitions Ui = Union(shared, pi): deleting the map takes every one of
// them out of the single name's users.
void BM_DeleteMapSharedName(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::string prefix = "d" + std::to_string(n) + "r" + std::to_string(round++) + "_";
        RegionMap* map = nullptr;
        RegionMap_new(&map, "Shared map");
        for (int i = 0; i < n; ++i)
            define(map, prefix + "U" + std::to_string(i), {prefix + "shared", prefix + "p" + std::to_string(i)});
        state.ResumeTiming();
        RegionMap_delete(&map, 1);
    }
}
BENCHMARK(BM_DeleteMapSharedName)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// The same inside an atlas, where the name's first n users sit in the VRN
// map: every question the Primary map asks about the name while its own
// users leave must not walk past the VRN map's.
void BM_DeleteAtlasSharedName(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::string prefix = "a" + std::to_string(n) + "r" + std::to_string(round++) + "_";
        RegionAtlas* atlas = nullptr;
        RegionAtlas_new(&atlas, "Shared atlas");
        RegionMap* vrn = nullptr;
        RegionMap_new(&vrn, "VRN map");
        RegionAtlas_addMap(atlas, vrn, REGION_MAP_VRN);
        for (int i = 0; i < n; ++i)
            define(vrn, prefix + "V" + std::to_string(i), {prefix + "shared", prefix + "v" + std::to_string(i)});
        RegionMap* primary = nullptr;
        RegionMap_new(&primary, "Primary map");
        RegionAtlas_addMap(atlas, primary, REGION_MAP_PRIMARY);
        for (int i = 0; i < n; ++i)
            define(primary, prefix + "P" + std::to_string(i), {prefix + "shared", prefix + "q" + std::to_string(i)});
        state.ResumeTiming();
        for (int i = 0; i < n; ++i) {
            RegionDefinition* leaving = nullptr;
            RegionMap_getDefinitionByText(primary, (prefix + "P" + std::to_string(i)).c_str(), &leaving);
            RegionDefinition_delete(&leaving);
        }
        state.PauseTiming();
        RegionAtlas_delete(atlas, 1);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_DeleteAtlasSharedName)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
