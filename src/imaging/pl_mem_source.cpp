#include "imaging/pl_mem_source.h"

#include "imaging/pl_text_exception.h"

std::int32_t PLMemSource::Open(const std::uint8_t* data, std::int32_t size) {
    Close();
    if (data == nullptr || size < 0) return PLErrFileNotFound;
    OpenBlock("Mem", data, size);
    return 0;
}
