#include "errors/error.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "errors/error_manager.h"
#include "support/memory.h"

namespace {

vrnError* newError(int code) { return vrnError_new(code, "Test_raise", "test/raise.cpp", 12); }

}  // namespace

TEST(ErrorClass, BoundariesOfEveryClass) {
    vrnError* e = newError(VRN_OK);
    const std::vector<std::pair<int, int>> cases = {
        {-7, 0},    {0, 0},     {1, 1},     {10000, 1}, {10001, 2},
        {20000, 2}, {20001, 3}, {30000, 3}, {30001, 4}, {2000000000, 4}};
    for (auto [code, cls] : cases) {
        e->code = code;
        EXPECT_EQ(cls, vrnError_getClass(e)) << "code " << code;
    }
    vrnApp_clearErrors();
}

TEST(ErrorClass, UnknownCodeIsStoredAsUnrecognisedAndFatal) {
    for (int code : {12345, -1, 7, 10050, 30006}) {
        vrnError* e = vrnError_new(code, "Thing_read", "src/thing.cpp", 77);
        EXPECT_EQ(VRN_I_UNRECOGNISED_ERROR_CODE, e->code) << code;
        EXPECT_EQ(VRN_CLASS_INTERNAL_ERROR, vrnError_getClass(e));
        EXPECT_EQ(1, e->fatal);
        // The raiser's routine, file and line are kept.
        EXPECT_STREQ("Thing_read", e->function);
        EXPECT_STREQ("src/thing.cpp", e->sourceFile);
        EXPECT_EQ(77, e->line);
        EXPECT_STREQ("An unrecognised error code has been generated.", vrnError_getDescription(e));
    }
    EXPECT_EQ(0, newError(VRN_U_INVALID_RESULT)->fatal);
    EXPECT_EQ(0, newError(VRN_R_RESOURCE_LEAK)->fatal);
    EXPECT_EQ(1, newError(VRN_I_INTERNAL_ERROR)->fatal);
    vrnApp_clearErrors();
}

TEST(ErrorCodeTable, NamesAndTextsOfTheRowsAndUnknownCodes) {
    EXPECT_STREQ("VRN_OK", vrnErrorCode_getName(0));
    EXPECT_STREQ("No error.", vrnErrorCode_getDescription(0));
    EXPECT_STREQ("VRN_U_INVALID_RESULT", vrnErrorCode_getName(10022));
    EXPECT_STREQ("The requested operation has produced an invalid result.",
                 vrnErrorCode_getDescription(10022));
    EXPECT_STREQ(vrnErrorCode_getDescription(10018), vrnErrorCode_getDescription(10019));
    EXPECT_STREQ("Unable to spawn a sub-process.", vrnErrorCode_getDescription(10045));
    EXPECT_STREQ("VRN_R_RESOURCE_LEAK", vrnErrorCode_getName(30005));
    EXPECT_EQ(nullptr, vrnErrorCode_getName(12345));
    EXPECT_EQ(nullptr, vrnErrorCode_getDescription(-1));
    // Every row has a name whose class letter matches the class of its code.
    int rows = 0;
    for (int code = -5; code < 40000; ++code) {
        const char* name = vrnErrorCode_getName(code);
        if (!name) continue;
        ++rows;
        ASSERT_NE(nullptr, vrnErrorCode_getDescription(code));
        const char letter = code == 0 ? 'O' : "?WUIR"[code <= 10000 ? 1 : code <= 20000 ? 2 : code <= 30000 ? 3 : 4];
        EXPECT_EQ(letter, name[4]) << name;
    }
    EXPECT_EQ(71, rows);
}

TEST(Error, MessagesAppendAndDescriptionsReplace) {
    vrnError* e = newError(VRN_U_ENVIRONMENT_VARIABLE_NOT_SET);
    EXPECT_EQ(nullptr, vrnError_getMessage(e));
    vrnError_addMessage(e, "a");
    vrnError_addMessage(e, "%s", "b");
    vrnError_addMessage(e, "%d%%", 5);
    EXPECT_STREQ("ab5%", vrnError_getMessage(e));
    EXPECT_STREQ("Requested command not found.", vrnError_getDescription(e));
    vrnError_addDescription(e, nullptr);
    EXPECT_STREQ("Requested command not found.", vrnError_getDescription(e));
    vrnError_addDescription(e, "x");
    EXPECT_STREQ("x", vrnError_getDescription(e));
    vrnError_addDescription(e, "y");
    EXPECT_STREQ("y", vrnError_getDescription(e));

    // A long message built from many small pieces keeps every piece.
    std::string expected;
    for (int i = 0; i < 5000; ++i) {
        vrnError_addMessage(e, "%d,", i);
        expected += std::to_string(i) + ",";
    }
    EXPECT_EQ("ab5%" + expected, vrnError_getMessage(e));
    vrnError_delete(e);
}

TEST(Error, CreationFillsTheFields) {
    vrnError* e = newError(VRN_W_INVALID_DATA_IGNORED);
    EXPECT_EQ(nullptr, e->program);
    ASSERT_NE(nullptr, e->date);
    ASSERT_NE(nullptr, e->time);
    EXPECT_EQ(0, e->displayed);
    EXPECT_EQ(vrnErrorManager_get(), e->manager);
    const int first = vrnError_getIdentity(e);  // 0 when this test runs alone
    EXPECT_GE(first, 0);
    EXPECT_EQ(first + 1, vrnError_getIdentity(newError(VRN_OK)));
    vrnApp_clearErrors();
    // Identities keep counting after a clear.
    EXPECT_EQ(first + 2, vrnError_getIdentity(newError(VRN_OK)));
    vrnApp_clearErrors();
}

TEST(ErrorCadPairs, AddedPairsComeBackInOrderPerDimension) {
    vrnError* e = newError(VRN_U_INVALID_TOPOLOGY);
    int* pairs = reinterpret_cast<int*>(0x1);
    EXPECT_EQ(0, vrnError_getCadPairs(e, 2, &pairs));
    EXPECT_EQ(nullptr, pairs);

    EXPECT_EQ(1, vrnError_addCadPair(e, 2, 1, 10));
    EXPECT_EQ(1, vrnError_addCadPair(e, 2, 1, 11));
    EXPECT_EQ(1, vrnError_addCadPair(e, 2, 3, 12));
    EXPECT_EQ(1, vrnError_addCadPair(e, 0, 4, 5));
    EXPECT_EQ(0, vrnError_addCadPair(e, 4, 4, 5));
    EXPECT_EQ(0, vrnError_addCadPair(e, -1, 4, 5));

    ASSERT_EQ(3, vrnError_getCadPairs(e, 2, &pairs));
    EXPECT_EQ((std::vector<int>{1, 10, 1, 11, 3, 12}), std::vector<int>(pairs, pairs + 6));
    vrnFree(pairs, "test");
    ASSERT_EQ(1, vrnError_getCadPairs(e, 0, &pairs));
    EXPECT_EQ(4, pairs[0]);
    EXPECT_EQ(5, pairs[1]);
    vrnFree(pairs, "test");

    // A dimension outside 0..3 answers 0 and leaves the output untouched.
    int* untouched = reinterpret_cast<int*>(0x1);
    EXPECT_EQ(0, vrnError_getCadPairs(e, 4, &untouched));
    EXPECT_EQ(0, vrnError_getCadPairs(e, -1, &untouched));
    EXPECT_EQ(0, vrnError_getCadPairs(e, INT32_MIN, &untouched));
    EXPECT_EQ(reinterpret_cast<int*>(0x1), untouched);
    vrnError_delete(e);
}

TEST(ErrorElements, PointsArePackedByNodeCount) {
    vrnError* e = newError(VRN_U_MESHING_ERROR);
    double* x = reinterpret_cast<double*>(0x1);
    double *y = x, *z = x;
    int *types = reinterpret_cast<int*>(0x1), *ids = types;
    EXPECT_EQ(0, vrnError_getElements(e, &x, &y, &z, &types, &ids));
    EXPECT_TRUE(!x && !y && !z && !types && !ids);

    const double bar[] = {0, 1, 2, 3, 4, 5};
    const double tri[] = {10, 11, 12, 13, 14, 15, 16, 17, 18};
    EXPECT_EQ(1, vrnError_addElement(e, VRN_ELEMENT_BAR_2, 7, bar));
    EXPECT_EQ(1, vrnError_addElement(e, VRN_ELEMENT_TRI_3, 8, tri));
    EXPECT_EQ(0, vrnError_addElement(e, 8, 9, tri));
    EXPECT_EQ(0, vrnError_addElement(e, -1, 9, tri));

    ASSERT_EQ(2, vrnError_getElements(e, &x, &y, &z, &types, &ids));
    EXPECT_EQ((std::vector<double>{0, 3, 10, 13, 16}), std::vector<double>(x, x + 5));
    EXPECT_EQ((std::vector<double>{1, 4, 11, 14, 17}), std::vector<double>(y, y + 5));
    EXPECT_EQ((std::vector<double>{2, 5, 12, 15, 18}), std::vector<double>(z, z + 5));
    EXPECT_EQ((std::vector<int>{1, 2}), std::vector<int>(types, types + 2));
    EXPECT_EQ((std::vector<int>{7, 8}), std::vector<int>(ids, ids + 2));
    // Room for eight nodes per element: writing there must be in bounds.
    x[15] = y[15] = z[15] = 0;
    for (void* p : {static_cast<void*>(x), static_cast<void*>(y), static_cast<void*>(z),
                    static_cast<void*>(types), static_cast<void*>(ids)})
        vrnFree(p, "test");
    vrnError_delete(e);
}

TEST(ErrorElements, NodeCountsByType) {
    const int expected[] = {1, 2, 3, 4, 4, 5, 6, 8};
    for (int t = 0; t < 8; ++t) EXPECT_EQ(expected[t], ElementTopology_getNoOfNodes(t));
    EXPECT_EQ(0, ElementTopology_getNoOfNodes(-1));
    EXPECT_EQ(0, ElementTopology_getNoOfNodes(8));
    EXPECT_EQ(0, ElementTopology_getNoOfNodes(INT32_MAX));
}
