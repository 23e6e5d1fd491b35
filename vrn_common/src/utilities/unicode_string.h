/* Unicode strings: conversions between UTF-8 text, arrays of code points
 * and the printed-quotable form.
 *
 * Code points are 0..0x7FFFFFFF. UTF-8 sequences are 1 to 6 bytes long
 * (lead bytes 0x00-0x7F, 0xC2-0xDF, 0xE0-0xEF, 0xF0-0xF7, 0xF8-0xFB,
 * 0xFC-0xFD, followed by 0x80-0xBF); overlong forms are refused, surrogates
 * are not treated specially, and there is no byte-order mark.
 *
 * Printed-quotable text, for an escape character E (ASCII 1..127) and a
 * mode: a code point up to 127 that is not E and that orvNeedsEscape
 * (orv_name_classes.h) declares plain at its index is written as itself;
 * every other code point as E followed by each byte of its UTF-8 sequence
 * as two upper-case hexadecimal digits (U+00E9 with E "%": %C3A9).
 *
 * Arrays and texts handed out are new, from the tagged allocator, and owned
 * by the caller (vrnFree). None of these routines publishes an error. */
#ifndef VRN_UTILITIES_UNICODE_STRING_H
#define VRN_UTILITIES_UNICODE_STRING_H

#ifdef __cplusplus
extern "C" {
#endif

/* Longest UTF-8 sequence. */
#define UTF8_MAX_BYTES 6

typedef struct UnicodeString {
    int* codePoints; /* owned; NULL when empty */
    int count;
} UnicodeString;

/* Decodes the sequence at bytes, reading no more than `available` bytes.
 * Answers its length 1..6 and sets *codePoint; -1 when the sequence is
 * invalid (bad lead or following byte, overlong form, NULL bytes); -2 when
 * it needs more than `available` bytes. *codePoint is set only on success;
 * codePoint may be NULL. */
int utf8_decodeChar(const char* bytes, int available, int* codePoint);

/* Writes the UTF-8 sequence of codePoint into bytes (room for
 * UTF8_MAX_BYTES needed). Answers the number of bytes 1..6, or -1 for a
 * negative code point or NULL bytes (nothing written). */
int utf8_encodeChar(int codePoint, char bytes[UTF8_MAX_BYTES]);

/* Decodes length bytes of UTF-8. Answers 1 with a new array (memory tag
 * "utf8_to_unicode") and its count; 0 for an invalid or cut sequence or
 * NULL outputs (outputs untouched); 0 for an empty text (length 0 or less,
 * or NULL text), with *codePoints NULL and *count 0. */
int utf8_to_unicode(const char* text, int length, int** codePoints, int* count);

/* Encodes count code points. Answers 1 with a new NUL-terminated text and
 * its length in bytes; 0 for a code point that cannot be encoded, a text
 * too long for an int, or NULL outputs (outputs untouched); 0 for an empty
 * input (count 0 or less, or NULL code points), with *text NULL and
 * *length 0. */
int unicode_to_utf8(const int* codePoints, int count, char** text, int* length);

/* Decodes length bytes of printed-quotable text with escape E. At E, up to
 * six pairs of hexadecimal digits (either case) that lie wholly inside the
 * text are read, and the first UTF-8 sequence among those bytes is taken;
 * the scan goes on after the pairs that sequence used. A raw byte above 127
 * must start a valid UTF-8 sequence, which is taken whole. Answers 1 with a
 * new array and its count; 0 for a bad escape (E without a full pair of hex
 * digits after it, or pairs that do not form a valid sequence), an invalid
 * raw byte, E outside 1..127, or NULL outputs (outputs untouched); 0 for an
 * empty text, with *codePoints NULL and *count 0. */
int pqutf8_to_unicode(char E, const char* text, int length, int** codePoints, int* count);

/* Encodes count code points as printed-quotable text with escape E and the
 * given mode. Answers 1 with a new NUL-terminated text and its length (an
 * empty input gives "" and 0); -1 for a code point that cannot be encoded,
 * E outside 1..127, a text too long for an int, or NULL outputs (outputs
 * untouched). */
int unicode_to_pqutf8(int* length, char E, int mode, const int* codePoints, int count,
                      char** text);

/* An empty string. */
UnicodeString* UnicodeString_new(void);
/* Frees the array and the record; NULL does nothing. */
void UnicodeString_delete(UnicodeString* string);

/* Reads the NUL-terminated UTF-8 text. Answers 1 and replaces the contents
 * (the old array is freed); answers 0 and keeps the contents for an empty,
 * NULL or invalid text or a NULL string. */
int UnicodeString_fromUTF8(UnicodeString* string, const char* text);
/* A new UTF-8 text, or NULL for an empty or NULL string or a code point
 * that cannot be encoded. */
char* UnicodeString_toUTF8(const UnicodeString* string);

/* As UnicodeString_fromUTF8, reading NUL-terminated printed-quotable text
 * with escape E (pqutf8_to_unicode). Answers 1 or 0. */
int UnicodeString_fromPrintedQuotable(UnicodeString* string, char E, const char* text);
/* A new printed-quotable text with escape E and the mode, or NULL for an
 * empty or NULL string or on failure (unicode_to_pqutf8). */
char* UnicodeString_toPrintedQuotable(const UnicodeString* string, char E, int mode);

#ifdef __cplusplus
}
#endif

#endif
