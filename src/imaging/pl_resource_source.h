#pragma once

// A data source over a resource compiled into a program module. This platform has no module
// resources, so every open reports the resource as not found.

#include "imaging/pl_data_source.h"

class PLResourceSource : public PLDataSource {
public:
    ~PLResourceSource() override { Close(); }

    // Looks up resource id of the given type (raw data when type is null) in module. Returns
    // 4 (not found) on this platform, leaving the source closed.
    std::int32_t Open(const void* module, std::int32_t id, const char* type);
};
