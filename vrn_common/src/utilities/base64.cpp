#include "utilities/base64.h"

#include <cstdint>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr signed char kWhite = -2;
constexpr signed char kPad = -3;
constexpr signed char kForeign = -1;

/* Value of each byte: 0..63 for the alphabet, or one of the classes above. */
struct DecodeTable {
    signed char value[256];
    constexpr DecodeTable() : value() {
        for (int i = 0; i < 256; ++i) value[i] = kForeign;
        for (int i = 0; i < 64; ++i) value[static_cast<unsigned char>(kAlphabet[i])] = static_cast<signed char>(i);
        value[static_cast<unsigned char>('=')] = kPad;
        const char white[] = " \t\n\r\v\f";
        for (int i = 0; white[i]; ++i) value[static_cast<unsigned char>(white[i])] = kWhite;
    }
};
constexpr DecodeTable kDecode;

}  // namespace

extern "C" {

int vrnBase64_encode(const void* bytes, int length, char* target, int targetSize) {
    if (length < 0 || (length > 0 && !bytes) || !target || targetSize <= 0) return -1;
    const std::int64_t textLength = (static_cast<std::int64_t>(length) + 2) / 3 * 4;
    if (textLength + 1 > targetSize) return -1;

    const auto* in = static_cast<const unsigned char*>(bytes);
    char* out = target;
    int i = 0;
    for (; i + 3 <= length; i += 3) {
        const std::uint32_t v = static_cast<std::uint32_t>(in[i]) << 16 | in[i + 1] << 8 | in[i + 2];
        *out++ = kAlphabet[v >> 18];
        *out++ = kAlphabet[(v >> 12) & 63];
        *out++ = kAlphabet[(v >> 6) & 63];
        *out++ = kAlphabet[v & 63];
    }
    if (length - i == 1) {
        const std::uint32_t v = static_cast<std::uint32_t>(in[i]) << 16;
        *out++ = kAlphabet[v >> 18];
        *out++ = kAlphabet[(v >> 12) & 63];
        *out++ = '=';
        *out++ = '=';
    } else if (length - i == 2) {
        const std::uint32_t v = static_cast<std::uint32_t>(in[i]) << 16 | in[i + 1] << 8;
        *out++ = kAlphabet[v >> 18];
        *out++ = kAlphabet[(v >> 12) & 63];
        *out++ = kAlphabet[(v >> 6) & 63];
        *out++ = '=';
    }
    *out = '\0';
    return static_cast<int>(textLength);
}

int vrnBase64_decode(const char* text, void* target, int targetSize) {
    if (!text || targetSize < 0) return -1;
    auto* out = static_cast<unsigned char*>(target);
    int written = 0;
    std::uint32_t quantum = 0;  // sextets of the quantum being read
    int filled = 0;             // positions of the quantum taken, padding included
    int pads = 0;               // "=" seen in this quantum
    bool finished = false;      // a padded quantum closed the text

    auto emit = [&](int count) {
        if (written + count > targetSize || !out) return false;
        for (int k = 0; k < count; ++k) out[written++] = static_cast<unsigned char>(quantum >> (16 - 8 * k));
        return true;
    };

    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        const signed char v = kDecode.value[*p];
        if (v == kWhite) continue;
        if (v == kForeign || finished) return -1;
        if (v == kPad) {
            /* Padding may fill only the last one or two places of a quantum. */
            if (filled < 2) return -1;
            ++pads;
            quantum <<= 6;
            if (++filled == 4) {
                if (!emit(3 - pads)) return -1;
                finished = true;
            }
            continue;
        }
        if (pads > 0) return -1;  // data between two padding characters
        quantum = quantum << 6 | static_cast<std::uint32_t>(v);
        if (++filled == 4) {
            if (!emit(3)) return -1;
            quantum = 0;
            filled = 0;
        }
    }
    /* A quantum cut short, padded or not, is malformed. */
    if (filled != 0 && !finished) return -1;
    return written;
}

}  // extern "C"
