// The exception class thrown across libvrnutilities.so: caught as either
// class, with what the library put in it, and copied and assigned whole.
#include <cxxabi.h>
#include <dlfcn.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "VRNUtilities.h"
#include "test_support.h"

namespace {

const char kMissing[] = "/nonexistent-folder/missing.cgns";

void listMissing() {
    int count = 0;
    std::vector<int> indices;
    std::vector<std::basic_string<unsigned short> > names;
    ylt::VRNUtilities::getBasesFromCGNSFile(kMissing, count, indices, names);
}

void expectThrownState(const ylt::Error& e) {
    EXPECT_EQ("vrnutilities::error", e.getErrorClass());
    EXPECT_EQ("VRNUtilities", e.getClass());
    EXPECT_EQ("getBasesFromCGNSFile", e.getMethod());
    EXPECT_EQ(0u, e.getMessage().find(std::string("Can't open ") + kMissing + " for reading.\nReason: "));
    EXPECT_EQ(4, static_cast<int>(e.getType()));
    EXPECT_EQ(0, e.getCode());
}

bool sameState(const ylt::Error& a, const ylt::Error& b) {
    return a.getErrorClass() == b.getErrorClass() && a.getClass() == b.getClass() &&
           a.getMethod() == b.getMethod() && a.getMessage() == b.getMessage() &&
           a.getType() == b.getType() && a.getCode() == b.getCode();
}

TEST(HostException, CaughtAsItsOwnClassWithWhatTheQueryPutIn) {
    bool caught = false;
    try {
        listMissing();
    } catch (const ylt::vrnutilities::error& e) {
        caught = true;
        expectThrownState(e);
    }
    EXPECT_TRUE(caught);
}

TEST(HostException, CaughtAsTheBaseClassAndStillTheDerivedType) {
    bool caught = false;
    try {
        listMissing();
    } catch (const ylt::Error& e) {
        caught = true;
        expectThrownState(e);
        // One type identity across the library boundary.
        EXPECT_NE(nullptr, dynamic_cast<const ylt::vrnutilities::error*>(&e));
        std::ostringstream out;
        e.write(out);
        EXPECT_EQ(e.errorMessage() + "\n", out.str());
        EXPECT_NE(std::string::npos, e.errorMessage().find(e.getMessage()));
    }
    EXPECT_TRUE(caught);
}

TEST(HostException, CopyAndAssignmentKeepEverything) {
    try {
        listMissing();
        FAIL() << "no exception";
    } catch (const ylt::vrnutilities::error& e) {
        ylt::vrnutilities::error copy(e);
        EXPECT_TRUE(sameState(e, copy));

        ylt::vrnutilities::error assigned;
        EXPECT_FALSE(sameState(e, assigned));
        ylt::vrnutilities::error& self = (assigned = e);
        EXPECT_EQ(&assigned, &self);
        EXPECT_TRUE(sameState(e, assigned));

        assigned = assigned;  // self-assignment keeps the state
        EXPECT_TRUE(sameState(e, assigned));

        // A copy thrown again is caught as the base class with the same state.
        try {
            throw copy;
        } catch (const ylt::Error& again) {
            EXPECT_TRUE(sameState(e, again));
        }
    }
}

// The protected constructor takes the error-class name from the caller.
class NamedError : public ylt::vrnutilities::error {
public:
    NamedError()
        : ylt::vrnutilities::error("custom::error", "Owner", "run", "went wrong",
                                   static_cast<ylt::errorType>(2)) {}
};

TEST(HostException, ConstructorsPassTheirArgumentsInOrder) {
    const ylt::vrnutilities::error pub("Owner", "run", "went wrong", static_cast<ylt::errorType>(3));
    EXPECT_EQ("vrnutilities::error", pub.getErrorClass());
    EXPECT_EQ("Owner", pub.getClass());
    EXPECT_EQ("run", pub.getMethod());
    EXPECT_EQ("went wrong", pub.getMessage());
    EXPECT_EQ(3, static_cast<int>(pub.getType()));
    EXPECT_EQ(0, pub.getCode());

    const NamedError named;
    EXPECT_EQ("custom::error", named.getErrorClass());
    EXPECT_EQ("Owner", named.getClass());
    EXPECT_EQ("run", named.getMethod());
    EXPECT_EQ("went wrong", named.getMessage());
    EXPECT_EQ(2, static_cast<int>(named.getType()));
    EXPECT_EQ(0, named.getCode());
}

// Hosts built against another copy of the header call the virtual
// operations by slot: the destructor first (two entries in this ABI), then
// the base's six in their order, none of them replaced.
std::string slotName(const void* entry) {
    Dl_info info;
    if (dladdr(entry, &info) == 0 || !info.dli_sname) return "?";
    int status = 0;
    char* plain = abi::__cxa_demangle(info.dli_sname, nullptr, nullptr, &status);
    std::string name = plain ? plain : info.dli_sname;
    std::free(plain);
    return name.substr(0, name.find_first_of("[("));
}

TEST(HostException, VirtualSlotsKeepTheirOrder) {
    const ylt::vrnutilities::error e("Owner", "run", "went wrong", static_cast<ylt::errorType>(4));
    void* const* slots = *reinterpret_cast<void* const* const*>(&e);
    const std::vector<std::string> expected{
        "ylt::vrnutilities::error::~error", "ylt::vrnutilities::error::~error", "ylt::Error::getType",
        "ylt::Error::write",  "ylt::Error::getClass", "ylt::Error::getMethod",
        "ylt::Error::errorMessage", "ylt::Error::getMessage"};
    std::vector<std::string> found;
    for (std::size_t i = 0; i < expected.size(); ++i) found.push_back(slotName(slots[i]));
    EXPECT_EQ(expected, found);
}

}  // namespace
