// Helpers for the region atlas tests.
#pragma once

#include "region_status.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace regiontest {

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
