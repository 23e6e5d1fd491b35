/* BitField: eight flags in one byte; bit i (0..7) has the mask 1 << i. */
#ifndef VRN_UTILITIES_BIT_FIELD_H
#define VRN_UTILITIES_BIT_FIELD_H

#ifdef __cplusplus
extern "C" {
#endif

typedef unsigned char BitField;

/* Sets bit 0..7; any other bit fails an assertion, which ends the process. */
void BitField_setBit(BitField* field, int bit);
/* The masked value: non-zero (1 << bit) when the bit is set. Any bit outside
 * 0..7 fails an assertion, which ends the process. */
int BitField_isSet(const BitField* field, int bit);
/* Clears all eight bits. */
void BitField_clearAll(BitField* field);

#ifdef __cplusplus
}
#endif

#endif
