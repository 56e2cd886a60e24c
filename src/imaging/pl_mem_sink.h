#pragma once

// A data sink over a caller's buffer, which must outlive the sink.

#include "imaging/pl_data_sink.h"

class PLMemSink : public PLDataSink {
public:
    ~PLMemSink() override { Close(); }

    // Writes into maxSize bytes at data under the name "Mem". Returns 0; a null buffer or a
    // negative size returns 4 and leaves the sink closed.
    std::int32_t Open(std::uint8_t* data, std::int32_t maxSize);
};
