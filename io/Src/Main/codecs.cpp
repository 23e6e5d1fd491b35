// Element codecs: every byte the library writes to or reads from a data file
// goes through these routines, in text (F) or binary form of either byte
// order. Binary letters u and l are this platform's order; U and L (and the
// deletion marks) are stored byte-reversed.
#include "io_internal.h"

#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kLetters[] = "FDdUuLlXx";

char levelShown(char level, char none) { return level ? level : none; }

bool badArgs(const void *fmt, const void *items, const void *stream, int n, int perline,
             int width) {
    return !fmt || !items || !stream || n < 1 || perline < 1 || width < 1;
}

// Reports "<name>: passing parameters are wrong" or the wrong-format message
// when the call cannot go on; 0 when it can.
int checkArrayCall(IO_error_routine routine, const char *name, const char *format,
                   const void *items, FILE *stream, int n, int perline, int width) {
    if (badArgs(format, items, stream, n, perline, width)) {
        kwxIoError(routine, "%s: passing parameters are wrong\n", name);
        return IO_ERR_MEMORY;
    }
    if (!iofmt_is_letter(format[0])) {
        kwxIoError(routine, "%s: wrong dataset format\n", name);
        return IO_ERR_FORMAT;
    }
    return 0;
}

int writeFailed(IO_error_routine routine, const char *name, const char *call) {
    std::string msg = std::string(name) + ": (" + call + " failed) syserr:";
    kwxsystemErr(routine, msg.c_str());
    return IO_ERR_WRITE;
}

// Appends one right-justified field. A value as wide as the field or wider
// gets one blank before it, so that neighbouring fields never run together,
// unless its text starts with padding of its own (as every "%20.11E" field
// does): such a field is written as it is, its width unchanged.
void appendField(std::string &line, const char *text, int width) {
    int len = static_cast<int>(strlen(text));
    if (len < width)
        line.append(static_cast<size_t>(width - len), ' ');
    else if (text[0] != ' ')
        line += ' ';
    line += text;
}

// Writes n items k per line, each formatted by fmtItem into a field.
template <typename Fmt>
int writeTextLines(IO_error_routine routine, const char *name, int n, int perline, FILE *stream,
                   Fmt fmtItem) {
    std::string line;
    line.reserve(static_cast<size_t>(perline) * 24 + 2);
    for (int i = 0; i < n;) {
        line.clear();
        int end = (n - i > perline) ? i + perline : n;
        for (; i < end; ++i) fmtItem(line, i);
        line += '\n';
        if (fputs(line.c_str(), stream) == EOF) return writeFailed(routine, name, "fputs");
    }
    return 0;
}

int writeBinary(IO_error_routine routine, const char *name, const char *format, const void *items,
                size_t itemsize, int n, FILE *stream) {
    size_t total = itemsize * static_cast<size_t>(n);
    if (itemsize > 1 && iofmt_is_swapped(format[0])) {
        // Reverse into a scratch copy so the caller's array is left as it was.
        std::vector<unsigned char> buf(static_cast<const unsigned char *>(items),
                                       static_cast<const unsigned char *>(items) + total);
        for (size_t off = 0; off < total; off += itemsize)
            kwxSwapBytes(buf.data() + off, static_cast<int>(itemsize));
        if (fwrite(buf.data(), 1, total, stream) != total)
            return writeFailed(routine, name, "fwrite");
        return 0;
    }
    if (fwrite(items, 1, total, stream) != total) return writeFailed(routine, name, "fwrite");
    return 0;
}

// Reads n items of itemsize bytes, reversing each for a big-endian letter.
// Returns the count of whole items read.
size_t readBinary(const char *format, void *items, size_t itemsize, int n, FILE *stream) {
    size_t got = fread(items, itemsize, static_cast<size_t>(n), stream);
    if (itemsize > 1 && iofmt_is_swapped(format[0])) {
        unsigned char *p = static_cast<unsigned char *>(items);
        for (size_t i = 0; i < got; ++i) kwxSwapBytes(p + i * itemsize, static_cast<int>(itemsize));
    }
    return got;
}

// One escaped logical: only bytes that cannot stand alone as a text token
// (NUL and the white space the reader splits at) are written as "\xHH";
// every other byte is written as itself, as it always was. A token of one
// byte is never taken for an escape, so a lone '\\' reads back as itself.
bool loglNeedsEscape(unsigned char c) { return c == 0 || c == ' ' || (c >= '\t' && c <= '\r'); }

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Decodes a text logical token: "\xHH" is an escaped byte, anything else
// stands for its first character.
char loglFromToken(const char *tok) {
    if (tok[0] == '\\' && tok[1] == 'x') {
        // The second digit is looked at only after a first one: a token cut
        // short at the end of the text must not be read past its end.
        int h = hexValue(tok[2]);
        int l = h >= 0 ? hexValue(tok[3]) : -1;
        if (h >= 0 && l >= 0) return static_cast<char>(h * 16 + l);
    }
    return tok[0];
}

enum class TextKind { Int, Real, Dble, Logl };

// Reads items of one text line into the array (from index 'have' up to n).
// Returns the number of items taken (>= 0) or a negative IO code.
int readFmtLine(IO_error_routine routine, const char *name, TextKind kind, void *items, int have,
                int n, FILE *stream) {
    char line[1024];
    if (!fgets(line, sizeof line, stream)) {
        std::string msg = std::string(name) + ": (fgets failed) syserr:";
        kwxsystemErr(routine, msg.c_str());
        return -IO_ERR_READ;
    }
    int taken = 0;
    char *p = line;
    while (have + taken < n) {
        while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\f' || *p == '\v') ++p;
        if (*p == '\n' || *p == '\0') return taken;
        char *tokEnd = p;
        while (*tokEnd && *tokEnd != ' ' && *tokEnd != '\t' && *tokEnd != '\n' && *tokEnd != '\r')
            ++tokEnd;
        char saved = *tokEnd;
        *tokEnd = '\0';
        int idx = have + taken;
        switch (kind) {
        case TextKind::Int: {
            long long v = strtoll(p, nullptr, 10);
            if (v > INT32_MAX) v = INT32_MAX;
            if (v < INT32_MIN) v = INT32_MIN;
            static_cast<int32_t *>(items)[idx] = static_cast<int32_t>(v);
            break;
        }
        case TextKind::Real:
            static_cast<float *>(items)[idx] = static_cast<float>(kwx_strtod(p, nullptr));
            break;
        case TextKind::Dble:
            static_cast<double *>(items)[idx] = kwx_strtod(p, nullptr);
            break;
        case TextKind::Logl:
            static_cast<char *>(items)[idx] = loglFromToken(p);
            break;
        }
        *tokEnd = saved;
        ++taken;
        p = tokEnd;
        if (*p != ' ' && *p != '\t') return taken;   // line done
    }
    // All wanted items taken before the line ended: continue right after
    // the last item at the next read. The line's start is found from the
    // position after it, so that whole lines cost no position query.
    int64_t after = kwxTell64(stream);
    if (after < 0) {
        kwxIoError(routine, "%s: tell failed", name);
        return -IO_ERR_TELL;
    }
    int64_t start = after - static_cast<int64_t>(strlen(line));
    int64_t offset = p - line;
    if (kwxSeek64(stream, start + offset, 0) != 0) {
        kwxIoError(routine, "%s: seek failed", name);
        return -IO_ERR_SEEK;
    }
    return taken;
}

int readFmtArray(IO_error_routine routine, const char *name, TextKind kind, void *items, int n,
                 FILE *stream) {
    int have = 0;
    while (have < n) {
        int got = readFmtLine(routine, name, kind, items, have, n, stream);
        if (got < 0) return -got;
        have += got;
    }
    return 0;
}

// Formats a double in the "%20.11E" text form, in the C locale.
void formatE(char *buf, size_t size, double v) { kwx_snprintf(buf, size, "%20.11E", v); }

// Reads n reals, doubles or logicals: text lines through `textName`, or n
// binary items of itemsize bytes, where a short read is reported as
// "<name>: (fread failed) syserr:".
int readArray(IO_error_routine routine, const char *name, const char *textName, TextKind kind,
              const char *format, void *items, size_t itemsize, int n, int perline, int width,
              FILE *stream) {
    if (int rc = checkArrayCall(routine, name, format, items, stream, n, perline, width)) return rc;
    if (format[0] == 'F') return readFmtArray(routine, textName, kind, items, n, stream);
    if (readBinary(format, items, itemsize, n, stream) != static_cast<size_t>(n)) {
        std::string msg = std::string(name) + ": (fread failed) syserr:";
        kwxsystemErr(routine, msg.c_str());
        return IO_ERR_READ;
    }
    return 0;
}

}  // namespace

// ---- format letters --------------------------------------------------------

extern "C" int iofmt_is_letter(int c) { return c != 0 && strchr(kLetters, c) != nullptr; }

extern "C" int iofmt_is_live(int c) {
    return c == 'F' || c == 'U' || c == 'u' || c == 'L' || c == 'l';
}

extern "C" int iofmt_is_deleted(int c) { return c == 'D' || c == 'd' || c == 'X' || c == 'x'; }

extern "C" int iofmt_is_swapped(int c) { return !(c == 'F' || c == 'u' || c == 'l'); }

extern "C" int iofmt_is_compressed(const char *format) {
    if (!format) return 0;
    char c = format[0];
    return (c == 'u' || c == 'U' || c == 'l' || c == 'L') && format[1] >= '1' && format[1] <= '9';
}

extern "C" int iofmt_is_blocked(const char *format) {
    if (!format) return 0;
    char c = format[0];
    return (c == 'u' || c == 'U' || c == 'l' || c == 'L') && format[1] >= '0' && format[1] <= '9';
}

extern "C" int iofmt_make_native(IO_error_routine routine, char *format) {
    if (!format) return IO_ERR_FORMAT;
    switch (format[0]) {
    case 'L': case 'l': format[0] = 'l'; break;
    case 'U': case 'u': format[0] = 'u'; break;
    case 'X': case 'x': format[0] = 'x'; break;
    case 'd': format[0] = 'D'; break;
    case 'F': case 'D': break;
    default:
        kwxIoError(routine, "iofmt_make_native: unrecognised format %c%c",
                   format[0] ? format[0] : '?', levelShown(format[1], ' '));
        return IO_ERR_FORMAT;
    }
    return 0;
}

// ---- strings ---------------------------------------------------------------

extern "C" int kwxwriteString(IO_error_routine routine, const char *format, const char *items,
                              int n, int perline, int width, FILE *stream) {
    if (int rc = checkArrayCall(routine, "kwxwriteString", format, items, stream, n, perline, width))
        return rc;
    if (format[0] == 'F') {
        // The text up to width characters, its first NUL or its first
        // newline, blank-padded to width.
        std::string line;
        line.reserve(static_cast<size_t>(width) + 1);
        for (int i = 0; i < width && items[i] && items[i] != '\n'; ++i) line += items[i];
        line.append(static_cast<size_t>(width) - line.size(), ' ');
        line += '\n';
        if (fwrite(line.data(), 1, line.size(), stream) != line.size())
            return writeFailed(routine, "kwxwriteString", "fputs");
        return 0;
    }
    if (fwrite(items, 1, static_cast<size_t>(n), stream) != static_cast<size_t>(n))
        return writeFailed(routine, "kwxwriteString", "fwrite");
    return 0;
}

extern "C" int kwxreadString(IO_error_routine routine, const char *format, char *items, int n,
                             int perline, int width, FILE *stream) {
    if (int rc = checkArrayCall(routine, "kwxreadString", format, items, stream, n, perline, width))
        return rc;
    if (format[0] == 'F') {
        std::vector<char> line(static_cast<size_t>(width) + 2);
        if (!fgets(line.data(), width + 2, stream)) {
            kwxsystemErr(routine, "kwxreadString: (fgets failed) syserr:");
            return IO_ERR_READ;
        }
        size_t len = strlen(line.data());
        // Trailing white space goes, but never the first character.
        while (len > 1 && isspace(static_cast<unsigned char>(line[len - 1]))) --len;
        if (len == 1 && line[0] == '\n') len = 0;
        if (static_cast<int>(len) > n) {
            line[len] = '\0';
            kwxIoError(routine, "kwxreadString: read too many characters: %s\n", line.data() + n);
            return IO_ERR_MEMORY;
        }
        memcpy(items, line.data(), len);
        if (static_cast<int>(len) < n) items[len] = '\0';
        return 0;
    }
    size_t got = fread(items, 1, static_cast<size_t>(n), stream);
    if (got != static_cast<size_t>(n)) {
        kwxIoError(routine, "kwxreadString: fread failed: read %d bytes, expected %d",
                   static_cast<int>(got), n);
        return IO_ERR_READ;
    }
    return 0;
}

// ---- integers --------------------------------------------------------------

extern "C" int kwxwriteIntr(IO_error_routine routine, const char *format, const int32_t *items,
                            int n, int perline, int width, FILE *stream) {
    if (badArgs(format, items, stream, n, perline, width)) {
        kwxIoError(routine, "kwxwriteIntr: passing parameters are wrong\n");
        return IO_ERR_MEMORY;
    }
    if (!iofmt_is_letter(format[0])) {
        kwxIoError(routine, "kwxwriteIntr: wrong dataset format %c%c\n", format[0] ? format[0] : '?',
                   levelShown(format[1], ' '));
        return IO_ERR_FORMAT;
    }
    if (format[0] == 'F') {
        return writeTextLines(routine, "kwxwriteIntr", n, perline, stream,
                              [&](std::string &line, int i) {
                                  char buf[16];
                                  snprintf(buf, sizeof buf, "%d", static_cast<int>(items[i]));
                                  appendField(line, buf, width);
                              });
    }
    return writeBinary(routine, "kwxwriteIntr", format, items, 4, n, stream);
}

extern "C" int kwxreadIntr(IO_error_routine routine, const char *format, int32_t *items, int n,
                           int perline, int width, FILE *stream) {
    if (int rc = checkArrayCall(routine, "kwxreadIntr", format, items, stream, n, perline, width))
        return rc;
    if (format[0] == 'F') return readFmtArray(routine, "readIntFmtData", TextKind::Int, items, n, stream);
    size_t got = readBinary(format, items, 4, n, stream);
    if (got != static_cast<size_t>(n)) {
        kwxIoError(routine, "kwxreadIntr: fread failed or short read of %d/%d items, syserr",
                   static_cast<int>(got), n);
        return IO_ERR_READ;
    }
    return 0;
}

// ---- reals and doubles -----------------------------------------------------

extern "C" int kwxwriteReal(IO_error_routine routine, const char *format, const float *items,
                            int n, int perline, int width, FILE *stream) {
    if (int rc = checkArrayCall(routine, "kwxwriteReal", format, items, stream, n, perline, width))
        return rc;
    if (format[0] == 'F') {
        return writeTextLines(routine, "kwxwriteReal", n, perline, stream,
                              [&](std::string &line, int i) {
                                  char buf[40];
                                  formatE(buf, sizeof buf, static_cast<double>(items[i]));
                                  appendField(line, buf, 20);
                              });
    }
    return writeBinary(routine, "kwxwriteReal", format, items, 4, n, stream);
}

extern "C" int kwxreadReal(IO_error_routine routine, const char *format, float *items, int n,
                           int perline, int width, FILE *stream) {
    return readArray(routine, "kwxreadReal", "readRealFmtData", TextKind::Real, format, items,
                     sizeof *items, n, perline, width, stream);
}

// Text doubles are narrowed to single precision, as this format always did;
// a finite value beyond the range of a float keeps its full value so that it
// never turns into infinity.
extern "C" int kwxwriteDble(IO_error_routine routine, const char *format, const double *items,
                            int n, int perline, int width, FILE *stream) {
    if (int rc = checkArrayCall(routine, "kwxwriteDble", format, items, stream, n, perline, width))
        return rc;
    if (format[0] == 'F') {
        kwxIoError(routine,
                   "Warning: formatted floating point data is only written to single-precision accuracy");
        return writeTextLines(routine, "kwxwriteDble", n, perline, stream,
                              [&](std::string &line, int i) {
                                  char buf[40];
                                  double v = items[i];
                                  float f = static_cast<float>(v);
                                  if (std::isfinite(v) && !std::isfinite(f))
                                      formatE(buf, sizeof buf, v);
                                  else
                                      formatE(buf, sizeof buf, static_cast<double>(f));
                                  appendField(line, buf, 20);
                              });
    }
    return writeBinary(routine, "kwxwriteDble", format, items, 8, n, stream);
}

extern "C" int kwxreadDble(IO_error_routine routine, const char *format, double *items, int n,
                           int perline, int width, FILE *stream) {
    return readArray(routine, "kwxreadDble", "readDbleFmtData", TextKind::Dble, format, items,
                     sizeof *items, n, perline, width, stream);
}

// ---- logicals --------------------------------------------------------------

extern "C" int kwxwriteLogl(IO_error_routine routine, const char *format, const char *items,
                            int n, int perline, int width, FILE *stream) {
    if (int rc = checkArrayCall(routine, "kwxwriteLogl", format, items, stream, n, perline, width))
        return rc;
    if (format[0] == 'F') {
        return writeTextLines(routine, "kwxwriteLogl", n, perline, stream,
                              [&](std::string &line, int i) {
                                  unsigned char c = static_cast<unsigned char>(items[i]);
                                  if (loglNeedsEscape(c)) {
                                      char buf[8];
                                      snprintf(buf, sizeof buf, " \\x%02x", c);
                                      line += buf;
                                  } else {
                                      line.append(4, ' ');
                                      line += static_cast<char>(c);
                                  }
                              });
    }
    if (fwrite(items, 1, static_cast<size_t>(n), stream) != static_cast<size_t>(n))
        return writeFailed(routine, "kwxwriteLogl", "fwrite");
    return 0;
}

extern "C" int kwxreadLogl(IO_error_routine routine, const char *format, char *items, int n,
                           int perline, int width, FILE *stream) {
    return readArray(routine, "kwxreadLogl", "readLoglFmtData", TextKind::Logl, format, items,
                     sizeof *items, n, perline, width, stream);
}

// ---- field helpers ---------------------------------------------------------

extern "C" int kwxFormatIntField(char *destination, int width, int value) {
    if (!destination) return IO_ERR_PARSE;
    char buf[16];
    int len = snprintf(buf, sizeof buf, "%d", value);
    int pad = width > len ? width - len : 0;
    memset(destination, ' ', static_cast<size_t>(pad));
    memcpy(destination + pad, buf, static_cast<size_t>(len) + 1);
    return 0;
}

extern "C" int kwxFormatCharField(char *destination, int width, char c) {
    if (!destination) return IO_ERR_PARSE;
    int len = c ? 1 : 0;
    int pad = width > len ? width - len : 0;
    memset(destination, ' ', static_cast<size_t>(pad));
    destination[pad] = c;
    destination[pad + len] = '\0';
    return 0;
}

extern "C" int kwxFormatDouble(char *destination, const char *printfformat, float value) {
    if (!destination || !printfformat) return IO_ERR_PARSE;
    kwx_snprintf(destination, 64, printfformat, static_cast<double>(value));
    return 0;
}

// ---- length fields ---------------------------------------------------------

extern "C" int kwxEncodeOffset(IO_error_routine routine, const char *format, int64_t value,
                               int width, char *out, int *nbytes) {
    if (!format || !out || !nbytes || width < 1 || width > IO_OFFSET_FIELD_MAX - 2) {
        kwxIoError(routine, "kwxwriteOffset: passing parameters are wrong\n");
        return IO_ERR_MEMORY;
    }
    int64_t v = value;
    switch (format[0]) {
    case 'F': {
        char text[32];
        int len = snprintf(text, sizeof text, "%" PRId64, v);
        if (len > width) {
            kwxIoError(routine,
                       "writeOffset: offset %" PRId64
                       " too large for current offset format %d.  Possibly a dataset >2Gb.",
                       v, width);
            return IO_ERR_FORMAT;
        }
        *nbytes = snprintf(out, IO_OFFSET_FIELD_MAX, "%*s\n", width, text);
        return 0;
    }
    case 'U': case 'u': {
        if (v < INT32_MIN || v > INT32_MAX) {
            kwxIoError(routine,
                       "writeOffset: offset %" PRId64 " too large for integer,\nwould be written as %" PRId64
                       ".  Possibly a dataset >2Gb.",
                       v, static_cast<int64_t>(static_cast<int32_t>(static_cast<uint32_t>(v))));
            return IO_ERR_FORMAT;
        }
        int32_t i = static_cast<int32_t>(v);
        if (format[0] == 'U') {
            kwxIoTrace("kwxwriteOffset: byte-swapping offset for format %c%c", format[0],
                       levelShown(format[1], ' '));
            kwxSwapBytes(&i, 4);
        }
        memcpy(out, &i, 4);
        *nbytes = 4;
        return 0;
    }
    case 'L': case 'l': {
        int64_t i = v;
        if (format[0] == 'L') {
            kwxIoTrace("kwxwriteOffset: byte-swapping offset for format %c%c", format[0],
                       levelShown(format[1], ' '));
            kwxSwapBytes(&i, 8);
        }
        memcpy(out, &i, 8);
        *nbytes = 8;
        return 0;
    }
    default:
        kwxIoError(routine, "kwxwriteOffset: bad dataset format %c%c\n", format[0] ? format[0] : '?',
                   levelShown(format[1], '?'));
        return IO_ERR_FORMAT;
    }
}

extern "C" int kwxwriteOffset(IO_error_routine routine, const char *format, const int64_t *value,
                              int width, FILE *stream) {
    if (!format || !value || !stream || width < 1) {
        kwxIoError(routine, "kwxwriteOffset: passing parameters are wrong\n");
        return IO_ERR_MEMORY;
    }
    char field[IO_OFFSET_FIELD_MAX];
    int n = 0;
    if (int rc = kwxEncodeOffset(routine, format, *value, width, field, &n)) return rc;
    if (fwrite(field, 1, static_cast<size_t>(n), stream) != static_cast<size_t>(n))
        return writeFailed(routine, "kwxwriteOffset", format[0] == 'F' ? "fputs" : "fwrite");
    return 0;
}

namespace {

// Whether a text length field is a number: blanks, an optional sign, digits,
// and nothing after them but blanks and the line end.
bool isNumberField(const char *text) {
    const char *p = text;
    while (*p == ' ' || *p == '\t') ++p;
    if (*p == '-' || *p == '+') ++p;
    if (!isdigit(static_cast<unsigned char>(*p))) return false;
    while (isdigit(static_cast<unsigned char>(*p))) ++p;
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') ++p;
    return *p == '\0';
}

int readOffsetField(IO_error_routine routine, const char *format, int64_t *value, FILE *stream,
                    bool strict) {
    if (!format || !value || !stream) {
        kwxIoError(routine, "kwxreadOffset: passing parameters are wrong\n");
        return IO_ERR_MEMORY;
    }
    switch (format[0]) {
    case 'F': {
        char line[1024];
        if (kwxReadLine(line, sizeof line, stream) <= 0) {
            kwxsystemErr(routine, "kwxreadOffset: (fgets failed) syserr:");
            return IO_ERR_READ;
        }
        if (strict && !isNumberField(line)) {
            line[strcspn(line, "\r\n")] = '\0';
            kwxIoError(routine, "kwxreadOffset: length field is not a number: \"%.40s\"\n", line);
            return IO_ERR_PARSE;
        }
        *value = kwx_atoi64(line);
        return 0;
    }
    case 'U': case 'u': {
        int32_t i;
        if (fread(&i, 4, 1, stream) != 1) return IO_ERR_READ;
        if (format[0] == 'U') kwxSwapBytes(&i, 4);
        *value = i;
        return 0;
    }
    case 'L': case 'l': {
        int64_t i;
        if (fread(&i, 8, 1, stream) != 1) return IO_ERR_READ;
        if (format[0] == 'L') kwxSwapBytes(&i, 8);
        *value = i;
        return 0;
    }
    default:
        kwxIoError(routine, "kwxreadOffset: bad dataset format %c%c\n", format[0] ? format[0] : '?',
                   levelShown(format[1], '?'));
        return IO_ERR_FORMAT;
    }
}

}  // namespace

extern "C" int kwxreadOffset(IO_error_routine routine, const char *format, int64_t *value,
                             FILE *stream) {
    return readOffsetField(routine, format, value, stream, false);
}

extern "C" int kwxreadLength(IO_error_routine routine, const char *format, int64_t *value,
                             FILE *stream) {
    return readOffsetField(routine, format, value, stream, true);
}

// ---- header strings --------------------------------------------------------

extern "C" int kwxwriteHdrString(IO_error_routine routine, const char *format, const char *string,
                                 int capacity, FILE *stream) {
    if (!format || !string || !stream || capacity < 1) {
        kwxIoError(routine, "kwxwriteHdrString: passing parameters are wrong\n");
        return IO_ERR_MEMORY;
    }
    if (!iofmt_is_letter(format[0])) {
        kwxIoError(routine, "kwxwriteHdrString: bad format %c%c\n", format[0] ? format[0] : '?',
                   levelShown(format[1], ' '));
        return IO_ERR_FORMAT;
    }
    int len = static_cast<int>(strnlen(string, static_cast<size_t>(capacity) + 1));
    if (len > capacity) {
        kwxIoError(routine, "kwxwriteHdrString: string too long for format (%d > %d)",
                   static_cast<int>(strlen(string)), capacity);
        return IO_ERR_WRITE;
    }
    if (format[0] == 'F') {
        int rc = kwxwriteString(routine, format, string, capacity, 1, capacity, stream);
        if (rc) kwxIoError(routine, "kwxwriteHdrString: fail to write string\n");
        return rc;
    }
    int32_t n = len;
    int rc = kwxwriteIntr(routine, format, &n, 1, 1, 10, stream);
    if (rc) {
        kwxIoError(routine, "kwxwriteHdrString: fail to write string length\n");
        return rc;
    }
    if (len == 0) return 0;   // an empty record is its length alone
    rc = kwxwriteString(routine, format, string, len, 1, len, stream);
    if (rc) kwxIoError(routine, "kwxwriteHdrString: fail to write string\n");
    return rc;
}

extern "C" int kwxreadHdrString(IO_error_routine routine, const char *format, char *string,
                                int size, FILE *stream) {
    if (!format || !string || !stream || size < 1) {
        kwxIoError(routine, "kwxreadHdrString: passing parameters are wrong\n");
        return IO_ERR_MEMORY;
    }
    if (!iofmt_is_letter(format[0])) {
        kwxIoError(routine, "kwxreadHdrString: bad format %c%c\n", format[0] ? format[0] : '?',
                   levelShown(format[1], ' '));
        return IO_ERR_FORMAT;
    }
    if (format[0] == 'F') {
        // One byte of the buffer is kept for the terminator: a line that
        // fills the buffer would otherwise come back unterminated.
        if (size < 2) {
            kwxIoError(routine, "kwxreadHdrString: passing parameters are wrong\n");
            return IO_ERR_MEMORY;
        }
        int rc = kwxreadString(routine, format, string, size - 1, 1, size - 1, stream);
        if (rc) {
            kwxIoError(routine, "kwxreadHdrString: error reading from file\n");
            return rc;
        }
        string[size - 1] = '\0';
        return 0;
    }
    int32_t n = 0;
    int rc = kwxreadIntr(routine, format, &n, 1, 1, 10, stream);
    if (rc) {
        kwxIoError(routine, "kwxreadHdrString: fail to read string length\n");
        return rc;
    }
    if (n < 0 || n >= size) {
        kwxIoError(routine, "kwxreadHdrString: not enough buffer space for string: have %d, require > %d\n",
                   size, n);
        return IO_ERR_MEMORY;
    }
    if (n > 0) {
        rc = kwxreadString(routine, format, string, n, 1, n, stream);
        if (rc) {
            kwxIoError(routine, "kwxreadHdrString: unable to read string data\n");
            return rc;
        }
    }
    string[n] = '\0';
    return 0;
}

// ---- index position line ---------------------------------------------------

extern "C" int kwxgotoIndexLocation(IO_error_routine routine, int64_t *position, int width,
                                    FILE *stream) {
    if (!position || !stream || width < 1) return IO_ERR_MEMORY;
    if (kwxSeek64(stream, 0, 2) != 0) {
        kwxsystemErr(routine, "kwxgotoIndexLocation: (fseek to end failed) syserr:");
        return IO_ERR_SEEK;
    }
    int64_t size = kwxTell64(stream);
    if (size < 0) {
        kwxsystemErr(routine, "kwxgotoIndexLocation: (ftell failed) syserr:");
        return IO_ERR_TELL;
    }
    if (size == 0) {
        *position = 0;
        return IO_ERR_EOF;
    }
    int64_t back = -(static_cast<int64_t>(width) + 1);
    if (size < -back || kwxSeek64(stream, back, 1) != 0) {
        char *msg = kwxFormatAlloc("kwxgotoIndexLocation: (fseek rel %" PRId64 " failed) syserr:", back);
        kwxsystemErr(routine, msg ? msg : "kwxgotoIndexLocation: (fseek rel failed) syserr:");
        free(msg);
        return IO_ERR_SEEK;
    }
    char line[64];
    if (kwxReadLine(line, sizeof line, stream) <= 0) {
        kwxsystemErr(routine, "kwxgotoIndexLocation: (fgets failed) syserr:");
        return IO_ERR_READ;
    }
    int64_t pos = kwx_atoi64(line);
    if (pos < 0 || pos >= size || kwxSeek64(stream, pos, 0) != 0) {
        char *msg = kwxFormatAlloc("kwxgotoIndexLocation: (fseek to %" PRId64 " failed) syserr:", pos);
        kwxsystemErr(routine, msg ? msg : "kwxgotoIndexLocation: (fseek failed) syserr:");
        free(msg);
        return IO_ERR_SEEK;
    }
    *position = pos;
    return 0;
}

extern "C" int kwxIoNoop(IO_error_routine routine, void *array, int count) {
    (void)routine;
    (void)array;
    (void)count;
    return 0;
}

extern "C" int kwxReadLine(char *buffer, int size, FILE *stream) {
    if (!buffer || size < 2 || !stream) return 0;
    if (!fgets(buffer, size, stream)) return 0;
    size_t len = strlen(buffer);
    if (len > 0 && buffer[len - 1] != '\n') {
        // Over-long line: skip to its end so the next read starts on a new line.
        int c;
        while ((c = fgetc(stream)) != EOF && c != '\n') {
        }
    }
    return len > 0 ? static_cast<int>(len) : 1;
}

// ---- item types --------------------------------------------------------------

namespace {

template <typename Item, int (*Codec)(IO_error_routine, const char *, const Item *, int, int, int, FILE *)>
int writeAs(IO_error_routine routine, const char *format, const void *items, int n, int perline,
            int width, FILE *stream) {
    return Codec(routine, format, static_cast<const Item *>(items), n, perline, width, stream);
}

template <typename Item, int (*Codec)(IO_error_routine, const char *, Item *, int, int, int, FILE *)>
int readAs(IO_error_routine routine, const char *format, void *items, int n, int perline, int width,
           FILE *stream) {
    return Codec(routine, format, static_cast<Item *>(items), n, perline, width, stream);
}

void *stringsOf(const IO_data *d) { return d->strings; }
void *charsOf(const IO_data *d) { return d->chars; }
void *intsOf(const IO_data *d) { return d->ints; }
void *realsOf(const IO_data *d) { return d->reals; }
void *doublesOf(const IO_data *d) { return d->doubles; }
void *logicalsOf(const IO_data *d) { return d->logicals; }

}  // namespace

// Text reals and doubles are "%20.11E" fields, four to a line of 80;
// integers are 10 wide, eight to a line; logicals 5 wide, sixteen to a line.
const IO_itemtype kwxItemTypes[IO_NTYPES] = {
    {"string", 81, 80, 1, 0, 0, 'c', &IO_data::nstrings, stringsOf, nullptr, nullptr},
    {"char", 2, 1, 1, 0, 0, 'c', &IO_data::nchars, charsOf, nullptr, nullptr},
    {"intr", 11, 4, 4, 8, 10, 'i', &IO_data::nints, intsOf, writeAs<int32_t, kwxwriteIntr>,
     readAs<int32_t, kwxreadIntr>},
    {"real", 21, 4, 4, 4, 20, 'r', &IO_data::nreals, realsOf, writeAs<float, kwxwriteReal>,
     readAs<float, kwxreadReal>},
    {"dble", 21, 8, 8, 4, 20, 'd', &IO_data::ndoubles, doublesOf, writeAs<double, kwxwriteDble>,
     readAs<double, kwxreadDble>},
    {"logl", 2, 1, 1, 16, 5, 'c', &IO_data::nlogicals, logicalsOf, writeAs<char, kwxwriteLogl>,
     readAs<char, kwxreadLogl>},
};

int kwxWriteItems(IO_error_routine routine, const char *format, int type, const void *items, int n,
                  FILE *stream) {
    const IO_itemtype &t = kwxItemTypes[type];
    return t.write(routine, format, items, n, t.perline, t.width, stream);
}

int kwxReadItems(IO_error_routine routine, const char *format, int type, void *items, int n,
                 FILE *stream) {
    const IO_itemtype &t = kwxItemTypes[type];
    int rc = t.read(routine, format, items, n, t.perline, t.width, stream);
    if (rc == 0 && (type == IO_REAL || type == IO_DBLE)) kwxIoNoop(routine, items, n);
    return rc;
}
