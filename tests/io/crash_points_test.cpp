// Data files killed at every file change: a workload of writes (text and
// compressed binary), overwrites of one name, deletes, a dataset copy, a
// secondary file closed in between, closes, an index rebuild and a
// compaction into a new file runs in a child that the platform ends at its
// n-th file change, as SIGKILL would. A fresh process then removes the dead
// writer's lock file, reopens every file and checks that
//   - each file opens (or, before its creation, is absent or empty);
//   - what it holds is exactly the contents after the step before the cut or
//     after the step under way at the cut (nothing closed before is lost,
//     nothing deleted or superseded comes back, the step at the cut is
//     there whole or not at all);
//   - a new write after the reopen, followed by a forced index rebuild,
//     adds just that dataset (no cut bytes become readable as data).
#include "crash_points.h"
#include "io_internal.h"
#include "session_steps.h"
#include "vrn_platform.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using iotest::Client;
using iotest::Contents;
using iotest::Data;
using iotest::Header;
using iotest::describe;
using iotest::keyOf;
using iotest::readAll;
using iotest::series;
using vrntest::TempDir;

// What a file may hold after a given step.
struct Expect {
    enum Kind { Absent, Exact, Subset } kind = Absent;
    Contents contents;
};

bool satisfies(const Expect &e, bool present, const Contents &c) {
    switch (e.kind) {
    case Expect::Absent: return !present || c.empty();
    case Expect::Exact: return present && c == e.contents;
    case Expect::Subset:
        for (const auto &[k, v] : c) {
            auto it = e.contents.find(k);
            if (it == e.contents.end() || it->second != v) return false;
        }
        return true;
    }
    return false;
}

// The files of the workload: primary, a copy destination and a compaction
// destination.
const char *const kFiles[] = {"p.kwx", "g.kwx", "h.kwx"};
constexpr int kFileCount = 3;

struct Snapshot {
    long long changesAfter = 0;
    std::string step;
    Expect expect[kFileCount];
};

// Runs the steps of the workload and, when recording, notes after each one
// the file changes made so far and what each file may hold.
class Workload {
public:
    Workload(const std::string &dir, std::vector<Snapshot> *record) : dir_(dir), record_(record) {
        for (auto &e : now_) e.kind = Expect::Absent;
        if (record_) {
            base_ = vrnPlatform_fileChangeCount();
            Snapshot s;
            s.step = "start";
            for (int i = 0; i < kFileCount; ++i) s.expect[i] = now_[i];
            record_->push_back(s);
        }
    }

    std::string file(int i) const { return dir_ + "/" + kFiles[i]; }

    void run() {
        // Session 1: a new file, text and compressed binary datasets, one
        // name written twice, a dataset deleted.
        step("open new primary", [&] { c_.open(file(0)); }, [&] { exact(0); });
        step("text dataset", [&] { format("F"); writeInts("t", "r", 1, {1, 2, 3}); }, [&] { put("t", "r", 1, {1, 2, 3}); });
        step("compressed blocks", [&] { format("U5"); writeInts("b", "r", 1, series(250, 7), 100); },
             [&] { put("b", "r", 1, series(250, 7)); });
        step("first copy of a", [&] { writeInts("a", "r", 1, {10}); }, [&] { put("a", "r", 1, {10}); });
        step("overwrite a", [&] { writeInts("a", "r", 1, {11}); }, [&] { put("a", "r", 1, {11}); });
        step("text c", [&] { format("F"); writeInts("c", "r", 2, {7, 7}); }, [&] { put("c", "r", 2, {7, 7}); });
        step("delete c", [&] { erase("c", "r", 2); }, [&] { drop("c", "r", 2); });
        // A dataset written through the stream rather than put together in
        // memory first, as large ones are.
        step("streamed blocks", [&] {
            kwxIoSetAssembleLimit(-1);
            format("U5");
            writeInts("s", "r", 5, series(300, 5), 50);
            kwxIoSetAssembleLimit(4 << 20);
        }, [&] { put("s", "r", 5, series(300, 5)); });
        step("close", [&] { c_.close(); }, [] {});

        // Session 2: reopened for reading first; a lookup retires the older
        // copy of a, a write supersedes it, a copy goes to another file that
        // is closed on its own, then the name is deleted.
        step("reopen", [&] { c_.open(file(0)); }, [] {});
        step("look up a", [&] { c_.whens("a", "r", 1); }, [] {});
        step("overwrite a again", [&] { format("L5"); writeInts("a", "r", 1, {12, 13}); }, [&] { put("a", "r", 1, {12, 13}); });
        step("binary d", [&] { format("U5"); writeInts("d", "r", 3, series(40, 3)); }, [&] { put("d", "r", 3, series(40, 3)); });
        step("open copy destination", [&] { c_.open(file(1), IO_OPEN_SECONDARY); },
             [&] { now_[1].kind = Expect::Subset; now_[1].contents = {{keyOf("d", "r", 3), series(40, 3)}}; });
        step("copy d", [&] { copyOne("d", "r", 3); }, [] {});
        step("close copy destination", [&] { iotest::plainRequest(c_, IO_CLOSE_SECONDARY); }, [&] { now_[1].kind = Expect::Exact; });
        step("delete a", [&] { erase("a", "r", 1); }, [&] { drop("a", "r", 1); });
        step("close", [&] { c_.close(); }, [] {});

        // Session 3: an index rebuild on request, one more write.
        step("reopen", [&] { c_.open(file(0)); }, [] {});
        step("rebuild index", [&] { iotest::plainRequest(c_, IO_RECREATE_INDEX); }, [] {});
        step("text e", [&] { format("F"); writeInts("e", "r", 4, {9, 8}); }, [&] { put("e", "r", 4, {9, 8}); });
        step("close", [&] { c_.close(); }, [] {});

        // Session 4: compaction into a new file.
        step("reopen for compaction", [&] { c_.open(file(0)); }, [] {});
        step("open compaction destination", [&] { c_.open(file(2), IO_OPEN_SECONDARY); },
             [&] { now_[2].kind = Expect::Subset; now_[2].contents = now_[0].contents; });
        step("copy all valid", [&] { iotest::plainRequest(c_, IO_COPY_ALLVALID_DS); }, [] {});
        step("close both", [&] { c_.close(); }, [&] { now_[2].kind = Expect::Exact; });

        // Session 5: the primary file cut inside its last dataset, as an
        // interrupted copy leaves it; the next write goes past the bytes
        // that the cut dataset's length claims.
        step("cut inside e", [&] { cutInsideLastDataset(file(0)); }, [&] { drop("e", "r", 4); });
        step("reopen the cut file", [&] { c_.open(file(0)); }, [] {});
        step("text f", [&] { format("F"); writeInts("f", "r", 6, {6}); }, [&] { put("f", "r", 6, {6}); });
        step("close", [&] { c_.close(); }, [] {});

        // Session 6: the info block shortened. Its size is never cleared or
        // set again, every open rebuilds the index, and the index goes over
        // the old one at the end of the file; a session without a change
        // writes nothing.
        step("shorten the info block", [&] { shortenInfoBlock(file(0)); }, [] {});
        step("reopen the damaged file", [&] { c_.open(file(0)); }, [] {});
        step("text g", [&] { format("F"); writeInts("g", "r", 7, {7}); }, [&] { put("g", "r", 7, {7}); });
        step("close", [&] { c_.close(); }, [] {});
        step("reopen and close unchanged", [&] {
            c_.open(file(0));
            c_.close();
        }, [] {});

        // Session 7: bytes after its index, where every rebuild stops. The
        // first index written goes after them, the next dataset over it.
        step("bytes after the index", [&] { appendBytes(file(0)); }, [] {});
        step("reopen to delete g", [&] { c_.open(file(0)); }, [] {});
        step("delete g", [&] { erase("g", "r", 7); }, [&] { drop("g", "r", 7); });
        step("close", [&] { c_.close(); }, [] {});
        step("reopen to write h", [&] { c_.open(file(0)); }, [] {});
        step("text h", [&] { format("F"); writeInts("h", "r", 8, {8}); }, [&] { put("h", "r", 8, {8}); });
        step("close", [&] { c_.close(); }, [] {});
    }

private:
    void step(const char *name, const std::function<void()> &act, const std::function<void()> &model) {
        act();
        model();
        if (!record_) return;
        Snapshot s;
        s.changesAfter = vrnPlatform_fileChangeCount() - base_;
        s.step = name;
        for (int i = 0; i < kFileCount; ++i) s.expect[i] = now_[i];
        record_->push_back(s);
    }
    void exact(int i) { now_[i].kind = Expect::Exact; }
    void put(const std::string &w, const std::string &r, int32_t t, std::vector<int32_t> v) {
        now_[0].contents[keyOf(w, r, t)] = std::move(v);
    }
    void drop(const std::string &w, const std::string &r, int32_t t) { now_[0].contents.erase(keyOf(w, r, t)); }

    // Cuts a closed file 10 bytes before its stored index, which is the
    // number on its last line (not a counted change).
    static void cutInsideLastDataset(const std::string &path) {
        const std::string bytes = vrntest::readFile(path);
        const size_t last = bytes.rfind('\n', bytes.size() - 2) + 1;
        if (truncate(path.c_str(), std::stoll(bytes.substr(last)) - 10) != 0) abort();
    }
    // Deletes the end of the size line and "*ENDINFO" (not a counted change).
    static void shortenInfoBlock(const std::string &path) {
        std::string bytes = vrntest::readFile(path);
        vrntest::writeFile(path, bytes.erase(24, 12));
    }
    // Three bytes after the end (not a counted change).
    static void appendBytes(const std::string &path) {
        vrntest::writeFile(path, vrntest::readFile(path) + "QQQ");
    }
    // The format of the datasets written from now on: "F" text, "U5"
    // compressed binary with 32-bit lengths, "L5" with 64-bit lengths.
    void format(const char *name) { iotest::setFormat(c_, name); }
    void writeInts(const std::string &w, const std::string &r, int32_t t, const std::vector<int32_t> &v,
                   int32_t blockfactor = 1) {
        iotest::writeSeries(c_, w, r, t, v, blockfactor);
    }
    void erase(const std::string &w, const std::string &r, int32_t t) { iotest::erase(c_, w, r, t); }
    void copyOne(const std::string &w, const std::string &r, int32_t t) { iotest::copyOne(c_, w, r, t); }

    std::string dir_;
    std::vector<Snapshot> *record_;
    long long base_ = 0;
    Client c_;
    Expect now_[kFileCount];
};

void removeFiles(const std::string &dir) {
    for (const char *f : kFiles) {
        std::string path = dir + "/" + f;
        unlink(path.c_str());
        vrntest::removeDeadWriterLock(path);
    }
}

// Opens one file as a user would after the crash, checks it against the
// two acceptable expectations, then writes one more dataset, forces a
// rebuild and checks that exactly that dataset was added.
void checkFile(const std::string &path, const Expect &before, const Expect &during, std::string &failures) {
    vrntest::removeDeadWriterLock(path);
    const bool present = iotest::exists(path) && !vrntest::readFile(path).empty();
    if (!present) {
        if (!satisfies(before, false, {}) && !satisfies(during, false, {}))
            failures += path + ": missing\n";
        return;
    }
    iotest::messages().clear();
    Contents got;
    {
        Client c;
        int rc = c.open(path);
        if (rc != IO_OK) {
            failures += path + ": open answered " + std::to_string(rc) + ": " + iotest::messages();
            return;
        }
        std::string note;
        if (!readAll(c, got, note)) {
            failures += path + ": " + note + ": " + iotest::messages();
            return;
        }
        if (!satisfies(before, true, got) && !satisfies(during, true, got)) {
            failures += path + ": holds " + describe(got) + "; expected " + describe(before.contents) +
                        " or " + describe(during.contents) + "\n";
            return;
        }
        iotest::expectOneMoreWriteAfterRebuild(c, path, got, failures);
    }
}

struct Recorded {
    std::vector<Snapshot> steps;
    long long total = 0;
};

Recorded recordWorkload(const std::string &dir) {
    Recorded r;
    removeFiles(dir);
    Workload w(dir, &r.steps);
    w.run();
    r.total = r.steps.back().changesAfter;
    removeFiles(dir);
    return r;
}

// The step under way at the n-th change.
size_t stepAt(const Recorded &r, long long n) {
    for (size_t j = 1; j < r.steps.size(); ++j)
        if (r.steps[j].changesAfter >= n) return j;
    return r.steps.size() - 1;
}

// Cuts the workload at each point (keeping keepBytes of a cut write) and
// checks every file; the failures of all points, "" when none.
std::string crashAndCheck(const std::string &dir, const Recorded &r, const std::vector<long long> &points,
                          const std::vector<long long> &keeps) {
    std::string all;
    for (long long n : points) {
        for (long long keep : keeps) {
            removeFiles(dir);
            if (!vrntest::runUntilCrash([&] { Workload(dir, nullptr).run(); }, n, keep)) {
                all += "cut " + std::to_string(n) + ": the workload did not end at the cut\n";
                continue;
            }
            size_t j = stepAt(r, n);
            std::string failures = vrntest::runInFreshProcess([&](std::string &f) {
                for (int i = 0; i < kFileCount; ++i)
                    checkFile(dir + "/" + kFiles[i], r.steps[j - 1].expect[i], r.steps[j].expect[i], f);
            });
            if (!failures.empty())
                all += "cut " + std::to_string(n) + " (keep " + std::to_string(keep) + ") in step \"" +
                       r.steps[j].step + "\":\n" + failures;
        }
    }
    return all;
}

TEST(DataFileCrashPoints, NothingClosedIsLostAndNothingDeletedComesBackAtAnyCut) {
    TempDir dir;
    Recorded r = recordWorkload(dir.path());
    ASSERT_GT(r.total, 20);
    RecordProperty("file_changes", std::to_string(r.total));
    // Every point while the workload stays small; an even sample beyond a
    // few thousand changes.
    auto points = vrntest::crashPointsToTry(r.total, vrntest::crashPointCap(r.total, 3000));
    std::string failures = crashAndCheck(dir.path(), r, points, {-1});
    EXPECT_EQ("", failures.substr(0, 6000));
}

TEST(DataFileCrashPoints, AWriteCutAtAnyByteLeavesTheFileWholeUpToIt) {
    TempDir dir;
    Recorded r = recordWorkload(dir.path());
    ASSERT_GT(r.total, 20);
    // Every change, with the cut write keeping a sample of its bytes (one,
    // a few, a field's worth, most of a small dataset): a tail lost or a
    // disk that filled up. Whole writes are the test above.
    auto points = vrntest::crashPointsToTry(r.total, vrntest::crashPointCap(r.total, 3000));
    std::string failures = crashAndCheck(dir.path(), r, points, {1, 5, 24, 150});
    EXPECT_EQ("", failures.substr(0, 6000));
}

TEST(DataFileCrashPoints, TheWorkloadItselfLeavesTheExpectedFiles) {
    // Without a cut, the recorded expectations are what the files hold: the
    // harness checks against a true model.
    TempDir dir;
    Recorded r = recordWorkload(dir.path());
    ASSERT_FALSE(vrntest::runUntilCrash([&] { Workload(dir.path(), nullptr).run(); }, r.total + 1));
    std::string failures = vrntest::runInFreshProcess([&](std::string &f) {
        for (int i = 0; i < kFileCount; ++i)
            checkFile(dir.file(kFiles[i]), r.steps.back().expect[i], r.steps.back().expect[i], f);
    });
    EXPECT_EQ("", failures);
    EXPECT_EQ(r.steps.back().expect[0].contents.size(), 6u) << describe(r.steps.back().expect[0].contents);
    // The compaction took the five datasets that were there before the cut.
    auto beforeCut = std::find_if(r.steps.begin(), r.steps.end(), [](const Snapshot &s) { return s.step == "cut inside e"; });
    ASSERT_NE(r.steps.end(), beforeCut);
    EXPECT_EQ(r.steps.back().expect[2].contents, (beforeCut - 1)->expect[0].contents);
}

TEST(DataFileCrashPoints, EveryChangeGoesThroughACountedStream) {
    // A file opened for reading and writing is read through the C runtime's
    // stream; before any change it must move to a counted stream, or the
    // crash points above would miss that change.
    TempDir dir;
    const std::string name = dir.file("p.kwx");
    {
        Client c;
        ASSERT_EQ(IO_OK, c.open(name));
        ASSERT_EQ(IO_OK, c.writeInts("a", "r", 1, {1}));
    }
    auto counted = [](FILE *stream) { return stream && fileno(stream) < 0 && vrnPlatform_streamFd(stream) >= 0; };
    const std::vector<std::pair<const char *, std::function<int(Client &)>>> changes = {
        {"write", [](Client &c) { return c.writeInts("c", "r", 1, {3}); }},
        {"delete",
         [](Client &c) {
             Header h("a", "r", 1);
             Data d;
             return c.request(IO_DELETE_DS, h, d);
         }},
        {"flush of a rebuilt index", [](Client &c) { return iif_flush(&c.control()->primary); }},
    };
    for (const auto &[label, change] : changes) {
        iotest::forceRebuild(name);
        Client c;
        ASSERT_EQ(IO_OK, c.open(name)) << label;
        EXPECT_FALSE(counted(c.control()->primary.stream)) << label << ": an open already counts";
        ASSERT_EQ(IO_OK, change(c)) << label;
        EXPECT_TRUE(counted(c.control()->primary.stream)) << label;
    }
}

}  // namespace
