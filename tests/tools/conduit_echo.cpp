// A child program for conduit tests: it opens the channel that its
// "-conduit ..." arguments describe (or uses standard input and output when
// there are none), answers every line it reads with "echo: " and the line,
// and ends at the end of its input or at the line "quit".
//
//   -conduit pipe R.W                     read descriptor R, write descriptor W
//   -conduit socket mode=client domain=inet port=P     connect to 127.0.0.1:P
//   -conduit socket mode=client domain=unix path=F     connect to F
//   -conduit socket mode=server domain=inet port=P name=F
//        listen on 127.0.0.1:P (0: any free port), write "port = N\n" to F,
//        accept one connection
//   -conduit socket mode=server domain=unix path=F name=N  listen on F
//
// ECHO_GREETING=text writes text first, before reading anything.
// ECHO_LISTEN_DELAY_MS=n waits n milliseconds between binding a unix socket
// (its file appears) and listening on it.
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <map>
#include <sstream>
#include <string>

namespace {

[[noreturn]] void fail(const char* what) {
    fprintf(stderr, "conduit_echo: %s: %s\n", what, strerror(errno));
    exit(3);
}

void writeAll(int fd, const std::string& s) {
    size_t done = 0;
    while (done < s.size()) {
        ssize_t w = write(fd, s.data() + done, s.size() - done);
        if (w < 0) {
            if (errno == EINTR) continue;
            fail("write");
        }
        done += static_cast<size_t>(w);
    }
}

int connectTo(const std::map<std::string, std::string>& kv) {
    if (kv.at("domain") == "unix") {
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        strncpy(a.sun_path, kv.at("path").c_str(), sizeof a.sun_path - 1);
        if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0) fail("connect");
        return fd;
    }
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<unsigned short>(atoi(kv.at("port").c_str())));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0) fail("connect");
    return fd;
}

int serve(const std::map<std::string, std::string>& kv) {
    int fd;
    if (kv.at("domain") == "unix") {
        fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        strncpy(a.sun_path, kv.at("path").c_str(), sizeof a.sun_path - 1);
        if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0) fail("bind");
        if (const char* d = getenv("ECHO_LISTEN_DELAY_MS")) usleep(static_cast<useconds_t>(atoi(d)) * 1000);
        if (listen(fd, 1) < 0) fail("listen");
    } else {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<unsigned short>(atoi(kv.at("port").c_str())));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0) fail("bind");
        if (listen(fd, 1) < 0) fail("listen");
        socklen_t len = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        // Write the port file under another name first, so that the parent
        // never reads it half written.
        std::string name = kv.at("name");
        std::string tmp = name + ".tmp";
        FILE* f = fopen(tmp.c_str(), "w");
        if (!f) fail("port file");
        fprintf(f, "port = %d\n", ntohs(a.sin_port));
        fclose(f);
        rename(tmp.c_str(), name.c_str());
    }
    int c = accept(fd, nullptr, nullptr);
    if (c < 0) fail("accept");
    close(fd);
    return c;
}

}  // namespace

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);
    int in = 0, out = 1;
    std::string conduitType;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "-conduit") == 0) {
            for (int j = i + 1; j < argc; ++j) conduitType += std::string(argv[j]) + " ";
            break;
        }
    }
    if (!conduitType.empty()) {
        std::istringstream words(conduitType);
        std::string kind;
        words >> kind;
        if (kind == "pipe") {
            std::string rw;
            words >> rw;
            if (sscanf(rw.c_str(), "%d.%d", &in, &out) != 2) {
                fprintf(stderr, "conduit_echo: bad pipe argument %s\n", rw.c_str());
                return 2;
            }
        } else if (kind == "socket") {
            std::map<std::string, std::string> kv;
            std::string w;
            while (words >> w) {
                size_t eq = w.find('=');
                if (eq != std::string::npos) kv[w.substr(0, eq)] = w.substr(eq + 1);
            }
            in = out = kv["mode"] == "server" ? serve(kv) : connectTo(kv);
        } else {
            fprintf(stderr, "conduit_echo: unknown conduit %s\n", kind.c_str());
            return 2;
        }
    }
    if (const char* g = getenv("ECHO_GREETING")) writeAll(out, g);

    std::string pending;
    char buf[4096];
    for (;;) {
        ssize_t n = read(in, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        pending.append(buf, static_cast<size_t>(n));
        size_t nl;
        while ((nl = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, nl);
            pending.erase(0, nl + 1);
            if (line == "quit") return 0;
            writeAll(out, "echo: " + line + "\n");
        }
    }
    return 0;
}
