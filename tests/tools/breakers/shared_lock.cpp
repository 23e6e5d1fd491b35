// Two outside checks of the model database's locking on a failing disk:
//   shared_lock trace FILE        lists the file changes of one edit session
//   shared_lock browse DIR        a model nobody may write, browsed as user nobody
//   shared_lock twowriters DIR K  writer A whose K-th file change (its lock
//                                 file's create) fails, writer B beside it
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "database/database.h"
#include "errors/error.h"
#include "errors/error_manager.h"
#include "model/repository.h"
#include "topology/topology.h"
#include "vrn_platform.h"

namespace {

void errors(const char* who) {
    int count = 0;
    vrnError** list = nullptr;
    vrnApp_getErrors(&count, &list);
    for (int i = 0; i < count; ++i) printf("%s error %d: %s\n", who, list[i]->code, vrnError_getMessage(list[i]));
    free(list);
    vrnApp_clearErrors();
    fflush(stdout);
}

void hook(const char* path) { printf("  call %lld: %s\n", vrnPlatform_fileChangeCount() + 1, path); }

std::string bytes(const std::string& file) {
    std::string out;
    FILE* f = fopen(file.c_str(), "rb");
    if (!f) return "<none>";
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    fclose(f);
    return out;
}

int makeModel(const std::string& path) {
    pid_t pid = fork();
    if (pid == 0) {
        Repository* r = Repository_new(path.c_str());
        if (!r) _exit(1);
        for (int i = 1; i <= 3; ++i) {
            Model_setRealParameter(r->primaryModel, i);
            vrnStateManager_closeState(r->stateManager);
        }
        vrnStateManager_closeDatabase(r->stateManager, -1);
        _exit(0);
    }
    int status;
    waitpid(pid, &status, 0);
    return status;
}

int browse(const std::string& dir, bool folderWritable, int mode) {
    std::string path = dir + "/ro.vrn";
    unlink(path.c_str());
    if (makeModel(path)) return 1;
    chmod(path.c_str(), 0444);
    if (folderWritable) chmod(dir.c_str(), 0777); else chmod(dir.c_str(), 0755);
    std::string before = bytes(path);
    pid_t pid = fork();
    if (pid == 0) {
        if (setgid(65534) || setuid(65534)) _exit(2);
        Repository* r = Repository_new(path.c_str());
        if (!r) { errors("open"); _exit(1); }
        vrnStateManager* m = r->stateManager;
        printf("opened at %d param %g\n", m->current, r->primaryModel->parameter);
        errors("open");
        int a = vrnStateManager_changeState(m, 1, -1);
        printf("undo %d -> %d param %g\n", a, m->current, r->primaryModel->parameter);
        errors("undo");
        a = vrnStateManager_changeState(m, 1, 1);
        printf("redo %d -> %d param %g\n", a, m->current, r->primaryModel->parameter);
        errors("redo");
        a = vrnStateManager_changeState(m, 1, -1);
        printf("undo %d -> %d param %g\n", a, m->current, r->primaryModel->parameter);
        errors("undo");
        if (getenv("EDIT")) {
            Model_setRealParameter(r->primaryModel, 77);
            a = vrnStateManager_closeState(m);
            printf("edit close %d -> %d param %g\n", a, m->current, r->primaryModel->parameter);
            errors("edit");
        }
        a = vrnStateManager_closeDatabase(m, mode);
        printf("closedb(%d) %d\n", mode, a);
        errors("closedb");
        _exit(0);
    }
    int status;
    waitpid(pid, &status, 0);
    chmod(dir.c_str(), 0755);
    printf("file %s; lock files: %s %s\n", bytes(path) == before ? "unchanged" : "CHANGED",
           access((path + ".lck").c_str(), F_OK) == 0 ? ".lck" : "-",
           access((path + ".lck.lck").c_str(), F_OK) == 0 ? ".lck.lck" : "-");
    system(("ls -la " + dir).c_str());
    return 0;
}

// A and B each: open, set a parameter, close a state, wait for the other,
// close the database. Pipes order them: A opens and edits first, then B.
int twoWriters(const std::string& dir, long long k, bool fresh) {
    std::string path = dir + "/two.vrn";
    unlink(path.c_str());
    unlink((path + ".lck").c_str());
    unlink((path + ".lck.lck").c_str());
    if (!fresh && makeModel(path)) return 1;
    int ab[2], ba[2];
    if (pipe(ab) || pipe(ba)) return 1;
    char c = 0;
    pid_t a = fork();
    if (a == 0) {
        vrnPlatform_setFailurePoint(k, 0);
        if (getenv("TRACE")) vrnPlatform_setFileChangeHook(hook);
        Repository* r = Repository_new(path.c_str());
        if (!r) { errors("A open"); if (write(ab[1], "x", 1)) {} _exit(1); }
        errors("A open");
        Model_setRealParameter(r->primaryModel, 100);
        int s = vrnStateManager_closeState(r->stateManager);
        printf("A: close state answered %d\n", s);
        errors("A");
        if (write(ab[1], "x", 1) < 0 || read(ba[0], &c, 1) < 0) _exit(3);
        int d = vrnStateManager_closeDatabase(r->stateManager, -1);
        printf("A: closedb %d\n", d);
        errors("A close");
        _exit(0);
    }
    pid_t b = fork();
    if (b == 0) {
        if (read(ab[0], &c, 1) < 0) _exit(3);
        long t0 = time(nullptr);
        Repository* r = Repository_new(path.c_str());
        printf("B: open took %ld s\n", (long)(time(nullptr) - t0));
        if (!r) { errors("B open"); if (write(ba[1], "x", 1)) {} _exit(1); }
        Model_setRealParameter(r->primaryModel, 200);
        int s = vrnStateManager_closeState(r->stateManager);
        printf("B: close state answered %d\n", s);
        errors("B");
        if (write(ba[1], "x", 1) < 0) _exit(3);
        usleep(200000);
        int d = vrnStateManager_closeDatabase(r->stateManager, -1);
        printf("B: closedb %d\n", d);
        errors("B close");
        _exit(0);
    }
    int status;
    waitpid(a, &status, 0);
    waitpid(b, &status, 0);
    pid_t c2 = fork();
    if (c2 == 0) {
        unlink((path + ".lck").c_str());
        Repository* r = Repository_new(path.c_str());
        if (!r) { errors("fresh open"); _exit(1); }
        printf("fresh open: state %d param %g\n", r->stateManager->current, r->primaryModel->parameter);
        errors("fresh");
        vrnStateManager_releaseDatabase(r->stateManager);
        _exit(0);
    }
    waitpid(c2, &status, 0);
    return 0;
}

int trace(const std::string& path) {
    Repository* r = Repository_new(path.c_str());
    if (!r) { errors("open"); return 1; }
    vrnPlatform_setFileChangeHook(hook);
    Model_setRealParameter(r->primaryModel, 100);
    printf("close state %d\n", vrnStateManager_closeState(r->stateManager));
    printf("closedb %d\n", vrnStateManager_closeDatabase(r->stateManager, -1));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc == 3 && !strcmp(argv[1], "trace")) return trace(argv[2]);
    if (argc >= 3 && !strcmp(argv[1], "browse"))
        return browse(argv[2], argc > 3 && !strcmp(argv[3], "folder"), argc > 4 ? atoi(argv[4]) : -1);
    if (argc >= 4 && !strcmp(argv[1], "twowriters"))
        return twoWriters(argv[2], atoll(argv[3]), argc > 4 && !strcmp(argv[4], "new"));
    fprintf(stderr, "usage: see the head comment\n");
    return 2;
}
