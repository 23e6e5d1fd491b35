/* ORV names: turning a free-form object name (of an assembly or a region)
 * into a name that ORV command text accepts, and back.
 *
 * Two ways, chosen once per process: when the environment variable
 * VRN_ENCODE_NAMES exists (any value, empty included) names are escaped as
 * printed-quotable UTF-8 with escape "%" and mode 2, which is reversible;
 * otherwise they are normalised, which loses the characters ORV does not
 * take. Strings handed out are new and freed with vrnCString_free. */
#ifndef VRN_DATABASE_ORV_NAME_H
#define VRN_DATABASE_ORV_NAME_H

#include "utilities/orv_name_classes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Escape character and printed-quotable mode of encoded names. */
#define ORV_NAME_ESCAPE '%'
#define ORV_NAME_ESCAPE_MODE 2

/* The encoding switch: 1 when names are escaped, 0 when normalised. Read
 * from the environment at the first call (by whichever routine below runs
 * first) and kept for the process. */
int orvReadEncodeNamesSetting(void);

/* For tests: forgets the switch, so that the next call reads the
 * environment again. */
void orvResetEncodeNamesSetting(void);

/* Every byte of class 0, 1 or 2 becomes a blank; the result is trimmed and
 * inner runs of white space become one blank; a leading digit then gets
 * "n" in front. NULL gives NULL; a name of blanks gives "". */
char* orvNormaliseName(const char* name);

/* Encoding on: the name with its white space normalised (without the class
 * replacement) as printed-quotable text with escape "%" and mode 2; NULL
 * for NULL, for a name that is empty after normalising, or for text that is
 * not valid UTF-8. Encoding off: orvNormaliseName. */
char* orvEncodeName(const char* name);

/* Encoding on: the printed-quotable text (escape "%") decoded to UTF-8;
 * NULL for NULL, an empty text or a bad escape. Encoding off: a copy. */
char* orvUnencodeName(const char* text);

#ifdef __cplusplus
}
#endif

#endif
