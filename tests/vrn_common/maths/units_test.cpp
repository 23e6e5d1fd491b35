#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "KWXUnits.h"
#include "maths/vrnUnits.h"

namespace {

// Puts the checks into one mode: local, or the library (made to fail
// its initialisation when asked).
void useLocal() {
    setenv("VRN_USE_LOCAL_UNITS", "", 1);
    u_standin_failInitialisation(0);
    vrnUnits_resetMode();
}

void useLibrary(bool failing = false) {
    unsetenv("VRN_USE_LOCAL_UNITS");
    u_standin_failInitialisation(failing ? 1 : 0);
    vrnUnits_resetMode();
}

class UnitsModes : public ::testing::Test {
protected:
    void TearDown() override { useLibrary(); }
};

}  // namespace

TEST(UnitsTable, RowsInTheirOrderWithFactorsAndKinds) {
    useLocal();
    const std::pair<int, const char*> names[] = {{0, "exametre"},   {1, "exameter"},
                                                 {14, "decametre"}, {16, "dekametre"},
                                                 {20, "metre"},     {35, "attometer"},
                                                 {36, "angstrom"},  {62, "revolution"}};
    for (const auto& n : names) EXPECT_STREQ(vrnUnits_getLocalRow(n.first)->name, n.second);
    EXPECT_EQ(vrnUnits_getLocalRow(0)->factor, 1e18);
    EXPECT_EQ(vrnUnits_getLocalRow(43)->factor, 0.3048);
    EXPECT_EQ(vrnUnits_getLocalRow(58)->kind, VRN_UNITS_LENGTH);  // yard
    EXPECT_EQ(vrnUnits_getLocalRow(59)->kind, VRN_UNITS_ANGLE);   // radian
    EXPECT_EQ(vrnUnits_getLocalRow(63), nullptr);
    EXPECT_EQ(vrnUnits_getLocalRow(-1), nullptr);
}

TEST(UnitsTable, FindLocalIsExactAndFindLocalAnyTriesSymbolsFirst) {
    useLocal();
    int row = -7;
    EXPECT_EQ(vrnUnits_findLocal("metre", &row), 1);
    EXPECT_EQ(row, 20);
    EXPECT_EQ(vrnUnits_findLocal("meter", &row), 1);
    EXPECT_EQ(row, 21);
    row = -7;
    EXPECT_EQ(vrnUnits_findLocal("m", &row), 0);
    EXPECT_EQ(vrnUnits_findLocal("metres", &row), 0);
    EXPECT_EQ(vrnUnits_findLocal("metr", &row), 0);
    EXPECT_EQ(vrnUnits_findLocal(nullptr, &row), 0);
    EXPECT_EQ(row, -7);
    EXPECT_EQ(vrnUnits_findLocalAny("m", &row), 1);
    EXPECT_EQ(row, 20);
    EXPECT_EQ(vrnUnits_findLocalAny("-", &row), 1);
    EXPECT_EQ(row, 38);  // cable, the first unit without a symbol
    EXPECT_EQ(vrnUnits_findLocalAny("dam", &row), 1);
    EXPECT_EQ(row, 14);
}

TEST_F(UnitsModes, LocalModeKnowsEveryRowByNameAndSymbol) {
    useLocal();
    for (int i = 0; i < VRN_UNITS_LOCAL_ROWS; ++i) {
        const vrnUnitsLocalRow* r = vrnUnits_getLocalRow(i);
        EXPECT_EQ(vrnUnits_isKnownUnit(r->name), 1) << r->name;
        EXPECT_EQ(vrnUnits_isKnownUnit(r->symbol), 1) << r->symbol;
    }
    for (const char* known : {"metre", "m", "meter", "ft", "degree", "rad", "-"})
        EXPECT_EQ(vrnUnits_isKnownUnit(known), 1) << known;
    for (const char* unknown : {"Metre", "feet", "", " m", "furlongs"})
        EXPECT_EQ(vrnUnits_isKnownUnit(unknown), 0) << unknown;
    EXPECT_EQ(vrnUnits_isKnownUnit(nullptr), 0);
}

TEST_F(UnitsModes, LibraryModeAnswersAsTheLocalTable) {
    useLibrary();
    for (int i = 0; i < VRN_UNITS_LOCAL_ROWS; ++i) {
        const vrnUnitsLocalRow* r = vrnUnits_getLocalRow(i);
        EXPECT_EQ(vrnUnits_isKnownUnit(r->name), 1) << r->name;
        if (std::string(r->symbol) != "-") {
            EXPECT_EQ(vrnUnits_isKnownUnit(r->symbol), 1) << r->symbol;
        }
    }
    for (const char* unknown : {"Metre", "feet", "", "furlongs"})
        EXPECT_EQ(vrnUnits_isKnownUnit(unknown), 0) << unknown;
    EXPECT_EQ(vrnUnits_isKnownUnit("degree"), 1);
    EXPECT_EQ(vrnUnits_isConvertible("metre", "m"), 2);
    EXPECT_EQ(vrnUnits_isConvertible("m", "m"), 2);
    EXPECT_EQ(vrnUnits_isConvertible("mm", "m"), 1);
    EXPECT_EQ(vrnUnits_isConvertible("deg", "rad"), 1);
    EXPECT_EQ(vrnUnits_isConvertible("deg", "m"), 0);  // angle to length
    EXPECT_EQ(vrnUnits_isConvertible("m", nullptr), 0);
}

TEST_F(UnitsModes, ModeIsDecidedOnceAndAFailedLibraryKnowsNothing) {
    useLibrary(true);
    EXPECT_EQ(vrnUnits_isKnownUnit("m"), 0);
    EXPECT_EQ(vrnUnits_isConvertible("m", "m"), 0);
    // The mode stays until reset, whatever the environment does.
    setenv("VRN_USE_LOCAL_UNITS", "1", 1);
    EXPECT_EQ(vrnUnits_isKnownUnit("m"), 0);
    vrnUnits_resetMode();
    EXPECT_EQ(vrnUnits_isKnownUnit("m"), 1);
    // The local table does not need the library.
    EXPECT_EQ(vrnUnits_isKnownUnit("-"), 1);
}

TEST(UnitsStandIn, ConvertGivesFactorsBetweenUnitsOfOneKind) {
    u_standin_failInitialisation(0);
    double factor = -1, second = -1;
    int status = -1;
    convert("km", "mm", &factor, &second, &status);
    EXPECT_EQ(status, 0);
    EXPECT_DOUBLE_EQ(factor, 1e6);
    EXPECT_EQ(second, 0);
    convert("furlong", "rad", &factor, &second, &status);
    EXPECT_NE(status, 0);
    convert("-", "m", &factor, &second, &status);
    EXPECT_NE(status, 0);
    convert(nullptr, "m", &factor, &second, &status);
    EXPECT_NE(status, 0);
}
