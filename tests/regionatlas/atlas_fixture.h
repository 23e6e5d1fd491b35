// Builders shared by the definition, atlas and resolution tests.
#pragma once

#include "region_atlas.h"
#include "region_definition.h"
#include "region_map.h"
#include "region_resolution.h"
#include "region_test_util.h"

#include <string>
#include <vector>

namespace regiontest {

inline RegionStatus* makeDefinition(RegionDefinition** out, const char* name, int combination,
                                    std::vector<const char*> a, std::vector<const char*> b = {})
{
    return RegionDefinition_new(out, name, combination, const_cast<char**>(a.data()),
                                b.empty() ? nullptr : const_cast<char**>(b.data()), static_cast<unsigned>(a.size()),
                                static_cast<unsigned>(b.size()));
}

// Adds a new definition to the map; the map owns it afterwards. Returns the
// status of the addition (a refused definition is deleted).
inline RegionStatus* define(RegionMap* map, const char* name, int combination, std::vector<const char*> a,
                            std::vector<const char*> b = {})
{
    RegionDefinition* def = nullptr;
    RegionStatus* s = makeDefinition(&def, name, combination, a, b);
    if (RegionStatus_isError(s))
        return s;
    s = RegionMap_addDefinition(map, def);
    if (RegionStatus_isError(s)) {
        std::string message = regiontest::message(s);
        int code = RegionStatus_getCode(s);
        RegionDefinition_delete(&def);
        RegionStatus* again = nullptr;
        RegionStatus_set(&again, 1, code, message.empty() ? nullptr : message.c_str());
        return again;
    }
    return s;
}

inline std::string joinedList(RegionStringList* list)
{
    char* text = nullptr;
    RegionStringList_exportArgs(list, 4, &text);
    return take(text);
}

// The primitives of a name in the atlas (or map), joined with ", ".
inline std::string resolveIn(RegionAtlas* atlas, const char* name)
{
    RegionStringList* list = nullptr;
    RegionStringList_new(&list, 0);
    RegionStatus* s = RegionPrimitives_resolveTextInAtlas(name, atlas, list);
    std::string out = RegionStatus_isError(s) ? "error " + std::to_string(RegionStatus_getCode(s)) : joinedList(list);
    RegionStringList_delete(&list);
    return out;
}

inline std::string resolveIn(RegionMap* map, const char* name)
{
    RegionStringList* list = nullptr;
    RegionStringList_new(&list, 0);
    RegionStatus* s = RegionPrimitives_resolveTextInMap(name, map, list);
    std::string out = RegionStatus_isError(s) ? "error " + std::to_string(RegionStatus_getCode(s)) : joinedList(list);
    RegionStringList_delete(&list);
    return out;
}

// The atlas's text, or "error <code>".
inline std::string atlasText(RegionAtlas* atlas)
{
    char* text = nullptr;
    RegionStatus* s = RegionAtlas_getORV(atlas, &text);
    std::string out = RegionStatus_isError(s) ? "error " + std::to_string(RegionStatus_getCode(s)) : text;
    RegionAtlas_freeORV(atlas);
    return out;
}

// Reads an atlas from the text into *atlas (which must hold none).
inline RegionStatus* readAtlas(const std::string& text, RegionAtlas** atlas)
{
    std::vector<std::string> lines = splitLines(text);
    std::vector<char*> raw;
    for (std::string& l : lines)
        raw.push_back(&l[0]);
    return RegionAtlas_readFromStrings(atlas, static_cast<int>(raw.size()), raw.data());
}

inline RegionMap* newMap(const char* name)
{
    RegionMap* map = nullptr;
    RegionMap_new(&map, name);
    return map;
}

// An atlas holding a VRN, a Primary and a Secondary map.
struct ThreeMaps {
    RegionAtlas* atlas = nullptr;
    RegionMap* vrn = nullptr;
    RegionMap* primary = nullptr;
    RegionMap* secondary = nullptr;

    ThreeMaps()
    {
        RegionAtlas_new(&atlas, "VRN atlas");
        vrn = newMap("VRN map");
        primary = newMap("Primary map");
        secondary = newMap("Secondary map");
        RegionAtlas_addMap(atlas, vrn, REGION_MAP_VRN);
        RegionAtlas_addMap(atlas, primary, REGION_MAP_PRIMARY);
        RegionAtlas_addMap(atlas, secondary, REGION_MAP_SECONDARY);
    }
    ~ThreeMaps()
    {
        if (atlas)
            RegionAtlas_delete(atlas, 1);
    }
    ThreeMaps(const ThreeMaps&) = delete;
    ThreeMaps& operator=(const ThreeMaps&) = delete;
};

}  // namespace regiontest
