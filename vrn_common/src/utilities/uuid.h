/* Time-based UUIDs (RFC 4122 version 1) and their 22-character text form,
 * which names every persistent object in the data files. */
#ifndef VRN_UTILITIES_UUID_H
#define VRN_UTILITIES_UUID_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The RFC 4122 fields, each in the machine's byte order. */
typedef struct vrnUUID {
    uint32_t time_low;
    uint16_t time_mid;
    uint16_t time_hi_and_version;
    uint8_t clock_seq_hi_and_reserved;
    uint8_t clock_seq_low;
    uint8_t node[6];
} vrnUUID;

/* The text that stands for "no object". */
#define VRN_NULL_UUID_STRING "__NULL_UUID__"
/* Room for the text form and its NUL. */
#define VRN_UUID_STRING_SIZE 23

/* A new UUID made by vrnUUID_create; free with vrnUUID_delete. */
vrnUUID* vrnUUID_new(void);
/* A new UUID parsed from its text form; NULL for the null text (anything
 * starting with "_") and for a text that is not 22 base64 characters. */
vrnUUID* vrnUUID_newFromBase64(const char* text);
void vrnUUID_delete(vrnUUID* uuid);

/* Fills uuid with a new time-based UUID. Timestamps issued by one process
 * always increase, so two UUIDs of one process never coincide. */
void vrnUUID_create(vrnUUID* uuid);

/* Writes the 22-character text and a NUL into buffer (at least
 * VRN_UUID_STRING_SIZE bytes); a NULL uuid writes "__NULL_UUID__". */
void vrnUUID_toBase64(const vrnUUID* uuid, char* buffer);
/* 1 when text is exactly "__NULL_UUID__", else 0. */
int vrnUUID_isNullString(const char* text);
/* Reads the first 22 characters of text into uuid. Returns 0 for a text that
 * starts with "_" (the null text) or whose first 22 characters are not all of
 * the base64 alphabet (uuid is then unchanged); 1 on success. */
int vrnUUID_parseBase64(vrnUUID* uuid, const char* text);

/* The 16 stored bytes, in the order the data files use, and back. */
void vrnUUID_toBytes(const vrnUUID* uuid, unsigned char bytes[16]);
void vrnUUID_fromBytes(vrnUUID* uuid, const unsigned char bytes[16]);

#ifdef __cplusplus
}

namespace vrn {

/* The clock the generator reads: 100-nanosecond intervals since 1601-01-01
 * UTC. Tests install their own; nullptr restores the system clock. Returns
 * the clock installed before. */
using UuidClock = uint64_t (*)();
UuidClock setUuidClock(UuidClock clock);

/* Forgets what the generator learnt in this process (last timestamp, node,
 * saved state, random seed), as if no UUID had been made yet. */
void resetUuidGenerator();

}  // namespace vrn
#endif

#endif
