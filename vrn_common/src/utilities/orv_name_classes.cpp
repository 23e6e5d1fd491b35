// The byte class table of ORV names.
#include "utilities/orv_name_classes.h"

#include <array>
#include <cstddef>

namespace {

constexpr bool contains(const char* set, int byte) {
    for (; *set; ++set)
        if (static_cast<unsigned char>(*set) == byte) return true;
    return false;
}

constexpr std::array<unsigned char, 256> makeClasses() {
    std::array<unsigned char, 256> classes{};
    for (int b = 0; b < 256; ++b) {
        if (b < 0x20 || b == 0x7F) classes[b] = 0;
        else if (contains("#$%,", b)) classes[b] = 1;
        else if (contains("!\"&'()*+-/:;<=>?@\\^`~", b)) classes[b] = 2;
        else if (b >= '0' && b <= '9') classes[b] = 3;
        else classes[b] = 4;  // space . letters [ ] _ { | } and 0x80-0xFF
    }
    return classes;
}

constexpr std::array<unsigned char, 256> kClasses = makeClasses();

static_assert(kClasses[' '] == 4 && kClasses['.'] == 4 && kClasses['|'] == 4 &&
                  kClasses[0x80] == 4 && kClasses['@'] == 2 && kClasses[0x7F] == 0,
              "byte classes");

}  // namespace

extern "C" int orvNameClass(int byte) {
    return byte >= 0 && byte < 256 ? kClasses[static_cast<std::size_t>(byte)] : -1;
}

extern "C" int orvNeedsEscape(int mode, int index, int character) {
    const int cls = orvNameClass(character);
    if (cls < 0) return 1;
    if (mode < 0) mode = 0;
    const int t = (mode == 2 && index == 0) ? 3 : mode;
    return (t <= 2 && cls > t) ? 0 : 1;
}
