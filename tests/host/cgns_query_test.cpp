// The exported base query on CGNS files written by the CGNS library, seen
// through libvrnutilities.so as a host sees it.
#include <sys/stat.h>

#include <cgns_io.h>

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "VRNUtilities.h"
#include "cgns_writer.h"
#include "test_support.h"

namespace {

using WString = std::basic_string<unsigned short>;
using vrntest::CgnsBackEnd;

const CgnsBackEnd kBackEnds[] = {CgnsBackEnd::Adf, CgnsBackEnd::Hdf5};

WString ascii(const std::string& s) { return WString(s.begin(), s.end()); }

std::vector<WString> asciiAll(const std::vector<std::string>& names) {
    std::vector<WString> out;
    for (const auto& n : names) out.push_back(ascii(n));
    return out;
}

// Vectors that hold something before the call, so that emptying is seen.
struct Result {
    int count = -7;
    std::vector<int> indices{42, 43};
    std::vector<WString> names{ascii("stale")};
};

bool list(const std::string& file, Result& r) {
    return ylt::VRNUtilities::getBasesFromCGNSFile(file, r.count, r.indices, r.names);
}

// The message of the exception that listing `file` throws ("" if none).
std::string failure(const std::string& file, Result& r) {
    try {
        list(file, r);
    } catch (const ylt::vrnutilities::error& e) {
        return e.getMessage();
    }
    ADD_FAILURE() << "no exception for " << file;
    return "";
}

std::string openPrefix(const std::string& file) { return "Can't open " + file + " for reading.\nReason: "; }

void expectUntouched(const Result& r) {
    EXPECT_EQ(-7, r.count);
    EXPECT_TRUE(r.indices.empty());
    EXPECT_TRUE(r.names.empty());
}

TEST(CgnsBaseQuery, ListsEveryBaseInOrderInBothBackEnds) {
    vrntest::TempDir dir;
    for (CgnsBackEnd be : kBackEnds) {
        for (int n : {1, 3}) {
            SCOPED_TRACE(std::string(vrntest::backEndName(be)) + " with " + std::to_string(n) + " bases");
            const std::string file = dir.file(std::string(vrntest::backEndName(be)) + std::to_string(n) + ".cgns");
            const auto names = vrntest::numberedNames("Zone", n);
            vrntest::writeCgnsFile(file, be, names);
            Result r;
            EXPECT_TRUE(list(file, r));
            EXPECT_EQ(n, r.count);
            std::vector<int> expected;
            for (int i = 1; i <= n; ++i) expected.push_back(i);
            EXPECT_EQ(expected, r.indices);
            EXPECT_EQ(asciiAll(names), r.names);
        }
    }
}

TEST(CgnsBaseQuery, NonAsciiAndFullLengthNamesArriveWhole) {
    vrntest::TempDir dir;
    // "Bäse-€-😀" (the last a pair of surrogates in UTF-16). Only the HDF5
    // form takes such a name: ADF node names are ASCII.
    const std::string utf8 = "B\xC3\xA4se-\xE2\x82\xAC-\xF0\x9F\x98\x80";
    const WString utf16{'B', 0x00E4, 's', 'e', '-', 0x20AC, '-', 0xD83D, 0xDE00};
    // A name of the full 32 bytes, which a buffer one byte short would cut.
    const std::string full = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";
    ASSERT_EQ(32u, full.size());

    const std::string hdf = dir.file("names_hdf5.cgns");
    vrntest::writeCgnsFile(hdf, CgnsBackEnd::Hdf5, {utf8, full});
    Result r;
    ASSERT_TRUE(list(hdf, r));
    ASSERT_EQ(2, r.count);
    EXPECT_EQ(utf16, r.names[0]);
    EXPECT_EQ(ascii(full), r.names[1]);

    const std::string adf = dir.file("names_adf.cgns");
    vrntest::writeCgnsFile(adf, CgnsBackEnd::Adf, {full});
    ASSERT_TRUE(list(adf, r));
    EXPECT_EQ(std::vector<WString>{ascii(full)}, r.names);
}

TEST(CgnsBaseQuery, FileWithoutBaseThrowsAndLeavesNothingOpen) {
    vrntest::TempDir dir;
    for (CgnsBackEnd be : kBackEnds) {
        SCOPED_TRACE(vrntest::backEndName(be));
        const std::string file = dir.file(std::string(vrntest::backEndName(be)) + "0.cgns");
        vrntest::writeCgnsFile(file, be, {});
        const int descriptors = vrntest::openDescriptorCount();
        // Repeated, so that a file left open each time would show as a
        // growing number of descriptors.
        for (int i = 0; i < 20; ++i) {
            Result r;
            EXPECT_EQ("CGNS file doesn't contain a Base Index.", failure(file, r));
            expectUntouched(r);
        }
        EXPECT_EQ(descriptors, vrntest::openDescriptorCount());
    }
}

TEST(CgnsBaseQuery, UnopenableFilesThrowWithTheOpenMessage) {
    vrntest::TempDir dir;
    std::vector<std::string> files;
    files.push_back(dir.file("missing.cgns"));
    files.push_back(dir.file("folder.cgns"));
    ASSERT_EQ(0, mkdir(files.back().c_str(), 0755));

    std::mt19937 random(12345);
    std::string noise(5000, '\0');
    for (char& c : noise) c = static_cast<char>(random());
    files.push_back(dir.file("noise.cgns"));
    vrntest::writeFile(files.back(), noise);

    const std::string whole = dir.file("whole.cgns");
    vrntest::writeCgnsFile(whole, CgnsBackEnd::Hdf5, {"Base"});
    const std::string bytes = vrntest::readFile(whole);
    files.push_back(dir.file("truncated_hdf5.cgns"));
    vrntest::writeFile(files.back(), bytes.substr(0, bytes.size() / 2));

    const int descriptors = vrntest::openDescriptorCount();
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        Result r;
        const std::string message = failure(file, r);
        const std::string prefix = openPrefix(file);
        ASSERT_EQ(prefix, message.substr(0, prefix.size()));
        EXPECT_GT(message.size(), prefix.size()) << "the reason is missing";
        expectUntouched(r);
    }
    EXPECT_EQ(descriptors, vrntest::openDescriptorCount());

    // A path through a regular file names nothing, as a missing file does:
    // the library's own words, not the system's "Not a directory".
    const std::string plain = dir.file("plain.txt");
    vrntest::writeFile(plain, "text");
    const std::string throughPlain = plain + "/b.cgns";
    Result r;
    EXPECT_EQ(openPrefix(throughPlain) + "Error opening file: '" + throughPlain + "' not found!",
              failure(throughPlain, r));
    expectUntouched(r);
}

TEST(CgnsBaseQuery, EmptyNameReturnsTrueAndOnlyEmptiesTheVectors) {
    Result r;
    EXPECT_TRUE(list("", r));
    expectUntouched(r);
}

TEST(CgnsBaseQuery, SecondCallReturnsOnlyTheSecondFilesBases) {
    vrntest::TempDir dir;
    vrntest::writeCgnsFile(dir.file("a.cgns"), CgnsBackEnd::Adf, {"A1", "A2", "A3"});
    vrntest::writeCgnsFile(dir.file("b.cgns"), CgnsBackEnd::Hdf5, {"B1"});
    Result r;
    ASSERT_TRUE(list(dir.file("a.cgns"), r));
    ASSERT_EQ(3, r.count);
    ASSERT_TRUE(list(dir.file("b.cgns"), r));
    EXPECT_EQ(1, r.count);
    EXPECT_EQ(std::vector<int>{1}, r.indices);
    EXPECT_EQ(std::vector<WString>{ascii("B1")}, r.names);

    // A failing second call leaves the first call's count but not its lists.
    EXPECT_NE("", failure(dir.file("none.cgns"), r));
    EXPECT_EQ(1, r.count);
    EXPECT_TRUE(r.indices.empty());
    EXPECT_TRUE(r.names.empty());
}

// Stamps `file` as written by a CGNS library newer than any that reads it.
void stampNewerLibraryVersion(const std::string& file) {
    int cgio = 0;
    double root = 0, node = 0;
    ASSERT_EQ(0, cgio_open_file(file.c_str(), CGIO_MODE_MODIFY, CGIO_FILE_NONE, &cgio));
    ASSERT_EQ(0, cgio_get_root_id(cgio, &root));
    ASSERT_EQ(0, cgio_get_node_id(cgio, root, "CGNSLibraryVersion", &node));
    const float version = 99.0f;
    ASSERT_EQ(0, cgio_write_all_data(cgio, node, &version));
    ASSERT_EQ(0, cgio_close_file(cgio));
}

// The library writes texts naming the file into a fixed buffer; a long name
// must neither end the process nor come back as anything but its own.
TEST(CgnsBaseQuery, LongFileNamesAreListedAndReportedUnderTheirOwnName) {
    vrntest::TempDir dir;
    const std::string folder = dir.file(std::string(200, 'd'));
    ASSERT_EQ(0, mkdir(folder.c_str(), 0755));
    const int descriptors = vrntest::openDescriptorCount();
    for (CgnsBackEnd backEnd : kBackEnds) {
        SCOPED_TRACE(vrntest::backEndName(backEnd));
        const std::string good = folder + "/" + vrntest::backEndName(backEnd) + "_good.cgns";
        vrntest::writeCgnsFile(good, backEnd, {"First", "Second"});
        Result r;
        ASSERT_TRUE(list(good, r));
        EXPECT_EQ(std::vector<WString>(asciiAll({"First", "Second"})), r.names);

        for (const std::string& newer : {folder + "/" + vrntest::backEndName(backEnd) + "_newer.cgns",
                                         dir.file(std::string(vrntest::backEndName(backEnd)) + ".cgns")}) {
            vrntest::writeCgnsFile(newer, backEnd, {"Base"});
            stampNewerLibraryVersion(newer);
            Result n;
            EXPECT_EQ(openPrefix(newer) + "The file " + newer +
                          " was written with a more recent version of the CGNS library.  You must update "
                          "your CGNS library before trying to read this file.",
                      failure(newer, n));
            expectUntouched(n);
        }
    }
    const std::string missing = folder + "/missing.cgns";
    Result r;
    EXPECT_EQ(openPrefix(missing) + "Error opening file: '" + missing + "' not found!", failure(missing, r));
    EXPECT_EQ(descriptors, vrntest::openDescriptorCount());
}

}  // namespace
