// A stand-in for the meshing-database reader, for tests and benchmarks.
//
// Called as "kwxtolvreader -list FILE -server_mode", it copies the bytes of
// FILE to standard output unchanged: the file holds the reader's tagged
// output exactly as the library is to see it (CRLF lines, a missing final
// newline and very long lines are data). Switches in the environment:
//
//   TESTREADER_STDERR=1          write the bytes to standard error instead
//   TESTREADER_STDERR_TEXT=text  write text to standard error first
//   TESTREADER_CHUNK=n           write in pieces of n bytes ...
//   TESTREADER_DELAY_US=n        ... sleeping n microseconds before each
//   TESTREADER_ARGS_FILE=path    record the arguments (argv[0] included),
//                                each followed by a NUL byte
//   TESTREADER_FDS_FILE=path     record the open descriptor numbers at start
//   TESTREADER_SIGNALS_FILE=path record the blocked and the ignored signals
//                                at start (the SigBlk and SigIgn lines of
//                                /proc/self/status)
//   TESTREADER_EXIT=n            end with exit status n
//   TESTREADER_SIGNAL=n          end by signal n after writing
//   TESTREADER_SILENT=1          write nothing
//
// It never reads its standard input.
#include <dirent.h>
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

const char* env(const char* name) { return getenv(name); }

int envInt(const char* name, int fallback) {
    const char* v = getenv(name);
    return v && *v ? atoi(v) : fallback;
}

void writeAll(int fd, const char* p, size_t n) {
    while (n > 0) {
        ssize_t w = write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
}

void recordDescriptors(const char* path) {
    std::string text;
    if (DIR* d = opendir("/proc/self/fd")) {
        int own = dirfd(d);
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] == '.' || atoi(e->d_name) == own) continue;
            text += e->d_name;
            text += '\n';
        }
        closedir(d);
    }
    if (FILE* f = fopen(path, "w")) {
        fputs(text.c_str(), f);
        fclose(f);
    }
}

void recordSignals(const char* path) {
    std::string text;
    if (FILE* f = fopen("/proc/self/status", "r")) {
        char line[256];
        while (fgets(line, sizeof line, f))
            if (strncmp(line, "SigBlk:", 7) == 0 || strncmp(line, "SigIgn:", 7) == 0) text += line;
        fclose(f);
    }
    if (FILE* f = fopen(path, "w")) {
        fputs(text.c_str(), f);
        fclose(f);
    }
}

bool readWhole(const char* path, std::string& out) {
    FILE* f = fopen(path, "rb");
    if (!f) return false;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    fclose(f);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (const char* p = env("TESTREADER_FDS_FILE")) recordDescriptors(p);
    if (const char* p = env("TESTREADER_SIGNALS_FILE")) recordSignals(p);
    if (const char* p = env("TESTREADER_ARGS_FILE")) {
        if (FILE* f = fopen(p, "wb")) {
            for (int i = 0; i < argc; ++i) fwrite(argv[i], 1, strlen(argv[i]) + 1, f);
            fclose(f);
        }
    }

    const char* file = nullptr;
    for (int i = 1; i + 1 < argc; ++i) {
        if (strcmp(argv[i], "-list") == 0) {
            file = argv[i + 1];
            break;
        }
    }

    if (const char* t = env("TESTREADER_STDERR_TEXT")) writeAll(2, t, strlen(t));

    if (!env("TESTREADER_SILENT") && file) {
        std::string bytes;
        if (!readWhole(file, bytes)) {
            const char* msg = "<ERROR_BEG>\ncannot open the file\n<ERROR_END>\n";
            writeAll(1, msg, strlen(msg));
        } else {
            int fd = env("TESTREADER_STDERR") ? 2 : 1;
            size_t chunk = static_cast<size_t>(envInt("TESTREADER_CHUNK", 0));
            int delay = envInt("TESTREADER_DELAY_US", 0);
            if (chunk == 0) chunk = bytes.size() ? bytes.size() : 1;
            for (size_t at = 0; at < bytes.size(); at += chunk) {
                if (delay > 0) usleep(static_cast<useconds_t>(delay));
                size_t n = bytes.size() - at < chunk ? bytes.size() - at : chunk;
                writeAll(fd, bytes.data() + at, n);
            }
        }
    }

    int sig = envInt("TESTREADER_SIGNAL", 0);
    if (sig > 0) {
        signal(sig, SIG_DFL);
        raise(sig);
    }
    return envInt("TESTREADER_EXIT", 0);
}
