// Atlas text, map addition and primitive resolution, with a plain
// std::unordered_map + std::set model of the same resolution beside them.
#include "region_atlas.h"
#include "region_definition.h"
#include "region_map.h"
#include "region_resolution.h"

#include "joining.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <set>
#include <string>
#include <unordered_map>
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

// n composites of five components each, drawn from 2n primitives.
using Model = std::unordered_map<std::string, std::vector<std::string>>;

Model composites(int n, const std::string& prefix)
{
    Model model;
    for (int i = 0; i < n; ++i) {
        std::vector<std::string> parts;
        for (int j = 0; j < 5; ++j)
            parts.push_back(prefix + "p" + std::to_string((i * 7 + j * 3) % (2 * n)));
        model[prefix + "C" + std::to_string(i)] = parts;
    }
    return model;
}

// A chain: Ln = Union(Ln+1, pn).
Model chain(int depth)
{
    Model model;
    for (int i = 0; i < depth; ++i)
        model["L" + std::to_string(i)] = {"L" + std::to_string(i + 1), "q" + std::to_string(i)};
    return model;
}

RegionMap* mapOf(const char* name, const Model& model, const std::vector<std::string>& order)
{
    RegionMap* map = nullptr;
    RegionMap_new(&map, name);
    for (const std::string& key : order)
        define(map, key, model.at(key));
    return map;
}

std::vector<std::string> namesOf(const std::string& prefix, const char* stem, int n)
{
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i)
        out.push_back(prefix + stem + std::to_string(i));
    return out;
}

void modelResolve(const Model& model, const std::string& name, std::set<std::string>& out)
{
    auto it = model.find(name);
    if (it == model.end()) {
        out.insert(name);
        return;
    }
    for (const std::string& part : it->second)
        modelResolve(model, part, out);
}

std::vector<std::string> splitLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t at = 0;
    for (size_t nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1)
        lines.push_back(text.substr(at, nl - at));
    return lines;
}

RegionAtlas* atlasWith(int n)
{
    const std::string prefix = "w" + std::to_string(n);
    Model model = composites(n, prefix);
    RegionAtlas* atlas = nullptr;
    RegionAtlas_new(&atlas, "VRN atlas");
    RegionMap* primary = mapOf("Primary map", model, namesOf(prefix, "C", n));
    RegionAtlas_addMap(atlas, primary, REGION_MAP_PRIMARY);
    return atlas;
}

void BM_AtlasWrite(benchmark::State& state)
{
    RegionAtlas* atlas = atlasWith(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        char* text = nullptr;
        RegionAtlas_getORV(atlas, &text);
        benchmark::DoNotOptimize(text);
        RegionAtlas_freeORV(atlas);
    }
    RegionAtlas_delete(atlas, 1);
}
BENCHMARK(BM_AtlasWrite)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_AtlasRead(benchmark::State& state)
{
    RegionAtlas* atlas = atlasWith(static_cast<int>(state.range(0)));
    char* text = nullptr;
    RegionAtlas_getORV(atlas, &text);
    std::vector<std::string> lines = splitLines(text);
    RegionAtlas_delete(atlas, 1);
    std::vector<char*> raw;
    for (std::string& l : lines)
        raw.push_back(&l[0]);
    for (auto _ : state) {
        RegionAtlas* back = nullptr;
        RegionAtlas_readFromStrings(&back, static_cast<int>(raw.size()), raw.data());
        state.PauseTiming();
        RegionAtlas_delete(back, 1);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_AtlasRead)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// A populated Primary map joining an atlas above a VRN map whose names it
// uses.
void BM_AddMapUnderVRN(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    const std::string prefix = "j" + std::to_string(n);
    Model low = composites(n, prefix + "v");
    Model high;
    for (int i = 0; i < n; ++i)
        high[prefix + "P" + std::to_string(i)] = {prefix + "vC" + std::to_string(i), prefix + "x" + std::to_string(i)};
    RegionAtlas* atlas = nullptr;
    RegionAtlas_new(&atlas, "VRN atlas");
    RegionMap* vrn = mapOf("VRN map", low, namesOf(prefix + "v", "C", n));
    RegionAtlas_addMap(atlas, vrn, REGION_MAP_VRN);
    RegionMap* primary = mapOf("Primary map", high, namesOf(prefix, "P", n));
    timeJoining(state, atlas, primary, REGION_MAP_PRIMARY);
    RegionMap_delete(&primary, 1);
    RegionAtlas_delete(atlas, 1);
}
BENCHMARK(BM_AddMapUnderVRN)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_ResolveChain(benchmark::State& state)
{
    const int depth = static_cast<int>(state.range(0));
    Model model = chain(depth);
    std::vector<std::string> order = namesOf("", "L", depth);
    RegionMap* map = mapOf("Chain map", model, order);
    for (auto _ : state) {
        RegionStringList* out = nullptr;
        RegionStringList_new(&out, 0);
        RegionPrimitives_resolveTextInMap("L0", map, out);
        benchmark::DoNotOptimize(out->count);
        RegionStringList_delete(&out);
    }
    RegionMap_delete(&map, 1);
}
BENCHMARK(BM_ResolveChain)->Arg(2000)->Unit(benchmark::kMicrosecond);

void BM_ModelResolveChain(benchmark::State& state)
{
    Model model = chain(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        std::set<std::string> out;
        modelResolve(model, "L0", out);
        benchmark::DoNotOptimize(out.size());
    }
}
BENCHMARK(BM_ModelResolveChain)->Arg(2000)->Unit(benchmark::kMicrosecond);

void BM_ResolveComposites(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    Model model = composites(n, "r");
    std::vector<std::string> order = namesOf("r", "C", n);
    RegionMap* map = mapOf("Composite map", model, order);
    std::vector<unsigned> keys;
    for (const std::string& name : order) {
        unsigned key = 0;
        RegionDictionary_lookup(name.c_str(), &key);
        keys.push_back(key);
    }
    for (auto _ : state) {
        for (unsigned key : keys) {
            RegionStringList* out = nullptr;
            RegionStringList_new(&out, 0);
            RegionPrimitives_resolveKeyInMap(key, map, out);
            benchmark::DoNotOptimize(out->count);
            RegionStringList_delete(&out);
        }
    }
    RegionMap_delete(&map, 1);
}
BENCHMARK(BM_ResolveComposites)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_ModelResolveComposites(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    Model model = composites(n, "r");
    std::vector<std::string> order = namesOf("r", "C", n);
    for (auto _ : state) {
        for (const std::string& name : order) {
            std::set<std::string> out;
            modelResolve(model, name, out);
            benchmark::DoNotOptimize(out.size());
        }
    }
}
BENCHMARK(BM_ModelResolveComposites)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
