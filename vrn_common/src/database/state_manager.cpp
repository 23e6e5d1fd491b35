#include "database/state_manager.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "database/type_manager.h"
#include "debug/debug_manager.h"
#include "debug/session_file.h"
#include "errors/error.h"
#include "support/cstring.h"
#include "support/memory.h"

namespace {

const char* kSource = "vrn_common/src/database/vrnStateManager";

vrnStateManager* globalManager = nullptr;
bool exitHandlerRegistered = false;
bool globalReleased = false;
// Every manager alive, so that the exit handler closes the databases of
// earlier repositories too, not only the process-wide one.
std::vector<vrnStateManager*>* liveManagers = nullptr;
vrnStateManager_TruncateRoutine truncateRoutine = nullptr;
vrnStateManager_FirstUseRoutine firstUseRoutine = nullptr;

// Who refers to whom. Objects hold references as plain pointers; one that
// nobody points back at (a visual's region, a face mesh's region...) would
// keep the address of an object deleted since, and would not follow the
// object re-created by an undo, since its own stored value did not change.
// So each manager notes, from every reference written or read, which
// objects name which, and settles the holders whenever objects go or come
// back: their keys that name such an object are read again.
//
// Notes are never taken back: one that is out of date (the reference
// changed since) costs one needless check, nothing more. Deleted objects
// keep their block (header and UUID intact) until the holders have let go,
// so that nothing in between touches freed memory. Notes are kept on the
// UUIDs' 16 bytes, not their texts: every reference written or read
// takes one.
struct Id {
    uint64_t a, b;
    bool operator==(const Id& o) const { return a == o.a && b == o.b; }
};
static_assert(sizeof(vrnUUID) == sizeof(Id), "a UUID is 16 bytes");

Id idOf(const vrnUUID* uuid) {
    Id id;
    memcpy(&id, uuid, sizeof id);
    return id;
}

std::string textOfId(const Id& id) {
    vrnUUID uuid;
    memcpy(&uuid, &id, sizeof uuid);
    char text[VRN_UUID_STRING_SIZE];
    vrnUUID_toBase64(&uuid, text);
    return text;
}

struct IdHash {
    size_t operator()(const Id& id) const {
        return static_cast<size_t>((id.a ^ (id.b * 0x9E3779B97F4A7C15ULL)) * 0xBF58476D1CE4E5B9ULL >> 7);
    }
};

// The holders of references to one object: most objects have a handful,
// a few (a topology, a shared blob) very many.
struct Holders {
    std::vector<Id> few;
    std::unordered_set<Id, IdHash> many;

    void add(const Id& h) {
        if (many.empty()) {
            for (const Id& f : few)
                if (f == h) return;
            few.push_back(h);
            if (few.size() <= 16) return;
            many.insert(few.begin(), few.end());
            few.clear();
            few.shrink_to_fit();
            return;
        }
        many.insert(h);
    }
    template <class F>
    void each(F f) const {
        for (const Id& h : few) f(h);
        for (const Id& h : many) f(h);
    }
};

struct References {
    std::unordered_map<Id, Holders, IdHash> holders;  // target -> referrers
    std::vector<vrnObject*> deleted;                  // blocks to free once settled
    std::unordered_set<const vrnObject*> deletedSet;  // the same, for lookups
    std::unordered_set<Id, IdHash> affected;          // objects gone or back, while settling
    bool rereadingSet = false;                        // a holder's keys are being checked:
    Id rereading{0, 0};                               // this one's

    void keep(vrnObject* o) {
        if (deletedSet.insert(o).second) deleted.push_back(o);
    }
    bool isDeleted(const vrnObject* o) const { return !deletedSet.empty() && deletedSet.count(o) > 0; }
};

std::unordered_map<const vrnStateManager*, References>& referenceTables() {
    static auto* tables = new std::unordered_map<const vrnStateManager*, References>;
    return *tables;
}

References& referencesOf(const vrnStateManager* m) { return referenceTables()[m]; }

// The session journal asks for the current state of a handle; the handles
// the model database gives out are state managers.
int currentStateOf(void* handle) {
    return handle ? static_cast<vrnStateManager*>(handle)->current : 0;
}

std::string textOf(const vrnUUID* uuid) {
    char text[VRN_UUID_STRING_SIZE];
    vrnUUID_toBase64(uuid, text);
    return text;
}

void noteReferences(vrnStateManager* m, const vrnUUID* holder, const vrnUUID* const* targets,
                    int count) {
    if (!m || !holder || !targets || count <= 0) return;
    const Id from = idOf(holder);
    References& refs = referencesOf(m);
    for (int i = 0; i < count; ++i) {
        if (!targets[i]) continue;
        const Id to = idOf(targets[i]);
        if (!(to == from)) refs.holders[to].add(from);
    }
}

// 1 when the stored value of key (at the current state) names one of the
// objects being settled.
bool namesAffected(vrnStateManager* m, const vrnUUID* uuid, const char* key) {
    References& refs = referencesOf(m);
    int ints = 0, floats = 0, doubles = 0, chars = 0, fixed = 0, strings = 0, uuids = 0;
    int state = abs(m->current);
    if (!Database_readSignature(m->database, state, uuid, key, &ints, &floats, &doubles, &chars, &fixed,
                                &strings, &uuids) ||
        uuids <= 0)
        return false;
    vrnUUID** values = nullptr;
    int count = 0;
    bool hit = false;
    if (Database_getUUIDArray(m->database, state, uuid, key, &values, &count))
        for (int i = 0; i < count && !hit; ++i)
            hit = values[i] && refs.affected.count(idOf(values[i])) > 0;
    for (int i = 0; i < count; ++i) vrnUUID_delete(values[i]);
    vrnFree(values, "namesAffected");
    return hit;
}

// The first write of the open state that did not reach the file (another
// process holding the file, say), kept until the state is closed: that
// close then reports it and fails, so that nothing passes for stored that
// was not.
std::unordered_map<const vrnStateManager*, std::string>& failedWrites() {
    static auto* failures = new std::unordered_map<const vrnStateManager*, std::string>;
    return *failures;
}

// Managers whose file lists fewer types than this build knows. The list is
// stored before the first state is opened, so that no object of a type the
// file does not list is ever written, and not at open, so that a file
// refused after its open (by the repository) is left as it was.
std::unordered_set<const vrnStateManager*>& typesToRecord() {
    static auto* pending = new std::unordered_set<const vrnStateManager*>;
    return *pending;
}

// What an open found to settle in a file a killed writer left (a state
// that never closed, redo states half discarded, a cut close to one state),
// held until something is first written: the open itself writes nothing,
// so that a file refused after its open (by the repository) is left byte
// for byte as it was, and one that is only read stays so too. The values
// are those the open settled on.
struct Settle {
    bool counters, settleFirst;
    int last, current, first;
};

std::unordered_map<const vrnStateManager*, Settle>& pendingSettles() {
    static auto* pending = new std::unordered_map<const vrnStateManager*, Settle>;
    return *pending;
}

// Managers whose open state was refused the write lock before anything of
// it was written, with the last state redo reached before it.
std::unordered_map<const vrnStateManager*, int>& untouchedStates() {
    static auto* untouched = new std::unordered_map<const vrnStateManager*, int>;
    return *untouched;
}

// True once a write of the open state failed: nothing more of it is
// written, so that the file holds what a writer killed at that point would
// have left, which the state's close then drops.
bool failing(const vrnStateManager* m) { return !failedWrites().empty() && failedWrites().count(m) > 0; }

// The data-file library's last message, which says why a lock was
// refused.
std::string lastIoMessage(const DefFile* f) {
    std::string io = f && f->ioMessage ? f->ioMessage : "";
    while (!io.empty() && io.back() == '\n') io.pop_back();
    size_t line = io.rfind('\n');
    return line == std::string::npos ? io : io.substr(line + 1);
}

int noteWrite(vrnStateManager* m, int ok) {
    if (ok || !m->database || failedWrites().count(m)) return ok;
    const DefFile* f = m->database->file;
    std::string text = f && f->errorText ? f->errorText : "Unable to write to the file.";
    if (f && f->errorWhat)
        text += std::string(" [") + f->errorWhat + ", " + (f->errorWhere ? f->errorWhere : "") + ", " +
                std::to_string(f->errorWhen) + "]";
    // A refused lock says why in the data-file library's last message.
    if (f && f->errorCode == VRN_U_DATABASE_IS_LOCKED) text += "\n" + lastIoMessage(f);
    failedWrites()[m] = text;
    return ok;
}

// The failure the file's handle recorded last, with the data-file
// library's last message.
std::string failureText(vrnStateManager* m) {
    const DefFile* f = m->database ? m->database->file : nullptr;
    std::string text = f && f->errorText ? f->errorText : "";
    std::string io = lastIoMessage(f);
    if (!io.empty()) text += (text.empty() ? "" : "\n") + io;
    return text;
}

// Publishes the refusal of a change of state, saying why.
void refuseChange(vrnStateManager* m, int code, const char* why, const std::string& text) {
    vrnError* e = vrnError_new(code, "vrnStateManager_changeState", kSource, __LINE__);
    vrnError_addMessage(e, "The state of the VRN database\n\n%s\n\ncan not be changed: %s.\n%s\n",
                        Database_getFileName(m->database), why, text.c_str());
    vrnError_publish(e);
}

void settleOpened(vrnStateManager* m);

// Stores target as the current state for a change of state, after what
// the open settled: false (the change refused, saying why) when a write
// failed. Such a failure is the change's own, not a state's.
[[nodiscard]] bool storeCurrent(vrnStateManager* m, int target) {
    settleOpened(m);
    auto failed = failedWrites().find(m);
    if (failed != failedWrites().end()) {
        const std::string text = failed->second;
        failedWrites().erase(failed);
        refuseChange(m, VRN_U_UNABLE_TO_WRITE_DATASET, "what its open settled could not be stored", text);
        return false;
    }
    if (!Database_setInteger(m->database, 0, nullptr, "State - current", target)) {
        refuseChange(m, VRN_U_UNABLE_TO_WRITE_DATASET, "the new current state could not be stored", failureText(m));
        return false;
    }
    return true;
}

// Reports a failed write of the state just closed; false when there was
// none.
bool reportFailedWrites(vrnStateManager* m, int state) {
    auto it = failedWrites().find(m);
    if (it == failedWrites().end()) return false;
    vrnError* e = vrnError_new(VRN_U_UNABLE_TO_WRITE_DATASET, "vrnStateManager_closeState", kSource, __LINE__);
    vrnError_addMessage(e, "The changes of state %d could not all be stored in the VRN database\n\n%s\n\n%s\n",
                        state, m->database ? Database_getFileName(m->database) : "", it->second.c_str());
    vrnError_publish(e);
    failedWrites().erase(it);
    return true;
}

void writeGlobalInt(vrnStateManager* m, const char* key, int value) {
    if (m->database && !failing(m)) noteWrite(m, Database_setInteger(m->database, 0, nullptr, key, value));
}

// Erases every dataset above the state, and the repository's checkpoints
// there once that is done.
void eraseAbove(vrnStateManager* m, int state) {
    if (!m->database || failing(m) || !noteWrite(m, Database_rollback(m->database, state))) return;
    // Only a repository that exists has checkpoints to drop.
    if (m->repository && truncateRoutine) truncateRoutine(m->repository, state);
}

// "State - last" goes first: a process killed between the two writes
// leaves either an empty last state open beyond a closed current one or a
// closed last state with the current one open, both of which the next
// open settles to the closed state.
void writeCounters(vrnStateManager* m) {
    writeGlobalInt(m, "State - last", m->last);
    writeGlobalInt(m, "State - current", m->current);
}

// 1 when some dataset is stored at a state in [from, to] (to -1: from
// on), 0 when none is, -1 when the search failed (which callers that only
// read take for 1: what cannot be told is not taken for nothing).
[[nodiscard]] int anyStoredIn(vrnStateManager* m, int from, int to) {
    int records = 0;
    char** uuids = nullptr;
    int* starts = nullptr;
    char** keys = nullptr;
    int* whens = nullptr;
    const int searched = Database_match(m->database, from, to, "*", "*", &records, &uuids, &starts, &keys, &whens);
    Database_freeMatch(records, uuids, starts, keys, whens);
    return !searched ? -1 : records > 0 ? 1 : 0;
}

// The same for exactly that state.
[[nodiscard]] int anyStoredAt(vrnStateManager* m, int state) { return anyStoredIn(m, state, state); }

// Searches of the file's dataset block that failed so far; a read whose
// search failed answers as one that found nothing, so that work which must
// read everything (a state change restoring objects) compares the count
// before and after.
int failedSearches(const vrnStateManager* m) {
    return m->database && m->database->file && m->database->file->dataset ? m->database->file->dataset->failedSearches
                                                                          : 0;
}

// Stores what the open settled, before the first write of the session. The
// counters go last first, so that a process killed while settling leaves a
// file that settles the same way; datasets above the last state (a state
// that never closed, or redo states being discarded when a writer died)
// go before a new state could take their number.
// It stays pending until all of it is stored: a settle cut short by a
// failed write is done again at the next write, or by the next open.
void settleOpened(vrnStateManager* m) {
    auto it = pendingSettles().find(m);
    if (it == pendingSettles().end() || !m->database || failing(m)) return;
    Settle s = it->second;
    if (s.counters) writeGlobalInt(m, "State - last", s.last);
    int top = abs(s.last);
    const int above = anyStoredAt(m, top + 1);
    if (above < 0) noteWrite(m, 0);  // whether to erase can not be told
    else if (above) eraseAbove(m, top);
    if (s.counters) writeGlobalInt(m, "State - current", s.current);
    if (s.settleFirst) writeGlobalInt(m, "State - first", s.first);
    if (!failing(m)) pendingSettles().erase(m);
}

int readState(vrnStateManager* m) { return abs(m->current); }

void raiseInternal(const char* function, const char* format, const char* text) {
    vrnError* e = vrnError_new(VRN_I_INTERNAL_ERROR, function, kSource, __LINE__);
    vrnError_addMessage(e, format, text);
    vrnError_publish(e);
}

// The entries of a dictionary, taken before the dictionary changes. Users
// look each one up again before touching it: running one object's routine
// may have removed another.
std::vector<std::pair<std::string, vrnObject*>> entriesOf(Dictionary* d) {
    std::vector<std::pair<std::string, vrnObject*>> out;
    DictionaryIterator* it = DictionaryIterator_new(d);
    for (Pair* p = DictionaryIterator_first(it); p; p = DictionaryIterator_next(it))
        out.emplace_back(static_cast<const char*>(p->first), static_cast<vrnObject*>(p->second));
    DictionaryIterator_delete(it);
    return out;
}

bool stillLive(vrnStateManager* m, const std::string& text, vrnObject* o) {
    void* value = nullptr;
    return Dictionary_find(m->objects, text.c_str(), nullptr, &value) && value == o;
}

// Runs an object's destroy routine as a state change does: deletions from
// inside it write no deletion mark.
void destroyQuietly(vrnStateManager* m, vrnObject* object) {
    char text[VRN_UUID_STRING_SIZE];
    vrnUUID_toBase64(object->uuid, text);
    vrnObject* previous = m->destroying;
    m->destroying = object;
    vrnObject_destroy(object);
    m->destroying = previous;
    // A class whose routine left the record alive still loses it here.
    if (Dictionary_contains(m->objects, text) == object) {
        Dictionary_remove(m->objects, text);
        Dictionary_remove(m->modified, text);
        referencesOf(m).keep(object);
    }
}

// Reads again, in each of the holders still live, the keys that name an
// affected object (with those that changed in the applied range, while a
// state change applies).
void rereadHolders(vrnStateManager* m, const std::vector<std::string>& holders) {
    References& refs = referencesOf(m);
    for (const std::string& h : holders) {
        void* live = nullptr;
        if (!Dictionary_find(m->objects, h.c_str(), nullptr, &live)) continue;
        vrnObject* o = static_cast<vrnObject*>(live);
        refs.rereading = idOf(o->uuid);
        refs.rereadingSet = true;
        vrnObject_restore(o, 1);
        refs.rereadingSet = false;
    }
}

// The live holders of references to the affected objects, in text order.
std::vector<std::string> holdersOfAffected(vrnStateManager* m) {
    References& refs = referencesOf(m);
    std::unordered_set<std::string> found;
    for (const Id& t : refs.affected) {
        auto it = refs.holders.find(t);
        if (it == refs.holders.end()) continue;
        it->second.each([&](const Id& h) {
            if (refs.affected.count(h)) return;
            std::string text = textOfId(h);
            if (Dictionary_contains(m->objects, text.c_str())) found.insert(text);
        });
    }
    std::vector<std::string> out(found.begin(), found.end());
    std::sort(out.begin(), out.end());
    return out;
}

void freeDeleted(vrnStateManager* m) {
    References& refs = referencesOf(m);
    std::vector<vrnObject*> blocks;
    blocks.swap(refs.deleted);
    refs.deletedSet.clear();
    for (vrnObject* o : blocks) vrnObject_destroyMemory(o);
}

// Lets the holders of references to deleted objects go (their keys that
// name one read as none), then frees the deleted blocks.
void settleDeleted(vrnStateManager* m) {
    References& refs = referencesOf(m);
    if (refs.deleted.empty()) return;
    for (vrnObject* o : refs.deleted) refs.affected.insert(idOf(o->uuid));
    std::vector<std::string> holders = holdersOfAffected(m);
    rereadHolders(m, holders);
    refs.affected.clear();
    freeDeleted(m);
}

void destroyAllLive(vrnStateManager* m) {
    for (const auto& entry : entriesOf(m->objects))
        if (stillLive(m, entry.first, entry.second)) destroyQuietly(m, entry.second);
    // Nothing is left to hold a reference.
    freeDeleted(m);
}

// The live objects of the UUID texts, the blocks of those not live made
// (of the type stored for them) and added to the live objects; one whose
// type cannot be told is reported and left out.
std::vector<vrnObject*> liveOrMade(vrnStateManager* m, const std::vector<std::string>& texts) {
    std::vector<vrnObject*> out;
    for (const std::string& t : texts) {
        void* live = nullptr;
        if (Dictionary_find(m->objects, t.c_str(), nullptr, &live)) {
            out.push_back(static_cast<vrnObject*>(live));
            continue;
        }
        int index = vrnStateManager_getTypeOfUUIDString(m, t.c_str());
        vrnUUID* uuid = index < 0 ? nullptr : vrnUUID_newFromBase64(t.c_str());
        if (!uuid) {
            raiseInternal("vrnStateManager_changeState", "Unable to determine type of restored object %s.\n",
                          t.c_str());
            continue;
        }
        vrnObject* o = vrnObject_createMemory(uuid, index);
        Dictionary_add(m->objects, t.c_str(), o);
        out.push_back(o);
    }
    return out;
}

// Brings the live objects back to the stored state abs(current), in place:
// objects that do not exist there go (as an undo takes them), those that
// do and are not live are made, and every one reads all its fields again.
// False when a search failed, which leaves memory as it was (the list of
// objects could not be read) or some fields unread.
[[nodiscard]] bool reloadOnce(vrnStateManager* m) {
    const int state = abs(m->current);
    const int failedBefore = failedSearches(m);
    int records = 0;
    char** uuids = nullptr;
    int* starts = nullptr;
    char** keys = nullptr;
    int* whens = nullptr;
    if (!Database_match(m->database, 0, state, "*", "__*", &records, &uuids, &starts, &keys, &whens)) {
        Database_freeMatch(records, uuids, starts, keys, whens);
        return false;
    }
    std::vector<std::string> stored;
    for (int r = 0; r < records; ++r) {
        bool typed = false, deleted = false;
        for (int k = starts[r]; k < starts[r + 1]; ++k) {
            typed = typed || strcmp(keys[k], "__TYPE__") == 0;
            deleted = deleted || strcmp(keys[k], "__DELETED__") == 0;
        }
        if (typed && !deleted && strcmp(uuids[r], DATABASE_GLOBAL) != 0) stored.push_back(uuids[r]);
    }
    Database_freeMatch(records, uuids, starts, keys, whens);
    std::unordered_set<std::string> keep(stored.begin(), stored.end());
    m->applying = 1;
    m->applyFrom = 0;
    m->applyTo = state;
    Dictionary_clear(m->modified);
    for (const auto& entry : entriesOf(m->objects))
        if (!keep.count(entry.first) && stillLive(m, entry.first, entry.second)) destroyQuietly(m, entry.second);
    for (vrnObject* o : liveOrMade(m, stored)) vrnObject_restore(o, 0);
    Dictionary_clear(m->modified);
    freeDeleted(m);
    m->applying = 0;
    return failedSearches(m) == failedBefore;
}

// Brings memory back to the stored state abs(current). A search that
// failed (a deletion mark it had to write could not be written, say) is
// made again once, since what it left undone it does again; should that
// fail too, the user is told that memory may not show the stored state.
void reloadStored(vrnStateManager* m) {
    if (reloadOnce(m) || reloadOnce(m)) return;
    vrnError* e = vrnError_new(VRN_U_UNABLE_TO_READ_DATASET, "vrnStateManager_changeState", kSource, __LINE__);
    vrnError_addMessage(e,
                        "The objects of state %d of the VRN database\n\n%s\n\ncould not all be read again: they "
                        "may not show that state.\n%s\n",
                        abs(m->current), Database_getFileName(m->database), lastIoMessage(m->database->file).c_str());
    vrnError_publish(e);
}

// Drops the open state n for which a write failed. Whatever of it reached
// the file goes as a state a killed writer left unfinished goes: at this
// session's next write, or the next open, both of which settle the file
// to the state before it (its counters, written before anything else of
// it, mark it open). Memory goes back to that stored state.
void dropFailedState(vrnStateManager* m, int n) {
    auto untouched = untouchedStates().find(m);
    if (untouched != untouchedStates().end()) {
        // Nothing of it was written: redo reaches as far as before.
        m->current = n - 1;
        m->last = untouched->second;
        untouchedStates().erase(untouched);
    } else {
        // What the open settled, if that did not all land, settles the
        // file to the state before this one too.
        auto settle = pendingSettles().find(m);
        if (settle == pendingSettles().end())
            settle = pendingSettles().emplace(m, Settle{true, false, n - 1, n - 1, m->first}).first;
        m->current = settle->second.current;
        m->last = settle->second.last;
    }
    if (!m->database) return;
    reloadStored(m);
    // A list of types the state did not get stored whole goes with the
    // next state.
    if (vrnStateManager_checkTypes(m) == 2) typesToRecord().insert(m);
}

// Gives up a database that failed to open: live objects go without a
// trace, nothing is written (not even an index the open rebuilt), and the
// lock is released.
void releaseDatabase(vrnStateManager* m) {
    failedWrites().erase(m);
    untouchedStates().erase(m);
    pendingSettles().erase(m);
    typesToRecord().erase(m);
    destroyAllLive(m);
    Dictionary_clear(m->modified);
    if (m->database) {
        Database_deleteUnchanged(m->database);
        m->database = nullptr;
    }
    m->first = m->current = m->last = 0;
    m->applying = 0;
}

// Stored state numbers far beyond any edit count come from a damaged file.
bool plausibleState(int state) { return state > -1000000000 && state < 1000000000; }

// Gives up a file whose stored states do not fit together.
void refuseStates(vrnStateManager* m, const char* function) {
    vrnError* e = vrnError_new(VRN_U_INVALID_DATA, function, kSource, __LINE__);
    vrnError_addMessage(e, "The stored states of the VRN database\n\n%s\n\ndo not fit together.\n",
                        Database_getFileName(m->database));
    vrnError_publish(e);
    releaseDatabase(m);
}

// At process end the process-wide manager closes its database (keeping
// every state), so that the index is written and the lock released; from
// then on there is no process-wide manager.
void releaseGlobalManager() {
    vrnMemory_markExiting();
    while (liveManagers && !liveManagers->empty()) {
        vrnStateManager* m = liveManagers->back();
        // Destroy routines reach their manager as the process-wide one.
        globalManager = m;
        vrnStateManager_delete(m);
    }
    delete liveManagers;
    liveManagers = nullptr;
    globalReleased = true;
    globalManager = nullptr;
}

void track(vrnStateManager* m) {
    if (globalReleased) return;
    if (!liveManagers) liveManagers = new std::vector<vrnStateManager*>;
    liveManagers->push_back(m);
    if (!exitHandlerRegistered) {
        exitHandlerRegistered = true;
        atexit(releaseGlobalManager);
    }
}

void untrack(vrnStateManager* m) {
    if (!liveManagers) return;
    for (size_t i = 0; i < liveManagers->size(); ++i)
        if ((*liveManagers)[i] == m) {
            liveManagers->erase(liveManagers->begin() + static_cast<long>(i));
            return;
        }
}

}  // namespace

extern "C" {

vrnStateManager* vrnStateManager_new(void) {
    vrnStateManager* m =
        static_cast<vrnStateManager*>(vrnCalloc(sizeof(vrnStateManager), 0, "vrnStateManager_new"));
    m->objects = Dictionary_new(1);
    m->modified = Dictionary_new(1);
    SessionFile_setStateQuery(currentStateOf);
    track(m);
    return m;
}

void vrnStateManager_delete(vrnStateManager* m) {
    if (!m) return;
    if (m->database) vrnStateManager_closeDatabase(m, -1);
    destroyAllLive(m);
    referenceTables().erase(m);
    failedWrites().erase(m);
    untouchedStates().erase(m);
    typesToRecord().erase(m);
    pendingSettles().erase(m);
    Dictionary_delete(m->objects);
    Dictionary_delete(m->modified);
    if (globalManager == m) globalManager = nullptr;
    untrack(m);
    vrnFree(m, "vrnStateManager_delete");
}

vrnStateManager* vrnStateManager_get(void) {
    if (globalReleased) return nullptr;
    // First use without a repository: the "_changes" one in the working
    // folder. Should that fail, callers get a manager without a database.
    if (!globalManager && firstUseRoutine) firstUseRoutine();
    if (!globalManager) vrnStateManager_setGlobal(vrnStateManager_new());
    return globalManager;
}

vrnStateManager* vrnStateManager_setGlobal(vrnStateManager* manager) {
    vrnStateManager* previous = globalManager;
    globalManager = manager;
    return previous;
}

vrnStateManager_FirstUseRoutine vrnStateManager_setFirstUseRoutine(vrnStateManager_FirstUseRoutine routine) {
    vrnStateManager_FirstUseRoutine previous = firstUseRoutine;
    firstUseRoutine = routine;
    return previous;
}

vrnStateManager_TruncateRoutine vrnStateManager_setTruncateRoutine(
    vrnStateManager_TruncateRoutine routine) {
    vrnStateManager_TruncateRoutine previous = truncateRoutine;
    truncateRoutine = routine;
    return previous;
}

int vrnStateManager_newState(vrnStateManager* m) {
    if (!m) return 0;
    if (m->current < 0) return -m->current;
    // The write lock is taken before anything of the state is written, and
    // held until the file closes, so that no write of the state can be
    // refused halfway because another process has the file open. A state
    // refused it writes nothing at all (nor what the open settled).
    if (m->database && !failing(m) && !Database_lockForWriting(m->database)) {
        noteWrite(m, 0);
        untouchedStates()[m] = m->last;
        m->current = m->last = -(m->current + 1);
        return -m->current;
    }
    settleOpened(m);
    if (abs(m->last) > m->current) {
        // Redo must never reach a state half erased: the last state comes
        // down to the current one before anything is erased. States above
        // it that a killed process left behind are erased at the next open.
        const int reach = m->last;
        const bool wasFailing = failing(m);
        m->last = m->current;
        writeGlobalInt(m, "State - last", m->last);
        // Should that write fail, the file still reaches the redo states
        // whole, and so does the session once the state is dropped.
        if (failing(m) && !wasFailing) untouchedStates()[m] = reach;
        eraseAbove(m, m->current);
    }
    if (typesToRecord().erase(m)) vrnStateManager_recordTypes(m);
    m->current = m->last = -(m->current + 1);
    writeCounters(m);
    return -m->current;
}

int vrnStateManager_flushCache(vrnStateManager* m) {
    if (!m) return 0;
    static vrnDebugPreamble debug;
    debug.enter("vrnStateManager_flushCache", "Flush all cached changes.");
    std::vector<std::pair<std::string, vrnObject*>> pending = entriesOf(m->modified);
    Dictionary_clear(m->modified);
    FILE* out = vrnDebug_getStream();
    int dumped = 0;
    for (const auto& entry : pending) {
        vrnObject* o = entry.second;
        if (!stillLive(m, entry.first, o)) continue;  // deleted by an earlier dump
        if (debug.tracing() && out)
            fprintf(out, "Cached: %s %4d [%s]\n", entry.first.c_str(), o->typeIndex,
                    vrnTypeManager_getNameOfIndex(o->typeIndex));
        vrnObject_dump(o);
        ++dumped;
    }
    // Holders were dumped while the deleted objects' blocks were still
    // there; now that what they stored is what they hold, they let go.
    settleDeleted(m);
    return dumped;
}

void vrnStateManager_noteFailedDump(vrnStateManager* m, const vrnUUID* uuid, const char* key,
                                    const char* text) {
    if (!m || !m->database || failedWrites().count(m)) return;
    int state = vrnStateManager_newState(m);
    std::string where = uuid ? textOf(uuid) : DATABASE_GLOBAL;
    failedWrites()[m] = std::string(text ? text : "") + " [" + (key ? key : "") + ", " + where + ", " +
                        std::to_string(state) + "]";
}

int vrnStateManager_closeState(vrnStateManager* m) {
    if (!m) return 0;
    vrnStateManager_flushCache(m);
    int state = abs(m->current);
    if (m->current < 0) {
        if (!failing(m)) {
            m->current = m->last = state;
            writeCounters(m);
        }
        // A state for which any write failed is never closed.
        if (failing(m)) dropFailedState(m, state);
    }
    if (reportFailedWrites(m, state)) return -1;
    return m->current;
}

void vrnStateManager_markModified(vrnStateManager* m, vrnObject* object) {
    if (!m || !object) return;
    Dictionary_add(m->modified, textOf(object->uuid).c_str(), object);
}

vrnObject* vrnStateManager_createObject(vrnStateManager* m, const char* typeName) {
    if (!m) return nullptr;
    int n = vrnStateManager_newState(m);
    int index = vrnTypeManager_getIndexOfName(typeName);
    if (index < 0) return nullptr;
    vrnObject* o = vrnObject_createMemory(nullptr, index);
    if (m->database && !failing(m))
        noteWrite(m, Database_setInteger(m->database, n, o->uuid, "__TYPE__", vrnTypeManager_getIdOfIndex(index)));
    Dictionary_add(m->objects, textOf(o->uuid).c_str(), o);
    return o;
}

void vrnStateManager_deleteObject(vrnStateManager* m, vrnObject* object) {
    if (!m || !object) return;
    std::string text = textOf(object->uuid);
    // One deleted already keeps its block (and UUID) until the holders
    // have let go: a second delete leaves it alone.
    if (referencesOf(m).isDeleted(object)) return;
    if (m->destroying && m->destroying != object) {
        printf("ERROR: Trying to delete and object from a destroy function.\n");
        printf("Deleting:   %s [%s]\n", text.c_str(), vrnObject_getTypeName(object));
        printf("Destroying: %s [%s]\n", textOf(m->destroying->uuid).c_str(),
               vrnObject_getTypeName(m->destroying));
        fflush(stdout);
    }
    if (!m->destroying) vrnStateManager_writeInt(m, object->uuid, "__DELETED__", 0);
    Dictionary_remove(m->objects, text.c_str());
    Dictionary_remove(m->modified, text.c_str());
    // Freed once the holders of references to it have let go (next flush
    // or state change).
    referencesOf(m).keep(object);
}

int vrnStateManager_isDeletedObject(const vrnObject* object) {
    if (!object) return 0;
    for (const auto& table : referenceTables())
        if (table.second.isDeleted(object)) return 1;
    return 0;
}

vrnObject* vrnStateManager_pointerFromUUIDString(vrnStateManager* m, const char* text) {
    if (!text || vrnUUID_isNullString(text)) return nullptr;
    void* value = nullptr;
    if (m && Dictionary_find(m->objects, text, nullptr, &value)) return static_cast<vrnObject*>(value);
    // A holder let go of an object just deleted: its reference reads as none.
    if (m && referencesOf(m).rereadingSet) {
        vrnUUID* uuid = vrnUUID_newFromBase64(text);
        bool gone = uuid && referencesOf(m).affected.count(idOf(uuid));
        vrnUUID_delete(uuid);
        if (gone) return nullptr;
    }
    raiseInternal("vrnStateManager_pointerFromUUIDString",
                  "Unable to determine in memory version of object %s.\n", text);
    return nullptr;
}

vrnObject* vrnStateManager_pointerFromUUID(vrnStateManager* m, const vrnUUID* uuid) {
    return vrnStateManager_pointerFromUUIDString(m, textOf(uuid).c_str());
}

int vrnStateManager_getTypeOfUUIDString(vrnStateManager* m, const char* text) {
    if (!m || !m->database || !text) return -1;
    vrnUUID* uuid = vrnUUID_newFromBase64(text);
    if (!uuid) return -1;
    // Only a UUID's own text names an object: a damaged Where that merely
    // starts with one would make a second record of the same object.
    if (textOf(uuid) != text) {
        vrnUUID_delete(uuid);
        return -1;
    }
    int id = 0;
    int ok = Database_getInteger(m->database, abs(m->last), uuid, "__TYPE__", &id);
    vrnUUID_delete(uuid);
    return ok ? vrnTypeManager_getIndexOfId(id) : -1;
}

int vrnStateManager_isParameterChanged(vrnStateManager* m, const vrnUUID* uuid, const char* key,
                                       int* changed) {
    *changed = 0;
    if (m && m->applying && m->database)
        Database_isParameterChanged(m->database, m->applyFrom, m->applyTo, textOf(uuid).c_str(), key,
                                    changed);
    if (!*changed && m && m->database && uuid && key) {
        const References& refs = referencesOf(m);
        if (refs.rereadingSet && refs.rereading == idOf(uuid) && namesAffected(m, uuid, key))
            *changed = 1;
    }
    return 1;
}

int vrnStateManager_changeState(vrnStateManager* m, int relative, int n) {
    if (!m) return 0;
    static vrnDebugPreamble debug;
    debug.enter("vrnStateManager_changeState", "Make a change of state in the VRN database.");
    vrnStateManager_flushCache(m);
    // An open state for which a write failed is dropped first, as its close
    // would drop it (saying so): memory goes back to the stored state, and
    // the change is made from there. A redo out of an open state, which
    // finds nothing to redo, stays refused.
    if (!m->quiet && m->current < 0 && failing(m)) {
        const int64_t open = -static_cast<int64_t>(m->current);
        const int64_t target = relative ? open + n : static_cast<int64_t>(n);
        vrnStateManager_closeState(m);
        if (target >= open) return 0;
        return vrnStateManager_changeState(m, 0, static_cast<int>(target));
    }
    // Worked out in 64 bits: a target beyond the stored bounds is refused,
    // whatever the numbers asked for.
    int64_t delta = relative ? static_cast<int64_t>(n) : static_cast<int64_t>(n) - abs(m->current);
    if (delta == 0) return 1;
    int64_t target;
    if (delta < 0) {
        target = abs(m->current) + delta;
        if (target < abs(m->first)) return 0;
        m->applyFrom = static_cast<int>(target) + 1;
        m->applyTo = abs(m->current);
    } else {
        if (m->current < 0) return 0;
        target = m->current + delta;
        if (target > abs(m->last)) return 0;
        m->applyFrom = m->current + 1;
        m->applyTo = static_cast<int>(target);
    }
    // A change that moves the stored current state takes the write lock
    // first: while another process has the model open it is refused, and
    // nothing changes (the next open would not show it). A file that may
    // not be written at all is browsed in memory, its stored state left as
    // it is.
    bool browsing = false;
    if (!m->quiet && m->database && !Database_lockForWriting(m->database)) {
        if (!Database_mayBeWritten(m->database)) {
            browsing = true;
        } else {
            const bool held = m->database->file->errorCode == VRN_U_DATABASE_IS_LOCKED;
            refuseChange(m, held ? VRN_U_DATABASE_IS_LOCKED : VRN_U_UNABLE_TO_WRITE_DATASET,
                         "it can not be locked for writing", lastIoMessage(m->database->file));
            return 0;
        }
    }
    int records = 0;
    char** uuids = nullptr;
    int* starts = nullptr;
    char** keys = nullptr;
    int* whens = nullptr;
    // Without the datasets of the range the change can not be made: a
    // search that failed refuses it, with nothing changed.
    if (m->database && !Database_match(m->database, m->applyFrom, m->applyTo, "*", "*", &records, &uuids, &starts,
                                       &keys, &whens)) {
        Database_freeMatch(records, uuids, starts, keys, whens);
        refuseChange(m, VRN_U_UNABLE_TO_READ_DATASET, "its stored states could not be searched", failureText(m));
        return 0;
    }
    if (delta > 0 && -target == m->last) target = -target;
    // The new current state is stored before memory moves: a change that
    // can not be stored (nor what the open settled before it) is refused,
    // with memory as it was, and charged to no state.
    if (!m->quiet && !browsing && m->database && !storeCurrent(m, static_cast<int>(target))) {
        Database_freeMatch(records, uuids, starts, keys, whens);
        return 0;
    }
    const int failedBefore = failedSearches(m);
    m->current = static_cast<int>(target);
    m->applying = 1;

    std::vector<std::string> toDelete, toRestore, toModify;
    for (int r = 0; r < records; ++r) {
        if (strcmp(uuids[r], DATABASE_GLOBAL) == 0) continue;
        bool deleted = false, typed = false;
        for (int k = starts[r]; k < starts[r + 1]; ++k) {
            deleted = deleted || strcmp(keys[k], "__DELETED__") == 0;
            typed = typed || strcmp(keys[k], "__TYPE__") == 0;
        }
        if (deleted && typed) continue;
        if (deleted) (delta < 0 ? toRestore : toDelete).push_back(uuids[r]);
        else if (typed) (delta > 0 ? toRestore : toDelete).push_back(uuids[r]);
        else toModify.push_back(uuids[r]);
    }
    if (m->database) Database_freeMatch(records, uuids, starts, keys, whens);
    else vrnFree(starts, "vrnStateManager_changeState");

    FILE* out = vrnDebug_getStream();
    if (debug.tracing() && out) {
        auto list = [&](const char* title, const std::vector<std::string>& l) {
            fprintf(out, "%s%d\n", title, static_cast<int>(l.size()));
            for (const std::string& t : l)
                fprintf(out, "  %s - %d\n", t.c_str(), vrnStateManager_getTypeOfUUIDString(m, t.c_str()));
        };
        list("Number of deleted objects  = ", toDelete);
        list("Number of modified objects = ", toModify);
        list("Number of restored objects = ", toRestore);
    }

    for (const std::string& t : toDelete) {
        // An object that is not live has nothing to destroy: the lookup
        // reports it and it is skipped.
        vrnObject* o = vrnStateManager_pointerFromUUIDString(m, t.c_str());
        if (o) destroyQuietly(m, o);
    }
    // Every restored object exists before any of them reads its fields, so
    // that references among them resolve.
    std::vector<vrnObject*> restored = liveOrMade(m, toRestore);
    for (vrnObject* o : restored) vrnObject_restore(o, 0);
    // Objects that went or came back: their holders read again the keys
    // that name them, together with what changed in the range.
    References& refs = referencesOf(m);
    for (vrnObject* o : refs.deleted) refs.affected.insert(idOf(o->uuid));
    for (vrnObject* o : restored) refs.affected.insert(idOf(o->uuid));
    std::vector<std::string> holders = holdersOfAffected(m);
    std::unordered_set<std::string> holding(holders.begin(), holders.end());
    for (vrnObject* o : restored) holding.erase(textOf(o->uuid));  // read in full already
    for (const std::string& t : toModify) {
        vrnObject* o = vrnStateManager_pointerFromUUIDString(m, t.c_str());
        if (!o) continue;
        if (holding.erase(t)) {
            refs.rereading = idOf(o->uuid);
            refs.rereadingSet = true;
        }
        vrnObject_restore(o, 1);
        refs.rereadingSet = false;
    }
    std::vector<std::string> rest;
    for (const std::string& h : holders)
        if (holding.count(h)) rest.push_back(h);
    rereadHolders(m, rest);
    refs.affected.clear();
    freeDeleted(m);
    m->applying = 0;
    // A read whose search failed left a field unread: every object reads
    // the stored state again.
    if (failedSearches(m) != failedBefore) reloadStored(m);
    return 1;
}

int vrnStateManager_getObjectsByTypeID(vrnStateManager* m, int id, int* count, vrnObject*** objects) {
    *count = 0;
    *objects = nullptr;
    int index = vrnTypeManager_getIndexOfId(id);
    if (index < 0 || !m || !m->database) return 0;
    int records = 0;
    char** uuids = nullptr;
    int* starts = nullptr;
    char** keys = nullptr;
    int* whens = nullptr;
    // A failed search finds nothing, and says so.
    if (!Database_match(m->database, abs(m->first), abs(m->current), "*", "__*", &records, &uuids, &starts, &keys,
                        &whens)) {
        Database_freeMatch(records, uuids, starts, keys, whens);
        return 0;
    }
    std::vector<vrnObject*> found;
    for (int r = 0; r < records; ++r) {
        bool selected = false;
        for (int k = starts[r]; k < starts[r + 1]; ++k) {
            if (strcmp(keys[k], "__DELETED__") == 0) {
                selected = false;
                break;
            }
            if (strcmp(keys[k], "__TYPE__") == 0 &&
                vrnStateManager_getTypeOfUUIDString(m, uuids[r]) == index)
                selected = true;
        }
        void* live = nullptr;
        if (selected && Dictionary_find(m->objects, uuids[r], nullptr, &live))
            found.push_back(static_cast<vrnObject*>(live));
    }
    Database_freeMatch(records, uuids, starts, keys, whens);
    if (!found.empty()) {
        *count = static_cast<int>(found.size());
        *objects = static_cast<vrnObject**>(
            vrnMalloc(static_cast<int>(sizeof(vrnObject*)) * *count, "vrnStateManager_getObjectsByTypeID"));
        memcpy(*objects, found.data(), sizeof(vrnObject*) * found.size());
    }
    return 1;
}

int vrnStateManager_getObjectsByTypeName(vrnStateManager* m, const char* typeName, int* count,
                                         vrnObject*** objects) {
    *count = 0;
    *objects = nullptr;
    int id = vrnTypeManager_getIdOfName(typeName);
    if (id < 0) return 0;
    return vrnStateManager_getObjectsByTypeID(m, id, count, objects);
}

vrnObject* vrnStateManager_getSingletonByTypeName(vrnStateManager* m, const char* typeName) {
    int count = 0;
    vrnObject** objects = nullptr;
    vrnStateManager_getObjectsByTypeName(m, typeName, &count, &objects);
    vrnObject* one = count == 1 ? objects[0] : nullptr;
    vrnFree(objects, "vrnStateManager_getSingletonByTypeName");
    return one;
}

int vrnStateManager_isNotDestroying(vrnStateManager* m) { return m && m->destroying == nullptr; }

int vrnStateManager_isChanging(vrnStateManager* m) { return m && m->changing == 1; }

void vrnStateManager_setRepository(vrnStateManager* m, void* repository) {
    if (m) m->repository = repository;
}

int vrnStateManager_recordTypes(vrnStateManager* m) {
    if (!m) return 0;
    char** names = nullptr;
    int* ids = nullptr;
    int n = vrnTypeManager_getKnownTypes(&names, &ids);
    if (m->database && !failing(m) && noteWrite(m, Database_setStringArray(m->database, 0, nullptr, "Type - names", names, n)))
        noteWrite(m, Database_setIntegerArray(m->database, 0, nullptr, "Type - ids", ids, n));
    vrnCStringArray_free(names, n);
    vrnFree(ids, "vrnStateManager_recordTypes");
    return 1;
}

int vrnStateManager_checkTypes(vrnStateManager* m) {
    if (!m) return 0;
    if (!m->database) return 2;
    char** names = nullptr;
    int* ids = nullptr;
    int nNames = 0, nIds = 0;
    int haveNames = Database_getStringArray(m->database, 0, nullptr, "Type - names", &names, &nNames);
    int haveIds = Database_getIntegerArray(m->database, 0, nullptr, "Type - ids", &ids, &nIds);
    int verdict = 2;
    if (haveNames && haveIds) {
        // A writer killed between the two writes of the list leaves one
        // array longer than the other. Types are only ever appended, and no
        // object of a type past the shorter array is written before both
        // arrays are, so their common part decides, and the list is then
        // written again whole.
        verdict = vrnTypeManager_checkTypes(std::min(nNames, nIds), names, ids);
        if (verdict == 1 && nNames != nIds) verdict = 2;
    }
    vrnCStringArray_free(names, nNames);
    vrnFree(ids, "vrnStateManager_checkTypes");
    return verdict;
}

int vrnStateManager_openDatabase(vrnStateManager* m, const char* fileName) {
    if (!m) return 0;
    const char* fn = "vrnStateManager_openDatabase";
    if (m->database) vrnStateManager_closeDatabase(m, 1);
    m->database = Database_new(fileName);
    if (!m->database) return 0;
    int stored = 0;
    Database_getInteger(m->database, 0, nullptr, "State - first", &m->first);
    int haveLast = Database_getInteger(m->database, 0, nullptr, "State - last", &m->last);
    int haveCurrent = Database_getInteger(m->database, 0, nullptr, "State - current", &stored);
    if (!plausibleState(m->first) || !plausibleState(m->last) || !plausibleState(stored)) {
        refuseStates(m, fn);
        return 0;
    }
    // Both counters are written when state 1 opens, before any of its
    // data, and a counter is only ever superseded by a newer one written
    // whole, so a writer killed at any point leaves both once the file
    // holds anything of a state. A file with data of a state but without
    // either counter lost them with the end of the file (a copy cut short,
    // say): it holds states, and which of them closed can no longer be
    // told. It is refused, unwritten, rather than opened as a new model
    // over what is left of the old one.
    if ((!haveLast || !haveCurrent) && anyStoredIn(m, 1, -1) != 0) {
        Database_refuseNotAModel(fn, Database_getFileName(m->database));
        releaseDatabase(m);
        return 0;
    }
    // A current state still open in the file was being written when its
    // writer died: it was never closed and may hold only part of its
    // changes, so it goes and the model holds whole states only. (This
    // also settles the pair that builds writing "State - current" first
    // left when killed while opening a state: the next state open, the
    // last one closed.) A last state left open above a closed current one
    // with nothing in it was being opened: redo does not reach it.
    bool settle = false;
    if (stored < 0) {
        stored = -stored - 1;
        m->last = stored;
        settle = true;
    } else if (m->last == -stored) {
        // A last state open at the closed current one (builds that stored
        // "State - current" first, killed while closing it): that state is
        // whole, and it is taken as closed without writing.
        m->last = stored;
    } else if (m->last < 0 && anyStoredAt(m, -m->last) == 0) {
        m->last = -m->last - 1;
        settle = true;
    }
    // A first state above the current one: a close to one state was cut
    // after the one state had been stored as state 1.
    bool settleFirst = abs(m->first) > stored;
    if (settleFirst) {
        m->first = 0;
        m->last = stored;
        settle = true;
    }
    // The types are checked before any object is made, so that a file of
    // unknown types is refused without building a partial model.
    int types = vrnStateManager_checkTypes(m);
    if (types == 0) {
        vrnError* e = vrnError_new(VRN_I_INTERNAL_ERROR, fn, kSource, __LINE__);
        vrnError_addMessage(e,
                            "Unable to recognise some of the types of object in the VRN "
                            "database:\n\n%s\n\n",
                            Database_getFileName(m->database));
        vrnError_publish(e);
        releaseDatabase(m);
        return 0;
    }
    m->current = 0;
    m->quiet = 1;
    int changed = vrnStateManager_changeState(m, 1, abs(stored));
    m->quiet = 0;
    if (changed != 1) {
        refuseStates(m, fn);
        return changed;
    }
    // What a killed writer left is settled in memory now and stored before
    // the first write (settleOpened): the open writes nothing.
    if (settle || settleFirst || anyStoredAt(m, abs(m->last) + 1) != 0)
        pendingSettles()[m] = Settle{settle, settleFirst, m->last, m->current, m->first};
    if (types == 2) typesToRecord().insert(m);
    return 1;
}

int vrnStateManager_purge(vrnStateManager* m, int mode) {
    if (!m) return 0;
    if (!m->database) return 0;
    if (mode == -1) return 1;
    if (mode != 1) return Database_compact(m->database);
    // With every state undone there is no state to keep: the file stays
    // as it is, its states with it.
    if (m->current == 0) {
        vrnError* e = vrnError_new(VRN_U_UNABLE_TO_COMPACT_DATABASE, "vrnStateManager_purge", kSource, __LINE__);
        vrnError_addMessage(e,
                            "The VRN database\n\n%s\n\ncan not be reduced to its current state: every "
                            "state is undone, so none would be kept.\nIts states are kept as they are.\n",
                            Database_getFileName(m->database));
        vrnError_publish(e);
        return 0;
    }
    // The file becomes the current state alone, as state 1 with nothing to
    // undo or redo, built in a copy that replaces the file in one rename.
    static const char* const counters[] = {"State - current", "State - last", "State - first"};
    static const int values[] = {1, 1, 0};
    return Database_keepOneState(m->database, abs(m->current), "__DELETED__", 3, counters, values);
}

void vrnStateManager_releaseDatabase(vrnStateManager* m) {
    if (m) releaseDatabase(m);
}

int vrnStateManager_closeDatabase(vrnStateManager* m, int mode) {
    if (!m) return 0;
    typesToRecord().erase(m);
    // A state still open that could not be stored fails the close (its
    // close said why).
    const bool stored = vrnStateManager_closeState(m) >= 0;
    if (!m->database) return stored ? 1 : 0;
    // What the open settled and no write needed stays unwritten: the next
    // open settles the same way.
    pendingSettles().erase(m);
    // The list of types goes with what was written; a file only read is
    // left as it was, its list too.
    if (m->database->modified && vrnStateManager_checkTypes(m) == 2) vrnStateManager_recordTypes(m);
    int purged = vrnStateManager_purge(m, mode);
    if (!purged) {
        vrnError* e = vrnError_new(VRN_W_INVALID_RESULT_IGNORED, "vrnStateManager_closeDatabase",
                                   kSource, __LINE__);
        vrnError_addMessage(e, "Unable to compact the database\n\n%s\n\n",
                            Database_getFileName(m->database));
        vrnError_publish(e);
    }
    if (mode == 1 && purged) {
        m->first = 0;
        m->current = 1;
        m->last = 1;
    }
    // Every live object goes through its destroy routine, as an undo to
    // state 0 would take them. A file reduced to one state holds nothing
    // else for that undo to find, nor does one compacted that another
    // process opened before this one could open it again, so the objects
    // go directly.
    int result = 1;
    const DefFile* file = m->database->file;
    if ((mode == 1 && purged) || !file || !(file->openFlags & DEFFILE_PRIMARY_OPEN)) {
        m->current = 0;
    } else {
        m->quiet = 1;
        result = vrnStateManager_changeState(m, 1, -abs(m->current));
        m->quiet = 0;
    }
    // Whatever the state change could not reach goes as well.
    destroyAllLive(m);
    Dictionary_clear(m->modified);
    // A lock file left behind keeps every later open out: the close fails.
    if (!Database_close(m->database)) result = 0;
    Database_delete(m->database);
    m->database = nullptr;
    referencesOf(m).holders.clear();
    failedWrites().erase(m);
    untouchedStates().erase(m);
    return stored ? result : 0;
}

// Field forwarders: writers open a state when none is open, readers read at
// the current state.
#define WRITER(call) \
    if (!m || !m->database) return 0; \
    int state = vrnStateManager_newState(m); \
    if (failing(m)) return 0; \
    return noteWrite(m, call);
#define READER(call) \
    if (!m || !m->database) return 0; \
    int state = readState(m); \
    return call;

int vrnStateManager_writeInt(vrnStateManager* m, const vrnUUID* uuid, const char* key, int value) {
    WRITER(Database_setInteger(m->database, state, uuid, key, value))
}
int vrnStateManager_writeInts(vrnStateManager* m, const vrnUUID* uuid, const char* key,
                              const int* values, int count) {
    WRITER(Database_setIntegerArray(m->database, state, uuid, key, values, count))
}
int vrnStateManager_writeDoubles(vrnStateManager* m, const vrnUUID* uuid, const char* key,
                                 const double* values, int count) {
    WRITER(Database_setDoubleArray(m->database, state, uuid, key, values, count))
}
int vrnStateManager_writeString(vrnStateManager* m, const vrnUUID* uuid, const char* key,
                                const char* string) {
    WRITER(Database_setString(m->database, state, uuid, key, string))
}
int vrnStateManager_writeStrings(vrnStateManager* m, const vrnUUID* uuid, const char* key,
                                 char* const* strings, int count) {
    WRITER(Database_setStringArray(m->database, state, uuid, key, strings, count))
}
int vrnStateManager_writeUUID(vrnStateManager* m, const vrnUUID* uuid, const char* key,
                              const vrnUUID* value) {
    noteReferences(m, uuid, &value, 1);
    WRITER(Database_setUUID(m->database, state, uuid, key, value))
}
int vrnStateManager_writeUUIDs(vrnStateManager* m, const vrnUUID* uuid, const char* key,
                               vrnUUID* const* values, int count) {
    noteReferences(m, uuid, values, count);
    WRITER(Database_setUUIDArray(m->database, state, uuid, key, values, count))
}

int vrnStateManager_readInt(vrnStateManager* m, const vrnUUID* uuid, const char* key, int* value) {
    READER(Database_getInteger(m->database, state, uuid, key, value))
}
int vrnStateManager_readInts(vrnStateManager* m, const vrnUUID* uuid, const char* key, int** array,
                             int* count) {
    *array = nullptr;
    *count = 0;
    READER(Database_getIntegerArray(m->database, state, uuid, key, array, count))
}
int vrnStateManager_readIntArray(vrnStateManager* m, const vrnUUID* uuid, const char* key,
                                 int* array, int capacity) {
    READER(Database_getIntegerArrayInto(m->database, state, uuid, key, array, capacity))
}
int vrnStateManager_readFloats(vrnStateManager* m, const vrnUUID* uuid, const char* key,
                               float** array, int* count) {
    *array = nullptr;
    *count = 0;
    READER(Database_getFloatArray(m->database, state, uuid, key, array, count))
}
int vrnStateManager_readDoubles(vrnStateManager* m, const vrnUUID* uuid, const char* key,
                                double** array, int* count) {
    *array = nullptr;
    *count = 0;
    READER(Database_getDoubleArray(m->database, state, uuid, key, array, count))
}
int vrnStateManager_readChars(vrnStateManager* m, const vrnUUID* uuid, const char* key,
                              char** array, int* count) {
    *array = nullptr;
    *count = 0;
    READER(Database_getCharArray(m->database, state, uuid, key, array, count))
}
int vrnStateManager_readString(vrnStateManager* m, const vrnUUID* uuid, const char* key,
                               char** string) {
    *string = nullptr;
    READER(Database_getString(m->database, state, uuid, key, string))
}
int vrnStateManager_readStrings(vrnStateManager* m, const vrnUUID* uuid, const char* key,
                                char*** array, int* count) {
    *array = nullptr;
    *count = 0;
    READER(Database_getStringArray(m->database, state, uuid, key, array, count))
}
int vrnStateManager_readStringArray(vrnStateManager* m, const vrnUUID* uuid, const char* key,
                                    char** array, int capacity) {
    READER(Database_getStringArrayInto(m->database, state, uuid, key, array, capacity))
}
int vrnStateManager_readUUID(vrnStateManager* m, const vrnUUID* uuid, const char* key,
                             vrnUUID** value) {
    *value = nullptr;
    if (!m || !m->database) return 0;
    int ok = Database_getUUID(m->database, readState(m), uuid, key, value);
    if (ok) noteReferences(m, uuid, value, 1);
    return ok;
}
int vrnStateManager_readUUIDs(vrnStateManager* m, const vrnUUID* uuid, const char* key,
                              vrnUUID*** array, int* count) {
    *array = nullptr;
    *count = 0;
    if (!m || !m->database) return 0;
    int ok = Database_getUUIDArray(m->database, readState(m), uuid, key, array, count);
    if (ok) noteReferences(m, uuid, *array, *count);
    return ok;
}
int vrnStateManager_readSignature(vrnStateManager* m, const vrnUUID* uuid, const char* key,
                                  int* ints, int* floats, int* doubles, int* chars, int* strings,
                                  int* uuids) {
    int fixed = 0;
    READER(Database_readSignature(m->database, state, uuid, key, ints, floats, doubles, chars, &fixed,
                                  strings, uuids))
}

#undef WRITER
#undef READER

}  // extern "C"
