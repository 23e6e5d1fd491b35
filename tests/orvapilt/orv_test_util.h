// Helpers for the ORV API tests: a handle that goes with its scope, loading
// lines, and a change recorder.
#pragma once

#include "orvapi.h"

#include <string>
#include <vector>

namespace orvtest {

struct Handle {
    OrvHandle* h = orvCreateHandle();
    Handle() = default;
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { orvDestroyHandle(h); }
    operator OrvHandle*() const { return h; }
};

// "" on success, else the message.
inline std::string load(OrvHandle* h, std::vector<std::string> lines)
{
    std::vector<char*> ptrs;
    for (auto& l : lines)
        ptrs.push_back(&l[0]);
    ptrs.push_back(nullptr);  // so that no lines still passes an array
    const char* err = loadORVDataH(h, ptrs.data(), static_cast<int>(lines.size()));
    return err ? err : "";
}

inline std::string line(OrvHandle* h, const char* text)
{
    const char* err = parseORVLineH(h, text, 0);
    return err ? err : "";
}

inline std::string value(OrvHandle* h, const char* path)
{
    char* v = nullptr;
    if (getStringValue(h, path, &v))
        return "<missing>";
    std::string out = v ? v : "<none>";
    free(v);
    return out;
}

inline std::string current(OrvHandle* h)
{
    char* p = orvFullPath(h, ".");
    std::string out = p ? p : "";
    free(p);
    return out;
}

// How many blocks the parser holds open, or -1 when that cannot be read.
inline int blockDepth(OrvHandle* h)
{
    int depth = -1;
    getORVStateH(h, &depth);
    return depth;
}

inline std::vector<std::string> take(char** list)
{
    std::vector<std::string> out;
    for (char** p = list; p && *p; ++p)
        out.push_back(*p);
    orvFreeStringArray(list);
    return out;
}

// Records change notices as "code path new old".
struct Recorder {
    std::vector<std::string> events;
    static void onChange(const char* path, int code, const char* nv, const char* ov, void* self)
    {
        static_cast<Recorder*>(self)->events.push_back(std::to_string(code) + " " + path + " " +
                                                       (nv ? nv : "-") + " " + (ov ? ov : "-"));
    }
    void attach(OrvHandle* h) { orvAddChangeHandler(h, onChange, this); }
};

}  // namespace orvtest
