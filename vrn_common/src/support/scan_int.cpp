#include "support/scan_int.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace vrn {

const char* scanInt(const char* text, int* value) {
    // Up to nine digits, no blank before them (what most callers read), in
    // one pass; anything else through strtoll.
    {
        const char* q = text + (*text == '-' || *text == '+' ? 1 : 0);
        int v = 0;
        int n = 0;
        for (; n < 9 && q[n] >= '0' && q[n] <= '9'; ++n) v = v * 10 + (q[n] - '0');
        if (n > 0 && !(q[n] >= '0' && q[n] <= '9')) {
            *value = *text == '-' ? -v : v;
            return q + n;
        }
    }
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
