// Starting children: arguments, redirections, the live list, how a child
// ended, and the once-per-process console setting.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "process/process.h"
#include "query_helpers.h"

using querytest::noChildLeft;
using querytest::splitNul;

namespace {

Command* readerCommand() { return Command_new(nullptr, VRN_TEST_READER, VRN_COMMAND_AS_GIVEN); }

}  // namespace

TEST(Process, TheFullProgramPathIsTheFirstArgumentBlanksAndAll) {
    vrntest::TempDir dir;
    const std::string folder = dir.file("with blank");
    ASSERT_EQ(0, mkdir(folder.c_str(), 0755));
    const std::string program = folder + "/kwxtolvreader.exe";
    ASSERT_EQ(0, symlink(VRN_TEST_READER, program.c_str()));
    setenv("TESTREADER_ARGS_FILE", dir.file("args").c_str(), 1);
    Command* c = Command_new(nullptr, program.c_str(), VRN_COMMAND_AS_GIVEN);
    Command_addArguments(c, "-list", "a b", "", nullptr);
    Process* p = Process_new(c, nullptr, nullptr);
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(p, Process_getLiveList());
    EXPECT_EQ(1, Process_wait(p));
    Process_delete(p);
    EXPECT_EQ(nullptr, Process_getLiveList());
    Command_delete(c);
    EXPECT_EQ((std::vector<std::string>{program, "-list", "a b", ""}),
              splitNul(vrntest::readFile(dir.file("args"))));
}

TEST(Process, RedirectionsSetTheChildsStreamsAndTheirFilesAreClosed) {
    vrntest::TempDir dir;
    vrntest::writeFile(dir.file("model"), "from the file\n");
    setenv("TESTREADER_STDERR_TEXT", "on stderr\n", 1);
    Process_delete(nullptr);  // nothing to do
    const int before = vrntest::openDescriptorCount();

    Command* c = readerCommand();
    Command_addArguments(c, "-list", dir.file("model").c_str(), ">", dir.file("out").c_str(), "2>&1",
                         nullptr);
    Process* p = Process_new(c, nullptr, nullptr);
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(0, p->outputFd);  // the parent's copy is closed after the start
    EXPECT_EQ(before, vrntest::openDescriptorCount());
    Process_wait(p);
    Process_delete(p);
    Command_delete(c);
    EXPECT_EQ("on stderr\nfrom the file\n", vrntest::readFile(dir.file("out")));

    // Appending, with the operator and the file in one argument.
    c = readerCommand();
    Command_addArguments(c, "-list", dir.file("model").c_str(), (">> " + dir.file("out")).c_str(), nullptr);
    p = Process_new(c, nullptr, nullptr);
    ASSERT_NE(nullptr, p);
    Process_wait(p);
    Process_delete(p);
    Command_delete(c);
    EXPECT_EQ("on stderr\nfrom the file\nfrom the file\n", vrntest::readFile(dir.file("out")));
    EXPECT_EQ(before, vrntest::openDescriptorCount());
    EXPECT_TRUE(noChildLeft());
}

TEST(Process, StandardInputFromAFile) {
    vrntest::TempDir dir;
    vrntest::writeFile(dir.file("in"), "line\nquit\n");
    Command* c = Command_new(nullptr, VRN_TEST_ECHO, VRN_COMMAND_AS_GIVEN);
    Command_addArguments(c, "<", dir.file("in").c_str(), (">" + dir.file("out")).c_str(), nullptr);
    Process* p = Process_new(c, nullptr, nullptr);
    ASSERT_NE(nullptr, p);
    Process_wait(p);
    EXPECT_EQ(0, p->status);
    Process_delete(p);
    Command_delete(c);
    EXPECT_EQ("echo: line\n", vrntest::readFile(dir.file("out")));
}

TEST(Process, ARedirectionFileThatCannotBeOpenedIsAFailedStart) {
    vrntest::TempDir dir;
    const int before = vrntest::openDescriptorCount();
    for (const std::string& args : {std::string("<"), std::string(">")}) {
        Command* c = readerCommand();
        const std::string target = args == "<" ? dir.file("missing") : dir.file("no/such/folder");
        Command_addArguments(c, ">", dir.file("created").c_str(), args.c_str(), target.c_str(), nullptr);
        Conduit* conduit = reinterpret_cast<Conduit*>(0x1);
        Process* p = Process_new(c, "pipe: 1.0", &conduit);
        EXPECT_EQ(nullptr, p);
        EXPECT_EQ(nullptr, conduit);
        Command_delete(c);
    }
    EXPECT_EQ(before, vrntest::openDescriptorCount());
    EXPECT_TRUE(noChildLeft());
    EXPECT_EQ(nullptr, Process_getLiveList());
}

TEST(Process, MoreRedirectionFilesThanCanBeClosedAfterTheStartFailTheStartWithoutLeak) {
    vrntest::TempDir dir;
    vrntest::writeFile(dir.file("in"), "");
    const int before = vrntest::openDescriptorCount();
    Command* c = readerCommand();
    for (int i = 0; i <= VRN_CHILD_MAX_INHERITED; ++i) Command_addArguments(c, "<", dir.file("in").c_str(), nullptr);
    EXPECT_EQ(nullptr, Process_new(c, nullptr, nullptr));
    Command_delete(c);
    EXPECT_EQ(before, vrntest::openDescriptorCount());
    EXPECT_TRUE(noChildLeft());
}

TEST(Process, MoreConduitDescriptorsThanTheChildCanBeGivenFailTheStart) {
    // Each "pipe" conduit hands the child two descriptors of its own.
    const int n = VRN_CHILD_MAX_INHERITED / 2 + 1;
    std::vector<const char*> types(n, "pipe");
    std::vector<Conduit*> conduits(n, nullptr);
    const int before = vrntest::openDescriptorCount();
    Command* c = readerCommand();
    EXPECT_EQ(nullptr, Process_newMultiConduit(c, n, types.data(), conduits.data()));
    for (Conduit* k : conduits) EXPECT_EQ(nullptr, k);
    EXPECT_EQ(before, vrntest::openDescriptorCount());
    EXPECT_TRUE(noChildLeft());
    // One fewer fits.
    Process* p = Process_newMultiConduit(c, n - 1, types.data(), conduits.data());
    ASSERT_NE(nullptr, p);
    Process_wait(p);
    for (int i = 0; i < n - 1; ++i) Conduit_delete(conduits[i]);
    Process_delete(p);
    Command_delete(c);
    EXPECT_EQ(before, vrntest::openDescriptorCount());
}

TEST(Process, DeletingAnEndedChildThatWasNeverWaitedForLeavesNoZombie) {
    setenv("TESTREADER_SILENT", "1", 1);
    Command* c = readerCommand();
    Process* p = Process_new(c, nullptr, nullptr);
    ASSERT_NE(nullptr, p);
    // Wait for the child's end without reaping it, as a caller that never
    // called Process_wait would leave it.
    siginfo_t info{};
    ASSERT_EQ(0, waitid(P_PID, static_cast<id_t>(p->pid), &info, WEXITED | WNOWAIT));
    Process_delete(p);
    Command_delete(c);
    unsetenv("TESTREADER_SILENT");
    EXPECT_TRUE(noChildLeft());
}

TEST(Process, HereDocumentsOpenNothing) {
    Command* c = readerCommand();
    Command_addArguments(c, "<<", "END", nullptr);
    ChildStartup s;
    ChildStartup_init(&s);
    EXPECT_EQ(0, Process_redirectIO(nullptr, c, &s));
    EXPECT_EQ(-1, s.stdInput);
    EXPECT_EQ(0, s.openedCount);
    Command_delete(c);
}

TEST(Process, WaitKeepsTheExitStatusOrTheSignal) {
    setenv("TESTREADER_EXIT", "4", 1);
    Command* c = readerCommand();
    Process* p = Process_new(c, nullptr, nullptr);
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(1, Process_wait(p));
    EXPECT_EQ(4, p->status);
    EXPECT_EQ(0, Process_getTerminationSignal(p));
    EXPECT_EQ(0, Process_wait(p));  // already reaped
    Process_delete(p);
    setenv("TESTREADER_SIGNAL", "15", 1);
    p = Process_new(c, nullptr, nullptr);
    Process_wait(p);
    EXPECT_EQ(-1, p->status);
    EXPECT_EQ(15, Process_getTerminationSignal(p));
    Process_delete(p);
    Command_delete(c);
}

namespace {

// Runs the reader with no conduit in a fresh process and returns what
// reached that process's standard output.
std::string consoleOutput(bool show) {
    vrntest::TempDir dir;
    vrntest::writeFile(dir.file("model"), "visible\n");
    const std::string model = dir.file("model");
    vrntest::ChildOptions options;
    if (show) options.env.push_back({"VRN_SHOW_CONSOLES", std::string("")});
    else options.env.push_back({"VRN_SHOW_CONSOLES", std::nullopt});
    auto r = vrntest::runInChild(
        [&] {
            Command* c = readerCommand();
            Command_addArguments(c, "-list", model.c_str(), nullptr);
            Process* p = Process_new(c, nullptr, nullptr);
            if (!p) return 1;
            Process_wait(p);
            Process_delete(p);
            Command_delete(c);
            return 0;
        },
        options);
    EXPECT_EQ(0, r.exitStatus);
    return r.out;
}

}  // namespace

TEST(ProcessConsoles, HiddenByDefault) { EXPECT_EQ("", consoleOutput(false)); }

TEST(ProcessConsoles, ShownWhenVrnShowConsolesIsSetEvenEmpty) { EXPECT_EQ("visible\n", consoleOutput(true)); }

TEST(ProcessTrace, RedirectionsAndReaderLinesGoToTheDebugLog) {
    vrntest::TempDir dir;
    vrntest::writeFile(dir.file("control"),
                       "<DEBUG>\nProcess_redirectIO = 1\nreadOutput = 1\n</DEBUG>\n");
    vrntest::writeFile(dir.file("model"), "<MODELS_BEG>\r\n1\n5\nA\n6\nB\n");
    const std::string model = dir.file("model");
    const std::string out = dir.file("out");
    vrntest::ChildOptions options;
    options.env = {{"VRN_DEBUG_CONTROL", dir.file("control")},
                   {"VRN_DEBUG_LOG", dir.file("debug.log")},
                   {"KWX5BINDIR", dir.path()},
                   {"KWX5EXECDIR", dir.path()},
                   {"KWX5_KWXTOLVREADER_EXEC", std::string(VRN_TEST_READER)}};
    auto r = vrntest::runInChild(
        [&] {
            Command* c = readerCommand();
            Command_addArguments(c, "-list", model.c_str(), ">", out.c_str(), "2>&1", nullptr);
            Process* p = Process_new(c, nullptr, nullptr);
            if (!p) return 1;
            Process_wait(p);
            Process_delete(p);
            Command_delete(c);
            return querytest::query(model).n == 1 ? 0 : 2;
        },
        options);
    EXPECT_EQ(0, r.exitStatus);
    const std::string log = vrntest::readFile(dir.file("debug.log"));
    const std::string expectedRedirect = "Argument = '>'\nArgument = '" + out +
                                         "'\nRedirect standard out to " + out +
                                         ".\nArgument = '2>&1'\nRedirect standard err to standard out.\n"
                                         "setHandles = 1\n";
    EXPECT_NE(std::string::npos, log.find("Process_redirectIO:\n")) << log;
    EXPECT_NE(std::string::npos, log.find("Redirect the IO of a child process.\n")) << log;
    EXPECT_NE(std::string::npos, log.find(expectedRedirect)) << log;
    EXPECT_NE(std::string::npos, log.find("Read mesh data from vrnTOLVReader.exe.\n")) << log;
    EXPECT_NE(std::string::npos, log.find("<MODELS_BEG>\n1\n5\nA\n6\nB\n")) << log;
}
