#include "support/cstring.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../handed_over.h"
#include "support/memory.h"

namespace {

using commontest::take;

std::vector<std::string> split(const char* s, char sep) {
    char** array = reinterpret_cast<char**>(1);
    int n = -1;
    EXPECT_EQ(1, vrnCStringArray_newFromPackedString(s, sep, &array, &n));
    std::vector<std::string> r;
    for (int i = 0; i < n; ++i) r.emplace_back(array[i]);
    if (n == 0) {
        EXPECT_EQ(nullptr, array);
    }
    vrnCStringArray_free(array, n);
    return r;
}

using V = std::vector<std::string>;

}  // namespace

TEST(CString, MergeAndCatStopAtTheFirstNull) {
    EXPECT_EQ("xy", take(vrnCString_merge("x", "y", nullptr, "z", nullptr)));
    EXPECT_EQ("x", take(vrnCString_merge("x", nullptr)));
    EXPECT_EQ("a", take(vrnCString_cat(nullptr, "a", nullptr)));
    // cat frees its first argument, so a string can grow in place of itself
    // (the sanitizer run catches a leak or a double free here).
    char* s = vrnCString_clone("ab");
    for (int i = 0; i < 100; ++i) s = vrnCString_cat(s, "c", "", nullptr);
    EXPECT_EQ("ab" + std::string(100, 'c'), take(s));
    EXPECT_EQ("", take(vrnCString_merge(nullptr, nullptr)));
}

TEST(CString, BuildFormatsWholeTextOfAnyLength) {
    std::string big(100000, 'q');
    EXPECT_EQ(big + "!", take(vrnCString_build("%s!", big.c_str())));
    EXPECT_EQ("7 x 1.5", take(vrnCString_build("%d %s %.1f", 7, "x", 1.5)));
    EXPECT_EQ("", take(vrnCString_build("%s", "")));
    // The text of an argument is never read as a format.
    EXPECT_EQ("%s%n%%", take(vrnCString_build("%s", "%s%n%%")));
}

TEST(CString, SubstringClampsToTheString) {
    EXPECT_EQ("bc", take(vrnCString_substring("abcd", 1, 3)));
    EXPECT_EQ("", take(vrnCString_substring("abcd", 2, 2)));
    EXPECT_EQ("abcd", take(vrnCString_substring("abcd", -5, 99)));
    EXPECT_EQ("", take(vrnCString_substring("abcd", 3, 1)));
    EXPECT_EQ("", take(vrnCString_substring("abcd", 10, 20)));
    EXPECT_EQ("<null>", take(vrnCString_substring(nullptr, 0, 1)));
}

TEST(CString, CloneImportReassign) {
    EXPECT_EQ(nullptr, vrnCString_clone(nullptr));
    EXPECT_EQ(nullptr, vrnCString_import(nullptr));
    char* external = strdup("outside");
    EXPECT_EQ("outside", take(vrnCString_import(external)));

    char* target = vrnCString_clone("old");
    vrnCString_reassign(&target, "new");
    EXPECT_STREQ("new", target);
    vrnCString_reassign(&target, target + 1);  // a value inside the old text
    EXPECT_STREQ("ew", target);
    vrnCString_reassign(&target, nullptr);
    EXPECT_EQ(nullptr, target);
}

TEST(CString, WhitespaceTestsTakeEveryByte) {
    EXPECT_EQ(1, vrnCString_isBlank(nullptr));
    EXPECT_EQ(1, vrnCString_isBlank(""));
    EXPECT_EQ(1, vrnCString_isBlank(" \n\t"));
    EXPECT_EQ(0, vrnCString_isBlank(" x "));
    // Bytes above 127 are characters, not whitespace, and must not be read
    // as negative table indices.
    EXPECT_EQ(0, vrnCString_isBlank("\xa0\xff"));
    EXPECT_EQ("\xc3\xa9 \xff", take(vrnCString_normaliseSpace(" \xc3\xa9\t\t\xff ")));

    EXPECT_EQ("a b", take(vrnCString_normaliseSpace("  a \t b  ")));
    EXPECT_EQ("", take(vrnCString_normaliseSpace(" \n\t ")));
    EXPECT_EQ("one two three", take(vrnCString_normaliseSpace("one\n\ntwo   three")));
    EXPECT_EQ(nullptr, vrnCString_normaliseSpace(nullptr));
}

TEST(CString, TrimBlankLinesKeepsWhitespaceOfTheTextLines) {
    EXPECT_EQ("abc", take(vrnCString_trimBlankLines("\n \nabc\n \n", 3)));
    EXPECT_EQ("  abc  ", take(vrnCString_trimBlankLines("  abc  ", 3)));
    EXPECT_EQ("  a\n b  ", take(vrnCString_trimBlankLines("\n\n  a\n b  \n\n", 3)));
    EXPECT_EQ("\n\nabc", take(vrnCString_trimBlankLines("\n\nabc\n", 2)));
    EXPECT_EQ("abc\n", take(vrnCString_trimBlankLines("\n\nabc\n", 1)));
    EXPECT_EQ("\nx\n", take(vrnCString_trimBlankLines("\nx\n", 0)));
    EXPECT_EQ("  ", take(vrnCString_trimBlankLines("  \n  ", 3)));
    EXPECT_EQ("", take(vrnCString_trimBlankLines("", 3)));
}

TEST(CStringArray, PackedStringFields) {
    EXPECT_EQ((V{"a", "", "b"}), split("a,,b", ','));
    EXPECT_EQ((V{"", "a"}), split(",a", ','));
    EXPECT_EQ((V{"a"}), split("a,", ','));
    EXPECT_EQ((V{""}), split(",", ','));
    EXPECT_EQ((V{"", ""}), split(",,", ','));
    EXPECT_EQ((V{"abc"}), split("abc", ','));
    EXPECT_EQ((V{}), split("", ','));
    EXPECT_EQ((V{}), split(nullptr, ','));
    EXPECT_EQ((V{"x y", "z"}), split("x y;z", ';'));
}

TEST(CStringArray, FreeHandlesNullAndExternalArrays) {
    vrnCStringArray_free(nullptr, 3);
    vrnCStringArray_free_external(nullptr, 3);
    auto** external = static_cast<char**>(malloc(2 * sizeof(char*)));
    external[0] = strdup("a");
    external[1] = strdup("b");
    vrnCStringArray_free_external(external, 2);
}
