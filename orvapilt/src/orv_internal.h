// Internal structures of the ORV API, shared by its sources and its tests.
#ifndef ORV_INTERNAL_H
#define ORV_INTERNAL_H

#include "orvapi.h"

#include <cstdint>
#include <string>
#include <vector>

struct OrvNode {
    char* type;        // "String" for parameters, "/" for the root
    char* name;        // NULL for the root and for "T: T" singletons
    char* value;       // parameters only
    char* descriptor;  // kind name ":" type
    int32_t kind;
    int32_t childCount;
    uint32_t flags;
    OrvNode* firstChild;
    OrvNode* lastChild;
    OrvNode* nextSibling;
    // Kept beside the singly linked child list so that unlinking a node is
    // O(1) however many siblings it has.
    OrvNode* prevSibling;
    OrvNode* parent;
    bool valueInBlock;  // value still lives in the node's own allocation
};

struct OrvChangeEntry {
    void* userData;
    OrvChangeCallback callback;
};
struct OrvReplaceEntry {
    void* userData;
    OrvReplaceCallback callback;
};
struct OrvActionEntry {
    OrvActionCallback callback;
    std::string name;
    bool hasName;
    void* userData;
};

namespace orv {

// The path hash part-way through a key: h and a after the bytes fed so far,
// for one table size, with that size's reciprocals.
struct HashState {
    uint32_t m = 0;  // 0: not computed
    int32_t h = 0;
    int32_t a = 31415;
    uint64_t recipM = 0, recipM1 = 0;
    uint32_t check = 2166136261u;  // the entries' second hash (FNV-1a) so far
};
void hashBegin(HashState& state, uint32_t m);
void hashFeed(HashState& state, const char* bytes, size_t n);

// Directory-stack entry: a full path, and what is known of it (its node,
// the hash state after it), so that each line below it costs a hash of its
// own name only.
struct DirEntry {
    std::string path;
    OrvNode* node;      // NULL when not known
    uint64_t stamp;     // handle's removal count when node was taken
    HashState state;    // of the prefix that child paths extend
};

}  // namespace orv

struct OrvHandle {
    std::vector<orv::DirEntry> dirStack;  // bottom entry "/", never popped
    OrvNode* root = nullptr;
    OrvHash* table = nullptr;
    std::vector<OrvChangeEntry> changeHandlers;
    std::vector<OrvActionEntry> actionHandlers;
    std::vector<OrvReplaceEntry> replaceHandlers;
    std::string pending;                // continued text so far
    std::vector<uint32_t> flagStack;    // size is the capacity
    int depth = 0;
    char* errorText = nullptr;
    void* userData = nullptr;
    void (*destroyCallback)(void*) = nullptr;
    // Bumped by every removal: a dir-stack entry's node taken before the
    // latest removal is looked up again.
    uint64_t removals = 0;
};

namespace orv {

// Longest full path a document may create. Each node keeps its full path as
// its key, so without a bound a deep or wide document of long names could
// make memory grow with the square of its size.
constexpr size_t kMaxPathLength = ORV_MAX_PATH_LENGTH;

// White space of the C locale: blank, TAB, LF, VT, FF, CR.
inline bool isSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool debugEnabled();

// Error slot: formats (when format holds '%') or copies, poisons and frees
// the previous text, keeps the new one and returns it.
const char* orvSetErrorH(OrvHandle* handle, const char* format, ...);
// Overwrites text with the freed-memory notice, cut to its length.
void poison(char* text);
// Releases an error text after poison; std::free unless a test has put a
// function of its own here to read what a client that kept the pointer sees.
extern void (*releaseErrorText)(void* text);
// A copy of text with its closing NUL, from std::malloc (the caller frees it
// with std::free), or NULL when memory runs out.
char* copyText(const char* text);
inline char* copyText(const std::string& text) { return copyText(text.c_str()); }

const std::string& currentPath(OrvHandle* handle);
OrvNode* currentNode(OrvHandle* handle);
bool ensureDirStack(OrvHandle* handle);
void pushExact(OrvHandle* handle, std::string path, OrvNode* node,
               const HashState* state = nullptr);
void popExact(OrvHandle* handle);
bool orvCreateRootH(OrvHandle* handle);
void freeTree(OrvNode* root);

// Path component of a node below its parent ("name", "Type" or "Type:Name").
void appendComponent(std::string& out, const OrvNode* node);
void appendChildPath(std::string& out, const std::string& parentPath, const OrvNode* node);

enum class UpdateStatus { Ok, NoMemory, NoParent, KindClash, TooLong };
OrvNode* updateObject(OrvHandle* handle, OrvNode* parent, const char* type, const char* name,
                      const char* value, int kind, uint32_t flags, UpdateStatus* status,
                      std::string* pathOut);

// A lookup followed by an insert of the same key with one hash computation:
// reserve first, take the index, find, and insert when absent.
uint32_t hashCheck(const char* key);
OrvHashEntry* hashFind(const OrvHash* table, const char* key, uint32_t index, uint32_t check);
bool hashInsertNew(OrvHash* table, const char* key, void* value, uint32_t index, uint32_t check);

// Removal and deletion on exact full paths (no resolution).
const char* removeExact(OrvHandle* handle, const std::string& path);
const char* deleteTreeExact(OrvHandle* handle, const std::string& path);
// Paths of the children of the node at path, parameters or objects.
bool childPaths(OrvHandle* handle, const std::string& path, bool params,
                std::vector<std::string>& out);

}  // namespace orv

#endif
