#include "process/tolv_query.h"

#include <ctype.h>
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <new>
#include <string>

#include "debug/debug_manager.h"
#include "errors/error.h"
#include "interprocess/conduit.h"
#include "process/command.h"
#include "process/process.h"
#include "support/cstring.h"
#include "support/scan_int.h"
#include "support/memory.h"
#include "support/system.h"

namespace {

const char kParseMessage[] = "There was a problem parsing the output from kwxtolvreader.\n";

// Tags match at the start of a line over their own length. Every tag opens
// with '<': the many value lines of a long listing are told apart by their
// first byte, without a comparison per tag.
template <size_t N>
bool startsWith(const char* line, const char (&tag)[N]) {
    return line[0] == '<' && strncmp(line, tag, N - 1) == 0;
}

// A line that is no tag but the start of one ("<MODELS_BE"): the last line
// of output that was cut inside a tag.
bool startsATag(const char* line, int length) {
    static const char* const tags[] = {"<MODELS_BEG>", "<MODELS_END>", "<WARNING_BEG>",
                                       "<WARNING_END>", "<ERROR_BEG>",  "<ERROR_END>"};
    if (length == 0 || line[0] != '<') return false;
    for (const char* tag : tags)
        if (static_cast<size_t>(length) < strlen(tag) && memcmp(line, tag, static_cast<size_t>(length)) == 0)
            return true;
    return false;
}

// An integer line as "%d" reads it, whatever follows ignored; a value
// outside int is refused, so that no count or id is wrapped round.
bool scanInt(const char* line, int* value) { return vrn::scanInt(line, value) != nullptr; }

// The four result arrays of vrnTOLVQuery_getModels, grown as models arrive:
// the count line alone never decides how much is allocated, so a count that
// the output cannot back fails as a parse error instead of ending the
// process. They reach the caller's outputs when the query ends with models.
class ModelArrays : public vrn::TolvModelSink {
public:
    ModelArrays(int** ids1, int** ids2, char*** names1, char*** names2)
        : out1_(ids1), out2_(ids2), outNames1_(names1), outNames2_(names2) {}
    ~ModelArrays() override { release(); }

    bool add(int id1, const char* name1, size_t, int id2, const char* name2, size_t) override {
        if (!ensure(count_)) return false;
        ids1_[count_] = id1;
        ids2_[count_] = id2;
        names1_[count_] = vrnCString_clone(name1);
        names2_[count_] = vrnCString_clone(name2);
        ++count_;
        return true;
    }
    void reset() override {
        release();
        *out1_ = *out2_ = nullptr;
        *outNames1_ = *outNames2_ = nullptr;
    }
    // Hands the arrays to the caller's outputs when there are models.
    void handOver() {
        if (count_ == 0) return;
        *out1_ = ids1_;
        *out2_ = ids2_;
        *outNames1_ = names1_;
        *outNames2_ = names2_;
        ids1_ = ids2_ = nullptr;
        names1_ = names2_ = nullptr;
        count_ = capacity_ = 0;
    }

private:
    // false when the arrays cannot grow that far (their byte sizes are int).
    bool ensure(int index) {
        if (index < capacity_) return true;
        const int most = INT_MAX / static_cast<int>(sizeof(char*));
        if (index >= most) return false;
        int grown = capacity_ ? capacity_ : 16;
        while (grown <= index) grown = grown > most / 2 ? most : grown * 2;
        const char* tag = "readOutput";
        ids1_ = static_cast<int*>(vrnRealloc(ids1_, grown * static_cast<int>(sizeof(int)), tag));
        ids2_ = static_cast<int*>(vrnRealloc(ids2_, grown * static_cast<int>(sizeof(int)), tag));
        names1_ = static_cast<char**>(vrnRealloc(names1_, grown * static_cast<int>(sizeof(char*)), tag));
        names2_ = static_cast<char**>(vrnRealloc(names2_, grown * static_cast<int>(sizeof(char*)), tag));
        capacity_ = grown;
        return true;
    }
    void release() {
        for (int i = 0; i < count_; ++i) {
            vrnCString_free(names1_[i]);
            vrnCString_free(names2_[i]);
        }
        vrnFree(ids1_, "readOutput");
        vrnFree(ids2_, "readOutput");
        vrnFree(names1_, "readOutput");
        vrnFree(names2_, "readOutput");
        ids1_ = ids2_ = nullptr;
        names1_ = names2_ = nullptr;
        count_ = capacity_ = 0;
    }

    int** out1_;
    int** out2_;
    char*** outNames1_;
    char*** outNames2_;
    int capacity_ = 0;
    int count_ = 0;
    int* ids1_ = nullptr;
    int* ids2_ = nullptr;
    char** names1_ = nullptr;
    char** names2_ = nullptr;
};

// Hands each line of the child's output through the conduit to take(line,
// length), split in place in one read buffer: its newline replaced by NUL.
// A line longer than the buffer grows it; the last line needs no newline,
// and *endsInsideLine says whether it had none (set before that line is
// handed out). The output ends where the child has ended and left nothing
// more to read (exitFd: the Process's).
template <class Take>
bool forEachLine(Conduit* conduit, int exitFd, bool* endsInsideLine, Take take) {
    *endsInsideLine = false;
    int size = 65536;  // room for the bytes read and a NUL after them
    char* buffer = static_cast<char*>(vrnMalloc(size, "readOutput"));
    int start = 0;
    int fill = 0;
    for (;;) {
        while (char* nl = static_cast<char*>(memchr(buffer + start, '\n', static_cast<size_t>(fill - start)))) {
            *nl = '\0';
            take(buffer + start, static_cast<int>(nl - buffer) - start);
            start = static_cast<int>(nl - buffer) + 1;
        }
        if (start > 0) {
            memmove(buffer, buffer + start, static_cast<size_t>(fill - start));
            fill -= start;
            start = 0;
        }
        if (fill >= size - 1) {
            if (size > INT_MAX / 2) {  // a line of a gigabyte: handed out in pieces
                buffer[fill] = '\0';
                take(buffer, fill);
                fill = 0;
            } else {
                size *= 2;
                buffer = static_cast<char*>(vrnRealloc(buffer, size, "readOutput"));
            }
        }
        const long got = Conduit_readWhileRunning(conduit, exitFd, buffer + fill, size - 1 - fill);
        if (got < 0) {
            vrnFree(buffer, "readOutput");
            return false;
        }
        if (got == 0) {
            if (fill > 0) {
                buffer[fill] = '\0';
                *endsInsideLine = true;
                take(buffer, fill);
            }
            break;
        }
        fill += static_cast<int>(got);
    }
    vrnFree(buffer, "readOutput");
    return true;
}

// Parses the reader's output. *unfinished says whether it ends before the
// reader was done (output that does not parse too, as a listing cut before
// all its models came is short of values): inside a block (models, warning or
// error) that it opened, which takes in a last value without its newline,
// or inside a tag. A reader that died there wrote no more than that.
int readOutput(int* n, Conduit* conduit, int exitFd, vrn::TolvModelSink& models, bool* unfinished) {
    static vrnDebugPreamble debug;
    debug.enter("readOutput", "Read mesh data from vrnTOLVReader.exe.");

    int inError = 0, inWarning = 0, inModels = 0;
    int index = -1, field = 0, fail = 0, result = 1;
    vrnError* errorObject = nullptr;
    vrnError* warningObject = nullptr;
    // The model being read: its values wait until its last one arrives.
    int id1 = 0, id2 = 0;
    std::string name1;
    bool cutInsideTag = false;
    *unfinished = false;
    *n = 0;
    models.reset();

    // A read that fails, or memory that runs out, ends the listing as
    // output that cannot be parsed.
    bool endsInsideLine = false;
    const bool whole = forEachLine(conduit, exitFd, &endsInsideLine, [&](char* line, int length) {
        if (length > 0 && line[length - 1] == '\r') line[--length] = '\0';
        if (endsInsideLine) cutInsideTag = startsATag(line, length);  // the last line only
        if (debug.tracing()) {
            FILE* trace = vrnDebug_getStream();
            fprintf(trace, "%s\n", line);
            fflush(trace);
        }
        if (inError) {
            if (startsWith(line, "<ERROR_END>")) {
                vrnError_publish(errorObject);
                errorObject = nullptr;
                inError = 0;
            } else {
                vrnError_addMessage(errorObject, "  %s\n", line);
            }
        } else if (startsWith(line, "<ERROR_BEG>")) {
            errorObject = vrnError_new(VRN_U_INVALID_RESULT, "readOutput", __FILE__, __LINE__);
            vrnError_addMessage(errorObject, "%s",
                                "There was a problem querying the meshing database. The\n"
                                "following problem was reported:\n\n");
            result = 0;
            inError = 1;
        } else if (inWarning) {
            if (startsWith(line, "<WARNING_END>")) inWarning = 0;
            else vrnError_addMessage(warningObject, "  %s\n", line);
        } else if (startsWith(line, "<WARNING_BEG>")) {
            if (!warningObject) {
                warningObject =
                    vrnError_new(VRN_W_INVALID_RESULT_IGNORED, "readOutput", __FILE__, __LINE__);
                vrnError_addMessage(warningObject, "%s",
                                    "The process of querying the meshing database reported the\n"
                                    "following warning(s):\n\n");
            } else {
                vrnError_addMessage(warningObject, "%s", "\n");
            }
            inWarning = 1;
        } else if (!inModels) {
            if (startsWith(line, "<MODELS_BEG>")) inModels = 1;
        } else if (startsWith(line, "<MODELS_END>")) {
            inModels = 0;
        } else if (index == -1) {
            index = 0;
            if (!scanInt(line, n) || *n < 1) {
                fail = 1;
                inModels = 0;
            } else {
                models.expect(*n);
            }
        } else if (index >= *n) {
            fail = 1;
            inModels = 0;
        } else if (memchr(line, '\0', static_cast<size_t>(length))) {
            // A NUL would cut a name short without a word.
            fail = 1;
            inModels = 0;
        } else {
            try {
                switch (field) {
                case 0: fail = !scanInt(line, &id1); break;
                case 1: name1.assign(line, static_cast<size_t>(length)); break;
                case 2: fail = !scanInt(line, &id2); break;
                default:
                    fail = !models.add(id1, name1.c_str(), name1.size(), id2, line, static_cast<size_t>(length));
                    break;
                }
            } catch (const std::bad_alloc&) {
                fail = 1;
            }
            if (fail) {
                inModels = 0;
            } else if (++field == 4) {
                field = 0;
                ++index;
            }
        }
    });

    if (warningObject) vrnError_publish(warningObject);
    if (!whole) fail = 1;
    *unfinished = inModels || inWarning || inError || cutInsideTag;
    if (!fail && (index == -1 || index == *n)) {
        if (index == -1) *n = 0;
        return result;
    }
    vrnError* e = vrnError_new(VRN_U_INVALID_RESULT, "readOutput", __FILE__, __LINE__);
    vrnError_addMessage(e, "%s", kParseMessage);
    vrnError_publish(e);
    *n = 0;
    models.reset();
    return 0;
}

}  // namespace

namespace vrn {

int TOLVQuery_listModels(const char* file, int* n, TolvModelSink& models) {
    Environment* environment = Environment_new("KWX5");
    if (!environment) return 0;

    static vrnDebugPreamble debug;
    debug.enter("vrnTOLVQuery_getModels", "Query a Simulation database.");

    *n = 0;
    models.reset();

    // A folder, FIFO or device is no database: the reader would block for
    // ever on a FIFO, and the caller with it.
    if (file && vrnFileExists(file) && !vrnIsRegularFile(file)) {
        vrnError* e = vrnError_new(VRN_U_INVALID_INPUT, "vrnTOLVQuery_getModels", __FILE__, __LINE__);
        vrnError_addMessage(e, "The file \"%s\" is not a regular file.\n", file);
        vrnError_publish(e);
        Environment_delete(environment);
        return 0;
    }

    Command* command = Command_new(environment, "kwxtolvreader.exe", VRN_COMMAND_LOOKUP);
    // Plain arguments: a file name holding '<' or '>' is a name, never a
    // redirection.
    Command_addPlainArgument(command, "-list");
    Command_addPlainArgument(command, file ? file : "");
    Command_addPlainArgument(command, "-server_mode");

    int result = 0;
    Conduit* conduit = nullptr;
    Process* process = Process_new(command, "pipe: 1.0", &conduit);
    if (!process) {
        const int reason = errno;
        vrnError* e = vrnError_new(VRN_U_UNABLE_TO_SPAWN_PROCESS, "vrnTOLVQuery_getModels",
                                   __FILE__, __LINE__);
        vrnError_addMessage(e, "%s",
                            "Unable to run kwxtolvreader. Are you sure that the appropriate\n"
                            "executable exists?\n");
        char* path = Command_getPath(command);
        vrnError_addMessage(e, "Path tried: %s\n", path ? path : "");
        vrnCString_free(path);
        if (reason) vrnError_addMessage(e, "Reason: %s\n", strerror(reason));
        vrnError_publish(e);
    } else {
        bool unfinished = false;
        result = readOutput(n, conduit, process->exitFd, models, &unfinished);
        const bool statusKnown = Process_wait(process) == 1;
        // A reader that a signal ended may have stopped anywhere in its
        // output: what it wrote cannot be trusted. A host that reaps its
        // children itself (SIGCHLD ignored or SA_NOCLDWAIT, or a handler
        // that waits for every child) may take the status first; then no
        // signal is known and the output alone decides. Output that ends
        // with every block it opened closed, and not inside a tag, was
        // printed whole or not begun (no output at all lists no models);
        // output that ends inside a value, a tag or an open block may be
        // that of a reader killed there, and fails.
        int signal = Process_getTerminationSignal(process);
        const bool cutShort = !statusKnown && unfinished;
        if (signal != 0 || cutShort) {
            vrnError* e = vrnError_new(signal != 0 ? VRN_U_CHILD_PROCESS_CRASHED : VRN_U_INVALID_RESULT,
                                       "vrnTOLVQuery_getModels", __FILE__, __LINE__);
            if (signal != 0)
                vrnError_addMessage(e, "kwxtolvreader was ended by signal %d before it finished.\n",
                                    signal);
            else
                vrnError_addMessage(e, "%s",
                                    "The output of kwxtolvreader ends inside a value, a tag or a block,\n"
                                    "and how kwxtolvreader ended is not known (the host reaps its\n"
                                    "children itself): the listing may have been cut short.\n");
            vrnError_publish(e);
            *n = 0;
            models.reset();
            result = 0;
        }
        Conduit_delete(conduit);
        Process_delete(process);
    }
    Command_delete(command);
    Environment_delete(environment);
    return result;
}

}  // namespace vrn

extern "C" {

int vrnTOLVQuery_getModels(const char* file, int* n, int** ids1, int** ids2, char*** names1,
                           char*** names2) {
    ModelArrays models(ids1, ids2, names1, names2);
    const int result = vrn::TOLVQuery_listModels(file, n, models);
    models.handOver();
    return result;
}

}  // extern "C"
