#include "ylt/EncodingUtilities.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace ylt {
namespace EncodingUtilities {

namespace {

constexpr unsigned short kReplacement = 0xFFFD;

// Length of the valid UTF-8 sequence at s (at most `left` bytes), with its
// code point in *cp; 0 when the lead byte does not start a valid sequence.
// Overlong forms, surrogates and values above U+10FFFF are invalid.
std::size_t decodeOne(const unsigned char* s, std::size_t left, std::uint32_t* cp) {
    const unsigned char b0 = s[0];
    if (b0 < 0x80) {
        *cp = b0;
        return 1;
    }
    std::size_t len;
    std::uint32_t value;
    std::uint32_t minimum;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2; value = b0 & 0x1F; minimum = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3; value = b0 & 0x0F; minimum = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4; value = b0 & 0x07; minimum = 0x10000;
    } else {
        return 0;
    }
    if (len > left) return 0;
    for (std::size_t i = 1; i < len; ++i) {
        if ((s[i] & 0xC0) != 0x80) return 0;
        value = (value << 6) | (s[i] & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    *cp = value;
    return len;
}

}  // namespace

std::basic_string<unsigned short> MakeWStringU(const char* text) {
    std::basic_string<unsigned short> out;
    if (!text) return out;
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    std::size_t left = std::strlen(text);
    out.reserve(left);
    while (left > 0) {
        std::uint32_t cp = 0;
        std::size_t used = decodeOne(s, left, &cp);
        if (used == 0) {
            out.push_back(kReplacement);
            ++s;
            --left;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<unsigned short>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<unsigned short>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<unsigned short>(cp));
        }
        s += used;
        left -= used;
    }
    return out;
}

}  // namespace EncodingUtilities
}  // namespace ylt
