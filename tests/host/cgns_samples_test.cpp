// The base query on CGNS files written elsewhere, by other CGNS and HDF5
// versions (the sample-data folder, VRN_TESTDATA_DIR).
#include <fcntl.h>
#include <unistd.h>

#include <cgnslib.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "VRNUtilities.h"
#include "test_support.h"

namespace {

using WString = std::basic_string<unsigned short>;

std::string sample(const std::string& name) {
    const std::string dir = vrntest::testDataDir();
    if (dir.empty()) return "";
    return dir + "/cgns/" + name;
}

#define REQUIRE_SAMPLE(path, name)                                                                \
    const std::string path = sample(name);                                                        \
    if (path.empty())                                                                             \
        GTEST_SKIP() << "no sample-data folder (VRN_TESTDATA_DIR); "                         \
                        "sample " name " not checked";

TEST(CgnsSampleFiles, EarlierLibraryVersionsListOneBaseNamedBase) {
    for (const char* name : {"cgnslib_vers-3000.cgns", "cgnslib_vers-3420_adf.cgns"}) {
        SCOPED_TRACE(name);
        const std::string file = sample(name);
        if (file.empty())
            GTEST_SKIP() << "no sample-data folder (VRN_TESTDATA_DIR)";
        int count = 0;
        std::vector<int> indices;
        std::vector<WString> names;
        ASSERT_TRUE(ylt::VRNUtilities::getBasesFromCGNSFile(file, count, indices, names));
        EXPECT_EQ(1, count);
        EXPECT_EQ(std::vector<int>{1}, indices);
        EXPECT_EQ(std::vector<WString>{WString({'B', 'a', 's', 'e'})}, names);
    }
}

TEST(CgnsSampleFiles, NewerLibraryFileIsRefusedWithTheLibrarysReason) {
    REQUIRE_SAMPLE(file, "cgnslib_vers-4400.cgns");
    // The reason the library gives for this file, asked under a short name:
    // the library's error buffer holds only 200 bytes, and this text names
    // the file.
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_LE(0, fd);
    const std::string alias = "/proc/self/fd/" + std::to_string(fd);
    int fn = 0;
    ASSERT_NE(0, cg_open(alias.c_str(), CG_MODE_READ, &fn)) << "this CGNS library reads 4.x files";
    std::string reason = cg_get_error();
    if (fn != 0) cg_close(fn);
    close(fd);
    const std::size_t at = reason.find(alias);
    ASSERT_NE(std::string::npos, at) << reason;
    reason.replace(at, alias.size(), file);

    int count = 5;
    std::vector<int> indices;
    std::vector<WString> names;
    try {
        ylt::VRNUtilities::getBasesFromCGNSFile(file, count, indices, names);
        FAIL() << "no exception";
    } catch (const ylt::vrnutilities::error& e) {
        EXPECT_EQ("Can't open " + file + " for reading.\nReason: " + reason, e.getMessage());
        EXPECT_NE(std::string::npos, reason.find("more recent version")) << reason;
    }
    EXPECT_EQ(5, count);

    // The library refuses this file only after opening it; listing it again
    // and again must not keep a descriptor each time.
    const int descriptors = vrntest::openDescriptorCount();
    for (int i = 0; i < 10; ++i) {
        try {
            ylt::VRNUtilities::getBasesFromCGNSFile(file, count, indices, names);
        } catch (const ylt::vrnutilities::error&) {
        }
    }
    EXPECT_EQ(descriptors, vrntest::openDescriptorCount());
}

}  // namespace
