// Datatype strings ("INTR", "STRI:12", "STRC{INTR:3 REAL:2}") and the
// wildcard matcher used to search dataset names.
#include "io_internal.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char *const kTypeNames[6] = {"STRI", "CHAR", "INTR", "REAL", "DBLE", "LOGL"};

// Largest count accepted for one entry: the string slots hold 80
// characters, and counts beyond this would overflow record sizes.
const int kMaxCount = 1 << 24;

int parseCount(const char *text, int *count) {
    char *end = nullptr;
    long v = strtol(text, &end, 10);
    if (v < 0 || v > kMaxCount) return -1;
    *count = static_cast<int>(v);
    return 0;
}

}  // namespace

// Parses a datatype into at most IO_MAXENT entries. Counts are checked: a
// negative count, and a string count of 0 or above 80 (strings live in
// 80-character slots), are refused.
extern "C" int parseStructure(IO_error_routine routine, const char *datatype, int *nentries,
                              int *types, int *counts) {
    if (!datatype || !nentries || !types || !counts) {
        kwxIoError(routine, "parseStructure: data type string is wrong\n");
        return IO_ERR_PARSE;
    }
    *nentries = 1;
    if (strncmp(datatype, "STRC", 4) != 0) {
        for (int t = 0; t < 6; ++t) {
            if (strncmp(datatype, kTypeNames[t], 4) != 0) continue;
            types[0] = t;
            counts[0] = 1;
            if (t == IO_STRI) {
                counts[0] = 80;
                if (datatype[4] == ':') {
                    int c;
                    if (parseCount(datatype + 5, &c) != 0 || c < 1 || c > IO_STRING_LEN) {
                        kwxIoError(routine, "parseStructure: bad string length in \"%s\"", datatype);
                        return IO_ERR_PARSE;
                    }
                    counts[0] = c;
                }
            } else if (datatype[4] == ':') {
                kwxIoError(routine,
                           "parseStructure: count forbidden for non-string type \"%s\" outside structure",
                           datatype);
                return IO_ERR_PARSE;
            }
            return 0;
        }
        kwxIoError(routine, "parseStructure: unrecognised type code \"%s\"", datatype);
        return IO_ERR_PARSE;
    }
    const char *open = strchr(datatype, '{');
    if (!open) {
        kwxIoError(routine, "parseStructure: missing '{' in structure string\n");
        return IO_ERR_PARSE;
    }
    std::string inside(open + 1, strnlen(open + 1, 255));
    size_t close = inside.find('}');
    if (close == std::string::npos) {
        kwxIoError(routine, "parseStructure: missing '}' in structure string\n");
        return IO_ERR_PARSE;
    }
    inside.resize(close);
    int n = 0;
    size_t pos = 0;
    while (true) {
        while (pos < inside.size() && inside[pos] == ' ') ++pos;
        if (pos >= inside.size()) break;
        size_t end = inside.find(' ', pos);
        if (end == std::string::npos) end = inside.size();
        std::string entry = inside.substr(pos, end - pos);
        pos = end;
        int type = -1;
        for (int t = 0; t < 6; ++t) {
            if (entry.size() >= 5 && entry.compare(0, 4, kTypeNames[t]) == 0 && entry[4] == ':') {
                type = t;
                break;
            }
        }
        if (type < 0) {
            kwxIoError(routine, "parseStructure: unrecognised type name or missing count: \"%s\"",
                       entry.c_str());
            return IO_ERR_PARSE;
        }
        int c;
        if (parseCount(entry.c_str() + 5, &c) != 0 || (type == IO_STRI && (c < 1 || c > IO_STRING_LEN))) {
            kwxIoError(routine, "parseStructure: bad count in entry \"%s\"", entry.c_str());
            return IO_ERR_PARSE;
        }
        if (n >= IO_MAXENT) {
            kwxIoError(routine, "parseStructure: the entries of the datatype is more than IO_MAXENT\n");
            return IO_ERR_MEMORY;
        }
        types[n] = type;
        counts[n] = c;
        ++n;
    }
    if (n == 0) {
        kwxIoError(routine, "parseStructure: data type string is wrong\n");
        return IO_ERR_PARSE;
    }
    *nentries = n;
    return 0;
}

// Matches text against a pattern of '*', '?', '[...]' classes (with '^'
// negation and ranges) and '\' escapes. 1 match, 0 no match, -1 the text ran
// out (which stops the '*' search early). A class without its closing ']'
// runs to the end of the pattern; a trailing '\' matches a literal '\'.
extern "C" int kwxWildMatch(const char *text, const char *pattern) {
    if (!text || !pattern) return 0;
    const signed char *t = reinterpret_cast<const signed char *>(text);
    const signed char *p = reinterpret_cast<const signed char *>(pattern);
    if (!*p) return *t ? 0 : 1;
    for (; *p; ++t, ++p) {
        if (!*t && *p != '*') return -1;
        switch (*p) {
        case '*': {
            while (*p == '*') ++p;
            if (!*p) return 1;
            for (; *t; ++t) {
                int r = kwxWildMatch(reinterpret_cast<const char *>(t), reinterpret_cast<const char *>(p));
                if (r != 0) return r;
            }
            return -1;
        }
        case '?':
            break;
        case '[': {
            ++p;
            bool negate = false;
            if (*p == '^') {
                negate = true;
                ++p;
            }
            bool member = false;
            if (*p) {
                // The first class character is literal, ']' and '-' too.
                signed char prev = *p;
                if (*t == prev) member = true;
                ++p;
                while (*p && *p != ']') {
                    if (*p == '-' && p[1] && p[1] != ']') {
                        signed char hi = p[1];
                        if (*t >= prev && *t <= hi) member = true;
                        prev = hi;
                        p += 2;
                    } else {
                        if (*t == *p) member = true;
                        prev = *p;
                        ++p;
                    }
                }
            }
            if (member == negate) return 0;
            if (!*p) return t[1] ? 0 : 1;   // unterminated class ends the pattern
            break;
        }
        case '\\':
            if (p[1]) ++p;
            if (*t != *p) return 0;
            break;
        default:
            if (*t != *p) return 0;
            break;
        }
    }
    return *t ? 0 : 1;
}

extern "C" int kwxWildMatchName(const char *text, const char *pattern) {
    if (!text || !pattern) return 0;
    if (strcmp(pattern, "*") == 0) return 1;
    return kwxWildMatch(text, pattern) == 1 ? 1 : 0;
}

extern "C" int kwxHasWildcard(const char *name) {
    if (!name) return 0;
    return strpbrk(name, "*?[]") != nullptr ? 1 : 0;
}
