#include "process/process.h"

#include <errno.h>
#include <string.h>

#include <string>
#include <vector>

#include "debug/debug_manager.h"
#include "support/cstring.h"
#include "support/memory.h"
#include "support/system.h"
#include "vrn_platform.h"

namespace {

Process* g_live = nullptr;

// Whether children get the parent's console streams: read once per process.
bool showConsoles() {
    static int show = -1;
    if (show < 0) show = vrnIsEnvironmentVariableSet("VRN_SHOW_CONSOLES") ? 1 : 0;
    return show == 1;
}

// Splits a conduit's child argument at blanks: the child sees "-conduit",
// "pipe", "3.5" as separate arguments, as it would after its command line
// was split.
void appendWords(std::vector<std::string>& out, const char* text) {
    std::string word;
    for (const char* p = text;; ++p) {
        if (*p == ' ' || *p == '\0') {
            if (!word.empty()) out.push_back(word);
            word.clear();
            if (!*p) break;
        } else {
            word += *p;
        }
    }
}

enum Pending { kNone, kInput, kOutput, kAppend, kHereDoc };

// Recognises a redirection operator, alone ("<") or with its file joined
// ("> out.txt", ">out.txt"); *rest is the joined file name or NULL.
Pending redirectionKind(const char* a, const char** rest, bool* errToOut) {
    *rest = nullptr;
    *errToOut = strcmp(a, "2>&1") == 0;
    if (*errToOut) return kNone;
    Pending kind;
    size_t len;
    if (strncmp(a, "<<", 2) == 0) kind = kHereDoc, len = 2;
    else if (strncmp(a, ">>", 2) == 0) kind = kAppend, len = 2;
    else if (a[0] == '<') kind = kInput, len = 1;
    else if (a[0] == '>') kind = kOutput, len = 1;
    else return kNone;
    const char* p = a + len;
    while (*p == ' ' || *p == '\t') ++p;
    if (*p) *rest = p;
    return kind;
}

void closeOpened(ChildStartup* s) {
    for (int i = 0; i < s->openedCount; ++i) vrnPlatform_close(s->opened[i]);
    s->openedCount = 0;
}

// Starts the child: its arguments are the full program path, the plain
// arguments unchanged and each conduit's argument; its standard streams come
// from the conduits and the redirections; streams that neither sets go to
// /dev/null unless VRN_SHOW_CONSOLES is set. Returns 0 when it started, else
// the error number that says why not.
int createChildProcess(Process* process, Command* command, int n, Conduit** conduits) {
    const bool show = showConsoles();
    if (!command || !command->path) return ENOENT;

    std::vector<std::string> args;
    args.push_back(command->path);
    for (int i = 0; i < command->plainArgs; ++i) args.push_back(command->argv[i]);

    ChildStartup startup;
    ChildStartup_init(&startup);
    for (int i = 0; i < n; ++i) {
        if (!conduits[i]) continue;
        Conduit_setChildHandles(conduits[i], &startup);
        if (char* arg = Conduit_getChildArgument(conduits[i])) {
            appendWords(args, arg);
            vrnCString_free(arg);
        }
    }
    // A child without every descriptor its conduits name could not use them.
    if (startup.inheritedOverflow) return EMFILE;
    if (Process_redirectIO(process, command, &startup) < 0) {
        const int err = errno;
        closeOpened(&startup);
        return err;
    }

    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    vrnSpawnRequest request;
    memset(&request, 0, sizeof request);
    request.path = command->path;
    request.searchPath = Command_isSearchPath(command);
    request.argv = argv.data();
    request.stdinFd = startup.stdInput;
    request.stdoutFd = startup.stdOutput;
    request.stderrFd = startup.stdError;
    request.hidden = show ? 0 : 1;
    request.inheritFds = startup.inherited;
    request.inheritCount = startup.inheritedCount;
    int pid = 0;
    const int err = vrnPlatform_spawn(&request, &pid) == 0 ? 0 : errno;
    // The child has its own copies now; the parent's would keep the files
    // open (and an output file's reader from seeing its end).
    closeOpened(&startup);
    process->outputFd = 0;
    if (err) return err;
    process->pid = pid;
    process->handle = pid;
    // The child's end is watched beside the pipes it writes to, so that a
    // read from them ends with the child (Conduit_readWhileRunning).
    for (int i = 0; i < n; ++i) {
        if (conduits[i] && conduits[i]->valid && conduits[i]->type == VRN_CONDUIT_PIPE) {
            process->exitFd = vrnPlatform_watchExit(pid);
            break;
        }
    }
    return 0;
}

}  // namespace

extern "C" {

int Process_redirectIO(Process* process, Command* command, ChildStartup* startup) {
    static vrnDebugPreamble debug;
    debug.enter("Process_redirectIO", "Redirect the IO of a child process.");
    FILE* trace = debug.tracing() ? vrnDebug_getStream() : nullptr;

    int result = 1;
    int failure = 0;  // errno of a refusal
    int setHandles = 0;
    Pending pending = kNone;
    for (int i = command->plainArgs; i < command->m_noOfArguments; ++i) {
        const char* arg = command->argv[i];
        if (trace) fprintf(trace, "Argument = '%s'\n", arg);
        const char* file = nullptr;
        Pending kind = pending;
        bool errToOut = false;
        if (pending != kNone) {
            file = arg;
        } else {
            kind = redirectionKind(arg, &file, &errToOut);
            if (errToOut) {
                // Standard error follows standard output wherever it goes.
                startup->stdError = startup->stdOutput >= 0 ? startup->stdOutput
                                    : showConsoles()        ? 1
                                                            : -1;
                setHandles = 1;
                if (trace) fprintf(trace, "Redirect standard err to standard out.\n");
                continue;
            }
            if (kind == kNone) continue;  // not a redirection: ignored
            if (!file) {
                pending = kind;
                continue;
            }
        }
        pending = kNone;
        if (kind == kHereDoc) {
            if (trace) fprintf(trace, "Append %s to standard in.\n", file);
            result = 0;
            continue;
        }
        int mode = kind == kInput ? 0 : kind == kOutput ? 1 : 2;
        int fd = vrnPlatform_openFile(file, mode);
        if (fd < 0) {
            failure = errno;
            if (trace) fprintf(trace, "Unable to open %s.\n", file);
            result = -1;
            break;
        }
        if (startup->openedCount >= VRN_CHILD_MAX_INHERITED) {
            // No room to remember it for closing after the start: refuse
            // rather than leak it.
            vrnPlatform_close(fd);
            failure = EMFILE;
            result = -1;
            break;
        }
        startup->opened[startup->openedCount++] = fd;
        if (kind == kInput) {
            startup->stdInput = fd;
            if (trace) fprintf(trace, "Redirect %s to standard in.\n", file);
        } else {
            startup->stdOutput = fd;
            if (kind == kOutput && process) process->outputFd = fd;
            if (trace)
                fprintf(trace, kind == kOutput ? "Redirect standard out to %s.\n"
                                               : "Append standard out to %s.\n",
                        file);
        }
        setHandles = 1;
    }
    if (setHandles) startup->flags |= VRN_STARTF_USESTDHANDLES;
    if (trace) {
        fprintf(trace, "setHandles = %d\n", setHandles);
        fflush(trace);
    }
    if (result < 0) errno = failure;
    return result;
}

Process* Process_new(Command* command, const char* conduitType, Conduit** conduit) {
    if (!conduitType) return Process_newMultiConduit(command, 0, nullptr, nullptr);
    const char* types[1] = {conduitType};
    return Process_newMultiConduit(command, 1, types, conduit);
}

Process* Process_newMultiConduit(Command* command, int n, const char** conduitTypes,
                                 Conduit** conduits) {
    if (n < 0 || (n > 0 && (!conduitTypes || !conduits))) {
        errno = EINVAL;
        return nullptr;
    }
    auto* p = static_cast<Process*>(vrnCalloc(sizeof(Process), 0, "Process_newMultiConduit"));
    p->status = -1;
    p->exitFd = -1;
    int err = 0;
    for (int i = 0; i < n; ++i) {
        conduits[i] = conduitTypes[i] ? Conduit_newBeforeSpawn(conduitTypes[i]) : nullptr;
        // A pipe the system would not make (no descriptor left, say): the
        // child would start without the channel and its output be lost.
        if (conduits[i] && conduits[i]->error && !err) err = conduits[i]->error;
    }
    if (!err) err = createChildProcess(p, command, n, conduits);
    if (err) {
        for (int i = 0; i < n; ++i) {
            Conduit_delete(conduits[i]);
            conduits[i] = nullptr;
        }
        vrnFree(p, "Process_newMultiConduit");
        errno = err;
        return nullptr;
    }
    for (int i = 0; i < n; ++i)
        if (conduits[i]) Conduit_connectAfterSpawn(conduits[i]);
    p->next = g_live;
    g_live = p;
    return p;
}

int Process_wait(Process* p) {
    if (!p || p->pid <= 0 || p->waited) return 0;
    vrnExitStatus st;
    if (vrnPlatform_wait(p->pid, &st) < 0) {
        // A host that reaps its children took this one: nothing is left to
        // reap, and its number may already be another child's.
        if (errno == ECHILD) p->waited = 1;
        return 0;
    }
    p->waited = 1;
    p->status = st.exited ? st.code : -1;
    p->termSignal = st.signal;
    return 1;
}

int Process_getTerminationSignal(Process* p) { return p ? p->termSignal : 0; }

void Process_delete(Process* p) {
    if (!p) return;
    for (Process** link = &g_live; *link; link = &(*link)->next) {
        if (*link == p) {
            *link = p->next;
            break;
        }
    }
    // A child that has ended but was never waited for is reaped here, so it
    // does not stay behind as a zombie; one still running is left alone
    // rather than blocking the caller.
    if (p->pid > 0 && !p->waited) vrnPlatform_reap(p->pid);
    vrnPlatform_close(p->exitFd);
    vrnFree(p, "Process_delete");
}

Process* Process_getLiveList(void) { return g_live; }

}  // extern "C"
