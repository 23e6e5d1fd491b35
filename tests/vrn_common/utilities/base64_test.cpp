#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "utilities/base64.h"

namespace {

std::string encode(const std::string& bytes) {
    std::vector<char> target(bytes.size() * 2 + 8);
    int n = vrnBase64_encode(bytes.data(), static_cast<int>(bytes.size()), target.data(),
                             static_cast<int>(target.size()));
    EXPECT_GE(n, 0);
    EXPECT_EQ(std::strlen(target.data()), static_cast<size_t>(n));
    return std::string(target.data());
}

// Decoded bytes, or "<refused>" when the decoder returns -1.
std::string decode(const std::string& text) {
    std::vector<unsigned char> target(text.size() + 4);
    int n = vrnBase64_decode(text.c_str(), target.data(), static_cast<int>(target.size()));
    if (n < 0) return "<refused>";
    return std::string(reinterpret_cast<char*>(target.data()), static_cast<size_t>(n));
}

}  // namespace

TEST(Base64, Rfc4648VectorsBothWays) {
    const std::pair<const char*, const char*> vectors[] = {
        {"", ""},         {"f", "Zg=="},        {"fo", "Zm8="},       {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}, {"abc", "YWJj"},
    };
    for (const auto& v : vectors) {
        EXPECT_EQ(encode(v.first), v.second);
        EXPECT_EQ(decode(v.second), v.first);
    }
    EXPECT_EQ(encode(std::string(1, '\0')), "AA==");
    EXPECT_EQ(encode("\xfb\xff\xbf"), "+/+/");
}

TEST(Base64, EveryByteValueRoundTrips) {
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    for (size_t length = 0; length <= all.size(); length += 37) {
        const std::string part = all.substr(all.size() - length);
        EXPECT_EQ(decode(encode(part)), part) << "length " << length;
    }
    EXPECT_EQ(decode(encode(all)), all);
}

TEST(Base64, DecodeSkipsWhiteSpaceAnywhere) {
    EXPECT_EQ(decode("Zm9v\nYmFy\n"), "foobar");
    EXPECT_EQ(decode(" Z m\t9v\r\nY g = =\v\f "), "foob");
    EXPECT_EQ(decode("Zg==   \n"), "f");
    EXPECT_EQ(decode(" \n\t"), "");
}

TEST(Base64, BadPaddingRefused) {
    for (const char* text : {"Zg", "Zm8", "Zg=", "Z===", "Z", "=", "==", "====", "=Zg=", "Zg=a",
                             "Zm8=Zm8=", "Zg==Zg==", "Zm9v=", "Zm9vZ", "Zg===", "Zg== x"}) {
        EXPECT_EQ(decode(text), "<refused>") << '"' << text << '"';
    }
}

TEST(Base64, ForeignCharactersRefused) {
    for (const char* text : {"Zm9v!", "Zm-9", "Zm_9", "Zm.9", "Zm9v\x01", "\xc3\xa9" "AA",
                             "Zm9\x80", "Zm9v\x7f"}) {
        EXPECT_EQ(decode(text), "<refused>") << '"' << text << '"';
    }
    unsigned char out[4];
    EXPECT_EQ(vrnBase64_decode(nullptr, out, 4), -1);
}

// The target is never written past its size, and a target one byte too
// small is reported rather than filled halfway and accepted.
TEST(Base64, TargetsTooSmallRefusedWithoutOverrun) {
    char text[10];
    std::memset(text, '#', sizeof text);
    EXPECT_EQ(vrnBase64_encode("foobar", 6, text, 8), -1);  // 8 characters need 9
    EXPECT_EQ(vrnBase64_encode("foobar", 6, text, 9), 8);
    EXPECT_STREQ(text, "Zm9vYmFy");
    EXPECT_EQ(text[9], '#');
    EXPECT_EQ(vrnBase64_encode("", 0, text, 1), 0);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(vrnBase64_encode("x", -1, text, 10), -1);
    EXPECT_EQ(vrnBase64_encode(nullptr, 3, text, 10), -1);
    EXPECT_EQ(vrnBase64_encode("x", 1, nullptr, 10), -1);

    unsigned char bytes[7];
    std::memset(bytes, 0xee, sizeof bytes);
    EXPECT_EQ(vrnBase64_decode("Zm9vYmFy", bytes, 5), -1);
    EXPECT_EQ(bytes[5], 0xee);
    EXPECT_EQ(vrnBase64_decode("Zm9vYmFy", bytes, 6), 6);
    EXPECT_EQ(0, std::memcmp(bytes, "foobar", 6));
    EXPECT_EQ(bytes[6], 0xee);
    EXPECT_EQ(vrnBase64_decode("Zm8=", bytes, 1), -1);
    EXPECT_EQ(vrnBase64_decode("", nullptr, 0), 0);
}
