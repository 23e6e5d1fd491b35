// Change, replace and action handlers, action lines and the debug change
// printer.
#include "orv_internal.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>

extern "C" {

const char* orvAddChangeHandler(OrvHandle* handle, OrvChangeCallback callback, void* userData)
{
    if (!handle || !callback)
        return "unable to allocate memory for change handler list";
    try {
        handle->changeHandlers.push_back(OrvChangeEntry{userData, callback});
    } catch (const std::bad_alloc&) {
        return "unable to allocate memory for change handler list";
    }
    return nullptr;
}

const char* orvAddReplaceHandler(OrvHandle* handle, OrvReplaceCallback callback, void* userData)
{
    if (!handle || !callback)
        return "unable to allocate memory for replace handler list";
    try {
        handle->replaceHandlers.push_back(OrvReplaceEntry{userData, callback});
    } catch (const std::bad_alloc&) {
        return "unable to allocate memory for replace handler list";
    }
    return nullptr;
}

const char* orvAddActionHandler(OrvHandle* handle, OrvActionCallback callback, const char* name,
                                void* userData)
{
    if (!handle || !callback)
        return "unable to allocate memory for action handler list";
    try {
        handle->actionHandlers.push_back(
            OrvActionEntry{callback, name ? std::string(name) : std::string(), name != nullptr, userData});
    } catch (const std::bad_alloc&) {
        return "unable to allocate memory for action handler list";
    }
    return nullptr;
}

// Handlers are called by index up to the count at the start, so one that
// adds handlers neither moves the list under the loop nor extends this round.
void orvNotifyChange(OrvHandle* handle, const char* path, int code, const char* newValue,
                     const char* oldValue)
{
    if (!handle)
        return;
    const size_t n = handle->changeHandlers.size();
    for (size_t i = 0; i < n && i < handle->changeHandlers.size(); ++i) {
        OrvChangeEntry e = handle->changeHandlers[i];
        e.callback(path, code, newValue, oldValue, e.userData);
    }
}

void orvNotifyReplace(OrvHandle* handle, const char* path)
{
    if (!handle)
        return;
    const size_t n = handle->replaceHandlers.size();
    for (size_t i = 0; i < n && i < handle->replaceHandlers.size(); ++i) {
        OrvReplaceEntry e = handle->replaceHandlers[i];
        e.callback(path, e.userData);
    }
}

const char* orvInvokeAction(OrvHandle* handle, const char* action, char** argv)
{
    const char* const kNoHandler = "no handler was found for action line";
    if (!handle || !action || handle->actionHandlers.empty())
        return kNoHandler;
    const OrvActionEntry* chosen = nullptr;
    const OrvActionEntry* fallback = nullptr;
    for (const OrvActionEntry& e : handle->actionHandlers) {
        if (!e.hasName) {
            fallback = &e;
        } else if (e.name == action) {
            chosen = &e;
            break;
        }
    }
    if (!chosen)
        chosen = fallback;
    if (!chosen)
        return kNoHandler;
    // Copied before the call: the handler may add handlers.
    OrvActionCallback callback = chosen->callback;
    void* userData = chosen->userData;
    if (!callback(handle, action, argv, userData))
        return "action invocation returned with error status";
    return nullptr;
}

// ">name rest": the name runs to the first white space; everything after the
// white space that follows it is the single argument.
const char* orvRunActionLine(OrvHandle* handle, const char* line)
{
    if (!handle || !line)
        return "orvRunActionLine: Memory allocation error";
    std::string copy;
    try {
        copy = line;
    } catch (const std::bad_alloc&) {
        return "orvRunActionLine: Memory allocation error";
    }
    char* p = &copy[0];
    while (*p == '>')
        ++p;
    while (orv::isSpace(static_cast<unsigned char>(*p)))
        ++p;
    char* name = p;
    while (*p && !orv::isSpace(static_cast<unsigned char>(*p)))
        ++p;
    char* argv[2] = {nullptr, nullptr};
    char** args = nullptr;
    if (*p) {
        *p++ = '\0';
        while (orv::isSpace(static_cast<unsigned char>(*p)))
            ++p;
        argv[0] = p;
        args = argv;
    }
    return orvInvokeAction(handle, name, args);
}

void orvDebugChangePrinter(const char* path, int code, const char* newValue, const char* oldValue,
                           void* userData)
{
    uintptr_t h = reinterpret_cast<uintptr_t>(userData);
    switch (code) {
    case ORV_CHANGE_VALUE:
        std::printf("%" PRIxPTR ": %s: %s <- %s\n", h, path ? path : "(nul)",
                    newValue ? newValue : "(nul)", oldValue ? oldValue : "(nul)");
        break;
    case ORV_CHANGE_CREATED:
        std::printf("%" PRIxPTR ": %s: object created\n", h, path ? path : "(nul)");
        break;
    case ORV_CHANGE_DELETED:
        std::printf("%" PRIxPTR ": %s: object deleted\n", h, path ? path : "(nul)");
        break;
    default:
        std::printf("*** Unknown change code %d\n", code);
        break;
    }
}

}  // extern "C"
