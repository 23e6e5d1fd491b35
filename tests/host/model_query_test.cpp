// The exported model query through the test reader, seen as a host sees it.
#include <errno.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "VRNUtilities.h"
#include "cgns_writer.h"
#include "test_support.h"

namespace {

using WString = std::basic_string<unsigned short>;

WString wide(const std::string& s) { return WString(s.begin(), s.end()); }

const std::string kErrorLead =
    "There was a problem querying the meshing database. The\nfollowing problem was reported:\n\n";
const std::string kWarningLead =
    "The process of querying the meshing database reported the\nfollowing warning(s):\n\n";

struct Vectors {
    int count = -5;
    std::vector<int> ids1, ids2;
    std::vector<WString> names1, names2;
};

class HostModelQuery : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("KWX5BINDIR", dir.path().c_str(), 1);
        setenv("KWX5EXECDIR", dir.path().c_str(), 1);
        setenv("KWX5_KWXTOLVREADER_EXEC", VRN_TEST_READER, 1);
    }
    std::string file(const std::string& output) {
        const std::string path = dir.file("m" + std::to_string(next++) + ".tolv");
        vrntest::writeFile(path, output);
        return path;
    }
    bool run(const std::string& output) {
        return ylt::VRNUtilities::getModelsFromTOLVFile(file(output), v.count, v.ids1, v.ids2, v.names1,
                                                        v.names2);
    }
    // The message of the exception that the query throws.
    std::string failure(const std::string& output) {
        try {
            run(output);
        } catch (const ylt::vrnutilities::error& e) {
            EXPECT_EQ("VRNUtilities", e.getClass());
            EXPECT_EQ("getModelsFromTOLVFile", e.getMethod());
            EXPECT_EQ(4, static_cast<int>(e.getType()));
            return e.getMessage();
        }
        ADD_FAILURE() << "no exception";
        return "";
    }
    vrntest::TempDir dir;
    Vectors v;
    int next = 0;
};

}  // namespace

TEST_F(HostModelQuery, ModelsAreAppendedToTheCallersVectors) {
    const std::string crlf = "<MODELS_BEG>\r\n2\r\n1\r\nA\r\n10\r\n B \r\n2\r\n\r\n20\r\nD\r\n<MODELS_END>\r\n";
    EXPECT_TRUE(run(crlf));
    EXPECT_EQ(2, v.count);
    EXPECT_TRUE(run(crlf));
    EXPECT_EQ(2, v.count);
    EXPECT_EQ((std::vector<int>{1, 2, 1, 2}), v.ids1);
    EXPECT_EQ((std::vector<int>{10, 20, 10, 20}), v.ids2);
    EXPECT_EQ((std::vector<WString>{wide("A"), wide(""), wide("A"), wide("")}), v.names1);
    EXPECT_EQ((std::vector<WString>{wide(" B "), wide("D"), wide(" B "), wide("D")}), v.names2);
}

TEST_F(HostModelQuery, NamesAreWidenedFromUtf8) {
    EXPECT_TRUE(run("<MODELS_BEG>\n1\n1\nd\xc3\xa9j\xc3\xa0\n2\n\xf0\x9f\x98\x80\n"));
    ASSERT_EQ(1u, v.names1.size());
    EXPECT_EQ((WString{'d', 0xE9, 'j', 0xE0}), v.names1[0]);
    EXPECT_EQ((WString{0xD83D, 0xDE00}), v.names2[0]);
}

TEST_F(HostModelQuery, AWarningStaysRecordedAndLeadsTheNextFailure) {
    EXPECT_TRUE(run("<WARNING_BEG>\nold data\n<WARNING_END>\n"));
    const std::string message = failure("<ERROR_BEG>\n%s %n 100%\n<ERROR_END>\n");
    EXPECT_EQ(kWarningLead + "  old data\n" + "\n\n" + kErrorLead + "  %s %n 100%\n", message);
    // Everything was cleared after the throw: the next failure stands alone.
    EXPECT_EQ(kErrorLead + "  again\n", failure("<ERROR_BEG>\nagain\n<ERROR_END>\n"));
    EXPECT_EQ("There was a problem parsing the output from kwxtolvreader.\n",
              failure("<MODELS_BEG>\nabc\n"));
    EXPECT_EQ(0, v.count);
}

TEST_F(HostModelQuery, SuppressedWarningsAreLeftOutOfTheMessageButStillCleared) {
    const std::string okFile = file("<WARNING_BEG>\nold data\n<WARNING_END>\n");
    const std::string badFile = file("<ERROR_BEG>\nbad\n<ERROR_END>\n");
    vrntest::ChildOptions options;
    options.env.push_back({"VRN_SUPPRESS_WARNINGS", std::string("")});
    auto r = vrntest::runInChild(
        [&] {
            Vectors w;
            ylt::VRNUtilities::getModelsFromTOLVFile(okFile, w.count, w.ids1, w.ids2, w.names1, w.names2);
            for (int i = 0; i < 2; ++i) {
                try {
                    ylt::VRNUtilities::getModelsFromTOLVFile(badFile, w.count, w.ids1, w.ids2, w.names1,
                                                            w.names2);
                } catch (const ylt::vrnutilities::error& e) {
                    printf("[%s]", e.getMessage().c_str());
                }
            }
            return 0;
        },
        options);
    EXPECT_EQ(0, r.exitStatus);
    EXPECT_EQ("[" + kErrorLead + "  bad\n]" + "[" + kErrorLead + "  bad\n]", r.out);
}

TEST_F(HostModelQuery, MissingInstallationLeavesTheCountAsGiven) {
    unsetenv("KWX5EXECDIR");
    v.count = 42;
    EXPECT_EQ("The environment variable:\n\nKWX5EXECDIR\n\nhas not been set. This must be set for the "
              "program to operate correctly.\n",
              failure("x"));
    EXPECT_EQ(42, v.count);
    EXPECT_TRUE(v.ids1.empty());
}

TEST_F(HostModelQuery, MissingReaderThrowsTheSpawnMessage) {
    setenv("KWX5_KWXTOLVREADER_EXEC", dir.file("nothing-here").c_str(), 1);
    EXPECT_EQ("Unable to run kwxtolvreader. Are you sure that the appropriate\nexecutable exists?\n"
              "Path tried: " + dir.file("nothing-here") + "\nReason: No such file or directory\n",
              failure("x"));
}

TEST_F(HostModelQuery, ReaderKilledBySignalThrows) {
    setenv("TESTREADER_SIGNAL", "6", 1);
    EXPECT_EQ("kwxtolvreader was ended by signal 6 before it finished.\n",
              failure("<MODELS_BEG>\n1\n1\nA\n2\nB\n"));
    EXPECT_TRUE(v.ids1.empty());
    // Nor does a reader's error block after complete models append them.
    unsetenv("TESTREADER_SIGNAL");
    v.names2.push_back(wide("held"));
    failure("<MODELS_BEG>\n1\n1\nA\n2\nB\n<ERROR_BEG>\nbad\n<ERROR_END>\n");
    EXPECT_TRUE(v.ids1.empty() && v.ids2.empty() && v.names1.empty());
    EXPECT_EQ(std::vector<WString>{wide("held")}, v.names2);
}

TEST_F(HostModelQuery, FailedStartsLeakNothingAndLeaveNoErrorRecorded) {
    const std::string bothMissing =
        "The environment variables:\n\nKWX5BINDIR\nKWX5EXECDIR\n\nhave not been set. These must be set "
        "for the program to operate correctly.\n";
    const std::string spawn =
        "Unable to run kwxtolvreader. Are you sure that the appropriate\nexecutable exists?\n";
    EXPECT_TRUE(run("<MODELS_BEG>\n1\n1\nA\n2\nB\n"));  // first use makes the singletons
    const int before = vrntest::openDescriptorCount();

    unsetenv("KWX5BINDIR");
    unsetenv("KWX5EXECDIR");
    EXPECT_EQ(bothMissing, failure("x"));
    SetUp();
    setenv("KWX5_KWXTOLVREADER_EXEC", dir.file("not-there").c_str(), 1);
    EXPECT_EQ(spawn + "Path tried: " + dir.file("not-there") + "\nReason: No such file or directory\n",
              failure("x"));
    EXPECT_EQ(before, vrntest::openDescriptorCount());
    int status;
    EXPECT_TRUE(waitpid(-1, &status, WNOHANG) == -1 && errno == ECHILD);

    // Nothing stayed recorded: the next failure's message stands alone.
    SetUp();
    EXPECT_EQ(kErrorLead + "  alone\n", failure("<ERROR_BEG>\nalone\n<ERROR_END>\n"));
}

TEST_F(HostModelQuery, AFileNameHoldingNulIsRefusedNotCutShort) {
    const std::string models = file("<MODELS_BEG>\n1\n1\nA\n2\nB\n");
    v.count = 9;
    try {
        ylt::VRNUtilities::getModelsFromTOLVFile(models + std::string(1, '\0') + "other", v.count, v.ids1,
                                                v.ids2, v.names1, v.names2);
        ADD_FAILURE() << "no exception";
    } catch (const ylt::vrnutilities::error& e) {
        EXPECT_EQ("The file name holds a NUL character.\n", e.getMessage());
    }
    EXPECT_EQ(9, v.count);
    EXPECT_TRUE(v.ids1.empty());
    // The refusal was cleared with the rest.
    EXPECT_EQ(kErrorLead + "  next\n", failure("<ERROR_BEG>\nnext\n<ERROR_END>\n"));
}

TEST_F(HostModelQuery, CallsFromSeveralThreadsAtOnceRunOneAfterAnother) {
    const std::string models = file("<WARNING_BEG>\nw\n<WARNING_END>\n<MODELS_BEG>\n1\n1\nA\n2\nB\n");
    const std::string broken = file("<MODELS_BEG>\nabc\n");
    const std::string parse = "There was a problem parsing the output from kwxtolvreader.\n";
    const std::string bases = dir.file("bases.cgns");
    vrntest::writeCgnsFile(bases, vrntest::CgnsBackEnd::Adf, {"one", "two"});
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 10; ++i) {
                Vectors w;
                if (!ylt::VRNUtilities::getModelsFromTOLVFile(models, w.count, w.ids1, w.ids2, w.names1,
                                                             w.names2) ||
                    w.names2 != std::vector<WString>{wide("B")})
                    ++wrong;
                try {
                    ylt::VRNUtilities::getModelsFromTOLVFile(broken, w.count, w.ids1, w.ids2, w.names1,
                                                            w.names2);
                    ++wrong;
                } catch (const ylt::vrnutilities::error& e) {
                    // Warnings that other threads' queries left lead it.
                    const std::string m = e.getMessage();
                    if (m.size() < parse.size() || m.compare(m.size() - parse.size(), parse.size(), parse) != 0)
                        ++wrong;
                }
                std::vector<int> indices;
                std::vector<WString> names;
                if (!ylt::VRNUtilities::getBasesFromCGNSFile(bases, w.count, indices, names) ||
                    names != std::vector<WString>{wide("one"), wide("two")})
                    ++wrong;
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(0, wrong.load());
    EXPECT_TRUE(vrntest::noChildLeft());
}
