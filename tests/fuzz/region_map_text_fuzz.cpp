// Reads the input as the lines of a region map's ORV text. A map that reads
// must write a text that reads back to the same text.
#include "region_map.h"
#include "fuzz_text_lines.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

RegionStatus* readLines(const std::string& text, RegionMap** map)
{
    vrnfuzz::TextLines lines(text);
    return RegionMap_readFromStrings(map, lines.count(), lines.data(), nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1 << 16)
        return 0;
    const std::string text = vrnfuzz::inputText(data, size);
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
