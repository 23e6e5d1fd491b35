#include "debug/session_file.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "debug/debug_manager.h"
#include "support/cstring.h"
#include "support/exit_handler.h"
#include "support/hash_table.h"
#include "support/memory.h"
#include "support/system.h"

namespace {

SessionFile* g_journal = nullptr;
bool g_firstUse = true;
SessionFile_StateQuery g_stateQuery = nullptr;

/* Handles are compared by identity and spread by address. */
int hashHandle(const void* key, int n) {
    return static_cast<int>(reinterpret_cast<std::uintptr_t>(key) % static_cast<std::uintptr_t>(n));
}

int sameHandle(const void* stored, const void* key) { return stored == key; }

void releaseAtExit() {
    if (g_journal) SessionFile_delete(g_journal);
    g_journal = nullptr;
}

/* Once it has run, a late call opens nothing. */
using AtExit = vrnExitHandler<releaseAtExit>;

/* The journal level: VRN_SESSION_FILE_LEVEL read as a leading integer (0
 * when it does not start with one), 2 when unset. */
int journalLevel() {
    char* text = vrnReadEnvironmentVariable("VRN_SESSION_FILE_LEVEL", nullptr);
    if (!text) return 2;
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (end == text) value = 0;
    if (value > INT_MAX) value = INT_MAX;
    if (value < INT_MIN) value = INT_MIN;
    vrnCString_free(text);
    return static_cast<int>(value);
}

/* Stores the handle's current state, making an entry for a new handle. */
void noteHandleState(SessionFile* journal, void* handle) {
    auto* state = static_cast<int*>(HashTable_get(journal->handles, handle));
    if (!state) {
        state = static_cast<int*>(vrnCalloc(static_cast<int>(sizeof(int)), 0, "SessionFile_record"));
        HashTable_newHashEntry(journal->handles, handle, state);
    }
    if (g_stateQuery) *state = g_stateQuery(handle);
}

}  // namespace

extern "C" {

SessionFile_StateQuery SessionFile_setStateQuery(SessionFile_StateQuery query) {
    SessionFile_StateQuery previous = g_stateQuery;
    g_stateQuery = query;
    return previous;
}

SessionFile* SessionFile_get(void) { return g_journal; }

int SessionFile_record(void* handle, int status) {
    if (g_firstUse && !AtExit::hasRun()) {
        g_firstUse = false;
        if (!g_journal) {
            char* path = vrnReadEnvironmentVariable("VRN_SESSION_FILE", nullptr);
            if (!path) path = vrnCString_clone(vrnDebugManager_getSessionFileName(vrnDebugManager_get()));
            if (!path) return 0;
            SessionFile_new(path, journalLevel());
            vrnCString_free(path);
        }
    }
    SessionFile* journal = g_journal;
    if (!journal) return 0;
    if (handle) noteHandleState(journal, handle);
    if (journal->level == 3) return 1;
    return status == 1 && (journal->level == 1 || journal->level == 2) ? 1 : 0;
}

void SessionFile_write(const char* name) {
    if (g_journal) Session_writeLine(g_journal->session, name);
}

SessionFile* SessionFile_new(const char* path, int level) {
    if (g_journal) {
        SessionFile_delete(g_journal);
        g_journal = nullptr;
    }
    FILE* file = path ? std::fopen(path, "ae") : nullptr;
    if (!file) {
        std::fprintf(stderr, "\n\nERROR: Unable to open session file %s.\n", path ? path : "(null)");
        std::fprintf(stderr, "       Session recording has not been activated.\n\n");
        return nullptr;
    }
    auto* journal = static_cast<SessionFile*>(
        vrnCalloc(static_cast<int>(sizeof(SessionFile)), 0, "SessionFile_new"));
    journal->level = level;
    journal->file = file;
    journal->handles = HashTable_new(20, hashHandle, sameHandle);
    journal->session = Session_new();
    Session_startRecording(journal->session, file);
    g_journal = journal;
    AtExit::ensureRegistered();
    return journal;
}

void SessionFile_delete(SessionFile* journal) {
    if (!journal) return;
    if (journal == g_journal) g_journal = nullptr;
    Session_stopRecording(journal->session);
    if (journal->file) std::fclose(journal->file);
    Session_delete(journal->session);
    if (journal->handles) {
        HashTableIterator* it = HashTableIterator_new(journal->handles);
        for (Pair* pair = HashTableIterator_first(it); pair; pair = HashTableIterator_next(it)) {
            vrnFree(pair->second, "SessionFile_delete");
        }
        HashTableIterator_delete(it);
        HashTable_delete(journal->handles);
    }
    vrnFree(journal, "SessionFile_delete");
}

Session* Session_new(void) {
    auto* session = static_cast<Session*>(vrnCalloc(static_cast<int>(sizeof(Session)), 0, "Session_new"));
    session->stream = stdout;
    return session;
}

void Session_delete(Session* session) { vrnFree(session, "Session_delete"); }

int Session_startRecording(Session* session, FILE* stream) {
    session->stream = stream;
    std::fputs(vrnStartBanner({"# ", "Session file started:", 22, nullptr, nullptr}).c_str(), stream);
    std::fflush(stream);
    return 1;
}

int Session_stopRecording(Session* session) {
    if (!session) return 1;
    if (session->stream) {
        char* date = vrnGetDate();
        char* time = vrnGetTime();
        if (date && time) std::fprintf(session->stream, "# Session file stopped: %s %s\n", date, time);
        vrnCString_free(date);
        vrnCString_free(time);
        std::fflush(session->stream);
    }
    session->stream = nullptr;
    return 1;
}

void Session_writeLine(Session* session, const char* text) {
    if (!session || !session->stream) return;
    if (text) std::fputs(text, session->stream);
    std::fputc('\n', session->stream);
    std::fflush(session->stream);
}

}  // extern "C"
