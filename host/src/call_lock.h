// One exported call at a time. A host may call the exported operations from
// any thread; the runtime under them (the error manager, the live list of
// processes, the CGNS library) is single-threaded, so every exported
// operation holds this one process-wide lock for its whole run, and
// concurrent calls run one after another.
#pragma once

#include <mutex>

namespace ylt {
namespace VRNUtilities {
namespace detail {

inline std::mutex& exportedCallLock() {
    static std::mutex lock;
    return lock;
}

}  // namespace detail
}  // namespace VRNUtilities
}  // namespace ylt
