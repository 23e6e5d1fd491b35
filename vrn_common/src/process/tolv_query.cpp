#include "process/tolv_query.h"

#include <ctype.h>
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

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

// An integer line as "%d" reads it, whatever follows ignored; a value
// outside int is refused, so that no count or id is wrapped round.
bool scanInt(const char* line, int* value) { return vrn::scanInt(line, value) != nullptr; }

// The four result arrays, grown as models arrive: the count line alone never
// decides how much is allocated, so a count that the output cannot back
// fails as a parse error instead of ending the process.
struct Models {
    int capacity = 0;
    int* ids1 = nullptr;
    int* ids2 = nullptr;
    char** names1 = nullptr;
    char** names2 = nullptr;

    // false when the arrays cannot grow that far (their byte sizes are int).
    bool ensure(int index) {
        if (index < capacity) return true;
        const int most = INT_MAX / static_cast<int>(sizeof(char*));
        if (index >= most) return false;
        int grown = capacity ? capacity : 16;
        while (grown <= index) grown = grown > most / 2 ? most : grown * 2;
        const char* tag = "readOutput";
        ids1 = static_cast<int*>(vrnRealloc(ids1, grown * static_cast<int>(sizeof(int)), tag));
        ids2 = static_cast<int*>(vrnRealloc(ids2, grown * static_cast<int>(sizeof(int)), tag));
        names1 = static_cast<char**>(vrnRealloc(names1, grown * static_cast<int>(sizeof(char*)), tag));
        names2 = static_cast<char**>(vrnRealloc(names2, grown * static_cast<int>(sizeof(char*)), tag));
        for (int i = capacity; i < grown; ++i) names1[i] = names2[i] = nullptr;
        capacity = grown;
        return true;
    }
    void release() {
        for (int i = 0; i < capacity; ++i) {
            vrnCString_free(names1[i]);
            vrnCString_free(names2[i]);
        }
        vrnFree(ids1, "readOutput");
        vrnFree(ids2, "readOutput");
        vrnFree(names1, "readOutput");
        vrnFree(names2, "readOutput");
        *this = Models();
    }
};

int readOutput(int* n, Conduit* conduit, int** ids1, int** ids2, char*** names1, char*** names2) {
    static vrnDebugPreamble debug;
    debug.enter("readOutput", "Read mesh data from vrnTOLVReader.exe.");

    int inError = 0, inWarning = 0, inModels = 0;
    int index = -1, field = 0, fail = 0, result = 1;
    vrnError* errorObject = nullptr;
    vrnError* warningObject = nullptr;
    Models models;
    *n = 0;
    *ids1 = *ids2 = nullptr;
    *names1 = *names2 = nullptr;

    int size = 256;
    char* line = static_cast<char*>(vrnMalloc(size, "readOutput"));
    int length;
    while ((length = Conduit_getline(conduit, &line, &size)) >= 0) {
        if (length > 0 && line[length - 1] == '\r') line[--length] = '\0';
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
            }
        } else if (index >= *n) {
            fail = 1;
            inModels = 0;
        } else if (!models.ensure(index)) {
            fail = 1;
            inModels = 0;
        } else {
            int value = 0;
            switch (field) {
            case 0:
                if (scanInt(line, &value)) models.ids1[index] = value;
                else fail = 1;
                break;
            case 1: models.names1[index] = vrnCString_clone(line); break;
            case 2:
                if (scanInt(line, &value)) models.ids2[index] = value;
                else fail = 1;
                break;
            default: models.names2[index] = vrnCString_clone(line); break;
            }
            if (fail) {
                inModels = 0;
            } else if (++field == 4) {
                field = 0;
                ++index;
            }
        }
    }
    vrnFree(line, "readOutput");

    if (warningObject) vrnError_publish(warningObject);

    if (!fail && (index == -1 || index == *n)) {
        if (index == -1) *n = 0;
        if (*n > 0) {
            *ids1 = models.ids1;
            *ids2 = models.ids2;
            *names1 = models.names1;
            *names2 = models.names2;
        } else {
            models.release();
        }
        return result;
    }
    vrnError* e = vrnError_new(VRN_U_INVALID_RESULT, "readOutput", __FILE__, __LINE__);
    vrnError_addMessage(e, "%s", kParseMessage);
    vrnError_publish(e);
    *n = 0;
    models.release();
    return 0;
}

void releaseOutputs(int* n, int** ids1, int** ids2, char*** names1, char*** names2) {
    vrnCStringArray_free(*names1, *n);
    vrnCStringArray_free(*names2, *n);
    vrnFree(*ids1, "vrnTOLVQuery_getModels");
    vrnFree(*ids2, "vrnTOLVQuery_getModels");
    *n = 0;
    *ids1 = *ids2 = nullptr;
    *names1 = *names2 = nullptr;
}

}  // namespace

extern "C" {

int vrnTOLVQuery_getModels(const char* file, int* n, int** ids1, int** ids2, char*** names1,
                           char*** names2) {
    Environment* environment = Environment_new("KWX5");
    if (!environment) return 0;

    static vrnDebugPreamble debug;
    debug.enter("vrnTOLVQuery_getModels", "Query a Simulation database.");

    *n = 0;
    *ids1 = *ids2 = nullptr;
    *names1 = *names2 = nullptr;

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
        result = readOutput(n, conduit, ids1, ids2, names1, names2);
        Process_wait(process);
        // A reader that a signal ended may have stopped anywhere in its
        // output: what it wrote cannot be trusted. A host that reaps its
        // children itself (SIGCHLD ignored, or a handler that waits for
        // every child) may take the status first; then no signal is known
        // and the output alone decides.
        int signal = Process_getTerminationSignal(process);
        if (signal != 0) {
            vrnError* e = vrnError_new(VRN_U_CHILD_PROCESS_CRASHED, "vrnTOLVQuery_getModels",
                                       __FILE__, __LINE__);
            vrnError_addMessage(e, "kwxtolvreader was ended by signal %d before it finished.\n",
                                signal);
            vrnError_publish(e);
            releaseOutputs(n, ids1, ids2, names1, names2);
            result = 0;
        }
        Conduit_delete(conduit);
        Process_delete(process);
    }
    Command_delete(command);
    Environment_delete(environment);
    return result;
}

}  // extern "C"
