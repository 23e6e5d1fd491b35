/* Base64 with the standard alphabet and "=" padding (RFC 4648). */
#ifndef VRN_UTILITIES_BASE64_H
#define VRN_UTILITIES_BASE64_H

#ifdef __cplusplus
extern "C" {
#endif

/* Encodes length bytes into target as padded base64 followed by a NUL.
 * Returns the text length, or -1 when target (targetSize bytes) cannot hold
 * the text and its NUL, or the arguments are unusable. */
int vrnBase64_encode(const void* bytes, int length, char* target, int targetSize);

/* Decodes text into target, skipping white space anywhere. Returns the number
 * of bytes written, or -1 for a character outside the alphabet, padding in
 * the wrong place or missing, anything but white space after the padding, or
 * a target too small for the result. */
int vrnBase64_decode(const char* text, void* target, int targetSize);

#ifdef __cplusplus
}
#endif

#endif
