/* POSIX services behind VRN common's processes, pipes and sockets.
 *
 * Every call of the system that starts a program, makes a pipe, reads or
 * writes a descriptor or touches a socket goes through this header. The
 * habits are the same everywhere:
 *   - every descriptor handed out is close-on-exec, so a child inherits
 *     only what its start explicitly gives it;
 *   - calls interrupted by a signal are retried;
 *   - writing to a pipe or socket whose reader has gone returns -1 with
 *     errno EPIPE and never raises SIGPIPE;
 *   - a program that cannot be executed is a failed start, reported to the
 *     caller with its errno, never a child that "ran" without output.
 * Results follow the system calls: 0 or a count on success, -1 with errno
 * set on failure, unless a function says otherwise. */
#ifndef VRN_PLATFORM_POSIX_H
#define VRN_PLATFORM_POSIX_H

#include <stddef.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- descriptors and pipes ---------------------------------------------- */

/* fds[0] is the read end, fds[1] the write end; both close-on-exec. */
int vrnPlatform_pipe(int fds[2]);
/* Closes once; an interrupted close is not retried (the descriptor is gone
 * on Linux either way). Negative descriptors are ignored. */
int vrnPlatform_close(int fd);
/* One read of at most n bytes, retried on EINTR; 0 at the end of input. */
long vrnPlatform_read(int fd, void* buffer, size_t n);
/* Writes all n bytes (retrying short writes and EINTR); n or -1. */
long vrnPlatform_write(int fd, const void* buffer, size_t n);

/* open(2) with the given flags and permissions, always close-on-exec and
 * retried on EINTR. An open with O_CREAT or O_TRUNC is a file change (see
 * below). */
int vrnPlatform_open(const char* path, int flags, int permissions);
/* Opens a file for a redirection, close-on-exec: mode 0 reading, 1 writing
 * (created or truncated), 2 appending (created when missing). */
int vrnPlatform_openFile(const char* path, int mode);

/* ---- file changes ------------------------------------------------------- */

/* Every call by which the system changes a file goes through the functions
 * of this section, which count it: a creating or truncating open, a write to
 * a file, a truncation, a rename, an unlink. The count is what the crash
 * point hook below works on. Writes to pipes and sockets use
 * vrnPlatform_write and are not counted. */

/* Writes all n bytes at the file offset without moving the descriptor's
 * offset (retrying short writes and EINTR); n or -1 with errno set. */
long vrnPlatform_pwrite(int fd, const void* buffer, size_t n, long long offset);
/* Writes all n bytes to a file at its offset (retrying short writes and
 * EINTR); n or -1 with errno set. */
long vrnPlatform_writeFile(int fd, const void* buffer, size_t n);
/* ftruncate(2), retried on EINTR. */
int vrnPlatform_ftruncate(int fd, long long length);
/* rename(2): replaces `to` in one step. */
int vrnPlatform_rename(const char* from, const char* to);
/* unlink(2). */
int vrnPlatform_unlink(const char* path);
/* Gives the file `from` the name `to` only while `to` names nothing: -1
 * with errno EEXIST, both names left as they were, when something has it.
 * One rename (renameat2 with RENAME_NOREPLACE) where the kernel and the
 * file system can do that; otherwise a hard link under `to`, then `from`
 * unlinked, each a counted change (a process ended between the two leaves
 * the file under both names). Where the file system has neither, -1 with
 * the errno of the link (EPERM, say) and nothing changed. */
int vrnPlatform_renameNoReplace(const char* from, const char* to);

/* A fully buffered stdio stream over a close-on-exec descriptor, with the
 * modes of fopen ("r", "w", "a", each with any of "+", "b", "e", "x").
 * Whatever the stream writes reaches the file through
 * vrnPlatform_writeFile, so it is counted; seeking, reading and fclose work
 * as on any stream. A mode that may create the file ("w", "a", "x") counts
 * as a creating open. NULL with errno set on failure. */
FILE* vrnPlatform_fopen(const char* path, const char* mode);
/* The same open file as a stream whose writes are counted, at the same
 * position: a stream made by vrnPlatform_fopen is answered as it is; any
 * other is flushed and closed, and a vrnPlatform_fopen-like stream over a
 * copy of its descriptor takes its place. Lets a file that is mostly read
 * use the C runtime's own stream until its first change. NULL with errno
 * set on failure, the stream then left open as it was. */
FILE* vrnPlatform_countWrites(FILE* stream);
/* The descriptor under a stream: the one of a vrnPlatform_fopen stream
 * (fileno cannot see it), else fileno(stream); -1 when it has none. */
int vrnPlatform_streamFd(FILE* stream);

/* Test hook: the process ends at the call-th counted call from now on
 * (1-based; 0 switches the hook off) as SIGKILL would: through _exit with
 * status VRN_CRASH_POINT_STATUS, no exit handlers run and no stdio buffer
 * flushed. When keepBytes >= 0 and that call is a write, its first
 * min(keepBytes, n) bytes are written first. Unset, the hook costs one
 * increment and one compare per call. */
enum { VRN_CRASH_POINT_STATUS = 86 };
void vrnPlatform_setCrashPoint(long long call, long long keepBytes);
/* Test hook: the call-th counted call from now on (1-based; 0 switches the
 * hook off) fails once, as on a full or failing disk, and the process goes
 * on: a creating open, a write, a rename or a link fails with ENOSPC, an
 * unlink or a truncation with EIO, each having changed nothing, except that
 * a failing write first writes its first min(keepBytes, n) bytes when
 * keepBytes > 0. A crash point at the same call wins. */
void vrnPlatform_setFailurePoint(long long call, long long keepBytes);
/* Counted calls made by this process so far. */
long long vrnPlatform_fileChangeCount(void);
/* Test hook: hook(path) runs just before each counted call (a creating or
 * truncating open, a rename or link (with the new name), an unlink, and a
 * write or truncation through a descriptor, under the path the descriptor
 * has then), so that a test can put another process's step between two
 * steps of a sequence of changes. NULL switches it off. */
void vrnPlatform_setFileChangeHook(void (*hook)(const char* path));

/* Waits until the descriptor has input (or its end) to read: 1, 0 when the
 * milliseconds passed first (negative: no limit), -1 on failure. */
int vrnPlatform_waitReadable(int fd, int milliseconds);

/* One read of at most n bytes from fd, a pipe a child writes to, while
 * exitFd (from vrnPlatform_watchExit) watches that child: as
 * vrnPlatform_read, but 0 also once the child has ended and the pipe holds
 * nothing more, though another process may still hold a copy of its write
 * end (a fork of the host made while the child's end was open in it). With
 * exitFd -1, vrnPlatform_read. */
long vrnPlatform_readWhileRunning(int fd, int exitFd, void* buffer, size_t n);

/* Suspends the caller for the given milliseconds (interruptions resumed). */
void vrnPlatform_sleepMilliseconds(int milliseconds);

/* ---- processes ---------------------------------------------------------- */

typedef struct vrnSpawnRequest {
    const char* path;      /* program file; with searchPath, looked up in PATH */
    int searchPath;        /* 1: path is a name looked up in PATH */
    char* const* argv;     /* NULL-terminated; argv[0] is the program's path */
    /* Descriptors that become the child's standard input, output and error;
     * -1 leaves that stream as the parent's, or /dev/null when hidden. */
    int stdinFd, stdoutFd, stderrFd;
    int hidden;            /* 1: streams not given above go to /dev/null */
    /* Descriptors the child inherits under their own numbers (they stay
     * close-on-exec in the parent). */
    const int* inheritFds;
    int inheritCount;
} vrnSpawnRequest;

/* Starts the program. Returns 0 and the child's id in *pid, or -1 with
 * errno of the failure (also the errno of a failed exec in the child, in
 * which case the child has already been reaped). */
int vrnPlatform_spawn(const vrnSpawnRequest* request, int* pid);

typedef struct vrnExitStatus {
    int exited;     /* 1: ended through exit() */
    int code;       /* its exit status */
    int signal;     /* signal that ended it, or 0 */
} vrnExitStatus;

/* A close-on-exec descriptor that becomes readable once the child ends (a
 * pidfd), for vrnPlatform_readWhileRunning; -1 with errno set where the
 * system cannot watch a child so (ENOSYS: a kernel before 5.3) or the child
 * is no longer there to watch (ESRCH: it has ended and was reaped). */
int vrnPlatform_watchExit(int pid);

/* Test hook: hook(pid) runs in the starting thread after each successful
 * vrnPlatform_spawn, while the caller still holds the parent's copies of the
 * child's pipe ends (NULL switches it off). */
void vrnPlatform_setSpawnHook(void (*hook)(int pid));

/* Waits until the child ends (EINTR retried); fills *status when given. */
int vrnPlatform_wait(int pid, vrnExitStatus* status);
/* Reaps the child if it has already ended, without ever blocking: 1 when
 * it was reaped, 0 when it is still running, -1 on failure. */
int vrnPlatform_reap(int pid);

/* The caller's process id. */
int vrnPlatform_getpid(void);

/* ---- sockets ------------------------------------------------------------ */

enum { VRN_SOCKET_UNIX = 1, VRN_SOCKET_INET = 2 };      /* families */
enum { VRN_SOCKET_STREAM = 1, VRN_SOCKET_DATAGRAM = 2 }; /* types */

/* An internet address with port and address in network order. */
typedef struct vrnInetAddress {
    int family;
    unsigned short port;
    unsigned int address;
} vrnInetAddress;

/* A path-form (unix domain) address. */
typedef struct vrnPathAddress {
    int family;
    char path[108];
} vrnPathAddress;

/* A close-on-exec socket of the family and type, or -1 (errno EAFNOSUPPORT
 * for a family of neither kind). */
int vrnPlatform_socket(int family, int type);
/* The IPv4 address of a host name or dotted address, in network order, in
 * *address; NULL host gives the any address. Returns 0, or -1 when the
 * name cannot be resolved. */
int vrnPlatform_resolveHost(const char* host, unsigned int* address);
unsigned short vrnPlatform_htons(unsigned short v);
unsigned short vrnPlatform_ntohs(unsigned short v);

int vrnPlatform_bindInet(int fd, vrnInetAddress* address);
/* Reads the bound address back (the port chosen for port 0). */
int vrnPlatform_getInetName(int fd, vrnInetAddress* address);
int vrnPlatform_bindPath(int fd, const vrnPathAddress* address);
int vrnPlatform_listen(int fd, int backlog);
/* Accepts one connection (EINTR retried); the new descriptor is
 * close-on-exec. */
int vrnPlatform_accept(int fd);
int vrnPlatform_connectInet(int fd, const vrnInetAddress* address);
int vrnPlatform_connectPath(int fd, const vrnPathAddress* address);
/* send and recv, EINTR retried; send never raises SIGPIPE. */
long vrnPlatform_send(int fd, const void* buffer, size_t n, int flags);
long vrnPlatform_recv(int fd, void* buffer, size_t n, int flags);
int vrnPlatform_shutdown(int fd, int how);
/* Removes the file of a unix-domain socket (a socket file, not a regular
 * one). 0, or -1 when it could not be removed. */
int vrnPlatform_removeSocketFile(const char* path);

#ifdef __cplusplus
}
#endif

#endif
