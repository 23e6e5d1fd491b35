// The meshing-database query against the test reader: the output protocol,
// bad output, failed starts and what they leave behind.
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "query_helpers.h"
#include "vrn_platform.h"

using namespace querytest;

namespace {

const char kTwoModels[] =
    "<MODELS_BEG>\n2\n1\nA\n10\nB\n2\nC\n20\nD\n<MODELS_END>\n";

class TolvQuery : public ::testing::Test {
protected:
    void SetUp() override { useTestReader(dir); }
    vrntest::TempDir dir;
};

// The query recorded exactly one error, with this code and message.
void expectOnlyError(int code, const std::string& message) {
    auto errors = takeErrors();
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(code, errors[0].code);
    EXPECT_EQ(message, errors[0].message);
}

void expectParseFailure(const QueryResult& r) {
    EXPECT_EQ(0, r.rc);
    EXPECT_EQ(0, r.n);
    EXPECT_TRUE(r.outputsNull);
    expectOnlyError(VRN_U_INVALID_RESULT, kParse);
}

}  // namespace

TEST_F(TolvQuery, TwoModelsWithLfOrCrlfLines) {
    for (bool crlf : {false, true}) {
        std::string out = kTwoModels;
        if (crlf) {
            std::string t;
            for (char ch : out) t += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
            out = t;
        }
        auto r = queryOutput(dir, "banner line\n" + out + "trailing text\n");
        EXPECT_EQ(1, r.rc);
        EXPECT_EQ(2, r.n);
        EXPECT_EQ((std::vector<int>{1, 2}), r.ids1);
        EXPECT_EQ((std::vector<int>{10, 20}), r.ids2);
        EXPECT_EQ((std::vector<std::string>{"A", "C"}), r.names1);
        EXPECT_EQ((std::vector<std::string>{"B", "D"}), r.names2);
        EXPECT_TRUE(takeErrors().empty());
    }
    EXPECT_TRUE(noChildLeft());
}

TEST_F(TolvQuery, NamesKeepEdgeBlanksEmptyNamesAndVeryLongNames) {
    const std::string longName(10000, 'n');
    auto r = queryOutput(dir, "<MODELS_BEG>\n2\n7\n  padded  \n8\n\n9\n" + longName + "\n-3\nz\n" +
                                  "<MODELS_END>");  // no final newline
    EXPECT_EQ(1, r.rc);
    ASSERT_EQ(2, r.n);
    EXPECT_EQ("  padded  ", r.names1[0]);
    EXPECT_EQ("", r.names2[0]);
    EXPECT_EQ(longName, r.names1[1]);
    EXPECT_EQ(-3, r.ids2[1]);
}

TEST_F(TolvQuery, OutputWithoutModelsOrWithoutAnythingIsSuccessWithNoModels) {
    for (const char* out : {"", "just text\n", "<MODELS_BEG>\n<MODELS_END>\n"}) {
        auto r = queryOutput(dir, out);
        EXPECT_EQ(1, r.rc) << out;
        EXPECT_EQ(0, r.n);
        EXPECT_TRUE(r.outputsNull);
    }
    setenv("TESTREADER_SILENT", "1", 1);
    auto r = queryOutput(dir, kTwoModels);
    EXPECT_EQ(1, r.rc);
    EXPECT_EQ(0, r.n);
    EXPECT_TRUE(takeErrors().empty());
}

TEST_F(TolvQuery, TagsMatchAsLinePrefixesAndArriveOnEitherStream) {
    setenv("TESTREADER_STDERR", "1", 1);
    auto r = queryOutput(dir, "<MODELS_BEG> extra\n1\n5\nX\n6\nY\n<MODELS_END>trailing\n");
    EXPECT_EQ(1, r.rc);
    EXPECT_EQ(1, r.n);
    EXPECT_EQ("X", r.names1[0]);
}

TEST_F(TolvQuery, OutputInOneByteChunksParsesTheSame) {
    setenv("TESTREADER_CHUNK", "1", 1);
    auto r = queryOutput(dir, "<WARNING_BEG>\nw\n<WARNING_END>\n" + std::string(kTwoModels));
    EXPECT_EQ(1, r.rc);
    EXPECT_EQ(2, r.n);
    EXPECT_EQ((std::vector<std::string>{"B", "D"}), r.names2);
    EXPECT_EQ(1u, takeErrors().size());
}

TEST_F(TolvQuery, ErrorBlockFailsWithItsLinesAndKeepsTheModels) {
    auto r = queryOutput(dir, std::string(kTwoModels) + "<ERROR_BEG>\nfirst problem\n\nlast\n<ERROR_END>\n");
    EXPECT_EQ(0, r.rc);
    EXPECT_EQ(2, r.n);  // models read before the block stay
    expectOnlyError(VRN_U_INVALID_RESULT, std::string(kErrorLead) + "  first problem\n  \n  last\n");
}

TEST_F(TolvQuery, UnclosedErrorBlockStillFailsWithItsText) {
    auto r = queryOutput(dir, "<ERROR_BEG>\nbroken\n<MODELS_BEG>\n");
    EXPECT_EQ(0, r.rc);
    auto errors = takeErrors();
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(std::string(kErrorLead) + "  broken\n  <MODELS_BEG>\n", errors[0].message);
}

TEST_F(TolvQuery, WarningBlocksBecomeOneWarningAndTheQuerySucceeds) {
    auto r = queryOutput(dir,
                         "<WARNING_BEG>\nw1\nw2\n<WARNING_END>\n<MODELS_BEG>\n1\n<WARNING_BEG>\n"
                         "inside models\n<WARNING_END>\n3\nM\n4\nN\n<MODELS_END>\n<WARNING_BEG>\nw3\n");
    EXPECT_EQ(1, r.rc);
    EXPECT_EQ(1, r.n);
    EXPECT_EQ(3, r.ids1[0]);
    expectOnlyError(VRN_W_INVALID_RESULT_IGNORED, std::string(kWarningLead) + "  w1\n  w2\n\n  inside models\n\n  w3\n");
}

TEST_F(TolvQuery, ErrorBlockOpenedInsideAWarningBlockReturnsToTheWarning) {
    auto r = queryOutput(dir,
                         "<WARNING_BEG>\nbefore\n<ERROR_BEG>\nbad\n<WARNING_END>\n<ERROR_END>\n"
                         "after\n<WARNING_END>\n");
    EXPECT_EQ(0, r.rc);
    auto errors = takeErrors();
    ASSERT_EQ(2u, errors.size());
    // The warning was created first, the error second.
    EXPECT_EQ(VRN_W_INVALID_RESULT_IGNORED, errors[0].code);
    EXPECT_EQ(std::string(kWarningLead) + "  before\n  after\n", errors[0].message);
    EXPECT_EQ(VRN_U_INVALID_RESULT, errors[1].code);
    EXPECT_EQ(std::string(kErrorLead) + "  bad\n  <WARNING_END>\n", errors[1].message);
}

TEST_F(TolvQuery, SecondModelsBlockContinuesTheFirst) {
    auto r = queryOutput(dir, "<MODELS_BEG>\n2\n1\nA\n<MODELS_END>\nnoise\n<MODELS_BEG>\n10\nB\n2\nC\n20\nD\n");
    EXPECT_EQ(1, r.rc);  // the block left open at the end is judged like a closed one
    EXPECT_EQ(2, r.n);
    EXPECT_EQ((std::vector<int>{10, 20}), r.ids2);
    EXPECT_EQ((std::vector<std::string>{"A", "C"}), r.names1);
}

TEST_F(TolvQuery, BadCountsFailWithTheParseMessage) {
    // Counts beyond int are refused, not wrapped round ("4294967297" is not 1).
    for (const char* count : {"0", "-1", "abc", "2000000000", "", "4294967297", "99999999999999999999"}) {
        SCOPED_TRACE(count);
        expectParseFailure(queryOutput(dir, std::string("<MODELS_BEG>\n") + count + "\n1\nA\n2\nB\n<MODELS_END>\n"));
    }
}

TEST_F(TolvQuery, TooFewOrTooManyValuesOrBadIntegersFail) {
    expectParseFailure(queryOutput(dir, "<MODELS_BEG>\n2\n1\nA\n10\nB\n<MODELS_END>\n"));
    expectParseFailure(queryOutput(dir, "<MODELS_BEG>\n1\n1\nA\n10\nB\n2\nC\n20\nD\n<MODELS_END>\n"));
    expectParseFailure(queryOutput(dir, "<MODELS_BEG>\n1\nx\nA\n10\nB\n<MODELS_END>\n"));
    expectParseFailure(queryOutput(dir, "<MODELS_BEG>\n1\n1\nA\nx\nB\n<MODELS_END>\n"));
    const char nul[] = "<MODELS_BEG>\n1\n1\nA\0hidden\n10\nB\n<MODELS_END>\n";
    expectParseFailure(queryOutput(dir, std::string(nul, sizeof nul - 1)));
    expectParseFailure(queryOutput(dir, "<MODELS_BEG>\n1\n1\nA\n10\n"));
    // Ids beyond int fail instead of reaching the caller changed.
    expectParseFailure(queryOutput(dir, "<MODELS_BEG>\n1\n2147483648\nA\n10\nB\n<MODELS_END>\n"));
    expectParseFailure(queryOutput(dir, "<MODELS_BEG>\n1\n1\nA\n-4294967295\nB\n<MODELS_END>\n"));
}

TEST_F(TolvQuery, IntegerLinesReadAsTheyAlwaysWereWithinRange) {
    auto r = queryOutput(dir, "<MODELS_BEG>\n 1 models\n\t+7x\nA\n-2147483648\nB\n<MODELS_END>\n");
    EXPECT_EQ(1, r.rc);
    ASSERT_EQ(1, r.n);
    EXPECT_EQ(7, r.ids1[0]);
    EXPECT_EQ(-2147483647 - 1, r.ids2[0]);
    r = queryOutput(dir, "<MODELS_BEG>\n1\n2147483647\nA\n0\nB\n<MODELS_END>\n");
    EXPECT_EQ(1, r.rc);
    ASSERT_EQ(1, r.n);
    EXPECT_EQ(2147483647, r.ids1[0]);
}

TEST_F(TolvQuery, BlockTextReachesTheMessageUnformatted) {
    queryOutput(dir, "<ERROR_BEG>\n%s %n 100%\n<ERROR_END>\n");
    auto errors = takeErrors();
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(std::string(kErrorLead) + "  %s %n 100%\n", errors[0].message);
}

TEST_F(TolvQuery, ReaderEndedBySignalIsAFailureButAnExitStatusIsNotExamined) {
    setenv("TESTREADER_EXIT", "3", 1);
    auto ok = queryOutput(dir, kTwoModels);
    EXPECT_EQ(1, ok.rc);
    EXPECT_EQ(2, ok.n);
    unsetenv("TESTREADER_EXIT");

    setenv("TESTREADER_SIGNAL", "9", 1);
    auto r = queryOutput(dir, kTwoModels);
    EXPECT_EQ(0, r.rc);
    EXPECT_EQ(0, r.n);
    EXPECT_TRUE(r.outputsNull);
    expectOnlyError(VRN_U_CHILD_PROCESS_CRASHED, "kwxtolvreader was ended by signal 9 before it finished.\n");
    EXPECT_TRUE(noChildLeft());
}

namespace {
void reapEveryChild(int) {
    const int saved = errno;
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    errno = saved;
}

// How a host deals with its children's ends.
enum class Reaping { None, IgnoreSigchld, NoChildWait, Handler };

void reapAsTheHostDoes(Reaping how) {
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    action.sa_handler = how == Reaping::IgnoreSigchld ? SIG_IGN
                        : how == Reaping::Handler     ? reapEveryChild  // no SA_RESTART: the query's waits are interrupted
                                                      : SIG_DFL;
    if (how == Reaping::NoChildWait) action.sa_flags = SA_NOCLDWAIT;
    sigaction(SIGCHLD, &action, nullptr);
}

const char kCutShort[] =
    "The output of kwxtolvreader ends inside a value, a tag or a block,\n"
    "and how kwxtolvreader ended is not known (the host reaps its\n"
    "children itself): the listing may have been cut short.\n";

// What the query answered, in one line: result, count, last name, errors.
std::string outcome(const QueryResult& r) {
    std::string text = std::to_string(r.rc) + " " + std::to_string(r.n);
    if (!r.names2.empty()) text += " " + r.names2.back();
    for (const auto& e : takeErrors()) text += " [" + std::to_string(e.code) + "] " + e.message;
    return text;
}
}  // namespace

// The exit status is lost in a host that reaps its children: a listing whose
// last value has its newline decides, even from a reader that a signal
// ended after writing it; one that ends inside its last value (a reader
// that died there, or one that wrote no last newline) fails, never giving a
// name cut short. Where the status is known, a last line without a newline
// is a value like any other.
TEST_F(TolvQuery, AHostThatReapsItsChildrenGetsWholeListingsButNeverACutName) {
    const std::string cut = "<MODELS_BEG>\n2\n1\nA\n10\nB\n2\nC\n20\nVol";  // dies inside "Volume"
    const std::string unterminated = "<MODELS_BEG>\n2\n1\nA\n10\nB\n2\nC\n20\nD";
    auto r = vrntest::runInChild([&] {
        for (Reaping how : {Reaping::None, Reaping::IgnoreSigchld, Reaping::NoChildWait}) {
            reapAsTheHostDoes(how);
            setenv("TESTREADER_SIGNAL", "9", 1);
            std::printf("%s\n", outcome(queryOutput(dir, kTwoModels)).c_str());
            setenv("TESTREADER_SIGNAL", "11", 1);
            std::printf("%s\n", outcome(queryOutput(dir, cut)).c_str());
            unsetenv("TESTREADER_SIGNAL");
            std::printf("%s\n", outcome(queryOutput(dir, unterminated)).c_str());
            std::printf("%s\n", outcome(queryOutput(dir, "<MODELS_BEG>\n2\n1\nA\n")).c_str());
        }
        // The handler takes the status before the query only now and then:
        // whichever wins, a whole listing arrives and a cut one never does.
        reapAsTheHostDoes(Reaping::Handler);
        int wrong = 0;
        for (int i = 0; i < 200; ++i) {
            unsetenv("TESTREADER_SIGNAL");
            if (outcome(queryOutput(dir, kTwoModels)) != "1 2 D") ++wrong;
            setenv("TESTREADER_SIGNAL", "11", 1);
            if (queryOutput(dir, cut).rc != 0) ++wrong;
            takeErrors();
        }
        std::printf("wrong answers with a reaping handler: %d\n", wrong);
        return 0;
    });
    const std::string signal9 = "0 0 [10048] kwxtolvreader was ended by signal 9 before it finished.\n";
    const std::string signal11 = "0 0 [10048] kwxtolvreader was ended by signal 11 before it finished.\n";
    const std::string cutShort = "0 0 [10022] " + std::string(kCutShort);
    const std::string parse = "0 0 [10022] " + std::string(kParse);
    // A listing short of models does not parse; where the reader's end is
    // not known, the failure also says that it may have been cut.
    std::string unknownStatus = "1 2 D\n" + cutShort + "\n" + cutShort + "\n" + parse + " [10022] " +
                                std::string(kCutShort) + "\n";
    EXPECT_EQ(signal9 + "\n" + signal11 + "\n1 2 D\n" + parse + "\n" + unknownStatus + unknownStatus +
                  "wrong answers with a reaping handler: 0\n",
              r.out);
    EXPECT_EQ(0, r.exitStatus) << r.err;
}

// Killed anywhere before the blocks it opened are closed, or inside a tag, a
// reader has not said all it had to say: where its end cannot be learned
// that output fails, and only output that stops between whole blocks (none
// at all, too, and a whole last tag without its newline) is taken. Where the status is known such output from a
// reader that exited is judged as it stands.
TEST_F(TolvQuery, AHostThatReapsItsChildrenGetsNoAnswerFromOutputCutBeforeItsBlocksClose) {
    const std::string models = "<MODELS_BEG>\n2\n1\nA\n10\nB\n2\nC\n20\nD\n";
    const std::vector<std::string> cut = {
        "<MODELS_BEG>\n", "<MODELS_BE", models, "<WARNING_BEG>\nslow\n", "<ERROR_BEG>\nbad\n",
        kTwoModels + std::string("<WARN"), kTwoModels + std::string("<MODELS_BEG>\n")};
    const std::vector<std::string> whole = {
        "", "Reading\n", kTwoModels, std::string(kTwoModels, sizeof kTwoModels - 2),
        kTwoModels + std::string("<WARNING_BEG>\nslow\n<WARNING_END>\nDone")};
    auto r = vrntest::runInChild([&] {
        for (Reaping how : {Reaping::IgnoreSigchld, Reaping::NoChildWait}) {
            reapAsTheHostDoes(how);
            setenv("TESTREADER_SIGNAL", "9", 1);
            // Whatever the output reported before it, the failure says why.
            for (const std::string& output : cut) {
                const std::string answer = outcome(queryOutput(dir, output));
                const std::string last = " [10022] " + std::string(kCutShort);
                const bool cutShort = answer.compare(0, 4, "0 0 ") == 0 && answer.size() >= last.size() &&
                                      answer.compare(answer.size() - last.size(), last.size(), last) == 0;
                std::printf("%s|", cutShort ? "cut" : answer.c_str());
            }
            for (const std::string& output : whole) std::printf("%s|", outcome(queryOutput(dir, output)).c_str());
            std::printf("\n");
        }
        reapAsTheHostDoes(Reaping::None);
        unsetenv("TESTREADER_SIGNAL");
        std::printf("%s|%s\n", outcome(queryOutput(dir, "<MODELS_BEG>\n")).c_str(),
                    outcome(queryOutput(dir, models)).c_str());
        return 0;
    });
    std::string unknownStatus;
    for (size_t i = 0; i < cut.size(); ++i) unknownStatus += "cut|";
    unknownStatus += "1 0|1 0|1 2 D|1 2 D|1 2 D [5] " + std::string(kWarningLead) + "  slow\n|\n";
    EXPECT_EQ(unknownStatus + unknownStatus + "1 0|1 2 D\n", r.out);
    EXPECT_EQ(0, r.exitStatus) << r.err;
}

// A host thread forks while the query holds the reader's pipe ends: the
// forked child, which runs no program, keeps a copy of the write end for as
// long as it lives. It says through a pipe of its own that its time is up
// before it ends: its descriptors close only after that, so a query held up
// until the write end closed finds the word there, however the system
// schedules the child's end (a child that is ending but not yet a zombie
// looks alive to waitpid).
namespace {
int g_strayChild = -1;
int g_strayDone[2] = {-1, -1};

void forkInAnotherThread(int) {
    std::thread([] {
        g_strayChild = fork();
        if (g_strayChild == 0) {
            sleep(10);
            const char done = 'x';
            if (write(g_strayDone[1], &done, 1) != 1) _exit(1);
            _exit(0);
        }
    }).join();
}
}  // namespace

TEST_F(TolvQuery, AForkInAnotherHostThreadDoesNotHoldTheQueryUp) {
    const int watch = vrnPlatform_watchExit(vrnPlatform_getpid());
    if (watch < 0) GTEST_SKIP() << "this system cannot watch a child's end: " << strerror(errno);
    close(watch);
    auto r = vrntest::runInChild([&] {
        if (pipe(g_strayDone) != 0) return 2;
        vrnPlatform_setSpawnHook(forkInAnotherThread);
        const std::string answer = outcome(queryOutput(dir, kTwoModels));
        vrnPlatform_setSpawnHook(nullptr);
        if (g_strayChild <= 0) return 1;
        pollfd done = {g_strayDone[0], POLLIN, 0};
        const bool strayAlive = poll(&done, 1, 0) == 0;
        kill(g_strayChild, SIGKILL);
        waitpid(g_strayChild, nullptr, 0);
        std::printf("%s %s\n", answer.c_str(),
                    strayAlive ? "while the forked child lived" : "after the forked child ended");
        return 0;
    });
    EXPECT_EQ("1 2 D while the forked child lived\n", r.out);
    EXPECT_EQ(0, r.exitStatus) << r.err;
}

TEST_F(TolvQuery, FileNamesReachTheReaderAsOneUnchangedArgument) {
    const std::string record = dir.file("args");
    setenv("TESTREADER_ARGS_FILE", record.c_str(), 1);
    for (std::string name : {std::string("with blank.tolv"), std::string("quo\"te's.tolv"),
                             std::string("<in.tolv"), std::string("out>.tolv"),
                             std::string("> x"), std::string("")}) {
        SCOPED_TRACE(name);
        std::string path = name.empty() ? "" : dir.file(name);
        if (!path.empty()) vrntest::writeFile(path, kTwoModels);
        auto r = query(path);
        // The test reader reports a file it cannot open as an error block.
        EXPECT_EQ(path.empty() ? 0 : 1, r.rc);
        EXPECT_EQ(path.empty() ? 0 : 2, r.n);
        auto args = splitNul(vrntest::readFile(record));
        std::vector<std::string> expected = {VRN_TEST_READER, "-list", path, "-server_mode"};
        EXPECT_EQ(expected, args);
        takeErrors();
    }
    EXPECT_FALSE(vrntest::readFile(dir.file("out>.tolv")).empty());
}

TEST(TolvQueryInstallation, MissingVariablesGiveTheExactTextsAndLeaveOutputsUntouched) {
    struct Case {
        const char* bin;
        const char* exec;
        std::string message;
    };
    const std::vector<Case> cases = {
        {nullptr, nullptr,
         "The environment variables:\n\nKWX5BINDIR\nKWX5EXECDIR\n\nhave not been set. These must be "
         "set for the program to operate correctly.\n"},
        {"/b", nullptr,
         "The environment variable:\n\nKWX5EXECDIR\n\nhas not been set. This must be set for the "
         "program to operate correctly.\n"},
        {nullptr, "/e",
         "The environment variable:\n\nKWX5BINDIR\n\nhas not been set. This must be set for the "
         "program to operate correctly.\n"},
    };
    for (const Case& c : cases) {
        if (c.bin) setenv("KWX5BINDIR", c.bin, 1);
        else unsetenv("KWX5BINDIR");
        if (c.exec) setenv("KWX5EXECDIR", c.exec, 1);
        else unsetenv("KWX5EXECDIR");
        const int before = vrntest::openDescriptorCount();
        int n = 77;
        int* a = reinterpret_cast<int*>(0x1);
        int* b = nullptr;
        char** names1 = nullptr;
        char** names2 = nullptr;
        EXPECT_EQ(0, vrnTOLVQuery_getModels("f", &n, &a, &b, &names1, &names2));
        EXPECT_EQ(77, n);
        EXPECT_EQ(reinterpret_cast<int*>(0x1), a);
        expectOnlyError(VRN_U_ENVIRONMENT_VARIABLE_NOT_SET, c.message);
        EXPECT_EQ(before, vrntest::openDescriptorCount());
        EXPECT_TRUE(takeErrors().empty());
    }
}

TEST_F(TolvQuery, MissingOrNonExecutableReaderIsAFailedStartWithNothingLeftBehind) {
    vrntest::writeFile(dir.file("not_executable"), "#!/bin/sh\necho '<MODELS_BEG>'\n");
    chmod(dir.file("not_executable").c_str(), 0644);
    // An empty override counts as unset: the folder's copy, missing, is tried.
    for (std::string reader : {dir.file("missing"), dir.file("not_executable"), std::string("")}) {
        SCOPED_TRACE(reader);
        setenv("KWX5_KWXTOLVREADER_EXEC", reader.c_str(), 1);
        const std::string tried = reader.empty() ? dir.file("kwxtolvreader.exe") : reader;
        const int before = vrntest::openDescriptorCount();
        auto r = queryOutput(dir, kTwoModels);
        EXPECT_EQ(0, r.rc);
        EXPECT_EQ(0, r.n);
        EXPECT_TRUE(r.outputsNull);
        const std::string reason = reader == dir.file("not_executable") ? "Permission denied"
                                                                       : "No such file or directory";
        expectOnlyError(VRN_U_UNABLE_TO_SPAWN_PROCESS,
                        kSpawn + ("Path tried: " + tried + "\nReason: " + reason + "\n"));
        EXPECT_EQ(before, vrntest::openDescriptorCount());
        EXPECT_TRUE(noChildLeft());
        EXPECT_TRUE(takeErrors().empty());
    }
}

TEST_F(TolvQuery, AStartTheSystemRefusesSaysWhy) {
    const std::string model = dir.file("model.tolv");
    vrntest::writeFile(model, kTwoModels);
    // Prints the message of the query's one error.
    auto failedStart = [&] {
        auto r = query(model);
        auto errors = takeErrors();
        if (r.rc != 0 || errors.size() != 1) return 1;
        std::printf("%s", errors[0].message.c_str());
        return 0;
    };
    const std::string lead = kSpawn + ("Path tried: " + std::string(VRN_TEST_READER) + "\nReason: ");

    auto r = vrntest::runInChild([&] {
        rlimit limit{};
        getrlimit(RLIMIT_NOFILE, &limit);
        const rlimit before = limit;
        // Room for one pipe (the sanitizers' own checks make one); the
        // reader's channel needs two.
        const int lowest = open("/dev/null", O_RDONLY | O_CLOEXEC);
        close(lowest);
        limit.rlim_cur = static_cast<rlim_t>(lowest) + 2;
        setrlimit(RLIMIT_NOFILE, &limit);
        const int rc = failedStart();
        setrlimit(RLIMIT_NOFILE, &before);
        return rc;
    });
    EXPECT_EQ(0, r.exitStatus);
    EXPECT_EQ(lead + "Too many open files\n", r.out);

    r = vrntest::runInChild([&] {
        if (!vrntest::refuseSystemCalls({{__NR_clone3, ENOMEM}, {__NR_clone, ENOMEM, CLONE_VFORK}}))
            return 10;
        return failedStart();
    });
    if (r.exitStatus == 10) GTEST_SKIP() << "this machine does not let a process install a seccomp filter";
    EXPECT_EQ(0, r.exitStatus);
    EXPECT_EQ(lead + "Cannot allocate memory\n", r.out);
}

TEST_F(TolvQuery, FolderFifoOrDeviceIsRefusedBeforeTheReaderStarts) {
    // The test reader copies its file to its output: on a FIFO without a
    // writer it would never end.
    const std::string fifo = dir.file("fifo.tolv");
    const std::string folder = dir.file("folder.tolv");
    const std::string link = dir.file("link.tolv");
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0644));
    ASSERT_EQ(0, mkdir(folder.c_str(), 0755));
    ASSERT_EQ(0, symlink(fifo.c_str(), link.c_str()));
    setenv("TESTREADER_ARGS_FILE", dir.file("args").c_str(), 1);
    for (const std::string& file : {fifo, folder, link, std::string("/dev/null")}) {
        SCOPED_TRACE(file);
        auto r = query(file);
        EXPECT_EQ(0, r.rc);
        EXPECT_EQ(0, r.n);
        EXPECT_TRUE(r.outputsNull);
        expectOnlyError(VRN_U_INVALID_INPUT, "The file \"" + file + "\" is not a regular file.\n");
    }
    EXPECT_NE(0, access(dir.file("args").c_str(), F_OK)) << "the reader was started";
    EXPECT_TRUE(noChildLeft());
}

TEST_F(TolvQuery, ReaderIsFoundInTheExecFolderThenTheBinFolder) {
    vrntest::TempDir bin, exec;
    setenv("KWX5BINDIR", bin.path().c_str(), 1);
    setenv("KWX5EXECDIR", exec.path().c_str(), 1);
    unsetenv("KWX5_KWXTOLVREADER_EXEC");
    auto r = queryOutput(dir, kTwoModels);
    EXPECT_EQ(0, r.rc);  // neither folder has it
    takeErrors();
    ASSERT_EQ(0, symlink(VRN_TEST_READER, bin.file("kwxtolvreader.exe").c_str()));
    EXPECT_EQ(2, queryOutput(dir, kTwoModels).n);
    const std::string record = dir.file("args");
    setenv("TESTREADER_ARGS_FILE", record.c_str(), 1);
    ASSERT_EQ(0, symlink(VRN_TEST_READER, exec.file("kwxtolvreader.exe").c_str()));
    EXPECT_EQ(2, queryOutput(dir, kTwoModels).n);
    EXPECT_EQ(exec.file("kwxtolvreader.exe"), splitNul(vrntest::readFile(record)).at(0));
}

TEST_F(TolvQuery, RepeatedQueriesLeakNoDescriptorAndLeaveNoChild) {
    queryOutput(dir, kTwoModels);  // first use makes the process-wide singletons
    const int before = vrntest::openDescriptorCount();
    for (int i = 0; i < 20; ++i) EXPECT_EQ(2, queryOutput(dir, kTwoModels).n);
    EXPECT_EQ(before, vrntest::openDescriptorCount());
    EXPECT_TRUE(noChildLeft());
}
