// A model of n regions (10^3, 10^4, 5*10^4) with names and links: each
// edit adds a region to the topology (a default name), to an assembly (one
// per 100 regions) and glues it to the previous region; a state is closed
// every 100 edits. Then reopening, one undo and redo touching m regions and
// closing with the purge to one state. Twins store the same rows in SQLite
// (where, what, when, value) with an index on (where, what, when): the
// small fields of each edit and, at each closed state, the collections the
// model writes whole (the topology's region set, the name manager's name
// and object lists, the touched assembly and gluing sets).
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "model/repository.h"
#include "errors/error_manager.h"
#include "topology/name_manager.h"
#include "topology/topology.h"

namespace {

const int kEditsPerState = 100;

std::string scratchFile(const std::string& name) {
    const char* tmp = getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/vrntopobench." + std::to_string(getpid()) + "." + name;
}

void removeFile(const std::string& path) {
    unlink(path.c_str());
    unlink((path + ".lck").c_str());
}

double fileSize(const std::string& path) {
    struct stat s;
    return stat(path.c_str(), &s) == 0 ? static_cast<double>(s.st_size) : 0;
}

struct Built {
    Repository* repository;
    std::vector<Region*> regions;
};

Repository* openRepository(const std::string& path) {
    Repository* r = Repository_new(path.c_str());
    if (!r) abort();
    return r;
}

void closeRepository(Repository* r, int mode) {
    vrnStateManager* m = r->stateManager;
    vrnStateManager_closeDatabase(m, mode);
    vrnStateManager_delete(m);
    vrnApp_clearErrors();
}

void addRegions(Built& b, int n) {
    Topology* t = b.repository->primaryModel->topology;
    vrnStateManager* m = b.repository->stateManager;
    Assembly* assembly = nullptr;
    for (int i = 0; i < n; ++i) {
        if (i % kEditsPerState == 0) assembly = Assembly_new(t, "Part");
        Region* r = Region_new(2, nullptr);
        Topology_addRegion(t, r, nullptr);
        Assembly_addRegion(assembly, r);
        if (!b.regions.empty() && b.regions.back()->assembly == assembly) Region_glue(b.regions.back(), r, 0);
        b.regions.push_back(r);
        if ((i + 1) % kEditsPerState == 0) vrnStateManager_closeState(m);
    }
    vrnStateManager_closeState(m);
}

// Only the edits are timed.
void BM_TopologyWrite(benchmark::State& state) {
    int n = static_cast<int>(state.range(0));
    std::string path = scratchFile("write.vrn");
    double size = 0;
    for (auto _ : state) {
        state.PauseTiming();
        removeFile(path);
        Built b{openRepository(path), {}};
        state.ResumeTiming();
        addRegions(b, n);
        state.PauseTiming();
        closeRepository(b.repository, -1);
        size = fileSize(path);
        state.ResumeTiming();
    }
    removeFile(path);
    state.SetItemsProcessed(state.iterations() * n);
    state.counters["file_MB"] = size / 1e6;
}
BENCHMARK(BM_TopologyWrite)->Arg(1000)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_TopologyReopen(benchmark::State& state) {
    int n = static_cast<int>(state.range(0));
    std::string path = scratchFile("reopen.vrn");
    removeFile(path);
    Built b{openRepository(path), {}};
    addRegions(b, n);
    closeRepository(b.repository, -1);
    for (auto _ : state) {
        Repository* r = openRepository(path);
        state.PauseTiming();
        closeRepository(r, -1);
        state.ResumeTiming();
    }
    removeFile(path);
}
BENCHMARK(BM_TopologyReopen)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(1);

// One state that changes the priority of m regions of a 10^4-region model,
// undone and redone.
void BM_TopologyUndoRedo(benchmark::State& state) {
    int touched = static_cast<int>(state.range(0));
    std::string path = scratchFile("undo.vrn");
    removeFile(path);
    Built b{openRepository(path), {}};
    addRegions(b, 10000);
    for (int i = 0; i < touched; ++i) Region_setPriority(b.regions[i], 7);
    vrnStateManager* m = b.repository->stateManager;
    vrnStateManager_closeState(m);
    for (auto _ : state) {
        vrnStateManager_changeState(m, 1, -1);
        vrnStateManager_changeState(m, 1, 1);
    }
    closeRepository(b.repository, -1);
    removeFile(path);
}
BENCHMARK(BM_TopologyUndoRedo)->Arg(1)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

void BM_TopologyCloseWithPurge(benchmark::State& state) {
    int n = static_cast<int>(state.range(0));
    std::string path = scratchFile("purge.vrn");
    for (auto _ : state) {
        state.PauseTiming();
        removeFile(path);
        Built b{openRepository(path), {}};
        addRegions(b, n);
        state.ResumeTiming();
        closeRepository(b.repository, 1);
    }
    removeFile(path);
}
BENCHMARK(BM_TopologyCloseWithPurge)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(1);

/* ---- SQLite twins ------------------------------------------------------ */

struct Store {
    sqlite3* db = nullptr;
    sqlite3_stmt* insert = nullptr;
    explicit Store(const std::string& path) {
        unlink(path.c_str());
        sqlite3_open(path.c_str(), &db);
        exec("PRAGMA synchronous=OFF");
        exec("CREATE TABLE v (wh TEXT, wt TEXT, wn INTEGER, val BLOB)");
        exec("CREATE INDEX k ON v (wh, wt, wn)");
        sqlite3_prepare_v2(db, "INSERT INTO v VALUES (?, ?, ?, ?)", -1, &insert, nullptr);
    }
    ~Store() {
        sqlite3_finalize(insert);
        sqlite3_close(db);
    }
    void exec(const char* sql) {
        if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) abort();
    }
    void row(const std::string& where, const char* what, int when, const void* data, size_t bytes) {
        sqlite3_bind_text(insert, 1, where.c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_text(insert, 2, what, -1, SQLITE_STATIC);
        sqlite3_bind_int(insert, 3, when);
        sqlite3_bind_blob(insert, 4, data, static_cast<int>(bytes), SQLITE_STATIC);
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    void intRow(const std::string& where, const char* what, int when, int value) {
        row(where, what, when, &value, sizeof value);
    }
};

std::string uuidOf(int kind, int i) {
    char text[32];
    snprintf(text, sizeof text, "%02d%020d", kind, i);
    return text;
}

// The rows the model writes for n regions, a state every 100 edits.
void sqlWrite(Store& s, int n) {
    const std::string topology = uuidOf(1, 0), names = uuidOf(2, 0);
    std::vector<std::string> regionIds, regionNames;
    std::string assembly;
    int state = 1;
    s.exec("BEGIN");
    std::vector<std::string> touched;
    for (int i = 0; i < n; ++i) {
        if (i % kEditsPerState == 0) {
            assembly = uuidOf(3, i);
            s.intRow(assembly, "__TYPE__", state, 2);
            s.row(assembly, "topology", state, topology.data(), 22);
            s.intRow(assembly, "id", state, i / kEditsPerState + 1);
        }
        std::string id = uuidOf(4, i);
        s.intRow(id, "__TYPE__", state, 14);
        s.intRow(id, "dimensionality", state, 2);
        s.intRow(id, "id", state, i + 1);
        s.row(id, "assembly", state, assembly.data(), 22);
        s.row(id, "topology", state, topology.data(), 22);
        regionIds.push_back(id);
        regionNames.push_back("Region 2." + std::to_string(i + 1));
        touched.push_back(id);
        if (i % kEditsPerState != 0) {
            std::string c = uuidOf(5, i);
            s.intRow(c, "__TYPE__", state, 5);
            std::string sides = regionIds[i - 1] + id;
            s.row(c, "sides", state, sides.data(), 44);
            s.intRow(c, "type", state, 0);
        }
        if ((i + 1) % kEditsPerState == 0 || i + 1 == n) {
            // The collections written whole at the flush.
            std::string all, allNames;
            for (size_t k = 0; k < regionIds.size(); ++k) {
                all += regionIds[k];
                allNames += regionNames[k];
                allNames += '\0';
            }
            s.row(topology, "2D regions", state, all.data(), all.size());
            s.row(names, "names - primitive", state, allNames.data(), allNames.size());
            s.row(names, "objects", state, all.data(), all.size());
            std::string members;
            for (const std::string& t : touched) {
                members += t;
                s.row(t, "gluings", state, t.data(), 44);
            }
            s.row(assembly, "regions", state, members.data(), members.size());
            s.intRow("GLOBAL", "State - current", 0, state);
            touched.clear();
            s.exec("COMMIT");
            s.exec("BEGIN");
            ++state;
        }
    }
    s.exec("COMMIT");
}

void BM_SqliteTopologyWrite(benchmark::State& state) {
    int n = static_cast<int>(state.range(0));
    std::string path = scratchFile("write.sqlite");
    double size = 0;
    for (auto _ : state) {
        Store s(path);
        sqlWrite(s, n);
        state.PauseTiming();
        size = fileSize(path);
        state.ResumeTiming();
    }
    unlink(path.c_str());
    state.SetItemsProcessed(state.iterations() * n);
    state.counters["file_MB"] = size / 1e6;
}
BENCHMARK(BM_SqliteTopologyWrite)->Arg(1000)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond)->Iterations(1);

// Reopening reads every row at its latest state, as a rebuild does.
void BM_SqliteTopologyReopen(benchmark::State& state) {
    int n = static_cast<int>(state.range(0));
    std::string path = scratchFile("reopen.sqlite");
    {
        Store s(path);
        sqlWrite(s, n);
    }
    for (auto _ : state) {
        sqlite3* db = nullptr;
        sqlite3_open(path.c_str(), &db);
        sqlite3_stmt* q = nullptr;
        sqlite3_prepare_v2(db,
                           "SELECT v.wh, v.wt, v.val FROM v JOIN (SELECT wh, wt, MAX(wn) AS m FROM v GROUP BY wh, wt) "
                           "l ON v.wh = l.wh AND v.wt = l.wt AND v.wn = l.m",
                           -1, &q, nullptr);
        size_t bytes = 0;
        while (sqlite3_step(q) == SQLITE_ROW) bytes += static_cast<size_t>(sqlite3_column_bytes(q, 2));
        benchmark::DoNotOptimize(bytes);
        sqlite3_finalize(q);
        sqlite3_close(db);
    }
    unlink(path.c_str());
}
BENCHMARK(BM_SqliteTopologyReopen)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(1);

// Undo and redo of m changed rows: the rows of the state are found by the
// state number and each key is read again at the state before and after.
void BM_SqliteTopologyUndoRedo(benchmark::State& state) {
    int touched = static_cast<int>(state.range(0));
    std::string path = scratchFile("undo.sqlite");
    Store s(path);
    sqlWrite(s, 10000);
    s.exec("CREATE INDEX w ON v (wn)");
    int last = 10000 / kEditsPerState + 1;
    s.exec("BEGIN");
    int seven = 7;
    for (int i = 0; i < touched; ++i) s.row(uuidOf(4, i), "priority", last, &seven, sizeof seven);
    s.exec("COMMIT");
    sqlite3_stmt* changed = nullptr;
    sqlite3_prepare_v2(s.db, "SELECT wh, wt FROM v WHERE wn = ? ORDER BY wh, wt", -1, &changed, nullptr);
    sqlite3_stmt* read = nullptr;
    sqlite3_prepare_v2(s.db, "SELECT val FROM v WHERE wh = ? AND wt = ? AND wn <= ? ORDER BY wn DESC LIMIT 1", -1,
                       &read, nullptr);
    for (auto _ : state) {
        for (int target : {last - 1, last}) {
            sqlite3_bind_int(changed, 1, last);
            while (sqlite3_step(changed) == SQLITE_ROW) {
                sqlite3_bind_text(read, 1, reinterpret_cast<const char*>(sqlite3_column_text(changed, 0)), -1,
                                  SQLITE_TRANSIENT);
                sqlite3_bind_text(read, 2, reinterpret_cast<const char*>(sqlite3_column_text(changed, 1)), -1,
                                  SQLITE_TRANSIENT);
                sqlite3_bind_int(read, 3, target);
                sqlite3_step(read);
                sqlite3_reset(read);
            }
            sqlite3_reset(changed);
        }
    }
    sqlite3_finalize(changed);
    sqlite3_finalize(read);
    unlink(path.c_str());
}
BENCHMARK(BM_SqliteTopologyUndoRedo)->Arg(1)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

// The purge keeps the active version of each key, as one state.
void BM_SqliteTopologyCloseWithPurge(benchmark::State& state) {
    int n = static_cast<int>(state.range(0));
    std::string path = scratchFile("purge.sqlite");
    for (auto _ : state) {
        state.PauseTiming();
        Store* s = new Store(path);
        sqlWrite(*s, n);
        state.ResumeTiming();
        s->exec("BEGIN");
        s->exec("DELETE FROM v WHERE rowid NOT IN (SELECT v.rowid FROM v JOIN (SELECT wh, wt, MAX(wn) AS m FROM v "
                "GROUP BY wh, wt) l ON v.wh = l.wh AND v.wt = l.wt AND v.wn = l.m)");
        s->exec("UPDATE v SET wn = 1 WHERE wn > 1");
        s->exec("COMMIT");
        s->exec("VACUUM");
        delete s;
    }
    unlink(path.c_str());
}
BENCHMARK(BM_SqliteTopologyCloseWithPurge)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
