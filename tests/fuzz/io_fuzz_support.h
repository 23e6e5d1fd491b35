// A caller of the data-file dispatcher for the harnesses: header and data
// arguments with buffers of their own, requests through iocntc with a
// routine that drops the messages, and reads that size their arrays from
// what the library says it needs, within a bound.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kwxio.h"
#include "../support/io_buffers.h"

namespace vrnfuzz {

inline int quietRoutine(const char*, int) { return 0; }

using Header = vrntest::IoHeader;

struct Data : vrntest::IoData {
    // Arrays of exactly the counts the fields now hold (what a read asked
    // for), or false when that would be more than `limit` bytes.
    bool sizeToCounts(int64_t limit) {
        auto count = [](int32_t n) { return n > 0 ? static_cast<int64_t>(n) : 0; };
        const int64_t bytes = count(noffsets) * 8 + count(nstrings) * IO_STRING_LEN + count(nchars) +
                              count(nints) * 4 + count(nreals) * 4 + count(ndoubles) * 8 + count(nlogicals);
        if (bytes > limit) return false;
        offsets.assign(static_cast<size_t>(std::max<int64_t>(count(noffsets), 2)), 0);
        strings.assign(static_cast<size_t>(count(nstrings)) * IO_STRING_LEN, 0);
        chars.assign(static_cast<size_t>(count(nchars)), 0);
        ints.assign(static_cast<size_t>(count(nints)), 0);
        reals.assign(static_cast<size_t>(count(nreals)), 0);
        doubles.assign(static_cast<size_t>(count(ndoubles)), 0);
        logicals.assign(static_cast<size_t>(count(nlogicals)), 0);
        bind();
        return true;
    }
};

inline int request(IO_control* control, int code, Header& h, Data& d) {
    return iocntc(code, quietRoutine, &h.h, &d.d, control);
}

// Locates what:where:when into d (sized as the library asks, within a
// bound); the request's code.
inline int locate(IO_control* control, int code, Header& key, Data& d) {
    d.noffsets = d.nstrings = d.nints = 0;
    d.bind();
    int rc = request(control, code, key, d);
    if (rc == IO_ERR_MEMORY && d.nints > 0 && d.nints <= 100000) {
        const int32_t n = d.nints;
        d.offsets.assign(static_cast<size_t>(2 * n), 0);
        d.strings.assign(static_cast<size_t>(2 * n) * IO_STRING_LEN, 0);
        d.ints.assign(static_cast<size_t>(n), 0);
        d.noffsets = d.nstrings = 2 * n;
        d.nints = n;
        d.bind();
        rc = request(control, code, key, d);
    }
    return rc;
}

// Reads the dataset at a location with request `code` (10, 18, 43, 44):
// first with no room, then with the room the library asked for.
inline int readAt(IO_control* control, int code, int64_t location, int64_t length) {
    Header h;
    Data d;
    d.offsets = {location, length};
    d.noffsets = 2;
    d.bind();
    int rc = request(control, code, h, d);
    if (rc == IO_ERR_MEMORY) {
        d.noffsets = std::max<int32_t>(d.noffsets, 2);
        if (!d.sizeToCounts(int64_t(64) << 20)) return rc;
        d.offsets[0] = location;
        d.offsets[1] = length;
        rc = request(control, code, h, d);
    }
    return rc;
}

// Closes everything the control block holds and frees it.
inline void closeAndFree(IO_control* control) {
    Header h;
    Data d;
    request(control, IO_CLOSE_ALL, h, d);
    iocontrol_free(control);
}

inline void removeDataFile(const std::string& name) {
    std::remove(name.c_str());
    std::remove((name + ".lck").c_str());
    std::remove((name + ".lck.lck").c_str());
}

}  // namespace vrnfuzz
