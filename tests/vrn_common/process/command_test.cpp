// Environments, commands and their arguments.
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "../handed_over.h"
#include "errors/error_manager.h"
#include "process/command.h"
#include "support/cstring.h"
#include "support/memory.h"
#include "test_support.h"

using commontest::take;

TEST(Environment, ProgramsAreFoundByOverrideThenExecThenBinFolder) {
    vrntest::TempDir bin, exec;
    setenv("KWX5BINDIR", bin.path().c_str(), 1);
    setenv("KWX5EXECDIR", exec.path().c_str(), 1);
    unsetenv("KWX5_KWXTOLVREADER_EXEC");
    unsetenv("KWX5_TOOL_COMMAND");
    unsetenv("TMPDIR");
    Environment* env = Environment_new(nullptr);
    ASSERT_NE(nullptr, env);
    EXPECT_STREQ("KWX5", env->prefix);
    EXPECT_STREQ("KWX5BINDIR", env->binDirVar);
    EXPECT_STREQ("KWX5EXECDIR", env->execDirVar);
    EXPECT_STREQ(".", env->tmpDir);

    EXPECT_EQ(exec.file("kwxtolvreader.exe"), take(Environment_findCommand(env, "kwxtolvreader.exe")));
    vrntest::writeFile(bin.file("kwxtolvreader.exe"), "");
    EXPECT_EQ(bin.file("kwxtolvreader.exe"), take(Environment_findCommand(env, "kwxtolvreader.exe")));
    vrntest::writeFile(exec.file("kwxtolvreader.exe"), "");
    EXPECT_EQ(exec.file("kwxtolvreader.exe"), take(Environment_findCommand(env, "kwxtolvreader.exe")));
    setenv("KWX5_KWXTOLVREADER_EXEC", "", 1);  // empty counts as unset
    EXPECT_EQ(exec.file("kwxtolvreader.exe"), take(Environment_findCommand(env, "kwxtolvreader.exe")));
    setenv("KWX5_KWXTOLVREADER_EXEC", "/r", 1);
    EXPECT_EQ("/r", take(Environment_findCommand(env, "kwxtolvreader.exe")));

    EXPECT_EQ(bin.file("tool"), take(Environment_findCommand(env, "tool")));
    setenv("KWX5_TOOL_COMMAND", "/x/t", 1);
    EXPECT_EQ("/x/t", take(Environment_findCommand(env, "tool")));
    // ".EXE" is not ".exe": the case matters.
    EXPECT_EQ("KWX5_TOOL.EXE_COMMAND", take(Environment_buildVariable(env, "tool.EXE", 0)));
    EXPECT_EQ("KWX5_KWXTOLVREADER_EXEC", take(Environment_buildVariable(env, "kwxtolvreader.exe", 1)));
    Environment_delete(env);

    setenv("xBINDIR", "", 1);  // the prefix is used as given
    setenv("xEXECDIR", "", 1);
    env = Environment_new("x");
    ASSERT_NE(nullptr, env);
    EXPECT_EQ("X_RUN_EXEC", take(Environment_buildVariable(env, "run.exe", 1)));
    Environment_delete(env);
    env = Environment_new("");
    EXPECT_EQ(nullptr, env);  // "BINDIR" and "EXECDIR" are not set
    int count = 0;
    vrnError** errors = nullptr;
    vrnApp_getErrors(&count, &errors);
    EXPECT_EQ(1, count);
    vrnFree(errors, "test");
    vrnApp_clearErrors();
}

TEST(Command, ArgumentsFromTheFirstUnquotedRedirectionOnAreRedirections) {
    Command* c = Command_new(nullptr, "prog", VRN_COMMAND_AS_GIVEN);
    Command_addArguments(c, "-list", "a b", "\"a>b\"", "'x<y'", "> out.txt", "2>&1", "plain", nullptr);
    EXPECT_EQ(7, c->m_noOfArguments);
    EXPECT_EQ(4, c->plainArgs);
    EXPECT_EQ(3, c->redirectionArgs);
    EXPECT_EQ(4, Command_getNoOfArguments(c));
    EXPECT_EQ(0, Command_addPlainArgument(c, "late"));  // would land among the redirections
    EXPECT_EQ("\"a b\"", take(Command_getQuotedArgument(c, '"', 1)));
    EXPECT_EQ("-list", take(Command_getQuotedArgument(c, '"', 0)));
    EXPECT_EQ("> out.txt", take(Command_getArgument(c, 4)));
    Command_delete(c);

    c = Command_new(nullptr, "prog", VRN_COMMAND_AS_GIVEN);
    EXPECT_EQ(1, Command_addPlainArgument(c, "<in>"));
    EXPECT_EQ(1, c->plainArgs);
    for (int i = 0; i < 10; ++i) Command_addArgument(c, "x");
    EXPECT_EQ(20, c->capacity);
    EXPECT_EQ(11, c->m_noOfArguments);
    Command_delete(c);
}

TEST(Command, PathsByMode) {
    struct Case {
        int mode;
        const char* path;
        int search;
    };
    for (const Case& k : {Case{VRN_COMMAND_SEARCH_PATH, "tool", 1}, Case{VRN_COMMAND_LOCAL, "./tool", 0},
                          Case{VRN_COMMAND_AS_GIVEN, "tool", 0}, Case{9, "<null>", 0}}) {
        Command* c = Command_new(nullptr, "tool", k.mode);
        EXPECT_EQ(k.path, take(Command_getPath(c)));
        EXPECT_EQ(k.search, Command_isSearchPath(c));
        Command_delete(c);
    }
}

TEST(Command, AnArgumentIndexOutsideTheArgumentsFailsTheAssertion) {
    auto r = vrntest::runInChild([] {
        Command* c = Command_new(nullptr, "tool", VRN_COMMAND_AS_GIVEN);
        Command_addArgument(c, "only");
        vrnCString_free(Command_getArgument(c, 1));
        return 0;
    });
    EXPECT_EQ(1, r.exitStatus);
    EXPECT_NE(std::string::npos, r.err.find("Assertion failure"));
    EXPECT_NE(std::string::npos, r.err.find("Assertion:   i > -1 && i < this->m_noOfArguments\n"));
    EXPECT_NE(std::string::npos, r.err.find("Function:    Command_getArgument\n"));
}

// Error records name their source by its place in the tree, never by the
// folders of the machine that built the library.
TEST(Environment, ErrorLogNamesTheSourceFileWithinTheTree) {
    const vrntest::ChildResult child = vrntest::runInChild([] {
        setenv("VRN_ERROR_LOG", "stdout", 1);
        unsetenv("KWX5BINDIR");
        unsetenv("KWX5EXECDIR");
        return Environment_new(nullptr) == nullptr ? 0 : 1;
    });
    EXPECT_EQ(0, child.exitStatus);
    EXPECT_NE(std::string::npos, child.out.find("= vrn_common/src/process/environment.cpp\n")) << child.out;
}
