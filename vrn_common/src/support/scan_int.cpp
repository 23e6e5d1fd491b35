#include "support/scan_int.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace vrn {

const char* scanInt(const char* text, int* value) {
    const char* p = text;
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    const char* digits = p + (*p == '+' || *p == '-' ? 1 : 0);
    if (!std::isdigit(static_cast<unsigned char>(*digits))) return nullptr;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(p, &end, 10);
    if (errno == ERANGE || v < INT_MIN || v > INT_MAX) return nullptr;
    *value = static_cast<int>(v);
    return end;
}

}  // namespace vrn
