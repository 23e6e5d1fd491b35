// What the library hands over to its caller, taken into plain values for
// the tests: strings the caller must free, and the recorded errors.
#pragma once

#include <string>
#include <vector>

#include "errors/error.h"
#include "errors/error_manager.h"
#include "support/cstring.h"
#include "support/memory.h"

namespace commontest {

// The text of a string the library handed over, freed here; "<null>" for
// none.
inline std::string take(char* s) {
    if (!s) return "<null>";
    std::string r(s);
    vrnCString_free(s);
    return r;
}

struct Recorded {
    int code;
    std::string message;
};

// The recorded errors in order; clears them.
inline std::vector<Recorded> takeErrors() {
    int count = 0;
    vrnError** errors = nullptr;
    vrnApp_getErrors(&count, &errors);
    std::vector<Recorded> out;
    for (int i = 0; i < count; ++i) {
        const char* m = vrnError_getMessage(errors[i]);
        out.push_back({errors[i]->code, m ? m : ""});
    }
    vrnFree(errors, "test");
    vrnApp_clearErrors();
    return out;
}

}  // namespace commontest
