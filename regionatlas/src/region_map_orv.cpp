// A map's ORV text: the REGION MAP block written byte for byte, and the
// map read back from ORV lines.
#include "region_definition.h"
#include "region_internal.h"
#include "region_map.h"
#include "region_reader.h"

#include "orvapi.h"

#include <cstdlib>
#include <cstring>
#include <string>

using namespace regionatlas;

namespace {

const char* levelWord(int type)
{
    if (type == REGION_MAP_VRN)
        return "VRN";
    if (type == REGION_MAP_PRIMARY)
        return "PRIMARY";
    return "SECONDARY";
}

// The text after the last '/' of a path, or the whole path.
const char* lastComponent(const char* path)
{
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

RegionStatus* readMap(void** object, OrvHandle* handle, const char* path)
{
    return RegionMap_fromORV(reinterpret_cast<RegionMap**>(object), handle, path);
}

}  // namespace

extern "C" {

RegionStatus* RegionMap_getORV(RegionMap* map, int withPrimitives, char** out)
{
    if (!out)
        return fail(8, "Cannot return the ORV describing the %s.", kMapClass);
    *out = nullptr;
    RegionStatus* s = nullptr;
    if (!RegionMap_check(map, &s))
        return s;
    RegionMap_freeORV(map);
    if (isError(s = RegionString_new(&map->orvText, "  ")))
        return s;
    auto failed = [&](RegionStatus* st) {
        StatusCopy saved(st);
        RegionMap_freeORV(map);
        return saved.restore();
    };
    auto append = [&](std::initializer_list<const char*> pieces) {
        for (const char* p : pieces) {
            RegionStatus* st = RegionString_append(map->orvText, p);
            if (isError(st))
                return st;
        }
        return ok();
    };
    // A map name that cannot stand in the header is written under a
    // substitute, with the real name beside it.
    std::string header = map->name;
    bool realName = !isPlainORVName(map->name, "REGION MAP");
    if (realName)
        header = substituteName(map->name, "Map", false, nullptr, "REGION MAP");
    if (isError(s = append({"REGION MAP", ": ", header.c_str(), "\n", "\n"})))
        return failed(s);
    if (realName && isError(s = append({"    ", "Real Name", " = ", map->name, "\n", "\n"})))
        return failed(s);
    if (map->atlas && isError(s = append({"    ", "Type", " = ", levelWord(map->type), "\n", "\n"})))
        return failed(s);
    if (map->owner && *map->owner && isError(s = append({"    ", "Owner", " = ", map->owner, "\n", "\n"})))
        return failed(s);
    RegionDefinition** defs = nullptr;
    unsigned count = 0;
    if (isError(s = RegionMap_getDefinitions(map, &defs, &count)))
        return failed(s);
    HeaderSet used;
    for (unsigned i = 0; i < count; ++i) {
        char* text = nullptr;
        s = definitionORV(defs[i], &used, &text);
        if (!isError(s))
            s = append({text});
        RegionDefinition_freeORV(defs[i]);
        if (isError(s)) {
            std::free(defs);
            return failed(s);
        }
    }
    std::free(defs);
    if (withPrimitives) {
        char* prims = nullptr;
        if (isError(s = RegionMap_getPrimitives(map, 4, &prims)))
            return failed(s);
        if (prims && *prims)
            s = append({"    ", "PRIMITIVE REGIONS", ": ", "\n", "      ", "Primitive Region List", " = ", prims, "\n",
                        "    ", "END", " # ", "PRIMITIVE REGIONS", "\n"});
        std::free(prims);
        if (isError(s))
            return failed(s);
    }
    if (isError(s = append({"  ", "END", " # ", "REGION MAP", "\n", "\n"})))
        return failed(s);
    *out = map->orvText->text;
    return ok();
}

RegionStatus* RegionMap_freeORV(RegionMap* map)
{
    RegionStatus* s = nullptr;
    if (!RegionMap_check(map, &s))
        return s;
    if (map->orvText) {
        RegionString_delete(map->orvText, 1);
        map->orvText = nullptr;
    }
    return ok();
}

RegionStatus* RegionMap_readFromStrings(RegionMap** map, int count, char** lines, const char* path)
{
    return RegionReader_readORV(kMapClass, reinterpret_cast<void**>(map), count, lines, path, readMap);
}

RegionStatus* RegionMap_fromORV(RegionMap** holder, OrvHandle* handle, const char* path)
{
    if (!holder || !handle)
        return failText(3, RegionReader_formatError(kMapClass, "Invalid object pointer"));
    std::string name;
    bool named = false;
    if (path) {
        const char* last = lastComponent(path);
        if (RegionReader_hasType("REGION MAP", last)) {
            name = last + std::strlen("REGION MAP:");
            named = true;
        }
        pushPath(handle, path);
    }
    if (!named) {
        char** paths = nullptr;
        if (!getObjectsByTypeH(handle, "REGION MAP", &paths) && paths) {
            int n = 0;
            while (paths[n])
                ++n;
            if (n > 1) {
                orvFreeStringArray(paths);
                return failText(6, "Unable to read map: Multiple Map entries found.");
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
    char* realName = nullptr;
    if (named && getStringValue(handle, "Real Name", &realName) == nullptr && realName && *realName)
        name = realName;
    std::free(realName);
    RegionStatus* s = nullptr;
    if (!*holder) {
        if (isError(s = RegionMap_new(holder, named ? name.c_str() : "New Map")))
            return s;
    } else if (named && isError(s = RegionMap_setName(*holder, name.c_str()))) {
        return s;
    }
    RegionMap* map = *holder;
    char** items = nullptr;
    int itemCount = 0;
    if (getStringList(handle, "Owner", &items, &itemCount) == nullptr && itemCount == 1 &&
        !RegionName_isBlank(items[0], nullptr))
        s = RegionMap_setOwner(map, items[0]);
    else
        s = ok();
    orvFreeStringArray(items);
    if (isError(s))
        return s;
    char** paths = nullptr;
    if (getObjectsByTypeH(handle, "REGION", &paths) != nullptr || !paths) {
        orvFreeStringArray(paths);
        return ok();
    }
    s = ok();
    for (int i = 0; paths[i] && !isError(s); ++i) {
        RegionDefinition* def = nullptr;
        s = RegionDefinition_fromORV(&def, handle, paths[i]);
        if (isError(s))
            break;
        s = RegionMap_addDefinition(map, def);
        if (isError(s)) {
            StatusCopy saved(s);
            RegionDefinition_delete(&def);
            s = saved.restore();
        }
    }
    StatusCopy saved(s);
    orvFreeStringArray(paths);
    return saved.restore();
}

}  // extern "C"
