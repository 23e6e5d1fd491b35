// The requests and checks of the harnesses that interrupt data-file sessions
// (a process killed at a file change, a file change that fails): the steps
// a workload sends through iocntc, reading back everything a file holds,
// and the check that a later write and an index rebuild add just that
// write.
#pragma once

#include "file_fixture.h"

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace iotest {

// Name "what:where:when" to values.
using Contents = std::map<std::string, std::vector<int32_t>>;

inline std::string keyOf(const std::string &what, const std::string &where, int32_t when) {
    return what + ":" + where + ":" + std::to_string(when);
}

inline std::string describeValues(const std::vector<int32_t> &v) {
    std::ostringstream out;
    out << "[";
    for (size_t i = 0; i < v.size() && i < 4; ++i) out << (i ? "," : "") << v[i];
    if (v.size() > 4) out << ",..(" << v.size() << ")";
    out << "]";
    return out.str();
}

inline std::string describe(const Contents &c) {
    std::string out = "{";
    for (const auto &[k, v] : c) out += " " + k + "=" + describeValues(v);
    return out + " }";
}

// n values that differ from those of any other seed.
inline std::vector<int32_t> series(int n, int32_t seed) {
    std::vector<int32_t> v((size_t)n);
    for (int i = 0; i < n; ++i) v[(size_t)i] = seed * 1000 + i * i;
    return v;
}

// Reads every live dataset of the primary file of c; false with a note when
// the search or a read of a located dataset fails.
inline bool readAll(Client &c, Contents &out, std::string &note) {
    out.clear();
    Data found;
    int rc = c.locate("*", "*", -1, found);
    if (rc == IO_ERR_NOTLOCATED) return true;
    if (rc != IO_OK) {
        note = "locate answered " + std::to_string(rc);
        return false;
    }
    for (int k = 0; k < found.nints; ++k) {
        std::string what = found.stringAt(2 * k), where = found.stringAt(2 * k + 1);
        Header h;
        Data d;
        offsetsOf(d, {found.offsets[2 * k], found.offsets[2 * k + 1]});
        rc = c.request(IO_READ_DS, h, d);
        if (rc == IO_ERR_MEMORY) {
            d.ints.assign((size_t)std::max(d.nints, 1), 0);
            d.bind();
            rc = c.request(IO_READ_DS, h, d);
        }
        std::string key = keyOf(what, where, found.ints[k]);
        if (rc != IO_OK) {
            note = "reading " + key + " answered " + std::to_string(rc);
            return false;
        }
        if (out.count(key)) {
            note = key + " located twice";
            return false;
        }
        out[key] = std::vector<int32_t>(d.ints.begin(), d.ints.begin() + h.number);
    }
    return true;
}

// ---- requests of a workload, each answering the library's code --------------

// Writes an integer dataset, split into blocks of blockfactor records where
// the format is compressed.
inline int writeSeries(Client &c, const std::string &w, const std::string &r, int32_t t,
                       const std::vector<int32_t> &v, int32_t blockfactor = 1) {
    Header h(w, r, t);
    snprintf(h.datatype, sizeof h.datatype, "INTR");
    h.number = (int32_t)v.size();
    h.blockfactor = blockfactor;
    Data d;
    d.setInts(v);
    return c.request(IO_WRITE_DS, h, d);
}

inline int erase(Client &c, const std::string &w, const std::string &r, int32_t t) {
    Header h(w, r, t);
    Data d;
    return c.request(IO_DELETE_DS, h, d);
}

// A request that takes no arguments (closing the secondary file, an index
// rebuild, a copy of the whole primary file).
inline int plainRequest(Client &c, int code) {
    Header h;
    Data d;
    return c.request(code, h, d);
}

// Copies one dataset of the primary file into the secondary one.
inline int copyOne(Client &c, const std::string &w, const std::string &r, int32_t t) {
    Data found;
    Header key(w, r, t);
    found.sizeForLocate(1);
    int rc = c.request(IO_LOCATE_PRIMARY_DS, key, found);
    if (rc != IO_OK) return rc;
    Header h(w, r, t);
    Data d;
    offsetsOf(d, {found.offsets[0], found.offsets[1]});
    return c.request(IO_COPY_DATASET, h, d);
}

// ---- the check after a reopen ----------------------------------------------

// The file at path, open in c, where a fresh session read got: one more
// dataset is written and the file closed, then its index is rebuilt from the
// datasets at the next open, which must find got and that dataset, nothing
// else (no bytes left by an interrupted session become readable as data).
// Failures are added to failures.
inline void expectOneMoreWriteAfterRebuild(Client &c, const std::string &path, Contents got,
                                           std::string &failures) {
    if (int rc = writeSeries(c, "zz", "probe", 0, {4, 5, 6})) {
        failures += path + ": write after the reopen answered " + std::to_string(rc) + "\n";
        return;
    }
    if (int rc = c.close()) {
        failures += path + ": close after the reopen answered " + std::to_string(rc) + "\n";
        return;
    }
    forceRebuild(path);
    got[keyOf("zz", "probe", 0)] = {4, 5, 6};
    Client again;
    int rc = again.open(path);
    Contents after;
    std::string note;
    if (rc != IO_OK) {
        failures += path + ": open after the probe answered " + std::to_string(rc) + ": " + messages();
    } else if (!readAll(again, after, note)) {
        failures += path + ": after the probe, " + note + "\n";
    } else if (after != got) {
        failures += path + ": after the probe and a rebuild holds " + describe(after) + ", expected " +
                    describe(got) + "\n";
    }
}

}  // namespace iotest
