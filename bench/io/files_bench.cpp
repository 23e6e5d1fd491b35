// Whole-file work of the data-file library: compaction, wildcard location,
// opening a file with a large stored index, and writing then locating small
// datasets; each beside the same work done with SQLite (one row per dataset)
// when SQLite is available.
#include "header_buffers.h"
#include "io_files.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#ifdef KWXIO_BENCH_SQLITE
#include <sqlite3.h>
#endif

namespace {

int quiet(const char *, int) { return 0; }

// A fresh folder under $TMPDIR, removed with its files at the end.
class Scratch {
public:
    Scratch() {
        const char *tmp = getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kwxbench.XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (mkdtemp(buf.data())) path_ = buf.data();
    }
    ~Scratch() {
        if (!path_.empty()) {
            std::string cmd = "rm -rf '" + path_ + "'";
            if (system(cmd.c_str()) != 0) {
            }
        }
    }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

struct Request : iobench::HeaderBuffers {
    std::vector<int64_t> offsets = std::vector<int64_t>(2);
    std::vector<char> strings = std::vector<char>(2 * IO_STRING_LEN);
    std::vector<char> chars;
    std::vector<int32_t> ints = std::vector<int32_t>(1);
    int32_t noffsets = 2, nstrings = 2, nchars = 0, nints = 1, nreals = 0, ndoubles = 0,
            nlogicals = 0;
    IO_data d{};

    Request() { bind(); }
    void bind() {
        d = IO_data{offsets.data(), &noffsets, strings.data(), &nstrings,
                    chars.empty() ? nullptr : chars.data(), &nchars, ints.data(), &nints,
                    nullptr, &nreals, nullptr, &ndoubles, nullptr, &nlogicals};
    }
    void name(const char *w, const char *r, int32_t t) {
        snprintf(what, sizeof what, "%s", w);
        snprintf(where, sizeof where, "%s", r);
        when = t;
    }
    void room(int n) {
        offsets.assign((size_t)2 * n, 0);
        strings.assign((size_t)2 * n * IO_STRING_LEN, 0);
        ints.assign((size_t)n, 0);
        noffsets = nstrings = 2 * n;
        nints = n;
        bind();
    }
};

class Kwx {
public:
    Kwx() : c_(iocontrol_alloc()) {}
    ~Kwx() {
        close();
        iocontrol_free(c_);
    }
    int open(const std::string &file, int request = IO_OPEN_PRIMARY) {
        Request r;
        r.chars.assign(file.begin(), file.end());
        r.chars.push_back('\0');
        r.nchars = (int32_t)file.size();
        r.bind();
        return iocntc(request, quiet, &r.h, &r.d, c_);
    }
    int close() {
        Request r;
        return iocntc(IO_CLOSE_ALL, quiet, &r.h, &r.d, c_);
    }
    int write(const char *what, const char *where, int32_t when, int32_t value) {
        w_.name(what, where, when);
        w_.number = 4;
        w_.ints.assign({value, value + 1, value + 2, value + 3});
        w_.nints = 4;
        w_.bind();
        return iocntc(IO_WRITE_DS, quiet, &w_.h, &w_.d, c_);
    }
    // Number of matches, or -1.
    int locate(const char *what, const char *where, int32_t when) {
        l_.name(what, where, when);
        int rc = iocntc(IO_LOCATE_DS, quiet, &l_.h, &l_.d, c_);
        if (rc == IO_ERR_MEMORY) {
            l_.room(l_.nints);
            rc = iocntc(IO_LOCATE_DS, quiet, &l_.h, &l_.d, c_);
        }
        return rc == IO_OK ? l_.nints : rc == IO_ERR_NOTLOCATED ? 0 : -1;
    }
    int erase(const char *what, const char *where, int32_t when) {
        Request r;
        r.name(what, where, when);
        return iocntc(IO_DELETE_DS, quiet, &r.h, &r.d, c_);
    }
    int copyAll() {
        Request r;
        return iocntc(IO_COPY_ALLVALID_DS, quiet, &r.h, &r.d, c_);
    }

private:
    IO_control *c_;
    Request w_, l_;
};

std::string dsName(int i) {
    char buf[32];
    snprintf(buf, sizeof buf, "field%07d", i);
    return buf;
}

// A file of n small datasets.
void makeFile(const std::string &file, int n) {
    Kwx k;
    k.open(file);
    for (int i = 0; i < n; ++i) k.write(dsName(i).c_str(), "region", i % 7, i);
    k.close();
}

long fileSize(const std::string &file) {
    FILE *f = fopen(file.c_str(), "rb");
    if (!f) return -1;
    fseek(f, 0, SEEK_END);
    long n = ftell(f);
    fclose(f);
    return n;
}

// Compaction: copy the live half of n datasets into a new file.
void BM_Compaction(benchmark::State &state) {
    int n = (int)state.range(0);
    Scratch dir;
    std::string src = dir.file("src.kwx");
    makeFile(src, n);
    {
        Kwx k;
        k.open(src);
        k.erase("field*[13579]", "region", -1);
        k.close();
    }
    long out = 0;
    for (auto _ : state) {
        std::string dst = dir.file("dst.kwx");
        unlink(dst.c_str());
        Kwx k;
        k.open(src);
        k.open(dst, IO_OPEN_SECONDARY);
        if (k.copyAll() != IO_OK) state.SkipWithError("copy failed");
        k.close();
        out = fileSize(dst);
    }
    state.counters["datasets"] = n;
    state.counters["in_bytes"] = (double)fileSize(src);
    state.counters["out_bytes"] = (double)out;
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_Compaction)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3);

// Location by wildcard over a file of n index lines, file open throughout.
void BM_LocateWildcard(benchmark::State &state) {
    int n = (int)state.range(0);
    Scratch dir;
    std::string src = dir.file("src.kwx");
    makeFile(src, n);
    Kwx k;
    k.open(src);
    int found = 0;
    int i = 0;
    for (auto _ : state) {
        // WHAT pattern: the WHERE-ordered view and a filter; both patterns: a scan.
        std::string pattern = dsName((i++ * 7919) % n).substr(0, 10) + "*";
        found += k.locate(pattern.c_str(), "region", -1);
        found += k.locate("field00000?[0-4]", "reg*", 3);
    }
    benchmark::DoNotOptimize(found);
    state.counters["lines"] = n;
}
BENCHMARK(BM_LocateWildcard)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// Opening and closing a file whose stored index has n lines.
void BM_OpenClose(benchmark::State &state) {
    int n = (int)state.range(0);
    Scratch dir;
    std::string src = dir.file("src.kwx");
    makeFile(src, n);
    for (auto _ : state) {
        Kwx k;
        if (k.open(src) != IO_OK) state.SkipWithError("open failed");
        if (k.locate(dsName(n / 2).c_str(), "region", -1) != 1) state.SkipWithError("locate");
        k.close();
    }
    state.counters["lines"] = n;
}
BENCHMARK(BM_OpenClose)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// A file of n names, each written twice, and the same bytes kept aside:
// the work below retires the older copies, which changes the file, so every
// round starts from the kept bytes (restored outside the timing).
struct WrittenTwice {
    Scratch dir;
    std::string file = dir.file("twice.kwx"), kept;
    explicit WrittenTwice(int n) {
        Kwx k;
        k.open(file);
        for (int round = 0; round < 2; ++round)
            for (int i = 0; i < n; ++i) k.write(dsName(i).c_str(), "region", i % 7, i + round);
        k.close();
        kept = read(file);
    }
    void restore() const {
        FILE *f = fopen(file.c_str(), "wb");
        if (f) {
            fwrite(kept.data(), 1, kept.size(), f);
            fclose(f);
        }
    }
    static std::string read(const std::string &name) {
        std::string bytes;
        FILE *f = fopen(name.c_str(), "rb");
        if (!f) return bytes;
        char buf[1 << 16];
        for (size_t got; (got = fread(buf, 1, sizeof buf, f)) > 0;) bytes.append(buf, got);
        fclose(f);
        return bytes;
    }
};

// Locating every name of a file whose names were each written twice: each
// locate retires the older copy of its name.
void BM_LocateEachNameWrittenTwice(benchmark::State &state) {
    int n = (int)state.range(0);
    WrittenTwice file(n);
    for (auto _ : state) {
        state.PauseTiming();
        file.restore();
        state.ResumeTiming();
        Kwx k;
        k.open(file.file);
        for (int i = 0; i < n; ++i)
            if (k.locate(dsName(i).c_str(), "region", -1) != 1) state.SkipWithError("locate");
        k.close();
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_LocateEachNameWrittenTwice)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(3);

// Compacting a file whose names were each written twice: the newer copies.
void BM_CompactionNamesWrittenTwice(benchmark::State &state) {
    int n = (int)state.range(0);
    WrittenTwice file(n);
    std::string dst = file.dir.file("dst.kwx");
    for (auto _ : state) {
        state.PauseTiming();
        file.restore();
        unlink(dst.c_str());
        state.ResumeTiming();
        Kwx k;
        k.open(file.file);
        k.open(dst, IO_OPEN_SECONDARY);
        if (k.copyAll() != IO_OK) state.SkipWithError("copy failed");
        k.close();
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_CompactionNamesWrittenTwice)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(3);

// Writing small datasets, each located right after it is written, as the
// model database does.
void BM_WriteThenLocate(benchmark::State &state) {
    int n = (int)state.range(0);
    Scratch dir;
    for (auto _ : state) {
        std::string file = dir.file("w.kwx");
        unlink(file.c_str());
        Kwx k;
        k.open(file);
        for (int i = 0; i < n; ++i) {
            std::string name = dsName(i);
            k.write(name.c_str(), "region", 1, i);
            if (k.locate(name.c_str(), "region", -2) != 1) state.SkipWithError("locate");
        }
        k.close();
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_WriteThenLocate)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1);

#ifdef KWXIO_BENCH_SQLITE

// The same work with SQLite: one row per dataset, keyed by its name, the
// data as a blob; no syncing to disk (the data files do not sync either).
class Lite {
public:
    explicit Lite(const std::string &file) {
        sqlite3_open(file.c_str(), &db_);
        exec("PRAGMA synchronous=OFF");
        exec("PRAGMA journal_mode=MEMORY");
        exec("CREATE TABLE IF NOT EXISTS ds(what TEXT, loc TEXT, time INTEGER, data BLOB, "
             "PRIMARY KEY(what, loc, time))");
    }
    ~Lite() {
        for (sqlite3_stmt *s : {insert_, select_, latest_}) sqlite3_finalize(s);
        sqlite3_close(db_);
    }
    void exec(const char *sql) { sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }
    void begin() { exec("BEGIN"); }
    void commit() { exec("COMMIT"); }
    void write(const std::string &what, const char *loc, int time, int32_t value) {
        if (!insert_)
            sqlite3_prepare_v2(db_, "INSERT OR REPLACE INTO ds VALUES(?,?,?,?)", -1, &insert_,
                               nullptr);
        int32_t data[4] = {value, value + 1, value + 2, value + 3};
        sqlite3_bind_text(insert_, 1, what.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert_, 2, loc, -1, SQLITE_STATIC);
        sqlite3_bind_int(insert_, 3, time);
        sqlite3_bind_blob(insert_, 4, data, sizeof data, SQLITE_TRANSIENT);
        sqlite3_step(insert_);
        sqlite3_reset(insert_);
    }
    int latest(const std::string &what, const char *loc) {
        if (!latest_)
            sqlite3_prepare_v2(db_,
                               "SELECT time, length(data) FROM ds WHERE what=? AND loc=? ORDER BY "
                               "time DESC",
                               -1, &latest_, nullptr);
        return countRows(latest_, what, loc);
    }
    int glob(const std::string &what, const char *loc) {
        if (!select_)
            sqlite3_prepare_v2(db_, "SELECT what, loc, time FROM ds WHERE what GLOB ? AND loc=?",
                               -1, &select_, nullptr);
        return countRows(select_, what, loc);
    }

private:
    // Runs a query on (what, loc) to its end and counts the rows.
    static int countRows(sqlite3_stmt *query, const std::string &what, const char *loc) {
        sqlite3_bind_text(query, 1, what.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(query, 2, loc, -1, SQLITE_STATIC);
        int n = 0;
        while (sqlite3_step(query) == SQLITE_ROW) ++n;
        sqlite3_reset(query);
        return n;
    }

    sqlite3 *db_ = nullptr;
    sqlite3_stmt *insert_ = nullptr, *select_ = nullptr, *latest_ = nullptr;
};

void makeLite(const std::string &file, int n) {
    Lite l(file);
    l.begin();
    for (int i = 0; i < n; ++i) l.write(dsName(i), "region", i % 7, i);
    l.commit();
}

void BM_SqliteCompaction(benchmark::State &state) {
    int n = (int)state.range(0);
    Scratch dir;
    std::string src = dir.file("src.db");
    for (auto _ : state) {
        state.PauseTiming();
        unlink(src.c_str());
        makeLite(src, n);
        {
            Lite l(src);
            l.exec("DELETE FROM ds WHERE what GLOB 'field*[13579]'");
        }
        state.ResumeTiming();
        Lite l(src);
        l.exec("VACUUM");
    }
    state.counters["datasets"] = n;
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_SqliteCompaction)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_SqliteLocateWildcard(benchmark::State &state) {
    int n = (int)state.range(0);
    Scratch dir;
    std::string src = dir.file("src.db");
    makeLite(src, n);
    Lite l(src);
    int found = 0, i = 0;
    for (auto _ : state) {
        std::string pattern = dsName((i++ * 7919) % n).substr(0, 10) + "*";
        found += l.glob(pattern, "region");
        found += l.glob("field00000?[0-4]", "region");
    }
    benchmark::DoNotOptimize(found);
}
BENCHMARK(BM_SqliteLocateWildcard)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_SqliteOpenClose(benchmark::State &state) {
    int n = (int)state.range(0);
    Scratch dir;
    std::string src = dir.file("src.db");
    makeLite(src, n);
    for (auto _ : state) {
        Lite l(src);
        if (l.latest(dsName(n / 2), "region") != 1) state.SkipWithError("select");
    }
}
BENCHMARK(BM_SqliteOpenClose)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_SqliteWriteThenLocate(benchmark::State &state) {
    int n = (int)state.range(0);
    Scratch dir;
    for (auto _ : state) {
        std::string file = dir.file("w.db");
        unlink(file.c_str());
        Lite l(file);
        l.begin();
        for (int i = 0; i < n; ++i) {
            std::string name = dsName(i);
            l.write(name, "region", 1, i);
            if (l.latest(name, "region") != 1) state.SkipWithError("select");
        }
        l.commit();
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_SqliteWriteThenLocate)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1);

// The same with each row committed on its own: then, like each dataset of a
// data file once written, a row is in the file and survives a crash of the
// writer (neither syncs to disk).
void BM_SqliteWriteThenLocateEachCommitted(benchmark::State &state) {
    int n = (int)state.range(0);
    Scratch dir;
    for (auto _ : state) {
        std::string file = dir.file("c.db");
        unlink(file.c_str());
        Lite l(file);
        for (int i = 0; i < n; ++i) {
            std::string name = dsName(i);
            l.write(name, "region", 1, i);
            if (l.latest(name, "region") != 1) state.SkipWithError("select");
        }
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_SqliteWriteThenLocateEachCommitted)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1);

#endif

}  // namespace
