#pragma once

// Assertions for programmer errors: broken invariants and internal misuse. Never used for
// file contents or user input, which get the system's own errors instead.
//
// ORBELLE_CHECK is always on; ORBELLE_DCHECK only in builds without NDEBUG, for hot loops.

namespace orbelle_detail {
[[noreturn]] void CheckFailed(const char* condition, const char* file, int line);
}  // namespace orbelle_detail

#define ORBELLE_CHECK(condition)                                                \
    do {                                                                        \
        if (!(condition)) {                                                     \
            ::orbelle_detail::CheckFailed(#condition, __FILE__, __LINE__);      \
        }                                                                       \
    } while (false)

#ifdef NDEBUG
#define ORBELLE_DCHECK(condition) \
    do {                          \
    } while (false && (condition))
#else
#define ORBELLE_DCHECK(condition) ORBELLE_CHECK(condition)
#endif
