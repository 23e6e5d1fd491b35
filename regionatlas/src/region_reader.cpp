// Routines shared by the readers and writers of region ORV text.
#include "region_hash.h"
#include "region_internal.h"
#include "region_reader.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace regionatlas;

extern "C" {

const char* RegionReader_formatError(const char* className, const char* reason)
{
    static char buffer[1024];
    std::snprintf(buffer, sizeof buffer, "Unable to read %s: %s.", className ? className : "",
                  reason ? reason : "");
    return buffer;
}

int RegionReader_hasType(const char* type, const char* entry)
{
    if (!type || !entry)
        return 0;
    size_t n = std::strlen(type);
    return std::strlen(entry) > n && std::strncmp(entry, type, n) == 0 && entry[n] == ':';
}

RegionStatus* RegionArray_delete(void** holder)
{
    if (!holder)
        return failText(8, "Invalid object pointer - cannot destroy array.");
    std::free(*holder);
    *holder = nullptr;
    return ok();
}

char* RegionNames_join(const unsigned* keys, unsigned n)
{
    if (!keys || n == 0)
        return nullptr;
    try {
        std::string joined;
        for (unsigned i = 0; i < n; ++i) {
            char* text = nullptr;
            RegionDictionary_getText(keys[i], &text);
            if (i)
                joined += ", ";
            if (text)
                joined += text;
        }
        return copyText(joined.c_str());
    } catch (...) {
        return nullptr;
    }
}

}  // extern "C"
