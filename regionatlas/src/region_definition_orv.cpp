// Reading one REGION object of ORV text into a definition.
#include "region_definition.h"
#include "region_internal.h"
#include "region_reader.h"

#include "orvapi.h"

#include <cstdlib>
#include <cstring>
#include <string>

using namespace regionatlas;

namespace {

// A parameter's items; a list whose only item is empty has none. False
// when the parameter is missing.
bool readList(OrvHandle* handle, const char* key, char*** items, int* count)
{
    *items = nullptr;
    *count = 0;
    if (getStringList(handle, key, items, count) != nullptr)
        return false;
    if (*count == 1 && (*items)[0] && !(*items)[0][0]) {
        orvFreeStringArray(*items);
        *items = nullptr;
        *count = 0;
    }
    return true;
}

}  // namespace

extern "C" RegionStatus* RegionDefinition_fromORV(RegionDefinition** holder, OrvHandle* handle, const char* path)
{
    if (!holder || !handle)
        return failText(3, RegionReader_formatError(kDefinitionClass, "Invalid object pointer"));
    if (*holder)
        return failText(3, "Unable to read definition: the holder already holds a definition.");
    std::string name;
    bool named = false;
    if (path) {
        const char* slash = std::strrchr(path, '/');
        const char* last = slash ? slash + 1 : path;
        if (RegionReader_hasType("REGION", last)) {
            name = last + std::strlen("REGION:");
            named = true;
        }
        pushPath(handle, path);
    }
    if (!named) {
        char** paths = nullptr;
        if (!getObjectsByTypeH(handle, "REGION", &paths) && paths) {
            int n = 0;
            while (paths[n])
                ++n;
            if (n > 1) {
                orvFreeStringArray(paths);
                return failText(6, "Unable to read definition: Multiple Definition entries found.");
            }
            if (n == 1) {
                const char* colon = std::strrchr(paths[0], ':');
                name = colon ? colon + 1 : paths[0];
                named = true;
                pushPath(handle, paths[0]);
            }
        }
        orvFreeStringArray(paths);
    }
    int combination = RC_ALIAS;
    char* value = nullptr;
    if (getStringValue(handle, "Combination", &value) == nullptr && value) {
        combination = 0;
        for (int c = RC_UNION; c <= RC_ALIAS; ++c)
            if (std::strcmp(value, RegionCombination_getName(c)) == 0)
                combination = c;
        std::free(value);
        if (!combination)
            return failText(6, "Unable to read definition: Unrecognised Combination.");
    } else {
        std::free(value);
    }
    bool two = combination == RC_DIFFERENCE || combination == RC_SYMMETRIC_DIFFERENCE;
    char** a = nullptr;
    char** b = nullptr;
    int na = 0, nb = 0;
    if (!two) {
        if (!readList(handle, "Region List", &a, &na))
            return failText(6, "Unable to read definition: Missing 'Region List' for definition");
    } else {
        if (!readList(handle, "Region List A", &a, &na))
            return failText(6, "Unable to read definition: Missing 'Region List A' for definition");
        if (!readList(handle, "Region List B", &b, &nb)) {
            orvFreeStringArray(a);
            return failText(6, "Unable to read definition: Missing 'Region List B' for definition");
        }
    }
    // The real name, when the header stands in for it, is the name the
    // definition is made with.
    char* realName = nullptr;
    if (getStringValue(handle, "Real Name", &realName) == nullptr && realName && *realName)
        name = realName, named = true;
    std::free(realName);
    RegionDefinition* def = nullptr;
    RegionStatus* s = RegionDefinition_new(&def, named ? name.c_str() : "New Definition", combination, a, b,
                                           static_cast<unsigned>(na), static_cast<unsigned>(nb));
    orvFreeStringArray(a);
    orvFreeStringArray(b);
    if (isError(s))
        return s;
    char** tags = nullptr;
    int nt = 0;
    if (getStringList(handle, "Tags", &tags, &nt) == nullptr) {
        for (int i = 0; i < nt && !isError(s); ++i)
            s = RegionDefinition_addTag(def, tags[i]);
    }
    orvFreeStringArray(tags);
    if (isError(s)) {
        StatusCopy saved(s);
        RegionDefinition_delete(&def);
        return saved.restore();
    }
    *holder = def;
    return ok();
}
