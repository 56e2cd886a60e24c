#include "imaging/pl_mem_sink.h"

#include "imaging/pl_text_exception.h"

std::int32_t PLMemSink::Open(std::uint8_t* data, std::int32_t maxSize) {
    Close();
    if (data == nullptr || maxSize < 0) return PLErrFileNotFound;
    OpenBlock("Mem", data, maxSize);
    return 0;
}
