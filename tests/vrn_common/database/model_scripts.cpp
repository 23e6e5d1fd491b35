#include "model_scripts.h"

#include <algorithm>
#include <cstdlib>
#include <set>
#include <sstream>

#include "../handed_over.h"
#include "../topology/model_describe.h"
#include "crash_points.h"
#include "model/repository.h"
#include "support/system.h"
#include "vrn_platform.h"

using modeltest::Blob;

namespace modelscripts {

namespace {

const Flavour* flavour = nullptr;

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
    if (!b) return;  // gone with a failed state
    b->value = value;
    vrnObject_markModified(&b->header);
}

// Four states: a and b (a refers to b); a changed and c made; b deleted
// and a let go of it; c changed.
void fourStates(vrnStateManager* m, Recorder& rec) {
    // A first state that could not be stored went with its objects: the
    // host makes it again, once.
    for (int attempt = 0; attempt < 2 && !blobNamed(m, "a"); ++attempt) {
        Blob* a = makeBlob("a", 1, nullptr);
        Blob* b = makeBlob("b", 10, nullptr);
        a->ref = &b->header;
        rec.close(m);
    }
    Blob* a = blobNamed(m, "a");
    if (!a) return;
    change(a, 2);
    makeBlob("c", 30, a);
    rec.close(m);
    a = blobNamed(m, "a");
    a->ref = nullptr;
    vrnObject_markModified(&a->header);
    if (Blob* b = blobNamed(m, "b")) modeltest::blobDestroy(&b->header);
    rec.close(m);
    if (Blob* c = blobNamed(m, "c")) change(c, 31);
    change(blobNamed(m, "a"), 4);
    rec.close(m);
}

// Undo to state 0 and back re-creates the repository object, so it is
// looked up each time.
Repository* repositoryOf(vrnStateManager* m) {
    return reinterpret_cast<Repository*>(vrnStateManager_getSingletonByTypeName(m, "Repository"));
}

void addRegion(vrnStateManager* m, int dimension, const char* name) {
    Repository* r = repositoryOf(m);
    if (r && r->primaryModel && r->primaryModel->topology)
        Topology_addRegion(r->primaryModel->topology, Region_new(dimension, name), nullptr);
}

// The types every stored object names must be listed, in both arrays of
// the file's list: the list is written before any object of a type it
// lacks. The failures, "" when none.
std::string unlistedTypes(Database* db) {
    char** names = nullptr;
    int* ids = nullptr;
    int nNames = 0, nIds = 0;
    Database_getStringArray(db, 0, nullptr, "Type - names", &names, &nNames);
    Database_getIntegerArray(db, 0, nullptr, "Type - ids", &ids, &nIds);
    std::set<int> listed(ids, ids + std::min(nNames, nIds));
    vrnCStringArray_free(names, nNames);
    vrnFree(ids, "unlistedTypes");
    int n = 0;
    char** whats = nullptr;
    char** wheres = nullptr;
    int* whens = nullptr;
    std::string f;
    if (DefFile_match(db->file, "__TYPE__", "*", -1, 0, &n, &whats, &wheres, &whens) && n > 0) {
        for (int i = 0; i < n && f.empty(); ++i) {
            int id = -1;
            if (DefFile_readInt(db->file, "__TYPE__", wheres[i], whens[i], &id) && !listed.count(id))
                f = "an object of state " + std::to_string(whens[i]) + " has type " + std::to_string(id) +
                    ", which the stored type list (" + std::to_string(nNames) + " names, " +
                    std::to_string(nIds) + " ids) does not name\n";
        }
    }
    if (n > 0) {
        vrnCStringArray_free(whats, n);
        vrnCStringArray_free(wheres, n);
        vrnFree(whens, "unlistedTypes");
    }
    return f;
}

}  // namespace

const Flavour blobs{openModel, blobSnapshot, [](vrnStateManager*, int i) {
                        makeBlob(("later" + std::to_string(i)).c_str(), 90 + i, nullptr);
                    }};

const Flavour repositories{openRepository, repositorySnapshot, [](vrnStateManager* m, int i) {
                               addRegion(m, 2, ("Later" + std::to_string(i)).c_str());
                           }};

void useFlavour(const Flavour& f) { flavour = &f; }

std::string snapshotOf(vrnStateManager* m) { return flavour->snapshot(m); }

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
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string word;
        words >> word;
        if (word == "step") {
            Step s;
            words >> s.changes >> s.view.current;
            s.view.states.clear();
            steps.push_back(s);
        } else if (word == "state" && !steps.empty()) {
            int n = 0;
            words >> n;
            words.get();
            std::string snap;
            std::getline(words, snap);
            steps.back().view.states[n] = snap;
        }
    }
    return steps;
}

View Recorder::viewOf(vrnStateManager* m) const {
    int current = m->current;
    int last = abs(m->last);
    if (current < 0) {
        current = -current - 1;
        last = current;
    }
    View v;
    v.current = current;
    v.states.clear();
    for (const auto& s : known)
        if (s.first >= abs(m->first) && s.first <= last) v.states[s.first] = s.second;
    return v;
}

void Recorder::record(const View& v) {
    if (!recording) return;
    steps.push_back({vrnPlatform_fileChangeCount() - start, v});
    if (report) report(encode({steps.back()}));
}

void Recorder::mismatch(const std::string& text) {
    if (report) report("! " + text + "\n");
}

void Recorder::step(vrnStateManager* m) {
    if (m->current >= 0) {
        const std::string now = snapshotOf(m);
        auto k = known.find(m->current);
        if (k == known.end()) known[m->current] = now;
        else if (k->second != now)
            mismatch("state " + std::to_string(m->current) + " reads " + now + ", shown before as " + k->second);
        told = m->current;
    }
    record(viewOf(m));
}

void Recorder::closed(vrnStateManager* m, int s, const char* what) {
    const std::string now = snapshotOf(m);
    const std::string answer = std::string(what) + " answered " + std::to_string(s);
    if (s > told && told >= 0) {
        if (m->current != s) mismatch(answer + ", the manager is at state " + std::to_string(m->current));
        // The states above it were discarded.
        known.erase(known.upper_bound(s), known.end());
        known[s] = now;
        told = s;
    } else if (m->current != told) {
        mismatch(answer + ", the manager is at state " + std::to_string(m->current) + ", the host at " +
                 std::to_string(told));
    } else if (known[told] != now) {
        mismatch(answer + ", memory reads " + now + ", state " + std::to_string(told) + " " + known[told]);
    }
    record(viewOf(m));
}

int Recorder::close(vrnStateManager* m) {
    int s = vrnStateManager_closeState(m);
    closed(m, s, "a close of the state");
    return s;
}

int Recorder::checkpoint(vrnStateManager* m) {
    int i = Repository_externalCheckpoint(repositoryOf(m));
    closed(m, i < 0 ? -1 : m->current, "a checkpoint");
    return i;
}

int Recorder::change(vrnStateManager* m, int relative, int n) {
    const int target = relative ? told + n : n;
    const int r = vrnStateManager_changeState(m, relative, n);
    const std::string now = snapshotOf(m);
    const std::string answer = "a change to state " + std::to_string(target) + " answered " + std::to_string(r);
    if (r == 1) {
        auto k = known.find(target);
        if (m->current != target)
            mismatch(answer + ", the manager is at state " + std::to_string(m->current));
        else if (k == known.end() || k->second != now)
            mismatch(answer + ", memory reads " + now + ", the state " + (k == known.end() ? "?" : k->second));
        else
            told = target;
    } else if (m->current != told) {
        mismatch(answer + ", the manager is at state " + std::to_string(m->current) + ", the host at " +
                 std::to_string(told));
    } else if (known[told] != now) {
        mismatch(answer + ", memory reads " + now + ", state " + std::to_string(told) + " " + known[told]);
    }
    record(viewOf(m));
    return r;
}

int Recorder::closeDatabase(vrnStateManager* m, int mode) {
    // The close stores first what is still to store, as a close of the
    // state does.
    close(m);
    const View before = viewOf(m);
    const std::string last = snapshotOf(m);
    commontest::takeErrors();
    const int r = vrnStateManager_closeDatabase(m, mode);
    vrnStateManager_delete(m);
    bool compacted = mode != -1;
    for (const auto& e : commontest::takeErrors())
        if (e.message.find("Unable to compact") != std::string::npos) compacted = false;
    if (mode == 1 && compacted) {
        // The model reduced to one state.
        known = {{0, ""}, {1, last}};
        View v;
        v.current = 1;
        v.states = known;
        record(v);
    } else {
        record(before);
    }
    return r;
}

vrnStateManager* openModel(const std::string& path) {
    modeltest::installBlob();
    vrnStateManager* m = vrnStateManager_new();
    vrnStateManager_setGlobal(m);
    return vrnStateManager_openDatabase(m, path.c_str()) ? m : nullptr;
}

vrnStateManager* openRepository(const std::string& path) {
    vrnModelClasses_install();
    Repository* r = Repository_new(path.c_str());
    return r ? r->stateManager : nullptr;
}

void newModel(const std::string& path, Recorder& rec) {
    vrnStateManager* m = openModel(path);
    if (!m) return;
    rec.step(m);
    fourStates(m, rec);
    rec.closeDatabase(m, -1);
}

// Undo and redo over the base model, then an edit after an undo, which
// discards the redo states.
void undoRedoAndDiscard(const std::string& path, Recorder& rec) {
    vrnStateManager* m = openModel(path);
    if (!m) return;
    rec.step(m);
    rec.change(m, 0, 2);
    rec.change(m, 1, 1);
    rec.change(m, 0, 1);
    if (Blob* a = blobNamed(m, "a")) {
        a->value = 50;
        vrnObject_setInt(&a->header, "value", 50);
    }
    rec.step(m);  // states 2 to 4 discarded, the new one open
    makeBlob("d", 60, blobNamed(m, "b"));
    rec.close(m);
    rec.change(m, 1, -1);
    rec.change(m, 1, 1);
    rec.closeDatabase(m, -1);
}

// Over the base model: an edit one of whose writes fails (a key no file
// can hold), so that its close fails and drops it, then an edit that
// stores, which drops the failed state from the file first.
void aFailedStateThenAnEdit(const std::string& path, Recorder& rec) {
    vrnStateManager* m = openModel(path);
    if (!m) return;
    rec.step(m);
    Blob* a = blobNamed(m, "a");
    if (!a) {
        rec.closeDatabase(m, -1);
        return;
    }
    a->value = 70;
    vrnObject_setInt(&a->header, "value", 70);
    vrnObject_setInt(&a->header, "bad\nkey", 1);
    makeBlob("e", 80, a);
    rec.close(m);
    change(blobNamed(m, "a"), 71);
    rec.close(m);
    rec.closeDatabase(m, -1);
}

// A close that compacts the file, keeping every state.
void closeWithCompaction(const std::string& path, Recorder& rec) {
    vrnStateManager* m = openModel(path);
    if (!m) return;
    rec.step(m);
    rec.change(m, 0, 2);
    rec.closeDatabase(m, 0);
}

void newRepository(const std::string& path, Recorder& rec) {
    vrnStateManager* m = openRepository(path);
    if (!m) return;
    rec.step(m);
    rec.closeDatabase(m, -1);
}

// Regions added at checkpoints, one taken back by an undo and another
// added in its place.
void repositoryEdits(const std::string& path, Recorder& rec) {
    vrnStateManager* m = openRepository(path);
    if (!m) return;
    rec.step(m);
    addRegion(m, 2, "Inlet");
    rec.checkpoint(m);
    addRegion(m, 3, "Body");
    rec.checkpoint(m);
    rec.change(m, 1, -1);
    addRegion(m, 1, "Edge");
    rec.checkpoint(m);
    rec.closeDatabase(m, -1);
}

// Over the model of repositoryEdits: a region deleted.
void deleteRegion(const std::string& path, Recorder& rec) {
    vrnStateManager* m = openRepository(path);
    if (!m) return;
    rec.step(m);
    Region_delete(reinterpret_cast<Region*>(liveObject(m, "Region", [](vrnObject* o) {
        const char* n = Region_getName(reinterpret_cast<Region*>(o));
        return n && std::string(n) == "Inlet";
    })));
    rec.checkpoint(m);
    rec.closeDatabase(m, -1);
}

// A region added and taken back by an undo, so that redo could reach it,
// then a close that reduces the file to one state: neither that region
// nor the one deleted before stays.
void repositoryCloseWithPurge(const std::string& path, Recorder& rec) {
    vrnStateManager* m = openRepository(path);
    if (!m) return;
    rec.step(m);
    addRegion(m, 2, "Outlet");
    rec.checkpoint(m);
    rec.change(m, 1, -1);
    rec.closeDatabase(m, 1);
}

void SessionRun::reset() {
    vrnRemoveFile(path.c_str());
    vrntest::removeDeadWriterLock(path);
    if (fromBase) vrntest::writeFile(path, vrntest::readFile(base));
}

void SessionRun::buildBase(const Workload& build) {
    build(base, seed);
    commontest::takeErrors();
    fromBase = true;
    seed.told = -1;
}

void SessionRun::leaveAStateOpenInTheBase() {
    vrnStateManager* m = flavour->open(base);
    ASSERT_NE(m, nullptr);
    const int current = m->current;
    // A value of the first live object other than the global record.
    std::string where;
    DictionaryIterator* it = DictionaryIterator_new(m->objects);
    if (Pair* p = DictionaryIterator_first(it)) where = static_cast<const char*>(p->first);
    DictionaryIterator_delete(it);
    vrnStateManager_closeDatabase(m, -1);
    vrnStateManager_delete(m);
    ASSERT_FALSE(where.empty());
    Database* db = Database_new(base.c_str());
    ASSERT_NE(db, nullptr);
    vrnUUID* uuid = vrnUUID_newFromBase64(where.c_str());
    ASSERT_TRUE(Database_setInteger(db, 0, nullptr, "State - last", -(current + 1)));
    ASSERT_TRUE(Database_setInteger(db, 0, nullptr, "State - current", -(current + 1)));
    ASSERT_TRUE(Database_setInteger(db, current + 1, uuid, "value", 99));
    vrnUUID_delete(uuid);
    Database_delete(db);
    commontest::takeErrors();
}

std::vector<Step> SessionRun::reference(const Workload& work) {
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

View SessionRun::startView() const {
    View start;
    start.current = seed.known.rbegin()->first;
    start.states = seed.known;
    return start;
}

std::string SessionRun::describe(const View& v) {
    std::string t = "current " + std::to_string(v.current);
    for (const auto& s : v.states) t += "\n    " + std::to_string(s.first) + ": " + s.second;
    return t;
}

std::string SessionRun::check(const View& done, const View& next) {
    return vrntest::runInFreshProcess([&](std::string& f) { f = checkHere(done, next); });
}

std::string SessionRun::checkHere(const View& done, const View& next) {
    std::string f;
    {
        vrntest::removeDeadWriterLock(path);
        // A create that failed, or was cut, leaves nothing; a model once
        // made stays.
        const bool noneClosed = done.current == 0 && done.states.size() == 1;
        if (!vrnFileExists(path.c_str())) return noneClosed ? "" : "the file is gone\n";
        // Before any state closed the model may hold none: a repository
        // opened on it would make one.
        if (noneClosed) {
            vrnStateManager* plain = vrnStateManager_new();
            vrnStateManager* previous = vrnStateManager_setGlobal(plain);
            const bool empty = vrnStateManager_openDatabase(plain, path.c_str()) && plain->current == 0 && plain->last == 0;
            vrnStateManager_closeDatabase(plain, -1);
            vrnStateManager_delete(plain);
            vrnStateManager_setGlobal(previous);
            commontest::takeErrors();
            if (empty) return "";
        }
        vrnStateManager* m = flavour->open(path);
        if (!m) {
            f += "the file does not open\n";
            for (const auto& e : commontest::takeErrors()) f += "  " + e.message + "\n";
            return f;
        }
        f += unlistedTypes(m->database);
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
        if (!f.empty()) f += "  expected " + describe(done) + "\n  or " + describe(next) + "\n";
    }
    return f;
}

}  // namespace modelscripts
