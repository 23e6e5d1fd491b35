/* Conduits: one channel between the parent and a child process, either a
 * pair of anonymous pipes or a socket, described by a short type string:
 *
 *   "pipe: 1.0"   the child's standard input from the parent, its standard
 *                 output and error to the parent (no child argument)
 *   "pipe"        both pipes passed to the child as "-conduit pipe R.W"
 *   "socket: mode=server, domain=inet, host=127.0.0.1, port=0"
 *   "socket: mode=client, domain=unix, path=/tmp/s"
 *
 * A conduit is made before the child starts (Conduit_newBeforeSpawn), tells
 * the start which descriptors the child gets and what argument it is
 * passed, and is connected after the start (Conduit_connectAfterSpawn). */
#ifndef VRN_INTERPROCESS_CONDUIT_H
#define VRN_INTERPROCESS_CONDUIT_H

#include <stdarg.h>

#include "interprocess/pipe.h"
#include "interprocess/socket.h"

#ifdef __cplusplus
extern "C" {
#endif

enum { VRN_CONDUIT_PIPE = 0, VRN_CONDUIT_SOCKET = 1 };                 /* type */
enum { VRN_CONDUIT_UNIX = 0, VRN_CONDUIT_INET = 1 };                   /* domain */
enum { VRN_CONDUIT_STREAM = 0, VRN_CONDUIT_DATAGRAM = 1 };             /* kind */
enum { VRN_CONDUIT_SERVER = 0, VRN_CONDUIT_CLIENT = 1, VRN_CONDUIT_PEER = 2 }; /* mode */

/* Room of a conduit's own read-ahead buffer for Conduit_getline. */
#define VRN_CONDUIT_BUFFER_SIZE 4096

/* What a child's start takes from its conduits and redirections: the
 * descriptors that become its standard streams (-1: not set) and the
 * descriptors it inherits under their own numbers. */
#define VRN_STARTF_USESTDHANDLES 0x100
#define VRN_CHILD_MAX_INHERITED 16
typedef struct ChildStartup {
    int flags;                 /* VRN_STARTF_USESTDHANDLES once a stream is set */
    int stdInput;
    int stdOutput;
    int stdError;
    int inherited[VRN_CHILD_MAX_INHERITED];
    int inheritedCount;
    int inheritedOverflow;     /* 1 when a descriptor found no room above */
    /* Files opened for redirections: the parent closes them after the start. */
    int opened[VRN_CHILD_MAX_INHERITED];
    int openedCount;
} ChildStartup;

/* A startup record with no stream set and nothing inherited. */
void ChildStartup_init(ChildStartup* startup);

typedef struct Conduit {
    Socket* socket;     /* socket conduits */
    Pipe* readPipe;     /* the parent reads, the child writes */
    Pipe* writePipe;    /* the parent writes, the child reads */
    char* name;
    int type;           /* VRN_CONDUIT_PIPE or VRN_CONDUIT_SOCKET */
    int domain;         /* VRN_CONDUIT_UNIX or VRN_CONDUIT_INET */
    int kind;           /* VRN_CONDUIT_STREAM or VRN_CONDUIT_DATAGRAM */
    int mode;           /* the parent's role */
    int port;
    char* address;      /* host name (inet) or socket path (unix) */
    int R;              /* the child's read end setting, -1 when not given */
    int W;              /* the child's write end setting, -1 when not given */
    int valid;          /* 1 when the type was accepted and the parent end made */
    int error;          /* errno of the system call that failed to make an
                           accepted pipe type's parent end; 0 when none did */
    /* Read-ahead of Conduit_getline: each conduit has its own. */
    char* buffer;
    int bufferFill;
    int bufferPos;
} Conduit;

/* Parses a type string into the conduit's fields; 1 when accepted. A
 * rejected string raises 10020 (and a negative port 10017 first). */
int Conduit_parseType(Conduit* conduit, const char* type);
/* The next token of a type string at *cursor (runs of characters other than
 * blank and '='), terminated in place; NULL when none is left. */
char* Conduit_nextToken(char** cursor);
void Conduit_setDefaultNames(Conduit* conduit);

/* A conduit of the type with the parent's end made; never NULL: a string
 * that is not accepted gives a conduit with valid = 0. */
Conduit* Conduit_newBeforeSpawn(const char* type);
/* Sets the child's standard streams and inherited descriptors. */
void Conduit_setChildHandles(Conduit* conduit, ChildStartup* startup);
/* The "-conduit ..." argument for the child (new string; vrnCString_free),
 * NULL when the child needs none, " " for an invalid conduit. */
char* Conduit_getChildArgument(Conduit* conduit);
/* Closes the parent's copies of the child's pipe ends; accepts the child's
 * connection (server) or connects to the child (client). 1, or 0 when the
 * conduit is invalid or no connection was made. */
int Conduit_connectAfterSpawn(Conduit* conduit);
void Conduit_delete(Conduit* conduit);

/* One read from the child: the count, 0 at the end, -1 on failure. */
long Conduit_read(Conduit* conduit, char* buffer, int n);
/* Conduit_read from a child whose end exitFd watches (a Process's exitFd;
 * -1: not watched): on a pipe, 0 also once the child has ended and the pipe
 * holds nothing more, whoever else still holds its write end. */
long Conduit_readWhileRunning(Conduit* conduit, int exitFd, char* buffer, int n);
/* Writes n bytes to the child: 1, or 0 on failure. */
int Conduit_write(Conduit* conduit, const void* buffer, int n);
/* Formats and writes the text; 1 or 0. */
int Conduit_vprintf(Conduit* conduit, const char* format, va_list args);
int Conduit_printf(Conduit* conduit, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
/* Reads one line into *line, a tagged buffer of *size bytes that is grown as
 * needed (it may start NULL with size 0). Returns the line's length without
 * its newline, or -1 at the end of input when nothing was read. */
int Conduit_getline(Conduit* conduit, char** line, int* size);

#ifdef __cplusplus
}
#endif

#endif
