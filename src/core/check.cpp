#include "core/check.h"

#include <cstdio>
#include <cstdlib>

namespace orbelle_detail {

void CheckFailed(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
    std::abort();
}

}  // namespace orbelle_detail
