// Data files whose k-th file change fails once, as on a full or failing
// disk, for every k: a workload of sessions (writes in text, plain and
// compressed binary, through memory and through the stream; overwrites;
// deletes; searches that retire older copies, as reader and as writer; a
// dataset written request by request with a search and a delete between
// its pieces; a copy into a secondary file; an index rebuild on request; a
// compaction into a new file, whose index update retires an older copy)
// runs in a child whose k-th counted file change fails (ENOSPC, EIO for an
// unlink or a truncation), also in variants where a failing write keeps
// its first byte or its first 24 bytes. The workload goes on after the
// failure to the end, noting what each request answered. A fresh process
// then opens every file and checks that
//   - each request answered as done is what it reads; a request answered as
//     failed may have left its names as before or as after, nothing else;
//   - nothing whole that the sessions did not touch is lost, and a dataset
//     deleted in an earlier session stays deleted;
//   - a search for a missing name finds the stored index in agreement with
//     the datasets (it is never rebuilt from them), here and at the start of
//     each session;
//   - a lock file is left only after a close that answered failure;
//   - a write after the reopen, followed by an index rebuild, adds just
//     that dataset.
// The sessions also read back everything before their closes: what a
// session reads must be what its answers allow.
#include "crash_points.h"
#include "io_internal.h"
#include "session_steps.h"
#include "vrn_platform.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using iotest::Client;
using iotest::Contents;
using iotest::Data;
using iotest::Header;
using iotest::keyOf;
using iotest::series;
using vrntest::TempDir;

using Values = std::vector<int32_t>;
// What a name may hold: its values, or nothing (std::nullopt).
using State = std::optional<Values>;
// Name to the states it may be in; a name not listed may only be absent.
using Model = std::map<std::string, std::set<State>>;

// The files of the workload: primary, a copy destination and a compaction
// destination.
const char *const kFiles[] = {"p.kwx", "g.kwx", "h.kwx"};
constexpr int kFileCount = 3;

std::string describeState(const State &s) { return s ? iotest::describeValues(*s) : "absent"; }

std::string describe(const Model &m) {
    std::string out = "{";
    for (const auto &[key, states] : m) {
        out += " " + key + "=";
        bool first = true;
        for (const State &s : states) {
            out += (first ? "" : "|") + describeState(s);
            first = false;
        }
    }
    return out + " }";
}

// "" when c is a contents the model allows, else what differs.
std::string disallowed(const Model &m, const Contents &c) {
    std::string out;
    for (const auto &[key, values] : c) {
        auto it = m.find(key);
        if (it == m.end() ? true : !it->second.count(values))
            out += " " + key + "=" + iotest::describeValues(values) + " not allowed;";
    }
    for (const auto &[key, states] : m)
        if (!c.count(key) && !states.count(std::nullopt)) out += " " + key + " missing;";
    return out;
}

// A model goes from the child that ran the workload to the check as text:
// a line per name, "file TAB key TAB state ; state ...", a state "-" or its
// values joined by commas.
std::string serialize(const Model (&models)[kFileCount]) {
    std::string out;
    for (int i = 0; i < kFileCount; ++i) {
        for (const auto &[key, states] : models[i]) {
            out += std::to_string(i) + "\t" + key + "\t";
            for (const State &s : states) {
                if (!s) {
                    out += "-";
                } else {
                    for (size_t k = 0; k < s->size(); ++k) out += (k ? "," : "") + std::to_string((*s)[k]);
                }
                out += ";";
            }
            out += "\n";
        }
    }
    return out;
}

void parse(const std::string &text, Model (&models)[kFileCount]) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] < '0' || line[0] >= '0' + kFileCount) continue;
        const size_t tab1 = line.find('\t'), tab2 = line.find('\t', tab1 + 1);
        std::set<State> &states = models[line[0] - '0'][line.substr(tab1 + 1, tab2 - tab1 - 1)];
        std::istringstream list(line.substr(tab2 + 1));
        std::string state;
        while (std::getline(list, state, ';')) {
            if (state == "-") {
                states.insert(std::nullopt);
                continue;
            }
            Values v;
            std::istringstream items(state);
            std::string item;
            while (std::getline(items, item, ',')) v.push_back(std::stoi(item));
            states.insert(v);
        }
    }
}

// The workload. Each request's answer decides what the model allows: done,
// the names it changes hold exactly what it wrote; failed, they may also
// still hold what they held before. What the sessions read before each
// close, where that disagrees with the model, and which files a close
// failed for, go to report (lines starting "!" and "closefail").
class Workload {
public:
    Workload(const std::string &dir, const vrntest::Report &report) : dir_(dir), report_(report) {}

    std::string file(int i) const { return dir_ + "/" + kFiles[i]; }

    void run() {
        // A lock mutex whose removal failed is taken over at once rather
        // than after a minute.
        kwxIoSetLockWait(0, 0);

        // Session 1: a new file; text and compressed binary datasets, some
        // put together in memory, one written through the stream; a name
        // written twice; datasets deleted.
        c_.open(file(0));
        iotest::setFormat(c_, "F");
        write("t", {1, 2, 3});
        iotest::setFormat(c_, "U5");
        write("b", series(250, 7), 100);
        write("a", {10});
        write("a", {11});
        iotest::setFormat(c_, "F");
        write("c", {7, 7});
        erase("c");
        kwxIoSetAssembleLimit(-1);
        iotest::setFormat(c_, "U5");
        write("s", series(300, 5), 50);
        kwxIoSetAssembleLimit(4 << 20);
        write("x", {3});
        erase("x");
        // Binary without compression, with 32-bit and 64-bit lengths.
        iotest::setFormat(c_, "u");
        write("v", series(20, 6));
        iotest::setFormat(c_, "l");
        write("w", series(20, 8));
        readBack("session 1");
        close(0);

        // Session 2: a search retires the older copy of a while the session
        // only reads; a write makes it the writer, whose next search
        // retires the other copy at once; then the name is deleted, and no
        // copy of it may come back. A dataset written request by request,
        // with a search that retires an older copy and a delete between its
        // pieces; a copy into a secondary file closed on its own.
        reopen("session 2");
        c_.whens("a", "r", 1);
        iotest::setFormat(c_, "L5");
        write("a", {12, 13});
        c_.whens("a", "r", 1);
        erase("a");
        iotest::setFormat(c_, "U5");
        write("d", series(40, 3));
        // Larger than a stream's buffer, in text, written through the
        // stream: a write of it, and a copy of it, goes through the buffer
        // more than once, and a flush that fails drops what the buffer held.
        iotest::setFormat(c_, "F");
        kwxIoSetAssembleLimit(-1);
        write("big", series(3000, 4));
        kwxIoSetAssembleLimit(4 << 20);
        iotest::setFormat(c_, "U5");
        write("o", {1});
        write("o", {2});
        write("gone", {9});
        writePieces("p", {7, 8, 9});
        if (c_.open(file(1), IO_OPEN_SECONDARY) == IO_OK) {
            const int rc = iotest::copyOne(c_, "d", "r", 1);
            copied(1, "d", rc);
            closeFile(1, iotest::plainRequest(c_, IO_CLOSE_SECONDARY));
        }
        readBack("session 2");
        write("r", {20});
        write("r", {21});
        close(0);

        // Session 3: a search retires the older copy of r before anything
        // is written, then the index is rebuilt on request and the file
        // closed.
        reopen("session 3");
        c_.whens("r", "r", 1);
        iotest::plainRequest(c_, IO_RECREATE_INDEX);
        close(0);

        // Session 4: writes and deletes, then compaction into a new file.
        reopen("session 4");
        iotest::setFormat(c_, "F");
        write("e", {9, 8});
        erase("t");
        erase("v");
        readBack("session 4");
        // The compaction's index update retires the older copy of q.
        write("q", {1});
        write("q", {2});
        if (c_.open(file(2), IO_OPEN_SECONDARY) == IO_OK) {
            const Model before = models_[0];
            const bool done = iotest::plainRequest(c_, IO_COPY_ALLVALID_DS) == IO_OK;
            for (const auto &[key, states] : before) {
                std::set<State> &to = models_[2][key];
                if (done) to.clear();
                if (to.empty()) to.insert(std::nullopt);
                to.insert(states.begin(), states.end());
                if (done && !states.count(std::nullopt)) to.erase(std::nullopt);
            }
        }
        // One close for both files: a failure may be either's.
        if (c_.close() != IO_OK) report_("closefail 0\nclosefail 2\n");

        report_(serialize(models_));
    }

private:
    std::set<State> &states(int file, const std::string &key) {
        std::set<State> &s = models_[file][key];
        if (s.empty()) s.insert(std::nullopt);
        return s;
    }
    void set(int file, const std::string &key, const State &value, bool done) {
        std::set<State> &s = states(file, key);
        if (done) s.clear();
        s.insert(value);
    }
    void write(const std::string &w, const Values &v, int32_t blockfactor = 1) {
        set(0, keyOf(w, "r", 1), v, iotest::writeSeries(c_, w, "r", 1, v, blockfactor) == IO_OK);
    }
    void erase(const std::string &w) { set(0, keyOf(w, "r", 1), std::nullopt, iotest::erase(c_, w, "r", 1) == IO_OK); }
    // The copy holds one of the states the source may hold.
    void copied(int file, const std::string &w, int rc) {
        const std::string key = keyOf(w, "r", 1);
        std::set<State> from = states(0, key);
        std::set<State> &to = states(file, key);
        if (rc == IO_OK) {
            to.clear();
            from.erase(std::nullopt);
        }
        to.insert(from.begin(), from.end());
    }
    void closeFile(int file, int rc) {
        if (rc != IO_OK) report_("closefail " + std::to_string(file) + "\n");
    }
    void close(int file) { closeFile(file, c_.close()); }

    // A dataset written request by request, the way a caller that writes
    // its data in pieces does; a search that retires an older copy and a
    // delete come between the pieces. The first piece that fails ends it.
    void writePieces(const std::string &w, const Values &v) {
        Header h(w, "r", 1);
        snprintf(h.datatype, sizeof h.datatype, "INTR");
        h.number = (int32_t)v.size();
        Data d;
        iotest::offsetsOf(d, {0, 0});
        Data values;
        values.setInts(v);
        Data pos, len;
        iotest::offsetsOf(pos, {0, 0});
        int64_t lengthField = 0, tagStart = 0;
        bool done = false;
        bool betweenDone = true;
        do {
            if (c_.request(IO_WRITE_HEADER, h, d) != IO_OK) break;
            lengthField = d.offsets[0];
            tagStart = d.offsets[1];
            if (c_.request(IO_WRITE_DATATAG, h, values) != IO_OK) break;
            c_.whens("o", "r", 1);
            betweenDone = iotest::erase(c_, "gone", "r", 1) == IO_OK;
            if (c_.request(IO_WRITE_DATA, h, values) != IO_OK) break;
            if (c_.request(IO_WRITE_ENDTAG, h, values) != IO_OK) break;
            if (c_.request(IO_TELL, h, pos) != IO_OK) break;
            iotest::offsetsOf(len, {pos.offsets[0] - tagStart});
            if (c_.request(IO_WRITE_LENGTH, h, len) != IO_OK) break;
            if (c_.request(IO_SET_INDEX_POSITION, h, len) != IO_OK) break;
            if (c_.request(IO_SEEK, h, iotest::offsetsOf(pos, {lengthField})) != IO_OK) break;
            if (c_.request(IO_WRITE_LENGTH, h, len) != IO_OK) break;
            done = c_.request(IO_INSERT_INDEX, h, iotest::offsetsOf(pos, {len.offsets[0], lengthField - 3})) == IO_OK;
        } while (false);
        set(0, keyOf("gone", "r", 1), std::nullopt, betweenDone);
        set(0, keyOf(w, "r", 1), v, done);
    }

    // Opens the primary file again; a stored index that the open reads must
    // agree with the datasets, which a search for a missing name checks.
    void reopen(const char *session) {
        if (c_.open(file(0)) != IO_OK) return;
        iotest::messages().clear();
        Data none;
        c_.locate("no such", "name", 0, none);
        if (iotest::messages().find("does not list the datasets the file holds") != std::string::npos)
            report_(std::string("!") + session + " finds the stored index wrong: " + iotest::messages());
    }

    // Everything the session reads must be allowed by the model.
    void readBack(const char *when) {
        Contents got;
        std::string note;
        if (!iotest::readAll(c_, got, note)) return;
        const std::string wrong = disallowed(models_[0], got);
        if (!wrong.empty()) report_(std::string("!") + when + " reads " + iotest::describe(got) + ":" + wrong + "\n");
    }

    std::string dir_;
    const vrntest::Report &report_;
    Client c_;
    Model models_[kFileCount];
};

void removeFiles(const std::string &dir) {
    for (const char *f : kFiles) {
        std::string path = dir + "/" + f;
        unlink(path.c_str());
        vrntest::removeDeadWriterLock(path);
    }
}

// Opens one file in a fresh session and checks it against the model.
void checkFile(const std::string &path, const Model &model, bool closeFailed, std::string &failures) {
    if (iotest::exists(path + ".lck") && !closeFailed) failures += path + ": a lock file is left after a close that answered done\n";
    vrntest::removeDeadWriterLock(path);
    const bool present = iotest::exists(path) && !vrntest::readFile(path).empty();
    if (!present) {
        const std::string wrong = disallowed(model, {});
        if (!wrong.empty()) failures += path + ": missing:" + wrong + "\n";
        return;
    }
    iotest::messages().clear();
    Client c;
    int rc = c.open(path);
    if (rc != IO_OK) {
        failures += path + ": open answered " + std::to_string(rc) + ": " + iotest::messages();
        return;
    }
    // A search for a missing name checks a stored index against the file.
    Data none;
    c.locate("no such", "name", 0, none);
    if (iotest::messages().find("does not list the datasets the file holds") != std::string::npos)
        failures += path + ": the stored index disagrees with the datasets: " + iotest::messages();
    Contents got;
    std::string note;
    if (!iotest::readAll(c, got, note)) {
        failures += path + ": " + note + ": " + iotest::messages();
        return;
    }
    const std::string wrong = disallowed(model, got);
    if (!wrong.empty()) {
        failures += path + ": holds " + iotest::describe(got) + ":" + wrong + " the model allows " + describe(model) + "\n";
        return;
    }
    iotest::expectOneMoreWriteAfterRebuild(c, path, got, failures);
}

// Runs the workload with its failAt-th file change failing (keeping keep
// bytes of a failing write) and checks the files; the failures, "" when
// none.
std::string failAndCheck(const std::string &dir, long long failAt, long long keep) {
    removeFiles(dir);
    vrntest::FailedRun run =
        vrntest::runWithFailure([&](const vrntest::Report &report) { Workload(dir, report).run(); }, failAt, keep);
    if (!run.reachedFailure) return "";
    std::string failures;
    std::istringstream lines(run.reported);
    std::string line;
    bool closeFailed[kFileCount] = {};
    while (std::getline(lines, line)) {
        if (line[0] == '!') failures += line.substr(1) + "\n";
        if (line.rfind("closefail ", 0) == 0) closeFailed[std::stoi(line.substr(10))] = true;
    }
    Model models[kFileCount];
    parse(run.reported, models);
    failures += vrntest::runInFreshProcess([&](std::string &f) {
        for (int i = 0; i < kFileCount; ++i) checkFile(dir + "/" + kFiles[i], models[i], closeFailed[i], f);
    });
    return failures.empty() ? "" : "change " + std::to_string(failAt) + " failing (keep " + std::to_string(keep) + "):\n" + failures;
}

// The files the workload's changes go to, in order, one line each (taken
// from the platform's hook in the child that runs it).
std::string *g_changedPaths = nullptr;
void noteChange(const char *path) { *g_changedPaths += std::string(path) + "\n"; }

std::vector<std::string> changedFiles(const std::string &dir) {
    removeFiles(dir);
    vrntest::FailedRun run = vrntest::runWithFailure(
        [&](const vrntest::Report &report) {
            std::string paths;
            g_changedPaths = &paths;
            vrnPlatform_setFileChangeHook(noteChange);
            vrntest::Report ignore = [](const std::string &) {};
            Workload(dir, ignore).run();
            vrnPlatform_setFileChangeHook(nullptr);
            report(paths);
        },
        0);
    std::vector<std::string> files;
    std::istringstream lines(run.reported);
    for (std::string line; std::getline(lines, line);) files.push_back(line);
    return files;
}

TEST(DataFileFailedWrites, EveryAnswerHoldsInTheNextSessionWhicheverChangeFails) {
    TempDir dir;
    const std::vector<std::string> files = changedFiles(dir.path());
    const long long total = static_cast<long long>(files.size());
    ASSERT_GT(total, 50);
    RecordProperty("file_changes", std::to_string(total));
    std::string all;
    for (long long keep : {-1LL, 1LL, 24LL}) {
        for (long long k : vrntest::crashPointsToTry(total, vrntest::crashPointCap(total, 3000))) {
            // A lock mutex is made and removed, never written: what a failing
            // write keeps does not matter there.
            const std::string &path = files[static_cast<size_t>(k - 1)];
            if (keep > 0 && path.size() > 8 && path.compare(path.size() - 8, 8, ".lck.lck") == 0) continue;
            all += failAndCheck(dir.path(), k, keep);
        }
    }
    EXPECT_EQ("", all.substr(0, 20000));
}

TEST(DataFileFailedWrites, TheWorkloadItselfLeavesWhatItsModelSays) {
    // Without a failure, every request is answered as done: the model is
    // exact, and the files hold just that.
    TempDir dir;
    removeFiles(dir.path());
    vrntest::FailedRun run = vrntest::runWithFailure(
        [&](const vrntest::Report &report) { Workload(dir.path(), report).run(); }, 1000000);
    EXPECT_FALSE(run.reachedFailure);
    Model models[kFileCount];
    parse(run.reported, models);
    for (const Model &m : models)
        for (const auto &[key, states] : m) EXPECT_EQ(1u, states.size()) << key;
    EXPECT_EQ(std::string::npos, run.reported.find('!')) << run.reported;
    EXPECT_EQ(std::string::npos, run.reported.find("closefail")) << run.reported;
    std::string failures = vrntest::runInFreshProcess([&](std::string &f) {
        for (int i = 0; i < kFileCount; ++i) checkFile(dir.path() + "/" + kFiles[i], models[i], false, f);
    });
    EXPECT_EQ("", failures);
    // p holds b, s, w, d, big, e, o, p, q, r; a, c, x, v, gone and t are
    // deleted.
    auto live = [](const Model &m) {
        size_t n = 0;
        for (const auto &[key, states] : m) n += states.count(std::nullopt) ? 0 : 1;
        return n;
    };
    EXPECT_EQ(10u, live(models[0])) << describe(models[0]);
    EXPECT_EQ(models[0], models[2]);
}

}  // namespace
