// Upkeep of the index table: sorting it by WHAT and retiring the older
// datasets of names written more than once.
#include "io_files.h"
#include "vrn_platform.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

int byWhat(const void *a, const void *b) {
    return strcmp(static_cast<const char *>(a) + 2, static_cast<const char *>(b) + 2);
}

// Length of the name part of a line: WHAT ESC WHERE ESC WHEN ESC, from the
// third character on; 0 for a malformed line.
size_t nameKeyLength(const char *line) {
    const char *p = line + 2;
    for (int seps = 0; *p; ++p) {
        if (*p == IO_ESC && ++seps == 3) return static_cast<size_t>(p - (line + 2)) + 1;
    }
    return 0;
}

int64_t lineLocation(const char *line) {
    const char *last = strrchr(line, IO_ESC);
    return last ? kwx_atoi64(last + 1) : -1;
}

int quietRoutine(const char *, int) { return 0; }

// What a record owes its file, kept beside the record (whose layout callers
// see): the datasets its index retired while it could not write, whether
// the recorded size has been cleared, and whether the info block is whole
// enough to be written at all. A process has a handful of
// records, so a short list serves.
struct RecordDebts {
    const IO_file *record;
    std::vector<IO_location> retired;
    bool sizeCleared;
    bool fromStore;
    bool infoDamaged;
    // A dataset is being written request by request (its header written,
    // its index line not yet inserted).
    bool piecesUnderWay;
    // Location and line number of the lines the last locate handed out.
    std::vector<std::pair<int64_t, int32_t>> located;
    // Where the dataset under way starts.
    int64_t piecesStart;
    // The table read from the stored index was looked at for a retired
    // line above a live one of its name (see kwxIndexCheckRetiredOrder).
    bool retiredOrderChecked;
    // The line numbers of its retired lines, while no line has moved
    // (storedRetiredKnown): only the lines of their names are looked at.
    bool storedRetiredKnown;
    std::vector<int32_t> storedRetired;
};

std::vector<RecordDebts> &debts() {
    static std::vector<RecordDebts> *list = new std::vector<RecordDebts>();
    return *list;
}

RecordDebts *debtsOf(const IO_file *r, bool make) {
    for (RecordDebts &d : debts())
        if (d.record == r) return &d;
    if (!make) return nullptr;
    debts().push_back(RecordDebts{r, {}, false, false, false, false, {}, -1, false, false, {}});
    return &debts().back();
}

bool isWriter(const IO_file *r) { return r->openmode == 'w' && r->locklevel == -1 && r->stream; }

// Of the live lines [first, last) of one name, the one to keep: the newest
// (highest location, given as newest) when the file holds that dataset
// there, else the newest whose location does. A damaged line that claims a
// newer dataset of the name must not retire the one that really is there.
// With no stream, or none that checks out, the newest stays.
int verifiedSurvivor(IO_file *r, int first, int last, int newest) {
    if (!r->stream || newest < 0) return newest;
    std::vector<IO_location> live;
    for (int k = first; k < last; ++k) {
        const char *line = IO_INDEX_LINE(r->indextable, k);
        IO_location loc;
        if (line[0] == 'N' || parseindex(quietRoutine, line, &loc) != 0) continue;
        loc.line = k;
        live.push_back(loc);
    }
    std::stable_sort(live.begin(), live.end(), [](const IO_location &a, const IO_location &b) {
        return a.location > b.location;
    });
    for (const IO_location &loc : live)
        if (kwxHoldsNamedDataset(r->stream, &loc)) return loc.line;
    return newest;
}

}  // namespace

namespace {

[[nodiscard]]
int retire(IO_error_routine routine, IO_file *r, char *line, const IO_location *loc, bool checked);

// update_index; a line of a name written more than once that is found not
// to name the dataset at its location has the table rebuilt (at most once
// a call, mayMend) and the work done again on the rebuilt table.
[[nodiscard]]
int updateIndex(IO_error_routine routine, IO_file *r, bool mayMend) {
    if (!r || !r->indextable || r->nlines <= 0) return 0;
    int rebuilt = 0;
    if (int rc = kwxIndexCheckRetiredOrder(routine, r, &rebuilt)) return rc;
    if (r->sorted != -1) {
        kwxIoTrace("sorting whatlist in update_index");
        qsort(r->indextable, static_cast<size_t>(r->nlines), IO_INDEX_SLOT, byWhat);
        r->sorted = -1;
        r->sortedhead = r->nlines;
        kwxIndexDropViews(r);
    } else if (int rc = kwxIndexSettle(routine, r)) {
        return rc;
    }
    int i = 0;
    while (i < r->nlines) {
        const char *first = IO_INDEX_LINE(r->indextable, i);
        size_t klen = nameKeyLength(first);
        int j = i + 1;
        if (klen > 0) {
            while (j < r->nlines && strncmp(IO_INDEX_LINE(r->indextable, j) + 2, first + 2, klen) == 0) ++j;
        }
        if (j - i > 1) {
            int keep = -1;
            int64_t best = -1;
            for (int k = i; k < j; ++k) {
                const char *line = IO_INDEX_LINE(r->indextable, k);
                if (line[0] == 'N') continue;
                int64_t loc = lineLocation(line);
                if (keep < 0 || loc > best) {
                    keep = k;
                    best = loc;
                }
            }
            keep = verifiedSurvivor(r, i, j, keep);
            const int64_t keptAt = keep >= 0 ? lineLocation(IO_INDEX_LINE(r->indextable, keep)) : -1;
            for (int k = i; k < j; ++k) {
                char *line = IO_INDEX_LINE(r->indextable, k);
                if (k == keep || line[0] == 'N') continue;
                IO_location loc;
                const bool parsed = parseindex(quietRoutine, line, &loc) == 0;
                // A second line for the kept dataset itself goes, its
                // dataset stays.
                const bool samePlace = parsed && loc.location == keptAt;
                if (r->stream && !samePlace && (!parsed || !kwxHoldsNamedDataset(r->stream, &loc))) {
                    if (!mayMend) continue;
                    int changed = 0;
                    if (int rc = kwxIndexMendWrongLine(routine, r, &changed)) return rc;
                    if (changed) return updateIndex(routine, r, false);
                    mayMend = false;
                    continue;
                }
                r->indexdirty = 1;
                if (!parsed || samePlace) {
                    line[0] = 'N';
                } else if (int rc = retire(routine, r, line, &loc, r->stream != nullptr)) {
                    return rc;
                }
            }
        }
        i = j;
    }
    return 0;
}

}  // namespace

// Sorts the table by WHAT (when it is not known to be sorted) and, of the
// live lines that share a WHAT, WHERE and WHEN, keeps the one written last
// (highest location) and marks the others 'N'. Only the table changes. In a
// sorted table such lines are neighbours, so one pass finds them all.
extern "C" int update_index(IO_error_routine routine, IO_file *r) { return updateIndex(routine, r, true); }

// Retires duplicates among located records: for each record still live, all
// live lines of its name are found; all but the newest are marked 'N' (and,
// in a file open for writing, marked deleted on disk). A record whose own
// line was retired gets line -1. *removed counts the records set to -1.
extern "C" int update_subindex(IO_error_routine routine, IO_file *r, int n, int *removed,
                               IO_location *located) {
    return kwxIndexRetireDuplicates(routine, r, n, removed, located, nullptr);
}

extern "C" int kwxIndexRetireDuplicates(IO_error_routine routine, IO_file *r, int n, int *removed,
                                        IO_location *located, int *mended) {
    if (mended) *mended = 0;
    if (!r || !removed || (n > 0 && !located)) return IO_ERR_MEMORY;
    *removed = 0;
    if (n <= 0) return 0;
    // Each search below hands back just the records it found.
    std::vector<IO_location> found;
    try {
        kwxIoCountAllocation();
    } catch (const std::bad_alloc &) {
        return kwxIoNoMemory(routine, IO_ERR_MEMORY, "update_subindex: (malloc failed) syserr:", IO_NO_SIZE);
    }
    bool mayMend = mended != nullptr;
    for (int k = 0; k < n; ++k) {
        IO_location &rec = located[k];
        if (rec.line == -1) {
            ++*removed;
            continue;
        }
        if (rec.line >= 0 && rec.line < r->nlines && IO_INDEX_LINE(r->indextable, rec.line)[0] == 'N') {
            rec.line = -1;
            ++*removed;
            continue;
        }
        char what[80], where[80];
        int32_t when = rec.when;
        int32_t numattrb = 0, number = 0, blockfactor = 0;
        char datatype[8] = "";
        memcpy(what, rec.what, sizeof what);
        memcpy(where, rec.where, sizeof where);
        what[79] = where[79] = '\0';
        IO_header key = {what, where, &when, &numattrb, nullptr, &number, datatype, &blockfactor};
        int rc = kwxIndexSearch(routine, IO_SORT_NAME, &key, r, found);
        int count = static_cast<int>(found.size());
        if (rc) {
            kwxIoError(routine, "update_subindex: get_ds_location failed\n");
            return rc;
        }
        if (count < 2) continue;
        qsort(found.data(), static_cast<size_t>(count), sizeof(IO_location), dsloc_sortLocation);
        // The newest line stays, unless the file does not hold its dataset
        // there and an older line's location does.
        int keep = 0;
        if (r->stream) {
            for (int m = 0; m < count; ++m) {
                int line = found[m].line;
                if (line < 0 || line >= r->nlines || IO_INDEX_LINE(r->indextable, line)[0] != 'Y') continue;
                if (kwxHoldsNamedDataset(r->stream, &found[m])) {
                    keep = m;
                    break;
                }
            }
        }
        for (int m = 0; m < count; ++m) {
            if (m == keep) continue;
            int line = found[m].line;
            if (line < 0 || line >= r->nlines) continue;
            char *text = IO_INDEX_LINE(r->indextable, line);
            if (text[0] != 'Y') continue;
            // A second line for the kept dataset itself goes, its dataset
            // stays. Any other line goes only when the file holds the older
            // dataset it names: one that does not is wrong, and retiring it
            // could drop whatever dataset is really there.
            const bool samePlace = found[m].location == found[keep].location;
            if (r->stream && !samePlace && !kwxHoldsNamedDataset(r->stream, &found[m])) {
                if (!mayMend) continue;
                int changed = 0;
                if ((rc = kwxIndexMendWrongLine(routine, r, &changed))) return rc;
                if (changed) {
                    *mended = 1;
                    return 0;
                }
                mayMend = false;
                continue;
            }
            r->indexdirty = 1;
            if (samePlace)
                text[0] = 'N';
            else if ((rc = retire(routine, r, text, &found[m], r->stream != nullptr)))
                return rc;
            if (found[m].location == rec.location && (!samePlace || line == rec.line)) {
                rec.line = -1;
                ++*removed;
            }
        }
    }
    return 0;
}

namespace {

// Retires line (when given), the line of the dataset loc names, and sees
// that the file gets the dataset's deletion mark: the writer, once its
// changes have started (its stream counted, the recorded size cleared),
// writes it at once; any other record keeps it owed until it becomes the
// writer. A mark that the writer fails to write is kept owed as well, and
// its failure answered: the line stays retired, as the index will be
// stored, and the mark goes to the file before the file's next change and
// before that index is stored (a retry of a mark already there changes
// nothing). Room to keep the mark is taken first: when memory runs out for
// it nothing is retired. checked tells that the file is known to hold the
// dataset at loc's location.
int retire(IO_error_routine routine, IO_file *r, char *line, const IO_location *loc, bool checked) {
    if (!r || !loc || !r->stream) {
        if (line) line[0] = 'N';
        return 0;
    }
    try {
        kwxIoCountAllocation();
        std::vector<IO_location> &owed = debtsOf(r, true)->retired;
        if (owed.size() == owed.capacity()) owed.reserve(2 * owed.size() + 16);
    } catch (const std::bad_alloc &) {
        return kwxIoNoMemory(routine, IO_ERR_MEMORY, "update_subindex: (malloc failed) syserr:", IO_NO_SIZE);
    }
    if (line) line[0] = 'N';
    if (isWriter(r) && kwxIoSizeCleared(r)) {
        const int64_t pieces = kwxIoPiecesPosition(r);
        int rc = checked ? delete_process_sub(routine, r->stream, loc->location)
                         : delete_process_named(routine, r->stream, loc);
        rc = kwxIoBackToPieces(r, pieces, rc);
        if (rc == 0) return 0;
        kwxIoError(routine,
                   "update_subindex: the deletion mark of the older copy of %s:%s:%d at %" PRId64
                   " did not reach the file; it is written before the file's next change",
                   loc->what, loc->where, loc->when, loc->location);
        debtsOf(r, false)->retired.push_back(*loc);
        return rc;
    }
    debtsOf(r, false)->retired.push_back(*loc);
    return 0;
}

}  // namespace

extern "C" int kwxIndexRetired(IO_error_routine routine, IO_file *r, const IO_location *loc) {
    return retire(routine, r, nullptr, loc, false);
}

extern "C" int kwxIndexOweMark(IO_error_routine routine, IO_file *r, const IO_location *loc) {
    try {
        kwxIoCountAllocation();
        debtsOf(r, true)->retired.push_back(*loc);
    } catch (const std::bad_alloc &) {
        return kwxIoNoMemory(routine, IO_ERR_MEMORY, "delete_ds: (malloc failed) syserr:", IO_NO_SIZE);
    }
    return 0;
}

extern "C" int kwxIndexWriteRetiredMarks(IO_error_routine routine, IO_file *r) {
    RecordDebts *d = debtsOf(r, false);
    if (!d || d->retired.empty() || !isWriter(r)) return 0;
    int64_t here = kwxTell64(r->stream);
    int rc = 0;
    while (!d->retired.empty() && rc == 0) {
        rc = delete_process_named(routine, r->stream, &d->retired.back());
        if (rc == 0) d->retired.pop_back();
    }
    if (here >= 0 && kwxSeek64(r->stream, here, 0) != 0 && rc == 0) rc = IO_ERR_SEEK;
    return rc;
}

namespace {

bool flagOf(const IO_file *r, bool RecordDebts::*flag) {
    const RecordDebts *d = debtsOf(r, false);
    return d && d->*flag;
}

// A flag that cannot be remembered for want of memory stays off: the size
// is then cleared again before the next change, and the table taken as
// checked.
void setFlag(const IO_file *r, bool RecordDebts::*flag, bool on) {
    if (!on) {
        if (RecordDebts *d = debtsOf(r, false)) d->*flag = false;
        return;
    }
    try {
        debtsOf(r, true)->*flag = true;
    } catch (const std::bad_alloc &) {
    }
}

}  // namespace

extern "C" int kwxIoSizeCleared(const IO_file *r) { return flagOf(r, &RecordDebts::sizeCleared) ? 1 : 0; }

extern "C" void kwxIoSetSizeCleared(const IO_file *r, int cleared) {
    setFlag(r, &RecordDebts::sizeCleared, cleared != 0);
}

extern "C" void kwxIoSetPiecesUnderWay(const IO_file *r, int underWay) {
    setFlag(r, &RecordDebts::piecesUnderWay, underWay != 0);
    if (RecordDebts *d = debtsOf(r, false)) d->piecesStart = underWay && d->piecesUnderWay ? r->indexpos : -1;
}

extern "C" int64_t kwxIoPiecesStart(const IO_file *r) {
    const RecordDebts *d = debtsOf(r, false);
    return d && d->piecesUnderWay ? d->piecesStart : -1;
}

extern "C" int64_t kwxIoPiecesPosition(const IO_file *r) {
    return r && r->stream && flagOf(r, &RecordDebts::piecesUnderWay) ? kwxTell64(r->stream) : -1;
}

extern "C" int kwxIoBackToPieces(const IO_file *r, int64_t position, int rc) {
    if (position >= 0 && kwxSeek64(r->stream, position, 0) != 0 && rc == IO_OK) return IO_ERR_SEEK;
    return rc;
}

extern "C" int kwxIoInfoDamaged(const IO_file *r) { return flagOf(r, &RecordDebts::infoDamaged) ? 1 : 0; }

extern "C" void kwxIoSetInfoDamaged(const IO_file *r, int damaged) {
    setFlag(r, &RecordDebts::infoDamaged, damaged != 0);
}

extern "C" int kwxIndexFromStore(const IO_file *r) { return flagOf(r, &RecordDebts::fromStore) ? 1 : 0; }

extern "C" void kwxIndexSetFromStore(const IO_file *r, int fromStore) {
    setFlag(r, &RecordDebts::fromStore, fromStore != 0);
}

void kwxIndexStoredRetired(const IO_file *r, std::vector<int32_t> &&lines, bool known) {
    try {
        RecordDebts *d = debtsOf(r, true);
        d->retiredOrderChecked = known && lines.empty();
        d->storedRetiredKnown = known;
        d->storedRetired = std::move(lines);
    } catch (const std::bad_alloc &) {
        // Nothing kept: the look goes through the whole table.
    }
}

extern "C" void kwxIndexForgetStoredRetired(const IO_file *r) {
    RecordDebts *d = debtsOf(r, false);
    if (!d || !d->storedRetiredKnown) return;
    d->storedRetiredKnown = false;
    std::vector<int32_t>().swap(d->storedRetired);
}

namespace {

// The live lines of a table, from the WHAT on (the status left out), in
// byte order: two tables that list the same datasets give the same list.
std::vector<std::string_view> liveLines(const char *table, int n) {
    std::vector<std::string_view> out;
    out.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        const char *line = IO_INDEX_LINE(table, i);
        if (line[0] == 'Y') out.emplace_back(line + 1, strnlen(line + 1, IO_INDEX_SLOT - 1));
    }
    std::sort(out.begin(), out.end());
    return out;
}

// The name the header records at `at` give the dataset there, read in one
// go: WHAT, WHERE and WHEN, and whether the dataset is live. False when the
// bytes are not what a dataset's start looks like (a deleted dataset, say).
bool nameAt(const char *b, size_t n, int width, std::string_view &what, std::string_view &where, int32_t &when,
            bool &live) {
    if (n < 40) return false;
    const char letter = b[0];
    live = iofmt_is_live(static_cast<unsigned char>(letter)) != 0;
    if (!live || b[2] != '\n') return false;
    std::string_view records[4];
    if (letter == 'F') {
        // Lines of the record capacity (7 for the tag, 80 for the others).
        size_t p = 3 + static_cast<size_t>(width) + 1;
        if (n < p + 9 + 8 + 3 * 81 || memcmp(b + p, "*DATASET\n", 9) != 0) return false;
        p += 9;
        records[0] = std::string_view(b + p, 7);
        p += 8;
        for (int k = 1; k < 4; ++k, p += 81) {
            // The padding goes eight blanks at a time, then the rest.
            std::string_view text(b + p, 80);
            while (text.size() >= 8 && memcmp(text.data() + text.size() - 8, "        ", 8) == 0)
                text.remove_suffix(8);
            while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
            records[k] = text;
        }
    } else {
        // A 4-byte length in the letter's byte order before each record.
        size_t p = 3 + ((letter == 'u' || letter == 'U') ? 4 : 8);
        if (n < p + 8 || memcmp(b + p, "*DATASET", 8) != 0) return false;
        p += 8;
        for (std::string_view &record : records) {
            if (n < p + 4) return false;
            int32_t len;
            memcpy(&len, b + p, 4);
            if (iofmt_is_swapped(letter)) kwxSwapBytes(&len, 4);
            if (len < 0 || n < p + 4 + static_cast<size_t>(len)) return false;
            record = std::string_view(b + p + 4, static_cast<size_t>(len));
            p += 4 + static_cast<size_t>(len);
        }
    }
    auto value = [](std::string_view record, std::string_view key, std::string_view &out) {
        if (record.size() <= key.size() || record.substr(0, key.size()) != key || record[key.size()] != IO_ESC)
            return false;
        out = record.substr(key.size() + 1);
        return true;
    };
    std::string_view whenText;
    if (records[0] != "*HEADER" || !value(records[1], "WHAT", what) || !value(records[2], "WHERE", where) ||
        !value(records[3], "WHEN", whenText) || whenText.size() >= 32)
        return false;
    char text[32];
    memcpy(text, whenText.data(), whenText.size());
    text[whenText.size()] = '\0';
    when = static_cast<int32_t>(atoi(text));
    return true;
}

// WHAT, WHERE and WHEN of a table line of six fields, none empty, the last
// three in plain digits (as every line made or read is); false for any other
// line, which parseindex then reads.
bool lineName(const char *line, std::string_view &what, std::string_view &where, int32_t &when) {
    const char *const end = line + strnlen(line, IO_INDEX_SLOT);
    const char *field[6];
    size_t length[6];
    const char *p = line;
    for (int f = 0; f < 6; ++f) {
        const char *q = f < 5 ? static_cast<const char *>(memchr(p, IO_ESC, static_cast<size_t>(end - p))) : end;
        if (!q || q == p) return false;
        field[f] = p;
        length[f] = static_cast<size_t>(q - p);
        p = q + 1;
    }
    int64_t value = 0;
    for (int f = 3; f < 6; ++f) {
        if (length[f] > (f == 3 ? 10u : 18u)) return false;
        int64_t v = 0;
        for (size_t k = 0; k < length[f]; ++k) {
            const unsigned digit = static_cast<unsigned char>(field[f][k]) - '0';
            if (digit > 9) return false;
            v = v * 10 + digit;
        }
        if (f == 3) value = v;
    }
    if (value > INT32_MAX) return false;
    what = std::string_view(field[1], length[1]);
    where = std::string_view(field[2], length[2]);
    when = static_cast<int32_t>(value);
    return true;
}

// The locations of the datasets this record retired and whose deletion
// marks it still owes the file, in order: their lines are 'N' while the file
// holds them live, and a rebuild lists them live.
std::vector<int64_t> owedMarks(const IO_file *r) {
    std::vector<int64_t> places;
    const RecordDebts *d = debtsOf(r, false);
    if (!d || d->retired.empty()) return places;
    places.reserve(d->retired.size());
    for (const IO_location &loc : d->retired) places.push_back(loc.location);
    std::sort(places.begin(), places.end());
    return places;
}

// Whether every line of the table names the dataset at its location as
// that dataset's header does (live lines a live one; a retired line a
// deleted one, or one whose mark this record owes), found by reading the
// start of each dataset alone: much less than a rebuild reads. A file that
// does not pass is compared with a rebuild. noMemory tells that it could
// not be found for want of memory.
bool linesNameTheirDatasets(const IO_file *r, bool &noMemory) {
    noMemory = false;
    const int fd = vrnPlatform_streamFd(r->stream);
    if (fd < 0 || fflush(r->stream) != 0) return false;
    const int width = r->offsetwidth ? r->offsetwidth : 20;
    // The datasets in the order of the file, read through one large buffer.
    std::vector<std::pair<int64_t, int>> order;
    std::vector<int64_t> owed;
    const size_t bufferSize = 1 << 20;
    std::unique_ptr<char[]> buffer;
    try {
        kwxIoCountAllocation();
        order.reserve(static_cast<size_t>(r->nlines));
        owed = owedMarks(r);
        buffer.reset(new char[bufferSize]);
    } catch (const std::bad_alloc &) {
        noMemory = true;
        return false;
    }
    for (int i = 0; i < r->nlines; ++i) order.emplace_back(lineLocation(IO_INDEX_LINE(r->indextable, i)), i);
    std::sort(order.begin(), order.end());
    const size_t want = 512;
    int64_t bufferStart = 0;
    size_t bufferBytes = 0;
    std::string_view what, where;
    size_t reach = 0;   // the last dataset whose start the bytes read hold
    for (size_t j = 0; j < order.size(); ++j) {
        const auto [at, i] = order[j];
        if (at < bufferStart || static_cast<uint64_t>(at - bufferStart) + want > bufferBytes) {
            // The starts of the datasets that follow within the buffer's
            // reach, and not the bytes between them: a file of large
            // datasets costs a few hundred bytes a dataset.
            reach = std::max(reach, j);
            while (reach + 1 < order.size() && order[reach + 1].first >= at &&
                   static_cast<uint64_t>(order[reach + 1].first - at) + want <= bufferSize)
                ++reach;
            const size_t bytes = static_cast<size_t>(
                std::min<uint64_t>(bufferSize, static_cast<uint64_t>(order[reach].first - at) + want));
            ssize_t got;
            do {
                got = pread(fd, buffer.get(), bytes, at);
            } while (got < 0 && errno == EINTR);
            if (got < 0) return false;
            bufferStart = at;
            bufferBytes = static_cast<size_t>(got);
        }
        const size_t offset = static_cast<size_t>(at - bufferStart);
        const char *line = IO_INDEX_LINE(r->indextable, i);
        std::string_view lineWhat, lineWhere;
        int32_t lineWhen = 0, when = 0;
        IO_location loc;
        if (!lineName(line, lineWhat, lineWhere, lineWhen)) {
            if (parseindex(quietRoutine, line, &loc) != 0) return false;
            lineWhat = loc.what;
            lineWhere = loc.where;
            lineWhen = loc.when;
        }
        bool live = false;
        if (!nameAt(buffer.get() + offset, std::min(want, bufferBytes - offset), width, what, where, when, live)) {
            if (line[0] == 'N' && !live) continue;   // a retired dataset, marked deleted
            return false;
        }
        if (what != lineWhat || where != lineWhere || when != lineWhen) return false;
        // A retired line's dataset is marked deleted before an index that
        // lists it is stored; this record's own retirements are marked later.
        if (line[0] == 'N' && !std::binary_search(owed.begin(), owed.end(), at)) return false;
    }
    return true;
}

}  // namespace

namespace {

// The lines this record retired in this session (the marks it owes the
// file) are retired in a rebuilt table, which lists those datasets as live:
// in table, a rebuild made for the record r. False when memory runs out
// (the table is then left as it is).
[[nodiscard]]
bool retireAgain(const IO_file *r, IO_file *table) {
    std::vector<int64_t> places;
    try {
        kwxIoCountAllocation();
        places = owedMarks(r);
    } catch (const std::bad_alloc &) {
        return false;
    }
    for (int i = 0; i < table->nlines && !places.empty(); ++i) {
        char *line = IO_INDEX_LINE(table->indextable, i);
        if (line[0] == 'Y' && std::binary_search(places.begin(), places.end(), lineLocation(line))) {
            line[0] = 'N';
            table->indexdirty = 1;
        }
    }
    return true;
}

// Rebuilds the index beside the table and, when the two do not list the
// same live datasets, puts the rebuilt one in the table's place.
[[nodiscard]]
int rebuildBeside(IO_error_routine routine, IO_file *r, int *changed) {
    const int64_t here = kwxTell64(r->stream);
    IO_file scratch;
    memset(&scratch, 0, sizeof scratch);
    scratch.stream = r->stream;
    scratch.offsetwidth = r->offsetwidth;
    scratch.routine = quietRoutine;
    // A dataset the stored index lists, damaged only in its trailing
    // length, stays: the rebuild must not drop what the file still holds.
    int rc = kwxIndexRebuildHeld(quietRoutine, &scratch, r);
    bool same = true;
    if (rc == 0) {
        // What the table retired this session is compared as retired.
        try {
            if (!retireAgain(r, &scratch)) throw std::bad_alloc();
            kwxIoCountAllocation();
            same = liveLines(r->indextable, r->nlines) == liveLines(scratch.indextable, scratch.nlines);
        } catch (const std::bad_alloc &) {
            rc = kwxIoNoMemory(routine, IO_ERR_ALLOC, "kwxIndexRecheck", IO_NO_SIZE);
        }
    }
    if (rc == 0 && !same) {
        kwxIoError(routine,
                   "kwxIndexRecheck: the stored index of %s does not list the datasets the file holds; "
                   "it is rebuilt from them",
                   r->filename ? r->filename : "");
        std::swap(r->indextable, scratch.indextable);
        r->nlines = scratch.nlines;
        r->sorted = 0;
        r->sortedhead = 0;
        r->indexdirty = 1;
        kwxIndexDropViews(r);
        if (RecordDebts *d = debtsOf(r, false)) d->located.clear();
        *changed = 1;
    }
    kwxIndexDropViews(&scratch);
    free(scratch.indextable);
    if (here >= 0 && kwxSeek64(r->stream, here, 0) != 0 && rc == 0) rc = IO_ERR_SEEK;
    if (rc != 0 && rc != IO_ERR_ALLOC)
        kwxIoError(routine, "kwxIndexRecheck: the index of %s could not be checked against the file",
                   r->filename ? r->filename : "");
    // Memory that runs out here is no request for room (which IO_ERR_MEMORY
    // means to a reader).
    return rc == IO_ERR_MEMORY ? IO_ERR_ALLOC : rc;
}

}  // namespace

extern "C" int kwxIndexRetireOwed(IO_error_routine routine, IO_file *r) {
    if (!r || !r->indextable || retireAgain(r, r)) return 0;
    return kwxIoNoMemory(routine, IO_ERR_ALLOC, "recreate_indextable", IO_NO_SIZE);
}

// Checks the table against the file: it is kept when each line names the
// dataset at its location; otherwise the index is rebuilt beside it and the
// table kept only when it lists exactly the live datasets the file holds,
// else the rebuilt one takes its place. Done once for a table read from the
// stored index; the stream and the index position are kept.
extern "C" int kwxIndexRecheck(IO_error_routine routine, IO_file *r, int *changed) {
    *changed = 0;
    if (!r || !r->stream || !r->indextable || !kwxIndexFromStore(r)) return 0;
    kwxIndexSetFromStore(r, 0);
    bool noMemory = false;
    if (linesNameTheirDatasets(r, noMemory)) return 0;
    if (noMemory) {
        // Not checked: the next search or delete that needs it checks again.
        kwxIndexSetFromStore(r, 1);
        return kwxIoNoMemory(routine, IO_ERR_ALLOC, "kwxIndexRecheck: no memory to check the index against the file",
                             IO_NO_SIZE);
    }
    return rebuildBeside(routine, r, changed);
}

// A line is known to be wrong: the table is compared with a rebuild at
// once, whether it came from the stored index or not (a table rebuilt
// since then is checked by this too).
extern "C" int kwxIndexMendWrongLine(IO_error_routine routine, IO_file *r, int *changed) {
    *changed = 0;
    if (!r || !r->stream || !r->indextable) return 0;
    kwxIndexSetFromStore(r, 0);
    return rebuildBeside(routine, r, changed);
}

namespace {

// Whether a retired line of a name lies above (at a higher location than) a
// live line of that name. The library writes every copy of a name after the
// copies before it, retires only the older copies of a name and deletes all
// of its copies at once, so a sound file never holds that: it is a damaged
// status, such as the newest copy's 'Y' turned into 'N', which would have a
// search answer the older copy. Looked at for the name of the retired line
// i among the lines [from, head) of the table, which are in WHAT order, so
// that the lines of one name are neighbours (the lines before from are of
// other names); *end gets the first line after them.
bool retiredAboveLiveOfName(const char *table, int head, int from, int i, int *end) {
    const char *line = IO_INDEX_LINE(table, i);
    *end = i + 1;
    const size_t klen = nameKeyLength(line);
    if (klen == 0) return false;
    // Names are short: compared and stepped over byte by byte, which costs
    // less than a call per line.
    auto sameName = [&](int k) {
        const char *a = IO_INDEX_LINE(table, k) + 2, *b = line + 2;
        size_t n = 0;
        while (n < klen && a[n] == b[n]) ++n;
        return n == klen;
    };
    int first = i;
    while (first > from && sameName(first - 1)) --first;
    while (*end < head && sameName(*end)) ++*end;
    int64_t lowestLive = INT64_MAX, highestRetired = -1;
    for (int k = first; k < *end; ++k) {
        const char *other = IO_INDEX_LINE(table, k);
        // The location: the digits after the length that follows the name.
        const char *digit = other + 2 + klen;
        while (*digit && *digit != IO_ESC) ++digit;
        if (!*digit) continue;
        int64_t at = 0;
        for (++digit; *digit >= '0' && *digit <= '9'; ++digit) at = at * 10 + (*digit - '0');
        if (other[0] == 'N')
            highestRetired = std::max(highestRetired, at);
        else
            lowestLive = std::min(lowestLive, at);
    }
    return highestRetired > lowestLive;
}

// The same for every retired line of the sorted head of the record's table,
// found through the line numbers kept at the open when no line has moved
// since (the head is then the stored lines in their order), else by going
// through the head.
bool retiredAboveLive(const IO_file *r, const RecordDebts &d) {
    const int head = kwxIndexSortedCount(r);
    const char *const table = r->indextable;
    int end = 0;
    if (d.storedRetiredKnown) {
        for (int32_t i : d.storedRetired) {
            if (i < end || i >= head || IO_INDEX_LINE(table, i)[0] != 'N') continue;
            if (retiredAboveLiveOfName(table, head, end, i, &end)) return true;
        }
        return false;
    }
    for (int i = 0; i < head; i = std::max(i + 1, end)) {
        if (IO_INDEX_LINE(table, i)[0] == 'N' && retiredAboveLiveOfName(table, head, end, i, &end)) return true;
    }
    return false;
}

}  // namespace

extern "C" int kwxIndexCheckRetiredOrder(IO_error_routine routine, IO_file *r, int *changed) {
    *changed = 0;
    if (!r || !r->indextable || r->nlines <= 0) return 0;
    const RecordDebts *d = debtsOf(r, false);
    if (!d || !d->fromStore || d->retiredOrderChecked) return 0;
    if (r->sorted != -1) {
        // Lines that move here forget their kept numbers.
        if (int rc = kwxIndexSortWhat(routine, r)) return rc;
    }
    d = debtsOf(r, false);
    const bool damaged = d && retiredAboveLive(r, *d);
    setFlag(r, &RecordDebts::retiredOrderChecked, true);
    kwxIndexForgetStoredRetired(r);
    return damaged ? kwxIndexRecheck(routine, r, changed) : 0;
}

void kwxIndexRememberLocated(const IO_file *r, const std::vector<IO_location> &found,
                             const std::vector<int32_t> &order) {
    // A read follows a locate of a few versions; a long answer is read
    // through the search.
    const size_t kept = 64;
    try {
        RecordDebts *d = debtsOf(r, true);
        d->located.clear();
        for (size_t k = 0; k < order.size() && k < kept; ++k) {
            const IO_location &loc = found[static_cast<size_t>(order[k])];
            d->located.emplace_back(loc.location, loc.line);
        }
    } catch (const std::bad_alloc &) {
        if (RecordDebts *d = debtsOf(r, false)) d->located.clear();
    }
}

namespace {

// Whether a table line is live and names read->what:read->where:read->when
// at location, compared in place: "Y" ESC WHAT ESC WHERE ESC WHEN ESC
// length ESC location, the numbers in plain digits.
bool liveLineNames(const char *line, const IO_header *read, int64_t location) {
    const char *const end = line + IO_INDEX_SLOT;
    if (line[0] != 'Y' || line[1] != IO_ESC) return false;
    const char *p = line + 2;
    for (const char *name : {read->what, read->where}) {
        const size_t n = strnlen(name, IO_WHAT_SIZE);
        if (n >= static_cast<size_t>(end - p) || memcmp(p, name, n) != 0 || p[n] != IO_ESC) return false;
        p += n + 1;
    }
    // The three numbers: digits, each ended by ESC but the last by the end.
    int64_t value[3];
    for (int f = 0; f < 3; ++f) {
        int64_t v = 0;
        const char *start = p;
        for (; p < end && p - start < 18 && *p >= '0' && *p <= '9'; ++p) v = v * 10 + (*p - '0');
        if (p == start || p >= end || *p != (f < 2 ? IO_ESC : '\0')) return false;
        ++p;
        value[f] = v;
    }
    return value[0] == *read->when && value[2] == location;
}

// Whether a line that the last locate handed out for `location` is still
// live there under the name read: a line of that name and location, found
// without a search.
bool locatedLineNames(const IO_file *r, const IO_header *read, int64_t location) {
    const RecordDebts *d = debtsOf(r, false);
    if (!d) return false;
    for (const auto &entry : d->located) {
        if (entry.first != location) continue;
        return entry.second >= 0 && entry.second < r->nlines &&
               liveLineNames(IO_INDEX_LINE(r->indextable, entry.second), read, location);
    }
    return false;
}

}  // namespace

// Whether a line of the table names the dataset read at `location`: one of
// its name with that location, live unless the dataset there carries a
// deletion mark. The line the caller located is compared first; the table
// is searched only when that is not it.
extern "C" int kwxIndexNamesDataset(IO_error_routine routine, IO_file *r, const IO_header *read,
                                    int64_t location, char letter, int *names) {
    *names = 0;
    if (!r || !r->indextable || !read || !read->what || !read->where || !read->when) return 0;
    if (locatedLineNames(r, read, location)) {
        *names = !iofmt_is_deleted(static_cast<unsigned char>(letter));
        return 0;
    }
    std::vector<IO_location> found;
    IO_header key = *read;
    if (int rc = kwxIndexSearch(routine, IO_SORT_NAME, &key, r, found)) return rc;
    for (const IO_location &loc : found) {
        if (loc.location == location) {
            *names = !iofmt_is_deleted(static_cast<unsigned char>(letter));
            return 0;
        }
    }
    // A retired line: reading the older version of a name on purpose.
    IO_location loc;
    *names = kwxIndexLineAt(r, location, &loc) && IO_INDEX_LINE(r->indextable, loc.line)[0] == 'N' &&
             strcmp(loc.what, read->what) == 0 && strcmp(loc.where, read->where) == 0 &&
             loc.when == *read->when;
    return 0;
}

// The line whose location is `location` (a live one before a retired one).
extern "C" int kwxIndexLineAt(const IO_file *r, int64_t location, IO_location *out) {
    if (!r || !r->indextable) return 0;
    int best = -1;
    for (int i = 0; i < r->nlines; ++i) {
        const char *line = IO_INDEX_LINE(r->indextable, i);
        if (lineLocation(line) != location) continue;
        if (best < 0 || line[0] == 'Y') best = i;
        if (line[0] == 'Y') break;
    }
    if (best < 0 || parseindex(quietRoutine, IO_INDEX_LINE(r->indextable, best), out) != 0) return 0;
    out->line = best;
    return 1;
}

extern "C" void kwxIndexForgetRecord(const IO_file *r) {
    auto &list = debts();
    for (size_t i = 0; i < list.size(); ++i) {
        if (list[i].record == r) {
            list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
            return;
        }
    }
}
