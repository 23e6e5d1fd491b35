// HashTable against std::unordered_map on 10^6 string keys (insert, lookup,
// remove), and Dictionary_makeKeyUnique on one base name.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "support/dictionary.h"
#include "support/hash_table.h"
#include "support/memory.h"

namespace {

constexpr int kKeys = 1000000;

const std::vector<std::string>& keys() {
    static const std::vector<std::string> k = [] {
        std::vector<std::string> v;
        v.reserve(kKeys);
        for (int i = 0; i < kKeys; ++i) v.push_back("Region/part_" + std::to_string(i * 2654435761u));
        return v;
    }();
    return k;
}

HashTable* filledTable() {
    HashTable* t = HashTable_new(0, nullptr, nullptr);
    for (auto& k : keys()) HashTable_newHashEntry(t, const_cast<char*>(k.c_str()), nullptr);
    return t;
}

std::unordered_map<std::string, void*> filledMap() {
    std::unordered_map<std::string, void*> m;
    for (auto& k : keys()) m.emplace(k, nullptr);
    return m;
}

void BM_HashTable_Insert(benchmark::State& state) {
    keys();
    for (auto _ : state) {
        HashTable* t = filledTable();
        state.PauseTiming();
        HashTable_delete(t);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kKeys);
}

void BM_UnorderedMap_Insert(benchmark::State& state) {
    keys();
    for (auto _ : state) {
        auto* m = new std::unordered_map<std::string, void*>(filledMap());
        state.PauseTiming();
        delete m;
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kKeys);
}

void BM_HashTable_Lookup(benchmark::State& state) {
    HashTable* t = filledTable();
    for (auto _ : state)
        for (auto& k : keys()) benchmark::DoNotOptimize(HashTable_lookup(t, k.c_str(), nullptr, nullptr));
    state.SetItemsProcessed(state.iterations() * kKeys);
    HashTable_delete(t);
}

// The same lookups with copies of the keys: every comparison reads the
// stored text, as for a caller whose key is not the stored pointer.
void BM_HashTable_LookupCopies(benchmark::State& state) {
    HashTable* t = filledTable();
    const std::vector<std::string> copies = keys();
    for (auto _ : state)
        for (auto& k : copies) benchmark::DoNotOptimize(HashTable_lookup(t, k.c_str(), nullptr, nullptr));
    state.SetItemsProcessed(state.iterations() * kKeys);
    HashTable_delete(t);
}

void BM_UnorderedMap_Lookup(benchmark::State& state) {
    auto m = filledMap();
    for (auto _ : state)
        for (auto& k : keys()) benchmark::DoNotOptimize(m.find(k));
    state.SetItemsProcessed(state.iterations() * kKeys);
}

void BM_HashTable_Remove(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        HashTable* t = filledTable();
        state.ResumeTiming();
        for (auto& k : keys()) HashTable_remove(t, k.c_str());
        state.PauseTiming();
        HashTable_delete(t);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kKeys);
}

void BM_UnorderedMap_Remove(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto m = filledMap();
        state.ResumeTiming();
        for (auto& k : keys()) m.erase(k);
        state.PauseTiming();
        m = {};
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kKeys);
}

BENCHMARK(BM_HashTable_Insert)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnorderedMap_Insert)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HashTable_Lookup)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HashTable_LookupCopies)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnorderedMap_Lookup)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HashTable_Remove)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnorderedMap_Remove)->Unit(benchmark::kMillisecond);

char* owned(const char* text) {
    char* copy = static_cast<char*>(vrnMalloc(static_cast<int>(std::strlen(text) + 1), "bench"));
    std::strcpy(copy, text);
    return copy;
}

// One call against a dictionary already holding Region, Region 1, ...,
// Region (N-1): the time of a single call at size N.
void BM_MakeKeyUnique_AtSize(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    Dictionary* dict = Dictionary_new(1);
    Dictionary_add(dict, "Region", nullptr);
    for (int i = 1; i < n; ++i) Dictionary_add(dict, ("Region " + std::to_string(i)).c_str(), nullptr);
    for (auto _ : state) {
        char* key = owned("Region");
        Dictionary_makeKeyUnique(dict, &key, 0, 1);
        vrnFree(key, "bench");
    }
    Dictionary_delete(dict);
}

// 10^4 calls on one base name, each result added: the whole sequence.
void BM_MakeKeyUnique_Sequence(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    for (auto _ : state) {
        Dictionary* dict = Dictionary_new(1);
        for (int i = 0; i < n; ++i) {
            char* key = owned("Region");
            Dictionary_makeKeyUnique(dict, &key, 0, 1);
            Dictionary_add(dict, key, nullptr);
            vrnFree(key, "bench");
        }
        Dictionary_delete(dict);
    }
    state.SetItemsProcessed(state.iterations() * n);
}

BENCHMARK(BM_MakeKeyUnique_AtSize)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MakeKeyUnique_Sequence)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
