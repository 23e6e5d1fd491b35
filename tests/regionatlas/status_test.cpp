#include "region_internal.h"
#include "region_status.h"
#include "region_test_util.h"

#include <string>

using regiontest::lines;

TEST(RegionStatus, InternalErrorIsFatalAndRecordsAreShared)
{
    RegionStatus* first = nullptr;
    ASSERT_EQ(RegionStatus_set(&first, 1, 2, "broken"), 1);
    EXPECT_TRUE(RegionStatus_isError(first));
    EXPECT_TRUE(first->flags & REGION_STATUS_FATAL);
    RegionStatus* second = nullptr;
    RegionStatus_set(&second, 1, 800000, "gone");
    EXPECT_EQ(first, second);
    EXPECT_EQ(RegionStatus_getCode(first), 800000);
    EXPECT_FALSE(first->flags & REGION_STATUS_FATAL);
    EXPECT_EQ(RegionStatus_markFatal(first), 1);
    RegionStatus* okStatus = nullptr;
    RegionStatus_set(&okStatus, 0, 5, "ignored");
    EXPECT_FALSE(RegionStatus_isError(okStatus));
    EXPECT_EQ(RegionStatus_markFatal(okStatus), 0);
    EXPECT_STREQ(okStatus->message, "No Error.");
}

TEST(RegionStatus, MessagesJoinIntoLines)
{
    RegionStatus* s = nullptr;
    RegionStatus_set(&s, 1, 6, "Unable to read Region Map: Unrecognised ORV.");
    ASSERT_EQ(RegionStatus_appendMessage(s, "bad line"), 1);
    EXPECT_EQ(lines(s), (std::vector<std::string>{"Unable to read Region Map: Unrecognised ORV.\n", "bad line.\n"}));
    RegionStatus_set(&s, 1, 6, "A");
    RegionStatus_appendMessage(s, "B");
    EXPECT_STREQ(s->message, "A.\nB");
    EXPECT_EQ(RegionStatus_appendMessage(s, ""), 0);
    // The last piece gets ".\n" whether or not it ends in a full stop.
    RegionStatus_set(&s, 1, 6, "Invalid Map.");
    EXPECT_EQ(lines(s), (std::vector<std::string>{"Invalid Map..\n"}));
    RegionStatus_set(&s, 1, 6, "ends\n");
    EXPECT_EQ(lines(s), (std::vector<std::string>{"ends\n"}));
    RegionStatus_set(&s, 1, 6, nullptr);
    char** l = nullptr;
    int n = 5;
    EXPECT_EQ(RegionStatus_getMessageLines(s, &l, &n), 0);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(l, nullptr);
}

TEST(RegionStatus, SettingTheRecordsOwnMessageKeepsIt)
{
    RegionStatus* s = nullptr;
    RegionStatus_set(&s, 1, 3, "keep me");
    RegionStatus_set(&s, 1, 4, s->message);
    EXPECT_STREQ(s->message, "keep me");
    EXPECT_EQ(s->code, 4);
    ASSERT_EQ(RegionStatus_appendMessage(s, s->message), 1);
    EXPECT_STREQ(s->message, "keep me.\nkeep me");
}

TEST(RegionStatus, CodeTextsAndOutOfMemory)
{
    RegionStatus* s = nullptr;
    RegionStatus_set(&s, 1, 800006, nullptr);
    EXPECT_STREQ(RegionStatus_getCodeText(s), "Map defines a region already in the atlas");
    RegionStatus_set(&s, 1, 900000, nullptr);
    EXPECT_STREQ(RegionStatus_getCodeText(s), "String not in in list");
    RegionStatus_set(&s, 1, 12345, nullptr);
    EXPECT_STREQ(RegionStatus_getCodeText(s), "Unknown Error.");
    s = RegionStatus_outOfMemory("hash table");
    EXPECT_EQ(s->code, 7);
    EXPECT_STREQ(s->message, "Unable to allocate memory for new hash table.");
}

TEST(RegionStatus, LongFormattedMessagesStayWhole)
{
    std::string name(2048, 'n');
    RegionStatus* s = regionatlas::fail(800004, "%s (%s) is already defined.", "Region", name.c_str());
    EXPECT_EQ(std::string(s->message), "Region (" + name + ") is already defined.");
    s = regionatlas::fail(3, "%s", "100%s literal");
    EXPECT_STREQ(s->message, "100%s literal");
}
