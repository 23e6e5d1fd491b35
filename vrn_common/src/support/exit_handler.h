/* The exit handler of a process-wide manager (error manager, debug manager,
 * session journal): registered with atexit once, on the manager's first
 * make, and the one place that says whether it has run. After it has run a
 * manager answers as "off" instead of being made again. C++ only. */
#ifndef VRN_SUPPORT_EXIT_HANDLER_H
#define VRN_SUPPORT_EXIT_HANDLER_H

#include <cstdlib>

#include "support/memory.h"

/* Release is the manager's own clean-up; each manager instantiates this
 * with its own, so that each has its own flags. */
template <void (*Release)()>
class vrnExitHandler {
public:
    /* Registers the handler the first time; later calls do nothing. */
    static void ensureRegistered() {
        if (registered_) return;
        registered_ = true;
        std::atexit(run);
    }
    /* True once the handler has run (the process is ending). */
    static bool hasRun() { return ran_; }

private:
    static void run() {
        vrnMemory_markExiting();
        ran_ = true;
        Release();
    }
    static inline bool registered_ = false;
    static inline bool ran_ = false;
};

#endif
