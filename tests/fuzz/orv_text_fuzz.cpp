// Feeds arbitrary text to the ORV line parser, then walks, queries and
// deletes whatever tree it made. The input is split into lines at '\n'; the
// first byte chooses the flag word of the load, and with its bit 0x10 set the
// handlers change the tree and the parser's state while they are told of
// changes.
#include "orvapi.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Each call takes its operation from the next byte of the input text.
struct Meddler {
    OrvHandle* h = nullptr;
    const std::string* ops = nullptr;  // none: handlers only count
    size_t pos = 0;
    int nest = 0;
    int calls = 0;
};

void meddle(Meddler* m, const char* path)
{
    if (!m->ops || m->ops->empty() || m->nest > 2 || ++m->calls > 200)
        return;
    ++m->nest;
    switch (static_cast<unsigned char>((*m->ops)[m->pos++ % m->ops->size()]) % 10) {
    case 0: deleteObjH(m->h, path); break;
    case 1: deleteParamH(m->h, path); break;
    case 2: parseORVLineH(m->h, "END", 0); break;
    case 3: parseORVLineH(m->h, "&replace Z: z", 0); break;
    case 4: pushPath(m->h, path); break;
    case 5: popPath(m->h); break;
    case 6: orvUpdateObject(m->h, nullptr, nullptr, "q", "1", ORV_KIND_PARAM, 0); break;
    case 7: deleteObjH(m->h, "/"); break;
    case 8: orvUnwindToStateH(m->h, 0); break;
    default: break;
    }
    --m->nest;
}

void onChange(const char* path, int, const char*, const char*, void* m) { meddle(static_cast<Meddler*>(m), path); }
void onReplace(const char* path, void* m) { meddle(static_cast<Meddler*>(m), path); }
int onAction(OrvHandle*, const char* action, char**, void* m)
{
    meddle(static_cast<Meddler*>(m), action);
    return action[0] != 'x';
}

void walk(OrvHandle* h, const std::string& path, int depth)
{
    int n = 0;
    char** list = nullptr;
    if (depth > 8 || getChildObjectList(h, path.c_str(), 1, 1, &n, &list))
        return;
    for (int i = 0; i < n; ++i) {
        std::string child = (path == "/" ? "" : path) + "/" + list[i];
        char* v = nullptr;
        if (!getStringValue(h, child.c_str(), &v))
            std::free(v);
        char** items = nullptr;
        int count = 0;
        if (!getStringList(h, child.c_str(), &items, &count))
            orvFreeStringArray(items);
        getValidH(h, child.c_str());
        walk(h, child, depth + 1);
    }
    orvFreeStringArray(list);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const uint32_t flags[] = {0, ORV_FLAG_VALID1, ORV_FLAG_VALID2, ORV_FLAG_HIDDEN};
    uint32_t flag = flags[data[0] % 4];
    std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i)
        if (i == text.size() || text[i] == '\n') {
            lines.push_back(text.substr(start, i - start));
            start = i + 1;
        }

    OrvHandle* h = orvCreateHandle();
    if (!h)
        return 0;
    Meddler meddler;
    meddler.h = h;
    if (data[0] & 0x10)
        meddler.ops = &text;
    orvAddChangeHandler(h, onChange, &meddler);
    orvAddReplaceHandler(h, onReplace, &meddler);
    orvAddActionHandler(h, onAction, nullptr, &meddler);

    std::vector<char*> ptrs;
    for (auto& l : lines)
        ptrs.push_back(&l[0]);
    OrvArray view{ORV_ARRAY_STRINGS, static_cast<int>(ptrs.size()), static_cast<int>(ptrs.size()), 0,
                  ptrs.data()};
    unsigned char digest[16];
    parseORVData(h, &view, flag, nullptr, digest);
    parseORVData(h, &view, flag, digest, nullptr);  // again, as an unchanged document
    // Line by line, going on past errors.
    for (char* l : ptrs)
        parseORVLineH(h, l, flag);
    orvUnwindToStateH(h, 0);

    // Every line also as a client path.
    for (auto& l : lines) {
        char* full = orvFullPath(h, l.c_str());
        std::free(full);
        if (!pushPath(h, l.c_str())) {
            char** paths = nullptr;
            if (!getObjectsByTypeH(h, "REGION", &paths))
                orvFreeStringArray(paths);
            popPath(h);
        }
    }
    walk(h, "/", 0);
    char** paths = nullptr;
    if (!getObjectsByTypeH(h, "A", &paths))
        orvFreeStringArray(paths);
    deleteObjH(h, "/");
    orvDestroyHandle(h);
    return 0;
}
