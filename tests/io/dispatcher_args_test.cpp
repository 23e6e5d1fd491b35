// Argument checks of the dispatcher: every request refuses missing
// structures, arrays, names and closed files with its code and a message,
// and never crashes.
#include "file_fixture.h"

#include <gtest/gtest.h>

using namespace iotest;
using vrntest::TempDir;

namespace {

bool reported(const std::string &text) { return messages().find(text) != std::string::npos; }

}  // namespace

TEST(DispatcherArguments, NullRoutineAnswers19AndSaysNothing) {
    Header h;
    Data d;
    IO_control *c = iocontrol_alloc();
    messages().clear();
    EXPECT_EQ(IO_ERR_ROUTINE, iocntc(IO_OPEN_PRIMARY, nullptr, &h.h, &d.d, c));
    EXPECT_EQ(IO_ERR_ROUTINE, iocntc(IO_CLOSE_ALL, nullptr, nullptr, nullptr, nullptr));
    EXPECT_TRUE(messages().empty());
    iocontrol_free(c);
}

TEST(DispatcherArguments, UnknownRequestsAnswer22) {
    Client client;
    Header h;
    Data d;
    for (int request : {49, -1, 1000, INT_MIN}) {
        messages().clear();
        EXPECT_EQ(IO_ERR_REQUEST, client.request(request, h, d)) << request;
        EXPECT_EQ("iocnt: unknown request\n", messages()) << request;
    }
}

TEST(DispatcherArguments, MissingStructuresAnswer14WithTheirMessage) {
    IO_control *c = iocontrol_alloc();
    Header h;
    Data d;
    messages().clear();
    EXPECT_EQ(IO_ERR_MEMORY, iocntc(IO_OPEN_PRIMARY, catchMessage, &h.h, nullptr, c));
    EXPECT_EQ("iocntc: IO_data structure is null\n", messages());

    // Every request that needs a header.
    for (int request = 0; request <= IO_CURRENT_HANDLE; ++request) {
        bool headerless = request <= 4 || request == 13 || request == 14 || request == 15 ||
                          request == 17 || request == 39 || request == 45 || request == 46;
        if (headerless) continue;
        messages().clear();
        EXPECT_EQ(IO_ERR_MEMORY, iocntc(request, catchMessage, nullptr, &d.d, c)) << request;
        EXPECT_EQ("iocntc: IO_header structure is null\n", messages()) << request;
    }
    // Reading and writing data go by the header too.
    for (int request : {IO_READ_DATA, IO_WRITE_DATA}) {
        messages().clear();
        EXPECT_EQ(IO_ERR_MEMORY, iocntc(request, catchMessage, nullptr, &d.d, c)) << request;
    }
    messages().clear();
    EXPECT_EQ(IO_ERR_MEMORY, iocntc(IO_OPEN_PRIMARY, catchMessage, &h.h, &d.d, nullptr));
    iocontrol_free(c);
}

TEST(DispatcherArguments, IncompleteHeaderIsRefused) {
    Client client;
    Data d;
    d.sizeForLocate(1);
    for (int field = 0; field < 8; ++field) {
        Header h("a", "b", 1);
        h.numattrb = 1;
        IO_header &x = h.h;
        void **slots[] = {(void **)&x.what,     (void **)&x.where,  (void **)&x.when,
                          (void **)&x.numattrb, (void **)&x.attributes, (void **)&x.number,
                          (void **)&x.datatype, (void **)&x.blockfactor};
        *slots[field] = nullptr;
        messages().clear();
        EXPECT_EQ(IO_ERR_MEMORY, client.request(IO_LOCATE_DS, h, d)) << field;
        EXPECT_EQ("iocntc: header input is wrong\n", messages()) << field;
    }
    // No attributes needed when there are none.
    Header h("a", "b", 1);
    h.h.attributes = nullptr;
    messages().clear();
    EXPECT_EQ(IO_ERR_NOFILE, client.request(IO_LOCATE_DS, h, d));
    EXPECT_FALSE(reported("header input is wrong"));
}

TEST(DispatcherArguments, MissingArraysAreRefused) {
    Client client;
    Header h("a", "b", 1);
    for (int request : {7, 8, 10, 11, 12, 16, 18, 43, 44}) {
        Data d;
        d.sizeForLocate(1);
        d.d.offsets = nullptr;
        messages().clear();
        EXPECT_EQ(IO_ERR_MEMORY, client.request(request, h, d)) << request;
        EXPECT_EQ("iocntc: offset array input is wrong\n", messages()) << request;
    }
    for (int request : {IO_LOCATE_DS, IO_LOCATE_PRIMARY_DS}) {
        Data d;
        d.sizeForLocate(1);
        d.d.ints = nullptr;
        messages().clear();
        EXPECT_EQ(IO_ERR_MEMORY, client.request(request, h, d));
        EXPECT_EQ("iocntc: stringarray or intrarray is wrong\n", messages());
        d.bind();
        d.d.nstrings = nullptr;
        messages().clear();
        EXPECT_EQ(IO_ERR_MEMORY, client.request(request, h, d));
        EXPECT_EQ("iocntc: stringarray or intrarray is wrong\n", messages());
    }
    // Requests that write two offsets need room for two.
    for (int request : {IO_WRITE_HEADER, IO_INSERT_INDEX, IO_INSERT_INDEX_NOSORT}) {
        Data d;
        offsetsOf(d, {0});
        messages().clear();
        EXPECT_EQ(IO_ERR_MEMORY, client.request(request, h, d)) << request;
    }
    // Index count, text requests and names without their arrays.
    for (int request : {IO_INDEX_COUNT, IO_READ_TEXT_INTS, IO_WRITE_TEXT_INTS, IO_READ_TEXT_REALS,
                        IO_WRITE_TEXT_REALS, IO_READ_TEXT_LINE, IO_WRITE_TEXT_LINE, IO_SET_FORMAT,
                        IO_SET_DEFAULT_FORMAT, IO_OPEN_PRIMARY, IO_OPEN_SECONDARY, IO_OPEN_TEXT,
                        IO_FILE_EXISTS, IO_WRITE_COMPRESSED_DATA}) {
        Data d;
        messages().clear();
        EXPECT_EQ(IO_ERR_MEMORY, client.request(request, h, d)) << request;
        EXPECT_TRUE(reported("iocntc: ")) << request;
    }
}

TEST(DispatcherArguments, RequestsOnClosedFilesAnswer2) {
    Client client;
    Header h("a", "b", 1);
    Data d;
    d.sizeForLocate(2);
    d.setInts({0, 0});
    d.chars.assign(16, 'x');
    d.nchars = 16;
    d.bind();
    h.number = 1;
    snprintf(h.datatype, sizeof h.datatype, "INTR");
    const int onCurrent[] = {4,  5,  6,  7,  9,  10, 11, 12, 13, 14, 15, 16, 17, 18, 19,
                             20, 21, 22, 23, 24, 25, 26, 27, 39, 40, 41, 42, 43, 44, 45, 47, 48};
    for (int request : onCurrent) {
        messages().clear();
        EXPECT_EQ(IO_ERR_NOFILE, client.request(request, h, d)) << request;
        EXPECT_TRUE(reported("iocntc: no file is open")) << request;
    }
    // After a close, too.
    EXPECT_EQ(IO_OK, client.close());
    messages().clear();
    EXPECT_EQ(IO_ERR_NOFILE, client.request(IO_LOCATE_DS, h, d));
}

TEST(DispatcherArguments, DirectRequestsOnClosedFilesAnswer2) {
    // iocnt skips the argument checks of iocntc, but a request on a file
    // that was never opened, or was closed, still answers instead of
    // reaching into the record.
    TempDir dir;
    Client client;
    Header h("a", "b", 1);
    Data d;
    d.sizeForLocate(2);
    d.setInts({0, 0});
    d.setReals({0, 0});
    d.chars.assign(16, 'x');
    d.nchars = 16;
    d.bind();
    h.number = 1;
    snprintf(h.datatype, sizeof h.datatype, "INTR");
    const int onFile[] = {4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20,
                          21, 22, 23, 24, 25, 26, 27, 39, 40, 41, 42, 43, 44, 45, 47, 48};
    for (int round = 0; round < 2; ++round) {
        for (int request : onFile) {
            messages().clear();
            EXPECT_EQ(IO_ERR_NOFILE, iocnt(request, catchMessage, &h.h, &d.d, client.control()))
                << request;
            EXPECT_TRUE(reported("iocnt: no file is open")) << request;
        }
        // Once more with both files opened and closed again, and the closed
        // secondary made current.
        ASSERT_EQ(IO_OK, client.open(dir.path() + "/p.dat"));
        ASSERT_EQ(IO_OK, client.open(dir.path() + "/s.dat", IO_OPEN_SECONDARY));
        Header none;
        Data nothing;
        ASSERT_EQ(IO_OK, iocnt(IO_CLOSE_ALL, catchMessage, &none.h, &nothing.d, client.control()));
        ASSERT_EQ(IO_OK, iocnt(IO_USE_SECONDARY, catchMessage, &none.h, &nothing.d, client.control()));
    }
}

TEST(DispatcherArguments, NegativeCharacterCountsAreRefused) {
    // A name or format whose count is negative: the array holds just its
    // three characters, without a terminator, and nothing beyond them may
    // be read.
    TempDir dir;
    Client client;
    Header h;
    for (int request : {IO_OPEN_PRIMARY, IO_OPEN_SECONDARY, IO_OPEN_TEXT, IO_FILE_EXISTS,
                        IO_SET_DEFAULT_FORMAT}) {
        Data d;
        d.chars = {'u', '5', 'x'};
        d.nchars = -1;
        d.bind();
        messages().clear();
        EXPECT_EQ(IO_ERR_MEMORY, client.request(request, h, d)) << request;
        EXPECT_TRUE(reported("iocntc: ")) << request;
        messages().clear();
        EXPECT_EQ(IO_ERR_MEMORY, iocnt(request, catchMessage, &h.h, &d.d, client.control()))
            << request;
    }
    // The default format stayed unset: new datasets are still written u5.
    ASSERT_EQ(IO_OK, client.open(dir.file("f.kwx")));
    ASSERT_EQ(IO_OK, client.writeInts("a", "b", 0, {1}));
    EXPECT_STREQ("u5", client.control()->primary.format);
}

TEST(DispatcherArguments, TextRequestsBeforeOpeningAnswer10Or11) {
    Client client;
    Header h("a", "b", 1);
    Data d;
    d.setInts({1, 2});
    d.reals = {1.0f};
    d.nreals = 1;
    d.chars.assign(8, ' ');
    d.nchars = 8;
    d.bind();
    for (int request : {32, 34, 36}) {
        messages().clear();
        EXPECT_EQ(IO_ERR_READ, client.request(request, h, d)) << request;
        EXPECT_EQ("iocnt: no plain text file is opened\n", messages()) << request;
    }
    for (int request : {33, 35, 37}) {
        messages().clear();
        EXPECT_EQ(IO_ERR_WRITE, client.request(request, h, d)) << request;
        EXPECT_EQ("iocnt: no plain text file is opened\n", messages()) << request;
    }
}

TEST(DispatcherArguments, FileExistsAnswers24QuietlyForAMissingFile) {
    TempDir dir;
    Client client;
    Header h("a", "b", 1);
    Data d;
    d.setName(dir.file("missing"));
    messages().clear();
    EXPECT_EQ(IO_ERR_NOEXIST, client.request(IO_FILE_EXISTS, h, d));
    EXPECT_TRUE(messages().empty());
    vrntest::writeFile(dir.file("there"), "x");
    d.setName(dir.file("there"));
    EXPECT_EQ(IO_OK, client.request(IO_FILE_EXISTS, h, d));
}

TEST(DispatcherArguments, TextLinesRoundTripAsBlankPaddedFields) {
    TempDir dir;
    Client client;
    Header h("a", "b", 1);
    Data d;
    d.setName(dir.file("notes.txt"));
    ASSERT_EQ(IO_OK, client.request(IO_OPEN_TEXT, h, d));
    d.chars.assign(12, '\0');
    memcpy(d.chars.data(), "first", 5);
    d.nchars = 12;
    d.bind();
    ASSERT_EQ(IO_OK, client.request(IO_WRITE_TEXT_LINE, h, d));
    ASSERT_EQ(IO_OK, client.request(IO_CLOSE_TEXT, h, d));
    EXPECT_EQ("first       \n", vrntest::readFile(dir.file("notes.txt")));
    EXPECT_FALSE(exists(dir.file("notes.txt.lck")));

    d.setName(dir.file("notes.txt"));
    ASSERT_EQ(IO_OK, client.request(IO_OPEN_TEXT, h, d));
    d.chars.assign(8, '#');
    d.nchars = 8;
    d.bind();
    ASSERT_EQ(IO_OK, client.request(IO_READ_TEXT_LINE, h, d));
    EXPECT_EQ("first   ", std::string(d.chars.data(), 8));
    messages().clear();
    EXPECT_EQ(IO_ERR_READ, client.request(IO_READ_TEXT_LINE, h, d));
    EXPECT_TRUE(reported("iocnt: read from the plain text file failed\n"));
    EXPECT_EQ(IO_OK, client.request(IO_CLOSE_TEXT, h, d));
}
