#include "orv_test_util.h"

#include <gtest/gtest.h>

using namespace orvtest;

TEST(OrvParser, ContinuationJoinsLinesAndBlankEndsIt)
{
    Handle h;
    // A blank before the backslash stays; leading white space of the next
    // line does not.
    EXPECT_EQ(load(h, {"a = b \\", "c", "d = b\\", "   c"}), "");
    EXPECT_EQ(value(h, "/a"), "b c");
    EXPECT_EQ(value(h, "/d"), "bc");
    // A blank line ends a continuation.
    EXPECT_EQ(load(h, {"e = x\\", "   ", "f = y"}), "");
    EXPECT_EQ(value(h, "/e"), "x");
    EXPECT_EQ(value(h, "/f"), "y");
    // The pending text survives between calls.
    EXPECT_EQ(load(h, {"g = 1\\"}), "");
    EXPECT_EQ(value(h, "/g"), "<missing>");
    EXPECT_EQ(load(h, {"2"}), "");
    EXPECT_EQ(value(h, "/g"), "12");
}

TEST(OrvParser, CommentsAndWhiteSpace)
{
    Handle h;
    // The backslash is looked at before comments are cut, so the comment
    // swallows the next line.
    EXPECT_EQ(load(h, {"a = 1 # c\\", "b = 2"}), "");
    EXPECT_EQ(value(h, "/a"), "1");
    EXPECT_EQ(value(h, "/b"), "<missing>");
    EXPECT_EQ(load(h, {"x = a\\#b", "# all comment = 3", "y =\t p \t  q  ", "z = "}), "");
    EXPECT_EQ(value(h, "/x"), "a\\#b");
    EXPECT_EQ(value(h, "/y"), "p q");
    EXPECT_EQ(value(h, "/z"), "");
    EXPECT_EQ(load(h, {"  Foo:Bar   # note", "END # Foo", "v = a=b:c", "END"}),
              "parseORVLineH: unmatched END");
    EXPECT_EQ(value(h, "/v"), "a=b:c");
    EXPECT_TRUE(orvPathExistsH(h, "/Foo:Bar"));
}

TEST(OrvParser, ObjectAndSingletonForms)
{
    Handle h;
    EXPECT_EQ(load(h, {"A: x", "k = 1", "END", "B: B", "END", "C:", "END", "REGION MAP: Main map", "END"}), "");
    EXPECT_EQ(value(h, "/A:x/k"), "1");
    EXPECT_TRUE(orvPathExistsH(h, "/B"));
    EXPECT_TRUE(orvPathExistsH(h, "/C"));
    EXPECT_TRUE(orvPathExistsH(h, "/REGION MAP:Main map"));
    int n = 0;
    char** list = nullptr;
    ASSERT_EQ(getChildObjectList(h, "/", 1, 1, &n, &list), nullptr);
    EXPECT_EQ(take(list), (std::vector<std::string>{"A:x", "B", "C", "REGION MAP:Main map"}));
}

TEST(OrvParser, RefusalsGiveTheirTexts)
{
    Handle h;
    struct Case {
        const char* line;
        const char* message;
    } cases[] = {
        {"!x", "parseORVData: unable to handle power syntax with this version of the parser"},
        {"abc", "parseORVLineH: syntax error near \"abc\""},
        {"END foo", "parseORVLineH: syntax error near \"END foo\""},
        {"END", "parseORVLineH: unmatched END"},
        {"&Replace Foo: Bar", "parseORVLineH: unknown directive near \"&Replace Foo: Bar\""},
        {"& replace Foo: Bar", "parseORVLineH: unknown directive near \"& replace Foo: Bar\""},
        {"&replace", "parseORVLineH: unknown directive near \"&replace\""},
        {" = 3", "invalid parameter name: must be non-empty."},
        {": x", "invalid object type: must be non-empty."},
        {"1abc = 2", "invalid parameter name \"1abc\": leading character must be alphabetic or '_'"},
        {"a-b = 2", "invalid parameter name \"a-b\": contains invalid character '-'"},
        {"Type: a=b", "invalid parameter name \"Type: a\": contains invalid character ':'"},
        {"9T: x", "invalid object type \"9T\": leading character must be alphabetic or '_'"},
        {"T: x/y", "invalid object name \"x/y\": contains invalid character '/'"},
        {"T: a%b", "invalid object name \"a%b\": contains invalid character '%'"},
        {"\xE9t = 1", "invalid parameter name \"\xE9t\": leading character must be alphabetic or '_'"},
        {"v = a\x01z", "invalid parameter value \"a\x01z\": control character number 1 is not allowed."},
    };
    for (const Case& c : cases)
        EXPECT_EQ(line(h, c.line), c.message) << c.line;
    // Names that pass: '%' or '_' first, blanks, brackets, dots, braces, bars.
    EXPECT_EQ(line(h, "%_a.b[1] {x|y} = 1"), "");
    EXPECT_EQ(line(h, "_T: n.1"), "");
    EXPECT_EQ(blockDepth(h), 1);
    EXPECT_STREQ(getORVStateH(h, nullptr), "getORVStateH: Invalid arguments");
}

TEST(OrvParser, ParameterAndSingletonOfOnePathAreRefused)
{
    Handle h;
    EXPECT_EQ(load(h, {"Foo = 1", "Foo:", "END"}),
              "parseORVLineH: parameter and object share the path \"/Foo\"");
    EXPECT_EQ(value(h, "/Foo"), "1");
    EXPECT_EQ(load(h, {"Bar:", "END", "Bar = 2"}),
              "parseORVLineH: parameter and object share the path \"/Bar\"");
    EXPECT_EQ(value(h, "/Bar"), "<none>");
}

TEST(OrvParser, FailedObjectLineKeepsDepthAndClientPath)
{
    Handle h;
    ASSERT_EQ(load(h, {"A: x", "Foo = 1", "END"}), "");
    ASSERT_EQ(pushPath(h, "/A:x"), nullptr);
    // The singleton clashes with the parameter inside the client's object;
    // the unwind after the error must leave the client's path in place.
    const std::string clash = "parseORVLineH: parameter and object share the path \"/A:x/Foo\"";
    EXPECT_EQ(load(h, {"B: y", "END", "Foo:", "END"}), clash);
    EXPECT_EQ(current(h), "/A:x");
    EXPECT_EQ(blockDepth(h), 0);
    // Same for a single line.
    EXPECT_EQ(line(h, "Foo:"), clash);
    EXPECT_EQ(blockDepth(h), 0);
    EXPECT_EQ(current(h), "/A:x");
}

TEST(OrvParser, OverlongPathsAreRefused)
{
    Handle h;
    std::string name(5000, 'n');
    std::string err = load(h, {"T: " + name, "END"});
    EXPECT_EQ(err, "parseORVLineH: path longer than 4096 characters near \"/T:" + name + "\"");
    EXPECT_EQ(current(h), "/");
    ASSERT_EQ(load(h, {"A: x", "END"}), "");
    err = load(h, {"A: x", name + " = 1", "END"});
    EXPECT_EQ(err, "parseORVLineH: path longer than 4096 characters near \"/A:x/" + name + "\"");
}

TEST(OrvText, TrimCollapseAndStrip)
{
    char a[] = " \t a  b\r\n ";
    orvTrim(a);
    EXPECT_STREQ(a, "a  b");
    char b[] = "a \t\v b\f";
    orvCollapseSpace(b);
    EXPECT_STREQ(b, "a b ");
    char c[] = "x \\# y # z";
    orvStripComment(c);
    EXPECT_STREQ(c, "x \\# y ");
    char d[] = "# x";
    orvStripComment(d);
    EXPECT_STREQ(d, "");
}
