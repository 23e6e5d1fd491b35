// Reads the input as the lines of a region atlas's ORV text. An atlas that
// reads must write a text that reads back; without substitute headers
// (whose numbering follows the names already known) the text read back
// writes the same text again.
#include "region_atlas.h"
#include "fuzz_text_lines.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

RegionStatus* readLines(const std::string& text, RegionAtlas** atlas)
{
    vrnfuzz::TextLines lines(text);
    return RegionAtlas_readFromStrings(atlas, lines.count(), lines.data());
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
    const std::string text = vrnfuzz::inputText(data, size);
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
