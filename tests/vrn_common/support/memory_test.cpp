#include "support/memory.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

using vrntest::ChildOptions;
using vrntest::kAddressSanitizer;
using vrntest::runInChild;

namespace {

std::string format(const char* fmt, ...) {
    char buffer[256];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buffer, sizeof buffer, fmt, args);
    va_end(args);
    return buffer;
}

std::string known(const char* name, int delta, int total, char kind, const std::string& a) {
    return format("%-35s %12d %12d %c %s\n", name, delta, total, kind, a.c_str());
}

std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> r;
    for (std::string w; in >> w;) r.push_back(w);
    return r;
}

std::string addr(const void* p) { return format("%p", p); }

const char* const kOutOfMemory = "  Unable to allocate enough memory in function\n\n%s\n\n"
                                 "  Requested number of bytes was %d.\n\n";

}  // namespace

TEST(MemoryMonitor, LogLinesForEveryEvent) {
    vrntest::TempDir dir;
    const std::string logPath = dir.file("memory.log");
    ChildOptions options;
    options.env = {{"VRN_MEMORY_LOG", logPath}};
    auto r = runInChild(
        [] {
            // Everything the body prints is an address, in event order.
            void* a = vrnMalloc(100, "Test_alloc");
            if (vrnMalloc(0, "Test_zero") || vrnCalloc(0, 0, "Test_zero")) return 3;
            vrnFree(nullptr, "Test_null");
            MemoryMonitor* m = vrnMemory_setMonitor(nullptr);
            vrnMemory_setMonitor(m);
            std::printf("%p %p\n", static_cast<void*>(m), a);
            void* b = vrnRealloc(a, 150, "Test_grow");
            std::printf("%p\n", b);
            void* c = vrnRealloc(nullptr, 20, "Test_fromNull");
            std::printf("%p\n", c);
            vrnFree(c, "Test_free");
            if (vrnRealloc(b, 0, "Test_toZero")) return 4;
            void* outside = std::malloc(8);
            std::printf("%p\n", outside);
            void* moved = vrnRealloc(outside, 16, "Test_unknownResize");
            std::printf("%p\n", moved);
            vrnFree(moved, "Test_unknownFree");
            return 0;
        },
        options);
    ASSERT_EQ(0, r.exitStatus) << r.err;
    auto w = words(r.out);
    ASSERT_EQ(6u, w.size());
    const std::string &monitor = w[0], &a = w[1], &b = w[2], &c = w[3], &outside = w[4],
                      &moved = w[5];
    const std::string expected =
        known("MemoryMonitor_new", 12, 12, 'A', monitor) +
        known("Test_alloc", 100, 112, 'A', a) +
        format("%-35s %12d %12d R %s %s\n", "Test_grow", 50, 162, b.c_str(), a.c_str()) +
        format("%-35s %12d %12d R %s %s\n", "Test_fromNull", 20, 182, c.c_str(), "(nil)") +
        known("Test_free", -20, 162, 'F', c) +
        known("Test_toZero", -150, 12, 'F', b) +
        format("%-35s            ?            ? R %s %s\n", "Test_unknownResize", moved.c_str(),
               outside.c_str()) +
        format("%-35s            ?            ? F %s\n", "Test_unknownFree", moved.c_str());
    EXPECT_EQ(expected, vrntest::readFile(logPath));
}

TEST(MemoryMonitor, DeleteReleasesEveryBlockLeft) {
    vrntest::TempDir dir;
    const std::string logPath = dir.file("m.log");
    MemoryMonitor* m = MemoryMonitor_new(logPath.c_str());
    ASSERT_NE(nullptr, m);
    MemoryMonitor* previous = vrnMemory_setMonitor(m);
    void* a = vrnMalloc(10, "Test_a");
    void* b = vrnCalloc(30, 0x5a, "Test_b");
    EXPECT_EQ(0x5a, static_cast<unsigned char*>(b)[29]);
    EXPECT_EQ(m, vrnMemory_setMonitor(previous));
    MemoryMonitor_delete(m);
    const std::string expected =
        known("MemoryMonitor_new", 12, 12, 'A', addr(m)) + known("Test_a", 10, 22, 'A', addr(a)) +
        known("Test_b", 30, 52, 'A', addr(b)) + known("MemoryMonitor_delete", -30, 22, 'F', addr(b)) +
        known("MemoryMonitor_delete", -10, 12, 'F', addr(a)) +
        known("MemoryMonitor_delete", -12, 0, 'F', addr(m));
    EXPECT_EQ(expected, vrntest::readFile(logPath));
    vrnFree(a, "Test_a");
    vrnFree(b, "Test_b");
}

TEST(MemoryMonitor, UnopenableLogIsReportedAndTheProcessGoesOn) {
    vrntest::TempDir dir;
    const std::string path = dir.file("missing/memory.log");
    ChildOptions options;
    options.env = {{"VRN_MEMORY_LOG", path}};
    auto r = runInChild(
        [] {
            vrnFree(vrnMalloc(5, "Test"), "Test");
            return vrnMemory_setMonitor(nullptr) == nullptr ? 0 : 3;
        },
        options);
    EXPECT_EQ(0, r.exitStatus);
    EXPECT_EQ("\n\nERROR: Unable to open memory logging file " + path +
                  ".\n       Memory logging has not been activated.\n\n",
              r.err);
}

TEST(MemoryMonitor, VariableIsReadOnceAtTheFirstCall) {
    vrntest::TempDir dir;
    const std::string path = dir.file("late.log");
    ChildOptions options;
    options.env = {{"VRN_MEMORY_LOG", std::nullopt}};
    auto r = runInChild(
        [path] {
            vrnFree(vrnMalloc(5, "Test"), "Test");
            setenv("VRN_MEMORY_LOG", path.c_str(), 1);
            vrnFree(vrnMalloc(5, "Test"), "Test");
            return 0;
        },
        options);
    EXPECT_EQ(0, r.exitStatus);
    EXPECT_FALSE(std::ifstream(path).good()) << "no monitor after the first call";
}

TEST(TaggedMemory, FreeAndClearAndExternal) {
    void* p = vrnMalloc(4, "Test");
    vrnFreeAndClear(&p, "Test");
    EXPECT_EQ(nullptr, p);
    vrnFreeAndClear(&p, "Test");
    vrnFreeAndClear(nullptr, "Test");
    vrnFreeExternal(std::malloc(3), "Test");
    vrnFreeExternal(nullptr, "Test");
    char* q = static_cast<char*>(vrnRealloc(nullptr, 3, "Test"));
    std::memcpy(q, "ab", 3);
    q = static_cast<char*>(vrnRealloc(q, 4000, "Test"));
    EXPECT_STREQ("ab", q);
    vrnFree(q, "Test");
}

TEST(TaggedMemory, NegativeSizeTakesTheFailurePath) {
    for (int which = 0; which < 3; ++which) {
        auto r = runInChild([which] {
            if (which == 0) vrnMalloc(-5, "Test_negative");
            if (which == 1) vrnCalloc(-5, 0, "Test_negative");
            void* p = vrnMalloc(8, "Test");
            if (which == 2) vrnRealloc(p, -5, "Test_negative");
            return 0;
        });
        EXPECT_EQ(1, r.exitStatus) << which;
        EXPECT_EQ(format(kOutOfMemory, "Test_negative", -5), r.err) << which;
    }
}

TEST(TaggedMemory, OutOfMemoryUnderALoweredAddressSpaceLimit) {
    if (kAddressSanitizer) GTEST_SKIP() << "the sanitizer reserves address space of its own";
    auto r = runInChild([] {
        struct rlimit limit = {256u << 20, 256u << 20};
        if (setrlimit(RLIMIT_AS, &limit) != 0) return 3;
        void* p = vrnMalloc(1 << 30, "Test_huge");
        std::printf("survived %p\n", p);
        return 0;
    });
    EXPECT_EQ(1, r.exitStatus);
    EXPECT_EQ(format(kOutOfMemory, "Test_huge", 1 << 30), r.err);
    EXPECT_EQ("", r.out);
}

namespace {
void printLast() { std::printf("later handler ran\n"); }
void failInsideExitHandler() {
    vrnMemory_markExiting();
    vrnMalloc(-1, "Test_atExit");
}
}  // namespace

TEST(TaggedMemory, FailureInsideAnExitHandlerEndsAtOnce) {
    auto r = runInChild([] {
        std::atexit(printLast);              // would run after the failing one
        std::atexit(failInsideExitHandler);  // runs first
        return 0;
    });
    EXPECT_EQ(1, r.exitStatus);
    EXPECT_EQ(format(kOutOfMemory, "Test_atExit", -1), r.err);
    EXPECT_EQ("", r.out) << "the process ends without running the other handlers";
}
