#include "utilities/md5.h"

#include <cstring>

namespace vrn {
namespace {

inline std::uint32_t load32(const unsigned char* p) {
    /* Assembled byte by byte so that the result does not depend on the
     * machine's byte order; compilers turn this into one load. */
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

inline std::uint32_t rotl(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

/* The four auxiliary functions, written with one operation fewer than the
 * textbook forms; the results are identical. */
#define VRN_MD5_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define VRN_MD5_G(x, y, z) ((y) ^ ((z) & ((x) ^ (y))))
#define VRN_MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define VRN_MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))

#define VRN_MD5_STEP(f, a, b, c, d, xk, s, t) \
    (a) += f((b), (c), (d)) + (xk) + static_cast<std::uint32_t>(t); \
    (a) = rotl((a), (s)) + (b)

/* Compresses count consecutive 64-byte blocks, keeping the state in locals
 * between blocks. */
void transformBlocks(std::uint32_t state[4], const unsigned char* data, std::size_t count) {
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (; count > 0; --count, data += 64) {
        std::uint32_t x[16];
        for (int i = 0; i < 16; ++i) x[i] = load32(data + 4 * i);
        const std::uint32_t aa = a, bb = b, cc = c, dd = d;

        VRN_MD5_STEP(VRN_MD5_F, a, b, c, d, x[0], 7, 0xd76aa478);
        VRN_MD5_STEP(VRN_MD5_F, d, a, b, c, x[1], 12, 0xe8c7b756);
        VRN_MD5_STEP(VRN_MD5_F, c, d, a, b, x[2], 17, 0x242070db);
        VRN_MD5_STEP(VRN_MD5_F, b, c, d, a, x[3], 22, 0xc1bdceee);
        VRN_MD5_STEP(VRN_MD5_F, a, b, c, d, x[4], 7, 0xf57c0faf);
        VRN_MD5_STEP(VRN_MD5_F, d, a, b, c, x[5], 12, 0x4787c62a);
        VRN_MD5_STEP(VRN_MD5_F, c, d, a, b, x[6], 17, 0xa8304613);
        VRN_MD5_STEP(VRN_MD5_F, b, c, d, a, x[7], 22, 0xfd469501);
        VRN_MD5_STEP(VRN_MD5_F, a, b, c, d, x[8], 7, 0x698098d8);
        VRN_MD5_STEP(VRN_MD5_F, d, a, b, c, x[9], 12, 0x8b44f7af);
        VRN_MD5_STEP(VRN_MD5_F, c, d, a, b, x[10], 17, 0xffff5bb1);
        VRN_MD5_STEP(VRN_MD5_F, b, c, d, a, x[11], 22, 0x895cd7be);
        VRN_MD5_STEP(VRN_MD5_F, a, b, c, d, x[12], 7, 0x6b901122);
        VRN_MD5_STEP(VRN_MD5_F, d, a, b, c, x[13], 12, 0xfd987193);
        VRN_MD5_STEP(VRN_MD5_F, c, d, a, b, x[14], 17, 0xa679438e);
        VRN_MD5_STEP(VRN_MD5_F, b, c, d, a, x[15], 22, 0x49b40821);

        VRN_MD5_STEP(VRN_MD5_G, a, b, c, d, x[1], 5, 0xf61e2562);
        VRN_MD5_STEP(VRN_MD5_G, d, a, b, c, x[6], 9, 0xc040b340);
        VRN_MD5_STEP(VRN_MD5_G, c, d, a, b, x[11], 14, 0x265e5a51);
        VRN_MD5_STEP(VRN_MD5_G, b, c, d, a, x[0], 20, 0xe9b6c7aa);
        VRN_MD5_STEP(VRN_MD5_G, a, b, c, d, x[5], 5, 0xd62f105d);
        VRN_MD5_STEP(VRN_MD5_G, d, a, b, c, x[10], 9, 0x02441453);
        VRN_MD5_STEP(VRN_MD5_G, c, d, a, b, x[15], 14, 0xd8a1e681);
        VRN_MD5_STEP(VRN_MD5_G, b, c, d, a, x[4], 20, 0xe7d3fbc8);
        VRN_MD5_STEP(VRN_MD5_G, a, b, c, d, x[9], 5, 0x21e1cde6);
        VRN_MD5_STEP(VRN_MD5_G, d, a, b, c, x[14], 9, 0xc33707d6);
        VRN_MD5_STEP(VRN_MD5_G, c, d, a, b, x[3], 14, 0xf4d50d87);
        VRN_MD5_STEP(VRN_MD5_G, b, c, d, a, x[8], 20, 0x455a14ed);
        VRN_MD5_STEP(VRN_MD5_G, a, b, c, d, x[13], 5, 0xa9e3e905);
        VRN_MD5_STEP(VRN_MD5_G, d, a, b, c, x[2], 9, 0xfcefa3f8);
        VRN_MD5_STEP(VRN_MD5_G, c, d, a, b, x[7], 14, 0x676f02d9);
        VRN_MD5_STEP(VRN_MD5_G, b, c, d, a, x[12], 20, 0x8d2a4c8a);

        VRN_MD5_STEP(VRN_MD5_H, a, b, c, d, x[5], 4, 0xfffa3942);
        VRN_MD5_STEP(VRN_MD5_H, d, a, b, c, x[8], 11, 0x8771f681);
        VRN_MD5_STEP(VRN_MD5_H, c, d, a, b, x[11], 16, 0x6d9d6122);
        VRN_MD5_STEP(VRN_MD5_H, b, c, d, a, x[14], 23, 0xfde5380c);
        VRN_MD5_STEP(VRN_MD5_H, a, b, c, d, x[1], 4, 0xa4beea44);
        VRN_MD5_STEP(VRN_MD5_H, d, a, b, c, x[4], 11, 0x4bdecfa9);
        VRN_MD5_STEP(VRN_MD5_H, c, d, a, b, x[7], 16, 0xf6bb4b60);
        VRN_MD5_STEP(VRN_MD5_H, b, c, d, a, x[10], 23, 0xbebfbc70);
        VRN_MD5_STEP(VRN_MD5_H, a, b, c, d, x[13], 4, 0x289b7ec6);
        VRN_MD5_STEP(VRN_MD5_H, d, a, b, c, x[0], 11, 0xeaa127fa);
        VRN_MD5_STEP(VRN_MD5_H, c, d, a, b, x[3], 16, 0xd4ef3085);
        VRN_MD5_STEP(VRN_MD5_H, b, c, d, a, x[6], 23, 0x04881d05);
        VRN_MD5_STEP(VRN_MD5_H, a, b, c, d, x[9], 4, 0xd9d4d039);
        VRN_MD5_STEP(VRN_MD5_H, d, a, b, c, x[12], 11, 0xe6db99e5);
        VRN_MD5_STEP(VRN_MD5_H, c, d, a, b, x[15], 16, 0x1fa27cf8);
        VRN_MD5_STEP(VRN_MD5_H, b, c, d, a, x[2], 23, 0xc4ac5665);

        VRN_MD5_STEP(VRN_MD5_I, a, b, c, d, x[0], 6, 0xf4292244);
        VRN_MD5_STEP(VRN_MD5_I, d, a, b, c, x[7], 10, 0x432aff97);
        VRN_MD5_STEP(VRN_MD5_I, c, d, a, b, x[14], 15, 0xab9423a7);
        VRN_MD5_STEP(VRN_MD5_I, b, c, d, a, x[5], 21, 0xfc93a039);
        VRN_MD5_STEP(VRN_MD5_I, a, b, c, d, x[12], 6, 0x655b59c3);
        VRN_MD5_STEP(VRN_MD5_I, d, a, b, c, x[3], 10, 0x8f0ccc92);
        VRN_MD5_STEP(VRN_MD5_I, c, d, a, b, x[10], 15, 0xffeff47d);
        VRN_MD5_STEP(VRN_MD5_I, b, c, d, a, x[1], 21, 0x85845dd1);
        VRN_MD5_STEP(VRN_MD5_I, a, b, c, d, x[8], 6, 0x6fa87e4f);
        VRN_MD5_STEP(VRN_MD5_I, d, a, b, c, x[15], 10, 0xfe2ce6e0);
        VRN_MD5_STEP(VRN_MD5_I, c, d, a, b, x[6], 15, 0xa3014314);
        VRN_MD5_STEP(VRN_MD5_I, b, c, d, a, x[13], 21, 0x4e0811a1);
        VRN_MD5_STEP(VRN_MD5_I, a, b, c, d, x[4], 6, 0xf7537e82);
        VRN_MD5_STEP(VRN_MD5_I, d, a, b, c, x[11], 10, 0xbd3af235);
        VRN_MD5_STEP(VRN_MD5_I, c, d, a, b, x[2], 15, 0x2ad7d2bb);
        VRN_MD5_STEP(VRN_MD5_I, b, c, d, a, x[9], 21, 0xeb86d391);

        a += aa;
        b += bb;
        c += cc;
        d += dd;
    }
    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
}

#undef VRN_MD5_STEP
#undef VRN_MD5_F
#undef VRN_MD5_G
#undef VRN_MD5_H
#undef VRN_MD5_I

}  // namespace

void MD5Init(MD5* context) {
    context->state[0] = 0x67452301;
    context->state[1] = 0xefcdab89;
    context->state[2] = 0x98badcfe;
    context->state[3] = 0x10325476;
    context->count[0] = 0;
    context->count[1] = 0;
}

void MD5Update(MD5* context, const void* input, std::size_t length) {
    if (length == 0) return;
    const auto* in = static_cast<const unsigned char*>(input);

    /* Bytes already waiting in the buffer, then the 64-bit bit count. */
    std::size_t used = (context->count[0] >> 3) & 0x3f;
    const std::uint64_t bits = (static_cast<std::uint64_t>(context->count[1]) << 32 |
                                context->count[0]) +
                               (static_cast<std::uint64_t>(length) << 3);
    context->count[0] = static_cast<std::uint32_t>(bits);
    context->count[1] = static_cast<std::uint32_t>(bits >> 32);

    if (used > 0) {
        const std::size_t room = 64 - used;
        if (length < room) {
            std::memcpy(context->buffer + used, in, length);
            return;
        }
        std::memcpy(context->buffer + used, in, room);
        transformBlocks(context->state, context->buffer, 1);
        in += room;
        length -= room;
    }
    /* Whole blocks straight from the input, without copying. */
    const std::size_t blocks = length / 64;
    if (blocks > 0) {
        transformBlocks(context->state, in, blocks);
        in += blocks * 64;
        length -= blocks * 64;
    }
    if (length > 0) std::memcpy(context->buffer, in, length);
}

void MD5Final(unsigned char digest[16], MD5* context) {
    unsigned char bits[8];
    MD5Encode(bits, context->count, 8);

    /* Pad with 0x80 and zeros to 56 bytes modulo 64, then the bit count. */
    static const unsigned char padding[64] = {0x80};
    const std::size_t used = (context->count[0] >> 3) & 0x3f;
    const std::size_t padLength = used < 56 ? 56 - used : 120 - used;
    MD5Update(context, padding, padLength);
    MD5Update(context, bits, 8);

    MD5Encode(digest, context->state, 16);
    std::memset(context, 0, sizeof *context);
}

void MD5Transform(std::uint32_t state[4], const unsigned char block[64]) {
    transformBlocks(state, block, 1);
}

void MD5Encode(unsigned char* output, const std::uint32_t* words, std::size_t length) {
    for (std::size_t i = 0, j = 0; j + 4 <= length; ++i, j += 4) {
        output[j] = static_cast<unsigned char>(words[i]);
        output[j + 1] = static_cast<unsigned char>(words[i] >> 8);
        output[j + 2] = static_cast<unsigned char>(words[i] >> 16);
        output[j + 3] = static_cast<unsigned char>(words[i] >> 24);
    }
}

}  // namespace vrn
