// Element codecs, datatype strings, wildcards and the error helpers.
#include "io_test_util.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <climits>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

using namespace kwxtest;

namespace {

const char F[3] = {'F', 0, 0};
const char u[3] = {'u', 0, 0};
const char U[3] = {'U', 0, 0};

struct MemFile {
    FILE *fp = tmpfile();
    ~MemFile() { fclose(fp); }
    std::string contents() {
        fflush(fp);
        long pos = ftell(fp);
        fseek(fp, 0, SEEK_END);
        long n = ftell(fp);
        std::string s(size_t(n), '\0');
        fseek(fp, 0, SEEK_SET);
        size_t got = fread(&s[0], 1, s.size(), fp);
        s.resize(got);
        fseek(fp, pos, SEEK_SET);
        return s;
    }
    void rewind() { fseek(fp, 0, SEEK_SET); }
};

}  // namespace

TEST(TextIntegers, WideValuesKeepABlankSoTheyReadBack) {
    MemFile m;
    const int32_t in[] = {INT_MIN, INT_MAX, 1234567890, -5, 0, -999999999, 7, 42, 1000000000};
    ASSERT_EQ(0, kwxwriteIntr(captureRoutine, F, in, 9, 8, 10, m.fp));
    std::string text = m.contents();
    EXPECT_NE(std::string::npos, text.find(" -2147483648 2147483647 1234567890"));
    // No trailing short line beyond the 9th item, and 2 lines in all.
    EXPECT_EQ(2, std::count(text.begin(), text.end(), '\n'));
    m.rewind();
    int32_t out[9] = {0};
    ASSERT_EQ(0, kwxreadIntr(captureRoutine, F, out, 9, 8, 10, m.fp));
    for (int i = 0; i < 9; ++i) EXPECT_EQ(in[i], out[i]) << i;
}

TEST(TextIntegers, ReaderStopsMidLineAndResumesThere) {
    MemFile m;
    fputs("         1         2\n", m.fp);
    m.rewind();
    int32_t a = 0, b = 0;
    ASSERT_EQ(0, kwxreadIntr(captureRoutine, F, &a, 1, 8, 10, m.fp));
    EXPECT_EQ(1, a);
    EXPECT_EQ(10, ftell(m.fp)) << "stream stands at the blank after the first field";
    ASSERT_EQ(0, kwxreadIntr(captureRoutine, F, &b, 1, 8, 10, m.fp));
    EXPECT_EQ(2, b);
    // Items split over lines differently from the writer still read.
    MemFile m2;
    fputs("1 2 3\n4\n5 6\n", m2.fp);
    m2.rewind();
    int32_t six[6];
    ASSERT_EQ(0, kwxreadIntr(captureRoutine, F, six, 6, 8, 10, m2.fp));
    for (int i = 0; i < 6; ++i) EXPECT_EQ(i + 1, six[i]);
}

TEST(TextIntegers, MultipleOfPerLineHasNoShortLine) {
    MemFile m;
    int32_t in[16] = {0};
    ASSERT_EQ(0, kwxwriteIntr(captureRoutine, F, in, 16, 8, 10, m.fp));
    EXPECT_EQ(size_t(2 * 81), m.contents().size());
    MemFile m2;
    ASSERT_EQ(0, kwxwriteIntr(captureRoutine, F, in, 3, 8, 10, m2.fp));
    EXPECT_EQ(size_t(31), m2.contents().size());
}

TEST(TextDoubles, NarrowedToFloatButHugeValuesStayFinite) {
    messages().clear();
    MemFile m;
    const double in[] = {0.1, 1e300, -1e300, 3.0, NAN, 1e-300};
    ASSERT_EQ(0, kwxwriteDble(captureRoutine, F, in, 6, 4, 20, m.fp));
    EXPECT_TRUE(anyMessageContains("Warning: formatted floating point data is only written to single-precision accuracy"));
    m.rewind();
    double out[6];
    ASSERT_EQ(0, kwxreadDble(captureRoutine, F, out, 6, 4, 20, m.fp));
    EXPECT_NEAR(static_cast<double>(0.1f), out[0], 1e-12);
    EXPECT_GT(std::fabs(out[0] - 0.1), 1e-10) << "narrowed to single precision";
    EXPECT_NEAR(1e300, out[1], 1e289);
    EXPECT_NEAR(-1e300, out[2], 1e289);
    EXPECT_EQ(3.0, out[3]);
    EXPECT_TRUE(std::isnan(out[4]));
    EXPECT_EQ(0.0, out[5]) << "underflow narrows to zero as before";
}

TEST(TextLogicals, EveryByteValueSurvives) {
    MemFile m;
    char in[256];
    for (int i = 0; i < 256; ++i) in[i] = static_cast<char>(i);
    ASSERT_EQ(0, kwxwriteLogl(captureRoutine, F, in, 256, 16, 5, m.fp));
    m.rewind();
    char out[256];
    ASSERT_EQ(0, kwxreadLogl(captureRoutine, F, out, 256, 16, 5, m.fp));
    EXPECT_EQ(0, memcmp(in, out, 256));
    // Ordinary logicals keep the old layout: four blanks and the byte.
    MemFile m2;
    ASSERT_EQ(0, kwxwriteLogl(captureRoutine, F, "TF", 2, 16, 5, m2.fp));
    EXPECT_EQ("    T    F\n", m2.contents());
}

TEST(TextLogicals, OnlyBytesThatCannotStandAloneAreEscaped) {
    // Control bytes, DEL and the backslash are tokens of their own and keep
    // the old layout, so older readers still read them.
    MemFile m;
    const char in[4] = {1, 0x7f, '\\', 0x1b};
    ASSERT_EQ(0, kwxwriteLogl(captureRoutine, F, in, 4, 16, 5, m.fp));
    EXPECT_EQ(std::string("    \x01    \x7f    \\    \x1b\n"), m.contents());
    m.rewind();
    char out[4] = {};
    ASSERT_EQ(0, kwxreadLogl(captureRoutine, F, out, 4, 16, 5, m.fp));
    EXPECT_EQ(0, memcmp(in, out, 4));
    // NUL and white space would vanish between the fields: they are escaped.
    MemFile e;
    const char gaps[4] = {0, ' ', '\n', '\t'};
    ASSERT_EQ(0, kwxwriteLogl(captureRoutine, F, gaps, 4, 16, 5, e.fp));
    EXPECT_EQ(" \\x00 \\x20 \\x0a \\x09\n", e.contents());
}

TEST(TextLogicals, AnEscapeCutShortAtTheEndOfALongLineIsReadWithinIt) {
    // The reader takes a long line in pieces: "\x" or "\x4" ending a piece
    // is a plain backslash, and its missing digits are not looked for past
    // the end of the piece.
    for (const std::string &tail : {std::string("\\x"), std::string("\\x4")}) {
        MemFile m;
        std::string line = std::string(1023 - tail.size(), ' ') + tail + "\n";
        fwrite(line.data(), 1, line.size(), m.fp);
        m.rewind();
        char out[1] = {0};
        ASSERT_EQ(0, kwxreadLogl(captureRoutine, F, out, 1, 16, 5, m.fp)) << tail;
        EXPECT_EQ('\\', out[0]) << tail;
    }
}

TEST(HeaderStrings, TextRecordThatFillsTheBufferIsRefusedNotLeftUnterminated) {
    // The buffer is exactly the size given: a record of that many characters
    // cannot be stored with its terminator.
    MemFile m;
    fputs((std::string(81, 'a') + "\n" + std::string(82, 'b') + "\n").c_str(), m.fp);
    m.rewind();
    std::vector<char> buf(82, 'x');
    ASSERT_EQ(0, kwxreadHdrString(captureRoutine, F, buf.data(), 82, m.fp));
    EXPECT_EQ(std::string(81, 'a'), std::string(buf.data()));
    std::fill(buf.begin(), buf.end(), 'x');
    EXPECT_EQ(IO_ERR_MEMORY, kwxreadHdrString(captureRoutine, F, buf.data(), 82, m.fp));
}

TEST(BinaryItems, BigEndianIntegersReverseEachItemAndKeepTheCallersArray) {
    MemFile m;
    int32_t in[2] = {0x01020304, -2};
    ASSERT_EQ(0, kwxwriteIntr(captureRoutine, U, in, 2, 8, 10, m.fp));
    EXPECT_EQ(0x01020304, in[0]);
    EXPECT_EQ(std::string("\x01\x02\x03\x04\xff\xff\xff\xfe", 8), m.contents());
    m.rewind();
    int32_t out[2];
    ASSERT_EQ(0, kwxreadIntr(captureRoutine, U, out, 2, 8, 10, m.fp));
    EXPECT_EQ(in[0], out[0]);
    EXPECT_EQ(-2, out[1]);
    m.rewind();
    int32_t three[3];
    EXPECT_EQ(IO_ERR_READ, kwxreadIntr(captureRoutine, U, three, 3, 8, 10, m.fp));
}

TEST(CodecArguments, BadArgumentsAndFormatsAreRefused) {
    messages().clear();
    MemFile m;
    int32_t v = 1;
    EXPECT_EQ(IO_ERR_MEMORY, kwxwriteIntr(captureRoutine, F, &v, 0, 8, 10, m.fp));
    EXPECT_TRUE(anyMessageContains("kwxwriteIntr: passing parameters are wrong\n"));
    const char bad[3] = {'Q', 0, 0};
    EXPECT_EQ(IO_ERR_FORMAT, kwxwriteIntr(captureRoutine, bad, &v, 1, 8, 10, m.fp));
    EXPECT_TRUE(anyMessageContains("kwxwriteIntr: wrong dataset format Q \n"));
    EXPECT_EQ(IO_ERR_MEMORY, kwxreadString(captureRoutine, F, nullptr, 1, 1, 1, m.fp));
    char fmt[3] = {'Z', '5', 0};
    EXPECT_EQ(IO_ERR_FORMAT, iofmt_make_native(captureRoutine, fmt));
    EXPECT_TRUE(anyMessageContains("iofmt_make_native: unrecognised format Z5"));
}

TEST(OffsetFields, ANumberExactlyAsWideAsTheFieldFitsAndReadsBack) {
    messages().clear();
    // Widest texts that fit each width, both signs; one character more is
    // refused.
    const struct {
        int width;
        int64_t fits, tooWide;
    } cases[] = {
        {10, 9999999999LL, 10000000000LL},
        {10, -999999999LL, -1000000000LL},
        {20, INT64_MIN, 0},
        {19, INT64_MAX, 0},
        {3, 123, 1000},
    };
    for (const auto &c : cases) {
        MemFile m;
        int64_t v = c.fits;
        ASSERT_EQ(0, kwxwriteOffset(captureRoutine, F, &v, c.width, m.fp)) << c.fits;
        const std::string text = std::to_string(c.fits);
        EXPECT_EQ(std::string(size_t(c.width) - std::min(text.size(), size_t(c.width)), ' ') + text + "\n",
                  m.contents());
        m.rewind();
        int64_t back = 0;
        ASSERT_EQ(0, kwxreadOffset(captureRoutine, F, &back, m.fp)) << c.fits;
        EXPECT_EQ(c.fits, back);
        if (c.tooWide) {
            v = c.tooWide;
            EXPECT_EQ(IO_ERR_FORMAT, kwxwriteOffset(captureRoutine, F, &v, c.width, m.fp)) << c.tooWide;
        }
    }
}

TEST(OffsetFields, LayoutsLimitsAndDeletedFormats) {
    messages().clear();
    {
        MemFile m;
        int64_t v = 36;
        ASSERT_EQ(0, kwxwriteOffset(captureRoutine, F, &v, 20, m.fp));
        EXPECT_EQ(std::string(18, ' ') + "36\n", m.contents());
        m.rewind();
        int64_t back = 0;
        ASSERT_EQ(0, kwxreadOffset(captureRoutine, F, &back, m.fp));
        EXPECT_EQ(36, back);
    }
    {
        MemFile m;
        int64_t v = int64_t(1) << 31;
        EXPECT_EQ(IO_ERR_FORMAT, kwxwriteOffset(captureRoutine, u, &v, 20, m.fp));
        EXPECT_TRUE(anyMessageContains("too large for integer"));
        int64_t big = 12345678901LL;
        EXPECT_EQ(IO_ERR_FORMAT, kwxwriteOffset(captureRoutine, F, &big, 10, m.fp));
        const char L[3] = {'L', 0, 0};
        ASSERT_EQ(0, kwxwriteOffset(captureRoutine, L, &big, 20, m.fp));
        m.rewind();
        int64_t back = 0;
        ASSERT_EQ(0, kwxreadOffset(captureRoutine, L, &back, m.fp));
        EXPECT_EQ(big, back);
    }
    {
        MemFile m;
        int64_t v = -7;
        ASSERT_EQ(0, kwxwriteOffset(captureRoutine, U, &v, 20, m.fp));
        m.rewind();
        int64_t back = 0;
        ASSERT_EQ(0, kwxreadOffset(captureRoutine, U, &back, m.fp));
        EXPECT_EQ(-7, back) << "4-byte fields are sign-extended";
        for (char c : std::string("DdXx")) {
            const char del[3] = {c, 0, 0};
            m.rewind();
            EXPECT_EQ(IO_ERR_FORMAT, kwxreadOffset(captureRoutine, del, &back, m.fp)) << c;
        }
    }
}

TEST(HeaderStrings, LengthsAreCheckedBothWays) {
    messages().clear();
    MemFile m;
    EXPECT_EQ(IO_ERR_WRITE, kwxwriteHdrString(captureRoutine, u, std::string(81, 'a').c_str(), 80, m.fp));
    ASSERT_EQ(0, kwxwriteHdrString(captureRoutine, u, "", 80, m.fp)) << "an empty record is its length";
    int32_t neg = -5;
    fwrite(&neg, 4, 1, m.fp);
    int32_t huge = 1 << 30;
    fwrite(&huge, 4, 1, m.fp);
    m.rewind();
    char buf[82];
    ASSERT_EQ(0, kwxreadHdrString(captureRoutine, u, buf, 82, m.fp));
    EXPECT_STREQ("", buf);
    EXPECT_EQ(IO_ERR_MEMORY, kwxreadHdrString(captureRoutine, u, buf, 82, m.fp));
    EXPECT_EQ(IO_ERR_MEMORY, kwxreadHdrString(captureRoutine, u, buf, 82, m.fp));
    // Text records: blank-padded to the capacity, trailing blanks removed.
    MemFile t;
    ASSERT_EQ(0, kwxwriteHdrString(captureRoutine, F, "WHAT\x1b" "abc", 80, t.fp));
    EXPECT_EQ(size_t(81), t.contents().size());
    t.rewind();
    ASSERT_EQ(0, kwxreadHdrString(captureRoutine, F, buf, 82, t.fp));
    EXPECT_STREQ("WHAT\x1b" "abc", buf);
}

TEST(TextStrings, ExactLengthHasNoTerminatorAndLongerFails) {
    MemFile m;
    fputs("abcde\nab\nabcdefg\n   \n", m.fp);
    m.rewind();
    char buf[8];
    memset(buf, 'x', sizeof buf);
    ASSERT_EQ(0, kwxreadString(captureRoutine, F, buf, 5, 1, 10, m.fp));
    EXPECT_EQ('x', buf[5]);
    ASSERT_EQ(0, kwxreadString(captureRoutine, F, buf, 5, 1, 10, m.fp));
    EXPECT_STREQ("ab", buf);
    EXPECT_EQ(IO_ERR_MEMORY, kwxreadString(captureRoutine, F, buf, 5, 1, 10, m.fp));
    ASSERT_EQ(0, kwxreadString(captureRoutine, F, buf, 5, 1, 10, m.fp));
    EXPECT_STREQ(" ", buf) << "a blank line keeps its first character";
}

TEST(Datatypes, SimpleAndStructureForms) {
    int n, t[IO_MAXENT], c[IO_MAXENT];
    ASSERT_EQ(0, parseStructure(captureRoutine, "STRI", &n, t, c));
    EXPECT_EQ(1, n);
    EXPECT_EQ(IO_STRI, t[0]);
    EXPECT_EQ(80, c[0]);
    ASSERT_EQ(0, parseStructure(captureRoutine, "STRI:12", &n, t, c));
    EXPECT_EQ(12, c[0]);
    ASSERT_EQ(0, parseStructure(captureRoutine, "STRINGS", &n, t, c));
    EXPECT_EQ(80, c[0]);
    messages().clear();
    EXPECT_EQ(IO_ERR_PARSE, parseStructure(captureRoutine, "INTR:3", &n, t, c));
    EXPECT_TRUE(anyMessageContains("count forbidden for non-string type \"INTR:3\" outside structure"));
    ASSERT_EQ(0, parseStructure(captureRoutine, "STRC{INTR:3  REAL:2}", &n, t, c));
    EXPECT_EQ(2, n);
    EXPECT_EQ(IO_INTR, t[0]);
    EXPECT_EQ(3, c[0]);
    EXPECT_EQ(IO_REAL, t[1]);
    EXPECT_EQ(2, c[1]);
    EXPECT_EQ(IO_ERR_PARSE, parseStructure(captureRoutine, "STRC{INTR REAL:2}", &n, t, c));
    EXPECT_EQ(IO_ERR_PARSE, parseStructure(captureRoutine, "STRC{}", &n, t, c));
    EXPECT_EQ(IO_ERR_PARSE, parseStructure(captureRoutine, "STRC{INTR:1", &n, t, c));
    EXPECT_EQ(IO_ERR_PARSE, parseStructure(captureRoutine, "STRC INTR:1}", &n, t, c));
    ASSERT_EQ(0, parseStructure(captureRoutine, "STRC{INTR:}", &n, t, c));
    EXPECT_EQ(0, c[0]);
    EXPECT_EQ(IO_ERR_PARSE, parseStructure(captureRoutine, "BOGUS", &n, t, c));
}

TEST(Datatypes, BadCountsAndEntryLimit) {
    int n, t[IO_MAXENT], c[IO_MAXENT];
    EXPECT_EQ(IO_ERR_PARSE, parseStructure(captureRoutine, "STRC{INTR:-3}", &n, t, c));
    EXPECT_EQ(IO_ERR_PARSE, parseStructure(captureRoutine, "STRI:81", &n, t, c));
    EXPECT_EQ(IO_ERR_PARSE, parseStructure(captureRoutine, "STRI:0", &n, t, c));
    EXPECT_EQ(IO_ERR_PARSE, parseStructure(captureRoutine, "STRC{STRI:0 INTR:1}", &n, t, c));
    EXPECT_EQ(IO_ERR_PARSE, parseStructure(captureRoutine, "STRC{INTR:99999999999}", &n, t, c));
    std::string forty = "STRC{";
    for (int i = 0; i < 40; ++i) forty += "CHAR: ";
    std::string fortyone = forty + "CHAR:}";
    forty += "}";
    ASSERT_EQ(0, parseStructure(captureRoutine, forty.c_str(), &n, t, c));
    EXPECT_EQ(40, n);
    EXPECT_EQ(IO_ERR_MEMORY, parseStructure(captureRoutine, fortyone.c_str(), &n, t, c));
}

TEST(Wildcards, PatternsSelectTheRightNames) {
    EXPECT_EQ(1, kwxWildMatchName("", "*"));
    EXPECT_EQ(1, kwxWildMatchName("anything", "*"));
    EXPECT_EQ(1, kwxWildMatchName("a", "a*"));
    EXPECT_EQ(1, kwxWildMatchName("abc", "a*"));
    EXPECT_EQ(1, kwxWildMatchName("abc", "a?c"));
    EXPECT_EQ(0, kwxWildMatchName("ac", "a?c"));
    // A range holds both its ends and nothing beyond them.
    for (const char* inside : {"ax", "bx", "cx"}) {
        EXPECT_EQ(1, kwxWildMatchName(inside, "[a-c]x")) << inside;
        EXPECT_EQ(0, kwxWildMatchName(inside, "[^a-c]x")) << inside;
    }
    for (const char* outside : {"`x", "dx"}) {
        EXPECT_EQ(0, kwxWildMatchName(outside, "[a-c]x")) << outside;
        EXPECT_EQ(1, kwxWildMatchName(outside, "[^a-c]x")) << outside;
    }
    EXPECT_EQ(1, kwxWildMatchName("c9", "[xa-c][0-9]"));
    EXPECT_EQ(1, kwxWildMatchName("x0", "[xa-c][0-9]"));
    EXPECT_EQ(1, kwxWildMatchName("]", "[]]"));
    EXPECT_EQ(1, kwxWildMatchName("a*", "a\\*"));
    EXPECT_EQ(0, kwxWildMatchName("ab", "a\\*"));
    EXPECT_EQ(1, kwxWildMatchName("x-", "x[-a]"));
    EXPECT_EQ(1, kwxWildMatchName("abcXdef", "*X*"));
    EXPECT_EQ(0, kwxWildMatchName("abc", "*X*"));
    // Malformed patterns stay within bounds.
    EXPECT_EQ(1, kwxWildMatchName("ab", "a[b"));
    EXPECT_EQ(0, kwxWildMatchName("ab", "a["));
    EXPECT_EQ(1, kwxWildMatchName("a\\", "a\\"));
    EXPECT_EQ(0, kwxWildMatchName("a", "a\\"));
    EXPECT_EQ(1, kwxHasWildcard("a[b"));
    EXPECT_EQ(0, kwxHasWildcard("plain"));
    EXPECT_EQ(0, kwxHasWildcard(nullptr));
}

TEST(ErrorReports, NewlineAppendedOnceAndTableComplete) {
    messages().clear();
    kwxIoError(captureRoutine, "abc");
    kwxIoError(captureRoutine, "def\n");
    ASSERT_EQ(2u, messages().size());
    EXPECT_EQ("abc\n", messages()[0]);
    EXPECT_EQ(4u, messages()[0].size());
    EXPECT_EQ("def\n", messages()[1]);
    kwxIoError(captureRoutine, "%s at %" PRId64 " and %I64d", "x", int64_t(1) << 40, int64_t(-3));
    EXPECT_EQ("x at 1099511627776 and -3\n", messages()[2]);
    EXPECT_STREQ("Successful.", kwxIoErrorMessage(0));
    EXPECT_STREQ("Unable to allocate enough memory for the requested operation.", kwxIoErrorMessage(28));
    EXPECT_STREQ("An unknown error has occurred.", kwxIoErrorMessage(99));
    errno = ENOENT;
    kwxsystemErr(captureRoutine, "open: syserr:");
    EXPECT_EQ("open: syserr:: No such file or directory\n", messages()[3]);
}

TEST(ErrorReports, TraceSwitchIsReadOnce) {
    auto r = vrntest::runInChild([] {
        kwxIoTrace("first");
        setenv("KWX_IO_TRACE", "1", 1);
        kwxIoTrace("second");
        return 0;
    }, {{{"KWX_IO_TRACE", std::nullopt}}, ""});
    EXPECT_EQ("", r.out);
    auto on = vrntest::runInChild([] {
        kwxIoTrace("hello %d", 5);
        return 0;
    }, {{{"KWX_IO_TRACE", std::string("1")}}, ""});
    EXPECT_EQ("TRACE> hello 5\n", on.out);
}

TEST(WriteFormat, EnvironmentDefaultAndFallbacks) {
    char fmt[3];
    unsetenv("KWX_FORMAT");
    iofmt_default(captureRoutine, fmt, nullptr);
    EXPECT_STREQ("u5", fmt) << "U5 made native";
    iofmt_default(captureRoutine, fmt, "L3");
    EXPECT_STREQ("l3", fmt);
    setenv("KWX_FORMAT", "l7", 1);
    iofmt_default(captureRoutine, fmt, "F");
    EXPECT_STREQ("l7", fmt);
    setenv("KWX_FORMAT", "u", 1);
    iofmt_default(captureRoutine, fmt, nullptr);
    EXPECT_STREQ("u", fmt);
    setenv("KWX_FORMAT", "Q5", 1);
    iofmt_default(captureRoutine, fmt, nullptr);
    EXPECT_STREQ("F", fmt);
    for (const char *deleted : {"D", "X5", "x", "d"}) {
        setenv("KWX_FORMAT", deleted, 1);
        iofmt_default(captureRoutine, fmt, nullptr);
        EXPECT_EQ('F', fmt[0]) << deleted;
    }
    setenv("KWX_FORMAT", "u0", 1);
    iofmt_default(captureRoutine, fmt, nullptr);
    EXPECT_STREQ("u", fmt) << "level 0 is no level";
    unsetenv("KWX_FORMAT");
}

TEST(ErrorReports, DebugErrorsAddALineOnStandardError) {
    auto r = vrntest::runInChild([] {
        kwxIoError(kwxIoDefaultErrorRoutine, "something failed");
        return 0;
    }, {{{"KWX_IO_DEBUG_ERRORS", std::string("1")}}, ""});
    EXPECT_EQ("IO: something failed\nkwxio debug: something failed\n", r.err);
    auto quiet = vrntest::runInChild([] {
        kwxIoError(kwxIoDefaultErrorRoutine, "something failed");
        return 0;
    }, {{{"KWX_IO_DEBUG_ERRORS", std::nullopt}}, ""});
    EXPECT_EQ("IO: something failed\n", quiet.err);
}
