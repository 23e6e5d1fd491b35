// Listing the bases of a file of 1,000 bases: through the exported query,
// and through the five CGNS calls made directly, which is the floor the
// query's own work (emptying, widening, storing names) is measured against.
#include <benchmark/benchmark.h>
#include <cgnslib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "VRNUtilities.h"

namespace {

constexpr int kBases = 1000;

// A file of 1,000 bases in the given form, written once per process and
// removed at exit.
class BigFile {
public:
    explicit BigFile(int type) {
        char pattern[] = "/tmp/vrn_bench_XXXXXX";
        const int fd = mkstemp(pattern);
        if (fd < 0) throw std::runtime_error("mkstemp");
        close(fd);
        path_ = pattern;
        int fn = 0;
        if (cg_set_file_type(type) != 0 || cg_open(path_.c_str(), CG_MODE_WRITE, &fn) != 0)
            throw std::runtime_error(cg_get_error());
        for (int i = 1; i <= kBases; ++i) {
            char name[33];
            std::snprintf(name, sizeof name, "Base%04d", i);
            int b = 0;
            if (cg_base_write(fn, name, 3, 3, &b) != 0) throw std::runtime_error(cg_get_error());
        }
        cg_close(fn);
    }
    ~BigFile() { std::remove(path_.c_str()); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

const std::string& bigFile(int type) {
    static BigFile adf(CG_FILE_ADF);
    static BigFile hdf5(CG_FILE_HDF5);
    return type == CG_FILE_ADF ? adf.path() : hdf5.path();
}

void ThroughExportedQuery(benchmark::State& state) {
    const std::string& file = bigFile(static_cast<int>(state.range(0)));
    int count = 0;
    std::vector<int> indices;
    std::vector<std::basic_string<unsigned short> > names;
    for (auto _ : state) {
        ylt::VRNUtilities::getBasesFromCGNSFile(file, count, indices, names);
        benchmark::DoNotOptimize(names.data());
    }
    if (count != kBases) state.SkipWithError("wrong base count");
}

void ThroughCgnsCallsDirectly(benchmark::State& state) {
    const std::string& file = bigFile(static_cast<int>(state.range(0)));
    int read = 0;
    for (auto _ : state) {
        int fn = 0;
        int n = 0;
        read = 0;
        if (cg_open(file.c_str(), CG_MODE_READ, &fn) != 0) {
            state.SkipWithError(cg_get_error());
            break;
        }
        cg_nbases(fn, &n);
        for (int b = 1; b <= n; ++b) {
            char name[33];
            int cell = 0;
            int phys = 0;
            if (cg_base_read(fn, b, name, &cell, &phys) == 0) ++read;
            benchmark::DoNotOptimize(name);
        }
        cg_close(fn);
    }
    if (read != kBases) state.SkipWithError("wrong base count");
}

// Argument: the file's form (CG_FILE_ADF or CG_FILE_HDF5).
BENCHMARK(ThroughExportedQuery)->Arg(CG_FILE_ADF)->Arg(CG_FILE_HDF5)->Unit(benchmark::kMillisecond);
BENCHMARK(ThroughCgnsCallsDirectly)->Arg(CG_FILE_ADF)->Arg(CG_FILE_HDF5)->Unit(benchmark::kMillisecond);

}  // namespace
