#include <ctype.h>
#include <stdarg.h>
#include <string.h>

#include "errors/error_manager.h"
#include "process/command.h"
#include "support/cstring.h"
#include "support/memory.h"

namespace {

void store(Command* c, const char* argument) {
    if (c->m_noOfArguments == c->capacity) {
        c->capacity += 10;
        c->argv = static_cast<char**>(
            vrnRealloc(c->argv, c->capacity * static_cast<int>(sizeof(char*)), "Command_addArgument"));
    }
    c->argv[c->m_noOfArguments++] = vrnCString_clone(argument);
}

// 1 when the argument holds a '<' or '>' outside single and double quotes.
bool isRedirection(const char* a) {
    bool inDouble = false, inSingle = false;
    for (; *a; ++a) {
        if (*a == '"' && !inSingle) inDouble = !inDouble;
        else if (*a == '\'' && !inDouble) inSingle = !inSingle;
        else if ((*a == '<' || *a == '>') && !inDouble && !inSingle) return true;
    }
    return false;
}

void checkIndex(Command* c, int i, const char* function) {
    if (!c || !(i > -1 && i < c->m_noOfArguments))
        assert_flagError(function, __FILE__, __LINE__,
                         "i > -1 && i < this->m_noOfArguments");
}

}  // namespace

extern "C" {

Command* Command_new(Environment* environment, const char* name, int mode) {
    auto* c = static_cast<Command*>(vrnCalloc(sizeof(Command), 0, "Command_new"));
    c->name = vrnCString_clone(name);
    c->environment = environment;
    c->mode = environment ? VRN_COMMAND_LOOKUP : mode;
    switch (c->mode) {
    case VRN_COMMAND_LOOKUP:
        c->path = environment && name ? Environment_findCommand(environment, name) : nullptr;
        break;
    case VRN_COMMAND_SEARCH_PATH:
    case VRN_COMMAND_AS_GIVEN: c->path = vrnCString_clone(name); break;
    case VRN_COMMAND_LOCAL: c->path = vrnCString_merge("./", name ? name : "", nullptr); break;
    default: break;
    }
    c->capacity = 10;
    c->argv = static_cast<char**>(vrnMalloc(c->capacity * static_cast<int>(sizeof(char*)), "Command_new"));
    return c;
}

void Command_delete(Command* c) {
    if (!c) return;
    vrnCString_free(c->name);
    vrnCString_free(c->path);
    vrnCStringArray_free(c->argv, c->m_noOfArguments);
    vrnFree(c, "Command_delete");
}

int Command_addArguments(Command* c, ...) {
    va_list args;
    va_start(args, c);
    while (const char* a = va_arg(args, const char*)) Command_addArgument(c, a);
    va_end(args);
    return 1;
}

int Command_addArgument(Command* c, const char* argument) {
    if (!c || !argument) return 0;
    store(c, argument);
    if (c->redirectionArgs > 0 || isRedirection(argument)) c->redirectionArgs++;
    else c->plainArgs++;
    return 1;
}

int Command_addPlainArgument(Command* c, const char* argument) {
    if (!c || !argument || c->redirectionArgs > 0) return 0;
    store(c, argument);
    c->plainArgs++;
    return 1;
}

char* Command_getPath(Command* c) { return c ? vrnCString_clone(c->path) : nullptr; }

int Command_isSearchPath(Command* c) { return c && c->mode == VRN_COMMAND_SEARCH_PATH ? 1 : 0; }

int Command_getNoOfArguments(Command* c) { return c ? c->plainArgs : 0; }

char* Command_getArgument(Command* c, int i) {
    checkIndex(c, i, "Command_getArgument");
    return vrnCString_clone(c->argv[i]);
}

char* Command_getQuotedArgument(Command* c, char quote, int i) {
    checkIndex(c, i, "Command_getQuotedArgument");
    const char* a = c->argv[i];
    for (const char* p = a; *p; ++p) {
        if (isspace(static_cast<unsigned char>(*p))) {
            char q[2] = {quote, '\0'};
            return vrnCString_merge(q, a, q, nullptr);
        }
    }
    return vrnCString_clone(a);
}

}  // extern "C"
