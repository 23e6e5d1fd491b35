#include "database/database.h"

#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <unordered_set>
#include <vector>

#include "debug/debug_manager.h"
#include "errors/error.h"
#include "support/cstring.h"
#include "support/memory.h"
#include "support/system.h"
#include "vrn_platform.h"

namespace {

const char* kSource = "vrn_common/src/database/Database";

void setKey(Database* db, const vrnUUID* object) {
    if (object) vrnUUID_toBase64(object, db->keyText);
    else snprintf(db->keyText, sizeof db->keyText, "%s", DATABASE_GLOBAL);
}

// The Whens of every stored version of (key, where); empty when none, or
// when the search failed (the dataset block counts that).
std::vector<int> storedWhens(Database* db, const char* key, const char* where) {
    std::vector<int> result;
    int* whens = nullptr;
    int n = Dataset_match(db->file->dataset, key, where, -1, 1, 0, nullptr, nullptr, &whens);
    if (n > 0) result.assign(whens, whens + n);
    vrnFree(whens, "Database_findActiveWhen");
    return result;
}

// Whether a read at state may see a version stored at when: state s of 1
// or more sees the versions of 0 to s, and state -s (or 0) exactly s.
bool visibleAt(int when, int state) { return state < 1 ? when == -state : when >= 0 && when <= state; }

// The When of the version a read at state sees among whens, or -1.
int activeAmong(const std::vector<int>& whens, int state) {
    if (state < 1) return -state;
    int best = -1;
    for (int w : whens) {
        if (w == state) return w;
        if (visibleAt(w, state) && w > best) best = w;
    }
    return best;
}

// One located dataset, for ordering and grouping.
struct Entry {
    std::string what;
    std::string where;
    int when;
};

// Adds the datasets of (keyPattern, uuidPattern, when) with When in
// [from, to] to list; false when the search failed.
[[nodiscard]] bool collect(Database* db, const char* keyPattern, const char* uuidPattern, int when, int from, int to,
             std::vector<Entry>& list) {
    int n = 0;
    char** whats = nullptr;
    char** wheres = nullptr;
    int* whens = nullptr;
    if (!DefFile_match(db->file, keyPattern, uuidPattern, when, 0, &n, &whats, &wheres, &whens)) return false;
    for (int i = 0; i < n; ++i) {
        if (!(from == -1 && to == -1) &&
            !((from == -1 || whens[i] >= from) && (to == -1 || whens[i] <= to)))
            continue;
        list.push_back({whats[i], wheres[i], whens[i]});
    }
    if (n > 0) {
        vrnCStringArray_free(whats, n);
        vrnCStringArray_free(wheres, n);
        vrnFree(whens, "Database_match");
    }
    return true;
}

// A range of a few states (an undo or redo step) is searched one When at a
// time, so that the datasets of other states are neither copied nor sorted.
const int kNarrowRange = 16;

// The datasets of (keyPattern, uuidPattern) with When in [from, to] (-1:
// an open bound), ordered by Where, What, When; false when a search failed.
[[nodiscard]] bool orderedMatches(Database* db, const char* keyPattern, const char* uuidPattern, int from, int to,
                    std::vector<Entry>& list) {
    list.clear();
    if (from >= 0 && to >= from && to - from < kNarrowRange) {
        for (int w = from; w <= to; ++w)
            if (!collect(db, keyPattern, uuidPattern, w, from, to, list)) return false;
    } else if (!collect(db, keyPattern, uuidPattern, -1, from, to, list)) {
        return false;
    }
    std::sort(list.begin(), list.end(), [](const Entry& a, const Entry& b) {
        int c = strcmp(a.where.c_str(), b.where.c_str());
        if (c) return c < 0;
        c = strcmp(a.what.c_str(), b.what.c_str());
        if (c) return c < 0;
        return a.when < b.when;
    });
    return true;
}

// Getter preamble: the active When, or -1.
int locateActive(Database* db, int state, const vrnUUID* object, const char* key) {
    if (!db || !key) return -1;
    setKey(db, object);
    if (state < 1) return -state;
    // One search finds the active version and leaves it ready for the read.
    int when = -1;
    Dataset_locateActive(db->file->dataset, key, db->keyText, state, &when);
    return when;
}

// Array getter: the active version's whole array, or a null array and a
// count of 0 when there is none.
template <typename T, typename Reader>
int getArray(Database* db, int state, const vrnUUID* object, const char* key, T** array,
             int* count, Reader read) {
    int when = locateActive(db, state, object, key);
    if (when < 0) {
        *array = nullptr;
        *count = 0;
        return 0;
    }
    return read(db->file, key, db->keyText, when, array, count);
}

// Getter of one allocated value (a string, a UUID): the active version's
// value, or null when there is none.
template <typename T, typename Reader>
int getAllocated(Database* db, int state, const vrnUUID* object, const char* key, T** value,
                 Reader read) {
    int when = locateActive(db, state, object, key);
    if (when < 0) {
        *value = nullptr;
        return 0;
    }
    return read(db->file, key, db->keyText, when, value);
}

void refuseNotAModel(const char* fileName, const char* function = "Database_new") {
    vrnError* e = vrnError_new(VRN_U_INVALID_INPUT, function, kSource, __LINE__);
    vrnError_addMessage(e, "The requested file\n\n%s\n\nexists but is not a valid VRN database.\n",
                        fileName);
    vrnError_publish(e);
}

// Refuses to make a new model whose lock mutex could not be named (the name
// with ".lck.lck" added is over the folder's file-name limit): no process
// could ever take the write lock on it, so nothing could be stored in it.
bool refusedForItsLockName(const char* fileName) {
    const std::string path = fileName;
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const size_t length = path.size() - (slash == std::string::npos ? 0 : slash + 1) + 8;
    long limit = pathconf(folder.c_str(), _PC_NAME_MAX);
    // A name over the limit itself is refused by its open, saying so.
    if (limit <= 0 || static_cast<long>(length) <= limit || static_cast<long>(length - 8) > limit) return false;
    vrnError* e = vrnError_new(VRN_U_INVALID_INPUT, "Database_new", kSource, __LINE__);
    vrnError_addMessage(e,
                        "The supplied file name, %s, is too long for a new VRN database: its lock "
                        "mutex,\n%s.lck.lck, would have a name of %zu bytes, over the limit of %ld "
                        "bytes for a file name.\nGive the model a name of at most %ld bytes.\n",
                        fileName, fileName, length, limit, limit - 8);
    vrnError_publish(e);
    return true;
}

// Whether path is a regular file too short to hold a model: fewer bytes
// than the start every data file begins with ("*INFO", a size field of
// width 20, "*ENDINFO": 36 bytes), let alone a "Version" dataset and an
// index. The data-file library takes such a file (empty, or the first
// bytes of that start) for a new file whose creation was cut short and
// writes a start into it.
bool isTooShortForAModel(const char* path) {
    const off_t dataFileStart = 36;
    struct stat st;
    return stat(path, &st) == 0 && S_ISREG(st.st_mode) && st.st_size < dataFileStart;
}

// A file "<name>.<UUID text>.tmp" beside the model: the backup under which
// earlier builds kept the whole model while a compaction swapped files.
// "" when there is none.
std::string compactionLeftover(const char* fileName) {
    std::string path(fileName);
    size_t cut = path.find_last_of("\\/");
    std::string folder = cut == std::string::npos ? "." : path.substr(0, cut + 1);
    std::string base = cut == std::string::npos ? path : path.substr(cut + 1);
    std::string found;
    DIR* d = opendir(folder.c_str());
    if (!d) return found;
    const size_t uuidLength = VRN_UUID_STRING_SIZE - 1;
    while (dirent* e = readdir(d)) {
        std::string entry = e->d_name;
        if (entry.size() != base.size() + 1 + uuidLength + 4) continue;
        if (entry.compare(0, base.size() + 1, base + ".") != 0) continue;
        if (entry.compare(entry.size() - 4, 4, ".tmp") != 0) continue;
        std::string whole = cut == std::string::npos ? entry : folder + entry;
        if (vrnIsRegularFile(whole.c_str())) {
            found = whole;
            break;
        }
    }
    closedir(d);
    return found;
}

// Makes a new model file whole before it bears its name: stamped under a
// temporary name beside it, "<model file>.create.<id>.tmp", then given the
// name, so that a process killed while creating it leaves no file that is
// not a model under that name (and whatever it leaves says whose it is).
// The name is given only while it names nothing: a model another process
// made meanwhile is never replaced. Placed when the file is in place; when
// the name has been taken, or the system refuses it, nothing is left and
// the caller opens the name itself (NotMade), which opens the model found
// there or says why the name is refused. A temporary file that could not
// be made, written whole or given the name (a full disk, say) fails the
// create, saying why, with nothing left (Failed): the model is never made
// under its name piece by piece.
enum class Created { Placed, NotMade, Failed };

// Whether a failed rename to a name tells of the name itself.
bool namesTheCause(int error) {
    switch (error) {
    case EEXIST: case ENAMETOOLONG: case ENOENT: case ENOTDIR: case EISDIR: case EACCES: case EPERM: case EROFS:
    case ELOOP:
        return true;
    default:
        return false;
    }
}

[[nodiscard]] Created createWhole(const char* fileName) {
    std::string path(fileName);
    size_t cut = path.find_last_of("\\/");
    std::string prefix = cut == std::string::npos ? path : path.substr(cut + 1);
    // The temporary name, its lock files' endings added, must fit where
    // the model's own name does: a long name lends it only its first part,
    // ending in no byte outside ASCII so that no character is split.
    const size_t room = 200;
    if (prefix.size() > room) {
        prefix.resize(room);
        while (!prefix.empty() && (static_cast<unsigned char>(prefix.back()) & 0x80)) prefix.pop_back();
    }
    prefix += ".create";
    char* temp = DefFile_temporaryNameBeside(fileName, prefix.c_str());
    // A failure to make it is reported as one of the model's name.
    DefFile* f = DefFile_newReportedAs(temp, fileName);
    if (!f) {
        vrnCString_free(temp);
        return Created::Failed;
    }
    bool ok = false;
    std::string why;
    {
        Database scratch{};
        scratch.file = f;
        char* version = vrnLibrary_getVersionString();
        ok = Database_setString(&scratch, 0, nullptr, "Version", version) &&
             Database_timeStamp(&scratch, nullptr, "Date - created");
        vrnCString_free(version);
        ok = DefFile_close(f) && ok;
        if (!ok) why = f->errorText ? f->errorText : "Unable to write to the file.";
        DefFile_delete(f);
    }
    bool placed = ok && vrnPlatform_renameNoReplace(temp, fileName) == 0;
    // A name taken meanwhile is opened as found; one the system refuses
    // (too long, in no folder, not to be written) is refused by that open,
    // which says why. Any other failure (a full disk, say) fails here.
    if (ok && !placed && !namesTheCause(errno))
        why = std::string("It could not be given its name: ") + strerror(errno) + ".";
    if (!placed && vrnIsRegularFile(temp)) vrnPlatform_unlink(temp);
    vrnCString_free(temp);
    if (placed) return Created::Placed;
    if (why.empty() || vrnFileExists(fileName)) return Created::NotMade;
    vrnError* e = vrnError_new(VRN_U_UNABLE_TO_OPEN_DATABASE, "Database_new", kSource, __LINE__);
    vrnError_addMessage(e, "The new VRN database\n\n%s\n\ncould not be created: nothing is left under its name.\n%s\n",
                        fileName, why.c_str());
    vrnError_publish(e);
    return Created::Failed;
}

}  // namespace

extern "C" {

char* Database_buildFileName(const char* name) {
    static const char* const endings[] = {".vrn", ".vrn.bak", ".kwx", ".kwx.bak"};
    if (name) {
        size_t n = strlen(name);
        for (const char* e : endings) {
            size_t m = strlen(e);
            if (n >= m && strcmp(name + n - m, e) == 0) return vrnCString_clone(name);
        }
    }
    return vrnCString_merge(name ? name : "", ".vrn", nullptr);
}

int Database_fileExists(const char* name) { return vrnFileExists(name) ? 1 : 0; }

void Database_refuseNotAModel(const char* function, const char* fileName) {
    refuseNotAModel(fileName, function);
}

const char* Database_getFileName(Database* db) { return db ? db->fileName : nullptr; }

Database* Database_new(const char* fileName) {
    const char* fn = "Database_new";
    // A blank name is refused before its ending is completed (a bare
    // ".vrn" would be a hidden file), by the definition file's own check.
    if (vrnCString_isBlank(fileName)) {
        DefFile_new(fileName);  // publishes the refusal; makes nothing
        return nullptr;
    }
    Database* db = static_cast<Database*>(vrnCalloc(sizeof(Database), 0, fn));
    db->fileName = Database_buildFileName(fileName);
    int existed = Database_fileExists(db->fileName);
    std::string leftover = existed ? std::string() : compactionLeftover(db->fileName);
    if (!leftover.empty()) {
        // An earlier build, killed between the two renames of a
        // compaction, left the model only under a temporary name: a new
        // empty model must not take its place unnoticed.
        vrnError* e = vrnError_new(VRN_U_UNABLE_TO_OPEN_DATABASE, fn, kSource, __LINE__);
        vrnError_addMessage(e,
                            "The requested file\n\n%s\n\ndoes not exist, but\n\n%s\n\nbeside it "
                            "holds the model as an interrupted compaction left it.\nRename that "
                            "file to the requested name to open the model.\n",
                            db->fileName, leftover.c_str());
        vrnError_publish(e);
        vrnFree(db->fileName, fn);
        vrnFree(db, fn);
        return nullptr;
    }
    // A name whose lock file is there with no file under it is not
    // created here: the open below reports the lock and makes nothing,
    // where a model put in place first would have to stay. A name that
    // another process has taken meanwhile is opened as any file found
    // there is.
    if (!existed && refusedForItsLockName(db->fileName)) {
        vrnFree(db->fileName, fn);
        vrnFree(db, fn);
        return nullptr;
    }
    std::string lock = std::string(db->fileName) + ".lck";
    if (!existed && !vrnFileExists(lock.c_str())) {
        const Created created = createWhole(db->fileName);
        if (created == Created::Failed) {
            vrnFree(db->fileName, fn);
            vrnFree(db, fn);
            return nullptr;
        }
        if (created == Created::NotMade) existed = Database_fileExists(db->fileName);
    }
    // Nothing is written into a file before it is known to be a model: a
    // failed open leaves the file as it was. One too short to be a model is
    // refused before the data-file library would give it a start.
    if (existed && isTooShortForAModel(db->fileName)) {
        refuseNotAModel(db->fileName);
        vrnFree(db->fileName, fn);
        vrnFree(db, fn);
        return nullptr;
    }
    // A model this create put in place stays when the open fails: the
    // lock that refuses the open is another process's, which may have
    // opened the model and written into it already.
    db->file = DefFile_new(db->fileName);
    if (!db->file) {
        vrnFree(db->fileName, fn);
        vrnFree(db, fn);
        return nullptr;
    }
    db->uuid = vrnUUID_new();
    char* version = nullptr;
    if (!Database_getString(db, 0, nullptr, "Version", &version)) {
        if (existed) {
            // Only read so far; an index the open rebuilt is not stored.
            refuseNotAModel(db->fileName);
            Database_deleteUnchanged(db);
            return nullptr;
        }
        Database_writeVersion(db);
        Database_timeStamp(db, nullptr, "Date - created");
    }
    vrnCString_free(version);
    db->modified = 0;
    return db;
}

int Database_close(Database* db) {
    if (!db || !db->file) return 1;
    if (!db->file->modified) {
        // Only read: what the reads settled in the index in memory is not
        // stored (see Database_delete).
        db->file->ioControl->primary.indexdirty = 0;
        db->file->ioControl->secondary.indexdirty = 0;
    } else if (db->modified == 1 && (db->file->openFlags & DEFFILE_PRIMARY_OPEN)) {
        Database_timeStamp(db, nullptr, "Date - modified");
        db->modified = 0;
    }
    DefFile_close(db->file);
    return !DefFile_reportLocksLeft(db->file);
}

void Database_delete(Database* db) {
    if (!db) return;
    // A model that was only read is left byte for byte as it was found:
    // what the reads settled in the index in memory (lines of superseded
    // datasets retired) is not stored, so closing writes nothing.
    if (db->file && !db->file->modified) return Database_deleteUnchanged(db);
    const char* fn = "Database_delete";
    // A lock file left behind is published by the close; a delete has no
    // answer to give.
    const int closed = Database_close(db);
    (void)closed;
    DefFile_delete(db->file);
    vrnUUID_delete(db->uuid);
    vrnFree(db->fileName, fn);
    vrnFree(db, fn);
}

void Database_deleteUnchanged(Database* db) {
    if (!db) return;
    DefFile_deleteUnchanged(db->file);
    db->file = nullptr;
    Database_delete(db);
}

int Database_findActiveWhen(Database* db, int state, const char* key) {
    if (state < 1) return -state;
    return activeAmong(storedWhens(db, key, db->keyText), state);
}

int Database_getInteger(Database* db, int state, const vrnUUID* object, const char* key, int* value) {
    int when = locateActive(db, state, object, key);
    if (when < 0) return 0;
    return DefFile_readInt(db->file, key, db->keyText, when, value);
}

int Database_getIntegerArray(Database* db, int state, const vrnUUID* object, const char* key,
                             int** array, int* count) {
    return getArray(db, state, object, key, array, count, DefFile_readInts);
}

int Database_getIntegerArrayInto(Database* db, int state, const vrnUUID* object, const char* key,
                                 int* array, int capacity) {
    int when = locateActive(db, state, object, key);
    if (when < 0) return 0;
    return DefFile_readIntArray(db->file, key, db->keyText, when, array, capacity);
}

int Database_getFloatArray(Database* db, int state, const vrnUUID* object, const char* key,
                           float** array, int* count) {
    return getArray(db, state, object, key, array, count, DefFile_readFloats);
}

int Database_getDoubleArray(Database* db, int state, const vrnUUID* object, const char* key,
                            double** array, int* count) {
    return getArray(db, state, object, key, array, count, DefFile_readDoubles);
}

int Database_getCharArray(Database* db, int state, const vrnUUID* object, const char* key,
                          char** array, int* count) {
    return getArray(db, state, object, key, array, count, DefFile_readChars);
}

int Database_getString(Database* db, int state, const vrnUUID* object, const char* key,
                       char** string) {
    return getAllocated(db, state, object, key, string, DefFile_readString);
}

int Database_getStringArray(Database* db, int state, const vrnUUID* object, const char* key,
                            char*** array, int* count) {
    return getArray(db, state, object, key, array, count, DefFile_readStrings);
}

int Database_getStringArrayInto(Database* db, int state, const vrnUUID* object, const char* key,
                                char** array, int capacity) {
    int when = locateActive(db, state, object, key);
    if (when < 0) return 0;
    return DefFile_readStringArray(db->file, key, db->keyText, when, array, capacity);
}

int Database_getUUID(Database* db, int state, const vrnUUID* object, const char* key,
                     vrnUUID** uuid) {
    return getAllocated(db, state, object, key, uuid, DefFile_readUUID);
}

int Database_getUUIDArray(Database* db, int state, const vrnUUID* object, const char* key,
                          vrnUUID*** array, int* count) {
    return getArray(db, state, object, key, array, count, DefFile_readUUIDs);
}

// Setter preamble.
static bool prepareWrite(Database* db, const vrnUUID* object, const char* key) {
    if (!db || !key) return false;
    setKey(db, object);
    db->modified = 1;
    return true;
}

int Database_setInteger(Database* db, int state, const vrnUUID* object, const char* key, int value) {
    if (!prepareWrite(db, object, key)) return 0;
    return DefFile_writeInt(db->file, key, db->keyText, state, value);
}

int Database_setIntegerArray(Database* db, int state, const vrnUUID* object, const char* key,
                             const int* values, int count) {
    if (!prepareWrite(db, object, key)) return 0;
    return DefFile_writeIntArray(db->file, key, db->keyText, state, values, count, 0);
}

int Database_setDoubleArray(Database* db, int state, const vrnUUID* object, const char* key,
                            const double* values, int count) {
    if (!prepareWrite(db, object, key)) return 0;
    return DefFile_writeDoubleArray(db->file, key, db->keyText, state, values, count, 0);
}

int Database_setString(Database* db, int state, const vrnUUID* object, const char* key,
                       const char* string) {
    if (!prepareWrite(db, object, key)) return 0;
    return DefFile_writeString(db->file, key, db->keyText, state, string);
}

int Database_setStringArray(Database* db, int state, const vrnUUID* object, const char* key,
                            char* const* strings, int count) {
    if (!prepareWrite(db, object, key)) return 0;
    return DefFile_writeStringArray(db->file, key, db->keyText, state, strings, count);
}

int Database_setUUID(Database* db, int state, const vrnUUID* object, const char* key,
                     const vrnUUID* uuid) {
    if (!prepareWrite(db, object, key)) return 0;
    return DefFile_writeUUID(db->file, key, db->keyText, state, uuid);
}

int Database_setUUIDArray(Database* db, int state, const vrnUUID* object, const char* key,
                          vrnUUID* const* uuids, int count) {
    if (!prepareWrite(db, object, key)) return 0;
    return DefFile_writeUUIDArray(db->file, key, db->keyText, state, uuids, count);
}

int Database_readSignature(Database* db, int state, const vrnUUID* object, const char* key,
                           int* ints, int* floats, int* doubles, int* chars, int* fixedStrings,
                           int* strings, int* uuids) {
    int when = locateActive(db, state, object, key);
    if (when < 0) return 0;
    return DefFile_readSignature(db->file, key, db->keyText, when, ints, floats, doubles, chars,
                                 fixedStrings, strings, uuids);
}

// Erases every dataset of one object. Its Where goes to the search as a
// pattern: one holding pattern characters is no UUID's text and names no
// object, so nothing is erased under it.
static int eraseWhere(Database* db, const char* where) {
    if (strpbrk(where, "*?[]")) return 1;
    int ok = DefFile_erase(db->file, "*", where, -1, 0);
    if (ok) db->modified = 1;
    return ok;
}

int Database_erase(Database* db, const vrnUUID* object) {
    if (!db) return 0;
    setKey(db, object);
    db->modified = 1;
    return DefFile_erase(db->file, "*", db->keyText, -1, 0);
}

int Database_lockForWriting(Database* db) { return db && DefFile_lockForWriting(db->file); }

int Database_mayBeWritten(Database* db) {
    if (!db || !db->file || !db->file->ioControl || db->file->ioControl->primary.openmode != 'w') return 0;
    const std::string path = db->fileName;
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    return access(folder.c_str(), W_OK | X_OK) == 0;
}

int Database_rollback(Database* db, int state) {
    if (!db) return 0;
    std::vector<Entry> all;
    // A failed search erases nothing, and says so: the datasets above the
    // state are still there.
    if (!orderedMatches(db, "*", "*", -1, -1, all)) return 0;
    // Highest state first: whatever cut stops the erasing, what is left
    // above the state always reaches down to state + 1, so one look there
    // tells whether an erasing was left unfinished. A failed erase stops it
    // too, for the same reason.
    std::stable_sort(all.begin(), all.end(), [](const Entry& a, const Entry& b) { return a.when > b.when; });
    for (const Entry& e : all) {
        if (e.when <= state) break;
        if (!DefFile_erase(db->file, e.what.c_str(), e.where.c_str(), e.when, 1)) return 0;
        db->modified = 1;
    }
    return 1;
}

int Database_match(Database* db, int from, int to, const char* uuidPattern, const char* keyPattern,
                   int* recordCount, char*** uuids, int** starts, char*** keys, int** whens) {
    const char* fn = "Database_match";
    static vrnDebugPreamble debug;
    debug.enter(fn, "Find all data sets in a VRN database that match a given set of filters.");
    *recordCount = 0;
    *uuids = nullptr;
    *keys = nullptr;
    *whens = nullptr;
    std::vector<Entry> list;
    const bool searched = !db || orderedMatches(db, keyPattern, uuidPattern, from, to, list);
    if (!searched) list.clear();
    int n = static_cast<int>(list.size());
    FILE* out = vrnDebug_getStream();
    if (debug.tracing() && out) {
        fprintf(out, "\n");
        fprintf(out, "UUID  = \"%s\"\n", uuidPattern);
        fprintf(out, "Key   = \"%s\"\n", keyPattern);
        fprintf(out, "\n");
        fprintf(out, " No of matches = %d\n", n);
        for (const Entry& e : list) fprintf(out, "%8d %s --- %s\n", e.when, e.where.c_str(), e.what.c_str());
    }
    if (n == 0) {
        *starts = static_cast<int*>(vrnCalloc(sizeof(int), 0, fn));
        return searched ? 1 : 0;
    }
    std::vector<int> first;
    for (int i = 0; i < n; ++i)
        if (i == 0 || list[static_cast<size_t>(i)].where != list[static_cast<size_t>(i) - 1].where)
            first.push_back(i);
    int records = static_cast<int>(first.size());
    *recordCount = records;
    *uuids = static_cast<char**>(vrnMalloc(static_cast<int>(sizeof(char*)) * records, fn));
    *starts = static_cast<int*>(vrnMalloc(static_cast<int>(sizeof(int)) * (records + 1), fn));
    for (int r = 0; r < records; ++r) {
        (*uuids)[r] = vrnCString_clone(list[static_cast<size_t>(first[static_cast<size_t>(r)])].where.c_str());
        (*starts)[r] = first[static_cast<size_t>(r)];
    }
    (*starts)[records] = n;
    *keys = static_cast<char**>(vrnMalloc(static_cast<int>(sizeof(char*)) * n, fn));
    *whens = static_cast<int*>(vrnMalloc(static_cast<int>(sizeof(int)) * n, fn));
    for (int i = 0; i < n; ++i) {
        (*keys)[i] = vrnCString_clone(list[static_cast<size_t>(i)].what.c_str());
        (*whens)[i] = list[static_cast<size_t>(i)].when;
    }
    return 1;
}

void Database_freeMatch(int recordCount, char** uuids, int* starts, char** keys, int* whens) {
    const char* fn = "Database_freeMatch";
    int n = starts ? starts[recordCount] : 0;
    vrnCStringArray_free(uuids, recordCount);
    vrnCStringArray_free(keys, n);
    vrnFree(whens, fn);
    vrnFree(starts, fn);
}

int Database_isParameterChanged(Database* db, int from, int to, const char* uuidText,
                                const char* key, int* changed) {
    *changed = 0;
    if (!db || !uuidText || !key) return 1;
    for (int w : storedWhens(db, key, uuidText)) {
        if (from == -1 || to == -1 || (w >= from && w <= to)) {
            *changed = 1;
            break;
        }
    }
    return 1;
}

int Database_purgeMarkedObjects(Database* db, int to, const char* keyPattern) {
    if (!db) return 0;
    int records = 0;
    char** uuids = nullptr;
    int* starts = nullptr;
    char** keys = nullptr;
    int* whens = nullptr;
    int ok = Database_match(db, 0, to, "*", keyPattern, &records, &uuids, &starts, &keys, &whens);
    // The type mark goes first: an object cut short in its erasing is
    // never taken for a live one.
    for (int r = 0; ok && r < records; ++r) {
        if (DefFile_erase(db->file, "__TYPE__", uuids[r], -1, 1)) db->modified = 1;
        eraseWhere(db, uuids[r]);
    }
    Database_freeMatch(records, uuids, starts, keys, whens);
    return ok;
}

int Database_purgeModifiedData(Database* db, int state) {
    static vrnDebugPreamble debug;
    debug.enter("Database_purgeModifiedData", "Compact a VRN database by removing unused data sets");
    if (!db) return 0;
    std::vector<Entry> all;
    if (!orderedMatches(db, "*", "*", -1, -1, all)) return 0;
    int result = 1;
    size_t i = 0;
    while (i < all.size()) {
        size_t j = i;
        std::vector<int> group;
        while (j < all.size() && all[j].where == all[i].where && all[j].what == all[i].what)
            group.push_back(all[j++].when);
        int keep = activeAmong(group, state);
        for (size_t k = i; k < j; ++k) {
            if (all[k].when == keep) continue;
            FILE* out = vrnDebug_getStream();
            if (debug.tracing() && out)
                fprintf(out, "Removing: [%s, %s, %d]\n", all[k].what.c_str(), all[k].where.c_str(),
                        all[k].when);
            if (DefFile_erase(db->file, all[k].what.c_str(), all[k].where.c_str(), all[k].when, 1))
                db->modified = 1;
            else
                result = 0;
        }
        i = j;
    }
    if (!result) return 0;
    int ok = DefFile_compact(db->file, 1);
    if (ok) db->modified = 1;
    return ok;
}

namespace {

struct OneState {
    Database* db;
    int state;
    std::unordered_set<std::string> marked;  // Wheres of deleted objects
    std::vector<std::pair<std::string, int>> replaced;  // "GLOBAL" integers

    // Replaced integers are written whole by fillOneState: their stored
    // versions stay out of the copy.
    bool isReplaced(const Dataset_Choice& d) const {
        if (strcmp(d.where, DATABASE_GLOBAL) != 0) return false;
        for (const auto& r : replaced)
            if (r.first == d.what) return true;
        return false;
    }
};

// Keeps of every key the version a read at the state sees, unless its
// object was deleted by then.
void chooseOneState(void* context, Dataset_Choice* datasets, int count) {
    OneState* k = static_cast<OneState*>(context);
    std::vector<int> order;
    order.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        if (visibleAt(datasets[i].when, k->state)) order.push_back(i);
    // Each key's versions side by side, the latest last.
    std::sort(order.begin(), order.end(), [&](int x, int y) {
        const Dataset_Choice& a = datasets[x];
        const Dataset_Choice& b = datasets[y];
        int c = strcmp(a.where, b.where);
        if (c) return c < 0;
        c = strcmp(a.what, b.what);
        return c ? c < 0 : a.when < b.when;
    });
    for (size_t i = 0; i < order.size(); ++i) {
        Dataset_Choice& d = datasets[order[i]];
        bool latest = i + 1 == order.size() || strcmp(datasets[order[i + 1]].where, d.where) != 0 ||
                      strcmp(datasets[order[i + 1]].what, d.what) != 0;
        d.keep = latest && (k->marked.empty() || !k->marked.count(d.where)) && !k->isReplaced(d);
    }
}

// The replaced integers, written into the copy after the kept datasets.
int fillOneState(void* context) {
    OneState* k = static_cast<OneState*>(context);
    for (const auto& r : k->replaced)
        if (!DefFile_writeInt(k->db->file, r.first.c_str(), DATABASE_GLOBAL, 0, r.second)) return 0;
    return 1;
}

}  // namespace

int Database_keepOneState(Database* db, int state, const char* markKey, int count,
                          const char* const* keys, const int* values) {
    if (!db) return 0;
    OneState k{db, state, {}, {}};
    int records = 0;
    char** uuids = nullptr;
    int* starts = nullptr;
    char** found = nullptr;
    int* whens = nullptr;
    // Without the list of deleted objects the copy could bring them back:
    // a failed search fails the close, and the file stays as it was.
    int ok = Database_match(db, 0, state, "*", markKey, &records, &uuids, &starts, &found, &whens);
    for (int r = 0; ok && r < records; ++r)
        for (int i = starts[r]; i < starts[r + 1]; ++i)
            if (strcmp(found[i], markKey) == 0) k.marked.insert(uuids[r]);
    Database_freeMatch(records, uuids, starts, found, whens);
    if (!ok) return 0;
    for (int i = 0; i < count; ++i) k.replaced.emplace_back(keys[i], values[i]);
    ok = DefFile_compactChosen(db->file, chooseOneState, fillOneState, &k);
    if (ok) db->modified = 1;
    return ok;
}

int Database_compact(Database* db) {
    if (!db) return 0;
    int ok = DefFile_compact(db->file, 0);
    if (ok) db->modified = 1;
    return ok;
}

void Database_writeVersion(Database* db) {
    char* version = vrnLibrary_getVersionString();
    Database_setString(db, 0, nullptr, "Version", version);
    vrnCString_free(version);
}

int Database_timeStamp(Database* db, const vrnUUID* object, const char* key) {
    char* date = vrnGetDate();
    char* time = vrnGetTime();
    std::string value = std::string(date ? date : "unknown") + " [" + (time ? time : "unknown") + "]";
    vrnCString_free(date);
    vrnCString_free(time);
    return Database_setString(db, 0, object, key, value.c_str());
}

}  // extern "C"
