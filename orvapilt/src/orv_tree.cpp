// The ORV object tree: nodes, path forms and their normalisation, the
// directory stack, the tree update behind every parameter and object line,
// validity bits, queries and deletion.
#include "orv_internal.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

const char* const kKindNames[] = {"None", "Param", "Object", "Singleton"};

size_t textSize(const char* s) { return s ? std::strlen(s) + 1 : 0; }

// A node and its texts are one allocation, so a node exists whole or not at
// all. A value replaced later is allocated on its own.
OrvNode* makeNode(const char* type, const char* name, const char* value, int kind, uint32_t flags)
{
    const char* kindName = kind >= 0 && kind <= 3 ? kKindNames[kind] : kKindNames[0];
    size_t descSize = std::strlen(kindName) + 1 + std::strlen(type) + 1;
    size_t total = sizeof(OrvNode) + textSize(type) + textSize(name) + textSize(value) + descSize;
    char* block = static_cast<char*>(std::malloc(total));
    if (!block)
        return nullptr;
    OrvNode* n = reinterpret_cast<OrvNode*>(block);
    std::memset(n, 0, sizeof *n);
    char* p = block + sizeof(OrvNode);
    auto place = [&p](const char* s) -> char* {
        if (!s)
            return nullptr;
        size_t len = std::strlen(s) + 1;
        char* at = p;
        std::memcpy(at, s, len);
        p += len;
        return at;
    };
    n->type = place(type);
    n->name = place(name);
    n->value = place(value);
    n->descriptor = p;
    std::strcpy(p, kindName);
    std::strcat(p, ":");
    std::strcat(p, type);
    n->kind = kind;
    n->flags = flags;
    n->valueInBlock = true;
    return n;
}

void freeNode(OrvNode* n)
{
    if (!n->valueInBlock)
        std::free(n->value);
    std::free(n);
}

OrvNode* lookup(OrvHandle* h, const std::string& path)
{
    return static_cast<OrvNode*>(orvHashLookup(h->table, path.c_str()));
}

bool isSep(char c) { return c == '/' || c == '\\'; }

// Removes each ".." component together with the component before it, in one
// pass: the result equals removing them one at a time and searching again
// from the point of each removal. The removal takes the separator in front
// of the climbed-over component, so the one after the ".." joins what is
// left to what follows; it is written as '/' whichever it was, since only
// '/' separates the components of a stored path and a full path must keep
// its leading '/' ("/x\..\y" is "/y", not "\y").
void resolveDots(std::string& s)
{
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        if (s[i] == '.' && i + 1 < s.size() && s[i + 1] == '.' && !out.empty() && isSep(out.back()) &&
            (i + 2 == s.size() || isSep(s[i + 2]))) {
            size_t sep = out.size() - 1;
            size_t start = 0;
            for (size_t k = sep; k > 0; --k)
                if (isSep(out[k - 1])) {
                    start = k - 1;
                    break;
                }
            out.resize(start);
            i += 2;
            if (i < s.size()) {
                out += '/';
                ++i;
            }
            continue;
        }
        out += s[i++];
    }
    s.swap(out);
}

void normalise(std::string& s)
{
    size_t b = 0, e = s.size();
    while (b < e && orv::isSpace(static_cast<unsigned char>(s[b])))
        ++b;
    while (e > b && orv::isSpace(static_cast<unsigned char>(s[e - 1])))
        --e;
    if (e - b < 2)
        return;
    std::string in = s.substr(b, e - b);
    in += '/';  // end marker
    std::string o;
    o.reserve(in.size());
    auto at = [&in](size_t i) { return in[i] == '\t' ? ' ' : in[i]; };
    for (size_t i = 0; i < in.size(); ++i) {
        char c = at(i);
        char last = o.empty() ? '\0' : o.back();
        if (c == ' ') {
            char next = i + 1 < in.size() ? at(i + 1) : '\0';
            if (next == ' ' || next == '/' || next == ':' || last == '/' || last == ':')
                continue;
        } else if (c == '/') {
            if (last == ':') {
                o.pop_back();
                last = o.empty() ? '\0' : o.back();
            }
            if (last == '/')
                continue;
        } else if (c == ':') {
            if (last == '/' || last == ':')
                continue;
        }
        o += c;
    }
    // "T:T" components are the singleton "T".
    std::string r;
    r.reserve(o.size());
    r += o[0];
    size_t pos = 1;
    while (pos < o.size()) {
        size_t end = o.find('/', pos);
        if (end == std::string::npos)
            end = o.size();
        // The colon is looked for within this component only: a search
        // running on to the end would make long paths cost their square.
        const void* hit = std::memchr(o.data() + pos, ':', end - pos);
        size_t colon = hit ? static_cast<size_t>(static_cast<const char*>(hit) - o.data()) : std::string::npos;
        if (colon != std::string::npos && o.compare(pos, colon - pos, o, colon + 1, end - colon - 1) == 0)
            r.append(o, pos, colon - pos);
        else
            r.append(o, pos, end - pos);
        if (end < o.size())
            r += '/';
        pos = end + 1;
    }
    if (r.size() >= 3)  // drop the end marker unless that leaves less than 2
        r.pop_back();
    s.swap(r);
}

std::string fullPath(OrvHandle* h, const char* path)
{
    std::string s;
    if (path[0] == '/') {
        s = path;
    } else {
        const char* rel = path;
        if (std::strcmp(rel, ".") == 0)
            rel = "";
        else if (rel[0] == '.' && isSep(rel[1]))
            rel += 2;
        s = orv::currentPath(h);
        if (*rel && !(s.size() && s.back() == '/'))
            s += '/';
        s += rel;
    }
    resolveDots(s);
    if (s.empty())
        s = "/";  // climbed above the root
    normalise(s);
    return s;
}

void setValidNode(OrvNode* node, int mode, bool propagate)
{
    if (mode == 1) {
        node->flags |= ORV_FLAG_VALID1;
    } else if (mode == 2) {
        node->flags |= ORV_FLAG_VALID2;
    } else {
        node->flags &= ~ORV_FLAG_VALID1;
        if (!propagate)
            return;
        OrvNode* p = node->parent;
        if (node->kind == ORV_KIND_PARAM && p) {
            p->flags &= ~ORV_FLAG_VALID1;
            p = p->parent;
        }
        for (; p; p = p->parent)
            p->flags &= ~ORV_FLAG_VALID2;
    }
}

void unlink(OrvNode* node)
{
    OrvNode* parent = node->parent;
    if (node->prevSibling)
        node->prevSibling->nextSibling = node->nextSibling;
    else
        parent->firstChild = node->nextSibling;
    if (node->nextSibling)
        node->nextSibling->prevSibling = node->prevSibling;
    else
        parent->lastChild = node->prevSibling;
    parent->childCount--;
    node->parent = node->prevSibling = node->nextSibling = nullptr;
}

// Labels of the children of the node at path, parameters and/or objects.
const char* childList(OrvHandle* h, const char* path, bool objects, bool params, int* count,
                      char*** list)
{
    if (!h || !path || !count || !list)
        return "getChildObjectList: Invalid arguments";
    try {
        std::string full = fullPath(h, path);
        OrvNode* node = lookup(h, full);
        if (!node)
            return orv::orvSetErrorH(h, "getChildObjectList: path \"%s\" does not exist", full.c_str());
        std::vector<std::string> labels;
        for (OrvNode* c = node->firstChild; c; c = c->nextSibling) {
            if (c->kind == ORV_KIND_PARAM ? !params : !objects)
                continue;
            labels.emplace_back();
            orv::appendComponent(labels.back(), c);
        }
        *count = 0;
        *list = nullptr;
        if (labels.empty())
            return nullptr;
        char** out = static_cast<char**>(std::calloc(labels.size() + 1, sizeof(char*)));
        if (!out)
            return "getChildObjectList: error allocating return array";
        for (size_t i = 0; i < labels.size(); ++i)
            if (!(out[i] = orv::copyText(labels[i]))) {
                orvFreeStringArray(out);
                return "getChildObjectList: error allocating return array";
            }
        *count = static_cast<int>(labels.size());
        *list = out;
        return nullptr;
    } catch (const std::bad_alloc&) {
        return "getChildObjectList: error allocating return array";
    }
}

// Removes what stands at path (relative paths from the current one) with
// remove, once it is known to be there; notFound otherwise.
const char* removeFound(OrvHandle* handle, const char* path, const char* notFound,
                        const char* (*remove)(OrvHandle*, const std::string&))
{
    if (!handle || !path)
        return notFound;
    try {
        std::string full = fullPath(handle, path);
        if (!lookup(handle, full))
            return notFound;
        return remove(handle, full);
    } catch (const std::bad_alloc&) {
        return notFound;
    }
}

}  // namespace

namespace orv {

const std::string& currentPath(OrvHandle* h) { return h->dirStack.back().path; }

OrvNode* currentNode(OrvHandle* h)
{
    DirEntry& top = h->dirStack.back();
    if (!top.node || top.stamp != h->removals) {
        top.node = lookup(h, top.path);
        top.stamp = h->removals;
    }
    return top.node;
}

void pushExact(OrvHandle* h, std::string path, OrvNode* node, const HashState* state)
{
    h->dirStack.push_back(DirEntry{std::move(path), node, h->removals, state ? *state : HashState()});
}

void popExact(OrvHandle* h)
{
    if (h->dirStack.size() > 1)
        h->dirStack.pop_back();
}

bool orvCreateRootH(OrvHandle* h)
{
    if (!h->table && !(h->table = orvHashCreate(1)))
        return false;
    if (h->root)
        return true;
    OrvNode* root = makeNode("/", nullptr, nullptr, ORV_KIND_OBJECT, 0);
    if (!root)
        return false;
    if (!orvHashInsert(h->table, "/", root)) {
        freeNode(root);
        return false;
    }
    h->root = root;
    return true;
}

// Frees a whole subtree without recursion: children are spliced into the
// list of nodes still to free.
void freeTree(OrvNode* root)
{
    if (!root)
        return;
    root->nextSibling = nullptr;
    for (OrvNode* list = root; list;) {
        OrvNode* n = list;
        list = n->nextSibling;
        if (n->firstChild) {
            n->lastChild->nextSibling = list;
            list = n->firstChild;
        }
        freeNode(n);
    }
}

void appendComponent(std::string& out, const OrvNode* node)
{
    if (node->kind == ORV_KIND_PARAM) {
        if (node->name)
            out += node->name;
        return;
    }
    out += node->type;
    if (node->name && *node->name) {
        out += ':';
        out += node->name;
    }
}

void appendChildPath(std::string& out, const std::string& parentPath, const OrvNode* node)
{
    if (parentPath != "/")
        out += parentPath;
    out += '/';
    appendComponent(out, node);
}

OrvNode* updateObject(OrvHandle* h, OrvNode* parent, const char* type, const char* name,
                      const char* value, int kind, uint32_t flags, UpdateStatus* status,
                      std::string* pathOut)
{
    *status = UpdateStatus::NoMemory;
    if (kind < ORV_KIND_PARAM || kind > ORV_KIND_SINGLETON || (kind == ORV_KIND_PARAM && !name) ||
        (kind != ORV_KIND_PARAM && !type)) {
        *status = UpdateStatus::NoParent;
        return nullptr;
    }
    if (!orvCreateRootH(h))
        return nullptr;
    if (!parent && !(parent = currentNode(h))) {
        *status = UpdateStatus::NoParent;
        return nullptr;
    }
    if (kind != ORV_KIND_PARAM && name && std::strcmp(type, name) == 0) {
        name = nullptr;
        kind = ORV_KIND_SINGLETON;
    }
    DirEntry& top = h->dirStack.back();
    const std::string& cur = top.path;
    std::string local;
    std::string& path = pathOut ? *pathOut : local;
    path.clear();
    if (cur != "/")
        path += cur;
    const size_t prefix = path.size();
    path += '/';
    if (kind == ORV_KIND_PARAM) {
        path += name;
    } else if (*type) {
        path += type;
        if (name && *name) {
            path += ':';
            path += name;
        }
    }
    if (path.size() > kMaxPathLength) {
        *status = UpdateStatus::TooLong;
        return nullptr;
    }

    orvHashReserve(h->table, 0);
    // The hash of the path continues the one of the current path, kept with
    // its dir-stack entry, so each line hashes only its own name.
    HashState state;
    uint32_t index, check;
    const bool incremental = h->table->hash == orvHashString && h->table->size >= 2;
    if (incremental) {
        if (top.state.m != h->table->size) {
            hashBegin(top.state, h->table->size);
            hashFeed(top.state, path.data(), prefix);
        }
        state = top.state;
        hashFeed(state, path.data() + prefix, path.size() - prefix);
        index = static_cast<uint32_t>(state.h);
        check = state.check;
    } else {
        index = h->table->hash(h->table->size, path.c_str());
        check = hashCheck(path.c_str());
    }
    OrvHashEntry* entry = orv::hashFind(h->table, path.c_str(), index, check);
    OrvNode* node = entry ? static_cast<OrvNode*>(entry->value) : nullptr;
    bool created = false, changed = false;
    char* oldValue = nullptr;
    bool oldInBlock = false;
    if (!node) {
        node = kind == ORV_KIND_PARAM ? makeNode("String", name, value, kind, flags)
                                      : makeNode(type, name, nullptr, kind, flags);
        if (!node)
            return nullptr;
        if (!orv::hashInsertNew(h->table, path.c_str(), node, index, check)) {
            freeNode(node);
            return nullptr;
        }
        node->parent = parent;
        node->prevSibling = parent->lastChild;
        if (parent->lastChild)
            parent->lastChild->nextSibling = node;
        else
            parent->firstChild = node;
        parent->lastChild = node;
        parent->childCount++;
        created = true;
    } else {
        if ((node->kind == ORV_KIND_PARAM) != (kind == ORV_KIND_PARAM)) {
            *status = UpdateStatus::KindClash;
            return nullptr;
        }
        if (kind == ORV_KIND_PARAM) {
            if (!(node->value && value && std::strcmp(node->value, value) == 0)) {
                char* copy = nullptr;
                if (value) {
                    size_t n = std::strlen(value) + 1;
                    if (!(copy = static_cast<char*>(std::malloc(n))))
                        return nullptr;
                    std::memcpy(copy, value, n);
                }
                oldValue = node->value;
                oldInBlock = node->valueInBlock;
                node->value = copy;
                node->valueInBlock = false;
                changed = true;
            }
            node->flags = flags;
        }
    }
    if (kind != ORV_KIND_PARAM) {
        try {
            pushExact(h, path, node, incremental ? &state : nullptr);
        } catch (const std::bad_alloc&) {
            if (changed && !oldInBlock)
                std::free(oldValue);
            return nullptr;
        }
        node->flags = flags;
    }
    if (parent->flags & ORV_FLAG_REPLACE)
        node->flags |= ORV_FLAG_REPLACE;
    int mode = ((flags == 0 || flags == ORV_FLAG_VALID1) ? 1 : 0) +
               ((flags == 0 || flags == ORV_FLAG_VALID2) ? 2 : 0);
    setValidNode(node, mode, true);

    OrvNode* marker = kind == ORV_KIND_PARAM ? parent : node;
    // Handlers are told last, when the tree is consistent again; they get
    // copies, as one of them may remove the node they are told about.
    if ((created || changed) && !h->changeHandlers.empty()) {
        std::string p = path;
        if (kind != ORV_KIND_PARAM) {
            orvNotifyChange(h, p.c_str(), ORV_CHANGE_CREATED, nullptr, nullptr);
        } else {
            std::string now = node->value ? node->value : "";
            bool hasNow = node->value != nullptr;
            orvNotifyChange(h, p.c_str(), ORV_CHANGE_VALUE, hasNow ? now.c_str() : nullptr,
                            created ? nullptr : oldValue);
        }
    }
    if (changed && !oldInBlock)
        std::free(oldValue);
    *status = UpdateStatus::Ok;
    return marker;
}

const char* removeExact(OrvHandle* h, const std::string& path)
{
    if (!h->table)
        return "orvRemoveObjectH: no database";
    OrvNode* node = lookup(h, path);
    if (!node)
        return "orvRemoveObjectH: entry not found";
    if (node->firstChild)
        return "orvRemoveObjectH: removal of non-empty object, did you mean deleteObj?";
    size_t cut = path.rfind('/');
    if (cut == std::string::npos)
        return "orvRemoveObjectH: parent not found!";
    OrvNode* parent = lookup(h, cut == 0 ? std::string("/") : path.substr(0, cut));
    if (!parent)
        return "orvRemoveObjectH: parent not found!";
    if (!parent->firstChild)
        return "orvRemoveObjectH: parent has no child list";
    if (node->parent != parent)
        return "orvRemoveObjectH: child not in parent's child list";
    void* removed = nullptr;
    orvHashRemove(h->table, path.c_str(), &removed);
    unlink(node);
    h->removals++;
    if (!h->changeHandlers.empty()) {
        std::string p = path;
        if (node->kind == ORV_KIND_PARAM)
            orvNotifyChange(h, p.c_str(), ORV_CHANGE_VALUE, nullptr, node->value);
        else
            orvNotifyChange(h, p.c_str(), ORV_CHANGE_DELETED, nullptr, nullptr);
    }
    freeNode(node);
    return nullptr;
}

// Post-order without recursion; child paths are taken when their parent is
// reached, so a handler that removes nodes on the way cannot leave the walk
// holding a freed node, and one that adds nodes makes the walk stop with the
// non-empty refusal instead of going on for ever.
const char* deleteTreeExact(OrvHandle* h, const std::string& path)
{
    struct Frame {
        std::string path;
        bool expanded;
    };
    std::vector<Frame> stack;
    stack.push_back(Frame{path, false});
    while (!stack.empty()) {
        if (!stack.back().expanded) {
            stack.back().expanded = true;
            OrvNode* n = lookup(h, stack.back().path);
            if (!n) {
                stack.pop_back();
                continue;
            }
            std::vector<OrvNode*> kids;
            for (OrvNode* c = n->firstChild; c; c = c->nextSibling)
                kids.push_back(c);
            std::string parentPath = stack.back().path;
            for (size_t i = kids.size(); i-- > 0;) {
                Frame f{std::string(), false};
                appendChildPath(f.path, parentPath, kids[i]);
                stack.push_back(std::move(f));
            }
        } else {
            std::string p = std::move(stack.back().path);
            stack.pop_back();
            if (p == "/")
                continue;
            if (const char* err = removeExact(h, p))
                return err;
        }
    }
    return nullptr;
}

bool childPaths(OrvHandle* h, const std::string& path, bool params, std::vector<std::string>& out)
{
    OrvNode* node = lookup(h, path);
    if (!node)
        return false;
    for (OrvNode* c = node->firstChild; c; c = c->nextSibling)
        if ((c->kind == ORV_KIND_PARAM) == params) {
            out.emplace_back();
            appendChildPath(out.back(), path, c);
        }
    return true;
}

}  // namespace orv

extern "C" {

char* orvFullPath(OrvHandle* handle, const char* path)
{
    if (!handle || !path)
        return nullptr;
    try {
        return orv::copyText(fullPath(handle, path));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void orvNormalisePath(char* path)
{
    if (!path)
        return;
    try {
        std::string s(path);
        normalise(s);
        std::memcpy(path, s.c_str(), s.size() + 1);  // never longer than the input
    } catch (const std::bad_alloc&) {
    }
}

char* makeChildPath(const char* parentPath, const OrvNode* node)
{
    if (!parentPath || !node)
        return nullptr;
    try {
        std::string out;
        orv::appendChildPath(out, parentPath, node);
        return orv::copyText(out);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

char* orvParentPath(OrvHandle* handle, const char* path)
{
    if (!handle || !path)
        return nullptr;
    try {
        std::string full = fullPath(handle, path);
        size_t cut = full.rfind('/');
        if (cut == std::string::npos)
            return nullptr;
        return orv::copyText(cut == 0 ? std::string("/") : full.substr(0, cut));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

int orvPathExistsH(OrvHandle* handle, const char* fullPath)
{
    return handle && fullPath && orvHashLookup(handle->table, fullPath) ? 1 : 0;
}

const char* pushPath(OrvHandle* handle, const char* path)
{
    if (!handle)
        return "pushPath: unable to initialize dirstack";
    if (!path)
        return "pushPath: path provided is non-existent";
    std::string full;
    try {
        full = fullPath(handle, path);
    } catch (const std::bad_alloc&) {
        return "pushPath: unable to create a full path";
    }
    OrvNode* node = lookup(handle, full);
    if (!node)
        return "pushPath: path is not found";
    try {
        orv::pushExact(handle, std::move(full), node);
    } catch (const std::bad_alloc&) {
        return "pushPath unable to allocate new path";
    }
    return nullptr;
}

const char* popPath(OrvHandle* handle)
{
    if (!handle)
        return "popPath unable to initialize dirstack";
    orv::popExact(handle);
    return nullptr;
}

const char* orvPushPath(OrvHandle* handle, const char* fullPath)
{
    if (!handle || !fullPath)
        return "orvPushPath: unable to initialize dirstack";
    try {
        orv::pushExact(handle, fullPath, nullptr);
    } catch (const std::bad_alloc&) {
        return "pushPath unable to allocate new path";
    }
    return nullptr;
}

OrvNode* orvUpdateObject(OrvHandle* handle, OrvNode* parent, const char* type, const char* name,
                         const char* value, int kind, uint32_t flags)
{
    if (!handle)
        return nullptr;
    try {
        orv::UpdateStatus status;
        return orv::updateObject(handle, parent, type, name, value, kind, flags, &status, nullptr);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

const char* getPartialORVH(OrvHandle* handle, const char* match, int byType, const char* path,
                           OrvArray* result, uint32_t requireMask, uint32_t excludeMask)
{
    if (!handle || !path || !result || result->kind != ORV_ARRAY_STRINGS)
        return "getPartialORVH: object does not exist";
    OrvNode* start = static_cast<OrvNode*>(orvHashLookup(handle->table, path));
    if (!start)
        return "getPartialORVH: object does not exist";
    const char* const kNoMemory = "getObjectsByTypeH: error allocating return array";
    try {
        // Pre-order without recursion: each frame is the next child to visit
        // below a parent path.
        struct Frame {
            OrvNode* next;
            std::string parentPath;
        };
        std::vector<Frame> frames;
        frames.push_back(Frame{start->firstChild, path});
        std::string childPath;
        while (!frames.empty()) {
            OrvNode* c = frames.back().next;
            if (!c) {
                frames.pop_back();
                continue;
            }
            frames.back().next = c->nextSibling;
            if (c->kind == ORV_KIND_PARAM)
                continue;
            if (c->kind != ORV_KIND_OBJECT && c->kind != ORV_KIND_SINGLETON)
                return "getPartialORVH: bad object type";
            if (requireMask && !(c->flags & requireMask))
                continue;
            if (excludeMask && (c->flags & excludeMask))
                continue;
            childPath.clear();
            orv::appendChildPath(childPath, frames.back().parentPath, c);
            const char* key = (byType || c->kind == ORV_KIND_SINGLETON) ? c->type : c->name;
            if (match && key && std::strcmp(key, match) == 0 &&
                !orvArrayAppendCopy(result, childPath.c_str()))
                return kNoMemory;
            if (c->firstChild)
                frames.push_back(Frame{c->firstChild, childPath});
        }
    } catch (const std::bad_alloc&) {
        return kNoMemory;
    }
    return nullptr;
}

const char* getObjectsByTypeH(OrvHandle* handle, const char* type, char*** paths)
{
    if (!handle || !paths)
        return "getObjectsByTypeH: error allocating return array";
    OrvArray* result = orvArrayCreate(ORV_ARRAY_STRINGS);
    if (!result)
        return "getObjectsByTypeH: error allocating return array";
    const char* err = getPartialORVH(handle, type, 1, orv::currentPath(handle).c_str(), result, 0,
                                     ORV_FLAG_HIDDEN);
    if (!err && !orvArrayAppendString(result, nullptr))
        err = "getObjectsByTypeH: error allocating return array";
    if (err) {
        orvArrayDestroy(result);
        return err;
    }
    *paths = static_cast<char**>(result->storage);
    std::free(result);
    return nullptr;
}

const char* getStringValue(OrvHandle* handle, const char* name, char** value)
{
    if (!handle || !name || !value)
        return "getStringValue: Invalid arguments";
    try {
        std::string full = fullPath(handle, name);
        OrvNode* node = lookup(handle, full);
        if (!node)
            return orv::orvSetErrorH(handle, "getStringValue: value \"%s\" does not exist", full.c_str());
        *value = nullptr;
        if (node->value && !(*value = orv::copyText(node->value)))
            return "getStringValue: Memory allocation error";
        return nullptr;
    } catch (const std::bad_alloc&) {
        return "getStringValue: Memory allocation error";
    }
}

const char* getStringList(OrvHandle* handle, const char* name, char*** items, int* count)
{
    if (!handle || !name || !items)
        return "getStringList: unable to find value";
    OrvNode* node;
    try {
        node = lookup(handle, fullPath(handle, name));
    } catch (const std::bad_alloc&) {
        return "getStringList: unable to find value";
    }
    if (!node || !node->value)
        return "getStringList: unable to find value";
    return splitStringString(node->value, items, count);
}

const char* getChildObjectList(OrvHandle* handle, const char* path, int includeObjects,
                               int includeParams, int* count, char*** list)
{
    return childList(handle, path, includeObjects != 0, includeParams != 0, count, list);
}

const char* getChildObjectsH(OrvHandle* handle, const char* path, int* count, char*** list)
{
    return childList(handle, path, true, false, count, list);
}

const char* getChildParamsH(OrvHandle* handle, const char* path, int* count, char*** list)
{
    return childList(handle, path, false, true, count, list);
}

const char* setValid(OrvHandle* handle, const char* path, int mode, int propagate)
{
    if (!handle || !path)
        return "setValid: path not found";
    OrvNode* node;
    try {
        node = lookup(handle, fullPath(handle, path));
    } catch (const std::bad_alloc&) {
        return "setValid: path not found";
    }
    if (!node)
        return "setValid: path not found";
    setValidNode(node, mode, propagate != 0);
    return nullptr;
}

const char* setValidPropagateH(OrvHandle* handle, const char* path, int mode)
{
    return setValid(handle, path, mode, 1);
}

int getValidH(OrvHandle* handle, const char* path)
{
    if (!handle || !path)
        return -1;
    OrvNode* node;
    try {
        node = lookup(handle, fullPath(handle, path));
    } catch (const std::bad_alloc&) {
        return -1;
    }
    if (!node)
        return -1;
    return ((node->flags & ORV_FLAG_VALID1) ? 1 : 0) + ((node->flags & ORV_FLAG_VALID2) ? 2 : 0);
}

const char* orvRemoveObjectH(OrvHandle* handle, const char* path)
{
    if (!handle || !handle->table)
        return "orvRemoveObjectH: no database";
    if (!path)
        return "orvRemoveObjectH: full path failed";
    try {
        return orv::removeExact(handle, fullPath(handle, path));
    } catch (const std::bad_alloc&) {
        return "orvRemoveObjectH: full path failed";
    }
}

const char* deleteParamH(OrvHandle* handle, const char* path)
{
    return removeFound(handle, path, "deleteParamH: unable to find parameter", orv::removeExact);
}

const char* deleteObjH(OrvHandle* handle, const char* path)
{
    return removeFound(handle, path, "deleteObjH: unable to find parameter", orv::deleteTreeExact);
}

}  // extern "C"
