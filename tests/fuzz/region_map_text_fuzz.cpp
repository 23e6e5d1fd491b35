// Reads the input as the lines of a region map's ORV text. A map that reads
// must write a text that reads back to the same text.
#include "region_map.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

RegionStatus* readLines(const std::string& text, RegionMap** map)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    std::vector<char*> ptrs;
    for (std::string& l : lines)
        ptrs.push_back(&l[0]);
    return RegionMap_readFromStrings(map, static_cast<int>(ptrs.size()), ptrs.data(), nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1 << 16)
        return 0;
    // NUL bytes end a C line early; keep them out so the text is what the
    // reader sees.
    std::string text;
    for (size_t i = 0; i < size; ++i)
        text += data[i] ? static_cast<char>(data[i]) : ' ';
    RegionMap* map = nullptr;
    RegionStatus* s = readLines(text, &map);
    if (!RegionStatus_isError(s) && map) {
        char* written = nullptr;
        if (!RegionStatus_isError(RegionMap_getORV(map, 1, &written)) && written) {
            std::string first = written;
            RegionMap* back = nullptr;
            RegionStatus* again = readLines(first, &back);
            if (RegionStatus_isError(again))
                __builtin_trap();
            char* rewritten = nullptr;
            RegionMap_getORV(back, 1, &rewritten);
            if (!rewritten || first != rewritten)
                __builtin_trap();
            RegionMap_delete(&back, 1);
        }
    }
    if (map)
        RegionMap_delete(&map, 1);
    return 0;
}
