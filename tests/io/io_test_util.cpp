#include "io_test_util.h"

#include <cstdio>

namespace kwxtest {

std::vector<std::string> &messages() {
    static std::vector<std::string> all;
    return all;
}

int captureRoutine(const char *message, int length) {
    messages().emplace_back(message, static_cast<size_t>(length));
    return 0;
}

bool anyMessageContains(const std::string &text) {
    for (const auto &m : messages())
        if (m.find(text) != std::string::npos) return true;
    return false;
}

DataFile::DataFile(const std::string &path, bool create) {
    std::memset(&rec_, 0, sizeof rec_);
    rec_.routine = captureRoutine;
    rec_.offsetwidth = 20;
    rec_.openmode = 'w';
    rec_.locklevel = -1;
    rec_.stream = fopen(path.c_str(), create ? "w+b" : "r+b");
    if (!rec_.stream) {
        openResult_ = IO_ERR_OPEN;
        return;
    }
    if (create) {
        fputs("*INFO\n", rec_.stream);
        fprintf(rec_.stream, "%20d\n", 0);
        fputs("*ENDINFO\n", rec_.stream);
        fflush(rec_.stream);
        rec_.indexpos = kwxTell64(rec_.stream);
        openResult_ = indextable_alloc(&rec_);
        return;
    }
    // The offset width is the size field's length.
    char line[64] = {0};
    if (!fgets(line, sizeof line, rec_.stream) || !fgets(line, sizeof line, rec_.stream)) {
        openResult_ = IO_ERR_READ;
        return;
    }
    rec_.offsetwidth = static_cast<int>(std::strlen(line)) - 1;
    openResult_ = create_indextable(captureRoutine, &rec_);
    if (openResult_ == 0) {
        // The stored index sits at the index position.
        kwxgotoIndexLocation(captureRoutine, &rec_.indexpos, rec_.offsetwidth, rec_.stream);
    } else {
        openResult_ = recreate_indextable(captureRoutine, &rec_);
    }
}

DataFile::~DataFile() { filerec_release(&rec_); }

int DataFile::flush() {
    FILE *fp = rec_.stream;
    if (kwxSeek64(fp, rec_.indexpos, 0) != 0) return IO_ERR_SEEK;
    int rc = write_index(captureRoutine, &rec_, rec_.nlines, rec_.indextable);
    if (rc) return rc;
    if (kwxSeek64(fp, 0, 2) != 0) return IO_ERR_SEEK;
    int64_t size = kwxTell64(fp);
    if (kwxSeek64(fp, 6, 0) != 0) return IO_ERR_SEEK;
    const char fmt[3] = {'F', 0, 0};
    rc = kwxwriteOffset(captureRoutine, fmt, &size, rec_.offsetwidth, fp);
    fflush(fp);
    return rc;
}

void DataFile::abandon() {
    if (rec_.stream) fclose(rec_.stream);
    rec_.stream = nullptr;
}

int DataFile::write(const char *format, IO_header *h, IO_data *d) {
    int rc = write_dataset(captureRoutine, format, h, d, &rec_);
    if (rc == 0) rec_.indexpos = kwxTell64(rec_.stream);
    return rc;
}

Header::Header(const std::string &what, const std::string &where, int when,
               const std::string &datatype, int number, int blockfactor) {
    ioheader_alloc(&h);
    std::snprintf(h.what, IO_WHAT_SIZE, "%s", what.c_str());
    std::snprintf(h.where, IO_WHERE_SIZE, "%s", where.c_str());
    *h.when = when;
    *h.numattrb = 0;
    std::snprintf(h.datatype, IO_DATATYPE_SIZE, "%s", datatype.c_str());
    *h.number = number;
    *h.blockfactor = blockfactor;
}

Header::~Header() { ioheader_free(&h); }

void Data::size(int noff, int nstr, int nchar, int nint, int nreal, int ndble, int nlogl) {
    offsets.assign(size_t(noff), 0);
    strings.assign(size_t(nstr) * 80, 0);
    chars.assign(size_t(nchar), 0);
    ints.assign(size_t(nint), 0);
    reals.assign(size_t(nreal), 0);
    doubles.assign(size_t(ndble), 0);
    logicals.assign(size_t(nlogl), 0);
    int32_t n[7] = {noff, nstr, nchar, nint, nreal, ndble, nlogl};
    std::memcpy(counts, n, sizeof n);
    d.offsets = offsets.data();
    d.noffsets = &counts[0];
    d.strings = strings.data();
    d.nstrings = &counts[1];
    d.chars = chars.data();
    d.nchars = &counts[2];
    d.ints = ints.data();
    d.nints = &counts[3];
    d.reals = reals.data();
    d.nreals = &counts[4];
    d.doubles = doubles.data();
    d.ndoubles = &counts[5];
    d.logicals = logicals.data();
    d.nlogicals = &counts[6];
}

int readAt(IO_file &rec, int64_t location, IO_header *h, IO_data *d, const char *target) {
    if (kwxSeek64(rec.stream, location, 0) != 0) return IO_ERR_SEEK;
    char fmt[3] = {0, 0, 0};
    return read_located_dataset(captureRoutine, fmt, h, d, target, &rec);
}

std::vector<std::string> indexLines(const IO_file &rec) {
    std::vector<std::string> out;
    for (int i = 0; i < rec.nlines; ++i) out.emplace_back(IO_INDEX_LINE(rec.indextable, i));
    return out;
}

}  // namespace kwxtest
