/* MD5 message digest (RFC 1321).
 *
 * The routines live in namespace vrn: a host process often links another
 * library that exports MD5Init/MD5Update/MD5Final under C linkage (libcrypto,
 * libmd), and its calls must keep reaching that library. */
#ifndef VRN_UTILITIES_MD5_H
#define VRN_UTILITIES_MD5_H

#include <cstddef>
#include <cstdint>

namespace vrn {

struct MD5 {
    std::uint32_t state[4];
    std::uint32_t count[2];      /* bits hashed so far, modulo 2^64, low word first */
    unsigned char buffer[64];    /* input not yet processed */
};

/* Sets the initial state and a zero count. */
void MD5Init(MD5* context);

/* Appends length bytes. Whole 64-byte blocks are compressed at once; the rest
 * waits in the buffer. Feeding an input whole or in pieces of any sizes gives
 * the same digest. */
void MD5Update(MD5* context, const void* input, std::size_t length);

/* Pads, appends the bit count, writes the 16-byte digest and clears the whole
 * context to zero. */
void MD5Final(unsigned char digest[16], MD5* context);

/* Compresses one 64-byte block into state. */
void MD5Transform(std::uint32_t state[4], const unsigned char block[64]);

/* Writes words as bytes, least significant byte first; length counts bytes
 * and is a multiple of 4. */
void MD5Encode(unsigned char* output, const std::uint32_t* words, std::size_t length);

}  // namespace vrn

#endif
