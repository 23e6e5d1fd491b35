#include "utilities/source.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "errors/error.h"
#include "errors/error_manager.h"
#include "support/memory.h"

struct Source {
    FILE* file;                 /* NULL for the in-memory form */
    const char* const* lines;   /* in-memory form: the caller's strings */
    int count;
    int next;                   /* index of the next string to hand out */
    int offset;                 /* how much of lines[next] went out in earlier pieces */
    int style;
};

namespace {

bool isWhite(const char* text) {
    for (; *text; ++text) {
        if (!std::isspace(static_cast<unsigned char>(*text))) return false;
    }
    return true;
}

const char* skipWhite(const char* text) {
    while (*text && std::isspace(static_cast<unsigned char>(*text))) ++text;
    return text;
}

bool skippedByStyle(const char* line, int style) {
    switch (style) {
    case SOURCE_STYLE_BANG:
        return line[0] == '!' || isWhite(line);
    case SOURCE_STYLE_HASH:
        return *skipWhite(line) == '#' || isWhite(line);
    default:
        return false;
    }
}

/* Reads a file line the way a text-mode stream on the system that writes
 * CRLF files would: "\r\n" comes out as "\n", so that values read from a
 * control file written there carry no stray carriage return. */
char* readFileLine(FILE* file, char* buffer, int size) {
    if (!std::fgets(buffer, size, file)) return nullptr;
    size_t len = std::strlen(buffer);
    if (len >= 2 && buffer[len - 2] == '\r' && buffer[len - 1] == '\n') {
        buffer[len - 2] = '\n';
        buffer[len - 1] = '\0';
    } else if (len >= 1 && buffer[len - 1] == '\r') {
        /* The buffer filled up right after the carriage return. */
        int c = std::getc(file);
        if (c == '\n') buffer[len - 1] = '\n';
        else if (c != EOF) std::ungetc(c, file);
    }
    return buffer;
}

/* Copies at most size-1 characters of text[0..length) and a terminator;
 * false when text did not fit. */
bool copyBounded(char* out, int size, const char* text, size_t length) {
    if (size <= 0) return false;
    size_t room = static_cast<size_t>(size - 1);
    size_t n = length < room ? length : room;
    std::memcpy(out, text, n);
    out[n] = '\0';
    return n == length;
}

}  // namespace

extern "C" {

Source* Source_newFile(const char* path) {
    auto* source = static_cast<Source*>(vrnCalloc(static_cast<int>(sizeof(Source)), 0, "Source_newFile"));
    source->file = path ? std::fopen(path, "re") : nullptr;
    struct stat info;
    if (source->file && fstat(fileno(source->file), &info) == 0 && S_ISDIR(info.st_mode)) {
        /* Opening a directory for reading succeeds here, but it holds no text. */
        std::fclose(source->file);
        source->file = nullptr;
    }
    if (!source->file) {
        vrnError* error = vrnError_new(VRN_U_INVALID_INPUT, "Source_newFile", __FILE__, __LINE__);
        vrnError_addMessage(error, "Unable to open file %s.\n", path ? path : "(null)");
        vrnError_publish(error);
        vrnFree(source, "Source_newFile");
        return nullptr;
    }
    return source;
}

Source* Source_newLines(const char* const* lines, int count) {
    auto* source = static_cast<Source*>(vrnCalloc(static_cast<int>(sizeof(Source)), 0, "Source_newLines"));
    source->lines = lines;
    source->count = lines && count > 0 ? count : 0;
    return source;
}

void Source_delete(Source* source) {
    if (!source) return;
    if (source->file) std::fclose(source->file);
    vrnFree(source, "Source_delete");
}

int Source_setStyle(Source* source, int style) {
    VRN_ASSERT("Source_setStyle", !(style < 0 || style > 2));
    int previous = source->style;
    source->style = style;
    return previous;
}

char* Source_readLine(Source* source, char* buffer, int size) {
    /* With room for the terminator only, no progress could ever be made. */
    if (!source || !buffer || size < 2) return nullptr;
    if (source->file) return readFileLine(source->file, buffer, size);

    while (source->next < source->count) {
        const char* line = source->lines[source->next];
        if (!line) line = "";
        const char* rest = line + source->offset;
        size_t len = std::strlen(rest);
        size_t room = static_cast<size_t>(size - 1);
        if (len > room) {
            std::memcpy(buffer, rest, room);
            buffer[room] = '\0';
            source->offset += static_cast<int>(room);
            return buffer;
        }
        std::memcpy(buffer, rest, len + 1);
        source->offset = 0;
        ++source->next;
        return buffer;
    }
    return nullptr;
}

int Source_getLine(Source* source, char* buffer, int size) {
    while (Source_readLine(source, buffer, size)) {
        if (!skippedByStyle(buffer, source->style)) return 1;
    }
    return 0;
}

int Source_parseTag(const char* line, int* start, int* length) {
    if (!line) return 0;
    const char* p = skipWhite(line);
    if (*p != '<') return 0;
    int kind = 1;
    ++p;
    if (*p == '/') {
        kind = 2;
        ++p;
    }
    const char* end = std::strchr(p, '>');
    if (!end) end = p + std::strlen(p);
    if (start) *start = static_cast<int>(p - line);
    if (length) *length = static_cast<int>(end - p);
    return kind;
}

static int isTag(const char* line, const char* name, int wanted) {
    int start = 0;
    int length = 0;
    if (!name || Source_parseTag(line, &start, &length) != wanted) return 0;
    return static_cast<size_t>(length) == std::strlen(name) &&
           std::strncmp(line + start, name, static_cast<size_t>(length)) == 0;
}

int Source_isOpenTag(const char* line, const char* name) { return isTag(line, name, 1); }

int Source_isCloseTag(const char* line, const char* name) { return isTag(line, name, 2); }

void skipTag(char* line, int size, Source* source) {
    int start = 0;
    int length = 0;
    std::string name;
    if (Source_parseTag(line, &start, &length) != 0) name.assign(line + start, static_cast<size_t>(length));
    while (Source_getLine(source, line, size)) {
        if (Source_isCloseTag(line, name.c_str())) return;
    }
}

void Source_trim(char* text, int mode) {
    if (!text) return;
    if (mode & 1) {
        size_t lead = std::strspn(text, " ");
        if (lead > 0) std::memmove(text, text + lead, std::strlen(text + lead) + 1);
    }
    if (mode & 2) {
        size_t len = std::strlen(text);
        while (len > 0 && text[len - 1] == ' ') --len;
        text[len] = '\0';
    }
}

int Source_getValue(const char* line, char* key, int keySize, char* value, int valueSize) {
    if (!line || !key || !value || keySize <= 0 || valueSize <= 0) return 0;
    size_t len = std::strlen(line);
    if (len > 0 && line[len - 1] == '\n') --len;

    std::string keyText;
    size_t i = 0;
    for (; i < len && line[i] != ':' && line[i] != '='; ++i) {
        if (line[i] != ' ') keyText += line[i];
    }
    std::string valueText;
    if (i < len) {
        ++i;
        while (i < len && line[i] == ' ') ++i;
        valueText.assign(line + i, len - i);
    }
    while (!valueText.empty() && valueText.back() == ' ') valueText.pop_back();

    bool keyFits = copyBounded(key, keySize, keyText.data(), keyText.size());
    bool valueFits = copyBounded(value, valueSize, valueText.data(), valueText.size());
    return keyFits && valueFits ? 1 : 0;
}

int Source_getValueUpperKey(const char* line, char* key, int keySize, char* value, int valueSize) {
    int result = Source_getValue(line, key, keySize, value, valueSize);
    if (key && keySize > 0) {
        for (char* p = key; *p; ++p) *p = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
    }
    return result;
}

}  // extern "C"
