#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/memory.h"
#include "utilities/orv_name_classes.h"
#include "utilities/unicode_string.h"

namespace {

using CodePoints = std::vector<int>;

// Decoding result: the code points, or {-100, status} on failure. The text
// is copied into a block of its own length, without a NUL after it, so that
// the sanitizer run sees any read past its end.
CodePoints fromUtf8(const std::string& text) {
    const std::vector<char> exact(text.begin(), text.end());
    int* cps = nullptr;
    int count = -1;
    const int r = utf8_to_unicode(exact.data(), static_cast<int>(exact.size()), &cps, &count);
    if (r != 1) return {-100, r};
    CodePoints out(cps, cps + count);
    vrnFree(cps, "test");
    return out;
}

CodePoints fromPq(char E, const std::string& text) {
    const std::vector<char> exact(text.begin(), text.end());
    int* cps = nullptr;
    int count = -1;
    const int r = pqutf8_to_unicode(E, exact.data(), static_cast<int>(exact.size()), &cps, &count);
    if (r != 1) return {-100, r};
    CodePoints out(cps, cps + count);
    vrnFree(cps, "test");
    return out;
}

std::string toPq(char E, int mode, const CodePoints& cps) {
    char* text = nullptr;
    int length = -1;
    const int r = unicode_to_pqutf8(&length, E, mode, cps.data(), static_cast<int>(cps.size()), &text);
    if (r != 1) return "<" + std::to_string(r) + ">";
    std::string out(text, static_cast<size_t>(length));
    EXPECT_EQ(out.size(), std::string(text).size());
    vrnFree(text, "test");
    return out;
}

std::string toUtf8(const CodePoints& cps) {
    char* text = nullptr;
    int length = -1;
    if (unicode_to_utf8(cps.data(), static_cast<int>(cps.size()), &text, &length) != 1)
        return "<refused>";
    std::string out(text, static_cast<size_t>(length));
    vrnFree(text, "test");
    return out;
}

// decodeChar's answer and code point for a byte string.
std::pair<int, int> decodeChar(const std::string& bytes) {
    int cp = -1;
    const int n = utf8_decodeChar(bytes.data(), static_cast<int>(bytes.size()), &cp);
    return {n, n > 0 ? cp : -1};
}

}  // namespace

TEST(Utf8, DecodeCharLengthsOverlongAndCutSequences) {
    EXPECT_EQ(decodeChar("A"), std::make_pair(1, int('A')));
    EXPECT_EQ(decodeChar("\xC3\xA9"), std::make_pair(2, 0xE9));
    EXPECT_EQ(decodeChar("\xE2\x82\xAC"), std::make_pair(3, 0x20AC));
    EXPECT_EQ(decodeChar("\xF0\x90\x80\x80"), std::make_pair(4, 0x10000));
    EXPECT_EQ(decodeChar("\xF8\x88\x80\x80\x80"), std::make_pair(5, 0x200000));
    EXPECT_EQ(decodeChar("\xFC\x84\x80\x80\x80\x80"), std::make_pair(6, 0x4000000));
    // Overlong forms, bad leads and bad following bytes are invalid.
    for (const char* bad : {"\xC0\x80", "\xC1\xBF", "\xE0\x80\x80", "\xE0\x9F\xBF", "\xF0\x8F\xBF\xBF",
                            "\xF8\x87\xBF\xBF\xBF", "\xFC\x83\xBF\xBF\xBF\xBF", "\x80", "\xBF",
                            "\xFE", "\xFF", "\xC3\x41", "\xE2\x82\xC0"})
        EXPECT_EQ(decodeChar(bad).first, -1) << bad;
    // Cut sequences ask for more.
    EXPECT_EQ(decodeChar("\xE2\x82").first, -2);
    EXPECT_EQ(decodeChar("\xFD\xBF\xBF\xBF\xBF").first, -2);
    EXPECT_EQ(decodeChar("\xE0").first, -2);
    EXPECT_EQ(utf8_decodeChar("A", 0, nullptr), -2);
    EXPECT_EQ(utf8_decodeChar(nullptr, 4, nullptr), -1);
    // Only the available bytes are read: a 6-byte lead at the end of a
    // one-byte heap block (the sanitizer run catches a read past it).
    std::vector<char> one(1, '\xFC');
    EXPECT_EQ(utf8_decodeChar(one.data(), 1, nullptr), -2);
}

TEST(Utf8, EncodeCharAndWholeTexts) {
    char bytes[UTF8_MAX_BYTES];
    ASSERT_EQ(utf8_encodeChar(0x7FFFFFFF, bytes), 6);
    EXPECT_EQ(std::string(bytes, 6), "\xFD\xBF\xBF\xBF\xBF\xBF");
    EXPECT_EQ(utf8_encodeChar(-1, bytes), -1);
    EXPECT_EQ(fromUtf8("a\xC3\xA9z"), (CodePoints{'a', 0xE9, 'z'}));
    EXPECT_EQ(fromUtf8("ab\xE2\x82"), (CodePoints{-100, 0}));
    EXPECT_EQ(toUtf8({'a', -5}), "<refused>");
    // Empty input: 0 with NULL and 0.
    int* cps = reinterpret_cast<int*>(1);
    int count = 9;
    EXPECT_EQ(utf8_to_unicode("", 0, &cps, &count), 0);
    EXPECT_EQ(cps, nullptr);
    EXPECT_EQ(count, 0);
    char* text = reinterpret_cast<char*>(1);
    int length = 9;
    EXPECT_EQ(unicode_to_utf8(nullptr, 0, &text, &length), 0);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(length, 0);
}

TEST(PrintedQuotable, ClassesAndModes) {
    EXPECT_EQ(orvNameClass(0x09), 0);
    EXPECT_EQ(orvNameClass(','), 1);
    EXPECT_EQ(orvNameClass('@'), 2);
    EXPECT_EQ(orvNameClass('7'), 3);
    EXPECT_EQ(orvNameClass('|'), 4);
    EXPECT_EQ(orvNameClass(0xE9), 4);
    EXPECT_EQ(orvNameClass(256), -1);
    // Classes 0, 4, 1, 2, 3, 4 at index 1, then a letter at index 0.
    const std::string sample = "\tA#(7 ";
    auto flags = [&](int mode) {
        std::string got;
        for (char c : sample) got += static_cast<char>('0' + orvNeedsEscape(mode, 1, c));
        return got + static_cast<char>('0' + orvNeedsEscape(mode, 0, 'A'));
    };
    EXPECT_EQ(flags(0), "1000000");
    EXPECT_EQ(flags(1), "1010000");
    EXPECT_EQ(flags(2), "1011001");
    EXPECT_EQ(flags(3), "1111111");
    EXPECT_EQ(flags(9), "1111111");
    EXPECT_EQ(flags(-1), flags(0));
    EXPECT_EQ(orvNeedsEscape(0, 1, 300), 1);
}

TEST(PrintedQuotable, KnownForms) {
    EXPECT_EQ(toPq('%', 0, {'a', '%', 'b'}), "a%25b");
    EXPECT_EQ(toPq('%', 0, {'\t'}), "%09");
    EXPECT_EQ(toPq('%', 0, {0xE9}), "%C3A9");
    EXPECT_EQ(toPq('%', 2, {'R', 'e', ' ', '1'}), "%52e 1");
    EXPECT_EQ(toPq('=', 1, {'a', '=', '#'}), "a=3D=23");
    EXPECT_EQ(toPq('%', 0, {}), "");
    EXPECT_EQ(toPq('%', 0, {'a', -1}), "<-1>");
    EXPECT_EQ(toPq('\0', 0, {'a'}), "<-1>");
    EXPECT_EQ(fromPq('%', "a%25b"), (CodePoints{'a', '%', 'b'}));
    EXPECT_EQ(fromPq('%', "%c3a9"), (CodePoints{0xE9}));    // lower case
    EXPECT_EQ(fromPq('%', "%4142"), (CodePoints{'A', '4', '2'}));  // unused pairs stay text
    EXPECT_EQ(fromPq('%', "%E282AC!"), (CodePoints{0x20AC, '!'}));
}

TEST(PrintedQuotable, BadEscapesAndRawBytesFail) {
    for (const char* bad : {"%C3%A9", "ab%", "ab%4", "%4x", "%%", "%zz", "%C0", "%FE"})
        EXPECT_EQ(fromPq('%', bad), (CodePoints{-100, 0})) << bad;
    // A raw byte above 127 is read as UTF-8 or refused, never negative.
    EXPECT_EQ(fromPq('%', "x\xC3\xA9"), (CodePoints{'x', 0xE9}));
    EXPECT_EQ(fromPq('%', "x\xE9y"), (CodePoints{-100, 0}));
    EXPECT_EQ(fromPq('%', "x\xE2\x82"), (CodePoints{-100, 0}));
    EXPECT_EQ(fromPq('%', ""), (CodePoints{-100, 0}));
}

TEST(PrintedQuotable, RandomRoundTripsInEveryRangeModeAndEscape) {
    const std::pair<int, int> ranges[] = {{0, 0x7F},           {0x80, 0x7FF},
                                          {0x800, 0xFFFF},     {0x10000, 0x1FFFFF},
                                          {0x200000, 0x3FFFFFF}, {0x4000000, 0x7FFFFFFF}};
    std::mt19937 random(12345);
    for (int round = 0; round < 200; ++round) {
        CodePoints cps;
        const int n = 1 + static_cast<int>(random() % 20);
        for (int i = 0; i < n; ++i) {
            const auto& r = ranges[random() % 6];
            cps.push_back(std::uniform_int_distribution<int>(r.first, r.second)(random));
        }
        ASSERT_EQ(fromUtf8(toUtf8(cps)), cps);
        for (char E : {'%', '='}) {
            for (int mode = 0; mode <= 3; ++mode) {
                const std::string pq = toPq(E, mode, cps);
                for (char c : pq) ASSERT_TRUE(c > 0) << "raw byte in " << pq;
                ASSERT_EQ(fromPq(E, pq), cps) << pq;
            }
        }
    }
}

TEST(UnicodeStringObject, ConversionsKeepContentsOnFailure) {
    UnicodeString* s = UnicodeString_new();
    EXPECT_EQ(UnicodeString_toUTF8(s), nullptr);
    EXPECT_EQ(UnicodeString_toPrintedQuotable(s, '%', 0), nullptr);
    ASSERT_EQ(UnicodeString_fromUTF8(s, "caf\xC3\xA9"), 1);
    EXPECT_EQ(s->count, 4);
    EXPECT_EQ(UnicodeString_fromUTF8(s, ""), 0);
    EXPECT_EQ(UnicodeString_fromUTF8(s, "\xC0\x80"), 0);
    EXPECT_EQ(UnicodeString_fromPrintedQuotable(s, '%', "x%4"), 0);
    EXPECT_EQ(s->count, 4);
    char* pq = UnicodeString_toPrintedQuotable(s, '%', 2);
    EXPECT_STREQ(pq, "%63af%C3A9");
    ASSERT_EQ(UnicodeString_fromPrintedQuotable(s, '%', "%41b"), 1);
    char* utf8 = UnicodeString_toUTF8(s);
    EXPECT_STREQ(utf8, "Ab");
    vrnFree(pq, "test");
    vrnFree(utf8, "test");
    UnicodeString_delete(s);
    UnicodeString_delete(nullptr);
}
