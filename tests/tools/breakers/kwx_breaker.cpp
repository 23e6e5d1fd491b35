// Outside checker of the data-file library. Modes:
//   fail   FORMAT  - one failure at every counted file change of a session
//   crash  FORMAT  - a failure, then a kill some calls later, then reopen
//   damage FORMAT  - every single-byte damage of a closed file, then deletes
//                    and reads over several sessions
//   grow   FORMAT  - many sessions on one file, reporting its size
//   two    FORMAT  - one process holds the file while another writes
// Every session runs in a forked child; the parent keeps a model of what
// each name should hold and checks the next sessions against it.
#include "kwxio.h"
#include "vrn_platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

bool verbose = getenv("BREAK_VERBOSE") != nullptr;
int rebuildMessages = 0;
int quiet(const char *m, int n) {
    if (strstr(m, "rebuilt") || strstr(m, "not closed correctly")) ++rebuildMessages;
    if (verbose) fprintf(stderr, "   lib: %.*s", n, m);
    return 0;
}

const int N = 110;  // items of each dataset: enough for the compressed form

struct Req {
    char what[IO_WHAT_SIZE] = {0}, where[IO_WHERE_SIZE] = {0};
    int32_t when = 0, numattrb = 0, number = 0, blockfactor = 1;
    char attributes[IO_ATTRIB_LEN * IO_MAXATTRIB] = {0};
    char datatype[IO_DATATYPE_SIZE] = "INTR";
    IO_header h{what, where, &when, &numattrb, attributes, &number, datatype, &blockfactor};
    int64_t offsets[64] = {0};
    char strings[64 * IO_STRING_LEN] = {0};
    char chars[1024] = {0};
    int32_t ints[4 * N] = {0};
    float reals[4] = {0};
    double doubles[4] = {0};
    char logicals[4] = {0};
    int32_t noffsets = 64, nstrings = 64, nchars = 0, nints = 4 * N, nreals = 4, ndoubles = 4, nlogicals = 4;
    IO_data d{offsets, &noffsets, strings, &nstrings, chars, &nchars, ints, &nints,
              reals, &nreals, doubles, &ndoubles, logicals, &nlogicals};
    void name(const char *w, int32_t t) {
        snprintf(what, sizeof what, "%s", w);
        snprintf(where, sizeof where, "x");
        when = t;
    }
    void text(const std::string &s) {
        snprintf(chars, sizeof chars, "%s", s.c_str());
        nchars = (int32_t)s.size();
    }
    void fill(int v) {
        number = N;
        nints = N;
        strcpy(datatype, "INTR");
        for (int i = 0; i < N; ++i) ints[i] = v * 1000 + (i % 7);
    }
};

struct Kwx {
    IO_control *c = iocontrol_alloc();
    ~Kwx() { iocontrol_free(c); }
    int open(const std::string &path, int req = IO_OPEN_PRIMARY) {
        Req r;
        r.text(path);
        return iocntc(req, quiet, &r.h, &r.d, c);
    }
    int format(const std::string &f) {
        Req r;
        r.text(f);
        return iocntc(IO_SET_DEFAULT_FORMAT, quiet, &r.h, &r.d, c);
    }
    int close() {
        Req r;
        return iocntc(IO_CLOSE_ALL, quiet, &r.h, &r.d, c);
    }
    int write(const char *w, int v) {
        Req r;
        r.name(w, 0);
        r.fill(v);
        return iocntc(IO_WRITE_DS, quiet, &r.h, &r.d, c);
    }
    int del(const char *w) {
        Req r;
        r.name(w, 0);
        return iocnt_exact(IO_DELETE_DS, quiet, &r.h, &r.d, c);
    }
    int rq(int request) {
        Req r;
        return iocntc(request, quiet, &r.h, &r.d, c);
    }
    // Value held by the name: -1 not found, -2 a wrong value, -3 locate
    // failed otherwise, -4 read failed.
    int read(const char *w) {
        Req r;
        r.name(w, 0);
        int rc = iocnt_exact(IO_LOCATE_DS, quiet, &r.h, &r.d, c);
        if (rc == IO_ERR_NOTLOCATED || rc == IO_ERR_NOTFOUND) return -1;
        if (rc != 0) return -3;
        Req d;
        d.name(w, 0);
        d.nints = 4 * N;
        memcpy(d.offsets, r.offsets, sizeof d.offsets);
        d.noffsets = r.noffsets;
        rc = iocntc(IO_READ_DS, quiet, &d.h, &d.d, c);
        if (rc != 0) return -4;
        if (verbose && (d.number != N || d.nints != N || d.ints[1] != d.ints[0] + 1))
            fprintf(stderr, "   read %s: number %d nints %d ints %d %d %d .. [%d] %d\n", w, d.number, d.nints, d.ints[0],
                    d.ints[1], d.ints[2], N - 1, d.ints[N - 1]);
        if (d.number != N || d.nints != N) return -2;
        int v = d.ints[0] / 1000;
        for (int i = 0; i < N; ++i)
            if (d.ints[i] != v * 1000 + (i % 7)) return -2;
        return v;
    }
    // Written request by request.
    int pieces(const char *w, int v) {
        Req h;
        h.name(w, 0);
        h.fill(v);
        int rc = iocntc(IO_WRITE_HEADER, quiet, &h.h, &h.d, c);
        if (rc) return rc;
        int64_t lenpos = h.offsets[0], p1 = h.offsets[1];
        int64_t start = lenpos - 3;
        Req t;
        if ((rc = iocntc(IO_WRITE_DATATAG, quiet, &t.h, &t.d, c))) return rc;
        Req dd;
        dd.fill(v);
        if ((rc = iocntc(IO_WRITE_DATA, quiet, &dd.h, &dd.d, c))) return rc;
        if ((rc = iocntc(IO_WRITE_ENDTAG, quiet, &t.h, &t.d, c))) return rc;
        Req p;
        if ((rc = iocntc(IO_TELL, quiet, &p.h, &p.d, c))) return rc;
        int64_t end = p.offsets[0];
        Req l;
        l.offsets[0] = end - p1;
        if ((rc = iocntc(IO_WRITE_LENGTH, quiet, &l.h, &l.d, c))) return rc;
        Req q;
        if ((rc = iocntc(IO_TELL, quiet, &q.h, &q.d, c))) return rc;
        int64_t after = q.offsets[0];
        Req s;
        s.offsets[0] = lenpos;
        if ((rc = iocntc(IO_SEEK, quiet, &s.h, &s.d, c))) return rc;
        if ((rc = iocntc(IO_WRITE_LENGTH, quiet, &l.h, &l.d, c))) return rc;
        s.offsets[0] = after;
        if ((rc = iocntc(IO_SEEK, quiet, &s.h, &s.d, c))) return rc;
        if ((rc = iocntc(IO_SET_INDEX_POSITION, quiet, &s.h, &s.d, c))) return rc;
        Req ins;
        ins.name(w, 0);
        ins.fill(v);
        ins.offsets[0] = end - p1;
        ins.offsets[1] = start;
        return iocntc(IO_INSERT_INDEX, quiet, &ins.h, &ins.d, c);
    }
};

bool exists(const std::string &p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0;
}
long long sizeOf(const std::string &p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 ? (long long)st.st_size : -1;
}
void removeAll(const std::string &p) {
    unlink(p.c_str());
    unlink((p + ".lck").c_str());
    unlink((p + ".lck.lck").c_str());
}
std::string readFile(const std::string &p) {
    std::string s;
    FILE *f = fopen(p.c_str(), "rb");
    if (!f) return s;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    fclose(f);
    return s;
}
void writeFile(const std::string &p, const std::string &s) {
    FILE *f = fopen(p.c_str(), "wb");
    fwrite(s.data(), 1, s.size(), f);
    fclose(f);
}

// Shared page through which a child reports its answers.
struct Shared {
    int rc[64];
    int n;
    long long calls;
    int values[32];
    int rebuilds;
};
Shared *shared() {
    static Shared *s = (Shared *)mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE,
                                      MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    return s;
}

// Runs fn in a child with a 20 s alarm; answers its exit status, or -SIG.
template <class F>
int inChild(F fn) {
    fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        alarm(20);
        fn();
        _exit(0);
    }
    int st = 0;
    waitpid(pid, &st, 0);
    if (WIFSIGNALED(st)) return -WTERMSIG(st);
    return WEXITSTATUS(st);
}

const char *names[] = {"a", "b", "c", "d", "e", "f", "g", "h", "p"};
const int NN = 9;
int idx(const char *n) {
    for (int i = 0; i < NN; ++i)
        if (!strcmp(names[i], n)) return i;
    return -1;
}

// The file before the session: a twice (1, 2), b 1, c 3, d 4 deleted, g 10,
// h twice (11, 12).
void makeBase(const std::string &path, const std::string &fmt) {
    removeAll(path);
    int st = inChild([&] {
        Kwx k;
        k.format(fmt);
        if (k.open(path) || k.write("a", 1) || k.write("b", 1) || k.write("c", 3) || k.write("d", 4) ||
            k.write("g", 10) || k.write("h", 11) || k.write("a", 2) || k.write("h", 12) || k.close())
            _exit(3);
        Kwx k2;
        k2.format(fmt);
        if (k2.open(path) || k2.del("d") || k2.close()) _exit(4);
    });
    if (st != 0) {
        printf("SETUP FAILED %d\n", st);
        exit(2);
    }
}

typedef std::set<int> Vals;  // -1: absent

std::map<int, Vals> baseModel() {
    std::map<int, Vals> m;
    for (int i = 0; i < NN; ++i) m[i] = {-1};
    m[idx("a")] = {2};
    m[idx("b")] = {1};
    m[idx("c")] = {3};
    m[idx("g")] = {10};
    m[idx("h")] = {12};
    return m;
}

struct Op {
    const char *kind;
    const char *name;
    int value;
};
// The session under test.
const Op writeOps[] = {
    {"open", "", 0},   {"locate", "a", 0}, {"write", "e", 5},  {"write", "b", 6},
    {"delete", "c", 0}, {"pieces", "p", 7}, {"write", "b", 8}, {"delete", "e", 0},
    {"write", "f", 9}, {"locate", "h", 0}, {"recreate", "", 0}, {"write", "a", 13},
    {"close", "", 0},
};
// A session that writes nothing of its own: its locates retire older
// copies, a search finds nothing, request 42 rebuilds the index.
const Op retireOps[] = {
    {"open", "", 0}, {"locate", "h", 0}, {"locate", "a", 0}, {"locate", "zz", 0},
    {"recreate", "", 0}, {"delete", "b", 0}, {"locate", "zz", 0}, {"close", "", 0},
};
bool retireSession = getenv("BREAK_RETIRE") != nullptr;
const Op *sessionOps = retireSession ? retireOps : writeOps;
const int NOPS = retireSession ? int(sizeof retireOps / sizeof retireOps[0]) : int(sizeof writeOps / sizeof writeOps[0]);

void runSession(const std::string &path, const std::string &fmt, long long failAt, long long keep,
                long long crashAt) {
    Shared *s = shared();
    s->n = 0;
    Kwx k;
    k.format(fmt);
    long long base = vrnPlatform_fileChangeCount();
    if (failAt) vrnPlatform_setFailurePoint(failAt, keep);
    if (crashAt) vrnPlatform_setCrashPoint(crashAt, -1);
    for (int i = 0; i < NOPS; ++i) {
        const Op &o = sessionOps[i];
        int rc = 0;
        if (!strcmp(o.kind, "open")) rc = k.open(path);
        else if (!strcmp(o.kind, "locate") && !strcmp(o.name, "zz")) rc = k.read(o.name) == -1 ? 0 : 1;
        else if (!strcmp(o.kind, "locate")) rc = k.read(o.name) < 0 ? 1 : 0;
        else if (!strcmp(o.kind, "write")) rc = k.write(o.name, o.value);
        else if (!strcmp(o.kind, "delete")) rc = k.del(o.name);
        else if (!strcmp(o.kind, "pieces")) rc = k.pieces(o.name, o.value);
        else if (!strcmp(o.kind, "recreate")) rc = k.rq(IO_RECREATE_INDEX);
        else if (!strcmp(o.kind, "close")) rc = k.close();
        s->rc[i] = rc;
        s->n = i + 1;
    }
    s->calls = vrnPlatform_fileChangeCount() - base;
}

// What each name may hold after the session, from the answers.
std::map<int, Vals> modelAfter(const Shared &s, std::map<int, Vals> m = baseModel()) {
    for (int i = 0; i < NOPS; ++i) {
        const Op &o = sessionOps[i];
        bool done = i < s.n && s.rc[i] == 0;
        int nv;
        if (!strcmp(o.kind, "write") || !strcmp(o.kind, "pieces")) nv = o.value;
        else if (!strcmp(o.kind, "delete")) nv = -1;
        else continue;
        int j = idx(o.name);
        if (done) m[j] = {nv};
        else m[j].insert(nv);
    }
    return m;
}

std::string show(const Vals &v) {
    std::string s = "{";
    for (int x : v) s += std::to_string(x) + " ";
    return s + "}";
}

int findings = 0;

// Reads every name in a new session (in a child); a write session between
// the reading ones makes the library store its index again.
bool check(const std::string &path, const std::string &fmt, const std::map<int, Vals> &m, const std::string &label,
           bool sound = false) {
    bool ok = true;
    for (int round = 0; round < 3; ++round) {
        Shared *s = shared();
        int st = inChild([&] {
            Kwx k;
            k.format(fmt);
            int rc = k.open(path);
            if (rc) _exit(10 + rc);
            for (int i = 0; i < NN; ++i) s->values[i] = k.read(names[i]);
            s->rebuilds = rebuildMessages;
            if (round == 1 && k.write("z", 99)) _exit(5);
            if (round == 1 && k.del("z")) _exit(6);
            if (k.close()) _exit(7);
            if (exists(path + ".lck")) _exit(8);
        });
        if (st != 0) {
            printf("FINDING %s: check session %d ended with status %d\n", label.c_str(), round, st);
            ++findings;
            return false;
        }
        if (sound && s->rebuilds) {
            printf("FINDING %s: session %d after a clean session calls the file damaged and rebuilds its index\n",
                   label.c_str(), round);
            ok = false;
        }
        for (int i = 0; i < NN; ++i) {
            int v = s->values[i];
            if (!m.at(i).count(v)) {
                printf("FINDING %s: session %d after: %s reads %d, may be %s\n", label.c_str(), round, names[i], v,
                       show(m.at(i)).c_str());
                ok = false;
            }
        }
        if (!ok) {
            ++findings;
            return false;
        }
    }
    return true;
}

std::string answers(const Shared &s) {
    std::string r;
    for (int i = 0; i < s.n; ++i) r += std::string(sessionOps[i].kind) + (sessionOps[i].name[0] ? std::string(" ") + sessionOps[i].name : "") + "=" + std::to_string(s.rc[i]) + " ";
    return r;
}

void modeFail(const std::string &dir, const std::string &fmt, bool crash) {
    std::string path = dir + "/f_" + fmt + ".kwx";
    makeBase(path, fmt);
    Shared *s = shared();
    inChild([&] { runSession(path, fmt, 0, 0, 0); });
    long long total = s->calls;
    if (!check(path, fmt, modelAfter(*s), fmt + " no failure", true)) printf("  answers: %s\n", answers(*s).c_str());
    printf("%s: %lld counted calls in the session\n", fmt.c_str(), total);
    int cases = 0;
    for (long long k = 1; k <= total + 1; ++k) {
        for (long long keep : getenv("BREAK_KEEP") ? std::vector<long long>{atoll(getenv("BREAK_KEEP"))} : std::vector<long long>{0, 5}) {
            for (long long after : crash ? std::vector<long long>{1, 2, 4} : std::vector<long long>{0}) {
                makeBase(path, fmt);
                memset(s, 0, sizeof *s);
                int st = inChild([&] { runSession(path, fmt, k, keep, after ? k + after : 0); });
                ++cases;
                if (st < 0) {
                    printf("FINDING %s fail@%lld keep %lld: session died with signal %d\n", fmt.c_str(), k, keep, -st);
                    ++findings;
                    continue;
                }
                bool killed = st == VRN_CRASH_POINT_STATUS;
                if (killed) {
                    // A writer killed leaves its lock file, which the host removes.
                    unlink((path + ".lck").c_str());
                    unlink((path + ".lck.lck").c_str());
                }
                bool closeDone = s->n == NOPS && s->rc[NOPS - 1] == 0;
                if (closeDone && exists(path + ".lck")) {
                    printf("FINDING %s fail@%lld keep %lld: lock file left after a close answered 0\n", fmt.c_str(), k, keep);
                    ++findings;
                }
                if (!closeDone) {
                    unlink((path + ".lck").c_str());
                    unlink((path + ".lck.lck").c_str());
                }
                char label[128];
                snprintf(label, sizeof label, "%s fail@%lld keep %lld%s", fmt.c_str(), k, keep,
                         after ? (" kill+" + std::to_string(after)).c_str() : "");
                if (!check(path, fmt, modelAfter(*s), label)) printf("  answers: %s\n", answers(*s).c_str());
            }
        }
    }
    // Compaction with a failure at each call.
    std::string dst = dir + "/c_" + fmt + ".kwx";
    long long k0 = getenv("BREAK_K") ? atoll(getenv("BREAK_K")) : 1;
    for (long long k = k0; k < 200; ++k) {
        makeBase(path, fmt);
        removeAll(dst);
        std::string before = readFile(path);
        memset(s, 0, sizeof *s);
        int st = inChild([&] {
            Kwx c;
            c.format(fmt);
            s->rc[0] = c.open(path);
            s->rc[1] = c.open(dst, IO_OPEN_SECONDARY);
            vrnPlatform_setFailurePoint(k, 0);
            long long b = vrnPlatform_fileChangeCount();
            s->rc[2] = c.rq(IO_COPY_ALLVALID_DS);
            s->rc[3] = c.close();
            s->calls = vrnPlatform_fileChangeCount() - b;
            s->n = 4;
        });
        ++cases;
        if (st != 0) {
            printf("FINDING %s compaction fail@%lld: child status %d\n", fmt.c_str(), k, st);
            ++findings;
        }
        if (s->calls < k) break;
        if (getenv("BREAK_LS")) { fflush(stdout); if (system(("ls -la " + dir).c_str())) {} }
        // A close that could not remove a lock file answers 21 and says so;
        // the host removes what was left.
        for (const std::string &f : {dst, path}) {
            unlink((f + ".lck").c_str());
            unlink((f + ".lck.lck").c_str());
        }
        std::map<int, Vals> m = baseModel();
        std::map<int, Vals> loose = m;
        if (!(s->rc[2] == 0 && s->rc[3] == 0))
            for (auto &e : loose) e.second.insert(-1);
        char label[96];
        snprintf(label, sizeof label, "%s compaction fail@%lld (copy=%d close=%d)", fmt.c_str(), k, s->rc[2], s->rc[3]);
        if (exists(dst)) check(dst, fmt, loose, std::string(label) + " dst");
        check(path, fmt, m, std::string(label) + " src");
    }
    printf("%s: %d cases\n", fmt.c_str(), cases);
}

// Single damages: every byte of the closed file changed to a few values.
void modeDamage(const std::string &dir, const std::string &fmt, long long from, long long to) {
    std::string base = dir + "/dbase_" + fmt + ".kwx";
    std::string path = dir + "/d_" + fmt + ".kwx";
    makeBase(base, fmt);
    std::string orig = readFile(base);
    Shared *s = shared();
    int cases = 0, deleteFindings = 0, wrongFindings = 0, deaths = 0;
    if (to <= 0 || to > (long long)orig.size()) to = (long long)orig.size();
    for (long long pos = from; pos < to; ++pos) {
        unsigned char o = (unsigned char)orig[pos];
        std::vector<unsigned char> subs;
        if (o >= '1' && o <= '9') subs.push_back('0');
        else if (o == 'Y') subs.push_back('N');
        else if (o == 'N') subs.push_back('Y');
        subs.push_back(o ^ 1);
        subs.push_back(o == ' ' ? '5' : ' ');
        for (unsigned char v : subs) {
            if (v == o) continue;
            std::string d = orig;
            d[pos] = (char)v;
            removeAll(path);
            writeFile(path, d);
            ++cases;
            // Session 1: delete a and b, read all; 2: read; 3: write, read; 4: read.
            int delA = -9, delB = -9;
            bool bad = false;
            const int rounds = getenv("BREAK_COMPACT") ? 5 : 4;
            for (int round = 0; round < rounds && !bad; ++round) {
                memset(s, 0, sizeof *s);
                int st = inChild([&] {
                    if (round == 4) {
                        // Compaction of the damaged file; the copy is read.
                        std::string dst = path + ".copy";
                        removeAll(dst);
                        Kwx c;
                        c.format(fmt);
                        s->rc[0] = c.open(path);
                        if (s->rc[0] || c.open(dst, IO_OPEN_SECONDARY)) _exit(0);
                        s->rc[5] = c.rq(IO_COPY_ALLVALID_DS);
                        c.close();
                        Kwx k;
                        if (k.open(dst)) _exit(0);
                        for (int i = 0; i < NN; ++i) s->values[i] = s->values[16 + i] = k.read(names[i]);
                        k.close();
                        removeAll(dst);
                        _exit(0);
                    }
                    Kwx k;
                    k.format(fmt);
                    int rc = k.open(path);
                    s->rc[0] = rc;
                    if (rc) _exit(0);
                    if (round == 0 && !getenv("BREAK_NODELETE")) {
                        s->rc[1] = k.del("a");
                        s->rc[2] = k.del("h");
                    }
                    for (int i = 0; i < NN; ++i) s->values[i] = k.read(names[i]);
                    if (round == 2) s->rc[3] = k.write("q", 42);
                    for (int i = 0; i < NN; ++i) s->values[16 + i] = k.read(names[i]);
                    s->rc[4] = k.close();
                });
                unlink((path + ".lck").c_str());
                unlink((path + ".lck.lck").c_str());
                if (st != 0) {
                    printf("FINDING damage %s pos %lld %02x->%02x: session %d ended with status %d\n", fmt.c_str(),
                           pos, o, v, round, st);
                    ++deaths;
                    bad = true;
                    break;
                }
                if (s->rc[0]) break;  // refused open: a clear error
                if (round == 0 && !getenv("BREAK_NODELETE")) {
                    delA = s->rc[1];
                    delB = s->rc[2];
                }
                std::map<int, Vals> m = baseModel();
                for (auto &e : m) e.second.insert(-1);  // damage may hide a dataset
                if (delA == 0) m[idx("a")] = {-1};
                else if (!getenv("BREAK_NODELETE")) m[idx("a")].insert(1);  // an older copy may come back only if not deleted
                if (delB == 0) m[idx("h")] = {-1};
                else if (!getenv("BREAK_NODELETE")) m[idx("h")].insert(11);
                m[idx("d")].insert(4);  // a deleted dataset whose mark is damaged
                for (int half = 0; half < 2; ++half)
                    for (int i = 0; i < NN; ++i) {
                        int val = s->values[half * 16 + i];
                        if (val == -3 || val == -4) continue;  // an error answered: allowed
                        if (!m[i].count(val)) {
                            bool isDel = (i == idx("a") && delA == 0) || (i == idx("h") && delB == 0);
                            printf("FINDING damage %s pos %lld %02x->%02x: session %d %s reads %d, may be %s%s\n",
                                   fmt.c_str(), pos, o, v, round, names[i], val, show(m[i]).c_str(),
                                   isDel ? " (delete answered 0)" : "");
                            if (isDel) ++deleteFindings;
                            else ++wrongFindings;
                            bad = true;
                        }
                    }
            }
        }
    }
    findings += deleteFindings + wrongFindings + deaths;
    printf("damage %s: %d cases, %d deletes undone, %d wrong reads, %d deaths\n", fmt.c_str(), cases, deleteFindings,
           wrongFindings, deaths);
}

void modeGrow(const std::string &dir, const std::string &fmt) {
    std::string path = dir + "/g_" + fmt + ".kwx";
    makeBase(path, fmt);
    for (int i = 0; i < 400; ++i) {
        int st = inChild([&] {
            Kwx k;
            k.format(fmt);
            if (k.open(path)) _exit(3);
            if (i % 4 == 0 && (i < 8 || !getenv("BREAK_NOWRITE")) && k.write("b", 1)) _exit(4);
            if (i % 4 == 3 && k.del("zz") != IO_ERR_NOTLOCATED && getenv("BREAK_NOWRITE")) {}
            if (i % 4 == 1) { int av = k.read("a"); if (av != 2) { fprintf(stderr, "a=%d\n", av); _exit(5);} }
            if (i % 4 == 2 && k.rq(IO_RECREATE_INDEX)) _exit(6);
            if (k.close()) _exit(7);
        });
        if (st) {
            printf("FINDING grow %s session %d status %d\n", fmt.c_str(), i, st);
            ++findings;
            return;
        }
        if (i % 100 == 0 || i == 399) printf("grow %s: after %d sessions %lld bytes\n", fmt.c_str(), i + 1, sizeOf(path));
    }
}

// A reader holds the file open while another process writes and closes.
void modeTwo(const std::string &dir, const std::string &fmt) {
    std::string path = dir + "/t_" + fmt + ".kwx";
    makeBase(path, fmt);
    int p1[2], p2[2];
    if (pipe(p1) || pipe(p2)) return;
    pid_t holder = fork();
    if (holder == 0) {
        Kwx k;
        k.format(fmt);
        int rc = k.open(path);
        int a = k.read("a");
        char c = (rc == 0 && a == 2) ? 'o' : 'x';
        if (write(p1[1], &c, 1) != 1) _exit(1);
        if (read(p2[0], &c, 1) != 1) _exit(1);
        int a2 = k.read("a"), b2 = k.read("b");
        int w = k.write("b", 77);
        int cl = k.close();
        printf("two %s: holder open=%d a=%d, after other's writes a=%d b=%d, its write=%d close=%d\n", fmt.c_str(), rc, a,
               a2, b2, w, cl);
        fflush(stdout);
        _exit(0);
    }
    char c;
    if (read(p1[0], &c, 1) != 1) return;
    Shared *s = shared();
    int st = inChild([&] {
        Kwx k;
        k.format(fmt);
        s->rc[0] = k.open(path);
        s->rc[1] = k.write("b", 55);
        s->rc[2] = k.del("c");
        s->rc[3] = k.close();
    });
    printf("two %s: other process open=%d write=%d delete=%d close=%d status %d\n", fmt.c_str(), s->rc[0], s->rc[1],
           s->rc[2], s->rc[3], st);
    if (write(p2[1], &c, 1) != 1) return;
    int hs;
    waitpid(holder, &hs, 0);
    std::map<int, Vals> m = baseModel();
    if (s->rc[1] == 0) m[idx("b")] = {55};
    if (s->rc[2] == 0) m[idx("c")] = {-1};
    m[idx("b")].insert(77);
    check(path, fmt, m, "two " + fmt);
}

// A writer holds the file with a write made and not yet closed while another
// process opens it and reads.
void modeTwoReverse(const std::string &dir, const std::string &fmt) {
    std::string path = dir + "/r_" + fmt + ".kwx";
    makeBase(path, fmt);
    int p1[2], p2[2];
    if (pipe(p1) || pipe(p2)) return;
    pid_t writer = fork();
    if (writer == 0) {
        Kwx k;
        k.format(fmt);
        int rc = k.open(path);
        int w = k.write("b", 55), d = k.del("c"), w2 = k.write("a", 66);
        char c = 'o';
        if (write(p1[1], &c, 1) != 1) _exit(1);
        if (read(p2[0], &c, 1) != 1) _exit(1);
        int cl = k.close();
        printf("two-reverse %s: writer open=%d write=%d delete=%d write=%d close=%d\n", fmt.c_str(), rc, w, d, w2, cl);
        fflush(stdout);
        _exit(0);
    }
    char c;
    if (read(p1[0], &c, 1) != 1) return;
    Shared *s = shared();
    int st = inChild([&] {
        Kwx k;
        k.format(fmt);
        s->rc[0] = k.open(path);
        for (int i = 0; i < NN; ++i) s->values[i] = k.read(names[i]);
        s->rc[1] = k.close();
    });
    printf("two-reverse %s: reader open=%d close=%d status %d; reads", fmt.c_str(), s->rc[0], s->rc[1], st);
    for (int i = 0; i < NN; ++i) printf(" %s=%d", names[i], s->values[i]);
    printf("\n");
    if (write(p2[1], &c, 1) != 1) return;
    int hs;
    waitpid(writer, &hs, 0);
    std::map<int, Vals> m = baseModel();
    m[idx("b")] = {55};
    m[idx("c")] = {-1};
    m[idx("a")] = {66};
    check(path, fmt, m, "two-reverse " + fmt);
}

// The level digit of a compressed dataset's format bytes turned to '0'
// (FORMAT l5 or u5); the dataset is then read as plain items.
void modeLevel0(const std::string &dir, const std::string &fmt) {
    std::string path = dir + "/z_" + fmt + ".kwx";
    removeAll(path);
    inChild([&] {
        Kwx k;
        k.format(fmt);
        if (k.open(path) || k.write("c", 3) || k.write("g", 10) || k.write("h", 11) || k.write("b", 1) || k.write("a", 2) || k.close()) _exit(3);
    });
    std::string d = readFile(path);
    size_t at = d.find(fmt + "\n");
    if (at == std::string::npos) return;
    d[at + 1] = '0';
    writeFile(path, d);
    inChild([&] {
        Kwx k;
        k.format(fmt);
        int rc = k.open(path);
        Req r;
        r.name("c", 0);
        int lrc = iocnt_exact(IO_LOCATE_DS, quiet, &r.h, &r.d, k.c);
        Req q;
        q.name("c", 0);
        memcpy(q.offsets, r.offsets, sizeof q.offsets);
        int rrc = iocntc(IO_READ_DS, quiet, &q.h, &q.d, k.c);
        printf("level0 %s: open %d locate %d read %d number %d items %d: %d %d %d ... (written %d %d %d ...)\n",
               fmt.c_str(), rc, lrc, rrc, q.number, q.nints, q.ints[0], q.ints[1], q.ints[2], 3000, 3001, 3002);
        if (rrc == 0 && q.ints[0] != 3000) ++findings;
        k.close();
        _exit(findings);
    });
}

// A writer killed at call K of the session, then a second session (the
// same requests) with one failure at each call, then reads.
void modeRecover(const std::string &dir, const std::string &fmt) {
    std::string path = dir + "/v_" + fmt + ".kwx";
    Shared *s = shared();
    int cases = 0;
    for (long long killAt : {3LL, 6LL, 9LL, 14LL, 20LL, 26LL}) {
        for (long long k = 1; k < 60; ++k) {
            makeBase(path, fmt);
            memset(s, 0, sizeof *s);
            int st = inChild([&] { runSession(path, fmt, 0, 0, killAt); });
            if (st != VRN_CRASH_POINT_STATUS) break;
            std::map<int, Vals> first = modelAfter(*s);
            removeAll(path + ".none");
            unlink((path + ".lck").c_str());
            unlink((path + ".lck.lck").c_str());
            memset(s, 0, sizeof *s);
            st = inChild([&] { runSession(path, fmt, k, 0, 0); });
            ++cases;
            if (st != 0) {
                printf("FINDING recover %s kill@%lld fail@%lld: session ended with %d\n", fmt.c_str(), killAt, k, st);
                ++findings;
            }
            bool closeDone = s->n == NOPS && s->rc[NOPS - 1] == 0;
            if (closeDone && exists(path + ".lck")) {
                printf("FINDING recover %s kill@%lld fail@%lld: lock file left after a close answered 0\n", fmt.c_str(), killAt, k);
                ++findings;
            }
            unlink((path + ".lck").c_str());
            unlink((path + ".lck.lck").c_str());
            char label[96];
            snprintf(label, sizeof label, "recover %s kill@%lld fail@%lld", fmt.c_str(), killAt, k);
            if (!check(path, fmt, modelAfter(*s, first), label)) printf("  answers: %s\n", answers(*s).c_str());
            if (s->calls < k) break;
        }
    }
    printf("recover %s: %d cases\n", fmt.c_str(), cases);
}

// a written twice, closed; one byte of the newest copy's stored index line
// (its WHEN, '0' to '1') changed; a read of a in the next two sessions.
void modeStale(const std::string &dir, const std::string &fmt) {
    std::string path = dir + "/s_" + fmt + ".kwx";
    removeAll(path);
    inChild([&] {
        Kwx k;
        k.format(fmt);
        if (k.open(path) || k.write("a", 1) || k.write("a", 2) || k.close()) _exit(3);
    });
    std::string d = readFile(path);
    size_t index = d.rfind("*INDEX\n");
    const std::string key = std::string("Y\x1b") + "a\x1b" + "x\x1b" + "0\x1b";
    size_t line = std::string::npos;
    long long best = -1;
    for (size_t at = d.find(key, index); at != std::string::npos; at = d.find(key, at + 1)) {
        size_t end = d.find('\n', at);
        long long loc = atoll(d.c_str() + d.rfind('\x1b', end) + 1);
        if (loc > best) {
            best = loc;
            line = at;
        }
    }
    if (line == std::string::npos) return;
    d[line + 6] = '1';  // the WHEN of the newest copy's line
    writeFile(path, d);
    for (int session = 0; session < 2; ++session)
        inChild([&] {
            Kwx k;
            k.format(fmt);
            int rc = k.open(path);
            int v = k.read("a");
            printf("stale %s session %d: open %d, a reads %d (written 1 then 2)\n", fmt.c_str(), session, rc, v);
            if (v == 1) ++findings;
            k.close();
            _exit(0);
        });
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: %s fail|crash|damage|grow|two FORMAT [dir] [from to]\n", argv[0]);
        return 2;
    }
    std::string mode = argv[1], fmt = argv[2];
    std::string dir = argc > 3 ? argv[3] : "/tmp";
    setvbuf(stdout, nullptr, _IOLBF, 0);
    if (mode == "fail") modeFail(dir, fmt, false);
    else if (mode == "crash") modeFail(dir, fmt, true);
    else if (mode == "damage") modeDamage(dir, fmt, argc > 4 ? atoll(argv[4]) : 0, argc > 5 ? atoll(argv[5]) : 0);
    else if (mode == "grow") modeGrow(dir, fmt);
    else if (mode == "two") modeTwo(dir, fmt);
    else if (mode == "recover") modeRecover(dir, fmt);
    else if (mode == "stale") modeStale(dir, fmt);
    else if (mode == "level0") modeLevel0(dir, fmt);
    else if (mode == "two-reverse") modeTwoReverse(dir, fmt);
    printf("%s %s: %d findings\n", mode.c_str(), fmt.c_str(), findings);
    return findings ? 1 : 0;
}
