// ORV name encoding: escaping or normalising names for ORV text.
#include "database/orv_name.h"

#include <cstring>
#include <string>

#include "support/cstring.h"
#include "support/memory.h"
#include "support/system.h"
#include "utilities/unicode_string.h"

namespace {

// -1 undecided, else the switch.
int encodeNames = -1;

// A UnicodeString that is freed on every path.
struct UnicodeGuard {
    UnicodeString* s = UnicodeString_new();
    ~UnicodeGuard() { UnicodeString_delete(s); }
};

}  // namespace

extern "C" {

int orvReadEncodeNamesSetting(void) {
    if (encodeNames < 0) encodeNames = vrnIsEnvironmentVariableSet("VRN_ENCODE_NAMES");
    return encodeNames;
}

void orvResetEncodeNamesSetting(void) { encodeNames = -1; }

char* orvNormaliseName(const char* name) {
    if (!name) return nullptr;
    std::string replaced(name);
    for (char& c : replaced)
        if (orvNameClass(static_cast<unsigned char>(c)) <= 2) c = ' ';
    char* normal = vrnCString_normaliseSpace(replaced.c_str());
    if (orvNameClass(static_cast<unsigned char>(normal[0])) != 3) return normal;
    char* prefixed = vrnCString_merge("n", normal, nullptr);
    vrnCString_free(normal);
    return prefixed;
}

char* orvEncodeName(const char* name) {
    if (!orvReadEncodeNamesSetting()) return orvNormaliseName(name);
    if (!name) return nullptr;
    char* normal = vrnCString_normaliseSpace(name);
    UnicodeGuard unicode;
    const int read = normal[0] != '\0' && UnicodeString_fromUTF8(unicode.s, normal);
    vrnCString_free(normal);
    if (!read) return nullptr;
    return UnicodeString_toPrintedQuotable(unicode.s, ORV_NAME_ESCAPE, ORV_NAME_ESCAPE_MODE);
}

char* orvUnencodeName(const char* text) {
    if (!orvReadEncodeNamesSetting()) return vrnCString_clone(text);
    if (!text) return nullptr;
    UnicodeGuard unicode;
    if (!UnicodeString_fromPrintedQuotable(unicode.s, ORV_NAME_ESCAPE, text)) return nullptr;
    return UnicodeString_toUTF8(unicode.s);
}

}  // extern "C"
