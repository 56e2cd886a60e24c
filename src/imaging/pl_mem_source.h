#pragma once

// A data source over a caller's memory block, which must outlive the source.

#include "imaging/pl_data_source.h"

class PLMemSource : public PLDataSource {
public:
    using PLDataSource::PLDataSource;
    ~PLMemSource() override { Close(); }

    // Presents size bytes at data under the name "Mem". Returns 0; a null block or a
    // negative size returns 4 and leaves the source closed.
    std::int32_t Open(const std::uint8_t* data, std::int32_t size);
};
