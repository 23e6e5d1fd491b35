// The bytes of text datasets, damaged length fields, and requests whose
// allocations fail one after another.
#include "file_fixture.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace iotest;
using vrntest::TempDir;

namespace {

// Writes one dataset of the datatype with the values in d, as text.
int writeText(Client &client, const std::string &what, const char *datatype, int number, Data &d) {
    Header fmt;
    Data f;
    f.setName("F");
    if (int rc = client.request(IO_SET_DEFAULT_FORMAT, fmt, f)) return rc;
    Header h(what, "here", 1);
    snprintf(h.datatype, sizeof h.datatype, "%s", datatype);
    h.number = number;
    return client.request(IO_WRITE_DS, h, d);
}

// The data section of the first dataset: the lines between "*DATA" and
// "*ENDDATASET".
std::string dataLines(const std::string &file) {
    size_t from = file.find("*DATA\n");
    size_t to = file.find("*ENDDATASET", from);
    if (from == std::string::npos || to == std::string::npos) return "";
    return file.substr(from + 6, to - from - 6);
}

}  // namespace

TEST(TextDatasetBytes, RealsAndDoublesAreTwentyWideFourToALineOfEighty) {
    TempDir dir;
    std::string reals = dir.file("reals.dat"), doubles = dir.file("doubles.dat"),
                ints = dir.file("ints.dat");
    {
        Client client;
        ASSERT_EQ(IO_OK, client.open(reals));
        Data d;
        d.setReals({1.5f, -2.25f, 3e10f, -4e-10f, 0.f});
        ASSERT_EQ(IO_OK, writeText(client, "r", "REAL", 5, d));
    }
    EXPECT_EQ("   1.50000000000E+00  -2.25000000000E+00   3.00000010240E+10  -4.00000005341E-10\n"
              "   0.00000000000E+00\n",
              dataLines(vrntest::readFile(reals)));
    {
        Client client;
        ASSERT_EQ(IO_OK, client.open(doubles));
        Data d;
        d.doubles = {-1.0, 1e300, 2.5, 7.0};
        d.ndoubles = 4;
        d.bind();
        ASSERT_EQ(IO_OK, writeText(client, "d", "DBLE", 4, d));
    }
    EXPECT_EQ("  -1.00000000000E+00  1.00000000000E+300   2.50000000000E+00   7.00000000000E+00\n",
              dataLines(vrntest::readFile(doubles)));
    {
        // Integers as wide as their field still get a blank between them.
        Client client;
        ASSERT_EQ(IO_OK, client.open(ints));
        Data d;
        d.setInts({1, -2147483647 - 1, 2147483647, 42});
        ASSERT_EQ(IO_OK, writeText(client, "i", "INTR", 4, d));
    }
    EXPECT_EQ("         1 -2147483648 2147483647        42\n", dataLines(vrntest::readFile(ints)));

    // And they read back.
    Client client;
    ASSERT_EQ(IO_OK, client.open(reals));
    Data found;
    ASSERT_EQ(IO_OK, client.locate("r", "here", 1, found));
    Header h;
    Data d;
    offsetsOf(d, {found.offsets[0], found.offsets[1]});
    d.setReals(std::vector<float>(5));
    ASSERT_EQ(IO_OK, client.request(IO_READ_DS, h, d));
    EXPECT_EQ((std::vector<float>{1.5f, -2.25f, 3e10f, -4e-10f, 0.f}), d.reals);
}

TEST(TextDatasetBytes, LengthFieldOfLettersIsKeptAndSkippedWhileTheDatasetsAroundItStayReadable) {
    TempDir dir;
    std::string name = dir.file("text.dat");
    {
        Client client;
        Data d;
        ASSERT_EQ(IO_OK, client.open(name));
        d.setInts({1, 2, 3});
        ASSERT_EQ(IO_OK, writeText(client, "a", "INTR", 3, d));
        ASSERT_EQ(IO_OK, writeText(client, "b", "INTR", 3, d));
        ASSERT_EQ(IO_OK, writeText(client, "c", "INTR", 3, d));
    }
    std::string bytes = vrntest::readFile(name);
    // The second dataset's leading length field, after its format line.
    size_t second = bytes.find(std::string("F\0\n", 3), bytes.find("*ENDDATASET"));
    ASSERT_NE(std::string::npos, second);
    size_t field = second + 3;
    bytes.replace(field, 20, std::string(17, ' ') + "abc");
    vrntest::writeFile(name, bytes);
    forceRebuild(name);
    std::string damaged = vrntest::readFile(name);
    const size_t datasetsEnd = damaged.rfind(std::string("F\0\n", 3));

    {
        // The damaged dataset is reported and stepped over; the one after
        // it is found, and a new write goes after them all.
        Client client;
        messages().clear();
        ASSERT_EQ(IO_OK, client.open(name));
        EXPECT_NE(std::string::npos, messages().find("not a number"));
        EXPECT_NE(std::string::npos, messages().find("skipping the"));
        std::vector<int32_t> v;
        EXPECT_EQ(IO_OK, client.readInts("a", "here", 1, v));
        EXPECT_EQ(IO_ERR_NOTLOCATED, client.readInts("b", "here", 1, v));
        EXPECT_EQ(IO_OK, client.readInts("c", "here", 1, v));
        EXPECT_EQ((std::vector<int32_t>{1, 2, 3}), v);
        EXPECT_EQ(IO_OK, client.writeInts("new", "here", 1, {9}));
        EXPECT_EQ(IO_OK, client.close());
    }
    // Nothing of the damaged dataset, nor of those around it, was written over.
    EXPECT_EQ(damaged.substr(0, datasetsEnd).substr(36), vrntest::readFile(name).substr(36, datasetsEnd - 36));
    {
        Client client;
        std::vector<int32_t> v;
        ASSERT_EQ(IO_OK, client.open(name));
        EXPECT_EQ(IO_OK, client.readInts("c", "here", 1, v));
        EXPECT_EQ(IO_OK, client.readInts("new", "here", 1, v));
    }

    // A real 0 with a whole dataset after it is damage too, stepped over.
    bytes = damaged;
    bytes.replace(field, 20, std::string(19, ' ') + "0");
    vrntest::writeFile(name, bytes);
    Client again;
    ASSERT_EQ(IO_OK, again.open(name));
    Data found;
    EXPECT_EQ(IO_OK, again.locate("a", "here", 1, found));
    EXPECT_EQ(IO_OK, again.locate("c", "here", 1, found));
}

namespace {

// Three datasets every failed request must leave readable (integers, a
// structure and a compressed array), and one for the delete request.
void writeSample(const std::string &name) {
    Client client;
    ASSERT_EQ(IO_OK, client.open(name));
    ASSERT_EQ(IO_OK, client.writeInts("ints", "a", 1, {1, 2, 3}));
    Header h("pairs", "a", 2);
    snprintf(h.datatype, sizeof h.datatype, "STRC{INTR:1 REAL:2}");
    h.number = 2;
    Data d;
    d.setInts({7, 8});
    d.setReals({1.f, 2.f, 3.f, 4.f});
    ASSERT_EQ(IO_OK, client.request(IO_WRITE_DS, h, d));
    std::vector<int32_t> many(500);
    for (size_t i = 0; i < many.size(); ++i) many[i] = (int32_t)(i % 7);
    ASSERT_EQ(IO_OK, client.writeInts("many", "a", 3, many));
    ASSERT_EQ(IO_OK, client.writeInts("spare", "a", 4, {4}));
}

void expectSampleReadable(const std::string &name, const std::string &context) {
    Client client;
    ASSERT_EQ(IO_OK, client.open(name)) << context;
    std::vector<int32_t> values;
    EXPECT_EQ(IO_OK, client.readInts("ints", "a", 1, values)) << context;
    EXPECT_EQ((std::vector<int32_t>{1, 2, 3}), values) << context;
    EXPECT_EQ(IO_OK, client.readInts("many", "a", 3, values)) << context;
    EXPECT_EQ(500u, values.size()) << context;
    Data found;
    EXPECT_EQ(IO_OK, client.locate("pairs", "a", 2, found)) << context;
}

// One request made on an open file, with the n-th allocation failing.
using Request = int (*)(Client &, const std::string &other);

int writeRequest(Client &c, const std::string &) {
    std::vector<int32_t> v(300, 5);
    return c.writeInts("new", "b", 4, v);
}
int locateRequest(Client &c, const std::string &) {
    Data d;
    return c.locate("*", "*", -2, d);
}
int readRequest(Client &c, const std::string &) {
    std::vector<int32_t> v;
    return c.readInts("many", "a", 3, v);
}
int readAsRequest(Client &c, const std::string &) {
    Data found;
    if (int rc = c.locate("pairs", "a", 2, found)) return rc;
    Header h;
    snprintf(h.datatype, sizeof h.datatype, "STRC{INTR:1 DBLE:2}");
    Data d;
    offsetsOf(d, {found.offsets[0], found.offsets[1]});
    d.setInts({0, 0});
    d.doubles.assign(4, 0);
    d.ndoubles = 4;
    d.bind();
    return c.request(IO_READ_DS_AS, h, d);
}
int deleteRequest(Client &c, const std::string &) {
    Header h("spare", "a", 4);
    Data d;
    return c.request(IO_DELETE_DS, h, d);
}
int updateRequest(Client &c, const std::string &) {
    Header h;
    Data d;
    return c.request(IO_UPDATE_INDEX, h, d);
}
int recreateRequest(Client &c, const std::string &) {
    Header h;
    Data d;
    return c.request(IO_RECREATE_INDEX, h, d);
}
int copyRequest(Client &c, const std::string &other) {
    if (int rc = c.open(other, IO_OPEN_SECONDARY)) return rc;
    Header h;
    Data d;
    return c.request(IO_COPY_ALLVALID_DS, h, d);
}
int formatRequest(Client &c, const std::string &) {
    Header h;
    Data d;
    d.setName("L5");
    return c.request(IO_SET_DEFAULT_FORMAT, h, d);
}

}  // namespace

TEST(AllocationFailures, EveryRequestAnswersItsCodeLeaksNothingAndKeepsTheFile) {
    TempDir dir;
    std::string name = dir.file("sample.dat"), other = dir.file("other.dat");
    writeSample(name);
    const std::string pristine = vrntest::readFile(name);
    const struct {
        const char *label;
        Request run;
    } requests[] = {{"write", writeRequest},   {"locate", locateRequest}, {"read", readRequest},
                    {"read as", readAsRequest}, {"delete", deleteRequest}, {"update", updateRequest},
                    {"recreate", recreateRequest}, {"copy", copyRequest}, {"format", formatRequest}};
    for (const auto &request : requests) {
        bool done = false;
        for (int n = 1; !done && n < 200; ++n) {
            std::string context = std::string(request.label) + " failing allocation " + std::to_string(n);
            vrntest::writeFile(name, pristine);
            unlink(other.c_str());
            {
                Client client;
                ASSERT_EQ(IO_OK, client.open(name)) << context;
                messages().clear();
                kwxIoFailAllocation(n);
                int rc = request.run(client, other);
                done = kwxIoFailAllocation(0) < n;
                if (done) {
                    EXPECT_EQ(IO_OK, rc) << context;
                } else {
                    EXPECT_TRUE(rc == IO_ERR_ALLOC || rc == IO_ERR_MEMORY) << context << ": " << rc;
                    EXPECT_FALSE(messages().empty()) << context;
                }
            }
            expectSampleReadable(name, context);
        }
        EXPECT_TRUE(done) << request.label;
    }
}

// An open whose stored index cannot be read for want of memory rebuilds it
// from the datasets, as for a damaged one; any other failure answers its
// code with the file unchanged.
TEST(AllocationFailures, OpeningAnswersItsCodeOrRebuildsAndKeepsTheFile) {
    TempDir dir;
    std::string name = dir.file("sample.dat");
    writeSample(name);
    for (bool rebuild : {false, true}) {
        if (rebuild) forceRebuild(name);
        std::string before = vrntest::readFile(name);
        bool done = false;
        for (int n = 1; !done && n < 100; ++n) {
            std::string context = std::string(rebuild ? "rebuild" : "open") + " failing allocation " +
                                  std::to_string(n);
            vrntest::writeFile(name, before);
            Client client;
            messages().clear();
            kwxIoFailAllocation(n);
            int rc = client.open(name);
            done = kwxIoFailAllocation(0) < n;
            if (done) {
                EXPECT_EQ(IO_OK, rc) << context;
                break;
            }
            if (rc == IO_OK) {
                EXPECT_NE(std::string::npos, messages().find("attempting to rebuild")) << context;
                continue;
            }
            EXPECT_TRUE(rc == IO_ERR_ALLOC || rc == IO_ERR_MEMORY) << context << ": " << rc;
            EXPECT_NE(std::string::npos, messages().find("malloc")) << context << messages();
            client.close();
            EXPECT_EQ(before, vrntest::readFile(name)) << context;
        }
        EXPECT_TRUE(done);
    }
    expectSampleReadable(name, "after the failed opens");
}

// The names that requests copy from their chars: a failed copy answers 28,
// but 14 for the file-exists request, each with its own message.
TEST(AllocationFailures, NameCopiesAnswerTheirOwnCodes) {
    TempDir dir;
    Client client;
    Header h;
    Data d;
    d.setName(dir.file("a.dat"));
    const struct {
        int request, code;
        const char *message;
    } cases[] = {
        {IO_OPEN_PRIMARY, IO_ERR_ALLOC, "iocnt: error allocating space for file name: malloc of "},
        {IO_OPEN_TEXT, IO_ERR_ALLOC, "iocnt: error allocating space for file name: malloc of "},
        {IO_FILE_EXISTS, IO_ERR_MEMORY, "iocnt: check file state (malloc failed) syserr:: "},
        {IO_SET_DEFAULT_FORMAT, IO_ERR_ALLOC, "iocnt: error allocating space for the default format: malloc of "},
    };
    for (const auto &c : cases) {
        messages().clear();
        kwxIoFailAllocation(1);
        EXPECT_EQ(c.code, client.request(c.request, h, d)) << c.request;
        kwxIoFailAllocation(0);
        EXPECT_EQ(0u, messages().rfind(c.message, 0)) << c.request << ": " << messages();
    }
}
