// Typed growable arrays (characters, owned texts, integers, owned blocks)
// and the splitting of list values into items.
#include "orv_internal.h"

#include <cstdlib>
#include <cstring>

namespace {

size_t elementSize(int kind)
{
    switch (kind) {
    case ORV_ARRAY_CHARS: return 1;
    case ORV_ARRAY_STRINGS: return sizeof(char*);
    case ORV_ARRAY_INTS: return sizeof(int32_t);
    default: return sizeof(void*);
    }
}

// Storage slots for a capacity: character arrays keep one spare for a NUL.
size_t slots(int kind, int capacity)
{
    return static_cast<size_t>(capacity) + (kind == ORV_ARRAY_CHARS ? 1 : 0);
}

bool validKind(int kind) { return kind >= ORV_ARRAY_CHARS && kind <= ORV_ARRAY_POINTERS; }

const int kInitialCapacity = 10;

bool freshStorage(OrvArray* array, int kind)
{
    void* storage = std::calloc(slots(kind, kInitialCapacity), elementSize(kind));
    if (!storage)
        return false;
    array->kind = kind;
    array->count = 0;
    array->capacity = kInitialCapacity;
    array->totalLength = 0;
    array->storage = storage;
    return true;
}

// Doubles the capacity when the array is full; new slots are zero-filled.
bool makeRoom(OrvArray* array)
{
    if (array->count < array->capacity && array->storage)
        return true;
    if (array->capacity > (1 << 29))
        return false;
    int newCapacity = array->capacity > 0 ? array->capacity * 2 : kInitialCapacity;
    size_t width = elementSize(array->kind);
    size_t oldBytes = array->storage ? slots(array->kind, array->capacity) * width : 0;
    size_t newBytes = slots(array->kind, newCapacity) * width;
    void* grown = std::realloc(array->storage, newBytes);
    if (!grown)
        return false;
    std::memset(static_cast<char*>(grown) + oldBytes, 0, newBytes - oldBytes);
    array->storage = grown;
    array->capacity = newCapacity;
    return true;
}

void freeElements(OrvArray* array)
{
    if (array->kind != ORV_ARRAY_STRINGS && array->kind != ORV_ARRAY_POINTERS)
        return;
    void** items = static_cast<void**>(array->storage);
    for (int i = 0; i < array->count; ++i)
        std::free(items[i]);
}

const char* kStoreFailed = "splitString: failure to store string.\n";

}  // namespace

extern "C" {

OrvArray* orvArrayCreate(int kind)
{
    if (!validKind(kind))
        return nullptr;
    OrvArray* array = static_cast<OrvArray*>(std::calloc(1, sizeof(OrvArray)));
    if (!array)
        return nullptr;
    if (!freshStorage(array, kind)) {
        std::free(array);
        return nullptr;
    }
    return array;
}

OrvArray* orvArrayInit(OrvArray* array, int kind)
{
    if (!array)
        return orvArrayCreate(kind);
    if (!validKind(kind))
        return nullptr;
    void* old = array->storage;
    if (!freshStorage(array, kind))
        return nullptr;
    std::free(old);
    return array;
}

int orvArrayAppendString(OrvArray* array, char* text)
{
    if (!array || array->kind != ORV_ARRAY_STRINGS || !makeRoom(array))
        return 0;
    static_cast<char**>(array->storage)[array->count++] = text;
    if (text)
        array->totalLength += std::strlen(text);
    return 1;
}

int orvArrayAppendCopy(OrvArray* array, const char* text)
{
    if (!array || array->kind != ORV_ARRAY_STRINGS)
        return 0;
    char* copy = nullptr;
    if (text) {
        size_t n = std::strlen(text) + 1;
        copy = static_cast<char*>(std::malloc(n));
        if (!copy)
            return 0;
        std::memcpy(copy, text, n);
    }
    if (!orvArrayAppendString(array, copy)) {
        std::free(copy);
        return 0;
    }
    return 1;
}

int orvArrayAppendPointer(OrvArray* array, void* block)
{
    if (!array || array->kind != ORV_ARRAY_POINTERS || !makeRoom(array))
        return 0;
    static_cast<void**>(array->storage)[array->count++] = block;
    return 1;
}

int orvArrayAppendChar(OrvArray* array, char c)
{
    if (!array || array->kind != ORV_ARRAY_CHARS || !makeRoom(array))
        return 0;
    static_cast<char*>(array->storage)[array->count++] = c;
    return 1;
}

int orvArrayAppendInt(OrvArray* array, int32_t value)
{
    if (!array || array->kind != ORV_ARRAY_INTS || !makeRoom(array))
        return 0;
    static_cast<int32_t*>(array->storage)[array->count++] = value;
    return 1;
}

void orvArrayDestroy(OrvArray* array)
{
    if (!array)
        return;
    freeElements(array);
    orvArrayDestroyShallow(array);
}

void orvArrayDestroyShallow(OrvArray* array)
{
    if (!array)
        return;
    std::free(array->storage);
    std::free(array);
}

char** orvArrayDetach(OrvArray* array)
{
    if (!array || array->kind != ORV_ARRAY_STRINGS)
        return nullptr;
    if (array->count == array->capacity && !makeRoom(array))
        return nullptr;  // no room for the closing NULL: nothing handed out
    char** storage = static_cast<char**>(array->storage);
    if (!freshStorage(array, ORV_ARRAY_STRINGS)) {
        // Still empty and usable: the next append allocates.
        array->storage = nullptr;
        array->count = 0;
        array->capacity = 0;
        array->totalLength = 0;
    }
    return storage;
}

char** orvArrayCopyStrings(const OrvArray* array)
{
    if (!array || array->kind != ORV_ARRAY_STRINGS)
        return nullptr;
    char** copies = static_cast<char**>(std::calloc(static_cast<size_t>(array->count) + 1, sizeof(char*)));
    if (!copies)
        return nullptr;
    char** items = static_cast<char**>(array->storage);
    for (int i = 0; i < array->count; ++i) {
        if (!items[i])
            continue;
        size_t n = std::strlen(items[i]) + 1;
        copies[i] = static_cast<char*>(std::malloc(n));
        if (!copies[i]) {
            orvFreeStringArrayN(copies, i);
            return nullptr;
        }
        std::memcpy(copies[i], items[i], n);
    }
    return copies;
}

int orvArrayCount(const OrvArray* array) { return array ? array->count : 0; }

char** orvArrayStrings(const OrvArray* array)
{
    return array && array->kind == ORV_ARRAY_STRINGS ? static_cast<char**>(array->storage) : nullptr;
}

void* orvArenaAlloc(OrvArray* array, size_t size)
{
    if (!array || array->kind != ORV_ARRAY_POINTERS)
        return nullptr;
    void* block = std::calloc(1, size ? size : 1);
    if (!block)
        return nullptr;
    if (!orvArrayAppendPointer(array, block)) {
        std::free(block);
        return nullptr;
    }
    return block;
}

// Items end at commas outside parentheses. A failed append removes the items
// this call added, so the caller's array is exactly as it was (and stays the
// caller's to free).
const char* splitString(OrvArray* array, const char* text, int* count)
{
    if (!array || array->kind != ORV_ARRAY_STRINGS || !text)
        return kStoreFailed;
    const int before = array->count;
    const size_t lengthBefore = array->totalLength;
    auto appendItem = [&](const char* begin, const char* end) {
        while (begin < end && orv::isSpace(static_cast<unsigned char>(*begin)))
            ++begin;
        while (end > begin && orv::isSpace(static_cast<unsigned char>(end[-1])))
            --end;
        size_t n = static_cast<size_t>(end - begin);
        char* item = static_cast<char*>(std::malloc(n + 1));
        if (!item)
            return false;
        std::memcpy(item, begin, n);
        item[n] = '\0';
        if (!orvArrayAppendString(array, item)) {
            std::free(item);
            return false;
        }
        return true;
    };
    long depth = 0;
    const char* start = text;
    bool ok = true;
    for (const char* p = text; *p && ok; ++p) {
        if (*p == '(')
            ++depth;
        else if (*p == ')')
            --depth;
        else if (*p == ',' && depth == 0) {
            ok = appendItem(start, p);
            start = p + 1;
        }
    }
    if (ok)
        ok = appendItem(start, start + std::strlen(start));
    if (!ok) {
        char** items = static_cast<char**>(array->storage);
        for (int i = before; i < array->count; ++i) {
            std::free(items[i]);
            items[i] = nullptr;
        }
        array->count = before;
        array->totalLength = lengthBefore;
        return kStoreFailed;
    }
    if (count)
        *count = array->count - before;
    return nullptr;
}

const char* splitStringString(const char* text, char*** items, int* count)
{
    if (!text || !items)
        return "splitStringString: Invalid arguments";
    OrvArray* array = orvArrayCreate(ORV_ARRAY_STRINGS);
    if (!array)
        return "splitStringString: unable to create string array";
    int n = 0;
    if (const char* err = splitString(array, text, &n)) {
        orvArrayDestroy(array);
        return err;
    }
    if (!orvArrayAppendString(array, nullptr)) {  // the closing NULL
        orvArrayDestroy(array);
        return kStoreFailed;
    }
    *items = static_cast<char**>(array->storage);
    std::free(array);
    if (count)
        *count = n;
    return nullptr;
}

void orvFreeStringArray(char** array)
{
    if (!array)
        return;
    for (char** p = array; *p; ++p)
        std::free(*p);
    std::free(array);
}

void orvFreeStringArrayN(char** array, int count)
{
    if (!array)
        return;
    for (int i = 0; i < count; ++i)
        std::free(array[i]);
    std::free(array);
}

}  // extern "C"
