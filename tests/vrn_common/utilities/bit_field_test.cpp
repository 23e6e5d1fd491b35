#include "utilities/bit_field.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

TEST(BitField, EachBitHasItsOwnMask) {
    BitField field = 0;
    BitField_setBit(&field, 7);
    EXPECT_EQ(BitField_isSet(&field, 7), 128);
    EXPECT_EQ(BitField_isSet(&field, 6), 0);
    BitField_setBit(&field, 0);
    BitField_setBit(&field, 3);
    EXPECT_EQ(field, 128 + 8 + 1);
    EXPECT_EQ(BitField_isSet(&field, 3), 8);
    BitField_setBit(&field, 3);  // setting twice changes nothing
    EXPECT_EQ(field, 128 + 8 + 1);
    BitField_clearAll(&field);
    EXPECT_EQ(field, 0);
    for (int bit = 0; bit < 8; ++bit) EXPECT_EQ(BitField_isSet(&field, bit), 0);
}

TEST(BitField, BitOutsideTheByteFailsTheAssertionAndEndsTheProcess) {
    for (int bit : {8, -1}) {
        vrntest::ChildResult r = vrntest::runInChild([bit] {
            BitField field = 0;
            BitField_setBit(&field, bit);
            return 0;
        });
        EXPECT_EQ(r.exitStatus, 1) << "bit " << bit;
        EXPECT_NE(r.err.find("bit > -1 && bit < 8"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("BitField_setBit"), std::string::npos) << r.err;
    }
    vrntest::ChildResult r = vrntest::runInChild([] {
        BitField field = 0xFF;
        return BitField_isSet(&field, 9) ? 3 : 4;
    });
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find("BitField_isSet"), std::string::npos) << r.err;
}

}  // namespace
