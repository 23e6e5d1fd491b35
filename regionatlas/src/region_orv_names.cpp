// Header names of region ORV text: which names can stand in a header as
// they are, and the substitutes written (with the real name beside them)
// for those that cannot.
#include "region_hash.h"
#include "region_internal.h"
#include "region_map.h"

#include <cstdio>
#include <cstring>

namespace regionatlas {

const size_t kNameBuffer = 1024;

namespace {

// Room kept in the buffer for a " <number>" suffix and the terminator.
const size_t kBaseLimit = kNameBuffer - 16;

bool isAsciiAlpha(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool isLeadChar(unsigned char c) { return isAsciiAlpha(c) || c == '_' || c == '%'; }

bool isNameChar(unsigned char c)
{
    return isAsciiAlpha(c) || (c >= '0' && c <= '9') || c == ' ' || c == '.' || c == '[' || c == ']' ||
           c == '_' || c == '{' || c == '|' || c == '}';
}

bool interned(const std::string& text)
{
    unsigned key = 0;
    return !RegionStatus_isError(RegionDictionary_lookup(text.c_str(), &key));
}

}  // namespace

std::string collapsed(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == ' ' && (out.empty() || out.back() == ' '))
            continue;
        out += c;
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

bool isPlainORVName(const char* text, const char* type)
{
    if (!text || !*text || !isLeadChar(static_cast<unsigned char>(text[0])))
        return false;
    size_t n = std::strlen(text);
    for (size_t i = 1; i < n; ++i)
        if (!isNameChar(static_cast<unsigned char>(text[i])))
            return false;
    if (text[n - 1] == ' ' || std::strstr(text, "  "))
        return false;
    return !(type && std::strcmp(text, type) == 0);
}

std::string substituteName(const char* text, const char* fallback, bool checkDictionary, const HeaderSet* used,
                           const char* type)
{
    std::string base;
    for (const char* p = text ? text : ""; *p && base.size() < kBaseLimit; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (base.empty()) {
            if (isLeadChar(c))
                base += static_cast<char>(c);
        } else {
            base += isNameChar(c) ? static_cast<char>(c) : ' ';
        }
    }
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    if (base.empty())
        base = fallback;
    auto taken = [&](const std::string& candidate) {
        std::string plain = collapsed(candidate);
        if (type && plain == type)
            return true;
        if (used && used->count(plain))
            return true;
        return checkDictionary && (interned(candidate) || interned(plain));
    };
    std::string candidate = base;
    for (unsigned long i = 0; taken(candidate); ++i)
        candidate = base + " " + std::to_string(i);
    return candidate;
}

}  // namespace regionatlas

extern "C" const char* RegionName_toORVName(const char* text)
{
    static char buffer[regionatlas::kNameBuffer];
    std::string name = regionatlas::substituteName(text, "Region", true, nullptr, "REGION");
    std::snprintf(buffer, sizeof buffer, "%s", name.c_str());
    return buffer;
}
