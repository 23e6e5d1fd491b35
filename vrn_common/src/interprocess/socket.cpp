#include "interprocess/socket.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "support/memory.h"

namespace {

bool g_started = false;

void report(Socket* s, int result, const char* what) {
    if (s) s->status = result;
    if (result < 0) {
        const int saved = errno;  // callers may look at why it failed
        perror(what);
        errno = saved;
    }
}

}  // namespace

extern "C" {

/* There is no sockets layer to start on POSIX; the call stays so that the
 * first socket of the process is where the layer would be set up. */
int Socket_startup(void) {
    g_started = true;
    return 1;
}

Socket* Socket_new(int family, int type) {
    Socket_startup();
    if (family != VRN_PF_INET && family != VRN_PF_UNIX) {
        errno = EAFNOSUPPORT;
        perror("Socket_new");
        return nullptr;
    }
    auto* s = static_cast<Socket*>(vrnCalloc(sizeof(Socket), 0, "Socket_new"));
    s->family = family;
    s->type = type == VRN_SOCK_DGRAM ? VRN_SOCK_DGRAM : VRN_SOCK_STREAM;
    s->backlog = -999;
    s->descriptor = vrnPlatform_socket(family == VRN_PF_INET ? VRN_SOCKET_INET : VRN_SOCKET_UNIX,
                                       s->type == VRN_SOCK_DGRAM ? VRN_SOCKET_DATAGRAM
                                                                 : VRN_SOCKET_STREAM);
    report(s, s->descriptor < 0 ? -1 : 0, "Socket_new");
    return s;
}

int Socket_setAddress(Socket* s, const char* host, int port, int which) {
    if (!s) return 0;
    int* length = which ? &s->peerLength : &s->localLength;
    if (s->family == VRN_PF_UNIX) {
        vrnPathAddress* a = which ? &s->peerPath : &s->localPath;
        memset(a, 0, sizeof *a);
        a->family = VRN_SOCKET_UNIX;
        if (!host || !*host || strlen(host) >= sizeof a->path) {
            errno = ENAMETOOLONG;
            perror("Socket_setAddress");
            *length = -1;
            return 0;
        }
        memcpy(a->path, host, strlen(host) + 1);
        *length = static_cast<int>(sizeof *a);
        return 1;
    }
    vrnInetAddress* a = which ? &s->peerInet : &s->localInet;
    memset(a, 0, sizeof *a);
    a->family = VRN_SOCKET_INET;
    a->port = vrnPlatform_htons(static_cast<unsigned short>(port));
    if (vrnPlatform_resolveHost(host, &a->address) < 0) {
        perror("gethostbyname");
        *length = -1;
        return 0;
    }
    *length = static_cast<int>(sizeof *a);
    return 1;
}

int Socket_bind(Socket* s, const char* host, int port) {
    if (!s) return 0;
    int r = -1;
    if (Socket_setAddress(s, host, port, 0) && s->descriptor >= 0) {
        if (s->family == VRN_PF_UNIX) {
            r = vrnPlatform_bindPath(s->descriptor, &s->localPath);
        } else {
            r = vrnPlatform_bindInet(s->descriptor, &s->localInet);
            if (r == 0) r = vrnPlatform_getInetName(s->descriptor, &s->localInet);
        }
    } else if (s->descriptor < 0) {
        errno = EBADF;
    }
    report(s, r, "bind or getsockname");
    return r == 0 ? 1 : 0;
}

int Socket_listen(Socket* s, int backlog) {
    if (!s) return 0;
    s->backlog = backlog;
    int r = s->descriptor < 0 ? (errno = EBADF, -1) : vrnPlatform_listen(s->descriptor, backlog);
    report(s, r, "listen");
    return r == 0 ? 1 : 0;
}

int Socket_getPort(Socket* s) {
    if (!s || s->family != VRN_PF_INET) return -1;
    return vrnPlatform_ntohs(s->localInet.port);
}

Socket* Socket_clone(Socket* s) {
    if (!s) return nullptr;
    int fd = s->descriptor < 0 ? (errno = EBADF, -1) : vrnPlatform_accept(s->descriptor);
    if (fd < 0) {
        report(s, -1, "Socket_accept");
        return nullptr;
    }
    auto* c = static_cast<Socket*>(vrnMalloc(sizeof(Socket), "Socket_clone"));
    *c = *s;
    c->descriptor = fd;
    c->status = 0;
    c->backlog = -999;
    c->connected = 1;
    return c;
}

int Socket_connect(Socket* s, const char* host, int port) {
    if (!s) return -1;
    int r = -1;
    if (Socket_setAddress(s, host, port, 1) && s->descriptor >= 0) {
        r = s->family == VRN_PF_UNIX ? vrnPlatform_connectPath(s->descriptor, &s->peerPath)
                                     : vrnPlatform_connectInet(s->descriptor, &s->peerInet);
    } else if (s->descriptor < 0) {
        errno = EBADF;
    }
    report(s, r, "connect");
    // Only a connection that was made counts.
    if (r == 0) s->connected = 1;
    return r;
}

long Socket_send(Socket* s, const void* buffer, int length, int flags) {
    if (!s || length < 0) return -1;
    long r = vrnPlatform_send(s->descriptor, buffer, static_cast<size_t>(length), flags);
    s->status = r < 0 ? -1 : 0;
    return r;
}

long Socket_recv(Socket* s, void* buffer, int length, int flags) {
    if (!s || length < 0) return -1;
    long r = vrnPlatform_recv(s->descriptor, buffer, static_cast<size_t>(length), flags);
    s->status = r < 0 ? -1 : 0;
    return r;
}

int Socket_shutdown(Socket* s, int how) {
    if (!s || s->descriptor < 0) return -1;
    s->status = vrnPlatform_shutdown(s->descriptor, how);
    return s->status;
}

Socket* Socket_newServer(int family, const char* host, int port, int backlog) {
    Socket* s = Socket_new(family, VRN_SOCK_STREAM);
    if (s && Socket_bind(s, host, port)) Socket_listen(s, backlog);
    return s;
}

Socket* Socket_newClient(int family, const char* host, int port) {
    Socket* s = Socket_new(family, VRN_SOCK_STREAM);
    if (s) Socket_connect(s, host, port);
    return s;
}

Socket* Socket_newPeer(int family, int type, const char* host, int port) {
    Socket* s = Socket_new(family, type);
    if (s) Socket_bind(s, host, port);
    return s;
}

void Socket_delete(Socket* s) {
    if (!s) return;
    if (s->descriptor >= 0) {
        vrnPlatform_shutdown(s->descriptor, 2);
        vrnPlatform_close(s->descriptor);
    }
    vrnFree(s, "Socket_delete");
}

}  // extern "C"
