// Helpers for the region atlas tests.
#pragma once

#include "region_definition.h"
#include "region_map.h"
#include "region_status.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace regiontest {

// A fixed pseudo-random sequence for the randomized walks, and names drawn
// from a small pool so that operations keep meeting the same names.
struct Dice {
    unsigned seed;
    const char* prefix;
    unsigned pool;
    unsigned next(unsigned n)
    {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % n;
    }
    std::string name() { return prefix + std::to_string(next(pool)); }
};

// Every definition a map holds, as a vector.
inline std::vector<RegionDefinition*> definitionsOf(RegionMap* m)
{
    RegionDefinition** array = nullptr;
    unsigned n = 0;
    RegionMap_getDefinitions(m, &array, &n);
    std::vector<RegionDefinition*> out(array, array + n);
    std::free(array);
    return out;
}

// The status's message lines, freed.
inline std::vector<std::string> lines(const RegionStatus* s)
{
    char** l = nullptr;
    int n = 0;
    std::vector<std::string> out;
    if (RegionStatus_getMessageLines(s, &l, &n)) {
        for (int i = 0; i < n; ++i) {
            out.emplace_back(l[i]);
            std::free(l[i]);
        }
        std::free(l);
    }
    return out;
}

inline std::string message(const RegionStatus* s)
{
    return s && s->message ? s->message : "";
}

// Takes a malloc'ed text and frees it.
inline std::string take(char* text)
{
    std::string out = text ? text : "";
    std::free(text);
    return out;
}

inline RegionDefinition* define(const char* name, int combination, std::vector<const char*> a,
                         std::vector<const char*> b = {})
{
    RegionDefinition* d = nullptr;
    RegionStatus* s = RegionDefinition_new(&d, name, combination, const_cast<char**>(a.data()),
                                           const_cast<char**>(b.data()), static_cast<unsigned>(a.size()),
                                           static_cast<unsigned>(b.size()));
    EXPECT_FALSE(RegionStatus_isError(s)) << regiontest::message(s);
    return d;
}

inline std::vector<std::string> splitLines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

// Reads the text into *map (which may hold a map already).
inline RegionStatus* read(const std::string& text, RegionMap** map, const char* path = nullptr)
{
    std::vector<std::string> l = splitLines(text);
    std::vector<char*> ptrs;
    for (std::string& s : l)
        ptrs.push_back(&s[0]);
    return RegionMap_readFromStrings(map, static_cast<int>(ptrs.size()), ptrs.data(), path);
}

inline std::string write(RegionMap* map, int withPrimitives = 0)
{
    char* text = nullptr;
    RegionStatus* s = RegionMap_getORV(map, withPrimitives, &text);
    EXPECT_FALSE(RegionStatus_isError(s)) << regiontest::message(s);
    return text ? text : "";
}

// Everything a map holds, in a comparable form.
inline std::string describe(RegionMap* map)
{
    std::string out = std::string(map->name) + "|" + (map->owner ? map->owner : "-") + "\n";
    RegionDefinition** defs = nullptr;
    unsigned n = 0;
    RegionMap_getDefinitions(map, &defs, &n);
    for (unsigned i = 0; i < n; ++i) {
        RegionDefinition* d = defs[i];
        char* a = nullptr;
        char* b = nullptr;
        char* tags = nullptr;
        RegionStringList_toJoinedText(d->sideA, &a);
        if (d->sideB)
            RegionStringList_toJoinedText(d->sideB, &b);
        if (d->tags)
            RegionStringList_toJoinedText(d->tags, &tags);
        out += std::string(RegionName_getText(d->name)) + " " + std::to_string(d->combination) + " [" + take(a) +
               "] [" + take(b) + "] {" + take(tags) + "}\n";
    }
    std::free(defs);
    return out;
}

// Writes the map, reads the text into a new map, and checks that both hold
// the same and write the same text.
inline void roundTrip(RegionMap* map, int withPrimitives = 0)
{
    std::string text = write(map, withPrimitives);
    RegionMap* back = nullptr;
    RegionStatus* s = read(text, &back);
    ASSERT_FALSE(RegionStatus_isError(s)) << regiontest::message(s) << "\n" << text;
    EXPECT_EQ(describe(back), describe(map)) << text;
    if (!map->atlas) {
        EXPECT_EQ(write(back, withPrimitives), text);
    }
    RegionMap_delete(&back, 1);
}

}  // namespace regiontest

#define EXPECT_OK(expr)                                                   \
    do {                                                                  \
        RegionStatus* st_ = (expr);                                       \
        EXPECT_FALSE(RegionStatus_isError(st_)) << regiontest::message(st_); \
    } while (0)
#define ASSERT_OK(expr)                                                   \
    do {                                                                  \
        RegionStatus* st_ = (expr);                                       \
        ASSERT_FALSE(RegionStatus_isError(st_)) << regiontest::message(st_); \
    } while (0)
#define EXPECT_CODE(expr, code) EXPECT_EQ(RegionStatus_getCode(expr), code)
