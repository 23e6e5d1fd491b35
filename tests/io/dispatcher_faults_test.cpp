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

TEST(TextDatasetBytes, LengthFieldOfLettersRefusesTheFileAndLeavesItUnchanged) {
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

    Client client;
    messages().clear();
    EXPECT_EQ(IO_ERR_PARSE, client.open(name));
    EXPECT_NE(std::string::npos, messages().find("not a number"));
    Data d;
    d.setInts({9});
    client.writeInts("new", "here", 1, d.ints);
    client.close();
    EXPECT_EQ(damaged, vrntest::readFile(name));

    // A real 0 is still an interrupted write: the scan keeps what is before.
    bytes = damaged;
    bytes.replace(field, 20, std::string(19, ' ') + "0");
    vrntest::writeFile(name, bytes);
    Client again;
    ASSERT_EQ(IO_OK, again.open(name));
    Data found;
    EXPECT_EQ(IO_OK, again.locate("a", "here", 1, found));
    EXPECT_EQ(IO_ERR_NOTLOCATED, again.locate("c", "here", 1, found));
}
