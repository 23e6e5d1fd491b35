// A dataset header over buffers of its own, as the IO benchmarks pass it to
// iocntc; named as an integer dataset until a benchmark says otherwise.
#pragma once

#include "io_files.h"

#include <cstdint>

namespace iobench {

struct HeaderBuffers {
    char what[IO_WHAT_SIZE] = {0};
    char where[IO_WHERE_SIZE] = {0};
    int32_t when = 0, numattrb = 0, number = 0, blockfactor = 1;
    char attributes[IO_ATTRIB_LEN] = {0};
    char datatype[IO_DATATYPE_SIZE] = "INTR";
    IO_header h{what, where, &when, &numattrb, attributes, &number, datatype, &blockfactor};
};

}  // namespace iobench
