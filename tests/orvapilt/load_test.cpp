#include "orv_internal.h"
#include "orv_test_util.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstring>

using namespace orvtest;

namespace {
struct Replaced {
    std::vector<std::string> paths;
    static void on(const char* path, void* self) { static_cast<Replaced*>(self)->paths.push_back(path); }
};
}  // namespace

TEST(OrvLoad, ErrorsUnwindToWhereTheLoadBegan)
{
    Handle h;
    ASSERT_EQ(load(h, {}), "");
    ASSERT_EQ(load(h, {"A: x", "END"}), "");
    ASSERT_EQ(pushPath(h, "/A:x"), nullptr);
    EXPECT_EQ(load(h, {"B: y", "C: z", "bad line", "END", "END"}),
              "parseORVLineH: syntax error near \"bad line\"");
    EXPECT_EQ(current(h), "/A:x");
    // What the lines before the error made stays.
    EXPECT_TRUE(orvPathExistsH(h, "/A:x/B:y/C:z"));
    EXPECT_EQ(load(h, {"P: a", "Q: b", "R: c", "END"}), "2 missing END statement(s) in input");
    EXPECT_EQ(current(h), "/A:x");
    EXPECT_EQ(blockDepth(h), 0);
    // Blocks opened line by line, closed by a load with one END too many.
    EXPECT_EQ(line(h, "S: s"), "");
    EXPECT_EQ(load(h, {"END", "END"}), "parseORVLineH: unmatched END");
    EXPECT_EQ(line(h, "S: s"), "");
    EXPECT_EQ(load(h, {"END"}), "1 too many END statement(s) in input");
    EXPECT_EQ(orvUnwindToStateH(h, 0), nullptr);
}

TEST(OrvLoad, BadArgumentsAreRefused)
{
    Handle h;
    char* lines[] = {const_cast<char*>("a = 1"), nullptr};
    EXPECT_STREQ(loadORVData(h, lines, -1, nullptr, nullptr), "loadORVData: Invalid arguments");
    EXPECT_STREQ(loadORVData(h, lines, 2, nullptr, nullptr), "loadORVData: Invalid arguments");
    EXPECT_STREQ(loadORVDataH(h, nullptr, 0), "loadORVData: Invalid arguments");
    EXPECT_STREQ(loadORVDataH(nullptr, lines, 1), "loadORVData: Invalid arguments");
    EXPECT_STREQ(parseORVData(h, nullptr, 0, nullptr, nullptr), "parseORVData: Invalid arguments");
    EXPECT_EQ(value(h, "/a"), "<missing>");
}

TEST(OrvLoad, DigestIsOfTheLinesJoined)
{
    Handle h;
    char* lines[] = {const_cast<char*>("a"), const_cast<char*>("bc")};
    unsigned char digest[16];
    EXPECT_NE(loadORVData(h, lines, 2, nullptr, digest), nullptr);  // digest taken before parsing
    const unsigned char abc[16] = {0x90, 0x01, 0x50, 0x98, 0x3c, 0xd2, 0x4f, 0xb0,
                                   0xd6, 0x96, 0x3f, 0x7d, 0x28, 0xe1, 0x7f, 0x72};
    EXPECT_EQ(std::memcmp(digest, abc, 16), 0);
}

TEST(OrvLoad, UnchangedDigestSetsValidityBitsWithoutTouchingTheReplaceMark)
{
    Handle h;
    ASSERT_EQ(load(h, {"A: x", "extra = 1", "END"}), "");
    std::vector<char*> lines = {const_cast<char*>("A: x"), const_cast<char*>("k = 1"),
                                const_cast<char*>("END")};
    OrvArray view{ORV_ARRAY_STRINGS, 3, 3, 0, lines.data()};
    unsigned char digest[16];
    ASSERT_EQ(parseORVData(h, &view, 0, nullptr, digest), nullptr);
    // The first validity bit already in the caller's word: the digest's bits
    // join it, they do not carry into the replace mark (which would drop
    // "extra" at END as if the block were replaced).
    ASSERT_EQ(parseORVData(h, &view, ORV_FLAG_VALID1, digest, nullptr), nullptr);
    EXPECT_EQ(value(h, "/A:x/extra"), "1");
    EXPECT_EQ(getValidH(h, "/A:x/k"), 2);
}

TEST(OrvLoad, SecondLoadNotifiesOnlyChanges)
{
    Handle h;
    Recorder rec;
    rec.attach(h);
    ASSERT_EQ(load(h, {"A: x", "k = 1", "j = 2", "END"}), "");
    EXPECT_EQ(rec.events, (std::vector<std::string>{"1 /A:x - -", "0 /A:x/k 1 -", "0 /A:x/j 2 -"}));
    rec.events.clear();
    ASSERT_EQ(load(h, {"A: x", "k = 1", "j = 3", "END"}), "");
    EXPECT_EQ(rec.events, (std::vector<std::string>{"0 /A:x/j 3 2"}));
}

TEST(OrvLoad, ReplaceBlocksDropWhatTheyDoNotRepeat)
{
    Handle h;
    ASSERT_EQ(load(h, {"A: x", "k = 1", "j = 2", "B: y", "m = 1", "n = 2", "END", "C: z", "END", "END",
                       "other = 1"}),
              "");
    Recorder rec;
    rec.attach(h);
    Replaced rep;
    ASSERT_EQ(orvAddReplaceHandler(h, Replaced::on, &rep), nullptr);
    ASSERT_EQ(load(h, {"&replace A: x", "k = 1", "&replace B: y", "m = 5", "END", "D: w", "END", "END"}), "");
    EXPECT_EQ(rec.events, (std::vector<std::string>{
                              "0 /A:x/B:y/m 5 1",
                              "0 /A:x/B:y/n - 2",  // inner END
                              "1 /A:x/D:w - -",
                              "0 /A:x/j - 2",      // outer END: parameters first
                              "2 /A:x/C:z - -",
                          }));
    EXPECT_EQ(rep.paths, (std::vector<std::string>{"/A:x", "/A:x/B:y"}));
    EXPECT_EQ(value(h, "/other"), "1");
    // Every mark was cleared at the outer END: a later replace drops all
    // that it does not repeat.
    rec.events.clear();
    ASSERT_EQ(load(h, {"&replace A: x", "k = 1", "END"}), "");
    EXPECT_EQ(rec.events, (std::vector<std::string>{"0 /A:x/B:y/m - 5", "2 /A:x/B:y - -", "2 /A:x/D:w - -"}));
    // A replaced parameter line tells the enclosing object.
    rep.paths.clear();
    ASSERT_EQ(load(h, {"A: x", "&replace k = 2", "END"}), "");
    EXPECT_EQ(rep.paths, (std::vector<std::string>{"/A:x"}));
}

namespace {
struct Calls {
    std::vector<std::string> log;
    static int run(OrvHandle*, const char* action, char** argv, void* self)
    {
        std::string entry = std::string(static_cast<const char*>("run:")) + action;
        entry += argv ? "[" + std::string(argv[0]) + "]" + (argv[1] ? "+" : "") : "()";
        static_cast<Calls*>(self)->log.push_back(entry);
        return std::strcmp(action, "fail") != 0;
    }
    static int other(OrvHandle*, const char* action, char**, void* self)
    {
        static_cast<Calls*>(self)->log.push_back(std::string("default:") + action);
        return 1;
    }
};
}  // namespace

TEST(OrvActions, DispatchByExactNameElseLastDefault)
{
    Handle h;
    EXPECT_EQ(line(h, ">run"), "no handler was found for action line");
    Calls c;
    orvAddActionHandler(h, Calls::run, "run", &c);
    EXPECT_EQ(line(h, ">anything"), "no handler was found for action line");
    orvAddActionHandler(h, Calls::run, nullptr, &c);
    orvAddActionHandler(h, Calls::other, nullptr, &c);
    orvAddActionHandler(h, Calls::run, "", &c);
    EXPECT_EQ(load(h, {">> run  a b ", ">run", ">Run x", ">", "&replace >run q"}), "");
    EXPECT_EQ(c.log, (std::vector<std::string>{"run:run[a b]", "run:run()", "default:Run", "run:()",
                                               "default:&replace"}));
    EXPECT_EQ(line(h, ">fail"), "");  // the default takes it
    orvAddActionHandler(h, Calls::run, "fail", &c);
    EXPECT_EQ(line(h, ">fail now"), "action invocation returned with error status");
}

TEST(OrvErrors, FormatterAndPoison)
{
    char* m = orvFormatMessage("%x and %s, %d%c %% 50%", 5, "t", -12, 'q');
    EXPECT_STREQ(m, "%x and t, -12q % 50%");
    free(m);
    std::string big(1 << 20, 'z');
    m = orvFormatMessage("near \"%s\"", big.c_str());
    EXPECT_EQ(std::strlen(m), big.size() + 7);
    free(m);
    m = orvFormatMessage("plain");
    EXPECT_STREQ(m, "plain");
    free(m);

    char shortText[] = "short";
    orv::poison(shortText);
    EXPECT_STREQ(shortText, "USE O");
    std::string longText(120, 'x');
    orv::poison(&longText[0]);
    EXPECT_STREQ(longText.c_str(),
                 "USE OF FREED MEMORY.  This string belongs to a orvapilt handle which has been destroyed.");
    EXPECT_EQ(longText[119], '\0');

    // The slot keeps the latest message only.
    Handle h;
    const char* first = orvCheckParamName(h, "1a");
    std::string firstCopy = first;
    const char* second = orvCheckParamName(h, "2b");
    EXPECT_STRNE(firstCopy.c_str(), second);
    EXPECT_STREQ(second, "invalid parameter name \"2b\": leading character must be alphabetic or '_'");
}

TEST(OrvDebug, TracesWhenTheVariableIsSet)
{
    vrntest::ChildOptions opts;
    opts.env.push_back({"KWX_ORVAPI_DEBUG", std::string()});
    uintptr_t address = 0;
    auto r = vrntest::runInChild(
        [&] {
            OrvHandle* h = orvCreateHandle();
            std::string err = load(h, {"A: x", "k = 1", "END", "k2 = \x02"});
            orvDestroyHandle(h);
            return err.empty() ? 1 : 0;
        },
        opts);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    ASSERT_EQ(std::sscanf(r.out.c_str(), "%" SCNxPTR, &address), 1) << r.out;
    char a[32];
    std::snprintf(a, sizeof a, "%" PRIxPTR, address);
    std::string s(a);
    EXPECT_EQ(r.out, s + ": *** created ***\n" + s + ": /A:x: object created\n" + s +
                         ": /A:x/k: 1 <- (nul)\n" + s +
                         ": ORV ERROR: invalid parameter value \"\x02\": control character number 2 is not "
                         "allowed.\n" +
                         s + ": *** destroyed ***\n");
    // Unset, nothing is printed.
    auto quiet = vrntest::runInChild([] {
        OrvHandle* h = orvCreateHandle();
        load(h, {"A: x", "END", "bad"});
        orvDestroyHandle(h);
        return 0;
    });
    EXPECT_EQ(quiet.out, "");
}

TEST(OrvHandles, UserDataGoesWithTheHandle)
{
    static int destroyed = 0;
    OrvHandle* h = orvCreateHandle();
    int data = 7;
    orvSetUserDataH(h, &data, [](void* p) { destroyed = *static_cast<int*>(p); });
    EXPECT_EQ(orvGetUserDataH(h), &data);
    EXPECT_EQ(orvDestroyHandle(h), 0);
    EXPECT_EQ(destroyed, 7);
}

namespace {
// On the first removal at a replaced block's END, removes another child the
// END was about to drop and adds a fresh one.
struct EndMeddler {
    OrvHandle* h;
    bool done = false;
    static void on(const char* path, int, const char*, const char*, void* self)
    {
        auto* m = static_cast<EndMeddler*>(self);
        if (m->done || std::string(path) != "/A:x/j")
            return;
        m->done = true;
        deleteObjH(m->h, "/A:x/C:z");
        orvPushPath(m->h, "/A:x");
        orvUpdateObject(m->h, nullptr, "N", "fresh", nullptr, ORV_KIND_OBJECT, 0);
        popPath(m->h);
        popPath(m->h);
    }
};
}  // namespace

TEST(OrvLoad, HandlerChangingTheTreeDuringReplaceEnd)
{
    Handle h;
    ASSERT_EQ(load(h, {"A: x", "j = 1", "C: z", "q = 1", "END", "D: w", "END", "END"}), "");
    EndMeddler m{h};
    orvAddChangeHandler(h, EndMeddler::on, &m);
    ASSERT_EQ(load(h, {"&replace A: x", "END"}), "");
    EXPECT_TRUE(m.done);
    int n = 0;
    char** list = nullptr;
    ASSERT_EQ(getChildObjectList(h, "/A:x", 1, 1, &n, &list), nullptr);
    EXPECT_EQ(take(list), (std::vector<std::string>{"N:fresh"}));
    EXPECT_EQ(current(h), "/");
}

namespace {
// A replace handler that moves the directory stack (many pushes, so that it
// is reallocated) before it reads the path it was given.
struct StackMover {
    OrvHandle* h;
    std::vector<std::string> seen;
    static void on(const char* path, void* self)
    {
        auto* m = static_cast<StackMover*>(self);
        for (int i = 0; i < 64; ++i)
            orvPushPath(m->h, "/elsewhere");
        m->seen.push_back(path);
        for (int i = 0; i < 64; ++i)
            popPath(m->h);
    }
};

// A change handler that closes the open blocks itself, from inside the
// removals of a replaced block's END.
struct BlockCloser {
    OrvHandle* h;
    bool done = false;
    static void on(const char*, int, const char*, const char*, void* self)
    {
        auto* m = static_cast<BlockCloser*>(self);
        if (m->done)
            return;
        m->done = true;
        parseORVLineH(m->h, "END", 0);
        parseORVLineH(m->h, "END", 0);
    }
};
}  // namespace

TEST(OrvHandlers, ReplaceHandlerMovingTheStackKeepsItsPath)
{
    Handle h;
    StackMover m{h, {}};
    ASSERT_EQ(orvAddReplaceHandler(h, StackMover::on, &m), nullptr);
    ASSERT_EQ(load(h, {"&replace A: x", "&replace k = 1", "END"}), "");
    EXPECT_EQ(m.seen, (std::vector<std::string>{"/A:x", "/A:x"}));
}

TEST(OrvHandlers, HandlerClosingBlocksDuringReplaceEndLeavesDepthSound)
{
    Handle h;
    ASSERT_EQ(load(h, {"A: x", "B: y", "j = 1", "END", "END"}), "");
    BlockCloser c{h};
    orvAddChangeHandler(h, BlockCloser::on, &c);
    EXPECT_EQ(line(h, "&replace A: x"), "");
    EXPECT_EQ(line(h, "&replace B: y"), "");
    EXPECT_EQ(line(h, "END"), "");  // drops j; the handler closes both blocks
    EXPECT_TRUE(c.done);
    EXPECT_EQ(blockDepth(h), 0);
    EXPECT_EQ(line(h, "END"), "parseORVLineH: unmatched END");
    EXPECT_EQ(current(h), "/");
}

namespace {
// What each released error text held when it was released, read over the
// length the text had while it was live.
struct ReleaseLog {
    static size_t liveLength;
    static std::vector<std::string> seen;
    static void release(void* text)
    {
        if (text)
            seen.emplace_back(static_cast<const char*>(text), liveLength);
        std::free(text);
    }
    void (*const before)(void*) = orv::releaseErrorText;
    ReleaseLog() { orv::releaseErrorText = release; }
    ~ReleaseLog() { orv::releaseErrorText = before; }
};
size_t ReleaseLog::liveLength = 0;
std::vector<std::string> ReleaseLog::seen;
}  // namespace

TEST(OrvErrors, ReplacedAndDestroyedTextsReadAsTheNoticeWhenReleased)
{
    const std::string notice =
        "USE OF FREED MEMORY.  This string belongs to a orvapilt handle which has been destroyed.";
    ReleaseLog log;
    {
        Handle h;
        // Shorter than the notice: replaced by the next error, it reads as
        // the notice cut to its length.
        const char* shortText = orvCheckParamName(h, "1a");
        ReleaseLog::liveLength = std::strlen(shortText);
        ASSERT_LT(ReleaseLog::liveLength, notice.size());
        std::string longName(200, 'n');
        longName += '-';
        const char* longText = orvCheckParamName(h, longName.c_str());
        ASSERT_EQ(ReleaseLog::seen.size(), 1u);
        EXPECT_EQ(ReleaseLog::seen[0], notice.substr(0, ReleaseLog::liveLength));
        // Longer than the notice, released with the handle: the notice, then
        // NUL bytes to its old end.
        ReleaseLog::liveLength = std::strlen(longText);
    }
    ASSERT_EQ(ReleaseLog::seen.size(), 2u);
    EXPECT_EQ(ReleaseLog::seen[1], notice + std::string(ReleaseLog::liveLength - notice.size(), '\0'));
}

TEST(OrvDebug, ChangePrinterLinesForEveryCode)
{
    void* handle = reinterpret_cast<void*>(uintptr_t(0xabc123));
    testing::internal::CaptureStdout();
    orvDebugChangePrinter("/A:x/k", ORV_CHANGE_VALUE, "2", nullptr, handle);
    orvDebugChangePrinter("/A:x/k", ORV_CHANGE_VALUE, nullptr, "2", handle);
    orvDebugChangePrinter("/A:x", ORV_CHANGE_CREATED, nullptr, nullptr, handle);
    orvDebugChangePrinter("/A:x", ORV_CHANGE_DELETED, nullptr, nullptr, handle);
    orvDebugChangePrinter("/A:x", 7, nullptr, nullptr, handle);
    orvDebugChangePrinter("/A:x", -1, nullptr, nullptr, handle);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "abc123: /A:x/k: 2 <- (nul)\n"
              "abc123: /A:x/k: (nul) <- 2\n"
              "abc123: /A:x: object created\n"
              "abc123: /A:x: object deleted\n"
              "*** Unknown change code 7\n"
              "*** Unknown change code -1\n");
}

namespace {
std::string parseWith(OrvHandle* h, std::vector<std::string> lines, uint32_t flags)
{
    std::vector<char*> ptrs;
    for (auto& l : lines)
        ptrs.push_back(&l[0]);
    OrvArray view{ORV_ARRAY_STRINGS, static_cast<int>(ptrs.size()), static_cast<int>(ptrs.size()), 0,
                  ptrs.data()};
    const char* err = parseORVData(h, &view, flags, nullptr, nullptr);
    return err ? err : "";
}
}  // namespace

TEST(OrvLoad, ParameterLinesTakeTheFlagsOfTheirBlock)
{
    Handle h;
    // The block was opened under the first validity bit; the parameter line
    // comes later with a word of 0 and still takes the block's word.
    ASSERT_EQ(parseORVLineH(h, "A: x", ORV_FLAG_VALID1), nullptr);
    ASSERT_EQ(parseORVLineH(h, "k = 1", 0), nullptr);
    ASSERT_EQ(parseORVLineH(h, "END", 0), nullptr);
    EXPECT_EQ(getValidH(h, "/A:x/k"), 1);
    // Under a replace directive the block's word also holds the replace
    // mark, which is not a plain validity word: the bit is cleared.
    ASSERT_EQ(parseWith(h, {"&replace B: y", "j = 1", "END"}, ORV_FLAG_VALID1), "");
    EXPECT_EQ(getValidH(h, "/B:y/j"), 0);
    // At the top level the caller's word is the level's word.
    ASSERT_EQ(parseWith(h, {"top = 1"}, ORV_FLAG_VALID2), "");
    EXPECT_EQ(getValidH(h, "/top"), 2);
}

TEST(OrvLoad, ReplacedBlockLosesItsOwnMarkAtEnd)
{
    Handle h;
    ASSERT_EQ(load(h, {"P: p", "A: x", "END", "B: y", "END", "END"}), "");
    // A:x is replaced inside a plain block: at its END it must be left
    // unmarked, like any node the block did not repeat...
    ASSERT_EQ(load(h, {"P: p", "&replace A: x", "END", "END"}), "");
    EXPECT_TRUE(orvPathExistsH(h, "/P:p/A:x"));
    // ...so that replacing P:p without it drops it.
    ASSERT_EQ(load(h, {"&replace P: p", "B: y", "END", "END"}), "");
    EXPECT_FALSE(orvPathExistsH(h, "/P:p/A:x"));
    EXPECT_TRUE(orvPathExistsH(h, "/P:p/B:y"));
    // Nested in a replaced block it keeps the mark until the outer END,
    // which keeps it as repeated.
    ASSERT_EQ(load(h, {"&replace P: p", "&replace B: y", "END", "END"}), "");
    EXPECT_TRUE(orvPathExistsH(h, "/P:p/B:y"));
    // And no mark is left anywhere after it.
    OrvArray* marked = orvArrayCreate(ORV_ARRAY_STRINGS);
    ASSERT_EQ(getPartialORVH(h, "P", 1, "/", marked, ORV_FLAG_REPLACE, 0), nullptr);
    ASSERT_EQ(getPartialORVH(h, "B", 1, "/P:p", marked, ORV_FLAG_REPLACE, 0), nullptr);
    EXPECT_EQ(orvArrayCount(marked), 0);
    orvArrayDestroy(marked);
}
