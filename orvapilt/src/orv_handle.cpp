// ORV handles: life cycle, the error slot and its message formatter, the
// debug traces, and loading arrays of lines through the line parser.
#include "orv_internal.h"

#include "utilities/md5.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

const char kPoison[] =
    "USE OF FREED MEMORY.  This string belongs to a orvapilt handle which has been destroyed.";

uintptr_t address(const void* p) { return reinterpret_cast<uintptr_t>(p); }

void freeText(void* text) { std::free(text); }

// Writes the formatted message into out (when given) and returns its length.
// Both passes walk the format the same way, so the text is sized exactly
// once however long its arguments are.
size_t formatPass(char* out, const char* format, va_list ap)
{
    size_t n = 0;
    auto put = [&](const char* s, size_t len) {
        if (out)
            std::memcpy(out + n, s, len);
        n += len;
    };
    for (const char* p = format; *p; ++p) {
        if (*p != '%') {
            put(p, 1);
            continue;
        }
        char conv = p[1];
        if (conv == '\0') {  // a trailing '%' stands for itself
            put(p, 1);
            break;
        }
        ++p;
        switch (conv) {
        case 's': {
            const char* s = va_arg(ap, const char*);
            if (!s)
                s = "(null)";
            put(s, std::strlen(s));
            break;
        }
        case 'd': {
            char buf[16];
            int len = std::snprintf(buf, sizeof buf, "%d", va_arg(ap, int));
            put(buf, static_cast<size_t>(len));
            break;
        }
        case 'c': {
            char c = static_cast<char>(va_arg(ap, int));
            put(&c, 1);
            break;
        }
        case '%':
            put("%", 1);
            break;
        default:  // unknown conversion: copied as it stands, one argument skipped
            (void)va_arg(ap, int);
            put(p - 1, 2);
            break;
        }
    }
    return n;
}

char* formatV(const char* format, va_list ap)
{
    va_list measure;
    va_copy(measure, ap);
    size_t n = formatPass(nullptr, format, measure);
    va_end(measure);
    char* out = static_cast<char*>(std::malloc(n + 1));
    if (!out)
        return orv::copyText(format);
    formatPass(out, format, ap);
    out[n] = '\0';
    return out;
}

void changeEntryAppend(OrvHandle* h, OrvChangeCallback cb, void* data)
{
    h->changeHandlers.push_back(OrvChangeEntry{data, cb});
}

}  // namespace

namespace orv {

char* copyText(const char* text)
{
    size_t n = std::strlen(text) + 1;
    char* copy = static_cast<char*>(std::malloc(n));
    if (copy)
        std::memcpy(copy, text, n);
    return copy;
}

bool debugEnabled() { return std::getenv("KWX_ORVAPI_DEBUG") != nullptr; }

void (*releaseErrorText)(void*) = freeText;

void poison(char* text)
{
    if (!text)
        return;
    size_t n = std::strlen(text);
    size_t k = n < sizeof kPoison - 1 ? n : sizeof kPoison - 1;
    std::memcpy(text, kPoison, k);
    std::memset(text + k, 0, n - k);
}

const char* orvSetErrorH(OrvHandle* handle, const char* format, ...)
{
    char* message;
    if (std::strchr(format, '%')) {
        va_list ap;
        va_start(ap, format);
        message = formatV(format, ap);
        va_end(ap);
    } else {
        message = copyText(format);
    }
    poison(handle->errorText);
    orv::releaseErrorText(handle->errorText);
    handle->errorText = message;
    const char* result = message ? message : format;
    if (debugEnabled())
        std::printf("%" PRIxPTR ": ORV ERROR: %s\n", address(handle), result);
    return result;
}

}  // namespace orv

extern "C" {

char* orvFormatMessage(const char* format, ...)
{
    if (!format)
        return nullptr;
    if (!std::strchr(format, '%'))
        return orv::copyText(format);
    va_list ap;
    va_start(ap, format);
    char* out = formatV(format, ap);
    va_end(ap);
    return out;
}

OrvHandle* orvCreateHandle(void)
{
    OrvHandle* h = new (std::nothrow) OrvHandle();
    if (!h)
        return nullptr;
    const bool debug = orv::debugEnabled();
    try {
        h->dirStack.push_back(orv::DirEntry{"/", nullptr, 0, {}});  // the bottom entry, never popped
        if (debug)
            changeEntryAppend(h, orvDebugChangePrinter, h);
    } catch (const std::bad_alloc&) {
        delete h;
        return nullptr;
    }
    if (debug) {
        std::printf("%" PRIxPTR ": *** created ***\n", address(h));
    }
    return h;
}

int orvDestroyHandle(OrvHandle* handle)
{
    if (!handle)
        return 0;
    // The address is written out before the handle goes.
    char where[2 * sizeof(uintptr_t) + 1];
    std::snprintf(where, sizeof where, "%" PRIxPTR, address(handle));
    std::vector<orv::DirEntry>().swap(handle->dirStack);
    orv::freeTree(handle->root);
    handle->root = nullptr;
    orvHashDestroy(handle->table);
    handle->table = nullptr;
    std::vector<OrvChangeEntry>().swap(handle->changeHandlers);
    std::vector<OrvActionEntry>().swap(handle->actionHandlers);
    std::vector<OrvReplaceEntry>().swap(handle->replaceHandlers);
    std::string().swap(handle->pending);
    std::vector<uint32_t>().swap(handle->flagStack);
    orv::poison(handle->errorText);
    orv::releaseErrorText(handle->errorText);
    handle->errorText = nullptr;
    if (handle->destroyCallback)
        handle->destroyCallback(handle->userData);
    delete handle;
    if (orv::debugEnabled())
        std::printf("%s: *** destroyed ***\n", where);
    return 0;
}

void orvSetUserDataH(OrvHandle* handle, void* userData, void (*destroy)(void*))
{
    if (!handle)
        return;
    handle->userData = userData;
    handle->destroyCallback = destroy;
}

void* orvGetUserDataH(const OrvHandle* handle) { return handle ? handle->userData : nullptr; }

const char* getORVStateH(OrvHandle* handle, int* depth)
{
    if (!handle || !depth)
        return "getORVStateH: Invalid arguments";
    *depth = handle->depth;
    return nullptr;
}

const char* orvUnwindToStateH(OrvHandle* handle, int depth)
{
    if (!handle)
        return "orvUnwindToStateH: Invalid arguments";
    if (depth < 0)
        depth = 0;
    while (handle->depth > depth) {
        handle->depth--;
        orv::popExact(handle);
    }
    return nullptr;
}

const char* parseORVData(OrvHandle* handle, const OrvArray* lines, uint32_t flags,
                         const unsigned char* previousDigest, unsigned char* digestOut)
{
    if (!handle || !lines || lines->kind != ORV_ARRAY_STRINGS || lines->count < 0 ||
        (lines->count > 0 && !lines->storage))
        return "parseORVData: Invalid arguments";
    char* const* text = static_cast<char* const*>(lines->storage);
    const int count = lines->count;
    for (int i = 0; i < count; ++i)
        if (!text[i])
            return "parseORVData: Invalid arguments";

    if (previousDigest || digestOut) {
        vrn::MD5 ctx;
        vrn::MD5Init(&ctx);
        for (int i = 0; i < count; ++i)
            vrn::MD5Update(&ctx, text[i], std::strlen(text[i]));
        unsigned char digest[16];
        vrn::MD5Final(digest, &ctx);
        if (digestOut)
            std::memcpy(digestOut, digest, 16);
        if (previousDigest && std::memcmp(previousDigest, digest, 16) == 0)
            flags |= ORV_FLAG_VALID1 | ORV_FLAG_VALID2;
    }

    if (!handle->table)
        handle->table = orvHashCreate(1);
    orvHashReserve(handle->table, static_cast<uint32_t>(count / 2));

    const int start = handle->depth;
    for (int i = 0; i < count; ++i) {
        if (const char* err = parseORVLineH(handle, text[i], flags)) {
            orvUnwindToStateH(handle, start);
            return err;
        }
    }
    if (handle->depth > start) {
        int missing = handle->depth - start;
        orvUnwindToStateH(handle, start);
        return orv::orvSetErrorH(handle, "%d missing END statement(s) in input", missing);
    }
    if (handle->depth < start)
        return orv::orvSetErrorH(handle, "%d too many END statement(s) in input", start - handle->depth);
    return nullptr;
}

const char* loadORVData(OrvHandle* handle, char** lines, int count,
                        const unsigned char* previousDigest, unsigned char* digestOut)
{
    if (!handle || !lines || count < 0)
        return "loadORVData: Invalid arguments";
    for (int i = 0; i < count; ++i)
        if (!lines[i])
            return "loadORVData: Invalid arguments";
    // The parser never changes its lines, so the caller's texts are read in
    // place rather than copied.
    OrvArray view{ORV_ARRAY_STRINGS, count, count, 0, lines};
    return parseORVData(handle, &view, 0, previousDigest, digestOut);
}

const char* loadORVDataH(OrvHandle* handle, char** lines, int count)
{
    return loadORVData(handle, lines, count, nullptr, nullptr);
}

}  // extern "C"
