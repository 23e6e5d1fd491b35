// The model database killed at every file change of a workload, then
// reopened in a fresh process: it must open; every state closed before
// the cut must read back exactly; nothing deleted or superseded may come
// back; the step under way at the cut is there whole or not at all; and
// undo and redo from the reopened file reach only whole states.
//
// A reference run records, after each step, the file changes made so far
// and the model it leaves: the snapshot of every state undo and redo may
// reach. A cut after change n-1 must leave the model of the last step
// done by then or of the step under way, also when the file ends part way
// through the write at the cut. Workloads of more than kMaxPoints changes
// would be cut at kMaxPoints points spread evenly over them (those here
// make a few hundred).
#include <gtest/gtest.h>
#include <sys/syscall.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "../handed_over.h"
#include "crash_points.h"
#include "model/repository.h"
#include "model_fixture.h"
#include "../topology/model_describe.h"
#include "support/system.h"
#include "test_support.h"
#include "vrn_platform.h"

using modeltest::Blob;
using vrntest::listDir;

namespace {

const long long kMaxPoints = 3000;
const long long kTornPoints = 60;

// The live blobs of a manager as text, one "name=value>ref" per blob,
// sorted: blobs are known by their names, UUIDs differing between runs.
std::string blobSnapshot(vrnStateManager* m) {
    std::vector<std::string> lines;
    int blob = vrnTypeManager_getIndexOfName("vrnBlob");
    DictionaryIterator* it = DictionaryIterator_new(m->objects);
    for (Pair* p = DictionaryIterator_first(it); p; p = DictionaryIterator_next(it)) {
        vrnObject* o = static_cast<vrnObject*>(p->second);
        if (o->typeIndex != blob) continue;
        Blob* b = reinterpret_cast<Blob*>(o);
        Blob* ref = reinterpret_cast<Blob*>(b->ref);
        lines.push_back(std::string(b->name ? b->name : "?") + "=" + std::to_string(b->value) + ">" +
                        (ref && ref->name ? ref->name : "-"));
    }
    DictionaryIterator_delete(it);
    std::sort(lines.begin(), lines.end());
    std::string text;
    for (const std::string& l : lines) text += l + ";";
    return text;
}

// The live objects of a repository as text: each object's description
// with every UUID text of a live object replaced by its type name, the
// lines sorted.
std::string repositorySnapshot(vrnStateManager* m) {
    std::vector<std::string> lines;
    DictionaryIterator* it = DictionaryIterator_new(m->objects);
    for (Pair* p = DictionaryIterator_first(it); p; p = DictionaryIterator_next(it)) {
        std::string line = modeltest::describe(static_cast<vrnObject*>(p->second));
        const size_t n = VRN_UUID_STRING_SIZE - 1;
        for (size_t at = 0; at + n <= line.size(); ++at) {
            void* o = nullptr;
            std::string token = line.substr(at, n);
            if (Dictionary_find(m->objects, token.c_str(), nullptr, &o)) {
                std::string type = vrnObject_getTypeName(static_cast<vrnObject*>(o));
                line.replace(at, n, "<" + type + ">");
                at += type.size() + 1;
            }
        }
        std::replace(line.begin(), line.end(), '\n', '|');
        lines.push_back(line);
    }
    DictionaryIterator_delete(it);
    std::sort(lines.begin(), lines.end());
    std::string text;
    for (const std::string& l : lines) text += l + ";";
    return text;
}

// What a workload's model is made of: how to open it, see it, and add
// something to it.
struct Flavour {
    std::function<vrnStateManager*(const std::string& path)> open;
    std::function<std::string(vrnStateManager*)> snapshot;
    std::function<void(vrnStateManager*, int)> addOne;
};

const Flavour* flavour = nullptr;

std::string snapshotOf(vrnStateManager* m) { return flavour->snapshot(m); }

// The model a step leaves: the current state and the snapshot of each
// state undo and redo may reach.
struct View {
    int current = 0;
    std::map<int, std::string> states{{0, ""}};
};

struct Step {
    long long changes;
    View view;
};

// Follows a workload: knows the snapshot of every state it has seen, and
// in the reference run records a step whenever asked.
struct Recorder {
    bool recording = false;
    long long start = 0;
    std::map<int, std::string> known{{0, ""}};
    std::vector<Step> steps;

    // After a step: a state still open is not counted, since it is gone
    // once reopened.
    void step(vrnStateManager* m) {
        int current = m->current;
        int last = abs(m->last);
        if (current >= 0) {
            known[current] = snapshotOf(m);
        } else {
            current = -current - 1;
            last = current;
        }
        View v;
        v.current = current;
        v.states.clear();
        for (const auto& s : known)
            if (s.first >= abs(m->first) && s.first <= last) v.states[s.first] = s.second;
        record(v);
    }
    // After a close that reduced the model to one state.
    void purged(const std::string& snapshot) {
        known = {{0, ""}, {1, snapshot}};
        View v;
        v.current = 1;
        v.states = known;
        record(v);
    }
    void record(const View& v) {
        if (recording) steps.push_back({vrnPlatform_fileChangeCount() - start, v});
    }
};

std::string encode(const std::vector<Step>& steps) {
    std::ostringstream out;
    for (const Step& s : steps) {
        out << "step " << s.changes << " " << s.view.current << "\n";
        for (const auto& st : s.view.states) out << "state " << st.first << " " << st.second << "\n";
    }
    return out.str();
}

std::vector<Step> decode(const std::string& text) {
    std::vector<Step> steps;
    std::istringstream in(text);
    std::string word;
    while (in >> word) {
        if (word == "step") {
            Step s;
            in >> s.changes >> s.view.current;
            s.view.states.clear();
            steps.push_back(s);
        } else if (word == "state" && !steps.empty()) {
            int n = 0;
            in >> n;
            in.get();
            std::string snap;
            std::getline(in, snap);
            steps.back().view.states[n] = snap;
        }
    }
    return steps;
}

// The live object of a type that the test accepts.
vrnObject* liveObject(vrnStateManager* m, const char* type, const std::function<bool(vrnObject*)>& is) {
    DictionaryIterator* it = DictionaryIterator_new(m->objects);
    vrnObject* found = nullptr;
    for (Pair* p = DictionaryIterator_first(it); p && !found; p = DictionaryIterator_next(it)) {
        vrnObject* o = static_cast<vrnObject*>(p->second);
        if (o->typeIndex == vrnTypeManager_getIndexOfName(type) && is(o)) found = o;
    }
    DictionaryIterator_delete(it);
    return found;
}

Blob* blobNamed(vrnStateManager* m, const std::string& name) {
    return reinterpret_cast<Blob*>(liveObject(m, "vrnBlob", [&](vrnObject* o) {
        const char* n = reinterpret_cast<Blob*>(o)->name;
        return n && name == n;
    }));
}

Blob* makeBlob(const char* name, int value, Blob* ref) {
    Blob* b = reinterpret_cast<Blob*>(vrnObject_new("vrnBlob"));
    b->value = value;
    b->name = vrnCString_clone(name);
    b->ref = ref ? &ref->header : nullptr;
    vrnObject_markModified(&b->header);
    return b;
}

void change(Blob* b, int value) {
    b->value = value;
    vrnObject_markModified(&b->header);
}

vrnStateManager* openModel(const std::string& path) {
    modeltest::installBlob();
    vrnStateManager* m = vrnStateManager_new();
    vrnStateManager_setGlobal(m);
    return vrnStateManager_openDatabase(m, path.c_str()) ? m : nullptr;
}

// Four states: a and b (a refers to b); a changed and c made; b deleted
// and a let go of it; c changed.
void fourStates(vrnStateManager* m, Recorder& rec) {
    Blob* a = makeBlob("a", 1, nullptr);
    Blob* b = makeBlob("b", 10, nullptr);
    a->ref = &b->header;
    vrnStateManager_closeState(m);
    rec.step(m);
    change(a, 2);
    makeBlob("c", 30, a);
    vrnStateManager_closeState(m);
    rec.step(m);
    a->ref = nullptr;
    vrnObject_markModified(&a->header);
    modeltest::blobDestroy(&b->header);
    vrnStateManager_closeState(m);
    rec.step(m);
    change(blobNamed(m, "c"), 31);
    change(a, 4);
    vrnStateManager_closeState(m);
    rec.step(m);
}

void copyFile(const std::string& from, const std::string& to) {
    vrntest::writeFile(to, vrntest::readFile(from));
}

// A workload on the model file at path; the recorder follows it.
using Workload = std::function<void(const std::string& path, Recorder& rec)>;

struct CrashRun {
    vrntest::TempDir dir;
    std::string base = dir.file("base.vrn");  // what the workload starts from, when fromBase
    std::string path = dir.file("model.vrn");
    bool fromBase = false;
    Recorder seed;

    void reset() {
        vrnRemoveFile(path.c_str());
        vrntest::removeDeadWriterLock(path);
        if (fromBase) copyFile(base, path);
    }

    explicit CrashRun(const Flavour& f) { flavour = &f; }

    // Builds the model the workload starts from in this process, noting
    // the snapshots of its states.
    void buildBase(const Workload& build) {
        build(base, seed);
        commontest::takeErrors();
        fromBase = true;
    }

    std::vector<Step> reference(const Workload& work) {
        reset();
        std::string text = vrntest::runInFreshProcess([&](std::string& out) {
            Recorder rec = seed;
            rec.recording = true;
            rec.start = vrnPlatform_fileChangeCount();
            work(path, rec);
            out = encode(rec.steps);
        });
        return decode(text);
    }

    static std::string describe(const View& v) {
        std::string t = "current " + std::to_string(v.current);
        for (const auto& s : v.states) t += "\n    " + std::to_string(s.first) + ": " + s.second;
        return t;
    }

    // Checks the reopened file against the step done before the cut and
    // the one under way.
    std::string check(const View& done, const View& next) {
        return vrntest::runInFreshProcess([&](std::string& f) {
            vrntest::removeDeadWriterLock(path);
            vrnStateManager* m = flavour->open(path);
            if (!m) {
                f += "the file does not open\n";
                for (const auto& e : commontest::takeErrors()) f += "  " + e.message + "\n";
                return;
            }
            int first = abs(m->first), last = abs(m->last), current = m->current;
            std::string now = snapshotOf(m);
            if (current < 0) f += "reopened with state " + std::to_string(-current) + " open\n";
            const View* at = nullptr;
            for (const View* v : {&done, &next})
                if (v->current == current && v->states.count(current) && v->states.at(current) == now) at = v;
            if (!at) f += "current state " + std::to_string(current) + " reads " + now + "\n";
            std::map<int, std::string> reached;
            for (int s = first; s <= last; ++s) {
                if (vrnStateManager_changeState(m, 0, s) != 1) {
                    f += "state " + std::to_string(s) + " cannot be reached\n";
                    continue;
                }
                reached[s] = snapshotOf(m);
                bool whole = false;
                for (const View* v : {&done, &next})
                    if (v->states.count(s) && v->states.at(s) == reached[s]) whole = true;
                if (!whole) f += "state " + std::to_string(s) + " reads " + reached[s] + "\n";
            }
            // A closed state that the step under way leaves as it is must
            // have survived.
            for (const auto& s : done.states) {
                if (s.first == 0) continue;
                auto kept = next.states.find(s.first);
                if (kept == next.states.end() || kept->second != s.second) continue;
                auto r = reached.find(s.first);
                if (r == reached.end() || r->second != s.second)
                    f += "closed state " + std::to_string(s.first) + " is lost\n";
            }
            // The file takes new states on top of the reopened one, holding
            // nothing but what they are given.
            if (current >= 0 && vrnStateManager_changeState(m, 0, current) == 1) {
                std::vector<std::string> after;
                for (int i = 1; i <= 2; ++i) {
                    flavour->addOne(m, i);
                    int closed = vrnStateManager_closeState(m);
                    if (closed != current + i) f += "a new state closes as " + std::to_string(closed) + "\n";
                    after.push_back(snapshotOf(m));
                }
                if (vrnStateManager_changeState(m, 0, current) != 1 || snapshotOf(m) != now)
                    f += "undo of the new states does not give back the reopened one\n";
                for (int i = 1; i <= 2; ++i)
                    if (vrnStateManager_changeState(m, 1, 1) != 1 || snapshotOf(m) != after[static_cast<size_t>(i - 1)])
                        f += "redo of new state " + std::to_string(current + i) + " differs\n";
            }
            vrnStateManager_closeDatabase(m, -1);
            vrnStateManager_delete(m);
            if (!f.empty())
                f += "  expected " + describe(done) + "\n  or " + describe(next) + "\n";
        });
    }

    // Cuts the workload at every change (or kMaxPoints of them), then at
    // part of each write (a write cut after its first byte at firstByteCuts
    // points); answers the failures, at most a few.
    void run(const Workload& work, long long firstByteCuts = kMaxPoints) {
        std::vector<Step> steps = reference(work);
        ASSERT_FALSE(steps.empty()) << "the reference run recorded nothing";
        long long total = steps.back().changes;
        ASSERT_GT(total, 0);
        int failures = 0;
        // Whole calls at every change; a write cut after its first byte at
        // every change too, unless asked otherwise; one cut after 21 bytes
        // at fewer points.
        const std::pair<long long, long long> cuts[] = {{-1, kMaxPoints}, {1, firstByteCuts}, {21, kTornPoints}};
        for (const auto& cut : cuts) {
            const long long keep = cut.first;
            for (long long n : vrntest::crashPointsToTry(total, vrntest::crashPointCap(total, cut.second))) {
                reset();
                if (!vrntest::runUntilCrash(
                        [&] {
                            Recorder rec = seed;
                            work(path, rec);
                        },
                        n, keep)) {
                    // Every counted call ends the process there; kept bytes
                    // only change how much of a write is left.
                    ADD_FAILURE() << "the workload did not end at change " << n << " of " << total;
                    return;
                }
                // The step done before change n, and the one under way.
                View start;
                start.current = seed.known.rbegin()->first;
                start.states = seed.known;
                const View* done = &start;
                const View* next = &steps.front().view;
                for (size_t i = 0; i < steps.size(); ++i) {
                    if (steps[i].changes <= n - 1) {
                        done = &steps[i].view;
                        next = i + 1 < steps.size() ? &steps[i + 1].view : &steps[i].view;
                    }
                }
                std::string failed = check(*done, *next);
                if (!failed.empty()) {
                    ADD_FAILURE() << "cut at change " << n << " of " << total
                                  << (keep >= 0 ? " keeping " + std::to_string(keep) + " bytes" : std::string())
                                  << ":\n"
                                  << failed;
                    if (++failures >= 3) return;
                }
            }
        }
    }
};

void newModel(const std::string& path, Recorder& rec) {
    vrnStateManager* m = openModel(path);
    if (!m) return;
    rec.step(m);
    fourStates(m, rec);
    vrnStateManager_closeDatabase(m, -1);
    vrnStateManager_delete(m);
}

// Undo and redo over the base model, then an edit after an undo, which
// discards the redo states.
void undoRedoAndDiscard(const std::string& path, Recorder& rec) {
    vrnStateManager* m = openModel(path);
    if (!m) return;
    rec.step(m);
    vrnStateManager_changeState(m, 0, 2);
    rec.step(m);
    vrnStateManager_changeState(m, 1, 1);
    rec.step(m);
    vrnStateManager_changeState(m, 0, 1);
    rec.step(m);
    Blob* a = blobNamed(m, "a");
    a->value = 50;
    vrnObject_setInt(&a->header, "value", 50);
    rec.step(m);  // states 2 to 4 discarded, the new one open
    makeBlob("d", 60, blobNamed(m, "b"));
    vrnStateManager_closeState(m);
    rec.step(m);
    vrnStateManager_changeState(m, 1, -1);
    rec.step(m);
    vrnStateManager_changeState(m, 1, 1);
    rec.step(m);
    vrnStateManager_closeDatabase(m, -1);
    vrnStateManager_delete(m);
}

// Over the base model: an edit one of whose writes fails (a key no file
// can hold), so that its close fails and drops it, then an edit that
// stores, which drops the failed state from the file first.
void aFailedStateThenAnEdit(const std::string& path, Recorder& rec) {
    vrnStateManager* m = openModel(path);
    if (!m) return;
    rec.step(m);
    Blob* a = blobNamed(m, "a");
    a->value = 70;
    vrnObject_setInt(&a->header, "value", 70);
    vrnObject_setInt(&a->header, "bad\nkey", 1);
    makeBlob("e", 80, a);
    vrnStateManager_closeState(m);
    rec.step(m);
    a = blobNamed(m, "a");
    a->value = 71;
    vrnObject_markModified(&a->header);
    vrnStateManager_closeState(m);
    rec.step(m);
    vrnStateManager_closeDatabase(m, -1);
    vrnStateManager_delete(m);
}

// A close that compacts the file, keeping every state.
void closeWithCompaction(const std::string& path, Recorder& rec) {
    vrnStateManager* m = openModel(path);
    if (!m) return;
    rec.step(m);
    vrnStateManager_changeState(m, 0, 2);
    rec.step(m);
    vrnStateManager_closeDatabase(m, 0);
    vrnStateManager_delete(m);
}

const Flavour blobs{openModel, blobSnapshot, [](vrnStateManager*, int i) {
                        makeBlob(("later" + std::to_string(i)).c_str(), 90 + i, nullptr);
                    }};

vrnStateManager* openRepository(const std::string& path) {
    vrnModelClasses_install();
    Repository* r = Repository_new(path.c_str());
    return r ? r->stateManager : nullptr;
}

// Undo to state 0 and back re-creates the repository object, so it is
// looked up each time.
void addRegion(vrnStateManager* m, int dimension, const char* name) {
    Repository* r = reinterpret_cast<Repository*>(vrnStateManager_getSingletonByTypeName(m, "Repository"));
    if (r && r->primaryModel && r->primaryModel->topology)
        Topology_addRegion(r->primaryModel->topology, Region_new(dimension, name), nullptr);
}

const Flavour repositories{openRepository, repositorySnapshot,
                           [](vrnStateManager* m, int i) {
                               addRegion(m, 2, ("Later" + std::to_string(i)).c_str());
                           }};

void newRepository(const std::string& path, Recorder& rec) {
    vrnStateManager* m = openRepository(path);
    if (!m) return;
    rec.step(m);
    vrnStateManager_closeDatabase(m, -1);
    vrnStateManager_delete(m);
}

// Regions added at checkpoints, one taken back by an undo and another
// added in its place.
void repositoryEdits(const std::string& path, Recorder& rec) {
    vrnStateManager* m = openRepository(path);
    if (!m) return;
    Repository* r = static_cast<Repository*>(m->repository);
    rec.step(m);
    addRegion(m, 2, "Inlet");
    Repository_externalCheckpoint(r);
    rec.step(m);
    addRegion(m, 3, "Body");
    Repository_externalCheckpoint(r);
    rec.step(m);
    vrnStateManager_changeState(m, 1, -1);
    rec.step(m);
    addRegion(m, 1, "Edge");
    Repository_externalCheckpoint(r);
    rec.step(m);
    vrnStateManager_closeDatabase(m, -1);
    vrnStateManager_delete(m);
}

// Over the model of repositoryEdits: a region deleted.
void deleteRegion(const std::string& path, Recorder& rec) {
    vrnStateManager* m = openRepository(path);
    if (!m) return;
    Region_delete(reinterpret_cast<Region*>(liveObject(m, "Region", [](vrnObject* o) {
        const char* n = Region_getName(reinterpret_cast<Region*>(o));
        return n && std::string(n) == "Inlet";
    })));
    Repository_externalCheckpoint(static_cast<Repository*>(m->repository));
    rec.step(m);
    vrnStateManager_closeDatabase(m, -1);
    vrnStateManager_delete(m);
}

// A region added and taken back by an undo, so that redo could reach it,
// then a close that reduces the file to one state: neither that region
// nor the one deleted before stays.
void repositoryCloseWithPurge(const std::string& path, Recorder& rec) {
    vrnStateManager* m = openRepository(path);
    if (!m) return;
    rec.step(m);
    addRegion(m, 2, "Outlet");
    Repository_externalCheckpoint(static_cast<Repository*>(m->repository));
    rec.step(m);
    vrnStateManager_changeState(m, 1, -1);
    rec.step(m);
    std::string last = snapshotOf(m);
    vrnStateManager_closeDatabase(m, 1);
    rec.purged(last);
    vrnStateManager_delete(m);
}

}  // namespace

TEST(ModelCrashPoints, EditsAndClosedStatesOfANewModel) {
    CrashRun run(blobs);
    run.run(newModel);
}

TEST(ModelCrashPoints, UndoRedoAndAnEditThatDiscardsRedoStates) {
    CrashRun run(blobs);
    run.buildBase(newModel);
    run.run(undoRedoAndDiscard);
}

TEST(ModelCrashPoints, AStateWithAFailedWriteIsDroppedWholeByTheNextEdit) {
    CrashRun run(blobs);
    run.buildBase(newModel);
    run.run(aFailedStateThenAnEdit);
}

TEST(ModelCrashPoints, CloseWithCompactionKeepsTheModelUnderItsName) {
    CrashRun run(blobs);
    run.buildBase(newModel);
    run.run(closeWithCompaction);
}

TEST(ModelCrashPoints, RepositoryWithTopologyObjects) {
    CrashRun run(repositories);
    run.buildBase(newRepository);
    run.run(repositoryEdits);
}

TEST(ModelCrashPoints, CloseWithPurgeToOneStateOfARepository) {
    CrashRun run(repositories);
    run.buildBase([](const std::string& path, Recorder& rec) {
        newRepository(path, rec);
        repositoryEdits(path, rec);
        deleteRegion(path, rec);
    });
    // Most of the close writes the copy, which is read only once it is
    // whole: writes cut part way are tried at fewer points.
    run.run(repositoryCloseWithPurge, kTornPoints);
}

namespace {

// Cuts the create of a repository named file at each of its file changes:
// the name then holds a model that opens, and whatever the cut leaves
// beside it bears the model file's name (the start of a long one). The
// failures, "" when none.
std::string cutCreateAtEveryChange(const vrntest::TempDir& dir, const std::string& file) {
    std::string path = dir.file(file);
    const std::string stem = file.substr(0, 100);
    flavour = &repositories;
    auto create = [&] {
        Recorder rec;
        newRepository(path, rec);
    };
    long long total = vrntest::countFileChanges(create);
    if (total <= 0) return "the create made no change\n";
    for (long long n : vrntest::crashPointsToTry(total, vrntest::crashPointCap(total, kMaxPoints))) {
        for (const std::string& e : listDir(dir.path())) vrnRemoveFile(dir.file(e).c_str());
        std::string at = " (cut at change " + std::to_string(n) + " of " + std::to_string(total) + ")\n";
        if (!vrntest::runUntilCrash(create, n)) return "no end" + at;
        for (const std::string& e : listDir(dir.path()))
            if (e.rfind(stem, 0) != 0) return e + " is left beside the model" + at;
        std::string failed = vrntest::runInFreshProcess([&](std::string& f) {
            vrntest::removeDeadWriterLock(path);
            vrnStateManager* m = openRepository(path);
            if (!m) {
                f += "the repository does not open\n";
                return;
            }
            if (!vrnStateManager_getSingletonByTypeName(m, "Model")) f += "no model\n";
            vrnStateManager_closeDatabase(m, -1);
            vrnStateManager_delete(m);
        });
        if (!failed.empty()) return failed + at;
    }
    return "";
}

}  // namespace

TEST(ModelCrashPoints, ARepositoryCutBeforeItsFirstStateClosedOpensAsANewOne) {
    vrntest::TempDir dir;
    EXPECT_EQ(cutCreateAtEveryChange(dir, "model.vrn"), "");
    // A name that leaves no room for a temporary one ending in its own.
    EXPECT_EQ(cutCreateAtEveryChange(dir, std::string(240, 'm') + ".vrn"), "");
    // Where the model cannot be renamed into place without replacing in
    // one step, it is linked there and its temporary name unlinked.
    auto r = vrntest::runInChild([&] {
        if (!vrntest::refuseSystemCalls({{__NR_renameat2, EINVAL}})) return 10;
        std::string failed = cutCreateAtEveryChange(dir, "model.vrn");
        std::fprintf(stderr, "%s", failed.c_str());
        return failed.empty() ? 0 : 1;
    });
    if (r.exitStatus == 10) GTEST_SKIP() << "this machine does not let a process install a seccomp filter";
    EXPECT_EQ(r.exitStatus, 0) << r.err;
}

// A create refused by another process's lock on the name: wherever the
// process dies, the name holds nothing or a whole model, and a create
// that fails leaves nothing.
TEST(ModelCrashPoints, ACreateRefusedByALockLeavesNothingUnderTheName) {
    vrntest::TempDir dir;
    std::string path = dir.file("model.vrn");
    auto create = [&] { openRepository(path); };
    vrntest::writeFile(path + ".lck", "-1");
    long long total = vrntest::countFileChanges(create);
    ASSERT_GT(total, 0);
    EXPECT_FALSE(vrnFileExists(path.c_str())) << "the refused create left a file";
    for (long long n : vrntest::crashPointsToTry(total, vrntest::crashPointCap(total, kMaxPoints))) {
        vrnRemoveFile(path.c_str());
        vrntest::writeFile(path + ".lck", "-1");
        ASSERT_TRUE(vrntest::runUntilCrash(create, n)) << "no end at change " << n << " of " << total;
        std::string failed = vrntest::runInFreshProcess([&](std::string& f) {
            vrntest::removeDeadWriterLock(path);
            if (!vrnFileExists(path.c_str())) return;
            vrnStateManager* m = openRepository(path);
            if (!m) {
                f += "the file left does not open\n";
                return;
            }
            vrnStateManager_closeDatabase(m, -1);
            vrnStateManager_delete(m);
        });
        ASSERT_EQ(failed, "") << "cut at change " << n << " of " << total;
    }
}
