// Dataset-level work of the data-file library: small datasets written,
// located and read back interleaved as the model database does (time per
// dataset should stay flat from 10^4 to 10^5), array throughput of the
// text, binary and compressed forms beside plain fwrite and zlib's own
// compress2, and reopening with a stored index beside a forced rebuild.
#include "header_buffers.h"
#include "io_files.h"

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

int silent(const char *, int) { return 0; }

std::string scratchFile(const char *name) {
    const char *tmp = getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/kwxdatabench." + std::to_string(getpid()) + "." + name;
}

void removeFile(const std::string &path) {
    unlink(path.c_str());
    unlink((path + ".lck").c_str());
}

struct Call : iobench::HeaderBuffers {
    int64_t offsets[2] = {0, 0};
    char strings[2 * IO_STRING_LEN] = {0};
    int32_t ints[8] = {0};
    int32_t noffsets = 2, nstrings = 2, nchars = 0, nints = 8, nreals = 0, ndoubles = 0, nlogicals = 0;
    IO_data d{};
    Call() {
        d.offsets = offsets;
        d.noffsets = &noffsets;
        d.strings = strings;
        d.nstrings = &nstrings;
        d.chars = nullptr;
        d.nchars = &nchars;
        d.ints = ints;
        d.nints = &nints;
        d.nreals = &nreals;
        d.ndoubles = &ndoubles;
        d.nlogicals = &nlogicals;
    }
    void reset() {
        noffsets = 2;
        nstrings = 2;
        nints = 8;
    }
};

int openFile(IO_control *c, const std::string &path) {
    Call call;
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    call.d.chars = name.data();
    call.nchars = 0;
    return iocntc(IO_OPEN_PRIMARY, silent, &call.h, &call.d, c);
}

void closeFile(IO_control *c) {
    Call call;
    iocntc(IO_CLOSE_ALL, silent, &call.h, &call.d, c);
}

// A new control block with the file, made anew, open as its primary.
IO_control *openFresh(const std::string &path) {
    removeFile(path);
    IO_control *c = iocontrol_alloc();
    openFile(c, path);
    return c;
}

// Closes the files of the control block and frees it.
void closeAndFree(IO_control *c) {
    closeFile(c);
    iocontrol_free(c);
}

// Each step writes one small dataset under a UUID-like name, locates an
// earlier one and reads it back, as a model database field write and read do.
void BM_SmallDatasetsInterleaved(benchmark::State &state) {
    const int n = static_cast<int>(state.range(0));
    for (auto _ : state) {
        std::string path = scratchFile("interleaved");
        IO_control *c = openFresh(path);
        Call call;
        for (int i = 0; i < n; ++i) {
            call.reset();
            snprintf(call.what, sizeof call.what, "field%03d", i % 50);
            snprintf(call.where, sizeof call.where, "%08x-%04x", unsigned(i * 2654435761u), unsigned(i));
            call.when = 1;
            call.number = 4;
            for (int k = 0; k < 4; ++k) call.ints[k] = i + k;
            strcpy(call.datatype, "INTR");
            if (iocntc(IO_WRITE_DS, silent, &call.h, &call.d, c) != 0) state.SkipWithError("write failed");
            int j = (i * 7) % (i + 1);
            call.reset();
            snprintf(call.what, sizeof call.what, "field%03d", j % 50);
            snprintf(call.where, sizeof call.where, "%08x-%04x", unsigned(j * 2654435761u), unsigned(j));
            call.when = -2;
            if (iocntc(IO_LOCATE_DS, silent, &call.h, &call.d, c) != 0) state.SkipWithError("locate failed");
            call.noffsets = 2;
            call.nints = 8;
            if (iocntc(IO_READ_DS, silent, &call.h, &call.d, c) != 0) state.SkipWithError("read failed");
        }
        closeAndFree(c);
        removeFile(path);
    }
    // Seconds per dataset (write, locate and read).
    state.counters["s_per_dataset"] = benchmark::Counter(
        double(n) * double(state.iterations()), benchmark::Counter::kIsIterationInvariantRate |
                                                     benchmark::Counter::kInvert);
}
BENCHMARK(BM_SmallDatasetsInterleaved)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1);

const int64_t kArrayBytes = 100000000;  // 10^8 bytes of doubles

std::vector<double> &arrayData() {
    static std::vector<double> v = [] {
        std::vector<double> d(size_t(kArrayBytes / 8));
        for (size_t i = 0; i < d.size(); ++i) d[i] = double(i % 1000) * 0.001 + double(i / 1000);
        return d;
    }();
    return v;
}

// One dataset holding the whole array, written with write_dataset.
void writeArray(benchmark::State &state, const char *format) {
    std::vector<double> &v = arrayData();
    std::string path = scratchFile(format);
    for (auto _ : state) {
        FILE *fp = fopen(path.c_str(), "w+b");
        IO_file rec;
        memset(&rec, 0, sizeof rec);
        rec.stream = fp;
        rec.offsetwidth = 20;
        rec.routine = silent;
        if (indextable_alloc(&rec) != 0) abort();
        char what[IO_WHAT_SIZE] = "array", where[IO_WHERE_SIZE] = "bench", datatype[IO_DATATYPE_SIZE] = "DBLE";
        char attributes[IO_ATTRIB_LEN] = {0};
        int32_t when = 0, numattrb = 0, number = int32_t(v.size()), blockfactor = 1;
        IO_header h{what, where, &when, &numattrb, attributes, &number, datatype, &blockfactor};
        int32_t ndoubles = number;
        IO_data d{};
        d.doubles = v.data();
        d.ndoubles = &ndoubles;
        if (write_dataset(silent, format, &h, &d, &rec) != 0) state.SkipWithError("write failed");
        fflush(fp);
        filerec_release(&rec);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kArrayBytes);
    unlink(path.c_str());
}

void BM_ArrayText(benchmark::State &state) { writeArray(state, "F"); }
void BM_ArrayBinary(benchmark::State &state) { writeArray(state, "u"); }
void BM_ArrayCompressed(benchmark::State &state) { writeArray(state, "u5"); }
BENCHMARK(BM_ArrayText)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_ArrayBinary)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ArrayCompressed)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ArrayPlainFwrite(benchmark::State &state) {
    std::vector<double> &v = arrayData();
    std::string path = scratchFile("fwrite");
    for (auto _ : state) {
        FILE *fp = fopen(path.c_str(), "wb");
        fwrite(v.data(), 8, v.size(), fp);
        fclose(fp);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kArrayBytes);
    unlink(path.c_str());
}
BENCHMARK(BM_ArrayPlainFwrite)->Unit(benchmark::kMillisecond)->Iterations(3);

// zlib alone at the same level over the same bytes, in the same blocks of
// 100000 records that the library compresses, written to a file.
void BM_ArrayCompress2(benchmark::State &state) {
    std::vector<double> &v = arrayData();
    std::string path = scratchFile("compress2");
    std::vector<Bytef> out(compressBound(100000 * 8));
    for (auto _ : state) {
        FILE *fp = fopen(path.c_str(), "wb");
        for (size_t at = 0; at < v.size(); at += 100000) {
            size_t n = std::min<size_t>(100000, v.size() - at);
            uLongf len = uLongf(out.size());
            compress2(out.data(), &len, reinterpret_cast<const Bytef *>(v.data() + at), uLong(n * 8), 5);
            fwrite(out.data(), 1, len, fp);
        }
        fclose(fp);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kArrayBytes);
    unlink(path.c_str());
}
BENCHMARK(BM_ArrayCompress2)->Unit(benchmark::kMillisecond)->Iterations(3);

// A file of n small datasets, closed with its index.
std::string fileOf(int n) {
    std::string path = scratchFile(("reopen" + std::to_string(n)).c_str());
    IO_control *c = openFresh(path);
    Call call;
    for (int i = 0; i < n; ++i) {
        call.reset();
        snprintf(call.what, sizeof call.what, "w%06d", i);
        strcpy(call.where, "x");
        call.number = 1;
        strcpy(call.datatype, "INTR");
        iocntc(IO_WRITE_DS, silent, &call.h, &call.d, c);
    }
    closeAndFree(c);
    return path;
}

// A record over the file opened for reading, before its index is loaded.
IO_file readRecord(const std::string &path) {
    IO_file rec;
    memset(&rec, 0, sizeof rec);
    rec.routine = silent;
    rec.offsetwidth = 20;
    rec.stream = fopen(path.c_str(), "rb");
    return rec;
}

void BM_ReopenStoredIndex(benchmark::State &state) {
    std::string path = fileOf(int(state.range(0)));
    for (auto _ : state) {
        IO_file rec = readRecord(path);
        if (create_indextable(silent, &rec) != 0) state.SkipWithError("index not read");
        filerec_release(&rec);
    }
    removeFile(path);
}
BENCHMARK(BM_ReopenStoredIndex)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_ReopenForcedRebuild(benchmark::State &state) {
    std::string path = fileOf(int(state.range(0)));
    for (auto _ : state) {
        IO_file rec = readRecord(path);
        if (recreate_indextable(silent, &rec) != 0) state.SkipWithError("rebuild failed");
        filerec_release(&rec);
    }
    removeFile(path);
}
BENCHMARK(BM_ReopenForcedRebuild)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
