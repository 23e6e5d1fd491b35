#include "support/cstring.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/memory.h"

namespace {

// Room for len characters and the NUL, from the tagged allocator. A length
// the allocator cannot express takes its failure path (which ends the
// process) instead of wrapping round to a small block.
char* allocString(size_t len, const char* tag) {
    int size = len < static_cast<size_t>(INT_MAX) ? static_cast<int>(len + 1) : -1;
    return static_cast<char*>(vrnMalloc(size, tag));
}

char* copyOf(const char* s, size_t len, const char* tag) {
    char* r = allocString(len, tag);
    std::memcpy(r, s, len);
    r[len] = '\0';
    return r;
}

inline bool isSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// Joins first and the NULL-terminated rest of the list into one new string.
char* join(const char* first, va_list args, const char* tag) {
    if (!first) first = "";
    size_t total = std::strlen(first);
    va_list count;
    va_copy(count, args);
    while (const char* s = va_arg(count, const char*)) total += std::strlen(s);
    va_end(count);

    char* r = allocString(total, tag);
    size_t len = std::strlen(first);
    std::memcpy(r, first, len);
    char* end = r + len;
    while (const char* s = va_arg(args, const char*)) {
        len = std::strlen(s);
        std::memcpy(end, s, len);
        end += len;
    }
    *end = '\0';
    return r;
}

}  // namespace

extern "C" {

char* vrnCString_clone(const char* s) {
    if (!s) return nullptr;
    return copyOf(s, std::strlen(s), "vrnCString_clone");
}

char* vrnCString_import(char* s) {
    if (!s) return nullptr;
    char* r = copyOf(s, std::strlen(s), "vrnCString_import");
    std::free(s);
    return r;
}

char* vrnCString_merge(const char* first, ...) {
    va_list args;
    va_start(args, first);
    char* r = join(first, args, "vrnCString_merge");
    va_end(args);
    return r;
}

char* vrnCString_cat(char* first, ...) {
    va_list args;
    va_start(args, first);
    char* r = join(first, args, "vrnCString_cat");
    va_end(args);
    vrnFree(first, "vrnCString_cat");
    return r;
}

char* vrnCString_vbuild(const char* format, va_list args) {
    if (!format) format = "";
    va_list measure;
    va_copy(measure, args);
    int len = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (len < 0) len = 0;  // an encoding error formats as nothing
    char* r = allocString(static_cast<size_t>(len), "vrnCString_vbuild");
    if (len > 0) {
        std::vsnprintf(r, static_cast<size_t>(len) + 1, format, args);
    } else {
        r[0] = '\0';
    }
    return r;
}

char* vrnCString_build(const char* format, ...) {
    va_list args;
    va_start(args, format);
    char* r = vrnCString_vbuild(format, args);
    va_end(args);
    return r;
}

char* vrnCString_substring(const char* s, int from, int to) {
    if (!s) return nullptr;
    const long len = static_cast<long>(std::strlen(s));
    long a = from < 0 ? 0 : (from > len ? len : from);
    long b = to < 0 ? 0 : (to > len ? len : to);
    if (b < a) b = a;
    return copyOf(s + a, static_cast<size_t>(b - a), "vrnCString_substring");
}

void vrnCString_reassign(char** target, const char* value) {
    if (!target) return;
    char* copy = vrnCString_clone(value);  // value may be a part of *target
    vrnFree(*target, "vrnCString_reassign");
    *target = copy;
}

int vrnCString_isBlank(const char* s) {
    if (!s) return 1;
    for (; *s; ++s) {
        if (!isSpace(*s)) return 0;
    }
    return 1;
}

char* vrnCString_normaliseSpace(const char* s) {
    if (!s) return nullptr;
    char* r = allocString(std::strlen(s), "vrnCString_normaliseSpace");
    char* out = r;
    bool pendingBlank = false;
    for (; *s; ++s) {
        if (isSpace(*s)) {
            pendingBlank = out != r;  // leading whitespace never becomes a blank
        } else {
            if (pendingBlank) *out++ = ' ';
            pendingBlank = false;
            *out++ = *s;
        }
    }
    *out = '\0';
    return r;
}

char* vrnCString_trimBlankLines(const char* s, int flags) {
    if (!s) return nullptr;
    const char* begin = s;
    const char* end = s + std::strlen(s);
    if (flags >= 1) {
        if (flags & VRN_TRIM_TRAILING_BLANK_LINES) {
            // Cut at the first newline of the trailing whitespace run.
            const char* p = end;
            while (p > begin && isSpace(p[-1])) --p;
            const char* nl = static_cast<const char*>(std::memchr(p, '\n', end - p));
            if (nl) end = nl;
        }
        if (flags & VRN_TRIM_LEADING_BLANK_LINES) {
            // Drop everything up to and including the last newline of the
            // leading whitespace run.
            const char* p = begin;
            while (p < end && isSpace(*p)) ++p;
            for (const char* q = p; q > begin; --q) {
                if (q[-1] == '\n') {
                    begin = q;
                    break;
                }
            }
        }
    }
    return copyOf(begin, static_cast<size_t>(end - begin), "vrnCString_trimBlankLines");
}

void vrnCString_free(char* s) { vrnFree(s, "vrnCString_free"); }

void vrnCStringArray_free(char** array, int n) {
    if (!array) return;
    for (int i = 0; i < n; ++i) vrnFree(array[i], "vrnCStringArray_free");
    vrnFree(array, "vrnCStringArray_free");
}

void vrnCStringArray_free_external(char** array, int n) {
    if (!array) return;
    for (int i = 0; i < n; ++i) std::free(array[i]);
    std::free(array);
}

int vrnCStringArray_newFromPackedString(const char* s, char separator, char*** array, int* n) {
    if (array) *array = nullptr;
    if (n) *n = 0;
    if (!s || !*s || !array || !n) return 1;

    const size_t len = std::strlen(s);
    size_t fields = 0;
    for (size_t i = 0; i < len; ++i) {
        if (s[i] == separator) ++fields;
    }
    if (s[len - 1] != separator) ++fields;
    if (fields > static_cast<size_t>(INT_MAX) / sizeof(char*)) fields = INT_MAX;  // failure path

    auto** result = static_cast<char**>(
        vrnMalloc(static_cast<int>(fields * sizeof(char*)), "vrnCStringArray_newFromPackedString"));
    int count = 0;
    const char* start = s;
    for (const char* p = s;; ++p) {
        if (*p == separator || *p == '\0') {
            if (*p == '\0' && p == start && count > 0) break;  // a closing separator
            result[count++] =
                copyOf(start, static_cast<size_t>(p - start), "vrnCStringArray_newFromPackedString");
            if (*p == '\0') break;
            start = p + 1;
        }
    }
    *array = result;
    *n = count;
    return 1;
}

}  // extern "C"
