// The model database at model sizes: writing a model with a state closed
// every 100 edits (time per edit should stay flat from 10^3 to 5*10^4
// objects), reopening it, one undo and redo touching m objects, closing with
// the purge to one state, and the latency of one field read with 1, 10 and
// 100 stored versions per key. Each has a twin doing the same work on SQLite
// rows (where, what, when, value) with an index on (where, what, when).
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "database/state_manager.h"
#include "database/type_manager.h"
#include "errors/error_manager.h"
#include "support/cstring.h"
#include "support/memory.h"

namespace {

// A persistent record of a few fields: an integer, a name and a vector.
struct Item {
    vrnObject header;
    int value;
    char* name;
    double* vector;
    int n;
};

int itemSize() { return static_cast<int>(sizeof(Item)); }

void itemRestore(vrnObject* o, int onlyIfChanged) {
    Item* it = reinterpret_cast<Item*>(o);
    vrnObject_getInt(o, onlyIfChanged, "value", &it->value);
    vrnObject_getString(o, onlyIfChanged, "name", &it->name);
    vrnObject_getDoubles(o, onlyIfChanged, "vector", &it->vector, &it->n);
}

void itemDestroy(vrnObject* o) {
    Item* it = reinterpret_cast<Item*>(o);
    vrnCString_free(it->name);
    vrnFree(it->vector, "itemDestroy");
    vrnObject_delete(o);
}

void install() {
    vrnTypeManager_setRoutines(vrnTypeManager_getIndexOfName("vrnBlob"), itemSize, nullptr, itemRestore,
                               itemDestroy);
}

std::string scratch(const std::string& name) {
    const char* tmp = getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/vrndbbench." + std::to_string(getpid()) + "." + name;
}

void removeModel(const std::string& path) {
    unlink(path.c_str());
    unlink((path + ".lck").c_str());
}

vrnStateManager* openModel(const std::string& path) {
    install();
    vrnStateManager* m = vrnStateManager_new();
    vrnStateManager_setGlobal(m);
    if (!vrnStateManager_openDatabase(m, path.c_str())) abort();
    return m;
}

void closeModel(vrnStateManager* m, int mode) {
    vrnStateManager_closeDatabase(m, mode);
    vrnStateManager_delete(m);
    vrnApp_clearErrors();
}

// One object: create it and write its three fields (four edits).
const int kEditsPerObject = 4;

void addObject(int i) {
    vrnObject* o = vrnObject_new("vrnBlob");
    vrnObject_setInt(o, "value", i);
    std::string name = "item " + std::to_string(i);
    vrnObject_setString(o, "name", name.c_str());
    double v[3] = {i * 1.0, i * 2.0, i * 3.0};
    vrnObject_setDoubles(o, "vector", v, 3);
}

// Writes a model of n objects, closing a state every 100 edits.
void writeModel(const std::string& path, int n) {
    vrnStateManager* m = openModel(path);
    for (int i = 0; i < n; ++i) {
        addObject(i);
        if ((i + 1) * kEditsPerObject % 100 == 0) vrnStateManager_closeState(m);
    }
    closeModel(m, -1);
}

// Only the edits are timed: opening and closing the file are not.
void BM_WriteModel(benchmark::State& state) {
    int n = static_cast<int>(state.range(0));
    std::string path = scratch("write.vrn");
    for (auto _ : state) {
        state.PauseTiming();
        removeModel(path);
        vrnStateManager* m = openModel(path);
        state.ResumeTiming();
        for (int i = 0; i < n; ++i) {
            addObject(i);
            if ((i + 1) * kEditsPerObject % 100 == 0) vrnStateManager_closeState(m);
        }
        vrnStateManager_closeState(m);
        state.PauseTiming();
        closeModel(m, -1);
        state.ResumeTiming();
    }
    removeModel(path);
    state.SetItemsProcessed(state.iterations() * n * kEditsPerObject);
}
BENCHMARK(BM_WriteModel)->Arg(1000)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_ReopenModel(benchmark::State& state) {
    int n = static_cast<int>(state.range(0));
    std::string path = scratch("reopen.vrn");
    removeModel(path);
    writeModel(path, n);
    for (auto _ : state) {
        vrnStateManager* m = openModel(path);
        state.PauseTiming();
        closeModel(m, -1);
        state.ResumeTiming();
    }
    removeModel(path);
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_ReopenModel)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(1);

// A model of 10^4 objects; the last state changes m of them; undo then redo.
void BM_UndoRedo(benchmark::State& state) {
    int touched = static_cast<int>(state.range(0));
    std::string path = scratch("undo.vrn");
    removeModel(path);
    writeModel(path, 10000);
    vrnStateManager* m = openModel(path);
    vrnStateManager_closeState(m);
    int count = 0;
    vrnObject** objects = nullptr;
    vrnStateManager_getObjectsByTypeName(m, "vrnBlob", &count, &objects);
    for (int i = 0; i < touched && i < count; ++i) vrnObject_setInt(objects[i], "value", -i);
    vrnFree(objects, "BM_UndoRedo");
    vrnStateManager_closeState(m);
    for (auto _ : state) {
        if (!vrnStateManager_changeState(m, 1, -1) || !vrnStateManager_changeState(m, 1, 1)) abort();
    }
    closeModel(m, -1);
    removeModel(path);
}
BENCHMARK(BM_UndoRedo)->Arg(1)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

void BM_CloseWithPurge(benchmark::State& state) {
    int n = static_cast<int>(state.range(0));
    std::string path = scratch("purge.vrn");
    for (auto _ : state) {
        state.PauseTiming();
        removeModel(path);
        writeModel(path, n);
        vrnStateManager* m = openModel(path);
        state.ResumeTiming();
        closeModel(m, 1);
    }
    removeModel(path);
}
BENCHMARK(BM_CloseWithPurge)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(1);

// 1000 keys of one object, each with v versions; reads at a random state.
void BM_ReadLatency(benchmark::State& state) {
    int versions = static_cast<int>(state.range(0));
    const int keys = 1000;
    std::string path = scratch("read.vrn");
    removeModel(path);
    Database* db = Database_new(path.c_str());
    vrnUUID* obj = vrnUUID_new();
    for (int w = 1; w <= versions; ++w)
        for (int k = 0; k < keys; ++k) Database_setInteger(db, w, obj, ("key " + std::to_string(k)).c_str(), w);
    unsigned seed = 1;
    for (auto _ : state) {
        seed = seed * 1103515245u + 12345u;
        int k = static_cast<int>(seed >> 8) % keys;
        int s = 1 + static_cast<int>(seed >> 4) % versions;
        int value = 0;
        if (!Database_getInteger(db, s, obj, ("key " + std::to_string(k)).c_str(), &value) || value != s) abort();
    }
    vrnUUID_delete(obj);
    Database_delete(db);
    removeModel(path);
}
BENCHMARK(BM_ReadLatency)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMicrosecond);

// SQLite twins: one row per stored value.
struct Sql {
    sqlite3* db = nullptr;
    explicit Sql(const std::string& path) {
        unlink(path.c_str());
        sqlite3_open(path.c_str(), &db);
        exec("PRAGMA synchronous=OFF");
        exec("CREATE TABLE IF NOT EXISTS v (wh TEXT, wt TEXT, wn INTEGER, val BLOB)");
        exec("CREATE INDEX IF NOT EXISTS k ON v (wh, wt, wn)");
    }
    ~Sql() { sqlite3_close(db); }
    void exec(const char* sql) {
        if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) abort();
    }
    sqlite3_stmt* prepare(const char* sql) {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) != SQLITE_OK) abort();
        return s;
    }
};

void sqlInsert(sqlite3_stmt* ins, const std::string& where, const char* what, int when, const void* data,
               int bytes) {
    sqlite3_bind_text(ins, 1, where.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(ins, 2, what, -1, SQLITE_STATIC);
    sqlite3_bind_int(ins, 3, when);
    sqlite3_bind_blob(ins, 4, data, bytes, SQLITE_STATIC);
    sqlite3_step(ins);
    sqlite3_reset(ins);
}

void sqlWriteModel(Sql& sql, int n) {
    sqlite3_stmt* ins = sql.prepare("INSERT INTO v VALUES (?, ?, ?, ?)");
    int state = 1;
    sql.exec("BEGIN");
    for (int i = 0; i < n; ++i) {
        char where[32];
        snprintf(where, sizeof where, "%022d", i);
        int type = 1;
        sqlInsert(ins, where, "__TYPE__", state, &type, 4);
        sqlInsert(ins, where, "value", state, &i, 4);
        std::string name = "item " + std::to_string(i);
        sqlInsert(ins, where, "name", state, name.c_str(), static_cast<int>(name.size() + 1));
        double v[3] = {i * 1.0, i * 2.0, i * 3.0};
        sqlInsert(ins, where, "vector", state, v, sizeof v);
        if ((i + 1) * kEditsPerObject % 100 == 0) {
            sqlInsert(ins, "GLOBAL", "State - current", 0, &state, 4);
            sql.exec("COMMIT");
            sql.exec("BEGIN");
            ++state;
        }
    }
    sql.exec("COMMIT");
    sqlite3_finalize(ins);
}

void BM_SqliteWriteModel(benchmark::State& state) {
    int n = static_cast<int>(state.range(0));
    std::string path = scratch("write.sqlite");
    for (auto _ : state) {
        Sql sql(path);
        sqlWriteModel(sql, n);
    }
    unlink(path.c_str());
    state.SetItemsProcessed(state.iterations() * n * kEditsPerObject);
}
BENCHMARK(BM_SqliteWriteModel)->Arg(1000)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond)->Iterations(1);

// Reopening: read every row back, as a model is rebuilt from all its values.
void BM_SqliteReopenModel(benchmark::State& state) {
    int n = static_cast<int>(state.range(0));
    std::string path = scratch("reopen.sqlite");
    { Sql sql(path); sqlWriteModel(sql, n); }
    for (auto _ : state) {
        sqlite3* db = nullptr;
        sqlite3_open(path.c_str(), &db);
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(db, "SELECT wh, wt, wn, val FROM v ORDER BY wh, wt, wn", -1, &s, nullptr);
        long rows = 0;
        while (sqlite3_step(s) == SQLITE_ROW) rows += sqlite3_column_bytes(s, 3) > 0;
        benchmark::DoNotOptimize(rows);
        sqlite3_finalize(s);
        sqlite3_close(db);
    }
    unlink(path.c_str());
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_SqliteReopenModel)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(1);

// Undo and redo: the rows of the last state, and for each touched key the
// version active one state earlier and then at the last state.
void BM_SqliteUndoRedo(benchmark::State& state) {
    int touched = static_cast<int>(state.range(0));
    std::string path = scratch("undo.sqlite");
    Sql sql(path);
    sqlWriteModel(sql, 10000);
    sqlite3_stmt* ins = sql.prepare("INSERT INTO v VALUES (?, ?, ?, ?)");
    const int last = 1000;
    sql.exec("BEGIN");
    for (int i = 0; i < touched; ++i) {
        char where[32];
        snprintf(where, sizeof where, "%022d", i);
        int v = -i;
        sqlInsert(ins, where, "value", last, &v, 4);
    }
    sql.exec("COMMIT");
    sqlite3_finalize(ins);
    sqlite3_stmt* range = sql.prepare("SELECT wh, wt FROM v WHERE wn BETWEEN ? AND ? ORDER BY wh, wt, wn");
    sqlite3_stmt* get = sql.prepare("SELECT val FROM v WHERE wh = ? AND wt = ? AND wn <= ? ORDER BY wn DESC LIMIT 1");
    for (auto _ : state) {
        for (int target : {last - 1, last}) {
            sqlite3_bind_int(range, 1, last);
            sqlite3_bind_int(range, 2, last);
            std::vector<std::pair<std::string, std::string>> keys;
            while (sqlite3_step(range) == SQLITE_ROW)
                keys.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(range, 0)),
                                  reinterpret_cast<const char*>(sqlite3_column_text(range, 1)));
            sqlite3_reset(range);
            for (auto& k : keys) {
                sqlite3_bind_text(get, 1, k.first.c_str(), -1, SQLITE_STATIC);
                sqlite3_bind_text(get, 2, k.second.c_str(), -1, SQLITE_STATIC);
                sqlite3_bind_int(get, 3, target);
                if (sqlite3_step(get) != SQLITE_ROW) abort();
                sqlite3_reset(get);
            }
        }
    }
    sqlite3_finalize(range);
    sqlite3_finalize(get);
    unlink(path.c_str());
}
BENCHMARK(BM_SqliteUndoRedo)->Arg(1)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

// Purge: keep the active version of every key, then rewrite the file.
void BM_SqliteCloseWithPurge(benchmark::State& state) {
    int n = static_cast<int>(state.range(0));
    std::string path = scratch("purge.sqlite");
    for (auto _ : state) {
        state.PauseTiming();
        Sql sql(path);
        sqlWriteModel(sql, n);
        state.ResumeTiming();
        sql.exec("DELETE FROM v WHERE rowid NOT IN (SELECT rowid FROM v AS a WHERE wn = (SELECT MAX(wn) FROM v AS b WHERE b.wh = a.wh AND b.wt = a.wt))");
        sql.exec("UPDATE v SET wn = 1 WHERE wn > 0");
        sql.exec("VACUUM");
    }
    unlink(path.c_str());
}
BENCHMARK(BM_SqliteCloseWithPurge)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_SqliteReadLatency(benchmark::State& state) {
    int versions = static_cast<int>(state.range(0));
    const int keys = 1000;
    std::string path = scratch("read.sqlite");
    Sql sql(path);
    sqlite3_stmt* ins = sql.prepare("INSERT INTO v VALUES (?, ?, ?, ?)");
    std::string where(22, 'w');
    sql.exec("BEGIN");
    for (int w = 1; w <= versions; ++w)
        for (int k = 0; k < keys; ++k) {
            std::string what = "key " + std::to_string(k);
            sqlInsert(ins, where, what.c_str(), w, &w, 4);
        }
    sql.exec("COMMIT");
    sqlite3_finalize(ins);
    sqlite3_stmt* get = sql.prepare("SELECT val FROM v WHERE wh = ? AND wt = ? AND wn <= ? ORDER BY wn DESC LIMIT 1");
    unsigned seed = 1;
    for (auto _ : state) {
        seed = seed * 1103515245u + 12345u;
        int k = static_cast<int>(seed >> 8) % keys;
        int s = 1 + static_cast<int>(seed >> 4) % versions;
        std::string what = "key " + std::to_string(k);
        sqlite3_bind_text(get, 1, where.c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_text(get, 2, what.c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_int(get, 3, s);
        if (sqlite3_step(get) != SQLITE_ROW) abort();
        int value = 0;
        memcpy(&value, sqlite3_column_blob(get, 0), 4);
        if (value != s) abort();
        sqlite3_reset(get);
    }
    sqlite3_finalize(get);
    unlink(path.c_str());
}
BENCHMARK(BM_SqliteReadLatency)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMicrosecond);

}  // namespace
