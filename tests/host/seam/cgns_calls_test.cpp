// The base query against a table of CGNS calls of the test's own: paths
// that no real file produces, and which calls each path makes.
#include <cgnslib.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "VRNUtilities.h"
#include "cgns_calls.h"
#include "cgns_writer.h"
#include "test_support.h"

namespace {

using WString = std::basic_string<unsigned short>;
using ylt::VRNUtilities::detail::CgnsCalls;
using ylt::VRNUtilities::detail::libraryCgnsCalls;
using ylt::VRNUtilities::detail::setCgnsCalls;

// What the fake table does and what it saw. One instance at a time, so the
// table's plain function pointers reach it through a static.
struct Fake {
    // Behaviour
    int openResult = 0;      // non-zero: open fails with this
    int openNumber = 0;      // file number a failing open leaves behind
    const char* reason = "fake reason";
    int nbasesResult = 0;
    int unreadableBase = 0;  // this base fails to read
    // Record
    std::vector<std::string> calls;
    std::vector<int> closed;
    int opened = 0;

    static Fake* current;
};
Fake* Fake::current = nullptr;

int fakeOpen(const char* file, int mode, int* fn) {
    Fake& f = *Fake::current;
    f.calls.push_back("open");
    if (f.openResult != 0) {
        *fn = f.openNumber;
        return f.openResult;
    }
    const int r = libraryCgnsCalls().open(file, mode, fn);
    if (r == 0) f.opened = *fn;
    return r;
}
int fakeNbases(int fn, int* n) {
    Fake& f = *Fake::current;
    f.calls.push_back("nbases");
    if (f.nbasesResult != 0) return f.nbasesResult;
    return libraryCgnsCalls().nbases(fn, n);
}
int fakeBaseRead(int fn, int b, char* name, int* cell, int* phys) {
    Fake& f = *Fake::current;
    f.calls.push_back("base_read " + std::to_string(b));
    if (b == f.unreadableBase) return CG_ERROR;
    return libraryCgnsCalls().baseRead(fn, b, name, cell, phys);
}
int fakeClose(int fn) {
    Fake& f = *Fake::current;
    f.calls.push_back("close");
    f.closed.push_back(fn);
    // Only a file the library really opened goes to it.
    return fn == f.opened ? libraryCgnsCalls().close(fn) : 0;
}
const char* fakeGetError() {
    Fake& f = *Fake::current;
    f.calls.push_back("get_error");
    return f.openResult != 0 ? f.reason : libraryCgnsCalls().getError();
}

void fakeReleaseFailedOpen(int fn) {
    Fake& f = *Fake::current;
    f.calls.push_back("release " + std::to_string(fn));
}

const CgnsCalls kFakeCalls = {fakeOpen, fakeNbases, fakeBaseRead, fakeClose, fakeGetError, fakeReleaseFailedOpen};

class CgnsCallTable : public ::testing::Test {
protected:
    void SetUp() override {
        Fake::current = &fake;
        previous = setCgnsCalls(&kFakeCalls);
    }
    void TearDown() override {
        setCgnsCalls(previous);
        Fake::current = nullptr;
    }
    std::string write(const std::string& name, vrntest::CgnsBackEnd be, const std::vector<std::string>& bases) {
        const std::string file = dir.file(name);
        vrntest::writeCgnsFile(file, be, bases);
        return file;
    }
    // Lists `file`; the exception's message, or "" on success.
    std::string list(const std::string& file) {
        try {
            EXPECT_TRUE(ylt::VRNUtilities::getBasesFromCGNSFile(file, count, indices, names));
        } catch (const ylt::vrnutilities::error& e) {
            EXPECT_EQ("getBasesFromCGNSFile", e.getMethod());
            return e.getMessage();
        }
        return "";
    }

    Fake fake;
    const CgnsCalls* previous = nullptr;
    vrntest::TempDir dir;
    int count = -7;
    std::vector<int> indices{9};
    std::vector<WString> names{WString(1, 'x')};
};

using Calls = std::vector<std::string>;

TEST_F(CgnsCallTable, BaseThatCannotBeReadIsLeftOut) {
    for (auto be : {vrntest::CgnsBackEnd::Adf, vrntest::CgnsBackEnd::Hdf5}) {
        SCOPED_TRACE(vrntest::backEndName(be));
        fake = Fake();
        fake.unreadableBase = 2;
        EXPECT_EQ("", list(write("three.cgns", be, {"One", "Two", "Three"})));
        EXPECT_EQ((std::vector<int>{1, 3}), indices);
        EXPECT_EQ((std::vector<WString>{WString({'O', 'n', 'e'}), WString({'T', 'h', 'r', 'e', 'e'})}), names);
        EXPECT_EQ(2, count);
        EXPECT_EQ((Calls{"open", "nbases", "base_read 1", "base_read 2", "base_read 3", "close"}), fake.calls);
    }
}

TEST_F(CgnsCallTable, NoBaseReadableGivesAnEmptyListAndCountZero) {
    fake.unreadableBase = 1;
    EXPECT_EQ("", list(write("one.cgns", vrntest::CgnsBackEnd::Hdf5, {"Only"})));
    EXPECT_EQ(0, count);
    EXPECT_TRUE(indices.empty());
    EXPECT_TRUE(names.empty());
}

TEST_F(CgnsCallTable, FailedBaseCountThrowsAndClosesTheFile) {
    fake.nbasesResult = CG_ERROR;
    const std::string file = write("one.cgns", vrntest::CgnsBackEnd::Adf, {"Only"});
    EXPECT_EQ("CGNS file doesn't contain a Base Index.", list(file));
    EXPECT_EQ((Calls{"open", "nbases", "close"}), fake.calls);
    EXPECT_EQ(std::vector<int>{fake.opened}, fake.closed);
    EXPECT_EQ(-7, count);
    EXPECT_TRUE(indices.empty());
}

TEST_F(CgnsCallTable, EveryOpenedFileIsClosedOnce) {
    const std::string none = write("none.cgns", vrntest::CgnsBackEnd::Hdf5, {});
    EXPECT_EQ("CGNS file doesn't contain a Base Index.", list(none));
    EXPECT_EQ((Calls{"open", "nbases", "close"}), fake.calls);
    EXPECT_EQ(std::vector<int>{fake.opened}, fake.closed);

    fake = Fake();
    EXPECT_EQ("", list(write("two.cgns", vrntest::CgnsBackEnd::Adf, {"A", "B"})));
    EXPECT_EQ((Calls{"open", "nbases", "base_read 1", "base_read 2", "close"}), fake.calls);
    EXPECT_EQ(std::vector<int>{fake.opened}, fake.closed);
}

TEST_F(CgnsCallTable, FailedOpenUsesTheLibrarysReasonAndReleasesTheFileItKept) {
    const std::string file = write("one.cgns", vrntest::CgnsBackEnd::Adf, {"Only"});
    // The library failed before taking a file number: nothing to close.
    fake.openResult = CG_ERROR;
    EXPECT_EQ("Can't open " + file + " for reading.\nReason: fake reason", list(file));
    EXPECT_EQ((Calls{"open", "get_error"}), fake.calls);
    EXPECT_EQ(-7, count);
    EXPECT_TRUE(names.empty());

    // The library failed after taking number 5: what it keeps open for it
    // is released (not closed, which frees half-read contents), after the
    // reason was taken.
    fake = Fake();
    fake.openResult = CG_ERROR;
    fake.openNumber = 5;
    EXPECT_EQ("Can't open " + file + " for reading.\nReason: fake reason", list(file));
    EXPECT_EQ((Calls{"open", "get_error", "release 5"}), fake.calls);
    EXPECT_TRUE(fake.closed.empty());

    // No reason at all still gives the message's frame.
    fake = Fake();
    fake.openResult = CG_ERROR;
    fake.reason = nullptr;
    EXPECT_EQ("Can't open " + file + " for reading.\nReason: ", list(file));
}

TEST_F(CgnsCallTable, EmptyNameMakesNoCall) {
    EXPECT_EQ("", list(""));
    EXPECT_TRUE(fake.calls.empty());
    EXPECT_EQ(-7, count);
    EXPECT_TRUE(indices.empty());
    EXPECT_TRUE(names.empty());
}

TEST_F(CgnsCallTable, NameWithNulIsRefusedRatherThanCut) {
    const std::string file = write("one.cgns", vrntest::CgnsBackEnd::Hdf5, {"Only"});
    const std::string name = file + std::string(1, '\0') + "other";
    EXPECT_EQ("Can't open " + name + " for reading.\nReason: The file name holds a NUL character.", list(name));
    EXPECT_TRUE(fake.calls.empty());
}

TEST_F(CgnsCallTable, FolderFifoAndDeviceAreRefusedAsNotRegularFiles) {
    const std::string folder = dir.file("folder.cgns");
    const std::string fifo = dir.file("fifo.cgns");
    ASSERT_EQ(0, mkdir(folder.c_str(), 0755));
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0644));
    for (const std::string& file : {folder, fifo, std::string("/dev/null")})
        EXPECT_EQ("Can't open " + file + " for reading.\nReason: The file is not a regular file.", list(file));
    EXPECT_TRUE(fake.calls.empty());
}

// The library would call the first "not found" and give the second no
// cause. Run as an unprivileged user (root may read anything).
TEST_F(CgnsCallTable, AFileTheUserMayNotReadGivesTheSystemsReason) {
    const std::string unreadable = write("unreadable.cgns", vrntest::CgnsBackEnd::Adf, {"Base"});
    const std::string closed = dir.file("closed");
    ASSERT_EQ(0, mkdir(closed.c_str(), 0700));
    const std::string inClosed = closed + "/b.cgns";
    vrntest::writeCgnsFile(inClosed, vrntest::CgnsBackEnd::Adf, {"Base"});
    ASSERT_EQ(0, chmod(unreadable.c_str(), 0200));
    ASSERT_EQ(0, chmod(dir.path().c_str(), 0711));
    auto r = vrntest::runInChild([&] {
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            return 10;
        if (access(unreadable.c_str(), R_OK) == 0) return 11;
        std::printf("%s\n%s\n", list(unreadable).c_str(), list(inClosed).c_str());
        return fake.calls.empty() ? 0 : 12;
    });
    chmod(dir.path().c_str(), 0700);
    if (r.exitStatus == 10) GTEST_SKIP() << "this machine does not let the test become an unprivileged user";
    if (r.exitStatus == 11) GTEST_SKIP() << "the unprivileged user may read a file without read permission";
    EXPECT_EQ(0, r.exitStatus) << r.err;
    EXPECT_EQ("Can't open " + unreadable + " for reading.\nReason: Permission denied\nCan't open " + inClosed +
                  " for reading.\nReason: Permission denied\n",
              r.out);
}

TEST_F(CgnsCallTable, ShortAndTruncatedAdfFilesAreRefusedBeforeTheLibrarySeesThem) {
    const std::string whole = vrntest::readFile(write("whole.cgns", vrntest::CgnsBackEnd::Adf, {"Whole"}));
    const std::string shortFile = dir.file("short.cgns");
    vrntest::writeFile(shortFile, whole.substr(0, 185));
    EXPECT_EQ("Can't open " + shortFile + " for reading.\nReason: The file is too short to be a CGNS file (185 bytes).",
              list(shortFile));
    const std::string emptyFile = dir.file("empty.cgns");
    vrntest::writeFile(emptyFile, "");
    EXPECT_EQ("Can't open " + emptyFile + " for reading.\nReason: The file is too short to be a CGNS file (0 bytes).",
              list(emptyFile));
    EXPECT_TRUE(fake.calls.empty());

    // The header records where the data ends; the file may stop right
    // after that byte (the rest of the last block is padding) but not
    // before it.
    std::size_t used = whole.size();
    const std::string cut = dir.file("cut.cgns");
    for (std::size_t n = 186; n < whole.size(); ++n) {
        vrntest::writeFile(cut, whole.substr(0, n));
        fake = Fake();
        if (list(cut).empty()) {
            used = n;
            break;
        }
        EXPECT_TRUE(fake.calls.empty()) << "cut at " << n << " reached the library";
    }
    ASSERT_LT(used, whole.size()) << "no shorter copy of the file is accepted";
    EXPECT_EQ(std::vector<WString>{WString({'W', 'h', 'o', 'l', 'e'})}, names);
    fake = Fake();
    vrntest::writeFile(cut, whole.substr(0, used - 1));
    EXPECT_EQ("Can't open " + cut + " for reading.\nReason: The ADF file is truncated: it holds " +
                  std::to_string(used - 1) + " bytes of " + std::to_string(used) + ".",
              list(cut));
}

}  // namespace
