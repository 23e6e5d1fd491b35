// Dataset location: finding datasets in a file's index table by WHAT, WHERE
// and WHEN, exactly through binary search on the WHAT-sorted table or on a
// WHERE-ordered view of it, and by wildcard patterns through filtering or a
// full scan.
//
// The WHERE-ordered view (the record's wheretable) is not a second copy of
// the lines: it is an array of int32, element 0 the number of lines it
// covers, then the table's line numbers in WHERE order. Matches found
// through it therefore carry their line number in the WHAT-sorted table
// directly. It is valid while the table keeps its order; sorting the table
// and inserting lines drop it.
#include "io_files.h"

#include <algorithm>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

const char kEsc = IO_ESC;

inline char *lineAt(const IO_file *record, int i) {
    return IO_INDEX_LINE(record->indextable, i);
}

inline bool isLive(const char *line) { return line[0] == 'Y'; }

// Drops a view of the index table; it is built again when next wanted.
void dropView(char *&view) {
    free(view);
    view = nullptr;
}

// Gives a view room for `bytes`; when there is no memory for that the view
// is dropped. Whether the view is still there.
bool growView(char *&view, size_t bytes) {
    void *grown = realloc(view, bytes);
    if (!grown) {
        dropView(view);
        return false;
    }
    view = static_cast<char *>(grown);
    return true;
}

// A header usable as a search key.
bool keyUsable(const IO_header *key) { return key && key->what && key->where && key->when; }

// The first len bytes of src (at most 79), padded with NULs.
void copyField(char (&dest)[80], const char *src, size_t len) {
    size_t n = strnlen(src, std::min(len, sizeof dest - 1));
    memcpy(dest, src, n);
    memset(dest + n, 0, sizeof dest - n);
}

// Builds the WHERE view of the record's table.
int buildWhereView(IO_error_routine routine, IO_file *record) {
    dropView(record->wheretable);
    int n = record->nlines;
    size_t bytes = sizeof(int32_t) * ((size_t)n + 1);
    auto *view = static_cast<int32_t *>(kwxIoMalloc(bytes));
    if (!view) return kwxIoNoMemory(routine, IO_ERR_MEMORY, "get_ds_location", (int64_t)bytes);
    view[0] = n;
    for (int i = 0; i < n; ++i) view[i + 1] = i;
    const char *table = record->indextable;
    std::sort(view + 1, view + 1 + n, [table](int32_t a, int32_t b) {
        int c = strcmp(kwxIndexWherePart(IO_INDEX_LINE(table, a)),
                       kwxIndexWherePart(IO_INDEX_LINE(table, b)));
        return c != 0 ? c < 0 : a < b;
    });
    record->wheretable = reinterpret_cast<char *>(view);
    return IO_OK;
}

// The name fields of an index line, without copying: WHAT, WHERE and the
// text of WHEN. False for a line that does not hold them.
struct LineNames {
    const char *what, *where, *when;
    size_t whatLen, whereLen;
};

bool splitNames(const char *line, LineNames &n) {
    n.what = kwxIndexWhatPart(line);
    const char *e1 = strchr(n.what, kEsc);
    if (!e1) return false;
    n.whatLen = (size_t)(e1 - n.what);
    n.where = e1 + 1;
    const char *e2 = strchr(n.where, kEsc);
    if (!e2) return false;
    n.whereLen = (size_t)(e2 - n.where);
    n.when = e2 + 1;
    return true;
}

bool nameMatches(const char *text, size_t len, const char *pattern, bool wild) {
    if (!wild) return strlen(pattern) == len && memcmp(text, pattern, len) == 0;
    char buffer[IO_INDEX_SLOT];
    if (len >= sizeof buffer) return false;
    memcpy(buffer, text, len);
    buffer[len] = '\0';
    return kwxWildMatchName(buffer, pattern) == 1;
}

// Whether a live line matches the key, each name as a pattern or exactly.
bool lineMatches(const char *line, const IO_header *key, bool wildWhat, bool wildWhere) {
    if (line[0] != 'Y') return false;
    LineNames n;
    if (!splitNames(line, n)) return false;
    if (*key->when >= 0 && atoi(n.when) != *key->when) return false;
    return nameMatches(n.what, n.whatLen, key->what, wildWhat) &&
           nameMatches(n.where, n.whereLen, key->where, wildWhere);
}

// The literal start of a pattern, before its first special character.
std::string literalPrefix(const char *pattern) {
    size_t n = strcspn(pattern, "*?[]\\");
    return std::string(pattern, n);
}

// Locations found by a search, in a growable array (the C interface hands
// out a caller-sized array; inside, a search needs room only for its hits).
using Matches = std::vector<IO_location>;

int takeLine(IO_error_routine routine, const IO_file *record, int i, Matches &out) {
    IO_location loc;
    int rc = parseindex(routine, lineAt(record, i), &loc);
    if (rc != IO_OK) {
        kwxIoError(routine, "get_ds_location: parseindex failed\n");
        return rc;
    }
    loc.line = i;
    out.push_back(loc);
    return IO_OK;
}

// First and last position in [0, n) whose text (given by textOf) begins
// with key; false when there is none. The texts must be in ascending order,
// so that those beginning with key are neighbours: two binary searches find
// the ends of their run, however many versions of a name it holds.
template <typename TextOf>
bool prefixRange(int n, const std::string &key, TextOf textOf, int &first, int &last) {
    auto cmp = [&](int i) { return strncmp(textOf(i), key.c_str(), key.size()); };
    int low = 0, high = n;   // first position not before key
    while (low < high) {
        int middle = low + (high - low) / 2;
        if (cmp(middle) < 0)
            low = middle + 1;
        else
            high = middle;
    }
    if (low >= n || cmp(low) != 0) return false;
    first = low;
    high = n;   // first position after the run
    while (low < high) {
        int middle = low + (high - low) / 2;
        if (cmp(middle) <= 0)
            low = middle + 1;
        else
            high = middle;
    }
    last = low - 1;
    return true;
}

// The range of the WHAT-ordered head (the first head lines) whose lines
// begin with key.
bool whatRange(const IO_file *record, int head, const std::string &key, int &first, int &last) {
    return prefixRange(head, key, [record](int i) { return kwxIndexWhatPart(lineAt(record, i)); },
                       first, last);
}

// The range of the WHERE view whose lines begin with the key's WHERE, and
// with its WHEN too when that is not negative.
bool whereRange(const IO_header *key, const IO_file *record, int &first, int &last) {
    std::string k = key->where;
    k += kEsc;
    if (*key->when >= 0) {
        k += std::to_string(*key->when);
        k += kEsc;
    }
    auto textOf = [record](int i) {
        return kwxIndexWherePart(lineAt(record, kwxWhereViewLine(record, i)));
    };
    return prefixRange(record->nlines, k, textOf, first, last);
}

// The tail view (the record's tailtable): a header (lines covered, sorted
// head it was made for, entries kept, entries allocated), then the line
// numbers of the lines after the sorted head, ordered by their text from
// WHAT on and, for equal texts, by line number. The lines of the tail that
// begin with a key are then neighbours, found by binary search rather than
// by a scan of the whole tail. Appended lines join it in place; it is
// rebuilt when the head changes and dropped when lines move.
struct TailHeader {
    int32_t covered, head, kept, capacity;
};

inline TailHeader *tailHeader(const IO_file *record) {
    return reinterpret_cast<TailHeader *>(record->tailtable);
}
inline int32_t *tailEntries(const IO_file *record) {
    return reinterpret_cast<int32_t *>(record->tailtable + sizeof(TailHeader));
}

bool tailBefore(const IO_file *record, int32_t a, int32_t b) {
    int c = strcmp(kwxIndexWhatPart(lineAt(record, a)), kwxIndexWhatPart(lineAt(record, b)));
    return c != 0 ? c < 0 : a < b;
}

bool buildTailView(IO_file *record, int head) {
    dropView(record->tailtable);
    int n = record->nlines - head;
    if (n < 0) return false;
    int capacity = n + 64;
    void *block = malloc(sizeof(TailHeader) + sizeof(int32_t) * (size_t)capacity);
    if (!block) return false;
    record->tailtable = static_cast<char *>(block);
    int32_t *entries = tailEntries(record);
    for (int i = 0; i < n; ++i) entries[i] = head + i;
    std::sort(entries, entries + n, [record](int32_t a, int32_t b) { return tailBefore(record, a, b); });
    *tailHeader(record) = TailHeader{record->nlines, head, n, capacity};
    return true;
}

// The lines after the sorted head (head on) that may begin with key, in
// table order: those that do, or every one of them when the tail view
// cannot be had. Callers test each line as they would in a scan.
void tailCandidates(IO_file *record, int head, const std::string &key, std::vector<int32_t> &out) {
    out.clear();
    if (head >= record->nlines) return;
    bool valid = record->tailtable && tailHeader(record)->covered == record->nlines &&
                 tailHeader(record)->head == head;
    if (!valid && !buildTailView(record, head)) {
        for (int i = head; i < record->nlines; ++i) out.push_back(i);
        return;
    }
    const int32_t *entries = tailEntries(record);
    int first, last;
    auto textOf = [record, entries](int i) { return kwxIndexWhatPart(lineAt(record, entries[i])); };
    if (!prefixRange(tailHeader(record)->kept, key, textOf, first, last)) return;
    out.assign(entries + first, entries + last + 1);
    std::sort(out.begin(), out.end());
}

// exactNames: WHAT and WHERE are names, whatever characters they hold (a
// name the library holds, or an exact locate). Otherwise a WHERE holding
// pattern characters leaves WHERE and WHEN out of the key, for the caller
// to filter.
int searchWhat(IO_error_routine routine, const IO_header *key, bool exactNames, IO_file *record,
               Matches &out) {
    if (record->sorted != -1) {
        int rc = kwxIndexSortWhat(routine, record);
        if (rc != IO_OK) return rc;
    }
    if (!exactNames && kwxHasWildcard(key->what) == 1)
        kwxIoError(routine,
                   "INST: get_ds_sortwhat_location with IO_SORT_WHAT when WHAT is a wildcard in "
                   "io\\Src\\Main\\get_ds_location");
    std::string k = key->what;
    k += kEsc;
    if (exactNames || kwxHasWildcard(key->where) != 1) {
        k += key->where;
        k += kEsc;
        if (*key->when >= 0) {
            k += std::to_string(*key->when);
            k += kEsc;
        }
    }
    int first, last;
    int head = kwxIndexSortedCount(record);
    if (whatRange(record, head, k, first, last)) {
        for (int i = first; i <= last; ++i) {
            if (!isLive(lineAt(record, i))) continue;
            int rc = takeLine(routine, record, i, out);
            if (rc != IO_OK) return rc;
        }
    }
    // Lines appended since the table was last put in order.
    std::vector<int32_t> tail;
    tailCandidates(record, head, k, tail);
    for (int32_t i : tail) {
        const char *line = lineAt(record, i);
        if (!isLive(line) || strncmp(kwxIndexWhatPart(line), k.c_str(), k.size()) != 0) continue;
        int rc = takeLine(routine, record, i, out);
        if (rc != IO_OK) return rc;
    }
    return IO_OK;
}

int searchWhere(IO_error_routine routine, const IO_header *key, IO_file *record, Matches &out) {
    if (record->sorted != -1) {
        int rc = kwxIndexSortWhat(routine, record);
        if (rc != IO_OK) return rc;
    }
    if (kwxWhereViewCount(record) != record->nlines) {
        int rc = buildWhereView(routine, record);
        if (rc != IO_OK) return rc;
    }
    int first, last;
    if (!whereRange(key, record, first, last)) return IO_OK;
    for (int i = first; i <= last; ++i) {
        int line = kwxWhereViewLine(record, i);
        if (!isLive(lineAt(record, line))) continue;
        int rc = takeLine(routine, record, line, out);
        if (rc != IO_OK) return rc;
    }
    return IO_OK;
}

// The WHEN view (the record's whentable): a header entry (lines covered,
// entries kept, entries allocated), then (when, line) pairs ordered by WHEN
// and, within one WHEN, by line number. A line whose fields cannot be split
// is left out: no search can match it. Lines appended to the table join it
// in place (see kwxIndexWhenViewAppend); it is dropped with the WHERE view
// whenever lines move. A line retired in place keeps its entry and is
// skipped by the liveness test of the search.
struct WhenEntry {
    int32_t when, line;
};
struct WhenHeader {
    int32_t covered, kept, capacity, unused;
};
static_assert(sizeof(WhenHeader) == 2 * sizeof(WhenEntry), "the header takes two entries");

inline WhenHeader *whenHeader(const IO_file *record) {
    return reinterpret_cast<WhenHeader *>(record->whentable);
}
inline WhenEntry *whenEntries(const IO_file *record) {
    return reinterpret_cast<WhenEntry *>(record->whentable) + 2;
}

// The WHEN of a line as the searches read it; false for a line without one.
bool lineWhen(const char *line, int32_t &when) {
    LineNames names;
    if (!splitNames(line, names)) return false;
    when = (int32_t)atoi(names.when);
    return true;
}

// Builds the WHEN view; false when memory runs out (the search then scans
// the table, so the view is never needed for an answer).
bool buildWhenView(IO_file *record) {
    dropView(record->whentable);
    int n = record->nlines;
    int capacity = n + n / 4 + 16;
    void *block = malloc(sizeof(WhenEntry) * ((size_t)capacity + 2));
    if (!block) return false;
    record->whentable = static_cast<char *>(block);
    WhenEntry *entries = whenEntries(record);
    int32_t kept = 0;
    for (int i = 0; i < n; ++i) {
        int32_t when;
        if (lineWhen(lineAt(record, i), when)) entries[kept++] = WhenEntry{when, (int32_t)i};
    }
    std::sort(entries, entries + kept, [](const WhenEntry &a, const WhenEntry &b) {
        return a.when != b.when ? a.when < b.when : a.line < b.line;
    });
    *whenHeader(record) = WhenHeader{n, kept, capacity, 0};
    return true;
}

int searchWild(IO_error_routine routine, const IO_header *key, IO_file *record, Matches &out) {
    // One WHEN: only the lines of that WHEN are tested, in table order as
    // the scan below would find them.
    if (*key->when >= 0 &&
        ((record->whentable && whenHeader(record)->covered == record->nlines) ||
         buildWhenView(record))) {
        const WhenEntry *entries = whenEntries(record);
        const WhenEntry *end = entries + whenHeader(record)->kept;
        const WhenEntry *it = std::lower_bound(
            entries, end, *key->when, [](const WhenEntry &e, int32_t w) { return e.when < w; });
        for (; it != end && it->when == *key->when; ++it) {
            if (!lineMatches(lineAt(record, it->line), key, true, true)) continue;
            int rc = takeLine(routine, record, it->line, out);
            if (rc != IO_OK) return rc;
        }
        return IO_OK;
    }
    for (int i = 0; i < record->nlines; ++i) {
        if (!lineMatches(lineAt(record, i), key, true, true)) continue;
        int rc = takeLine(routine, record, i, out);
        if (rc != IO_OK) return rc;
    }
    return IO_OK;
}

// WHAT a pattern with a literal start: the lines whose WHAT begins with it
// are neighbours in the WHAT-sorted table, and only they are tested.
int searchWhatPrefix(IO_error_routine routine, const IO_header *key, const std::string &prefix,
                     bool wildWhere, IO_file *record, Matches &out) {
    if (record->sorted != -1) {
        int rc = kwxIndexSortWhat(routine, record);
        if (rc != IO_OK) return rc;
    }
    int first, last;
    int head = kwxIndexSortedCount(record);
    if (whatRange(record, head, prefix, first, last)) {
        for (int i = first; i <= last; ++i) {
            if (!lineMatches(lineAt(record, i), key, true, wildWhere)) continue;
            int rc = takeLine(routine, record, i, out);
            if (rc != IO_OK) return rc;
        }
    }
    std::vector<int32_t> tail;
    tailCandidates(record, head, prefix, tail);
    for (int32_t i : tail) {
        if (!lineMatches(lineAt(record, i), key, true, wildWhere)) continue;
        int rc = takeLine(routine, record, i, out);
        if (rc != IO_OK) return rc;
    }
    return IO_OK;
}

int search(IO_error_routine routine, int mode, const IO_header *key, IO_file *record,
           Matches &out) {
    if (!record->indextable || record->nlines <= 0) return IO_OK;
    switch (mode) {
    case IO_SORT_WHAT: return searchWhat(routine, key, false, record, out);
    case IO_SORT_NAME: return searchWhat(routine, key, true, record, out);
    case IO_SORT_WHERE: return searchWhere(routine, key, record, out);
    case IO_SORT_WILD: return searchWild(routine, key, record, out);
    default: return IO_OK;
    }
}

// WHAT given exactly, WHERE a pattern.
int locate_all_what(IO_error_routine routine, const IO_header *key, IO_file *record,
                    Matches &out) {
    std::string k = key->what;
    k += kEsc;
    int first = 0, last = -1;
    int head = kwxIndexSortedCount(record);
    if (!whatRange(record, head, k, first, last)) {
        first = 0;
        last = -1;
    }
    // The range found in the ordered head, then the lines appended since.
    std::vector<int32_t> lines;
    for (int i = first; i <= last; ++i) lines.push_back(i);
    std::vector<int32_t> tail;
    tailCandidates(record, head, k, tail);
    lines.insert(lines.end(), tail.begin(), tail.end());
    for (int32_t i : lines) {
        if (!lineMatches(lineAt(record, i), key, false, true)) continue;
        int rc = takeLine(routine, record, i, out);
        if (rc != IO_OK) {
            kwxIoError(routine, "iocnt: get_ds_location failed\n");
            return rc;
        }
    }
    return IO_OK;
}

// WHAT a pattern, WHERE given exactly.
int locate_all_where(IO_error_routine routine, const IO_header *key, IO_file *record,
                     Matches &out) {
    if (kwxWhereViewCount(record) != record->nlines) {
        int rc = buildWhereView(routine, record);
        if (rc != IO_OK) {
            kwxIoError(routine, "locate_all_where: get_ds_location failed\n");
            return rc;
        }
    }
    int first, last;
    if (!whereRange(key, record, first, last)) return IO_OK;
    for (int i = first; i <= last; ++i) {
        int line = kwxWhereViewLine(record, i);
        if (!lineMatches(lineAt(record, line), key, true, false)) continue;
        int rc = takeLine(routine, record, line, out);
        if (rc != IO_OK) {
            kwxIoError(routine, "locate_all_where: get_ds_location failed\n");
            return rc;
        }
    }
    return IO_OK;
}

// Whether two matches share WHAT, WHERE and WHEN. Only then is there an
// older dataset to retire; every line of a name matches together.
bool hasDuplicateNames(const Matches &found) {
    std::vector<const IO_location *> order;
    order.reserve(found.size());
    for (const IO_location &loc : found) order.push_back(&loc);
    // WHEN first: the matches of one name differ there, and it is the
    // cheapest field to compare.
    auto less = [](const IO_location *a, const IO_location *b) {
        if (a->when != b->when) return a->when < b->when;
        int c = strcmp(a->what, b->what);
        if (c != 0) return c < 0;
        return strcmp(a->where, b->where) < 0;
    };
    std::sort(order.begin(), order.end(), less);
    for (size_t i = 1; i < order.size(); ++i)
        if (!less(order[i - 1], order[i])) return true;
    return false;
}

// While a record does not hold the write lock, the duplicate clean-up of a
// search may retire lines in memory but must not write deletion marks into
// a file that other processes are reading.
class NoMarksUnlessWriter {
public:
    explicit NoMarksUnlessWriter(IO_file *record) : record_(record), saved_(record->openmode) {
        if (record->locklevel != -1 && record->openmode == 'w') record->openmode = 'r';
    }
    ~NoMarksUnlessWriter() { record_->openmode = saved_; }
    NoMarksUnlessWriter(const NoMarksUnlessWriter &) = delete;
    NoMarksUnlessWriter &operator=(const NoMarksUnlessWriter &) = delete;

private:
    IO_file *record_;
    char saved_;
};

}  // namespace

// A line appended as line number line joins the WHEN view when the view
// covers every line before it; otherwise the view is dropped. Lines are
// mostly appended with the latest WHEN, so the entry usually goes at the end.
extern "C" void kwxIndexWhenViewAppend(IO_file *record, int line) {
    if (!record || !record->whentable) return;
    WhenHeader *h = whenHeader(record);
    if (h->covered != line || line + 1 != record->nlines) {
        dropView(record->whentable);
        return;
    }
    int32_t when;
    if (!lineWhen(lineAt(record, line), when)) {
        h->covered = line + 1;
        return;
    }
    if (h->kept >= h->capacity) {
        int capacity = h->capacity + h->capacity / 2 + 16;
        if (!growView(record->whentable, sizeof(WhenEntry) * ((size_t)capacity + 2))) return;
        h = whenHeader(record);
        h->capacity = capacity;
    }
    WhenEntry *entries = whenEntries(record);
    WhenEntry *end = entries + h->kept;
    // After every entry of a WHEN not above it: the new line is the last.
    WhenEntry *at = std::upper_bound(entries, end, when,
                                     [](int32_t w, const WhenEntry &e) { return w < e.when; });
    memmove(at + 1, at, (size_t)(end - at) * sizeof(WhenEntry));
    *at = WhenEntry{when, (int32_t)line};
    h->kept++;
    h->covered = line + 1;
}

// A line appended as line number line joins the tail view when the view
// covers every line before it; otherwise the view is dropped.
extern "C" void kwxIndexTailViewAppend(IO_file *record, int line) {
    if (!record || !record->tailtable) return;
    TailHeader *h = tailHeader(record);
    if (h->covered != line || line + 1 != record->nlines || h->head != kwxIndexSortedCount(record)) {
        dropView(record->tailtable);
        return;
    }
    if (h->kept >= h->capacity) {
        int capacity = h->capacity + h->capacity / 2 + 64;
        if (!growView(record->tailtable, sizeof(TailHeader) + sizeof(int32_t) * (size_t)capacity))
            return;
        h = tailHeader(record);
        h->capacity = capacity;
    }
    int32_t *entries = tailEntries(record);
    int32_t *end = entries + h->kept;
    int32_t *at = std::upper_bound(entries, end, (int32_t)line, [record](int32_t a, int32_t b) {
        return tailBefore(record, a, b);
    });
    memmove(at + 1, at, (size_t)(end - at) * sizeof(int32_t));
    *at = line;
    h->kept++;
    h->covered = line + 1;
}

// ---- Comparators -----------------------------------------------------------

extern "C" int index_sortWhat(const void *a, const void *b) {
    return strcmp(kwxIndexWhatPart(static_cast<const char *>(a)),
                  kwxIndexWhatPart(static_cast<const char *>(b)));
}

extern "C" int index_sortWhere(const void *a, const void *b) {
    return strcmp(kwxIndexWherePart(static_cast<const char *>(a)),
                  kwxIndexWherePart(static_cast<const char *>(b)));
}

// Latest WHEN first; equal WHENs by WHAT.
extern "C" int dsloc_sortWhen(const void *a, const void *b) {
    const auto *x = static_cast<const IO_location *>(a);
    const auto *y = static_cast<const IO_location *>(b);
    if (x->when != y->when) return x->when > y->when ? -1 : 1;
    return strcmp(x->what, y->what);
}

// Highest file position (the dataset written last) first.
extern "C" int dsloc_sortLocation(const void *a, const void *b) {
    const auto *x = static_cast<const IO_location *>(a);
    const auto *y = static_cast<const IO_location *>(b);
    if (x->location != y->location) return x->location > y->location ? -1 : 1;
    return 0;
}

// Sorts the table by WHAT. Tables are mostly sorted already with a few lines
// appended since the last search, so the sorted head is kept and only the
// tail is sorted and merged in; the lines move once, through a buffer.
extern "C" int kwxIndexSortWhat(IO_error_routine routine, IO_file *record) {
    if (!record || !record->indextable) return IO_OK;
    int n = record->nlines;
    const char *table = record->indextable;
    auto before = [table](int a, int b) {
        return strcmp(kwxIndexWhatPart(IO_INDEX_LINE(table, a)),
                      kwxIndexWhatPart(IO_INDEX_LINE(table, b))) < 0;
    };
    int head = 1;
    while (head < n && !before(head, head - 1)) ++head;
    if (head < n) {
        std::vector<int> order;
        char *moved = nullptr;
        try {
            kwxIoCountAllocation();
            order.resize((size_t)n);
        } catch (const std::bad_alloc &) {
            return kwxIoNoMemory(routine, IO_ERR_MEMORY, "sort_index", (int64_t)n * 4);
        }
        moved = static_cast<char *>(kwxIoMalloc((size_t)n * IO_INDEX_SLOT));
        if (!moved) return kwxIoNoMemory(routine, IO_ERR_MEMORY, "sort_index", (int64_t)n * IO_INDEX_SLOT);
        for (int i = 0; i < n; ++i) order[(size_t)i] = i;
        std::stable_sort(order.begin() + head, order.end(), before);
        std::inplace_merge(order.begin(), order.begin() + head, order.end(), before);
        for (int i = 0; i < n; ++i)
            memcpy(moved + (size_t)i * IO_INDEX_SLOT, IO_INDEX_LINE(table, order[(size_t)i]),
                   IO_INDEX_SLOT);
        memcpy(record->indextable, moved, (size_t)n * IO_INDEX_SLOT);
        free(moved);
        kwxIndexDropViews(record);
    }
    record->sorted = -1;
    record->sortedhead = n;
    return IO_OK;
}

// ---- Index lines -------------------------------------------------------------

extern "C" int parseindex(IO_error_routine routine, const char *line, IO_location *location) {
    if (!line || !location) return IO_ERR_PARSE;
    memset(location, 0, sizeof *location);
    location->line = -1;
    // Fields separated by ESC; empty fields are skipped like the separators.
    const char *fields[6];
    size_t lengths[6];
    int nfields = 0;
    size_t len = strnlen(line, IO_INDEX_SLOT);
    const char *p = line, *end = line + len;
    while (p < end && nfields < 6) {
        while (p < end && *p == kEsc) ++p;
        if (p >= end) break;
        const char *q = p;
        while (q < end && *q != kEsc) ++q;
        fields[nfields] = p;
        lengths[nfields] = (size_t)(q - p);
        ++nfields;
        p = q;
    }
    if (nfields < 1) {
        kwxIoError(routine, "parseindex: bad index: missing status code\n");
        return IO_ERR_PARSE;
    }
    if (nfields < 2) {
        kwxIoError(routine, "parseindex: bad index: missing what\n");
        return IO_ERR_PARSE;
    }
    // Names are printed and copied by length, numbers read from a copy
    // that ends at their field: no allocation, as this runs for every match.
    // A field of plain digits is read directly (the value the C library
    // gives it); anything else goes through the C library.
    auto digits = [&](int field, size_t most, int64_t &v) {
        size_t n = lengths[field];
        if (n == 0 || n > most) return false;
        v = 0;
        for (size_t k = 0; k < n; ++k) {
            char d = fields[field][k];
            if (d < '0' || d > '9') return false;
            v = v * 10 + (d - '0');
        }
        return true;
    };
    auto copied = [&](int field, char (&text)[IO_INDEX_SLOT + 1]) {
        memcpy(text, fields[field], lengths[field]);
        text[lengths[field]] = '\0';
        return text;
    };
    auto number = [&](int field) -> int64_t {
        int64_t v;
        if (digits(field, 18, v)) return v;
        char text[IO_INDEX_SLOT + 1];
        return kwx_atoi64(copied(field, text));
    };
    const int whatLen = (int)lengths[1];
    const char *what = fields[1];
    if (nfields < 3) {
        kwxIoError(routine, "parseindex: bad index: missing where in dataset %.*s:?:?\n", whatLen,
                   what);
        return IO_ERR_PARSE;
    }
    const int whereLen = (int)lengths[2];
    const char *where = fields[2];
    if (nfields < 4) {
        kwxIoError(routine, "parseindex: bad index: missing when in dataset %.*s:%.*s:?\n", whatLen,
                   what, whereLen, where);
        return IO_ERR_PARSE;
    }
    int32_t when;
    int64_t whenValue;
    if (digits(3, 9, whenValue)) {
        when = (int32_t)whenValue;
    } else {
        char text[IO_INDEX_SLOT + 1];
        when = atoi(copied(3, text));
    }
    if (nfields < 5) {
        kwxIoError(routine, "parseindex: bad index: missing dslength for dataset %.*s:%.*s:%d\n",
                   whatLen, what, whereLen, where, when);
        return IO_ERR_PARSE;
    }
    if (nfields < 6) {
        kwxIoError(routine, "parseindex: bad index: missing location for dataset %.*s:%.*s:%d\n",
                   whatLen, what, whereLen, where, when);
        return IO_ERR_PARSE;
    }
    copyField(location->what, what, lengths[1]);
    copyField(location->where, where, lengths[2]);
    location->when = when;
    location->dslength = number(4);
    location->location = number(5);
    location->line = 0;
    return IO_OK;
}

// ---- Searches ------------------------------------------------------------------

int kwxIndexSearch(IO_error_routine routine, int mode, IO_header *key, IO_file *record,
                   std::vector<IO_location> &found) {
    found.clear();
    if (!record) return IO_OK;
    if (!keyUsable(key)) return IO_ERR_MEMORY;
    try {
        kwxIoCountAllocation();
        int rc = search(routine, mode, key, record, found);
        // As many records as the table has lines, at most.
        size_t n = std::min(found.size(), (size_t)std::max(record->nlines, 0));
        found.resize(n);
        return rc;
    } catch (const std::bad_alloc &) {
        return kwxIoNoMemory(routine, IO_ERR_MEMORY, "get_ds_location",
                             (int64_t)record->nlines * (int64_t)sizeof(IO_location));
    }
}

extern "C" int get_ds_location(IO_error_routine routine, int mode, IO_header *key,
                               IO_file *record, int *count, IO_location *located) {
    if (!count || !located) return IO_ERR_MEMORY;
    *count = 0;
    Matches found;
    int rc = kwxIndexSearch(routine, mode, key, record, found);
    // The caller's array has room for one record per line.
    if (!found.empty()) memcpy(located, found.data(), found.size() * sizeof(IO_location));
    *count = (int)found.size();
    return rc;
}

namespace {

// One search; *mended tells that a line found wrong had the table rebuilt
// (nothing is answered then: search again). Null: such lines are left.
int locateOnce(IO_error_routine routine, IO_header *key, IO_data *result, IO_file *record,
               bool exact, int *mended) {
    if (!result || !result->nstrings || !result->nints || !result->noffsets || !record)
        return IO_ERR_MEMORY;
    if (!keyUsable(key)) return IO_ERR_MEMORY;
    if (!record->indextable || record->nlines <= 0) {
        *result->nstrings = 0;
        *result->nints = 0;
        *result->noffsets = 0;
        return IO_ERR_NOTLOCATED;
    }
    try {
        if (record->sorted != -1) {
            kwxIoTrace("sorting whatlist in locate_dataset");
            int rc = kwxIndexSortWhat(routine, record);
            if (rc != IO_OK) return rc;
        }
        kwxIoTrace("start to locate %s:%s:%d", key->what, key->where, *key->when);

        bool wildWhat = !exact && kwxHasWildcard(key->what) == 1;
        bool wildWhere = !exact && kwxHasWildcard(key->where) == 1;
        Matches found;
        int rc;
        std::string prefix = wildWhat ? literalPrefix(key->what) : std::string();
        if (wildWhat && !prefix.empty())
            rc = searchWhatPrefix(routine, key, prefix, wildWhere, record, found);
        else if (wildWhat && !wildWhere)
            rc = locate_all_where(routine, key, record, found);
        else if (!wildWhat && wildWhere)
            rc = locate_all_what(routine, key, record, found);
        else
            rc = search(routine, wildWhat ? IO_SORT_WILD : exact ? IO_SORT_NAME : IO_SORT_WHAT, key, record, found);
        if (rc != IO_OK) {
            kwxIoError(routine, "locate_dataset: main dataset location failed\n");
            return rc;
        }
        if (found.empty()) return IO_ERR_NOTLOCATED;

        int matched = (int)found.size();
        if (matched >= 2 && hasDuplicateNames(found)) {
            int removed = 0;
            NoMarksUnlessWriter guard(record);
            rc = kwxIndexRetireDuplicates(routine, record, matched, &removed, found.data(), mended);
            if (rc != IO_OK) {
                kwxIoError(routine, "locate_dataset: update_subindex failed\n");
                return rc;
            }
            if (mended && *mended) return IO_OK;
            kwxIoTrace("matched %d datasets in locate_dataset, %d were deleted", matched, removed);
        }
        int n = 0;
        for (const IO_location &loc : found)
            if (loc.line != -1) ++n;
        if (n == 0) return IO_ERR_NOTLOCATED;

        if (*result->nstrings < 2 * n || *result->nints < n || *result->noffsets < 2 * n ||
            !result->strings || !result->ints || !result->offsets) {
            *result->nstrings = 2 * n;
            *result->nints = n;
            *result->noffsets = 2 * n;
            return IO_ERR_MEMORY;
        }
        // The records go out in the order of their numbers in order[]; with
        // no WHEN given, latest WHEN first (a stable sort of the numbers, so
        // that the records themselves are not moved).
        std::vector<int32_t> order;
        order.reserve((size_t)n);
        for (size_t i = 0; i < found.size(); ++i)
            if (found[i].line != -1) order.push_back((int32_t)i);
        if (*key->when < 0 && n >= 2) {
            kwxIoTrace("about to sort %d datasets by WHEN", n);
            auto later = [&found](int32_t a, int32_t b) {
                return dsloc_sortWhen(&found[(size_t)a], &found[(size_t)b]) < 0;
            };
            if (!std::is_sorted(order.begin(), order.end(), later))
                std::stable_sort(order.begin(), order.end(), later);
            kwxIoTrace("sorted %d datasets by WHEN", n);
        }
        *result->nstrings = 2 * n;
        *result->nints = n;
        *result->noffsets = 2 * n;
        int k = 0;
        for (int32_t i : order) {
            const IO_location &loc = found[(size_t)i];
            memcpy(result->strings + (size_t)(2 * k) * IO_STRING_LEN, loc.what, IO_STRING_LEN);
            memcpy(result->strings + (size_t)(2 * k + 1) * IO_STRING_LEN, loc.where,
                   IO_STRING_LEN);
            result->ints[k] = loc.when;
            result->offsets[2 * k] = loc.location;
            result->offsets[2 * k + 1] = loc.dslength;
            ++k;
        }
        kwxIndexRememberLocated(record, found, order);
        kwxIoTrace("Returning %d matches", n);
        return IO_OK;
    } catch (const std::bad_alloc &) {
        return kwxIoNoMemory(routine, IO_ERR_MEMORY, "locate_dataset: (malloc failed) syserr:", IO_NO_SIZE);
    }
}

}  // namespace

// A search that finds nothing in a table read from the stored index checks
// that table against the file once: a damaged name or status in a stored
// line hides its dataset, and the search is then made in the rebuilt table.
// A line found wrong among the lines of a name written more than once has
// the table rebuilt (kwxIndexMendWrongLine), and the search is made again
// in the rebuilt table.
extern "C" int locate_dataset(IO_error_routine routine, IO_header *key, IO_data *result,
                              IO_file *record, int exact) {
    // A stored table whose retired lines show a damaged status is checked
    // before its first answer.
    int changed = 0;
    if (int check = kwxIndexCheckRetiredOrder(routine, record, &changed)) return check;
    int mended = 0;
    int rc = locateOnce(routine, key, result, record, exact != 0, &mended);
    if (mended) return locateOnce(routine, key, result, record, exact != 0, nullptr);
    if (rc != IO_ERR_NOTLOCATED || !kwxIndexFromStore(record)) return rc;
    if (int check = kwxIndexRecheck(routine, record, &changed)) return check;
    return changed ? locateOnce(routine, key, result, record, exact != 0, nullptr) : rc;
}
