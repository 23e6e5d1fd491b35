#include "support/system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <utility>
#include <vector>
#include <regex>
#include <string>

#include "../handed_over.h"
#include "support/cstring.h"
#include "test_support.h"
#include "utilities/uuid.h"

using vrntest::ChildOptions;
using vrntest::runInChild;

namespace {

using commontest::take;

std::string realPath(const std::string& path) {
    char* r = realpath(path.c_str(), nullptr);
    std::string s = r ? r : path;
    free(r);
    return s;
}

}  // namespace

TEST(SystemFiles, ExistenceRegularFilesRemoveAndRename) {
    vrntest::TempDir dir;
    const std::string file = dir.file("f.txt");
    vrntest::writeFile(file, "x");
    EXPECT_EQ(0, vrnFileExists(nullptr));
    EXPECT_EQ(0, vrnFileExists(dir.file("none").c_str()));
    EXPECT_EQ(1, vrnFileExists(file.c_str()));
    EXPECT_EQ(1, vrnFileExists(dir.path().c_str()));
    EXPECT_NE(0, vrnIsRegularFile(file.c_str()));
    EXPECT_EQ(0, vrnIsRegularFile(dir.path().c_str()));
    EXPECT_EQ(0, vrnIsRegularFile(nullptr));

    // A directory is never removed, even an empty one.
    const std::string sub = dir.file("sub");
    ASSERT_EQ(0, mkdir(sub.c_str(), 0700));
    EXPECT_EQ(0, vrnRemoveFile(sub.c_str()));
    EXPECT_EQ(1, vrnFileExists(sub.c_str()));
    EXPECT_EQ(0, vrnRemoveFile(nullptr));

    const std::string moved = dir.file("g.txt");
    EXPECT_EQ(1, vrnRenameFile(file.c_str(), moved.c_str()));
    EXPECT_EQ(0, vrnRenameFile(file.c_str(), moved.c_str()));
    EXPECT_EQ(0, vrnRenameFile(nullptr, moved.c_str()));
    EXPECT_EQ(1, vrnRemoveFile(moved.c_str()));
    EXPECT_EQ(0, vrnFileExists(moved.c_str()));
    EXPECT_EQ(0, vrnRemoveFile(moved.c_str()));
}

TEST(SystemWorkingDirectory, LongPathsGrowTheBuffer) {
    vrntest::TempDir dir;
    std::string deep = dir.path();
    for (int i = 0; i < 12; ++i) {
        deep += "/" + std::string(100, 'a' + i);
        ASSERT_EQ(0, mkdir(deep.c_str(), 0700));
    }
    ChildOptions options;
    options.cwd = deep;
    auto r = runInChild(
        [] {
            std::printf("%s", take(vrnGetWorkingDirectory()).c_str());
            return 0;
        },
        options);
    EXPECT_EQ(realPath(deep), r.out);
    EXPECT_GT(r.out.size(), 1024u);
}

TEST(SystemWorkingDirectory, RemovedDirectoryGivesNullAtOnce) {
    vrntest::TempDir dir;
    const std::string gone = dir.file("gone");
    ASSERT_EQ(0, mkdir(gone.c_str(), 0700));
    ChildOptions options;
    options.cwd = gone;
    auto r = runInChild(
        [gone] {
            if (rmdir(gone.c_str()) != 0) return 3;
            return vrnGetWorkingDirectory() == nullptr ? 0 : 4;
        },
        options);
    EXPECT_EQ(0, r.exitStatus);
}

TEST(SystemClock, DateAndTimeForms) {
    EXPECT_TRUE(std::regex_match(take(vrnGetDate()),
                                 std::regex("[A-Z][a-z]{2} [A-Z][a-z]{2} [0-9]{2} [0-9]{4}")));
    EXPECT_TRUE(std::regex_match(take(vrnGetTime()), std::regex("[0-9]{2}:[0-9]{2}:[0-9]{2} .+")));
    char host[1025] = {};
    ASSERT_EQ(0, gethostname(host, 1024));
    EXPECT_EQ(host, take(vrnGetHostname()));
    vrnSleep(0);
    vrnSleep(-3);
}

TEST(SystemEnvironment, SetEmptyDefaultAndUnset) {
    ChildOptions options;
    options.env = {{"VRN_TEST_EMPTY", ""}, {"VRN_TEST_VALUE", "v a l"}, {"VRN_TEST_UNSET", std::nullopt}};
    auto r = runInChild(
        [] {
            std::printf("%d%d%d|", vrnIsEnvironmentVariableSet("VRN_TEST_EMPTY"),
                        vrnIsEnvironmentVariableSet("VRN_TEST_UNSET"),
                        vrnIsEnvironmentVariableSet(nullptr));
            std::printf("%s|", take(vrnReadEnvironmentVariable("VRN_TEST_EMPTY", "d")).c_str());
            std::printf("%s|", take(vrnReadEnvironmentVariable("VRN_TEST_VALUE", nullptr)).c_str());
            std::printf("%s|", take(vrnReadEnvironmentVariable("VRN_TEST_UNSET", "d")).c_str());
            std::printf("%s|", take(vrnReadEnvironmentVariable("VRN_TEST_UNSET", nullptr)).c_str());
            std::printf("%s", take(vrnReadEnvironmentVariable(nullptr, nullptr)).c_str());
            return 0;
        },
        options);
    EXPECT_EQ("100||v a l|d|<null>|<null>", r.out);
}

TEST(SystemTemporaryName, PrefixUuidTextAndSuffix) {
    const std::regex withPrefix(R"(abc\.[A-Za-z0-9+=]{22}\.tmp)");
    const std::regex without(R"([A-Za-z0-9+=]{22}\.tmp)");
    std::string previous;
    for (int i = 0; i < 50; ++i) {
        std::string name = take(vrnGetTemporaryFileName("abc"));
        EXPECT_TRUE(std::regex_match(name, withPrefix)) << name;
        EXPECT_NE(previous, name);
        previous = name;
        name = take(vrnGetTemporaryFileName(nullptr));
        EXPECT_TRUE(std::regex_match(name, without)) << name;
    }
}

// A name made for another folder is checked there, not in the working
// folder. With the node and clock sequence fixed by the "nodeid" and "state"
// files and the clock standing still, the first name is known in advance;
// once a file in the folder holds it, the next attempt gives another.
TEST(SystemTemporaryName, NameTakenInTheGivenFolderIsPassedOver) {
    vrntest::TempDir work;
    vrntest::TempDir models;
    const std::string node("\x01\x02\x03\x04\x05\x06", 6);
    vrntest::writeFile(work.file("nodeid"), node);
    vrntest::writeFile(work.file("state"), std::string(8, '\0') + node + std::string("\x34\x12", 2));
    const std::string folder = models.path() + "/";
    auto r = runInChild(
        [&] {
            vrn::setUuidClock([]() -> uint64_t { return 130000000000000000ull; });
            vrn::resetUuidGenerator();
            const std::string first = take(vrnGetTemporaryFileNameIn(folder.c_str(), "abc"));
            vrn::resetUuidGenerator();
            if (take(vrnGetTemporaryFileNameIn(folder.c_str(), "abc")) != first) return 1;
            vrntest::writeFile(first, "");
            vrn::resetUuidGenerator();
            const std::string next = take(vrnGetTemporaryFileNameIn(folder.c_str(), "abc"));
            return next != first && next.rfind(folder + "abc.", 0) == 0 ? 0 : 2;
        },
        {{}, work.path()});
    EXPECT_EQ(0, r.exitStatus) << r.err;
}

TEST(BuildIdentity, VersionJoinsReleaseAndStampAndOtherSelectorsGiveTheBuildLine) {
    EXPECT_EQ("14.0 (2011.10.10-23.02)", take(vrnLibrary_getVersionString()));
    EXPECT_EQ(vrnBuildInfo_get(4), take(vrnLibrary_getBuild()));
    EXPECT_STREQ(vrnBuildInfo_get(5), vrnBuildInfo_get(9));
    for (int other : {0, 10, -1})
        EXPECT_STREQ("(KWX-14.0 build 2011.10.10-23.02)", vrnBuildInfo_get(other));
    EXPECT_EQ(nullptr, vrnLibrary_getProgramName());
}

namespace {

// Runs body in a child whose debug control file traces the given routines
// into debug.log; gives that log.
std::string debugLog(const std::string& rules, const std::function<int()>& body,
                     std::vector<std::pair<std::string, std::optional<std::string>>> env = {}) {
    vrntest::TempDir dir;
    vrntest::writeFile(dir.file("vrn.debug"), "<DEBUG>\n" + rules + "</DEBUG>\n");
    ChildOptions options;
    options.env = {{"VRN_DEBUG_CONTROL", dir.file("vrn.debug")},
                   {"VRN_DEBUG_LOG", dir.file("debug.log")}};
    options.env.insert(options.env.end(), env.begin(), env.end());
    options.cwd = dir.path();
    auto r = runInChild(body, options);
    EXPECT_EQ(0, r.exitStatus) << r.err;
    return vrntest::readFile(dir.file("debug.log"));
}

}  // namespace

TEST(SystemTracing, EnvironmentReadsNameTheirSource) {
    const std::string log = debugLog(
        "vrnReadEnvironmentVariable = 1\n",
        [] {
            vrnCString_free(vrnReadEnvironmentVariable("VRN_TEST_EMPTY", "d"));
            vrnCString_free(vrnReadEnvironmentVariable("VRN_TEST_UNSET", "fallback"));
            vrnCString_free(vrnReadEnvironmentVariable("VRN_TEST_UNSET", nullptr));
            return 0;
        },
        {{"VRN_TEST_EMPTY", ""}, {"VRN_TEST_UNSET", std::nullopt}});
    EXPECT_NE(std::string::npos, log.find("vrnReadEnvironmentVariable:\n")) << log;
    EXPECT_NE(std::string::npos, log.find("Read an environment variable.\n")) << log;
    EXPECT_NE(std::string::npos,
              log.find("Environment variable: [Set]     VRN_TEST_EMPTY = \n"
                       "\n")) << log;
    EXPECT_NE(std::string::npos,
              log.find("Environment variable: [Default] VRN_TEST_UNSET = fallback\n")) << log;
    EXPECT_NE(std::string::npos, log.find("Environment variable: [Unset]   VRN_TEST_UNSET = \n"))
        << log;
}

TEST(SystemTracing, TemporaryNamesAreTracedOnlyWithALevel) {
    const std::string traced = debugLog("vrnGetTemporaryFileName = 1\n", [] {
        char* name = vrnGetTemporaryFileName("abc");
        std::printf("%s", name);
        vrnCString_free(name);
        return 0;
    });
    EXPECT_TRUE(std::regex_search(traced, std::regex(R"(\nFilename = abc\.[A-Za-z0-9+=]{22}\.tmp\n)")))
        << traced;
    EXPECT_NE(std::string::npos, traced.find("Generate a unique name for a temporary file.\n"));

    const std::string quiet = debugLog("Something_else = 1\n", [] {
        vrnCString_free(vrnGetTemporaryFileName("abc"));
        return 0;
    });
    EXPECT_EQ(std::string::npos, quiet.find("Filename")) << quiet;
    EXPECT_EQ(std::string::npos, quiet.find("vrnGetTemporaryFileName")) << quiet;
}
