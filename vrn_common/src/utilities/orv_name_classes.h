/* Byte classes of ORV names: which characters may appear plainly in a name
 * written into ORV command text. One class per byte value:
 *   0  control characters 0x00-0x1F and 0x7F
 *   1  # $ % ,
 *   2  ! " & ' ( ) * + - / : ; < = > ? @ \ ^ ` ~
 *   3  digits
 *   4  space . A-Z a-z [ ] _ { | } and every byte 0x80-0xFF
 * The printed-quotable encoder (unicode_string.h) and the model database's
 * name encoding both decide with these. */
#ifndef VRN_UTILITIES_ORV_NAME_CLASSES_H
#define VRN_UTILITIES_ORV_NAME_CLASSES_H

#ifdef __cplusplus
extern "C" {
#endif

/* The class 0..4 of a byte value 0..255; -1 for any other value. */
int orvNameClass(int byte);

/* 1 when the character must be escaped in the given mode at the given index
 * of a name, else 0. With t = 3 for mode 2 at index 0 and t = mode
 * otherwise, a character is plain only when t <= 2 and its class is above
 * t: mode 0 escapes control characters, mode 1 also # $ % and comma, mode 2
 * also the class-2 punctuation and, at index 0, every character; mode 3 or
 * more escapes everything. A negative mode counts as 0, and a character
 * outside 0..255 always needs escaping. */
int orvNeedsEscape(int mode, int index, int character);

#ifdef __cplusplus
}
#endif

#endif
