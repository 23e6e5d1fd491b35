#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>

#include "system_state.h"

TEST(SystemState, FileTimeFollowsTheWallClock) {
    const std::uint64_t before = static_cast<std::uint64_t>(std::time(nullptr));
    const std::uint64_t fileTime = vrnSystem_getSystemTimeAsFileTime();
    const std::uint64_t after = static_cast<std::uint64_t>(std::time(nullptr));
    const std::uint64_t epoch = 116444736000000000ull;  // 1970-01-01 in 100 ns since 1601
    // time() may read a coarser clock than the one behind the file time, so
    // allow a second either way.
    EXPECT_GE(fileTime, epoch + (before - 1) * 10000000ull);
    EXPECT_LT(fileTime, epoch + (after + 2) * 10000000ull);
}

TEST(SystemState, SnapshotHoldsThisProcessAndMachine) {
    vrnSystemState state;
    std::memset(&state, 0xa5, sizeof state);
    vrnSystem_getState(&state);
    EXPECT_EQ(state.processId, static_cast<std::uint32_t>(getpid()));
    EXPECT_GE(state.processors, 1u);
    EXPECT_GT(state.pageSize, 0u);
    EXPECT_GT(state.memoryTotal, 0u);
    EXPECT_GT(state.fileTime, 0u);
    // The name is cut to fit and the bytes after it are zero, not left over.
    char name[256] = {0};
    ASSERT_EQ(gethostname(name, sizeof name - 1), 0);
    char expected[sizeof state.hostName] = {0};
    std::memcpy(expected, name, std::min(std::strlen(name), sizeof expected));
    EXPECT_EQ(0, std::memcmp(state.hostName, expected, sizeof expected));

    std::uint64_t a = 0, b = 0;
    ASSERT_EQ(vrnSystem_getEntropy(&a, sizeof a), 1);
    ASSERT_EQ(vrnSystem_getEntropy(&b, sizeof b), 1);
    EXPECT_NE(a, b);
}
