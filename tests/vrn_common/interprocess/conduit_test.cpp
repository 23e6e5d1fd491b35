// Conduit type strings, line reading, and pipe and socket conduits to a
// child of ours that answers each line.
#include <arpa/inet.h>
#include <errno.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../handed_over.h"
#include "errors/error.h"
#include "errors/error_manager.h"
#include "interprocess/conduit.h"
#include "process/process.h"
#include "support/cstring.h"
#include "support/memory.h"
#include "test_support.h"

namespace {

using commontest::takeErrors;

std::string childArgument(Conduit* c) {
    char* a = Conduit_getChildArgument(c);
    std::string s = a ? a : "<none>";
    vrnCString_free(a);
    return s;
}

// A conduit whose read pipe holds the given bytes and then ends.
Conduit* conduitHolding(const std::string& bytes) {
    Conduit* c = Conduit_newBeforeSpawn("pipe: 1.0");
    EXPECT_EQ(1, c->valid);
    long done = 0;
    while (done < static_cast<long>(bytes.size())) {
        long w = write(c->readPipe->writeFd, bytes.data() + done, bytes.size() - done);
        if (w <= 0) break;
        done += w;
    }
    Pipe_closeWriteEnd(c->readPipe);
    return c;
}

std::vector<std::string> allLines(Conduit* c, std::vector<int>* lengths = nullptr) {
    std::vector<std::string> out;
    char* line = nullptr;
    int size = 0;
    int n;
    while ((n = Conduit_getline(c, &line, &size)) >= 0) {
        out.emplace_back(line, static_cast<size_t>(n));
        if (lengths) lengths->push_back(n);
    }
    if (lengths) lengths->push_back(n);
    vrnFree(line, "test");
    return out;
}

bool noChildLeft() {
    int status;
    return waitpid(-1, &status, WNOHANG) == -1 && errno == ECHILD;
}

}  // namespace

TEST(ConduitType, PipeSettingsAndTheirChildSide) {
    struct Case {
        const char* type;
        int R, W, valid;
        bool argument;  // whether the child gets "-conduit pipe ..."
    };
    for (const Case& c : std::vector<Case>{{"pipe: 1.0", 1, 0, 1, false},
                                           {"pipe", -1, -1, 1, true},
                                           {"pipe 1.", 1, -1, 1, true},
                                           {"pipe:.0", -1, 0, 1, true},
                                           {"pipe 2.0", 2, 0, 0, false},
                                           {nullptr, -1, -1, 1, true},
                                           {"carrier pigeon", -1, -1, 1, true}}) {
        SCOPED_TRACE(c.type ? c.type : "NULL");
        Conduit* k = Conduit_newBeforeSpawn(c.type);
        EXPECT_EQ(VRN_CONDUIT_PIPE, k->type);
        EXPECT_EQ(c.R, k->R);
        EXPECT_EQ(c.W, k->W);
        EXPECT_EQ(c.valid, k->valid);
        std::string arg = childArgument(k);
        ChildStartup s;
        ChildStartup_init(&s);
        Conduit_setChildHandles(k, &s);
        if (!c.valid) {
            EXPECT_EQ(" ", arg);
        } else if (!c.argument) {
            EXPECT_EQ("<none>", arg);
            EXPECT_EQ(k->writePipe->readFd, s.stdInput);
            EXPECT_EQ(k->readPipe->writeFd, s.stdOutput);
            EXPECT_EQ(k->readPipe->writeFd, s.stdError);
            EXPECT_EQ(VRN_STARTF_USESTDHANDLES, s.flags);
        } else {
            // The child reads from the parent's write pipe (or its standard
            // input) and writes to the parent's read pipe (or its output).
            const int r = c.R == -1 && c.W == 0 ? 0 : k->writePipe->readHandle;
            const int w = c.R == 1 && c.W == -1 ? 1 : k->readPipe->writeHandle;
            EXPECT_EQ("-conduit pipe " + std::to_string(r) + "." + std::to_string(w), arg);
        }
        Conduit_delete(k);
    }
    EXPECT_TRUE(takeErrors().empty());
}

TEST(ConduitType, SocketSettingsAndTheirChildArguments) {
    Conduit* k = Conduit_newBeforeSpawn("socket: mode=client, domain=inet, port=7, name=here");
    EXPECT_EQ(1, k->valid);
    EXPECT_EQ(VRN_CONDUIT_SOCKET, k->type);
    EXPECT_EQ(VRN_CONDUIT_CLIENT, k->mode);
    EXPECT_EQ("-conduit socket mode=server domain=inet port=7 name=here", childArgument(k));
    Conduit_delete(k);

    k = Conduit_newBeforeSpawn("socket: mode=server, domain=inet, host=127.0.0.1, port=0, type=stream");
    ASSERT_EQ(1, k->valid);
    EXPECT_GT(k->port, 0);
    EXPECT_EQ("-conduit socket mode=client domain=inet port=" + std::to_string(k->port), childArgument(k));
    Conduit_delete(k);

    k = Conduit_newBeforeSpawn("socket: mode=peer, domain=inet, host=127.0.0.1, type=datagram");
    ASSERT_EQ(1, k->valid);
    EXPECT_EQ(VRN_CONDUIT_DATAGRAM, k->kind);
    EXPECT_EQ("-conduit socket mode=peer domain=inet port=" + std::to_string(k->port), childArgument(k));
    Conduit_delete(k);

    // A unix socket without a path gets one from the conduit's name.
    k = Conduit_newBeforeSpawn("socket: mode=client, unknown=ignored");
    EXPECT_EQ(1, k->valid);
    EXPECT_EQ(std::string(".socket.") + k->name, k->address);
    EXPECT_EQ(0u, std::string(k->name).find("conduit." + std::to_string(getpid()) + "."));
    EXPECT_EQ(std::string("-conduit socket mode=server domain=unix path=") + k->address + " name=" + k->name,
              childArgument(k));
    Conduit* other = Conduit_newBeforeSpawn("socket: mode=client");
    EXPECT_STRNE(k->name, other->name);
    Conduit_delete(other);
    Conduit_delete(k);
    EXPECT_TRUE(takeErrors().empty());
}

// An IPv4 address of this machine other than loopback, or 0 when it has none.
in_addr_t outwardAddress() {
    ifaddrs* all = nullptr;
    if (getifaddrs(&all) != 0) return 0;
    in_addr_t found = 0;
    for (ifaddrs* i = all; i && !found; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
        const in_addr_t a = reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr;
        if ((ntohl(a) >> 24) != 127) found = a;
    }
    freeifaddrs(all);
    return found;
}

TEST(ConduitType, InetServerWithoutHostListensOnLoopbackOnly) {
    Conduit* k = Conduit_newBeforeSpawn("socket: mode=server, domain=inet");
    ASSERT_EQ(1, k->valid);
    EXPECT_EQ(htonl(INADDR_LOOPBACK), k->socket->localInet.address);
    Conduit* peer = Conduit_newBeforeSpawn("socket: mode=peer, domain=inet, type=datagram");
    ASSERT_EQ(1, peer->valid);
    EXPECT_EQ(htonl(INADDR_LOOPBACK), peer->socket->localInet.address);
    Conduit_delete(peer);
    // A host given is kept.
    Conduit* any = Conduit_newBeforeSpawn("socket: mode=server, domain=inet, host=0.0.0.0");
    ASSERT_EQ(1, any->valid);
    EXPECT_EQ(htonl(INADDR_ANY), any->socket->localInet.address);
    Conduit_delete(any);

    const in_addr_t outward = outwardAddress();
    if (outward == 0) {
        Conduit_delete(k);
        GTEST_SKIP() << "this machine has no IPv4 address but loopback: a connection from outside "
                        "cannot be tried";
    }
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_LE(0, fd);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<unsigned short>(k->port));
    to.sin_addr.s_addr = outward;
    errno = 0;
    EXPECT_NE(0, connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to)) << "connected from outside";
    EXPECT_EQ(ECONNREFUSED, errno);
    close(fd);
    Conduit_delete(k);
    EXPECT_TRUE(takeErrors().empty());
}

TEST(ConduitType, RejectedStringsRaiseInvalidInput) {
    for (const char* type : {"pipe x", "pipe 5", "socket: domain=unix, port=5", "socket: domain=ftp",
                             "socket: mode=listen", "socket: type=raw", "socket: host=h",
                             "socket: domain=inet, path=/p", "socket: domain=inet, port=abc",
                             // numbers beyond int are refused, not wrapped round into "1.0"
                             "pipe 4294967297.0", "pipe .4294967296", "pipe 4294967297.",
                             "socket: domain=inet, port=4294967297"}) {
        SCOPED_TRACE(type);
        Conduit* k = Conduit_newBeforeSpawn(type);
        EXPECT_EQ(0, k->valid);
        EXPECT_EQ(" ", childArgument(k));
        EXPECT_EQ(0, Conduit_connectAfterSpawn(k));
        Conduit_delete(k);
        auto errors = takeErrors();
        ASSERT_EQ(1u, errors.size());
        EXPECT_EQ(VRN_U_INVALID_INPUT, errors[0].code);
        EXPECT_EQ(std::string("Invalid conduit type \"") + type + "\".\n", errors[0].message);
    }
    // A port outside 0..65535 is an invalid port, also above the range,
    // where it would have been cut down to another port.
    for (int port : {-1, 65536, 65537}) {
        SCOPED_TRACE(port);
        Conduit* k = Conduit_newBeforeSpawn(("socket: domain=inet, port=" + std::to_string(port)).c_str());
        EXPECT_EQ(0, k->valid);
        Conduit_delete(k);
        auto errors = takeErrors();
        ASSERT_EQ(2u, errors.size());
        EXPECT_EQ(VRN_U_INVALID_PORT_NUMBER, errors[0].code);
        EXPECT_EQ("Port = " + std::to_string(port) + "\n", errors[0].message);
        EXPECT_EQ(VRN_U_INVALID_INPUT, errors[1].code);
    }
}

TEST(ConduitType, AUnixPathNamingAnExistingFileIsNotDeletedWithTheConduit) {
    vrntest::TempDir dir;
    const std::string precious = dir.file("precious.txt");
    vrntest::writeFile(precious, "keep me");
    auto r = vrntest::runInChild([&] {  // the failed bind reports on standard error
        Conduit* k = Conduit_newBeforeSpawn(("socket: mode=server, domain=unix, path=" + precious).c_str());
        const int valid = k->valid;
        Conduit_delete(k);
        return valid;
    });
    EXPECT_EQ(0, r.exitStatus);
    EXPECT_EQ("keep me", vrntest::readFile(precious));
}

TEST(ConduitGetline, LinesEndAtNewlinesAndAtTheEndOfInput) {
    Conduit* c = conduitHolding("a\nbc");
    std::vector<int> lengths;
    EXPECT_EQ((std::vector<std::string>{"a", "bc"}), allLines(c, &lengths));
    EXPECT_EQ((std::vector<int>{1, 2, -1}), lengths);
    Conduit_delete(c);

    c = conduitHolding("\n\r\nx\r\n");
    EXPECT_EQ((std::vector<std::string>{"", "\r", "x\r"}), allLines(c));
    Conduit_delete(c);
}

TEST(ConduitGetline, LongLinesGrowTheCallersBuffer) {
    const std::string big(50000, 'q');
    Conduit* c = conduitHolding(big + "\nnext\n");
    int size = 4;
    char* line = static_cast<char*>(vrnMalloc(size, "test"));
    EXPECT_EQ(50000, Conduit_getline(c, &line, &size));
    EXPECT_GT(size, 50000);
    EXPECT_EQ(big, std::string(line));
    EXPECT_EQ(4, Conduit_getline(c, &line, &size));
    EXPECT_STREQ("next", line);
    EXPECT_EQ(-1, Conduit_getline(c, &line, &size));
    vrnFree(line, "test");
    Conduit_delete(c);
}

TEST(ConduitGetline, EachConduitKeepsItsOwnReadAhead) {
    Conduit* a = conduitHolding("a1\na2\na3\n");
    Conduit* b = conduitHolding("b1\nb2\n");
    char* line = nullptr;
    int size = 0;
    std::string seen;
    for (int i = 0; i < 2; ++i) {
        Conduit_getline(a, &line, &size);
        seen += std::string(line) + ",";
        Conduit_getline(b, &line, &size);
        seen += std::string(line) + ",";
    }
    EXPECT_EQ("a1,b1,a2,b2,", seen);
    vrnFree(line, "test");
    Conduit_delete(a);
    Conduit_delete(b);
}

namespace {

// Starts the echo child over a conduit of the type, sends two lines, and
// returns what came back.
std::string talkToEcho(const std::string& type) {
    Command* command = Command_new(nullptr, VRN_TEST_ECHO, VRN_COMMAND_AS_GIVEN);
    Conduit* conduit = nullptr;
    Process* p = Process_new(command, type.c_str(), &conduit);
    EXPECT_NE(nullptr, p);
    if (!p) {
        Command_delete(command);
        return "<no start>";
    }
    EXPECT_EQ(1, conduit->valid);
    EXPECT_EQ(1, Conduit_printf(conduit, "%s %d\n", "hello", 1));
    EXPECT_EQ(1, Conduit_write(conduit, "second\nquit\n", 12));
    std::string got;
    char* line = nullptr;
    int size = 0;
    while (Conduit_getline(conduit, &line, &size) >= 0) got += std::string(line) + "|";
    vrnFree(line, "test");
    EXPECT_EQ(1, Process_wait(p));
    EXPECT_EQ(0, p->status);
    Conduit_delete(conduit);
    Process_delete(p);
    Command_delete(command);
    return got;
}

}  // namespace

TEST(ConduitToChild, PipeConduitsBothWays) {
    talkToEcho("pipe: 1.0");  // the first start makes the process-wide singletons
    const int before = vrntest::openDescriptorCount();
    EXPECT_EQ("echo: hello 1|echo: second|", talkToEcho("pipe: 1.0"));
    EXPECT_EQ("echo: hello 1|echo: second|", talkToEcho("pipe"));
    EXPECT_EQ(before, vrntest::openDescriptorCount());
    EXPECT_TRUE(noChildLeft());
    EXPECT_TRUE(takeErrors().empty());
}

TEST(ConduitToChild, SocketConduitsBothWaysInBothDomains) {
    vrntest::TempDir dir{vrntest::ShortPath{}};
    talkToEcho("pipe: 1.0");
    const int before = vrntest::openDescriptorCount();
    // The parent listens and the child connects.
    EXPECT_EQ("echo: hello 1|echo: second|",
              talkToEcho("socket: mode=server, domain=inet, host=127.0.0.1, port=0"));
    EXPECT_EQ("echo: hello 1|echo: second|",
              talkToEcho("socket: mode=server, domain=unix, path=" + dir.file("s1")));
    // The child listens and publishes its port; the parent connects.
    const std::string portFile = dir.file("portfile");
    EXPECT_EQ("echo: hello 1|echo: second|",
              talkToEcho("socket: mode=client, domain=inet, host=127.0.0.1, name=" + portFile));
    EXPECT_FALSE(vrntest::readFile(portFile).size());  // removed once read
    EXPECT_EQ("echo: hello 1|echo: second|",
              talkToEcho("socket: mode=client, domain=unix, path=" + dir.file("s2")));
    EXPECT_EQ(before, vrntest::openDescriptorCount());
    EXPECT_TRUE(noChildLeft());
    // Deleting a unix conduit removes its socket file.
    EXPECT_NE(0, access(dir.file("s1").c_str(), F_OK));
    EXPECT_NE(0, access(dir.file("s2").c_str(), F_OK));
    EXPECT_TRUE(takeErrors().empty());
}

TEST(ConduitToChild, AChildWritingOnlyToTheDescriptorItsArgumentNames) {
    // "pipe:.0": the child's output goes to the parent's read pipe and its
    // argument names that pipe's write descriptor, which it must hold.
    setenv("ECHO_GREETING", "hello\n", 1);
    Command* command = Command_new(nullptr, VRN_TEST_ECHO, VRN_COMMAND_AS_GIVEN);
    Conduit* conduit = nullptr;
    Process* p = Process_new(command, "pipe:.0", &conduit);
    ASSERT_NE(nullptr, p);
    EXPECT_EQ("-conduit pipe 0." + std::to_string(conduit->readPipe->writeHandle), childArgument(conduit));
    EXPECT_EQ((std::vector<std::string>{"hello"}), allLines(conduit));
    EXPECT_EQ(1, Process_wait(p));
    EXPECT_EQ(0, p->status);
    Conduit_delete(conduit);
    Process_delete(p);
    Command_delete(command);
    unsetenv("ECHO_GREETING");
}

TEST(ConduitToChild, UnixClientConnectsOnceTheChildListensNotWhenItsFileAppears) {
    vrntest::TempDir dir{vrntest::ShortPath{}};
    setenv("ECHO_LISTEN_DELAY_MS", "100", 1);
    Command* command = Command_new(nullptr, VRN_TEST_ECHO, VRN_COMMAND_AS_GIVEN);
    Conduit* conduit = nullptr;
    const std::string type = "socket: mode=client, domain=unix, path=" + dir.file("late");
    Process* p = Process_new(command, type.c_str(), &conduit);
    ASSERT_NE(nullptr, p);
    const bool connected = conduit->socket && conduit->socket->connected == 1;
    EXPECT_TRUE(connected);
    if (connected) {
        EXPECT_EQ(1, Conduit_printf(conduit, "%s\n", "late"));
        char* line = nullptr;
        int size = 0;
        EXPECT_EQ(10, Conduit_getline(conduit, &line, &size));
        EXPECT_STREQ("echo: late", line);
        vrnFree(line, "test");
    } else {
        kill(p->pid, SIGKILL);  // it would wait for a connection for ever
    }
    Conduit_delete(conduit);  // the child sees the end of its input
    Process_wait(p);
    Process_delete(p);
    Command_delete(command);
    unsetenv("ECHO_LISTEN_DELAY_MS");
    EXPECT_TRUE(noChildLeft());
}

TEST(ConduitToChild, WritingToAChildThatHasGoneFailsWithoutSignal) {
    Command* command = Command_new(nullptr, VRN_TEST_READER, VRN_COMMAND_AS_GIVEN);
    Conduit* conduit = nullptr;
    Process* p = Process_new(command, "pipe: 1.0", &conduit);
    ASSERT_NE(nullptr, p);
    Process_wait(p);  // the reader ends without reading its input
    const std::string chunk(65536, 'x');
    int ok = 1;
    for (int i = 0; i < 4 && ok; ++i) ok = Conduit_write(conduit, chunk.data(), static_cast<int>(chunk.size()));
    EXPECT_EQ(0, ok);
    EXPECT_EQ(EPIPE, conduit->writePipe->lastError);
    Conduit_delete(conduit);
    Process_delete(p);
    Command_delete(command);
}
