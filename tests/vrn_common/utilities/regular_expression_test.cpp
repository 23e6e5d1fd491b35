#include "utilities/regular_expression.h"

#include <gtest/gtest.h>
#include <regex.h>

#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

namespace {

using vrn::regex::regcomp;
using vrn::regex::regexec;
using vrn::regex::regexp;
using vrn::regex::regfree;

// Compiles pattern, matches subject, frees; fails the test when the pattern
// does not compile.
bool matches(const char* pattern, const char* subject) {
    regexp* r = regcomp(pattern);
    EXPECT_NE(r, nullptr) << pattern << ": " << (vrn::regex::lastError() ? vrn::regex::lastError() : "");
    if (!r) return false;
    int result = regexec(r, subject);
    regfree(r);
    return result == 1;
}

// The message a pattern fails with, or "" when it compiles.
std::string compileError(const std::string& pattern) {
    const char* message = nullptr;
    RegularExpression* e = RegularExpression_compile(pattern.c_str(), &message);
    if (e) {
        RegularExpression_delete(e);
        return "";
    }
    return message ? message : "(no message)";
}

bool exact(const char* pattern, const char* name) {
    RegularExpression* e = RegularExpression_new(pattern);
    EXPECT_NE(e, nullptr) << pattern;
    int result = RegularExpression_exactMatch(e, name);
    RegularExpression_delete(e);
    return result == 1;
}

TEST(RegularExpression, AnchorsPinStartAndEndOfSubject) {
    EXPECT_TRUE(matches("^abc", "abcd"));
    EXPECT_FALSE(matches("^abc", "xabc"));
    EXPECT_TRUE(matches("abc$", "xabc"));
    EXPECT_FALSE(matches("abc$", "abcx"));
    EXPECT_TRUE(matches("^$", ""));
    EXPECT_FALSE(matches("^$", "a"));
    EXPECT_TRUE(matches("^a|b$", "xxb"));
    EXPECT_TRUE(matches("", "anything"));
}

TEST(RegularExpression, ExactMatchSearchesBetweenLiteralAnchors) {
    EXPECT_TRUE(exact("Set_", "Set_add"));
    EXPECT_TRUE(exact("Set_", "HashSet_remove"));
    // The subject starts with the '^' character, so ^ followed by S never matches.
    EXPECT_FALSE(exact("^Set_", "Set_add"));
    EXPECT_TRUE(exact(".*", "anything"));
    EXPECT_TRUE(exact("", "anything"));
    // Escaped anchors match the literal characters around the name.
    EXPECT_TRUE(exact("\\^vrnError_new\\$", "vrnError_new"));
    EXPECT_FALSE(exact("\\^vrnError_new\\$", "vrnError_newer"));
    EXPECT_FALSE(exact("\\^vrnError_new\\$", "xvrnError_new"));
    EXPECT_TRUE(exact("\\^Hash", "HashSet_add"));
    EXPECT_FALSE(exact("\\^Hash", "vrnHashSet_add"));
    EXPECT_TRUE(exact("_new\\$", "vrnError_new"));
    EXPECT_FALSE(exact("_new\\$", "vrnError_newX"));
    EXPECT_EQ(RegularExpression_exactMatch(nullptr, "x"), 0);
}

TEST(RegularExpression, SetsWithLeadingBracketOrDashAndRanges) {
    EXPECT_TRUE(matches("^[]a]$", "]"));
    EXPECT_TRUE(matches("^[]a]$", "a"));
    EXPECT_FALSE(matches("^[]a]$", "b"));
    EXPECT_TRUE(matches("^[-a]$", "-"));
    EXPECT_TRUE(matches("^[a-]$", "-"));
    EXPECT_FALSE(matches("^[a-]$", "b"));
    EXPECT_TRUE(matches("^[a-c]+$", "abcabc"));
    EXPECT_FALSE(matches("^[a-c]+$", "abd"));
    EXPECT_TRUE(matches("^[^a-c]$", "d"));
    EXPECT_FALSE(matches("^[^a-c]$", "b"));
    EXPECT_FALSE(matches("^[^a-c]$", ""));
    EXPECT_TRUE(matches("^[^]]$", "x"));
    EXPECT_FALSE(matches("^[^]]$", "]"));
    EXPECT_TRUE(matches("^[a-a]$", "a"));
    // Bytes above 127 (UTF-8 names) work in sets and ranges.
    EXPECT_TRUE(matches("^[\x80-\xff]+$", "\xc3\xa9"));
    EXPECT_FALSE(matches("^[^\x80-\xff]$", "\xc3"));
    // Special characters lose their meaning inside a set.
    EXPECT_TRUE(matches("^[.*]+$", ".*."));
    EXPECT_FALSE(matches("^[.*]+$", "a"));
}

TEST(RegularExpression, RepetitionBacktracksGreedily) {
    EXPECT_TRUE(matches("a*ab", "aaab"));
    EXPECT_TRUE(matches("^a*ab$", "aaab"));
    EXPECT_TRUE(matches("^a+b$", "ab"));
    EXPECT_FALSE(matches("^a+b$", "b"));
    EXPECT_TRUE(matches("^ab?c$", "ac"));
    EXPECT_TRUE(matches("^ab?c$", "abc"));
    EXPECT_FALSE(matches("^ab?c$", "abbc"));
    EXPECT_TRUE(matches("^(ab)*c$", "ababc"));
    EXPECT_FALSE(matches("^(ab)*c$", "abac"));
    EXPECT_TRUE(matches("^(ab)+$", "abab"));
    EXPECT_TRUE(matches("^(a|bc)+d$", "abcad"));
    EXPECT_TRUE(matches("^.*x.*$", "abxcd"));
    EXPECT_TRUE(matches("^(a|ab)(c|bcd)$", "abcd"));
    // A literal run before a repetition keeps its last character for it.
    EXPECT_TRUE(matches("^abc*$", "ab"));
    EXPECT_FALSE(matches("^abc*$", "a"));
}

// Nested repetitions make plain backtracking take exponential time; such a
// rule must still get its answer (and the same answer) at once.
TEST(RegularExpression, NestedRepetitionsAnswerWithoutEndlessBacktracking) {
    EXPECT_FALSE(exact("(.+)+x", "Dictionary_makeKeyUnique_andMuchMoreOfTheName"));
    EXPECT_FALSE(exact("((.+)+)+x", "HashSet_resize_withAVeryLongRoutineName"));
    EXPECT_TRUE(exact("(.+)+x", "Dictionary_makeKeyUnique_andMuchMoreOfTheNamex"));
    const std::string bs(60, 'b');
    EXPECT_FALSE(matches("(b|b|F)*c", bs.c_str()));
    EXPECT_TRUE(matches("(b|b|F)*c", (bs + "c").c_str()));

    // Groups are those of the first match found, as without the shortcut.
    regexp* r = regcomp("^((a|a)+)+(b)$");
    ASSERT_NE(r, nullptr);
    const std::string as(50, 'a');
    EXPECT_EQ(regexec(r, (as + "c").c_str()), 0);
    const std::string subject = as + "b";
    ASSERT_EQ(regexec(r, subject.c_str()), 1);
    EXPECT_EQ(std::string(r->startp[1], r->endp[1]), as);
    EXPECT_EQ(std::string(r->startp[3], r->endp[3]), "b");
    regfree(r);
}

// Over a small alphabet the engine agrees with the C library's extended
// expressions, on short subjects (plain backtracking) and long ones (where
// failed attempts are remembered).
TEST(RegularExpression, AgreesWithTheCLibraryOnBacktrackingPatterns) {
    const char* patterns[] = {"(a|ab)*b",          "(a+)+b",       "((a|b)*a)+b", "(a|b)*a(a|b)(a|b)b",
                              "^(ab|a)(bb|b)*a$", "(a?b)+a?a?a$", "^((a|b)+)+bb$", "(aa|a)+(b|bb)a"};
    std::vector<std::string> subjects;
    for (int length = 0; length <= 10; ++length)
        for (int bits = 0; bits < (1 << length); ++bits) {
            std::string s;
            for (int i = 0; i < length; ++i) s += (bits >> i) & 1 ? 'b' : 'a';
            subjects.push_back(s);
        }
    unsigned state = 12345;
    for (int n = 0; n < 300; ++n) {
        std::string s;
        for (int i = 0; i < 24 + n % 20; ++i) {
            state = state * 1103515245u + 12345u;
            s += (state >> 16) % 5 == 0 ? 'b' : 'a';
        }
        subjects.push_back(s);
    }
    for (const char* pattern : patterns) {
        SCOPED_TRACE(pattern);
        regexp* ours = regcomp(pattern);
        ASSERT_NE(ours, nullptr);
        regex_t theirs;
        ASSERT_EQ(0, ::regcomp(&theirs, pattern, REG_EXTENDED | REG_NOSUB));
        for (const std::string& subject : subjects)
            ASSERT_EQ(::regexec(&theirs, subject.c_str(), 0, nullptr, 0) == 0, regexec(ours, subject.c_str()) == 1)
                << subject;
        ::regfree(&theirs);
        regfree(ours);
    }
}

TEST(RegularExpression, GroupsRecordLeftmostGreedyMatch) {
    regexp* r = regcomp("(a*)(b+)");
    ASSERT_NE(r, nullptr);
    const char* s = "xxaabbbc";
    ASSERT_EQ(regexec(r, s), 1);
    EXPECT_EQ(r->startp[0], s + 2);
    EXPECT_EQ(r->endp[0], s + 7);
    EXPECT_EQ(std::string(r->startp[1], r->endp[1]), "aa");
    EXPECT_EQ(std::string(r->startp[2], r->endp[2]), "bbb");
    regfree(r);
}

TEST(RegularExpression, MalformedPatternsReportTheirMessageAndTheProcessGoesOn) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"a**", "nested *?+"},
        {"a+*", "nested *?+"},
        {"(a", "unmatched ()"},
        {"a)", "unmatched ()"},
        {"[z-a]", "invalid [] range"},
        {"[ab", "unmatched []"},
        {"ab\\", "trailing \\"},
        {"(a*)*", "*+ operand could be empty"},
        {"(a?)+", "*+ operand could be empty"},
        {"*a", "?+* follows nothing"},
        {"a|+", "?+* follows nothing"},
        {"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)", "too many ()"},
    };
    auto result = vrntest::runInChild([&] {
        int wrong = 0;
        for (const auto& [pattern, message] : cases) {
            if (compileError(pattern) != message) {
                std::printf("%s -> %s\n", pattern.c_str(), compileError(pattern).c_str());
                ++wrong;
            }
        }
        return wrong;
    });
    EXPECT_EQ(result.termSignal, 0);
    EXPECT_EQ(result.exitStatus, 0) << result.out;
    EXPECT_EQ(result.err, "");  // nothing printed: the message goes to the caller
    for (const auto& [pattern, message] : cases) EXPECT_EQ(compileError(pattern), message) << pattern;
    // Nine groups are allowed.
    EXPECT_EQ(compileError("(a)(b)(c)(d)(e)(f)(g)(h)(i)"), "");
    EXPECT_EQ(compileError("(((((((((a)))))))))"), "");
}

TEST(RegularExpression, ProgramSizeLimitAndBadArguments) {
    EXPECT_EQ(compileError(std::string(11000, '.')), "regexp too big");
    EXPECT_EQ(compileError(std::string(10000, '.')), "");

    EXPECT_EQ(regcomp(nullptr), nullptr);
    EXPECT_STREQ(vrn::regex::lastError(), "NULL argument");
    EXPECT_EQ(RegularExpression_new(nullptr), nullptr);

    regexp* r = regcomp("abc");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(regexec(r, nullptr), 0);
    EXPECT_STREQ(vrn::regex::lastError(), "NULL parameter");
    EXPECT_EQ(regexec(nullptr, "abc"), 0);
    EXPECT_STREQ(vrn::regex::lastError(), "NULL parameter");
    r->program[0] ^= 0xFF;
    EXPECT_EQ(regexec(r, "abc"), 0);
    EXPECT_STREQ(vrn::regex::lastError(), "corrupted program");
    regfree(r);
}

TEST(RegularExpression, LeavesTheCLibraryEngineReachable) {
    // The engine's names are not global symbols, so these reach the C library.
    regex_t re;
    ASSERT_EQ(::regcomp(&re, "^a[0-9]{2}$", REG_EXTENDED | REG_NOSUB), 0);
    EXPECT_EQ(::regexec(&re, "a12", 0, nullptr, 0), 0);
    EXPECT_NE(::regexec(&re, "a1", 0, nullptr, 0), 0);
    char buffer[64];
    EXPECT_GT(::regerror(REG_NOMATCH, &re, buffer, sizeof buffer), 0u);
    ::regfree(&re);
}

TEST(RegularExpression, KeepsItsPattern) {
    RegularExpression* e = RegularExpression_new("Hash(Set|Table)_");
    ASSERT_NE(e, nullptr);
    EXPECT_STREQ(RegularExpression_getPattern(e), "Hash(Set|Table)_");
    EXPECT_EQ(RegularExpression_exactMatch(e, "HashTable_add"), 1);
    EXPECT_EQ(RegularExpression_exactMatch(e, "HashMap_add"), 0);
    RegularExpression_delete(e);
}

}  // namespace
