// Reading an int from text the way "%d" reads it, without its wrap-round.
#pragma once

namespace vrn {

// Reads an integer as "%d" does (leading white space, a sign, digits) and
// gives the character after it; NULL when there is none or it does not fit
// an int. sscanf would wrap such a value round into another number, so that
// "4294967297" passed for 1.
const char* scanInt(const char* text, int* value);

}  // namespace vrn
