// Region atlas library: map text written and read, name interning, and
// string-list set operations against the standard algorithms.
#include "region_definition.h"
#include "region_hash.h"
#include "region_list.h"
#include "region_map.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

const unsigned kPrimitives = 20000;

// A map of n Union definitions, each of 5 components drawn from the
// primitives.
RegionMap* buildMap(unsigned n)
{
    RegionMap* map = nullptr;
    RegionMap_new(&map, ("Bench map " + std::to_string(n)).c_str());
    for (unsigned i = 0; i < n; ++i) {
        std::vector<std::string> names;
        for (unsigned k = 0; k < 5; ++k)
            names.push_back("p" + std::to_string((i * 7 + k * 4001) % kPrimitives));
        std::vector<char*> ptrs;
        for (std::string& s : names)
            ptrs.push_back(&s[0]);
        RegionDefinition* d = nullptr;
        RegionDefinition_new(&d, ("D" + std::to_string(i)).c_str(), RC_UNION, ptrs.data(), nullptr, 5, 0);
        RegionMap_addDefinition(map, d);
    }
    return map;
}

std::vector<std::string> splitLines(const std::string& text)
{
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

void BM_WriteMap(benchmark::State& state)
{
    RegionMap* map = buildMap(static_cast<unsigned>(state.range(0)));
    for (auto _ : state) {
        char* text = nullptr;
        RegionMap_getORV(map, 1, &text);
        benchmark::DoNotOptimize(text);
    }
    RegionMap_delete(&map, 1);
}
BENCHMARK(BM_WriteMap)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_ReadMap(benchmark::State& state)
{
    RegionMap* map = buildMap(static_cast<unsigned>(state.range(0)));
    char* text = nullptr;
    RegionMap_getORV(map, 1, &text);
    std::vector<std::string> lines = splitLines(text);
    RegionMap_delete(&map, 1);
    std::vector<char*> ptrs;
    for (std::string& l : lines)
        ptrs.push_back(&l[0]);
    for (auto _ : state) {
        RegionMap* back = nullptr;
        RegionMap_readFromStrings(&back, static_cast<int>(ptrs.size()), ptrs.data(), nullptr);
        RegionMap_delete(&back, 1);
    }
}
BENCHMARK(BM_ReadMap)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// Interning a million new names; each run uses names never seen before.
void BM_InternNames(benchmark::State& state)
{
    static int run = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<std::string> names;
        names.reserve(1000000);
        for (int i = 0; i < 1000000; ++i)
            names.push_back("run" + std::to_string(run) + " name " + std::to_string(i));
        ++run;
        state.ResumeTiming();
        unsigned key = 0;
        for (const std::string& n : names)
            RegionDictionary_intern(n.c_str(), &key);
        benchmark::DoNotOptimize(key);
    }
}
BENCHMARK(BM_InternNames)->Iterations(2)->Unit(benchmark::kMillisecond);

void BM_InternNamesStdUnorderedMap(benchmark::State& state)
{
    static int run = 0;
    std::unordered_map<std::string, unsigned> dict;
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<std::string> names;
        names.reserve(1000000);
        for (int i = 0; i < 1000000; ++i)
            names.push_back("std" + std::to_string(run) + " name " + std::to_string(i));
        ++run;
        state.ResumeTiming();
        for (const std::string& n : names)
            dict.emplace(n, static_cast<unsigned>(dict.size() + 1));
        benchmark::DoNotOptimize(dict.size());
    }
}
BENCHMARK(BM_InternNamesStdUnorderedMap)->Iterations(2)->Unit(benchmark::kMillisecond);

// Two ascending lists of 10^5 keys: every second key and every third key
// of the first 3·10^5 interned names.
struct ListPair {
    RegionStringList* a = nullptr;
    RegionStringList* b = nullptr;
    std::vector<unsigned> va, vb;
    ListPair()
    {
        unsigned key = 0;
        for (unsigned i = 0; i < 300000; ++i)
            RegionDictionary_intern(("key " + std::to_string(i)).c_str(), &key);
        RegionStringList_new(&a, 0);
        RegionStringList_new(&b, 0);
        for (unsigned k = 2; k <= 200000; k += 2) {
            RegionStringList_addKey(a, k);
            va.push_back(k);
        }
        for (unsigned k = 3; k <= 300000; k += 3) {
            RegionStringList_addKey(b, k);
            vb.push_back(k);
        }
    }
};

ListPair& pair()
{
    static ListPair p;
    return p;
}

void BM_ListUnion(benchmark::State& state)
{
    ListPair& p = pair();
    for (auto _ : state) {
        RegionStringList* c = nullptr;
        RegionStringList_copy(&c, p.a);
        RegionStringList_union(c, p.b);
        benchmark::DoNotOptimize(c->count);
        RegionStringList_delete(&c);
    }
}
BENCHMARK(BM_ListUnion)->Unit(benchmark::kMicrosecond);

void BM_StdSetUnion(benchmark::State& state)
{
    ListPair& p = pair();
    for (auto _ : state) {
        std::vector<unsigned> c(p.va);
        std::vector<unsigned> out;
        out.reserve(c.size() + p.vb.size());
        std::set_union(c.begin(), c.end(), p.vb.begin(), p.vb.end(), std::back_inserter(out));
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_StdSetUnion)->Unit(benchmark::kMicrosecond);

void BM_ListIntersection(benchmark::State& state)
{
    ListPair& p = pair();
    for (auto _ : state) {
        RegionStringList* c = nullptr;
        RegionStringList_copy(&c, p.a);
        RegionStringList_intersection(c, p.b);
        benchmark::DoNotOptimize(c->count);
        RegionStringList_delete(&c);
    }
}
BENCHMARK(BM_ListIntersection)->Unit(benchmark::kMicrosecond);

void BM_StdSetIntersection(benchmark::State& state)
{
    ListPair& p = pair();
    for (auto _ : state) {
        std::vector<unsigned> c(p.va);
        std::vector<unsigned> out;
        out.reserve(std::min(c.size(), p.vb.size()));
        std::set_intersection(c.begin(), c.end(), p.vb.begin(), p.vb.end(), std::back_inserter(out));
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_StdSetIntersection)->Unit(benchmark::kMicrosecond);

void BM_ListDifferenceAndSymmetric(benchmark::State& state)
{
    ListPair& p = pair();
    for (auto _ : state) {
        RegionStringList* c = nullptr;
        RegionStringList* d = nullptr;
        RegionStringList_copy(&c, p.a);
        RegionStringList_copy(&d, p.b);
        RegionStringList_symmetricDifference(c, d);
        benchmark::DoNotOptimize(c->count);
        RegionStringList_delete(&c);
        RegionStringList_delete(&d);
    }
}
BENCHMARK(BM_ListDifferenceAndSymmetric)->Unit(benchmark::kMicrosecond);

}  // namespace
