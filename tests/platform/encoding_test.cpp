#include <gtest/gtest.h>

#include "ylt/EncodingUtilities.h"

using ylt::EncodingUtilities::MakeWStringU;
using U16 = std::basic_string<unsigned short>;

TEST(MakeWStringU, NullAndAsciiAndSurrogatePairs) {
    EXPECT_TRUE(MakeWStringU(nullptr).empty());
    EXPECT_EQ(MakeWStringU("Base"), (U16{'B', 'a', 's', 'e'}));
    // U+00E9, U+20AC, U+1F600
    EXPECT_EQ(MakeWStringU("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"),
              (U16{0x00E9, 0x20AC, 0xD83D, 0xDE00}));
    // The ends of each range: U+FFFF stays one unit, U+10000 and U+10FFFF
    // take the first and last surrogates.
    EXPECT_EQ(MakeWStringU("\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"),
              (U16{0xFFFF, 0xD800, 0xDC00, 0xDBFF, 0xDFFF}));
}

TEST(MakeWStringU, EachInvalidByteBecomesOneReplacement) {
    // lone continuation, overlong "/", truncated 3-byte sequence at the end,
    // encoded surrogate
    EXPECT_EQ(MakeWStringU("a\x80" "b"), (U16{'a', 0xFFFD, 'b'}));
    EXPECT_EQ(MakeWStringU("\xC0\xAF"), (U16{0xFFFD, 0xFFFD}));
    EXPECT_EQ(MakeWStringU("x\xE2\x82"), (U16{'x', 0xFFFD, 0xFFFD}));
    EXPECT_EQ(MakeWStringU("\xED\xA0\x80"), (U16{0xFFFD, 0xFFFD, 0xFFFD}));
    EXPECT_EQ(MakeWStringU("\xF5\x80\x80\x80"), (U16{0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}));
    // Beyond U+10FFFF, and a sequence cut short by the next character.
    EXPECT_EQ(MakeWStringU("\xF4\x90\x80\x80"), (U16{0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}));
    EXPECT_EQ(MakeWStringU("\xF0\x9F\x98" "A"), (U16{0xFFFD, 0xFFFD, 0xFFFD, 'A'}));
}
