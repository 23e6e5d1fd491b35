#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "../handed_over.h"
#include "KWXUnits.h"
#include "maths/vrnAffineTransform3D.h"
#include "maths/vrnUnits.h"

namespace {

// The source file every recorded error names; clears them.
std::vector<std::string> errorSources() {
    int count = 0;
    vrnError** errors = nullptr;
    vrnApp_getErrors(&count, &errors);
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) out.push_back(errors[i]->sourceFile ? errors[i]->sourceFile : "<none>");
    vrnFree(errors, "test");
    vrnApp_clearErrors();
    return out;
}

std::vector<double> matrix(const vrnAffineTransform3D* t) { return {t->A, t->A + 9}; }
std::vector<double> vector3(const vrnAffineTransform3D* t) { return {t->v, t->v + 3}; }

const double kA[9] = {0, -1, 0, 1, 0, 0, 0, 0, 2};
const double kV[3] = {5, 6, 7};

}  // namespace

TEST(AffineTransform, NewIsTheIdentityInMetres) {
    vrnAffineTransform3D* t = vrnAffineTransform3D_new();
    EXPECT_EQ(matrix(t), (std::vector<double>{1, 0, 0, 0, 1, 0, 0, 0, 1}));
    EXPECT_EQ(vector3(t), (std::vector<double>{0, 0, 0}));
    EXPECT_STREQ(t->units, "m");
    vrnAffineTransform3D_delete(t);
    vrnAffineTransform3D_delete(nullptr);
}

TEST(AffineTransform, SetTakesLengthAndAngleUnits) {
    for (bool local : {true, false}) {
        if (local) setenv("VRN_USE_LOCAL_UNITS", "", 1);
        else unsetenv("VRN_USE_LOCAL_UNITS");
        vrnUnits_resetMode();
        vrnAffineTransform3D* t = vrnAffineTransform3D_new();
        EXPECT_EQ(vrnAffineTransform3D_set(t, kA, kV, "mm"), 1);
        EXPECT_EQ(matrix(t), std::vector<double>(kA, kA + 9));
        EXPECT_EQ(vector3(t), std::vector<double>(kV, kV + 3));
        EXPECT_STREQ(t->units, "mm");
        EXPECT_EQ(vrnAffineTransform3D_set(t, kA, kV, "degree"), 1);
        EXPECT_STREQ(t->units, "degree");
        vrnAffineTransform3D_delete(t);
    }
    EXPECT_TRUE(commontest::takeErrors().empty());
}

TEST(AffineTransform, UnknownUnitsLeaveEverythingAndReport10013) {
    vrnAffineTransform3D* t = vrnAffineTransform3D_new();
    ASSERT_EQ(vrnAffineTransform3D_set(t, kA, kV, "ft"), 1);
    const double otherA[9] = {9, 9, 9, 9, 9, 9, 9, 9, 9};
    const double otherV[3] = {8, 8, 8};
    EXPECT_EQ(vrnAffineTransform3D_set(t, otherA, otherV, "furlongs"), 0);
    EXPECT_EQ(vrnAffineTransform3D_set(t, otherA, otherV, nullptr), 0);
    EXPECT_EQ(matrix(t), std::vector<double>(kA, kA + 9));
    EXPECT_EQ(vector3(t), std::vector<double>(kV, kV + 3));
    EXPECT_STREQ(t->units, "ft");
    auto errors = commontest::takeErrors();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].code, VRN_U_INVALID_LENGTH_UNITS);
    EXPECT_EQ(errors[0].message, "Supplied units for length were: furlongs.\n");
    EXPECT_STREQ(vrnErrorCode_getDescription(10013),
                 "The supplied name for length units has not been recognised.");
    EXPECT_EQ(errors[1].code, VRN_U_INVALID_LENGTH_UNITS);
    vrnAffineTransform3D_delete(t);
}

// Errors name their source the way every model-database error does: its
// place in the tree without the extension.
TEST(AffineTransform, ErrorsNameTheSourceWithoutExtension) {
    vrnAffineTransform3D* t = vrnAffineTransform3D_new();
    EXPECT_EQ(vrnAffineTransform3D_set(t, kA, kV, "furlongs"), 0);
    EXPECT_EQ(vrnAffineTransform3D_set(t, nullptr, kV, "m"), 0);
    const std::string source = "vrn_common/src/maths/vrnAffineTransform3D";
    EXPECT_EQ(errorSources(), (std::vector<std::string>{source, source}));
    vrnAffineTransform3D_delete(t);
}

TEST(AffineTransform, SetFromItsOwnFieldsAndMissingArguments) {
    vrnAffineTransform3D* t = vrnAffineTransform3D_new();
    ASSERT_EQ(vrnAffineTransform3D_set(t, kA, kV, "inch"), 1);
    EXPECT_EQ(vrnAffineTransform3D_set(t, t->A, t->v, t->units), 1);
    EXPECT_STREQ(t->units, "inch");
    EXPECT_EQ(matrix(t), std::vector<double>(kA, kA + 9));
    EXPECT_EQ(vrnAffineTransform3D_set(t, nullptr, kV, "m"), 0);
    EXPECT_EQ(vrnAffineTransform3D_set(nullptr, kA, kV, "m"), 0);
    EXPECT_STREQ(t->units, "inch");
    auto errors = commontest::takeErrors();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].code, VRN_U_INVALID_INPUT);
    vrnAffineTransform3D_delete(t);
}
