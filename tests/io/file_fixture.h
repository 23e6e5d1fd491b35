// Helpers for the tests of opening, locking, locating, deleting and copying:
// a message catcher for the error routine, lock file inspection, and a small
// dataset writer and reader that go through iocntc as a caller would.
#pragma once

#include "io_files.h"
#include "io_buffers.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>
#include <unistd.h>

namespace iotest {

// Everything the library reported through the error routine.
inline std::string &messages() {
    static std::string text;
    return text;
}

inline int catchMessage(const char *message, int length) {
    messages().append(message, (size_t)length);
    return 0;
}

// Value held by a lock file, INT_MIN when there is none.
inline int lockValue(const std::string &dataFile) {
    std::string path = dataFile + ".lck";
    FILE *f = fopen(path.c_str(), "r");
    if (!f) return INT_MIN;
    int v = INT_MIN;
    if (fscanf(f, "%d", &v) != 1) v = INT_MIN + 1;
    fclose(f);
    return v;
}

inline bool exists(const std::string &path) {
    FILE *f = fopen(path.c_str(), "r");
    if (!f) return false;
    fclose(f);
    return true;
}

inline IO_file freshRecord() {
    IO_file r;
    memset(&r, 0, sizeof r);
    filerec_reset(&r);
    r.routine = catchMessage;
    return r;
}

using Header = vrntest::IoHeader;

// An IO_data over vectors owned here.
struct Data : vrntest::IoData {
    // Room for n locate results.
    void sizeForLocate(int n) {
        offsets.assign((size_t)std::max(2 * n, 1), 0);
        strings.assign((size_t)std::max(2 * n, 1) * IO_STRING_LEN, 0);
        ints.assign((size_t)std::max(n, 1), 0);
        noffsets = 2 * n;
        nstrings = 2 * n;
        nints = n;
        bind();
    }
    void setInts(const std::vector<int32_t> &v) {
        ints = v;
        nints = (int32_t)v.size();
        bind();
    }
    void setReals(const std::vector<float> &v) {
        reals = v;
        nreals = (int32_t)v.size();
        bind();
    }
    std::string stringAt(int i) const {
        const char *s = strings.data() + (size_t)i * IO_STRING_LEN;
        return std::string(s, strnlen(s, IO_STRING_LEN));
    }
};

// Gives d exactly these offsets (a request's positions or locations).
inline Data &offsetsOf(Data &d, std::initializer_list<int64_t> values) {
    d.offsets = values;
    d.noffsets = (int32_t)d.offsets.size();
    d.bind();
    return d;
}

// Makes the size recorded in the info block wrong, so that the next open
// rebuilds the index from the datasets.
// A file whose info block is not whole is rebuilt at every open already, and
// its first dataset may start where the size would go: it is left alone.
inline void forceRebuild(const std::string &name) {
    std::string bytes = vrntest::readFile(name);
    for (size_t width : {20u, 10u}) {
        if (bytes.compare(0, 6, "*INFO\n") == 0 && bytes.size() > width + 16 && bytes[6 + width] == '\n' &&
            bytes.compare(7 + width, 9, "*ENDINFO\n") == 0) {
            bytes.replace(6, width, std::string(width - 1, ' ') + "1");
            vrntest::writeFile(name, bytes);
            return;
        }
    }
}

// A caller of the dispatcher: one control block, every request through iocntc.
class Client {
public:
    Client() : control_(iocontrol_alloc()) {}
    ~Client() {
        if (control_) {
            Header h;
            Data d;
            iocntc(IO_CLOSE_ALL, catchMessage, &h.h, &d.d, control_);
            iocontrol_free(control_);
        }
    }
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;

    IO_control *control() { return control_; }

    int request(int code, Header &h, Data &d) { return iocntc(code, catchMessage, &h.h, &d.d, control_); }
    int copyChosen(Data &d) { return iocnt_copychosen(catchMessage, &d.d, control_); }
    int exact(int code, Header &h, Data &d) { return iocnt_exact(code, catchMessage, &h.h, &d.d, control_); }
    int open(const std::string &name, int code = IO_OPEN_PRIMARY) {
        Header h;
        Data d;
        d.setName(name);
        return request(code, h, d);
    }
    int close() {
        Header h;
        Data d;
        return request(IO_CLOSE_ALL, h, d);
    }
    // Opens src and dst (as the secondary file), copies the whole file with
    // the copy request `mode`, and closes both; the first code that is not 0.
    int copyFile(const std::string &src, const std::string &dst, int mode) {
        int rc = open(src);
        if (rc == IO_OK) rc = open(dst, IO_OPEN_SECONDARY);
        Header h;
        Data none;
        if (rc == IO_OK) rc = request(mode, h, none);
        int closed = close();
        return rc != IO_OK ? rc : closed;
    }
    // Writes an integer dataset.
    int writeInts(const std::string &what, const std::string &where, int32_t when,
                  const std::vector<int32_t> &values) {
        Header h(what, where, when);
        snprintf(h.datatype, sizeof h.datatype, "INTR");
        h.number = (int32_t)values.size();
        h.blockfactor = 1;
        Data d;
        d.setInts(values);
        return request(IO_WRITE_DS, h, d);
    }
    // Locates what:where:when; the results stay in d.
    int locate(const std::string &what, const std::string &where, int32_t when, Data &d,
               int code = IO_LOCATE_DS) {
        Header h(what, where, when);
        d.sizeForLocate(0);
        int rc = request(code, h, d);
        if (rc == IO_ERR_MEMORY && d.nints > 0) {
            d.sizeForLocate(d.nints);
            rc = request(code, h, d);
        }
        return rc;
    }
    // The WHENs located for a name, in the order returned.
    std::vector<int32_t> whens(const std::string &what, const std::string &where, int32_t when) {
        Data d;
        if (locate(what, where, when, d) != IO_OK) return {};
        return std::vector<int32_t>(d.ints.begin(), d.ints.begin() + d.nints);
    }
    // Reads the integer dataset of a name (the latest WHEN for when -2).
    int readInts(const std::string &what, const std::string &where, int32_t when,
                 std::vector<int32_t> &values) {
        Data found;
        int rc = locate(what, where, when, found);
        if (rc != IO_OK) return rc;
        Header h;
        Data d;
        offsetsOf(d, {found.offsets[0], found.offsets[1]});
        // Ask with no room first; the reader tells how much it needs.
        rc = request(IO_READ_DS, h, d);
        if (rc == IO_ERR_MEMORY) {
            d.ints.assign((size_t)std::max(d.nints, 1), 0);
            d.bind();
            rc = request(IO_READ_DS, h, d);
        }
        if (rc != IO_OK) return rc;
        values.assign(d.ints.begin(), d.ints.begin() + h.number);
        return IO_OK;
    }

private:
    IO_control *control_;
};

// The datasets of the damage tests are named by a letter l, k its place in
// the alphabet, and hold k + 1 copies of k + 1.
inline std::vector<int32_t> letterValues(char l) {
    int k = l - 'a';
    return std::vector<int32_t>(size_t(k + 1), k + 1);
}

inline int writeLetter(Client &c, char l) { return c.writeInts(std::string(1, l), "w", 1, letterValues(l)); }

// The format of the datasets written from now on ("F", "u5", "l", ...).
inline int setFormat(Client &c, const char *format) {
    Header h;
    Data d;
    d.setName(format);
    return c.request(IO_SET_DEFAULT_FORMAT, h, d);
}

// The letters of those datasets that do not read back whole.
inline std::string missing(Client &c, const std::string &letters) {
    std::string out;
    for (char l : letters) {
        std::vector<int32_t> v;
        if (c.readInts(std::string(1, l), "w", 1, v) != IO_OK || v != letterValues(l)) out += l;
    }
    return out;
}

// Opens the damaged file: the datasets `whole` read back; one more is
// written and the file closed; reopened, they and the new one read back.
inline void expectKeptAfterOneMoreWrite(const std::string &name, const std::string &whole, char added) {
    {
        Client c;
        messages().clear();
        ASSERT_EQ(IO_OK, c.open(name)) << messages();
        EXPECT_EQ("", missing(c, whole)) << messages();
        ASSERT_EQ(IO_OK, writeLetter(c, added));
        ASSERT_EQ(IO_OK, c.close());
    }
    Client c;
    ASSERT_EQ(IO_OK, c.open(name));
    EXPECT_EQ("", missing(c, whole + added)) << messages();
}

// Another process opens the file through iocntc and dies without closing
// it, so that its read share stays counted in the lock file.
inline vrntest::ChildResult otherReaderDiesHoldingIt(const std::string &name) {
    return vrntest::runInChild([&] {
        Client c;
        _exit(c.open(name) == IO_OK ? 0 : 1);
        return 1;
    });
}

}  // namespace iotest
