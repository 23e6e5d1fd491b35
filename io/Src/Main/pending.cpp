// Placeholders for routines still being written; each returns "unknown error".
#include "io_internal.h"

extern "C" int iofmt_is_letter(int c) { (void)c; return IO_ERR_UNKNOWN; }
extern "C" int iofmt_is_live(int c) { (void)c; return IO_ERR_UNKNOWN; }
extern "C" int iofmt_is_swapped(int c) { (void)c; return IO_ERR_UNKNOWN; }
extern "C" int iofmt_is_compressed(const char *format) { (void)format; return IO_ERR_UNKNOWN; }
extern "C" int iofmt_make_native(IO_error_routine routine, char *format) { (void)routine; (void)format; return IO_ERR_UNKNOWN; }
extern "C" int kwxwriteString(IO_error_routine routine, const char *format, const char *items, int n, int perline, int width, FILE *stream) { (void)routine; (void)format; (void)items; (void)n; (void)perline; (void)width; (void)stream; return IO_ERR_UNKNOWN; }
extern "C" int kwxreadString(IO_error_routine routine, const char *format, char *items, int n, int perline, int width, FILE *stream) { (void)routine; (void)format; (void)items; (void)n; (void)perline; (void)width; (void)stream; return IO_ERR_UNKNOWN; }
extern "C" int kwxwriteIntr(IO_error_routine routine, const char *format, const int32_t *items, int n, int perline, int width, FILE *stream) { (void)routine; (void)format; (void)items; (void)n; (void)perline; (void)width; (void)stream; return IO_ERR_UNKNOWN; }
extern "C" int kwxreadIntr(IO_error_routine routine, const char *format, int32_t *items, int n, int perline, int width, FILE *stream) { (void)routine; (void)format; (void)items; (void)n; (void)perline; (void)width; (void)stream; return IO_ERR_UNKNOWN; }
extern "C" int kwxwriteReal(IO_error_routine routine, const char *format, const float *items, int n, int perline, int width, FILE *stream) { (void)routine; (void)format; (void)items; (void)n; (void)perline; (void)width; (void)stream; return IO_ERR_UNKNOWN; }
extern "C" int kwxreadReal(IO_error_routine routine, const char *format, float *items, int n, int perline, int width, FILE *stream) { (void)routine; (void)format; (void)items; (void)n; (void)perline; (void)width; (void)stream; return IO_ERR_UNKNOWN; }
extern "C" int kwxwriteDble(IO_error_routine routine, const char *format, const double *items, int n, int perline, int width, FILE *stream) { (void)routine; (void)format; (void)items; (void)n; (void)perline; (void)width; (void)stream; return IO_ERR_UNKNOWN; }
extern "C" int kwxreadDble(IO_error_routine routine, const char *format, double *items, int n, int perline, int width, FILE *stream) { (void)routine; (void)format; (void)items; (void)n; (void)perline; (void)width; (void)stream; return IO_ERR_UNKNOWN; }
extern "C" int kwxwriteLogl(IO_error_routine routine, const char *format, const char *items, int n, int perline, int width, FILE *stream) { (void)routine; (void)format; (void)items; (void)n; (void)perline; (void)width; (void)stream; return IO_ERR_UNKNOWN; }
extern "C" int kwxreadLogl(IO_error_routine routine, const char *format, char *items, int n, int perline, int width, FILE *stream) { (void)routine; (void)format; (void)items; (void)n; (void)perline; (void)width; (void)stream; return IO_ERR_UNKNOWN; }
extern "C" int kwxFormatIntField(char *destination, int width, int value) { (void)destination; (void)width; (void)value; return IO_ERR_UNKNOWN; }
extern "C" int kwxFormatCharField(char *destination, int width, char c) { (void)destination; (void)width; (void)c; return IO_ERR_UNKNOWN; }
extern "C" int kwxFormatDouble(char *destination, const char *printfformat, float value) { (void)destination; (void)printfformat; (void)value; return IO_ERR_UNKNOWN; }
extern "C" int kwxwriteOffset(IO_error_routine routine, const char *format, const int64_t *value, int width, FILE *stream) { (void)routine; (void)format; (void)value; (void)width; (void)stream; return IO_ERR_UNKNOWN; }
extern "C" int kwxreadOffset(IO_error_routine routine, const char *format, int64_t *value, FILE *stream) { (void)routine; (void)format; (void)value; (void)stream; return IO_ERR_UNKNOWN; }
extern "C" int kwxwriteHdrString(IO_error_routine routine, const char *format, const char *string, int capacity, FILE *stream) { (void)routine; (void)format; (void)string; (void)capacity; (void)stream; return IO_ERR_UNKNOWN; }
extern "C" int kwxreadHdrString(IO_error_routine routine, const char *format, char *string, int size, FILE *stream) { (void)routine; (void)format; (void)string; (void)size; (void)stream; return IO_ERR_UNKNOWN; }
extern "C" int kwxgotoIndexLocation(IO_error_routine routine, int64_t *position, int width, FILE *stream) { (void)routine; (void)position; (void)width; (void)stream; return IO_ERR_UNKNOWN; }
extern "C" int kwxIoNoop(IO_error_routine routine, void *array, int count) { (void)routine; (void)array; (void)count; return IO_ERR_UNKNOWN; }
extern "C" int kwxReadLine(char *buffer, int size, FILE *stream) { (void)buffer; (void)size; (void)stream; return IO_ERR_UNKNOWN; }
extern "C" int parseStructure(IO_error_routine routine, const char *datatype, int *nentries, int *types, int *counts) { (void)routine; (void)datatype; (void)nentries; (void)types; (void)counts; return IO_ERR_UNKNOWN; }
extern "C" int kwxWildMatch(const char *text, const char *pattern) { (void)text; (void)pattern; return IO_ERR_UNKNOWN; }
extern "C" int kwxWildMatchName(const char *text, const char *pattern) { (void)text; (void)pattern; return IO_ERR_UNKNOWN; }
extern "C" int kwxHasWildcard(const char *name) { (void)name; return IO_ERR_UNKNOWN; }
extern "C" int write_datatag(IO_error_routine routine, const char *format, FILE *stream) { (void)routine; (void)format; (void)stream; return IO_ERR_UNKNOWN; }
extern "C" int read_datatag(IO_error_routine routine, const char *format, FILE *stream) { (void)routine; (void)format; (void)stream; return IO_ERR_UNKNOWN; }
extern "C" int write_data(IO_error_routine routine, const char *format, FILE *stream, int number, const char *datatype, IO_data *data) { (void)routine; (void)format; (void)stream; (void)number; (void)datatype; (void)data; return IO_ERR_UNKNOWN; }
extern "C" int read_data(IO_error_routine routine, const char *format, FILE *stream, int number, const char *datatype, IO_data *data) { (void)routine; (void)format; (void)stream; (void)number; (void)datatype; (void)data; return IO_ERR_UNKNOWN; }
extern "C" int check_memory(IO_error_routine routine, const char *format, int number, const char *datatype, IO_data *data) { (void)routine; (void)format; (void)number; (void)datatype; (void)data; return IO_ERR_UNKNOWN; }
extern "C" int convert_data(IO_error_routine routine, int number, const char *olddatatype, const char *newdatatype, int *converted, IO_data *source, IO_data *destination) { (void)routine; (void)number; (void)olddatatype; (void)newdatatype; (void)converted; (void)source; (void)destination; return IO_ERR_UNKNOWN; }
extern "C" int write_compressed_data(IO_error_routine routine, const char *format, FILE *stream, int64_t nbytes, const char *bytes) { (void)routine; (void)format; (void)stream; (void)nbytes; (void)bytes; return IO_ERR_UNKNOWN; }
extern "C" int io_gzip(char kind, int level, int nitems, const void *input, int capacity, void *output, int *result) { (void)kind; (void)level; (void)nitems; (void)input; (void)capacity; (void)output; (void)result; return IO_ERR_UNKNOWN; }
extern "C" int io_gunzip(IO_error_routine routine, int64_t inbytes, const void *input, int64_t outbytes, void *output) { (void)routine; (void)inbytes; (void)input; (void)outbytes; (void)output; return IO_ERR_UNKNOWN; }
extern "C" int64_t kwxTell64(FILE *stream) { (void)stream; return -1; }
extern "C" int kwxSeek64(FILE *stream, int64_t offset, int mode) { (void)stream; (void)offset; (void)mode; return IO_ERR_UNKNOWN; }
extern "C" void kwxSwapBytes(void *buffer, int n) { (void)buffer; (void)n;  }
extern "C" int write_dataset(IO_error_routine routine, const char *format, IO_header *header, IO_data *data, IO_file *record) { (void)routine; (void)format; (void)header; (void)data; (void)record; return IO_ERR_UNKNOWN; }
extern "C" int write_header(IO_error_routine routine, const char *format, FILE *stream, IO_header *header) { (void)routine; (void)format; (void)stream; (void)header; return IO_ERR_UNKNOWN; }
extern "C" int read_header(IO_error_routine routine, const char *format, FILE *stream, IO_header *header) { (void)routine; (void)format; (void)stream; (void)header; return IO_ERR_UNKNOWN; }
extern "C" int read_located_dataset_start(IO_error_routine routine, char *format, IO_file *record) { (void)routine; (void)format; (void)record; return IO_ERR_UNKNOWN; }
extern "C" int read_located_dataset_start_len(IO_error_routine routine, char *format, int64_t *dslength, IO_file *record) { (void)routine; (void)format; (void)dslength; (void)record; return IO_ERR_UNKNOWN; }
extern "C" int read_located_dataset(IO_error_routine routine, char *format, IO_header *header, IO_data *data, const char *target, IO_file *record) { (void)routine; (void)format; (void)header; (void)data; (void)target; (void)record; return IO_ERR_UNKNOWN; }
extern "C" int read_located_dataset_plain(IO_error_routine routine, char *format, IO_header *header, IO_data *data, IO_file *record) { (void)routine; (void)format; (void)header; (void)data; (void)record; return IO_ERR_UNKNOWN; }
extern "C" int move_datapoints(IO_error_routine routine, const char *datatype, int records, IO_data *data) { (void)routine; (void)datatype; (void)records; (void)data; return IO_ERR_UNKNOWN; }
extern "C" int kwxwriteTag(IO_error_routine routine, const char *format, const char *tag, FILE *stream) { (void)routine; (void)format; (void)tag; (void)stream; return IO_ERR_UNKNOWN; }
extern "C" int kwxreadTag(IO_error_routine routine, const char *format, char *buffer, int n, FILE *stream) { (void)routine; (void)format; (void)buffer; (void)n; (void)stream; return IO_ERR_UNKNOWN; }
extern "C" int indextable_alloc(IO_file *record) { (void)record; return IO_ERR_UNKNOWN; }
extern "C" int insert_index(IO_error_routine routine, IO_file *record, const char *line) { (void)routine; (void)record; (void)line; return IO_ERR_UNKNOWN; }
extern "C" int insert_index_nosort(IO_error_routine routine, IO_file *record, const char *line) { (void)routine; (void)record; (void)line; return IO_ERR_UNKNOWN; }
extern "C" int write_index(IO_error_routine routine, IO_file *record, int nlines, const char *table) { (void)routine; (void)record; (void)nlines; (void)table; return IO_ERR_UNKNOWN; }
extern "C" int create_indextable(IO_error_routine routine, IO_file *record) { (void)routine; (void)record; return IO_ERR_UNKNOWN; }
extern "C" int recreate_indextable(IO_error_routine routine, IO_file *record) { (void)routine; (void)record; return IO_ERR_UNKNOWN; }
extern "C" int update_index(IO_error_routine routine, IO_file *record) { (void)routine; (void)record; return IO_ERR_UNKNOWN; }
extern "C" int update_subindex(IO_error_routine routine, IO_file *record, int n, int *removed, IO_location *located) { (void)routine; (void)record; (void)n; (void)removed; (void)located; return IO_ERR_UNKNOWN; }
extern "C" int kwxIoFailWithHeader(IO_error_routine routine, const char *message, int code, IO_header *header) { (void)routine; (void)message; (void)code; (void)header; return IO_ERR_UNKNOWN; }
extern "C" int kwxMakeIndexLine(char *line, const char *status, const char *what, const char *where, int32_t when, int64_t dslength, int64_t location) { (void)line; (void)status; (void)what; (void)where; (void)when; (void)dslength; (void)location; return IO_ERR_UNKNOWN; }
extern "C" int ioheader_alloc(IO_header *header) { (void)header; return IO_ERR_UNKNOWN; }
extern "C" void ioheader_free(IO_header *header) { (void)header;  }
extern "C" IO_data * iodata_alloc(void) {  return nullptr; }
extern "C" void iodata_init(IO_data *data) { (void)data;  }
extern "C" void iodata_delete(IO_data *data) { (void)data;  }
extern "C" void iodata_freeArrays(IO_data *data) { (void)data;  }
extern "C" int iodata_alloc_arrays(IO_error_routine routine, IO_data *data) { (void)routine; (void)data; return IO_ERR_UNKNOWN; }
extern "C" int64_t iodata_totalSize(const IO_data *data) { (void)data; return -1; }
extern "C" int iodata_liveCount(void) {  return IO_ERR_UNKNOWN; }
