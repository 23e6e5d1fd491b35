// The index of a data file: the in-memory table of index lines, the stored
// "*INDEX" dataset at the file's end, and the rebuild of the index by
// scanning the datasets after a crash.
#include "io_internal.h"
#include "vrn_platform.h"

#include <unistd.h>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <cinttypes>
#include <cstdlib>
#include <charconv>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

const int64_t kMaxIndexBytes = (int64_t)1 << 32;

bool tableFull(const IO_file *r) {
    return !r->indextable || IO_INDEX_LINE(r->indextable, r->nlines)[0] == IO_ESC;
}

// Lines compare from their third character: WHAT, then WHERE, WHEN, ...
int compareLines(const char *a, const char *b) { return strcmp(a + 2, b + 2); }

// Grows the table so that it has room for at least one more line: the new
// room is the larger of 10000 lines and half the lines in use, so that the
// cost of growing stays proportional to the lines inserted. On failure the
// table is as it was and *bytes tells what was asked for.
int growTable(IO_file *r, int64_t *bytes) {
    int64_t free = IO_INDEX_GROW;
    if (r->nlines / 2 > free) free = r->nlines / 2;
    int64_t slots = static_cast<int64_t>(r->nlines) + free + 1;
    *bytes = slots * IO_INDEX_SLOT;
    char *t = static_cast<char *>(kwxIoRealloc(r->indextable, static_cast<size_t>(*bytes)));
    if (!t) return IO_ERR_MEMORY;
    for (int64_t i = r->nlines; i < slots - 1; ++i) IO_INDEX_LINE(t, i)[0] = '\0';
    IO_INDEX_LINE(t, slots - 1)[0] = IO_ESC;
    IO_INDEX_LINE(t, slots - 1)[1] = '\0';
    r->indextable = t;
    return 0;
}

// The kinds of byte in 64 bytes of a line: bit k of each mask stands for
// byte k. `ends` marks a newline or a NUL, `seps` an ESC, `digits` a
// decimal digit.
struct ByteKinds {
    uint64_t ends, seps, digits;
};

// The kinds of the 64 bytes at p, which may all be read.
inline ByteKinds kindsOf(const char *p) {
    ByteKinds k{0, 0, 0};
#ifdef __SSE2__
    for (int b = 0; b < 4; ++b) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16 * b));
        const __m128i end = _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\n')), _mm_cmpeq_epi8(v, _mm_setzero_si128()));
        // A digit less '0' is 9 or below: the saturated difference to 9 is 0.
        const __m128i digit = _mm_cmpeq_epi8(
            _mm_subs_epu8(_mm_sub_epi8(v, _mm_set1_epi8('0')), _mm_set1_epi8(9)), _mm_setzero_si128());
        const int shift = 16 * b;
        k.ends |= static_cast<uint64_t>(static_cast<uint16_t>(_mm_movemask_epi8(end))) << shift;
        k.seps |= static_cast<uint64_t>(static_cast<uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(IO_ESC))))) << shift;
        k.digits |= static_cast<uint64_t>(static_cast<uint16_t>(_mm_movemask_epi8(digit))) << shift;
    }
#else
    for (int b = 0; b < 64; ++b) {
        const unsigned char c = static_cast<unsigned char>(p[b]);
        k.ends |= static_cast<uint64_t>(c == '\n' || c == '\0') << b;
        k.seps |= static_cast<uint64_t>(c == IO_ESC) << b;
        k.digits |= static_cast<uint64_t>(c - '0' <= 9u) << b;
    }
#endif
    return k;
}

// The control bytes (below 0x20: ESC, newline, NUL and the rarer others)
// and the decimal digits among the 64 bytes at p, which may all be read:
// bit k of each mask stands for byte k. Fewer steps than kindsOf; the
// control bytes found are told apart by reading them.
struct ControlsAndDigits {
    uint64_t controls, digits;
};

[[gnu::always_inline]] inline ControlsAndDigits controlsAndDigitsOf(const char *p) {
    ControlsAndDigits k{0, 0};
#ifdef __SSE2__
#pragma GCC unroll 4
    for (int b = 0; b < 4; ++b) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16 * b));
        // A byte below 0x20 (a digit less '0' is 9 or below): the saturated
        // difference to 0x1f (to 9) is 0.
        const __m128i control = _mm_cmpeq_epi8(_mm_subs_epu8(v, _mm_set1_epi8(0x1f)), _mm_setzero_si128());
        const __m128i digit = _mm_cmpeq_epi8(
            _mm_subs_epu8(_mm_sub_epi8(v, _mm_set1_epi8('0')), _mm_set1_epi8(9)), _mm_setzero_si128());
        k.controls |= static_cast<uint64_t>(static_cast<uint16_t>(_mm_movemask_epi8(control))) << (16 * b);
        k.digits |= static_cast<uint64_t>(static_cast<uint16_t>(_mm_movemask_epi8(digit))) << (16 * b);
    }
#else
    for (int b = 0; b < 64; ++b) {
        const unsigned char c = static_cast<unsigned char>(p[b]);
        k.controls |= static_cast<uint64_t>(c < 0x20) << b;
        k.digits |= static_cast<uint64_t>(c - '0' <= 9u) << b;
    }
#endif
    return k;
}

// The value of the k decimal digits (1 to 8) that end at `end`; the eight
// bytes before `end` may be read. The bytes before the digits count as
// leading zeros.
[[gnu::always_inline]] inline uint64_t digitsBefore(const char *end, size_t k) {
    uint64_t w;
    memcpy(&w, end - 8, 8);
    const uint64_t keep = ~0ULL << (8 * (8 - k));
    w = ((w & keep) | (0x3030303030303030ULL & ~keep)) - 0x3030303030303030ULL;
    w = (w * 10 + (w >> 8)) & 0x00ff00ff00ff00ffULL;
    w = (w * 100 + (w >> 16)) & 0x0000ffff0000ffffULL;
    return (w * 10000 + (w >> 32)) & 0x00000000ffffffffULL;
}

// The value of the k digits (1 to 18) that end at `end`, read eight at a
// time: the bytes from `end` less k rounded up to a multiple of eight may
// be read.
[[gnu::always_inline]] inline int64_t fieldValue(const char *end, size_t k) {
    if (k <= 8) return static_cast<int64_t>(digitsBefore(end, k));
    const uint64_t low = digitsBefore(end, 8);
    if (k <= 16) return static_cast<int64_t>(digitsBefore(end - 8, k - 8) * 100000000ULL + low);
    return static_cast<int64_t>((digitsBefore(end - 16, k - 16) * 100000000ULL + digitsBefore(end - 8, 8)) *
                                    100000000ULL + low);
}

// The separators of a line among the bytes `seps` marks, all of them below
// the line end: their five positions (plus `base`) in esc[found...], or
// false when there are more than five.
inline bool takeSeparators(uint64_t seps, size_t base, size_t esc[5], int &found) {
    for (; seps; seps &= seps - 1) {
        if (found == 5) return false;
        esc[found++] = base + static_cast<size_t>(__builtin_ctzll(seps));
    }
    return true;
}

// Reads the stored index line that starts at `line` (the buffer ends at
// `end`) up to its newline, and copies it with a terminator to `slot` when
// one is given: its length, or -1 when it has no newline or is not a line
// the layout allows: a status of 'Y' or 'N', a WHAT and a WHERE that are
// not empty, and WHEN, dslength and location in decimal digits, the six
// fields separated by one ESC each. A line damaged in any byte that makes
// it something else is refused, so that the index is rebuilt from the
// datasets rather than believed. This runs for every line of every open,
// so the bytes are classed 64 at a time, and the numbers are read eight
// digits at a time once every byte after WHERE is known to be a digit or
// a separator.
[[gnu::always_inline]] inline long storedLine(const char *line, const char *end, char *slot, int64_t *dslength, int64_t *location) {
    const size_t room = static_cast<size_t>(end - line);
    size_t esc[5];
    size_t n = 0;
    bool quick = false;
    if (room >= 64) {
        // Most lines end within their first 64 bytes and hold no control
        // byte but their five separators and the newline: the first six
        // control bytes are then those, and every byte after the third
        // separator is a digit or one of the last two.
        const ControlsAndDigits c = controlsAndDigitsOf(line);
        uint64_t s = c.controls;
        size_t at[6];
#pragma GCC unroll 6
        for (size_t &e : at) {
            e = static_cast<size_t>(__builtin_ctzll(s | (1ULL << 63)));
            s &= s - 1;
        }
        n = at[5];
        quick = c.controls && (line[at[0]] == IO_ESC) & (line[at[1]] == IO_ESC) & (line[at[2]] == IO_ESC) &
                                  (line[at[3]] == IO_ESC) & (line[at[4]] == IO_ESC) & (line[n] == '\n');
        if (quick) {
            if (~(c.digits | c.controls) & ((1ULL << n) - 1) & (~0ULL << (at[2] + 1))) return -1;
            memcpy(esc, at, sizeof esc);
        }
    }
    if (!quick) {
        ByteKinds k;
        int found = 0;
        for (size_t base = 0;; base += 64) {
            if (base >= IO_INDEX_SLOT || base >= room) return -1;
            if (room - base >= 64) {
                k = kindsOf(line + base);
            } else {
                // The end of the buffer: the bytes past it read as NULs.
                char tail[64] = {0};
                memcpy(tail, line + base, room - base);
                k = kindsOf(tail);
            }
            const uint64_t below = k.ends ? (k.ends & (0 - k.ends)) - 1 : ~0ULL;
            if (!takeSeparators(k.seps & below, base, esc, found)) return -1;
            // After WHERE, only digits and separators.
            if (found >= 3) {
                const size_t from = esc[2] + 1;
                const uint64_t numeric = from <= base ? ~0ULL : from - base >= 64 ? 0 : ~0ULL << (from - base);
                if (~(k.digits | k.seps) & below & numeric) return -1;
            }
            if (k.ends) {
                n = base + static_cast<size_t>(__builtin_ctzll(k.ends));
                if (n >= room || line[n] != '\n') return -1;
                break;
            }
        }
        if (found != 5) return -1;
    }
    // A status, WHAT and WHERE not empty, then three numbers in plain digits,
    // WHEN an int32 and a dslength above 0. The fields before a number
    // take at least eight bytes, so the line holds the bytes fieldValue
    // reads before each number's end.
    if (n >= IO_INDEX_SLOT || (line[0] != 'Y' && line[0] != 'N') || esc[0] != 1 || esc[1] == 2 ||
        esc[2] == esc[1] + 1)
        return -1;
    const size_t whenDigits = esc[3] - esc[2] - 1, lengthDigits = esc[4] - esc[3] - 1, locationDigits = n - esc[4] - 1;
    if (whenDigits - 1 >= 10 || lengthDigits - 1 >= 18 || locationDigits - 1 >= 18) return -1;
    if (whenDigits == 10 && fieldValue(line + esc[3], whenDigits) > INT32_MAX) return -1;
    *dslength = fieldValue(line + esc[4], lengthDigits);
    *location = fieldValue(line + n, locationDigits);
    if (*dslength <= 0) return -1;
    if (slot) {
        memcpy(slot, line, n);
        slot[n] = '\0';
    }
    return static_cast<long>(n);
}

void copyLine(char *slot, const char *line) {
    size_t n = strnlen(line, IO_INDEX_SLOT - 1);
    memcpy(slot, line, n);
    slot[n] = '\0';
}

}  // namespace

extern "C" int kwxMakeIndexLine(char *line, const char *status, const char *what, const char *where,
                                int32_t when, int64_t dslength, int64_t location) {
    // status ESC what ESC where ESC when ESC dslength ESC location, built
    // without printf: this runs for every dataset written.
    char *p = line;
    char *const last = line + IO_INDEX_SLOT - 1;   // room for the terminator
    auto text = [&](const char *s) {
        size_t n = strlen(s);
        if (n > static_cast<size_t>(last - p)) return false;
        memcpy(p, s, n);
        p += n;
        return true;
    };
    auto number = [&](int64_t v) {
        char buf[24];
        char *e = std::to_chars(buf, buf + sizeof buf, v).ptr;
        size_t n = static_cast<size_t>(e - buf);
        if (n > static_cast<size_t>(last - p)) return false;
        memcpy(p, buf, n);
        p += n;
        return true;
    };
    auto sep = [&]() {
        if (p >= last) return false;
        *p++ = static_cast<char>(IO_ESC);
        return true;
    };
    bool ok = text(status) && sep() && text(what) && sep() && text(where) && sep() && number(when) &&
              sep() && number(dslength) && sep() && number(location);
    *p = '\0';
    return ok ? 0 : IO_ERR_PARSE;
}

extern "C" int indextable_alloc(IO_file *r) {
    if (!r) return IO_ERR_MEMORY;
    int64_t slots = static_cast<int64_t>(r->nlines) + IO_INDEX_GROW + 1;
    char *t = static_cast<char *>(kwxIoMalloc(static_cast<size_t>(slots * IO_INDEX_SLOT)));
    if (!t) return IO_ERR_MEMORY;
    for (int64_t i = 0; i < slots - 1; ++i) IO_INDEX_LINE(t, i)[0] = '\0';
    IO_INDEX_LINE(t, slots - 1)[0] = IO_ESC;
    IO_INDEX_LINE(t, slots - 1)[1] = '\0';
    free(r->indextable);
    r->indextable = t;
    r->sortedhead = 0;
    kwxIndexDropViews(r);
    return 0;
}

extern "C" void kwxIndexDropViews(IO_file *r) {
    if (!r) return;
    free(r->wheretable);
    r->wheretable = nullptr;
    free(r->whentable);
    r->whentable = nullptr;
    free(r->tailtable);
    r->tailtable = nullptr;
    // Line numbers kept beside the record no longer hold.
    kwxIndexForgetStoredRetired(r);
}

extern "C" int kwxIndexSortedCount(const IO_file *r) {
    if (!r) return 0;
    if (r->sorted != -1) return r->nlines;
    if (r->sortedhead < 0) return 0;
    return r->sortedhead < r->nlines ? r->sortedhead : r->nlines;
}

extern "C" int kwxIndexSettle(IO_error_routine routine, IO_file *r) {
    if (!r || !r->indextable || r->sorted != -1) return 0;
    int head = kwxIndexSortedCount(r);
    int tail = r->nlines - head;
    if (tail <= 0) {
        r->sortedhead = r->nlines;
        return 0;
    }
    std::vector<char> add;
    try {
        kwxIoCountAllocation();
        add.resize(static_cast<size_t>(tail) * IO_INDEX_SLOT);
    } catch (const std::bad_alloc &) {
        return kwxIoNoMemory(routine, IO_ERR_MEMORY, "sort_index",
                             static_cast<int64_t>(tail) * IO_INDEX_SLOT);
    }
    memcpy(add.data(), IO_INDEX_LINE(r->indextable, head), add.size());
    qsort(add.data(), static_cast<size_t>(tail), IO_INDEX_SLOT,
          [](const void *a, const void *b) {
              return compareLines(static_cast<const char *>(a), static_cast<const char *>(b));
          });
    // Merge from the back: each appended line goes after the head lines that
    // do not sort after it; the head lines above it move up in one block.
    int i = head - 1, w = r->nlines - 1;
    for (int j = tail - 1; j >= 0; --j) {
        const char *line = &add[static_cast<size_t>(j) * IO_INDEX_SLOT];
        int lo = 0, hi = i + 1;
        while (lo < hi) {
            int mid = lo + (hi - lo) / 2;
            if (compareLines(IO_INDEX_LINE(r->indextable, mid), line) <= 0)
                lo = mid + 1;
            else
                hi = mid;
        }
        int run = i - lo + 1;
        if (run > 0) {
            memmove(IO_INDEX_LINE(r->indextable, w - run + 1), IO_INDEX_LINE(r->indextable, lo),
                    static_cast<size_t>(run) * IO_INDEX_SLOT);
            w -= run;
            i = lo - 1;
        }
        memcpy(IO_INDEX_LINE(r->indextable, w), line, IO_INDEX_SLOT);
        --w;
    }
    r->sortedhead = r->nlines;
    kwxIndexDropViews(r);
    return 0;
}

// Appends a line. A table known to be sorted by WHAT stays usable without a
// re-sort: the line joins a short unsorted tail that searches scan, and the
// tail is merged into the order once it grows past about the square root of
// the table (at least 64, at most 1024 lines), so that the cost per line
// stays nearly flat however large the table is.
extern "C" int insert_index(IO_error_routine routine, IO_file *r, const char *line) {
    if (!r || !line) return IO_ERR_MEMORY;
    if (r->sorted == -1) {
        int tail = r->nlines - kwxIndexSortedCount(r);
        int limit = 64;
        while (limit < 1024 && static_cast<int64_t>(limit) * limit < r->nlines) limit *= 2;
        if (tail >= limit) {
            if (int rc = kwxIndexSettle(routine, r)) return rc;
        }
    }
    if (tableFull(r)) {
        int64_t bytes = 0;
        if (int rc = growTable(r, &bytes)) return kwxIoNoMemory(routine, rc, "insert_index", bytes);
    }
    copyLine(IO_INDEX_LINE(r->indextable, r->nlines), line);
    r->nlines++;
    r->indexdirty = 1;
    free(r->wheretable);
    r->wheretable = nullptr;
    kwxIndexWhenViewAppend(r, r->nlines - 1);
    kwxIndexTailViewAppend(r, r->nlines - 1);
    return 0;
}

extern "C" int insert_index_nosort(IO_error_routine routine, IO_file *r, const char *line) {
    if (!r || !line) return IO_ERR_MEMORY;
    if (tableFull(r)) {
        int64_t bytes = 0;
        if (growTable(r, &bytes) != 0)
            return kwxIoNoMemory(routine, IO_ERR_MEMORY, "insert_index: (malloc failed) syserr:", IO_NO_SIZE);
    }
    copyLine(IO_INDEX_LINE(r->indextable, r->nlines), line);
    r->nlines++;
    r->indexdirty = 1;
    kwxIndexWhenViewAppend(r, r->nlines - 1);
    kwxIndexTailViewAppend(r, r->nlines - 1);
    return 0;
}

// Writes the index dataset at the stream's position; the file ends right
// after it (a longer old index is cut off).
extern "C" int write_index(IO_error_routine routine, IO_file *r, int nlines, const char *table) {
    if (!r || !r->stream || nlines < 0 || (nlines > 0 && !table)) return IO_ERR_MEMORY;
    FILE *fp = r->stream;
    const char fmt[3] = {'F', '\0', '\0'};
    int width = r->offsetwidth ? r->offsetwidth : 20;
    int64_t start = kwxTell64(fp);
    if (start < 0) {
        kwxsystemErr(routine, "write_index: ftell of index position failed\n");
        return IO_ERR_TELL;
    }
    const char fb[3] = {'F', '\0', '\n'};
    if (fwrite(fb, 1, 3, fp) != 3) {
        kwxsystemErr(routine, "write_index: fwrite failed writing format");
        return IO_ERR_WRITE;
    }
    int64_t p1 = kwxTell64(fp);
    if (p1 < 0) {
        kwxsystemErr(routine, "write_index: ftell failed for first length position");
        return IO_ERR_TELL;
    }
    int64_t len = 0;
    if (int rc = kwxwriteOffset(routine, fmt, &len, width, fp)) {
        kwxIoError(routine, "write_index: write index length failed\n");
        return rc;
    }
    int64_t p2 = kwxTell64(fp);
    if (p2 < 0) {
        kwxsystemErr(routine, "write_index: ftell failed for index start position");
        return IO_ERR_TELL;
    }
    if (kwxwriteTag(routine, fmt, "*INDEX", fp)) {
        kwxIoError(routine, "write_index: write index tag failed\n");
        return IO_ERR_WRITE;
    }
    int64_t count = nlines;
    if (int rc = kwxwriteOffset(routine, fmt, &count, width, fp)) {
        kwxIoError(routine, "write_index: write number of index failed\n");
        return rc;
    }
    for (int i = 0; i < nlines; ++i) {
        const char *line = IO_INDEX_LINE(table, i);
        size_t n = strnlen(line, IO_INDEX_SLOT - 1);
        if (fwrite(line, 1, n, fp) != n || fputc('\n', fp) == EOF) {
            kwxIoError(routine, "write_index: write index failed\n");
            return IO_ERR_WRITE;
        }
    }
    if (kwxwriteTag(routine, fmt, "*ENDINDEX", fp)) {
        kwxIoError(routine, "write_index: write index end tag failed\n");
        return IO_ERR_WRITE;
    }
    int64_t after = kwxTell64(fp);
    if (after < 0) {
        kwxsystemErr(routine, "write_index: ftell of index end position failed");
        return IO_ERR_TELL;
    }
    len = after - p2;
    if (int rc = kwxwriteOffset(routine, fmt, &len, width, fp)) {
        kwxIoError(routine, "write_index: write index dataset length failed\n");
        return rc;
    }
    if (int rc = kwxwriteOffset(routine, fmt, &start, width, fp)) {
        kwxIoError(routine, "write_index: write index position failed\n");
        return rc;
    }
    int64_t end = kwxTell64(fp);
    if (end < 0) {
        kwxsystemErr(routine, "write_index: ftell failed for updated end position");
        return IO_ERR_TELL;
    }
    if (kwxSeek64(fp, 0, 2) != 0) {
        kwxsystemErr(routine, "write_index: fseek to end-of-file failed");
        return IO_ERR_SEEK;
    }
    int64_t fileEnd = kwxTell64(fp);
    bool oldBytes = fileEnd > end;
    if (kwxSeek64(fp, p1, 0) != 0) {
        kwxsystemErr(routine, "write_index: fseek to first length position failed");
        return IO_ERR_SEEK;
    }
    if (int rc = kwxwriteOffset(routine, fmt, &len, width, fp)) {
        kwxIoError(routine, "write_index: write index dataset length failed\n");
        return rc;
    }
    if (kwxSeek64(fp, end, 0) != 0) {
        kwxsystemErr(routine, "write_index: fseek to index end position failed");
        return IO_ERR_SEEK;
    }
    if (fflush(fp) != 0) {
        kwxsystemErr(routine, "write_index: failed to flush index data to disc");
        return IO_ERR_WRITE;
    }
    if (oldBytes) {
        // Cut the file at the new index so that its position line really is
        // the last line; only if that fails mark the leftovers with "*CRASH"
        // (the next open then finds no index at the end and rebuilds, and
        // the rebuild stops at the mark). Without the mark either, the index
        // is not written.
        if (vrnPlatform_ftruncate(vrnPlatform_streamFd(fp), end) != 0) {
            kwxIoError(routine, "write_index: warning: new index not at end of file, file may be bad");
            if (kwxwriteTag(routine, fmt, "*CRASH", fp) != 0 || kwxSeek64(fp, end, 0) != 0 || fflush(fp) != 0) {
                kwxsystemErr(routine, "write_index: can't mark the bytes after the index syserr:");
                return IO_ERR_WRITE;
            }
        }
    }
    return 0;
}

namespace {

// Gives the buffer n bytes; false when memory runs out.
bool sizeBuffer(std::string &buf, size_t n) {
    try {
        kwxIoCountAllocation();
        buf.assign(n, '\0');
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

}  // namespace

namespace {

// A reporting routine that swallows messages: length fields and
// deletion marks are probed in several layouts and only the outcome
// matters.
int quietRoutine(const char *, int) { return 0; }

// The bytes of one length field in the layout of a format letter (a text
// field is the file's offset width and its line end); 0 for no layout.
int64_t lengthFieldBytes(int letter, int width) {
    switch (letter) {
    case 'F': return static_cast<int64_t>(width) + 1;
    case 'u':
    case 'U': return 4;
    case 'l':
    case 'L': return 8;
    default: return 0;
    }
}

// Reads the length field that starts at `at`, the stream's position, in the
// layout of fmt: false unless it is whole there, a number taking exactly
// the layout's bytes. A text field whose line end was damaged would
// otherwise read on into the bytes after it, and the walk lose its place.
bool readFramedLength(const char *fmt, int width, FILE *fp, int64_t at, int64_t *value) {
    const int64_t n = lengthFieldBytes(static_cast<unsigned char>(fmt[0]), width);
    return n > 0 && kwxreadLength(quietRoutine, fmt, value, fp) == 0 && kwxTell64(fp) == at + n;
}

// Reads the length field at the stream's position, skips that many bytes
// and reads the trailing one: the way over a deleted dataset. Returns false
// when either field is not whole or the skip leaves the file.
bool skipDeleted(const char *fmt, int width, FILE *fp, int64_t size, int64_t *first, int64_t *second) {
    *first = *second = 0;
    const int64_t at = kwxTell64(fp);
    if (at < 0 || !readFramedLength(fmt, width, fp, at, first)) return false;
    const int64_t here = kwxTell64(fp);
    if (*first <= 0 || *first > size - here) return false;
    if (kwxSeek64(fp, here + *first, 0) != 0) return false;
    return readFramedLength(fmt, width, fp, here + *first, second);
}

// A name that an index line can hold: not empty, and without the field
// separator or a line end.
bool indexableName(const char *name) {
    if (!name[0]) return false;
    for (const char *p = name; *p; ++p)
        if (*p == IO_ESC || *p == '\n' || *p == '\r') return false;
    return true;
}

}  // namespace

namespace {

// The layout of a deletion mark's dataset as its second byte gives it (see
// the deletion module); "" when the byte names none (an old-style mark).
void layoutOfMark(unsigned char letter, unsigned char second, char df[3]) {
    df[0] = df[1] = df[2] = 0;
    if (second == 0) return;
    if (iofmt_is_live(second)) {
        df[0] = static_cast<char>(second);
        return;
    }
    bool bit7 = (second & 0x80) != 0;
    if (letter == 'D' || letter == 'd')
        df[0] = bit7 ? 'u' : 'U';
    else
        df[0] = bit7 ? 'l' : 'L';
    df[1] = static_cast<char>(second & 0x7f);
}

// Steps over the deleted dataset whose length field starts at `after`:
// first in the layout its mark names, then (a mark torn after its first
// byte, or an old-style mark) in each other layout; true when one gives two
// equal positive lengths. *first and *second hold the lengths last read.
bool skipDeletedAnyLayout(FILE *fp, int64_t after, int64_t size, int width, const char named[3],
                          int64_t *first, int64_t *second, const char **tried) {
    static const char *const layouts[5] = {"U", "u", "F", "L", "l"};
    *tried = named[0] ? named : "F";
    if (named[0]) {
        if (kwxSeek64(fp, after, 0) == 0 && skipDeleted(named, width, fp, size, first, second) &&
            *first > 0 && *first == *second)
            return true;
    }
    for (const char *t : layouts) {
        char probe[3] = {t[0], t[0] == 'F' ? '\0' : named[1], 0};
        int64_t f2 = 0, s2 = 0;
        if (kwxSeek64(fp, after, 0) != 0) return false;
        if (skipDeleted(probe, width, fp, size, &f2, &s2) && f2 > 0 && f2 == s2) return true;
        if (!named[0]) {
            *first = f2;
            *second = s2;
            *tried = t;
        }
    }
    return false;
}

// Whether a whole dataset starts at `at` (live or deleted; only a live one
// when liveOnly): a format letter, a positive leading length, and the same
// length again right after the bytes it counts. The stream is left anywhere.
bool wholeDatasetAt(FILE *fp, int64_t at, int64_t size, int width, bool liveOnly = false) {
    unsigned char fb[3];
    if (kwxSeek64(fp, at, 0) != 0 || fread(fb, 1, 3, fp) != 3 || fb[2] != '\n') return false;
    if (iofmt_is_live(fb[0])) {
        const char fmt[3] = {static_cast<char>(fb[0]), static_cast<char>(fb[1]), 0};
        int64_t first = 0, second = 0;
        return skipDeleted(fmt, width, fp, size, &first, &second) && first > 0 && first == second;
    }
    if (liveOnly || !iofmt_is_deleted(fb[0])) return false;
    char named[3];
    layoutOfMark(fb[0], fb[1], named);
    int64_t first = 0, second = 0;
    const char *tried = nullptr;
    return skipDeletedAnyLayout(fp, at + 3, size, width, named, &first, &second, &tried);
}

// The start of the next whole dataset after `from` and before `limit`
// (live only when liveOnly), found by its "*DATASET" tag, or -1 when there
// is none. A dataset's tag follows its three format bytes and its length
// field, whose size the format gives.
int64_t nextWholeDataset(FILE *fp, int64_t from, int64_t size, int width, int64_t limit = -1,
                         bool liveOnly = false) {
    static const char tag[] = "*DATASET";
    const size_t tagLen = sizeof tag - 1;
    const int64_t fieldSizes[3] = {width + 1, 4, 8};
    if (limit < 0 || limit > size) limit = size;
    // A tag lies at most this far after the start of its dataset.
    const int64_t tagEnd = std::min<int64_t>(size, limit + 3 + width + 1 + static_cast<int64_t>(tagLen));
    std::vector<char> chunk;
    try {
        chunk.resize(static_cast<size_t>(std::min<int64_t>(1 << 16, std::max<int64_t>(tagEnd - from, 64))));
    } catch (const std::bad_alloc &) {
        return -1;
    }
    int64_t at = from + 1;
    while (at < tagEnd) {
        if (kwxSeek64(fp, at, 0) != 0) return -1;
        size_t want = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(chunk.size()), tagEnd - at));
        size_t got = fread(chunk.data(), 1, want, fp);
        if (got < tagLen) return -1;
        for (size_t i = 0; i + tagLen <= got; ++i) {
            if (chunk[i] != '*' || memcmp(&chunk[i], tag, tagLen) != 0) continue;
            int64_t t = at + static_cast<int64_t>(i);
            for (int64_t field : fieldSizes) {
                int64_t candidate = t - 3 - field;
                if (candidate > from && candidate < limit && wholeDatasetAt(fp, candidate, size, width, liveOnly))
                    return candidate;
            }
        }
        if (got < want) return -1;
        at += static_cast<int64_t>(got - (tagLen - 1));
    }
    return -1;
}

// Whether a rebuild would index the whole live dataset at `at`: its tag is
// "*DATASET", its header reads and its names fit an index line. The stream
// is left anywhere.
bool indexedByRebuild(FILE *fp, int64_t at, int width) {
    unsigned char fb[3];
    if (kwxSeek64(fp, at, 0) != 0 || fread(fb, 1, 3, fp) != 3) return false;
    const char fmt[3] = {static_cast<char>(fb[0]), static_cast<char>(fb[1]), '\0'};
    int64_t length = 0;
    char tag[16];
    if (!readFramedLength(fmt, width, fp, at + 3, &length) || kwxreadTag(quietRoutine, fmt, tag, 8, fp) != 0 ||
        strcmp(tag, "*DATASET") != 0)
        return false;
    IO_header h;
    if (ioheader_alloc(&h) != 0) return true;   // not known: taken as indexed
    const bool indexed =
        read_header(quietRoutine, fmt, fp, &h) == 0 && indexableName(h.what) && indexableName(h.where);
    ioheader_free(&h);
    return indexed;
}

// Where the dataset of an index line starts and how long it says it is.
struct Extent {
    int64_t location, length;
};

// The bytes of the two length fields of the dataset at `at`, by its format
// bytes (a deletion mark's second byte names its layout); 0 when they name
// none.
int64_t lengthFieldsAt(FILE *fp, int64_t at, int width) {
    unsigned char fb[2];
    if (kwxSeek64(fp, at, 0) != 0 || fread(fb, 1, 2, fp) != 2) return 0;
    int letter = fb[0];
    if (iofmt_is_deleted(letter)) {
        char named[3];
        layoutOfMark(fb[0], fb[1], named);
        letter = static_cast<unsigned char>(named[0]);
    }
    return 2 * lengthFieldBytes(letter, width);
}

// Whether the dataset at e.location is e.length bytes long by its own
// length fields: the leading one holds that length or, when it was damaged,
// the trailing one that length reaches does. The stream is left anywhere.
bool lengthFrames(FILE *fp, const Extent &e, int width) {
    unsigned char fb[2];
    if (kwxSeek64(fp, e.location, 0) != 0 || fread(fb, 1, 2, fp) != 2) return false;
    char fmt[3] = {static_cast<char>(fb[0]), 0, 0};
    if (iofmt_is_deleted(fb[0])) layoutOfMark(fb[0], fb[1], fmt);
    const int64_t field = lengthFieldBytes(static_cast<unsigned char>(fmt[0]), width);
    if (field == 0) return false;
    int64_t value = 0;
    if (kwxSeek64(fp, e.location + 3, 0) == 0 && readFramedLength(fmt, width, fp, e.location + 3, &value) &&
        value == e.length)
        return true;
    const int64_t trailing = e.location + 3 + field + e.length;
    return kwxSeek64(fp, trailing, 0) == 0 && readFramedLength(fmt, width, fp, trailing, &value) &&
           value == e.length;
}

}  // namespace

extern "C" int kwxGuessOffsetWidth(FILE *fp, int64_t size) {
    for (int width : {20, 10}) {
        const int64_t at = nextWholeDataset(fp, 0, size, width);
        if (at > 0 && lengthFieldsAt(fp, at, width) == 2 * (width + 1)) return width;
    }
    // The position line that ends a stored index.
    char tail[24];
    const int64_t n = std::min<int64_t>(size, static_cast<int64_t>(sizeof tail));
    if (kwxSeek64(fp, size - n, 0) == 0 && fread(tail, 1, static_cast<size_t>(n), fp) == static_cast<size_t>(n) &&
        n > 0 && tail[n - 1] == '\n') {
        int64_t k = n - 2;
        while (k >= 0 && (tail[k] == ' ' || (tail[k] >= '0' && tail[k] <= '9'))) --k;
        const int64_t line = n - 2 - k;
        if ((line == 10 || line == 20) && k >= 0 && tail[k] == '\n') return static_cast<int>(line);
    }
    return 20;
}

extern "C" int64_t kwxIndexEndingFile(FILE *fp, int64_t size, int width) {
    // The last line, after a line end: the index's start as a length field.
    const int64_t line = static_cast<int64_t>(width) + 1;
    char before = 0;
    int64_t at = -1;
    if ((width != 10 && width != 20) || size < line + 1 || kwxSeek64(fp, size - line - 1, 0) != 0 ||
        fread(&before, 1, 1, fp) != 1 || before != '\n' || !readFramedLength("F", width, fp, size - line, &at) ||
        at < 0)
        return -1;
    char start[3 + 21 + 7];
    const size_t head = static_cast<size_t>(3 + line + 7);
    if (at >= size || kwxSeek64(fp, at, 0) != 0 || fread(start, 1, head, fp) != head ||
        memcmp(start, "F\0\n", 3) != 0 || memcmp(start + 3 + line, "*INDEX\n", 7) != 0)
        return -1;
    int64_t first = 0, second = 0;
    if (kwxSeek64(fp, at + 3, 0) != 0 || !skipDeleted("F", width, fp, size, &first, &second) || first != second ||
        kwxTell64(fp) != size - line)
        return -1;
    return at;
}

extern "C" int kwxDataOffsetWidth(FILE *fp, int64_t at, int64_t size) {
    // The items from `at` on: the first text one shows the width by the
    // one at which its lengths frame; binary ones are stepped over (a few,
    // so that a file of binary datasets costs little). A text item whose
    // trailing length is damaged, or that the file's end cut, still shows
    // it by its leading length line alone, which is whole at one width
    // only (its digits and blanks end in a line end at that width).
    int leading = 0;
    const int64_t start = at;
    for (int items = 0; items < 64 && at < size; ++items) {
        unsigned char fb[3];
        if (kwxSeek64(fp, at, 0) != 0 || fread(fb, 1, 3, fp) != 3 || fb[2] != '\n') break;
        char fmt[3] = {0, 0, 0};
        if (iofmt_is_live(fb[0])) {
            fmt[0] = static_cast<char>(fb[0]);
            fmt[1] = static_cast<char>(fb[1]);
        } else if (iofmt_is_deleted(fb[0])) {
            layoutOfMark(fb[0], fb[1], fmt);
        }
        if (!fmt[0]) break;
        int64_t first = 0, second = 0;
        if (fmt[0] == 'F') {
            for (int width : {20, 10})
                if (kwxSeek64(fp, at + 3, 0) == 0 && skipDeleted("F", width, fp, size, &first, &second) &&
                    first > 0 && first == second)
                    return width;
            for (int width : {20, 10})
                if (kwxSeek64(fp, at + 3, 0) == 0 && readFramedLength("F", width, fp, at + 3, &first) && first > 0)
                    leading = width;
            break;
        }
        if (kwxSeek64(fp, at + 3, 0) != 0 || !skipDeleted(fmt, 20, fp, size, &first, &second) || first <= 0 ||
            first != second)
            break;
        at += 3 + 2 * lengthFieldBytes(static_cast<unsigned char>(fmt[0]), 20) + first;
    }
    // The stored index that ends the file.
    for (int width : {20, 10})
        if (kwxIndexEndingFile(fp, size, width) >= 0) return width;
    if (leading) return leading;
    // The first text item damaged in its leading length too: a later whole
    // text dataset shows it, as its lengths frame at one width only. A few
    // datasets at each width are looked at; only a file whose first text
    // item and stored index both fail comes here.
    for (int width : {20, 10}) {
        int64_t next = start;
        for (int tries = 0; tries < 64 && (next = nextWholeDataset(fp, next, size, width)) > 0; ++tries)
            if (lengthFieldsAt(fp, next, width) == 2 * (width + 1)) return width;
    }
    return 0;
}

namespace {

// Checks that the datasets of the index lines, given in the order of their
// locations, lie back to back in the data region, from the end of the info
// block (a damaged "*ENDINFO" line counts as a gap, so that it is no reason
// to rebuild at every open) to the index at indexStart: each one starts
// where the one before ends (its three format bytes, two length fields and
// the length in between), or after a gap that holds no whole live dataset
// (deleted datasets, or damage a rebuild stepped over). A location or
// length that was damaged, and lines that are missing, break the step; the
// index must then be rebuilt. The stream is left anywhere.
class StepCheck {
public:
    StepCheck(FILE *fp, int width, int64_t indexStart, int64_t size)
        : fp_(fp), width_(width), indexStart_(indexStart), size_(size),
          fields_{2 * (static_cast<int64_t>(width) + 1), 8, 16} {
        expected_ = 6 + (static_cast<int64_t>(width) + 1);
        char endInfo[9];
        if (kwxSeek64(fp, expected_, 0) == 0 && fread(endInfo, 1, 9, fp) == 9 &&
            memcmp(endInfo, "*ENDINFO\n", 9) == 0)
            expected_ += 9;
    }
    // The next line in the order of locations.
    [[gnu::always_inline]] void add(const Extent &e) {
        if (have_) {
            // Most lines follow the one before without a gap.
            const int64_t between = e.location - last_.location - 3 - last_.length;
            if (ok_ && last_.location == expected_ && last_.length <= indexStart_ - last_.location &&
                (between == fields_[0] || between == fields_[1] || between == fields_[2]))
                expected_ = e.location;
            else
                step(e.location);
        }
        last_ = e;
        have_ = true;
    }
    bool finish() {
        if (have_) step(indexStart_);
        return ok_ && expected_ <= indexStart_ && gapHoldsNoDataset(expected_, indexStart_);
    }

private:
    // A gap may hold whole datasets that a rebuild would not index either
    // (a damaged header, a name no index line can hold, an old index):
    // they are no line the stored index lacks.
    bool gapHoldsNoDataset(int64_t from, int64_t to) {
        for (int64_t at = from - 1; at < to;) {
            at = nextWholeDataset(fp_, at, size_, width_, to, true);
            if (at < 0) return true;
            if (indexedByRebuild(fp_, at, width_)) return false;
        }
        return true;
    }
    // The last line's dataset, followed by one at `next`.
    void step(int64_t next) {
        if (!ok_) return;
        const Extent &e = last_;
        if (e.location < expected_ || e.length > indexStart_ - e.location || !gapHoldsNoDataset(expected_, e.location)) {
            ok_ = false;
            return;
        }
        const int64_t between = next - e.location - 3 - e.length;
        if (between == fields_[0] || between == fields_[1] || between == fields_[2]) {
            expected_ = next;
            return;
        }
        // A gap: the length of the line must be that of its dataset, or a
        // digit damaged into a smaller length would pass for a gap.
        const int64_t f = lengthFieldsAt(fp_, e.location, width_);
        ok_ = f != 0 && lengthFrames(fp_, e, width_);
        expected_ = e.location + 3 + e.length + f;
    }

    FILE *fp_;
    int width_;
    int64_t indexStart_, size_;
    int64_t fields_[3];
    int64_t expected_;
    Extent last_{0, 0};
    bool have_ = false, ok_ = true;
};

}  // namespace

extern "C" int create_indextable(IO_error_routine routine, IO_file *r) {
    if (!r || !r->stream) return IO_ERR_MEMORY;
    FILE *fp = r->stream;
    int width = r->offsetwidth ? r->offsetwidth : 20;
    int64_t pos = 0;
    int rc = kwxgotoIndexLocation(routine, &pos, width, fp);
    if (rc == IO_ERR_EOF) {
        r->nlines = 0;
        return indextable_alloc(r) ? IO_ERR_MEMORY : 0;
    }
    if (rc) {
        kwxIoError(routine, "create_indextable: can't go to the index location\n");
        return rc;
    }
    char fb[3];
    if (fread(fb, 1, 3, fp) != 3) {
        kwxsystemErr(routine, "create_indextable: (can't read format string) syserr:");
        return IO_ERR_READ;
    }
    if (fb[0] != 'F') {
        kwxIoError(routine, "create_indextable: index dataset is not formatted, file may be corrupt.");
        return IO_ERR_PARSE;
    }
    const char fmt[3] = {'F', '\0', '\0'};
    int64_t len = 0;
    if ((rc = kwxreadOffset(routine, fmt, &len, fp))) {
        kwxIoError(routine, "create_indextable: can't read index length\n");
        return rc;
    }
    if (len >= kMaxIndexBytes) {
        kwxIoError(routine, "32-bit integer overflow in index dataset size %" PRId64 ", possibly a bad file?", len);
        return IO_ERR_ALLOC;
    }
    int64_t here = kwxTell64(fp);
    struct {
        int64_t size;
    } file{0};
    if (kwxSeek64(fp, 0, 2) == 0) file.size = kwxTell64(fp);
    if (len <= 0 || here < 0 || here + len > file.size || kwxSeek64(fp, here, 0) != 0) {
        kwxIoError(routine, "create_indextable: index is wrong: bad index length %" PRId64 "\n", len);
        return IO_ERR_PARSE;
    }
    std::string buf;
    if (!sizeBuffer(buf, static_cast<size_t>(len)))
        return kwxIoNoMemory(routine, IO_ERR_ALLOC, "create_indextable: table memory", len);
    if (fread(&buf[0], 1, buf.size(), fp) != buf.size()) {
        kwxsystemErr(routine, "create_indextable: (can't read the whole index) syserr:");
        return IO_ERR_READ;
    }
    // The index is split at line ends in place; each piece is one line
    // without its end.
    const char *p = buf.data();
    const char *const end = buf.data() + buf.size();
    const char *piece = nullptr;
    size_t pieceLength = 0;
    auto nextPiece = [&]() -> bool {
        if (p >= end) return false;
        const char *nl = static_cast<const char *>(memchr(p, '\n', static_cast<size_t>(end - p)));
        if (!nl) return false;
        piece = p;
        pieceLength = static_cast<size_t>(nl - p);
        p = nl + 1;
        return true;
    };
    if (!nextPiece() || pieceLength < 6 || memcmp(piece, "*INDEX", 6) != 0) {
        kwxIoError(routine, "create_indextable: stored index is wrong: missing start tag\n");
        return IO_ERR_PARSE;
    }
    if (!nextPiece()) {
        kwxIoError(routine, "create_indextable: index is wrong: missing count\n");
        return IO_ERR_PARSE;
    }
    // The count is an offset field: blanks, then digits.
    int64_t count = -1;
    {
        size_t blanks = 0;
        while (blanks < pieceLength && piece[blanks] == ' ') ++blanks;
        if (blanks < pieceLength && pieceLength - blanks <= 18) {
            count = 0;
            for (size_t k = blanks; k < pieceLength && count >= 0; ++k) {
                const unsigned digit = static_cast<unsigned char>(piece[k]) - '0';
                count = digit > 9 ? -1 : count * 10 + digit;
            }
        }
    }
    // The count is checked against the bytes present (a line takes at least
    // twelve) before anything is allocated for it.
    if (count < 0 || count > INT32_MAX - IO_INDEX_GROW - 1 || count > (end - p) / 12) {
        size_t lines = 0;
        for (const char *q = p; q < end && (q = static_cast<const char *>(memchr(q, '\n', static_cast<size_t>(end - q)))); ++q)
            ++lines;
        kwxIoError(routine, "create_indextable: index is wrong: line %d/%d missing\n",
                   static_cast<int>(lines), static_cast<int>(count < 0 || count > INT32_MAX ? -1 : count));
        return IO_ERR_PARSE;
    }
    if (count > 0 && !memchr(p, '\n', static_cast<size_t>(end - p))) {
        kwxIoError(routine, "create_indextable: index is wrong: error finding EOL\n");
        return IO_ERR_PARSE;
    }
    r->nlines = static_cast<int32_t>(count);
    if (indextable_alloc(r) != 0) {
        r->nlines = 0;
        return kwxIoNoMemory(routine, IO_ERR_ALLOC, "create_indextable: table memory",
                             (static_cast<int64_t>(count) + IO_INDEX_GROW + 1) * IO_INDEX_SLOT);
    }
    // Lines in the order of their locations (as a file written from start to
    // end lists them) are checked as they come; others are sorted first.
    StepCheck inStep(fp, width, pos, file.size);
    const char *const firstLine = p;
    std::vector<Extent> extents;
    bool ordered = true;
    std::vector<int32_t> retired;
    bool retiredKept = true;
    int64_t lastLocation = -1;
    auto refuse = [&](const char *what, int64_t line) {
        kwxIoError(routine, "create_indextable: index is wrong: %s %d\n", what, static_cast<int>(line));
        r->nlines = 0;
        return IO_ERR_PARSE;
    };
    for (int64_t i = 0; i < count; ++i) {
        if (p >= end) {
            kwxIoError(routine, "create_indextable: index is wrong: line %d/%d missing\n",
                       static_cast<int>(i), static_cast<int>(count));
            r->nlines = 0;
            return IO_ERR_PARSE;
        }
        Extent e;
        const long n = storedLine(p, end, IO_INDEX_LINE(r->indextable, i), &e.length, &e.location);
        if (n < 0) return refuse("bad line", i);
        if (*p == 'N' && retiredKept) {
            try {
                retired.push_back(static_cast<int32_t>(i));
            } catch (const std::bad_alloc &) {
                retiredKept = false;
            }
        }
        p += n + 1;
        if (ordered && e.location < lastLocation) ordered = false;
        lastLocation = e.location;
        if (ordered) inStep.add(e);
    }
    // The lines end with the end tag, and the dataset with its trailing
    // length and the position line: a count lower than the lines, or a
    // damaged tag or length, makes the index untrustworthy.
    int64_t trailing = -1;
    if (!nextPiece() || pieceLength != 9 || memcmp(piece, "*ENDINDEX", 9) != 0 || p != end)
        return refuse("count differs from the lines, count", count);
    const int64_t trailingAt = here + len;
    if (kwxSeek64(fp, trailingAt, 0) != 0 || kwxreadOffset(quietRoutine, fmt, &trailing, fp) != 0 ||
        trailing != len || kwxTell64(fp) != file.size - (width + 1))
        return refuse("trailing length differs from the leading one", len);
    // Every line's dataset lies in the data region, in step with the others.
    if (!ordered) {
        StepCheck sorted(fp, width, pos, file.size);
        try {
            kwxIoCountAllocation();
            extents.resize(static_cast<size_t>(count));
        } catch (const std::bad_alloc &) {
            r->nlines = 0;
            return kwxIoNoMemory(routine, IO_ERR_ALLOC, "create_indextable: table memory", count * 16);
        }
        // The lines were read from the buffer, which is still there.
        const char *q = firstLine;
        for (int64_t i = 0; i < count; ++i) {
            Extent &e = extents[static_cast<size_t>(i)];
            q += storedLine(q, end, nullptr, &e.length, &e.location) + 1;
        }
        std::sort(extents.begin(), extents.end(),
                  [](const Extent &a, const Extent &b) { return a.location < b.location; });
        for (const Extent &e : extents) sorted.add(e);
        inStep = sorted;
    }
    if (!inStep.finish()) return refuse("datasets out of step with the lengths, lines", count);
    // Only a table with retired lines can hold one above a live line of its
    // name (see kwxIndexCheckRetiredOrder).
    kwxIndexStoredRetired(r, std::move(retired), retiredKept);
    r->sorted = 0;
    r->indexdirty = 0;
    return 0;
}

extern "C" int kwxIoFailWithHeader(IO_error_routine routine, const char *message, int code,
                                   IO_header *header) {
    ioheader_free(header);
    if (message) kwxIoError(routine, "%s", message);
    return code;
}

namespace {

// A step of the rebuild answers kGoOn to go on with the next item, or the
// scan's result (0 keeps the datasets found so far).
constexpr int kGoOn = -1;

// A format byte as messages show it.
char shownByte(unsigned char c) { return c >= ' ' && c < 127 ? static_cast<char>(c) : '?'; }

// The walk of the rebuild over a file from its start, one item at a time: a
// dataset is indexed, a deleted dataset, an old index and the info block
// are stepped over; the end of the file, "*CRASH" and an interrupted write
// end the walk. What cannot be read is stepped over to the next whole
// dataset, so that damage never hides the datasets after it, and is left
// in the file as it is; without one the walk ends there, keeping what it
// found. New data never goes where the length of a dataset that could not
// be framed reaches: once bytes stand there, a later rebuild could frame it
// across them and step over the datasets they hold.
class Rebuild {
public:
    Rebuild(IO_error_routine routine, IO_file *r, int64_t size, IO_header &h, const IO_file *held)
        : routine_(routine), r_(r), fp_(r->stream), size_(size), width_(r->offsetwidth ? r->offsetwidth : 20),
          h_(h), held_(held) {}

    int run() {
        while (true) {
            pos_ = kwxTell64(fp_);
            if (pos_ < 0 || pos_ > size_)
                return fail("recreate_indextable: can not tell the dataset location\n", IO_ERR_TELL);
            int rc;
            claimed_ = 0;
            if (pos_ <= last_) {
                // Every item moves the walk forward; anything else is a bad file.
                kwxIoError(routine_, "recreate_indextable: Bad file: no progress at byte %" PRId64 "\n", pos_);
                rc = skipOrStop();
            } else {
                last_ = pos_;
                r_->indexpos = pos_;
                rc = item();
            }
            if (rc != kGoOn) return rc == 0 ? placeNewData() : rc;
        }
    }

private:
    // The item at pos_, by its first three bytes.
    int item() {
        unsigned char fb[3];
        if (fread(fb, 1, 3, fp_) < 3) {
            if (kwxTell64(fp_) > pos_) {
                kwxIoError(routine_,
                           "recreate_indextable: the file ends inside the format bytes at offset %" PRId64
                           ": assuming interrupted write and terminating scan.",
                           pos_);
            } else if (oldIndexEnd_ == pos_) {
                // An old index that ends the file is written over, as a
                // stored one is: the file does not grow by an index at
                // every rebuild.
                pos_ = oldIndex_;
            }
            return stopHere();
        }
        if (iofmt_is_live(fb[0])) return liveDataset(fb);
        if (iofmt_is_deleted(fb[0])) return deletedDataset(fb);
        if (fb[0] == '*' && fb[1] == 'I' && fb[2] == 'N') return infoBlock(fb);
        if (fb[0] == '*' && fb[1] == 'C' && fb[2] == 'R') return endTag(fb);
        return notAnItem(fb);
    }

    // A dataset with a live format: its length, then what its tag says it is.
    int liveDataset(const unsigned char fb[3]) {
        const char fmt[3] = {static_cast<char>(fb[0]), static_cast<char>(fb[1]), '\0'};
        int64_t dslength = 0;
        int rc = kwxreadLength(routine_, fmt, &dslength, fp_);
        if (rc == 0 && kwxTell64(fp_) != pos_ + 3 + lengthFieldBytes(fb[0], width_)) rc = IO_ERR_PARSE;
        if (rc && feof(fp_)) {
            // The file ends inside the length field: a write cut short
            // there (the disk filled up, say) left the last dataset
            // unfinished. Everything before it stays readable.
            kwxIoError(routine_,
                       "recreate_indextable: dataset length cut short by the end of the file at "
                       "offset %" PRId64 " (format %c%c): assuming interrupted write and "
                       "terminating scan.",
                       pos_, shownByte(fb[0]), shownByte(fb[1]));
            return stopHere();
        }
        if (rc) {
            kwxIoError(routine_, "recreate_indextable: error %d reading dataset length at offset %" PRId64, rc, pos_);
            return skipOrStop();
        }
        if (dslength > size_ || dslength < 0) {
            kwxIoError(routine_, "recreate_indextable: bad dataset length %" PRId64 " at offset %" PRId64, dslength,
                       pos_);
            return skipOrStop();
        }
        if (dslength == 0) return zeroLength(fb, fmt);
        claimed_ = pos_ + 3 + 2 * lengthFieldBytes(fb[0], width_) + dslength;
        const int64_t start = kwxTell64(fp_);
        if (start < 0) return fail("recreate_indextable: ftell failed for start position\n", IO_ERR_TELL);
        char tag[16];
        if (kwxreadTag(routine_, fmt, tag, 8, fp_) != 0) tag[0] = '\0';
        if (strcmp(tag, "*DATASET") == 0) return namedDataset(fmt, start, dslength);
        if (strncmp(tag, "*INDEX", 6) == 0) return oldIndex(start, dslength);
        kwxIoError(routine_, "recreate_indextable: can't find the starting tag at offset %" PRId64, pos_);
        return skipOrStop();
    }

    // A length of zero: a write interrupted before its length was set, the
    // last thing in the file, ends the walk; with whole datasets after it,
    // it is damage, stepped over like any other, and nothing after it may
    // be written over.
    int zeroLength(const unsigned char fb[3], const char *fmt) {
        if (skipToNext()) {
            kwxIoError(routine_,
                       "recreate_indextable: dataset length of zero at offset %" PRId64
                       " with whole datasets after it: damage, not an interrupted write",
                       pos_);
            return kGoOn;
        }
        char tag[16];
        int trc = kwxreadTag(routine_, fmt, tag, 8, fp_);
        int hrc = (trc == 0 && strcmp(tag, "*DATASET") == 0) ? read_header(quietRoutine, fmt, fp_, &h_) : -1;
        if (trc == 0 && hrc == 0)
            kwxIoError(routine_,
                       "recreate_indextable: dataset length of zero in dataset %s:%s:%d at offset %" PRId64
                       ": assuming interrupted write and terminating scan.",
                       h_.what, h_.where, *h_.when, pos_);
        else
            kwxIoError(routine_,
                       "recreate_indextable: dataset length of zero in dataset at offset %" PRId64
                       " (format %c%c): assuming incomplete file and terminating scan.",
                       pos_, shownByte(fb[0]), shownByte(fb[1]));
        return stopHere();
    }

    // A dataset whose "*DATASET" tag starts at `start`: indexed when it is
    // whole, its trailing length repeating the leading one (a length patched
    // by a torn write, or damaged, points elsewhere).
    int namedDataset(const char *fmt, int64_t start, int64_t dslength) {
        if (start + dslength > size_) {
            kwxIoError(routine_,
                       "recreate_indextable: the file ends inside the dataset at offset %" PRId64 " (%" PRId64
                       " of its %" PRId64 " bytes are there): assuming interrupted write.",
                       pos_, size_ - start, dslength);
            return skipOrStop();
        }
        int rc = read_header(routine_, fmt, fp_, &h_);
        if (rc) {
            kwxIoError(routine_, "recreate_indextable: read header failed at offset %" PRId64, pos_);
            return skipOrStop();
        }
        kwxIoTrace("recreate_indextable: found %s:%s:%d at %" PRId64, h_.what, h_.where, *h_.when, pos_);
        if (kwxSeek64(fp_, start + dslength, 0) != 0) return fail("recreate_indextable: fseek failed\n", IO_ERR_SEEK);
        int64_t trailing = 0;
        if (!readFramedLength(fmt, width_, fp_, start + dslength, &trailing)) rc = IO_ERR_PARSE;
        if ((rc || trailing != dslength) && heldWhole(fmt, start, dslength)) {
            kwxIoError(routine_,
                       "recreate_indextable: the final dataset length of %s:%s:%d at offset %" PRId64
                       " is damaged; the dataset is whole in all else and is kept",
                       h_.what, h_.where, *h_.when, pos_);
            if (kwxSeek64(fp_, start + dslength + lengthFieldBytes(fmt[0], width_), 0) != 0)
                return fail("recreate_indextable: fseek failed\n", IO_ERR_SEEK);
            return index(dslength);
        }
        if (rc || trailing != dslength) {
            kwxIoError(routine_,
                       "recreate_indextable: error %d reading final dataset length for %s:%s:%d at offset %" PRId64
                       " (found %" PRId64 ", expected %" PRId64 ")",
                       rc ? rc : IO_ERR_BADFILE, h_.what, h_.where, *h_.when, pos_, trailing, dslength);
            return skipOrStop();
        }
        return index(dslength);
    }

    // Whether the dataset at pos_, whose header was just read and whose
    // "*DATASET" tag starts at `start`, is whole in all but its trailing
    // length: the table the file's stored index gave lists it live at pos_
    // with its name and its leading length (written when it was whole),
    // and the next item (a whole dataset, one that table lists, "*CRASH" or
    // the end of the file) begins right after the trailing field. A dataset
    // the stored index does not list (one cut off before the file grew past
    // it, say) is not taken on its lengths alone. The stream is left
    // anywhere.
    bool heldWhole(const char *fmt, int64_t start, int64_t dslength) {
        if (!heldLines()) return false;
        bool listed = false;
        IO_location loc;
        for (auto it = std::lower_bound(heldAt_.begin(), heldAt_.end(), std::make_pair(pos_, int32_t(-1)));
             it != heldAt_.end() && it->first == pos_ && !listed; ++it)
            listed = parseindex(quietRoutine, IO_INDEX_LINE(held_->indextable, it->second), &loc) == 0 &&
                     loc.dslength == dslength && loc.when == *h_.when && strcmp(loc.what, h_.what) == 0 &&
                     strcmp(loc.where, h_.where) == 0;
        const int64_t next = start + dslength + lengthFieldBytes(fmt[0], width_);
        if (!listed || next > size_) return false;
        if (next == size_ || wholeDatasetAt(fp_, next, size_, width_) || nextHeld(next - 1, next + 1) == next)
            return true;
        char six[6];
        return kwxSeek64(fp_, next, 0) == 0 && fread(six, 1, 6, fp_) == 6 && memcmp(six, "*CRASH", 6) == 0;
    }

    // The live lines of held by location, taken once when first needed
    // (damage is rare; a file may hold many such datasets); false without
    // them.
    bool heldLines() {
        if (!held_ || !held_->indextable) return false;
        if (heldTaken_) return !heldAt_.empty();
        heldTaken_ = true;
        try {
            kwxIoCountAllocation();
            heldAt_.reserve(static_cast<size_t>(held_->nlines));
            IO_location loc;
            for (int32_t i = 0; i < held_->nlines; ++i) {
                const char *line = IO_INDEX_LINE(held_->indextable, i);
                if (line[0] == 'Y' && parseindex(quietRoutine, line, &loc) == 0) heldAt_.emplace_back(loc.location, i);
            }
        } catch (const std::bad_alloc &) {
            heldAt_.clear();
            return false;
        }
        std::sort(heldAt_.begin(), heldAt_.end());
        return !heldAt_.empty();
    }

    // Whether the dataset at the held line `it` points to starts with a live
    // format and the listed leading length.
    bool leadsAsListed(std::vector<std::pair<int64_t, int32_t>>::const_iterator it) {
        IO_location loc;
        unsigned char fb[3];
        int64_t length = 0;
        if (parseindex(quietRoutine, IO_INDEX_LINE(held_->indextable, it->second), &loc) != 0 ||
            kwxSeek64(fp_, it->first, 0) != 0 || fread(fb, 1, 3, fp_) != 3 || !iofmt_is_live(fb[0]) || fb[2] != '\n')
            return false;
        const char fmt[3] = {static_cast<char>(fb[0]), static_cast<char>(fb[1]), '\0'};
        return readFramedLength(fmt, width_, fp_, it->first + 3, &length) && length == loc.dslength;
    }

    // The first location after `after`, and before limit (when limit is not
    // -1), at which held lists a dataset that leads as listed: a step over
    // damage must not pass a dataset whose trailing length alone is
    // damaged. -1 when there is none.
    int64_t nextHeld(int64_t after, int64_t limit) {
        if (!heldLines()) return -1;
        for (auto it = std::upper_bound(heldAt_.cbegin(), heldAt_.cend(), std::make_pair(after, INT32_MAX));
             it != heldAt_.cend() && (limit < 0 || it->first < limit); ++it)
            if (leadsAsListed(it)) return it->first;
        return -1;
    }

    // Indexes the dataset at pos_ whose header was just read. A name that
    // would run into the other fields of its index line, and give every
    // search a wrong location, is left out; the walk goes on over it.
    int index(int64_t dslength) {
        if (!indexableName(h_.what) || !indexableName(h_.where)) {
            kwxIoError(routine_,
                       "recreate_indextable: dataset at offset %" PRId64
                       " has an empty name or one holding a line end or ESC, not indexed\n",
                       pos_);
            return kGoOn;
        }
        char line[IO_INDEX_SLOT];
        if (kwxMakeIndexLine(line, "Y", h_.what, h_.where, *h_.when, dslength, pos_) != 0 ||
            insert_index(routine_, r_, line) != 0)
            return fail("recreate_indextable: insert_index  failed\n", IO_ERR_MEMORY);
        return kGoOn;
    }

    // An old index, stepped over with its trailing length and position line,
    // each whole in its layout.
    int oldIndex(int64_t start, int64_t dslength) {
        if (start + dslength > size_) {
            if (skipToNext()) return kGoOn;
            kwxIoError(routine_,
                       "recreate_indextable: warning: truncated (or bad) index data at end of file while "
                       "rebuilding index, file is corrupt but probably recoverable, continuing.  [%" PRId64
                       " + %" PRId64 " > %" PRId64 "]",
                       start, dslength, size_);
            return stopHere();
        }
        const char ffmt[3] = {'F', '\0', '\0'};
        int64_t a = 0, b = 0;
        if (kwxSeek64(fp_, start + dslength, 0) != 0) return fail("recreate_indextable: fseek failed\n", IO_ERR_SEEK);
        if (!readFramedLength(ffmt, width_, fp_, start + dslength, &a) || a != dslength) {
            kwxIoError(routine_, "recreate_indextable: failed to read first offset from skipped index");
            return skipOrStop();
        }
        if (!readFramedLength(ffmt, width_, fp_, start + dslength + width_ + 1, &b)) {
            kwxIoError(routine_, "recreate_indextable: failed to read second offset from skipped index");
            return skipOrStop();
        }
        oldIndex_ = pos_;
        oldIndexEnd_ = start + dslength + 2 * (width_ + 1);
        return kGoOn;
    }

    // A deleted dataset, stepped over. The mark's second byte gives the
    // byte order and length size; a mark torn after its first byte keeps
    // the dataset's own second byte, so the other layouts are tried too.
    int deletedDataset(const unsigned char fb[3]) {
        char named[3];
        layoutOfMark(fb[0], fb[1], named);
        int64_t first = 0, second = 0;
        const char *tried = nullptr;
        if (skipDeletedAnyLayout(fp_, pos_ + 3, size_, width_, named, &first, &second, &tried)) return kGoOn;
        if (first > 0 && first <= size_)
            claimed_ = pos_ + 3 + 2 * lengthFieldBytes(static_cast<unsigned char>(tried[0]), width_) + first;
        kwxIoError(routine_,
                   "recreate_indextable: Bad file: final dataset length field %" PRId64
                   " is bad, or differs from original dataset length field %" PRId64
                   " in deleted dataset with %s format %s at offset %" PRId64 "\n",
                   second, first, fb[1] != 0 ? "byte-order-specific" : "old-style", tried, pos_);
        return skipOrStop();
    }

    // The info block: the datasets start after it when it is whole in its
    // layout; otherwise at the first whole dataset wherever it starts (a
    // shortened block may end inside the first dataset). With none, every
    // byte is kept and new data goes after the end of the file.
    int infoBlock(const unsigned char fb[3]) {
        if (pos_ != 0) return notAnItem(fb);
        const int w = kwxInfoBlockWidth(fp_);
        if (w == width_) {
            if (kwxSeek64(fp_, 6 + w + 1 + 9, 0) != 0)
                return fail("recreate_indextable: fseek +IO_ENDINFO failed", IO_ERR_SEEK);
            return kGoOn;
        }
        kwxIoError(routine_, "recreate_indextable: the info block is damaged");
        if (skipToNext()) return kGoOn;
        r_->indexpos = size_;
        return 0;
    }

    // Bytes starting "*CR": a writer's "*CRASH" end tag is the last thing
    // it wrote, and ends the walk unless whole datasets follow it.
    int endTag(const unsigned char fb[3]) {
        char six[7] = {0};
        if (kwxSeek64(fp_, pos_, 0) != 0 || fread(six, 1, 6, fp_) < 6) return 0;
        if (memcmp(six, "*CRASH", 6) != 0) return notAnItem(fb);
        if (skipToNext()) return kGoOn;
        kwxIoError(routine_, "recreate_indextable: warning: file was not closed correctly, data may be inconsistent");
        return 0;
    }

    // Bytes that start no item.
    int notAnItem(const unsigned char fb[3]) {
        char shown[4] = {static_cast<char>(fb[0]), static_cast<char>(fb[1]), static_cast<char>(fb[2]), 0};
        for (char &c : shown)
            if (c && (c < ' ' || c == 127)) c = '?';
        kwxIoError(routine_,
                   "recreate_indextable: Bad file: expected dataset, index or end, got \"%s\" at byte %" PRId64 "\n",
                   shown, pos_);
        return skipOrStop();
    }

    // Moves the stream to the next whole dataset after pos_; without one
    // the stream is left where it was and the answer is false.
    bool skipToNext() {
        const int64_t here = kwxTell64(fp_);
        int64_t next = nextWholeDataset(fp_, pos_, size_, width_);
        const int64_t listed = nextHeld(pos_, next);
        if (listed > pos_) next = listed;
        if (next > pos_ && kwxSeek64(fp_, next, 0) == 0) {
            kwxIoError(routine_,
                       "recreate_indextable: skipping the %" PRId64 " unreadable bytes from offset %" PRId64
                       " to the next whole dataset at offset %" PRId64,
                       next - pos_, pos_, next);
            return true;
        }
        // The walk reads its position anew from the stream.
        if (here >= 0) (void)kwxSeek64(fp_, here, 0);
        return false;
    }

    // What cannot be read at pos_ is stepped over to the next whole
    // dataset; without one the walk ends at pos_.
    int skipOrStop() {
        if (claimed_ > reach_) {
            reach_ = claimed_;
            reacher_ = pos_;
        }
        if (skipToNext()) return kGoOn;
        kwxIoError(routine_,
                   "recreate_indextable: keeping the %d datasets before offset %" PRId64
                   " and terminating scan; what follows is written over by the next dataset or the index.",
                   static_cast<int>(r_->nlines), pos_);
        return stopHere();
    }

    // Ends the walk at pos_, keeping what it found: the next dataset, or
    // the index at flush, goes there.
    int stopHere() {
        r_->indexpos = pos_;
        return 0;
    }

    // Where the walk ended, the next dataset goes, unless a dataset that
    // could not be framed claims bytes beyond: then past them (a file cut
    // inside a dataset grows by a hole up to its claimed end).
    int placeNewData() {
        if (reach_ > r_->indexpos) {
            kwxIoError(routine_,
                       "recreate_indextable: new datasets go at offset %" PRId64
                       ", past the bytes that the length of a damaged dataset claims",
                       reach_);
            r_->indexpos = reach_;
            if (reach_ > size_) return keepZeroTail();
        }
        return 0;
    }

    // New data past the end of the file leaves the bytes up to it zero.
    // A binary dataset that the file ends inside of its trailing length,
    // whose missing bytes are zeros (the high bytes of a little-endian
    // length), is whole with them: indexed now, so that the open after the
    // next write does not find it anew.
    int keepZeroTail() {
        unsigned char fb[3] = {0, 0, 0};
        const int64_t n = kwxSeek64(fp_, reacher_, 0) == 0 && fread(fb, 1, 3, fp_) == 3 && fb[2] == '\n' &&
                                  iofmt_is_live(fb[0]) && fb[0] != 'F'
                              ? lengthFieldBytes(fb[0], width_)
                              : 0;
        const char fmt[3] = {static_cast<char>(fb[0]), static_cast<char>(fb[1]), '\0'};
        int64_t dslength = 0;
        unsigned char tail[8] = {0};
        if (n == 0 || !readFramedLength(fmt, width_, fp_, reacher_ + 3, &dslength) || dslength <= 0 ||
            reacher_ + 3 + 2 * n + dslength != reach_)
            return 0;
        const int64_t trailing = reacher_ + 3 + n + dslength;
        if (trailing > size_) return 0;
        const size_t have = static_cast<size_t>(size_ - trailing);
        if (kwxSeek64(fp_, trailing, 0) != 0 || fread(tail, 1, have, fp_) != have) return 0;
        if (iofmt_is_swapped(fb[0])) std::reverse(tail, tail + n);
        int64_t value = 0;
        if (n == 4) {
            int32_t v;
            memcpy(&v, tail, 4);
            value = v;
        } else {
            memcpy(&value, tail, 8);
        }
        char tag[16];
        if (value != dslength || kwxSeek64(fp_, reacher_ + 3 + n, 0) != 0 ||
            kwxreadTag(quietRoutine, fmt, tag, 8, fp_) != 0 || strcmp(tag, "*DATASET") != 0 ||
            read_header(quietRoutine, fmt, fp_, &h_) != 0)
            return 0;
        kwxIoError(routine_,
                   "recreate_indextable: the file ends inside the trailing length of %s:%s:%d at offset %" PRId64
                   "; with the zero bytes the next write leaves it is whole, and is kept",
                   h_.what, h_.where, *h_.when, reacher_);
        pos_ = reacher_;
        const int rc = index(dslength);
        return rc == kGoOn ? 0 : rc;
    }

    int fail(const char *message, int code) { return kwxIoFailWithHeader(routine_, message, code, &h_); }

    IO_error_routine routine_;
    IO_file *r_;
    FILE *fp_;
    const int64_t size_;
    const int width_;
    IO_header &h_;
    const IO_file *held_;
    std::vector<std::pair<int64_t, int32_t>> heldAt_;   // (location, line) of held's live lines
    bool heldTaken_ = false;
    int64_t pos_ = 0;
    int64_t last_ = -1;
    // The end that the item at pos_ claims by its length, 0 when unknown;
    // the furthest such end of the items that could not be framed.
    int64_t claimed_ = 0;
    int64_t reach_ = 0;
    // The item whose length claims reach_.
    int64_t reacher_ = -1;
    // Where the last old index stepped over starts and ends.
    int64_t oldIndex_ = -1, oldIndexEnd_ = -1;
};

}  // namespace

// Rebuilds the index by walking the datasets from the start of the file.
// Every whole dataset found is indexed. The scan stops at the end, at
// "*CRASH", at an interrupted write, and at anything it cannot read (a file
// cut short inside a dataset, a damaged length, a torn old index, bytes that
// are no dataset), keeping what it found before: one damaged field must not
// make the datasets before it unreachable. The index position is left where
// the scan stopped, so that the next dataset, or the index at flush (which
// cuts the file there), goes over what could not be read; nothing of it can
// later pass for data.
extern "C" int recreate_indextable(IO_error_routine routine, IO_file *r) {
    return kwxIndexRebuildHeld(routine, r, nullptr);
}

// The rebuild, keeping also each dataset that the table of held (read from
// the stored index) lists and whose trailing length alone is damaged.
extern "C" int kwxIndexRebuildHeld(IO_error_routine routine, IO_file *r, const IO_file *held) {
    if (!r || !r->stream) return IO_ERR_MEMORY;
    FILE *fp = r->stream;
    int64_t size = -1;
    if (kwxSeek64(fp, 0, 2) == 0) size = kwxTell64(fp);
    if (size < 0 || kwxSeek64(fp, 0, 0) != 0) {
        kwxsystemErr(routine, "recreate_indextable: fseek failed\n");
        return IO_ERR_SEEK;
    }
    r->nlines = 0;
    kwxIndexSetFromStore(r, 0);
    if (indextable_alloc(r) != 0)
        return kwxIoNoMemory(routine, IO_ERR_MEMORY, "recreate_indextable",
                             (int64_t)(IO_INDEX_GROW + 1) * IO_INDEX_SLOT);
    r->sorted = 0;
    r->indexdirty = 1;
    IO_header h;
    if (ioheader_alloc(&h) != 0)
        return kwxIoNoMemory(routine, IO_ERR_ALLOC, "recreate_indextable", IO_HEADER_BYTES);
    const int rc = Rebuild(routine, r, size, h, held).run();
    ioheader_free(&h);
    return rc;
}
