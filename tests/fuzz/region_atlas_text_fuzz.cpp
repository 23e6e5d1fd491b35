// Reads the input as the lines of a region atlas's ORV text. An atlas that
// reads must write a text that reads back; without substitute headers
// (whose numbering follows the names already known) the text read back
// writes the same text again.
#include "region_atlas.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

RegionStatus* readLines(const std::string& text, RegionAtlas** atlas)
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
    return RegionAtlas_readFromStrings(atlas, static_cast<int>(ptrs.size()), ptrs.data());
}

std::string textOf(RegionAtlas* atlas)
{
    char* text = nullptr;
    if (RegionStatus_isError(RegionAtlas_getORV(atlas, &text)) || !text)
        __builtin_trap();
    std::string out = text;
    RegionAtlas_freeORV(atlas);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1 << 16)
        return 0;
    std::string text;
    for (size_t i = 0; i < size; ++i)
        text += data[i] ? static_cast<char>(data[i]) : ' ';
    RegionAtlas* atlas = nullptr;
    if (RegionStatus_isError(readLines(text, &atlas)) || !atlas)
        return 0;
    const std::string first = textOf(atlas);
    RegionAtlas* back = nullptr;
    if (RegionStatus_isError(readLines(first, &back)) || !back)
        __builtin_trap();
    if (first.find("Real Name") == std::string::npos && textOf(back) != first)
        __builtin_trap();
    RegionAtlas_delete(back, 1);
    RegionAtlas_delete(atlas, 1);
    return 0;
}
