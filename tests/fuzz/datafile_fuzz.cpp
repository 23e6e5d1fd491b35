// Data files of any content, opened through the dispatcher as a caller
// would: the open (loading the stored index or rebuilding it from the
// datasets), a locate of every dataset, reading each one found with its
// header, and the close.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "io_files.h"
#include "io_fuzz_support.h"

using namespace vrnfuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool setUp = [] {
        kwxIoSetLockWait(1, 1);  // a stale lock is waited out at once
        return true;
    }();
    (void)setUp;
    const std::string name = writeInput("data.kwx", data, size);
    IO_control* control = iocontrol_alloc();
    Data file;
    file.setName(name);
    Header none;
    if (request(control, IO_OPEN_PRIMARY, none, file) == IO_OK) {
        Header count;
        Data counted;
        counted.ints.assign(1, 0);
        counted.nints = 1;
        counted.bind();
        request(control, IO_INDEX_COUNT, count, counted);

        Header all("*", "*", -1);
        Data found;
        if (locate(control, IO_LOCATE_DS, all, found) == IO_OK) {
            const int n = std::min<int>(found.nints, 64);
            for (int i = 0; i < n; ++i) {
                readAt(control, IO_READ_DS, found.offsets[2 * i], found.offsets[2 * i + 1]);
                Header h;
                Data at;
                at.offsets = {found.offsets[2 * i], found.offsets[2 * i + 1]};
                at.noffsets = 2;
                at.bind();
                request(control, IO_READ_HEADER, h, at);
            }
        }
        Header latest("*", "*", -2);
        Data newest;
        locate(control, IO_LOCATE_DS, latest, newest);
    }
    closeAndFree(control);
    removeDataFile(name);
    return 0;
}
