// Names from UTF-8 to printed-quotable text and back, beside a plain byte
// copy of the same text. The first pair runs on 10^6 mixed names; the
// second keeps the text at 16 MiB while the names grow, to show that the
// cost follows the length of the text.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support/memory.h"
#include "utilities/unicode_string.h"

namespace {

// Pieces of names: plain words, digits, punctuation, accented Latin, Greek,
// CJK and a four-byte emoji.
const char* const kPieces[] = {"Inlet", " ", "wall", "12", "(main)", "r\xC3\xA9gion", "%",
                               "\xCE\xB1\xCE\xB2", "\xE5\x85\xA5\xE5\x8F\xA3", "_",
                               "\xF0\x9F\x94\xA5", "outlet", "#3", "Fl\xC3\xBCgel", ","};

// count names of about `length` bytes each, built from the pieces.
std::vector<std::string> makeNames(size_t count, size_t length) {
    std::vector<std::string> names(count);
    std::uint32_t x = 2463534242u;
    for (std::string& name : names) {
        while (name.size() < length) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            name += kPieces[x % (sizeof kPieces / sizeof kPieces[0])];
        }
    }
    return names;
}

size_t totalBytes(const std::vector<std::string>& names) {
    size_t n = 0;
    for (const std::string& s : names) n += s.size();
    return n;
}

const std::vector<std::string>& mixedNames() {
    static const std::vector<std::string> names = makeNames(1000000, 16);
    return names;
}

void copyAll(benchmark::State& state, const std::vector<std::string>& names) {
    std::vector<char> out(totalBytes(names));
    for (auto _ : state) {
        char* p = out.data();
        for (const std::string& s : names) {
            std::memcpy(p, s.data(), s.size());
            p += s.size();
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * totalBytes(names)));
}

void roundTripAll(benchmark::State& state, const std::vector<std::string>& names) {
    UnicodeString* s = UnicodeString_new();
    for (auto _ : state) {
        for (const std::string& name : names) {
            if (!UnicodeString_fromUTF8(s, name.c_str())) state.SkipWithError("utf8");
            char* pq = UnicodeString_toPrintedQuotable(s, '%', 2);
            if (!UnicodeString_fromPrintedQuotable(s, '%', pq)) state.SkipWithError("pq");
            char* back = UnicodeString_toUTF8(s);
            benchmark::DoNotOptimize(back);
            vrnFree(pq, "bench");
            vrnFree(back, "bench");
        }
    }
    UnicodeString_delete(s);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * totalBytes(names)));
}

void BM_MixedNames_PlainCopy(benchmark::State& state) { copyAll(state, mixedNames()); }
void BM_MixedNames_PrintedQuotableRoundTrip(benchmark::State& state) {
    roundTripAll(state, mixedNames());
}

// 16 MiB of text in names of state.range(0) bytes.
std::vector<std::string> namesOfLength(int64_t length) {
    return makeNames((size_t{16} << 20) / static_cast<size_t>(length), static_cast<size_t>(length));
}

void BM_ByLength_PlainCopy(benchmark::State& state) { copyAll(state, namesOfLength(state.range(0))); }
void BM_ByLength_PrintedQuotableRoundTrip(benchmark::State& state) {
    roundTripAll(state, namesOfLength(state.range(0)));
}

}  // namespace

BENCHMARK(BM_MixedNames_PlainCopy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MixedNames_PrintedQuotableRoundTrip)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ByLength_PlainCopy)->Arg(64)->Arg(1024)->Arg(16384)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ByLength_PrintedQuotableRoundTrip)->Arg(64)->Arg(1024)->Arg(16384)->Unit(benchmark::kMillisecond);
