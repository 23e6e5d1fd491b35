// Number text in the "C" locale whatever locale the host process has set,
// so that data files read and write the same bytes everywhere.
#include "io_internal.h"

#include <clocale>
#include <cstdarg>
#include <cstdlib>
#include <locale.h>

namespace {

locale_t cLocale() {
    static locale_t loc = newlocale(LC_ALL_MASK, "C", (locale_t)0);
    return loc;
}

}  // namespace

extern "C" int kwx_snprintf(char *buffer, size_t size, const char *format, ...) {
    va_list args;
    va_start(args, format);
    locale_t loc = cLocale();
    locale_t old = loc ? uselocale(loc) : (locale_t)0;
    int n = vsnprintf(buffer, size, format, args);
    if (loc) uselocale(old);
    va_end(args);
    return n;
}

extern "C" double kwx_strtod(const char *text, char **end) {
    locale_t loc = cLocale();
    if (loc) return strtod_l(text, end, loc);
    return strtod(text, end);
}

extern "C" double kwx_atof(const char *text) {
    return text ? kwx_strtod(text, nullptr) : 0.0;
}

extern "C" int64_t kwx_atoi64(const char *text) {
    return text ? static_cast<int64_t>(strtoll(text, nullptr, 10)) : 0;
}
