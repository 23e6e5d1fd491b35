/* Line sources: the lines of a text file or of an array of strings, handed
 * out one at a time, with the line-level parsing of the tagged, sectioned
 * format of the debug control file: comment styles, <NAME> and </NAME> tags,
 * skipping a tagged section, and "key = value" / "key: value" lines.
 *
 * Every routine that fills a caller's buffer takes the buffer's size and
 * writes within it. */
#ifndef VRN_UTILITIES_SOURCE_H
#define VRN_UTILITIES_SOURCE_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct Source Source;

/* Comment styles of Source_getLine. */
enum {
    SOURCE_STYLE_ALL = 0,       /* every line is significant */
    SOURCE_STYLE_BANG = 1,      /* skip empty and white lines, and lines starting with '!' */
    SOURCE_STYLE_HASH = 2       /* skip empty and white lines, and lines whose first
                                   non-white character is '#' */
};

/* Opens path for reading; NULL (and the published error 10020 "Unable to
 * open file %s.\n") when it cannot be opened. */
Source* Source_newFile(const char* path);
/* A source over count strings, which the caller keeps alive and owns. */
Source* Source_newLines(const char* const* lines, int count);
void Source_delete(Source* source);
/* Returns the previous style; a style outside 0..2 fails an assertion. */
int Source_setStyle(Source* source, int style);

/* The next line into buffer (at most size-1 characters and a terminator),
 * or NULL at the end. A file line keeps its newline; a carriage return
 * before the newline is dropped. A line too long for the buffer comes in
 * pieces, from a file and from strings alike. */
char* Source_readLine(Source* source, char* buffer, int size);
/* 1 with the next significant line (see the comment styles) in buffer, 0 at
 * the end. */
int Source_getLine(Source* source, char* buffer, int size);

/* 0: no tag; 1: opening tag <NAME>; 2: closing tag </NAME>. The name starts
 * at line[*start] and runs to the first '>' or to the end of the line. */
int Source_parseTag(const char* line, int* start, int* length);
int Source_isOpenTag(const char* line, const char* name);
int Source_isCloseTag(const char* line, const char* name);
/* line holds an opening tag: reads significant lines into line until the
 * first closing tag of that name or the end of the source. */
void skipTag(char* line, int size, Source* source);

/* In place: mode 1 removes leading spaces, 2 trailing spaces, 3 both. Only
 * the space character counts. */
void Source_trim(char* text, int mode);
/* Splits "key = value" or "key: value" at the first ':' or '=': the key
 * without any spaces, the value from its first non-space character to the
 * end of the line less a final newline, both trimmed. Without a separator
 * the whole line is the key and the value is empty. Writes at most keySize
 * and valueSize bytes (terminator included); returns 1 when both fitted,
 * 0 when one was cut short (or on bad arguments). */
int Source_getValue(const char* line, char* key, int keySize, char* value, int valueSize);
/* Source_getValue with the key upper-cased. */
int Source_getValueUpperKey(const char* line, char* key, int keySize, char* value,
                            int valueSize);

#ifdef __cplusplus
}
#endif

#endif
