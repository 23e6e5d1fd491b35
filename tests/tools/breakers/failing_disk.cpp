// Breaks the model database as a host on a failing disk would: one session
// of edits, undo, redo, new edits after an undo and a close, in which the
// k-th file change fails once (and optionally a later one kills the
// process), for every k in turn; then a fresh process opens the model and
// walks back by undo, comparing what it finds with every answer the session
// was given. Mismatches are printed as FINDING lines.
//
//   failing_disk DIR MODE [new] [crashAfter]   MODE is the close mode
#include <errno.h>
#include <stdarg.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "database/database.h"
#include "errors/error.h"
#include "errors/error_manager.h"
#include "model/repository.h"
#include "support/hash_set.h"
#include "topology/topology.h"
#include "vrn_platform.h"

namespace {

int logFd = -1;

void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void say(const char* format, ...) {
    char line[4096];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n > (int)sizeof line - 1) n = sizeof line - 1;
    if (write(logFd, line, n) < 0) _exit(3);
}

std::string errors() {
    std::string out;
    int count = 0;
    vrnError** list = nullptr;
    vrnApp_getErrors(&count, &list);
    for (int i = 0; i < count; ++i) {
        out += " E" + std::to_string(list[i]->code);
        if (list[i]->code == 10046) out += "[lockleft]";
    }
    free(list);
    vrnApp_clearErrors();
    return out;
}

int regions(Repository* r) {
    Topology* t = r->primaryModel->topology;
    int n = 0;
    for (int d = 0; d < 4; ++d) n += t->regions[d] ? t->regions[d]->count : 0;
    return n;
}

// The state the session's memory is at, and its contents.
void memory(Repository* r, const char* what, int answer) {
    vrnStateManager* m = r->stateManager;
    say("%s answer=%d current=%d param=%g regions=%d%s\n", what, answer, m->current,
        r->primaryModel->parameter, regions(r), errors().c_str());
}

void edit(Repository* r, double p, const char* name) {
    Model_setRealParameter(r->primaryModel, p);
    Region* region = Region_new(2, name);
    Topology_addRegion(r->primaryModel->topology, region, nullptr);
}

int session(const std::string& path, int mode, bool fresh) {
    Repository* r = Repository_new(path.c_str());
    if (!r) {
        int count = 0;
        vrnError** list = nullptr;
        vrnApp_getErrors(&count, &list);
        for (int i = 0; i < count; ++i) say("open error %d: %s\n", list[i]->code, vrnError_getMessage(list[i]));
        say("open failed%s\n", errors().c_str());
        return 1;
    }
    vrnStateManager* m = r->stateManager;
    memory(r, "open", 1);
    int s = 0;
    if (fresh) {
        edit(r, 1, "A1"); s = vrnStateManager_closeState(m); memory(r, "close", s);
    }
    edit(r, 4, "A"); s = vrnStateManager_closeState(m); memory(r, "close", s);
    edit(r, 5, "B"); s = vrnStateManager_closeState(m); memory(r, "close", s);
    s = vrnStateManager_changeState(m, 1, -1); memory(r, "undo", s);
    edit(r, 6, "C"); s = vrnStateManager_closeState(m); memory(r, "close", s);
    s = vrnStateManager_changeState(m, 1, -1); memory(r, "undo", s);
    s = vrnStateManager_changeState(m, 1, 1); memory(r, "redo", s);
    s = vrnStateManager_changeState(m, 1, -1); memory(r, "undo", s);
    edit(r, 7, "D"); s = vrnStateManager_closeState(m); memory(r, "close", s);
    edit(r, 8, "E"); s = vrnStateManager_closeState(m); memory(r, "close", s);
    s = vrnStateManager_changeState(m, 1, -1); memory(r, "undo", s);
    s = vrnStateManager_changeState(m, 1, 1); memory(r, "redo", s);
    edit(r, 9, "F"); // left open for the close
    s = vrnStateManager_closeDatabase(m, mode);
    say("closedb answer=%d%s\n", s, errors().c_str());
    vrnStateManager_delete(m);
    return 0;
}

int makeBase(const std::string& path) {
    Repository* r = Repository_new(path.c_str());
    if (!r) return 1;
    vrnStateManager* m = r->stateManager;
    for (int i = 1; i <= 3; ++i) {
        if (i > 1) edit(r, i, ("base" + std::to_string(i)).c_str());
        else Model_setRealParameter(r->primaryModel, 1);
        vrnStateManager_closeState(m);
    }
    vrnStateManager_closeDatabase(m, -1);
    vrnStateManager_delete(m);
    return 0;
}

// A fresh process: opens and walks back, printing each state.
int walk(const std::string& original) {
    // Undo stores the current state: walk a copy so that the model stays as it is.
    std::string path = original + ".walk.vrn";
    unlink(path.c_str());
    std::string cmd = "cp " + original + " " + path;
    if (system(cmd.c_str()) != 0) { say("reopen failed: no copy\n"); return 1; }
    Repository* r = Repository_new(path.c_str());
    if (!r) { say("reopen failed%s\n", errors().c_str()); return 1; }
    vrnStateManager* m = r->stateManager;
    for (;;) {
        say("state %d param=%g regions=%d\n", m->current, r->primaryModel->parameter, regions(r));
        if (m->current <= 1) break;
        if (!vrnStateManager_changeState(m, 1, -1)) { say("walk undo refused%s\n", errors().c_str()); break; }
    }
    errors();
    vrnStateManager_releaseDatabase(m);
    return 0;
}

std::string readAll(const std::string& file) {
    std::string out;
    FILE* f = fopen(file.c_str(), "r");
    if (!f) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    fclose(f);
    return out;
}

template <class F>
int inChild(const std::string& log, F body) {
    pid_t pid = fork();
    if (pid == 0) {
        logFd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0644);
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

struct Told { double param; int regions; std::string how; };

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], "walk") == 0) { logFd = 1; return walk(argv[2]); }
    if (argc < 3) { fprintf(stderr, "usage: failing_disk DIR MODE [new|old] [crashAfter]\n"); return 2; }
    std::string dir = argv[1];
    int mode = atoi(argv[2]);
    bool fresh = argc > 3 && strcmp(argv[3], "new") == 0;
    long long crashAfter = argc > 4 ? atoll(argv[4]) : 0;
    std::string base = dir + "/base.vrn", path = dir + "/m.vrn";
    std::string slog = dir + "/session.log", wlog = dir + "/walk.log";
    if (!fresh) {
        unlink(base.c_str());
        if (inChild(slog, [&] { return makeBase(base); }) != 0) { fprintf(stderr, "base failed\n"); return 1; }
    }
    // The count of file changes of an undisturbed session.
    long long total = 0;
    {
        std::string cmd = "cp " + base + " " + path;
        unlink(path.c_str());
        if (!fresh && system(cmd.c_str()) != 0) return 1;
        std::string cnt = dir + "/count";
        inChild(slog, [&] {
            int rc = session(path, mode, fresh);
            say("COUNT %lld\n", vrnPlatform_fileChangeCount());
            return rc;
        });
        std::string s = readAll(slog);
        size_t at = s.find("COUNT ");
        total = at == std::string::npos ? 0 : atoll(s.c_str() + at + 6);
        printf("undisturbed session: %lld file changes\n%s", total, s.c_str());
    }
    // What the base model holds, by a fresh walk.
    std::map<int, Told> baseTold;
    if (!fresh) {
        inChild(wlog, [&] { return walk(base); });
        std::string w = readAll(wlog);
        size_t pos = 0;
        while (pos < w.size()) {
            size_t end = w.find('\n', pos);
            std::string l = w.substr(pos, end - pos);
            pos = end == std::string::npos ? w.size() : end + 1;
            int st, regs; double param;
            if (sscanf(l.c_str(), "state %d param=%lf regions=%d", &st, &param, &regs) == 3) baseTold[st] = {param, regs, "base"};
        }
        printf("base:\n%s", w.c_str());
    }
    int findings = 0;
    long long only = getenv("ONLY_K") ? atoll(getenv("ONLY_K")) : 0;
    for (long long k = only ? only : 1; k <= (only ? only : total); ++k) {
        unlink(path.c_str());
        unlink((path + ".lck").c_str());
        unlink((path + ".lck.lck").c_str());
        if (!fresh) { std::string cmd = "cp " + base + " " + path; if (system(cmd.c_str()) != 0) return 1; }
        int status = inChild(slog, [&] {
            vrnPlatform_setFailurePoint(k, 0);
            if (crashAfter) vrnPlatform_setCrashPoint(k + crashAfter, -1);
            return session(path, mode, fresh);
        });
        bool killed = WIFEXITED(status) && WEXITSTATUS(status) == VRN_CRASH_POINT_STATUS;
        std::string s = readAll(slog);
        // What the host was told: the last word on each state number.
        std::map<int, Told> told;
        if (!fresh) told = baseTold;
        int finalCurrent = 0;
        bool lockLeftReported = false;
        double finalParam = 0;
        int closeAnswer = -5;
        char line[4096];
        size_t pos = 0;
        while (pos < s.size()) {
            size_t end = s.find('\n', pos);
            std::string l = s.substr(pos, end - pos);
            pos = end == std::string::npos ? s.size() : end + 1;
            snprintf(line, sizeof line, "%s", l.c_str());
            char what[32]; int answer, current, regs; double param;
            if (sscanf(line, "%31s answer=%d current=%d param=%lf regions=%d", what, &answer, &current, &param, &regs) == 5) {
                if (current > 0) { told[current] = {param, regs, l}; finalCurrent = current; finalParam = param; }
                // Drop what is above the current after a new state closes.
                if (strcmp(what, "close") == 0 && answer > 0)
                    for (auto it = told.upper_bound(current); it != told.end();) it = told.erase(it);
            }
            if (sscanf(line, "closedb answer=%d", &closeAnswer) == 1 && closeAnswer == 1) {
                for (auto it = told.upper_bound(finalCurrent); it != told.end();) it = told.erase(it);
                if (finalCurrent > 0) told[finalCurrent + 1] = {9, told[finalCurrent].regions + 1, l};
            }
            if (l.find("lockleft") != std::string::npos) lockLeftReported = true;
        }
        (void)finalParam;
        bool lock = access((path + ".lck").c_str(), F_OK) == 0;
        bool lock2 = access((path + ".lck.lck").c_str(), F_OK) == 0;
        if ((lock || lock2) && !killed && !lockLeftReported) {
            printf("FINDING k=%lld: lock file left (%s%s) without error 10046\n%s", k, lock ? ".lck " : "",
                   lock2 ? ".lck.lck" : "", s.c_str());
            ++findings;
        }
        if (lock) unlink((path + ".lck").c_str());
        if (lock2) unlink((path + ".lck.lck").c_str());
        if (access(path.c_str(), F_OK) != 0) {
            if (!fresh || finalCurrent > 0) { printf("FINDING k=%lld: model file missing\n%s", k, s.c_str()); ++findings; }
            continue;
        }
        if (only) { std::string cmd = "cp " + path + " " + path + ".after; ls -la " + dir; if (system(cmd.c_str())) {} }
        inChild(wlog, [&] { return walk(path); });
        std::string w = readAll(wlog);
        if (w.find("reopen failed") != std::string::npos) {
            printf("FINDING k=%lld: model does not open: %s\nsession:\n%s", k, w.c_str(), s.c_str());
            ++findings;
            continue;
        }
        std::map<int, Told> found;
        pos = 0;
        int top = 0;
        while (pos < w.size()) {
            size_t end = w.find('\n', pos);
            std::string l = w.substr(pos, end - pos);
            pos = end == std::string::npos ? w.size() : end + 1;
            int st, regs; double param;
            if (sscanf(l.c_str(), "state %d param=%lf regions=%d", &st, &param, &regs) == 3) {
                found[st] = {param, regs, l};
                if (!top) top = st;
            }
        }
        bool bad = false;
        std::string why;
        if (mode == 1 && top == 1 && found.size() == 1 && closeAnswer == 1) {
            // reduced to one state: must be the state the session ended at (param 9 when the open state was stored)
        } else {
            for (auto& [st, t] : told) {
                if (st > top) continue;  // above the reopened current: redo territory
                auto f = found.find(st);
                if (f == found.end()) { bad = true; why += " state " + std::to_string(st) + " not reached;"; continue; }
                if (f->second.param != t.param || f->second.regions != t.regions) {
                    bad = true;
                    why += " state " + std::to_string(st) + " told param " + std::to_string(t.param) + "/" +
                           std::to_string(t.regions) + " regions, found " + std::to_string(f->second.param) + "/" +
                           std::to_string(f->second.regions) + ";";
                }
            }
            // The reopened current is what the session last showed, or the open state closed by closedb.
            if (!killed && closeAnswer == 1 && top != finalCurrent && top != finalCurrent + 1) {
                bad = true;
                why += " reopened at " + std::to_string(top) + ", session ended at " + std::to_string(finalCurrent) + ";";
            }
            if (!killed && closeAnswer == 0 && top != finalCurrent) {
                bad = true;
                why += " close answered 0 but reopened at " + std::to_string(top) + ", session at " + std::to_string(finalCurrent) + ";";
            }
            if (!fresh && top < 4 && !killed) { bad = true; why += " base state lost;"; }
        }
        if (bad) {
            printf("FINDING k=%lld%s:%s\nsession:\n%swalk:\n%s", k, killed ? " (killed)" : "", why.c_str(), s.c_str(), w.c_str());
            ++findings;
        }
    }
    printf("%lld runs, %d findings\n", only ? 1 : total, findings);
    return findings ? 1 : 0;
}
