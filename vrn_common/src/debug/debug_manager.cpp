/* The debug manager: reads the debug control file once per process, opens
 * the debug log and tells each routine its trace levels.
 *
 * Control file (comment style 2, lines of up to 1023 characters):
 *
 *     <DEBUG>            rules "pattern = level", also in TEST, DISPLAY, TIME
 *     HashSet_ = 2
 *     </DEBUG>
 *     <LOGS>             MEMORY, ERROR, SESSION, DEBUG = file name
 *     error: errors.log
 *     </LOGS>
 *     <OPTIONS>          DisplayErrors = 0, 1 or 2
 *     DisplayErrors = 2
 *     </OPTIONS>
 */
#include "debug/debug_manager.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "errors/error.h"
#include "support/exit_handler.h"
#include "support/memory.h"
#include "support/system.h"
#include "utilities/regular_expression.h"
#include "utilities/source.h"

namespace {

constexpr int kLineSize = 1024;
constexpr int kRuleLists = 4;
const char* const kSectionNames[kRuleLists] = {"DEBUG", "TEST", "DISPLAY", "TIME"};
const char* const kRuleLine80 =
    "================================================================================\n";
const char* const kDashLine80 =
    "--------------------------------------------------------------------------------\n";
const char* const kDashLine70 =
    "----------------------------------------------------------------------\n";

struct Rule {
    char* name;                     /* the pattern text */
    RegularExpression* expression;
    int level;
    Rule* next;
};

struct RuleList {
    Rule* head;
    Rule* tail;
};

}  // namespace

struct vrnDebugManager {
    int active;
    FILE* stream;
    char* controlPath;
    char* logName;
    int displayErrors;
    RuleList rules[kRuleLists];
    char* memoryLogPath;
    char* errorLogPath;
    char* sessionFilePath;
};

namespace {

/* The singleton's life: made on first use, released by the exit handler,
 * never made again. */
enum class State { None, Creating, Ready, Released };

State g_state = State::None;
vrnDebugManager* g_manager = nullptr;
int g_active = 0;           /* g_manager has an open stream */
bool g_checking = false;    /* a vrnDebug_isActive call is making the manager */

/* A warning about the control file, kept until it can be published. */
struct HeldWarning {
    int line;
    std::string message;
};
std::vector<HeldWarning>* g_held = nullptr;

char* copyText(const char* text, const char* function) {
    if (!text) return nullptr;
    size_t len = std::strlen(text);
    auto* copy = static_cast<char*>(vrnMalloc(static_cast<int>(len + 1), function));
    std::memcpy(copy, text, len + 1);
    return copy;
}

void replaceText(char** target, const char* text, const char* function) {
    vrnFree(*target, function);
    *target = copyText(text, function);
}

/* Leading integer of a value, 0 when it does not start with one; clamped to
 * the int range. */
int parseLevel(const char* text) {
    errno = 0;
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (end == text) return 0;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

void publishWarning(const HeldWarning& warning) {
    vrnError* error = vrnError_new(VRN_W_INVALID_DATA_IGNORED, "vrnDebugManager_readControlFile",
                                   __FILE__, warning.line);
    vrnError_addMessage(error, "%s", warning.message.c_str());
    vrnError_display(error);
}

/* A warning about a bad control-file line, shown on the displays at once
 * whatever the warning level. While the manager is being made, the error
 * manager may itself be waiting for it, so the warning is held back until
 * the manager exists. */
void raiseWarning(int line, std::string message) {
    HeldWarning warning{line, std::move(message)};
    if (g_state == State::Creating) {
        if (!g_held) g_held = new std::vector<HeldWarning>();
        g_held->push_back(std::move(warning));
        return;
    }
    publishWarning(warning);
}

void publishHeldWarnings() {
    if (!g_held) return;
    std::vector<HeldWarning>* held = g_held;
    g_held = nullptr;
    for (const HeldWarning& warning : *held) publishWarning(warning);
    delete held;
}

void addRule(vrnDebugManager* manager, int list, const char* pattern, const char* levelText) {
    const char* message = nullptr;
    RegularExpression* expression = RegularExpression_compile(pattern, &message);
    if (!expression) {
        /* A hand-written file: a bad pattern costs its rule, not the process. */
        raiseWarning(__LINE__, "Invalid pattern in vrn.debug, the rule has been ignored.\n"
                               "Problem with rule: \"" + std::string(pattern) + "\"\n" +
                                   "regexp(3): " + (message ? message : "") + "\n");
        return;
    }
    auto* rule = static_cast<Rule*>(vrnCalloc(static_cast<int>(sizeof(Rule)), 0, "addRule"));
    rule->name = copyText(pattern, "addRule");
    rule->expression = expression;
    rule->level = parseLevel(levelText);
    RuleList& rules = manager->rules[list];
    if (rules.tail) rules.tail->next = rule;
    else rules.head = rule;
    rules.tail = rule;
}

void freeRules(RuleList& rules) {
    for (Rule* rule = rules.head; rule;) {
        Rule* next = rule->next;
        RegularExpression_delete(rule->expression);
        vrnFree(rule->name, "vrnDebugManager_delete");
        vrnFree(rule, "vrnDebugManager_delete");
        rule = next;
    }
    rules.head = rules.tail = nullptr;
}

/* Starts a memory monitor on path and retires the one installed before. */
void restartMemoryMonitor(const char* path) {
    MemoryMonitor* previous = vrnMemory_setMonitor(MemoryMonitor_new(path));
    if (previous) MemoryMonitor_delete(previous);
}

/* Reads the entries of one section up to its closing tag (or the end). */
void readSection(vrnDebugManager* manager, Source* source, char* line, const std::string& name) {
    char key[kLineSize];
    char value[kLineSize];
    int list = -1;
    for (int i = 0; i < kRuleLists; ++i) {
        if (name == kSectionNames[i]) list = i;
    }
    while (Source_getLine(source, line, kLineSize)) {
        if (Source_isCloseTag(line, name.c_str())) return;
        if (list >= 0) {
            Source_getValue(line, key, kLineSize, value, kLineSize);
            addRule(manager, list, key, value);
        } else if (name == "LOGS") {
            Source_getValueUpperKey(line, key, kLineSize, value, kLineSize);
            if (std::strcmp(key, "MEMORY") == 0) {
                replaceText(&manager->memoryLogPath, value, "vrnDebugManager_readControlFile");
                restartMemoryMonitor(value);
            } else if (std::strcmp(key, "ERROR") == 0) {
                replaceText(&manager->errorLogPath, value, "vrnDebugManager_readControlFile");
            } else if (std::strcmp(key, "SESSION") == 0) {
                replaceText(&manager->sessionFilePath, value, "vrnDebugManager_readControlFile");
            } else if (std::strcmp(key, "DEBUG") == 0) {
                replaceText(&manager->logName, value, "vrnDebugManager_readControlFile");
            }
        } else {  /* OPTIONS */
            Source_getValue(line, key, kLineSize, value, kLineSize);
            if (std::strcmp(key, "DisplayErrors") == 0) manager->displayErrors = parseLevel(value);
        }
    }
}

bool isKnownSection(const std::string& name) {
    for (const char* known : kSectionNames) {
        if (name == known) return true;
    }
    return name == "LOGS" || name == "OPTIONS";
}

void openLog(vrnDebugManager* manager) {
    if (const char* env = std::getenv("VRN_DEBUG_LOG")) {
        replaceText(&manager->logName, env, "vrnDebugManager_new");
    }
    if (!manager->logName) {
        manager->logName = copyText("stdout", "vrnDebugManager_new");
        manager->stream = stdout;
    } else if (std::strcmp(manager->logName, "stderr") == 0) {
        manager->stream = stderr;
    } else if (std::strcmp(manager->logName, "stdout") == 0) {
        manager->stream = stdout;
    } else {
        manager->stream = std::fopen(manager->logName, "we");
    }
    if (!manager->stream) {
        std::fprintf(stderr, "\n\nERROR: Unable to open debug logging file %s.\n", manager->logName);
        std::fprintf(stderr, "       Debug logging has not been activated.\n\n");
        manager->active = 0;
        return;
    }
    vrnDebugManager_printHeader(manager);
}

void releaseAtExit() {
    vrnDebugManager* manager = g_manager;
    g_manager = nullptr;
    g_active = 0;
    g_state = State::Released;
    vrnDebugManager_delete(manager);
    delete g_held;
    g_held = nullptr;
}

using AtExit = vrnExitHandler<releaseAtExit>;

}  // namespace

extern "C" {

vrnDebugManager* vrnDebugManager_new(void) {
    auto* manager = static_cast<vrnDebugManager*>(
        vrnCalloc(static_cast<int>(sizeof(vrnDebugManager)), 0, "vrnDebugManager_new"));
    if (const char* env = std::getenv("VRN_DEBUG_CONTROL")) {
        manager->controlPath = copyText(env, "vrnDebugManager_new");
    } else if (vrnFileExists("vrn.debug")) {
        manager->controlPath = copyText("vrn.debug", "vrnDebugManager_new");
    }
    manager->active = vrnDebugManager_readControlFile(manager);
    if (manager->active) openLog(manager);
    return manager;
}

int vrnDebugManager_readControlFile(vrnDebugManager* manager) {
    if (!manager || !manager->controlPath) return 0;
    Source* source = Source_newFile(manager->controlPath);
    if (!source) return 0;
    Source_setStyle(source, SOURCE_STYLE_HASH);

    char line[kLineSize];
    while (Source_getLine(source, line, kLineSize)) {
        int start = 0;
        int length = 0;
        if (Source_parseTag(line, &start, &length) != 1) {
            raiseWarning(__LINE__, "Incorrectly nested tags in vrn.debug.\nProblem with tag: \"" +
                                       std::string(line) + "\"\n");
            continue;
        }
        std::string name(line + start, static_cast<size_t>(length));
        if (isKnownSection(name)) {
            readSection(manager, source, line, name);
        } else {
            /* The tag as written: from its '<' to its '>' (or the line's end). */
            size_t from = static_cast<size_t>(start) - 1;
            size_t to = static_cast<size_t>(start + length);
            if (line[to] == '>') ++to;
            raiseWarning(__LINE__, "\"" + std::string(line + from, to - from) +
                                       "\" is an unrecognised tag.\n");
            skipTag(line, kLineSize, source);
        }
    }
    Source_delete(source);
    return 1;
}

void vrnDebugManager_printHeader(vrnDebugManager* manager) {
    if (!manager || !manager->stream) return;
    FILE* out = manager->stream;
    std::fputs(vrnStartBanner({"", "Started:", 16, "UNKNOWN", kRuleLine80}).c_str(), out);
    std::fflush(out);
}

void vrnDebugManager_delete(vrnDebugManager* manager) {
    if (!manager) return;
    if (manager == g_manager) {
        g_manager = nullptr;
        g_active = 0;
        g_state = State::Released;
    }
    if (manager->stream) {
        std::fflush(manager->stream);
        if (manager->stream != stdout && manager->stream != stderr) std::fclose(manager->stream);
    }
    for (RuleList& rules : manager->rules) freeRules(rules);
    vrnFree(manager->controlPath, "vrnDebugManager_delete");
    vrnFree(manager->logName, "vrnDebugManager_delete");
    vrnFree(manager->memoryLogPath, "vrnDebugManager_delete");
    vrnFree(manager->errorLogPath, "vrnDebugManager_delete");
    vrnFree(manager->sessionFilePath, "vrnDebugManager_delete");
    vrnFree(manager, "vrnDebugManager_delete");
}

vrnDebugManager* vrnDebugManager_get(void) {
    if (g_state == State::Ready) return g_manager;
    if (AtExit::hasRun()) return nullptr;
    if (g_state != State::None) return nullptr;
    g_state = State::Creating;
    vrnDebugManager* manager = vrnDebugManager_new();
    g_manager = manager;
    g_active = manager->active && manager->stream ? 1 : 0;
    AtExit::ensureRegistered();
    g_state = State::Ready;
    publishHeldWarnings();
    return g_manager;
}

void vrnDebugManager_getLevels(vrnDebugManager* manager, const char* routineName, int levels[4]) {
    for (int i = 0; i < kRuleLists; ++i) {
        int level = 0;
        if (manager && routineName) {
            for (Rule* rule = manager->rules[i].head; rule; rule = rule->next) {
                if (RegularExpression_exactMatch(rule->expression, routineName)) level = rule->level;
            }
        }
        levels[i] = level == 0 ? VRN_DEBUG_LEVEL_UNSET : level;
    }
}

FILE* vrnDebugManager_getStream(vrnDebugManager* manager) {
    return manager && manager->active ? manager->stream : nullptr;
}

int vrnDebugManager_getDisplayErrors(vrnDebugManager* manager) {
    return manager ? manager->displayErrors : 0;
}

const char* vrnDebugManager_getErrorLogName(vrnDebugManager* manager) {
    return manager ? manager->errorLogPath : nullptr;
}

const char* vrnDebugManager_getSessionFileName(vrnDebugManager* manager) {
    return manager ? manager->sessionFilePath : nullptr;
}

const char* vrnDebugManager_getMemoryLogName(vrnDebugManager* manager) {
    return manager ? manager->memoryLogPath : nullptr;
}

const char* vrnDebugManager_getLogName(vrnDebugManager* manager) {
    return manager ? manager->logName : nullptr;
}

int vrnDebug_isActive(void) {
    if (g_state == State::Ready) return g_active;
    if (g_state != State::None || g_checking) return 0;
    g_checking = true;
    vrnDebugManager_get();
    g_checking = false;
    return g_state == State::Ready ? g_active : 0;
}

FILE* vrnDebug_getStream(void) {
    return vrnDebug_isActive() ? g_manager->stream : nullptr;
}

void vrnDebug_printFunctionHeader(const char* routineName, const char* description,
                                  const int levels[4], int printLevels) {
    FILE* out = vrnDebug_getStream();
    if (!out || !levels) return;
    bool anySet = false;
    for (int i = 0; i < kRuleLists; ++i) {
        if (levels[i] != VRN_DEBUG_LEVEL_UNSET) anySet = true;
    }
    if (!anySet) return;

    std::fputs("\n", out);
    std::fputs(kDashLine80, out);
    std::fprintf(out, "%s:\n", routineName ? routineName : "");
    if (description) {
        for (int i = 0; i < 40; ++i) std::fputs("- ", out);
        std::fputs("\n", out);
        std::fprintf(out, "%s\n", description);
    }
    std::fputs(kDashLine80, out);
    std::fflush(out);

    if (printLevels == 1) {
        static const char* const labels[kRuleLists] = {
            "Debug level        = %d\n", "Self-testing level = %d\n",
            "Display level      = %d\n", "Timing level       = %d\n"};
        bool written = false;
        for (int i = 0; i < kRuleLists; ++i) {
            if (levels[i] == VRN_DEBUG_LEVEL_UNSET) continue;
            std::fprintf(out, labels[i], levels[i]);
            written = true;
        }
        if (written) std::fputs(kDashLine70, out);
        std::fflush(out);
    }
}

}  // extern "C"
