// Feeds arbitrary text to the ORV line parser, then walks, queries and
// deletes whatever tree it made. The input is split into lines at '\n'; the
// first byte chooses the flag word of the load.
#include "orvapi.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void onChange(const char*, int, const char*, const char*, void* count) { ++*static_cast<long*>(count); }
void onReplace(const char*, void* count) { ++*static_cast<long*>(count); }
int onAction(OrvHandle*, const char* action, char**, void*) { return action[0] != 'x'; }

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
    long changes = 0, replaces = 0;
    orvAddChangeHandler(h, onChange, &changes);
    orvAddReplaceHandler(h, onReplace, &replaces);
    orvAddActionHandler(h, onAction, nullptr, nullptr);

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
