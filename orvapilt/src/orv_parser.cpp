// The ORV line parser: continuation lines, comments and white space, the
// replace directive, END, action, parameter and object lines, and the name
// rules of the grammar.
#include "orv_internal.h"

#include <cstring>
#include <new>

namespace {

bool isLetter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }

bool isNameChar(unsigned char c)
{
    return isLetter(c) || isDigit(c) || c == '\t' || c == ' ' || c == '.' || c == '[' || c == ']' ||
           c == '_' || c == '{' || c == '|' || c == '}';
}

// Trims [b, e) in place and NUL-terminates it; returns the new start.
char* trimRange(char* b, char* e)
{
    while (b < e && orv::isSpace(static_cast<unsigned char>(*b)))
        ++b;
    while (e > b && orv::isSpace(static_cast<unsigned char>(e[-1])))
        --e;
    *e = '\0';
    return b;
}

// END of a block: under a replace mark, children that the block did not
// mention again are dropped and the marks of those it did are cleared.
// enclosing is the flag word of the level around the block.
void reconcileReplacedBlock(OrvHandle* h, uint32_t enclosing)
{
    const std::string current = orv::currentPath(h);
    for (bool params : {true, false}) {
        std::vector<std::string> paths;
        try {
            if (!orv::childPaths(h, current, params, paths))
                continue;
        } catch (const std::bad_alloc&) {
            continue;
        }
        for (const std::string& p : paths) {
            OrvNode* child = static_cast<OrvNode*>(orvHashLookup(h->table, p.c_str()));
            if (!child)
                continue;  // already removed by a handler
            if (child->flags & ORV_FLAG_REPLACE)
                child->flags &= ~ORV_FLAG_REPLACE;
            else if (params)
                orv::removeExact(h, p);
            else
                orv::deleteTreeExact(h, p);
        }
    }
    if (!(enclosing & ORV_FLAG_REPLACE))
        if (OrvNode* self = static_cast<OrvNode*>(orvHashLookup(h->table, current.c_str())))
            self->flags &= ~ORV_FLAG_REPLACE;
}

const char* applyLine(OrvHandle* h, std::string& text, uint32_t flags)
{
    // Normalisation: comment, white-space runs, ends.
    orvStripComment(&text[0]);
    orvCollapseSpace(&text[0]);
    orvTrim(&text[0]);
    text.resize(std::strlen(text.c_str()));

    if (text[0] == '!')
        return "parseORVData: unable to handle power syntax with this version of the parser";
    if (text.empty())
        return nullptr;
    char* rest = &text[0];
    bool replace = false;
    if (text[0] == '&') {
        if (text.compare(1, 8, "replace ") != 0)
            return orv::orvSetErrorH(h, "parseORVLineH: unknown directive near \"%s\"", text.c_str());
        replace = true;
        rest += 9;
    }

    if (h->flagStack.empty()) {
        try {
            h->flagStack.assign(10, 0);
        } catch (const std::bad_alloc&) {
            return "parseORVLineH: Memory error initialising flag stack";
        }
    }
    if (h->depth == 0)
        h->flagStack[0] = flags;

    if (std::strcmp(rest, "END") == 0) {
        if (h->depth == 0)
            return "parseORVLineH: unmatched END";
        if (h->flagStack[h->depth] & ORV_FLAG_REPLACE)
            reconcileReplacedBlock(h, h->flagStack[h->depth - 1]);
        // A handler called during the reconciliation may have closed blocks
        // itself; the depth never goes below the top level.
        if (h->depth > 0) {
            h->depth--;
            orv::popExact(h);
        }
        return nullptr;
    }
    if (rest[0] == '>')
        return orvRunActionLine(h, text.c_str());

    const char* type = nullptr;
    const char* name;
    const char* value = nullptr;
    int kind;
    if (char* eq = std::strchr(rest, '=')) {
        char* paramName = trimRange(rest, eq);
        if (!*paramName)
            return "invalid parameter name: must be non-empty.";
        if (const char* err = orvCheckParamName(h, paramName))
            return err;
        char* v = trimRange(eq + 1, eq + 1 + std::strlen(eq + 1));
        if (const char* err = orvCheckParamValue(h, v))
            return err;
        name = paramName;
        value = v;
        kind = ORV_KIND_PARAM;
    } else if (char* colon = std::strchr(rest, ':')) {
        char* t = trimRange(rest, colon);
        if (!*t)
            return "invalid object type: must be non-empty.";
        if (const char* err = orvCheckObjectType(h, t))
            return err;
        char* n = trimRange(colon + 1, colon + 1 + std::strlen(colon + 1));
        if (!*n || std::strcmp(n, t) == 0) {
            kind = ORV_KIND_SINGLETON;
        } else {
            if (const char* err = orvCheckObjectName(h, n))
                return err;
            kind = ORV_KIND_OBJECT;
        }
        type = t;
        name = n;
    } else {
        return orv::orvSetErrorH(h, "parseORVLineH: syntax error near \"%s\"", text.c_str());
    }

    uint32_t levelFlags;
    if (kind == ORV_KIND_PARAM) {
        levelFlags = h->flagStack[h->depth];
    } else {
        if (h->depth + 1 >= static_cast<int>(h->flagStack.size())) {
            try {
                h->flagStack.resize(h->flagStack.size() + 10, 0);
            } catch (const std::bad_alloc&) {
                return "parseORVLineH: memory error extending flag stack";
            }
        }
        levelFlags = h->flagStack[h->depth] | (replace ? ORV_FLAG_REPLACE : 0);
        h->depth++;
        h->flagStack[h->depth] = levelFlags;
    }

    orv::UpdateStatus status;
    std::string path;
    OrvNode* parent = orv::currentNode(h);
    OrvNode* done = nullptr;
    if (parent)
        done = orv::updateObject(h, parent, type, name, value, kind, levelFlags, &status, &path);
    else if (!h->root)  // the first line of a fresh handle: the root comes with the update
        done = orv::updateObject(h, nullptr, type, name, value, kind, levelFlags, &status, &path);
    else
        status = orv::UpdateStatus::NoParent;
    if (!done) {
        // The block never opened: leave the depth as it was, so that an
        // unwind pops no path that this line did not push.
        if (kind != ORV_KIND_PARAM)
            h->depth--;
        if (status == orv::UpdateStatus::KindClash)
            return orv::orvSetErrorH(h, "parseORVLineH: parameter and object share the path \"%s\"",
                                 path.c_str());
        if (status == orv::UpdateStatus::TooLong)
            // The refused path itself: the line's text was cut into its
            // parts by now.
            return orv::orvSetErrorH(h, "parseORVLineH: path longer than %d characters near \"%s\"",
                                 static_cast<int>(orv::kMaxPathLength), path.c_str());
        return "parseORVLineH: orvUpdateObject failed";
    }
    if (replace) {
        // A copy: a handler may push or pop paths, which moves the stack.
        const std::string current = orv::currentPath(h);
        orvNotifyReplace(h, current.c_str());
    }
    return nullptr;
}

const char* checkName(OrvHandle* h, const char* label, const char* name)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(name);
    if (!(isLetter(p[0]) || p[0] == '_' || p[0] == '%'))
        return orv::orvSetErrorH(h, "invalid %s \"%s\": leading character must be alphabetic or '_'",
                             label, name);
    for (++p; *p; ++p)
        if (!isNameChar(*p))
            return orv::orvSetErrorH(h, "invalid %s \"%s\": contains invalid character '%c'", label,
                                 name, static_cast<int>(*p));
    return nullptr;
}

}  // namespace

extern "C" {

const char* orvCheckName(OrvHandle* handle, const char* label, const char* name)
{
    if (!handle || !label || !name)
        return "orvCheckName: Invalid arguments";
    return checkName(handle, label, name);
}

const char* orvCheckParamName(OrvHandle* handle, const char* name)
{
    return orvCheckName(handle, "parameter name", name);
}

const char* orvCheckObjectType(OrvHandle* handle, const char* type)
{
    return orvCheckName(handle, "object type", type);
}

const char* orvCheckObjectName(OrvHandle* handle, const char* name)
{
    return orvCheckName(handle, "object name", name);
}

const char* orvCheckParamValue(OrvHandle* handle, const char* value)
{
    if (!handle || !value)
        return "orvCheckParamValue: Invalid arguments";
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(value); *p; ++p)
        if (*p < 32 && *p != '\t')
            return orv::orvSetErrorH(handle,
                                 "invalid parameter value \"%s\": control character number %d is "
                                 "not allowed.",
                                 value, static_cast<int>(*p));
    return nullptr;
}

void orvTrim(char* text)
{
    if (!text)
        return;
    size_t n = std::strlen(text);
    char* b = trimRange(text, text + n);
    if (b != text)
        std::memmove(text, b, std::strlen(b) + 1);
}

void orvCollapseSpace(char* text)
{
    if (!text)
        return;
    char* out = text;
    for (const char* p = text; *p;) {
        if (orv::isSpace(static_cast<unsigned char>(*p))) {
            while (orv::isSpace(static_cast<unsigned char>(*p)))
                ++p;
            *out++ = ' ';
        } else {
            *out++ = *p++;
        }
    }
    *out = '\0';
}

// A line starting with '#' is all comment; otherwise the comment starts at
// the first '#' not preceded by a backslash (which stays in the text).
void orvStripComment(char* text)
{
    if (!text)
        return;
    if (text[0] == '#') {
        text[0] = '\0';
        return;
    }
    for (char* p = text; *p; ++p)
        if (*p == '#' && p > text && p[-1] != '\\') {
            *p = '\0';
            return;
        }
}

const char* parseORVLineH(OrvHandle* handle, const char* line, uint32_t flags)
{
    if (!handle || !line)
        return "parseORVLineH: Invalid arguments";
    // Continuation: the trimmed line joins the pending text; a final
    // backslash (dropped) keeps it pending.
    const char* b = line;
    while (orv::isSpace(static_cast<unsigned char>(*b)))
        ++b;
    size_t n = std::strlen(b);
    while (n && orv::isSpace(static_cast<unsigned char>(b[n - 1])))
        --n;
    std::string text;
    try {
        handle->pending.append(b, n);
        if (!handle->pending.empty() && handle->pending.back() == '\\') {
            handle->pending.pop_back();
            return nullptr;
        }
        text.swap(handle->pending);  // the pending text is now dealt with
    } catch (const std::bad_alloc&) {
        handle->pending.clear();
        return "parseORVLineH: Memory allocation error";
    }
    const char* result;
    try {
        result = applyLine(handle, text, flags);
    } catch (const std::bad_alloc&) {
        result = "parseORVLineH: Memory allocation error";
    }
    // Hand the buffer back for the next line, unless a handler started a
    // continuation of its own meanwhile.
    if (handle->pending.empty()) {
        text.clear();
        handle->pending.swap(text);
    }
    return result;
}

}  // extern "C"
