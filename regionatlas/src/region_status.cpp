// Status records, the code table and the message lines.
#include "region_internal.h"
#include "region_status.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

struct CodeRow {
    int32_t code;
    const char* text;
};

// Stored in this order; sorted by code on first use.
CodeRow gCodes[] = {
    {0, "No Error"},
    {1, "User defined error"},
    {2, "Internal error"},
    {3, "Bad function call"},
    {4, "functionality not implemented"},
    {5, "Invalid File descriptor"},
    {6, "Unrecognised ORV"},
    {7, "Insufficient memory to perform operation"},
    {8, "Invalid object pointer supplied"},
    {100000, "Invalid Atlas"},
    {100001, "Invalid Map"},
    {100002, "Invalid Type of Map"},
    {100003, "Invalid Definition"},
    {100004, "Invalid Combination"},
    {100005, "Invalid Operation"},
    {100006, "Invalid Side"},
    {100007, "Invalid Name"},
    {100008, "Invalid Name Manager"},
    {100009, "Invalid String List"},
    {100010, "Invalid String"},
    {200000, "Unable to create Atlas"},
    {200001, "Unable to create Map"},
    {200003, "Unable to create Definition"},
    {200004, "Unable to create Name"},
    {300000, "Name is blank"},
    {400000, "Map is already in an Atlas"},
    {400001, "Map is not in an Atlas"},
    {400002, "VRN Map already exists"},
    {400003, "Primary map already exists"},
    {400004, "Secondary Map already exists"},
    {400005, "VRN map doesn't exist"},
    {400006, "Primary map doesn't exist"},
    {400007, "Secondary map doesn't exist"},
    {500000, "Map does not have an owner"},
    {800006, "Map defines a region already in the atlas"},
    {600000, "Explicit primitive name cannot be defined"},
    {600001, "Imported primitive name cannot be altered"},
    {600002, "Region is not defined as an explicit primitive in Map"},
    {600003, "Region cannot be defined as an explicit primitive"},
    {600004, "Region in Map cannot reference a name defined in a higher Map"},
    {600005, "Region in Map cannot be referenced by a name defined in a lower Map"},
    {700000, "Region cannot be defined in terms of itself"},
    {700001, "The operation requested cannot be performed on the Region"},
    {700002, "The Region requires at least one component"},
    {700003, "The operation requested would leave the Region in a invalid state"},
    {800000, "Region could not be found"},
    {800001, "Region is primitive"},
    {800002, "Region is not defined in Map"},
    {800003, "Region not defined"},
    {800004, "Region already defined"},
    {800005, "Component is not a referenced by the Region"},
    {900000, "String not in in list"},
    {900001, "String list is empty"},
    {900002, "End of list"},
};
static_assert(sizeof gCodes / sizeof gCodes[0] == 54, "the code table has 54 rows");

char gNoErrorText[] = "No Error.";
RegionStatus gNoError = {0, gNoErrorText, 0};
RegionStatus gError = {0, nullptr, 0};
bool gInitialised = false;

}  // namespace

namespace regionatlas {

const char* const kAtlasClass = "Region Atlas";
const char* const kMapClass = "Region Map";
const char* const kDefinitionClass = "Region Definition";
const char* const kNameClass = "Region";

char* copyText(const char* text)
{
    if (!text)
        return nullptr;
    size_t n = std::strlen(text) + 1;
    char* copy = static_cast<char*>(std::malloc(n));
    if (copy)
        std::memcpy(copy, text, n);
    return copy;
}

RegionStatus* ok()
{
    RegionStatus_init();
    return &gNoError;
}

RegionStatus* failText(int code, const char* text)
{
    RegionStatus* s = nullptr;
    if (!RegionStatus_set(&s, 1, code, text)) {
        // The message could not be stored; the record still holds the code.
        return &gError;
    }
    return s;
}

RegionStatus* fail(int code, const char* format, ...)
{
    va_list ap;
    va_start(ap, format);
    va_list copy;
    va_copy(copy, ap);
    char small[1024];
    int n = std::vsnprintf(small, sizeof small, format, ap);
    va_end(ap);
    RegionStatus* s;
    if (n < 0) {
        s = failText(code, format);
    } else if (static_cast<size_t>(n) < sizeof small) {
        s = failText(code, small);
    } else {
        // Too long for the buffer: built whole on the heap, or cut to the
        // buffer when memory runs out.
        try {
            std::string big(static_cast<size_t>(n) + 1, '\0');
            std::vsnprintf(&big[0], big.size(), format, copy);
            big.resize(static_cast<size_t>(n));
            s = failText(code, big.c_str());
        } catch (const std::bad_alloc&) {
            s = failText(code, small);
        }
    }
    va_end(copy);
    return s;
}

int checkObject(const void* object, int code, const char* format, const char* className, RegionStatus** status)
{
    RegionStatus* s = object ? ok() : fail(code, format, className);
    if (status)
        *status = s;
    return object ? 1 : 0;
}

StatusCopy::StatusCopy(const RegionStatus* s)
{
    error_ = RegionStatus_isError(s) != 0;
    if (!error_)
        return;
    code_ = s->code;
    if (s->message) {
        hasMessage_ = true;
        message_ = s->message;
    }
}

RegionStatus* StatusCopy::restore() const
{
    if (!error_)
        return ok();
    return failText(code_, hasMessage_ ? message_.c_str() : nullptr);
}

}  // namespace regionatlas

extern "C" {

void RegionStatus_init(void)
{
    if (gInitialised)
        return;
    gInitialised = true;
    std::sort(std::begin(gCodes), std::end(gCodes),
              [](const CodeRow& a, const CodeRow& b) { return a.code < b.code; });
}

int RegionStatus_set(RegionStatus** out, int isError, int code, const char* message)
{
    RegionStatus_init();
    if (!out)
        return 0;
    if (isError != 1) {
        *out = &gNoError;
        return 1;
    }
    // The message may be the record's own: copy it before the record's
    // message is freed.
    std::string copy;
    bool hasMessage = message && *message;
    bool stored = true;
    try {
        if (hasMessage)
            copy = message;
    } catch (const std::bad_alloc&) {
        hasMessage = false;
        stored = false;
    }
    std::free(gError.message);
    gError.message = nullptr;
    gError.flags = REGION_STATUS_ERROR;
    gError.code = code;
    if (code == 2)
        gError.flags |= REGION_STATUS_FATAL;
    if (!stored || (hasMessage && !RegionStatus_appendMessage(&gError, copy.c_str())))
        return 0;
    *out = &gError;
    return 1;
}

int RegionStatus_appendMessage(RegionStatus* status, const char* text)
{
    RegionStatus_init();
    if (!status || status == &gNoError || !text || !*text)
        return 0;
    if (!status->message) {
        status->message = regionatlas::copyText(text);
        return status->message != nullptr;
    }
    size_t old = std::strlen(status->message);
    // The text may lie inside the message itself, which growing moves.
    std::string own;
    auto at = reinterpret_cast<uintptr_t>(text);
    auto start = reinterpret_cast<uintptr_t>(status->message);
    if (at >= start && at <= start + old) {
        try {
            own = text;
        } catch (const std::bad_alloc&) {
            return 0;
        }
        text = own.c_str();
    }
    const char* joint = (old > 0 && status->message[old - 1] == '.') ? "\n" : ".\n";
    size_t add = std::strlen(text);
    size_t jl = std::strlen(joint);
    char* grown = static_cast<char*>(std::realloc(status->message, old + jl + add + 1));
    if (!grown)
        return 0;
    std::memcpy(grown + old, joint, jl);
    std::memcpy(grown + old + jl, text, add + 1);
    status->message = grown;
    return 1;
}

int RegionStatus_markFatal(RegionStatus* status)
{
    RegionStatus_init();
    if (status != &gError)
        return 0;
    gError.flags |= REGION_STATUS_FATAL;
    return 1;
}

int RegionStatus_isError(const RegionStatus* status)
{
    return status && (status->flags & REGION_STATUS_ERROR) ? 1 : 0;
}

int RegionStatus_getCode(const RegionStatus* status)
{
    return status ? status->code : 0;
}

const char* RegionStatus_getCodeText(const RegionStatus* status)
{
    RegionStatus_init();
    int code = status ? status->code : 0;
    auto it = std::lower_bound(std::begin(gCodes), std::end(gCodes), code,
                               [](const CodeRow& row, int c) { return row.code < c; });
    if (it == std::end(gCodes) || it->code != code)
        return "Unknown Error.";
    return it->text;
}

int RegionStatus_getMessageLines(const RegionStatus* status, char*** lines, int* count)
{
    RegionStatus_init();
    if (!status || !lines || !count)
        return 0;
    *lines = nullptr;
    *count = 0;
    const char* msg = status->message;
    if (!msg || !*msg)
        return 0;
    std::vector<std::string> pieces;
    try {
        const char* p = msg;
        while (*p) {
            const char* nl = std::strchr(p, '\n');
            if (nl) {
                pieces.emplace_back(p, static_cast<size_t>(nl - p + 1));
                p = nl + 1;
            } else {
                // A last piece without a newline always gets ".\n".
                pieces.emplace_back(std::string(p) + ".\n");
                break;
            }
        }
    } catch (const std::bad_alloc&) {
        return 0;
    }
    char** out = static_cast<char**>(std::malloc(pieces.size() * sizeof(char*)));
    if (!out)
        return 0;
    for (size_t i = 0; i < pieces.size(); ++i) {
        out[i] = regionatlas::copyText(pieces[i].c_str());
        if (!out[i]) {
            for (size_t j = 0; j < i; ++j)
                std::free(out[j]);
            std::free(out);
            return 0;
        }
    }
    *lines = out;
    *count = static_cast<int>(pieces.size());
    return 1;
}

RegionStatus* RegionStatus_outOfMemory(const char* what)
{
    char buffer[1024];
    std::snprintf(buffer, sizeof buffer, "Unable to allocate memory for new %s.", what ? what : "");
    return regionatlas::failText(7, buffer);
}

}  // extern "C"
