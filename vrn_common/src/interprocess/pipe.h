/* One anonymous pipe with descriptors for both ends. Both ends are
 * close-on-exec; a child gets an end only when its start hands it over. */
#ifndef VRN_INTERPROCESS_PIPE_H
#define VRN_INTERPROCESS_PIPE_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct Pipe {
    int readOpen;     /* 1 while the read end is open */
    int writeOpen;    /* 1 while the write end is open */
    int readFd;
    int writeFd;
    int lastError;    /* errno of the last failed write */
    int readHandle;   /* the ends as a child sees them: the same numbers */
    int writeHandle;
} Pipe;

/* NULL when the system cannot make a pipe. */
Pipe* Pipe_new(void);
/* Closes the ends still open and frees the record. */
void Pipe_delete(Pipe* pipe);
/* One read of at most n bytes: the count, 0 at the end of input, -1 on
 * failure (also when the read end is closed). */
long Pipe_read(Pipe* pipe, void* buffer, int n);
/* Pipe_read from a child's pipe while exitFd (a Process's exitFd) watches
 * the child: 0 also once the child has ended and the pipe holds nothing
 * more, whoever else still holds its write end. exitFd -1: Pipe_read. */
long Pipe_readWhileRunning(Pipe* pipe, int exitFd, void* buffer, int n);
/* Writes all n bytes: 1, or 0 with the errno kept in lastError (a reader
 * that has gone gives EPIPE, never a signal). */
int Pipe_write(Pipe* pipe, const void* buffer, int n);
void Pipe_closeReadEnd(Pipe* pipe);
void Pipe_closeWriteEnd(Pipe* pipe);

#ifdef __cplusplus
}
#endif

#endif
