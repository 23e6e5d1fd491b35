#include "utilities/source.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "errors/error.h"
#include "errors/error_manager.h"
#include "support/memory.h"
#include "test_support.h"

namespace {

// Every line that Source_getLine hands out, at the given style and size.
std::vector<std::string> significantLines(Source* source, int style, int size = 1024) {
    Source_setStyle(source, style);
    std::vector<std::string> lines;
    std::vector<char> buffer(static_cast<size_t>(size));
    while (Source_getLine(source, buffer.data(), size)) lines.emplace_back(buffer.data());
    return lines;
}

std::vector<std::string> fileLines(const std::string& text, int style, int size = 1024) {
    vrntest::TempDir dir;
    vrntest::writeFile(dir.file("in.txt"), text);
    Source* source = Source_newFile(dir.file("in.txt").c_str());
    EXPECT_NE(source, nullptr);
    if (!source) return {};
    auto lines = significantLines(source, style, size);
    Source_delete(source);
    return lines;
}

using Lines = std::vector<std::string>;

TEST(Source, CommentStylesChooseSignificantLines) {
    const std::string text = "a # b\n   # note\n\t\t\n\n!bang\n  !x\nlast";
    EXPECT_EQ(fileLines(text, 0), (Lines{"a # b\n", "   # note\n", "\t\t\n", "\n", "!bang\n", "  !x\n", "last"}));
    EXPECT_EQ(fileLines(text, 1), (Lines{"a # b\n", "   # note\n", "  !x\n", "last"}));
    EXPECT_EQ(fileLines(text, 2), (Lines{"a # b\n", "!bang\n", "  !x\n", "last"}));
}

TEST(Source, StringLinesAreCopiedUnchangedAndLongOnesComeInPieces) {
    const char* const lines[] = {"# c", "abcdefghij", "", "x"};
    Source* source = Source_newLines(lines, 4);
    EXPECT_EQ(significantLines(source, 2, 5), (Lines{"abcd", "efgh", "ij", "x"}));
    Source_delete(source);

    // A too-small buffer ends the source instead of looping forever.
    source = Source_newLines(lines, 4);
    char one[1];
    EXPECT_EQ(Source_readLine(source, one, 1), nullptr);
    EXPECT_EQ(Source_getLine(source, one, 1), 0);
    Source_delete(source);
}

TEST(Source, FileLinesLongerThanTheBufferComeInPieces) {
    EXPECT_EQ(fileLines("abcdefgh\nxy\n", 0, 4), (Lines{"abc", "def", "gh\n", "xy\n"}));
}

TEST(Source, CarriageReturnBeforeNewlineIsDropped) {
    EXPECT_EQ(fileLines("a = b\r\nc\r\n\r\nlone\rcr\n", 2), (Lines{"a = b\n", "c\n", "lone\rcr\n"}));
    // The carriage return fills the buffer; its newline comes next in the file.
    EXPECT_EQ(fileLines("abc\r\nd\n", 0, 5), (Lines{"abc\n", "d\n"}));
    EXPECT_EQ(fileLines("abc\rd\n", 0, 5), (Lines{"abc\r", "d\n"}));
}

TEST(Source, ParsesOpeningAndClosingTags) {
    int start = -1, length = -1;
    EXPECT_EQ(Source_parseTag("<DEBUG>\n", &start, &length), 1);
    EXPECT_EQ(start, 1);
    EXPECT_EQ(length, 5);
    EXPECT_EQ(Source_parseTag("  </DEBUG> trailing\n", &start, &length), 2);
    EXPECT_EQ(start, 4);
    EXPECT_EQ(length, 5);
    EXPECT_EQ(Source_parseTag("   \n", &start, &length), 0);
    EXPECT_EQ(Source_parseTag("", &start, &length), 0);
    EXPECT_EQ(Source_parseTag("x <DEBUG>", &start, &length), 0);
    EXPECT_EQ(Source_parseTag("<DEBUG\n", &start, &length), 1);
    EXPECT_EQ(length, 6);  // the newline belongs to the name

    EXPECT_TRUE(Source_isOpenTag("<DEBUG>", "DEBUG"));
    EXPECT_TRUE(Source_isCloseTag("  </DEBUG>\n", "DEBUG"));
    EXPECT_FALSE(Source_isOpenTag("<DEBUGX>", "DEBUG"));
    EXPECT_FALSE(Source_isOpenTag("<DEBU>", "DEBUG"));
    EXPECT_FALSE(Source_isOpenTag("<debug>", "DEBUG"));
    EXPECT_FALSE(Source_isOpenTag("</DEBUG>", "DEBUG"));
    EXPECT_FALSE(Source_isCloseTag("<DEBUG>", "DEBUG"));
    EXPECT_FALSE(Source_isOpenTag("<DEBUG\n", "DEBUG"));
    EXPECT_TRUE(Source_isOpenTag("<DEBUG\n", "DEBUG\n"));
}

TEST(Source, SkipTagStopsAtTheFirstClosingTagOrTheEnd) {
    const char* const lines[] = {"<A>", "<A>", "x", "</A>", "after", "</A>", "end"};
    Source* source = Source_newLines(lines, 7);
    char line[64] = "<A>";
    skipTag(line, sizeof line, source);
    EXPECT_STREQ(line, "</A>");  // nesting is not counted
    ASSERT_TRUE(Source_getLine(source, line, sizeof line));
    EXPECT_STREQ(line, "after");
    Source_delete(source);

    const char* const open[] = {"<B", "x", "</B>", "y"};
    source = Source_newLines(open, 4);
    std::snprintf(line, sizeof line, "%s", "<B\n");
    skipTag(line, sizeof line, source);  // name "B\n" never closes
    EXPECT_EQ(Source_getLine(source, line, sizeof line), 0);
    Source_delete(source);
}

TEST(Source, TrimRemovesOnlySpaces) {
    char a[] = "  a b  ";
    Source_trim(a, 1);
    EXPECT_STREQ(a, "a b  ");
    char b[] = "  a b  ";
    Source_trim(b, 2);
    EXPECT_STREQ(b, "  a b");
    char c[] = "\t a \t";
    Source_trim(c, 3);
    EXPECT_STREQ(c, "\t a \t");
    char d[] = "    ";
    Source_trim(d, 3);
    EXPECT_STREQ(d, "");
}

struct Split {
    std::string key, value;
    int fitted;
};

Split split(const char* line, bool upper = false, int keySize = 256, int valueSize = 256) {
    // Buffers of exactly the given sizes, so that the sanitizer sees any
    // write beyond them.
    std::vector<char> key(static_cast<size_t>(keySize)), value(static_cast<size_t>(valueSize));
    int fitted = upper ? Source_getValueUpperKey(line, key.data(), keySize, value.data(), valueSize)
                       : Source_getValue(line, key.data(), keySize, value.data(), valueSize);
    return {key.data(), value.data(), fitted};
}

TEST(Source, GetValueSplitsKeyAndValue) {
    auto s = split("  Memory = a b \n");
    EXPECT_EQ(s.key, "Memory");
    EXPECT_EQ(s.value, "a b");
    EXPECT_EQ(s.fitted, 1);
    s = split("flag\n");
    EXPECT_EQ(s.key, "flag");
    EXPECT_EQ(s.value, "");
    s = split("x = y = z");
    EXPECT_EQ(s.key, "x");
    EXPECT_EQ(s.value, "y = z");
    s = split("Display Errors = 1");
    EXPECT_EQ(s.key, "DisplayErrors");
    EXPECT_EQ(s.value, "1");
    s = split("key:   ");
    EXPECT_EQ(s.key, "key");
    EXPECT_EQ(s.value, "");
    s = split("memory: m.log", true);
    EXPECT_EQ(s.key, "MEMORY");
    EXPECT_EQ(s.value, "m.log");
}

TEST(Source, GetValueWritesOnlyWithinTheGivenSizes) {
    auto s = split("averylongkey = averylongvalue", false, 5, 6);
    EXPECT_EQ(s.key, "aver");
    EXPECT_EQ(s.value, "avery");
    EXPECT_EQ(s.fitted, 0);
    s = split("abcd = vwxyz", true, 5, 6);
    EXPECT_EQ(s.key, "ABCD");
    EXPECT_EQ(s.value, "vwxyz");
    EXPECT_EQ(s.fitted, 1);
    s = split("k = v", false, 1, 1);
    EXPECT_EQ(s.key, "");
    EXPECT_EQ(s.value, "");
    EXPECT_EQ(s.fitted, 0);
    char key[4] = "old", value[4] = "old";
    EXPECT_EQ(Source_getValue("k = v", key, 0, value, 4), 0);
    EXPECT_STREQ(key, "old");
}

TEST(Source, UnopenableFileIsReportedAsInvalidInput) {
    vrntest::TempDir dir;
    const std::string missing = dir.file("missing.txt");
    EXPECT_EQ(Source_newFile(missing.c_str()), nullptr);
    EXPECT_EQ(Source_newFile(dir.path().c_str()), nullptr);  // a directory is no text
    int count = 0;
    vrnError** errors = nullptr;
    ASSERT_EQ(vrnApp_getErrors(&count, &errors), 1);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(errors[0]->code, VRN_U_INVALID_INPUT);
    EXPECT_EQ(std::string(vrnError_getMessage(errors[0])), "Unable to open file " + missing + ".\n");
    EXPECT_STREQ(errors[0]->function, "Source_newFile");
    vrnFree(errors, "test");
    vrnApp_clearErrors();
}

TEST(Source, StyleOutsideItsRangeFailsAnAssertion) {
    auto result = vrntest::runInChild([] {
        const char* const lines[] = {"x"};
        Source* source = Source_newLines(lines, 1);
        EXPECT_EQ(Source_setStyle(source, 2), 0);
        EXPECT_EQ(Source_setStyle(source, 1), 2);
        Source_setStyle(source, 3);
        return 0;
    });
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.err.find("!(style < 0 || style > 2)"), std::string::npos) << result.err;
}

}  // namespace
