// BSD sockets: close-on-exec descriptors, EINTR retried, no SIGPIPE.
#include "vrn_platform.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

extern "C" {

namespace {

sockaddr_in toSockaddr(const vrnInetAddress* a) {
    sockaddr_in s;
    memset(&s, 0, sizeof s);
    s.sin_family = AF_INET;
    s.sin_port = a->port;
    s.sin_addr.s_addr = a->address;
    return s;
}

bool toUnix(const vrnPathAddress* a, sockaddr_un* s) {
    memset(s, 0, sizeof *s);
    s->sun_family = AF_UNIX;
    size_t len = strnlen(a->path, sizeof a->path);
    if (len == 0 || len >= sizeof s->sun_path) {
        errno = ENAMETOOLONG;
        return false;
    }
    memcpy(s->sun_path, a->path, len);
    return true;
}

}  // namespace

int vrnPlatform_socket(int family, int type) {
    int domain;
    if (family == VRN_SOCKET_INET) domain = AF_INET;
    else if (family == VRN_SOCKET_UNIX) domain = AF_UNIX;
    else {
        errno = EAFNOSUPPORT;
        return -1;
    }
    int kind = type == VRN_SOCKET_DATAGRAM ? SOCK_DGRAM : SOCK_STREAM;
    return socket(domain, kind | SOCK_CLOEXEC, 0);
}

int vrnPlatform_resolveHost(const char* host, unsigned int* address) {
    if (!host) {
        *address = htonl(INADDR_ANY);
        return 0;
    }
    in_addr dotted;
    if (inet_pton(AF_INET, host, &dotted) == 1) {
        *address = dotted.s_addr;
        return 0;
    }
    addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    int r = getaddrinfo(host, nullptr, &hints, &found);
    if (r != 0 || !found) {
        errno = r == EAI_SYSTEM ? errno : ENOENT;
        return -1;
    }
    *address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(found);
    return 0;
}

unsigned short vrnPlatform_htons(unsigned short v) { return htons(v); }
unsigned short vrnPlatform_ntohs(unsigned short v) { return ntohs(v); }

int vrnPlatform_bindInet(int fd, vrnInetAddress* address) {
    sockaddr_in s = toSockaddr(address);
    return bind(fd, reinterpret_cast<sockaddr*>(&s), sizeof s);
}

int vrnPlatform_getInetName(int fd, vrnInetAddress* address) {
    sockaddr_in s;
    socklen_t len = sizeof s;
    memset(&s, 0, sizeof s);
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&s), &len) < 0) return -1;
    address->family = VRN_SOCKET_INET;
    address->port = s.sin_port;
    address->address = s.sin_addr.s_addr;
    return 0;
}

int vrnPlatform_bindPath(int fd, const vrnPathAddress* address) {
    sockaddr_un s;
    if (!toUnix(address, &s)) return -1;
    return bind(fd, reinterpret_cast<sockaddr*>(&s), sizeof s);
}

int vrnPlatform_listen(int fd, int backlog) { return listen(fd, backlog); }

int vrnPlatform_accept(int fd) {
    int r;
    do {
        r = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
    } while (r < 0 && errno == EINTR);
    return r;
}

namespace {

// A connect interrupted by a signal goes on in the background; wait for it
// to finish and report its own result.
int finishConnect(int fd, int r) {
    if (r == 0 || errno != EINTR) return r;
    for (;;) {
        pollfd p = {fd, POLLOUT, 0};
        int s = poll(&p, 1, -1);
        if (s < 0 && errno == EINTR) continue;
        if (s < 0) return -1;
        int err = 0;
        socklen_t len = sizeof err;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0) return -1;
        if (err) {
            errno = err;
            return -1;
        }
        return 0;
    }
}

}  // namespace

int vrnPlatform_connectInet(int fd, const vrnInetAddress* address) {
    sockaddr_in s = toSockaddr(address);
    return finishConnect(fd, connect(fd, reinterpret_cast<sockaddr*>(&s), sizeof s));
}

int vrnPlatform_connectPath(int fd, const vrnPathAddress* address) {
    sockaddr_un s;
    if (!toUnix(address, &s)) return -1;
    return finishConnect(fd, connect(fd, reinterpret_cast<sockaddr*>(&s), sizeof s));
}

long vrnPlatform_send(int fd, const void* buffer, size_t n, int flags) {
    ssize_t r;
    do {
        r = send(fd, buffer, n, flags | MSG_NOSIGNAL);
    } while (r < 0 && errno == EINTR);
    return static_cast<long>(r);
}

long vrnPlatform_recv(int fd, void* buffer, size_t n, int flags) {
    ssize_t r;
    do {
        r = recv(fd, buffer, n, flags);
    } while (r < 0 && errno == EINTR);
    return static_cast<long>(r);
}

int vrnPlatform_shutdown(int fd, int how) { return shutdown(fd, how); }

int vrnPlatform_removeSocketFile(const char* path) {
    if (!path) return -1;
    // Only a socket: a path that named someone's file when the bind failed
    // must not be deleted with the conduit.
    struct stat st;
    if (lstat(path, &st) < 0) return -1;
    if (!S_ISSOCK(st.st_mode)) {
        errno = EINVAL;
        return -1;
    }
    return unlink(path);
}

}  // extern "C"
