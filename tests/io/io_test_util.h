// Helpers for the data-file tests: a data file opened straight on a record
// (without the lock files of the dispatcher), captured messages, owned
// headers and data.
#pragma once

#include "io_internal.h"

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

}  // namespace kwxtest
