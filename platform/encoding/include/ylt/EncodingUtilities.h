// Stand-in for the closed sibling string library: UTF-8 to UTF-16.
#pragma once

#include <string>

namespace ylt {
namespace EncodingUtilities {

// UTF-16 form of an 8-bit (UTF-8) string. Code points above U+FFFF become
// surrogate pairs; every byte that does not start or continue a valid
// sequence becomes U+FFFD; NULL gives an empty string. Never throws except
// for running out of memory.
std::basic_string<unsigned short> MakeWStringU(const char* text);

}  // namespace EncodingUtilities
}  // namespace ylt
