// ORV API: loading documents of 10^4 and 10^5 objects (time per line and the
// heap the handle keeps), path lookups against std::unordered_map, and the
// load against a bare getline + split loop over the same text.
#include "orvapi.h"

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

// A region-atlas-like document: one block of three parameters per object,
// grouped ten to a map.
std::string makeText(int objects)
{
    std::string t;
    t += "REGION ATLAS: Main\n";
    for (int i = 0; i < objects; ++i) {
        if (i % 10 == 0)
            t += "  REGION MAP: m" + std::to_string(i / 10) + "\n";
        t += "    REGION: r" + std::to_string(i) + "\n";
        t += "      Combination = Union\n";
        t += "      Region List = a" + std::to_string(i) + ", f(b, c)   # parts\n";
        t += "      Owner = o" + std::to_string(i % 7) + "\n";
        t += "    END\n";
        if (i % 10 == 9 || i == objects - 1)
            t += "  END\n";
    }
    t += "END\n";
    return t;
}

struct Lines {
    std::string storage;
    std::vector<char*> ptrs;
    explicit Lines(std::string text) : storage(std::move(text))
    {
        char* p = &storage[0];
        char* end = p + storage.size();
        while (p < end) {
            char* nl = static_cast<char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
            if (!nl)
                nl = end;
            *nl = '\0';
            ptrs.push_back(p);
            p = nl + 1;
        }
    }
};

void BM_Load(benchmark::State& state)
{
    Lines lines(makeText(static_cast<int>(state.range(0))));
    size_t heldBytes = 0;
    for (auto _ : state) {
        size_t before = mallinfo2().uordblks;
        OrvHandle* h = orvCreateHandle();
        const char* err = loadORVDataH(h, lines.ptrs.data(), static_cast<int>(lines.ptrs.size()));
        if (err)
            state.SkipWithError(err);
        heldBytes = mallinfo2().uordblks - before;
        state.PauseTiming();
        orvDestroyHandle(h);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * lines.ptrs.size()));
    state.counters["lines"] = static_cast<double>(lines.ptrs.size());
    state.counters["ns_per_line"] = benchmark::Counter(
        static_cast<double>(state.iterations() * lines.ptrs.size()),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["heap_MB"] = static_cast<double>(heldBytes) / 1e6;
    state.counters["bytes_per_line"] = static_cast<double>(heldBytes) / lines.ptrs.size();
}
BENCHMARK(BM_Load)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// The yardstick: split the same text into lines with getline, then each
// line into its two sides at '=' or ':', trimmed.
void BM_GetlineSplit(benchmark::State& state)
{
    const std::string text = makeText(static_cast<int>(state.range(0)));
    size_t lines = 0;
    for (auto _ : state) {
        std::istringstream in(text);
        std::string line, left, right;
        lines = 0;
        while (std::getline(in, line)) {
            ++lines;
            size_t cut = line.find('=');
            if (cut == std::string::npos)
                cut = line.find(':');
            if (cut == std::string::npos)
                cut = line.size();
            size_t b = line.find_first_not_of(" \t");
            left.assign(line, b == std::string::npos ? 0 : b, cut - (b == std::string::npos ? 0 : b));
            right.assign(line, cut < line.size() ? cut + 1 : cut, std::string::npos);
            benchmark::DoNotOptimize(left.data());
            benchmark::DoNotOptimize(right.data());
        }
    }
    state.counters["ns_per_line"] = benchmark::Counter(static_cast<double>(state.iterations() * lines),
                                                       benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_GetlineSplit)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

std::vector<std::string> pathsOf(int objects)
{
    std::vector<std::string> out;
    for (int i = 0; i < objects; ++i) {
        std::string obj = "/REGION ATLAS:Main/REGION MAP:m" + std::to_string(i / 10) + "/REGION:r" + std::to_string(i);
        out.push_back(obj);
        out.push_back(obj + "/Region List");
    }
    return out;
}

void BM_LookupOrvHash(benchmark::State& state)
{
    const auto keys = pathsOf(static_cast<int>(state.range(0)));
    OrvHash* t = orvHashCreate(1);
    for (const auto& k : keys)
        orvHashInsert(t, k.c_str(), const_cast<std::string*>(&k));
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(orvHashLookup(t, keys[i].c_str()));
        if (++i == keys.size())
            i = 0;
    }
    orvHashDestroy(t);
}
BENCHMARK(BM_LookupOrvHash)->Arg(10000)->Arg(100000);

void BM_LookupUnorderedMap(benchmark::State& state)
{
    const auto keys = pathsOf(static_cast<int>(state.range(0)));
    std::unordered_map<std::string, const void*> map;
    for (const auto& k : keys)
        map.emplace(k, &k);
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(map.find(keys[i]));
        if (++i == keys.size())
            i = 0;
    }
}
BENCHMARK(BM_LookupUnorderedMap)->Arg(10000)->Arg(100000);

// Lookups through the handle: resolution and normalisation of the path, then
// the table.
void BM_GetStringValue(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    Lines lines(makeText(n));
    OrvHandle* h = orvCreateHandle();
    loadORVDataH(h, lines.ptrs.data(), static_cast<int>(lines.ptrs.size()));
    const auto keys = pathsOf(n);
    size_t i = 1;
    for (auto _ : state) {
        char* v = nullptr;
        getStringValue(h, keys[i].c_str(), &v);
        std::free(v);
        if ((i += 2) >= keys.size())
            i = 1;
    }
    orvDestroyHandle(h);
}
BENCHMARK(BM_GetStringValue)->Arg(100000);

}  // namespace
