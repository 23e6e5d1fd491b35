/* Child processes: a program started from a Command with zero or more
 * conduits through which the parent talks to it. Every started process is
 * kept in one live list until it is deleted. */
#ifndef VRN_PROCESS_PROCESS_H
#define VRN_PROCESS_PROCESS_H

#include "interprocess/conduit.h"
#include "process/command.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct Process {
    int pid;               /* 0 until started */
    int handle;            /* the same id: what the parent waits on */
    int status;            /* -1 until waited for; then the exit status, or
                              -1 when a signal ended the child */
    struct Process* next;  /* the live list, newest first */
    int outputFd;          /* file opened for a ">" redirection, 0 when none */
    int termSignal;        /* signal that ended the child, 0 when none */
    int waited;            /* 1 once the child has been reaped */
    int exitFd;            /* for a child with pipe conduits: readable once
                              it has ended (see Conduit_readWhileRunning);
                              -1 where the system cannot watch it so, and
                              for other children */
} Process;

/* The one-conduit form; no conduit when conduitType is NULL. */
Process* Process_new(Command* command, const char* conduitType, Conduit** conduit);
/* Makes a conduit per given type, starts the child with their ends and the
 * command's redirections, connects the conduits. NULL when the start failed
 * (a missing or non-executable program, a redirection file that cannot be
 * opened, a pipe or a child the system would not make), with errno saying
 * why; the conduits are then deleted and their slots set to NULL. */
Process* Process_newMultiConduit(Command* command, int n, const char** conduitTypes,
                                 Conduit** conduits);
/* Waits until the child ends and keeps how it ended. 1, or 0 when there is
 * nothing to wait for. */
int Process_wait(Process* process);
/* After Process_wait: the signal that ended the child, 0 when it exited. */
int Process_getTerminationSignal(Process* process);
/* Unlinks the process from the live list and frees it; a child that has
 * already ended without being waited for is reaped (never blocks). */
void Process_delete(Process* process);
/* The newest process of the live list (NULL when empty). */
Process* Process_getLiveList(void);
/* Applies the command's redirection arguments to the child's standard
 * streams. 1; 0 when a "<<" was met, -1 with errno set when a file could not
 * be opened (or more files are named than a ChildStartup can record). */
int Process_redirectIO(Process* process, Command* command, ChildStartup* startup);

#ifdef __cplusplus
}
#endif

#endif
