// Requests beyond whole-dataset writing: a dataset built piece by piece,
// reading headers and data separately, conversion on read, the formats,
// the index requests and the plain text file.
#include "file_fixture.h"

#include <gtest/gtest.h>
#include <zlib.h>

using namespace iotest;
using vrntest::readFile;
using vrntest::TempDir;

TEST(DispatcherRequests, DatasetBuiltPieceByPieceReadsBackLikeAWrittenOne) {
    TempDir dir;
    Client c;
    // Older copies for a search between the pieces to retire, and a dataset
    // for a delete there.
    ASSERT_EQ(IO_OK, c.open(dir.file("f.kwx")));
    ASSERT_EQ(IO_OK, c.writeInts("old", "wise", 0, {1}));
    ASSERT_EQ(IO_OK, c.writeInts("old", "wise", 0, {2}));
    ASSERT_EQ(IO_OK, c.writeInts("gone", "wise", 0, {5}));
    ASSERT_EQ(IO_OK, c.close());
    ASSERT_EQ(IO_OK, c.open(dir.file("f.kwx")));
    Header h("piece", "wise", 3);
    snprintf(h.datatype, sizeof h.datatype, "INTR");
    h.number = 3;
    Data d;
    offsetsOf(d, {0, 0});
    ASSERT_EQ(IO_OK, c.request(IO_WRITE_HEADER, h, d));
    int64_t lengthField = d.offsets[0], tagStart = d.offsets[1];
    Data values;
    values.setInts({7, 8, 9});
    ASSERT_EQ(IO_OK, c.request(IO_WRITE_DATATAG, h, values));
    // A search that marks an older copy deleted, and a delete, leave the
    // pieces where they go on.
    Data found;
    ASSERT_EQ(IO_OK, c.locate("old", "wise", 0, found));
    ASSERT_EQ(IO_OK, c.request(IO_WRITE_DATA, h, values));
    Header gone("gone", "wise", 0);
    Data none;
    ASSERT_EQ(IO_OK, c.request(IO_DELETE_DS, gone, none));
    ASSERT_EQ(IO_OK, c.request(IO_WRITE_ENDTAG, h, values));
    Data pos;
    offsetsOf(pos, {0, 0});
    ASSERT_EQ(IO_OK, c.request(IO_TELL, h, pos));
    EXPECT_EQ(1, pos.noffsets);
    int64_t length = pos.offsets[0] - tagStart;
    Data len;
    offsetsOf(len, {length});
    ASSERT_EQ(IO_OK, c.request(IO_WRITE_LENGTH, h, len));
    ASSERT_EQ(IO_OK, c.request(IO_SET_INDEX_POSITION, h, len));
    ASSERT_EQ(IO_OK, c.request(IO_SEEK, h, offsetsOf(pos, {lengthField})));
    ASSERT_EQ(IO_OK, c.request(IO_WRITE_LENGTH, h, len));
    ASSERT_EQ(IO_OK, c.request(IO_INSERT_INDEX, h, offsetsOf(pos, {length, lengthField - 3})));

    std::vector<int32_t> v;
    ASSERT_EQ(IO_OK, c.readInts("piece", "wise", 3, v));
    EXPECT_EQ((std::vector<int32_t>{7, 8, 9}), v);
    // A whole dataset written after it lands behind it.
    ASSERT_EQ(IO_OK, c.writeInts("after", "wise", 0, {1}));
    ASSERT_EQ(IO_OK, c.close());
    ASSERT_EQ(IO_OK, c.open(dir.file("f.kwx")));
    ASSERT_EQ(IO_OK, c.readInts("piece", "wise", 3, v));
    EXPECT_EQ((std::vector<int32_t>{7, 8, 9}), v);
    ASSERT_EQ(IO_OK, c.readInts("after", "wise", 0, v));
    EXPECT_EQ((std::vector<int32_t>{1}), v);
    ASSERT_EQ(IO_OK, c.readInts("old", "wise", 0, v));
    EXPECT_EQ((std::vector<int32_t>{2}), v);
    EXPECT_EQ(IO_ERR_NOTLOCATED, c.readInts("gone", "wise", 0, v));
}

TEST(DispatcherRequests, PiecewiseWritesTakeTheWriteLockAndKeepTheFileReadable) {
    // Each piecewise write straight after opening a file with datasets: it
    // writes where the stored index is, so the index must be written again
    // at close, and no other process may be reading meanwhile.
    const int writes[] = {IO_WRITE_DATATAG, IO_WRITE_DATA, IO_WRITE_ENDTAG, IO_WRITE_LENGTH,
                          IO_WRITE_COMPRESSED_DATA};
    for (int request : writes) {
        TempDir dir;
        const std::string name = dir.file("f.kwx");
        {
            Client c;
            ASSERT_EQ(IO_OK, c.open(name));
            ASSERT_EQ(IO_OK, c.writeInts("first", "w", 0, {1, 2, 3}));
            ASSERT_EQ(IO_OK, c.writeInts("second", "w", 0, {4, 5}));
        }
        Header h("x", "y", 0);
        snprintf(h.datatype, sizeof h.datatype, "INTR");
        h.number = 4;
        Data d;
        offsetsOf(d, {40, 0});
        d.setInts({9, 9, 9, 9});
        d.chars.assign(8, 'z');
        d.nchars = 8;
        d.bind();

        // Another reader holds the file: nothing may be written.
        ASSERT_EQ(0, otherReaderDiesHoldingIt(name).exitStatus);
        const std::string before = readFile(name);
        {
            Client c;
            ASSERT_EQ(IO_OK, c.open(name));
            messages().clear();
            EXPECT_EQ(IO_ERR_LOCKED, c.request(request, h, d)) << request;
            EXPECT_NE(std::string::npos, messages().find("iocnt: setfilebusyflag failed when req =IO_WRITE_"))
                << request;
        }
        EXPECT_EQ(before, readFile(name)) << request;
        ASSERT_EQ(0, unlink((name + ".lck").c_str()));

        // Alone: the write goes ahead, and the file still opens with both
        // datasets after the close.
        {
            Client c;
            ASSERT_EQ(IO_OK, c.open(name));
            EXPECT_EQ(IO_OK, c.request(request, h, d)) << request;
        }
        EXPECT_FALSE(exists(name + ".lck")) << request;
        Client c;
        ASSERT_EQ(IO_OK, c.open(name)) << request;
        std::vector<int32_t> v;
        ASSERT_EQ(IO_OK, c.readInts("first", "w", 0, v)) << request;
        EXPECT_EQ((std::vector<int32_t>{1, 2, 3}), v);
        ASSERT_EQ(IO_OK, c.readInts("second", "w", 0, v)) << request;
        EXPECT_EQ((std::vector<int32_t>{4, 5}), v);
    }
}

TEST(DispatcherRequests, IndexRebuildStepsOverADamagedDatasetAndKeepsTheOthers) {
    // The middle dataset's format bytes are damaged: the stored index still
    // finds the others, a rebuild steps over the damage. The rebuild must
    // not cost the datasets after it, now or after the close.
    TempDir dir;
    const std::string name = dir.file("f.kwx");
    int64_t middle = 0;
    {
        Client c;
        ASSERT_EQ(IO_OK, c.open(name));
        ASSERT_EQ(IO_OK, c.writeInts("a", "w", 0, {1}));
        ASSERT_EQ(IO_OK, c.writeInts("b", "w", 0, {2}));
        ASSERT_EQ(IO_OK, c.writeInts("c", "w", 0, {3}));
        Data found;
        ASSERT_EQ(IO_OK, c.locate("b", "w", 0, found));
        middle = found.offsets[0];
    }
    std::string bytes = readFile(name);
    bytes[(size_t)middle] = 'Q';
    vrntest::writeFile(name, bytes);

    Client c;
    ASSERT_EQ(IO_OK, c.open(name));
    Header h("x", "y", 0);
    Data d;
    messages().clear();
    EXPECT_EQ(IO_OK, c.request(IO_RECREATE_INDEX, h, d));
    EXPECT_NE(std::string::npos, messages().find("got \"Q"));
    std::vector<int32_t> v;
    ASSERT_EQ(IO_OK, c.readInts("c", "w", 0, v));
    EXPECT_EQ((std::vector<int32_t>{3}), v);
    ASSERT_EQ(IO_OK, c.writeInts("d", "w", 0, {4}));
    ASSERT_EQ(IO_OK, c.close());
    ASSERT_EQ(IO_OK, c.open(name));
    for (auto what : {"a", "c", "d"}) {
        ASSERT_EQ(IO_OK, c.readInts(what, "w", 0, v)) << what;
        EXPECT_EQ(1u, v.size()) << what;
    }
}

TEST(DispatcherRequests, CallerCompressedDataReadsBackLikeTheLibrarysOwn) {
    TempDir dir;
    Client c;
    ASSERT_EQ(IO_OK, c.open(dir.file("f.kwx")));
    Header h("packed", "by caller", 1);
    snprintf(h.datatype, sizeof h.datatype, "INTR");
    h.number = 300;
    h.blockfactor = 300;
    Data fmt;
    fmt.setName("u5");
    ASSERT_EQ(IO_OK, c.request(IO_SET_DEFAULT_FORMAT, h, fmt));
    Data d;
    offsetsOf(d, {0, 0});
    ASSERT_EQ(IO_OK, c.request(IO_WRITE_HEADER, h, d));
    const int64_t lengthField = d.offsets[0], tagStart = d.offsets[1];
    ASSERT_EQ(IO_OK, c.request(IO_WRITE_DATATAG, h, d));

    std::vector<int32_t> ints(300);
    for (int i = 0; i < 300; ++i) ints[(size_t)i] = i * 3;
    uLongf packedSize = compressBound(ints.size() * 4);
    std::vector<Bytef> packed(packedSize);
    ASSERT_EQ(Z_OK, compress2(packed.data(), &packedSize, reinterpret_cast<const Bytef *>(ints.data()),
                              ints.size() * 4, 5));
    packedSize = (packedSize + 3) / 4 * 4;  // whole items, as the library stores them
    Data bytes;
    bytes.chars.assign(packed.begin(), packed.begin() + (long)packedSize);
    bytes.nchars = (int32_t)packedSize;
    bytes.bind();
    h.number = (int32_t)packedSize;  // request 47 counts bytes
    ASSERT_EQ(IO_OK, c.request(IO_WRITE_COMPRESSED_DATA, h, bytes));
    h.number = 300;
    ASSERT_EQ(IO_OK, c.request(IO_WRITE_ENDTAG, h, d));
    Data pos;
    offsetsOf(pos, {0});
    ASSERT_EQ(IO_OK, c.request(IO_TELL, h, pos));
    Data len;
    offsetsOf(len, {pos.offsets[0] - tagStart});
    ASSERT_EQ(IO_OK, c.request(IO_WRITE_LENGTH, h, len));
    ASSERT_EQ(IO_OK, c.request(IO_SET_INDEX_POSITION, h, len));
    ASSERT_EQ(IO_OK, c.request(IO_SEEK, h, offsetsOf(pos, {lengthField})));
    ASSERT_EQ(IO_OK, c.request(IO_WRITE_LENGTH, h, len));
    ASSERT_EQ(IO_OK, c.request(IO_INSERT_INDEX, h, offsetsOf(pos, {len.offsets[0], lengthField - 3})));
    std::vector<int32_t> v;
    ASSERT_EQ(IO_OK, c.readInts("packed", "by caller", 1, v));
    EXPECT_EQ(ints, v);

    // Text data cannot hold caller-compressed bytes.
    fmt.setName("F");
    ASSERT_EQ(IO_OK, c.request(IO_SET_DEFAULT_FORMAT, h, fmt));
    h.number = (int32_t)packedSize;
    messages().clear();
    EXPECT_EQ(IO_ERR_FORMAT, c.request(IO_WRITE_COMPRESSED_DATA, h, bytes));
    EXPECT_NE(std::string::npos, messages().find("write_compressed_data: only supports binary data\n"));
    EXPECT_NE(std::string::npos, messages().find("iocnt: write compressed data failed\n"));
}

TEST(DispatcherRequests, PrimaryRequestsLeaveTheSecondaryCurrentUntilItIsClosed) {
    TempDir dir;
    const std::string src = dir.file("p.kwx"), dst = dir.file("s.kwx");
    Client c;
    ASSERT_EQ(IO_OK, c.open(src));
    ASSERT_EQ(IO_OK, c.writeInts("in primary", "w", 1, {11, 12}));
    ASSERT_EQ(IO_OK, c.open(dst, IO_OPEN_SECONDARY));
    ASSERT_EQ(&c.control()->secondary, c.control()->current);
    ASSERT_EQ(IO_OK, c.writeInts("in secondary", "w", 1, {21}));

    Data onP;
    ASSERT_EQ(IO_OK, c.locate("in primary", "w", 1, onP, IO_LOCATE_PRIMARY_DS));
    EXPECT_EQ(1, onP.nints);
    Data none;
    EXPECT_EQ(IO_ERR_NOTLOCATED, c.locate("in secondary", "w", 1, none, IO_LOCATE_PRIMARY_DS));
    EXPECT_EQ(IO_ERR_NOTLOCATED, c.locate("in primary", "w", 1, none));  // the secondary's index
    Header h;
    Data d;
    offsetsOf(d, {onP.offsets[0], onP.offsets[1]});
    d.setInts({0, 0});
    ASSERT_EQ(IO_OK, c.request(IO_READ_PRIMARY_DS, h, d));
    EXPECT_EQ((std::vector<int32_t>{11, 12}), d.ints);
    EXPECT_EQ(&c.control()->secondary, c.control()->current);

    ASSERT_EQ(IO_OK, c.request(IO_CLOSE_SECONDARY, h, d));
    EXPECT_EQ(&c.control()->primary, c.control()->current);
    EXPECT_EQ(nullptr, c.control()->secondary.stream);
    EXPECT_FALSE(exists(dst + ".lck"));
    std::vector<int32_t> v;
    ASSERT_EQ(IO_OK, c.readInts("in primary", "w", 1, v));
    EXPECT_EQ((std::vector<int32_t>{11, 12}), v);
    Client later;
    ASSERT_EQ(IO_OK, later.open(dst));
    ASSERT_EQ(IO_OK, later.readInts("in secondary", "w", 1, v));
    EXPECT_EQ((std::vector<int32_t>{21}), v);
}

TEST(DispatcherRequests, HeaderDataAndConversionReadSeparately) {
    TempDir dir;
    Client c;
    ASSERT_EQ(IO_OK, c.open(dir.file("f.kwx")));
    Header w("reals", "here", 1);
    snprintf(w.datatype, sizeof w.datatype, "REAL");
    w.number = 2;
    Data wd;
    wd.setReals({1.5f, -2.25f});
    ASSERT_EQ(IO_OK, c.request(IO_WRITE_DS, w, wd));
    Data found;
    ASSERT_EQ(IO_OK, c.locate("reals", "here", 1, found));

    // Header alone, then the data tag and the data.
    Header h;
    Data at;
    offsetsOf(at, {found.offsets[0]});
    ASSERT_EQ(IO_OK, c.request(IO_READ_HEADER, h, at));
    EXPECT_STREQ("reals", h.what);
    EXPECT_EQ(2, h.number);
    EXPECT_STREQ("REAL", h.datatype);
    ASSERT_EQ(IO_OK, c.request(IO_READ_DATATAG, h, at));
    Data rd;
    rd.setReals({0, 0});
    ASSERT_EQ(IO_OK, c.request(IO_READ_DATA, h, rd));
    EXPECT_EQ(1.5f, rd.reals[0]);
    EXPECT_EQ(-2.25f, rd.reals[1]);

    // Read as doubles, on the current file and through the primary.
    for (int request : {IO_READ_DS_AS, IO_READ_PRIMARY_DS_AS}) {
        Header as;
        snprintf(as.datatype, sizeof as.datatype, "DBLE");
        Data dd;
        offsetsOf(dd, {found.offsets[0]});
        dd.doubles = {0, 0};
        dd.ndoubles = 2;
        dd.bind();
        ASSERT_EQ(IO_OK, c.request(request, as, dd)) << request;
        EXPECT_EQ(-2.25, dd.doubles[1]);
    }
    // Too little room answers 14 quietly.
    Header small;
    Data none;
    offsetsOf(none, {found.offsets[0]});
    messages().clear();
    EXPECT_EQ(IO_ERR_MEMORY, c.request(IO_READ_PRIMARY_DS, small, none));
    EXPECT_TRUE(messages().empty());
    EXPECT_EQ(2, none.nreals);
}

TEST(DispatcherRequests, FormatsHandlesAndIndexRequests) {
    TempDir dir;
    std::string name = dir.file("f.kwx");
    Client c;
    ASSERT_EQ(IO_OK, c.open(name));
    Header h("a", "b", 0);
    Data fmt;
    fmt.setName("F");
    ASSERT_EQ(IO_OK, c.request(IO_SET_DEFAULT_FORMAT, h, fmt));
    ASSERT_EQ(IO_OK, c.writeInts("text", "b", 0, {12345}));
    Data found;
    ASSERT_EQ(IO_OK, c.locate("text", "b", 0, found));
    fflush(c.control()->primary.stream);
    std::string bytes = readFile(name);
    EXPECT_EQ(std::string("F\0\n", 3), bytes.substr((size_t)found.offsets[0], 3));

    // The current handle identifies the record in use.
    Data handle;
    offsetsOf(handle, {0});
    ASSERT_EQ(IO_OK, c.request(IO_CURRENT_HANDLE, h, handle));
    EXPECT_EQ((int64_t)(intptr_t)&c.control()->primary, handle.offsets[0]);

    // Index count, position and a rebuild.
    Data count;
    count.setInts({0});
    ASSERT_EQ(IO_OK, c.request(IO_INDEX_COUNT, h, count));
    EXPECT_EQ(1, count.ints[0]);
    Data pos;
    offsetsOf(pos, {0});
    ASSERT_EQ(IO_OK, c.request(IO_INDEX_POSITION, h, pos));
    EXPECT_GT(pos.offsets[0], found.offsets[0]);
    ASSERT_EQ(IO_OK, c.request(IO_RECREATE_INDEX, h, pos));
    ASSERT_EQ(IO_OK, c.request(IO_UPDATE_INDEX, h, pos));
    count.setInts({0});
    ASSERT_EQ(IO_OK, c.request(IO_INDEX_COUNT, h, count));
    EXPECT_EQ(1, count.ints[0]);
    std::vector<int32_t> v;
    ASSERT_EQ(IO_OK, c.readInts("text", "b", 0, v));
    EXPECT_EQ((std::vector<int32_t>{12345}), v);

    // A second line for the dataset, inserted by the caller: updating the
    // index retires that line and marks nothing deleted in the file.
    Header text("text", "b", 0);
    Data line;
    offsetsOf(line, {found.offsets[1], found.offsets[0]});
    ASSERT_EQ(IO_OK, c.request(IO_INSERT_INDEX, text, line));
    ASSERT_EQ(IO_OK, c.request(IO_UPDATE_INDEX, h, pos));
    ASSERT_EQ(IO_OK, c.readInts("text", "b", 0, v));
    ASSERT_EQ(IO_OK, c.close());
    iotest::forceRebuild(name);
    ASSERT_EQ(IO_OK, c.open(name));
    EXPECT_EQ(IO_OK, c.readInts("text", "b", 0, v)) << "the dataset was marked deleted";
}

TEST(DispatcherRequests, PlainTextIntegersAndReals) {
    TempDir dir;
    Client c;
    Header h("a", "b", 0);
    Data d;
    d.setName(dir.file("t.txt"));
    ASSERT_EQ(IO_OK, c.request(IO_OPEN_TEXT, h, d));
    d.setInts({1, -2, 30000, 4});
    d.setReals({0.5f, 1e10f});
    ASSERT_EQ(IO_OK, c.request(IO_WRITE_TEXT_INTS, h, d));
    ASSERT_EQ(IO_OK, c.request(IO_WRITE_TEXT_REALS, h, d));
    ASSERT_EQ(IO_OK, c.request(IO_CLOSE_TEXT, h, d));

    Data r;
    r.setName(dir.file("t.txt"));
    ASSERT_EQ(IO_OK, c.request(IO_OPEN_TEXT, h, r));
    r.setInts({0, 0, 0, 0});
    r.setReals({0, 0});
    ASSERT_EQ(IO_OK, c.request(IO_READ_TEXT_INTS, h, r));
    ASSERT_EQ(IO_OK, c.request(IO_READ_TEXT_REALS, h, r));
    EXPECT_EQ((std::vector<int32_t>{1, -2, 30000, 4}), r.ints);
    EXPECT_EQ(0.5f, r.reals[0]);
    EXPECT_EQ(1e10f, r.reals[1]);
    EXPECT_EQ(IO_ERR_READ, c.request(IO_READ_TEXT_INTS, h, r));
    ASSERT_EQ(IO_OK, c.request(IO_CLOSE_TEXT, h, r));
}

TEST(DispatcherRequests, FreeingAControlBlockReleasesTheLocksOfFilesLeftOpen) {
    TempDir dir;
    std::string data = dir.file("f.kwx"), text = dir.file("t.txt");
    IO_control *control = iocontrol_alloc();
    Header h("a", "b", 0);
    Data d;
    d.setName(data);
    ASSERT_EQ(IO_OK, iocntc(IO_OPEN_PRIMARY, catchMessage, &h.h, &d.d, control));
    d.setName(text);
    ASSERT_EQ(IO_OK, iocntc(IO_OPEN_TEXT, catchMessage, &h.h, &d.d, control));
    // Request 1 closes the data files only.
    ASSERT_EQ(IO_OK, iocntc(IO_CLOSE_ALL, catchMessage, &h.h, &d.d, control));
    EXPECT_FALSE(exists(data + ".lck"));
    EXPECT_EQ(1, lockValue(text));
    iocontrol_free(control);
    EXPECT_FALSE(exists(text + ".lck"));
}

TEST(DispatcherRequests, IndexEntriesThatWouldCorruptTheIndexAreRefused) {
    TempDir dir;
    Client c;
    ASSERT_EQ(IO_OK, c.open(dir.file("f.kwx")));
    Data at;
    offsetsOf(at, {10, 36});
    for (const char *what : {"with\x1b" "esc", "new\nline", ""}) {
        Header h(what, "b", 0);
        for (int request : {IO_INSERT_INDEX, IO_INSERT_INDEX_NOSORT}) {
            messages().clear();
            EXPECT_EQ(IO_ERR_PARSE, c.request(request, h, at)) << request;
            EXPECT_NE(std::string::npos, messages().find("iocnt: can't insert index"));
        }
    }
    Header negative("a", "b", -1);
    EXPECT_EQ(IO_ERR_PARSE, c.request(IO_INSERT_INDEX, negative, at));
    // A dataset or header of that name is refused in the header writer's words.
    Data values;
    values.setInts({1});
    negative.number = 1;
    snprintf(negative.datatype, sizeof negative.datatype, "INTR");
    for (int request : {IO_WRITE_DS, IO_WRITE_HEADER}) {
        messages().clear();
        EXPECT_EQ(IO_ERR_PARSE, c.request(request, negative, request == IO_WRITE_DS ? values : at)) << request;
        EXPECT_EQ("write_header: invalid dataset name a:b:-1\n", messages()) << request;
    }
    Data count;
    count.setInts({5});
    ASSERT_EQ(IO_OK, c.request(IO_INDEX_COUNT, negative, count));
    EXPECT_EQ(0, count.ints[0]);
}

TEST(DispatcherRequests, SeekFailuresAnswer8AndLeaveTheCurrentFileAndTheTargetAlone) {
    TempDir dir;
    Client c;
    ASSERT_EQ(IO_OK, c.open(dir.file("p.kwx")));
    ASSERT_EQ(IO_OK, c.writeInts("a", "b", 1, {1}));
    ASSERT_EQ(IO_OK, c.open(dir.file("s.kwx"), IO_OPEN_SECONDARY));
    Header h("a", "b", 1);
    Data handle;
    offsetsOf(handle, {0});
    ASSERT_EQ(IO_OK, c.request(IO_CURRENT_HANDLE, h, handle));
    const int64_t secondary = handle.offsets[0];
    for (int request : {IO_READ_PRIMARY_DS, IO_READ_PRIMARY_DS_AS, IO_COPY_DATASET}) {
        Data bad;
        offsetsOf(bad, {-5});
        messages().clear();
        EXPECT_EQ(IO_ERR_SEEK, c.request(request, h, bad)) << request;
        EXPECT_NE(std::string::npos, messages().find("(can't go to ")) << request;
        ASSERT_EQ(IO_OK, c.request(IO_CURRENT_HANDLE, h, handle));
        EXPECT_EQ(secondary, handle.offsets[0]) << request;
    }
    // Nothing was copied into the secondary file.
    Data count;
    count.setInts({-1});
    ASSERT_EQ(IO_OK, c.request(IO_INDEX_COUNT, h, count));
    EXPECT_EQ(0, count.ints[0]);
}
