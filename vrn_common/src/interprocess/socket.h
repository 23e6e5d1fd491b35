/* Sockets for the socket conduits: a server (bound and listening), a client
 * (connected) or a peer (bound), in the internet or the unix (path) domain.
 * Failed socket calls are reported with perror on standard error and by the
 * routine's result; callers find a failed socket by its status. */
#ifndef VRN_INTERPROCESS_SOCKET_H
#define VRN_INTERPROCESS_SOCKET_H

#include "vrn_platform.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Families and types, as the conduit words map to them. */
#define VRN_PF_UNIX 1
#define VRN_PF_INET 2
#define VRN_SOCK_STREAM 1
#define VRN_SOCK_DGRAM 2

typedef struct Socket {
    int descriptor;          /* -1 when the socket could not be made */
    int family;              /* VRN_PF_INET or VRN_PF_UNIX */
    int type;                /* VRN_SOCK_STREAM or VRN_SOCK_DGRAM */
    int status;              /* result of the last socket call */
    int backlog;             /* -999 until listening */
    int localLength;         /* -1 when the local address could not be set */
    int peerLength;          /* -1 when the peer address could not be set */
    vrnPathAddress localPath;
    vrnPathAddress peerPath;
    vrnInetAddress localInet;
    vrnInetAddress peerInet;
    int connected;           /* 1 after a successful connect or accept */
} Socket;

int Socket_startup(void);
/* NULL for a family other than inet and unix (reported with perror). */
Socket* Socket_new(int family, int type);
/* which 0: local address, 1: peer address. For the unix domain the host is
 * the socket's path and the port is not used. */
int Socket_setAddress(Socket* s, const char* host, int port, int which);
int Socket_bind(Socket* s, const char* host, int port);
int Socket_listen(Socket* s, int backlog);
int Socket_getPort(Socket* s);
Socket* Socket_clone(Socket* s);
int Socket_connect(Socket* s, const char* host, int port);
long Socket_send(Socket* s, const void* buffer, int length, int flags);
long Socket_recv(Socket* s, void* buffer, int length, int flags);
int Socket_shutdown(Socket* s, int how);
Socket* Socket_newServer(int family, const char* host, int port, int backlog);
Socket* Socket_newClient(int family, const char* host, int port);
Socket* Socket_newPeer(int family, int type, const char* host, int port);
void Socket_delete(Socket* s);

#ifdef __cplusplus
}
#endif

#endif
