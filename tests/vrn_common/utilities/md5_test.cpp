#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "utilities/md5.h"

namespace {

std::string hex(const unsigned char digest[16]) {
    std::string out;
    char two[3];
    for (int i = 0; i < 16; ++i) {
        std::snprintf(two, sizeof two, "%02x", digest[i]);
        out += two;
    }
    return out;
}

std::string md5Whole(const std::string& data) {
    vrn::MD5 context;
    vrn::MD5Init(&context);
    vrn::MD5Update(&context, data.data(), data.size());
    unsigned char digest[16];
    vrn::MD5Final(digest, &context);
    return hex(digest);
}

// Feeds data in pieces whose sizes cycle through the given list.
std::string md5Pieces(const std::string& data, const std::vector<size_t>& sizes) {
    vrn::MD5 context;
    vrn::MD5Init(&context);
    size_t at = 0;
    for (size_t i = 0; at < data.size(); ++i) {
        size_t n = std::min(sizes[i % sizes.size()], data.size() - at);
        vrn::MD5Update(&context, data.data() + at, n);
        at += n;
    }
    unsigned char digest[16];
    vrn::MD5Final(digest, &context);
    return hex(digest);
}

// Bytes that cover the whole 0..255 range, so that sign extension would show.
std::string pattern(size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += static_cast<char>((i * 37 + 11) & 255);
    return s;
}

}  // namespace

TEST(Md5, Rfc1321TestSuite) {
    EXPECT_EQ(md5Whole(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5Whole("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(md5Whole("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5Whole("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(md5Whole("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(md5Whole("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(md5Whole("1234567890123456789012345678901234567890"
                       "1234567890123456789012345678901234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

// 55 bytes leave exactly room for the length; 56 to 63 push the length into a
// second padding block; 64 and 65 cross a whole block.
TEST(Md5, LengthsAroundThePaddingBoundaryWholeAndInPieces) {
    const struct {
        size_t length;
        const char* letters;  // digest of length 'a's
        const char* mixed;    // digest of pattern(length)
    } cases[] = {
        {55, "ef1772b6dff9a122358552954ad0df65", "d872aa0473a24da995ce4ac518ade767"},
        {56, "3b0c8ac703f828b04c6c197006d17218", "e23567645846677c205de80f9779081b"},
        {63, "b06521f39153d618550606be297466d5", "4775b66278a8fc132ff80923378216cd"},
        {64, "014842d480b571495a4a0363793f7367", "71e123b70c7aa64826fcfe472694cd1c"},
        {65, "c743a45e0d2e6a95cb859adae0248435", "5949948f26e35203661075214faa3966"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        const std::string letters(c.length, 'a');
        const std::string mixed = pattern(c.length);
        EXPECT_EQ(md5Whole(letters), c.letters);
        EXPECT_EQ(md5Whole(mixed), c.mixed);
        EXPECT_EQ(md5Pieces(mixed, {1}), c.mixed);
        EXPECT_EQ(md5Pieces(mixed, {3, 7, 11}), c.mixed);
        // Every split into two pieces, including an empty first piece.
        for (size_t split = 0; split <= c.length; ++split) {
            vrn::MD5 context;
            vrn::MD5Init(&context);
            vrn::MD5Update(&context, mixed.data(), split);
            vrn::MD5Update(&context, mixed.data() + split, c.length - split);
            unsigned char digest[16];
            vrn::MD5Final(digest, &context);
            ASSERT_EQ(hex(digest), c.mixed) << "split at " << split;
        }
    }
}

TEST(Md5, LongInputInUnevenPiecesMatchesWhole) {
    const std::string million(1000000, 'a');
    EXPECT_EQ(md5Whole(million), "7707d6ae4e027c70eea2a935c2296f21");
    EXPECT_EQ(md5Pieces(million, {1, 64, 65, 4095, 100000}), "7707d6ae4e027c70eea2a935c2296f21");
}

// The bit count is two 32-bit words; the low word must carry into the high
// one, or inputs of 512 MiB and more get a wrong length block.
TEST(Md5, BitCountCarriesIntoHighWord) {
    vrn::MD5 context;
    vrn::MD5Init(&context);
    context.count[0] = 0xfffffff8u;  // 2^29 - 1 bytes hashed, in bits
    context.count[1] = 0;
    vrn::MD5Update(&context, "x", 1);
    EXPECT_EQ(context.count[0], 0u);
    EXPECT_EQ(context.count[1], 1u);
}
