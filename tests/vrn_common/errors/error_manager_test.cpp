#include "errors/error_manager.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "errors/error_display.h"
#include "support/set.h"
#include "support/memory.h"
#include "test_support.h"

using vrntest::ChildOptions;
using vrntest::runInChild;

namespace {

// Checks that every line of a log opens with "date (time): " and gives the
// log without those prefixes.
std::string stripPrefixes(const std::string& log) {
    static const std::regex prefix(
        R"(^[A-Z][a-z]{2} [A-Z][a-z]{2} [0-9]{2} [0-9]{4} \([0-9]{2}:[0-9]{2}:[0-9]{2} [^)]*\): )");
    std::istringstream in(log);
    std::string line, out;
    while (std::getline(in, line)) {
        std::smatch m;
        EXPECT_TRUE(std::regex_search(line, m, prefix)) << "no prefix: " << line;
        out += m.suffix().str() + "\n";
    }
    return out;
}

std::string dashes() { return std::string(53, '-') + "\n"; }
std::string banner(const std::string& name) { return dashes() + name + "\n" + dashes(); }

std::string hostName() {
    char buffer[1025] = {};
    gethostname(buffer, 1024);
    return buffer;
}

std::string realPath(const std::string& path) {
    char* r = realpath(path.c_str(), nullptr);
    std::string s = r ? r : path;
    free(r);
    return s;
}

long monitoredTotal() {
    MemoryMonitor* m = vrnMemory_setMonitor(nullptr);
    vrnMemory_setMonitor(m);
    return m ? m->total : -1;
}

int g_handlerCalls = 0;
int handlerDeleting(vrnError*) { ++g_handlerCalls; return 1; }
int handlerKeeping(vrnError*) { ++g_handlerCalls; return 0; }

}  // namespace

TEST(ErrorLog, TwoLineMessageByteForByte) {
    vrntest::TempDir dir;
    const std::string logPath = dir.file("errors.log");
    ChildOptions options;
    options.env = {{"VRN_ERROR_LOG", logPath}, {"VRN_SUPPRESS_WARNINGS", std::nullopt}};
    options.cwd = dir.path();
    auto r = runInChild(
        [] {
            vrnError* e = vrnError_new(VRN_U_INVALID_RESULT, "Thing_read", "src/thing.cpp", 42);
            std::printf("%s\n%s\n", e->date, e->time);
            vrnError_addMessage(e, "first line\nsecond line\n");
            vrnError_publish(e);
            vrnApp_clearErrors();
            return 0;
        },
        options);
    ASSERT_EQ(0, r.exitStatus) << r.err;
    const std::string date = r.out.substr(0, r.out.find('\n'));
    const std::string time = r.out.substr(date.size() + 1, r.out.size() - date.size() - 2);

    std::string log = stripPrefixes(vrntest::readFile(logPath));
    // The header's start time is read separately and may fall a second apart.
    log = std::regex_replace(log, std::regex("^Started:        [^\n]+\n"), "Started:        *\n");

    const std::string expected =
        "Started:        *\n"
        "VRN build:      2011.10.10-23.02\n"
        "Release number: 14.0\n"
        "Running on:     " + hostName() + "\n"
        "Running in:     " + realPath(dir.path()) + "\n" +
        banner("vrnErrorManager_new") +
        "m_errorLevel[0] = 3\nm_errorLevel[1] = 3\nm_errorLevel[2] = 3\n"
        "m_errorLevel[3] = 3\nm_errorLevel[4] = 3\n" +
        banner("vrnError_new") +
        "Identity    = 0\n"
        "Class       = vrnUserError\n"
        "Function    = Thing_read\n"
        "File        = src/thing.cpp\n"
        "Line number = 42\n"
        "Error code  = 10022\n"
        "Description = The requested operation has produced an invalid result.\n"
        "Fatal       = 0\n"
        "Date        = " + date + "\n"
        "Time        = " + time + "\n" +
        banner("vrnError_addMessage") +
        "Identity    = 0\n"
        "Message     = \\\n"
        "first line\n"
        "second line\n" +
        banner("vrnError_publish") +
        "Identity    = 0\n"
        "Displayed   = 1\n" +
        banner("vrnError_delete") +
        "Identity    = 0\n";
    EXPECT_EQ(expected, log);
}

TEST(ErrorLog, TextIsNeverReadAsAFormat) {
    ChildOptions options;
    options.env = {{"VRN_ERROR_LOG", "stdout"}};
    auto r = runInChild(
        [] {
            vrnError* e = vrnError_new(VRN_U_INVALID_INPUT, "%s%n", "%n.cpp", 0);
            vrnError_addMessage(e, "%s", "%s%n%%");
            vrnError_addDescription(e, "100% %s%n");
            const char* message = vrnError_getMessage(e);
            return message && std::string(message) == "%s%n%%" ? 0 : 3;
        },
        options);
    ASSERT_EQ(0, r.exitStatus) << r.err;
    const std::string log = stripPrefixes(r.out);
    EXPECT_NE(std::string::npos, log.find("Function    = %s%n\nFile        = %n.cpp\n")) << log;
    EXPECT_EQ(std::string::npos, log.find("Line number")) << "a line of 0 is left out";
    EXPECT_NE(std::string::npos, log.find("Message     = \\\n%s%n%%\n")) << log;
    EXPECT_NE(std::string::npos, log.find("Description = 100% %s%n\n")) << log;
    // The manager's release at process end deletes the error left behind.
    EXPECT_NE(std::string::npos, log.find(banner("vrnError_delete") + "Identity    = 0\n")) << log;
}

TEST(ErrorLog, TraceOfStreamDisplayDescriptionDisplayAndDie) {
    vrntest::TempDir dir;
    const std::string logPath = dir.file("errors.log");
    ChildOptions options;
    options.env = {{"VRN_ERROR_LOG", logPath}};
    options.cwd = dir.path();
    auto r = runInChild(
        [] {
            int handle = -1;
            vrnErrorManager_addStreamDisplay(vrnErrorManager_get(), VRN_DISPLAY_ORV, stdout, &handle);
            vrnError* e = vrnError_new(VRN_I_INTERNAL_ERROR, "Thing_check", "src/thing.cpp", 5);
            vrnError_addDescription(e, "custom text");
            vrnError_die(e);
            return 0;
        },
        options);
    EXPECT_EQ(1, r.exitStatus);
    const std::string log = stripPrefixes(vrntest::readFile(logPath));
    const size_t from = log.find(banner("vrnErrorManager_addStreamDisplay"));
    ASSERT_NE(std::string::npos, from) << log;
    // Date and time lines of the error vary; everything else is fixed.
    const std::string trace = std::regex_replace(
        log.substr(from), std::regex("(Date|Time)        = [^\n]+\n"), "$1\n");
    EXPECT_EQ(banner("vrnErrorManager_addStreamDisplay") + "Format = 4\nHandle = 0\n" +
                  banner("vrnError_new") +
                  "Identity    = 0\n"
                  "Class       = vrnInternalError\n"
                  "Function    = Thing_check\n"
                  "File        = src/thing.cpp\n"
                  "Line number = 5\n"
                  "Error code  = 20006\n"
                  "Description = The program is unable to continue as an internal error has been "
                  "encountered.\n"
                  "Fatal       = 1\n"
                  "Date\nTime\n" +
                  banner("vrnError_addDescription") + "Identity    = 0\nDescription = custom text\n" +
                  banner("vrnError_display") + "Identity    = 0\nDisplayed   = 1\n" +
                  banner("vrnError_die") + "Identity    = 0\n" +
                  banner("vrnError_delete") + "Identity    = 0\n",
              trace);
}

TEST(ErrorLog, WritePrefixesEveryLineAndEndsWithNewline) {
    vrntest::TempDir dir;
    const std::string path = dir.file("log");
    ErrorLog* log = ErrorLog_new(path.c_str());
    ASSERT_NE(nullptr, log);
    ErrorLog_write(log, "%s", "a\n\nb");
    ErrorLog_write(log, "%s", "");
    ErrorLog_write(log, "c\n");
    ErrorLog_writeBanner(log, "Name");
    ErrorLog_delete(log);
    EXPECT_EQ("a\n\nb\n\nc\n" + banner("Name"), stripPrefixes(vrntest::readFile(path)));

    EXPECT_EQ(nullptr, ErrorLog_new(dir.file("missing/log").c_str()));
    ErrorLog* out = ErrorLog_new("stdout");
    ASSERT_NE(nullptr, out);
    EXPECT_EQ(stdout, out->stream);
    ErrorLog_delete(out);
    ErrorLog* err = ErrorLog_new(nullptr);
    ASSERT_NE(nullptr, err);
    EXPECT_EQ(stderr, err->stream);
    ErrorLog_delete(err);
    EXPECT_EQ(0, fflush(stdout)) << "standard output stays open";
}

TEST(ErrorLog, NoLogWhenUnsetOrUnopenable) {
    vrntest::TempDir dir;
    for (std::optional<std::string> value :
         {std::optional<std::string>(), std::optional<std::string>(dir.file("no/such/dir/log")),
          std::optional<std::string>("")}) {
        ChildOptions options;
        options.env = {{"VRN_ERROR_LOG", value}};
        options.cwd = dir.path();
        auto r = runInChild(
            [] {
                vrnError* e = vrnError_new(VRN_U_INVALID_INPUT, "F", "f.cpp", 1);
                vrnError_addMessage(e, "m\n");
                vrnError_publish(e);
                int count = 0;
                vrnError** errors = nullptr;
                vrnApp_getErrors(&count, &errors);
                vrnFree(errors, "test");
                return count == 1 && vrnErrorManager_getErrorLog(vrnErrorManager_get()) == nullptr
                           ? 0
                           : 3;
            },
            options);
        EXPECT_EQ(0, r.exitStatus);
        EXPECT_EQ("", r.out);
        EXPECT_EQ("", r.err);
    }
}

TEST(ErrorManager, ElevenErrorsGrowTheListAndClearLeavesNothing) {
    vrntest::TempDir dir;
    ChildOptions options;
    options.env = {{"VRN_MEMORY_LOG", dir.file("memory.log")}, {"VRN_ERROR_LOG", std::nullopt},
                   {"VRN_SUPPRESS_WARNINGS", std::nullopt}};
    auto r = runInChild(
        [] {
            vrnErrorManager* m = vrnErrorManager_get();
            if (m->capacity != 10 || m->count != 0) return 10;
            const long before = monitoredTotal();
            for (int i = 0; i < 11; ++i) {
                vrnError* e = vrnError_new(i % 2 ? VRN_W_INFORMATION : VRN_U_INVALID_DATA, "F",
                                           "f.cpp", i + 1);
                if (vrnError_getIdentity(e) != i) return 11;
                vrnError_addMessage(e, "message %d\n", i);
                vrnError_addCadPair(e, 1, i, i);
                vrnError_publish(e);
            }
            if (m->capacity != 20 || m->count != 11) return 12;
            int count = 0;
            vrnError** errors = nullptr;
            vrnApp_getErrors(&count, &errors);
            if (count != 11) return 13;
            for (int i = 0; i < 11; ++i) {
                if (errors[i]->line != i + 1 || vrnError_getIdentity(errors[i]) != i) return 14;
            }
            vrnFree(errors, "test");
            vrnApp_clearErrors();
            if (m->count != 0) return 15;
            vrnApp_getErrors(&count, &errors);
            if (count != 0 || errors) return 16;
            // Only the grown list itself outlives the errors.
            const long grown = static_cast<long>(10 * sizeof(vrnError*));
            std::printf("%ld %ld\n", before, monitoredTotal());
            return monitoredTotal() == before + grown ? 0 : 17;
        },
        options);
    EXPECT_EQ(0, r.exitStatus) << r.out << r.err;
}

TEST(ErrorManager, GetErrorsWithNoneRecorded) {
    int count = -1;
    vrnError** errors = reinterpret_cast<vrnError**>(0x1);
    EXPECT_EQ(1, vrnApp_getErrors(&count, &errors));
    EXPECT_EQ(0, count);
    EXPECT_EQ(nullptr, errors);
    EXPECT_EQ(1, vrnApp_getErrors(nullptr, nullptr));
    EXPECT_EQ(1, vrnApp_clearErrors());
}

TEST(ErrorManager, SuppressedWarningsAreKeptButNotReturned) {
    ChildOptions options;
    options.env = {{"VRN_SUPPRESS_WARNINGS", ""}};
    auto r = runInChild(
        [] {
            vrnErrorManager* m = vrnErrorManager_get();
            if (m->errorLevel[1] != 0 || m->errorLevel[2] != 3) return 10;
            vrnError* w = vrnError_new(VRN_W_INVALID_RESULT_IGNORED, "F", "f.cpp", 1);
            vrnError_publish(w);
            if (w->displayed) return 11;
            int none = 5;
            vrnError** noArray = reinterpret_cast<vrnError**>(0x1);
            vrnApp_getErrors(&none, &noArray);
            if (none != 0 || noArray) return 15;  // only suppressed errors: no array
            vrnError* u = vrnError_new(VRN_U_INVALID_RESULT, "F", "f.cpp", 2);
            vrnError_publish(u);
            int count = 0;
            vrnError** errors = nullptr;
            vrnApp_getErrors(&count, &errors);
            if (count != 1 || errors[0] != u) return 12;
            vrnFree(errors, "test");
            if (m->count != 2) return 13;
            vrnApp_clearErrors();
            return m->count == 0 ? 0 : 14;
        },
        options);
    EXPECT_EQ(0, r.exitStatus);
}

TEST(ErrorManager, HandlerStatusOneDeletesTheError) {
    ChildOptions options;
    options.env = {{"VRN_ERROR_LOG", "stdout"}};
    auto r = runInChild(
        [] {
            vrnErrorManager* m = vrnErrorManager_get();
            m->handler = handlerDeleting;
            vrnError_publish(vrnError_new(VRN_U_INVALID_INPUT, "F", "f.cpp", 1));
            if (m->count != 0 || g_handlerCalls != 1) return 10;
            m->handler = handlerKeeping;
            vrnError* kept = vrnError_new(VRN_U_INVALID_INPUT, "F", "f.cpp", 2);
            vrnError_publish(kept);
            if (m->count != 1 || m->errors[0] != kept || g_handlerCalls != 2) return 11;
            // Display does not call the handler.
            vrnError_display(kept);
            return g_handlerCalls == 2 && kept->displayed == 1 ? 0 : 12;
        },
        options);
    ASSERT_EQ(0, r.exitStatus) << r.out;
    const std::string log = stripPrefixes(r.out);
    EXPECT_NE(std::string::npos, log.find(banner("vrnErrorManager_handleError") + "Handler = 0x"));
    EXPECT_NE(std::string::npos, log.find("Status  = 1\n"));
    EXPECT_NE(std::string::npos, log.find("Status  = 0\n"));
    EXPECT_NE(std::string::npos, log.find(banner("vrnError_display") + "Identity    = 1\nDisplayed   = 1\n"));
}

TEST(ErrorManager, DropLevelHidesAndRecordLevelKeeps) {
    vrnErrorManager* m = vrnErrorManager_get();
    m->errorLevel[VRN_CLASS_USER_ERROR] = VRN_LEVEL_RECORD;
    vrnError* recorded = vrnError_new(VRN_U_INVALID_INPUT, "F", "f.cpp", 1);
    vrnError_publish(recorded);
    EXPECT_EQ(0, recorded->displayed);
    m->errorLevel[VRN_CLASS_USER_ERROR] = VRN_LEVEL_DISPLAY;
    vrnError* shown = vrnError_new(VRN_U_INVALID_INPUT, "F", "f.cpp", 2);
    vrnError_publish(shown);
    EXPECT_EQ(1, shown->displayed);
    int count = 0;
    vrnError** errors = nullptr;
    vrnApp_getErrors(&count, &errors);
    EXPECT_EQ(0, count) << "level 1 displays without recording";
    m->errorLevel[VRN_CLASS_USER_ERROR] = VRN_LEVEL_DISPLAY_AND_RECORD;
    vrnApp_getErrors(&count, &errors);
    EXPECT_EQ(2, count);
    vrnFree(errors, "test");
    vrnApp_clearErrors();
}

TEST(ErrorManager, RemoveErrorKeepsTheOrderOfTheRest) {
    vrnErrorManager* m = vrnErrorManager_get();
    vrnError* a = vrnError_new(VRN_OK, "F", "f", 1);
    vrnError* b = vrnError_new(VRN_OK, "F", "f", 2);
    vrnError* c = vrnError_new(VRN_OK, "F", "f", 3);
    vrnError_delete(b);
    ASSERT_EQ(2, m->count);
    EXPECT_EQ(a, m->errors[0]);
    EXPECT_EQ(c, m->errors[1]);
    vrnApp_clearErrors();
    EXPECT_EQ(0, m->count);
}

TEST(ErrorManager, StreamDisplaysGetHandlesAndBadKindsAreRefused) {
    vrnErrorManager* m = vrnErrorManager_get();
    int handle = -5;
    EXPECT_EQ(1, vrnErrorManager_addStreamDisplay(m, VRN_DISPLAY_ORV, stdout, &handle));
    EXPECT_EQ(0, handle);
    EXPECT_EQ(1, vrnErrorManager_addStreamDisplay(m, VRN_DISPLAY_ORV, stdout, &handle));
    EXPECT_EQ(1, handle);
    ErrorDisplay* first = static_cast<ErrorDisplay*>(m->displays->members[0]);
    int again = 7;
    EXPECT_EQ(1, vrnErrorManager_addDisplay(m, first, &again));
    EXPECT_EQ(-1, again) << "a display already present gets no new handle";

    for (int bad : {5, -2, INT_MAX}) {
        EXPECT_EQ(0, vrnErrorManager_addStreamDisplay(m, bad, stdout, &handle));
        ASSERT_GE(m->count, 1);
        vrnError* e = m->errors[m->count - 1];
        EXPECT_EQ(VRN_U_INVALID_INPUT, e->code);
        EXPECT_EQ("format = " + std::to_string(bad) + "\n", std::string(vrnError_getMessage(e)));
    }
    vrnApp_clearErrors();
    EXPECT_EQ(1, vrnErrorManager_detachDisplay(m, first));
    EXPECT_EQ(1, m->displays->count);
    ErrorDisplay_delete(first);
}

TEST(ErrorManager, ForcedDisplayReachesEveryDisplay) {
    auto r = runInChild([] {
        vrnErrorManager* m = vrnErrorManager_get();
        int handle;
        vrnErrorManager_addStreamDisplay(m, VRN_DISPLAY_ORV, stdout, &handle);
        vrnErrorManager_addStreamDisplay(m, VRN_DISPLAY_ORV, stderr, &handle);
        m->errorLevel[VRN_CLASS_USER_ERROR] = VRN_LEVEL_DROP;
        vrnError* e = vrnError_new(VRN_U_INVALID_INPUT, "F", "f.cpp", 1);
        vrnError_publish(e);  // dropped: shown nowhere
        vrnError_display(e);  // forced
        return e->displayed == 1 ? 0 : 3;
    });
    EXPECT_EQ(0, r.exitStatus);
    EXPECT_EQ("ORV error display is not implemented yet.\n", r.out);
    EXPECT_EQ("ORV error display is not implemented yet.\n", r.err);
}

TEST(ErrorManager, AssertionShowsItsBannerAndEndsWithStatusOne) {
    auto r = runInChild([] {
        assert_flagError("Thing_check", "src/thing.cpp", 7, "count > 0");
        return 0;
    });
    EXPECT_EQ(1, r.exitStatus);
    const std::string rule(72, '=');
    EXPECT_EQ(rule + "\n" +
                  "*************************** Assertion failure **************************\n" +
                  rule + "\n" +
                  "\n\nAssertion:   count > 0\nFunction:    Thing_check\nFile:        src/thing.cpp\n"
                  "Line number: 7\n\n\n"
                  "Build number: 2011.10.10-23.02\n" +
                  rule + "\n",
              r.err);
    EXPECT_EQ("", r.out);
}

TEST(ErrorManager, AssertionMacroPassesTheExpressionText) {
    auto r = runInChild([] {
        int bit = 9;
        VRN_ASSERT("BitField_setBit", bit > -1 && bit < 8);
        return 0;
    });
    EXPECT_EQ(1, r.exitStatus);
    EXPECT_NE(std::string::npos, r.err.find("Assertion:   bit > -1 && bit < 8\n"));
    EXPECT_NE(std::string::npos, r.err.find("Function:    BitField_setBit\n"));
}

TEST(ErrorManager, DieShowsOnceAndEndsWithStatusOne) {
    auto r = runInChild([] {
        int handle;
        vrnErrorManager_addStreamDisplay(vrnErrorManager_get(), VRN_DISPLAY_ORV, stdout, &handle);
        vrnError* e = vrnError_new(VRN_I_INTERNAL_ERROR, "F", "f.cpp", 1);
        vrnError_publish(e);  // shown
        vrnError_die(e);      // not shown again
        return 0;
    });
    EXPECT_EQ(1, r.exitStatus);
    EXPECT_EQ("ORV error display is not implemented yet.\n", r.out);
}

namespace {
int g_lateResult = -1;
void raiseAfterRelease() {
    // Runs after the error manager has been released at process end.
    vrnError* e = vrnError_new(VRN_U_INVALID_INPUT, "Late_raise", "late.cpp", 1);
    vrnError_addMessage(e, "late\n");
    vrnError_publish(e);
    int count = 3;
    vrnError** errors = reinterpret_cast<vrnError**>(0x1);
    vrnApp_getErrors(&count, &errors);
    vrnApp_clearErrors();
    g_lateResult = (vrnErrorManager_get() == nullptr && count == 0 && !errors) ? 0 : 1;
    std::printf("late %d\n", g_lateResult);
}
}  // namespace

TEST(ErrorManager, AfterReleaseStaysOffInsteadOfMakingASecondManager) {
    ChildOptions options;
    options.env = {{"VRN_ERROR_LOG", "stderr"}};
    auto r = runInChild(
        [] {
            std::atexit(raiseAfterRelease);  // registered first, so it runs last
            vrnError_publish(vrnError_new(VRN_U_INVALID_INPUT, "F", "f.cpp", 1));
            return 0;
        },
        options);
    EXPECT_EQ(0, r.exitStatus);
    EXPECT_EQ("late 0\n", r.out);
    // One manager only: its header appears once in the log.
    EXPECT_EQ(1u, [&] {
        size_t n = 0;
        for (size_t p = r.err.find("vrnErrorManager_new"); p != std::string::npos;
             p = r.err.find("vrnErrorManager_new", p + 1))
            ++n;
        return n;
    }());
}

TEST(ErrorManagerOptions, DisplayErrorsShowsRawBlocksOnTheChosenStream) {
    for (int option : {1, 2}) {
        vrntest::TempDir dir;
        vrntest::writeFile(dir.file("vrn.debug"),
                           "<OPTIONS>\nDisplayErrors = " + std::to_string(option) +
                               "\n</OPTIONS>\n<LOGS>\nDEBUG = debug.log\n</LOGS>\n");
        ChildOptions options;
        options.env = {{"VRN_DEBUG_CONTROL", dir.file("vrn.debug")},
                       {"VRN_DEBUG_LOG", std::nullopt},
                       {"VRN_ERROR_LOG", std::nullopt}};
        options.cwd = dir.path();
        auto r = runInChild(
            [] {
                vrnError* e = vrnError_new(VRN_U_INVALID_RESULT, "Thing_read", "f.cpp", 3);
                vrnError_addMessage(e, "m\n");
                vrnError_publish(e);
                return 0;
            },
            options);
        EXPECT_EQ(0, r.exitStatus);
        const std::string& shown = option == 1 ? r.out : r.err;
        const std::string& other = option == 1 ? r.err : r.out;
        const std::string rule(80, '-');
        EXPECT_EQ(0u, shown.find("\n" + rule +
                                 "\nError: The requested operation has produced an invalid result.\n" +
                                 rule + "\n"))
            << shown;
        EXPECT_NE(std::string::npos, shown.find("Subroutine:  Thing_read\n"));
        EXPECT_NE(std::string::npos, shown.find("m\n\n" + rule + "\n\n"));
        EXPECT_EQ("", other);
    }
}

TEST(ErrorManagerOptions, ErrorLogVariableWinsOverTheControlFile) {
    vrntest::TempDir dir;
    vrntest::writeFile(dir.file("vrn.debug"),
                       "<LOGS>\nERROR = from-file.log\nDEBUG = debug.log\n</LOGS>\n");
    ChildOptions options;
    options.env = {{"VRN_DEBUG_CONTROL", dir.file("vrn.debug")},
                   {"VRN_ERROR_LOG", dir.file("from-variable.log")}};
    options.cwd = dir.path();
    auto r = runInChild(
        [] {
            vrnError_publish(vrnError_new(VRN_U_INVALID_INPUT, "F", "f.cpp", 1));
            return 0;
        },
        options);
    EXPECT_EQ(0, r.exitStatus);
    EXPECT_FALSE(std::ifstream(dir.file("from-file.log")).good());
    EXPECT_NE(std::string::npos,
              stripPrefixes(vrntest::readFile(dir.file("from-variable.log"))).find(banner("vrnError_publish")));
}
