// The header and data arguments of a data-file request over buffers of their
// own, for the tests and fuzz harnesses that call iocntc as a caller would.
#pragma once

#include "kwxio.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace vrntest {

// An IO_header whose fields point into this object; a copy points into
// its own buffers.
struct IoHeader {
    char what[IO_WHAT_SIZE] = {0};
    char where[IO_WHERE_SIZE] = {0};
    int32_t when = 0;
    int32_t numattrb = 0;
    char attributes[IO_MAXATTRIB * IO_ATTRIB_LEN] = {0};
    int32_t number = 0;
    char datatype[IO_DATATYPE_SIZE] = {0};
    int32_t blockfactor = 1;
    IO_header h;

    IoHeader() { bind(); }
    IoHeader(const std::string &w, const std::string &r, int32_t t) {
        bind();
        set(w, r, t);
    }
    IoHeader(const IoHeader &o) { *this = o; }
    IoHeader &operator=(const IoHeader &o) {
        memcpy(what, o.what, sizeof what);
        memcpy(where, o.where, sizeof where);
        when = o.when;
        numattrb = o.numattrb;
        memcpy(attributes, o.attributes, sizeof attributes);
        number = o.number;
        memcpy(datatype, o.datatype, sizeof datatype);
        blockfactor = o.blockfactor;
        bind();
        return *this;
    }
    void set(const std::string &w, const std::string &r, int32_t t) {
        snprintf(what, sizeof what, "%s", w.c_str());
        snprintf(where, sizeof where, "%s", r.c_str());
        when = t;
    }
    void bind() {
        h.what = what;
        h.where = where;
        h.when = &when;
        h.numattrb = &numattrb;
        h.attributes = attributes;
        h.number = &number;
        h.datatype = datatype;
        h.blockfactor = &blockfactor;
    }
};

// An IO_data over vectors owned here; bind() points d at them again after
// a vector changes.
struct IoData {
    std::vector<int64_t> offsets;
    std::vector<char> strings, chars, logicals;
    std::vector<int32_t> ints;
    std::vector<float> reals;
    std::vector<double> doubles;
    int32_t noffsets = 0, nstrings = 0, nchars = 0, nints = 0, nreals = 0, ndoubles = 0,
            nlogicals = 0;
    IO_data d;

    IoData() { bind(); }
    IoData(const IoData &) = delete;
    IoData &operator=(const IoData &) = delete;

    void bind() {
        d.offsets = at(offsets);
        d.noffsets = &noffsets;
        d.strings = at(strings);
        d.nstrings = &nstrings;
        d.chars = at(chars);
        d.nchars = &nchars;
        d.ints = at(ints);
        d.nints = &nints;
        d.reals = at(reals);
        d.nreals = &nreals;
        d.doubles = at(doubles);
        d.ndoubles = &ndoubles;
        d.logicals = at(logicals);
        d.nlogicals = &nlogicals;
    }
    // The name a request takes in chars, NUL-terminated.
    void setName(const std::string &name) {
        chars.assign(name.begin(), name.end());
        chars.push_back('\0');
        nchars = static_cast<int32_t>(name.size());
        bind();
    }

private:
    template <typename T>
    static T *at(std::vector<T> &v) { return v.empty() ? nullptr : v.data(); }
};

}  // namespace vrntest
