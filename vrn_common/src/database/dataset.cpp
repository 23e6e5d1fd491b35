#include "database/dataset.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "debug/debug_manager.h"
#include "io_files.h"
#include "support/cstring.h"
#include "support/memory.h"

namespace {

// The block whose request is under way; io_msg appends there.
Dataset* currentDataset = nullptr;

const int kFirstCapacity = 20;

bool fits(const char* text) {
    return text && strlen(text) <= DATASET_TEXT_MAX;
}

void copyText(char* buffer, const char* text) {
    size_t n = strlen(text);
    memcpy(buffer, text, n);
    buffer[n] = '\0';
}

void pointAtMatchBuffers(Dataset* b) {
    b->offsetsCount = b->stringsCount = b->intsCount = b->capacity;
    b->data.offsets = b->matchOffsets;
    b->data.noffsets = &b->offsetsCount;
    b->data.strings = b->matchStrings;
    b->data.nstrings = &b->stringsCount;
    b->data.ints = b->matchWhens;
    b->data.nints = &b->intsCount;
}

void Dataset_resetData(Dataset* b) {
    b->when = -1;
    b->number = 1;
    b->blockFactor = 1;
    b->attributeCount = DATASET_SLOTS;
    pointAtMatchBuffers(b);
    b->data.chars = nullptr;
    b->data.nchars = nullptr;
    b->data.reals = nullptr;
    b->data.nreals = nullptr;
    b->data.doubles = nullptr;
    b->data.ndoubles = nullptr;
    b->data.logicals = nullptr;
    b->data.nlogicals = nullptr;
}

// Fills the header; 0 when What or Where does not fit its buffer.
int Dataset_setHeader(Dataset* b, const char* what, const char* where, int when,
                      bool withAttributes) {
    if (!b) return 0;
    Dataset_resetData(b);
    if (!fits(what) || !fits(where)) return 0;
    copyText(b->whatBuffer, what);
    copyText(b->whereBuffer, where);
    b->when = when;
    if (withAttributes) {
        memcpy(b->attributeSlots, b->pendingSlots,
               static_cast<size_t>(b->pendingCount) * DATASET_RECORD);
        b->attributeCount = b->pendingCount;
    }
    return 1;
}

// With exact, the What and Where of a locate or delete are names compared
// exactly, not patterns.
int Dataset_request(Dataset* b, int code, bool exact = false) {
    b->located = 0;
    Dataset* previous = currentDataset;
    currentDataset = b;
    int answer = exact ? iocnt_exact(code, io_msg, &b->header, &b->data, b->ioControl)
                       : iocntc(code, io_msg, &b->header, &b->data, b->ioControl);
    currentDataset = previous;
    return answer;
}

int Dataset_readData(Dataset* b) { return Dataset_request(b, IO_READ_PRIMARY_DS) <= 0; }

int Dataset_writeData(Dataset* b) { return Dataset_request(b, IO_WRITE_DS) <= 0; }

// Replaces every "REAL" in the datatype by "DBLE"; tells whether one was.
bool Dataset_replaceInType(Dataset* b) {
    bool replaced = false;
    char* t = b->datatypeBuffer;
    size_t n = strnlen(t, IO_DATATYPE_SIZE - 1);
    for (size_t i = 0; i + 4 <= n;) {
        if (memcmp(t + i, "REAL", 4) == 0) {
            memcpy(t + i, "DBLE", 4);
            replaced = true;
            i += 4;
        } else {
            ++i;
        }
    }
    return replaced;
}

// Grows the three match buffers to hold `wanted` matches (contents kept).
void growMatchBuffers(Dataset* b, int32_t wanted) {
    if (wanted <= b->capacity) return;
    const char* fn = "Dataset_locate";
    b->matchOffsets = static_cast<int64_t*>(
        vrnRealloc(b->matchOffsets, static_cast<int>(2 * sizeof(int64_t)) * wanted, fn));
    b->matchStrings = static_cast<char*>(vrnRealloc(b->matchStrings, 2 * DATASET_RECORD * wanted, fn));
    b->matchWhens = static_cast<int32_t*>(
        vrnRealloc(b->matchWhens, static_cast<int>(sizeof(int32_t)) * wanted, fn));
    b->capacity = wanted;
}

// How Dataset_locate takes What and Where: as the names of datasets, or as
// patterns ('*', '?', '[...]') of the names to find.
enum class Names { exact, patterns };

// Finds the datasets of (what, where, when) in the primary file; When -2
// narrows the search to the largest stored When. 1 when something matched;
// a search whose request failed answers 0 too, and is counted.
int Dataset_locate(Dataset* b, const char* what, const char* where, int when, Names names) {
    if (!b) return 0;
    const bool exact = names == Names::exact;
    if (b->located) {
        b->located = 0;
        if (exact && when == b->locatedWhen && what && where && strcmp(what, b->whatBuffer) == 0 &&
            strcmp(where, b->whereBuffer) == 0 && Dataset_setHeader(b, what, where, when, false)) {
            // The match buffers then describe that one dataset alone, so
            // that a match or an erase of it touches no other version.
            memset(b->matchStrings, 0, 2 * DATASET_RECORD);
            copyText(b->matchStrings, what);
            copyText(b->matchStrings + DATASET_RECORD, where);
            b->matchWhens[0] = when;
            b->offsetsCount = b->stringsCount = 2;
            b->intsCount = 1;
            return 1;
        }
    }
    // When -2 costs two searches at most: any When, then the largest found
    // exactly, whatever it is (a damaged file may store a When of -2).
    bool latest = when == -2;
    if (latest) when = -1;
    for (;;) {
        if (!Dataset_setHeader(b, what, where, when, false)) return 0;
        int answer = Dataset_request(b, IO_LOCATE_PRIMARY_DS, exact);
        while (answer == IO_ERR_MEMORY || b->intsCount > b->capacity) {
            int32_t wanted = std::max({b->capacity, b->intsCount, b->stringsCount, b->offsetsCount});
            if (wanted <= b->capacity) break;  // the library asks for nothing more
            growMatchBuffers(b, wanted);
            pointAtMatchBuffers(b);
            answer = Dataset_request(b, IO_LOCATE_PRIMARY_DS, exact);
        }
        if (answer != 0 && answer != IO_ERR_NOTLOCATED) ++b->failedSearches;
        if (!latest) return answer == 0;
        int n = b->stringsCount / 2;
        if (answer != 0 || n < 1) return answer == 0;
        int largest = -100;
        for (int i = 0; i < n; ++i) largest = std::max(largest, b->matchWhens[i]);
        when = largest;
        latest = false;
    }
}

// Whether count elements of size bytes can be held in one block and can
// come from the located dataset: its stored length bounds what it can hold
// (zlib expands by at most about 1032 times), so a damaged header cannot
// make a read set aside more memory than the file could ever fill.
bool plausibleSize(const Dataset* b, int64_t count, int64_t size) {
    if (count < 0) return false;
    int64_t bytes = count * size;
    int64_t stored = std::max<int64_t>(b->matchOffsets[1], 0);
    return bytes <= INT32_MAX - 16 && bytes <= (stored + 64) * 1100;
}

// Leaves only the located dataset's offsets in the data block, so that a
// read delivers nothing but the kind asked for: a dataset of another kind
// finds no room and fails, instead of landing in the match buffers.
void isolateData(Dataset* b) {
    b->data.strings = nullptr;
    b->stringsCount = 0;
    b->data.ints = nullptr;
    b->intsCount = 0;
}

// Sized or direct read of one array kind. The pair is selected by the
// pointers given; the block's own count field for it is used.
template <typename T>
int readArray(Dataset* b, const char* what, const char* where, int when, int* count, T** array,
              T** dataArray, int32_t** dataCount, int32_t* ownCount, const char* fn) {
    if (!count || !array) return 0;
    if (!Dataset_locate(b, what, where, when, Names::exact)) return 0;
    isolateData(b);
    if (*count < 0) {
        *dataArray = nullptr;
        *ownCount = 0;
        *dataCount = ownCount;
        int answer = Dataset_request(b, IO_READ_PRIMARY_DS);
        if (answer != 0 && answer != IO_ERR_MEMORY) return 0;
        int32_t n = std::max(*ownCount, 0);
        if (!plausibleSize(b, n, sizeof(T))) return 0;
        *array = static_cast<T*>(vrnMalloc(static_cast<int>(sizeof(T)) * std::max(n, 1), fn));
        *count = n;
    }
    isolateData(b);
    *dataArray = *array;
    *ownCount = *count;
    *dataCount = ownCount;
    if (!Dataset_readData(b)) return 0;
    *count = *ownCount;
    return 1;
}

// The whole CHAR dataset, read into a buffer that is freed with this object.
class AllChars {
public:
    AllChars(Dataset* b, const char* what, const char* where, int when, const char* fn) : fn_(fn) {
        ok_ = readArray<char>(b, what, where, when, &size_, &bytes_, &b->data.chars,
                              &b->data.nchars, &b->charsCount, fn) != 0;
    }
    ~AllChars() { vrnFree(bytes_, fn_); }
    AllChars(const AllChars&) = delete;
    AllChars& operator=(const AllChars&) = delete;

    bool ok() const { return ok_; }
    const char* bytes() const { return bytes_; }
    int size() const { return size_; }

private:
    const char* fn_;
    char* bytes_ = nullptr;
    int size_ = -1;
    bool ok_ = false;
};

// Splits a byte buffer into n pieces and hands them to the caller's array,
// allocating it when *count is negative. Shared by strings and UUIDs.
// With emptyIsList, a dataset holding no whole piece reads as an empty
// list whatever its bytes; without it only an empty dataset does.
template <typename T, typename Make>
int distribute(int n, int bytes, int* count, T*** array, Make make, const char* fn,
               bool emptyIsList) {
    if (n == 0) {
        if (*count < 0) *array = nullptr;
        *count = 0;
        return emptyIsList || bytes == 0;
    }
    if (*count < 0) {
        *array = static_cast<T**>(vrnMalloc(static_cast<int>(sizeof(T*)) * n, fn));
    } else if (*count < n) {
        *count = n;
        return 0;
    }
    *count = n;
    for (int i = 0; i < n; ++i) (*array)[i] = make(i);
    return 1;
}

}  // namespace

extern "C" {

Dataset* Dataset_new(IO_control* ioControl) {
    const char* fn = "Dataset_new";
    Dataset* b = static_cast<Dataset*>(vrnCalloc(sizeof(Dataset), 0, fn));
    b->ioControl = ioControl;
    b->capacity = kFirstCapacity;
    b->matchOffsets = static_cast<int64_t*>(vrnCalloc(2 * sizeof(int64_t) * kFirstCapacity, 0, fn));
    b->matchStrings = static_cast<char*>(vrnCalloc(2 * DATASET_RECORD * kFirstCapacity, 0, fn));
    b->matchWhens = static_cast<int32_t*>(vrnCalloc(sizeof(int32_t) * kFirstCapacity, 0, fn));
    b->header.what = b->whatBuffer;
    b->header.where = b->whereBuffer;
    b->header.when = &b->when;
    b->header.numattrb = &b->attributeCount;
    b->header.attributes = b->attributeSlots;
    b->header.number = &b->number;
    b->header.datatype = b->datatypeBuffer;
    b->header.blockfactor = &b->blockFactor;
    Dataset_resetData(b);
    return b;
}

void Dataset_delete(Dataset* b) {
    if (!b) return;
    const char* fn = "Dataset_delete";
    if (currentDataset == b) currentDataset = nullptr;
    vrnFree(b->matchOffsets, fn);
    vrnFree(b->matchStrings, fn);
    vrnFree(b->matchWhens, fn);
    vrnFree(b->message, fn);
    vrnFree(b, fn);
}

static int openFile(Dataset* b, const char* fileName, int request) {
    if (!b || !fileName) return 0;
    Dataset_resetData(b);
    char* copy = vrnCString_clone(fileName);
    b->data.chars = copy;
    b->charsCount = static_cast<int32_t>(strlen(copy));
    b->data.nchars = &b->charsCount;
    int answer = Dataset_request(b, request);
    vrnCString_free(copy);
    b->data.chars = nullptr;
    b->data.nchars = nullptr;
    if (answer == IO_ERR_LOCKED) return -1;
    return answer == 0 ? 1 : 0;
}

int Dataset_openPrimaryFile(Dataset* b, const char* fileName) {
    return openFile(b, fileName, IO_OPEN_PRIMARY);
}

int Dataset_openSecondaryFile(Dataset* b, const char* fileName) {
    return openFile(b, fileName, IO_OPEN_SECONDARY);
}

int Dataset_takeWriteLock(Dataset* b, int beforeWriting) {
    if (!b || !b->ioControl || !b->ioControl->primary.stream) return IO_ERR_NOFILE;
    Dataset* previous = currentDataset;
    currentDataset = b;
    int answer = beforeWriting ? setfilebusyflag(io_msg, &b->ioControl->primary)
                               : kwxIoTryWriteLock(&b->ioControl->primary);
    currentDataset = previous;
    return answer;
}

// A close that left only a lock file behind has closed the file whole.
static int closeFile(Dataset* b, int request) {
    if (!b) return 0;
    Dataset_resetData(b);
    int answer = Dataset_request(b, request);
    return answer <= 0 || answer == IO_ERR_LOCKED;
}

int Dataset_closePrimaryFile(Dataset* b) { return closeFile(b, IO_CLOSE_ALL); }

int Dataset_closeSecondaryFile(Dataset* b) { return closeFile(b, IO_CLOSE_SECONDARY); }

char* Dataset_takeLocksLeft(void) {
    char* left = kwxIoTakeLocksLeft();
    if (!left) return nullptr;
    char* copy = vrnCString_clone(left);
    free(left);
    return copy;
}

int Dataset_readInts(Dataset* b, const char* what, const char* where, int when, int* count,
                     int** array) {
    return readArray<int32_t>(b, what, where, when, count, reinterpret_cast<int32_t**>(array),
                              &b->data.ints, &b->data.nints, &b->intsCount, "Dataset_readInts");
}

int Dataset_readFloats(Dataset* b, const char* what, const char* where, int when, int* count,
                       float** array) {
    return readArray<float>(b, what, where, when, count, array, &b->data.reals, &b->data.nreals,
                            &b->realsCount, "Dataset_readFloats");
}

int Dataset_readChars(Dataset* b, const char* what, const char* where, int when, int* count,
                      char** array) {
    return readArray<char>(b, what, where, when, count, array, &b->data.chars, &b->data.nchars,
                           &b->charsCount, "Dataset_readChars");
}

int Dataset_readDoubles(Dataset* b, const char* what, const char* where, int when, int* count,
                        double** array) {
    if (!count || !array) return 0;
    if (!Dataset_locate(b, what, where, when, Names::exact)) return 0;
    if (Dataset_request(b, IO_READ_HEADER) > 0) return 0;
    Dataset_replaceInType(b);
    isolateData(b);
    if (*count < 0) {
        b->data.doubles = nullptr;
        b->doublesCount = 0;
        b->data.ndoubles = &b->doublesCount;
        int answer = Dataset_request(b, IO_READ_PRIMARY_DS_AS);
        if (answer != 0 && answer != IO_ERR_MEMORY) return 0;
        int32_t n = std::max(b->doublesCount, 0);
        if (!plausibleSize(b, n, sizeof(double))) return 0;
        *array = static_cast<double*>(
            vrnMalloc(static_cast<int>(sizeof(double)) * std::max(n, 1), "Dataset_readDoubles"));
        *count = n;
        Dataset_replaceInType(b);
    }
    isolateData(b);
    b->data.doubles = *array;
    b->doublesCount = *count;
    b->data.ndoubles = &b->doublesCount;
    if (Dataset_request(b, IO_READ_PRIMARY_DS_AS) > 0) return 0;
    *count = b->doublesCount;
    return 1;
}

int Dataset_readStrings(Dataset* b, const char* what, const char* where, int when, int* count,
                        char*** array) {
    const char* fn = "Dataset_readStrings";
    if (!count || !array) return 0;
    AllChars all(b, what, where, when, fn);
    if (!all.ok()) return 0;
    const char* bytes = all.bytes();
    const int size = all.size();
    int n = 0;
    for (int i = 0; i < size; ++i) n += bytes[i] == '\0';
    std::vector<int> starts;
    starts.reserve(static_cast<size_t>(n));
    for (int i = 0, start = 0; i < size; ++i) {
        if (bytes[i] == '\0') {
            starts.push_back(start);
            start = i + 1;
        }
    }
    // Text without a single terminator holds no string: zero strings, read
    // alike into a caller's array or a new one.
    return distribute<char>(n, size, count, array,
                            [&](int i) { return vrnCString_clone(bytes + starts[static_cast<size_t>(i)]); }, fn,
                            true);
}

int Dataset_readUUIDs(Dataset* b, const char* what, const char* where, int when, int* count,
                      vrnUUID*** array) {
    const char* fn = "Dataset_readUUIDs";
    if (!count || !array) return 0;
    AllChars all(b, what, where, when, fn);
    if (!all.ok()) return 0;
    const char* bytes = all.bytes();
    int n = all.size() / DATASET_UUID_LENGTH;
    return distribute<vrnUUID>(n, all.size(), count, array, [&](int i) {
        char text[DATASET_UUID_LENGTH + 1];
        memcpy(text, bytes + i * DATASET_UUID_LENGTH, DATASET_UUID_LENGTH);
        text[DATASET_UUID_LENGTH] = '\0';
        return vrnUUID_newFromBase64(text);
    }, fn, false);
}

int Dataset_readAttributes(Dataset* b, const char* what, const char* where, int when, int* count,
                           char*** names, char*** values) {
    const char* fn = "Dataset_readAttributes";
    if (!count || !names || !values) return 0;
    *count = 0;
    *names = nullptr;
    *values = nullptr;
    if (!Dataset_locate(b, what, where, when, Names::exact)) return 0;
    // Only the header is wanted: the data arrays stay empty, so a dataset
    // that holds data answers 14 after its header has been read.
    isolateData(b);
    int answer = Dataset_request(b, IO_READ_PRIMARY_DS);
    if (answer != 0 && answer != IO_ERR_MEMORY) return 0;
    int n = std::min(std::max(b->attributeCount, 0), DATASET_SLOTS);
    if (n == 0) return 1;
    *names = static_cast<char**>(vrnMalloc(static_cast<int>(sizeof(char*)) * n, fn));
    *values = static_cast<char**>(vrnMalloc(static_cast<int>(sizeof(char*)) * n, fn));
    for (int i = 0; i < n; ++i) {
        char text[DATASET_RECORD + 1];
        memcpy(text, b->attributeSlots + i * DATASET_RECORD, DATASET_RECORD);
        text[DATASET_RECORD] = '\0';
        char* sep = text;
        while (*sep && *sep != '=' && *sep != 27) ++sep;
        const char* value = "";
        if (*sep) {
            *sep = '\0';
            value = sep + 1;
            while (*value == ' ') ++value;
        }
        const char* name = text;
        while (*name == ' ') ++name;
        (*names)[i] = vrnCString_clone(name);
        (*values)[i] = vrnCString_clone(value);
    }
    *count = n;
    return 1;
}

int Dataset_readSignature(Dataset* b, const char* what, const char* where, int when, int* ints,
                          int* floats, int* doubles, int* chars, int* fixedStrings, int* strings,
                          int* uuids) {
    const char* fn = "Dataset_readSignature";
    int sink[7];
    int* out[7] = {ints, floats, doubles, chars, fixedStrings, strings, uuids};
    for (int i = 0; i < 7; ++i) {
        if (!out[i]) out[i] = &sink[i];
        *out[i] = 0;
    }
    if (!Dataset_locate(b, what, where, when, Names::exact)) return 0;
    b->data.strings = nullptr;
    b->stringsCount = 0;
    b->data.ints = nullptr;
    b->intsCount = 0;
    b->data.chars = nullptr;
    b->charsCount = 0;
    b->data.nchars = &b->charsCount;
    b->data.reals = nullptr;
    b->realsCount = 0;
    b->data.nreals = &b->realsCount;
    b->data.doubles = nullptr;
    b->doublesCount = 0;
    b->data.ndoubles = &b->doublesCount;
    b->data.logicals = nullptr;
    b->logicalsCount = 0;
    b->data.nlogicals = &b->logicalsCount;
    Dataset_request(b, IO_READ_PRIMARY_DS);
    *out[0] = b->intsCount;
    *out[1] = b->realsCount;
    *out[2] = b->doublesCount;
    *out[3] = b->charsCount;
    *out[4] = b->stringsCount;
    // Restore the match buffers for the requests that follow.
    pointAtMatchBuffers(b);
    if (*out[3] >= 1) {
        int n = 0;
        char** names = nullptr;
        char** values = nullptr;
        if (Dataset_readAttributes(b, what, where, when, &n, &names, &values) && n >= 1 &&
            strcmp(names[0], "t") == 0 && strcmp(values[0], "u") == 0) {
            *out[6] = *out[3] / DATASET_UUID_LENGTH;
            *out[3] = 0;
        }
        vrnCStringArray_free(names, n);
        vrnCStringArray_free(values, n);
    }
    if (*out[3] >= 1) {
        AllChars all(b, what, where, when, fn);
        if (all.ok()) {
            int nuls = 0;
            for (int i = 0; i < all.size(); ++i) nuls += all.bytes()[i] == '\0';
            *out[5] = nuls;
            if (nuls >= 1) *out[3] = 0;
        }
    }
    return 1;
}

int Dataset_match(Dataset* b, const char* what, const char* where, int when, int exact, int countOnly,
                  char*** whats, char*** wheres, int** whens) {
    const char* fn = "Dataset_match";
    if (!b) return 0;
    const int32_t failed = b->failedSearches;
    if (!Dataset_locate(b, what, where, when, exact ? Names::exact : Names::patterns))
        return b->failedSearches != failed ? -1 : 0;
    int n = b->stringsCount / 2;
    if (countOnly || n < 1) return n;
    if (whats) *whats = static_cast<char**>(vrnMalloc(static_cast<int>(sizeof(char*)) * n, fn));
    if (wheres) *wheres = static_cast<char**>(vrnMalloc(static_cast<int>(sizeof(char*)) * n, fn));
    if (whens) *whens = static_cast<int*>(vrnMalloc(static_cast<int>(sizeof(int)) * n, fn));
    for (int i = 0; i < n; ++i) {
        char text[DATASET_RECORD + 1];
        if (whats) {
            memcpy(text, b->matchStrings + (2 * i) * DATASET_RECORD, DATASET_RECORD);
            text[DATASET_RECORD] = '\0';
            (*whats)[i] = vrnCString_clone(text);
        }
        if (wheres) {
            memcpy(text, b->matchStrings + (2 * i + 1) * DATASET_RECORD, DATASET_RECORD);
            text[DATASET_RECORD] = '\0';
            (*wheres)[i] = vrnCString_clone(text);
        }
        if (whens) (*whens)[i] = b->matchWhens[i];
    }
    return n;
}

int Dataset_erase(Dataset* b, const char* what, const char* where, int when, int exact) {
    if (!Dataset_locate(b, what, where, when, exact ? Names::exact : Names::patterns)) return 0;
    int n = b->stringsCount / 2;
    // Copy the names first: every request reuses the match buffers.
    std::vector<std::string> names;
    std::vector<int> whens;
    for (int i = 0; i < n; ++i) {
        names.emplace_back(b->matchStrings + (2 * i) * DATASET_RECORD,
                           strnlen(b->matchStrings + (2 * i) * DATASET_RECORD, DATASET_RECORD));
        names.emplace_back(b->matchStrings + (2 * i + 1) * DATASET_RECORD,
                           strnlen(b->matchStrings + (2 * i + 1) * DATASET_RECORD, DATASET_RECORD));
        whens.push_back(b->matchWhens[i]);
    }
    for (int i = 0; i < n; ++i) {
        if (!Dataset_setHeader(b, names[2 * i].c_str(), names[2 * i + 1].c_str(), whens[i], false))
            return 0;
        // Each by its own name: a stored name is never a pattern.
        if (Dataset_request(b, IO_DELETE_DS, true) != 0) return 0;
    }
    return 1;
}

int Dataset_copyAllDatasets(Dataset* b, int compressWhen) {
    if (!b) return 0;
    Dataset_resetData(b);
    return Dataset_request(b, compressWhen ? IO_COPY_DS_COMPRESS_WHEN : IO_COPY_ALLVALID_DS) == 0;
}

int Dataset_copyChosenDatasets(Dataset* b, Dataset_ChooseRoutine choose, void* context) {
    if (!b || !choose || !Dataset_locate(b, "*", "*", -1, Names::patterns)) return 0;
    const int n = b->stringsCount / 2;
    struct Found {
        std::string what, where;
        int64_t location;
    };
    std::vector<Found> found;
    found.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        const char* what = b->matchStrings + (2 * i) * DATASET_RECORD;
        const char* where = what + DATASET_RECORD;
        found.push_back({std::string(what, strnlen(what, DATASET_RECORD)),
                         std::string(where, strnlen(where, DATASET_RECORD)), b->matchOffsets[2 * i]});
    }
    std::vector<Dataset_Choice> choices;
    choices.reserve(found.size());
    for (int i = 0; i < n; ++i) {
        const Found& f = found[static_cast<size_t>(i)];
        choices.push_back({f.what.c_str(), f.where.c_str(), b->matchWhens[i], 0});
    }
    choose(context, choices.data(), n);
    std::vector<int64_t> kept;
    for (size_t i = 0; i < choices.size(); ++i)
        if (choices[i].keep) kept.push_back(found[i].location);
    // The library copies in one request, far faster than one dataset at a
    // time: the whole file when every dataset stays, else the kept ones.
    if (kept.size() == choices.size()) return Dataset_copyAllDatasets(b, 1);
    if (kept.empty()) return 1;   // nothing to copy
    Dataset_resetData(b);
    b->data.offsets = kept.data();
    b->offsetsCount = static_cast<int32_t>(kept.size());
    b->located = 0;
    Dataset* previous = currentDataset;
    currentDataset = b;
    int answer = iocnt_copychosen(io_msg, &b->data, b->ioControl);
    currentDataset = previous;
    pointAtMatchBuffers(b);
    return answer == 0;
}

int Dataset_addAttribute(Dataset* b, const char* name, const char* value) {
    if (!b || !name || !value || b->pendingCount >= DATASET_SLOTS) return 0;
    size_t ln = strlen(name), lv = strlen(value);
    if (ln + lv + 1 > DATASET_RECORD) return 0;
    char* slot = b->pendingSlots + b->pendingCount * DATASET_RECORD;
    memset(slot, 0, DATASET_RECORD);
    memcpy(slot, name, ln);
    slot[ln] = '=';
    memcpy(slot + ln + 1, value, lv);
    ++b->pendingCount;
    return 1;
}

// Header and datatype of a numeric write; 0 when a text does not fit.
static int numericHeader(Dataset* b, const char* what, const char* where, int when, int count,
                         int records, const char* element, int32_t* total) {
    if (count < 0) return 0;
    if (!Dataset_setHeader(b, what, where, when, true)) return 0;
    if (records < 1) {
        snprintf(b->datatypeBuffer, sizeof b->datatypeBuffer, "%s", element);
        b->number = count;
        *total = count;
    } else {
        snprintf(b->datatypeBuffer, sizeof b->datatypeBuffer, "STRC{%s:%d}", element, count);
        if (strlen(b->datatypeBuffer) > DATASET_TEXT_MAX) return 0;
        int64_t all = static_cast<int64_t>(count) * records;
        if (all > INT32_MAX) return 0;
        b->number = records;
        *total = static_cast<int32_t>(all);
    }
    b->offsetsCount = 0;
    b->stringsCount = 0;
    b->intsCount = 0;
    return 1;
}

int Dataset_writeInts(Dataset* b, const char* what, const char* where, int when, int count,
                      int records, const int* values) {
    int32_t total = 0;
    if (!numericHeader(b, what, where, when, count, records, "INTR", &total)) return 0;
    b->data.ints = const_cast<int32_t*>(reinterpret_cast<const int32_t*>(values));
    b->intsCount = total;
    return Dataset_writeData(b);
}

int Dataset_writeDoubles(Dataset* b, const char* what, const char* where, int when, int count,
                         int records, const double* values) {
    int32_t total = 0;
    if (!numericHeader(b, what, where, when, count, records, "DBLE", &total)) return 0;
    b->data.doubles = const_cast<double*>(values);
    b->doublesCount = total;
    b->data.ndoubles = &b->doublesCount;
    return Dataset_writeData(b);
}

// Writes one CHAR dataset of the given bytes with the attribute t=<kind>.
static int writeCharDataset(Dataset* b, const char* what, const char* where, int when,
                            const char* kind, char* bytes, int64_t total) {
    if (total > INT32_MAX || !Dataset_addAttribute(b, "t", kind)) return 0;
    int ok = 0;
    if (Dataset_setHeader(b, what, where, when, true)) {
        snprintf(b->datatypeBuffer, sizeof b->datatypeBuffer, "CHAR");
        b->number = static_cast<int32_t>(total);
        b->data.chars = bytes;
        b->charsCount = static_cast<int32_t>(total);
        b->data.nchars = &b->charsCount;
        b->offsetsCount = 0;
        b->intsCount = 0;
        b->stringsCount = 0;
        ok = Dataset_writeData(b);
    }
    --b->pendingCount;
    return ok;
}

int Dataset_writeStrings(Dataset* b, const char* what, const char* where, int when, int count,
                         char* const* strings) {
    const char* fn = "Dataset_writeStrings";
    if (count < 0 || (count > 0 && !strings)) return 0;
    int64_t total = 0;
    for (int i = 0; i < count; ++i) total += (strings[i] ? static_cast<int64_t>(strlen(strings[i])) : 0) + 1;
    if (total > INT32_MAX) return 0;
    char* buffer = static_cast<char*>(vrnMalloc(static_cast<int>(std::max<int64_t>(total, 1)), fn));
    char* p = buffer;
    for (int i = 0; i < count; ++i) {
        size_t n = strings[i] ? strlen(strings[i]) : 0;
        if (n) memcpy(p, strings[i], n);
        p[n] = '\0';
        p += n + 1;
    }
    int ok = writeCharDataset(b, what, where, when, "s", buffer, total);
    vrnFree(buffer, fn);
    return ok;
}

int Dataset_writeUUIDs(Dataset* b, const char* what, const char* where, int when, int count,
                       vrnUUID* const* uuids) {
    const char* fn = "Dataset_writeUUIDs";
    if (count < 0 || (count > 0 && !uuids)) return 0;
    int64_t total = static_cast<int64_t>(count) * DATASET_UUID_LENGTH;
    if (total > INT32_MAX - 1) return 0;
    char* buffer = static_cast<char*>(vrnCalloc(static_cast<int>(total) + 1, 0, fn));
    for (int i = 0; i < count; ++i) {
        char text[VRN_UUID_STRING_SIZE];
        vrnUUID_toBase64(uuids[i], text);
        memcpy(buffer + i * DATASET_UUID_LENGTH, text, strnlen(text, DATASET_UUID_LENGTH));
    }
    int ok = writeCharDataset(b, what, where, when, "u", buffer, total);
    vrnFree(buffer, fn);
    return ok;
}

int Dataset_locateActive(Dataset* b, const char* what, const char* where, int state, int* when) {
    *when = -1;
    if (!b || !what || !where) return 0;
    if (state < 1 || !Dataset_locate(b, what, where, -1, Names::exact)) return 0;
    int n = b->stringsCount / 2;
    int chosen = -1;
    for (int i = 0; i < n; ++i) {
        int w = b->matchWhens[i];
        if (w <= state && (chosen < 0 || w > b->matchWhens[chosen])) chosen = i;
    }
    if (chosen < 0) return 0;
    *when = b->matchWhens[chosen];
    b->matchOffsets[0] = b->matchOffsets[2 * chosen];
    b->matchOffsets[1] = b->matchOffsets[2 * chosen + 1];
    copyText(b->whatBuffer, what);
    copyText(b->whereBuffer, where);
    b->locatedWhen = *when;
    b->located = 1;
    return 1;
}

char* Dataset_getMessage(Dataset* b) {
    if (!b || !b->message) return nullptr;
    return vrnCString_clone(b->message);
}

int io_msg(const char* message, int length) {
    static vrnDebugPreamble debug;
    debug.enter("io_msg", "Error handler for IO library errors.");
    if (!message) return 0;
    size_t n = length > 0 ? strnlen(message, static_cast<size_t>(length)) : strlen(message);
    Dataset* b = currentDataset;
    if (b) {
        const char* fn = "io_msg";
        // Keep only the latest DATASET_MESSAGE_LIMIT bytes.
        if (n >= DATASET_MESSAGE_LIMIT) {
            message += n - (DATASET_MESSAGE_LIMIT - 1);
            n = DATASET_MESSAGE_LIMIT - 1;
        }
        size_t have = static_cast<size_t>(b->messageLength);
        if (have + n >= DATASET_MESSAGE_LIMIT) {
            size_t drop = have + n - (DATASET_MESSAGE_LIMIT - 1);
            memmove(b->message, b->message + drop, have - drop);
            have -= drop;
        }
        if (!b->message) {
            b->message = static_cast<char*>(vrnMalloc(static_cast<int>(n + 1), fn));
        } else {
            b->message = static_cast<char*>(vrnRealloc(b->message, static_cast<int>(have + n + 1), fn));
        }
        memcpy(b->message + have, message, n);
        b->message[have + n] = '\0';
        b->messageLength = static_cast<int32_t>(have + n);
    }
    if (debug.tracing() && vrnDebug_getStream())
        fprintf(vrnDebug_getStream(), "%.*s\n", static_cast<int>(n), message);
    return 0;
}

}  // extern "C"
