// The smaller text parsers of the core services. The first byte picks one:
//   0  a regular expression, then a routine name it is matched against
//      (the two separated by a NUL byte)
//   1  a conduit type string
//   2  base64 text decoded into bytes, and read as a UUID's text
//   3  "key = value" lines split as the control-file reader splits them
#include <cstdint>
#include <cstring>
#include <string>

#include "errors/error_manager.h"
#include "fuzz_support.h"
#include "interprocess/conduit.h"
#include "support/cstring.h"
#include "support/memory.h"
#include "utilities/base64.h"
#include "utilities/regular_expression.h"
#include "utilities/source.h"
#include "utilities/uuid.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vrnfuzz::Bytes in(data, size);
    const uint8_t which = in.next() % 4;
    switch (which) {
    case 0: {
        const std::string pattern = in.text(0);
        const std::string name = in.text(0);
        const char* message = nullptr;
        if (RegularExpression* e = RegularExpression_compile(pattern.c_str(), &message)) {
            RegularExpression_exactMatch(e, name.c_str());
            RegularExpression_delete(e);
        }
        break;
    }
    case 1: {
        const std::string type = in.text(0);
        Conduit c;
        std::memset(&c, 0, sizeof c);
        Conduit_parseType(&c, type.c_str());
        vrnCString_free(c.name);
        vrnCString_free(c.address);
        break;
    }
    case 2: {
        const std::string text = in.text(0);
        unsigned char bytes[64];
        vrnBase64_decode(text.c_str(), bytes, sizeof bytes);
        vrnUUID uuid;
        std::memset(&uuid, 0, sizeof uuid);
        vrnUUID_parseBase64(&uuid, text.c_str());
        break;
    }
    default: {
        std::string line;
        while (!in.empty()) {
            line = in.text('\n');
            char key[32];
            char value[64];
            Source_getValue(line.c_str(), key, sizeof key, value, sizeof value);
            Source_getValueUpperKey(line.c_str(), key, sizeof key, value, sizeof value);
            int start = 0;
            int length = 0;
            Source_parseTag(line.c_str(), &start, &length);
        }
        break;
    }
    }
    vrnApp_clearErrors();
    return 0;
}
