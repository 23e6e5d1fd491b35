// Helpers for the data-file tests: a data file opened straight on a record
// (without the lock files of the dispatcher), captured messages, owned
// headers and data.
#pragma once

#include "io_internal.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace kwxtest {

// Every message the library sent through captureRoutine.
std::vector<std::string> &messages();
int captureRoutine(const char *message, int length);
bool anyMessageContains(const std::string &text);

// A data file on one IO_file record.
class DataFile {
public:
    // Creates a new file with the 36-byte info block, or opens an existing
    // one and loads its stored index (rebuilding it when that fails).
    explicit DataFile(const std::string &path, bool create = true);
    ~DataFile();
    DataFile(const DataFile &) = delete;
    DataFile &operator=(const DataFile &) = delete;

    IO_file &rec() { return rec_; }
    int openResult() const { return openResult_; }
    // Writes the index at the index position and the size into the info block.
    int flush();
    // Closes the stream without writing anything (as a crash would leave it).
    void abandon();
    int write(const char *format, IO_header *h, IO_data *d);

private:
    IO_file rec_;
    int openResult_ = 0;
};

// A header with its own buffers.
struct Header {
    IO_header h{};
    Header(const std::string &what, const std::string &where, int when, const std::string &datatype,
           int number, int blockfactor = 1);
    ~Header();
    Header(const Header &) = delete;
    Header &operator=(const Header &) = delete;
    IO_header *get() { return &h; }
};

// Data arrays with counts.
struct Data {
    std::vector<int64_t> offsets;
    std::vector<char> strings, chars, logicals;
    std::vector<int32_t> ints;
    std::vector<float> reals;
    std::vector<double> doubles;
    int32_t counts[7] = {0, 0, 0, 0, 0, 0, 0};
    IO_data d{};
    // Sizes each array for n items (strings: n slots of 80) and wires d.
    void size(int noff, int nstr, int nchar, int nint, int nreal, int ndble, int nlogl);
    IO_data *get() { return &d; }
    void setString(int slot, const std::string &s) {
        std::memset(&strings[size_t(slot) * 80], 0, 80);
        std::memcpy(&strings[size_t(slot) * 80], s.data(), s.size() < 80 ? s.size() : 80);
    }
    std::string string(int slot) const { return std::string(&strings[size_t(slot) * 80]); }
};

// Reads the dataset at location into h and d.
int readAt(IO_file &rec, int64_t location, IO_header *h, IO_data *d, const char *target = nullptr);

// Lines of the record's index table.
std::vector<std::string> indexLines(const IO_file &rec);

// Builds binary dataset bytes by hand, in either byte order, for files that
// this platform's writers never produce (big-endian U and L).
struct BinBuilder {
    bool big;
    int lenBytes;  // 4 for u/U, 8 for l/L
    std::string s;
    BinBuilder(bool bigEndian, int lengthBytes) : big(bigEndian), lenBytes(lengthBytes) {}
    void rawItem(const void *p, int n) {
        std::string b(static_cast<const char *>(p), size_t(n));
        if (big) std::reverse(b.begin(), b.end());
        s += b;
    }
    void i32(int32_t v) { rawItem(&v, 4); }
    void i64(int64_t v) { rawItem(&v, 8); }
    void f32(float v) { rawItem(&v, 4); }
    void f64(double v) { rawItem(&v, 8); }
    void len(int64_t v) {
        if (lenBytes == 4)
            i32(int32_t(v));
        else
            i64(v);
    }
    void bytes(const std::string &b) { s += b; }
    void record(const std::string &text) {
        i32(int32_t(text.size()));
        s += text;
    }
    // A whole dataset: format bytes, lengths, header and the given data
    // section (which starts after the "*DATA" tag).
    static std::string dataset(char letter, char level, const std::string &what, const std::string &where,
                               int when, const std::string &datatype, int number,
                               const std::string &dataSection, int blockfactor = 0) {
        bool bigEndian = letter == 'U' || letter == 'L';
        int lb = (letter == 'U' || letter == 'u') ? 4 : 8;
        BinBuilder body(bigEndian, lb);
        const std::string esc(1, '\x1b');
        body.bytes("*DATASET");
        body.record("*HEADER");
        body.record("WHAT" + esc + what);
        body.record("WHERE" + esc + where);
        body.record("WHEN" + esc + std::to_string(when));
        body.record("NUMATTRB" + esc + "0");
        body.record("DATATYPE" + esc + datatype);
        body.record("NUMBER" + esc + std::to_string(number));
        if (level) body.record("BLOCKFACTOR" + esc + std::to_string(blockfactor ? blockfactor : 100000));
        if (number > 0) {
            body.i32(5);
            body.bytes("*DATA");
            body.bytes(dataSection);
        }
        body.bytes("*ENDDATASET");
        BinBuilder out(bigEndian, lb);
        out.s += letter;
        out.s += level;
        out.s += '\n';
        out.len(int64_t(body.s.size()));
        out.s += body.s;
        out.len(int64_t(body.s.size()));
        return out.s;
    }
};

// The 36-byte start of a new file.
inline std::string infoBlock() { return "*INFO\n" + std::string(19, ' ') + "0\n*ENDINFO\n"; }

}  // namespace kwxtest
