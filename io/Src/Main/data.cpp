// The data section of a dataset: the "*DATA" tag and NUMBER records of the
// header's DATATYPE, as one typed array or record by record for structures,
// with zlib compression of large binary arrays and blocks.
#include "io_internal.h"

#include <zlib.h>

#include <cinttypes>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// Internal result: the compressed array was stored plain after a -1 length.
const int kStoredPlain = 30;

struct Layout {
    int n = 0;
    int types[IO_MAXENT];
    int counts[IO_MAXENT];
};

int parse(IO_error_routine routine, const char *datatype, Layout &lay) {
    for (int i = 0; i < IO_MAXENT; ++i) {
        lay.types[i] = -1;
        lay.counts[i] = 0;
    }
    return parseStructure(routine, datatype, &lay.n, lay.types, lay.counts);
}

int64_t recordSize(const Layout &lay, bool text) {
    int64_t size = 0;
    for (int i = 0; i < lay.n; ++i) {
        if (lay.types[i] < 0) continue;
        const IO_itemtype &t = kwxItemTypes[lay.types[i]];
        size += static_cast<int64_t>(lay.counts[i]) * (text ? t.textsize : t.binsize);
    }
    return size;
}

// Items of each type that number records need. Strings count one 80-character
// slot per STRI entry and record.
void needs(const Layout &lay, int64_t number, int64_t need[IO_NTYPES]) {
    for (int t = 0; t < IO_NTYPES; ++t) need[t] = 0;
    for (int i = 0; i < lay.n; ++i) {
        int t = lay.types[i];
        if (t < 0) continue;
        if (t == IO_STRI)
            need[t] += number;
        else
            need[t] += static_cast<int64_t>(lay.counts[i]) * number;
    }
}

int32_t *countField(IO_data *d, int t) { return d->*kwxItemTypes[t].count; }

void *arrayOf(const IO_data *d, int t) { return kwxItemTypes[t].array(d); }

// Checks that each array holds what number records need and sets every
// present count field to its type's need. 0 or 14, no message.
int capacityCheck(const Layout &lay, int64_t number, IO_data *data) {
    if (!data) return IO_ERR_MEMORY;
    int64_t need[IO_NTYPES];
    needs(lay, number, need);
    int rc = 0;
    for (int t = 0; t < IO_NTYPES; ++t) {
        int32_t *cnt = countField(data, t);
        if (need[t] > 0 && (!arrayOf(data, t) || !cnt || *cnt < need[t] || need[t] > INT32_MAX))
            rc = IO_ERR_MEMORY;
        if (cnt) *cnt = need[t] > INT32_MAX ? INT32_MAX : static_cast<int32_t>(need[t]);
    }
    return rc;
}

bool isBinaryLetter(char c) { return c == 'u' || c == 'U' || c == 'l' || c == 'L'; }

// Text items inside structure lines cannot hold the separator (ESC), a line
// end or NUL; such bytes are written as "\xHH" and decoded on reading. A
// backslash that would read as such an escape is escaped itself.
bool escapedByte(unsigned char c) { return c == 0 || c == '\n' || c == '\r' || c == IO_ESC; }

int hexv(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The byte an escape "\xHH" at s stands for, or -1 when s is no escape.
int escapeAt(const char *s, size_t avail) {
    if (avail < 4 || s[0] != '\\' || s[1] != 'x') return -1;
    int h = hexv(s[2]), l = hexv(s[3]);
    if (h < 0 || l < 0) return -1;
    int v = h * 16 + l;
    return (escapedByte(static_cast<unsigned char>(v)) || v == '\\') ? v : -1;
}

void appendEscaped(std::string &line, const char *p, size_t n) {
    char buf[8];
    for (size_t i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(p[i]);
        if (escapedByte(c) || (c == '\\' && escapeAt(p + i, n - i) >= 0)) {
            snprintf(buf, sizeof buf, "\\x%02x", c);
            line += buf;
        } else {
            line += static_cast<char>(c);
        }
    }
}

// Decodes at most max bytes of token into out; returns the bytes stored.
size_t decodeEscaped(const char *tok, size_t len, char *out, size_t max) {
    size_t o = 0;
    for (size_t i = 0; i < len && o < max;) {
        int v = escapeAt(tok + i, len - i);
        if (v >= 0) {
            out[o++] = static_cast<char>(v);
            i += 4;
        } else {
            out[o++] = tok[i++];
        }
    }
    return o;
}

void swapItems(void *p, size_t nitems, int size, char letter) {
    if (size <= 1 || !iofmt_is_swapped(letter)) return;
    unsigned char *b = static_cast<unsigned char *>(p);
    for (size_t i = 0; i < nitems; ++i) kwxSwapBytes(b + i * size, size);
}

// Writes the length of a compressed block: int32 for u/U, int64 for l/L.
int writeCompressedLength(IO_error_routine routine, const char *format, int64_t len, FILE *stream) {
    return kwxwriteOffset(routine, format, &len, 20, stream);
}

// A buffer of the library's allocator, freed on every path.
using Buffer = std::unique_ptr<unsigned char, decltype(&free)>;

Buffer allocate(int64_t bytes, bool zeroed = false) {
    size_t n = static_cast<size_t>(bytes > 0 ? bytes : 1);
    void *p = zeroed ? kwxIoCalloc(n, 1) : kwxIoMalloc(n);
    return Buffer(static_cast<unsigned char *>(p), free);
}

// ---- single arrays ---------------------------------------------------------

int writeCompressedArray(IO_error_routine routine, const char *format, FILE *stream, int type,
                         const void *items, int64_t total) {
    int level = format[1] - '0';
    int size = kwxItemTypes[type].itemsize;
    char kind = kwxItemTypes[type].gzipkind;
    int64_t bytes = total * size;
    Buffer out = allocate(bytes);
    if (!out) return kwxIoNoMemory(routine, IO_ERR_MEMORY, "write_compressed_dataarray", bytes);
    const void *input = items;
    std::vector<unsigned char> swapped;
    if (size > 1 && iofmt_is_swapped(format[0])) {
        swapped.assign(static_cast<const unsigned char *>(items),
                       static_cast<const unsigned char *>(items) + bytes);
        swapItems(swapped.data(), static_cast<size_t>(total), size, format[0]);
        input = swapped.data();
    }
    int result = 0;
    io_gzip(kind, level, static_cast<int>(total), input, static_cast<int>(total), out.get(), &result);
    if (result < 1) {
        int rc = writeCompressedLength(routine, format, -1, stream);
        if (rc) {
            kwxIoError(routine, "kwxwriteIntr: writing the compressed length failed\n");
            return rc;
        }
        return IO_ERR_COMPRESS;
    }
    int64_t len = static_cast<int64_t>(result) * size;
    if (int rc = writeCompressedLength(routine, format, len, stream)) {
        kwxIoError(routine, "kwxwriteIntr: writing the compressed length failed\n");
        return rc;
    }
    if (fwrite(out.get(), 1, static_cast<size_t>(len), stream) != static_cast<size_t>(len)) {
        kwxsystemErr(routine, "write_compressed_dataarray: (fwrite failed) syserr:");
        return IO_ERR_WRITE;
    }
    return 0;
}

int readCompressedLength(IO_error_routine routine, const char *format, FILE *stream, int64_t *len,
                         const char *who) {
    if (!isBinaryLetter(format[0])) {
        kwxIoError(routine, "%s: bad compressed format %c%c\n", who, format[0] ? format[0] : '?',
                   format[1] ? format[1] : '?');
        return IO_ERR_FORMAT;
    }
    int rc = kwxreadOffset(routine, format, len, stream);
    if (rc) {
        kwxIoError(routine, "%s: can not read the compressed data length\n", who);
        return rc;
    }
    if (*len > INT32_MAX || *len < INT32_MIN) {
        kwxIoError(routine,
                   "%s: offset %" PRId64 " too large for integer,\nwould be written as %" PRId64
                   ".  Possibly compressed chunk >2Gb.",
                   who, *len, static_cast<int64_t>(static_cast<int32_t>(static_cast<uint32_t>(*len))));
        return IO_ERR_FORMAT;
    }
    return 0;
}

int readCompressedArray(IO_error_routine routine, const char *format, FILE *stream, int type,
                        void *items, int64_t total) {
    const char *who = "read_compressed_dataarray";
    if (!(format[1] >= '1' && format[1] <= '9')) {
        kwxIoError(routine, "read_compressed_dataarray: the compress level in the data is wrong\n");
        return IO_ERR_COMPRESS;
    }
    int64_t len = 0;
    if (int rc = readCompressedLength(routine, format, stream, &len, who)) return rc;
    if (len == -1) return kStoredPlain;
    int size = kwxItemTypes[type].itemsize;
    int64_t bytes = total * size;
    // A stream never exceeds the plain array: the writer gives up otherwise.
    if (len <= 0 || len > bytes) {
        kwxIoError(routine, "read_compressed_dataarray: invalid input or output buffer too small\n");
        return IO_ERR_COMPRESS;
    }
    Buffer in = allocate(len);
    if (!in) return kwxIoNoMemory(routine, IO_ERR_MEMORY, "read_compressed_dataarray: malloc failed\n", IO_NO_SIZE);
    if (fread(in.get(), 1, static_cast<size_t>(len), stream) != static_cast<size_t>(len)) {
        kwxIoError(routine, "compressed_dataarray: read compressed data failed\n");
        return IO_ERR_READ;
    }
    if (io_gunzip(routine, len, in.get(), bytes, items) != 0) {
        kwxIoError(routine, "read_compressed_dataarray: decompression failed");
        return IO_ERR_COMPRESS;
    }
    swapItems(items, static_cast<size_t>(total), size, format[0]);
    return 0;
}

int writeSingle(IO_error_routine routine, const char *format, FILE *stream, int number, int type,
                int count, IO_data *data) {
    int64_t total = type == IO_STRI ? number : static_cast<int64_t>(number) * count;
    if (total <= 0) return 0;
    if (total > INT32_MAX) return IO_ERR_MEMORY;
    int n = static_cast<int>(total);
    bool text = format[0] == 'F';
    if (type != IO_STRI && !text && iofmt_is_compressed(format) && total >= 100) {
        int rc = writeCompressedArray(routine, format, stream, type, arrayOf(data, type), total);
        if (rc != IO_ERR_COMPRESS) return rc;
    }
    if (kwxItemTypes[type].write) return kwxWriteItems(routine, format, type, arrayOf(data, type), n, stream);
    switch (type) {
    case IO_CHAR:
        if (text) {
            // Exactly the stored bytes, then the line end.
            if (fwrite(data->chars, 1, static_cast<size_t>(n), stream) != static_cast<size_t>(n) ||
                fputc('\n', stream) == EOF) {
                kwxsystemErr(routine, "kwxwriteString: (fputs failed) syserr:");
                return IO_ERR_WRITE;
            }
            return 0;
        }
        return kwxwriteString(routine, format, data->chars, n, 1, n, stream);
    case IO_STRI:
        for (int r = 0; r < number; ++r) {
            const char *slot = data->strings + static_cast<size_t>(r) * IO_STRING_LEN;
            if (text) {
                // The string up to its end (line ends included), padded to
                // count with blanks as text files always were; a string that
                // the reader's removal of trailing blanks would change (an
                // empty one, or one ending in a blank) is padded with NULs.
                size_t len = strnlen(slot, static_cast<size_t>(count));
                std::string line(slot, len);
                bool blanksRoundTrip = len > 0 && slot[len - 1] != ' ';
                line.append(static_cast<size_t>(count) - len, blanksRoundTrip ? ' ' : '\0');
                line += '\n';
                if (fwrite(line.data(), 1, line.size(), stream) != line.size()) {
                    kwxsystemErr(routine, "kwxwriteString: (fputs failed) syserr:");
                    return IO_ERR_WRITE;
                }
            } else if (int rc = kwxwriteString(routine, format, slot, count, 1, count, stream)) {
                return rc;
            }
        }
        return 0;
    }
    return IO_ERR_FORMAT;
}

// Reads exactly n bytes and the line end written after them.
int readExactLine(IO_error_routine routine, char *out, int n, FILE *stream) {
    if (fread(out, 1, static_cast<size_t>(n), stream) != static_cast<size_t>(n)) {
        kwxsystemErr(routine, "kwxreadString: (fgets failed) syserr:");
        return IO_ERR_READ;
    }
    int c = fgetc(stream);
    if (c != '\n') {
        kwxIoError(routine, "kwxreadString: read too many characters: line longer than %d\n", n);
        return IO_ERR_MEMORY;
    }
    return 0;
}

int readSingle(IO_error_routine routine, const char *format, FILE *stream, int number, int type,
               int count, IO_data *data) {
    int64_t total = type == IO_STRI ? number : static_cast<int64_t>(number) * count;
    if (total <= 0) return 0;
    int n = static_cast<int>(total);
    bool text = format[0] == 'F';
    if (type != IO_STRI && !text && iofmt_is_compressed(format) && total >= 100) {
        int rc = readCompressedArray(routine, format, stream, type, arrayOf(data, type), total);
        if (rc != kStoredPlain) return rc;
    }
    if (kwxItemTypes[type].read) return kwxReadItems(routine, format, type, arrayOf(data, type), n, stream);
    switch (type) {
    case IO_CHAR:
        if (text) return readExactLine(routine, data->chars, n, stream);
        return kwxreadString(routine, format, data->chars, n, 1, n, stream);
    case IO_STRI:
        for (int r = 0; r < number; ++r) {
            char *slot = data->strings + static_cast<size_t>(r) * IO_STRING_LEN;
            if (text) {
                if (int rc = readExactLine(routine, slot, count, stream)) return rc;
                // Lines written blank-padded (no NUL in them) lose the padding.
                if (memchr(slot, '\0', static_cast<size_t>(count)) == nullptr) {
                    int len = count;
                    while (len > 1 && slot[len - 1] == ' ') --len;
                    memset(slot + len, 0, static_cast<size_t>(count - len));
                }
            } else if (int rc = kwxreadString(routine, format, slot, count, 1, count, stream)) {
                return rc;
            }
            if (count < IO_STRING_LEN) memset(slot + count, 0, static_cast<size_t>(IO_STRING_LEN - count));
            slot[count - 1] = '\0';
        }
        return 0;
    }
    return IO_ERR_FORMAT;
}

// ---- structures --------------------------------------------------------------

struct Cursor {
    char *strings;
    char *chars;
    int32_t *ints;
    float *reals;
    double *doubles;
    char *logicals;
    explicit Cursor(IO_data *d)
        : strings(d->strings), chars(d->chars), ints(d->ints), reals(d->reals),
          doubles(d->doubles), logicals(d->logicals) {}
};

int writeTextStructure(IO_error_routine routine, FILE *stream, int number, const Layout &lay,
                       IO_data *data) {
    Cursor c(data);
    std::string line;
    char buf[48];
    for (int r = 0; r < number; ++r) {
        line.clear();
        for (int e = 0; e < lay.n; ++e) {
            int cnt = lay.counts[e];
            switch (lay.types[e]) {
            case IO_INTR:
                for (int i = 0; i < cnt; ++i) {
                    snprintf(buf, sizeof buf, "%10d", static_cast<int>(*c.ints++));
                    line += buf;
                    line += static_cast<char>(IO_ESC);
                }
                break;
            case IO_REAL:
                for (int i = 0; i < cnt; ++i) {
                    kwx_snprintf(buf, sizeof buf, "%20.11E", static_cast<double>(*c.reals++));
                    line += buf;
                    line += static_cast<char>(IO_ESC);
                }
                break;
            case IO_DBLE:
                for (int i = 0; i < cnt; ++i) {
                    kwx_snprintf(buf, sizeof buf, "%20.11E", *c.doubles++);
                    line += buf;
                    line += static_cast<char>(IO_ESC);
                }
                break;
            case IO_LOGL:
                for (int i = 0; i < cnt; ++i) {
                    appendEscaped(line, c.logicals++, 1);
                    line += static_cast<char>(IO_ESC);
                }
                break;
            case IO_STRI:
                appendEscaped(line, c.strings, strnlen(c.strings, static_cast<size_t>(cnt)));
                line += static_cast<char>(IO_ESC);
                c.strings += IO_STRING_LEN;
                break;
            case IO_CHAR: {
                // Up to the last non-NUL byte; the reader restores the NULs.
                size_t len = static_cast<size_t>(cnt);
                while (len > 0 && c.chars[len - 1] == '\0') --len;
                appendEscaped(line, c.chars, len);
                line += static_cast<char>(IO_ESC);
                c.chars += cnt;
                break;
            }
            }
        }
        line += '\n';
        if (fwrite(line.data(), 1, line.size(), stream) != line.size()) {
            kwxsystemErr(routine, "write_fmt_structure: (fputs failed) syserr:");
            kwxIoError(routine, "write_data: write data failed\n");
            return IO_ERR_WRITE;
        }
    }
    return 0;
}

int readTextStructure(IO_error_routine routine, FILE *stream, int number, const Layout &lay,
                      int64_t recsize, IO_data *data) {
    Cursor c(data);
    // Escapes can make a line up to four times the record size. The line
    // grows with the bytes actually read, so a record size that a damaged
    // datatype makes huge costs no memory that the file does not fill.
    size_t cap = static_cast<size_t>(recsize) * 4 + 16;
    std::string line;
    for (int r = 0; r < number; ++r) {
        line.clear();
        int ch = EOF;
        bool any = false;
        while ((ch = getc_unlocked(stream)) != EOF) {
            any = true;
            if (ch == '\n') break;
            if (line.size() >= cap) {
                kwxIoError(routine, "kwxreadString: read too many characters: %.200s\n", line.c_str());
                kwxIoError(routine, "read_data: read data failed\n");
                return IO_ERR_MEMORY;
            }
            line += static_cast<char>(ch);
        }
        if (!any) {
            kwxsystemErr(routine, "kwxreadString: (fgets failed) syserr:");
            kwxIoError(routine, "read_data: read data failed\n");
            return IO_ERR_READ;
        }
        // The record ends at a NUL, as text lines always did.
        size_t len = strnlen(line.data(), line.size());
        while (len > 0 && line[len - 1] == '\r') --len;
        // Split at every separator; an empty item stays an item.
        std::vector<std::pair<const char *, size_t>> tok;
        const char *p = line.data();
        const char *end = p + len;
        while (p < end) {
            const char *sep = static_cast<const char *>(memchr(p, IO_ESC, static_cast<size_t>(end - p)));
            if (!sep) {
                // Trailing text without a separator: an unterminated item.
                bool blank = true;
                for (const char *q = p; q < end; ++q)
                    if (*q != ' ') blank = false;
                if (!blank) tok.emplace_back(p, static_cast<size_t>(end - p));
                break;
            }
            tok.emplace_back(p, static_cast<size_t>(sep - p));
            p = sep + 1;
        }
        if (tok.empty()) {
            kwxIoError(routine, "read_data: no string terminator to seperate different data\n");
            return IO_ERR_PARSE;
        }
        size_t k = 0;
        std::string t;
        for (int e = 0; e < lay.n; ++e) {
            int cnt = lay.counts[e];
            int type = lay.types[e];
            int items = (type == IO_STRI || type == IO_CHAR) ? 1 : cnt;
            if (k >= tok.size()) {
                // The record ends early: what it has not got stays zero.
                break;
            }
            for (int i = 0; i < items; ++i) {
                if (k < tok.size())
                    t.assign(tok[k].first, tok[k].second);
                else
                    t.clear();
                ++k;
                switch (type) {
                case IO_INTR: {
                    long long v = strtoll(t.c_str(), nullptr, 10);
                    if (v > INT32_MAX) v = INT32_MAX;
                    if (v < INT32_MIN) v = INT32_MIN;
                    *c.ints++ = static_cast<int32_t>(v);
                    break;
                }
                case IO_REAL: *c.reals++ = static_cast<float>(kwx_atof(t.c_str())); break;
                case IO_DBLE: *c.doubles++ = kwx_atof(t.c_str()); break;
                case IO_LOGL: {
                    char b = 0;
                    if (!t.empty()) decodeEscaped(t.data(), t.size(), &b, 1);
                    *c.logicals++ = b;
                    break;
                }
                case IO_STRI: {
                    memset(c.strings, 0, IO_STRING_LEN);
                    size_t max = static_cast<size_t>(cnt < IO_STRING_LEN ? cnt : IO_STRING_LEN - 1);
                    decodeEscaped(t.data(), t.size(), c.strings, max);
                    c.strings += IO_STRING_LEN;
                    break;
                }
                case IO_CHAR: {
                    memset(c.chars, 0, static_cast<size_t>(cnt));
                    decodeEscaped(t.data(), t.size(), c.chars, static_cast<size_t>(cnt));
                    c.chars += cnt;
                    break;
                }
                }
            }
            if (type == IO_REAL) kwxIoNoop(routine, c.reals - cnt, cnt);
            if (type == IO_DBLE) kwxIoNoop(routine, c.doubles - cnt, cnt);
        }
    }
    return 0;
}

// Bytes that one entry of cnt items takes in the caller's arrays: a string
// entry fills one 80-character slot, other entries cnt items.
size_t memoryStep(int type, size_t cnt) {
    return type == IO_STRI ? IO_STRING_LEN : cnt * static_cast<size_t>(kwxItemTypes[type].itemsize);
}

// Byte cursors into the caller's arrays, one per item type.
struct ByteCursor {
    unsigned char *at[IO_NTYPES];
    explicit ByteCursor(const IO_data *d) {
        for (int t = 0; t < IO_NTYPES; ++t) at[t] = static_cast<unsigned char *>(arrayOf(d, t));
    }
};

// Packs the records into the block in the file's byte order: per entry its
// cnt items (a string entry the first cnt characters of its slot).
void packBinary(const Layout &lay, int number, IO_data *data, char letter, unsigned char *buf) {
    ByteCursor c(data);
    unsigned char *o = buf;
    for (int r = 0; r < number; ++r) {
        for (int e = 0; e < lay.n; ++e) {
            int type = lay.types[e];
            size_t cnt = static_cast<size_t>(lay.counts[e]);
            int size = kwxItemTypes[type].itemsize;
            memcpy(o, c.at[type], cnt * size);
            swapItems(o, cnt, size, letter);
            o += cnt * size;
            c.at[type] += memoryStep(type, cnt);
        }
    }
}

// The reverse of packBinary, in this machine's byte order; a string slot
// keeps at most 79 characters and its terminator.
void unpackBinary(IO_error_routine routine, const Layout &lay, int number, IO_data *data,
                  char letter, const unsigned char *buf) {
    ByteCursor c(data);
    const unsigned char *in = buf;
    for (int r = 0; r < number; ++r) {
        for (int e = 0; e < lay.n; ++e) {
            int type = lay.types[e];
            size_t cnt = static_cast<size_t>(lay.counts[e]);
            int size = kwxItemTypes[type].itemsize;
            unsigned char *out = c.at[type];
            if (type == IO_STRI) {
                memset(out, 0, IO_STRING_LEN);
                memcpy(out, in, cnt < IO_STRING_LEN ? cnt : IO_STRING_LEN);
                out[IO_STRING_LEN - 1] = '\0';
            } else {
                memcpy(out, in, cnt * size);
                swapItems(out, cnt, size, letter);
                if (type == IO_REAL || type == IO_DBLE) kwxIoNoop(routine, out, static_cast<int>(cnt));
            }
            in += cnt * size;
            c.at[type] += memoryStep(type, cnt);
        }
    }
}

// Largest zlib stream that a block of the given size can take: deflate
// never exceeds this bound, whatever the data and the level.
int64_t streamBound(int64_t block) { return static_cast<int64_t>(compressBound(static_cast<uLong>(block))); }

// Binary structures: the whole block packed into number x record size bytes,
// compressed as one stream when the format asks for it and the block is 100
// bytes or more. A compressed block has no plain form: a block that zlib
// cannot shrink is still stored as a zlib stream (a few bytes longer than
// the block) with its true length, which every reader of the format inflates.
int writeBinaryStructure(IO_error_routine routine, const char *format, FILE *stream, int number,
                         const Layout &lay, int64_t recsize, IO_data *data) {
    int64_t block = recsize * number;
    if (block <= 0) return 0;
    if (block > INT32_MAX) {
        kwxIoError(routine, "write_unfmt_structure: (malloc failed) syserr: block of %" PRId64 " bytes",
                   block);
        return IO_ERR_MEMORY;
    }
    Buffer buf = allocate(block, true);
    if (!buf) return kwxIoNoMemory(routine, IO_ERR_MEMORY, "write_unfmt_structure: (malloc failed) syserr:", IO_NO_SIZE);
    packBinary(lay, number, data, format[0], buf.get());
    if (iofmt_is_compressed(format) && block >= 100) {
        int64_t capacity = streamBound(block);
        if (capacity > INT32_MAX) capacity = INT32_MAX;
        Buffer out = allocate(capacity);
        if (!out) return kwxIoNoMemory(routine, IO_ERR_COMPRESS, "write_data: malloc failed in compression\n", IO_NO_SIZE);
        int result = 0;
        io_gzip('c', format[1] - '0', static_cast<int>(block), buf.get(), static_cast<int>(capacity),
                out.get(), &result);
        if (result <= 0) {
            if (result == 0)
                kwxIoError(routine, "write_data: invalid input for compression\n");
            else if (result == -1)
                kwxIoError(routine, "write_data: compression failed\n");
            else if (result == -2)
                kwxIoError(routine, "write_data: output buffer too small for compression\n");
            else
                kwxIoError(routine, "write_data: unknown error %d during compression\n", result);
            return IO_ERR_COMPRESS;
        }
        if (int rc = writeCompressedLength(routine, format, result, stream)) {
            kwxIoError(routine, "write_data: writing the compressed length failed\n");
            return rc;
        }
        if (fwrite(out.get(), 1, static_cast<size_t>(result), stream) != static_cast<size_t>(result)) {
            kwxIoError(routine, "write_data: write data failed\n");
            return IO_ERR_WRITE;
        }
        return 0;
    }
    if (fwrite(buf.get(), 1, static_cast<size_t>(block), stream) != static_cast<size_t>(block)) {
        kwxIoError(routine, "write_data: write data failed\n");
        return IO_ERR_WRITE;
    }
    return 0;
}

int readBinaryStructure(IO_error_routine routine, const char *format, FILE *stream, int number,
                        const Layout &lay, int64_t recsize, IO_data *data) {
    int64_t block = recsize * number;
    if (block <= 0) return 0;
    if (block > INT32_MAX) {
        kwxIoError(routine, "read_unfmt_structure: (malloc failed) syserr: block of %" PRId64 " bytes",
                   block);
        return IO_ERR_MEMORY;
    }
    Buffer buf = allocate(block, true);
    if (!buf) return kwxIoNoMemory(routine, IO_ERR_MEMORY, "read_unfmt_structure: (malloc failed) syserr:", IO_NO_SIZE);
    bool plain = true;
    if (iofmt_is_blocked(format) && block >= 100) {
        int64_t len = 0;
        if (int rc = readCompressedLength(routine, format, stream, &len, "read_unfmt_structure"))
            return rc;
        // A compressed block is always a zlib stream: no length of 0 or
        // below (-1 included) and nothing beyond what deflate can produce.
        if (len <= 0 || len > streamBound(block)) {
            kwxIoError(routine, "read_unfmt_structure: invalid input or output buffer too small\n");
            return IO_ERR_COMPRESS;
        }
        Buffer in = allocate(len);
        if (!in) return kwxIoNoMemory(routine, IO_ERR_MEMORY, "read_unfmt_structure: malloc failed\n", IO_NO_SIZE);
        if (fread(in.get(), 1, static_cast<size_t>(len), stream) != static_cast<size_t>(len)) {
            kwxIoError(routine, "read_unfmt_structure: read compressed data failed\n");
            return IO_ERR_READ;
        }
        if (io_gunzip(routine, len, in.get(), block, buf.get()) != 0) {
            kwxIoError(routine, "read_unfmt_structure: error decompressing data");
            return IO_ERR_COMPRESS;
        }
        plain = false;
    }
    if (plain && fread(buf.get(), 1, static_cast<size_t>(block), stream) != static_cast<size_t>(block)) {
        kwxIoError(routine, "read_unfmt_structure: read data failed\n");
        return IO_ERR_READ;
    }
    unpackBinary(routine, lay, number, data, format[0], buf.get());
    return 0;
}

// What write_data and read_data check first: a datatype is given (else
// noType is reported), the arguments are usable, and the datatype parses into
// lay (else badType is reported).
int startBlock(IO_error_routine routine, const char *noType, const char *badType,
               const char *format, FILE *stream, int number, const char *datatype, IO_data *data,
               Layout &lay) {
    if (!datatype) {
        kwxIoError(routine, noType);
        return IO_ERR_PARSE;
    }
    if (!format || !stream || !data || number < 0) return IO_ERR_MEMORY;
    if (int rc = parse(routine, datatype, lay)) {
        kwxIoError(routine, badType);
        return rc;
    }
    return 0;
}

}  // namespace

// ---- data tag --------------------------------------------------------------

extern "C" int write_datatag(IO_error_routine routine, const char *format, FILE *stream) {
    if (!format || !stream) return IO_ERR_MEMORY;
    if (format[0] == 'F') {
        if (fputs("*DATA\n", stream) == EOF) {
            kwxIoError(routine, "write_data: write data tag failed\n");
            return IO_ERR_WRITE;
        }
        return 0;
    }
    int32_t five = 5;
    int rc = kwxwriteIntr(routine, format, &five, 1, 1, 10, stream);
    if (rc) {
        kwxIoError(routine, "write_data: write datatag length\n");
        return rc;
    }
    rc = kwxwriteString(routine, format, "*DATA", 5, 1, 5, stream);
    if (rc) kwxIoError(routine, "write_data: write data tag failed\n");
    return rc;
}

extern "C" int read_datatag(IO_error_routine routine, const char *format, FILE *stream) {
    if (!format || !stream) return IO_ERR_MEMORY;
    char tag[90];
    int rc;
    if (format[0] == 'F') {
        rc = kwxreadString(routine, format, tag, 5, 1, 82, stream);
    } else {
        int32_t n = 0;
        rc = kwxreadIntr(routine, format, &n, 1, 1, 10, stream);
        if (rc) {
            kwxIoError(routine, "read_datatag: read data tag length failed\n");
            return rc;
        }
        if (n != 5) {
            kwxIoError(routine, "read_datatag: bad tag length, read %d, should be %d", n, 5);
            return IO_ERR_FORMAT;
        }
        rc = kwxreadString(routine, format, tag, 5, 1, 5, stream);
    }
    if (rc) {
        kwxIoError(routine, "read_datatag: read data tag failed\n");
        return rc;
    }
    if (memcmp(tag, "*DATA", 5) != 0) {
        kwxIoError(routine, "read_datatag: read data tag failed\n");
        return IO_ERR_READ;
    }
    return 0;
}

// ---- blocks ----------------------------------------------------------------

extern "C" int write_data(IO_error_routine routine, const char *format, FILE *stream, int number,
                          const char *datatype, IO_data *data) {
    if (number == 0) return 0;
    Layout lay;
    if (int rc = startBlock(routine, "write_data: datatype string is null\n",
                            "write_data: parseStructure failed\n", format, stream, number, datatype,
                            data, lay))
        return rc;
    bool text = format[0] == 'F';
    int64_t recsize = recordSize(lay, text);
    if (capacityCheck(lay, number, data) != 0) {
        kwxIoError(routine, "write_data: checkdata failed\n");
        return IO_ERR_MEMORY;
    }
    if (lay.n == 1) {
        if (!text && !isBinaryLetter(format[0])) {
            kwxIoError(routine, "Bad format string in write_data");
            return IO_ERR_FORMAT;
        }
        return writeSingle(routine, format, stream, number, lay.types[0], lay.counts[0], data);
    }
    if (text) return writeTextStructure(routine, stream, number, lay, data);
    if (isBinaryLetter(format[0]))
        return writeBinaryStructure(routine, format, stream, number, lay, recsize, data);
    kwxIoError(routine, "Bad format string in write_data");
    return IO_ERR_FORMAT;
}

extern "C" int read_data(IO_error_routine routine, const char *format, FILE *stream, int number,
                         const char *datatype, IO_data *data) {
    if (number == 0) return 0;
    Layout lay;
    if (int rc = startBlock(routine, "read_data: datatype string is null\n",
                            "read_data: parseStructure failed\n", format, stream, number, datatype,
                            data, lay))
        return rc;
    bool text = format[0] == 'F';
    int64_t recsize = recordSize(lay, text);
    if (capacityCheck(lay, number, data) != 0) return IO_ERR_MEMORY;
    if (!text && !isBinaryLetter(format[0])) {
        kwxIoError(routine, "Bad format string %c%c", format[0] ? format[0] : '?',
                   format[1] ? format[1] : '?');
        return IO_ERR_PARSE;
    }
    if (lay.n == 1) return readSingle(routine, format, stream, number, lay.types[0], lay.counts[0], data);
    if (text) return readTextStructure(routine, stream, number, lay, recsize, data);
    return readBinaryStructure(routine, format, stream, number, lay, recsize, data);
}

extern "C" int check_memory(IO_error_routine routine, const char *format, int number,
                            const char *datatype, IO_data *data) {
    (void)format;
    if (!datatype) {
        kwxIoError(routine, "check_memory: datatype string is null\n");
        return IO_ERR_PARSE;
    }
    Layout lay;
    if (int rc = parse(routine, datatype, lay)) {
        kwxIoError(routine, "check_memory: parseStructure failed\n");
        return rc;
    }
    if (number < 0) return IO_ERR_MEMORY;
    return capacityCheck(lay, number, data);
}

// Converts number records stored as one datatype into another whose entries
// differ only by REAL against DBLE. Strings: one 80-character slot per STRI
// entry and record, as the readers fill them.
extern "C" int convert_data(IO_error_routine routine, int number, const char *olddatatype,
                            const char *newdatatype, int *converted, IO_data *source,
                            IO_data *destination) {
    if (converted) *converted = 0;
    if (!olddatatype || !newdatatype) {
        kwxIoError(routine, "convert_data: datatype string is null\n");
        return IO_ERR_PARSE;
    }
    Layout from, to;
    if (int rc = parse(routine, olddatatype, from)) {
        kwxIoError(routine, "convert_data: parse of original structure failed\n");
        return rc;
    }
    if (int rc = parse(routine, newdatatype, to)) {
        kwxIoError(routine, "convert_data: parse of new structure failed\n");
        return rc;
    }
    if (from.n != to.n) {
        kwxIoError(routine, "convert_data: cannot convert from %s to %s: different total number of items",
                   olddatatype, newdatatype);
        return IO_ERR_CONVERT;
    }
    // Every entry is checked; the message of the last mismatch is the one
    // reported.
    int flag = 0;
    const char *problem = nullptr;
    int item = 0;
    for (int e = 0; e < from.n; ++e) {
        int a = from.types[e], b = to.types[e];
        bool fp = (a == IO_REAL || a == IO_DBLE) && (b == IO_REAL || b == IO_DBLE);
        if (a != b) {
            if (fp) {
                flag = 1;
            } else {
                problem = "convert_data: cannot convert from %s to %s: incompatible types for item %d";
                item = e;
            }
        }
        if (from.counts[e] != to.counts[e]) {
            problem = "convert_data: cannot convert from %s to %s: counts differ for item %d";
            item = e;
        }
    }
    if (problem) {
        kwxIoError(routine, problem, olddatatype, newdatatype, item);
        return IO_ERR_CONVERT;
    }
    if (converted) *converted = flag;
    if (!flag || number == 0) return 0;
    if (number < 0 || !source || !destination) return IO_ERR_MEMORY;
    if (capacityCheck(to, number, destination) != 0) return IO_ERR_MEMORY;
    int64_t need[IO_NTYPES];
    needs(from, number, need);
    for (int t = 0; t < IO_NTYPES; ++t) {
        if (need[t] == 0) continue;
        int32_t *cnt = countField(source, t);
        if (!arrayOf(source, t) || !cnt || *cnt < need[t]) {
            kwxIoError(routine, "convert_data: not enough %s input data", kwxItemTypes[t].name);
            return IO_ERR_MEMORY;
        }
    }
    ByteCursor s(source), d(destination);
    for (int r = 0; r < number; ++r) {
        for (int e = 0; e < from.n; ++e) {
            int a = from.types[e], b = to.types[e];
            size_t cnt = static_cast<size_t>(from.counts[e]);
            if (a == IO_REAL && b == IO_DBLE) {
                for (size_t i = 0; i < cnt; ++i) {
                    float v;
                    memcpy(&v, s.at[a] + i * sizeof v, sizeof v);
                    double w = static_cast<double>(v);
                    memcpy(d.at[b] + i * sizeof w, &w, sizeof w);
                }
            } else if (a == IO_DBLE && b == IO_REAL) {
                for (size_t i = 0; i < cnt; ++i) {
                    double v;
                    memcpy(&v, s.at[a] + i * sizeof v, sizeof v);
                    float w = static_cast<float>(v);
                    memcpy(d.at[b] + i * sizeof w, &w, sizeof w);
                }
            } else {
                memcpy(d.at[b], s.at[a], memoryStep(a, cnt));
            }
            s.at[a] += memoryStep(a, cnt);
            d.at[b] += memoryStep(b, cnt);
        }
    }
    return 0;
}

extern "C" int write_compressed_data(IO_error_routine routine, const char *format, FILE *stream,
                                     int64_t nbytes, const char *bytes) {
    if (!format || !stream || nbytes < 0 || (nbytes > 0 && !bytes)) return IO_ERR_MEMORY;
    if (!isBinaryLetter(format[0])) {
        kwxIoError(routine, "write_compressed_data: only supports binary data\n");
        return IO_ERR_FORMAT;
    }
    if (int rc = writeCompressedLength(routine, format, nbytes, stream)) {
        kwxIoError(routine, "kwxwriteIntr: writing the compressed length failed\n");
        return rc;
    }
    if (nbytes > 0 && fwrite(bytes, 1, static_cast<size_t>(nbytes), stream) != static_cast<size_t>(nbytes)) {
        kwxsystemErr(routine, "write_compressed_data: (fwrite failed) syserr:");
        return IO_ERR_WRITE;
    }
    return 0;
}

// ---- zlib ------------------------------------------------------------------

extern "C" int io_gzip(char kind, int level, int nitems, const void *input, int capacity,
                       void *output, int *result) {
    int size;
    switch (kind) {
    case 'i': case 'I': case 'r': case 'R': size = 4; break;
    case 'd': case 'D': size = 8; break;
    case 'c': case 'C': size = 1; break;
    default: size = 0; break;
    }
    if (result) *result = 0;
    if (!size || !input || !output || nitems < 0 || capacity < 0 || !result) return 0;
    if (level < 1 || level > 9) level = 5;
    z_stream zs;
    memset(&zs, 0, sizeof zs);
    int rc = deflateInit(&zs, level);
    if (rc != Z_OK) {
        fprintf(stderr, "%s error: %d\n", "deflateInit", rc);
        return 0;
    }
    uint64_t inBytes = static_cast<uint64_t>(nitems) * size;
    uint64_t outBytes = static_cast<uint64_t>(capacity) * size;
    if (inBytes > UINT32_MAX || outBytes > UINT32_MAX) {
        // More than one deflate call takes: the caller stores the data plain.
        deflateEnd(&zs);
        *result = -1;
        return 0;
    }
    zs.next_in = static_cast<Bytef *>(const_cast<void *>(input));
    zs.avail_in = static_cast<uInt>(inBytes);
    zs.next_out = static_cast<Bytef *>(output);
    zs.avail_out = static_cast<uInt>(outBytes);
    rc = deflate(&zs, Z_FINISH);
    if (rc != Z_STREAM_END) {
        deflateEnd(&zs);
        *result = -1;
        return 0;
    }
    uint64_t total = zs.total_out;
    deflateEnd(&zs);
    int64_t items = static_cast<int64_t>((total + size - 1) / size);
    if (items > capacity) {
        *result = -2;
        return 0;
    }
    // The stream is stored in whole items: the padding after it is zero.
    memset(static_cast<unsigned char *>(output) + total, 0,
           static_cast<size_t>(items * size - static_cast<int64_t>(total)));
    *result = static_cast<int>(items);
    return 0;
}

extern "C" int io_gunzip(IO_error_routine routine, int64_t inbytes, const void *input,
                         int64_t outbytes, void *output) {
    if (!input || !output || inbytes <= 0 || outbytes < 0 || inbytes > UINT32_MAX ||
        outbytes > UINT32_MAX)
        return IO_ERR_COMPRESS;
    z_stream zs;
    memset(&zs, 0, sizeof zs);
    int rc = inflateInit(&zs);
    if (rc != Z_OK) {
        kwxIoError(routine, "io_gunzip: inflateInit failed: %d", rc);
        return IO_ERR_COMPRESS;
    }
    zs.next_in = static_cast<Bytef *>(const_cast<void *>(input));
    zs.avail_in = static_cast<uInt>(inbytes);
    zs.next_out = static_cast<Bytef *>(output);
    zs.avail_out = static_cast<uInt>(outbytes);
    int result = 0;
    rc = inflate(&zs, Z_FINISH);
    if (rc != Z_STREAM_END) {
        switch (rc) {
        case Z_BUF_ERROR: kwxIoError(routine, "io_gunzip: Buffer error"); break;
        case Z_MEM_ERROR: kwxIoError(routine, "io_gunzip: Out of memory error"); break;
        case Z_DATA_ERROR: kwxIoError(routine, "io_gunzip: Data error"); break;
        case Z_OK: kwxIoError(routine, "io_gunzip: Terminated before end"); break;
        default: kwxIoError(routine, "io_gunzip: error %d decompressing data", rc); break;
        }
        result = IO_ERR_COMPRESS;
    }
    if (static_cast<int64_t>(zs.total_out) != outbytes) {
        kwxIoError(routine, "io_gunzip: decompressed %s data: got %d bytes, expected %d",
                   static_cast<int64_t>(zs.total_out) > outbytes ? "too much" : "too little",
                   static_cast<int>(zs.total_out), static_cast<int>(outbytes));
        result = IO_ERR_COMPRESS;
    }
    rc = inflateEnd(&zs);
    if (rc != Z_OK) {
        kwxIoError(routine, "io_gunzip: inflateEnd failed: %d", rc);
        result = IO_ERR_COMPRESS;
    }
    return result;
}
