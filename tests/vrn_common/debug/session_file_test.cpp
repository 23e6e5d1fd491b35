#include "debug/session_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "errors/error_manager.h"
#include "support/hash_table.h"
#include "support/memory.h"
#include "test_support.h"

namespace {

using vrntest::ChildOptions;
using vrntest::TempDir;

// Lines of a journal with the lines that carry a date (start and stop)
// reduced to their label.
std::vector<std::string> journalShape(const std::string& text) {
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? text.size() : end + 1;
        if (line.rfind("# Session file started: ", 0) == 0) line = "START";
        else if (line.rfind("# Session file stopped: ", 0) == 0) line = "STOP";
        else if (line.rfind("# ", 0) == 0) continue;  // the other header lines
        lines.push_back(line);
    }
    return lines;
}

ChildOptions journalOptions(const TempDir& dir, const char* level) {
    ChildOptions options;
    options.env = {{"VRN_SESSION_FILE", dir.file("journal.txt")},
                   {"VRN_SESSION_FILE_LEVEL", level ? std::optional<std::string>(level) : std::nullopt},
                   {"VRN_DEBUG_CONTROL", std::nullopt}};
    options.cwd = dir.path();
    return options;
}

// One successful and one failed call, each journalled when recorded.
int twoCalls() {
    if (SessionFile_record(nullptr, 1)) SessionFile_write("Good_call");
    if (SessionFile_record(nullptr, 0)) SessionFile_write("Failed_call");
    return 0;
}

using Lines = std::vector<std::string>;

TEST(SessionJournal, LevelsChooseWhatIsWritten) {
    const std::vector<std::pair<const char*, Lines>> cases = {
        {"0", {"START", "STOP"}},
        {"1", {"START", "Good_call", "STOP"}},
        {"2", {"START", "Good_call", "STOP"}},
        {nullptr, {"START", "Good_call", "STOP"}},  // default 2
        {"3", {"START", "Good_call", "Failed_call", "STOP"}},
        {"junk", {"START", "STOP"}},  // does not scan: 0
    };
    for (const auto& [level, expected] : cases) {
        TempDir dir;
        auto result = vrntest::runInChild(twoCalls, journalOptions(dir, level));
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_EQ(journalShape(vrntest::readFile(dir.file("journal.txt"))), expected)
            << "level " << (level ? level : "unset");
    }
}

TEST(SessionJournal, HeaderLinesAndStopLineAtProcessEnd) {
    TempDir dir;
    auto result = vrntest::runInChild(
        [] {
            if (SessionFile_record(nullptr, 1)) SessionFile_write(nullptr);
            // Nothing but the header and the empty line is written before the end.
            return vrntest::readFile("journal.txt").find("stopped") == std::string::npos ? 0 : 9;
        },
        journalOptions(dir, nullptr));
    EXPECT_EQ(result.exitStatus, 0);
    const std::string text = vrntest::readFile(dir.file("journal.txt"));
    EXPECT_EQ(text.rfind("# Session file started: ", 0), 0u) << text;
    EXPECT_NE(text.find("\n# VRN build:            2011.10.10-23.02\n"
                        "# Release number:       14.0\n# Running on:           "),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("# Running in:           " + dir.path() + "\n\n# Session file stopped: "),
              std::string::npos)
        << text;
    EXPECT_EQ(text.back(), '\n');
}

TEST(SessionJournal, TwoRunsAppend) {
    TempDir dir;
    vrntest::runInChild(twoCalls, journalOptions(dir, "3"));
    vrntest::runInChild(twoCalls, journalOptions(dir, "1"));
    EXPECT_EQ(journalShape(vrntest::readFile(dir.file("journal.txt"))),
              (Lines{"START", "Good_call", "Failed_call", "STOP", "START", "Good_call", "STOP"}));
}

TEST(SessionJournal, PublicErrorCallsJournalThemselves) {
    TempDir dir;
    vrntest::runInChild(
        [] {
            int count = 0;
            vrnError** errors = nullptr;
            vrnApp_getErrors(&count, &errors);
            vrnApp_clearErrors();
            return 0;
        },
        journalOptions(dir, nullptr));
    EXPECT_EQ(journalShape(vrntest::readFile(dir.file("journal.txt"))),
              (Lines{"START", "vrnApp_getErrors", "vrnApp_clearErrors", "STOP"}));
}

TEST(SessionJournal, UnopenableFileLeavesTheJournalOff) {
    TempDir dir;
    ChildOptions options = journalOptions(dir, "3");
    options.env[0].second = dir.file("no/such/dir/journal.txt");
    auto result = vrntest::runInChild(
        [] {
            int first = SessionFile_record(nullptr, 1);
            SessionFile_write("Lost");
            int second = SessionFile_record(nullptr, 1);
            return first * 10 + second + (SessionFile_get() ? 100 : 0);
        },
        options);
    EXPECT_EQ(result.termSignal, 0);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_NE(result.err.find("Unable to open session file"), std::string::npos);
}

TEST(SessionJournal, NoPathMeansNoFileEvenWhenTheVariableAppearsLater) {
    TempDir dir;
    ChildOptions options;
    options.env = {{"VRN_SESSION_FILE", std::nullopt}, {"VRN_DEBUG_CONTROL", std::nullopt}};
    options.cwd = dir.path();
    const std::string path = dir.file("journal.txt");
    auto result = vrntest::runInChild(
        [&] {
            int first = SessionFile_record(nullptr, 1);
            setenv("VRN_SESSION_FILE", path.c_str(), 1);
            int second = SessionFile_record(nullptr, 1);
            return first * 10 + second;
        },
        options);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_FALSE(std::ifstream(path).good());
}

TEST(SessionJournal, ControlFileSessionEntryNamesTheJournal) {
    TempDir dir;
    vrntest::writeFile(dir.file("vrn.debug"), "<LOGS>\nSESSION = from-control.txt\nDEBUG = debug.log\n</LOGS>\n");
    ChildOptions options;
    options.env = {{"VRN_SESSION_FILE", std::nullopt}, {"VRN_DEBUG_CONTROL", std::nullopt},
                   {"VRN_SESSION_FILE_LEVEL", std::nullopt}};
    options.cwd = dir.path();
    vrntest::runInChild(twoCalls, options);
    EXPECT_EQ(journalShape(vrntest::readFile(dir.file("from-control.txt"))),
              (Lines{"START", "Good_call", "STOP"}));
}

std::vector<void*> g_asked;
int fakeState(void* handle) {
    g_asked.push_back(handle);
    return 7;
}

TEST(SessionJournal, HandleStatesComeFromTheRegisteredQuery) {
    TempDir dir;
    auto result = vrntest::runInChild(
        [] {
            int a = 0, b = 0;
            SessionFile_setStateQuery(fakeState);
            SessionFile_record(&a, 1);
            SessionFile_record(&b, 1);
            SessionFile_record(&a, 1);
            SessionFile_record(nullptr, 1);
            HashTable* handles = SessionFile_get()->handles;
            int* state = static_cast<int*>(HashTable_get(handles, &a));
            bool ok = g_asked.size() == 3 && g_asked[0] == &a && g_asked[1] == &b && handles->count == 2 &&
                      state && *state == 7;
            return ok ? 0 : 1;
        },
        journalOptions(dir, nullptr));
    EXPECT_EQ(result.exitStatus, 0);
}

}  // namespace
