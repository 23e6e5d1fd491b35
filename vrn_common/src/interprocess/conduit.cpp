#include "interprocess/conduit.h"

#include <ctype.h>
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <random>
#include <string>

#include "errors/error.h"
#include "support/cstring.h"
#include "support/memory.h"
#include "support/scan_int.h"
#include "support/system.h"
#include "vrn_platform.h"

namespace {

// How long a client conduit waits for the child to publish its server, and
// a server conduit for the child to connect.
const int kClientWaitMilliseconds = 10000;
const int kServerWaitMilliseconds = 30000;
const int kPollMilliseconds = 10;
const char kLoopback[] = "127.0.0.1";

// A private generator: the host's rand() state is not ours to disturb.
int generateRandomInteger(int lo, int hi) {
    static std::mt19937 generator(static_cast<unsigned>(time(nullptr)) ^
                                  static_cast<unsigned>(vrnPlatform_getpid()));
    if (!(hi > lo)) return lo;
    std::uniform_int_distribution<int> pick(lo, hi);
    return pick(generator);
}

const char* domainWord(const Conduit* c) { return c->domain == VRN_CONDUIT_INET ? "inet" : "unix"; }

int socketFamily(const Conduit* c) { return c->domain == VRN_CONDUIT_INET ? VRN_PF_INET : VRN_PF_UNIX; }

void rejectType(const char* type) {
    vrnError* e = vrnError_new(VRN_U_INVALID_INPUT, "Conduit_parseType", __FILE__, __LINE__);
    vrnError_addMessage(e, "Invalid conduit type \"%s\".\n", type);
    vrnError_publish(e);
}

using vrn::scanInt;

// "R.W", "R." or ".W".
bool parsePipeSetting(Conduit* c, const char* t) {
    size_t len = strlen(t);
    int r = 0, w = 0;
    if (t[0] == '.') {
        if (!scanInt(t + 1, &w)) return false;
        c->W = w;
    } else if (t[len - 1] == '.') {
        if (!scanInt(t, &r)) return false;
        c->R = r;
    } else {
        const char* after = scanInt(t, &r);
        if (!after || *after != '.' || !scanInt(after + 1, &w)) return false;
        c->R = r;
        c->W = w;
    }
    return true;
}

bool parseSocketPairs(Conduit* c, char** cursor) {
    for (;;) {
        char* key = Conduit_nextToken(cursor);
        if (!key) return true;
        char* value = Conduit_nextToken(cursor);
        if (!value) return true;
        if (strcmp(key, "domain") == 0) {
            if (strcmp(value, "unix") == 0) c->domain = VRN_CONDUIT_UNIX;
            else if (strcmp(value, "inet") == 0) c->domain = VRN_CONDUIT_INET;
            else return false;
        } else if (strcmp(key, "path") == 0) {
            if (c->domain != VRN_CONDUIT_UNIX) return false;
            vrnCString_reassign(&c->address, value);
        } else if (strcmp(key, "host") == 0) {
            if (c->domain != VRN_CONDUIT_INET) return false;
            vrnCString_reassign(&c->address, value);
        } else if (strcmp(key, "port") == 0) {
            if (c->domain != VRN_CONDUIT_INET) return false;
            int port = 0;
            if (!scanInt(value, &port)) return false;
            // A port beyond 65535 is no port: it would be cut down to
            // another one when the address is made.
            if (port < 0 || port > 65535) {
                vrnError* e =
                    vrnError_new(VRN_U_INVALID_PORT_NUMBER, "Conduit_parseType", __FILE__, __LINE__);
                vrnError_addMessage(e, "Port = %d\n", port);
                vrnError_publish(e);
                return false;
            }
            c->port = port;
        } else if (strcmp(key, "type") == 0) {
            if (strcmp(value, "stream") == 0) c->kind = VRN_CONDUIT_STREAM;
            else if (strcmp(value, "datagram") == 0) c->kind = VRN_CONDUIT_DATAGRAM;
            else return false;
        } else if (strcmp(key, "mode") == 0) {
            if (strcmp(value, "server") == 0) c->mode = VRN_CONDUIT_SERVER;
            else if (strcmp(value, "client") == 0) c->mode = VRN_CONDUIT_CLIENT;
            else if (strcmp(value, "peer") == 0) c->mode = VRN_CONDUIT_PEER;
            else return false;
        } else if (strcmp(key, "name") == 0) {
            vrnCString_reassign(&c->name, value);
        }
        // any other key is ignored together with its value
    }
}

void addInherited(ChildStartup* s, int fd) {
    if (fd < 0) return;
    for (int i = 0; i < s->inheritedCount; ++i)
        if (s->inherited[i] == fd) return;
    if (s->inheritedCount >= VRN_CHILD_MAX_INHERITED) {
        s->inheritedOverflow = 1;
        return;
    }
    s->inherited[s->inheritedCount++] = fd;
}

// Reads "port = N" from the file that a child started as server writes.
bool readPortFile(const char* name, int* port) {
    FILE* f = fopen(name, "re");
    if (!f) return false;
    long value = 0;  // read wide, so that a number beyond int is refused, not wrapped
    bool ok = fscanf(f, "port = %ld", &value) == 1 && value > 0 && value <= 65535;
    fclose(f);
    if (ok) *port = static_cast<int>(value);
    return ok;
}

// Connects a client conduit once the child has published its server: the
// port file (inet) or the socket path (unix) is polled for a bounded time.
int connectClient(Conduit* c) {
    int port = c->port;
    bool ready = false;
    for (int waited = 0; waited <= kClientWaitMilliseconds; waited += kPollMilliseconds) {
        if (c->domain == VRN_CONDUIT_INET) ready = c->name && readPortFile(c->name, &port);
        else ready = c->address && vrnFileExists(c->address);
        if (ready) break;
        vrnPlatform_sleepMilliseconds(kPollMilliseconds);
    }
    if (!ready) return 0;
    if (c->domain == VRN_CONDUIT_INET) {
        c->port = port;
        // The file has served its purpose; do not leave it in the folder.
        vrnRemoveFile(c->name);
    }
    const char* host = c->domain == VRN_CONDUIT_INET ? (c->address ? c->address : kLoopback)
                                                     : c->address;
    // A unix socket's file appears when the child binds, a moment before it
    // listens: a refused connection is tried again within the same bound.
    for (int waited = 0;; waited += kPollMilliseconds) {
        Socket_delete(c->socket);
        c->socket = Socket_new(socketFamily(c),
                               c->kind == VRN_CONDUIT_DATAGRAM ? VRN_SOCK_DGRAM : VRN_SOCK_STREAM);
        if (!c->socket) return 0;
        if (Socket_connect(c->socket, host, c->port) == 0) return 1;
        if (errno != ECONNREFUSED || waited >= kClientWaitMilliseconds) return 0;
        vrnPlatform_sleepMilliseconds(kPollMilliseconds);
    }
}

}  // namespace

extern "C" {

void ChildStartup_init(ChildStartup* s) {
    memset(s, 0, sizeof *s);
    s->stdInput = s->stdOutput = s->stdError = -1;
}

char* Conduit_nextToken(char** cursor) {
    char* p = *cursor;
    if (!p) return nullptr;
    while (*p == ' ' || *p == '=') ++p;
    if (!*p) {
        *cursor = p;
        return nullptr;
    }
    char* start = p;
    while (*p && *p != ' ' && *p != '=') ++p;
    if (*p) *p++ = '\0';
    *cursor = p;
    return start;
}

int Conduit_parseType(Conduit* c, const char* type) {
    c->R = c->W = -1;
    c->type = VRN_CONDUIT_PIPE;
    c->domain = VRN_CONDUIT_UNIX;
    c->kind = VRN_CONDUIT_STREAM;
    c->mode = VRN_CONDUIT_SERVER;
    c->port = 0;
    vrnCString_free(c->address);
    c->address = nullptr;
    if (type) {
        std::string copy(type);
        for (char& ch : copy)
            if (ch == ':' || ch == ',') ch = ' ';
        char* cursor = copy.data();
        char* first = Conduit_nextToken(&cursor);
        bool ok = true;
        if (first && strcmp(first, "pipe") == 0) {
            if (char* pipeSetting = Conduit_nextToken(&cursor)) ok = parsePipeSetting(c, pipeSetting);
        } else if (first && strcmp(first, "socket") == 0) {
            c->type = VRN_CONDUIT_SOCKET;
            ok = parseSocketPairs(c, &cursor);
        }
        if (!ok) {
            rejectType(type);
            return 0;
        }
    }
    Conduit_setDefaultNames(c);
    return 1;
}

void Conduit_setDefaultNames(Conduit* c) {
    static long lastTicks = -1;
    if (!c->name) {
        long ticks = static_cast<long>(clock());
        if (ticks < 0 || ticks == lastTicks) ticks = generateRandomInteger(0, 10000);
        else lastTicks = ticks;
        c->name = vrnCString_build("conduit.%d.%ld", vrnPlatform_getpid(), ticks);
    }
    if (c->type == VRN_CONDUIT_SOCKET && c->domain == VRN_CONDUIT_UNIX && !c->address)
        c->address = vrnCString_merge(".socket.", c->name, nullptr);
}

Conduit* Conduit_newBeforeSpawn(const char* type) {
    auto* c = static_cast<Conduit*>(vrnCalloc(sizeof(Conduit), 0, "Conduit_newBeforeSpawn"));
    c->R = c->W = -1;
    if (!Conduit_parseType(c, type)) return c;
    if (c->type == VRN_CONDUIT_PIPE) {
        if ((c->R == 1 || c->R == -1) && (c->W == 0 || c->W == -1)) {
            c->readPipe = Pipe_new();
            if (!c->readPipe) c->error = errno;
            c->writePipe = Pipe_new();
            if (!c->writePipe && !c->error) c->error = errno;
            c->valid = c->readPipe && c->writePipe ? 1 : 0;
        }
        return c;
    }
    // The child that a conduit serves runs on this machine: with no host
    // given, an inet socket listens on the loopback address alone, so that
    // nobody on the network can connect first and be taken for the child.
    const char* host = c->address;
    if (!host && c->domain == VRN_CONDUIT_INET) host = kLoopback;
    if (c->mode == VRN_CONDUIT_SERVER) {
        c->socket = Socket_newServer(socketFamily(c), host, c->port, 5);
    } else if (c->mode == VRN_CONDUIT_PEER) {
        c->socket = Socket_newPeer(socketFamily(c),
                                   c->kind == VRN_CONDUIT_DATAGRAM ? VRN_SOCK_DGRAM : VRN_SOCK_STREAM,
                                   host, c->port);
    } else {
        c->valid = 1;  // the client's socket is made once the child is listening
        return c;
    }
    c->valid = c->socket && c->socket->descriptor >= 0 && c->socket->status == 0 ? 1 : 0;
    if (c->valid && c->domain == VRN_CONDUIT_INET) c->port = Socket_getPort(c->socket);
    return c;
}

void Conduit_setChildHandles(Conduit* c, ChildStartup* s) {
    if (!c || !s || !c->valid || c->type != VRN_CONDUIT_PIPE) return;
    if (c->R == 1) {
        s->stdInput = c->writePipe->readHandle;
        s->flags |= VRN_STARTF_USESTDHANDLES;
    } else {
        addInherited(s, c->writePipe->readHandle);
    }
    if (c->W == 0) {
        s->stdOutput = c->readPipe->writeHandle;
        s->stdError = c->readPipe->writeHandle;
        s->flags |= VRN_STARTF_USESTDHANDLES;
    } else {
        addInherited(s, c->readPipe->writeHandle);
    }
    // The child's argument names these descriptors: it must have them.
    if (c->R == 1 && c->W == -1) addInherited(s, c->writePipe->readHandle);
    if (c->R == -1 && c->W == 0) addInherited(s, c->readPipe->writeHandle);
}

char* Conduit_getChildArgument(Conduit* c) {
    if (!c || !c->valid) return vrnCString_clone(" ");
    if (c->type == VRN_CONDUIT_PIPE) {
        if (c->R == 1 && c->W == 0) return nullptr;
        if (c->R == 1) return vrnCString_build("-conduit pipe %d.%d", c->writePipe->readHandle, 1);
        if (c->W == 0) return vrnCString_build("-conduit pipe %d.%d", 0, c->readPipe->writeHandle);
        return vrnCString_build("-conduit pipe %d.%d", c->writePipe->readHandle,
                                c->readPipe->writeHandle);
    }
    const bool inet = c->domain == VRN_CONDUIT_INET;
    const char* path = c->address ? c->address : "";
    switch (c->mode) {
    case VRN_CONDUIT_SERVER:
        return inet ? vrnCString_build("-conduit socket mode=client domain=%s port=%d", domainWord(c), c->port)
                    : vrnCString_build("-conduit socket mode=client domain=%s path=%s", domainWord(c), path);
    case VRN_CONDUIT_PEER:
        return inet ? vrnCString_build("-conduit socket mode=peer domain=%s port=%d", domainWord(c), c->port)
                    : vrnCString_build("-conduit socket mode=peer domain=%s path=%s", domainWord(c), path);
    case VRN_CONDUIT_CLIENT:
        return inet ? vrnCString_build("-conduit socket mode=server domain=%s port=%d name=%s",
                                       domainWord(c), c->port, c->name)
                    : vrnCString_build("-conduit socket mode=server domain=%s path=%s name=%s",
                                       domainWord(c), path, c->name);
    default:
        return vrnCString_clone(" ");
    }
}

int Conduit_connectAfterSpawn(Conduit* c) {
    if (!c || !c->valid) return 0;
    if (c->type == VRN_CONDUIT_PIPE) {
        // Without this the parent would hold the child's write end open and
        // never see the end of the child's output.
        Pipe_closeWriteEnd(c->readPipe);
        Pipe_closeReadEnd(c->writePipe);
        return 1;
    }
    switch (c->mode) {
    case VRN_CONDUIT_SERVER: {
        if (vrnPlatform_waitReadable(c->socket->descriptor, kServerWaitMilliseconds) != 1) return 0;
        Socket* accepted = Socket_clone(c->socket);
        if (!accepted) return 0;
        Socket_delete(c->socket);
        c->socket = accepted;
        return 1;
    }
    case VRN_CONDUIT_CLIENT:
        return connectClient(c);
    default:
        return 1;
    }
}

void Conduit_delete(Conduit* c) {
    if (!c) return;
    if (c->type == VRN_CONDUIT_SOCKET && c->domain == VRN_CONDUIT_UNIX && c->address &&
        vrnFileExists(c->address))
        vrnPlatform_removeSocketFile(c->address);
    Socket_delete(c->socket);
    Pipe_delete(c->readPipe);
    Pipe_delete(c->writePipe);
    vrnCString_free(c->name);
    vrnCString_free(c->address);
    vrnFree(c->buffer, "Conduit_delete");
    vrnFree(c, "Conduit_delete");
}

long Conduit_read(Conduit* c, char* buffer, int n) { return Conduit_readWhileRunning(c, -1, buffer, n); }

long Conduit_readWhileRunning(Conduit* c, int exitFd, char* buffer, int n) {
    if (!c || !c->valid) return -1;
    if (c->type == VRN_CONDUIT_SOCKET) return Socket_recv(c->socket, buffer, n, 0);
    return Pipe_readWhileRunning(c->readPipe, exitFd, buffer, n);
}

int Conduit_write(Conduit* c, const void* buffer, int n) {
    if (!c || !c->valid || n < 0) return 0;
    if (c->type == VRN_CONDUIT_PIPE) return Pipe_write(c->writePipe, buffer, n);
    const char* p = static_cast<const char*>(buffer);
    while (n > 0) {
        long sent = Socket_send(c->socket, p, n, 0);
        if (sent <= 0) return 0;
        p += sent;
        n -= static_cast<int>(sent);
    }
    return 1;
}

int Conduit_vprintf(Conduit* c, const char* format, va_list args) {
    char* text = vrnCString_vbuild(format, args);
    int ok = text ? Conduit_write(c, text, static_cast<int>(strlen(text))) : 0;
    vrnCString_free(text);
    return ok;
}

int Conduit_printf(Conduit* c, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int ok = Conduit_vprintf(c, format, args);
    va_end(args);
    return ok;
}

int Conduit_getline(Conduit* c, char** line, int* size) {
    if (!c || !line || !size) return -1;
    if (!c->buffer)
        c->buffer = static_cast<char*>(vrnMalloc(VRN_CONDUIT_BUFFER_SIZE, "Conduit_getline"));
    if (!*line || *size < 2) {
        vrnFree(*line, "Conduit_getline");
        *size = 256;
        *line = static_cast<char*>(vrnMalloc(*size, "Conduit_getline"));
    }
    int length = 0;
    bool took = false;
    for (;;) {
        if (c->bufferPos >= c->bufferFill) {
            long got = Conduit_read(c, c->buffer, VRN_CONDUIT_BUFFER_SIZE);
            c->bufferPos = c->bufferFill = 0;
            if (got <= 0) {
                if (!took) return -1;
                (*line)[length] = '\0';
                return length;
            }
            c->bufferFill = static_cast<int>(got);
        }
        const char* start = c->buffer + c->bufferPos;
        const int avail = c->bufferFill - c->bufferPos;
        const char* nl = static_cast<const char*>(memchr(start, '\n', static_cast<size_t>(avail)));
        int chunk = nl ? static_cast<int>(nl - start) : avail;
        // Keep room for the chunk and the terminating NUL. The buffer's size
        // is an int: a line that would not fit is handed out in pieces.
        if (length + static_cast<long long>(chunk) + 1 > *size) {
            long long grown = (static_cast<long long>(chunk) + *size) * 2;
            if (grown < length + static_cast<long long>(chunk) + 1) grown = static_cast<long long>(length) + chunk + 1;
            if (grown > INT_MAX) grown = INT_MAX;
            if (length + static_cast<long long>(chunk) + 1 > grown) {
                chunk = static_cast<int>(grown - 1 - length);
                nl = nullptr;
            }
            if (grown > *size) {
                *line = static_cast<char*>(vrnRealloc(*line, static_cast<int>(grown), "Conduit_getline"));
                *size = static_cast<int>(grown);
            }
        }
        memcpy(*line + length, start, static_cast<size_t>(chunk));
        length += chunk;
        took = true;
        c->bufferPos += chunk;
        if (nl) {
            c->bufferPos += 1;  // the newline itself
            (*line)[length] = '\0';
            return length;
        }
        if (length + 1 >= INT_MAX) {
            (*line)[length] = '\0';
            return length;
        }
    }
}

}  // extern "C"
