// Unicode strings: UTF-8, code-point arrays and printed-quotable text.
#include "utilities/unicode_string.h"

#include <climits>
#include <cstdint>
#include <cstring>

#include "support/memory.h"
#include "utilities/orv_name_classes.h"

namespace {

// Bytes of the UTF-8 sequence of a non-negative code point.
int encodedLength(int codePoint) {
    const auto u = static_cast<uint32_t>(codePoint);
    return u < 0x80 ? 1 : u < 0x800 ? 2 : u < 0x10000 ? 3 : u < 0x200000 ? 4 : u < 0x4000000 ? 5 : 6;
}

// Length of the sequence a lead byte starts, by its high bits; 1 for a
// byte that starts none (the decoder then refuses it).
int sequenceLength(unsigned char lead) {
    return lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF8 ? 4 : lead < 0xFC ? 5 : 6;
}

int hexValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool usableEscape(char E) {
    const auto e = static_cast<unsigned char>(E);
    return e > 0 && e < 0x80;
}

// A code-point array of count entries (count > 0 and small enough for the
// allocator's int size, checked by the callers).
int* newCodePoints(int count, const char* tag) {
    return static_cast<int*>(vrnMalloc(count * static_cast<int>(sizeof(int)), tag));
}

// The largest count of code points an array may hold.
constexpr int kMaxCodePoints = INT_MAX / static_cast<int>(sizeof(int));

// One pass over UTF-8 text: the number of code points, written to out when
// given; -1 at an invalid or cut sequence.
int64_t scanUtf8(const char* text, int length, int* out) {
    int64_t count = 0;
    for (int i = 0; i < length;) {
        int codePoint = 0;
        const int n = utf8_decodeChar(text + i, length - i, &codePoint);
        if (n < 0) return -1;
        if (out) out[count] = codePoint;
        ++count;
        i += n;
    }
    return count;
}

// One pass over printed-quotable text: the number of code points, written
// to out when given; -1 at a bad escape or an invalid raw byte.
int64_t scanPrintedQuotable(unsigned char escape, const char* text, int length, int* out) {
    const auto* t = reinterpret_cast<const unsigned char*>(text);
    int64_t count = 0;
    for (int i = 0; i < length;) {
        int codePoint = 0;
        if (t[i] == escape) {
            // The whole hex pairs after the escape, as many as the
            // sequence their first byte starts needs (more could not change
            // the answer); the sequence then says how many it used.
            char bytes[UTF8_MAX_BYTES];
            int pairs = 0;
            int wanted = 1;
            for (int j = i + 1; pairs < wanted && j + 1 < length; j += 2) {
                const int high = hexValue(t[j]);
                const int low = hexValue(t[j + 1]);
                if (high < 0 || low < 0) break;
                bytes[pairs++] = static_cast<char>(high << 4 | low);
                if (pairs == 1) wanted = sequenceLength(static_cast<unsigned char>(bytes[0]));
            }
            if (pairs == 0) return -1;
            const int n = utf8_decodeChar(bytes, pairs, &codePoint);
            if (n < 0) return -1;
            i += 1 + 2 * n;
        } else if (t[i] < 0x80) {
            codePoint = t[i];
            ++i;
        } else {
            // The encoder never writes a raw byte above 127; one that starts
            // a valid sequence is read as that sequence.
            const int n = utf8_decodeChar(text + i, length - i, &codePoint);
            if (n < 0) return -1;
            i += n;
        }
        if (out) out[count] = codePoint;
        ++count;
    }
    return count;
}

// Shared end of the two decoders: count, allocate, fill.
template <typename Scan>
int decodeInto(const char* text, int length, int** codePoints, int* count, const char* tag,
               Scan scan) {
    if (!codePoints || !count) return 0;
    if (!text || length <= 0) {
        *codePoints = nullptr;
        *count = 0;
        return 0;
    }
    const int64_t n = scan(text, length, nullptr);
    if (n <= 0 || n > kMaxCodePoints) return 0;
    int* array = newCodePoints(static_cast<int>(n), tag);
    scan(text, length, array);
    *codePoints = array;
    *count = static_cast<int>(n);
    return 1;
}

// Replaces the string's contents with a new array.
void replaceContents(UnicodeString* string, int* codePoints, int count) {
    vrnFree(string->codePoints, "UnicodeString_replace");
    string->codePoints = codePoints;
    string->count = count;
}

// The length of a NUL-terminated text as an int, or -1 when it is too long.
int textLength(const char* text) {
    const size_t n = std::strlen(text);
    return n > static_cast<size_t>(INT_MAX) ? -1 : static_cast<int>(n);
}

}  // namespace

extern "C" {

int utf8_decodeChar(const char* bytes, int available, int* codePoint) {
    if (!bytes) return -1;
    if (available < 1) return -2;
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    const unsigned lead = b[0];
    if (lead < 0x80) {
        if (codePoint) *codePoint = static_cast<int>(lead);
        return 1;
    }
    int n;
    uint32_t value;
    unsigned smallestSecond = 0x80;  // overlong forms start below this
    if (lead < 0xC2) {
        return -1;
    } else if (lead < 0xE0) {
        n = 2;
        value = lead & 0x1F;
    } else if (lead < 0xF0) {
        n = 3;
        value = lead & 0x0F;
        if (lead == 0xE0) smallestSecond = 0xA0;
    } else if (lead < 0xF8) {
        n = 4;
        value = lead & 0x07;
        if (lead == 0xF0) smallestSecond = 0x90;
    } else if (lead < 0xFC) {
        n = 5;
        value = lead & 0x03;
        if (lead == 0xF8) smallestSecond = 0x88;
    } else if (lead < 0xFE) {
        n = 6;
        value = lead & 0x01;
        if (lead == 0xFC) smallestSecond = 0x84;
    } else {
        return -1;
    }
    for (int i = 1; i < n; ++i) {
        if (i >= available) return -2;
        const unsigned c = b[i];
        if (c < 0x80 || c > 0xBF || (i == 1 && c < smallestSecond)) return -1;
        value = value << 6 | (c & 0x3F);
    }
    if (codePoint) *codePoint = static_cast<int>(value);
    return n;
}

int utf8_encodeChar(int codePoint, char bytes[UTF8_MAX_BYTES]) {
    if (!bytes || codePoint < 0) return -1;
    static const unsigned char kLead[UTF8_MAX_BYTES + 1] = {0, 0, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};
    const int n = encodedLength(codePoint);
    auto u = static_cast<uint32_t>(codePoint);
    if (n == 1) {
        bytes[0] = static_cast<char>(u);
        return 1;
    }
    for (int i = n - 1; i > 0; --i) {
        bytes[i] = static_cast<char>(0x80 | (u & 0x3F));
        u >>= 6;
    }
    bytes[0] = static_cast<char>(kLead[n] | u);
    return n;
}

int utf8_to_unicode(const char* text, int length, int** codePoints, int* count) {
    return decodeInto(text, length, codePoints, count, "utf8_to_unicode",
                      [](const char* t, int n, int* out) { return scanUtf8(t, n, out); });
}

int unicode_to_utf8(const int* codePoints, int count, char** text, int* length) {
    if (!text || !length) return 0;
    if (!codePoints || count <= 0) {
        *text = nullptr;
        *length = 0;
        return 0;
    }
    int64_t total = 0;
    for (int i = 0; i < count; ++i) {
        if (codePoints[i] < 0) return 0;
        total += encodedLength(codePoints[i]);
    }
    if (total >= INT_MAX) return 0;
    char* out = static_cast<char*>(vrnMalloc(static_cast<int>(total) + 1, "unicode_to_utf8"));
    char* p = out;
    for (int i = 0; i < count; ++i) p += utf8_encodeChar(codePoints[i], p);
    *p = '\0';
    *text = out;
    *length = static_cast<int>(total);
    return 1;
}

int pqutf8_to_unicode(char E, const char* text, int length, int** codePoints, int* count) {
    if (!usableEscape(E)) return 0;
    const auto escape = static_cast<unsigned char>(E);
    return decodeInto(text, length, codePoints, count, "pqutf8_to_unicode",
                      [escape](const char* t, int n, int* out) {
                          return scanPrintedQuotable(escape, t, n, out);
                      });
}

int unicode_to_pqutf8(int* length, char E, int mode, const int* codePoints, int count,
                      char** text) {
    if (!length || !text || !usableEscape(E) || (!codePoints && count > 0)) return -1;
    const int escape = static_cast<unsigned char>(E);
    if (count < 0) count = 0;
    // First pass: plain or escaped, and the length of the whole text.
    auto plain = [&](int i) {
        const int c = codePoints[i];
        return c <= 127 && c != escape && !orvNeedsEscape(mode, i, c);
    };
    int64_t total = 0;
    for (int i = 0; i < count; ++i) {
        if (codePoints[i] < 0) return -1;
        total += plain(i) ? 1 : 1 + 2 * encodedLength(codePoints[i]);
    }
    if (total >= INT_MAX) return -1;
    // Second pass: the text itself.
    static const char kHex[] = "0123456789ABCDEF";
    char* out = static_cast<char*>(vrnMalloc(static_cast<int>(total) + 1, "unicode_to_pqutf8"));
    char* p = out;
    for (int i = 0; i < count; ++i) {
        if (plain(i)) {
            *p++ = static_cast<char>(codePoints[i]);
            continue;
        }
        char bytes[UTF8_MAX_BYTES];
        const int n = utf8_encodeChar(codePoints[i], bytes);
        *p++ = E;
        for (int k = 0; k < n; ++k) {
            const auto b = static_cast<unsigned char>(bytes[k]);
            *p++ = kHex[b >> 4];
            *p++ = kHex[b & 0xF];
        }
    }
    *p = '\0';
    *text = out;
    *length = static_cast<int>(total);
    return 1;
}

UnicodeString* UnicodeString_new(void) {
    auto* s = static_cast<UnicodeString*>(vrnMalloc(sizeof(UnicodeString), "UnicodeString_new"));
    s->codePoints = nullptr;
    s->count = 0;
    return s;
}

void UnicodeString_delete(UnicodeString* string) {
    if (!string) return;
    vrnFree(string->codePoints, "UnicodeString_delete");
    vrnFree(string, "UnicodeString_delete");
}

int UnicodeString_fromUTF8(UnicodeString* string, const char* text) {
    if (!string || !text) return 0;
    const int length = textLength(text);
    int* codePoints = nullptr;
    int count = 0;
    if (length <= 0 || !utf8_to_unicode(text, length, &codePoints, &count)) return 0;
    replaceContents(string, codePoints, count);
    return 1;
}

char* UnicodeString_toUTF8(const UnicodeString* string) {
    if (!string) return nullptr;
    char* text = nullptr;
    int length = 0;
    return unicode_to_utf8(string->codePoints, string->count, &text, &length) ? text : nullptr;
}

int UnicodeString_fromPrintedQuotable(UnicodeString* string, char E, const char* text) {
    if (!string || !text) return 0;
    const int length = textLength(text);
    int* codePoints = nullptr;
    int count = 0;
    if (length <= 0 || !pqutf8_to_unicode(E, text, length, &codePoints, &count)) return 0;
    replaceContents(string, codePoints, count);
    return 1;
}

char* UnicodeString_toPrintedQuotable(const UnicodeString* string, char E, int mode) {
    if (!string || string->count <= 0) return nullptr;
    char* text = nullptr;
    int length = 0;
    return unicode_to_pqutf8(&length, E, mode, string->codePoints, string->count, &text) == 1
               ? text
               : nullptr;
}

}  // extern "C"
