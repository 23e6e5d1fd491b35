#include "database/def_file.h"

#include <stdio.h>
#include <string.h>

#include <functional>
#include <string>

#include "database/open_reason.h"
#include "debug/debug_manager.h"
#include "errors/error.h"
#include "support/cstring.h"
#include "support/memory.h"
#include "support/system.h"
#include "vrn_platform.h"

namespace {

const char* kSource = "vrn_common/src/database/DefFile";

const char* kReadFail = "Unable to read the requested %s data set.";
const char* kWriteFail = "Unable to write the requested %s data set.";

void recordRead(DefFile* f, const char* what, const char* where, int when, const char* kind) {
    char text[96];
    snprintf(text, sizeof text, kReadFail, kind);
    DefFile_setError(f, what, where, when, VRN_U_UNABLE_TO_READ_DATASET, text);
}

// A read of a whole data set into an array the reader allocates; on failure
// the array is null, the count 0 or what a sized read found, and the error
// is recorded.
template <typename T, typename Reader>
int readAllocated(DefFile* f, const char* what, const char* where, int when, T** array,
                  int* count, Reader read, const char* kind) {
    if (!f) return 0;
    *array = nullptr;
    *count = -1;
    if (read(f->dataset, what, where, when, count, array)) return 1;
    if (*count < 0) *count = 0;  // sized reads that found nothing
    recordRead(f, what, where, when, kind);
    return 0;
}

// A read of exactly one allocated item (a string, a UUID): an empty list
// holds no item to hand out.
template <typename T, typename Reader>
int readOne(DefFile* f, const char* what, const char* where, int when, T** item, Reader read,
            const char* kind) {
    if (!f) return 0;
    T* one = nullptr;
    T** p = &one;
    int count = 1;
    if (read(f->dataset, what, where, when, &count, &p) && count == 1) {
        *item = one;
        return 1;
    }
    *item = nullptr;
    recordRead(f, what, where, when, kind);
    return 0;
}

int writeResult(DefFile* f, int ok, const char* what, const char* where, int when,
                const char* kind) {
    f->modified = 1;
    if (!ok) {
        char text[96];
        snprintf(text, sizeof text, kWriteFail, kind);
        DefFile_setError(f, what, where, when, VRN_U_UNABLE_TO_WRITE_DATASET, text);
    }
    return ok ? 1 : 0;
}

// A write of exactly one allocated item (a string, a UUID) as a list of one.
template <typename T, typename Writer>
int writeOne(DefFile* f, const char* what, const char* where, int when, const T* item,
             Writer write, const char* kind) {
    if (!f) return 0;
    T* one = const_cast<T*>(item);
    int ok = write(f->dataset, what, where, when, 1, &one);
    return writeResult(f, ok, what, where, when, kind);
}

void publishOpenFailure(DefFile* f, const char* name, int answer, bool secondary) {
    const char* lead = secondary ? "The supplied secondary file name" : "The supplied file name";
    vrnError* e;
    if (answer == -1) {
        e = vrnError_new(VRN_U_DATABASE_IS_LOCKED, secondary ? "DefFile_openAsSecondaryFile"
                                                              : "DefFile_openAsPrimaryFile",
                         kSource, __LINE__);
        vrnError_addMessage(e,
                            "%s, %s, can not\nbe opened as a lock file, %s.lck,\nexists.\n\nIf "
                            "this is the result of a previous failed run then try deleting the\n"
                            "lock file and repeating the operation.\n",
                            lead, name, name);
        vrnError_addMessage(e, "The lock file may be removed when no program has %s open.\n", name);
    } else {
        e = vrnError_new(VRN_U_INVALID_INPUT, secondary ? "DefFile_openAsSecondaryFile"
                                                         : "DefFile_openAsPrimaryFile",
                         kSource, __LINE__);
        vrnError_addMessage(e,
                            "%s, %s, can not\nbe opened as a KWX data file.\n\nThis could be "
                            "because it has the wrong format or because you\ndon't have write "
                            "permissions in the requested directory.\n",
                            lead, name);
        char* messages = Dataset_getMessage(f->dataset);
        vrnError_addMessage(e, "Reason: %s\n", vrn::openFailureReason(name, messages).c_str());
        vrnCString_free(messages);
    }
    vrnError_publish(e);
}

// Keeps what the data-file library's closes (or the unlock of a refused
// open) could not remove, for the handle's owner to report.
void collectLocksLeft(DefFile* f) {
    char* left = Dataset_takeLocksLeft();
    if (!left) return;
    if (f->locksLeft) {
        char* both = vrnCString_merge(f->locksLeft, left, nullptr);
        vrnCString_free(f->locksLeft);
        vrnCString_free(left);
        f->locksLeft = both;
    } else {
        f->locksLeft = left;
    }
}

int openAs(DefFile* f, const char* name, int report, bool secondary, const char* shown = nullptr) {
    if (!f || !name) return 0;
    int bit = secondary ? DEFFILE_SECONDARY_OPEN : DEFFILE_PRIMARY_OPEN;
    if (f->openFlags & bit) {
        if (secondary) Dataset_closeSecondaryFile(f->dataset);
        else Dataset_closePrimaryFile(f->dataset);
    }
    int answer = secondary ? Dataset_openSecondaryFile(f->dataset, name)
                           : Dataset_openPrimaryFile(f->dataset, name);
    collectLocksLeft(f);
    if (answer == 1) {
        char** slot = secondary ? &f->secondaryName : &f->primaryName;
        if (*slot != name) vrnCString_reassign(slot, name);
        f->openFlags |= bit;
        return 1;
    }
    if (secondary) f->openFlags &= ~DEFFILE_SECONDARY_OPEN;
    else f->openFlags &= ~(DEFFILE_PRIMARY_OPEN | DEFFILE_SECONDARY_OPEN);
    if (report) publishOpenFailure(f, shown ? shown : name, answer, secondary);
    return 0;
}

DefFile* newFile(const char* fileName, int report, const char* shown) {
    const char* fn = "DefFile_new";
    if (vrnCString_isBlank(fileName)) {
        vrnError* e = vrnError_new(VRN_U_INVALID_INPUT, fn, kSource, __LINE__);
        vrnError_addMessage(e, "The supplied file name is blank.\n");
        vrnError_publish(e);
        return nullptr;
    }
    DefFile* f = static_cast<DefFile*>(vrnCalloc(sizeof(DefFile), 0, fn));
    f->ioControl = iocontrol_alloc();
    if (!f->ioControl) {
        vrnFree(f, fn);
        return nullptr;
    }
    f->dataset = Dataset_new(f->ioControl);
    if (!openAs(f, fileName, report, false, shown)) {
        DefFile_delete(f);
        return nullptr;
    }
    return f;
}

// The directory part of a path, up to and including its last separator.
std::string directoryOf(const char* path) {
    std::string p(path);
    size_t cut = p.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : p.substr(0, cut + 1);
}

// Rewrites the file through a temporary copy beside it, which fill gives
// its datasets (the handle's writes go into the copy meanwhile), and which
// then replaces the file in one step: whenever the process dies, the name
// holds either the whole old file or the whole copy.
bool compactThrough(DefFile* f, const std::function<bool()>& fill) {
    const char* fn = "DefFile_compact";
    if (!f->primaryName) return false;
    char* tempName = DefFile_temporaryNameBeside(f->primaryName, "compact");
    std::string temp = tempName;
    vrnFree(tempName, fn);
    char* primary = vrnCString_clone(f->primaryName);
    // The copy replaces the file only while no other process has it open:
    // one that had would go on writing into the file replaced.
    bool ok = Dataset_takeWriteLock(f->dataset, 0) == 0;
    bool reopen = false;
    if (ok && vrnIsRegularFile(temp.c_str()) && vrnPlatform_unlink(temp.c_str()) != 0) ok = false;
    if (ok && !DefFile_openAsSecondaryFile(f, temp.c_str(), 0)) ok = false;
    if (ok && !fill()) ok = false;
    if (!ok && (f->openFlags & DEFFILE_SECONDARY_OPEN)) DefFile_closeSecondaryFile(f);
    // The copy, closed whole, takes the name while the file still holds the
    // write lock; only then is the file closed and its lock given back, so
    // that no other process opens it in between.
    if (ok && !DefFile_closeSecondaryFile(f)) ok = false;
    if (ok && vrnPlatform_rename(temp.c_str(), primary) != 0) ok = false;
    if (ok) {
        DefFile_closePrimaryFile(f);  // the replaced file: nothing of it is kept
        reopen = true;
    }
    // Once the copy has the name the compaction is done. Another process
    // may have opened the file in the moment between: the handle then
    // stays closed, which a later use of it reports.
    if (reopen && !DefFile_openAsPrimaryFile(f, primary, 0))
        DefFile_setError(f, nullptr, nullptr, 0, VRN_U_UNABLE_TO_OPEN_DATABASE,
                         "The KWX data file was compacted, but it could not be opened again (another "
                         "program may have opened it in between).");
    // A copy still open (its close failed) is closed before it is removed,
    // so that no later write goes into a file that has no name.
    if (f->openFlags & DEFFILE_SECONDARY_OPEN) DefFile_closeSecondaryFile(f);
    if (vrnIsRegularFile(temp.c_str())) vrnPlatform_unlink(temp.c_str());
    vrnFree(primary, fn);
    if (!ok) {
        DefFile_setError(f, nullptr, nullptr, 0, VRN_U_UNABLE_TO_COMPACT_DATABASE,
                         "Unable to compact the KWX data file.");
        return false;
    }
    f->modified = 1;
    return true;
}

}  // namespace

extern "C" {

void DefFile_setError(DefFile* f, const char* what, const char* where, int when, int code,
                      const char* text) {
    if (!f) return;
    const char* fn = "DefFile_setError";
    vrnFree(f->errorWhat, fn);
    vrnFree(f->errorWhere, fn);
    vrnFree(f->errorText, fn);
    vrnFree(f->ioMessage, fn);
    f->errorWhat = f->errorWhere = nullptr;
    if (what) {
        f->errorWhat = vrnCString_clone(what);
        f->errorWhere = vrnCString_clone(where);
        f->errorWhen = when;
    }
    f->errorText = vrnCString_clone(text);
    f->ioMessage = Dataset_getMessage(f->dataset);
    f->errorCode = code;
}

DefFile* DefFile_new(const char* fileName) { return DefFile_newReporting(fileName, 1); }

DefFile* DefFile_newReporting(const char* fileName, int report) { return newFile(fileName, report, nullptr); }

DefFile* DefFile_newReportedAs(const char* fileName, const char* shownName) {
    return newFile(fileName, 1, shownName);
}

void DefFile_delete(DefFile* f) {
    if (!f) return;
    const char* fn = "DefFile_delete";
    DefFile_close(f);
    // What its closes left behind is published; a delete has no answer.
    const int reported = DefFile_reportLocksLeft(f);
    (void)reported;
    iocontrol_free(f->ioControl);
    Dataset_delete(f->dataset);
    vrnFree(f->primaryName, fn);
    vrnFree(f->secondaryName, fn);
    vrnFree(f->errorWhat, fn);
    vrnFree(f->errorWhere, fn);
    vrnFree(f->errorText, fn);
    vrnFree(f->ioMessage, fn);
    vrnFree(f, fn);
}

void DefFile_deleteUnchanged(DefFile* f) {
    if (!f) return;
    // The IO library stores a changed index when a file closes; with
    // nothing marked changed its close writes nothing into the file.
    f->ioControl->primary.indexdirty = 0;
    f->ioControl->secondary.indexdirty = 0;
    DefFile_delete(f);
}

int DefFile_openAsPrimaryFile(DefFile* f, const char* name, int report) {
    return openAs(f, name, report, false);
}

int DefFile_openAsSecondaryFile(DefFile* f, const char* name, int report) {
    return openAs(f, name, report, true);
}

int DefFile_closePrimaryFile(DefFile* f) {
    if (!f) return 0;
    int closed = Dataset_closePrimaryFile(f->dataset);
    collectLocksLeft(f);
    if (closed) {
        // Closing the primary file closes the secondary one with it.
        f->openFlags &= ~(DEFFILE_PRIMARY_OPEN | DEFFILE_SECONDARY_OPEN);
        return 1;
    }
    DefFile_setError(f, nullptr, nullptr, 0, VRN_U_UNABLE_TO_CLOSE_DATABASE,
                     "Unable to close the KWX data file as the primary file\nfor the IO library.");
    return 0;
}

int DefFile_closeSecondaryFile(DefFile* f) {
    if (!f) return 0;
    int closed = Dataset_closeSecondaryFile(f->dataset);
    collectLocksLeft(f);
    if (closed) {
        f->openFlags &= ~DEFFILE_SECONDARY_OPEN;
        return 1;
    }
    DefFile_setError(f, nullptr, nullptr, 0, VRN_U_UNABLE_TO_CLOSE_DATABASE,
                     "Unable to close the KWX data file as the secondary file\nfor the IO library.");
    return 0;
}

int DefFile_close(DefFile* f) {
    int secondary = DefFile_closeSecondaryFile(f);
    int primary = DefFile_closePrimaryFile(f);
    return secondary && primary;
}

int DefFile_reportLocksLeft(DefFile* f) {
    if (!f || !f->locksLeft) return 0;
    std::string lines;
    for (const char* p = f->locksLeft; *p;) {
        const char* end = strchr(p, '\n');
        size_t n = end ? static_cast<size_t>(end - p) : strlen(p);
        lines += "  " + std::string(p, n) + "\n";
        p += n + (end ? 1 : 0);
    }
    vrnCString_free(f->locksLeft);
    f->locksLeft = nullptr;
    vrnError* e = vrnError_new(VRN_U_UNABLE_TO_DELETE_FILE, "DefFile_close", kSource, __LINE__);
    vrnError_addMessage(e,
                        "The KWX data file\n\n%s\n\nwas closed, but these files that locked it, or a "
                        "copy made beside it, could not be removed:\n\n%s\nRemove them when no program "
                        "has the file open. Until then a lock file (.lck) keeps every\nprogram from "
                        "opening the file, and a lock mutex (.lck.lck) makes each open wait a minute "
                        "first.\n",
                        f->primaryName ? f->primaryName : "", lines.c_str());
    vrnError_publish(e);
    return 1;
}

int DefFile_readInt(DefFile* f, const char* what, const char* where, int when, int* value) {
    if (!f) return 0;
    int local = 0, count = 1;
    int* p = &local;
    if (Dataset_readInts(f->dataset, what, where, when, &count, &p) && count == 1) {
        if (value) *value = local;
        return 1;
    }
    recordRead(f, what, where, when, "scalar integer");
    return 0;
}

int DefFile_writeInt(DefFile* f, const char* what, const char* where, int when, int value) {
    if (!f) return 0;
    int ok = Dataset_writeInts(f->dataset, what, where, when, 1, 0, &value);
    return writeResult(f, ok, what, where, when, "scalar integer");
}

int DefFile_readInts(DefFile* f, const char* what, const char* where, int when, int** array,
                     int* count) {
    return readAllocated(f, what, where, when, array, count, Dataset_readInts, "int array");
}

int DefFile_readIntArray(DefFile* f, const char* what, const char* where, int when, int* array,
                         int capacity) {
    if (!f) return 0;
    int count = capacity;
    if (capacity >= 0 && Dataset_readInts(f->dataset, what, where, when, &count, &array)) return 1;
    recordRead(f, what, where, when, "int array");
    return 0;
}

int DefFile_writeIntArray(DefFile* f, const char* what, const char* where, int when,
                          const int* values, int count, int records) {
    if (!f) return 0;
    int ok = Dataset_writeInts(f->dataset, what, where, when, count, records, values);
    return writeResult(f, ok, what, where, when, "int array");
}

int DefFile_readFloats(DefFile* f, const char* what, const char* where, int when, float** array,
                       int* count) {
    return readAllocated(f, what, where, when, array, count, Dataset_readFloats, "float array");
}

int DefFile_readDoubles(DefFile* f, const char* what, const char* where, int when, double** array,
                        int* count) {
    return readAllocated(f, what, where, when, array, count, Dataset_readDoubles, "double array");
}

int DefFile_writeDoubleArray(DefFile* f, const char* what, const char* where, int when,
                             const double* values, int count, int records) {
    if (!f) return 0;
    int ok = Dataset_writeDoubles(f->dataset, what, where, when, count, records, values);
    return writeResult(f, ok, what, where, when, "double array");
}

int DefFile_readChars(DefFile* f, const char* what, const char* where, int when, char** array,
                      int* count) {
    return readAllocated(f, what, where, when, array, count, Dataset_readChars, "char array");
}

int DefFile_readString(DefFile* f, const char* what, const char* where, int when, char** string) {
    return readOne(f, what, where, when, string, Dataset_readStrings, "scalar string");
}

int DefFile_writeString(DefFile* f, const char* what, const char* where, int when,
                        const char* string) {
    return writeOne(f, what, where, when, string, Dataset_writeStrings, "scalar string");
}

int DefFile_readStrings(DefFile* f, const char* what, const char* where, int when, char*** array,
                        int* count) {
    return readAllocated(f, what, where, when, array, count, Dataset_readStrings, "string array");
}

int DefFile_readStringArray(DefFile* f, const char* what, const char* where, int when,
                            char** array, int capacity) {
    if (!f) return 0;
    int count = capacity;
    if (capacity >= 0 && Dataset_readStrings(f->dataset, what, where, when, &count, &array)) return 1;
    recordRead(f, what, where, when, "string array");
    return 0;
}

int DefFile_writeStringArray(DefFile* f, const char* what, const char* where, int when,
                             char* const* strings, int count) {
    if (!f) return 0;
    int ok = Dataset_writeStrings(f->dataset, what, where, when, count, strings);
    return writeResult(f, ok, what, where, when, "string array");
}

int DefFile_readUUID(DefFile* f, const char* what, const char* where, int when, vrnUUID** uuid) {
    return readOne(f, what, where, when, uuid, Dataset_readUUIDs, "scalar UUID");
}

int DefFile_writeUUID(DefFile* f, const char* what, const char* where, int when,
                      const vrnUUID* uuid) {
    return writeOne(f, what, where, when, uuid, Dataset_writeUUIDs, "scalar UUID");
}

int DefFile_readUUIDs(DefFile* f, const char* what, const char* where, int when, vrnUUID*** array,
                      int* count) {
    return readAllocated(f, what, where, when, array, count, Dataset_readUUIDs, "UUID array");
}

int DefFile_writeUUIDArray(DefFile* f, const char* what, const char* where, int when,
                           vrnUUID* const* uuids, int count) {
    if (!f) return 0;
    int ok = Dataset_writeUUIDs(f->dataset, what, where, when, count, uuids);
    return writeResult(f, ok, what, where, when, "UUID array");
}

int DefFile_erase(DefFile* f, const char* what, const char* where, int when, int exact) {
    if (!f) return 0;
    if (Dataset_erase(f->dataset, what, where, when, exact)) {
        f->modified = 1;
        return 1;
    }
    DefFile_setError(f, what, where, when, VRN_U_UNABLE_TO_DELETE_DATASET,
                     "Unable to erase the requested data set(s).");
    return 0;
}

int DefFile_lockForWriting(DefFile* f) {
    if (!f) return 0;
    int rc = Dataset_takeWriteLock(f->dataset, 1);
    if (rc == 0) return 1;
    if (rc == IO_ERR_LOCKED) {
        DefFile_setError(f, nullptr, nullptr, 0, VRN_U_DATABASE_IS_LOCKED,
                         "Unable to lock the KWX data file for writing.");
        return 0;
    }
    // Not another process's lock (the file or its folder takes no change):
    // the text says why, from the data-file library's last message.
    std::string text = "Unable to lock the KWX data file for writing.";
    char* messages = Dataset_getMessage(f->dataset);
    std::string io = messages ? messages : "";
    vrnCString_free(messages);
    while (!io.empty() && io.back() == '\n') io.pop_back();
    size_t line = io.rfind('\n');
    if (!io.empty()) text += "\n" + (line == std::string::npos ? io : io.substr(line + 1));
    DefFile_setError(f, nullptr, nullptr, 0, VRN_U_UNABLE_TO_WRITE_DATASET, text.c_str());
    return 0;
}

int DefFile_match(DefFile* f, const char* what, const char* where, int when, int countOnly,
                  int* count, char*** whats, char*** wheres, int** whens) {
    if (!f) return 0;
    static vrnDebugPreamble debug;
    debug.enter("DefFile_match", "Find all data sets in a KWX data file that match a given set of filters.");
    int n = Dataset_match(f->dataset, what, where, when, 0, countOnly, whats, wheres, whens);
    if (n < 0) {
        *count = 0;
        DefFile_setError(f, what, where, when, VRN_U_UNABLE_TO_READ_DATASET,
                         "Unable to search the KWX data file for the requested data set(s).");
        return 0;
    }
    *count = n;
    FILE* out = vrnDebug_getStream();
    if (debug.tracing() && out) {
        fprintf(out, "\n");
        fprintf(out, "What  = \"%s\"\n", what);
        fprintf(out, "Where = \"%s\"\n", where);
        fprintf(out, "When  = %d\n", when);
        fprintf(out, "\n");
        fprintf(out, " No of matches = %d\n", n);
        fprintf(out, "\nWhat                                       Where                                            When\n");
        if (!countOnly && whats && wheres && whens)
            for (int i = 0; i < n; ++i)
                fprintf(out, "\"%-40s\" \"%-40s\" %10d\n", (*whats)[i], (*wheres)[i], (*whens)[i]);
    }
    return 1;
}

int DefFile_readSignature(DefFile* f, const char* what, const char* where, int when, int* ints,
                          int* floats, int* doubles, int* chars, int* fixedStrings, int* strings,
                          int* uuids) {
    if (!f) return 0;
    return Dataset_readSignature(f->dataset, what, where, when, ints, floats, doubles, chars,
                                 fixedStrings, strings, uuids);
}

int DefFile_compact(DefFile* f, int compressWhen) {
    return f && compactThrough(f, [&] { return Dataset_copyAllDatasets(f->dataset, compressWhen) != 0; });
}

int DefFile_compactChosen(DefFile* f, Dataset_ChooseRoutine choose, DefFile_FillRoutine fill,
                          void* context) {
    return f && compactThrough(f, [&] {
               return Dataset_copyChosenDatasets(f->dataset, choose, context) && (!fill || fill(context));
           });
}

char* DefFile_temporaryNameBeside(const char* path, const char* prefix) {
    return vrnGetTemporaryFileNameIn(directoryOf(path ? path : "").c_str(), prefix);
}

}  // extern "C"
