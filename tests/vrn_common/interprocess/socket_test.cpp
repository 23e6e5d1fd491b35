// Socket records over loopback.
#include <string.h>

#include <string>

#include <gtest/gtest.h>

#include "interprocess/socket.h"
#include "test_support.h"

TEST(Socket, ServerOnPortZeroAcceptsAClientAndBothTalk) {
    const int before = vrntest::openDescriptorCount();
    Socket* server = Socket_newServer(VRN_PF_INET, "127.0.0.1", 0, 5);
    ASSERT_NE(nullptr, server);
    EXPECT_EQ(0, server->status);
    EXPECT_EQ(5, server->backlog);
    const int port = Socket_getPort(server);
    EXPECT_GT(port, 0);
    Socket* client = Socket_newClient(VRN_PF_INET, "localhost", port);
    ASSERT_NE(nullptr, client);
    EXPECT_EQ(1, client->connected);
    Socket* accepted = Socket_clone(server);
    ASSERT_NE(nullptr, accepted);
    EXPECT_EQ(1, accepted->connected);
    EXPECT_EQ(-999, accepted->backlog);
    EXPECT_NE(server->descriptor, accepted->descriptor);

    EXPECT_EQ(4, Socket_send(client, "ping", 4, 0));
    char buf[8] = {};
    EXPECT_EQ(4, Socket_recv(accepted, buf, sizeof buf - 1, 0));
    EXPECT_STREQ("ping", buf);
    EXPECT_EQ(4, Socket_send(accepted, "pong", 4, 0));
    memset(buf, 0, sizeof buf);
    EXPECT_EQ(4, Socket_recv(client, buf, sizeof buf - 1, 0));
    EXPECT_STREQ("pong", buf);

    Socket_delete(accepted);
    // The peer has gone: sends fail in the end, and never kill the process.
    long r = 0;
    for (int i = 0; i < 100 && r >= 0; ++i) r = Socket_send(client, "x", 1, 0);
    EXPECT_EQ(-1, r);
    Socket_delete(client);
    Socket_delete(server);
    EXPECT_EQ(before, vrntest::openDescriptorCount());
}

TEST(Socket, FailedConnectIsNotMarkedConnected) {
    auto r = vrntest::runInChild([] {
        // A port that was free a moment ago and has no listener now.
        Socket* probe = Socket_newServer(VRN_PF_INET, "127.0.0.1", 0, 1);
        int port = Socket_getPort(probe);
        Socket_delete(probe);
        Socket* client = Socket_newClient(VRN_PF_INET, "127.0.0.1", port);
        int ok = client && client->connected == 0 && client->status == -1;
        Socket_delete(client);
        return ok ? 0 : 1;
    });
    EXPECT_EQ(0, r.exitStatus);
    EXPECT_EQ(0u, r.err.find("connect: "));
}

TEST(Socket, UnknownHostReportsTheLookupAndTheBindFails) {
    auto r = vrntest::runInChild([] {
        Socket* s = Socket_newPeer(VRN_PF_INET, VRN_SOCK_DGRAM, "no-such-host.invalid", 0);
        int ok = s && s->localLength == -1 && s->status == -1;
        Socket_delete(s);
        return ok ? 0 : 1;
    });
    EXPECT_EQ(0, r.exitStatus);
    EXPECT_NE(std::string::npos, r.err.find("gethostbyname: "));
    EXPECT_NE(std::string::npos, r.err.find("bind or getsockname: "));
}

TEST(Socket, UnixDomainWorksAndOtherFamiliesAreRefusedWithoutEndingTheProcess) {
    vrntest::TempDir dir{vrntest::ShortPath{}};
    std::string path = dir.file("sock");
    Socket* server = Socket_newServer(VRN_PF_UNIX, path.c_str(), 0, 1);
    ASSERT_NE(nullptr, server);
    EXPECT_EQ(0, server->status);
    EXPECT_EQ(-1, Socket_getPort(server));
    Socket* client = Socket_newClient(VRN_PF_UNIX, path.c_str(), 0);
    EXPECT_EQ(1, client->connected);
    Socket* accepted = Socket_clone(server);
    ASSERT_NE(nullptr, accepted);
    EXPECT_EQ(2, Socket_send(client, "hi", 2, 0));
    char buf[4] = {};
    EXPECT_EQ(2, Socket_recv(accepted, buf, 3, 0));
    EXPECT_STREQ("hi", buf);
    Socket_delete(accepted);
    Socket_delete(client);
    Socket_delete(server);

    auto r = vrntest::runInChild([] { return Socket_new(7, VRN_SOCK_STREAM) == nullptr ? 0 : 1; });
    EXPECT_EQ(0, r.exitStatus);
    EXPECT_EQ(0u, r.err.find("Socket_new: "));
}

TEST(Socket, AcceptOnASocketThatDoesNotListenFails) {
    auto r = vrntest::runInChild([] {
        Socket* s = Socket_newPeer(VRN_PF_INET, VRN_SOCK_STREAM, "127.0.0.1", 0);
        Socket* c = Socket_clone(s);
        Socket_delete(s);
        return c == nullptr ? 0 : 1;
    });
    EXPECT_EQ(0, r.exitStatus);
    EXPECT_NE(std::string::npos, r.err.find("Socket_accept: "));
}

TEST(Socket, DatagramPeersTalkOnceEachNamesTheOther) {
    vrntest::TempDir dir{vrntest::ShortPath{}};
    const int before = vrntest::openDescriptorCount();
    for (int family : {VRN_PF_INET, VRN_PF_UNIX}) {
        SCOPED_TRACE(family);
        const bool inet = family == VRN_PF_INET;
        const std::string pathA = dir.file("a" + std::to_string(family));
        const std::string pathB = dir.file("b" + std::to_string(family));
        Socket* a = Socket_newPeer(family, VRN_SOCK_DGRAM, inet ? "127.0.0.1" : pathA.c_str(), 0);
        Socket* b = Socket_newPeer(family, VRN_SOCK_DGRAM, inet ? "127.0.0.1" : pathB.c_str(), 0);
        ASSERT_NE(nullptr, a);
        ASSERT_NE(nullptr, b);
        EXPECT_EQ(0, a->status);
        EXPECT_EQ(0, b->status);
        EXPECT_EQ(0, a->connected);
        ASSERT_EQ(0, Socket_connect(a, inet ? "127.0.0.1" : pathB.c_str(), Socket_getPort(b)));
        ASSERT_EQ(0, Socket_connect(b, inet ? "127.0.0.1" : pathA.c_str(), Socket_getPort(a)));
        EXPECT_EQ(1, a->connected);
        EXPECT_EQ(5, Socket_send(a, "hello", 5, 0));
        char buf[8] = {};
        EXPECT_EQ(5, Socket_recv(b, buf, sizeof buf - 1, 0));
        EXPECT_STREQ("hello", buf);
        EXPECT_EQ(3, Socket_send(b, "bye", 3, 0));
        memset(buf, 0, sizeof buf);
        EXPECT_EQ(3, Socket_recv(a, buf, sizeof buf - 1, 0));
        EXPECT_STREQ("bye", buf);
        Socket_delete(a);
        Socket_delete(b);
    }
    EXPECT_EQ(before, vrntest::openDescriptorCount());
}
