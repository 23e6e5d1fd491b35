// The look at a file before the CGNS library opens it must let every sound
// CGNS file through: ADF files that grew over several blocks, were written
// in part or changed in place, and HDF5 files with other superblock versions
// or a user block in front. Whether the library then reads such a file is
// its own affair; the query must never refuse it with a reason of ours.
#include <hdf5.h>

#include <cgnslib.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "VRNUtilities.h"
#include "cgns_file_check.h"
#include "bases_listing.h"
#include "cgns_writer.h"
#include "test_support.h"

namespace {

using WString = std::basic_string<unsigned short>;
using ylt::VRNUtilities::detail::cgnsFileProblem;

using vrntest::Listing;
using vrntest::listBases;

#define REQUIRE_CG(call) ASSERT_EQ(0, (call)) << #call << ": " << cg_get_error()

// ---- ADF files with a history ----------------------------------------------

TEST(CgnsFileCheck, AdfFilesOverManyBlocksWrittenInPartOrChangedInPlacePass) {
    vrntest::TempDir dir;
    ASSERT_EQ(0, cg_set_file_type(CG_FILE_ADF));
    const cgsize_t size[9] = {40, 40, 40, 39, 39, 39, 0, 0, 0};
    const std::vector<double> coords(40 * 40 * 40, 0.25);
    int fn = 0, base = 0, zone = 0, coord = 0;

    // Coordinates spread the data over hundreds of blocks.
    const std::string big = dir.file("big.cgns");
    REQUIRE_CG(cg_open(big.c_str(), CG_MODE_WRITE, &fn));
    REQUIRE_CG(cg_base_write(fn, "Big", 3, 3, &base));
    REQUIRE_CG(cg_zone_write(fn, base, "Zone", size, Structured, &zone));
    REQUIRE_CG(cg_coord_write(fn, base, zone, RealDouble, "CoordinateX", coords.data(), &coord));
    REQUIRE_CG(cg_close(fn));

    // Only a slab of the array written: the rest of its chunk is reserved.
    const std::string partial = dir.file("partial.cgns");
    const cgsize_t from[3] = {1, 1, 1}, to[3] = {40, 40, 2};
    REQUIRE_CG(cg_open(partial.c_str(), CG_MODE_WRITE, &fn));
    REQUIRE_CG(cg_base_write(fn, "Part", 3, 3, &base));
    REQUIRE_CG(cg_zone_write(fn, base, "Zone", size, Structured, &zone));
    REQUIRE_CG(cg_coord_partial_write(fn, base, zone, RealDouble, "CoordinateX", from, to, coords.data(), &coord));
    REQUIRE_CG(cg_close(fn));

    // Changed in place: the large zone deleted (its space becomes free
    // chunks) and bases added after it.
    const std::string changed = dir.file("changed.cgns");
    vrntest::writeFile(changed, vrntest::readFile(big));
    REQUIRE_CG(cg_open(changed.c_str(), CG_MODE_MODIFY, &fn));
    REQUIRE_CG(cg_goto(fn, 1, NULL));
    REQUIRE_CG(cg_delete_node("Zone"));
    REQUIRE_CG(cg_base_write(fn, "Added1", 2, 2, &base));
    REQUIRE_CG(cg_base_write(fn, "Added2", 2, 2, &base));
    REQUIRE_CG(cg_close(fn));

    const std::string many = dir.file("many.cgns");
    vrntest::writeCgnsFile(many, vrntest::CgnsBackEnd::Adf, vrntest::numberedNames("B", 1000));

    const struct {
        std::string file;
        std::vector<std::string> bases;
    } files[] = {{big, {"Big"}},
                 {partial, {"Part"}},
                 {changed, {"Big", "Added1", "Added2"}},
                 {many, vrntest::numberedNames("B", 1000)}};
    for (const auto& f : files) {
        SCOPED_TRACE(f.file);
        EXPECT_EQ("", cgnsFileProblem(f.file));
        const Listing l = listBases(f.file);
        EXPECT_FALSE(l.threw) << l.message;
        EXPECT_EQ(f.bases, l.names);
    }
}

// ---- HDF5 files laid out differently ----------------------------------------

// Copies the HDF5 form of a CGNS file into a new file made with the given
// user block size and format bounds: the root group's attributes and every
// object under it, so that the copy holds the same CGNS tree.
herr_t copyAttribute(hid_t from, const char* name, const H5A_info_t*, void* target) {
    const hid_t a = H5Aopen(from, name, H5P_DEFAULT);
    const hid_t type = H5Aget_type(a);
    const hid_t space = H5Aget_space(a);
    std::vector<char> value(H5Tget_size(type) * static_cast<std::size_t>(H5Sget_simple_extent_npoints(space)) + 1);
    herr_t status = H5Aread(a, type, value.data());
    const hid_t b = H5Acreate2(*static_cast<hid_t*>(target), name, type, space, H5P_DEFAULT, H5P_DEFAULT);
    if (status >= 0) status = H5Awrite(b, type, value.data());
    H5Aclose(b);
    H5Sclose(space);
    H5Tclose(type);
    H5Aclose(a);
    return status < 0 ? -1 : 0;
}

herr_t copyObject(hid_t group, const char* name, const H5L_info_t*, void* target) {
    return H5Ocopy(group, name, *static_cast<hid_t*>(target), name, H5P_DEFAULT, H5P_DEFAULT) < 0 ? -1 : 0;
}

// The superblock version of the copy, or -1 when it could not be made.
int copyHdf5(const std::string& from, const std::string& to, hsize_t userBlock, H5F_libver_t low,
             H5F_libver_t high) {
    const hid_t create = H5Pcreate(H5P_FILE_CREATE);
    const hid_t access = H5Pcreate(H5P_FILE_ACCESS);
    if (userBlock) H5Pset_userblock(create, userBlock);
    H5Pset_libver_bounds(access, low, high);
    const hid_t out = H5Fcreate(to.c_str(), H5F_ACC_TRUNC, create, access);
    const hid_t in = H5Fopen(from.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
    H5Pclose(create);
    H5Pclose(access);
    if (out < 0 || in < 0) return -1;
    const hid_t rootIn = H5Gopen2(in, "/", H5P_DEFAULT);
    hid_t rootOut = H5Gopen2(out, "/", H5P_DEFAULT);
    const bool copied = H5Aiterate2(rootIn, H5_INDEX_NAME, H5_ITER_NATIVE, NULL, copyAttribute, &rootOut) >= 0 &&
                        H5Literate(rootIn, H5_INDEX_NAME, H5_ITER_NATIVE, NULL, copyObject, &rootOut) >= 0;
    H5Gclose(rootIn);
    H5Gclose(rootOut);
    unsigned superblock = 0;
    const hid_t plist = H5Fget_create_plist(out);
    H5Pget_version(plist, &superblock, NULL, NULL, NULL);
    H5Pclose(plist);
    H5Fclose(in);
    H5Fclose(out);
    return copied ? static_cast<int>(superblock) : -1;
}

TEST(CgnsFileCheck, Hdf5FilesWithOtherSuperblocksOrAUserBlockPass) {
    vrntest::TempDir dir;
    const std::vector<std::string> bases{"Left", "Right"};
    const std::string source = dir.file("source.cgns");
    vrntest::writeCgnsFile(source, vrntest::CgnsBackEnd::Hdf5, bases);
    const std::string goodAdf = dir.file("good_adf.cgns");
    vrntest::writeCgnsFile(goodAdf, vrntest::CgnsBackEnd::Adf, {"Adf"});

    const struct {
        const char* name;
        hsize_t userBlock;
        H5F_libver_t low, high;
        bool libraryReadsIt;  // every CGNS library of the 3.x series and later does
    } variants[] = {
        {"superblock0.cgns", 0, H5F_LIBVER_EARLIEST, H5F_LIBVER_LATEST, true},
        {"superblock2.cgns", 0, H5F_LIBVER_V18, H5F_LIBVER_V18, true},
        {"superblock3.cgns", 0, H5F_LIBVER_V110, H5F_LIBVER_V110, false},
        {"userblock512.cgns", 512, H5F_LIBVER_EARLIEST, H5F_LIBVER_LATEST, false},
        {"userblock4096_superblock3.cgns", 4096, H5F_LIBVER_V110, H5F_LIBVER_V110, false},
    };
    for (const auto& v : variants) {
        SCOPED_TRACE(v.name);
        const std::string file = dir.file(v.name);
        ASSERT_LE(0, copyHdf5(source, file, v.userBlock, v.low, v.high));
        EXPECT_EQ("", cgnsFileProblem(file));
        const Listing l = listBases(file);
        if (l.threw) {
            // Refused by the library itself, never by the look before it.
            EXPECT_FALSE(v.libraryReadsIt) << l.message;
            const std::string prefix = "Can't open " + file + " for reading.\nReason: ";
            EXPECT_EQ(prefix, l.message.substr(0, prefix.size()));
            const std::string reason = l.message.substr(prefix.size());
            EXPECT_NE(0u, reason.size());
            for (const char* ours : {"The file is too short", "The ADF file is truncated", "The file name holds"})
                EXPECT_NE(0u, reason.find(ours)) << reason;
        } else {
            EXPECT_EQ(bases, l.names);
        }
        // Whatever the library made of it, the next files still list.
        EXPECT_EQ(bases, listBases(source).names);
        EXPECT_EQ(std::vector<std::string>{"Adf"}, listBases(goodAdf).names);
    }
}

}  // namespace
