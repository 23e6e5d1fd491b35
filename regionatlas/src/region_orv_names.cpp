// Header names of region ORV text: which names can stand in a header as
// they are, and the substitutes written (with the real name beside them)
// for those that cannot.
#include "region_hash.h"
#include "region_internal.h"
#include "region_definition.h"
#include "region_map.h"

#include "orvapi.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace regionatlas {

const size_t kNameBuffer = 1024;

namespace {

// Room kept in the buffer for a " <number>" suffix and the terminator.
const size_t kBaseLimit = kNameBuffer - 16;

bool isAsciiAlpha(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool isLeadChar(unsigned char c) { return isAsciiAlpha(c) || c == '_' || c == '%'; }

bool isNameChar(unsigned char c)
{
    return isAsciiAlpha(c) || (c >= '0' && c <= '9') || c == ' ' || c == '.' || c == '[' || c == ']' ||
           c == '_' || c == '{' || c == '|' || c == '}';
}

bool interned(const std::string& text)
{
    unsigned key = 0;
    return !RegionStatus_isError(RegionDictionary_lookup(text.c_str(), &key));
}

}  // namespace

std::string collapsed(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == ' ' && (out.empty() || out.back() == ' '))
            continue;
        out += c;
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

bool isPlainORVName(const char* text, const char* type)
{
    if (!text || !*text || !isLeadChar(static_cast<unsigned char>(text[0])))
        return false;
    size_t n = std::strlen(text);
    for (size_t i = 1; i < n; ++i)
        if (!isNameChar(static_cast<unsigned char>(text[i])))
            return false;
    if (text[n - 1] == ' ' || std::strstr(text, "  "))
        return false;
    return !(type && std::strcmp(text, type) == 0);
}

namespace {

// The substitute before any " <number>" suffix.
std::string substituteBase(const char* text, const char* fallback)
{
    std::string base;
    for (const char* p = text ? text : ""; *p && base.size() < kBaseLimit; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (base.empty()) {
            if (isLeadChar(c))
                base += static_cast<char>(c);
        } else {
            base += isNameChar(c) ? static_cast<char>(c) : ' ';
        }
    }
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    if (base.empty())
        base = fallback;
    return base;
}

// Room for the suffix of a substitute: a blank and a number, which counts
// at most the dictionary's entries and so has at most ten digits.
const size_t kSuffixRoom = 11;

// The longest header a name can be written under: the name itself when it
// stands as it is (a definition's own name is a dictionary name, so no
// substitute in the same text ever takes it), else its substitute.
size_t headerLength(const char* name, const char* type, const char* fallback)
{
    if (isPlainORVName(name, type))
        return std::strlen(name);
    return substituteBase(name, fallback).size() + kSuffixRoom;
}

// "/" type ":" header: the path component of an object.
size_t objectLength(const char* type, size_t header) { return 1 + std::strlen(type) + 1 + header; }

// The longest line below each kind of block, as a path from the block.
const char* const kDefinitionLongestLine = "/Region List A";
const char* const kMapLongestLine = "/PRIMITIVE REGIONS/Primitive Region List";
const char* const kAtlasLongestLine = "/Real Name";

}  // namespace

std::string substituteName(const char* text, const char* fallback, bool checkDictionary, const HeaderSet* used,
                           const char* type)
{
    const std::string base = substituteBase(text, fallback);
    auto taken = [&](const std::string& candidate) {
        std::string plain = collapsed(candidate);
        if (type && plain == type)
            return true;
        if (used && used->count(plain))
            return true;
        return checkDictionary && (interned(candidate) || interned(plain));
    };
    std::string candidate = base;
    for (unsigned long i = 0; taken(candidate); ++i)
        candidate = base + " " + std::to_string(i);
    return candidate;
}

size_t definitionPathLength(const char* name)
{
    return objectLength("REGION", headerLength(name, "REGION", "Region")) + std::strlen(kDefinitionLongestLine);
}

size_t mapPrefixLength(const char* name)
{
    return objectLength("REGION MAP", headerLength(name, "REGION MAP", "Map"));
}

size_t mapPathLength(RegionMap* map, const char* name)
{
    size_t below = std::strlen(kMapLongestLine);
    RegionDefinition** defs = nullptr;
    unsigned count = 0;
    if (map && !RegionStatus_isError(RegionMap_getDefinitions(map, &defs, &count))) {
        for (unsigned i = 0; i < count; ++i) {
            const char* text = defs[i]->name ? RegionName_getText(defs[i]->name) : nullptr;
            if (text)
                below = std::max(below, definitionPathLength(text));
        }
    }
    std::free(defs);
    return mapPrefixLength(name) + below;
}

size_t atlasPrefixLength(const char* name)
{
    return objectLength("REGION ATLAS", headerLength(name, "REGION ATLAS", "Atlas"));
}

size_t atlasPathLength(const char* name)
{
    return atlasPrefixLength(name) + (isPlainORVName(name, "REGION ATLAS") ? 0 : std::strlen(kAtlasLongestLine));
}

std::string named(const char* className, const char* name)
{
    return std::string(className) + " (" + (name ? name : "") + ")";
}

bool pathFits(size_t length) { return length <= ORV_MAX_PATH_LENGTH; }

RegionStatus* pathTooLong(size_t length, const std::string& what)
{
    return fail(100007, "Invalid name - %s would make a path of %zu characters in ORV text, more than the %d it "
                        "can hold.",
                what.c_str(), length, ORV_MAX_PATH_LENGTH);
}

RegionStatus* checkNameLength(size_t length, const char* className, const char* name)
{
    return checkPathLength(length, [&] {
        return std::string("a ") + className + " name of " + std::to_string(name ? std::strlen(name) : 0) +
               " characters";
    });
}

}  // namespace regionatlas

extern "C" const char* RegionName_toORVName(const char* text)
{
    static char buffer[regionatlas::kNameBuffer];
    std::string name = regionatlas::substituteName(text, "Region", true, nullptr, "REGION");
    std::snprintf(buffer, sizeof buffer, "%s", name.c_str());
    return buffer;
}
