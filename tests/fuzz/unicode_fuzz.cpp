// Feeds arbitrary bytes to the UTF-8 and printed-quotable decoders. Every
// text that decodes must encode again and decode to the same code points;
// valid UTF-8 must come back byte for byte.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/memory.h"
#include "utilities/unicode_string.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

std::vector<int> take(int* codePoints, int count) {
    std::vector<int> out(codePoints, codePoints + count);
    vrnFree(codePoints, "fuzz");
    return out;
}

void utf8RoundTrip(const char* text, int length) {
    int* cps = nullptr;
    int count = 0;
    if (utf8_to_unicode(text, length, &cps, &count) != 1) return;
    std::vector<int> decoded = take(cps, count);
    char* back = nullptr;
    int backLength = 0;
    check(unicode_to_utf8(decoded.data(), count, &back, &backLength) == 1);
    check(backLength == length && std::memcmp(back, text, static_cast<size_t>(length)) == 0);
    vrnFree(back, "fuzz");
}

void printedQuotableRoundTrip(char E, int mode, const char* text, int length) {
    int* cps = nullptr;
    int count = 0;
    if (pqutf8_to_unicode(E, text, length, &cps, &count) != 1) return;
    std::vector<int> decoded = take(cps, count);
    char* pq = nullptr;
    int pqLength = 0;
    check(unicode_to_pqutf8(&pqLength, E, mode, decoded.data(), count, &pq) == 1);
    check(pqutf8_to_unicode(E, pq, pqLength, &cps, &count) == 1);
    check(take(cps, count) == decoded);
    vrnFree(pq, "fuzz");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    // The input lives in a block of its own size, so a read past it is seen.
    std::vector<char> bytes(data, data + size);
    const char* text = bytes.data();
    const int length = static_cast<int>(size);
    for (int i = 0; i < length; ++i) utf8_decodeChar(text + i, length - i, nullptr);
    utf8RoundTrip(text, length);
    const int mode = size ? data[0] % 4 : 0;
    printedQuotableRoundTrip('%', mode, text, length);
    printedQuotableRoundTrip('=', 3 - mode, text, length);

    const std::string terminated(text, size);
    UnicodeString* s = UnicodeString_new();
    if (UnicodeString_fromPrintedQuotable(s, '%', terminated.c_str())) {
        char* utf8 = UnicodeString_toUTF8(s);
        check(utf8 != nullptr);
        vrnFree(utf8, "fuzz");
    }
    UnicodeString_fromUTF8(s, terminated.c_str());
    UnicodeString_delete(s);
    return 0;
}
