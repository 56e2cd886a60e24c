#include "imaging/pl_resource_source.h"

#include "imaging/pl_text_exception.h"

std::int32_t PLResourceSource::Open(const void* /*module*/, std::int32_t /*id*/,
                                    const char* /*type*/) {
    Close();
    return PLErrFileNotFound;
}
