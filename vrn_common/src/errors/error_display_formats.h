/* The text formats of the error displays: the build block (plain or with
 * start and end markers), the framed raw block, the XML element and its
 * element blocks. Each writes through ErrorDisplay_display and leaves the
 * flush to its caller. */
#ifndef VRN_ERRORS_ERROR_DISPLAY_FORMATS_H
#define VRN_ERRORS_ERROR_DISPLAY_FORMATS_H

#include "errors/error_display.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Kinds 0 and 1: with markers when the display's kind is 1. */
void ErrorDisplay_displayBuildBlock(ErrorDisplay* display, vrnError* error);
/* Kind 2. */
void ErrorDisplay_displayRawBlock(ErrorDisplay* display, vrnError* error);
/* Kind 3. */
void ErrorDisplay_displayXml(ErrorDisplay* display, vrnError* error);
/* One element of an XML location: its name by type and a point per node
 * (x, y, z each hold the element's nodes). */
void ErrorDisplay_displayElementPoints(ErrorDisplay* display, int type, const double* x,
                                       const double* y, const double* z);

#ifdef __cplusplus
}
#endif

#endif
