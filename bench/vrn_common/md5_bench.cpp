// MD5 throughput on 256 MiB, beside the system's md5sum hashing the same file.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "utilities/md5.h"

namespace {

constexpr size_t kSize = size_t{256} << 20;

// The input, made once: pseudo-random bytes in memory and the same bytes in a
// file under $TMPDIR, removed when the program ends.
struct Input {
    std::vector<unsigned char> bytes;
    std::string path;

    Input() : bytes(kSize) {
        std::uint64_t x = 0x9e3779b97f4a7c15ull;
        for (size_t i = 0; i < kSize; i += 8) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            for (int k = 0; k < 8; ++k) bytes[i + k] = static_cast<unsigned char>(x >> (8 * k));
        }
        const char* tmp = std::getenv("TMPDIR");
        path = std::string(tmp && *tmp ? tmp : "/tmp") + "/vrn_md5_bench.XXXXXX";
        int fd = mkstemp(&path[0]);
        if (fd < 0) std::abort();
        for (size_t at = 0; at < kSize;) {
            ssize_t n = write(fd, bytes.data() + at, kSize - at);
            if (n < 0) std::abort();
            at += static_cast<size_t>(n);
        }
        close(fd);
    }
    ~Input() { unlink(path.c_str()); }
};

Input& input() {
    static Input in;
    return in;
}

void BM_Md5Memory(benchmark::State& state) {
    const auto& in = input();
    unsigned char digest[16];
    for (auto _ : state) {
        vrn::MD5 context;
        vrn::MD5Init(&context);
        vrn::MD5Update(&context, in.bytes.data(), in.bytes.size());
        vrn::MD5Final(digest, &context);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSize);
}
BENCHMARK(BM_Md5Memory)->Unit(benchmark::kMillisecond)->UseRealTime();

// Reads the file in 32 KiB pieces, as md5sum does.
void BM_Md5File(benchmark::State& state) {
    const auto& in = input();
    std::vector<unsigned char> buffer(32768);
    unsigned char digest[16];
    for (auto _ : state) {
        int fd = open(in.path.c_str(), O_RDONLY | O_CLOEXEC);
        vrn::MD5 context;
        vrn::MD5Init(&context);
        ssize_t n;
        while ((n = read(fd, buffer.data(), buffer.size())) > 0)
            vrn::MD5Update(&context, buffer.data(), static_cast<size_t>(n));
        close(fd);
        vrn::MD5Final(digest, &context);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSize);
}
BENCHMARK(BM_Md5File)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Md5sumCommand(benchmark::State& state) {
    const std::string command = "md5sum '" + input().path + "' > /dev/null";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("md5sum failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSize);
}
BENCHMARK(BM_Md5sumCommand)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
