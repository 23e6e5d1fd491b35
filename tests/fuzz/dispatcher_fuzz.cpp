// Sequences of dispatcher requests on two data files made fresh for each
// input: every byte picks a request and the bytes after it its arguments
// (names, times, formats, datatypes, values, offsets), so that writes,
// locates, reads at any position, deletions, copies, index upkeep, format
// changes, closes and reopens follow each other in any order.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "io_files.h"
#include "io_fuzz_support.h"

using namespace vrnfuzz;

namespace {

const char* const kNames[] = {"a", "b", "grid", "*", "a*", "?", "[ab]", ""};
const char kFormats[] = "FuUlLdDxX";

std::string nameFrom(Bytes& in) {
    const uint8_t b = in.next();
    if (b < 224) return kNames[b % 8];
    return std::string(static_cast<size_t>(b % 90), static_cast<char>('A' + b % 26));  // long names
}

// A dataset of one entry type with `number` records.
int writeDataset(IO_control* control, Bytes& in) {
    Header h(nameFrom(in), nameFrom(in), static_cast<int32_t>(in.next() % 5));
    const uint8_t type = in.next() % 5;
    const int32_t number = in.next() % 160;  // 100 and more are compressed in binary forms
    h.number = number;
    h.blockfactor = 1 + in.next() % 4;
    Data d;
    const char* const types[] = {"INTR", "REAL", "DBLE", "CHAR", "INTR,REAL"};
    std::snprintf(h.datatype, sizeof h.datatype, "%s", types[type]);
    for (int32_t i = 0; i < number; ++i) {
        const uint32_t v = in.next32();
        switch (type) {
        case 0: d.ints.push_back(static_cast<int32_t>(v)); break;
        case 1: d.reals.push_back(static_cast<float>(static_cast<int32_t>(v)) / 7.0f); break;
        case 2: d.doubles.push_back(static_cast<double>(static_cast<int32_t>(v)) * 1e-3); break;
        case 3: d.chars.push_back(static_cast<char>(v)); break;
        default:
            d.ints.push_back(static_cast<int32_t>(v));
            d.reals.push_back(static_cast<float>(v & 0xffff));
            break;
        }
    }
    d.nints = static_cast<int32_t>(d.ints.size());
    d.nreals = static_cast<int32_t>(d.reals.size());
    d.ndoubles = static_cast<int32_t>(d.doubles.size());
    d.nchars = static_cast<int32_t>(d.chars.size());
    d.bind();
    return request(control, IO_WRITE_DS, h, d);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool setUp = [] {
        kwxIoSetLockWait(1, 1);
        return true;
    }();
    (void)setUp;
    const std::string primary = tempFile("primary.kwx");
    const std::string secondary = tempFile("secondary.kwx");
    removeDataFile(primary);
    removeDataFile(secondary);

    Bytes in(data, size);
    IO_control* control = iocontrol_alloc();
    Data found;  // the last locate's results: where reads look
    int steps = 0;
    while (!in.empty() && steps++ < 64) {
        Header none;
        Data args;
        switch (in.next() % 16) {
        case 0: args.setName(primary); request(control, IO_OPEN_PRIMARY, none, args); break;
        case 1: request(control, IO_CLOSE_ALL, none, args); break;
        case 2: args.setName(secondary); request(control, IO_OPEN_SECONDARY, none, args); break;
        case 3: request(control, IO_CLOSE_SECONDARY, none, args); break;
        case 4:
            args.chars = {kFormats[in.next() % 9], '\0'};
            args.nchars = 1;
            args.bind();
            request(control, IO_SET_FORMAT, none, args);
            break;
        case 5: writeDataset(control, in); break;
        case 6: {
            Header key(nameFrom(in), nameFrom(in), static_cast<int32_t>(in.next() % 5) - 2);
            locate(control, in.next() % 2 ? IO_LOCATE_DS : IO_LOCATE_PRIMARY_DS, key, found);
            break;
        }
        case 7: {
            // A located dataset, or any position and length at all.
            const uint8_t pick = in.next();
            const int codes[] = {IO_READ_DS, IO_READ_PRIMARY_DS, IO_READ_DS_AS, IO_READ_PRIMARY_DS_AS};
            const int code = codes[pick % 4];
            if (found.nints > 0 && pick < 192) {
                const int k = in.next() % found.nints;
                readAt(control, code, found.offsets[2 * k], found.offsets[2 * k + 1]);
            } else {
                readAt(control, code, static_cast<int64_t>(in.next32() % 4096), in.next() % 256);
            }
            break;
        }
        case 8: {
            Header key(nameFrom(in), nameFrom(in), static_cast<int32_t>(in.next() % 5) - 2);
            request(control, in.next() % 2 ? IO_DELETE_DS : IO_DELETE_PRIMARY_DS, key, args);
            break;
        }
        case 9: {
            const int codes[] = {IO_COPY_ALLVALID_DS, IO_COPY_WHEN0_DS, IO_COPY_DS_COMPRESS_WHEN};
            request(control, codes[in.next() % 3], none, args);
            break;
        }
        case 10: {
            Header key(nameFrom(in), nameFrom(in), static_cast<int32_t>(in.next() % 5));
            args.offsets = {found.nints > 0 ? found.offsets[0] : static_cast<int64_t>(in.next32() % 4096), 0};
            args.noffsets = 2;
            args.bind();
            request(control, IO_COPY_DATASET, key, args);
            break;
        }
        case 11: request(control, in.next() % 2 ? IO_UPDATE_INDEX : IO_RECREATE_INDEX, none, args); break;
        case 12: {
            args.ints.assign(1, 0);
            args.nints = 1;
            args.bind();
            request(control, IO_INDEX_COUNT, none, args);
            break;
        }
        case 13: request(control, in.next() % 2 ? IO_USE_PRIMARY : IO_USE_SECONDARY, none, args); break;
        case 14: {
            const char text[] = {kFormats[in.next() % 9], static_cast<char>('0' + in.next() % 10), '\0'};
            args.chars.assign(text, text + 3);
            args.nchars = 2;
            args.bind();
            request(control, IO_SET_DEFAULT_FORMAT, none, args);
            break;
        }
        default: {
            Header h;
            args.offsets = {static_cast<int64_t>(in.next32() % 4096), 0};
            args.noffsets = 2;
            args.bind();
            request(control, IO_READ_HEADER, h, args);
            break;
        }
        }
    }
    closeAndFree(control);
    removeDataFile(primary);
    removeDataFile(secondary);
    return 0;
}
