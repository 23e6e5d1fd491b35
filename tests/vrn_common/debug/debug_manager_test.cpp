#include "debug/debug_manager.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>

#include "errors/error.h"
#include "errors/error_manager.h"
#include "support/memory.h"
#include "support/cstring.h"
#include "support/set.h"
#include "support/system.h"
#include "test_support.h"

namespace {

using vrntest::ChildOptions;
using vrntest::ChildResult;
using vrntest::TempDir;

// What a child run of the manager left: its exit, its output and the text
// that its body returned.
struct ManagerRun {
    ChildResult child;
    std::string report;
};

// Runs body in a fresh process whose working directory is dir, with the
// control file (when given) written to dir/control and named by
// VRN_DEBUG_CONTROL, and the debug log sent to dir/debug.log.
ManagerRun runManager(const TempDir& dir, const std::string* control, const std::function<std::string()>& body,
               ChildOptions options = {}) {
    if (control) {
        vrntest::writeFile(dir.file("control"), *control);
        options.env.insert(options.env.begin(), {"VRN_DEBUG_CONTROL", dir.file("control")});
    } else {
        options.env.insert(options.env.begin(), {"VRN_DEBUG_CONTROL", std::nullopt});
    }
    options.env.insert(options.env.begin(), {"VRN_ERROR_LOG", std::nullopt});
    options.env.insert(options.env.begin(), {"VRN_DEBUG_LOG", std::nullopt});
    options.env.insert(options.env.begin(), {"VRN_SUPPRESS_WARNINGS", std::nullopt});
    options.cwd = dir.path();
    const std::string reportPath = dir.file("report");
    ManagerRun run;
    run.child = vrntest::runInChild(
        [&] {
            vrntest::writeFile(reportPath, body());
            return 0;
        },
        options);
    run.report = vrntest::readFile(reportPath);
    return run;
}

ManagerRun runManager(const TempDir& dir, const std::string& control, const std::function<std::string()>& body,
               ChildOptions options = {}) {
    return runManager(dir, &control, body, std::move(options));
}

// "d,t,p,m" with "-" for a level that is not set.
std::string levelsOf(const char* name) {
    int levels[4];
    vrnDebugManager_getLevels(vrnDebugManager_get(), name, levels);
    std::string out;
    for (int i = 0; i < 4; ++i) {
        if (i) out += ',';
        out += levels[i] == VRN_DEBUG_LEVEL_UNSET ? "-" : std::to_string(levels[i]);
    }
    return out;
}

// Every recorded error as "code:message" lines.
std::string recordedErrors() {
    int count = 0;
    vrnError** errors = nullptr;
    vrnApp_getErrors(&count, &errors);
    std::string out;
    for (int i = 0; i < count; ++i) {
        const char* message = vrnError_getMessage(errors[i]);
        out += std::to_string(errors[i]->code) + ":" + (message ? message : "") + "|";
    }
    vrnFree(errors, "test");
    return out;
}

std::string text(const char* s) { return s ? s : "(null)"; }

const std::string kEquals(80, '=');

TEST(DebugControlFile, GoodFileSetsRulesLogsAndOptions) {
    TempDir dir;
    const std::string control =
        "# trace the hash tables\n"
        "<DEBUG>\n"
        "HashSet_ = 2\n"
        "  \\^vrnError_new\\$ : 1\n"
        "</DEBUG>\n"
        "<TEST>\nHash = 3\n</TEST>\n"
        "<DISPLAY>\nSet_add = 4\n</DISPLAY>\n"
        "<TIME>\nadd = 5\n</TIME>\n"
        "<LOGS>\n"
        "error: errors.log\n"
        "Session = session.txt\n"
        "debug = " + dir.file("debug.log") + "\n"
        "colour = blue\n"
        "</LOGS>\n"
        "<OPTIONS>\n"
        "Display Errors = 2\n"
        "</OPTIONS>\n";
    ManagerRun run = runManager(dir, control, [] {
        vrnDebugManager* m = vrnDebugManager_get();
        return std::to_string(vrnDebug_isActive()) + "|" + levelsOf("HashSet_add") + "|" +
               levelsOf("vrnError_new") + "|" + levelsOf("vrnError_newer") + "|" +
               levelsOf("Other") + "|" + text(vrnDebugManager_getErrorLogName(m)) + "|" +
               text(vrnDebugManager_getSessionFileName(m)) + "|" +
               std::to_string(vrnDebugManager_getDisplayErrors(m)) + "|" + recordedErrors();
    });
    EXPECT_EQ(run.child.exitStatus, 0) << run.child.err;
    EXPECT_EQ(run.report, "1|2,3,4,5|1,-,-,-|-,-,-,-|-,-,-,-|errors.log|session.txt|2|");

    // The log header: rule, start line, rule, what is known, rule.
    const std::string log = vrntest::readFile(dir.file("debug.log"));
    ASSERT_EQ(log.rfind(kEquals + "\nStarted:        ", 0), 0u) << log;
    EXPECT_NE(log.find("\n" + kEquals + "\nVRN build:      2011.10.10-23.02\n"
                       "Release number: 14.0\nRunning on:     "),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Running in:     " + dir.path() + "\n" + kEquals + "\n"), std::string::npos) << log;
    EXPECT_EQ(run.child.out, "");
}

TEST(DebugControlFile, OnlyCommentsTurnsDebuggingOnWithTheHeaderOnStandardOutput) {
    TempDir dir;
    ManagerRun run = runManager(dir, "# nothing\n\n   # more\n", [] {
        return std::to_string(vrnDebug_isActive()) + "|" + levelsOf("HashSet_add") + "|" +
               text(vrnDebugManager_getLogName(vrnDebugManager_get()));
    });
    EXPECT_EQ(run.report, "1|-,-,-,-|stdout");
    EXPECT_EQ(run.child.out.rfind(kEquals + "\nStarted:        ", 0), 0u) << run.child.out;
}

TEST(DebugControlFile, DefaultFileInTheWorkingDirectory) {
    TempDir dir;
    vrntest::writeFile(dir.file("vrn.debug"), "<DEBUG>\nabc = 7\n</DEBUG>\n");
    ManagerRun run = runManager(dir, nullptr, [] { return levelsOf("abc"); },
                         ChildOptions{{{"VRN_DEBUG_LOG", std::string("log")}}, ""});
    EXPECT_EQ(run.report, "7,-,-,-");

    TempDir none;
    run = runManager(none, nullptr, [] {
        return std::to_string(vrnDebug_isActive()) + "|" + levelsOf("abc") + "|" + recordedErrors();
    });
    EXPECT_EQ(run.report, "0|-,-,-,-|");
    EXPECT_EQ(run.child.out, "");
}

TEST(DebugControlFile, UnknownTagIsSkippedToItsCloseWithAWarning) {
    TempDir dir;
    ManagerRun run = runManager(dir,
                         "<FOO> extra\n<DEBUG>\nHashSet_ = 3\n</FOO>\n"
                         "<DEBUG>\nabc = 1\n</DEBUG>\n",
                         [] { return levelsOf("HashSet_add") + "|" + levelsOf("abc") + "|" + recordedErrors(); },
                         ChildOptions{{{"VRN_DEBUG_LOG", std::string("log")}}, ""});
    EXPECT_EQ(run.report, "-,-,-,-|1,-,-,-|4:\"<FOO>\" is an unrecognised tag.\n|");
}

TEST(DebugControlFile, UnclosedTagsRunToTheEndOfTheFile) {
    TempDir dir;
    // A section without its closing tag takes the rest of the file.
    ManagerRun run = runManager(dir, "<DEBUG>\nabc = 2\n<TEST>\n", [] {
        return levelsOf("abc") + "|" + levelsOf("<TEST>") + "|" + recordedErrors();
    }, ChildOptions{{{"VRN_DEBUG_LOG", std::string("log")}}, ""});
    EXPECT_EQ(run.report, "2,-,-,-|-,-,-,-|");

    // An opening tag without '>' is unknown, and its skip never ends.
    run = runManager(dir, "<DEBUG\nabc = 2\n</DEBUG>\n<DEBUG>\nxyz = 1\n</DEBUG>\n", [] {
        return levelsOf("abc") + "|" + levelsOf("xyz") + "|" + recordedErrors();
    }, ChildOptions{{{"VRN_DEBUG_LOG", std::string("log")}}, ""});
    EXPECT_EQ(run.report, "-,-,-,-|-,-,-,-|4:\"<DEBUG\n\" is an unrecognised tag.\n|");

    // Lines outside every section are reported whole and passed over.
    run = runManager(dir, "</DEBUG>\nabc = 1\n<DEBUG>\nabc = 4\n</DEBUG>\n", [] {
        return levelsOf("abc") + "|" + recordedErrors();
    }, ChildOptions{{{"VRN_DEBUG_LOG", std::string("log")}}, ""});
    EXPECT_EQ(run.report,
              "4,-,-,-|4:Incorrectly nested tags in vrn.debug.\nProblem with tag: \"</DEBUG>\n\"\n|"
              "4:Incorrectly nested tags in vrn.debug.\nProblem with tag: \"abc = 1\n\"\n|");
}

TEST(DebugControlFile, LaterRuleWinsAndLevelZeroUnsets) {
    TempDir dir;
    ManagerRun run = runManager(dir,
                         "<DEBUG>\nHash = 5\nHashSet = 2\nTable = 3\nTable_get = 0\n</DEBUG>\n"
                         "<DEBUG>\nSet_x = 9\n</DEBUG>\n<TEST>\nabc = high\nxyz = 12abc\n</TEST>\n",
                         [] {
                             return levelsOf("HashSet_add") + "|" + levelsOf("HashTable_add") + "|" +
                                    levelsOf("HashTable_get") + "|" + levelsOf("HashSet_x") + "|" +
                                    levelsOf("abc") + "|" + levelsOf("xyz");
                         },
                         ChildOptions{{{"VRN_DEBUG_LOG", std::string("log")}}, ""});
    EXPECT_EQ(run.report, "2,-,-,-|3,-,-,-|-,-,-,-|9,-,-,-|-,-,-,-|-,12,-,-");
}

// LOGS keys are compared upper-cased; the OPTIONS key is case-sensitive, and
// a value that is not a number gives 0.
TEST(DebugControlFile, OptionsKeyIsCaseSensitiveWhereLogsKeysAreNot) {
    TempDir dir;
    ManagerRun run = runManager(dir,
                         "<OPTIONS>\ndisplayerrors = 2\nDISPLAYERRORS = 1\n</OPTIONS>\n"
                         "<LOGS>\nmEmOrY = m.log\n</LOGS>\n",
                         [] {
                             vrnDebugManager* m = vrnDebugManager_get();
                             return std::to_string(vrnDebugManager_getDisplayErrors(m)) + "|" +
                                    text(vrnDebugManager_getMemoryLogName(m));
                         },
                         ChildOptions{{{"VRN_DEBUG_LOG", std::string("log")}}, ""});
    EXPECT_EQ(run.report, "0|m.log");

    run = runManager(dir, "<OPTIONS>\nDisplayErrors = 1\nDisplayErrors = two\n</OPTIONS>\n", [] {
        return std::to_string(vrnDebugManager_getDisplayErrors(vrnDebugManager_get()));
    }, ChildOptions{{{"VRN_DEBUG_LOG", std::string("log")}}, ""});
    EXPECT_EQ(run.report, "0");
}

TEST(DebugControlFile, WindowsLineEndsLeaveNoCarriageReturnInValues) {
    TempDir dir;
    ManagerRun run = runManager(dir,
                         "<LOGS>\r\nERROR = e.log\r\nDEBUG = d.log\r\n</LOGS>\r\n"
                         "<DEBUG>\r\nabc = 3\r\n</DEBUG>\r\n",
                         [] {
                             vrnDebugManager* m = vrnDebugManager_get();
                             return text(vrnDebugManager_getErrorLogName(m)) + "|" +
                                    text(vrnDebugManager_getLogName(m)) + "|" + levelsOf("abc") + "|" +
                                    recordedErrors();
                         });
    EXPECT_EQ(run.report, "e.log|d.log|3,-,-,-|");
    EXPECT_NE(vrntest::readFile(dir.file("d.log")).find("Started:"), std::string::npos);
}

TEST(DebugControlFile, MissingFileLeavesDebuggingOffWithInvalidInput) {
    TempDir dir;
    ManagerRun run = runManager(dir, nullptr, [&] {
        return std::to_string(vrnDebug_isActive()) + "|" + std::to_string(vrnDebug_getStream() == nullptr) +
               "|" + levelsOf("abc") + "|" + recordedErrors();
    }, ChildOptions{{{"VRN_DEBUG_CONTROL", dir.file("nowhere")}}, ""});
    EXPECT_EQ(run.report, "0|1|-,-,-,-|10020:Unable to open file " + dir.file("nowhere") + ".\n|");
    EXPECT_EQ(run.child.out, "");
}

TEST(DebugControlFile, LinesOverTheLineLengthAreReadInPieces) {
    TempDir dir;
    const std::string longPattern(1500, 'A');
    const std::string longComment = "#" + std::string(2000, '#') + "\n";
    ManagerRun run = runManager(dir,
                         longComment + "<DEBUG>\n" + longPattern + " = 3\nabc = 2\n</DEBUG>\n",
                         [] {
                             std::string name(600, 'A');
                             return levelsOf("abc") + "|" + levelsOf(name.c_str()) + "|" + recordedErrors();
                         },
                         ChildOptions{{{"VRN_DEBUG_LOG", std::string("log")}}, ""});
    EXPECT_EQ(run.child.exitStatus, 0) << run.child.err;
    // The pattern's second piece (477 A's, " = 3") is a rule of its own.
    EXPECT_EQ(run.report, "2,-,-,-|3,-,-,-|");
}

TEST(DebugControlFile, BadPatternDropsItsRuleWithAWarning) {
    TempDir dir;
    ManagerRun run = runManager(dir, "<DEBUG>\na** = 1\n(abc = 4\nabc = 2\n</DEBUG>\n", [] {
        return levelsOf("abc") + "|" + levelsOf("aaa") + "|" + recordedErrors();
    }, ChildOptions{{{"VRN_DEBUG_LOG", std::string("log")}}, ""});
    EXPECT_EQ(run.child.exitStatus, 0) << run.child.err;
    EXPECT_EQ(run.report,
              "2,-,-,-|-,-,-,-|"
              "4:Invalid pattern in vrn.debug, the rule has been ignored.\n"
              "Problem with rule: \"a**\"\nregexp(3): nested *?+\n|"
              "4:Invalid pattern in vrn.debug, the rule has been ignored.\n"
              "Problem with rule: \"(abc\"\nregexp(3): unmatched ()\n|");
}

TEST(DebugControlFile, HeldWarningsReachTheDisplayAndErrorLogNamedInTheFile) {
    TempDir dir;
    ManagerRun run = runManager(dir,
                         "<BAD>\n</BAD>\n<OPTIONS>\nDisplayErrors = 2\n</OPTIONS>\n"
                         "<LOGS>\nERROR = errors.log\nDEBUG = debug.log\n</LOGS>\n",
                         [] {
                             // The error manager was made with the file's DisplayErrors.
                             return recordedErrors() + std::to_string(vrnErrorManager_get()->displays->count);
                         });
    EXPECT_EQ(run.report, "4:\"<BAD>\" is an unrecognised tag.\n|1");
    const std::string log = vrntest::readFile(dir.file("errors.log"));
    EXPECT_NE(log.find("vrnErrorManager_new"), std::string::npos) << log;
    EXPECT_NE(log.find("\"<BAD>\" is an unrecognised tag."), std::string::npos) << log;
}

TEST(DebugManager, LogEnvironmentVariableOverridesTheFile) {
    TempDir dir;
    ManagerRun run = runManager(dir, "<LOGS>\nDEBUG = file.log\n</LOGS>\n", [] {
        return std::to_string(vrnDebug_isActive()) + "|" + std::to_string(vrnDebug_getStream() == stderr);
    }, ChildOptions{{{"VRN_DEBUG_LOG", std::string("stderr")}}, ""});
    EXPECT_EQ(run.report, "1|1");
    EXPECT_EQ(run.child.err.rfind(kEquals + "\nStarted:", 0), 0u) << run.child.err;
    EXPECT_FALSE(std::ifstream(dir.file("file.log")).good());
}

TEST(DebugManager, UnopenableLogLeavesDebuggingOff) {
    TempDir dir;
    const std::string bad = dir.file("no/such/dir/log");
    ManagerRun run = runManager(dir, "<DEBUG>\nabc = 1\n</DEBUG>\n", [] {
        return std::to_string(vrnDebug_isActive()) + "|" + std::to_string(vrnDebug_getStream() == nullptr);
    }, ChildOptions{{{"VRN_DEBUG_LOG", bad}}, ""});
    EXPECT_EQ(run.report, "0|1");
    EXPECT_EQ(run.child.err, "\n\nERROR: Unable to open debug logging file " + bad +
                                 ".\n       Debug logging has not been activated.\n\n");
}

TEST(DebugManager, MemoryEntryRestartsTheMemoryMonitor) {
    TempDir dir;
    ManagerRun run = runManager(dir, "<LOGS>\nmemory = mem.log\n</LOGS>\n", [] {
        vrnDebug_isActive();
        void* p = vrnMalloc(40, "Probe_allocate");
        vrnFree(p, "Probe_release");
        return text(vrnDebugManager_getMemoryLogName(vrnDebugManager_get()));
    }, ChildOptions{{{"VRN_DEBUG_LOG", std::string("log")}, {"VRN_MEMORY_LOG", dir.file("first.log")}}, ""});
    EXPECT_EQ(run.report, "mem.log");
    const std::string log = vrntest::readFile(dir.file("mem.log"));
    EXPECT_EQ(log.rfind("MemoryMonitor_new", 0), 0u) << log;
    EXPECT_NE(log.find("Probe_allocate"), std::string::npos);
    EXPECT_NE(log.find("Probe_release"), std::string::npos);
    // The earlier monitor was closed with its blocks released.
    const std::string first = vrntest::readFile(dir.file("first.log"));
    EXPECT_NE(first.find("MemoryMonitor_delete"), std::string::npos) << first;
    EXPECT_EQ(first.find("Probe_allocate"), std::string::npos);
}

// Runs after the debug manager's exit handler, since handlers run in the
// reverse order of registration.
void lateCall() {
    std::fprintf(stderr, "late:%d:%d:%d\n", vrnDebug_isActive(), vrnDebugManager_get() == nullptr,
                 vrnDebug_getStream() == nullptr);
}

TEST(DebugManager, LateCallAfterExitReportsInactiveAndKeepsTheLog) {
    TempDir dir;
    ManagerRun run = runManager(dir, "<DEBUG>\nabc = 1\n</DEBUG>\n", [] {
        std::atexit(lateCall);
        return std::to_string(vrnDebug_isActive());
    }, ChildOptions{{{"VRN_DEBUG_LOG", std::string("debug.log")}}, ""});
    EXPECT_EQ(run.report, "1");
    EXPECT_EQ(run.child.err, "late:0:1:1\n");
    EXPECT_NE(vrntest::readFile(dir.file("debug.log")).find("Started:"), std::string::npos);
}

TEST(DebugManager, LogHeaderAndFunctionHeadersByteForByte) {
    TempDir dir;
    ManagerRun run = runManager(dir,
                                "<DEBUG>\nTraced = 2\n</DEBUG>\n<TEST>\nTraced = 3\n</TEST>\n"
                                "<DISPLAY>\nTraced = 4\n</DISPLAY>\n<TIME>\nTraced = -1\n</TIME>\n"
                                "<DEBUG>\nHalf = 5\n</DEBUG>\n<TEST>\nHalf = 6\n</TEST>\n",
                                [] {
        vrnDebugPreamble traced;
        traced.enter("Traced_call", "Does a thing.");
        if (traced.tracing()) std::fprintf(vrnDebug_getStream(), "trace line\n");
        traced.enter("Traced_call", nullptr);
        vrnDebugPreamble half;
        half.enter("Half_call", "Two levels.");
        vrnDebugPreamble quiet;
        quiet.enter("Quiet_call", "Never shown.");
        if (quiet.tracing()) std::fprintf(vrnDebug_getStream(), "quiet line\n");
        char* host = vrnGetHostname();
        std::string report = host ? host : "";
        vrnCString_free(host);
        return report;
    }, ChildOptions{{{"VRN_DEBUG_LOG", std::string("debug.log")}}, ""});
    const std::string log = vrntest::readFile(dir.file("debug.log"));

    // The log header, with the start date and time taken from the log.
    const std::string started = kEquals + "\nStarted:        ";
    ASSERT_EQ(log.rfind(started, 0), 0u) << log;
    const size_t whenEnd = log.find('\n', started.size());
    ASSERT_NE(whenEnd, std::string::npos);
    const std::string when = log.substr(started.size(), whenEnd - started.size());
    EXPECT_NE(when.find(' '), std::string::npos) << when;  // date and time
    std::string header = started + when + "\n" + kEquals + "\n" +
                         "VRN build:      2011.10.10-23.02\nRelease number: 14.0\n";
    if (!run.report.empty()) header += "Running on:     " + run.report + "\n";
    header += "Running in:     " + dir.path() + "\n" + kEquals + "\n";

    // Each routine's header: name, description, levels that are set.
    const std::string dash80(80, '-');
    std::string dashPairs;
    for (int i = 0; i < 40; ++i) dashPairs += "- ";
    const std::string body =
        "\n" + dash80 + "\nTraced_call:\n" + dashPairs + "\nDoes a thing.\n" + dash80 + "\n" +
        "Debug level        = 2\nSelf-testing level = 3\nDisplay level      = 4\n"
        "Timing level       = -1\n" + std::string(70, '-') + "\n" +
        "trace line\n" +
        "\n" + dash80 + "\nTraced_call:\n" + dash80 + "\n" +
        "\n" + dash80 + "\nHalf_call:\n" + dashPairs + "\nTwo levels.\n" + dash80 + "\n" +
        "Debug level        = 5\nSelf-testing level = 6\n" + std::string(70, '-') + "\n";
    EXPECT_EQ(log, header + body);
}

TEST(DebugManager, NoManagerMeansDefaults) {
    int levels[4] = {1, 2, 3, 4};
    vrnDebugManager_getLevels(nullptr, "abc", levels);
    for (int level : levels) EXPECT_EQ(level, VRN_DEBUG_LEVEL_UNSET);
    EXPECT_EQ(vrnDebugManager_getStream(nullptr), nullptr);
    EXPECT_EQ(vrnDebugManager_getDisplayErrors(nullptr), 0);
    EXPECT_EQ(vrnDebugManager_getErrorLogName(nullptr), nullptr);
    EXPECT_EQ(vrnDebugManager_getSessionFileName(nullptr), nullptr);
}

}  // namespace
