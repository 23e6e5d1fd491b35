#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "../handed_over.h"
#include "database/orv_name.h"

namespace {

using commontest::take;

void encoding(bool on) {
    if (on) setenv("VRN_ENCODE_NAMES", "", 1);
    else unsetenv("VRN_ENCODE_NAMES");
    orvResetEncodeNamesSetting();
}

class OrvNames : public ::testing::Test {
protected:
    void TearDown() override { encoding(false); }
};

}  // namespace

TEST_F(OrvNames, EncodingOffNormalises) {
    encoding(false);
    EXPECT_EQ(orvReadEncodeNamesSetting(), 0);
    EXPECT_EQ(take(orvEncodeName("  Inlet (main)  ")), "Inlet main");
    EXPECT_EQ(take(orvEncodeName("3rd wall")), "n3rd wall");
    EXPECT_EQ(take(orvEncodeName("a,b")), "a b");
    EXPECT_EQ(take(orvEncodeName("\t#x\x01y\xC3\xA9")), "x y\xC3\xA9");
    EXPECT_EQ(take(orvEncodeName("  (7) ")), "n7");
    EXPECT_EQ(take(orvEncodeName("   ")), "");
    EXPECT_EQ(take(orvEncodeName(nullptr)), "<null>");
    EXPECT_EQ(take(orvUnencodeName("%52egion 1")), "%52egion 1");
    EXPECT_EQ(take(orvUnencodeName(nullptr)), "<null>");
}

TEST_F(OrvNames, EncodingOnEscapesReversibly) {
    encoding(true);
    EXPECT_EQ(orvReadEncodeNamesSetting(), 1);
    EXPECT_EQ(take(orvEncodeName("Region 1")), "%52egion 1");
    EXPECT_EQ(take(orvEncodeName("Inlet (main)")), "%49nlet %28main%29");
    EXPECT_EQ(take(orvEncodeName("50%")), "%350%25");
    EXPECT_EQ(take(orvEncodeName("\xC3\xA9")), "%C3A9");
    EXPECT_EQ(take(orvEncodeName("  a   b  ")), "%61 b");
    EXPECT_EQ(take(orvEncodeName(" \t ")), "<null>");
    EXPECT_EQ(take(orvEncodeName("bad \xC3")), "<null>");
    EXPECT_EQ(take(orvUnencodeName("%52egion 1")), "Region 1");
    EXPECT_EQ(take(orvUnencodeName("%52EGION%2c%c3a9")), "REGION,\xC3\xA9");
    EXPECT_EQ(take(orvUnencodeName("%5")), "<null>");
    EXPECT_EQ(take(orvUnencodeName("%C3%A9")), "<null>");
    EXPECT_EQ(take(orvUnencodeName("")), "<null>");
    for (const char* name : {"Inlet (main)", "50% / 3", "\xE2\x82\xAC x", "a:b;c"})
        EXPECT_EQ(take(orvUnencodeName(take(orvEncodeName(name)).c_str())), name);
}

TEST_F(OrvNames, SwitchIsReadOnceUntilReset) {
    encoding(true);
    EXPECT_EQ(take(orvEncodeName("a,b")), "%61%2Cb");
    unsetenv("VRN_ENCODE_NAMES");
    EXPECT_EQ(take(orvEncodeName("a,b")), "%61%2Cb");
    orvResetEncodeNamesSetting();
    EXPECT_EQ(take(orvEncodeName("a,b")), "a b");
}
