#include "interprocess/pipe.h"

#include <errno.h>

#include "support/memory.h"
#include "vrn_platform.h"

extern "C" {

Pipe* Pipe_new(void) {
    int fds[2];
    if (vrnPlatform_pipe(fds) < 0) return nullptr;
    auto* p = static_cast<Pipe*>(vrnCalloc(sizeof(Pipe), 0, "Pipe_new"));
    p->readFd = p->readHandle = fds[0];
    p->writeFd = p->writeHandle = fds[1];
    p->readOpen = p->writeOpen = 1;
    return p;
}

void Pipe_closeReadEnd(Pipe* p) {
    if (!p || !p->readOpen) return;
    vrnPlatform_close(p->readFd);
    p->readOpen = 0;
}

void Pipe_closeWriteEnd(Pipe* p) {
    if (!p || !p->writeOpen) return;
    vrnPlatform_close(p->writeFd);
    p->writeOpen = 0;
}

void Pipe_delete(Pipe* p) {
    if (!p) return;
    Pipe_closeReadEnd(p);
    Pipe_closeWriteEnd(p);
    vrnFree(p, "Pipe_delete");
}

long Pipe_read(Pipe* p, void* buffer, int n) { return Pipe_readWhileRunning(p, -1, buffer, n); }

long Pipe_readWhileRunning(Pipe* p, int exitFd, void* buffer, int n) {
    if (!p || !p->readOpen || n < 0) return -1;
    return vrnPlatform_readWhileRunning(p->readFd, exitFd, buffer, static_cast<size_t>(n));
}

int Pipe_write(Pipe* p, const void* buffer, int n) {
    if (!p || !p->writeOpen || n < 0) {
        if (p) p->lastError = EBADF;
        return 0;
    }
    if (vrnPlatform_write(p->writeFd, buffer, static_cast<size_t>(n)) < 0) {
        p->lastError = errno;
        return 0;
    }
    return 1;
}

}  // extern "C"
